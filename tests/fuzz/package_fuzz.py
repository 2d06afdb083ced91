#!/usr/bin/env python3
"""Package fuzzer: makes mutated packages from a few valid seeds and runs each
under Wine as a user would start it (a box watcher presses OK, a time-out ends
a run that hangs), with canary files beside the package, in the temporary
folder's root, in the profile and at the drive root. After each run it checks
that nothing was written or deleted outside OffPlay\\rec_N, rec_N.zip, the
claim files and the log folder, and it keeps a reproducer for every distinct
failure. Prints the figures at the end; exit code 1 when anything failed.

    package_fuzz.py --count 10000 [--seed S] [--out DIR] [--timeout SECONDS]

Needs the built launcher and test-support programs (VELMAR_DIST, VELMAR_BUILD)
and an X display for the boxes.
"""
import argparse
import collections
import json
import multiprocessing
import os
import pathlib
import re
import secrets
import shutil
import subprocess
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "e2e"))
import harness  # noqa: E402
import package_mutations  # noqa: E402

ALLOWED_IN_TEMP = re.compile(
    r"^(OffPlay|OffPlay/rec_\d+(\.zip|\.lock)?|OffPlay/rec_\d+/.*|Velmar_Client_Logs(/.*)?|"
    r"launcher_log\.(txt|old))$")
# Folders of other test sandboxes in the same profile come and go, and so do the
# canaries of fuzz jobs running beside this one: not ours to judge (each canary
# is compared byte for byte by its own job).
OTHER_SANDBOX = re.compile(
    r"^((Temp|Downloads)/[td][0-9a-f]{6}.*|Fuzz(/d[0-9a-f]{6}(/.*)?)?|fuzz_canary_.*)$")


def scan(root, base, skip=lambda rel: False, recursive=True):
    """{relative path: (is folder, size, mtime)} below root, links not followed."""
    found = {}
    pending = [root]
    while pending:
        folder = pending.pop()
        try:
            entries = list(os.scandir(folder))
        except OSError:
            continue
        for entry in entries:
            rel = os.path.relpath(entry.path, base)
            if skip(rel):
                continue
            try:
                info = entry.stat(follow_symlinks=False)
            except OSError:
                continue
            is_dir = entry.is_dir(follow_symlinks=False)
            found[rel] = (is_dir, 0 if is_dir else info.st_size, 0 if is_dir else info.st_mtime_ns)
            if is_dir and recursive:
                pending.append(entry.path)
    return found


def changes(before, after):
    return sorted([f"created {p}" for p in after.keys() - before.keys()] +
                  [f"deleted {p}" for p in before.keys() - after.keys()] +
                  [f"changed {p}" for p in before.keys() & after.keys()
                   if before[p] != after[p] and not before[p][0]])


class FuzzSandbox(harness.Sandbox):
    """A test sandbox whose package folder lies in the prefix's own profile:
    Wine links the profile's Downloads to the Unix home of the Wine user, which
    every prefix, and so every other test run on the machine, shares."""

    def __init__(self):
        super().__init__("fuzz")
        shutil.rmtree(self.downloads, ignore_errors=True)
        self.downloads = harness.PROFILE / "Fuzz" / self.downloads.name
        self.downloads.mkdir(parents=True, exist_ok=True)
        harness.give_to_user(self.downloads.parent)
        harness.give_to_user(self.downloads)


