#!/usr/bin/env bash
# Fuzzes the reference host's netlist reader with libFuzzer under ASan+UBSan
# for a bounded time (NETLIST_FUZZ_SECONDS, default 30): every text must give
# a circuit or a clear error. Failures leave the input in build/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/fuzz.sh
run_fuzzer netlist_fuzz "${NETLIST_FUZZ_SECONDS:-30}" tests/fuzz/netlist_corpus \
  -dict=tests/fuzz/netlist.dict -max_len=2048
