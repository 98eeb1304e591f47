// Reading the characters of a converted file: each tone is matched against the samples the
// generator renders for every code, taken from the sound at the library's own sample instants
// (the grid, followed tone by tone through a drifting clock) and seen through the band the
// file still holds (the converter's filter, measured on the file itself).
#include "decode/analysis.h"

#include "decode/tuning.h"
#include "entry/genwav.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <optional>

namespace wavcreate {

namespace {

// ---- Every code's tone

struct tone_set {
    int samples = 0;                    // per tone
    std::vector<float> tones;           // code_count rows of `samples`, as the file's bytes less 127
    std::vector<float> means;           // of each row
    std::vector<double> centred_energy; // of each row less its mean
    const float *tone(int code) const { return &tones[static_cast<std::size_t>(code) * samples]; }
};

tone_set rendertones(int tenths, const char *waveform)
{
    tone_set set;
    set.samples = static_cast<int>(tonelength(tenths));
    set.tones.assign(static_cast<std::size_t>(code_count) * set.samples, 0.0f);
    set.means.assign(code_count, 0.0f);
    set.centred_energy.assign(code_count, 0.0);
    std::vector<float> samples;
    for (int code = 1; code < code_count; ++code) {
        if (!iscandidate(code))
            continue;
        rendercode(code, tenths, waveform, samples);
        std::copy(samples.begin(), samples.end(), set.tones.begin() + static_cast<long>(code) * set.samples);
        double mean = 0.0;
        for (float sample : samples)
            mean += sample;
        mean /= set.samples;
        set.means[code] = static_cast<float>(mean);
        for (float sample : samples)
            set.centred_energy[code] += (sample - mean) * (sample - mean);
    }
    return set;
}

// Every code's tone in each waveform at one tone length, rendered once for all the readings
// of a file: one in doubt is read dozens of times over, and rendering is most of a reading.
// Only one length's are kept: a set of 40 tenths takes 8 MB.
struct rendered_tones {
    int tenths = -1;
    tone_set sets[std::size(waveform_names)];

    const tone_set &of(int tone_tenths, std::size_t waveform)
    {
        if (tone_tenths != tenths) {
            for (tone_set &set : sets)
                set = tone_set{};
            tenths = tone_tenths;
        }
        if (sets[waveform].tones.empty())
            sets[waveform] = rendertones(tenths, waveform_names[waveform]);
        return sets[waveform];
    }
};

// ---- The first pass: each tone's likeliest code, its own gain and offset free

struct first_match {
    int code = 0;          // 0: silence
    double share = 0.0;    // of the tone's energy, less its mean, that the code matches
    double runner_up = 0.0; // the share the next best code matches
    double gain = 0.0;
};

first_match matchfirst(const tone_set &set, const float *centred, double energy)
{
    first_match found;
    if (energy <= 0.0)
        return found;
    double best = 0.0;
    double second = 0.0;
    for (int code = 1; code < code_count; ++code) {
        if (!iscandidate(code) || set.centred_energy[code] <= 0.0)
            continue;
        // The sound is centred: its product with a tone is that with the tone less its mean.
        const double product = dot(centred, set.tone(code), set.samples);
        // The file's gain is positive: a code's negative is another code.
        if (product <= 0.0)
            continue;
        const double matched = product * product / set.centred_energy[code];
        if (matched > best) {
            second = best;
            best = matched;
            found.code = code;
            found.gain = product / set.centred_energy[code];
        } else if (matched > second) {
            second = matched;
        }
    }
    found.share = best / energy;
    found.runner_up = second / energy;
    if (found.share < tuning::silent_match_share)
        found = first_match{};
    return found;
}

// The tone from `start`, less its mean, and its energy.
double centredtone(const std::vector<float> &samples, double start, double step, std::vector<float> &tone)
{
    extract(samples, start, step, static_cast<int>(tone.size()), tone.data());
    return centred(tone.data(), static_cast<int>(tone.size()), tone.data());
}

// How far, in samples of the library's rate, the tone lies after where it was looked for:
// from the phase of its fundamental against the matched code's, which no filter of the band
// and no harmonic moves. Returns the variance of that estimate, large where the tone tells
// little (a low frequency, noise); a code at 0 or 1000 Hz tells nothing.
double timingof(const tone_set &set, const first_match &match, const float *centred, double &offset)
{
    const double omega = 2.0 * pi * foldedfrequency(match.code) / sample_rate;
    if (omega < 1e-3 || omega > pi - 1e-3)
        return 1e30;
    const float *tone = set.tone(match.code);
    const double mean = set.means[match.code];
    std::complex<double> heard = 0.0;
    std::complex<double> sent = 0.0;
    double left = 0.0;
    std::complex<double> phasor = 1.0;
    const std::complex<double> turn = std::polar(1.0, -omega);
    for (int n = 0; n < set.samples; ++n) {
        if (n % 256 == 0)
            phasor = std::polar(1.0, -omega * n);
        heard += static_cast<double>(centred[n]) * phasor;
        sent += (tone[n] - mean) * phasor;
        const double rest = centred[n] - match.gain * (tone[n] - mean);
        left += rest * rest;
        phasor *= turn;
    }
    if (std::norm(heard) <= 0.0 || std::norm(sent) <= 0.0)
        return 1e30;
    // A tone that lies later turns its phase back by omega for each sample.
    offset = -std::arg(heard / sent) / omega;
    return left / (2.0 * std::norm(heard) * omega * omega);
}

struct tone_read {
    double start = 0.0;        // work samples
    first_match first;
    double offset = 0.0;       // measured timing, in samples of the library's rate
    double offset_variance = 1e30;
    int code = 0;              // as last decided
    double margin = 0.0;       // of the last decision, nats
    bool trusted = false;      // the last decision is sure enough to measure the channel on
    double energy = 0.0;       // of the tone, less its mean
    double heard_energy = 0.0; // of the tone as the second pass hears it, its filters' reach too
    double explained = 0.0;    // of that, by the code last decided
    double leftover = 0.0;     // what that code leaves of the tone, per sample
};

// The tones of the waveform whose tones match the first tones best, and its name; of `wanted`
// when given.
const tone_set &choosewaveform(const std::vector<float> &samples, rendered_tones &rendered, const grid &layout,
                               int tones, const char *wanted, const char *&name)
{
    const tone_set *best_set = nullptr;
    double best = -1.0;
    for (std::size_t w = 0; w < std::size(waveform_names); ++w) {
        const char *waveform = waveform_names[w];
        if (wanted != nullptr && waveform != wanted)
            continue;
        const tone_set &set = rendered.of(layout.tenths, w);
        std::vector<float> tone(static_cast<std::size_t>(set.samples));
        const double length = set.samples * layout.step;
        double matched = 0.0;
        for (int t = 0; t < std::min(tones, 24); ++t) {
            const double energy = centredtone(samples, layout.origin + t * length, layout.step, tone);
            matched += matchfirst(set, tone.data(), energy).share * energy;
        }
        if (best_set == nullptr || matched > best) {
            best = matched;
            name = waveform;
            best_set = &set;
        }
    }
    return *best_set;
}

// The line through the tones' measured starts that the clock, off by a constant factor, puts
// them on: weighted least squares, with the grid's clock, known to a ten-thousandth or so, as
// a prior on the slope; or, where the clock is held, that clock's slope through their mean.
struct start_line {
    double weight = 0.0, tones = 0.0, starts = 0.0, tones_squared = 0.0, products = 0.0;
    double prior_slope = 0.0, prior_weight = 0.0;
    bool held = false;
    int points = 0;

    start_line(double grid_slope, bool clock_held)
        : prior_slope(grid_slope), prior_weight(1.0 / (1e-4 * grid_slope * 1e-4 * grid_slope)), held(clock_held)
    {
    }

    // Tone k, found `read.offset` samples of the library's rate after where it was looked for,
    // its weight divided by `looseness`.
    void add(std::size_t k, const tone_read &read, double step, double looseness = 1.0)
    {
        add(static_cast<double>(k), measuredstart(read, step), timingweight(read, step) / looseness);
    }

