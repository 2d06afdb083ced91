#!/usr/bin/env bash
# Assembles a sample payload folder from the committed text files and the
# built stand-in client.
#
#   examples/make-sample.sh playback DEST [--zip FILE]
#       DEST/bin/velmar.exe, DEST/properties/offlineplayback.pbcf,
#       DEST/eventname.prop, DEST/readme.txt, and two nested archives:
#       DEST/media.zip (from playback-sample/media, made with Python's zipfile)
#       DEST/slides.cab (from playback-sample/slides, made with gcab -c -z;
#       its top-level package.properties is one the launcher does not extract).
#   examples/make-sample.sh launcher DEST [--zip FILE]
#       DEST/bin/launcher.exe, DEST/properties/offlineplayback.pbrd,
#       DEST/eventname.prop.
#
# With --zip, the payload folder is also packed into FILE, ready to be
# appended to a launcher. The stand-in client is taken from $VELMAR_CLIENT,
# else $VELMAR_DIST/velmar-client-standin.exe, else dist/ in the repository.
# DEST must not exist yet, or be an empty folder.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")

usage() {
  echo "usage: $0 playback|launcher DEST [--zip FILE]" >&2
  exit 2
}

[ $# -ge 2 ] || usage
sample=$1
dest=$2
shift 2
zip_out=
while [ $# -gt 0 ]; do
  case $1 in
    --zip) [ $# -ge 2 ] || usage; zip_out=$2; shift 2 ;;
    *) usage ;;
  esac
done

case $sample in
  playback) source_dir=$here/playback-sample; program=velmar.exe ;;
  launcher) source_dir=$here/launcher-sample; program=launcher.exe ;;
  *) usage ;;
esac

client=${VELMAR_CLIENT:-${VELMAR_DIST:-$repo/dist}/velmar-client-standin.exe}
if [ ! -f "$client" ]; then
  echo "stand-in client not found: $client (build it, or set VELMAR_CLIENT)" >&2
  exit 1
fi
if [ -e "$dest" ] && [ -n "$(ls -A "$dest")" ]; then
  echo "destination is not empty: $dest" >&2
  exit 1
fi

mkdir -p "$dest/bin"
dest=$(cd "$dest" && pwd)  # the cabinet step below runs in another folder
cp -R "$source_dir/payload/." "$dest/"
cp "$client" "$dest/bin/$program"

# Packs every file below a folder into a zip archive, names relative to it.
zip_folder() {
  python3 - "$1" "$2" <<'PY'
import pathlib, sys, zipfile
root, out = pathlib.Path(sys.argv[1]), sys.argv[2]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
    for path in sorted(p for p in root.rglob("*") if p.is_file()):
        archive.write(path, path.relative_to(root).as_posix())
PY
}

if [ "$sample" = playback ]; then
  # Entry names are relative to the folder, so media/intro.txt lands in
  # <work folder>\media\intro.txt when the launcher follows the nested zip.
  zip_folder "$source_dir/media" "$dest/media.zip"
  (cd "$source_dir/slides" && find . -type f | sed 's|^\./||' | LC_ALL=C sort |
     xargs gcab -c -z "$dest/slides.cab")
fi

if [ -n "$zip_out" ]; then
  zip_folder "$dest" "$zip_out"
fi
echo "$sample sample payload in $dest${zip_out:+, packed into $zip_out}"
