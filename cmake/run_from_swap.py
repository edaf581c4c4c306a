#!/usr/bin/python3
"""Marks a linked PE image so that Windows copies it to the swap file before running it from
removable or network media, then brings the image's checksum up to date.

    run_from_swap.py IMAGE

GNU ld has no option for these two COFF flags, so the build sets them after linking. The step is
idempotent and deterministic: the same input always gives the same bytes. Standard library only.
"""

import os
import struct
import sys
import tempfile

IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP = 0x0400
IMAGE_FILE_NET_RUN_FROM_SWAP = 0x0800
RUN_FROM_SWAP = IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP | IMAGE_FILE_NET_RUN_FROM_SWAP

CHECKSUM_OFFSET_IN_OPTIONAL_HEADER = 64  # the same in PE32 and PE32+


def header_offsets(image):
    """(offset of the COFF Characteristics field, offset of the optional header's CheckSum)."""
    if image[:2] != b"MZ" or len(image) < 0x40:
        raise ValueError("not an MZ executable")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe : pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    coff = pe + 4
    optional_size = struct.unpack_from("<H", image, coff + 16)[0]
    optional = coff + 20
    if optional_size < CHECKSUM_OFFSET_IN_OPTIONAL_HEADER + 4 or optional + optional_size > len(image):
        raise ValueError("optional header too short")
    return coff + 18, optional + CHECKSUM_OFFSET_IN_OPTIONAL_HEADER


def pe_checksum(image, checksum_offset):
    """The image checksum as the Windows loader and CheckSumMappedFile compute it: 16-bit words summed
    with end-around carry, the CheckSum field itself counted as zero, plus the file length."""
    data = bytearray(image)
    data[checksum_offset : checksum_offset + 4] = b"\0\0\0\0"
    if len(data) % 2:
        data.append(0)
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def mark(image):
    """The image with both run-from-swap flags set and a checksum that matches its new bytes."""
    characteristics_offset, checksum_offset = header_offsets(image)
    marked = bytearray(image)
    characteristics = struct.unpack_from("<H", marked, characteristics_offset)[0]
    struct.pack_into("<H", marked, characteristics_offset, characteristics | RUN_FROM_SWAP)
    struct.pack_into("<I", marked, checksum_offset, pe_checksum(marked, checksum_offset))
    return bytes(marked)


def main(argv):
    if len(argv) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    path = argv[0]
    with open(path, "rb") as file:
        image = file.read()
    try:
        marked = mark(image)
    except ValueError as error:
        print(f"{path}: {error}", file=sys.stderr)
        return 1
    if marked != image:
        # Replace in one step, so that an interrupted build never leaves a half-written program.
        folder = os.path.dirname(os.path.abspath(path))
        descriptor, temporary = tempfile.mkstemp(dir=folder, suffix=".tmp")
        try:
            with os.fdopen(descriptor, "wb") as file:
                file.write(marked)
            os.chmod(temporary, os.stat(path).st_mode & 0o7777)
            os.replace(temporary, path)
        except BaseException:
            os.unlink(temporary)
            raise
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
