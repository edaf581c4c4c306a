"""What goes onto a medium: the payload a vendor gives, the files the medium adds, and autorun.inf, written
and read back. The one home of these names for make-medium, check-medium and their tests."""

from __future__ import annotations

import os
import re
from dataclasses import dataclass
from pathlib import Path, PurePosixPath

LAUNCHER = "setup.exe"
AUTORUN = "autorun.inf"
NOTES = "voabc.txt"
PAYLOAD_FOLDER = "vorncopy"
# The payload's files that the launcher opens, as Windows names them (in any letter case).
REQUIRED = (NOTES, f"{PAYLOAD_FOLDER}/Dao350.dll", f"{PAYLOAD_FOLDER}/msjter35.dll", f"{PAYLOAD_FOLDER}/tarvinxp.exe")
# Files the medium adds to the payload; everything else on a medium comes from the payload.
ADDED = (LAUNCHER, AUTORUN)

DEFAULT_VOLUME_LABEL = "TARVIN"
DEFAULT_AUTORUN_LABEL = "tarvin"
# Windows shows the Joliet volume name, which holds 16 characters; ISO 9660 allows only these in it.
VOLUME_LABEL = re.compile(r"[A-Z0-9_]{1,16}")


class PayloadError(Exception):
    """The payload cannot make a medium; each line of the message is one reason."""


def windows_name(relative: str) -> str:
    return relative.replace("/", "\\")


def check_volume_label(label: str) -> None:
    if not VOLUME_LABEL.fullmatch(label):
        raise PayloadError(f"the volume label must be 1 to 16 of A-Z, 0-9 and _ (got '{label}')")


def check_autorun_label(label: str) -> None:
    # One line of autorun.inf: no line breaks or other control characters.
    if not label or any(ord(c) < 32 or ord(c) == 127 for c in label):
        raise PayloadError("the autorun label must be non-empty printable text on one line")


def _entry_ignoring_case(folder: Path, name: str) -> Path | None:
    """The entry of folder named name in any letter case, as Windows would find it; several such names are
    refused, since Windows could reach only one of them."""
    matches = sorted(entry for entry in folder.iterdir() if entry.name.casefold() == name.casefold())
    if len(matches) > 1:
        raise PayloadError(f"the payload holds several entries named {name} in {folder}, differing only in case: "
                           + " ".join(str(m) for m in matches))
    return matches[0] if matches else None


@dataclass(frozen=True)
class Payload:
    folder: Path
    notes: Path  # voabc.txt as the payload names it
    components: Path  # the vorncopy folder as the payload names it
    left_out: tuple[Path, ...]  # other entries of the payload folder, which stay off the medium

    @property
    def entries(self) -> tuple[Path, Path]:
        return self.notes, self.components


def find_payload(folder: Path) -> Payload:
    """Every required file, looked for before anything is built or written; every missing one is named."""
    if folder.is_file():
        raise PayloadError(f"the payload folder {folder} is a file{' (an image?)' if folder.suffix.lower() == '.iso' else ''}:"
                           " give the payload folder first, then the image to write")
    if not folder.is_dir():
        raise PayloadError(f"the payload folder {folder} does not exist")
    found: dict[str, Path] = {}
    missing = []
    for required in REQUIRED:
        location: Path | None = folder
        for part in PurePosixPath(required).parts:
            location = _entry_ignoring_case(location, part) if location.is_dir() else None
            if location is None:
                break
        if location is not None and location.is_file():
            found[required] = location
        else:
            missing.append(f"the payload lacks {windows_name(required)}")
    if missing:
        raise PayloadError("\n".join([*missing, f"{folder} is not a complete payload; nothing was written"]))
    notes, components = found[NOTES], found[REQUIRED[1]].parent
    left_out = tuple(sorted(entry for entry in folder.iterdir() if entry not in (notes, components)))
    return Payload(folder, notes, components, left_out)


# What Windows cannot have in a file name: Joliet would change such a name (a:b.txt becomes a_b.txt), or
# Windows could not open the file at all.
FORBIDDEN_CHARACTERS = set('<>:"\\|?*') | {chr(c) for c in range(32)}
RESERVED_NAMES = {"CON", "PRN", "AUX", "NUL", *(f"COM{n}" for n in range(1, 10)), *(f"LPT{n}" for n in range(1, 10))}


