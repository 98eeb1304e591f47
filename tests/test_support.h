// Small helpers shared by the test files: a private folder, whole-file reads and a render.
#pragma once

#include "wavcreate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace test_support {

// A fresh folder under the system's temporary folder, removed with everything in it when
// the test ends.
struct temp_dir {
    std::string path;
    temp_dir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "wavcreate-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        path = pattern;
    }
    ~temp_dir() { std::filesystem::remove_all(path); }
    std::string file(const std::string &name) const { return path + "/" + name; }
};

inline bool file_exists(const std::string &path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

inline std::vector<unsigned char> read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::string &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary) << content;
}

// An ASCII string as UTF-16.
inline std::u16string widen(const std::string &ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

// Renders through the export into a fresh folder and returns the file's bytes.
inline std::vector<unsigned char> render(const std::u16string &text, int32_t tenths)
{
    temp_dir dir;
    const std::string path = dir.file("out.wav");
    EXPECT_EQ(WAVCreate(text.c_str(), widen(path).c_str(), tenths), 999);
    return read_file(path);
}

} // namespace test_support
