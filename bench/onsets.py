#!/usr/bin/python3
# The clicks in a 16-bit stereo WAVE recording, found by level (the left
# channel's first sample over 800 after 40 ms of quiet), for the benches
# that only count clicks and time the first one; bench_click_onsets finds
# them to the sample.
#   onsets.py RECORDING SPLIT_S   prints "B A F": the clicks before SPLIT_S
#                                 seconds into the recording, those after,
#                                 and the first after it in seconds from
#                                 SPLIT_S (- if none)
import struct
import sys
import wave

RATE = 44100


def onsets(path):
    w = wave.open(path)
    n = w.getnframes()
    left = struct.unpack(f"<{n * 2}h", w.readframes(n))[::2]
    quiet, found = RATE, []
    for i, s in enumerate(left):
        if abs(s) > 800:
            if quiet > RATE * 40 // 1000:
                found.append(i / RATE)
            quiet = 0
        else:
            quiet += 1
    return found


if __name__ == "__main__":
    times, split = onsets(sys.argv[1]), float(sys.argv[2])
    later = [t - split for t in times if t >= split]
    print(len(times) - len(later), len(later), f"{later[0]:.2f}" if later else "-")
