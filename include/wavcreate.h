/*
 * wavcreate: turns a line of text into a WAVE file of tones.
 *
 * Every character becomes one tone of a fixed length whose frequency is 31 times its 8-bit
 * code (Windows-1252), a space becomes a pause, and the text's terminating zero adds one last
 * silent tone. The tones are written as 8-bit mono PCM at 2000 samples per second.
 */
#ifndef WAVCREATE_H
#define WAVCREATE_H

#include <stdint.h>

#if defined(_WIN32)
#include <wchar.h>
/* On Windows the 16-bit wide character is wchar_t. */
typedef wchar_t wavcreate_char16;
#define WAVCREATE_API
#else
#include <uchar.h>
typedef char16_t wavcreate_char16;
#define WAVCREATE_API __attribute__((visibility("default")))
#endif

/* The calling convention. 32-bit x86 Windows has several, and a caller and a callee that
 * disagree on who removes the arguments corrupt the stack on every call: WAVCreate uses
 * __stdcall there, the Windows API convention that .NET P/Invoke and Visual Basic's Declare
 * assume. Every other platform has one convention, and the macro is empty. */
#if defined(_WIN32) && (defined(_M_IX86) || defined(__i386__))
#define WAVCREATE_CALL __stdcall
#else
#define WAVCREATE_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Renders `text` as tones into a new WAVE file at `path` and returns 999.
 *
 * text    zero-terminated UTF-16 text. Each code unit becomes one byte of Windows-1252 and so
 *         one tone; a code unit that Windows-1252 lacks (a surrogate, for one) becomes '?'.
 *         At most 1999 code units. NULL renders as the empty text: one silent tone.
 * path    zero-terminated UTF-16 path of the file to create or truncate, opened as given
 *         (no extension is added): converted to UTF-8 on POSIX systems, an unpaired
 *         surrogate becoming U+FFFD; opened with _wfopen on Windows. At most 199 bytes
 *         in UTF-8 on every platform.
 * tenths  length of every tone in tenths of a second, 0 to 40. Each tone holds
 *         floor(2000 * s) samples, s being tenths * 0.1 in single precision
 *         (7 tenths give 1399 samples, 40 give 8000).
 *
 * Result: always 999, whatever happened. Failures print one line on standard output:
 *   "WAVCreate() error: text longer than 1999 bytes"        no file is created or touched;
 *   "WAVCreate() error: path longer than 199 bytes"         no file is created or touched;
 *   "WAVCreate() error: tone length must be 0 to 40 tenths" no file is created or touched;
 *   "fopen():error en genwav()"  the file could not be opened (NULL path, missing folder,
 *                                no permission, a folder at the path): nothing is written;
 *   "WAVCreate() error: could not write the file"  a write, seek, flush or close failed
 *                                part-way: the incomplete file is removed when it is a
 *                                regular file; a device or FIFO is left in place.
 *
 * Calls from several threads are serialised; each file comes out as if they had run one
 * after another. Inside a host program: thread cancellation is held off for the call and
 * the caller's state restored, so a cancel takes effect at the caller's next cancellation
 * point; the file is opened close-on-exec, so programs the host starts meanwhile do not
 * inherit it; and it never takes the place of a closed standard input, output or error.
 * Not promised: the call is not async-signal-safe (never call it from a signal handler), and
 * a child forked while another thread renders must not call it (the lock may be held).
 */
WAVCREATE_API int32_t WAVCREATE_CALL WAVCreate(const wavcreate_char16 *text,
                                               const wavcreate_char16 *path, int32_t tenths);

#ifdef __cplusplus
}

#if defined(_WIN32)
/* C++ callers on Windows may pass char16_t strings (u"..." literals) too: they hold the same
 * UTF-16 code units as wchar_t. C callers use wchar_t. A template, so that where both would do
 * (WAVCreate(nullptr, nullptr, 5)) the exported function is chosen rather than neither. */
template <typename = void>
inline int32_t WAVCreate(const char16_t *text, const char16_t *path, int32_t tenths)
{
    return WAVCreate(reinterpret_cast<const wchar_t *>(text),
                     reinterpret_cast<const wchar_t *>(path), tenths);
}
#endif
#endif

#endif /* WAVCREATE_H */
