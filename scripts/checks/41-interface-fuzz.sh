#!/usr/bin/env bash
# Fuzzes whole host sessions against the plug-in (every entry point, every
# phase, bad handles, NaN and infinite values, arbitrary callback answers)
# with libFuzzer under ASan+UBSan for a bounded time (INTERFACE_FUZZ_SECONDS,
# default 75). A broken interface rule, a sanitizer report or a leak fails
# the check and leaves the input in build/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${INTERFACE_FUZZ_SECONDS:-75}
build=build/fuzz
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUDM_WERROR=ON \
  -DUDM_FUZZ=ON -DUDM_SANITIZE=ON -DUDM_BUILD_TESTS=OFF -DUDM_BUILD_HOST=OFF -DUDM_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target interface_fuzz >/dev/null

# New inputs go to the build tree; the stored seeds are only read.
corpus=$build/interface-corpus
mkdir -p "$corpus"
log=$build/interface-fuzz.log
status=0
"$build/tests/fuzz/interface_fuzz" "$corpus" tests/fuzz/interface_corpus \
  -max_len=384 -timeout=10 -rss_limit_mb=2048 -max_total_time="$seconds" \
  -print_final_stats=1 -artifact_prefix="$build/" >"$log" 2>&1 || status=$?
if ((status != 0)); then
  tail -n 40 "$log"
  echo "interface fuzzing failed; reproduce with: $build/tests/fuzz/interface_fuzz $build/crash-*" >&2
  exit 1
fi
grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|new_units_added))' "$log"
