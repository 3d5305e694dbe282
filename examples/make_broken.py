#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes broken.wav: half a second of a 440 Hz tone, as a recorder that crashed before it
could fill in the data chunk's size would leave it (the size reads 0)."""
import math
import struct

RATE = 8000
audio = bytes(128 + round(100 * math.sin(2 * math.pi * 440 * n / RATE)) for n in range(RATE // 2))
fmt = struct.pack("<HHIIHH", 1, 1, RATE, RATE, 1, 8)
header = b"RIFF" + struct.pack("<I", 36 + len(audio)) + b"WAVE" + b"fmt " + struct.pack("<I", 16) + fmt
with open("broken.wav", "wb") as out:
    out.write(header + b"data" + struct.pack("<I", 0) + audio)
