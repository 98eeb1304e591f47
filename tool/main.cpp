// wavcreate: renders a line of text to a WAVE file from the command line. The WAVE stream
// (with - as OUTPUT) is all that goes to standard output; the summary and every message go to
// standard error.
#include "decode/decode.h"
#include "entry/genwav.h"
#include "entry/narrow.h"

#include <getopt.h>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;
constexpr int32_t default_tenths = 5;

const char usage_text[] =
    "usage: wavcreate [OPTIONS] TEXT OUTPUT\n"
    "       wavcreate --decode [-q] FILE\n"
    "\n"
    "Renders TEXT as one tone per character, plus a silent tone for the end of the text,\n"
    "into the 8-bit mono WAVE file OUTPUT at 2000 samples per second. Each tone's frequency\n"
    "is 31 times the character's Windows-1252 code; a space is a pause.\n"
    "\n"
    "  TEXT                  UTF-8 text; - reads all of standard input (a leading\n"
    "                        byte-order mark and one final newline are dropped)\n"
    "  OUTPUT                the file to create; - writes the WAVE stream to standard output\n"
    "  -t, --tenths=TENTHS   length of every tone in tenths of a second, 0 to 40 (default 5)\n"
    "  -w, --waveform=NAME   sine, square, sawtooth or triangle (default sine)\n"
    "  -q, --quiet           print no summary\n"
    "  -d, --decode          read the text back from FILE (- for standard input) and print\n"
    "                        it as UTF-8; the tone length and waveform come from the file\n"
    "  -h, --help            show this help\n"
    "      --version         show the version\n"
    "      --                end the options, for a TEXT that starts with -\n"
    "\n"
    "The summary and every message go to standard error. Exit status: 0 when the file was\n"
    "written in full (or every tone decoded), 1 when the text was refused or the file could\n"
    "not be written (or read as tones, or a tone could not be decided), 2 for bad usage.\n";

enum option_id { option_version = 256 };

const option long_options[] = {
    {"tenths", required_argument, nullptr, 't'},
    {"waveform", required_argument, nullptr, 'w'},
    {"quiet", no_argument, nullptr, 'q'},
    {"decode", no_argument, nullptr, 'd'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, option_version},
    {nullptr, 0, nullptr, 0},
};

struct options {
    int32_t tenths = default_tenths;
    std::string waveform = "sine";
    bool quiet = false;
    bool decode = false;
    bool render_options = false; // -t or -w given
};

int usage_error(const std::string &message)
{
    std::fprintf(stderr, "wavcreate: %s\nTry 'wavcreate --help'.\n", message.c_str());
    return exit_usage;
}

void failure(const std::string &message)
{
    std::fprintf(stderr, "wavcreate: %s\n", message.c_str());
}

bool is_waveform(const std::string &name)
{
    return name == "sine" || name == "square" || name == "sawtooth" || name == "triangle";
}

// A whole number of tenths, 0 to 40, in plain decimal digits: no sign, point or base prefix.
bool parse_tenths(const char *text, int32_t &tenths)
{
    const std::size_t length = std::strlen(text);
    if (length == 0 || length > 2 || std::strspn(text, "0123456789") != length)
        return false;
    const int value = std::atoi(text);
    if (value > wavcreate::max_tenths)
        return false;
    tenths = value;
    return true;
}

std::string read_all(std::FILE *stream)
{
    std::string bytes;
    char chunk[1 << 16];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, stream)) > 0)
        bytes.append(chunk, count);
    return bytes;
}

std::string read_standard_input()
{
#if defined(_WIN32)
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    return read_all(stdin);
}

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

std::string error_text(int error)
{
    return error != 0 ? std::strerror(error) : "unknown error";
}

