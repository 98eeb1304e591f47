#include "wavcreate.h"

#include "entry/genwav.h"

extern "C" int32_t WAVCreate(const wavcreate_char16 *text, const wavcreate_char16 *path,
                             int32_t tenths)
{
    // Callers have always received 999, whatever happened; failures are reported on
    // standard output. No exception may cross into a C caller.
    // On Windows the 16-bit wide character is wchar_t, which holds the same UTF-16 code units.
    static_assert(sizeof(wavcreate_char16) == sizeof(char16_t), "UTF-16 code units");
    try {
        wavcreate::genwav(reinterpret_cast<const char16_t *>(text),
                          reinterpret_cast<const char16_t *>(path), tenths, "sine");
    } catch (...) {
    }
    return 999;
}
