#!/usr/bin/env python3
"""Renders the About box artwork: a 65 x 241 vertical strip, a night-blue
gradient with a network backbone and a rail of I/O modules hanging off it,
a broadcast wave at its head. Writes a binary PPM (P6) to the given file or
to standard output; scripts/make-about-picture.sh turns it into the JPEG.

Shapes are drawn as signed distance fields with a one-pixel soft edge, so the
thin lines come out smooth without supersampling. Standard library only."""

import math
import sys

WIDTH, HEIGHT = 65, 241

TOP = (9, 24, 52)        # night blue
BOTTOM = (23, 86, 128)   # steel blue
LINE = (120, 205, 235)   # the backbone and links: light cyan
MODULE = (214, 222, 230)
MODULE_EDGE = (70, 92, 116)
TERMINALS = (48, 62, 78)
LED_ON = (90, 230, 120)
LED_IO = (250, 190, 60)

BUS_X = 15.5
BUS_TOP, BUS_BOTTOM = 40.0, 226.0
MODULE_X0, MODULE_X1 = 26.0, 57.0
MODULE_H = 24.0
MODULE_TOPS = [52.0, 88.0, 124.0, 160.0, 196.0]


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def coverage(distance):
    """Share of a pixel inside a shape whose edge is `distance` away
    (negative inside)."""
    return min(1.0, max(0.0, 0.5 - distance))


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def box_distance(px, py, x0, y0, x1, y1, radius):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - radius, (y1 - y0) / 2 - radius
    qx, qy = abs(px - cx) - hx, abs(py - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def background(x, y):
    t = y / (HEIGHT - 1)
    colour = mix(TOP, BOTTOM, t * t * (3 - 2 * t))
    # A faint diagonal sheen and a dot grid, like a panel seen at an angle.
    sheen = 0.06 * math.exp(-((x * 0.9 - y * 0.35 + 20) / 18.0) ** 2)
    colour = mix(colour, (255, 255, 255), sheen)
    if (int(x) % 6 == 2) and (int(y) % 6 == 2):
        colour = mix(colour, LINE, 0.10)
    return colour


def render_pixel(x, y):
    px, py = x + 0.5, y + 0.5
    colour = background(x, y)

    # Broadcast wave: three arcs opening downwards-right from the head node.
    head_x, head_y = BUS_X, 24.0
    r = math.hypot(px - head_x, py - head_y)
    angle = math.atan2(py - head_y, px - head_x)
    if -1.15 < angle < 1.15:
        for k, radius in enumerate((9.0, 16.0, 23.0)):
            fade = 0.85 - 0.22 * k
            colour = mix(colour, LINE, fade * coverage(abs(r - radius) - 0.7))

    # Backbone from the head node down the strip, fading out at the foot.
    d = segment_distance(px, py, BUS_X, head_y, BUS_X, BUS_BOTTOM)
    fade = 1.0 if py < BUS_BOTTOM - 20 else max(0.0, (BUS_BOTTOM - py) / 20.0)
    colour = mix(colour, LINE, 0.9 * fade * coverage(d - 1.0))
    colour = mix(colour, LINE, coverage(math.hypot(px - head_x, py - head_y) - 3.6))
    colour = mix(colour, TOP, coverage(math.hypot(px - head_x, py - head_y) - 1.6))

    for top in MODULE_TOPS:
        mid = top + MODULE_H / 2
        # Link from the backbone to the module, with a tap node on the bus.
        d = segment_distance(px, py, BUS_X, mid, MODULE_X0, mid)
        colour = mix(colour, LINE, 0.9 * coverage(d - 0.75))
        colour = mix(colour, LINE, coverage(math.hypot(px - BUS_X, py - mid) - 2.6))

        # The module: a light housing with a dark edge and a terminal strip.
        d = box_distance(px, py, MODULE_X0, top, MODULE_X1, top + MODULE_H, 3.0)
        colour = mix(colour, MODULE_EDGE, coverage(d))
        shade = 1.0 - 0.18 * (py - top) / MODULE_H
        housing = tuple(c * shade for c in MODULE)
        colour = mix(colour, housing, coverage(d + 1.0))
        d = box_distance(px, py, MODULE_X0 + 3, top + MODULE_H - 7, MODULE_X1 - 3,
                         top + MODULE_H - 3, 1.0)
        colour = mix(colour, TERMINALS, coverage(d))
        for i in range(5):  # screw heads of the terminals
            sx = MODULE_X0 + 6.5 + i * 4.5
            colour = mix(colour, MODULE, 0.6 * coverage(math.hypot(px - sx, py - (top + MODULE_H - 5)) - 1.0))
        # Status LEDs: power, link, and one I/O lamp.
        for i, led in enumerate((LED_ON, LED_ON, LED_IO)):
            lx, ly = MODULE_X0 + 6.0 + i * 5.0, top + 6.0
            glow = math.exp(-(math.hypot(px - lx, py - ly) / 2.6) ** 2)
            colour = mix(colour, led, 0.35 * glow)
            colour = mix(colour, led, coverage(math.hypot(px - lx, py - ly) - 1.4))

    return tuple(max(0, min(255, int(round(c)))) for c in colour)


def render():
    out = bytearray(b"P6\n%d %d\n255\n" % (WIDTH, HEIGHT))
    for y in range(HEIGHT):
        for x in range(WIDTH):
            out.extend(render_pixel(x, y))
    return bytes(out)


def main():
    data = render()
    if len(sys.argv) > 1:
        with open(sys.argv[1], "wb") as f:
            f.write(data)
    else:
        sys.stdout.buffer.write(data)


if __name__ == "__main__":
    main()
