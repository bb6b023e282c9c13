#!/usr/bin/env bash
# pe_check.sh OBJDUMP FILE KIND [NEEDED...]
# Checks that FILE is a 32-bit Windows image of KIND (console or dll) whose
# imports are only the NEEDED system libraries (case-insensitive) plus kernel32
# and msvcrt, so that it runs on a bare Windows; for a dll NEEDED may also hold
# export:NAME entries that must be exported.
set -euo pipefail
objdump=$1 file=$2 kind=$3
shift 3
headers=$("$objdump" -p "$file")

fail() { echo "$file: $*"; exit 1; }
grep -q 'file format pei-i386' <<<"$headers" || fail "not a PE32 (i386) image"
grep -q '(PE32)' <<<"$headers" || fail "not PE32"
case "$kind" in
  console) grep -q 'Subsystem.*(Windows CUI)' <<<"$headers" || fail "not a console program" ;;
  dll) grep -qi 'Characteristics.*DLL' <<<"$headers" || grep -q 'DLL$' <<<"$headers" || fail "not a DLL" ;;
  *) fail "unknown kind $kind" ;;
esac

allowed="kernel32.dll msvcrt.dll"
for need in "$@"; do
  case "$need" in
    export:*)
      name=${need#export:}
      grep -Eq "\]\s+$name$|\s$name$" <(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers") ||
        fail "does not export $name"
      ;;
    *) allowed="$allowed ${need,,}" ;;
  esac
done

while read -r dll; do
  dll=${dll,,}
  [[ " $allowed " == *" $dll "* ]] || fail "imports $dll, which is not allowed"
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
