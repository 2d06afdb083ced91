"""A package whose payload holds folders, a nested zip and a nested cabinet,
extracted by the launcher as a user would run it."""
import io
import pathlib
import subprocess
import tempfile
import unittest
import zipfile

import harness


def make_cabinet(files) -> bytes:
    """A cabinet (MSZIP) made by gcab from {relative name: bytes}."""
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        for name, data in files.items():
            path = work / "src" / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
        names = sorted(files)
        subprocess.run(["gcab", "-c", "-z", str(work / "out.cab"), *names],
                       cwd=work / "src", check=True, capture_output=True)
        return (work / "out.cab").read_bytes()


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
            "bin/": None,
            "properties/": None,
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
        self.assertTrue((work / "bin").is_dir())
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
        package = self.sandbox.place(harness.make_package(buffer.getvalue()))
        self.sandbox.run(package)
        work = self.sandbox.offplay / "rec_1"
        self.assertEqual((work / "ok.txt").read_bytes(), b"fine")
        self.assertEqual(sorted(p.name for p in work.iterdir()), ["ok.txt"])
        # Where the names would have led: the work folder's parents and the drive's root.
        for folder in (self.sandbox.offplay, self.sandbox.temp, self.sandbox.temp.parent,
                       harness.DRIVE_C):
            for name in ("escaped.txt", "escaped2.txt", "absolute.txt", "drive.txt"):
                self.assertFalse((folder / name).exists(), f"{name} written to {folder}")
        self.assertEqual(sorted(p.name for p in self.sandbox.offplay.iterdir()), ["rec_1"])

if __name__ == "__main__":
    unittest.main()
