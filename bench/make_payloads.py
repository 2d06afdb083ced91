"""Builds the benchmark's payload archives, the same bytes on every run.

  reference.zip  four 6 MB stored media files, 150 images (stored), 1,800
                 small html files (deflated) and a nested zip with 200 more
                 html files and 20 images: about 36 MB
  media.zip      ten stored media files of 35 MB each: 350 MB
  onefile.zip    one deflated 200 KB text file

Each payload also carries the stand-in client as bin/launcher.exe, which a
launch starts.

Usage: make_payloads.py OUTPUT_FOLDER CLIENT_EXE
"""
import contextlib
import io
import pathlib
import random
import sys
import zipfile

STAMP = (2026, 3, 14, 9, 26, 52)


def add(archive, name, data, method):
    info = zipfile.ZipInfo(name, STAMP)
    info.compress_type = method
    info.external_attr = 0o644 << 16
    archive.writestr(info, data)


def add_client(archive, client):
    """The client that a launch starts (a launch without one ends in a problem box)."""
    add(archive, "bin/launcher.exe", client, zipfile.ZIP_DEFLATED)
    add(archive, "properties/offlineplayback.pbrd", b"root=%local%\n", zipfile.ZIP_DEFLATED)


@contextlib.contextmanager
def payload(path, client, seed):
    """A payload archive with the client in it, and the random source of its content."""
    with zipfile.ZipFile(path, "w") as archive:
        add_client(archive, client)
        yield archive, random.Random(seed)


def add_media(archive, rng, pattern, count, size):
    for i in range(count):
        add(archive, pattern.format(i), rng.randbytes(size), zipfile.ZIP_STORED)


def html(rng, index):
    words = ["event", "replay", "camera", "score", "track", "session", "lap", "goal",
             "offline", "player", "stream", "review", "marker", "index", "chapter"]
    body = " ".join(rng.choice(words) for _ in range(rng.randint(150, 700)))
    return f"<html><head><title>Page {index}</title></head><body><p>{body}</p></body></html>\n".encode()


def reference(path, client):
    with payload(path, client, 1) as (archive, rng):
        add_media(archive, rng, "media/clip{:02}.mp4", 4, 6 * 1000 * 1000)
        for i in range(150):
            add(archive, f"images/img{i:03}.jpg", rng.randbytes(rng.randint(30000, 80000)),
                zipfile.ZIP_STORED)
        for i in range(1800):
            add(archive, f"pages/section{i // 100:02}/page{i:04}.html", html(rng, i),
                zipfile.ZIP_DEFLATED)
        nested = io.BytesIO()
        with zipfile.ZipFile(nested, "w") as inner:
            for i in range(200):
                add(inner, f"extra/page{i:03}.html", html(rng, 2000 + i), zipfile.ZIP_DEFLATED)
            for i in range(20):
                add(inner, f"extra/img{i:02}.jpg", rng.randbytes(30000), zipfile.ZIP_STORED)
        add(archive, "extras.zip", nested.getvalue(), zipfile.ZIP_STORED)


def media(path, client):
    with payload(path, client, 2) as (archive, rng):
        add_media(archive, rng, "media/part{:02}.mp4", 10, 35 * 1000 * 1000)


def onefile(path, client):
    with payload(path, client, 3) as (archive, rng):
        add(archive, "notes.txt", b"".join(html(rng, i) for i in range(60)), zipfile.ZIP_DEFLATED)


def main():
    folder = pathlib.Path(sys.argv[1])
    client = pathlib.Path(sys.argv[2]).read_bytes()
    folder.mkdir(parents=True, exist_ok=True)
    for name, build in (("reference", reference), ("media", media), ("onefile", onefile)):
        target = folder / f"{name}.zip"
        if not target.exists():
            partial = target.with_suffix(".partial")
            build(partial, client)
            partial.rename(target)
        print(f"{name}: {target.stat().st_size} bytes", file=sys.stderr)


if __name__ == "__main__":
    main()
