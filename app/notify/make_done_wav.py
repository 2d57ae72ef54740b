#!/usr/bin/python3
"""Writes DONE.wav: a short two-tone chime (E6 then A6) with soft attack and decay.

Run from this folder when the chime should change; the WAV is kept in the repository.
"""
import math
import struct
import wave

RATE = 22050
TONES = [(1318.51, 0.0, 0.45), (1760.00, 0.16, 0.55)]  # frequency, start s, length s
LENGTH = 0.75


def sample(t):
    value = 0.0
    for freq, start, length in TONES:
        local = t - start
        if 0.0 <= local < length:
            attack = min(1.0, local / 0.008)
            decay = math.exp(-local * 6.0)
            # A faint octave gives the bell-like colour.
            value += attack * decay * (math.sin(2 * math.pi * freq * local)
                                       + 0.25 * math.sin(4 * math.pi * freq * local))
    return value * 0.35


def main():
    frames = bytearray()
    for i in range(int(RATE * LENGTH)):
        v = max(-1.0, min(1.0, sample(i / RATE)))
        frames += struct.pack('<h', int(v * 32767))
    with wave.open('DONE.wav', 'wb') as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(bytes(frames))


if __name__ == '__main__':
    main()
