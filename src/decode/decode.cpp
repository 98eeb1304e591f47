#include "decode/decode.h"

#include "decode/decode_parts.h"

namespace wavcreate {

bool decoder_reads_converted_files()
{
#if defined(WAVCREATE_HAVE_SNDFILE)
    return true;
#else
    return false;
#endif
}

decode_result decodewav(const std::string &file)
{
    decode_result result;
    pcm8_samples samples;
    switch (readriff(file, samples, result.error)) {
    case riff_kind::truncated:
        return result;
    case riff_kind::ours:
        if (samples.count == 0) {
            result.error = "the file holds no samples (0 tenths): there are no tones to decode";
            return result;
        }
        if (decodeexact(samples, result)) {
            result.read = true;
            return result;
        }
        break;
    case riff_kind::other:
        break;
    }
    result.read = decodeconverted(file, result);
    return result;
}

} // namespace wavcreate
