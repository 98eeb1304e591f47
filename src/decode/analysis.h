// The analysis of a converted file's sound, at work_rate: where its tones lie, then what each
// tone holds.
#pragma once

#include "decode/decode_parts.h"

#include <complex>
#include <utility>
#include <vector>

namespace wavcreate {

constexpr double pi = 3.14159265358979323846;

// The tones' layout in the sound.
struct grid {
    int tenths = 0;
    double step = 2.0;    // work samples per sample at the library's 2000 per second
    double origin = 0.0;  // where the first sounding tone starts, in work samples
    double matched = 0.0; // the share of the sound's energy that the tones' sines match
    // The clock is the library's, held: not measured again on the tones' starts, which a room
    // moves each its own way (its smeared phases walk a line through them hundreds of parts in
    // a million off).
    bool clock_held = false;
    // Other first starts where the tones' phases agree about as well: a tone or two agree every
    // half period of their frequencies, and only their codes' tones tell which start is theirs.
    std::vector<double> other_origins;
    // Every clock the tones' frequencies allow, as steps, the grid's own among them before its
    // last refinement: a few tones fit a clock 0.1 % off about as well, each on its pair's
    // other code.
    std::vector<double> other_steps;
    // Of a tone or two, which say nothing of the clock, the starts their phases agree on at
    // each of those other clocks, as (origin, step).
    std::vector<std::pair<double, double>> other_clock_starts;
    // Whole multiples of the tone length whose combs matched nearly as well: a square's slow
    // tones match best in pieces, the more so at a clock off the library's.
    std::vector<int> longer_lengths;
};

// Finds the tone length (`tenths_wanted`, when not 0), the clock and the first tone's start.
// False when the sound holds no tone length's comb of tones at all.
bool findgrid(const std::vector<float> &samples, grid &found, int tenths_wanted = 0);

// Where the sound first rises, in work samples: where the first sounding tone starts, to a
// sample or so; with `beating`, also a first tone whose level dips to near nothing and back.
double firstsound(const std::vector<float> &samples, bool beating = false);

// The signed code of a Windows-1252 byte, and the frequency in hertz, folded to 0 to 1000, that
// its tone takes at the library's rate.
int signedcode(int byte);
double foldedfrequency(int byte);

// An in-place radix-2 Fourier transform; `size` a power of two.
void fft(std::complex<float> *data, int size);

// Every code's byte; 0 stands for silence, which is what a space and the text's end render.
constexpr int code_count = 256;
inline bool iscandidate(int code) { return code != ' '; }

// The samples of one tone of `code` (a Windows-1252 byte, 0 for silence) at `tenths`, as the
// library writes them, each the file's byte less silence's 127.
void rendercode(int code, int tenths, const char *waveform, std::vector<float> &out);

// ---- Arithmetic on the sound

// The modified Bessel function of the first kind and order 0, for Kaiser windows.
double besseli0(double x);

// Solves the banded symmetric positive system in place (Cholesky): `band` holds, for each row
// i, the entries (i, i - d) for d = 0 to width - 1; a width of `size` is a full matrix. False
// where the system is not positive.
bool solvebanded(std::vector<double> &band, std::vector<double> &right, int size, int width);

float dot(const float *a, const float *b, int count);
double dotd(const double *a, const double *b, int count);

// The sound at `count` instants `step` work samples apart from `start`, through a low-pass that
// passes the tones' band.
void extract(const std::vector<float> &samples, double start, double step, int count, float *out);

// `length` samples from `from` less their mean, into `out` (which may be `from`); returns their
// energy.
double centred(const float *from, int length, float *out);

// `signal` through `filter` (taps centred on the middle one), the output reaching half the
// filter's length past each end.
std::vector<float> filtered(const float *signal, int length, const std::vector<double> &filter);

// A Kaiser-windowed sinc low-pass of 2 * `half` + 1 taps, its gain 1 below `cutoff` hertz at
// the library's rate: 80 dB down a width of about 16000 / `half` hertz above.
std::vector<double> lowpassfilter(double cutoff, int half);

// `signal` through the low-pass `filter`, its delay taken away.
std::vector<float> lowpassed(const std::vector<float> &signal, const std::vector<double> &filter);

// ---- Where the grid's tone length leaves doubt

// The tone length whose tones, from the first tone's start, match codes' tones best; of its
// whole multiples that match about as well, the longest: `layout` with that length, and the
// first tone's start it was measured from as its origin.
grid likeliestlength(const std::vector<float> &samples, const grid &layout);

} // namespace wavcreate
