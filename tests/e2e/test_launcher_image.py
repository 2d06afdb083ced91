"""The built launcher stub, checked as a file: what packages are made from."""
import re
import subprocess
import unittest

import harness

# DLLs that Windows always loads from the system folder (KnownDLLs): a DLL of
# that name dropped beside a package is never loaded instead.
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "msvcrt.dll", "advapi32.dll",
              "gdi32.dll", "ole32.dll", "shlwapi.dll"}


def objdump():
    return subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(harness.LAUNCHER)],
                          check=True, capture_output=True, text=True).stdout


class LauncherImage(unittest.TestCase):
    def setUp(self):
        self.image = harness.LAUNCHER.read_bytes()

    def test_fits_below_the_marker_window(self):
        self.assertLess(len(self.image), 400000)

    def test_never_holds_the_marker_bytes(self):
        self.assertEqual(self.image.find(harness.MARKER, 100000), -1)
        self.assertEqual(self.image.find(harness.MARKER), -1)

    def test_imports_only_known_system_dlls(self):
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", objdump())}
        self.assertTrue(imported, "no import table found")
        self.assertLessEqual(imported, KNOWN_DLLS, f"not a known DLL: {imported - KNOWN_DLLS}")
        self.assertNotIn("cabinet.dll", imported)

    def test_is_a_gui_program(self):
        self.assertRegex(objdump(), r"Subsystem\s+00000002")

    def test_embeds_manifest_and_version_information(self):
        self.assertIn(b'level="asInvoker"', self.image)
        self.assertIn(b"Microsoft.Windows.Common-Controls", self.image)
        self.assertIn("FileVersion".encode("utf-16-le"), self.image)
        self.assertIn("velmar-launcher.exe".encode("utf-16-le"), self.image)


if __name__ == "__main__":
    unittest.main()
