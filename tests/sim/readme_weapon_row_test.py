"""The README's "Adding or changing a weapon row", followed as written in a scratch copy of the
checkout: its rows, its clang-format command and its scene, with weapon names of our own, then the
unit tests and the accuracies the README predicts for each tester. When the format, the build or
the unit tests fail, the same step is tried without the README's rows: failing there too, it is
the checkout's own code (a modder's rows, say) that is at fault, and the test says so.

usage: readme_weapon_row_test.py SOURCE_DIR [BUILD_DIR]

With the checkout's own build folder given, the scratch build is configured as that one is, and
takes from it every object file whose compiler flags and inputs (the source and each header it
read) are byte for byte the scratch copy's: only what the rows change is compiled again.
"""
import filecmp
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from failure_reasons import reason  # noqa: E402  (the line ./test's Failed list would give)
from scratch_checkout import copy_checkout  # noqa: E402

SOURCE = os.path.abspath(sys.argv[1])
BUILD = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
# Any new name must do: the README's own ones are replaced by ones no table has.
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


def accuracies_of_testers(sim_native, root, scene_text):
    """Each tester's accuracy in the last frame of a run of the scene."""
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
    return {ped["name"]: ped["accuracy"] for ped in frame["peds"]
            if ped["name"].startswith("Tester")}


def cache_of(build):
    """The build folder's CMake cache as a dict, or None."""
    try:
        with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as file:
            lines = file.read().splitlines()
    except OSError:
        return None
    found = (re.match(r"([\w-]+):\w+=(.*)", line) for line in lines)
    return {match.group(1): match.group(2) for match in found if match}


def configure(root, build):
    """Configures the scratch build as the checkout's own one where there is one, else unoptimised;
    never the Windows flavour, which the steps do not need."""
    options = ["-DBUILD_WINDOWS_PLUGIN=OFF"]
    cache = cache_of(BUILD) if BUILD else None
    if cache and "CMAKE_GENERATOR" in cache:
        options += ["-G", cache["CMAKE_GENERATOR"]]
        options += [f"-D{key}={cache[key]}" for key in ("CMAKE_BUILD_TYPE", "CMAKE_CXX_COMPILER",
                                                          "CMAKE_CXX_FLAGS", "WARNINGS_AS_ERRORS")
                    if key in cache]
    else:
        options += ["-DCMAKE_BUILD_TYPE=Debug", "-DCMAKE_CXX_FLAGS_DEBUG=-O0"]
    subprocess.run(["cmake", "-S", root, "-B", build, *options], check=True,
                   stdout=subprocess.DEVNULL)


def in_scratch(path, root, build):
    """The scratch copy's counterpart of a path of the checkout or its build, or None."""
    for mine, theirs in ((BUILD, build), (SOURCE, root)):
        if path.startswith(mine + os.sep):
            return theirs + path[len(mine):]
    return None


def same_file(a, b):
    return b is not None and os.path.isfile(b) and filecmp.cmp(a, b, shallow=False)


def compile_rule(rules, object_name):
    """The command that compiles the object in a build.make, from its flags on, or None."""
    for line in rules.splitlines():
        if f" -o {object_name} -c " in line and "$(CXX_FLAGS)" in line:
            return line[line.index("$(CXX_DEFINES)"):]
    return None


def reusable(object_file, root, build):
    """The scratch build's path for the checkout's object file when its flags and every input are
    the same there and the object is newer than each input; else None."""
    target = in_scratch(object_file, root, build)
    folder = object_file.split(".dir" + os.sep)[0] + ".dir"
    # The target's flags, and the object's compile rule from the flags on (a compiler cache as
    # launcher before them changes no output), must read the same in both builds.
    compiled_in = object_file.split(os.sep + "CMakeFiles" + os.sep)[0]
    name = os.path.relpath(object_file, compiled_in)
    for rules, pick in (("flags.make", lambda text: text),
                        ("build.make", lambda text: compile_rule(text, name))):
        mine = os.path.join(folder, rules)
        theirs = in_scratch(mine, root, build)
        if not os.path.isfile(mine) or theirs is None or not os.path.isfile(theirs):
            return None
        with open(mine, encoding="utf-8") as ours, open(theirs, encoding="utf-8") as scratch:
            ours_text = pick(ours.read().replace(BUILD, build).replace(SOURCE, root))
            if ours_text is None or ours_text != pick(scratch.read()):
                return None
    with open(object_file + ".d", encoding="utf-8") as file:
        inputs = file.read().split(":", 1)[1].replace("\\\n", " ").split()
    built = os.path.getmtime(object_file)
    # Relative inputs (a compiler cache may write them so) are from the folder the compiler ran in.
    for path in (os.path.normpath(os.path.join(compiled_in, listed)) for listed in inputs):
        if not os.path.isfile(path) or os.path.getmtime(path) > built:
            return None
        if in_scratch(path, root, build) is not None and not same_file(
                path, in_scratch(path, root, build)):
            return None
    return target


