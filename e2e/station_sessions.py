#!/usr/bin/env python3
"""The factory scripts (examples/provision.nsh, examples/inspect.nsh) on a station stick, under
the UEFI shell with OVMF or U-Boot as the firmware (KESTREL_FIRMWARE, default ovmf).

Usage: station_sessions.py BUILD_DIR SESSION   (SESSION: one of the names in SESSIONS, or "all")

Each session is one boot of e2e/kestrel-qemu with Kestrel.efi and the scripts on a FAT stick of
their own (fs1:, where the commands run), roomy, full or read-only. It checks each command's
status and the lines that tell the operator the outcome, every line the tool logged on the stick
(JSON: operation, guard, status, reason, the record's serial before and after), the blocks kept on
the stick, and the GPP1 image bytes.
"""

import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.realpath(__file__))
RUNNER = os.path.join(HERE, "kestrel-qemu")
EXAMPLES = os.path.join(os.path.dirname(HERE), "examples")

sys.path.insert(0, HERE)
import scenarios  # noqa: E402
from scenarios import EXAMPLE, gpp1, record, with_block0  # noqa: E402

BLOCK = 512
REWORKED = record("22222222", "09876", board=0x1A, fab=0x2, bom=0x3)
NOT_LOGGED = "   FAIL: NOT LOGGED: the stick cannot take the log line (status 0x4A)"


class Step:
    """A command, its status, a line its output must hold, and the log lines it adds:
    (file, operation, guard, status, reason, serial before, serial after) with None for null."""
    def __init__(self, command, status, line, logged=()):
        self.command, self.status, self.line, self.logged = command, status, line, logged


def log(operation, guard, status, reason, before, after, file="provision.log"):
    return (file, operation, guard, status, reason, before, after)


# --- Sessions: (stick state, runner options, GPP1 image, steps, final image, kept blocks) -------

def session_station_line():
    blank = gpp1(BLOCK, 64)
    provisioned = with_block0(blank, BLOCK, EXAMPLE)
    steps = [
        Step("provision.nsh 12345678 09876 87654321", "0x0",
             "   PASS: new board 12345678 provisioned and logged (MM 09876)",
             [log("write", "if-blank", 0, "ok", "", "12345678"),
              log("read", "none", 0, "ok", "12345678", None)]),
        # The same board again as a new one: refused by the guard, nothing written or kept.
        Step("provision.nsh 12345678 09876", "0x15",
             "   FAIL: wrong board for a new board, nothing written (status 0x15)",
             [log("write", "if-blank", 21, "guard refused: GPP1 is not blank", "12345678", None)]),
        Step("provision.nsh rework 12345678 22222222 09876 none 1A 2 3", "0x0",
             "   PASS: rework board 22222222 provisioned and logged (MM 09876)",
             [log("write", "if-serial", 0, "ok", "12345678", "22222222"),
              log("read", "none", 0, "ok", "22222222", None)]),
        # A value with a space reaches the tool as two words: refused, and logged.
        Step('provision.nsh "1234 5678" 09876', "0x2", "   FAIL: bad arguments (status 0x2)",
             [log("write", "if-blank", 2, "bad arguments", None, None)]),
        Step("provision.nsh", "0x2", "   FAIL: bad arguments (status 0x2)"),
        Step("inspect.nsh 22222222", "0x0", "Record of board 22222222 saved to 22222222.json",
             [log("read", "none", 0, "ok", "22222222", None, "22222222.json")]),
        # The block the rework replaced goes back, then the one the first provisioning replaced.
        Step("Kestrel.efi --restore 22222222.bin --if-serial 22222222 --log provision.log", "0x0",
             "Operation successful!",
             [log("restore", "if-serial", 0, "ok", "22222222", "12345678")]),
        Step("Kestrel.efi --restore 12345678.bin --log provision.log", "0x0",
             "Operation successful!", [log("restore", "none", 0, "ok", "12345678", "")]),
    ]
    kept = {"12345678.bin": blank[:BLOCK], "22222222.bin": provisioned[:BLOCK]}
    return "roomy", [], blank, steps, blank, kept


def session_station_full_stick():
    # The replaced block cannot be kept: under OVMF the run is refused before the board is written.
    # U-Boot's FAT driver reports the backup written although the volume has no cluster left (it
    # puts the file past the last cluster, where fsck.fat finds it and reads it back from there),
    # so there the board is written and the run ends unlogged, with 0x4A all the same.
    blank = gpp1(BLOCK, 64)
    uboot = os.environ.get("KESTREL_FIRMWARE", "ovmf") == "uboot"
    steps = [
        Step("provision.nsh 12345678 09876", "0x4A", NOT_LOGGED),
        Step("inspect.nsh 12345678", "0x4A",
             "FAIL: the record of board 12345678 was NOT saved: the stick cannot take "
             "12345678.json"),
    ]
    final = with_block0(blank, BLOCK, record("12345678", "09876")) if uboot else blank
    return "full", [], blank, steps, final, {}


def session_station_read_only_stick():
    blank = gpp1(BLOCK, 64)
    steps = [
        Step("provision.nsh 12345678 09876", "0x4A", NOT_LOGGED),
        Step("inspect.nsh 12345678", "0x4A",
             "FAIL: the record of board 12345678 was NOT saved: the stick cannot take "
             "12345678.json"),
    ]
    return "read-only", [], blank, steps, blank, {}


