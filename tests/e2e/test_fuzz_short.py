"""A short run of the package fuzzer (tests/fuzz/package_fuzz.py): mutated
packages run under Wine, none of which may crash or hang the launcher or
write or delete anything outside its own places. scripts/fuzz.sh runs it long."""
import io
import pathlib
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "fuzz"))
import package_fuzz  # noqa: E402

COUNT = 60


class ShortFuzzRun(unittest.TestCase):
    def test_mutated_packages_neither_crash_hang_nor_touch_anything_outside(self):
        with tempfile.TemporaryDirectory() as out:
            figures = package_fuzz.fuzz(COUNT, "short", pathlib.Path(out), timeout_s=60,
                                        progress=False)
            report = io.StringIO()
            figures.report(report)
            self.assertEqual(figures.runs, COUNT, report.getvalue())
            self.assertEqual(figures.failures, {}, report.getvalue())


if __name__ == "__main__":
    unittest.main()
