#!/usr/bin/env python3
"""Kestrel.efi started on a machine that is not a Tarn board leaves that machine's CMOS alone.

Usage: foreign_cmos_test.py BUILD_DIR   (the folder holding Kestrel.efi, Fixture.efi, SimBoard.efi)

QEMU under OVMF or U-Boot (KESTREL_FIRMWARE) is such a machine: nothing of the platform's vendor on its PCI bus, so no debug UART,
and CMOS bytes 0x40-0x43 (where a Tarn board keeps its debug word) that do not form a valid word.
One boot, with the runner's simulated board loaded: Fixture.efi shows the four bytes, Kestrel.efi -r
runs, Fixture.efi shows them again; then the same with the bytes set to another invalid word.
"""

import os
import re
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.realpath(__file__))
RUNNER = os.path.join(HERE, "kestrel-qemu")
BUILD = None


def run_session(commands):
    """One boot through the runner in shell mode; [(output, status)] for each command."""
    with tempfile.TemporaryDirectory(prefix="kestrel-cmos-") as work:
        image = os.path.join(work, "gpp1.img")
        with open(image, "wb") as f:
            f.write(bytes(4 * 512))
        environment = dict(os.environ)
        environment.setdefault("KESTREL_EFI", os.path.join(BUILD, "Kestrel.efi"))
        environment.setdefault("KESTREL_BOARD_DRIVER", os.path.join(BUILD, "SimBoard.efi"))
        result = subprocess.run([RUNNER, "--gpp1", image, "--file",
                                 os.path.join(BUILD, "Fixture.efi"), "--shell", "--"] + commands,
                                capture_output=True, env=environment, timeout=600)
    if result.returncode != 0:
        raise AssertionError("runner failed: " + result.stderr.decode("utf-8", "replace"))
    transcript = result.stdout.decode("utf-8", "replace")
    runs = re.findall(r"^=== (.*)\n((?:(?!=== ).*\n)*?)=== status (\S+)$", transcript, re.M)
    if [heading for heading, _, _ in runs] != commands:
        raise AssertionError("unexpected transcript:\n" + transcript)
    return [(output, status) for _, output, status in runs]


def debug_word_valid(data):
    word = int.from_bytes(bytes(data), "little")
    return (word & 0xC0000000) == 0x80000000 and (word & 0x3FFFFFFF) < 0x400


class ForeignMachineCmos(unittest.TestCase):
    def test_cmos_bytes_read_the_same_before_and_after_each_run(self):
        runs = run_session(["Fixture.efi --cmos", "Kestrel.efi -r", "Fixture.efi --cmos",
                            "Fixture.efi --cmos=12345678", "Kestrel.efi -r", "Fixture.efi --cmos"])
        outputs = [output for output, _ in runs]
        statuses = [status for _, status in runs]
        cmos = {}
        for number in (1, 3, 4, 6):
            self.assertEqual(statuses[number - 1], "0x0", outputs[number - 1])
            found = re.search(r"^fixture: cmos 0x40-0x43: (.*)$", outputs[number - 1], re.M)
            self.assertIsNotNone(found, outputs[number - 1])
            cmos[number] = [int(value, 16) for value in found.group(1).split()]
        # The tool ran to its end both times.
        for number in (2, 5):
            self.assertEqual(statuses[number - 1], "0x0", outputs[number - 1])
            self.assertIn("Operation successful!", outputs[number - 1])

        self.assertFalse(debug_word_valid(cmos[1]), cmos[1])
        self.assertEqual(cmos[3], cmos[1])
        self.assertEqual(cmos[4], [0x12, 0x34, 0x56, 0x78])
        self.assertEqual(cmos[6], cmos[4])


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
