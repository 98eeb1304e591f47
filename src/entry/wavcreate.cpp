#include "wavcreate.h"

#include "entry/genwav.h"

extern "C" int32_t WAVCreate(const wavcreate_char16 *text, const wavcreate_char16 *path,
                             int32_t tenths)
{
    // Callers have always received 999, whatever happened; failures are reported on
    // standard output. No exception may cross into a C caller.
    try {
        wavcreate::genwav(text, path, tenths, "sine");
    } catch (...) {
    }
    return 999;
}
