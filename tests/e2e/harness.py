"""Plumbing for the end-to-end tests: real packages, run under Wine as a user
would start them, observed from outside (files, log, exit code, message box).

Each test works in a Sandbox: a temporary folder of its own (the launcher sees
it through TMP/TEMP) and a downloads folder that holds the packages, both
inside the Wine user's profile, so tests never see each other's runs.
"""
import json
import os
import pathlib
import pwd
import secrets
import shutil
import subprocess
import sys
import time

REPO = pathlib.Path(os.environ.get("VELMAR_REPO", pathlib.Path(__file__).resolve().parents[2]))
DIST = pathlib.Path(os.environ.get("VELMAR_DIST", REPO / "dist"))
BUILD = pathlib.Path(os.environ.get("VELMAR_BUILD", REPO / "build" / "win"))
WINE_RUN = REPO / "scripts" / "wine-run.sh"
SUPPORT = BUILD / "test-support"
LAUNCHER = DIST / "velmar-launcher.exe"

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "test_support"))
from pack_inputs import MARKER, make_zip, package_bytes, reference_like_files  # noqa: E402,F401

LOG_FOLDER = "Velmar_Client_Logs"
LOG_NAME = "launcher_log.txt"

if os.getuid() == 0:
    WINE_USER = os.environ.get("VELMAR_WINE_USER", "velmar-test")
else:
    WINE_USER = pwd.getpwuid(os.getuid()).pw_name
_user = pwd.getpwnam(WINE_USER)
PREFIX = pathlib.Path(os.environ.get("VELMAR_WINEPREFIX", pathlib.Path(_user.pw_dir) / ".wine-velmar"))
DRIVE_C = PREFIX / "drive_c"
PROFILE = DRIVE_C / "users" / WINE_USER


def to_windows(path: pathlib.Path) -> str:
    """The Windows name of a Linux path, as the programs under Wine see it."""
    path = pathlib.Path(path).absolute()
    try:
        return "C:\\" + str(path.relative_to(DRIVE_C)).replace("/", "\\")
    except ValueError:
        return "Z:" + str(path).replace("/", "\\")


def give_to_user(path: pathlib.Path) -> None:
    """Makes path (recursively) the Wine user's, as if that user had made it."""
    if os.getuid() != 0:
        return
    path = pathlib.Path(path)
    os.chown(path, _user.pw_uid, _user.pw_gid, follow_symlinks=False)
    if path.is_dir() and not path.is_symlink():
        for root, dirs, files in os.walk(path):
            for name in dirs + files:
                os.chown(os.path.join(root, name), _user.pw_uid, _user.pw_gid, follow_symlinks=False)


_prefix_ready = False


def ensure_prefix() -> None:
    """Makes sure the Wine prefix exists and is the Wine user's (created or
    rebuilt by wine-run.sh) before anything is put into it: folders made in a
    prefix that Wine has not created yet would make it someone else's."""
    global _prefix_ready
    if _prefix_ready:
        return
    done = subprocess.run([str(WINE_RUN), "--init"], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=900)
    sys.stderr.write(done.stdout.decode("utf-8", "replace"))
    if done.returncode != 0:
        raise RuntimeError(f"the Wine prefix {PREFIX} could not be made ready")
    _prefix_ready = True


def make_user_folder(path: pathlib.Path) -> pathlib.Path:
    """Creates path and its missing parents inside the prefix, each one the
    Wine user's. Returns path."""
    ensure_prefix()
    path = pathlib.Path(path)
    missing = []
    folder = path
    while not folder.exists() and not folder.is_symlink():
        missing.append(folder)
        folder = folder.parent
    for folder in reversed(missing):
        folder.mkdir()
        give_to_user(folder)
    return path


def remove_tree(path) -> None:
    """Removes a file or folder tree. Read-only leftovers would stop rmtree, so
    they are made writable first; never through a link: its target is not the
    test's."""
    if os.path.islink(path) or not os.path.isdir(path):
        if os.path.lexists(path):
            os.remove(path)
        return
    for root, dirs, files in os.walk(path):
        for name in dirs + files:
            full = os.path.join(root, name)
            if not os.path.islink(full):
                try:
                    os.chmod(full, 0o755)
                except OSError:
                    pass
    shutil.rmtree(path, ignore_errors=True)


def wine(program, *args, timeout=120, check=False, capture=True):
    """Runs a Windows program under Wine as the test user; returns CompletedProcess."""
    cmd = [str(WINE_RUN), str(program), *[str(a) for a in args]]
    return subprocess.run(cmd, timeout=timeout, check=check,
                          stdout=subprocess.PIPE if capture else None,
                          stderr=subprocess.PIPE if capture else None)


