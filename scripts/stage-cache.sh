# shellcheck shell=bash
# The test command's memory of passed stages (sourced by scripts/test.sh).
# A stage whose tests passed is not run again while nothing they could
# depend on has changed: the tree's files (tracked and new, as git lists
# them), the installed packages, the shared checkers and hosts, and the
# environment settings the tests read. Needs ROOT, LOGS and INPUTS (the
# digest below, taken once per run).

# What a stage's result depends on besides its own name, in one digest.
inputs_digest() {
  {
    (cd "$ROOT" && git ls-files -z --cached --others --exclude-standard | sort -z |
      xargs -0 -r sha256sum 2>/dev/null)
    dpkg-query -W -f='${Package}:${Architecture} ${Version}\n'
    find "$ROOT/../shared/tools" -type f -printf '%P %s %T@\n' 2>/dev/null | sort || true
    uname -m
    env | grep -E '^(FUZZ_|KESTRUNE_|ASAN_|UBSAN_|TSAN_|LSAN_)' | sort || true
  } | sha256sum | cut -d' ' -f1
}
stage_key() { printf '%s %s' "$1" "$INPUTS" | sha256sum | cut -d' ' -f1; }
# unchanged <stage>: true when the stage passed with these very inputs.
unchanged() {
  [ "${KESTRUNE_RETEST:-0}" != 1 ] && [ -f "$LOGS/$1.passed" ] &&
    [ "$(head -n1 "$LOGS/$1.passed")" = "$(stage_key "$1")" ]
}
# tests_of <stage> <command...>: the stage's tests, unless unchanged since they passed.
tests_of() {
  local stage="$1"; shift
  if unchanged "$stage"; then
    echo "unchanged since it passed at $(sed -n 2p "$LOGS/$stage.passed"); not run again:"
    sed -n '3,$p' "$LOGS/$stage.passed"
    return 0
  fi
  "$@"
}
# remember_pass <stage> <summary>: the stage passed with these inputs.
remember_pass() {
  { stage_key "$1"; date -u '+%Y-%m-%d %H:%M UTC'; echo "$2"; } >"$LOGS/$1.passed.new" &&
    mv "$LOGS/$1.passed.new" "$LOGS/$1.passed"
}
# forget_pass <stage>: it failed; the next run runs it.
forget_pass() { rm -f "$LOGS/$1.passed"; }
