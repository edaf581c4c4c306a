#!/usr/bin/python3
"""A setup.exe that carries a payload list vouching for the tests' genuine medium (the one lay_out_medium
lays out: the sample notes, the sample components and the tests' recording installer of the road).

On the 32-bit road it is the program as it ships: scripts/make-medium makes a medium of that payload,
signed with the tests' CA (tests/release/signing_keys.py), and the setup.exe is taken from the image
(build/ui-listed-medium). make-medium builds only the i686 release program, so the x86-64 road builds a
program of its own, configured with MEDIUM_PAYLOAD_LIST (build/win64-listed). Set UI_LISTED_SETUP
(UI_LISTED_SETUP_I686 on the 32-bit road) to a setup.exe made elsewhere to use that one instead; the tests
check that its list names exactly the genuine payload either way.

Usage: listed_setup.py build     (UI_ROAD picks the road; prints the program's path)
"""

from __future__ import annotations

import hashlib
import os
import shutil
import subprocess
import sys
from pathlib import Path

from common import REPO_ROOT, ROAD, SAMPLE_MEDIUM, Road
from facts import medium_facts
from launcher import sample_installer_exe, sample_notes_bytes

# The resource that carries the list, and its type (RT_RCDATA).
PAYLOAD_LIST_RESOURCE = 301
RT_RCDATA = 10

_PRESETS = {"x86_64": "win64"}
_OVERRIDES = {"x86_64": "UI_LISTED_SETUP", "i686": "UI_LISTED_SETUP_I686"}


def genuine_payload(road: Road = ROAD) -> dict[str, bytes]:
    """The genuine medium's payload files by their Windows relative paths."""
    names = medium_facts()
    files = {names["notes"]: sample_notes_bytes(), names["installer"]: sample_installer_exe(road).read_bytes()}
    for component in names["components"]:
        files[component["source"]] = (SAMPLE_MEDIUM / component["source"].replace("\\", "/")).read_bytes()
    return files


def payload_list(files: dict[str, bytes]) -> bytes:
    """The list of these files in the program's format: sorted by the UTF-8 bytes of their paths."""
    lines = [b"TARVIN PAYLOAD LIST 2\n"]
    for path in sorted(files, key=lambda name: name.encode("utf-8")):
        content = files[path]
        digests = f"{hashlib.sha256(content).hexdigest()} {hashlib.sha1(content).hexdigest()}"
        lines.append(f"{digests} {len(content)} {path}\n".encode("utf-8"))
    return b"".join(lines)


_MEDIUM_FOLDER = REPO_ROOT / "build" / "ui-listed-medium"


def _build_folder(road: Road) -> Path:
    return REPO_ROOT / "build" / f"{_PRESETS[road.name]}-listed"


def listed_setup_exe(road: Road = ROAD) -> Path:
    """The setup.exe with a list for this road: the one the environment names, else the shipped medium's
    (32-bit road) or the listed build's."""
    override = os.environ.get(_OVERRIDES[road.name])
    if override:
        return Path(override)
    if road.name == "i686":
        return _MEDIUM_FOLDER / "files" / "setup.exe"
    return _build_folder(road) / "src" / "listed" / "setup.exe"


def _from_a_signed_medium(road: Road) -> Path:
    """make-medium's medium of the road's genuine payload, signed with the tests' CA; its setup.exe."""
    sys.path.insert(0, str(REPO_ROOT / "tests" / "release"))
    import medium_image  # noqa: E402  (tests/release, found through the path above)
    import signing_keys  # noqa: E402

    shutil.rmtree(_MEDIUM_FOLDER, ignore_errors=True)
    payload = _MEDIUM_FOLDER / "payload"
    for path, content in genuine_payload(road).items():
        target = payload / path.replace("\\", "/")
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(content)
    keys = signing_keys.make_test_keys(_MEDIUM_FOLDER / "keys")
    image = _MEDIUM_FOLDER / "medium.iso"
    # --uncommitted: a developer's working tree may hold changes; the program is built from it either way.
    result = medium_image.make_medium(payload, image, "--uncommitted", "--pkcs12", str(keys.path("signer.p12")),
                                      "--password-file", str(keys.password_file))
    if result.returncode != 0:
        raise SystemExit(f"make-medium failed:\n{result.stderr}")
    medium_image.extract(image, _MEDIUM_FOLDER / "files", medium_image.JOLIET)
    return listed_setup_exe(road)


def carried_list(program: Path) -> bytes | None:
    """The payload list resource of a program (None when it carries none), read with pefile."""
    import pefile

    pe = pefile.PE(str(program), fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in resources.entries if resources else []:
        if kind.id != RT_RCDATA:
            continue
        for name in kind.directory.entries:
            if name.id == PAYLOAD_LIST_RESOURCE:
                data = name.directory.entries[0].data.struct
                return pe.get_data(data.OffsetToData, data.Size)
    return None


def build(road: Road = ROAD) -> Path:
    """Builds the road's listed setup.exe (unless the environment names one) and returns its path."""
    if os.environ.get(_OVERRIDES[road.name]):
        return listed_setup_exe(road)
    if road.name == "i686":
        return _from_a_signed_medium(road)
    folder = _build_folder(road)
    folder.mkdir(parents=True, exist_ok=True)
    listing = folder / "genuine-payload.list"
    content = payload_list(genuine_payload(road))
    if not listing.exists() or listing.read_bytes() != content:
        listing.write_bytes(content)
    subprocess.run(["cmake", "--preset", _PRESETS[road.name], "-B", str(folder), f"-DMEDIUM_PAYLOAD_LIST={listing}",
                    "-DLAUNCHER_WINDOWS_TESTS=OFF"], cwd=REPO_ROOT, check=True, stdout=subprocess.DEVNULL)
    jobs = os.environ.get("JOBS", "2")
    subprocess.run(["cmake", "--build", str(folder), "--target", "setup_listed", "-j", jobs], cwd=REPO_ROOT, check=True)
    return listed_setup_exe(road)


if __name__ == "__main__":
    if sys.argv[1:] != ["build"]:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    print(build())
