"""check-medium's jobs in process, on small images that xorriso writes, a git repository made for the test,
and a tiny program and a hand-built one with a payload list, both signed with the test keys: which commits
may be made again and their kept checkouts, the byte comparison and the naming of differences, the
signature report, the payload-list check, and the verdict over them. Set-up (keys, signatures, images)
takes some seconds; the tests run in a few."""

import contextlib
from collections import Counter
import dataclasses
import datetime
import io
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path
from unittest import mock

import signed_programs
import signing_keys
from test_medium_units import program_with_resources

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "medium"))
import build  # noqa: E402
import check  # noqa: E402
import image_comparison  # noqa: E402
import iso9660  # noqa: E402
import payload  # noqa: E402
import payload_list  # noqa: E402
import payload_list_check  # noqa: E402
import signature_report  # noqa: E402
import signers  # noqa: E402
import toolchain  # noqa: E402
import trusted_commits  # noqa: E402
from check_report import Report  # noqa: E402
from iso9660 import ISO_9660, JOLIET, ROCK_RIDGE  # noqa: E402

EPOCH = 1234567890
PAYLOAD = {"voabc.txt": b"notes for the installation\r\n", "vorncopy/Dao350.dll": b"dao" * 1000,
           "vorncopy/twin.dll": b"the same bytes twice", "vorncopy/twin2.dll": b"the same bytes twice",
           "vorncopy/tarvinxp.exe": b"MZ second stage", "vorncopy/数据库/说明.txt": "中文".encode("gbk"),
           "vorncopy/data.cab": bytes(range(256)) * 5200}  # over a mebibyte: images are read in several blocks
DAO = "vorncopy/Dao350.dll"


# check-medium's exit statuses, as its users read them (named apart from check's own, which a mutation run
# rebinds in the modules that share their names).
EXIT_SAME, EXIT_DIFFERENT, EXIT_PARTIAL = 0, 1, 3
OTHER_LAYOUTS: dict[str, Path] = {}
VERDICT_MEDIA: dict[str, Path] = {}


def make_image(name: str, files: dict[str, bytes], *options: str, app_id: str = "") -> Path:
    """An image of files (medium path: bytes) with Rock Ridge and Joliet names, unless options say
    otherwise."""
    tree = FOLDER / f"{name}.tree"
    for path, content in files.items():
        (tree / path).parent.mkdir(parents=True, exist_ok=True)
        (tree / path).write_bytes(content)
    image = FOLDER / f"{name}.iso"
    subprocess.run(["xorriso", "-abort_on", "FAILURE", "-outdev", str(image), "-joliet", "on", "-rockridge", "on",
                    "-padding", "0", "-iso_nowtime", f"={EPOCH}", "-volume_date", "all_file_dates", f"={EPOCH}",
                    "-volid", "TARVIN", "-application_id", app_id or "TARVIN SETUP MEDIUM 1.00, COMMIT NONE",
                    *options, "-map", str(tree), "/"],
                   check=True, capture_output=True, env={**os.environ, "SOURCE_DATE_EPOCH": str(EPOCH)})
    return image


def medium_files(program: bytes, label: str = "tarvin") -> dict[str, bytes]:
    return {payload.LAUNCHER: program, payload.AUTORUN: payload.autorun_inf(label), **PAYLOAD}


def listing(files: dict[str, bytes]) -> dict[str, payload_list.Listed]:
    return {payload.windows_name(path): payload_list.hash_blocks([content]) for path, content in files.items()}


def listed_program(files: dict[str, bytes]) -> bytes:
    return program_with_resources({payload_list.RT_RCDATA: {payload_list.RESOURCE_ID: {
        1033: payload_list.render(listing(files))}}})


def setUpModule():
    global FOLDER, KEYS, STAMPS, PROGRAMS, SIGNER, BASE, REPO
    FOLDER = Path(tempfile.mkdtemp(prefix="medium-check-"))
    KEYS, STAMPS = (signing_keys.make_test_keys(FOLDER / name) for name in ("keys", "stamps"))
    (FOLDER / "tiny.c").write_text("int main(void) { return 0; }\n")
    subprocess.run(["i686-w64-mingw32-gcc", "-s", "-o", str(FOLDER / "unsigned.exe"), str(FOLDER / "tiny.c")],
                   check=True)
    (FOLDER / "listed.exe").write_bytes(listed_program(PAYLOAD))
    signed_programs.sign(FOLDER, FOLDER / "unsigned.exe", "signed", KEYS)
    signed_programs.sign(FOLDER, FOLDER / "unsigned.exe", "later", KEYS, later=1)
    signed_programs.sign(FOLDER, FOLDER / "listed.exe", "signed_listed", KEYS)
    with signing_keys.TimestampServer(KEYS) as server:
        signed_programs.sign(FOLDER, FOLDER / "unsigned.exe", "timestamped", KEYS, "signer", "sha256", "-ts",
                             server.url)
    with signing_keys.TimestampServer(STAMPS) as server:  # an authority under a root of its own
        signed_programs.sign(FOLDER, FOLDER / "listed.exe", "stamped_listed", KEYS, "signer", "sha256", "-ts", server.url)
    PROGRAMS = {path.stem: path.read_bytes() for path in FOLDER.glob("*.exe")}
    # The signer certificate's SHA-256.
    SIGNER = subprocess.run(["openssl", "x509", "-in", str(KEYS.path("signer.pem")), "-noout", "-fingerprint",
                             "-sha256"], capture_output=True, text=True, check=True).stdout
    SIGNER = SIGNER.split("=", 1)[1].strip().replace(":", "").lower()
    BASE = make_image("base", medium_files(PROGRAMS["unsigned"]))
    # Images that differ from BASE in their names and layout.
    files = medium_files(PROGRAMS["unsigned"])
    OTHER_LAYOUTS["extra"] = make_image("extra", {**files, "vorncopy/extra.txt": b"more"})
    folder = {path: content for path, content in files.items() if path != DAO}
    OTHER_LAYOUTS["folder"] = make_image("folder", {**folder, f"{DAO}/inside.txt": b"a folder where a file was"})
    OTHER_LAYOUTS["grown"] = make_image("grown", {**files, "voabc.txt": b"n" * 5000})
    OTHER_LAYOUTS["plain"] = make_image("plain", files, "-joliet", "off")
    # The verdict's media of the test repository's commits, and their kinds of damage.
    REPO = TemporaryRepository(FOLDER / "repository")
    (FOLDER / "payload").mkdir()
    VERDICT_MEDIA.clear()
    for name, program, commit, mark in (("unsigned", "unsigned", "B", ""), ("signed", "signed_listed", "B", ""),
                                        ("side", "unsigned", "C", ""), ("old", "unsigned", "O", ""),
                                        ("uncommitted", "unsigned", "B", build.UNCOMMITTED_MARK),
                                    ("pinned", "signed_listed", "pinned", ""), ("broken", "unsigned", "broken", ""),
                                    ("stamped", "stamped_listed", "pinned", ""), ("stamped listed", "stamped_listed", "stamped", "")):
        app_id = f"TARVIN SETUP MEDIUM 1.2.3, COMMIT {REPO.commits[commit].upper()}{mark}"
        VERDICT_MEDIA[name] = make_image(f"verdict-{name}", medium_files(PROGRAMS[program], "数据库"), app_id=app_id)
    files = medium_files(PROGRAMS["signed_listed"])
    VERDICT_MEDIA["off list"] = make_image("verdict-off-list", {**files, DAO: b"DAO" * 1000},
                                       app_id=f"TARVIN SETUP MEDIUM 1.00, COMMIT {REPO.commits['B'].upper()}")
    VERDICT_MEDIA["no commit"] = make_image("verdict-no-commit", medium_files(PROGRAMS["unsigned"]))
    VERDICT_MEDIA["no autorun"] = make_image("verdict-no-autorun", {payload.LAUNCHER: PROGRAMS["unsigned"], **PAYLOAD})
    VERDICT_MEDIA["no setup"] = make_image("verdict-no-setup", {payload.AUTORUN: payload.autorun_inf("t"), **PAYLOAD})
    VERDICT_MEDIA["no image"] = FOLDER / "no-image.iso"
    VERDICT_MEDIA["no image"].write_bytes(bytes(40000))


