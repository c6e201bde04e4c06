"""Ctrl-C during ./run's build ends ./run with 130 and "run: interrupted" as its last line, whether
it comes while CMake configures or while the compiler runs, and leaves nothing of the run behind:
no process of its group, the checkout's turn free. In a scratch copy of the checkout, built from
nothing, with Ctrl-C sent as a terminal sends it, to the whole process group.

    interrupt_test.py SOURCE_DIR
"""
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from scratch_checkout import copy_checkout

SOURCE = ""


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"no {what} within {seconds} s")
        time.sleep(0.2)


def log_holds(path, text):
    try:
        with open(path, encoding="utf-8", errors="replace") as file:
            return text in file.read()
    except FileNotFoundError:
        return False


def group_gone(group):
    try:
        os.killpg(group, 0)
    except ProcessLookupError:
        return True
    return False


def default_ctrl_c():
    signal.signal(signal.SIGINT, signal.SIG_DFL)


class InterruptTest(unittest.TestCase):

    def test_ctrl_c_during_the_build_ends_the_run_with_130(self):
        # The moment: a line of the build's log that shows it has got there.
        moments = {"while CMake configures": "-- ",
                   "while the compiler runs": "Building CXX object"}
        with tempfile.TemporaryDirectory() as root:
            copy_checkout(SOURCE, root)
            log = os.path.join(root, "build", "run.log")
            for moment, sign in moments.items():
                with self.subTest(moment), tempfile.TemporaryFile("w+") as err:
                    # Ctrl-C's default handling even where this runs with it ignored (started
                    # in the background of a script), as a shell ignores what it was given so.
                    run = subprocess.Popen([os.path.join(root, "run")], cwd=root,
                                           stdout=subprocess.DEVNULL, stderr=err,
                                           start_new_session=True, preexec_fn=default_ctrl_c)
                    try:
                        wait_for(lambda: log_holds(log, sign) or run.poll() is not None, 600,
                                 f"'{sign}' in {log}")
                        self.assertIsNone(run.poll(), "./run ended before its build did")
                        os.killpg(run.pid, signal.SIGINT)
                        status = run.wait(timeout=300)
                    finally:
                        if run.poll() is None:
                            os.killpg(run.pid, signal.SIGKILL)
                    err.seek(0)
                    lines = err.read().splitlines()
                    self.assertEqual((status, lines[-1:]), (130, ["run: interrupted"]), lines)
                    self.assertFalse([line for line in lines if "build failed" in line], lines)
                    wait_for(lambda: group_gone(run.pid), 30, "end of every process of the run")
                    free = subprocess.run(["flock", "-n", os.path.join(root, "out", "run.lock"),
                                           "true"], check=False)
                    self.assertEqual(free.returncode, 0, "the checkout's turn is still taken")


if __name__ == "__main__":
    SOURCE = sys.argv[1]
    del sys.argv[1]
    unittest.main()
