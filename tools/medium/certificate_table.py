"""Where a Windows program keeps its Authenticode signature: the PE headers' certificate table entry, the
table's one WIN_CERTIFICATE entry and the PKCS#7 DER in it, and the program's digest over everything else.
Only the file's layout is judged here; what the signature says is authenticode's business."""

from __future__ import annotations

import hashlib
import struct
from dataclasses import dataclass

WIN_CERT_REVISION_2 = 0x0200
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002
SECURITY_DIRECTORY = 4


class Refused(ValueError):
    """A finding that ends the examination: nothing after it can be read or trusted."""


def der_header(data: bytes, offset: int = 0) -> tuple[int, int]:
    """The length of the DER header at offset and of the content after it (definite lengths only)."""
    if offset + 2 > len(data):
        raise ValueError("cut short")
    first = data[offset + 1]
    if first < 0x80:
        return 2, first
    count = first & 0x7F
    if count == 0 or count > 4 or offset + 2 + count > len(data):
        raise ValueError("not DER")
    return 2 + count, int.from_bytes(data[offset + 2:offset + 2 + count], "big")


@dataclass(frozen=True)
class Layout:
    checksum: int  # file offset of the optional header's CheckSum field
    directory: int  # file offset of the certificate table's directory entry
    table: int  # the entry's file offset and size
    size: int
    end_of_image: int  # where the headers and the sections' raw data end


def layout(program: bytes) -> Layout:
    def read(form: str, offset: int) -> tuple:
        if offset < 0 or offset + struct.calcsize(form) > len(program):
            raise Refused("the file is not a Windows program: its headers are cut short")
        return struct.unpack_from(form, program, offset)

    if program[:2] != b"MZ":
        raise Refused("the file is not a Windows program: it does not start with MZ")
    (pe,) = read("<I", 0x3C)
    if program[pe:pe + 4] != b"PE\0\0":
        raise Refused("the file is not a Windows program: no PE signature where its header points")
    sections, optional_size = read("<H", pe + 6)[0], read("<H", pe + 20)[0]
    optional = pe + 24
    (magic,) = read("<H", optional)
    if magic not in (0x10B, 0x20B):
        raise Refused(f"the file is not a Windows program: unknown optional header magic {magic:#x}")
    directories = optional + (96 if magic == 0x10B else 112)
    (count,) = read("<I", directories - 4)
    directory = directories + 8 * SECURITY_DIRECTORY
    if count <= SECURITY_DIRECTORY or directory + 8 > optional + optional_size:
        raise Refused("the program's header has no certificate table entry")
    table, size = read("<II", directory)
    (end,) = read("<I", optional + 60)  # SizeOfHeaders
    for index in range(sections):
        raw_size, raw_offset = read("<II", optional + optional_size + 40 * index + 16)
        if raw_size:
            end = max(end, raw_offset + raw_size)
    return Layout(optional + 64, directory, table, size, end)


def signature_der(program: bytes) -> bytes | None:
    """The PKCS#7 SignedData DER from the certificate table, or None when the program is unsigned; raises
    ValueError (with a sentence) when the file is no Windows program or its table cannot be read."""
    return read_table(program, [])[1]


def read_table(program: bytes, problems: list[str]) -> tuple[Layout, bytes | None]:
    """The layout and the signature's DER (None when unsigned); adds to problems what is wrong with where
    the signature lies."""
    where = layout(program)
    if where.table == 0 and where.size == 0:
        return where, None
    start, end = where.table, where.table + where.size
    if end > len(program) or where.size < 8:
        raise Refused("the certificate table's directory entry points past the end of the file")
    if end < len(program):
        problems.append(f"data appended to the certificate table: {len(program) - end} bytes follow it in the file")
    if start % 8 or start < where.end_of_image:
        problems.append("the certificate table is not where Authenticode puts it: it must follow the program's "
                        "sections, aligned to 8 bytes")
    length, revision, kind = struct.unpack_from("<IHH", program, start)
    if revision != WIN_CERT_REVISION_2 or kind != WIN_CERT_TYPE_PKCS_SIGNED_DATA:
        raise Refused(f"the certificate table holds no Authenticode signature (revision {revision:#x}, type {kind})")
    if length < 8 or length > where.size:
        raise Refused("the certificate table's entry has a length that does not fit the table")
    entry_end = start + (length + 7) // 8 * 8
    if entry_end < end:
        problems.append("the certificate table holds more than one entry")
    try:
        header, content = der_header(program, start + 8)
    except ValueError:
        raise Refused("the signature in the certificate table is not DER") from None
    der_end = start + 8 + header + content
    if der_end > start + length:
        raise Refused("the signature in the certificate table is cut short")
    # Everything up to the entry's 8-byte boundary is left out of the digest: nothing may hide there.
    trailing = program[der_end:min(entry_end, end)]
    if len(trailing) >= 8 or any(trailing):
        problems.append(f"data appended to the certificate table: its entry holds {len(trailing)} bytes after the "
                        "signature beyond the zero padding to 8 bytes")
    return where, program[start + 8:der_end]


def authenticode_digest(program: bytes, where: Layout) -> bytes:
    """SHA-256 over the program without its CheckSum, its certificate table entry and the table."""
    digest = hashlib.sha256()
    digest.update(program[:where.checksum])
    digest.update(program[where.checksum + 4:where.directory])
    digest.update(program[where.directory + 8:where.table if where.size else len(program)])
    return digest.digest()