// Reports a render that did not complete, in the tool's words; returns the exit status.
int report_failure(const wavcreate::render_result &result, const std::string &name)
{
    using wavcreate::render_status;
    switch (result.status) {
    case render_status::written:
        return exit_ok;
    case render_status::text_too_long:
        failure("the text is longer than 1999 characters");
        break;
    case render_status::path_too_long:
        failure("cannot create " + name + ": the path is longer than 199 bytes");
        break;
    case render_status::tenths_out_of_range:
        failure("the tone length must be 0 to 40 tenths");
        break;
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

#if defined(_WIN32)
std::wstring native_path(const std::string &utf8)
{
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring path(units > 0 ? units - 1 : 0, L'\0');
    if (units > 1)
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, path.data(), units);
    return path;
}
#else
// File names are bytes: the argument goes to the render as it is.
const std::string &native_path(const std::string &bytes) { return bytes; }
#endif

bool is_terminal(std::FILE *stream)
{
#if defined(_WIN32)
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

int render(const options &chosen, const std::string &text_argument, const std::string &output)
{
    const bool to_standard_output = output == "-";
    if (to_standard_output && is_terminal(stdout))
        return usage_error("standard output is a terminal: redirect it, or name an OUTPUT file");

    std::string utf8_text = text_argument;
    if (text_argument == "-") {
        utf8_text = text_of_input(read_standard_input());
        if (std::ferror(stdin) != 0)
            return usage_error("cannot read standard input: " + error_text(errno));
        if (utf8_text.find('\0') != std::string::npos)
            return usage_error("standard input holds a NUL byte, which a text cannot carry");
    }
    std::u16string wide_text;
    if (!wavcreate::widenutf8(utf8_text, wide_text))
        return usage_error("the text is not valid UTF-8");
    std::string text(wide_text.size() + 1, '\0');
    wavcreate::narrowtext(wide_text.c_str(), text.data(), text.size());

    wavcreate::render_result result;
    std::string name;
    if (to_standard_output) {
#if defined(_WIN32)
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        name = "standard output";
        result = wavcreate::genwav(text.c_str(), stdout, chosen.tenths, chosen.waveform.c_str());
    } else {
        name = "'" + output + "'";
        result = wavcreate::genwav(text.c_str(), native_path(output).c_str(), chosen.tenths,
                                   chosen.waveform.c_str());
    }
    if (result.status != wavcreate::render_status::written)
        return report_failure(result, name);
    if (!chosen.quiet) {
        std::fprintf(stderr, "wavcreate: %s: %d tones, %d samples, %.3f seconds, %lld bytes\n",
                     to_standard_output ? "standard output" : output.c_str(), result.tones,
                     result.sample_total, result.sample_total / 2000.0,
                     44LL + result.sample_total);
    }
    return exit_ok;
}

// "3, 7 and 12", the first twenty of the positions and how many more.
std::string positionlist(const std::vector<std::size_t> &positions)
{
    constexpr std::size_t most_listed = 20;
    std::string list;
    const std::size_t listed = std::min(positions.size(), most_listed);
    for (std::size_t i = 0; i < listed; ++i) {
        if (i > 0)
            list += i + 1 == listed && positions.size() <= most_listed ? " and " : ", ";
        list += std::to_string(positions[i]);
    }
    if (positions.size() > most_listed)
        list += " and " + std::to_string(positions.size() - most_listed) + " more";
    return list;
}

// Reads the text back from `input` (- for standard input): the text on standard output, the
// summary on standard error.
int decode(const options &chosen, const std::string &input)
{
    std::FILE *stream = stdin;
    std::string name = "standard input";
    if (input == "-") {
#if defined(_WIN32)
        _setmode(_fileno(stdin), _O_BINARY);
#endif
    } else {
        name = "'" + input + "'";
#if defined(_WIN32)
        stream = _wfopen(native_path(input).c_str(), L"rb");
#else
        stream = std::fopen(input.c_str(), "rb");
#endif
        if (stream == nullptr) {
            failure("cannot open " + name + ": " + error_text(errno));
            return exit_failed;
        }
    }
    const wavcreate::decode_result result = wavcreate::decodewav(stream);
    if (stream != stdin)
        std::fclose(stream);
    if (!result.read) {
        failure("cannot decode " + name + ": " + result.error);
        return exit_failed;
    }
    std::string text;
    std::vector<std::size_t> undecided;
    for (std::size_t i = 0; i < result.codes.size(); ++i) {
        const int code = result.codes[i];
        if (code < 0) {
            undecided.push_back(i + 1);
            wavcreate::appendutf8(0xFFFD, text);
        } else {
            wavcreate::appendutf8(wavcreate::cp1252unit(static_cast<unsigned char>(code)), text);
        }
    }
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        failure("write error: " + error_text(errno));
        return exit_failed;
    }
    if (!chosen.quiet) {
        char details[160];
        if (result.exact)
            std::snprintf(details, sizeof details, "every tone exact");
        else if (result.weakest_position < 0)
            std::snprintf(details, sizeof details, "no characters");
        else
            std::snprintf(details, sizeof details, "clock %+.0f ppm, weakest margin %.0f dB (character %d)",
                          (result.clock - 1.0) * 1e6, 4.342944819 * result.weakest_margin,
                          result.weakest_position + 1);
        std::fprintf(stderr, "wavcreate: %s: %zu %s, %d tenths per tone, %s, %s\n", name.c_str(),
                     result.codes.size() + 1, result.codes.empty() ? "tone" : "tones",
                     result.tenths, result.waveform.c_str(), details);
    }
    if (result.damaged_samples > 0)
        failure(name + " holds " + std::to_string(result.damaged_samples) +
                " damaged samples (NaN or infinite), read as silence");
    if (result.cut_short)
        failure(name + " ends without the text's final silent tone: it may be cut short");
    if (!undecided.empty()) {
        failure("could not decide the character" +
                std::string(undecided.size() == 1 ? " at position " : "s at positions ") +
                positionlist(undecided) + " of " + name);
        return exit_failed;
    }
    return result.cut_short ? exit_failed : exit_ok;
}

// The option getopt_long stopped at, as the user wrote it: a long one from its argument, a
// short one (perhaps inside a cluster such as -qx) from the letter.
std::string given_option(const char *argument)
{
    if (std::strncmp(argument, "--", 2) == 0)
        return std::string(argument, std::strcspn(argument, "="));
    return std::string("-") + static_cast<char>(optopt);
}

int run(int argc, char **argv)
{
    options chosen;
    opterr = 0;
    int option;
    while ((option = getopt_long(argc, argv, ":t:w:qdh", long_options, nullptr)) != -1) {
        switch (option) {
        case 'd':
            chosen.decode = true;
            break;
        case 't':
            if (!parse_tenths(optarg, chosen.tenths))
                return usage_error("invalid tone length '" + std::string(optarg) +
                                   "': a whole number of tenths from 0 to 40");
            chosen.render_options = true;
            break;
        case 'w':
            chosen.waveform = optarg;
            if (!is_waveform(chosen.waveform))
                return usage_error("unknown waveform '" + chosen.waveform +
                                   "' (choose sine, square, sawtooth or triangle)");
            chosen.render_options = true;
            break;
        case 'q':
            chosen.quiet = true;
            break;
        case 'h':
            std::fputs(usage_text, stdout);
            return exit_ok;
        case option_version:
            std::puts("wavcreate " WAVCREATE_VERSION);
            return exit_ok;
        case ':':
            return usage_error("option " + given_option(argv[optind - 1]) + " needs a value");
        default:
            return usage_error("unknown option " + given_option(argv[optind - 1]));
        }
    }
    const int operands = argc - optind;
    if (chosen.decode) {
        if (chosen.render_options)
            return usage_error("--decode finds the tone length and waveform in the file");
        if (operands != 1)
            return usage_error(operands < 1 ? "expected the FILE to decode" : "too many arguments");
        return decode(chosen, argv[optind]);
    }
    if (operands != 2)
        return usage_error(operands < 2 ? "expected TEXT and OUTPUT" : "too many arguments");
    return render(chosen, argv[optind], argv[optind + 1]);
}

} // namespace

#if defined(_WIN32)
// Windows hands the arguments over in UTF-16; the options are read in UTF-8, and OUTPUT goes
// back to UTF-16 for the render.
int wmain(int argc, wchar_t **wide_argv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        const int bytes =
            WideCharToMultiByte(CP_UTF8, 0, wide_argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string argument(bytes > 0 ? bytes - 1 : 0, '\0');
        if (bytes > 1)
            WideCharToMultiByte(CP_UTF8, 0, wide_argv[i], -1, argument.data(), bytes, nullptr,
                                nullptr);
        arguments.push_back(argument);
    }
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    return run(argc, argv.data());
}
#else
int main(int argc, char **argv) { return run(argc, argv); }
#endif
