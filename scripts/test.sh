#!/usr/bin/env bash
# Builds everything and runs every test; the same commit gives the same
# result on every machine (nothing here is bounded by time but a hang):
#   1. native release build: unit tests, host harnesses and the real-host
#      suites (tests/hosts);
#   2. the same tests under AddressSanitizer and UndefinedBehaviorSanitizer
#      (clang), each test program in one process;
#   3. the Windows x64 cross-build of the modules and the installer, and
#      their tests under wine64 with a virtual display (Xvfb); the installer
#      takes the factory presets the native build wrote;
#   4. the fuzz targets (libFuzzer), built inside the sanitizer build: every
#      seed corpus replayed, then a fixed number of executions per target
#      from a fixed seed. Fuzzing for new inputs is scripts/fuzz.sh, on a
#      build with coverage hooks throughout;
#   5. the real-time thread contract under ThreadSanitizer: the three modules
#      and the one program that hosts them (tests/tsan), each editor open at
#      2x while audio, automation and state run on their own threads; the
#      first data race fails the stage;
#   6. the 64-bit ARM Linux cross-build, only what its checks use beyond
#      what the main job built, and those checks (ctest -L arm64) under
#      qemu-aarch64: the signal path's tests and kestrune-render's output
#      compared with the native build's.
# A stage whose tests passed is not run again while nothing they could
# depend on has changed (scripts/stage-cache.sh); its last passing run is
# shown instead. KESTRUNE_RETEST=1 runs every stage whatever.
# Stages overlap: each stage's tests run while the next builds (much of
# their time is spent waiting on displays, Wine and real hosts), and the
# Windows and ARM cross-builds run beside the sanitizer build. Their output goes to
# build/logs/<stage>.log and is shown when they end; the command fails when
# any stage fails, and prints each stage's time.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$ROOT/scripts/install-deps.sh"

LOGS="$ROOT/build/logs"
mkdir -p "$LOGS"

source "$ROOT/scripts/stage-cache.sh"
INPUTS="$(inputs_digest)"
start=$SECONDS
declare -A pids begun
failed=()
trap 'kill $(jobs -p) 2>/dev/null || true' EXIT  # a failed build leaves no tests running

# cpu_time: sets CPU_S to the processor time this shell's finished commands
# took, user and system: what a stage costs whatever else the machine was
# doing. ("times" must run in this shell, not in a command substitution.)
cpu_time() {
  local file
  file="$(mktemp)"
  times >"$file"
  CPU_S="$(awk 'NR == 2 { for (i = 1; i <= NF; i++) { split($i, t, /[ms]/); s += t[1] * 60 + t[2] } }
                END { printf "%.0f", s }' "$file")"
  rm -f "$file"
}

# in_background <stage> <command...>: runs the command with its output in
# the stage's log.
in_background() {
  local stage="$1"; shift
  begun[$stage]=$SECONDS
  ( "$@"; status=$?
    cpu_time; echo "$((SECONDS - ${begun[$stage]})) s, $CPU_S CPU-s" >"$LOGS/$stage.time"; exit $status ) \
    >"$LOGS/$stage.log" 2>&1 &
  pids[$stage]=$!
}
# finish <stage>: waits for it and shows how it went.
finish() {
  local stage="$1" status=0
  wait "${pids[$stage]}" || status=$?
  echo "== $stage: $(cat "$LOGS/$stage.time" 2>/dev/null || echo "? s"), $([ $status -eq 0 ] && echo passed || echo FAILED)"
  if [ $status -eq 0 ]; then
    local summary
    summary="$(grep -E "tests passed|Total Test time|fuzzing took|^[a-z0-9_]+ +[0-9]+ +[0-9]+ +ok$|^\[  PASSED  \]|^unchanged since" "$LOGS/$stage.log" || true)"
    echo "$summary"
    grep -q '^unchanged since' <<<"$summary" || remember_pass "$stage" "$summary"
  else
    cat "$LOGS/$stage.log"
    forget_pass "$stage"
    failed+=("$stage")
  fi
}
build() {
  local stage="$1"; shift
  local t=$SECONDS
  echo "== $stage"
  ( configure_and_build "$@"; cpu_time; echo "== $stage: $((SECONDS - t)) s, $CPU_S CPU-s" )
}
run_ctest() { ctest --test-dir "$1" -j "$JOBS" --output-on-failure; }

# The Windows test programs run under wine64 on a virtual display, in a fresh
# Wine prefix inside build/win64, and compare the modules with the Linux
# reference that the native build's kestrune-linux-reference writes.
windows() {
  windows_build && echo "== Windows x64 cross-build done" &&
    tests_of "Windows x64 cross-build and tests under Wine" run_ctest "$ROOT/build/win64"
}

# Only the thread-contract program and the modules it loads, at -O1.
thread_sanitizer() {
  configure_and_build "$ROOT/build/tsan" -DCMAKE_BUILD_TYPE=Debug -DKESTRUNE_TSAN=ON "${UNITY[@]}" \
    -DKESTRUNE_BENCH=OFF -DKESTRUNE_DRAWN_IMAGE_PACKS="$ROOT/build/release/graphics/scaled-images" \
    -- tsan_thread_contract &&
    tests_of "thread sanitizer" env TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
      "$ROOT/build/tsan/tests/tsan/tsan_thread_contract"
}

# The aarch64 targets that ctest -L arm64 runs (kestrune_arm64_checks), with
# the native build's editor images and its kestrune-render to compare with.
arm64() {
  arm64_build -- kestrune_arm64_checks &&
    tests_of "arm64 cross-build and tests under qemu" \
      ctest --test-dir "$ROOT/build/arm64" -L arm64 -j "$JOBS" --output-on-failure
}

build "release build" "$ROOT/build/release" -DCMAKE_BUILD_TYPE=Release
in_background "release tests" tests_of "release tests" run_ctest "$ROOT/build/release"

# The Windows and ARM cross-builds and their tests, beside the sanitizer
# build: each build leaves a core idle at times (links, its longest files),
# and Wine and the hosts wait much of theirs.
in_background "Windows x64 cross-build and tests under Wine" windows
in_background "arm64 cross-build and tests under qemu" arm64

# clang: it compiles this build in two thirds of GCC's time, and builds the
# fuzz targets with it (libFuzzer is clang's).
build "sanitizer build" "$ROOT/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DKESTRUNE_SANITIZE=ON "${UNITY[@]}" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKESTRUNE_BENCH=OFF -DKESTRUNE_DRAWN_IMAGE_PACKS="$ROOT/build/release/graphics/scaled-images"
in_background "fuzz targets" tests_of "fuzz targets" env JOBS="$JOBS" "$ROOT/tests/fuzz/run-fuzzers.sh" \
  "$ROOT/build/sanitize" --runs "${FUZZ_RUNS:-1000}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
in_background "sanitizer tests" tests_of "sanitizer tests" run_ctest "$ROOT/build/sanitize"
in_background "thread sanitizer" thread_sanitizer
finish "release tests"
finish "sanitizer tests"
finish "Windows x64 cross-build and tests under Wine"
finish "fuzz targets"
finish "thread sanitizer"
finish "arm64 cross-build and tests under qemu"

cpu_time
echo "== $((SECONDS - start)) s in all, $CPU_S CPU-s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "== FAILED: ${failed[*]}" >&2
  exit 1
fi
echo "== all tests passed"
