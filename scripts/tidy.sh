#!/usr/bin/env bash
# The static check: clang-tidy with the checks in .clang-tidy over the product
# code (common, diagnostics, package, extract, config, launcher, tools), as the
# build compiles it: every file as built for Windows (clang with the mingw-w64
# target and headers), and the packaging tool's and the shared formats'
# sources once more as built for this machine, where the tool's own POSIX
# code is. Prints each finding; exit code 1 when there is any.
#   tidy.sh [FILE...]   (default: every product source)
set -euo pipefail
. "$(dirname "$0")/common.sh"
tidy=$(command -v clang-tidy || true)
if [ -z "$tidy" ]; then
  echo "tidy: clang-tidy is missing: run scripts/setup.sh as root" >&2
  exit 1
fi
# The compile commands come from the build trees.
build_root=$("$repo/scripts/build.sh" | tail -n 1)
product='^(common|diagnostics|package|extract|config|launcher|tools)/[^ ]*\.cpp$'
header_filter="^$repo/(common|diagnostics|package|extract|config|launcher|tools)/"

# The product sources a build tree compiles, below the checkout.
sources() {  # build tree, extra pattern
  python3 - "$1/compile_commands.json" "$repo" <<'PY' | grep -E "$product" | grep -E "$2" | sort -u
import json, os, sys
for entry in json.load(open(sys.argv[1])):
    print(os.path.relpath(entry["file"], sys.argv[2]))
PY
}

# The mingw-w64 C++ headers, which clang does not find by itself.
mingw_cxx=$(x86_64-w64-mingw32-g++-posix -print-file-name=include/c++)
windows_args=(--extra-arg=--target=x86_64-w64-mingw32)
for dir in "$mingw_cxx" "$mingw_cxx/x86_64-w64-mingw32" "$mingw_cxx/backward"; do
  windows_args+=("--extra-arg=-isystem$dir")
done

run() {  # build tree, extra clang-tidy arguments...; the files on stdin
  local tree=$1; shift
  (cd "$repo" && xargs -r -n 4 -P 2 "$tidy" -p "$tree" --quiet --header-filter="$header_filter" "$@")
}

report=$(mktemp)
trap 'rm -f "$report"' EXIT
status=0
if [ $# -gt 0 ]; then
  printf '%s\n' "$@" | run "$build_root/win" "${windows_args[@]}" >"$report" 2>&1 || status=1
else
  { sources "$build_root/win" . | run "$build_root/win" "${windows_args[@]}" &&
    sources "$build_root/host" '^(tools|package/package_layout|extract/zip_attributes)' |
      run "$build_root/host"; } >"$report" 2>&1 || status=1
fi
findings=$(grep -cE '^[^ ].*: (warning|error): ' "$report" || true)
if [ "$status" != 0 ] || [ "$findings" != 0 ]; then
  grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings' "$report" >&2
  echo "tidy: $findings finding(s)" >&2
  exit 1
fi
echo "tidy: no findings"
