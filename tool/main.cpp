// wavcreate: renders a line of text to a WAVE file from the command line.
#include "entry/genwav.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;
constexpr int32_t default_tenths = 5;

const char usage_text[] =
    "usage: wavcreate [-t TENTHS] [--waveform NAME] TEXT OUTPUT\n"
    "\n"
    "Renders TEXT as one tone per character, plus a silent tone for the end of the text,\n"
    "into the 8-bit mono WAVE file OUTPUT at 2000 samples per second. Each tone's frequency\n"
    "is 31 times the character's Windows-1252 code; a space is a pause.\n"
    "\n"
    "  TEXT                  UTF-8 text; - reads one line from standard input\n"
    "  -t, --tenths TENTHS   length of every tone in tenths of a second, 0 to 40 (default 5)\n"
    "  -w, --waveform NAME   sine, square, sawtooth or triangle (default sine)\n"
    "  -h, --help            show this help\n"
    "      --version         show the version\n"
    "      --                end the options, for a TEXT that starts with -\n"
    "\n"
    "Exit status: 0 when the file was written in full, 1 when it was refused or could not\n"
    "be written, 2 for bad usage.\n";

bool is_waveform(const std::string &name)
{
    return name == "sine" || name == "square" || name == "sawtooth" || name == "triangle";
}

// Decodes UTF-8 into UTF-16 code units. False for malformed input: a stray or missing
// continuation byte, an overlong form, a surrogate or a value beyond U+10FFFF.
bool utf8_to_utf16(const std::string &in, std::u16string &out)
{
    out.clear();
    for (std::size_t i = 0; i < in.size();) {
        const auto lead = static_cast<unsigned char>(in[i]);
        int extra;
        uint32_t code_point;
        uint32_t smallest;
        if (lead < 0x80) {
            extra = 0, code_point = lead, smallest = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, code_point = lead & 0x1F, smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, code_point = lead & 0x0F, smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, code_point = lead & 0x07, smallest = 0x10000;
        } else {
            return false;
        }
        if (in.size() - i <= static_cast<std::size_t>(extra))
            return false;
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(in[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code_point = (code_point << 6) | (next & 0x3F);
        }
        if (code_point < smallest || code_point > 0x10FFFF ||
            (code_point >= 0xD800 && code_point <= 0xDFFF))
            return false;
        if (code_point >= 0x10000) {
            code_point -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code_point >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code_point & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code_point));
        }
        i += 1 + extra;
    }
    return true;
}

int usage_error(const std::string &message)
{
    std::cerr << "wavcreate: " << message << "\n" << "Try 'wavcreate --help'.\n";
    return exit_usage;
}

bool parse_tenths(const char *text, int32_t &tenths)
{
    errno = 0;
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || value < INT32_MIN ||
        value > INT32_MAX)
        return false;
    tenths = static_cast<int32_t>(value);
    return true;
}

// The tool's work, on its arguments in UTF-8 (without the program name).
int run(const std::vector<std::string> &argv)
{
    const int argc = static_cast<int>(argv.size());
    int32_t tenths = default_tenths;
    std::string waveform = "sine";
    std::string positional[2];
    int positional_count = 0;
    bool options_done = false;

    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool is_option = !options_done && arg.size() > 1 && arg[0] == '-';
        if (!is_option) {
            if (positional_count == 2)
                return usage_error("too many arguments");
            positional[positional_count++] = arg;
        } else if (arg == "--") {
            options_done = true;
        } else if (arg == "-h" || arg == "--help") {
            std::cout << usage_text;
            return exit_ok;
        } else if (arg == "--version") {
            std::cout << "wavcreate " WAVCREATE_VERSION "\n";
            return exit_ok;
        } else if (arg == "-t" || arg == "--tenths" || arg == "-w" || arg == "--waveform") {
            if (i + 1 == argc)
                return usage_error("option " + arg + " needs a value");
            const char *value = argv[++i].c_str();
            if (arg == "-t" || arg == "--tenths") {
                if (!parse_tenths(value, tenths))
                    return usage_error("tone length '" + std::string(value) +
                                       "' is not a whole number of tenths");
            } else {
                waveform = value;
                if (!is_waveform(waveform))
                    return usage_error("unknown waveform '" + waveform +
                                       "' (choose sine, square, sawtooth or triangle)");
            }
        } else {
            return usage_error("unknown option " + arg);
        }
    }
    if (positional_count != 2)
        return usage_error("expected TEXT and OUTPUT");

    std::string text = positional[0];
    const std::string &output = positional[1];
    if (text == "-") {
        std::getline(std::cin, text);
        if (std::cin.bad())
            return usage_error("could not read the text from standard input");
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
    }
    std::u16string wide_text;
    std::u16string wide_output;
    if (!utf8_to_utf16(text, wide_text))
        return usage_error("the text is not valid UTF-8");
    if (!utf8_to_utf16(output, wide_output))
        return usage_error("the output path is not valid UTF-8");

    const wavcreate::render_result result =
        wavcreate::genwav(wide_text.c_str(), wide_output.c_str(), tenths, waveform.c_str());
    std::fflush(stdout);
    if (result.status != wavcreate::render_status::written)
        return exit_failed;

    const long long expected_bytes = 44LL + result.sample_total;
    std::error_code error;
    const auto size = std::filesystem::file_size(std::filesystem::path(wide_output), error);
    if (error) {
        std::cerr << "wavcreate: " << output << " is missing after the render\n";
        return exit_failed;
    }
    const double seconds = result.sample_total / 2000.0;
    std::printf("%s: %d tones, %d samples, %.3f seconds, %lld bytes\n", output.c_str(),
                result.tones, result.sample_total, seconds, static_cast<long long>(size));
    if (static_cast<long long>(size) != expected_bytes) {
        std::cerr << "wavcreate: " << output << " should be " << expected_bytes << " bytes\n";
        return exit_failed;
    }
    return exit_ok;
}

} // namespace

#if defined(_WIN32)
// Windows hands the arguments over in UTF-16; the tool works in UTF-8 everywhere.
int wmain(int argc, wchar_t **argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(bytes > 0 ? bytes - 1 : 0, '\0');
        if (bytes > 1)
            WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), bytes, nullptr, nullptr);
        args.push_back(arg);
    }
    return run(args);
}
#else
int main(int argc, char **argv)
{
    return run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
