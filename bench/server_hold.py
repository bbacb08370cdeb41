#!/usr/bin/python3
# The window against a sound server that is held up, for server_hold.sh: one
# Brisquet build, RUNS times each case, each case in a freshly started
# Brisquet, on the X display and sound server the script set up.
#
#   server_hold.py BRISQUET LABEL RUNS SOURCE PID...
#     BRISQUET: the program; LABEL: how its figures are headed; SOURCE: the
#     sink's monitor to record; PID...: the sound server's processes, held
#     with SIGSTOP and let go with SIGCONT. ONSETS (environment): the
#     bench_click_onsets program.
#
# The window's answer is read from the X server, not from the program: the
# markers' row (the circles' outlines and the lit fill) and the button's
# pixels, read with GetImage in a loop. The button's pixels are compared
# with the two captions as this build draws them, taken first with the
# server running (calibrate). Every case holds the server for 3 s from the
# press and waits 5 s at most for the answer.
#   start: Start pressed while the server is held (the first session of a
#          fresh Brisquet); then the first intervals the sink plays once
#          the server is let go (bench_click_onsets, first click kept)
#   stop:  a session ticking, the server held 250 ms after a light, Stop
#          pressed 100 ms later; then the session's clicks against its
#          lights, the clicks the sink plays once the server is let go, and
#          a next Start with the server running: its answer and first
#          intervals
#   close: the same, but the window closed as a window manager closes it
#          (WM_DELETE_WINDOW, openbox's close button or Alt+F4): when the
#          window is gone from the X server (unmapped or destroyed), and
#          when the process has exited
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import wave

import numpy as np
from Xlib import X, display, error

from light_to_sound import press_space  # Space on the focused button, through XTest
from Xlib.protocol import event

RATE = 44100
PERIOD_MS = 500  # 120 bpm
TEMPO = "120"
HOLD_MS = 3000   # the server is let go this long after the press
GIVE_UP_MS = 5000
# Window coordinates at 96 dpi (form1_layout.cpp): the markers' centres
# (Frame4 at 120/1860 twips, marker k at 240 + 420 (k - 1), 360, 360 across),
# the row through them from before the first to after the sixth (the beat
# number's label is further right), and the button (120, 2970, 7800, 405).
CENTRES = [36 + 28 * k for k in range(6)]
ROW_Y, ROW_X0, ROW_X1 = 160, 20, 200
BUTTON = (8, 198, 520, 27)


def now_ms():
    return time.monotonic_ns() / 1e6


class Window:
    def __init__(self, d, wid):
        self.d, self.w = d, d.create_resource_object("window", wid)

    def row(self):
        return self.w.get_image(ROW_X0, ROW_Y, ROW_X1 - ROW_X0, 1, X.ZPixmap, 0xffffffff).data

    def button(self):
        return self.w.get_image(*BUTTON, X.ZPixmap, 0xffffffff).data

    def viewable(self):
        """False once the window is unmapped or destroyed."""
        try:
            return self.w.get_attributes().map_state == X.IsViewable
        except error.XError:
            return False


def lit(row):
    """The lit marker, or None: its centre light grey, not white, not the outline."""
    for k, x in enumerate(CENTRES):
        blue, green, red = row[(x - ROW_X0) * 4:(x - ROW_X0) * 4 + 3]
        if red < 0xE0 and abs(red - green) < 8:
            return k
    return None


