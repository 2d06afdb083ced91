"""The log never written, moved or deleted through a link: a link in place of
the log folder, the log or its .old is left alone, and the log goes to its
fallback in the temporary folder itself."""
import hashlib
import os
import unittest

import harness

BIG_LOG = b"[12/08/26 04:17:51] earlier line\r\n" * 16000  # past the rotation threshold


def digests(folder):
    """Each file of a folder by name, as a digest: a failure message stays short."""
    return {p.name: hashlib.sha256(p.read_bytes()).hexdigest() for p in folder.iterdir()}


class LogThroughLinks(unittest.TestCase):
    def test_links_in_place_of_the_log_files_are_left_alone(self):
        # Each row: what the log folder holds (name -> "link" to the outside
        # file of that name, or bytes), or None when the folder itself is a link.
        rows = {
            ".old a link, log past the threshold": {"launcher_log.txt": BIG_LOG,
                                                    "launcher_log.old": "link"},
            "log a link": {"launcher_log.txt": "link"},
            "log a dangling link": {"launcher_log.txt": "dangling"},
            "log folder a link": None,
        }
        # With a client that starts, so that the launch ends without a box.
        package = harness.make_package(harness.make_zip({
            "bin/launcher.exe": (harness.DIST / "velmar-client-standin.exe").read_bytes(),
            "properties/offlineplayback.pbrd": b"no tokens\n", "top.txt": b"top"}))
        for name, folder_content in rows.items():
            with self.subTest(name):
                sandbox = harness.Sandbox("loglinks")
                self.addCleanup(sandbox.cleanup)
                outside = sandbox.downloads / "outside"
                outside.mkdir()
                originals = {"launcher_log.txt": b"outside log\r\n" + BIG_LOG,
                             "launcher_log.old": b"outside old\r\n"}
                for file_name, data in originals.items():
                    (outside / file_name).write_bytes(data)
                harness.give_to_user(outside)
                outside_before = digests(outside)
                folder = sandbox.temp / harness.LOG_FOLDER
                if folder_content is None:
                    os.symlink(outside, folder)
                else:
                    folder.mkdir()
                    for file_name, content in folder_content.items():
                        if content == "link":
                            os.symlink(outside / file_name, folder / file_name)
                        elif content == "dangling":
                            os.symlink(outside / "missing.txt", folder / file_name)
                        else:
                            (folder / file_name).write_bytes(content)
                harness.give_to_user(folder)
                links = {p: os.readlink(p) for p in [folder, *folder.iterdir()] if p.is_symlink()}

                result = sandbox.run(sandbox.place(package))
                self.assertEqual(result.exit_code, 0)
                self.assertTrue((sandbox.offplay / "rec_1" / "top.txt").exists())
                self.assertEqual(digests(outside), outside_before, "an outside file changed")
                self.assertEqual({p: os.readlink(p) for p in links}, links)
                fallback = (sandbox.temp / harness.LOG_NAME).read_bytes()
                self.assertIn(b"*** Launcher Started ***", fallback)
                self.assertIn(b"Done extracting all files", fallback)
                if folder_content is not None and "launcher_log.old" in folder_content:
                    self.assertTrue((folder / "launcher_log.txt").read_bytes() == BIG_LOG,
                                    "the log was moved or written although its .old is a link")


if __name__ == "__main__":
    unittest.main()
