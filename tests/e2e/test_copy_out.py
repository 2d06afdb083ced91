"""Copy-out of the embedded archive to OffPlay\\rec_N.zip, the sweep of earlier
runs, and launchers that run at the same time: real packages under Wine,
observed from outside (files, log, exit code)."""
import os
import signal
import unittest
import zipfile

import harness

STANDIN = harness.DIST / "velmar-client-standin.exe"


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
        """The folder exists and holds every payload file."""
        self.assertTrue(folder.is_dir(), f"{folder.name} was not created")
        for name, data in entries.items():
            if not name.endswith("/"):
                self.assertEqual((folder / name).read_bytes(), data, f"{folder.name}/{name}")

    # Processes -----------------------------------------------------------

    stay = staticmethod(harness.keep_client_running)
    release = staticmethod(harness.release_client)

    def freeze_when(self, process, program, reached, what: str):
        """Pauses the launcher running program as soon as reached() is true (a
        file it makes, a line it logs); returns its Linux process ids. The
        packages are large enough that the step behind that event lasts long
        after it."""
        self.assertTrue(harness.wait_for(lambda: reached() or process.poll() is not None,
                                         timeout=120, interval=0.005), f"never reached: {what}")
        pids = harness.windows_process_ids(harness.to_windows(program))
        self.addCleanup(self.thaw, pids)
        self.signal(pids, signal.SIGSTOP)
        self.assertIsNone(process.poll(), "the launcher ended before it could be paused")
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

    def test_all_numbers_taken_by_finished_runs_clears_them_and_takes_one(self):
        for number in range(1, 100):
            self.make_run(number)
        (self.rec("rec_1.zip")).write_bytes(b"an older archive")
        (self.rec("rec_7.zip")).write_bytes(b"an older archive")
        harness.give_to_user(self.sandbox.offplay)
        entries = payload("taken")
        program, _ = self.package(entries)
        self.assertEqual(self.sandbox.run(program).exit_code, 0)
        # Runs that never got as far as a client are finished: all swept. No
        # number was free before the sweep, so the lowest one it cleared is taken.
        self.assertEqual(sorted(p.name for p in self.sandbox.offplay.iterdir()), ["rec_1"])
        self.assertFalse((self.rec("rec_1") / "left.txt").exists())
        self.assert_complete_work_folder(self.rec("rec_1"), entries)
        self.assert_lines_in_order([*self.copy_lines("rec_1.zip", program),
                                    "Done extracting all files"])

    def test_failed_copy_out_shows_the_plain_box_and_ends_without_the_exit_banner(self):
        # Archives left read-only by someone else, without folders, under
        # every number: the sweep leaves them and none can be made.
        self.sandbox.offplay.mkdir()
        for number in range(1, 100):
            self.rec(f"rec_{number}.zip").write_bytes(b"read-only leftover")
        harness.give_to_user(self.sandbox.offplay)
        for number in range(1, 100):
            self.rec(f"rec_{number}.zip").chmod(0o444)
        program, _ = self.package(payload("fails"))
        result = self.sandbox.run(program, box=True)

        self.assertEqual(result.exit_code, 0)
        box = result.box
        self.assertTrue(box["found"], "no message box appeared")
        self.assertEqual(box["text"], "Failed to extract the exe file.")
        self.assertNotEqual(box["caption"], "VelmarOne")
        self.assertFalse(box["icon"], "the box shows an icon")
        self.assertEqual([b["id"] for b in box["buttons"]], [1])
        lines = self.sandbox.log_lines()
        refused = f"Can't create zip file {self.rec_windows('rec_1.zip')} "
        self.assertTrue(any(line.startswith(refused) for line in lines), lines)
        self.assertTrue(lines[-1].startswith("No number for the temporary archive"), lines[-1])
        self.assertNotIn("*** Launcher Exiting ***", lines)
        self.assertEqual(self.rec("rec_1.zip").read_bytes(), b"read-only leftover")
        self.assertEqual(sorted(p.name for p in self.sandbox.offplay.iterdir()),
                         sorted(f"rec_{n}.zip" for n in range(1, 100)))

    def test_sweep_removes_finished_runs_but_their_numbers_stay_taken(self):
        self.make_run(1, client=b"MZ finished client")
        self.make_run(2)  # never got as far as its client
        self.make_run(4, client=b"MZ finished client")
        alternative = self.make_run(6)
        (alternative / "bin" / "launcher.exe").write_bytes(b"MZ finished alternative client")
        # Read-only client, media file and folder (mode 0555, as extracted).
        locked = self.make_run(8, client=b"MZ read-only client")
        (locked / "media").mkdir()
        (locked / "media" / "clip.bin").write_bytes(b"media")
        for name in ("rec_2.zip", "rec_5.zip"):
            self.rec(name).write_bytes(b"stale")
        harness.give_to_user(self.sandbox.offplay)
        for path in (locked / "bin" / "velmar.exe", locked / "media" / "clip.bin"):
            path.chmod(0o444)
        (locked / "media").chmod(0o555)
        program, _ = self.package(payload("third"))
        self.assertEqual(self.sandbox.run(program).exit_code, 0)
        self.assertEqual(self.chosen_names(), ["rec_3.zip"])
        for gone in ("rec_1", "rec_2", "rec_2.zip", "rec_4", "rec_6", "rec_8"):
            self.assertFalse(self.rec(gone).exists(), f"{gone} was kept")
        self.assertTrue(self.rec("rec_5.zip").exists(), "an archive without a folder was deleted")
        self.assertTrue(self.rec("rec_3").is_dir())

    def test_runs_beside_an_on_access_scanner_succeed_and_are_swept(self):
        # The stand-in scanner holds every new or written file for 300 ms,
        # sharing reading only: the configuration right after it is extracted
        # (it comes last), the temporary archive when it is to be deleted, the
        # files of the run before when the next run sweeps it.
        scanner = harness.Scanner(self.sandbox, test=self)
        entries = harness.reference_like_files(STANDIN.read_bytes())
        program, _ = self.package(entries)
        for number in (1, 2):
            result = self.sandbox.run(program)
            self.assertEqual(result.exit_code, 0, "\n".join(self.sandbox.log_lines()))
            work = self.rec(f"rec_{number}")
            self.assertTrue(harness.wait_for((work / "client_report.txt").exists),
                            "the client did not start")
            client = harness.to_windows(work / "bin" / "velmar.exe")
            harness.wait_for(lambda: not harness.windows_process_ids(client))
            self.assertIn(b"title=Spring Review",
                          (work / "properties" / "offlineplayback.pbcf").read_bytes())
            self.assertFalse(self.rec(f"rec_{number}.zip").exists(), self.sandbox.describe())
        self.assertEqual(sorted(p.name for p in self.sandbox.offplay.iterdir()), ["rec_2"])
        self.assertEqual([l for l in self.sandbox.log_lines() if l.startswith("Gave up")], [])
        self.assertGreater(scanner.stop()["held"], len(entries))

    def test_unusable_archive_names_and_held_files(self):
        # rec_1.zip a folder, rec_2.zip a file in use by a running program;
        # rec_3 a finished run one of whose files another program holds open.
        self.sandbox.offplay.mkdir()
        self.rec("rec_1.zip").mkdir()
        self.rec("rec_2.zip").write_bytes(STANDIN.read_bytes())
        held = self.make_run(3, client=b"MZ finished client")
        (held / "media").mkdir()
        (held / "media" / "scanner.exe").write_bytes(STANDIN.read_bytes())
        folders = (self.sandbox.temp, held)
        for folder in folders:
            self.stay(folder)
        harness.give_to_user(self.sandbox.temp)
        holders = [self.sandbox.start(self.rec("rec_2.zip")),
                   self.sandbox.start(held / "media" / "scanner.exe")]
        for holder in holders:
            self.addCleanup(lambda h=holder: h.returncode is None and h.communicate(timeout=60))
        for folder in folders:
            self.addCleanup(self.release, folder)
        for folder in folders:
            self.assertTrue(harness.wait_for(lambda f=folder: (f / "client_report.txt").exists(),
                                             timeout=60), "a holder did not start")

        entries = payload("elsewhere")
        program, archive = self.package(entries)
        self.assertEqual(self.sandbox.run(program).exit_code, 0)
        self.assertEqual(self.chosen_names(), ["rec_4.zip"])
        self.assert_complete_work_folder(self.rec("rec_4"), entries)
        self.assertTrue(self.rec("rec_1.zip").is_dir())
        self.assertEqual(self.rec("rec_2.zip").read_bytes(), STANDIN.read_bytes())
        self.assertFalse((held / "bin" / "velmar.exe").exists())
        self.assertTrue((held / "media" / "scanner.exe").exists())

        # Once released, the first run after it removes the folder.
        for folder in folders:
            self.release(folder)
        for holder in holders:
            holder.communicate(timeout=60)
        self.assertEqual(self.sandbox.run(program).exit_code, 0)
        self.assertFalse(held.exists())

    def test_folder_of_a_running_client_is_kept_until_it_ends(self):
        folder = self.make_run(1, client=STANDIN.read_bytes())
        self.stay(folder)
        self.rec("rec_1.zip").write_bytes(b"stale")
        harness.give_to_user(self.sandbox.offplay)
        client = self.sandbox.start(folder / "bin" / "velmar.exe")
        self.addCleanup(lambda: client.returncode is None and client.communicate(timeout=60))
        self.addCleanup(self.release, folder)
        self.assertTrue(harness.wait_for(lambda: (folder / "client_report.txt").exists(),
                                         timeout=60), "the client did not start")

        program, _ = self.package(payload("beside"))
        self.assertEqual(self.sandbox.run(program).exit_code, 0)
        self.assertIsNone(client.poll(), "the client ended before it was released")
        self.assertEqual(self.chosen_names(), ["rec_2.zip"])
        self.assertTrue((folder / "bin" / "velmar.exe").exists())
        self.assertTrue((folder / "left.txt").exists())
        self.assertFalse(self.rec("rec_1.zip").exists())
        # A client in use is refused for good: no retries are spent on it.
        self.assertEqual([l for l in self.sandbox.log_lines() if l.startswith("Gave up")], [])

        # Once the client has ended, the next run's sweep removes the folder.
        self.release(folder)
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

        (keep / "readonly.txt").write_bytes(b"outside, read-only")
        (keep / "readonly.txt").chmod(0o444)
        empty = self.sandbox.downloads / "empty"
        empty.mkdir()
        harness.give_to_user(empty)

        run1 = self.make_run(1, client=b"MZ finished client")
        os.symlink(keep, run1 / "folderlink")
        os.symlink(keep / "file.txt", run1 / "filelink")
        os.symlink(keep / "readonly.txt", run1 / "readonlylink")
        os.symlink(empty, run1 / "emptylink")
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
        self.assertEqual((keep / "readonly.txt").read_bytes(), b"outside, read-only")
        self.assertEqual((keep / "readonly.txt").stat().st_mode & 0o777, 0o444)
        self.assertTrue(empty.is_dir(), "an empty folder behind a link was removed")
        # What really was inside rec_1 is gone; at most the links themselves remain.
        self.assertFalse((run1 / "left.txt").exists())
        self.assertFalse((run1 / "bin").exists())
        self.assertEqual(self.chosen_names(), ["rec_4.zip"])


