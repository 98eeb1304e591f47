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
// glibc documents an error bound for libmvec's sines, not their bits, and the machine's glibc
// decides which libmvec a process loads: a vector sine is trusted to lie within this many units
// in the last place of the scalar sine, and no closer.
constexpr int vector_sine_error_ulps = 4;

// How close to a byte boundary of the 8-bit encoding a sine times 127 must come before the
// scalar sine decides its byte. Within vector_sine_error_ulps a sine (at most 1) moves by at
// most 4 x 2^-53, and times 127 by under 6e-14; the encoding's own level (x + 1) x 127 lies
// within 4e-14 of x x 127 + 127. The margin leaves ten times that. Sines of exactly 0 and 1
// lie on a boundary; others fall within the margin about once in 5 x 10^11.
constexpr double byte_boundary_margin = 1e-12;

// Added and taken away again, rounds a value of -127 to 127 to the nearest whole number: from
// 2^52 up a double has no fraction.
constexpr double round_to_whole = 6755399441055744.0; // 1.5 x 2^52

// GCC warns that passing a four-double vector changes the ABI without AVX; the only caller of
// that instantiation is compiled for AVX2.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
// The lanes a vector comparison found true, one bit each. By reference: clang refuses a
// four-double argument where the caller is not compiled for AVX, as the template is not.
int lanemask(const double2 &flags)
{
    return __builtin_ia32_movmskpd(flags);
}
__attribute__((target("avx2"))) int lanemask(const double4 &flags)
{
    return __builtin_ia32_movmskpd256(flags);
}

// The vector sine of `angle`, except where a value lies within byte_boundary_margin of a byte
// boundary: there a vector sine's error could move the byte, and the scalar sine decides. The
// test is a few operations on the whole vector; the scalar sine is rare.
template <typename Vector, int width, Vector (*vector_sin)(Vector)>
[[gnu::always_inline]] inline Vector guardedsine(Vector angle)
{
    Vector value = vector_sin(angle);
    const Vector scaled = value * 127.0;
    const Vector offset = scaled - ((scaled + round_to_whole) - round_to_whole);
    const auto near_boundary = offset * offset < byte_boundary_margin * byte_boundary_margin;
    if (lanemask(reinterpret_cast<Vector>(near_boundary)) != 0) {
        for (int k = 0; k < width; ++k) {
            if (near_boundary[k])
                value[k] = std::sin(angle[k]);
        }
    }
    return value;
}

// The angles of `width` positions at a time, in the scalar loop's order of operations, through
// guardedsine. Inlined into a function compiled for the vector's instruction set.
template <typename Vector, int width, Vector (*vector_sin)(Vector)>
[[gnu::always_inline]] inline void vectorsines(double step, double phase, int count, double *out)
{
    Vector index;
    for (int k = 0; k < width; ++k)
        index[k] = k;
    int i = 0;
    for (; i + width <= count; i += width) {
        const Vector angle = ((step * index) * two_pi_short) + phase;
        // Advanced before the call, so that the next angle does not wait on a reload of it.
        index += width;
        const Vector value = guardedsine<Vector, width, vector_sin>(angle);
        std::memcpy(out + i, &value, sizeof value);
    }
    if (i < count) {
        const Vector value =
            guardedsine<Vector, width, vector_sin>(((step * index) * two_pi_short) + phase);
        for (int k = 0; i + k < count; ++k)
            out[i + k] = value[k];
    }
}

// How many units in the last place lie between two finite doubles.
uint64_t ulpsapart(double a, double b)
{
    int64_t bits_a;
    int64_t bits_b;
    std::memcpy(&bits_a, &a, sizeof a);
    std::memcpy(&bits_b, &b, sizeof b);
    // Sign and magnitude into one ordered scale, so that -0 and +0 meet and the count runs
    // through zero.
    const int64_t ordered_a = bits_a < 0 ? -(bits_a & INT64_MAX) : bits_a;
    const int64_t ordered_b = bits_b < 0 ? -(bits_b & INT64_MAX) : bits_b;
    return ordered_a > ordered_b
               ? static_cast<uint64_t>(ordered_a) - static_cast<uint64_t>(ordered_b)
               : static_cast<uint64_t>(ordered_b) - static_cast<uint64_t>(ordered_a);
}

// The angles the load-time check tries: positions of real tones, from the first few to the
// last of a 40-tenths tone, at low, high and negative codes, where a vector sine reduces small
// and large angles differently.
constexpr struct {
    int code;
    int position;
} checked_angles[] = {{1, 3},      {65, 1},      {101, 17},    {127, 999},
                      {-23, 1399}, {-128, 4000}, {-128, 7899}, {127, 8000}};
constexpr int checked_angle_count = sizeof checked_angles / sizeof checked_angles[0];
static_assert(checked_angle_count % 4 == 0, "whole vectors of two and of four");

// Whether the vector sine `vector_sin` lies within vector_sine_error_ulps of the scalar sine
// at every checked angle.
template <typename Vector, int width, Vector (*vector_sin)(Vector)>
[[gnu::always_inline]] inline bool vectorwithinbound()
{
    for (int first = 0; first < checked_angle_count; first += width) {
        Vector angle;
        for (int k = 0; k < width; ++k) {
            const auto &checked = checked_angles[first + k];
            const double step = static_cast<double>(checked.code * 31) / 2000.0;
            angle[k] = (step * checked.position) * two_pi_short;
        }
        const Vector value = vector_sin(angle);
        for (int k = 0; k < width; ++k) {
            if (!std::isfinite(value[k]) ||
                ulpsapart(value[k], std::sin(angle[k])) > vector_sine_error_ulps)
                return false;
        }
    }
    return true;
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

bool sse2_within_bound()
{
    return vectorwithinbound<double2, 2, _ZGVbN2v_sin>();
}

__attribute__((target("avx2"))) bool avx2_within_bound()
{
    return vectorwithinbound<double4, 4, _ZGVdN4v_sin>();
}
#pragma GCC diagnostic pop
#endif

// The fastest path the processor has whose vector sines, from whichever libmvec this process
// loaded, lie within the documented bound; else the scalar sine.
sine_path fastest_sine_path()
{
#if defined(WAVCREATE_HAVE_LIBMVEC)
    if (sine_path_available(sine_path::avx2) && avx2_within_bound())
        return sine_path::avx2;
    if (sine_path_available(sine_path::sse2) && sse2_within_bound())
        return sine_path::sse2;
#endif
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
    // A tone of 0 Hz (a space, the terminator) has one angle at every position, and a sine
    // of 0 lies on a byte boundary, where a vector sine would defer to the scalar one anyway.
    if (step == 0.0) {
        std::fill(out, out + count, std::sin(((step * 0) * two_pi_short) + phase));
        return;
    }
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
