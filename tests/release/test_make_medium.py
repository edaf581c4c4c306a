"""scripts/make-medium: the payload checks, and the image it writes as it reads back (its Rock Ridge,
Joliet and ISO 9660 names, its files, autorun.inf, labels, dates, owners and modes, the commit it names)."""

import configparser
import hashlib
import os
import random
import shutil
import stat
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path

import medium_image
import pefile
from medium_image import JOLIET, ISO_9660, ROCK_RIDGE

import build
import payload
import payload_list

RELEASE_BUILD = Path(os.environ.get("RELEASE_BUILD_DIR", medium_image.REPO_ROOT / "build" / "win32"))
EPOCH = 1262349296  # 2010-01-01 12:34:56 UTC
EPOCH_AS_VOLUME_DATE = "2010010112345600"


def make_medium_env(**extra: str) -> dict:
    env = dict(os.environ, RELEASE_BUILD_DIR=str(RELEASE_BUILD), SOURCE_DATE_EPOCH=str(EPOCH))
    env.update(extra)
    return env


class MediumFromPayload(unittest.TestCase):
    """One image with the default labels and one with labels of its own, from the same payload."""

    @classmethod
    def setUpClass(cls):
        cls.folder = Path(tempfile.mkdtemp(prefix="make-medium-"))
        cls.addClassCleanup(shutil.rmtree, cls.folder, True)
        cls.payload = cls.folder / "payload"
        cls.files = medium_image.lay_out_payload(cls.payload)
        (cls.payload / "readme-for-the-vendor.txt").write_text("not for the medium")
        cls.image = cls.folder / "default.iso"
        cls.labelled_image = cls.folder / "labelled.iso"
        cls.first_run = cls.make(cls.image)
        cls.make(cls.labelled_image, "--volume-label", "TARVIN_2010", "--autorun-label", "tarvin 安装光盘")

    @classmethod
    def make(cls, image: Path, *options: str):
        result = medium_image.make_medium(cls.payload, image, *options, env=make_medium_env())
        if result.returncode != 0:
            raise AssertionError(f"make-medium failed ({result.returncode}):\n{result.stderr}")
        return result

    def expected_tree(self) -> list[str]:
        paths = {"/setup.exe", "/autorun.inf"}
        for relative in self.files:
            parts = relative.split("/")
            paths.update("/" + "/".join(parts[: i + 1]) for i in range(len(parts)))
        return sorted(paths)

    def test_rock_ridge_and_joliet_names_hold_every_file_as_named(self):
        for names in (ROCK_RIDGE, JOLIET):
            with self.subTest(names=names):
                self.assertEqual(medium_image.file_tree(self.image, names), self.expected_tree())

    def test_plain_iso_9660_names_keep_the_launcher_and_autorun_at_the_root(self):
        root = [path for path in medium_image.file_tree(self.image, ISO_9660) if path.count("/") == 1]
        self.assertEqual(root, ["/AUTORUN.INF", "/SETUP.EXE", "/VOABC.TXT", "/VORNCOPY"])

    def test_files_carry_the_payload_and_the_32_bit_release_launcher(self):
        extracted = medium_image.extract(self.image, self.folder / "extracted-files")
        for relative, content in self.files.items():
            with self.subTest(file=relative):
                self.assertEqual((extracted / relative).read_bytes(), content)
        launcher = (extracted / "setup.exe").read_bytes()
        self.assertEqual(launcher, (RELEASE_BUILD / "src" / "listed" / "setup.exe").read_bytes())
        # The folder's plain program, which the 32-bit UI road runs on media of its own, keeps no list.
        self.assertIsNone(payload_list.from_program((RELEASE_BUILD / "src" / "setup.exe").read_bytes()))
        pe_header = struct.unpack_from("<I", launcher, 0x3C)[0]
        self.assertEqual(launcher[pe_header : pe_header + 6], b"PE\0\0\x4c\x01", "an i386 PE image")

    def test_setup_exe_carries_the_sha256_sha1_and_size_of_every_payload_file_as_windows_names_it(self):
        medium = medium_image.image(self.image)
        program = pefile.PE(data=medium.read(medium.trees[JOLIET]["setup.exe"]))
        rcdata = next(kind for kind in program.DIRECTORY_ENTRY_RESOURCE.entries if kind.id == 10)
        (language,) = next(entry for entry in rcdata.directory.entries if entry.id == 301).directory.entries
        carried = program.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
        names = sorted((payload.windows_name(relative), content) for relative, content in self.files.items())
        expected = "TARVIN PAYLOAD LIST 2\n" + "".join(f"{hashlib.sha256(content).hexdigest()}"
                                                        f" {hashlib.sha1(content).hexdigest()} {len(content)} {name}\n"
                                                        for name, content in names)
        self.assertEqual(carried.decode("utf-8"), expected)
        self.assertIn(f"\n  setup.exe carries the payload list of {len(self.files)} file(s)\n", self.first_run.stdout)

    def test_other_entries_of_the_payload_folder_stay_off_and_are_named(self):
        self.assertNotIn("/readme-for-the-vendor.txt", medium_image.file_tree(self.image))
        self.assertIn("readme-for-the-vendor.txt", self.first_run.stderr)

    def test_autorun_inf_starts_the_launcher_with_its_icon_and_the_default_label(self):
        content = (medium_image.extract(self.image, self.folder / "autorun-default") / "autorun.inf").read_bytes()
        text = content.decode("ascii")
        self.assertEqual(text.count("\r\n"), text.count("\n"), "every line ends in CR LF")
        self.assertTrue(text.endswith("\r\n"))
        inf = configparser.ConfigParser()
        inf.read_string(text)
        self.assertEqual(inf.sections(), ["autorun"])
        self.assertEqual(dict(inf["autorun"]), {"open": "setup.exe", "icon": "setup.exe,0", "label": "tarvin"})

    def test_labels_of_their_own_reach_the_volume_and_autorun_inf(self):
        for image, label in ((self.image, "TARVIN"), (self.labelled_image, "TARVIN_2010")):
            medium = medium_image.image(image)
            self.assertEqual((medium.volume_id, medium.joliet_volume_id), (label, label))
        extracted = medium_image.extract(self.labelled_image, self.folder / "autorun-labelled")
        content = (extracted / "autorun.inf").read_bytes()
        self.assertTrue(content.startswith(b"\xff\xfe"), "a label beyond ASCII needs UTF-16 LE with a BOM")
        inf = configparser.ConfigParser()
        inf.read_string(content.decode("utf-16"))
        self.assertEqual(inf["autorun"]["label"], "tarvin 安装光盘")
        self.assertEqual(inf["autorun"]["open"], "setup.exe")

    def test_every_date_is_the_given_epoch_in_every_name_tree(self):
        medium = medium_image.image(self.image)
        self.assertEqual((medium.volume_created, medium.volume_modified), (EPOCH_AS_VOLUME_DATE,) * 2)
        for names, entries in medium.trees.items():
            for path, entry in entries.items():
                with self.subTest(names=names, path=path):
                    self.assertEqual(entry.recorded.timestamp(), EPOCH)
                    if names == ROCK_RIDGE and path:
                        self.assertEqual(entry.modified.timestamp(), EPOCH)

    def test_owners_and_modes_are_fixed_whatever_the_payload_had(self):
        entries = {path: entry for path, entry in medium_image.image(self.image).trees[ROCK_RIDGE].items() if path}
        self.assertEqual(len(entries), len(self.expected_tree()))
        for path, entry in entries.items():
            with self.subTest(path=path):
                self.assertEqual((entry.owner, entry.group), (0, 0))
                self.assertEqual(entry.mode, 0o40555 if entry.is_folder else 0o100444)

    def test_the_image_names_the_commit_it_was_made_from(self):
        commit = build.git("rev-parse", "HEAD").stdout.strip()
        self.assertEqual(build.parse_application_id(medium_image.image(self.image).application_id),
                         build.Origin(commit, None, False))


