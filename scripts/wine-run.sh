#!/usr/bin/env bash
# Runs a Windows program under Wine the way a user would: as an unprivileged
# user (root ignores read-only attributes under Wine), in a prefix of its own,
# with a time zone that is not UTC so that local/UTC mix-ups show.
# Usage: wine-run.sh PROGRAM.exe [ARGS...]   (exit code is the program's)
set -u
. "$(dirname "$0")/common.sh"
export TZ=${VELMAR_TZ:-Asia/Kolkata}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

as_user() {
  if [ "$(id -u)" = 0 ]; then
    local home
    home=$(getent passwd "$wine_user" | cut -d: -f6)
    runuser -u "$wine_user" -- env HOME="$home" USER="$wine_user" LOGNAME="$wine_user" \
      WINEPREFIX="${VELMAR_WINEPREFIX:-$home/.wine-velmar}" TZ="$TZ" WINEDEBUG="$WINEDEBUG" \
      WINEDLLOVERRIDES="$WINEDLLOVERRIDES" DISPLAY="${DISPLAY:-}" "$@"
  else
    WINEPREFIX="${VELMAR_WINEPREFIX:-$HOME/.wine-velmar}" "$@"
  fi
}

# First use of the prefix: create it once, under a lock (tests run in parallel).
as_user bash -c '
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"; flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi'

if [ "${1:-}" = --stop ]; then
  as_user wineserver -k
  exit 0
fi

prog=$1; shift
# The unprivileged user may not reach the caller's build tree: stage a copy.
stage=
if ! as_user test -r "$prog"; then
  stage=$(mktemp -d /tmp/velmar-stage.XXXXXX)
  cp "$prog" "$stage/" && chmod -R a+rX "$stage"
  prog="$stage/$(basename "$prog")"
fi
as_user wine "$prog" "$@"
status=$?
[ -n "$stage" ] && rm -rf "$stage"
exit $status
