"""Concurrent launches against one temporary folder, observed from outside.

Each round starts LAUNCHERS packages at once, each with a payload of its own
(an id file, data files, an end file, and entries whose names the launcher
refuses, one log line each, so that every launch writes lines that name it).
After the round the log is read and taken away (so that no rotation mixes
rounds) and the work folders of the round are checked.

Figures: log lines expected, whole, broken (not one prefixed line each) and
lost; work folders expected, complete, incomplete, missing; collisions (two
launches of a round on one rec_N); temporary archives left behind.
"""
import argparse
import collections
import io
import pathlib
import re
import shutil
import sys
import time
import zipfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import harness  # noqa: E402

PREFIX = re.compile(rb"^\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d\] ")
REFUSED_PER_LAUNCH = 40
DATA_FILES = 12


def tag(round_number, package):
    return f"r{round_number}p{package}"


def data_files(name):
    return {f"data/{name}_f{j}.txt": (f"{name} file {j}\n" * (j + 1)).encode()
            for j in range(DATA_FILES)}


def payload(name):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("id.txt", name)
        # The stand-in client: it starts and exits, so later runs sweep the folder
        # (a client that cannot start would end the launch in a problem box).
        archive.writestr("bin/velmar.exe", (harness.DIST / "velmar-client-standin.exe").read_bytes())
        archive.writestr("properties/offlineplayback.pbcf", b"url=%local%\n")
        for entry, data in data_files(name).items():
            archive.writestr(entry, data)
        for i in range(REFUSED_PER_LAUNCH):
            # Long names make long lines: a torn write would show.
            archive.writestr(f"../{name}e{i}_" + "x" * 120 + ".txt", b"refused")
        archive.writestr("end.txt", name)
    return buffer.getvalue()


def log_messages(raw, figures):
    """The messages of the log's whole lines; lines that are not one prefixed
    line each are counted as broken."""
    lines = raw.split(b"\r\n")
    if lines and lines[-1] == b"":
        lines.pop()
    messages = []
    for line in lines:
        if not PREFIX.match(line) or PREFIX.search(line, 1) or b"\n" in line or b"\r" in line:
            figures["broken lines"] += 1
        else:
            messages.append(line[20:].decode("latin-1"))
    return messages


def normalise(message):
    """A message with its run's own parts (names, numbers) made alike."""
    return re.sub(r"\d+", "#", re.sub(r"C:[\\/]\S*?[\\/](?=OffPlay)", "", message))


def check_log(raw, round_number, launchers, per_launch, figures):
    counts = collections.Counter()
    for message in log_messages(raw, figures):
        refused = re.search(r"(r\d+p\d+)e(\d+)_x+\.txt$", message)
        if refused:
            counts[("refused", refused.group(1), int(refused.group(2)))] += 1
        else:
            counts[normalise(message)] += 1
    expected = launchers * (sum(per_launch.values()) + REFUSED_PER_LAUNCH)
    whole = sum(min(counts[key], launchers * count) for key, count in per_launch.items())
    for package in range(launchers):
        for i in range(REFUSED_PER_LAUNCH):
            whole += min(counts[("refused", tag(round_number, package), i)], 1)
    figures["lines expected"] += expected
    figures["lines whole"] += whole
    figures["lines lost"] += expected - whole


def calibrate():
    """The messages of one launch alone (refused entries aside), normalised."""
    sandbox = harness.Sandbox("soakcal")
    try:
        sandbox.run(sandbox.place(harness.make_package(payload(tag(0, 0))), "cal.exe"))
        per_launch = collections.Counter()
        for message in log_messages(sandbox.log_bytes(), collections.Counter()):
            if not re.search(r"r\d+p\d+e\d+_x+\.txt$", message):
                per_launch[normalise(message)] += 1
        return per_launch
    finally:
        sandbox.cleanup()


def place(folder, data, name):
    path = folder / name
    path.write_bytes(data)
    path.chmod(0o755)
    harness.give_to_user(path)
    return path


def check_work_folders(offplay, round_number, launchers, figures):
    seen = collections.Counter()
    for folder in offplay.glob("rec_*"):
        if not folder.is_dir():
            continue
        id_file = folder / "id.txt"
        name = id_file.read_text() if id_file.exists() else ""
        if not name.startswith(f"r{round_number}p"):
            continue
        seen[name] += 1
        complete = (folder / "end.txt").exists() and all(
            (folder / entry).exists() and (folder / entry).read_bytes() == data
            for entry, data in data_files(name).items())
        figures["work folders complete" if complete else "work folders incomplete"] += 1
    figures["work folders expected"] += launchers
    for package in range(launchers):
        count = seen[tag(round_number, package)]
        if count == 0:
            figures["work folders missing"] += 1
        figures["collisions"] += max(count - 1, 0)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--launchers", type=int, default=10)
    args = parser.parse_args()

    per_launch = calibrate()
    print(f"one launch writes {sum(per_launch.values()) + REFUSED_PER_LAUNCH} lines", flush=True)
    figures = collections.Counter()
    sandbox = harness.Sandbox("soak")
    # Inside the prefix: Wine may make the profile's Downloads a link to a
    # home folder that other programs tidy up.
    packages = harness.PROFILE / ("packages-" + sandbox.temp.name)
    packages.mkdir()
    started = time.monotonic()
    try:
        for round_number in range(args.rounds):
            programs = [place(packages, harness.make_package(payload(tag(round_number, k))),
                              f"r{round_number}p{k}.exe")
                        for k in range(args.launchers)]
            processes = [sandbox.start(program) for program in programs]
            for process in processes:
                process.communicate(timeout=600)
            log = sandbox.log_path
            raw = log.read_bytes() if log.exists() else b""
            for leftover in (log, log.with_suffix(".old")):
                if leftover.exists():
                    leftover.unlink()
            check_log(raw, round_number, args.launchers, per_launch, figures)
            check_work_folders(sandbox.offplay, round_number, args.launchers, figures)
            print(f"round {round_number + 1}/{args.rounds}: " + ", ".join(
                f"{key} {figures[key]}" for key in ("lines lost", "broken lines", "collisions",
                                                    "work folders incomplete")), flush=True)
        figures["temporary archives left"] = len(list(sandbox.offplay.glob("rec_*.zip")))
    finally:
        sandbox.cleanup()
        shutil.rmtree(packages, ignore_errors=True)
    seconds = time.monotonic() - started
    print(f"\n{args.rounds} rounds x {args.launchers} launchers in {seconds:.0f} s")
    for key in ("lines expected", "lines whole", "lines lost", "broken lines",
                "work folders expected", "work folders complete", "work folders incomplete",
                "work folders missing", "collisions", "temporary archives left"):
        print(f"{key:>24}: {figures[key]}")
    bad = sum(figures[key] for key in ("lines lost", "broken lines",
                                         "work folders incomplete", "work folders missing",
                                         "collisions"))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
