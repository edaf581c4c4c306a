"""Reads an ISO 9660 image the way each reader of a disc does: the plain ISO 9660 names, the Rock Ridge
names that Linux shows, and the Joliet names that Windows shows, each tree with the bytes its records
point at. It also knows every part of the image that is not a file (the system area, the volume
descriptors, the path tables, the directories, Rock Ridge's continuation areas, what lies past the
volume's end), so that a difference between two images can be named by what it is in.

Written for checking media: nothing in an image is trusted to be well formed, and a record that points
outside the image is an error (ImageError), never a silent skip. Nothing here holds more of an image in
memory than a path table, one sector of a folder or one block of a file: files are read in blocks
(Image.blocks), whatever their size. However an image is crafted, reading it takes time that grows with
its size alone: a folder or a Rock Ridge continuation area that shares bytes with one already read is
refused (a sound image never shares them), and no sector is read more than MAX_READS times over.
"""

from __future__ import annotations

import bisect
import datetime
import struct
from dataclasses import dataclass, field
from pathlib import Path

SECTOR = 2048
# How much of a file is read at a time.
BLOCK = 1 << 20
SYSTEM_AREA_SECTORS = 16
# The escape sequences of a supplementary descriptor that make it Joliet's: UCS-2 levels 1 to 3.
JOLIET_ESCAPES = (b"%/@", b"%/C", b"%/E")
# The tags that start a UDF volume recognition sequence after the ISO 9660 descriptors.
UDF_TAGS = (b"BEA01", b"NSR02", b"NSR03", b"TEA01")
# Directories deeper than this make a reader loop forever on a crafted image; real media are shallow.
MAX_DEPTH = 64
DIRECTORY, MULTI_EXTENT = 0x02, 0x80
# The flags of a Rock Ridge NM entry: the name goes on in the next NM entry.
NM_CONTINUE = 0x01
# The longest name a file system of the checking machine holds, in bytes of UTF-8 (NAME_MAX).
NAME_MAX = 255
# How many times over the reader may read the bytes of one sector: the ISO 9660 and Rock Ridge passes read
# each folder once, a relocated folder's first record is read once more, and each of its Rock Ridge
# continuation areas once. A crafted image that would make it read more is refused.
MAX_READS = 4

ISO_9660, ROCK_RIDGE, JOLIET = "ISO 9660", "Rock Ridge", "Joliet"


class ImageError(Exception):
    """The image is not one a disc reader would read: the message says where and why."""


class ExtractError(ImageError):
    """Files of an image that could not be written out: failures holds (path, why) for each."""

    def __init__(self, failures: list[tuple[str, str]]):
        super().__init__("; ".join(f"/{path}: {why}" for path, why in failures))
        self.failures = failures


# The files read whole are small (the launcher is a few hundred kilobytes); none may be larger than this.
WHOLE_FILE_LIMIT = 64 * 1024 * 1024


@dataclass
class Entry:
    """A file or folder as one name tree gives it."""

    path: str  # without the leading slash
    is_folder: bool
    extents: list[tuple[int, int]]  # (byte offset, length) in the image, in order
    recorded: datetime.datetime  # the directory record's date
    mode: int | None = None  # Rock Ridge's PX: mode, owner and group
    owner: int | None = None
    group: int | None = None
    modified: datetime.datetime | None = None  # Rock Ridge's TF modification time

    @property
    def size(self) -> int:
        return sum(length for _, length in self.extents)


@dataclass
class Region:
    """Bytes of the image that are not a file's: what they are and where."""

    start: int
    end: int
    what: str


