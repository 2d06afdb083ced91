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
# One wineserver for the whole run, with Wine's services and its desktop,
# kept up between the tests' launches (all ended with the display when the
# script exits). A Wine start then finds them ready instead of booting them
# anew; and started here, they hold none of a test's output pipes: Wine's
# services and desktop keep the pipes of the program that started them, and
# whoever reads those (CTest, a test's run) would wait for them to end. The
# desktop lives while a program has a window: Wine's notepad keeps it.
"$repo/scripts/wine-run.sh" --init
as_wine_user wineserver -p
as_wine_user wine notepad </dev/null >/dev/null 2>&1 &
for _ in $(seq 150); do
  pgrep -f 'explorer.exe /desktop' >/dev/null && break
  sleep 0.2
done

status=0
ctest --test-dir "$build_root/host" --output-on-failure "${selection[@]}" || status=1
ctest --test-dir "$build_root/win" --output-on-failure --parallel 2 "${selection[@]}" || status=1
exit $status
