#!/usr/bin/env python3
"""The factory scripts (examples/provision.nsh, examples/inspect.nsh) under the UEFI shell, with
OVMF or U-Boot as the firmware (KESTREL_FIRMWARE, default ovmf).

Usage: script_sessions.py BUILD_DIR SESSION   (SESSION: one of the names in SESSIONS, or "all")

Each session is one boot of e2e/kestrel-qemu with the scripts on the volume, as on a factory
stick. It compares the whole transcript (the tool's output, the script's banner, the exit
status), the log file and any record file the scripts left on the volume, and the GPP1 image
bytes with what they must be.
"""

import difflib
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.realpath(__file__))
RUNNER = os.path.join(HERE, "kestrel-qemu")
EXAMPLES = os.path.join(os.path.dirname(HERE), "examples")
SCRIPTS = [os.path.join(EXAMPLES, name) for name in ("provision.nsh", "inspect.nsh")]

sys.path.insert(0, HERE)
import scenarios  # noqa: E402
from scenarios import (BANNER, EXAMPLE, WRITE_PROTECTED, gpp1, read_ok, record,  # noqa: E402
                       with_block0, write_ok)

RULE = "  =================================================================\n"
PASS_LETTERS = ("   PPPPPP      AAA      SSSSSS    SSSSSS\n"
                "   PP   PP    AA AA    SS        SS\n"
                "   PPPPPP    AA   AA    SSSSS     SSSSS\n"
                "   PP        AAAAAAA        SS        SS\n"
                "   PP        AA   AA   SSSSSS    SSSSSS\n")
FAIL_LETTERS = ("   FFFFFFF     AAA     IIII   LL\n"
                "   FF         AA AA     II    LL\n"
                "   FFFFF     AA   AA    II    LL\n"
                "   FF        AAAAAAA    II    LL\n"
                "   FF        AA   AA   IIII   LLLLLLL\n")
USAGE = "usage: provision.nsh SERIAL MM [CARRIER]\n"
NO_GPP1 = ("- Creating binary image...\n- Writing binary image...\n"
           "ERROR: Failed to find partition!\nERROR: Failed to open eMMC driver!\n"
           "ERROR: Failed to write binary data!\n")


def passed(serial, mm, carrier):
    return (" \n" + RULE + PASS_LETTERS + " \n" +
            f"   PASS: board {serial} provisioned (MM {mm}, carrier {carrier})\n" + RULE)


def failed(reason, status):
    return " \n" + RULE + FAIL_LETTERS + " \n" + f"   FAIL: {reason} (status {status})\n" + RULE


def log_line(serial, mm, carrier, write, read, result):
    return f"serial={serial} mm={mm} carrier={carrier} write={write} read={read} {result}\r\n"


# --- Sessions: (runner options, GPP1 image, [(command, output, status)], final image, files) ----
# files: each file the scripts must leave on the volume, with its bytes.

def session_good_board():
    image = gpp1(512, 2048)
    second = record("12345678", "09876")
    steps = [
        ("provision.nsh 12345678 09876 87654321",
         BANNER + write_ok(EXAMPLE) + BANNER + read_ok(EXAMPLE) +
         passed("12345678", "09876", "87654321"), "0x0"),
        ("inspect.nsh 12345678", "Record of board 12345678 saved to 12345678.txt\n", "0x0"),
        # The same board again, now without a carrier: the log grows by one line.
        ("provision.nsh 12345678 09876",
         BANNER + write_ok(second) + BANNER + read_ok(second) +
         passed("12345678", "09876", "none"), "0x0"),
        # Missing or extra arguments touch neither the board nor the log.
        ("provision.nsh", USAGE + failed("bad arguments", "0x2"), "0x2"),
        ("provision.nsh 12345678", USAGE + failed("bad arguments", "0x2"), "0x2"),
        ("provision.nsh 1 2 3 4", USAGE + failed("bad arguments", "0x2"), "0x2"),
        ("inspect.nsh", "usage: inspect.nsh SERIAL\n", "0x2"),
    ]
    log = (log_line("12345678", "09876", "87654321", "0x0", "0x0", "PASS") +
           log_line("12345678", "09876", "none", "0x0", "0x0", "PASS"))
    dump = (BANNER + read_ok(EXAMPLE, debug=True)).replace("\n", "\r\n")
    files = {"provision.log": log.encode("ascii"), "12345678.txt": dump.encode("ascii")}
    return [], image, steps, with_block0(image, 512, second), files


