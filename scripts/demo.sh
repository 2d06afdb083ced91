#!/usr/bin/env bash
# The main job: builds everything, then runs the launcher under Wine as a user
# would (headless, on a virtual X display) and shows what happened.
set -euo pipefail
. "$(dirname "$0")/common.sh"
build_root=$("$repo/scripts/build.sh" | tail -n 1)

start_display
trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT

VELMAR_BUILD="$build_root/win" VELMAR_DIST="$repo/dist" VELMAR_REPO="$repo" \
  python3 "$repo/scripts/demo.py" "$@"
