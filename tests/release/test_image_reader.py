"""The medium tooling's image reader on images that xorriso writes and then changed by hand the ways that
other writers lay out a disc: a file in several extents, Rock Ridge fields behind the SP entry's skip,
and a Rock Ridge name spread over several NM entries. Each reading is checked against pycdlib where that
reader reads the layout (medium_image.read_checked), else against the reading of the unchanged image."""

import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path
from unittest import mock

import medium_image
from medium_image import ISO_9660, JOLIET, ROCK_RIDGE

import iso9660

sys.path.insert(0, str(medium_image.REPO_ROOT / "tools"))
import crafted_image  # noqa: E402

SECTOR = iso9660.SECTOR
WIDE_FILES = 120
# How deep the reader follows folders: written out here, as the images are made from it.
DEPTH_LIMIT = 64


def xorriso(folder: Path, image: Path, *options: str) -> Path:
    subprocess.run(["xorriso", "-no_rc", "-report_about", "WARNING", "-outdev", f"stdio:{image}", "-blank", "as_needed",
                    *options, "-map", str(folder), "/", "-commit"], check=True, capture_output=True)
    return image


def system_use_start(record: bytes) -> int:
    return 33 + record[32] + (1 - record[32] % 2)


def rewrite_records(data: bytearray, folders: list[tuple[int, int]], change) -> None:
    """Every directory record in the folders' sectors replaced by change(record, first_of_root)."""
    for number, (offset, length) in enumerate(folders):
        for sector in range(offset, offset + length, SECTOR):
            records, position = [], sector
            while position < sector + SECTOR and data[position]:
                records.append(bytes(data[position : position + data[position]]))
                position += data[position]
            new = b"".join(change(record, number == 0 and sector == offset and index == 0)
                           for index, record in enumerate(records))
            assert len(new) <= SECTOR, "the changed records no longer fit their sector"
            data[sector : sector + SECTOR] = new.ljust(SECTOR, b"\0")


def both_orders(value: int) -> bytes:
    return struct.pack("<I", value) + struct.pack(">I", value)


def folder_extents(image: iso9660.Image) -> list[tuple[int, int]]:
    """The folders' extents, the root's first."""
    return [entry.extents[0] for _, entry in sorted(image.trees[ISO_9660].items()) if entry.is_folder]


def system_use_entries(record: bytes):
    position = system_use_start(record)
    while position + 4 <= len(record) and record[position + 2] >= 4:
        yield position, record[position : position + 2], record[position : position + record[position + 2]]
        position += record[position + 2]


def setUpModule():
    # Made once for the module: the cases only read these images or write changed copies of them.
    global FOLDER, ROCK_RIDGE_IMAGE, PLAIN_IMAGE, LONG_NAME_IMAGE, DEEP_IMAGE, NESTED_IMAGES, WIDE_IMAGE, OWNED_IMAGE
    FOLDER = Path(tempfile.mkdtemp(prefix="image-reader-"))
    payload = FOLDER / "payload"
    (payload / "vorncopy" / "deeper").mkdir(parents=True)
    (payload / "voabc.txt").write_bytes(b"notes\r\n")
    (payload / "vorncopy" / "a1.bin").write_bytes(bytes(range(256)) * 16)  # two whole sectors
    (payload / "vorncopy" / "a2.bin").write_bytes(b"the second extent")
    (payload / "vorncopy" / "readme").write_bytes(b"a name without an extension")
    ROCK_RIDGE_IMAGE = xorriso(payload, FOLDER / "rock-ridge.iso", "-joliet", "on", "-rockridge", "on")
    PLAIN_IMAGE = xorriso(payload, FOLDER / "plain.iso", "-rockridge", "off")
    # xorriso spreads a long name over an NM entry in the record and one in a continuation area.
    (payload / "vorncopy" / "deeper" / ("long name " * 24 + ".txt")).write_bytes(b"a name in several NM entries")
    LONG_NAME_IMAGE = xorriso(payload, FOLDER / "long-name.iso", "-joliet", "on", "-rockridge", "on")
    # Deeper than eight folders: the plain tree has the deepest folder moved to its root, Rock Ridge's CL and
    # RE entries put it back.
    deep = FOLDER / "deep"
    (deep / "a/b/c/d/e/f/g/h/i/j").mkdir(parents=True)
    (deep / "a/b/c/d/e/f/g/h/i/j/deep.txt").write_bytes(b"nine folders down\n")
    # A folder whose records fill more than one sector.
    (FOLDER / "wide").mkdir()
    for number in range(WIDE_FILES):
        (FOLDER / "wide" / f"file{number:03}.txt").write_bytes(b"%d" % number)
    WIDE_IMAGE = xorriso(FOLDER / "wide", FOLDER / "wide.iso", "-rockridge", "off")
    # Files of an owner and a group other than the one that makes the image.
    OWNED_IMAGE = FOLDER / "owned.iso"
    subprocess.run(["xorriso", "-no_rc", "-report_about", "WARNING", "-outdev", f"stdio:{OWNED_IMAGE}", "-blank",
                    "as_needed", "-rockridge", "on", "-map", str(payload), "/", "-chown_r", "1234", "/", "--",
                    "-chgrp_r", "5678", "/", "--", "-commit"], check=True, capture_output=True)
    # Folders nested as deep as the reader follows them, and one deeper.
    for depth in (DEPTH_LIMIT, DEPTH_LIMIT + 1):
        (FOLDER / f"nested-{depth}" / "/".join(["f"] * depth)).mkdir(parents=True)
    NESTED_IMAGES = [xorriso(FOLDER / f"nested-{depth}", FOLDER / f"nested-{depth}.iso", "-rockridge", "off")
                     for depth in (DEPTH_LIMIT, DEPTH_LIMIT + 1)]
    DEEP_IMAGE = xorriso(deep, FOLDER / "deep.iso", "-compliance", "deep_paths_off", "-joliet", "on", "-rockridge", "on")


