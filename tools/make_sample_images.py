#!/usr/bin/env python3
"""Writes the sample images that the build embeds in place of the unit maker's files.

The samples have the shape of the images of this release: the same file names,
text lengths, records, addresses and line lengths, and the same assembled
lengths and checksums. Their data bytes are pseudo-random, drawn from a fixed
seed, so every run writes the same files byte for byte.

Usage: make_sample_images.py OUTPUT_DIR
"""

import hashlib
import os
import sys
from pathlib import Path

MCU_FILE = "K620418_MCU_61_1_06.hex"
TX_FILE = "K620418_TX_XC7A75_1_07.mcs"
RX_FILE = "K620418_RX_XC7A75_1_07.mcs"

RECORD_DATA = 0x00
RECORD_EOF = 0x01
RECORD_EXTENDED_LINEAR_ADDRESS = 0x04
RECORD_START_LINEAR_ADDRESS = 0x05

RECORD_DATA_BYTES = 16
SEGMENT_SIZE = 0x10000
# The program places a byte at bits 0 to 23 of its linear address.
BUFFER_ADDRESS_MASK = 0xFFFFFF

# Microcontroller image: code from 0x80008000 with one gap, entry at 0x80008008.
MCU_RUNS = ((0x80008000, 0x8001BD42), (0x8001BE00, 0x8001F198))
MCU_ENTRY = 0x80008008
MCU_LENGTH = 127_376
MCU_CHECKSUM = 4_278_062_306
MCU_ZERO_SHARE = 75  # of 256: share of zero bytes in the code

# Programmable-logic image: one 7-series configuration bitstream from 0.
FPGA_RUNS = ((0x000000, 0x206B68),)
FPGA_LENGTH = 2_124_640
FPGA_CHECKSUM = 4_263_097_727
FPGA_WORD_SHARE = 30  # of 256: share of non-zero 32-bit words in the frames

NOOP = bytes.fromhex("20000000")
BITSTREAM_HEAD = (
    b"\xff" * 0x20
    + bytes.fromhex("000000BB11220044")  # bus-width detection
    + b"\xff" * 8
    + bytes.fromhex("AA995566")  # sync word
    + NOOP
    + bytes.fromhex("3002200100000000")  # write TIMER
    + bytes.fromhex("3002000100000000")  # write WBSTAR
    + bytes.fromhex("3000800100000000")  # command NULL
    + NOOP
    + bytes.fromhex("3000800100000007")  # command RCRC
    + NOOP * 2
)
BITSTREAM_TAIL = NOOP * 2


def random_bytes(label, count):
    return hashlib.shake_256(b"VendraFwUpgrade sample image: " + label).digest(count)


def record(kind, address, data=b""):
    body = bytes([len(data), address >> 8, address & 0xFF, kind]) + data
    return ":" + (body + bytes([-sum(body) & 0xFF])).hex().upper() + "\r\n"


def image_text(runs, data, entry=None):
    """Intel HEX text of the runs [start, end) of linear addresses, filled from data in order."""
    lines = []
    upper = None
    offset = 0
    for start, end in runs:
        address = start
        while address < end:
            if address >> 16 != upper:
                upper = address >> 16
                lines.append(record(RECORD_EXTENDED_LINEAR_ADDRESS, 0, upper.to_bytes(2, "big")))
            size = min(RECORD_DATA_BYTES, end - address, SEGMENT_SIZE - (address & 0xFFFF))
            lines.append(record(RECORD_DATA, address & 0xFFFF, data[offset : offset + size]))
            offset += size
            address += size
    if entry is not None:
        lines.append(record(RECORD_START_LINEAR_ADDRESS, 0, entry.to_bytes(4, "big")))
    lines.append(record(RECORD_EOF, 0))
    return "".join(lines).encode("ascii")


def counted_ranges(runs, length):
    """Ranges of data indices whose bytes land below the assembled length."""
    ranges = []
    offset = 0
    for start, end in runs:
        position = start & BUFFER_ADDRESS_MASK
        count = max(0, min(end - start, length - position))
        ranges.append(range(offset, offset + count))
        offset += end - start
    return ranges


def assembled_sum(runs, data, length):
    """Sum of the first length bytes of the 0xFF-filled buffer once data is placed."""
    ranges = counted_ranges(runs, length)
    placed = sum(len(r) for r in ranges)
    return sum(sum(data[r.start : r.stop]) for r in ranges) + 0xFF * (length - placed)


def fit_sum(data, adjustable, delta):
    """Moves the sum of data by delta, one unit per byte and pass, spread evenly over
    the adjustable non-zero bytes so that zero runs stay zero."""
    while delta:
        step = 1 if delta > 0 else -1
        if step > 0:
            usable = [i for i in adjustable if 0 < data[i] < 0xFF]
        else:
            usable = [i for i in adjustable if data[i] > 1]
        if not usable:
            raise ValueError("image data cannot reach the checksum")
        count = min(abs(delta), len(usable))
        for k in range(count):
            data[usable[k * len(usable) // count]] += step
        delta -= step * count


def fitted(runs, data, adjustable, length, checksum):
    target = -checksum % (1 << 32)
    fit_sum(data, adjustable, target - assembled_sum(runs, data, length))
    return data


def data_size(runs):
    return sum(end - start for start, end in runs)


def mcu_image():
    size = data_size(MCU_RUNS)
    noise = random_bytes(b"mcu", 2 * size)
    data = bytearray(v if m >= MCU_ZERO_SHARE else 0 for m, v in zip(noise[:size], noise[size:]))
    adjustable = [i for r in counted_ranges(MCU_RUNS, MCU_LENGTH) for i in r]
    data = fitted(MCU_RUNS, data, adjustable, MCU_LENGTH, MCU_CHECKSUM)
    return image_text(MCU_RUNS, data, MCU_ENTRY)


def fpga_image():
    size = data_size(FPGA_RUNS)
    frames = size - len(BITSTREAM_HEAD) - len(BITSTREAM_TAIL)
    words = frames // 4
    noise = random_bytes(b"fpga", words + frames)
    body = bytearray(frames)
    for w in range(words):
        if noise[w] < FPGA_WORD_SHARE:
            body[4 * w : 4 * w + 4] = noise[words + 4 * w : words + 4 * w + 4]
    data = bytearray(BITSTREAM_HEAD) + body + BITSTREAM_TAIL
    first = len(BITSTREAM_HEAD)
    counted = counted_ranges(FPGA_RUNS, FPGA_LENGTH)[0]
    adjustable = range(first, min(first + frames, counted.stop))
    data = fitted(FPGA_RUNS, data, adjustable, FPGA_LENGTH, FPGA_CHECKSUM)
    return image_text(FPGA_RUNS, data)


def write(path, text):
    partial = path.with_name(path.name + ".part")
    partial.write_bytes(text)
    os.replace(partial, path)


def main(argv):
    if len(argv) != 2:
        print("usage: make_sample_images.py OUTPUT_DIR", file=sys.stderr)
        return 2
    out = Path(argv[1])
    out.mkdir(parents=True, exist_ok=True)
    fpga = fpga_image()
    write(out / MCU_FILE, mcu_image())
    write(out / TX_FILE, fpga)
    write(out / RX_FILE, fpga)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
