#!/usr/bin/env python3
"""Per event of desktop_events.sh: each click train's error against its own
grid around the event, its largest gap, and clicks extra or missing.

  desktop_events.py <name> <session start, date +%s.%N> <sink rate> <label>

Reads <name>.brisquet and <name>.reference (onsets: "frame kind match",
frames of the 44.1 kHz recording), <name>.events ("time event") and the

recording starts 1.5 s before the session (desktop_events.sh).
A train's grid around an event: the least-squares lines through its clicks
of the 2.5 s before the event and of the 2.9 s from it, against the beat
number (the period's rounding gives the number, so missing beats keep
their place); the step is how far the second is from the first. A grid
that follows a drifting device clock changes its interval slowly and takes
no step. All in samples at 44.1 kHz (the recording's)."""
import sys
import wave

import numpy

RATE = 44100
PERIOD = 0.5 * RATE
BEFORE, AFTER = 2.5 * RATE, 2.9 * RATE


def read_recording(path):
    """The left and right channels of a 16-bit stereo WAVE, as floats."""
    with wave.open(path) as w:
        data = numpy.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(float) / 32768
    return data[0::2], data[1::2]


def onsets(x):
    """Where each click of x starts, to the sample. Found where x gets loud
    after 40 ms of quiet, then placed by cross-correlation with the train's
    own first two sounds (an accent and a click: every bar has both), each
    within 40 samples of where it got loud: a server that resamples or
    drops cycles changes neither sound's shape, so every click of one kind
    is placed the same way against its own start."""
    loud = numpy.flatnonzero(numpy.abs(x) > 0.25 * numpy.max(numpy.abs(x)))
    if loud.size == 0:
        return []
    starts = loud[numpy.concatenate(([True], numpy.diff(loud) > 0.04 * RATE))]
    length, reach = 400, 40
    starts = [s for s in starts if reach <= s < len(x) - length - reach]
    # What another train leaves on the channel (the reference's channel is
    # the left less the right) is quieter than a click of its own.
    peaks = [numpy.max(numpy.abs(x[s:s + length])) for s in starts]
    starts = [s for s, p in zip(starts, peaks) if p > 0.5 * numpy.median(peaks)]
    if len(starts) < 2:
        return []
    # One of each sound: the first click, and the first that does not look like it.
    first = x[starts[0] - 8:starts[0] - 8 + length]
    def likeness(s):
        window = x[s - 8 - reach:s - 8 + length + reach]
        return numpy.max(numpy.correlate(window, first, "valid")) / numpy.linalg.norm(first) / numpy.linalg.norm(
            x[s - 8:s - 8 + length])
    other = next((s for s in starts[1:9] if likeness(s) < 0.9), starts[1])
    templates = [first, x[other - 8:other - 8 + length]]
    found = []
    for s in starts:
        best = (-2.0, s)
        for t in templates:
            window = x[s - 8 - reach:s - 8 + length + reach]
            c = numpy.correlate(window, t, "valid") / (numpy.linalg.norm(t) ** 2)
            k = int(numpy.argmax(c))
            if c[k] > best[0]:
                best = (c[k], s - reach + k)
        found.append(best[1])
    # The two templates need not start at the same point of their sounds:
    # the accents (one a bar) move by how far, between two clicks, they sit
    # off the middle (where nothing dropped a cycle).
    kinds = [0 if numpy.dot(x[f - 8:f - 8 + length], templates[0]) >=
             numpy.dot(x[f - 8:f - 8 + length], templates[1]) else 1 for f in found]
    found = numpy.array(found, dtype=float)
    for kind in (0, 1):
        off = [found[i] - (found[i - 1] + found[i + 1]) / 2 for i in range(1, len(found) - 1)
               if kinds[i] == kind and kinds[i - 1] == kinds[i + 1] == 1 - kind
               and abs(found[i + 1] - found[i - 1] - 2 * PERIOD) < 40]
        if off:
            found[numpy.array(kinds) == kind] -= numpy.median(off)
    return [float(f) for f in found]


def on_period(found):
    """The clicks of a train that keeps its period, without what another
    train leaves between them (Brisquet's accent is not the same on both
    channels, so the left less the right holds some of it): from the first
    click a period before the next, each click at least 0.8 period after
    the one kept before it."""
    first = next((i for i in range(len(found) - 1) if abs(found[i + 1] - found[i] - PERIOD) < 0.01 * PERIOD), None)
    if first is None:
        return []
    kept = [found[first]]
    for f in found[first + 1:]:
        if f - kept[-1] >= 0.8 * PERIOD:
            kept.append(f)
    return kept


def line_through(points):
    n = len(points)
    sk = sum(k for k, _ in points); sf = sum(f for _, f in points)
    skk = sum(k * k for k, _ in points); skf = sum(k * f for k, f in points)
    slope = (n * skf - sk * sf) / (n * skk - sk * sk)
    return slope, (sf - slope * sk) / n


