// The tone generator: how many positions each waveform computes, and their values.
#include "entry/genwav.h"
#include "tone/tone.h"
#include "wav/wav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>
#if defined(__x86_64__)
#include <cpuid.h>
#endif

using wavcreate::gentone;
using wavcreate::tone_buffer;
using wavcreate::tone_buffer_size;

namespace {

constexpr double untouched = 7.0;

void fill_untouched() { std::fill(tone_buffer, tone_buffer + tone_buffer_size, untouched); }

// Positions written by the last gentone, counted from 0; checks that nothing beyond them was.
int computed_positions()
{
    const int count =
        static_cast<int>(std::find(tone_buffer, tone_buffer + tone_buffer_size, untouched) -
                         tone_buffer);
    for (int i = count; i < tone_buffer_size; ++i)
        EXPECT_EQ(tone_buffer[i], untouched) << "position " << i;
    return count;
}

struct span_case {
    const char *waveform;
    double tone_length;
    int positions;
};

void PrintTo(const span_case &c, std::ostream *out)
{
    *out << (c.waveform != nullptr ? c.waveform : "NULL") << " of " << c.tone_length;
}

class ComputedSpan : public ::testing::TestWithParam<span_case> {};

TEST_P(ComputedSpan, EndTestedLoopCoversCeilingOfBound)
{
    const span_case c = GetParam();
    fill_untouched();
    gentone(440.0, c.tone_length, 2000.0, c.waveform, 1.0, 0.0);
    EXPECT_EQ(computed_positions(), c.positions);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, ComputedSpan,
    ::testing::Values(
        // The sine stops 100 samples short of the tone.
        span_case{"sine", 1000.0, 900}, span_case{"sine", wavcreate::tonelength(1), 101},
        span_case{"sine", wavcreate::tonelength(7), 1300},
        span_case{"sine", wavcreate::tonelength(40), 7900}, span_case{"sine", 100.0, 0},
        span_case{"sine", 100.5, 1}, span_case{"sine", 8101.0, 8001},
        span_case{"sine", 8101.5, 0}, span_case{"sine", NAN, 0},
        // The other waveforms run to the tone's length itself.
        span_case{"square", wavcreate::tonelength(1), 201},
        span_case{"sawtooth", wavcreate::tonelength(1), 201},
        span_case{"triangle", wavcreate::tonelength(1), 201}, span_case{"square", 0.0, 0},
        span_case{"sawtooth", -3.0, 0}, span_case{"triangle", 0.5, 1},
        span_case{"square", 8001.0, 8001}, span_case{"square", 8001.5, 0},
        span_case{"triangle", INFINITY, 0},
        // Names are compared exactly.
        span_case{"Sine", 1000.0, 0}, span_case{"sine ", 1000.0, 0},
        span_case{"SQUARE", 1000.0, 0}, span_case{"", 1000.0, 0},
        span_case{nullptr, 1000.0, 0}));

TEST(Sine, StartsAtPhaseAndMirrorsNegativeFrequencies)
{
    gentone(713.0, 1000.0, 2000.0, "sine", 1.0, 0.0);
    const std::vector<double> positive(tone_buffer, tone_buffer + 900);
    gentone(-713.0, 1000.0, 2000.0, "sine", 1.0, 0.0);
    EXPECT_EQ(positive[0], 0.0);
    for (int i = 0; i < 900; ++i)
        ASSERT_EQ(tone_buffer[i], -positive[i]) << "position " << i;

    gentone(0.0, 300.0, 2000.0, "sine", 0.5, 1.0);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(tone_buffer[i], std::sin(1.0) * 0.5) << "position " << i;
}

std::vector<double> first_samples(const char *waveform, double frequency, int count,
                                  double amplitude = 1.0)
{
    gentone(frequency, count, 2000.0, waveform, amplitude, 0.0);
    return std::vector<double>(tone_buffer, tone_buffer + count);
}

void expect_near_all(const std::vector<double> &actual, const std::vector<double> &expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], 5e-9) << "sample " << i;
}

TEST(Square, HalvesAtAmplitudeAndOnlyTheFirstSampleIsZero)
{
    const auto samples = first_samples("square", 500.0, 9);
    const std::vector<double> expected{0.0, 1.0, 1.0, -1.0, -1.0, 1.0, 1.0, -1.0, -1.0};
    EXPECT_EQ(samples, expected);
}

TEST(Square, NegativeAmplitudeEndsBothHalvesAtItsNegation)
{
    const auto samples = first_samples("square", 500.0, 5, -0.5);
    const std::vector<double> expected{0.0, 0.5, 0.5, 0.5, 0.5};
    EXPECT_EQ(samples, expected);
}

TEST(Sawtooth, RampsOncePerPeriodWithTheShortPiOnItsJumps)
{
    const auto samples = first_samples("sawtooth", 100.0, 41);
    std::vector<double> expected;
    for (int period = 0; period < 2; ++period) {
        for (int i = 0; i < 10; ++i)
            expected.push_back(0.1 * i);
        for (int i = 10; i < 20; ++i)
            expected.push_back(-1.0 + 0.1 * (i - 10));
    }
    expected.push_back(0.0);
    expected[30] = 1.0; // this jump lands on the top of the ramp, see below
    expect_near_all(samples, expected);
    // On the first jump the sine of u is exactly zero: atan(+inf) times k.
    EXPECT_DOUBLE_EQ(samples[10], -(M_PI / 2) * 0.6366197724870984);
    EXPECT_LT(samples[10], -1.0);
    // On the next, 3.141592653 falls short of pi: a small sine of definite sign.
    EXPECT_GT(samples[30], 0.99999999);
    EXPECT_LT(samples[30], 1.0);
}

