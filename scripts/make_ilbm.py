#!/usr/bin/env python3
"""Writes a binary PPM (P6, 8-bit) from stdin as a 24-plane ILBM with
ByteRun1 rows to stdout: ImageMagick reads IFF but does not write it.
usage: make_ilbm.py < in.ppm > out.iff
"""
import struct
import sys


def read_ppm(data):
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    assert fields[0] == b"P6" and fields[3] == b"255", "8-bit P6 only"
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[pos + 1:pos + 1 + width * height * 3]


def byterun1(row):
    # Runs of three or more equal bytes become repeat packets, the rest literals.
    out, i = bytearray(), 0
    while i < len(row):
        j = i
        while j < len(row) and j - i < 128 and row[j] == row[i]:
            j += 1
        if j - i >= 3:
            out += bytes([257 - (j - i), row[i]])
            i = j
            continue
        j = i
        while j < len(row) and j - i < 128 and not (j + 2 < len(row) and row[j] == row[j + 1] == row[j + 2]):
            j += 1
        out += bytes([j - i - 1]) + row[i:j]
        i = j
    return out


def chunk(name, data):
    return name + struct.pack(">I", len(data)) + data + (b"\0" if len(data) & 1 else b"")


def main():
    width, height, pixels = read_ppm(sys.stdin.buffer.read())
    plane_bytes = (width + 15) // 16 * 2
    body = bytearray()
    for y in range(height):
        row = pixels[y * width * 3:(y + 1) * width * 3]
        planes = bytearray()
        # Planes 0-7 hold red (plane 0 the least significant bit), 8-15 green, 16-23 blue.
        for channel in range(3):
            for bit in range(8):
                plane = bytearray(plane_bytes)
                for x in range(width):
                    if row[3 * x + channel] >> bit & 1:
                        plane[x >> 3] |= 0x80 >> (x & 7)
                planes += plane
        body += byterun1(bytes(planes))
    bmhd = struct.pack(">HHhhBBBBHBBhh", width, height, 0, 0, 24, 0, 1, 0, 0, 1, 1, width, height)
    form = b"ILBM" + chunk(b"BMHD", bmhd) + chunk(b"BODY", bytes(body))
    sys.stdout.buffer.write(chunk(b"FORM", form))


main()
