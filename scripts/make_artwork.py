#!/usr/bin/python3
"""Draws every picture of the server's window and dialogs, and the shutter
sound, into resources/artwork/.

The outputs are committed, so a build needs neither Pillow nor this script;
run it again after changing a drawing (`python3 scripts/make_artwork.py`) and
commit what changed. `--check` redraws into a temporary folder and fails when
a committed file differs (same Pillow and fonts assumed).

One style throughout: a dark slate body, a blue accent for the normal action,
red for recording and refusing, green for allowing, rounded corners, flat
fills with a slight top highlight. Every shape is drawn at four times the size
and scaled down, which smooths its edges.
"""

import argparse
import filecmp
import math
import os
import struct
import sys
import tempfile

from PIL import Image, ImageDraw, ImageFont

SCALE = 4
FONT_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"

# Palette.
SLATE_DARK = (26, 30, 37)
SLATE = (38, 43, 52)
SLATE_LIGHT = (58, 65, 77)
SLATE_EDGE = (74, 82, 96)
TEXT = (232, 236, 242)
TEXT_DIM = (150, 158, 170)
BLUE = (47, 128, 237)
BLUE_LIGHT = (86, 156, 245)
BLUE_DARK = (30, 96, 190)
RED = (226, 60, 68)
RED_LIGHT = (240, 96, 102)
RED_DARK = (176, 40, 48)
GREEN = (38, 166, 91)
GREEN_LIGHT = (64, 192, 116)
GREEN_DARK = (26, 128, 68)
GREY = (120, 128, 140)
GREY_LIGHT = (150, 158, 170)
GREY_DARK = (92, 99, 110)
DISABLED_FILL = (48, 53, 62)
DISABLED_INK = (88, 95, 106)


def canvas(w, h, colour=(0, 0, 0, 0)):
    img = Image.new("RGBA", (w * SCALE, h * SCALE), colour)
    return img, ImageDraw.Draw(img)


def finish(img, w, h):
    return img.resize((w, h), Image.LANCZOS)


def s(v):
    return int(round(v * SCALE))


def box(x0, y0, x1, y1):
    return [s(x0), s(y0), s(x1) - 1, s(y1) - 1]


def shade(colour, factor):
    return tuple(max(0, min(255, int(c * factor))) for c in colour[:3])


def vertical_gradient(img, top, bottom, rect=None):
    x0, y0, x1, y1 = rect if rect else (0, 0, img.width, img.height)
    d = ImageDraw.Draw(img)
    for y in range(y0, y1):
        t = (y - y0) / max(1, y1 - y0 - 1)
        c = tuple(int(top[i] + (bottom[i] - top[i]) * t) for i in range(3))
        d.line([(x0, y), (x1 - 1, y)], fill=c + (255,))


def rounded_button(w, h, fill, radius=6, edge=None, pressed=False):
    """A rounded plate with a top highlight; `pressed` darkens and drops it."""
    img, d = canvas(w, h)
    top = shade(fill, 0.82 if pressed else 1.12)
    bottom = shade(fill, 0.95 if pressed else 0.86)
    grad = Image.new("RGBA", img.size, (0, 0, 0, 0))
    vertical_gradient(grad, top, bottom)
    mask = Image.new("L", img.size, 0)
    ImageDraw.Draw(mask).rounded_rectangle(box(0, 0, w, h), radius=s(radius), fill=255)
    img.paste(grad, (0, 0), mask)
    d.rounded_rectangle(box(0.5, 0.5, w - 0.5, h - 0.5), radius=s(radius),
                        outline=(edge or shade(fill, 0.7)) + (255,), width=s(1))
    if not pressed:
        d.line([(s(radius), s(1.5)), (s(w - radius), s(1.5))], fill=shade(fill, 1.35) + (120,), width=s(1))
    return img, d


# --- glyphs, drawn into a square of side `size` centred at (cx, cy) --------

def glyph_camera(d, cx, cy, size, ink):
    w, h = size, size * 0.68
    d.rounded_rectangle([s(cx - w / 2), s(cy - h / 2 + 1), s(cx + w / 2), s(cy + h / 2 + 1)],
                        radius=s(2.5), fill=ink)
    d.rounded_rectangle([s(cx - w / 5), s(cy - h / 2 - 2), s(cx + w / 5), s(cy - h / 2 + 2)],
                        radius=s(1), fill=ink)
    r = h * 0.32
    d.ellipse([s(cx - r - 1.2), s(cy - r - 0.2), s(cx + r + 1.2), s(cy + r + 2.2)], fill=(0, 0, 0, 0))
    d.ellipse([s(cx - r), s(cy - r + 1), s(cx + r), s(cy + r + 1)], fill=ink)
    r2 = r * 0.45
    d.ellipse([s(cx - r2), s(cy - r2 + 1), s(cx + r2), s(cy + r2 + 1)], fill=(0, 0, 0, 0))


