"""A capture of the simulated game, replayed: the capture DLL under Wine records the built-in scene,
and the normal plug-in replaying that file, as the DLL under Wine and natively, gives every ped
the accuracy and reason the scene run gave; one captured accuracy altered late in a 600-pass
capture ends the replay with status 1 naming that pass, in both builds; a stored capture replays
as expected under Wine; a spoiled file stops the run with one line and status 2. CTest passes the
paths in the environment, as for e2e_test.py; run one test with:
replay_test.py ReplayTest.test_name
"""
import functools
import json
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

import capture_bytes
import e2e_test as e2e

CAPTURE_BUILD = os.environ.get("E2E_WINDOWS_CAPTURE_BUILD", "")
SIM_NATIVE_CAPTURE = os.environ.get("E2E_SIM_NATIVE_CAPTURE", "")
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


@functools.lru_cache(maxsize=None)
def long_capture():
    """The built-in scene's 600 passes, the capture flavour's default, recorded natively
    (sim-native-capture beside sim-native), and the same file with the first accuracy of pass 450
    altered: the path of each and what was altered."""
    folder = os.path.join(e2e.WORK, "replay-long")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    recorder = os.path.join(os.path.dirname(e2e.SIM_NATIVE), "sim-native-capture")
    subprocess.run([recorder, "--game-dir", folder + os.sep, "--quiet", "--frames", "600"],
                   check=True, timeout=300, capture_output=True)
    path = os.path.join(folder, CAPTURE_NAME)
    with open(path, "rb") as file:
        altered, ped, was, now = capture_bytes.alter_accuracy(file.read(), ALTERED_PASS)
    altered_path = os.path.join(folder, "altered.capture")
    e2e.write_bytes(altered_path, altered)
    return path, altered_path, (ped, was, now)


ALTERED_PASS = 450


def outcomes(frames, only_found):
    """Per frame, each ped's accuracy and reason by its handle."""
    return [{ped["handle"]: (ped["accuracy"], ped["reason"]) for ped in frame["peds"]
             if ped.get("inSet") or not only_found} for frame in frames]


def replay_under_wine(capture, name="wine", *options):
    """game-sim.exe --replay with the normal plug-in: its status, JSON results and errors."""
    status, results, _, error = replay_with(None, capture, name, *options)
    return status, results, error


def replay_with(build, capture, name, *options):
    """game-sim.exe under Wine (build None) or sim-native replaying the capture: its status, JSON
    results (None when it wrote none), report and errors."""
    if build is None:
        game = e2e.lay_out_game("replay-" + name)
        results = os.path.join(game, "results.json")
        command = [e2e.WINE, os.path.join(game, "game-sim.exe"), "--json",
                   e2e.windows_path(results), "--replay", e2e.windows_path(capture), *options]
    else:
        game = os.path.join(e2e.WORK, "replay-native-" + name)
        shutil.rmtree(game, ignore_errors=True)
        os.makedirs(game)
        results = os.path.join(game, "results.json")
        command = [build, "--game-dir", game + os.sep, "--json", results, "--replay", capture,
                   *options]
    run = subprocess.run(command, env=ENVIRONMENT, capture_output=True, text=True, cwd=game,
                         timeout=300, check=False)
    if not os.path.isfile(results):
        return run.returncode, None, run.stdout, run.stderr
    with open(results, encoding="utf-8") as file:
        return run.returncode, json.load(file), run.stdout, run.stderr


