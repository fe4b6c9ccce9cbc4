#!/usr/bin/env bash
# Fuzzes whole host sessions against the plug-in (every entry point, every
# phase, bad handles, NaN and infinite values, arbitrary callback answers)
# with libFuzzer under ASan+UBSan for a bounded time (INTERFACE_FUZZ_SECONDS,
# default 75). A broken interface rule, a sanitizer report or a leak fails
# the check and leaves the input in build/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/fuzz.sh
run_fuzzer interface_fuzz "${INTERFACE_FUZZ_SECONDS:-75}" tests/fuzz/interface_corpus -max_len=384
