"""Archives for the copy-out tests, made with Python's zipfile: a small one,
two whose lengths sit on either side of one copy-out block (kCopyOutBlockSize,
1 MiB), and a larger one."""
import io
import random
import zipfile


def _stored_zip(total_length):
    """A zip archive of exactly total_length bytes: one stored entry, padded."""
    def make(size):
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", zipfile.ZIP_STORED) as archive:
            archive.writestr("data/fill.bin", bytes((i * 7) & 0xFF for i in range(size)))
        return buffer.getvalue()

    overhead = len(make(0))
    archive = make(total_length - overhead)
    assert len(archive) == total_length, len(archive)
    return archive


def build(outdir):
    (outdir / "copy_small.zip").write_bytes(_stored_zip(8193))
    (outdir / "copy_block.zip").write_bytes(_stored_zip(1 << 20))
    (outdir / "copy_block_and_one.zip").write_bytes(_stored_zip((1 << 20) + 1))
    rng = random.Random(20261208)
    with zipfile.ZipFile(outdir / "copy_large.zip", "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("bin/velmar.exe", b"MZ" + bytes(rng.getrandbits(8) for _ in range(150000)))
        archive.writestr("properties/offlineplayback.pbcf", b"url=%local%\n")
        archive.writestr("media/clip.bin", bytes(rng.getrandbits(8) for _ in range(200000)))
