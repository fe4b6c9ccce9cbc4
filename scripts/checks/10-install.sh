#!/usr/bin/env bash
# Installs the release build into a scratch prefix and builds a host against
# it twice: through the CMake package and through pkg-config.
set -euo pipefail
cd "$(dirname "$0")/../.."
prefix="$PWD/build/install-check/prefix"
rm -rf build/install-check
cmake --install build/release --prefix "$prefix" >/dev/null
cmake -S examples/host_consumer -B build/install-check/consumer -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build build/install-check/consumer >/dev/null
build/install-check/consumer/minimal_host
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" g++ -std=c++20 -o build/install-check/pc_host \
  examples/host_consumer/minimal_host.cpp -DPLUGIN_PATH="\"$prefix/lib/libvcswitch.so\"" \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs udmplatform) -ldl \
  -Wl,-rpath,"$prefix/lib"
build/install-check/pc_host
