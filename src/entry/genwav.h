// The render routine behind WAVCreate, shared with the command-line tool. It reports what
// happened and leaves the words to its callers: WAVCreate prints its fixed lines, the tool
// names the path and the reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace wavcreate {

// File names are UTF-16 on Windows, bytes everywhere else.
#if defined(_WIN32)
using path_char = wchar_t;
#else
using path_char = char;
#endif

enum class render_status {
    written,             // the file or stream is complete
    text_too_long,       // more than 1999 characters: no file touched
    path_too_long,       // longer in UTF-8 than the caller's limit: no file touched
    tenths_out_of_range, // not 0 to 40: no file touched
    open_failed,         // the file could not be opened: nothing written
    write_failed,        // a write, seek, flush or close failed: a regular file was removed
};

struct render_result {
    render_status status;
    int error;            // errno of the failed open or write, 0 otherwise
    int32_t tones;        // characters plus the terminator's tone
    int32_t sample_total; // samples in the data chunk
};

// Every file holds this many samples per second; a character's tone is its signed code times
// frequency_multiplier hertz.
constexpr double sample_rate = 2000.0;
constexpr int frequency_multiplier = 31;

// The longest accepted text, path and tone length: what the text and path buffers and
// tone_buffer hold.
constexpr std::size_t max_text_bytes = 1999;
constexpr std::size_t max_path_bytes = 199;
constexpr int32_t max_tenths = 40;

// A caller without a path buffer of its own (the tool) takes any path the system accepts, and
// the system's open refuses what is too long for it.
constexpr std::size_t no_path_limit = SIZE_MAX;

// Renders the zero-terminated Windows-1252 `text` as tones of `waveform`, each `tenths`
// tenths of a second long, into a new file at `path`, which may be at most `path_limit` bytes
// long in UTF-8: the caller's own limit, max_path_bytes for WAVCreate's path buffer. A regular
// file gets a placeholder header that is rewritten at the end; any other output (a device, a
// FIFO) cannot seek back and gets the final header first. Calls are serialised by a
// process-wide lock.
render_result genwav(const char *text, const path_char *path, int32_t tenths,
                     const char *waveform, std::size_t path_limit = max_path_bytes);

// The same render into `stream`, already open for binary writing (standard output): the
// final header first, no seek. The stream is flushed, not closed.
render_result genwav(const char *text, std::FILE *stream, int32_t tenths, const char *waveform);

// Samples in every tone of a render at `tenths`: floor(2000 * s), s the single-precision
// product of the tenths and 0.1.
double tonelength(int32_t tenths);

} // namespace wavcreate
