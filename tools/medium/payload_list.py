"""The payload list that setup.exe carries as resource IDR_PAYLOAD_LIST (301, RCDATA), under its signature:
the SHA-256, SHA-1 and size of every payload file, by the name Windows lists it under. The one home of its format
for make-medium (which writes it and reads it back out of the program it built) and check-medium (which
reads it out of a verified program and checks the image's files against it). ARCHITECTURE.md documents
the format, which the launcher reads just as strictly."""

from __future__ import annotations

import hashlib
import os
import re
from dataclasses import dataclass
from pathlib import Path
from typing import BinaryIO, Iterable

import payload as medium_payload

HEADER = b"TARVIN PAYLOAD LIST 2\n"
RESOURCE_ID = 301
RT_RCDATA = 10
# Files are hashed in blocks of this size, so that a payload file of several GiB takes no more memory.
HASH_BLOCK = 1 << 20
LINE = re.compile(rb"(?P<sha256>[0-9a-f]{64}) (?P<sha1>[0-9a-f]{40}) (?P<size>0|[1-9][0-9]{0,19}) (?P<path>[^\n]+)")
MAX_SIZE = (1 << 64) - 1


class DamagedList(Exception):
    """The bytes are not a payload list as make-medium writes it: the message says where and why."""


class Uncarried(Exception):
    """The payload has a file whose name the list cannot carry; each line of the message is one."""


@dataclass(frozen=True)
class Listed:
    """What the list says of one file."""

    sha256: str  # 64 lowercase hex digits
    sha1: str  # 40 lowercase hex digits: what a Windows without SHA-256 checks
    size: int


def hash_stream(stream: BinaryIO) -> Listed:
    return hash_blocks(iter(lambda: stream.read(HASH_BLOCK), b""))


def hash_blocks(blocks: Iterable[bytes]) -> Listed:
    sha256, sha1, size = hashlib.sha256(), hashlib.sha1(), 0
    for block in blocks:
        sha256.update(block)
        sha1.update(block)
        size += len(block)
    return Listed(sha256.hexdigest(), sha1.hexdigest(), size)


def _ascii_lower(path: str) -> str:
    # Windows would open either of two names that differ only in ASCII letter case for the other.
    return path.translate(_ASCII_LOWER)


_ASCII_LOWER = {upper: upper + 32 for upper in range(ord("A"), ord("Z") + 1)}


def path_problem(path: str) -> str | None:
    """Why path cannot stand in the list, or None."""
    if "\n" in path or "\r" in path:
        return "it holds a line break"
    if any(ord(c) < 32 for c in path):
        return "it holds a control character"
    if path.startswith("\\") or path.endswith("\\"):
        return "it starts or ends with a backslash"
    if any(part in ("", ".", "..") for part in path.split("\\")):
        return "it has an empty, '.' or '..' component"
    try:
        path.encode("utf-8")
    except UnicodeEncodeError:
        return "it is not UTF-8"
    parts = _ascii_lower(path).split("\\")
    if not (parts == [medium_payload.NOTES] or (len(parts) > 1 and parts[0] == medium_payload.PAYLOAD_FOLDER)):
        return f"it is neither {medium_payload.NOTES} nor under {medium_payload.PAYLOAD_FOLDER}\\"
    return None


def shown(path: str) -> str:
    """A path as a message shows it: escaped where it holds what cannot be printed."""
    return path if path.isprintable() else repr(path)[1:-1]


def _order(path: str) -> bytes:
    return path.encode("utf-8", "surrogateescape")  # a name that is no UTF-8 is refused, after sorting


def render(files: dict[str, Listed]) -> bytes:
    """The list of files (Windows path: what it holds), sorted; Uncarried names every path it cannot hold,
    and no list is made then."""
    problems = [f"{shown(path)}: {problem}" for path in sorted(files, key=_order) if (problem := path_problem(path))]
    seen: dict[str, str] = {}
    for path in sorted(files, key=_order):
        other = seen.setdefault(_ascii_lower(path), path)
        if other != path:
            problems.append(f"{shown(other)} and {shown(path)} differ only in letter case, and Windows opens either"
                            " for the other")
    if problems:
        raise Uncarried("\n".join(problems))
    lines = [HEADER]
    for path in sorted(files, key=_order):
        listed = files[path]
        if (not re.fullmatch(r"[0-9a-f]{64}", listed.sha256) or not re.fullmatch(r"[0-9a-f]{40}", listed.sha1)
                or not 0 <= listed.size <= MAX_SIZE):
            raise ValueError(f"not a SHA-256, SHA-1 and size: {listed}")
        lines.append(f"{listed.sha256} {listed.sha1} {listed.size} {path}\n".encode("utf-8"))
    return b"".join(lines)


