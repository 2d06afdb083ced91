"""Seeds and mutations of the package fuzzer: valid payloads made with real
tools (Python zipfile, Info-ZIP zip, gcab), and the ways each is damaged.

Every mutation is described by a short text, so that a failing package can be
told again; the seeds and the random generator's seed make it again.
"""
import io
import pathlib
import random
import struct
import subprocess
import sys
import tempfile
import warnings
import zipfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "test_support"))
import pack_inputs  # noqa: E402

# Entries of one name on purpose.
warnings.filterwarnings("ignore", "Duplicate name")

DATE = (2024, 5, 6, 7, 8, 10)
CONFIG = ("<config local='%local%' country='%locc%' event='%eventname%' "
          "language='%locl%'/>\n").encode()

INTERESTING = [0, 1, 2, 0x7F, 0x80, 0xFF, 0x100, 0x7FFF, 0x8000, 0xFFFF, 0x10000,
               0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF]

HOSTILE_NAMES = [
    "../evil.txt", "..\\evil.txt", "a/../../evil.txt", "a\\..\\..\\evil.txt", "/abs.txt",
    "\\abs.txt", "C:\\evil.txt", "C:evil.txt", "\\\\server\\share\\evil.txt", "//server/x",
    "COM1", "com1.txt", "LPT1", "NUL", "nul/x.txt", "CON.txt", "AUX", "CONIN$", "CONOUT$",
    "COM\u00b9", "LPT\u00b2.txt", "COM\u00b3.log", "x.txt:stream", "trail.", "space ", ". .",
    "...", "a" * 300, "a/" * 130 + "b", "x\x01y.txt", "dir/", "properties/offlineplayback.pbcf/",
    "\u540d\u524d.txt", "\u00fc\u00e9.txt", "Velmar_Client_Logs/../x", "rec_1.zip", "notes.zip.txt",
    "old.zip/", "a.cab/", ".cab", "x.ZIP", "../OffPlay/rec_2.zip", "..", ".", "",
]

ODD_LOCALES = [b"", b"e", b"en_US" * 60, b"\xff\xfe\xfd\xfc\xfb", b"%local%", b"zz_\xe4\xf6",
               b"en_US\x00junk", b"PK\x03\x04", b"..\\..", b"\xc3\xa9n_FR", b"de_DE",
               b"en\r\nUS", b"  _  "]


