"""Copy-out of the embedded archive to OffPlay\\rec_N.zip, the sweep of earlier
runs, and launchers that run at the same time: real packages under Wine,
observed from outside (files, log, exit code)."""
import os
import re
import signal
import time
import unittest
import zipfile

import harness

STANDIN = harness.DIST / "velmar-client-standin.exe"

# Until the launch sequence calls the extraction driver, a run leaves an
# empty work folder; from then on every payload file must be in it.
EXTRACTION_WIRED = re.search(r"^\s*ExtractArchive\s*\(",
                             (harness.REPO / "launcher" / "launch_sequence.cpp").read_text(),
                             re.M) is not None


def payload(tag: str, extra=None):
    """A small payload, told apart by media/who.txt. Its client is the
    alternative one (bin/launcher.exe): a run starts it, and the sweep, which
    looks for bin/velmar.exe, treats its folder as one without a client."""
    # No tokens in the configuration file: the launch leaves it as it is.
    entries = {"properties/offlineplayback.pbrd": b"no tokens here\n",
               "bin/launcher.exe": STANDIN.read_bytes(),
               "media/who.txt": tag.encode()}
    entries.update(extra or {})
    return entries


class CopyOutCase(unittest.TestCase):
    def setUp(self):
        self.sandbox = harness.Sandbox("copyout")
        self.addCleanup(self.sandbox.cleanup)

    # Paths and files ------------------------------------------------------

    def rec(self, name: str):
        return self.sandbox.offplay / name

    def rec_windows(self, name: str) -> str:
        return self.sandbox.temp_windows + "\\OffPlay\\" + name

    def make_run(self, number: int, client: bytes = None):
        """The work folder of an earlier run, with or without its client."""
        folder = self.rec(f"rec_{number}")
        (folder / "bin").mkdir(parents=True, exist_ok=True)
        (folder / "left.txt").write_bytes(b"left by an earlier run")
        if client is not None:
            (folder / "bin" / "velmar.exe").write_bytes(client)
        harness.give_to_user(self.sandbox.offplay)
        return folder

    def package(self, entries, name="event.exe"):
        archive = harness.make_zip(entries)
        return self.sandbox.place(harness.make_package(archive), name), archive

    def large_package(self, name: str, megabytes: int):
        """A package whose stored archive is megabytes long: its copy takes a while."""
        archive_file = self.sandbox.downloads / (name + ".zip")
        with zipfile.ZipFile(archive_file, "w", zipfile.ZIP_STORED) as archive:
            archive.writestr("properties/offlineplayback.pbrd", b"url=%local%\n")
            archive.writestr("bin/launcher.exe", STANDIN.read_bytes())
            with archive.open("media/large.bin", "w") as member:
                block = bytes(range(256)) * 4096
                for _ in range(megabytes):
                    member.write(block)
        path = harness.write_package(self.sandbox.downloads / name, archive_file)
        return path, archive_file

    # Log -----------------------------------------------------------------

    def assert_lines_in_order(self, expected):
        lines = self.sandbox.log_lines()
        position = 0
        for line in expected:
            try:
                position = lines.index(line, position) + 1
            except ValueError:
                self.fail(f"log lacks {line!r} (in this order) in {lines}")

    def copy_lines(self, name: str, package):
        path = self.rec_windows(name)
        return [f"GetZipFrom Exe Generated filename ={path}",
                f"ExeFileSize ={package.stat().st_size}",
                f"Created zip file {path}"]

    def chosen_names(self):
        prefix = "GetZipFrom Exe Generated filename =" + self.rec_windows("")
        return [line[len(prefix):] for line in self.sandbox.log_lines() if line.startswith(prefix)]

    # Work folders --------------------------------------------------------

    def assert_complete_work_folder(self, folder, entries):
        """The folder exists; once extraction is wired, it holds every payload file."""
        self.assertTrue(folder.is_dir(), f"{folder.name} was not created")
        if not EXTRACTION_WIRED:
            return
        for name, data in entries.items():
            if not name.endswith("/"):
                self.assertEqual((folder / name).read_bytes(), data, f"{folder.name}/{name}")

    # Processes -----------------------------------------------------------

    def freeze_when_logged(self, process, program, line_start: str):
        """Pauses the launcher running program once the log holds a line that
        starts with line_start; returns its Linux process ids. The launcher is
        paused as soon as it is seen and then let run in steps of a few
        milliseconds, so that it is caught right behind that line however
        busy the machine is."""
        windows = harness.to_windows(program)
        self.assertTrue(harness.wait_for(lambda: harness.windows_process_ids(windows),
                                         timeout=60, interval=0.002), "the launcher did not start")
        pids = harness.windows_process_ids(windows)
        self.addCleanup(self.thaw, pids)
        self.signal(pids, signal.SIGSTOP)
        deadline = time.monotonic() + 60
        while not any(l.startswith(line_start) for l in self.sandbox.log_lines()):
            self.assertLess(time.monotonic(), deadline, f"no {line_start!r} line")
            self.signal(pids, signal.SIGCONT)
            time.sleep(0.002)
            self.signal(pids, signal.SIGSTOP)
        alive = [pid for pid in pids if os.path.exists(f"/proc/{pid}")]
        self.assertTrue(alive, "the launcher ended before it could be paused")
        self.assertIsNone(process.poll())
        return pids

    @staticmethod
    def signal(pids, number):
        for pid in pids:
            try:
                os.kill(pid, number)
            except ProcessLookupError:
                pass

    @classmethod
    def thaw(cls, pids):
        cls.signal(pids, signal.SIGCONT)


