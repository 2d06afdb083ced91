#!/usr/bin/env bash
# Launch benchmark: times a real launch of three packages against the I/O
# floor (bench/bench_floor.cpp: copy the archive out in large blocks, extract
# it with minizip and zlib, nothing else) and against the floor that then
# starts the payload's client as a launch must ("floor+start"), side by side
# under the same Wine with one persistent wineserver, and prints median, min
# and max wall time, the ratios and the peak working set of each. A second
# table times the launch with a simulated scan on close (BENCH_SCAN_MS per
# close of an extracted file, default 2: an on-access scanner such as Windows
# Defender scans a new file when it is closed, and the close waits) with the
# closes on the pool of threads and on the extracting thread, beside the
# plain launch and, with BENCH_LAUNCHER_BEFORE=STUB, the launch of an earlier
# launcher stub (the same payload packed with it).
# Usage: scripts/bench.sh [RUNS [PAYLOAD...]]   (runs per payload and program,
# default 9; payloads reference, media, onefile, default all three). The
# one-file payload takes a few tens of milliseconds, where a scheduling hiccup
# weighs as much as the launch itself: it gets four times the runs.
# On a busy machine the wall times swing widely: use more runs there.
# Payloads and packages are kept in the build tree and reused.
# Not a test: nothing here fails on slow figures.
set -euo pipefail
. "$(dirname "$0")/common.sh"
runs=${1:-9}
[ $# -gt 0 ] && shift
selected=("$@")
build_root=$("$repo/scripts/build.sh" | tail -n 1)
win=$build_root/win
payloads=$build_root/bench
python3 "$repo/bench/make_payloads.py" "$payloads" "$repo/dist/velmar-client-standin.exe"

home=$(getent passwd "$wine_user" | cut -d: -f6)
prefix=${VELMAR_WINEPREFIX:-$home/.wine-velmar}
export VELMAR_WINEPREFIX=$prefix
"$repo/scripts/wine-run.sh" --init && "$repo/scripts/wine-run.sh" --stop >/dev/null 2>&1 || true
profile=$prefix/drive_c/users/$wine_user
work=$profile/velmar-bench
offplay=$profile/Temp/OffPlay
rm -rf "$work"
mkdir -p "$work"
cp "$win/bench/velmar-bench-floor.exe" "$win/bench/velmar-bench-starter.exe" "$work/"

names=(reference media onefile)
[ ${#selected[@]} -gt 0 ] && names=("${selected[@]}")
# What is measured, each in turn: the floor, the floor that starts the client,
# the launch, and the benchmark's launcher with the simulated scan on close,
# closing on the extracting thread (main) and on the pool.
kinds=(floor start launch scan-main scan-pool)
scan_ms=${BENCH_SCAN_MS:-2}
stubs=(launch:"$repo/dist/velmar-launcher.exe" scan:"$win/bench/velmar-launcher-scan.exe")
if [ -n "${BENCH_LAUNCHER_BEFORE:-}" ]; then
  kinds+=(before)
  stubs+=(before:"$BENCH_LAUNCHER_BEFORE")
fi
declare -A offset
for name in "${names[@]}"; do
  for stub in "${stubs[@]}"; do
    suffix=${stub%%:*}
    [ "$suffix" = launch ] && suffix= || suffix=-$suffix
    "$repo/dist/velmar-pack" --launcher "${stub#*:}" --locale en_US \
      --payload "$payloads/$name.zip" --output "$work/$name$suffix.exe" >/dev/null
  done
  offset[$name]=$("$repo/dist/velmar-pack" --inspect "$work/$name.exe" |
                  sed -n 's/^ *archive offset[: ]*\([0-9]*\).*/\1/p')
done
chown -R "$wine_user:" "$work" 2>/dev/null || true

# On a shared machine the other processes' load swamps the figures: as root,
# the measured programs (and their wineserver) run at a raised priority,
# BENCH_NICE (default -10; 0 keeps the normal one).
bench_nice=${BENCH_NICE:--10}
# Wine answers many calls with a round trip to the wineserver. On a virtual
# machine a round trip between two CPUs costs a wake-up of the other one, and
# how many of them a program meets depends on where the scheduler puts it: the
# figures of a short program then spread by a factor of five. The measured
# programs and their wineserver all run on one CPU, BENCH_CPU (default the
# last one; empty lets them run anywhere).
bench_cpu=${BENCH_CPU-$(($(nproc) - 1))}
as_user() {  # runs a command as the Wine user in the benchmark's prefix
  local run=()
  [ -n "$bench_cpu" ] && run=(taskset -c "$bench_cpu")
  [ "$(id -u)" = 0 ] && run+=(nice -n "$bench_nice" runuser -u "$wine_user" --)
  "${run[@]}" env HOME="$home" USER="$wine_user" LOGNAME="$wine_user" \
    WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    TZ="${VELMAR_TZ:-Asia/Kolkata}" DISPLAY= "$@"
}
as_user wineserver -p
trap 'as_user wineserver -k >/dev/null 2>&1 || true; rm -rf "$work" "$offplay"' EXIT

w='C:\users\'"$wine_user"'\velmar-bench'
# The raw figures stay in the build tree, one line per measurement.
results=$payloads/results.txt
: >"$results"
# A started client runs on after the program that started it has ended: the
# next measurement waits for it, so that it never runs beside the next program
# (which would weigh on whichever kind happens to come next).
wait_for_clients() {
  local i
  for i in $(seq 100); do
    pgrep -u "$wine_user" -f 'bin.launcher\.exe' >/dev/null || return 0
    sleep 0.05
  done
}
# On a virtual machine, memory that a program has freed goes back to the host
# after a second or two, and the next program to take it pays for it again,
# page by page: a payload written at once after the last one runs in half the
# time of one written after a pause, and which program of a pair meets which
# state is chance. Before each measurement the benchmark has memory taken and
# given back (four times the payload, plus 64 MiB), so that every program
# starts with the same memory at hand. BENCH_WARM=0 leaves this out.
warm_memory() {  # payload
  [ "${BENCH_WARM:-1}" = 0 ] && return 0
  local mib=$(($(stat -c %s "$payloads/$1.zip") * 4 / 1048576 + 64))
  dd if=/dev/zero of=/dev/null bs="${mib}M" count=1 2>/dev/null || true
}
measure() {  # payload, kind
  local name=$1 kind=$2 line
  wait_for_clients
  # Every program writes into an empty place: the floor's archive copy goes
  # too, or the floor would write over its last copy and reuse the memory
  # that held it. A client that is just ending may still write its report
  # meanwhile.
  local outputs=("$offplay" "$work/out" "$work/copy.zip")
  rm -rf "${outputs[@]}" 2>/dev/null || { sleep 0.5; rm -rf "${outputs[@]}"; }
  sync -f "$work" 2>/dev/null || true
  warm_memory "$name"
  if [ "$kind" = floor ]; then
    line=$(as_user wine "$work/velmar-bench-starter.exe" "$w\\velmar-bench-floor.exe" \
           "$w\\$name.exe" "${offset[$name]}" "$w\\copy.zip" "$w\\out")
  elif [ "$kind" = start ]; then
    line=$(as_user wine "$work/velmar-bench-starter.exe" "$w\\velmar-bench-floor.exe" \
           "$w\\$name.exe" "${offset[$name]}" "$w\\copy.zip" "$w\\out" 'bin\launcher.exe')
  elif [ "$kind" = launch ]; then
    line=$(as_user wine "$work/velmar-bench-starter.exe" "$w\\$name.exe")
  elif [ "$kind" = before ]; then
    line=$(as_user wine "$work/velmar-bench-starter.exe" "$w\\$name-before.exe")
  else
    local close=pool
    [ "$kind" = scan-main ] && close=main
    line=$(as_user env VELMAR_BENCH_SCAN_MS="$scan_ms" VELMAR_BENCH_CLOSE=$close \
           wine "$work/velmar-bench-starter.exe" "$w\\$name-scan.exe")
  fi
  echo "$name $kind $line" >>"$results"
}
check() {  # payload: both programs wrote every file of the payload
  local name=$1 want got_floor got_launch
  want=$(python3 -c 'import sys, zipfile
z = zipfile.ZipFile(sys.argv[1]); n = sum(not i.is_dir() for i in z.infolist())
import io
for i in z.infolist():
    if i.filename.endswith(".zip"):
        n += sum(not j.is_dir() for j in zipfile.ZipFile(io.BytesIO(z.read(i))).infolist())
print(n)' "$payloads/$name.zip")
  measure "$name" start
  measure "$name" floor
  # The started client leaves its report beside its folder: not a payload file.
  got_floor=$(find "$work/out" -type f ! -name client_report.txt | wc -l)
  for kind in "${kinds[@]:2}"; do
    measure "$name" "$kind"
    got_launch=$(find "$offplay" -mindepth 2 -type f ! -name client_report.txt | wc -l)
    if [ "$got_floor" != "$want" ] || [ "$got_launch" != "$want" ]; then
      echo "bench: $name: $want files expected, the floor wrote $got_floor, $kind $got_launch" >&2
      exit 1
    fi
  done
}

echo "warming up and checking the output of both programs ..." >&2
for name in "${names[@]}"; do check "$name"; done
: >"$results"
for name in "${names[@]}"; do
  count=$runs
  [ "$name" = onefile ] && count=$((runs * 4))
  echo "$name: $count runs each, interleaved ..." >&2
  for i in $(seq "$count"); do
    # A new order each round (the same on every run of the script), so that
    # drift in the machine's load, and what the program before left in
    # memory and in the page cache, hit all alike.
    for kind in $(python3 -c 'import random, sys
kinds = sys.argv[2:]; random.Random(sys.argv[1]).shuffle(kinds); print(*kinds)' "$name$i" "${kinds[@]}"); do
      measure "$name" "$kind"
    done
  done
done

python3 - "$results" "$runs" "$payloads" "$scan_ms" "${names[@]}" <<'PY'
import os, statistics, sys
rows = {}
for line in open(sys.argv[1]):
    name, kind, *fields = line.split()
    values = dict(f.split("=") for f in fields)
    if values["exit"] != "0":
        sys.exit(f"bench: {name} {kind} exited with {values['exit']}")
    rows.setdefault((name, kind), []).append((float(values["wall_ms"]), int(values["peak_kib"])))
print(f"Launch benchmark: {sys.argv[2]} runs per program (onefile: four times as many), "
      f"wall time in ms (median [min-max]), peak working set in MiB")
print("floor: copy-out and unzip; floor+start: the same, then the client started; "
      "ratio: median launch / median of that floor; launch-floor: difference of the medians; "
      "min ratio: fastest / fastest")
print(f"{'payload':<10} {'size MB':>8} {'floor':>20} {'floor+start':>20} {'launch':>20}"
      f" {'ratio':>6} {'launch-floor':>12} {'ratio+start':>11} {'launch-(f+s)':>12}"
      f" {'min ratio+start':>15} {'peak floor':>10} {'peak launch':>11}")
for name in sys.argv[5:]:
    size = os.path.getsize(os.path.join(sys.argv[3], name + ".zip")) / 1e6
    cells = {}
    for kind in ("floor", "start", "launch"):
        times = [t for t, _ in rows[(name, kind)]]
        peak = max(p for _, p in rows[(name, kind)]) / 1024
        cells[kind] = (statistics.median(times), min(times), max(times), peak)
    f, s, l = cells["floor"], cells["start"], cells["launch"]
    span = lambda c: f"{c[0]:.0f} [{c[1]:.0f}-{c[2]:.0f}]"
    print(f"{name:<10} {size:>8.1f} {span(f):>20} {span(s):>20} {span(l):>20}"
          f" {l[0] / f[0]:>6.2f} {l[0] - f[0]:>+12.0f} {l[0] / s[0]:>11.2f} {l[0] - s[0]:>+12.0f}"
          f" {l[1] / s[1]:>15.2f}"
          f" {f[3]:>10.1f} {l[3]:>11.1f}")
scan = sys.argv[4]
kinds = [k for k in ("before", "launch", "scan-main", "scan-pool") if (sys.argv[5], k) in rows]
print()
print(f"Closing extracted files: the launch, and the benchmark's launcher with a simulated scan of "
      f"{scan} ms on each close of an extracted file, closing on the extracting thread (main) "
      f"and on the pool; wall time in ms (median [min-max]), peak working set in MiB")
header = "".join(f" {k:>20}" for k in kinds)
print(f"{'payload':<10}{header} {'pool/main':>9} {'launch/before':>13}"
      f" {'peak main':>9} {'peak pool':>9}")
for name in sys.argv[5:]:
    cells = {}
    for kind in kinds:
        times = [t for t, _ in rows[(name, kind)]]
        peak = max(p for _, p in rows[(name, kind)]) / 1024
        cells[kind] = (statistics.median(times), min(times), max(times), peak)
    span = lambda c: f"{c[0]:.0f} [{c[1]:.0f}-{c[2]:.0f}]"
    before = f"{cells['launch'][0] / cells['before'][0]:.2f}" if "before" in cells else "-"
    print(f"{name:<10}" + "".join(f" {span(cells[k]):>20}" for k in kinds) +
          f" {cells['scan-pool'][0] / cells['scan-main'][0]:>9.2f} {before:>13}"
          f" {cells['scan-main'][3]:>9.1f} {cells['scan-pool'][3]:>9.1f}")
PY
