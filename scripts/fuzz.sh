#!/usr/bin/env bash
# Looks for new faults: builds the fuzz targets (clang, libFuzzer, ASan/UBSan)
# and fuzzes each for a while, as many at a time as there are cores, from a
# random seed (FUZZ_SEED=N picks it; a timed run never repeats exactly). Not
# part of the test command, whose result must not depend on the machine's
# speed; what this finds is minimised into
# tests/fuzz/corpus/<target>/ with its fix, and from then on the test command
# replays it.
#
#   scripts/fuzz.sh [seconds per target, default 300]
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$ROOT/scripts/install-deps.sh"
build_fuzzers "$ROOT/build/fuzz"
JOBS="$JOBS" "$ROOT/tests/fuzz/run-fuzzers.sh" "$ROOT/build/fuzz" --seconds "${1:-300}"
