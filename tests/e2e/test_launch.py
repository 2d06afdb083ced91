"""Whole launches of real packages: the client that starts, what it is given,
and what the user sees when something is wrong."""
import json
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

import harness

PACK = harness.DIST / "velmar-pack"
CLIENT = harness.DIST / "velmar-client-standin.exe"


def sample_payload(kind: str, folder: pathlib.Path) -> pathlib.Path:
    """The sample payload of examples/ ("playback" or "launcher"), assembled in folder."""
    subprocess.run([str(harness.REPO / "examples" / "make-sample.sh"), kind, str(folder)],
                   check=True, capture_output=True,
                   env=dict(os.environ, VELMAR_CLIENT=str(CLIENT)))
    return folder


def pack(payload: pathlib.Path, output: pathlib.Path, locale: str = "en_US") -> bytes:
    """A package made by the packaging tool, as people who build packages make them."""
    subprocess.run([str(PACK), "--launcher", str(harness.LAUNCHER), "--locale", locale,
                    "--payload", str(payload), "--output", str(output)],
                   check=True, capture_output=True)
    return output.read_bytes()


def read_report(work: pathlib.Path, timeout=30):
    report = work / "client_report.txt"
    harness.wait_for(report.exists, timeout)
    return json.loads(report.read_text(encoding="utf-8")) if report.exists() else None


@unittest.skipUnless(PACK.exists() and CLIENT.exists(), "needs velmar-pack and the stand-in client")
class WholeLaunch(unittest.TestCase):
    temp_suffix = ""

    def setUp(self):
        self.sandbox = harness.Sandbox("launch", self.temp_suffix)
        self.addCleanup(self.sandbox.cleanup)
        self.work_dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.work_dir.cleanup)
        self.scratch = pathlib.Path(self.work_dir.name)

    def package_from(self, kind: str, locale: str = "en_US", change=None,
                     by_hand=False) -> pathlib.Path:
        """The sample payload, changed, packed by the tool, or zipped by hand for
        a payload that the tool rightly refuses but the launcher must still handle."""
        payload = sample_payload(kind, self.scratch / kind)
        if change:
            change(payload)
        if by_hand:
            entries = {path.relative_to(payload).as_posix(): path.read_bytes()
                       for path in sorted(payload.rglob("*")) if path.is_file()}
            return self.sandbox.place(harness.make_package(harness.make_zip(entries)))
        return self.sandbox.place(pack(payload, self.scratch / "event.exe", locale))

    def work_folder(self, number=1) -> pathlib.Path:
        return self.sandbox.offplay / f"rec_{number}"

    def test_playback_client_gets_its_configuration(self):
        result = self.sandbox.run(self.package_from("playback", "de-AT"))
        self.assertEqual(result.exit_code, 0)
        work = self.work_folder()
        work_windows = harness.to_windows(work)
        report = read_report(work)
        self.assertIsNotNone(report, "the client did not start")

        config = work_windows + "\\properties\\offlineplayback.pbcf"
        if " " in work_windows:
            expected = f'"{work_windows}\\bin\\velmar.exe" "{config}"'
        else:
            expected = f"{work_windows}\\bin\\velmar.exe {config}"
        self.assertEqual(report["command_line"], expected)
        self.assertEqual(report["argv"][1:], [config])
        self.assertEqual(report["current_directory"].rstrip("\\").lower(), work_windows.lower())

        text = (work / "properties" / "offlineplayback.pbcf").read_bytes()
        self.assertTrue(text.startswith(b"\xef\xbb\xbf"), "the byte-order mark was lost")
        decoded = text.decode("utf-8")
        url = "file://" + work_windows.replace("\\", "/")
        self.assertIn(f'base="{url}"', decoded)
        self.assertIn('language="de" country="AT" tag="de-AT"', decoded)
        self.assertIn('title="Spring Review"', decoded)
        self.assertNotIn("%", decoded.split("-->", 1)[1])

        lines = self.sandbox.log_lines()
        self.assertIn("About to update PBCF file", lines)
        self.assertIn("EAfter reading eventname file, event name = Spring Review", lines)
        self.assertEqual(lines[-1], "*** Launcher Exiting ***")
        # Nested archives were followed, the temporary archive is gone.
        self.assertFalse((self.sandbox.offplay / "rec_1.zip").exists())

    def test_alternative_client_gets_the_descriptor_file(self):
        result = self.sandbox.run(self.package_from("launcher"))
        self.assertEqual(result.exit_code, 0)
        work = self.work_folder()
        report = read_report(work)
        self.assertIsNotNone(report, "the alternative client did not start")
        self.assertTrue(report["argv"][0].lower().endswith("\\bin\\launcher.exe"))
        self.assertTrue(report["argv"][1].endswith("\\properties\\offlineplayback.pbrd"))
        descriptor = (work / "properties" / "offlineplayback.pbrd").read_text(encoding="utf-8")
        self.assertIn("root=file:///" + harness.to_windows(work).replace("\\", "/"), descriptor)
        self.assertIn("locale=en_US", descriptor)
        self.assertNotIn("About to update PBCF file", self.sandbox.log_lines())

    def test_latin1_descriptor_keeps_every_byte_but_its_tokens(self):
        def latin1(payload):
            (payload / "properties" / "offlineplayback.pbrd").write_bytes(
                b"title=Caf\xe9 \xa9 %locl%\r\nroot=%local%\r\n")
        self.sandbox.run(self.package_from("launcher", change=latin1, by_hand=True))
        self.assertIsNotNone(read_report(self.work_folder()), "the client did not start")
        url = "file:///" + harness.to_windows(self.work_folder()).replace("\\", "/")
        self.assertEqual((self.work_folder() / "properties" / "offlineplayback.pbrd").read_bytes(),
                         b"title=Caf\xe9 \xa9 en\r\nroot=" + url.encode("utf-8") + b"\r\n")


