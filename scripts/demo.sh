#!/usr/bin/env bash
# The main job: builds everything, then runs the launcher under Wine as a user
# would (headless, on a virtual X display) and shows what happened. What it made
# stays in the demo folder below the build tree (build/demo). Exit code 0 only
# when the run did what it should.
set -euo pipefail
. "$(dirname "$0")/common.sh"
build_root=$("$repo/scripts/build.sh" | tail -n 1)

start_display
trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT

VELMAR_BUILD="$build_root/win" VELMAR_DIST="$repo/dist" VELMAR_REPO="$repo" \
  VELMAR_DEMO_DIR="${VELMAR_DEMO_DIR:-$build_root/demo}" python3 "$repo/scripts/demo.py" "$@"
