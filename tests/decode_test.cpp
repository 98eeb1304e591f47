// The decoder: exact on every file the library writes, robust after a conversion, and clear
// about files it cannot read.
#include "decode/decode.h"
#include "entry/genwav.h"
#include "tone/tone.h"
#include "wav/wav.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <samplerate.h>
#include <sndfile.h>

#include <string>
#include <vector>

namespace {

using test_support::temp_dir;

std::string file_text(const std::string &path)
{
    const auto bytes = test_support::read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

// The file the library writes for `text` (Windows-1252) with these settings.
std::string rendered(const std::string &text, int tenths, const char *waveform)
{
    temp_dir dir;
    const std::string path = dir.file("out.wav");
    EXPECT_EQ(wavcreate::genwav(text.c_str(), path.c_str(), tenths, waveform).status,
              wavcreate::render_status::written);
    return file_text(path);
}

// Decodes a file's bytes as the tool decodes a stream.
wavcreate::decode_result decoded(const std::string &file)
{
    std::FILE *stream = fmemopen(const_cast<char *>(file.data()), file.size(), "rb");
    EXPECT_NE(stream, nullptr);
    const wavcreate::decode_result result = wavcreate::decodewav(stream);
    std::fclose(stream);
    return result;
}

std::vector<int> codes_of(const std::string &text)
{
    std::vector<int> codes;
    for (unsigned char byte : text)
        codes.push_back(byte);
    return codes;
}

// Every byte from 0x01 to 0xFF, so every tone, and a space among them.
std::string every_byte()
{
    std::string text;
    for (int byte = 1; byte <= 255; ++byte)
        text += static_cast<char>(byte);
    return text;
}

TEST(Decode, EveryByteAndWaveformComesBackExactly)
{
    const std::string text = every_byte();
    for (const char *waveform : {"sine", "square", "sawtooth", "triangle"}) {
        for (int tenths : {1, 7, 14, 40}) {
            const wavcreate::decode_result result = decoded(rendered(text, tenths, waveform));
            ASSERT_TRUE(result.read) << waveform << " " << tenths << ": " << result.error;
            ASSERT_EQ(result.codes, codes_of(text)) << waveform << " " << tenths;
            EXPECT_TRUE(result.exact);
            EXPECT_EQ(result.tenths, tenths);
            EXPECT_EQ(result.waveform, waveform);
        }
    }
    const wavcreate::decode_result empty = decoded(rendered("", 5, "sine"));
    EXPECT_TRUE(empty.read);
    EXPECT_TRUE(empty.codes.empty());
}

// The samples of a render as floats, leaving the 8-bit encoding's silence at 0.
std::vector<float> samples_of(const std::string &file)
{
    std::vector<float> samples;
    for (std::size_t i = wavcreate::wav_header_bytes; i < file.size(); ++i)
        samples.push_back((static_cast<unsigned char>(file[i]) - 127) / 128.0f);
    return samples;
}

std::string write_sound(const temp_dir &dir, const std::string &name, int format, int rate,
                        const std::vector<float> &samples)
{
    const std::string path = dir.file(name);
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = format;
    SNDFILE *sound = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(sound, nullptr) << sf_strerror(nullptr);
    if (sound == nullptr)
        return path;
    sf_write_float(sound, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(sound);
    return path;
}

const std::string converted_text = "Hello, world! 0123 XYZ";

TEST(Decode, FlacAtTheLibrarysRate)
{
    temp_dir dir;
    const std::string path = write_sound(dir, "hello.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
                                         2000, samples_of(rendered(converted_text, 5, "sine")));
    const wavcreate::decode_result result = decoded(file_text(path));
    ASSERT_TRUE(result.read) << result.error;
    EXPECT_EQ(result.codes, codes_of(converted_text));
    EXPECT_FALSE(result.exact);
    EXPECT_EQ(result.tenths, 5);
    EXPECT_EQ(result.waveform, "sine");
}

TEST(Decode, ResampledTo48kHz16BitWithGainAndLeadingSilence)
{
    const std::vector<float> original = samples_of(rendered(converted_text, 7, "sine"));
    std::vector<float> resampled(original.size() * 24 + 64);
    SRC_DATA data{};
    data.data_in = original.data();
    data.input_frames = static_cast<long>(original.size());
    data.data_out = resampled.data();
    data.output_frames = static_cast<long>(resampled.size());
    data.src_ratio = 24.0;
    ASSERT_EQ(src_simple(&data, SRC_SINC_BEST_QUALITY, 1), 0);
    // 30 ms of silence in front, and the level at 70 %.
    std::vector<float> converted(1440, 0.0f);
    for (long i = 0; i < data.output_frames_gen; ++i)
        converted.push_back(0.7f * resampled[i]);
    temp_dir dir;
    const std::string path = write_sound(dir, "hello-48k.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                         48000, converted);
    const wavcreate::decode_result result = decoded(file_text(path));
    ASSERT_TRUE(result.read) << result.error;
    EXPECT_EQ(result.codes, codes_of(converted_text));
    EXPECT_EQ(result.tenths, 7);
    EXPECT_GT(result.weakest_margin, 12.0);
}

TEST(Decode, FilesItCannotReadSayWhy)
{
    const auto error_of = [](const std::string &file) {
        const wavcreate::decode_result result = decoded(file);
        EXPECT_FALSE(result.read);
        return result.error;
    };
    EXPECT_NE(error_of("this is not a sound file").find("not a WAVE"), std::string::npos);
    EXPECT_NE(error_of(rendered("AB", 0, "sine")).find("no tones"), std::string::npos);
    const std::string whole = rendered("AB", 5, "sine");
    EXPECT_NE(error_of(whole.substr(0, whole.size() - 10)).find("truncated"), std::string::npos);
}

} // namespace
