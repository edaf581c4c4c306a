"""The toolchain that made a medium, named by the exact versions of the Debian packages that shape its
bytes. make-medium keeps them beside the image (OUTPUT.iso.buildinfo, after the reproducible-builds
.buildinfo records), and check-medium compares them with its own before it makes the medium again: its
verdict still rests on the bytes alone, but a difference that the toolchain may explain is said to be so.

The versions come from dpkg's own status file, read here (no program's output is parsed). The record
travels with a shipped medium, so it is read as untrusted text: strictly, small, and only names and
versions that Debian allows, which are all that is ever printed of it.
"""

from __future__ import annotations

import os
import re
import tempfile
from pathlib import Path

STATUS = Path("/var/lib/dpkg/status")
SUFFIX = ".buildinfo"
FORMAT = "1.0"
FIELD = "Installed-Build-Depends"
# A record is a few dozen lines; anything much larger is no record of make-medium's.
RECORD_LIMIT = 64 * 1024

# The packages whose files go into the image's bytes, or decide them: the i686 compilers and the runtime
# linked in (the release build's win32 thread model), the MinGW-w64 headers and libraries, binutils (the
# assembler, linker and resource compiler), stb_image.h compiled into setup.exe, cmake (it writes the
# compile and link commands), xorriso and the libraries that lay out the image, osslsigncode and the
# OpenSSL library that make the signature, and the Python that writes the payload list and attaches a
# signature. python3-pefile only reads programs back, and ninja only runs cmake's commands.
PACKAGES = (
    "g++-mingw-w64-i686-win32", "gcc-mingw-w64-i686-win32", "gcc-mingw-w64-i686-win32-runtime",
    "gcc-mingw-w64-base", "mingw-w64-i686-dev", "mingw-w64-common", "binutils-mingw-w64-i686",
    "libstb-dev", "cmake", "xorriso", "libisoburn1", "libisofs6", "libburn4", "osslsigncode", "libssl3",
    "python3.11",
)

PACKAGE_NAME = re.compile(r"[a-z0-9][a-z0-9+.-]+(?::[a-z0-9-]+)?")
VERSION = re.compile(r"[A-Za-z0-9.+~:-]+")
RECORD_LINE = re.compile(rf" ({PACKAGE_NAME.pattern}) \(= ({VERSION.pattern})\),?")


class RecordError(Exception):
    """A record or a status file that cannot be read: the message says which line and why."""


def record_path(image: Path) -> Path:
    return image.with_name(image.name + SUFFIX)


def installed(packages=PACKAGES, status: Path | None = None) -> dict[str, str]:
    """The version of each of packages that dpkg's status file has installed; a package installed for
    several architectures in different versions is named NAME:ARCH for each. Those not installed are left
    out."""
    status = status or STATUS
    try:
        text = status.read_text(encoding="utf-8", errors="replace")
    except OSError as error:
        raise RecordError(f"the package versions cannot be read from {status}: {error.strerror}") from None
    wanted, found = set(packages), {}
    for stanza in text.split("\n\n"):
        fields = dict(line.split(":", 1) for line in stanza.splitlines() if ":" in line and not line[:1].isspace())
        name, version = fields.get("Package", "").strip(), fields.get("Version", "").strip()
        if name in wanted and fields.get("Status", "").split()[-1:] == ["installed"] and version:
            found.setdefault(name, {})[fields.get("Architecture", "").strip()] = version
    versions = {}
    for name, by_architecture in found.items():
        if len(set(by_architecture.values())) == 1:
            versions[name] = next(iter(by_architecture.values()))
        else:
            versions.update({f"{name}:{architecture}": version for architecture, version in by_architecture.items()})
    return versions


def render(versions: dict[str, str]) -> str:
    lines = [f" {name} (= {version})," for name, version in sorted(versions.items())]
    if lines:
        lines[-1] = lines[-1].rstrip(",")
    return "\n".join([f"Format: {FORMAT}", f"{FIELD}:", *lines]) + "\n"


def parse(text: str) -> dict[str, str]:
    """A record's versions by package; RecordError names the first line that is not make-medium's."""
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()
    if lines[:2] != [f"Format: {FORMAT}", f"{FIELD}:"]:
        raise RecordError(f"it does not begin with 'Format: {FORMAT}' and '{FIELD}:'")
    versions: dict[str, str] = {}
    for number, line in enumerate(lines[2:], 3):
        match = RECORD_LINE.fullmatch(line)
        if not match or match[1] in versions:
            raise RecordError(f"line {number} names no package and version once" + ("" if match else
                              " as ' NAME (= VERSION),' does"))
        versions[match[1]] = match[2]
    return versions


def read_record(path: Path) -> dict[str, str]:
    try:
        with open(path, "rb") as file:
            data = file.read(RECORD_LIMIT + 1)
    except OSError as error:
        raise RecordError(error.strerror) from None
    if len(data) > RECORD_LIMIT:
        raise RecordError(f"it is larger than {RECORD_LIMIT} bytes")
    try:
        return parse(data.decode("ascii"))
    except UnicodeDecodeError:
        raise RecordError("it holds bytes other than ASCII") from None


def write_record(image: Path, versions: dict[str, str], mode: int = 0o644) -> Path:
    """The record beside image, written whole or not at all."""
    path = record_path(image)
    descriptor, name = tempfile.mkstemp(dir=path.parent, prefix=f".{path.name}.")
    try:
        with os.fdopen(descriptor, "w", encoding="ascii") as file:
            file.write(render(versions))
        os.chmod(name, mode)
        os.replace(name, path)
    finally:
        Path(name).unlink(missing_ok=True)
    return path


def differences(recorded: dict[str, str], ours: dict[str, str]) -> list[str]:
    """Each package whose version differs, in the words check-medium explains a difference with."""
    return [f"this machine's {name} is {ours.get(name, 'not installed')}, the medium's was"
            f" {recorded.get(name, 'not recorded')}"
            for name in sorted(set(recorded) | set(ours)) if recorded.get(name) != ours.get(name)]


def compare_with_record(record: Path, status: Path | None = None) -> list[str]:
    """What check-medium says of a medium's record before it makes the medium again: each package whose
    version differs from this machine's, or why the record cannot be read; nothing when they agree."""
    try:
        recorded = read_record(record)
        return differences(recorded, installed(sorted(set(PACKAGES) | set(recorded)), status))
    except RecordError as error:
        return [f"the toolchain record {record} cannot be read ({error}), so no difference is put down to the"
                " toolchain"]
