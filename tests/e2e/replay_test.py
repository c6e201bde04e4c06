"""A capture of the simulated game, replayed: the capture DLL under Wine records the built-in scene,
and the normal plug-in replaying that file, as the DLL under Wine and natively, gives every ped
the accuracy and reason the scene run gave; a spoiled file stops the run with one line and
status 2. CTest passes the paths in the environment, as for e2e_test.py; run one test with:
replay_test.py ReplayTest.test_name
"""
import functools
import json
import os
import shutil
import subprocess
import sys
import unittest

import e2e_test as e2e

CAPTURE_BUILD = os.environ.get("E2E_WINDOWS_CAPTURE_BUILD", "")
CAPTURE_NAME = "vok.quillmarrowfendcask.capture"
ENVIRONMENT = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")


@functools.lru_cache(maxsize=None)
def captured_scene():
    """The built-in scene's run with the capture DLL in its place: the results, and the capture
    it wrote at unload."""
    game = e2e.lay_out_game("replay-capture")
    shutil.copy(os.path.join(CAPTURE_BUILD, "vok.quillmarrowfendcask.asi"), game)
    results = e2e.run_game(game, "--frames", "3")
    return results, os.path.join(game, CAPTURE_NAME)


def outcomes(frames, only_found):
    """Per frame, each ped's accuracy and reason by its handle."""
    return [{ped["handle"]: (ped["accuracy"], ped["reason"]) for ped in frame["peds"]
             if ped.get("inSet") or not only_found} for frame in frames]


def replay_under_wine(capture, *options):
    """game-sim.exe --replay with the normal plug-in: its status, JSON results and errors."""
    game = e2e.lay_out_game("replay-" + (options[0] if options else "wine"))
    results = os.path.join(game, "results.json")
    run = subprocess.run([e2e.WINE, os.path.join(game, "game-sim.exe"), "--quiet", "--json",
                          e2e.windows_path(results), "--replay", e2e.windows_path(capture)],
                         env=ENVIRONMENT, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                         text=True, cwd=game, timeout=300, check=False)
    if run.returncode != 0:
        return run.returncode, None, run.stderr
    with open(results, encoding="utf-8") as file:
        return run.returncode, json.load(file), run.stderr


class ReplayTest(unittest.TestCase):

    def test_capture_replays_to_the_scenes_accuracies_and_reasons(self):
        scene, capture = captured_scene()
        self.assertTrue(os.path.isfile(capture), "the capture DLL wrote no capture")
        expected = outcomes(scene["frames"], only_found=True)

        status, under_wine, error = replay_under_wine(capture)
        self.assertEqual(status, 0, error)
        native = os.path.join(e2e.WORK, "replay-native")
        shutil.rmtree(native, ignore_errors=True)
        os.makedirs(native)
        subprocess.run([e2e.SIM_NATIVE, "--game-dir", native, "--quiet", "--json",
                        os.path.join(native, "results.json"), "--replay", capture], check=True,
                       timeout=300, capture_output=True)
        with open(os.path.join(native, "results.json"), encoding="utf-8") as file:
            in_process = json.load(file)
        for results in (under_wine, in_process):
            self.assertEqual(results["unanswered"], [])
            self.assertEqual(outcomes(results["frames"], only_found=False), expected)
            for frame in results["frames"]:
                for ped in frame["peds"]:
                    self.assertEqual(ped["captured"], ped["accuracy"], ped)

    def test_spoiled_captures_get_one_error_and_status_2(self):
        _, capture = captured_scene()
        with open(capture, "rb") as file:
            good = file.read()
        flipped = bytearray(good)
        flipped[len(good) // 2] ^= 0x10
        folder = os.path.join(e2e.WORK, "replay-spoiled")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        cases = {"cut": (good[:-1], "cut short"), "flipped": (bytes(flipped), "altered"),
                 "text": (b"[Debug]\r\nDisplayAccuracy = true\r\n", "not a capture")}
        for name, (data, what) in cases.items():
            path = os.path.join(folder, name + ".capture")
            e2e.write_bytes(path, data)
            status, _, error = replay_under_wine(path, name)
            self.assertEqual(status, 2, f"{name}: {error}")
            self.assertEqual(error.count("\n"), 1, f"{name}: {error}")
            # Named as given.
            self.assertTrue(error.startswith(f"game-sim: capture {e2e.windows_path(path)}: {what}"),
                            f"{name}: {error}")


if __name__ == "__main__":
    program = unittest.main(exit=False, verbosity=2)
    sys.exit(0 if program.result.wasSuccessful() else 1)