class Watched:
    """The places a run must leave alone, with a canary file in each."""

    def __init__(self, sandbox):
        self.sandbox = sandbox
        self.canaries = {}
        for folder in (sandbox.downloads, sandbox.temp, harness.PROFILE, harness.DRIVE_C):
            path = folder / f"fuzz_canary_{sandbox.temp.name}.txt"
            content = secrets.token_bytes(64)
            path.write_bytes(content)
            harness.give_to_user(path)
            self.canaries[path] = content
        self.baseline = self.snapshot()

    def snapshot(self):
        profile = harness.PROFILE
        return {
            "downloads": scan(self.sandbox.downloads, self.sandbox.downloads),
            "temp": scan(self.sandbox.temp, self.sandbox.temp,
                         skip=lambda rel: ALLOWED_IN_TEMP.match(rel.replace(os.sep, "/"))),
            "profile": scan(profile, profile, skip=lambda rel: bool(
                OTHER_SANDBOX.match(rel.replace(os.sep, "/")))),
            "drive": scan(harness.DRIVE_C, harness.DRIVE_C, recursive=False,
                          skip=lambda rel: rel.startswith("fuzz_canary_")),
        }

    def check(self, package):
        """What the last run changed outside the allowed places."""
        now = self.snapshot()
        found = []
        for area in now:
            found += [f"{area}: {c}" for c in changes(self.baseline[area], now[area])
                      if not (area == "downloads" and c.endswith(" " + package.name))]
        for path, content in self.canaries.items():
            try:
                if path.read_bytes() != content:
                    found.append(f"canary changed: {path}")
            except OSError:
                found.append(f"canary gone: {path}")
        self.baseline = now
        return found

    def remove(self):
        for path in self.canaries:
            if path.exists() and not path.is_symlink():
                path.unlink()