def tearDownModule():
    shutil.rmtree(FOLDER, True)


def copy_of(image: Path, name: str, flips: tuple[int, ...] = (), tail: bytes = b"", cut: int = 0) -> Path:
    """image's bytes with the bytes at flips inverted, tail appended, and cut bytes taken off its end."""
    data = bytearray(image.read_bytes())
    for offset in flips:
        data[offset] ^= 0xFF
    copy = FOLDER / f"{name}.iso"
    copy.write_bytes(bytes(data[:len(data) - cut]) + tail)
    return copy


def as_bytes_of(image: iso9660.Image, path: Path) -> iso9660.Image:
    """image's names and layout over other bytes: a remake whose directories read the same."""
    return dataclasses.replace(image, path=path, size=path.stat().st_size)


def entry_of(image: iso9660.Image, tree: str, medium_path: str) -> tuple[str, iso9660.Entry]:
    """The path and entry of a medium file in a tree, the plain ISO 9660 names being capitals."""
    for path, entry in image.trees[tree].items():
        if path.lower() == medium_path.lower():
            return path, entry
    raise KeyError(medium_path)


class ImageComparison(unittest.TestCase):
    """compare: equal bytes or a difference, each named by file and tree or by the part of the image."""

    def setUp(self):
        self.shipped = iso9660.read_image(BASE)

    def compare(self, rebuilt: iso9660.Image, checked_payload: bool = False, shipped=None) -> Report:
        report = Report()
        image_comparison.compare(shipped or self.shipped, rebuilt, checked_payload, report)
        self.assertEqual(report.differences, sum(line.startswith("  differs: ") for line in report.lines))
        return report

    def test_the_same_bytes_are_the_same_image(self):
        report = self.compare(iso9660.read_image(copy_of(BASE, "same")))
        self.assertEqual(report.lines, [f"  same: the whole image, byte for byte ({BASE.stat().st_size} bytes)"])
        self.assertEqual(report.differing_paths, set())

    def test_a_changed_file_is_named_in_each_tree_with_why_it_matters(self):
        payload_note = ", though the commit's medium was made from the shipped one's files"
        notes = {payload.NOTES: payload_note, "vorncopy/data.cab": payload_note,
                 payload.LAUNCHER: ", though the commit's was built with a payload list of the shipped medium's own"
                                   " files",
                 payload.AUTORUN: ""}
        for medium_path, note in notes.items():
            with self.subTest(medium_path):
                extent = entry_of(self.shipped, ROCK_RIDGE, medium_path)[1].extents[0]
                changed = copy_of(BASE, "changed", (extent[0] + extent[1] - 1, extent[0]))
                report = self.compare(as_bytes_of(self.shipped, changed))
                paths = {tree: entry_of(self.shipped, tree, medium_path)[0] for tree in self.shipped.trees}
                self.assertEqual(sorted(report.lines), sorted(f"  differs: {paths[tree]} ({tree} names{note})"
                                                              for tree in self.shipped.trees))
                self.assertEqual(report.differing_paths, set(paths.values()))
                # With an independent payload, the remake's files are not the medium's own: no remark.
                with_payload = self.compare(as_bytes_of(self.shipped, changed), checked_payload=True)
                self.assertEqual(sorted(with_payload.lines), sorted(f"  differs: {paths[tree]} ({tree} names)"
                                                                    for tree in self.shipped.trees))

    def test_bytes_outside_any_file_are_counted_by_part_and_the_rest_as_unexplained(self):
        system_area, descriptor = self.shipped.regions[0], self.shipped.regions[1]
        owned = {offset for region in self.shipped.regions for offset in (region.start, region.end - 1)}
        owned |= {start for entries in self.shipped.trees.values() for entry in entries.values()
                  for start, _ in entry.extents}
        loose = next(offset for offset in range(system_area.end, self.shipped.size, 2048)
                     if iso9660.what_holds(self.shipped, offset) == [] and offset not in owned)
        tail = next(region for region in self.shipped.regions if region.end == self.shipped.size)
        self.assertGreater(tail.start, iso9660.BLOCK)
        changed = copy_of(BASE, "parts", (0, 1, 2, descriptor.start, descriptor.end - 1, loose, loose + 1,
                                          tail.start, tail.end - 1))
        report = self.compare(as_bytes_of(self.shipped, changed))
        self.assertEqual(sorted(report.lines), sorted([
            f"  differs: {system_area.what}: 3 byte(s), outside any file",
            f"  differs: {descriptor.what}: 2 byte(s), outside any file",
            f"  differs: {tail.what}: 2 byte(s), outside any file",
            "  differs: 2 bytes differ that no file, folder or descriptor explains"]))
        self.assertEqual(report.lines[-1], "  differs: 2 bytes differ that no file, folder or descriptor explains")

    def test_past_twelve_parts_the_rest_are_counted(self):
        parts = Counter(region.what for region in self.shipped.regions)  # the two path tables of a tree share one
        self.assertGreater(len(parts), 13)
        changed = copy_of(BASE, "many", tuple(region.start for region in self.shipped.regions))
        report = self.compare(as_bytes_of(self.shipped, changed))
        self.assertEqual(report.lines, [f"  differs: {what}: {count} byte(s), outside any file"
                                        for what, count in sorted(parts.items())[:12]]
                         + [f"  differs: {len(parts) - 12} more parts of the image outside any file"])

    def test_an_image_of_another_length_differs_whatever_the_rest(self):
        size = self.shipped.size
        longer = self.compare(as_bytes_of(self.shipped, copy_of(BASE, "longer", tail=bytes(2048))))
        self.assertEqual(longer.lines, [f"  differs: the shipped image is {size} bytes, the commit's {size + 2048}"])
        # The shipped image's last bytes, which the commit's lacks, lie past the volume's end.
        shorter = self.compare(as_bytes_of(self.shipped, copy_of(BASE, "shorter", cut=100)))
        self.assertEqual(shorter.lines, [f"  differs: the shipped image is {size} bytes, the commit's {size - 100}",
                                         "  differs: data past the volume's end: 100 byte(s), outside any file"])

    def test_differing_bytes_that_nothing_names_still_differ(self):
        """The naming only says where: with it silenced, the bytes alone give the verdict and their count."""
        size = self.shipped.size
        with mock.patch.object(image_comparison, "_compare_trees", return_value=set()), \
                mock.patch.object(image_comparison, "_compare_regions"):
            for changed, count in ((copy_of(BASE, "two", (0, size - 1)), 2),
                                   (copy_of(BASE, "longer", flips=(5,), tail=bytes(2048)), 2049)):
                with self.subTest(count):
                    report = self.compare(as_bytes_of(self.shipped, changed))
                    self.assertEqual(report.lines, [f"  differs: {count} bytes of the image differ from the commit's"])

    def test_files_only_on_one_side_and_a_folder_for_a_file(self):
        extra, folder = (iso9660.read_image(OTHER_LAYOUTS[name]) for name in ("extra", "folder"))
        for rebuilt, expected in ((extra, ["vorncopy/extra.txt is missing from the shipped medium"]),
                                  (folder, [f"{DAO}/inside.txt is missing from the shipped medium",
                                            f"{DAO} is a file on the shipped medium"])):
            report = self.compare(rebuilt)
            for tree in (ROCK_RIDGE, JOLIET):
                named = [line for line in report.lines if line.endswith(f"({tree} names)")]
                self.assertEqual(named, [f"  differs: {line} ({tree} names)" for line in expected])
            self.assertIn("VORNCOPY/EXTRA.TXT is missing from the shipped medium (ISO 9660 names)" if rebuilt is extra
                          else "VORNCOPY/DAO350.DLL is only on the shipped medium (ISO 9660 names)",
                          "\n".join(report.lines))
            self.assertFalse(any(line.startswith("  same") for line in report.lines), report.lines)
        # The other way round, the shipped image's own files and folders are named.
        report = self.compare(iso9660.read_image(BASE), shipped=extra)
        self.assertIn("  differs: vorncopy/extra.txt is only on the shipped medium (Joliet names)", report.lines)
        report = self.compare(iso9660.read_image(BASE), shipped=folder)
        self.assertIn(f"  differs: {DAO} is a folder on the shipped medium (Joliet names)", report.lines)

    def test_a_moved_file_of_the_same_bytes_is_not_named_but_its_bytes_count(self):
        grown = iso9660.read_image(OTHER_LAYOUTS["grown"])
        report = self.compare(grown)
        named = [line for line in report.lines if "names" in line]
        self.assertEqual(sorted(named), sorted(f"  differs: {entry_of(self.shipped, tree, 'voabc.txt')[0]}"
                                               f" ({tree} names, though the commit's medium was made from the shipped"
                                               " one's files)" for tree in self.shipped.trees))
        self.assertFalse(any(DAO.lower() in line.lower() for line in report.lines), report.lines)

    def test_a_tree_or_a_udf_file_system_on_one_side_only(self):
        plain = iso9660.read_image(OTHER_LAYOUTS["plain"])
        report = self.compare(plain)
        self.assertIn("  differs: the shipped image has Joliet names, which the commit's has not", report.lines)
        report = self.compare(self.shipped, shipped=plain)
        self.assertIn("  differs: the shipped image lacks the Joliet names that the commit's has", report.lines)
        changed = copy_of(BASE, "udf", (0,))
        report = self.compare(as_bytes_of(self.shipped, changed), shipped=dataclasses.replace(self.shipped, udf=True))
        self.assertIn("  differs: the shipped image carries a UDF file system, which Windows may read instead of the"
                      " Joliet names and which the commit's media do not have (its files were not read)", report.lines)

    def test_files_are_compared_by_their_bytes_whatever_their_extents(self):
        data = FOLDER / "extents.bin"
        data.write_bytes(b"abcdefXYZghij--abcdefghij")
        image = iso9660.Image(data, data.stat().st_size, "", "", 0, "", "", None, False)

        def entry(*extents):
            return iso9660.Entry("f", False, list(extents), None)

        whole = entry((15, 10))
        for extents, same in ((((0, 6), (9, 4)), True), (((0, 3), (3, 3), (9, 4)), True),
                              (((0, 6), (9, 3)), False), (((0, 6), (8, 4)), False), (((0, 13),), False)):
            with self.subTest(extents):
                self.assertEqual(image_comparison._same_content(image, entry(*extents), image, whole), same)
                self.assertEqual(image_comparison._same_content(image, whole, image, entry(*extents)), same)


