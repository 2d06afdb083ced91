"""The built launcher stub, what packages are made from: its image, and that
no DLL dropped beside a package is ever loaded by it."""
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import unittest

import harness
from test_extraction import make_cabinet

# The loader resolves static imports before the entry function can restrict
# the DLL search: only KERNEL32 and the C runtime, both KnownDLLs that Windows
# always takes from the system folder, may be imported.
STATIC_IMPORTS = {"kernel32.dll", "msvcrt.dll"}

# DLLs that a launch, a message box, the shell or the cabinet library may
# bring in. Windows takes a DLL beside the program first unless it is a
# KnownDLL; the last three are KnownDLLs there, planted all the same.
NOT_KNOWN_DLLS = [
    "uxtheme", "version", "dwmapi", "cryptbase", "propsys", "cabinet", "comctl32", "winmm",
    "msimg32", "dbghelp", "profapi", "userenv", "wintypes", "cfgmgr32", "sspicli", "powrprof",
    "textinputframework", "coremessaging", "windows.storage", "kernel.appcore", "bcrypt",
    "wtsapi32", "netapi32", "dnsapi", "iphlpapi", "secur32", "crypt32", "wintrust", "edputil",
    "ntmarta", "urlmon", "windowscodecs", "oleacc", "usp10"]
PLANTED_DLLS = NOT_KNOWN_DLLS + ["user32", "shell32", "shcore"]

# A DLL that leaves NAME.dll.loaded beside itself when any process loads it.
MARKER_DLL_SOURCE = r"""
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 8];
        DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcpyW(path + length, L".loaded");
            HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
        }
    }
    return TRUE;
}
"""


def objdump():
    return subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(harness.LAUNCHER)],
                          check=True, capture_output=True, text=True).stdout


class LauncherImage(unittest.TestCase):
    def setUp(self):
        self.image = harness.LAUNCHER.read_bytes()

    def test_fits_below_the_marker_window(self):
        # The marker must lie within the first 500000 bytes; what the stub
        # leaves of them is the room for a publisher's icon.
        self.assertLess(len(self.image), 430000)

    def test_never_holds_the_marker_bytes(self):
        self.assertEqual(self.image.find(harness.MARKER, 100000), -1)
        self.assertEqual(self.image.find(harness.MARKER), -1)

    def test_imports_kernel32_and_the_c_runtime_only(self):
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", objdump())}
        self.assertIn("kernel32.dll", imported)
        self.assertLessEqual(imported, STATIC_IMPORTS, f"imported: {imported - STATIC_IMPORTS}")

    def test_is_a_gui_program(self):
        self.assertRegex(objdump(), r"Subsystem\s+00000002")

    def test_embeds_manifest_and_version_information(self):
        self.assertIn(b'level="asInvoker"', self.image)
        self.assertIn(b"Microsoft.Windows.Common-Controls", self.image)
        self.assertIn("FileVersion".encode("utf-16-le"), self.image)
        self.assertIn("velmar-launcher.exe".encode("utf-16-le"), self.image)


class PlantedDlls(unittest.TestCase):
    """37 DLLs beside the package, with Wine told to prefer a DLL found there
    for every one that is not a KnownDLL on Windows, as Windows does."""

    def setUp(self):
        work = pathlib.Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, work)
        (work / "marker.c").write_text(MARKER_DLL_SOURCE)
        self.marker_dll = work / "marker.dll"
        subprocess.run(["x86_64-w64-mingw32-gcc", "-shared", "-nostdlib", "-s",
                        "-Wl,--entry=DllMain", "-o", str(self.marker_dll), str(work / "marker.c"),
                        "-lkernel32"], check=True, capture_output=True)
        saved = os.environ.get("WINEDLLOVERRIDES")
        self.addCleanup(lambda: os.environ.__setitem__("WINEDLLOVERRIDES", saved) if saved
                        else os.environ.pop("WINEDLLOVERRIDES", None))
        os.environ["WINEDLLOVERRIDES"] = ",".join(NOT_KNOWN_DLLS) + "=n,b;mscoree,mshtml="

    def plant(self, sandbox):
        for name in PLANTED_DLLS:
            shutil.copyfile(self.marker_dll, sandbox.downloads / f"{name}.dll")
        harness.give_to_user(sandbox.downloads)

    def test_no_planted_dll_is_loaded(self):
        cabinet = make_cabinet({"cab_dir/from_cab.txt": b"from the cabinet"})
        # A client that starts: a launch without one ends in the problem box.
        client = {"bin/launcher.exe": (harness.DIST / "velmar-client-standin.exe").read_bytes(),
                  "properties/offlineplayback.pbrd": b"no tokens\n"}
        launches = {
            "plain": (harness.make_package(harness.make_zip(
                {**client, "docs/guide/readme.txt": b"text"})), False),
            "nested cabinet": (harness.make_package(harness.make_zip(
                {**client, "archives/extra.cab": cabinet, "top.txt": b"top"})), False),
            "problem box": (harness.LAUNCHER.read_bytes(), True),
        }
        for name, (image, box) in launches.items():
            with self.subTest(name):
                sandbox = harness.Sandbox("planted")
                self.addCleanup(sandbox.cleanup)
                self.plant(sandbox)
                result = sandbox.run(sandbox.place(image), caption="VelmarOne" if box else None)
                if box:
                    self.assertTrue(result.box["found"], "no problem box appeared")
                else:
                    self.assertIn("Done extracting all files", sandbox.log_lines())
                loaded = sorted(p.name for p in sandbox.downloads.glob("*.loaded"))
                self.assertEqual(loaded, [], f"planted DLLs loaded in the {name} launch")


if __name__ == "__main__":
    unittest.main()
