/* The public header compiled as C, and the shared library's export called from C. */
#include "wavcreate.h"

#include <stdio.h>
#include <string.h>

static int failures;

static void check(int condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

/* ASCII into a zero-terminated UTF-16 string. */
static void widen(const char *ascii, char16_t *out, size_t out_size)
{
    size_t i = 0;
    for (; ascii[i] != '\0' && i + 1 < out_size; ++i)
        out[i] = (char16_t)(unsigned char)ascii[i];
    out[i] = 0;
}

int main(int argc, char **argv)
{
    char path[512];
    char16_t wide_path[512];
    const char16_t text[] = {'A', 'B', 0};
    unsigned char file[4096];
    FILE *in;
    size_t size;

    if (argc != 2) {
        fprintf(stderr, "usage: c_api_test FOLDER\n");
        return 2;
    }
    snprintf(path, sizeof path, "%s/c_api_test.wav", argv[1]);
    widen(path, wide_path, sizeof wide_path / sizeof wide_path[0]);

    check(WAVCreate(text, wide_path, 5) == 999, "WAVCreate returns 999");
    in = fopen(path, "rb");
    check(in != NULL, "the file exists");
    if (in != NULL) {
        size = fread(file, 1, sizeof file, in);
        fclose(in);
        check(size == 3044, "\"AB\" at 5 tenths is 3044 bytes");
        check(memcmp(file, "RIFF", 4) == 0 && memcmp(file + 8, "WAVEfmt ", 8) == 0,
              "RIFF/WAVE header");
        check(file[44] == 127 && file[45] == 132 && file[1044] == 127 && file[1045] == 145,
              "first samples of 'A' and 'B'");
    }
    remove(path);

    check(WAVCreate(NULL, NULL, 5) == 999, "NULL arguments return 999");
    check(WAVCreate(text, wide_path, -1) == 999, "a refused length returns 999");
    check(fopen(path, "rb") == NULL, "a refused call creates no file");

    if (failures == 0)
        printf("c_api: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
