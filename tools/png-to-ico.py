#!/usr/bin/env python3
"""png-to-ico.py SOURCE.png DEST.ico: the program icon for Windows from the square RGBA PNG of the
Linux desktop file, at the sizes Windows asks for (the source's own and halved down to 16), each as
a 32-bit bitmap with its mask. Standard library only."""
import struct
import sys
import zlib


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG file")
    pos, idat, width = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if (depth, colour, interlace) != (8, 6, 0):
                sys.exit(f"{path}: only 8-bit RGBA without interlacing is read")
        elif kind == b"IDAT":
            idat += body
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, previous = [], bytearray(stride)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        kind, row = line[0], bytearray(line[1:])
        for x in range(stride):
            left = row[x - 4] if x >= 4 else 0
            up = previous[x]
            corner = previous[x - 4] if x >= 4 else 0
            if kind == 1:
                row[x] = (row[x] + left) & 0xFF
            elif kind == 2:
                row[x] = (row[x] + up) & 0xFF
            elif kind == 3:
                row[x] = (row[x] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                predictor = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                row[x] = (row[x] + predictor) & 0xFF
        rows.append(row)
        previous = row
    return width, height, rows


def halve(size, rows):
    half = size // 2
    out = []
    for y in range(half):
        row = bytearray(half * 4)
        for x in range(half):
            for c in range(4):
                row[x * 4 + c] = sum(rows[2 * y + dy][(2 * x + dx) * 4 + c] for dy in (0, 1) for dx in (0, 1)) // 4
        out.append(row)
    return half, out


def bitmap(size, rows):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        for x in range(size):
            r, g, b, a = row[x * 4:x * 4 + 4]
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x in range(size):
            if row[x * 4 + 3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + mask


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    width, height, rows = read_png(sys.argv[1])
    if width != height:
        sys.exit(f"{sys.argv[1]}: the icon must be square")
    images, size = [], width
    while True:
        images.append((size, bitmap(size, rows)))
        if size <= 16 or size % 2:
            break
        size, rows = halve(size, rows)
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for size, blob in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        blobs += blob
    open(sys.argv[2], "wb").write(directory + entries + blobs)


if __name__ == "__main__":
    main()
