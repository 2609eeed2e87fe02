#!/bin/sh
# Checks kestrune-render's true peak and loudness range against ffmpeg's
# ebur128 filter (peak=true) and the exact band-limited peak (the file's
# spectrum zero-padded sixteenfold, the largest value refined by a parabola)
# on white noise, a 12 kHz tone and the embedded drums and bass:
#   true peak at most 0.2 dB below ffmpeg's and never above the exact peak,
#   loudness range within 0.1 LU of ffmpeg's, integrated loudness within 0.1 LU.
# Needs ffmpeg, numpy and sox (scripts/install-deps.sh). Not part of the test
# command: ffmpeg is too big a dependency for it.
#
#   bench/true-peak-vs-ffmpeg.sh [build dir]
set -eu
BUILD=${1:-build/release}
RENDER="$BUILD/tools/render/kestrune-render"
PYTHON=python3
"$PYTHON" -c 'import numpy' 2>/dev/null || PYTHON=/usr/bin/python3
for tool in ffmpeg sox "$PYTHON"; do
  command -v "$tool" >/dev/null 2>&1 || { echo "true-peak-vs-ffmpeg: needs $tool; run scripts/install-deps.sh" >&2; exit 2; }
done
"$PYTHON" -c 'import numpy' 2>/dev/null || { echo "true-peak-vs-ffmpeg: needs numpy; run scripts/install-deps.sh" >&2; exit 2; }
SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/kestrune-true-peak-XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT INT TERM

# White noise as the issue's report made it, a 12 kHz tone whose peaks fall
# between the samples (faded in and out: a tone switched on at full level
# rings), speech-like syllables of noise (a loudness range to measure) and
# the embedded material passed through with the effect bypassed.
sox -R -n -r 48000 -c 2 -b 24 "$SCRATCH/noise.wav" synth 10 whitenoise gain -3
sox -R -n -r 48000 -c 2 -b 24 "$SCRATCH/tone.wav" synth 10 sine 12000 0 12.5 gain -1 fade 0.5 10 0.5
"$PYTHON" - "$SCRATCH/speech.wav" <<'PY'
import sys, wave
import numpy as np
rng = np.random.default_rng(7)
rate, out, level = 48000, [], 0.0
while sum(len(s) for s in out) < 30 * rate:
    # A syllable of low-passed noise, 80 to 400 ms, then a pause of 30 to 600 ms.
    n = int(rate * rng.uniform(0.08, 0.4))
    level = np.clip(level + rng.normal(0, 4), -12, 0)
    noise = np.convolve(rng.normal(0, 1, n), np.ones(6) / 6, "same")
    envelope = np.sin(np.linspace(0, np.pi, n)) ** 0.5
    out.append(0.2 * 10 ** (level / 20) * envelope * noise)
    out.append(np.zeros(int(rate * rng.uniform(0.03, 0.6))))
x = np.clip(np.concatenate(out), -1, 1)
with wave.open(sys.argv[1], "wb") as f:
    f.setnchannels(1); f.setsampwidth(2); f.setframerate(rate)
    f.writeframes((x * 32767).astype("<i2").tobytes())
PY
"$RENDER" -o "$SCRATCH/music.wav" --sample-format float --no-pictures -q --set BYPASS=On

status=0
for name in noise tone speech music; do
  file="$SCRATCH/$name.wav"
  "$RENDER" "$file" -o "$SCRATCH/out.wav" --no-pictures --json >"$SCRATCH/$name.json"
  # ffmpeg's figures to three decimals: its metadata at the last 100 ms
  # mark, the true peak (linear) the largest over the file.
  theirs=$(ffmpeg -hide_banner -nostats -i "$file" -af ebur128=peak=true:metadata=1,ametadata=print:file=- \
    -f null - 2>/dev/null | awk -F= '/r128.I=/{i=$2} /r128.LRA=/{l=$2}
      /r128.true_peak=/{if ($2 > p) p = $2} END{print i, l, 20 * log(p) / log(10)}')
  "$PYTHON" - "$name" "$file" "$SCRATCH/$name.json" "$theirs" <<'PY' || status=1
import json, subprocess, sys
import numpy as np
name, path, report, theirs = sys.argv[1], sys.argv[2], sys.argv[3], [float(v) for v in sys.argv[4].split()]
ours = json.load(open(report))["input_levels"]
raw = subprocess.run(["sox", path, "-t", "f64", "-"], check=True, capture_output=True).stdout
channels = int(subprocess.run(["soxi", "-c", path], check=True, capture_output=True, text=True).stdout)
audio = np.frombuffer(raw, dtype="<f8").reshape(-1, channels)
factor = 16
exact = 0.0
for x in audio.T:
    # Silence around the file, as the meters assume: no wrap-around.
    n = 1 << int(np.ceil(np.log2(len(x) + 4096)))
    spectrum = np.fft.rfft(x, n)
    spectrum[-1] *= 0.5  # the Nyquist bin belongs to both halves of the longer spectrum
    y = np.fft.irfft(spectrum, n * factor) * factor
    i = int(np.argmax(np.abs(y)))
    a, b, c = np.abs(y[i - 1]), np.abs(y[i]), np.abs(y[(i + 1) % len(y)])
    d = a - 2 * b + c
    exact = max(exact, b - 0.25 * (a - c) ** 2 / d if d < 0 else b)
exact_db = 20 * np.log10(exact)
tp, lra, integrated = ours["true_peak_dbtp"], ours["loudness_range_lu"], ours["integrated_lufs"]
faults = []
if tp < theirs[2] - 0.2: faults.append("true peak more than 0.2 dB below ffmpeg's")
if tp > exact_db + 0.005: faults.append("true peak above the exact peak")
if abs(lra - theirs[1]) > 0.1: faults.append("loudness range differs from ffmpeg's by more than 0.1 LU")
if abs(integrated - theirs[0]) > 0.1: faults.append("integrated loudness differs from ffmpeg's by more than 0.1 LU")
print("%-7s true peak %+6.2f dBTP (ffmpeg %+6.2f, exact %+6.2f)  LRA %5.2f LU (ffmpeg %5.2f)  I %7.2f LUFS (ffmpeg %7.2f)  %s"
      % (name, tp, theirs[2], exact_db, lra, theirs[1], integrated, theirs[0], "; ".join(faults) or "ok"))
sys.exit(1 if faults else 0)
PY
done
exit $status
