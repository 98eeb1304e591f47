// The tone length where the grid's leaves doubt: every length's tones, from the first tone's
// start, are matched against every code's tone in every waveform. Only a length the tones
// are, or a whole fraction of, starts each of its tones at a phase some code starts with.
#include "decode/analysis.h"

#include "decode/tuning.h"
#include "entry/genwav.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace wavcreate {

namespace {

// Every code's tone in every waveform over one period of 2000 samples: a code of frequency
// 31 c turns 31 c whole times a second, and a tone of any length repeats that period, but for
// the sine's silent tail, its last 100 samples.
constexpr int period_samples = 2000;
constexpr int sine_tail = 100;

std::vector<float> renderperiods()
{
    std::vector<float> periods(std::size(waveform_names) * code_count * period_samples, 0.0f);
    std::vector<float> samples;
    constexpr int tenths = 11; // 2200 samples, 2100 before the sine's tail
    for (std::size_t w = 0; w < std::size(waveform_names); ++w) {
        for (int code = 1; code < code_count; ++code) {
            if (!iscandidate(code))
                continue;
            rendercode(code, tenths, waveform_names[w], samples);
            std::copy(samples.begin(), samples.begin() + period_samples, &periods[(w * code_count + code) * period_samples]);
        }
    }
    return periods;
}

// The share of `heard` (centred, `length` samples) that the best code's tone of any waveform
// matches, each code's tone from the same period.
double bestshare(const std::vector<float> &periods, const std::vector<double> &code_energy, const float *heard,
                 int length, double energy, double *by_waveform)
{
    double overall = 0.0;
    for (std::size_t w = 0; w < std::size(waveform_names); ++w) {
        double best = 0.0;
        for (int code = 1; code < code_count; ++code) {
            const std::size_t row = w * code_count + code;
            if (code_energy[row] <= 0.0)
                continue;
            // The heard tone less its mean: its product with the code's tone is the product
            // with that tone less the tone's own mean.
            double product = 0.0;
            for (int from = 0; from < length; from += period_samples)
                product += dot(heard + from, &periods[row * period_samples], std::min(period_samples, length - from));
            if (product > 0.0)
                best = std::max(best, product * product / code_energy[row]);
        }
        if (by_waveform != nullptr)
            by_waveform[w] += best;
        overall = std::max(overall, best);
    }
    return energy > 0.0 ? overall / energy : 0.0;
}

// Each code's energy over its tone's first `length` samples, less their mean.
std::vector<double> codeenergies(const std::vector<float> &periods, int length)
{
    std::vector<double> energies(std::size(waveform_names) * code_count, 0.0);
    for (std::size_t row = 0; row < energies.size(); ++row) {
        const float *tone = &periods[row * period_samples];
        double sum = 0.0, squares = 0.0;
        for (int n = 0; n < length; ++n) {
            sum += tone[n % period_samples];
            squares += static_cast<double>(tone[n % period_samples]) * tone[n % period_samples];
        }
        energies[row] = squares - sum * sum / length;
    }
    return energies;
}

// Every resampler keeps the band below 900 Hz: the tone lengths are compared in it, so that
// tones a converter cut count as what it left of them.
constexpr double compared_band = 860.0;
constexpr int compared_band_half = 50;

// The first tone's start to half a work sample: where its first 200 samples, as long as the
// shortest tone, match a code's best in the compared band. From 60 ms before where the sound
// rose (a tone of slow overtones, what a resampler leaves of one near 1000 Hz, rises late) to
// 2 ms after.
double firsttonestart(const std::vector<float> &samples, const std::vector<float> &periods,
                      const std::vector<double> &band)
{
    constexpr int length = 2 * sine_tail;
    const std::vector<double> energies = codeenergies(periods, length);
    const double rose = firstsound(samples);
    std::vector<float> stretch(length + 2 * compared_band_half);
    std::vector<float> heard(length);
    double start = rose;
    double best = -1.0;
    for (double at = std::max(0.0, rose - 0.06 * work_rate); at <= rose + 0.002 * work_rate; at += 0.5) {
        extract(samples, at - compared_band_half * 2.0, 2.0, static_cast<int>(stretch.size()), stretch.data());
        const std::vector<float> cut = lowpassed(stretch, band);
        double mean = 0.0;
        for (int n = 0; n < length; ++n)
            mean += cut[compared_band_half + n];
        mean /= length;
        double energy = 0.0;
        for (int n = 0; n < length; ++n) {
            heard[n] = static_cast<float>(cut[compared_band_half + n] - mean);
            energy += static_cast<double>(heard[n]) * heard[n];
        }
        const double share = bestshare(periods, energies, heard.data(), length, energy, nullptr);
        if (share > best) {
            best = share;
            start = at;
        }
    }
    return start;
}

// How much of the sound from `origin` on tones `tenths` long match, each against every code's
// tone but for its last 100 samples, as the share of their energy: the best waveform's. A
// length the tones are not, nor a whole fraction of, puts most tones' starts in the middle of
// the file's tones, at phases no code starts with.
double lengthmatch(const std::vector<float> &sound, const std::vector<float> &periods, int tenths)
{
    const auto tone_samples = static_cast<std::size_t>(std::floor(tonelength(tenths)));
    const int length = static_cast<int>(tone_samples) - sine_tail;
    const std::vector<double> energies = codeenergies(periods, length);
    std::vector<float> heard(static_cast<std::size_t>(length));
    double matched[std::size(waveform_names)] = {};
    double energy = 0.0;
    for (std::size_t at = 0; at + static_cast<std::size_t>(length) <= sound.size(); at += tone_samples) {
        double mean = 0.0;
        for (int n = 0; n < length; ++n)
            mean += sound[at + n];
        mean /= length;
        double tone_energy = 0.0;
        for (int n = 0; n < length; ++n) {
            heard[n] = static_cast<float>(sound[at + n] - mean);
            tone_energy += static_cast<double>(heard[n]) * heard[n];
        }
        energy += tone_energy;
        bestshare(periods, energies, heard.data(), length, tone_energy, matched);
    }
    return energy > 0.0 ? *std::max_element(std::begin(matched), std::end(matched)) / energy : 0.0;
}

} // namespace

