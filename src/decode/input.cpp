// Reading the decoder's input: a file or a pipe, in blocks, never the whole of it at once.
#include "decode/decode_parts.h"

#include "entry/genwav.h"

#if defined(WAVCREATE_HAVE_SNDFILE)
#include <sndfile.h>
#endif
#if defined(WAVCREATE_HAVE_SOXR)
#include <soxr.h>
#endif

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

namespace wavcreate {

namespace {

// A pipe keeps its first bytes, so that a reader can look at the header twice; a file that can
// seek is read where the reader asks.
constexpr std::size_t kept_head_bytes = 4 << 20;
// How far a reader may skip ahead in a pipe (a chunk it ignores); beyond it, the pipe's end.
constexpr long long longest_skip = 64LL << 20;
constexpr std::size_t block_bytes = 1 << 16;

struct byte_source {
    std::FILE *file = nullptr;
    bool seekable = false;
    long long length = -1;           // a seekable file's length
    long long file_at = 0;           // where a seekable file stands
    std::vector<unsigned char> head; // a pipe's first bytes
    long long consumed = 0;          // bytes taken from a pipe so far
    int error = 0;                   // errno of a failed read
    // Size fields of 0 that mean "to the end", read by others as 0xFFFFFFFF, which libsndfile
    // reads as the same.
    std::vector<long long> streamed_sizes;
};

void opensource(byte_source &source, std::FILE *file)
{
    source.file = file;
    struct stat status {};
    if (fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode)) {
        source.length = static_cast<long long>(status.st_size);
        source.seekable = std::fseek(file, 0, SEEK_SET) == 0;
    }
}

std::size_t pull(byte_source &source, unsigned char *out, std::size_t count)
{
    errno = 0;
    const std::size_t got = std::fread(out, 1, count, source.file);
    if (got < count && std::ferror(source.file) != 0 && source.error == 0)
        source.error = errno != 0 ? errno : EIO;
    if (source.head.size() == static_cast<std::size_t>(source.consumed) &&
        source.head.size() < kept_head_bytes) {
        const std::size_t keep = std::min(got, kept_head_bytes - source.head.size());
        source.head.insert(source.head.end(), out, out + keep);
    }
    source.consumed += static_cast<long long>(got);
    return got;
}

// Reads up to `count` bytes at `position`; fewer at the end of the input, at a read error, or
// where a pipe has already passed and not kept them.
std::size_t readat(byte_source &source, long long position, unsigned char *out, std::size_t count)
{
    if (source.seekable) {
        if (position != source.file_at && fseeko(source.file, position, SEEK_SET) != 0) {
            source.error = errno;
            return 0;
        }
        errno = 0;
        const std::size_t got = std::fread(out, 1, count, source.file);
        if (got < count && std::ferror(source.file) != 0 && source.error == 0)
            source.error = errno != 0 ? errno : EIO;
        source.file_at = position + static_cast<long long>(got);
        return got;
    }
    std::size_t done = 0;
    if (position < static_cast<long long>(source.head.size())) {
        done = std::min(count, source.head.size() - static_cast<std::size_t>(position));
        std::memcpy(out, source.head.data() + position, done);
        position += static_cast<long long>(done);
        if (done == count)
            return done;
    }
    if (position < source.consumed || position - source.consumed > longest_skip)
        return done;
    unsigned char skipped[block_bytes];
    while (source.consumed < position) {
        const auto step = static_cast<std::size_t>(std::min<long long>(block_bytes, position - source.consumed));
        if (pull(source, skipped, step) < step)
            return done;
    }
    return done + pull(source, out + done, count - done);
}

uint32_t le32(const unsigned char *bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

unsigned le16(const unsigned char *bytes) { return bytes[0] | bytes[1] << 8; }

std::string longestinput()
{
    return "it lasts longer than " + std::to_string(static_cast<long>(longest_input_seconds)) +
           " seconds, more than any text's file (2000 tones of 4 seconds)";
}

enum class riff_probe { pcm8, other, failed };

// Reads a RIFF/WAVE file's chunks up to the data; when the format is the library's own, reads
// the samples to the end of the data. A data or RIFF size of 0 or 0xFFFFFFFF (a pipe's
// writer cannot know it), or one past the end of the input, means: to the end of the input.
riff_probe readpcm8(byte_source &source, std::string &samples, std::string &error)
{
    unsigned char header[12];
    if (readat(source, 0, header, 12) < 12 || std::memcmp(header, "RIFF", 4) != 0 ||
        std::memcmp(header + 8, "WAVE", 4) != 0)
        return riff_probe::other;
    if (le32(header + 4) == 0)
        source.streamed_sizes.push_back(4);
    bool pcm8 = false;
    long long at = 12; // 64-bit on every build, so that no chunk size wraps it
    for (;;) {
        unsigned char chunk[8];
        if (readat(source, at, chunk, 8) < 8)
            return riff_probe::other;
        const long long size = le32(chunk + 4);
        const long long body = at + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char format[16];
            pcm8 = size >= 16 && readat(source, body, format, 16) == 16 && le16(format) == 1 &&
                   le16(format + 2) == 1 && le32(format + 4) == 2000 && le16(format + 14) == 8;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!pcm8) {
                if (size == 0)
                    source.streamed_sizes.push_back(at + 4);
                return riff_probe::other;
            }
            const bool to_end = size == 0 || size == 0xFFFFFFFFLL;
            const auto most = static_cast<long long>(longest_input_seconds * sample_rate);
            unsigned char block[block_bytes];
            for (long long read = 0; to_end || read < size;) {
                const auto want = static_cast<std::size_t>(to_end ? block_bytes : std::min<long long>(block_bytes, size - read));
                const std::size_t got = readat(source, body + read, block, want);
                if (static_cast<long long>(samples.size() + got) > most) {
                    error = longestinput();
                    return riff_probe::failed;
                }
                samples.append(reinterpret_cast<const char *>(block), got);
                read += static_cast<long long>(got);
                if (got < want)
                    break;
            }
            return riff_probe::pcm8;
        }
        at = body + size + (size & 1);
        if (at > longest_skip) {
            error = "its chunks before the samples are larger than 64 MiB";
            return riff_probe::failed;
        }
    }
}

} // namespace