class BlankInWorkFolder(WholeLaunch):
    """A user name with a blank puts one into the temporary folder."""
    temp_suffix = " Ann Lee"

    test_alternative_client_gets_the_descriptor_file = None
    test_latin1_descriptor_keeps_every_byte_but_its_tokens = None


class NonAsciiWorkFolder(WholeLaunch):
    temp_suffix = "-J\u00f6rg-Ren\u00e9e"

    test_alternative_client_gets_the_descriptor_file = None
    test_latin1_descriptor_keeps_every_byte_but_its_tokens = None


class CabInTheTemporaryFolder(WholeLaunch):
    """".cab" in a folder name above the payload does not make it a cabinet."""
    temp_suffix = ".cab"

    test_alternative_client_gets_the_descriptor_file = None
    test_latin1_descriptor_keeps_every_byte_but_its_tokens = None


@unittest.skipUnless(CLIENT.exists(), "needs the stand-in client")
def make_certificates(folder: pathlib.Path, extra: int):
    """A test code-signing key and certificate, and a file of extra
    certificates that makes the signature's table that much larger."""
    key, cert, chain = folder / "key.pem", folder / "cert.pem", folder / "chain.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=Velmar test signer"],
                   check=True, capture_output=True)
    with open(chain, "wb") as out:
        for serial in range(1, extra + 1):
            out.write(subprocess.run(["openssl", "req", "-x509", "-key", key, "-days", "2",
                                      "-subj", f"/CN=Velmar test chain {serial}",
                                      "-set_serial", str(serial)],
                                     check=True, capture_output=True).stdout)
    return key, cert, chain


@unittest.skipUnless(PACK.exists() and shutil.which("osslsigncode") and shutil.which("openssl"),
                     "needs velmar-pack, osslsigncode and openssl")
