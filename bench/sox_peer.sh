#!/bin/sh
# Times, in one run, sox synthesising as many 8-bit samples at 2000 samples per second as the
# largest render writes (2000 tones of 8000 samples: 16 000 000), and the wavcreate tool
# rendering the largest text, then prints the ratio tool/sox.
# usage: bench/sox_peer.sh [PATH_TO_WAVCREATE]   (default: build/wavcreate)
set -eu
tool=${1:-build/wavcreate}
command -v sox >/dev/null || { echo "sox is not installed (apt-get install sox)"; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# 1999 characters of mixed text, as in the benchmark program.
text=$(python3 -c "print(('The quick brown fox, 0123456789; été über naïve cafés! JUMPS over 42 lazy dogs? ' * 30)[:1999])")

# The fastest of three runs, in nanoseconds.
best_of_three() {
  best=
  for _ in 1 2 3; do
    start=$(date +%s%N)
    "$@" >/dev/null
    elapsed=$(($(date +%s%N) - start))
    if [ -z "$best" ] || [ "$elapsed" -lt "$best" ]; then best=$elapsed; fi
  done
  echo "$best"
}

sox_seconds=$(best_of_three sox -n -r 2000 -b 8 -c 1 "$dir/sox.wav" synth 8000 sine 440)
tool_seconds=$(best_of_three "$tool" -t 40 "$text" "$dir/tool.wav")
python3 - "$sox_seconds" "$tool_seconds" "$dir/sox.wav" "$dir/tool.wav" <<'PY'
import os, sys
sox, tool = float(sys.argv[1]) / 1e9, float(sys.argv[2]) / 1e9
print(f"sox synth:      {sox * 1000:7.1f} ms for {os.path.getsize(sys.argv[3])} bytes")
print(f"wavcreate tool: {tool * 1000:7.1f} ms for {os.path.getsize(sys.argv[4])} bytes")
print(f"tool/sox: {tool / sox:.2f}")
PY
