#!/usr/bin/env python3
"""Judges a movie Skelby wrote, with ffprobe and ffmpeg as the oracles.

check-movie.py MOVIE WIDTH HEIGHT INTERVAL_MS WALL_MS [--held MS] [--no-pattern] [--arrow X Y]
    [--split X Y]... [--corner N] [--pointer X Y]
WALL_MS: a time the recording lies within (Grab pressed to Stop seen done);
--held MS: a time that lies within the recording (the status seen reading
"Grabbing!" to Stop pressed), however slow the driver was around it; without
it the durations must reach a share of WALL_MS;
--no-pattern: the movie is not of the pattern window, check the track only;
--arrow X Y: frames show the arrow cursor with its tip at (X, Y): dark
outline pixels just right of and below the tip, none a little left (only
some frames need to: the pointer may be elsewhere while Grab and Stop are
clicked).
--split X Y: the red block fills the frame from its top-left corner and is
X x Y pixels (to 2 pixels), the other blocks beyond it: at half the frame's
size the frame holds the whole client area and no more; given more than
once, any of them will do;
--corner N: the red block may start up to N pixels from the frame's corner
(1 unless given);
--pointer X Y: the pointer rested at (X, Y) over the red block: some frame
shows a cursor (pixels other than the block's red) whose extent holds that
point, whatever the cursor's shape.
Prints one line per check and exits 1 on the first failure.
"""
import json
import subprocess
import sys


def fail(msg):
    print("FAIL: " + msg)
    sys.exit(1)


def ok(msg):
    print("ok: " + msg)


movie, width, height, interval, wall = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
options = sys.argv[6:]
pattern = "--no-pattern" not in options
arrow = None
held = None
splits = [(int(options[i + 1]), int(options[i + 2])) for i, o in enumerate(options) if o == "--split"]
corner = int(options[options.index("--corner") + 1]) if "--corner" in options else 1
pointer = None
if "--pointer" in options:
    i = options.index("--pointer")
    pointer = (int(options[i + 1]), int(options[i + 2]))
if "--held" in options:
    held = int(options[options.index("--held") + 1])
if "--arrow" in options:
    i = options.index("--arrow")
    arrow = (int(options[i + 1]), int(options[i + 2]))

probe = json.loads(subprocess.run(
    ["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", movie],
    capture_output=True, text=True, check=True).stdout)
streams = probe["streams"]
if len(streams) != 1:
    fail("expected one stream, found %d" % len(streams))
s = streams[0]
if s["codec_type"] != "video" or s.get("codec_tag_string") != "rle ":
    fail("expected one 'rle ' video track, found %s '%s'" % (s["codec_type"], s.get("codec_tag_string")))
ok("one 'rle ' video track")
if (s["width"], s["height"]) != (width, height):
    fail("size %dx%d, expected %dx%d" % (s["width"], s["height"], width, height))
ok("size %dx%d" % (width, height))
if s["time_base"] != "1/1000":
    fail("time base %s, expected 1/1000" % s["time_base"])
ok("time base 1/1000")

packets = json.loads(subprocess.run(
    ["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries", "packet=pts,duration",
     "-of", "json", movie], capture_output=True, text=True, check=True).stdout)["packets"]
durations = [int(p["duration"]) for p in packets]
count = len(durations)
total = sum(durations)
print("frames %d, durations min %d max %d sum %d ms, wall %d ms, held %s" % (
    count, min(durations) if durations else 0, max(durations) if durations else 0, total, wall,
    "%d ms" % held if held is not None else "not given"))
if count < 2:
    fail("only %d frames" % count)
if min(durations) < interval:
    fail("a frame lasts %d ms, less than the interval %d" % (min(durations), interval))
ok("every frame lasts at least the interval")
# The movie cannot last longer than Grab to Stop, nor hold more frames than
# that time allows; the driver's own latency makes the wall a little long.
if total > wall + 50:
    fail("durations sum to %d ms, more than the %d ms recorded" % (total, wall))
# Each frame lasts from the one before (the first from Grab), so the sum runs
# from Grab to the last frame, which comes at most an interval and one turn
# of the loop before Stop.
if held is not None and total < held - interval - 300:
    fail("durations sum to %d ms, less than the %d ms known to be recorded" % (total, held))
if held is None and total < wall * 0.6 - 1000:
    fail("durations sum to %d ms, far below the %d ms recorded" % (total, wall))
if count > total // interval + 1:
    fail("%d frames cannot fit %d ms at one per %d ms" % (count, total, interval))
ok("frame count and durations fit the interval and the wall time")

# passthrough: one picture per sample. ffmpeg's default for rawvideo output is
# a constant rate, which repeats a frame that lasts two intervals (a missed
# tick on a slow machine) and so counts it twice.
raw = subprocess.run(["ffmpeg", "-v", "error", "-i", movie, "-vsync", "passthrough", "-f", "rawvideo",
                      "-pix_fmt", "rgb24", "-"], capture_output=True, check=True).stdout
