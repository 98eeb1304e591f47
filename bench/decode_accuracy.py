#!/usr/bin/env python3
"""How many characters `wavcreate --decode` gets right after the conversions and the channels a
file meets in the wild. Random texts of 1 to 40 printable Windows-1252 characters are rendered
by the tool in every waveform, converted (sox, ffmpeg, FLAC, MP3, Ogg/Vorbis) or sent through a
channel (a clock off by 0.2 %, white noise, a room's reverberation), decoded and compared
character by character: a character counts as right only if it is the same character at the
same place. Prints Markdown tables for the README, one row per conversion and waveform, the
tone lengths as columns, and how many decodes said "every character decided" (exit 0) with
a wrong text. Not a test: it takes a long while and needs sox and ffmpeg.

usage: decode_accuracy.py PATH_TO_WAVCREATE [--texts N] [--tenths 3,5,10] [--channel-tenths 5] [--only "NAME;..."] [--seed N]
                          [--lengths 2,5] [--lies]
"""
import argparse
import concurrent.futures
import os
import random
import struct
import subprocess
import tempfile
import wave

# Each conversion as the command line it runs: {i} the tool's file, {o} the converted one.
CONVERSIONS = [
    ("ffmpeg, 44.1 kHz", "ffmpeg -v error -i {i} -ar 44100 -c:a pcm_s16le {o}.wav"),
    ("ffmpeg, 48 kHz", "ffmpeg -v error -i {i} -ar 48000 -c:a pcm_s16le {o}.wav"),
    ("sox, 48 kHz", "sox {i} -r 48000 -b 16 {o}.wav"),
    ("sox -v, 44.1 kHz", "sox {i} -r 44100 -b 16 {o}.wav rate -v"),
    ("FLAC 24-bit, 48 kHz", "sox {i} -r 48000 -b 24 {o}.flac"),
    ("MP3 128 kbit/s", "ffmpeg -v error -i {i} -ar 44100 -b:a 128k {o}.mp3"),
    ("Ogg/Vorbis 128 kbit/s", "ffmpeg -v error -i {i} -ar 48000 -c:a libvorbis -b:a 128k {o}.ogg"),
    ("stereo, gain -9 dB, 80 ms of silence", "sox {i} -r 48000 -b 16 -c 2 {o}.wav gain -9 pad 0.08"),
]
# Channels: {n} names a copy of the tool's file with white noise added at its own rate, so that
# all the noise lies in the tones' band; the SNR is the tones' power over the noise's. They
# take the file to 48 kHz keeping its whole band (sox's -b 99.7), so that what they measure is
# the channel, not the resampler (see the conversions for that).
FULL_BAND = "rate -v -b 99.7 48000"
CHANNELS = [
    ("clock 0.2 % fast", "sox {i} -b 16 {o}.wav speed 1.002 " + FULL_BAND, None),
    ("clock 0.2 % slow", "sox {i} -b 16 {o}.wav speed 0.998 " + FULL_BAND, None),
    ("white noise, 6 dB SNR", "sox {n} -b 16 {o}.wav " + FULL_BAND, 6.0),
    ("white noise, 0 dB SNR", "sox {n} -b 16 {o}.wav " + FULL_BAND, 0.0),
    ("reverberation", "sox -G {i} -b 16 {o}.wav " + FULL_BAND + " reverb", None),
    ("6 dB noise, clock 0.2 % fast", "sox {n} -b 16 {o}.wav speed 1.002 " + FULL_BAND, 6.0),
]
WAVEFORMS = ["sine", "square", "sawtooth", "triangle"]
# Printable Windows-1252: ASCII from the space on, the 27 characters at 0x80-0x9F, Latin-1.
PRINTABLE = ([chr(c) for c in range(0x20, 0x7F)] +
             [bytes([b]).decode("cp1252") for b in range(0x80, 0xA0) if b not in (0x81, 0x8D, 0x8F, 0x90, 0x9D)] +
             [chr(c) for c in range(0xA0, 0x100)])


