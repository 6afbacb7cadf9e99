#!/usr/bin/env python3
"""VendraFwUnitInfo over pseudo-terminals served by unit-sim, in real time.

Runs the real program, built with the device directory DIR, against units
that unit-sim links there, and checks for each run: the exit status; the
report on standard output against a text built here from the report's fixed
labels; the --json report, which must parse and carry the same values as the
text report; standard error; and the unit's log, which may show nothing but
probes, "%fw -v" and "%fw -p".

Usage: unit_info.py --program P --unit-sim U --dir DIR
"""

import argparse
import json
import re
import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "support"))
import vendra_test_support as support  # noqa: E402

RUN_TIMEOUT_SECONDS = 120
RELEASE = "1.0.7"
# The report's lines: the label as the text shows it (dotted to the value),
# the JSON name, and the text shown when the value is null.
FIELDS = (
    ("COM port number ........ ", "port", "not given"),
    ("Baud rate .............. ", "baud_rate", "not given"),
    ("Firmware version ....... ", "firmware_version", "not given"),
    ("Logic model ............ ", "logic_model", "not given"),
    ("Logic version .......... ", "logic_version", "not given"),
    ("Logic device code ...... ", "device_code", "not given"),
    ("Device fits the images . ", "device_fits_images", "not given"),
    ("Variant ................ ", "variant", "not recognised"),
    ("This release ........... ", "release_version", "not given"),
    ("Verdict ................ ", "verdict", "not known"),
)
QUERIES = {"%help -c version", "%fw -v", "%fw -p"}
# The report on a TX unit on COM3 at 9600 baud as unit-sim plays it by default.
TX_FACTS = {"found": True, "port": 3, "baud_rate": 9600, "firmware_version": "1.0.6",
            "logic_model": "K620418", "logic_version": "1.07", "device_code": 7,
            "device_fits_images": True, "variant": "TX", "release_version": RELEASE,
            "verdict": "older than this release"}


def expected_text(values):
    """The text report for values given in the JSON's form."""
    return "".join(label + as_text(values[name], missing) + "\n" for label, name, missing in FIELDS)


def as_text(value, missing):
    """A JSON value as the text report shows it: the unit's bytes (the code
    points of a JSON string) as printable ASCII, the rest in C escapes."""
    if value is None:
        return missing
    if isinstance(value, bool):
        return "yes" if value else "no"
    if isinstance(value, int):
        return str(value)
    shown = ""
    for character in value:
        code = ord(character)
        if character == "\\":
            shown += "\\\\"
        elif 0x20 <= code < 0x7F:
            shown += character
        else:
            shown += f"\\x{code:02X}"
    return shown


def same_values(text, document, failures, what):
    """The JSON object parses and shows, field for field, what the text shows."""
    try:
        values = json.loads(document)
    except json.JSONDecodeError as error:
        failures.append(f"{what}: the JSON does not parse ({error}): {document!r}")
        return None
    names = ["found"] + [name for _, name, _ in FIELDS]
    if list(values) != names:
        failures.append(f"{what}: JSON fields {list(values)}, expected {names}")
        return None
    if values["found"] and expected_text(values) != text:
        failures.append(f"{what}: the JSON {document!r} does not show the text {text!r}")
    return values


def unit_commands(report):
    return re.findall(r'^frame t=\S+ baud=\d+ cts=\d command="(.*)"$', report, re.M)


def run(program, *options):
    done = subprocess.run([program, *options], stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=RUN_TIMEOUT_SECONDS)
    return done.returncode, done.stdout.decode("latin-1"), done.stderr.decode("latin-1")


def with_units(args, units, runs):
    """Starts unit-sim for every (port, options) of units, makes the runs,
    stops the units; returns the runs' results and the units' reports."""
    shutil.rmtree(args.dir, ignore_errors=True)
    args.dir.mkdir(parents=True)
    started = [support.start_unit(args.unit_sim, args.dir, port, args.dir / f"report-{port}.txt",
                                  *options)[0] for port, options in units]
    try:
        results = [run(args.program, *options) for options in runs]
    finally:
        for process in started:
            support.stop_unit(process)
    reports = [(args.dir / f"report-{port}.txt").read_text(encoding="latin-1") for port, _ in units]
    shutil.rmtree(args.dir, ignore_errors=True)
    return results, reports


def check(condition, failures, what):
    if not condition:
        failures.append(what)


