#!/usr/bin/env bash
# Builds the plug-in and shows how a host sees it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)"
if [[ -x build/release/host/udmhost ]]; then
  exec build/release/host/udmhost info build/release/plugin/libvcswitch.so
fi
nm -D --defined-only build/release/plugin/libvcswitch.so
