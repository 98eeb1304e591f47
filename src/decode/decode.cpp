#include "decode/decode.h"

#include "decode/decode_parts.h"

#include <new>

namespace wavcreate {

namespace {

void decodeinput(std::FILE *input, decode_result &result)
{
    input_read in = readinput(input);
    switch (in.kind) {
    case input_kind::failed:
        result.error = in.error;
        result.read_error = in.read_error;
        return;
    case input_kind::pcm8:
        if (in.pcm8.empty()) {
            result.error = "the file holds no samples (0 tenths): there are no tones to decode";
            return;
        }
        if (decodeexact(in.pcm8, result)) {
            result.read = true;
            return;
        }
        // Not a rendered file byte for byte (noise added, cut short): read like a converted one.
        if (!pcm8towork(in.pcm8, in.work, result.error))
            return;
        std::string().swap(in.pcm8);
        break;
    case input_kind::converted:
        break;
    }
    if (in.work.samples.empty()) {
        result.error = "the file holds no samples: there are no tones to decode";
        return;
    }
    result.read = decodeconverted(in.work, result);
}

} // namespace

decode_result decodewav(std::FILE *input)
{
    decode_result result;
    try {
        decodeinput(input, result);
    } catch (const std::bad_alloc &) {
        result = decode_result{};
        result.error = "out of memory";
    }
    return result;
}

} // namespace wavcreate
