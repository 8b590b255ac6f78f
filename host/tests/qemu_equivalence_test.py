#!/usr/bin/env python3
"""The same sessions through kestrel --image and through Kestrel.efi on the simulated board under
QEMU and OVMF (e2e/session.py): identical console output, statuses and GPP1 images afterwards.
Skipped (77) where the UEFI images, QEMU or OVMF are missing.

Usage: qemu_equivalence_test.py KESTREL SOURCE-DIR BUILD-DIR
"""

import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

KESTREL, SOURCE, BUILD = sys.argv[1:4]
sys.path.insert(0, os.path.join(SOURCE, "e2e"))
import session  # noqa: E402
import sessions  # noqa: E402

PATTERN = b"\x5a"  # no valid record, so the first read fails its CRC check
# name, the runner's options (kestrel takes the same), the image, the commands; the last two are
# sessions of e2e/sessions.py (a written record write-protected; a torn clear and the refusals),
# whose texts and unchanged images those entries check.
SESSIONS = [
    ("writable-512", [], session.gpp1(512, 8, fill=PATTERN), [
        "-r", "-w -p 12345678 -s 87654321 -m 09876 -b 1A -f 0x2 -o 3c", "-r", "-r --debug",
        "-W -P ABCDEFGHIJKLMNOPQRSTU -M mm-1 --DEBUG", "-x --read", "-w -r", "-w -p 1 -m 2 -b -f",
        "", "-c", "-r", "-w -p 12345678 -m 09876"]),
    ("writable-4096", ["--block-size", "4096"], session.gpp1(4096, 8, fill=PATTERN), [
        "-w -p 4096 -m 4k --debug", "-r", "-c --debug"]),
] + [(maker.__name__, r["options"], r["image"],
      # kestrel refuses --wait and --then itself: a board's screen and power are its firmware's.
      [c for c, _, _ in r["steps"] if not re.search(r"--(wait|then)\b", c)])
     for maker in (sessions.write_protected, sessions.refusals) for r in [maker()]]


def host_steps(path, options, commands):
    """kestrel over the image at PATH: the steps as the runner would give them."""
    steps = []
    for args in commands:
        # ARGS is a command line: split into words as the shell does (double quotes group).
        done = subprocess.run([KESTREL, "--image", path] + options + ["--"] + shlex.split(args),
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
    failures = []
    with tempfile.TemporaryDirectory(prefix="kestrel-equivalence-") as work:
        host = os.path.join(work, "host.img")
        for name, options, image, commands in SESSIONS:
            with open(host, "wb") as f:
                f.write(image)
            result = session.run(BUILD, commands, image, options, env=env)
            steps = host_steps(host, options, commands)
            with open(host, "rb") as f:
                failures += [f"{name}: {f} (expected: kestrel's; actual: QEMU's)"
                             for f in session.judge(result, steps, f.read())]
            print(f"{name}: {len(commands)} commands compared")
    print("\n".join(failures) + f"\n{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
