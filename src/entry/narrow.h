// Wide-to-narrow conversions of the entry's two strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace wavcreate {

// Converts zero-terminated UTF-16 text to Windows-1252, one byte per code unit, a code unit
// the code page lacks becoming '?'. NULL converts to the empty string. Writes at most
// out_size bytes, terminator included; returns false, leaving `out` unspecified, when the
// text does not fit.
bool narrowtext(const char16_t *text, char *out, std::size_t out_size);

// The Windows-1252 byte for one UTF-16 code unit.
char cp1252(char16_t unit);

// The UTF-16 code unit that a Windows-1252 byte stands for: the inverse of cp1252.
char16_t cp1252unit(unsigned char byte);

// Converts a zero-terminated UTF-16 path to UTF-8, an unpaired surrogate becoming U+FFFD.
// NULL converts to the empty string. The same size rule as narrowtext.
bool narrowpath(const char16_t *path, char *out, std::size_t out_size);

// Decodes UTF-8 into UTF-16 code units. False for malformed input: a stray or missing
// continuation byte, an overlong form, an encoded surrogate or a value beyond U+10FFFF.
bool widenutf8(const std::string &in, std::u16string &out);

// Appends the UTF-8 form of `code_point` to `out`.
void appendutf8(uint32_t code_point, std::string &out);

} // namespace wavcreate
