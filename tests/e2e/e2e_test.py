"""End-to-end runs of the real plug-in, vok.quillmarrowfendcask.asi, under Wine.

Each test lays out a game folder (game-sim.exe, the stand-in ScriptHookRDR2.dll and the .asi),
runs the simulated game and reads the JSON results it writes. CTest passes the paths in the
environment; run one test with:  e2e_test.py E2ETest.test_name
"""
import json
import os
import shutil
import subprocess
import sys
import unittest

WINE = os.environ.get("E2E_WINE", "/usr/lib/wine/wine64")
WINDOWS_BUILD = os.environ.get("E2E_WINDOWS_BUILD", "")
WORK = os.environ.get("E2E_WORK", "")
SIM_NATIVE = os.environ.get("E2E_SIM_NATIVE", "")
SOURCE = os.environ.get("E2E_SOURCE", os.path.join(os.path.dirname(__file__), "..", ".."))
SCENES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "scenes")
HAND_DERIVED = os.path.join(SCENES, "hand_derived.ini")

GAME_FILES = ("game-sim.exe", "ScriptHookRDR2.dll", "vok.quillmarrowfendcask.asi")
SETTINGS_NAME = "vok.quillmarrowfendcask.ini"
SET_RELEASE = "0x712BC69F10549B92"

EXPLANATION = (
    b"; The alignment of the gun barrel with the target determines overall accuracy.\n"
    b"; At an angle of 0, the gun is perfectly aligned with the target, but this might cause "
    b"pedestrians to miss frequently due to slight misalignments or imperfections in the "
    b"animation system.\n"
    b"; Adjusting the angle leniency accounts for these discrepancies. Increasing this value "
    b"will increase the pedestrian's accuracy, while decreasing it will have the opposite "
    b"effect.\n"
    b"; I recommend you set this between 1.5 to 3.0 (Min 0, Max 30).\n")
CREATED_SETTINGS = (b"[Debug]\r\nDisplayAccuracy = false\r\n\r\n\r\n[Settings]\r\n"
                    b"Angle = 3.000000\r\n; Angle Explanation: = " + EXPLANATION + b"\r\n")

