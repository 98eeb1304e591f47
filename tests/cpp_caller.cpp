// The README's example as C++: u"..." literals reach WAVCreate on every platform (on Windows
// through the header's char16_t overload). Renders "Hello, world" at 5 tenths into the file
// the first argument names, in ASCII. A call with two null pointers must compile as well (on
// Windows both the exported function and the overload take them).
#include <wavcreate.h>

#include <string>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const std::string ascii = argv[1];
    const std::u16string path(ascii.begin(), ascii.end());
    if (WAVCreate(nullptr, nullptr, 5) != 999)
        return 1;
    return WAVCreate(u"Hello, world", path.c_str(), 5) == 999 ? 0 : 1;
}
