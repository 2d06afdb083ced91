"""Payload zips for the agreement of velmar-pack's checks with the launcher's
extraction: the client's files and one entry of each rule's kind, below
outdir/agree/<label>.zip (the unit test holds the table of what each must
give). Names no zip tool writes are patched in with pack_inputs."""
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "test_support"))
import pack_inputs  # noqa: E402

# label: the name of the one entry added to the client's files
NAMED = {
    "plain": None,
    "com-superscript": "media/COM\u00b9.txt",
    "double-separator": "media//twice.txt",
    "four-byte": "media/\U0001F600.txt",
    "leads-outside": "../evil.txt",
    "blank-part": "media/ /x.txt",
    "drive": "C:/x.txt",
    "root": "/abs.txt",
    "device": "media/aux.txt",
    "longest-name": "n" * 160,
    "name-161": "n" * 161,
    "longest-folder": "f" * 148 + "/x.txt",
    "folder-149": "f" * 149 + "/x.txt",
    "folder-entry-149": "f" * 149 + "/",
    "name-bytes": "media/" + "\u4e2d" * 85,
    "cabinet-path": "\u00e9" * 80 + "/x.cab",
}
# label: (stored bytes, flagged as UTF-8)
RAW = {
    "surrogate": (b"media/\xed\xa0\x80.txt", True),
    "overlong": (b"media/\xe0\x80\x80.txt", True),
    "lead-f5": (b"media/\xf5\x80\x80\x80.txt", True),
    "unflagged": (b"media/caf\xe9.txt", False),
}


def build(outdir):
    target = pathlib.Path(outdir) / "agree"
    target.mkdir(parents=True, exist_ok=True)
    files = pack_inputs.CLIENT_FILES
    for label, name in NAMED.items():
        entries = dict(files, **({name: b"" if name.endswith("/") else b"x"} if name else {}))
        (target / f"{label}.zip").write_bytes(pack_inputs.make_zip(entries))
    for label, (raw, flagged) in RAW.items():
        placeholder = "R" * len(raw)
        archive = pack_inputs.make_zip(dict(files, **{placeholder: b"x"}))
        (target / f"{label}.zip").write_bytes(
            pack_inputs.with_raw_name(archive, placeholder, raw, flagged))
    (target / "overlap-bomb.zip").write_bytes(pack_inputs.overlap_bomb(files))
    nested = {
        "nested-accepted": {"inner.zip": pack_inputs.make_zip({"inner/ok.txt": b"ok"}),
                            "inner.cab": pack_inputs.cabinet({"cab_ok.txt": b"ok"})},
        "nested-device": {"inner.zip": pack_inputs.make_zip({"media/COM\u00b9.txt": b"x"})},
        "nested-bomb": {"inner.zip": pack_inputs.overlap_bomb({"a.txt": b"a"})},
        "nested-cab-device": {"inner.cab": pack_inputs.cabinet({"nul.txt": b"x"})},
    }
    for label, archives in nested.items():
        (target / f"{label}.zip").write_bytes(pack_inputs.make_zip(dict(files, **archives)))
