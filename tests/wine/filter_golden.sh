#!/usr/bin/env bash
# filter_golden.sh WINE EXE INPUT EXPECTED
# Runs a filter's Windows build on INPUT, once with LF and once with CR LF line
# ends, and compares both outputs with EXPECTED in the Windows text form (every
# line feed written as CR LF). EXPECTED may be host:PROGRAM, the host build of
# the same filter, whose output on INPUT is then the expected text.
set -euo pipefail
wine=$1 exe=$2 input=$3 expected=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [[ $expected == host:* ]]; then
  "${expected#host:}" <"$input" >"$work/host-output"
  expected=$work/host-output
fi
sed -e 's/$/\r/' "$expected" >"$work/expected"
sed -e 's/\r$//' -e 's/$/\r/' "$input" >"$work/input-crlf"

for form in "$input" "$work/input-crlf"; do
  "$wine" "$exe" <"$form" >"$work/actual"
  if ! cmp -s "$work/expected" "$work/actual"; then
    echo "output of $(basename "$exe") on $(basename "$input") differs (input $form):"
    diff <(od -c "$work/expected") <(od -c "$work/actual") | head -n 20
    exit 1
  fi
done
