// wavcreate: renders a line of text to a WAVE file from the command line, or reads the text
// back from one. The WAVE stream (with - as OUTPUT) or the decoded text is all that goes to
// standard output; the summary and every message go to standard error.
#include "tool.h"

namespace tool {

// Runs the command the options name. Standard output is closed by hand at the end, so that
// no write error is lost at exit.
int run(int argc, char **argv)
{
    options chosen;
    if (!read_options(argc, argv, chosen))
        return exit_usage;
    int status = exit_ok;
    switch (chosen.to_run) {
    case command::help:
        status = show_usage();
        break;
    case command::version:
        status = show_version();
        break;
    case command::decode:
        status = decode(chosen);
        break;
    case command::render:
        status = render(chosen);
        break;
    }
    return close_standard_output(status);
}

} // namespace tool

#if !defined(_WIN32)
// Windows starts the tool at wmain, in wide_arguments.cpp.
int main(int argc, char **argv) { return tool::run(argc, argv); }
#endif