class Medium:
    """A medium's setup.exe as its name trees give it, beside a folder and autorun.inf."""

    def __init__(self, programs: dict[str, bytes]):
        self.trees, self.programs = {}, {}
        for tree, program in programs.items():
            self.trees[tree] = {"": iso9660.Entry("", True, [], None)}
            for name, content in ((payload.AUTORUN, payload.autorun_inf("t")), (payload.LAUNCHER, program)):
                entry = iso9660.Entry(name, False, [(0, len(content))], None)
                self.trees[tree][name.upper() if tree == ISO_9660 else name] = entry
                self.programs[id(entry)] = content

    def read(self, entry):
        return self.programs[id(entry)]


class SignatureReport(unittest.TestCase):
    """examine_launchers: what the report says of setup.exe's signature, and whether its program vouches."""

    def examine(self, medium, pins=None, ca=None, pinned=None) -> tuple[bytes | None, Report]:
        report = Report()
        return signature_report.examine_launchers(medium, pins, report, ca, pinned), report

    def test_an_unsigned_program_is_said_to_be_unsigned_unless_a_signer_was_asked_for(self):
        medium = Medium({JOLIET: PROGRAMS["unsigned"], ISO_9660: PROGRAMS["unsigned"]})
        vouched, report = self.examine(medium)
        self.assertEqual((vouched, report.lines, report.signature, report.unchecked_signers),
                         (None, ["  unsigned: setup.exe"], "setup.exe is unsigned", []))
        # A program that cannot be read is a difference, not an unsigned program.
        vouched, report = self.examine(Medium({JOLIET: b"MZ and nothing of a program"}))
        self.assertEqual((vouched, report.differences, report.signature), (None, 1, ""))
        self.assertEqual(len(report.lines), 1, report.lines)
        self.assertTrue(report.lines[0].startswith("  differs: setup.exe: "), report.lines)
        pins = signers.parse(SIGNER.encode(), signers.PATH)
        for asked, given in (("--ca", {"ca": KEYS.path("ca.pem")}), ("--signer-sha256", {"pinned": "ab" * 32}),
                             (signers.PATH, {"pins": pins})):
            with self.subTest(asked):
                vouched, report = self.examine(medium, **given)
                self.assertEqual((vouched, report.lines, report.signature), (
                    None, [f"  differs: setup.exe is unsigned, though a signer was asked for ({asked})"], ""))

    def test_a_signer_checked_by_the_anchors_a_pin_or_the_commits_pins_vouches_for_the_program(self):
        medium = Medium({ROCK_RIDGE: PROGRAMS["signed"], JOLIET: PROGRAMS["signed"]})
        pins = signers.parse(f"# the vendor's\n{'cd' * 32}\n{SIGNER}\n".encode(), "the pins")
        for given, checked in (({"ca": KEYS.path("ca.pem")}, "chain"), ({"pinned": SIGNER}, "pinned"),
                               ({"pins": pins}, "pinned, by the pins")):
            with self.subTest(checked):
                vouched, report = self.examine(medium, **given)
                self.assertEqual(vouched, PROGRAMS["signed"])
                self.assertEqual(report.differences, 0, report.lines)
                self.assertEqual(report.unchecked_signers, [])
                self.assertIn("  signer of setup.exe: CN=tarvin test signer", report.lines)
                self.assertIn(f"    issued by CN=tarvin test CA; certificate SHA-256 {SIGNER}",
                              report.lines)
                self.assertIn(f"    signing time {signed_programs.SIGNING_TIME:%Y-%m-%d %H:%M:%S} UTC", report.lines)
                self.assertIn("    no timestamp: Windows trusts the signature only while the certificate is valid",
                              report.lines)
                self.assertTrue(any(line.startswith("    osslsigncode") and " agrees; it checked " in line
                                    for line in report.lines), report.lines)
                self.assertEqual(report.lines[-1], f"    the signature of setup.exe verifies; signer checked:"
                                                   f" {checked}")
                self.assertEqual(report.signature, f"setup.exe signed by CN=tarvin test signer (signer checked:"
                                                   f" {checked})")

    def test_a_timestamp_is_told_with_its_signer(self):
        vouched, report = self.examine(Medium({JOLIET: PROGRAMS["timestamped"]}), ca=KEYS.path("ca.pem"))
        self.assertEqual((vouched, report.differences), (PROGRAMS["timestamped"], 0), report.lines)
        self.assertRegex("\n".join(report.lines), r"\n    timestamp 20\d\d-\d\d-\d\d \d\d:\d\d:\d\d UTC by CN=.+\n")
        self.assertFalse(any("no timestamp" in line for line in report.lines), report.lines)

    def test_a_signer_nobody_checked_or_none_of_the_pins_names_vouches_for_nothing(self):
        medium = Medium({JOLIET: PROGRAMS["signed"]})
        vouched, report = self.examine(medium)
        self.assertEqual((vouched, report.differences, report.unchecked_signers, report.signature),
                         (None, 0, ["setup.exe"], ""))
        self.assertIn(f"    the signature of setup.exe is intact, but its signer was not checked (give --ca FILE or"
                      f" --signer-sha256, or list it in the commit's {signers.PATH})", report.lines)
        pins = signers.parse(b"cd" * 32, "the pins")
        vouched, report = self.examine(medium, pins=pins)
        self.assertEqual((vouched, report.differences, report.unchecked_signers, report.signature),
                         (None, 1, [], ""))
        self.assertEqual(report.lines[0], "  differs: the signature of setup.exe: its signer (CN=tarvin test signer) is"
                                          f" none of those that the pins lists: its certificate's SHA-256 is"
                                          f" {SIGNER}")
        vouched, report = self.examine(medium, pinned="cd" * 32)
        self.assertEqual((vouched, report.differences), (None, 1))
        self.assertTrue(report.lines[0].startswith("  differs: the signature of setup.exe: "), report.lines)

    def test_a_damaged_signature_is_a_difference_that_vouches_for_nothing(self):
        damaged = bytearray(PROGRAMS["signed"])
        damaged[0x200] ^= 0xFF  # in the code, which the signature covers
        vouched, report = self.examine(Medium({JOLIET: bytes(damaged)}), ca=KEYS.path("ca.pem"))
        self.assertIsNone(vouched)
        self.assertGreaterEqual(report.differences, 1)
        self.assertTrue(all(line.startswith("  differs: the signature of setup.exe: ")
                            for line in report.lines if "differs" in line), report.lines)
        self.assertFalse(any("verifies" in line or "agrees" in line for line in report.lines), report.lines)

    def test_trees_that_give_different_programs_are_named_and_vouch_for_nothing(self):
        medium = Medium({ROCK_RIDGE: PROGRAMS["signed"], JOLIET: PROGRAMS["later"], ISO_9660: PROGRAMS["signed"]})
        vouched, report = self.examine(medium, ca=KEYS.path("ca.pem"))
        self.assertIsNone(vouched)
        self.assertEqual(report.differences, 0, report.lines)
        for where in ("setup.exe (Rock Ridge, ISO 9660 names)", "setup.exe (Joliet names)"):
            self.assertIn(f"  signer of {where}: CN=tarvin test signer", report.lines)
            self.assertIn(f"    the signature of {where} verifies; signer checked: chain", report.lines)