#if defined(WAVCREATE_HAVE_SNDFILE) && defined(WAVCREATE_HAVE_SOXR)

namespace {

// Reads what readat reads, and shows the streamed sizes as 0xFFFFFFFF.
std::size_t readsizes(byte_source &source, long long position, unsigned char *out, std::size_t count)
{
    const std::size_t got = readat(source, position, out, count);
    for (const long long field : source.streamed_sizes) {
        for (long long at = std::max(field, position); at < std::min(field + 4, position + static_cast<long long>(got)); ++at)
            out[at - position] = 0xFF;
    }
    return got;
}

// A resampler to work_rate, fed a block of mono samples at a time.
struct resampler {
    soxr_t state = nullptr;
    double ratio = 1.0;
    std::vector<float> out;
    ~resampler() { soxr_delete(state); }
};

bool startresampler(resampler &rate, double input_rate, std::string &error)
{
    rate.ratio = work_rate / input_rate;
    if (input_rate == work_rate)
        return true;
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    // Taking a file of the library's own rate up, keep its band to the very top: the tones
    // of 'a', 'à' and 'Ÿ' fold to 992 and 993 Hz.
    if (input_rate < work_rate)
        quality.passband_end = 0.995;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_error_t failure = nullptr;
    rate.state = soxr_create(input_rate, work_rate, 1, &failure, &io, &quality, nullptr);
    if (failure != nullptr) {
        error = std::string("cannot resample it: ") + failure;
        return false;
    }
    return true;
}

// Appends the samples at work_rate; no input flushes the resampler at the end.
void resample(resampler &rate, const float *in, std::size_t count, std::vector<float> &work)
{
    if (rate.state == nullptr) {
        work.insert(work.end(), in, in + count);
        return;
    }
    rate.out.resize(static_cast<std::size_t>(std::ceil(count * rate.ratio)) + 64);
    for (;;) {
        std::size_t used = 0;
        std::size_t made = 0;
        soxr_process(rate.state, in, in != nullptr ? count : 0, &used, rate.out.data(),
                     rate.out.size(), &made);
        work.insert(work.end(), rate.out.begin(), rate.out.begin() + static_cast<long>(made));
        if (in != nullptr) {
            in += used;
            count -= used;
            if (count == 0)
                return;
        } else if (made < rate.out.size()) {
            return;
        }
    }
}

// The largest sample a file of integers holds, as libsndfile scales it (the smallest is -1):
// false for a file of floats or a codec's, whose sound is not cut off at full scale.
bool fullscale(int format, float &top)
{
    int bits = 0;
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        bits = 8;
        break;
    case SF_FORMAT_PCM_16:
        bits = 16;
        break;
    case SF_FORMAT_PCM_24:
        bits = 24;
        break;
    case SF_FORMAT_PCM_32:
        bits = 32;
        break;
    default:
        return false;
    }
    // Dither after the cut leaves the samples cut off a step or two short of it.
    top = static_cast<float>(1.0 - 4.0 * std::ldexp(1.0, 1 - bits));
    return true;
}