def around(clicks, at, held=0.0):
    """Around `at`: the step of the grid (the line through the clicks of the
    AFTER after it, less the line through those of the BEFORE before it, at
    the first beat after it), the worst interval error (against the median
    interval of the clicks before), the largest gap (ms), clicks extra
    (more than a quarter period off the line before, or a second on one
    beat) and missing (beats of the line before with no click, less those
    those of a stall: the beats due while Brisquet was held up are not
    played). A stall's `at` is when Brisquet runs again, `held` how long it
    was held up (frames): its line before is that of the clicks before the stall."""
    before = [f for f in clicks if at - held - BEFORE <= f < at - held]
    after = [f for f in clicks if at <= f < at + AFTER]
    if len(before) < 3 or len(after) < 3:
        return None
    intervals = sorted(b - a for a, b in zip(before, before[1:]))
    period = intervals[len(intervals) // 2]
    number = lambda f: round((f - before[0]) / period)
    slope, intercept = line_through([(number(f), f) for f in before])
    k_after = [round((f - intercept) / slope) for f in after]
    extra, beats = 0, set()
    for f, k in zip(after, k_after):
        if abs(f - (intercept + slope * k)) > period / 4 or k in beats:
            extra += 1
        beats.add(k)
    # The grid after: its own line, at the first beat after the event.
    later = [(k, f) for f, k in zip(after, k_after) if abs(f - (intercept + slope * k)) <= period / 4]
    step = 0.0
    if len(later) >= 3:
        slope2, intercept2 = line_through(later)
        k = later[0][0]
        step = (intercept2 + slope2 * k) - (intercept + slope * k)
    span = [f for f in clicks if before[-1] <= f < at + AFTER]
    if held:
        # The beats due while held up are not played, so not missing.
        beats |= set(range(number(before[-1]) + 1, round((at - intercept) / slope) + 1))
    worst = max((b - a - period * round((b - a) / period) for a, b in zip(span, span[1:])), key=abs, default=0)
    gap = max((b - a for a, b in zip(span, span[1:])), default=0)
    first_k = number(before[-1]) + 1
    missing = max(0, (max(k_after) - first_k + 1) - len(beats))
    return step, worst, gap / RATE * 1000, extra, missing


def against_reference(brisquet, reference, at, held):
    """How far Brisquet's clicks moved against the reference train across the
    event. Each click's distance from the reference click before it (a
    recorder that drops a cycle moves both trains alike) is taken against a
    line through those of the BEFORE before the event (Brisquet keeps time
    with the monotonic clock, the reference with the sink's, so the distance
    drifts): the step is the median of those of the AFTER after it, the
    worst the largest. A click whose reference click before it came off the
    reference's own period is left out: the recorder dropped a cycle there."""
    def distances(lo, hi):
        out = []
        for b in brisquet:
            if not lo <= b < hi:
                continue
            j = numpy.searchsorted(reference, b) - 1
            if j < 1 or abs(reference[j] - reference[j - 1] - PERIOD) > 2:
                continue
            out.append((b, b - reference[j]))
        return out
    before, after = distances(at - held - BEFORE, at - held), distances(at, at + AFTER)
    if len(before) < 3 or len(after) < 2:
        return None
    slope, intercept = line_through(before)
    off = [d - (intercept + slope * b) for b, d in after]
    return float(numpy.median(off)), max(off, key=abs)


def reports(path):
    """(wall-clock offset, [(time, heard-in ms, re-anchors, dropped)]) or None."""
    try:
        lines = open(path).read().split("\n")
    except OSError:
        return None
    head = lines[0].split()
    offset = float(head[2]) - float(head[4])  # wall less monotonic
    rows = []
    for line in lines[1:]:
        f = line.split()
        if len(f) == 6:
            rows.append((float(f[0]) + offset, float(f[2]), int(f[3]), int(f[4])))
    return rows


def report_row(rows, at):
    if not rows:
        return ""
    def median(values):
        values = sorted(values)
        return values[len(values) // 2] if values else float("nan")
    before = median([h for t, h, _, _ in rows if at - 1 <= t < at and h >= 0])
    after = median([h for t, h, _, _ in rows if at + 0.5 <= t < at + 2.5 and h >= 0])
    span = [(t, h) for t, h, _, _ in rows if at - 0.2 <= t < at + 2.9 and h >= 0]
    low, high = (min(h for _, h in span), max(h for _, h in span)) if span else (0, 0)
    counts = [(r, d) for t, _, r, d in rows if at <= t < at + 2.9]
    first = [(r, d) for t, _, r, d in rows if t < at][-1:] or [(0, 0)]
    last = counts[-1] if counts else first[0]
    return (f" {before:.1f} -> {after:.1f} ({low:.1f}..{high:.1f}) | "
            f"{last[0] - first[0][0]} | {last[1] - first[0][1]} |")


def main():
    name, start, sink_rate, label = sys.argv[1], float(sys.argv[2]), sys.argv[3], sys.argv[4]
    left, right = read_recording(name + ".wav")
    brisquet, reference = onsets(right), on_period(onsets(left - right))
    # The recording started 0.5 s before the session's start was taken.
    recording_start = start - 0.5
    print(f"{label}: {len(brisquet)} clicks, reference {len(reference)}")
    rows = reports(name + ".reports")
    print("| event | Brisquet: grid step | worst interval error (samples) | largest gap (ms) | extra | missing "
          "| reference: grid step | worst interval error | against the reference: step | worst |"
          + (" heard in (ms), before -> after (range) | re-anchors | dropped |" if rows else ""))
    with open(name + ".events") as f:
        for line in f:
            time, event = line.split()
            at = (float(time) - recording_start) * RATE
            held = float(event[5:]) * RATE if event.startswith("stall") else 0.0
            b, r = around(brisquet, at, held), around(reference, at, held)
            fmt = lambda x: "- | - | - | - | -" if x is None else f"{x[0]:+.1f} | {x[1]:+.1f} | {x[2]:.1f} | {x[3]} | {x[4]}"
            rf = "- | -" if r is None else f"{r[0]:+.1f} | {r[1]:+.1f}"
            a = against_reference(brisquet, numpy.array(reference), at, held)
            af = "- | -" if a is None else f"{a[0]:+.1f} | {a[1]:+.1f}"
            print(f"| {event} | {fmt(b)} | {rf} | {af} |" + report_row(rows, float(time)))


main()
