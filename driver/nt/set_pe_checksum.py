#!/usr/bin/env python3
"""Writes the PE image checksum into a linked image (the linker leaves it zero)."""
import struct
import sys


def pe_checksum(data: bytes, checksum_offset: int) -> int:
    total = 0
    padded = data + b"\0" * (len(data) & 1)
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    # The checksum field itself counts as zero.
    for (word,) in struct.iter_unpack("<H", data[checksum_offset:checksum_offset + 4]):
        total -= word
        if total < 0:
            total += 0xFFFF
    total = (total & 0xFFFF) + (total >> 16)
    return (total & 0xFFFF) + len(data)


def main() -> int:
    if len(sys.argv) != 2:
        print("usage: set_pe_checksum.py IMAGE", file=sys.stderr)
        return 2
    path = sys.argv[1]
    with open(path, "rb") as f:
        data = bytearray(f.read())
    if len(data) < 0x40 or data[:2] != b"MZ":
        print(f"{path}: not a PE image", file=sys.stderr)
        return 1
    (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
    if pe_offset + 0x5C > len(data) or data[pe_offset:pe_offset + 4] != b"PE\0\0":
        print(f"{path}: no PE header", file=sys.stderr)
        return 1
    # Signature (4) + file header (20) + 64 bytes into the optional header.
    checksum_offset = pe_offset + 4 + 20 + 64
    struct.pack_into("<I", data, checksum_offset, pe_checksum(bytes(data), checksum_offset))
    with open(path, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
