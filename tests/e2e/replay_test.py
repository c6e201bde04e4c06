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
import signal
import subprocess
import sys
import time
import unittest

import capture_blocks
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
            self.assertTrue(error.startswith(f"game-sim: capture {path}: {what}"),
                            f"{name}: {error}")


class CaptureFileTest(unittest.TestCase):
    """The capture DLL's file as it lies on disk: whole passes however the game ends, and the same
    bytes from the DLL under Wine and from the capture flavour built natively."""

    def test_killed_game_leaves_a_capture_of_whole_passes(self):
        game = e2e.lay_out_game("capture-killed")
        shutil.copy(os.path.join(CAPTURE_BUILD, "vok.quillmarrowfendcask.asi"), game)
        capture = os.path.join(game, CAPTURE_NAME)
        run = subprocess.Popen([e2e.WINE, os.path.join(game, "game-sim.exe"), "--quiet",
                                "--frames", "1000000"], env=ENVIRONMENT, cwd=game,
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
        blocks, cut = capture_blocks.read_blocks(data)
        kinds = [kind for kind, _ in blocks]
        self.assertEqual(kinds[0], capture_blocks.START)
        self.assertEqual(set(kinds[1:]), {capture_blocks.PASSES}, "no end block after a kill")
        passes = [capture_blocks.pass_calls(payload) for _, payload in blocks[1:]]
        self.assertGreater(len(passes), 10)
        self.assertTrue(all(len(counts) == 1 and counts[0] > 0 for counts in passes), passes)
        self.assertLess(cut, 13 + max(len(payload) for _, payload in blocks))

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
        blocks, cut = capture_blocks.read_blocks(dll_bytes)
        self.assertEqual((len(blocks), cut), (5, 0), "start, three passes and the end")
        self.assertTrue(dll_bytes == native_bytes,
                        f"the captures differ: {len(dll_bytes)} bytes under Wine, "
                        f"{len(native_bytes)} natively, the first difference at "
                        f"{next((i for i, (a, b) in enumerate(zip(dll_bytes, native_bytes)) if a != b), None)}")


if __name__ == "__main__":
    program = unittest.main(exit=False, verbosity=2)
    sys.exit(0 if program.result.wasSuccessful() else 1)
