#!/usr/bin/env bash
# The main job: installs the build dependencies, builds everything, installs
# the plug-ins into the per-user plug-in folders (~/.vst3 and ~/.vst) and
# renders the embedded drums and bass through the installed VST3 plug-in with
# kestrune-render, printing where the audio and the pictures went.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$ROOT/scripts/install-deps.sh"
configure_and_build "$ROOT/build/release" -DCMAKE_BUILD_TYPE=Release

modules="$ROOT/build/release/modules"
vst3_dir="$HOME/.vst3"
vst2_dir="$HOME/.vst"
mkdir -p "$vst3_dir" "$vst2_dir"
# Copy beside the target, then rename over it, so a host never sees half a
# module.
rm -rf "$vst3_dir/.Kestrune.vst3.new"
cp -R "$modules/Kestrune.vst3" "$vst3_dir/.Kestrune.vst3.new"
rm -rf "$vst3_dir/Kestrune.vst3"
mv "$vst3_dir/.Kestrune.vst3.new" "$vst3_dir/Kestrune.vst3"
cp "$modules/vst2/Kestrune.so" "$vst2_dir/.Kestrune.so.new"
mv -f "$vst2_dir/.Kestrune.so.new" "$vst2_dir/Kestrune.so"
echo "installed: $vst3_dir/Kestrune.vst3"
echo "installed: $vst2_dir/Kestrune.so"

out="$ROOT/out/render"
mkdir -p "$out"
"$ROOT/build/release/tools/render/kestrune-render" \
  --module "$vst3_dir/Kestrune.vst3" -o "$out/kestrune-default.wav"
