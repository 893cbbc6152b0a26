#!/usr/bin/env python3
"""make-ico.py OUT.ico SVG: the program icon for Windows, rendered from the desktop icon with rsvg-convert at
16, 32, 48 and 256 pixels and stored as PNG images in one .ico file (the form Windows reads since Vista)."""
import struct
import subprocess
import sys

out, svg = sys.argv[1], sys.argv[2]
images = []
for size in (16, 32, 48, 256):
    png = subprocess.run(["rsvg-convert", "-w", str(size), "-h", str(size), svg], check=True,
                         stdout=subprocess.PIPE).stdout
    images.append((size, png))
header = struct.pack("<HHH", 0, 1, len(images))
offset = len(header) + 16 * len(images)
entries = b""
for size, png in images:
    side = 0 if size == 256 else size  # 0 means 256 in an icon directory
    entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(png), offset)
    offset += len(png)
with open(out, "wb") as f:
    f.write(header + entries + b"".join(png for _, png in images))
