"""WAVCreate from Python through ctypes, with UTF-16-LE bytes ending in two zero bytes (not
ctypes.c_wchar_p, which is UTF-32 on Linux). Renders the golden set's every-byte text (the
bytes 0x01 to 0xFF of Windows-1252) at 7 tenths, to be compared with the golden file.

usage: python3 host_python.py FOLDER    writes FOLDER/every-byte-7.wav
"""
import ctypes
import os
import sys


def utf16(text):
    return (text + "\0").encode("utf-16-le")


def cp1252(byte):
    # The five bytes Windows-1252 leaves unused stand for the C1 controls of the same value.
    try:
        return bytes([byte]).decode("cp1252")
    except UnicodeDecodeError:
        return chr(byte)


wavcreate = ctypes.CDLL("libwavcreate.so.1")
wavcreate.WAVCreate.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32]
wavcreate.WAVCreate.restype = ctypes.c_int32

text = "".join(cp1252(byte) for byte in range(1, 256))
path = os.path.join(sys.argv[1], "every-byte-7.wav")
sys.exit(0 if wavcreate.WAVCreate(utf16(text), utf16(path), 7) == 999 else 1)