def zip_entries(entries):
    """A zip archive from (name, data, method, extra) tuples; names ending in
    "/" are folders."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for name, data, method, extra in entries:
            info = zipfile.ZipInfo(name, DATE)
            info.compress_type = method
            info.extra = extra
            info.create_system = 3
            info.external_attr = (0o40755 << 16 | 0x10) if name.endswith("/") else 0o100644 << 16
            archive.writestr(info, data)
    return buffer.getvalue()


def ut_block(mtime=1700000000, atime=None):
    times = [mtime] + ([atime] if atime is not None else [])
    flags = 1 | (2 if atime is not None else 0)
    return struct.pack("<HHB", 0x5455, 1 + 4 * len(times), flags) + b"".join(
        struct.pack("<i", t) for t in times)


def tree_entries():
    stored, deflated = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED
    return [
        ("properties/", b"", stored, b""),
        ("properties/offlineplayback.pbcf", CONFIG, deflated, ut_block()),
        ("eventname.prop", b"event=Fuzz \xc3\xa9v\xc3\xa9nement\n", stored, b""),
        ("bin/", b"", stored, b""),
        ("bin/velmar.exe", b"not a program\n", stored, b""),
        ("media/intro.txt", b"intro " * 200, deflated, ut_block(1600000000, 1600000500)),
        ("media/chapters.xml", b"<chapters/>\n", stored, ut_block(0)),
        ("m\u00e9dias/caf\u00e9.txt", b"utf-8 name\n", deflated, b""),
        ("docs/guide.txt", bytes(range(256)) * 8, deflated, b""),
    ]


def make_encrypted_zip():
    """An archive with an entry under traditional encryption (Info-ZIP zip -P)."""
    with tempfile.TemporaryDirectory() as work:
        pathlib.Path(work, "secret.txt").write_bytes(b"secret " * 100)
        pathlib.Path(work, "plain.txt").write_bytes(b"plain\n")
        subprocess.run(["zip", "-q", "-P", "pw", "enc.zip", "secret.txt"], cwd=work, check=True)
        subprocess.run(["zip", "-q", "plain.zip", "plain.txt"], cwd=work, check=True)
        encrypted = pathlib.Path(work, "enc.zip").read_bytes()
    with zipfile.ZipFile(io.BytesIO(encrypted)) as archive:
        info = archive.infolist()[0]
    # The encrypted entry is copied raw into a tree payload.
    return encrypted, info


def self_naming(k):
    """An archive holding x.zip, which holds k entries all named x.zip."""
    inner_most = zip_entries([("leaf.txt", b"leaf\n", zipfile.ZIP_STORED, b"")])
    inner = zip_entries([("x.zip", inner_most, zipfile.ZIP_STORED, b"")] * k)
    return [("x.zip", inner, zipfile.ZIP_STORED, b"")]


class Seeds:
    def __init__(self):
        self.cabinet = pack_inputs.cabinet({"slides/slide01.txt": b"slide one\n" * 50,
                                     "slides/slide02.txt": random.Random(2).randbytes(3000),
                                     "package.properties": b"locale=en_US\n"})
        self.inner = zip_entries([("inner/readme.txt", b"inner\n" * 40, zipfile.ZIP_DEFLATED,
                                   ut_block()), ("inner/data.bin", random.Random(1).randbytes(500),
                                                 zipfile.ZIP_STORED, b"")])
        self.encrypted, self.encrypted_info = make_encrypted_zip()

    def entries(self, kind):
        tree = tree_entries()
        if kind == "tree":
            return tree
        if kind == "nested":
            return tree[:5] + [("inner.zip", self.inner, zipfile.ZIP_STORED, b""),
                               ("slides.cab", self.cabinet, zipfile.ZIP_STORED, b"")]
        if kind == "self":
            return tree[:5] + self_naming(3)
        raise ValueError(kind)

    KINDS = ["tree", "nested", "self", "encrypted"]

    def payload(self, kind):
        if kind == "encrypted":
            return self.encrypted
        return zip_entries(self.entries(kind))


# Field positions (offset, struct code) of the zip and cabinet records.
CENTRAL_FIELDS = [(4, "H"), (6, "H"), (8, "H"), (10, "H"), (12, "H"), (14, "H"), (16, "I"),
                  (20, "I"), (24, "I"), (28, "H"), (30, "H"), (32, "H"), (34, "H"), (36, "H"),
                  (38, "I"), (42, "I")]
LOCAL_FIELDS = [(4, "H"), (6, "H"), (8, "H"), (10, "H"), (12, "H"), (14, "I"), (18, "I"),
                (22, "I"), (26, "H"), (28, "H")]
END_FIELDS = [(4, "H"), (6, "H"), (8, "H"), (10, "H"), (12, "I"), (16, "I"), (20, "H")]
CAB_HEADER_FIELDS = [(8, "I"), (16, "I"), (24, "H"), (26, "H"), (28, "H"), (30, "H"), (36, "I"),
                     (40, "H"), (42, "H")]


def positions(data, signature):
    found, at = [], data.find(signature)
    while at >= 0:
        found.append(at)
        at = data.find(signature, at + 1)
    return found


def new_value(rng, old, code):
    limit = 0xFFFF if code == "H" else 0xFFFFFFFF
    choice = rng.random()
    if choice < 0.5:
        value = rng.choice(INTERESTING)
    elif choice < 0.8:
        value = old + rng.choice([-2, -1, 1, 2, 16, -16])
    else:
        value = rng.randrange(limit + 1)
    return value & limit


def set_field(rng, data, base, fields):
    offset, code = rng.choice(fields)
    at = base + offset
    size = struct.calcsize("<" + code)
    if at + size > len(data):
        return data, "field beyond end"
    old = struct.unpack_from("<" + code, data, at)[0]
    value = new_value(rng, old, code)
    out = bytearray(data)
    struct.pack_into("<" + code, out, at, value)
    return bytes(out), f"field@{at}:{old:#x}->{value:#x}"


def mutate_zip_field(rng, data):
    choices = [(p, CENTRAL_FIELDS) for p in positions(data, b"PK\x01\x02")]
    choices += [(p, LOCAL_FIELDS) for p in positions(data, b"PK\x03\x04")]
    choices += [(p, END_FIELDS) for p in positions(data, b"PK\x05\x06")] * 3
    if not choices:
        return flip_bytes(rng, data)
    base, fields = rng.choice(choices)
    return set_field(rng, data, base, fields)


def mutate_cab_field(rng, data):
    if not data.startswith(b"MSCF"):
        return flip_bytes(rng, data)
    files = struct.unpack_from("<I", data, 16)[0]
    targets = [(0, CAB_HEADER_FIELDS)]
    if files + 16 <= len(data):
        targets.append((files, [(0, "I"), (4, "I"), (8, "H"), (14, "H")]))
    block = struct.unpack_from("<I", data, 36)[0] if len(data) >= 40 else 0
    if 0 < block and block + 8 <= len(data):
        targets.append((block, [(0, "I"), (4, "H"), (6, "H")]))
    base, fields = rng.choice(targets)
    out, text = set_field(rng, data, base, fields)
    if rng.random() < 0.5 and block + 8 <= len(out):  # no checksum: the damage is not caught by it
        out = out[:block] + b"\0\0\0\0" + out[block + 4:]
        text += " nocsum"
    return out, "cab " + text


def flip_bytes(rng, data):
    if not data:
        return data, "flip nothing"
    out = bytearray(data)
    spots = [rng.randrange(len(out)) for _ in range(rng.randint(1, 16))]
    for spot in spots:
        out[spot] ^= 1 << rng.randrange(8) if rng.random() < 0.7 else rng.randrange(1, 256)
    return bytes(out), f"flip@{spots[:4]}"


def truncate(rng, data):
    cut = rng.randrange(len(data)) if data else 0
    return data[:cut], f"truncate@{cut}"


def overlap(rng, data):
    """Directory records repeated, all pointing at the first entry's local header."""
    end = data.rfind(b"PK\x05\x06")
    central = data.rfind(b"PK\x01\x02", 0, end if end >= 0 else len(data))
    if end < 0 or central < 0 or end + 22 > len(data):
        return data, "overlap impossible"
    first = data.find(b"PK\x01\x02")
    record_end = data.find(b"PK", central + 46)
    record = data[first:data.find(b"PK", first + 46)]
    copies = rng.randint(2, 12)
    directory = data[first:end] + record * copies
    count = struct.unpack_from("<H", data, end + 10)[0] + copies
    tail = struct.pack("<4s4H2LH", b"PK\x05\x06", 0, 0, count & 0xFFFF, count & 0xFFFF,
                       len(directory), first, 0)
    del record_end
    return data[:first] + directory + tail, f"overlap x{copies}"