class FirstRunAndSweep(CopyOutCase):
    def test_first_run_copies_out_creates_the_work_folder_and_logs(self):
        entries = payload("only")
        program, _ = self.package(entries)
        result = self.sandbox.run(program)
        self.assertEqual(result.exit_code, 0)
        self.assert_lines_in_order(["*** Launcher Started ***", "HasSelfExtractMarker",
                                    *self.copy_lines("rec_1.zip", program),
                                    "Done extracting all files", "*** Launcher Exiting ***"])
        self.assert_complete_work_folder(self.rec("rec_1"), entries)
        # After extraction the archive is deleted; the claim ended with the process.
        self.assertEqual(sorted(p.name for p in self.sandbox.offplay.iterdir()), ["rec_1"])

    def test_all_numbers_taken_reuses_one_and_copies_the_archive_byte_for_byte(self):
        for number in range(1, 100):
            self.make_run(number)
        (self.rec("rec_1.zip")).write_bytes(b"an older archive")
        (self.rec("rec_7.zip")).write_bytes(b"an older archive")
        harness.give_to_user(self.sandbox.offplay)
        program, archive = self.package(payload("taken"))
        self.assertEqual(self.sandbox.run(program).exit_code, 0)
        self.assertEqual(self.rec("rec_1.zip").read_bytes(), archive)
        self.assertFalse(self.rec("rec_7.zip").exists())
        self.assertFalse(self.rec("rec_100").exists())
        self.assertTrue((self.rec("rec_1") / "left.txt").exists())
        lines = self.sandbox.log_lines()
        self.assertNotIn("Done extracting all files", lines)
        self.assert_lines_in_order(self.copy_lines("rec_1.zip", program))

    def test_failed_copy_out_shows_the_plain_box_and_ends_without_the_exit_banner(self):
        # An archive left read-only by someone else, without a folder: the
        # sweep leaves it, number 1 is chosen and its archive cannot be made.
        self.sandbox.offplay.mkdir()
        self.rec("rec_1.zip").write_bytes(b"read-only leftover")
        harness.give_to_user(self.sandbox.offplay)
        self.rec("rec_1.zip").chmod(0o444)
        program, _ = self.package(payload("fails"))
        result = self.sandbox.run(program, box=True)

        self.assertEqual(result.exit_code, 0)
        box = result.box
        self.assertTrue(box["found"], "no message box appeared")
        self.assertEqual(box["text"], "Failed to extract the exe file.")
        self.assertNotEqual(box["caption"], "VelmarOne")
        self.assertFalse(box["icon"], "the box shows an icon")
        self.assertEqual([b["id"] for b in box["buttons"]], [1])
        path = self.rec_windows("rec_1.zip")
        lines = self.sandbox.log_lines()
        self.assertEqual(lines[-2:], [f"Can't create zip file {path}",
                                      "Could not extract the current file."])
        self.assertNotIn("*** Launcher Exiting ***", lines)
        self.assertEqual(self.rec("rec_1.zip").read_bytes(), b"read-only leftover")
        self.assertFalse(self.rec("rec_1").exists())

    def test_sweep_removes_finished_runs_but_their_numbers_stay_taken(self):
        self.make_run(1, client=b"MZ finished client")
        self.make_run(2)  # no client: never removed
        self.make_run(4, client=b"MZ finished client")
        for name in ("rec_2.zip", "rec_5.zip"):
            self.rec(name).write_bytes(b"stale")
        harness.give_to_user(self.sandbox.offplay)
        program, _ = self.package(payload("third"))
        self.assertEqual(self.sandbox.run(program).exit_code, 0)
        self.assertEqual(self.chosen_names(), ["rec_3.zip"])
        self.assertFalse(self.rec("rec_1").exists())
        self.assertFalse(self.rec("rec_4").exists())
        self.assertTrue((self.rec("rec_2") / "left.txt").exists())
        self.assertFalse(self.rec("rec_2.zip").exists())
        self.assertTrue(self.rec("rec_5.zip").exists(), "an archive without a folder was deleted")
        self.assertTrue(self.rec("rec_3").is_dir())

    def test_folder_of_a_running_client_is_kept_until_it_ends(self):
        folder = self.make_run(1, client=STANDIN.read_bytes())
        (folder / "stay_running.txt").write_bytes(b"8")
        self.rec("rec_1.zip").write_bytes(b"stale")
        harness.give_to_user(self.sandbox.offplay)
        client = self.sandbox.start(folder / "bin" / "velmar.exe")
        self.addCleanup(lambda: client.returncode is None and client.communicate(timeout=60))
        self.assertTrue(harness.wait_for(lambda: (folder / "client_report.txt").exists(),
                                         timeout=60), "the client did not start")

        program, _ = self.package(payload("beside"))
        self.assertEqual(self.sandbox.run(program).exit_code, 0)
        self.assertIsNone(client.poll(), "the client ended before the sweep could be tested")
        self.assertEqual(self.chosen_names(), ["rec_2.zip"])
        self.assertTrue((folder / "bin" / "velmar.exe").exists())
        self.assertTrue((folder / "left.txt").exists())
        self.assertFalse(self.rec("rec_1.zip").exists())

        # Once the client has ended, the next run's sweep removes the folder.
        client.communicate(timeout=60)
        self.assertEqual(self.sandbox.run(program).exit_code, 0)
        self.assertFalse(folder.exists())
        self.assertEqual(self.chosen_names(), ["rec_2.zip", "rec_3.zip"])

    def test_links_in_swept_trees_are_never_followed(self):
        keep = self.sandbox.downloads / "keep"
        (keep / "sub").mkdir(parents=True)
        (keep / "sub" / "deep.txt").write_bytes(b"outside")
        (keep / "file.txt").write_bytes(b"outside")
        (keep / "bin").mkdir()
        (keep / "bin" / "velmar.exe").write_bytes(b"MZ outside client")
        harness.give_to_user(keep)

        run1 = self.make_run(1, client=b"MZ finished client")
        os.symlink(keep, run1 / "folderlink")
        os.symlink(keep / "file.txt", run1 / "filelink")
        self.sandbox.offplay.mkdir(exist_ok=True)
        os.symlink(keep, self.rec("rec_2"))  # a whole run folder that is a link
        run3 = self.rec("rec_3")
        run3.mkdir()
        os.symlink(keep / "bin", run3 / "bin")  # its client lies outside
        os.symlink(keep / "file.txt", self.rec("rec_3.zip"))
        harness.give_to_user(self.sandbox.offplay)

        program, _ = self.package(payload("links"))
        self.assertEqual(self.sandbox.run(program).exit_code, 0)

        self.assertEqual((keep / "sub" / "deep.txt").read_bytes(), b"outside")
        self.assertEqual((keep / "file.txt").read_bytes(), b"outside")
        self.assertEqual((keep / "bin" / "velmar.exe").read_bytes(), b"MZ outside client")
        # What really was inside rec_1 is gone; at most the links themselves remain.
        self.assertFalse((run1 / "left.txt").exists())
        self.assertFalse((run1 / "bin").exists())
        self.assertEqual(self.chosen_names(), ["rec_4.zip"])


