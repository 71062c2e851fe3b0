#!/usr/bin/env python3
"""Draws the program's icon, hand cursors and menu icons and writes them as
.ico and .cur files into resources/.

Every picture is plain geometry (circles, boxes, thick lines, polygons) given
as signed distance functions in a 16- or 32-unit design grid, so one drawing
serves every size: the distance, measured in output pixels, gives each
pixel's coverage and thereby smooth edges. Run it after changing a drawing
and commit the files it writes; the build only reads them.
"""
import math
import os
import struct

# --- shapes: each is a function (x, y) -> signed distance, negative inside.


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def box(x0, y0, x1, y1, r=0.0):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def d(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        return math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - r
    return d


def line(x0, y0, x1, y1, r):
    """A thick line with round ends."""
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy or 1e-9

    def d(x, y):
        t = min(max(((x - x0) * dx + (y - y0) * dy) / length2, 0.0), 1.0)
        return math.hypot(x - x0 - t * dx, y - y0 - t * dy) - r
    return d


def polygon(*points):
    n = len(points)

    def d(x, y):
        best = float("inf")
        inside = False
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            ex, ey = bx - ax, by - ay
            t = min(max(((x - ax) * ex + (y - ay) * ey) / (ex * ex + ey * ey), 0.0), 1.0)
            best = min(best, math.hypot(x - ax - t * ex, y - ay - t * ey))
            if (ay > y) != (by > y) and x < ax + (y - ay) * ex / (by - ay):
                inside = not inside
        return -best if inside else best
    return d


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def cut(shape, *holes):
    return lambda x, y: max(shape(x, y), *(-h(x, y) for h in holes))


def within(shape, limit):
    return lambda x, y: max(shape(x, y), limit(x, y))


def grow(shape, w):
    return lambda x, y: shape(x, y) - w


def ring(cx, cy, r, w):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - w


def rotated(shape, cx, cy, degrees):
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    return lambda x, y: shape(cx + (x - cx) * c + (y - cy) * s, cy - (x - cx) * s + (y - cy) * c)


# --- painting


def render(layers, size, grid):
    """Paints (shape, (r, g, b, a)) layers bottom to top; returns rows of
    straight-alpha (r, g, b, a) tuples. `grid` is the design grid's size."""
    scale = size / grid
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            x, y = (px + 0.5) / scale, (py + 0.5) / scale
            r = g = b = a = 0.0  # premultiplied while composing
            for shape, (cr, cg, cb, ca) in layers:
                cover = min(max(0.5 - shape(x, y) * scale, 0.0), 1.0) * ca / 255
                if cover > 0:
                    r = cr * cover + r * (1 - cover)
                    g = cg * cover + g * (1 - cover)
                    b = cb * cover + b * (1 - cover)
                    a = cover + a * (1 - cover)
            if a <= 0.002:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(r / a), round(g / a), round(b / a), round(a * 255)))
        rows.append(row)
    return rows


def outlined(shape, fill, edge, width):
    """The shape filled, with an outline of `width` units around it."""
    return [(grow(shape, width), edge), (shape, fill)]


# --- file formats


