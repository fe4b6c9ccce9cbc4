#!/usr/bin/env bash
# Every test that needs ngspice (label ngspice), on the release build: the
# example circuits against ngspice's S switch (switching instants and
# waveforms), udmhost's raw files loaded back by ngspice, and the comparison
# tools themselves, and the published decks of tests/crosscheck/published
# (about 2 min: their fine ngspice references dominate).
set -euo pipefail
cd "$(dirname "$0")/../.."
command -v ngspice >/dev/null || { echo "45-crosscheck: ngspice is not installed (scripts/packages.txt)" >&2; exit 1; }
cmake --preset release >/dev/null
cmake --build --preset release -j 2 --target udmhost vcswitch udmdiode raw_ngspice_tests >/dev/null
ctest --preset ngspice -j 2
