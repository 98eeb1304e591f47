#include "entry/genwav.h"

#include "entry/narrow.h"
#include "tone/tone.h"
#include "wav/wav.h"

#include <sys/stat.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

namespace wavcreate {

namespace {

constexpr char pause_character = ' ';

// tone_buffer, wav_header and wav_file are process-wide: one render at a time.
std::mutex render_lock;

// The buffer of every file the render opens: with 64 KiB a 16 MB file goes out in 245 writes,
// and a larger buffer measured no faster. Renders are serialised, so one buffer serves them all.
char stream_buffer[1 << 16];

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

#if !defined(_WIN32)
// Fills every closed descriptor among 0 to 2 with /dev/null, so that a file opened next cannot
// become the host's standard input, output or error, where whatever the host prints meanwhile
// would land inside it. Returns how many placeholders it opened into `placeholders`.
int holdstandardfds(int (&placeholders)[3])
{
    int count = 0;
    while (count < 3) {
        const int fd = open("/dev/null", O_RDWR | O_CLOEXEC);
        if (fd < 0)
            break;
        if (fd > STDERR_FILENO) {
            close(fd);
            break;
        }
        placeholders[count++] = fd;
    }
    return count;
}

// Closes the placeholders again, leaving the host's descriptors as they were. One that the
// host replaced meanwhile (dup2 onto it) is the host's own now and stays.
void releasestandardfds(const int (&placeholders)[3], int count)
{
    struct stat null_device;
    if (count == 0 || stat("/dev/null", &null_device) != 0)
        return;
    for (int i = 0; i < count; ++i) {
        struct stat status;
        if (fstat(placeholders[i], &status) == 0 && status.st_rdev == null_device.st_rdev &&
            status.st_ino == null_device.st_ino)
            close(placeholders[i]);
    }
}
#endif

// Opens the file close-on-exec, so that a program the host starts meanwhile does not inherit
// it. Windows opens the caller's UTF-16 path as it is; elsewhere a file name is bytes.
std::FILE *openwav(const path_char *path)
{
#if defined(_WIN32)
    return _wfopen(path, L"wbN");
#else
    int placeholders[3];
    const int placeholder_count = holdstandardfds(placeholders);
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    int error = errno;
    releasestandardfds(placeholders, placeholder_count);
    std::FILE *file = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (fd >= 0 && file == nullptr) {
        error = errno;
        close(fd);
    }
    errno = error;
    return file;
#endif
}

void removewav(const path_char *path)
{
#if defined(_WIN32)
    _wremove(path);
#else
    std::remove(path);
#endif
}

bool is_regular_file(std::FILE *file)
{
    struct stat status;
    return fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode);
}

// The first failure of a render: its errno is kept, later ones would only follow from it.
void fail(render_result &result, int error)
{
    if (result.status == render_status::written) {
        result.status = render_status::write_failed;
        result.error = error;
    }
}

// The running total of a render: a double sum truncated toward zero each tone, which adds
// floor(tone_length), what savewav writes.
int32_t addtone(int32_t sample_total, double tone_length)
{
    return static_cast<int32_t>(sample_total + tone_length);
}

// Writes the header and every tone of `text` to wav_file, which the caller has opened and
// locked. A file that can seek back gets a placeholder header, rewritten with the final sizes
// at the end; any other gets the final header first, since the sizes are known before the
// first sample. Leaves the stream positioned after the header, to be flushed by the caller.
void rendertones(const char *text, int32_t tenths, const char *waveform, bool seekable,
                 render_result &result)
{
    const double tone_length = tonelength(tenths);
    const std::size_t text_length = std::strlen(text);
    int32_t final_total = 0;
    for (std::size_t i = 0; i <= text_length; ++i)
        final_total = addtone(final_total, tone_length);
    result.tones = static_cast<int32_t>(text_length + 1);
    result.sample_total = final_total;

    // Every render starts from a silent buffer, so no earlier render's samples can reach
    // the untouched tail of this one's tones.
    cleartone();
    int32_t sample_total = 0;
    writeheader(seekable ? sample_total : final_total);
    // The terminating zero is visited too: it adds a last silent tone.
    for (std::size_t i = 0; i <= text_length; ++i) {
        const int code = static_cast<signed char>(text[i]);
        const double frequency =
            code == pause_character ? 0.0 : static_cast<double>(code * frequency_multiplier);
        gentone(frequency, tone_length, sample_rate, waveform, 1.0, 0.0);
        savewav(tone_length, tone_buffer);
        sample_total = addtone(sample_total, tone_length);
        if (std::ferror(wav_file) != 0)
            return fail(result, errno);
    }
    if (seekable) {
        if (std::fseek(wav_file, 0, SEEK_SET) != 0)
            return fail(result, errno);
        rewriteheader(sample_total);
    }
}

// The text, path and tone length limits, checked in this order.
render_status checklimits(const char *text, const path_char *path, std::size_t path_limit,
                          int32_t tenths)
{
    if (std::strlen(text) > max_text_bytes)
        return render_status::text_too_long;
#if defined(_WIN32)
    // The limit is on the path's UTF-8 form on every platform.
    if (path != nullptr && path_limit != no_path_limit) {
        std::string narrow_path(path_limit + 1, '\0');
        if (!narrowpath(reinterpret_cast<const char16_t *>(path), narrow_path.data(),
                        narrow_path.size()))
            return render_status::path_too_long;
    }
#else
    if (path != nullptr && std::strlen(path) > path_limit)
        return render_status::path_too_long;
#endif
    if (tenths < 0 || tenths > max_tenths)
        return render_status::tenths_out_of_range;
    return render_status::written;
}

// Flushes wav_file and unlocks it, recording a failure of the stream at any point.
void flushwav(render_result &result)
{
    if (std::fflush(wav_file) != 0 || std::ferror(wav_file) != 0)
        fail(result, errno);
    unlockstream(wav_file);
}

} // namespace

