// The tool's start on Windows, which hands the arguments over in UTF-16: they are read as
// UTF-8 like everywhere else, and OUTPUT goes back to UTF-16 for the render.
#include "tool.h"

#include <windows.h>

#include <vector>

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
    return tool::run(argc, argv.data());
}