class LinksInPlaceOfNames(CopyOutCase):
    """Links planted where the copy-out creates its archive, its claims or
    its folder: nothing outside the temporary folder is written or deleted."""

    def outside_snapshot(self, folder):
        return {str(p.relative_to(folder)): (p.read_bytes() if p.is_file() else None)
                for p in sorted(folder.rglob("*"))}

    def test_linked_archive_and_claim_names_are_passed_over(self):
        outside = self.sandbox.downloads / "outside"
        outside.mkdir()
        (outside / "victim.zip").write_bytes(b"outside archive")
        (outside / "victim.lock").write_bytes(b"outside lock")
        harness.give_to_user(outside)
        self.sandbox.offplay.mkdir()
        os.symlink(outside / "planted.zip", self.rec("rec_1.zip"))  # dangling
        os.symlink(outside / "victim.zip", self.rec("rec_2.zip"))
        os.symlink(outside / "victim.lock", self.rec("rec_3.lock"))
        os.symlink(outside / "planted.lock", self.rec("rec_4.lock"))  # dangling
        harness.give_to_user(self.sandbox.offplay)
        before = self.outside_snapshot(outside)

        entries = payload("beside links")
        program, _ = self.package(entries)
        self.assertEqual(self.sandbox.run(program).exit_code, 0)
        self.assertEqual(self.chosen_names(), ["rec_5.zip"])
        self.assert_complete_work_folder(self.rec("rec_5"), entries)
        self.assertEqual(self.outside_snapshot(outside), before)
        for name in ("rec_1.zip", "rec_2.zip", "rec_3.lock", "rec_4.lock"):
            self.assertTrue(self.rec(name).is_symlink(), f"the link {name} was not left alone")

    def test_offplay_linked_to_an_outside_folder_shows_the_copy_out_box(self):
        outside = self.sandbox.downloads / "outside"
        outside.mkdir()
        (outside / "rec_1").mkdir()
        (outside / "rec_1" / "bin").mkdir()
        (outside / "rec_1" / "bin" / "velmar.exe").write_bytes(b"MZ outside client")
        (outside / "rec_1.zip").write_bytes(b"outside archive")
        harness.give_to_user(outside)
        os.symlink(outside, self.sandbox.offplay)
        harness.give_to_user(self.sandbox.offplay)
        before = self.outside_snapshot(outside)

        program, _ = self.package(payload("linked"))
        result = self.sandbox.run(program, box=True)
        self.assertEqual(result.exit_code, 0)
        self.assertTrue(result.box["found"], "no message box appeared")
        self.assertEqual(result.box["text"], "Failed to extract the exe file.")
        self.assertEqual(self.outside_snapshot(outside), before)
        self.assertTrue(self.sandbox.offplay.is_symlink())


