#include "wav/wav.h"

#include "tone/tone.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>

namespace wavcreate {

wav_header_record wav_header;
std::FILE *wav_file;

namespace {

constexpr int16_t pcm_format = 1;
constexpr int16_t mono = 1;
constexpr int32_t sample_rate = 2000;
constexpr int16_t bits_per_byte_sample = 8;
constexpr int32_t fmt_chunk_size = 16;
// The RIFF size counts everything after its own field: "WAVE", the format chunk's id and
// size field (8), the "data" id and size field (8), then the chunk bodies.
constexpr int32_t riff_size_overhead = 20;

// A tone's whole samples: floor(tone_length), none for a negative length or NaN.
uint32_t samplecount(double tone_length)
{
    if (!(tone_length >= 0.0))
        return 0;
    if (tone_length >= 4294967296.0)
        return UINT32_MAX;
    return static_cast<uint32_t>(tone_length);
}

// Truncates toward zero, defined for any double: NaN and values outside the int32_t range
// give INT32_MIN, which is what the x86 conversion instruction does by itself, without a
// branch on the per-sample path.
inline int32_t truncate32(double value)
{
#if defined(__SSE2__)
    return _mm_cvttsd_si32(_mm_set_sd(value));
#else
    if (value > -2147483649.0 && value < 2147483648.0)
        return static_cast<int32_t>(value);
    return INT32_MIN;
#endif
}

// Writes one byte to wav_file, which the entry holds locked for the whole render: taking the
// stream's lock once per sample would cost as much as computing the sample.
void putbyte(unsigned char byte, std::FILE *file)
{
#if defined(_WIN32)
    _putc_nolock(byte, file);
#else
    putc_unlocked(byte, file);
#endif
}

void setsizes(int32_t sample_total)
{
    wav_header.data_size = wav_header.bits_per_sample * wav_header.channels * sample_total / 8;
    wav_header.riff_size = wav_header.data_size + wav_header.fmt_size + riff_size_overhead;
}

void put16(unsigned char *out, int16_t value)
{
    const auto bits = static_cast<uint16_t>(value);
    out[0] = static_cast<unsigned char>(bits & 0xFF);
    out[1] = static_cast<unsigned char>(bits >> 8);
}

void put32(unsigned char *out, int32_t value)
{
    const auto bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>((bits >> (8 * i)) & 0xFF);
}

void putheader()
{
    unsigned char bytes[wav_header_bytes];
    std::memcpy(bytes + 0, wav_header.riff_id, 4);
    put32(bytes + 4, wav_header.riff_size);
    std::memcpy(bytes + 8, wav_header.wave_id, 4);
    std::memcpy(bytes + 12, wav_header.fmt_id, 4);
    put32(bytes + 16, wav_header.fmt_size);
    put16(bytes + 20, wav_header.format_tag);
    put16(bytes + 22, wav_header.channels);
    put32(bytes + 24, wav_header.samples_per_second);
    put32(bytes + 28, wav_header.bytes_per_second);
    put16(bytes + 32, wav_header.block_align);
    put16(bytes + 34, wav_header.bits_per_sample);
    std::memcpy(bytes + 36, wav_header.data_id, 4);
    put32(bytes + 40, wav_header.data_size);
    std::fwrite(bytes, sizeof bytes, 1, wav_file);
}

} // namespace

void writeheader(int32_t sample_total)
{
    std::memcpy(wav_header.riff_id, "RIFF", 4);
    std::memcpy(wav_header.wave_id, "WAVE", 4);
    std::memcpy(wav_header.fmt_id, "fmt ", 4);
    std::memcpy(wav_header.data_id, "data", 4);
    wav_header.fmt_size = fmt_chunk_size;
    wav_header.format_tag = pcm_format;
    wav_header.channels = mono;
    wav_header.samples_per_second = sample_rate;
    wav_header.bytes_per_second = sample_rate;
    wav_header.block_align = 1;
    wav_header.bits_per_sample = bits_per_byte_sample;
    setsizes(sample_total);
    putheader();
}

void rewriteheader(int32_t sample_total)
{
    setsizes(sample_total);
    putheader();
}

uint8_t sample8(double x)
{
    // Negative values, and those that do not fit (INT32_MIN), give 0.
    const int32_t whole = truncate32((x + 1.0) * 127.0);
    return static_cast<uint8_t>(whole < 0 ? 0 : whole);
}

int16_t sample16(double x)
{
    return static_cast<int16_t>(truncate32(x * 32767.0) & 0xFFFF);
}

void savewav(double tone_length, const double *samples)
{
    const uint32_t count = samplecount(tone_length);
    if (count > static_cast<uint32_t>(tone_buffer_size))
        return;
    std::FILE *const file = wav_file;
    for (uint32_t k = 0; k < count; ++k) {
        // The width comes from the header, read anew for every sample.
        if (wav_header.bits_per_sample == 8) {
            putbyte(sample8(samples[k]), file);
        } else if (wav_header.bits_per_sample == 16) {
            unsigned char bytes[2];
            put16(bytes, sample16(samples[k]));
            putbyte(bytes[0], file);
            putbyte(bytes[1], file);
        } else {
            std::printf("savewav() error: no 16 u 8 bits\n");
        }
    }
}

} // namespace wavcreate
