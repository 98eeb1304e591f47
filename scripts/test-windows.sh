#!/bin/sh
# Cross-builds wavcreate.dll and wavcreate.exe for 64-bit or 32-bit Windows, checks that the DLL
# exports WAVCreate alone, by name at ordinal 1, and carries version 1.0.0.1, then runs the
# golden program under wine (it loads the DLL and finds WAVCreate by name and by ordinal; on
# 32-bit Windows it also checks that every __stdcall call leaves the stack pointer where it
# was) and checks that its files are byte-identical to those of the native build in build/.
# usage: test-windows.sh [x86_64|i686]    (x86_64 when not given)
# With WAVCREATE_NO_WINE32 set to the reason, the 32-bit port is built and checked but not run.
# Needs: g++-mingw-w64-x86-64-posix and wine64, or g++-mingw-w64-i686-posix and wine32.
set -eu
cd "$(dirname "$0")/.."
arch=${1:-x86_64}
case $arch in
x86_64) build=build-win ;;
i686) build=build-win32 ;;
*) echo "usage: test-windows.sh [x86_64|i686]" >&2; exit 2 ;;
esac
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$arch-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j2

table=$("$arch-w64-mingw32-objdump" -p "$build/wavcreate.dll")
names=$(printf '%s\n' "$table" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep '\[' | grep -v Table)
printf '%s\n' "$table" | grep -q 'Ordinal Base 1$'
[ "$(printf '%s\n' "$names" | wc -l)" -eq 1 ] && printf '%s\n' "$names" | grep -q ' WAVCreate$' || {
  echo "wavcreate.dll must export WAVCreate alone, found:"; printf '%s\n' "$names"; exit 1; }
strings -el "$build/wavcreate.dll" | grep -qx '1.0.0.1' || { echo "no version 1.0.0.1"; exit 1; }
echo "$arch wavcreate.dll exports WAVCreate alone, at ordinal 1, version 1.0.0.1"
if [ "$arch" = i686 ] && [ -n "${WAVCREATE_NO_WINE32:-}" ]; then
  echo "i686 Windows: built and checked, not run: $WAVCREATE_NO_WINE32"
  exit 0
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
WINEDEBUG=-all wine "$build/golden.exe" "$(WINEDEBUG=-all winepath -w "$out")"
diff -r build/tests/golden-files "$out"
echo "$arch Windows: golden files identical to the native build's"

# A C++ caller passes u"..." literals through the header's char16_t overload, linked through the
# import library.
(cd "$out" && WINEDEBUG=-all wine "$OLDPWD/$build/cpp_caller.exe" cpp-caller.wav)
build/wavcreate -q "Hello, world" "$out/expected.wav"
cmp "$out/expected.wav" "$out/cpp-caller.wav"
echo "$arch Windows: a C++ caller with u\"...\" literals renders the same file"
