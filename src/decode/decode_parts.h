// The decoder's two ways of reading tones, behind decodewav.
#pragma once

#include "decode/decode.h"

#include <cstddef>
#include <string>

namespace wavcreate {

// The samples of an 8-bit mono PCM file at 2000 samples per second, as the library writes.
struct pcm8_samples {
    const unsigned char *bytes = nullptr;
    std::size_t count = 0;
};

enum class riff_kind {
    ours,      // 8-bit mono PCM at 2000 samples per second
    other,     // a RIFF/WAVE file of another kind, or not RIFF at all
    truncated, // ours, but the data chunk is shorter than its header says
};

// Finds the format and data chunks of a RIFF/WAVE file held in `file`.
riff_kind readriff(const std::string &file, pcm8_samples &samples, std::string &error);

// Matches every tone byte for byte against the tones the generator renders, for every tone
// length and waveform that fit. False when none fits all tones.
bool decodeexact(const pcm8_samples &samples, decode_result &result);

// Reads the file through libsndfile and matches each tone against the folded sine of every
// code at the file's own rate. False, with result.error set, when the file cannot be read.
bool decodeconverted(const std::string &file, decode_result &result);

} // namespace wavcreate