def session_station_write_protected():
    image = gpp1(BLOCK, 64, EXAMPLE, fill=b"\xa5")
    steps = [
        Step("provision.nsh rework 12345678 87654321 11111", "0x8",
             "   FAIL: write-protected (status 0x8)",
             [log("write", "if-serial", 8, "write-protected", None, None)]),
    ]
    return "roomy", ["--write-protect"], image, steps, image, {}


def session_station_no_gpp1():
    steps = [
        Step("provision.nsh 12345678 09876", "0x7", "   FAIL: no GPP1 (status 0x7)",
             [log("write", "if-blank", 7, "GPP1 not found", None, None)]),
    ]
    return "roomy", ["--no-gpp1"], None, steps, None, {}


SESSIONS = {
    "station_line": session_station_line,
    "station_full_stick": session_station_full_stick,
    "station_read_only_stick": session_station_read_only_stick,
    "station_write_protected": session_station_write_protected,
    "station_no_gpp1": session_station_no_gpp1,
}


def mtools(*argv):
    return subprocess.run(list(argv), stdin=subprocess.DEVNULL, capture_output=True)


def make_stick(path, tool, state):
    """A station stick with the tool and the scripts; a full one has no byte left."""
    mtools("mkfs.fat", "-C", path, "2048")
    for source in (tool, os.path.join(EXAMPLES, "provision.nsh"),
                   os.path.join(EXAMPLES, "inspect.nsh")):
        mtools("mcopy", "-i", path, source, "::/")
    if state == "full":
        listing = mtools("mdir", "-i", path, "::/").stdout.decode()
        free = int(listing.split("bytes free")[0].split("\n")[-1].replace(" ", ""))
        filler = path + ".filler"
        with open(filler, "wb") as f:
            f.write(bytes(free))
        mtools("mcopy", "-i", path, filler, "::/filler")


def stick_file(stick, name, work):
    target = os.path.join(work, "fetched-" + name)
    if mtools("mcopy", "-n", "-i", stick, "::/" + name, target).returncode != 0:
        return None
    with open(target, "rb") as f:
        return f.read()


def serial(record_object):
    return None if record_object is None else record_object["module_serial"].strip()


def logged_lines(stick, work, failures):
    """Each line the tool logged, by file, as the tuples the steps give."""
    lines = []
    for name in ("provision.log", "22222222.json", "12345678.json"):
        text = stick_file(stick, name, work)
        for line in (text or b"").decode("ascii").splitlines():
            try:
                j = json.loads(line)
            except ValueError:
                failures.append(f"{name}: not one JSON object a line: {line!r}")
                continue
            lines.append((name, j["operation"], j["guard"], j["status"], j["reason"],
                          serial(j["before"]), serial(j["after"])))
    return lines


def run_session(name, build):
    state, options, image, steps, final, kept = SESSIONS[name]()
    environment = dict(os.environ)
    environment.setdefault("KESTREL_EFI", os.path.join(build, "Kestrel.efi"))
    environment.setdefault("KESTREL_BOARD_DRIVER", os.path.join(build, "SimBoard.efi"))
    failures = []
    with tempfile.TemporaryDirectory(prefix=f"kestrel-{name}-") as work:
        stick = os.path.join(work, "stick.img")
        make_stick(stick, environment["KESTREL_EFI"], state)
        path = os.path.join(work, "gpp1.img")
        if image is not None:
            with open(path, "wb") as f:
                f.write(image)
            options = ["--gpp1", path] + options
        options += ["--stick", stick] + (["--stick-read-only"] if state == "read-only" else [])
        result = subprocess.run([RUNNER] + options + ["--shell", "--"] +
                                [step.command for step in steps],
                                capture_output=True, env=environment, timeout=900)
        if result.returncode != 0:
            failures.append(f"runner status {result.returncode}: "
                            + result.stderr.decode("utf-8", "replace"))
        parts = result.stdout.decode("utf-8", "replace").split("=== ")[1:]
        runs = [part for part in parts if not part.startswith("status ")]
        statuses = [part.split()[1] for part in parts if part.startswith("status ")]
        for number, step in enumerate(steps):
            if number >= len(runs) or number >= len(statuses):
                failures.append(f"{step.command}: no output")
                continue
            if statuses[number] != step.status:
                failures.append(f"{step.command}: status {statuses[number]}, not {step.status}")
            if step.line not in runs[number].splitlines():
                failures.append(f"{step.command}: no line {step.line!r} in\n{runs[number]}")
        expected = [line for step in steps for line in step.logged]
        actual = logged_lines(stick, work, failures)
        if sorted(actual) != sorted(expected) or len(actual) != len(expected):
            failures.append("log lines differ:\n  expected " + "\n           ".join(map(str, expected))
                            + "\n  actual   " + "\n           ".join(map(str, actual)))
        for file_name, content in kept.items():
            if stick_file(stick, file_name, work) != content:
                failures.append(f"{file_name} on the stick is not the block it replaced")
        if image is not None:
            with open(path, "rb") as f:
                left = f.read()
            if left != final:
                failures.append("GPP1 image differs from what it must be")
    return failures


if __name__ == "__main__":
    sys.exit(scenarios.main(sys.argv, SESSIONS, run_session, __doc__))
