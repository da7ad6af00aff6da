#!/usr/bin/env python3
"""Writes Tarnwick's new-mail sound: a soft two-note chime (A5, then E6),
0.7 seconds of 16-bit mono at 22050 Hz. The same bytes every time.

    python3 scripts/make_newmail_sound.py sounds/newmail.wav
"""
import math
import struct
import sys
import wave

RATE = 22050
LENGTH = 0.7


def bell(t, start, freq):
    """One struck note: a fundamental with two soft overtones, a 4 ms attack
    and an exponential decay."""
    if t < start:
        return 0.0
    x = t - start
    attack = min(1.0, x / 0.004)
    decay = math.exp(-x * 7.0)
    tone = (math.sin(2 * math.pi * freq * x)
            + 0.35 * math.sin(2 * math.pi * 2 * freq * x) * math.exp(-x * 6.0)
            + 0.12 * math.sin(2 * math.pi * 3 * freq * x) * math.exp(-x * 12.0))
    return attack * decay * tone


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "newmail.wav"
    frames = bytearray()
    total = int(RATE * LENGTH)
    for i in range(total):
        t = i / RATE
        v = 0.32 * bell(t, 0.0, 880.0) + 0.30 * bell(t, 0.14, 1318.51)
        # A short fade at the very end, so the file stops without a click.
        left = (total - i) / RATE
        if left < 0.03:
            v *= left / 0.03
        frames += struct.pack("<h", max(-32767, min(32767, int(v * 32767))))
    with wave.open(out, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))


if __name__ == "__main__":
    main()
