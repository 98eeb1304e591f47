#!/bin/sh
# Cross-builds the library, the tool and the tests for another Linux processor, runs the test
# suite under qemu-user, and checks that the golden files are byte-identical to those of the
# native build in build/ (which must have run its tests first).
# usage: test-linux-port.sh arm-linux-gnueabihf|i686-linux-gnu
# Needs: g++-arm-linux-gnueabihf or g++-i686-linux-gnu, qemu-user, googletest.
set -eu
cd "$(dirname "$0")/.."
target=$1
build=build-$target
skip=
if [ "$target" = i686-linux-gnu ]; then
  # qemu-i386 hangs in any program that starts a thread or forks (a two-line pthread_create
  # program does too), so the tests that do are left to the native and ARM runs.
  skip='^(Threads\.|Output\.Fifo|OpenFailure\.ReadOnly|WriteFailure\.FileSizeLimit|host_)'
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$target.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DWAVCREATE_TESTS=ON
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure --no-tests=error -j2 ${skip:+-E "$skip"}
diff -r build/tests/golden-files "$build/tests/golden-files"
echo "$target: golden files identical to the native build's"
