#!/usr/bin/env bash
# Runs every fuzz target of a build made with -DKESTRUNE_FUZZ=ON (or of the
# sanitizer build, which has them too; see tests/fuzz/CMakeLists.txt): first each
# target replays its checked-in corpus (tests/fuzz/corpus/<target>), then
# fuzzes from a fixed seed, new inputs going to a scratch corpus inside the
# build folder. Targets run $JOBS at a time. Fails when any target finds a
# crash, a sanitizer report, a leak or a broken invariant; the input is left
# in <build>/fuzz-artifacts and the target's log is printed.
#
#   run-fuzzers.sh <build dir> --runs N      N executions per target: the same
#                                            commit gives the same result on
#                                            every machine (the test command)
#   run-fuzzers.sh <build dir> --seconds S   S seconds per target, looking for
#                                            new inputs (scripts/fuzz.sh)
set -euo pipefail

BUILD="$(cd "$1" && pwd)"
case "${2:-}" in
  # No rereading of the corpus folder once a second: what a reread runs
  # depends on how fast the machine is. No mutations from compared values
  # either: many of the integers the code compares are addresses, which
  # differ from run to run.
  --runs) LIMIT="-runs=$3"; RELOAD=0; USE_CMP=0; SEED=1 ;;
  --seconds) LIMIT="-max_total_time=$3"; RELOAD=1; USE_CMP=1; SEED="${FUZZ_SEED:-0}" ;;  # 0: libFuzzer picks one
  *) echo "usage: $0 <build dir> --runs N | --seconds S" >&2; exit 2 ;;
esac
JOBS="${JOBS:-$(nproc)}"
CORPORA="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/corpus"
WORK="$BUILD/fuzz-work"
ARTIFACTS="$BUILD/fuzz-artifacts"
rm -rf "$WORK" "$ARTIFACTS"
mkdir -p "$WORK" "$ARTIFACTS"

export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# run_target <name>: replay, then fuzz; the log goes to $WORK/<name>.log.
# The -timeout only catches a hang (an input running for a minute).
run_target() {
  local name="$1"
  local binary="$BUILD/tests/fuzz/fuzz_$name"
  local log="$WORK/$name.log"
  mkdir -p "$WORK/$name"
  {
    echo "-- replay"
    "$binary" -runs=0 -artifact_prefix="$ARTIFACTS/$name-" "$CORPORA/$name" &&
    echo "-- fuzz" &&
    "$binary" -seed="$SEED" "$LIMIT" -reload="$RELOAD" -use_cmp="$USE_CMP" -timeout=60 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$ARTIFACTS/$name-" "$WORK/$name" "$CORPORA/$name" &&
    echo "-- done"
  } >"$log" 2>&1
}
export -f run_target
export BUILD LIMIT RELOAD USE_CMP SEED CORPORA WORK ARTIFACTS

targets=()
for dir in "$CORPORA"/*/; do targets+=("$(basename "$dir")"); done

start=$SECONDS
status=0
printf '%s\n' "${targets[@]}" | xargs -P "$JOBS" -I{} bash -c 'run_target {}' || status=$?

fault='ERROR: |runtime error|fuzz invariant failed|Test unit written|deadly signal'
printf '%-14s %10s %12s  %s\n' target seeds executions result
for name in "${targets[@]}"; do
  log="$WORK/$name.log"
  seeds=$(ls "$CORPORA/$name" | wc -l)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  result=ok
  { grep -qE "$fault" "$log" || ! grep -q '^-- done$' "$log"; } && result=FAILED
  printf '%-14s %10s %12s  %s\n' "$name" "$seeds" "${runs:--}" "$result"
done
echo "fuzzing took $((SECONDS - start)) s"

if [ "$status" -ne 0 ]; then
  for name in "${targets[@]}"; do
    log="$WORK/$name.log"
    if ! grep -qE "$fault" "$log" && ! grep -q '^-- done$' "$log"; then
      echo "== $name did not finish; log $log ends:"
      tail -4 "$log"
    elif grep -qE "$fault" "$log"; then
      echo "== $name found a fault; log $log, inputs in $ARTIFACTS:"
      grep -E "fuzz invariant failed|ERROR: |runtime error|Test unit written" "$log" | head -4
      grep -E "^ *#[0-9]+ .* in " "$log" |
        grep -vE "__sanitizer|__asan|__ubsan|fuzzer::|libc\.so|pthread_kill|raise\.c|abort\.c" | head -6
    fi
  done
  echo "To keep a fault found: minimise it with" \
       "'$BUILD/tests/fuzz/fuzz_<target> -minimize_crash=1 -runs=20000 <input>'," \
       "fix the code, and add the minimised input to tests/fuzz/corpus/<target>/."
  exit 1
fi
