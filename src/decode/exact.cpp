#include "decode/analysis.h"

#include "entry/genwav.h"
#include "tone/tone.h"
#include "wav/wav.h"

#include <cmath>
#include <string_view>
#include <unordered_map>

namespace wavcreate {

namespace {

// The tone every code renders at `tenths` with `waveform`, as file bytes, keyed by those
// bytes. The silent tone, code 0, stands for a space and for the end of the text.
std::unordered_map<std::string, int> rendercodes(int tenths, const char *waveform)
{
    std::unordered_map<std::string, int> tones;
    std::vector<float> samples;
    for (int code = -128; code <= 127; ++code) {
        if (code == ' ')
            continue;
        rendercode(code & 0xFF, tenths, waveform, samples);
        std::string bytes(samples.size(), '\0');
        for (std::size_t k = 0; k < samples.size(); ++k)
            bytes[k] = static_cast<char>(static_cast<unsigned char>(samples[k] + 127.0f));
        tones.emplace(std::move(bytes), code);
    }
    return tones;
}

} // namespace

int signedcode(int byte)
{
    return byte > 127 ? byte - 256 : byte;
}

double foldedfrequency(int byte)
{
    return std::fabs(std::remainder(signedcode(byte) * frequency_multiplier, sample_rate));
}

void rendercode(int code, int tenths, const char *waveform, std::vector<float> &out)
{
    const double tone_length = tonelength(tenths);
    // As in a render that starts from silence, the sine's untouched tail is silent.
    cleartone();
    gentone(code == ' ' ? 0.0 : static_cast<double>(signedcode(code) * frequency_multiplier),
            tone_length, sample_rate, waveform, 1.0, 0.0);
    out.resize(static_cast<std::size_t>(tone_length));
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k] = static_cast<float>(sample8(tone_buffer[k])) - 127.0f;
}

bool decodeexact(const std::string &pcm8, decode_result &result)
{
    const std::string_view data(pcm8);
    // The longest tone length first: an all-silent file fits every length, and then the fewest
    // tones is the likeliest reading.
    for (int tenths = max_tenths; tenths >= 1; --tenths) {
        const double tone_length = tonelength(tenths);
        const auto per_tone = static_cast<std::size_t>(tone_length);
        // Every file ends in the terminator's silent tone.
        if (data.size() % per_tone != 0 ||
            data.find_first_not_of('\x7f', data.size() - per_tone) != std::string_view::npos)
            continue;
        const std::size_t tones = data.size() / per_tone;
        for (const char *waveform : waveform_names) {
            const auto rendered = rendercodes(tenths, waveform);
            std::vector<int> codes;
            for (std::size_t t = 0; t + 1 < tones; ++t) {
                const auto found = rendered.find(std::string(data.substr(t * per_tone, per_tone)));
                if (found == rendered.end())
                    break;
                codes.push_back(found->second == 0 ? ' ' : found->second & 0xFF);
            }
            if (codes.size() + 1 == tones) {
                result.codes = std::move(codes);
                result.tenths = tenths;
                result.waveform = waveform;
                result.exact = true;
                return true;
            }
        }
    }
    return false;
}

} // namespace wavcreate
