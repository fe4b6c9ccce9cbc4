#!/usr/bin/env bash
# Runs the built udmhost.exe under Wine against vcswitch.dll and compares it
# with the Linux udmhost and libvcswitch.so (built with preset release if
# missing): info and check in English and German, the relaxation oscillator's
# switching instants, each platform's fingerprint checked by the other, and
# check failing each broken variant of the plug-in built as a DLL.
# Called by scripts/windows.sh with WINE set; fails on any difference.
set -euo pipefail
cd "$(dirname "$0")/.."
wine=${WINE:-/usr/lib/wine/wine64}
export WINEPREFIX=${WINEPREFIX:-$PWD/build-win64/wineprefix} WINEDEBUG=${WINEDEBUG:--all}
exe=build-win64/bin/udmhost.exe dll=build-win64/bin/vcswitch.dll
host=build/release/host/udmhost so=build/release/plugin/libvcswitch.so
netlist=examples/relaxation_oscillator.cir
out=build-win64/host-check
[[ -f "$exe" && -f "$dll" ]] || { echo "windows-host: $exe or $dll is missing" >&2; exit 1; }
if [[ ! -x "$host" || ! -f "$so" ]]; then
  echo "building the Linux udmhost for the comparison (preset release)"
  cmake --preset release >/dev/null
  cmake --build --preset release -j "${UDM_JOBS:-2}" --target udmhost vcswitch >/dev/null
fi
rm -rf "$out" && mkdir -p "$out"

# Each step in the background, its output in $out/NAME.log; names listed in order.
steps=() pids=()
step() {  # name, command...
  local name=$1; shift
  "$@" >"$out/$name.log" 2>&1 &
  steps+=("$name") pids+=($!)
}
failed=0
await() {  # waits for every started step and says how each ended
  local i
  for i in "${!pids[@]}"; do
    if wait "${pids[$i]}"; then
      echo "ok    ${steps[$i]}"
    else
      echo "FAIL  ${steps[$i]} (exit $?):" >&2
      sed 's/^/      /' "$out/${steps[$i]}.log" | grep -v '^      PASS' | tail -40 >&2
      failed=1
    fi
  done
  steps=() pids=()
}
win=("$wine" "$exe")
in_language() { local language=$1; shift; env LC_ALL="$language.UTF-8" "$@"; }

# Both platforms first, side by side: information, checks, a simulation and a fingerprint.
for language in en_US de_DE; do
  step "info-linux-$language" in_language "$language" "$host" info "$so"
  step "info-windows-$language" in_language "$language" "${win[@]}" info "$dll"
  step "check-windows-$language" in_language "$language" "${win[@]}" check "$dll"
done
step run-linux "$host" run "$netlist" -o "$out/linux.csv" --events "$out/linux-events.csv"
step run-windows "${win[@]}" run "$netlist" --plugin "vcswitch=$dll" -o "$out/windows.csv" --events "$out/windows-events.csv"
step record-linux "$host" check --record "$out/linux.fingerprint" "$so"
step record-windows "${win[@]}" check --record "$out/windows.fingerprint" "$dll"
await

# The same catalogue, in the same words and encoding, apart from the library's name.
for language in en_US de_DE; do
  if ! diff <(tail -n +2 "$out/info-linux-$language.log") <(tail -n +2 "$out/info-windows-$language.log") \
    >"$out/info-$language.diff"; then
    echo "FAIL  udmhost.exe info differs from udmhost info in $language:" >&2
    head -20 "$out/info-$language.diff" >&2
    failed=1
  fi
done
grep -q 'Knoten 1 des Schalters' "$out/info-windows-de_DE.log" ||
  { echo "FAIL  udmhost.exe info under de_DE shows no German description" >&2; failed=1; }
if [[ -f "$out/windows-events.csv" && -f "$out/linux-events.csv" ]]; then
  echo -n "      switching instants, Windows against Linux: "
  python3 scripts/lib/same_events.py "$out/linux-events.csv" "$out/windows-events.csv" 1e-9 || failed=1
fi
((failed == 0)) || exit 1

# Each platform accepts the other's fingerprint of the same plug-in, also
# as a Windows checkout with CRLF line endings has it.
sed 's/$/\r/' "$out/linux.fingerprint" >"$out/linux-crlf.fingerprint"
step against-linux-on-windows "${win[@]}" check --against "$out/linux.fingerprint" "$dll"
step against-linux-crlf-on-windows "${win[@]}" check --against "$out/linux-crlf.fingerprint" "$dll"
step against-windows-on-linux "$host" check --against "$out/windows.fingerprint" "$so"
await
((failed == 0)) || exit 1
echo "udmhost.exe agrees with udmhost"

# The plug-in broken one fault at a time (the build lists the DLLs): check
# must fail each, as the Linux checker does.
variants=build-win64/broken_variants.txt
if [[ -f "$variants" ]]; then
  python3 scripts/lib/check_broken_dlls.py "$wine" "$exe" "$variants" build-win64/bin "$out/windows.fingerprint" \
    "${UDM_JOBS:-2}"
else
  echo "windows-host: no broken variants built (UDM_BROKEN_VARIANTS=OFF)"
fi
