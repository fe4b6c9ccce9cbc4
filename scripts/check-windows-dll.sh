#!/usr/bin/env bash
# Checks a built vcswitch.dll from the outside, for either word size:
# exactly the five undecorated exports, only system DLLs imported, the string
# tables in English (1033) and German (1031), and the version record.
# Usage: scripts/check-windows-dll.sh path/to/vcswitch.dll
set -euo pipefail
dll=$1
fail() { echo "check-windows-dll: $dll: $*" >&2; exit 1; }
[[ -f "$dll" ]] || fail "no such file"

headers=$(objdump -p "$dll")

# Exports: the names of the ordinal/name table, nothing else.
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
  sed -n 's/^\s*\[ *[0-9]*\] \(.*\)$/\1/p' | sort | tr '\n' ' ')
[[ "$exports" == "GetPlugIn GetVersionNumber ListNodeInfo UDMInit UDMMain " ]] ||
  fail "exports are '$exports'"

# Imports: system DLLs only, so that the DLL runs beside any host.
while read -r name; do
  case "${name,,}" in
    kernel32.dll | user32.dll | msvcrt.dll | advapi32.dll | ntdll.dll) ;;
    *) fail "imports $name" ;;
  esac
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$headers")

# Resources: the directory lists type, name and language IDs as a tree.
# RT_STRING (6) blocks 7 and 8 hold the identifiers 101-104, 110-114 and
# 120-124; RT_VERSION is 16.
tree=$(sed -n '/The .rsrc Resource Directory section/,$p' <<<"$headers")
resources=$(awk '
  /Type Table/ { depth = 1 }
  /Entry: ID:/ {
    id = $4; sub(/,$/, "", id)
    if ($0 ~ /^[0-9a-f]+   Entry/) type = id
    else if ($0 ~ /^[0-9a-f]+     Entry/) name = id
    else if ($0 ~ /^[0-9a-f]+       Entry/) print type "/" name "/" id
  }' <<<"$tree" | sort | tr '\n' ' ')
for expected in 0x000006/0x000007/0x000407 0x000006/0x000007/0x000409 \
                0x000006/0x000008/0x000407 0x000006/0x000008/0x000409 \
                0x000010/0x000001/0x000409; do
  [[ " $resources" == *" $expected "* ]] || fail "resource $expected missing (have: $resources)"
done

# Resource texts are UTF-16LE; search the raw section in hex.
section_hex=$(objcopy -O binary --only-section=.rsrc "$dll" /dev/stdout | od -An -v -tx1 | tr -d ' \n')
utf16_hex() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -d ' \n'; }
for text in "Voltage Controlled Switch for TRAN" "Spannungsgesteuerter Schalter für TRAN" \
            "initial state (0-open, 1-closed)" "Spannung über dem Schalter" \
            "Ableitung der Spannung über dem Schalter"; do
  [[ "$section_hex" == *"$(utf16_hex "$text")"* ]] || fail "resource text '$text' missing"
done
# VS_FIXEDFILEINFO: signature, struct version, file version 6.0.0.3, product version 6.0.0.0.
fixed=bd04effe00000100  # signature, structure version 1.0
fixed+=0000060003000000    # file version 6.0 . 0.3
fixed+=0000060000000000    # product version 6.0 . 0.0
[[ "$section_hex" == *"$fixed"* ]] ||
  fail "version record is not 6.0.0.3 / 6.0.0.0"

echo "check-windows-dll: $dll: exports, imports and resources as expected"
