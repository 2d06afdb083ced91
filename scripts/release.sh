#!/usr/bin/env bash
# Writes the release archives of the packaging tool into dist/release/ (or
# DEST), after an incremental build:
#   velmar-pack-VERSION-linux-x86_64.tar.gz: bin/velmar-pack,
#     share/velmar/velmar-launcher.exe, share/man/man1/velmar-pack.1
#   velmar-pack-VERSION-windows-x86_64.zip: velmar-pack.exe, velmar-launcher.exe,
#     velmar-pack.1
# each with a SHA256SUMS file of its content inside, and SHA256SUMS of both
# archives beside them. Entries are sorted, owned by 0, with the commit's time:
# two runs on one commit give the same bytes.
#
#   scripts/release.sh [DEST]
set -euo pipefail
. "$(dirname "$0")/common.sh"

dest=${1:-$repo/dist/release}
build_root=$("$repo/scripts/build.sh")
version=$(sed -n 's/^project(velmar VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
epoch=$(git -C "$repo" log -1 --format=%ct)
dist=${VELMAR_DIST:-$repo/dist}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

linux=velmar-pack-$version-linux-x86_64
windows=velmar-pack-$version-windows-x86_64
install -D -m 755 "$dist/velmar-pack" "$stage/$linux/bin/velmar-pack"
install -D -m 644 "$dist/velmar-launcher.exe" "$stage/$linux/share/velmar/velmar-launcher.exe"
install -D -m 644 "$repo/man/velmar-pack.1" "$stage/$linux/share/man/man1/velmar-pack.1"
install -D -m 644 "$dist/velmar-pack.exe" "$stage/$windows/velmar-pack.exe"
install -m 644 "$dist/velmar-launcher.exe" "$repo/man/velmar-pack.1" "$stage/$windows/"
for folder in "$linux" "$windows"; do
  (cd "$stage/$folder" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
     xargs sha256sum > SHA256SUMS)
done

mkdir -p "$dest"
tar -C "$stage" --sort=name --mtime="@$epoch" --owner=0 --group=0 --numeric-owner \
    --mode='u+rwX,go+rX,go-w' --format=gnu -cf - "$linux" | gzip -n -9 > "$dest/$linux.tar.gz"
python3 - "$stage" "$windows" "$epoch" "$dest/$windows.zip" <<'PY'
import os, sys, time, zipfile
stage, folder, epoch, target = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
stamp = time.gmtime(max(epoch, 315532800))[:6]
names = sorted(os.path.relpath(os.path.join(root, name), stage)
               for root, _, files in os.walk(os.path.join(stage, folder)) for name in files)
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    for name in names:
        info = zipfile.ZipInfo(name.replace(os.sep, "/"), stamp)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        info.create_system = 3
        with open(os.path.join(stage, name), "rb") as f:
            archive.writestr(info, f.read())
PY
(cd "$dest" && sha256sum "$linux.tar.gz" "$windows.zip" > SHA256SUMS)
echo "release: $dest/$linux.tar.gz, $dest/$windows.zip and $dest/SHA256SUMS (build $build_root)"
