#!/usr/bin/env python3
"""Judges a movie of RecordingTarget.exe that Skelby recorded with pauses in
it, with ffprobe and ffmpeg as the oracles and the window's own clock, which
every frame shows (bench/wine/RecordingTarget.cpp), as the measure of when
each frame was copied.

check-pause.py MOVIE WIDTH HEIGHT INTERVAL_MS PAUSES PAUSED_MS UNSURE_MS
    [--active LOW HIGH] [--pause-within LOW HIGH] [--snapshot FILE]
PAUSES, PAUSED_MS, UNSURE_MS: what SkelbyDriver's watchpause saw: how many
pauses, their total as the status bar showed it, and how far that total may
be off (the time between the two looks around each edge, added up);
--active LOW HIGH: milliseconds of recording (paused time left out) that
the driver knows the recording to hold at least and at most;
--pause-within LOW HIGH: the one pause lasted at least LOW and at most HIGH
(as the driver's clicks bound it);
--snapshot FILE: a copy of the movie taken while paused: it must hold every
frame recorded before the pause.
The frame after a pause must last no longer than the interval plus the
lateness the other frames show. Prints one line per check; exits 1 on the
first failure.
"""
import json
import subprocess
import sys


def fail(msg):
    print("FAIL: " + msg)
    sys.exit(1)


def ok(msg):
    print("ok: " + msg)


args = sys.argv[1:]
movie, width, height, interval = args[0], int(args[1]), int(args[2]), int(args[3])
pauses, paused_ms, unsure = int(args[4]), int(args[5]), int(args[6])
options = args[7:]


def option(name, count):
    if name not in options:
        return None
    i = options.index(name)
    return options[i + 1:i + 1 + count]


def durations_of(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries", "packet=duration",
                          "-of", "json", path], capture_output=True, text=True, check=True).stdout
    return [int(p.get("duration", 0)) for p in json.loads(out)["packets"]]


