"""End-to-end harness, the pictures: the program's own pictures read from the
resource files in src/resources, and where a screenshot shows them.

A picture is its size and its opaque pixels: an icon frame's pixels that the
AND mask (16 colours) or the alpha channel (32-bit; PNG frames are not read
here) leave fully opaque, a menu strip's pixels that are not the key colour.
Those are drawn unchanged whatever lies below them, so a screenshot holds
them exactly where the program shows that picture, and a picture scaled up
from another size does not match.
"""

from __future__ import annotations

import os
import struct
import subprocess
from dataclasses import dataclass
from pathlib import Path
from typing import Optional

from harness_wine import REPO

__all__ = ["RESOURCES", "Picture", "icon_frame", "strip_pictures", "Screen"]

RESOURCES = REPO / "src" / "resources"
KEY = (255, 0, 255)  # the clear parts of the menu strips


@dataclass
class Picture:
    width: int
    height: int
    pixels: list[tuple[int, int, tuple[int, int, int]]]  # x, y, (r, g, b) of each opaque pixel


def _palette(data: bytes, offset: int, count: int) -> list[tuple[int, int, int]]:
    """count RGBQUADs (blue, green, red, 0) as (r, g, b)."""
    return [(data[offset + 4 * i + 2], data[offset + 4 * i + 1], data[offset + 4 * i])
            for i in range(count)]


def _rows(data: bytes, offset: int, width: int, height: int, bits: int):
    """The rows of a bottom-up bitmap, top row first, each as bytes."""
    stride = (width * bits + 31) // 32 * 4
    return [data[offset + stride * (height - 1 - y):offset + stride * (height - y)]
            for y in range(height)]


def icon_frame(path: Path, size: int) -> Picture:
    """The frame of that size of an .ico file (4- or 32-bit, not PNG)."""
    data = path.read_bytes()
    count = struct.unpack_from("<H", data, 4)[0]
    for i in range(count):
        width, _, _, _, _, _, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if (width or 256) == size:
            break
    else:
        raise ValueError(f"{path} has no {size} px frame")
    frame = data[offset:offset + length]
    if frame[:4] == b"\x89PNG":
        raise ValueError(f"the {size} px frame of {path} is PNG")
    header, _, height2, _, bits, _, _, _, _, colors, _ = struct.unpack_from("<IiiHHIIiiII", frame)
    palette = _palette(frame, header, colors or (1 << bits if bits <= 8 else 0))
    pixels_at = header + 4 * len(palette)
    color_rows = _rows(frame, pixels_at, size, size, bits)
    mask_rows = _rows(frame, pixels_at + len(b"".join(color_rows)), size, size, 1)
    pixels = []
    for y in range(size):
        for x in range(size):
            if bits == 32:
                b, g, r, a = color_rows[y][4 * x:4 * x + 4]
                if a == 255:
                    pixels.append((x, y, (r, g, b)))
            elif not mask_rows[y][x // 8] & (0x80 >> (x % 8)):
                index = (color_rows[y][x // 2] >> (4 if x % 2 == 0 else 0)) & 0xF
                pixels.append((x, y, palette[index]))
    return Picture(size, size, pixels)


def strip_pictures(path: Path, size: int) -> list[Picture]:
    """The size x size pictures of a menu strip (24-bit or 8-bit bitmap)."""
    data = path.read_bytes()
    offset = struct.unpack_from("<I", data, 10)[0]
    _, width, height, _, bits, _, _, _, _, colors, _ = struct.unpack_from("<IiiHHIIiiII", data, 14)
    palette = _palette(data, 54, colors)
    rows = _rows(data, offset, width, height, bits)
    pictures = []
    for first in range(0, width, size):
        pixels = []
        for y in range(height):
            for x in range(size):
                if bits == 24:
                    b, g, r = rows[y][3 * (first + x):3 * (first + x) + 3]
                    color = (r, g, b)
                else:
                    color = palette[rows[y][first + x]]
                if color != KEY:
                    pixels.append((x, y, color))
        pictures.append(Picture(size, height, pixels))
    return pictures


class Screen:
    """The pixels of a screen, 8-bit RGB: of a screenshot (PNG) or of an X
    display now (ImageMagick's import)."""

    def __init__(self, png: Path):
        self._read(["convert", str(png), "-depth", "8", "ppm:-"], None)

    @classmethod
    def of_display(cls, display: str) -> "Screen":
        screen = cls.__new__(cls)
        screen._read(["import", "-window", "root", "-depth", "8", "ppm:-"],
                     dict(os.environ, DISPLAY=display))
        return screen

    def _read(self, command: list[str], env: Optional[dict]) -> None:
        data = subprocess.run(command, env=env, capture_output=True, check=True, timeout=60).stdout
        magic, size, maxval, self.data = data.split(b"\n", 3)
        if magic != b"P6" or maxval != b"255":
            raise ValueError(f"unexpected picture header {magic!r} {maxval!r}")
        self.width, self.height = map(int, size.split())
        if len(self.data) != 3 * self.width * self.height:
            raise ValueError(f"{len(self.data)} bytes of pixels for {self.width} x {self.height}")

    def dark_per_row(self, rect: tuple[int, int, int, int], limit: int = 180) -> list[int]:
        """For each row of the rectangle, how many of its pixels are dark
        (grey text on a light window background)."""
        left, top, right, bottom = rect
        rows = []
        for y in range(top, bottom):
            start = 3 * (y * self.width + left)
            line = self.data[start:start + 3 * (right - left)]
            rows.append(sum(1 for x in range(0, len(line), 3) if line[x] < limit))
        return rows

    def find(self, picture: Picture) -> list[tuple[int, int]]:
        """Every place (left, top) where all the picture's opaque pixels
        are on the screen, exactly."""
        # Anchored on its pixel of the colour the screen has least of.
        counts = {}
        for _, _, color in picture.pixels:
            if color not in counts:
                counts[color] = self.data.count(bytes(color))
        ax, ay, anchor = min(picture.pixels, key=lambda p: counts[p[2]])
        needle = bytes(anchor)
        places = []
        at = self.data.find(needle)
        while at >= 0:
            if at % 3 == 0:
                left, top = at // 3 % self.width - ax, at // 3 // self.width - ay
                if (0 <= left <= self.width - picture.width and 0 <= top <= self.height - picture.height
                        and all(self.data[3 * ((top + y) * self.width + left + x):
                                          3 * ((top + y) * self.width + left + x) + 3] == bytes(c)
                                for x, y, c in picture.pixels)):
                    places.append((left, top))
            at = self.data.find(needle, at + 1)
        return places
