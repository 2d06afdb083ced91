#!/usr/bin/env bash
# Runs the tests: the Linux tests first (the packaging tool, the native unit
# tests under sanitizers, the format check), then the unit tests in-process
# under Wine and the end-to-end tests that run the built programs under Wine
# with a virtual X display. By default every test but the long ones (CTest
# label "long": the 105 launches in a row and the short fuzz runs); with
# --all every test.
#   test.sh [--all]
set -euo pipefail
. "$(dirname "$0")/common.sh"
selection=(-LE long)
case ${1:-} in
  "") ;;
  --all) selection=() ;;
  *) echo "usage: scripts/test.sh [--all]" >&2; exit 2 ;;
esac
build_and_start_display
start_wine_session

status=0
ctest --test-dir "$build_root/host" --output-on-failure "${selection[@]}" || status=1
ctest --test-dir "$build_root/win" --output-on-failure --parallel 2 "${selection[@]}" || status=1
exit $status
