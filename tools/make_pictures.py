#!/usr/bin/env python3
"""Writes the built-in pictures (resources/generated/*.gif and favicon.ico) from their sources.

Sources live in resources/pictures/:
  *.txt  pixel maps: palette lines "<char> <#RRGGBB|transparent>", a line "---", then one text
         row per pixel row (every row as wide as the picture).
  *.svg  vector drawings for the larger pictures, drawn by Debian's Chromium (headless).

The GIF and ICO encoders are written here (standard library only) so that the output is the same
on every machine; Chromium and ImageMagick are used only to rasterise SVG and to pick palettes for
the rasterised pictures.

The desktop pictures (resources/pictures/desktop/*.svg, 16x16) become two PNG files each in
resources/generated/desktop/: NAME.png at 16x16 with magenta (#FF00FF) where the picture is
transparent, as the desktop's image list expects, and NAME@2x.png at 32x32 with an alpha channel
for high-density screens. The dialogs' larger pictures (resources/pictures/dialogs/*.svg) become
NAME.png at their declared size and NAME@2x.png at twice it, both with an alpha channel.

The language flags (resources/pictures/lang/flag-*.txt, 16x16 pixel maps of at most 16 colours)
become Windows bitmaps of 16 colours, resources/generated/lang/flag-*.bmp: the built-in language's
flag is embedded in the program, the others are linked into the shipped language libraries.

The program's icon (resources/pictures/icon/pelotest.svg) becomes
resources/generated/icons/pelotest-SIZE.png at the desktop's usual sizes, with an alpha channel.

The headless program's three message icons (32x32, drawn here in code) become raw RGBA bytes,
resources/generated/message-*.rgba, which the program hands over as they are.

Usage: tools/make_pictures.py [--check]   (--check: fail when a committed binary is stale)
"""

import math
import os
import re
import struct
import subprocess
import sys
import tempfile
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCES = os.path.join(ROOT, "resources", "pictures")
OUTPUT = os.path.join(ROOT, "resources", "generated")

# Pixel-map pictures: output name -> (source, expected width, height).
PIXEL_MAPS = {
    "Img3.gif": ("template.txt", 16, 16),
    "Img5.gif": ("cube-grey.txt", 16, 16),
    "Img6.gif": ("cube-red.txt", 16, 16),
    "Img7.gif": ("cube-green.txt", 16, 16),
    "Img8.gif": ("page.txt", 16, 16),
    "rel.gif": ("rel.txt", 16, 16),
    "blank.gif": ("blank.txt", 1, 1),
    "save.gif": ("save.txt", 16, 16),
    "abort.gif": ("abort.txt", 16, 16),
    "yes.gif": ("yes.txt", 16, 16),
    "back.gif": ("back.txt", 14, 14),
    "log.gif": ("log.txt", 16, 16),
    "run.gif": ("run.txt", 14, 14),
    "folder.gif": ("folder.txt", 16, 16),
    "info.gif": ("info.txt", 11, 11),
}
# Vector pictures: output name -> (source, width, height).
VECTOR_GIFS = {
    "banner.gif": ("banner.svg", 120, 60),
    "pelorin.gif": ("pelorin.svg", 120, 52),
}
# The site icon: 16x16 from a hand-made pixel map, 32x32 and 48x48 from the drawing; each size in
# 16 and in 256 colours.
FAVICON_SMALL = "favicon16.txt"
FAVICON_SVG = "favicon.svg"
# The desktop's pictures: every SVG of this folder, drawn at 16x16 and at 32x32.
DESKTOP = "desktop"
DIALOGS = "dialogs"
LANG = "lang"
MAGENTA = (0xFF, 0x00, 0xFF)


# ---------------------------------------------------------------------------------------------
# Pictures as (width, height, pixels) with pixels a list of (r, g, b) or None for transparent.


