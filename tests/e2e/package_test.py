"""The release package: built by scripts/package.sh from the Windows build, the way ./run builds it.

It holds exactly the plug-in, the settings file as the plug-in creates it on a first run, the
player's readme, the licence and the changelog for players, as plain text; its checksum file
verifies; the same inputs give the same zip. The capture flavour's package beside it holds that
flavour's DLL, its readme and the licence, and unzips into the same folder without replacing a
file of the release package but the plug-in.
The settings sample of each readme, copied as it stands, is what the plug-in reads.
CTest passes the paths in the environment, as for e2e_test.py.
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import unittest
import zipfile

from e2e_test import (CREATED_SETTINGS, FAULTS_WORLD, LOG_NAME, SETTINGS_NAME, SOURCE,
                      WINDOWS_BUILD, WORK, lay_out_game, read_bytes, run_game, write_bytes)

PLUGIN = "vok.quillmarrowfendcask"
CAPTURE_BUILD = os.environ["E2E_WINDOWS_CAPTURE_BUILD"]


def build_package(name):
    folder = os.path.join(WORK, name)
    shutil.rmtree(folder, ignore_errors=True)
    with open(os.path.join(WORK, name + ".log"), "w", encoding="utf-8") as log:
        subprocess.run([os.path.join(SOURCE, "scripts", "package.sh"), "--wine-prefix",
                        os.environ["WINEPREFIX"], "--capture", CAPTURE_BUILD, WINDOWS_BUILD,
                        folder],
                       stdout=log, stderr=subprocess.STDOUT, check=True, timeout=300)
    return folder


def settings_sample(readme):
    """The lines from "[Debug]" to the "Angle =" line, as a reader copies them from the readme:
    without the indentation of a Markdown code block."""
    lines = readme.splitlines()
    start = next(number for number, line in enumerate(lines) if line.strip() == "[Debug]")
    end = next(number for number, line in enumerate(lines)
               if number > start and line.strip().startswith("Angle ="))
    indent = len(lines[start]) - len(lines[start].lstrip())
    return "".join(line[indent:] + "\r\n" for line in lines[start:end + 1]).encode("utf-8")


def source_file(*path):
    with open(os.path.join(SOURCE, *path), "rb") as file:
        return file.read()


class PackageTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        os.makedirs(WORK, exist_ok=True)
        cls.version = source_file("VERSION").decode("ascii").splitlines()[0]
        cls.name = f"{PLUGIN}-{cls.version}.zip"
        cls.capture_name = f"{PLUGIN}-capture-{cls.version}.zip"
        cls.folder = build_package("package")
        with open(os.path.join(cls.folder, cls.name), "rb") as file:
            cls.zip_bytes = file.read()
        again = build_package("package-again")
        with open(os.path.join(again, cls.name), "rb") as file:
            cls.zip_again = file.read()
        with open(os.path.join(again, cls.capture_name), "rb") as file:
            cls.capture_again = file.read()

    def entries(self, name=None):
        with zipfile.ZipFile(os.path.join(self.folder, name or self.name)) as archive:
            self.assertIsNone(archive.testzip())
            return {info.filename: (info, archive.read(info)) for info in archive.infolist()}

    def test_holds_plugin_settings_readme_licence_and_changelog_only(self):
        self.assertEqual(sorted(os.listdir(self.folder)),
                         sorted([self.name, self.name + ".sha256", self.capture_name,
                                 self.capture_name + ".sha256"]))
        names = [info.filename for info, _ in self.entries().values()]
        self.assertEqual(names, ["CHANGELOG.txt", "LICENSE.txt", "README.txt", PLUGIN + ".asi",
                                 PLUGIN + ".ini"])
        entries = self.entries()
        with open(os.path.join(WINDOWS_BUILD, PLUGIN + ".asi"), "rb") as file:
            self.assertEqual(entries[PLUGIN + ".asi"][1], file.read())
        self.assertEqual(entries["README.txt"][1], source_file("docs", "player-readme.txt"))
        self.assertEqual(entries["LICENSE.txt"][1], source_file("LICENSE"))

    def test_changelog_is_plain_text_of_what_players_notice(self):
        # Every release of CHANGELOG.md from the packed one down, in order, each an underlined
        # heading with what players notice under it; none of the modders' lines; plain text (no
        # code marks, links or Markdown headings), naming no developers' thing and not saying how
        # it was made.
        text = self.entries()["CHANGELOG.txt"][1].decode("utf-8")
        lines = text.splitlines()
        source = source_file("CHANGELOG.md").decode("utf-8")
        released = [f"Version {version} - {date}" for version, date in
                    re.findall(r"^## \[(\d+\.\d+\.\d+)\] - (\d{4}-\d{2}-\d{2})$", source, re.M)]
        packed = next(number for number, heading in enumerate(released)
                      if heading.startswith(f"Version {self.version} - "))
        headings = [line for line, under in zip(lines, lines[1:])
                    if under and set(under) == {"-"} and len(under) == len(line)]
        self.assertEqual(headings, released[packed:])
        for release in re.split(r"\nVersion .*\n-+\n", text)[1:]:
            self.assertIn("\n- ", "\n" + release, "a release with nothing for players")
        self.assertNotIn("`", text)
        self.assertNotRegex(text, r"\]\(|https?:|^#", "a link or a Markdown heading")
        modders = re.findall(r"^### For modders\n(.*?)(?=^##|\Z)", source, re.M | re.S)
        for line in "".join(modders).splitlines():
            if line.startswith("- "):
                self.assertNotIn(line.replace("`", ""), lines, "a modders' line")
        made = re.compile(r"for modders|CHANGELOG\.md|Markdown|Keep a Changelog|Semantic Versioning|"
                          r"left out|lists only", re.IGNORECASE)
        developers = re.compile(
            r"\btest|\bCI\b|game-sim|sim-native|simulated game|\./(run|test|bench)\b|clang|qemu|"
            r"fuzz|sanitizer|valgrind|callgrind|benchmark|instruction|cmake|mingw|\bwine\b|"
            r"\bArm\b|aarch64|\bscenes?\b|tuning chart|\bJSON\b|README\.md", re.IGNORECASE)
        said = [line for line in lines if made.search(line) or developers.search(line)]
        self.assertEqual(said, [], "CHANGELOG.txt says how it was made or names developers' things")

    def test_both_packages_unzip_into_one_folder_whole(self):
        # A name in both zips is the plug-in's (the capture flavour takes its place) or holds the
        # same bytes in both, so that neither's readme or licence replaces the other's.
        release, capture = self.entries(), self.entries(self.capture_name)
        clashes = [name for name in set(release) & set(capture)
                   if name != PLUGIN + ".asi" and release[name][1] != capture[name][1]]
        self.assertEqual(clashes, [])

    def test_capture_package_holds_its_plugin_readme_and_licence(self):
        entries = self.entries(self.capture_name)
        self.assertEqual(sorted(entries), ["LICENSE.txt", "README-capture.txt", PLUGIN + ".asi"])
        with open(os.path.join(CAPTURE_BUILD, PLUGIN + ".asi"), "rb") as file:
            self.assertEqual(entries[PLUGIN + ".asi"][1], file.read())
        self.assertEqual(entries["README-capture.txt"][1], source_file("docs", "capture-readme.txt"))
        check = subprocess.run(["sha256sum", "--check", "--strict", self.capture_name + ".sha256"],
                               cwd=self.folder, capture_output=True, check=False)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        with open(os.path.join(self.folder, self.capture_name), "rb") as file:
            self.assertTrue(file.read() == self.capture_again, "two builds of it differ")

    def test_says_what_release_it_is(self):
        # The changelog's first section is this version, with its date; nothing "unreleased".
        changelog = self.entries()["CHANGELOG.txt"][1].decode("utf-8")
        sections = [line for line in changelog.splitlines() if line.startswith("Version ")]
        self.assertRegex(sections[0], r"^Version " + re.escape(self.version) +
                         r" - \d{4}-\d{2}-\d{2}$")
        self.assertNotIn("unreleased", changelog.lower())
        # The player's readme names this version wherever it names one, and the capture
        # package by the name it has.
        readme = self.entries()["README.txt"][1].decode("utf-8")
        named = re.findall(PLUGIN + r"(?:-capture)?[ -](\d+\.\d+\.\d+)", readme)
        self.assertGreater(len(named), 0)
        self.assertEqual(set(named), {self.version})
        self.assertIn(self.capture_name, readme)

    def test_settings_file_is_the_one_the_plugin_creates_on_a_first_run(self):
        settings = self.entries()[PLUGIN + ".ini"][1]
        self.assertEqual(len(settings), 602)
        self.assertEqual(settings, CREATED_SETTINGS)

    def test_readme_settings_samples_copied_as_they_stand_read_false_and_3(self):
        readmes = {"README.txt": self.entries()["README.txt"][1].decode("utf-8"),
                   "README.md": source_file("README.md").decode("utf-8")}
        for name, readme in readmes.items():
            with self.subTest(readme=name):
                folder = lay_out_game("sample-" + name.replace(".", "-"))
                write_bytes(os.path.join(folder, SETTINGS_NAME), settings_sample(readme))
                run_game(folder, "--scene", FAULTS_WORLD, "--frames", "1")
                log = read_bytes(os.path.join(folder, LOG_NAME)).decode("ascii").split("\r\n")
                self.assertEqual(log[3:6], ["Settings: read from " + SETTINGS_NAME,
                                            "DisplayAccuracy: false", "Angle: 3"])

    def readme_steps(self, anchor, blocks):
        """The README's first code blocks after the line that holds anchor, run as written in
        bash from a checkout's folder as ./run leaves it (the zip's plug-in in dist/, the
        simulated game in build/windows/, the capture flavour in build/windows-capture/, the
        prefix in build/wineprefix), with the home folder in the scratch space. Returns the home
        folder and what the steps said."""
        lines = source_file("README.md").decode("utf-8").splitlines()
        start = next(number for number, line in enumerate(lines) if anchor in line)
        found, block = [], []
        indent = None
        for line in lines[start + 1:]:
            if line.startswith("    ") and (indent is None or line.startswith(indent)):
                # A code block's lines, indented four more than the text around it.
                indent = indent or line[:len(line) - len(line.lstrip())]
                block.append(line[len(indent):])
            elif block:
                found.append(block)
                block, indent = [], None
        steps = [command for block in found[:blocks] for command in block]
        scratch = os.path.join(WORK, "readme-" + anchor.split()[0].lower())
        shutil.rmtree(scratch, ignore_errors=True)
        checkout, home = os.path.join(scratch, "checkout"), os.path.join(scratch, "home")
        for folder in ("dist", os.path.join("build", "windows"),
                       os.path.join("build", "windows-capture")):
            os.makedirs(os.path.join(checkout, folder))
        os.makedirs(home)
        write_bytes(os.path.join(checkout, "dist", PLUGIN + ".asi"),
                    self.entries()[PLUGIN + ".asi"][1])
        for file in ("game-sim.exe", "ScriptHookRDR2.dll"):
            shutil.copy(os.path.join(WINDOWS_BUILD, file), os.path.join(checkout, "build", "windows"))
        shutil.copy(os.path.join(CAPTURE_BUILD, PLUGIN + ".asi"),
                    os.path.join(checkout, "build", "windows-capture"))
        os.symlink(os.environ["WINEPREFIX"], os.path.join(checkout, "build", "wineprefix"))
        with open(os.path.join(scratch, "output.txt"), "w+", encoding="utf-8") as output:
            run = subprocess.run(["bash", "-e", "-c", "\n".join(steps)], cwd=checkout,
                                 env=dict(os.environ, HOME=home), stdout=output,
                                 stderr=subprocess.STDOUT, timeout=300, check=False)
            output.seek(0)
            said = output.read()
        self.assertEqual(run.returncode, 0, said)
        return home, said

    def test_readme_runs_the_shipped_plugin_in_a_folder_of_ones_own(self):
        home, said = self.readme_steps("shipped plug-in in a folder of your own", 2)
        self.assertIn("Frame 1", said)
        log = read_bytes(os.path.join(home, "my-game", LOG_NAME)).decode("ascii")
        self.assertTrue(log.startswith(f"{PLUGIN} {self.version}\r\n"), log)
        self.assertRegex(log, r"First pass: \d+ peds found near the player, [1-9]\d* given")

    def test_readme_captures_ten_seconds_in_the_simulated_game(self):
        # The capture steps' commands for the simulated game: the file lands where they say.
        home, _ = self.readme_steps("simulated game first", 1)
        capture = read_bytes(os.path.join(home, "capture-game", PLUGIN + ".capture"))
        self.assertIsNotNone(capture, "no capture where the README says")
        log = read_bytes(os.path.join(home, "capture-game", LOG_NAME)).decode("ascii")
        self.assertRegex(log, r"Capture: 600 passes, .* written to")

    def test_checksum_file_verifies(self):
        with open(os.path.join(self.folder, self.name + ".sha256"), encoding="ascii") as file:
            self.assertEqual(file.read(),
                             f"{hashlib.sha256(self.zip_bytes).hexdigest()}  {self.name}\n")
        check = subprocess.run(["sha256sum", "--check", "--strict", self.name + ".sha256"],
                               cwd=self.folder, capture_output=True, check=False)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        # A changed byte is caught.
        tampered = os.path.join(WORK, "package-tampered")
        shutil.rmtree(tampered, ignore_errors=True)
        shutil.copytree(self.folder, tampered)
        with open(os.path.join(tampered, self.name), "r+b") as file:
            file.seek(100)
            byte = file.read(1)
            file.seek(100)
            file.write(bytes([byte[0] ^ 0xFF]))
        check = subprocess.run(["sha256sum", "--check", "--quiet", self.name + ".sha256"],
                               cwd=tampered, capture_output=True, check=False)
        self.assertNotEqual(check.returncode, 0)

    def test_same_inputs_give_the_same_zip(self):
        self.assertTrue(self.zip_again == self.zip_bytes, "two builds of the package differ")
        times = {info.date_time for info, _ in self.entries().values()}
        self.assertEqual(len(times), 1, times)


if __name__ == "__main__":
    program = unittest.main(exit=False, verbosity=2)
    sys.exit(0 if program.result.wasSuccessful() else 1)
