/* A caller built as Visual C++ builds one, for the check of the Windows zips: compiled for the
 * MSVC ABI, linked without a C runtime against the zip's wavcreate.lib, its entry point's result
 * the exit status. Renders "Hello, world" at 5 tenths into hello.wav. */
#include "wavcreate.h"

int __stdcall start(void)
{
    return WAVCreate(L"Hello, world", L"hello.wav", 5) == 999 ? 0 : 1;
}