def send_close(d, win):
    """What a window manager sends when its close button is pressed."""
    protocols, delete = d.intern_atom("WM_PROTOCOLS"), d.intern_atom("WM_DELETE_WINDOW")
    message = event.ClientMessage(window=win.w, client_type=protocols, data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    sent = now_ms()
    win.w.send_event(message, event_mask=X.NoEventMask)
    d.sync()
    return sent


class Recorder:
    """The sink's monitor through parecord in 5 ms chunks, each stamped on arrival."""

    def __init__(self, source):
        self.rec = subprocess.Popen(["parecord", "--raw", "--latency-msec=5", f"--device={source}",
                                     "--format=s16le", f"--rate={RATE}", "--channels=1"],
                                    stdout=subprocess.PIPE, bufsize=0)
        self.audio, self.arrivals, self.lock = bytearray(), [], threading.Lock()
        self.reader = threading.Thread(target=self._read, daemon=True)  # a run that gives up must not wait on it
        self.reader.start()

    def _read(self):
        fd = self.rec.stdout.fileno()
        while True:
            chunk = os.read(fd, 441 * 2)
            if not chunk:
                break
            with self.lock:
                self.audio.extend(chunk)
                self.arrivals.append((now_ms(), len(self.audio) // 2))

    def frames(self):
        with self.lock:
            return len(self.audio) // 2

    def stop(self):
        self.rec.terminate()
        self.reader.join()
        self.rec.wait()
        n = len(self.audio) // 2
        return np.frombuffer(bytes(self.audio[:n * 2]), dtype="<i2")


def onsets(samples, threshold=800, quiet_frames=RATE * 40 // 1000):
    """Where the recording gets loud after 40 ms of quiet (as bench/onsets.py)."""
    loud = np.flatnonzero(np.abs(samples.astype(np.int32)) > threshold)
    if loud.size == 0:
        return []
    starts = [int(loud[0])] + [int(b) for a, b in zip(loud[:-1], loud[1:]) if b - a > quiet_frames]
    return starts


def intervals(samples, work):
    """The first intervals, in ms and in samples off the period, by
    bench_click_onsets, after the first clicks' kinds (A accent, c click:
    a session starts with its accent)."""
    path, errors = os.path.join(work, "part.wav"), os.path.join(work, "errors.txt")
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(np.repeat(samples, 2).astype("<i2").tobytes())
    if os.path.exists(errors):
        os.remove(errors)
    out = subprocess.run([os.environ["ONSETS"], path, str(PERIOD_MS), errors], capture_output=True, text=True,
                         env=dict(os.environ, KEEP_FIRST_CLICK="1")).stdout
    if not os.path.exists(errors):
        return "fewer than 3 clicks"
    pattern = next((line.split()[1] for line in out.splitlines() if line.startswith("pattern ")), "?")
    with open(errors) as f:
        off = [float(line) for line in f][:5]
    return f"{pattern[:6]}: " + " ".join(f"{(PERIOD_MS * RATE / 1000 + e) * 1000 / RATE:.1f} ({e:+.0f})" for e in off)


class Program:
    def __init__(self, path, work):
        self.log = open(os.path.join(work, "brisquet.log"), "ab")
        self.p = subprocess.Popen([path], stdout=self.log, stderr=self.log)
        wid = subprocess.run(["timeout", "20", "xdotool", "search", "--sync", "--onlyvisible", "--pid",
                              str(self.p.pid), "--name", "^Brisquet$"],
                             capture_output=True, text=True, check=True).stdout.split()[0]
        # The tempo typed over what the box holds, then the focus on the button.
        subprocess.run(["xdotool", "windowactivate", "--sync", wid, "key", "ctrl+a", "type", TEMPO], check=True)
        subprocess.run(["xdotool", "key", "Tab"], check=True)
        time.sleep(0.5)
        self.wid = int(wid)

    def end(self):
        if self.p.poll() is None:
            self.p.terminate()
            try:
                self.p.wait(5)
            except subprocess.TimeoutExpired:
                self.p.kill()
                self.p.wait()
        self.log.close()


class Server:
    def __init__(self, pids):
        self.pids, self.held = pids, False

    def hold(self):
        for pid in self.pids:
            os.kill(pid, signal.SIGSTOP)
        self.held = True
        return now_ms()

    def release(self):
        for pid in self.pids:
            os.kill(pid, signal.SIGCONT)
        self.held = False
        return now_ms()


def after(t0, t):
    if t is None:
        return f">{GIVE_UP_MS}"
    return f"{t - t0:.0f}"


polls = []  # when the window was read, for the reading's period


def watch(t0, checks, server, cutoff=GIVE_UP_MS):
    """Polls until every check has held once (and the server is let go
    HOLD_MS after t0), or cutoff. checks: name -> function of the time; returns
    name -> first time it held (None if never) and when the server was let go."""
    seen = {name: None for name in checks}
    released = None
    while True:
        t = now_ms()
        polls.append(t)
        if server.held and t >= t0 + HOLD_MS:
            released = server.release()
        for name, check in checks.items():
            if seen[name] is None and check(t):
                seen[name] = t
        if (not server.held and all(v is not None for v in seen.values())) or t >= t0 + cutoff:
            break
        time.sleep(0.002)
    if server.held:
        released = server.release()
    return seen, released


class Lights:
    """Counts the newly lit markers in the rows read."""

    def __init__(self):
        self.count, self.last, self.at = 0, None, None

    def see(self, row):
        current = lit(row)
        if current is not None and current != self.last:
            self.count, self.at = self.count + 1, now_ms()
        self.last = current
        return row


def wait_lights(win, count, past_ms, lights=None):
    """Waits for `count` newly lit markers, then until past_ms after the last."""
    lights = lights or Lights()
    end = now_ms() + 10000
    while lights.count < count and now_ms() < end:
        lights.see(win.row())
        time.sleep(0.002)
    if lights.at is None:
        raise SystemExit("no light within 10 s of the Start press")
    time.sleep(max(0.0, (lights.at + past_ms - now_ms()) / 1000))


class Bench:
    def __init__(self, path, pids, source, work):
        self.path, self.server, self.source, self.work = path, Server(pids), source, work
        self.d = display.Display()

    def program(self):
        return Program(self.path, self.work)

    def calibrate(self):
        """The button's two captions and the idle row as this build draws them."""
        prog = self.program()
        try:
            win = Window(self.d, prog.wid)
            self.idle_row, self.start_caption = win.row(), win.button()
            press_space(self.d)
            wait_lights(win, 2, 100)
            self.stop_caption = win.button()
            press_space(self.d)
            time.sleep(0.6)
            again = win.button() == self.start_caption and win.row() == self.idle_row
        finally:
            prog.end()
        if self.stop_caption == self.start_caption:
            raise SystemExit("calibration: the button looks the same ticking and idle")
        if not again:
            print("calibration: after Stop the window does not look as before Start;"
                  " the Stop figures compare with the nearest caption", flush=True)

    def caption(self, button):
        if button == self.stop_caption:
            return "stop"
        if button == self.start_caption:
            return "start"
        b = np.frombuffer(button, np.uint8)
        on = np.count_nonzero(b != np.frombuffer(self.stop_caption, np.uint8))
        off = np.count_nonzero(b != np.frombuffer(self.start_caption, np.uint8))
        return "stop" if on < off // 4 else "start" if off < on // 4 else "other"

    def case_start(self):
        prog = self.program()
        try:
            win = Window(self.d, prog.wid)
            idle = win.row()
            rec = Recorder(self.source)
            time.sleep(0.5)
            self.server.hold()
            time.sleep(0.2)
            t0 = press_space(self.d)
            seen, released = watch(t0, {
                "circles": lambda t: win.row() != idle,
                "caption": lambda t: self.caption(win.button()) == "stop",
                "light": lambda t: lit(win.row()) is not None,
            }, self.server)
            time.sleep(max(0.0, (released + 4000 - now_ms()) / 1000))
            press_space(self.d)
            time.sleep(0.3)
            samples = rec.stop()
            arrivals = rec.arrivals
        finally:
            prog.end()
        found = onsets(samples)
        first = None
        if found:
            first = next((t for t, f in arrivals if f > found[0]), None)
        return {"start: circles": after(t0, seen["circles"]),
                "start: Stop caption": after(t0, seen["caption"]),
                "start: first light": after(t0, seen["light"]),
                "start: first click reaches parecord, after SIGCONT": after(released, first) if first else "none",
                "start: first intervals, ms (samples off)": intervals(samples, self.work)}

    def case_stop(self):
        prog = self.program()
        try:
            win = Window(self.d, prog.wid)
            idle = win.row()
            rec = Recorder(self.source)
            time.sleep(0.3)
            press_space(self.d)
            lights = Lights()
            wait_lights(win, 3, 250, lights)
            held_at = rec.frames()
            self.server.hold()
            time.sleep(0.1)
            t0 = press_space(self.d)
            seen, released = watch(t0, {
                "circles": lambda t: lights.see(win.row()) == idle,
                "caption": lambda t: self.caption(win.button()) == "start",
            }, self.server)
            time.sleep(1.5)
            next_at = rec.frames()
            t1 = press_space(self.d)
            nxt, _ = watch(t1, {"circles": lambda t: win.row() != idle}, self.server, cutoff=2000)
            time.sleep(max(0.0, (t1 + 4000 - now_ms()) / 1000))
            press_space(self.d)
            time.sleep(0.3)
            samples = rec.stop()
        finally:
            prog.end()
        # The session's clicks against its lights (more clicks: a beat never
        # shown was heard; fewer: a beat shown was not), and of them, those
        # the sink played once the server was let go, each at its place on
        # the sink's timeline after the hold (the recording stalls with the sink).
        clicks = len(onsets(samples[:next_at]))
        late = [f * 1000 / RATE for f in onsets(samples[held_at:next_at])]
        return {"stop: circles off": after(t0, seen["circles"]),
                "stop: Start caption": after(t0, seen["caption"]),
                "stop: the session's clicks/lights": f"{clicks}/{lights.count}",
                "stop: clicks once let go (ms after the hold)":
                    f"{len(late)}" + (f" ({' '.join(f'{t:.0f}' for t in late)})" if late else ""),
                "next Start: circles": after(t1, nxt["circles"]),
                "next Start: first intervals, ms (samples off)": intervals(samples[next_at:], self.work)}

    def case_close(self):
        prog = self.program()
        try:
            win = Window(self.d, prog.wid)
            press_space(self.d)
            wait_lights(win, 3, 250)
            self.server.hold()
            time.sleep(0.1)
            t0 = send_close(self.d, win)
            seen, _ = watch(t0, {
                "gone": lambda t: not win.viewable(),
                "exited": lambda t: prog.p.poll() is not None,
            }, self.server)
            if seen["exited"] is None:  # after the server is let go: how much longer
                try:
                    prog.p.wait(5)
                except subprocess.TimeoutExpired:
                    pass
                exited = prog.p.poll() is not None
                late = f" (exited {now_ms() - t0:.0f} ms after the close)" if exited else " (still running 10 s on)"
            else:
                late = ""
        finally:
            prog.end()
        return {"close: window gone": after(t0, seen["gone"]),
                "close: process exited": after(t0, seen["exited"]) + late}


def run_all(bench, label, runs):
    try:
        bench.calibrate()
        table = {}
        for run in range(runs):
            for case in (bench.case_start, bench.case_stop, bench.case_close):
                for name, value in case().items():
                    table.setdefault(name, []).append(value)
                time.sleep(1)
            print(f"run {run + 1} done", flush=True)
    finally:
        if bench.server.held:
            bench.server.release()
    gaps = sorted(b - a for a, b in zip(polls, polls[1:]) if b - a < 100)
    print(f"== {label}: ms after the press (>{GIVE_UP_MS}: not within {GIVE_UP_MS / 1000:g} s;"
          f" the server is let go {HOLD_MS} ms after the press), one column a run;"
          f" the window read every {statistics.median(gaps):.1f} ms (p99 {gaps[len(gaps) * 99 // 100]:.1f})")
    width = max(len(name) for name in table)
    for name, values in table.items():
        if "intervals" in name:
            print(f"{name}:")
            for run, value in enumerate(values):
                print(f"    run {run + 1}: {value}")
        else:
            print(f"{name:<{width}}  " + "  ".join(f"{v:>6}" for v in values))


def main():
    path, label, runs, source = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    pids = [int(p) for p in sys.argv[5:]]
    with tempfile.TemporaryDirectory(prefix="server_hold.") as work:
        run_all(Bench(path, pids, source, work), label, runs)


if __name__ == "__main__":
    main()
