#!/usr/bin/python3
# Process start to the first frame of its window, under X: starts the
# command, waits for its top-level window to be mapped, then for the pixel at
# (8, 8) to be painted (Xvfb shows black until the program draws).
# Prints milliseconds, then leaves the program running and prints its pid.
# Needs python3-xlib. Usage: first_frame.py command...
import subprocess, sys, time
from Xlib import X, display

d = display.Display()
root = d.screen().root
root.change_attributes(event_mask=X.SubstructureNotifyMask)
d.sync()
start = time.monotonic()
child = subprocess.Popen(sys.argv[1:])
window = None
while window is None:
    event = d.next_event()
    if event.type == X.MapNotify and event.window.get_attributes().override_redirect == 0:
        window = event.window
while True:
    pixel = window.get_image(8, 8, 1, 1, X.ZPixmap, 0xffffffff).data
    if pixel.strip(b"\0"):
        break
    time.sleep(0.0005)
print(f"{(time.monotonic() - start) * 1000:.1f} {child.pid}")
