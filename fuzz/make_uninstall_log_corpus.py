#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_uninstall_log: small well-formed uninstaller
logs (header with its checksum, 4,096-byte blocks, closing record) and one
log whose data ends on a block boundary.

Usage: make_uninstall_log_corpus.py [output folder]
"""
import binascii
import os
import struct
import sys

HEADER_SIZE = 448
BLOCK_SIZE = 4096
CLOSING = bytes(range(0xC0, 0xC0 + 28))


def filler(size, seed):
    return bytes((i * 31 + seed * 7) % 251 for i in range(size))


def build_log(records, record_count):
    data = records + CLOSING
    blocks = b""
    for start in range(0, len(data), BLOCK_SIZE):
        chunk = data[start:start + BLOCK_SIZE]
        size = len(chunk)
        blocks += struct.pack("<III", size, ~size & 0xFFFFFFFF, binascii.crc32(chunk)) + chunk
    header = bytearray(bytes((i * 13) & 0xFF for i in range(444)))
    struct.pack_into("<ii", header, 324, record_count, HEADER_SIZE + len(blocks))
    header += struct.pack("<I", binascii.crc32(bytes(header)))
    return bytes(header) + blocks


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus",
                                                                "uninstall_log")
    os.makedirs(folder, exist_ok=True)
    seeds = {
        "closing_only.dat": build_log(b"", 0),
        "short_last_block.dat": build_log(filler(72, 1), 3),
        "near_boundary.dat": build_log(filler(3990, 2), 40),
        "two_full_blocks.dat": build_log(filler(2 * BLOCK_SIZE + 300, 3), 90),
        "ends_on_boundary.dat": build_log(filler(BLOCK_SIZE - len(CLOSING), 4), 20),
    }
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
