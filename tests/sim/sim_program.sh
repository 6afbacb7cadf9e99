#!/usr/bin/env bash
# VendraFwUpgrade-sim as a command: its options, and whole runs fed from a
# pipe (the end of input is the final key, so nothing waits).
set -uo pipefail
program=$1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$program" --help >/tmp/sim-help.$$ 2>&1
[ $? -eq 0 ] || fail "--help status"
grep -q -- '--fault' /tmp/sim-help.$$ || fail "--help lists no faults"

for args in "--bogus" "--variant xx" "--fault nosuch" "--speed fast" "--port"; do
    # shellcheck disable=SC2086
    "$program" $args </dev/null >/tmp/sim-out.$$ 2>/tmp/sim-err.$$
    status=$?
    [ "$status" -eq 2 ] || fail "$args: status $status, not 2"
    grep -q '^VendraFwUpgrade-sim: ' /tmp/sim-err.$$ || fail "$args: no message"
    [ ! -s /tmp/sim-out.$$ ] || fail "$args: the run started"
done

success=$'\n\r\n\rThe update was successful, the unit is now operational\r\n\r\nPress any key to exit'
"$program" --speed max --variant rx --rate 57600 </dev/null >/tmp/sim-out.$$
status=$?
[ "$status" -eq 0 ] || fail "RX run: status $status"
[[ "$(cat /tmp/sim-out.$$)" == *"RX OK"*"$success" ]] || fail "RX run: no success line at the end"

"$program" --speed max --fault wrong-success </dev/null >/tmp/sim-out.$$
status=$?
[ "$status" -eq 1 ] || fail "failed update: status $status, not 1"
grep -q 'ERROR: The update was not successful.' /tmp/sim-out.$$ || fail "failed update: no error text"

# The operator's entries reach the dialogue whenever they are typed: the
# silent unit sends the run to the questions, and a silent unit answers no
# identification either.
printf '3\n19200\n' | "$program" --speed max --fault silent --rate 19200 >/tmp/sim-out.$$
status=$?
[ "$status" -eq 1 ] || fail "dialogue run: status $status, not 1"
grep -q $'Opening COM3....................OK\r\n' /tmp/sim-out.$$ || fail "dialogue run: port entry not taken"
grep -q $'Setting baud rate at 19200..........OK\r\n' /tmp/sim-out.$$ || fail "dialogue run: rate entry not taken"

"$program" --speed max --trace </dev/null >/dev/null 2>/tmp/sim-err.$$
grep -q '^[0-9]*\.[0-9]\{6\} COM3 write 115200 cts=on <10240 bytes' /tmp/sim-err.$$ ||
    fail "--trace shows no timed data write"

rm -f /tmp/sim-help.$$ /tmp/sim-out.$$ /tmp/sim-err.$$
exit $((failures > 0))
