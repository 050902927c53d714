#!/usr/bin/env python3
"""Judges an H.264 movie of the pattern window, with ffprobe and libavcodec's
own H.264 decoder (not the encoder's library) as the oracles.

check-h264.py MOVIE WIDTH HEIGHT INTERVAL_MS PSNR_DB (--wall MS --held MS | --killed MS)
--wall/--held: a finished recording, as check-movie.py takes them: WALL_MS a
time the recording lies within, HELD_MS one that lies within it;
--killed MS: Skelby was killed that long after its status read "Grabbing!":
the movie plays up to at most 2 s before that, its last frame perhaps
without a duration of its own.

The pattern window has a client area of 640 x 480 recorded at half its size:
four blocks and a marker in the middle, black or white. Every decoded frame
must be within PSNR_DB of that picture (the marker taken as whichever of the
two it shows).
Prints one line per check and exits 1 on the first failure.
"""
import json
import math
import subprocess
import sys

KEY_FRAME_REACH_MS = 2000


def fail(msg):
    print("FAIL: " + msg)
    sys.exit(1)


def ok(msg):
    print("ok: " + msg)


def option(name):
    return int(sys.argv[sys.argv.index(name) + 1]) if name in sys.argv else None


movie, width, height, interval = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
floor = float(sys.argv[5])
wall, held, killed = option("--wall"), option("--held"), option("--killed")
if killed is None and (wall is None or held is None):
    fail("give --wall and --held, or --killed")


def run(args):
    done = subprocess.run(args, capture_output=True)
    if done.returncode != 0:
        fail("%s failed: %s" % (args[0], done.stderr.decode(errors="replace").strip()[-400:]))
    return done


streams = json.loads(run(["ffprobe", "-v", "error", "-show_streams", "-of", "json", movie]).stdout)["streams"]
if len(streams) != 1:
    fail("expected one stream, found %d" % len(streams))
s = streams[0]
if (s.get("codec_name"), s.get("codec_tag_string")) != ("h264", "avc1"):
    fail("expected an 'avc1' H.264 track, found %s '%s'" % (s.get("codec_name"), s.get("codec_tag_string")))
if (s["width"], s["height"], s["time_base"]) != (width, height, "1/1000"):
    fail("%dx%d at %s, expected %dx%d at 1/1000" % (s["width"], s["height"], s["time_base"], width, height))
ok("one 'avc1' H.264 track, %dx%d, time base 1/1000, profile %s" % (width, height, s.get("profile")))

packets = json.loads(run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                          "packet=pts,dts,duration,flags", "-of", "json", movie]).stdout)["packets"]
count = len(packets)
if count < 2:
    fail("only %d frames" % count)
pts = [int(p["pts"]) for p in packets]
durations = [int(p["duration"]) if str(p.get("duration", "")).isdigit() else None for p in packets]
keys = ["K" in p.get("flags", "") for p in packets]
# Without B-frames decode order is display order, and each frame starts
# where the one before ended: its time is the sum of the recorded durations.
if any(int(p["dts"]) != int(p["pts"]) for p in packets):
    fail("a frame is decoded out of display order")
start = 0
for i, (t, d) in enumerate(zip(pts, durations)):
    if t != start:
        fail("frame %d starts at %d ms, the durations before it sum to %d" % (i, t, start))
    if d is None and i != count - 1:
        fail("frame %d has no duration" % i)
    if d is not None and d < interval:
        fail("frame %d lasts %d ms, less than the interval %d" % (i, d, interval))
    start = t + (d or 0)
plays = start
ok("%d frames, each starting where the one before ended; durations %d to %d ms, %d ms in all" % (
    count, min(d for d in durations if d is not None), max(d for d in durations if d is not None), plays))
if killed is None:
    if plays > wall + 50:
        fail("durations sum to %d ms, more than the %d ms recorded" % (plays, wall))
    if plays < held - interval - 300:
        fail("durations sum to %d ms, less than the %d ms known to be recorded" % (plays, held))
    ok("the movie lasts as long as the recording (%d ms held, %d ms wall)" % (held, wall))
elif plays < killed - 2000:
    fail("killed after %d ms, the movie plays only %d ms" % (killed, plays))
