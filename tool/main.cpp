// wavcreate: renders a line of text to a WAVE file from the command line, or reads the text
// back from one. The WAVE stream (with - as OUTPUT) or the decoded text is all that goes to
// standard output; the summary and every message go to standard error.
#include "tool.h"

namespace tool {

int run(int argc, char **argv)
{
    options chosen;
    if (!read_options(argc, argv, chosen))
        return exit_usage;
    switch (chosen.to_run) {
    case command::help:
        return show_usage();
    case command::version:
        return show_version();
    case command::decode:
        return decode(chosen);
    case command::render:
        break;
    }
    return render(chosen);
}

} // namespace tool

#if !defined(_WIN32)
// Windows starts the tool at wmain, in wide_arguments.cpp.
int main(int argc, char **argv) { return tool::run(argc, argv); }
#endif
