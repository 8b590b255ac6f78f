#!/usr/bin/env python3
"""Tests of the runner and the simulated board, with Fixture.efi standing in for the tool.

Usage: harness_test.py BUILD_DIR   (the folder holding Fixture.efi and SimBoard.efi)
"""

import os
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.realpath(__file__))
RUNNER = os.path.join(HERE, "kestrel-qemu")
BUILD = None


def run(args, **env):
    environment = dict(os.environ)
    environment["KESTREL_EFI"] = os.path.join(BUILD, "Fixture.efi")
    environment["KESTREL_BOARD_DRIVER"] = os.path.join(BUILD, "SimBoard.efi")
    environment["KESTREL_FIRMWARE"] = "ovmf"  # the tests that want U-Boot say so
    environment.update(env)
    return subprocess.run([RUNNER] + args, capture_output=True, env=environment, timeout=600)


class ArgumentChecks(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def image(self, size):
        path = os.path.join(self.folder.name, f"gpp1-{size}.img")
        with open(path, "wb") as f:
            f.write(bytes(size))
        return path

    def test_each_bad_invocation_gives_one_error_line_and_status_2(self):
        good = self.image(1024)
        cases = {
            "no image option": ["--", "-r"],
            "image option without value": ["--gpp1"],
            "missing image": ["--gpp1", os.path.join(self.folder.name, "none.img"), "--", "-r"],
            "folder as image": ["--gpp1", self.folder.name, "--", "-r"],
            "empty image": ["--gpp1", self.image(0), "--", "-r"],
            "partial block": ["--gpp1", self.image(700), "--", "-r"],
            "image smaller than the block size": ["--gpp1", good, "--block-size", "2048", "--",
                                                  "-r"],
            "block size not allowed": ["--gpp1", good, "--block-size", "100", "--", "-r"],
            "block size not a number": ["--gpp1", good, "--block-size=5l2", "--", "-r"],
            "unknown runner option": ["--gpp1", good, "--wp", "--", "-r"],
            "no separator": ["--gpp1", good, "-r"],
            "no command": ["--gpp1", good, "--"],
            "line break in a command": ["--gpp1", good, "--", "-r\n-c"],
            "unknown firmware": ["--gpp1", good, "--firmware", "edk", "--", "-r"],
            "U-Boot with 4096-byte blocks": ["--gpp1", self.image(8192), "--firmware", "uboot",
                                             "--block-size", "4096", "--", "-r"],
            "unknown fault": ["--gpp1", good, "--fault", "eio", "--", "-r"],
            "fault without a disk": ["--no-gpp1", "--fault", "lying", "--", "-r"],
        }
        for name, args in cases.items():
            with self.subTest(name):
                result = run(args)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertEqual(result.stdout, b"")
                lines = result.stderr.decode().splitlines()
                self.assertEqual(len(lines), 1, lines)
                self.assertTrue(lines[0].startswith("kestrel-qemu: error: "), lines[0])

    def test_missing_driver_is_named(self):
        result = run(["--gpp1", self.image(512), "--", "-r"],
                     KESTREL_BOARD_DRIVER=os.path.join(self.folder.name, "SimBoard.efi"))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"simulated-board driver not found", result.stderr)


class Boots(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def test_session_passes_arguments_and_statuses_and_keeps_gpp1_writes(self):
        # Two 4096-byte blocks full of 0xA5: the stamp replaces block 0 only.
        block = 4096
        path = os.path.join(self.folder.name, "gpp1.img")
        with open(path, "wb") as f:
            f.write(b"\xa5" * (2 * block))
        probe = ("fixture: handle on device 0x1C, partition 0\n"
                 "fixture: handle on device 0x1C, partition 1\n"
                 "fixture: handle on device 0x1C, partition 2\n"
                 "fixture: handle on device 0x1C, partition 3\n"
                 "fixture: handle on device 0x1C, partition 4\n"
                 "fixture: GPP1 block size 4096, last block 1, write-protect flag 1\n")
        expected = (
            "=== Kestrel.efi --probe\n"
            "fixture: argc 2\n"
            "argv[1] <--probe>\n" + probe +
            "fixture: block 0: " + " ".join(["0xA5"] * 16) + "\n"
            "=== status 0x0\n"
            '=== Kestrel.efi --stamp=E2E "two words" \u00e9 --exit=27\n'
            "fixture: argc 5\n"
            "argv[1] <--stamp=E2E>\n"
            "argv[2] <two words>\n"
            "argv[3] <\u00e9>\n"
            "argv[4] <--exit=27>\n"
            "=== status 0x1B\n"
            "=== Kestrel.efi\n"
            "fixture: argc 1\n"
            "=== status 0x0\n"
            "=== Kestrel.efi --probe\n"
            "fixture: argc 2\n"
            "argv[1] <--probe>\n" + probe +
            "fixture: block 0: 0x45 0x32 0x45" + " 0x0" * 13 + "\n"
            "=== status 0x0\n")
        result = run(["--gpp1", path, "--write-protect", "--block-size", "4096", "--",
                      "--probe", '--stamp=E2E "two words" \u00e9 --exit=27', "", "--probe"])
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        self.assertEqual(result.stdout.decode("utf-8"), expected)
        with open(path, "rb") as f:
            image = f.read()
        self.assertEqual(image, b"E2E" + bytes(block - 3) + b"\xa5" * block)

    def test_uboot_board_has_its_own_hob_list_and_its_disk_found_by_size(self):
        # U-Boot names its disks by vendor nodes, publishes no HOB list and asks for buffers on a
        # 512-byte boundary; the fixture honours that as the tool must.
        path = os.path.join(self.folder.name, "gpp1.img")
        with open(path, "wb") as f:
            f.write(b"\x5a" * 4096)
        result = run(["--firmware", "uboot", "--write-protect", "--gpp1", path, "--",
                      "--probe", "--stamp=UB"])
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        out = result.stdout.decode("utf-8")
        self.assertIn("fixture: GPP1 block size 512, last block 7, write-protect flag 1\n", out)
        self.assertIn("fixture: block 0: " + " ".join(["0x5A"] * 16) + "\n", out)
        self.assertEqual(out.count("=== status 0x0\n"), 2, out)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), b"UB" + bytes(510) + b"\x5a" * 3584)

    def test_uboot_back_at_its_prompt_is_a_boot_failure(self):
        path = os.path.join(self.folder.name, "gpp1.img")
        shell = os.path.join(self.folder.name, "NotAShell.efi")
        for name, size in ((path, 512), (shell, 64)):
            with open(name, "wb") as f:
                f.write(bytes(size))
        result = run(["--firmware", "uboot", "--gpp1", path, "--", "--exit=0"],
                     KESTREL_UEFI_SHELL=shell)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, b"")
        self.assertIn(b"U-Boot did not start the UEFI Shell", result.stderr)

    def test_hung_guest_is_ended_within_the_time_limit(self):
        path = os.path.join(self.folder.name, "gpp1.img")
        with open(path, "wb") as f:
            f.write(bytes(512))
        start = time.monotonic()
        result = run(["--gpp1", path, "--", "--exit=1", "--hang", "--exit=2"],
                     KESTREL_QEMU_COMMAND_TIMEOUT="5")
        elapsed = time.monotonic() - start
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, b"")
        first = result.stderr.decode().splitlines()[0]
        self.assertIn("time-out", first)
        self.assertIn("Kestrel.efi --hang", first)
        self.assertLess(elapsed, 60)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
