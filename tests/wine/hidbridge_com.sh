#!/usr/bin/env bash
# hidbridge_com.sh WINE DLL CLIENT SCRIPT
# Registers hidbridge.dll with regsvr32, checks its registry entries, runs the
# scripting client (cscript) and the C++ client, then unregisters it and checks
# that the registry is as it was before.
set -euo pipefail
wine=$1 dll=$2 client=$3 script=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

clsid='{6E084B4D-925A-4E03-8FB7-68691E0DF23D}'
libid='{DF9A4541-727D-4D9B-80E0-9653D7D54C8B}'
windows_path() { "$wine" winepath -w "$1" 2>/dev/null; }
classes() { "$wine" reg export HKEY_CLASSES_ROOT "$(windows_path "$1")" /y >/dev/null 2>&1; }
fail() { echo "FAILED: $*"; exit 1; }
query() { "$wine" reg query "$@" 2>/dev/null | tr -d '\r'; }

# cscript registers its own type library on first use: let it do so before
# the registry is taken as it was.
echo 'WScript.Quit 0' >"$work/warm-up.vbs"
"$wine" cscript //nologo "$(windows_path "$work/warm-up.vbs")"
classes "$work/before.reg"
"$wine" regsvr32 /s "$(windows_path "$dll")" || fail "regsvr32 did not register the server"

query 'HKEY_CLASSES_ROOT\hidbridge.HidPort\CLSID' | grep -qF "$clsid" || fail "no ProgID entry"
server=$(query "HKEY_CLASSES_ROOT\\CLSID\\$clsid\\InprocServer32")
grep -qiF "$(windows_path "$dll")" <<<"$server" || fail "InprocServer32 does not name the library"
grep -q 'ThreadingModel.*Apartment' <<<"$server" || fail "the threading model is not Apartment"
query "HKEY_CLASSES_ROOT\\TypeLib\\$libid\\1.0" >/dev/null || fail "the type library is not registered"
echo "ok: registered"

"$wine" cscript //nologo "$(windows_path "$script")" || fail "the scripting client"
"$wine" "$(windows_path "$client")" || fail "the C++ client"

"$wine" regsvr32 /u /s "$(windows_path "$dll")" || fail "regsvr32 /u did not unregister the server"
classes "$work/after.reg"
text() { iconv -f UTF-16LE -t UTF-8 "$1" | tr -d '\r'; }
if ! diff <(text "$work/before.reg") <(text "$work/after.reg") >"$work/diff"; then
  cat "$work/diff" | head -n 30
  fail "regsvr32 /u left registry entries behind"
fi
echo "ok: unregistered, the registry is as before"
