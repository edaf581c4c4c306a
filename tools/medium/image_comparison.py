"""Two images compared byte for byte in one streamed pass, and the differences named: by file and name
tree, or by the part of the image they lie in, the rest counted. The verdict rests on equal bytes alone;
the naming only says where."""

from __future__ import annotations

import bisect
from collections import Counter
from dataclasses import dataclass, field

import iso9660
from check_report import Report
from payload import LAUNCHER, is_payload_file

# Past this many parts of an image, the rest of the differing parts are counted, not listed.
MAX_REGIONS_LISTED = 12


@dataclass
class Comparison:
    """Where two images differ, from one pass over both: the blocks that differ, and how many differing
    bytes each piece of the shipped image's layout holds (a piece lies in the same files and regions
    throughout)."""

    size: int = 0
    differing_blocks: set[int] = field(default_factory=set)
    differing_bytes: int = 0
    pieces: list[tuple[int, int, tuple]] = field(default_factory=list)  # (start, end, owners)
    counts: Counter = field(default_factory=Counter)  # differing bytes by piece index

    @property
    def same(self) -> bool:
        return not self.differing_bytes

    def touches(self, extents: list[tuple[int, int]]) -> bool:
        return any(block in self.differing_blocks for start, length in extents
                   for block in range(start // BLOCK, -(-(start + length) // BLOCK)))


BLOCK = iso9660.BLOCK


def _layout(image: iso9660.Image) -> list[tuple[int, int, tuple]]:
    """The image cut into pieces, each with what it belongs to: regions by name, files as (tree, path)."""
    owners: list[tuple[int, int, object]] = [(r.start, r.end, r.what) for r in image.regions]
    owners += [(start, start + length, (tree, path)) for tree, entries in image.trees.items()
               for path, entry in entries.items() if not entry.is_folder for start, length in entry.extents if length]
    cuts = sorted({0, image.size, *(point for start, end, _ in owners for point in (start, end))})
    cuts = [point for point in cuts if 0 <= point <= image.size]
    pieces = []
    by_start = sorted(owners, key=lambda owner: owner[0])
    active: list[tuple[int, int, object]] = []
    next_owner = 0
    for start, end in zip(cuts, cuts[1:]):
        while next_owner < len(by_start) and by_start[next_owner][0] <= start:
            active.append(by_start[next_owner])
            next_owner += 1
        active = [owner for owner in active if owner[1] > start]
        pieces.append((start, end, tuple(owner for _, _, owner in active)))
    return pieces


def _differing(ours: bytes, theirs: bytes) -> bytes:
    """A byte string as long as ours, nonzero wherever theirs differs (or has no byte)."""
    common = min(len(ours), len(theirs))
    mask = int.from_bytes(ours[:common], "little") ^ int.from_bytes(theirs[:common], "little")
    return mask.to_bytes(common, "little") + b"\xff" * (len(ours) - common)


def compare_images(shipped: iso9660.Image, rebuilt: iso9660.Image) -> Comparison:
    """Both images read once, block by block: which blocks differ, and how many bytes in each piece."""
    comparison = Comparison(size=shipped.size)
    pieces = None
    with open(shipped.path, "rb") as ours, open(rebuilt.path, "rb") as theirs:
        offset = 0
        while True:
            a, b = ours.read(BLOCK), theirs.read(BLOCK)
            if not a:
                break
            if a != b:
                if pieces is None:
                    pieces = comparison.pieces = _layout(shipped)
                    starts = [piece[0] for piece in pieces]
                comparison.differing_blocks.add(offset // BLOCK)
                mask = _differing(a, b)
                comparison.differing_bytes += len(mask) - mask.count(0)
                index = max(bisect.bisect_right(starts, offset) - 1, 0)
                while index < len(pieces) and pieces[index][0] < offset + len(a):
                    low, high = max(pieces[index][0], offset) - offset, min(pieces[index][1], offset + len(a)) - offset
                    count = (high - low) - mask.count(0, low, high)
                    if count:
                        comparison.counts[index] += count
                    index += 1
            offset += len(a)
    if rebuilt.size > shipped.size:
        comparison.differing_bytes += rebuilt.size - shipped.size
    return comparison


def _same_content(shipped: iso9660.Image, ours: iso9660.Entry, rebuilt: iso9660.Image, theirs: iso9660.Entry) -> bool:
    """Whether two files hold the same bytes, read side by side in blocks."""
    if ours.size != theirs.size:
        return False
    left, right = shipped.blocks(ours), rebuilt.blocks(theirs)
    a = b = memoryview(b"")
    while True:
        if not a:
            a = memoryview(next(left, b""))
        if not b:
            b = memoryview(next(right, b""))
        if not a or not b:
            return not a and not b
        length = min(len(a), len(b))
        if a[:length] != b[:length]:
            return False
        a, b = a[length:], b[length:]


def _compare_trees(shipped: iso9660.Image, rebuilt: iso9660.Image, comparison: Comparison, checked_payload: bool,
                   report: Report) -> set[tuple[str, str]]:
    """Each name tree's files, named where they differ; returns them as (tree, path). A file whose extents
    are where the commit's are, in blocks that do not differ, is the same without being read again."""
    differing: set[tuple[str, str]] = set()
    for tree in (iso9660.ROCK_RIDGE, iso9660.JOLIET, iso9660.ISO_9660):
        if tree not in shipped.trees and tree not in rebuilt.trees:
            continue
        if tree not in rebuilt.trees:
            report.differs(f"the shipped image has {tree} names, which the commit's has not")
            continue
        if tree not in shipped.trees:
            report.differs(f"the shipped image lacks the {tree} names that the commit's has")
            continue
        ours, theirs = shipped.trees[tree], rebuilt.trees[tree]
        for path in sorted(set(ours) - set(theirs)):
            report.differs(f"{path} is only on the shipped medium ({tree} names)")
            differing.add((tree, path))
        for path in sorted(set(theirs) - set(ours)):
            report.differs(f"{path} is missing from the shipped medium ({tree} names)")
        for path in sorted(set(ours) & set(theirs)):
            if ours[path].is_folder != theirs[path].is_folder:
                report.differs(f"{path} is a {'folder' if ours[path].is_folder else 'file'} on the shipped medium"
                               f" ({tree} names)")
                differing.add((tree, path))
            elif ours[path].is_folder:
                continue
            elif ours[path].extents == theirs[path].extents and not comparison.touches(ours[path].extents):
                continue
            elif not _same_content(shipped, ours[path], rebuilt, theirs[path]):
                plain = path.lower() if tree == iso9660.ISO_9660 else path  # that tree's names are capitals
                note = ""
                if checked_payload:
                    pass
                elif is_payload_file(plain):
                    note = ", though the commit's medium was made from the shipped one's files"
                elif plain == LAUNCHER:
                    note = ", though the commit's was built with a payload list of the shipped medium's own files"
                report.differs(f"{path} ({tree} names{note})")
                report.differing_paths.add(path)
                differing.add((tree, path))
    if shipped.udf and not rebuilt.udf:
        report.differs("the shipped image carries a UDF file system, which Windows may read instead of the Joliet"
                       " names and which the commit's media do not have (its files were not read)")
    return differing


def _compare_regions(shipped: iso9660.Image, rebuilt: iso9660.Image, comparison: Comparison,
                     differing_files: set[tuple[str, str]], report: Report) -> None:
    """The differing bytes of the shipped image that lie in no differing file: which part of the image
    holds them, and how many bytes nothing explains (in no part, or in a file whose content is the same
    as the commit's)."""
    if shipped.size != rebuilt.size:
        report.differs(f"the shipped image is {shipped.size} bytes, the commit's {rebuilt.size}")
    parts: Counter[str] = Counter()
    unexplained = 0
    for index, count in comparison.counts.items():
        owners = comparison.pieces[index][2]
        regions = [owner for owner in owners if isinstance(owner, str)]
        if any(owner in differing_files for owner in owners):
            continue  # named with its file
        for region in regions:
            parts[region] += count
        if not regions:
            unexplained += count
    for number, (part, count) in enumerate(sorted(parts.items())):
        if number == MAX_REGIONS_LISTED:
            report.differs(f"{len(parts) - number} more parts of the image outside any file")
            break
        report.differs(f"{part}: {count} byte(s), outside any file")
    if unexplained:
        report.differs(f"{unexplained} bytes differ that no file, folder or descriptor explains")


def compare(shipped: iso9660.Image, rebuilt: iso9660.Image, checked_payload: bool, report: Report) -> None:
    """The verdict rests on equal bytes: an image that is not the commit's byte for byte differs, and the
    naming of files and parts only says where."""
    comparison = compare_images(shipped, rebuilt)
    if comparison.same and shipped.size == rebuilt.size:
        report.same(f"the whole image, byte for byte ({shipped.size} bytes)")
        return
    before = report.differences
    differing_files = _compare_trees(shipped, rebuilt, comparison, checked_payload, report)
    _compare_regions(shipped, rebuilt, comparison, differing_files, report)
    if report.differences == before:
        report.differs(f"{comparison.differing_bytes} bytes of the image differ from the commit's")
