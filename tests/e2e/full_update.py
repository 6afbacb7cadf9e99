#!/usr/bin/env python3
"""A full update through the real program over pseudo-terminals, in real time.

unit-sim serves a silent unit as COM1 and the unit under test as COM3 in the
device directory that the program was built with (COM2 stays absent). The
program runs from discovery to its final key press (standard input is empty,
so the end of input is the key). Then every console byte is compared with a
text built here from the program's fixed texts, the unit's report with the
frames, line rates and images the update must produce, and the exit status
with 0. The images are assembled here from the image files, independently of
the program.

With --measure the peak resident memory and the CPU time of the program are
printed as well.

Usage: full_update.py --program P --unit-sim U --dir D --images I
                      --variant tx|rx --rate R [--measure]
"""

import argparse
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "support"))
import vendra_test_support as support  # noqa: E402

TX_IDENTITY = "Korvan 6G SDI EXTENDER TX OVER FIBER WITH RETURN CHANNEL\r\n>>"
RX_IDENTITY = "Korvan 6G SDI EXTENDER RX OVER FIBER WITH RETURN CHANNEL\r\n>>"
REBOOT_TEXT = "[boot] firmware 1.0.7 started\r\n>>"
CHUNK = 10240
UNIT_PORT = 3
SILENT_PORT = 1


def flat_image(path):
    return support.assemble(path.read_text(encoding="ascii"))


def counter(length):
    text = "1%"
    sent = 0
    percentage = 0
    while length - sent > CHUNK:
        sent += CHUNK
        text += "\b\b" if percentage <= 9 else "\b\b\b"
        percentage = 100 * sent // length
        text += f"{percentage}%"
    return text + ("\b\b" if percentage <= 9 else "\b\b\b") + "100%"


def expected_console(variant, rate, logic_length, firmware_length):
    identity = TX_IDENTITY if variant == "tx" else RX_IDENTITY
    text = "\n\rYou are about to upload the firmware version 1.0.7"
    text += "\n\r\n\rDetecting COM port and Baud Rate.................."
    text += "OK\r\n" + f"COM PORT Number : {UNIT_PORT}" + f"\r\nBaud rate       : {rate} \r\n\r\n"
    text += "Checking firmware version ..............  1.00.06 \r\n"
    text += "Checking fpga version ..................  K620418 1.07  device:7\r\n"
    text += "Checking product .......... "
    text += ("TX OK\r\n" if variant == "tx" else "RX OK\r\n") + identity + "\r\n"
    text += "Preparing to Upload Programmable Logic ............ " + "OK\r\n"
    text += "Sending Programmable Logic data ................... " + counter(logic_length)
    text += "OK\r\n"
    text += "Preparing to Upload Firmware ...................... " + "OK\r\n"
    text += "Sending data ...................................... " + counter(firmware_length)
    text += " OK\n\r\n\r" + "Please wait while the unit is rebooting ........... "
    for step in range(46):
        text += f"{step * 100 // 46:3d}%" + "\b\b\b\b"
    text += "100%" + "\b\b\b\b" + "100%"
    text += "\n\r\n\rThe update was successful, the unit is now operational\r\n"
    text += "\r\nPress any key to exit"
    return text


def check_report(report, variant, rate, images, failures):
    frames = re.findall(r'^frame t=\S+ baud=(\d+) cts=(\d) command="(.*)"$', report, re.M)
    expected = [(str(rate), "0", "%help -c version"), (str(rate), "1", "%fw -v")]
    expected += [(str(rate), "1", "%fw -p")] * (1 if variant == "tx" else 2)
    (logic, logic_sum), (firmware, firmware_sum) = images
    expected.append((str(rate), "1", f"%fw -l {logic_sum} {len(logic)}"))
    expected.append(("115200", "1", f"%fw -h {firmware_sum} {len(firmware)}"))
    if frames != expected:
        failures.append(f"frames {frames} != {expected}")
    transfers = re.findall(r"^transfer (.*)$", report, re.M)
    wanted = [
        f'command="{command}" checksum={checksum} length={len(data)} received={len(data)} '
        f"sum={checksum} lines=115200/cts, result=success"
        for command, (data, checksum) in (("%fw -l", images[0]), ("%fw -h", images[1]))
    ]
    if transfers != wanted:
        failures.append(f"transfers {transfers} != {wanted}")
    for needed in ("reboots count=1", "garbage bytes="):
        if needed not in report:
            failures.append(f"report lacks {needed!r}")
    if "violation" in report or "line-down" in report:
        failures.append("the unit saw violations:\n" + report)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--unit-sim", required=True)
    parser.add_argument("--dir", required=True, type=Path)
    parser.add_argument("--images", required=True, type=Path)
    parser.add_argument("--variant", choices=("tx", "rx"), default="tx")
    parser.add_argument("--rate", type=int, default=9600)
    parser.add_argument("--measure", action="store_true")
    args = parser.parse_args()

    logic_file = "K620418_TX_XC7A75_1_07.mcs" if args.variant == "tx" else "K620418_RX_XC7A75_1_07.mcs"
    images = [flat_image(args.images / logic_file), flat_image(args.images / "K620418_MCU_61_1_06.hex")]

    shutil.rmtree(args.dir, ignore_errors=True)
    args.dir.mkdir(parents=True)
    silent, _ = support.start_unit(args.unit_sim, args.dir, SILENT_PORT, args.dir / "silent.txt", "--mute")
    unit, _ = support.start_unit(args.unit_sim, args.dir, UNIT_PORT, args.dir / "report.txt",
                                 "--variant", args.variant, "--rate", str(args.rate))
    try:
        # Measured by /usr/bin/time, whose own small process starts the
        # program: a child forked from this interpreter would count the
        # interpreter's pages as its own until it executes the program.
        measure = ["/usr/bin/time", "-f", "%M %U %S", "-o", str(args.dir / "usage.txt")]
        started = time.monotonic()
        program = subprocess.Popen(
            (measure if args.measure else []) + [args.program],
            stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE,
        )
        console = program.stdout.read()
        program.wait()
        elapsed = time.monotonic() - started
    finally:
        support.stop_unit(unit)
        support.stop_unit(silent)
    report = (args.dir / "report.txt").read_text()

    failures = []
    wanted = expected_console(args.variant, args.rate, len(images[0][0]), len(images[1][0]))
    if console != wanted.encode():
        common = 0
        while common < min(len(console), len(wanted)) and console[common] == wanted.encode()[common]:
            common += 1
        failures.append(
            f"console differs at byte {common}: got {console[common:common + 80]!r}, "
            f"expected {wanted.encode()[common:common + 80]!r}"
        )
    check_report(report, args.variant, args.rate, images, failures)
    if program.returncode != 0:
        failures.append(f"exit status {program.returncode}")

    print(f"{args.variant.upper()} unit at {args.rate} baud: update took {elapsed:.1f} s")
    if args.measure:
        peak_kib, user, system = (args.dir / "usage.txt").read_text().split()[-3:]
        print(f"peak resident memory of the program: {int(peak_kib) / 1024:.1f} MiB")
        print(f"CPU time of the program: {float(user) + float(system):.2f} s")
    for failure in failures:
        print("FAIL:", failure)
    shutil.rmtree(args.dir, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
