// The WAVE writer: the sample encodings and how many samples a tone writes. The header's
// bytes are checked on whole files in entry_test.cpp.
#include "tone/tone.h"
#include "wav/wav.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

// Runs `write` against a fresh wav_file and returns what it wrote.
template <typename Write> bytes written_by(Write write)
{
    test_support::temp_dir dir;
    const std::string path = dir.file("out.wav");
    wavcreate::wav_file = std::fopen(path.c_str(), "wb");
    write();
    std::fclose(wavcreate::wav_file);
    wavcreate::wav_file = nullptr;
    return test_support::read_file(path);
}

struct encoding_case {
    double x;
    int byte;
};

void PrintTo(const encoding_case &c, std::ostream *out) { *out << c.x; }

class Encoding8 : public ::testing::TestWithParam<encoding_case> {};

TEST_P(Encoding8, ScalesBy127AndTruncates)
{
    EXPECT_EQ(wavcreate::sample8(GetParam().x), GetParam().byte) << GetParam().x;
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, Encoding8,
    ::testing::Values(encoding_case{-1.0, 0},
                      // Scales to 0.9999999999999982: truncated to 0, not rounded to 1.
                      encoding_case{-1.0 + 1.0 / 127, 0},
                      encoding_case{std::nextafter(-1.0 + 2.0 / 127, -1.0), 1},
                      // Below silence by the smallest step there is: 126, not 127.
                      encoding_case{-std::ldexp(1.0, -53), 126},
                      encoding_case{-std::numeric_limits<double>::denorm_min(), 127},
                      encoding_case{0.0, 127}, encoding_case{1.0 / 127, 128},
                      encoding_case{0.5, 190}, encoding_case{1.0 - 1e-9, 253},
                      encoding_case{1.0, 254},
                      // Out of range: below is the lowest byte, above keeps the low byte while it fits 32 bits.
                      encoding_case{-1.5, 0}, encoding_case{NAN, 0}, encoding_case{1e300, 0},
                      encoding_case{1.0000000002, 254}, encoding_case{1.5, 317 & 0xFF}));

TEST(Encoding16, ScalesBy32767AndTruncatesTowardZero)
{
    EXPECT_EQ(wavcreate::sample16(1.0), 32767);
    EXPECT_EQ(wavcreate::sample16(-1.0), -32767);
    EXPECT_EQ(wavcreate::sample16(0.5), 16383);
    EXPECT_EQ(wavcreate::sample16(-0.5), -16383);
    EXPECT_EQ(wavcreate::sample16(std::nextafter(1.0 / 32767, 0.0)), 0);
    EXPECT_EQ(wavcreate::sample16(-std::nextafter(1.0 / 32767, 0.0)), 0);
    EXPECT_EQ(wavcreate::sample16(NAN), 0);
    EXPECT_EQ(wavcreate::sample16(1e300), 0);
}

class Savewav : public ::testing::Test {
  protected:
    void SetUp() override
    {
        written_by([] { wavcreate::writeheader(0); }); // sets every header field
        for (int i = 0; i < wavcreate::tone_buffer_size; ++i)
            samples[i] = (i % 3 - 1) * 1.0; // -1, 0, 1, ...
    }
    double samples[wavcreate::tone_buffer_size];
};

TEST_F(Savewav, WritesTheWholeSamplesOfTheLength)
{
    EXPECT_EQ(written_by([&] { wavcreate::savewav(1399.9999701976776, samples); }).size(), 1399u);
    EXPECT_EQ(written_by([&] { wavcreate::savewav(3.0, samples); }), (bytes{0, 127, 254}));
    EXPECT_TRUE(written_by([&] { wavcreate::savewav(0.9, samples); }).empty());
    EXPECT_TRUE(written_by([&] { wavcreate::savewav(-5.0, samples); }).empty());
    EXPECT_EQ(written_by([&] { wavcreate::savewav(8001.0, samples); }).size(), 8001u);
    EXPECT_TRUE(written_by([&] { wavcreate::savewav(8002.0, samples); }).empty());
}

TEST_F(Savewav, TakesTheWidthFromTheHeader)
{
    wavcreate::wav_header.bits_per_sample = 16;
    EXPECT_EQ(written_by([&] { wavcreate::savewav(3.0, samples); }),
              (bytes{0x01, 0x80, 0, 0, 0xFF, 0x7F}));

    wavcreate::wav_header.bits_per_sample = 12;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(written_by([&] { wavcreate::savewav(2.0, samples); }).empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "savewav() error: no 16 u 8 bits\nsavewav() error: no 16 u 8 bits\n");
    wavcreate::wav_header.bits_per_sample = 8;
}

} // namespace
