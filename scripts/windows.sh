#!/usr/bin/env bash
# Builds vcswitch.dll for 64-bit (build-win64/bin/) and 32-bit Windows
# (build-win32/bin/) with the MinGW-w64 cross compilers, checks both images,
# and runs the test programs against the 64-bit DLL under Wine, once with an
# English and once with a German user language.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${UDM_JOBS:-2}

wine=$(command -v wine64 || true)
[[ -n "$wine" ]] || wine=/usr/lib/wine/wine64
wineserver=$(command -v wineserver || true)
[[ -n "$wineserver" ]] || wineserver=/usr/lib/wine/wineserver
[[ -x "$wine" ]] || { echo "windows.sh: wine64 not found (apt-get install --no-install-recommends wine64)" >&2; exit 1; }

# Wine's own prefix inside the build directory. Its first start takes a
# while, so it is created while the compilers run.
export WINEPREFIX="$PWD/build-win64/wineprefix" WINEDEBUG=-all
boot_pid=
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  echo "creating Wine prefix $WINEPREFIX (in the background)"
  mkdir -p build-win64
  "$wine" wineboot --init >/dev/null 2>&1 &
  boot_pid=$!
fi
# Whatever happens, leave no Wine process of this prefix behind.
finish() {
  [[ -z "$boot_pid" ]] || wait "$boot_pid" || true
  "$wineserver" -w || true
}
trap finish EXIT

common=(-DUDM_WERROR=ON -DUDM_BUILD_HOST=OFF -DUDM_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Release)

echo "--- 64-bit DLL and test programs"
cmake --no-warn-unused-cli -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-w64-mingw32.cmake \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$wine" "${common[@]}" >/dev/null
cmake --build build-win64 -j "$jobs"

echo "--- 32-bit DLL (built and inspected; it cannot run here)"
cmake --no-warn-unused-cli -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i686-w64-mingw32.cmake \
  -DUDM_BUILD_TESTS=OFF "${common[@]}" >/dev/null
cmake --build build-win32 -j "$jobs"

scripts/check-windows-dll.sh build-win64/bin/vcswitch.dll
scripts/check-windows-dll.sh build-win32/bin/vcswitch.dll

echo "--- tests under Wine (en_US, de_DE)"
if [[ -n "$boot_pid" ]]; then
  wait "$boot_pid" || { echo "windows.sh: creating the Wine prefix failed" >&2; exit 1; }
  boot_pid=
fi
cd build-win64
ctest --output-on-failure -j "$jobs"
