#include "entry/narrow.h"

#include <cstdint>

namespace wavcreate {

namespace {

// The characters Windows-1252 places at bytes 0x80 to 0x9F. Its five unused bytes (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 controls of the same value, as Windows maps them.
constexpr char16_t cp1252_80_to_9f[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The UTF-8 form of `code_point` into `bytes`; returns how many it takes.
std::size_t encodeutf8(uint32_t code_point, unsigned char (&bytes)[4])
{
    std::size_t count;
    if (code_point < 0x80) {
        bytes[0] = static_cast<unsigned char>(code_point);
        count = 1;
    } else if (code_point < 0x800) {
        bytes[0] = static_cast<unsigned char>(0xC0 | (code_point >> 6));
        bytes[1] = static_cast<unsigned char>(0x80 | (code_point & 0x3F));
        count = 2;
    } else if (code_point < 0x10000) {
        bytes[0] = static_cast<unsigned char>(0xE0 | (code_point >> 12));
        bytes[1] = static_cast<unsigned char>(0x80 | ((code_point >> 6) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | (code_point & 0x3F));
        count = 3;
    } else {
        bytes[0] = static_cast<unsigned char>(0xF0 | (code_point >> 18));
        bytes[1] = static_cast<unsigned char>(0x80 | ((code_point >> 12) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | ((code_point >> 6) & 0x3F));
        bytes[3] = static_cast<unsigned char>(0x80 | (code_point & 0x3F));
        count = 4;
    }
    return count;
}

// Appends the UTF-8 form of `code_point` at out[length], if it fits with a terminator.
bool append_utf8(uint32_t code_point, char *out, std::size_t out_size, std::size_t &length)
{
    unsigned char bytes[4];
    const std::size_t count = encodeutf8(code_point, bytes);
    if (length + count >= out_size)
        return false;
    for (std::size_t i = 0; i < count; ++i)
        out[length++] = static_cast<char>(bytes[i]);
    return true;
}

} // namespace

char cp1252(char16_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return static_cast<char>(unit);
    for (int i = 0; i < 32; ++i) {
        if (cp1252_80_to_9f[i] == unit)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

char16_t cp1252unit(unsigned char byte)
{
    return byte >= 0x80 && byte < 0xA0 ? cp1252_80_to_9f[byte - 0x80] : byte;
}

bool narrowtext(const char16_t *text, char *out, std::size_t out_size)
{
    std::size_t length = 0;
    for (; text != nullptr && text[length] != 0; ++length) {
        if (length + 1 >= out_size)
            return false;
        out[length] = cp1252(text[length]);
    }
    out[length] = '\0';
    return true;
}

bool narrowpath(const char16_t *path, char *out, std::size_t out_size)
{
    constexpr uint32_t replacement_character = 0xFFFD;
    std::size_t length = 0;
    for (std::size_t i = 0; path != nullptr && path[i] != 0; ++i) {
        uint32_t code_point = path[i];
        if (is_high_surrogate(path[i]) && is_low_surrogate(path[i + 1])) {
            code_point = 0x10000 + ((code_point - 0xD800) << 10) + (path[i + 1] - 0xDC00);
            ++i;
        } else if (is_high_surrogate(path[i]) || is_low_surrogate(path[i])) {
            code_point = replacement_character;
        }
        if (!append_utf8(code_point, out, out_size, length))
            return false;
    }
    out[length] = '\0';
    return true;
}

bool widenutf8(const std::string &in, std::u16string &out)
{
    out.clear();
    for (std::size_t i = 0; i < in.size();) {
        const auto lead = static_cast<unsigned char>(in[i]);
        int extra;
        uint32_t code_point;
        uint32_t smallest;
        if (lead < 0x80) {
            extra = 0, code_point = lead, smallest = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, code_point = lead & 0x1F, smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, code_point = lead & 0x0F, smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, code_point = lead & 0x07, smallest = 0x10000;
        } else {
            return false;
        }
        if (in.size() - i <= static_cast<std::size_t>(extra))
            return false;
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(in[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code_point = (code_point << 6) | (next & 0x3F);
        }
        if (code_point < smallest || code_point > 0x10FFFF ||
            (code_point >= 0xD800 && code_point <= 0xDFFF))
            return false;
        if (code_point >= 0x10000) {
            code_point -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code_point >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code_point & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code_point));
        }
        i += 1 + extra;
    }
    return true;
}

void appendutf8(uint32_t code_point, std::string &out)
{
    unsigned char bytes[4];
    const std::size_t count = encodeutf8(code_point, bytes);
    out.append(reinterpret_cast<const char *>(bytes), count);
}

} // namespace wavcreate
