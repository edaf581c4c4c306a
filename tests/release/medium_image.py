"""What the release tests share: a payload folder to make media from, scripts/make-medium, and a look
into the images it writes through the medium tooling's own reader (tools/medium/iso9660.py). Every image
that a test makes, reads or tampers with passes through read_checked: a second, independent reader
(Debian's python3-pycdlib) must find the same names and extents in each name tree, or the test fails.

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
import pycdlib  # noqa: E402
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
    """Runs repo's scripts/make-medium; its output is captured as text. The image it writes is read by
    both readers."""
    result = subprocess.run(["bash", str(repo / "scripts" / "make-medium"), *options, str(payload), str(output)],
                            env=env if env is not None else os.environ.copy(), capture_output=True, text=True,
                            timeout=timeout, pass_fds=pass_fds)
    if result.returncode == 0:
        read_checked(output)
    return result


class ReadersDisagree(AssertionError):
    pass


def _second_reading(path: Path) -> dict[str, dict[str, tuple[bool, list[tuple[int, int]]]]]:
    """Each name tree as pycdlib reads it: path (without the root's slash) -> (is a folder, extents)."""
    iso = pycdlib.PyCdlib()
    iso.open(str(path))
    try:
        kinds = {iso9660.ISO_9660: "iso_path"}
        if iso.has_rock_ridge():
            kinds[iso9660.ROCK_RIDGE] = "rr_path"
        if iso.has_joliet():
            kinds[iso9660.JOLIET] = "joliet_path"
        trees = {}
        for tree, kind in kinds.items():
            entries = {"": (True, _extents(iso.get_record(**{kind: "/"})))}
            pending = [""]
            while pending:
                folder = pending.pop()
                for child in iso.list_children(**{kind: "/" + folder}):
                    if child is None or child.is_dot() or child.is_dotdot():
                        continue
                    name = _second_name(child, tree)
                    relative = f"{folder}/{name}" if folder else name
                    entries[relative] = (child.is_dir(), _extents(child))
                    if child.is_dir():
                        pending.append(relative)
            trees[tree] = entries
        return trees
    finally:
        iso.close()


def _extents(record) -> list[tuple[int, int]]:
    extents = []
    while record is not None:
        extents.append((record.extent_location() * iso9660.SECTOR, record.data_length))
        record = record.data_continuation
    return extents


def _second_name(record, tree: str) -> str:
    if tree == iso9660.ROCK_RIDGE:
        if record.rock_ridge is None:
            return f"(no Rock Ridge name: {record.file_identifier()!r})"
        return record.rock_ridge.name().decode("utf-8")
    name = record.file_identifier().decode("utf-16-be" if tree == iso9660.JOLIET else "ascii")
    if not record.is_dir():  # a file's version number, and a dot that ends a name without an extension
        name = name.split(";")[0]
        if tree != iso9660.JOLIET and name.endswith("."):
            name = name[:-1]
    return name


def read_checked(path: Path, damaged: bool = False) -> iso9660.Image:
    """The image as the medium tooling reads it, once pycdlib has read the same names and extents in
    every name tree (ReadersDisagree says where not). pycdlib refuses some damage that the medium tooling
    reads past (a padding byte, a path table's mirror copy, a short date): for a damaged image, which
    check-medium must call different anyway, such a refusal is accepted; an image pycdlib reads must
    always read the same."""
    ours = iso9660.read_image(path)
    mine = {tree: {relative: (entry.is_folder, entry.extents) for relative, entry in entries.items()}
            for tree, entries in ours.trees.items()}
    try:
        theirs = _second_reading(path)
    except Exception as error:  # pycdlib's own checks, or its failure to parse what it does not expect
        if damaged:
            return ours
        raise ReadersDisagree(f"{path}: pycdlib cannot read an image that the medium tooling reads: {error!r}") from None
    problems = []
    for tree in sorted(set(mine) | set(theirs)):
        if tree not in mine or tree not in theirs:
            problems.append(f"only {'the medium tooling' if tree in mine else 'pycdlib'} finds {tree} names")
            continue
        for relative in sorted(set(mine[tree]) | set(theirs[tree])):
            a, b = mine[tree].get(relative), theirs[tree].get(relative)
            if a != b:
                problems.append(f"{tree} /{relative}: the medium tooling reads {a}, pycdlib {b}")
    if problems:
        raise ReadersDisagree(f"{path}: the two readers disagree:\n  " + "\n  ".join(problems[:20]))
    return ours


def tampered(path: Path, content: bytes, damaged: bool = False) -> Path:
    """Writes an image a test made by hand, and has both readers read it (damaged: see read_checked)."""
    path.write_bytes(content)
    read_checked(path, damaged)
    return path


def image(path: Path) -> iso9660.Image:
    return read_checked(path)


def file_tree(path: Path, names: str = ROCK_RIDGE) -> list[str]:
    """Every path in the image, as one of its name trees gives them, without the root."""
    return sorted(f"/{entry}" for entry in read_checked(path).trees[names] if entry)


def extract(path: Path, destination: Path, names: str = ROCK_RIDGE) -> Path:
    """The image's files in destination, as one name tree gives them."""
    return read_checked(path).extract(names, destination)
