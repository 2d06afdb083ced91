"""Inputs for the tests of packages, extraction and the packaging tool: package
bytes, zips and cabinets, a stand-in launcher stub, and payloads that the tool
must refuse, made at test time by the real tools people use (Info-ZIP, 7-Zip,
gcab, Python's zipfile)."""
import io
import os
import pathlib
import random
import shutil
import struct
import subprocess
import tempfile
import zipfile
import zlib

MARKER = b"[" + b"VLMR" + b"]"
SIGNATURE = b"PK\x03\x04"
MARKER_OFFSET = 100000


def make_zip(entries, compression=zipfile.ZIP_DEFLATED) -> bytes:
    """A zip archive from {name: bytes}; a name ending in "/" is a folder entry."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as archive:
        for name, data in entries.items():
            if name.endswith("/"):
                archive.writestr(zipfile.ZipInfo(name), b"")
            else:
                archive.writestr(name, data)
    return buffer.getvalue()


def with_raw_name(archive: bytes, placeholder: str, raw: bytes, utf8_flag: bool) -> bytes:
    """The archive with the ASCII name placeholder replaced, in its local
    header and its directory record, by the bytes raw (of the same length),
    flagged as UTF-8 or not: names no zip tool would write."""
    assert len(raw) == len(placeholder.encode())
    data = bytearray(archive)
    for signature, name_at, flag_at in ((b"PK\x03\x04", 30, 6), (b"PK\x01\x02", 46, 8)):
        start = data.index(signature)
        while data[start + name_at:start + name_at + len(raw)] != placeholder.encode():
            start = data.index(signature, start + 4)
        data[start + name_at:start + name_at + len(raw)] = raw
        flags = struct.unpack_from("<H", data, start + flag_at)[0]
        flags = flags | 0x800 if utf8_flag else flags & ~0x800
        struct.pack_into("<H", data, start + flag_at, flags)
    return bytes(data)


def overlap_bomb(files, copies=10) -> bytes:
    """A zip of files and a megabyte of zeros whose directory holds the zeros'
    record copies times, renamed: several entries sharing one stream."""
    archive = make_zip(dict(files, **{"zeros.bin": bytes(1 << 20)}))
    end = archive.rfind(b"PK\x05\x06")
    count, size, first = struct.unpack_from("<HII", archive, end + 10)
    zeros = archive.rindex(b"PK\x01\x02", first, end)
    record = archive[zeros:end]
    extra = b"".join(record[:46 + 5] + str(i).encode() + record[46 + 6:] for i in range(copies))
    records = archive[first:end] + extra
    tail = struct.pack("<4s4H2LH", b"PK\x05\x06", 0, 0, count + copies, count + copies,
                       len(records), first, 0)
    return archive[:first] + records + tail


def package_bytes(stub: bytes, locale: bytes, archive: bytes, marker_offset: int = None) -> bytes:
    """stub + zero filler up to marker_offset + marker + locale text + archive.
    By default the marker sits at 100000, or right behind a longer stub."""
    if marker_offset is None:
        marker_offset = max(MARKER_OFFSET, len(stub))
    if len(stub) > marker_offset:
        raise ValueError("the stub is longer than the marker offset")
    return stub + bytes(marker_offset - len(stub)) + MARKER + locale + archive


def synthetic_stub(size, seed=1, subsystem=2):
    """Bytes that pass for a launcher stub: PE headers of a GUI program, the
    launcher's name as UTF-16, then random bytes without marker or signature."""
    header = bytearray(0x200)
    header[0:2] = b"MZ"
    struct.pack_into("<I", header, 0x3C, 0x80)
    header[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", header, 0x84, 0x8664, 0, 0, 0, 0, 240, 0x22)
    struct.pack_into("<H", header, 0x98, 0x20B)
    struct.pack_into("<H", header, 0x98 + 68, subsystem)
    struct.pack_into("<I", header, 0x98 + 108, 16)
    body = bytearray(random.Random(seed).randbytes(max(size - 0x200 - 30, 0)))
    for pattern in (MARKER, SIGNATURE):
        at = body.find(pattern)
        while at >= 0:
            body[at] ^= 0xFF
            at = body.find(pattern)
    return bytes(header + "velmar-launcher".encode("utf-16-le") + body)[:size]


def tree(folder, files):
    """Writes {name: bytes} below folder; returns folder."""
    folder = pathlib.Path(folder)
    for name, data in files.items():
        path = folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return folder


def cabinet(files, times=None) -> bytes:
    """A cabinet made by gcab (MSZIP) from {relative name: bytes}, members in
    that order; times maps names to the Unix time of their file, which gcab
    stores as a date and time of day in UTC."""
    with tempfile.TemporaryDirectory() as work:
        source = tree(pathlib.Path(work) / "src", files)
        for name, stamp in (times or {}).items():
            os.utime(source / name, (stamp, stamp))
        target = pathlib.Path(work) / "out.cab"
        subprocess.run(["gcab", "-c", "-z", str(target), *files], cwd=source, check=True,
                       stdout=subprocess.DEVNULL, env=dict(os.environ, TZ="UTC"))
        return target.read_bytes()


CLIENT_FILES = {"bin/velmar.exe": b"MZ client " * 50,
                "properties/offlineplayback.pbcf": b"url=%local%\n",
                "media/notes.txt": b"some notes to compress " * 200}


def reference_like_files(client: bytes, count=300, seed=7):
    """{name: bytes} of a payload like the ones people publish, a few hundred
    files: the client as bin/velmar.exe, its configuration with every token,
    an event name file, html pages, images that do not compress and a nested
    zip of more pages."""
    rng = random.Random(seed)
    files = {"bin/velmar.exe": client,
             "properties/offlineplayback.pbcf":
                 b"base=%local%\nlocale=%locl%_%locc%\ntitle=%eventname%\n",
             "eventname.prop": b"eventname=Spring Review\n"}
    pages = max(count - len(files) - 1, 2)
    for n in range(pages):
        if n % 5 == 0:
            files[f"media/img{n:04}.jpg"] = rng.randbytes(rng.randrange(2000, 20000))
        else:
            files[f"content/page{n:04}.html"] = (b"<p>%d</p>" % n) * rng.randrange(10, 200)
    files["content/more.zip"] = make_zip({f"content/more/page{n}.html": b"<p>more</p>" * 20
                                          for n in range(20)})
    # In name order, as velmar-pack writes them: the configuration comes last,
    # and is rewritten right after it was written.
    return dict(sorted(files.items()))


def refused_payloads(work):
    """(label, payload path, phrase of the refusal) for every payload the
    tool must refuse; rows whose tool is missing are left out."""
    work = pathlib.Path(work)
    rows = []
    good = tree(work / "good", CLIENT_FILES)

    def zip_with(label, phrase, *options):
        target = work / f"{label}.zip"
        if shutil.which("zip"):
            subprocess.run(["zip", "-q", "-r", *options, target, "."], cwd=good, check=True)
            rows.append((label, target, phrase))

    zip_with("infozip-bzip2", "bzip2", "-Z", "bzip2")
    zip_with("infozip-password", "encrypted", "-P", "secret")
    if shutil.which("7z"):
        target = work / "7z-deflate64.zip"
        subprocess.run(["7z", "a", "-tzip", "-mm=Deflate64", "-bd", "-bso0", target, "."],
                       cwd=good, check=True)
        rows.append(("7z-deflate64", target, "Deflate64"))
    target = work / "python-lzma.zip"
    with zipfile.ZipFile(target, "w", zipfile.ZIP_LZMA) as archive:
        for name, data in CLIENT_FILES.items():
            archive.writestr(name, data)
    rows.append(("python-lzma", target, "LZMA"))
    if shutil.which("zip"):
        (work / "outer").mkdir()
        shutil.copytree(good, work / "outer" / "sample")
        target = work / "one-folder.zip"
        subprocess.run(["zip", "-q", "-r", target, "sample"], cwd=work / "outer", check=True)
        rows.append(("zip-r-one-folder", target, "pack that folder"))
    rows.append(("no-client", tree(work / "noclient", {"media/a.txt": b"a"}),
                 "no bin/velmar.exe and no bin/launcher.exe"))
    utf16 = tree(work / "utf16", dict(CLIENT_FILES, **{
        "properties/offlineplayback.pbcf": "url=%local%\n".encode("utf-16")}))
    rows.append(("utf16-configuration", utf16, "UTF-16"))
    latin = tree(work / "latin1", dict(CLIENT_FILES, **{"eventname.prop": b"key=Caf\xe9\n"}))
    rows.append(("latin1-event-name", latin, "not UTF-8"))
    readonly = tree(work / "readonly", CLIENT_FILES)
    os.chmod(readonly / "properties" / "offlineplayback.pbcf", 0o444)
    rows.append(("read-only-configuration", readonly, "read-only"))
    long_name = tree(work / "longname", dict(CLIENT_FILES, **{"media/" + "n" * 220: b"x"}))
    rows.append(("name-of-226-bytes", long_name, "226 characters"))
    target = work / "device.zip"
    with zipfile.ZipFile(target, "w") as archive:
        for name, data in dict(CLIENT_FILES, **{"media/aux.txt": b"x"}).items():
            archive.writestr(name, data)
    rows.append(("device-name", target, "Windows device"))
    target = work / "bad-crc.zip"
    with zipfile.ZipFile(target, "w", zipfile.ZIP_STORED) as archive:
        for name, data in CLIENT_FILES.items():
            archive.writestr(name, data)
    damaged = bytearray(target.read_bytes())
    damaged[damaged.index(b"some notes")] ^= 0x20
    target.write_bytes(bytes(damaged))
    rows.append(("bad-crc", target, "media/notes.txt: its data does not match its CRC-32"))
    return rows


def icon_pixels(size: int, seed: int = 0) -> bytes:
    """Opaque BGRA pixels, top row first, different for every size and seed,
    in blocks of 4 pixels so that a PNG of 256 stays small."""
    return b"".join(bytes(((x // 4 * 37 + seed) & 0xFF, (y // 4 * 23 + size) & 0xFF,
                           ((x // 4) ^ (y // 4)) * 11 & 0xFF, 255))
                    for y in range(size) for x in range(size))


def _bmp_image(size: int, pixels: bytes) -> bytes:
    rows = [pixels[y * size * 4:(y + 1) * size * 4] for y in range(size)]
    mask = ((size + 31) // 32) * 4 * size
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(reversed(rows)) + bytes(mask)


def _png_image(size: int, pixels: bytes) -> bytes:
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data))
    rgba = bytearray(pixels)
    rgba[0::4], rgba[2::4] = pixels[2::4], pixels[0::4]
    raw = b"".join(b"\0" + bytes(rgba[y * size * 4:(y + 1) * size * 4]) for y in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def icon_file(images):
    """An .ico file from [(size, "bmp" or "png")]: its bytes and {size: the
    BGRA pixels of that image}."""
    pixels = {size: icon_pixels(size, index) for index, (size, _) in enumerate(images)}
    data = [(_png_image if kind == "png" else _bmp_image)(size, pixels[size])
            for size, kind in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, _), image in zip(images, data):
        out += struct.pack("<BBBBHHII", size & 0xFF, size & 0xFF, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(data), pixels


BRANDING = {"--product-name": "Spring Review 2026", "--description": "Spring Review playback",
            "--company": "Acme Événements", "--copyright": "© 2026 Acme ✓",
            "--product-version": "2.1", "--file-version": "2.1.0.7"}
BRANDED_ICON = [(16, "bmp"), (32, "bmp"), (48, "png"), (256, "png")]


def branding_options(icon_path) -> list:
    """The options of the branded-package tests, with an icon file."""
    return ["--icon", str(icon_path)] + [part for item in BRANDING.items() for part in item]


def refused_brandings(work, real_stub: bool):
    """(label, options, phrase of the refusal) for branding the tool must
    refuse; the icon too large to fit needs the real launcher stub."""
    work = pathlib.Path(work)
    work.mkdir(parents=True, exist_ok=True)
    good, _ = icon_file([(16, "bmp"), (32, "png")])
    files = {"png-as-icon": (_png_image(16, icon_pixels(16)), "it is a PNG image"),
             "bmp-as-icon": (b"BM" + bytes(60), "it is a BMP image"),
             "truncated-icon": (good[:len(good) - 40], "truncated"),
             "inconsistent-icon": (good[:6] + bytes([48, 48]) + good[8:], "disagrees"),
             "icon-of-8-pixels": (icon_file([(8, "bmp")])[0], "8x8 pixels")}
    if real_stub:
        files["icon-too-large"] = (icon_file([(256, "bmp")])[0], "bytes are left for it")
    rows = []
    for label, (data, phrase) in files.items():
        (work / f"{label}.ico").write_bytes(data)
        rows.append((label, ["--icon", str(work / f"{label}.ico")], phrase))
    for version in ["1.2.3.4.5", "65536", "2.1-beta"]:
        rows.append((f"version-{version}", ["--product-version", version], "not one to four"))
    rows.append(("file-version", ["--file-version", "1.2.3.99999"], "not one to four"))
    rows.append(("control-character", ["--company", "Acme\nInc"], "control character"))
    rows.append(("long-text", ["--description", "é" * 257], "257 characters long"))
    return rows


def pe_layout_problems(data: bytes):
    """What is wrong with the PE headers of the program data starts with,
    read with struct alone: sections in order, contiguous and aligned in the
    file and in memory, the resource and relocation directories within their
    sections, the image size and the checksum of the whole file. Returns the
    list and where the last section's data ends."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], \
        struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    section_align, file_align = struct.unpack_from("<II", data, optional + 32)
    image_size, _, checksum = struct.unpack_from("<III", data, optional + 56)
    directories = [struct.unpack_from("<II", data, optional + 112 + 8 * i) for i in range(16)]
    sections = [struct.unpack_from("<8sIIII", data, optional + optional_size + 40 * i)
                for i in range(count)]
    problems, raw_end, memory_end = [], None, None
    for name, vsize, address, raw_size, raw_at in sections:
        name = name.rstrip(b"\0").decode()
        if address % section_align or (memory_end and address != memory_end):
            problems.append(f"{name} at {address:#x} does not follow at {memory_end:#x}")
        memory_end = (address + vsize + section_align - 1) // section_align * section_align
        if raw_size and (raw_at % file_align or raw_size % file_align or
                         (raw_end and raw_at != raw_end) or raw_size < vsize):
            problems.append(f"{name}'s file data at {raw_at:#x} is not aligned or contiguous")
        raw_end = raw_at + raw_size if raw_size else raw_end
        for index in (2, 5):
            rva, size = directories[index]
            if address <= rva < address + vsize and rva + size > address + vsize:
                problems.append(f"directory {index} reaches past {name}")
    for index in (2, 5):
        rva, size = directories[index]
        if not any(a <= rva and rva + size <= a + v for _, v, a, _, _ in sections):
            problems.append(f"directory {index} lies in no section")
    if image_size != memory_end:
        problems.append(f"image size {image_size:#x} instead of {memory_end:#x}")
    blank = bytearray(data)
    blank[optional + 64:optional + 68] = bytes(4)
    blank += bytes(len(blank) % 2)
    total = 0
    for (word,) in struct.iter_unpack("<H", bytes(blank)):
        total = (total & 0xFFFF) + (total >> 16) + word
    total = (total & 0xFFFF) + (total >> 16)
    if checksum != ((total & 0xFFFF) + (total >> 16)) + len(data):
        problems.append(f"checksum {checksum:#x} is not that of the file")
    return problems, raw_end


def directory_bytes(data: bytes, index: int) -> bytes:
    """The bytes a PE data directory entry names, found through the section
    table (index 5: the base relocations, which must move unchanged)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], \
        struct.unpack_from("<H", data, pe + 20)[0]
    rva, size = struct.unpack_from("<II", data, pe + 24 + 112 + 8 * index)
    for i in range(count):
        _, vsize, address, _, raw_at = struct.unpack_from("<8sIIII", data,
                                                          pe + 24 + optional_size + 40 * i)
        if address <= rva < address + vsize:
            return data[raw_at + rva - address:raw_at + rva - address + size]
    return b""


def sign(source, target, work):
    """Signs a PE file with osslsigncode and a certificate made for the test."""
    work = pathlib.Path(work)
    key, cert = work / "sign-key.pem", work / "sign-cert.pem"
    if not cert.exists():
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                        key, "-out", cert, "-days", "2", "-subj", "/CN=test"],
                       check=True, capture_output=True)
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", source,
                    "-out", target], check=True, capture_output=True)


def certificate_table_offset(data: bytes) -> int:
    """Where the PE headers say the certificate table begins (PE32+)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<I", data, pe + 24 + 112 + 32)[0]


def _entry_data(archive: bytes, name: str):
    """Offset and packed length of an entry's data in zip bytes."""
    with zipfile.ZipFile(io.BytesIO(archive)) as z:
        info = z.getinfo(name)
    name_length, extra_length = struct.unpack_from("<HH", archive, info.header_offset + 26)
    return info.header_offset + 30 + name_length + extra_length, info.compress_size


def _flipped(data: bytes, at: int) -> bytes:
    damaged = bytearray(data)
    damaged[at] ^= 0x55
    return bytes(damaged)


def damaged_packages(good: bytes, work, signed: bytes = None):
    """(label, file, phrase naming the place) for damaged forms of a package
    made from the sample payload: cut short, a flipped byte in an entry's
    data, in the nested zip and in the cabinet, a cabinet member named as a
    device, and (given a signed copy) a flipped byte in its signature table."""
    work = pathlib.Path(work)
    work.mkdir(parents=True, exist_ok=True)
    archive_at = good.index(SIGNATURE, good.index(MARKER, MARKER_OFFSET))
    head, archive = good[:archive_at], good[archive_at:]
    with zipfile.ZipFile(io.BytesIO(archive)) as z:
        media, slides = z.read("media.zip"), z.read("slides.cab")
    inner = zipfile.ZipFile(io.BytesIO(media)).infolist()[-1].filename

    def rezipped(name, data):
        buffer = io.BytesIO()
        with zipfile.ZipFile(io.BytesIO(archive)) as source, \
                zipfile.ZipFile(buffer, "w") as target:
            for info in source.infolist():
                target.writestr(info, data if info.filename == name else source.read(info))
        return head + buffer.getvalue()

    at, length = _entry_data(archive, "bin/velmar.exe")
    inner_at, inner_length = _entry_data(media, inner)
    forms = [("cut-short", head + archive[:len(archive) // 2], "archive: "),
             ("entry-data", head + _flipped(archive, at + length // 2),
              "bin/velmar.exe: its data does not match its CRC-32"),
             ("nested-zip", rezipped("media.zip", _flipped(media, inner_at + inner_length // 2)),
              f"media.zip: {inner}: "),
             ("cabinet", rezipped("slides.cab", _flipped(slides, len(slides) - 8)),
              "slides.cab: the cabinet is damaged"),
             ("cabinet-member-name",
              rezipped("slides.cab", cabinet({"ok.txt": b"ok", "sub/CON.txt": b"device"})),
              "slides.cab: sub/CON.txt: ")]
    if signed is not None:
        forms.append(("signature-table",
                      _flipped(signed, certificate_table_offset(signed) + 3), "signature: "))
    rows = []
    for label, data, phrase in forms:
        (work / f"{label}.exe").write_bytes(data)
        rows.append((label, work / f"{label}.exe", phrase))
    return rows
