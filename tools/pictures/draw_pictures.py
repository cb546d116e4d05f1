#!/usr/bin/env python3
"""Draw the three update-wizard header pictures for the ZT-5100 updater.

Usage: python3 tools/pictures/draw_pictures.py <output-folder>

Only the Python standard library is used. Each picture is rasterised at
SS times its final size, box-filtered down (this gives smooth, anti-aliased
edges), written as a binary PPM and handed to `cjpeg` for a baseline JPEG.
The drawings contain no text, so one set of pictures serves every language.
"""

import math
import os
import subprocess
import sys
import tempfile

SS = 4              # supersampling factor
LINE = 1.8          # outline width in final pixels

# Palette: soft fills, one dark outline colour for everything.
WHITE = (255, 255, 255)
BACKGROUND = (250, 251, 253)
OUTLINE = (52, 60, 76)
SHADOW = (232, 235, 240)
BODY = (172, 198, 226)
BODY_FACE = (196, 215, 236)
LCD = (214, 236, 222)
LCD_INK = (64, 128, 112)
PAD = (122, 142, 176)
PAD_LIGHT = (168, 186, 212)
KEY_GREY = (150, 164, 188)
RECORD_RED = (232, 112, 100)
DARK = (84, 92, 108)
METAL = (206, 210, 218)
CABLE = (96, 104, 120)
LID = (98, 108, 126)
SCREEN = (200, 226, 247)
DECK = (218, 223, 231)
KEYBOARD = (186, 193, 205)
WINDOW_BAR = (120, 164, 214)
UPDATE_BLUE = (46, 120, 204)
OK_GREEN = (54, 164, 96)
ARROW = (247, 152, 58)
PROGRESS_BG = (222, 228, 236)
PORT_GLOW = (255, 238, 216)
PORT_GLOW_INNER = (253, 220, 182)


# ---------------------------------------------------------------------------
# Canvas and drawing primitives (coordinates are in final-picture pixels)
# ---------------------------------------------------------------------------

