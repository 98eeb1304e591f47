// Arithmetic on the sound of a converted file: products, the sound between its samples,
// low-pass filters, and the least-squares solver of the channel's and the clipping's fits.
#include "decode/analysis.h"

#include "entry/genwav.h"

#include <cmath>

namespace wavcreate {

namespace {

// A windowed-sinc low-pass reaching 16 work samples either side, passing the tones' band
// (below 1000 Hz) and little of a codec's noise above it, tabulated at 256 fractions of a
// work sample.
constexpr int kernel_half = 16;
constexpr int kernel_taps = 2 * kernel_half;
constexpr int kernel_phases = 256;
constexpr double kernel_cutoff = 0.27; // cycles per work sample: 1080 Hz
constexpr double kernel_beta = 7.0;    // Kaiser window: side lobes near -70 dB

const std::vector<float> &interpolationkernel()
{
    static const std::vector<float> taps = [] {
        std::vector<float> all((kernel_phases + 1) * kernel_taps);
        for (int phase = 0; phase <= kernel_phases; ++phase) {
            float *row = &all[static_cast<std::size_t>(phase) * kernel_taps];
            double sum = 0.0;
            for (int t = 0; t < kernel_taps; ++t) {
                // Tap t lies at this distance from the point asked for.
                const double u = static_cast<double>(phase) / kernel_phases + (kernel_half - 1) - t;
                const double sinc = u == 0.0 ? 1.0 : std::sin(2.0 * pi * kernel_cutoff * u) / (2.0 * pi * kernel_cutoff * u);
                const double edge = u / kernel_half;
                const double window = edge * edge < 1.0 ? besseli0(kernel_beta * std::sqrt(1.0 - edge * edge)) / besseli0(kernel_beta) : 0.0;
                row[t] = static_cast<float>(sinc * window);
                sum += row[t];
            }
            for (int t = 0; t < kernel_taps; ++t)
                row[t] = static_cast<float>(row[t] / sum);
        }
        return all;
    }();
    return taps;
}

} // namespace

double besseli0(double x)
{
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 32; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

// Solves the banded symmetric positive system in place: `band` holds, for each row i, the
// entries (i, i - d) for d = 0 to width - 1.
bool solvebanded(std::vector<double> &band, std::vector<double> &right, int size, int width)
{
    for (int i = 0; i < size; ++i) {
        for (int d = width - 1; d >= 0; --d) {
            const int j = i - d;
            if (j < 0)
                continue;
            double sum = band[static_cast<std::size_t>(i) * width + d];
            for (int k = std::max(0, i - width + 1); k < j; ++k)
                sum -= band[static_cast<std::size_t>(i) * width + (i - k)] * band[static_cast<std::size_t>(j) * width + (j - k)];
            if (d == 0) {
                if (sum <= 0.0)
                    return false;
                band[static_cast<std::size_t>(i) * width] = std::sqrt(sum);
            } else {
                band[static_cast<std::size_t>(i) * width + d] = sum / band[static_cast<std::size_t>(j) * width];
            }
        }
    }
    for (int i = 0; i < size; ++i) {
        double sum = right[i];
        for (int k = std::max(0, i - width + 1); k < i; ++k)
            sum -= band[static_cast<std::size_t>(i) * width + (i - k)] * right[k];
        right[i] = sum / band[static_cast<std::size_t>(i) * width];
    }
    for (int i = size - 1; i >= 0; --i) {
        double sum = right[i];
        for (int k = i + 1; k < std::min(size, i + width); ++k)
            sum -= band[static_cast<std::size_t>(k) * width + (k - i)] * right[k];
        right[i] = sum / band[static_cast<std::size_t>(i) * width];
    }
    return true;
}

// Where the compiler can, a copy for processors with AVX2 as well, chosen when the program
// starts: the matching is most of the decoder's work.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__)
__attribute__((target_clones("avx2", "default")))
#endif
float dot(const float *a, const float *b, int count)
{
    float sum = 0.0f;
    for (int n = 0; n < count; ++n)
        sum += a[n] * b[n];
    return sum;
}

double dotd(const double *a, const double *b, int count)
{
    double sum = 0.0;
    for (int n = 0; n < count; ++n)
        sum += a[n] * b[n];
    return sum;
}

// The sound at `count` instants `step` work samples apart from `start`.
void extract(const std::vector<float> &samples, double start, double step, int count, float *out)
{
    const std::vector<float> &kernel = interpolationkernel();
    const long size = static_cast<long>(samples.size());
    for (int i = 0; i < count; ++i) {
        const double at = start + i * step;
        const double whole = std::floor(at);
        const auto phase = static_cast<int>(std::lround((at - whole) * kernel_phases));
        const float *row = &kernel[static_cast<std::size_t>(phase) * kernel_taps];
        const long first = static_cast<long>(whole) - (kernel_half - 1);
        if (first >= 0 && first + kernel_taps <= size) {
            // Inline, not through dot: a call chosen at run time costs more than 32 products.
            float sum = 0.0f;
            for (int t = 0; t < kernel_taps; ++t)
                sum += row[t] * samples[static_cast<std::size_t>(first + t)];
            out[i] = sum;
            continue;
        }
        float sum = 0.0f;
        for (int t = 0; t < kernel_taps; ++t) {
            if (first + t >= 0 && first + t < size)
                sum += row[t] * samples[first + t];
        }
        out[i] = sum;
    }
}

// `signal` through `filter` (taps centred on the middle one), the output reaching half the
// filter's length past each end.
double centred(const float *from, int length, float *out)
{
    double mean = 0.0;
    for (int n = 0; n < length; ++n)
        mean += from[n];
    mean /= length;
    double energy = 0.0;
    for (int n = 0; n < length; ++n) {
        out[n] = static_cast<float>(from[n] - mean);
        energy += static_cast<double>(out[n]) * out[n];
    }
    return energy;
}

std::vector<float> filtered(const float *signal, int length, const std::vector<double> &filter)
{
    const int taps = static_cast<int>(filter.size());
    std::vector<float> out(static_cast<std::size_t>(length + taps - 1), 0.0f);
    // Tap by tap across the whole signal: the inner loop runs several samples at a time. A
    // channel measured as a gain alone is one tap among zeros.
    for (int j = 0; j < taps; ++j) {
        const auto weight = static_cast<float>(filter[static_cast<std::size_t>(j)]);
        if (weight == 0.0f)
            continue;
        float *to = &out[static_cast<std::size_t>(j)];
        for (int n = 0; n < length; ++n)
            to[n] += weight * signal[n];
    }
    return out;
}

// A Kaiser-windowed sinc low-pass of 2 * `half` + 1 taps, its gain 1 below `cutoff` hertz at
// the library's rate: 80 dB down a width of about 16000 / `half` hertz above.
std::vector<double> lowpassfilter(double cutoff, int half)
{
    constexpr double beta = 7.9;
    const double cycles = cutoff / sample_rate;
    std::vector<double> taps(static_cast<std::size_t>(2 * half + 1));
    double sum = 0.0;
    for (int j = -half; j <= half; ++j) {
        const double sinc = j == 0 ? 1.0 : std::sin(2.0 * pi * cycles * j) / (2.0 * pi * cycles * j);
        const double at = static_cast<double>(j) / (half + 1);
        taps[j + half] = sinc * besseli0(beta * std::sqrt(1.0 - at * at)) / besseli0(beta);
        sum += taps[j + half];
    }
    for (double &tap : taps)
        tap /= sum;
    return taps;
}

// `signal` through the low-pass `filter`, its delay taken away.
std::vector<float> lowpassed(const std::vector<float> &signal, const std::vector<double> &filter)
{
    const int half = static_cast<int>(filter.size() / 2);
    const std::vector<float> out = filtered(signal.data(), static_cast<int>(signal.size()), filter);
    return std::vector<float>(out.begin() + half, out.begin() + half + static_cast<long>(signal.size()));
}

} // namespace wavcreate