class PayloadListCheck(unittest.TestCase):
    """listed_by and check_listed_files: the signed list of a program, and every payload file against it."""

    def test_the_list_a_vouched_program_carries(self):
        report = Report()
        self.assertEqual(payload_list_check.listed_by(PROGRAMS["listed"], report), listing(PAYLOAD))
        self.assertEqual(report.lines, [])
        self.assertIsNone(payload_list_check.listed_by(PROGRAMS["unsigned"], report))
        self.assertEqual(report.lines, ["  setup.exe carries no payload list"])
        damaged = program_with_resources({payload_list.RT_RCDATA: {payload_list.RESOURCE_ID: {1033: b"TARVIN"}}})
        report = Report()
        self.assertIsNone(payload_list_check.listed_by(damaged, report))
        self.assertEqual(report.differences, 1)
        self.assertTrue(report.lines[0].startswith("  differs: the payload list of setup.exe is damaged: "))
        report = Report(unchecked_signers=["setup.exe"])
        self.assertIsNone(payload_list_check.listed_by(None, report))
        self.assertEqual(report.lines, ["  setup.exe's payload list was not used: it vouches for nothing while its"
                                        " signer is unchecked"])
        report = Report()
        self.assertIsNone(payload_list_check.listed_by(None, report))
        self.assertEqual(report.lines, [])

    def examine_files(self, listed: dict[str, payload_list.Listed], image: Path = None) -> tuple[set[str], Report]:
        report = Report()
        differing = payload_list_check.check_listed_files(iso9660.read_image(image or BASE), listed, report)
        self.assertEqual(report.differences, len(report.lines))
        return differing, report

    def test_a_medium_that_holds_what_its_list_names(self):
        self.assertEqual(self.examine_files(listing(PAYLOAD)), (set(), Report()))
        self.assertEqual(self.examine_files(listing(PAYLOAD), OTHER_LAYOUTS["plain"]), (set(), Report()))  # no Joliet

    def test_each_difference_is_named_once_with_the_trees_it_is_found_in(self):
        other = payload_list.hash_blocks([b"other"])
        dao, twin = payload.windows_name(DAO), "vorncopy\\twin.dll"
        differing, report = self.examine_files({**listing(PAYLOAD), dao: other})
        held = payload_list.hash_blocks([PAYLOAD[DAO]])
        self.assertEqual(differing, {dao, "VORNCOPY\\DAO350.DLL"})  # as each tree names it
        self.assertEqual(report.lines, [
            f"  differs: {dao} holds {held.size} bytes, the payload list says 5 (Rock Ridge, Joliet names)",
            f"  differs: VORNCOPY\\DAO350.DLL holds no file that the payload list names (SHA-256 {held.sha256},"
            f" {held.size} bytes) (ISO 9660 names)",
            f"  differs: {dao}: no file holds what the payload list names for it (ISO 9660 names)"])
        # The plain names hold the list's files one for one: a file listed twice needs two copies.
        listed = {path: entry for path, entry in listing(PAYLOAD).items() if path != twin}
        differing, report = self.examine_files(listed)
        self.assertIn(f"  differs: {twin} is not named by the payload list (Rock Ridge, Joliet names)", report.lines)
        twin_content = payload_list.hash_blocks([PAYLOAD["vorncopy/twin.dll"]])
        self.assertEqual([line for line in report.lines if "ISO 9660" in line], [
            "  differs: VORNCOPY\\TWIN2.DLL holds no file that the payload list names (SHA-256"
            f" {twin_content.sha256}, 20 bytes) (ISO 9660 names)"])
        self.assertEqual(differing, {twin, "VORNCOPY\\TWIN2.DLL"})

    def test_a_file_missing_from_every_tree(self):
        extra = payload_list.hash_blocks([b"listed, not shipped"])
        differing, report = self.examine_files({**listing(PAYLOAD), "vorncopy\\gone.dll": extra})
        self.assertEqual(differing, {"vorncopy\\gone.dll"})
        self.assertEqual(report.lines, [
            "  differs: vorncopy\\gone.dll is named by the payload list but missing (Rock Ridge, Joliet names)",
            "  differs: vorncopy\\gone.dll: no file holds what the payload list names for it (ISO 9660 names)"])
        # Files of the same bytes are counted one for one: two listed copies beyond those held are two differences.
        twins = listing(PAYLOAD)["vorncopy\\twin.dll"]
        listed = {**listing(PAYLOAD), **{f"vorncopy\\twin{number}.dll": twins for number in (3, 4)}}
        differing, report = self.examine_files(listed)
        # Which of the equal files the plain names lack cannot be told, so the count is what is checked.
        plain = [line for line in report.lines if "ISO 9660" in line]
        self.assertEqual(len(plain), 2, report.lines)
        for line in plain:
            self.assertRegex(line, r"^  differs: vorncopy\\twin\d?\.dll: no file holds what the payload list names for"
                                   r" it \(ISO 9660 names\)$")