    static double measuredstart(const tone_read &read, double step) { return read.start + read.offset * step; }
    static double timingweight(const tone_read &read, double step)
    {
        return 1.0 / (std::max(read.offset_variance, 1e-6) * step * step);
    }

    void add(double tone, double start, double w)
    {
        ++points;
        weight += w;
        tones += w * tone;
        starts += w * start;
        tones_squared += w * tone * tone;
        products += w * tone * start;
    }

    // The start of tone 0 and the length of a tone, in work samples; false with too little
    // measured to say.
    bool fit(double &first, double &per_tone) const
    {
        // Two starts would give a clock as good as their timing alone: the grid's holds.
        if (points < 3 || held) {
            if (weight <= 0.0)
                return false;
            per_tone = prior_slope;
            first = (starts - prior_slope * tones) / weight;
            return true;
        }
        const double a = weight, b = tones, c = tones_squared + prior_weight;
        const double determinant = a * c - b * b;
        if (weight <= 0.0 || determinant <= 1e-12 * a * c)
            return false;
        const double right_first = starts, right_slope = products + prior_weight * prior_slope;
        first = (c * right_first - b * right_slope) / determinant;
        per_tone = (a * right_slope - b * right_first) / determinant;
        return true;
    }
};

// The first pass: every tone's likeliest code, and where it lies, measured from its timing.
// Each tone is looked for on the line through the starts measured so far, so that a clock a
// little off the library's stays on the tones to the end.
std::vector<tone_read> firstpass(const std::vector<float> &samples, const tone_set &set, const grid &layout, int tones)
{
    std::vector<tone_read> reads(static_cast<std::size_t>(tones));
    std::vector<float> tone(static_cast<std::size_t>(set.samples));
    start_line line(set.samples * layout.step, layout.clock_held);
    for (std::size_t k = 0; k < reads.size(); ++k) {
        tone_read &read = reads[k];
        double first = layout.origin;
        double per_tone = line.prior_slope;
        line.fit(first, per_tone);
        const double step = per_tone / set.samples;
        read.start = first + per_tone * static_cast<double>(k);
        const double energy = centredtone(samples, read.start, step, tone);
        read.energy = energy;
        read.first = matchfirst(set, tone.data(), energy);
        read.code = read.first.code;
        read.trusted = read.first.code == 0 || read.first.runner_up <= 0.5 * read.first.share;
        if (read.first.code == 0)
            continue;
        read.offset_variance = timingof(set, read.first, tone.data(), read.offset);
        // Trust a timing known to a third of a sample or better, within two samples.
        if (read.offset_variance < 0.1 && std::fabs(read.offset) < 2.0)
            line.add(k, read, step);
        else
            read.offset_variance = 1e30;
    }
    // A share of a faint tone's own energy says nothing: a codec's noise floor in the closing
    // silence matched a code 17 % and, taught to the channel as a whole tone of it, took a
    // third off the channel's gain (`VU` after Ogg/Vorbis, then read as its negatives).
    double loudest = 0.0;
    for (const tone_read &read : reads)
        loudest = std::max(loudest, read.energy);
    for (tone_read &read : reads) {
        if (read.code != 0 && read.energy < tuning::faint_tone_share * loudest) {
            read.first = first_match{};
            read.code = 0;
            read.trusted = true;
            read.offset_variance = 1e30;
        }
    }
    return reads;
}

// Puts the tones on the line through all the measured starts; returns the step it gives.
double straighten(std::vector<tone_read> &reads, double step, int samples_per_tone, bool clock_held)
{
    start_line line(samples_per_tone * step, clock_held);
    for (std::size_t k = 0; k < reads.size(); ++k) {
        if (reads[k].offset_variance < 1e29)
            line.add(k, reads[k], step);
    }
    double first = 0.0;
    double per_tone = 0.0;
    if (!line.fit(first, per_tone))
        return step;
    // A room turns each frequency's phase its own way, and with it each tone's timing: where
    // the starts scatter about the line more than their variances say, they are worth that
    // much less against the grid's clock.
    if (line.points > 2) {
        double scatter = 0.0;
        for (std::size_t k = 0; k < reads.size(); ++k) {
            if (reads[k].offset_variance < 1e29) {
                const double off = start_line::measuredstart(reads[k], step) - (first + per_tone * static_cast<double>(k));
                scatter += start_line::timingweight(reads[k], step) * off * off;
            }
        }
        const double excess = scatter / (line.points - 2);
        if (excess > 1.0) {
            start_line loose(samples_per_tone * step, clock_held);
            for (std::size_t k = 0; k < reads.size(); ++k) {
                if (reads[k].offset_variance < 1e29)
                    loose.add(k, reads[k], step, excess);
            }
            if (!loose.fit(first, per_tone))
                return step;
        }
    }
    // A line far off the grid's clock is a fit to noise.
    if (std::fabs(per_tone / (samples_per_tone * step) - 1.0) > tuning::clock_range)
        return step;
    for (std::size_t k = 0; k < reads.size(); ++k)
        reads[k].start = first + per_tone * static_cast<double>(k);
    return per_tone / samples_per_tone;
}

// ---- The converter's filter, measured: the file's sound at the library's instants against
// the first pass's tones, as a filter of 2 * filter_half + 1 taps plus an offset.

constexpr int filter_half = 64;
constexpr int filter_taps = 2 * filter_half + 1;
// The filter tells frequencies this many hertz apart, about the library's rate over its taps.
constexpr double filter_resolution = 16.0;
// The first tones, up to this many samples at the library's rate, are what it is measured on.
constexpr int most_filter_samples = 1 << 17;

struct channel {
    std::vector<double> filter = std::vector<double>(filter_taps, 0.0); // tap j: delay j - filter_half
    double offset = 0.0;
    double noise = 0.0;           // variance per sample of what the filtered tones leave over
    double edge = sample_rate / 2; // where the file's band ends, hertz
    std::vector<double> band_edge; // a low-pass where the file lost its top band, else empty
    int spill = filter_half;      // how far a tone reaches past its ends, through the filters
};

// The power spectrum of `signal` in bands of 10 Hz from 0 to 1000 Hz (at the library's rate),
// averaged over Hann-windowed stretches of about a second, or of the longest power of two, down
// to 256 samples, that a shorter signal holds (two tones of 3 tenths: `Ûa` after sox's
// resampler, whose `a` at 993 Hz was taken as a space where no spectrum said the band was cut).
std::vector<double> bandpowers(const std::vector<float> &signal)
{
    int size = 2048;
    while (size > 256 && static_cast<std::size_t>(size) > signal.size())
        size /= 2;
    constexpr int bands = 100;
    std::vector<std::complex<float>> data(size);
    std::vector<double> power(bands, 0.0);
    for (std::size_t at = 0; at + size <= signal.size(); at += size / 2) {
        for (int n = 0; n < size; ++n)
            data[n] = signal[at + n] * static_cast<float>(0.5 - 0.5 * std::cos(2.0 * pi * (n + 0.5) / size));
        fft(data.data(), size);
        for (int k = 1; k < size / 2; ++k)
            power[std::min(bands - 1, static_cast<int>(k * sample_rate / size / 10.0))] += std::norm(data[k]);
    }
    return power;
}

// Where the file's band may end, in hertz at the library's rate: above it the file holds a
// three-hundredth (25 dB below) or less of the power of the typical band from 100 to 800 Hz,
// 10 Hz wide. The typical band holds no tone, only what lies between tones: the 8-bit
// encoding's small errors, a codec's or a recording's noise, the overtones of the waveforms;
// a converter that keeps the whole band keeps that to the top: 1000 alone then. Resamplers
// cut at 91 % (libsoxr's default), 95 % (sox's), 97 % of the band, and where they cut, the
// tones of codes above are all but lost, but for their starts, ends and small errors below.
// A few tones in the cut's fall hide where it lies: where the top 10 Hz hold a hundredth of
// the typical band or less but no edge shows, 1000 and every edge a resampler cuts at.
std::vector<double> bandedges(const std::vector<float> &heard)
{
    const std::vector<double> power = bandpowers(heard);
    std::vector<double> typical(power.begin() + 10, power.begin() + 80);
    std::nth_element(typical.begin(), typical.begin() + typical.size() / 2, typical.end());
    const double floor = typical[typical.size() / 2];
    if (floor <= 0.0)
        return {sample_rate / 2};
    // The first band from 800 Hz up from which the file holds next to nothing to the top.
    for (int band = 80; band < 99; ++band) {
        bool lost = true;
        for (int above = band; above < 99 && lost; ++above)
            lost = power[above] < floor / 300.0;
        if (lost)
            return {band * 10.0};
    }
    if (power[99] < floor / 100.0)
        return {sample_rate / 2, 980.0, 970.0, 950.0, 910.0};
    return {sample_rate / 2};
}

// A low-pass that falls into `edge` hertz, where a resampler left next to nothing, about as a
// resampler's own filter does, to see every code's tone as such a file holds it: 3 dB down
// 30 Hz below the edge, 20 dB down 10 Hz below it, 45 dB down at it. (sox's default falls
// within 5 dB of it; a steeper model, flat to 15 Hz below the edge, left the tones in the fall
// brighter than the file holds them, and some undecided.)
std::vector<double> bandedgefilter(double edge)
{
    return lowpassfilter(edge - 25.0, 80);
}

// Measures the channel on the first tones as last decided, leaving out those not trusted, the
// file's band ending at `edge` hertz; with no `edge`, where it is found to (the first of
// `edges`, which lists the others it may end at).
channel measurechannel(const std::vector<float> &samples, const tone_set &set, const std::vector<tone_read> &reads,
                       double step, const double *edge, std::vector<double> *edges = nullptr)
{
    channel measured;
    measured.filter[filter_half] = 1.0;
    const int tones = std::min<int>(static_cast<int>(reads.size()), std::max(1, most_filter_samples / set.samples));
    const int count = tones * set.samples;
    std::vector<float> heard(static_cast<std::size_t>(count));
    std::vector<float> sent(static_cast<std::size_t>(count), 0.0f);
    extract(samples, reads[0].start, step, count, heard.data());
    // A tone not trusted teaches nothing: left out on both sides. Where a few tones or none are
    // trusted (tones too short to tell codes 1 Hz apart), all teach the gain at least.
    int trusted = 0;
    for (int t = 0; t < tones; ++t)
        trusted += reads[t].trusted && reads[t].code != 0;
    // The filter's bands of 16 Hz that the teaching tones sound in.
    std::vector<bool> taught_bands(static_cast<std::size_t>(sample_rate / 2 / filter_resolution) + 1, false);
    for (int t = 0; t < tones; ++t) {
        float *at = &sent[static_cast<std::size_t>(t) * set.samples];
        if (!reads[t].trusted && trusted >= 4) {
            std::fill(&heard[static_cast<std::size_t>(t) * set.samples], &heard[static_cast<std::size_t>(t) * set.samples] + set.samples, 0.0f);
            continue;
        }
        std::copy(set.tone(reads[t].code), set.tone(reads[t].code) + set.samples, at);
        if (reads[t].code != 0)
            taught_bands[static_cast<std::size_t>(foldedfrequency(reads[t].code) / filter_resolution)] = true;
    }
    if (edge != nullptr) {
        measured.edge = *edge;
    } else {
        std::vector<double> found = bandedges(heard);
        measured.edge = found.front();
        if (edges != nullptr)
            *edges = std::move(found);
    }
    if (measured.edge < sample_rate / 2)
        // A resampler's edge falls over the few tens of hertz below where nothing is left:
        // seen through a low-pass that falls as such a resampler's does, the tones of codes in
        // the fall are about as faint as such a file holds them; the channel's filter does the
        // rest.
        measured.band_edge = bandedgefilter(measured.edge);
    if (!measured.band_edge.empty()) {
        const int half = static_cast<int>(measured.band_edge.size() / 2);
        const std::vector<float> cut = filtered(sent.data(), count, measured.band_edge);
        std::copy(cut.begin() + half, cut.begin() + half + count, sent.begin());
        measured.spill += half;
    }
    double heard_mean = 0.0, sent_mean = 0.0;
    for (int n = 0; n < count; ++n) {
        heard_mean += heard[n];
        sent_mean += sent[n];
    }
    heard_mean /= count;
    sent_mean /= count;
    std::vector<double> x(static_cast<std::size_t>(count)), y(static_cast<std::size_t>(count));
    for (int n = 0; n < count; ++n) {
        x[n] = sent[n] - sent_mean;
        y[n] = heard[n] - heard_mean;
    }
    // Too few sounding samples, or tones of too few frequencies, to measure a filter on: a
    // gain and an offset. A filter fitted to a few frequencies is free at all others, and
    // there it may turn a code's tone into its negative.
    int sounding = 0;
    for (float sample : sent)
        sounding += sample != 0.0f;
    if (sounding < 20 * filter_taps || std::count(taught_bands.begin(), taught_bands.end(), true) < tuning::least_filter_bands) {
        const double energy = dotd(x.data(), x.data(), count);
        const double gain = energy > 0.0 ? dotd(x.data(), y.data(), count) / energy : 0.0;
        measured.filter[filter_half] = gain;
        measured.offset = heard_mean - gain * sent_mean;
        double left = 0.0;
        for (int n = 0; n < count; ++n)
            left += (y[n] - gain * x[n]) * (y[n] - gain * x[n]);
        measured.noise = left / count;
        return measured;
    }
    // The sent tones' autocorrelation, shared by every pair of taps as far apart.
    std::vector<double> autocorrelation(filter_taps, 0.0);
    for (int lag = 0; lag < filter_taps; ++lag)
        autocorrelation[lag] = dotd(&x[lag], &x[0], count - lag);
    if (autocorrelation[0] <= 0.0)
        return measured;
    std::vector<double> right(filter_taps, 0.0);
    for (int j = 0; j < filter_taps; ++j) {
        const int delay = j - filter_half;
        const int first = std::max(0, delay);
        right[j] = dotd(&y[first], &x[first - delay], std::min(count, count + delay) - first);
    }
    // A ridge keeps bands the tones never visited, or visited faintly under noise, from
    // taking any value: toward the plain gain there, which the whole band shares, not toward
    // nothing, which would make the codes of those bands as faint as silence. It is fitted
    // twice: the second time as strong as the noise the first leaves calls for, so that no
    // tap strays by more than a twentieth of the gain.
    const double plain_gain = right[filter_half] / autocorrelation[0];
    const std::vector<double> heard_by_delay = right;
    const auto fitwithridge = [&](double ridge) {
        std::vector<double> matrix(static_cast<std::size_t>(filter_taps) * filter_taps);
        for (int i = 0; i < filter_taps; ++i) {
            for (int d = 0; d <= i; ++d)
                matrix[i * filter_taps + d] = autocorrelation[d];
            matrix[i * filter_taps] += ridge;
        }
        std::vector<double> taps = heard_by_delay;
        taps[filter_half] += ridge * plain_gain;
        if (solvebanded(matrix, taps, filter_taps, filter_taps))
            measured.filter = taps;
        // What the filtered tones leave over: |y - h x|^2 = y.y - 2 h.c + h.R.h.
        double left = dotd(y.data(), y.data(), count);
        for (int i = 0; i < filter_taps; ++i) {
            double filtered_i = 0.0;
            for (int j = 0; j < filter_taps; ++j)
                filtered_i += autocorrelation[std::abs(i - j)] * measured.filter[j];
            left += measured.filter[i] * (filtered_i - 2.0 * heard_by_delay[i]);
        }
        return std::max(left, 0.0);
    };
    double left = fitwithridge(1e-4 * autocorrelation[0]);
    if (plain_gain != 0.0)
        left = fitwithridge(std::max(1e-4 * autocorrelation[0], 400.0 * left / count / (plain_gain * plain_gain)));
    double gain = 0.0;
    for (double tap : measured.filter)
        gain += tap;
    measured.offset = heard_mean - gain * sent_mean;
    measured.noise = left / count;
    return measured;
}

// Every code's tone seen through the channel's filters, reaching `spill` samples past each end.
struct heard_set {
    int length = 0;
    std::vector<float> tones;
    std::vector<double> energy;
    const float *tone(int code) const { return &tones[static_cast<std::size_t>(code) * length]; }
};

heard_set hearset(const tone_set &set, const channel &through)
{
    heard_set heard;
    heard.length = set.samples + 2 * through.spill;
    heard.tones.assign(static_cast<std::size_t>(code_count) * heard.length, 0.0f);
    heard.energy.assign(code_count, 0.0);
    for (int code = 1; code < code_count; ++code) {
        if (!iscandidate(code))
            continue;
        std::vector<float> tone = !through.band_edge.empty() ? filtered(set.tone(code), set.samples, through.band_edge)
                                                             : std::vector<float>(set.tone(code), set.tone(code) + set.samples);
        tone = filtered(tone.data(), static_cast<int>(tone.size()), through.filter);
        std::copy(tone.begin(), tone.end(), heard.tones.begin() + static_cast<long>(code) * heard.length);
        for (float sample : tone)
            heard.energy[code] += static_cast<double>(sample) * sample;
    }
    return heard;
}

// The second pass: each tone's code by likelihood, with the filtered tones, the measured gain
// and offset, and its neighbours' overlap taken away. Tones already decided with a margin of
// `below` or more keep their decision.
void secondpass(const std::vector<float> &samples, const tone_set &set, const channel &through,
                double step, double below, std::vector<tone_read> &reads)
{
    const heard_set heard = hearset(set, through);
    std::vector<float> tone(static_cast<std::size_t>(heard.length));
    for (std::size_t k = 0; k < reads.size(); ++k) {
        tone_read &read = reads[k];
        if (read.margin >= below)
            continue;
        extract(samples, read.start - through.spill * step, step, heard.length, tone.data());
        for (float &sample : tone)
            sample -= static_cast<float>(through.offset);
        // What the tones before and after spill into this one's stretch.
        const int before = k > 0 ? reads[k - 1].code : 0;
        const int after = k + 1 < reads.size() ? reads[k + 1].code : 0;
        for (int i = 0; i < 2 * through.spill; ++i) {
            if (before != 0)
                tone[i] -= heard.tone(before)[set.samples + i];
            if (after != 0)
                tone[set.samples + i] -= heard.tone(after)[i];
        }
        double energy = 0.0;
        for (float sample : tone)
            energy += static_cast<double>(sample) * sample;
        double best = 0.0; // silence
        double second = -1e300;
        int code = 0, second_code = 0;
        double gain = 0.0, second_gain = 0.0;
        for (int candidate = 1; candidate < code_count; ++candidate) {
            if (!iscandidate(candidate))
                continue;
            // Each tone's own level may stray from the channel's: a room's resonances, a
            // codec's bands. Within limits: a whisper of a code is no code.
            const double product = dot(tone.data(), heard.tone(candidate), heard.length);
            const double level = std::clamp(product / (heard.energy[candidate] + 1e-30), tuning::lowest_tone_gain, tuning::highest_tone_gain);
            const double likelihood = 2.0 * level * product - level * level * heard.energy[candidate];
            if (likelihood > best) {
                second = best;
                second_code = code;
                second_gain = gain;
                best = likelihood;
                code = candidate;
                gain = level;
            } else if (likelihood > second) {
                second = likelihood;
                second_code = candidate;
                second_gain = level;
            }
        }
        const double left = std::max(0.0, energy - best) / heard.length;
        read.code = code;
        read.heard_energy = energy;
        read.explained = best;
        read.leftover = left;
        // What the best code leaves over is noise spread evenly over the samples, or the code's
        // own misfit: a tone the converter cut, clipped or a room rang into. Misfit that lies
        // along the difference between the best code and the next could as well have turned
        // the decision: it counts as noise along that line.
        double apart = 0.0, along = 0.0;
        for (int n = 0; n < heard.length; ++n) {
            const double first_model = code != 0 ? gain * heard.tone(code)[n] : 0.0;
            const double second_model = second_code != 0 ? second_gain * heard.tone(second_code)[n] : 0.0;
            apart += (first_model - second_model) * (first_model - second_model);
            along += (tone[n] - first_model) * (first_model - second_model);
        }
        const double misfit = apart > 0.0 ? along * along / apart : 0.0;
        read.margin = (best - second) / (2.0 * std::max({left, through.noise, misfit}) + 1e-30);
        read.trusted = read.margin >= tuning::decided_margin;
    }
}

bool overlapsdamage(const work_signal &work, double first, double last)
{
    for (const work_signal::stretch &damaged : work.damaged) {
        if (damaged.first < last && damaged.last > first)
            return true;
    }
    return false;
}

// The tones of a file read at one tone length: the waveform, the clock, every tone's code.
struct reading {
    grid layout;              // as found, the first sounding tone's start its origin
    const char *waveform = waveform_names[0];
    double step = 2.0;
    double tone_length = 0.0; // work samples
    std::vector<tone_read> reads;
    double loud = 0.0;        // the middle of the sounding tones' energies
    double decided = 0.0;     // the share of what the second pass heard that the decided codes match
    double matched = 0.0;     // the share all tones' likeliest codes match, decided or not
};

// The first pass alone over the tones of `layout`, its origin where the first sounding tone
// starts, in the waveform that matches them best, or in `waveform`: each tone's likeliest code,
// the clock their starts measure, and the share of the sound those codes match (`matched`). A
// cheap look at a start and a clock; `set`, when given, is set to the waveform's tones.
reading lookfirst(const std::vector<float> &samples, rendered_tones &rendered, grid layout,
                  const char *waveform = nullptr, const tone_set **set = nullptr)
{
    reading read;
    read.layout = layout;
    const int samples_per_tone = static_cast<int>(tonelength(layout.tenths));
    read.tone_length = samples_per_tone * layout.step;
    // Whole tones of silence before the first sound are spaces; less is a converter's delay.
    layout.origin -= std::floor(layout.origin / read.tone_length + 1.0 - tuning::leading_delay_share) * read.tone_length;
    const int tones = std::max(1, static_cast<int>(std::lround((samples.size() - layout.origin) / read.tone_length)));

    const tone_set &chosen = choosewaveform(samples, rendered, layout, tones, waveform, read.waveform);
    if (set != nullptr)
        *set = &chosen;
    read.reads = firstpass(samples, chosen, layout, tones);
    read.step = straighten(read.reads, layout.step, samples_per_tone, layout.clock_held);
    double energy = 0.0;
    for (const tone_read &tone : read.reads) {
        energy += tone.energy;
        read.matched += tone.first.share * tone.energy;
    }
    read.matched = energy > 0.0 ? read.matched / energy : 0.0;
    return read;
}

// Reads the tones of `layout`, its origin where the first sounding tone starts, in the waveform
// that matches them best, or in `waveform`.
reading readtones(const std::vector<float> &samples, rendered_tones &rendered, const grid &layout, const char *waveform = nullptr)
{
    const tone_set *chosen = nullptr;
    reading read = lookfirst(samples, rendered, layout, waveform, &chosen);
    const tone_set &set = *chosen;
    const std::size_t tones = read.reads.size();
    // Decided by likelihood twice: the second time through a channel measured on the first's
    // decisions, which hold the tones a converter cut as they were sent. Where a file of few
    // tones may end its band at several edges, each is tried, and the one whose codes match the
    // most of the sound is kept.
    const std::vector<tone_read> first_reads = read.reads;
    std::vector<double> edges;
    double best_matched = -1.0;
    for (std::size_t e = 0; e == 0 || (e < edges.size() && tones <= tuning::few_tones); ++e) {
        std::vector<tone_read> reads = first_reads;
        const channel first_guess = e == 0 ? measurechannel(samples, set, reads, read.step, nullptr, &edges)
                                           : measurechannel(samples, set, reads, read.step, &edges[e]);
        secondpass(samples, set, first_guess, read.step, 1e300, reads);
        const channel through = measurechannel(samples, set, reads, read.step, &first_guess.edge);
        secondpass(samples, set, through, read.step, 10.0 * tuning::decided_margin, reads);
        double matched = 0.0;
        for (const tone_read &tone : reads)
            matched += tone.explained;
        if (matched > best_matched) {
            best_matched = matched;
            read.reads = std::move(reads);
        }
    }

    // What a sounding tone holds: the middle of the energies of the tones decided as codes.
    std::vector<double> sounding;
    for (const tone_read &tone : read.reads) {
        if (tone.code != 0 && tone.trusted)
            sounding.push_back(tone.energy);
    }
    std::nth_element(sounding.begin(), sounding.begin() + sounding.size() / 2, sounding.end());
    read.loud = sounding.empty() ? 0.0 : sounding[sounding.size() / 2];
    // After the text's end a room rings on, or a codec pads: faint tones at the end are no
    // characters.
    while (read.reads.size() > 1 && read.reads.back().code != 0 && read.reads.back().energy < tuning::tail_share * read.loud)
        read.reads.pop_back();
    // Nor is a silent tone past the closing one that the file holds only part of: a text's
    // last space is a whole tone, and the ringing or padding after it is not.
    while (read.reads.size() > 2 && read.reads.back().code == 0 && read.reads[read.reads.size() - 2].code == 0 &&
           read.reads.back().start + read.tone_length > static_cast<double>(samples.size()) + 1.0)
        read.reads.pop_back();

    // As shares of what the second pass heard, which each code's match is part of: each
    // tone's stretch reaches its filters' length into its neighbours.
    double energy = 0.0;
    read.matched = 0.0;
    for (const tone_read &tone : read.reads) {
        energy += tone.heard_energy;
        if (tone.trusted)
            read.decided += tone.explained;
        read.matched += tone.explained;
    }
    read.decided = energy > 0.0 ? read.decided / energy : 0.0;
    read.matched = energy > 0.0 ? read.matched / energy : 0.0;
    return read;
}

// The starts and clocks of a short text's likeliest readings near where its sound rises and
// near the grid's own start. Three or four tones under noise may agree on a start half their
// periods off about as well as on their own, where every code reads as its negative, and tell
// a clock 0.2 % off poorly (and a square's tones near 1000 Hz put the grid's start a few
// samples off, clean or not): the first tone starts a sample or two before the sound reaches a
// twentieth of its peak (the later under noise); where the first tone is a square's or a
// sawtooth's near 1000 Hz whose fundamental a converter cut, which beats down to near nothing
// every 20 ms, the rise of its level's average, or within a few samples of the grid's start;
// at any clock the grid found, the library's, or the one its own tones measure; and at each
// clock a tone or two allow, where their phases agree (a sine's two tones 0.2 % fast, whose
// sound rose 7 ms early in a resampler's ringing, were read ` ›ó` for ` eó`, exit 0). Each is
// looked at with a first pass alone; the few whose codes match the most of the sound are
// returned.
std::vector<grid> likelystarts(const std::vector<float> &samples, rendered_tones &rendered, const grid &layout)
{
    std::vector<double> steps = {layout.step, 2.0};
    steps.insert(steps.end(), layout.other_steps.begin(), layout.other_steps.end());
    std::vector<std::pair<double, grid>> looks;
    std::vector<double> origins;
    for (const bool beating : {false, true}) {
        const double rise = firstsound(samples, beating);
        for (double before = -0.5; before <= 3.5; before += 0.5)
            origins.push_back(rise - before);
    }
    for (double off = -5.0; off <= 5.0; off += 0.5)
        origins.push_back(layout.origin + off);
    // Where the first tone does not beat, both rises are one, and a clock the first pass
    // measures may be one already tried: each start is looked at once.
    std::sort(origins.begin(), origins.end());
    origins.erase(std::unique(origins.begin(), origins.end()), origins.end());
    const auto looked = [&looks](const grid &start) {
        return std::any_of(looks.begin(), looks.end(), [&start](const auto &look) {
            return look.second.origin == start.origin && look.second.step == start.step;
        });
    };
    std::vector<std::pair<double, double>> candidates; // (origin, step)
    for (const double origin : origins) {
        for (const double step : steps)
            candidates.push_back({origin, step});
    }
    candidates.insert(candidates.end(), layout.other_clock_starts.begin(), layout.other_clock_starts.end());
    for (const auto &[origin, step] : candidates) {
        grid start = layout;
        start.origin = origin;
        start.step = step;
        if (looked(start))
            continue;
        const reading look = lookfirst(samples, rendered, start);
        looks.push_back({look.matched, start});
        start.step = look.step;
        if (!looked(start))
            looks.push_back({lookfirst(samples, rendered, start).matched, start});
    }
    const std::size_t kept = std::min(looks.size(), tuning::rise_readings);
    std::partial_sort(looks.begin(), looks.begin() + static_cast<long>(kept), looks.end(),
                      [](const auto &a, const auto &b) { return a.first > b.first; });
    std::vector<grid> starts;
    for (std::size_t i = 0; i < kept; ++i)
        starts.push_back(looks[i].second);
    return starts;
}

// The share of a sounding tone's energy that the last tone, the text's closing silence, holds:
// what noise puts into every tone; 1 where no tone was decided.
double silenceshare(const reading &read)
{
    return read.loud > 0.0 ? read.reads.back().energy / read.loud : 1.0;
}

// How many tones long the runs are in which the codes come, as a tone's pieces do (2 to 40
// over the tone length); 0 where they do not. A tone's piece starts at the phase its code has
// turned to by then: where a half turn, a sine's, a square's and a triangle's piece reads as
// the code's negative (a tone of half a second turns 15.5 times a code).
int piecerun(const reading &read)
{
    const bool odd_waveform = std::strcmp(read.waveform, "sawtooth") != 0;
    for (int times = 2; times * read.layout.tenths <= max_tenths; ++times) {
        bool runs = read.reads.size() >= static_cast<std::size_t>(times);
        for (std::size_t k = 0; k < read.reads.size() && runs; ++k) {
            const int code = read.reads[k].code;
            const int first = read.reads[k - k % times].code;
            runs = code == first || (odd_waveform && code == (256 - first) % 256);
        }
        if (runs)
            return times;
    }
    return 0;
}

// Whether another tone length might read the file better: the codes leave much of the sound
// unmatched, some tones were not decided, or the codes come in runs of two or more, as tones
// cut in pieces do.
bool indoubt(const reading &read)
{
    if (read.decided < tuning::sure_reading_share)
        return true;
    for (const tone_read &tone : read.reads) {
        if (!tone.trusted)
            return true;
    }
    return piecerun(read) != 0;
}

// Whether the file is worth reading in other ways: the reading is in doubt, or it is of a few
// tones, cheap to read again, whose first tone starts well before the file does, which a
// converter's sound never does (`ž‚` behind 80 ms of silence, in the triangle, the first
// tone's fundamental cut, read in the sine at 11 tenths from 30 ms before the file's start).
bool worthrereading(const reading &read)
{
    return indoubt(read) || (read.reads.size() <= tuning::few_tones &&
                             read.reads.front().start < -tuning::early_start_share * read.tone_length);
}

// The mean power of the samples from index `first` up to `last`, 0 where there are none.
double meanpower(const std::vector<float> &samples, std::size_t first, std::size_t last)
{
    last = std::min(last, samples.size());
    double energy = 0.0;
    for (std::size_t n = first; n < last; ++n)
        energy += static_cast<double>(samples[n]) * samples[n];
    return last > first ? energy / static_cast<double>(last - first) : 0.0;
}

// How many tones the reading leaves undecided.
std::size_t undecided(const reading &read)
{
    return static_cast<std::size_t>(std::count_if(read.reads.begin(), read.reads.end(), [](const tone_read &tone) { return !tone.trusted; }));
}

// Whether a room rings into the reading's closing silent tone, dying away over it: from
// `converter_ringing_seconds` after its start to its middle, it holds `room_silence_share` of a
// sounding tone's power or more, and `ringing_decay` times the power of its second half.
// Noise fills that tone evenly, and most converters' ringing is over within 50 ms of its start.
bool ringsintosilence(const std::vector<float> &samples, const reading &read)
{
    if (read.reads.empty() || read.reads.back().code != 0)
        return false;
    const double start = read.reads.back().start;
    const auto after = [](double at) { return static_cast<std::size_t>(std::max(0.0, std::ceil(at))); };
    const auto skipped = static_cast<std::size_t>(std::max(0.0, start + tuning::converter_ringing_seconds * work_rate));
    const std::size_t middle = after(start + read.tone_length / 2.0);
    const std::size_t end = std::min(after(start + read.tone_length), samples.size());
    const double early = meanpower(samples, skipped, middle);
    const double tone_samples = read.tone_length / read.step;
    return skipped < middle && middle < end && early * tone_samples >= tuning::room_silence_share * read.loud &&
           early >= tuning::ringing_decay * meanpower(samples, middle, end);
}

// How alike the sound's first `onset_samples` from `start` and `tone`'s are, from 1 (the same
// but for gain) through 0 to -1 (its negative), counting the `onset_silence` samples of the
// library's rate before `start` as the sound's, which are the tone's silence.
double onsetlikeness(const std::vector<float> &samples, double start, const std::vector<float> &tone)
{
    constexpr int before = tuning::onset_silence;
    constexpr int length = tuning::onset_samples + before;
    float heard[length];
    extract(samples, start - before * 2.0, 2.0, length, heard);
    const double match = dot(heard + before, tone.data(), tuning::onset_samples);
    const double norm = std::sqrt(static_cast<double>(dot(heard, heard, length)) * dot(tone.data(), tone.data(), tuning::onset_samples));
    return norm > 0.0 ? match / norm : 0.0;
}

// Where the first tone starts, to a quarter of a work sample, near `rise`, where the sound
// first rises: a room rings on after the sound, so the tone's first `onset_samples` are the
// sound as the library made it, sign and all, before the room's first echo. The start where
// they match `tone`, or its negative, best, the silence before it counted; false where a start
// matching the other sign matches about as well (a tone near 1000 Hz, whose half period is a
// sample long, its edge smoothed by a steep converter), or none matches well. The rise is
// found up to two samples late where the sound starts with the file; after silence, a
// resampler's ringing before the tone may put it up to two milliseconds early: the starts
// after the rise are looked at only where those before it match too little.
bool onsetstart(const std::vector<float> &samples, const std::vector<float> &tone, double rise, double &start)
{
    if (tone.size() < static_cast<std::size_t>(tuning::onset_samples))
        return false;
    for (const double past_rise : {tuning::onset_past_rise, tuning::onset_past_early_rise}) {
        double best_same = 0.0, best_negated = 0.0, same_start = rise, negated_start = rise;
        for (double at = rise - tuning::onset_search; at <= rise + past_rise; at += 0.25) {
            const double likeness = onsetlikeness(samples, at, tone);
            if (likeness > best_same) {
                best_same = likeness;
                same_start = at;
            }
            if (-likeness > best_negated) {
                best_negated = -likeness;
                negated_start = at;
            }
        }
        start = best_same >= best_negated ? same_start : negated_start;
        if (std::max(best_same, best_negated) >= tuning::onset_likeness)
            return std::fabs(best_same - best_negated) >= tuning::onset_sign_gap;
    }
    return false;
}

} // namespace

bool decodeconverted(const work_signal &work, decode_result &result)
{
    const std::vector<float> &samples = work.samples;
    float loudest = 0.0f;
    for (float sample : samples)
        loudest = std::max(loudest, std::fabs(sample));
    if (samples.empty() || loudest < 1e-6f) {
        result.error = "the file is silent: there are no tones to decode";
        return false;
    }
    grid layout;
    if (!findgrid(samples, layout) || layout.matched < tuning::tones_share) {
        result.error = "not a file of tones: no tone length from 1 to 40 tenths matches its sound";
        return false;
    }
    rendered_tones rendered;
    reading best = readtones(samples, rendered, layout);
    // A tone or two agree on starts half their periods apart, and the sound's first rise may
    // be a resampler's ringing before the first tone: where a file's few tones leave a little
    // of the sound over, each such start is read too, and the one whose codes match the sound
    // best is taken if it matches clearly more. Of a text of up to five characters whose codes
    // match a little less of the sound than a clean conversion's do, only the start a first
    // pass likes best is read whole, and only where it likes it more than the grid's: such a
    // reading is most often right, and its tones may be long.
    const bool few_characters = best.reads.size() <= tuning::rise_reading_tones;
    const bool loose = best.decided < tuning::aligned_reading_share && best.reads.size() <= tuning::few_tones;
    const bool nearly_clean = !loose && few_characters && best.decided < tuning::clean_reading_share;
    if (loose || nearly_clean) {
        std::vector<grid> starts;
        for (std::size_t i = 0; i < std::min<std::size_t>(layout.other_origins.size(), tuning::most_other_starts); ++i) {
            starts.push_back(layout);
            starts.back().origin = layout.other_origins[i];
        }
        // Under noise, a short text's tones may agree on a start where each reads as its
        // code's negative, and tell the clock poorly; and a square's tones near 1000 Hz, whose
        // fundamentals do not start at phase 0, put the grid's start off.
        if (few_characters) {
            const std::vector<grid> risen = likelystarts(samples, rendered, layout);
            starts.insert(starts.end(), risen.begin(), risen.end());
        }
        if (nearly_clean) {
            double most_matched = lookfirst(samples, rendered, layout).matched;
            std::vector<grid> likelier;
            for (const grid &start : starts) {
                const double matched = lookfirst(samples, rendered, start).matched;
                if (matched > most_matched) {
                    most_matched = matched;
                    likelier = {start};
                }
            }
            starts = std::move(likelier);
        }
        reading aligned;
        for (const grid &start : starts) {
            reading tried = readtones(samples, rendered, start);
            if (tried.decided > aligned.decided)
                aligned = std::move(tried);
        }
        if (aligned.decided > best.decided + tuning::other_start_gain)
            best = std::move(aligned);
    }
    // Where the reading leaves doubt (the grid's length may be a tone's piece, or the few
    // tones of a short file fit any length's grid), every length's tones are matched against
    // the codes' and the likeliest is read too; taken when it reads the sound better, or, a
    // whole multiple of the first, about as well. Then the library's clock, the first tone's
    // start 32 ms either side, the start where the sound rises, and the other waveforms, each
    // kept where it reads better.
    if (worthrereading(best)) {
        // The better reading at another length: from `from`'s start and clock, or from the
        // grid's start at that length, and for a short text not read clean there, from the
        // starts and clocks a first pass likes best at that length, as at the grid's own (two
        // tones 0.2 % fast were read at 10 tenths, the first before the file's start); none
        // where the sound from that start does not hold a character's tone and half its closing
        // silence (junk would have every length's tones rendered, up to 40 tenths).
        const auto held = [&](const grid &at) {
            return (static_cast<double>(samples.size()) - std::max(0.0, at.origin)) / (tonelength(at.tenths) * at.step) >=
                   tuning::least_tones_held;
        };
        const auto readlength = [&](const grid &from, int tenths) -> std::optional<reading> {
            grid at = from;
            at.tenths = tenths;
            if (!held(at))
                return std::nullopt;
            reading read = readtones(samples, rendered, at);
            grid found;
            if (findgrid(samples, found, tenths)) {
                reading tried = readtones(samples, rendered, found);
                if (tried.decided > read.decided)
                    read = std::move(tried);
                if (read.decided < tuning::aligned_reading_share && read.reads.size() <= tuning::rise_reading_tones) {
                    for (const grid &start : likelystarts(samples, rendered, found)) {
                        reading tried = readtones(samples, rendered, start);
                        if (tried.decided > read.decided)
                            read = std::move(tried);
                    }
                }
            }
            return read;
        };
        // The likeliest length's start is found in the band below 860 Hz, which tones near
        // 1000 Hz barely reach, and a start a sample off reads them as their negatives through
        // a channel that turns them the rest of the way: it is taken where a first pass alone,
        // within two samples, matches the most of the sound.
        grid likeliest = likeliestlength(samples, layout);
        const bool new_length = likeliest.tenths != layout.tenths;
        const double measured_origin = likeliest.origin;
        double most_matched = -1.0;
        for (double off = -4.0; off <= 4.0 && (!new_length || held(likeliest)); off += 0.5) {
            grid start = likeliest;
            start.origin = measured_origin + off;
            const double matched = lookfirst(samples, rendered, start).matched;
            if (matched > most_matched) {
                most_matched = matched;
                likeliest.origin = start.origin;
            }
        }
        grid other;
        // Read from the first tone's start the length was measured from, which may be the
        // file's where the grid's fell on another tone or its ringing; and, at another
        // length, from the grid's start at that length.
        std::optional<reading> tried = new_length ? readlength(likeliest, likeliest.tenths) : readtones(samples, rendered, likeliest);
        const bool multiple = new_length && likeliest.tenths % layout.tenths == 0;
        if (tried && (tried->decided > best.decided || (multiple && tried->decided >= tuning::longer_reading_share * best.decided)))
            best = std::move(*tried);
        // Or a few tones under noise fit the grid of a longer length about as well, its first
        // tone reaching back before the sound, where its first end is the file's: the length
        // whose first tone starts with the sound, and a tenth either side. Of as many tones
        // (fewer leave sound unread, which under noise reads as matching more), or one that
        // leaves no doubt: clean, a code read whole beats one whose tone reached back before
        // the file's start.
        const grid fitted = best.layout;
        const double tenth = tonelength(1) * fitted.step;
        const int tenths_before = static_cast<int>(std::lround(-fitted.origin / tenth));
        grid from_sound = fitted, a_tenth_shorter = fitted, a_tenth_longer = fitted;
        from_sound.tenths -= tenths_before;
        from_sound.origin += tenths_before * tenth;
        a_tenth_shorter.tenths -= 1;
        a_tenth_longer.tenths += 1;
        for (const grid &near : {from_sound, a_tenth_shorter, a_tenth_longer}) {
            if (best.reads.size() > tuning::few_tones)
                break;
            if (near.tenths < 1 || near.tenths > max_tenths || near.tenths == fitted.tenths)
                continue;
            std::optional<reading> tried = readlength(near, near.tenths);
            if (tried && (tried->reads.size() == best.reads.size() || !indoubt(*tried)) && tried->decided > best.decided)
                best = std::move(*tried);
        }
        // Or a longer length whose comb matched nearly as well is the file's.
        for (const int longer : layout.longer_lengths) {
            if (!worthrereading(best))
                break;
            if (longer != best.layout.tenths && findgrid(samples, other, longer)) {
                reading tried = readtones(samples, rendered, other);
                if (tried.decided > best.decided)
                    best = std::move(tried);
            }
        }
        // Or the codes come in runs, as a tone's pieces do, which under noise read about as
        // well as the whole tones: read at the runs' length.
        if (const int times = piecerun(best); times != 0) {
            std::optional<reading> tried = readlength(best.layout, best.layout.tenths * times);
            if (tried && tried->decided >= tuning::longer_reading_share * best.decided)
                best = std::move(*tried);
        }
        // Or the grid's length is the file's, and its pieces read better only at the clock they
        // measured, which a tone or two cannot show whole: read it again at that clock.
        if (best.layout.tenths != layout.tenths && layout.tenths % best.layout.tenths == 0) {
            grid whole = layout;
            whole.step = best.step;
            for (const tone_read &piece : best.reads) {
                if (piece.code != 0) {
                    whole.origin = piece.start;
                    break;
                }
            }
            reading tried = readtones(samples, rendered, whole);
            if (tried.decided >= tuning::longer_reading_share * best.decided)
                best = std::move(tried);
        }
        // Or the grid's clock misleads, found on tones a room smeared: the library's too, as a
        // start for the tones to measure, and held. A held clock's reading must decide as many
        // tones: a start a little off, held, matches more of a room's ringing with codes that
        // do not fit (22 tones read so matched 83 % of the sound, 78 % read right).
        for (const bool held : {false, true}) {
            if (!indoubt(best) || (!held && best.layout.step == 2.0))
                continue;
            grid library = best.layout;
            library.step = 2.0;
            library.clock_held = held;
            reading tried = readtones(samples, rendered, library);
            if (tried.decided > best.decided && (!held || undecided(tried) <= undecided(best)))
                best = std::move(tried);
        }
        // Or the first tone's start is off by the 32 ms after which every code's phase is all
        // but the same again (2000 / 31 samples), where the grid's alignment may settle. Such a
        // start reads the same waveform, unless its codes match the sound as a clean file's do:
        // another waveform matched less well is a room's ringing.
        const grid aligned = best.layout;
        for (const double side : {-1.0, 1.0}) {
            if (!worthrereading(best))
                break;
            grid shifted = aligned;
            shifted.origin += side * sample_rate / frequency_multiplier * shifted.step;
            reading tried = readtones(samples, rendered, shifted);
            if ((tried.waveform == best.waveform || tried.decided >= tuning::aligned_reading_share) && tried.decided > best.decided)
                best = std::move(tried);
        }
        // Or a room smeared the tones' phases, on which the grid's start and clock were found,
        // and the waveform: a room rings on after the sound, never before it, so the first
        // tone starts where the sound first rises. Read from there at the library's clock, in
        // each waveform; of waveforms, the one whose codes match the most of the sound, decided
        // or not, fits the file (a room leaves few tones decided in any).
        if (worthrereading(best)) {
            grid risen = best.layout;
            risen.origin = firstsound(samples);
            risen.step = 2.0;
            for (const bool held : {false, true}) {
                risen.clock_held = held;
                for (const char *waveform : waveform_names) {
                    reading tried = readtones(samples, rendered, risen, waveform);
                    if (tried.matched > best.matched && (!held || undecided(tried) <= undecided(best)))
                        best = std::move(tried);
                }
            }
        }
        // Or the waveform chosen on a few first tones is not the file's: a converter that cut
        // the fundamentals of a square's tones leaves overtones much like another waveform's.
        const grid settled = best.layout;
        for (const char *waveform : waveform_names) {
            if (!indoubt(best) || best.reads.size() > tuning::few_tones)
                break;
            if (waveform == best.waveform)
                continue;
            reading tried = readtones(samples, rendered, settled, waveform);
            if (tried.matched > best.matched)
                best = std::move(tried);
        }
    }
    // A sine's or a triangle's few tones read at a start a little off read as their codes'
    // negatives or their pairs' other codes at every frequency, each decided: after a
    // resampler's ringing before the first tone (`VU` read as `+Ô` at a clock 1534 ppm off
    // behind 80 ms of silence), or in a room (`/)` read as its negatives from a start 5 ms
    // early). Read them again from where the first tone's onset matches its code, at the
    // library's clock and at the one measured, both held, and take either where it matches more
    // of the sound. Where the last tone rings on into the closing silent tone, dying away, as in
    // a room, the reading from the onset stands only where both clocks read the same codes, and
    // otherwise nothing is decided: a room walks a few tones' clock hundreds of parts in a
    // million off, which turns a tone near 1000 Hz into its pair's other code, a clock may
    // really be that far off, and a room's ringing makes a reading match more or less as much.
    const bool sign_alone = std::strcmp(best.waveform, "sine") == 0 || std::strcmp(best.waveform, "triangle") == 0;
    const bool few_signs = sign_alone && best.reads.size() <= tuning::room_phase_tones && best.reads.back().code == 0;
    const bool room = few_signs && ringsintosilence(samples, best);
    bool read_from_onset = false;
    std::vector<float> first_tone;
    if (few_signs)
        rendercode(best.reads.front().code, best.layout.tenths, best.waveform, first_tone);
    grid onset = best.layout;
    onset.clock_held = true;
    if (few_signs && onsetstart(samples, first_tone, firstsound(samples), onset.origin)) {
        onset.step = 2.0;
        reading library = readtones(samples, rendered, onset, best.waveform);
        onset.step = best.step;
        reading measured = readtones(samples, rendered, onset, best.waveform);
        const auto same = [](const tone_read &one, const tone_read &other) {
            return one.trusted == other.trusted && (!one.trusted || one.code == other.code);
        };
        const bool agree = std::equal(library.reads.begin(), library.reads.end(), measured.reads.begin(), measured.reads.end(), same);
        if (room && agree && library.reads.size() == best.reads.size() && library.reads.back().code == 0) {
            best = std::move(library);
            read_from_onset = true;
        } else if (!room) {
            reading &better = library.matched >= measured.matched ? library : measured;
            if (better.matched > best.matched)
                best = std::move(better);
        }
    }
    const std::vector<tone_read> &reads = best.reads;
    // Codes that match less of the sound than noise as strong as the tones leaves them read
    // a grid that is not the file's: no character of it is decided. Nor, in a file of a few
    // tones, where one decided code matches little of its tone, however far ahead of the next
    // it is; in a longer file, only that tone is undecided.
    const auto codefits = [](const tone_read &read) {
        return read.code == 0 || read.explained >= tuning::least_tone_share * read.heard_energy;
    };
    bool unsure = best.decided < tuning::least_decided_share;
    for (const tone_read &read : reads) {
        const bool damaged = overlapsdamage(work, read.start, read.start + best.tone_length);
        unsure = unsure || (reads.size() <= tuning::few_tones && read.trusted && !damaged && !codefits(read));
    }
    // Nor, in a reading of a few tones in doubt, where the file does not hold the closing
    // silent tone nearly whole: a converter keeps a file's length, and a few tones under noise
    // fit a longer length about as well where they are its pieces (a text of one character
    // twice, read as one tone twice as long or more, the file ending within its silence). Nor,
    // in any reading of a few tones, where what comes before the first tone is sound, not a
    // converter's silence or noise: a reading from a start well into the first tone leaves it
    // unread (`.||` in the sawtooth 0.2 % fast, clean, read as `|` at 10 tenths from the
    // second tone on, exit 0: a sawtooth's tone of `|` twice is one twice as long).
    if (reads.size() <= tuning::few_tones && reads.back().code == 0) {
        const double closing_held = (static_cast<double>(samples.size()) - reads.back().start) / best.tone_length;
        const auto lead = static_cast<std::size_t>(std::clamp(reads.front().start, 0.0, static_cast<double>(samples.size())));
        const double tone_samples = best.tone_length / best.step;
        const double lead_power = meanpower(samples, 0, lead);
        const double silence_power = reads.back().energy / tone_samples;
        const double sound_power = best.loud / tone_samples;
        const bool in_doubt = best.decided < tuning::sure_reading_share;
        unsure = unsure || (in_doubt && closing_held < tuning::least_closing_share) ||
                 (static_cast<double>(lead) >= tuning::unread_lead_seconds * work_rate &&
                  lead_power > std::max(tuning::unread_lead_over_silence * silence_power, tuning::unread_lead_share * sound_power));
    }
    // Nor where the decided codes leave much of their tones over, several times the share of a
    // tone that the text's closing silent tone holds: noise fills that silence as much as it
    // fills the tones, and a room rings into it, but codes that do not fit (read from a start a
    // period off, or in another waveform) leave their misfit in the tones alone. But for a
    // single tone, whose clock is the library's: one a little off leaves as much. A reading of
    // a few tones that ends without that silence (a file cut short, or read at a clock and
    // start so far off that the silence fell past the end) has no noise to allow for: its
    // codes must fit as a clean file's do.
    const bool reads_closing_silence = reads.back().code == 0;
    if (best.decided < tuning::sure_reading_share && reads.size() > 1 && (reads_closing_silence || reads.size() <= tuning::few_tones)) {
        double left = 0.0, energy = 0.0, leftover = 0.0;
        int decided = 0;
        for (const tone_read &read : reads) {
            if (read.code != 0 && read.trusted) {
                left += std::max(0.0, read.energy - read.explained);
                energy += read.energy;
                leftover += read.leftover;
                ++decided;
            }
        }
        const double silence = reads_closing_silence ? silenceshare(best) : 0.0;
        unsure = unsure || (decided > 1 && left > std::max(tuning::misfit_share, tuning::misfit_over_silence * silence) * energy);
        // Under noise, codes that fit their tones leave over what the noise alone puts in the
        // silent tone, sample for sample; a few tones read at a clock a little off, each as
        // its pair's other code or its negative, leave half as much again.
        unsure = unsure || (reads_closing_silence && decided > 1 && silence >= tuning::noisy_silence_share &&
                            leftover > tuning::noisy_leftover_over_silence * decided * reads.back().leftover);
    }

    // Nor, in a sine's or a triangle's reading of a few tones, where a room rings into the
    // closing silent tone and the tones were not read again from the first one's onset: a room
    // turns each frequency's phase its own way, so far at some that a tone reads as its code's
    // negative, which in those waveforms differs in sign alone, and a few tones give the
    // channel's phase nothing to be measured on (a quarter of the sine's texts of two to five
    // characters in sox's reverberation were read so, exit 0).
    unsure = unsure || (room && !read_from_onset);

    result.tenths = best.layout.tenths;
    result.waveform = best.waveform;
    result.exact = false;
    result.clock = 2.0 / best.step;
    result.damaged_samples = work.damaged_samples;
    result.weakest_margin = 1e300;
    // Silence holds little: a tone as loud as a character's that no code matches is no space.
    const auto silent = [&](const tone_read &read) { return read.code == 0 && read.energy <= tuning::silence_share * best.loud; };
    // A room that rings strongly at a tone's frequency turns its phase, and the tone reads as
    // its code's negative or its pair's other code, leaving much of itself over.
    const double closing_silence = reads_closing_silence ? silenceshare(best) : 0.0;
    const auto misfits = [&](const tone_read &read) {
        return closing_silence >= tuning::heard_silence_share &&
               read.energy - read.explained > std::max(tuning::ringing_misfit_share, tuning::misfit_over_silence * closing_silence) * best.loud;
    };
    // The last tone is the text's end, silent; a file cut short ends in a character.
    const bool ends_silent = silent(reads.back());
    result.cut_short = !ends_silent;
    const std::size_t characters = ends_silent ? reads.size() - 1 : reads.size();
    for (std::size_t k = 0; k < characters; ++k) {
        const tone_read &read = reads[k];
        const bool damaged = overlapsdamage(work, read.start, read.start + best.tone_length);
        const bool decided = !damaged && read.margin >= tuning::decided_margin && !unsure && codefits(read) && !misfits(read) &&
                             (read.code != 0 || silent(read));
        result.codes.push_back(decided ? (read.code == 0 ? ' ' : read.code) : -1);
        if (read.margin < result.weakest_margin) {
            result.weakest_margin = read.margin;
            result.weakest_position = static_cast<int>(k);
        }
    }
    if (result.codes.empty())
        result.weakest_margin = 0.0;
    return true;
}

} // namespace wavcreate