def glyph_record(d, cx, cy, size, ink, dot):
    r = size / 2
    d.ellipse([s(cx - r), s(cy - r), s(cx + r), s(cy + r)], outline=ink, width=s(1.6))
    r2 = r * 0.58
    d.ellipse([s(cx - r2), s(cy - r2), s(cx + r2), s(cy + r2)], fill=dot)


def glyph_gear(d, cx, cy, size, ink, hole):
    r_out, r_in = size / 2, size * 0.36
    pts = []
    teeth = 8
    for i in range(teeth * 4):
        a = 2 * math.pi * i / (teeth * 4)
        r = r_out if (i % 4) in (0, 1) else r_in
        pts.append((s(cx + r * math.cos(a)), s(cy + r * math.sin(a))))
    d.polygon(pts, fill=ink)
    d.ellipse([s(cx - r_in * 0.95), s(cy - r_in * 0.95), s(cx + r_in * 0.95), s(cy + r_in * 0.95)], fill=ink)
    rh = size * 0.16
    d.ellipse([s(cx - rh), s(cy - rh), s(cx + rh), s(cy + rh)], fill=hole)


def glyph_folder(d, cx, cy, size, ink, badge, badge_ink, kind):
    w, h = size, size * 0.74
    x0, y0 = cx - w / 2, cy - h / 2
    d.rounded_rectangle([s(x0), s(y0), s(x0 + w * 0.45), s(y0 + 4)], radius=s(1.2), fill=ink)
    d.rounded_rectangle([s(x0), s(y0 + 2), s(x0 + w), s(y0 + h)], radius=s(1.6), fill=ink)
    # The badge tells pictures from videos.
    bx, by = cx + w * 0.02, cy + h * 0.12
    if kind == "picture":
        d.polygon([(s(bx - 5), s(by + 4)), (s(bx - 1.5), s(by - 1)), (s(bx + 1), s(by + 2)),
                   (s(bx + 2.5), s(by + 0.5)), (s(bx + 5), s(by + 4))], fill=badge)
        d.ellipse([s(bx + 1.5), s(by - 4), s(bx + 4), s(by - 1.5)], fill=badge)
    else:
        d.rounded_rectangle([s(bx - 5), s(by - 3.2), s(bx + 2), s(by + 3.2)], radius=s(1), fill=badge)
        d.polygon([(s(bx + 2), s(by - 0.5)), (s(bx + 5.5), s(by - 3)), (s(bx + 5.5), s(by + 3)),
                   (s(bx + 2), s(by + 0.5))], fill=badge)


def glyph_minimize(d, cx, cy, size, ink):
    d.line([(s(cx - size / 2), s(cy + size / 4)), (s(cx + size / 2), s(cy + size / 4))], fill=ink, width=s(1.6))


def glyph_close(d, cx, cy, size, ink):
    r = size / 2
    d.line([(s(cx - r), s(cy - r)), (s(cx + r), s(cy + r))], fill=ink, width=s(1.6))
    d.line([(s(cx - r), s(cy + r)), (s(cx + r), s(cy - r))], fill=ink, width=s(1.6))


def glyph_info(d, cx, cy, size, ink):
    d.ellipse([s(cx - 0.9), s(cy - size / 2), s(cx + 0.9), s(cy - size / 2 + 1.8)], fill=ink)
    d.rounded_rectangle([s(cx - 0.85), s(cy - size / 2 + 3), s(cx + 0.85), s(cy + size / 2)], radius=s(0.4), fill=ink)


def glyph_about(d, cx, cy, size, ink):
    r = size / 2
    d.ellipse([s(cx - r), s(cy - r), s(cx + r), s(cy + r)], outline=ink, width=s(1.8))
    d.ellipse([s(cx - 1.4), s(cy - r * 0.55 - 1.4), s(cx + 1.4), s(cy - r * 0.55 + 1.4)], fill=ink)
    d.rounded_rectangle([s(cx - 1.2), s(cy - r * 0.2), s(cx + 1.2), s(cy + r * 0.6)], radius=s(0.6), fill=ink)


# --- the main window's buttons ---------------------------------------------

STATES = ("disabled", "normal", "over", "pressed")


