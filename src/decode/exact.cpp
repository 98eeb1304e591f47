#include "decode/decode_parts.h"

#include "entry/genwav.h"
#include "tone/tone.h"
#include "wav/wav.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace wavcreate {

namespace {

uint32_t le32(const std::string &file, std::size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(file[at + i]);
    return value;
}

uint16_t le16(const std::string &file, std::size_t at)
{
    return static_cast<uint16_t>(static_cast<unsigned char>(file[at]) |
                                 static_cast<unsigned char>(file[at + 1]) << 8);
}

constexpr const char *waveforms[] = {"sine", "square", "sawtooth", "triangle"};

// The tone every code renders at `tone_length` with `waveform`, as file bytes, keyed by those
// bytes. The silent tone, code 0, stands for a space and for the end of the text.
std::unordered_map<std::string, int> rendercodes(double tone_length, std::size_t samples,
                                                 const char *waveform)
{
    std::unordered_map<std::string, int> tones;
    // As in a render, the sine's untouched tail starts silent.
    cleartone();
    for (int code = -128; code <= 127; ++code) {
        if (code == ' ')
            continue;
        gentone(static_cast<double>(code * frequency_multiplier), tone_length, sample_rate, waveform,
                1.0, 0.0);
        std::string bytes(samples, '\0');
        for (std::size_t k = 0; k < samples; ++k)
            bytes[k] = static_cast<char>(sample8(tone_buffer[k]));
        tones.emplace(std::move(bytes), code);
    }
    return tones;
}

} // namespace

riff_kind readriff(const std::string &file, pcm8_samples &samples, std::string &error)
{
    if (file.size() < 12 || file.compare(0, 4, "RIFF") != 0 || file.compare(8, 4, "WAVE") != 0)
        return riff_kind::other;
    bool ours = false;
    for (std::size_t at = 12; at + 8 <= file.size();) {
        const std::size_t size = le32(file, at + 4);
        const std::size_t body = at + 8;
        if (file.compare(at, 4, "fmt ") == 0) {
            ours = size >= 16 && body + 16 <= file.size() && le16(file, body) == 1 &&
                   le16(file, body + 2) == 1 && le32(file, body + 4) == 2000 &&
                   le16(file, body + 14) == 8;
        } else if (file.compare(at, 4, "data") == 0) {
            if (!ours)
                return riff_kind::other;
            if (size > file.size() - body) {
                error = "the data chunk is truncated: its header says " + std::to_string(size) +
                        " bytes, the file holds " + std::to_string(file.size() - body);
                return riff_kind::truncated;
            }
            samples.bytes = reinterpret_cast<const unsigned char *>(file.data()) + body;
            samples.count = size;
            return riff_kind::ours;
        }
        at = body + size + (size & 1);
    }
    return riff_kind::other;
}

bool decodeexact(const pcm8_samples &samples, decode_result &result)
{
    const std::string_view data(reinterpret_cast<const char *>(samples.bytes), samples.count);
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
        for (const char *waveform : waveforms) {
            const auto rendered = rendercodes(tone_length, per_tone, waveform);
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
                result.weakest = 1.0;
                return true;
            }
        }
    }
    return false;
}

} // namespace wavcreate