def tearDownModule():
    shutil.rmtree(FOLDER, True)


class ImageReader(unittest.TestCase):
    def changed(self, source: Path, name: str, change) -> Path:
        data = bytearray(source.read_bytes())
        rewrite_records(data, folder_extents(iso9660.read_image(source)), change)
        changed = FOLDER / name
        changed.write_bytes(bytes(data))
        return changed

    def test_same_named_records_are_one_file_only_with_the_multi_extent_flag(self):
        original = medium_image.read_checked(PLAIN_IMAGE).trees[ISO_9660]
        first, second = original["VORNCOPY/A1.BIN"].extents[0], original["VORNCOPY/A2.BIN"].extents[0]

        def rename(flag: int):
            def change(record: bytes, first_of_root: bool) -> bytes:
                name = record[33 : 33 + record[32]]
                if name == b"A1.BIN;1":
                    return record[:25] + bytes([record[25] | flag]) + record[26:]
                return record.replace(b"A2.BIN;1", b"A1.BIN;1") if name == b"A2.BIN;1" else record
            return change

        continued = self.changed(PLAIN_IMAGE, "multi-extent.iso", rename(iso9660.MULTI_EXTENT))
        files = medium_image.read_checked(continued).trees[ISO_9660]
        self.assertEqual(files["VORNCOPY/A1.BIN"].extents, [first, second])
        self.assertNotIn("VORNCOPY/A2.BIN", files)
        twice = self.changed(PLAIN_IMAGE, "named-twice.iso", rename(0))
        with self.assertRaisesRegex(iso9660.ImageError, "names /VORNCOPY/A1.BIN twice"):
            iso9660.read_image(twice)

        def last_continued(record: bytes, first_of_root: bool) -> bytes:
            if record[33 : 33 + record[32]] == b"A2.BIN;1":
                return record[:25] + bytes([record[25] | iso9660.MULTI_EXTENT]) + record[26:]
            return record

        unfinished = self.changed(PLAIN_IMAGE, "unfinished.iso", last_continued)
        with self.assertRaisesRegex(iso9660.ImageError, "A2.BIN has the multi-extent flag, but the next record"):
            iso9660.read_image(unfinished)

        def last_of_its_folder(record: bytes, first_of_root: bool) -> bytes:
            if record[33 : 33 + record[32]] == b"DEEP.TXT;1":
                return record[:25] + bytes([record[25] | iso9660.MULTI_EXTENT]) + record[26:]
            return record

        with self.assertRaisesRegex(iso9660.ImageError, "DEEP.TXT has the multi-extent flag, but its folder ends"):
            iso9660.read_image(self.changed(DEEP_IMAGE, "folder-ends.iso", last_of_its_folder))

    def test_rock_ridge_fields_behind_the_sp_skip_give_the_same_names(self):
        original = medium_image.read_checked(ROCK_RIDGE_IMAGE)
        skip = 4

        def behind_skip(record: bytes, first_of_root: bool) -> bytes:
            start = system_use_start(record)
            if first_of_root:
                self.assertEqual(record[start : start + 2], b"SP")
                return record[: start + 6] + bytes([skip]) + record[start + 7 :]
            return bytes([record[0] + skip]) + record[1:start] + b"\xaa" * skip + record[start:]

        skipped = iso9660.read_image(self.changed(ROCK_RIDGE_IMAGE, "sp-skip.iso", behind_skip))
        for tree in (ROCK_RIDGE, ISO_9660):
            self.assertEqual({path: (entry.extents, entry.mode) for path, entry in skipped.trees[tree].items()},
                             {path: (entry.extents, entry.mode) for path, entry in original.trees[tree].items()})

    def test_a_name_in_several_nm_entries_ends_at_the_entry_without_continue(self):
        original = medium_image.read_checked(ROCK_RIDGE_IMAGE)
        self.assertIn("voabc.txt", original.trees[ROCK_RIDGE])

        def split(flags: tuple[int, int], then: bytes = b"c.txt"):
            def change(record: bytes, first_of_root: bool) -> bytes:
                for position, signature, entry in system_use_entries(record):
                    if signature == b"NM" and entry[5:] == b"voabc.txt":
                        parts = b"NM" + bytes([9, 1, flags[0]]) + b"voab" + b"NM" + bytes([5 + len(then), 1, flags[1]]) + then
                        return bytes([record[0] + len(parts) - len(entry)]) + record[1:position] + parts + \
                            record[position + len(entry) :]
                return record
            return change

        continued = medium_image.read_checked(self.changed(ROCK_RIDGE_IMAGE, "nm-continued.iso", split((1, 0))))
        self.assertEqual(set(continued.trees[ROCK_RIDGE]), set(original.trees[ROCK_RIDGE]))
        self.assertIn(f"vorncopy/deeper/{'long name ' * 24}.txt", medium_image.read_checked(LONG_NAME_IMAGE).trees[ROCK_RIDGE])
        def nameless(record: bytes, first_of_root: bool) -> bytes:
            for position, signature, entry in system_use_entries(record):
                if signature == b"NM" and entry[5:] == b"voabc.txt":
                    return record[:position] + b"XX" + record[position + 2 :]
            return record

        with self.assertRaisesRegex(iso9660.ImageError, "the Rock Ridge names leave /VOABC.TXT without a name of its own"):
            iso9660.read_image(self.changed(ROCK_RIDGE_IMAGE, "nameless.iso", nameless))
        refused = {"a second name after the last part": ((0, 0), "goes on after its last part"),
                   "a name that never ends": ((1, 1), "says it goes on, but ends"),
                   "the folder's own name": ((1, 2), "flags 0x2")}
        for case, (flags, message) in refused.items():
            with self.subTest(case):
                with self.assertRaisesRegex(iso9660.ImageError, message):
                    iso9660.read_image(self.changed(ROCK_RIDGE_IMAGE, "nm.iso", split(flags)))

    def test_file_records_are_read_by_their_flags_and_extents_and_refused_outside_the_image(self):
        size = PLAIN_IMAGE.stat().st_size
        original = medium_image.read_checked(PLAIN_IMAGE).trees[ISO_9660]
        start = original["VORNCOPY/A2.BIN"].extents[0][0]

        def a2(flags: int = 0, extent: int | None = None, length: int | None = None):
            def change(record: bytes, first_of_root: bool) -> bytes:
                if record[33 : 33 + record[32]] != b"A2.BIN;1":
                    return record
                sector = start // SECTOR if extent is None else extent
                bytes_ = struct.unpack_from("<I", record, 10)[0] if length is None else length
                return (record[:2] + both_orders(sector) + both_orders(bytes_)
                        + record[18:25] + bytes([record[25] | flags]) + record[26:])
            return change

        # The hidden flag makes a file neither a folder nor a file in several extents.
        hidden = iso9660.read_image(self.changed(PLAIN_IMAGE, "hidden.iso", a2(flags=0x01))).trees[ISO_9660]
        self.assertEqual((hidden["VORNCOPY/A2.BIN"].is_folder, hidden["VORNCOPY/A2.BIN"].extents),
                         (False, original["VORNCOPY/A2.BIN"].extents))
        self.assertEqual(set(hidden), set(original))
        # Other writers give an empty file the extent 0.
        empty = iso9660.read_image(self.changed(PLAIN_IMAGE, "empty.iso", a2(extent=0, length=0)))
        self.assertEqual(empty.read(empty.trees[ISO_9660]["VORNCOPY/A2.BIN"]), b"")
        # A file may end at the image's last byte, and not one byte further.
        last = iso9660.read_image(self.changed(PLAIN_IMAGE, "last.iso", a2(length=size - start)))
        self.assertEqual(last.trees[ISO_9660]["VORNCOPY/A2.BIN"].size, size - start)
        for case, change in {"one byte past the end": a2(length=size - start + 1),
                             "wholly past the end": a2(extent=size // SECTOR + 10)}.items():
            with self.subTest(case):
                with self.assertRaisesRegex(iso9660.ImageError, "file /VORNCOPY/A2.BIN lies outside the image"):
                    iso9660.read_image(self.changed(PLAIN_IMAGE, "outside.iso", change))

    def test_files_are_read_in_blocks_and_extracted_with_empty_folders(self):
        image = iso9660.read_image(PLAIN_IMAGE)
        entry = image.trees[ISO_9660]["VORNCOPY/A2.BIN"]
        self.assertEqual(list(image.blocks(entry, 2))[-2:], [b"en", b"t"])
        self.assertEqual(b"".join(image.blocks(entry, 2)), b"the second extent")
        destination = image.extract(ISO_9660, FOLDER / "extracted")
        self.assertTrue((destination / "VORNCOPY" / "DEEPER").is_dir())
        self.assertEqual((destination / "VORNCOPY" / "A2.BIN").read_bytes(), b"the second extent")
        # An image cut short after it was read: its file is refused, never read as empty or without end.
        cut = FOLDER / "cut.iso"
        cut.write_bytes(PLAIN_IMAGE.read_bytes())
        image = iso9660.read_image(cut)
        entry = image.trees[ISO_9660]["VORNCOPY/A2.BIN"]
        with open(cut, "r+b") as file:
            file.truncate(entry.extents[0][0] + 4)
        with self.assertRaisesRegex(iso9660.ImageError, "ends inside the file /VORNCOPY/A2.BIN"):
            image.read(entry)

    def test_a_file_too_large_to_be_read_whole_is_refused_before_it_is_read(self):
        # A sparse image whose second file claims more than the limit: read in blocks it is fine, read whole
        # (as setup.exe and autorun.inf are) it would fill the checker's memory.
        sparse = FOLDER / "sparse.iso"
        sparse.write_bytes(PLAIN_IMAGE.read_bytes())
        entry = iso9660.read_image(sparse).trees[ISO_9660]["VORNCOPY/A2.BIN"]
        start = entry.extents[0][0]
        with open(sparse, "r+b") as file:
            file.truncate(start + iso9660.WHOLE_FILE_LIMIT + SECTOR)
        image = iso9660.read_image(sparse)
        big = iso9660.Entry(entry.path, False, [(start, iso9660.WHOLE_FILE_LIMIT + 1)], entry.recorded)
        self.assertEqual(sum(map(len, image.blocks(big))), iso9660.WHOLE_FILE_LIMIT + 1)
        with self.assertRaisesRegex(iso9660.ImageError, r"/VORNCOPY/A2.BIN is 67,108,865 bytes, more than the"):
            image.read(big)
        sparse.unlink()

    def test_descriptors_that_are_none_or_never_end_are_no_image(self):
        blank = FOLDER / "blank.iso"
        blank.write_bytes(bytes(40 * SECTOR))
        with self.assertRaisesRegex(iso9660.ImageError, "sector 16 holds no volume descriptor"):
            iso9660.read_image(blank)
        endless = FOLDER / "endless.iso"
        endless.write_bytes(bytes(16 * SECTOR) + b"\1CD001\1".ljust(SECTOR, b"\0") * 400)
        with self.assertRaisesRegex(iso9660.ImageError, "the volume descriptors never end"):
            iso9660.read_image(endless)

    def test_a_udf_recognition_sequence_is_found_and_named(self):
        # genisoimage writes a UDF bridge: BEA01, NSR02 and TEA01 right after the ISO 9660 terminator.
        bridge = FOLDER / "udf.iso"
        subprocess.run(["genisoimage", "-quiet", "-udf", "-J", "-R", "-o", str(bridge), str(FOLDER / "payload")],
                       check=True, capture_output=True)
        image = medium_image.read_checked(bridge)
        self.assertTrue(image.udf)
        self.assertFalse(iso9660.read_image(PLAIN_IMAGE).udf)
        terminator = next(sector for sector in range(16, 32)
                          if bridge.read_bytes()[sector * SECTOR] == 255)
        for sector, tag in enumerate((b"BEA01", b"NSR02", b"TEA01"), terminator + 1):
            self.assertEqual(bridge.read_bytes()[sector * SECTOR + 1 : sector * SECTOR + 6], tag)
            self.assertEqual(iso9660.what_holds(image, sector * SECTOR), [f"UDF recognition sequence (sector {sector})"])
        self.assertNotIn("UDF", " ".join(iso9660.what_holds(image, (terminator + 4) * SECTOR)))
        # A recognition sequence without its NSR descriptor announces no UDF volume.
        data = bytearray(bridge.read_bytes())
        data[(terminator + 2) * SECTOR + 1 : (terminator + 2) * SECTOR + 6] = b"BEA01"
        (FOLDER / "no-nsr.iso").write_bytes(bytes(data))
        self.assertFalse(iso9660.read_image(FOLDER / "no-nsr.iso").udf)

    def test_path_tables_must_agree_with_each_other_and_with_the_folders(self):
        data = PLAIN_IMAGE.read_bytes()
        primary = data[16 * SECTOR : 17 * SECTOR]
        tables = {order: struct.unpack_from(f"{order}I", primary, at)[0] * SECTOR for at, order in ((140, "<"), (148, ">"))}

        def second_record(table: int) -> int:  # the first folder below the root
            return table + 8 + data[table] + data[table] % 2

        def changed(name: str, orders: str, extent_change: int = 0, parent: int | None = None) -> Path:
            image = bytearray(data)
            for order in orders:
                record = second_record(tables[order])
                extent, number = struct.unpack_from(f"{order}IH", image, record + 2)
                struct.pack_into(f"{order}IH", image, record + 2, extent + extent_change,
                                 number if parent is None else parent)
            (FOLDER / name).write_bytes(bytes(image))
            return FOLDER / name

        self.assertEqual(data[second_record(tables["<"]) + 8 : second_record(tables["<"]) + 16], b"VORNCOPY")

        def optional_copies(name: str, little: int, big: int, mandatory: tuple[int, int] | None = None) -> Path:
            """The optional copies' sectors, and the mandatory tables' if given."""
            image = bytearray(data)
            if mandatory is not None:
                struct.pack_into("<I", image, 16 * SECTOR + 140, mandatory[0] // SECTOR)
                struct.pack_into(">I", image, 16 * SECTOR + 148, mandatory[1] // SECTOR)
            struct.pack_into("<I", image, 16 * SECTOR + 144, little // SECTOR)
            struct.pack_into(">I", image, 16 * SECTOR + 152, big // SECTOR)
            (FOLDER / name).write_bytes(bytes(image))
            return FOLDER / name

        self.assertEqual(struct.unpack_from("<I", primary, 144) + struct.unpack_from(">I", primary, 152), (0, 0))
        copies = iso9660.read_image(optional_copies("copies.iso", tables["<"], tables[">"]))
        self.assertEqual(set(copies.trees[ISO_9660]), set(iso9660.read_image(PLAIN_IMAGE).trees[ISO_9660]))
        refused = {"one copy points elsewhere": (changed("disagree.iso", ">", 1), "path tables disagree with each other"),
                   "a copy past the image's end": (optional_copies("past.iso", len(data) + 10 * SECTOR, tables[">"]),
                                                   "ISO 9660 path table lies outside the image"),
                   # Read in its own order, a copy in the other order names parents of no record.
                   "an optional copy in the other order": (optional_copies("swapped.iso", tables[">"], tables[">"]),
                                                            "record 2 has no parent"),
                   "the other optional copy in the other order": (optional_copies("swapped2.iso", tables["<"], tables["<"]),
                                                                  "record 2 has no parent"),
                   "both point elsewhere": (changed("elsewhere.iso", "<>", 1), "does not name the folder /VORNCOPY as"),
                   "no little-endian table": (optional_copies("no-little.iso", 0, 0, mandatory=(0, tables[">"])),
                                              "ISO 9660 descriptor gives no little-endian path table"),
                   "no big-endian table": (optional_copies("no-big.iso", 0, 0, mandatory=(tables["<"], 0)),
                                           "ISO 9660 descriptor gives no big-endian path table"),
                   "a parent of no record": (changed("orphan.iso", "<>", parent=0), "record 2 has no parent"),
                   "itself as its parent": (changed("later.iso", "<>", parent=2), "record 2 has no parent")}
        for case, (image, message) in refused.items():
            with self.subTest(case):
                with self.assertRaisesRegex(iso9660.ImageError, message):
                    iso9660.read_image(image)

    def test_a_relocated_folder_is_read_where_rock_ridge_puts_it_back(self):
        # Not checked against pycdlib, which lists the moved folder at the root as well, unlike Linux.
        image = iso9660.read_image(DEEP_IMAGE)
        deep = "a/b/c/d/e/f/g/h/i/j/deep.txt"
        self.assertEqual(set(image.trees[ROCK_RIDGE]), set(image.trees[JOLIET]))
        self.assertTrue(image.trees[ROCK_RIDGE]["a/b/c/d/e/f/g/h"].is_folder)
        self.assertEqual(image.read(image.trees[ROCK_RIDGE][deep]), b"nine folders down\n")
        self.assertEqual(image.trees[ROCK_RIDGE][deep].extents, image.trees[JOLIET][deep].extents)
        self.assertIn("H/I/J/DEEP.TXT", image.trees[ISO_9660])

    def test_folders_that_loop_or_records_that_break_are_refused(self):
        root = iso9660.read_image(PLAIN_IMAGE).trees[ISO_9660][""].extents[0][0] // SECTOR

        def deeper(change_record):
            def change(record: bytes, first_of_root: bool) -> bytes:
                return change_record(record) if record[33 : 33 + record[32]] == b"DEEPER" else record
            return change

        def named(name: bytes):
            def change(record: bytes, first_of_root: bool) -> bytes:
                return record.replace(b"A2.BIN;1", name) if record[33 : 33 + record[32]] == b"A2.BIN;1" else record
            return change

        refused = {
            "a folder that is its own ancestor": (deeper(lambda record: record[:2] + both_orders(root) + record[10:]),
                                                  "reaches the folder at byte .* twice"),
            "a folder in several extents": (deeper(lambda record: record[:25] + bytes([record[25] | 0x80]) + record[26:]),
                                            "folder /VORNCOPY/DEEPER has the multi-extent flag of a file"),
            "a record too short to hold its fields": (deeper(lambda record: bytes([33]) + record[1:]),
                                                      "a broken directory record in the ISO 9660 folder /VORNCOPY at"),
            "a name with a slash": (named(b"A2/BIN;1"), "has an entry with the name 'A2/BIN' in /VORNCOPY"),
            "a name of a dot": (named(b".;1\0\0\0\0\0"), "has an entry with the name '' in /VORNCOPY"),
            "a name with a NUL": (named(b"A2\0BIN;1"), "NUL in its name 'A2.x00BIN' in /VORNCOPY"),
        }
        for case, (change, message) in refused.items():
            with self.subTest(case):
                with self.assertRaisesRegex(iso9660.ImageError, message):
                    iso9660.read_image(self.changed(PLAIN_IMAGE, "refused.iso", change))

        for old, new, message in ((b"l", b"\0", "NUL in its name"), (b"n", b"\xff", "longer than 255 bytes")):
            def change(record, first_of_root, old=old, new=new):  # the Rock Ridge name of 244 characters
                return record.replace(old, new) if b"long name" in record else record
            with self.subTest(message), \
                    self.assertRaisesRegex(iso9660.ImageError, f"Rock Ridge tree has an .*{message}"):
                iso9660.read_image(self.changed(LONG_NAME_IMAGE, "refused.iso", change))

    def test_shared_folders_and_continuation_areas_are_refused_before_they_are_read_again(self):
        crafted, reads, read = crafted_image.quadratic(FOLDER / "quadratic.iso", 0.2), [], iso9660._Reader.read
        with mock.patch.object(iso9660._Reader, "read",
                               lambda *arguments: reads.append(arguments[2]) or read(*arguments)):
            with self.assertRaisesRegex(iso9660.ImageError, "the ISO 9660 folder /D0... shares sectors with another"):
                iso9660.read_image(crafted)
        self.assertLess(sum(reads), iso9660.MAX_READS * crafted.stat().st_size)
        root = next(r.start for r in iso9660.read_image(LONG_NAME_IMAGE).regions if r.what.endswith("area of /"))
        for offset, length, message in ((root % SECTOR + 1, 1, "shares bytes with another Rock Ridge continuation"),
                                        (SECTOR - 8, 16, "crosses the end of its sector")):
            def change(record, first_of_root, at=[offset, length]):  # the long name's area, moved
                ce = record.find(b"CE\x1c\x01")
                return record if ce < 0 or first_of_root else \
                    record[: ce + 4] + b"".join(map(both_orders, [root // SECTOR, *at])) + record[ce + 28 :]
            with self.subTest(message), self.assertRaisesRegex(iso9660.ImageError, message):
                iso9660.read_image(self.changed(LONG_NAME_IMAGE, "continued.iso", change))
        reader = iso9660._Reader(PLAIN_IMAGE)
        self.addCleanup(reader.file.close)
        with self.assertRaisesRegex(iso9660.ImageError, "would read sector 1[67] more than"):
            for _ in range(iso9660.MAX_READS + 1):
                reader.read(16 * SECTOR + 100, SECTOR, "a sector read once more")

    def test_folders_are_followed_to_the_depth_limit_and_no_deeper(self):
        deepest, too_deep = NESTED_IMAGES
        self.assertIn("/".join(["F"] * DEPTH_LIMIT), iso9660.read_image(deepest).trees[ISO_9660])
        with self.assertRaisesRegex(iso9660.ImageError, f"the ISO 9660 tree is deeper than {DEPTH_LIMIT} folders"):
            iso9660.read_image(too_deep)

    def test_a_folder_of_several_sectors_is_read_past_each_sectors_padding(self):
        image = medium_image.read_checked(WIDE_IMAGE)
        self.assertGreater(image.trees[ISO_9660][""].extents[0][1], 2 * SECTOR)
        files = image.files(ISO_9660)
        self.assertEqual(len(files), WIDE_FILES)
        self.assertEqual(image.read(files[f"FILE{WIDE_FILES - 1:03}.TXT"]), b"%d" % (WIDE_FILES - 1))

    def test_a_name_without_extension_and_the_roots_continuation_area(self):
        # The plain name is recorded as "README.;1": the version and the dot before it are no part of it.
        plain = medium_image.read_checked(PLAIN_IMAGE)
        self.assertIn(b"README.;1", PLAIN_IMAGE.read_bytes())
        self.assertEqual(plain.read(plain.trees[ISO_9660]["VORNCOPY/README"]), b"a name without an extension")
        image = medium_image.read_checked(ROCK_RIDGE_IMAGE)
        self.assertEqual(image.read(image.trees[JOLIET]["vorncopy/readme"]), b"a name without an extension")
        # The root's own record continues its Rock Ridge fields elsewhere: that area is named, not a file's.
        areas = [region for region in image.regions if region.what == "Rock Ridge continuation area of /"]
        self.assertEqual(len(areas), 1)
        self.assertEqual(iso9660.what_holds(image, areas[0].start), ["Rock Ridge continuation area of /"])

    def test_rock_ridge_gives_each_file_its_mode_owner_and_group(self):
        image = medium_image.read_checked(OWNED_IMAGE)
        self.assertGreater(len(image.trees[ROCK_RIDGE]), 5)
        for path, entry in image.trees[ROCK_RIDGE].items():
            if not path:
                continue  # the root is named by no record of its own
            self.assertEqual((entry.owner, entry.group), (1234, 5678), path)
            self.assertEqual(entry.mode & 0o170000, 0o040000 if entry.is_folder else 0o100000, path)

    def test_joliet_path_tables_are_checked_as_well(self):
        data = bytearray(ROCK_RIDGE_IMAGE.read_bytes())
        joliet = next(sector * SECTOR for sector in range(17, 32) if data[sector * SECTOR] == 2)
        table = struct.unpack_from(">I", data, joliet + 148)[0] * SECTOR
        record = table + 8 + data[table] + data[table] % 2  # the first folder below the root
        struct.pack_into(">I", data, record + 2, struct.unpack_from(">I", data, record + 2)[0] + 1)
        (FOLDER / "joliet-tables.iso").write_bytes(bytes(data))
        with self.assertRaisesRegex(iso9660.ImageError, "the Joliet path tables disagree with each other"):
            iso9660.read_image(FOLDER / "joliet-tables.iso")


if __name__ == "__main__":
    unittest.main()
