#!/usr/bin/env bash
# The test command skips a stage only while nothing its tests read has
# changed: any edit, new file, package or setting makes it run again.
# Run as the test command runs it: errexit and pipefail, in an environment
# that may hold none of the settings the digest reads.
set -euo pipefail
source "$1"
unset FUZZ_RUNS KESTRUNE_RETEST
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
ROOT="$work/tree" LOGS="$work/logs"
mkdir -p "$ROOT" "$LOGS"
git -C "$ROOT" init -q && echo one >"$ROOT/a.cpp" && git -C "$ROOT" add a.cpp
INPUTS="$(inputs_digest)"  # as the test command takes it: a failure here ends the command
failures=0
expect() {  # expect <yes|no> <what>: whether the stage counts as unchanged
  local got=no
  INPUTS="$(inputs_digest)"
  unchanged stage && got=yes
  [ "$got" = "$1" ] || { echo "FAIL: $2: unchanged=$got"; failures=$((failures + 1)); }
}
expect no "never passed"
INPUTS="$(inputs_digest)"; remember_pass stage "12 tests passed"
expect yes "passed, nothing changed since"
[ "$(tests_of stage false)" = "$(printf 'unchanged since it passed at %s; not run again:\n12 tests passed' \
  "$(sed -n 2p "$LOGS/stage.passed")")" ] || { echo "FAIL: the skipped stage does not show its passing run"; failures=$((failures + 1)); }
echo two >"$ROOT/a.cpp"
expect no "a tracked file edited"
INPUTS="$(inputs_digest)"; remember_pass stage "passed"
echo new >"$ROOT/b.cpp"
expect no "a new file beside them"
INPUTS="$(inputs_digest)"; remember_pass stage "passed"
FUZZ_RUNS=5 expect no "another fuzzing setting"
KESTRUNE_RETEST=1 expect no "asked to run everything again"
forget_pass stage
expect no "the stage failed since"
[ "$failures" = 0 ] && echo "stage cache: all cases hold"
exit "$failures"