def stamps_of(path, count):
    """The window's clock in each decoded frame (None for a torn copy)."""
    block, bits = width // 32, 24
    strip = 3 * block
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-vsync", "passthrough", "-vf",
                          "crop=%d:%d:0:0" % (width, strip), "-f", "rawvideo", "-pix_fmt", "gray", "-"],
                         capture_output=True, check=True).stdout
    size = width * strip
    if len(raw) // size != count:
        fail("%s: ffmpeg decodes %d frames, ffprobe lists %d" % (path, len(raw) // size, count))
    stamps = []
    for f in range(count):
        frame = raw[f * size:(f + 1) * size]

        def bit(i, row):
            return frame[(row * block + block // 2) * width + (4 + i) * block + block // 2] > 127
        value = [bit(i, 1) for i in range(bits)]
        if any(bit(i, 2) == value[i] for i in range(bits)):
            stamps.append(None)
        else:
            stamps.append(sum(1 << (bits - 1 - i) for i, b in enumerate(value) if b))
    return stamps


d = durations_of(movie)
n = len(d)
if n < 3:
    fail("only %d frames" % n)
stamps = stamps_of(movie, n)
ok("ffmpeg decodes all %d frames ffprobe lists" % n)
if None in stamps:
    fail("frame %d is a torn copy" % stamps.index(None))
for k in range(1, n):
    if stamps[k] < stamps[k - 1]:
        fail("frame %d shows the clock at %d ms, frame %d at %d: frames out of order" % (
            k, stamps[k], k - 1, stamps[k - 1]))
# A window that a busy machine kept from drawing for longer than a frame is
# copied twice with one stamp; a frame appended twice would also add its
# duration twice, which the sums below catch.
stale = sum(1 for k in range(1, n) if stamps[k] == stamps[k - 1])
ok("the frames are in order (%d of %d show the stamp of the one before: the window had not drawn again)" % (
    stale, n))
if min(d) < interval:
    fail("a frame lasts %d ms, less than the interval %d" % (min(d), interval))
ok("every frame lasts at least the interval")

# Between two frames the window's clock moved by gap; the movie gives the
# later frame d. Outside a pause the two agree up to the jitter of a copy;
# across a pause gap exceeds d by the pause.
gaps = [stamps[k + 1] - stamps[k] for k in range(n - 1)]
slack = [gaps[k] - d[k + 1] for k in range(n - 1)]
cuts = sorted(range(n - 1), key=lambda k: slack[k], reverse=True)[:pauses]
late = [d[k + 1] - interval for k in range(n - 1) if k not in cuts]
usual = max(late)
bound = interval + 2 * usual + 10
after = [d[k + 1] for k in cuts]
print("frames %d, durations min %d max %d sum %d ms; lateness outside pauses max %d ms; frames after a pause "
      "%s ms; pauses seen %d, %d ms in all (give or take %d ms)" % (
          n, min(d), max(d), sum(d), usual, after, pauses, paused_ms, unsure))
if max(after, default=0) > bound:
    fail("a frame after a pause lasts %d ms, more than the interval and twice the usual lateness (%d ms)" % (
        max(after), bound))
if pauses:
    ok("no frame after a pause lasts more than %d ms: no frozen stretch" % bound)

# The movie's time between two frames is the window's time between them less
# the time paused, within one interval and what the watcher's measure of the
# pauses may be off by. Time lost or gained at each pause (a frame lost, or
# doubled) adds up over the pauses. A stamp is the window's clock when it
# last drew, which a busy machine may delay: a frame whose stamp lags shows it
# in the slack to its neighbours, so the frames compared are, near each end,
# the ones whose neighbours agree best, and what disagreement is left is
# allowed for.
def lag(k):
    pairs = [abs(slack[j]) for j in (k - 1, k) if 0 <= j < n - 1 and j not in cuts]
    return max(pairs) if pairs else 10 ** 9


first = min(range(0, min(8, n)), key=lag)
last = min(range(max(0, n - 8), n), key=lag)
if cuts and not (first <= min(cuts) and max(cuts) + 1 <= last):
    fail("a pause lies within the first or last 8 frames; the recording around it is too short to judge")
expected = (stamps[last] - stamps[first]) - paused_ms
movie_time = sum(d[first + 1:last + 1])
allowed = interval + unsure + lag(first) + lag(last)
if abs(movie_time - expected) > allowed:
    fail("frames %d to %d last %d ms; the window's clock less the %d ms paused gives %d ms (off by %d, "
         "allowed %d)" % (first, last, movie_time, paused_ms, expected, movie_time - expected, allowed))
ok("durations add up to the recorded time: frames %d to %d last %d ms against %d ms (allowed %d)" % (
    first, last, movie_time, expected, allowed))

active = option("--active", 2)
if active:
    low, high = int(active[0]), int(active[1])
    if sum(d) > high + 50:
        fail("the movie lasts %d ms, more than the %d ms recorded" % (sum(d), high))
    if sum(d) < low - interval - 300:
        fail("the movie lasts %d ms, less than the %d ms known to be recorded" % (sum(d), low))
    ok("the movie lasts %d ms: the recording less its pause (%d to %d ms)" % (sum(d), low, high))
within = option("--pause-within", 2)
if within:
    low, high = int(within[0]), int(within[1])
    cut = slack[cuts[0]]
    if not low - 50 <= cut <= high + 50:
        fail("the movie skips %d ms at its pause, which lasted %d to %d ms" % (cut, low, high))
    ok("the movie skips %d ms at the pause, which lasted %d to %d ms" % (cut, low, high))
snapshot = option("--snapshot", 1)
if snapshot:
    before = cuts[0] + 1
    held = durations_of(snapshot[0])
    if len(held) != before:
        fail("while paused the file held %d frames, %d were recorded before the pause" % (len(held), before))
    kept = stamps_of(snapshot[0], len(held))
    if kept[:before] != stamps[:before]:
        fail("while paused the file's frames are not the ones recorded before the pause")
    ok("while paused the file plays all %d frames recorded before the pause" % before)
