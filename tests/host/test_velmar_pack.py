"""velmar-pack, the host build: packages it writes, packages it refuses, and
what --inspect reports. Every package is read back with Python's zipfile and
by parsing the bytes, never through the tool itself."""
import datetime
import io
import json
import os
import pathlib
import random
import shutil
import stat
import struct
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
import zoneinfo

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "test_support"))
import pack_inputs  # noqa: E402

TOOL = os.environ.get("VELMAR_PACK", "velmar-pack")
STUB = pathlib.Path(os.environ.get("VELMAR_LAUNCHER_STUB", "/nonexistent"))

MARKER = pack_inputs.MARKER
SEARCH_START = 100000
SEARCH_END = 500000
SIGNATURE = pack_inputs.SIGNATURE
# A fixed modification time with odd seconds: DOS times keep only even ones.
MTIME = 1614834367  # 2021-03-04 05:06:07 UTC
ZONE = "Asia/Kolkata"


def run_tool(*args, zone=ZONE, epoch=None):
    env = dict(os.environ, TZ=zone)
    env.pop("SOURCE_DATE_EPOCH", None)
    if epoch is not None:
        env["SOURCE_DATE_EPOCH"] = str(epoch)
    return subprocess.run([TOOL, *[os.fsencode(a) if isinstance(a, str) else a for a in args]],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, timeout=120)


def synthetic_launcher(size, seed=1):
    """Launcher stand-in bytes without the marker or a zip signature."""
    return pack_inputs.synthetic_stub(size, seed)


def folder_snapshot(folder):
    return {p.name: "folder" if p.is_dir() else p.read_bytes()
            for p in pathlib.Path(folder).iterdir()}


def local_header_extra(archive: bytes, offset: int) -> bytes:
    signature, = struct.unpack_from("<I", archive, offset)
    assert signature == 0x04034B50
    name_length, extra_length = struct.unpack_from("<HH", archive, offset + 26)
    start = offset + 30 + name_length
    return archive[start:start + extra_length]


def timestamp_blocks(extra: bytes) -> dict:
    blocks = {}
    at = 0
    while at + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, at)
        blocks.setdefault(tag, extra[at + 4:at + 4 + size])
        at += 4 + size
    return blocks


def parse_report(text: str):
    values, entries = {}, []
    for line in text.splitlines():
        key, _, value = line.partition(":")
        value = value[1:] if value.startswith(" ") else value
        if key == "entry":
            fields = dict(part.split("=", 1) for part in value.split(" ", 3))
            entries.append(fields)
        else:
            values[key] = value
    return values, entries


class Workspace(unittest.TestCase):
    def setUp(self):
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="velmar-pack-test-"))
        self.out = self.root / "out"
        self.out.mkdir()
        self.launcher = self.root / "launcher.exe"
        self.launcher.write_bytes(synthetic_launcher(3000))
        self.payload = self.root / "payload"
        (self.payload / "bin").mkdir(parents=True)
        (self.payload / "bin" / "velmar.exe").write_bytes(b"client")
        (self.payload / "properties").mkdir()
        (self.payload / "properties" / "offlineplayback.pbcf").write_bytes(b"url=%local%\n")

    def tearDown(self):
        for path, dirs, files in os.walk(self.root):
            for name in dirs + files:
                if not os.path.islink(os.path.join(path, name)):
                    os.chmod(os.path.join(path, name), 0o755)
        shutil.rmtree(self.root)

    def pack(self, locale="en_US", launcher=None, payload=None, output=None, extra=(), **kw):
        return run_tool("--launcher", launcher or self.launcher, "--locale", locale,
                        "--payload", payload or self.payload, "--output",
                        output or self.out / "event.exe", *extra, **kw)


