"""Cabinet archives for the cabinet extraction tests, made with gcab (MSZIP).

gcab names a member after the path it is given, relative to its working
folder, with "\\" between folders; it stores the file's modification time as
DOS date and time (the UTC clock fields) and the attribute 0x20 for every
member. Attributes other than 0x20, and names that gcab would never store
(".." components, rooted names), are set afterwards by parsing the cabinet's
own structures and rewriting the field in its CFFILE record:

    CFHEADER: signature "MSCF" (4 bytes), reserved (u32), cbCabinet (u32),
              reserved (u32), coffFiles (u32), ... cFiles (u16) at offset 28
    CFFILE (at coffFiles, one after the other):
              cbFile (u32), uoffFolderStart (u32), iFolder (u16),
              date (u16), time (u16), attribs (u16), szName (NUL-terminated)

No CFFILE field is covered by a checksum, and a new name of the same length
leaves every offset in the cabinet as it was.

Outputs, below outdir/cab/:
  main.cab     readme.txt, package.properties, docs\\package.properties, a\\b\\c.txt
  upper.cab    PACKAGE.Properties, other.txt
  attribs.cab  locked.txt (0x21), exec.txt (0x61), hidden.txt (0x66)
  hostile.cab  names that lead outside the destination, between safe.txt and last.txt
  long.cab     short.txt and a member whose name is 245 bytes long
  notacab.bin  plain text
"""
import calendar
import pathlib
import struct
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "test_support"))
import pack_inputs  # noqa: E402

# Every member carries this time; the tests expect it as the member's local time.
MEMBER_TIME = (2021, 3, 4, 5, 6, 8)

MAIN_FILES = {
    "readme.txt": b"readme from the cabinet\n",
    "package.properties": b"locale=en_US\n",
    "docs/package.properties": b"documentation properties\n",
    "a/b/c.txt": b"three folders deep\n",
}
UPPER_FILES = {
    "PACKAGE.Properties": b"upper-case properties\n",
    "other.txt": b"other member\n",
}
ATTRIBUTE_FILES = {
    "locked.txt": (b"read-only member\n", 0x21),
    "exec.txt": (b"execute bit member\n", 0x61),
    "hidden.txt": (b"hidden system member\n", 0x66),
}
HOSTILE_NAMES = [
    "..\\escape1.txt",
    "a\\..\\..\\escape2.txt",
    "\\rooted3.txt",
    "C:\\drive4.txt",
    "\\\\server\\share\\unc5.txt",
    "sub/../../escape6.txt",
]
LONG_NAME = "L" * 120 + "/" + "M" * 120 + ".txt"


def dos_date_time(fields):
    year, month, day, hour, minute, second = fields
    date = ((year - 1980) << 9) | (month << 5) | day
    time = (hour << 11) | (minute << 5) | (second // 2)
    return date, time


def cffile_records(data):
    """Yields (record offset, name offset, name bytes, (cbFile, uoff, iFolder, date, time, attribs))."""
    if data[:4] != b"MSCF":
        raise ValueError("not a cabinet")
    coff_files = struct.unpack_from("<I", data, 16)[0]
    count = struct.unpack_from("<H", data, 28)[0]
    offset = coff_files
    for _ in range(count):
        fields = struct.unpack_from("<IIHHHH", data, offset)
        name_offset = offset + struct.calcsize("<IIHHHH")
        end = data.index(b"\0", name_offset)
        yield offset, name_offset, data[name_offset:end], fields
        offset = end + 1


def patch_member(path, name, attribs=None, new_name=None):
    data = bytearray(path.read_bytes())
    for record, name_offset, stored, _ in cffile_records(bytes(data)):
        if stored != name.encode("ascii"):
            continue
        if attribs is not None:
            struct.pack_into("<H", data, record + 14, attribs)
        if new_name is not None:
            encoded = new_name.encode("ascii")
            if len(encoded) != len(stored):
                raise ValueError("a new name must keep the stored length")
            data[name_offset:name_offset + len(encoded)] = encoded
        path.write_bytes(bytes(data))
        return
    raise KeyError(name)


def make_cab(target, files):
    """files: relative name (with "/") -> bytes, in the order they are stored."""
    stamp = calendar.timegm(MEMBER_TIME)
    target.write_bytes(pack_inputs.cabinet(files, dict.fromkeys(files, stamp)))
    expected = dos_date_time(MEMBER_TIME)
    records = list(cffile_records(target.read_bytes()))
    stored = [name.decode("ascii") for _, _, name, _ in records]
    if stored != [name.replace("/", "\\") for name in files]:
        raise RuntimeError(f"gcab stored {stored}")
    for _, _, name, fields in records:
        if (fields[3], fields[4]) != expected or fields[5] != 0x20:
            raise RuntimeError(f"unexpected date, time or attributes for {name}: {fields}")


def build(outdir):
    out = pathlib.Path(outdir) / "cab"
    out.mkdir(parents=True, exist_ok=True)
    make_cab(out / "main.cab", MAIN_FILES)
    make_cab(out / "upper.cab", UPPER_FILES)

    attribs = out / "attribs.cab"
    make_cab(attribs, {name: content for name, (content, _) in ATTRIBUTE_FILES.items()})
    for name, (_, value) in ATTRIBUTE_FILES.items():
        patch_member(attribs, name, attribs=value)

    # Placeholders of the same length as the hostile names, renamed afterwards.
    placeholders = {f"h{i}".ljust(len(name), "x"): name for i, name in enumerate(HOSTILE_NAMES)}
    hostile_files = {"safe.txt": b"safe member\n"}
    hostile_files.update({p: b"must stay inside\n" for p in placeholders})
    hostile_files["last.txt"] = b"last member\n"
    hostile = out / "hostile.cab"
    make_cab(hostile, hostile_files)
    for placeholder, name in placeholders.items():
        patch_member(hostile, placeholder, new_name=name)
    names = [n.decode("ascii") for _, _, n, _ in cffile_records(hostile.read_bytes())]
    if names != ["safe.txt", *HOSTILE_NAMES, "last.txt"]:
        raise RuntimeError(f"renaming failed: {names}")

    make_cab(out / "long.cab", {"short.txt": b"short name\n", LONG_NAME: b"long name\n"})
    (out / "notacab.bin").write_bytes(b"This is a text file, not a cabinet.\n" * 8)


if __name__ == "__main__":
    import sys

    build(sys.argv[1])
