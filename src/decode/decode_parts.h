// The decoder's parts, behind decodewav: reading the input, the exact match of the library's
// own files, and the analysis of converted ones.
#pragma once

#include "decode/decode.h"

#include <string>
#include <vector>

namespace wavcreate {

// The generator's waveforms, by name.
constexpr const char *waveform_names[] = {"sine", "square", "sawtooth", "triangle"};

// Converted files are analysed at this rate: every tone lies below 1000 Hz once folded, so
// 4000 samples a second hold it with room for a resampler's transition band.
constexpr double work_rate = 4000.0;

// What the decoder accepts, checked as soon as the header or the stream tells. No text's file
// lasts longer than 2000 tones of 4 seconds; a converter or a recording may add silence.
constexpr double longest_input_seconds = 10000.0;
constexpr int lowest_input_rate = 1000;
constexpr int highest_input_rate = 768000;
constexpr int most_input_channels = 64;

// The sound of a converted file: one channel, the mean of the file's channels, at work_rate,
// with the stretches where the file held damaged samples (NaN, infinite or absurdly large),
// which are read as silence.
struct work_signal {
    std::vector<float> samples;
    struct stretch {
        double first; // in samples at work_rate
        double last;
    };
    std::vector<stretch> damaged;
    long long damaged_samples = 0; // counted in the file's own frames
};

enum class input_kind {
    failed,    // `error` says why
    pcm8,      // 8-bit mono PCM at 2000 samples a second, as the library writes: `pcm8` holds the samples
    converted, // anything else: `work` holds its sound
};

struct input_read {
    input_kind kind = input_kind::failed;
    std::string error;
    int read_error = 0; // errno of a failed read
    std::string pcm8;
    work_signal work;
};

// Mends, as a file streams, the samples a converter clipped at full scale: each stretch of the
// file is fitted with a sound of the tones' band on the samples around its clipped ones, which
// are taken from the fit.
struct clip_mender {
    bool active = false;
    double model_per_sample = 0.0;
    std::size_t margin = 0;  // file samples of context either side of a stretch
    std::size_t stretch = 0; // file samples mended at a time
    std::size_t done = 0;    // of `held`, those already handed on
    std::vector<float> held;
    std::vector<unsigned char> clipped; // of `held`, those at full scale
};

// Starts mending a file of `rate` frames a second; `clips` where its samples can be cut off at
// full scale (integers).
void startmending(clip_mender &mender, double rate, bool clips);

// Takes `count` samples, `clipped` marking those at full scale, and hands on to `out` those it
// has mended; with none (`count` 0), all it still holds.
void mendclipping(clip_mender &mender, const float *in, const unsigned char *clipped, std::size_t count,
                  std::vector<float> &out);

// Reads `input` to its end in blocks. A RIFF/WAVE file of the library's own kind is read by
// its chunks here, whatever its size fields say; anything else goes through libsndfile and is
// taken to work_rate as it streams.
input_read readinput(std::FILE *input);

// Takes the samples of an 8-bit file at 2000 per second to work_rate, for the analysis of a
// file of the library's kind that is not byte for byte a rendered one (noise added, say).
bool pcm8towork(const std::string &pcm8, work_signal &work, std::string &error);

// Matches every tone byte for byte against the tones the generator renders, for every tone
// length and waveform that fit. False when none fits all tones.
bool decodeexact(const std::string &pcm8, decode_result &result);

// Finds the tone length, the clock and the grid of tones in a converted file's sound and
// matches each tone against every code's rendered samples. False, with result.error set, when
// the sound is not a file of tones.
bool decodeconverted(const work_signal &work, decode_result &result);

} // namespace wavcreate
