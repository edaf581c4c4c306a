"""The payload files of a shipped medium against the payload list inside its verified setup.exe: without
an independent payload, that list alone vouches for them."""

from __future__ import annotations

from collections import Counter

import iso9660
import payload_list
from check_report import Report
from payload import is_payload_file, windows_name


def listed_by(program: bytes | None, report: Report) -> dict[str, payload_list.Listed] | None:
    """The payload list of a verified setup.exe whose signer was checked; None when there is none to go by
    (a damaged list is a difference)."""
    if program is None:
        if report.unchecked_signers:
            report.note("setup.exe's payload list was not used: it vouches for nothing while its signer is unchecked")
        return None
    try:
        carried = payload_list.from_program(program)
        if carried is None:
            report.note("setup.exe carries no payload list")
            return None
        return payload_list.parse(carried)
    except payload_list.DamagedList as error:
        report.differs(f"the payload list of setup.exe is damaged: {error}")
        return None


def check_listed_files(shipped: iso9660.Image, listed: dict[str, payload_list.Listed], report: Report) -> set[str]:
    """Every payload file of every name tree against the signed payload list: the Rock Ridge and Joliet
    names must be the list's, the plain ISO 9660 names (shortened as that tree shortens them) must hold the
    list's files one for one, and each file the bytes the list gives. Each extent is read once, streamed.
    Returns the Windows paths found different."""
    hashed: dict[tuple, payload_list.Listed] = {}

    def content(entry: iso9660.Entry) -> payload_list.Listed:
        key = tuple(entry.extents)
        if key not in hashed:
            hashed[key] = payload_list.hash_blocks(shipped.blocks(entry))
        return hashed[key]

    problems: dict[str, list[str]] = {}  # a difference: the trees it is found in
    differing: set[str] = set()
    for tree in (iso9660.ROCK_RIDGE, iso9660.JOLIET, iso9660.ISO_9660):
        if tree not in shipped.trees:
            continue
        entries = {path: entry for path, entry in shipped.trees[tree].items() if path and not entry.is_folder
                   and is_payload_file(path.lower() if tree == iso9660.ISO_9660 else path)}
        if tree != iso9660.ISO_9660:
            found = {windows_name(path): content(entry) for path, entry in entries.items()}
            for line in payload_list.differences(listed, found):
                problems.setdefault(line, []).append(tree)
            differing.update(path for path in set(found) | set(listed) if found.get(path) != listed.get(path))
            continue
        # Shortened names: the files must still be the list's, one for one.
        remaining = Counter(listed.values())
        for path in sorted(entries):
            held = content(entries[path])
            if remaining[held]:
                remaining[held] -= 1
            else:
                problems.setdefault(f"{windows_name(path)} holds no file that the payload list names"
                                    f" (SHA-256 {held.sha256}, {held.size} bytes)", []).append(tree)
                differing.add(windows_name(path))
        for path in sorted(listed):
            if remaining[listed[path]]:
                remaining[listed[path]] -= 1
                problems.setdefault(f"{path}: no file holds what the payload list names for it", []).append(tree)
                differing.add(path)
    for line, trees in problems.items():
        report.differs(f"{line} ({', '.join(trees)} names)")
    return differing
