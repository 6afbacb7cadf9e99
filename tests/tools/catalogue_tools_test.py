#!/usr/bin/env python3
"""Runs the catalogue generators on small image directories of their own.

Usage: catalogue_tools_test.py TOOLS_DIR CXX_COMPILER [unittest options]
"""

import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

TOOLS = Path()
CXX = ""

MCU = "K620418_MCU_61_1_06.hex"
TX = "K620418_TX_XC7A75_1_07.mcs"
RX = "K620418_RX_XC7A75_1_07.mcs"
VALID = b":0200000480007A\r\n:00000001FF\r\n"

# Prints every entry as name, length and text, so that the test can compare
# the compiled catalogue with the files it came from.
DUMP_MAIN = r"""
#include <cstdio>
#include "BinImage.h"
int main() {
    for (const auto& entry : AUTOGEN_FILES) {
        std::printf("%s %d %d\n", entry.filePath, entry.filePathLength, entry.fileDataLength);
        std::fwrite(entry.fileData, 1, entry.fileDataLength, stdout);
    }
}
"""


def run_tool(name, *args):
    return subprocess.run(
        [sys.executable, str(TOOLS / name), *map(str, args)], capture_output=True, text=True
    )


class MakeBinImage(unittest.TestCase):
    def setUp(self):
        self.fresh_directory()

    def fresh_directory(self):
        work = tempfile.TemporaryDirectory()
        self.addCleanup(work.cleanup)
        self.images = Path(work.name) / "images"
        self.out = Path(work.name) / "out"
        self.images.mkdir()
        for name in (MCU, TX, RX):
            (self.images / name).write_bytes(VALID)

    def generate(self):
        return run_tool("make_binimage.py", self.images, self.out)

    def assert_refused(self, name, reason, damage):
        # Outputs of an earlier run must not survive a refusal.
        self.assertEqual(self.generate().returncode, 0)
        damage(self.images / name)
        result = self.generate()
        self.assertEqual(result.returncode, 1)
        self.assertIn(str(self.images / name), result.stderr)
        self.assertIn(reason, result.stderr)
        self.assertFalse((self.out / "BinImage.h").exists())
        self.assertFalse((self.out / "BinImage.cpp").exists())
        return result.stderr

    def test_refuses_a_missing_file(self):
        for name in (MCU, TX, RX):
            with self.subTest(name):
                self.fresh_directory()
                self.assert_refused(name, "missing", Path.unlink)

    def test_refuses_a_text_with_nul(self):
        cases = {
            "inside a record": b":0200000480\x00007A\r\n:00000001FF\r\n",
            "after the last line": VALID + b"\x00",
        }
        for case, text in cases.items():
            with self.subTest(case):
                self.fresh_directory()
                self.assert_refused(TX, "NUL", lambda path: path.write_bytes(text))

    def test_refuses_a_line_without_start_code(self):
        cases = {
            "blank line": (b":0200000480007A\r\n\r\n:00000001FF\r\n", "line 2 does not start"),
            "leading space": (b" :0200000480007A\r\n:00000001FF\r\n", "line 1 does not start"),
            "text after the last record": (VALID + b"end", "line 3 does not start"),
            "empty file": (b"", "empty"),
        }
        for case, (text, reason) in cases.items():
            with self.subTest(case):
                self.fresh_directory()
                self.assert_refused(RX, reason, lambda path: path.write_bytes(text))

    def test_refuses_a_broken_record(self):
        cases = {
            "non-hex digit": (b":02000004800G7A\r\n", "line 1", "'G' at column 13"),
            "lower-case x": (b":0200000480007A\r\n:00000001Fx\r\n", "line 2", "'x'"),
            "bad checksum": (b":0200000480007B\r\n", "line 1", "checksum 0x7B"),
            "type 0x10": (b":00000010F0\r\n", "line 1", "record type 0x10"),
            "short line": (b":02000004807A\r\n", "line 1", "byte count 2"),
            "start code alone": (b":\r\n", "line 1", "too short"),
            "odd digit count": (b":0200000480007A0\r\n", "line 1", "odd"),
        }
        for case, (records, line, reason) in cases.items():
            with self.subTest(case):
                self.fresh_directory()
                text = records + b":00000001FF\r\n"
                refusal = self.assert_refused(MCU, f"{line}: ", lambda path: path.write_bytes(text))
                self.assertIn(reason, refusal)

    def test_record_checks_can_be_left_off_for_broken_test_images(self):
        (self.images / TX).write_bytes(b":0400000001020304F3\r\n:00000001FF\r\n")
        result = run_tool("make_binimage.py", "--no-record-checks", self.images, self.out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue((self.out / "BinImage.cpp").exists())

    def test_catalogue_compiles_to_the_texts_of_the_files(self):
        texts = {
            MCU: b":0400000001020304F2\r\n:00000001ff\r\n",
            TX: b":0200000480007A\r:0200000480007A\n:00000001FF",
            RX: VALID,
        }
        for name, text in texts.items():
            (self.images / name).write_bytes(text)
        self.assertEqual(self.generate().returncode, 0, "generation")
        header = (self.out / "BinImage.h").read_text()
        self.assertIn("#ifndef _AUTOGEN_BINIMAGE_H_", header)
        self.assertIn(f"extern const char K620418_MCU_61_1_06_hex[{len(texts[MCU]) + 1}];", header)

        (self.out / "main.cpp").write_text(DUMP_MAIN)
        program = self.out / "dump"
        compiled = subprocess.run(
            [CXX, "-std=c++20", "-Wall", "-Wextra", "-Wpedantic", "-Werror",
             "-Wno-overlength-strings", "-o", str(program),
             str(self.out / "BinImage.cpp"), str(self.out / "main.cpp")],
            capture_output=True, text=True,
        )
        self.assertEqual(compiled.returncode, 0, compiled.stderr)
        expected = b"".join(
            f"{name} {len(name)} {len(text)}\n".encode() + text for name, text in texts.items()
        )
        self.assertEqual(subprocess.run([program], capture_output=True).stdout, expected)


class MakeSampleImages(unittest.TestCase):
    def test_output_is_the_same_on_every_run(self):
        with tempfile.TemporaryDirectory() as work:
            first, second = Path(work) / "a", Path(work) / "b"
            for out in (first, second):
                self.assertEqual(run_tool("make_sample_images.py", out).returncode, 0)
            for name in (MCU, TX, RX):
                self.assertEqual((first / name).read_bytes(), (second / name).read_bytes(), name)
            self.assertEqual((first / TX).read_bytes(), (first / RX).read_bytes())


if __name__ == "__main__":
    TOOLS = Path(sys.argv[1])
    CXX = sys.argv[2]
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]])
