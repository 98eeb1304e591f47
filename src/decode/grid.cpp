// Finding the tones in a converted file's sound: their length, the file's clock and where the
// first tone starts. Every tone is one steady frequency from its first sample to its last, so
// the sound's spectrum changes where tones meet; those changes fall on a comb whose spacing
// is the tone length times the clock. The combs that fit are then told apart by how much of
// the sound a sine of some code, starting at phase 0 on the comb's teeth, matches.
#include "decode/analysis.h"

#include "decode/tuning.h"
#include "entry/genwav.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numeric>

namespace wavcreate {

// An in-place radix-2 transform; `size` a power of two. The twists come from a table, so
// that long transforms keep their precision.
void fft(std::complex<float> *data, int size)
{
    // One table for each size, made once.
    static std::vector<std::vector<std::complex<float>>> tables(32);
    int bits = 0;
    while ((1 << bits) < size)
        ++bits;
    std::vector<std::complex<float>> &twists = tables[static_cast<std::size_t>(bits)];
    if (twists.empty()) {
        twists.resize(static_cast<std::size_t>(size / 2));
        for (int k = 0; k < size / 2; ++k)
            twists[k] = std::polar(1.0f, static_cast<float>(-2.0 * pi * k / size));
    }
    for (int i = 1, j = 0; i < size; ++i) {
        int bit = size >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(data[i], data[j]);
    }
    for (int length = 2; length <= size; length <<= 1) {
        const int stride = size / length;
        for (int at = 0; at < size; at += length) {
            for (int k = 0; k < length / 2; ++k) {
                const std::complex<float> odd = data[at + k + length / 2] * twists[k * stride];
                data[at + k + length / 2] = data[at + k] - odd;
                data[at + k] += odd;
            }
        }
    }
}


namespace {

// Short spectra: frames of 32 ms every 4 ms, bins of 31.25 Hz up to 1125 Hz.
constexpr int frame_samples = 128;
constexpr int hop_samples = 16;
constexpr int spectrum_bins = 37;
// Spectra this many hops apart, frames that do not overlap, are compared for a change.
constexpr int change_hops = frame_samples / hop_samples / 2;

// How much the spectrum changes at each hop of the first `count` samples, where the sound does
// not fall: 0 where it stays, up to 1 where loud frames before and after share no frequency,
// less the typical change, so that what stands out is where tones start.
std::vector<float> spectralchanges(const std::vector<float> &samples, std::size_t count)
{
    const std::size_t hops = count / hop_samples;
    std::vector<float> window(frame_samples);
    for (int n = 0; n < frame_samples; ++n)
        window[n] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * pi * (n + 0.5) / frame_samples));
    std::vector<float> spectra(hops * spectrum_bins);
    std::vector<float> energy(hops);
    std::complex<float> data[frame_samples];
    for (std::size_t h = 0; h < hops; ++h) {
        const long centre = static_cast<long>(h * hop_samples);
        for (int n = 0; n < frame_samples; ++n) {
            const long at = centre - frame_samples / 2 + n;
            data[n] = at >= 0 && at < static_cast<long>(samples.size()) ? samples[at] * window[n] : 0.0f;
        }
        fft(data, frame_samples);
        for (int b = 1; b < spectrum_bins; ++b) {
            spectra[h * spectrum_bins + b] = std::norm(data[b]);
            energy[h] += std::norm(data[b]);
        }
    }
    std::vector<float> sorted = energy;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() * 9 / 10, sorted.end());
    // Changes between frames far quieter than the file's loud ones (a silence's dither, a
    // codec's noise floor) count for little.
    const float floor = 1e-3f * (sorted.empty() ? 0.0f : sorted[sorted.size() * 9 / 10]);
    // Each change is weighed against the loudest frame within 100 ms, not against its own two
    // frames: then it grows as the frames move onto either side of a tone's start and peaks
    // where they meet, even after a silence.
    constexpr std::size_t level_reach = 25;
    std::vector<float> level(hops, 0.0f);
    for (std::size_t h = 0; h < hops; ++h) {
        const std::size_t from = h >= level_reach ? h - level_reach : 0;
        const std::size_t to = std::min(hops, h + level_reach + 1);
        level[h] = *std::max_element(energy.begin() + static_cast<long>(from), energy.begin() + static_cast<long>(to));
    }
    std::vector<float> changes(hops, 0.0f);
    for (std::size_t h = change_hops; h + change_hops < hops; ++h) {
        const float *before = &spectra[(h - change_hops) * spectrum_bins];
        const float *after = &spectra[(h + change_hops) * spectrum_bins];
        float differ = 0.0f;
        for (int b = 1; b < spectrum_bins; ++b)
            differ += std::fabs(before[b] - after[b]);
        const float both = energy[h - change_hops] + energy[h + change_hops] + floor + 1e-30f;
        // Where a tone starts the sound rises or holds; where the sine's silent tail begins it
        // falls. Only the first are the grid's teeth.
        const float rising = 2.0f * (energy[h + change_hops] + 0.5f * floor) / both;
        changes[h] = std::min(1.0f, rising) * differ / (2.0f * level[h] + floor + 1e-30f);
    }
    sorted = changes;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const float typical = sorted.empty() ? 0.0f : sorted[sorted.size() / 2];
    for (float &change : changes)
        change = std::max(0.0f, change - typical);
    return changes;
}

