// Mending a converter's clipping. A resampler takes a square's tones to twice full scale and
// more (the band-limited overshoot of steps a sample apart), and a file of integers cuts them
// off there: a third of such a file's samples may stand at full scale. The tones lie below
// 1000 Hz, so at the rates files use the samples around a clipped stretch tell what it held.
// Stretch by stretch, the file's sound is fitted by least squares on its samples that are not
// clipped, with a sound of that band (a band-limited one of clip_model_rate samples a second),
// and the clipped samples are taken from the fit.
#include "decode/decode_parts.h"

#include "decode/analysis.h"

#include <algorithm>
#include <cmath>

namespace wavcreate {

namespace {

// The fitted sound: clip_model_rate samples a second, each spreading over the file's samples
// through a windowed sinc that passes the band below about 1050 Hz, model_half of them either
// side.
constexpr double clip_model_rate = 4000.0;
constexpr double model_cutoff = 1050.0;
constexpr int model_half = 12;
constexpr int model_phases = 512;
// Files of this rate or more are mended: below it a clipped stretch leaves too few samples
// around it to tell.
constexpr double least_mended_rate = 8000.0;

// The interpolation kernel at `model_phases` steps per model sample, from 0 to model_half. Its
// Kaiser window less the window's value at the ends falls to nothing there, so that sums over
// the file's samples come to the kernel's products below, to a part in a million.
const std::vector<double> &modelkernel()
{
    static const std::vector<double> table = [] {
        std::vector<double> values(static_cast<std::size_t>(model_half * model_phases + 2), 0.0);
        const double cycles = model_cutoff / clip_model_rate;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const double u = static_cast<double>(i) / model_phases;
            const double sinc = u == 0.0 ? 1.0 : std::sin(2.0 * pi * cycles * u) / (2.0 * pi * cycles * u);
            const double edge = u / model_half;
            values[i] = edge < 1.0 ? sinc * (besseli0(7.0 * std::sqrt(1.0 - edge * edge)) - 1.0) / (besseli0(7.0) - 1.0) : 0.0;
        }
        return values;
    }();
    return table;
}

double kernelat(double u)
{
    const double at = std::fabs(u) * model_phases;
    const auto index = static_cast<std::size_t>(at);
    const std::vector<double> &table = modelkernel();
    if (index + 1 >= table.size())
        return 0.0;
    const double fraction = at - static_cast<double>(index);
    return table[index] + fraction * (table[index + 1] - table[index]);
}

// The product of the kernel with itself `distance` model samples apart, over all instants: what
// the fit's equations sum to, for every pair of model samples, over file samples evenly spread.
double kernelproduct(int distance)
{
    static const std::vector<double> products = [] {
        constexpr int steps = 64;
        std::vector<double> values(static_cast<std::size_t>(2 * model_half + 1), 0.0);
        for (int d = 0; d <= 2 * model_half; ++d) {
            for (int s = -model_half * steps; s <= model_half * steps; ++s)
                values[d] += kernelat(static_cast<double>(s) / steps) * kernelat(static_cast<double>(s) / steps - d);
            values[d] /= steps;
        }
        return values;
    }();
    return products[static_cast<std::size_t>(distance)];
}

// Mends the clipped samples of held[first, last), fitting the sound over held[from, to).
void mendstretch(clip_mender &mender, std::size_t from, std::size_t first, std::size_t last, std::size_t to)
{
    if (std::none_of(mender.clipped.begin() + static_cast<long>(first), mender.clipped.begin() + static_cast<long>(last),
                     [](unsigned char flag) { return flag != 0; }))
        return;
    const double ratio = mender.model_per_sample;
    constexpr int width = 2 * model_half + 1;
    // Model sample j lies at u - j from a file sample at u = model_half + ratio * (t - from).
    const int size = static_cast<int>(std::ceil(static_cast<double>(to - from) * ratio)) + 2 * model_half + 1;
    const auto at = [&](std::size_t j, int d) -> std::size_t { return j * width + static_cast<std::size_t>(d); };
    double weights[width + 1];
    const auto weightsat = [&](double u, int &low) {
        low = std::max(0, static_cast<int>(std::ceil(u - model_half)));
        const int high = std::min(size - 1, static_cast<int>(std::floor(u + model_half)));
        for (int j = low; j <= high; ++j)
            weights[j - low] = kernelat(u - j);
        return std::max(0, high - low + 1);
    };
    const auto position = [&](double t) { return model_half + ratio * (t - static_cast<double>(from)); };
    const auto addrow = [&](std::vector<double> &band, double u, double sign) {
        int low = 0;
        const int count = weightsat(u, low);
        for (int a = 0; a < count; ++a) {
            for (int b = 0; b <= a; ++b)
                band[at(static_cast<std::size_t>(low + a), a - b)] += sign * weights[a] * weights[b];
        }
    };
    // The equations of every file sample, here and on either side, sum to the kernel's products
    // (the samples lie far closer than the kernel's band needs); those outside the stretch and
    // those clipped are taken away. Only the clipped cost a full row each.
    std::vector<double> band(static_cast<std::size_t>(size) * width, 0.0);
    for (int j = 0; j < size; ++j) {
        for (int d = 0; d < width && d <= j; ++d)
            band[at(static_cast<std::size_t>(j), d)] = kernelproduct(d) / ratio;
    }
    for (double t = static_cast<double>(from) - 1.0; position(t) > -model_half; t -= 1.0)
        addrow(band, position(t), -1.0);
    for (double t = static_cast<double>(to); position(t) < size - 1 + model_half; t += 1.0)
        addrow(band, position(t), -1.0);
    std::vector<double> right(static_cast<std::size_t>(size), 0.0);
    for (std::size_t t = from; t < to; ++t) {
        const double u = position(static_cast<double>(t));
        if (mender.clipped[t] != 0) {
            addrow(band, u, -1.0);
            continue;
        }
        int low = 0;
        const int count = weightsat(u, low);
        for (int a = 0; a < count; ++a)
            right[low + a] += weights[a] * mender.held[t];
    }
    // A little ridge: model samples no file sample sees stay at nothing.
    double diagonal = 0.0;
    for (int j = 0; j < size; ++j)
        diagonal = std::max(diagonal, band[at(static_cast<std::size_t>(j), 0)]);
    for (int j = 0; j < size; ++j)
        band[at(static_cast<std::size_t>(j), 0)] += 1e-6 * diagonal + 1e-30;

    if (!solvebanded(band, right, size, width))
        return;
    for (std::size_t t = first; t < last; ++t) {
        if (mender.clipped[t] == 0)
            continue;
        int low = 0;
        const int count = weightsat(position(static_cast<double>(t)), low);
        double fitted = 0.0;
        for (int a = 0; a < count; ++a)
            fitted += weights[a] * right[static_cast<std::size_t>(low + a)];
        mender.held[t] = static_cast<float>(fitted);
    }
}

} // namespace

