#!/usr/bin/python3
# What a screen reader finds of Brisquet's window through AT-SPI, the way
# Orca reads it, while the window ticks at 90 bpm with 3 beats per bar (the
# caller starts that): roles, names, states and reading order, and that the
# beat display sends no stream of state changes while it ticks.
# Prints the tree, then one line per check; exits 1 when any fails.
import sys
import time

import pyatspi
from gi.repository import GLib

failures = []


def check(what, ok, detail=""):
    print(("ok: " if ok else "FAIL: ") + what + (f" ({detail})" if detail and not ok else ""))
    if not ok:
        failures.append(what)


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for _ in range(100):
        for app in desktop:
            if app is not None and app.name == "Brisquet":
                return app
        time.sleep(0.1)
    sys.exit("FAIL: no application named Brisquet on the accessibility bus")


def states(obj):
    return {pyatspi.stateToString(s) for s in obj.getState().getStates()}


def dump(obj, depth=0):
    shown = sorted(states(obj) & {"checked", "showing", "read only"})
    print("  " * depth + f"{obj.getRoleName()} | {obj.name} | {', '.join(shown)}")
    for child in obj:
        dump(child, depth + 1)


app = application()
dump(app)
window = app[0]
check('the window is a frame named "Brisquet"', window.getRoleName() == "frame" and window.name == "Brisquet",
      f"{window.getRoleName()} {window.name!r}")
parts = [(c.getRoleName(), c.name) for c in window]
check("the window reads top to bottom", parts == [("panel", "Beats Per Minute"), ("panel", "Beats Per Bar"),
                                                ("panel", "Metronome Visualization"),
                                                ("push button", "Stop Ticking")], str(parts))
bar = window[1]
check("the beats-per-bar group reads 2 to 6, 3 chosen",
      [(c.getRoleName(), c.name, "checked" in states(c)) for c in bar]
      == [("radio button", str(n), n == 3) for n in range(2, 7)],
      str([(c.name, "checked" in states(c)) for c in bar]))
display = window[2]
circles = [c for c in display if c.getRoleName() == "check box"]
label = [c for c in display if c.getRoleName() == "label"]
check("six circles, read-only check boxes", len(circles) == 6 and all("read only" in states(c) for c in circles))
check("the three circles of the bar are named by their beat",
      [c.name for c in circles[:3]] == [f"beat {n} of 3" for n in (1, 2, 3)], str([c.name for c in circles]))
check("the hidden circles have no name and are not showing",
      all(c.name == "" and "showing" not in states(c) for c in circles[3:]), str([c.name for c in circles[3:]]))
lit = [c.name for c in circles if "checked" in states(c)]
check("one circle is checked, the beat the number reads", len(label) == 1 and lit == [label[0].name],
      f"{lit} / {label[0].name if label else None}")

events = []
listener = lambda event: events.append((event.type, event.source.getRoleName()))
pyatspi.Registry.registerEventListener(listener, "object:state-changed:checked",
                                       "object:property-change:accessible-name")
deadline = time.monotonic() + 3  # four or five beats
context = GLib.MainContext.default()  # events come in through the D-Bus connection's main loop
while time.monotonic() < deadline:
    while context.iteration(False):
        pass
    time.sleep(0.02)
pyatspi.Registry.deregisterEventListener(listener, "object:state-changed:checked",
                                         "object:property-change:accessible-name")
circle_events = [e for e in events if e[1] == "check box"]
# The beat number's own name change, one a beat, is how a reader that asks
# learns the new number; Orca speaks it only for the object it is on.
print(f"in 3 s: {sum(1 for e in events if e[1] == 'label')} name changes of the beat number")
check("the ticking circles send no state changes", not circle_events, f"{len(circle_events)} in 3 s")
sys.exit(1 if failures else 0)
