#!/usr/bin/env python3
"""Judges a window's layout at some display scaling: every control's text
whole, no control's text or box over another's, everything inside the
window, and the screenshot showing each text where and as large as measured.

check-layout.py CONTROLS SCREEN.png
CONTROLS: what `SkelbyDriver.exe controls main|settings` printed (its
rectangles are screen pixels, as is the screenshot of the whole screen).
A control's text is measured by the driver in a copy of the control's own
font; the box it fills is where Windows draws it: statics from the left and
wrapped to their width, push buttons centred, check boxes after their box.
Prints one line per control and exits 1 when anything fails.
"""
import subprocess
import sys

controls_file, screen_png = sys.argv[1], sys.argv[2]
failures = []


def fail(msg):
    print("FAIL: " + msg)
    failures.append(msg)


window = None
controls = []
for line in open(controls_file, encoding="latin-1").read().splitlines():
    f = line.split("\t")
    if f[0] == "window":
        window = tuple(int(v) for v in f[1].split())
        continue
    if len(f) < 8:
        continue
    x0, y0, x1, y1 = (int(v) for v in f[3].split())
    lw, lh = (int(v) for v in f[4].split())
    ww, wh = (int(v) for v in f[5].split())
    controls.append(dict(id=int(f[0]), cls=f[1].lower(), style=int(f[2]), rect=(x0, y0, x1, y1),
                         line=(lw, lh), wrapped=(ww, wh), dpi=int(f[6]), text=f[7] if len(f) > 7 else ""))
if window is None or not controls:
    print("FAIL: the driver listed no window or no controls")
    sys.exit(1)

# The screen, as RGB bytes (ImageMagick writes a binary PPM).
ppm = subprocess.run(["convert", screen_png, "-depth", "8", "ppm:-"], capture_output=True, check=True).stdout
parts = ppm.split(maxsplit=4)
sw, sh, pixels = int(parts[1]), int(parts[2]), parts[4]


def dark_box(x0, y0, x1, y1, others):
    """The extent of the text-dark pixels inside a rectangle, outside others, or None."""
    xs, ys = [], []
    for y in range(max(0, y0), min(sh, y1)):
        row = y * sw * 3
        for x in range(max(0, x0), min(sw, x1)):
            o = row + x * 3
            if any(r[0] <= x < r[2] and r[1] <= y < r[3] for r in others):
                continue
            if pixels[o] + pixels[o + 1] + pixels[o + 2] < 3 * 90:
                xs.append(x)
                ys.append(y)
    return (min(xs), min(ys), max(xs) + 1, max(ys) + 1) if xs else None


def inside(inner, outer, slack=0):
    return (inner[0] >= outer[0] - slack and inner[1] >= outer[1] - slack and inner[2] <= outer[2] + slack
            and inner[3] <= outer[3] + slack)


def overlap(a, b):
    return min(a[2], b[2]) > max(a[0], b[0]) and min(a[3], b[3]) > max(a[1], b[1])


boxes = []  # (control, box its text or body fills)
for c in controls:
    x0, y0, x1, y1 = c["rect"]
    w, h = x1 - x0, y1 - y0
    lw, lh = c["line"]
    ww, wh = c["wrapped"]
    scale = c["dpi"] / 96
    name = "%s %d '%s'" % (c["cls"], c["id"], c["text"])
    kind = c["style"] & 0xF
    text_box = None
    if c["cls"] == "static" and c["text"] and not (c["style"] & 0x1F) in (0x0E, 0x03):  # not a picture
        needed = (ww, wh)
        text_box = (x0, y0, x0 + ww, y0 + wh)
    elif c["cls"] == "button" and kind in (0, 1):  # push buttons: the text centred inside a 3D edge
        needed = (lw + int(6 * scale), lh + int(4 * scale))
        text_box = (x0 + (w - lw) // 2, y0 + (h - lh) // 2, x0 + (w + lw) // 2, y0 + (h + lh) // 2)
    elif c["cls"] == "button" and kind in (2, 3, 4, 5, 6, 9):  # check boxes and radio buttons
        check = int(13 * scale) + int(3 * scale)
        needed = (check + lw, lh)
        text_box = (x0, y0 + (h - lh) // 2, x0 + check + lw, y0 + (h + lh) // 2)
    elif c["cls"] == "msctls_statusbar32":
        needed = (lw + int(4 * scale), lh)
    elif c["cls"] in ("edit", "combobox"):
        needed = (0, lh)  # the font's height fits; the text scrolls
    else:
        needed = (0, 0)
    if needed[0] > w or needed[1] > h:
        fail("%s: its text needs %d x %d pixels, the control has %d x %d" % (name, needed[0], needed[1], w, h))
    if not inside(c["rect"], window):
        fail("%s at %s lies outside the window %s" % (name, c["rect"], window))
    if c["cls"] != "msctls_statusbar32":
        boxes.append((name, text_box or c["rect"]))
    # The screenshot: a text is drawn where it was measured to be and about as
    # wide (a smaller font, or one cut short, draws narrower).
    if text_box and c["cls"] == "static" and c["text"].strip():
        # Looked for around where it was measured to be, within the control,
        # and not in the controls a wide static reaches over.
        m = max(4, lh // 2)
        others = [o["rect"] for o in controls if o is not c and overlap(o["rect"], c["rect"])]
        drawn = dark_box(max(x0, text_box[0] - m), max(y0, text_box[1] - m), min(x1, text_box[2] + 3 * m),
                         min(y1, text_box[3] + m), others)
        if not drawn:
            fail("%s: no text to be seen in the screenshot" % name)
        elif not inside(drawn, text_box, 2) or drawn[2] - drawn[0] < 0.8 * min(ww, lw) - 4:
            fail("%s: the screenshot shows its text at %s, measured %s" % (name, drawn, text_box))
        else:
            print("ok: %s shows whole: %d x %d pixels drawn, %d x %d measured, in %d x %d" % (
                name, drawn[2] - drawn[0], drawn[3] - drawn[1], ww, wh, w, h))
    elif text_box:
        print("ok: %s: its text needs %d x %d, has %d x %d" % (name, needed[0], needed[1], w, h))

for i, (a, box_a) in enumerate(boxes):
    for b, box_b in boxes[i + 1:]:
        if overlap(box_a, box_b):
            fail("%s %s and %s %s overlap" % (a, box_a, b, box_b))
if failures:
    sys.exit(1)
print("ok: %d controls at %d dpi, every text whole, nothing over anything else" % (len(controls), controls[0]["dpi"]))
