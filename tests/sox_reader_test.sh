#!/bin/sh
# sox must read what the tool writes: rate, channels, width and every sample.
# usage: sox_reader_test.sh PATH_TO_WAVCREATE
set -eu
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# WAVCREATE_RUNNER, when set, is the emulator that runs a tool built for another processor.
${WAVCREATE_RUNNER:-} "$1" -t 7 "Hello, world" "$dir/hello.wav" >/dev/null

fail=0
expect() {
  if [ "$2" != "$3" ]; then
    echo "FAILED: $1 is '$2', expected '$3'"
    fail=1
  fi
}
expect rate "$(soxi -r "$dir/hello.wav")" 2000
expect channels "$(soxi -c "$dir/hello.wav")" 1
expect bits "$(soxi -b "$dir/hello.wav")" 8
expect samples "$(soxi -s "$dir/hello.wav")" $((13 * 1399))
# Decoding every sample must succeed too.
sox "$dir/hello.wav" -n stat 2>/dev/null || { echo "FAILED: sox could not decode the file"; fail=1; }
[ "$fail" -eq 0 ] && echo "sox reads the file: 2000 Hz, 1 channel, 8 bits, $((13 * 1399)) samples"
exit "$fail"
