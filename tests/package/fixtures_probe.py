"""Archives for the package probe tests, made with Python's zipfile."""
import zipfile


def build(outdir):
    with zipfile.ZipFile(outdir / "probe_payload.zip", "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("bin/velmar.exe", b"MZ client stand-in")
        archive.writestr("properties/offlineplayback.pbcf", b"url=%local%\n")