class SignedPackages(unittest.TestCase):
    """Packages signed after packing, the way they are published: the
    signature verifies, --inspect names it, and the client starts, whatever
    the size of the signature (the zip end record must stay findable)."""

    def setUp(self):
        self.work_dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.work_dir.cleanup)
        self.scratch = pathlib.Path(self.work_dir.name)

    def test_signed_packages_start_their_client(self):
        for extra, at_least in [(0, 1000), (100, 65536)]:
            with self.subTest(extra_certificates=extra):
                sandbox = harness.Sandbox("signed")
                self.addCleanup(sandbox.cleanup)
                folder = self.scratch / f"sign{extra}"
                folder.mkdir()
                key, cert, chain = make_certificates(folder, extra)
                payload = sample_payload("playback", folder / "payload")
                unsigned = folder / "unsigned.exe"
                pack(payload, unsigned)
                signed = folder / "event.exe"
                subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key,
                                *(["-ac", chain] if extra else []), "-n", "Velmar test",
                                "-in", unsigned, "-out", signed], check=True, capture_output=True)
                verified = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, signed],
                                          capture_output=True)
                self.assertEqual(verified.returncode, 0, verified.stdout[-2000:])
                report = json.loads(subprocess.run([str(PACK), "--inspect", signed, "--json"],
                                                   check=True, capture_output=True).stdout)
                self.assertEqual(report["signature"]["offset"], unsigned.stat().st_size)
                self.assertGreater(report["signature"]["size"], at_least)
                self.assertEqual(report["archive_offset"] + report["archive_size"],
                                 unsigned.stat().st_size)
                self.assertEqual(report["client"]["program"], "bin/velmar.exe")
                result = sandbox.run(sandbox.place(signed.read_bytes()))
                self.assertEqual(result.exit_code, 0, result.output[-3000:])
                self.assertIsNotNone(read_report(sandbox.offplay / "rec_1"),
                                     "the client did not start:\n" + "\n".join(sandbox.log_lines()))


