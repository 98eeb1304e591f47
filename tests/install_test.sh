#!/bin/sh
# Installs the build into a temporary prefix, then builds and runs a small C program against
# it with find_package and with pkg-config; and once more with the
# sources added by add_subdirectory. Each program's file must equal the one the in-tree tool
# renders.
# usage: install_test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
"$build/wavcreate" "Hello, world" "$work/expected.wav" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libwavcreate.so.1' | head -n 1)")

cmake -S "$source/tests/consumer" -B "$work/find_package" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/find_package" >/dev/null
"$work/find_package/consumer" "$work/find_package.wav" >/dev/null
cmp "$work/expected.wav" "$work/find_package.wav"
echo "find_package(wavcreate 1.0 CONFIG): the consumer's file matches the in-tree render"

cmake -S "$source/tests/consumer" -B "$work/add_subdirectory" -DWAVCREATE_SOURCE_DIR="$source" >/dev/null
cmake --build "$work/add_subdirectory" -j2 >/dev/null
"$work/add_subdirectory/consumer" "$work/add_subdirectory.wav" >/dev/null
cmp "$work/expected.wav" "$work/add_subdirectory.wav"
# The parent's build builds what it uses: the library, not the tool.
if [ -e "$work/add_subdirectory/wavcreate/wavcreate" ]; then
  echo "add_subdirectory: the tool was built as part of the parent's all target"
  exit 1
fi
echo "add_subdirectory: the consumer's file matches the in-tree render; build type and all left alone"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion wavcreate)" = "1.0.0.1" ]
# shellcheck disable=SC2046
cc -std=c11 "$source/tests/consumer/consumer.c" -o "$work/pkg_config_consumer" \
  $(pkg-config --cflags --libs wavcreate)
LD_LIBRARY_PATH="$libdir" "$work/pkg_config_consumer" "$work/pkg_config.wav" >/dev/null
cmp "$work/expected.wav" "$work/pkg_config.wav"
echo "pkg-config --cflags --libs wavcreate: the consumer's file matches the in-tree render"
