// The render routine behind WAVCreate, shared with the command-line tool.
#pragma once

#include <cstdint>

namespace wavcreate {

enum class render_status {
    written,      // the file is complete
    refused,      // text, path or tone length out of range: no file touched
    open_failed,  // the file could not be opened: nothing written
    write_failed, // a write, seek, flush or close failed: a regular file was removed
};

struct render_result {
    render_status status;
    int32_t tones;        // characters plus the terminator's tone
    int32_t sample_total; // samples in the data chunk
};

// The largest accepted tone length: 8000 samples, what tone_buffer holds.
constexpr int32_t max_tenths = 40;

// Renders `text` as tones of `waveform` into the file at `path`, each tone `tenths` tenths
// of a second long. Reports failures with the fixed messages on standard output. Calls are
// serialised by a process-wide lock.
render_result genwav(const char16_t *text, const char16_t *path, int32_t tenths,
                     const char *waveform);

// Samples in every tone of a render at `tenths`: floor(2000 * s), s the single-precision
// product of the tenths and 0.1.
double tonelength(int32_t tenths);

} // namespace wavcreate
