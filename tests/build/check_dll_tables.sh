#!/usr/bin/env bash
# Checks a Windows DLL's export table (exactly the six JNI names, decorated
# on x86), its import table (only functions Windows XP has, by the committed
# list beside this script), its subsystem version and its version record.
# Usage: check_dll_tables.sh DLL x86|x64
set -euo pipefail
dll="$1"
kind="$2"
if [ "$kind" = x86 ]; then
  expected="_JNI_OnLoad@8 _Java_Halvix_closeUsbPort@8 _Java_Halvix_getPointData@8 _Java_Halvix_getSerialData@8 _Java_Halvix_openUsbPort@12 _Java_Halvix_putCmdString@12"
else
  expected="JNI_OnLoad Java_Halvix_closeUsbPort Java_Halvix_getPointData Java_Halvix_getSerialData Java_Halvix_openUsbPort Java_Halvix_putCmdString"
fi
dump="$(objdump -p "$dll")"
exports="$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -E '^\s+\[' | sed -E 's/^\s*\[ *[0-9]+\] //' | sort | xargs)"
if [ "$exports" != "$(echo "$expected" | tr ' ' '\n' | sort | xargs)" ]; then
  echo "exports of $dll: $exports"
  echo "expected:        $expected"
  exit 1
fi
# Every imported function, as DLL!function, must be one that Windows XP SP3
# and XP x64 provide (xp_imports.txt); this also keeps out the MinGW runtime
# DLLs, which are on no list.
allowed="$(dirname "$0")/xp_imports.txt"
imports="$(echo "$dump" | awk '
  /^\tDLL Name: / { dll = tolower($3); next }
  dll != "" && /^\t[0-9a-f]+\t +[0-9]+  / { print dll "!" $3; next }
  dll != "" && /^$/ { dll = "" }' | sort -u)"
[ -n "$imports" ] || { echo "$dll: no imports found (objdump output changed?)"; exit 1; }
echo "$dll imports:"
echo "$imports" | sed 's/^/  /'
listed="$(grep -v '^#' "$allowed" | awk -v kind="$kind" 'NF >= 2 && (NF == 2 || $3 == kind) { print tolower($1) "!" $2 }' | sort -u)"
outside="$(comm -23 <(echo "$imports") <(echo "$listed"))"
if [ -n "$outside" ]; then
  echo "$dll imports what Windows XP ($kind) may lack, by $allowed:"
  echo "$outside" | sed 's/^/  /'
  exit 1
fi
# The loader of Windows XP refuses an image that asks for a newer subsystem.
want_subsystem="5 1"
[ "$kind" = x64 ] && want_subsystem="5 2"
subsystem="$(echo "$dump" | awk '/^MajorSubsystemVersion/ { major = $2 } /^MinorSubsystemVersion/ { minor = $2 } END { print major, minor }')"
if [ "$subsystem" != "$want_subsystem" ]; then
  echo "$dll asks for subsystem version $subsystem, not $want_subsystem"
  exit 1
fi
# The version record: the fixed part (signature 0xFEEF04BD) holds file and
# product version 1.6.0.0, and the module is named Halvix.
python3 - "$dll" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
at = data.find(struct.pack('<I', 0xFEEF04BD))
if at < 0:
    sys.exit('no version record')
_, _, fms, fls, pms, pls = struct.unpack_from('<6I', data, at)
want = (0x00010006, 0)
if (fms, fls) != want or (pms, pls) != want:
    sys.exit('version record says %x.%x / %x.%x' % (fms, fls, pms, pls))
if 'Halvix'.encode('utf-16-le') not in data:
    sys.exit('module name missing from the version record')
PY
echo "$dll ($kind): exports [$exports], $(echo "$imports" | wc -l) imports, all on the XP list, subsystem version $subsystem"
