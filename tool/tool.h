// What the tool's files share: the exit statuses, the command line as read, and the routines
// each file offers the others.
#pragma once

#include "entry/genwav.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace tool {

constexpr int exit_ok = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;

enum class command { render, decode, help, version };

struct options {
    command to_run = command::render;
    int32_t tenths = 5;
    std::string waveform = "sine";
    bool quiet = false;
    std::string text;   // render: the TEXT operand, - for standard input
    std::string output; // render: the OUTPUT operand, - for standard output
    std::string input;  // decode: the FILE operand, - for standard input
};

// options.cpp: reads the command line into `chosen`; false after reporting bad usage.
bool read_options(int argc, char **argv, options &chosen);
int show_usage();
int show_version();

// render.cpp and decode.cpp: the two commands, each returning the exit status.
int render(const options &chosen);
int decode(const options &chosen);

// messages.cpp: every message goes to standard error as "wavcreate: ...".
void failure(const std::string &message);
int usage_error(const std::string &message);
std::string error_text(int error);
// "1 tone", "2 tones": `count` and the noun, plural unless the count is 1.
std::string count_of(long long count, const char *noun);

// streams.cpp: standard input and output and the files the tool names.
// Appends all that `stream` holds to `bytes`; returns 0, or the errno of a failed read.
int read_all(std::FILE *stream, std::string &bytes);
std::FILE *binary_standard_input();
std::FILE *open_for_reading(const std::string &name);
// Writes and flushes data to standard output; false after reporting a write error.
bool write_standard_output(const std::string &bytes);
// Flushes and closes standard output at the end of the tool, reporting a write error that
// would otherwise be lost at exit; returns `status`, or 1 after such an error.
int close_standard_output(int status);
// The OUTPUT operand as the render opens it: UTF-16 on Windows, the bytes elsewhere.
std::basic_string<wavcreate::path_char> native_path(const std::string &utf8);

// main.cpp: the whole tool, from the command line to the exit status.
int run(int argc, char **argv);

} // namespace tool