double tonelength(int32_t tenths)
{
    // The length in seconds is computed in single precision and only then widened: 7 tenths
    // are 0.699999988 s, so 1399 samples rather than 1400.
    const float seconds = static_cast<float>(static_cast<float>(tenths) * 0.1f);
    return static_cast<double>(seconds) * sample_rate;
}

render_result genwav(const char *text, const path_char *path, int32_t tenths,
                     const char *waveform, std::size_t path_limit)
{
    render_result result{checklimits(text, path, path_limit, tenths), 0, 0, 0};
    if (result.status != render_status::written)
        return result;

    std::lock_guard<std::mutex> lock(render_lock);
    errno = 0;
    wav_file = path == nullptr ? nullptr : openwav(path);
    if (wav_file == nullptr) {
        result.status = render_status::open_failed;
        result.error = path == nullptr ? EINVAL : errno;
        return result;
    }
    const bool regular = is_regular_file(wav_file);
    std::setvbuf(wav_file, stream_buffer, _IOFBF, sizeof stream_buffer);
    lockstream(wav_file);
    rendertones(text, tenths, waveform, regular, result);
    flushwav(result);
    if (std::fclose(wav_file) != 0)
        fail(result, errno);
    wav_file = nullptr;
    // Only a regular file is ours to remove; a device or FIFO stays.
    if (result.status == render_status::write_failed && regular)
        removewav(path);
    return result;
}

render_result genwav(const char *text, std::FILE *stream, int32_t tenths, const char *waveform)
{
    render_result result{checklimits(text, nullptr, no_path_limit, tenths), 0, 0, 0};
    if (result.status != render_status::written)
        return result;

    std::lock_guard<std::mutex> lock(render_lock);
    wav_file = stream;
    lockstream(wav_file);
    rendertones(text, tenths, waveform, false, result);
    flushwav(result);
    wav_file = nullptr;
    return result;
}

} // namespace wavcreate
