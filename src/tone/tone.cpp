#include "tone/tone.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(WAVCREATE_HAVE_LIBMVEC)
// glibc's vector sines (libmvec, part of libc6 on x86-64), in the vector function ABI: two
// doubles with SSE2, four with AVX2.
typedef double double2 __attribute__((vector_size(16)));
typedef double double4 __attribute__((vector_size(32)));
extern "C" double2 _ZGVbN2v_sin(double2);
extern "C" __attribute__((target("avx2"))) double4 _ZGVdN4v_sin(double4);
#endif

namespace wavcreate {

double tone_buffer[tone_buffer_size];

namespace {

// All constants follow from pi written as 3.141592653, as the original devices computed
// them; the correctly rounded values would move samples across byte boundaries.
constexpr double pi_short = 3.141592653;
constexpr double two_pi_short = 6.283185306;
constexpr double half_pi_short = 1.5707963265;
constexpr double two_over_pi_short = 0.6366197724870984; // 2 / 3.141592653

// Every sine tone is cut this many samples short; the tail stays silent.
constexpr double sine_shortening = 100.0;

// How many positions the loop shared by every waveform computes for `bound`. The loop tests at
// its end, so once the guard 0 < bound has passed, sample 0 is always computed, and a bound
// with a fraction computes ceil(bound) samples. A bound beyond tone_buffer computes nothing.
int positions(double bound)
{
    if (!(0.0 < bound) || bound > tone_buffer_size)
        return 0;
    return std::max(1, static_cast<int>(std::ceil(bound)));
}

// Runs `sample(i)` for the positions of `bound`.
template <typename Sample> void fill(double bound, Sample sample)
{
    const int count = positions(bound);
    for (int index = 0; index < count; ++index)
        tone_buffer[index] = sample(static_cast<double>(index));
}

#if defined(WAVCREATE_HAVE_LIBMVEC)
// GCC warns that passing a four-double vector changes the ABI without AVX; the only caller of
// that instantiation is compiled for AVX2.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
// The angles of `width` positions at a time, in the scalar loop's order of operations, through
// the vector sine `vector_sin`. Inlined into a function compiled for the vector's instruction
// set.
template <typename Vector, int width, Vector (*vector_sin)(Vector)>
[[gnu::always_inline]] inline void vectorsines(double step, double phase, int count, double *out)
{
    Vector index;
    for (int k = 0; k < width; ++k)
        index[k] = k;
    for (int i = 0; i < count; i += width) {
        const Vector value = vector_sin(((step * index) * two_pi_short) + phase);
        for (int k = 0; k < width && i + k < count; ++k)
            out[i + k] = value[k];
        index += width;
    }
}

void sines_sse2(double step, double phase, int count, double *out)
{
    vectorsines<double2, 2, _ZGVbN2v_sin>(step, phase, count, out);
}

__attribute__((target("avx2"))) void sines_avx2(double step, double phase, int count,
                                                double *out)
{
    vectorsines<double4, 4, _ZGVdN4v_sin>(step, phase, count, out);
}
#pragma GCC diagnostic pop
#endif

sine_path fastest_sine_path()
{
    if (sine_path_available(sine_path::avx2))
        return sine_path::avx2;
    if (sine_path_available(sine_path::sse2))
        return sine_path::sse2;
    return sine_path::scalar;
}

} // namespace

sine_path active_sine_path = fastest_sine_path();

bool sine_path_available(sine_path path)
{
    switch (path) {
    case sine_path::scalar:
        return true;
#if defined(WAVCREATE_HAVE_LIBMVEC)
    case sine_path::sse2:
        return true;
    case sine_path::avx2:
        // The path is chosen by a static initialiser, which may run before the compiler
        // runtime's own has read the processor's features.
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2");
#else
    case sine_path::sse2:
    case sine_path::avx2:
        return false;
#endif
    }
    return false;
}

void sines(double step, double phase, int count, double *out, sine_path path)
{
#if defined(WAVCREATE_HAVE_LIBMVEC)
    if (path == sine_path::avx2)
        return sines_avx2(step, phase, count, out);
    if (path == sine_path::sse2)
        return sines_sse2(step, phase, count, out);
#else
    (void)path;
#endif
    // The order of the operations is part of the result: step times i, times two pi, plus
    // the phase.
    for (int i = 0; i < count; ++i)
        out[i] = std::sin(((step * i) * two_pi_short) + phase);
}

void gentone(double frequency, double tone_length, double sample_rate, const char *waveform,
             double amplitude, double phase)
{
    if (waveform == nullptr)
        return;
    const double step = frequency / sample_rate;

    if (std::strcmp(waveform, "sine") == 0) {
        const int count = positions(tone_length - sine_shortening);
        sines(step, phase, count, tone_buffer, active_sine_path);
        for (int i = 0; i < count; ++i)
            tone_buffer[i] *= amplitude;
    } else if (std::strcmp(waveform, "square") == 0) {
        const int count = positions(tone_length);
        sines(step, phase, count, tone_buffer, active_sine_path);
        for (int i = 0; i < count; ++i) {
            // Each test sees the value the one before stored: with a negative amplitude the
            // positive half ends at the negated amplitude too.
            double value = tone_buffer[i];
            if (value > 0.0)
                value = amplitude;
            if (value == 0.0)
                value = 0.0;
            if (value < 0.0)
                value = -amplitude;
            tone_buffer[i] = value;
        }
    } else if (std::strcmp(waveform, "sawtooth") == 0) {
        const double k = amplitude * two_over_pi_short;
        fill(tone_length, [&](double i) {
            // -k atan(cot(u)): a ramp. A zero sine gives an infinite cotangent, whose
            // arctangent is +-pi/2; that is the jump, so nothing guards the division.
            const double u = (((step * i) * two_pi_short - pi_short) + phase) * 0.5;
            const double cotangent = std::cos(u) / std::sin(u);
            return -(std::atan(cotangent) * k);
        });
    } else if (std::strcmp(waveform, "triangle") == 0) {
        const double k = amplitude * two_over_pi_short;
        fill(tone_length, [&](double i) {
            const double u = (((step * i) * two_pi_short - half_pi_short) + phase) * 0.5;
            const double cotangent = std::cos(u) / std::sin(u);
            return (std::fabs(-(k * std::atan(cotangent))) * 2.0) - amplitude;
        });
    }
}

void cleartone()
{
    std::memset(tone_buffer, 0, sizeof tone_buffer);
}

} // namespace wavcreate
