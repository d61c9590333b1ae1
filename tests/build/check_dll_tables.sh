#!/usr/bin/env bash
# Checks a Windows DLL's export table (exactly the six JNI names, decorated
# on x86) and import table (system DLLs only, no MinGW runtimes).
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
imports="$(echo "$dump" | grep 'DLL Name:' | awk '{print tolower($3)}' | sort -u | xargs)"
for dllname in $imports; do
  case "$dllname" in
    kernel32.dll|setupapi.dll|hid.dll|msvcrt.dll) ;;
    *) echo "$dll imports $dllname, which is not a system DLL"; exit 1 ;;
  esac
done
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
echo "$dll ($kind): exports [$exports], imports [$imports]"
