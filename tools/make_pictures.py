#!/usr/bin/python3
"""Draws the setup window's pictures and writes them into src/resources/.

    setup.ico           application and window icon: 32x32 and 16x16, 16 colours each
    title_strip.ico     32x32, 256 colours: a yellow crescent with a star (sits on a navy strip)
    picture_button.ico  32x32, 256 colours: a blue cartoon figure (sits on a blue-grey button)
    bottom.jpg          410x274: two line renderings of building interiors side by side
    left.jpg            90x303: a warmly lit corridor

The icons are written by hand as classic BMP icons (a palette image plus a 1-bit AND mask): Windows
before Vista cannot read PNG-compressed icon images. Everything is computed from fixed numbers, so
each run produces the same bytes; run it again after changing a drawing and commit its outputs.

Needs Pillow (Debian's python3-pil) and nothing else.
"""

import io
import math
import struct
import sys
from pathlib import Path

from PIL import Image, ImageChops, ImageDraw, ImageFilter

OUTPUT_DIR = Path(__file__).resolve().parent.parent / "src" / "resources"


# ---------------------------------------------------------------------------------------------------
# BMP icons


class IconImage:
    """One image of an icon file: palette indices and a transparency mask, both row-major top-down."""

    def __init__(self, width, height, bits_per_pixel, palette, indices, transparent):
        colours = 1 << bits_per_pixel
        if len(palette) > colours:
            raise ValueError(f"{len(palette)} palette entries do not fit {bits_per_pixel} bits per pixel")
        if len(indices) != width * height or len(transparent) != width * height:
            raise ValueError("pixel data does not match the image size")
        if max(indices) >= len(palette):
            raise ValueError("a pixel refers past the end of the palette")
        for index, clear in zip(indices, transparent):
            # Under a set AND bit the screen is XORed with the image pixel, so it must be black to
            # leave the background untouched.
            if clear and palette[index] != (0, 0, 0):
                raise ValueError("a transparent pixel is not black in the colour image")
        self.width = width
        self.height = height
        self.bits_per_pixel = bits_per_pixel
        self.palette = list(palette) + [(0, 0, 0)] * (colours - len(palette))
        self.indices = indices
        self.transparent = transparent

    def _rows_bottom_up(self, bits, values):
        stride = (self.width * bits + 31) // 32 * 4
        per_byte = 8 // bits
        out = bytearray()
        for y in range(self.height - 1, -1, -1):
            row = bytearray(stride)
            for x in range(self.width):
                shift = 8 - bits * (x % per_byte + 1)
                row[x // per_byte] |= values[y * self.width + x] << shift
            out += row
        return bytes(out)

    def dib(self):
        colour_bits = self._rows_bottom_up(self.bits_per_pixel, self.indices)
        mask_bits = self._rows_bottom_up(1, [1 if clear else 0 for clear in self.transparent])
        header = struct.pack(
            "<IiiHHIIiiII",
            40,  # BITMAPINFOHEADER
            self.width,
            self.height * 2,  # an icon's DIB counts the colour image and the mask
            1,
            self.bits_per_pixel,
            0,  # BI_RGB
            len(colour_bits) + len(mask_bits),
            0,
            0,
            0,
            0,
        )
        palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in self.palette)
        return header + palette + colour_bits + mask_bits


def ico_bytes(images):
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    directory = b""
    data = b""
    for image in images:
        dib = image.dib()
        colour_count = 1 << image.bits_per_pixel
        directory += struct.pack(
            "<BBBBHHII",
            image.width % 256,
            image.height % 256,
            colour_count if colour_count < 256 else 0,
            0,
            1,
            image.bits_per_pixel,
            len(dib),
            offset + len(data),
        )
        data += dib
    return header + directory + data


# The 16 colours of the standard VGA palette, in the order Windows uses for 4-bit images. A 16-colour
# icon drawn in exactly these colours looks the same on every display, down to 16-colour ones.
VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]  # fmt: skip
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)
CLEAR = 255  # drawing value for "no pixel" on a pixel-art canvas


class PixelCanvas:
    """A small canvas for pixel art in VGA colours; coordinates are inclusive pixel positions."""

    def __init__(self, size):
        self.size = size
        self.image = Image.new("P", (size, size), CLEAR)
        self.draw = ImageDraw.Draw(self.image)

    def rect(self, x0, y0, x1, y1, colour):
        self.draw.rectangle((x0, y0, x1, y1), fill=colour)

    def frame(self, x0, y0, x1, y1, colour):
        self.draw.rectangle((x0, y0, x1, y1), outline=colour)

    def line(self, x0, y0, x1, y1, colour):
        self.draw.line((x0, y0, x1, y1), fill=colour)

    def polygon(self, points, colour, outline=None):
        self.draw.polygon(points, fill=colour, outline=outline)

    def dot(self, x, y, colour):
        self.draw.point((x, y), fill=colour)

    def dots(self, points, colour):
        self.draw.point(points, fill=colour)

    def bevel(self, x0, y0, x1, y1, light, dark):
        """Raised edge inside a box: light along the top and left, dark along the bottom and right."""
        self.line(x0, y0, x1 - 1, y0, light)
        self.line(x0, y0, x0, y1 - 1, light)
        self.line(x0, y1, x1, y1, dark)
        self.line(x1, y0, x1, y1, dark)

    def icon_image(self):
        values = list(self.image.getdata())
        transparent = [value == CLEAR for value in values]
        indices = [0 if value == CLEAR else value for value in values]
        return IconImage(self.size, self.size, 4, VGA, indices, transparent)


