# Builds one libFuzzer target of the clang build in build/fuzz and runs it for
# a bounded time; sourced by the fuzz stages in scripts/checks.
#   run_fuzzer TARGET SECONDS SEED_DIR [libFuzzer options...]
# New inputs go to the build tree; the stored seeds are only read. A failure
# prints the end of the log and leaves the input in build/fuzz/.
run_fuzzer() {
  local target=$1 seconds=$2 seeds=$3
  shift 3
  local build=build/fuzz
  local jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUDM_WERROR=ON \
    -DUDM_FUZZ=ON -DUDM_SANITIZE=ON -DUDM_BUILD_TESTS=OFF -DUDM_BUILD_HOST=OFF -DUDM_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" -j "$jobs" --target "$target" >/dev/null

  local corpus=$build/$target-corpus log=$build/$target.log status=0
  mkdir -p "$corpus"
  "$build/tests/fuzz/$target" "$corpus" "$seeds" "$@" -timeout=10 -rss_limit_mb=2048 \
    -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/" >"$log" 2>&1 || status=$?
  if ((status != 0)); then
    grep -v -E '^\s+NEW_FUNC' "$log" | tail -n 40
    echo "$target failed; reproduce with: $build/tests/fuzz/$target $build/crash-*" >&2
    return 1
  fi
  grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|new_units_added))' "$log"
}
