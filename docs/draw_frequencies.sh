#!/bin/sh
# Regenerates docs/hello-frequencies.png: the spectrogram of "Hello, world" rendered at the default
# 5 tenths per tone.
# usage: docs/make_spectrogram.sh [PATH_TO_WAVCREATE]   (default: build/wavcreate)
set -eu
tool=${1:-build/wavcreate}
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tool" "Hello, world" "$work/hello.wav"
sox "$work/hello.wav" -n spectrogram -x 900 -y 257 -z 80 \
  -t 'wavcreate: "Hello, world", 5 tenths per tone' -c 'wavcreate 1.0.0.1' \
  -o "$here/hello-frequencies.png"
echo "wrote $here/hello-frequencies.png"
