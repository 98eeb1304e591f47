// WAVE file writer: the 44-byte header record and the PCM encoding of one tone's samples.
#pragma once

#include <cstdint>
#include <cstdio>

namespace wavcreate {

// The RIFF/WAVE header, field by field in file order. Identifiers hold their four bytes
// with no terminator; integers are written little-endian whatever the host's order.
struct wav_header_record {
    char riff_id[4];
    int32_t riff_size;
    char wave_id[4];
    char fmt_id[4];
    int32_t fmt_size;
    int16_t format_tag;
    int16_t channels;
    int32_t samples_per_second;
    int32_t bytes_per_second;
    int16_t block_align;
    int16_t bits_per_sample;
    char data_id[4];
    int32_t data_size;
};

constexpr int wav_header_bytes = 44;

extern wav_header_record wav_header;

// The stream being written; opened and closed by the entry within one call.
extern std::FILE *wav_file;

// Sets every field of wav_header for a file of `sample_total` samples and writes it to
// wav_file where the stream stands: the placeholder right after the file is opened.
void writeheader(int32_t sample_total);

// Updates the two sizes for the final `sample_total` and writes the header again; the caller
// has put the stream back at the start of the file. The other fields keep their values.
void rewriteheader(int32_t sample_total);

// Appends floor(tone_length) samples from `samples` to wav_file, encoded at the width that
// wav_header's bits-per-sample field names. A count that does not fit tone_buffer writes
// nothing.
void savewav(double tone_length, const double *samples);

// The byte an 8-bit file holds for the sample value x: (x + 1) * 127 truncated, so silence
// is 127 and full scale 254 (0 below -1.0 and for NaN).
uint8_t sample8(double x);

// The value a 16-bit file holds for x: x * 32767 truncated toward zero (0 for NaN or a value
// beyond 32 bits).
int16_t sample16(double x);

} // namespace wavcreate
