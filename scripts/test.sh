#!/usr/bin/env bash
# Builds and runs every test: the warnings-as-errors build (preset release),
# the ASan+UBSan build (preset sanitize), then every further check in
# scripts/checks/ (in name order).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/deps.sh
jobs=$(nproc)

# One build of CMakePresets.json and its suite: every test but the
# cross-checks against outside tools (labels ngspice and windres), which
# scripts/checks/45-*.sh run once, on the release build.
run_suite() {  # title, preset
  echo "=== $1"
  cmake --preset "$2" >/dev/null
  cmake --build --preset "$2" -j "$jobs"
  ctest --preset "$2" -j "$jobs"
}

run_suite "tests" release
# Allocation-failure tests need malloc to fail rather than abort (the
# sanitize test preset sets the same); the fuzz stages run with these too.
export ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
run_suite "tests under ASan+UBSan" sanitize

for check in scripts/checks/*.sh; do
  [[ -e "$check" ]] || continue
  echo "=== $(basename "$check" .sh)"
  bash "$check"
done
echo "=== all tests passed"
