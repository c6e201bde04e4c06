"""A long run of the real plug-in under Wine: a 256-ped crowd for 20,000 frames with keyboard
events every frame and four save loads, each putting down another settings file first.

It fails on memory that grows after the warm-up, an allocation of the plug-in in a steady frame,
blocks left live by a save load, and a frame unlike the one before while the world stands still;
and it checks that each save load re-read the settings and that the in-process build saw the
same. CTest passes the paths in the environment, as for e2e_test.py.
"""
import json
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts"))
import soak_check  # noqa: E402
from e2e_test import SCENES, SIM_NATIVE, WINE, WORK, lay_out_game, windows_path  # noqa: E402

FRAMES = 20000
SAVE_LOAD_EVERY = 5000
CROWD = 256
SAVE_LOADS_SCENE = os.path.join(SCENES, "save_loads.ini")
# What the process may grow by from frame 2,000 to the end: the simulated game keeps the frames
# that changed (one per save load here, about 30 KiB each) and Wine's heap moves a little.
MEMORY_BOUND = 1024 * 1024


def long_run_options(results):
    return ["--quiet", "--json", results, "--crowd", str(CROWD), "--frames", str(FRAMES),
            "--save-load-every", str(SAVE_LOAD_EVERY), "--keys-every-frame", "--scene",
            SAVE_LOADS_SCENE]


class SoakTest(unittest.TestCase):

    def test_crowd_with_save_loads_in_flat_memory(self):
        folder = lay_out_game("soak")
        results, heap = (os.path.join(folder, name) for name in ("results.json", "heap.json"))
        environment = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        with open(os.path.join(folder, "stdout.txt"), "w", encoding="utf-8") as out, \
                open(os.path.join(folder, "stderr.txt"), "w+", encoding="utf-8") as err:
            options = long_run_options(windows_path(results))
            run = subprocess.run([WINE, os.path.join(folder, "game-sim.exe"), *options,
                                  "--count-heap", windows_path(heap)], env=environment,
                                 stdout=out, stderr=err, timeout=600, check=False)
            err.seek(0)
            self.assertEqual(run.returncode, 0, err.read())
        under_wine, counted = soak_check.load(results, heap)
        self.assertEqual(soak_check.faults(under_wine, counted, FRAMES, FRAMES // SAVE_LOAD_EVERY,
                                           MEMORY_BOUND), [])

        # Each save load read the file put down before it: labels off with file 2's settings,
        # and file 1's values give the first frame's accuracies again.
        loads = under_wine["saveLoads"]
        self.assertEqual([load["frame"] for load in loads], [5000, 10000, 15000, 20000])
        self.assertEqual([load["settingsFile"] for load in loads], [2, 3, 1, 2])
        self.assertEqual([load["labels"] > 0 for load in loads], [False, True, True, False])
        first = sum(ped["accuracy"] for ped in under_wine["frames"][0]["peds"]
                    if ped["accuracySets"] > 0)
        sums = [load["accuracySum"] for load in loads]
        self.assertEqual(sums[2], first)
        self.assertEqual(sums[0], sums[3])
        self.assertLess(sums[0], first)  # a smaller angle forgives less
        self.assertGreater(sums[1], first)

        # The in-process build restarts its script by unwinding it; the game sees the same.
        native = os.path.join(WORK, "soak-native")
        os.makedirs(native, exist_ok=True)
        in_process = os.path.join(native, "results.json")
        subprocess.run([SIM_NATIVE, "--game-dir", native, *long_run_options(in_process)],
                       check=True, timeout=600, capture_output=True)
        with open(in_process, encoding="utf-8") as file:
            in_process = json.load(file)
        for key in ("totals", "saveLoads", "frames", "keyboardEvents"):
            self.assertEqual(under_wine[key], in_process[key], key)


if __name__ == "__main__":
    program = unittest.main(exit=False, verbosity=2)
    sys.exit(0 if program.result.wasSuccessful() else 1)