struct comb {
    double score = -1.0; // mean change on the teeth
    double step = 2.0;   // work samples per sample of the library's rate
    double origin = 0.0; // the first tooth, in work samples
};

// The best comb of teeth `length` hops apart through the first `hops` changes: folded onto one
// tooth's span, the changes pile up at the teeth's phase. A comb scores the mean change on its
// teeth less the mean change half way between them, so that a comb of twice the tone length,
// whose midpoints are tone starts too, scores nothing.
comb fitcomb(const std::vector<float> &changes, std::size_t hops, double length)
{
    const auto bins = static_cast<std::size_t>(std::ceil(length));
    std::vector<float> pile(bins, 0.0f);
    // Between two wraps of the phase, the hops fall in consecutive bins: one sweep each.
    double phase = 0.0;
    for (std::size_t h = 0; h < hops;) {
        const auto first_bin = static_cast<std::size_t>(phase);
        const std::size_t run = std::min(hops - h, static_cast<std::size_t>(std::ceil(length - phase)));
        for (std::size_t j = 0; j < run; ++j)
            pile[first_bin + j] += changes[h + j];
        h += run;
        phase = std::max(0.0, phase + static_cast<double>(run) - length);
    }
    // A tooth is a bin and its neighbours; the phase wraps around.
    const auto tooth = [&](double bin) {
        const auto b = static_cast<long>(std::lround(bin)) % static_cast<long>(bins);
        const long n = static_cast<long>(bins);
        return pile[b] + 0.5f * (pile[(b + 1) % n] + pile[(b + n - 1) % n]);
    };
    comb best;
    const double teeth = std::max(1.0, std::floor(hops / length));
    for (std::size_t b = 0; b < bins; ++b) {
        const double score = (tooth(b) - tooth(b + length / 2)) / teeth;
        if (score > best.score) {
            best.score = score;
            best.origin = static_cast<double>(b) * hop_samples;
        }
    }
    return best;
}

// The best clock and comb for each tone length, over the first `hops` changes, trying clocks
// `spacing` apart within `range` of `centre`.
comb bestcomb(const std::vector<float> &changes, std::size_t hops, int tenths, double centre,
              double range, double spacing)
{
    comb best;
    const double samples = std::floor(tonelength(tenths));
    for (double clock = centre - range; clock <= centre + range + 1e-12; clock += spacing) {
        comb found = fitcomb(changes, hops, samples * 2.0 * clock / hop_samples);
        found.step = 2.0 * clock;
        if (found.score > best.score)
            best = found;
    }
    return best;
}

} // namespace

// Where the sound first rises to a tenth of the energy of its loudest stretch of 8 ms and stays
// there for 32 ms, in work samples: within that stretch, the first sample past a twentieth of
// the level of the 40 ms that follow. A tone starts at phase 0, and even one of 15 Hz is past
// that level within half a millisecond; the clicks a resampler leaves of a tone it removed are
// shorter. A `beating` tone (one near 1000 Hz whose fundamental a converter cut, its overtones
// beating down to near nothing every 20 ms) need only hold that level over the 32 ms on average.
double firstsound(const std::vector<float> &samples, bool beating)
{
    constexpr std::size_t stretch = 32;
    std::vector<float> levels;
    for (std::size_t at = 0; at + stretch <= samples.size(); at += stretch) {
        float energy = 0.0f;
        for (std::size_t n = at; n < at + stretch; ++n)
            energy += samples[n] * samples[n];
        levels.push_back(energy);
    }
    const float loudest = levels.empty() ? 0.0f : *std::max_element(levels.begin(), levels.end());
    constexpr std::size_t lasting = 4;
    for (std::size_t i = 0; i + lasting <= levels.size(); ++i) {
        const auto first = levels.begin() + static_cast<long>(i);
        const float level = beating ? std::accumulate(first, first + lasting, 0.0f) / lasting : *std::min_element(first, first + lasting);
        if (level < 0.1f * loudest)
            continue;
        const std::size_t from = i > 0 ? (i - 1) * stretch : 0;
        const std::size_t to = std::min(samples.size(), (i + 1) * stretch);
        float peak = 0.0f;
        for (std::size_t n = from; n < std::min(samples.size(), from + 5 * stretch + 160); ++n)
            peak = std::max(peak, std::fabs(samples[n]));
        for (std::size_t n = from; n < to; ++n) {
            if (std::fabs(samples[n]) >= 0.05f * peak)
                return static_cast<double>(n);
        }
        return static_cast<double>(i * stretch);
    }
    return 0.0;
}

