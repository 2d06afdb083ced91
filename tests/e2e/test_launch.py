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
import pack_inputs

PACK = harness.DIST / "velmar-pack"
CLIENT = harness.DIST / "velmar-client-standin.exe"


def sample_payload(kind: str, folder: pathlib.Path) -> pathlib.Path:
    """The sample payload of examples/ ("playback" or "launcher"), assembled in folder."""
    subprocess.run([str(harness.REPO / "examples" / "make-sample.sh"), kind, str(folder)],
                   check=True, capture_output=True,
                   env=dict(os.environ, VELMAR_CLIENT=str(CLIENT)))
    return folder


def pack(payload: pathlib.Path, output: pathlib.Path, locale: str = "en_US", options=()) -> bytes:
    """A package made by the packaging tool, as people who build packages make them."""
    subprocess.run([str(PACK), "--launcher", str(harness.LAUNCHER), "--locale", locale,
                    *options, "--payload", str(payload), "--output", str(output)],
                   check=True, capture_output=True)
    return output.read_bytes()


def client_missing_a_dll(folder: pathlib.Path) -> bytes:
    """A client linked against the import library of a DLL that is then left
    out: the loader ends it at once (0xC0000135 under Wine)."""
    (folder / "gone.c").write_text("__declspec(dllexport) int velmar_gone(void) { return 1; }\n")
    (folder / "client.c").write_text("__declspec(dllimport) int velmar_gone(void);\n"
                                     "int main(void) { return velmar_gone(); }\n")
    compiler = "x86_64-w64-mingw32-gcc"
    subprocess.run([compiler, "-shared", "-o", "velmar_gone.dll", "gone.c",
                    "-Wl,--out-implib,libvelmar_gone.a"], cwd=folder, check=True)
    subprocess.run([compiler, "-mwindows", "-o", "velmar.exe", "client.c", "-L.", "-lvelmar_gone"],
                   cwd=folder, check=True)
    return (folder / "velmar.exe").read_bytes()


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
    the size of the signature (the zip end record must stay findable).
    Branded packages show their texts, versions and icons to Windows."""

    def setUp(self):
        self.work_dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.work_dir.cleanup)
        self.scratch = pathlib.Path(self.work_dir.name)

    def assert_branding(self, package: pathlib.Path, pixels: dict):
        sizes = sorted(pixels)
        done = harness.wine(harness.SUPPORT / "brandcheck.exe", harness.to_windows(package),
                            *sizes)
        self.assertEqual(done.returncode, 0, done.stderr)
        found = json.loads(done.stdout)
        given = pack_inputs.BRANDING
        self.assertEqual(found["strings"], {
            "ProductName": given["--product-name"], "FileDescription": given["--description"],
            "CompanyName": given["--company"], "LegalCopyright": given["--copyright"],
            "FileVersion": "2.1.0.7", "ProductVersion": "2.1",
            "OriginalFilename": "unsigned.exe"})
        self.assertEqual((found["file_version"], found["product_version"]), ("2.1.0.7", "2.1.0.0"))
        self.assertEqual(sorted(found["icons"], key=int), [str(s) for s in sizes])
        for size in sizes:
            self.assertEqual(bytes.fromhex(found["icons"][str(size)]), pixels[size], size)

    def test_signed_packages_start_their_client(self):
        for extra, at_least, branded in [(0, 1000, False), (0, 1000, True), (100, 65536, True)]:
            with self.subTest(extra_certificates=extra, branded=branded):
                sandbox = harness.Sandbox("signed")
                self.addCleanup(sandbox.cleanup)
                folder = self.scratch / f"sign{extra}{branded}"
                folder.mkdir()
                key, cert, chain = make_certificates(folder, extra)
                payload = sample_payload("playback", folder / "payload")
                icon, pixels = pack_inputs.icon_file(pack_inputs.BRANDED_ICON)
                (folder / "brand.ico").write_bytes(icon)
                unsigned = folder / "unsigned.exe"
                pack(payload, unsigned, options=pack_inputs.branding_options(
                    folder / "brand.ico") if branded else ())
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
                placed = sandbox.place(signed.read_bytes())
                if branded:
                    self.assert_branding(placed, pixels)
                result = sandbox.run(placed)
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


GENERIC_201 = ("The launcher has encountered a problem for which a description is not available."
               "\nProblem number: 201\n\nThe program will now exit.")


class FailingLaunches(unittest.TestCase):
    def setUp(self):
        self.sandbox = harness.Sandbox("launchfail")
        self.addCleanup(self.sandbox.cleanup)
        self.work_dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.work_dir.cleanup)

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
        self.assertEqual(result.box["text"], GENERIC_201)
        work = self.sandbox.offplay / "rec_1"
        config = harness.to_windows(work) + "\\properties\\offlineplayback.pbcf"
        lines = self.sandbox.log_lines()
        self.assertIn(f"Error opening/reading properties file {config}", lines)
        self.assertEqual(lines[-1], "*** Launcher Exiting ***")
        # Nothing of the run stays: no client, no work folder, no archive.
        self.assertEqual(list(self.sandbox.offplay.iterdir()), [], self.sandbox.describe())

    def assert_client_problem(self, sandbox, result, problem, *inserts):
        """The box of the problem with its inserts, the log line before it,
        exit code 10, exit banner; nothing of the run stays."""
        self.assertEqual(result.exit_code, 10, result.output)
        self.assertTrue(result.box["found"], "no problem box")
        text = result.box["text"]
        self.assertTrue(text.endswith(f"\nProblem number: {problem}"), text)
        for insert in inserts:
            self.assertIn(insert, text)
        lines = sandbox.log_lines()
        self.assertTrue(lines[-2].startswith("Run failed: ") and
                        lines[-2].endswith(f"; showing problem {problem}"), lines[-2])
        self.assertEqual(lines[-1], "*** Launcher Exiting ***")
        self.assertEqual(list(sandbox.offplay.iterdir()), [], sandbox.describe())
        return lines

    def test_payload_without_a_client_reports_problem_206(self):
        payload = harness.make_zip({"properties/offlineplayback.pbrd": b"root=%local%\n"})
        result = self.sandbox.run(self.sandbox.place(harness.make_package(payload)),
                                  caption="VelmarOne")
        work = harness.to_windows(self.sandbox.offplay / "rec_1")
        program = f"{work}\\bin\\launcher.exe"
        command = f"{program} {work}\\properties\\offlineplayback.pbrd"
        lines = self.assert_client_problem(self.sandbox, result, 206,
                                           f"The playback program {program} could not be "
                                           "started, or it ended at once (error 2).")
        self.assertIn(f'CreateProcess failed. Command: "{command}" Error Code: 2', lines)
        self.assertIn(f"Run failed: the client could not start or ended at once: {program} "
                      "(system error 2); showing problem 206", lines)
        # The descriptor was still rewritten before the start was tried.
        self.assertIn("Leaving UpdatePBCF", lines)

    def test_client_that_ends_at_once_in_the_loader_reports_problem_206(self):
        client = client_missing_a_dll(pathlib.Path(self.work_dir.name))
        payload = harness.make_zip({"bin/velmar.exe": client,
                                    "properties/offlineplayback.pbcf": b"url=%local%\n"})
        result = self.sandbox.run(self.sandbox.place(harness.make_package(payload)),
                                  caption="VelmarOne")
        program = harness.to_windows(self.sandbox.offplay / "rec_1") + "\\bin\\velmar.exe"
        reason = "status 0xC0000135: a DLL it needs was not found"
        lines = self.assert_client_problem(self.sandbox, result, 206, program, f"({reason})")
        self.assertIn(f"Client {program} ended at once: {reason}", lines)
        self.assertIn(f"Run failed: the client could not start or ended at once: {program} "
                      "(status 0xC0000135); showing problem 206", lines)

    def test_client_that_keeps_running_is_a_success(self):
        payload = harness.make_zip({"bin/velmar.exe": CLIENT.read_bytes(),
                                    "properties/offlineplayback.pbcf": b"url=%local%\n",
                                    "stay_running.txt": b"4"})
        result = self.sandbox.run(self.sandbox.place(harness.make_package(payload)))
        self.assertEqual(result.exit_code, 0, result.output)
        self.assertIsNotNone(read_report(self.sandbox.offplay / "rec_1"), "the client did not start")
        lines = self.sandbox.log_lines()
        self.assertFalse([line for line in lines if line.startswith("Run failed")], lines)
        self.assertEqual(lines[-1], "*** Launcher Exiting ***")
        harness.wait_for(lambda: not harness.windows_process_ids(
            harness.to_windows(self.sandbox.offplay / "rec_1" / "bin" / "velmar.exe")), 20)

    def test_client_removed_by_antivirus_shows_problem_205_and_leaves_nothing(self):
        # As a quarantine does, the stand-in scanner deletes bin\\velmar.exe
        # once it has been written.
        scanner = harness.Scanner(self.sandbox, quarantine=True, test=self)
        payload = harness.make_zip(harness.reference_like_files(CLIENT.read_bytes()))
        result = self.sandbox.run(self.sandbox.place(harness.make_package(payload)),
                                  caption="VelmarOne")
        removed = scanner.stop()["removed"]
        self.assertEqual([path.lower().rsplit("\\", 3)[1:] for path in removed],
                         [["rec_1", "bin", "velmar.exe"]])
        self.assertEqual(result.exit_code, 10, result.output)
        self.assertTrue(result.box["found"], "no problem box")
        self.assertEqual(result.box["caption"], "VelmarOne")
        self.assertIn("Problem number: 205", result.box["text"])
        self.assertEqual(self.sandbox.log_lines()[-1], "*** Launcher Exiting ***")
        self.assertEqual(list(self.sandbox.offplay.iterdir()), [], self.sandbox.describe())

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

    def test_work_folder_too_long_for_the_client_reports_problem_207(self):
        # A temporary folder so long that the configuration path would not fit
        # its 260 characters, while the copy-out's names still do.
        base = len(harness.to_windows(harness.PROFILE / "Temp" / "t000000"))
        sandbox = harness.Sandbox("longtemp", "x" * (230 - len("\\OffPlay\\rec_1") - base))
        self.addCleanup(sandbox.cleanup)
        payload = harness.make_zip({"bin/velmar.exe": CLIENT.read_bytes()})
        result = sandbox.run(sandbox.place(harness.make_package(payload)), caption="VelmarOne")
        work = harness.to_windows(sandbox.offplay / "rec_1")
        self.assertEqual(len(work), 230)
        lines = self.assert_client_problem(sandbox, result, 207,
                                           f"The path {work} is too long for this computer")
        self.assertIn(f"Work folder {work} is too long to start the client from; no client "
                      "started", lines)
        self.assertIn(f"Run failed: path too long: {work} (system error 206); showing problem 207",
                      lines)


if __name__ == "__main__":
    unittest.main()
