// Standard input and the files the tool names: read as binary on every system, named in
// UTF-16 on Windows and as bytes elsewhere.
#include "tool.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace tool {

std::string read_all(std::FILE *stream)
{
    std::string bytes;
    char chunk[1 << 16];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, stream)) > 0)
        bytes.append(chunk, count);
    return bytes;
}

std::FILE *binary_standard_input()
{
#if defined(_WIN32)
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    return stdin;
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

std::FILE *open_for_reading(const std::string &name)
{
    return _wfopen(native_path(name).c_str(), L"rb");
}
#else
// File names are bytes: the argument goes to the system as it is.
std::string native_path(const std::string &bytes) { return bytes; }

std::FILE *open_for_reading(const std::string &name) { return std::fopen(name.c_str(), "rb"); }
#endif

} // namespace tool
