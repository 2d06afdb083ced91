"""105 launches in a row: the run numbers never run out, disk use stays
bounded, and every run's client reads its own package's content."""
import io
import json
import unittest
import zipfile

import harness
from test_copy_out import STANDIN, CopyOutCase


class ManyRuns(CopyOutCase):
    def test_105_runs_each_start_their_own_content_and_leave_at_most_two_folders(self):
        # Alternating: the alternative client, and a client with read-only
        # media stored as mode 0555/0444 (Unix) or with the FAT read-only bit.
        client = STANDIN.read_bytes()
        for run in range(1, 106):
            event = f"EVENT {run}"
            entries = {"eventname.prop": f"eventname={event}\n".encode(),
                       "media/clip.bin": event.encode()}
            if run % 2:
                entries["bin/launcher.exe"] = client
                entries["properties/offlineplayback.pbrd"] = b"event=%eventname%\n"
                archive = harness.make_zip(entries)
            else:
                entries["bin/velmar.exe"] = client
                entries["properties/offlineplayback.pbcf"] = b"event=%eventname%\n"
                archive = self.read_only_zip(entries, unix=run % 4 == 0)
            program = self.sandbox.place(harness.make_package(archive), f"e{run}.exe")
            self.assertEqual(self.sandbox.run(program).exit_code, 0, f"run {run}")
            work = self.rec(self.chosen_names()[-1][:-len(".zip")])
            report = work / "client_report.txt"
            self.assertTrue(harness.wait_for(report.exists, timeout=30), f"run {run}: no client")
            config = json.loads(report.read_text(encoding="utf-8"))["config_hex"]
            self.assertEqual(bytes.fromhex(config), f"event={event}\n".encode(), f"run {run}")
            self.assertTrue(program.exists(), f"run {run}: its package is gone: "
                            f"{sorted(p.name for p in self.sandbox.downloads.iterdir())}")
        folders = [p.name for p in self.sandbox.offplay.iterdir() if p.is_dir()]
        self.assertLessEqual(len(folders), 2, folders)

    @staticmethod
    def read_only_zip(entries, unix: bool) -> bytes:
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
            for name, data in entries.items():
                info = zipfile.ZipInfo(name)
                info.compress_type = zipfile.ZIP_DEFLATED
                if name.startswith(("bin/", "media/")):
                    if unix:
                        info.create_system = 3
                        info.external_attr = (0o100555 if name.startswith("bin/")
                                              else 0o100444) << 16
                    else:
                        info.create_system = 0
                        info.external_attr = 0x21
                archive.writestr(info, data)
            for folder in ("bin/", "media/"):
                info = zipfile.ZipInfo(folder)
                info.create_system = 3
                info.external_attr = (0o40555 << 16) | 0x10
                archive.writestr(info, b"")
        return buffer.getvalue()


if __name__ == "__main__":
    unittest.main()