class Refusals(Workspace):
    """Every package the launcher could not read is refused: exit 1, one
    message, and the output folder exactly as it was."""

    def assertRefused(self, result, phrase, before=None):
        stderr = result.stderr.decode()
        self.assertEqual(result.returncode, 1, stderr)
        self.assertIn(phrase, stderr)
        self.assertEqual(len(stderr.strip().splitlines()), 1, stderr)
        self.assertEqual(result.stdout, b"")
        self.assertEqual(folder_snapshot(self.out), before or {})

    def test_launcher_whose_marker_would_start_past_the_search(self):
        self.launcher.write_bytes(synthetic_launcher(SEARCH_END + 1))
        self.assertRefused(self.pack(), "past offset 500000")

    def test_archive_that_would_begin_past_the_search(self):
        # Marker at 499990, text to 500001: one byte too far.
        self.launcher.write_bytes(synthetic_launcher(SEARCH_END - 10))
        self.assertRefused(self.pack(), "archive would begin at offset 500001")

    def test_launcher_that_holds_the_marker(self):
        data = bytearray(synthetic_launcher(150000))
        data[120000:120006] = MARKER
        self.launcher.write_bytes(bytes(data))
        self.assertRefused(self.pack(), "marker at offset 120000")
        data[120000:120006] = b"\0" * 6
        data[SEARCH_START:SEARCH_START + 6] = MARKER
        self.launcher.write_bytes(bytes(data))
        self.assertRefused(self.pack(), "marker at offset 100000")

    def test_locale_texts_the_launcher_cannot_take(self):
        for text, phrase in [("", "not of the form ll_CC"), ("en_U", "not of the form ll_CC"),
                             ("english", "\"english\""), ("x" * 260, "ll_CC"),
                             (b"en_US" + SIGNATURE, "ll_CC"), ("de-AT✓", "de-AT✓")]:
            with self.subTest(text=text[:8]):
                self.assertRefused(self.pack(locale=text), phrase)

    def test_empty_payloads(self):
        empty = self.root / "empty"
        empty.mkdir()
        self.assertRefused(self.pack(payload=empty), "is empty")
        no_entries = self.root / "none.zip"
        zipfile.ZipFile(no_entries, "w").close()
        self.assertRefused(self.pack(payload=no_entries), "has no entries")

    def test_payload_files_that_are_no_usable_zip(self):
        text = self.root / "notes.txt"
        text.write_bytes(b"not a zip archive at all\n" * 10)
        self.assertRefused(self.pack(payload=text), "neither a folder nor a readable zip")
        # A zip behind other bytes opens, but the launcher looks for PK\3\4 first.
        prefixed = self.root / "prefixed.zip"
        prefixed.write_bytes(b"prefix bytes" + pack_inputs.make_zip({"a.txt": b"a"},
                                                                   zipfile.ZIP_STORED))
        self.assertRefused(self.pack(payload=prefixed), "does not start with a local file header")

    def test_payload_parts_that_are_neither_file_nor_folder(self):
        os.mkfifo(self.payload / "bin" / "pipe")
        self.assertRefused(self.pack(), "is neither a file nor a folder")
        os.remove(self.payload / "bin" / "pipe")
        os.symlink(self.payload / "bin", self.payload / "loop")
        self.assertRefused(self.pack(), "is a link to a folder")
        os.remove(self.payload / "loop")
        os.symlink(self.root / "nowhere", self.payload / "dangling")
        self.assertRefused(self.pack(), "dangling")

    def test_missing_inputs(self):
        self.assertRefused(self.pack(launcher=self.root / "absent.exe"), "does not exist")
        self.assertRefused(self.pack(payload=self.root / "absent"), "does not exist")
        # Without --launcher, a copy of the tool with no stub where an install
        # puts it says where it looked.
        tool = self.root / "prefix" / "bin" / "velmar-pack"
        tool.parent.mkdir(parents=True)
        shutil.copy(TOOL if os.path.isabs(TOOL) else shutil.which(TOOL), tool)
        result = subprocess.run([tool, "--locale", "en_US", "-o", self.out / "e.exe",
                                 self.payload], capture_output=True)
        self.assertRefused(result, f"looked at {tool.parent}/velmar-launcher.exe and "
                                   f"{self.root}/prefix/share/velmar/velmar-launcher.exe")

    def test_outputs_that_cannot_be_written(self):
        self.assertRefused(self.pack(output=self.out / "missing" / "event.exe"), "does not exist")
        (self.out / "taken").mkdir()
        before = folder_snapshot(self.out)
        self.assertRefused(self.pack(output=self.out / "taken"), "it is a folder", before)
        self.assertRefused(self.pack(output=self.payload / "event.exe"), "inside the payload",
                           before)
        self.assertEqual(sorted(os.listdir(self.payload)), ["bin", "properties"])
        inputs = self.root / "inputs"
        inputs.mkdir()
        launcher = inputs / "launcher.exe"
        shutil.copyfile(self.launcher, launcher)
        source = inputs / "payload.zip"
        with zipfile.ZipFile(source, "w") as z:
            z.writestr("bin/velmar.exe", b"a")
        self.out, before = inputs, folder_snapshot(inputs)
        self.assertRefused(self.pack(launcher=launcher, output=launcher), "is the launcher itself",
                           before)
        self.assertRefused(self.pack(payload=source, output=source), "is the payload itself",
                           before)

    def test_refused_run_keeps_an_existing_package(self):
        (self.out / "event.exe").write_bytes(b"the earlier package")
        before = folder_snapshot(self.out)
        self.assertRefused(self.pack(locale="en"), "ll_CC", before)
        unreadable = self.payload / "bin" / "locked.dat"
        unreadable.write_bytes(b"x")
        os.chmod(unreadable, 0)
        if os.access(unreadable, os.R_OK):
            self.skipTest("running as a user who reads any file")
        self.assertRefused(self.pack(), "cannot open", before)


    def test_payloads_that_cannot_work(self):
        """Zips made by the tools people use, and folders, that would give a
        package that starts nothing: one line naming the entry or file."""
        for label, payload, phrase in pack_inputs.refused_payloads(self.root / "refused"):
            with self.subTest(label):
                self.assertRefused(self.pack(payload=payload), phrase)

    def test_launchers_that_are_no_launcher_stub(self):
        text = self.root / "notes.txt"
        text.write_bytes(b"just text\n" * 100)
        console = self.root / "console.exe"
        console.write_bytes(pack_inputs.synthetic_stub(5000, subsystem=3))
        other = self.root / "other.exe"
        other.write_bytes(pack_inputs.synthetic_stub(5000).replace(
            "velmar-launcher".encode("utf-16-le"), "someone-else123".encode("utf-16-le")))
        for launcher, phrase in [(text, "no PE headers"), (console, "console"),
                                 (other, "version information")]:
            with self.subTest(launcher.name):
                self.assertRefused(self.pack(launcher=launcher), phrase)

    def test_branding_that_cannot_be_written(self):
        launcher = STUB if STUB.is_file() else self.launcher
        for label, options, phrase in pack_inputs.refused_brandings(self.root / "icons",
                                                                    STUB.is_file()):
            with self.subTest(label):
                self.assertRefused(self.pack(launcher=launcher, extra=options), phrase)

    def test_over_2_gib_is_refused_before_writing(self):
        big = self.payload / "media" / "huge.mp4"
        big.parent.mkdir()
        with open(big, "wb") as f:
            f.truncate(2 ** 31)  # sparse: nothing is read before the refusal
        started = time.monotonic()
        self.assertRefused(self.pack(), "at most 2 GiB")
        self.assertLess(time.monotonic() - started, 5)