def check_unit(report, commands, failures, what):
    seen = unit_commands(report)
    check(set(seen) <= QUERIES, failures, f"{what}: the unit received {seen}")
    check([c for c in seen if c != "%help -c version"] == commands, failures,
          f"{what}: the unit received {seen}, expected {commands} after its probes")
    check("violation" not in report and "transfer" not in report, failures,
          f"{what}: the unit saw more than queries:\n{report}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--unit-sim", required=True)
    parser.add_argument("--dir", required=True, type=Path)
    args = parser.parse_args()
    failures = []

    # A TX unit on COM3 at 9600, COM1 present and silent: found by discovery,
    # then asked on its line for the JSON.
    tx = TX_FACTS
    (text_run, json_run), (unit_report, silent_report) = with_units(
        args, [(3, ["--variant", "tx", "--rate", "9600"]), (1, ["--mute"])],
        [[], ["--port", "3", "--rate", "9600", "--json"]])
    status, text, errors = text_run
    check(status == 0, failures, f"TX by discovery: exit status {status}")
    check(text == expected_text(tx), failures, f"TX by discovery: report {text!r}")
    check(errors == "Looking for the unit on COM1 to COM32 ...\n", failures,
          f"TX by discovery: standard error {errors!r}")
    status, document, errors = json_run
    check(status == 0, failures, f"TX --json: exit status {status}")
    check(same_values(text, document, failures, "TX --json") == tx, failures,
          f"TX --json: {document!r}")
    check(errors == "Opening COM3 at 9600 baud ...\n", failures, f"TX --json: standard error {errors!r}")
    check_unit(unit_report, ["%fw -v", "%fw -p", "%fw -v", "%fw -p"], failures, "TX unit")
    check_unit(silent_report, [], failures, "silent COM1")

    # An RX unit at 57600 whose model word holds a quote, a backslash, an
    # escape and the byte 0xFF, and whose device is another: asked on its line.
    reply = r'2.1.0 K"\\\x1b\xff 1.07 3\r\n>>'
    rx = {"found": True, "port": 4, "baud_rate": 57600, "firmware_version": "2.1.0",
          "logic_model": 'K"\\\x1b\xff', "logic_version": "1.07", "device_code": 3,
          "device_fits_images": False, "variant": "RX", "release_version": RELEASE,
          "verdict": "newer than this release"}
    line = ["--port", "4", "--rate", "57600"]
    (text_run, json_run), (unit_report,) = with_units(
        args, [(4, ["--variant", "rx", "--rate", "57600", "--version-reply", reply])],
        [line, line + ["--json"]])
    status, text, _ = text_run
    check(status == 0, failures, f"RX: exit status {status}")
    check(text == expected_text(rx), failures, f"RX: report {text!r}")
    check('Logic model ............ K"\\\\\\x1B\\xFF\n' in text, failures, f"RX: model in {text!r}")
    status, document, _ = json_run
    check(status == 0, failures, f"RX --json: exit status {status}")
    check(same_values(text, document, failures, "RX --json") == rx, failures,
          f"RX --json: {document!r}")
    check(document.isascii(), failures, f"RX --json: not ASCII: {document!r}")
    check_unit(unit_report, ["%fw -v", "%fw -p", "%fw -p"] * 2, failures, "RX unit")

    # No unit: a port that does not exist, then a usage error.
    (absent, json_absent, usage), _ = with_units(
        args, [], [["--port", "5", "--rate", "9600"], ["--port", "5", "--rate", "9600", "--json"],
                   ["--port", "5"]])
    status, text, errors = absent
    check(status == 1, failures, f"no unit: exit status {status}")
    check(text == "No unit answered on COM5 at 9600 baud.\n", failures, f"no unit: report {text!r}")
    check(errors == "Opening COM5 at 9600 baud ...ERROR: Opening COM5 failed !\n", failures,
          f"no unit: standard error {errors!r}")
    status, document, _ = json_absent
    values = same_values(text, document, failures, "no unit --json")
    check(status == 1 and values is not None and not values["found"]
          and all(v is None for k, v in values.items() if k not in ("found", "release_version")),
          failures, f"no unit --json: exit status {status}, {document!r}")
    status, text, errors = usage
    check(status == 2 and text == "", failures, f"usage: exit status {status}, output {text!r}")
    check(errors.startswith("VendraFwUnitInfo: --port and --rate go together\n"), failures,
          f"usage: standard error {errors!r}")

    return finish(failures)


def finish(failures):
    """Prints the failures, or ok; the exit status."""
    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print("ok")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
