#!/bin/sh
# Cross-builds the library, the tool and the tests for 32-bit ARM Linux (hard-float), runs the
# test suite under qemu-arm, and checks that the golden files are byte-identical to those of
# the native build in build/ (which must have run its tests first).
# Needs: g++-arm-linux-gnueabihf, qemu-user, googletest.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabihf.cmake \
  -DCMAKE_BUILD_TYPE=Release
cmake --build build-arm -j2
ctest --test-dir build-arm --output-on-failure -j2
diff -r build/tests/golden-files build-arm/tests/golden-files
echo "32-bit ARM: golden files identical to the native build's"
