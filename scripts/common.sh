# Shared settings for the project's scripts. Source it; do not run it.
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps_dir=${VELMAR_DEPS_DIR:-/var/cache/velmar-deps}
wine_user=${VELMAR_WINE_USER:-velmar-test}
# A prefix whose first start ran to its end holds this file.
prefix_marker=.velmar-prefix-ready

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

# As root, Wine runs as the unprivileged user, created on first use; as
# anyone else, Wine runs as that caller.
ensure_wine_user() {
  if [ "$(id -u)" = 0 ] && ! id "$wine_user" >/dev/null 2>&1; then
    echo "setup: creating the Wine user $wine_user" >&2
    useradd --create-home --shell /bin/bash "$wine_user"
  fi
}

wine_home() {
  if [ "$(id -u)" = 0 ]; then getent passwd "$wine_user" | cut -d: -f6; else echo "$HOME"; fi
}

wine_prefix() {
  echo "${VELMAR_WINEPREFIX:-$(wine_home)/.wine-velmar}"
}

# Runs a command as the Wine user, with that user's environment and prefix.
as_wine_user() {
  local tz=${VELMAR_TZ:-Asia/Kolkata} prefix
  prefix=$(wine_prefix)
  if [ "$(id -u)" = 0 ]; then
    runuser -u "$wine_user" -- env HOME="$(wine_home)" USER="$wine_user" LOGNAME="$wine_user" \
      WINEPREFIX="$prefix" TZ="$tz" WINEDEBUG="${WINEDEBUG:--all}" \
      WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}" DISPLAY="${DISPLAY:-}" "$@"
  else
    env WINEPREFIX="$prefix" TZ="$tz" WINEDEBUG="${WINEDEBUG:--all}" \
      WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}" "$@"
  fi
}

# Prints why the prefix cannot be used as it is, or nothing when it can.
prefix_problem() {
  local prefix=$1 user path
  user=$wine_user
  [ "$(id -u)" = 0 ] || user=$(id -nu)
  [ -e "$prefix" ] || [ -L "$prefix" ] || { echo missing; return; }
  if [ -L "$prefix" ] || [ ! -d "$prefix" ]; then echo "not a folder"; return; fi
  for path in "$prefix" "$prefix/drive_c" "$prefix/drive_c/users" "$prefix/drive_c/users/$user"; do
    if [ -e "$path" ] && [ "$(stat -c %U "$path")" != "$user" ]; then
      echo "$path is owned by $(stat -c %U "$path"), not by $user"
      return
    fi
  done
  for path in system.reg user.reg userdef.reg drive_c/windows/system32 dosdevices/c:; do
    if [ ! -e "$prefix/$path" ]; then
      echo "half made or half deleted: $path is missing"
      return
    fi
  done
  [ -e "$prefix/$prefix_marker" ] || echo "its first start did not finish"
}

# Creates the prefix as the Wine user, by Wine's first start, before anything
# else touches it; a broken one (another owner, half created or half deleted)
# is removed and made anew. Under a lock: tests start Wine in parallel.
ensure_wine_prefix() {
  ensure_wine_user || return 1
  local prefix lock problem errors status=0
  prefix=$(wine_prefix)
  lock="$prefix.lock"
  if ! as_wine_user mkdir -p "$(dirname "$prefix")"; then
    echo "wine-run: $wine_user cannot create the folder of the Wine prefix $prefix" >&2
    return 1
  fi
  [ -e "$lock" ] || as_wine_user touch "$lock" 2>/dev/null || touch "$lock" || return 1
  exec {lock_fd}<"$lock"
  flock "$lock_fd"
  problem=$(prefix_problem "$prefix")
  if [ -n "$problem" ]; then
    if [ "$problem" = missing ]; then
      echo "wine-run: creating the Wine prefix $prefix for $wine_user (first start, about half a minute)" >&2
    else
      echo "wine-run: the Wine prefix $prefix is broken ($problem): rebuilding it" >&2
      as_wine_user wineserver -k >/dev/null 2>&1
      rm -rf "$prefix"
    fi
    errors=$(mktemp)
    as_wine_user bash -c 'timeout 600 wineboot -i && timeout 120 wineserver -w' >/dev/null 2>"$errors" ||
      status=$?
    if [ "$status" = 0 ] && [ -f "$prefix/system.reg" ]; then
      as_wine_user touch "$prefix/$prefix_marker" || status=1
    else
      echo "wine-run: Wine could not create the prefix $prefix (exit code $status); Wine said:" >&2
      sed 's/^/    /' "$errors" >&2
      status=1
    fi
    rm -f "$errors"
  fi
  exec {lock_fd}<&-
  return $status
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

# Starts one wineserver for a whole test run, with Wine's services and its
# desktop, kept up between the tests' launches (until wine-run.sh --stop). A
# Wine start then finds them ready instead of booting them anew; and started
# here, they hold none of a test's output pipes: Wine's services and desktop
# keep the pipes of the program that started them, and whoever reads those
# (CTest, a test's run) would wait for them to end. The desktop lives while a
# program has a window: Wine's notepad keeps it.
start_wine_session() {
  "$repo/scripts/wine-run.sh" --init || return 1
  # Refused where a wineserver runs already: the programs below keep that one.
  as_wine_user wineserver -p 2>/dev/null || true
  as_wine_user wine notepad </dev/null >/dev/null 2>&1 &
  for _ in $(seq 150); do
    wine_desktop_runs && break
    sleep 0.2
  done
}

# Whether the desktop process of this prefix runs (another prefix's may too).
wine_desktop_runs() {
  local pid prefix environment
  prefix=$(wine_prefix)
  for pid in $(pgrep -f 'explorer.exe /desktop'); do
    environment=$(tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null) || continue
    grep -qxF "WINEPREFIX=$prefix" <<<"$environment" && return 0
  done
  return 1
}

# The start of a test run: builds (build_root names the build tree), starts a
# private display, and stops Wine and the display when the script exits.
build_and_start_display() {
  build_root=$("$repo/scripts/build.sh" | tail -n 1)
  start_display
  trap stop_display_and_wine EXIT
}

stop_display_and_wine() {
  "$repo/scripts/wine-run.sh" --stop >/dev/null 2>&1 || true
  kill "$xvfb_pid" 2>/dev/null || true
}
