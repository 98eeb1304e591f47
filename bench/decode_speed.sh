#!/bin/sh
# The decoder's speed and memory on the largest text, against sox taking the same file to the
# decoder's rate: a 1999-character text at 5 tenths, converted by sox to 48 kHz 16-bit (1000
# seconds, 96 MB). Prints the times of each of five runs, taken in turns, the ratio of the
# fastest, and each one's peak memory. Not a test: needs sox and GNU time.
# usage: decode_speed.sh PATH_TO_WAVCREATE
set -eu
tool=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 -c '
import random
characters = [chr(c) for c in range(0x20, 0x7F)] + [chr(c) for c in range(0xA0, 0x100)]
rng = random.Random(7)
print("".join(rng.choice(characters) for _ in range(1999)), end="")' > "$work/text"
"$tool" -q -t 5 - "$work/original.wav" < "$work/text"
sox -G "$work/original.wav" -r 48000 -b 16 "$work/big.wav"
echo "input: $(stat -c %s "$work/big.wav") bytes"
best_sox=1000
best_decode=1000
for run in 1 2 3 4 5; do
  sox_line=$(/usr/bin/time -f "%e %M" sox "$work/big.wav" -r 4000 "$work/sox.wav" 2>&1 | tail -1)
  decode_line=$(/usr/bin/time -f "%e %M" "$tool" -q --decode "$work/big.wav" 2>&1 >"$work/out" | tail -1)
  set -- $sox_line; sox_time=$1; sox_memory=$2
  set -- $decode_line; decode_time=$1; decode_memory=$2
  echo "run $run: sox $sox_time s ($sox_memory kB), decoder $decode_time s ($decode_memory kB)"
  best_sox=$(echo "$sox_time $best_sox" | awk '{print ($1 < $2) ? $1 : $2}')
  best_decode=$(echo "$decode_time $best_decode" | awk '{print ($1 < $2) ? $1 : $2}')
done
echo "fastest: sox $best_sox s, decoder $best_decode s, ratio $(echo "$best_decode $best_sox" | awk '{printf "%.2f", $1 / $2}')"
expected=$(cat "$work/text"; echo)
[ "$(cat "$work/out")" = "$expected" ] && echo "decoded text: the whole text, right" || echo "decoded text: differs"
