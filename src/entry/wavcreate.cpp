#include "wavcreate.h"

#include "entry/genwav.h"
#include "entry/narrow.h"

#include <cstdio>
#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace {

// The export's own words for each outcome, the lines its callers have always seen on
// standard output.
void report(wavcreate::render_status status)
{
    using wavcreate::render_status;
    switch (status) {
    case render_status::written:
        break;
    case render_status::text_too_long:
        std::printf("WAVCreate() error: text longer than 1999 bytes\n");
        break;
    case render_status::path_too_long:
        std::printf("WAVCreate() error: path longer than 199 bytes\n");
        break;
    case render_status::tenths_out_of_range:
        std::printf("WAVCreate() error: tone length must be 0 to 40 tenths\n");
        break;
    case render_status::open_failed:
        std::printf("fopen():error en genwav()\n");
        break;
    case render_status::write_failed:
        std::printf("WAVCreate() error: could not write the file\n");
        break;
    }
}

wavcreate::render_status render(const wavcreate_char16 *wide_text, const wavcreate_char16 *path,
                                int32_t tenths)
{
    using wavcreate::render_status;
    // On Windows the 16-bit wide character is wchar_t, which holds the same UTF-16 code units.
    static_assert(sizeof(wavcreate_char16) == sizeof(char16_t), "UTF-16 code units");
    const auto *utf16_path = reinterpret_cast<const char16_t *>(path);
    char text[wavcreate::max_text_bytes + 1];
    char narrow_path[wavcreate::max_path_bytes + 1];
    if (!wavcreate::narrowtext(reinterpret_cast<const char16_t *>(wide_text), text, sizeof text))
        return render_status::text_too_long;
    if (!wavcreate::narrowpath(utf16_path, narrow_path, sizeof narrow_path))
        return render_status::path_too_long;
#if defined(_WIN32)
    // Windows opens the caller's UTF-16 path as it is.
    (void)narrow_path;
    return wavcreate::genwav(text, path, tenths, "sine", wavcreate::max_path_bytes).status;
#else
    return wavcreate::genwav(text, path == nullptr ? nullptr : narrow_path, tenths, "sine",
                             wavcreate::max_path_bytes)
        .status;
#endif
}

} // namespace

extern "C" int32_t WAVCREATE_CALL WAVCreate(const wavcreate_char16 *text,
                                            const wavcreate_char16 *path, int32_t tenths)
{
    // Callers have always received 999, whatever happened; failures are reported on
    // standard output. No exception may cross into a C caller.
    // Cancellation is held off for the whole call and the caller's state restored on return:
    // the call is short, and a cancel that struck inside fopen, a write, fclose or the
    // message's printf would unwind through the library with the lock held and the file half
    // written. A cancel that arrives meanwhile takes effect at the caller's next cancellation
    // point. (Windows threads have no cancellation.)
#if !defined(_WIN32)
    int cancel_state = PTHREAD_CANCEL_ENABLE;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancel_state);
#endif
    try {
        report(render(text, path, tenths));
    } catch (...) {
    }
#if !defined(_WIN32)
    pthread_setcancelstate(cancel_state, nullptr);
#endif
    return 999;
}
