#!/usr/bin/env bash
# Runs every test: unit tests in-process under Wine, end-to-end tests that run
# the built programs under Wine with a virtual X display, and the Linux tests.
set -euo pipefail
. "$(dirname "$0")/common.sh"
build_and_start_display

status=0
ctest --test-dir "$build_root/host" --output-on-failure || status=1
ctest --test-dir "$build_root/win" --output-on-failure --parallel 2 || status=1
exit $status