def dib(rows):
    """The image of one .ico/.cur entry: a 32-bit bitmap (height doubled for
    the mask that follows), bottom-up, then the 1-bit mask, set where the
    picture is fully transparent."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    mask = bytearray()
    mask_stride = (size + 31) // 32 * 4
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (r, g, b, a) in enumerate(row):
            colour += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colour + mask


def write_icon_file(path, images, hotspot=None):
    """images: rows per size. With a hot spot (in 32-pixel units) the file is
    a cursor, whose entries carry the hot spot scaled to their size."""
    count = len(images)
    out = struct.pack("<HHH", 0, 2 if hotspot else 1, count)
    offset = 6 + 16 * count
    blobs = [dib(rows) for rows in images]
    for rows, blob in zip(images, blobs):
        size = len(rows)
        # Cursor entries keep their hot spot where icon entries keep planes
        # and bits per pixel.
        if hotspot:
            a, b = hotspot[0] * size // 32, hotspot[1] * size // 32
        else:
            a, b = 1, 32
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, a, b, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


# --- colours

BLACK = (0, 0, 0, 255)
WHITE = (255, 255, 255, 255)
INK = (40, 44, 52, 255)
BLUE = (38, 110, 200, 255)
DARK_BLUE = (22, 62, 120, 255)
SKY = (170, 215, 250, 255)
GREEN = (60, 160, 70, 255)
DARK_GREEN = (30, 95, 40, 255)
SUN = (250, 200, 40, 255)
RED = (210, 45, 40, 255)
DARK_RED = (120, 20, 20, 255)
YELLOW = (245, 200, 80, 255)
BROWN = (150, 105, 30, 255)
GREY = (150, 155, 165, 255)
ICE = (120, 190, 240, 255)
GLASS = (225, 240, 255, 255)

# --- the program icon: a picture in a frame, with a vane over the hill


def program_icon():
    frame = box(1, 1, 31, 31, 3)
    picture = box(5, 5, 27, 27, 1)
    hill = within(union(circle(10, 34, 14), circle(25, 36, 12)), picture)
    pole = line(21, 23, 21, 10, 0.8)
    vane = polygon((21.5, 9), (29, 12), (21.5, 15))
    return (outlined(frame, BLUE, DARK_BLUE, 0.8) + [(picture, SKY), (within(circle(10, 11, 3.2), picture), SUN)]
            + [(hill, GREEN), (grow(pole, 0.4), INK), (pole, WHITE), (within(vane, picture), RED)])


# --- the hand cursors: an open hand, with arrow heads where the image extends


def hand():
    palm = box(10.5, 14, 22, 25.5, 3.5)
    fingers = [line(12, 15, 12, 8.5, 1.45), line(15, 15, 15, 7, 1.45), line(18, 15, 18, 7.5, 1.45),
               line(20.8, 16, 20.8, 10, 1.35)]
    thumb = line(12.5, 21.5, 8.2, 16.5, 1.5)
    shape = union(palm, thumb, *fingers)
    gaps = within(union(*(line(x, 4, x, 14.5, 0.35) for x in (13.5, 16.5, 19.4))), shape)
    return outlined(shape, WHITE, BLACK, 1.0) + [(gaps, BLACK)]


ARROWS = {
    "up": polygon((16, 0.8), (12.2, 4.8), (19.8, 4.8)),
    "down": polygon((16, 31.2), (12.2, 27.2), (19.8, 27.2)),
    "left": polygon((0.8, 17), (4.8, 13.2), (4.8, 20.8)),
    "right": polygon((31.2, 17), (27.2, 13.2), (27.2, 20.8)),
}


def hand_cursor(directions):
    layers = hand()
    for d in directions:
        layers += outlined(ARROWS[d], BLACK, WHITE, 0.9)
    return layers


# --- menu icons, on a 16-unit grid


def magnifier(sign_vertical):
    lens = circle(6.5, 6.5, 4.6)
    layers = [(line(10, 10, 14.5, 14.5, 1.7), INK), (grow(lens, 0.2), INK), (circle(6.5, 6.5, 3.6), GLASS)]
    layers.append((line(4.5, 6.5, 8.5, 6.5, 0.7), BLUE))
    if sign_vertical:
        layers.append((line(6.5, 4.5, 6.5, 8.5, 0.7), BLUE))
    return layers


def gear():
    teeth = union(*(rotated(box(6.6, 0.6, 9.4, 15.4, 0.5), 8, 8, a) for a in (0, 45, 90, 135)))
    body = cut(union(circle(8, 8, 5.4), teeth), circle(8, 8, 2.2))
    return outlined(body, GREY, INK, 0.7)


def arrow(pointing_right):
    shaft = box(1.5, 6, 9, 10)
    head = polygon((8, 1.5), (14.8, 8), (8, 14.5))
    shape = union(shaft, head)
    if not pointing_right:
        shape = rotated(shape, 8, 8, 180)
    return outlined(shape, GREEN, DARK_GREEN, 0.7)


def question_mark():
    # The hook runs from the left over the top to 50 degrees below the right.
    slope = math.tan(math.radians(50))
    hook = within(ring(8, 6, 2.6, 0.9), lambda x, y: 6 - y if x < 8 else (y - 6) - (x - 8) * slope)
    stem = union(line(9.7, 8, 8, 9.4, 0.9), line(8, 9.4, 8, 10.2, 0.9))
    return [(circle(8, 8, 7.4), DARK_BLUE), (circle(8, 8, 6.6), BLUE),
            (union(hook, stem), WHITE), (circle(8, 12.8, 1.1), WHITE)]


def snowflake():
    arms = [rotated(line(8, 1.2, 8, 14.8, 0.75), 8, 8, a) for a in (0, 60, 120)]
    twigs = []
    for a in range(0, 360, 60):
        twigs.append(rotated(line(8, 3.6, 6.2, 2, 0.6), 8, 8, a))
        twigs.append(rotated(line(8, 3.6, 9.8, 2, 0.6), 8, 8, a))
    shape = union(*arms, *twigs)
    return outlined(shape, ICE, DARK_BLUE, 0.55)


def thumbnails():
    layers = []
    for x, y in ((1, 1), (9, 1), (1, 9), (9, 9)):
        tile = box(x, y, x + 6, y + 6, 0.8)
        layers += outlined(tile, SKY, DARK_BLUE, 0.6)
        layers.append((within(circle(x + 1.5, y + 8, 3.5), tile), GREEN))
    return layers


def sliders():
    layers = []
    for y, knob in ((3, 11), (8, 5), (13, 9)):
        layers.append((line(1.5, y, 14.5, y, 0.6), INK))
        layers += outlined(box(knob - 1.6, y - 2.2, knob + 1.6, y + 2.2, 0.6), YELLOW, INK, 0.6)
    return layers


def folder():
    back = polygon((1, 3), (6, 3), (7.5, 4.5), (14, 4.5), (14, 13.5), (1, 13.5))
    front = polygon((3.5, 7), (15.5, 7), (13.5, 13.5), (1, 13.5))
    return outlined(back, BROWN, INK, 0.6) + outlined(front, YELLOW, INK, 0.6)


def new_window():
    layers = []
    for x, y in ((1, 1), (5, 6)):
        pane = box(x, y, x + 10, y + 9, 0.5)
        layers += outlined(pane, WHITE, INK, 0.6)
        layers.append((within(box(x, y, x + 10, y + 2.2), pane), BLUE))
    return layers


def close_cross():
    cross = union(line(3.5, 3.5, 12.5, 12.5, 1.5), line(12.5, 3.5, 3.5, 12.5, 1.5))
    return outlined(cross, RED, DARK_RED, 0.7)


def stop():
    return outlined(box(2.5, 2.5, 13.5, 13.5, 1.5), RED, DARK_RED, 0.8)


# File names and drawings; resources/pixvane.rc gives each file its id.
MENU_ICONS = [
    ("options", gear),
    ("new_window", new_window),
    ("stop_slideshow", stop),
    ("help", question_mark),
    ("open", folder),
    ("close", close_cross),
    ("next", lambda: arrow(True)),
    ("previous", lambda: arrow(False)),
    ("zoom_in", lambda: magnifier(True)),
    ("zoom_out", lambda: magnifier(False)),
    ("freeze", snowflake),
    ("browse", thumbnails),
    ("adjust", sliders),
]

CURSORS = [
    ("hand_both", ("up", "down", "left", "right")),
    ("hand_wide", ("left", "right")),
    ("hand_tall", ("up", "down")),
]
# In the palm, on the 32-pixel grid.
HOT_SPOT = (16, 19)


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
    write_icon_file(os.path.join(out, "pixvane.ico"), [render(program_icon(), s, 32) for s in (16, 32, 48)])
    for name, directions in CURSORS:
        layers = hand_cursor(directions)
        write_icon_file(os.path.join(out, name + ".cur"), [render(layers, s, 32) for s in (32, 48)], HOT_SPOT)
    for name, drawing in MENU_ICONS:
        write_icon_file(os.path.join(out, "menu_" + name + ".ico"), [render(drawing(), s, 16) for s in (16, 32)])


if __name__ == "__main__":
    main()
