#!/usr/bin/env bash
# The Windows program under Wine with no serial port at all, driven from a
# terminal: discovery fails, the operator names COM7, the open fails, and the
# run waits for a key and ends with 255. The console receives the same texts
# as on Linux, with the CR of the text mode before each LF.
# Usage: console_without_ports.sh PROGRAM.exe
set -uo pipefail
program=$1
console="$(dirname "$0")/../../scripts/wine-console"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

expected='\n\rYou are about to upload the firmware version 1.0.7'
expected+='\n\r\n\rDetecting COM port and Baud Rate..................'
expected+='FAILED'
expected+='\n\r\n\rEnter the COM port number : '
expected+='\r\nOpening COM7....................ERROR: Opening COM7 failed !\r\nPress any key to exit'
printf '%b' "$expected" | sed -z 's/\n/\r\n/g' >"$work/expected"

"$console" --output "$work/out" --timeout 120 \
    --type-after 'Enter the COM port number : ' '7\r' \
    --type-after 'Press any key to exit' 'q' \
    "$program" 2>"$work/err"
status=$?
cmp "$work/expected" "$work/out" || {
    od -c "$work/out" | head -20 >&2
    fail "console output differs"
}
[ ! -s "$work/err" ] || fail "standard error not empty: $(cat "$work/err")"
[ "$status" -eq 255 ] || fail "exit status $status, expected 255"
echo "ok"
