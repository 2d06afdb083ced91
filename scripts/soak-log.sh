#!/usr/bin/env bash
# Soak of concurrent launches: 10 launchers of different packages start at
# once, round after round, all in one temporary folder, so that they share the
# log and the OffPlay folder. Prints lost and broken log lines, collisions and
# incomplete work folders. Not a test: a run takes minutes.
# Usage: scripts/soak-log.sh [--rounds N] [--launchers N]   (build first;
# VELMAR_DIST names another folder holding the velmar-launcher.exe to soak)
set -euo pipefail
. "$(dirname "$0")/common.sh"
build_root=${VELMAR_BUILD_ROOT:-$(default_build_root)}
VELMAR_BUILD="$build_root/win" VELMAR_DIST="${VELMAR_DIST:-$repo/dist}" VELMAR_REPO="$repo" \
  python3 "$repo/scripts/soak_log.py" "$@"
