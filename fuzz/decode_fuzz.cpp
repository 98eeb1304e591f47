// libFuzzer target over the decoder: any bytes, read as a stream that cannot seek (a pipe) or,
// when the input's length is odd, as a file that can. After each decode it checks that the
// result is one the tool can print: either an error in words, or a tone length from 1 to 40
// tenths, a known waveform and no more characters than a text can hold. Anything the
// sanitizers see (an overrun, a leak, undefined behaviour), a crash, running out of memory or
// time (libFuzzer's -rss_limit_mb and -timeout) is a failure too.
#include "decode/decode.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

std::FILE *streamof(const uint8_t *data, std::size_t size)
{
    if (size % 2 == 1) {
        std::FILE *file = std::tmpfile();
        check(file != nullptr, "tmpfile");
        check(std::fwrite(data, 1, size, file) == size, "fill the file");
        std::rewind(file);
        return file;
    }
    // An empty stream, and any other, that cannot seek.
    static const char nothing = 0;
    return fmemopen(size > 0 ? const_cast<uint8_t *>(data) : (uint8_t *)&nothing, size > 0 ? size : 1, "rb");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    std::FILE *stream = streamof(data, size);
    check(stream != nullptr, "open the input");
    if (size == 0)
        std::fgetc(stream); // the one byte fmemopen needs, read: nothing left
    const wavcreate::decode_result result = wavcreate::decodewav(stream);
    std::fclose(stream);
    if (!result.read) {
        check(!result.error.empty(), "a failure says why");
        return 0;
    }
    check(result.tenths >= 1 && result.tenths <= 40, "tone length");
    const std::string &waveform = result.waveform;
    check(waveform == "sine" || waveform == "square" || waveform == "sawtooth" ||
              waveform == "triangle",
          "waveform");
    // A file of no more than 10 000 seconds holds no more than 100 000 tones of 1 tenth.
    check(result.codes.size() <= 100000, "characters");
    for (int code : result.codes)
        check(code >= -1 && code <= 255, "codes");
    return 0;
}
