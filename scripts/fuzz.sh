#!/usr/bin/env bash
# The long fuzz run: COUNT mutated packages run under Wine (package_fuzz.py),
# then each native fuzz target for SECONDS. Prints the figures of both;
# reproducers of failures go below the build tree's fuzz-out folder.
#   fuzz.sh [COUNT] [SECONDS_PER_NATIVE_TARGET]    (defaults 10500 and 60)
# VELMAR_FUZZ_JOBS (default 2) packages run at once; VELMAR_FUZZ_SEED names the
# random sequence (default: the time), so that a run can be told again.
set -euo pipefail
. "$(dirname "$0")/common.sh"
count=${1:-10500}
seconds=${2:-60}
seed=${VELMAR_FUZZ_SEED:-$(date +%s)}
build_and_start_display
export VELMAR_DIST="$repo/dist" VELMAR_BUILD="$build_root/win" VELMAR_REPO="$repo"
out=${VELMAR_FUZZ_OUT:-$build_root/fuzz-out}
echo "== packages under Wine: $count, seed $seed"
status=0
python3 "$repo/tests/fuzz/package_fuzz.py" --count "$count" --seed "$seed" \
  --jobs "${VELMAR_FUZZ_JOBS:-2}" --out "$out" || status=1
echo "== native targets: $seconds s each"
VELMAR_FUZZ_NATIVE_DIR="$build_root/fuzz-native" "$repo/scripts/fuzz-native.sh" "$seconds" || status=1
exit $status
