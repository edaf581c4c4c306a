"""The medium tool's rules one function at a time, with no build: the payload's names and labels,
autorun.inf, the payload list, the application identifier and version, where a program keeps its signature,
and the image reader on a small image xorriso writes. Faults that a mutation run (scripts/mutate) showed the slower release tests let through."""

import contextlib
import datetime
import fcntl
import hashlib
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path
from unittest import mock

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "medium"))
import build  # noqa: E402
import certificate_table  # noqa: E402
import iso9660  # noqa: E402
import payload  # noqa: E402
import payload_list  # noqa: E402
import toolchain  # noqa: E402


class Toolchain(unittest.TestCase):
    def test_versions_from_dpkgs_status_into_the_record_and_back_and_records_that_are_refused(self):
        folder = Path(tempfile.mkdtemp(prefix="toolchain-"))
        self.addCleanup(shutil.rmtree, folder, True)
        installed = "install ok installed"
        stanzas = [("xorriso", installed, "amd64", "1:1.5.4-4\nDescription: a\n Version: 9"),
                   ("cmake", "deinstall ok config-files", "amd64", "3.25.1-1"), ("other", installed, "all", "1"),
                   ("libssl3", installed, "amd64", "3.0.19-1"), ("libssl3", installed, "i386", "3.0.18-1")]
        (folder / "status").write_text("\n".join(f"Package: {name}\nStatus: {status}\nArchitecture: {arch}\n"
                                                 f"Version: {version}\n" for name, status, arch, version in stanzas))
        versions = toolchain.installed(status=folder / "status")
        self.assertEqual(versions, {"xorriso": "1:1.5.4-4", "libssl3:amd64": "3.0.19-1", "libssl3:i386": "3.0.18-1"})
        record = toolchain.write_record(folder / "m.iso", versions)
        self.assertEqual(toolchain.read_record(record), versions)
        # As a .buildinfo file lists them: sorted, a comma after each but the last.
        self.assertTrue(record.read_text().endswith(" libssl3:i386 (= 3.0.18-1),\n xorriso (= 1:1.5.4-4)\n"))
        self.assertEqual(record.stat().st_mode & 0o777, 0o644, "a record anyone may read, as the image")
        head = "Format: 1.0\nInstalled-Build-Depends:\n"
        for content, message in {b"Format: 2.0\nInstalled-Build-Depends:\n": "does not begin with",
                                 (head + " xorriso (= 1\x1b[2J)\n").encode(): "line 3 names no package",
                                 (head + " xorriso (= 1),\n xorriso (= 2)\n").encode(): "line 4 names no package",
                                 (head + " xorriso (= 1é)\n").encode(): "other than ASCII",
                                 head.encode() + b" a (= 1),\n" * 9000: "larger than"}.items():
            with self.subTest(message):
                (folder / "record").write_bytes(content)
                with self.assertRaisesRegex(toolchain.RecordError, message):
                    toolchain.read_record(folder / "record")
                # check-medium's word on such a record: one line that names it, never a traceback.
                said = toolchain.compare_with_record(folder / "record", status=folder / "status")
                self.assertEqual(len(said), 1)
                self.assertIn(str(folder / "record"), said[0])
        # A file that is not there is a refusal that says so, never a traceback.
        for read in (lambda: toolchain.read_record(folder / "absent"), lambda: toolchain.installed(status=folder / "absent")):
            with self.assertRaisesRegex(toolchain.RecordError, "No such file"):
                read()


class Labels(unittest.TestCase):
    def test_volume_labels_are_1_to_16_of_capitals_digits_and_underscores(self):
        for label in ("A", "TARVIN_2", "X" * 16):
            payload.check_volume_label(label)
        for label in ("", "X" * 17, "tarvin", "TAR VIN", "TARVIN-2"):
            self.assertRaises(payload.PayloadError, payload.check_volume_label, label)

    def test_autorun_labels_are_printable_text_on_one_line(self):
        for label in ("t", "tarvin 数据库", " ~"):
            payload.check_autorun_label(label)
        for label in ("", "a\nb", "a\rb", "tab\t", "\x1f", "del\x7f"):
            self.assertRaises(payload.PayloadError, payload.check_autorun_label, label)

    def test_autorun_inf_is_ascii_or_utf16_and_reads_back_its_label(self):
        ascii_inf = payload.autorun_inf("tarvin")
        self.assertEqual(ascii_inf, b"[autorun]\r\nopen=setup.exe\r\nicon=setup.exe,0\r\nlabel=tarvin\r\n")
        chinese = payload.autorun_inf("数据库")
        self.assertTrue(chinese.startswith(b"\xff\xfe"))
        self.assertEqual(chinese[2:].decode("utf-16-le"), ascii_inf.decode().replace("tarvin", "数据库"))
        for label in ("tarvin", "数据库", "a=b"):
            self.assertEqual(payload.autorun_label(payload.autorun_inf(label)), label)
        self.assertIsNone(payload.autorun_label(b"[autorun]\r\nopen=setup.exe\r\n"))
        self.assertEqual(payload.autorun_label(b"[autorun]\nlabel=plain\n"), "plain")


class Names(unittest.TestCase):
    def test_names_windows_cannot_use_are_told_why(self):
        self.assertIsNone(payload.windows_name_problem("Dao350.dll"))
        self.assertIsNone(payload.windows_name_problem("CONSOLE.txt"))
        self.assertIsNone(payload.windows_name_problem("安装说明.txt"))
        self.assertIn("holds : ?", payload.windows_name_problem("a?:b"))
        self.assertIn("'\\x01'", payload.windows_name_problem("a\x01"))
        self.assertEqual(payload.windows_name_problem("a\x1f"),
                         "it holds '\\x1f', which Windows does not allow in a name")
        for name in ("a.", "a "):
            self.assertIn("ends in a dot or a space", payload.windows_name_problem(name))
        for name in ("NUL.txt", "con", "Com1.log", "COM9", "lpt1.txt", "LPT9", "aux .txt", "PRN"):
            self.assertEqual(payload.windows_name_problem(name), "it is a device name on Windows", name)
        for name in ("COM0", "LPT0", "COM10", "LPT10", "NULL"):
            self.assertIsNone(payload.windows_name_problem(name), name)

    def test_payload_files_are_what_the_medium_does_not_add(self):
        self.assertFalse(payload.is_payload_file("setup.exe"))
        self.assertFalse(payload.is_payload_file("autorun.inf"))
        self.assertTrue(payload.is_payload_file("vorncopy/Dao350.dll"))
        self.assertEqual(payload.windows_name("vorncopy/a/b"), "vorncopy\\a\\b")


