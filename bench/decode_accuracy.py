#!/usr/bin/env python3
"""How many characters `wavcreate --decode` gets right after the conversions a file meets in the
wild: random printable Windows-1252 texts, rendered by the tool, converted by sox and ffmpeg,
decoded, compared character by character. Prints a Markdown table for the README. Not a test:
it takes minutes and needs sox and ffmpeg.

usage: decode_accuracy.py PATH_TO_WAVCREATE [TEXTS [CHARACTERS]]   (default 200 texts of 20)
"""
import concurrent.futures
import os
import random
import subprocess
import sys
import tempfile

# Each conversion as the command line it runs: {i} the tool's file, {o} the converted one.
CONVERSIONS = [
    ("sox, 44.1 kHz 16-bit", "sox {i} -r 44100 -b 16 {o}.wav"),
    ("sox, 48 kHz 16-bit", "sox {i} -r 48000 -b 16 {o}.wav"),
    ("ffmpeg, 44.1 kHz 16-bit", "ffmpeg -v error -i {i} -ar 44100 -c:a pcm_s16le {o}.wav"),
    ("ffmpeg, 48 kHz 16-bit", "ffmpeg -v error -i {i} -ar 48000 -c:a pcm_s16le {o}.wav"),
    ("sox, 48 kHz 24-bit stereo", "sox {i} -r 48000 -b 24 -c 2 {o}.wav"),
    ("sox, 44.1 kHz 32-bit float", "sox {i} -r 44100 -e floating-point -b 32 {o}.wav"),
    ("sox, 48 kHz, gain -6 dB, 50 ms leading silence", "sox {i} -r 48000 -b 16 {o}.wav gain -6 pad 0.05"),
    ("ffmpeg, FLAC 48 kHz", "ffmpeg -v error -i {i} -ar 48000 {o}.flac"),
    ("ffmpeg, Ogg/Vorbis 48 kHz", "ffmpeg -v error -i {i} -ar 48000 -c:a libvorbis {o}.ogg"),
    ("ffmpeg, MP3 128 kbit/s 44.1 kHz", "ffmpeg -v error -i {i} -ar 44100 -b:a 128k {o}.mp3"),
]
TENTHS = [1, 3, 5, 10]
# Printable Windows-1252: ASCII from the space on, the 27 characters at 0x80-0x9F, Latin-1.
PRINTABLE = ([chr(c) for c in range(0x20, 0x7F)] +
             [bytes([b]).decode("cp1252") for b in range(0x80, 0xA0) if b not in (0x81, 0x8D, 0x8F, 0x90, 0x9D)] +
             [chr(c) for c in range(0xA0, 0x100)])


def trial(tool, text, tenths, command):
    """Characters right out of len(text) for one text, tone length and conversion."""
    with tempfile.TemporaryDirectory() as folder:
        original = os.path.join(folder, "original.wav")
        subprocess.run([tool, "-q", "-t", str(tenths), "--", text, original], check=True)
        converted = os.path.join(folder, "converted")
        subprocess.run(command.format(i=original, o=converted), shell=True, check=True,
                       stderr=subprocess.DEVNULL)
        output = [name for name in os.listdir(folder) if name.startswith("converted")][0]
        result = subprocess.run([tool, "-q", "--decode", os.path.join(folder, output)],
                                capture_output=True)
    decoded = result.stdout.decode("utf-8", "replace").rstrip("\n")
    return sum(1 for a, b in zip(text, decoded) if a == b)


def main():
    tool = os.path.abspath(sys.argv[1])
    texts = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    length = int(sys.argv[3]) if len(sys.argv) > 3 else 20
    rng = random.Random(1)
    samples = ["".join(rng.choice(PRINTABLE) for _ in range(length)) for _ in range(texts)]
    right = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        jobs = {}
        for name, command in CONVERSIONS:
            for tenths in TENTHS:
                for text in samples:
                    jobs[pool.submit(trial, tool, text, tenths, command)] = (name, tenths)
        for job in concurrent.futures.as_completed(jobs):
            key = jobs[job]
            right[key] = right.get(key, 0) + job.result()
    total = texts * length
    print(f"{texts} random texts of {length} printable Windows-1252 characters, sine tones")
    print()
    print("| conversion | command | " + " | ".join(f"{t} tenths" for t in TENTHS) + " |")
    print("|---|---|" + "---|" * len(TENTHS))
    for name, command in CONVERSIONS:
        shown = command.format(i="in.wav", o="out").replace("-v error ", "")
        cells = " | ".join(f"{100.0 * right[(name, t)] / total:.2f} %" for t in TENTHS)
        print(f"| {name} | `{shown}` | {cells} |")


if __name__ == "__main__":
    main()