class ReplayTest(unittest.TestCase):

    def test_capture_replays_to_the_scenes_accuracies_and_reasons(self):
        scene, capture = captured_scene()
        self.assertTrue(os.path.isfile(capture), "the capture DLL wrote no capture")
        expected = outcomes(scene["frames"], only_found=True)

        status, under_wine, error = replay_under_wine(capture, "wine", "--quiet")
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

    def check_altered_capture(self, build, name):
        """The long capture replays with status 0; with one accuracy altered in pass 450, with 1,
        that pass shown in full with the ped's two accuracies, counted, and in the JSON."""
        # The file says the captured plug-in set `altered`; today's sets what it always did.
        capture, altered_path, (ped, today, altered) = long_capture()
        status, results, report, error = replay_with(build, capture, name)
        self.assertEqual(status, 0, error)
        self.assertEqual(results["comparedWithCaptured"]["differing"], 0)
        self.assertIn("Accuracies compared with the captured ones: ", report)

        status, results, report, error = replay_with(build, altered_path, name + "-altered")
        self.assertEqual(status, 1, error)
        self.assertIn(f"Pass {ALTERED_PASS}: ", report)
        self.assertIn(f"captured {altered}, now {today}", report)
        self.assertIn(f", 1 differs in 1 pass, the first in pass {ALTERED_PASS}, ped {ped}\n",
                      report)
        differing = [frame for frame in results["frames"] if frame["differs"]]
        self.assertEqual([frame["pass"] for frame in differing], [ALTERED_PASS])
        peds = {p["handle"]: p for p in differing[0]["peds"]}
        self.assertEqual((peds[ped]["captured"], peds[ped]["accuracy"]), (altered, today))

    def test_altered_capture_differs_natively(self):
        self.check_altered_capture(e2e.SIM_NATIVE, "altered")

    def test_altered_capture_differs_under_wine(self):
        self.check_altered_capture(None, "altered")

    def test_stored_capture_as_expected_under_wine(self):
        capture = os.path.join(e2e.SOURCE, "tests", "captures", "default.capture")
        expected = capture[:-len(".capture")] + ".expected"
        status, results, report, error = replay_with(
            None, capture, "stored", "--quiet", "--expect", e2e.windows_path(expected))
        self.assertEqual(status, 0, report + error)
        self.assertGreater(results["comparedWithExpected"]["compared"], 0)

    def test_spoiled_captures_get_one_error_and_status_2(self):
        _, capture = captured_scene()
        with open(capture, "rb") as file:
            good = file.read()
        flipped = bytearray(good)
        flipped[len(good) // 2] ^= 0x10
        # A version 2 file cut short is a capture the game stopped; 1.3.0's version 1 is refused.
        with open(os.path.join(e2e.SOURCE, "tests", "captures", "default-1.3.0.capture"),
                  "rb") as file:
            version1 = file.read()
        folder = os.path.join(e2e.WORK, "replay-spoiled")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        cases = {"cut": (version1[:-1], "cut short"), "flipped": (bytes(flipped), "altered"),
                 "text": (b"[Debug]\r\nDisplayAccuracy = true\r\n", "not a capture")}
        for name, (data, what) in cases.items():
            path = os.path.join(folder, name + ".capture")
            e2e.write_bytes(path, data)
            status, _, error = replay_under_wine(path, name, "--quiet")
            self.assertEqual(status, 2, f"{name}: {error}")
            self.assertEqual(error.count("\n"), 1, f"{name}: {error}")
            # Named as given.
            self.assertTrue(error.startswith(f"game-sim: capture {e2e.windows_path(path)}: {what}"),
                            f"{name}: {error}")


class CaptureFileTest(unittest.TestCase):
    """The capture DLL's file as it lies on disk: whole passes however the game ends, and the same
    bytes from the DLL under Wine and from the capture flavour built natively."""

    def test_killed_game_leaves_a_capture_of_whole_passes(self):
        game = e2e.lay_out_game("capture-killed")
        shutil.copy(os.path.join(CAPTURE_BUILD, "vok.quillmarrowfendcask.asi"), game)
        capture = os.path.join(game, CAPTURE_NAME)
        # The built-in scene with a capture longer than the run, so that the kill, not the
        # capture's own end, stops it however slowly the test looks.
        scene = subprocess.run([e2e.SIM_NATIVE, "--print-default-scene"], check=True,
                               capture_output=True, text=True, timeout=60).stdout
        scene = scene.replace("\nEND\n", "\n\n[Capture]\nPasses = 1000000\nEND\n", 1)
        self.assertIn("Passes = 1000000", scene)
        e2e.write_bytes(os.path.join(game, "endless.ini"), scene.encode())
        run = subprocess.Popen([e2e.WINE, os.path.join(game, "game-sim.exe"), "--quiet",
                                "--scene", "endless.ini", "--frames", "1000000"],
                               env=ENVIRONMENT, cwd=game,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            # Killed while it records, a few dozen passes in: no unload, no end block.
            deadline = time.monotonic() + 120
            while time.monotonic() < deadline and run.poll() is None:
                if os.path.isfile(capture) and os.path.getsize(capture) > 300_000:
                    break
                time.sleep(0.05)
            self.assertIsNone(run.poll(), "game-sim.exe ended before it was killed")
            run.send_signal(signal.SIGKILL)
            run.wait(timeout=60)
        finally:
            run.kill()
        with open(capture, "rb") as file:
            data = file.read()
        blocks, cut = capture_bytes.read_blocks(data)
        kinds = [kind for kind, _ in blocks]
        self.assertEqual(kinds[0], capture_bytes.START)
        self.assertEqual(set(kinds[1:]), {capture_bytes.PASSES}, "no end block after a kill")
        passes = [capture_bytes.pass_calls(payload) for _, payload in blocks[1:]]
        self.assertGreater(len(passes), 10)
        self.assertTrue(all(len(counts) == 1 and counts[0] > 0 for counts in passes), passes)
        self.assertLess(cut, 13 + max(len(payload) for _, payload in blocks))
        # Replayed, its complete passes agree with what the plug-in set, and the report says
        # where the capture ends.
        status, results, report, error = replay_with(e2e.SIM_NATIVE, capture, "killed")
        self.assertEqual(status, 0, error)
        self.assertIn(f"\nthe capture ends after pass {len(passes)} (the game stopped)\n", report)
        self.assertEqual(results["frames"][-1]["pass"], len(passes))

    def test_dll_and_native_build_capture_the_same_bytes(self):
        _, under_wine = captured_scene()
        native = os.path.join(e2e.WORK, "capture-native")
        shutil.rmtree(native, ignore_errors=True)
        os.makedirs(native)
        subprocess.run([SIM_NATIVE_CAPTURE, "--game-dir", native, "--quiet", "--frames", "3"],
                       check=True, timeout=300, capture_output=True)
        with open(under_wine, "rb") as file:
            dll_bytes = file.read()
        with open(os.path.join(native, CAPTURE_NAME), "rb") as file:
            native_bytes = file.read()
        blocks, cut = capture_bytes.read_blocks(dll_bytes)
        self.assertEqual((len(blocks), cut), (5, 0), "start, three passes and the end")
        self.assertTrue(dll_bytes == native_bytes,
                        f"the captures differ: {len(dll_bytes)} bytes under Wine, "
                        f"{len(native_bytes)} natively, the first difference at "
                        f"{next((i for i, (a, b) in enumerate(zip(dll_bytes, native_bytes)) if a != b), None)}")


if __name__ == "__main__":
    program = unittest.main(exit=False, verbosity=2)
    sys.exit(0 if program.result.wasSuccessful() else 1)