frame_size = width * height * 3
frames = [raw[i:i + frame_size] for i in range(0, len(raw) - frame_size + 1, frame_size)]
if len(frames) != count:
    fail("decoded %d frames, ffprobe counted %d" % (len(frames), count))
ok("ffmpeg decodes all %d frames" % count)


def px(frame, x, y):
    o = (y * width + x) * 3
    return tuple(frame[o:o + 3])


def near(a, b):
    return all(abs(p - q) <= 8 for p, q in zip(a, b))


last = frames[-1]
if arrow:
    ax, ay = arrow

    def dark_in(frame, x0, y0):
        return sum(1 for y in range(y0, y0 + 8) for x in range(x0, x0 + 8) if sum(px(frame, x, y)) < 150)

    showing = [f for f in frames if dark_in(f, ax, ay) >= 3 and dark_in(f, ax - 20, ay) == 0]
    if not showing:
        fail("arrow: no frame has its tip at (%d, %d); the last has %d dark pixels there, %d beside" % (
            ax, ay, dark_in(last, ax, ay), dark_in(last, ax - 20, ay)))
    ok("the cursor is drawn where the pointer was (%d of %d frames show its tip)" % (len(showing), count))
if pointer:
    qx, qy = pointer

    def cursor_box(frame):
        """The extent of the pixels near the pointer that are not the red block's."""
        xs, ys = [], []
        for y in range(max(0, qy - 35), min(height, qy + 36)):
            for x in range(max(0, qx - 35), min(width, qx + 36)):
                if not near(px(frame, x, y), (255, 0, 0)):
                    xs.append(x)
                    ys.append(y)
        return (min(xs), min(ys), max(xs), max(ys), len(xs)) if len(xs) >= 20 else None

    boxes = [cursor_box(f) for f in frames]
    showing = [b for b in boxes if b and b[0] - 1 <= qx <= b[2] + 1 and b[1] - 1 <= qy <= b[3] + 1]
    if not showing:
        fail("pointer: no frame shows a cursor over (%d, %d); near it the last frame has %s" % (
            qx, qy, "cursor pixels from (%d, %d) to (%d, %d)" % boxes[-1][:4] if boxes[-1] else "nothing but red"))
    ok("the cursor is drawn where the pointer was, (%d, %d): %d of %d frames, from (%d, %d) to (%d, %d)" % (
        (qx, qy, len(showing), count) + showing[-1][:4]))
if not pattern:
    sys.exit(0)
if splits:
    # The red block runs from the frame's top-left corner to where the others
    # begin, read along a row and a column through it, away from the marker
    # and from any cursor; the other three lie beyond, to the frame's edges.
    row, column = height // 8 + 3, width // 8 + 3
    across = [px(last, x, row) for x in range(width)]
    down = [px(last, column, y) for y in range(height)]
    x0 = max((x + 1 for x in range(column) if not near(across[x], (255, 0, 0))), default=0)
    y0 = max((y + 1 for y in range(row) if not near(down[y], (255, 0, 0))), default=0)
    sx = next((x for x in range(column, width) if not near(across[x], (255, 0, 0))), width)
    sy = next((y for y in range(row, height) if not near(down[y], (255, 0, 0))), height)
    if x0 > corner or y0 > corner:
        fail("the red block starts at (%d, %d), not at the frame's corner" % (x0, y0))
    if not any(abs(sx - x0 - x) <= 2 and abs(sy - y0 - y) <= 2 for x, y in splits):
        fail("the red block is %d x %d, expected %s" % (
            sx - x0, sy - y0, " or ".join("%d x %d" % s for s in splits)))
    blocks = [((sx + 2, row), (0, 255, 0)), ((width - 3, row), (0, 255, 0)), ((column, sy + 2), (0, 0, 255)),
              ((column, height - 3), (0, 0, 255)), ((width - 3, height - 3), (255, 255, 0))]
else:
    blocks = [((width // 8, height // 8), (255, 0, 0)), ((width * 7 // 8, height // 8), (0, 255, 0)),
              ((width // 8, height * 7 // 8), (0, 0, 255)), ((width * 7 // 8, height * 7 // 8), (255, 255, 0))]
for (x, y), colour in blocks:
    if not near(px(last, x, y), colour):
        fail("pixel (%d, %d) is %s, expected %s" % (x, y, px(last, x, y), colour))
ok("the four blocks are where they belong" + (", meeting at (%d, %d)" % (sx, sy) if splits else ""))
# The marker sits where the blocks meet.
mx, my = (sx, sy) if splits else (width // 2, height // 2)
marks = {px(f, min(mx, width - 1), min(my, height - 1)) for f in frames}
if not any(near(m, (0, 0, 0)) for m in marks) or not any(near(m, (255, 255, 255)) for m in marks):
    fail("the marker did not change across frames: %s" % marks)
ok("the marker changes from frame to frame")
