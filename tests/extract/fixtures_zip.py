"""Zip archives for the zip reader and extraction driver tests.

Archives are written with Python's zipfile. What zipfile never writes (a
wrong CRC-32, a local header that disagrees with its directory record, an
ANSI name without the UTF-8 flag, traditional encryption) is made by changing
fields afterwards, at offsets computed from zipfile's own struct formats and
field indexes (structFileHeader/_FH_*, structCentralDir/_CD_*), in the local
header and the directory record alike, so the two still agree unless the
damage is the point.

Traditional encryption: Info-ZIP's zip refuses an empty password, so the
entries are encrypted here: the PKWARE stream cipher (three keys updated with
the CRC-32 step) over a 12-byte header whose last byte is the check byte (the
high byte of the CRC-32, or of the DOS time when flag bit 3 is set), then the
stored bytes (raw deflate for deflated entries). zipfile writes the result as
a stored entry; afterwards flag bit 0 is set and the CRC-32, the uncompressed
size and the method are set to the plain content's. The same code run with a
non-empty password is checked against zipfile's own decryption.

Outputs, below outdir/zip/ (the C++ tests know these names and values):
  attributes.zip  host systems and external attributes
  times.zip       DOS times, "UT" extended timestamp blocks, invalid dates
  data.zip        stored and deflated content across the 16,384-byte buffer
  damaged.zip     bad CRC-32, sizes that disagree with the content
  bad_local.zip   local headers that disagree with the directory
  bad_extra.zip   a local extra field that runs past the end of the file
  bad_directory.zip  a directory record that cannot be read
  encrypted.zip   traditional encryption with the empty password
  names.zip       UTF-8 and ANSI names, invalid and over-long names, hostile names
  payload.zip     the driver's walk: folders, nested zip and cabinet archives, hostile names
  empty.zip, empty_comment.zip, chain.zip, selfref.zip, loop_a.zip
"""
import io
import os
import pathlib
import random
import re
import struct
import sys
import tempfile
import zipfile
import zlib

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "test_support"))
import pack_inputs  # noqa: E402

DOS_TIME = (2021, 3, 4, 5, 6, 8)
UT_MODIFIED = 1600000000
UT_ACCESSED = 1500000000
UT_CREATED = 1400000000
UT_NEGATIVE = -31536000  # 1969-01-01
UT_TAG = 0x5455


# ----------------------------------------------------------------- structures

def field_offsets(fmt):
    """Byte offset of every field of a struct format such as "<4s2B4HL2L2H"."""
    order, offsets, position = fmt[0], [], 0
    for count, code in re.findall(r"(\d*)([a-zA-Z])", fmt[1:]):
        n = int(count) if count else 1
        if code == "s":
            offsets.append(position)
            position += n
            continue
        size = struct.calcsize(order + code)
        for _ in range(n):
            offsets.append(position)
            position += size
    return offsets


LOCAL = field_offsets(zipfile.structFileHeader)
CENTRAL = field_offsets(zipfile.structCentralDir)
LOCAL_SIZE = struct.calcsize(zipfile.structFileHeader)
CENTRAL_SIZE = struct.calcsize(zipfile.structCentralDir)


def field_format(fmt, index):
    codes = []
    for count, code in re.findall(r"(\d*)([a-zA-Z])", fmt[1:]):
        if code == "s":
            codes.append(count + code)
        else:
            codes.extend(code * (int(count) if count else 1))
    return fmt[0] + codes[index]


def directory_records(data):
    """(name bytes, directory record offset, local header offset) of every entry."""
    end = data.rindex(zipfile.stringEndArchive)
    endrec = struct.unpack_from(zipfile.structEndArchive, data, end)
    offset = endrec[zipfile._ECD_OFFSET]
    records = []
    for _ in range(endrec[zipfile._ECD_ENTRIES_TOTAL]):
        fields = struct.unpack_from(zipfile.structCentralDir, data, offset)
        assert fields[zipfile._CD_SIGNATURE] == zipfile.stringCentralDir
        name_length = fields[zipfile._CD_FILENAME_LENGTH]
        name = data[offset + CENTRAL_SIZE:offset + CENTRAL_SIZE + name_length]
        records.append((name, offset, fields[zipfile._CD_LOCAL_HEADER_OFFSET]))
        offset += (CENTRAL_SIZE + name_length + fields[zipfile._CD_EXTRA_FIELD_LENGTH] +
                   fields[zipfile._CD_COMMENT_LENGTH])
    return records


def find_record(data, name):
    for record in directory_records(data):
        if record[0] == name:
            return record
    raise KeyError(name)