class Notes(unittest.TestCase):
    def test_warnings_for_what_the_launcher_would_show_unlike_the_vendor_expects(self):
        self.assertIn("is empty", payload.notes_warning(b""))
        self.assertIn("UTF-8 without a byte order mark", payload.notes_warning("安装".encode()))
        for fine in (b"plain ascii\r\n", b"\xef\xbb\xbf" + "安装".encode(), b"\xff\xfe" + "安装".encode("utf-16-le"),
                     "安装".encode("gbk")):
            self.assertIsNone(payload.notes_warning(fine), fine)


class PayloadFolder(unittest.TestCase):
    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(prefix="medium-units-"))
        self.addCleanup(shutil.rmtree, self.folder)

    def lay_out(self, *names: str) -> None:
        for name in names:
            (self.folder / name).parent.mkdir(parents=True, exist_ok=True)
            (self.folder / name).write_bytes(b"x")

    def test_required_files_in_any_letter_case_and_the_rest_left_out(self):
        self.lay_out("VOABC.TXT", "VornCopy/dao350.DLL", "VornCopy/MSJTER35.dll", "VornCopy/TarvinXP.exe",
                     "VornCopy/more/extra.txt", "readme.txt", "other/a")
        found = payload.find_payload(self.folder)
        self.assertEqual(found.notes, self.folder / "VOABC.TXT")
        self.assertEqual(found.components, self.folder / "VornCopy")
        self.assertEqual(found.left_out, (self.folder / "other", self.folder / "readme.txt"))
        self.assertEqual(found.entries, (found.notes, found.components))
        payload.check_windows_names(found)

    def test_each_missing_file_is_named(self):
        self.lay_out("voabc.txt", "vorncopy/Dao350.dll")
        (self.folder / "vorncopy" / "tarvinxp.exe").mkdir()
        with self.assertRaises(payload.PayloadError) as raised:
            payload.find_payload(self.folder)
        lines = str(raised.exception).splitlines()
        self.assertEqual(lines[:2], ["the payload lacks vorncopy\\msjter35.dll", "the payload lacks vorncopy\\tarvinxp.exe"])
        self.assertEqual(len(lines), 3)

    def test_a_payload_without_its_folder_lacks_each_of_its_files(self):
        self.lay_out("voabc.txt")
        self.assertEqual(self._refusal(self.folder).splitlines()[:3], [
            "the payload lacks vorncopy\\Dao350.dll", "the payload lacks vorncopy\\msjter35.dll",
            "the payload lacks vorncopy\\tarvinxp.exe"])

    def test_a_file_or_a_missing_folder_in_place_of_the_payload_folder(self):
        self.assertIn("does not exist", self._refusal(self.folder / "missing"))
        self.lay_out("medium.ISO", "notes")
        self.assertIn("is a file (an image?)", self._refusal(self.folder / "medium.ISO"))
        self.assertNotIn("(an image?)", self._refusal(self.folder / "notes"))

    def _refusal(self, folder: Path) -> str:
        with self.assertRaises(payload.PayloadError) as raised:
            payload.find_payload(folder)
        return str(raised.exception)

    def test_names_twice_in_different_case_and_unusable_names_are_refused(self):
        self.lay_out("voabc.txt", "vorncopy/Dao350.dll", "vorncopy/msjter35.dll", "vorncopy/tarvinxp.exe",
                     "vorncopy/sub/Read.me", "vorncopy/sub/READ.ME", "vorncopy/sub/bad?.txt")
        with self.assertRaises(payload.PayloadError) as raised:
            payload.check_windows_names(payload.find_payload(self.folder))
        self.assertEqual(str(raised.exception).splitlines(), [
            "the payload has a name Windows cannot use: vorncopy\\sub: READ.ME and Read.me differ only in case, and "
            "Windows reaches only one of them",
            "the payload has a name Windows cannot use: vorncopy\\sub\\bad?.txt: it holds ?, which Windows does not "
            "allow in a name",
            "rename them; nothing was written"])
        self.lay_out("VOABC.txt")
        self.assertIn("several entries named voabc.txt", self._refusal(self.folder))

    def test_names_are_checked_over_the_files_the_list_holds_through_a_linked_folder(self):
        self.lay_out("voabc.txt", "vorncopy/Dao350.dll", "vorncopy/msjter35.dll", "vorncopy/tarvinxp.exe",
                     "real/a\tb.dll")
        (self.folder / "vorncopy" / "sub").symlink_to("../real")
        found = payload.find_payload(self.folder)
        self.assertIn("vorncopy\\sub\\a\tb.dll", payload_list.payload_files(found))
        with self.assertRaisesRegex(payload.PayloadError, r"vorncopy\\sub\\a\tb\.dll: it holds '\\t'"):
            payload.check_windows_names(found)


def shared_list_cases() -> list[tuple[bool, str, bytes]]:
    """The payload list's cases in tests/payload_list_cases.txt (its first lines say how it is written):
    whether each list is accepted, why, and its bytes."""
    names: dict[str, str] = {}
    cases = []

    def expanded(text: str) -> str:
        return re.sub(r"\{(\w+)\}", lambda match: names.get(match[1], match[0]), text)

    for line in (Path(__file__).resolve().parents[1] / "payload_list_cases.txt").read_text("utf-8").splitlines():
        if not line or line.startswith("#"):
            continue
        if line.startswith("= "):
            name, value = line[2:].split(" ", 1)
            names[name] = expanded(value)
            continue
        verdict, why, text = re.fullmatch(r"(accepted|refused) \| (.*?) \|(?: (.*))?", line).groups()
        data = re.sub(rb"\\(x[0-9A-Fa-f]{2}|.)", lambda match: {b"n": b"\n", b"r": b"\r", b"t": b"\t"}.get(
            match[1], bytes.fromhex(match[1][1:].decode()) if match[1].startswith(b"x") else match[1]),
            expanded(text or "").encode("utf-8"))
        cases.append((verdict == "accepted", why, data))
    return cases


