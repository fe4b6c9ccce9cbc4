#!/usr/bin/env bash
# The example circuits against ngspice (its S switch): switching instants and
# waveforms. Uses the release build of scripts/test.sh; about 10 s on 2 cores.
set -euo pipefail
cd "$(dirname "$0")/../.."
command -v ngspice >/dev/null || { echo "45-crosscheck: ngspice is not installed" >&2; exit 1; }
cmake -S . -B build/release >/dev/null
cmake --build build/release -j 2 --target udmhost vcswitch >/dev/null
cd build/release
# Only the example cross-checks: 40-host-crosscheck.sh runs the host's own.
ctest --output-on-failure -L crosscheck -R '^crosscheck\.'
