#!/bin/sh
# Checks kestrune-render's loudness figures against ffmpeg's ebur128 filter
# on two files, input and output each: integrated loudness must agree
# within 0.1 LU. Loudness range and true peak are shown beside ffmpeg's
# (ffmpeg prints them to one decimal; bench/true-peak-vs-ffmpeg.sh checks
# them to three). Needs ffmpeg,
# which the test command does not (Debian: sudo apt-get install ffmpeg),
# and sox (scripts/install-deps.sh).
#
#   bench/loudness-vs-ffmpeg.sh [build dir]
set -eu
if ! command -v ffmpeg >/dev/null 2>&1; then
  echo "loudness-vs-ffmpeg: needs ffmpeg; install it with: sudo apt-get install ffmpeg" >&2
  exit 2
fi
if ! command -v sox >/dev/null 2>&1; then
  echo "loudness-vs-ffmpeg: needs sox; run scripts/install-deps.sh" >&2
  exit 2
fi
BUILD=${1:-build/release}
RENDER="$BUILD/tools/render/kestrune-render"
SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/kestrune-loudness-XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT INT TERM

# 1: 30 s of pink noise whose level steps by 12 dB every 5 s, a loudness
# range to measure. 2: a 20 s mono tone sweep at 44.1 kHz in 16 bits.
sox -R -n -r 48000 -c 2 -b 24 "$SCRATCH/a.wav" synth 5 pinknoise vol 0.1 : synth 5 pinknoise vol 0.4 : \
  synth 5 pinknoise vol 0.1 : synth 5 pinknoise vol 0.4 : synth 5 pinknoise vol 0.025 : synth 5 pinknoise vol 0.4
sox -R -n -r 44100 -c 1 -b 16 "$SCRATCH/b.wav" synth 20 sine 60-6000 vol 0.5
"$RENDER" "$SCRATCH/a.wav" -o "$SCRATCH/a-out.wav" --sample-format float --no-pictures --json --set INPUT=20 \
  >"$SCRATCH/a.json"
"$RENDER" "$SCRATCH/b.wav" -o "$SCRATCH/b-out.wav" --no-pictures --json --set INPUT=30 --set RATIO=20:1 \
  >"$SCRATCH/b.json"

ffmpeg_figures() {
  ffmpeg -hide_banner -nostats -i "$1" -filter_complex ebur128=peak=true -f null - 2>&1 |
    sed -n '/Summary:/,$p' | awk '/I:/{i=$2} /LRA:/{l=$2} /Peak:/{p=$2} END{print i, l, p}'
}

status=0
for name in a b; do
  for side in input output; do
    file="$SCRATCH/$name.wav"
    [ "$side" = output ] && file="$SCRATCH/$name-out.wav"
    ours=$(python3 -c 'import json,sys; d=json.load(open(sys.argv[1]))[sys.argv[2] + "_levels"]
print(d["integrated_lufs"], d["loudness_range_lu"], d["true_peak_dbtp"])' "$SCRATCH/$name.json" "$side")
    theirs=$(ffmpeg_figures "$file")
    python3 - "$name.wav $side" "$ours" "$theirs" <<'PY' || status=1
import sys
label, ours, theirs = sys.argv[1], [float(x) for x in sys.argv[2].split()], [float(x) for x in sys.argv[3].split()]
di, dl = ours[0] - theirs[0], ours[1] - theirs[1]
ok = abs(di) <= 0.1
print("%-14s kestrune-render I %7.2f LUFS LRA %5.2f LU TP %6.2f dBTP | ffmpeg I %7.2f LRA %5.2f TP %6.2f | "
      "difference I %+.2f LRA %+.2f %s" % (label, ours[0], ours[1], ours[2], theirs[0], theirs[1], theirs[2], di, dl,
                                         "ok" if ok else "I DIFFERS BY MORE THAN 0.1 LU"))
sys.exit(0 if ok else 1)
PY
  done
done
exit $status
