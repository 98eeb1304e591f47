#include "entry/genwav.h"

#include "entry/narrow.h"
#include "tone/tone.h"
#include "wav/wav.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace wavcreate {

namespace {

constexpr std::size_t text_buffer_size = 2000;
constexpr std::size_t path_buffer_size = 200;
constexpr double sample_rate = 2000.0;
constexpr int frequency_multiplier = 31;
constexpr char pause_character = ' ';

// tone_buffer, wav_header and wav_file are process-wide: one render at a time.
std::mutex render_lock;

// The stream's buffer, larger than the default so that the file goes out in few writes.
// Renders are serialised, so one buffer serves them all.
char stream_buffer[1 << 20];

// The stream stays locked for the whole render, so that savewav can hand it each sample
// without taking the lock again, and a host thread that flushes every stream meanwhile
// (fflush(NULL), exit) waits instead of racing with the render.
void lockstream(std::FILE *file)
{
#if defined(_WIN32)
    _lock_file(file);
#else
    flockfile(file);
#endif
}

void unlockstream(std::FILE *file)
{
#if defined(_WIN32)
    _unlock_file(file);
#else
    funlockfile(file);
#endif
}

// Windows opens the caller's UTF-16 path as it is; elsewhere file names are UTF-8.
std::FILE *openwav(const char16_t *path, const char *narrow_path)
{
#if defined(_WIN32)
    (void)narrow_path;
    return _wfopen(reinterpret_cast<const wchar_t *>(path), L"wb");
#else
    (void)path;
    return std::fopen(narrow_path, "wb");
#endif
}

void removewav(const char16_t *path, const char *narrow_path)
{
#if defined(_WIN32)
    (void)narrow_path;
    _wremove(reinterpret_cast<const wchar_t *>(path));
#else
    (void)path;
    std::remove(narrow_path);
#endif
}

bool is_regular_file(std::FILE *file)
{
    struct stat status;
    return fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode);
}

// Finishes the file: the final header over the placeholder, then the close. False when the
// stream has failed at any point.
bool finishwav(int32_t sample_total)
{
    bool ok = std::ferror(wav_file) == 0 && std::fseek(wav_file, 0, SEEK_SET) == 0;
    if (ok) {
        rewriteheader(sample_total);
        ok = std::fflush(wav_file) == 0 && std::ferror(wav_file) == 0;
    }
    unlockstream(wav_file);
    ok = std::fclose(wav_file) == 0 && ok;
    wav_file = nullptr;
    return ok;
}

} // namespace

double tonelength(int32_t tenths)
{
    // The length in seconds is computed in single precision and only then widened: 7 tenths
    // are 0.699999988 s, so 1399 samples rather than 1400.
    const float seconds = static_cast<float>(static_cast<float>(tenths) * 0.1f);
    return static_cast<double>(seconds) * sample_rate;
}

render_result genwav(const char16_t *text, const char16_t *path, int32_t tenths,
                     const char *waveform)
{
    render_result result{render_status::refused, 0, 0};
    char narrow_text[text_buffer_size];
    char narrow_path[path_buffer_size];
    if (!narrowtext(text, narrow_text, sizeof narrow_text)) {
        std::printf("WAVCreate() error: text longer than 1999 bytes\n");
        return result;
    }
    if (!narrowpath(path, narrow_path, sizeof narrow_path)) {
        std::printf("WAVCreate() error: path longer than 199 bytes\n");
        return result;
    }
    if (tenths < 0 || tenths > max_tenths) {
        std::printf("WAVCreate() error: tone length must be 0 to 40 tenths\n");
        return result;
    }

    std::lock_guard<std::mutex> hold(render_lock);
    wav_file = path == nullptr ? nullptr : openwav(path, narrow_path);
    if (wav_file == nullptr) {
        std::printf("fopen():error en genwav()\n");
        result.status = render_status::open_failed;
        return result;
    }
    const bool regular = is_regular_file(wav_file);
    std::setvbuf(wav_file, stream_buffer, _IOFBF, sizeof stream_buffer);
    lockstream(wav_file);

    // Every render starts from a silent buffer, so no earlier render's samples can reach
    // the untouched tail of this one's tones.
    cleartone();
    int32_t sample_total = 0;
    writeheader(sample_total);

    const double tone_length = tonelength(tenths);
    const std::size_t text_length = std::strlen(narrow_text);
    // The terminating zero is visited too: it adds a last silent tone.
    for (std::size_t i = 0; i <= text_length && std::ferror(wav_file) == 0; ++i) {
        const int code = static_cast<signed char>(narrow_text[i]);
        const double frequency =
            code == pause_character ? 0.0 : static_cast<double>(code * frequency_multiplier);
        gentone(frequency, tone_length, sample_rate, waveform, 1.0, 0.0);
        savewav(tone_length, tone_buffer);
        // The running total is a double sum truncated toward zero each tone, which adds
        // floor(tone_length), what savewav wrote.
        sample_total = static_cast<int32_t>(sample_total + tone_length);
    }
    result.tones = static_cast<int32_t>(text_length + 1);
    result.sample_total = sample_total;

    if (!finishwav(sample_total)) {
        std::printf("WAVCreate() error: could not write the file\n");
        // Only a regular file is ours to remove; a device or FIFO stays.
        if (regular)
            removewav(path, narrow_path);
        result.status = render_status::write_failed;
        return result;
    }
    result.status = render_status::written;
    return result;
}

} // namespace wavcreate
