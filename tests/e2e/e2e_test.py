"""End-to-end runs of the real plug-in, vok.quillmarrowfendcask.asi, under Wine.

Each test lays out a game folder (game-sim.exe, the stand-in ScriptHookRDR2.dll and the .asi),
runs the simulated game and reads the JSON results it writes. Every run that starts with a
settings file in the game folder checks that its bytes are the same afterwards. CTest passes the
paths in the environment; run one test with:  e2e_test.py E2ETest.test_name
"""
import functools
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import time
import unittest
import xml.dom.minidom

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from scratch_checkout import copy_checkout  # noqa: E402  (tests/tools, put on the path above)

WINE = os.environ.get("E2E_WINE", "/usr/lib/wine/wine64")
WINDOWS_BUILD = os.environ.get("E2E_WINDOWS_BUILD", "")
WINDOWS_CAPTURE_BUILD = os.environ.get("E2E_WINDOWS_CAPTURE_BUILD", "")
WORK = os.environ.get("E2E_WORK", "")
SIM_NATIVE = os.environ.get("E2E_SIM_NATIVE", "")
SIM_NATIVE_MISBEHAVING = os.environ.get("E2E_SIM_NATIVE_MISBEHAVING", "")
SOURCE = os.environ.get("E2E_SOURCE", os.path.join(os.path.dirname(__file__), "..", ".."))
SCENES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "scenes")
HAND_DERIVED = os.path.join(SCENES, "hand_derived.ini")
GAME_VALUES = os.path.join(SCENES, "faults_game_values.ini")
FAULTS_WORLD = os.path.join(SCENES, "faults_world.ini")

GAME_FILES = ("game-sim.exe", "ScriptHookRDR2.dll", "vok.quillmarrowfendcask.asi")
SETTINGS_NAME = "vok.quillmarrowfendcask.ini"
LOG_NAME = "vok.quillmarrowfendcask.log"
SET_RELEASE = "0x712BC69F10549B92"
PLAYER_PED = 0x096275889B8E0EE0
ENTITY_POSITION = 0xA86D5F069399F44D
NAME_HASH = 0xFD340785ADF8CFB7
CREATE_SET = 0xA1AF16083320065A
SEARCH = 0x59B57C4B06531E1E
SET_ITEM = 0x275A2E2C0FAB7612
ITEM_ENTITY = 0xEE04C0AFD4EFAF0E
RELEASE_SET = 0x712BC69F10549B92

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

# A player's own settings file, with values unlike those in memory before loading (false, 3.0).
PLAYERS_SETTINGS = (b"[Debug]\r\nDisplayAccuracy = true\r\n\r\n[Settings]\r\nAngle = 10.0\r\n"
                    b"; my own notes, kept\r\n")

# faults_world.ini as the plug-in treats it with no settings file read: labels off, leniency 3.
WORLD_IN_MEMORY = {"Aligned at 30 m": 80, "Two degrees off": 26, "Aligned at 150 m": 10,
                   "Guard": 80}