@dataclass
class Image:
    path: Path
    size: int
    volume_id: str
    application_id: str
    volume_end: int  # bytes: the volume space size the primary descriptor gives
    volume_created: str  # YYYYMMDDhhmmsscc as the descriptor holds it
    volume_modified: str
    joliet_volume_id: str | None
    udf: bool
    trees: dict[str, dict[str, Entry]] = field(default_factory=dict)
    regions: list[Region] = field(default_factory=list)

    def read(self, entry: Entry) -> bytes:
        """A small file's bytes (setup.exe, autorun.inf): larger ones are read in blocks. A file past
        WHOLE_FILE_LIMIT is refused, so that an image cannot make its reader hold gigabytes."""
        if entry.size > WHOLE_FILE_LIMIT:
            raise ImageError(f"/{entry.path} is {entry.size:,} bytes, more than the {WHOLE_FILE_LIMIT:,} that a file"
                             " read whole may have")
        return b"".join(self.blocks(entry))

    def blocks(self, entry: Entry, size: int = BLOCK):
        """A file's bytes in blocks of at most size bytes, extent after extent."""
        with open(self.path, "rb") as file:
            for offset, length in entry.extents:
                file.seek(offset)
                while length > 0:
                    block = file.read(min(size, length))
                    if not block:
                        raise ImageError(f"{self.path} ends inside the file /{entry.path}")
                    length -= len(block)
                    yield block

    def extract(self, tree: str, destination: Path, leave_out: tuple[str, ...] = ()) -> Path:
        """The files and folders of one name tree in destination, but for the paths in leave_out. Every file
        that can be written out is; ExtractError then names each that could not, and why."""
        failures = []
        for path, entry in sorted(self.trees[tree].items()):
            if not path or path in leave_out:
                continue
            target = destination / path
            try:
                if entry.is_folder:
                    target.mkdir(parents=True, exist_ok=True)
                else:
                    target.parent.mkdir(parents=True, exist_ok=True)
                    with open(target, "wb") as output:
                        for block in self.blocks(entry):
                            output.write(block)
            except (OSError, ValueError, ImageError) as error:
                failures.append((path, str(error)))
        if failures:
            raise ExtractError(failures)
        return destination

    def files(self, tree: str) -> dict[str, Entry]:
        return {path: entry for path, entry in self.trees[tree].items() if not entry.is_folder}


def _date7(raw: bytes) -> datetime.datetime:
    year, month, day, hour, minute, second, offset = struct.unpack("<6Bb", raw)
    try:
        local = datetime.datetime(1900 + year, month, day, hour, minute, second)
    except ValueError:
        return datetime.datetime(1900, 1, 1, tzinfo=datetime.timezone.utc)
    return (local - datetime.timedelta(minutes=15 * offset)).replace(tzinfo=datetime.timezone.utc)


def _text(raw: bytes, encoding: str = "ascii") -> str:
    return raw.decode(encoding, "replace").rstrip(" \0")


