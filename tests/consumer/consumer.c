/* Renders "Hello, world" at 5 tenths into the file named on the command line. */
#include <wavcreate.h>

#include <stdio.h>

int main(int argc, char **argv)
{
    const char16_t text[] = u"Hello, world";
    char16_t path[512];
    size_t i = 0;

    if (argc != 2) {
        fprintf(stderr, "usage: consumer OUTPUT\n");
        return 2;
    }
    for (; argv[1][i] != '\0' && i + 1 < sizeof path / sizeof path[0]; ++i)
        path[i] = (char16_t)(unsigned char)argv[1][i];
    path[i] = 0;
    return WAVCreate(text, path, 5) == 999 ? 0 : 1;
}
