#!/usr/bin/env python3
"""Runs the plain launcher under Wine and reports what a user would have seen."""
import sys

sys.path.insert(0, str(__import__("pathlib").Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import harness  # noqa: E402


def show_box(box):
    if not box or not box.get("found"):
        print("No message box appeared.")
        return
    print(f"Message box \"{box['caption']}\" ({'with' if box['icon'] else 'without'} an icon):")
    for line in box["text"].split("\n"):
        print(f"    {line}")
    print(f"    [{' '.join(b['text'].replace('&', '') for b in box['buttons'])}]")


def main() -> int:
    sandbox = harness.Sandbox("demo")
    try:
        program = sandbox.place(harness.LAUNCHER.read_bytes(), "velmar-launcher.exe")
        print(f"Starting the plain launcher {harness.to_windows(program)} (no package behind it)...")
        result = sandbox.run(program, box=True)
        show_box(result.box)
        print(f"Exit code: {result.exit_code}")
        print(f"Log ({harness.to_windows(sandbox.log_path)}):")
        sys.stdout.write(sandbox.log_bytes().decode("latin-1").replace("\r\n", "\n"))
    finally:
        sandbox.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