@unittest.skipUnless(PACK.exists() and CLIENT.exists(), "needs velmar-pack and the stand-in client")
class InstalledTool(unittest.TestCase):
    """scripts/install.sh into an empty folder: the installed velmar-pack finds
    the stub without --launcher, its package launches, and the man page
    renders without warnings."""

    def test_install_then_pack_without_launcher(self):
        sandbox = harness.Sandbox("installed")
        self.addCleanup(sandbox.cleanup)
        work = tempfile.TemporaryDirectory()
        self.addCleanup(work.cleanup)
        scratch = pathlib.Path(work.name)
        prefix = scratch / "prefix"
        prefix.mkdir()
        subprocess.run([str(harness.REPO / "scripts" / "install.sh"), str(prefix)], check=True,
                       capture_output=True)
        payload = sample_payload("playback", scratch / "payload")
        result = subprocess.run([str(prefix / "bin" / "velmar-pack"), "--locale", "en_US", "-o",
                                 str(scratch / "out.exe"), str(payload) + "/"],
                                capture_output=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        run = sandbox.run(sandbox.place((scratch / "out.exe").read_bytes()))
        self.assertEqual(run.exit_code, 0, run.output[-3000:])
        self.assertIsNotNone(read_report(sandbox.offplay / "rec_1"), "the client did not start")
        if shutil.which("man"):
            rendered = subprocess.run(
                ["man", "--warnings", "-l", str(prefix / "share" / "man" / "man1" /
                                                "velmar-pack.1")],
                capture_output=True, env=dict(os.environ, MANWIDTH="80"))
            self.assertEqual((rendered.returncode, rendered.stderr), (0, b""))
            self.assertIn(b"--exclude", rendered.stdout)


class FailingLaunches(unittest.TestCase):
    def setUp(self):
        self.sandbox = harness.Sandbox("launchfail")
        self.addCleanup(self.sandbox.cleanup)

    def test_read_only_configuration_reports_problem_201_and_exits_10(self):
        import io
        import zipfile
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w") as archive:
            archive.writestr("bin/velmar.exe", CLIENT.read_bytes())
            info = zipfile.ZipInfo("properties/offlineplayback.pbcf")
            info.create_system = 0
            info.external_attr = 0x01 | 0x20  # read-only
            archive.writestr(info, b"url=%local%\n")
        package = self.sandbox.place(harness.make_package(buffer.getvalue()))
        result = self.sandbox.run(package, caption="VelmarOne")
        self.assertEqual(result.exit_code, 10)
        self.assertTrue(result.box["found"])
        self.assertIn("Problem number: 201", result.box["text"])
        work = self.sandbox.offplay / "rec_1"
        self.assertFalse((work / "client_report.txt").exists(), "the client was started")
        config = harness.to_windows(work) + "\\properties\\offlineplayback.pbcf"
        lines = self.sandbox.log_lines()
        self.assertIn(f"Error opening/reading properties file {config}", lines)
        self.assertEqual(lines[-1], "*** Launcher Exiting ***")

    def assert_client_problem(self, sandbox, result):
        """Problem 201 shown, exit code 10, exit banner; nothing of the run stays."""
        self.assertEqual(result.exit_code, 10, result.output)
        self.assertTrue(result.box["found"], "no problem box")
        self.assertIn("Problem number: 201", result.box["text"])
        lines = sandbox.log_lines()
        self.assertEqual(lines[-1], "*** Launcher Exiting ***")
        self.assertEqual(list(sandbox.offplay.iterdir()), [], sandbox.describe())
        return lines

    def test_payload_without_a_client_reports_problem_201(self):
        payload = harness.make_zip({"properties/offlineplayback.pbrd": b"root=%local%\n"})
        result = self.sandbox.run(self.sandbox.place(harness.make_package(payload)),
                                  caption="VelmarOne")
        work = harness.to_windows(self.sandbox.offplay / "rec_1")
        command = f"{work}\\bin\\launcher.exe {work}\\properties\\offlineplayback.pbrd"
        lines = self.assert_client_problem(self.sandbox, result)
        self.assertIn(f'CreateProcess failed. Command: "{command}" Error Code: 2', lines)
        # The descriptor was still rewritten before the start was tried.
        self.assertIn("Leaving UpdatePBCF", lines)

    def test_old_content_is_never_started_and_no_number_left_shows_the_copy_out_box(self):
        # Every number is taken by the folder of a finished run; rec_2.zip to
        # rec_99.zip cannot be created. The sweep clears every folder and the
        # run takes 1, extracting its own payload: the old client never starts.
        for number in range(1, 100):
            (self.sandbox.offplay / f"rec_{number}" / "bin").mkdir(parents=True)
            if number > 1:
                (self.sandbox.offplay / f"rec_{number}.zip").mkdir()
        existing = self.sandbox.offplay / "rec_1"
        (existing / "bin" / "launcher.exe").write_bytes(CLIENT.read_bytes())
        (existing / "properties").mkdir()
        (existing / "properties" / "offlineplayback.pbrd").write_bytes(b"event=OLD EVENT 1\n")
        harness.give_to_user(self.sandbox.offplay)

        payload = harness.make_zip({"bin/launcher.exe": CLIENT.read_bytes(),
                                    "properties/offlineplayback.pbrd": b"event=NEW EVENT\n"})
        package = self.sandbox.place(harness.make_package(payload))
        self.assertEqual(self.sandbox.run(package).exit_code, 0)
        report = read_report(existing)
        self.assertIsNotNone(report, "the client did not start")
        self.assertEqual(bytes.fromhex(report["config_hex"]), b"event=NEW EVENT\n")
        self.assertIn("Done extracting all files", self.sandbox.log_lines())
        self.assertEqual(sorted(p.name for p in self.sandbox.offplay.glob("rec_*[0-9]")), ["rec_1"])

        # rec_1.zip cannot be created either: no number is left. The plain
        # box shows, nothing new appears below OffPlay, no client starts.
        (existing / "client_report.txt").unlink()
        (self.sandbox.offplay / "rec_1.zip").mkdir()
        harness.give_to_user(self.sandbox.offplay)
        before = {p.name for p in self.sandbox.offplay.iterdir()}
        result = self.sandbox.run(package, box=True)
        self.assertEqual(result.exit_code, 0)
        self.assertTrue(result.box["found"])
        self.assertEqual(result.box["text"], "Failed to extract the exe file.")
        self.assertLessEqual({p.name for p in self.sandbox.offplay.iterdir()}, before)
        self.assertEqual(list(self.sandbox.offplay.rglob("client_report.txt")), [])

    def test_work_folder_too_long_for_the_client_reports_problem_201(self):
        # A temporary folder so long that the configuration path would not fit
        # its 260 characters, while the copy-out's names still do.
        base = len(harness.to_windows(harness.PROFILE / "Temp" / "t000000"))
        sandbox = harness.Sandbox("longtemp", "x" * (230 - len("\\OffPlay\\rec_1") - base))
        self.addCleanup(sandbox.cleanup)
        payload = harness.make_zip({"bin/velmar.exe": CLIENT.read_bytes()})
        result = sandbox.run(sandbox.place(harness.make_package(payload)), caption="VelmarOne")
        work = harness.to_windows(sandbox.offplay / "rec_1")
        self.assertEqual(len(work), 230)
        lines = self.assert_client_problem(sandbox, result)
        self.assertIn(f"Work folder {work} is too long to start the client from; no client "
                      "started", lines)


if __name__ == "__main__":
    unittest.main()
