"""--help: ./run, ./test, ./bench and .ci/run each print their usage and options and stop, building
and writing nothing, even in a copy of the checkout that was never built; ./run refuses an option
that is not game-sim's there at once, and lists game-sim's options as game-sim has them; every
option the README uses is in the --help of one of our commands.

    help_test.py SOURCE_DIR SIM_NATIVE TUNING_CHART
"""
import os
import re
import subprocess
import sys
import tempfile
import unittest

from scratch_checkout import copy_checkout

SOURCE = SIM_NATIVE = TUNING_CHART = ""


def helps(command, cwd):
    run = subprocess.run(command + ["--help"], cwd=cwd, capture_output=True, text=True,
                         timeout=60, check=False)
    if run.returncode != 0:
        raise AssertionError(f"{' '.join(command)} --help exited with {run.returncode}:\n"
                             f"{run.stdout}{run.stderr}")
    return run.stdout


def snapshot(root):
    """Every file and folder under root, with its size and time."""
    found = {}
    for folder, folders, files in os.walk(root):
        for name in folders + files:
            path = os.path.join(folder, name)
            status = os.lstat(path)
            found[os.path.relpath(path, root)] = (status.st_size, status.st_mtime_ns)
    return found


def option_names(text):
    """The options a help lists, each where it starts a line."""
    return sorted(re.findall(r"^  (--[a-z][a-z0-9-]*)", text, re.M))


class HelpTest(unittest.TestCase):

    def test_help_builds_and_writes_nothing(self):
        with tempfile.TemporaryDirectory() as root:
            copy_checkout(SOURCE, root)
            before = snapshot(root)
            for command in ("./run", "./test", "./bench", ".ci/run"):
                with self.subTest(command):
                    text = helps([os.path.join(root, command)], root)
                    self.assertTrue(text.startswith(f"usage: {command} "), text)
                    self.assertRegex(text, r"\n  --help +print this help and stop")
                    self.assertEqual(snapshot(root), before, "--help changed the checkout")

            # Never built, ./run lists game-sim's options by name, as game-sim itself has them
            # (less what sim-native alone takes), and refuses any other before building.
            listed = helps([os.path.join(root, "run")], root).split("Every other option")[1]
            own = helps([SIM_NATIVE], SOURCE).split("sim-native alone")[0]
            self.assertEqual(option_names(listed), option_names(own))
            for wrong, said in ((["--frobnicate"], "run: unknown option --frobnicate"),
                                (["--frames"], "run: --frames needs a value")):
                with self.subTest(wrong=wrong):
                    run = subprocess.run([os.path.join(root, "run"), *wrong], cwd=root,
                                         capture_output=True, text=True, timeout=10, check=False)
                    self.assertEqual(run.returncode, 2, run.stderr)
                    self.assertTrue(run.stderr.startswith(said), run.stderr)
                    self.assertEqual(snapshot(root), before, "./run built or wrote something")

    def test_every_option_the_readme_uses_is_in_a_help(self):
        with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as file:
            # CMake's own options are CMake's to list.
            lines = [line for line in file.read().splitlines()
                     if not line.strip().startswith("cmake ")]
        used = set(re.findall(r"(?<![\w-])--[a-z][a-z0-9-]*", "\n".join(lines)))
        texts = [helps([os.path.join(SOURCE, "run")], SOURCE),
                 helps([os.path.join(SOURCE, "run"), "--soak"], SOURCE),
                 helps([os.path.join(SOURCE, "test")], SOURCE),
                 helps([os.path.join(SOURCE, "bench")], SOURCE),
                 helps([os.path.join(SOURCE, "scripts", "package.sh")], SOURCE),
                 helps([SIM_NATIVE], SOURCE), helps([TUNING_CHART], SOURCE)]
        listed = set(re.findall(r"(?<![\w-])--[a-z][a-z0-9-]*", "\n".join(texts)))
        self.assertGreater(len(used), 0)
        self.assertEqual(sorted(used - listed), [], "options the README uses that no --help lists")

    def test_readme_status_table_is_game_sims(self):
        # The README's table of exit statuses, row by row, and the one game-sim's --help prints
        # (a status, then its meaning, wrapped under its column).
        with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as file:
            readme = file.read()
        rows = re.findall(r"^\| (\d+) \| (.+) \|$", readme, re.M)
        in_readme = {int(status): meaning.replace("`", "") for status, meaning in rows}
        printed = helps([SIM_NATIVE], SOURCE).split("\nExit status:\n")[1]
        in_help = {}
        for status, meaning in re.findall(r"^  (\d+) +(.+(?:\n {3,}.+)*)", printed, re.M):
            in_help[int(status)] = " ".join(meaning.split())
        self.assertGreater(len(in_help), 0, printed)
        self.assertEqual(in_readme, in_help)


if __name__ == "__main__":
    SOURCE, SIM_NATIVE, TUNING_CHART = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main()
