"""Archives that once made a launch run without end, crash the platform's
cabinet library or write far more than the payload holds: each a reproducer
of what the package fuzzer found, made here at test time with zipfile and
gcab and then damaged field by field.

Outputs, below outdir/zip/ and outdir/cab/:
  self_named.zip     x.zip, which holds 64 entries all named x.zip
  declares_more.zip  two entries, its end record declares 0xFFFF
  declares_zip64.zip two entries, a zip64 end record declares 0x7FFFFFFF
  overlapping.zip    ten directory records sharing one local header (1 MB of zeros)
  huge_declared.zip  one entry whose zip64 directory record declares 2^50 bytes
  many_refusals.zip  2,500 entries that lead outside the work folder, then last.txt
  many_nested.zip    300 nested archives, each holding one file
  no_folders.cab     a cabinet that declares no folders
  next_cabinet.cab   a cabinet announcing a next one, its last member continued there
  damaged_block.cab  a compressed block overwritten, its checksum cleared
"""
import io
import pathlib
import struct
import sys
import warnings
import zipfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "test_support"))
import pack_inputs  # noqa: E402

# Entries of one name on purpose.
warnings.filterwarnings("ignore", "Duplicate name")


def zip_of(files, method=zipfile.ZIP_STORED):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", method) as archive:
        for name, data in files:
            archive.writestr(name, data)
    return out.getvalue()


def end_record(data):
    return data.rfind(b"PK\x05\x06")


def declares_more(data):
    out = bytearray(data)
    struct.pack_into("<HH", out, end_record(data) + 8, 0xFFFF, 0xFFFF)
    return bytes(out)


def declares_zip64(data):
    end = end_record(data)
    size, offset = struct.unpack_from("<II", data, end + 12)
    record = struct.pack("<4sQHHIIQQQQ", b"PK\x06\x06", 44, 45, 45, 0, 0, 0x7FFFFFFF,
                         0x7FFFFFFF, size, offset)
    locator = struct.pack("<4sIQI", b"PK\x06\x07", 0, end, 1)
    tail = bytearray(data[end:])
    struct.pack_into("<HHII", tail, 8, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF)
    return data[:end] + record + locator + bytes(tail)


def overlapping(copies=10):
    data = zip_of([("zeros.bin", bytes(1 << 20))], zipfile.ZIP_DEFLATED)
    end = end_record(data)
    first = struct.unpack_from("<I", data, end + 16)[0]
    record = bytearray(data[first:end])
    name_at = 46
    records = b""
    for i in range(copies):  # same local header, names zeros0.bi .. zeros9.bi
        renamed = bytearray(record)
        renamed[name_at + 5:name_at + 6] = str(i).encode()
        records += bytes(renamed)
    tail = struct.pack("<4s4H2LH", b"PK\x05\x06", 0, 0, copies, copies, len(records), first, 0)
    return data[:first] + records + tail


def huge_declared():
    """The directory record's size moves into a zip64 extra block of 2^50."""
    data = zip_of([("huge.bin", b"small")])
    end = end_record(data)
    first = struct.unpack_from("<I", data, end + 16)[0]
    record = bytearray(data[first:end])
    name_length, extra_length = struct.unpack_from("<HH", record, 28)
    struct.pack_into("<I", record, 24, 0xFFFFFFFF)
    extra = struct.pack("<HHQ", 1, 8, 1 << 50)
    struct.pack_into("<H", record, 30, extra_length + len(extra))
    at = 46 + name_length + extra_length
    record = record[:at] + extra + record[at:]
    tail = struct.pack("<4s4H2LH", b"PK\x05\x06", 0, 0, 1, 1, len(record), first, 0)
    return data[:first] + bytes(record) + tail


def cab_layout(cab):
    """(coffFiles, cFolders, cFiles, first folder's data start)."""
    files, = struct.unpack_from("<I", cab, 16)
    folders, count = struct.unpack_from("<HH", cab, 26)
    data_start, = struct.unpack_from("<I", cab, 36)
    return files, folders, count, data_start


def no_folders():
    cab = bytearray(pack_inputs.cabinet({"a.txt": b"a" * 1000}))
    struct.pack_into("<H", cab, 26, 0)
    return bytes(cab)


def next_cabinet():
    """The header's next-cabinet flag and names, every offset moved behind them."""
    cab = bytearray(pack_inputs.cabinet({"a.txt": b"first member\n",
                                         "b.txt": b"second member\n" * 100}))
    files, folders, count, _ = cab_layout(cab)
    names = b"next.cab\0disk 2\0"
    struct.pack_into("<I", cab, 8, len(cab) + len(names))
    struct.pack_into("<I", cab, 16, files + len(names))
    struct.pack_into("<H", cab, 30, struct.unpack_from("<H", cab, 30)[0] | 0x0002)
    for folder in range(folders):
        at = 36 + 8 * folder
        struct.pack_into("<I", cab, at, struct.unpack_from("<I", cab, at)[0] + len(names))
    # The last member continues in the next cabinet (folder index 0xFFFE).
    at = files
    for _ in range(count - 1):
        at = cab.index(b"\0", at + 16) + 1
    struct.pack_into("<H", cab, at + 8, 0xFFFE)
    return bytes(cab[:36] + names + cab[36:])


def damaged_block():
    cab = bytearray(pack_inputs.cabinet({"a.txt": b"compressible text " * 500}))
    _, _, _, block = cab_layout(cab)
    packed, = struct.unpack_from("<H", cab, block + 4)
    struct.pack_into("<I", cab, block, 0)  # no checksum to catch it
    cab[block + 10:block + 8 + packed] = bytes([0xFF]) * (packed - 2)
    return bytes(cab)


def build(outdir):
    zips = pathlib.Path(outdir) / "zip"
    cabs = pathlib.Path(outdir) / "cab"
    zips.mkdir(parents=True, exist_ok=True)
    cabs.mkdir(parents=True, exist_ok=True)
    two = zip_of([("one.txt", b"one"), ("two.txt", b"two")])
    leaf = zip_of([("leaf.txt", b"leaf")])
    archives = {
        "self_named.zip": zip_of([("x.zip", zip_of([("x.zip", leaf)] * 64))]),
        "declares_more.zip": declares_more(two),
        "declares_zip64.zip": declares_zip64(two),
        "overlapping.zip": overlapping(),
        "huge_declared.zip": huge_declared(),
        "many_refusals.zip": zip_of([(f"../out{i}.txt", b"x") for i in range(2500)] +
                                    [("last.txt", b"last")]),
        "many_nested.zip": zip_of([(f"n{i}.zip", zip_of([(f"f{i}.txt", b"f")]))
                                   for i in range(300)]),
    }
    for name, data in archives.items():
        (zips / name).write_bytes(data)
    for name, data in {"no_folders.cab": no_folders(), "next_cabinet.cab": next_cabinet(),
                       "damaged_block.cab": damaged_block()}.items():
        (cabs / name).write_bytes(data)


if __name__ == "__main__":
    import sys
    build(sys.argv[1])