TEST(Triangle, RisesToAmplitudeAndFallsToItsNegation)
{
    const auto samples = first_samples("triangle", 100.0, 21);
    const std::vector<double> expected{0.0, 0.2, 0.4, 0.6, 0.8, 1.0, 0.8, 0.6, 0.4, 0.2, 0.0,
                                       -0.2, -0.4, -0.6, -0.8, -1.0, -0.8, -0.6, -0.4, -0.2,
                                       0.0};
    expect_near_all(samples, expected);
    const auto half = first_samples("triangle", 100.0, 21, 0.5);
    EXPECT_NEAR(half[5], 0.5, 5e-9);
    EXPECT_NEAR(half[15], -0.5, 5e-9);
}

TEST(Waveforms, ZeroHertzIsOneNearZeroValueWrittenAsSilence)
{
    for (const char *waveform : {"sawtooth", "triangle"}) {
        const auto samples = first_samples(waveform, 0.0, 50);
        EXPECT_NE(samples[0], 0.0) << waveform;
        EXPECT_LT(std::fabs(samples[0]), 1e-9) << waveform;
        for (double sample : samples) {
            EXPECT_EQ(sample, samples[0]) << waveform;
            EXPECT_EQ(wavcreate::sample8(sample), 127) << waveform;
        }
    }
    for (double sample : first_samples("square", 0.0, 50))
        EXPECT_EQ(sample, 0.0);
}

// The square of a sine value, as gentone makes it for amplitude 1.
double square_of(double sine) { return sine > 0.0 ? 1.0 : sine < 0.0 ? -1.0 : 0.0; }

class VectorSines : public ::testing::TestWithParam<wavcreate::sine_path> {};

// A proof by exhaustion: a sample depends only on the code, the waveform and the position, so
// every code at every position a tone reaches (the sine's 0 to 7899 and the square's 0 to 8000,
// at 40 tenths) must give the scalar sine's byte through each vector path.
TEST_P(VectorSines, GiveTheScalarBytesForEveryCodeAndPosition)
{
    using wavcreate::sample8;
    if (!wavcreate::sine_path_available(GetParam()))
        GTEST_SKIP() << "this build or processor has no such path";
    std::vector<double> scalar(tone_buffer_size);
    std::vector<double> vector(tone_buffer_size);
    long differing_values = 0;
    for (int code = -128; code <= 127; ++code) {
        const double step = static_cast<double>(code * 31) / 2000.0;
        wavcreate::sines(step, 0.0, tone_buffer_size, scalar.data(), wavcreate::sine_path::scalar);
        wavcreate::sines(step, 0.0, tone_buffer_size, vector.data(), GetParam());
        for (int i = 0; i < tone_buffer_size; ++i) {
            differing_values += vector[i] != scalar[i];
            if (i < 7900)
                ASSERT_EQ(sample8(vector[i]), sample8(scalar[i])) << "code " << code << ", sine " << i;
            ASSERT_EQ(sample8(square_of(vector[i])), sample8(square_of(scalar[i])))
                << "code " << code << ", square " << i;
        }
    }
    // The paths really differ, in the last bits of many values.
    EXPECT_GT(differing_values, 0);
}

INSTANTIATE_TEST_SUITE_P(Paths, VectorSines,
                         ::testing::Values(wavcreate::sine_path::sse2, wavcreate::sine_path::avx2),
                         [](const auto &info) {
                             return info.param == wavcreate::sine_path::sse2 ? "SSE2" : "AVX2";
                         });

// Whether the processor has AVX2 and the system saves its registers, read from CPUID and XCR0
// here rather than through the compiler runtime that the library asks.
bool processor_has_avx2()
{
#if defined(__x86_64__)
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || (ecx & bit_OSXSAVE) == 0)
        return false;
    unsigned xcr0, xcr0_high;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0));
    constexpr unsigned sse_and_avx_state = 0x6;
    if ((xcr0 & sse_and_avx_state) != sse_and_avx_state)
        return false;
    return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & bit_AVX2) != 0;
#else
    return false;
#endif
}

// The AVX2 path only where the processor has AVX2: taken elsewhere, its first instruction stops
// the host with SIGILL. The suite runs this test again on an emulated processor with AVX but
// not AVX2.
TEST(SinePaths, AVX2OnlyWhereTheProcessorHasIt)
{
    using wavcreate::sine_path;
    const bool vector_sines = wavcreate::sine_path_available(sine_path::sse2);
    EXPECT_EQ(wavcreate::sine_path_available(sine_path::avx2),
              vector_sines && processor_has_avx2());
    if (!processor_has_avx2())
        EXPECT_NE(wavcreate::active_sine_path, sine_path::avx2);
}


} // namespace