// The tone length whose tones' starts match the sound best; of its whole multiples that match
// about as well, the longest: a tone's pieces start as tones of its code do where the code's
// phase turns whole at the cut.
int likeliestlength(const std::vector<float> &samples, const grid &layout)
{
    const std::vector<double> band = lowpassfilter(compared_band, compared_band_half);
    std::vector<float> periods = renderperiods();
    // Each period low-passed as the repeating sound it stands for.
    std::vector<float> period(period_samples + 2 * compared_band_half);
    for (std::size_t row = 0; row < periods.size() / period_samples; ++row) {
        float *tone = &periods[row * period_samples];
        for (std::size_t n = 0; n < period.size(); ++n)
            period[n] = tone[(n + period_samples - compared_band_half) % period_samples];
        const std::vector<float> cut = lowpassed(period, band);
        std::copy(cut.begin() + compared_band_half, cut.begin() + compared_band_half + period_samples, tone);
    }
    // The first sound starts a tone, whatever its length: the sound from there at the
    // library's instants, at the grid's clock and at the library's, where the grid's was found
    // on the wrong length.
    const double origin = firsttonestart(samples, periods, band);
    const auto count = static_cast<int>(std::min<double>(samples.size() - origin, tuning::first_search_seconds * work_rate) / 2.0);
    std::vector<float> at_grid_clock(static_cast<std::size_t>(std::max(count, 0)));
    std::vector<float> at_library_clock(at_grid_clock.size());
    extract(samples, origin, layout.step, static_cast<int>(at_grid_clock.size()), at_grid_clock.data());
    extract(samples, origin, 2.0, static_cast<int>(at_library_clock.size()), at_library_clock.data());
    at_grid_clock = lowpassed(at_grid_clock, band);
    at_library_clock = lowpassed(at_library_clock, band);
    double scores[max_tenths + 1] = {};
    int best = 1;
    for (int tenths = 1; tenths <= max_tenths; ++tenths) {
        scores[tenths] = std::max(lengthmatch(at_grid_clock, periods, tenths), lengthmatch(at_library_clock, periods, tenths));
        if (scores[tenths] > scores[best])
            best = tenths;
    }
    int chosen = best;
    for (int tenths = 2 * best; tenths <= max_tenths; tenths += best) {
        if (scores[tenths] >= tuning::longer_reading_share * scores[best])
            chosen = tenths;
    }
    return chosen;
}

} // namespace wavcreate
