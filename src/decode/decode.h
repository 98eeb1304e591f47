// The decoder: reads the text back from a file of tones. Linked by the tool only; the shared
// library knows nothing of it.
#pragma once

#include <string>
#include <vector>

namespace wavcreate {

struct decode_result {
    bool read = false;          // the file was read as one of these files; else `error` says why
    std::string error;
    std::vector<int> codes;     // each character's Windows-1252 byte, or -1 where undecided
    int tenths = 0;             // tone length found in the file
    std::string waveform;       // "sine", "square", "sawtooth" or "triangle"
    bool exact = false;         // every tone equals a rendered tone byte for byte
    double weakest = 1.0;       // confidence of the weakest tone, 0 to 1
    int weakest_position = -1;  // its character position, -1 when there is none
};

// Whether this build reads converted files (any rate, width, channel count or format that
// libsndfile reads); without libsndfile only the 8-bit files the library writes are read.
bool decoder_reads_converted_files();

// Decodes the whole contents of a file. The 8-bit files the library and the tool write are
// decoded exactly; anything else is read through libsndfile and matched tone by tone at its
// own sample rate.
decode_result decodewav(const std::string &file);

} // namespace wavcreate
