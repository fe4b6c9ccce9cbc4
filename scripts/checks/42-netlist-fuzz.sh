#!/usr/bin/env bash
# Fuzzes the reference host's netlist reader with libFuzzer under ASan+UBSan
# for a bounded time (NETLIST_FUZZ_SECONDS, default 30): every text must give
# a circuit or a clear error. Failures leave the input in build/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${NETLIST_FUZZ_SECONDS:-30}
build=build/fuzz
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUDM_WERROR=ON \
  -DUDM_FUZZ=ON -DUDM_SANITIZE=ON -DUDM_BUILD_TESTS=OFF -DUDM_BUILD_HOST=OFF -DUDM_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target netlist_fuzz >/dev/null

corpus=$build/netlist-corpus
mkdir -p "$corpus"
log=$build/netlist-fuzz.log
status=0
"$build/tests/fuzz/netlist_fuzz" "$corpus" tests/fuzz/netlist_corpus -dict=tests/fuzz/netlist.dict \
  -max_len=2048 -timeout=10 -rss_limit_mb=2048 -max_total_time="$seconds" \
  -print_final_stats=1 -artifact_prefix="$build/" >"$log" 2>&1 || status=$?
if ((status != 0)); then
  grep -v -E '^\s+NEW_FUNC' "$log" | tail -n 40
  echo "netlist fuzzing failed; reproduce with: $build/tests/fuzz/netlist_fuzz $build/crash-*" >&2
  exit 1
fi
grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|new_units_added))' "$log"
