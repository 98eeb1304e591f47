// The decode command: reads the text back from a file of tones (- for standard input), the
// text on standard output, the summary on standard error.
#include "tool.h"

#include "decode/decode.h"
#include "entry/narrow.h"

#include <cerrno>
#include <cmath>
#include <vector>

namespace tool {

namespace {

// The decoded characters as UTF-8, U+FFFD for each undecided one, whose positions (from 1)
// go to `undecided`.
std::string text_of_codes(const std::vector<int> &codes, std::vector<std::size_t> &undecided)
{
    std::string text;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const int code = codes[i];
        if (code < 0) {
            undecided.push_back(i + 1);
            wavcreate::appendutf8(0xFFFD, text);
        } else {
            wavcreate::appendutf8(wavcreate::cp1252unit(static_cast<unsigned char>(code)), text);
        }
    }
    return text;
}

// "3, 7 and 12": the first twenty positions, then how many more.
std::string position_list(const std::vector<std::size_t> &positions)
{
    constexpr std::size_t most_listed = 20;
    const std::size_t listed = std::min(positions.size(), most_listed);
    std::string list;
    for (std::size_t i = 0; i < listed; ++i) {
        if (i > 0)
            list += i + 1 == listed && positions.size() <= most_listed ? " and " : ", ";
        list += std::to_string(positions[i]);
    }
    if (positions.size() > most_listed)
        list += " and " + std::to_string(positions.size() - most_listed) + " more";
    return list;
}

void print_summary(const wavcreate::decode_result &result, const std::string &name)
{
    char details[128];
    if (result.exact)
        std::snprintf(details, sizeof details, "every tone exact");
    else if (result.weakest_position < 0)
        std::snprintf(details, sizeof details, "no characters");
    else
        std::snprintf(details, sizeof details, "clock %+.0f ppm, weakest margin %.0f dB (character %d)",
                      std::round((result.clock - 1.0) * 1e6),
                      std::min(999.0, 10.0 * std::log10(std::max(1.0, result.weakest_margin))),
                      result.weakest_position + 1);
    std::fprintf(stderr, "wavcreate: %s: %s, %s per tone, %s, %s\n", name.c_str(),
                 count_of(static_cast<long long>(result.codes.size()) + 1, "tone").c_str(),
                 count_of(result.tenths, "tenth").c_str(), result.waveform.c_str(), details);
}

// Prints what the decoder found: the text, the summary unless quiet, and what it could not
// decide; returns the exit status.
int print_result(const wavcreate::decode_result &result, const std::string &name, bool quiet)
{
    if (!result.read) {
        failure((result.read_error != 0 ? "cannot read " : "cannot decode ") + name + ": " +
                result.error);
        return exit_failed;
    }
    std::vector<std::size_t> undecided;
    if (!write_standard_output(text_of_codes(result.codes, undecided) + '\n'))
        return exit_failed;
    if (!quiet)
        print_summary(result, name);
    if (result.damaged_samples > 0)
        failure(name + ": " + count_of(result.damaged_samples, "damaged sample") +
                " (NaN or infinite), read as silence");
    if (result.cut_short)
        failure(name + ": the file ends without the text's final silent tone; it may be cut short");
    if (!undecided.empty()) {
        failure(std::string("could not decide the character") +
                (undecided.size() == 1 ? " at position " : "s at positions ") +
                position_list(undecided) + " of " + name);
        return exit_failed;
    }
    return result.cut_short ? exit_failed : exit_ok;
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
    const wavcreate::decode_result result = wavcreate::decodewav(stream);
    if (!from_standard_input)
        std::fclose(stream);
    return print_result(result, name, chosen.quiet);
}

} // namespace tool