// A sample beyond a thousand times full scale is no sound a converter makes; nor is one that is
// not a number or infinite, which fails the comparison too.
bool damaged(float sample) { return !(std::fabs(sample) <= 1000.0f); }

void notedamage(work_signal &work, double frame, double ratio)
{
    // The resampler spreads a sample over a few milliseconds.
    const double first = frame * ratio - 0.005 * work_rate;
    const double last = (frame + 1) * ratio + 0.005 * work_rate;
    if (!work.damaged.empty() && first <= work.damaged.back().last)
        work.damaged.back().last = last;
    else
        work.damaged.push_back({first, last});
}

sf_count_t sourcelength(void *user)
{
    const auto *source = static_cast<byte_source *>(user);
    // A pipe's length is unknown: far enough that a reader takes the data to its end.
    return source->seekable ? source->length : (1LL << 46);
}

struct virtual_file {
    byte_source *source;
    long long at;
};

sf_count_t virtuallength(void *user) { return sourcelength(static_cast<virtual_file *>(user)->source); }

sf_count_t virtualseek(sf_count_t offset, int whence, void *user)
{
    auto *file = static_cast<virtual_file *>(user);
    const long long base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? file->at : virtuallength(user);
    if (base + offset < 0)
        return -1;
    file->at = base + offset;
    return file->at;
}

sf_count_t virtualread(void *out, sf_count_t count, void *user)
{
    auto *file = static_cast<virtual_file *>(user);
    const std::size_t got = readsizes(*file->source, file->at, static_cast<unsigned char *>(out),
                                      static_cast<std::size_t>(count));
    file->at += static_cast<long long>(got);
    return static_cast<sf_count_t>(got);
}

sf_count_t virtualwrite(const void *, sf_count_t, void *) { return 0; }

sf_count_t virtualtell(void *user) { return static_cast<virtual_file *>(user)->at; }