namespace {

// Tones within this many hertz of 1000 may have left an image mirrored about it.
constexpr double image_reach = 100.0;

// The lowest frequency a tone is sought at: the tones of 'A', '@' and their negatives fold to
// 15 and 16 Hz. Left out, a short text holding one under noise matched a length that cut its
// tones in five better than its own.
constexpr double lowest_frequency = 12.0;

struct tone_fit {
    double frequency = 0.0;           // the best-matching folded frequency, Hz
    std::complex<double> correlation; // with e^(-i w (n - start)), times i
    double length = 0.0;              // samples correlated
    double image = 0.0;               // what its image about 1000 Hz matches besides, as energy
};

// The folded frequencies the codes' tones take at the library's rate, each once.
const std::vector<double> &foldedfrequencies()
{
    static const std::vector<double> frequencies = [] {
        std::vector<double> all;
        // Every byte: a code and its negative fold to the same frequency, but for -128 ('€').
        for (int byte = 1; byte < 256; ++byte) {
            if (byte != ' ')
                all.push_back(foldedfrequency(byte));
        }
        std::sort(all.begin(), all.end());
        all.erase(std::unique(all.begin(), all.end()), all.end());
        return all;
    }();
    return frequencies;
}

double omegaof(double frequency, double step) { return 2.0 * pi * frequency / (sample_rate * step); }

// The correlation of `length` work samples from `start` with e^(-i w (n - start)) at one
// frequency, times i: for a sine of that frequency starting at phase 0 at `start`, a positive
// real number, half the sine's amplitude times the length. `weighed`, the samples are weighed
// by a Hann window twice its usual height, so that other frequencies in the window (a
// waveform's harmonics, a neighbouring tone) leak little into it.
std::complex<double> correlate(const std::vector<float> &samples, double start, double length,
                               double omega, bool weighed = true)
{
    const long first = std::max(0L, static_cast<long>(std::ceil(start)));
    const long last = std::min(static_cast<long>(samples.size()), static_cast<long>(std::ceil(start + length)));
    std::complex<double> sum = 0.0;
    std::complex<double> phasor;
    const std::complex<double> turn = std::polar(1.0, -omega);
    for (long n = first; n < last; ++n) {
        // A phasor turned many times drifts from unit length: set it afresh now and then.
        if ((n - first) % 256 == 0)
            phasor = std::polar(1.0, -omega * (n - start));
        const double window = weighed ? 1.0 - std::cos(2.0 * pi * (n - start) / length) : 1.0;
        sum += static_cast<double>(samples[n]) * window * phasor;
        phasor *= turn;
    }
    return sum * std::complex<double>(0.0, 1.0);
}

// What a second sine, `image`, matches of the samples `fit` was fitted over besides `fit`'s own,
// both fitted together: their overlap taken away, and none where they lie within half a bin
// or so.
double alsomatched(const tone_fit &fit, const tone_fit &image, double step)
{
    const double n = fit.length;
    const double apart = omegaof(image.frequency, step) - omegaof(fit.frequency, step);
    if (std::fabs(apart) < 1e-9)
        return 0.0;
    // The sum of e^(i apart m) over the samples.
    const std::complex<double> overlap = (1.0 - std::polar(1.0, apart * n)) / (1.0 - std::polar(1.0, apart));
    if (std::abs(overlap) > 0.5 * n)
        return 0.0;
    const double both = 2.0 * (n * (std::norm(fit.correlation) + std::norm(image.correlation)) -
                               2.0 * std::real(std::conj(fit.correlation) * overlap * image.correlation)) /
                        (n * n - std::norm(overlap));
    return std::max(0.0, both - 2.0 * std::norm(fit.correlation) / n);
}

// The sine of any phase and frequency up to 1050 Hz that best matches the work samples from
// `start`: `steady` of them (the part of a tone that every waveform sounds) and `whole` of them
// (a tone as all waveforms but the sine sound it). Each is the peak of their spectrum through a
// Hann window, its frequency between bins from the peak's shape, and with it the image a
// resampler may have left mirrored about 1000 Hz; one transform serves both, one in its real
// part and one in its imaginary. Free of the codes' frequencies, a fit matches as well whatever
// the clock.
std::pair<tone_fit, tone_fit> fittone(const std::vector<float> &samples, double start, double steady,
                                      double whole, double step)
{
    const long first = std::max(0L, static_cast<long>(std::ceil(start)));
    const long last[2] = {std::min(static_cast<long>(samples.size()), static_cast<long>(std::ceil(start + steady))),
                          std::min(static_cast<long>(samples.size()), static_cast<long>(std::ceil(start + whole)))};
    tone_fit fits[2];
    if (last[0] - first < 8 || last[1] - first < 8)
        return {fits[0], fits[1]};
    int size = 1;
    while (size < last[1] - first)
        size <<= 1;
    std::vector<std::complex<float>> data(static_cast<std::size_t>(size));
    for (int which = 0; which < 2; ++which) {
        // A Hann window, twice its usual height: a sine's peak is then as high as without one.
        const long length = last[which] - first;
        const std::complex<double> turn = std::polar(1.0, 2.0 * pi / static_cast<double>(length));
        std::complex<double> phasor = std::polar(1.0, pi / static_cast<double>(length));
        for (long n = first; n < last[which]; ++n) {
            const auto weighed = static_cast<float>(samples[n] * (1.0 - phasor.real()));
            phasor *= turn;
            data[static_cast<std::size_t>(n - first)] += which == 0 ? std::complex<float>(weighed, 0.0f) : std::complex<float>(0.0f, weighed);
        }
    }
    fft(data.data(), size);
    // Bin k is k / size cycles per work sample, k / size * sample_rate * step hertz.
    const double hertz_per_bin = sample_rate * step / size;
    const int lowest = std::max(1, static_cast<int>(lowest_frequency / hertz_per_bin));
    const int highest = std::min(size / 2 - 1, static_cast<int>(1050.0 / hertz_per_bin));
    for (int which = 0; which < 2; ++which) {
        // The two real windows' spectra apart again, as the square of their magnitudes.
        const auto power = [&](int k) {
            const std::complex<float> mirror = std::conj(data[static_cast<std::size_t>((size - k) % size)]);
            return std::norm(which == 0 ? data[k] + mirror : data[k] - mirror);
        };
        // The highest peak from bin `from` to `to`, fitted.
        const auto peakfit = [&](int from, int to) {
            int peak = from;
            float top = 0.0f;
            for (int k = from; k <= to; ++k) {
                const float height = power(k);
                if (height > top) {
                    top = height;
                    peak = k;
                }
            }
            // A Hann window's peak is close to a Gaussian: a parabola through the logarithms
            // of the three highest bins finds its top.
            const double left = std::log(power(peak - 1) + 1e-30);
            const double middle = std::log(power(peak) + 1e-30);
            const double right = std::log(power(peak + 1) + 1e-30);
            const double curve = left - 2.0 * middle + right;
            const double between = curve < 0.0 ? std::clamp(0.5 * (left - right) / curve, -0.5, 0.5) : 0.0;
            tone_fit fit;
            fit.frequency = (peak + between) * hertz_per_bin;
            fit.length = static_cast<double>(last[which] - first);
            // The match itself without the window: a window weighs a tone that fills part of
            // it by where it lies, not by its energy. Over seconds a few hundredths of a hertz
            // cost much of the match: the frequency is taken to the top of the plain match's
            // parabola through three points a sixth of a bin apart.
            const double apart = hertz_per_bin / 6.0;
            double heights[3];
            std::complex<double> correlations[3];
            for (int side = 0; side < 3; ++side) {
                correlations[side] = correlate(samples, first, last[which] - first, omegaof(fit.frequency + (side - 1) * apart, step), false);
                heights[side] = std::norm(correlations[side]);
            }
            const double bend = heights[0] - 2.0 * heights[1] + heights[2];
            const double shift = bend < 0.0 ? std::clamp(0.5 * (heights[0] - heights[2]) / bend, -1.0, 1.0) : 0.0;
            fit.frequency += shift * apart;
            fit.correlation = std::fabs(shift) < 0.05 ? correlations[1] : correlate(samples, first, last[which] - first, omegaof(fit.frequency, step), false);
            return fit;
        };
        tone_fit &fit = fits[which];
        fit = peakfit(lowest, highest);
        // A resampler whose filter passes part of the band above 1000 Hz leaves, of a tone
        // near it, an image mirrored about the file's 1000 Hz (ffmpeg's, of a tone of 976 Hz,
        // at half its level): what it matches counts too. A clock off moves the image from the
        // mirror of the tone's frequency by twice as far as it moves 1000 Hz: it is sought that
        // far either side, on the far side of 1000 Hz.
        if (std::fabs(fit.frequency - 0.5 * sample_rate) <= image_reach) {
            const double mirror = (sample_rate - fit.frequency) / hertz_per_bin; // in bins
            const double reach = tuning::clock_range * sample_rate / hertz_per_bin + 2.0;
            const int peak = static_cast<int>(std::lround(fit.frequency / hertz_per_bin));
            const bool image_above = fit.frequency < 0.5 * sample_rate;
            const int from = std::max(image_above ? peak + 3 : 1, static_cast<int>(mirror - reach));
            const int to = std::min(image_above ? size / 2 - 2 : peak - 3, static_cast<int>(mirror + reach));
            if (from <= to)
                fit.image = alsomatched(fit, peakfit(from, to), step);
        }
    }
    return {fits[0], fits[1]};
}

struct candidate {
    int tenths = 0;
    double step = 2.0;
    double origin = 0.0;
    double matched = -1.0; // the share of the sound its tones' sines match
    std::vector<double> other_shifts; // from `origin` to other starts the phases agree on as well
    std::vector<double> starts;
    std::vector<tone_fit> fits;
};

double steadyof(const candidate &tried) { return std::max(0.0, std::floor(tonelength(tried.tenths)) - 100.0) * tried.step; }

// The tones of `tried` that start from half a tone before `from` up to `to`.
void placetones(candidate &tried, double from, double to)
{
    const double tone = std::floor(tonelength(tried.tenths)) * tried.step;
    double first = std::fmod(tried.origin - from, tone);
    if (first < 0)
        first += tone;
    first += from;
    if (first - tone >= from - 0.5 * tone)
        first -= tone;
    tried.origin = first;
    tried.starts.clear();
    for (double start = first; start < to; start += tone)
        tried.starts.push_back(start);
}

double energybetween(const std::vector<float> &samples, double from, double to)
{
    double energy = 0.0;
    for (long n = std::max(0L, static_cast<long>(from)); n < std::min(static_cast<long>(samples.size()), static_cast<long>(to)); ++n)
        energy += static_cast<double>(samples[n]) * samples[n];
    return energy;
}

// How much of the sound from `from` to `to` the tones of `tried` match, each a sine of any
// phase and frequency: over the part of the tone that the sine leaves sounding (all but its
// last 100 samples, silent) or over the whole tone, as the other waveforms sound, whichever
// matches more. A window longer than the tones it looks at matches less of them.
void fitcandidate(const std::vector<float> &samples, double from, double to, candidate &tried)
{
    const double steady = steadyof(tried);
    // A tone length the file's sound cannot hold once is none of its.
    if (steady < 8.0 || samples.size() < from + steady)
        return;
    placetones(tried, from, to);
    const double whole = std::floor(tonelength(tried.tenths)) * tried.step;
    tried.fits.clear();
    double matched_steady = 0.0;
    double matched_whole = 0.0;
    const auto matched = [](const tone_fit &fit) {
        return fit.length > 0.0 ? 2.0 * std::norm(fit.correlation) / fit.length + fit.image : 0.0;
    };
    // Against the energy of the tones fitted, whole within the stretch compared (the first at
    // least): a tone length whose last window reached past it would count more than its share.
    double energy = 0.0;
    for (double start : tried.starts) {
        // The frequency measured, not yet a code's: the clock decides which code it is.
        const auto [steady_fit, whole_fit] = fittone(samples, start, steady, whole, tried.step);
        tried.fits.push_back(steady_fit);
        if (start + whole > to && start != tried.starts.front())
            continue;
        matched_steady += matched(steady_fit);
        matched_whole += matched(whole_fit);
        energy += energybetween(samples, start, start + whole);
    }
    tried.matched = energy > 0.0 ? std::min(1.0, std::max(matched_steady, matched_whole) / energy) : 0.0;
}


// The code's folded frequency nearest to `frequency`.
double nearestcode(double frequency)
{
    const std::vector<double> &frequencies = foldedfrequencies();
    const auto above = std::lower_bound(frequencies.begin(), frequencies.end(), frequency);
    if (above == frequencies.end())
        return frequencies.back();
    if (above != frequencies.begin() && frequency - *(above - 1) < *above - frequency)
        return *(above - 1);
    return *above;
}

double offcode(double frequency) { return std::fabs(nearestcode(frequency) - frequency); }

// The factors within `reach` of 1 that put the most of `measured` (frequencies at the clock
// of `step`, with weights) on codes' frequencies, each within `tolerance` hertz counting alike:
// those nearest to the library's clock first, or the best fitting first. Codes come in pairs 1 Hz apart, so a few tones fit a
// clock 0.1 % off as well, each on its pair's other code; the tones' timing tells them apart.
// A tolerance keeps a tone whose waveform folds a harmonic a few hertz from its own frequency,
// and so measures it off, from pulling the rest. `miss`: the hertz a tone's measurement may
// miss by, as a root mean square.
std::vector<double> clockscales(const std::vector<std::pair<double, double>> &measured, double step,
                                double reach, double tolerance, bool nearest_first, double miss = 0.02)
{
    double total = 0.0;
    for (const auto &entry : measured)
        total += entry.second;
    std::vector<std::pair<double, double>> costs; // (scale, cost)
    double least = 1e300;
    for (double scale = 1.0 - reach; scale <= 1.0 + reach; scale += 2e-6) {
        double cost = 0.0;
        for (const auto &[frequency, weight] : measured) {
            const double off = std::min(offcode(frequency * scale), tolerance);
            cost += weight * off * off;
        }
        costs.push_back({scale, cost});
        least = std::min(least, cost);
    }
    // The bottoms of the dips that fit about as well as the best: a fiftieth of a hertz is
    // what a measurement of a clean tone may miss by.
    std::vector<std::pair<double, double>> dips;
    for (std::size_t i = 1; i + 1 < costs.size(); ++i) {
        const double cost = costs[i].second;
        if (cost <= costs[i - 1].second && cost <= costs[i + 1].second && cost <= 2.0 * least + total * miss * miss)
            dips.push_back(costs[i]);
    }
    std::sort(dips.begin(), dips.end(), [&](const auto &a, const auto &b) {
        return nearest_first ? std::fabs(step * a.first - 2.0) < std::fabs(step * b.first - 2.0) : a.second < b.second;
    });
    std::vector<double> scales;
    for (const auto &dip : dips)
        scales.push_back(dip.first);
    if (scales.size() > 4)
        scales.resize(4);
    if (scales.empty())
        scales.push_back(1.0);
    return scales;
}

// The clocks that put the tones' measured frequencies on codes', each with every tone's
// frequency set to its code's; `miss` as for `clockscales`.
std::vector<candidate> clockfrompeaks(const candidate &tried, double miss = 0.02)
{
    std::vector<std::pair<double, double>> measured;
    for (const tone_fit &fit : tried.fits)
        measured.push_back({fit.frequency, fit.length > 0.0 ? std::norm(fit.correlation) / fit.length : 0.0});
    std::vector<candidate> clocks;
    for (double scale : clockscales(measured, tried.step, tuning::clock_range + 0.001, 0.3, true, miss)) {
        candidate clocked = tried;
        for (tone_fit &fit : clocked.fits)
            fit.frequency = nearestcode(fit.frequency * scale);
        clocked.step *= scale;
        clocks.push_back(clocked);
    }
    return clocks;
}

// The clock refined: each tone's frequency is measured again from how far its phase turns
// between the halves of its window against its code's at the clock found so far; the windows
// keep `margin` work samples clear of the tones' ends, for a grid a few milliseconds off.
void clockfromphases(const std::vector<float> &samples, candidate &tried, double margin)
{
    const double steady = steadyof(tried);
    const double half = (steady - 2.0 * margin) / 2.0;
    if (half < 16.0)
        return;
    std::vector<std::pair<double, double>> measured;
    std::vector<std::size_t> measured_tones;
    for (std::size_t k = 0; k < std::min(tried.fits.size(), tried.starts.size()); ++k) {
        const tone_fit &fit = tried.fits[k];
        if (fit.length < steady * 0.9 || fit.frequency < 50.0)
            continue;
        const double omega = omegaof(fit.frequency, tried.step);
        const double start = tried.starts[k] + margin;
        const std::complex<double> early = correlate(samples, start, half, omega);
        const std::complex<double> late = correlate(samples, start + half, half, omega);
        // The late half's phase is measured from its own start: take away the nominal turn.
        const double turned = std::arg(late * std::polar(1.0, -omega * half) * std::conj(early));
        measured.push_back({fit.frequency * (1.0 + turned / (omega * half)), std::norm(early) + std::norm(late)});
        measured_tones.push_back(k);
    }
    if (measured.empty())
        return;
    // Within half the distance to a pair's other code.
    const double scale = clockscales(measured, tried.step, 0.0004, 0.05, false).front();
    for (std::size_t m = 0; m < measured.size(); ++m)
        tried.fits[measured_tones[m]].frequency = nearestcode(measured[m].first * scale);
    tried.step *= scale;
}

// How many of the tones fitted sound: silent ones say nothing of the clock or the grid.
int soundingtones(const candidate &tried)
{
    double loudest = 0.0;
    for (const tone_fit &fit : tried.fits)
        loudest = std::max(loudest, std::norm(fit.correlation));
    int sounding = 0;
    for (const tone_fit &fit : tried.fits)
        sounding += loudest > 0.0 && std::norm(fit.correlation) >= 0.1 * loudest;
    return sounding;
}

// Moves the teeth together by up to `reach` work samples, and apart by up to `clock_reach` of
// the clock, to where every tone's sine starts at phase 0: the phases of tones of many
// frequencies agree on one shift only, and tones far apart on one clock. Returns how well they
// agree there.
double aligntones(const std::vector<float> &samples, candidate &tried, double reach, double clock_reach, double sound)
{
    constexpr double shift_step = 0.05;
    const double steady = steadyof(tried);
    const double tone = std::floor(tonelength(tried.tenths)) * tried.step;
    tried.fits.resize(std::min(tried.fits.size(), tried.starts.size()));
    for (std::size_t k = 0; k < tried.fits.size(); ++k)
        tried.fits[k].correlation = correlate(samples, tried.starts[k], steady, omegaof(tried.fits[k].frequency, tried.step));
    // A tone or two say nothing of the clock; a few say little more than their frequencies.
    const int sounding = soundingtones(tried);
    if (sounding < 3)
        clock_reach = 0.0;
    else if (sounding <= static_cast<int>(tuning::few_tones))
        clock_reach = std::min(clock_reach, tuning::few_tones_clock_reach);
    // Clock steps that move the last tone by a tenth of a work sample.
    const double clock_step = std::max(1e-7, 0.1 / (tone * std::max<std::size_t>(1, tried.fits.size())));
    const auto shifts = static_cast<std::size_t>(2.0 * reach / shift_step) + 1;
    std::vector<double> agreement(shifts);
    std::vector<double> best_agreement;
    double best = -1.0;
    double best_clock = 0.0;
    // Each tone's phasor, turned a shift step at a time, as plain arrays of its parts, so that
    // the tones are turned several at a time.
    const std::size_t fits = tried.fits.size();
    std::vector<double> real(fits), imaginary(fits), turn_cosine(fits), turn_sine(fits), weight(fits);
    for (std::size_t k = 0; k < fits; ++k) {
        const double omega = omegaof(tried.fits[k].frequency, tried.step);
        turn_cosine[k] = std::cos(omega * shift_step);
        turn_sine[k] = std::sin(omega * shift_step);
        weight[k] = tried.fits[k].length > 0.0 ? 1.0 / tried.fits[k].length : 0.0;
    }
    for (double clock = -clock_reach; clock <= clock_reach + 1e-12; clock += clock_step) {
        for (std::size_t k = 0; k < fits; ++k) {
            const double omega = omegaof(tried.fits[k].frequency, tried.step);
            const std::complex<double> phasor = tried.fits[k].correlation * std::polar(1.0, omega * (-reach + static_cast<double>(k) * tone * clock));
            real[k] = phasor.real();
            imaginary[k] = phasor.imag();
        }
        for (std::size_t i = 0; i < shifts; ++i) {
            double matched = 0.0;
            for (std::size_t k = 0; k < fits; ++k) {
                matched += real[k] * real[k] * weight[k];
                const double turned = real[k] * turn_cosine[k] - imaginary[k] * turn_sine[k];
                imaginary[k] = real[k] * turn_sine[k] + imaginary[k] * turn_cosine[k];
                real[k] = turned;
            }
            agreement[i] = matched;
        }
        const double most = *std::max_element(agreement.begin(), agreement.end());
        if (most > best) {
            best = most;
            best_clock = clock;
            best_agreement = agreement;
        }
    }
    // A tone or two agree as well every half period of their frequencies: of the shifts that
    // agree as well as the best, the one that puts a tooth nearest where the sound starts.
    double wanted = std::fmod(sound - tried.origin, tone);
    if (wanted > tone / 2)
        wanted -= tone;
    if (wanted < -tone / 2)
        wanted += tone;
    std::vector<double> agreeing;
    for (std::size_t i = 0; i < shifts; ++i) {
        const bool peak = (i == 0 || best_agreement[i] >= best_agreement[i - 1]) &&
                          (i + 1 == shifts || best_agreement[i] >= best_agreement[i + 1]);
        if (peak && best_agreement[i] >= 0.95 * best)
            agreeing.push_back(-reach + shift_step * static_cast<double>(i));
    }
    std::stable_sort(agreeing.begin(), agreeing.end(), [&](double a, double b) { return std::fabs(a - wanted) < std::fabs(b - wanted); });
    const double chosen = agreeing.empty() ? 0.0 : agreeing.front();
    // The others, for a reading to choose from, but for those within 2 ms, where the sound's
    // start tells: a resampler's ringing before a first tone it removed moves it by some 10 ms.
    tried.other_shifts.clear();
    for (std::size_t i = 1; i < agreeing.size(); ++i) {
        if (std::fabs(agreeing[i] - chosen) > 0.002 * work_rate)
            tried.other_shifts.push_back(agreeing[i] - chosen);
    }
    tried.origin += chosen;
    tried.step *= 1.0 + best_clock;
    return best;
}

} // namespace