def wine_start(program, *args):
    """Starts a Windows program under Wine without waiting; returns the Popen."""
    cmd = [str(WINE_RUN), str(program), *[str(a) for a in args]]
    return subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def make_package(archive: bytes, locale: bytes = b"en_US", launcher: pathlib.Path = LAUNCHER,
                 marker_offset: int = None) -> bytes:
    """The launcher's bytes made a package around archive (see package_bytes)."""
    return package_bytes(pathlib.Path(launcher).read_bytes(), locale, archive, marker_offset)


def write_package(path: pathlib.Path, archive_file: pathlib.Path, locale: bytes = b"en_US",
                  launcher: pathlib.Path = LAUNCHER) -> pathlib.Path:
    """Writes a package whose archive is a (large) file, without holding it in
    memory; the file is made the Wine user's. Returns path."""
    path = pathlib.Path(path)
    with open(path, "wb") as out:
        out.write(make_package(b"", locale, launcher))
        with open(archive_file, "rb") as archive:
            shutil.copyfileobj(archive, out, 1 << 20)
    path.chmod(0o755)
    give_to_user(path)
    return path


class BoxWatch:
    """Watches for a message box in the background, reads it and presses OK."""

    def __init__(self, caption=None, timeout_ms=30000):
        args = ["--timeout", str(timeout_ms)]
        if caption is not None:
            args += ["--caption", caption]
        self._process = wine_start(SUPPORT / "boxwatch.exe", *args)

    def result(self, timeout=150):
        """The box as a dict (found, caption, text, icon, buttons, closed)."""
        out, _ = self._process.communicate(timeout=timeout)
        lines = [l for l in out.decode("utf-8", "replace").splitlines() if l.startswith("{")]
        return json.loads(lines[-1]) if lines else {"found": False}


class Scanner:
    """The stand-in for an on-access scanner (tests/support/scanner.cpp),
    running under the same Wine as the launches: it watches the sandbox's
    temporary folder and holds every file created or written there for
    hold_ms, sharing reading only; with quarantine, it deletes each
    bin\\velmar.exe as soon as it can open it. Ready once constructed;
    stop() ends it (also at the test's cleanup) and returns its summary
    ({"held": N, "removed": [Windows paths]})."""

    def __init__(self, sandbox, hold_ms=300, quarantine=False, test=None):
        tag = secrets.token_hex(3)
        self._ready = sandbox.downloads / f"scanner-{tag}.ready"
        self._stop = sandbox.downloads / f"scanner-{tag}.stop"
        self._summary = None
        args = ["--watch", sandbox.temp_windows, "--hold", str(hold_ms),
                "--ready", to_windows(self._ready), "--stop", to_windows(self._stop)]
        self._process = wine_start(SUPPORT / "scanner.exe", *args,
                                   *(["--quarantine"] if quarantine else []))
        if test is not None:
            test.addCleanup(self.stop)
        if not wait_for(lambda: self._ready.exists() or self._process.poll() is not None,
                        timeout=60, interval=0.05) or not self._ready.exists():
            self._process.kill()
            raise RuntimeError("the scanner stand-in did not start watching")

    def stop(self) -> dict:
        if self._summary is None:
            self._stop.write_bytes(b"")
            out, _ = self._process.communicate(timeout=60)
            lines = [l for l in out.decode("utf-8", "replace").splitlines() if l.startswith("{")]
            self._summary = json.loads(lines[-1]) if lines else {"held": 0, "removed": []}
        return self._summary


class RunResult:
    def __init__(self, exit_code, box=None, output=b""):
        self.exit_code = exit_code
        self.box = box
        self.output = output  # what Wine and the starter printed, for failure messages