def resource_section(resources: dict, rva: int) -> bytes:
    """A resource section at rva holding {type: {id: {language: data}}}: its directories, breadth first,
    then its data entries, then the data."""
    tables, leaves, pending = bytearray(), [], [(None, resources)]
    while pending:
        slot, children = pending.pop(0)
        if slot is not None:
            struct.pack_into("<I", tables, slot + 4, len(tables) | 0x80000000)
        tables += struct.pack("<IIHHHH", 0, 0, 0, 0, 0, len(children))
        for key, child in sorted(children.items()):
            (pending if isinstance(child, dict) else leaves).append((len(tables), child))
            tables += struct.pack("<II", key, 0)
    data_at = len(tables) + 16 * len(leaves)
    entries, data = bytearray(), bytearray()
    for slot, blob in leaves:
        struct.pack_into("<I", tables, slot + 4, len(tables) + len(entries))
        entries += struct.pack("<IIII", rva + data_at + len(data), len(blob), 0, 0)
        data += blob + bytes(-len(blob) % 4)
    return bytes(tables + entries + data)


def program_with_resources(resources: dict[int, dict[int, dict[int, bytes]]]) -> bytes:
    """A small i386 PE image whose one section holds the resources given as {type: {id: {language: data}}}."""
    rva = 0x1000
    section = resource_section(resources, rva)
    raw_size = -(-len(section) // 0x200) * 0x200
    image_size = rva + -(-len(section) // 0x1000) * 0x1000
    headers = b"MZ" + bytes(0x3A) + struct.pack("<I", 0x40) + b"PE\0\0"
    headers += struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 0xE0, 0x0102)
    headers += struct.pack("<HBBIIIIII", 0x10B, 0, 0, 0, raw_size, 0, 0, 0, 0)
    headers += struct.pack("<IIIHHHHHHIIIIHHIIIIII", 0x400000, 0x1000, 0x200, 4, 0, 0, 0, 4, 0, 0, image_size,
                           0x200, 0, 2, 0, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    headers += b"".join(struct.pack("<II", rva, len(section)) if number == 2 else bytes(8) for number in range(16))
    headers += struct.pack("<8sIIIIIIHHI", b".rsrc", len(section), rva, raw_size, 0x200, 0, 0, 0, 0, 0x40000040)
    return headers.ljust(0x200, b"\0") + section.ljust(raw_size, b"\0")


class PayloadList(unittest.TestCase):
    """The list's one writer and strict reader, and its place in the program."""

    HEADER = b"TARVIN PAYLOAD LIST 2\n"
    SHA = "0123456789abcdef" * 4
    SHA1 = "89abcdef01" * 4

    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(prefix="payload-list-"))
        self.addCleanup(shutil.rmtree, self.folder)

    def lay_out(self, files: dict[str, bytes]) -> None:
        for name, content in files.items():
            (self.folder / name).parent.mkdir(parents=True, exist_ok=True)
            (self.folder / name).write_bytes(content)

    def test_every_payload_file_by_its_windows_path_sorted_by_utf8_with_its_digests_and_size(self):
        files = {"VOABC.TXT": b"notes", "vorncopy/Dao350.dll": b"dao", "vorncopy/msjter35.dll": b"",
                 "vorncopy/tarvinxp.exe": b"MZ" * 40000, "vorncopy/Zeta.txt": b"z",
                 "vorncopy/数据库/说明 一.txt": "中文".encode("gbk")}
        self.lay_out(files)
        (self.folder / "left out.txt").write_bytes(b"not on the medium")
        (self.folder / "elsewhere").mkdir()
        (self.folder / "elsewhere" / "linked.dll").write_bytes(b"through a link")
        (self.folder / "vorncopy" / "linked").symlink_to(self.folder / "elsewhere")  # the image writer follows it
        files["vorncopy/linked/linked.dll"] = b"through a link"
        listed = payload_list.render(payload_list.of_payload(payload.find_payload(self.folder)))
        order = sorted(files, key=lambda name: name.replace("/", "\\").encode("utf-8"))
        self.assertEqual(order[:3], ["VOABC.TXT", "vorncopy/Dao350.dll", "vorncopy/Zeta.txt"])
        expected = self.HEADER + b"".join(
            f"{hashlib.sha256(files[name]).hexdigest()} {hashlib.sha1(files[name]).hexdigest()} {len(files[name])}"
            f" {name.replace('/', chr(92))}\n".encode() for name in order)
        self.assertEqual(listed, expected)
        self.assertEqual(payload_list.parse(listed)["vorncopy\\msjter35.dll"],
                         payload_list.Listed(hashlib.sha256(b"").hexdigest(), hashlib.sha1(b"").hexdigest(), 0))

    def test_files_are_hashed_in_blocks_of_a_mebibyte(self):
        content = bytes(range(256)) * 9000  # a little over two blocks
        reads = []

        class Stream(io.BytesIO):
            def read(self, size=-1):
                reads.append(size)
                return super().read(size)

        self.assertEqual(payload_list.hash_stream(Stream(content)),
                         payload_list.Listed(hashlib.sha256(content).hexdigest(), hashlib.sha1(content).hexdigest(),
                                             len(content)))
        self.assertEqual(reads, [1 << 20] * 4)  # the last one finds the end
        self.assertEqual(payload_list.hash_blocks([content[:5], content[5:]]),
                         payload_list.hash_stream(io.BytesIO(content)))

    def test_names_the_list_cannot_carry_are_all_refused_and_no_list_is_made(self):
        item = payload_list.Listed(self.SHA, self.SHA1, 1)
        with self.assertRaises(payload_list.Uncarried) as raised:
            payload_list.render({"vorncopy\\a\nb": item, "vorncopy\\a\x1fb": item, "vorncopy\\Read.me": item, "vorncopy\\READ.ME": item,
                                 "vorncopy\\..\\x": item, "vorncopy\\": item, "\\voabc.txt": item, "vorncopy": item,
                                 "other\\x": item, "voabc.txt": item, "vorncopy\\ok": item, "vorncopy\\Ä": item,
                                 "vorncopy\\ä": item, "vorncopy\\\udcff": item})
        lines = str(raised.exception).splitlines()
        self.assertEqual(len(lines), 9, lines)
        for named in ("vorncopy\\\\a\\nb: it holds a line break", "vorncopy\\\\a\\x1fb: it holds a control character",
                      "vorncopy\\READ.ME and vorncopy\\Read.me differ only in letter case",
                      "vorncopy\\..\\x: it has an empty", "vorncopy\\: it starts or ends",
                      "\\voabc.txt: it starts or ends", "vorncopy: it is neither", "other\\x: it is neither",
                      "vorncopy\\\\\\udcff: it is not UTF-8"):
            self.assertTrue(any(line.startswith(named) for line in lines), (named, lines))
        self.assertFalse(any("ok" in line or "ä" in line for line in lines), lines)  # only ASCII letters fold
        self.assertEqual(payload_list.path_problem("VorNCopy\\a b\\c"), None)
        # Z is a letter, and the characters just past the capitals are none.
        for same in (("vorncopy\\Zip", "vorncopy\\zip"), ("vorncopy\\A", "vorncopy\\a")):
            self.assertRaises(payload_list.Uncarried, payload_list.render, dict.fromkeys(same, item))
        self.assertTrue(payload_list.render(dict.fromkeys(("vorncopy\\@", "vorncopy\\[", "vorncopy\\`",
                                                            "vorncopy\\{"), item)))
        # The writer checks what it is handed, too.
        sha, sha1 = self.SHA, self.SHA1
        for wrong in (payload_list.Listed(sha.upper(), sha1, 1), payload_list.Listed(sha[1:], sha1, 1),
                      payload_list.Listed(sha, sha1.upper(), 1), payload_list.Listed(sha, sha1 + "0", 1),
                      payload_list.Listed(sha, sha1, -1), payload_list.Listed(sha, sha1, payload_list.MAX_SIZE + 1)):
            self.assertRaises(ValueError, payload_list.render, {"voabc.txt": wrong})
        self.assertTrue(payload_list.render({"voabc.txt": payload_list.Listed(sha, sha1, payload_list.MAX_SIZE)}))
        self.assertEqual(payload_list.path_problem("vorncopy\\a\rb"), "it holds a line break")

    def test_a_list_reads_back_as_written(self):
        sha, sha1, other, other1 = self.SHA, self.SHA1, "f" * 64, "e" * 40
        good = self.HEADER + f"{other} {other1} 0 VOABC.txt\n{sha} {sha1} 12 vorncopy\\A b\n".encode()
        files = {"VOABC.txt": payload_list.Listed(other, other1, 0), "vorncopy\\A b": payload_list.Listed(sha, sha1, 12)}
        self.assertEqual(payload_list.parse(good), files)
        self.assertEqual(payload_list.render(files), good)

    def test_the_shared_cases_are_accepted_or_refused_as_the_table_says(self):
        """The launcher's reader reads the same table (tests/unit/payload_list_test.cpp)."""
        cases = shared_list_cases()
        self.assertGreater(len(cases), 80)
        for accepted, why, data in cases:
            with self.subTest(why):
                if accepted:
                    self.assertEqual(payload_list.render(payload_list.parse(data)), data)
                else:
                    self.assertRaises(payload_list.DamagedList, payload_list.parse, data)

    def test_each_difference_names_its_file(self):
        sha, sha1, other, other1 = self.SHA, self.SHA1, "f" * 64, "e" * 40
        listed = {"voabc.txt": payload_list.Listed(sha, sha1, 1), "vorncopy\\a": payload_list.Listed(sha, sha1, 2),
                  "vorncopy\\b": payload_list.Listed(sha, sha1, 3), "vorncopy\\c": payload_list.Listed(sha, sha1, 4),
                  "vorncopy\\e": payload_list.Listed(sha, other1, 5), "vorncopy\\f": payload_list.Listed(other, sha1, 6)}
        found = {"voabc.txt": payload_list.Listed(sha, sha1, 1), "vorncopy\\a": payload_list.Listed(sha, sha1, 5),
                 "vorncopy\\b": payload_list.Listed(other, other1, 3), "vorncopy\\d": payload_list.Listed(sha, sha1, 4),
                 "vorncopy\\e": payload_list.Listed(sha, sha1, 5), "vorncopy\\f": payload_list.Listed(sha, sha1, 6)}
        self.assertEqual(payload_list.differences(listed, found), [
            "vorncopy\\a holds 5 bytes, the payload list says 2",
            f"vorncopy\\b holds other bytes than the payload list says (SHA-256 {other}, listed {sha})",
            "vorncopy\\c is named by the payload list but missing",
            "vorncopy\\d is not named by the payload list",
            # One digest as listed, the other not: the two kinds of Windows would judge the file differently.
            "the payload list is damaged: its two digests of vorncopy\\e disagree (the file's SHA-256 is as listed,"
            " its SHA-1 is not)",
            "the payload list is damaged: its two digests of vorncopy\\f disagree (the file's SHA-1 is as listed,"
            " its SHA-256 is not)"])
        self.assertEqual(payload_list.differences(listed, dict(listed)), [])

    def test_files_changed_after_hashing_are_named(self):
        self.lay_out({name: b"as hashed" for name in ("same", "appended", "replaced", "touched", "gone")})
        files = {name: self.folder / name for name in ("same", "appended", "replaced", "touched", "gone")}
        before = payload_list.stamps(files)
        with open(files["appended"], "ab") as appended:
            appended.write(b"!")
        (self.folder / "new").write_bytes(b"as hashed")
        (self.folder / "new").replace(files["replaced"])  # same size and bytes, another file
        os.utime(files["touched"], ns=(0, 10**9))
        files["gone"].unlink()
        self.assertIsNone(payload_list.stamps(files)["gone"])
        self.assertEqual(payload_list.changed_since(files, before), ["appended", "gone", "replaced", "touched"])
        self.assertEqual(payload_list.changed_since(files, payload_list.stamps(files)), [])

    def test_the_list_is_resource_301_of_type_rcdata_and_only_that_one(self):
        text = self.HEADER + f"{self.SHA} {self.SHA1} 1 voabc.txt\n".encode()
        others = {3: {1: {1033: b"an icon"}}, 10: {300: {1033: b"other data"}}}
        self.assertEqual(payload_list.from_program(program_with_resources({**others, 10: {300: {1033: b"x"},
                                                                                          301: {1033: text}}})), text)
        self.assertIsNone(payload_list.from_program(program_with_resources(others)))
        self.assertIsNone(payload_list.from_program(program_with_resources({3: {301: {1033: text}}})))
        two = program_with_resources({10: {301: {1033: text, 2052: text}}})
        self.assertRaisesRegex(payload_list.DamagedList, "2 payload lists", payload_list.from_program, two)
        self.assertRaises(payload_list.DamagedList, payload_list.from_program, b"MZ not a program")
        whole = program_with_resources({10: {301: {1033: text}}})
        cut = whole[:whole.index(text) + len(text) // 2]
        self.assertRaisesRegex(payload_list.DamagedList, "ends inside its payload list", payload_list.from_program, cut)

    def test_a_payload_the_medium_cannot_hold_is_refused_and_nothing_is_written(self):
        self.lay_out({name: b"x" for name in ("voabc.txt", "vorncopy/Dao350.dll", "vorncopy/msjter35.dll",
                                              "vorncopy/tarvinxp.exe", "vorncopy/a.dll", "vorncopy/sub/b.dll")})
        (self.folder / "vorncopy" / "sub" / "back").symlink_to(self.folder / "vorncopy")
        with self.assertRaisesRegex(payload.PayloadError, "leads back into a folder that holds it"):
            payload_list.payload_files(payload.find_payload(self.folder))
        files = {"vorncopy\\a.dll": self.folder / "vorncopy" / "a.dll", "vorncopy\\gone": self.folder / "gone",
                 "vorncopy\\sub": self.folder / "vorncopy" / "sub"}
        with self.assertRaises(payload.PayloadError) as raised:
            payload_list.of_files(files)
        self.assertEqual(str(raised.exception).splitlines(), [
            "vorncopy\\gone cannot be read: No such file or directory",
            "vorncopy\\sub cannot be read: Is a directory", "nothing was written"])


class Identifiers(unittest.TestCase):
    COMMIT = "0123456789abcdef0123456789abcdef01234567"

    def test_the_application_identifier_names_version_commit_and_changes_and_reads_back(self):
        clean, changed = build.Source(self.COMMIT, (), 0), build.Source(self.COMMIT, ("M x",), 0)
        self.assertEqual(clean.application_id(True, "1.2.3"), f"TARVIN SETUP MEDIUM 1.2.3, COMMIT {self.COMMIT.upper()}")
        self.assertEqual(changed.application_id(False), clean.application_id(False))
        marked = changed.application_id(True)
        self.assertTrue(marked.endswith(build.UNCOMMITTED_MARK))
        self.assertEqual(build.parse_application_id(marked), build.Origin(self.COMMIT, None, True))
        self.assertEqual(build.parse_application_id(clean.application_id(False, "2.0.0")),
                         build.Origin(self.COMMIT, "2.0.0", False))
        self.assertEqual(build.parse_application_id(build.Source(None, (), 0).application_id(False)),
                         build.Origin(None, None, False))
        self.assertEqual(build.parse_application_id("SOMETHING ELSE"), build.Origin(None, None, False))

    def test_versions_are_three_numbers_up_to_65535(self):
        for version in ("0.0.0", "1.2.3", "65535.65535.65535"):
            build.check_version(version)
        for version in ("1.2", "1.2.3.4", "65536.0.0", "0.0.65536", "01.2.3", "a.b.c", "1.2.3 "):
            self.assertRaises(build.BuildError, build.check_version, version)

    def test_the_build_environment_holds_no_signing_secret(self):
        with mock.patch.dict(os.environ, {"SIGNING_PASSWORD": "p", "SIGNING_PIN": "1", "KEPT": "k"}):
            environment = build.clean_environment(EXTRA="1")
        self.assertEqual((environment["EXTRA"], environment["KEPT"]), ("1", "k"))
        for name in ("SIGNING_PASSWORD", "SIGNING_PIN"):
            self.assertNotIn(name, environment)


class SourceOfAMedium(unittest.TestCase):
    """What build.py reads of a checkout: its commit, changes and date, a version tag, and the build lock."""

    DATE = 1234567890

    def setUp(self):
        self.repo = Path(tempfile.mkdtemp(prefix="medium-units-"))
        self.addCleanup(shutil.rmtree, self.repo)
        self.git("init", "-q")
        (self.repo / "a.txt").write_text("a")
        self.git("add", "a.txt")
        self.git("-c", "user.name=dev", "-c", "user.email=dev@example.com", "commit", "-q", "-m", "one",
                 env={"GIT_COMMITTER_DATE": f"@{self.DATE} +0000", "GIT_AUTHOR_DATE": f"@{self.DATE} +0000"})
        self.commit = self.git("rev-parse", "HEAD").strip()

    def git(self, *arguments, env=None):
        return subprocess.run(["git", "-C", str(self.repo), *arguments], check=True, capture_output=True, text=True,
                              env={**os.environ, **(env or {})}).stdout

    def test_the_commit_its_date_and_the_changes_of_the_working_tree(self):
        with mock.patch.dict(os.environ):
            os.environ.pop("SOURCE_DATE_EPOCH", None)
            self.assertEqual(build.source(self.repo), build.Source(self.commit, (), self.DATE))
            (self.repo / "a.txt").write_text("changed")
            (self.repo / "new").mkdir()
            (self.repo / "new" / "b.txt").write_text("b")
            (self.repo / "c").write_text("a name of one letter")
            self.assertEqual(sorted(build.source(self.repo).changes), ["a.txt", "c", "new/b.txt"])
            # A rename's origin is a field of its own in git's output, not an entry to cut a status from.
            self.git("mv", "a.txt", "renamed.txt")
            self.assertEqual(sorted(build.source(self.repo).changes), ["a.txt", "c", "new/b.txt", "renamed.txt"])
            (self.repo / ".git" / "index").write_bytes(b"not an index")
            self.assertRaisesRegex(build.BuildError, "git status failed", build.source, self.repo)
            outside = Path(tempfile.mkdtemp(prefix="medium-units-"))
            self.addCleanup(shutil.rmtree, outside)
            self.assertEqual(build.source(outside), build.Source(None, (), build.FALLBACK_SOURCE_DATE_EPOCH))
            self.assertEqual(build.FALLBACK_SOURCE_DATE_EPOCH, 946684800)  # 2000-01-01 00:00:00 UTC

    def test_source_date_epoch_overrides_the_date_and_must_be_a_number(self):
        with mock.patch.dict(os.environ, {"SOURCE_DATE_EPOCH": "42"}):
            self.assertEqual(build.source(self.repo).date, 42)
        with mock.patch.dict(os.environ, {"SOURCE_DATE_EPOCH": "-1"}):
            self.assertRaises(build.BuildError, build.source, self.repo)

    def test_a_version_comes_from_the_one_version_tag_on_the_commit(self):
        self.assertIsNone(build.tagged_version(self.commit, self.repo))
        self.assertIsNone(build.tagged_version(None, self.repo))
        self.git("tag", "release-candidate")
        self.git("tag", "v1.2.3")
        self.assertEqual(build.tagged_version(self.commit, self.repo), "1.2.3")
        self.git("tag", "1.2.3")
        self.assertEqual(build.tagged_version(self.commit, self.repo), "1.2.3")
        self.git("tag", "v2.0.0")
        self.assertIsNone(build.tagged_version(self.commit, self.repo))

    def test_the_build_lock_keeps_a_second_build_of_the_folder_out(self):
        folder = self.repo / "two" / "deep" / "win32"  # folders made on the way
        with build.build_lock(folder):
            with open(f"{folder}.lock") as other:
                self.assertRaises(BlockingIOError, fcntl.flock, other, fcntl.LOCK_EX | fcntl.LOCK_NB)
        with open(f"{folder}.lock") as other:
            fcntl.flock(other, fcntl.LOCK_EX | fcntl.LOCK_NB)

    def test_a_second_build_of_the_folder_waits_for_the_first_and_says_so(self):
        folder = self.repo / "win32"
        with build.build_lock(folder):
            pass
        first = open(f"{folder}.lock")
        fcntl.flock(first, fcntl.LOCK_EX)
        entered = threading.Event()

        def second():
            with build.build_lock(folder):
                entered.set()

        waiting = io.StringIO()
        with contextlib.redirect_stderr(waiting):
            thread = threading.Thread(target=second)
            thread.start()
            deadline = time.monotonic() + 30
            while "Waiting" not in waiting.getvalue() and time.monotonic() < deadline:
                time.sleep(0.01)
            self.assertFalse(entered.wait(0.2), "the second build went in while the first held the lock")
            first.close()
            self.assertTrue(entered.wait(30))
            thread.join()
        self.assertEqual(waiting.getvalue(), f"==> Waiting for another build of {folder} to finish\n")


class CertificateTable(unittest.TestCase):
    """Where a program's signature lies and what its digest covers, on unsigned programs that MinGW builds,
    PE32 and PE32+, against pefile's reading of the same headers."""

    @classmethod
    def setUpClass(cls):
        folder = Path(tempfile.mkdtemp(prefix="certificate-table-"))
        cls.addClassCleanup(shutil.rmtree, folder, True)
        (folder / "tiny.c").write_text("int main(void) { return 0; }\n")
        cls.programs = {}
        for machine in ("i686", "x86_64"):
            subprocess.run([f"{machine}-w64-mingw32-gcc", "-s", "-o", str(folder / f"{machine}.exe"),
                            str(folder / "tiny.c")], check=True)
            cls.programs[machine] = (folder / f"{machine}.exe").read_bytes()

    def test_der_lengths_in_every_definite_form_and_each_malformed_header(self):
        for data, offset, expected in (
                (b"\x30\x05", 0, (2, 5)), (b"\x30\x7f", 0, (2, 127)), (b"\x30\x81\x80", 0, (3, 128)),
                (b"\x30\x82\x01\x02", 0, (4, 258)), (b"\x30\x84\x00\x01\x00\x00", 0, (6, 65536)),
                (b"xyz\x30\x03", 3, (2, 3))):
            with self.subTest(data=data):
                self.assertEqual(certificate_table.der_header(data, offset), expected)
        for data, offset in ((b"\x30", 0), (b"xyz\x30\x03", 4), (b"\x30\x80", 0),
                             (b"\x30\x85\x00\x00\x00\x01\x00", 0), (b"\x30\x82\x01", 0)):
            with self.subTest(data=data, offset=offset), self.assertRaises(ValueError):
                certificate_table.der_header(data, offset)

    def test_the_digest_leaves_out_exactly_the_checksum_and_the_table_entry(self):
        import pefile  # Debian's python3-pefile: a reader of the headers that shares nothing with ours
        for machine, program in self.programs.items():
            headers = pefile.PE(data=program, fast_load=True).OPTIONAL_HEADER
            checksum = headers.get_field_absolute_offset("CheckSum")
            entry = headers.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]].get_file_offset()
            where = certificate_table.layout(program)
            self.assertIsNone(certificate_table.signature_der(program), machine)
            self.assertEqual(where.end_of_image, len(program), machine)
            digest = certificate_table.authenticode_digest(program, where)
            self.assertEqual(digest, hashlib.sha256(program[:checksum] + program[checksum + 4:entry]
                                                    + program[entry + 8:]).digest(), machine)
            left_out = set(range(checksum, checksum + 4)) | set(range(entry, entry + 8))
            for offset in sorted(left_out | {checksum - 1, checksum + 4, entry - 1, entry + 8, len(program) - 1}):
                changed = bytearray(program)
                changed[offset] ^= 0xA5
                with self.subTest(machine=machine, offset=offset):
                    self.assertEqual(certificate_table.authenticode_digest(bytes(changed), where) == digest,
                                     offset in left_out)

    def test_each_program_whose_headers_cannot_hold_a_signature_is_refused_by_name(self):
        program = self.programs["i686"]
        pe = struct.unpack_from("<I", program, 0x3C)[0]
        optional = pe + 24
        sections = struct.unpack_from("<H", program, pe + 6)[0]
        optional_size = struct.unpack_from("<H", program, pe + 20)[0]

        def patched(offset: int, form: str, value: int) -> bytes:
            return program[:offset] + struct.pack(form, value) + program[offset + struct.calcsize(form):]

        for name, damaged, refusal in (
                ("no MZ", b"ZM" + program[2:], "does not start with MZ"),
                ("header pointer past the end", patched(0x3C, "<I", len(program)), "no PE signature"),
                ("header pointer cut short", program[:0x3E], "headers are cut short"),
                ("no PE signature", patched(pe, "<I", 0x4C50), "no PE signature"),
                ("a ROM image", patched(optional, "<H", 0x107), "unknown optional header magic 0x107"),
                ("four directories", patched(optional + 92, "<I", 4), "no certificate table entry"),
                ("optional header short of the entry", patched(pe + 20, "<H", 96 + 8 * 4 + 7),
                 "no certificate table entry"),
                ("sections past the end", patched(pe + 6, "<H", sections + 1000), "headers are cut short"),
                ("headers cut short", program[:optional + optional_size - 4], "headers are cut short")):
            with self.subTest(name), self.assertRaisesRegex(certificate_table.Refused, refusal):
                certificate_table.layout(damaged)
        self.assertEqual(certificate_table.layout(patched(optional + 92, "<I", 5)).table, 0)

    def test_each_certificate_table_entry_that_cannot_be_read_is_refused_by_name(self):
        program = self.programs["i686"]
        directory = certificate_table.layout(program).directory
        der = b"\x30\x03\x02\x01\x05"

        def signed(table: bytes, at: int = len(program), size: int | None = None) -> bytes:
            size = len(table) if size is None else size
            return program[:directory] + struct.pack("<II", at, size) + program[directory + 8:] + table

        def entry(content: bytes, length: int | None = None, revision: int = 0x200, kind: int = 2) -> bytes:
            length = 8 + len(content) if length is None else length
            return struct.pack("<IHH", length, revision, kind) + content + bytes(-len(content) % 8)

        for whole in (der, b"\x30\x07\x02\x05" + bytes(range(1, 6))):  # padded with 3 zeros, and with 7
            problems = []
            self.assertEqual(certificate_table.read_table(signed(entry(whole)), problems)[1], whole)
            self.assertEqual(problems, [])
        self.assertEqual(certificate_table.signature_der(signed(entry(der, 16))), der)  # the padding counted in
        past = "points past the end of the file"
        for name, damaged, refusal in (
                ("an entry at 0 with a size", signed(b"", 0, 16), "holds no Authenticode signature"),
                ("a size and no place", signed(entry(der), 0, 0), None),
                ("a place and no size", signed(entry(der), size=0), past),
                ("a table smaller than an entry's header", signed(entry(der)[:7]), past),
                ("a table past the end", signed(entry(der), size=17), past),
                ("a table of a header alone", signed(entry(b"")), "is not DER"),
                ("revision 1", signed(entry(der, revision=0x100)), r"no Authenticode signature \(revision 0x100, "
                                                                   r"type 2\)"),
                ("an X.509 certificate", signed(entry(der, kind=1)), r"\(revision 0x200, type 1\)"),
                ("a length short of its header", signed(entry(der, 7)), "a length that does not fit"),
                ("a length past the table", signed(entry(der, 17)), "a length that does not fit"),
                ("no DER", signed(entry(b"\x30\x80\x00\x00")), "is not DER"),
                ("DER longer than the entry", signed(entry(der, 12)), "is cut short"),
                ("DER longer than its bytes", signed(entry(b"\x30\x04\x02\x01\x05")), "is cut short")):
            with self.subTest(name):
                if refusal is None:
                    self.assertIsNone(certificate_table.signature_der(damaged))
                    continue
                with self.assertRaisesRegex(certificate_table.Refused, refusal):
                    certificate_table.signature_der(damaged)


