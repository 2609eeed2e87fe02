#!/usr/bin/env bash
# Builds everything and runs every test:
#   1. native release build, all unit tests and host harnesses;
#   2. the same tests under AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the Windows x64 cross-build of the modules and the installer, and
#      their tests under wine64 with a virtual display (Xvfb); the installer
#      takes the factory presets the native build wrote;
#   4. the fuzz targets (clang, libFuzzer, ASan/UBSan): every seed corpus
#      replayed, then each target fuzzed for 20 s from a fixed seed.
# Fails on the first failure.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$ROOT/scripts/install-deps.sh"

echo "== native build and tests"
configure_and_build "$ROOT/build/release" -DCMAKE_BUILD_TYPE=Release
ctest --test-dir "$ROOT/build/release" -j "$JOBS" --output-on-failure

echo "== sanitizer build and tests"
configure_and_build "$ROOT/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DKESTRUNE_SANITIZE=ON \
  -DKESTRUNE_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$ROOT/build/sanitize" -j "$JOBS" --output-on-failure

echo "== Windows x64 cross-build and the Windows modules under Wine"
# The Windows test programs run under wine64 on a virtual display, in a fresh
# Wine prefix inside build/win64, and compare the modules with the Linux
# reference that the native build's kestrune-linux-reference writes.
configure_and_build "$ROOT/build/win64" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DKESTRUNE_TESTS=ON -DKESTRUNE_BENCH=OFF -DKESTRUNE_PRESET_DIR="$ROOT/build/release/presets" \
  -DKESTRUNE_LINUX_REFERENCE_TOOL="$ROOT/build/release/tests/win/kestrune-linux-reference"
ctest --test-dir "$ROOT/build/win64" -j "$JOBS" --output-on-failure

echo "== fuzz targets: corpora replayed, then ${FUZZ_SECONDS:-20} s of fuzzing per target"
# Only the fuzzers are built here: the shipped modules' link checks expect the
# sanitizer runtimes inside each module, which clang keeps in the executable.
cmake -S "$ROOT" -B "$ROOT/build/fuzz" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKESTRUNE_FUZZ=ON -DKESTRUNE_TESTS=OFF -DKESTRUNE_BENCH=OFF >/dev/null
cmake --build "$ROOT/build/fuzz" -j "$JOBS" --target kestrune_fuzzers
JOBS="$JOBS" "$ROOT/tests/fuzz/run-fuzzers.sh" "$ROOT/build/fuzz" "${FUZZ_SECONDS:-20}"

echo "== all tests passed"