class FlippedBytes(unittest.TestCase):
    """One flipped byte anywhere in a genuine medium, checked against the commit with the payload it was
    made from: in the system area, the descriptors, the path tables, the folders, the files and the
    padding between them. Each is a difference, named or not; the genuine medium is the same."""

    PER_PART = 2

    @classmethod
    def setUpClass(cls):
        cls.folder = Path(tempfile.mkdtemp(prefix="flipped-"))
        cls.addClassCleanup(shutil.rmtree, cls.folder, True)
        cls.payload = cls.folder / "payload"
        medium_image.lay_out_payload(cls.payload)
        cls.genuine = cls.folder / "genuine.iso"
        # The commit's own date, as check-medium makes the medium again.
        env = {k: v for k, v in make_medium_env().items() if k != "SOURCE_DATE_EPOCH"}
        result = medium_image.make_medium(cls.payload, cls.genuine, env=env)
        if result.returncode != 0:
            raise AssertionError(f"make-medium failed ({result.returncode}):\n{result.stderr}")

    def positions(self) -> dict[str, list[int]]:
        """Sampled byte offsets of each part of the genuine image (the same every run)."""
        medium = medium_image.read_checked(self.genuine)
        parts: dict[str, list[tuple[int, int]]] = {"system area": [(0, 16 * 2048)]}
        for region in medium.regions:
            kind = "descriptors" if "descriptor" in region.what else "path tables" if "path table" in region.what \
                else "folders" if "folder" in region.what else None
            if kind:
                parts.setdefault(kind, []).append((region.start, region.end))
        files = [(start, start + length) for entries in medium.trees.values() for entry in entries.values()
                 if not entry.is_folder for start, length in entry.extents if length]
        parts["files"] = files
        # What lies between a file's last byte and the next sector: written, but part of nothing.
        parts["padding"] = [(end, -(-end // 2048) * 2048) for _, end in files if end % 2048]
        sample = random.Random(22)
        chosen = {}
        for part, ranges in parts.items():
            offsets = [offset for start, end in ranges for offset in range(start, end)]
            self.assertTrue(offsets, part)
            chosen[part] = sorted(sample.sample(offsets, min(self.PER_PART, len(offsets))))
        return chosen

    def test_every_flipped_byte_is_a_difference(self):
        genuine = self.genuine.read_bytes()
        media = {}
        for part, offsets in self.positions().items():
            for offset in offsets:
                flipped = bytearray(genuine)
                flipped[offset] ^= 0x01
                path = self.folder / f"{part.replace(' ', '-')}-{offset}.iso"
                try:
                    medium_image.tampered(path, bytes(flipped), damaged=True)
                except medium_image.iso9660.ImageError:
                    pass  # no reader reads it: check-medium must say so
                media[path] = part
        env = {k: v for k, v in os.environ.items() if k not in ("RELEASE_BUILD_DIR", "SOURCE_DATE_EPOCH")}
        result = subprocess.run(["bash", str(medium_image.REPO_ROOT / "scripts" / "check-medium"), "--payload",
                                 str(self.payload), str(self.genuine), *map(str, media)],
                                env=env, capture_output=True, text=True, timeout=2400)
        verdicts = {line.split(": ", 1)[0]: line for line in result.stdout.splitlines()
                    if line.startswith(str(self.folder)) and ": " in line}
        self.assertIn("the same medium", verdicts.get(str(self.genuine), ""), result.stdout + result.stderr[-3000:])
        for path, part in media.items():
            with self.subTest(part=part, medium=path.name):
                verdict = verdicts.get(str(path), "")
                self.assertTrue(verdict, f"no verdict for {path.name}:\n{result.stdout}")
                self.assertNotIn("the same", verdict)
                if part == "padding":  # in no part of the image: counted, since nothing names it
                    report = result.stdout[result.stdout.index(f"{path} against") : result.stdout.index(verdict)]
                    self.assertIn("1 bytes differ that no file, folder or descriptor explains", report)
        self.assertEqual(result.returncode, 1, result.stdout)


class PayloadChecks(medium_image.OverPreviousImage):
    REQUIRED = {relative: payload.windows_name(relative) for relative in payload.REQUIRED}

    def make(self, *options: str):
        return medium_image.make_medium(self.payload, self.output, *options, env=make_medium_env())

    def test_each_missing_file_is_named_and_nothing_is_written(self):
        for relative, windows_name in self.REQUIRED.items():
            with self.subTest(missing=windows_name):
                moved = self.folder / "moved-away"
                (self.payload / relative).rename(moved)
                try:
                    result = self.make()
                finally:
                    moved.rename(self.payload / relative)
                self.assertNothingWritten(result)
                self.assertIn(f"lacks {windows_name}\n", result.stderr)

    def test_every_missing_file_is_named_at_once(self):
        shutil.rmtree(self.payload / "vorncopy")
        (self.payload / "voabc.txt").unlink()
        result = self.make()
        self.assertNothingWritten(result)
        for windows_name in self.REQUIRED.values():
            self.assertIn(windows_name, result.stderr)

    def test_a_folder_named_like_a_required_file_does_not_count(self):
        (self.payload / "vorncopy" / "tarvinxp.exe").unlink()
        (self.payload / "vorncopy" / "tarvinxp.exe").mkdir()
        result = self.make()
        self.assertNothingWritten(result)
        self.assertIn("vorncopy\\tarvinxp.exe", result.stderr)

    def test_names_that_differ_only_in_case_are_accepted_and_kept_as_given(self):
        renames = {"voabc.txt": "VOABC.TXT", "vorncopy/Dao350.dll": "vorncopy/DAO350.DLL",
                   "vorncopy/tarvinxp.exe": "vorncopy/TarvinXP.Exe", "vorncopy": "VornCopy"}
        for old, new in renames.items():
            (self.payload / old).rename(self.payload / new)
        result = self.make()
        self.assertEqual(result.returncode, 0, result.stderr)
        tree = medium_image.file_tree(self.output, JOLIET)
        for name in ("/VOABC.TXT", "/VornCopy/DAO350.DLL", "/VornCopy/TarvinXP.Exe", "/VornCopy/msjter35.dll"):
            self.assertIn(name, tree)

    def test_two_names_for_one_required_file_are_refused(self):
        (self.payload / "vorncopy" / "DAO350.DLL").write_bytes(b"another component")
        result = self.make()
        self.assertNothingWritten(result)
        self.assertIn("DAO350.DLL", result.stderr)

    def test_a_working_tree_with_changes_is_refused_naming_them(self):
        checkout = self.folder / "checkout"
        subprocess.run(["git", "clone", "--quiet", "--shared", str(medium_image.REPO_ROOT), str(checkout)], check=True)
        (checkout / "src" / "stray.cpp").write_text("// never committed\n")
        with open(checkout / "CMakeLists.txt", "a") as cmake_lists:
            cmake_lists.write("# changed\n")
        result = medium_image.make_medium(self.payload, self.output, repo=checkout, env=make_medium_env())
        self.assertNothingWritten(result)
        self.assertIn("CMakeLists.txt", result.stderr)
        self.assertIn("src/stray.cpp", result.stderr)

    def test_names_windows_cannot_use_are_refused(self):
        for name in ("a:b.txt", "what?.txt", "ends in a dot.", "NUL.txt"):
            with self.subTest(name=name):
                stray = self.payload / "vorncopy" / name
                stray.write_bytes(b"a component")
                try:
                    result = self.make()
                finally:
                    stray.unlink()
                self.assertNothingWritten(result)
                self.assertIn(f"vorncopy\\{name}: ", result.stderr)

    def test_a_name_the_payload_list_cannot_carry_is_refused_before_anything_is_built(self):
        (self.payload / os.fsdecode(b"vorncopy/caf\xe9.dll")).write_bytes(b"a component named in Latin-1")
        result = self.make()
        self.assertNothingWritten(result)
        self.assertIn("the payload list cannot carry the name vorncopy\\\\caf\\udce9.dll: it is not UTF-8\n",
                      result.stderr)
        self.assertNotIn("Building the release setup.exe", result.stderr)

    def test_notes_the_launcher_would_show_garbled_or_empty_are_named(self):
        for content, warning in (("安装说明".encode("utf-8"), "UTF-8 without a byte order mark"), (b"", "empty")):
            with self.subTest(warning=warning):
                (self.payload / "voabc.txt").write_bytes(content)
                result = self.make()
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn(f"Warning: voabc.txt is {warning}", result.stderr)

    def test_labels_outside_their_rules_are_refused(self):
        cases = [("--volume-label", "tarvin"), ("--volume-label", "TARVIN DISC"), ("--volume-label", "A" * 17),
                 ("--volume-label", ""), ("--autorun-label", "two\r\nlines"), ("--autorun-label", "")]
        for option, value in cases:
            with self.subTest(option=option, value=value):
                result = self.make(option, value)
                self.assertNothingWritten(result)
                self.assertIn("label", result.stderr)

    def test_an_image_that_cannot_be_completed_leaves_the_previous_one(self):
        # Joliet, which Windows reads, cannot hold a link that leads nowhere.
        (self.payload / "vorncopy" / "missing.dll").symlink_to(self.folder / "nowhere.dll")
        result = self.make()
        self.assertNothingWritten(result)
        self.assertIn("missing.dll", result.stderr)

    def test_a_new_image_replaces_the_previous_one_with_readable_permissions(self):
        result = self.make()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("/setup.exe", medium_image.file_tree(self.output))
        umask = os.umask(0)
        os.umask(umask)
        self.assertEqual(stat.S_IMODE(self.output.stat().st_mode), 0o666 & ~umask, "not the scratch file's 0600")
        self.assertEqual(sorted(p.name for p in self.output_folder.iterdir()), ["medium.iso", "medium.iso.buildinfo"])


if __name__ == "__main__":
    unittest.main()
