#!/usr/bin/env bash
# Builds everything and runs the main job: the embedded test signal through
# the compressor, with a summary of what it did.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$ROOT/scripts/install-deps.sh"
configure_and_build "$ROOT/build/release" -DCMAKE_BUILD_TYPE=Release
"$ROOT/build/release/tools/selfcheck/kestrune-selfcheck"
