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

// streams.cpp: standard input and the files the tool names.
std::string read_all(std::FILE *stream);
std::FILE *binary_standard_input();
std::FILE *open_for_reading(const std::string &name);
// The OUTPUT operand as the render opens it: UTF-16 on Windows, the bytes elsewhere.
std::basic_string<wavcreate::path_char> native_path(const std::string &utf8);

// main.cpp: the whole tool, from the command line to the exit status.
int run(int argc, char **argv);

} // namespace tool
