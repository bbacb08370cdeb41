#!/usr/bin/python3
# When a beat is seen against when its click is heard, on a real X display
# and a real sound server.
#
#   light_to_sound.py measure WINDOW SECONDS SOURCE   (SOURCE: a sink's monitor)
#   light_to_sound.py selftest [OFFSET_MS]
#
# measure: reads the beat markers' centre pixels of the window from the X
# server in a tight loop, each read stamped with the monotonic clock, while
# parecord records SOURCE in 5 ms chunks, each stamped on arrival. A chunk
# arrives some time after its last frame was played, never before, so the
# time a frame was played is the lower envelope of the arrivals: per half
# second, the earliest arrival less the frames after it, and a straight line
# through those (the sink's clock runs apart from the monotonic one). Clicks
# are where the recording first gets four times louder; each newly lit marker is
# paired with the nearest click within 250 ms. Prints the offsets, light
# minus sound in ms (positive: the light comes after the click). Then it
# presses Stop (Space on the focused button; STOP_BEFORE_LIGHT_MS before the
# next light is due) and counts the clicks that start after that.
#
# selftest: the same analysis on made-up stamps with a known offset, arrival
# delays of 0 to 4 ms and a sink 300 ppm fast: what it recovers is the
# method's arithmetic floor. The pixel loop's period and the spread of the
# audio arrivals above their envelope, printed by measure, are its capture
# floor. Needs python3-xlib and pulseaudio-utils.
import os
import random
import statistics
import struct
import subprocess
import sys
import threading
import time

RATE = 44100
# The markers' centres, window coordinates at 96 dpi (form1_layout.cpp:
# Frame4 at 120/1860 twips, marker k at 240 + 420 (k - 1), 360, 360 across).
CENTRES = [(36 + 28 * k, 160) for k in range(6)]


def now_ms():
    return time.monotonic_ns() / 1e6


