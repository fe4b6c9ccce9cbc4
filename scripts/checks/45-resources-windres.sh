#!/usr/bin/env bash
# Reads the resource scripts with windres, the resource compiler of the
# Windows build, and checks that the Linux build's reader finds the same
# strings and version record (label windres, release build). Takes a few
# seconds on top of the main build.
set -euo pipefail
cd "$(dirname "$0")/../.."
if ! command -v x86_64-w64-mingw32-windres >/dev/null; then
  echo "x86_64-w64-mingw32-windres not found (Debian package binutils-mingw-w64-x86-64)" >&2
  exit 1
fi
cmake --preset release >/dev/null
cmake --build --preset release -j 2 --target windres_crosscheck_tests
ctest --preset windres
