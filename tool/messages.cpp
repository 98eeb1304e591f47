// The tool's talk: every message goes to standard error as "wavcreate: what failed: why",
// so that standard output carries nothing but data.
#include "tool.h"

#include <cstring>

namespace tool {

void failure(const std::string &message)
{
    std::fprintf(stderr, "wavcreate: %s\n", message.c_str());
}

int usage_error(const std::string &message)
{
    std::fprintf(stderr, "wavcreate: %s\nTry 'wavcreate --help'.\n", message.c_str());
    return exit_usage;
}

std::string error_text(int error)
{
    return error != 0 ? std::strerror(error) : "unknown error";
}

std::string count_of(long long count, const char *noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

} // namespace tool
