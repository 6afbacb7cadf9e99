#!/usr/bin/env python3
"""Runs VendraFwWebPackage in an empty directory and compares the file it
writes with one built here from the microcontroller image text, by the file's
own rules, with Python's Base64 encoder as the peer."""

import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "support"))
import vendra_test_support as support  # noqa: E402


def main() -> int:
    program, hex_file = Path(sys.argv[1]).resolve(), Path(sys.argv[2])
    expected = support.web_file(support.assemble(hex_file.read_text(encoding="ascii"))[0])
    with tempfile.TemporaryDirectory() as work:
        run = subprocess.run([str(program)], cwd=work, input=b"", capture_output=True, timeout=120)
        if run.returncode != 0:
            print(f"exit status {run.returncode}, output:\n{run.stdout!r}")
            return 1
        written = sorted(p.name for p in Path(work).iterdir())
        if written != ["FwToUpload.bin"]:
            print(f"files written: {written}")
            return 1
        actual = (Path(work) / "FwToUpload.bin").read_bytes()
    if actual != expected:
        at = next((i for i, (a, b) in enumerate(zip(actual, expected)) if a != b),
                  min(len(actual), len(expected)))
        print(f"FwToUpload.bin differs at byte {at}: {len(actual)} bytes, expected {len(expected)}")
        return 1
    print(f"FwToUpload.bin: {len(actual)} bytes as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
