"""An image crafted against the image reader, for its tests and for scripts/bench-medium: a folder W of many
sectors of records, and beside it as many folders D0000, D0001, ... whose records point into W, the Nth
at W's sector N + 1 with the length of the sectors from there to W's end. A reader that follows each folder
record reads W's records about (sectors squared)/2 times.

    /usr/bin/python3 tests/release/crafted_image.py OUTPUT.iso MEGABYTES
"""

from __future__ import annotations

import os
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

SECTOR = 2048
# A plain record of a name of 10 characters ("F00000.;1" is 9) takes 42 bytes: 48 to a sector.
RECORDS_PER_SECTOR = 48


def both_orders(value: int) -> bytes:
    return struct.pack("<I", value) + struct.pack(">I", value)


def quadratic(output: Path, megabytes: float) -> Path:
    """An image of about megabytes MB whose folder W spans most of it."""
    sectors = max(2, int(megabytes * 1024 * 1024 / SECTOR / 2.2))
    with tempfile.TemporaryDirectory() as scratch:
        tree = Path(scratch) / "tree"
        (tree / "W").mkdir(parents=True)
        empty = Path(scratch) / "empty"
        empty.touch()
        for number in range(sectors * RECORDS_PER_SECTOR):
            os.link(empty, tree / "W" / f"F{number:05}")
        for number in range(sectors):
            (tree / f"D{number:04}").mkdir()
        subprocess.run(["xorriso", "-no_rc", "-report_about", "FAILURE", "-outdev", f"stdio:{output}", "-blank",
                        "as_needed", "-rockridge", "off", "-map", str(tree), "/", "-commit"], check=True,
                       capture_output=True)
    data = bytearray(output.read_bytes())
    root = struct.unpack_from("<I", data, 16 * SECTOR + 156 + 2)[0] * SECTOR
    root_length = struct.unpack_from("<I", data, 16 * SECTOR + 156 + 10)[0]
    records = {}
    for sector in range(root, root + root_length, SECTOR):
        position = sector
        while position < sector + SECTOR and data[position]:
            records[bytes(data[position + 33 : position + 33 + data[position + 32]])] = position
            position += data[position]
    w = struct.unpack_from("<I", data, records[b"W"] + 2)[0]
    w_sectors = -(-struct.unpack_from("<I", data, records[b"W"] + 10)[0] // SECTOR)
    for number in range(min(sectors, w_sectors - 1)):
        record = records[b"D%04d" % number]
        data[record + 2 : record + 18] = both_orders(w + number + 1) + both_orders((w_sectors - number - 1) * SECTOR)
    output.write_bytes(bytes(data))
    return output


if __name__ == "__main__":
    quadratic(Path(sys.argv[1]), float(sys.argv[2]))
