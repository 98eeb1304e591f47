// The decoder: reads the text back from a file of tones. Linked by the tool only; the shared
// library knows nothing of it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace wavcreate {

struct decode_result {
    bool read = false;            // the input was read as tones; else `error` says why
    std::string error;            // what failed, in words for the tool's message
    int read_error = 0;           // errno of a failed read (`error` is then its text)
    std::vector<int> codes;       // each character's Windows-1252 byte, or -1 where undecided
    int tenths = 0;               // tone length found in the file
    std::string waveform;         // "sine", "square", "sawtooth" or "triangle"
    bool exact = false;           // every tone equals a rendered tone byte for byte
    double clock = 1.0;           // the file's clock against the library's 2000 per second
    double weakest_margin = 0.0;  // the smallest log-likelihood ratio of a decided code to the next
    int weakest_position = -1;    // its character position, -1 when there is none
    long long damaged_samples = 0; // NaN or infinite samples, read as silence
    bool cut_short = false;       // the file ends without the text's final silent tone
};

// Decodes a whole file or stream, read in blocks to its end. The 8-bit files the library and
// the tool write are decoded exactly; anything else is taken to a common rate as it streams
// and matched tone by tone. Never throws: running out of memory is an error like any other.
decode_result decodewav(std::FILE *input);

} // namespace wavcreate
