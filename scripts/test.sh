#!/usr/bin/env bash
# Builds everything and runs every test:
#   1. native release build, all unit tests and host harnesses;
#   2. the same tests under AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the Windows x64 cross-build of the modules.
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

echo "== Windows x64 cross-build"
configure_and_build "$ROOT/build/win64" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DKESTRUNE_TESTS=OFF -DKESTRUNE_BENCH=OFF
if [ -f "$ROOT/build/win64/CTestTestfile.cmake" ]; then
  ctest --test-dir "$ROOT/build/win64" -j "$JOBS" --output-on-failure
fi

echo "== all tests passed"
