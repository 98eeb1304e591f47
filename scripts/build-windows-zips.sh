#!/bin/sh
# Builds the archive Windows users take, one per architecture, into build-zip/:
# wavcreate-VERSION-win64.zip and wavcreate-VERSION-win32.zip, each holding wavcreate.dll,
# wavcreate.exe, wavcreate.h, the import library wavcreate.lib and the wavcreate.def it is made
# from, LICENSE and README.txt. Then checks each archive as a Visual C++ user would meet it: a
# caller compiled for the MSVC ABI is linked by lld-link against the archive's wavcreate.lib
# (with SAFESEH on 32-bit, as Visual Studio sets it) and run under wine beside the archive's DLL,
# and its file must be the native build's (build/ must hold the native tool).
# Needs: g++-mingw-w64-x86-64-posix, g++-mingw-w64-i686-posix, llvm (llvm-dlltool), clang, lld,
# wine64, wine32, zip, python3. With WAVCREATE_NO_WINE32 set to the reason, the 32-bit caller is
# linked but not run.
set -eu
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(wavcreate VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
out=build-zip
mkdir -p "$out"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
build/wavcreate -q "Hello, world" "$scratch/expected.wav"

for arch in x86_64 i686; do
  if [ "$arch" = x86_64 ]; then
    build=build-win bits=64 machine=x64 dlltool="-m i386:x86-64" def=src/wavcreate.def
    convention="Calling convention: the one convention of 64-bit Windows."
    import_note="lib /def:wavcreate.def /machine:x64 /out:wavcreate.lib makes the same
import library."
  else
    build=build-win32 bits=32 machine=x86 dlltool="-m i386 -k" def=src/wavcreate-stdcall.def
    convention="Calling convention: __stdcall, the Windows API's, which .NET's [DllImport]
and Visual Basic's Declare assume; wavcreate.h declares it (WAVCREATE_CALL)."
    import_note="wavcreate.lib offers the __stdcall symbol _WAVCreate@12 and imports the
plain name WAVCreate; lib /def cannot make such an import library from a .def
file, so link the one supplied."
  fi
  name=wavcreate-$version-win$bits
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$arch-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null 2>&1 || { echo "$arch: configure failed" >&2; exit 1; }
  cmake --build "$build" -j2 --target wavcreate wavcreate_tool >/dev/null

  stage=$scratch/$name
  mkdir -p "$stage"
  cp "$build/wavcreate.dll" "$build/wavcreate.exe" include/wavcreate.h LICENSE "$stage/"
  "$arch-w64-mingw32-strip" "$stage/wavcreate.dll" "$stage/wavcreate.exe"
  cp "$def" "$stage/wavcreate.def"
  # The import library in Visual C++'s own short format, which MinGW linkers read too.
  llvm-dlltool $dlltool -d "$def" -l "$stage/wavcreate.lib"
  sed 's/$/\r/' >"$stage/README.txt" <<TEXT
wavcreate $version for $bits-bit Windows

Turns a line of text into a WAVE file of tones: every character one tone whose
frequency is 31 times its Windows-1252 code, 8-bit mono PCM at 2000 samples
per second.

  wavcreate.dll  the library. It exports WAVCreate alone, by name and as
                 ordinal 1, and needs no other DLL beside it.
  wavcreate.h    int32_t WAVCreate(const wchar_t *text, const wchar_t *path,
                 int32_t tenths): the text and the path in UTF-16, the tone
                 length 0 to 40 tenths of a second; returns 999.
  wavcreate.lib  the import library, for Visual C++ and MinGW linkers.
  wavcreate.def  the export list the import library is made from.
  wavcreate.exe  the tool: wavcreate [-t TENTHS] [-w NAME] [-q] TEXT OUTPUT
  LICENSE        MIT.

$convention

Visual C++: #include "wavcreate.h", link wavcreate.lib and put wavcreate.dll
beside the program.
$import_note
TEXT
  rm -f "$out/$name.zip"
  (cd "$scratch" && zip -q -r -X "$OLDPWD/$out/$name.zip" "$name")

  check=$scratch/check-$bits
  python3 -m zipfile -e "$out/$name.zip" "$check"
  clang --target="$arch-pc-windows-msvc" -ffreestanding -O1 -I"$check/$name" \
    -isystem "/usr/$arch-w64-mingw32/include" -c tests/msvc_caller.c -o "$check/caller.obj"
  lld-link /nologo /machine:$machine /entry:start /subsystem:console /nodefaultlib \
    "$check/caller.obj" "$check/$name/wavcreate.lib" /out:"$check/$name/caller.exe"
  if [ "$bits" = 32 ] && [ -n "${WAVCREATE_NO_WINE32:-}" ]; then
    echo "$out/$name.zip: an MSVC-built caller links its wavcreate.lib; not run: $WAVCREATE_NO_WINE32"
    continue
  fi
  (cd "$check/$name" && WINEDEBUG=-all wine caller.exe)
  cmp "$scratch/expected.wav" "$check/$name/hello.wav"
  echo "$out/$name.zip: $(python3 -m zipfile -l "$out/$name.zip" | tail -n +2 | grep -cv "/ ") files;" \
    "an MSVC-built caller links its wavcreate.lib and renders the native build's file"
done