class TemporaryRepository:
    """A git repository made for a test: main's history O-A-B (O older than the medium tools), a branch
    side off A (C), branches pinned and broken off B whose release/signers.sha256 lists the test signer and
    is damaged (and stamped off pinned, which lists the root of STAMPS' timestamp authority), and D, a commit that is only in the object store; build's git runs in it in place of
    the checkout's."""

    def __init__(self, folder: Path):
        self.root = folder
        folder.mkdir()
        self.git("init", "--quiet", "--initial-branch=main")
        self.git("config", "user.email", "vendor@example.com")
        self.git("config", "user.name", "vendor")
        self.commits = {}
        self.commit("O", {"README": "a commit older than check-medium"})
        self.commit("A", {"tools/medium/medium.py": "", ".gitignore": "build/\n", "scripts/make-medium": MAKE_MEDIUM})
        self.git("branch", "side")
        self.commit("B", {"notes.txt": "B"})
        self.git("checkout", "--quiet", "side")
        self.commit("C", {"notes.txt": "C"})
        for branch, pins in (("pinned", f"# the vendor's certificate\n{SIGNER}\n"), ("broken", "no fingerprint\n")):
            self.git("checkout", "--quiet", "-b", branch, self.commits["B"])
            self.commit(branch, {signers.PATH: pins})
        self.git("checkout", "--quiet", "-b", "stamped", self.commits["pinned"])
        self.commit("stamped", {signers.TIMESTAMP_AUTHORITIES: STAMPS.path("ca.pem").read_text()})
        self.git("checkout", "--quiet", "main")
        tree = self.git("write-tree")
        self.commits["D"] = self.git("commit-tree", tree, "-p", self.commits["B"], "-m", "D")

    def git(self, *arguments: str) -> str:
        return subprocess.run(["git", "-C", str(self.root), *arguments], check=True, capture_output=True,
                              text=True).stdout.strip()

    def commit(self, name: str, files: dict[str, str]) -> None:
        for path, text in files.items():
            (self.root / path).parent.mkdir(parents=True, exist_ok=True)
            (self.root / path).write_text(text)
        self.git("add", "-A")
        self.git("commit", "--quiet", "-m", name)
        self.commits[name] = self.git("rev-parse", "HEAD")

    @contextlib.contextmanager
    def in_place_of_the_checkout(self):
        original, root = build.git, build.REPO_ROOT

        def git(*arguments, repo=root):
            return original(*arguments, repo=self.root if repo == root else repo)

        with mock.patch.object(build, "git", git), mock.patch.object(build, "REPO_ROOT", self.root), \
                mock.patch.object(signers.at_commit, "__defaults__", (self.root,)):
            yield


# A make-medium that writes the image REMADE_IMAGE names for the medium it is run for (the Nth of a run's
# media, whose work folder is medium-N, takes the Nth of REMADE_IMAGE's paths) or fails when there is none;
# it keeps its arguments in REMADE_ARGUMENTS, and beside them the files of the payload folder it was given
# and a copy of the program it takes the signature from.
MAKE_MEDIUM = """#!/bin/bash
shopt -s globstar
printf '%s\\n' "$@" > "$REMADE_ARGUMENTS"
previous=
for argument in "$@"; do
    [ "$previous" != --signature-from ] || cp "$argument" "$REMADE_ARGUMENTS.signature"
    previous=$argument
done
payload=${@: -2:1}
for file in "$payload"/**; do [ -f "$file" ] && printf '%s\\n' "${file#"$payload"/}"; done > "$REMADE_ARGUMENTS.payload"
IFS=: read -ra images <<< "$REMADE_IMAGE"
number=${@: -1}
number=${number%/*}
image=${images[$((${number##*/medium-} - 1))]}
[ -n "$image" ] || { echo "on standard output"; for n in {1..14}; do echo "line $n"; done >&2; exit 1; }
cp "$image" "${@: -1}"
"""


