#!/usr/bin/env bash
# Installs the packaging tool from the build: PREFIX/bin/velmar-pack (Linux),
# PREFIX/share/velmar/velmar-pack.exe (Windows) and the launcher stub
# PREFIX/share/velmar/velmar-launcher.exe, which velmar-pack takes when
# --launcher is left out, and the man page PREFIX/share/man/man1/velmar-pack.1.
#
#   scripts/install.sh [PREFIX]     (default /usr/local)
#
# The programs come from dist/ (or $VELMAR_DIST); run scripts/build.sh first.
set -euo pipefail
. "$(dirname "$0")/common.sh"

prefix=${1:-/usr/local}
dist=${VELMAR_DIST:-$repo/dist}
for program in velmar-pack velmar-pack.exe velmar-launcher.exe; do
  if [ ! -f "$dist/$program" ]; then
    echo "install: $dist/$program is missing: run scripts/build.sh first" >&2
    exit 1
  fi
done

install -d "$prefix/bin" "$prefix/share/velmar" "$prefix/share/man/man1"
install -m 755 "$dist/velmar-pack" "$prefix/bin/velmar-pack"
install -m 644 "$dist/velmar-pack.exe" "$dist/velmar-launcher.exe" "$prefix/share/velmar/"
install -m 644 "$repo/man/velmar-pack.1" "$prefix/share/man/man1/velmar-pack.1"
echo "installed velmar-pack in $prefix/bin, the launcher stub and velmar-pack.exe in" \
     "$prefix/share/velmar, the man page in $prefix/share/man/man1"
