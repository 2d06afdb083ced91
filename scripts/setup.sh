#!/usr/bin/env bash
# Installs what the build and the tests need, once: Debian packages, the
# unprivileged Wine user, and the zlib source package for minizip.
set -euo pipefail
. "$(dirname "$0")/common.sh"

packages=(cmake g++ make python3 zlib1g-dev dpkg-dev googletest
          g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 libz-mingw-w64-dev
          wine64 wine xvfb gcab zip unzip clang-format clang-tidy ccache git
          osslsigncode openssl p7zip-full
          clang-14 libfuzzer-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages (run as root to install): ${missing[*]}" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  apt-get update -q >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >/dev/null
fi

ensure_wine_user

if [ ! -f "$deps_dir/zlib-src/contrib/minizip/unzip.c" ]; then
  echo "setup: fetching the zlib source package for minizip"
  mkdir -p "$deps_dir"
  "$repo/scripts/fetch-minizip.sh" "$deps_dir/zlib-src"
fi