void startmending(clip_mender &mender, double rate, bool clips)
{
    mender = clip_mender{};
    mender.active = clips && rate >= least_mended_rate;
    mender.model_per_sample = clip_model_rate / rate;
    // The fit reaches three kernels' widths past the samples it mends.
    mender.margin = static_cast<std::size_t>(std::ceil(3.0 * model_half / mender.model_per_sample));
    mender.stretch = std::max<std::size_t>(8192, 8 * mender.margin);
}

void mendclipping(clip_mender &mender, const float *in, const unsigned char *clipped, std::size_t count,
                  std::vector<float> &out)
{
    out.clear();
    if (!mender.active) {
        out.assign(in, in + count);
        return;
    }
    mender.held.insert(mender.held.end(), in, in + count);
    mender.clipped.insert(mender.clipped.end(), clipped, clipped + count);
    const bool flush = in == nullptr || count == 0;
    for (;;) {
        const std::size_t waiting = mender.held.size() - mender.done;
        if (waiting == 0 || (!flush && waiting < mender.stretch + mender.margin))
            break;
        const std::size_t last = mender.done + std::min(waiting, mender.stretch);
        const std::size_t from = mender.done > mender.margin ? mender.done - mender.margin : 0;
        mendstretch(mender, from, mender.done, last, std::min(mender.held.size(), last + mender.margin));
        out.insert(out.end(), mender.held.begin() + static_cast<long>(mender.done), mender.held.begin() + static_cast<long>(last));
        mender.done = last;
    }
    // Keep a margin of what was handed on, as what the next stretch is fitted from.
    if (mender.done > mender.margin) {
        const auto drop = static_cast<long>(mender.done - mender.margin);
        mender.held.erase(mender.held.begin(), mender.held.begin() + drop);
        mender.clipped.erase(mender.clipped.begin(), mender.clipped.begin() + drop);
        mender.done = mender.margin;
    }
}

} // namespace wavcreate
