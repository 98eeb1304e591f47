#!/usr/bin/env python3
"""The wavcreate tool end to end, and real readers of the files it writes.

usage: tool_test.py PATH_TO_WAVCREATE PATH_TO_MANUAL_PAGE
"""
import os
import pty
import re
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import unittest
import wave

TOOL = None
MANUAL = None
# An emulator that runs the tool when it was built for another processor.
RUNNER = os.environ.get("WAVCREATE_RUNNER", "").split()


def run(*args, stdin=None, stdout=subprocess.PIPE, stdin_file=None):
    """The tool's result for args; stdin is bytes to read, stdin_file an open descriptor."""
    return subprocess.run([*RUNNER, TOOL, *args], input=stdin, stdin=stdin_file, stdout=stdout,
                          stderr=subprocess.PIPE)


def read(path):
    with open(path, "rb") as f:
        return f.read()


class ToolTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="wavcreate-tool-")
        self.addCleanup(shutil.rmtree, self.dir)

    def out(self, name="out.wav"):
        return os.path.join(self.dir, name)

    def rendered(self, *args, stdin=None):
        """The file the tool writes for args (then TEXT), rendered into a fresh file."""
        path = self.out(f"rendered-{len(os.listdir(self.dir))}.wav")
        result = run(*args, path, stdin=stdin)
        self.assertEqual(result.returncode, 0, result)
        return read(path)

    def test_renders_and_summarises_on_standard_error(self):
        result = run("AB", self.out())
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(result.stdout, b"")
        self.assertEqual(result.stderr.decode(),
                         f"wavcreate: '{self.out()}': 3 tones, 3000 samples, 1.500 seconds, "
                         "3044 bytes\n")
        data = read(self.out())
        self.assertEqual(len(data), 3044)
        self.assertEqual(list(data[44:54]), [127, 132, 138, 144, 150, 156, 162, 168, 173, 179])
        for quiet_option in ["-q", "--quiet"]:
            quiet = run(quiet_option, "AB", self.out("quiet.wav"))
            self.assertEqual((quiet.returncode, quiet.stdout, quiet.stderr), (0, b"", b""),
                             quiet_option)
            self.assertEqual(read(self.out("quiet.wav")), data, quiet_option)

    def test_standard_output_carries_the_same_stream(self):
        for args in [["AB"], ["--waveform", "square", "-t", "7", "été"], ["-t0", ""]]:
            result = run(*args, "-")
            self.assertEqual(result.returncode, 0, (args, result))
            self.assertEqual(result.stdout, self.rendered(*args), args)
            self.assertIn(b"wavcreate: standard output: ", result.stderr)

    def test_standard_output_refuses_a_terminal(self):
        main, terminal = pty.openpty()
        try:
            result = run("AB", "-", stdout=terminal)
        finally:
            os.close(terminal)
            os.close(main)
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"terminal", result.stderr)

    def test_a_reader_that_stops_early_ends_the_tool_quietly(self):
        # 16 MB, far more than a pipe holds: the tool is still writing when the reader goes.
        # SIGPIPE ends it, as the shell's 141 shows, unless the signal is ignored: then the
        # write fails and the status is 1. Either way nothing is said.
        for ignore_sigpipe, status in [(False, -signal.SIGPIPE), (True, 1)]:
            tool = subprocess.Popen(
                [*RUNNER, TOOL, "-t", "40", "x" * 1999, "-"], stdout=subprocess.PIPE,
                stderr=subprocess.PIPE,
                preexec_fn=(lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN))
                if ignore_sigpipe else None)
            self.assertEqual(tool.stdout.read(100)[:4], b"RIFF")
            tool.stdout.close()
            self.assertEqual(tool.wait(timeout=60), status, ignore_sigpipe)
            self.assertEqual(tool.stderr.read(), b"", ignore_sigpipe)
            tool.stderr.close()

    def test_outputs_that_are_not_files(self):
        result = run("AB", "/dev/null")
        self.assertEqual(result.returncode, 0, result)
        fifo = self.out("fifo")
        os.mkfifo(fifo)
        received = []
        reader = threading.Thread(target=lambda: received.append(read(fifo)))
        reader.start()
        result = run("AB", fifo)
        reader.join()
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(received[0], self.rendered("AB"))

    def test_failures_say_what_where_and_why(self):
        missing = os.path.join(self.dir, "missing", "x.wav")
        for args, message in [
            (["AB", missing], f"wavcreate: cannot create '{missing}': No such file or directory"),
            (["AB", self.dir], f"wavcreate: cannot create '{self.dir}': Is a directory"),
            (["AB", "/dev/full"], "wavcreate: cannot write '/dev/full': No space left on device"),
            (["x" * 2000, self.out()],
             "wavcreate: the text is longer than 1999 UTF-16 code units, one tone each"),
        ]:
            result = run(*args)
            self.assertEqual((result.returncode, result.stdout), (1, b""), args)
            self.assertEqual(result.stderr.decode(), message + "\n", args)
        self.assertEqual(os.listdir(self.dir), [])

    def test_long_output_paths(self):
        # 300 bytes, past the 199 of WAVCreate's path buffer: the tool has no such buffer.
        folder = os.path.join(self.dir, *["d" * 99] * 3)
        os.makedirs(folder)
        path = os.path.join(folder, "out.wav")
        self.assertGreater(len(path), 300)
        result = run("AB", path)
        self.assertEqual(result.returncode, 0, result)
        self.assertTrue(result.stderr.startswith(f"wavcreate: '{path}': 3 tones".encode()))
        self.assertEqual(os.path.getsize(path), 3044)

    def test_write_errors_on_standard_output_exit_1(self):
        self.rendered("AB")
        full = os.open("/dev/full", os.O_WRONLY)
        self.addCleanup(os.close, full)
        no_space = "No space left on device\n"
        for args, message in [(["--help"], "write error: "), (["--version"], "write error: "),
                              (["--decode", self.out("rendered-0.wav")], "write error: "),
                              (["-q", "AB", "-"], "cannot write standard output: ")]:
            result = run(*args, stdout=full)
            self.assertEqual(result.returncode, 1, args)
            self.assertEqual(result.stderr.decode(), "wavcreate: " + message + no_space, args)

    def test_words_of_the_summaries(self):
        # One tone, one tenth: the singular. Both summaries quote the file name alike.
        path = self.out()
        result = run("-t", "1", "", path)
        self.assertEqual(result.stderr.decode(),
                         f"wavcreate: '{path}': 1 tone, 200 samples, 0.100 seconds, 244 bytes\n")
        result = run("--decode", path)
        self.assertEqual(result.stderr.decode(),
                         f"wavcreate: '{path}': 1 tone, 1 tenth per tone, sine, every tone exact\n")

    def test_text_limit_counts_utf16_code_units(self):
        # A character beyond U+FFFF is two code units, two tones (each a '?').
        self.assertEqual(len(self.rendered("😀" * 999 + "x")), 44 + 2000 * 1000)
        result = run("😀" * 1000, self.out("over.wav"))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"longer than 1999 UTF-16 code units", result.stderr)
        self.assertFalse(os.path.exists(self.out("over.wav")))

    def test_option_syntax(self):
        expected = self.rendered("-t", "7", "--waveform", "square", "AB")
        for args in [["-t7", "-wsquare"], ["--tenths=7", "--waveform=square"],
                     ["--tenths", "7", "-w", "square"], ["-qt7", "-w", "square"],
                     ["-t", "007", "-w", "square"]]:
            self.assertEqual(self.rendered(*args, "AB"), expected, args)
        # Leading zeros are always allowed.
        self.assertEqual(self.rendered("-t", "040", "AB"), self.rendered("-t", "40", "AB"))
        self.assertEqual(len(self.rendered("-t", "00", "AB")), 44)
        # Options may follow the operands; -- ends them, for a text that starts with -.
        self.assertEqual(len(self.rendered("--", "-x")), 44 + 3 * 1000)
        result = run("AB", self.out("late.wav"), "--tenths=1")
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(os.path.getsize(self.out("late.wav")), 44 + 3 * 200)

    def test_usage_errors_exit_2(self):
        for value in ["5.0", "0x5", "41", "0041", "-1", "99999999999", "5x", "", " 5"]:
            result = run("-t", value, "AB", self.out())
            self.assertEqual(result.returncode, 2, value)
            self.assertEqual(result.stderr.count(b"\n"), 2, value)  # the message, then the hint
            self.assertIn(b"from 0 to 40", result.stderr, value)
        for args in [[], ["AB"], ["a", "b", "c"], ["-t"], ["--bogus", "AB", self.out()],
                     ["-x", "AB", self.out()], ["-w", "Sine", "AB", self.out()],
                     ["--waveform=noise", "AB", self.out()]]:
            result = run(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertTrue(result.stderr.startswith(b"wavcreate: "), args)
        self.assertIn(b"sine, square, sawtooth or triangle", run("-w", "noise", "A", "-").stderr)
        for option in ["-t", "--tenths", "-w", "--waveform"]:
            result = run("AB", self.out(), option)
            self.assertEqual(result.returncode, 2, option)
            self.assertTrue(result.stderr.startswith(
                f"wavcreate: option {option} needs a value\n".encode()), (option, result))
        # Invalid UTF-8: a stray continuation, an encoded surrogate, a code point beyond
        # U+10FFFF, a lead byte followed by another lead byte, an overlong slash.
        for text in [b"\xff\xfe", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xc3\xc3", b"\xc0\xaf"]:
            result = run(text, self.out())
            self.assertEqual(result.returncode, 2, text)
            self.assertIn(b"not valid UTF-8", result.stderr, text)
        self.assertEqual(os.listdir(self.dir), [])

    def test_text_from_standard_input(self):
        # All of it, less one final newline and a leading byte-order mark; inner newlines
        # are characters.
        self.assertEqual(self.rendered("-", stdin=b"A B\n"), self.rendered("A B"))
        self.assertEqual(self.rendered("-", stdin=b"\xef\xbb\xbfA\nB\r\n"), self.rendered("A\nB"))
        self.assertEqual(self.rendered("-", stdin=b"AB\n\n"), self.rendered("AB\n"))
        result = run("-", self.out(), stdin=b"A\0B")
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"NUL", result.stderr)
        result = run("-", self.out(), stdin=b"x" * 2000 + b"\n")
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"longer than 1999", result.stderr)

    def test_read_errors_on_standard_input_exit_1(self):
        folder = os.open(self.dir, os.O_RDONLY)
        self.addCleanup(os.close, folder)
        for args, name in [(["-", self.out()], "standard input"),
                           (["--decode", "-"], "standard input"),
                           (["--decode", self.dir], f"'{self.dir}'")]:
            result = run(*args, stdin_file=folder)
            self.assertEqual((result.returncode, result.stdout), (1, b""), args)
            self.assertEqual(result.stderr.decode(),
                             f"wavcreate: cannot read {name}: Is a directory\n", args)
        self.assertEqual(os.listdir(self.dir), [])

    def test_file_names_are_bytes(self):
        name = os.path.join(os.fsencode(self.dir), b"caf\xe9.wav")  # Latin-1, not UTF-8
        result = run("AB", name)
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(os.path.getsize(name), 3044)

    def test_decode(self):
        # The text back, from a file or standard input; the tone length and waveform from it.
        self.rendered("-t", "3", "-w", "triangle", "Grüße à tous!")
        path = self.out("rendered-0.wav")
        for args, stdin in [([path], None), (["-"], read(path))]:
            result = run("--decode", *args, stdin=stdin)
            self.assertEqual(result.returncode, 0, result)
            self.assertEqual(result.stdout, "Grüße à tous!\n".encode())
            self.assertIn(b"14 tones, 3 tenths per tone, triangle, every tone exact", result.stderr)
        self.assertEqual(run("-q", "--decode", path).stderr, b"")
        not_wave = self.out("not.wav")
        with open(not_wave, "wb") as f:
            f.write(b"plain text")
        result = run("--decode", not_wave)
        self.assertEqual((result.returncode, result.stdout), (1, b""))
        self.assertIn(b"cannot decode", result.stderr)
        for args in [["--decode"], ["--decode", "-t", "5", path], ["--decode", path, path]]:
            self.assertEqual(run(*args).returncode, 2, args)

    def test_decode_reads_streamed_headers(self):
        # A pipe's writer cannot know the sizes: 0xFFFFFFFF or 0 mean to the end of the data.
        data = self.rendered("-t", "3", "Piped")
        for size in [b"\xff\xff\xff\xff", b"\0\0\0\0"]:
            streamed = data[:4] + size + data[8:40] + size + data[44:]
            result = run("-q", "--decode", "-", stdin=streamed)
            self.assertEqual((result.returncode, result.stdout), (0, b"Piped\n"), size)
        missing = run("--decode", self.out("missing.wav"))
        self.assertEqual(missing.returncode, 1)
        self.assertIn(b"No such file or directory", missing.stderr)

    @unittest.skipUnless(os.environ.get("WAVCREATE_DECODES_CONVERTED"),
                         "this build reads only the library's own files")
    def test_decode_undecided_positions_are_bounded(self):
        # Every tone damaged (a NaN in each, in a float file): each character undecided, the
        # first twenty positions named, then how many more.
        text = "abcdefghijklmnopqrstuvwxy"
        samples = [(b - 127) / 127.0 for b in self.rendered("-t", "3", text)[44:]]
        for tone in range(len(text)):
            samples[tone * 600 + 300] = float("nan")
        floats = struct.pack(f"<{len(samples)}f", *samples)
        damaged = self.out("damaged.wav")
        with open(damaged, "wb") as f:
            f.write(b"RIFF" + struct.pack("<I", 36 + len(floats)) + b"WAVEfmt " +
                    struct.pack("<IHHIIHH", 16, 3, 1, 2000, 8000, 4, 32) + b"data" +
                    struct.pack("<I", len(floats)) + floats)
        result = run("-q", "--decode", damaged)
        self.assertEqual((result.returncode, result.stdout), (1, "\ufffd".encode() * 25 + b"\n"))
        positions = ", ".join(str(p) for p in range(1, 21))
        self.assertIn(f"positions {positions} and 5 more of".encode(), result.stderr)
        self.assertIn(b"25 damaged samples (NaN or infinite)", result.stderr)

    @unittest.skipUnless(os.environ.get("WAVCREATE_DECODES_CONVERTED") and shutil.which("sox"),
                         "this build reads only the library's own files, or sox is missing")
    def test_decode_a_few_tones_after_sox(self):
        # Each read whole, exit 0: Vorbis's faint noise in the closing silence, which matched a
        # code; tones near 1000 Hz behind silence, where the resampler's ringing before them
        # put the start a sample early and they read as their negatives; a first tone whose
        # fundamental the resampler cut, read at 11 tenths from before the file's start.
        # -R: sox's dither repeatable.
        behind_silence = ["-r", "48000", "-b", "16", "-c", "2", "{}", "gain", "-9", "pad", "0.08"]
        cases = [("VU", "3", "sine", ["-r", "48000", "{}"], "ogg"),
                 ("]\u00bf'", "5", "sine", behind_silence, "wav"),
                 ("\u017e\u201a", "10", "triangle", behind_silence, "wav")]
        for text, tenths, waveform, conversion, kind in cases:
            original = self.out(f"original-{tenths}-{waveform}.wav")
            self.assertEqual(run("-q", "-t", tenths, "-w", waveform, "--", text, original).returncode, 0)
            converted = self.out(f"converted-{tenths}-{waveform}.{kind}")
            subprocess.run(["sox", "-R", original] + [converted if a == "{}" else a for a in conversion],
                           check=True, stderr=subprocess.DEVNULL)
            result = run("-q", "--decode", converted)
            self.assertEqual((result.returncode, result.stdout.decode()), (0, text + "\n"), (text, tenths, waveform))

    @unittest.skipIf(os.environ.get("WAVCREATE_SANITIZED") or RUNNER,
                     "sanitizers and emulators need more address space than the limit")
    def test_decode_out_of_memory_is_an_error(self):
        # 9000 seconds at 1000 samples a second: 36 million samples at the decoder's own rate,
        # more than 120 MiB of address space holds. A sparse file, read through.
        samples = 9_000_000
        long_file = self.out("long.wav")
        with open(long_file, "wb") as f:
            f.write(b"RIFF" + struct.pack("<I", 36 + samples) + b"WAVEfmt " +
                    struct.pack("<IHHIIHH", 16, 1, 1, 1000, 1000, 1, 8) + b"data" +
                    struct.pack("<I", samples))
            f.truncate(44 + samples)
        def limit():
            resource.setrlimit(resource.RLIMIT_AS, (120 << 20, 120 << 20))
        result = subprocess.run([TOOL, "--decode", long_file], capture_output=True,
                                preexec_fn=limit)
        self.assertEqual((result.returncode, result.stdout), (1, b""), result)
        self.assertEqual(result.stderr.decode(),
                         f"wavcreate: cannot decode '{long_file}': out of memory\n")

    def test_help_and_version(self):
        result = run("--help")
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"usage: wavcreate", result.stdout)
        self.assertEqual(run("--version").stdout, b"wavcreate 1.0.0.1\n")
        self.assertEqual(run("--version").returncode, 0)

    def test_manual_page_and_help_agree(self):
        help_text = run("--help").stdout.decode()
        with open(MANUAL) as f:
            manual = re.sub(r"\\f[BIR]", "", f.read().replace("\\-", "-"))
        options = set(re.findall(r"(?<![\w-])(--?[a-z][a-z-]*)", help_text))
        self.assertTrue({"--tenths", "--waveform", "--quiet"} <= options, options)
        for option in options:
            self.assertIn(option, manual, option)
        # Both forms in the synopsis: rendering and reading back.
        synopsis = manual.split(".SH SYNOPSIS")[1].split(".SH")[0]
        words = set(re.findall(r"(?<![\w-])(--?[a-z][a-z-]*|[A-Z]+)", synopsis))
        self.assertTrue({"TEXT", "OUTPUT", "-t", "-w", "-q", "-d", "--decode", "FILE"} <= words,
                        words)
        for name in ("sine", "square", "sawtooth", "triangle", "0 to 40", "default 5"):
            self.assertIn(name, help_text)
            self.assertIn(name, manual)

    def test_waveforms(self):
        # 'A' is 2015 Hz, which 2000 samples a second fold to 15 Hz: the first samples climb
        # slowly for every waveform but the square, which jumps to full scale.
        expected_start = {
            "sine": [127, 132, 138, 144],
            "square": [127, 254, 254, 254],
            "sawtooth": [127, 128, 130, 132],
            "triangle": [127, 130, 134, 138],
        }
        for waveform, start in expected_start.items():
            data = self.rendered("--waveform", waveform, "A")
            self.assertEqual(len(data), 44 + 2 * 1000, waveform)
            self.assertEqual(list(data[44:48]), start, waveform)
            # The sine alone leaves its last 100 samples silent.
            tail = set(data[44 + 900:44 + 1000])
            self.assertEqual(tail == {127}, waveform == "sine", waveform)


class ReaderTest(unittest.TestCase):
    """Python's wave module must read the files; sox_reader_test.sh does the same with sox."""

    def test_python_wave(self):
        result = run("-t", "7", "Hello, world", "-")
        self.assertEqual(result.returncode, 0, result)
        with tempfile.TemporaryFile() as f:
            f.write(result.stdout)
            f.seek(0)
            with wave.open(f, "rb") as w:
                self.assertEqual(w.getframerate(), 2000)
                self.assertEqual(w.getnchannels(), 1)
                self.assertEqual(w.getsampwidth(), 1)
                self.assertEqual(w.getnframes(), 13 * 1399)
                self.assertEqual(len(w.readframes(w.getnframes())), 13 * 1399)


if __name__ == "__main__":
    TOOL, MANUAL = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)
