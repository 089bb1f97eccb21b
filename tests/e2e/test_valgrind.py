"""The update pass under valgrind's memcheck, along each of its ends: no invalid access, no
use of an undefined value, no block lost (definitely or indirectly) at exit.

Blocks still reachable at exit are not errors: the command line the platform keeps for the
life of the process is one. Each pass writes memcheck's report beside its folder; a pass with
an error fails its case and shows the report.
"""

import unittest

from test_faults import FaultCase
from test_update_pass import (CHECK_FILE, DEMO, INTERVAL_BOX, OLD_ENOUGH, SERVICE_IP, UNCHANGED_BOX,
                              USAGE_BOX, accepted_box, birth_time, implausible_box, server_box)

MEMCHECK = ["valgrind", "--quiet", "--error-exitcode=99", "--leak-check=full",
            "--show-leak-kinds=definite,indirect", "--errors-for-leak-kinds=definite,indirect",
            "--track-origins=yes"]


class Memcheck(FaultCase):
    def run_checked(self, *args, age=None):
        report = self.folder.with_name(self.folder.name + ".memcheck")
        self.addCleanup(report.unlink, missing_ok=True)
        now = None if age is None else birth_time(self.folder / CHECK_FILE) + age
        try:
            return self.run_program(args, now=now, prefix=[*MEMCHECK, f"--log-file={report}"])
        finally:
            text = report.read_text() if report.exists() else ""
            self.assertEqual(text, "", "memcheck found errors:\n" + text)

    def test_every_end_of_the_pass(self):
        verbose = [*DEMO, "verbose"]
        cases = [  # name, preparation, arguments, boxes shown
            ("usage", None, ["h", "u", "p"], USAGE_BOX),
            ("rate limit", self.with_old_check_file, verbose, INTERVAL_BOX),
            ("unchanged", lambda: self.service.set_ip(""), verbose, UNCHANGED_BOX),
            ("implausible", lambda: self.answer_ip_query(b"<html>\n"), verbose,
             implausible_box("<html>")),
            ("good", None, verbose, accepted_box(f"good {SERVICE_IP}")),
            ("good, silent", None, [*DEMO, "silent"], ""),
            ("nochg", lambda: self.service.set_address(DEMO[0], SERVICE_IP), verbose,
             accepted_box(f"nochg {SERVICE_IP}")),
            ("badauth", None, [DEMO[0], DEMO[1], "wrong", "verbose"], server_box("badauth")),
            ("failed IP query", lambda: self.service.fault("drop", path="/ipCheck.php"), verbose,
             ""),
            ("failed update", lambda: self.service.fault("reset", path="/nic/update", at="start"),
             verbose, ""),
        ]
        for name, prepare, args, expected in cases:
            with self.subTest(name):
                self.fresh()
                if prepare:
                    prepare()
                self.assertEqual(self.run_checked(*args), expected)

    def test_a_check_file_past_the_interval(self):
        # The clock is moved by libfaketime, preloaded into the program under memcheck.
        self.with_old_check_file(f"{SERVICE_IP}\n".encode())
        self.assertEqual(self.run_checked(*DEMO, "verbose", age=OLD_ENOUGH), UNCHANGED_BOX)
        self.assertEqual(len(self.sent("/ipCheck.php")), 1)

if __name__ == "__main__":
    unittest.main()
