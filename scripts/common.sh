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