class LaunchersAtTheSameTime(CopyOutCase):
    def test_simultaneous_launchers_end_in_distinct_complete_work_folders(self):
        tags = ["A", "B", "C"]
        # Each client keeps running a while, so no launcher sweeps another's folder.
        running = {"bin/launcher.exe": STANDIN.read_bytes(), "stay_running.txt": b"15"}
        packages = {tag: self.package(payload(tag, {f"media/{tag}.bin": tag.encode() * 50000,
                                                    **running}),
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
        owners = {}
        for number in (1, 2, 3):
            who = (self.rec(f"rec_{number}") / "media" / "who.txt").read_bytes().decode()
            owners[who] = self.rec(f"rec_{number}")
        self.assertEqual(sorted(owners), tags)
        for tag, folder in owners.items():
            entries = payload(tag, {f"media/{tag}.bin": tag.encode() * 50000, **running})
            self.assert_complete_work_folder(folder, entries)

    def test_a_run_that_has_chosen_its_number_keeps_it(self):
        # The first launcher is paused right after choosing rec_1, before its
        # archive or folder exist: the second must still not take 1.
        first, _ = self.large_package("first.exe", 64)
        running = self.sandbox.start(first)
        claim = self.rec("rec_1.lock")
        pids = self.freeze_when(running, first, claim.exists, "the claim on rec_1")
        self.assertFalse(self.rec("rec_1").exists(), "the first run was paused too late")
        second, _ = self.package(payload("second"), "second.exe")
        self.assertEqual(self.sandbox.run(second).exit_code, 0)
        # Looked at before the first run goes on: its sweep may clear rec_2
        # once the second run's client has ended, as it clears any finished run.
        self.assertTrue(self.rec("rec_2").is_dir())
        self.thaw(pids)
        running.communicate(timeout=120)
        self.assertEqual(running.returncode, 0)
        self.assertEqual(sorted(self.chosen_names()), ["rec_1.zip", "rec_2.zip"])
        self.assertTrue(self.rec("rec_1").is_dir())
        self.assertEqual(self.sandbox.log_lines().count("Done extracting all files"), 2)

    def test_run_in_progress_survives_a_second_launchers_sweep(self):
        first, first_archive = self.large_package("first.exe", 300)
        running = self.sandbox.start(first)
        progress = self.rec("rec_1")
        pids = self.freeze_when(running, first, progress.exists, "the work folder")
        # What the paused run has extracted so far: a client not yet started.
        (progress / "bin").mkdir(exist_ok=True)
        # A real client: once thawed, the run starts the client it finds.
        (progress / "bin" / "velmar.exe").write_bytes(STANDIN.read_bytes())
        (progress / "extracted.txt").write_bytes(b"extracted so far")
        harness.give_to_user(progress)

        second, second_archive = self.package(payload("second"), "second.exe")
        self.assertEqual(self.sandbox.run(second).exit_code, 0)
        self.assertTrue((progress / "bin" / "velmar.exe").exists(), "a run in progress was swept")
        self.assertTrue(self.rec("rec_1.zip").exists(), "a run in progress lost its archive")
        self.thaw(pids)
        running.communicate(timeout=300)
        self.assertEqual(running.returncode, 0)

        self.assertTrue((progress / "extracted.txt").exists())
        self.assertEqual(sorted(self.chosen_names()), ["rec_1.zip", "rec_2.zip"])
        self.assertEqual(self.sandbox.log_lines().count("Done extracting all files"), 2)
        self.assertEqual((progress / "media" / "large.bin").stat().st_size, 300 << 20)

    def test_launcher_killed_during_extraction_leaves_a_folder_the_next_run_sweeps(self):
        first, _ = self.large_package("first.exe", 64)
        running = self.sandbox.start(first)
        pids = self.freeze_when(running, first, self.rec("rec_1").exists, "the work folder")
        self.signal(pids, signal.SIGKILL)
        running.communicate(timeout=60)
        self.assertTrue(self.rec("rec_1").is_dir())

        entries = payload("after")
        second, _ = self.package(entries, "second.exe")
        self.assertEqual(self.sandbox.run(second).exit_code, 0)
        self.assertEqual(self.chosen_names()[-1], "rec_2.zip")
        self.assertFalse(self.rec("rec_1").exists(), "the killed run's folder was kept")
        self.assertFalse(self.rec("rec_1.zip").exists())
        self.assert_complete_work_folder(self.rec("rec_2"), entries)


if __name__ == "__main__":
    unittest.main()
