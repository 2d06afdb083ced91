"""A plain launcher, without a package behind it, as a user would start it."""
import re
import unittest

import harness

GENERIC_201 = ("The launcher has encountered a problem for which a description is not available.\n"
               "Problem number: 201\n\nThe program will now exit.")


class PlainLauncher(unittest.TestCase):
    def setUp(self):
        self.sandbox = harness.Sandbox("plain")
        self.addCleanup(self.sandbox.cleanup)

    def test_shows_problem_201_and_logs_the_run(self):
        program = self.sandbox.place(harness.LAUNCHER.read_bytes(), "velmar-launcher.exe")
        result = self.sandbox.run(program, "some", "arguments", caption="VelmarOne")

        box = result.box
        self.assertTrue(box["found"], "no problem box appeared")
        self.assertEqual(box["caption"], "VelmarOne")
        self.assertEqual(box["text"], GENERIC_201)
        self.assertTrue(box["icon"], "the box shows no icon")
        self.assertEqual([b["id"] for b in box["buttons"]], [1])
        self.assertTrue(box["closed"])
        self.assertEqual(result.exit_code, 0)

        raw = self.sandbox.log_bytes()
        self.assertTrue(raw.endswith(b"\r\n"))
        self.assertNotIn(b"\n", raw.replace(b"\r\n", b""), "a line end is not CR LF")
        lines = raw.decode("latin-1").split("\r\n")[:-1]
        self.assertEqual(len(lines), 2, lines)
        prefix = r"\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d\] "
        self.assertRegex(lines[0], "^" + prefix + re.escape("*** Launcher Started ***") + "$")
        self.assertRegex(lines[1], "^" + prefix + re.escape("*** Launcher Exiting ***") + "$")
        # Nothing but the log was created in the temporary folder.
        self.assertEqual(sorted(p.name for p in self.sandbox.temp.iterdir()), [harness.LOG_FOLDER])

    def test_a_second_run_appends_to_the_log(self):
        # A second run appends to the same log.
        program = self.sandbox.place(harness.LAUNCHER.read_bytes(), "velmar-launcher.exe")
        self.sandbox.run(program, caption="VelmarOne")
        self.sandbox.run(program, caption="VelmarOne")
        self.assertEqual(self.sandbox.log_lines(),
                         ["*** Launcher Started ***", "*** Launcher Exiting ***"] * 2)


if __name__ == "__main__":
    unittest.main()
