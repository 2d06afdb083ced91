#!/usr/bin/env bash
# Builds everything: the Windows programs (launcher, packaging tool, stand-in
# client, unit tests) with mingw-w64, and the Linux packaging tool. Progress
# goes to stderr; the one line on stdout is the build tree.
set -euo pipefail
. "$(dirname "$0")/common.sh"
"$repo/scripts/setup.sh" >&2
build_root=${VELMAR_BUILD_ROOT:-$(default_build_root)}
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

configure() {  # dir, extra args...
  local dir=$1; shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$dir" "${generator[@]}" -DVELMAR_DEPS_DIR="$deps_dir" "$@" >&2
  fi
}
configure "$build_root/win" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake"
configure "$build_root/host"
cmake --build "$build_root/win" --parallel 2 >&2
cmake --build "$build_root/host" --parallel 2 >&2
# Wine runs as an unprivileged user, which must read what was built.
chmod -R a+rX "$build_root" "$repo/dist" 2>/dev/null || true
echo "$build_root"
