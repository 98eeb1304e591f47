// The tone length where the grid's leaves doubt: every length's tones, from the first tone's
// start, are matched against every code's tone in every waveform. Only a length the tones
// are, or a whole fraction of, starts each of its tones at a phase some code starts with.
#include "decode/analysis.h"

#include "decode/tuning.h"
#include "entry/genwav.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

namespace wavcreate {

namespace {

// Every code's tone in every waveform over one period of 2000 samples: a code of frequency
// 31 c turns 31 c whole times a second, and a tone of any length repeats that period, but for
// the sine's silent tail, its last 100 samples.
constexpr int period_samples = 2000;
constexpr int sine_tail = 100;
constexpr int period_rows = static_cast<int>(std::size(waveform_names)) * code_count;

// Every resampler keeps the band below 900 Hz: the tone lengths are compared in it, so that
// tones a converter cut count as what it left of them.
constexpr double compared_band = 860.0;
constexpr int compared_band_half = 50;

// How many samples of each tone are matched: the tone of `tenths` but for the sine's tail; for
// the first tone's start (`tenths` 0), 200, as long as the shortest tone.
int matchedlength(int tenths)
{
    return tenths == 0 ? 2 * sine_tail : static_cast<int>(std::floor(tonelength(tenths))) - sine_tail;
}

// The periods seen through the compared band, and each one's energy, less its mean, over every
// matched length: made once, they serve every file a process reads.
struct band_periods {
    std::vector<double> band;     // the compared band's low-pass
    std::vector<float> samples;   // period_rows rows of period_samples
    std::vector<double> energies; // max_tenths + 1 rows of period_rows, by `tenths`
    const float *period(int row) const { return &samples[static_cast<std::size_t>(row) * period_samples]; }
    const double *energy(int tenths) const { return &energies[static_cast<std::size_t>(tenths) * period_rows]; }
};

const band_periods &bandperiods()
{
    static const band_periods periods = [] {
        band_periods made;
        made.samples.assign(static_cast<std::size_t>(period_rows) * period_samples, 0.0f);
        made.energies.assign(static_cast<std::size_t>(max_tenths + 1) * period_rows, 0.0);
        made.band = lowpassfilter(compared_band, compared_band_half);
        // Every matched length with its tenths, shortest first.
        std::vector<std::pair<int, int>> lengths;
        for (int tenths = 0; tenths <= max_tenths; ++tenths)
            lengths.emplace_back(matchedlength(tenths), tenths);
        std::sort(lengths.begin(), lengths.end());
        std::vector<float> samples;
        std::vector<float> repeated(period_samples + 2 * compared_band_half);
        constexpr int tenths = 11; // 2200 samples, 2100 before the sine's tail
        for (int row = 0; row < period_rows; ++row) {
            const int code = row % code_count;
            if (code == 0 || !iscandidate(code))
                continue;
            rendercode(code, tenths, waveform_names[row / code_count], samples);
            // Low-passed as the repeating sound it stands for.
            for (std::size_t n = 0; n < repeated.size(); ++n)
                repeated[n] = samples[(n + period_samples - compared_band_half) % period_samples];
            const std::vector<float> cut = lowpassed(repeated, made.band);
            float *period = &made.samples[static_cast<std::size_t>(row) * period_samples];
            std::copy(cut.begin() + compared_band_half, cut.begin() + compared_band_half + period_samples, period);
            // Every matched length's sums, in one walk along the repeating period.
            double sum = 0.0, squares = 0.0;
            auto next = lengths.begin();
            for (int n = 1; next != lengths.end(); ++n) {
                const float sample = period[(n - 1) % period_samples];
                sum += sample;
                squares += static_cast<double>(sample) * sample;
                for (; next != lengths.end() && next->first == n; ++next)
                    made.energies[static_cast<std::size_t>(next->second) * period_rows + row] = squares - sum * sum / n;
            }
        }
        return made;
    }();
    return periods;
}

// The share of `heard` (centred, `length` samples of a tone `tenths` long) that the best code's
// tone of any waveform matches, each code's tone from its period; each waveform's best is
// added to `by_waveform` too.
double bestshare(const band_periods &periods, int tenths, const float *heard, double energy, double *by_waveform)
{
    const int length = matchedlength(tenths);
    const double *code_energy = periods.energy(tenths);
    double overall = 0.0;
    for (std::size_t w = 0; w < std::size(waveform_names); ++w) {
        double best = 0.0;
        for (int code = 1; code < code_count; ++code) {
            const int row = static_cast<int>(w) * code_count + code;
            if (code_energy[row] <= 0.0)
                continue;
            // The heard tone less its mean: its product with the code's tone is the product
            // with that tone less the tone's own mean.
            double product = 0.0;
            for (int from = 0; from < length; from += period_samples)
                product += dot(heard + from, periods.period(row), std::min(period_samples, length - from));
            if (product > 0.0)
                best = std::max(best, product * product / code_energy[row]);
        }
        if (by_waveform != nullptr)
            by_waveform[w] += best;
        overall = std::max(overall, best);
    }
    return energy > 0.0 ? overall / energy : 0.0;
}

// The first tone's start to half a work sample: where its first 200 samples, as long as the
// shortest tone, match a code's best in the compared band. From 60 ms before where the sound
// `rose` (a tone of slow overtones, what a resampler leaves of one near 1000 Hz, rises late) to
// 2 ms after, every millisecond, then every half work sample around the best.
double firsttonestart(const std::vector<float> &samples, const band_periods &periods, double rose)
{
    const int length = matchedlength(0);
    const double from = std::max(0.0, rose - 0.06 * work_rate);
    const double to = rose + 0.002 * work_rate;
    // The stretch searched at the library's rate, low-passed once for each of the four half
    // work samples a start may fall on.
    const int count = static_cast<int>((to - from) / 2.0) + length + 2 * compared_band_half + 2;
    std::vector<float> stretches[4];
    for (int phase = 0; phase < 4; ++phase) {
        std::vector<float> stretch(static_cast<std::size_t>(count));
        extract(samples, from + 0.5 * phase - compared_band_half * 2.0, 2.0, count, stretch.data());
        stretches[phase] = lowpassed(stretch, periods.band);
    }
    std::vector<float> heard(static_cast<std::size_t>(length));
    const auto shareat = [&](double at) {
        const auto halves = static_cast<long>(std::lround((at - from) * 2.0));
        const float *cut = &stretches[halves % 4][static_cast<std::size_t>(halves / 4 + compared_band_half)];
        const double energy = centred(cut, length, heard.data());
        return bestshare(periods, 0, heard.data(), energy, nullptr);
    };
    double start = from;
    double best = -1.0;
    const auto tryat = [&](double at) {
        if (at < from || at > to)
            return;
        const double share = shareat(at);
        if (share > best) {
            best = share;
            start = at;
        }
    };
    for (double at = from; at <= to; at += 0.001 * work_rate)
        tryat(at);
    const double coarse = start;
    for (double at = coarse - 3.5; at <= coarse + 3.5; at += 0.5)
        tryat(at);
    return start;
}

// How much of the sound from `origin` on tones `tenths` long match, each against every code's
// tone but for its last 100 samples, as the share of their energy: the best waveform's. A
// length the tones are not, nor a whole fraction of, puts most tones' starts in the middle of
// the file's tones, at phases no code starts with.
double lengthmatch(const std::vector<float> &sound, const band_periods &periods, int tenths)
{
    const auto tone_samples = static_cast<std::size_t>(std::floor(tonelength(tenths)));
    const int length = matchedlength(tenths);
    std::vector<float> heard(static_cast<std::size_t>(length));
    double matched[std::size(waveform_names)] = {};
    double energy = 0.0;
    for (std::size_t at = 0; at + static_cast<std::size_t>(length) <= sound.size(); at += tone_samples) {
        const double tone_energy = centred(&sound[at], length, heard.data());
        energy += tone_energy;
        bestshare(periods, tenths, heard.data(), tone_energy, matched);
    }
    return energy > 0.0 ? *std::max_element(std::begin(matched), std::end(matched)) / energy : 0.0;
}

// How well each tone length's tones match from the first tone's start found near `rise`, at
// the grid's clock and at the library's, where the grid's was found on the wrong length.
struct length_scores {
    double origin = 0.0;
    double at_grid_clock[max_tenths + 1] = {};
    double at_library_clock[max_tenths + 1] = {};
    double score(int tenths) const { return std::max(at_grid_clock[tenths], at_library_clock[tenths]); }
    int best() const
    {
        int found = 1;
        for (int tenths = 2; tenths <= max_tenths; ++tenths) {
            if (score(tenths) > score(found))
                found = tenths;
        }
        return found;
    }
};

length_scores lengthscores(const std::vector<float> &samples, const band_periods &periods, double grid_step, double rise)
{
    length_scores scores;
    scores.origin = firsttonestart(samples, periods, rise);
    const auto count = static_cast<int>(std::min<double>(samples.size() - scores.origin, tuning::first_search_seconds * work_rate) / 2.0);
    std::vector<float> sound(static_cast<std::size_t>(std::max(count, 0)));
    const auto match = [&](double step, double *into) {
        extract(samples, scores.origin, step, static_cast<int>(sound.size()), sound.data());
        const std::vector<float> cut = lowpassed(sound, periods.band);
        for (int tenths = 1; tenths <= max_tenths; ++tenths)
            into[tenths] = lengthmatch(cut, periods, tenths);
    };
    match(grid_step, scores.at_grid_clock);
    if (grid_step != 2.0)
        match(2.0, scores.at_library_clock);
    return scores;
}

} // namespace

// The tone length whose tones' starts match the sound best; of its whole multiples that match
// about as well, the longest: a tone's pieces start as tones of its code do where the code's
// phase turns whole at the cut.
grid likeliestlength(const std::vector<float> &samples, const grid &layout)
{
    const band_periods &periods = bandperiods();
    // The first sound starts a tone, whatever its length. A first tone that beats down to near
    // nothing (a square's near 1000 Hz whose fundamental a converter cut) may rise well before
    // the sound holds its level: from there too, where its tones match better.
    const double rise = firstsound(samples);
    const double beating_rise = firstsound(samples, true);
    length_scores scores = lengthscores(samples, periods, layout.step, rise);
    if (beating_rise != rise) {
        length_scores beating = lengthscores(samples, periods, layout.step, beating_rise);
        if (beating.score(beating.best()) > scores.score(scores.best()))
            scores = beating;
    }
    const int best = scores.best();
    grid likeliest = layout;
    likeliest.tenths = best;
    for (int tenths = 2 * best; tenths <= max_tenths; tenths += best) {
        if (scores.score(tenths) >= tuning::longer_reading_share * scores.score(best))
            likeliest.tenths = tenths;
    }
    likeliest.origin = scores.origin;
    if (scores.at_library_clock[likeliest.tenths] > scores.at_grid_clock[likeliest.tenths])
        likeliest.step = 2.0;
    return likeliest;
}

} // namespace wavcreate
