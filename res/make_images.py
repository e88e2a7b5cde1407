#!/usr/bin/python3
"""Writes the program's images into a folder, for QUENTARO.rc:

  QUENTARO.ico  icon 129: a closed dictionary (dark red cover, gold title
                band, white page edges), 32 x 32 and 16 x 16, 16 colours each
  Toolbar.bmp   bitmap 128: the frame's toolbar buttons Cut, Copy, Paste,
                Print and About, 16 x 15 each, 16 colours

Standard library only; the output is the same on every run.
usage: make_images.py OUTDIR
"""
import os
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, NAVY, SILVER, GRAY, RED, YELLOW, WHITE = 0, 1, 4, 7, 8, 9, 11, 15
TRANSPARENT = None


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)


class Canvas:
    def __init__(self, width, height, fill):
        self.width, self.height = width, height
        self.pixels = [[fill] * width for _ in range(height)]

    def rect(self, x0, y0, x1, y1, colour):
        """Fills the rectangle with corners (x0, y0) and (x1, y1), inclusive."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.pixels[y][x] = colour

    def frame(self, x0, y0, x1, y1, colour):
        self.rect(x0, y0, x1, y0, colour)
        self.rect(x0, y1, x1, y1, colour)
        self.rect(x0, y0, x0, y1, colour)
        self.rect(x1, y0, x1, y1, colour)


def draw_book(size):
    """The icon: a dictionary seen from the front, spine on the left."""
    c = Canvas(size, size, TRANSPARENT)
    if size == 32:
        c.rect(8, 4, 27, 29, WHITE)          # page block, seen at the right and bottom
        for y in range(6, 29, 2):
            c.rect(25, y, 26, y, SILVER)     # page edges
        c.frame(8, 4, 27, 29, BLACK)
        c.rect(4, 2, 24, 27, MAROON)         # front cover
        c.rect(4, 2, 6, 27, RED)             # spine highlight
        c.frame(4, 2, 24, 27, BLACK)
        c.rect(7, 2, 7, 27, BLACK)           # spine fold
        c.rect(10, 7, 21, 12, YELLOW)        # title band
        c.frame(10, 7, 21, 12, BLACK)
        c.rect(12, 9, 19, 10, NAVY)          # lettering on the band
        c.rect(10, 20, 21, 21, YELLOW)       # gold rule near the bottom
    else:
        c.rect(4, 2, 14, 15, WHITE)
        c.rect(13, 4, 13, 4, SILVER)
        c.rect(13, 7, 13, 7, SILVER)
        c.rect(13, 10, 13, 10, SILVER)
        c.frame(4, 2, 14, 15, BLACK)
        c.rect(1, 0, 12, 13, MAROON)
        c.rect(1, 0, 2, 13, RED)
        c.frame(1, 0, 12, 13, BLACK)
        c.rect(3, 0, 3, 13, BLACK)
        c.rect(5, 3, 10, 6, YELLOW)
        c.rect(6, 4, 9, 5, NAVY)
        c.rect(5, 10, 10, 10, YELLOW)
    return c


def icon_image(canvas):
    """One icon image: BITMAPINFOHEADER, palette, 4-bit colour rows, 1-bit mask rows."""
    w, h = canvas.width, canvas.height
    xor_stride = ((w * 4 + 31) // 32) * 4
    and_stride = ((w + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(h)):  # bottom-up rows
        row = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x in range(w):
            p = canvas.pixels[y][x]
            index = BLACK if p is TRANSPARENT else p
            if x % 2 == 0:
                row[x // 2] |= index << 4
            else:
                row[x // 2] |= index
            if p is TRANSPARENT:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += row
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    return header + palette_bytes() + bytes(xor) + bytes(mask)


def write_icon(path):
    images = [(32, icon_image(draw_book(32))), (16, icon_image(draw_book(16)))]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


# Toolbar glyphs, 16 x 15 each. '.' is the button face (silver, which the
# toolbar control replaces by the system's button colour).
GLYPH_COLOURS = {".": SILVER, "#": BLACK, "w": WHITE, "b": NAVY, "y": YELLOW, "g": GRAY}
GLYPHS = [
    [  # Cut
        "................",
        "....#.....#.....",
        "....#.....#.....",
        "....#.....#.....",
        ".....#...#......",
        ".....#...#......",
        "......#.#.......",
        ".......#........",
        "......#.#.......",
        "....###.###.....",
        "...#..#.#..#....",
        "...#..#.#..#....",
        "...#..#.#..#....",
        "....##...##.....",
        "................",
    ],
    [  # Copy
        "................",
        ".######.........",
        ".#wwww##........",
        ".#w##w#w#.......",
        ".#wwww######....",
        ".#w##w#wwww##...",
        ".#wwww#w##w#w#..",
        ".#w##w#wwww####.",
        ".#wwww#w##wwww#.",
        ".######w####ww#.",
        "......#wwwwwww#.",
        "......#w####ww#.",
        "......#wwwwwww#.",
        "......#########.",
        "................",
    ],
    [  # Paste
        "................",
        ".....####.......",
        ".####gggg####...",
        ".#yy######yy#...",
        ".#yyyyyyyyyy#...",
        ".#yyy#########..",
        ".#yyy#wwwwww##..",
        ".#yyy#w####w#w#.",
        ".#yyy#wwwwww####",
        ".#yyy#w####wwww#",
        ".#yyy#wwwwwwwww#",
        ".#####w#######w#",
        ".....#wwwwwwwww#",
        ".....###########",
        "................",
    ],
    [  # Print
        "................",
        "....#########...",
        "....#wwwwwww#...",
        "....#w#####w#...",
        "....#wwwwwww#...",
        "..#############.",
        ".#ggggggggggg#g#",
        ".###############",
        ".#ggggggggggg#g#",
        ".#gggggggggyy###",
        ".###############",
        "..#wwwwwwwww#g#.",
        "...#########.#..",
        "................",
        "................",
    ],
    [  # About
        "................",
        ".....bbbbbb.....",
        "....bb....bb....",
        "....bb....bb....",
        "..........bb....",
        ".........bb.....",
        "........bb......",
        ".......bb.......",
        ".......bb.......",
        ".......bb.......",
        "................",
        ".......bb.......",
        ".......bb.......",
        "................",
        "................",
    ],
]


def write_toolbar(path):
    w, h = 16 * len(GLYPHS), 15
    stride = ((w * 4 + 31) // 32) * 4
    rows = bytearray()
    for y in reversed(range(h)):
        row = bytearray(stride)
        for x in range(w):
            glyph = GLYPHS[x // 16]
            assert len(glyph) == h and all(len(line) == 16 for line in glyph)
            index = GLYPH_COLOURS[glyph[y][x % 16]]
            row[x // 2] |= index << 4 if x % 2 == 0 else index
        rows += row
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4, 0, len(rows), 0, 0, 16, 0)
    offset = 14 + len(info) + 64
    head = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(head + info + palette_bytes() + bytes(rows))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_images.py OUTDIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_icon(os.path.join(out, "QUENTARO.ico"))
    write_toolbar(os.path.join(out, "Toolbar.bmp"))


if __name__ == "__main__":
    main()
