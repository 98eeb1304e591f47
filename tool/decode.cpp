// The decode command: reads the text back from a file of tones (- for standard input), the
// text on standard output, the summary on standard error.
#include "tool.h"

#include "decode/decode.h"
#include "entry/narrow.h"

#include <cerrno>

namespace tool {

namespace {

// The decoded characters as UTF-8, U+FFFD for each undecided one, and the positions (from 1)
// of the undecided ones, as a list for the message.
std::string text_of_codes(const std::vector<int> &codes, std::string &undecided)
{
    std::string text;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const int code = codes[i];
        if (code < 0) {
            undecided += (undecided.empty() ? "" : ", ") + std::to_string(i + 1);
            wavcreate::appendutf8(0xFFFD, text);
        } else {
            wavcreate::appendutf8(wavcreate::cp1252unit(static_cast<unsigned char>(code)), text);
        }
    }
    return text;
}

void print_summary(const wavcreate::decode_result &result, const std::string &name)
{
    char confidence[96];
    if (result.exact)
        std::snprintf(confidence, sizeof confidence, "every tone exact");
    else if (result.weakest_position < 0)
        std::snprintf(confidence, sizeof confidence, "every tone silent");
    else
        std::snprintf(confidence, sizeof confidence, "weakest tone %.0f%% sure (character %d)",
                      100.0 * result.weakest, result.weakest_position + 1);
    std::fprintf(stderr, "wavcreate: %s: %s, %s per tone, %s, %s\n", name.c_str(),
                 count_of(static_cast<long long>(result.codes.size()) + 1, "tone").c_str(),
                 count_of(result.tenths, "tenth").c_str(), result.waveform.c_str(), confidence);
}

// Prints what the decoder found: the text, the summary unless quiet, and the undecided
// characters; returns the exit status.
int print_result(const wavcreate::decode_result &result, const std::string &name, bool quiet)
{
    if (!result.read) {
        failure("cannot decode " + name + ": " + result.error);
        return exit_failed;
    }
    std::string undecided;
    if (!write_standard_output(text_of_codes(result.codes, undecided) + '\n'))
        return exit_failed;
    if (!quiet)
        print_summary(result, name);
    if (!undecided.empty()) {
        const bool one = undecided.find(',') == std::string::npos;
        failure(std::string("could not decide the character") +
                (one ? " at position " : "s at positions ") + undecided + " of " + name);
        return exit_failed;
    }
    return exit_ok;
}

} // namespace

int decode(const options &chosen)
{
    const bool from_standard_input = chosen.input == "-";
    const std::string name = from_standard_input ? "standard input" : "'" + chosen.input + "'";
    std::FILE *stream =
        from_standard_input ? binary_standard_input() : open_for_reading(chosen.input);
    if (stream == nullptr) {
        failure("cannot open " + name + ": " + error_text(errno));
        return exit_failed;
    }
    std::string file;
    const int error = read_all(stream, file);
    if (!from_standard_input)
        std::fclose(stream);
    if (error != 0) {
        failure("cannot read " + name + ": " + error_text(error));
        return exit_failed;
    }
    return print_result(wavcreate::decodewav(file), name, chosen.quiet);
}

} // namespace tool