class _Extents:
    """Byte ranges of the image read for one purpose, which none may share with another: a set of sectors
    marked whole, and within sectors, sorted ranges of bytes."""

    def __init__(self, what: str):
        self.what = what
        self.sectors = bytearray()
        self.parts: dict[int, list[tuple[int, int]]] = {}

    def take_sectors(self, offset: int, length: int, label: str) -> None:
        first, end = offset // SECTOR, -(-(offset + length) // SECTOR)
        if len(self.sectors) < end:
            self.sectors.extend(bytes(end - len(self.sectors)))
        if any(self.sectors[first:end]):
            raise ImageError(f"the {label} shares sectors with another {self.what} (at byte {offset})")
        self.sectors[first:end] = b"\1" * (end - first)

    def take_bytes(self, offset: int, length: int, label: str) -> None:
        """A range that lies within one sector."""
        parts = self.parts.setdefault(offset // SECTOR, [])
        index = bisect.bisect(parts, (offset, offset + length))
        if length and ((index and parts[index - 1][1] > offset) or
                       (index < len(parts) and parts[index][0] < offset + length)):
            raise ImageError(f"the {label} shares bytes with another {self.what} (at byte {offset})")
        parts.insert(index, (offset, offset + length))


class _Reader:
    def __init__(self, path: Path):
        self.path = path
        self.file = open(path, "rb")
        self.size = path.stat().st_size
        self.regions: list[Region] = []
        # How many bytes of each sector have been read, to keep the whole reading within MAX_READS passes.
        self.reads: dict[int, int] = {}
        self.continuation_areas = _Extents("Rock Ridge continuation area")
        # Rock Ridge's SP entry: how many bytes begin every other system use field before its entries.
        self.skip = 0
        # Records without a Rock Ridge name, which each reader names its own way (Linux: the plain name
        # in lower case).
        self.unnamed: list[str] = []

    def inside(self, offset: int, length: int, what: str) -> None:
        if offset < 0 or length < 0 or offset + length > self.size:
            raise ImageError(f"{what} lies outside the image (bytes {offset}-{offset + length} of {self.size})")

    def read(self, offset: int, length: int, what: str) -> bytes:
        self.inside(offset, length, what)
        end = offset + length
        for sector in range(offset // SECTOR, -(-end // SECTOR)):
            count = self.reads.get(sector, 0) + min(end, (sector + 1) * SECTOR) - max(offset, sector * SECTOR)
            if count > MAX_READS * SECTOR:
                raise ImageError(f"reading the {what} would read sector {sector} more than {MAX_READS} times over:"
                                 " the image's structures share it")
            self.reads[sector] = count
        self.file.seek(offset)
        return self.file.read(length)

    def claim(self, offset: int, length: int, what: str) -> None:
        if length:
            self.regions.append(Region(offset, offset + length, what))

    def descriptors(self) -> list[tuple[int, bytes]]:
        found = []
        sector = SYSTEM_AREA_SECTORS
        while True:
            raw = self.read(sector * SECTOR, SECTOR, f"volume descriptor at sector {sector}")
            if raw[1:6] != b"CD001":
                raise ImageError(f"sector {sector} holds no volume descriptor: this is no ISO 9660 image")
            self.claim(sector * SECTOR, SECTOR, f"volume descriptor (sector {sector})")
            if raw[0] == 255:
                return found
            found.append((sector, raw))
            sector += 1
            if sector > 256:
                raise ImageError("the volume descriptors never end")

    def udf(self, after: int) -> bool:
        """Whether a UDF recognition sequence follows the descriptors; its sectors count as descriptors."""
        present = False
        sector = after
        while sector * SECTOR + SECTOR <= self.size and sector < after + 32:
            raw = self.read(sector * SECTOR, SECTOR, "volume recognition sequence")
            if raw[1:6] not in UDF_TAGS:
                break
            self.claim(sector * SECTOR, SECTOR, f"UDF recognition sequence (sector {sector})")
            present |= raw[1:6] in (b"NSR02", b"NSR03")
            sector += 1
        return present

    def path_tables(self, descriptor: bytes, name: str, folders: dict[str, Entry]) -> None:
        """The descriptor's path tables, which readers such as Windows look folders up in: each copy must
        hold the same records, and they must name the folders that the directories hold, where they are."""
        size = struct.unpack_from("<I", descriptor, 132)[0]
        tables = []
        for field_offset, pack in ((140, "<"), (144, "<"), (148, ">"), (152, ">")):
            sector = struct.unpack_from(f"{pack}I", descriptor, field_offset)[0]
            # The first table of each byte order must be there; the second copies are optional.
            if not sector and field_offset in (140, 148):
                order = "little" if pack == "<" else "big"
                raise ImageError(f"the {name} descriptor gives no {order}-endian path table")
            if sector:
                raw = self.read(sector * SECTOR, size, f"{name} path table")
                self.claim(sector * SECTOR, size, f"{name} path table")
                tables.append(self._path_table(raw, pack, name))
        if any(table != tables[0] for table in tables):
            raise ImageError(f"the {name} path tables disagree with each other")
        expected = {path: entry.extents[0][0] for path, entry in folders.items() if entry.is_folder}
        if tables and tables[0] != expected:
            wrong = sorted(set(tables[0].items()) ^ set(expected.items()))[0][0]
            raise ImageError(f"the {name} path table does not name the folder /{wrong} as its directory does")

    @staticmethod
    def _path_table(raw: bytes, order: str, name: str) -> dict[str, int]:
        """A path table's folders: path -> byte offset of the folder's extent."""
        paths: list[str] = []
        found: dict[str, int] = {}
        position = 0
        while position + 8 <= len(raw) and raw[position]:
            length = raw[position]
            extent, parent = struct.unpack_from(f"{order}IH", raw, position + 2)
            identifier = raw[position + 8 : position + 8 + length]
            if not paths:
                path = ""
            elif not 1 <= parent <= len(paths):
                raise ImageError(f"the {name} path table's record {len(paths) + 1} has no parent")
            else:
                text = identifier.decode("utf-16-be" if name == JOLIET else "ascii", "replace")
                path = f"{paths[parent - 1]}/{text}" if paths[parent - 1] else text
            paths.append(path)
            found[path] = extent * SECTOR
            position += 8 + length + length % 2
        return found

    def walk(self, root_record: bytes, tree: str, susp: bool, claim_folders: bool = True) -> dict[str, Entry]:
        entries: dict[str, Entry] = {}
        root_extent, root_size = struct.unpack_from("<I", root_record, 2)[0], struct.unpack_from("<I", root_record, 10)[0]
        root = Entry("", True, [(root_extent * SECTOR, root_size)], _date7(root_record[18:25]))
        entries[""] = root
        seen: set[int] = set()
        # No two folders of a tree share a sector: one record may not make the reader read another's again.
        folders = _Extents(f"{tree} folder")
        pending = [(root, 0)]
        while pending:
            folder, depth = pending.pop()
            offset, length = folder.extents[0]
            if offset in seen:
                raise ImageError(f"the {tree} tree reaches the folder at byte {offset} twice (a loop)")
            if depth > MAX_DEPTH:
                raise ImageError(f"the {tree} tree is deeper than {MAX_DEPTH} folders")
            seen.add(offset)
            label = f"{tree} folder /{folder.path}"
            self.inside(offset, length, label)
            folders.take_sectors(offset, length, label)
            if claim_folders:
                self.claim(offset, -(-length // SECTOR) * SECTOR, label)
            # A file larger than one extent has one record per extent, one after the other, each but the
            # last with the multi-extent flag: only such a record is continued by the next.
            continued: Entry | None = None
            for record in self._records(offset, length, label):
                child, multi_extent = self._entry(record, folder.path, tree, susp)
                if continued is not None:
                    if child is None or child.path != continued.path or child.is_folder:
                        raise ImageError(f"the {tree} file /{continued.path} has the multi-extent flag, but the"
                                         " next record is not its next extent")
                    continued.extents += child.extents
                elif child is None:
                    continue
                elif child.path in entries:
                    raise ImageError(f"the {tree} tree names /{child.path} twice")
                else:
                    entries[child.path] = child
                    if child.is_folder:
                        pending.append((child, depth + 1))
                start, size = child.extents[0]
                if not child.is_folder:
                    self.inside(start, size, f"{tree} file /{child.path}")
                elif multi_extent:
                    raise ImageError(f"the {tree} folder /{child.path} has the multi-extent flag of a file")
                continued = entries[child.path] if multi_extent else None
            if continued is not None:
                raise ImageError(f"the {tree} file /{continued.path} has the multi-extent flag, but its folder"
                                 " ends before its next extent")
        return entries

    def _records(self, offset: int, length: int, label: str):
        """A folder's records, read a sector at a time (no record crosses a sector's end)."""
        for start in range(0, length, SECTOR):
            data = self.read(offset + start, min(SECTOR, length - start), label)
            position = 0
            while position < len(data) and data[position]:  # a zero length: the rest of the sector is padding
                size = data[position]
                if size < 34 or position + size > len(data):
                    raise ImageError(f"a broken directory record in the {label} at byte {start + position}")
                yield data[position : position + size]
                position += size

    def _entry(self, record: bytes, parent: str, tree: str, susp: bool) -> tuple[Entry | None, bool]:
        """The entry a record names (None for a folder's own records and a relocated folder's), and whether
        the record has the multi-extent flag."""
        extent, size = struct.unpack_from("<I", record, 2)[0], struct.unpack_from("<I", record, 10)[0]
        flags, name_length = record[25], record[32]
        raw_name = record[33 : 33 + name_length]
        if raw_name in (b"\0", b"\1"):
            if susp and raw_name == b"\0" and parent == "":
                # The root's own record: its SP entry says how many bytes every other system use field
                # skips, and its continuation areas are claimed.
                self.skip = self._skip(record, 33 + name_length)
                self._susp(record, 33 + name_length, "/")
            return None, bool(flags & MULTI_EXTENT)
        if tree == JOLIET:
            name = raw_name.decode("utf-16-be", "replace")
        else:
            name = raw_name.decode("ascii", "replace")
        if not flags & DIRECTORY:
            name = name.split(";")[0]
            if tree != JOLIET and name.endswith("."):
                name = name[:-1]
        fields = {}
        if susp:
            fields = self._susp(record, 33 + name_length + (1 - name_length % 2) + self.skip, f"/{parent}/{name}")
            if "RE" in fields:  # a relocated folder: it appears where its CL entry points from
                return None, bool(flags & MULTI_EXTENT)
            if "NM" in fields:
                name = fields["NM"]
            else:
                self.unnamed.append(f"{parent}/{name}" if parent else name)
            if "CL" in fields:
                moved = self.read(fields["CL"] * SECTOR, 34, f"relocated folder of /{parent}/{name}")
                extent, size = fields["CL"], struct.unpack_from("<I", moved, 10)[0]
                flags |= DIRECTORY
        if "/" in name or name in ("", ".", ".."):
            raise ImageError(f"the {tree} tree has an entry with the name {name!r} in /{parent}")
        # No file system of the checking machine holds such a name, so no file could be written out by it.
        if "\0" in name:
            raise ImageError(f"the {tree} tree has an entry with a NUL in its name {name!r} in /{parent}")
        if len(name.encode("utf-8", "surrogatepass")) > NAME_MAX:
            raise ImageError(f"the {tree} tree has an entry in /{parent} whose name is longer than {NAME_MAX} bytes:"
                             f" {name[:40]!r}...")
        path = f"{parent}/{name}" if parent else name
        entry = Entry(path, bool(flags & DIRECTORY), [(extent * SECTOR, size)], _date7(record[18:25]))
        if "PX" in fields:
            entry.mode, entry.owner, entry.group = fields["PX"]
        entry.modified = fields.get("TF")
        return entry, bool(flags & MULTI_EXTENT)

    @staticmethod
    def _skip(record: bytes, start: int) -> int:
        """LEN_SKP of the SP entry that opens the root's own system use field; 0 without one."""
        sp = record[start : start + 7]
        if len(sp) == 7 and sp[:2] == b"SP" and sp[2] == 7 and sp[4:6] == b"\xbe\xef":
            return sp[6]
        return 0

    def _susp(self, record: bytes, start: int, where: str) -> dict:
        """The Rock Ridge fields of a record's system use area and its continuation areas."""
        fields: dict = {}
        # A name may be spread over several NM entries: each but the last has the CONTINUE flag.
        name_parts: list[bytes] = []
        name_complete = False
        area, position, hops = record, start, 0
        while True:
            continuation = None
            while position + 4 <= len(area):
                signature, length = area[position : position + 2], area[position + 2]
                if length < 4 or position + length > len(area):
                    break
                body = area[position + 4 : position + length]
                if signature == b"NM" and body:
                    if name_complete:
                        raise ImageError(f"the Rock Ridge name of {where} goes on after its last part")
                    if body[0] & ~NM_CONTINUE:
                        raise ImageError(f"the Rock Ridge name of {where} has the flags {body[0]:#x}, which name"
                                         " no file")
                    name_parts.append(body[1:])
                    name_complete = not body[0] & NM_CONTINUE
                elif signature == b"PX" and len(body) >= 32:
                    fields["PX"] = (struct.unpack_from("<I", body, 0)[0], struct.unpack_from("<I", body, 16)[0],
                                    struct.unpack_from("<I", body, 24)[0])
                elif signature == b"TF" and body:
                    fields["TF"] = self._modified(body)
                elif signature == b"CL" and len(body) >= 4:
                    fields["CL"] = struct.unpack_from("<I", body, 0)[0]
                elif signature == b"RE":
                    fields["RE"] = True
                elif signature == b"CE" and len(body) >= 24:
                    continuation = tuple(struct.unpack_from("<I", body, at)[0] for at in (0, 8, 16))
                elif signature == b"ST":
                    break
                position += length
            if continuation is None:
                break
            hops += 1
            if hops > 32:
                raise ImageError(f"the Rock Ridge fields of {where} continue without end")
            block, offset, length = continuation
            label = f"Rock Ridge continuation area of {where}"
            # Linux reads an area only within one sector; and no two records share one.
            if offset + length > SECTOR:
                raise ImageError(f"the {label} crosses the end of its sector")
            self.continuation_areas.take_bytes(block * SECTOR + offset, length, label)
            area, position = self.read(block * SECTOR + offset, length, label), 0
            self.claim(block * SECTOR + offset, length, label)
        if name_parts:
            if not name_complete:
                raise ImageError(f"the Rock Ridge name of {where} says it goes on, but ends")
            fields["NM"] = b"".join(name_parts).decode("utf-8", "replace")
        return fields

    @staticmethod
    def _modified(body: bytes) -> datetime.datetime | None:
        flags = body[0]
        if not flags & 0x02 or flags & 0x80:  # no modification time, or the 17-byte long form
            return None
        position = 1 + (7 if flags & 0x01 else 0)
        return _date7(body[position : position + 7]) if len(body) >= position + 7 else None


def read_image(path: Path) -> Image:
    """The image's descriptors, its name trees and the regions that are no file's."""
    path = Path(path)
    reader = _Reader(path)
    try:
        if reader.size < (SYSTEM_AREA_SECTORS + 1) * SECTOR:
            raise ImageError(f"{path} is {reader.size} bytes: too short for an ISO 9660 image")
        reader.claim(0, SYSTEM_AREA_SECTORS * SECTOR, "system area (sectors 0-15)")
        descriptors = reader.descriptors()
        terminator = SYSTEM_AREA_SECTORS + len(descriptors) + 1
        udf = reader.udf(terminator)
        primary = next((raw for _, raw in descriptors if raw[0] == 1), None)
        if primary is None:
            raise ImageError(f"{path} has no primary volume descriptor: it is no ISO 9660 image")
        joliet = next((raw for _, raw in descriptors if raw[0] == 2 and raw[88:91] in JOLIET_ESCAPES), None)
        image = Image(
            path=path,
            size=reader.size,
            volume_id=_text(primary[40:72]),
            application_id=_text(primary[574:702]),
            volume_end=struct.unpack_from("<I", primary, 80)[0] * SECTOR,
            volume_created=_text(primary[813:829]),
            volume_modified=_text(primary[830:846]),
            joliet_volume_id=_text(joliet[40:72], "utf-16-be") if joliet else None,
            udf=udf,
        )
        image.trees[ISO_9660] = reader.walk(primary[156:190], ISO_9660, susp=False)
        reader.path_tables(primary, ISO_9660, image.trees[ISO_9660])
        # The same folders again, read for their Rock Ridge fields.
        rock_ridge = reader.walk(primary[156:190], ROCK_RIDGE, susp=True, claim_folders=False)
        # A tree without any Rock Ridge name is only the plain one again.
        if any(entry.mode is not None for entry in rock_ridge.values()):
            if reader.unnamed:
                raise ImageError(f"the Rock Ridge names leave /{reader.unnamed[0]} without a name of its own")
            image.trees[ROCK_RIDGE] = rock_ridge
        if joliet is not None:
            image.trees[JOLIET] = reader.walk(joliet[156:190], JOLIET, susp=False)
            reader.path_tables(joliet, JOLIET, image.trees[JOLIET])
        if image.volume_end < reader.size:
            reader.claim(image.volume_end, reader.size - image.volume_end, "data past the volume's end")
        image.regions = reader.regions
        return image
    finally:
        reader.file.close()


def what_holds(image: Image, offset: int) -> list[str]:
    """What the byte at offset belongs to: files by tree, or the regions that are no file's."""
    owners = [region.what for region in image.regions if region.start <= offset < region.end]
    for tree, entries in image.trees.items():
        for entry in entries.values():
            if not entry.is_folder and any(start <= offset < start + length for start, length in entry.extents):
                owners.append(f"{tree} file {entry.path}")
    return owners
