#!/usr/bin/env bash
# Fuzzes the parameter value parser with libFuzzer under ASan+UBSan for a
# bounded time (PARSER_FUZZ_SECONDS, default 60). Any broken property or
# sanitizer report fails the check and leaves the input in build/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/fuzz.sh
run_fuzzer value_parser_fuzz "${PARSER_FUZZ_SECONDS:-60}" tests/parser/fuzz_corpus \
  -dict=tests/parser/value_parser.dict -max_len=256
