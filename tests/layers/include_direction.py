#!/usr/bin/python3
"""Checks that includes under src/ run one way, down the layers (see ARCHITECTURE.md): every
#include "folder/file" must name a folder that the including file's own folder may use.

Usage: include_direction.py SRC_DIR     (prints each include that runs the wrong way; exit 1 if any)
"""

import re
import sys
from pathlib import Path

# Each folder of src/ with the folders its files may include from; "" is src/ itself (main.cpp).
MAY_INCLUDE = {
    "common": {"common"},
    "win32": {"common", "win32"},
    "actions": {"common", "win32", "actions"},
    "setup": {"common", "win32", "actions", "setup", "resources"},
    "pathcheck": {"common", "win32", "pathcheck"},
    "resources": {"resources"},
    "": {"common", "win32", "actions", "setup"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCES = {".h", ".cpp", ".rc", ".rch"}


def violations(src: Path) -> list[str]:
    found = []
    for path in sorted(p for p in src.rglob("*") if p.suffix in SOURCES):
        relative = path.relative_to(src)
        folder = relative.parts[0] if len(relative.parts) > 1 else ""
        if folder not in MAY_INCLUDE:
            found.append(f"{relative}: the folder {folder}/ has no place among the layers")
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), start=1):
            match = INCLUDE.match(line)
            if not match or "/" not in match.group(1):
                continue  # a file beside the including one
            target = match.group(1).split("/")[0]
            if target not in MAY_INCLUDE[folder]:
                found.append(f"{relative}:{number}: {folder or 'src'}/ may not include {match.group(1)}")
    return found


def main(argv: list[str]) -> int:
    if len(argv) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    found = violations(Path(argv[0]))
    for violation in found:
        print(violation)
    if not found:
        print("every include runs down the layers")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
