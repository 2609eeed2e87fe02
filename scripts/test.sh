#!/usr/bin/env bash
# Builds everything and runs every test; the same commit gives the same
# result on every machine (nothing here is bounded by time but a hang):
#   1. native release build: unit tests, host harnesses and the real-host
#      suites;
#   2. the same tests under AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the Windows x64 cross-build of the modules and the installer, and
#      their tests under wine64 with a virtual display (Xvfb); the installer
#      takes the factory presets the native build wrote;
#   4. the fuzz targets (clang, libFuzzer, ASan/UBSan): every seed corpus
#      replayed, then a fixed number of executions per target from a fixed
#      seed. Fuzzing for new inputs is scripts/fuzz.sh.
# The Wine tests mostly wait on Wine and the display, so the fuzz build runs
# beside them. Prints each stage's time; fails when any stage fails.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$ROOT/scripts/install-deps.sh"

stage_start=$SECONDS
stage_done() { echo "== $1: $((SECONDS - stage_start)) s"; stage_start=$SECONDS; }
TEST_JOBS=$((JOBS * 2))  # the editor, Wine and host tests wait more than they compute

echo "== native build and tests"
configure_and_build "$ROOT/build/release" -DCMAKE_BUILD_TYPE=Release
ctest --test-dir "$ROOT/build/release" -j "$TEST_JOBS" --output-on-failure
stage_done "native build and tests"

echo "== sanitizer build and tests"
configure_and_build "$ROOT/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DKESTRUNE_SANITIZE=ON \
  -DKESTRUNE_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$ROOT/build/sanitize" -j "$TEST_JOBS" --output-on-failure
stage_done "sanitizer build and tests"

echo "== Windows x64 cross-build"
# The Windows test programs run under wine64 on a virtual display, in a fresh
# Wine prefix inside build/win64, and compare the modules with the Linux
# reference that the native build's kestrune-linux-reference writes.
configure_and_build "$ROOT/build/win64" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DKESTRUNE_TESTS=ON -DKESTRUNE_BENCH=OFF -DKESTRUNE_PRESET_DIR="$ROOT/build/release/presets" \
  -DKESTRUNE_LINUX_REFERENCE_TOOL="$ROOT/build/release/tests/win/kestrune-linux-reference"
stage_done "Windows x64 cross-build"

echo "== the Windows modules under Wine, beside the fuzz build"
wine_log="$ROOT/build/win64/ctest.log"
ctest --test-dir "$ROOT/build/win64" -j "$TEST_JOBS" --output-on-failure >"$wine_log" 2>&1 &
wine_pid=$!
fuzz_status=0
build_fuzzers "$ROOT/build/fuzz" >"$ROOT/build/fuzz-build.log" 2>&1 || fuzz_status=$?
wine_status=0
wait "$wine_pid" || wine_status=$?
cat "$wine_log"
if [ "$fuzz_status" -ne 0 ]; then
  cat "$ROOT/build/fuzz-build.log"
  echo "== the fuzz build failed" >&2
  exit 1
fi
[ "$wine_status" -eq 0 ] || { echo "== Windows tests under Wine failed" >&2; exit 1; }
stage_done "Wine tests and fuzz build"

echo "== fuzz targets: corpora replayed, then ${FUZZ_RUNS:=4000} executions per target from seed 1"
JOBS="$JOBS" "$ROOT/tests/fuzz/run-fuzzers.sh" "$ROOT/build/fuzz" --runs "$FUZZ_RUNS"
stage_done "fuzz targets"

echo "== all tests passed"
