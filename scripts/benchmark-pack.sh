#!/usr/bin/env bash
# Packing time and package size for a folder of media, against Info-ZIP's
# "zip -r -q" (deflates everything) and "zip -r -q -n" (stores media). Not a
# test: it prints figures.
# VELMAR_PACK_BEFORE=PATH adds the figures of an earlier velmar-pack build.
# Usage: benchmark-pack.sh [MEDIA_FOLDER]   (without one, a folder of about
# 1.5 GB of incompressible "video" files and some text is made and removed)
set -euo pipefail
. "$(dirname "$0")/common.sh"
pack=${VELMAR_PACK:-$repo/dist/velmar-pack}
stub=${VELMAR_LAUNCHER_STUB:-$repo/dist/velmar-launcher.exe}
work=$(mktemp -d /var/tmp/velmar-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

media=${1:-}
if [ -z "$media" ]; then
  media=$work/media
  mkdir -p "$media/bin" "$media/properties" "$media/video" "$media/slides"
  cp "$repo/dist/velmar-client-standin.exe" "$media/bin/velmar.exe"
  printf 'url=%%local%%\n' > "$media/properties/offlineplayback.pbcf"
  for i in $(seq 1 12); do
    head -c 120000000 /dev/urandom > "$media/video/part$i.mp4"
  done
  for i in $(seq 1 40); do
    head -c 1000000 /dev/urandom > "$media/slides/slide$i.jpg"
    seq 1 20000 | sed "s/^/slide $i line /" > "$media/slides/slide$i.txt"
  done
fi
echo "media folder: $media ($(du -sb "$media" | cut -f1) bytes)"

measure() {  # label, output file, command...
  local label=$1 out=$2; shift 2
  sync
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  printf '%-28s %8.2f s %14d bytes\n' "$label" "$(echo "$end - $start" | bc)" "$(stat -c %s "$out")"
}

measure "velmar-pack" "$work/pkg.exe" \
  "$pack" -q --launcher "$stub" --locale en_US -o "$work/pkg.exe" "$media"
measure "velmar-pack --level 9" "$work/pkg9.exe" \
  "$pack" -q --level 9 --launcher "$stub" --locale en_US -o "$work/pkg9.exe" "$media"
if [ -n "${VELMAR_PACK_BEFORE:-}" ]; then  # an earlier build, for comparison
  measure "velmar-pack (before)" "$work/before.exe" "$VELMAR_PACK_BEFORE" --launcher "$stub" \
    --locale en_US --payload "$media" --output "$work/before.exe"
fi
(cd "$media" && measure "zip -r -q" "$work/all.zip" zip -r -q "$work/all.zip" .)
(cd "$media" && measure "zip -r -q -n (media stored)" "$work/n.zip" \
  zip -r -q -n .mp4:.jpg "$work/n.zip" .)
echo "velmar-pack sizes include the launcher stub ($(stat -c %s "$stub") bytes)"