class Runner:
    """fuzzrun.exe under Wine: one process runs every package in turn."""

    def __init__(self):
        self.process = None

    def run(self, temp, program, timeout_ms):
        if self.process is None or self.process.poll() is not None:
            self.process = subprocess.Popen(
                [str(harness.WINE_RUN), str(harness.SUPPORT / "fuzzrun.exe")],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        command = f"{harness.to_windows(temp)}\t{harness.to_windows(program)}\t{timeout_ms}\n"
        self.process.stdin.write(command.encode("utf-8"))
        self.process.stdin.flush()
        while True:
            line = self.process.stdout.readline()
            if not line:
                self.process = None
                return {"error": "the runner ended"}
            if line.startswith(b"{"):
                return json.loads(line)

    def close(self):
        if self.process is not None:
            self.process.stdin.close()
            self.process.wait(timeout=60)


class Figures:
    def __init__(self):
        self.runs = 0
        self.exit_codes = collections.Counter()
        self.timeouts = 0
        self.crashes = 0
        self.boxes = collections.Counter()
        self.outside = 0
        self.failures = {}  # signature: (count, reproducer)
        self.longest_ms = 0
        self.largest_log_growth = 0
        self.started = time.monotonic()

    def merge(self, other):
        self.runs += other.runs
        self.exit_codes.update(other.exit_codes)
        self.timeouts += other.timeouts
        self.crashes += other.crashes
        self.boxes.update(other.boxes)
        self.outside += other.outside
        for signature, (n, path) in other.failures.items():
            count = self.failures.get(signature, (0, path))[0]
            self.failures[signature] = (count + n, self.failures.get(signature, (0, path))[1])
        self.longest_ms = max(self.longest_ms, other.longest_ms)
        self.largest_log_growth = max(self.largest_log_growth, other.largest_log_growth)

    def report(self, out=sys.stdout):
        elapsed = time.monotonic() - self.started
        print(f"packages run:        {self.runs} in {elapsed:.0f} s "
              f"({self.runs / max(elapsed, 1e-9):.1f}/s)", file=out)
        print("exit codes:          " + ", ".join(
            f"{code:#x}: {n}" for code, n in sorted(self.exit_codes.items())), file=out)
        print(f"time-outs:           {self.timeouts}", file=out)
        print(f"crashes:             {self.crashes}", file=out)
        print(f"outside writes:      {self.outside}", file=out)
        print(f"boxes:               {sum(self.boxes.values())}", file=out)
        for text, n in self.boxes.most_common():
            print(f"  {n:6}  {text}", file=out)
        print(f"longest run:         {self.longest_ms} ms", file=out)
        print(f"largest log growth:  {self.largest_log_growth} bytes in one run", file=out)
        print(f"distinct failures:   {len(self.failures)}", file=out)
        for signature, (n, reproducer) in sorted(self.failures.items()):
            print(f"  {n:6}  {signature}  ->  {reproducer}", file=out)


def log_size(sandbox):
    try:
        return sandbox.log_path.stat().st_size
    except OSError:
        return 0


def keep_reproducer(out_dir, figures, signature, payload, locale, steps, job):
    if signature in figures.failures:
        count, path = figures.failures[signature]
        figures.failures[signature] = (count + 1, path)
        return
    number = len(figures.failures) + 1
    folder = out_dir / "reproducers"
    folder.mkdir(parents=True, exist_ok=True)
    number = f"{job}-{number:03}"
    path = folder / f"failure{number}.zip"
    path.write_bytes(payload)
    (folder / f"failure{number}.json").write_text(json.dumps(
        {"signature": signature, "locale": locale.hex(), "steps": steps}, indent=1))
    figures.failures[signature] = (1, str(path))


def judge(result, outside):
    """Failure signatures of one run (empty when it went well)."""
    if "error" in result:
        return [f"runner: {result['error']}"]
    found = []
    code = result["exit"]
    if result["timeout"]:
        found.append("time-out")
    elif code >= 0xC0000000:
        found.append(f"crash {code:#x}")
    elif code not in (0, 10):
        found.append(f"exit code {code:#x}")
    # One signature per kind of place, not per file name, keeps failures distinct.
    found += sorted({"outside " + re.sub(r"\d+", "N", o.split(" ", 2)[0] + " " + o.split(" ")[1])
                     for o in outside})
    return found


def fuzz(count, seed, out_dir, timeout_s, progress=True, job=0, jobs=1):
    figures = Figures()
    seeds = package_mutations.Seeds()
    launcher = harness.LAUNCHER.read_bytes()
    sandbox = FuzzSandbox()
    watched = Watched(sandbox)
    runner = Runner()
    package = sandbox.downloads / "event.exe"
    try:
        for index in range(job, count, jobs):
            payload, locale, steps = package_mutations.case(seed, index, seeds)
            package.write_bytes(harness.package_bytes(launcher, locale, payload))
            package.chmod(0o755)
            harness.give_to_user(package)
            watched.baseline["downloads"] = scan(sandbox.downloads, sandbox.downloads)
            before = log_size(sandbox)
            result = runner.run(sandbox.temp, package, timeout_s * 1000)
            after = log_size(sandbox)
            figures.largest_log_growth = max(figures.largest_log_growth,
                                             after - before if after >= before else after)
            outside = watched.check(package)
            figures.runs += 1
            if "exit" in result:
                figures.exit_codes[result["exit"]] += 1
                figures.longest_ms = max(figures.longest_ms, result["ms"])
                figures.timeouts += result["timeout"]
                figures.crashes += (not result["timeout"]) and result["exit"] >= 0xC0000000
                for box in result["boxes"]:
                    figures.boxes[f"{box['caption']}: {box['text'][:70]!r}"] += 1
            figures.outside += bool(outside)
            for signature in judge(result, outside):
                keep_reproducer(out_dir, figures, signature, payload, locale,
                                [f"case {index} of seed {seed!r}"] + steps + outside[:5], job)
            harness.remove_tree(sandbox.offplay)
            if progress and figures.runs % 500 == 0:
                print(f"... job {job}: {figures.runs} packages, {len(figures.failures)} distinct "
                      f"failures", file=sys.stderr, flush=True)
    finally:
        runner.close()
        watched.remove()
        sandbox.cleanup()
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--seed", default="velmar")
    parser.add_argument("--out", type=pathlib.Path, default=pathlib.Path("fuzz-out"))
    parser.add_argument("--timeout", type=int, default=30, help="seconds per package")
    parser.add_argument("--jobs", type=int, default=1, help="packages run at once")
    args = parser.parse_args()
    if args.jobs == 1:
        figures = fuzz(args.count, args.seed, args.out, args.timeout)
    else:
        started = time.monotonic()
        with multiprocessing.Pool(args.jobs) as pool:
            parts = pool.starmap(fuzz, [(args.count, args.seed, args.out, args.timeout, True, job,
                                         args.jobs) for job in range(args.jobs)])
        figures = Figures()
        figures.started = started
        for part in parts:
            figures.merge(part)
    figures.report()
    return 1 if figures.failures else 0


if __name__ == "__main__":
    sys.exit(main())