EPOCH = 1234567890  # 2009-02-13 23:31:30 UTC


def setUpModule():
    global FOLDER, IMAGE, FILES
    FOLDER = Path(tempfile.mkdtemp(prefix="medium-units-"))
    tree = FOLDER / "tree"
    FILES = {"setup.exe": b"MZ" + bytes(3000), "vorncopy/Dao350.dll": b"dao" * 1000,
             "vorncopy/数据库/安装说明.txt": "中文".encode("gbk"), "vorncopy/empty.txt": b""}
    for name, content in FILES.items():
        (tree / name).parent.mkdir(parents=True, exist_ok=True)
        (tree / name).write_bytes(content)
    IMAGE = FOLDER / "small.iso"
    subprocess.run(["xorriso", "-abort_on", "FAILURE", "-outdev", str(IMAGE), "-joliet", "on", "-rockridge", "on",
                    "-padding", "0", "-iso_nowtime", f"={EPOCH}", "-volume_date", "all_file_dates", f"={EPOCH}",
                    "-volid", "SMALL_VOLUME", "-application_id", "TARVIN SETUP MEDIUM 1.2.3, COMMIT NONE",
                    "-map", str(tree), "/"], check=True, capture_output=True,
                   env={**os.environ, "SOURCE_DATE_EPOCH": str(EPOCH)})


