"""What the release tests share: a payload folder to make media from, scripts/make-medium, and a look
into the images it writes through xorriso.

Settings from the environment: RELEASE_BUILD_DIR (the win32 build whose setup.exe goes onto the media;
make-medium brings it up to date first).
"""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import tempfile
import unittest
from dataclasses import dataclass
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parents[2]
SAMPLE_MEDIUM = REPO_ROOT / "tools" / "sample_medium"

# A name of 90 characters: beyond Joliet's standard 64, within the 103 that the images allow.
LONG_NAME = "installation components of the tarvin database application, second stage, version 1.00.txt"
CHINESE_FOLDER = "数据库组件"
CHINESE_NAME = "安装说明（第二版）.txt"


def lay_out_payload(folder: Path, installer: bytes = b"MZ sample second-stage installer") -> dict[str, bytes]:
    """A payload with every required file, a Chinese and a long name, and a nested folder. Returns its
    files by medium path ("vorncopy/Dao350.dll": bytes)."""
    notes = (SAMPLE_MEDIUM / "voabc.utf8.txt").read_text(encoding="utf-8")
    notes = notes.replace("\r\n", "\n").replace("\n", "\r\n").encode("gbk")
    files = {
        "voabc.txt": notes,
        "vorncopy/Dao350.dll": (SAMPLE_MEDIUM / "vorncopy" / "Dao350.dll").read_bytes(),
        "vorncopy/msjter35.dll": (SAMPLE_MEDIUM / "vorncopy" / "msjter35.dll").read_bytes(),
        "vorncopy/tarvinxp.exe": installer,
        f"vorncopy/{LONG_NAME}": b"a file whose name Joliet keeps whole\r\n",
        f"vorncopy/{CHINESE_FOLDER}/{CHINESE_NAME}": "中文名称的文件\r\n".encode("gbk"),
    }
    for relative, content in files.items():
        path = folder / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
    return files


PREVIOUS_IMAGE = b"the image of an earlier run"


class OverPreviousImage(unittest.TestCase):
    """Tests that make a medium from a complete payload (self.payload) over an OUTPUT (self.output) that
    holds an earlier image, which a refused run must leave as it was."""

    def setUp(self):
        super().setUp()
        self.folder = Path(tempfile.mkdtemp(prefix="make-medium-"))
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.payload = self.folder / "payload"
        lay_out_payload(self.payload)
        self.output_folder = self.folder / "out"
        self.output_folder.mkdir()
        self.output = self.output_folder / "medium.iso"
        self.output.write_bytes(PREVIOUS_IMAGE)

    def assertNothingWritten(self, result: subprocess.CompletedProcess) -> None:
        self.assertNotEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.output.read_bytes(), PREVIOUS_IMAGE)
        self.assertEqual([p.name for p in self.output_folder.iterdir()], ["medium.iso"], "no partial image is left")


def make_medium(payload: Path, output: Path, *options: str, repo: Path = REPO_ROOT,
                env: dict | None = None, timeout: float = 900) -> subprocess.CompletedProcess:
    """Runs repo's scripts/make-medium; its output is captured as text."""
    return subprocess.run(["bash", str(repo / "scripts" / "make-medium"), *options, str(payload), str(output)],
                          env=env if env is not None else os.environ.copy(), capture_output=True, text=True,
                          timeout=timeout)


def xorriso(*args: str) -> str:
    result = subprocess.run(["xorriso", "-no_rc", *args], capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise RuntimeError(f"xorriso {' '.join(args)} failed: {result.stderr}")
    return result.stdout


# Which of the image's name trees xorriso reads: Rock Ridge, Joliet or the plain ISO 9660 names.
ROCK_RIDGE, JOLIET, ISO_9660 = "any", "norock", "ecma119"


def file_tree(image: Path, names: str = ROCK_RIDGE) -> list[str]:
    """Every path in the image, as one of its name trees gives them, without the root."""
    listing = xorriso("-read_fs", names, "-indev", str(image), "-find", "/")
    paths = [line[1:-1] for line in listing.splitlines() if line.startswith("'/")]
    return sorted(path for path in paths if path != "/")


def extract(image: Path, destination: Path, names: str = ROCK_RIDGE) -> Path:
    """The image's files in destination, with the dates the image records, writable by their owner (the
    image's read-only modes would keep an ordinary user from changing or removing them)."""
    xorriso("-read_fs", names, "-osirrox", "on", "-indev", str(image), "-extract", "/", str(destination))
    for path in [destination, *destination.rglob("*")]:
        path.chmod(path.stat().st_mode | 0o200)
    return destination


@dataclass(frozen=True)
class VolumeDescriptor:
    volume_id: str
    creation_time: str  # YYYYMMDDhhmmsscc, GMT
    modification_time: str


def volume_descriptor(image: Path) -> VolumeDescriptor:
    report = xorriso("-indev", str(image), "-pvd_info")

    def field(name: str) -> str:
        match = re.search(rf"^{re.escape(name)}\s*: ?(.*)$", report, re.MULTILINE)
        if not match:
            raise AssertionError(f"no {name} in xorriso's report:\n{report}")
        return match.group(1).strip()

    return VolumeDescriptor(field("Volume Id"), field("Creation Time"), field("Modif. Time"))


def joliet_volume_id(image: Path) -> str:
    """The volume name that Windows shows: the one in the Joliet volume descriptor (UCS-2, big-endian)."""
    sector = 2048
    with open(image, "rb") as file:
        for number in range(16, 64):
            file.seek(number * sector)
            descriptor = file.read(sector)
            kind, magic = descriptor[0], descriptor[1:6]
            if magic != b"CD001" or kind == 255:
                break
            # A supplementary descriptor whose escape sequence names UCS-2 level 1, 2 or 3 is Joliet's.
            if kind == 2 and descriptor[88:91] in (b"%/@", b"%/C", b"%/E"):
                return descriptor[40:72].decode("utf-16-be").rstrip(" \0")
    raise AssertionError(f"{image} has no Joliet volume descriptor")
