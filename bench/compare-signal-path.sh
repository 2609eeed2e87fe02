#!/bin/bash
# Compares the signal path's cost with that of an older commit on the same
# machine at the same moment: builds the older commit's benchmark in a git
# worktree of its own, then runs the older and the current benchmark in
# turns (a shared machine's load drifts more between runs minutes apart than
# the difference measured) and prints, per case, the least ns per frame of
# each and their ratio. Not part of the test command: it measures speed.
#
#   bench/compare-signal-path.sh <older commit> [rounds] [benchmark filter]
#
# The current benchmark is build/release's (built here if missing; set
# CURRENT_BENCH to use another). The older commit's tree and build stay in
# ${TMPDIR:-/tmp}/kestrune-compare-<commit> for the next comparison; remove
# it with `git worktree remove --force <that folder>`.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
[ $# -ge 1 ] || { sed -n '2,14p' "$0"; exit 2; }
OLDER=$(git -C "$ROOT" rev-parse --verify "$1^{commit}")
ROUNDS=${2:-5}
FILTER=${3:-^Optimised/}

CURRENT_BENCH=${CURRENT_BENCH:-$ROOT/build/release/bench/kestrune-bench}
if [ ! -x "$CURRENT_BENCH" ]; then
  configure_and_build "$ROOT/build/release" -DCMAKE_BUILD_TYPE=Release -- kestrune-bench
fi

TREE="${TMPDIR:-/tmp}/kestrune-compare-${OLDER:0:12}"
if [ ! -d "$TREE" ]; then
  git -C "$ROOT" worktree add --detach "$TREE" "$OLDER" >/dev/null
fi
# Paths inside that tree are hashed relative to it, so the compiler cache
# serves every file the two commits share.
(
  export CCACHE_BASEDIR="$TREE"
  cmake -S "$TREE" -B "$TREE/build/bench" "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DKESTRUNE_TESTS=OFF >/dev/null
  cmake --build "$TREE/build/bench" -j "$JOBS" --target kestrune-bench >/dev/null
)
OLDER_BENCH="$TREE/build/bench/bench/kestrune-bench"

RESULTS=$(mktemp -d)
trap 'rm -rf "$RESULTS"' EXIT
for round in $(seq "$ROUNDS"); do
  for side in older current; do
    if [ "$side" = older ]; then bench=$OLDER_BENCH; else bench=$CURRENT_BENCH; fi
    "$bench" --benchmark_filter="$FILTER" --benchmark_format=json \
      >"$RESULTS/$side-$round.json" 2>/dev/null
  done
done

python3 - "$RESULTS" "$OLDER" "$(git -C "$ROOT" rev-parse --short HEAD)" <<'PY'
import glob, json, os, sys
folder, older, current = sys.argv[1], sys.argv[2][:12], sys.argv[3]
best = {}
for path in sorted(glob.glob(os.path.join(folder, "*.json"))):
    side = os.path.basename(path).split("-")[0]
    for b in json.load(open(path))["benchmarks"]:
        if b.get("run_type", "iteration") != "iteration" or "ns_per_frame" not in b:
            continue
        key = (b["name"], side)
        best[key] = min(best.get(key, float("inf")), b["ns_per_frame"])
names = list(dict.fromkeys(name for name, _ in best))
print(f"least CPU ns per frame over the rounds; older {older}, current {current}")
print(f"{'case':34} {'older':>9} {'current':>9} {'current/older':>14}")
for name in names:
    o, c = best.get((name, "older")), best.get((name, "current"))
    if o is None or c is None:
        shown = ["-" if v is None else f"{v:.2f}" for v in (o, c)]
        print(f"{name:34} {shown[0]:>9} {shown[1]:>9}")
        continue
    print(f"{name:34} {o:9.2f} {c:9.2f} {c / o:14.3f}")
PY
