#!/usr/bin/env bash
# Tests of the host that need ngspice (raw files loaded back, and
# comparisons with ngspice's own results), on the release build.
set -euo pipefail
cd "$(dirname "$0")/../.."
command -v ngspice >/dev/null || { echo "ngspice is not installed (scripts/packages.txt)"; exit 1; }
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUDM_WERROR=ON >/dev/null
cmake --build build/release -j 2
cd build/release
ctest --output-on-failure -j 2 -L crosscheck --timeout 300
