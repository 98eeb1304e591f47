// The analysis of a converted file's sound, at work_rate: where its tones lie, then what each
// tone holds.
#pragma once

#include "decode/decode_parts.h"

#include <complex>
#include <vector>

namespace wavcreate {

constexpr double pi = 3.14159265358979323846;

// The tones' layout in the sound.
struct grid {
    int tenths = 0;
    double step = 2.0;    // work samples per sample at the library's 2000 per second
    double origin = 0.0;  // where the first sounding tone starts, in work samples
    double matched = 0.0; // the share of the sound's energy that the tones' sines match
};

// Finds the tone length, the clock and the first tone's start. False when the sound holds no
// tone length's comb of tones at all.
bool findgrid(const std::vector<float> &samples, grid &found);

// The signed code of a Windows-1252 byte, and the frequency in hertz, folded to 0 to 1000, that
// its tone takes at the library's rate.
int signedcode(int byte);
double foldedfrequency(int byte);

// An in-place radix-2 Fourier transform; `size` a power of two.
void fft(std::complex<float> *data, int size);

// The samples of one tone of `code` (a Windows-1252 byte, 0 for silence) at `tenths`, as the
// library writes them, each the file's byte less silence's 127.
void rendercode(int code, int tenths, const char *waveform, std::vector<float> &out);

} // namespace wavcreate