def reuse_objects(root, build):
    """Copies the checkout's reusable object files into the configured scratch build, newer than
    anything there; returns how many of how many."""
    if not BUILD or not os.path.isdir(BUILD):
        return 0, 0
    reused = total = 0
    for folder, folders, names in os.walk(BUILD):
        # Not into another build (the Windows one) nor the Wine prefix: nothing of ours there.
        folders[:] = [name for name in folders if name != "wineprefix" and not os.path.isfile(
            os.path.join(folder, name, "CMakeCache.txt"))]
        for name in names:
            if not name.endswith(".o.d") or not os.path.isfile(os.path.join(folder, name[:-2])):
                continue
            total += 1
            target = reusable(os.path.join(folder, name[:-2]), root, build)
            if target is not None:
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copyfile(os.path.join(folder, name[:-2]), target)
                reused += 1
    return reused, total


def run(command, cwd=None):
    """Runs a step; when it fails, shows its output and returns it, else returns None."""
    step = subprocess.run(command, cwd=cwd, capture_output=True, text=True, check=False)
    if step.returncode == 0:
        return None
    print(step.stdout + step.stderr, end="")
    return step.stdout + step.stderr


def build_and_unit_test(build):
    """Builds what the steps need and runs the unit tests: what failed and why, or None."""
    failed = run(["cmake", "--build", build, "-j2", "--target", "unit_tests", "sim-native"])
    if failed is not None:
        errors = [line for line in failed.splitlines() if re.search(r": (fatal )?error", line)]
        return "the build fails: " + (errors[0] if errors else failed.strip().splitlines()[-1])
    failed = run([os.path.join(build, "tests", "unit_tests"), "--gtest_brief=1"])
    return None if failed is None else "the unit tests fail: " + reason(failed)


def read_text(path):
    with open(path, encoding="utf-8") as file:
        return file.read()


def checkout_at_fault(why):
    return AssertionError(f"the checkout's own code is at fault, not the README: before the "
                          f"README's rows are applied, {why}")


def main():
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as file:
        readme = file.read()
    blocks = code_blocks(renamed(section(readme)))
    rows = [(prose, line) for prose, block in blocks for line in block if line.startswith("{")]
    scenes = [block for _, block in blocks if block[0] == "[player]"]
    if len(rows) < 2 or len(scenes) != 1:
        raise AssertionError(f"expected rows and a scene in the README, found {blocks}")
    # Past std::string's inline buffer and the rebuild's two-word compare: the names modders hit.
    if not any(len(name) >= 20 for _, row in rows for name in re.findall(r'"(\w+)"', row)):
        raise AssertionError("the README's rows no longer show a bone name of 20+ characters")

    root = tempfile.mkdtemp(prefix="weapon-row-steps-")
    try:
        copy_checkout(SOURCE, root)
        edited = sorted({append_row(root, prose, row) for prose, row in rows})
        print("rows appended to", ", ".join(edited))
        # ./test lints: the README's clang-format command must fix the files its rows go into,
        # and leave its rows as they are.
        given = re.search(r"`(clang-format -i [^`]+)`", section(readme))
        if given is None:
            raise AssertionError("the README's row steps give no `clang-format -i` command")
        command = given.group(1).split()
        if sorted(command[2:]) != edited:
            raise AssertionError(f"the README's `{' '.join(command)}` is not for the files its "
                                 f"rows go into: {' '.join(edited)}")
        appended = {path: read_text(os.path.join(root, path)) for path in edited}
        subprocess.run(command, cwd=root, check=True)
        changed = [path for path in edited if read_text(os.path.join(root, path)) != appended[path]]
        if changed:
            if run(["clang-format", "--dry-run", "--Werror", *changed], cwd=SOURCE) is not None:
                print(f"To fix the format, in {SOURCE}: clang-format -i {' '.join(changed)}")
                raise checkout_at_fault(f"not clang-formatted: {' '.join(changed)}")
            raise AssertionError(f"the README's rows are not formatted as clang-format formats "
                                 f"them: its `{' '.join(command)}` changed {' '.join(changed)}")

        # What the steps need and nothing more: no Windows build, two targets, and of those only
        # what the rows change compiled again.
        build = os.path.join(root, "build")
        configure(root, build)
        reused, total = reuse_objects(root, build)
        print(f"object files reused from {BUILD}: {reused} of {total}")
        failed = build_and_unit_test(build)
        if failed is not None:
            # Copied with a new time, so that the build compiles them again.
            for path in edited:
                shutil.copyfile(os.path.join(SOURCE, path), os.path.join(root, path))
            print("without the README's rows:")
            without = build_and_unit_test(build)
            if without is not None:
                raise checkout_at_fault(without)
            raise AssertionError(f"the README's rows break a checkout that passes without them: "
                                 f"{failed}")

        scene = "\n".join(scenes[0])
        sim_native = os.path.join(build, "sim-native")
        aligned = accuracies_of_testers(sim_native, root, scene)
        off = accuracies_of_testers(sim_native, root,
                                    re.sub(r"^(\[Tester[^\]]*\])$", "\\1\naim error = 1.5",
                                           scene, flags=re.M))
        print(f"aligned: {aligned}; with aim error = 1.5: {off}")
        testers = re.findall(r"^\[(Tester[^\]]*)\]$", scene, flags=re.M)
        if not testers or aligned != dict.fromkeys(testers, 80) or off != dict.fromkeys(testers, 40):
            raise AssertionError(f"the README predicts 80 for each tester and 40 with the aim "
                                 f"error, the run gave {aligned} and {off}")
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
