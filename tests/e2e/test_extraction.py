"""A package whose payload holds folders, a nested zip and a nested cabinet,
extracted by the launcher as a user would run it."""
import datetime
import io
import os
import pathlib
import re
import subprocess
import tempfile
import unittest
import zipfile
import zoneinfo

import harness
import pack_inputs  # found through the path that harness sets up

CLIENT = harness.DIST / "velmar-client-standin.exe"


def client_entries():
    """The alternative client and its descriptor: a payload that can be launched."""
    return {"bin/launcher.exe": CLIENT.read_bytes(),
            "properties/offlineplayback.pbrd": b"root=%local%\n"}


def tool_zip(files, *options) -> bytes:
    """A zip archive made by Info-ZIP zip with options (-Z bzip2, -P password)."""
    with tempfile.TemporaryDirectory() as work:
        source = pack_inputs.tree(pathlib.Path(work) / "src", files)
        subprocess.run(["zip", "-q", *options, str(pathlib.Path(work) / "out.zip"), *sorted(files)],
                       cwd=source, check=True, capture_output=True)
        return (pathlib.Path(work) / "out.zip").read_bytes()


def inner_zip_with_bad_crc() -> bytes:
    """A stored zip entry whose data no longer matches its CRC-32."""
    data = bytearray(harness.make_zip({"media/clip.bin": b"frame" * 2000}, zipfile.ZIP_STORED))
    data[data.find(b"frame" * 10) + 7] ^= 0x01
    return bytes(data)


def make_cabinet(files, times=None) -> bytes:
    """A cabinet (MSZIP) made by gcab from {relative name: bytes}; times, when
    given, maps names to the (naive) date and time stored for them."""
    stamps = {name: when.replace(tzinfo=datetime.timezone.utc).timestamp()
              for name, when in (times or {}).items()}
    return pack_inputs.cabinet(dict(sorted(files.items())), stamps)