def add_noise(path, out, snr_db, seed):
    """The tool's 8-bit file plus white Gaussian noise, as a 16-bit file at the same rate."""
    with wave.open(path) as w:
        rate = w.getframerate()
        samples = [(b - 127) / 127.0 for b in w.readframes(w.getnframes())]
    power = sum(x * x for x in samples) / max(1, len(samples))
    sigma = (power / 10 ** (snr_db / 10)) ** 0.5
    rng = random.Random(seed)
    # A quarter of full scale leaves room for the noise's peaks.
    noisy = [max(-32767, min(32767, int(8000 * (x + rng.gauss(0.0, sigma))))) for x in samples]
    with wave.open(out, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(struct.pack("<%dh" % len(noisy), *noisy))


def trial(tool, text, tenths, waveform, command, snr, seed):
    """(characters right, characters, the decoded text where it exited 0 wrong, else None)."""
    with tempfile.TemporaryDirectory() as folder:
        original = os.path.join(folder, "original.wav")
        subprocess.run([tool, "-q", "-t", str(tenths), "-w", waveform, "--", text, original], check=True)
        noisy = os.path.join(folder, "noisy.wav")
        if snr is not None:
            add_noise(original, noisy, snr, seed)
        converted = os.path.join(folder, "converted")
        subprocess.run(command.format(i=original, o=converted, n=noisy), shell=True, check=True,
                       stderr=subprocess.DEVNULL)
        output = [name for name in os.listdir(folder) if name.startswith("converted")][0]
        result = subprocess.run([tool, "-q", "--decode", os.path.join(folder, output)],
                                capture_output=True)
    decoded = result.stdout.decode("utf-8", "replace")[:-1]
    right = sum(1 for a, b in zip(text, decoded) if a == b)
    return right, len(text), decoded if result.returncode == 0 and decoded != text else None


def table(title, rows, tenths_list, tally):
    print(f"### {title}")
    print()
    print("| | waveform | " + " | ".join(f"{t} tenths" for t in tenths_list) + " | exit 0, wrong |")
    print("|---|---|" + "---|" * (len(tenths_list) + 1))
    for name, command, snr in rows:
        for waveform in WAVEFORMS:
            cells = []
            lies = cases = 0
            for t in tenths_list:
                right, total, wrong_ok, count = tally[(name, waveform, t)]
                cells.append(f"{100.0 * right / max(1, total):.2f} %")
                lies += wrong_ok
                cases += count
            print(f"| {name} | {waveform} | " + " | ".join(cells) + f" | {lies} of {cases} |")
    print()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("--texts", type=int, default=50, help="random texts per cell")
    parser.add_argument("--tenths", default="1,3,5,10,40")
    parser.add_argument("--channel-tenths", default="3,5,10")
    parser.add_argument("--only", default="", help="row names to run, separated by ';' (names hold commas)")
    parser.add_argument("--seed", type=int, default=1, help="of the random texts")
    parser.add_argument("--lengths", default="1,40", help="the shortest and longest text, in characters")
    parser.add_argument("--lies", action="store_true", help="also list each decode that exited 0 with a wrong text")
    args = parser.parse_args()
    tool = os.path.abspath(args.tool)
    tenths_list = [int(t) for t in args.tenths.split(",")]
    channel_tenths = [int(t) for t in args.channel_tenths.split(",")]
    only = [name for name in args.only.split(";") if name]
    rng = random.Random(args.seed)
    shortest, longest = (int(n) for n in args.lengths.split(","))
    texts = ["".join(rng.choice(PRINTABLE) for _ in range(rng.randint(shortest, longest))) for _ in range(args.texts)]
    rows = [(n, c, None) for n, c in CONVERSIONS]
    jobs = {}
    tally = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        for group, group_tenths in ((rows, tenths_list), (CHANNELS, channel_tenths)):
            for name, command, snr in group:
                if only and name not in only:
                    continue
                for waveform in WAVEFORMS:
                    for t in group_tenths:
                        tally[(name, waveform, t)] = [0, 0, 0, 0]
                        for index, text in enumerate(texts):
                            job = pool.submit(trial, tool, text, t, waveform, command, snr, index)
                            jobs[job] = (name, waveform, t, text)
        lies = []
        for job in concurrent.futures.as_completed(jobs):
            right, total, wrong_text = job.result()
            name, waveform, t, text = jobs[job]
            cell = tally[(name, waveform, t)]
            cell[0] += right
            cell[1] += total
            cell[2] += wrong_text is not None
            cell[3] += 1
            if wrong_text is not None:
                lies.append(f"- {name}, {waveform}, {t} tenths: {text!r} read as {wrong_text!r}")
    print(f"{args.texts} random texts of {shortest} to {longest} printable Windows-1252 characters per cell "
          f"(seed {args.seed}), {sum(len(t) for t in texts)} characters")
    print()
    selected = [r for r in rows if not only or r[0] in only]
    if selected:
        table("Conversions", selected, tenths_list, tally)
    selected = [r for r in CHANNELS if not only or r[0] in only]
    if selected:
        table("Channels", selected, channel_tenths, tally)
    if args.lies:
        print("Exit 0 with a wrong text:" if lies else "No decode exited 0 with a wrong text.")
        print("\n".join(sorted(lies)))


if __name__ == "__main__":
    main()
