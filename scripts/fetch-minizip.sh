#!/usr/bin/env bash
# Fetches the zlib source package (for minizip's unzip and zip parts) with apt's
# source download. The deb-src list is derived from the machine's own apt sources,
# so no host name is written into this repository.
set -euo pipefail
dest=${1:?usage: fetch-minizip.sh DEST}
[ -f "$dest/contrib/minizip/unzip.c" ] && exit 0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/sources.d" "$work/lists/partial"
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  sed 's/^Types:.*/Types: deb-src/' "$f" >"$work/sources.d/$(basename "$f")"
done
if [ -f /etc/apt/sources.list ]; then
  grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' >"$work/sources.list" || true
else
  : >"$work/sources.list"
fi
opts=(-o APT::Sandbox::User=root -o Dir::Etc::SourceParts="$work/sources.d" -o Dir::Etc::SourceList="$work/sources.list"
      -o Dir::State::Lists="$work/lists")
apt-get "${opts[@]}" update -q >/dev/null
# The security archive's source pool is not served here: ask for the release's own source.
(cd "$work" && apt-get "${opts[@]}" source --download-only -q zlib/bookworm >/dev/null)
dsc=$(ls "$work"/zlib_*.dsc | head -n 1)
rm -rf "$work/src"
dpkg-source --no-check -x "$dsc" "$work/src" >/dev/null
mkdir -p "$(dirname "$dest")"
rm -rf "$dest"
mv "$work/src" "$dest"
test -f "$dest/contrib/minizip/unzip.c"
