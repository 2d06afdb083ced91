#!/usr/bin/env bash
# Packing time and package size of two folders, velmar-pack on one thread and
# on every core, against Info-ZIP's "zip -r -q" (deflates everything) and
# "zip -r -q -n" (stores media and archives). Not a test: it prints figures.
#   reference  the launch benchmark's reference payload as a folder
#              (bench/make_payloads.py): 1,957 files, 38 MB, most of them
#              small html pages, with stored media, images and a zip
#   media      a folder of about 1.5 GB of incompressible "video" files and
#              some text, or MEDIA_FOLDER when given
# Each is packed RUNS times (default 5; the media folder, which zip -r -q
# takes a minute to deflate, at most twice), interleaved; the table shows the median wall time [min-max], the
# size and the speed-up over velmar-pack --threads 1, then whether one thread
# and every core gave the same bytes.
# VELMAR_PACK_BEFORE=PATH adds the figures of an earlier velmar-pack build.
# Usage: benchmark-pack.sh [RUNS [MEDIA_FOLDER]]
set -euo pipefail
. "$(dirname "$0")/common.sh"
runs=${1:-5}
pack=${VELMAR_PACK:-$repo/dist/velmar-pack}
stub=${VELMAR_LAUNCHER_STUB:-$repo/dist/velmar-launcher.exe}
work=$(mktemp -d /var/tmp/velmar-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cores=$(nproc)

payloads=$work/payloads
python3 "$repo/bench/make_payloads.py" "$payloads" "$repo/dist/velmar-client-standin.exe" 2>/dev/null
mkdir "$work/reference"
(cd "$work/reference" && unzip -q "$payloads/reference.zip")

media=${2:-}
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

results=$work/results.txt
: >"$results"
measure() {  # folder label, tool label, output file, command...
  local folder=$1 label=$2 out=$3; shift 3
  rm -f "$out"
  sync
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$folder|$label|$(echo "$end - $start" | bc)|$(stat -c %s "$out")" >>"$results"
}
run_all() {  # folder label, folder
  local name=$1 folder=$2 o=$work/out-$1
  measure "$name" "velmar-pack --threads 1" "$o-1.exe" \
    "$pack" -q --threads 1 --launcher "$stub" --locale en_US -o "$o-1.exe" "$folder"
  measure "$name" "velmar-pack ($cores threads)" "$o-n.exe" \
    "$pack" -q --launcher "$stub" --locale en_US -o "$o-n.exe" "$folder"
  measure "$name" "velmar-pack --level 9" "$o-9.exe" \
    "$pack" -q --level 9 --launcher "$stub" --locale en_US -o "$o-9.exe" "$folder"
  if [ -n "${VELMAR_PACK_BEFORE:-}" ]; then  # an earlier build, for comparison
    measure "$name" "velmar-pack (before)" "$o-b.exe" "$VELMAR_PACK_BEFORE" -q \
      --launcher "$stub" --locale en_US --payload "$folder" --output "$o-b.exe"
  fi
  (cd "$folder" && measure "$name" "zip -r -q" "$o.zip" zip -r -q "$o.zip" .)
  (cd "$folder" && measure "$name" "zip -r -q -n (media stored)" "$o-n.zip" \
    zip -r -q -n .mp4:.jpg:.zip "$o-n.zip" .)
  if cmp -s "$o-1.exe" "$o-n.exe"; then
    echo "$name|same bytes on 1 and $cores threads" >>"$work/same.txt"
  else
    echo "$name|DIFFERENT bytes on 1 and $cores threads" >>"$work/same.txt"
  fi
}

echo "packing: reference $(du -sb "$work/reference" | cut -f1) bytes," \
     "media $(du -sb "$media" | cut -f1) bytes; $runs runs, $cores cores" >&2
for i in $(seq "$runs"); do
  run_all reference "$work/reference"
  if [ "$i" -le 2 ]; then run_all media "$media"; fi
done

python3 - "$results" "$work/same.txt" "$(stat -c %s "$stub")" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    folder, label, seconds, size = line.strip().split("|")
    rows.setdefault((folder, label), []).append((float(seconds), int(size)))
print("Packing benchmark: wall time in s (median [min-max]), output size in bytes")
print(f"{'folder':<10} {'tool':<30} {'time':>22} {'bytes':>14} {'vs --threads 1':>14}")
for folder in dict.fromkeys(f for f, _ in rows):
    one = statistics.median(t for t, _ in rows[(folder, "velmar-pack --threads 1")])
    for (f, label), values in rows.items():
        if f != folder:
            continue
        times = [t for t, _ in values]
        median = statistics.median(times)
        span = f"{median:.3f} [{min(times):.3f}-{max(times):.3f}]"
        print(f"{folder:<10} {label:<30} {span:>22} {values[-1][1]:>14} {one / median:>13.2f}x")
verdicts = {}
for line in open(sys.argv[2]):
    folder, verdict = line.strip().split("|")
    verdicts.setdefault(folder, set()).add(verdict)
for folder, verdict in verdicts.items():
    print(f"{folder}: " + " / ".join(sorted(verdict)) + " (each run compared)")
print(f"velmar-pack sizes include the launcher stub ({sys.argv[3]} bytes)")
PY