def lay_out_game(name, folder=None):
    folder = folder or os.path.join(WORK, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for file in GAME_FILES:
        shutil.copy(os.path.join(WINDOWS_BUILD, file), folder)
    return folder


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def read_bytes(path):
    try:
        with open(path, "rb") as file:
            return file.read()
    except FileNotFoundError:
        return None


def write_bytes(path, data):
    with open(path, "wb") as file:
        file.write(data)


@functools.lru_cache(maxsize=None)
def default_scene_text():
    return subprocess.run([SIM_NATIVE, "--print-default-scene"], check=True, timeout=60,
                          capture_output=True, text=True).stdout


def scene_settings_file(scene_text):
    """The settings file a scene puts beside the game: its [settings] file value, or None."""
    lines = scene_text.splitlines()
    section = None
    for number, line in enumerate(lines):
        stripped = line.strip()
        if stripped.startswith("[") and stripped.endswith("]"):
            section = stripped[1:-1].strip().lower()
            continue
        key, equals, value = stripped.partition("=")
        if section != "settings" or not equals or key.strip().lower() != "file":
            continue
        value = value.strip()
        if not value.startswith("<<<"):
            return (value + "\n").encode()
        tag, body = value[3:], []
        for text in lines[number + 1:]:
            if text.rstrip() == tag:
                break
            body.append(text)
        return ("\n".join(body) + "\n").encode()
    return None


def settings_at_start(folder, options):
    """The settings file the plug-in starts with: the scene's, else whatever the folder holds."""
    options = list(options)
    if "--scene" in options:
        with open(options[options.index("--scene") + 1], encoding="utf-8") as file:
            scene = file.read()
    else:
        scene = default_scene_text()
    from_scene = scene_settings_file(scene)
    return from_scene if from_scene is not None else read_bytes(os.path.join(folder, SETTINGS_NAME))


def check_settings_kept(folder, before):
    """A settings file that was there when the plug-in started keeps every byte."""
    if before is None:
        return
    after = read_bytes(os.path.join(folder, SETTINGS_NAME))
    if after != before:
        raise AssertionError(f"the settings file in {folder} changed:\n"
                             f"before {before!r}\nafter  {after!r}")


def run_game(folder, *options, cwd=None):
    """Runs game-sim.exe under Wine in its folder and returns its JSON results."""
    results = os.path.join(folder, "results.json")
    if os.path.exists(results):
        os.remove(results)
    before = settings_at_start(folder, options)
    environment = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    # Output goes to files, not pipes: Wine's server outlives the program and would hold a pipe
    # open for seconds after it ends.
    with open(os.path.join(folder, "stdout.txt"), "w", encoding="utf-8") as out, \
            open(os.path.join(folder, "stderr.txt"), "w+", encoding="utf-8") as err:
        # As a Windows path on drive Z:, which works from any working folder Wine falls back to.
        run = subprocess.run([WINE, os.path.join(folder, "game-sim.exe"), "--quiet", "--json",
                              windows_path(results), *options], env=environment, stdout=out,
                             stderr=err,
                             cwd=cwd, timeout=300, check=False)
        err.seek(0)
        if run.returncode != 0:
            said = err.read()
            if not said:
                # Wine exits with 1 and says nothing when the program is not a whole one.
                sizes = [os.path.getsize(os.path.join(where, "game-sim.exe"))
                         for where in (folder, WINDOWS_BUILD)]
                said = (f"(nothing said; game-sim.exe has {sizes[0]} bytes here and {sizes[1]} "
                        f"in {WINDOWS_BUILD})")
            raise AssertionError(f"game-sim.exe exited with {run.returncode}:\n{said}")
    check_settings_kept(folder, before)
    with open(results, encoding="utf-8") as file:
        return json.load(file)


def run_plain(folder, *options):
    """Runs game-sim.exe under Wine with no check of its own; its exit status and what it said."""
    environment = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    with open(os.path.join(folder, "stderr.txt"), "w+", encoding="utf-8") as err:
        run = subprocess.run([WINE, os.path.join(folder, "game-sim.exe"), "--quiet", *options],
                             env=environment, stdout=subprocess.DEVNULL, stderr=err, cwd=folder,
                             timeout=300, check=False)
        err.seek(0)
        return run.returncode, err.read()


def run_native(folder, *options):
    """The same run in-process, with the plug-in's code built natively."""
    os.makedirs(folder, exist_ok=True)
    results = os.path.join(folder, "results.json")
    before = settings_at_start(folder, options)
    subprocess.run([SIM_NATIVE, "--game-dir", folder, "--quiet", "--json", results, *options],
                   check=True, timeout=300, capture_output=True)
    check_settings_kept(folder, before)
    with open(results, encoding="utf-8") as file:
        return json.load(file)


def scene_variant(name, base, extra):
    """The base scene with more lines: those under a section the base has go into it (a scene
    gives each section once), the others at the end."""
    with open(base, encoding="utf-8") as file:
        lines = file.read().splitlines()
    place = None
    for line in extra.splitlines():
        stripped = line.strip().lower()
        if stripped.startswith("["):
            place = next((number + 1 for number, text in enumerate(lines)
                          if text.strip().lower() == stripped), None)
            if place is not None:
                continue
        if place is None:
            lines.append(line)
        else:
            lines.insert(place, line)
            place += 1
    path = os.path.join(WORK, "scenes", name + ".ini")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as file:
        file.write("\n".join(lines) + "\n")
    return path


def peds_by_name(frame):
    return {ped["name"]: ped for ped in frame["peds"]}


def treated(frame):
    """Accuracy by ped name, for the peds that were given one."""
    return {ped["name"]: ped["accuracy"] for ped in frame["peds"] if ped["accuracySets"] > 0}


def native_calls(frame):
    return {int(hash_text, 16): count for hash_text, count in frame["nativeCalls"].items()}


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

    def test_printed_default_scene_runs_from_another_folder(self):
        # As a modder starts: the printed scene saved in a folder of their own and run from
        # there; relative paths are taken from that folder, an absolute Unix one works too.
        game = lay_out_game("printed-scene-game")
        caller = os.path.join(WORK, "printed-scene-caller")
        shutil.rmtree(caller, ignore_errors=True)
        os.makedirs(caller)
        environment = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        exe = os.path.join(game, "game-sim.exe")
        with open(os.path.join(caller, "my.ini"), "w", encoding="utf-8") as out:
            subprocess.run([WINE, exe, "--print-default-scene"], env=environment, stdout=out,
                           cwd=caller, timeout=300, check=True)
        with open(os.path.join(caller, "my.ini"), "rb") as file:
            self.assertEqual(file.read(), default_scene_text().encode())
        # Saved again by a Windows editor in its ANSI code page, with a name of the modder's own:
        # read as such, with a warning naming the line, and the results readable by any tool.
        text = default_scene_text().replace("Gunslinger", "José")
        with open(os.path.join(caller, "my.ini"), "wb") as file:
            file.write(text.encode("cp1252"))
        line = text.splitlines().index("[José]") + 1
        svg = os.path.join(caller, "frame.svg")
        with open(os.path.join(caller, "stderr.txt"), "w+", encoding="utf-8") as err:
            subprocess.run([WINE, exe, "--quiet", "--scene", "my.ini", "--json", "r.json",
                            "--svg", svg], env=environment, stderr=err, cwd=caller,
                           timeout=300, check=True)
            err.seek(0)
            self.assertIn(f"my.ini:{line}: warning: not UTF-8, so read as Windows-1252", err.read())
        with open(os.path.join(caller, "r.json"), encoding="utf-8") as file:
            printed = json.load(file)
        self.assertIn("José", xml.dom.minidom.parse(svg).toxml())
        for frame in printed["frames"]:
            for ped in frame["peds"]:
                for key in ("name", "target"):
                    ped[key] = ped[key].replace("José", "Gunslinger")
        self.assertEqual(printed["frames"], run_game(lay_out_game("printed-scene-default"))["frames"])

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

    def test_players_own_settings_file_is_never_written_over(self):
        # game-sim.exe put in a folder that holds the player's own settings file, run without a
        # scene: the file keeps every byte and the run stops, saying how to go on.
        folder = lay_out_game("players-settings")
        path = os.path.join(folder, SETTINGS_NAME)
        write_bytes(path, PLAYERS_SETTINGS)
        status, said = run_plain(folder)
        self.assertEqual(status, 2, said)
        self.assertIn(f"{path} is there already and is not the built-in scene's settings file",
                      said)
        self.assertIn("--replace-settings", said)
        self.assertEqual(read_bytes(path), PLAYERS_SETTINGS)
        self.assertFalse(os.path.exists(os.path.join(folder, LOG_NAME)), "the plug-in never ran")
        # Told to write over it, it keeps the player's file beside it and names the copy.
        status, said = run_plain(folder, "--replace-settings", "--frames", "1")
        self.assertEqual(status, 0, said)
        self.assertIn(f"the one that was there kept as {path}.bak\n", said)
        self.assertEqual(read_bytes(path + ".bak"), PLAYERS_SETTINGS)

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


class RunChecks(unittest.TestCase):
    """What every run must show, whatever the game answered."""

    def assert_ran_through(self, results, frames):
        # Every frame completed its pass, and the plug-in was unloaded as usual.
        self.assertEqual(len(results["frames"]), frames)
        for frame in results["frames"]:
            self.assertTrue(frame["endsWithReleaseThenWait"], frame["frame"])
            self.assertEqual(frame["waitMilliseconds"], 0)
        self.assertEqual([call["operation"] for call in results["registrations"]],
                         ["scriptRegister", "keyboardHandlerRegister", "scriptUnregister",
                          "keyboardHandlerUnregister"])
        self.assertEqual(results["unknownNatives"], [])
        self.assertEqual(results["protocolErrors"], [])

    def assert_same_as_native(self, name, under_wine, *options):
        folder = os.path.join(WORK, name + "-native")
        shutil.rmtree(folder, ignore_errors=True)
        in_process = run_native(folder, *options)
        self.assertEqual(under_wine["frames"], in_process["frames"], name)

    def run_both(self, name, scene, frames=2, *options):
        """The scene under Wine, checked to run through and to match the native build."""
        arguments = ("--scene", scene, "--frames", str(frames), *options)
        results = run_game(lay_out_game(name), *arguments)
        self.assert_ran_through(results, frames)
        self.assert_same_as_native(name, results, *arguments)
        return results

    def assert_treated(self, results, expected):
        """Exactly these peds got these accuracies, once per frame, and the per-ped settings."""
        for frame in results["frames"]:
            self.assertEqual(treated(frame), expected, f"frame {frame['frame']}")
            for ped in frame["peds"]:
                calls = [1, 1] if ped["name"] in expected else [0, 0]
                self.assertEqual((ped["name"], ped["settingCalls"]), (ped["name"], calls))
                self.assertLessEqual(ped["accuracySets"], 1, ped["name"])


class FaultSceneTest(RunChecks):
    """The game answering NaN, infinities, odd counts and handles that refer to nothing."""

    def test_game_values_not_numbers_infinite_or_zero(self):
        results = self.run_both("game-values", GAME_VALUES)
        # Worked out by hand in faults_game_values.ini, from A = 1 and D = 0.8 (80).
        expected = {
            "Neutral": 80, "p NaN": 8, "t NaN": 8, "p inf": 8, "p minus inf": 0,
            "c1 NaN": 64, "c1 inf": 64, "c2 NaN": 64, "c2 minus inf": 0, "h NaN": 64,
            "h inf": 64, "Distance NaN": 10, "Distance inf": 10, "Distance minus inf": 0,
            "Position NaN": 10, "Position inf": 10, "Target at NaN": 0, "Target at inf": 0,
            "Base bone NaN": 0, "Tip bone NaN": 0, "Tip bone inf": 0, "Zero denominator": 0,
            "Zero over zero": 0, "Negative over zero": 0, "Weapon object 0": 0,
            "Weapon object -1": 0}
        self.assert_treated(results, expected)
        for frame in results["frames"]:
            peds = peds_by_name(frame)
            for name in ("Handle 0", "Handle -1", "Aims at 0", "Aims at -1"):
                self.assertTrue(peds[name]["inSet"], name)
            # A label for every treated ped but those whose position has no screen point.
            unlabelled = {"Position NaN", "Position inf"}
            for name, accuracy in expected.items():
                label = peds[name]["label"]
                if name in unlabelled:
                    self.assertIsNone(label, name)
                else:
                    self.assertEqual(label and label["text"], f"Accuracy: {accuracy}", name)
            self.assertEqual(len(frame["labels"]), len(expected) - len(unlabelled))

    def test_world_values_not_numbers_or_infinite(self):
        # W at its floor 0.8: 80 -> 64, 26.7 -> 21.3, 10 -> 8; W = +inf makes P infinite: 0.
        floored = {"Aligned at 30 m": 64, "Two degrees off": 21, "Aligned at 150 m": 8,
                   "Guard": 64}
        for value, expected in (("w1 = nan", floored), ("w2 = inf", floored),
                                ("w3 = nan", floored),
                                ("w3 = -inf", dict.fromkeys(WORLD_IN_MEMORY, 0))):
            with self.subTest(value):
                name = "world-" + value.replace(" = ", "-")
                scene = scene_variant(name, FAULTS_WORLD, "[world]\n" + value)
                self.assert_treated(self.run_both(name, scene), expected)

    def test_negative_found_count_reads_no_item(self):
        scene = scene_variant("found-count-negative", FAULTS_WORLD, "[world]\nfound count = -5")
        results = self.run_both("found-count-negative", scene)
        self.assert_treated(results, {})
        for frame in results["frames"]:
            calls = native_calls(frame)
            # The player, its position, the weapon table's names, the set and the search: no
            # native about any ped.
            self.assertEqual(set(calls) - {NAME_HASH},
                             {PLAYER_PED, ENTITY_POSITION, CREATE_SET, SEARCH, RELEASE_SET})
            for native in (PLAYER_PED, ENTITY_POSITION, CREATE_SET, SEARCH, RELEASE_SET):
                self.assertEqual(calls[native], 1, hex(native))

    def test_found_count_past_the_set_reads_every_item(self):
        # The set holds 9 peds; the other 4991 items stand for peds that are gone (handles 0,
        # -1 and stale ones), which fail the first filter.
        scene = scene_variant("found-count-5000", FAULTS_WORLD, "[world]\nfound count = 5000")
        results = self.run_both("found-count-5000", scene)
        self.assert_treated(results, WORLD_IN_MEMORY)
        for frame in results["frames"]:
            calls = native_calls(frame)
            self.assertEqual(calls[SET_ITEM], 5000)
            self.assertEqual(calls[ITEM_ENTITY], 5000)
            self.assertEqual((calls[CREATE_SET], calls[RELEASE_SET]), (1, 1))

    def test_player_handle_refers_to_nothing(self):
        # The position of such a handle is the origin: the search is centred there, which
        # brings in the distant shooter; the guard aims at a handle that fails the target gate.
        for handle in ("0", "-1"):
            with self.subTest(handle=handle):
                name = "player-handle-" + handle
                scene = scene_variant(name, FAULTS_WORLD, "[player]\nhandle = " + handle)
                results = self.run_both(name, scene)
                expected = dict(WORLD_IN_MEMORY, **{"Distant shooter": 80})
                del expected["Guard"]
                self.assert_treated(results, expected)
                for frame in results["frames"]:
                    self.assertTrue(peds_by_name(frame)["player"]["inSet"])

    def test_label_answers_not_numbers_or_infinite(self):
        # The default scene draws labels; with any of these answers none is drawn, and the
        # accuracies and per-ped settings stay as they were.
        control = run_game(lay_out_game("labels-control"), "--frames", "2")
        self.assertGreater(len(control["frames"][0]["labels"]), 0)
        accuracies = treated(control["frames"][0])
        default_scene = os.path.join(WORK, "scenes", "default.ini")
        os.makedirs(os.path.dirname(default_scene), exist_ok=True)
        with open(default_scene, "w", encoding="utf-8") as file:
            file.write(default_scene_text())
        for answer in ("reported screen x = nan", "reported screen y = inf",
                       "reported absolute value = nan", "reported label limit = nan",
                       "reported label limit = inf"):
            with self.subTest(answer):
                name = "labels-" + answer.replace(" = ", "-").replace(" ", "-")
                scene = scene_variant(name, default_scene, "[player]\n" + answer)
                results = self.run_both(name, scene)
                self.assert_treated(results, accuracies)
                for frame in results["frames"]:
                    self.assertEqual(frame["labels"], [])


class PathTest(RunChecks):
    """Where the game's path cannot be used, nothing is written and the values in memory hold."""

    def setUp(self):
        self.prefix = os.environ["WINEPREFIX"]
        self.start = time.time_ns()

    def files_changed(self, root, ignore=("results.json", "stdout.txt", "stderr.txt")):
        changed = []
        for folder, _, files in os.walk(root):
            for file in files:
                path = os.path.join(folder, file)
                if file not in ignore and os.stat(path).st_mtime_ns >= self.start:
                    changed.append(path)
        return changed

    def assert_nothing_written(self, *roots):
        for root in roots:
            self.assertEqual(self.files_changed(root), [], root)
        drive_c = os.path.join(self.prefix, "drive_c")
        self.assertEqual(self.files_changed(drive_c), [])
        stray = [os.path.join(folder, file) for folder, _, files in os.walk(drive_c)
                 for file in files if "quillmarrowfendcask" in file.lower()]
        self.assertEqual(stray, [])

    def assert_values_in_memory(self, results, frames=3):
        # No labels, leniency 3: the player's file (labels on, leniency 10) was never read.
        self.assert_ran_through(results, frames)
        self.assert_treated(results, WORLD_IN_MEMORY)
        for frame in results["frames"]:
            self.assertEqual(frame["labels"], [])

    def test_game_in_folder_deeper_than_the_path_buffer(self):
        root = os.path.join(WORK, "deep-folder")
        shutil.rmtree(root, ignore_errors=True)
        folder = root
        while len(windows_path(folder)) < 300:
            folder = os.path.join(folder, "a-folder-nested-deeper-than-windows-paths-go")
        lay_out_game("deep", folder)
        write_bytes(os.path.join(folder, SETTINGS_NAME), PLAYERS_SETTINGS)
        executable = windows_path(os.path.join(folder, "game-sim.exe"))
        # The plug-in's 260-character buffer gets the first 260 characters, with no NUL.
        cut = executable[:260]
        cut_folder = "/" + cut[3:cut.rindex("\\")].replace("\\", "/")
        self.assertTrue(os.path.isdir(cut_folder))
        self.start = time.time_ns()
        # Started in its own folder, as a game is; Wine falls back to C:\windows for a
        # working folder that long.
        results = run_game(folder, "--scene", FAULTS_WORLD, "--frames", "3", cwd=folder)
        self.assert_values_in_memory(results)
        self.assertFalse(os.path.exists(os.path.join(cut_folder, SETTINGS_NAME)))
        self.assertEqual(read_bytes(os.path.join(folder, SETTINGS_NAME)), PLAYERS_SETTINGS)
        self.assert_nothing_written(root)

    def test_game_folder_and_files_named_outside_the_code_page(self):
        # Wine's code page here (1252) has no ゲーム and no 日本: GetModuleFileNameA gives the
        # plug-in Z:\...\???\game-sim.exe, and narrow file calls would look for "??.ini".
        folder = lay_out_game("ゲーム")
        settings = os.path.join(folder, SETTINGS_NAME)
        stderr = os.path.join(folder, "stderr.txt")

        # game-sim.exe in that folder puts the built-in scene's settings file down and says
        # where, as the person would give it to game-sim, in a line ending in LF alone.
        status, said = run_plain(folder, "--frames", "1")
        self.assertEqual(status, 0, said)
        self.assertEqual(read_bytes(stderr), f"game-sim: the built-in scene's settings file put "
                                             f"down as {settings}\n".encode())
        os.remove(settings)
        os.remove(os.path.join(folder, LOG_NAME))

        # The plug-in creates its settings file and log there, and reads an edited Angle back.
        shutil.copy(FAULTS_WORLD, os.path.join(folder, "日本.ini"))
        edited = dict(WORLD_IN_MEMORY, **{"Two degrees off": 16})
        for angle, accuracies in ((b"3.000000", WORLD_IN_MEMORY), (b"2.5", edited)):
            with self.subTest(angle=angle):
                if angle != b"3.000000":
                    write_bytes(settings, CREATED_SETTINGS.replace(b"3.000000", angle))
                before = read_bytes(settings)
                status, said = run_plain(folder, "--scene", "日本.ini", "--frames", "2", "--json",
                                         "結果.json")
                self.assertEqual(status, 0, said)
                with open(os.path.join(folder, "結果.json"), encoding="utf-8") as file:
                    self.assert_treated(json.load(file), accuracies)
                log = read_bytes(os.path.join(folder, LOG_NAME)).split(b"\r\n")
                self.assertIn(b"Folder: the game's folder has characters outside the system's "
                              b"code page: its files are opened by their Unicode names", log)
                self.assertIn(b"Angle: " + angle.rstrip(b"0").rstrip(b"."), log)
                if before is None:
                    self.assertEqual(read_bytes(settings), CREATED_SETTINGS)
                else:
                    self.assertEqual(read_bytes(settings), before)

        # The capture flavour records there; the release plug-in replays 日本.capture.
        shutil.copy(os.path.join(WINDOWS_CAPTURE_BUILD, "vok.quillmarrowfendcask.asi"), folder)
        status, said = run_plain(folder, "--scene", "日本.ini", "--frames", "2")
        self.assertEqual(status, 0, said)
        os.rename(os.path.join(folder, "vok.quillmarrowfendcask.capture"),
                  os.path.join(folder, "日本.capture"))
        shutil.copy(os.path.join(WINDOWS_BUILD, "vok.quillmarrowfendcask.asi"), folder)
        os.remove(settings)  # the capture puts down the settings it was recorded with
        status, said = run_plain(folder, "--replay", "日本.capture", "--json", "再生.json")
        self.assertEqual(status, 0, said)
        with open(os.path.join(folder, "再生.json"), encoding="utf-8") as file:
            replayed = json.load(file)
        self.assertEqual(len(replayed["frames"]), 2)
        for frame in replayed["frames"]:
            self.assertEqual(sorted(ped["accuracy"] for ped in frame["peds"]
                                    if ped["accuracy"] >= 0), sorted(edited.values()))
            for ped in frame["peds"]:
                self.assertEqual(ped["captured"], ped["accuracy"], ped)
        self.assertNotIn(b"\r", read_bytes(stderr))

    def test_sim_native_in_a_folder_named_outside_ascii(self):
        folder = os.path.join(WORK, "ゲーム-native")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        scene = os.path.join(folder, "日本.ini")
        shutil.copy(FAULTS_WORLD, scene)
        settings = os.path.join(folder, SETTINGS_NAME)
        self.assert_treated(run_native(folder, "--scene", scene, "--frames", "2"),
                            WORLD_IN_MEMORY)
        self.assertEqual(read_bytes(settings), CREATED_SETTINGS)
        self.assertIn(b"Angle: 3\r\n", read_bytes(os.path.join(folder, LOG_NAME)))
        write_bytes(settings, CREATED_SETTINGS.replace(b"3.000000", b"2.5"))
        self.assert_treated(run_native(folder, "--scene", scene, "--frames", "2"),
                            dict(WORLD_IN_MEMORY, **{"Two degrees off": 16}))

    def staged_run(self, name, module_path, with_players_file=True):
        """A run in which the plug-in's GetModuleFileNameA answers module_path."""
        folder = lay_out_game(name)
        if with_players_file:
            write_bytes(os.path.join(folder, SETTINGS_NAME), PLAYERS_SETTINGS)
        working = os.path.join(WORK, name + "-cwd")
        shutil.rmtree(working, ignore_errors=True)
        os.makedirs(working)
        self.start = time.time_ns()
        results = run_game(folder, "--scene", FAULTS_WORLD, "--frames", "3",
                           "--module-path", module_path, cwd=working)
        self.assertEqual(os.listdir(working), [], "nothing in the working folder")
        return folder, results

    def test_module_path_without_a_backslash(self):
        folder, results = self.staged_run("no-backslash", "game.exe")
        self.assert_values_in_memory(results)
        self.assertEqual(read_bytes(os.path.join(folder, SETTINGS_NAME)), PLAYERS_SETTINGS)
        self.assert_nothing_written(folder)

    def test_module_path_at_the_buffer_boundary(self):
        # Each staged path names a folder of its own: a file appears only where the plug-in
        # put it. 259 characters fit the buffer, and a folder of 232 leaves exactly room for
        # the 27-character file name and its NUL: the file is created there. 260 characters
        # are cut short: nothing. A folder of 233 leaves no room for the NUL: nothing.
        staged = os.path.join(WORK, "boundary-folders")
        shutil.rmtree(staged, ignore_errors=True)
        base = windows_path(staged) + "\\"
        room = 232 - len(base) - 1  # the folder name that makes the folder 232 characters
        self.assertGreater(room, 0, "the work folder's path is too long for this test")
        for letter, name_length, path_length, created in (("a", room, 259, True),
                                                          ("b", room, 260, False),
                                                          ("c", room + 1, 259, False)):
            folder = base + letter * name_length + "\\"
            path = folder + "g" * (path_length - len(folder) - 4) + ".exe"
            with self.subTest(folder=len(folder), path=len(path)):
                self.assertEqual(len(path), path_length)
                unix_folder = os.path.join(staged, letter * name_length)
                os.makedirs(unix_folder)
                game, results = self.staged_run("boundary-" + letter, path,
                                                with_players_file=False)
                self.assert_values_in_memory(results)
                written = os.path.join(unix_folder, SETTINGS_NAME)
                # The start-up log goes beside the settings file, under the same path rules.
                log = os.path.join(unix_folder, LOG_NAME)
                self.assertEqual(sorted(self.files_changed(staged)),
                                 [written, log] if created else [])
                if created:
                    self.assertEqual(read_bytes(written), CREATED_SETTINGS)
                self.assert_nothing_written(game)

    def test_settings_file_held_open_keeps_every_byte(self):
        # Another program holds the file open: the plug-in cannot read it, may not replace it
        # (it would lose the player's settings), and runs on the values in memory.
        for sharing in ("write", "none"):
            with self.subTest(sharing=sharing):
                folder = lay_out_game("held-" + sharing)
                path = os.path.join(folder, SETTINGS_NAME)
                write_bytes(path, PLAYERS_SETTINGS)
                results = run_game(folder, "--scene", FAULTS_WORLD, "--frames", "3",
                                   "--hold-settings-file", sharing)
                self.assert_values_in_memory(results)
                self.assertEqual(read_bytes(path), PLAYERS_SETTINGS)


class LocaleTest(RunChecks):
    """Another module in the game sets a number locale with a decimal comma."""

    LOCALE = "German_Germany.1252"

    def locales_reported(self, folder):
        with open(os.path.join(folder, "stdout.txt"), encoding="utf-8") as file:
            lines = file.read().splitlines()
        return [line.split(": ", 1)[1] for line in lines if line.startswith("locale ")]

    def angle_logged(self, folder):
        log = read_bytes(os.path.join(folder, LOG_NAME)).decode("ascii").split("\r\n")
        return [line for line in log if line.startswith("Angle")]

    def test_decimal_comma_process_locale(self):
        created = lay_out_game("locale-created")
        run_game(created, "--scene", FAULTS_WORLD, "--frames", "1", "--locale", self.LOCALE)
        written = read_bytes(os.path.join(created, SETTINGS_NAME))
        self.assertEqual((len(written), written), (602, CREATED_SETTINGS))
        self.assertEqual(self.angle_logged(created), ["Angle: 3"])
        self.assertEqual(self.locales_reported(created), [self.LOCALE, self.LOCALE])

        # 2.5, not the 1.5 of an unreadable value: two degrees off gets 16 (26 at 3, 0 at 1.5).
        read = lay_out_game("locale-read")
        write_bytes(os.path.join(read, SETTINGS_NAME),
                    b"[Debug]\r\nDisplayAccuracy = true\r\n[Settings]\r\nAngle = 2.5\r\n")
        results = run_game(read, "--scene", FAULTS_WORLD, "--frames", "2", "--locale", self.LOCALE)
        self.assertEqual(self.locales_reported(read), [self.LOCALE, self.LOCALE])
        self.assertEqual(self.angle_logged(read), ["Angle: 2.5"])
        self.assert_ran_through(results, 2)
        self.assert_treated(results, dict(WORLD_IN_MEMORY, **{"Two degrees off": 16}))
        for frame in results["frames"]:
            label = peds_by_name(frame)["Two degrees off"]["label"]
            self.assertEqual(label and label["text"], "Accuracy: 16")


class LogTest(RunChecks):
    """The start-up log a player posts with a question."""

    def log_lines(self, folder):
        with open(os.path.join(folder, LOG_NAME), "rb") as file:
            data = file.read()
        self.assertLess(len(data), 600)
        self.assertTrue(data.endswith(b"\r\n"))
        return data.decode("ascii").split("\r\n")[:-1]

    def test_created_unreadable_and_fallbacks(self):
        with open(os.path.join(SOURCE, "VERSION"), encoding="ascii") as file:
            version = file.readline().strip()
        head = ["vok.quillmarrowfendcask " + version, "Game version: 1.0.1491.50",
                "ScriptHookRDR2.dll version: 1.0.1491.17"]
        first_pass = "First pass: 7 peds found near the player, 4 given an accuracy"

        # A first run in an empty game folder.
        folder = lay_out_game("log-first-run")
        run_game(folder, "--scene", FAULTS_WORLD, "--frames", "2")
        self.assertEqual(len(read_bytes(os.path.join(folder, SETTINGS_NAME))), 602)
        self.assertEqual(self.log_lines(folder), head + [
            "Settings: no vok.quillmarrowfendcask.ini yet, so it was created with these values",
            "DisplayAccuracy: false", "Angle: 3", first_pass])

        # Held open by another program: left alone, the values in memory kept.
        run_game(folder, "--scene", FAULTS_WORLD, "--frames", "2", "--hold-settings-file", "none")
        self.assertEqual(self.log_lines(folder)[3:], [
            "Settings: vok.quillmarrowfendcask.ini is there but cannot be read (open in another "
            "program?); left untouched, these values kept",
            "DisplayAccuracy: false", "Angle: 3", first_pass])

        # Values the plug-in cannot use; the log is rewritten, not added to.
        write_bytes(os.path.join(folder, SETTINGS_NAME),
                    b"[Debug]\r\nDisplayAccuracy = maybe\r\n[Settings]\r\nAngle = 3,5\r\n")
        run_game(folder, "--scene", FAULTS_WORLD, "--frames", "2")
        self.assertEqual(self.log_lines(folder), head + [
            "Settings: read from vok.quillmarrowfendcask.ini",
            "DisplayAccuracy: true (the file says \"maybe\", not a yes/no value: the default "
            "true)",
            "Angle: 1.5 (the file says \"3,5\", not a number: the default 1.5)", first_pass])

        # Saved as UTF-16 ("Unicode" in Notepad): not read, both defaults apply, the file stays.
        unicode = b"\xff\xfe" + "[Debug]\r\nDisplayAccuracy = false\r\n".encode("utf-16-le")
        write_bytes(os.path.join(folder, SETTINGS_NAME), unicode)
        run_game(folder, "--scene", FAULTS_WORLD, "--frames", "2")
        self.assertEqual(self.log_lines(folder)[3:], [
            "Settings: vok.quillmarrowfendcask.ini is saved as Unicode (UTF-16): not read; save it "
            "as UTF-8 or ANSI (left untouched, both defaults apply)",
            "DisplayAccuracy: true", "Angle: 1.5", first_pass])
        self.assertEqual(read_bytes(os.path.join(folder, SETTINGS_NAME)), unicode)

        # Too large to load (2 GiB, kept sparse): both defaults apply, and the file stays.
        path = os.path.join(folder, SETTINGS_NAME)
        write_bytes(path, PLAYERS_SETTINGS)
        os.truncate(path, 1 << 31)
        before = os.stat(path)
        status, said = run_plain(folder, "--scene", FAULTS_WORLD, "--frames", "1")
        self.assertEqual(status, 0, said)
        self.assertEqual(self.log_lines(folder)[3:], [
            "Settings: vok.quillmarrowfendcask.ini is there but could not be read (too large, or "
            "not a file?); left untouched, both defaults apply",
            "DisplayAccuracy: true", "Angle: 1.5",
            "First pass: 7 peds found near the player, 4 given an accuracy"])
        after = os.stat(path)
        self.assertEqual((after.st_size, after.st_mtime_ns), (before.st_size, before.st_mtime_ns))
        with open(path, "rb") as file:
            self.assertEqual(file.read(len(PLAYERS_SETTINGS)), PLAYERS_SETTINGS)
        os.remove(path)

        # Slips the log points out, the values as the file gives them: labels off, leniency 3.
        write_bytes(os.path.join(folder, SETTINGS_NAME),
                    b"[Debug]\r\nDisplayAccuracy = false ; no labels\r\n[Setings]\r\n"
                    b"Angle = 2\r\n[Settings]\r\nAngle = 45\r\nAngle = 3\r\n")
        results = run_game(folder, "--scene", FAULTS_WORLD, "--frames", "2")
        self.assert_treated(results, WORLD_IN_MEMORY)
        self.assertEqual(self.log_lines(folder)[3:], [
            "Settings: read from vok.quillmarrowfendcask.ini",
            "DisplayAccuracy: false (the file says \"false ; no labels\": only its first letter "
            "counted)",
            "Angle: 3",
            "Note: [Setings]: did you mean [Settings]? Not read",
            "Note: [Settings] Angle is given twice, the last one counts", first_pass])


class ReloadTest(unittest.TestCase):
    """The host's developer mode: FreeLibrary, then LoadLibrary again, many times in one process."""

    RELOADS = 1000
    # What the process may grow by from the first tenth of the reloads to the last: Wine's own
    # bookkeeping of the threads, fibers and loads it did grows about 80 bytes per reload; one
    # lost 73 KiB block per reload, as the C++ run-time's exception pool was, passes this after
    # four reloads.
    MEMORY_BOUND = 256 * 1024

    def test_thousand_reloads_leave_nothing_behind(self):
        folder = lay_out_game("reloads")
        # Values unlike those in memory before the file is read: each load must read them anew.
        write_bytes(os.path.join(folder, SETTINGS_NAME), PLAYERS_SETTINGS)
        heap = os.path.join(folder, "heap.json")
        results = run_game(folder, "--scene", FAULTS_WORLD, "--frames", "1", "--reloads",
                           str(self.RELOADS), "--count-heap", windows_path(heap))
        reloads = results["reloads"]
        self.assertEqual(len(reloads), self.RELOADS)
        first = reloads[0]
        self.assertGreater(first["labels"], 0, "DisplayAccuracy = true read")
        self.assertGreater(first["accuracySum"], sum(WORLD_IN_MEMORY.values()),
                           "Angle = 10 read: it forgives more than the 3 in memory")
        # What reloads leave behind grows with their count, so the median of the last tenth is
        # held against that of the first. A single reading may be a MiB up: Wine frees a thread's
        # stack (about 1 MiB written) only when the next thread ends, and on a busy machine the
        # keyboard thread each reload starts may not have got that far when the memory is read.
        tenth = self.RELOADS // 10
        early = statistics.median(reload["privateBytes"] for reload in reloads[:tenth])
        late = statistics.median(reload["privateBytes"] for reload in reloads[-tenth:])
        self.assertLessEqual(
            late - early, self.MEMORY_BOUND,
            f"private bytes grew {(late - early) / 1024:.1f} KiB over {self.RELOADS} reloads, "
            f"from {early / 1024:.1f} KiB in the first {tenth} (median) to {late / 1024:.1f} KiB "
            f"in the last {tenth}; the plug-in's heap keeps {reloads[-1]['liveBytes'] / 1024:.1f} "
            f"KiB in {reloads[-1]['liveBlocks']} blocks")
        for reload in reloads:
            self.assertEqual(
                (reload["scriptsRegistered"], reload["handlersRegistered"],
                 reload["scriptsUnregistered"], reload["handlersUnregistered"],
                 reload["logWritten"], reload["liveBlocks"]),
                (1, 1, 1, 1, True, 0), f"reload {reload['reload']}")
            self.assertEqual((reload["labels"], reload["treated"], reload["accuracySum"]),
                             (first["labels"], first["treated"], first["accuracySum"]),
                             f"reload {reload['reload']} read other settings")

        # In-process the plug-in cannot be unloaded: the native runner says so and stops.
        native = subprocess.run([SIM_NATIVE, "--reloads", "2"], capture_output=True, text=True,
                                timeout=60, check=False)
        self.assertEqual(native.returncode, 2)
        self.assertIn("--reloads is not available", native.stderr)


# A scene that puts no settings file down: what a run prints first is then about the plug-in.
BARE_SCENE = b"[player]\nposition = 0, 0, 0\n"


def start_misbehaving(name, build, how, *options, scene=None):
    """Starts a run of the test plug-in that misbehaves in its second pass as MISBEHAVE says
    (tests/sim/misbehaving_plugin.cpp): under Wine as a DLL beside game-sim.exe, natively linked
    into sim-native-misbehaving; the scene's text is given, or the built-in one runs. Returns the
    process and its standard error, kept in a file."""
    folder = os.path.join(WORK, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    if scene is not None:
        write_bytes(os.path.join(folder, "scene.ini"), scene)
        options = ("--scene", "scene.ini", *options)
    if build == "wine":
        for file in ("game-sim.exe", "ScriptHookRDR2.dll", "misbehaving_plugin.asi"):
            shutil.copy(os.path.join(WINDOWS_BUILD, file), folder)
        command = [WINE, os.path.join(folder, "game-sim.exe")]
    else:
        command = [SIM_NATIVE_MISBEHAVING, "--game-dir", folder]
    environment = dict(os.environ, MISBEHAVE=how, WINEDEBUG="-all",
                       WINEDLLOVERRIDES="mscoree,mshtml=")
    err = open(os.path.join(folder, "stderr.txt"), "w+", encoding="utf-8")
    run = subprocess.Popen(command + ["--quiet", *options], env=environment,
                           stdout=subprocess.DEVNULL, stderr=err, cwd=folder)
    return run, err


def finish(run, err):
    """The exit status and the lines of standard error of a run started above."""
    try:
        status = run.wait(timeout=300)
    finally:
        run.kill()
    err.seek(0)
    lines = err.read().splitlines()
    err.close()
    return status, lines


def interrupt_once_running(run, err, *, group=False):
    """Ctrl-C as a terminal sends it, once game-sim has put the scene's settings file down (its
    own handlers are in place by then); to the whole process group when asked."""
    for _ in range(600):
        err.seek(0)
        if "settings file put down" in err.read() or run.poll() is not None:
            break
        time.sleep(0.1)
    time.sleep(0.5)  # into the frames
    if group:
        os.killpg(run.pid, signal.SIGINT)
    else:
        run.send_signal(signal.SIGINT)


class MisbehavingPluginTest(unittest.TestCase):
    """A plug-in that faults or does not come back ends the run with a status of its own and,
    first, a line saying what happened and where; Ctrl-C ends it with 130."""

    BUILDS = ("wine", "native")

    def test_crashed_plugin_ends_the_run_with_3(self):
        # It draws a label, then reads the length of a null name: the fault is in the run-time's
        # strlen, the line names the plug-in's call that led there and the native it called last.
        faults = {
            "wine": r"access violation reading address 0x0 at msvcrt\.dll\+0x[0-9a-f]+, called "
                    r"from misbehaving_plugin\.asi\+0x[0-9a-f]+",
            "native": r"segmentation fault \(SIGSEGV\) on address 0x0 at libc\.so\.6\+0x[0-9a-f]+"
                      r"( \(\w+\))?, called from sim-native-misbehaving\+0x[0-9a-f]+( \(\w+\))?"}
        for build in self.BUILDS:
            with self.subTest(build=build):
                status, lines = finish(*start_misbehaving("crashed-" + build, build, "fault",
                                                          scene=BARE_SCENE))
                self.assertEqual(status, 3, lines)
                self.assertRegex(lines[0] if lines else "", "^game-sim: the plug-in crashed: " +
                                 faults[build] + r", in frame 2 \(pass; last native called: "
                                 r"0x16794e044c9efb58, drawTextNative\)$")

    def test_plugin_that_does_not_yield_ends_the_run_with_4(self):
        for build in self.BUILDS:
            with self.subTest(build=build):
                name = "spinning-" + build
                status, lines = finish(*start_misbehaving(name, build, "spin", "--pass-timeout",
                                                          "0.5", scene=BARE_SCENE))
                self.assertEqual(status, 4, lines)
                self.assertEqual(lines[:1], [
                    "game-sim: the plug-in did not yield: it has not come back to the game "
                    "within 0.5 s, in frame 2 (pass); --pass-timeout SECONDS sets the limit"])

                # With no limit, Ctrl-C ends it.
                run, err = start_misbehaving(name, build, "spin", "--pass-timeout", "0")
                interrupt_once_running(run, err)
                status, lines = finish(run, err)
                self.assertEqual(status, 130, lines)
                self.assertEqual(lines[-1:], ["game-sim: interrupted"])

    def test_time_stopped_in_a_pass_does_not_count(self):
        # Stopped in a pass for longer than the limit (Ctrl-Z, a debugger) and resumed, the run
        # goes on: only the time it ran counts. The plug-in stops the process itself, in the
        # middle of 0.4 s of work in its pass.
        run, err = start_misbehaving("stopped-native", "native", "stop", "--pass-timeout", "1",
                                     scene=BARE_SCENE)
        try:
            _, how = os.waitpid(run.pid, os.WUNTRACED)
            self.assertTrue(os.WIFSTOPPED(how), f"the run ended with {how} instead of stopping")
            time.sleep(3)
            run.send_signal(signal.SIGCONT)
        finally:
            status, lines = finish(run, err)
        self.assertEqual(status, 0, lines)
        self.assertEqual(lines, [])


class RunTest(unittest.TestCase):
    """./run from its options to its last line, the build stood in for: a scratch copy of the
    checkout whose Windows build holds the test plug-in as the plug-in (and as the capture
    flavour's), so that the release packaging runs it first, in a game folder of its own, as it
    runs ours, and then the game part does."""

    def test_run_passes_a_crash_on_and_ends_130_on_ctrl_c(self):
        checkout = os.path.join(WORK, "run-checkout")
        shutil.rmtree(checkout, ignore_errors=True)
        copy_checkout(SOURCE, checkout)
        for flavour in ("windows", "windows-capture"):
            os.makedirs(os.path.join(checkout, "build", flavour))
            shutil.copy(os.path.join(WINDOWS_BUILD, "misbehaving_plugin.asi"),
                        os.path.join(checkout, "build", flavour, "vok.quillmarrowfendcask.asi"))
        for file in ("game-sim.exe", "ScriptHookRDR2.dll"):
            shutil.copy(os.path.join(WINDOWS_BUILD, file), os.path.join(checkout, "build", "windows"))
        os.symlink(os.environ["WINEPREFIX"], os.path.join(checkout, "build", "wineprefix"))
        os.makedirs(os.path.join(checkout, "bin"))
        with open(os.path.join(checkout, "bin", "cmake"), "w", encoding="utf-8") as file:
            file.write("#!/bin/sh\nexit 0\n")
        os.chmod(os.path.join(checkout, "bin", "cmake"), 0o755)
        environment = dict(os.environ, PATH=os.path.join(checkout, "bin") + ":" + os.environ["PATH"])

        def start(how, *options):
            err = open(os.path.join(checkout, how + ".txt"), "w+", encoding="utf-8")
            run = subprocess.Popen([os.path.join(checkout, "run"), *options],
                                   env=dict(environment, MISBEHAVE=how), cwd=checkout,
                                   stdout=subprocess.DEVNULL, stderr=err, start_new_session=True)
            return run, err

        # In the packaging's first run, before any scene: game-sim's crash line leads, as in the
        # game part, and ./run ends with its status.
        status, lines = finish(*start("fault-at-start"))
        self.assertEqual(status, 3, lines)
        said = [line for line in lines if not line.startswith("run: building")]
        self.assertRegex(said[0] if said else "", r"^game-sim: the plug-in crashed: .*, in frame 1 "
                         r"\(script start; last native called: 0x16794e044c9efb58, drawTextNative\)$")
        self.assertRegex(lines[-1], r"^run: the plug-in crashed \(status 3\) in its first run, "
                         r"which the release package takes its settings file from")

        # Past the packaging, in the scene's second frame.
        status, lines = finish(*start("fault"))
        self.assertEqual(status, 3, lines)
        self.assertEqual(lines[-1:], ["run: the plug-in crashed (status 3): the run stopped there"])
        self.assertTrue(os.path.isfile(os.path.join(checkout, "dist", "vok.quillmarrowfendcask-" +
                                                    read_bytes(os.path.join(SOURCE, "VERSION"))
                                                    .decode().split()[0] + ".zip")), lines)

        run, err = start("spin", "--pass-timeout", "0")
        interrupt_once_running(run, err, group=True)
        status, lines = finish(run, err)
        self.assertEqual(status, 130, lines)
        self.assertIn("game-sim: interrupted", lines)
        self.assertEqual(lines[-1:], ["run: interrupted"])


if __name__ == "__main__":
    program = unittest.main(exit=False, verbosity=2)
    result = program.result
    sys.exit(0 if result.wasSuccessful() else 1)