bool readsound(byte_source &source, work_signal &work, std::string &error)
{
    virtual_file file{&source, 0};
    SF_VIRTUAL_IO io{virtuallength, virtualseek, virtualread, virtualwrite, virtualtell};
    SF_INFO info{};
    SNDFILE *handle = sf_open_virtual(&io, SFM_READ, &info, &file);
    if (handle == nullptr) {
        if (source.error != 0)
            error = std::strerror(source.error);
        else if (!source.seekable && source.consumed == 0)
            error = "it is empty";
        else
            error = std::string("not a WAVE or other sound file: ") + sf_strerror(nullptr) +
                    (source.seekable ? "" : " (some formats can be read from a file only)");
        return false;
    }
    struct closer {
        SNDFILE *handle;
        ~closer() { sf_close(handle); }
    } close_at_end{handle};
    if (info.samplerate < lowest_input_rate || info.samplerate > highest_input_rate) {
        error = "its sample rate, " + std::to_string(info.samplerate) +
                " per second, is outside what sound files use (1000 to 768000)";
        return false;
    }
    if (info.channels < 1 || info.channels > most_input_channels) {
        error = "it has " + std::to_string(info.channels) + " channels; the most read is " +
                std::to_string(most_input_channels);
        return false;
    }
    const auto most_frames = static_cast<long long>(longest_input_seconds * info.samplerate);
    if (source.seekable && info.frames > most_frames) {
        error = longestinput();
        return false;
    }
    resampler rate;
    if (!startresampler(rate, info.samplerate, error))
        return false;
    float top = std::numeric_limits<float>::infinity();
    const bool clips = fullscale(info.format, top);
    clip_mender mender;
    startmending(mender, info.samplerate, clips);
    // A file tells its length: room for all of its sound at once, and no more.
    if (source.seekable && info.frames > 0)
        work.samples.reserve(static_cast<std::size_t>(std::ceil(info.frames * rate.ratio)) + 1024);
    constexpr sf_count_t block_frames = 4096;
    std::vector<float> frames(static_cast<std::size_t>(block_frames) * info.channels);
    std::vector<float> mono(static_cast<std::size_t>(block_frames));
    std::vector<unsigned char> clipped(static_cast<std::size_t>(block_frames));
    std::vector<float> mended;
    long long frames_read = 0;
    sf_count_t count;
    while ((count = sf_readf_float(handle, frames.data(), block_frames)) > 0) {
        // The channels' sum and each frame's loudest channel against full scale; mono sound is
        // copied as it is, so that the sweeps below run several samples at a time.
        if (info.channels == 1) {
            std::copy(frames.begin(), frames.begin() + count, mono.begin());
            for (sf_count_t f = 0; f < count; ++f)
                clipped[static_cast<std::size_t>(f)] = std::fabs(mono[static_cast<std::size_t>(f)]) >= top;
        } else {
            for (sf_count_t f = 0; f < count; ++f) {
                const float *frame = &frames[static_cast<std::size_t>(f * info.channels)];
                float sum = 0.0f;
                float peak = 0.0f;
                for (int c = 0; c < info.channels; ++c) {
                    sum += frame[c];
                    peak = std::max(peak, std::fabs(frame[c]));
                }
                mono[static_cast<std::size_t>(f)] = sum;
                clipped[static_cast<std::size_t>(f)] = peak >= top;
            }
        }
        // One damaged channel makes their sum damaged too: one test for the frame, and one
        // sweep for a block, as nearly every block is, that holds none.
        int damaged_frames = 0;
        for (sf_count_t f = 0; f < count; ++f)
            damaged_frames += damaged(mono[static_cast<std::size_t>(f)]);
        for (sf_count_t f = 0; damaged_frames > 0 && f < count; ++f) {
            if (damaged(mono[static_cast<std::size_t>(f)])) {
                ++work.damaged_samples;
                notedamage(work, static_cast<double>(frames_read + f), rate.ratio);
                mono[static_cast<std::size_t>(f)] = 0.0f;
            }
        }
        if (info.channels > 1) {
            for (sf_count_t f = 0; f < count; ++f)
                mono[static_cast<std::size_t>(f)] /= static_cast<float>(info.channels);
        }
        frames_read += count;
        if (frames_read > most_frames) {
            error = longestinput();
            return false;
        }
        mendclipping(mender, mono.data(), clipped.data(), static_cast<std::size_t>(count), mended);
        if (!mended.empty())
            resample(rate, mended.data(), mended.size(), work.samples);
    }
    mendclipping(mender, nullptr, nullptr, 0, mended);
    if (!mended.empty())
        resample(rate, mended.data(), mended.size(), work.samples);
    resample(rate, nullptr, 0, work.samples);
    if (source.error != 0) {
        error = std::strerror(source.error);
        return false;
    }
    return true;
}

} // namespace

bool pcm8towork(const std::string &pcm8, work_signal &work, std::string &error)
{
    resampler rate;
    if (!startresampler(rate, sample_rate, error))
        return false;
    std::vector<float> block;
    for (std::size_t at = 0; at < pcm8.size(); at += block_bytes) {
        const std::size_t count = std::min(block_bytes, pcm8.size() - at);
        block.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            block[i] = (static_cast<unsigned char>(pcm8[at + i]) - 128) / 128.0f;
        resample(rate, block.data(), count, work.samples);
    }
    resample(rate, nullptr, 0, work.samples);
    return true;
}

#else

namespace {

bool readsound(byte_source &, work_signal &, std::string &error)
{
    error = "not an 8-bit file of tones at 2000 samples a second; this wavcreate was built "
            "without libsndfile and libsoxr, which read other files";
    return false;
}

} // namespace

bool pcm8towork(const std::string &, work_signal &, std::string &error)
{
    error = "it is not a rendered file byte for byte, and this wavcreate was built without "
            "libsndfile and libsoxr, which read files changed since";
    return false;
}

#endif

input_read readinput(std::FILE *input)
{
    input_read result;
    byte_source source;
    opensource(source, input);
    switch (readpcm8(source, result.pcm8, result.error)) {
    case riff_probe::failed:
        return result;
    case riff_probe::pcm8:
        if (source.error != 0) {
            result.error = std::strerror(source.error);
            result.read_error = source.error;
            return result;
        }
        result.kind = input_kind::pcm8;
        return result;
    case riff_probe::other:
        break;
    }
    if (source.error != 0) {
        result.error = std::strerror(source.error);
        result.read_error = source.error;
        return result;
    }
    if (!readsound(source, result.work, result.error)) {
        result.read_error = source.error;
        return result;
    }
    result.kind = input_kind::converted;
    return result;
}

} // namespace wavcreate
