#!/usr/bin/env python3
"""A full update by the Windows program under Wine against unit-sim.

Usage: update_against_unit_sim.py UNIT_SIM PROGRAM.exe IMAGE_DIR

A TX unit answers on COM3 at 9600, COM1 is present and silent, COM2 and the
rest are absent. The program is driven from a terminal (scripts/wine-console):
a key is typed while the programmable-logic image goes out, which must not
answer the final question, and another at "Press any key to exit". Checked:
the exit status (a run that took the early key ends before the last step);
every console byte against the transcript of the Linux end-to-end run with
the CR that the C runtime's text mode puts before every LF; the frames, their
line rates and both images as the unit received them, as in that run.
"""

import pathlib
import re
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "e2e"))
sys.path.insert(0, str(HERE.parent / "support"))
import full_update  # noqa: E402  (the Linux end-to-end run's expectations)
import vendra_test_support as support  # noqa: E402

CONSOLE = HERE.parent.parent / "scripts" / "wine-console"
# The reboot wait alone is 138 s.
RUN_TIMEOUT_SECONDS = 600
# The final key comes this long after its prompt: a program that took the key
# typed during the upload has ended by then.
FINAL_KEY_DELAY_SECONDS = 10

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def check_console(console, status, images):
    check(status == 0, f"exit status {status}, expected 0")
    wanted = full_update.expected_console("tx", 9600, len(images[0][0]), len(images[1][0]))
    wanted = wanted.replace("\n", "\r\n").encode()
    if console != wanted:
        common = 0
        while common < min(len(console), len(wanted)) and console[common] == wanted[common]:
            common += 1
        failures.append(f"console differs at byte {common}: got {console[common:common + 80]!r}, "
                        f"expected {wanted[common:common + 80]!r}")


def check_silent_report(report):
    commands = re.findall(r'command="([^"]*)"', report)
    check(commands and all(c == "%help -c version" for c in commands),
          f"COM1 saw {commands}")
    check("transfer" not in report, "COM1 saw a transfer")


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    unit_sim, program, image_dir = sys.argv[1], sys.argv[2], pathlib.Path(sys.argv[3])
    images = [full_update.flat_image(image_dir / "K620418_TX_XC7A75_1_07.mcs"),
              full_update.flat_image(image_dir / "K620418_MCU_61_1_06.hex")]
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        with support.tx_unit_and_silent_port(unit_sim, work) as links:
            coms = [arg for port, pty in links for arg in ("--com", f"{port}={pty}")]
            run = subprocess.run(
                [str(CONSOLE), *coms,
                 "--output", str(work / "console"), "--timeout", str(RUN_TIMEOUT_SECONDS),
                 "--last-key-delay", str(FINAL_KEY_DELAY_SECONDS),
                 "--type-after", "Sending Programmable Logic data", "x",
                 "--type-after", "Press any key to exit", "q", program])
        console = (work / "console").read_bytes()
        check_console(console, run.returncode, images)
        full_update.check_report((work / "unit.txt").read_text(), "tx", 9600, images, failures)
        check_silent_report((work / "silent.txt").read_text())
    if failures:
        for failure in failures:
            print("FAIL:", failure)
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
