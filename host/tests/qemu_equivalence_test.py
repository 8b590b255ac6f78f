#!/usr/bin/env python3
"""The same sessions through kestrel --image and through Kestrel.efi on the simulated board under
QEMU and OVMF (e2e/session.py): identical console output, statuses and GPP1 images afterwards.
Skipped (77) where the UEFI images, QEMU or OVMF are missing.

Usage: qemu_equivalence_test.py KESTREL SOURCE-DIR BUILD-DIR
"""

import os
import shutil
import subprocess
import sys
import tempfile

KESTREL, SOURCE, BUILD = sys.argv[1:4]
sys.path.insert(0, os.path.join(SOURCE, "e2e"))
import session  # noqa: E402

PATTERN = b"\x5a"  # no valid record, so the first read fails its CRC check
TORN = bytes(100) + b"Z"  # a torn clear: length and CRC zero with one byte left, no record
# name, block size, write-protected, the image (None: as the previous session left it), commands
SESSIONS = [
    ("writable-512", 512, False, session.gpp1(512, 8, fill=PATTERN), [
        "-r", "-w -p 12345678 -s 87654321 -m 09876 -b 1A -f 0x2 -o 3c", "-r", "-r --debug",
        "-W -P ABCDEFGHIJKLMNOPQRSTU -M mm-1 --DEBUG", "-x --read", "-w -r", "-w -p 1 -m 2 -b -f",
        "", "-c", "-r", "-w -p 12345678 -m 09876"]),
    ("protected-512", 512, True, None, ["-w -p 99999999 -m 11111", "-c", "-c --debug", "-r"]),
    ("refusals-512", 512, True, session.gpp1(512, 8, TORN + bytes(411), fill=PATTERN), [
        "-r", "-x -r", "-w -p 1 -m 2 --sandral 789", "-c --frob", "-w -p AB$CD -m 2",
        "-w -p 1 -m 2 -s caf\u20ac", "-w -p 1 -m 2 -o 0x", "-w -p 1 -m 2 -f 10000000000000000"]),
    ("writable-4096", 4096, False, session.gpp1(4096, 8, fill=PATTERN), [
        "-w -p 4096 -m 4k --debug", "-r", "-c --debug"]),
]


def host_steps(path, options, commands):
    """kestrel over the image at PATH: the steps as the runner would give them."""
    steps = []
    for args in commands:
        # ARGS is a command line: split into words as the shell does.
        done = subprocess.run([KESTREL, "--image", path] + options + ["--"] + args.split(),
                              capture_output=True)
        if done.stderr:
            print(f"note: kestrel {args}: stderr: {done.stderr.decode('utf-8', 'replace')}")
        steps.append((session.tool(args), done.stdout.decode("utf-8", "replace"),
                      f"0x{done.returncode:X}"))
    return steps


def main():
    for path in ("Kestrel.efi", "SimBoard.efi"):
        if not os.path.isfile(os.path.join(BUILD, path)):
            return print(f"SKIPPED: {path} was not built in {BUILD}") or 77
    if shutil.which("qemu-system-x86_64") is None or \
            not os.path.isfile("/usr/share/OVMF/OVMF_CODE_4M.fd"):
        return print("SKIPPED: QEMU or OVMF is not installed") or 77
    env = session.environment(BUILD, KESTREL_FIRMWARE="ovmf")
    failures, image = [], None
    with tempfile.TemporaryDirectory(prefix="kestrel-equivalence-") as work:
        host = os.path.join(work, "host.img")
        for name, block_size, protected, start, commands in SESSIONS:
            if start is not None:
                image = start
                with open(host, "wb") as f:
                    f.write(image)
            options = ["--block-size", str(block_size)] + (["--write-protect"] * protected)
            result = session.run(BUILD, commands, image, options, env=env)
            steps = host_steps(host, options, commands)
            with open(host, "rb") as f:
                failures += [f"{name}: {f} (expected: kestrel's; actual: QEMU's)"
                             for f in session.judge(result, steps, f.read())]
            if result.returncode != 0:
                continue
            if name.startswith("refusals"):
                failures += [f"{name}: a refusal changed GPP1: {f}" for f in
                             session.differs("GPP1 image", image, result.image)]
            image = result.image
            print(f"{name}: {len(commands)} commands compared")
    print("\n".join(failures) + f"\n{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