class TrustedCommits(unittest.TestCase):
    """Only commits of the trusted history are checked out, each once, into a folder that is kept."""

    def setUp(self):
        self.repo = REPO
        (self.repo.root / "build").mkdir(exist_ok=True)
        # As in a checkout of the vendor's, the kept checkouts are in its ignored build folder.
        self.cache = Path(tempfile.mkdtemp(prefix="checkouts-", dir=self.repo.root / "build")) / "check-medium"
        stack = contextlib.ExitStack()
        self.addCleanup(stack.close)
        stack.enter_context(self.repo.in_place_of_the_checkout())
        self.progress = stack.enter_context(contextlib.redirect_stderr(io.StringIO()))

    def said(self) -> list[str]:
        """What the checkouts told on standard error since the last call."""
        lines = self.progress.getvalue().splitlines()
        self.progress.seek(0), self.progress.truncate()
        return lines

    def test_commit_ids_and_the_history_that_trusts_them(self):
        c = self.repo.commits
        self.assertEqual(trusted_commits.commit_id("HEAD"), c["B"])
        self.assertEqual(trusted_commits.commit_id("side"), c["C"])
        self.assertIsNone(trusted_commits.commit_id("nothing"))
        self.assertIsNone(trusted_commits.commit_id(self.repo.git("rev-parse", "HEAD^{tree}")))
        head = trusted_commits.Checkouts(self.cache, [("HEAD", c["B"])])
        both = trusted_commits.Checkouts(self.cache, [("HEAD", c["B"]), ("side", c["C"])])
        side_first = trusted_commits.Checkouts(self.cache, [("side", c["C"]), ("HEAD", c["B"])])
        for checkouts, expected in ((head, {"A": "HEAD", "B": "HEAD", "C": None, "D": None}),
                                    (both, {"A": "HEAD", "B": "HEAD", "C": "side", "D": None}),
                                    (side_first, {"A": "side", "B": "HEAD", "C": "side", "D": None})):
            self.assertEqual({name: checkouts.trusted_by(c[name]) for name in expected}, expected)
        self.assertEqual(both.refusal(c["D"]).split(";")[0], f"commit {c['D']} is not in the vendor's history: it is"
                                                             " not reachable from HEAD or --trust side")
        self.assertIn("nothing of it was checked out or run", both.refusal(c["D"]))
        self.assertIn("from a HEAD (there is none) or a --trust REF;",
                      trusted_commits.Checkouts(self.cache, []).refusal(c["D"]))

    def test_a_commit_is_checked_out_once_and_its_kept_folder_only_while_clean(self):
        c = self.repo.commits
        checkouts = trusted_commits.Checkouts(self.cache, [("HEAD", c["B"])])
        folder = checkouts.get(c["B"])
        self.assertEqual(folder, self.cache / c["B"])
        self.assertEqual(self.said(), [f"==> Checking out {c['B'][:12]} into {folder}"])
        self.assertEqual((folder / "notes.txt").read_text(), "B")
        self.assertEqual(self.repo.git("-C", str(folder), "rev-parse", "HEAD"), c["B"])
        (folder / "notes.txt").write_text("changed")
        self.assertEqual(checkouts.get(c["B"]), folder)  # the same run asks once
        self.assertEqual(self.said(), [])
        self.assertEqual((folder / "notes.txt").read_text(), "changed")
        # A later run keeps a clean checkout with its build, and checks a changed one out again.
        (folder / "notes.txt").write_text("B")
        (folder / "build").mkdir()
        (folder / "build" / "kept").write_text("a build")
        self.said()
        self.assertEqual(trusted_commits.Checkouts(self.cache, []).get(c["B"]), folder)
        self.assertEqual(self.said(), [f"==> Using the checkout of {c['B'][:12]} in {folder}"])
        self.assertTrue((folder / "build" / "kept").exists())
        for change in (lambda: (folder / "notes.txt").write_text("changed"),
                       lambda: (folder / "untracked").write_text("new"),
                       lambda: self.repo.git("-C", str(folder), "checkout", "--quiet", "--detach", c["A"])):
            change()
            self.assertEqual(trusted_commits.Checkouts(self.cache, []).get(c["B"]), folder)
            self.assertEqual((folder / "notes.txt").read_text(), "B")
            self.assertFalse((folder / "untracked").exists())
            self.assertFalse((folder / "build").exists())
            self.assertEqual(self.repo.git("-C", str(folder), "status", "--porcelain"), "")
        # A folder that is no checkout of its own is not taken for one, though git finds the clean checkout
        # around it at the same commit.
        shutil.rmtree(folder / ".git")
        self.assertEqual(trusted_commits.Checkouts(self.cache, []).get(c["B"]), folder)
        self.assertTrue((folder / ".git").exists())
        self.assertEqual(self.repo.git("-C", str(folder), "rev-parse", "HEAD"), c["B"])

    def test_a_commit_that_cannot_be_checked_out(self):
        checkouts = trusted_commits.Checkouts(self.cache, [])
        with self.assertRaisesRegex(build.BuildError, "^checking out 0123456789ab failed: (fatal|error): "):
            checkouts.get("0123456789ab" * 3 + "0123")


