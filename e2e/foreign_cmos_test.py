#!/usr/bin/env python3
"""Kestrel.efi started on a machine that is not a Tarn board leaves that machine's CMOS alone.

Usage: foreign_cmos_test.py BUILD_DIR   (the folder holding Kestrel.efi, Fixture.efi, SimBoard.efi)

OVMF in QEMU is such a machine: nothing of the platform's vendor on its PCI bus, so no debug UART,
and CMOS bytes 0x40-0x43 (where a Tarn board keeps its debug word) that do not form a valid word.
One boot, with the runner's simulated board loaded: Fixture.efi shows the four bytes, Kestrel.efi -r
runs, Fixture.efi shows them again; then the same with the bytes set to another invalid word.
"""

import importlib.machinery
import importlib.util
import os
import re
import shutil
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.realpath(__file__))
BUILD = None


def load_runner():
    loader = importlib.machinery.SourceFileLoader("kestrel_qemu",
                                                  os.path.join(HERE, "kestrel-qemu"))
    spec = importlib.util.spec_from_loader(loader.name, loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def debug_word_valid(data):
    word = int.from_bytes(bytes(data), "little")
    return (word & 0xC0000000) == 0x80000000 and (word & 0x3FFFFFFF) < 0x400


class ForeignMachineCmos(unittest.TestCase):
    def test_cmos_bytes_read_the_same_before_and_after_each_run(self):
        runner = load_runner()
        runs = [("Fixture.efi", "--cmos"), ("Kestrel.efi", "-r"), ("Fixture.efi", "--cmos"),
                ("Fixture.efi", "--cmos=12345678"), ("Kestrel.efi", "-r"),
                ("Fixture.efi", "--cmos")]
        programs = [program for program, _ in runs]
        commands = [args for _, args in runs]
        work = tempfile.mkdtemp(prefix="kestrel-cmos-")
        self.addCleanup(shutil.rmtree, work, True)
        image = os.path.join(work, "gpp1.img")
        with open(image, "wb") as f:
            f.write(bytes(4 * 512))
        volume = runner.make_volume(
            work, os.path.join(BUILD, "Kestrel.efi"), os.path.join(BUILD, "SimBoard.efi"),
            commands, False, programs, [(os.path.join(BUILD, "Fixture.efi"), "Fixture.efi")])
        runner.boot(runner.qemu_command(work, volume, image, 512), work, commands, 120, 60)

        outputs = [runner.read_back(work, volume, f"o{n}.txt").replace("\r\n", "\n")
                   for n in range(1, len(runs) + 1)]
        statuses = [runner.read_back(work, volume, f"s{n}.txt").strip()
                    for n in range(1, len(runs) + 1)]
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