def draw_computer_and_box_32():
    c = PixelCanvas(32)
    # Monitor: a light case with a raised bevel around a recessed screen.
    c.rect(2, 0, 19, 16, BLACK)
    c.rect(3, 1, 18, 15, SILVER)
    c.bevel(3, 1, 18, 15, WHITE, GREY)
    c.bevel(4, 3, 17, 13, GREY, WHITE)
    c.rect(5, 4, 16, 12, BLACK)
    c.rect(6, 5, 15, 11, TEAL)
    # A window on the desktop, with its title bar and a drop shadow.
    c.rect(7, 6, 12, 9, WHITE)
    c.line(7, 6, 12, 6, NAVY)
    c.line(8, 8, 11, 8, GREY)
    c.line(13, 7, 13, 10, BLACK)
    c.line(8, 10, 13, 10, BLACK)
    # Neck and the flat system unit the monitor stands on.
    c.rect(8, 17, 13, 18, BLACK)
    c.rect(9, 17, 12, 18, GREY)
    c.rect(0, 19, 21, 27, BLACK)
    c.rect(1, 20, 20, 26, SILVER)
    c.bevel(1, 20, 20, 26, WHITE, GREY)
    c.line(6, 22, 14, 22, BLACK)
    c.line(6, 23, 14, 23, WHITE)
    c.rect(3, 24, 4, 24, LIME)
    c.line(3, 28, 20, 28, GREY)
    # The software box, standing to the right, seen from the front-left and slightly above.
    depth = 3
    top, bottom, left, right = 14, 31, 19, 27
    lid = [(left, top), (right, top), (right + depth, top - depth), (left + depth, top - depth)]
    c.polygon(lid, AQUA, outline=BLACK)
    c.polygon(
        [(right, top), (right + depth, top - depth), (right + depth, bottom - depth), (right, bottom)],
        NAVY,
        outline=BLACK,
    )
    c.rect(left, top, right, bottom, BLACK)
    c.rect(left + 1, top + 1, right - 1, bottom - 1, BLUE)
    c.line(right + 1, top, right + 1, bottom - 2, BLUE)
    # Label: a white band with a disc and a line of lettering.
    c.rect(left + 1, 17, right - 1, 25, WHITE)
    c.line(left + 1, 26, right - 1, 26, NAVY)
    c.rect(21, 18, 25, 22, YELLOW)
    c.dots([(21, 18), (25, 18), (21, 22), (25, 22)], WHITE)
    c.rect(22, 19, 24, 21, OLIVE)
    c.dot(23, 20, WHITE)
    c.line(21, 24, 25, 24, GREY)
    c.line(left + 2, 28, right - 2, 28, AQUA)
    return c.icon_image()


def draw_computer_and_box_16():
    c = PixelCanvas(16)
    c.rect(1, 0, 10, 8, BLACK)
    c.rect(2, 1, 9, 7, SILVER)
    c.line(2, 1, 8, 1, WHITE)
    c.line(2, 1, 2, 6, WHITE)
    c.rect(3, 2, 8, 6, TEAL)
    c.line(3, 6, 8, 6, BLACK)
    c.line(8, 2, 8, 6, BLACK)
    c.rect(4, 3, 6, 4, WHITE)
    c.line(4, 9, 7, 9, BLACK)
    c.line(5, 9, 6, 9, GREY)
    c.rect(0, 10, 11, 14, BLACK)
    c.rect(1, 11, 10, 13, SILVER)
    c.line(1, 11, 10, 11, WHITE)
    c.line(4, 12, 8, 12, BLACK)
    c.dot(2, 13, LIME)
    # Box.
    c.polygon([(9, 6), (13, 6), (15, 4), (11, 4)], AQUA, outline=BLACK)
    c.polygon([(13, 6), (15, 4), (15, 13), (13, 15)], NAVY, outline=BLACK)
    c.rect(9, 6, 13, 15, BLACK)
    c.rect(10, 7, 12, 14, BLUE)
    c.rect(10, 9, 12, 11, WHITE)
    c.dot(11, 10, YELLOW)
    return c.icon_image()


# ---------------------------------------------------------------------------------------------------
# 256-colour icons, drawn large and reduced


SUPERSAMPLE = 8


def lerp(a, b, t):
    return a + (b - a) * t


def mix(colour_a, colour_b, t):
    t = min(1.0, max(0.0, t))
    return tuple(round(lerp(a, b, t)) for a, b in zip(colour_a, colour_b))


