#!/usr/bin/env python3
"""Writes the decoder's seed corpus into fuzz/decode-corpus: files of every kind the decoder
reads (the library's own, streamed, converted, damaged) and the hostile ones it must refuse
promptly. Run from the project's root with the tool built:

    python3 fuzz/make_decode_corpus.py build/wavcreate
"""
import math
import os
import struct
import subprocess
import sys
import tempfile

FOLDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "decode-corpus")


def riff(chunks):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def chunk(name, payload, size=None):
    pad = b"\0" if len(payload) % 2 else b""
    return name + struct.pack("<I", len(payload) if size is None else size) + payload + pad


def fmt(tag, channels, rate, bits):
    block = channels * bits // 8
    return chunk(b"fmt ", struct.pack("<HHIIHH", tag, channels, rate, (rate * block) & 0xFFFFFFFF,
                                      block & 0xFFFF, bits))


def rendered(tool, text, tenths):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "out.wav")
        subprocess.run([tool, "-q", "-t", str(tenths), text, path], check=True)
        return open(path, "rb").read()


def write(name, data):
    with open(os.path.join(FOLDER, name), "wb") as out:
        out.write(data)


def main():
    tool = sys.argv[1]
    os.makedirs(FOLDER, exist_ok=True)
    hi = rendered(tool, "Hi", 1)
    samples = hi[44:]
    write("ours-hi-1-tenth", hi)
    # A pipe's writer cannot know the sizes: 0xFFFFFFFF, or 0, meaning to the end.
    streamed = riff([fmt(1, 1, 2000, 8), chunk(b"data", samples, 0xFFFFFFFF)])
    write("ours-streamed-sizes", b"RIFF\xff\xff\xff\xff" + streamed[8:])
    write("ours-cut-short", hi[:-150])
    write("ours-one-byte-changed", hi[:100] + bytes([hi[100] ^ 1]) + hi[101:])
    # The same tones as 16-bit samples at 4000 per second, each sample twice.
    wide = b"".join(struct.pack("<h", (b - 127) * 256) * 2 for b in samples)
    write("pcm16-4000-hi", riff([fmt(1, 1, 4000, 16), chunk(b"data", wide)]))
    # Float samples with a NaN and an infinity among them, stereo.
    floats = b"".join(struct.pack("<ff", (b - 127) / 127.0, (b - 127) / 127.0) for b in samples)
    floats = floats[:400] + struct.pack("<f", math.nan) + floats[404:800] + struct.pack("<f", math.inf) + floats[804:]
    write("float-stereo-damaged", riff([fmt(3, 2, 2000, 32), chunk(b"data", floats)]))
    # Hostile headers: a chunk size that wraps 32 bits, absurd rates and channel counts, a data
    # size far past the end, a file that is all zeros or all one byte.
    write("junk-wraps-32-bits", b"RIFF\x0c\x00\x00\x00WAVEjunk\xf8\xff\xff\xff")
    write("rate-1-per-second", riff([fmt(1, 1, 1, 8), chunk(b"data", samples[:64])]))
    write("rate-4-billion", riff([fmt(1, 1, 0xFFFFFFFF, 8), chunk(b"data", samples[:64])]))
    write("channels-65535", riff([fmt(1, 65535, 2000, 16), chunk(b"data", b"\0" * 64)]))
    write("data-past-the-end", riff([fmt(1, 1, 2000, 8), chunk(b"data", samples[:64], 0x7FFFFFF0)]))
    write("zeros", b"\0" * 1024)
    write("riff-no-data", riff([fmt(1, 1, 2000, 8)]))
    write("empty", b"")


if __name__ == "__main__":
    main()
