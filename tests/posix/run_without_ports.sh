#!/usr/bin/env bash
# A console run with no serial device at all: discovery fails, the operator
# names COM7, the open fails, and the run ends at the key press with 255.
# Usage: run_without_ports.sh PROGRAM DEVICE_DIR
set -uo pipefail
program=$1
device_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rm -rf "$device_dir"
mkdir -p "$device_dir"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# run INPUT EXPECTED_OUTPUT EXPECTED_STATUS
run() {
    printf '%b' "$1" | timeout 20 "$program" >"$work/out" 2>"$work/err"
    local status=$?
    printf '%b' "$2" >"$work/expected"
    cmp "$work/expected" "$work/out" || {
        od -c "$work/out" | head -20 >&2
        fail "output for input '$1' differs"
    }
    [ ! -s "$work/err" ] || fail "standard error not empty: $(cat "$work/err")"
    [ "$status" -eq "$3" ] || fail "exit status $status, expected $3"
}

head='\n\rYou are about to upload the firmware version 1.0.7'
head+='\n\r\n\rDetecting COM port and Baud Rate..................'
head+='FAILED'
head+='\n\r\n\rEnter the COM port number : '

# The operator names COM7; the input then ends, which counts as the key.
run '7\n' "$head"'\r\nOpening COM7....................ERROR: Opening COM7 failed !\r\nPress any key to exit' 255
# A key after the number; nothing read beyond it changes the run.
run '7\nq\n' "$head"'\r\nOpening COM7....................ERROR: Opening COM7 failed !\r\nPress any key to exit' 255
# No number at all leaves the port number at 0.
run '' "$head"'\r\nOpening COM0....................ERROR: Opening COM0 failed !\r\nPress any key to exit' 255
echo "ok"