def plate_colours(state, accent):
    if state == "disabled":
        return DISABLED_FILL, DISABLED_INK
    if state == "normal":
        return SLATE_LIGHT, TEXT
    if state == "over":
        return shade(SLATE_LIGHT, 1.25), (255, 255, 255)
    return accent, (255, 255, 255)


def bar_button(w, h, state, accent, draw_glyph):
    fill, ink = plate_colours(state, accent)
    img, d = rounded_button(w, h, fill, radius=7, edge=SLATE_EDGE if state != "pressed" else shade(accent, 0.7),
                            pressed=state == "pressed")
    draw_glyph(d, ink + (255,), fill + (255,), state)
    return finish(img, w, h)


def caption_button(state, draw_glyph, hot):
    """14 by 14: a small round button on the caption strip."""
    w = h = 14
    img, d = canvas(w, h)
    if state == "disabled":
        ink = DISABLED_INK
    elif state == "normal":
        ink = TEXT_DIM
    else:
        fill = hot if state == "over" else shade(hot, 0.8)
        d.ellipse(box(0, 0, w, h), fill=fill + (255,))
        ink = (255, 255, 255)
    draw_glyph(d, 7, 7, 7, ink + (255,))
    return finish(img, w, h)


def main_buttons(out):
    specs = {
        "Snapshot": (70, 38, BLUE, lambda d, ink, fill, st: glyph_camera(d, 35, 19, 20, ink)),
        "Video": (70, 38, RED, lambda d, ink, fill, st: glyph_record(
            d, 35, 19, 18, ink, ink if st in ("pressed", "disabled") else RED + (255,))),
        "SnapshotFolder": (38, 38, BLUE, lambda d, ink, fill, st: glyph_folder(
            d, 19, 19, 22, ink, fill, ink, "picture")),
        "VideoFolder": (38, 38, BLUE, lambda d, ink, fill, st: glyph_folder(
            d, 19, 19, 22, ink, fill, ink, "video")),
        # The Linux window's About, in the bar beside the folders.
        "About": (38, 38, BLUE, lambda d, ink, fill, st: glyph_about(d, 19, 19, 20, ink)),
    }
    for name, (w, h, accent, glyph) in specs.items():
        for st in STATES:
            save(bar_button(w, h, st, accent, glyph), out, "%sButton%s.png" % (name, st.capitalize()))
    # The settings button's three active pictures carry an "R" in their names.
    gear = lambda d, ink, fill, st: glyph_gear(d, 19, 19, 20, ink, fill)
    for st in STATES:
        suffix = "Disabled" if st == "disabled" else st.capitalize() + "R"
        save(bar_button(38, 38, st, BLUE, gear), out, "SettingsButton%s.png" % suffix)
    caption = {
        "AppMinimize": (glyph_minimize, SLATE_EDGE),
        "AppInfo": (glyph_info, BLUE),
        "AppClose": (glyph_close, RED),
    }
    for name, (glyph, hot) in caption.items():
        for st in STATES:
            save(caption_button(st, glyph, hot), out, "%sButton%s.png" % (name, st.capitalize()))


# --- strips, splash, boxes, icons -----------------------------------------

def font(path, px):
    return ImageFont.truetype(path, s(px))


def logo(d, cx, cy, r, ring, body):
    d.ellipse([s(cx - r), s(cy - r), s(cx + r), s(cy + r)], fill=ring)
    d.ellipse([s(cx - r * 0.62), s(cy - r * 0.62), s(cx + r * 0.62), s(cy + r * 0.62)], fill=body)
    d.ellipse([s(cx - r * 0.3), s(cy - r * 0.3), s(cx + r * 0.3), s(cy + r * 0.3)], fill=ring)


def caption_strip(out):
    w, h = 440, 60
    img, d = canvas(w, h)
    vertical_gradient(img, SLATE, SLATE_DARK)
    d = ImageDraw.Draw(img)
    logo(d, 30, 30, 14, BLUE + (255,), SLATE_DARK + (255,))
    d.text((s(54), s(15)), "Lumora ZuvIridar", font=font(FONT_BOLD, 17), fill=TEXT + (255,))
    d.text((s(55), s(37)), "for iPhone", font=font(FONT, 10), fill=TEXT_DIM + (255,))
    d.line([(0, s(h) - SCALE), (s(w), s(h) - SCALE)], fill=SLATE_EDGE + (255,), width=SCALE)
    save(finish(img, w, h), out, "CaptionBackground.png")


