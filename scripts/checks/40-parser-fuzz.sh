#!/usr/bin/env bash
# Fuzzes the parameter value parser with libFuzzer under ASan+UBSan for a
# bounded time (PARSER_FUZZ_SECONDS, default 60). Any broken property or
# sanitizer report fails the check and leaves the input in build/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${PARSER_FUZZ_SECONDS:-60}
out=build/fuzz
mkdir -p "$out/corpus"

clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion -Werror \
  -Imodel -Itests/parser \
  model/value_parser.cpp tests/parser/parser_properties.cpp tests/parser/fuzz_text.cpp \
  tests/parser/value_parser_fuzz.cpp \
  -o "$out/value_parser_fuzz"

# New inputs go to the build tree; the stored seeds are only read.
log="$out/fuzz.log"
status=0
"$out/value_parser_fuzz" "$out/corpus" tests/parser/fuzz_corpus \
  -dict=tests/parser/value_parser.dict -max_len=256 -timeout=10 -rss_limit_mb=2048 \
  -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$out/" >"$log" 2>&1 || status=$?
if ((status != 0)); then
  tail -n 40 "$log"
  echo "parser fuzzing failed; reproduce with: $out/value_parser_fuzz $out/crash-*" >&2
  exit 1
fi
grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|new_units_added))' "$log"
