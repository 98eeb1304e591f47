// libFuzzer target over WAVCreate's whole input space: any UTF-16 text (or NULL), a path
// inside a private folder (or NULL, or in a folder that does not exist), and any tone length.
// After each call it checks the file against what the inputs call for, and aborts when it
// differs: a file exists exactly when the inputs were valid, its size is 44 plus the samples
// of every tone, and its header agrees with its length.
#include "wavcreate.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string folder; // the private folder every path lies in

// Reads the fuzz input from the front, yielding zeros once it runs out.
struct input {
    const uint8_t *data;
    std::size_t size;
    uint8_t byte()
    {
        if (size == 0)
            return 0;
        --size;
        return *data++;
    }
    uint16_t unit() { return static_cast<uint16_t>(byte() | byte() << 8); }
    int32_t int32() { return static_cast<int32_t>(unit() | static_cast<uint32_t>(unit()) << 16); }
};

// Tone lengths, weighted toward the edges of the accepted range.
int32_t pick_tenths(input &in)
{
    const uint8_t choice = in.byte();
    switch (choice % 16) {
    case 0: return -1;
    case 1: return 0;
    case 2: return 40;
    case 3: return 41;
    case 4: return INT32_MIN;
    case 5: return INT32_MAX;
    case 6: return in.int32();
    default: return choice % 3; // short tones keep the runs fast
    }
}

// The text: any code units up to the input's end, then optionally padded to a length
// around the 1999-unit limit.
std::u16string pick_text(input &in)
{
    const uint8_t pad = in.byte();
    const std::size_t units = in.size / 2;
    std::u16string text;
    for (std::size_t i = 0; i < units; ++i) {
        const uint16_t unit = in.unit();
        if (unit == 0)
            break;
        text.push_back(static_cast<char16_t>(unit));
    }
    if (pad % 8 == 3)
        text.resize(1997 + pad / 8 % 6, u'a'); // 1997 to 2002 units
    return text;
}

std::size_t utf8_bytes(const std::u16string &path)
{
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char16_t unit = path[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low_next = i + 1 < path.size() && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF;
        if (high && low_next) {
            bytes += 4;
            ++i;
        } else {
            bytes += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
        }
    }
    return bytes;
}

struct fuzz_path {
    std::u16string utf16;
    bool creatable; // its folder exists and the name is a plain file name
};

// A file name of letters, one accented letter or lone surrogate now and then, inside the
// private folder or a missing folder within it, padded to lengths around the 199-byte limit.
fuzz_path pick_path(input &in)
{
    const uint8_t kind = in.byte();
    fuzz_path path{std::u16string(folder.begin(), folder.end()) + u"/", true};
    if (kind % 8 == 0) {
        path.utf16 += u"missing/";
        path.creatable = false;
    }
    const std::size_t name_length = 1 + in.byte() % 24;
    for (std::size_t i = 0; i < name_length; ++i) {
        const uint8_t c = in.byte();
        path.utf16 += c % 16 == 0 ? u'\u00e9' : c % 16 == 1 ? char16_t(0xDC00) : char16_t(u'a' + c % 26);
    }
    if (kind % 4 == 1) {
        const std::size_t target = 197 + kind / 4 % 5; // 197 to 201 bytes
        while (utf8_bytes(path.utf16) < target)
            path.utf16 += u'p';
    }
    return path;
}

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

int32_t le32(const std::vector<char> &file, std::size_t offset)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(file[offset + i]);
    return static_cast<int32_t>(value);
}

// floor(2000 * s), s the single-precision product of the tenths and 0.1.
int64_t samples_per_tone(int32_t tenths)
{
    const float seconds = static_cast<float>(tenths) * 0.1f;
    return static_cast<int64_t>(static_cast<double>(seconds) * 2000.0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char pattern[] = "/tmp/wavcreate-fuzz-XXXXXX";
    check(mkdtemp(pattern) != nullptr, "mkdtemp");
    folder = pattern;
    // The library's messages go to standard output; the fuzzer's own report is on stderr.
    check(std::freopen("/dev/null", "w", stdout) != nullptr, "silence stdout");
    std::atexit([] { std::filesystem::remove_all(folder); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    input in{data, size};
    const uint8_t nulls = in.byte();
    const int32_t tenths = pick_tenths(in);
    const fuzz_path path = pick_path(in);
    const std::u16string text = pick_text(in);
    const bool null_text = nulls % 16 == 1;
    const bool null_path = nulls % 16 == 2;

    check(WAVCreate(null_text ? nullptr : text.c_str(), null_path ? nullptr : path.utf16.c_str(),
                    tenths) == 999,
          "WAVCreate returns 999");

    const std::size_t characters = null_text ? 0 : text.size();
    const bool valid = characters <= 1999 && (null_path || utf8_bytes(path.utf16) <= 199) &&
                       tenths >= 0 && tenths <= 40 && !null_path && path.creatable;
    if (!valid) {
        check(std::filesystem::is_empty(folder), "a refused or failed call leaves no file");
        return 0;
    }
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        files.push_back(entry.path());
    check(files.size() == 1, "a valid call creates exactly one file");
    std::ifstream stream(files[0], std::ios::binary);
    const std::vector<char> file((std::istreambuf_iterator<char>(stream)),
                                 std::istreambuf_iterator<char>());
    const int64_t samples = static_cast<int64_t>(characters + 1) * samples_per_tone(tenths);
    check(static_cast<int64_t>(file.size()) == 44 + samples, "file size");
    check(std::memcmp(file.data(), "RIFF", 4) == 0 && std::memcmp(file.data() + 8, "WAVEfmt ", 8) == 0,
          "header identifiers");
    check(le32(file, 40) == samples, "data size in the header");
    check(le32(file, 4) == samples + 36, "RIFF size in the header");
    std::filesystem::remove(files[0]);
    return 0;
}
