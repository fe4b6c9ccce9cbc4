#!/usr/bin/env bash
# Builds the release tree and runs every benchmark: instruction counts under
# callgrind, Google Benchmark, udmhost against ngspice. Writes
# docs/performance.md and docs/performance_oscillators.png. Takes about ten
# minutes on two cores; not part of CI.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/release}
# ngspice, valgrind, gnuplot, Google Benchmark and the rest, as the tests do.
scripts/deps.sh
mkdir -p docs
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUDM_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j 2 --target udmhost vcswitch udmmain_bench udmmain_call_counter platform_lock_bench
python3 bench/report.py "$build"
# Every switch in one strongly connected part: oscillators coupled in a ring.
python3 bench/coupled.py "$build" 16 64 256
# Every switch and diode in one part: the interleaved buck, each run bounded
# by UDM_BENCH_TIMEOUT seconds (default 600; N = 256 takes longer on two cores).
python3 bench/interleaved_buck.py "$build" 16 64 256
# MOSFETs: the synchronous buck example for 1 ms.
python3 bench/mosfet_buck.py "$build"
# MOSFETs: points per switching edge on the MOSFET examples.
python3 bench/mosfet_edges.py "$build"