def set_local(data, local_offset, index, value):
    struct.pack_into(field_format(zipfile.structFileHeader, index), data,
                     local_offset + LOCAL[index], value)


def set_central(data, central_offset, index, value):
    struct.pack_into(field_format(zipfile.structCentralDir, index), data,
                     central_offset + CENTRAL[index], value)


def get_central(data, central_offset, index):
    return struct.unpack_from(field_format(zipfile.structCentralDir, index), data,
                              central_offset + CENTRAL[index])[0]


def patch_entry(data, name, crc=None, usize=None, method=None, flags_or=0, flags_clear=0,
                new_name=None, external=None):
    """Changes an entry's fields in its local header and its directory record."""
    _, central, local = find_record(data, name)
    pairs = [(crc, zipfile._FH_CRC, zipfile._CD_CRC),
             (usize, zipfile._FH_UNCOMPRESSED_SIZE, zipfile._CD_UNCOMPRESSED_SIZE),
             (method, zipfile._FH_COMPRESSION_METHOD, zipfile._CD_COMPRESS_TYPE)]
    for value, local_index, central_index in pairs:
        if value is not None:
            set_local(data, local, local_index, value)
            set_central(data, central, central_index, value)
    if flags_or or flags_clear:
        flags = (get_central(data, central, zipfile._CD_FLAG_BITS) | flags_or) & ~flags_clear
        set_local(data, local, zipfile._FH_GENERAL_PURPOSE_FLAG_BITS, flags)
        set_central(data, central, zipfile._CD_FLAG_BITS, flags)
    if external is not None:  # zipfile's writestr turns 0 into 0o600 << 16
        set_central(data, central, zipfile._CD_EXTERNAL_FILE_ATTRIBUTES, external)
    if new_name is not None:
        assert len(new_name) == len(name)
        data[local + LOCAL_SIZE:local + LOCAL_SIZE + len(name)] = new_name
        data[central + CENTRAL_SIZE:central + CENTRAL_SIZE + len(name)] = new_name


def entry(name, data=b"", system=3, attributes=None, extra=b"", method=zipfile.ZIP_STORED,
          date_time=DOS_TIME):
    info = zipfile.ZipInfo(name, date_time)
    info.create_system = system
    if attributes is None:
        attributes = (0o40755 << 16) | 0x10 if name.endswith("/") else 0o100644 << 16
    info.external_attr = attributes
    info.extra = extra
    info.compress_type = method
    return info, data


def zip_bytes(entries):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as archive:
        for info, data in entries:
            archive.writestr(info, data)
    return bytearray(out.getvalue())


def ut_block(flags, *times, size=None):
    body = struct.pack("<B", flags) + b"".join(struct.pack("<i", t) for t in times)
    return struct.pack("<HH", UT_TAG, len(body) if size is None else size) + body