class SmoothCanvas:
    """An RGBA drawing surface of size x size icon pixels, drawn SUPERSAMPLE times larger.

    Shapes are given in icon pixels (floating point). Each shape is a function that draws its
    coverage into an "L" mask, grown by a margin so that one shape gives both its outline and its fill.
    """

    def __init__(self, size):
        self.size = size
        self.big = size * SUPERSAMPLE
        self.colour = Image.new("RGB", (self.big, self.big), (0, 0, 0))
        self.alpha = Image.new("L", (self.big, self.big), 0)

    def mask(self, shape, grow=0.0):
        m = Image.new("L", (self.big, self.big), 0)
        shape(ImageDraw.Draw(m), grow, SUPERSAMPLE)
        return m

    def paint(self, shape, fill, grow=0.0):
        """fill is a colour or a function (x, y in icon pixels) -> colour."""
        m = self.mask(shape, grow)
        if callable(fill):
            box = m.getbbox()
            if box is None:
                return
            layer = Image.new("RGB", (self.big, self.big))
            pixels = layer.load()
            for y in range(box[1], box[3]):
                for x in range(box[0], box[2]):
                    pixels[x, y] = fill((x + 0.5) / SUPERSAMPLE, (y + 0.5) / SUPERSAMPLE)
        else:
            layer = Image.new("RGB", (self.big, self.big), fill)
        self.colour.paste(layer, (0, 0), m)
        self.alpha.paste(255, (0, 0), m)

    def glaze(self, shape, colour, opacity):
        """Lays a translucent colour over what is already drawn (highlights, blush)."""
        m = self.mask(shape).point(lambda v: round(v * opacity))
        self.colour.paste(Image.new("RGB", (self.big, self.big), colour), (0, 0), m)

    def icon_image(self, matte):
        """Reduces to icon size over a matte colour, then to at most 255 colours plus transparent black."""
        backdrop = Image.new("RGB", (self.big, self.big), matte)
        flat = Image.composite(self.colour, backdrop, self.alpha)
        small = flat.resize((self.size, self.size), Image.Resampling.BOX)
        coverage = self.alpha.resize((self.size, self.size), Image.Resampling.BOX)
        # Pixels more than half covered are drawn. Their colour is the straight (un-matted) colour
        # where it is fully covered and the matted one at the edges, which smooths the outline on
        # the background the icon is actually shown on.
        opaque = [a >= 128 for a in coverage.getdata()]
        colours = [c for c, keep in zip(small.getdata(), opaque) if keep]
        row = Image.new("RGB", (len(colours), 1))
        row.putdata(colours)
        quantised = row.quantize(colors=255, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
        flat_palette = quantised.getpalette()[: 3 * 255]
        palette = [tuple(flat_palette[i : i + 3]) for i in range(0, len(flat_palette), 3)]
        while len(palette) < 255:
            palette.append(palette[-1] if palette else (0, 0, 0))
        palette.append((0, 0, 0))  # the last entry serves the transparent pixels
        clear_index = 255
        opaque_indices = iter(quantised.getdata())
        indices = [next(opaque_indices) if keep else clear_index for keep in opaque]
        transparent = [not keep for keep in opaque]
        return IconImage(self.size, self.size, 8, palette, indices, transparent)


def ellipse(cx, cy, rx, ry):
    def shape(draw, grow, scale):
        left, top = (cx - rx - grow) * scale, (cy - ry - grow) * scale
        right, bottom = (cx + rx + grow) * scale, (cy + ry + grow) * scale
        draw.ellipse((left, top, right, bottom), fill=255)

    return shape


def capsule(x0, y0, x1, y1, radius):
    def shape(draw, grow, scale):
        r = (radius + grow) * scale
        draw.line((x0 * scale, y0 * scale, x1 * scale, y1 * scale), fill=255, width=round(2 * r))
        for x, y in ((x0, y0), (x1, y1)):
            draw.ellipse((x * scale - r, y * scale - r, x * scale + r, y * scale + r), fill=255)

    return shape


def star_points(cx, cy, outer, inner, rotation=-math.pi / 2):
    points = []
    for k in range(10):
        radius = outer if k % 2 == 0 else inner
        angle = rotation + k * math.pi / 5
        points.append((cx + radius * math.cos(angle), cy + radius * math.sin(angle)))
    return points


def polygon(points):
    def shape(draw, grow, scale):
        # Growing a polygon: draw its edges as thick lines too.
        flat = [(x * scale, y * scale) for x, y in points]
        draw.polygon(flat, fill=255)
        if grow > 0:
            draw.line(flat + [flat[0]], fill=255, width=round(2 * grow * scale), joint="curve")

    return shape


def crescent(cx, cy, radius, cut_dx, cut_dy, cut_radius):
    def shape(draw, grow, scale):
        r = radius + grow
        draw.ellipse(((cx - r) * scale, (cy - r) * scale, (cx + r) * scale, (cy + r) * scale), fill=255)
        rc = cut_radius - grow
        x, y = cx + cut_dx, cy + cut_dy
        draw.ellipse(((x - rc) * scale, (y - rc) * scale, (x + rc) * scale, (y + rc) * scale), fill=0)

    return shape


def arc(cx, cy, rx, ry, start, end, width):
    def shape(draw, grow, scale):
        draw.arc(
            ((cx - rx) * scale, (cy - ry) * scale, (cx + rx) * scale, (cy + ry) * scale),
            start,
            end,
            fill=255,
            width=round((width + 2 * grow) * scale),
        )

    return shape


def radial_fill(light, dark, hx, hy, reach):
    """Shading of a rounded body lit from (hx, hy): light there, darkening with distance."""

    def fill(x, y):
        t = math.hypot(x - hx, y - hy) / reach
        return mix(light, dark, t * t * 0.6 + t * 0.4)

    return fill


def draw_crescent_and_star():
    c = SmoothCanvas(32)
    rim = (178, 104, 0)
    gold_light = (255, 246, 150)
    gold_dark = (236, 164, 10)
    moon = crescent(14.0, 16.5, 13.0, 6.0, -4.2, 11.2)
    c.paint(moon, rim, grow=0.9)
    c.paint(moon, radial_fill(gold_light, gold_dark, 6.0, 10.0, 22.0))
    star = polygon(star_points(22.8, 11.6, 6.0, 2.5, rotation=-math.pi / 2 + 0.18))
    c.paint(star, rim, grow=0.85)
    c.paint(star, radial_fill((255, 252, 205), gold_dark, 21.5, 9.5, 8.5))
    return c.icon_image(matte=(0, 0, 128))


def draw_friendly_figure():
    c = SmoothCanvas(32)
    ink = (14, 30, 92)
    blue_light = (140, 200, 255)
    blue = (40, 120, 230)
    blue_dark = (16, 66, 170)
    outline = 1.15

    feet = [ellipse(12.4, 29.6, 3.0, 1.5), ellipse(19.6, 29.6, 3.0, 1.5)]
    for foot in feet:
        c.paint(foot, ink, grow=outline)
    for foot in feet:
        c.paint(foot, blue_dark)

    body = ellipse(16.0, 23.4, 6.4, 5.9)
    c.paint(body, ink, grow=outline)
    c.paint(body, radial_fill(blue_light, blue_dark, 13.0, 19.0, 11.0))
    # A white belly patch gives the body a front.
    c.paint(ellipse(16.0, 24.6, 3.3, 3.2), radial_fill((255, 255, 255), (190, 218, 248), 15.0, 23.0, 5.5))

    # One arm waves, the other hangs relaxed.
    arms = [capsule(10.8, 20.6, 5.6, 14.4, 1.8), capsule(21.2, 21.0, 25.2, 25.4, 1.8)]
    hands = [ellipse(5.0, 13.4, 2.3, 2.3), ellipse(25.8, 26.0, 2.3, 2.3)]
    for part in arms + hands:
        c.paint(part, ink, grow=outline)
    for arm in arms:
        c.paint(arm, radial_fill(blue_light, blue, 7.0, 15.0, 10.0))
    for hand in hands:
        c.paint(hand, (255, 255, 255))

    head = ellipse(16.0, 10.0, 8.4, 7.9)
    c.paint(head, ink, grow=outline)
    c.paint(head, radial_fill((180, 224, 255), blue, 12.0, 5.0, 15.0))
    c.glaze(ellipse(12.2, 5.2, 2.6, 1.4), (255, 255, 255), 0.75)

    for x in (12.8, 19.2):
        c.paint(ellipse(x, 9.8, 2.1, 2.6), ink, grow=0.35)
        c.paint(ellipse(x, 9.8, 2.1, 2.6), (255, 255, 255))
        c.paint(ellipse(x + 0.5, 10.5, 1.25, 1.5), ink)
    for x in (9.9, 22.1):
        c.glaze(ellipse(x, 13.6, 1.6, 1.0), (255, 110, 140), 0.75)
    c.paint(arc(16.0, 12.0, 3.2, 2.8, 25, 155, 1.25), ink)
    return c.icon_image(matte=(190, 206, 218))


# ---------------------------------------------------------------------------------------------------
# bottom.jpg: two interiors in perspective, drawn as thin dark lines over pale washes

LINE_SCALE = 3  # the drawings are made three times larger and reduced, for smooth lines
INK = (52, 56, 68)
INK_LIGHT = (112, 116, 126)
PAPER = (248, 246, 240)
GLASS = (222, 234, 242)


class Camera:
    """Pinhole camera with vertical verticals (no tilt), as architectural perspectives are drawn.

    World axes: x to the right, y up, z away from the viewer; metres. yaw turns the view to the right.
    """

    NEAR = 0.05

    def __init__(self, position, yaw, focal, centre):
        self.position = position
        self.cos_yaw = math.cos(yaw)
        self.sin_yaw = math.sin(yaw)
        self.focal = focal
        self.centre = centre

    def to_view(self, point):
        x = point[0] - self.position[0]
        y = point[1] - self.position[1]
        z = point[2] - self.position[2]
        return (x * self.cos_yaw - z * self.sin_yaw, y, x * self.sin_yaw + z * self.cos_yaw)

    def to_screen(self, view_point):
        x, y, z = view_point
        return (self.centre[0] + self.focal * x / z, self.centre[1] - self.focal * y / z)

    def clip_polygon(self, points):
        """View-space polygon clipped to the near plane (Sutherland-Hodgman on one plane)."""
        view = [self.to_view(p) for p in points]
        out = []
        for i, current in enumerate(view):
            previous = view[i - 1]
            inside_now = current[2] >= self.NEAR
            inside_before = previous[2] >= self.NEAR
            if inside_now != inside_before:
                t = (self.NEAR - previous[2]) / (current[2] - previous[2])
                out.append(tuple(lerp(a, b, t) for a, b in zip(previous, current)))
            if inside_now:
                out.append(current)
        return [self.to_screen(p) for p in out]

    def clip_segment(self, a, b):
        a, b = self.to_view(a), self.to_view(b)
        if a[2] < self.NEAR and b[2] < self.NEAR:
            return None
        if a[2] < self.NEAR or b[2] < self.NEAR:
            t = (self.NEAR - a[2]) / (b[2] - a[2])
            cut = tuple(lerp(p, q, t) for p, q in zip(a, b))
            a, b = (cut, b) if a[2] < self.NEAR else (a, cut)
        return self.to_screen(a), self.to_screen(b)

    def depth(self, point):
        return self.to_view(point)[2]


class Sketch:
    """One perspective drawing on part of the sheet. Sizes of lines are in final pixels."""

    def __init__(self, sheet, camera):
        self.draw = ImageDraw.Draw(sheet)
        self.camera = camera
        self.solids = []

    def face(self, points, fill, line=1.0, ink=INK):
        screen = self.camera.clip_polygon(points)
        if len(screen) < 3:
            return
        self.draw.polygon(screen, fill=fill)
        if line > 0:
            width = self._weight(line, min(self.camera.depth(p) for p in points))
            self.draw.line(screen + [screen[0]], fill=ink, width=width, joint="curve")

    def segment(self, a, b, line=1.0, ink=INK):
        clipped = self.camera.clip_segment(a, b)
        if clipped:
            width = self._weight(line, min(self.camera.depth(a), self.camera.depth(b)))
            self.draw.line(clipped, fill=ink, width=width)

    @staticmethod
    def _weight(line, depth):
        """Lines thin out with distance, so small far furniture keeps its light fill."""
        thinning = min(1.0, max(0.5, 4.0 / max(depth, 0.1)))
        return max(1, round(line * thinning * LINE_SCALE))

    def side_rect(self, x, z0, z1, y0, y1, fill, line=1.0):
        """A flat rectangle on a side wall (the plane of constant x): doors, pictures."""
        self.face([(x, y0, z0), (x, y1, z0), (x, y1, z1), (x, y0, z1)], fill, line)

    def level_rect(self, y, x0, x1, z0, z1, fill, line=1.0):
        """A flat rectangle on a level plane: rugs on the floor, lights on the ceiling."""
        self.face([(x0, y, z0), (x1, y, z0), (x1, y, z1), (x0, y, z1)], fill, line)

    def box(self, x0, x1, y0, y1, z0, z1, fill, line=1.0, shade=True):
        """A solid block, drawn later in far-to-near order; only the faces turned to the camera."""
        self.solids.append(((x0, x1, y0, y1, z0, z1), fill, line, shade))

    def _draw_box(self, bounds, fill, line, shade):
        x0, x1, y0, y1, z0, z1 = bounds
        eye = self.camera.position
        side = mix(fill, INK, 0.10) if shade else fill
        top = mix(fill, (255, 255, 255), 0.35) if shade else fill
        if eye[0] < x0:
            self.face([(x0, y0, z0), (x0, y1, z0), (x0, y1, z1), (x0, y0, z1)], side, line)
        if eye[0] > x1:
            self.face([(x1, y0, z0), (x1, y1, z0), (x1, y1, z1), (x1, y0, z1)], side, line)
        if eye[2] < z0:
            self.face([(x0, y0, z0), (x1, y0, z0), (x1, y1, z0), (x0, y1, z0)], fill, line)
        if eye[2] > z1:
            self.face([(x0, y0, z1), (x1, y0, z1), (x1, y1, z1), (x0, y1, z1)], fill, line)
        if eye[1] > y1:
            self.face([(x0, y1, z0), (x1, y1, z0), (x1, y1, z1), (x0, y1, z1)], top, line)
        if eye[1] < y0:
            self.face([(x0, y0, z0), (x1, y0, z0), (x1, y0, z1), (x0, y0, z1)], side, line)

    def finish(self):
        def distance(item):
            x0, x1, y0, y1, z0, z1 = item[0]
            centre = ((x0 + x1) / 2, (y0 + y1) / 2, (z0 + z1) / 2)
            return -math.dist(centre, self.camera.position)

        for bounds, fill, line, shade in sorted(self.solids, key=distance):
            self._draw_box(bounds, fill, line, shade)
        self.solids = []

    # Pieces of furniture and fittings, built from blocks and flat faces.

    def table(self, x, z, width, depth, height=0.75, fill=(238, 226, 206), axis="x"):
        w, d = (width, depth) if axis == "x" else (depth, width)
        leg = 0.05
        for lx in (x - w / 2 + 0.04, x + w / 2 - 0.04 - leg):
            for lz in (z - d / 2 + 0.04, z + d / 2 - 0.04 - leg):
                self.box(lx, lx + leg, 0, height - 0.04, lz, lz + leg, fill, 0.8)
        self.box(x - w / 2, x + w / 2, height - 0.04, height, z - d / 2, z + d / 2, fill, 1.0)

    def chair(self, x, z, facing, fill=(232, 236, 240)):
        """facing: the direction the sitter looks, one of +x, -x, +z, -z."""
        half = 0.22
        self.box(x - half, x + half, 0.42, 0.46, z - half, z + half, fill, 0.8)
        for lx in (x - half + 0.02, x + half - 0.06):
            for lz in (z - half + 0.02, z + half - 0.06):
                self.box(lx, lx + 0.04, 0, 0.42, lz, lz + 0.04, fill, 0.6)
        back = {
            "+z": (x - half, x + half, z - half, z - half + 0.05),
            "-z": (x - half, x + half, z + half - 0.05, z + half),
            "+x": (x - half, x - half + 0.05, z - half, z + half),
            "-x": (x + half - 0.05, x + half, z - half, z + half),
        }[facing]
        self.box(back[0], back[1], 0.46, 0.95, back[2], back[3], fill, 0.8)

    def sofa(self, x0, x1, z0, z1, back_side, fill=(222, 228, 236)):
        self.box(x0, x1, 0.08, 0.42, z0, z1, fill, 1.0)
        arm = 0.16
        if back_side in ("-x", "+x"):
            bx = (x0, x0 + 0.2) if back_side == "-x" else (x1 - 0.2, x1)
            self.box(bx[0], bx[1], 0.42, 0.82, z0, z1, fill, 1.0)
            self.box(x0, x1, 0.42, 0.62, z0, z0 + arm, fill, 1.0)
            self.box(x0, x1, 0.42, 0.62, z1 - arm, z1, fill, 1.0)
        else:
            bz = (z0, z0 + 0.2) if back_side == "-z" else (z1 - 0.2, z1)
            self.box(x0, x1, 0.42, 0.82, bz[0], bz[1], fill, 1.0)
            self.box(x0, x0 + arm, 0.42, 0.62, z0, z1, fill, 1.0)
            self.box(x1 - arm, x1, 0.42, 0.62, z0, z1, fill, 1.0)

    def window_on_plane(self, corner, along, up, width, height, panes_across, panes_up, glass=GLASS):
        """A window flat on a wall: corner is its lower left point, along/up unit vectors in the wall."""

        def at(u, v):
            return tuple(c + a * u + b * v for c, a, b in zip(corner, along, up))

        frame = 0.06
        self.face([at(-frame, -frame), at(width + frame, -frame), at(width + frame, height + frame),
                   at(-frame, height + frame)], (255, 255, 255), 1.0)  # fmt: skip
        self.face([at(0, 0), at(width, 0), at(width, height), at(0, height)], glass, 0.8)
        # A pale diagonal reflection across the glass.
        streak = [at(width * 0.15, 0), at(width * 0.35, 0), at(width * 0.75, height),
                  at(width * 0.55, height)]  # fmt: skip
        self.face(streak, mix(glass, (255, 255, 255), 0.55), 0)
        for i in range(1, panes_across):
            u = width * i / panes_across
            self.segment(at(u, 0), at(u, height), 1.0)
        for j in range(1, panes_up):
            v = height * j / panes_up
            self.segment(at(0, v), at(width, v), 1.0)
        self.segment(at(-frame, -frame), at(width + frame, -frame), 1.6)  # the sill

    def floor_grid(self, x0, x1, z0, z1, step, line=0.7):
        x = x0 + step
        while x < x1 - 1e-6:
            self.segment((x, 0, z0), (x, 0, z1), line, INK_LIGHT)
            x += step
        z = z0 + step
        while z < z1 - 1e-6:
            self.segment((x0, 0, z), (x1, 0, z), line, INK_LIGHT)
            z += step

    def room(self, x0, x1, z0, z1, height, walls, floor, ceiling):
        """The shell of a room around the camera: floor, ceiling and the walls that face it."""
        self.face([(x0, 0, z0), (x1, 0, z0), (x1, 0, z1), (x0, 0, z1)], floor, 0)
        self.face([(x0, height, z0), (x1, height, z0), (x1, height, z1), (x0, height, z1)], ceiling, 0)
        self.face([(x0, 0, z1), (x1, 0, z1), (x1, height, z1), (x0, height, z1)], walls[0], 0)
        self.face([(x0, 0, z0), (x0, 0, z1), (x0, height, z1), (x0, height, z0)], walls[1], 0)
        self.face([(x1, 0, z0), (x1, 0, z1), (x1, height, z1), (x1, height, z0)], walls[2], 0)

    def room_edges(self, x0, x1, z0, z1, height, line=1.6):
        for a, b in (
            ((x0, 0, z1), (x1, 0, z1)),
            ((x0, height, z1), (x1, height, z1)),
            ((x0, 0, z1), (x0, height, z1)),
            ((x1, 0, z1), (x1, height, z1)),
            ((x0, 0, z0), (x0, 0, z1)),
            ((x1, 0, z0), (x1, 0, z1)),
            ((x0, height, z0), (x0, height, z1)),
            ((x1, height, z0), (x1, height, z1)),
        ):
            self.segment(a, b, line)

    def pendant(self, x, z, drop, ceiling):
        """A hanging lamp: a cord and a conical shade facing the viewer."""
        self.segment((x, ceiling, z), (x, ceiling - drop, z), 0.7)
        top = ceiling - drop
        bottom = top - 0.22
        shade = [(x - 0.08, top, z), (x + 0.08, top, z), (x + 0.22, bottom, z), (x - 0.22, bottom, z)]
        self.face(shade, (255, 250, 232), 0.9)

    def plant(self, x, z, height, pot=(226, 214, 196)):
        self.box(x - 0.14, x + 0.14, 0, 0.34, z - 0.14, z + 0.14, pot, 0.9)
        self.finish()
        # Leaves: a few ellipses in the picture plane above the pot.
        camera = self.camera
        base = camera.to_view((x, 0.34, z))
        if base[2] < camera.NEAR:
            return
        scale = camera.focal / base[2]
        cx, cy = camera.to_screen(base)
        leaf_fill = (214, 230, 206)
        for dx, dy, rx, ry in ((-0.16, 0.55, 0.14, 0.22), (0.15, 0.62, 0.13, 0.24), (0.0, 0.82, 0.15, 0.26),
                               (-0.08, 0.35, 0.12, 0.16), (0.12, 0.33, 0.12, 0.15)):  # fmt: skip
            lx, ly = cx + dx * scale, cy - dy * height * scale
            self.draw.ellipse((lx - rx * scale, ly - ry * scale, lx + rx * scale, ly + ry * scale),
                              fill=leaf_fill, outline=INK, width=round(0.8 * LINE_SCALE))  # fmt: skip
            self.draw.line((lx, ly - ry * scale * 0.7, lx, ly + ry * scale * 0.7), fill=INK_LIGHT,
                           width=round(0.6 * LINE_SCALE))  # fmt: skip


def draw_dining_room(sheet, box):
    """One-point perspective: a long dining room with windows along the left wall."""
    left, top, right, bottom = box
    width = right - left
    centre = ((left + right) / 2, (top + bottom) / 2 + 8 * LINE_SCALE)
    camera = Camera((0.35, 1.45, -0.6), 0.05, width * 0.78, centre)
    s = Sketch(sheet, camera)
    x0, x1, z0, z1, h = -2.6, 2.6, -1.0, 8.0, 3.0
    walls = [(244, 240, 232), (250, 248, 244), (247, 244, 238)]  # back, left, right
    s.room(x0, x1, z0, z1, h, walls, (241, 234, 222), (252, 251, 248))
    s.floor_grid(x0, x1, z0, z1, 0.6)
    s.room_edges(x0, x1, z0, z1, h)
    # Skirting along the side walls.
    for x in (x0, x1):
        s.segment((x, 0.12, z0), (x, 0.12, z1), 0.6, INK_LIGHT)
    # Back wall: a wide window with a garden beyond.
    s.window_on_plane((-1.5, 0.8, z1 - 0.001), (1, 0, 0), (0, 1, 0), 3.0, 1.75, 4, 2)
    # Left wall: two tall windows.
    for z in (1.0, 4.2):
        s.window_on_plane((x0 + 0.001, 0.6, z + 1.6), (0, 0, -1), (0, 1, 0), 1.6, 2.0, 2, 3)
    # Right wall: a door and a framed picture.
    wall = x1 - 0.001
    s.side_rect(wall, 5.2, 6.1, 0, 2.1, (236, 226, 210), 1.2)
    s.segment((wall, 1.0, 5.28), (wall, 1.0, 5.36), 1.4)
    s.side_rect(wall, 2.2, 3.4, 1.3, 2.1, (232, 238, 242), 1.0)
    s.side_rect(wall, 2.36, 3.24, 1.42, 1.98, (250, 250, 250), 0.6)
    # A cornice around the ceiling and a light grid of ceiling panels.
    for x in (x0, x1):
        s.segment((x, h - 0.14, z0), (x, h - 0.14, z1), 0.7, INK_LIGHT)
    s.segment((x0, h - 0.14, z1 - 0.001), (x1, h - 0.14, z1 - 0.001), 0.7, INK_LIGHT)
    for x in (-1.3, 0.0, 1.3):
        s.segment((x, h - 0.001, z0), (x, h - 0.001, z1), 0.6, INK_LIGHT)
    for z in (0.25, 2.75, 5.25):
        s.segment((x0, h - 0.001, z), (x1, h - 0.001, z), 0.6, INK_LIGHT)
    # Ceiling lights in two rows.
    for z in (1.5, 4.0, 6.5):
        for x in (-1.2, 1.2):
            s.level_rect(h - 0.001, x - 0.25, x + 0.25, z - 0.25, z + 0.25, (255, 255, 255), 0.8)
    # A rug, the table with its chairs, a sideboard and a plant.
    s.level_rect(0.002, -1.3, 1.3, 3.0, 6.2, (236, 230, 222), 0.8)
    s.table(0.0, 4.6, 1.0, 2.2, axis="z")
    for z in (3.9, 4.6, 5.3):
        s.chair(-0.75, z, "+x")
        s.chair(0.75, z, "-x")
    s.chair(0.0, 3.1, "+z")
    s.finish()
    s.box(x1 - 0.45, x1, 0, 0.85, 0.6, 2.4, (236, 230, 220), 1.0)
    s.finish()
    s.segment((x1 - 0.45, 0.45, 0.6), (x1 - 0.45, 0.45, 2.4), 0.6)
    for z in (1.2, 1.8):
        s.segment((x1 - 0.45, 0.05, z), (x1 - 0.45, 0.85, z), 0.6)
    s.plant(x0 + 0.45, 7.3, 1.2)
    s.pendant(0.0, 4.6, 1.1, h)
    s.finish()


def draw_stair_hall(sheet, box):
    """Two-point perspective: a living hall with a staircase and a glazed wall."""
    left, top, right, bottom = box
    width = right - left
    centre = ((left + right) / 2, (top + bottom) / 2 + 8 * LINE_SCALE)
    camera = Camera((-2.9, 1.5, -1.8), 0.5, width * 0.68, centre)
    s = Sketch(sheet, camera)
    x0, x1, z0, z1, h = -4.0, 3.2, -3.0, 5.5, 3.4
    walls = [(248, 246, 240), (246, 243, 236), (243, 239, 230)]  # back, left, right
    s.room(x0, x1, z0, z1, h, walls, (238, 232, 222), (252, 251, 248))
    s.floor_grid(x0, x1, z0, z1, 0.8)
    s.room_edges(x0, x1, z0, z1, h)
    # Exposed beams across the ceiling, resting on a long beam at the edge of the stair opening.
    stair_edge = x1 - 1.0
    beam = (242, 236, 226)
    for z in (-1.6, 0.6, 2.8):
        s.box(x0, stair_edge - 0.16, h - 0.26, h - 0.001, z, z + 0.16, beam, 0.9)
    s.box(stair_edge - 0.16, stair_edge, h - 0.3, h - 0.001, z0, z1, beam, 0.9)
    s.finish()
    # The glazed back wall: a grid of tall panes.
    s.window_on_plane((-3.6, 0.3, z1 - 0.001), (1, 0, 0), (0, 1, 0), 3.8, 2.7, 5, 3)
    # A door in the right wall, beside the stairs.
    s.side_rect(x1 - 0.001, -1.6, -0.7, 0, 2.15, (236, 226, 210), 1.2)
    # Stairs rising along the right wall towards the back.
    steps = 14
    rise = h / steps
    run = 0.26
    start = 0.4
    for k in range(steps):
        s.box(x1 - 1.0, x1, 0, (k + 1) * rise, start + k * run, start + (k + 1) * run, (246, 240, 230), 0.8)
    s.finish()
    # Hand rail along the open side of the stairs.
    for k in range(0, steps, 2):
        z = start + (k + 0.5) * run
        s.segment((x1 - 1.0, (k + 1) * rise, z), (x1 - 1.0, (k + 1) * rise + 0.9, z), 0.6)
    s.segment((x1 - 1.0, rise + 0.9, start), (x1 - 1.0, h + 0.9, start + steps * run), 1.2)
    # Sitting area: sofa, coffee table, armchair, lamp and a rug.
    s.level_rect(0.002, -3.2, -0.8, 1.0, 3.6, (234, 228, 220), 0.8)
    s.sofa(-3.9, -3.1, 1.2, 3.4, "-x")
    s.box(-2.5, -1.6, 0.0, 0.38, 1.8, 2.8, (236, 224, 204), 1.0)
    s.sofa(-1.3, -0.5, 1.6, 2.6, "+x", fill=(230, 222, 212))
    s.finish()
    s.plant(-0.3, 4.8, 1.4)
    s.pendant(-2.0, 2.3, 1.3, h)
    s.finish()


def draw_bottom_picture():
    width, height = 410, 274
    sheet = Image.new("RGB", (width * LINE_SCALE, height * LINE_SCALE), PAPER)
    margin, gap = 5, 6
    panel_width = (width - 2 * margin - gap) // 2
    panels = [
        (margin, margin, margin + panel_width, height - margin),
        (width - margin - panel_width, margin, width - margin, height - margin),
    ]
    for draw_panel, panel in zip((draw_dining_room, draw_stair_hall), panels):
        box = tuple(v * LINE_SCALE for v in panel)
        drawing = Image.new("RGB", (box[2] - box[0], box[3] - box[1]), PAPER)
        draw_panel(drawing, (0, 0, drawing.width, drawing.height))
        sheet.paste(drawing, box[:2])
        ImageDraw.Draw(sheet).rectangle(box, outline=INK, width=LINE_SCALE)
    return sheet.resize((width, height), Image.Resampling.LANCZOS)


# ---------------------------------------------------------------------------------------------------
# left.jpg: a tall hall lit by the evening sun, ray-cast pixel by pixel


class Hall:
    """A long, tall hall seen down its length: tall windows along the left wall let the low sun in,
    a window at the far end glows, lamps hang along the ceiling and doors line the right wall.

    Colours are linear light; the picture is tone-mapped at the end.
    """

    HALF_WIDTH = 1.25
    HEIGHT = 5.4
    LENGTH = 17.0
    SIDE_WINDOWS = [(1.2 + 3.1 * k, 2.4 + 3.1 * k) for k in range(5)]  # z ranges on the left wall
    SIDE_WINDOW_SPAN = (0.8, 4.4)  # y range
    END_WINDOW = (-0.55, 0.55, 0.5, 3.6)  # x0, x1, y0, y1 on the far wall
    DOORS = [(3.3, 4.3), (7.6, 8.6), (12.0, 12.9)]  # z ranges on the right wall, 2.3 m high
    LAMPS = [2.4, 5.8, 9.2, 12.6, 15.4]  # z of the lamps, hung 1 m below the ceiling
    LAMP_DROP = 1.0
    SUN = (-0.78, 0.55, -0.30)  # towards the sun, normalised below

    def __init__(self):
        length = math.sqrt(sum(c * c for c in self.SUN))
        self.sun = tuple(c / length for c in self.SUN)

    @staticmethod
    def _in(value, span):
        return span[0] <= value <= span[1]

    def _window_pane(self, u, v, u_span, v_span, across, up):
        """True on glass, False on the frame and the glazing bars."""
        bar = 0.05
        if not (u_span[0] + bar <= u <= u_span[1] - bar and v_span[0] + bar <= v <= v_span[1] - bar):
            return False
        for k in range(1, across):
            if abs(u - lerp(u_span[0], u_span[1], k / across)) < bar / 2:
                return False
        for k in range(1, up):
            if abs(v - lerp(v_span[0], v_span[1], k / up)) < bar / 2:
                return False
        return True

    def _sunlit(self, point):
        """Whether the sun reaches a point through one of the left windows (glazing bars cast shadows)."""
        sx, sy, sz = self.sun
        if sx >= 0:
            return 0.0
        t = (-self.HALF_WIDTH - point[0]) / sx
        if t <= 0:
            return 0.0
        y = point[1] + t * sy
        z = point[2] + t * sz
        for span in self.SIDE_WINDOWS:
            if self._in(z, span) and self._in(y, self.SIDE_WINDOW_SPAN):
                return 1.0 if self._window_pane(z, y, span, self.SIDE_WINDOW_SPAN, 2, 4) else 0.0
        return 0.0

    def _light(self, point, normal):
        x, y, z = point
        # Indirect light: warmer and stronger towards the glowing end of the hall.
        glow = 0.55 + 0.9 * (z / self.LENGTH) ** 2
        total = [0.16 * glow, 0.12 * glow, 0.08 * glow]
        # The far window lights the hall like a broad lamp.
        for lx, ly, lz, power in [(0.0, 2.0, self.LENGTH - 0.3, 7.0)] + [
            (0.0, self.HEIGHT - self.LAMP_DROP - 0.25, lz, 1.1) for lz in self.LAMPS
        ]:
            dx, dy, dz = lx - x, ly - y, lz - z
            distance2 = dx * dx + dy * dy + dz * dz
            distance = math.sqrt(distance2)
            facing = (dx * normal[0] + dy * normal[1] + dz * normal[2]) / distance
            if facing > 0:
                strength = power * facing / (1.0 + distance2)
                total[0] += strength * 1.0
                total[1] += strength * 0.72
                total[2] += strength * 0.42
        facing_sun = sum(a * b for a, b in zip(self.sun, normal))
        if facing_sun > 0:
            lit = self._sunlit(point) * facing_sun
            total[0] += 2.6 * lit
            total[1] += 1.9 * lit
            total[2] += 1.05 * lit
        return total

    @staticmethod
    def _corner_shade(distance):
        """Soft darkening into corners, as light reaches them from fewer directions."""
        return 1.0 - 0.4 * math.exp(-distance / 0.35)

    def trace(self, origin, direction, bounce=0):
        ox, oy, oz = origin
        dx, dy, dz = direction
        hits = []
        if dx < 0:
            hits.append(((-self.HALF_WIDTH - ox) / dx, "left"))
        if dx > 0:
            hits.append(((self.HALF_WIDTH - ox) / dx, "right"))
        if dy < 0:
            hits.append(((0.0 - oy) / dy, "floor"))
        if dy > 0:
            hits.append(((self.HEIGHT - oy) / dy, "ceiling"))
        if dz > 0:
            hits.append(((self.LENGTH - oz) / dz, "end"))
        t, surface = min(hits)
        # Lamp shades: small glowing discs hanging on the centre line, met before the walls.
        for lz in self.LAMPS:
            if dz > 0:
                tl = (lz - oz) / dz
                if 0 < tl < t:
                    hx, hy = ox + tl * dx, oy + tl * dy
                    ly = self.HEIGHT - self.LAMP_DROP
                    if (hx / 0.32) ** 2 + ((hy - ly) / 0.2) ** 2 <= 1.0 and hy <= ly:
                        return (2.8, 2.0, 1.05)
                    if abs(hx) < 0.012 and ly < hy < self.HEIGHT:
                        return (0.05, 0.04, 0.03)
        point = (ox + t * dx, oy + t * dy, oz + t * dz)
        x, y, z = point
        if surface == "left":
            for span in self.SIDE_WINDOWS:
                if self._in(z, span) and self._in(y, self.SIDE_WINDOW_SPAN):
                    if self._window_pane(z, y, span, self.SIDE_WINDOW_SPAN, 2, 4):
                        sky = 1.0 - 0.35 * (y - self.SIDE_WINDOW_SPAN[0]) / 3.6
                        return (2.6 * sky + 0.5, 1.9 * sky + 0.35, 1.1 * sky + 0.2)
                    return self._shade((0.30, 0.22, 0.15), point, (1, 0, 0))
            albedo = (0.74, 0.62, 0.47)
            shade = self._corner_shade(min(y, self.HEIGHT - y))
            return self._shade(self._skirting(albedo, y), point, (1, 0, 0), shade)
        if surface == "right":
            albedo = (0.76, 0.64, 0.49)
            for z0, z1 in self.DOORS:
                if z0 - 0.12 <= z <= z1 + 0.12 and y <= 2.42:
                    frame = not (z0 <= z <= z1 and y <= 2.3)
                    albedo = (0.52, 0.36, 0.22) if frame else (0.36, 0.21, 0.11)
                    if not frame and abs(y - 1.05) < 0.06 and z > z1 - 0.14:
                        albedo = (0.9, 0.75, 0.4)  # the handle
                    break
            shade = self._corner_shade(min(y, self.HEIGHT - y))
            return self._shade(self._skirting(albedo, y), point, (-1, 0, 0), shade)
        if surface == "ceiling":
            shade = self._corner_shade(self.HALF_WIDTH - abs(x))
            return self._shade((0.80, 0.74, 0.64), point, (0, -1, 0), shade)
        if surface == "end":
            wx0, wx1, wy0, wy1 = self.END_WINDOW
            if self._in(x, (wx0, wx1)) and self._in(y, (wy0, wy1)):
                if self._window_pane(x, y, (wx0, wx1), (wy0, wy1), 2, 3):
                    warmth = (y - wy0) / (wy1 - wy0)
                    return (6.0, 4.2 - 0.8 * warmth, 2.2 - 0.9 * warmth)
                return (0.35, 0.22, 0.12)
            corner = min(y, self.HEIGHT - y, self.HALF_WIDTH - abs(x))
            return self._shade((0.74, 0.62, 0.47), point, (0, 0, -1), self._corner_shade(corner))
        # Floor: oiled planks running along the hall, with a glossy reflection.
        plank = math.floor((x + self.HALF_WIDTH) / 0.18)
        joint = math.floor((z + 1.3 * ((plank * 7) % 5)) / 2.1)
        tone = 0.86 + 0.05 * ((plank * 5 + joint * 3) % 7) / 6 * 2
        albedo = (0.46 * tone, 0.28 * tone, 0.15 * tone)
        gap = min((x + self.HALF_WIDTH) % 0.18, 0.18 - (x + self.HALF_WIDTH) % 0.18) < 0.006
        if gap:
            albedo = tuple(c * 0.6 for c in albedo)
        shade = self._corner_shade(self.HALF_WIDTH - abs(x))
        colour = self._shade(albedo, point, (0, 1, 0), shade)
        if bounce == 0:
            grazing = 1.0 - abs(dy) / math.sqrt(dx * dx + dy * dy + dz * dz)
            gloss = 0.08 + 0.3 * grazing**4
            mirrored = self.trace((x, 0.0001, z), (dx, -dy, dz), bounce + 1)
            colour = tuple(lerp(c, m, gloss) for c, m in zip(colour, mirrored))
        return colour

    @staticmethod
    def _skirting(albedo, y):
        return (0.32, 0.2, 0.11) if y < 0.14 else albedo

    def _shade(self, albedo, point, normal, occlusion=1.0):
        light = self._light(point, normal)
        return tuple(a * l * occlusion for a, l in zip(albedo, light))


def draw_left_picture():
    width, height = 90, 303
    scale = 3
    big_w, big_h = width * scale, height * scale
    hall = Hall()
    eye = (0.12, 1.6, 0.0)
    focal = big_w * 1.3
    centre_x, centre_y = big_w * 0.52, big_h * 0.57
    exposure = 1.25
    image = Image.new("RGB", (big_w, big_h))
    pixels = image.load()
    for py in range(big_h):
        for px in range(big_w):
            direction = ((px + 0.5 - centre_x) / focal, (centre_y - py - 0.5) / focal, 1.0)
            colour = hall.trace(eye, direction)
            pixels[px, py] = tuple(round(255 * (1.0 - math.exp(-c * exposure)) ** (1 / 2.2)) for c in colour)
    # Bloom: the brightest parts bleed softly into their surroundings.
    bright = image.point(lambda v: max(0, v - 200) * 4)
    halo = bright.filter(ImageFilter.GaussianBlur(radius=10 * scale))
    image = ImageChops.add(image, halo.point(lambda v: v * 0.7))
    image = image.resize((width, height), Image.Resampling.LANCZOS)
    # A gentle vignette pulls the eye down the hall.
    vignette = Image.radial_gradient("L").resize((width, height)).point(lambda v: round(255 - 0.45 * v))
    dark = Image.new("RGB", (width, height), (20, 12, 6))
    return Image.composite(image, dark, vignette)


# ---------------------------------------------------------------------------------------------------
# Output


def jpeg_bytes(image, quality):
    # optimize: Huffman tables fitted to the picture. The coefficients are the same, so every decoder gives
    # the same pixels, in some 3 KB fewer of setup.exe's bytes.
    out = io.BytesIO()
    image.save(out, "JPEG", quality=quality, subsampling=0, optimize=True, progressive=False)
    return out.getvalue()


def build_all():
    """Returns {file name: bytes} for every picture."""
    return {
        "setup.ico": ico_bytes([draw_computer_and_box_32(), draw_computer_and_box_16()]),
        "title_strip.ico": ico_bytes([draw_crescent_and_star()]),
        "picture_button.ico": ico_bytes([draw_friendly_figure()]),
        "bottom.jpg": jpeg_bytes(draw_bottom_picture(), quality=92),
        "left.jpg": jpeg_bytes(draw_left_picture(), quality=92),
    }


def main(argv):
    output_dir = Path(argv[1]) if len(argv) > 1 else OUTPUT_DIR
    output_dir.mkdir(parents=True, exist_ok=True)
    for name, data in build_all().items():
        (output_dir / name).write_bytes(data)
        print(f"{name}: {len(data)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
