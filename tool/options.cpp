// The command line: getopt_long syntax (-t7, --tenths=7, options after the operands, -- to
// end them), the usage text, and which command the operands ask for.
#include "tool.h"

#include <getopt.h>

#include <cstdlib>
#include <cstring>

namespace tool {

namespace {

const char usage_text[] =
    "usage: wavcreate [OPTIONS] TEXT OUTPUT\n"
    "       wavcreate -d|--decode [-q] FILE\n"
    "\n"
    "Renders TEXT as one tone per character, plus a silent tone for the end of the text,\n"
    "into the 8-bit mono WAVE file OUTPUT at 2000 samples per second. Each tone's frequency\n"
    "is 31 times the character's Windows-1252 code; a space is a pause.\n"
    "\n"
    "  TEXT                  UTF-8 text, at most 1999 UTF-16 code units, each one tone (a\n"
    "                        character beyond U+FFFF is two); - reads all of standard input\n"
    "                        (a leading byte-order mark and one final newline are dropped)\n"
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

bool is_waveform(const std::string &name)
{
    return name == "sine" || name == "square" || name == "sawtooth" || name == "triangle";
}

// A whole number of tenths, 0 to 40, in plain decimal digits: no sign, point, space or base
// prefix. Leading zeros are always allowed (007 and 040 alike), as a number's value does not
// change with them.
bool parse_tenths(const char *text, int32_t &tenths)
{
    const std::size_t length = std::strlen(text);
    if (length == 0 || std::strspn(text, "0123456789") != length)
        return false;
    const char *significant = text + std::strspn(text, "0");
    if (std::strlen(significant) > 2 || std::atoi(significant) > wavcreate::max_tenths)
        return false;
    tenths = std::atoi(significant);
    return true;
}

// The option getopt_long stopped at, as the user wrote it: a long one from its argument, a
// short one (perhaps inside a cluster such as -qx) from the letter.
std::string given_option(const char *argument)
{
    if (std::strncmp(argument, "--", 2) == 0)
        return std::string(argument, std::strcspn(argument, "="));
    return std::string("-") + static_cast<char>(optopt);
}

// Which operands the chosen command takes: one FILE to decode, or TEXT and OUTPUT.
bool read_operands(int count, char **operands, bool render_options, options &chosen)
{
    if (chosen.to_run == command::decode) {
        if (render_options) {
            usage_error("--decode finds the tone length and waveform in the file");
            return false;
        }
        if (count != 1) {
            usage_error(count < 1 ? "expected the FILE to decode" : "too many arguments");
            return false;
        }
        chosen.input = operands[0];
        return true;
    }
    if (count != 2) {
        usage_error(count < 2 ? "expected TEXT and OUTPUT" : "too many arguments");
        return false;
    }
    chosen.text = operands[0];
    chosen.output = operands[1];
    return true;
}

} // namespace

bool read_options(int argc, char **argv, options &chosen)
{
    bool render_options = false; // -t or -w given
    opterr = 0;
    int option;
    while ((option = getopt_long(argc, argv, ":t:w:qdh", long_options, nullptr)) != -1) {
        switch (option) {
        case 'd':
            chosen.to_run = command::decode;
            break;
        case 't':
            if (!parse_tenths(optarg, chosen.tenths)) {
                usage_error("invalid tone length '" + std::string(optarg) +
                            "': a whole number of tenths from 0 to 40");
                return false;
            }
            render_options = true;
            break;
        case 'w':
            chosen.waveform = optarg;
            if (!is_waveform(chosen.waveform)) {
                usage_error("unknown waveform '" + chosen.waveform +
                            "' (choose sine, square, sawtooth or triangle)");
                return false;
            }
            render_options = true;
            break;
        case 'q':
            chosen.quiet = true;
            break;
        case 'h':
            chosen.to_run = command::help;
            return true;
        case option_version:
            chosen.to_run = command::version;
            return true;
        case ':':
            usage_error("option " + given_option(argv[optind - 1]) + " needs a value");
            return false;
        default:
            usage_error("unknown option " + given_option(argv[optind - 1]));
            return false;
        }
    }
    return read_operands(argc - optind, argv + optind, render_options, chosen);
}

int show_usage() { return write_standard_output(usage_text) ? exit_ok : exit_failed; }

int show_version()
{
    return write_standard_output("wavcreate " WAVCREATE_VERSION "\n") ? exit_ok : exit_failed;
}

} // namespace tool