class Canvas:
    """RGB raster at SS x resolution; (ox, oy) shifts the whole scene."""

    def __init__(self, width, height, background=BACKGROUND):
        self.width, self.height = width, height
        self.w, self.h = width * SS, height * SS
        self.px = bytearray(bytes(background) * (self.w * self.h))
        # The scene is laid out for 400 x 233; centre it on other sizes.
        self.ox = (width - 400) / 2.0
        self.oy = (height - 233) / 2.0

    def _x(self, x):
        return (x + self.ox) * SS

    def _y(self, y):
        return (y + self.oy) * SS

    def _span(self, row, xa, xb, color):
        """Fill the pixels whose centres lie in [xa, xb) on one row."""
        i0 = max(0, math.ceil(xa - 0.5))
        i1 = min(self.w, math.ceil(xb - 0.5))
        if i1 <= i0:
            return
        base = row * self.w * 3
        self.px[base + i0 * 3: base + i1 * 3] = bytes(color) * (i1 - i0)

    def _rows(self, ya, yb):
        return range(max(0, math.ceil(ya - 0.5)),
                     min(self.h, math.ceil(yb - 0.5)))

    # -- filled shapes ------------------------------------------------------

    def ellipse(self, cx, cy, rx, ry, color):
        cx, cy, rx, ry = self._x(cx), self._y(cy), rx * SS, ry * SS
        for row in self._rows(cy - ry, cy + ry):
            t = (row + 0.5 - cy) / ry
            if abs(t) < 1:
                dx = rx * math.sqrt(1 - t * t)
                self._span(row, cx - dx, cx + dx, color)

    def circle(self, cx, cy, r, color):
        self.ellipse(cx, cy, r, r, color)

    def rrect(self, x0, y0, x1, y1, r, color):
        """Rounded rectangle; r is clamped so the shape stays valid."""
        x0, y0, x1, y1 = self._x(x0), self._y(y0), self._x(x1), self._y(y1)
        r = max(0.0, min(r * SS, (x1 - x0) / 2, (y1 - y0) / 2))
        for row in self._rows(y0, y1):
            yc = row + 0.5
            dy = max(y0 + r - yc, yc - (y1 - r), 0.0)
            inset = r - math.sqrt(max(0.0, r * r - dy * dy))
            self._span(row, x0 + inset, x1 - inset, color)

    def polygon(self, pts, color):
        """Even-odd scanline fill; fine for the simple shapes used here."""
        pts = [(self._x(x), self._y(y)) for x, y in pts]
        edges = list(zip(pts, pts[1:] + pts[:1]))
        ys = [p[1] for p in pts]
        for row in self._rows(min(ys), max(ys)):
            yc = row + 0.5
            xs = []
            for (xa, ya), (xb, yb) in edges:
                if (ya <= yc < yb) or (yb <= yc < ya):
                    xs.append(xa + (yc - ya) * (xb - xa) / (yb - ya))
            xs.sort()
            for k in range(0, len(xs) - 1, 2):
                self._span(row, xs[k], xs[k + 1], color)

    # -- strokes ------------------------------------------------------------

    def line(self, p, q, width, color):
        """Thick segment with round caps."""
        (x0, y0), (x1, y1) = p, q
        length = math.hypot(x1 - x0, y1 - y0)
        half = width / 2.0
        if length > 1e-6:
            nx, ny = -(y1 - y0) / length * half, (x1 - x0) / length * half
            self.polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny),
                          (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)], color)
        self.circle(x0, y0, half, color)
        self.circle(x1, y1, half, color)

    def polyline(self, pts, width, color, closed=False):
        if closed:
            pts = list(pts) + [pts[0]]
        for p, q in zip(pts, pts[1:]):
            self.line(p, q, width, color)

    # -- outlined shapes: the outline straddles the nominal edge ----------

    def o_rrect(self, x0, y0, x1, y1, r, fill, line=LINE):
        h = line / 2.0
        self.rrect(x0 - h, y0 - h, x1 + h, y1 + h, r + h, OUTLINE)
        self.rrect(x0 + h, y0 + h, x1 - h, y1 - h, r - h, fill)

    def o_circle(self, cx, cy, r, fill, line=LINE):
        self.circle(cx, cy, r + line / 2.0, OUTLINE)
        self.circle(cx, cy, r - line / 2.0, fill)

    def o_polygon(self, pts, fill, line=LINE):
        self.polygon(pts, fill)
        self.polyline(pts, line, OUTLINE, closed=True)

    # -- output -------------------------------------------------------------

    def downsampled(self):
        """Box-filter SS x SS blocks into the final-size RGB bytes."""
        out = bytearray()
        stride = self.w * 3
        n = SS * SS
        for y in range(self.height):
            rows = [self.px[(y * SS + k) * stride:(y * SS + k + 1) * stride]
                    for k in range(SS)]
            summed = [sum(v) for v in zip(*rows)]
            chans = []
            for c in range(3):
                ch = summed[c::3]
                chans.append([sum(ch[i:i + SS]) for i in range(0, self.w, SS)])
            for r, g, b in zip(*chans):
                out += bytes(((r + n // 2) // n, (g + n // 2) // n,
                              (b + n // 2) // n))
        return bytes(out)

    def save_jpeg(self, path):
        with tempfile.TemporaryDirectory() as tmp:
            ppm = os.path.join(tmp, "picture.ppm")
            with open(ppm, "wb") as f:
                f.write(b"P6\n%d %d\n255\n" % (self.width, self.height))
                f.write(self.downsampled())
            # Plain sequential (baseline) JPEG: older decoders need it.
            subprocess.run(["cjpeg", "-quality", "88", "-optimize",
                            "-baseline", "-outfile", path, ppm], check=True)


# ---------------------------------------------------------------------------
# Geometry helpers
# ---------------------------------------------------------------------------

def bezier(p0, p1, p2, p3, steps=48):
    pts = []
    for i in range(steps + 1):
        t = i / steps
        u = 1 - t
        pts.append((u ** 3 * p0[0] + 3 * u * u * t * p1[0]
                    + 3 * u * t * t * p2[0] + t ** 3 * p3[0],
                    u ** 3 * p0[1] + 3 * u * u * t * p1[1]
                    + 3 * u * t * t * p2[1] + t ** 3 * p3[1]))
    return pts


def arrow_polygon(x0, y0, x1, y1, shaft, head_len, head_w):
    """Straight arrow from (x0, y0) to its tip at (x1, y1)."""
    length = math.hypot(x1 - x0, y1 - y0)
    ux, uy = (x1 - x0) / length, (y1 - y0) / length
    nx, ny = -uy, ux
    bx, by = x1 - ux * head_len, y1 - uy * head_len
    s, hw = shaft / 2.0, head_w / 2.0
    return [(x0 + nx * s, y0 + ny * s), (bx + nx * s, by + ny * s),
            (bx + nx * hw, by + ny * hw), (x1, y1),
            (bx - nx * hw, by - ny * hw), (bx - nx * s, by - ny * s),
            (x0 - nx * s, y0 - ny * s)]


def arc_arrow(c, cx, cy, r, width, a0, a1, color):
    """Ring segment from angle a0 to a1 (degrees, clockwise on screen)
    ending in an arrow head; two of these make the 'update' symbol."""
    steps = 24
    outer, inner = [], []
    for i in range(steps + 1):
        a = math.radians(a0 + (a1 - a0) * i / steps)
        outer.append((cx + (r + width / 2) * math.cos(a),
                      cy + (r + width / 2) * math.sin(a)))
        inner.append((cx + (r - width / 2) * math.cos(a),
                      cy + (r - width / 2) * math.sin(a)))
    c.polygon(outer + inner[::-1], color)
    # Head: a triangle at the end, pointing along the direction of travel.
    a = math.radians(a1)
    sign = 1 if a1 > a0 else -1
    tx, ty = -math.sin(a) * sign, math.cos(a) * sign     # tangent
    ex, ey = cx + r * math.cos(a), cy + r * math.sin(a)
    rx, ry = math.cos(a), math.sin(a)                    # radial
    hw, hl = width * 1.5, width * 1.7
    c.polygon([(ex + rx * hw, ey + ry * hw), (ex - rx * hw, ey - ry * hw),
               (ex + tx * hl, ey + ty * hl)], color)


def update_symbol(c, cx, cy, r, width, color=UPDATE_BLUE):
    arc_arrow(c, cx, cy, r, width, 200, 330, color)
    arc_arrow(c, cx, cy, r, width, 20, 150, color)


def check_mark(c, cx, cy, size, width, color=OK_GREEN):
    c.polyline([(cx - size * 0.5, cy + size * 0.02),
                (cx - size * 0.15, cy + size * 0.36),
                (cx + size * 0.5, cy - size * 0.34)], width, color)


# ---------------------------------------------------------------------------
# Scene parts
# ---------------------------------------------------------------------------

# Shared layout (for the 400 x 233 frame).
REC_X0, REC_Y0, REC_X1, REC_Y1 = 22, 30, 80, 196
REC_PORT_Y = 168                 # micro plug on the recorder's right side
LAP_X0, LAP_X1 = 220, 386        # laptop base extent
LID_Y0, LID_Y1 = 40, 148
DECK_Y1, BASE_Y1 = 162, 178      # deck top face, then the front edge
PORT_Y = (DECK_Y1 + BASE_Y1) / 2.0


def draw_recorder(c, display):
    """Slim upright recorder. display: 'wave', 'update' or 'check'."""
    x0, y0, x1, y1 = REC_X0, REC_Y0, REC_X1, REC_Y1
    cx = (x0 + x1) / 2.0
    c.ellipse(cx + 4, y1 + 5, 36, 5, SHADOW)
    # Side slider sticks out on the left, drawn first so the body covers it.
    c.o_rrect(x0 - 4, 92, x0 + 2, 112, 2, DARK)
    c.o_rrect(x0, y0, x1, y1, 17, BODY)
    c.rrect(x0 + 4, y0 + 4, x1 - 4, y1 - 4, 13, BODY_FACE)
    # Speaker grille: a small grid of holes near the top.
    for row in range(3):
        for col in range(5):
            c.circle(cx - 12 + col * 6, y0 + 12 + row * 5.5, 1.35, DARK)
    # Display.
    dx0, dy0, dx1, dy1 = x0 + 8, y0 + 30, x1 - 8, y0 + 70
    c.o_rrect(dx0, dy0, dx1, dy1, 5, LCD)
    dcx, dcy = (dx0 + dx1) / 2.0, (dy0 + dy1) / 2.0
    if display == "wave":
        # A few level bars: "recorder is on, waiting".
        for i, hgt in enumerate((6, 12, 18, 10, 15, 7, 4)):
            bx = dcx - 15 + i * 5
            c.rrect(bx - 1.5, dcy - hgt / 2, bx + 1.5, dcy + hgt / 2, 1.5,
                    LCD_INK)
    elif display == "update":
        update_symbol(c, dcx, dcy, 10.5, 3.2)
    elif display == "check":
        check_mark(c, dcx, dcy, 24, 4.2)
    # Navigation pad with centre button.
    py = y0 + 98
    c.o_circle(cx, py, 17, PAD)
    c.o_circle(cx, py, 7, PAD_LIGHT)
    for ang in (0, 90, 180, 270):
        a = math.radians(ang)
        ux, uy = math.cos(a), math.sin(a)
        tx, ty = cx + ux * 12.5, py + uy * 12.5
        c.polygon([(tx + ux * 2.4, ty + uy * 2.4),
                   (tx - ux * 1.6 - uy * 2.6, ty - uy * 1.6 + ux * 2.6),
                   (tx - ux * 1.6 + uy * 2.6, ty - uy * 1.6 - ux * 2.6)],
                  BODY_FACE)
    # Row of buttons: the red one in the middle is "record".
    by = y0 + 134
    c.o_circle(cx - 15, by, 4.5, KEY_GREY)
    c.o_circle(cx, by, 6, RECORD_RED)
    c.o_circle(cx + 15, by, 4.5, KEY_GREY)


def draw_small_plug(c):
    """Cable end that sits in the recorder's side port."""
    y = REC_PORT_Y
    c.o_rrect(REC_X1 - 1, y - 6, REC_X1 + 15, y + 6, 3, DARK)
    c.o_rrect(REC_X1 + 14, y - 3.5, REC_X1 + 21, y + 3.5, 1.5, DARK)
    return (REC_X1 + 20, y)


def usb_plug_cable_end(tip_x):
    """Where the cable enters the large plug whose shell ends at tip_x."""
    return (tip_x - 38, PORT_Y)


def draw_usb_plug(c, tip_x):
    """Large plug lying horizontally, metal shell pointing right to tip_x."""
    y = PORT_Y
    shell_x0 = tip_x - 13
    c.o_rrect(shell_x0 - 1, y - 4.5, tip_x, y + 4.5, 1, METAL)
    for k in (0, 1):
        sx = shell_x0 + 3 + k * 5
        c.rrect(sx, y - 1.5, sx + 3, y + 1.5, 0.5, DARK)
    c.o_rrect(shell_x0 - 19, y - 7, shell_x0, y + 7, 3, DARK)
    c.o_rrect(shell_x0 - 26, y - 4, shell_x0 - 18, y + 4, 2, DARK)


def draw_cable(c, start, end, sag):
    """Cable hanging between two plugs; outline first, then the core."""
    (x0, y0), (x1, y1) = start, end
    span = x1 - x0
    pts = bezier((x0, y0), (x0 + span * 0.35, y0 + sag),
                 (x1 - span * 0.35, y1 + sag), (x1, y1))
    c.polyline(pts, 5 + 2 * LINE, OUTLINE)
    c.polyline(pts, 5, CABLE)


def draw_laptop(c, screen, glow_port=False):
    """Open laptop seen from the front; the port is on the left end of
    the base. screen: 'window', 'update' or 'done'. glow_port puts a soft
    halo beside the port so the eye finds it."""
    cx = (LAP_X0 + LAP_X1) / 2.0
    c.ellipse(cx, BASE_Y1 + 3, (LAP_X1 - LAP_X0) / 2 + 2, 5, SHADOW)
    if glow_port:
        c.circle(LAP_X0, PORT_Y, 15, PORT_GLOW)
        c.circle(LAP_X0, PORT_Y, 10, PORT_GLOW_INNER)
    # Lid with screen.
    lx0, lx1 = LAP_X0 + 16, LAP_X1 - 16
    c.o_rrect(lx0, LID_Y0, lx1, LID_Y1 + 4, 8, LID)
    sx0, sy0, sx1, sy1 = lx0 + 8, LID_Y0 + 9, lx1 - 8, LID_Y1 - 5
    c.o_rrect(sx0, sy0, sx1, sy1, 2, SCREEN, line=1.2)
    c.circle(cx, LID_Y0 + 4.5, 1.3, (150, 160, 178))
    draw_screen_content(c, sx0, sy0, sx1, sy1, screen)
    # Base: deck (top face, narrower at the back) and the front edge.
    deck = [(LAP_X0 + 10, LID_Y1), (LAP_X1 - 10, LID_Y1),
            (LAP_X1, DECK_Y1), (LAP_X0, DECK_Y1)]
    c.o_polygon(deck, DECK)
    kb = [(LAP_X0 + 30, LID_Y1 + 3), (LAP_X1 - 30, LID_Y1 + 3),
          (LAP_X1 - 26, LID_Y1 + 11), (LAP_X0 + 26, LID_Y1 + 11)]
    c.polygon(kb, KEYBOARD)
    # Key gaps: thin lines fanning out like the deck edges.
    for i in range(1, 14):
        t = i / 14.0
        xa = LAP_X0 + 30 + t * (LAP_X1 - LAP_X0 - 60)
        xb = LAP_X0 + 26 + t * (LAP_X1 - LAP_X0 - 52)
        c.line((xa, LID_Y1 + 3), (xb, LID_Y1 + 11), 0.8, DECK)
    c.line((LAP_X0 + 28, LID_Y1 + 7), (LAP_X1 - 28, LID_Y1 + 7), 0.8, DECK)
    c.o_rrect(LAP_X0, DECK_Y1, LAP_X1, BASE_Y1, 4, DECK)
    c.rrect(LAP_X0 + 2, DECK_Y1 + 1, LAP_X1 - 2, DECK_Y1 + 3, 1, WHITE)
    c.rrect(cx - 14, BASE_Y1 - 4, cx + 14, BASE_Y1 - 1, 1.5, KEYBOARD)
    # USB port: a dark opening at the left end of the base.
    c.rrect(LAP_X0 - 0.9, PORT_Y - 5, LAP_X0 + 6, PORT_Y + 5, 1.2, OUTLINE)
    c.rrect(LAP_X0 - 0.9, PORT_Y - 1.2, LAP_X0 + 4.5, PORT_Y + 1.8, 0.6,
            KEYBOARD)


def draw_screen_content(c, x0, y0, x1, y1, screen):
    """A generic wizard window on the laptop screen (no text)."""
    wx0, wy0, wx1, wy1 = x0 + 18, y0 + 10, x1 - 18, y1 - 10
    c.o_rrect(wx0, wy0, wx1, wy1, 3, WHITE, line=1.2)
    c.rrect(wx0 + 0.6, wy0 + 0.6, wx1 - 0.6, wy0 + 9, 2.4, WINDOW_BAR)
    c.rrect(wx0 + 0.6, wy0 + 5, wx1 - 0.6, wy0 + 9, 0, WINDOW_BAR)
    mx = (wx0 + wx1) / 2.0
    my = (wy0 + 9 + wy1) / 2.0 - 5
    if screen == "window":
        # Recorder icon with a small arrow: "plug it in".
        c.o_rrect(mx - 20, my - 13, mx - 10, my + 13, 4, BODY, line=1.2)
        c.rrect(mx - 18, my - 8, mx - 12, my - 1, 1, LCD)
        c.o_polygon(arrow_polygon(mx - 5, my, mx + 13, my, 4, 7, 11),
                    ARROW, line=1.2)
        c.o_rrect(mx + 16, my - 9, mx + 24, my + 9, 1.5, METAL, line=1.2)
    elif screen == "update":
        update_symbol(c, mx, my, 10, 3.2)
    else:
        c.circle(mx, my, 12.5, OK_GREEN)
        check_mark(c, mx, my + 0.5, 14, 3.2, WHITE)
    # Progress bar: empty, half or full.
    fill = {"window": 0.0, "update": 0.0, "done": 1.0}[screen]
    bx0, bx1, by = wx0 + 14, wx1 - 14, wy1 - 10
    c.rrect(bx0, by - 3, bx1, by + 3, 3, PROGRESS_BG)
    if fill > 0:
        c.rrect(bx0, by - 3, bx0 + (bx1 - bx0) * fill, by + 3, 3, OK_GREEN)


def big_arrow(c, x_from, x_to, y):
    c.o_polygon(arrow_polygon(x_from, y, x_to, y, 7, 12, 19), ARROW)


# ---------------------------------------------------------------------------
# The three pictures
# ---------------------------------------------------------------------------

def picture_connect(c):
    """Wizard page 1: plug the recorder into the computer."""
    draw_laptop(c, "window", glow_port=True)
    draw_recorder(c, "wave")
    start = draw_small_plug(c)
    tip = LAP_X0 - 34
    draw_cable(c, start, usb_plug_cable_end(tip), 36)
    draw_usb_plug(c, tip)
    # "Plug in here": arrow above the plug, its tip right at the port.
    big_arrow(c, tip - 22, LAP_X0 - 4, PORT_Y - 17)


def picture_ready(c):
    """Wizard page 2: recorder connected, ready to update."""
    draw_laptop(c, "update")
    draw_recorder(c, "update")
    start = draw_small_plug(c)
    tip = LAP_X0 + 4                      # shell hidden inside the port
    draw_cable(c, start, usb_plug_cable_end(tip), 30)
    draw_usb_plug(c, tip)
    # Little "connected" rays above and below the joint.
    jx, jy = LAP_X0 - 2, PORT_Y
    for ang in (-115, -82, 82, 115):
        a = math.radians(ang)
        c.line((jx + 12 * math.cos(a), jy + 12 * math.sin(a)),
               (jx + 18 * math.cos(a), jy + 18 * math.sin(a)), 2.2, OK_GREEN)


def picture_done(c):
    """Wizard page 4: update finished, pull the cable out."""
    draw_laptop(c, "done")
    draw_recorder(c, "check")
    start = draw_small_plug(c)
    tip = LAP_X0 - 11                     # pulled a little way out
    draw_cable(c, start, usb_plug_cable_end(tip), 32)
    draw_usb_plug(c, tip)
    # Arrow above the plug pointing away from the port.
    big_arrow(c, LAP_X0 - 3, tip - 36, PORT_Y - 17)


PICTURES = [
    ("wizard1.jpg", 400, 233, picture_connect),
    ("wizard2.jpg", 400, 232, picture_ready),
    ("wizard4.jpg", 394, 232, picture_done),
]


def main(argv):
    if len(argv) == 2 and argv[1] in ("--help", "-h"):
        sys.stdout.write(__doc__)
        return 0
    # A folder named like an option is a mistyped option far more often than a folder.
    if len(argv) != 2 or argv[1].startswith("-"):
        sys.stderr.write(__doc__)
        return 2
    out_dir = argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for name, width, height, draw in PICTURES:
        canvas = Canvas(width, height)
        draw(canvas)
        path = os.path.join(out_dir, name)
        canvas.save_jpeg(path)
        print("%s: %d x %d, %d bytes" % (path, width, height,
                                         os.path.getsize(path)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
