#!/usr/bin/env python3
"""Tests of the runner and the simulated board, with Fixture.efi standing in for the tool.

Usage: harness_test.py BUILD_DIR   (the folder holding Fixture.efi and SimBoard.efi)
"""

import os
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))
import session  # noqa: E402

BUILD = None


def environment(**extra):
    # The tests that want U-Boot say so.
    return session.environment(BUILD, KESTREL_EFI=os.path.join(BUILD, "Fixture.efi"),
                               KESTREL_FIRMWARE="ovmf", **extra)


def boot(commands, image, options=(), **env):
    return session.run(BUILD, commands, image, options, env=environment(**env))


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
                result = session.runner(args, environment())
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertEqual(result.stdout, b"")
                lines = result.stderr.decode().splitlines()
                self.assertEqual(len(lines), 1, lines)
                self.assertTrue(lines[0].startswith("kestrel-qemu: error: "), lines[0])

    def test_missing_driver_is_named(self):
        result = session.runner(["--gpp1", self.image(512), "--", "-r"], environment(
            KESTREL_BOARD_DRIVER=os.path.join(self.folder.name, "SimBoard.efi")))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"simulated-board driver not found", result.stderr)


class Boots(unittest.TestCase):
    def test_session_passes_arguments_and_statuses_and_keeps_gpp1_writes(self):
        # Two 4096-byte blocks full of 0xA5: the stamp replaces block 0 only.
        block = 4096
        probe = "".join(f"fixture: handle on device 0x1C, partition {n}\n" for n in range(5)) + \
            "fixture: GPP1 block size 4096, last block 1, write-protect flag 1\n"
        steps = [
            ("--probe", "fixture: argc 2\nargv[1] <--probe>\n" + probe + "fixture: block 0: " +
             " ".join(["0xA5"] * 16) + "\n", "0x0"),
            ('--stamp=E2E "two words" \u00e9 --exit=27', "fixture: argc 5\nargv[1] <--stamp=E2E>\n"
             "argv[2] <two words>\nargv[3] <\u00e9>\nargv[4] <--exit=27>\n", "0x1B"),
            ("", "fixture: argc 1\n", "0x0"),
            ("--probe", "fixture: argc 2\nargv[1] <--probe>\n" + probe +
             "fixture: block 0: 0x45 0x32 0x45" + " 0x0" * 13 + "\n", "0x0")]
        result = boot([c for c, _, _ in steps], b"\xa5" * (2 * block),
                      ["--write-protect", "--block-size", "4096"])
        self.assertEqual(session.judge(result, [(session.tool(c), o, s) for c, o, s in steps],
                                       b"E2E" + bytes(block - 3) + b"\xa5" * block), [])

    def test_uboot_board_has_its_own_hob_list_and_its_disk_found_by_size(self):
        # U-Boot names its disks by vendor nodes, publishes no HOB list and asks for buffers on a
        # 512-byte boundary; the fixture honours that as the tool must.
        result = boot(["--probe", "--stamp=UB"], b"\x5a" * 4096,
                      ["--firmware", "uboot", "--write-protect"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("fixture: GPP1 block size 512, last block 7, write-protect flag 1\n",
                      result.text)
        self.assertIn("fixture: block 0: " + " ".join(["0x5A"] * 16) + "\n", result.text)
        self.assertEqual(result.statuses, ["0x0", "0x0"], result.text)
        self.assertEqual(result.image, b"UB" + bytes(510) + b"\x5a" * 3584)

    def test_uboot_back_at_its_prompt_is_a_boot_failure(self):
        with tempfile.NamedTemporaryFile(suffix=".efi") as shell:
            shell.write(bytes(64))
            shell.flush()
            result = boot(["--exit=0"], bytes(512), ["--firmware", "uboot"],
                          KESTREL_UEFI_SHELL=shell.name)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.text, "")
        self.assertIn("U-Boot did not start the UEFI Shell", result.stderr)

    def test_hung_guest_is_ended_within_the_time_limit(self):
        start = time.monotonic()
        result = boot(["--exit=1", "--hang", "--exit=2"], bytes(512),
                      KESTREL_QEMU_COMMAND_TIMEOUT="5")
        elapsed = time.monotonic() - start
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.text, "")
        first = result.stderr.splitlines()[0]
        self.assertIn("time-out", first)
        self.assertIn("Kestrel.efi --hang", first)
        self.assertLess(elapsed, 60)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
