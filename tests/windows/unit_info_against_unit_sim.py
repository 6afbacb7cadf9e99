#!/usr/bin/env python3
"""VendraFwUnitInfo.exe under Wine against unit-sim.

Usage: unit_info_against_unit_sim.py UNIT_SIM PROGRAM.exe

A TX unit answers on COM3 at 9600, COM1 is present and silent, the rest are
absent. Three runs through scripts/wine-run: discovery with the text report,
the unit's line with --json, and an absent port. Checked as in the Linux
end-to-end run (tests/e2e/unit_info.py), with the CR that the C runtime's text
mode puts before every LF on both output streams: exit statuses, the report,
standard error, the JSON's values against the text's, and the unit's log.
"""

import pathlib
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "e2e"))
sys.path.insert(0, str(HERE.parent / "support"))
import unit_info  # noqa: E402  (the Linux run's expectations)
import vendra_test_support as support  # noqa: E402

RUNNER = HERE.parent.parent / "scripts" / "wine-run"
RUN_TIMEOUT_SECONDS = 180


def run(links, program, *options):
    command = [str(RUNNER)]
    for port, pty in links:
        command += ["--com", f"{port}={pty}"]
    done = subprocess.run(command + [program, *options], stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=RUN_TIMEOUT_SECONDS)
    return (done.returncode, done.stdout.decode("latin-1").replace("\r\n", "\n"),
            done.stderr.decode("latin-1").replace("\r\n", "\n"), done.stdout.count(b"\n"),
            done.stdout.count(b"\r\n"))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    unit_sim, program = sys.argv[1], sys.argv[2]
    failures = []
    tx = unit_info.TX_FACTS
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        with support.tx_unit_and_silent_port(unit_sim, work) as links:
            found = run(links, program)
            line = run(links, program, "--port", "3", "--rate", "9600", "--json")
            absent = run(links, program, "--port", "5", "--rate", "9600")
        unit_report = (work / "unit.txt").read_text(encoding="latin-1")
        silent_report = (work / "silent.txt").read_text(encoding="latin-1")

    status, text, errors, lines, crlf = found
    unit_info.check(status == 0, failures, f"discovery: exit status {status}")
    unit_info.check(text == unit_info.expected_text(tx), failures, f"discovery: report {text!r}")
    unit_info.check(lines == crlf == 10, failures, f"discovery: {lines} lines, {crlf} CR LF")
    unit_info.check(errors == "Looking for the unit on COM1 to COM32 ...\n", failures,
                    f"discovery: standard error {errors!r}")
    status, document, errors, _, _ = line
    unit_info.check(status == 0, failures, f"--json: exit status {status}")
    unit_info.check(unit_info.same_values(text, document, failures, "--json") == tx, failures,
                    f"--json: {document!r}")
    unit_info.check(errors == "Opening COM3 at 9600 baud ...\n", failures,
                    f"--json: standard error {errors!r}")
    status, text, errors, _, _ = absent
    unit_info.check(status == 1 and text == "No unit answered on COM5 at 9600 baud.\n", failures,
                    f"absent port: exit status {status}, report {text!r}")
    unit_info.check(errors == "Opening COM5 at 9600 baud ...ERROR: Opening COM5 failed !\n",
                    failures, f"absent port: standard error {errors!r}")
    unit_info.check_unit(unit_report, ["%fw -v", "%fw -p"] * 2, failures, "TX unit")
    unit_info.check_unit(silent_report, [], failures, "silent COM1")

    return unit_info.finish(failures)


if __name__ == "__main__":
    sys.exit(main())
