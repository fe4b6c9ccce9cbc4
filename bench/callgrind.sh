#!/usr/bin/env bash
# Instructions per call under callgrind: each kind of call is run N and 2N
# times; (total(2N) - total(N)) / N is the cost of one call.
#   bench/callgrind.sh [BUILD_DIR] [N]      prints "kind instructions" lines
# With CALLGRIND_ANNOTATE_DIR set, the 2N profile of each kind is annotated
# there (inclusive counts per function) to show where the instructions go.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
calls=${2:-20000}
counter="$build/bench/udmmain_call_counter"
[[ -x "$counter" ]] || { echo "build $counter first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

total() {  # kind, calls -> total instructions of the run
  local out="$work/$1.$2.out"
  valgrind --tool=callgrind --callgrind-out-file="$out" "$counter" "$1" "$2" 2>/dev/null
  awk '/^totals:/ {print $2}' "$out"
}

for kind in deref lock-pair frame evaluate evaluate-expr output; do
  one=$(total "$kind" "$calls")
  two=$(total "$kind" $((2 * calls)))
  awk -v k="$kind" -v a="$one" -v b="$two" -v n="$calls" 'BEGIN {printf "%s %.1f\n", k, (b - a) / n}'
  if [[ -n "${CALLGRIND_ANNOTATE_DIR:-}" ]]; then
    mkdir -p "$CALLGRIND_ANNOTATE_DIR"
    callgrind_annotate --inclusive=yes "$work/$kind.$((2 * calls)).out" >"$work/annotated" 2>/dev/null
    head -40 "$work/annotated" >"$CALLGRIND_ANNOTATE_DIR/$kind.txt"
  fi
done
