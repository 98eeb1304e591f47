// WAVCreate end to end: the files it writes and the input it refuses.
#include "wavcreate.h"

#include "entry/genwav.h"
#include "entry/narrow.h"
#include "tone/tone.h"

#include "test_support.h"

#include <gtest/gtest.h>


#include <climits>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;
using test_support::file_exists;
using test_support::render;
using test_support::widen;
using test_support::read_file;
using test_support::temp_dir;

int32_t le32(const bytes &file, std::size_t offset)
{
    return static_cast<int32_t>(file[offset] | file[offset + 1] << 8 | file[offset + 2] << 16 |
                                static_cast<uint32_t>(file[offset + 3]) << 24);
}

void expect_sizes(const bytes &file, int32_t samples)
{
    ASSERT_EQ(file.size(), 44u + samples);
    EXPECT_EQ(le32(file, 4), samples + 36);
    EXPECT_EQ(le32(file, 40), samples);
}

TEST(WorkedExample, ABAtFiveTenths)
{
    const bytes file = render(u"AB", 5);
    const bytes header{0x52, 0x49, 0x46, 0x46, 0xDC, 0x0B, 0x00, 0x00, 0x57, 0x41, 0x56,
                       0x45, 0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00,
                       0x01, 0x00, 0xD0, 0x07, 0x00, 0x00, 0xD0, 0x07, 0x00, 0x00, 0x01,
                       0x00, 0x08, 0x00, 0x64, 0x61, 0x74, 0x61, 0xB8, 0x0B, 0x00, 0x00};
    ASSERT_EQ(file.size(), 3044u);
    EXPECT_EQ(bytes(file.begin(), file.begin() + 44), header);

    const auto tone = [&](int n) { return file.begin() + 44 + 1000 * n; };
    EXPECT_EQ(bytes(tone(0), tone(0) + 10),
              (bytes{127, 132, 138, 144, 150, 156, 162, 168, 173, 179}));
    EXPECT_EQ(bytes(tone(1), tone(1) + 10),
              (bytes{127, 145, 163, 180, 196, 210, 223, 234, 243, 249}));
    // Every tone ends in 100 silent samples; the terminator's tone is silent throughout.
    for (int n = 0; n < 3; ++n)
        EXPECT_EQ(bytes(tone(n) + 900, tone(n) + 1000), bytes(100, 127)) << "tone " << n;
    EXPECT_EQ(bytes(tone(2), tone(3)), bytes(1000, 127));
}

struct length_case {
    int32_t tenths;
    int32_t samples_per_tone;
};

void PrintTo(const length_case &c, std::ostream *out) { *out << c.tenths << " tenths"; }

class ToneLength : public ::testing::TestWithParam<length_case> {};

TEST_P(ToneLength, SinglePrecisionSecondsDecideTheSampleCount)
{
    // Three characters and the terminator: four tones.
    expect_sizes(render(u"a b", GetParam().tenths), 4 * GetParam().samples_per_tone);
}

INSTANTIATE_TEST_SUITE_P(Table, ToneLength,
                         ::testing::Values(length_case{0, 0}, length_case{1, 200},
                                           length_case{3, 600}, length_case{5, 1000},
                                           length_case{7, 1399}, length_case{10, 2000},
                                           length_case{14, 2799}, length_case{20, 4000},
                                           length_case{23, 4599}, length_case{40, 8000}));

TEST(Text, OneToneForEveryCharacterAndOneForTheEnd)
{
    expect_sizes(render(u"", 1), 200);
    expect_sizes(render(u"Hello, world", 1), 13 * 200);
    // NULL text renders as the empty text.
    temp_dir dir;
    EXPECT_EQ(WAVCreate(nullptr, widen(dir.file("null.wav")).c_str(), 5), 999);
    EXPECT_EQ(read_file(dir.file("null.wav")), render(u"", 5));
}

TEST(Text, SpaceIsSilence)
{
    const bytes file = render(u" ", 5);
    EXPECT_EQ(bytes(file.begin() + 44, file.end()), bytes(2000, 127));
}

