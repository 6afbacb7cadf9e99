#!/usr/bin/env python3
"""Runs VendraFwWebPackage in an empty directory and compares the file it
writes with one built here from the microcontroller image text, by the file's
own rules, with Python's Base64 encoder as the peer."""

import base64
import subprocess
import sys
import tempfile
from pathlib import Path

MAKER_PRODUCT_VERSION = b"KorVan\r\n620418\r\n1.0.7\r\n"
BODY_LINE = 928


def assemble(hex_text: str) -> bytes:
    """The flat image: data records placed at the second byte of the latest
    extended linear address times 65,536 plus their address, up to the load
    offset of the last data record."""
    image = bytearray(b"\xff" * (4 * 1024 * 1024))
    base = 0
    length = 0
    for line in hex_text.split(":")[1:]:
        record = bytes.fromhex(line.strip())
        count, address, kind, data = record[0], int.from_bytes(record[1:3], "big"), record[3], record[4:-1]
        assert len(data) == count and sum(record) % 256 == 0, line
        if kind == 4:
            base = data[1] << 16
        elif kind == 0:
            image[base + address:base + address + count] = data
            length = base + address
    return bytes(image[:length])


def web_file(image: bytes) -> bytes:
    checksum = -sum(image) % 2**32
    body = base64.b64encode(image).replace(b"=", b"A")
    lines = [body[i:i + BODY_LINE] for i in range(0, len(body), BODY_LINE)]
    return (MAKER_PRODUCT_VERSION + b"%d\r\n%d\r\n" % (checksum, len(image)) + b"\r\n".join(lines))


def main() -> int:
    program, hex_file = Path(sys.argv[1]).resolve(), Path(sys.argv[2])
    expected = web_file(assemble(hex_file.read_text(encoding="ascii")))
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
