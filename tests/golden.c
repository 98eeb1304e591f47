/* Renders the golden set: texts and tone lengths whose files must come out byte for byte the
 * same on every platform. The texts cover every byte value 0x01 to 0xFF, spaces and the empty
 * text; the lengths are 0, 1, 7 and 40 tenths. On Windows this is also the host program that
 * loads wavcreate.dll and finds WAVCreate both by name and by ordinal 1; on 32-bit Windows it
 * calls it as a host built with another compiler would, and checks that the stack pointer is
 * back where it was after every call.
 *
 * usage: golden FOLDER    writes FOLDER/<text>-<tenths>.wav for every pair */
#include "wavcreate.h"

#include <stdint.h>
#include <stdio.h>

#if defined(_WIN32)
#include <windows.h>
#endif

typedef int32_t(WAVCREATE_CALL *wavcreate_fn)(const wavcreate_char16 *,
                                              const wavcreate_char16 *, int32_t);

/* The characters Windows-1252 places at bytes 0x80 to 0x9F (its five unused bytes stand for
 * the C1 controls of the same value). */
static const unsigned short cp1252_80_to_9f[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

static void widen(const char *ascii, wavcreate_char16 *out, size_t out_size)
{
    size_t i = 0;
    for (; ascii[i] != '\0' && i + 1 < out_size; ++i)
        out[i] = (wavcreate_char16)(unsigned char)ascii[i];
    out[i] = 0;
}

static wavcreate_fn find_wavcreate(void)
{
#if defined(_WIN32)
    HMODULE library = LoadLibraryW(L"wavcreate.dll");
    FARPROC by_name;
    FARPROC by_ordinal;
    if (library == NULL) {
        fprintf(stderr, "golden: cannot load wavcreate.dll\n");
        return NULL;
    }
    by_name = GetProcAddress(library, "WAVCreate");
    by_ordinal = GetProcAddress(library, MAKEINTRESOURCEA(1));
    if (by_name == NULL || by_name != by_ordinal) {
        fprintf(stderr, "golden: WAVCreate is not export 1 of wavcreate.dll\n");
        return NULL;
    }
    printf("golden: WAVCreate found by name and by ordinal 1\n");
    return (wavcreate_fn)(void (*)(void))by_name;
#else
    return WAVCreate;
#endif
}

#if defined(_WIN32) && defined(__i386__)
/* Calls WAVCreate through its __stdcall pointer with the arguments pushed by hand, from a
 * stack pointer `misalignment` bytes below a multiple of 16 before the pushes (a host built
 * with another compiler keeps it aligned to 4 bytes only), and checks that the stack pointer
 * is back where it was after the call: a callee that removed no arguments, or too many, would
 * leave it moved. Returns 0 when it moved. */
static int32_t callchecked(wavcreate_fn wavcreate, const wavcreate_char16 *text,
                           const wavcreate_char16 *path, int32_t tenths, int misalignment)
{
    const void *call[5] = {(const void *)wavcreate, text, path, (const void *)(intptr_t)tenths,
                           (const void *)(intptr_t)misalignment};
    int32_t result;
    long moved;
    __asm__ volatile("movl %%esp, %%edi\n\t"
                     "andl $-16, %%esp\n\t"
                     "subl 16(%%esi), %%esp\n\t"
                     "movl %%esp, %%ebx\n\t"
                     "pushl 12(%%esi)\n\t"
                     "pushl 8(%%esi)\n\t"
                     "pushl 4(%%esi)\n\t"
                     "call *(%%esi)\n\t"
                     "movl %%esp, %%ecx\n\t"
                     "subl %%ebx, %%ecx\n\t"
                     "movl %%edi, %%esp"
                     : "=a"(result), "=c"(moved)
                     : "S"(call)
                     : "edi", "ebx", "edx", "memory", "cc");
    if (moved != 0) {
        fprintf(stderr, "golden: the stack pointer moved by %ld bytes over a call\n", moved);
        return 0;
    }
    return result;
}
#endif

int main(int argc, char **argv)
{
    static const int32_t tenths[] = {0, 1, 7, 40};
    wavcreate_char16 every_byte[256];
    wavcreate_char16 spaces[16];
    const wavcreate_char16 empty[1] = {0};
    const struct {
        const char *name;
        const wavcreate_char16 *text;
    } texts[] = {{"every-byte", every_byte}, {"spaces", spaces}, {"empty", empty}};
    wavcreate_fn wavcreate = find_wavcreate();
    int byte;
    size_t t;
    size_t l;

    if (argc != 2) {
        fprintf(stderr, "usage: golden FOLDER\n");
        return 2;
    }
    if (wavcreate == NULL)
        return 1;
    for (byte = 1; byte < 256; ++byte) {
        every_byte[byte - 1] = (wavcreate_char16)(byte >= 0x80 && byte < 0xA0
                                                      ? cp1252_80_to_9f[byte - 0x80]
                                                      : byte);
    }
    every_byte[255] = 0;
    widen("  a b  z  ", spaces, sizeof spaces / sizeof spaces[0]);

    for (t = 0; t < sizeof texts / sizeof texts[0]; ++t) {
        for (l = 0; l < sizeof tenths / sizeof tenths[0]; ++l) {
            char path[512];
            wavcreate_char16 wide_path[512];
            snprintf(path, sizeof path, "%s/%s-%d.wav", argv[1], texts[t].name, (int)tenths[l]);
            widen(path, wide_path, sizeof wide_path / sizeof wide_path[0]);
#if defined(_WIN32) && defined(__i386__)
            if (callchecked(wavcreate, texts[t].text, wide_path, tenths[l], 4 * (int)(l % 4)) !=
                999)
                return 1;
#else
            if (wavcreate(texts[t].text, wide_path, tenths[l]) != 999)
                return 1;
#endif
        }
    }
    printf("golden: rendered %d files into %s\n", (int)(t * l), argv[1]);
    return 0;
}