TEST(Text, BytesFrom0x80AreNegativeCodes)
{
    // e-acute is 0xE9, code -23: -713 Hz, the mirror of U+0017's +713 Hz tone.
    const bytes negative = render(u"\u00e9", 5);
    const bytes positive = render(u"\u0017", 5);
    ASSERT_EQ(negative.size(), positive.size());
    EXPECT_LT(negative[45], 127);
    EXPECT_GT(positive[45], 127);
    for (std::size_t k = 44; k < 44 + 900; ++k) {
        const int mirrored = negative[k] + positive[k];
        ASSERT_TRUE(mirrored == 253 || mirrored == 254) << "sample " << k - 44;
    }
}

TEST(Text, Windows1252CoversEveryByteOnce)
{
    EXPECT_EQ(wavcreate::cp1252(u'A'), 'A');
    EXPECT_EQ(wavcreate::cp1252(u'\u20ac'), '\x80');
    EXPECT_EQ(wavcreate::cp1252(u'\u2026'), '\x85');
    EXPECT_EQ(wavcreate::cp1252(u'\u0152'), '\x8c');
    EXPECT_EQ(wavcreate::cp1252(u'\u0178'), '\x9f');
    EXPECT_EQ(wavcreate::cp1252(u'\u0081'), '\x81');
    EXPECT_EQ(wavcreate::cp1252(u'\u00e9'), '\xe9');
    EXPECT_EQ(wavcreate::cp1252(u'\u0080'), '?');
    EXPECT_EQ(wavcreate::cp1252(u'\u0100'), '?');
    EXPECT_EQ(wavcreate::cp1252(static_cast<char16_t>(0xD83D)), '?');
    // Every byte but '?' stands for exactly one code unit.
    int units_per_byte[256] = {};
    for (uint32_t unit = 0; unit <= 0xFFFF; ++unit)
        ++units_per_byte[static_cast<unsigned char>(wavcreate::cp1252(unit))];
    for (int byte = 0; byte < 256; ++byte) {
        if (byte != '?')
            EXPECT_EQ(units_per_byte[byte], 1) << "byte " << byte;
    }
}

TEST(Path, IsUtf8AndTakenAsGiven)
{
    temp_dir dir;
    const std::u16string name = widen(dir.path) + u"/caf\u00e9 \U0001F3B5";
    EXPECT_EQ(WAVCreate(u"A", name.c_str(), 0), 999);
    EXPECT_TRUE(file_exists(dir.path + "/caf\xc3\xa9 \xf0\x9f\x8e\xb5"));

    // Each boundary of the UTF-8 forms, the last code point, and unpaired surrogates.
    const struct {
        std::u16string units;
        std::string utf8;
    } names[] = {{u"\u07ff", "\xdf\xbf"},
                 {u"\u0800", "\xe0\xa0\x80"},
                 {u"\uffff", "\xef\xbf\xbf"},
                 {u"\U00010000", "\xf0\x90\x80\x80"},
                 {u"\U0010FFFF", "\xf4\x8f\xbf\xbf"},
                 {std::u16string(1, char16_t(0xDBFF)), "\xef\xbf\xbd"},
                 {std::u16string(1, char16_t(0xDC00)) + u"x", "\xef\xbf\xbdx"}};
    for (const auto &n : names) {
        const std::u16string path = widen(dir.path + "/x") + n.units;
        EXPECT_EQ(WAVCreate(u"A", path.c_str(), 0), 999);
        EXPECT_TRUE(file_exists(dir.path + "/x" + n.utf8)) << n.utf8;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path),
                            std::filesystem::directory_iterator()),
              1 + std::size(names));
}

// A path inside `dir` of exactly `total` bytes in UTF-8, mostly the character `pad`, in both
// of its forms.
struct test_path {
    std::string utf8;
    std::u16string utf16;
};

struct pad_character {
    char16_t unit;
    const char *utf8;
};

test_path path_of_bytes(const temp_dir &dir, std::size_t total, pad_character pad)
{
    test_path path{dir.path + "/", widen(dir.path + "/")};
    const std::size_t pad_bytes = std::char_traits<char>::length(pad.utf8);
    while (path.utf8.size() + pad_bytes <= total) {
        path.utf8 += pad.utf8;
        path.utf16 += pad.unit;
    }
    while (path.utf8.size() < total) {
        path.utf8 += 'p';
        path.utf16 += u'p';
    }
    return path;
}