class Check(unittest.TestCase):
    """check and check_medium: the verdict over what the jobs found, the commit's make-medium run in a
    checkout of the test's repository."""

    def setUp(self):
        self.repo, self.media, self.payload, self.cache = REPO, VERDICT_MEDIA, FOLDER / "payload", FOLDER / "kept"

    def run_check(self, *media: str, remade: tuple = None, **request) -> tuple[int, list[str], list[str]]:
        """check's exit status, its output lines, and the arguments make-medium was given (the last run's).
        make-medium makes each medium as it is, or the images that remade names in its place ("" for none)."""
        arguments = FOLDER / "make-medium-arguments"
        for kept in (arguments, arguments.with_suffix(".signature")):
            kept.unlink(missing_ok=True)
        remade = [self.media[name] for name in media] if remade is None else remade
        environment = {"REMADE_ARGUMENTS": str(arguments), "REMADE_IMAGE": ":".join(map(str, remade))}
        scratch = Path(tempfile.mkdtemp(prefix="scratch-", dir=FOLDER))
        output, self.progress = io.StringIO(), io.StringIO()
        with self.repo.in_place_of_the_checkout(), mock.patch.dict(os.environ, environment), \
                contextlib.redirect_stdout(output), contextlib.redirect_stderr(self.progress):
            status = check.check(check.Request([self.media[name] for name in media], **request), scratch, self.cache)
        self.assertEqual(list(scratch.iterdir()), [])  # each medium's work folder is removed
        given = arguments.read_text().splitlines() if arguments.exists() else []
        return status, output.getvalue().splitlines(), given

    def test_the_same_medium_with_an_independent_payload(self):
        status, lines, given = self.run_check("unsigned", payload=self.payload)
        medium, commit = self.media["unsigned"], self.repo.commits["B"]
        self.assertEqual(status, EXIT_SAME, lines)
        self.assertEqual(lines[0], f"{medium} against commit {commit[:12]} (as the image names it, in the history of"
                                   " HEAD), version 1.2.3:")
        self.assertEqual(lines[-1], f"{medium}: the same medium as commit {commit[:12]} makes (version 1.2.3);"
                                    " setup.exe is unsigned")
        self.assertEqual(given[:-1], ["--volume-label", "TARVIN", "--version", "1.2.3", "--autorun-label", "数据库",
                                      str(self.payload)])
        self.assertIn(f"==> Making {medium.name} again from {commit[:12]} (volume label TARVIN, autorun label 数据库)",
                      self.progress.getvalue().splitlines())
        self.assertEqual(lines[1:-1], [f"  same: the whole image, byte for byte ({medium.stat().st_size} bytes)",
                                       "  unsigned: setup.exe"]
                         + [f"  same: {path}" for path in sorted(medium_files(b"", ""))])

    def test_payload_files_taken_from_the_medium_itself_are_not_checked(self):
        status, lines, given = self.run_check("unsigned")
        medium, commit = self.media["unsigned"], self.repo.commits["B"]
        self.assertEqual(status, EXIT_PARTIAL, lines)
        self.assertEqual(Path(given[-2]).name, "payload")
        payload_given = (FOLDER / "make-medium-arguments.payload").read_text().splitlines()
        self.assertEqual(sorted(payload_given), sorted(PAYLOAD))
        for path in PAYLOAD:
            self.assertIn(f"  not checked: {path} (taken from the medium itself; give --payload)", lines)
        self.assertIn("  same: setup.exe", lines)
        self.assertIn("  same: autorun.inf", lines)
        self.assertEqual(lines[-1], f"{medium}: the same as commit {commit[:12]} makes (version 1.2.3), except what was"
                                    f" not checked: {len(PAYLOAD)} payload file(s) (give --payload)")

    def test_a_signed_payload_list_vouches_for_the_payload_once_its_signer_is_checked(self):
        medium, commit = self.media["signed"], self.repo.commits["B"]
        status, lines, given = self.run_check("signed", ca=KEYS.path("ca.pem"))
        self.assertEqual(status, EXIT_SAME, lines)
        self.assertEqual(given[6:8], ["--signature-from", str(given[-1]).replace("rebuilt.iso", "shipped-setup.exe")])
        self.assertEqual((FOLDER / "make-medium-arguments.signature").read_bytes(), PROGRAMS["signed_listed"])
        for path in PAYLOAD:
            self.assertIn(f"  same: {path} (as the payload list in the signed setup.exe names it, in every name tree)",
                          lines)
        self.assertEqual(lines[-1], f"{medium}: the same medium as commit {commit[:12]} makes (version 1.2.3);"
                                    " setup.exe signed by CN=tarvin test signer (signer checked: chain); its"
                                    f" {len(PAYLOAD)} payload file(s) as its signed payload list names them")
        status, lines, _ = self.run_check("signed")
        self.assertEqual(status, EXIT_PARTIAL, lines)
        self.assertEqual(lines[-1], f"{medium}: the same as commit {commit[:12]} makes (version 1.2.3), except what was"
                                    f" not checked: {len(PAYLOAD)} payload file(s) (give --payload); the signer of"
                                    " setup.exe (give --ca FILE or --signer-sha256, or list its certificate in the"
                                    f" commit's {signers.PATH})")

    def test_the_pins_of_the_commit_check_the_signer(self):
        c = self.repo.commits
        status, lines, _ = self.run_check("pinned", trusted=[("pinned", c["pinned"])])
        self.assertEqual(status, EXIT_SAME, lines)
        self.assertTrue(lines[-1].endswith(f"; setup.exe signed by CN=tarvin test signer (signer checked: pinned, by"
                                           f" {signers.PATH} of commit {c['pinned'][:12]}); its {len(PAYLOAD)} payload"
                                           " file(s) as its signed payload list names them"), lines[-1])
        # A pin on the command line takes the place of the commit's.
        status, lines, _ = self.run_check("pinned", trusted=[("pinned", c["pinned"])], pinned_sha256="ab" * 32)
        self.assertEqual(status, EXIT_DIFFERENT, lines)
        status, lines, given = self.run_check("broken", trusted=[("broken", c["broken"])])
        self.assertEqual((status, given), (EXIT_DIFFERENT, []))
        self.assertEqual(lines, [f"{self.media['broken']}: {signers.PATH} of commit {c['broken'][:12]}, line 1: not a"
                                 " SHA-256 fingerprint (64 hexadecimal digits): no fingerprint, so no signer can be"
                                 " checked against it; nothing was compared"])

    def test_a_timestamp_stands_for_the_present_only_when_its_authority_is_anchored(self):
        # After the pinned signer's certificate expired; the timestamp, from an authority of its own, dates
        # the signature within its validity.
        c, later = self.repo.commits, mock.Mock(now=lambda zone: datetime.datetime(2100, 1, 1, tzinfo=zone))
        (FOLDER / "both.pem").write_bytes(KEYS.path("ca.pem").read_bytes() + STAMPS.path("ca.pem").read_bytes())
        for name, branch, ca, status in (("stamped", "pinned", None, EXIT_PARTIAL), ("stamped", "pinned", "both.pem",
                                         EXIT_SAME), ("stamped", "pinned", "keys/ca.pem", EXIT_DIFFERENT),
                                         ("stamped listed", "stamped", None, EXIT_SAME)):
            with self.subTest(name=name, ca=ca), mock.patch.object(signature_report, "datetime", later):
                result, lines, _ = self.run_check(name, trusted=[(branch, c[branch])], ca=ca and FOLDER / ca)
                self.assertEqual(result, status, lines)
                self.assertEqual(lines[-1].endswith("timestamp not anchored (give --ca)"), status == EXIT_PARTIAL)

    def test_a_payload_file_the_signed_list_does_not_name_differs(self):
        status, lines, _ = self.run_check("off list", ca=KEYS.path("ca.pem"))
        self.assertEqual(status, EXIT_DIFFERENT, lines)
        self.assertIn("  differs: vorncopy\\Dao350.dll holds other bytes than the payload list says", "\n".join(lines))
        self.assertFalse(any(line.startswith("  same: vorncopy/Dao350.dll") for line in lines), lines)
        self.assertIn("  same: voabc.txt (as the payload list in the signed setup.exe names it, in every name tree)",
                      lines)
        self.assertRegex(lines[-1], r": 3 difference\(s\) from the medium commit [0-9a-f]{12} makes \(version 1.00\)$")

    def test_a_medium_that_is_not_the_commits_differs(self):
        status, lines, _ = self.run_check("unsigned", remade=[self.media["signed"]], payload=self.payload)
        self.assertEqual(status, EXIT_DIFFERENT, lines)
        self.assertIn("  differs: setup.exe (Rock Ridge names)", lines)
        self.assertNotIn("  same: setup.exe", lines)
        self.assertIn("  same: autorun.inf", lines)
        self.assertRegex(lines[-1], r"^.*verdict-unsigned.iso: [1-9][0-9]* difference\(s\) from the medium commit")
        status, lines, given = self.run_check("unsigned", remade=[""], payload=self.payload)
        self.assertEqual(status, EXIT_DIFFERENT, lines)
        self.assertEqual(lines[1], "  differs: the commit could not make this medium again, so nothing was compared:")
        self.assertEqual(lines[2:14], [f"    line {number}" for number in range(3, 15)])  # the last dozen
        self.assertFalse(any(line.startswith("  same") for line in lines), lines)
        # An image the commit's make-medium wrote that cannot be read is its fault, not the shipped medium's.
        status, lines, _ = self.run_check("unsigned", remade=[self.media["no image"]], payload=self.payload)
        self.assertEqual(status, EXIT_DIFFERENT, lines)
        self.assertTrue(lines[1].startswith("  differs: the commit's make-medium wrote an image that cannot be read,"
                                            " so nothing was compared: "), lines)
        self.assertFalse(any(line.startswith("  same") for line in lines), lines)

    def test_a_toolchain_record_explains_a_difference_and_changes_no_verdict(self):
        (FOLDER / "status").write_text("Package: xorriso\nStatus: install ok installed\nVersion: 1.5.4-4\n")
        beside = toolchain.record_path(self.media["unsigned"])
        beside.write_text(toolchain.render({"xorriso": "1.5.4-3"}))
        self.addCleanup(beside.unlink)
        with mock.patch.object(toolchain, "STATUS", FOLDER / "status"):
            status, lines, _ = self.run_check("unsigned", remade=[self.media["signed"]], payload=self.payload)
            self.assertEqual(status, EXIT_DIFFERENT, lines)
            self.assertIn("  toolchain: this machine's xorriso is 1.5.4-4, the medium's was 1.5.4-3", lines)
            (FOLDER / "same.buildinfo").write_text(toolchain.render({"xorriso": "1.5.4-4"}))
            for remade, record, expected in (([self.media["unsigned"]], beside, EXIT_SAME),
                                             ([self.media["signed"]], FOLDER / "same.buildinfo", EXIT_DIFFERENT)):
                status, lines, _ = self.run_check("unsigned", remade=remade, payload=self.payload, buildinfo=record)
                self.assertEqual((status, [line for line in lines if "toolchain" in line]), (expected, []))

    def test_a_file_that_cannot_be_written_out_is_a_difference_that_names_it(self):
        blocks = iso9660.Image.blocks

        def failing(image, entry, size=iso9660.BLOCK):  # the disk fills up as the first medium's Dao350.dll is written
            if entry.path == DAO and image.path == self.media["unsigned"]:
                raise OSError(28, "No space left on device")
            return blocks(image, entry, size)

        with mock.patch.object(iso9660.Image, "blocks", failing):
            status, lines, _ = self.run_check("unsigned", "no commit")
        self.assertEqual(status, EXIT_DIFFERENT, lines)
        self.assertIn(f"  differs: {DAO} cannot be written out of the medium to make it again ([Errno 28] No space left"
                      " on device), so nothing was compared", lines)
        self.assertIn(f"{self.media['no commit']}: the same as commit", lines[-1])

    def test_only_a_commit_of_the_trusted_history_that_the_image_names_is_made_again(self):
        c = self.repo.commits
        status, lines, given = self.run_check("side", payload=self.payload)
        self.assertEqual((status, given), (EXIT_DIFFERENT, []))
        self.assertEqual(lines, [f"{self.media['side']}: commit {c['C']} is not in the vendor's history: it is not"
                                 " reachable from HEAD;" + lines[0].split(";", 1)[1]])
        status, lines, given = self.run_check("side", payload=self.payload, trusted=[("side", c["C"])])
        self.assertEqual(status, EXIT_SAME, lines)
        self.assertIn("(as the image names it, in the history of --trust side)", lines[0])
        for name, expected in (("uncommitted", "  differs: the image says it was made from a working tree with"
                                               " uncommitted changes: no commit makes it"),
                               ("side", f"  differs: the image names commit {c['C'][:12]}, not {c['A'][:12]}")):
            status, lines, _ = self.run_check(name, payload=self.payload, commit="HEAD~1" if name == "side" else None)
            self.assertEqual(status, EXIT_DIFFERENT, lines)
            self.assertIn(expected, lines)
        status, lines, _ = self.run_check("no commit", payload=self.payload)
        self.assertEqual(status, EXIT_SAME, lines)
        self.assertIn(f"against commit {c['B'][:12]} (HEAD: the image names no commit, in the history of HEAD)",
                      lines[0])
        status, lines, given = self.run_check("unsigned", payload=self.payload, commit="nothing")
        self.assertEqual((status, given), (EXIT_DIFFERENT, []))
        self.assertEqual(lines, [f"{self.media['unsigned']}: nothing (as given) is no commit of this repository;"
                                 " nothing was compared"])
        status, lines, given = self.run_check("old", payload=self.payload)
        self.assertEqual((status, given), (EXIT_DIFFERENT, []))
        self.assertEqual(lines, [f"{self.media['old']}: commit {c['O'][:12]} predates this check; check the medium"
                                 " with that commit's scripts/check-medium"])

    def test_what_is_no_medium_of_this_product(self):
        for name, expected in (("no image", "cannot be read as an image: "), ("no setup", "no medium of this product:"
                                                                              " it holds no setup.exe"),
                               ("no autorun", "no medium of this product: it holds no autorun.inf")):
            status, lines, given = self.run_check(name, payload=self.payload)
            self.assertEqual((status, given), (EXIT_DIFFERENT, []))
            self.assertEqual(len(lines), 1, lines)
            self.assertTrue(lines[0].startswith(f"{self.media[name]}: {expected}"), lines)

    def test_the_status_of_several_media_is_the_worst(self):
        for media, payload_given, expected in ((("unsigned", "signed"), True, EXIT_PARTIAL),
                                               (("signed", "unsigned"), True, EXIT_PARTIAL),
                                               (("unsigned", "no image", "no commit"), False, EXIT_DIFFERENT)):
            with self.subTest(media):
                status, lines, _ = self.run_check(*media, payload=self.payload if payload_given else None)
                self.assertEqual(status, expected, lines)


if __name__ == "__main__":
    unittest.main()
