"""What the release tests share: a payload folder to make media from, scripts/make-medium, and a look
into the images it writes through the medium tooling's own reader (tools/medium/iso9660.py).

Settings from the environment: RELEASE_BUILD_DIR (the win32 build whose setup.exe goes onto the media;
make-medium brings it up to date first).
"""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parents[2]
# The medium tooling's own reading of images and its facts: what the tests compare against.
sys.path.insert(0, str(REPO_ROOT / "tools" / "medium"))
import iso9660  # noqa: E402
import payload  # noqa: E402
from iso9660 import ISO_9660, JOLIET, ROCK_RIDGE  # noqa: E402,F401
SAMPLE_MEDIUM = REPO_ROOT / "tools" / "sample_medium"

# A name of 90 characters: beyond Joliet's standard 64, within the 103 that the images allow.
LONG_NAME = "installation components of the tarvin database application, second stage, version 1.00.txt"
CHINESE_FOLDER = "数据库组件"
CHINESE_NAME = "安装说明（第二版）.txt"


def lay_out_payload(folder: Path, installer: bytes = b"MZ sample second-stage installer") -> dict[str, bytes]:
    """A payload with every required file, a Chinese and a long name, and a nested folder. Returns its
    files by medium path ("vorncopy/Dao350.dll": bytes)."""
    notes = (SAMPLE_MEDIUM / "voabc.utf8.txt").read_text(encoding="utf-8")
    files = {payload.NOTES: notes.replace("\r\n", "\n").replace("\n", "\r\n").encode("gbk")}
    for relative in payload.REQUIRED[1:]:  # the components from the sample medium, and the installer
        sample = SAMPLE_MEDIUM / relative
        files[relative] = sample.read_bytes() if sample.is_file() else installer
    files.update({
        f"{payload.PAYLOAD_FOLDER}/{LONG_NAME}": b"a file whose name Joliet keeps whole\r\n",
        f"{payload.PAYLOAD_FOLDER}/{CHINESE_FOLDER}/{CHINESE_NAME}": "中文名称的文件\r\n".encode("gbk"),
    })
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


def make_medium(payload: Path, output: Path, *options: str, repo: Path = REPO_ROOT, env: dict | None = None,
                timeout: float = 900, pass_fds: tuple[int, ...] = ()) -> subprocess.CompletedProcess:
    """Runs repo's scripts/make-medium; its output is captured as text."""
    return subprocess.run(["bash", str(repo / "scripts" / "make-medium"), *options, str(payload), str(output)],
                          env=env if env is not None else os.environ.copy(), capture_output=True, text=True,
                          timeout=timeout, pass_fds=pass_fds)


def image(path: Path) -> iso9660.Image:
    return iso9660.read_image(path)


def file_tree(path: Path, names: str = ROCK_RIDGE) -> list[str]:
    """Every path in the image, as one of its name trees gives them, without the root."""
    return sorted(f"/{entry}" for entry in iso9660.read_image(path).trees[names] if entry)


def extract(path: Path, destination: Path, names: str = ROCK_RIDGE) -> Path:
    """The image's files in destination, as one name tree gives them."""
    medium = iso9660.read_image(path)
    for relative, entry in sorted(medium.trees[names].items()):
        target = destination / relative
        if entry.is_folder:
            target.mkdir(parents=True, exist_ok=True)
        else:
            target.write_bytes(medium.read(entry))
    return destination
