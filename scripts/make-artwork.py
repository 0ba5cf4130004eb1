#!/usr/bin/env python3
"""Draws the six 32 x 30 tool bar images of the program into app/resources/.

Image list order: 0 Options, 1 Configuration, 2 Search, 3 Clear, 4 Exit,
5 Help. Plain Python (zlib and struct only): each image is a stack of simple
shapes rendered with 4 x 4 supersampling and written as an RGBA PNG.

Usage: scripts/make-artwork.py [OUTPUT_DIR]
"""
import math
import os
import struct
import sys
import zlib

W, H = 32, 30
SS = 4  # subsamples per pixel edge


# --- shapes: functions (x, y) -> bool, in pixel coordinates -----------------

def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_out, r_in, start=None, end=None):
    """Annulus, optionally limited to the angles start..end (degrees,
    counter-clockwise from +x with y pointing down, i.e. clockwise on screen)."""
    def inside(x, y):
        d2 = (x - cx) ** 2 + (y - cy) ** 2
        if not (r_in * r_in <= d2 <= r_out * r_out):
            return False
        if start is None:
            return True
        a = math.degrees(math.atan2(y - cy, x - cx)) % 360
        s, e = start % 360, end % 360
        return s <= a <= e if s <= e else (a >= s or a <= e)
    return inside


def capsule(ax, ay, bx, by, r):
    def inside(x, y):
        dx, dy = bx - ax, by - ay
        length2 = dx * dx + dy * dy
        t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= r * r
    return inside


def rrect(x0, y0, x1, y1, radius=0.0):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def rotated(points, cx, cy, degrees):
    a = math.radians(degrees)
    c, s = math.cos(a), math.sin(a)
    return [(cx + (x - cx) * c - (y - cy) * s, cy + (x - cx) * s + (y - cy) * c) for x, y in points]


def gear(cx, cy, r_body, r_hole, teeth, tooth_len, tooth_w):
    body = minus(circle(cx, cy, r_body), circle(cx, cy, r_hole))
    tooth_shapes = []
    for k in range(teeth):
        pts = [(cx - tooth_w / 2, cy - r_body + 1), (cx + tooth_w / 2, cy - r_body + 1),
               (cx + tooth_w / 2, cy - r_body - tooth_len), (cx - tooth_w / 2, cy - r_body - tooth_len)]
        tooth_shapes.append(polygon(rotated(pts, cx, cy, 360.0 * k / teeth)))
    return minus(union(body, *tooth_shapes), circle(cx, cy, r_hole))


def grow(shape, d):
    """The shape widened by d pixels (coarse: samples eight directions)."""
    offsets = [(d * math.cos(a), d * math.sin(a)) for a in [i * math.pi / 4 for i in range(8)]]
    return lambda x, y: shape(x, y) or any(shape(x + ox, y + oy) for ox, oy in offsets)


# --- rendering ---------------------------------------------------------------

def render(layers):
    """layers: list of (shape, (r, g, b, a)), bottom first."""
    rows = []
    for py in range(H):
        row = bytearray()
        for px in range(W):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(SS):
                for sx in range(SS):
                    x = px + (sx + 0.5) / SS
                    y = py + (sy + 0.5) / SS
                    colour = None
                    for shape, rgba in reversed(layers):
                        if shape(x, y):
                            colour = rgba
                            break
                    if colour:
                        a = colour[3] / 255.0
                        acc[0] += colour[0] * a
                        acc[1] += colour[1] * a
                        acc[2] += colour[2] * a
                        acc[3] += a
            n = SS * SS
            alpha = acc[3] / n
            if alpha > 0:
                rgb = [int(round(acc[i] / acc[3])) for i in range(3)]
            else:
                rgb = [0, 0, 0]
            row += bytes(rgb + [int(round(alpha * 255))])
        rows.append(bytes(row))
    return rows


def write_png(path, rows):
    raw = b"".join(b"\x00" + r for r in rows)

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


# --- the six images ------------------------------------------------------------

OUTLINE = (40, 48, 64, 255)


def outlined(shape, fill, width=1.0, outline=OUTLINE):
    return [(grow(shape, width), outline), (shape, fill)]


