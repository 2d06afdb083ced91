# Shared settings for the project's scripts. Source it; do not run it.
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps_dir=${VELMAR_DEPS_DIR:-/var/cache/velmar-deps}
wine_user=${VELMAR_WINE_USER:-velmar-test}

# Wine must not run as root (root ignores read-only attributes there), and the
# unprivileged user has to read what the build makes. A checkout that user
# cannot reach gets its build tree below /var/tmp instead.
default_build_root() {
  if [ "$(id -u)" = 0 ] && id "$wine_user" >/dev/null 2>&1 &&
     ! runuser -u "$wine_user" -- test -x "$repo" 2>/dev/null; then
    echo "/var/tmp/velmar-build/$(printf '%s' "$repo" | sha1sum | cut -c1-12)"
  else
    echo "$repo/build"
  fi
}

# Starts a private Xvfb on a free display (message boxes need one) and exports
# DISPLAY; xvfb_pid names the server, for the caller to stop.
start_display() {
  local numberfile
  numberfile=$(mktemp)
  Xvfb -displayfd 3 -ac -screen 0 1024x768x24 -nolisten tcp 3>"$numberfile" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$numberfile" ] && break
    sleep 0.1
  done
  export DISPLAY=":$(head -n 1 "$numberfile")"
  rm -f "$numberfile"
}
