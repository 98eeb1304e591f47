// The decoder: exact on every file the library writes, robust after conversions and through
// real channels, streamed headers read to the end, and clear about what it cannot read.
#include "decode/decode.h"
#include "entry/genwav.h"
#include "wav/wav.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <samplerate.h>
#include <sndfile.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using test_support::temp_dir;

std::string file_text(const std::string &path)
{
    const auto bytes = test_support::read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

// Decodes a file's bytes as the tool decodes a pipe: a stream that cannot seek.
wavcreate::decode_result decoded(const std::string &file)
{
    std::FILE *stream = fmemopen(const_cast<char *>(file.data()), file.size(), "rb");
    EXPECT_NE(stream, nullptr);
    const wavcreate::decode_result result = wavcreate::decodewav(stream);
    std::fclose(stream);
    return result;
}

// Decodes a file as the tool decodes a file it names: a stream that can seek.
wavcreate::decode_result decodedfile(const std::string &path)
{
    std::FILE *stream = std::fopen(path.c_str(), "rb");
    EXPECT_NE(stream, nullptr);
    const wavcreate::decode_result result = wavcreate::decodewav(stream);
    std::fclose(stream);
    return result;
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

std::vector<int> codes_of(const std::string &text)
{
    std::vector<int> codes;
    for (unsigned char byte : text)
        codes.push_back(byte);
    return codes;
}

TEST(Decode, EveryByteAndWaveformComesBackExactly)
{
    std::string text;
    for (int byte = 1; byte <= 255; ++byte)
        text += static_cast<char>(byte);
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

// A pipe's writer cannot know the sizes: it writes 0xFFFFFFFF or 0, and the data runs to the
// end of the stream.
std::string streamed(std::string file, uint32_t size)
{
    const std::size_t data = file.find("data");
    for (const std::size_t at : {std::size_t{4}, data + 4}) {
        for (int i = 0; i < 4; ++i)
            file[at + i] = static_cast<char>(size >> (8 * i) & 0xFF);
    }
    return file;
}

TEST(Decode, StreamedSizesMeanToTheEnd)
{
    const std::string file = rendered("Hi there", 3, "square");
    for (uint32_t size : {0xFFFFFFFFu, 0u}) {
        const wavcreate::decode_result result = decoded(streamed(file, size));
        ASSERT_TRUE(result.read) << result.error;
        EXPECT_TRUE(result.exact);
        EXPECT_EQ(result.codes, codes_of("Hi there"));
    }
}

// ---- Converted files, made here with libsamplerate and libsndfile.

// The samples of a render as the file's bytes less 127, over 128.
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
    // A band-limited square overshoots full scale: clipped, as converters do, not wrapped.
    sf_command(sound, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    sf_write_float(sound, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(sound);
    return path;
}

// What a resampler to 48 kHz makes of the samples; `clock` above 1 plays them that much fast.
std::vector<float> resampled(const std::vector<float> &samples, double clock, int converter = SRC_SINC_BEST_QUALITY)
{
    const double ratio = 24.0 / clock;
    std::vector<float> out(static_cast<std::size_t>(samples.size() * ratio) + 64);
    SRC_DATA data{};
    data.data_in = samples.data();
    data.input_frames = static_cast<long>(samples.size());
    data.data_out = out.data();
    data.output_frames = static_cast<long>(out.size());
    data.src_ratio = ratio;
    EXPECT_EQ(src_simple(&data, converter, 1), 0);
    out.resize(static_cast<std::size_t>(data.output_frames_gen));
    return out;
}

// The samples with white noise added, `snr` decibels below their power.
std::vector<float> noisy(std::vector<float> samples, double snr)
{
    double power = 0.0;
    for (float sample : samples)
        power += sample * sample;
    std::normal_distribution<float> noise(0.0f, static_cast<float>(std::sqrt(power / samples.size() / std::pow(10.0, snr / 10.0))));
    std::mt19937 random(12345);
    for (float &sample : samples)
        sample = 0.5f * (sample + noise(random));
    return samples;
}

// How a converter's resampler cuts the band: not at all; steeply at 950 Hz, as one that keeps
// 95 % of the band, so that the tones of 'a', 'à' and 'Ÿ' (992 and 993 Hz) all but vanish; or
// falling from 3 dB down at 950 Hz to 29 dB down at 976 Hz, as sox's default does.
enum class cut { none, steep, gentle };

// The samples through a windowed-sinc low-pass of the shape `how`.
std::vector<float> bandcut(const std::vector<float> &samples, cut how = cut::steep)
{
    const int half = how == cut::gentle ? 80 : 200;
    const double edge = how == cut::gentle ? 0.478 : 0.4825; // of the library's rate
    std::vector<double> taps(2 * half + 1);
    for (int j = -half; j <= half; ++j) {
        const double u = 2.0 * 3.141592653589793 * edge * j;
        const double window = 0.42 + 0.5 * std::cos(3.141592653589793 * j / (half + 1)) +
                              0.08 * std::cos(2.0 * 3.141592653589793 * j / (half + 1));
        taps[j + half] = (j == 0 ? 2.0 * edge : std::sin(u) / (3.141592653589793 * j)) * window;
    }
    std::vector<float> out(samples.size(), 0.0f);
    for (std::size_t n = 0; n < samples.size(); ++n) {
        double sum = 0.0;
        for (int j = -half; j <= half; ++j) {
            const long at = static_cast<long>(n) - j;
            if (at >= 0 && at < static_cast<long>(samples.size()))
                sum += taps[j + half] * samples[at];
        }
        out[n] = static_cast<float>(sum);
    }
    return out;
}

// The samples at 4000 a second through a short interpolator, as a cheap resampler leaves
// them: a tone near 1000 Hz keeps an image mirrored above it at half its level or so.
std::vector<float> imaged(const std::vector<float> &samples)
{
    constexpr int half = 8;
    constexpr double pi = 3.141592653589793;
    std::vector<float> stuffed(2 * samples.size(), 0.0f);
    for (std::size_t n = 0; n < samples.size(); ++n)
        stuffed[2 * n] = 1.2f * samples[n];
    std::vector<float> out(stuffed.size(), 0.0f);
    for (std::size_t n = 0; n < out.size(); ++n) {
        double sum = 0.0;
        for (int j = -half; j <= half; ++j) {
            const long at = static_cast<long>(n) - j;
            const double window = 0.54 + 0.46 * std::cos(pi * j / (half + 1));
            if (at >= 0 && at < static_cast<long>(stuffed.size()))
                sum += (j == 0 ? 0.5 : std::sin(pi / 2.0 * j) / (pi * j)) * window * stuffed[at];
        }
        out[n] = static_cast<float>(sum);
    }
    return out;
}

struct conversion {
    const char *name;
    const char *text;
    int tenths;
    const char *waveform;
    double clock; // 1: the library's
    double snr;   // 0: no noise; else at the library's rate, not resampled
    cut band_cut;
    int format;   // written at 48 kHz
    double level = 0.6; // of full scale; a square at 1 overshoots it by half, and is clipped
    double lead = 0.04; // seconds of silence in front
};

// Each case fails on a fault one can name: a tone length taken longest first (the one
// character, the tones cut in two), a grid that does not follow the clock (the drifted file),
// a match that assumes the sine (the other waveforms), a match that assumes the whole band
// (the cut band), a grid found by sound starts alone (the noisy file), a code's frequency
// left out of the clock's search (the euro sign's 32 Hz), a tone length taken from the grid
// alone (the square's slow tones, whose edges a sine fits best in pieces; a few long tones,
// which fit every length's grid; one square tone 0.2 % slow, whose fifths read as its code and
// its negative in turn; a square whose overshoot is clipped where the file's samples
// end, its tones' peaks taken away), a longer length the comb matched nearly as well left
// unread (the square's slow tones 0.2 % fast, found in fifths at a clock off the other way), a
// short text's start and clock taken from its few tones' phases alone (two tones under noise
// 0.2 % fast, read as a code's negative or its pair's other code), a short text's start
// looked for only where its sound rises, and that rise taken on the level's every 8 ms (a
// square's and a sawtooth's first tone near 1000 Hz, its fundamental cut, beating too low to
// count as the rise; at 40 tenths the tone length measured from there too), the start the
// tone length was measured from left unread where the length is the grid's (that sawtooth
// behind 80 ms of silence), a length whose first tone reaches back before the sound kept
// (two long tones under noise, fitting a length two tenths longer), tones sought only above
// 20 Hz, and a few tones' clock moved by their phases alone (`¿`'s 15 Hz among three tones
// under noise 0.2 % fast: read at the library's clock, or at one 570 ppm off, the first code
// its negative, exit 0), two tones 0.2 % fast looked for only at the library clock's starts
// (read as ` ›ó`, exit 0), or, at another length than the grid's, only from its grid's start
// (`eó`, joined in one tone of 10 tenths), or kept at a length whose first tone reaches back
// before the file's start where the length that starts with the sound reads them clean, or
// looked at only at clocks their measured frequencies put within a fiftieth of a hertz of codes
// (`B_` at 3 tenths, its 46 Hz measured 0.05 Hz low: read `B"`, exit 0), or the band's edge
// sought only in stretches longer than two tones of 3 tenths (`Ûa` through the cut, its `a`
// read as a space), or every edge tried on such tones whatever their spectrum (`/)` under
// noise, read as three undecided characters).
const conversion conversions[] = {
    {"sine", "Hello, world! 0123 XYZ", 5, "sine", 1.0, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"square", "Hello, world! 0123 XYZ", 3, "square", 1.0, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"sawtooth", "Hello, world! 0123 XYZ", 5, "sawtooth", 1.0, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"triangle", "Hello, world! 0123 XYZ", 7, "triangle", 1.0, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"sine_ogg", "Quick brown fox", 5, "sine", 1.0, 0.0, cut::none, SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    {"square_ogg", "Quick brown fox", 5, "square", 1.0, 0.0, cut::none, SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    {"sawtooth_flac", "Quick brown fox", 10, "sawtooth", 1.0, 0.0, cut::none, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
    {"one_character", "Q", 5, "triangle", 1.0, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
    {"clock_fast", "The quick brown fox jumps", 5, "sine", 1.002, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"clock_slow", "The quick brown fox jumps", 5, "square", 0.998, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"noise_6_dB", "The quick brown fox jumps", 5, "sine", 1.0, 6.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"noise_0_dB", "The quick brown fox jumps", 5, "triangle", 1.0, 0.01, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"band_cut", "Hello banana, \xe0 \x9f", 5, "sine", 1.0, 0.0, cut::steep, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"band_cut_two_tones", "\xdb" "a", 3, "sine", 1.0, 0.0, cut::steep, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"two_noisy_tones", "/)", 3, "sine", 1.0, 6.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"euro_32_Hz", "Price: 5\x80 or 7\x80, said the fox", 5, "sine", 1.0, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"slow_square", "\xc8`x\xc0}\x9f?=\xff\xa2", 3, "square", 1.0, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"slow_square_fast", "\xc8`x\xc0}\x9f?=\xff\xa2", 5, "square", 1.002, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"few_long_tones", "Q\xdd\x9e\xb0", 40, "sawtooth", 1.0, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"one_square_slow", "\x83", 5, "square", 0.998, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"short_noise_fast", "\xfa\xad", 5, "sine", 1.002, 6.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.6, 0.0},
    {"short_noise_fast_triangle", "\x88;", 5, "triangle", 1.002, 6.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.6, 0.0},
    {"faint_first_square", "\xa0^\xe4", 5, "square", 1.0, 0.0, cut::gentle, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"faint_first_sawtooth", "\xa0^\xe4", 3, "sawtooth", 1.0, 0.0, cut::gentle, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.6, 0.0},
    {"faint_first_square_long", "\xa0^\xe4", 40, "square", 1.0, 0.0, cut::gentle, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.6, 0.0},
    {"faint_first_sawtooth_late", "\xa0^\xe4", 3, "sawtooth", 1.0, 0.0, cut::gentle, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.2, 0.08},
    {"short_noisy_first_tone_early", "Q\xdd", 10, "sine", 1.0, 0.01, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.6, 0.0},
    {"pieces_as_negatives", "]\xbf'", 30, "sine", 1.0, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.5, 0.0},
    {"low_tone_noise_fast", "]\xbf'", 5, "sine", 1.002, 6.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.6, 0.0},
    {"two_tones_fast", " e\xf3", 5, "sine", 1.002, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.6, 0.0},
    {"two_tones_fast_joined", "e\xf3", 5, "sine", 1.002, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.6, 0.0},
    {"two_tones_fast_first_cut", "\x87\x8e", 5, "sine", 1.002, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.6, 0.0},
    {"two_tones_fast_short", "B_", 3, "sine", 1.002, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.6, 0.0},
    {"clipped_square", "\x91\xdf'X\xe9\x95\xa4\xb3[x[\xd3X", 5, "square", 1.0, 0.0, cut::none, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1.0},
};

class Converted : public ::testing::TestWithParam<conversion> {};

TEST_P(Converted, ComesBackWholeAndSure)
{
    const conversion &c = GetParam();
    std::vector<float> samples = samples_of(rendered(c.text, c.tenths, c.waveform));
    if (c.band_cut != cut::none)
        samples = bandcut(samples, c.band_cut);
    int rate = 48000;
    // Noise in the whole of the tones' band, as a recording at the library's rate holds it;
    // resampled where the clock is off too.
    if (c.snr > 0.0)
        samples = noisy(samples, c.snr);
    if (c.snr > 0.0 && c.clock == 1.0)
        rate = 2000;
    else
        samples = resampled(samples, c.clock);
    std::vector<float> converted(static_cast<std::size_t>(c.lead * rate), 0.0f);
    for (float sample : samples)
        converted.push_back(static_cast<float>(c.level) * sample);
    temp_dir dir;
    const auto result = decodedfile(write_sound(dir, "converted", c.format, rate, converted));

    ASSERT_TRUE(result.read) << result.error;
    EXPECT_EQ(result.codes, codes_of(c.text));
    EXPECT_EQ(result.tenths, c.tenths);
    EXPECT_EQ(result.waveform, c.waveform);
    // One tone's clock is measured on its pieces, to a few tens of parts in a million.
    EXPECT_NEAR(result.clock, c.clock, 100e-6);
    EXPECT_FALSE(result.exact);
}

INSTANTIATE_TEST_SUITE_P(Decode, Converted, ::testing::ValuesIn(conversions),
                         [](const auto &info) { return std::string(info.param.name); });

// `samples` at `rate`, written as 16-bit WAV and read back: every code of `text` right or
// undecided, never another; read at another length, every code undecided. Returns how many
// were undecided.
int undecidedin(const char *text, const char *waveform, const std::vector<float> &samples, int rate)
{
    const std::vector<int> sent = codes_of(text);
    temp_dir dir;
    const auto result = decodedfile(write_sound(dir, "sound.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, samples));
    const bool same_length = result.codes.size() == sent.size();
    EXPECT_FALSE(result.codes.empty()) << waveform;
    int undecided = same_length ? 0 : static_cast<int>(sent.size());
    for (std::size_t k = 0; k < result.codes.size(); ++k) {
        EXPECT_TRUE((same_length && result.codes[k] == sent[k]) || result.codes[k] == -1)
            << waveform << " at " << k << ": " << result.codes[k];
        undecided += same_length && result.codes[k] == -1;
    }
    return undecided;
}

// The text at `tenths` through the test's band cut and resampler, read back.
int undecidedaftercut(const char *text, int tenths, const char *waveform)
{
    return undecidedin(text, waveform, resampled(bandcut(samples_of(rendered(text, tenths, waveform))), 1.0), 48000);
}

// Of a square or triangle whose top band a resampler cut, what is left of a code near 1000 Hz
// is its overtones folded below, which no code's tone through the measured channel matches
// well: such a tone is undecided, never read as the code of a nearer overtone.
TEST(Decode, TonesTheBandCutAreUndecidedNotMisread)
{
    const char *text = "6\xf3\xde\x87\x9b\x88\xe4" "5\xdfHK@'F\xbd\x9c\xf4\xcd" "E\xc2\xf9\xbe";
    for (const char *waveform : {"square", "triangle"})
        EXPECT_LE(undecidedaftercut(text, 10, waveform), 2) << waveform;
}

// Three tones near 1000 Hz, each with its image above: only the length they are, 4 seconds,
// fits them whole, once the images count as their tones' (a 36-tenths grid took the sine's
// otherwise, and read four characters). The square's fundamentals do not start at phase 0,
// which puts the grid's start off: it is read from where the sound rises.
TEST(Decode, TonesWithImagesAboveTheBandComeBackWhole)
{
    const char *text = "\xa0^\xe4";
    for (const char *waveform : {"sine", "square"}) {
        temp_dir dir;
        const auto result = decodedfile(write_sound(dir, "imaged.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4000,
                                                    imaged(samples_of(rendered(text, 40, waveform)))));
        ASSERT_TRUE(result.read) << result.error;
        EXPECT_EQ(result.codes, codes_of(text)) << waveform;
        EXPECT_EQ(result.tenths, 40) << waveform;
    }
}

// A short text whose first tone the cut took leaves the sound's first rise to the cut's
// ringing before the next tone, and its few tones agree on starts half their periods apart,
// where each reads its code's negative; nor can so few tones show where the band ends; of a
// square, what the cut leaves is much like a triangle's tones.
TEST(Decode, ShortTextsByTheBandEdgeAreNeverMisread)
{
    const std::pair<const char *, const char *> cases[] = {
        {"\xa0^\xe4", "sine"}, {"\xa0^\xe4", "triangle"}, {"\xa0^\xe4", "square"}, {"\xe0\" K\xdf", "square"}, {"a5a\xf0\xa2\xdf\xe0\xddp", "sine"}};
    for (const auto &[text, waveform] : cases)
        undecidedaftercut(text, 5, waveform);
    // A resampler of medium quality cuts a square's fundamentals near 1000 Hz: read at a wrong
    // length, codes that matched a few percent of their tones were taken.
    std::vector<float> medium = resampled(samples_of(rendered("\xa0^\xe4", 40, "square")), 1.0, SRC_SINC_MEDIUM_QUALITY);
    for (float &sample : medium)
        sample *= 0.6f;
    undecidedin("\xa0^\xe4", "square", medium, 48000);
    // A sawtooth's first tone there, its fundamental cut, after 40 ms of silence: read at a
    // clock 0.05 % off in the triangle, its second overtone (48 Hz once folded) as a 47 Hz
    // code, with the closing silence past the file's end, where no misfit rule looked.
    std::vector<float> led(40 * 48, 0.0f);
    for (float sample : resampled(bandcut(samples_of(rendered("\xa0^\xe4", 3, "sawtooth")), cut::gentle), 1.0))
        led.push_back(0.6f * sample);
    undecidedin("\xa0^\xe4", "sawtooth", led, 48000);
}

// A short text under noise at a clock a little off may leave only readings where some codes
// are their negatives or their pairs' other codes: they leave over half as much again as the
// noise puts into the silent tone at the end, and are undecided, never misread.
TEST(Decode, ShortNoisyTextsOffTheClockAreNeverMisread)
{
    const char *text = "\x96" "b\"";
    std::vector<float> samples = resampled(noisy(samples_of(rendered(text, 5, "sine")), 6.0), 1.002);
    for (float &sample : samples)
        sample *= 0.6f;
    undecidedin(text, "sine", samples, 48000);
}

// A character twice under noise reads about as well as one tone nearly twice as long, the
// file ending within that reading's closing silence: undecided, never a character short.
TEST(Decode, ACharacterTwiceIsNeverReadAsOneLongerTone)
{
    for (const char *waveform : {"sine", "triangle"})
        undecidedin("MM", waveform, noisy(samples_of(rendered("MM", 10, waveform)), 0.01), 2000);
    // A sawtooth's tone of a code twice is one tone twice as long, clean: the tone before it
    // is left unread.
    undecidedin(".||", "sawtooth", resampled(samples_of(rendered(".||", 5, "sawtooth")), 1.002), 48000);
}

// A 16-bit file at 48 kHz from a pipe whose writer could not know its sizes.
TEST(Decode, StreamedConvertedFileReadsToTheEnd)
{
    temp_dir dir;
    const std::vector<float> samples = resampled(samples_of(rendered("Streamed", 5, "sine")), 1.0);
    const std::string file = file_text(write_sound(dir, "streamed.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, samples));
    for (uint32_t size : {0xFFFFFFFFu, 0u}) {
        const wavcreate::decode_result result = decoded(streamed(file, size));
        ASSERT_TRUE(result.read) << result.error;
        EXPECT_EQ(result.codes, codes_of("Streamed"));
    }
}

// NaN and infinite samples are read as silence; they cost the tones that hold them, which are
// flagged, and nothing else.
TEST(Decode, DamagedSamplesCostOnlyTheirTones)
{
    const std::string text = "Hello, world";
    std::vector<float> samples = samples_of(rendered(text, 5, "sine"));
    samples[1500] = std::nanf("");                              // in 'e'
    samples[7300] = std::numeric_limits<float>::infinity();     // in 'w'
    temp_dir dir;
    const auto result = decodedfile(write_sound(dir, "damaged.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2000, samples));
    ASSERT_TRUE(result.read) << result.error;
    std::vector<int> expected = codes_of(text);
    expected[1] = -1;
    expected[7] = -1;
    EXPECT_EQ(result.codes, expected);
    EXPECT_EQ(result.damaged_samples, 2);
}

// Noise is no text of random characters, and silence none of spaces.
TEST(Decode, WhatIsNotAFileOfTonesSaysSo)
{
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 0.3f);
    std::vector<float> hiss(48000 * 6);
    for (float &sample : hiss)
        sample = noise(random);
    temp_dir dir;
    auto result = decodedfile(write_sound(dir, "hiss.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, hiss));
    EXPECT_FALSE(result.read);
    EXPECT_NE(result.error.find("not a file of tones"), std::string::npos) << result.error;
    result = decodedfile(write_sound(dir, "silence.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, std::vector<float>(48000)));
    EXPECT_FALSE(result.read);
    EXPECT_NE(result.error.find("silent"), std::string::npos) << result.error;
}

std::string header(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits, uint32_t data_size)
{
    std::string out = "RIFF";
    const auto put = [&out](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>(value >> (8 * i) & 0xFF);
    };
    put(36 + data_size, 4);
    out += "WAVEfmt ";
    put(16, 4);
    put(format, 2);
    put(channels, 2);
    put(rate, 4);
    put(rate * channels * bits / 8, 4);
    put(channels * bits / 8, 2);
    put(bits, 2);
    out += "data";
    put(data_size, 4);
    return out;
}

// Limits checked as soon as the header tells, in words that name them, and chunk sizes that
// wrap 32 bits refused at once.
TEST(Decode, HeadersBeyondTheLimitsAreRefusedAtOnce)
{
    const auto error_of = [](const std::string &file) {
        const auto started = std::chrono::steady_clock::now();
        const wavcreate::decode_result result = decoded(file);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        EXPECT_FALSE(result.read);
        return result.error;
    };
    const std::string some = std::string(64, '\x80');
    EXPECT_NE(error_of("this is not a sound file").find("not a WAVE"), std::string::npos);
    EXPECT_NE(error_of(header(1, 1, 1, 8, 64) + some).find("1000 to 768000"), std::string::npos);
    EXPECT_NE(error_of(header(1, 1, 800000, 8, 64) + some).find("1000 to 768000"), std::string::npos);
    EXPECT_NE(error_of(header(1, 200, 8000, 8, 200) + std::string(200, '\x80')).find("channels"), std::string::npos);
    EXPECT_NE(error_of(std::string("RIFF\x0c\0\0\0WAVEjunk\xf8\xff\xff\xff", 20)).find("chunks"), std::string::npos);
    EXPECT_NE(error_of(rendered("AB", 0, "sine")).find("no samples"), std::string::npos);

    // 10 001 seconds at 1000 samples a second: a sparse file, refused from its header.
    temp_dir dir;
    const std::string path = dir.file("long.wav");
    const uint32_t samples = 10001000;
    test_support::write_file(path, header(1, 1, 1000, 8, samples));
    ASSERT_EQ(truncate(path.c_str(), 44 + samples), 0);
    const auto result = decodedfile(path);
    EXPECT_FALSE(result.read);
    EXPECT_NE(result.error.find("longer than 10000 seconds"), std::string::npos) << result.error;
}

// After a converter's long delay, the grid may settle 32 ms late (2000 / 31 samples, after
// which every code's phase is all but the same again), where a long triangle reads best in the
// sine: the start 32 ms earlier reads it whole, in its own waveform, and is taken.
TEST(Decode, AStartOneCyclePhaseLateIsMovedAcrossWaveforms)
{
    const char *text = "\xf1Pb;`\xe0\xa8U\xc1\x93\xf7%Y$\x87" "E)\xdeI\x97\xda\xa7\xd3\x92\xb1\xfbX";
    std::vector<float> delayed(static_cast<std::size_t>(0.29 * 48000), 0.0f);
    for (float sample : resampled(bandcut(samples_of(rendered(text, 10, "triangle"))), 1.0))
        delayed.push_back(0.6f * sample);
    EXPECT_EQ(undecidedin(text, "triangle", delayed, 48000), 0);
}

// The samples in a room, at the library's rate: echoes of random sign from `first_echo` samples
// on, decaying by e every 50 ms (100 samples), as strong in all as `echoes` times the sound, the
// whole at 80 % of full scale.
std::vector<float> roomed(const std::vector<float> &samples, double echoes, unsigned seed, int first_echo = 1)
{
    constexpr int length = 500;
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<double> response(length, 0.0);
    double energy = 0.0;
    for (int n = first_echo; n < length; ++n) {
        response[n] = gauss(random) * std::exp(-n / 100.0);
        energy += response[n] * response[n];
    }
    for (double &tap : response)
        tap *= std::sqrt(echoes / energy);
    response[0] = 1.0;
    std::vector<float> out(samples.size() + length, 0.0f);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        for (int n = 0; n < length; ++n)
            out[i + n] += static_cast<float>(response[n] * samples[i]);
    }
    const float peak = *std::max_element(out.begin(), out.end(), [](float a, float b) { return std::fabs(a) < std::fabs(b); });
    for (float &sample : out)
        sample *= 0.8f / std::fabs(peak);
    return out;
}

// A room rings into the closing silent tone about as much as it smears the tones: codes that
// leave several times more of their tones over do not fit them, and nothing is decided.
TEST(Decode, CodesARoomLeavesMisfitDecideNothing)
{
    const char *longer = "\xadK\xce" "e\xcb\xdck\x99\xd9r\xa5\x9f=&o\x84w";
    undecidedin("\xa0^\xe4", "square", roomed(samples_of(rendered("\xa0^\xe4", 5, "square")), 0.3, 1), 2000);
    undecidedin(longer, "triangle", roomed(samples_of(rendered(longer, 5, "triangle")), 1.0, 2), 2000);
}

// A room turns each frequency's phase its own way, and the grid's start and clock, found on
// those phases, and the waveform chosen on the first tones may miss: a sawtooth was read as a
// triangle, and a sine's tones left undecided, every one. Read from where the sound first
// rises, at the library's clock, in the waveform that matches the most, they are whole. And
// the line through the tones' smeared starts walked hundreds of parts in a million off that
// clock, where every tone was undecided: held at the library's clock, they are whole.
TEST(Decode, ARoomsTonesAreReadFromWhereTheSoundRises)
{
    const char *risen = "\xadK\xce" "e\xcb\xdck\x99\xd9r\xa5\x9f=&o\x84w";
    const char *held = "\xdft\xfc\xd1\xcf%\xec" "8\xbc\xfd\xfa\xa4\xd9\xe2J@";
    for (const auto &[text, waveform, seed] : {std::tuple{risen, "sawtooth", 2u}, std::tuple{risen, "sine", 3u},
                                               std::tuple{held, "sine", 20u}, std::tuple{held, "sawtooth", 20u}}) {
        temp_dir dir;
        const auto result = decodedfile(write_sound(dir, "room.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2000,
                                                    roomed(samples_of(rendered(text, 5, waveform)), 0.3, seed)));
        EXPECT_EQ(result.codes, codes_of(text)) << waveform << seed;
        EXPECT_EQ(result.waveform, waveform);
    }
}

// A room that rings at a tone's frequency more strongly than the tone turns its phase, and the
// tone reads as its code's negative with a margin like any other's, leaving much of itself
// over. So where the silent tone at the end holds noise or ringing, a decided code that leaves
// more than 0.3 of a tone over is undecided, as under a whistle no code holds.
TEST(Decode, ACodeThatLeavesMuchOfItsToneOverIsUndecided)
{
    const std::string text = "The quick brown fox jumps over";
    std::vector<float> samples = samples_of(rendered(text, 5, "sine"));
    for (int n = 0; n < 1000; ++n)
        samples[7000 + n] += 0.6f * static_cast<float>(std::sin(2.0 * M_PI * 101.0 * n / 2000.0));
    temp_dir dir;
    const auto result = decodedfile(write_sound(dir, "whistle.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2000, noisy(samples, 15)));
    std::vector<int> expected = codes_of(text);
    expected[7] = -1;
    EXPECT_EQ(result.codes, expected);
}

// Behind silence, a resampler rings before the first tone, and two tones read from a start
// that ringing puts a little early fit a clock 1534 ppm off as their pairs' negatives, every
// code decided: they are read again from where the first tone's onset matches its code.
TEST(Decode, AFewTonesBehindSilenceAreReadFromTheirOnset)
{
    std::vector<float> led(160, 0.0f);
    for (float sample : samples_of(rendered("VU", 5, "sine")))
        led.push_back(sample);
    for (const bool band : {false, true})
        EXPECT_EQ(undecidedin("VU", "sine", resampled(band ? bandcut(led) : led, 1.0), 48000), 0) << band;
}

// A few tones give a room's phase at each frequency nothing to be measured on, and a sine's or
// a triangle's tone turned half a turn reads as its code's negative, which differs in sign
// alone. Where a room rings into the closing silent tone, such a reading is read again from the
// first tone's onset, before the room's first echo; where echoes blur that onset too, it decides
// nothing.
TEST(Decode, AFewTonesInARoomAreReadFromTheirOnset)
{
    for (const auto &[text, waveform, echoes, seed] : {std::tuple{"\xddj", "sine", 1.0, 10u}, std::tuple{"E=^", "triangle", 0.3, 9u}})
        EXPECT_EQ(undecidedin(text, waveform, roomed(samples_of(rendered(text, 5, waveform)), echoes, seed), 2000), std::strlen(text));
    // Echoes from 30 ms on leave the first tone's onset clean.
    for (const auto &[text, waveform, echoes, seed] :
         {std::tuple{"E=^", "triangle", 0.3, 1u}, std::tuple{"VU", "sine", 1.0, 3u}, std::tuple{"/)", "triangle", 1.0, 4u}})
        EXPECT_EQ(undecidedin(text, waveform, roomed(samples_of(rendered(text, 5, waveform)), echoes, seed, 60), 2000), 0);
}

} // namespace
