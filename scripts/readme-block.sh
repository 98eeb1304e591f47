#!/bin/sh
# Prints the lines of the README's Nth shell block: 1 is its two commands, each installing what
# it needs (then build and render, build and test). CI and scripts/fresh-root.sh run them as
# written.
# usage: readme-block.sh N
set -eu
awk -v want="$1" '/^```sh$/ {count++; inside = (count == want); next}
                  inside && /^```$/ {exit}
                  inside' "$(dirname "$0")/../README.md"