bool findgrid(const std::vector<float> &samples, grid &found, int tenths_wanted)
{
    found = grid{};
    const int shortest = tenths_wanted > 0 ? tenths_wanted : 1;
    const int longest = tenths_wanted > 0 ? tenths_wanted : max_tenths;
    const auto searched = std::min(samples.size(), static_cast<std::size_t>(tuning::grid_search_seconds * work_rate));
    const std::vector<float> changes = spectralchanges(samples, searched);
    const double sound = firstsound(samples);

    // Every tone length's best comb over a dozen tones or more, where the file holds them;
    // then the clock refined over all of the first minute.
    std::vector<candidate> candidates;
    std::vector<comb> combs(max_tenths + 1);
    double best_score = 0.0;
    for (int tenths = shortest; tenths <= longest; ++tenths) {
        const double tone = std::floor(tonelength(tenths)) * 2.0;
        const double seconds = std::max(tuning::first_search_seconds, 12.0 * tone / work_rate);
        const std::size_t hops = std::min(changes.size(), static_cast<std::size_t>((sound + seconds * work_rate) / hop_samples));
        // Clocks a hop's drift apart over the stretch searched.
        combs[tenths] = bestcomb(changes, hops, tenths, 1.0, tuning::clock_range,
                                 0.004 / std::max(hops * hop_samples / work_rate, 1.0));
        if (changes.size() > hops) {
            const double reach = 0.004 / (hops * hop_samples / work_rate);
            combs[tenths] = bestcomb(changes, changes.size(), tenths, combs[tenths].step / 2.0, reach,
                                     0.004 / (changes.size() * hop_samples / work_rate));
        }
        if ((samples.size() - sound) / tone >= 12.0)
            best_score = std::max(best_score, combs[tenths].score);
    }
    const double to = std::min<double>(samples.size(), sound + tuning::compare_seconds * work_rate);
    for (int tenths = shortest; tenths <= longest; ++tenths) {
        const double tone = std::floor(tonelength(tenths)) * 2.0;
        // A file of a few tones has too few teeth to tell combs apart: try every length.
        const bool few_tones = (samples.size() - sound) / tone < 12.0;
        if (!few_tones && combs[tenths].score < tuning::comb_candidate_share * best_score)
            continue;
        candidate tried;
        tried.tenths = tenths;
        tried.step = combs[tenths].step;
        tried.origin = combs[tenths].origin;
        candidates.push_back(tried);
        // The comb may have fastened on anything in a file of a few tones; the first sound
        // starts a tone.
        const double off_sound = std::fabs(std::remainder(tried.origin - sound, tone));
        if (few_tones && (off_sound > 0.005 * work_rate || std::fabs(tried.step - 2.0) > 0.002)) {
            tried.step = 2.0;
            tried.origin = sound;
            candidates.push_back(tried);
        }
    }
    for (candidate &tried : candidates) {
        fitcandidate(samples, sound, to, tried);
    }
    // Tones cut in two match as well as whole ones: of the lengths that match about as well as
    // the best and are whole multiples of its, the longest.
    double best_matched = 0.0;
    for (const candidate &tried : candidates)
        best_matched = std::max(best_matched, tried.matched);
    const candidate *best_fit = nullptr;
    for (const candidate &tried : candidates) {
        if (tried.matched == best_matched)
            best_fit = &tried;
    }
    // A length that cuts the tones in two, three, ... is the longer one's whole fraction.
    const auto multiple = [](const candidate &tried, const candidate &of) {
        const double ratio = std::floor(tonelength(tried.tenths)) / std::floor(tonelength(of.tenths));
        return ratio >= 1.0 && std::fabs(ratio - std::round(ratio)) < 0.002 * ratio;
    };
    const candidate *chosen = best_fit;
    for (const candidate &tried : candidates) {
        const double share = tried.tenths >= 30 ? tuning::cut_long_tones_share : tuning::cut_tones_share;
        if (best_fit != nullptr && tried.matched >= share * best_matched && multiple(tried, *best_fit) &&
            (tried.tenths > chosen->tenths || (tried.tenths == chosen->tenths && tried.matched > chosen->matched)))
            chosen = &tried;
    }
    if (chosen == nullptr || best_matched <= 0.0)
        return false;
    for (const candidate &tried : candidates) {
        if (tried.tenths > chosen->tenths && multiple(tried, *chosen) && tried.matched >= tuning::longer_length_share * best_matched)
            found.longer_lengths.push_back(tried.tenths);
    }
    // The clock is told by tones far apart: long tones are followed over a dozen and more.
    candidate chosen_over_more = *chosen;
    const double tone_length = std::floor(tonelength(chosen->tenths)) * 2.0;
    const double reach = std::min<double>(samples.size(), sound + std::max(tuning::compare_seconds * work_rate, 16.0 * tone_length));
    if (reach > to) {
        fitcandidate(samples, sound, reach, chosen_over_more);
        chosen_over_more.matched = chosen->matched;
    }
    // The grid to a fraction of a sample: the clock from the tones' frequencies, then from
    // their phases, then the teeth where the phases agree, for each clock the frequencies
    // allow; the clock whose teeth agree best, once more, and the teeth.
    candidate best;
    double agreed = -1.0;
    // A tone or two cannot tell the clock from a pair's other code: the library's clock, the
    // likeliest, then.
    const bool few_tones = soundingtones(chosen_over_more) < 3;
    std::vector<candidate> clocks;
    if (few_tones) {
        candidate library = chosen_over_more;
        library.step = 2.0;
        for (tone_fit &fit : library.fits)
            fit.frequency = nearestcode(fit.frequency * library.step / chosen_over_more.step);
        clocks.push_back(library);
    } else {
        clocks = clockfrompeaks(chosen_over_more);
    }
    for (candidate &clocked : clocks) {
        placetones(clocked, sound, reach);
        if (!few_tones) {
            clockfromphases(samples, clocked, 0.2 * steadyof(clocked));
            placetones(clocked, sound, reach);
        }
        // The clocks come nearest the library's first; a later one must agree clearly better
        // (a tone or two agree as well at either clock of a pair). Within 16 ms of the comb:
        // the phases of every code's tone agree again 2000 / 31 samples (32 ms) away, where
        // 31 times the shift is all but a whole 2000.
        const double agreement = aligntones(samples, clocked, 0.016 * work_rate, 6e-4, sound);
        found.other_steps.push_back(clocked.step);
        if (agreement > 1.05 * agreed) {
            agreed = agreement;
            best = clocked;
        }
    }
    // The grid of a tone or two is the library clock's; at each other clock they allow, the
    // starts their phases agree on, for a reading to choose from. Those clocks are only looked
    // at, so the tones' frequencies may miss them by more: a 46 Hz sine of 3 tenths, clean,
    // measured 0.05 Hz low, which left out the clock of `B_` 0.2 % fast (read `B"`, exit 0),
    // and a 991 Hz triangle of 3 tenths 0.16 Hz high (`Ûa` 0.2 % slow read `\à`, exit 0).
    if (few_tones) {
        for (candidate clocked : clockfrompeaks(chosen_over_more, 0.2)) {
            found.other_steps.push_back(clocked.step);
            placetones(clocked, sound, reach);
            aligntones(samples, clocked, 0.016 * work_rate, 0.0, sound);
            found.other_clock_starts.push_back({clocked.origin, clocked.step});
            for (double shift : clocked.other_shifts)
                found.other_clock_starts.push_back({clocked.origin + shift, clocked.step});
        }
    }
    placetones(best, sound, reach);
    if (!few_tones) {
        clockfromphases(samples, best, 0.02 * steadyof(best));
        placetones(best, sound, reach);
    }
    const std::vector<double> other_shifts = best.other_shifts;
    aligntones(samples, best, 0.002 * work_rate, 1e-4, sound);
    for (double shift : other_shifts)
        found.other_origins.push_back(best.origin + shift);
    found.tenths = best.tenths;
    found.step = best.step;
    found.origin = best.origin;
    found.matched = best.matched;
    return true;
}

} // namespace wavcreate
