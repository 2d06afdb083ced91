"""velmar-pack.exe under Wine, as the unprivileged test user: a package from a
folder whose names go beyond ASCII, given through UTF-16 arguments, read back
with Python's zipfile; a refusal; and the packages (with their --inspect
reports) that the unit test of the launcher's probe compares against."""
import datetime
import io
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import unittest
import zipfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "e2e"))
import harness  # noqa: E402
import pack_inputs  # noqa: E402  (on the path through harness)

TOOL = os.environ["VELMAR_PACK_EXE"]
WINE_RUN = os.environ["VELMAR_WINE_RUN"]
FIXTURES = pathlib.Path(os.environ["VELMAR_PACK_FIXTURES"])
WORK = pathlib.Path(os.environ["VELMAR_PACK_WORK"])
STUB = pathlib.Path(os.environ.get("VELMAR_LAUNCHER_STUB", "/nonexistent"))
LINUX_TOOL = pathlib.Path(os.environ.get("VELMAR_PACK_LINUX", "/nonexistent"))

SIGNATURE = pack_inputs.SIGNATURE
MTIME = 1614834367  # 2021-03-04 05:06:07 UTC, odd seconds

PAYLOAD = WORK / "Wiedergabe-ü"
PACKAGE = WORK / "Ereignis-ß.exe"


def windows(path) -> str:
    return "Z:" + str(path).replace("/", "\\")


def wine(*args, zone=None):
    env = dict(os.environ, VELMAR_TZ=zone) if zone else None
    return subprocess.run([WINE_RUN, TOOL, *args], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120, env=env)


def launcher_bytes() -> bytes:
    if STUB.is_file():
        return STUB.read_bytes()
    return pack_inputs.synthetic_stub(3000, 7)


def make_payload():
    (PAYLOAD / "bin").mkdir(parents=True)
    (PAYLOAD / "bin" / "velmar.exe").write_bytes(b"client")
    (PAYLOAD / "Ordner é").mkdir()
    (PAYLOAD / "Ordner é" / "Ünïcode ÅÄÖ.txt").write_bytes("grüße\n".encode())
    (PAYLOAD / "café ☕.txt").write_bytes(b"beyond the ANSI code page")
    (PAYLOAD / "properties").mkdir()
    (PAYLOAD / "properties" / "offlineplayback.pbcf").write_bytes(b"%locl%-%locc%\n")
    (PAYLOAD / "leer").mkdir()
    for path in PAYLOAD.rglob("*"):
        os.chmod(path, 0o777 if path.is_dir() else 0o666)
    # Wine shows a file that nobody may write as read-only.
    os.chmod(PAYLOAD / "Ordner é" / "Ünïcode ÅÄÖ.txt", 0o444)
    for path in [*PAYLOAD.rglob("*"), PAYLOAD]:
        os.utime(path, (MTIME, MTIME))


def inspect_into_fixtures(package: pathlib.Path, name: str):
    """Copies package into the fixtures with the report --inspect gives on it."""
    shutil.copyfile(package, FIXTURES / f"{name}.exe")
    result = wine("--inspect", windows(FIXTURES / f"{name}.exe"))
    report = f"exit code: {result.returncode}\n" + result.stdout.decode().replace("\r\n", "\n")
    (FIXTURES / f"{name}.inspect.txt").write_text(report)
    return result


def setUpModule():
    shutil.rmtree(WORK, ignore_errors=True)
    WORK.mkdir(parents=True)
    FIXTURES.mkdir(parents=True, exist_ok=True)
    (WORK / "launcher.exe").write_bytes(launcher_bytes())
    make_payload()
    os.chmod(WORK, 0o777)
    harness.give_to_user(WORK)


class FolderPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.result = wine("--launcher", windows(WORK / "launcher.exe"), "--locale", "de-AT",
                          "--payload", windows(PAYLOAD), "--output", windows(PACKAGE))

    def test_package_from_names_beyond_ascii(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        self.assertIn("Ereignis-ß.exe", self.result.stdout.decode())
        data = PACKAGE.read_bytes()
        launcher = (WORK / "launcher.exe").read_bytes()
        marker = max(len(launcher), 100000)
        self.assertEqual(data[:len(launcher)], launcher)
        self.assertEqual(data.find(pack_inputs.MARKER, 100000), marker)
        self.assertEqual(data[marker + 6:marker + 11], b"de-AT")
        archive = data[marker + 11:]
        self.assertEqual(archive[:4], SIGNATURE)

        # DOS times are UTC, whatever the zone the tool runs in.
        local = datetime.datetime.fromtimestamp(MTIME, datetime.timezone.utc)
        dos_time = (local.year, local.month, local.day, local.hour, local.minute,
                    local.second // 2 * 2)
        with zipfile.ZipFile(io.BytesIO(archive)) as z:
            self.assertIsNone(z.testzip())
            infos = z.infolist()
            names = [i.filename for i in infos]
            self.assertEqual(names, ["Ordner é/", "Ordner é/Ünïcode ÅÄÖ.txt", "bin/",
                                     "bin/velmar.exe", "café ☕.txt", "leer/", "properties/",
                                     "properties/offlineplayback.pbcf"])
            attributes = {n: i.external_attr & 0xFF for n, i in zip(names, infos)}
            self.assertEqual(attributes["Ordner é/"] & 0x10, 0x10)
            self.assertEqual(attributes["bin/velmar.exe"] & 0x11, 0)
            self.assertEqual(attributes["Ordner é/Ünïcode ÅÄÖ.txt"] & 0x01, 0x01)
            for name, info in zip(names, infos):
                with self.subTest(name=name):
                    self.assertEqual(info.create_system, 0)
                    self.assertEqual(bool(info.flag_bits & 0x800), not name.isascii())
                    self.assertEqual(info.date_time, dos_time)
                    at = info.header_offset
                    name_length, extra_length = struct.unpack_from("<HH", archive, at + 26)
                    extra = archive[at + 30 + name_length:at + 30 + name_length + extra_length]
                    self.assertEqual(extra[:5], b"UT\x05\x00\x01")
                    self.assertEqual(struct.unpack("<i", extra[5:9])[0], MTIME)
            self.assertEqual(z.read(infos[1]), "grüße\n".encode())
        # Both builds write the same archive from the same folder but for the
        # attributes' host system.

    def test_inspect_reports_the_package(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        result = inspect_into_fixtures(PACKAGE, "folder")
        self.assertEqual(result.returncode, 0, result.stderr)
        report = result.stdout.decode()
        self.assertIn("locale text: de-AT\r\n", report)
        self.assertIn("entries: 8\r\n", report)
        self.assertIn("attributes=0x20 name=properties/offlineplayback.pbcf\r\n", report)
        self.assertIn("attributes=0x21 name=Ordner é/Ünïcode ÅÄÖ.txt\r\n", report)
        self.assertIn(" name=café ☕.txt\r\n", report)


@unittest.skipUnless(STUB.is_file() and LINUX_TOOL.is_file(), "needs the stub and the Linux build")
class BrandedPackage(unittest.TestCase):
    def test_same_bytes_as_the_linux_build_in_any_time_zone(self):
        folder = WORK / "branded"
        folder.mkdir()
        icon, _ = pack_inputs.icon_file(pack_inputs.BRANDED_ICON)
        (folder / "brand.ico").write_bytes(icon)
        (folder / "payload.zip").write_bytes(pack_inputs.make_zip(pack_inputs.CLIENT_FILES))
        packages = []
        for made_by in ("Asia/Kolkata", "America/Los_Angeles", "linux"):
            output = folder / made_by.replace("/", "-") / "spring-review.exe"
            output.parent.mkdir()
            harness.give_to_user(folder)
            if made_by == "linux":
                result = subprocess.run([LINUX_TOOL, "--launcher", WORK / "launcher.exe",
                                         "--locale", "en_US", *pack_inputs.branding_options(
                                             folder / "brand.ico"), "-o", output,
                                         folder / "payload.zip"], capture_output=True)
            else:
                result = wine("--launcher", windows(WORK / "launcher.exe"), "--locale", "en_US",
                              *pack_inputs.branding_options(windows(folder / "brand.ico")),
                              "-o", windows(output), windows(folder / "payload.zip"),
                              zone=made_by)
            self.assertEqual(result.returncode, 0, result.stderr)
            packages.append(output.read_bytes())
        self.assertEqual(packages[0], packages[1])
        self.assertEqual(packages[0], packages[2])
        self.assertIn("Spring Review playback".encode("utf-16-le"), packages[0])


class Refusals(unittest.TestCase):
    def test_locale_beyond_the_code_page_and_missing_payload(self):
        output = WORK / "refused-é.exe"
        before = sorted(os.listdir(WORK))
        result = wine("--launcher", windows(WORK / "launcher.exe"), "--locale", "de-AT✓",
                      "--payload", windows(PAYLOAD), "--output", windows(output))
        self.assertEqual(result.returncode, 1)
        self.assertIn("de-AT✓", result.stderr.decode())
        self.assertIn("not of the form ll_CC", result.stderr.decode())
        # Windows compares paths without regard to case.
        result = wine("--launcher", windows(WORK / "launcher.exe"), "--locale", "de-AT",
                      "--payload", windows(PAYLOAD), "--output",
                      windows(PAYLOAD).upper() + "\\inside.exe")
        self.assertEqual(result.returncode, 1)
        self.assertIn("lies inside the payload folder", result.stderr.decode())
        result = wine("--launcher", windows(WORK / "launcher.exe"), "--locale", "de-AT",
                      "--payload", windows(WORK / "fehlt-ü"), "--output", windows(output))
        self.assertEqual(result.returncode, 1)
        self.assertIn("fehlt-ü does not exist", result.stderr.decode())
        self.assertEqual(sorted(os.listdir(WORK)), before)

    def test_link_to_a_folder_is_not_followed(self):
        # Under Wine a Unix link to a folder is a reparse point, as a junction is.
        payload = WORK / "mit-link"
        (payload / "bin").mkdir(parents=True)
        (payload / "bin" / "velmar.exe").write_bytes(b"client")
        os.symlink(payload / "bin", payload / "schleife")
        harness.give_to_user(payload)
        output = WORK / "link.exe"
        result = wine("--launcher", windows(WORK / "launcher.exe"), "--locale", "de-AT",
                      "--payload", windows(payload), "--output", windows(output))
        self.assertEqual(result.returncode, 1)
        self.assertIn("schleife is a link to a folder", result.stderr.decode())
        self.assertFalse(output.exists())

    def test_payloads_that_cannot_work(self):
        work = WORK / "refused"
        work.mkdir()
        rows = [(label, WORK / "launcher.exe", payload, phrase, [])
                for label, payload, phrase in pack_inputs.refused_payloads(work)]
        (work / "notes.txt").write_bytes(b"not a program\n")
        rows.append(("text-launcher", work / "notes.txt", work / "good", "no PE headers", []))
        for label, options, phrase in pack_inputs.refused_brandings(work / "icons", STUB.is_file()):
            options = [windows(o) if o.startswith(str(work)) else o for o in options]
            rows.append((label, WORK / "launcher.exe", work / "good", phrase, options))
        harness.give_to_user(work)
        for label, launcher, payload, phrase, options in rows:
            with self.subTest(label):
                output = work / f"{label}.exe"
                result = wine("--launcher", windows(launcher), "--locale", "en_US", *options,
                              "--payload", windows(payload), "--output", windows(output))
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn(phrase, result.stderr.decode())
                self.assertEqual(len(result.stderr.decode().strip().splitlines()), 1, result.stderr)
                self.assertFalse(output.exists())

    def test_usage_error(self):
        result = wine("--locale", "de-AT")
        self.assertEqual(result.returncode, 2)
        self.assertIn("usage:", result.stderr.decode())


@unittest.skipUnless(STUB.is_file() and shutil.which("osslsigncode") and shutil.which("gcab"),
                     "needs the launcher stub, osslsigncode and gcab")
class PackageTest(unittest.TestCase):
    """velmar-pack.exe packs the README's sample without --launcher (the stub
    lies beside it) and --test passes it, signed too, and names the place of
    each damage made to it."""

    def test_sample_signed_and_damaged_packages(self):
        work = WORK / "test-command"
        subprocess.run([pathlib.Path(__file__).resolve().parents[2] / "examples" /
                        "make-sample.sh", "playback", work / "Beispiel"], check=True,
                       capture_output=True,
                       env=dict(os.environ, VELMAR_CLIENT=str(STUB.parent /
                                                              "velmar-client-standin.exe")))
        harness.give_to_user(work)
        package, signed = work / "Beispiel.exe", work / "signiert.exe"
        result = wine("--locale", "en_US", windows(work / "Beispiel"), "-o", windows(package))
        self.assertEqual(result.returncode, 0, result.stderr)
        pack_inputs.sign(package, signed, work)
        rows = pack_inputs.damaged_packages(package.read_bytes(), work / "beschädigt",
                                            signed.read_bytes())
        harness.give_to_user(work)
        for path, signature in [(package, "not signed"), (signed, "signed")]:
            with self.subTest(path.name):
                result = wine("--test", windows(path))
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertRegex(result.stdout.decode(),
                                 r"OK: 13 entries, 2 nested archives, \d+ bytes, "
                                 + signature + "\r\n$")
        for label, path, phrase in rows:
            with self.subTest(label):
                result = wine(windows(path), "-t")
                self.assertEqual(result.returncode, 1)
                self.assertIn(f"fails the test: {phrase}", result.stderr.decode())


class HandmadePackages(unittest.TestCase):
    """Files the tool does not make, for the probe to compare with --inspect."""

    def test_reports_of_handmade_files(self):
        stub = launcher_bytes()
        archive = pack_inputs.make_zip({"a.txt": b"a"}, zipfile.ZIP_STORED)
        cases = {
            "overlong": (pack_inputs.package_bytes(stub, b"y" * 300, archive), 0),
            "two_markers": (pack_inputs.package_bytes(stub, b"en_" + pack_inputs.MARKER, archive),
                            0),
            "no_archive": (pack_inputs.package_bytes(stub, b"en_US and no archive", b""), 1),
            "plain": (stub.ljust(100000, b"\0"), 1),
        }
        for name, (data, exit_code) in cases.items():
            with self.subTest(name=name):
                source = WORK / f"{name}.exe"
                source.write_bytes(data)
                self.assertEqual(inspect_into_fixtures(source, name).returncode, exit_code)


if __name__ == "__main__":
    unittest.main()
