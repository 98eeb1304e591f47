#!/bin/sh
# Cross-builds the library, the tool and the tests for another Linux processor, runs the test
# suite under qemu-user, and checks that the golden files are byte-identical to those of the
# native build in build/ (which must have run its tests first).
# usage: test-linux-port.sh arm-linux-gnueabihf|aarch64-linux-gnu|i686-linux-gnu|s390x-linux-gnu
# Needs: g++-TARGET (g++-arm-linux-gnueabihf, ...), qemu-user, googletest.
set -eu
cd "$(dirname "$0")/.."
target=$1
build=build-$target
skip=
case $target in
i686-linux-gnu)
  # qemu-i386 hangs in any program that starts a thread or forks (a two-line pthread_create
  # program does too), so the tests that do are left to the native and ARM runs.
  skip='^(Threads\.|Output\.Fifo|OpenFailure\.ReadOnly|WriteFailure\.FileSizeLimit|host_)' ;;
aarch64-linux-gnu | s390x-linux-gnu)
  # The host tests stream 16 MB renders through FIFOs, one to two minutes under emulation; they
  # try the C library's threads, cancellation and descriptors, which the native and 32-bit ARM
  # runs cover. Every test of the bytes runs.
  skip='^host_' ;;
esac
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$target.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DWAVCREATE_TESTS=ON
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure --no-tests=error -j2 ${skip:+-E "$skip"}
diff -r build/tests/golden-files "$build/tests/golden-files"
echo "$target: golden files identical to the native build's"
