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