class PayloadExtraction(unittest.TestCase):
    def setUp(self):
        self.sandbox = harness.Sandbox("extract")
        self.addCleanup(self.sandbox.cleanup)

    def test_folders_nested_zip_and_cabinet_land_in_the_work_folder(self):
        inner_zip = harness.make_zip({"media/inner.txt": b"from the nested zip",
                                      "media/": None})
        cabinet = make_cabinet({"cab_dir/from_cab.txt": b"from the cabinet",
                                "cab_dir/Pr\u00e4sentation.txt": b"utf-8 cabinet name",
                                "package.properties": b"not extracted"})
        payload = harness.make_zip({
            **client_entries(),
            "docs/guide/readme.txt": b"nested folders\r\n",
            "archives/inner.zip": inner_zip,
            "archives/extra.cab": cabinet,
            "top.txt": b"top level",
            "docs/Pr\u00e4sentation.pdf": b"utf-8 flagged name",
        })
        package = self.sandbox.place(harness.make_package(payload))
        result = self.sandbox.run(package)
        self.assertEqual(result.exit_code, 0)

        work = self.sandbox.offplay / "rec_1"
        self.assertEqual((work / "docs" / "guide" / "readme.txt").read_bytes(), b"nested folders\r\n")
        self.assertEqual((work / "top.txt").read_bytes(), b"top level")
        # Python's zipfile flags non-ASCII names as UTF-8: the name stays intact.
        self.assertEqual((work / "docs" / "Pr\u00e4sentation.pdf").read_bytes(), b"utf-8 flagged name")
        self.assertTrue((work / "bin" / "launcher.exe").is_file())
        # Nested archives stay in place, their entries land in the work folder itself.
        self.assertEqual((work / "archives" / "inner.zip").read_bytes(), inner_zip)
        self.assertEqual((work / "media" / "inner.txt").read_bytes(), b"from the nested zip")
        self.assertEqual((work / "cab_dir" / "from_cab.txt").read_bytes(), b"from the cabinet")
        # gcab stores non-ASCII member names as UTF-8 and flags them so.
        self.assertEqual((work / "cab_dir" / "Pr\u00e4sentation.txt").read_bytes(),
                         b"utf-8 cabinet name")
        self.assertFalse((work / "package.properties").exists())
        # The temporary archive is gone after a successful extraction.
        self.assertFalse((self.sandbox.offplay / "rec_1.zip").exists())
        self.assertIn("Done extracting all files", self.sandbox.log_lines())

    def test_hostile_entry_names_never_leave_the_work_folder(self):
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w") as archive:
            archive.writestr("ok.txt", b"fine")
            archive.writestr("../escaped.txt", b"outside")
            archive.writestr("a/../../escaped2.txt", b"outside")
            archive.writestr("/absolute.txt", b"outside")
            archive.writestr("C:/drive.txt", b"outside")
            for name, data in client_entries().items():
                archive.writestr(name, data)
        package = self.sandbox.place(harness.make_package(buffer.getvalue()))
        self.assertEqual(self.sandbox.run(package).exit_code, 0)
        work = self.sandbox.offplay / "rec_1"
        self.assertEqual((work / "ok.txt").read_bytes(), b"fine")
        self.assertEqual(sorted(p.name for p in work.iterdir() if not p.name.startswith("client_")),
                         ["bin", "ok.txt", "properties"])
        # Where the names would have led: the work folder's parents and the drive's root.
        for folder in (self.sandbox.offplay, self.sandbox.temp, self.sandbox.temp.parent,
                       harness.DRIVE_C):
            for name in ("escaped.txt", "escaped2.txt", "absolute.txt", "drive.txt"):
                self.assertFalse((folder / name).exists(), f"{name} written to {folder}")
        self.assertEqual(sorted(p.name for p in self.sandbox.offplay.iterdir()), ["rec_1"])

    def test_cab_and_zip_in_folder_names_are_not_archive_names(self):
        inner = harness.make_zip({"from_inner.txt": b"nested zip below media.cabinet/"})
        payload = harness.make_zip({**client_entries(), "media.cabinet/inner.zip": inner,
                                    "x.cab/readme.txt": b"a plain file below x.cab/"})
        result = self.sandbox.run(self.sandbox.place(harness.make_package(payload)))
        self.assertEqual(result.exit_code, 0, self.sandbox.log_lines())
        work = self.sandbox.offplay / "rec_1"
        self.assertEqual((work / "from_inner.txt").read_bytes(), b"nested zip below media.cabinet/")
        self.assertEqual((work / "x.cab" / "readme.txt").read_bytes(), b"a plain file below x.cab/")

    def test_stored_local_times_take_the_offset_of_their_own_date(self):
        zone = "America/Chicago"
        winter = datetime.datetime(2021, 1, 15, 3, 4, 6)
        summer = datetime.datetime(2021, 7, 15, 3, 4, 6)
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w") as archive:
            for name, data in client_entries().items():
                archive.writestr(name, data)
            for name, when in (("zip_january.txt", winter), ("zip_july.txt", summer)):
                archive.writestr(zipfile.ZipInfo(name, when.timetuple()[:6]), b"dated")
            archive.writestr("times.cab", make_cabinet(
                {"cab_january.txt": b"dated", "cab_july.txt": b"dated"},
                {"cab_january.txt": winter, "cab_july.txt": summer}))
        package = self.sandbox.place(harness.make_package(buffer.getvalue()))
        previous = os.environ.get("VELMAR_TZ")
        os.environ["VELMAR_TZ"] = zone
        try:
            self.assertEqual(self.sandbox.run(package).exit_code, 0)
        finally:
            if previous is None:
                del os.environ["VELMAR_TZ"]
            else:
                os.environ["VELMAR_TZ"] = previous
        work = self.sandbox.offplay / "rec_1"
        for name, when in (("zip_january.txt", winter), ("zip_july.txt", summer),
                           ("cab_january.txt", winter), ("cab_july.txt", summer)):
            expected = when.replace(tzinfo=zoneinfo.ZoneInfo(zone)).timestamp()
            self.assertEqual((work / name).stat().st_mtime, expected, name)

    def test_cabinet_below_a_temporary_folder_with_cyrillic_letters(self):
        sandbox = harness.Sandbox("cyrillic", "-\u0412\u043b\u0430\u0434")
        self.addCleanup(sandbox.cleanup)
        payload = harness.make_zip({**client_entries(),
                                    "slides.cab": make_cabinet({"slides/one.txt": b"slide one"})})
        self.assertEqual(sandbox.run(sandbox.place(harness.make_package(payload))).exit_code, 0)
        self.assertEqual((sandbox.offplay / "rec_1" / "slides" / "one.txt").read_bytes(),
                         b"slide one")


