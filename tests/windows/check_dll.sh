#!/bin/sh
# Checks the 32-bit DLL as a station host's loader sees it: a PE32 image for
# i386, GetDA30 exported by its plain name at ordinal 1, handler frames
# allowed, and imports from Windows' own DLLs only (no compiler runtime DLLs
# to ship alongside).
# Usage: check_dll.sh OBJDUMP DLL
set -u
objdump=$1
dll=$2
failed=0
passed=0
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }
pass() { passed=$((passed + 1)); }

headers=$("$objdump" -f "$dll") || { echo "FAILED: $objdump cannot read $dll"; exit 1; }
private=$("$objdump" -p "$dll") || exit 1

echo "$headers" | grep -q 'file format pei-i386' && pass || fail "not a PE image for i386"
echo "$headers" | grep -q '^architecture: i386' && pass || fail "architecture is not i386"
echo "$private" | grep -q '^Magic[[:space:]]*010b[[:space:]]*(PE32)' && pass || fail "not PE32"
echo "$private" | grep -q '^[[:space:]]*DLL$' && pass || fail "not marked as a DLL"

# The name table lists the ordinal's index; the address table maps it to an ordinal.
index=$(echo "$private" | sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] GetDA30$/\1/p')
if [ -z "$index" ]; then
  fail "GetDA30 is not exported by its plain name"
else
  ordinal=$(echo "$private" | sed -n "s/^[[:space:]]*\[ *$index\] +base\[ *\([0-9]*\)\].*/\1/p")
  [ "$ordinal" = 1 ] && pass || fail "GetDA30 is at ordinal '$ordinal', not 1"
fi
echo "$private" | grep -q 'GetDA30@' && fail "a decorated GetDA30@N is exported" || pass

# Windows calls no handler frame of an image marked NO_SEH, and the guard
# around the host's port is one (wine does not check the mark).
echo "$private" | grep -q '^[[:space:]]*NO_SEH$' && fail "marked NO_SEH" || pass

imports=$(echo "$private" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$imports" ] && pass || fail "no import table found"
for name in $imports; do
  case $(echo "$name" | tr 'A-Z' 'a-z') in
    kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | comdlg32.dll | advapi32.dll | \
      shell32.dll | ole32.dll | oleaut32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll)
      pass ;;
    *) fail "imports $name, which Windows does not ship" ;;
  esac
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
