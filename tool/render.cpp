// The render command: TEXT (or standard input) to the WAVE file OUTPUT (or standard output),
// through the same render routine as WAVCreate, with a summary on standard error.
#include "tool.h"

#include "entry/narrow.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>

namespace tool {

namespace {

// The text that standard input holds: all of it, less a leading byte-order mark and one
// final newline (LF or CRLF); inner newlines are characters like any other.
std::string text_of_input(std::string bytes)
{
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    if (!bytes.empty() && bytes.back() == '\n') {
        bytes.pop_back();
        if (!bytes.empty() && bytes.back() == '\r')
            bytes.pop_back();
    }
    return bytes;
}

bool is_terminal(std::FILE *stream)
{
#if defined(_WIN32)
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

// Reports a render that did not complete, in the tool's words; returns the exit status.
int report_failure(const wavcreate::render_result &result, const std::string &name)
{
    using wavcreate::render_status;
    switch (result.status) {
    case render_status::written:
        return exit_ok;
    case render_status::text_too_long:
        // Each UTF-16 code unit is one tone, so a character beyond U+FFFF counts twice.
        failure("the text is longer than 1999 UTF-16 code units, one tone each");
        break;
    case render_status::tenths_out_of_range:
        failure("the tone length must be 0 to 40 tenths");
        break;
    case render_status::path_too_long: // the tool sets no limit of its own on the path
    case render_status::open_failed:
        failure("cannot create " + name + ": " + error_text(result.error));
        break;
    case render_status::write_failed:
        // A reader that stopped early (head, a player closed) is no failure to talk about.
        if (result.error != EPIPE)
            failure("cannot write " + name + ": " + error_text(result.error));
        break;
    }
    return exit_failed;
}

// The render of `text`, Windows-1252, to standard output or the file OUTPUT.
wavcreate::render_result render_to(const std::string &text, const options &chosen)
{
    if (chosen.output == "-") {
#if defined(_WIN32)
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        return wavcreate::genwav(text.c_str(), stdout, chosen.tenths, chosen.waveform.c_str());
    }
    return wavcreate::genwav(text.c_str(), native_path(chosen.output).c_str(), chosen.tenths,
                             chosen.waveform.c_str(), wavcreate::no_path_limit);
}

} // namespace

int render(const options &chosen)
{
    const bool to_standard_output = chosen.output == "-";
    if (to_standard_output && is_terminal(stdout))
        return usage_error("standard output is a terminal: redirect it, or name an OUTPUT file");

    std::string utf8_text = chosen.text;
    if (chosen.text == "-") {
        std::string bytes;
        const int error = read_all(binary_standard_input(), bytes);
        if (error != 0) {
            failure("cannot read standard input: " + error_text(error));
            return exit_failed;
        }
        utf8_text = text_of_input(bytes);
        if (utf8_text.find('\0') != std::string::npos)
            return usage_error("standard input holds a NUL byte, which a text cannot carry");
    }
    std::u16string wide_text;
    if (!wavcreate::widenutf8(utf8_text, wide_text))
        return usage_error("the text is not valid UTF-8");
    std::string text(wide_text.size() + 1, '\0');
    wavcreate::narrowtext(wide_text.c_str(), text.data(), text.size());

    const std::string name = to_standard_output ? "standard output" : "'" + chosen.output + "'";
    const wavcreate::render_result result = render_to(text, chosen);
    if (result.status != wavcreate::render_status::written)
        return report_failure(result, name);
    if (!chosen.quiet) {
        std::fprintf(stderr, "wavcreate: %s: %s, %s, %.3f seconds, %s\n", name.c_str(),
                     count_of(result.tones, "tone").c_str(),
                     count_of(result.sample_total, "sample").c_str(),
                     result.sample_total / wavcreate::sample_rate,
                     count_of(44LL + result.sample_total, "byte").c_str());
    }
    return exit_ok;
}

} // namespace tool