def windows_name_problem(name: str) -> str | None:
    """Why Windows cannot use name as a file name, or None."""
    bad = sorted({c for c in name if c in FORBIDDEN_CHARACTERS})
    if bad:
        shown = " ".join(repr(c) if ord(c) < 32 else c for c in bad)
        return f"it holds {shown}, which Windows does not allow in a name"
    if name.endswith((".", " ")):
        return "it ends in a dot or a space, which Windows drops"
    if name.split(".")[0].upper().rstrip() in RESERVED_NAMES:
        return "it is a device name on Windows"
    return None


def medium_entries(found: Payload) -> list[Path]:
    """Every folder and file of the payload that goes onto the medium: the notes, the components folder and
    everything under it, following symbolic links as the image writer does (a link back into a folder it
    lies in is refused). The one walk that both the name check and the payload list go by, so that every
    name the list holds has been checked."""
    entries = [found.notes, found.components]
    for folder, subfolders, names in os.walk(found.components, followlinks=True):
        here = Path(folder).resolve()
        if any(parent.resolve() == here for parent in Path(folder).parents):
            raise PayloadError(f"{folder} leads back into a folder that holds it, so the medium cannot hold it;"
                               " nothing was written")
        subfolders.sort()
        entries += [Path(folder) / name for name in sorted(subfolders + names)]
    return entries


def check_windows_names(found: Payload, entries: list[Path] | None = None) -> None:
    """Every name that goes onto the medium (entries, as medium_entries gives them) must reach Windows
    unchanged, and be one of its kind in its folder whatever the letter case."""
    problems = []
    siblings: dict[Path, dict[str, str]] = {}
    for entry in medium_entries(found) if entries is None else entries:
        problem = windows_name_problem(entry.name)
        if problem:
            problems.append(f"{windows_name(str(entry.relative_to(found.folder)))}: {problem}")
        other = siblings.setdefault(entry.parent, {}).setdefault(entry.name.casefold(), entry.name)
        if other != entry.name:
            problems.append(f"{windows_name(str(entry.parent.relative_to(found.folder)))}: {other} and {entry.name}"
                            " differ only in case, and Windows reaches only one of them")
    if problems:
        raise PayloadError("\n".join([*(f"the payload has a name Windows cannot use: {p}" for p in problems),
                                      "rename them; nothing was written"]))


def notes_warning(content: bytes) -> str | None:
    """What the launcher will show of voabc.txt when that is not what the vendor expects: nothing for an
    empty file, garbled text for UTF-8 without a byte order mark (read in the system's ANSI code page)."""
    if not content:
        return "voabc.txt is empty: the launcher's text panel will show nothing"
    if content.startswith((b"\xef\xbb\xbf", b"\xff\xfe")) or content.isascii():
        return None
    try:
        content.decode("utf-8")
    except UnicodeDecodeError:
        return None  # ANSI text, as the launcher reads it
    return ("voabc.txt is UTF-8 without a byte order mark: the launcher reads such a file in the system's ANSI"
            " code page (GBK on Chinese Windows) and will show its non-ASCII text garbled; save it as UTF-8 with"
            " a byte order mark, UTF-16 LE with one, or in the ANSI code page")


def autorun_inf(label: str) -> bytes:
    """Windows reads autorun.inf through its profile functions: ANSI text, or UTF-16 LE with a byte order
    mark for a label beyond ASCII."""
    text = f"[autorun]\r\nopen={LAUNCHER}\r\nicon={LAUNCHER},0\r\nlabel={label}\r\n"
    if label.isascii():
        return text.encode("ascii")
    return b"\xff\xfe" + text.encode("utf-16-le")


def autorun_label(content: bytes) -> str | None:
    """The label of an autorun.inf that autorun_inf wrote, or None when it holds none."""
    text = content[2:].decode("utf-16-le", "replace") if content.startswith(b"\xff\xfe") else \
        content.decode("latin-1")
    match = re.search(r"^label=(.*?)\r?$", text, re.MULTILINE)
    return match.group(1) if match else None


def is_payload_file(path: str) -> bool:
    """Whether a path on a medium came from the payload (rather than being added by make-medium)."""
    return path not in ADDED
