#!/usr/bin/env python3
"""Writes zel/firmware/ZELFirmwareKey.cpp: the key table of the firmware file encryption.

The table and the start positions were generated once with this script and must never change:
a firmware file encrypted with one table decrypts only with the same table.

Procedure (re-derived by tests/firmware/ZELFirmwareKeyTest.cpp):
  * a SplitMix64 generator with the seed 0x5441524E46574B31 ("TARNFWK1");
  * the table is the first 4096 outputs, each written as 8 bytes little-endian (32768 bytes);
  * the start positions are the top 15 bits of the following outputs, a value equal to one
    already taken being skipped, until there are eight (index 0 for variants 1 and 2,
    index 1 to 7 for variants 3 to 9).

Usage: tools/gen-firmware-key.py > zel/firmware/ZELFirmwareKey.cpp
"""

import sys

SEED = 0x5441524E46574B31
MASK = (1 << 64) - 1
TABLE_SIZE = 32768
START_COUNT = 8


def splitmix64(state):
    while True:
        state = (state + 0x9E3779B97F4A7C15) & MASK
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        yield z ^ (z >> 31)


def main():
    stream = splitmix64(SEED)
    table = bytearray()
    while len(table) < TABLE_SIZE:
        table += next(stream).to_bytes(8, "little")
    starts = []
    while len(starts) < START_COUNT:
        position = next(stream) >> 49
        if position not in starts:
            starts.append(position)

    out = sys.stdout
    out.write("// Generated once by tools/gen-firmware-key.py; never edit or regenerate with other values:\n")
    out.write("// firmware files encrypted with this table decrypt only with this table.\n\n")
    out.write('#include "zel/firmware/ZELFirmwareKey.h"\n\n')
    out.write("const unsigned short g_ZELFirmwareKeyStart[ZEL_FIRMWARE_KEY_START_COUNT] = {\n   ")
    out.write(",".join(" %5d" % s for s in starts))
    out.write(",\n};\n\n")
    out.write("const unsigned char g_ZELFirmwareKeyTable[ZEL_FIRMWARE_KEY_SIZE] = {\n")
    for offset in range(0, TABLE_SIZE, 16):
        out.write("    " + ", ".join("0x%02X" % b for b in table[offset:offset + 16]) + ",\n")
    out.write("};\n")


if __name__ == "__main__":
    main()