def bottom_bar(out):
    w, h = 440, 62
    img, d = canvas(w, h)
    vertical_gradient(img, SLATE, SLATE_DARK)
    d = ImageDraw.Draw(img)
    d.line([(0, 0), (s(w), 0)], fill=SLATE_EDGE + (255,), width=SCALE)
    # Faint separators between the groups of buttons (settings | capture | folders).
    for x in (99, 319):
        d.line([(s(x), s(14)), (s(x), s(48))], fill=SLATE_LIGHT + (255,), width=SCALE)
    save(finish(img, w, h), out, "BottomBarBack.png")


def splash(out):
    w, h = 440, 330
    img, d = canvas(w, h)
    vertical_gradient(img, (32, 36, 44), (18, 20, 25))
    d = ImageDraw.Draw(img)
    # A phone on a stand, its camera looking at the viewer, with waves
    # telling that it talks over the air.
    cx, top = 220, 58
    pw, ph = 92, 170
    d.rounded_rectangle([s(cx - pw / 2), s(top), s(cx + pw / 2), s(top + ph)], radius=s(16),
                        fill=SLATE_LIGHT + (255,), outline=SLATE_EDGE + (255,), width=s(2))
    d.rounded_rectangle([s(cx - pw / 2 + 7), s(top + 20), s(cx + pw / 2 - 7), s(top + ph - 22)], radius=s(4),
                        fill=(22, 25, 31, 255))
    logo(d, cx, top + ph / 2 - 1, 22, BLUE + (255,), (22, 25, 31, 255))
    d.ellipse([s(cx - 3), s(top + 8), s(cx + 3), s(top + 14)], fill=SLATE_DARK + (255,))
    d.rounded_rectangle([s(cx - 12), s(top + ph - 14), s(cx + 12), s(top + ph - 9)], radius=s(2),
                        fill=SLATE_EDGE + (255,))
    for i, r in enumerate((26, 40, 54)):
        alpha = 220 - i * 60
        for side in (-1, 1):
            x = cx + side * (pw / 2 + 8)
            start, end = (-40, 40) if side == 1 else (140, 220)
            d.arc([s(x - r), s(top + ph / 2 - r), s(x + r), s(top + ph / 2 + r)], start, end,
                  fill=BLUE_LIGHT + (alpha,), width=s(3))
    save(finish(img, w, h), out, "splash.png")


def info_back(out):
    w, h = 75, 21
    img, d = canvas(w, h)
    d.rounded_rectangle(box(0, 0, w, h), radius=s(5), fill=(12, 14, 18, 170),
                        outline=(255, 255, 255, 60), width=s(1))
    save(finish(img, w, h), out, "InfoBack.png")


def record_indicator(out):
    w = h = 9
    img, d = canvas(w, h)
    d.ellipse(box(0, 0, w, h), fill=RED + (255,))
    d.ellipse(box(2, 1.5, 5, 4.5), fill=RED_LIGHT + (255,))
    save(finish(img, w, h), out, "RecordIndicator.png")


def tray_icon(out, name, connected):
    w = h = 16
    img, d = canvas(w, h)
    ring = (GREEN if connected else GREY) + (255,)
    logo(d, 8, 8, 7.5, ring, SLATE_DARK + (255,))
    save(finish(img, w, h), out, name)


# --- dialogs --------------------------------------------------------------

def aux_caption(out):
    # Wide enough for the widest dialog; narrower dialogs draw its left part
    # and its right end.
    w, h = 600, 24
    img, d = canvas(w, h)
    vertical_gradient(img, SLATE, SLATE_DARK)
    d = ImageDraw.Draw(img)
    logo(d, 13, 12, 6.5, BLUE + (255,), SLATE_DARK + (255,))
    d.line([(0, s(h) - SCALE), (s(w), s(h) - SCALE)], fill=BLUE + (255,), width=SCALE)
    save(finish(img, w, h), out, "auxiliary_caption.png")


def aux_close(out):
    names = {"free": "normal", "over": "over", "pressed": "pressed"}
    for suffix, st in names.items():
        save(caption_button(st, glyph_close, RED), out, "top_closebutton_%s.png" % suffix)


def dialog_button(w, h, accent, state):
    if state == "free":
        img, d = rounded_button(w, h, accent, radius=6)
    elif state == "over":
        img, d = rounded_button(w, h, shade(accent, 1.18), radius=6)
    else:
        img, d = rounded_button(w, h, shade(accent, 0.85), radius=6, pressed=True)
    return finish(img, w, h)


