#!/usr/bin/env bash
# Builds the native fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) for the parsers that build without the platform's
# headers, and runs each for the given seconds from seeds made at test time.
# Prints one line of figures per target; exit code 1 when any target failed.
#   fuzz-native.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
. "$(dirname "$0")/common.sh"
seconds=${1:-60}
out=${VELMAR_FUZZ_NATIVE_DIR:-$(default_build_root)/fuzz-native}
cxx=$(command -v clang++-14 || command -v clang++)
mkdir -p "$out/bin"
native="$repo/tests/fuzz/native"
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -Wall -Wextra -Werror -I"$repo" -I"$native/shim")
declare -A sources=(
  [package_search]="package/package_layout.cpp"
  [extra_field]="extract/zip_extra_field.cpp"
  [zip_time]="extract/zip_time.cpp"
  [entry_name]="extract/entry_name.cpp extract/entry_rules.cpp tests/fuzz/native/native_stubs.cpp"
  [substitution]="config/param_substitution.cpp tests/fuzz/native/native_stubs.cpp"
  [cabinet_structure]="extract/cabinet_structure.cpp -lz"
  [zip_layout]="extract/zip_layout.cpp"
  [stub_branding]="tools/pack/stub_branding.cpp tools/pack/pe_image.cpp tools/pack/resource_tree.cpp tools/pack/version_resource.cpp tools/pack/icon_resource.cpp tools/pack/payload_rules.cpp tools/pack/native_text.cpp tools/pack/file_facts.cpp extract/entry_rules.cpp package/package_layout.cpp common/path_components.cpp"
)
python3 "$native/make_corpus.py" "$out/seeds"
status=0
printf '%-18s %12s %8s %s\n' target runs seconds result
for target in package_search extra_field zip_time entry_name substitution cabinet_structure zip_layout \
              stub_branding; do
  binary="$out/bin/fuzz_$target"
  files=()
  for f in ${sources[$target]}; do
    case $f in -*) files+=("$f") ;; *) files+=("$repo/$f") ;; esac
  done
  "$cxx" "${flags[@]}" "$native/fuzz_$target.cpp" "${files[@]}" -o "$binary"
  mkdir -p "$out/corpus/$target" "$out/crashes/$target"
  log="$out/fuzz_$target.log"
  if "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
       -artifact_prefix="$out/crashes/$target/" "$out/corpus/$target" "$out/seeds/$target" \
       >"$log" 2>&1; then
    result=ok
  else
    result="FAILED (see $log)"
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  printf '%-18s %12s %8s %s\n' "$target" "${runs:-?}" "$seconds" "$result"
done
exit $status