def tearDownModule():
    shutil.rmtree(FOLDER, True)


class ImageReader(unittest.TestCase):
    def test_every_tree_holds_every_file_with_its_bytes(self):
        image = iso9660.read_image(IMAGE)
        self.assertEqual((image.volume_id, image.application_id, image.joliet_volume_id, image.udf),
                         ("SMALL_VOLUME", "TARVIN SETUP MEDIUM 1.2.3, COMMIT NONE", "SMALL_VOLUME", False))
        self.assertLessEqual(image.volume_end, image.size)
        self.assertEqual(image.volume_end % 2048, 0)
        for tree in (iso9660.JOLIET, iso9660.ROCK_RIDGE):
            files = image.files(tree)
            self.assertEqual(sorted(files), sorted(FILES), tree)
            for name, content in FILES.items():
                self.assertEqual(image.read(files[name]), content, (tree, name))
                self.assertEqual(files[name].size, len(content))
        self.assertIn("vorncopy/数据库", image.trees[iso9660.JOLIET])
        self.assertTrue(image.trees[iso9660.JOLIET]["vorncopy/数据库"].is_folder)
        plain = image.files(iso9660.ISO_9660)
        self.assertEqual(len(plain), len(FILES))
        self.assertIn("SETUP.EXE", {name.upper() for name in plain})

    def test_every_byte_belongs_to_a_file_or_a_named_region(self):
        image = iso9660.read_image(IMAGE)
        dao = image.files(iso9660.JOLIET)["vorncopy/Dao350.dll"]
        start = dao.extents[0][0]
        self.assertEqual(sorted(iso9660.what_holds(image, start)),
                         sorted(f"{tree} file {path}" for tree, path in (
                             (iso9660.ISO_9660, next(p for p in image.files(iso9660.ISO_9660) if "DAO" in p.upper())),
                             (iso9660.ROCK_RIDGE, "vorncopy/Dao350.dll"), (iso9660.JOLIET, "vorncopy/Dao350.dll"))))
        self.assertEqual(iso9660.what_holds(image, 0), ["system area (sectors 0-15)"])
        self.assertEqual(iso9660.what_holds(image, 16 * 2048)[0].split(" (")[0], "volume descriptor")
        for region in image.regions:
            self.assertLess(region.start, region.end)
            self.assertLessEqual(region.end, image.size)

    def test_what_is_no_image_is_refused_by_name(self):
        short = FOLDER / "short.iso"
        short.write_bytes(bytes(16 * 2048 + 100))
        with self.assertRaisesRegex(iso9660.ImageError, "too short"):
            iso9660.read_image(short)
        blank = FOLDER / "blank.iso"
        blank.write_bytes(bytes(40 * 2048))
        self.assertRaises(iso9660.ImageError, iso9660.read_image, blank)
        cut = FOLDER / "cut.iso"
        cut.write_bytes(IMAGE.read_bytes()[:IMAGE.stat().st_size // 2])
        self.assertRaises(iso9660.ImageError, iso9660.read_image, cut)

    def test_a_tree_extracted_holds_its_files_but_those_left_out(self):
        image = iso9660.read_image(IMAGE)
        destination = image.extract(iso9660.JOLIET, FOLDER / "extracted", leave_out=("setup.exe",))
        self.assertEqual(destination, FOLDER / "extracted")
        found = {path.relative_to(destination).as_posix(): path.read_bytes()
                 for path in destination.rglob("*") if path.is_file()}
        self.assertEqual(found, {name: content for name, content in FILES.items() if name != "setup.exe"})
        self.assertTrue((destination / "vorncopy" / "数据库").is_dir())

    def test_dates_are_read_in_utc_from_every_record(self):
        image = iso9660.read_image(IMAGE)
        when = datetime.datetime.fromtimestamp(EPOCH, datetime.timezone.utc)
        for tree in (iso9660.ISO_9660, iso9660.JOLIET, iso9660.ROCK_RIDGE):
            for path, entry in image.trees[tree].items():
                self.assertEqual(entry.recorded, when, (tree, path))
        for entry in image.files(iso9660.ROCK_RIDGE).values():
            self.assertEqual(entry.modified, when)
            self.assertEqual(entry.mode & 0o170000, 0o100000)
        self.assertEqual(image.volume_created[:14], "20090213233130")
        # A record whose date is no date reads as 1900-01-01; one 8 hours east of UTC, as UTC.
        self.assertEqual(iso9660._date7(bytes([109, 2, 14, 7, 31, 30, 32])), when)
        self.assertEqual(iso9660._date7(bytes([109, 13, 1, 0, 0, 0, 0])),
                         datetime.datetime(1900, 1, 1, tzinfo=datetime.timezone.utc))

    def test_path_tables_and_folders_are_named_regions(self):
        image = iso9660.read_image(IMAGE)
        primary = IMAGE.read_bytes()[16 * 2048:17 * 2048]
        sectors = [int.from_bytes(primary[offset:offset + 4], order) for offset, order in (
            (140, "little"), (144, "little"), (148, "big"), (152, "big"))]
        self.assertTrue(sectors[0] and sectors[2])  # the mandatory tables; the optional copies may be absent
        for sector in filter(None, sectors):
            self.assertIn("ISO 9660 path table", iso9660.what_holds(image, sector * 2048))
        for tree in (iso9660.ISO_9660, iso9660.JOLIET):
            for path, entry in image.trees[tree].items():
                if entry.is_folder:
                    self.assertIn(f"{tree} folder /{path}", iso9660.what_holds(image, entry.extents[0][0]))

    def test_data_past_the_volume_is_a_region_of_its_own(self):
        longer = FOLDER / "longer.iso"
        longer.write_bytes(IMAGE.read_bytes() + b"tail")
        image = iso9660.read_image(longer)
        self.assertEqual(iso9660.what_holds(image, image.size - 1), ["data past the volume's end"])
        self.assertEqual(image.volume_end, iso9660.read_image(IMAGE).volume_end)
        self.assertEqual(iso9660.what_holds(image, image.volume_end), ["data past the volume's end"])
        self.assertNotIn("data past the volume's end", iso9660.what_holds(image, image.volume_end - 1))


if __name__ == "__main__":
    unittest.main()
