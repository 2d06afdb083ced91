"""Seed inputs of the native fuzz targets, made at test time with real tools.

    make_corpus.py OUTDIR      (one folder per target below OUTDIR)
"""
import io
import pathlib
import struct
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
import package_mutations  # noqa: E402
import pack_inputs  # noqa: E402  (on the path through package_mutations)


def main(out):
    seeds = package_mutations.Seeds()
    corpus = {
        "cabinet_structure": [seeds.cabinet, pack_inputs.cabinet({"a.txt": b"a" * 70000})],
        "zip_layout": [seeds.payload("nested"), seeds.encrypted, seeds.inner],
        "extra_field": [package_mutations.ut_block(), package_mutations.ut_block(1, 2),
                        b"\x01\x00\x08\x00" + bytes(8) + package_mutations.ut_block()],
        "entry_name": [n.encode("utf-16-le") for n in ["a/b.txt", "COM1", "x/../y", "nul.txt"]],
        "substitution": [b"\x80<a %local% b>\xff%local%\xffC:\\x", b"\x10%%%\xff%\xffxx"],
        "package_search": [pack_inputs.package_bytes(b"", b"en_US", b"PK\x03\x04" + bytes(40), 0),
                           pack_inputs.package_bytes(bytes(100), b"x" * 300, b"", 100)],
        "zip_time": [struct.pack("<HHi", 0x5A21, 0x6D4A, 1700000000), bytes(8)],
        "stub_branding": [pack_inputs.icon_file([(16, "bmp"), (32, "png")])[0]],
    }
    stub = pathlib.Path(__file__).resolve().parents[3] / "dist" / "velmar-launcher.exe"
    if stub.is_file():
        corpus["stub_branding"].append(stub.read_bytes())
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        archive.writestr("big.bin", b"x")
        archive.writestr(zipfile.ZipInfo("z64.txt"), b"y" * 10, compress_type=zipfile.ZIP_STORED)
    corpus["zip_layout"].append(buffer.getvalue())
    with tempfile.TemporaryDirectory() as work:
        pathlib.Path(work, "f.txt").write_text("zip64\n")
        subprocess.run(["zip", "-q", "-fz", "z.zip", "f.txt"], cwd=work, check=True)
        corpus["zip_layout"].append(pathlib.Path(work, "z.zip").read_bytes())
    for target, inputs in corpus.items():
        folder = pathlib.Path(out, target)
        folder.mkdir(parents=True, exist_ok=True)
        for number, data in enumerate(inputs):
            (folder / f"seed{number}").write_bytes(data)


if __name__ == "__main__":
    main(sys.argv[1])
