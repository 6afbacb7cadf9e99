#!/usr/bin/env python3
"""A full update by the Windows program under Wine against unit-sim.

Usage: update_against_unit_sim.py UNIT_SIM PROGRAM.exe

A TX unit answers on COM3 at 9600, COM1 is present and silent, COM2 and the
rest are absent. The program is driven from a terminal (scripts/wine-console)
and a key is typed at "Press any key to exit". Checked: the exit status, the
console bytes (the C runtime's text mode puts a CR before every LF), the
frames and line rates the units saw, and both images as the unit received
them.
"""

import os
import pathlib
import re
import signal
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
CONSOLE = HERE.parent.parent / "scripts" / "wine-console"
# The reboot wait alone is 138 s.
RUN_TIMEOUT_SECONDS = 600
READY_TIMEOUT_SECONDS = 10

BANNER = (b"\n\rYou are about to upload the firmware version 1.0.7"
          b"\n\r\n\rDetecting COM port and Baud Rate..................")
FOUND = b"OK\r\nCOM PORT Number : 3\r\nBaud rate       : 9600 \r\n\r\n"
ENDING = (b"\n\r\n\rThe update was successful, the unit is now operational\r\n"
          b"\r\nPress any key to exit")

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def start_unit(unit_sim, directory, port, report, *options):
    process = subprocess.Popen(
        [unit_sim, "--dir", str(directory), "--port", str(port), "--report", str(report), *options],
        stdout=subprocess.PIPE, text=True)
    deadline = time.monotonic() + READY_TIMEOUT_SECONDS
    line = process.stdout.readline()
    if not line.startswith("ready ") or time.monotonic() > deadline:
        process.kill()
        sys.exit(f"FAIL: unit-sim on COM{port} did not get ready: {line!r}")
    return process, line.split()[2]


def stop_unit(process):
    process.send_signal(signal.SIGTERM)
    process.wait(timeout=10)


def windows_console_to_program_text(console):
    """The program's own text: the console bytes without the CR that the
    text mode put before each LF. Any LF without it is a fault."""
    bare = re.search(rb"(?<!\r)\n", console)
    check(bare is None, f"a LF without the text mode's CR at byte {bare.start() if bare else 0}")
    return console.replace(b"\r\n", b"\n")


def check_console(console, status):
    check(status == 0, f"exit status {status}, expected 0")
    text = windows_console_to_program_text(console)
    check(text.startswith(BANNER + FOUND), f"console starts {text[:220]!r}")
    check(text.endswith(ENDING), f"console ends {text[-160:]!r}")


def check_unit_report(report):
    check("violation" not in report, "the unit saw a protocol violation")
    check("reboots count=1\n" in report, "the unit did not reboot exactly once")
    commands = re.findall(r'^frame t=\S+ baud=(\d+) cts=(\d) command="([^"]*)"$', report, re.MULTILINE)
    updates = [c for c in commands if not c[2].startswith("%help")]
    expected = [("9600", "1", "%fw -v"), ("9600", "1", "%fw -p"), ("9600", "1", "%fw -l"),
                ("115200", "1", "%fw -h")]
    # Only the command word and its option: the announced figures follow.
    seen = [(baud, cts, " ".join(command.split()[:2])) for baud, cts, command in updates]
    check(seen == expected, f"update frames {seen}")
    transfers = re.findall(
        r'^transfer command="(%fw -[lh])" checksum=(\d+) length=(\d+) received=(\d+) sum=(\d+) '
        r"lines=(\S+) result=(\w+)$", report, re.MULTILINE)
    check([t[0] for t in transfers] == ["%fw -l", "%fw -h"], f"transfers {transfers}")
    for command, checksum, length, received, total, lines, result in transfers:
        check(result == "success", f"{command}: {result}")
        check(received == length and total == checksum,
              f"{command}: image {received} bytes, sum {total}; announced {length}, {checksum}")
        check(lines == "115200/cts,", f"{command}: line {lines}")


def check_silent_report(report):
    commands = re.findall(r'command="([^"]*)"', report)
    check(commands and all(c == "%help -c version" for c in commands),
          f"COM1 saw {commands}")
    check("transfer" not in report, "COM1 saw a transfer")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    unit_sim, program = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        devices = work / "devices"
        devices.mkdir()
        unit, unit_pty = start_unit(unit_sim, devices, 3, work / "unit.txt",
                                    "--variant", "tx", "--rate", "9600")
        silent, silent_pty = start_unit(unit_sim, devices, 1, work / "silent.txt", "--mute")
        try:
            run = subprocess.run(
                [str(CONSOLE), "--com", f"3={unit_pty}", "--com", f"1={silent_pty}",
                 "--output", str(work / "console"), "--timeout", str(RUN_TIMEOUT_SECONDS),
                 "--type-after", "Press any key to exit", "q", program])
        finally:
            stop_unit(unit)
            stop_unit(silent)
        console = (work / "console").read_bytes()
        check_console(console, run.returncode)
        check_unit_report((work / "unit.txt").read_text())
        check_silent_report((work / "silent.txt").read_text())
    if failures:
        for failure in failures:
            print("FAIL:", failure)
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
