#!/bin/sh
# Builds the three Debian packages (libwavcreate1, libwavcreate-dev and wavcreate) into
# build-deb/, installing to /usr with the library in the multiarch folder, with the hardening
# flags Debian builds with, binaries stripped.
# Needs: cmake, g++, dpkg-dev (dependencies from the binaries), file (CPack reads binaries with
# it), gzip.
set -eu
cd "$(dirname "$0")/.."
hardening="-D_FORTIFY_SOURCE=2 -fstack-protector-strong -fstack-clash-protection -Wformat -Werror=format-security"
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DWAVCREATE_TESTS=OFF -DCMAKE_C_FLAGS="$hardening" -DCMAKE_CXX_FLAGS="$hardening" \
  -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now" -DCMAKE_SHARED_LINKER_FLAGS="-Wl,-z,relro,-z,now"
cmake --build build-deb -j2
(cd build-deb && cpack -G DEB)
ls build-deb/*.deb
