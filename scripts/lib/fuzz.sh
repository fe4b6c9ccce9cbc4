# Builds one libFuzzer target of the clang build (preset fuzz, build/fuzz) and
# runs it for a bounded time; sourced by the fuzz stages in scripts/checks.
#   run_fuzzer TARGET SECONDS SEED_DIR [libFuzzer options...]
# New inputs go to the build tree; the stored seeds are only read. A failure
# prints the end of the log and leaves the input in build/fuzz/.
run_fuzzer() {
  local target=$1 seconds=$2 seeds=$3
  shift 3
  local build=build/fuzz
  local jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs" --target "$target" >/dev/null

  local program corpus=$build/$target-corpus log=$build/$target.log status=0
  program=$(find "$build/tests" -type f -executable -name "$target" -print -quit)
  [[ -n "$program" ]] || { echo "$target: no program built in $build/tests" >&2; return 1; }
  mkdir -p "$corpus"
  "$program" "$corpus" "$seeds" "$@" -timeout=10 -rss_limit_mb=2048 \
    -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/" >"$log" 2>&1 || status=$?
  if ((status != 0)); then
    grep -v -E '^\s+NEW_FUNC' "$log" | tail -n 40
    echo "$target failed; reproduce with: $program $build/crash-*" >&2
    return 1
  fi
  grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|new_units_added))' "$log"
}
