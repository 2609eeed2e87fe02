#!/usr/bin/env bash
# The main job: installs the build dependencies, builds everything we ship
# (the Linux x86-64 modules, tools, archive and Debian package; the Windows
# x64 modules and installer; the 64-bit ARM Linux archive, package and
# kestrune-render), installs
# the plug-ins and factory presets into the per-user plug-in folders
# (~/.vst3 and ~/.vst) and renders the embedded drums and bass
# through the installed VST3 plug-in with kestrune-render, printing where the
# audio and the pictures went.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$ROOT/scripts/install-deps.sh"
configure_and_build "$ROOT/build/release" -DCMAKE_BUILD_TYPE=Release
# The other platforms' release files, from the presets and editor images the
# native build wrote: build/win64/Kestrune-*-win64-setup.exe,
# build/arm64/Kestrune-*-linux-aarch64.tar.gz and kestrune_*_arm64.deb; and
# the ARM build's kestrune-render (build/arm64/tools/render).
windows_build -- kestrune_installer
arm64_build -- kestrune_release_files kestrune-render

# The per-user install of the release archive (its install.sh, from the
# folder the build packed): ~/.vst3 and ~/.vst, and the factory
# presets. Each file is copied beside its target and renamed over it, so a
# host never sees half a module.
installers=("$ROOT"/build/release/archive/Kestrune-*-linux-x86_64/install.sh)
"${installers[0]}"
vst3_dir="$HOME/.vst3"

out="$ROOT/out/render"
mkdir -p "$out"
"$ROOT/build/release/tools/render/kestrune-render" \
  --module "$vst3_dir/Kestrune.vst3" -o "$out/kestrune-default.wav"