def dialog_buttons(out):
    three = ("free", "over", "pressed")
    press = ("free", "over", "press")
    sets = [
        ("allowAlwaysButton_%s.png", 120, 36, GREEN, three),
        ("allowButton_%s.png", 109, 36, BLUE, three),
        ("denyButton_%s.png", 88, 36, RED, three),
        ("acl_deletebutton_%s.png", 120, 36, RED, three),
        ("settings_OkButton_%s.png", 120, 36, BLUE, press),
        ("settings_CancelButton_%s.png", 120, 36, GREY, press),
        ("settings_aclbttn_%s.png", 120, 36, GREY, three),
        ("about_HelpButton_%s.png", 120, 36, BLUE, press),
        ("about_SupportButton_%s.png", 120, 36, GREY, press),
    ]
    for pattern, w, h, accent, names in sets:
        for name, state in zip(names, three):
            save(dialog_button(w, h, accent, state), out, pattern % name)


# --- the shutter sound ----------------------------------------------------

def shutter_wave():
    """16-bit mono PCM at 22050 Hz, 140 ms: two decaying noise bursts, the
    shutter opening and closing. The same numbers as the program's built-in
    sound, so both play alike."""
    rate, ms = 22050, 140
    samples = rate * ms // 1000
    data = bytearray()
    noise = 0x2545F491
    for i in range(samples):
        noise = (noise * 1664525 + 1013904223) & 0xFFFFFFFF
        t = i / rate
        second = t - 0.06
        envelope = math.exp(-t * 90.0)
        if second >= 0:
            envelope += 0.8 * math.exp(-second * 110.0)
        value = ((noise >> 16) - 32768) * envelope * 0.6
        data += struct.pack("<H", int(value) & 0xFFFF)
    header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, rate, rate * 2, 2, 16)
    header += b"data" + struct.pack("<I", len(data))
    return header + bytes(data)


# The product's icon for the Linux desktop, in the hicolor sizes: the logo
# on a rounded slate tile, with a glint of the phone's camera.
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256, 512)
ICON_NAME = "com.quillonlabs.zuviridar_iphone.png"


def app_icon(size):
    unit = size / 64.0
    img, d = canvas(size, size)
    inset = 0 if size <= 24 else 3 * unit
    radius = (12 if size > 24 else 4) * unit
    tile = Image.new("RGBA", img.size, (0, 0, 0, 0))
    vertical_gradient(tile, SLATE_LIGHT, SLATE_DARK)
    mask = Image.new("L", img.size, 0)
    ImageDraw.Draw(mask).rounded_rectangle(box(inset, inset, size - inset, size - inset),
                                           radius=s(radius), fill=255)
    img.paste(tile, (0, 0), mask)
    d = ImageDraw.Draw(img)
    logo(d, size / 2, size / 2, size * (0.36 if size > 24 else 0.4), BLUE + (255,), SLATE_DARK + (255,))
    if size >= 32:
        r = size * 0.045
        d.ellipse([s(size * 0.81 - r), s(size * 0.19 - r), s(size * 0.81 + r), s(size * 0.19 + r)],
                  fill=BLUE_LIGHT + (255,))
    return finish(img, size, size)


def draw_icons(out):
    for size in ICON_SIZES:
        folder = os.path.join(out, "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        save(app_icon(size), folder, ICON_NAME)


def save(img, out, name):
    # Fixed encoder settings and no metadata keep the bytes reproducible.
    img.save(os.path.join(out, name), format="PNG", optimize=False, compress_level=9)


def draw_all(out):
    os.makedirs(out, exist_ok=True)
    main_buttons(out)
    caption_strip(out)
    bottom_bar(out)
    splash(out)
    info_back(out)
    record_indicator(out)
    tray_icon(out, "server_connected.png", True)
    tray_icon(out, "server_disconnected.png", False)
    aux_caption(out)
    aux_close(out)
    dialog_buttons(out)
    with open(os.path.join(out, "sound_camera_capture.wav"), "wb") as f:
        f.write(shutter_wave())


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    committed = os.path.join(here, "..", "resources", "artwork")
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=committed)
    parser.add_argument("--icons", default=os.path.join(here, "..", "resources", "linux", "icons", "hicolor"))
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    if not args.check:
        draw_all(args.out)
        draw_icons(args.icons)
        return 0
    with tempfile.TemporaryDirectory() as tmp:
        draw_all(tmp)
        names = sorted(os.listdir(tmp))
        _, mismatch, errors = filecmp.cmpfiles(tmp, committed, names, shallow=False)
        for name in mismatch + errors:
            print("differs or missing: " + name)
        return 1 if mismatch or errors else 0


if __name__ == "__main__":
    sys.exit(main())