def options_image():
    layers = []
    knobs = [(11, 8), (21, 15), (14, 22)]
    for _, y in knobs:
        layers.append((capsule(4, y, 28, y, 1.3), (110, 118, 130, 255)))
    for x, y in knobs:
        layers += outlined(rrect(x - 3, y - 4, x + 3, y + 4, 1.5), (60, 120, 215, 255))
    return layers


def configuration_image():
    layers = []
    body = rrect(3, 4, 19, 26, 2)
    layers += outlined(body, (215, 220, 228, 255))
    layers.append((rrect(5, 6, 17, 11, 1), (70, 80, 96, 255)))
    for i, colour in enumerate([(60, 200, 80, 255), (60, 200, 80, 255), (240, 170, 40, 255)]):
        layers.append((circle(7 + 4 * i, 15, 1.5), colour))
    for i in range(4):
        layers.append((rrect(5 + 3.2 * i, 20, 6.8 + 3.2 * i, 24), (120, 128, 140, 255)))
    layers += outlined(gear(23, 21, 5.2, 2.2, 8, 2.2, 2.6), (240, 160, 40, 255))
    return layers


def search_image():
    layers = []
    layers.append((capsule(19.5, 18.5, 27.5, 26.5, 3.0), OUTLINE))
    layers.append((capsule(20.5, 19.5, 27, 26, 2.0), (150, 95, 45, 255)))
    layers.append((ring(13, 12, 9.5, 6.2), OUTLINE))
    layers.append((ring(13, 12, 8.6, 6.9), (150, 160, 175, 255)))
    layers.append((circle(13, 12, 6.2), (205, 230, 255, 235)))
    layers.append((ring(13, 12, 5.0, 3.6, 200, 260), (255, 255, 255, 255)))
    return layers


def clear_image():
    layers = []
    layers.append((capsule(4, 27, 28, 27, 0.8), (110, 118, 130, 255)))
    whole = [(6, 19), (17, 8), (27, 18), (16, 29)]
    pink = [(6, 19), (12, 13), (22, 23), (16, 29)]
    whole = [(x, y - 3) for x, y in whole]
    pink = [(x, y - 3) for x, y in pink]
    layers += outlined(polygon(whole), (245, 245, 245, 255))
    layers.append((polygon(pink), (235, 100, 120, 255)))
    layers.append((capsule(12, 10, 22, 20, 0.6), OUTLINE))
    return layers


def exit_image():
    layers = []
    layers += outlined(rrect(5, 3, 19, 27, 0.5), (120, 80, 45, 255))
    layers.append((rrect(7, 5, 17, 27), (25, 30, 40, 255)))
    door = polygon([(7, 5), (14, 8), (14, 29), (7, 27)])
    layers += outlined(door, (185, 125, 70, 255), 0.8)
    layers.append((circle(12.2, 17, 1.0), (250, 210, 80, 255)))
    arrow = union(capsule(16, 15, 25, 15, 2.0), polygon([(23, 9.5), (30, 15), (23, 20.5)]))
    layers += outlined(arrow, (50, 175, 70, 255), 0.9)
    return layers


def help_image():
    layers = []
    layers += outlined(circle(16, 15, 12.5), (45, 110, 215, 255))
    layers.append((circle(16, 15, 11.0), (70, 140, 235, 255)))
    white = (255, 255, 255, 255)
    layers.append((ring(16, 11, 5.6, 2.9, 160, 60), white))
    layers.append((capsule(19.3, 14.2, 16.3, 17.0, 1.35), white))
    layers.append((capsule(16.3, 17.0, 16.3, 18.5, 1.35), white))
    layers.append((circle(16.3, 22.8, 1.75), white))
    return layers


IMAGES = [
    ("toolbar_0_options.png", options_image),
    ("toolbar_1_configuration.png", configuration_image),
    ("toolbar_2_search.png", search_image),
    ("toolbar_3_clear.png", clear_image),
    ("toolbar_4_exit.png", exit_image),
    ("toolbar_5_help.png", help_image),
]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "app", "resources")
    os.makedirs(out, exist_ok=True)
    for name, make in IMAGES:
        write_png(os.path.join(out, name), render(make()))
        print(os.path.join(out, name))


if __name__ == "__main__":
    main()
