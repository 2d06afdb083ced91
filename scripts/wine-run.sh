#!/usr/bin/env bash
# Runs a Windows program under Wine the way a user would: as an unprivileged
# user (root ignores read-only attributes under Wine), in a prefix of its own,
# with a time zone that is not UTC so that local/UTC mix-ups show. The prefix
# is created, or rebuilt when broken, before the program starts.
# Usage: wine-run.sh PROGRAM.exe [ARGS...]   (exit code is the program's)
#        wine-run.sh --init    (only make sure the prefix is ready)
#        wine-run.sh --stop    (end the prefix's Wine processes)
set -u
. "$(dirname "$0")/common.sh"

case "${1:-}" in
  --stop)
    [ -d "$(wine_prefix)" ] && as_wine_user wineserver -k 2>/dev/null
    exit 0 ;;
  --init)
    ensure_wine_prefix
    exit ;;
  "")
    echo "usage: wine-run.sh PROGRAM.exe [ARGS...] | --init | --stop" >&2
    exit 2 ;;
esac
ensure_wine_prefix || exit 125

prog=$1; shift
case $prog in /*) ;; *) prog="$PWD/$prog" ;; esac
# The unprivileged user may not reach the caller's build tree: stage a copy.
stage=
if ! as_wine_user test -r "$prog"; then
  stage=$(mktemp -d /tmp/velmar-stage.XXXXXX)
  cp "$prog" "$stage/" && chmod -R a+rX "$stage"
  prog="$stage/$(basename "$prog")"
fi
# A current folder the user cannot enter makes Wine say so on stderr and start
# in the Windows folder anyway: start from a neutral one instead.
as_wine_user test -x "$PWD" || cd /tmp
as_wine_user wine "$prog" "$@"
status=$?
[ -n "$stage" ] && rm -rf "$stage"
exit $status