def declare_many(rng, data):
    """A directory that declares far more entries than it holds."""
    end = data.rfind(b"PK\x05\x06")
    if end < 0 or end + 22 > len(data):
        return data, "declare impossible"
    if rng.random() < 0.5:
        out = bytearray(data)
        struct.pack_into("<HH", out, end + 8, 0xFFFF, 0xFFFF)
        return bytes(out), "declare 0xFFFF"
    size, offset = struct.unpack_from("<II", data, end + 12)
    record64 = struct.pack("<4sQHHIIQQQQ", b"PK\x06\x06", 44, 45, 45, 0, 0, 0x7FFFFFFF,
                           0x7FFFFFFF, size, offset)
    locator = struct.pack("<4sIQI", b"PK\x06\x07", 0, end, 1)
    tail = bytearray(data[end:end + 22])
    struct.pack_into("<HHII", tail, 8, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF)
    return data[:end] + record64 + locator + bytes(tail), "declare zip64 0x7FFFFFFF"


BYTE_MUTATIONS = [flip_bytes, mutate_zip_field, mutate_zip_field, truncate, overlap, declare_many]


def mutate_entries(rng, seeds, entries):
    """Structural changes, rebuilt into a well-formed archive."""
    entries = list(entries)
    choice = rng.randrange(7)
    if choice == 0:
        i = rng.randrange(len(entries))
        name = rng.choice(HOSTILE_NAMES)
        entries[i] = (name,) + entries[i][1:]
        return entries, f"name[{i}]={name!r}"
    if choice == 1:
        i = rng.randrange(len(entries))
        twin = entries[i][0].upper() if rng.random() < 0.5 else entries[i][0]
        entries.insert(rng.randrange(len(entries) + 1), (twin, b"twin\n", zipfile.ZIP_STORED, b""))
        return entries, f"duplicate {twin!r}"
    if choice == 2:
        k = rng.choice([2, 4, 8, 16, 64])
        return entries[:3] + self_naming(k), f"self-naming x{k}"
    if choice == 3:  # a damaged nested archive that is still written whole, and so followed
        nested, text = rng.choice([(seeds.cabinet, "cab"), (seeds.inner, "zip")])
        op = rng.choice([flip_bytes, truncate, mutate_cab_field if text == "cab" else
                         mutate_zip_field])
        damaged, how = op(rng, nested)
        name = "slides.cab" if text == "cab" else "inner.zip"
        return entries + [(name, damaged, zipfile.ZIP_STORED, b"")], f"nested {text} {how}"
    if choice == 4:
        i = rng.randrange(len(entries))
        extra = bytes(rng.randrange(256) for _ in range(rng.randrange(0, 24)))
        if rng.random() < 0.6:
            extra = struct.pack("<HHB", 0x5455, rng.choice([0, 1, 5, 9, 13, 40]),
                                rng.randrange(256)) + extra
        entries[i] = entries[i][:3] + (extra,)
        return entries, f"extra[{i}]={extra.hex()}"
    if choice == 5:
        name = rng.choice(["deep.zip", "a.cab", "x/y.zip", "z.zip.cab"])
        inner = zip_entries([(name, zip_entries(entries[:2]), zipfile.ZIP_STORED, b"")])
        return entries + [(name, inner, zipfile.ZIP_STORED, b"")], f"nest {name}"
    i = rng.randrange(len(entries))
    big = b"\0" * rng.choice([0, 1, 65536, 1 << 20])
    entries[i] = (entries[i][0], big, zipfile.ZIP_DEFLATED, b"")
    return entries, f"content[{i}] {len(big)} zeros"


def make_case(rng, seeds):
    """One fuzz case: (payload bytes, locale bytes, description)."""
    kind = rng.choice(Seeds.KINDS)
    steps = [kind]
    payload = seeds.payload(kind)
    if kind != "encrypted" and rng.random() < 0.5:
        try:
            entries, text = mutate_entries(rng, seeds, seeds.entries(kind))
            steps.append(text)
            payload = zip_entries(entries)
        except (ValueError, OSError, UnicodeEncodeError, struct.error) as error:
            steps.append(f"rebuild failed: {error}")
    for _ in range(rng.choice([0, 1, 1, 2])):
        # A mutation that does not fit what earlier ones left is skipped.
        try:
            payload, text = rng.choice(BYTE_MUTATIONS)(rng, payload)
        except (ValueError, IndexError, struct.error) as error:
            text = f"mutation skipped: {error}"
        steps.append(text)
    locale = b"en_US"
    if rng.random() < 0.15:
        locale = rng.choice(ODD_LOCALES)
        steps.append(f"locale={locale!r}")
    return payload, locale, steps


def case(seed, index, seeds):
    """The case of a run: the same seed and index give the same package."""
    return make_case(random.Random(f"{seed}:{index}"), seeds)
