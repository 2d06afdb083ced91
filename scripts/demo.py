#!/usr/bin/env python3
"""The main job's show: makes a package from the sample payload with
velmar-pack, starts it under Wine as a user would, waits for the stand-in
client's report and prints what happened. With --plain, runs the bare launcher
stub instead and shows the problem box a user would see."""
import json
import pathlib
import subprocess
import sys
import tempfile

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import harness  # noqa: E402


def show_box(box):
    if not box or not box.get("found"):
        print("No message box appeared.")
        return
    print(f"Message box \"{box['caption']}\" ({'with' if box['icon'] else 'without'} an icon):")
    for line in box["text"].split("\n"):
        print(f"    {line}")
    print(f"    [{' '.join(b['text'].replace('&', '') for b in box['buttons'])}]")


def show_log(sandbox):
    print(f"\n== Log {harness.to_windows(sandbox.log_path)}")
    sys.stdout.write(sandbox.log_bytes().decode("latin-1").replace("\r\n", "\n"))


def plain(sandbox) -> int:
    program = sandbox.place(harness.LAUNCHER.read_bytes(), "velmar-launcher.exe")
    print(f"Starting the plain launcher {harness.to_windows(program)} (no package behind it)...")
    result = sandbox.run(program, box=True)
    show_box(result.box)
    print(f"Exit code: {result.exit_code}")
    show_log(sandbox)
    return 0


def package(sandbox) -> int:
    with tempfile.TemporaryDirectory() as scratch:
        scratch = pathlib.Path(scratch)
        payload = scratch / "payload"
        subprocess.run([str(REPO / "examples" / "make-sample.sh"), "playback", str(payload)],
                       check=True, env={"VELMAR_DIST": str(harness.DIST), "PATH": "/usr/bin:/bin"})
        output = scratch / "spring-review.exe"
        made = subprocess.run([str(harness.DIST / "velmar-pack"), "--launcher", str(harness.LAUNCHER),
                               "--locale", "en_US", "--payload", str(payload),
                               "--output", str(output)], check=True, capture_output=True, text=True)
        print(made.stdout.strip() or made.stderr.strip())
        program = sandbox.place(output.read_bytes(), output.name)

    print(f"\nDouble-clicking {harness.to_windows(program)} ...")
    result = sandbox.run(program)
    print(f"Launcher exit code: {result.exit_code}")
    work = sandbox.offplay / "rec_1"
    report_path = work / "client_report.txt"
    if harness.wait_for(report_path.exists, 30):
        report = json.loads(report_path.read_text(encoding="utf-8"))
        print("\n== The playback client was started")
        print(f"command line:      {report['command_line']}")
        print(f"current directory: {report['current_directory']}")
    else:
        print("\nThe playback client did not start.")
    show_log(sandbox)
    config = work / "properties" / "offlineplayback.pbcf"
    if config.exists():
        print(f"\n== Rewritten configuration {harness.to_windows(config)}")
        sys.stdout.write(config.read_bytes().decode("utf-8-sig"))
    print(f"\n== Work folder {harness.to_windows(work)}")
    for path in sorted(work.rglob("*")):
        print(f"    {path.relative_to(work)}{'/' if path.is_dir() else ''}")
    return 0


def main() -> int:
    sandbox = harness.Sandbox("demo")
    try:
        return plain(sandbox) if "--plain" in sys.argv[1:] else package(sandbox)
    finally:
        sandbox.cleanup()


if __name__ == "__main__":
    sys.exit(main())