const pad_character ascii{u'a', "a"};
const pad_character e_acute{u'\u00e9', "\xc3\xa9"};
const pad_character euro{u'\u20ac', "\xe2\x82\xac"};

struct refusal_case {
    std::u16string text;
    std::size_t path_bytes;
    pad_character path_pad;
    int32_t tenths;
    const char *message;
};

void PrintTo(const refusal_case &c, std::ostream *out)
{
    *out << c.text.size() << " characters, " << c.path_bytes << "-byte path, " << c.tenths
         << " tenths";
}

class Refusal : public ::testing::TestWithParam<refusal_case> {};

TEST_P(Refusal, PrintsItsLineAndTouchesNoFile)
{
    const refusal_case c = GetParam();
    temp_dir dir;
    const test_path path = path_of_bytes(dir, c.path_bytes, c.path_pad);
    testing::internal::CaptureStdout();
    EXPECT_EQ(WAVCreate(c.text.c_str(), path.utf16.c_str(), c.tenths), 999);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path));

    test_support::write_file(path.utf8, "keep");
    testing::internal::CaptureStdout();
    EXPECT_EQ(WAVCreate(c.text.c_str(), path.utf16.c_str(), c.tenths), 999);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
    EXPECT_EQ(read_file(path.utf8), (bytes{'k', 'e', 'e', 'p'}));
}

const std::u16string text_2000(2000, u'a');
const char *const text_message = "WAVCreate() error: text longer than 1999 bytes\n";
const char *const path_message = "WAVCreate() error: path longer than 199 bytes\n";
const char *const tenths_message = "WAVCreate() error: tone length must be 0 to 40 tenths\n";

// Checked in this order: text, path, tone length.
INSTANTIATE_TEST_SUITE_P(
    Limits, Refusal,
    ::testing::Values(refusal_case{text_2000, 60, ascii, 5, text_message},
                      refusal_case{text_2000, 230, ascii, 99, text_message},
                      refusal_case{u"A", 200, ascii, 5, path_message},
                      refusal_case{u"A", 200, e_acute, 5, path_message},
                      refusal_case{u"A", 201, euro, -1, path_message},
                      refusal_case{u"A", 60, ascii, -1, tenths_message},
                      refusal_case{u"A", 60, ascii, 41, tenths_message},
                      refusal_case{u"A", 60, ascii, INT32_MIN, tenths_message},
                      refusal_case{u"A", 60, ascii, INT32_MAX, tenths_message}));

TEST(Limits, LongestTextAndPathAreAccepted)
{
    temp_dir dir;
    const test_path path = path_of_bytes(dir, 199, e_acute);
    testing::internal::CaptureStdout();
    EXPECT_EQ(WAVCreate(std::u16string(1999, u'a').c_str(), path.utf16.c_str(), 1), 999);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    expect_sizes(read_file(path.utf8), 2000 * 200);
}

TEST(Isolation, EarlierRendersLeaveNoTrace)
{
    const bytes alone = render(u"AB", 5);
    // A render that fails part-way stops before its silent last tone, which would otherwise
    // have cleared the samples its sine tones leave behind.
    testing::internal::CaptureStdout();
    WAVCreate(std::u16string(200, u'z').c_str(), u"/dev/full", 40);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(render(u"AB", 5), alone) << "after a failed render";
    // The same at a longer tone, whose silent tail lies further into the buffer.
    testing::internal::CaptureStdout();
    WAVCreate(std::u16string(200, u'z').c_str(), u"/dev/full", 40);
    testing::internal::GetCapturedStdout();
    const bytes longer = render(u"AB", 10);
    for (int tone = 0; tone < 3; ++tone) {
        const auto tail = longer.begin() + 44 + tone * 2000 + 1900;
        EXPECT_EQ(bytes(tail, tail + 100), bytes(100, 127)) << "tone " << tone;
    }
    // Other callers of the generator may leave any waveform behind.
    wavcreate::gentone(500.0, 8000.0, 2000.0, "square", 1.0, 0.0);
    EXPECT_EQ(render(u"AB", 5), alone) << "after a square tone";
}

} // namespace