def pattern(length, step):
    return bytes((i * step + i // 256) % 251 for i in range(length))


def text_pattern(length):
    words = b"velmar playback archive entry data "
    return (words * (length // len(words) + 1))[:length]


# ----------------------------------------------------------------- encryption

def crc_step(crc, byte):
    return zlib.crc32(bytes([byte]), crc ^ 0xFFFFFFFF) ^ 0xFFFFFFFF


class TraditionalCipher:
    def __init__(self, password):
        self.keys = [0x12345678, 0x23456789, 0x34567890]
        for byte in password:
            self.update(byte)

    def update(self, plain):
        k0 = crc_step(self.keys[0], plain)
        k1 = ((self.keys[1] + (k0 & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        k2 = crc_step(self.keys[2], k1 >> 24)
        self.keys = [k0, k1, k2]

    def stream(self):
        temp = (self.keys[2] | 2) & 0xFFFF
        return ((temp * (temp ^ 1)) >> 8) & 0xFF

    def encrypt(self, data):
        out = bytearray()
        for plain in data:
            out.append(plain ^ self.stream())
            self.update(plain)
        return bytes(out)

    def decrypt(self, data):
        out = bytearray()
        for cipher in data:
            plain = cipher ^ self.stream()
            self.update(plain)
            out.append(plain)
        return bytes(out)


def dos_time_field(date_time):
    hour, minute, second = date_time[3:6]
    return (hour << 11) | (minute << 5) | (second // 2)


def encrypt_entry(content, password, check_byte, seed):
    rng = random.Random(seed)
    header = bytes(rng.randrange(256) for _ in range(11)) + bytes([check_byte])
    return TraditionalCipher(password).encrypt(header + content)


def add_encrypted(entries, patches, name, content, password=b"", deflate=False,
                  descriptor=False, seed=1):
    stored = content
    if deflate:
        compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
        stored = compressor.compress(content) + compressor.flush()
    crc = zlib.crc32(content)
    check = (dos_time_field(DOS_TIME) >> 8) if descriptor else (crc >> 24)
    data = encrypt_entry(stored, password, check, seed)
    if password != b"":
        # An entry meant to fail: make sure the empty password does not fit by chance.
        while TraditionalCipher(b"").decrypt(data[:12])[11] == check:
            seed += 1
            data = encrypt_entry(stored, password, check, seed)
    entries.append(entry(name, data, system=0, attributes=0x20))
    patches.append(dict(name=name.encode(), crc=crc, usize=len(content),
                        method=zipfile.ZIP_DEFLATED if deflate else zipfile.ZIP_STORED,
                        flags_or=0x01 | (0x08 if descriptor else 0)))


def check_encryption_against_zipfile(workdir):
    """Runs the encryption code with a password zipfile accepts and reads it back."""
    # With the password "abc", zipfile itself must decrypt the entry to its content.
    entries, patches = [], []
    add_encrypted(entries, patches, "abc.txt", text_pattern(3000), password=b"abc", deflate=True)
    data = zip_bytes(entries)
    for patch in patches:
        patch_entry(data, **patch)
    with zipfile.ZipFile(io.BytesIO(bytes(data))) as archive:
        assert archive.read("abc.txt", pwd=b"abc") == text_pattern(3000)
    # The empty password: zipfile's decrypter (its public API refuses b"").
    decrypter = getattr(zipfile, "_ZipDecrypter", None)
    if decrypter is not None:
        sample = encrypt_entry(b"empty password sample", b"", 0x5A, 7)
        decrypt = decrypter(b"")
        assert decrypt(sample)[12:] == b"empty password sample"


# ----------------------------------------------------------------- archives

def attributes_zip():
    data = zip_bytes([
        entry("fat_archive_readonly.txt", b"x", system=0, attributes=0x21),
        entry("fat_plain.txt", b"x", system=0, attributes=0x00),
        entry("fat_hidden_system.txt", b"x", system=0, attributes=0x26),
        entry("fat_extra_bits.txt", b"x", system=0, attributes=(0o100444 << 16) | 0xC0 | 0x20),
        entry("mac_readonly.txt", b"x", system=7, attributes=0x01),
        entry("ntfs_hidden.txt", b"x", system=11, attributes=0x22),
        entry("vfat_system.txt", b"x", system=14, attributes=0x24),
        entry("ntfs_folder/", system=11, attributes=0x10),
        entry("unix_rw.txt", b"x", system=3, attributes=0o100644 << 16),
        entry("unix_ro.txt", b"x", system=3, attributes=0o100444 << 16),
        entry("unix_dos_bits.txt", b"x", system=3, attributes=(0o100644 << 16) | 0x07),
        entry("unix_folder/", system=3, attributes=(0o40755 << 16) | 0x10),
        entry("other_host.txt", b"x", system=19, attributes=0o100444 << 16),
        entry("unix_zero.txt", b"x", system=3, attributes=0),
    ])
    patch_entry(data, b"unix_zero.txt", external=0)
    return data


def times_zip():
    other_block = struct.pack("<HHBBIBI", 0x7875, 11, 1, 4, 1000, 4, 1000)
    four_byte_field = struct.pack("<HH", UT_TAG, 5)
    # The content right after that field looks like a timestamp block's data.
    lure = struct.pack("<Bi", 1, UT_MODIFIED)
    return zip_bytes([
        entry("dos_only.txt", b"dos"),
        entry("ut_mtime.txt", b"m", extra=ut_block(1, UT_MODIFIED)),
        entry("ut_all.txt", b"all", extra=ut_block(7, UT_MODIFIED, UT_ACCESSED, UT_CREATED)),
        entry("ut_flags_short.txt", b"short", extra=ut_block(7, UT_MODIFIED)),
        entry("ut_after_other.txt", b"other", extra=other_block + ut_block(1, UT_MODIFIED)),
        entry("ut_twice.txt", b"twice", extra=ut_block(1, UT_MODIFIED) + ut_block(1, UT_ACCESSED)),
        entry("ut_negative.txt", b"neg", extra=ut_block(1, UT_NEGATIVE)),
        entry("ut_access_only.txt", b"a", extra=ut_block(2, UT_ACCESSED)),
        entry("ut_no_flags_data.txt", b"n", extra=ut_block(1, size=0) + b"\0"),
        entry("extra_four_bytes.txt", lure, extra=four_byte_field),
        entry("invalid_month.txt", b"m0", date_time=(2021, 0, 4, 5, 6, 8)),
        entry("invalid_day.txt", b"d30", date_time=(2021, 2, 30, 5, 6, 8)),
        entry("invalid_seconds.txt", b"s62", date_time=(2021, 3, 4, 5, 6, 62)),
        entry("invalid_with_ut.txt", b"ut", date_time=(2021, 0, 4, 5, 6, 8),
              extra=ut_block(1, UT_MODIFIED)),
    ])


def data_zip():
    return zip_bytes([
        entry("stored_big.bin", pattern(50000, 7)),
        entry("deflated_big.bin", text_pattern(70000), method=zipfile.ZIP_DEFLATED),
        entry("deflated_random.bin", pattern(40000, 13), method=zipfile.ZIP_DEFLATED),
        entry("empty.txt", b""),
        entry("empty_deflated.txt", b"", method=zipfile.ZIP_DEFLATED),
        entry("bzip2.txt", text_pattern(1000), method=zipfile.ZIP_BZIP2),
        entry("missing_folder/file.txt", b"needs its folder"),
        entry("x/y/"),
        entry("x/y/inside.txt", b"inside x/y"),
    ])


def damaged_zip():
    data = zip_bytes([
        entry("good_first.txt", b"good first"),
        entry("bad_crc.txt", b"content whose CRC-32 is wrong"),
        entry("bad_crc_deflated.txt", text_pattern(30000), method=zipfile.ZIP_DEFLATED),
        entry("short_content.txt", text_pattern(2000), method=zipfile.ZIP_DEFLATED),
        entry("long_content.txt", text_pattern(2000)),
        entry("good_last.txt", b"good last"),
    ])
    for name in (b"bad_crc.txt", b"bad_crc_deflated.txt"):
        _, central, _ = find_record(data, name)
        patch_entry(data, name, crc=get_central(data, central, zipfile._CD_CRC) ^ 1)
    # The content ends 10 bytes before the declared size (CRC-32 of the real content).
    patch_entry(data, b"short_content.txt", usize=2010)
    # The stored content goes on past the declared size.
    patch_entry(data, b"long_content.txt", usize=1000)
    return data


def bad_local_zip():
    data = zip_bytes([
        entry("first.txt", b"first"),
        entry("mismatch.zip", b"method differs"),
        entry("nosignature.txt", b"no signature"),
        entry("last.txt", b"last"),
    ])
    _, _, local = find_record(data, b"mismatch.zip")
    set_local(data, local, zipfile._FH_COMPRESSION_METHOD, zipfile.ZIP_DEFLATED)
    _, _, local = find_record(data, b"nosignature.txt")
    set_local(data, local, zipfile._FH_SIGNATURE, zipfile.stringCentralDir)
    return data


def bad_extra_zip():
    data = zip_bytes([entry("first.txt", b"first"), entry("unreadable_extra.txt", b"x")])
    _, _, local = find_record(data, b"unreadable_extra.txt")
    set_local(data, local, zipfile._FH_EXTRA_FIELD_LENGTH, 0xFFFF)
    return data


def bad_directory_zip():
    data = zip_bytes([entry("first.txt", b"first"), entry("second.txt", b"second"),
                      entry("third.txt", b"third")])
    _, central, _ = find_record(data, b"second.txt")
    set_central(data, central, zipfile._CD_SIGNATURE, zipfile.stringFileHeader)
    return data


def encrypted_zip(workdir):
    check_encryption_against_zipfile(workdir)
    entries, patches = [], []
    add_encrypted(entries, patches, "secret_stored.txt", b"stored secret content\n")
    add_encrypted(entries, patches, "secret_deflated.txt", text_pattern(40000), deflate=True,
                  seed=2)
    add_encrypted(entries, patches, "secret_descriptor.txt", b"descriptor secret\n",
                  descriptor=True, seed=3)
    add_encrypted(entries, patches, "wrong_password.txt", b"not for the empty password\n",
                  password=b"other", seed=4)
    entries.append(entry("plain.txt", b"plain"))
    data = zip_bytes(entries)
    for patch in patches:
        patch_entry(data, **patch)
    return data


HOSTILE_NAMES = ["../evil1.txt", "..\\evil2.txt", "a/../../evil3.txt", "/evil4.txt",
                 "\\evil5.txt", "C:evil6.txt", "C:\\evil7.txt", "\\\\srv\\share\\evil8.txt",
                 "../evil_folder/"]


def names_zip():
    data = zip_bytes([
        entry("Präsentation.pdf", b"utf-8 name"),
        entry("Pr_sentation_ansi.txt", b"ansi name"),
        entry("bad_utf8_.txt", b"bad utf-8"),
        entry("nul_X_name.txt", b"nul"),
        entry("n" * 255 + ".txt", b"259 bytes"),
        entry("n" * 256 + ".txt", b"260 bytes"),
    ] + [entry(name, b"hostile") for name in HOSTILE_NAMES])
    patch_entry(data, b"Pr_sentation_ansi.txt", new_name="Präsentation_ansi.txt".encode("cp1252"))
    patch_entry(data, b"bad_utf8_.txt", new_name=b"bad_utf8" + bytes([0xFF]) + b".txt",
                flags_or=0x800)
    patch_entry(data, b"nul_X_name.txt", new_name=b"nul_" + bytes([0]) + b"_name.txt")
    return data


def small_zip(files):
    return bytes(zip_bytes([entry(name, content) for name, content in files]))


def payload_zip(workdir):
    # Both carry a read-only, hidden desktop.ini: the inner one replaces it.
    inner = bytes(zip_bytes([entry("inner_file.txt", b"from inner.zip"),
                             entry("sub/deep.txt", b"deep"), entry("dup.txt", b"inner"),
                             entry("desktop.ini", b"inner ini", system=0, attributes=0x23)]))
    entries = [
        entry("readme.txt", b"top readme"),
        entry("docs/guide.txt", b"guide"),
        entry("data/maps/"),
        entry("a\\b\\c.dat", b"backslash folders"),
        entry("dup.txt", b"outer"),
        entry("desktop.ini", b"outer ini", system=0, attributes=0x23),
        entry("inner.zip", inner),
        entry("NESTED.ZIP", small_zip([("upper_marker.txt", b"upper")])),
        entry("notes.zip.txt", small_zip([("notes_marker.txt", b"notes")])),
        entry("old.zip/"),
        entry("inner.cab", pack_inputs.cabinet({"cab_file.txt": b"from the cabinet\n"})),
        entry("Ωmega.cab", pack_inputs.cabinet({"omega_file.txt": b"omega\n"})),
        entry("../escape.zip", small_zip([("escaped_marker.txt", b"escaped")])),
        entry("sub/../../escape2.txt", b"escape"),
        entry("C:evil.txt", b"drive"),
        entry("/rooted.txt", b"rooted"),
        entry("\\\\srv\\share\\unc.txt", b"unc"),
        entry("last.txt", b"last entry"),
    ]
    return zip_bytes(entries)


def empty_with_comment():
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as archive:
        archive.comment = b"an archive without entries"
    return out.getvalue()


def chain_zip(levels=10):
    """level 0 holds marker_0.txt and level1.zip, which holds marker_1.txt and level2.zip..."""
    data = small_zip([("marker_%d.txt" % levels, b"level %d" % levels)])
    for level in range(levels - 1, -1, -1):
        data = small_zip([("marker_%d.txt" % level, b"level %d" % level),
                          ("level%d.zip" % (level + 1), data)])
    return data


def build(outdir):
    target = pathlib.Path(outdir) / "zip"
    target.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        archives = {
            "attributes.zip": attributes_zip(),
            "times.zip": times_zip(),
            "data.zip": data_zip(),
            "damaged.zip": damaged_zip(),
            "bad_local.zip": bad_local_zip(),
            "bad_extra.zip": bad_extra_zip(),
            "bad_directory.zip": bad_directory_zip(),
            "encrypted.zip": encrypted_zip(work),
            "names.zip": names_zip(),
            "payload.zip": payload_zip(work),
            "empty.zip": zip_bytes([]),
            "empty_comment.zip": empty_with_comment(),
            "chain.zip": chain_zip(),
            # One good entry, then one that cannot be extracted.
            "bzip2_entry.zip": zip_bytes([entry("good.txt", b"good"),
                                          entry("packed.txt", text_pattern(500),
                                                method=zipfile.ZIP_BZIP2)]),
            "long_name.zip": small_zip([("good.txt", b"good"),
                                        ("long_" + "p" * 230 + ".txt", b"too long")]),
            # Holds an entry of its own name: writing it fails while the archive
            # is open, and following it opens the archive again.
            "selfref.zip": small_zip([("selfref.zip", b"not written")]),
            # loop_a.zip holds loop_b.zip, which holds an entry named loop_a.zip.
            "loop_a.zip": small_zip([("loop_b.zip", small_zip([("loop_a.zip", b"x")]))]),
        }
    for name, data in archives.items():
        (target / name).write_bytes(bytes(data))


if __name__ == "__main__":
    build(sys.argv[1] if len(sys.argv) > 1 else os.getcwd())
