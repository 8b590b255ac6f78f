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
        self.folder = self.enterContext(tempfile.TemporaryDirectory())

    def image(self, size):
        path = os.path.join(self.folder, f"gpp1-{size}.img")
        with open(path, "wb") as f:
            f.write(bytes(size))
        return path

    def test_each_bad_invocation_gives_one_error_line(self):
        good = self.image(1024)
        no_driver = dict(KESTREL_BOARD_DRIVER=os.path.join(self.folder, "SimBoard.efi"))
        cases = {  # name: the arguments, or (arguments, environment, status, words of the line)
            "no image option": ["--", "-r"],
            "image option without value": ["--gpp1"],
            "missing image": ["--gpp1", os.path.join(self.folder, "none.img"), "--", "-r"],
            "folder as image": ["--gpp1", self.folder, "--", "-r"],
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
            "missing driver": (["--gpp1", good, "--", "-r"], no_driver, 1,
                               "simulated-board driver not found"),
        }
        for name, case in cases.items():
            args, env, status, words = case if isinstance(case, tuple) else (case, {}, 2, "")
            with self.subTest(name):
                result = session.runner(args, environment(**env))
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertEqual(result.stdout, b"")
                lines = result.stderr.decode().splitlines()
                self.assertEqual(len(lines), 1, lines)
                self.assertTrue(lines[0].startswith("kestrel-qemu: error: "), lines[0])
                self.assertIn(words, lines[0])


def probe(block_size, last_block, block0):
    """What Fixture.efi --probe prints on the simulated board, write-protected."""
    return ("fixture: argc 2\nargv[1] <--probe>\n"
            + "".join(f"fixture: handle on device 0x1C, partition {n}\n" for n in range(5))
            + f"fixture: GPP1 block size {block_size}, last block {last_block}, write-protect "
            f"flag 1\nfixture: block 0: " + " ".join(f"0x{b:X}" for b in block0) + "\n")


class Boots(unittest.TestCase):
    def test_arguments_statuses_and_gpp1_writes_pass_under_each_firmware(self):
        # OVMF: two 4096-byte blocks full of 0xA5, the stamp replaces block 0 only. U-Boot names
        # its disks by vendor nodes, publishes no HOB list and asks for buffers on a 512-byte
        # boundary: the board finds its disk by size and publishes a HOB list of its own.
        stamped = b"E2E" + bytes(13)
        rows = [
            (["--block-size", "4096"], b"\xa5" * 8192, [
                ("--probe", probe(4096, 1, b"\xa5" * 16), "0x0"),
                ('--stamp=E2E "two words" \u00e9 --exit=27', "fixture: argc 5\n"
                 "argv[1] <--stamp=E2E>\nargv[2] <two words>\nargv[3] <\u00e9>\n"
                 "argv[4] <--exit=27>\n", "0x1B"),
                ("", "fixture: argc 1\n", "0x0"),
                ("--probe", probe(4096, 1, stamped), "0x0")],
             b"E2E" + bytes(4093) + b"\xa5" * 4096),
            (["--firmware", "uboot"], b"\x5a" * 4096, [
                ("--probe", probe(512, 7, b"\x5a" * 16), "0x0"),
                ("--stamp=UB", "fixture: argc 2\nargv[1] <--stamp=UB>\n", "0x0")],
             b"UB" + bytes(510) + b"\x5a" * 3584),
        ]
        for options, image, steps, final in rows:
            with self.subTest(options[1]):
                result = boot([c for c, _, _ in steps], image, ["--write-protect"] + options)
                expected = [(session.tool(c), o, s) for c, o, s in steps]
                self.assertEqual(session.judge(result, expected, final), [])

    def test_a_failed_boot_or_a_hung_guest_ends_the_run_with_one_message(self):
        with tempfile.NamedTemporaryFile(suffix=".efi") as shell:
            shell.write(bytes(64))  # no image: U-Boot gets back to its prompt
            shell.flush()
            rows = [  # commands, runner options, environment, words of the first error line
                (["--exit=0"], ["--firmware", "uboot"], dict(KESTREL_UEFI_SHELL=shell.name),
                 ["U-Boot did not start the UEFI Shell"]),
                (["--exit=1", "--hang", "--exit=2"], [], dict(KESTREL_QEMU_COMMAND_TIMEOUT="5"),
                 ["time-out", "Kestrel.efi --hang"])]
            for commands, options, env, words in rows:
                with self.subTest(words[0]):
                    start = time.monotonic()
                    result = boot(commands, bytes(512), options, **env)
                    self.assertLess(time.monotonic() - start, 60)
                    self.assertEqual((result.returncode, result.text), (1, ""), result.stderr)
                    for word in words:
                        self.assertIn(word, result.stderr.splitlines()[0])


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
