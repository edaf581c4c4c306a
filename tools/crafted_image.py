"""An image crafted against the medium tooling's image reader, for scripts/bench-medium and the reader's
tests: a folder W of many sectors of records, and folders D0000, D0001, ... whose records point into W,
the Nth at W's sector N + 1 with the length of the rest of W. A reader that follows each folder reads W
about (sectors squared)/2 times.

    /usr/bin/python3 tools/crafted_image.py OUTPUT.iso MEGABYTES
"""

import os
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

SECTOR = 2048


def quadratic(output: Path, megabytes: float) -> Path:
    sectors = max(2, int(megabytes * 1024 * 1024 / SECTOR / 2.2))
    output.unlink(missing_ok=True)  # xorriso would add to an image already there
    with tempfile.TemporaryDirectory() as scratch:
        (Path(scratch) / "tree" / "W").mkdir(parents=True)
        (Path(scratch) / "empty").touch()
        for number in range(sectors * 48):  # 48 records of plain names to a sector
            os.link(Path(scratch) / "empty", Path(scratch) / "tree" / "W" / f"F{number:05}")
        for number in range(sectors):
            (Path(scratch) / "tree" / f"D{number:04}").mkdir()
        subprocess.run(["xorriso", "-no_rc", "-report_about", "FAILURE", "-outdev", f"stdio:{output}", "-blank",
                        "as_needed", "-rockridge", "off", "-padding", "0", "-map", f"{scratch}/tree", "/", "-commit"],
                       check=True, capture_output=True)
    data = bytearray(output.read_bytes())
    root, length = struct.unpack_from("<I4xI", data, 16 * SECTOR + 158)
    records, position = {}, root * SECTOR
    while position < root * SECTOR + length:
        if not data[position]:
            position = (position // SECTOR + 1) * SECTOR
            continue
        records[bytes(data[position + 33 : position + 33 + data[position + 32]])] = position
        position += data[position]
    w, w_bytes = struct.unpack_from("<I4xI", data, records[b"W"] + 2)
    for number in range(min(sectors, w_bytes // SECTOR - 1)):
        rest = w_bytes - (number + 1) * SECTOR
        data[records[b"D%04d" % number] + 2 : records[b"D%04d" % number] + 18] = \
            b"".join(struct.pack(order, value) for value in (w + number + 1, rest) for order in ("<I", ">I"))
    output.write_bytes(bytes(data))
    return output


if __name__ == "__main__":
    quadratic(Path(sys.argv[1]), float(sys.argv[2]))