class Usage(Workspace):
    def test_usage_errors_exit_2(self):
        """Each names what is wrong and shows the usage line of the command
        asked for (every line when none can be told)."""
        cases = [
            ([], "no command given", "all"),
            (["--frobnicate"], "unknown option --frobnicate", "pack"),
            (["--launcher", "a", "--locale", "en_US", "--payload", "p"], "missing --output",
             "pack"),
            (["--locale", "en_US", "-o", "x.exe"], "missing the payload", "pack"),
            (["--inspect", "a", "--inspect", "b"], "--inspect given twice", "inspect"),
            (["--inspect", "a", "--locale", "en_US"], "--locale does not go with --inspect",
             "inspect"),
            (["-x", "*.tmp", "--test", "a"], "--exclude does not go with --test", "test"),
            (["--test"], "--test needs a package file", "test"),
            (["a.exe", "-t", "b.exe"], "unexpected argument b.exe", "test"),
            (["--inspect", "a", "--test", "b"], "--inspect and --test exclude each other",
             "inspect"),
            (["--launcher"], "--launcher needs a value", "pack"),
            (["--output="], "--output needs a value", "pack"),
            (["-x"], "--exclude needs a value", "pack"),
            (["p1", "p2"], "unexpected argument p2", "pack"),
            (["--payload", "p1", "p2"], "unexpected argument p2", "pack"),
            (["--level", "12"], "--level takes a number from 0 to 9", "pack"),
            (["--threads", "0"], "--threads takes a number from 1 to 256", "pack"),
            (["-q", "--quiet"], "--quiet given twice", "pack"),
            (["--json"], "--json goes with --inspect or --test", "pack"),
        ]
        usage = {"pack": "usage: velmar-pack [-q | -v]", "inspect": "usage: velmar-pack --inspect",
                 "test": "usage: velmar-pack --test"}
        for args, phrase, command in cases:
            with self.subTest(args=args):
                result = run_tool(*args)
                stderr = result.stderr.decode()
                self.assertEqual(result.returncode, 2)
                self.assertIn(phrase, stderr)
                lines = [line for line in stderr.splitlines() if line.startswith("usage:")]
                if command == "all":
                    self.assertEqual(len(lines), 4, stderr)
                else:
                    self.assertEqual(len(lines), 1, stderr)
                    self.assertTrue(lines[0].startswith(usage[command]), stderr)

    def test_options_in_any_order(self):
        self.assertEqual(self.pack().returncode, 0)
        package = str(self.out / "event.exe")
        cases = [
            (["--inspect", "--json", package], "json"),
            (["--json", "--inspect", package], "json"),
            ([f"--inspect={package}", "--json"], "json"),
            (["--inspect", package], "marker offset: 100000"),
            (["--test", package, "--json"], "json"),
            ([package, "-t"], "OK: 4 entries, 0 nested archives"),
            (["--launcher", self.launcher, self.payload, "--locale=en_US", "-o",
              self.out / "after.exe"], "wrote"),
            (["-o", self.out / "dash.exe", "--locale", "en_US", "--launcher", self.launcher,
              "--", self.payload], "wrote"),
        ]
        for args, expected in cases:
            with self.subTest(args=[str(a) for a in args]):
                result = run_tool(*args)
                self.assertEqual(result.returncode, 0, result.stderr)
                if expected == "json":
                    report = json.loads(result.stdout)
                    self.assertTrue(report.get("ok", True))
                    self.assertIn(report.get("locale", "en_US"), "en_US")
                else:
                    self.assertIn(expected, result.stdout.decode())

    def test_help_and_version(self):
        result = run_tool("--help")
        self.assertEqual(result.returncode, 0)
        self.assertIn("--inspect FILE", result.stdout.decode())
        result = run_tool("--version")
        self.assertEqual(result.returncode, 0)
        self.assertRegex(result.stdout.decode(), r"^velmar-pack \d+\.\d+\.\d+\n$")

    def test_quiet_verbose_level_and_end_of_options(self):
        (self.payload / "-odd").mkdir()
        (self.payload / "-odd" / "text.txt").write_bytes(b"text " * 1000)
        quiet = run_tool("-q", "--launcher", self.launcher, "--locale", "en_US",
                         "-o", self.out / "q.exe", "--", self.payload)
        self.assertEqual((quiet.returncode, quiet.stdout, quiet.stderr), (0, b"", b""))
        verbose = run_tool("-v", "--level", "0", "--launcher", self.launcher, "--locale", "en_US",
                           "-o", self.out / "v.exe", "--payload", self.payload)
        self.assertEqual(verbose.returncode, 0, verbose.stderr)
        self.assertIn("  adding: -odd/text.txt (stored)", verbose.stdout.decode())
        with zipfile.ZipFile(self.out / "v.exe") as z:
            self.assertEqual({i.compress_type for i in z.infolist()}, {zipfile.ZIP_STORED})
        with zipfile.ZipFile(self.out / "q.exe") as z:
            self.assertEqual(z.getinfo("-odd/text.txt").compress_type, zipfile.ZIP_DEFLATED)

    def test_progress_and_interruption_leave_no_partial_file(self):
        with open(self.payload / "big.dat", "wb") as f:
            f.truncate(3 * 2 ** 30)  # deflating this takes seconds
        for sig in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=sig):
                process = subprocess.Popen(
                    [TOOL, "--progress", "--launcher", self.launcher, "--locale", "en_US",
                     "-o", self.out / "big.exe", self.payload],
                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                line = process.stderr.read(60)  # the first progress line
                self.assertIn(b"files", line)
                process.send_signal(sig)
                _, rest = process.communicate(timeout=60)
                self.assertEqual(process.returncode, 1)
                self.assertIn(b"interrupted", rest)
                self.assertEqual(os.listdir(self.out), [])

    def test_equals_form(self):
        result = run_tool(f"--launcher={self.launcher}", "--locale=de-AT",
                          f"--payload={self.payload}", f"--output={self.out / 'e.exe'}")
        self.assertEqual(result.returncode, 0, result.stderr)


class FolderPayload(Workspace):
    def make_tree(self):
        p = self.payload
        (p / "media" / "deep" / "er").mkdir(parents=True)
        (p / "media" / "deep" / "er" / "clip.bin").write_bytes(bytes(range(256)) * 400)
        (p / "media" / "empty").mkdir()
        (p / "a-first.txt").write_bytes(b"")
        os.chmod(p / "a-first.txt", 0o444)
        for path in [*p.rglob("*"), p]:
            os.utime(path, (MTIME, MTIME), follow_symlinks=False)

    def read_package(self, path):
        data = path.read_bytes()
        marker = data.index(MARKER, SEARCH_START)
        archive_at = data.index(SIGNATURE, marker)
        return data, marker, archive_at

    def test_round_trip(self):
        self.make_tree()
        result = self.pack(locale="de-AT")
        self.assertEqual(result.returncode, 0, result.stderr)
        data, marker, archive_at = self.read_package(self.out / "event.exe")
        launcher = self.launcher.read_bytes()
        self.assertEqual(data[:len(launcher)], launcher)
        self.assertEqual(data[len(launcher):SEARCH_START], b"\0" * (SEARCH_START - len(launcher)))
        self.assertEqual(marker, SEARCH_START)
        self.assertEqual(data[marker + 6:archive_at], b"de-AT")
        archive = data[archive_at:]

        with zipfile.ZipFile(io.BytesIO(archive)) as z:
            self.assertIsNone(z.testzip())
            names = z.namelist()
            self.assertEqual(names, [
                "a-first.txt", "bin/", "bin/velmar.exe", "media/", "media/deep/",
                "media/deep/er/", "media/deep/er/clip.bin", "media/empty/", "properties/",
                "properties/offlineplayback.pbcf"])
            self.assertEqual(z.read("media/deep/er/clip.bin"), bytes(range(256)) * 400)
            self.assertEqual(z.read("a-first.txt"), b"")
            local = datetime.datetime.fromtimestamp(MTIME, datetime.timezone.utc)
            dos_time = (local.year, local.month, local.day, local.hour, local.minute,
                        local.second // 2 * 2)
            for info in z.infolist():
                with self.subTest(name=info.filename):
                    source = self.payload / info.filename.rstrip("/")
                    self.assertEqual(info.create_system, 3)
                    self.assertEqual(info.external_attr >> 16, os.stat(source).st_mode)
                    self.assertEqual(info.date_time, dos_time)
                    extra = local_header_extra(archive, info.header_offset)
                    ut = timestamp_blocks(extra)[0x5455]
                    self.assertEqual(ut[0], 1)
                    self.assertEqual(struct.unpack("<i", ut[1:5])[0], MTIME)
                    self.assertEqual(info.flag_bits & 0x8, 0)  # sizes in the local header
                    # Only what deflating shrinks is deflated.
                    expected = zipfile.ZIP_DEFLATED if info.filename.endswith(
                        "clip.bin") else zipfile.ZIP_STORED
                    self.assertEqual(info.compress_type, expected)
            first = z.getinfo("a-first.txt")
            self.assertFalse((first.external_attr >> 16) & stat.S_IWUSR)
            self.assertLess(z.getinfo("media/deep/er/clip.bin").compress_size, 102400 // 10)

    def test_same_tree_gives_the_same_bytes(self):
        """Whatever the time zone; with SOURCE_DATE_EPOCH no later time is
        stored, so a fresh checkout (new file times) gives the same bytes."""
        self.make_tree()
        self.assertEqual(self.pack(output=self.out / "one.exe").returncode, 0)
        self.assertEqual(self.pack(output=self.out / "two.exe", zone="America/Los_Angeles")
                         .returncode, 0)
        self.assertEqual((self.out / "one.exe").read_bytes(), (self.out / "two.exe").read_bytes())
        epoch = MTIME - 3600
        self.assertEqual(self.pack(output=self.out / "e1.exe", epoch=epoch).returncode, 0)
        for path in [*self.payload.rglob("*"), self.payload]:
            os.utime(path, (MTIME + 999, MTIME + 999), follow_symlinks=False)
        self.assertEqual(self.pack(output=self.out / "e2.exe", epoch=epoch,
                                   zone="Pacific/Auckland").returncode, 0)
        self.assertEqual((self.out / "e1.exe").read_bytes(), (self.out / "e2.exe").read_bytes())
        with zipfile.ZipFile(self.out / "e1.exe") as z:
            extra = local_header_extra((self.out / "e1.exe").read_bytes(),
                                       z.infolist()[0].header_offset)
            self.assertEqual(struct.unpack("<i", timestamp_blocks(extra)[0x5455][1:5])[0], epoch)
        self.assertEqual(len((self.out / "one.exe").read_bytes()) % 8, 0)
        self.assertEqual(sorted(os.listdir(self.out)), ["e1.exe", "e2.exe", "one.exe", "two.exe"])

    def test_same_bytes_on_any_number_of_threads(self):
        """Files deflated whole by workers, stored by name or by gain, empty,
        past the 1 MiB sample, and past what a worker holds (written as on
        one thread)."""
        self.make_tree()
        text = b"".join(b"line %d of the pages\n" % i for i in range(60000))
        files = {"pages/a.html": text[:5000], "pages/big.txt": text[:1500000],
                 "pages/huge.txt": text * 8, "noise.bin": random.Random(1).randbytes(70000),
                 "photo.jpg": text[:9000], "empty.txt": b""}
        for name, data in files.items():
            (self.payload / name).parent.mkdir(exist_ok=True)
            (self.payload / name).write_bytes(data)
        packed = []
        for threads in ("1", "2", "5"):
            output = self.out / f"t{threads}.exe"
            result = self.pack(output=output, extra=("--threads", threads), epoch=MTIME)
            self.assertEqual(result.returncode, 0, result.stderr)
            packed.append(output.read_bytes())
        self.assertEqual(packed[0], packed[1])
        self.assertEqual(packed[0], packed[2])
        with zipfile.ZipFile(self.out / "t2.exe") as z:
            self.assertIsNone(z.testzip())
            methods = {i.filename: i.compress_type for i in z.infolist()}
            self.assertEqual([methods[n] for n in ("pages/big.txt", "photo.jpg", "noise.bin")],
                             [zipfile.ZIP_DEFLATED, zipfile.ZIP_STORED, zipfile.ZIP_STORED])

    def test_replaces_an_existing_package(self):
        (self.out / "event.exe").write_bytes(b"old")
        self.assertEqual(self.pack().returncode, 0)
        self.assertEqual(os.listdir(self.out), ["event.exe"])
        self.assertIn(MARKER, (self.out / "event.exe").read_bytes())

    def test_names_beyond_ascii_are_utf8_and_flagged(self):
        (self.payload / "Müsik").mkdir()
        (self.payload / "Müsik" / "café.txt").write_bytes(b"x")
        result = self.pack()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, b"")
        _, _, archive_at = self.read_package(self.out / "event.exe")
        with zipfile.ZipFile(self.out / "event.exe") as z:
            info = z.getinfo("Müsik/café.txt")
            self.assertTrue(info.flag_bits & 0x800)
            self.assertEqual(z.read(info), b"x")
            self.assertFalse(z.getinfo("bin/velmar.exe").flag_bits & 0x800)

    def test_bounds_that_still_fit(self):
        # Launcher ending at 499989: marker there, archive at exactly 500000.
        self.launcher.write_bytes(synthetic_launcher(SEARCH_END - 11))
        self.assertEqual(self.pack().returncode, 0)
        data, marker, archive_at = self.read_package(self.out / "event.exe")
        self.assertEqual((marker, archive_at), (SEARCH_END - 11, SEARCH_END))
        # A marker that ends just before the search start belongs to the launcher.
        data = bytearray(synthetic_launcher(SEARCH_START))
        data[SEARCH_START - 6:SEARCH_START] = MARKER
        self.launcher.write_bytes(bytes(data))
        self.assertEqual(self.pack().returncode, 0)
        data, marker, archive_at = self.read_package(self.out / "event.exe")
        self.assertEqual((marker, archive_at), (SEARCH_START, SEARCH_START + 11))

    @unittest.skipUnless(STUB.is_file(), "no Windows launcher stub in the dist folder")
    def test_real_launcher_stub(self):
        result = self.pack(launcher=STUB)
        self.assertEqual(result.returncode, 0, result.stderr)
        data, marker, _ = self.read_package(self.out / "event.exe")
        stub = STUB.read_bytes()
        self.assertEqual(data[:len(stub)], stub)
        self.assertEqual(marker, max(len(stub), SEARCH_START))
        # Linked without a time stamp: two builds give the same bytes.
        pe = struct.unpack_from("<I", stub, 0x3C)[0]
        self.assertEqual(struct.unpack_from("<I", stub, pe + 8)[0], 0)

    @unittest.skipUnless(STUB.is_file() and shutil.which("osslsigncode"), "needs osslsigncode")
    def test_signed_stub_is_taken_without_its_signature(self):
        signed = self.root / "signed-stub.exe"
        pack_inputs.sign(STUB, signed, self.root)
        result = self.pack(launcher=signed)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("carries a code signature", result.stderr.decode())
        self.assertIn("sign the package after packing", result.stderr.decode())
        data = (self.out / "event.exe").read_bytes()
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        self.assertEqual(struct.unpack_from("<II", data, pe + 24 + 112 + 32), (0, 0))
        report = json.loads(run_tool("--inspect", self.out / "event.exe", "--json").stdout)
        self.assertIsNone(report["signature"])
        self.assertEqual(report["archive_offset"] + report["archive_size"], len(data))


@unittest.skipUnless(STUB.is_file(), "no Windows launcher stub in the dist folder")
class BrandedPackage(Workspace):
    """The stub branded with an icon and version texts: consistent PE
    headers as an outside reader sees them, the same bytes in any time zone,
    and --inspect showing every value."""

    def test_branded_stub(self):
        icon, _ = pack_inputs.icon_file(pack_inputs.BRANDED_ICON)
        (self.root / "brand.ico").write_bytes(icon)
        options = pack_inputs.branding_options(self.root / "brand.ico")
        packages = []
        for zone in (ZONE, "America/Los_Angeles"):
            output = self.out / zone.replace("/", "-") / "spring-review.exe"
            output.parent.mkdir()
            result = self.pack(launcher=STUB, output=output, extra=options, zone=zone)
            self.assertEqual(result.returncode, 0, result.stderr)
            packages.append(output.read_bytes())
        self.assertEqual(packages[0], packages[1])
        data = packages[0]
        marker = data.index(MARKER, SEARCH_START)
        problems, stub_end = pack_inputs.pe_layout_problems(data)
        self.assertEqual(problems, [])
        self.assertEqual(data[stub_end:marker], bytes(marker - stub_end))
        relocations = pack_inputs.directory_bytes(STUB.read_bytes(), 5)
        self.assertGreater(len(relocations), 0)
        self.assertEqual(pack_inputs.directory_bytes(data, 5), relocations)
        self.assertLessEqual(marker, SEARCH_END)

        report = json.loads(run_tool("--inspect", self.out / ZONE.replace("/", "-") /
                                     "spring-review.exe", "--json").stdout)
        brand, given = report["branding"], pack_inputs.BRANDING
        self.assertEqual([brand[k] for k in ("product_name", "description", "company",
                                              "copyright")],
                         [given[k] for k in ("--product-name", "--description", "--company",
                                             "--copyright")])
        self.assertEqual((brand["file_version"], brand["fixed_file_version"]),
                         ("2.1.0.7", "2.1.0.7"))
        self.assertEqual((brand["product_version"], brand["fixed_product_version"]),
                         ("2.1", "2.1.0.0"))
        self.assertEqual(brand["original_file_name"], "spring-review.exe")
        self.assertEqual(brand["icon_sizes"], ["16x16", "32x32", "48x48", "256x256"])
        self.assertEqual(report["client"]["program"], "bin/velmar.exe")
        # Without an icon the stub keeps its own; what is given changes only itself.
        plain = self.out / "plain.exe"
        self.assertEqual(self.pack(launcher=STUB, output=plain, extra=[
            "--company", "Acme", "--file-version", "65535"]).returncode, 0)
        values, _ = parse_report(run_tool("--inspect", plain).stdout.decode())
        self.assertEqual((values["company"], values["product name"], values["icon sizes"]),
                         ("Acme", "VelmarOne offline playback", "16x16 32x32 48x48"))
        self.assertEqual((values["file version"], values["product version"]),
                         ("65535.0.0.0 (65535)", "1.0.0.0 (1.0.0.0)"))


class Exclusion(Workspace):
    """-x: "*" crosses "/", "?" is one character, a folder takes its content
    along, a trailing "/" matches folders only; folder and zip payloads alike."""
    FILES = {".git/config": b"c", ".git/objects/ab": b"o", "notes.tmp": b"t",
             "media/clip.tmp": b"t", "media/Thumbs.db": b"d", "Thumbs.db": b"d",
             "media/keep.txt": b"k", "logs/a.log": b"l", "Ünï/späß.txt": b"u"}
    CASES = [
        (["*.tmp"], {"notes.tmp", "media/clip.tmp"}),
        ([".git"], {".git/", ".git/config", ".git/objects/", ".git/objects/ab"}),
        (["Thumbs.db"], {"Thumbs.db"}),
        (["*/Thumbs.db", "Thumbs.db"], {"Thumbs.db", "media/Thumbs.db"}),
        (["media/?lip.tmp", "Ünï/sp?ß.txt"], {"media/clip.tmp", "Ünï/späß.txt"}),
        (["logs/"], {"logs/", "logs/a.log"}),
        (["media/keep.txt/", "media/keep", "*.TMP"], set()),
        (["./logs/*"], {"logs/a.log"}),
    ]

    def test_patterns_on_folder_and_zip_payloads(self):
        pack_inputs.tree(self.payload, self.FILES)
        source = self.root / "payload.zip"
        with zipfile.ZipFile(source, "w", zipfile.ZIP_DEFLATED) as z:
            for path in sorted(self.payload.rglob("*")):
                name = path.relative_to(self.payload).as_posix()
                z.write(path, name + "/" if path.is_dir() else name)
        with zipfile.ZipFile(source) as z:
            everything = set(z.namelist())
        for patterns, left_out in self.CASES:
            for payload in (self.payload, source):
                with self.subTest(patterns=patterns, payload=payload.name):
                    args = [a for p in patterns for a in ("-x", p)]
                    result = self.pack(payload=payload, extra=["-v", *args])
                    self.assertEqual(result.returncode, 0, result.stderr)
                    with zipfile.ZipFile(self.out / "event.exe") as z:
                        self.assertIsNone(z.testzip())
                        self.assertEqual(set(z.namelist()), everything - left_out)
                    stdout = result.stdout.decode()
                    shown = {line.split(": ", 1)[1].split(" (-x ")[0]
                             for line in stdout.splitlines() if "leaving out:" in line}
                    # A folder's content is left out with it, unlisted; a zip
                    # lists each entry.
                    self.assertEqual(shown, left_out if payload == source else {
                        n for n in left_out if not any(n != f and n.startswith(f)
                                                       for f in left_out if f.endswith("/"))})
                    self.assertEqual("no longer byte for byte" in stdout,
                                     payload == source and bool(left_out))
                    self.assertEqual(run_tool("-t", self.out / "event.exe").returncode, 0)
        self.assertIn("no bin/velmar.exe", self.pack(extra=["-x", "bin"]).stderr.decode())


class ZipPayload(Workspace):
    def test_zip_is_taken_byte_for_byte(self):
        source = self.root / "payload.zip"
        with zipfile.ZipFile(source, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("bin/", b"")
            z.writestr("bin/velmar.exe", b"client" * 100)
            z.writestr("nested.zip", b"PK\x05\x06" + b"\0" * 18)
        result = self.pack(payload=source)
        self.assertEqual(result.returncode, 0, result.stderr)
        data = (self.out / "event.exe").read_bytes()
        archive_at = data.index(SIGNATURE, data.index(MARKER, SEARCH_START))
        self.assertEqual(data[archive_at:], source.read_bytes())
        # The filler before the marker makes the length a multiple of 8, so a
        # signature appended later follows the archive directly.
        self.assertEqual(len(data) % 8, 0)
        self.assertLess(archive_at, SEARCH_START + 11 + 8)


REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
CLIENT = STUB.parent / "velmar-client-standin.exe"


@unittest.skipUnless(STUB.is_file() and CLIENT.is_file() and shutil.which("osslsigncode")
                     and shutil.which("gcab"), "needs the Windows build, osslsigncode and gcab")
class PackageTest(Workspace):
    """--test passes the README's sample package, plain and signed, and names
    the place of each damage made to it."""

    def test_sample_signed_and_damaged_packages(self):
        sample = self.root / "sample"
        subprocess.run([REPOSITORY / "examples" / "make-sample.sh", "playback", sample],
                       check=True, capture_output=True, env=dict(os.environ, VELMAR_CLIENT=CLIENT))
        package, signed = self.out / "sample.exe", self.root / "signed.exe"
        result = self.pack(launcher=STUB, payload=sample, output=package)
        self.assertEqual(result.returncode, 0, result.stderr)
        pack_inputs.sign(package, signed, self.root)
        for path, signature in [(package, "not signed"), (signed, "signed")]:
            with self.subTest(path.name):
                result = run_tool("--test", path)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertRegex(result.stdout.decode(),
                                 rf"^velmar-pack: {path}: OK: 13 entries, 2 nested archives, "
                                 rf"\d+ bytes, {signature}\n$")
        report = json.loads(run_tool("-t", "--json", signed).stdout)
        self.assertEqual((report["ok"], report["signed"], report["nested_archives"]),
                         (True, True, 2))
        rows = pack_inputs.damaged_packages(package.read_bytes(), self.root / "damaged",
                                            signed.read_bytes())
        for label, path, phrase in rows:
            with self.subTest(label):
                result = run_tool("--test", path)
                self.assertEqual(result.returncode, 1)
                self.assertIn(f"fails the test: {phrase}", result.stderr.decode())
                report = json.loads(run_tool("--test", "--json", path).stdout)
                self.assertFalse(report["ok"])
                self.assertTrue(phrase.startswith(report["part"]), report)


class Inspect(Workspace):
    def test_report_of_a_package(self):
        (self.payload / "readme.txt").write_bytes(b"read me " * 50)
        os.chmod(self.payload / "readme.txt", 0o400)
        self.assertEqual(self.pack(locale="fr_CH").returncode, 0)
        package = self.out / "event.exe"
        result = run_tool("--inspect", package)
        self.assertEqual(result.returncode, 0, result.stderr)
        values, entries = parse_report(result.stdout.decode())
        self.assertEqual(values["marker offset"], "100000")
        self.assertEqual(values["property length"], "5")
        self.assertEqual(values["locale text"], "fr_CH")
        self.assertEqual((values["language"], values["country"]), ("fr", "CH"))
        self.assertEqual(values["archive offset"], "100011")
        self.assertEqual(int(values["archive size"]), package.stat().st_size - 100011)
        self.assertEqual(values["signature"], "none")
        self.assertEqual(values["client"], "bin/velmar.exe properties/offlineplayback.pbcf")
        self.assertEqual(values["entries"], "5")
        with zipfile.ZipFile(package) as z:
            expected = [{"size": str(i.file_size), "packed": str(i.compress_size),
                         "name": i.filename} for i in z.infolist()]
        self.assertEqual([{k: e[k] for k in ("size", "packed", "name")} for e in entries],
                         expected)
        attributes = {e["name"]: e["attributes"] for e in entries}
        self.assertEqual(attributes, {"bin/": "0x30", "bin/velmar.exe": "0x20",
                                      "properties/": "0x30",
                                      "properties/offlineplayback.pbcf": "0x20",
                                      "readme.txt": "0x21"})

    def test_what_the_launcher_reads_from_unusual_blocks(self):
        cases = [
            # An over-long block: found, but the launcher reads no text.
            (b"y" * 300, "300", "", SEARCH_START + 306),
            # A zero byte cuts the text short.
            (b"ab\0cdef", "7", "ab", SEARCH_START + 13),
            # Two markers: the first counts, the second is text.
            (b"en_" + MARKER, "9", "en_[VLMR]", SEARCH_START + 15),
        ]
        archive = pack_inputs.make_zip({"a.txt": b"a"}, zipfile.ZIP_STORED)
        for locale, length, text, archive_at in cases:
            with self.subTest(text=text):
                package = self.out / "handmade.exe"
                package.write_bytes(pack_inputs.package_bytes(synthetic_launcher(SEARCH_START),
                                                              locale, archive))
                result = run_tool("--inspect", package)
                self.assertEqual(result.returncode, 0, result.stderr)
                values, entries = parse_report(result.stdout.decode())
                self.assertEqual(values["property length"], length)
                self.assertEqual(values["locale text"], text)
                self.assertEqual(values["archive offset"], str(archive_at))
                self.assertEqual([e["name"] for e in entries], ["a.txt"])

    def test_files_without_a_package(self):
        plain = self.out / "plain.exe"
        plain.write_bytes(synthetic_launcher(200000))
        result = run_tool("--inspect", plain)
        self.assertEqual(result.returncode, 1)
        self.assertIn("no marker between offsets 100000 and 500000", result.stderr.decode())
        plain.write_bytes(pack_inputs.package_bytes(synthetic_launcher(200000),
                                                    b"en_US no archive", b""))
        result = run_tool("--inspect", plain)
        self.assertEqual(result.returncode, 1)
        self.assertIn("the marker at offset 200000 has no zip signature", result.stderr.decode())
        # The marker must start by 500000; one at 500001 is not found.
        plain.write_bytes(pack_inputs.package_bytes(synthetic_launcher(SEARCH_END + 1), b"",
                                                    SIGNATURE))
        self.assertEqual(run_tool("--inspect", plain).returncode, 1)
        result = run_tool("--inspect", self.out / "absent.exe")
        self.assertEqual(result.returncode, 1)
        self.assertIn("not a file", result.stderr.decode())


if __name__ == "__main__":
    unittest.main()
