#!/usr/bin/env python3
"""The main job's show: makes a package from the sample payload with
velmar-pack, starts it under Wine as a user would, waits for the stand-in
client's report and prints what happened. With --plain, runs the bare launcher
stub instead and shows the problem box a user would see.

Everything it makes stays in the demo folder ($VELMAR_DEMO_DIR), emptied at the
start of each run: the payload, the package and the temporary folder the run
used (with the work folder OffPlay/rec_1 and the log). Ends with one verdict
line; the exit code is 0 only when the run did what it should."""
import json
import os
import pathlib
import subprocess
import sys

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import harness  # noqa: E402


class DemoFolder(harness.Sandbox):
    """A sandbox in a named folder that is kept after the run: the package
    lies in the folder itself, the run's temporary folder is temp/ in it."""

    def __init__(self, root: pathlib.Path):
        self.name = "demo"
        self.downloads = root
        self.temp = root / "temp"
        self.cleanup()  # what an earlier demo left
        harness.ensure_prefix()
        for folder in (self.downloads, self.temp):
            folder.mkdir(parents=True)
            harness.give_to_user(folder)


def show_box(box):
    if not box or not box.get("found"):
        print("No message box appeared.")
        return
    print(f"Message box \"{box['caption']}\" ({'with' if box['icon'] else 'without'} an icon):")
    for line in box["text"].split("\n"):
        print(f"    {line}")
    print(f"    [{' '.join(b['text'].replace('&', '') for b in box['buttons'])}]")


def show_log(folder):
    print(f"\n== Log {harness.to_windows(folder.log_path)}")
    sys.stdout.write(folder.log_bytes().decode("latin-1").replace("\r\n", "\n"))


def show_wine_output(result):
    """What Wine and the starter printed: the cause when a start failed."""
    text = result.output.decode("utf-8", "replace").strip()
    if text:
        print("\n== What Wine printed")
        for line in text.splitlines():
            print(f"    {line}")


def plain(folder) -> str:
    """Runs the bare stub; returns what went wrong, or "" when all is well."""
    program = folder.place(harness.LAUNCHER.read_bytes(), "velmar-launcher.exe")
    print(f"Starting the plain launcher {harness.to_windows(program)} (no package behind it)...")
    result = folder.run(program, box=True)
    show_box(result.box)
    print(f"Exit code: {result.exit_code}")
    show_log(folder)
    if not (result.box or {}).get("found"):
        show_wine_output(result)
        return f"no problem box appeared (launcher exit code {result.exit_code})"
    return ""


def make_package(folder) -> pathlib.Path:
    payload = folder.downloads / "payload"
    subprocess.run([str(REPO / "examples" / "make-sample.sh"), "playback", str(payload)],
                   check=True, env={"VELMAR_DIST": str(harness.DIST), "PATH": "/usr/bin:/bin"})
    output = folder.downloads / "spring-review.exe"
    # Branded as a publisher would: the event's name, a version and the icon
    # the build drew for the demo.
    event = (payload / "eventname.prop").read_text(encoding="utf-8").partition("=")[2].strip()
    branding = ["--icon", str(harness.BUILD / "launcher" / "demo-event.ico"),
                "--product-name", event, "--description", f"{event} (offline playback)",
                "--company", "Velmar demo", "--copyright", "Demo recording, not for release",
                "--product-version", "1.0.1"]
    made = subprocess.run([str(harness.DIST / "velmar-pack"), "--launcher", str(harness.LAUNCHER),
                           "--locale", "en_US", *branding, "--payload", str(payload),
                           "--output", str(output)], check=True, capture_output=True, text=True)
    print(made.stdout.strip() or made.stderr.strip())
    shown = subprocess.run([str(harness.DIST / "velmar-pack"), "--inspect", str(output)],
                           check=True, capture_output=True, text=True).stdout
    keys = ("product name", "description", "company", "product version", "original file name",
            "icon sizes")
    print("Branding (Properties, Details on Windows):")
    for line in shown.splitlines():
        if line.split(":")[0] in keys:
            print(f"    {line}")
    output.chmod(0o755)
    harness.give_to_user(output)
    return output


def package(folder) -> str:
    """Runs the sample package; returns what went wrong, or "" when all is well."""
    program = make_package(folder)
    print(f"\nDouble-clicking {harness.to_windows(program)} ...")
    result = folder.run(program)
    print(f"Launcher exit code: {result.exit_code}")
    work = folder.offplay / "rec_1"
    report_path = work / "client_report.txt"
    started = harness.wait_for(report_path.exists, 30)
    if started:
        report = json.loads(report_path.read_text(encoding="utf-8"))
        print("\n== The playback client was started")
        print(f"command line:      {report['command_line']}")
        print(f"current directory: {report['current_directory']}")
    show_log(folder)
    config = work / "properties" / "offlineplayback.pbcf"
    if config.exists():
        print(f"\n== Rewritten configuration {harness.to_windows(config)}")
        sys.stdout.write(config.read_bytes().decode("utf-8-sig"))
    print(f"\n== Work folder {harness.to_windows(work)}")
    for path in sorted(work.rglob("*")):
        print(f"    {path.relative_to(work)}{'/' if path.is_dir() else ''}")
    if not started:
        show_wine_output(result)
        return f"the playback client did not start (launcher exit code {result.exit_code})"
    if result.exit_code != 0:
        return f"the launcher exited with code {result.exit_code}"
    print(f"\nKept in {folder.downloads}: the package {program.name}, its payload and the"
          f" run's temporary folder temp/ (work folder temp/OffPlay/rec_1).")
    print(f"Run the package again: scripts/wine-run.sh {program}")
    return ""


def main() -> int:
    plain_run = "--plain" in sys.argv[1:]
    root = pathlib.Path(os.environ.get("VELMAR_DEMO_DIR", harness.BUILD.parent / "demo"))
    try:
        folder = DemoFolder(root)
        failure = plain(folder) if plain_run else package(folder)
    except (OSError, RuntimeError, subprocess.SubprocessError) as error:
        detail = getattr(error, "stderr", None)
        if detail:
            sys.stdout.write(detail if isinstance(detail, str) else detail.decode("utf-8", "replace"))
        failure = str(error)
    if failure:
        print(f"\nDemo FAILED: {failure}.")
        return 1
    what = "the launcher showed its problem box" if plain_run else "the package started its playback client"
    print(f"\nDemo passed: {what}.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