def lay_out_game(name):
    folder = os.path.join(WORK, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for file in GAME_FILES:
        shutil.copy(os.path.join(WINDOWS_BUILD, file), folder)
    return folder


def run_game(folder, *options):
    """Runs game-sim.exe under Wine in its folder and returns its JSON results."""
    results = os.path.join(folder, "results.json")
    if os.path.exists(results):
        os.remove(results)
    environment = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    # Output goes to files, not pipes: Wine's server outlives the program and would hold a pipe
    # open for seconds after it ends.
    with open(os.path.join(folder, "stdout.txt"), "w", encoding="utf-8") as out, \
            open(os.path.join(folder, "stderr.txt"), "w+", encoding="utf-8") as err:
        run = subprocess.run([WINE, os.path.join(folder, "game-sim.exe"), "--quiet", "--json",
                              results, *options], env=environment, stdout=out, stderr=err,
                             timeout=300, check=False)
        err.seek(0)
        if run.returncode != 0:
            raise AssertionError(f"game-sim.exe exited with {run.returncode}:\n{err.read()}")
    with open(results, encoding="utf-8") as file:
        return json.load(file)


def run_native(folder, *options):
    """The same run in-process, with the plug-in's code built natively."""
    os.makedirs(folder, exist_ok=True)
    results = os.path.join(folder, "results.json")
    subprocess.run([SIM_NATIVE, "--game-dir", folder, "--quiet", "--json", results, *options],
                   check=True, timeout=300, capture_output=True)
    with open(results, encoding="utf-8") as file:
        return json.load(file)


def peds_by_name(frame):
    return {ped["name"]: ped for ped in frame["peds"]}


class E2ETest(unittest.TestCase):

    def test_registration_then_unregistration(self):
        results = run_game(lay_out_game("registration"), "--frames", "2")
        calls = results["registrations"]
        self.assertEqual([call["operation"] for call in calls],
                         ["scriptRegister", "keyboardHandlerRegister", "scriptUnregister",
                          "keyboardHandlerUnregister"])
        (plugin,) = results["modules"]
        self.assertEqual(plugin["file"], "vok.quillmarrowfendcask.asi")
        # The plug-in registers and unregisters its own module, and one and the same handler.
        self.assertEqual(calls[0]["module"], plugin["module"])
        self.assertEqual(calls[2]["module"], plugin["module"])
        self.assertNotEqual(calls[0]["function"], "0x0")
        self.assertEqual(calls[1]["function"], calls[3]["function"])
        self.assertNotEqual(calls[1]["function"], "0x0")
        # The host ran the registered entry in its fiber, one pass per frame, and sent keys.
        self.assertEqual(len(results["frames"]), 2)
        self.assertEqual(results["keyboardEvents"], 3)

    def test_every_frame_ends_with_set_release_then_wait(self):
        frames = run_game(lay_out_game("frames"), "--frames", "5")["frames"]
        self.assertEqual(len(frames), 5)
        handles = []
        for frame in frames:
            self.assertEqual(len(frame["setsCreated"]), 1)
            self.assertEqual(frame["setsReleased"], frame["setsCreated"])
            self.assertEqual(frame["lastNative"], SET_RELEASE)
            self.assertTrue(frame["endsWithReleaseThenWait"])
            self.assertEqual(frame["waitMilliseconds"], 0)
            handles += frame["setsCreated"]
        self.assertEqual(len(set(handles)), 5, "a new set every frame")

    def test_default_scene_calls_only_natives_the_game_knows(self):
        results = run_game(lay_out_game("known-natives"))
        self.assertEqual(results["unknownNatives"], [])
        self.assertEqual(results["protocolErrors"], [])
        for frame in results["frames"]:
            self.assertEqual(frame["unknownNatives"], 0)

    def test_native_build_and_dll_agree_on_default_scene(self):
        under_wine = run_game(lay_out_game("agree-dll"), "--frames", "4")
        in_process = run_native(os.path.join(WORK, "agree-native"), "--frames", "4")
        self.assertEqual(len(under_wine["frames"]), 4)
        self.assertEqual(under_wine["frames"], in_process["frames"])
        self.assertEqual(under_wine["unknownNatives"], in_process["unknownNatives"])
        self.assertEqual(under_wine["protocolErrors"], in_process["protocolErrors"])
        self.assertEqual([call["operation"] for call in under_wine["registrations"]],
                         [call["operation"] for call in in_process["registrations"]])

    def test_settings_file_created_once_then_left_byte_identical(self):
        folder = lay_out_game("settings")
        path = os.path.join(folder, SETTINGS_NAME)
        run_game(folder, "--scene", HAND_DERIVED, "--frames", "1")
        with open(path, "rb") as file:
            created = file.read()
        self.assertEqual(len(created), 602)
        self.assertEqual(created, CREATED_SETTINGS)
        run_game(folder, "--scene", HAND_DERIVED, "--frames", "1")
        with open(path, "rb") as file:
            self.assertEqual(file.read(), created)

    def test_hand_derived_accuracies(self):
        frames = run_game(lay_out_game("hand-derived"), "--scene", HAND_DERIVED,
                          "--frames", "2")["frames"]
        expected = {"Aligned at 30 m": 80, "Half ratio": 40, "With bonus": 100,
                    "Target check fails": 0, "Aligned at 150 m": 10, "Right angle": 0}
        not_treated = ["Bow", "Idle", "Dummy", "Far dummy", "Second dummy", "player"]
        for frame in frames:
            peds = peds_by_name(frame)
            for name, accuracy in expected.items():
                self.assertEqual((name, peds[name]["accuracy"], peds[name]["accuracySets"]),
                                 (name, accuracy, 1))
                self.assertEqual(peds[name]["settingCalls"], [1, 1], name)
                self.assertEqual(peds[name]["settingValues"], [1.0, 1.0], name)
            for name in not_treated:
                self.assertEqual(peds[name]["accuracySets"], 0, name)
                self.assertEqual(peds[name]["settingCalls"], [0, 0], name)

    def test_labels_only_with_display_accuracy(self):
        for display in (False, True):
            folder = lay_out_game("labels-" + str(display).lower())
            with open(os.path.join(folder, SETTINGS_NAME), "w", encoding="ascii") as file:
                file.write(f"[Debug]\nDisplayAccuracy = {str(display).lower()}\n"
                           "[Settings]\nAngle = 3.0\n")
            frames = run_game(folder, "--scene", HAND_DERIVED, "--frames", "2")["frames"]
            for frame in frames:
                treated = [ped for ped in frame["peds"] if ped["accuracySets"] > 0]
                self.assertEqual(len(treated), 6)
                if not display:
                    self.assertEqual(frame["labels"], [])
                    continue
                # Every treated ped of this scene is in view: each gets its own label.
                self.assertEqual(len(frame["labels"]), len(treated))
                for ped in treated:
                    label = ped["label"]
                    self.assertIsNotNone(label, ped["name"])
                    self.assertEqual(label["text"], f"Accuracy: {ped['accuracy']}")
                    self.assertEqual(label["colour"], [255, 0, 0, 255])
                    self.assertEqual(label["scale"], [0.3, 0.3])


if __name__ == "__main__":
    program = unittest.main(exit=False, verbosity=2)
    result = program.result
    sys.exit(0 if result.wasSuccessful() else 1)
