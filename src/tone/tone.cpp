#include "tone/tone.h"

#include <cmath>
#include <cstdint>
#include <cstring>

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

// Runs the loop shared by every waveform: `sample(i)` for i = 0, 1, ... The loop tests at
// its end, so once the guard 0 < bound has passed, sample 0 is always computed, and a bound
// with a fraction computes ceil(bound) samples. A bound beyond tone_buffer computes nothing.
template <typename Sample> void fill(double bound, Sample sample)
{
    if (!(0.0 < bound) || bound > tone_buffer_size)
        return;
    int32_t index = 0;
    double position = 0.0;
    do {
        tone_buffer[index] = sample(position);
        ++index;
        position = static_cast<double>(index);
    } while (position < bound);
}

} // namespace

void gentone(double frequency, double tone_length, double sample_rate, const char *waveform,
             double amplitude, double phase)
{
    if (waveform == nullptr)
        return;
    const double step = frequency / sample_rate;
    // The order of the operations is part of the result: step times i, times two pi, plus
    // the phase.
    auto angle = [&](double i) { return ((step * i) * two_pi_short) + phase; };

    if (std::strcmp(waveform, "sine") == 0) {
        fill(tone_length - sine_shortening,
             [&](double i) { return std::sin(angle(i)) * amplitude; });
    } else if (std::strcmp(waveform, "square") == 0) {
        fill(tone_length, [&](double i) {
            // Each test sees the value the one before stored: with a negative amplitude the
            // positive half ends at the negated amplitude too.
            double value = std::sin(angle(i));
            if (value > 0.0)
                value = amplitude;
            if (value == 0.0)
                value = 0.0;
            if (value < 0.0)
                value = -amplitude;
            return value;
        });
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