class Sandbox:
    """A temporary folder and a downloads folder of the test's own."""

    def __init__(self, name: str, temp_suffix: str = ""):
        # Folder names that are valid 8.3 names are their own short names.
        # Wine makes up short names for longer ones from a small hash, and two
        # folders whose made-up names collide would be confused with each
        # other through the short paths that the launcher uses.
        self.name = name
        tag = secrets.token_hex(3)
        self.temp = make_user_folder(PROFILE / "Temp" / f"t{tag}{temp_suffix}")
        self.downloads = make_user_folder(PROFILE / "Downloads" / f"d{tag}")

    @property
    def temp_windows(self) -> str:
        return to_windows(self.temp)

    @property
    def offplay(self) -> pathlib.Path:
        return self.temp / "OffPlay"

    @property
    def log_path(self) -> pathlib.Path:
        return self.temp / LOG_FOLDER / LOG_NAME

    def log_bytes(self) -> bytes:
        return self.log_path.read_bytes() if self.log_path.exists() else b""

    def log_lines(self):
        """The log's messages without their timestamp prefixes."""
        text = self.log_bytes().decode("latin-1")
        return [line[20:] if line.startswith("[") else line for line in text.split("\r\n") if line]

    def place(self, data: bytes, name: str = "event.exe") -> pathlib.Path:
        """Puts a package into the downloads folder, owned by the user."""
        path = self.downloads / name
        path.write_bytes(data)
        path.chmod(0o755)
        give_to_user(path)
        return path

    def run(self, program, *args, box=False, caption=None, timeout=120) -> RunResult:
        """Starts program as a user would and waits for it. With box (or a
        caption), a message box is expected: it is read and OK is pressed."""
        # On a loaded machine a box may take long to come: the watch waits
        # about as long as the run may take, so that it never leaves one open.
        watch = (BoxWatch(caption, timeout_ms=(timeout - 10) * 1000)
                 if (box or caption is not None) else None)
        try:
            done = wine(SUPPORT / "runwith.exe", "--temp", self.temp_windows, "--",
                        to_windows(program), *args, timeout=timeout)
        except subprocess.TimeoutExpired as hung:
            said = (hung.stdout or b"") + (hung.stderr or b"")
            raise AssertionError(f"{program.name} did not end in {timeout} s; Wine said: "
                                 f"{said.decode('utf-8', 'replace').strip()}\n"
                                 + self.hung_run_report()) from None
        return RunResult(done.returncode, watch.result() if watch else None,
                         done.stdout + done.stderr)

    def hung_run_report(self) -> str:
        """What a run that did not end left to see (a box still open, the
        Wine processes, the log's end); then every Wine process of the prefix
        is ended, so that a box left open cannot be taken for a later test's,
        and the test run's Wine session, if there was one, is started anew."""
        try:
            box = wine(SUPPORT / "boxwatch.exe", "--timeout", "2000", "--leave-open",
                       timeout=60).stdout.decode("utf-8", "replace").strip()
        except subprocess.TimeoutExpired:
            box = "(Wine did not start the box watch within 60 s)"
        commands = wine_command_lines()
        log_end = self.log_bytes().decode("latin-1").splitlines()[-15:]
        restart_wine(session=any(c[0].lower().endswith("notepad.exe") for c in commands))
        processes = sorted(" ".join(command) for command in commands)
        return "\n".join(["box: " + box, "Wine processes:", *processes, "log ends:", *log_end])

    def start(self, program, *args) -> subprocess.Popen:
        """Starts program without waiting for it (for runs at the same time)."""
        return wine_start(SUPPORT / "runwith.exe", "--temp", self.temp_windows, "--",
                          to_windows(program), *args)

    def describe(self) -> str:
        """The files of the temporary folder, for failure messages."""
        return "\n".join(str(p.relative_to(self.temp)) for p in sorted(self.temp.rglob("*")))

    def cleanup(self):
        for folder in (self.temp, self.downloads):
            remove_tree(folder)


def restart_wine(session: bool) -> None:
    """Ends every Wine process of the prefix; with session, starts the test
    run's Wine session anew (scripts/common.sh, start_wine_session)."""
    subprocess.run([str(WINE_RUN), "--stop"], timeout=60, check=False)
    if session:
        subprocess.run(["bash", "-c", f'. "{REPO}/scripts/common.sh" && start_wine_session'],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=False)


def command_lines():
    """(Linux process id, owner's user id, command-line words) of each
    process that can be read."""
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            owner = entry.stat().st_uid
            words = [w.decode("utf-8", "replace")
                     for w in (entry / "cmdline").read_bytes().split(b"\0") if w]
        except OSError:
            continue
        if words:
            yield int(entry.name), owner, words


def wine_command_lines():
    """The command lines of the Wine user's Windows programs, as word lists."""
    return [words for _, owner, words in command_lines()
            if owner == _user.pw_uid
            and (words[0][1:3] == ":\\" or words[0].lower().endswith(".exe"))]


def windows_process_ids(windows_path: str):
    """Linux process ids of the Wine processes that run the program
    windows_path (compared without case with the first word of their command
    line), e.g. to pause one with SIGSTOP at a chosen moment."""
    wanted = windows_path.lower()
    return [pid for pid, _, words in command_lines() if words[0].lower() == wanted]


def keep_client_running(folder):
    """Keeps a stand-in client whose report folder is folder running until
    release_client(folder) (an hour at most). Only for a client the test
    starts itself: one that a launch starts keeps the launch's output open."""
    (folder / "stay_running.txt").write_bytes(b"3600")


def release_client(folder):
    """Ends the stay of the stand-in clients of folder, if it still exists."""
    if folder.is_dir():
        (folder / "release_client.txt").write_bytes(b"")


def wait_for(predicate, timeout=30.0, interval=0.2):
    """Polls predicate until it is true or timeout seconds have passed."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(interval)
    return bool(predicate())
