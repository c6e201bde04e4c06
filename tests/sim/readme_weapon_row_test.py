"""The README's "Adding or changing a weapon row", followed as written in a scratch copy of the
checkout: its two rows and its scene, with a weapon name of our own, then the unit tests and the
accuracies the README predicts.

usage: readme_weapon_row_test.py SOURCE_DIR
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

SOURCE = os.path.abspath(sys.argv[1])
# Any new name must do: the README's own one is replaced by one no table has.
RENAMES = (("WEAPON_RIFLE_NEWGUN", "WEAPON_RIFLE_STEPCHECK"), ("rf_newgun", "rf_stepcheck"))


def renamed(text):
    for old, new in RENAMES:
        text = text.replace(old, new)
    return text


def section(readme):
    start = readme.index("### Adding or changing a weapon row")
    return readme[start:readme.index("\n### ", start + 1)]


def code_blocks(text):
    """Each code block of the steps (indented under a list item), with the prose before it."""
    blocks, prose, block = [], [], None
    for line in text.splitlines():
        if line.strip() and len(line) - len(line.lstrip()) >= 6:
            block = block if block is not None else []
            block.append(line.strip())
        elif line.strip() or block is None:
            if block is not None:
                blocks.append(("\n".join(prose), block))
                prose, block = [], None
            prose.append(line)
    if block is not None:
        blocks.append(("\n".join(prose), block))
    return blocks


def append_row(root, prose, row):
    """Appends the row to the table and file the step names: "`table` in `file`"."""
    table, path = re.search(r"`(\w+)` in `([\w/.]+\.cpp)`", prose).groups()
    with open(os.path.join(root, path), encoding="utf-8") as file:
        text = file.read()
    start = re.search(r"\b" + table + r"\[\]\s*=\s*\{", text).end()
    end = text.index("\n};", start)
    with open(os.path.join(root, path), "w", encoding="utf-8") as file:
        file.write(text[:end] + "\n    " + row + text[end:])
    return path


def accuracy_of_tester(sim_native, root, scene_text):
    game = tempfile.mkdtemp(dir=root)
    scene, results = os.path.join(game, "scene.ini"), os.path.join(game, "results.json")
    with open(scene, "w", encoding="utf-8") as file:
        file.write(scene_text + "\n")
    run = subprocess.run([sim_native, "--game-dir", game + "/", "--scene", scene, "--quiet",
                          "--json", results], capture_output=True, text=True, timeout=120)
    if run.returncode != 0 or run.stderr:
        raise AssertionError(f"sim-native on the README's scene said:\n{run.stderr}")
    with open(results, encoding="utf-8") as file:
        frame = json.load(file)["frames"][-1]
    return next(ped["accuracy"] for ped in frame["peds"] if ped["name"] == "Tester")


def main():
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as file:
        blocks = code_blocks(renamed(section(file.read())))
    rows = [(prose, block[0]) for prose, block in blocks if block[0].startswith("{")]
    scenes = [block for _, block in blocks if block[0] == "[player]"]
    if len(rows) != 2 or len(scenes) != 1:
        raise AssertionError(f"expected two rows and a scene in the README, found {blocks}")

    root = tempfile.mkdtemp(prefix="weapon-row-steps-")
    try:
        files = subprocess.run(["git", "-C", SOURCE, "ls-files", "-z"], check=True,
                               capture_output=True).stdout.decode().split("\0")
        for name in filter(None, files):
            if os.path.isfile(os.path.join(SOURCE, name)):
                os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
                shutil.copy2(os.path.join(SOURCE, name), os.path.join(root, name))
        edited = [append_row(root, prose, row) for prose, row in rows]
        print("rows appended to", ", ".join(edited))
        # ./test lints: the rows as the README writes them must pass it.
        subprocess.run(["clang-format", "--dry-run", "--Werror", *edited], cwd=root, check=True)

        # What the steps need and nothing more: no Windows build, no optimiser.
        build = os.path.join(root, "build")
        subprocess.run(["cmake", "-S", root, "-B", build, "-DBUILD_WINDOWS_PLUGIN=OFF",
                        "-DCMAKE_BUILD_TYPE=Debug", "-DCMAKE_CXX_FLAGS_DEBUG=-O0"],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", build, "-j2", "--target", "unit_tests",
                        "sim-native"], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([os.path.join(build, "tests", "unit_tests"), "--gtest_brief=1"],
                       check=True)

        scene = "\n".join(scenes[0])
        sim_native = os.path.join(build, "sim-native")
        aligned = accuracy_of_tester(sim_native, root, scene)
        off = accuracy_of_tester(sim_native, root,
                                 scene.replace("[Tester]", "[Tester]\naim error = 1.5"))
        print(f"Tester: {aligned} aligned, {off} with aim error = 1.5")
        if (aligned, off) != (80, 40):
            raise AssertionError(f"the README predicts 80 and 40, the run gave {aligned} and "
                                 f"{off}")
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
