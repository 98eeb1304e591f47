// Standard input and output and the files the tool names: read and written as binary on
// every system, named in UTF-16 on Windows and as bytes elsewhere.
#include "tool.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include <cerrno>

namespace tool {

namespace {

// A reader that stopped early (head, a player closed) is no failure to talk about; the
// status still says the output is incomplete.
int report_write_error(int error)
{
    if (error != EPIPE)
        failure("write error: " + error_text(error));
    return exit_failed;
}

} // namespace

int read_all(std::FILE *stream, std::string &bytes)
{
    char chunk[1 << 16];
    std::size_t count;
    errno = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, stream)) > 0)
        bytes.append(chunk, count);
    return std::ferror(stream) != 0 ? errno : 0;
}

std::FILE *binary_standard_input()
{
#if defined(_WIN32)
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    return stdin;
}

bool write_standard_output(const std::string &bytes)
{
    errno = 0;
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    // Flushed at once, so that the data comes before any summary on standard error, and a
    // failure is seen while its errno is known: a failed flush drops what it held.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        report_write_error(errno);
        return false;
    }
    return true;
}

int close_standard_output(int status)
{
    // An error already on the stream was reported by the write that met it (the render's, or
    // write_standard_output), and some C libraries fail the close again for it.
    if (std::ferror(stdout) != 0) {
        std::fclose(stdout);
        return status;
    }
    errno = 0;
    if (std::fflush(stdout) != 0)
        return report_write_error(errno);
    // With nothing left to flush, EBADF means standard output was closed from the start and
    // nothing was written to it.
    if (std::fclose(stdout) != 0 && errno != EBADF)
        return report_write_error(errno);
    return status;
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
