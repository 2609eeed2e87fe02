#!/bin/sh
# Renders a batch of 8 inputs (30 s of 48 kHz stereo each, with pictures, as
# a user's batch is) with -j 1 and with -j 2 and prints the speed-up; on two
# free cores it should be 1.8x or more. Best of three runs each; the load
# average and the CPU time are printed too, since other work on the machine
# takes cores away (the CPU time shows whether -j 2 did more work).
# Not part of the test command: it measures speed.
#
#   bench/render-parallel.sh [build dir] [scratch folder]
set -eu
BUILD=${1:-build/release}
SCRATCH=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/kestrune-parallel-XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT INT TERM
RENDER="$BUILD/tools/render/kestrune-render"
INPUTS=8

python3 - "$SCRATCH" "$INPUTS" <<'PY'
import math, struct, sys
folder, count = sys.argv[1], int(sys.argv[2])
rate, seconds = 48000, 30
for i in range(count):
    # Drum-like bursts over a tone, a different pitch per input; 24-bit.
    frames = []
    for n in range(rate):
        t = n / rate
        hit = math.exp(-30 * ((t * 4) % 1)) * math.sin(2 * math.pi * 60 * t)
        tone = 0.2 * math.sin(2 * math.pi * (110 + 20 * i) * t)
        v = int(0.7 * (hit + tone) * 8388607)
        frames.append(struct.pack("<i", v)[:3] * 2)
    second = b"".join(frames)
    data = len(second) * seconds
    with open(f"{folder}/in{i}.wav", "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + data) + b"WAVEfmt " +
                struct.pack("<IHHIIHH", 16, 1, 2, rate, rate * 6, 6, 24) + b"data" + struct.pack("<I", data))
        for _ in range(seconds):
            f.write(second)
PY

best() {  # "wall cpu" seconds of the fastest of three batch renders with -j $1
  jobs=$1 best=
  for run in 1 2 3; do
    rm -rf "$SCRATCH/out"
    /usr/bin/time -f "%e %U %S" -o "$SCRATCH/time" \
      "$RENDER" "$SCRATCH"/in*.wav -o "$SCRATCH/out/" -j "$jobs" -q --no-progress
    best=$(awk -v best="$best" '{ if (best == "" || $1 < best + 0) print $1, $2 + $3; else print best }' "$SCRATCH/time")
  done
  echo "$best"
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg), cores: $(nproc)"
serial=$(best 1)
parallel=$(best 2)
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
echo "$serial $parallel $INPUTS" | awk '{
  printf "%d inputs of 30 s: -j 1 %.2f s (%.2f s of CPU), -j 2 %.2f s (%.2f s of CPU), speed-up %.2fx\n",
         $5, $1, $2, $3, $4, $1 / $3 }'