else:
    ok("killed after %d ms, the movie plays %d ms" % (killed, plays))

# Key frames: the first, and no frame depends on a key frame that starts
# more than two seconds before it ends (a frame longer than that is a key
# frame itself); frames in between code only what changed.
if not keys[0]:
    fail("the first frame is not a key frame")
last_key, reach = 0, 0
for i in range(count):
    end = pts[i] + (durations[i] or 0)
    if keys[i]:
        last_key = pts[i]
    else:
        reach = max(reach, end - last_key)
if reach > KEY_FRAME_REACH_MS:
    fail("a frame ends %d ms after the key frame it depends on" % reach)
if all(keys):
    fail("every frame is a key frame: nothing is coded against the frame before")
gaps = [b - a for a, b in zip([p for p, k in zip(pts, keys) if k], [p for p, k in zip(pts, keys) if k][1:])]
ok("%d key frames, the first at 0, %s; non-key frames reach back at most %d ms" % (
    sum(keys), "%d to %d ms apart" % (min(gaps), max(gaps)) if gaps else "no second one", reach))

# libavcodec's own decoder, each frame once with its own time: the times the
# decoder gives the pictures are the frames' times.
decode = ["ffmpeg", "-nostdin", "-v", "error", "-c:v", "h264", "-i", movie, "-vsync", "passthrough"]
# -enc_time_base -1 keeps the movie's own time base (milliseconds) for them.
done = run(decode + ["-enc_time_base", "-1", "-f", "framemd5", "-"])
if done.stderr.strip():
    fail("the decoder complained: %s" % done.stderr.decode(errors="replace").strip()[-400:])
text = done.stdout.decode()
if "#tb 0: 1/1000\n" not in text:
    fail("the decoded pictures are not timed in milliseconds")
lines = [l.split(",") for l in text.splitlines() if l and not l.startswith("#")]
decoded_pts = [int(l[2]) for l in lines]
if decoded_pts != pts:
    fail("decoded %d pictures at %s..., the movie's frames are at %s..." % (
        len(decoded_pts), decoded_pts[:8], pts[:8]))
ok("libavcodec's h264 decoder gives all %d pictures, at the frames' times" % count)

raw = run(decode + ["-f", "rawvideo", "-pix_fmt", "rgb24", "-"]).stdout
frame_size = width * height * 3
if len(raw) != count * frame_size:
    fail("decoded %d bytes, expected %d frames of %d" % (len(raw), count, frame_size))


def pattern(marker):
    """The pattern window as recorded at WIDTH x HEIGHT, marker black or white."""
    w, h = width // 2, height // 2
    m = 40 * width // 640
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            if w - m <= x < w + m and h - m <= y < h + m:
                row += bytes(marker)
            elif y < h:
                row += bytes((255, 0, 0) if x < w else (0, 255, 0))
            else:
                row += bytes((0, 0, 255) if x < w else (255, 255, 0))
        rows.append(bytes(row))
    return b"".join(rows)


expected = {c: pattern(c) for c in ((0, 0, 0), (255, 255, 255))}
centre = ((height // 2) * width + width // 2) * 3
psnrs = []
markers = set()
for i in range(count):
    frame = raw[i * frame_size:(i + 1) * frame_size]
    marker = (255, 255, 255) if sum(frame[centre:centre + 3]) > 384 else (0, 0, 0)
    err = sum((a - b) * (a - b) for a, b in zip(frame, expected[marker]))
    psnrs.append(99.0 if err == 0 else 10 * math.log10(255 * 255 * len(frame) / err))
    markers.add(marker)
worst = min(range(count), key=lambda i: psnrs[i])
print("PSNR against the pattern: worst %.2f dB (frame %d), mean %.2f dB, floor %.1f dB" % (
    psnrs[worst], worst, sum(psnrs) / count, floor))
if psnrs[worst] < floor:
    fail("frame %d is %.2f dB from the pattern, below the floor of %.1f dB" % (worst, psnrs[worst], floor))
ok("every frame is within %.1f dB of the pattern" % floor)
# The window changed while it was recorded, and so did the frames.
if len(markers) != 2:
    fail("the marker is %s in every frame: the frames do not follow the window" % (markers.pop(),))
ok("the marker changes from frame to frame")
