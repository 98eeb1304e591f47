#include "decode/decode_parts.h"

#include "entry/genwav.h"

#if defined(WAVCREATE_HAVE_SNDFILE)
#include <sndfile.h>
#endif

#include <algorithm>
#include <cmath>
#include <complex>
#include <map>
#include <numeric>
#include <vector>

namespace wavcreate {

#if !defined(WAVCREATE_HAVE_SNDFILE)

bool decodeconverted(const std::string &, decode_result &result)
{
    result.error = "not an 8-bit file of tones as wavcreate writes them; this wavcreate was "
                   "built without libsndfile, which reads converted files";
    return false;
}

#else

namespace {

constexpr double pi = 3.14159265358979323846;

// libsndfile reads the file from memory, so that standard input works like a file.
struct memory_file {
    const std::string *bytes;
    sf_count_t at;
};

sf_count_t memory_length(void *user)
{
    return static_cast<sf_count_t>(static_cast<memory_file *>(user)->bytes->size());
}

sf_count_t memory_seek(sf_count_t offset, int whence, void *user)
{
    auto *memory = static_cast<memory_file *>(user);
    const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? memory->at
                                                                      : memory_length(user);
    memory->at = std::clamp<sf_count_t>(base + offset, 0, memory_length(user));
    return memory->at;
}

sf_count_t memory_read(void *out, sf_count_t count, void *user)
{
    auto *memory = static_cast<memory_file *>(user);
    const sf_count_t available = std::min(count, memory_length(user) - memory->at);
    std::copy_n(memory->bytes->data() + memory->at, available, static_cast<char *>(out));
    memory->at += available;
    return available;
}

sf_count_t memory_write(const void *, sf_count_t, void *) { return 0; }

sf_count_t memory_tell(void *user) { return static_cast<memory_file *>(user)->at; }

// The file's samples as one channel, the mean of its channels, at `rate` per second.
struct audio {
    std::vector<double> samples;
    double rate = 0.0;
};

bool readaudio(const std::string &file, audio &sound, std::string &error)
{
    memory_file memory{&file, 0};
    SF_VIRTUAL_IO io{memory_length, memory_seek, memory_read, memory_write, memory_tell};
    SF_INFO info{};
    SNDFILE *handle = sf_open_virtual(&io, SFM_READ, &info, &memory);
    if (handle == nullptr) {
        error = std::string("not a WAVE or other sound file: ") + sf_strerror(nullptr);
        return false;
    }
    std::vector<double> frames(4096 * static_cast<std::size_t>(info.channels));
    sf_count_t count;
    while ((count = sf_readf_double(handle, frames.data(), 4096)) > 0) {
        for (sf_count_t f = 0; f < count; ++f) {
            double sum = 0.0;
            for (int c = 0; c < info.channels; ++c)
                sum += frames[f * info.channels + c];
            sound.samples.push_back(sum / info.channels);
        }
    }
    sf_close(handle);
    sound.rate = info.samplerate;
    // An 8-bit file's silence, 127, is not the format's centre, 128: take the level the
    // samples centre on as zero.
    if (!sound.samples.empty()) {
        std::vector<double> sorted = sound.samples;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        const double centre = sorted[sorted.size() / 2];
        for (double &sample : sound.samples)
            sample -= centre;
    }
    return true;
}

// A windowed sinc: the low-pass kernel at `u` samples from its centre, passing `cutoff` cycles
// per sample, reaching `half` samples either side.
double lowpass(double u, double cutoff, int half)
{
    if (std::fabs(u) >= half)
        return 0.0;
    const double sinc = u == 0.0 ? 2.0 * cutoff : std::sin(2.0 * pi * cutoff * u) / (pi * u);
    const double blackman = 0.42 + 0.5 * std::cos(pi * u / half) + 0.08 * std::cos(2.0 * pi * u / half);
    return sinc * blackman;
}

// Every tone lies below 1000 Hz once folded. A file at another rate than the library's is taken
// to exactly 4000 samples per second, through a linear-phase low-pass that passes 1000 Hz whole
// and moves no sample in time; then a tone holds a whole number of samples.
constexpr double work_rate = 4000.0;

void toworkrate(audio &sound)
{
    if (sound.rate == sample_rate || sound.rate == work_rate)
        return;
    const double cutoff = std::min(1600.0, 0.45 * sound.rate) / sound.rate;
    const int half = std::max(16, static_cast<int>(3.0 * sound.rate / 1000.0));
    // At a whole rate the output samples fall at a few fractions of an input sample, repeating
    // (40 at 44 100 per second, one at 48 000): one kernel serves each fraction.
    const long whole_rate = std::lround(sound.rate);
    const long phases = whole_rate == sound.rate
                            ? static_cast<long>(work_rate) / std::gcd(whole_rate, static_cast<long>(work_rate))
                            : 0;
    std::vector<std::vector<double>> kernels(static_cast<std::size_t>(phases));
    const std::vector<double> &in = sound.samples;
    std::vector<double> out(static_cast<std::size_t>(in.size() * work_rate / sound.rate));
    std::vector<double> computed;
    for (std::size_t m = 0; m < out.size(); ++m) {
        const double centre = m * sound.rate / work_rate;
        const long base = static_cast<long>(std::floor(centre));
        std::vector<double> *weights = &computed;
        if (phases > 0)
            weights = &kernels[m % phases];
        if (weights->empty() || phases == 0) {
            weights->clear();
            for (long n = base - half + 1; n <= base + half; ++n)
                weights->push_back(lowpass(n - centre, cutoff, half));
        }
        double value = 0.0;
        double weight = 0.0;
        for (long k = 0; k < 2 * half; ++k) {
            const long n = base - half + 1 + k;
            if (n >= 0 && n < static_cast<long>(in.size())) {
                value += (*weights)[k] * in[n];
                weight += (*weights)[k];
            }
        }
        out[m] = weight != 0.0 ? value / weight : 0.0;
    }
    sound.samples = std::move(out);
    sound.rate = work_rate;
}

// A code's tone once sampled at 2000 per second is a sine at its frequency folded into
// (-1000, 1000] Hz: the same samples, whatever rate a converter takes them to afterwards.
double foldedfrequency(int code)
{
    double folded = std::fmod(static_cast<double>(code * frequency_multiplier), sample_rate);
    if (folded > sample_rate / 2)
        folded -= sample_rate;
    if (folded <= -sample_rate / 2)
        folded += sample_rate;
    return folded;
}

// The codes a tone can carry, grouped by the magnitude of their folded frequency: a code and
// its negative fold to the same magnitude with opposite signs. A space is silence, not its
// own frequency, and no text holds code 0.
struct candidate {
    int code;
    double sign;
};

const std::map<double, std::vector<candidate>> &candidates()
{
    static const std::map<double, std::vector<candidate>> by_frequency = [] {
        std::map<double, std::vector<candidate>> map;
        for (int code = -128; code <= 127; ++code) {
            if (code == 0 || code == ' ')
                continue;
            const double folded = foldedfrequency(code);
            map[std::fabs(folded)].push_back({code, folded < 0 ? -1.0 : 1.0});
        }
        return map;
    }();
    return by_frequency;
}

struct match {
    int code = 0;         // 0: silent
    double score = 0.0;   // correlation with the best tone, 0 to 1
    double margin = 0.0;  // how far the next best falls behind, 0 to 1
    double level = 0.0;   // root mean square of the window
    double mean = 0.0;    // its mean: the tone's offset from silence
};

// Matches the samples from `start` seconds on, for `length` seconds, against the sine of every
// code starting at phase 0 at `start`.
// The samples from `start` seconds on, for `length` seconds, as indices [first, last).
void samplerange(const audio &sound, double start, double length, long &first, long &last)
{
    first = std::max(0L, static_cast<long>(std::ceil(start * sound.rate)));
    last = std::min(static_cast<long>(sound.samples.size()),
                    static_cast<long>(std::ceil((start + length) * sound.rate)));
}

// The root mean square of those samples.
double levelof(const audio &sound, double start, double length)
{
    long first;
    long last;
    samplerange(sound, start, length, first, last);
    double energy = 0.0;
    for (long n = first; n < last; ++n)
        energy += sound.samples[n] * sound.samples[n];
    return last > first ? std::sqrt(energy / (last - first)) : 0.0;
}

match matchtone(const audio &sound, double start, double length)
{
    match result;
    long first;
    long last;
    samplerange(sound, start, length, first, last);
    if (last - first < 4)
        return result;
    double energy = 0.0;
    double sum = 0.0;
    for (long n = first; n < last; ++n) {
        energy += sound.samples[n] * sound.samples[n];
        sum += sound.samples[n];
    }
    result.level = std::sqrt(energy / (last - first));
    result.mean = sum / (last - first);
    if (energy <= 0.0)
        return result;
    double best = -2.0;
    double second = -2.0;
    for (const auto &[frequency, codes] : candidates()) {
        // sin(2 pi f (t - start)) by a rotating phasor; its correlation with the samples.
        const double omega = 2.0 * pi * frequency / sound.rate;
        std::complex<double> phasor = std::polar(1.0, omega * (first - start * sound.rate));
        const std::complex<double> turn = std::polar(1.0, omega);
        double product = 0.0;
        double norm = 0.0;
        for (long n = first; n < last; ++n) {
            const double s = phasor.imag();
            product += sound.samples[n] * s;
            norm += s * s;
            phasor *= turn;
        }
        if (norm <= 0.0)
            continue;
        const double correlation = product / std::sqrt(norm * energy);
        for (const candidate &c : codes) {
            const double score = c.sign * correlation;
            if (score > best) {
                second = best;
                best = score;
                result.code = c.code;
            } else if (score > second) {
                second = score;
            }
        }
    }
    result.score = std::max(0.0, best);
    result.margin = best > 0.0 ? std::clamp((best - second) / best, 0.0, 1.0) : 0.0;
    return result;
}

double tonelengthseconds(int tenths) { return std::floor(tonelength(tenths)) / sample_rate; }

// The starts of sounds that follow a silence of 24 ms or more, in seconds: with the sine, every
// tone but a space's starts so, after the 100 silent samples that end the tone before. A sound
// starts where it reaches a quarter of the loudest level, so that a steep resampler's ringing
// before it does not count; silence is below a twentieth.
std::vector<double> soundstarts(const audio &sound)
{
    const auto frame = std::max<std::size_t>(1, static_cast<std::size_t>(sound.rate / 500.0));
    std::vector<double> levels;
    for (std::size_t at = 0; at + frame <= sound.samples.size(); at += frame) {
        double energy = 0.0;
        for (std::size_t n = at; n < at + frame; ++n)
            energy += sound.samples[n] * sound.samples[n];
        levels.push_back(std::sqrt(energy / frame));
    }
    std::vector<double> starts;
    if (levels.empty())
        return starts;
    const double loudest = *std::max_element(levels.begin(), levels.end());
    int quiet = 12;
    for (std::size_t f = 0; f < levels.size() && loudest > 0.0; ++f) {
        if (levels[f] < 0.05 * loudest) {
            ++quiet;
        } else if (levels[f] >= 0.25 * loudest) {
            // The first 200 are plenty to find the grid by.
            if (quiet >= 12 && starts.size() < 200)
                starts.push_back(static_cast<double>(f * frame) / sound.rate);
            quiet = 0;
        }
    }
    return starts;
}

// How many of `starts` lie within 5 ms of the grid of tones of `length` through `anchor`.
std::size_t ongrid(const std::vector<double> &starts, double anchor, double length)
{
    std::size_t count = 0;
    for (double start : starts) {
        const double tones = (start - anchor) / length;
        count += std::fabs(tones - std::round(tones)) * length < 0.005;
    }
    return count;
}

// The first of the sound starts on the grid that most of them agree on: a start that a
// resampler's ringing before a weak tone moved, or made up, is not on it.
double gridanchor(const std::vector<double> &starts, double length)
{
    std::size_t most = 0;
    double anchor = starts.front();
    for (double start : starts) {
        const std::size_t count = ongrid(starts, start, length);
        if (count > most) {
            most = count;
            anchor = start;
        }
    }
    for (double start : starts) {
        if (ongrid({start}, anchor, length) == 1)
            return start;
    }
    return anchor;
}

// The longest tone length on whose grid four in five sound starts lie; 0 when fewer than two
// starts are known or none fits.
int tenthsfromstarts(const std::vector<double> &starts)
{
    if (starts.size() < 2)
        return 0;
    for (int tenths = max_tenths; tenths >= 1; --tenths) {
        const double length = tonelengthseconds(tenths);
        if (ongrid(starts, gridanchor(starts, length), length) * 5 >= starts.size() * 4)
            return tenths;
    }
    return 0;
}

// How well the first few tones from `origin` match, for choosing a tone length and aligning
// the grid of tones to the samples.
double gridscore(const audio &sound, double origin, double length, int tones, double window)
{
    double total = 0.0;
    for (int t = 0; t < tones; ++t)
        total += matchtone(sound, origin + t * length, std::min(window, length)).score;
    return total;
}

// The amplitude of the sine at `frequency` in the samples from `start` on, for `length` seconds.
double amplitude(const audio &sound, double start, double length, double frequency)
{
    long first;
    long last;
    samplerange(sound, start, length, first, last);
    if (last - first < 4)
        return 0.0;
    std::complex<double> sum = 0.0;
    std::complex<double> phasor = 1.0;
    const std::complex<double> turn = std::polar(1.0, -2.0 * pi * frequency / sound.rate);
    for (long n = first; n < last; ++n) {
        sum += sound.samples[n] * phasor;
        phasor *= turn;
    }
    return 2.0 * std::abs(sum) / (last - first);
}

// Square, sawtooth or triangle, from the harmonics of the tones' 2000 samples a second, which
// fold like the fundamental: the sawtooth has a second harmonic of half the fundamental, the
// square a third of a third, the triangle a third of a ninth.
const char *waveformbyharmonics(const audio &sound, double origin, double length,
                                const std::vector<int> &codes)
{
    double second = 0.0;
    double third = 0.0;
    int counted = 0;
    for (std::size_t t = 0; t < codes.size() && counted < 32; ++t) {
        if (codes[t] == 0)
            continue;
        const double f1 = std::fabs(foldedfrequency(codes[t]));
        const double f2 = std::fabs(foldedfrequency(2 * codes[t]));
        const double f3 = std::fabs(foldedfrequency(3 * codes[t]));
        // Harmonics that fold onto each other, or close to 0 or 1000 Hz, tell nothing.
        if (std::min({std::fabs(f1 - f2), std::fabs(f1 - f3), std::fabs(f2 - f3)}) < 20.0 ||
            std::min({f1, f2, f3}) < 20.0 || std::max({f1, f2, f3}) > 940.0)
            continue;
        const double start = origin + t * length;
        const double fundamental = amplitude(sound, start, length, f1);
        if (fundamental <= 0.0)
            continue;
        second += amplitude(sound, start, length, f2) / fundamental;
        third += amplitude(sound, start, length, f3) / fundamental;
        ++counted;
    }
    if (counted == 0)
        return "square";
    second /= counted;
    third /= counted;
    return second > 0.25 ? "sawtooth" : third > 0.22 ? "square" : "triangle";
}

} // namespace

bool decodeconverted(const std::string &file, decode_result &result)
{
    audio sound;
    if (!readaudio(file, sound, result.error))
        return false;
    if (sound.samples.empty() || sound.rate <= 0.0) {
        result.error = "the file holds no samples: there are no tones to decode";
        return false;
    }
    toworkrate(sound);
    const double duration = sound.samples.size() / sound.rate;
    const std::vector<double> starts = soundstarts(sound);
    if (starts.empty()) {
        result.error = "the file is silent: there are no tones to decode";
        return false;
    }

    // The tone length: from the gaps between sounds where the sine leaves them, else the one
    // whose grid the first tones match best.
    constexpr int probe_tones = 6;
    int tenths = tenthsfromstarts(starts);
    if (tenths == 0) {
        double best = -1.0;
        for (int candidate = max_tenths; candidate >= 1; --candidate) {
            const double length = tonelengthseconds(candidate);
            const int tones = std::min<int>(probe_tones, static_cast<int>((duration - starts[0]) / length));
            if (tones < 1)
                continue;
            const double score = gridscore(sound, starts[0], length, tones, 0.1) / tones;
            if (score > best + 1e-3) {
                best = score;
                tenths = candidate;
            }
        }
    }
    if (tenths == 0) {
        result.error = "no tone length from 1 to 40 tenths fits the file";
        return false;
    }
    const double length = tonelengthseconds(tenths);

    // The grid: through the first sound start that most agree with, refined to a tenth of a
    // millisecond, since a code and its negative differ only in phase.
    double origin = gridanchor(starts, length);
    const int probe = std::max(1, std::min<int>(probe_tones, static_cast<int>((duration - origin) / length)));
    double best = -1.0;
    for (double step : {5e-4, 1e-4}) {
        const double around = origin;
        const double reach = step > 2e-4 ? 0.010 : 6e-4;
        for (double offset = -reach; offset <= reach + 1e-12; offset += step) {
            const double score = gridscore(sound, around + offset, length, probe, 0.1);
            if (score > best) {
                best = score;
                origin = around + offset;
            }
        }
    }
    // Tones before the first sound are spaces; a converter's leading silence is shorter than
    // most of a tone.
    origin -= std::floor((origin + 0.3 * length) / length) * length;
    const int tones = std::max(1, static_cast<int>(std::lround((duration - origin) / length)));

    // The sine leaves the last 100 samples of each tone silent; the other waveforms do not.
    const double computed = std::ceil(tonelength(tenths) - 100.0) / sample_rate;
    std::vector<double> levels;
    double tail = 0.0;
    double body = 0.0;
    for (int t = 0; t < tones; ++t) {
        levels.push_back(levelof(sound, origin + t * length, length));
        if (length - computed > 0.02) {
            tail += levelof(sound, origin + t * length + computed + 0.005, length - computed - 0.01);
            body += levels.back();
        }
    }
    const bool sine = computed > 0.0 && tail < 0.1 * body;
    std::nth_element(levels.begin(), levels.begin() + levels.size() * 3 / 4, levels.end());
    const double loud = levels[levels.size() * 3 / 4];

    result.tenths = tenths;
    result.weakest = 1.0;
    std::vector<int> decided_codes(tones, 0);
    for (int t = 0; t + 1 < tones; ++t) {
        const match m = matchtone(sound, origin + t * length, sine ? computed : length);
        // A space is silence, whatever noise a converter left in it. A tone within a few
        // hertz of 1000 Hz can be cut whole by a resampler (sox's removes the 993 Hz of 'a'
        // altogether): what it leaves is the tone's offset, half a step of the 8-bit encoding
        // below silence, and that is a character that cannot be decided, not a space.
        const bool quiet = m.level < 0.02 * loud && m.score < 0.8;
        if (m.level < 3e-4 * loud || (quiet && std::fabs(m.mean) < 0.003 * loud)) {
            result.codes.push_back(' ');
            continue;
        }
        const double confidence = quiet ? 0.0 : std::min(m.score, m.margin * 10.0);
        const bool decided = !quiet && m.score >= 0.3 && m.margin >= 0.01;
        result.codes.push_back(decided ? (m.code & 0xFF) : -1);
        decided_codes[t] = decided ? m.code : 0;
        if (confidence < result.weakest) {
            result.weakest = std::max(0.0, confidence);
            result.weakest_position = t;
        }
    }
    result.waveform = sine ? "sine" : waveformbyharmonics(sound, origin, length, decided_codes);
    result.exact = false;
    return true;
}

#endif

} // namespace wavcreate
