#!/usr/bin/env python3
"""Writes Brisquet's four WAVE sounds, byte for byte, into sounds/.

  101.wav  mono 44100 Hz 16-bit, 839.4 ms   a low wooden "tock" (kept, not played)
  102.wav  stereo 44100 Hz 16-bit, 104.4 ms the ordinary click: short, dry woodblock
  103.wav  stereo 44100 Hz 16-bit, 104.4 ms the accent: brighter closed hi-hat tick
  104.wav  mono 11025 Hz 8-bit, 468.7 ms    the end sound: a soft two-note chime

The layouts are fixed: chunk order, chunk sizes and total sizes never change,
since the program and its tests rely on them. Everything is computed, with a
seeded generator for the hi-hat noise, so a run always writes the same bytes.
Run it by hand after changing a sound; the build never runs it.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "sounds")


def chunk(cid, body):
    assert len(cid) == 4
    pad = b"\0" if len(body) % 2 else b""
    return cid + struct.pack("<I", len(body)) + body + pad


def fmt_chunk(channels, rate, bits):
    block = channels * bits // 8
    return chunk(b"fmt ", struct.pack("<HHIIHH", 1, channels, rate, rate * block, block, bits))


def smpl_chunk(rate, frames):
    # One forward loop over the whole sound: 36 header bytes + 24 per loop = 60.
    header = struct.pack("<9I", 0, 0, round(1e9 / rate), 60, 0, 0, 0, 1, 0)
    loop = struct.pack("<6I", 0, 0, 0, frames - 1, 0, 0)
    return chunk(b"smpl", header + loop)


def cue_chunk():
    # One cue point at the first sample: 4 + 24 = 28 bytes.
    return chunk(b"cue ", struct.pack("<I", 1) + struct.pack("<II4sIII", 1, 0, b"data", 0, 0, 0))


def adtl_chunk(label):
    # A label for cue point 1, zero-padded so the list body is exactly 90 bytes.
    text = label.encode("ascii").ljust(74, b"\0")
    return chunk(b"LIST", b"adtl" + chunk(b"labl", struct.pack("<I", 1) + text))


def info_chunk(name):
    # INAM with the name tag, ISFT naming the generator: 4 + 20 + 64 = 88 bytes.
    inam = chunk(b"INAM", name.encode("ascii") + b"\0")
    isft = chunk(b"ISFT", b"Brisquet sound generator".ljust(56, b"\0"))
    return chunk(b"LIST", b"INFO" + inam + isft)


def riff(chunks, trailing=b""):
    form = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(form)) + form + trailing


def pcm16(samples):
    return b"".join(struct.pack("<h", max(-32767, min(32767, round(s * 32767)))) for s in samples)


def pcm16_stereo(left, right):
    return pcm16([v for pair in zip(left, right) for v in pair])


def pcm8(samples):
    return bytes(max(1, min(255, 128 + round(s * 127))) for s in samples)


def envelope(t, attack, decay):
    """A linear rise over attack seconds, then an exponential fall with time constant decay."""
    return t / attack if t < attack else math.exp(-(t - attack) / decay)


def finish(samples, rate, peak, fade_ms=4.0):
    """Removes any DC offset, fades the tail to silence and scales to peak."""
    mean = sum(samples) / len(samples)
    samples = [s - mean for s in samples]
    fade = int(rate * fade_ms / 1000)
    for i in range(fade):
        samples[-1 - i] *= i / fade
    samples[0] = 0.0  # the attack starts from silence
    top = max(abs(s) for s in samples)
    return [s * peak / top for s in samples]


def woodblock(frames, rate, pitch, decay):
    out = []
    for i in range(frames):
        t = i / rate
        body = (math.sin(2 * math.pi * pitch * t)
                + 0.45 * math.sin(2 * math.pi * pitch * 2.71 * t) * math.exp(-t / (decay / 3)))
        out.append(envelope(t, 0.0005, decay) * body)
    return out


def hihat(frames, rate, seed):
    state = seed
    out, previous, smoothed = [], 0.0, 0.0
    for i in range(frames):
        state = (1103515245 * state + 12345) & 0x7FFFFFFF
        noise = state / 0x3FFFFFFF - 1.0
        # A first difference tilts the noise up (high-pass); a gentle one-pole
        # low-pass then takes the hiss off the very top, as a real hat's would be.
        smoothed += 0.55 * ((noise - previous) - smoothed)
        bright = smoothed
        previous = noise
        t = i / rate
        ring = math.sin(2 * math.pi * 6200 * t) * 0.35  # metallic edge
        out.append(envelope(t, 0.0003, 0.018) * (bright + ring))
    return out


def chime(frames, rate):
    out = []
    for i in range(frames):
        t = i / rate
        first = math.sin(2 * math.pi * 880 * t) * envelope(t, 0.004, 0.12)
        t2 = t - 0.12
        second = math.sin(2 * math.pi * 659.25 * t2) * envelope(t2, 0.004, 0.16) if t2 > 0 else 0.0
        out.append(first + 0.9 * second)
    return out


def dbfs(level):
    return 10 ** (level / 20)


def main():
    os.makedirs(OUT, exist_ok=True)

    frames = 37019  # 101: 74038 data bytes
    tock = finish(woodblock(frames, 44100, 420, 0.09), 44100, dbfs(-6))
    sound101 = riff([fmt_chunk(1, 44100, 16), smpl_chunk(44100, frames),
                     chunk(b"data", pcm16(tock)), cue_chunk(), adtl_chunk("Brisquet tock")])

    frames = 4606  # 102 and 103: 18424 data bytes each
    click = finish(woodblock(frames, 44100, 1250, 0.012), 44100, dbfs(-4))
    sound102 = riff([fmt_chunk(2, 44100, 16), smpl_chunk(44100, frames),
                     chunk(b"data", pcm16_stereo(click, click)), cue_chunk(),
                     adtl_chunk("Brisquet click")], trailing=b"\0\0")

    left = finish(hihat(frames, 44100, 2021), 44100, dbfs(-2))
    right = finish(hihat(frames, 44100, 831), 44100, dbfs(-2))
    sound103 = riff([fmt_chunk(2, 44100, 16), chunk(b"data", pcm16_stereo(left, right)),
                     info_chunk("closedhat04"), smpl_chunk(44100, frames)])

    frames = 5167  # 104: odd length, one pad byte follows
    bell = finish(chime(frames, 11025), 11025, dbfs(-6), fade_ms=30)
    sound104 = riff([fmt_chunk(1, 11025, 8), chunk(b"data", pcm8(bell))])

    for number, data, size in ((101, sound101, 74284), (102, sound102, 18672),
                               (103, sound103, 18632), (104, sound104, 5212)):
        assert len(data) == size, (number, len(data))
        with open(os.path.join(OUT, f"{number}.wav"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