def envelope(arrivals):
    """arrivals: (time ms, frames so far). Returns frame -> time ms."""
    blocks = {}
    for t, frames in arrivals:
        base = t - frames * 1000.0 / RATE
        key = int(t // 500)
        blocks[key] = min(blocks.get(key, base), base)
    firsts = {}
    for t, frames in arrivals:
        firsts.setdefault(int(t // 500), t)
    points = [(firsts[k], blocks[k]) for k in sorted(blocks)][1:]  # the first block is still starting
    n = len(points)
    mean_t = sum(p[0] for p in points) / n
    mean_b = sum(p[1] for p in points) / n
    var = sum((p[0] - mean_t) ** 2 for p in points)
    slope = sum((p[0] - mean_t) * (p[1] - mean_b) for p in points) / var if var else 0.0
    # base(t) = mean_b + slope (t - mean_t); a frame f plays at t = base(t) + f / rate.
    def frame_time(f):
        t = f * 1000.0 / RATE + mean_b
        for _ in range(3):
            t = mean_b + slope * (t - mean_t) + f * 1000.0 / RATE
        return t
    return frame_time


def onsets(samples, threshold=800, gap_frames=RATE * 20 // 1000, before_ms=10):
    """A click starts where the recording gets loud, at least four times as loud
    as anything 1 to 10 ms before: at fast tempos a click cuts the tail of
    the one before it (the accent's noise is still above the threshold 100 ms
    on), so there is no quiet before it. 20 ms after an onset, the next."""
    block = RATE // 1000
    magnitudes = [abs(s) for s in samples]
    block_max = [max(magnitudes[b:b + block]) for b in range(0, len(magnitudes), block)]
    found, last = [], -gap_frames
    for i, m in enumerate(magnitudes):
        if m < threshold or i - last < gap_frames:
            continue
        b = i // block  # the level 1 to 10 ms before: not the click's own rise
        if 4 * max(block_max[max(0, b - before_ms):max(0, b - 1)], default=0) <= m:
            found.append(i)
            last = i
    return found


def lights(reads):
    """reads: (time ms, lit marker or None). The times a new marker lit."""
    changes, last = [], None
    for t, lit in reads:
        if lit is not None and lit != last:
            changes.append(t)
        last = lit
    return changes


def pair(light_times, sound_times):
    offsets = []
    for lt in light_times:
        nearest = min(sound_times, key=lambda st: abs(st - lt), default=None)
        if nearest is not None and abs(nearest - lt) <= 250:
            offsets.append(lt - nearest)
    return offsets


def report(offsets, what):
    if len(offsets) < 3:
        print(f"{what}: only {len(offsets)} pairs")
        return
    q = statistics.quantiles(offsets, n=10)
    print(f"{what}: {len(offsets)} beats, light minus sound median {statistics.median(offsets):.1f} ms"
          f" (p10 {q[0]:.1f}, p90 {q[-1]:.1f}, min {min(offsets):.1f}, max {max(offsets):.1f};"
          f" in order: {' '.join(f'{o:.0f}' for o in offsets)})")


def press_space(d):
    """Space on the focused button, through XTest; returns when it was pressed (ms)."""
    from Xlib import X
    from Xlib.ext import xtest
    code = d.keysym_to_keycode(0x20)
    pressed = now_ms()
    xtest.fake_input(d, X.KeyPress, code)
    xtest.fake_input(d, X.KeyRelease, code)
    d.sync()
    return pressed


def measure(window_id, seconds, source):
    from Xlib import X, display
    d = display.Display()
    window = d.create_resource_object("window", window_id)
    rec = subprocess.Popen(["parecord", "--raw", "--latency-msec=5", f"--device={source}",
                            "--format=s16le", f"--rate={RATE}", "--channels=1"],
                           stdout=subprocess.PIPE, bufsize=0)
    audio, arrivals, stop = bytearray(), [], threading.Event()

    def read_audio():
        fd = rec.stdout.fileno()
        while not stop.is_set():
            chunk = os.read(fd, 441 * 2)
            if not chunk:
                break
            t = now_ms()
            audio.extend(chunk)
            arrivals.append((t, len(audio) // 2))

    reader = threading.Thread(target=read_audio)
    reader.start()
    # START_PRESS: this measure presses Start itself (Space on the focused
    # button, through XTest), so the first click is timed from the press.
    start_pressed = None
    if os.environ.get("START_PRESS"):
        time.sleep(0.3)  # the recording under way
        start_pressed = press_space(d)
    reads, end = [], now_ms() + seconds * 1000
    x0, x1 = CENTRES[0][0], CENTRES[-1][0] + 1
    while now_ms() < end:
        row = window.get_image(x0, CENTRES[0][1], x1 - x0, 1, X.ZPixmap, 0xffffffff).data
        t = now_ms()
        lit = None
        for k, (x, _) in enumerate(CENTRES):
            blue, green, red = row[(x - x0) * 4:(x - x0) * 4 + 3]
            if red < 0xE0 and abs(red - green) < 8:  # light grey fill, not white, not the black outline
                lit = k
        reads.append((t, lit))
    # Stop, as a user presses it (the focus is on the button), and listen on:
    # a click that starts after the press belongs to a beat never shown.
    # STOP_BEFORE_LIGHT_MS: pressed that long before the next marker is due
    # to light (from the lights seen so far), through XTest, so the press
    # lands within a millisecond of its time.
    before = os.environ.get("STOP_BEFORE_LIGHT_MS")
    lit_times = lights(reads)
    if before and len(lit_times) >= 3:
        period = statistics.median(b - a for a, b in zip(lit_times, lit_times[1:]))
        due = lit_times[-1] + period
        while due - float(before) < now_ms() + 2:
            due += period
        time.sleep((due - float(before) - now_ms()) / 1000)
        stop_pressed = press_space(d)
        print(f"Stop pressed {due - stop_pressed:.1f} ms before the next light was due")
    else:
        stop_pressed = now_ms()
        subprocess.run(["xdotool", "key", "space"], check=True)
    time.sleep(1.0)
    rec.terminate()
    stop.set()
    reader.join()
    samples = struct.unpack(f"<{len(audio) // 2}h", bytes(audio[: len(audio) // 2 * 2]))
    frame_time = envelope(arrivals)
    sound_times = [frame_time(f) for f in onsets(samples)]
    periods = [b[0] - a[0] for a, b in zip(reads, reads[1:])]
    spread = sorted(t - frame_time(f) for t, f in arrivals[RATE // 441:])
    print(f"pixel reads every {statistics.median(periods):.2f} ms (p99 {statistics.quantiles(periods, n=100)[-1]:.2f}),"
          f" audio arrivals {statistics.median(spread):.2f} ms after the envelope (p90 {spread[len(spread) * 9 // 10]:.2f}),"
          f" {len(sound_times)} clicks, {len(lights(reads))} lights")
    report(pair(lights(reads), sound_times), "measured")
    if start_pressed is not None and sound_times:
        print(f"first click {sound_times[0] - start_pressed:.1f} ms after the Start key")
    if os.environ.get("SAVE_WAV"):  # the recording, as 16-bit stereo for bench_click_onsets
        import wave
        with wave.open(os.environ["SAVE_WAV"], "wb") as w:
            w.setnchannels(2)
            w.setsampwidth(2)
            w.setframerate(RATE)
            w.writeframes(b"".join(struct.pack("<hh", v, v) for v in samples))
    after = [st - stop_pressed for st in sound_times if st > stop_pressed]
    print(f"clicks starting after the Stop key was sent: {len(after)}"
          + (f" ({', '.join(f'{a:.0f}' for a in after)} ms after it)" if after else ""))


def selftest(offset_ms):
    random.seed(7)
    rate_real = RATE * 1.0003
    start, seconds, period = 1000.0, 20, 500.0
    frames_total = int(seconds * rate_real)
    arrivals, f = [], 220
    while f < frames_total:
        played = start + f * 1000.0 / rate_real
        arrivals.append((played + random.uniform(0, 4), f))
        f += 220
    samples = [0] * frames_total
    click_frames = [int(RATE * 0.3) + int(k * period / 1000 * rate_real) for k in range(int(seconds * 2) - 1)]
    for cf in click_frames:
        for i in range(200):
            samples[cf + i] = 12000
    reads, t = [], start
    while t < start + seconds * 1000:
        lit = None
        for k, cf in enumerate(click_frames):
            if t >= start + cf * 1000.0 / rate_real + offset_ms:
                lit = k % 4
        reads.append((t, lit))
        t += random.uniform(0.2, 0.6)
    frame_time = envelope(arrivals)
    sound_times = [frame_time(fr) for fr in onsets(samples)]
    report(pair(lights(reads), sound_times), f"selftest, true offset {offset_ms} ms")


if __name__ == "__main__":
    if sys.argv[1:2] == ["selftest"]:
        selftest(float(sys.argv[2]) if len(sys.argv) > 2 else 12.5)
    elif sys.argv[1:2] == ["measure"] and len(sys.argv) == 5:
        measure(int(sys.argv[2], 0), float(sys.argv[3]), sys.argv[4])
    else:
        sys.exit(__doc__ if __doc__ else "usage: light_to_sound.py measure WINDOW SECONDS SOURCE | selftest [OFFSET_MS]")