def parse(data: bytes) -> dict[str, Listed]:
    """The files a list names; DamagedList for anything that breaks the format, however small."""
    if not data.startswith(HEADER):
        raise DamagedList("it does not begin with its header line")
    if not data.endswith(b"\n"):
        raise DamagedList("its last line does not end in a line feed")
    files: dict[str, Listed] = {}
    previous: bytes | None = None
    seen: set[str] = set()
    for number, line in enumerate(data[len(HEADER):-1].split(b"\n") if len(data) > len(HEADER) else [], 2):
        match = LINE.fullmatch(line)
        if not match:
            raise DamagedList(f"line {number} is not '<SHA-256> <SHA-1> <size> <path>'")
        try:
            path = match["path"].decode("utf-8")
        except UnicodeDecodeError:
            raise DamagedList(f"line {number}: the path is not UTF-8") from None
        problem = path_problem(path)
        if problem:
            raise DamagedList(f"line {number}: the path {shown(path)} cannot be a payload file's: {problem}")
        size = int(match["size"])
        if size > MAX_SIZE:
            raise DamagedList(f"line {number}: the size is too large")
        if previous is not None and match["path"] <= previous:
            raise DamagedList(f"line {number}: {shown(path)} is out of order")
        if _ascii_lower(path) in seen:
            raise DamagedList(f"line {number}: {shown(path)} is named before in another letter case")
        previous = match["path"]
        seen.add(_ascii_lower(path))
        files[path] = Listed(match["sha256"].decode("ascii"), match["sha1"].decode("ascii"), size)
    return files


def differences(listed: dict[str, Listed], found: dict[str, Listed]) -> list[str]:
    """How the files found (Windows path: what they hold) differ from what the list names, one line a file."""
    lines = []
    for path in sorted(set(listed) | set(found), key=_order):
        ours, theirs = listed.get(path), found.get(path)
        if ours is None:
            lines.append(f"{path} is not named by the payload list")
        elif theirs is None:
            lines.append(f"{path} is named by the payload list but missing")
        elif theirs.size != ours.size:
            lines.append(f"{path} holds {theirs.size} bytes, the payload list says {ours.size}")
        elif theirs.sha256 != ours.sha256 and theirs.sha1 != ours.sha1:
            lines.append(f"{path} holds other bytes than the payload list says (SHA-256 {theirs.sha256}, listed"
                         f" {ours.sha256})")
        elif theirs != ours:
            # A Windows with SHA-256 and one with SHA-1 alone would judge the file differently.
            kept, broken = ("SHA-256", "SHA-1") if theirs.sha256 == ours.sha256 else ("SHA-1", "SHA-256")
            lines.append(f"the payload list is damaged: its two digests of {path} disagree (the file's {kept} is"
                         f" as listed, its {broken} is not)")
    return lines


def payload_files(found: medium_payload.Payload, entries: list[Path] | None = None) -> dict[str, Path]:
    """The payload's files that go onto the medium, by Windows path: the files among entries (as
    payload.medium_entries gives them, the payload's own when None), whose names the name check went over."""
    entries = medium_payload.medium_entries(found) if entries is None else entries
    return {medium_payload.windows_name(str(entry.relative_to(found.folder))): entry
            for entry in entries if not entry.is_dir()}


def of_payload(found: medium_payload.Payload) -> dict[str, Listed]:
    return of_files(payload_files(found))


def of_files(files: dict[str, Path]) -> dict[str, Listed]:
    """Every file hashed, streamed; PayloadError names each one that cannot be read."""
    listed, problems = {}, []
    for path, file in files.items():
        try:
            with open(file, "rb") as stream:
                listed[path] = hash_stream(stream)
        except OSError as error:
            problems.append(f"{path} cannot be read: {error.strerror}")
    if problems:
        raise medium_payload.PayloadError("\n".join([*problems, "nothing was written"]))
    return listed


def stamps(files: dict[str, Path]) -> dict[str, tuple[int, ...] | None]:
    """What tells a file changed without reading it again: device, inode, size, modification and change
    times (None for a file that is gone)."""
    result = {}
    for path, file in files.items():
        try:
            status = os.stat(file)
        except OSError:
            result[path] = None
            continue
        result[path] = (status.st_dev, status.st_ino, status.st_size, status.st_mtime_ns, status.st_ctime_ns)
    return result


def changed_since(files: dict[str, Path], before: dict[str, tuple[int, ...] | None]) -> list[str]:
    """The files whose stamps are no longer those taken before."""
    now = stamps(files)
    return [path for path in sorted(files, key=_order) if now[path] != before.get(path)]


def from_program(program: bytes) -> bytes | None:
    """The list resource of a program, or None when it carries none; DamagedList when the program's
    resources cannot be read or hold more than one such list."""
    import pefile  # Debian's python3-pefile

    try:
        pe = pefile.PE(data=program, fast_load=True)
        pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    except pefile.PEFormatError as error:
        raise DamagedList(f"the program's resources cannot be read: {error}") from None
    found = []
    resources = pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []
    for kind in resources:
        if kind.id != RT_RCDATA or not hasattr(kind, "directory"):
            continue
        for name in kind.directory.entries:
            if name.id != RESOURCE_ID or not hasattr(name, "directory"):
                continue
            for language in name.directory.entries:
                found.append(language.data.struct)
    if not found:
        return None
    if len(found) > 1:
        raise DamagedList(f"the program carries {len(found)} payload lists")
    data = pe.get_data(found[0].OffsetToData, found[0].Size)
    if len(data) != found[0].Size:
        raise DamagedList("the program ends inside its payload list")
    return data
