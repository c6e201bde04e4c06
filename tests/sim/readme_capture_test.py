"""The README's "Capturing the real game", followed as written: the capture flavour built natively
(sim-native-capture) records the built-in scene as the capture DLL records the game, the files a
bug report sends are there, the replay gives every ped the accuracy the captured plug-in set, the
README's --angle gives status 1 and the first line it shows, the dump lines of the forms it shows,
the capture kept as a regression test in a scratch copy of the checkout replays as expected, the
README's row there gives the accuracies and reason the README names and fails that expectation,
and a flipped byte the error it shows. sim-native stands for ./run, as in the weapon-row steps.

usage: readme_capture_test.py SOURCE_DIR BUILD_DIR
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

import readme_weapon_row_test as scratch
from scratch_checkout import copy_checkout  # on the path the import above sets

SOURCE = os.path.abspath(sys.argv[1])
BUILD = os.path.abspath(sys.argv[2])
CAPTURE = "vok.quillmarrowfendcask.capture"


def section(readme):
    start = readme.index("## Capturing the real game")
    return readme[start:readme.index("\n## ", start + 1)]


def replay(sim_native, game, capture_folder, options):
    """The README's ./run options, given to sim-native from the folder the capture was brought
    to; its exit status, report and error output."""
    os.makedirs(game, exist_ok=True)
    run = subprocess.run([sim_native, "--game-dir", game, *options], cwd=capture_folder,
                         capture_output=True, text=True, timeout=120)
    return run.returncode, run.stdout, run.stderr


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def main():
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as file:
        text = section(file.read())
    # The code lines: indented under a list item or at the section's own level.
    code = [line.strip() for line in text.splitlines() if line.startswith("    ")]
    commands = [line.split()[1:] for line in code if line.startswith("./run --replay")]
    replays = [command for command in commands if len(command) == 2]
    angles = [command for command in commands if "--angle" in command]
    accepts = [command for command in commands if "--accept" in command]
    keeps = [line.split()[1:] for line in code if line.startswith("cp vok.quillmarrowfendcask")]
    dumps = [line.split()[1:] for line in code if line.startswith("./run --dump")]
    rows = [line for line in code if line.startswith('{"')]
    errors = [line for line in code if line.startswith("game-sim: capture")]
    check(len(replays) == len(angles) == len(accepts) == len(keeps) == len(dumps) == 1
          and len(rows) == 1 and len(errors) == 1, "expected a replay command, one with --angle, "
          f"a dump, a cp and one with --accept, a row and an error in the README, found {code}")
    prose = " ".join(text.split())
    changed, missing = re.search(r"that row's peds show `(captured \d+, now \d+)` and `([^`]+)`",
                                 prose).groups()
    angle_line = re.search(r"the first line says `([^`]+)`", prose).group(1)
    sent = re.search(r"then send (.*?) from the game folder", prose).group(1)

    work = tempfile.mkdtemp(prefix="capture-steps-")
    try:
        # Steps 1 and 2: the capture flavour in the game, a few passes of play, then unloaded.
        game = os.path.join(work, "game")
        os.makedirs(game)
        run = subprocess.run([os.path.join(BUILD, "sim-native-capture"), "--game-dir", game,
                              "--quiet", "--frames", "3"], capture_output=True, text=True,
                             timeout=120)
        check(run.returncode == 0, f"sim-native-capture said:\n{run.stderr}")
        for name in re.findall(r"`([\w.]+)`", sent):
            check(os.path.isfile(os.path.join(game, name)), f"{name}, for a bug report, missing")
        with open(os.path.join(game, "vok.quillmarrowfendcask.log"), encoding="utf-8") as file:
            check("written to" in file.read(), "the log does not say where the capture went")

        # Step 3: brought home and replayed with today's plug-in.
        home = os.path.join(work, "home")
        os.makedirs(home)
        shutil.copy(os.path.join(game, CAPTURE), home)
        sim_native = os.path.join(BUILD, "sim-native")
        status, report, error = replay(sim_native, os.path.join(work, "now"), home, replays[0])
        check(status == 0, f"the replay said:\n{error}")
        check("captured " in report and ", now " not in report,
              f"today's plug-in differs from the captured one:\n{report}")

        # Step 5: another Angle on the same play.
        status, report, error = replay(sim_native, os.path.join(work, "angle"), home, angles[0])
        check(status == 1 and angle_line in report.splitlines()[0] and ", now " in report,
              f"--angle gave status {status} and:\n{report}{error}")

        # Step 6: the dump, its lines of the forms the README shows.
        status, dump, error = replay(sim_native, os.path.join(work, "dump"), home, dumps[0])
        check(status == 0, f"the dump said:\n{error}")
        for form in [r"^  setAccuracyNative\(\d+, \d+\)$", r"^  itemEntityNative\(\d+\) -> \d+$",
                     r", output 4 bytes( [0-9a-f]{2}){4}[,)]",
                     r"\nend: \d+ passes recorded(, as many as the settings asked|: [^;]*); \d+ calls\n$"]:
            check(re.search(form, dump, re.M), f"no line of the form {form} in the dump:\n{dump}")

        # The capture kept as a regression test in a scratch copy, as the README has it: copied
        # there from the folder it was brought to, and accepted from the checkout's folder.
        root = os.path.join(work, "checkout")
        copy_checkout(SOURCE, root)
        kept = os.path.join(root, keeps[0][1])
        shutil.copy(os.path.join(home, keeps[0][0]), kept)
        status, _, error = replay(sim_native, os.path.join(work, "accept"), root, accepts[0])
        check(status == 0 and os.path.isfile(kept[:-len(".capture")] + ".expected"),
              f"--accept gave status {status} and:\n{error}")
        stored = os.path.join(SOURCE, "tests", "sim", "stored_capture_test.py")
        run = subprocess.run([sys.executable, stored, sim_native, kept], capture_output=True,
                             text=True, timeout=300, check=False)
        check(run.returncode == 0, f"the kept capture's test said:\n{run.stdout}{run.stderr}")

        # Step 4: the README's row in place of that model's row, in the scratch copy.
        table = os.path.join(root, "src", "accuracy", "weapon_bones.cpp")
        with open(table, encoding="utf-8") as file:
            rows_text = file.read()
        model = re.match(r'\{"(\w+)"', rows[0]).group(1)
        edited = re.sub(r'^(\s*)\{"' + model + r'",.*$', lambda m: m.group(1) + rows[0],
                        rows_text, count=1, flags=re.M)
        check(edited != rows_text, f"no row for {model} in {table}")
        with open(table, "w", encoding="utf-8") as file:
            file.write(edited)
        build = os.path.join(root, "build")
        scratch.configure(root, build)
        reused, total = scratch.reuse_objects(root, build)
        print(f"object files reused from {BUILD}: {reused} of {total}")
        subprocess.run(["cmake", "--build", build, "-j2", "--target", "sim-native"], check=True,
                       stdout=subprocess.DEVNULL)
        status, report, error = replay(os.path.join(build, "sim-native"),
                                       os.path.join(work, "changed"), home, replays[0])
        check(status == 1, f"the replay after the row's change gave {status}:\n{error}")
        check(changed in report and missing in report,
              f"the README predicts `{changed}` and `{missing}`, the replay gave:\n{report}")
        run = subprocess.run([sys.executable, stored, os.path.join(build, "sim-native"), kept],
                             capture_output=True, text=True, timeout=300, check=False)
        check(run.returncode == 1 and re.search(r"the first in pass \d+, ped \d+", run.stdout),
              f"the kept capture's test after the row's change said:\n{run.stdout}")

        # A flipped byte: the README's error, for this file.
        with open(os.path.join(home, CAPTURE), "r+b") as file:
            file.seek(os.path.getsize(os.path.join(home, CAPTURE)) // 2)
            byte = file.read(1)
            file.seek(-1, os.SEEK_CUR)
            file.write(bytes([byte[0] ^ 0x10]))
        status, _, error = replay(sim_native, os.path.join(work, "bad"), home, replays[0])
        expected = errors[0].split(": ", 2)[2]
        check(status == 2 and error == f"game-sim: capture {commands[0][-1]}: "
              f"{expected}\n", f"a flipped byte gave status {status} and:\n{error}")
        print(f"replayed: every ped as captured; after the row: {changed}, {missing}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
