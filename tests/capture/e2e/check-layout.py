#!/usr/bin/env python3
"""Judges a window's layout at some display scaling by its pixels: every
control's text whole, no control's text under another control, no control
over another, everything inside the window.

check-layout.py DIR WINDOW
DIR holds what shoot_layout (e2e-lib.sh) took: WINDOW.txt (the driver's
controls, rectangles in screen pixels), WINDOW.png (the screen as laid out)
and, for each control that shows a text, WINDOW-HANDLE.png (the screen with
that control given room, alone in the window). A text is whole when the
control as laid out shows as many of its dark (text) pixels as it does with
room: a text cut short, or wrapped onto a line the control has no room for,
shows fewer. The dark pixels as laid out are also where the text lies: they
must touch no other text and no picture; controls that show no text must not
overlap at all.
Prints one line per control and exits 1 when anything fails.
"""
import os
import subprocess
import sys

folder, name = sys.argv[1], sys.argv[2]
failures = []


def fail(msg):
    print("FAIL: " + msg)
    failures.append(msg)


def screen(png):
    """(width, height, RGB bytes) of a screenshot (ImageMagick writes a binary PPM)."""
    ppm = subprocess.run(["convert", png, "-depth", "8", "ppm:-"], capture_output=True, check=True).stdout
    parts = ppm.split(maxsplit=4)
    return int(parts[1]), int(parts[2]), parts[4]


def dark(shot, box, others=(), limit=3 * 90):
    """The dark pixels (RGB sum under limit) inside box and outside others:
    their count and extent."""
    sw, sh, pixels = shot
    xs, ys = [], []
    for y in range(max(0, box[1]), min(sh, box[3])):
        row = y * sw * 3
        for x in range(max(0, box[0]), min(sw, box[2])):
            if any(r[0] <= x < r[2] and r[1] <= y < r[3] for r in others):
                continue
            o = row + x * 3
            if pixels[o] + pixels[o + 1] + pixels[o + 2] < limit:
                xs.append(x)
                ys.append(y)
    return len(xs), (min(xs), min(ys), max(xs) + 1, max(ys) + 1) if xs else None


def overlap(a, b):
    return min(a[2], b[2]) > max(a[0], b[0]) and min(a[3], b[3]) > max(a[1], b[1])


def inside(inner, outer):
    return inner[0] >= outer[0] and inner[1] >= outer[1] and inner[2] <= outer[2] and inner[3] <= outer[3]


window = None
controls = []
for line in open(os.path.join(folder, name + ".txt"), encoding="latin-1").read().splitlines():
    f = line.split("\t")
    if f[0] == "window":
        window = tuple(int(v) for v in f[1].split())
    elif len(f) >= 6:
        controls.append(dict(id=int(f[0]), cls=f[1].lower(), style=int(f[2]),
                             rect=tuple(int(v) for v in f[3].split()), handle=f[4], dpi=int(f[5]),
                             text=f[6] if len(f) > 6 else ""))
if window is None or not controls:
    print("FAIL: the driver listed no window or no controls")
    sys.exit(1)
laid_out = screen(os.path.join(folder, name + ".png"))

# Statics that are pictures (SS_ICON, SS_BITMAP) show no text; wide statics
# may reach over a neighbour, as long as their text does not.
for c in controls:
    c["picture"] = c["cls"] == "static" and (c["style"] & 0x1F) in (0x03, 0x0E)
    c["texty"] = c["cls"] in ("static", "button") and bool(c["text"].strip()) and not c["picture"]
for c in controls:
    label = "%s %d '%s'" % (c["cls"], c["id"], c["text"])
    if not inside(c["rect"], window):
        fail("%s at %s lies outside the window %s" % (label, c["rect"], window))
    for o in controls:
        if o is not c and not c["texty"] and not o["texty"] and overlap(c["rect"], o["rect"]) and \
                id(o) > id(c):
            fail("%s %s and %s %d %s overlap" % (label, c["rect"], o["cls"], o["id"], o["rect"]))
    if not c["texty"]:
        continue
    # A push button's edge is partly black, and longer with room: only what
    # lies inside it counts.
    edge = round(4 * c["dpi"] / 96) if c["cls"] == "button" and c["style"] & 0xF in (0, 1) else 0
    x0, y0, x1, y1 = c["rect"]
    # Other texts and pictures it reaches over are not its own; what else it
    # reaches over (a status bar's edge) only adds dark pixels.
    others = [o["rect"] for o in controls
              if o is not c and (o["texty"] or o["picture"]) and overlap(o["rect"], c["rect"])]
    # A disabled control (Pause while idle) writes its text in grey.
    limit = 3 * 200 if c["style"] & 0x08000000 else 3 * 90
    shown, extent = dark(laid_out, (x0 + edge, y0 + edge, x1 - edge, y1 - edge), others, limit)
    grown = os.path.join(folder, "%s-%s" % (name, c["handle"]))
    if not os.path.exists(grown + ".png"):
        fail("%s: no screenshot of it with room" % label)
        continue
    # With room and alone, all of its dark pixels show.
    gx0, gy0, gx1, gy1 = (int(v) for v in open(grown + ".txt").read().split())
    whole, _ = dark(screen(grown + ".png"), (gx0 + edge, gy0 + edge, gx1 - edge, gy1 - edge), (), limit)
    if whole == 0:
        fail("%s: no text to be seen even with room" % label)
    elif shown < whole * 0.97 - 2:
        fail("%s: %d of its %d text pixels show in its %d x %d pixels" % (
            label, shown, whole, c["rect"][2] - c["rect"][0], c["rect"][3] - c["rect"][1]))
    else:
        print("ok: %s shows whole: %d of %d text pixels, in %d x %d" % (
            label, shown, whole, c["rect"][2] - c["rect"][0], c["rect"][3] - c["rect"][1]))
    for o in controls:
        if o is not c and (o["texty"] or o["picture"]) and extent and overlap(extent, o["rect"]):
            fail("%s: its text %s lies under %s %d %s" % (label, extent, o["cls"], o["id"], o["rect"]))
if failures:
    sys.exit(1)
print("ok: %d controls at %d dpi, every text whole, nothing over anything else" % (len(controls), controls[0]["dpi"]))
