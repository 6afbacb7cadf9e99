"""What the Python tests share: the tests' own reading of image texts and
the web update file, independent of the program, and the unit-sim launcher."""

import base64
import contextlib
import signal
import subprocess
import time

IMAGE_AREA = 4 * 1024 * 1024
MAKER_PRODUCT_VERSION = b"KorVan\r\n620418\r\n1.0.7\r\n"
BODY_LINE = 928
READY_TIMEOUT_SECONDS = 10


def assemble(text):
    """The flat image of an image text and its checksum. Extended linear
    address records set the base from their second data byte; data records
    land at base + address; gaps are 0xFF; the length is the load offset of
    the last data record. A record with a wrong byte count or checksum
    raises ValueError."""
    memory = bytearray(b"\xff" * IMAGE_AREA)
    base = 0
    length = 0
    for line in text.split(":")[1:]:
        record = bytes.fromhex(line.strip())
        count, address, kind, data = record[0], int.from_bytes(record[1:3], "big"), record[3], record[4:-1]
        if len(data) != count or sum(record) % 256 != 0:
            raise ValueError(f"not a valid record: :{line.strip()}")
        if kind == 4:
            base = data[1] << 16
        elif kind == 0:
            memory[base + address:base + address + count] = data
            length = base + address
    image = bytes(memory[:length])
    return image, (-sum(image)) % (1 << 32)


def web_file(image: bytes) -> bytes:
    """The web update file of a flat image, by the file's own rules, with
    Python's Base64 encoder as the peer."""
    checksum = -sum(image) % 2**32
    body = base64.b64encode(image).replace(b"=", b"A")
    lines = [body[i:i + BODY_LINE] for i in range(0, len(body), BODY_LINE)]
    return (MAKER_PRODUCT_VERSION + b"%d\r\n%d\r\n" % (checksum, len(image)) + b"\r\n".join(lines))


def start_unit(unit_sim, directory, port, report, *options):
    """unit-sim serving COM `port` linked under `directory`; returns the
    process and the pseudo-terminal it serves, once it is ready."""
    process = subprocess.Popen(
        [unit_sim, "--dir", str(directory), "--port", str(port), "--report", str(report), *options],
        stdout=subprocess.PIPE, text=True)
    deadline = time.monotonic() + READY_TIMEOUT_SECONDS
    line = process.stdout.readline()
    if not line.startswith("ready ") or time.monotonic() > deadline:
        process.kill()
        raise SystemExit(f"FAIL: unit-sim on COM{port} did not get ready: {line!r}")
    return process, line.split()[2]


def stop_unit(process):
    process.send_signal(signal.SIGTERM)
    process.wait(timeout=10)


@contextlib.contextmanager
def tx_unit_and_silent_port(unit_sim, work):
    """A TX unit answering at 9600 baud as COM3 and a mute unit as COM1,
    under work/devices, reporting to work/unit.txt and work/silent.txt;
    yields the ports' links as (COM number, pseudo-terminal) pairs."""
    devices = work / "devices"
    devices.mkdir()
    unit, unit_pty = start_unit(unit_sim, devices, 3, work / "unit.txt",
                                "--variant", "tx", "--rate", "9600")
    try:
        silent, silent_pty = start_unit(unit_sim, devices, 1, work / "silent.txt", "--mute")
        try:
            yield [(3, unit_pty), (1, silent_pty)]
        finally:
            stop_unit(silent)
    finally:
        stop_unit(unit)
