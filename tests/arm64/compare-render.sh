#!/usr/bin/env bash
# The aarch64 build's kestrune-render and modules (under the emulator) give
# the same output bytes as the native x86-64 build's on: the embedded drums
# and bass; each factory preset; an external sidechain; settings typed as
# text, through each plug-in format. Outputs are raw 32-bit float samples
# (64-bit at 64-bit precision), so every bit the effect computes reaches the
# file and nothing else does (a WAV header holds the time it was written). The preset files the aarch64 build wrote from
# its modules' state must equal the native build's too.
#   compare-render.sh <native kestrune-render> <aarch64 kestrune-render>
#                     <aarch64 module folder> <work folder> <emulator...>
set -euo pipefail
native="$1" arm="$2" arm_modules="$3" work="$4"
shift 4
emulator=("$@")
native_presets="$(dirname "$native")/../../presets"
arm_presets="$arm_modules/../presets"

rm -rf "$work"
mkdir -p "$work/in" "$work/native" "$work/arm64"
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A second of plucked strings retriggered every quarter second (a transient
# for the detector each time), and a kick-like sweep twice a second for the
# sidechain: short, since the emulator is slow, but every stage (attack,
# release, oversampled saturation) is exercised.
sox -n -r 44100 -c 2 -b 24 in/track.wav synth 0.25 pluck A2 pluck E3 repeat 3
sox -n -r 44100 -c 2 -b 24 in/kick.wav synth 0.5 sine 150-40 fade q 0.002 0.5 0.4 repeat 1

# render <name> <render arguments...>: both builds, then the bytes compared.
render() {
  local name="$1"; shift
  "$native" "$@" -o "native/$name.raw" --no-pictures --no-progress -q >/dev/null ||
    { fail "$name: the native render failed"; return; }
  "${emulator[@]}" "$arm" "$@" -o "arm64/$name.raw" --no-pictures --no-progress -q >/dev/null ||
    { fail "$name: the aarch64 render failed"; return; }
  if cmp -s "native/$name.raw" "arm64/$name.raw"; then
    echo "identical: $name ($(stat -c %s "native/$name.raw") bytes)"
  else
    fail "$name: outputs differ: $(cmp "native/$name.raw" "arm64/$name.raw" 2>&1 | head -1)"
  fi
}

render embedded --sample-format float

count=0
for preset in "$native_presets"/vst3/*.vstpreset; do
  name="$(basename "$preset" .vstpreset)"
  count=$((count + 1))
  if ! cmp -s "$preset" "$arm_presets/vst3/$name.vstpreset"; then
    fail "preset file $name.vstpreset: the aarch64 build wrote other bytes"
  fi
  # Each build reads the preset file it wrote; Bass Ducked by Kick listens
  # to the kick on its sidechain.
  sidechain=()
  [[ "$name" == *Kick* ]] && sidechain=(--sidechain in/kick.wav)
  "$native" in/track.wav "${sidechain[@]}" --preset "$preset" -o "native/preset-$count.raw" \
    --sample-format float --no-pictures --no-progress -q >/dev/null ||
    fail "preset $name: the native render failed"
  "${emulator[@]}" "$arm" in/track.wav "${sidechain[@]}" --preset "$arm_presets/vst3/$name.vstpreset" \
    -o "arm64/preset-$count.raw" --sample-format float --no-pictures --no-progress -q >/dev/null ||
    fail "preset $name: the aarch64 render failed"
  cmp -s "native/preset-$count.raw" "arm64/preset-$count.raw" && echo "identical: preset $name" ||
    fail "preset $name: outputs differ"
done
[ "$count" -eq 6 ] || fail "$count factory presets found in $native_presets/vst3, not 6"

render sidechain in/track.wav --sidechain in/kick.wav --set Sidechain=ext --set INPUT=30 \
  --sample-format float

typed=(in/track.wav --set INPUT=40dB --set "MID FREQ=2.5kHz" --set RATIO=8:1 --set ATTACK=0.8ms
       --set RELEASE=150ms --set HPF=120Hz --set OUTPUT=-3dB --set MIX=70% --set SLAM=on --block 333)
render typed-vst3 "${typed[@]}" --set OVERSAMPLING=16x --precision 64 --sample-format double
render typed-vst2 "${typed[@]}" --format vst2 --precision 64 --sample-format double
# LV2 processes in 32 bits only; its ports take numbers in their units.
render typed-lv2 in/track.wav --format lv2 --set INPUT=40 --set RATIO=8 --set SLAM=on \
  --sample-format float
if [ -e "$arm_modules/Kestrune.clap" ]; then
  render typed-clap "${typed[@]}" --format clap --sample-format float
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures comparison(s) failed"
  exit 1
fi
echo "all outputs bit-identical"