class LaunchersAtTheSameTime(CopyOutCase):
    def test_simultaneous_launchers_end_in_distinct_complete_work_folders(self):
        tags = ["A", "B", "C"]
        packages = {tag: self.package(payload(tag, {f"media/{tag}.bin": tag.encode() * 50000}),
                                      f"event-{tag}.exe") for tag in tags}
        processes = [self.sandbox.start(program) for program, _ in packages.values()]
        for process in processes:
            process.communicate(timeout=120)
            self.assertEqual(process.returncode, 0)

        names = self.chosen_names()
        self.assertEqual(sorted(names), ["rec_1.zip", "rec_2.zip", "rec_3.zip"], names)
        lines = self.sandbox.log_lines()
        self.assertEqual(lines.count("Done extracting all files"), 3)
        self.assertEqual(sorted(p.name for p in self.sandbox.offplay.iterdir()),
                         ["rec_1", "rec_2", "rec_3"])
        if EXTRACTION_WIRED:
            owners = {}
            for number in (1, 2, 3):
                who = (self.rec(f"rec_{number}") / "media" / "who.txt").read_bytes().decode()
                owners[who] = self.rec(f"rec_{number}")
            self.assertEqual(sorted(owners), tags)
            for tag, folder in owners.items():
                entries = payload(tag, {f"media/{tag}.bin": tag.encode() * 50000})
                self.assert_complete_work_folder(folder, entries)

    def test_a_run_that_has_chosen_its_number_keeps_it(self):
        # The first launcher is paused right after choosing rec_1, before its
        # archive or folder exist: the second must still not take 1.
        first, _ = self.large_package("first.exe", 64)
        running = self.sandbox.start(first)
        pids = self.freeze_when_logged(running, first, "GetZipFrom Exe Generated filename =")
        second, _ = self.package(payload("second"), "second.exe")
        self.assertEqual(self.sandbox.run(second).exit_code, 0)
        self.thaw(pids)
        running.communicate(timeout=120)
        self.assertEqual(running.returncode, 0)
        self.assertEqual(sorted(self.chosen_names()), ["rec_1.zip", "rec_2.zip"])
        self.assertTrue(self.rec("rec_1").is_dir())
        self.assertTrue(self.rec("rec_2").is_dir())
        self.assertEqual(self.sandbox.log_lines().count("Done extracting all files"), 2)

    def test_run_in_progress_survives_a_second_launchers_sweep(self):
        for number in range(1, 100):
            self.make_run(number)
        first, first_archive = self.large_package("first.exe", 300)
        running = self.sandbox.start(first)
        pids = self.freeze_when_logged(running, first, "Created zip file ")
        # What the paused run has extracted so far: a client not yet started.
        progress = self.rec("rec_1")
        (progress / "bin" / "velmar.exe").write_bytes(b"MZ extracted, not started")
        (progress / "extracted.txt").write_bytes(b"extracted so far")
        harness.give_to_user(progress)

        second, second_archive = self.package(payload("second"), "second.exe")
        self.assertEqual(self.sandbox.run(second).exit_code, 0)
        self.thaw(pids)
        running.communicate(timeout=300)
        self.assertEqual(running.returncode, 0)

        self.assertTrue((progress / "bin" / "velmar.exe").exists(), "a run in progress was swept")
        self.assertTrue((progress / "extracted.txt").exists())
        self.assertEqual(sorted(self.chosen_names()), ["rec_1.zip", "rec_2.zip"])
        self.assertEqual(self.rec("rec_2.zip").read_bytes(), second_archive)
        self.assertEqual(self.rec("rec_1.zip").stat().st_size, first_archive.stat().st_size)
        with open(self.rec("rec_1.zip"), "rb") as copied, open(first_archive, "rb") as original:
            while True:
                a, b = copied.read(1 << 20), original.read(1 << 20)
                self.assertEqual(a, b, "the first run's archive was clobbered")
                if not a:
                    break


if __name__ == "__main__":
    unittest.main()
