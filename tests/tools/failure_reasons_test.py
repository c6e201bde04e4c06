"""./test's Failed list: from a real CTest run's JUnit file, each failing test's reason line
(a budget overrun among other lines, GoogleTest's failure with the lines under it, a Python
exception after its traceback even when a program it ran printed a GoogleTest failure), whole
however long, nothing for a test that passed.

    failure_reasons_test.py SOURCE_DIR
"""
import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

SOURCE = ""

# Longer than a line of the list: ./test wraps it, nothing cuts it.
LONG = ("the rows of this checkout fail the unit tests before the README rows are applied: "
        "weapon_bones_test.cpp:190: rf_harrowgate_carbine: front bone Barrel_Front_Extended, "
        "the model of the game carries Gun_Ammo2 and Gun_Muzzle")

# Each test prints what such a test prints when it fails.
PROJECT = textwrap.dedent("""\
    cmake_minimum_required(VERSION 3.20)
    project(reasons NONE)
    enable_testing()
    add_test(NAME budget COMMAND sh -c "echo 'ok: a: 1 instructions, budget 2'; \\
    echo 'OVER BUDGET: b: 9 instructions, budget 3'; echo 'Budgets: top of x.sh'; exit 1")
    add_test(NAME gtest COMMAND sh -c "echo '[ RUN      ] Suite.Case'; \\
    echo '/src/tests/a_test.cpp:42: Failure'; echo 'Expected equality of these values:'; \\
    echo '  count'; echo '[  FAILED  ] Suite.Case (0 ms)'; exit 1")
    add_test(NAME python COMMAND sh -c "echo '/src/tests/a_test.cpp:7: Failure'; \\
    echo 'Value of: x'; echo 'Traceback (most recent call last):'; \\
    echo '  File \\"t.py\\", line 3, in <module>'; \\
    echo 'AssertionError: {LONG}'; exit 1")
    add_test(NAME fine COMMAND sh -c "echo 'OVER BUDGET: printed by a test that passed'")
    """).replace("{LONG}", LONG)


class FailureReasonsTest(unittest.TestCase):
    def test_each_failing_test_has_its_reason_line(self):
        with tempfile.TemporaryDirectory() as work:
            with open(os.path.join(work, "CMakeLists.txt"), "w", encoding="utf-8") as file:
                file.write(PROJECT)
            build, junit = os.path.join(work, "build"), os.path.join(work, "junit.xml")
            subprocess.run(["cmake", "-S", work, "-B", build], check=True,
                           stdout=subprocess.DEVNULL)
            subprocess.run(["ctest", "--test-dir", build, "--output-junit", junit],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            listed = subprocess.run(
                [sys.executable, os.path.join(SOURCE, "tests", "tools", "failure_reasons.py"),
                 junit], check=True, capture_output=True, text=True).stdout
        reasons = dict(line.split("\t") for line in listed.splitlines())
        self.assertEqual(reasons, {
            "budget": "OVER BUDGET: b: 9 instructions, budget 3",
            "gtest": "a_test.cpp:42: Expected equality of these values: count",
            "python": "AssertionError: " + LONG,
        })


if __name__ == "__main__":
    SOURCE = sys.argv.pop(1)
    unittest.main()
