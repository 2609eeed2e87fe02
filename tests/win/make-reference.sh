#!/usr/bin/env bash
# Writes the Linux build's reference (golden audio cases, image pixel hashes,
# and the editor as kestrune-render draws it at 1.5x and 2x) into a fresh
# folder. Without the native tool the folder stays empty and the Windows tests
# that compare with Linux report themselves skipped; without the native build's
# render tool and VST3 module, only the pictures are missing (and skipped).
set -u
tool="$1"
out="$2"
rm -rf "$out"
mkdir -p "$out"
if [ -z "$tool" ] || [ ! -x "$tool" ]; then
  echo "make-reference: no native kestrune-linux-reference given; Linux comparisons are skipped"
  exit 0
fi
"$tool" "$out" || exit 1
build="$(cd "$(dirname "$tool")/../.." && pwd)"
render="$build/tools/render/kestrune-render"
module="$build/modules/Kestrune.vst3"
if [ ! -x "$render" ] || [ ! -d "$module" ]; then
  echo "make-reference: no native kestrune-render or VST3 module; editor pictures are skipped"
  exit 0
fi
# Silence leaves the meter at rest: the picture of the default settings.
sox -q -n -r 44100 -c 2 -b 16 "$out/silence.wav" trim 0 512s || exit 1
for scale in 1.5 2; do
  "$render" --module "$module" --format vst3 --editor-scale "$scale" \
    --editor-png "$out/editor-$scale.png" --no-progress -q -o "$out/render-$scale.wav" \
    --plot-png "$out/plot-$scale.png" "$out/silence.wav" || exit 1
done