def session_write_protected():
    # A provisioned board whose partition is patterned beyond the record: nothing may change.
    image = gpp1(512, 64, EXAMPLE, fill=b"\xa5")
    steps = [
        ("provision.nsh 87654321 11111 22222",
         BANNER + WRITE_PROTECTED + failed("write-protected", "0x8"), "0x8"),
    ]
    log = log_line("87654321", "11111", "22222", "0x8", "none", "FAIL write-protected")
    return ["--write-protect"], image, steps, image, {"provision.log": log.encode("ascii")}


def session_no_gpp1():
    steps = [
        ("provision.nsh 12345678 09876", BANNER + NO_GPP1 + failed("no GPP1", "0x7"), "0x7"),
        ("inspect.nsh 12345678",
         "FAIL: reading the record of board 12345678 gave status 0x7; see 12345678.txt\n", "0x7"),
    ]
    log = log_line("12345678", "09876", "none", "0x7", "none", "FAIL no GPP1")
    # The record file keeps the tool's reason; the one Block I/O handle is the volume itself.
    reason = (BANNER + "- GetBlockIo()...\nGetBlockIo(#460) - BlockIo handle count is: 1\n"
              "ERROR: Failed to find partition!\nERROR: Failed to open eMMC driver!\n"
              "ERROR: Failed to read eMMC GPP1!\n").replace("\n", "\r\n")
    return ["--no-gpp1"], None, steps, None, {"provision.log": log.encode("ascii"),
                                              "12345678.txt": reason.encode("ascii")}


SESSIONS = {
    "good_board": session_good_board,
    "write_protected": session_write_protected,
    "no_gpp1": session_no_gpp1,
}


def transcript(steps):
    return "".join(f"=== {command}\n{output}=== status {status}\n"
                   for command, output, status in steps)


def volume_file(volume, name, work):
    target = os.path.join(work, "fetched-" + name)
    result = subprocess.run(["mcopy", "-n", "-i", volume, "::/" + name, target],
                            stdin=subprocess.DEVNULL, capture_output=True)
    if result.returncode != 0:
        return None
    with open(target, "rb") as f:
        return f.read()


def compare_text(what, expected, actual):
    if actual == expected:
        return []
    diff = difflib.unified_diff(expected.splitlines(True), actual.splitlines(True),
                                "expected", "actual")
    return [f"{what} differs:\n" + "".join(diff)]


def run_session(name, build):
    options, image, steps, final, files = SESSIONS[name]()
    environment = dict(os.environ)
    environment.setdefault("KESTREL_EFI", os.path.join(build, "Kestrel.efi"))
    environment.setdefault("KESTREL_BOARD_DRIVER", os.path.join(build, "SimBoard.efi"))
    failures = []
    with tempfile.TemporaryDirectory(prefix=f"kestrel-script-{name}-") as work:
        path = os.path.join(work, "gpp1.img")
        volume = os.path.join(work, "stick.img")
        if image is not None:
            with open(path, "wb") as f:
                f.write(image)
            options = ["--gpp1", path] + options
        command = [RUNNER] + options + [arg for script in SCRIPTS for arg in ("--file", script)]
        command += ["--keep-volume", volume, "--shell", "--"] + [c for c, _, _ in steps]
        result = subprocess.run(command, capture_output=True, env=environment, timeout=900)
        if result.returncode != 0:
            failures.append(f"runner status {result.returncode}: "
                            + result.stderr.decode("utf-8", "replace"))
        failures += compare_text("transcript", transcript(steps),
                                 result.stdout.decode("utf-8", "replace"))
        if image is not None:
            with open(path, "rb") as f:
                left = f.read()
            if left != final:
                first = next((i for i in range(min(len(left), len(final)))
                              if left[i] != final[i]), min(len(left), len(final)))
                failures.append(f"GPP1 image differs: {len(left)} bytes, expected "
                                f"{len(final)}; first difference at byte {first}")
        if result.returncode == 0:
            for file_name, expected in files.items():
                actual = volume_file(volume, file_name, work)
                if actual is None:
                    failures.append(f"the scripts left no {file_name} on the volume")
                else:
                    failures += compare_text(file_name, expected.decode("latin-1"),
                                             actual.decode("latin-1"))
    return failures


if __name__ == "__main__":
    sys.exit(scenarios.main(sys.argv, SESSIONS, run_session, __doc__))
