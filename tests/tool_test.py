#!/usr/bin/env python3
"""The wavcreate tool end to end, and real readers of the files it writes.

usage: tool_test.py PATH_TO_WAVCREATE PATH_TO_MANUAL_PAGE
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import wave

TOOL = None
MANUAL = None
# An emulator that runs the tool when it was built for another processor.
RUNNER = os.environ.get("WAVCREATE_RUNNER", "").split()


def run(*args, stdin=None):
    return subprocess.run([*RUNNER, TOOL, *args], input=stdin, capture_output=True)


class ToolTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="wavcreate-tool-")
        self.addCleanup(shutil.rmtree, self.dir)

    def out(self, name="out.wav"):
        return os.path.join(self.dir, name)

    def test_renders_and_summarises(self):
        result = run("AB", self.out())
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(result.stdout.decode(),
                         f"{self.out()}: 3 tones, 3000 samples, 1.500 seconds, 3044 bytes\n")
        with open(self.out(), "rb") as f:
            data = f.read()
        self.assertEqual(len(data), 3044)
        self.assertEqual(list(data[44:54]), [127, 132, 138, 144, 150, 156, 162, 168, 173, 179])

    def test_tenths_and_utf8_text(self):
        # "été" is three Windows-1252 bytes: four tones of 1399 samples at 7 tenths.
        result = run("-t", "7", "été", self.out())
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(os.path.getsize(self.out()), 44 + 4 * 1399)

    def test_text_from_standard_input(self):
        self.assertEqual(run("AB", self.out("direct.wav")).returncode, 0)
        result = run("-", self.out("piped.wav"), stdin=b"AB\r\nignored line\n")
        self.assertEqual(result.returncode, 0, result)
        with open(self.out("direct.wav"), "rb") as a, open(self.out("piped.wav"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_text_starting_with_a_dash(self):
        result = run("--", "-x", self.out())
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(os.path.getsize(self.out()), 44 + 3 * 1000)

    def test_help_and_version(self):
        self.assertIn(b"usage: wavcreate", run("--help").stdout)
        self.assertEqual(run("--version").stdout, b"wavcreate 1.0.0.1\n")

    def test_manual_page_and_help_agree(self):
        help_text = run("--help").stdout.decode()
        with open(MANUAL) as f:
            manual = f.read().replace("\\-", "-").replace("\\fB", "").replace("\\fR", "")
        options = set(re.findall(r"(?<![\w-])(--?[a-z][a-z-]*)", help_text))
        self.assertIn("--waveform", options)
        for option in options:
            self.assertIn(option, manual, option)
        for name in ("sine", "square", "sawtooth", "triangle", "0 to 40", "default 5"):
            self.assertIn(name, help_text)
            self.assertIn(name, manual)

    def test_refusals_and_failures_exit_1(self):
        for args, message in [
            (["-t", "41", "AB", self.out()], "tone length must be 0 to 40 tenths"),
            (["x" * 2000, self.out()], "text longer than 1999 bytes"),
            (["AB", os.path.join(self.dir, "missing", "out.wav")], "fopen():error en genwav()"),
            (["AB", "/dev/full"], "could not write the file"),
        ]:
            result = run(*args)
            self.assertEqual(result.returncode, 1, args)
            self.assertIn(message, result.stdout.decode(), args)
        self.assertFalse(os.path.exists(self.out()))

    def test_usage_errors_exit_2(self):
        for args in [[], ["AB"], ["a", "b", "c"], ["-t", "x", "AB", self.out()],
                     ["-t"], ["--bogus", "AB", self.out()], ["-w", "Sine", "AB", self.out()],
                     [b"\xff\xfe", self.out()], ["AB", b"bad\xc0\xafname"]]:
            result = run(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(b"wavcreate:", result.stderr, args)
        self.assertIn(b"sine, square, sawtooth or triangle",
                      run("-w", "noise", "AB", self.out()).stderr)
        self.assertEqual(os.listdir(self.dir), [])

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
            path = self.out(waveform + ".wav")
            result = run("--waveform", waveform, "A", path)
            self.assertEqual(result.returncode, 0, result)
            with open(path, "rb") as f:
                data = f.read()
            self.assertEqual(len(data), 44 + 2 * 1000, waveform)
            self.assertEqual(list(data[44:48]), start, waveform)
            # The sine alone leaves its last 100 samples silent.
            tail = set(data[44 + 900:44 + 1000])
            self.assertEqual(tail == {127}, waveform == "sine", waveform)


class ReaderTest(unittest.TestCase):
    """Python's wave module must read the files; sox_reader_test.sh does the same with sox."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="wavcreate-readers-")
        cls.path = os.path.join(cls.dir, "hello.wav")
        result = run("-t", "7", "Hello, world", cls.path)
        assert result.returncode == 0, result

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def test_python_wave(self):
        with wave.open(self.path, "rb") as w:
            self.assertEqual(w.getframerate(), 2000)
            self.assertEqual(w.getnchannels(), 1)
            self.assertEqual(w.getsampwidth(), 1)
            self.assertEqual(w.getnframes(), 13 * 1399)
            self.assertEqual(len(w.readframes(w.getnframes())), 13 * 1399)


if __name__ == "__main__":
    TOOL, MANUAL = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)