def read_pixel_map(name):
    palette = {}
    rows = []
    in_rows = False
    with open(os.path.join(SOURCES, name), encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not in_rows:
                if not line.strip() or line.startswith(";"):
                    continue
                if line == "---":
                    in_rows = True
                    continue
                key, value = line[0], line[1:].split()[0]
                if value == "transparent":
                    palette[key] = None
                else:
                    palette[key] = tuple(int(value[i : i + 2], 16) for i in (1, 3, 5))
                continue
            if not line:
                continue
            rows.append(line)
    width = len(rows[0])
    pixels = []
    for y, row in enumerate(rows):
        if len(row) != width:
            sys.exit(f"{name}: row {y} has {len(row)} pixels, expected {width}")
        for x, key in enumerate(row):
            if key not in palette:
                sys.exit(f"{name}: unknown colour key {key!r} at ({x}, {y})")
            pixels.append(palette[key])
    return width, len(rows), pixels


def render_svg(name, width, height, sizes=None):
    """RGBA pixels of an SVG at width x height (or a list of them, one per size of sizes). Debian's Chromium draws it at eight times its
    declared size (ImageMagick's own SVG renderer draws gradients wrong); ImageMagick then scales
    it down, which gives smooth edges at the exact size."""
    path = os.path.join(SOURCES, name)
    text = open(path, encoding="utf-8").read()
    declared = re.search(r'<svg[^>]*\swidth="(\d+)"[^>]*\sheight="(\d+)"', text)
    with tempfile.TemporaryDirectory() as tmp:
        shot = os.path.join(tmp, "shot.png")
        subprocess.run(
            [os.environ.get("CHROMIUM", "chromium"), "--headless", "--no-sandbox", "--disable-gpu",
             "--hide-scrollbars", "--force-device-scale-factor=8",
             "--default-background-color=00000000",
             f"--window-size={declared.group(1)},{declared.group(2)}", f"--screenshot={shot}",
             "file://" + path],
            check=True, capture_output=True)
        results = []
        for w, h in sizes or [(width, height)]:
            rgba = subprocess.run(
                ["convert", shot, "-filter", "Box", "-resize", f"{w}x{h}!", "-depth", "8",
                 "rgba:-"],
                check=True, capture_output=True).stdout
            if len(rgba) != w * h * 4:
                sys.exit(f"{name}: rendered {len(rgba)} bytes, expected {w * h * 4}")
            results.append(rgba)
    return results if sizes else results[0]


# The background the welcome page's pictures stand on (the default button face): their smooth
# edges are blended into it, since a GIF pixel is either opaque or transparent.
MATTE = (0xD4, 0xD0, 0xC8)


def quantize(rgba, width, height, max_colors, matte=None):
    """Indexed picture from RGBA, reduced to max_colors colours by ImageMagick (no dithering, so
    flat areas stay flat). Without a matte, alpha below one half becomes transparent; with one,
    pixels of some coverage are blended into it and only nearly empty ones stay transparent."""
    opaque = []
    for i in range(width * height):
        r, g, b, a = rgba[4 * i : 4 * i + 4]
        if matte is None:
            opaque.append((r, g, b) if a >= 128 else None)
        elif a < 40:
            opaque.append(None)
        else:
            opaque.append(tuple((c * a + m * (255 - a) + 127) // 255
                                for c, m in zip((r, g, b), matte)))
    colours = [p for p in opaque if p is not None]
    if len(set(colours)) > max_colors:
        strip = b"P6\n%d 1\n255\n" % len(colours) + bytes(c for p in colours for c in p)
        out = subprocess.run(
            ["convert", "ppm:-", "+dither", "-colors", str(max_colors), "-depth", "8", "rgb:-"],
            input=strip, check=True, capture_output=True).stdout
        mapped = iter(tuple(out[3 * i : 3 * i + 3]) for i in range(len(colours)))
        opaque = [None if p is None else next(mapped) for p in opaque]
    return width, height, opaque


# ---------------------------------------------------------------------------------------------
# GIF89a


def lzw_encode(indexes, min_code_size):
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    bits = 0
    nbits = 0

    def emit(code, size):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    def reset():
        return {(i,): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, code_size = reset()
    emit(clear, code_size)
    current = ()
    for index in indexes:
        candidate = current + (index,)
        if candidate in table:
            current = candidate
            continue
        emit(table[current], code_size)
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << code_size) and code_size < 12:
                code_size += 1
        else:
            emit(clear, code_size)
            table, next_code, code_size = reset()
        current = (index,)
    if current:
        emit(table[current], code_size)
    emit(end, code_size)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def palette_of(pixels, reserve_first=None):
    colours = [] if reserve_first is None else [reserve_first]
    for p in pixels:
        if p is not None and p not in colours:
            colours.append(p)
    return colours


def encode_gif(picture):
    width, height, pixels = picture
    colours = palette_of(pixels)
    transparent = any(p is None for p in pixels)
    if transparent:
        colours = colours + [(255, 255, 255)]  # the transparent entry comes last
    if len(colours) > 256:
        sys.exit("too many colours for a GIF")
    table_bits = max(1, (len(colours) - 1).bit_length())
    colours += [(0, 0, 0)] * ((1 << table_bits) - len(colours))
    transparent_index = len(palette_of(pixels)) if transparent else 0
    lookup = {c: i for i, c in reversed(list(enumerate(colours)))}
    indexes = [transparent_index if p is None else lookup[p] for p in pixels]

    gif = bytearray(b"GIF89a")
    gif += struct.pack("<HHBBB", width, height, 0x80 | 0x70 | (table_bits - 1), 0, 0)
    gif += bytes(c for rgb in colours for c in rgb)
    if transparent:
        gif += struct.pack("<BBBBHBB", 0x21, 0xF9, 4, 0x01, 0, transparent_index, 0)
    gif += struct.pack("<BHHHHB", 0x2C, 0, 0, width, height, 0)
    min_code_size = max(2, table_bits)
    data = lzw_encode(indexes, min_code_size)
    gif.append(min_code_size)
    for i in range(0, len(data), 255):
        chunk = data[i : i + 255]
        gif.append(len(chunk))
        gif += chunk
    gif += b"\x00\x3B"
    return bytes(gif)


# ---------------------------------------------------------------------------------------------
# PNG (the desktop's pictures)


def encode_png(width, height, pixels, channels):
    """pixels: bytes, row by row, RGB (channels 3) or RGBA (channels 4)."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    stride = width * channels
    raw = b"".join(b"\x00" + pixels[y * stride : (y + 1) * stride] for y in range(height))
    colour_type = 2 if channels == 3 else 6
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def magenta_keyed(rgba):
    """RGB with magenta where the picture is (nearly) transparent; edges of partial coverage are
    blended into the button face, since the key makes a pixel either opaque or transparent."""
    out = bytearray()
    for i in range(0, len(rgba), 4):
        r, g, b, a = rgba[i : i + 4]
        if a < 64:
            out += bytes(MAGENTA)
            continue
        pixel = [(c * a + m * (255 - a) + 127) // 255 for c, m in zip((r, g, b), MATTE)]
        if tuple(pixel) == MAGENTA:
            pixel[1] = 1  # a drawn magenta would turn transparent
        out += bytes(pixel)
    return bytes(out)


def desktop_pictures():
    files = {}
    folder = os.path.join(SOURCES, DESKTOP)
    for source in sorted(os.listdir(folder)):
        if not source.endswith(".svg"):
            continue
        stem = source[:-4]
        small, large = render_svg(os.path.join(DESKTOP, source), 16, 16, [(16, 16), (32, 32)])
        files[os.path.join(DESKTOP, stem + ".png")] = encode_png(16, 16, magenta_keyed(small), 3)
        files[os.path.join(DESKTOP, stem + "@2x.png")] = encode_png(32, 32, large, 4)
    return files


def dialog_pictures():
    files = {}
    folder = os.path.join(SOURCES, DIALOGS)
    for source in sorted(os.listdir(folder)):
        if not source.endswith(".svg"):
            continue
        stem = source[:-4]
        text = open(os.path.join(folder, source), encoding="utf-8").read()
        size = re.search(r'<svg[^>]*\swidth="(\d+)"[^>]*\sheight="(\d+)"', text)
        w, h = int(size.group(1)), int(size.group(2))
        one, two = render_svg(os.path.join(DIALOGS, source), w, h, [(w, h), (2 * w, 2 * h)])
        files[os.path.join(DESKTOP, stem + ".png")] = encode_png(w, h, one, 4)
        files[os.path.join(DESKTOP, stem + "@2x.png")] = encode_png(2 * w, 2 * h, two, 4)
    return files


# The program's icon for the desktop (installed into share/icons/hicolor/): the SVG itself and a
# PNG at each usual size, icons/pelotest-SIZE.png.
ICON_SVG = os.path.join("icon", "pelotest.svg")
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def program_icons():
    rendered = render_svg(ICON_SVG, 256, 256, [(size, size) for size in ICON_SIZES])
    return {os.path.join("icons", f"pelotest-{size}.png"): encode_png(size, size, rgba, 4)
            for size, rgba in zip(ICON_SIZES, rendered)}


# ---------------------------------------------------------------------------------------------
# Windows bitmap of 16 colours (the language flags)


def encode_bmp4(picture):
    width, height, pixels = picture
    if any(p is None for p in pixels):
        sys.exit("a flag has no transparent pixels: its key colour is the pixel at x 0, y 14")
    colours = palette_of(pixels)
    if len(colours) > 16:
        sys.exit(f"a flag has {len(colours)} colours, at most 16")
    colours += [(0, 0, 0)] * (16 - len(colours))
    lookup = {c: i for i, c in reversed(list(enumerate(colours)))}
    stride = ((width * 4 + 31) // 32) * 4
    rows = bytearray()
    for y in reversed(range(height)):  # bottom-up
        indexes = [lookup[p] for p in pixels[y * width : (y + 1) * width]]
        line = bytearray()
        for x in range(0, width, 2):
            low = indexes[x + 1] if x + 1 < width else 0
            line.append((indexes[x] << 4) | low)
        rows += line + bytes(stride - len(line))
    table = bytes(c for r, g, b in colours for c in (b, g, r, 0))
    offset = 14 + 40 + len(table)
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(rows), 2835, 2835, 16,
                         0)
    return (b"BM" + struct.pack("<IHHI", offset + len(rows), 0, 0, offset) + header + table +
            bytes(rows))


def language_flags():
    files = {}
    folder = os.path.join(SOURCES, LANG)
    for source in sorted(os.listdir(folder)):
        if not source.endswith(".txt"):
            continue
        picture = read_pixel_map(os.path.join(LANG, source))
        if picture[:2] != (16, 16):
            sys.exit(f"{source}: {picture[0]}x{picture[1]}, expected 16x16")
        files[os.path.join(LANG, source[:-4] + ".bmp")] = encode_bmp4(picture)
    return files


# ---------------------------------------------------------------------------------------------
# Windows icon (BMP images with an AND mask)


def encode_icon_image(picture, bit_count):
    width, height, pixels = picture
    # Transparent pixels use entry 0, black, so that the XOR image leaves the background as it is.
    colours = palette_of(pixels, reserve_first=(0, 0, 0))
    size = 1 << bit_count
    if len(colours) > size:
        sys.exit(f"icon image {width}x{height} has {len(colours)} colours, at most {size}")
    colours += [(0, 0, 0)] * (size - len(colours))
    lookup = {c: i for i, c in reversed(list(enumerate(colours)))}

    xor_stride = ((width * bit_count + 31) // 32) * 4
    and_stride = ((width + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(height)):  # bottom-up
        row = pixels[y * width : (y + 1) * width]
        indexes = [0 if p is None else lookup[p] for p in row]
        line = bytearray()
        if bit_count == 8:
            line += bytes(indexes)
        else:
            for x in range(0, width, 2):
                low = indexes[x + 1] if x + 1 < width else 0
                line.append((indexes[x] << 4) | low)
        xor += line + bytes(xor_stride - len(line))
        bits = bytearray(and_stride)
        for x, p in enumerate(row):
            if p is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, bit_count, 0,
                         len(xor) + len(mask), 0, 0, size, 0)
    table = bytes(c for r, g, b in colours for c in (b, g, r, 0))
    return header + table + bytes(xor) + bytes(mask)


def encode_icon(entries):
    """entries: list of (picture, bit_count)."""
    images = [encode_icon_image(p, bits) for p, bits in entries]
    out = bytearray(struct.pack("<HHH", 0, 1, len(entries)))
    offset = 6 + 16 * len(entries)
    for (picture, bits), image in zip(entries, images):
        width, height, _ = picture
        out += struct.pack("<BBBBHHII", width % 256, height % 256, 16 if bits == 4 else 0, 0, 1,
                           bits, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


def reduce_colours(picture, max_colors):
    """A pixel-map picture reduced to max_colors (the hand-made maps already fit)."""
    width, height, pixels = picture
    if len(set(p for p in pixels if p is not None)) <= max_colors:
        return picture
    rgba = bytes(c for p in pixels for c in ((0, 0, 0, 0) if p is None else (*p, 255)))
    return quantize(rgba, width, height, max_colors)


# ---------------------------------------------------------------------------------------------
# The headless program's message icons: a warning triangle, an error disc and an information disc,
# 32x32 with smooth edges (each pixel sampled 4x4 times), written as raw RGBA bytes (the pixels the
# program hands over as they are). The arithmetic is single precision, rounded after every step.

MESSAGE_ICONS = {"message-warning.rgba": "warning", "message-error.rgba": "error",
                 "message-information.rgba": "information"}


def f32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def hypot32(x, y):
    return f32(math.sqrt(x * x + y * y))


def distance_to_segment(p, a, b):
    vx, vy = f32(b[0] - a[0]), f32(b[1] - a[1])
    along = f32(f32(f32(p[0] - a[0]) * vx) + f32(f32(p[1] - a[1]) * vy))
    t = min(max(f32(along / f32(f32(vx * vx) + f32(vy * vy))), 0.0), 1.0)
    return hypot32(f32(p[0] - f32(a[0] + f32(t * vx))), f32(p[1] - f32(a[1] + f32(t * vy))))


def inside_triangle(p, a, b, c):
    """Distance of p inside the triangle abc (clockwise on screen) from its nearest edge; negative
    outside."""
    nearest = f32(1e9)
    corners = (a, b, c, a)
    for i in range(3):
        e0, e1 = corners[i], corners[i + 1]
        ex, ey = f32(e1[0] - e0[0]), f32(e1[1] - e0[1])
        cross = f32(f32(f32(p[0] - e0[0]) * ey) - f32(f32(p[1] - e0[1]) * ex))
        side = f32(cross / hypot32(ex, ey))
        nearest = min(nearest, -side)
    return nearest


def inside_circle(p, centre, radius):
    return f32(radius - hypot32(f32(p[0] - centre[0]), f32(p[1] - centre[1])))


def rgb(value):
    return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF)


def icon_sample(icon, p):
    """The colour of one sample point of an icon, None outside its shape."""
    x, y = p
    if icon == "warning":
        inside = inside_triangle(p, (16, 1.5), (30.5, 28.5), (1.5, 28.5))
        if inside < 0:
            return None
        if inside < f32(1.6):
            return rgb(0x8A6400)
        stroke = distance_to_segment(p, (16, 11), (16, 19.5)) < f32(1.9)
        dot = inside_circle(p, (16, 24), f32(1.9)) >= 0
        if stroke or dot:
            return rgb(0x1E1E1E)
        # A slightly lighter top edge gives the sign some depth.
        return rgb(0xFFE15A) if y < 12 else rgb(0xFFCC1A)
    inside = inside_circle(p, (16, 16), 14.5)
    if inside < 0:
        return None
    if icon == "error":
        if inside < 1.5:
            return rgb(0x8B0A0A)
        if (distance_to_segment(p, (10.5, 10.5), (21.5, 21.5)) < 2.0
                or distance_to_segment(p, (21.5, 10.5), (10.5, 21.5)) < 2.0):
            return rgb(0xFFFFFF)
        return rgb(0xEE4A3E) if y < 12 else rgb(0xD8261E)
    if inside < 1.5:
        return rgb(0x163A80)
    dot = inside_circle(p, (16, 9.5), f32(2.3)) >= 0
    stem = f32(14.2) <= x <= f32(17.8) and 13 <= y <= 23.5
    foot = 12.5 <= x <= 19.5 and 22 <= y <= 24
    serif = 12.5 <= x <= f32(17.8) and 13 <= y <= 15
    if dot or stem or foot or serif:
        return rgb(0xFFFFFF)
    return rgb(0x4F8AEA) if y < 12 else rgb(0x2F6AD4)


def round_half_away(value):
    return int(math.floor(value + 0.5)) if value >= 0 else -int(math.floor(-value + 0.5))


def message_icon(icon):
    samples = 4
    out = bytearray()
    for y in range(32):
        for x in range(32):
            r = g = b = a = 0.0  # premultiplied sums
            for sy in range(samples):
                for sx in range(samples):
                    p = (f32(x + f32(f32(sx + 0.5) / samples)),
                         f32(y + f32(f32(sy + 0.5) / samples)))
                    colour = icon_sample(icon, p)
                    if colour is None:
                        continue
                    r, g, b = f32(r + colour[0]), f32(g + colour[1]), f32(b + colour[2])
                    a = f32(a + 1.0)
            if a > 0:
                out += bytes(round_half_away(f32(c / a)) for c in (r, g, b))
            else:
                out += bytes(3)
            out.append(round_half_away(f32(f32(255 * a) / (samples * samples))))
    return bytes(out)


def message_icons():
    return {name: message_icon(icon) for name, icon in MESSAGE_ICONS.items()}


# ---------------------------------------------------------------------------------------------


def build():
    files = {}
    for out, (source, width, height) in PIXEL_MAPS.items():
        picture = read_pixel_map(source)
        if picture[:2] != (width, height):
            sys.exit(f"{source}: {picture[0]}x{picture[1]}, expected {width}x{height}")
        files[out] = encode_gif(picture)
    for out, (source, width, height) in VECTOR_GIFS.items():
        rgba = render_svg(source, width, height)
        files[out] = encode_gif(quantize(rgba, width, height, 255, MATTE))

    small = read_pixel_map(FAVICON_SMALL)
    if small[:2] != (16, 16):
        sys.exit(f"{FAVICON_SMALL}: expected 16x16")
    entries = []
    for bits, colours in ((4, 15), (8, 255)):  # one entry stays black for the transparent pixels
        entries.append((reduce_colours(small, colours), bits))
        for size in (32, 48):
            rgba = render_svg(FAVICON_SVG, size, size)
            entries.append((quantize(rgba, size, size, colours), bits))
    files["favicon.ico"] = encode_icon(entries)
    files.update(desktop_pictures())
    files.update(dialog_pictures())
    files.update(language_flags())
    files.update(program_icons())
    files.update(message_icons())
    return files


def main():
    check = "--check" in sys.argv[1:]
    files = build()
    stale = []
    os.makedirs(os.path.join(OUTPUT, DESKTOP), exist_ok=True)
    os.makedirs(os.path.join(OUTPUT, LANG), exist_ok=True)
    os.makedirs(os.path.join(OUTPUT, "icons"), exist_ok=True)
    for name, data in sorted(files.items()):
        path = os.path.join(OUTPUT, name)
        old = open(path, "rb").read() if os.path.exists(path) else None
        if old == data:
            continue
        stale.append(name)
        if not check:
            with open(path, "wb") as f:
                f.write(data)
    if check and stale:
        sys.exit("stale pictures: " + ", ".join(stale))
    for name in stale:
        print("wrote", os.path.join("resources", "generated", name))


if __name__ == "__main__":
    main()
