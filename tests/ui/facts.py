"""What the tests know of the programs, read from the programs' own sources: the setup window's layout
table (names, control IDs, twip boxes), the path-check window's table, captions, class names and the
medium's file names. The native program ui_facts (tests/ui/ui_facts.cpp) prints them; nothing here writes them
out again."""

from __future__ import annotations

import functools
import json
import math
import subprocess
from dataclasses import dataclass
from pathlib import Path

from common import REPO_ROOT, path_setting

FACTS_PROGRAM = path_setting("UI_FACTS_PROGRAM", REPO_ROOT / "build" / "native" / "tests" / "ui" / "ui_facts")


@functools.cache
def facts() -> dict:
    if not FACTS_PROGRAM.is_file():
        raise FileNotFoundError(f"{FACTS_PROGRAM} is not built (build the native preset first)")
    return json.loads(subprocess.run([str(FACTS_PROGRAM)], check=True, capture_output=True, timeout=60).stdout)


@dataclass(frozen=True)
class TwipBox:
    """Left, top, width, height in twips, relative to the container's client area."""

    left: float
    top: float
    width: float
    height: float
    in_title_strip: bool = False


def _setup_controls() -> list[dict]:
    return facts()["setup"]["controls"]


class _ControlIds(type):
    def __getattr__(cls, attribute: str) -> int:
        if attribute.startswith("__"):
            raise AttributeError(attribute)
        wanted = attribute.replace("_", "")
        for control in _setup_controls():
            if control["child_window"] and control["name"].upper() == wanted:
                return control["id"]
        raise AttributeError(f"the setup window has no child window named like {attribute}")


class Id(metaclass=_ControlIds):
    """Control IDs of the setup window's child windows, by control name in capitals: Id.CMD_CANCEL is the
    ID of cmdCancel, Id.TEXT2 that of Text2."""


class _Layout:
    """LAYOUT[name]: the twip box of a setup window control of the layout table."""

    def __getitem__(self, name: str) -> TwipBox:
        for control in _setup_controls():
            if control["name"] == name and "box" in control:
                return TwipBox(*control["box"], in_title_strip=control["in_title_strip"])
        raise KeyError(name)


LAYOUT = _Layout()


def window_caption() -> str:
    return facts()["setup"]["caption"]


def pathcheck_facts() -> dict:
    """Form1: caption, title (of its message box), client_twips and controls (name, id, box)."""
    return facts()["pathcheck"]


def pathcheck_control(name: str) -> dict:
    """A control of the path-check window's table: name, id and twip box."""
    return next(control for control in pathcheck_facts()["controls"] if control["name"] == name)


def medium_facts() -> dict:
    """notes, notes_bound (the most bytes of the notes the panel takes), installer and components (source
    below the medium, destination below the Windows directory), as the program names them, with
    backslashes."""
    return facts()["medium"]


def refusal_message(relative_path: str, reason: str = "file_differs", program: str = "setup.exe") -> str:
    """The message box's text when the file at relative_path (as the launcher names it, with backslashes)
    fails the payload check for reason (a key of the launcher's refusals: file_differs, list_damaged);
    program is the launcher's own file name."""
    return facts()["refusals"][reason].replace("{file}", relative_path).replace("{program}", program)


def message_box_title() -> str:
    """The title of the launcher's own message boxes."""
    return facts()["setup"]["message_box_title"]


def component_names() -> list[str]:
    return [Path(component["source"].replace("\\", "/")).name for component in medium_facts()["components"]]


def twips_to_pixels(twips: float, dpi: int = 96) -> int:
    """Nearest pixel at a logical resolution (15 twips per pixel at 96 dpi), halves away from zero as the
    window's own conversion rounds them (4710 twips at 120 dpi are 392.5, drawn at 393)."""
    pixels = twips * dpi / 1440
    return int(math.floor(abs(pixels) + 0.5)) * (1 if pixels >= 0 else -1)
