#!/usr/bin/env bash
# Fuzzes the reference host past its reader: accepted netlists run a short
# transient simulation (bounded stop time and step count) with the switch
# plug-in and go through every writer, under ASan+UBSan, for a bounded time
# (SIMULATION_FUZZ_SECONDS, default 30). Failures leave the input in build/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/fuzz.sh
run_fuzzer simulation_fuzz "${SIMULATION_FUZZ_SECONDS:-30}" tests/fuzz/netlist_corpus \
  -dict=tests/fuzz/netlist.dict -max_len=2048
