// Tone generator: one tone's samples, as doubles, into the process-wide tone_buffer.
#pragma once

namespace wavcreate {

// The longest tone the entry accepts is 40 tenths, 8000 samples; one more position holds
// the extra sample that the end-tested loop computes for a length with a fraction.
constexpr int tone_buffer_size = 8001;

// Samples of the last tone, from position 0. Positions a tone does not compute keep what an
// earlier tone left there: the sine relies on that for its silent tail.
extern double tone_buffer[tone_buffer_size];

// Fills tone_buffer with one tone of `waveform` ("sine", "square", "sawtooth" or "triangle",
// compared exactly). `tone_length` is a sample count that need not be whole. A name that
// matches none, a length with nothing to compute, or one that would not fit tone_buffer
// leaves tone_buffer as it was.
void gentone(double frequency, double tone_length, double sample_rate, const char *waveform,
             double amplitude, double phase);

// How the sine and the square compute their sines: one scalar sin per position, or several
// positions at a time through glibc's vector math library where it exists (x86-64 with glibc),
// with SSE2 or AVX2. The vector sines differ from the scalar ones in their last bits for some
// positions, but never in a byte of the file: a value so close to a byte boundary that the
// error glibc allows its vector sines could move it takes the scalar sine, and every code at
// every position a tone can reach was checked.
enum class sine_path { scalar, sse2, avx2 };

// Whether this build and this processor can take `path`.
bool sine_path_available(sine_path path);

// The path gentone takes: the fastest available whose vector sines lie within glibc's
// documented error bound of the scalar ones at a few angles, chosen when the library is
// loaded; else the scalar path. Tests and benchmarks may set it to any available path.
extern sine_path active_sine_path;

// sin(((step * i) * 6.283185306) + phase) for the positions i = 0 .. count - 1 into `out`,
// through `path`.
void sines(double step, double phase, int count, double *out, sine_path path);

// Sets every position of tone_buffer to silence, so that a render starts from the state
// the buffer has when the library is loaded.
void cleartone();

} // namespace wavcreate