class DamagedPayloads(unittest.TestCase):
    """A package that cannot be extracted in full: problem 202 with the
    package's path (203 with the drive and sizes for a full disk), no client,
    nothing left behind, exit code 10."""

    def run_damaged(self, package: bytes, reason: str, sandbox=None, full_disk=False):
        sandbox = sandbox or harness.Sandbox("damaged")
        self.addCleanup(sandbox.cleanup)
        program = sandbox.place(package)
        result = sandbox.run(program, caption="VelmarOne")
        self.assertEqual(result.exit_code, 10, result.output)
        self.assertTrue(result.box["found"], "no problem box")
        self.assertEqual(list(sandbox.offplay.iterdir()), [], sandbox.describe())
        lines = sandbox.log_lines()
        self.assertTrue(any(reason in line for line in lines), f"no {reason!r} in {lines}")
        package_path = harness.to_windows(program)
        if full_disk:
            self.assertIn(f"Package {package_path} could not be extracted; removing what this "
                          "run extracted", lines)
        else:
            self.assertIn(f"Package {package_path} is damaged; removing what this run "
                          "extracted", lines)
            self.assertTrue(result.box["text"].startswith(
                f"The package {package_path} is damaged or incomplete"), result.box["text"])
            self.assertTrue(result.box["text"].endswith("\nProblem number: 202"))
            self.assertIn("Run failed: damaged package: ", lines[-2])
        self.assertNotIn("Done extracting all files", lines)
        self.assertFalse([line for line in lines if line.startswith("CreateProcess")])
        self.assertEqual(lines[-1], "*** Launcher Exiting ***")
        return result, lines

    def payload(self, extra) -> bytes:
        return harness.make_package(harness.make_zip({**client_entries(), **extra}))

    def test_truncated_download(self):
        package = self.payload({"media/video.bin": os.urandom(300000)})
        self.run_damaged(package[:len(package) * 5 // 6], "Cannot open zip archive ")

    def test_bzip2_entry(self):
        archive = tool_zip({**client_entries(), "media/notes.txt": b"notes " * 500}, "-Z", "bzip2")
        self.run_damaged(harness.make_package(archive),
                         "its compression method is neither stored nor deflate")

    def test_lzma_entry(self):
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w") as archive:
            for name, data in client_entries().items():
                archive.writestr(name, data)
            archive.writestr("media/notes.txt", b"notes " * 500, zipfile.ZIP_LZMA)
        self.run_damaged(harness.make_package(buffer.getvalue()),
                         "its compression method is neither stored nor deflate")

    def test_password_protected_entry(self):
        archive = tool_zip({**client_entries(), "media/notes.txt": b"secret notes"},
                           "-P", "secret")
        self.run_damaged(harness.make_package(archive), "it is encrypted with a password")

    def test_crc_mismatch_in_a_nested_zip(self):
        self.run_damaged(self.payload({"media/inner.zip": inner_zip_with_bad_crc()}),
                         "Cannot extract entry media/clip.bin of ")

    def test_payload_larger_than_the_free_disk_space(self):
        if os.getuid() != 0:
            self.skipTest("mounting a small file system needs root")
        sandbox = harness.Sandbox("fulldisk")
        user = harness._user
        subprocess.run(["mount", "-t", "tmpfs", "-o",
                        f"size=2m,uid={user.pw_uid},gid={user.pw_gid}", "tmpfs",
                        str(sandbox.temp)], check=True)
        self.addCleanup(subprocess.run, ["umount", str(sandbox.temp)], check=False)
        # Zeros pack small: the archive fits, the extracted file does not, and
        # the sizes the archive declares tell so before anything is written.
        result, lines = self.run_damaged(self.payload({"media/large.bin": bytes(4 << 20)}),
                                         "the work folder's drive has", sandbox, full_disk=True)
        text = result.box["text"]
        found = re.search(r"not enough free space on drive (.+?) to unpack the package: it needs "
                          r"([\d.]+) MB, and ([\d.]+) (MB|KB) is free\.", text)
        self.assertIsNotNone(found, text)
        drive, needed, free, unit = found.groups()
        self.assertTrue(harness.to_windows(sandbox.offplay).lower().startswith(drive.lower()))
        free_mb = float(free) / (1 if unit == "MB" else 1024)
        self.assertGreaterEqual(float(needed), 4.0)
        self.assertLessEqual(free_mb, 2.0)  # the small file system, emptied by the run
        self.assertTrue(text.endswith("\nProblem number: 203"), text)
        self.assertIn(f"Run failed: not enough free space: {drive} (system error 112); showing "
                      "problem 203", lines)


if __name__ == "__main__":
    unittest.main()
