#!/usr/bin/env python3
"""Runs a Windows test program under Wine with pseudo-terminals as COM ports
and holds their far ends.

Usage: far_side.py --runner scripts/wine-run --port N [--port N]... [--timeout S] -- PROGRAM.exe [ARG...]

Each --port N becomes COM N for the program: a pseudo-terminal linked as
dosdevices/comN by the runner. The program cannot reach the far end of a
pseudo-terminal from inside Wine, so it asks this process instead: a line on
its standard output that starts with "@far-side " is a request, answered with
one line on its standard input ("ok [VALUE]" or "error TEXT"). Every other
line of its output is passed through. The exit status is the program's.

Requests (PORT is the COM number, BYTES lowercase hex):
  line PORT               -> ok RATE CTS FRAME   (e.g. "ok 9600 1 8N1")
  set-line PORT RATE CTS  -> ok
  send PORT BYTES         -> ok
  receive PORT            -> ok BYTES            (what arrived until quiet)
"""

import argparse
import os
import select
import subprocess
import sys
import termios
import time
import tty

MARKER = b"@far-side "
# The far end counts a write as finished once the line stays quiet this long.
QUIET_SECONDS = 0.2

SPEEDS = {getattr(termios, name): int(name[1:]) for name in dir(termios)
          if name.startswith("B") and name[1:].isdigit()}
CHARACTER_SIZES = {termios.CS5: "5", termios.CS6: "6", termios.CS7: "7", termios.CS8: "8"}


class Port:
    """One pseudo-terminal: the master is the unit's end; a slave descriptor
    kept open holds the line settings and keeps bytes queued while the
    program has the port closed."""

    def __init__(self, number):
        self.number = number
        self.master, self.slave = os.openpty()
        self.path = os.ttyname(self.slave)
        tty.setraw(self.slave)

    def line(self):
        iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(self.slave)
        rate = SPEEDS.get(ospeed, -1)
        cts = 1 if cflag & termios.CRTSCTS else 0
        parity = "N"
        if cflag & termios.PARENB:
            parity = "O" if cflag & termios.PARODD else "E"
        stop = "2" if cflag & termios.CSTOPB else "1"
        return f"{rate} {cts} {CHARACTER_SIZES[cflag & termios.CSIZE]}{parity}{stop}"

    def set_line(self, rate, cts):
        speed = {v: k for k, v in SPEEDS.items()}[rate]
        attributes = termios.tcgetattr(self.slave)
        attributes[4] = attributes[5] = speed
        if cts:
            attributes[2] |= termios.CRTSCTS
        else:
            attributes[2] &= ~termios.CRTSCTS
        termios.tcsetattr(self.slave, termios.TCSANOW, attributes)

    def send(self, data):
        os.write(self.master, data)

    def receive(self):
        received = b""
        while select.select([self.master], [], [], QUIET_SECONDS)[0]:
            chunk = os.read(self.master, 4096)
            if not chunk:
                break
            received += chunk
        return received


def answer(ports, request):
    words = request.decode("ascii").split()
    verb, number, arguments = words[0], int(words[1]), words[2:]
    port = ports.get(number)
    if port is None:
        return f"error no far end for COM{number}"
    if verb == "line":
        return "ok " + port.line()
    if verb == "set-line":
        port.set_line(int(arguments[0]), arguments[1] == "1")
        return "ok"
    if verb == "send":
        port.send(bytes.fromhex(arguments[0] if arguments else ""))
        return "ok"
    if verb == "receive":
        return ("ok " + port.receive().hex()).rstrip()
    return f"error unknown request {verb}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runner", required=True)
    parser.add_argument("--port", type=int, action="append", default=[])
    parser.add_argument("--timeout", type=float, default=300)
    parser.add_argument("program", nargs=argparse.REMAINDER)
    options = parser.parse_args()
    program = options.program[1:] if options.program[:1] == ["--"] else options.program
    if not program:
        parser.error("no program given")

    ports = {number: Port(number) for number in options.port}
    command = [options.runner]
    for port in ports.values():
        command += ["--com", f"{port.number}={port.path}"]
    command += program

    child = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             start_new_session=True)
    deadline = time.monotonic() + options.timeout
    pending = b""
    output = child.stdout.fileno()
    while True:
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            sys.stderr.write(f"far_side: no end after {options.timeout} s; stopping the program\n")
            os.killpg(child.pid, 15)
            child.wait()
            return 124
        if not select.select([output], [], [], remaining)[0]:
            continue
        chunk = os.read(output, 65536)
        if not chunk:
            break
        pending += chunk
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            line = line.rstrip(b"\r")
            text, marker, request = line.partition(MARKER)
            if text:
                sys.stdout.buffer.write(text + b"\n")
                sys.stdout.flush()
            if marker:
                try:
                    reply = answer(ports, request)
                except (ValueError, IndexError, KeyError, OSError) as error:
                    reply = f"error {request!r}: {error}"
                child.stdin.write((reply + "\n").encode("ascii"))
                child.stdin.flush()
    if pending:
        sys.stdout.buffer.write(pending)
    sys.stdout.flush()
    return child.wait()


if __name__ == "__main__":
    sys.exit(main())
