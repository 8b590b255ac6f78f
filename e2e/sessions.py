#!/usr/bin/env python3
"""The end-to-end sessions on the simulated board, one boot each, as one table over session.py.

Usage: sessions.py BUILD_DIR SESSION   (SESSION: a name in TABLE)

The firmware is OVMF, or U-Boot with KESTREL_FIRMWARE=uboot; the expected texts are the same
except where a row says otherwise. A row gives the runner's options, the starting GPP1 image
(None: no GPP1), the steps (the tool's arguments, or with shell=True a shell command line; its
output; its status) and the image afterwards. A new session is a new row.
"""

import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.realpath(__file__))
sys.path.insert(0, HERE)
from session import *  # noqa: E402,F401,F403
import session  # noqa: E402

CAPITALS = record("AbC123", "Mm-9")
PATTERNED = gpp1(512, 64, EXAMPLE, fill=b"\xa5")  # a written record, the rest patterned


def row(image, steps, final="same", options=(), shell=False, files=(), check=None):
    return dict(image=image, steps=steps, final=image if final == "same" else final,
                options=options, shell=shell, files=files, check=check)


# --- The tool's own sessions ------------------------------------------------------------------

def blank_512():
    image = gpp1(512, 2048)
    return row(image, [
        ("-h", BANNER + HELP + SUCCESS, "0x0"),
        ("-r", BANNER + read_ok(BLANK_RECORD), "0x0"),
        (WRITE_EXAMPLE, BANNER + write_ok(EXAMPLE), "0x0"),
        ("-r", BANNER + read_ok(EXAMPLE), "0x0"),
        ("--debug -r", BANNER + read_ok(EXAMPLE, debug=True), "0x0"),
        ("-c", BANNER + CLEARING + SUCCESS, "0x0"),
        ("-r", BANNER + read_ok(BLANK_RECORD), "0x0"),
        ("-x -r", unknown(1, "-x") + BANNER + read_ok(BLANK_RECORD), "0x0"),
        ("--frob", unknown(1, "--frob") + BANNER + INVALID, "0x2"),
        ("", BANNER + INVALID, "0x2"),
        ("--WRITE --Pylon AbC123 -M Mm-9", BANNER + write_ok(CAPITALS), "0x0"),
        ("--READ", BANNER + read_ok(CAPITALS), "0x0"),
        (WRITE_ALL_SIX, BANNER + write_ok(ALL_SIX), "0x0"),
        ("-r", BANNER + read_ok(ALL_SIX), "0x0"),
    ], with_block0(image, 512, ALL_SIX))


def write_protected():
    return row(PATTERNED, [
        ("-w -p 1 -m 2", BANNER + WRITE_PROTECTED, "0x8"),
        ("-c", BANNER + WRITE_PROTECTED, "0x8"),
        ("--debug -c", BANNER + WRITE_PROTECTED, "0x8"),
        ("-r", BANNER + read_ok(EXAMPLE), "0x0"),
    ], options=["--write-protect"])


def block_4096():
    # 4096-byte blocks holding a record whose CRC is off by one bit, the rest patterned.
    corrupt = bytearray(EXAMPLE)
    corrupt[20] ^= 0x01
    image = gpp1(4096, 4, bytes(corrupt), fill=b"\xa5")
    repaired = record("12345678", "09876", board=0x7)
    return row(image, [
        ("-r", BANNER + CORRUPTED, "0xA"),
        # The bytes as stored, so that the record can be seen before anything overwrites it.
        ("--debug -r", BANNER + search() + CORRUPTED + hex_dump(bytes(corrupt)), "0xA"),
        ("--debug -w -p 12345678 -m 09876 -b 7", BANNER + write_ok(repaired, debug=True), "0x0"),
        ("-r", BANNER + read_ok(repaired), "0x0"),
    ], with_block0(image, 4096, repaired), options=["--block-size", "4096"])


def refusals():
    # A torn clear (length and CRC zero, one byte left over), then every refusal of the shared
    # table that a shell script can carry; none may touch the image. Write-protected: a refusal
    # that came after the platform's report would show as 0x8.
    torn = bytearray(176)
    torn[100] = 0x5A
    steps = [("-r", BANNER + CORRUPTED, "0xA"), ("-x -r", unknown(1, "-x") + BANNER + CORRUPTED,
                                                 "0xA")]
    steps += [r for r in REFUSALS if not re.search(r"[\x00-\x1f]", r[0])]
    return row(gpp1(512, 16, bytes(torn), fill=b"\x3c"), steps, options=["--write-protect"])


def record_jobs():
    # A board provisioned only while blank, a second provisioning refused with the image as it
    # was, a rework that names the stored serial, a carrier replaced alone, and a dry run.
    reading = "- Reading GPP1 data...\n"
    rework = record("12345678", "09876", carrier="87654321", board=0x3)
    edited = record("12345678", "09876", carrier="11223344", board=0x3)
    rehearsed = record("12345678", "55555", carrier="11223344", board=0x3)
    image = gpp1(512, 64, fill=b"\xff")  # an erased eMMC
    return row(image, [
        (WRITE_EXAMPLE + " --if-blank", BANNER + reading + write_ok(EXAMPLE), "0x0"),
        ("-w -p 22222222 -m 09876 --if-blank", BANNER + reading + "ERROR: GPP1 holds the record "
         "of Pylon Serial #12345678, not a blank record!\n", "0x15"),
        (WRITE_EXAMPLE + " -b 3 --if-serial 12345678", BANNER + reading + write_ok(rework), "0x0"),
        ("--edit -s 11223344 --if-serial 12345678", BANNER + reading + write_ok(edited), "0x0"),
        ("--edit -m 55555 --dry-run", BANNER + reading + WRITE_STEPS[0] + display(rehearsed) +
         "Dry run: nothing was written.\n", "0x0"),
        ("-r", BANNER + read_ok(edited), "0x0"),
    ], with_block0(image, 512, edited))


# --- Device faults under the firmware's own disk driver (QEMU's null-co and blkdebug) ---------

DEVICE_STATUS = "GPP1 device status: Device Error\n"  # EFI_DEVICE_ERROR
READ_ERROR = "ERROR: Failed to read GPP1!\n" + DEVICE_STATUS
READ_FAILED = READ_ERROR + "ERROR: Failed to read eMMC GPP1!\n"
NOT_WRITTEN = "ERROR: Failed to write binary data!\n"
WRITE_ERROR = "ERROR: Failed to write GPP1!\n" + DEVICE_STATUS
UNCHANGED = "- GPP1 read once more holds the block it held before: nothing was written.\n"
UNCONFIRMED = "- GPP1 read once more holds the new block, unconfirmed by the device.\n"
HELD = "- Reading GPP1 data...\n" + WRITE_STEPS[0] + \
    "- GPP1 already holds this record: nothing was written.\n" + SUCCESS
WRITTEN = BANNER + WRITE_STEPS[0] + WRITE_STEPS[1]  # a write that reached the device
VERIFIED = BANNER + "".join(WRITE_STEPS)


def fault_lying():
    # Writes acknowledged and dropped, reads all zeros: the record reads blank and a write is
    # caught by its verify; a clear leaves what a clear must (zeros), so it passes.
    return row(gpp1(512, 2048), [
        ("-r", BANNER + read_ok(BLANK_RECORD), "0x0"),
        (WRITE_EXAMPLE, VERIFIED + "ERROR: Failed to verify GPP1!\n"
         "ERROR: Failed to verify binary data!\n", "0x1B"),
        ("-r", BANNER + read_ok(BLANK_RECORD), "0x0"),
        ("-c", BANNER + CLEARING + SUCCESS, "0x0"),
    ], options=["--fault", "lying"])


def fault_eio_write():
    # The write and the clear fail; block 0, read once more, is as it was (0x42).
    return row(PATTERNED, [
        ("-r", BANNER + read_ok(EXAMPLE), "0x0"),
        (WRITE_ALL_SIX, WRITTEN + WRITE_ERROR + UNCHANGED + NOT_WRITTEN, "0x42"),
        ("-c", BANNER + CLEARING + WRITE_ERROR + UNCHANGED + NOT_WRITTEN, "0x42"),
        ("-r", BANNER + read_ok(EXAMPLE), "0x0"),
    ], options=["--fault", "eio-write"])


def fault_eio_read():
    # A device that cannot be read is not written either: a write reads block 0 first (0x41).
    return row(PATTERNED, [
        ("-r", BANNER + READ_FAILED, "0x41"),
        ("--debug -r", BANNER + search() + READ_FAILED, "0x41"),
        (WRITE_ALL_SIX, WRITTEN + READ_ERROR + NOT_WRITTEN, "0x41"),
    ], options=["--fault", "eio-read"])


def fault_eio_flush():
    # OVMF passes the tool's flush to the disk, which fails it: the block is there, unconfirmed
    # (0x43); the same guarded write once more finds it and writes nothing. U-Boot's Block I/O
    # takes a flush as done.
    write = ((BANNER + write_ok(ALL_SIX), "0x0") if session.FIRMWARE == "uboot"
             else (WRITTEN + WRITE_ERROR + UNCONFIRMED + NOT_WRITTEN, "0x43"))
    return row(PATTERNED, [(WRITE_ALL_SIX,) + write,
                           (WRITE_ALL_SIX + " --if-serial PYL-0042", BANNER + HELD, "0x0"),
                           ("-r", BANNER + read_ok(ALL_SIX), "0x0")],
               with_block0(PATTERNED, 512, ALL_SIX), options=["--fault", "eio-flush"])


def fault_eio_reread():
    # Reads fail once the write went out: its read-back and the read once more both fail, and
    # what GPP1 holds is unknown (0x44); it is in fact the new record.
    return row(PATTERNED, [
        (WRITE_ALL_SIX, VERIFIED + READ_FAILED + READ_ERROR +
         "ERROR: GPP1 cannot be read once more: what it holds is unknown!\n"
         "ERROR: Failed to verify binary data!\n", "0x44"),
    ], with_block0(PATTERNED, 512, ALL_SIX), options=["--fault", "eio-reread"])


# --- The factory scripts on a station stick (examples/provision.nsh, inspect.nsh) ------------
# Each runs on a FAT stick of its own (fs1:) holding Kestrel.efi and the scripts, roomy, full or
# read-only. The scripts are the shell's front door to the tool's station jobs: the status and the
# banner are the tool's. A step gives the command, its status, its verdict (the banner's line) and
# the lines the tool logs in provision.log for it: (operation, guard, status, reason, serial
# before, serial after), None for null.

SCRIPTS = [os.path.join(HERE, "..", "examples", name) for name in ("provision.nsh", "inspect.nsh")]
LOG = "provision.log"


def verdict(job, serial, reason, status):
    """The job's banner line: PASS for status 0x0, FAIL otherwise."""
    of = f" of {serial}" if serial else ""
    return f"   {'PASS' if status == '0x0' else 'FAIL'}: {job}{of}: {reason} (status {status})"


def logged(operation, guard, status, reason, before, after):
    return (operation, guard, status, reason, before, after)


NOT_LOGGED = "not logged, nothing written"
# A stick that takes no more: the run's log line cannot be put there, and nothing is written.
STICK_REFUSED = [
    ("provision.nsh 12345678 09876", "0x4B", verdict("provision", "12345678", NOT_LOGGED, "0x4B"),
     []),
    ("inspect.nsh 12345678", "0x4B", verdict("inspect", "12345678", NOT_LOGGED, "0x4B"), [])]


def station(state, image, steps, final="same", kept=None, saved=None, options=(), tool=True):
    """A session of station steps; KEPT: the blocks the stick must hold, by name; SAVED: the
    record files it must hold, by name, with the serial each holds."""
    def check(result):
        failures = []
        for (command, status, line, _), (_, out, got) in zip(steps, result.entries):
            if got != status:
                failures.append(f"{command}: status {got}, not {status}")
            if line not in out.splitlines():
                failures.append(f"{command}: no line {line!r} in\n{out}")
        actual = []
        for text in result.stick_files.get(LOG, b"").decode("ascii").splitlines():
            try:
                j = json.loads(text)
            except ValueError:
                failures.append(f"{LOG}: not one JSON object a line: {text!r}")
                continue
            serials = [None if r is None else r["module_serial"].strip()
                       for r in (j["before"], j["after"])]
            actual.append((j["operation"], j["guard"], j["status"], j["reason"], *serials))
        expected = [line for step in steps for line in step[3]]
        if actual != expected:
            failures.append(f"log lines differ:\n  expected {expected}\n  actual   {actual}")
        for name, content in (kept or {}).items():
            if result.stick_files.get(name) != content:
                failures.append(f"{name} on the stick is not the block it replaced")
        for name, serial in (saved or {}).items():
            text = result.stick_files.get(name, b"").decode("ascii")
            if text.count("\n") != 1 or json.loads(text)["module_serial"].strip() != serial:
                failures.append(f"{name} on the stick is not one JSON record of {serial}: {text!r}")
        return failures
    r = row(image, None, final, options, shell=True, check=(check, [c for c, _, _, _ in steps]))
    r["stick"] = (state, SCRIPTS, (LOG,) + tuple(kept or ()) + tuple(saved or ()), tool)
    return r


def station_line():
    blank = gpp1(512, 64)
    provisioned = with_block0(blank, 512, EXAMPLE)
    reworked = with_block0(blank, 512, record("22222222", "09876", board=0x1A, fab=0x2, bom=0x3))
    refused = "bad arguments"
    return station("roomy", blank, [
        ("provision.nsh 12345678 09876 87654321", "0x0", verdict("provision", "12345678", "ok",
                                                                 "0x0"),
         [logged("provision", "if-blank", 0, "ok", "", "12345678")]),
        # The same board again as a new one: refused by the guard, nothing written or kept.
        ("provision.nsh 12345678 09876", "0x15", verdict("provision", "12345678", "guard refused: "
                                                         "GPP1 is not blank", "0x15"),
         [logged("provision", "if-blank", 21, "guard refused: GPP1 is not blank", "12345678",
                 None)]),
        ("provision.nsh rework 12345678 22222222 09876 none 1A 2 3", "0x0",
         verdict("rework", "22222222", "ok", "0x0"),
         [logged("rework", "if-serial", 0, "ok", "12345678", "22222222")]),
        # A corrected MM on the same board: its backup's name is taken, the next one is used.
        ("provision.nsh rework 22222222 22222222 11111", "0x0",
         verdict("rework", "22222222", "ok", "0x0"),
         [logged("rework", "if-serial", 0, "ok", "22222222", "22222222")]),
        # A value with a space, quoted (it comes apart into two words) or escaped (it arrives
        # whole): refused, and logged.
        ('provision.nsh "1234 5678" 09876', "0x2", verdict("provision", "1234", refused, "0x2"),
         [logged("provision", "if-blank", 2, refused, None, None)]),
        ("provision.nsh 1234^ 5678 09876", "0x2", verdict("provision", "1234 5678", refused, "0x2"),
         [logged("provision", "if-blank", 2, refused, None, None)]),
        # Values that are options to the tool are values: the help is no provisioning, a clear no
        # write.
        ("provision.nsh -h 09876", "0x2", verdict("provision", "-h", refused, "0x2"),
         [logged("provision", "if-blank", 2, refused, None, None)]),
        ("provision.nsh rework 22222222 50000005 -c", "0x2", verdict("rework", "50000005",
                                                                     refused, "0x2"),
         [logged("rework", "if-serial", 2, refused, None, None)]),
        # No values: they are asked for; one typed with a space is asked for again, then Esc.
        ("provision.nsh", "0x2", verdict("provision", "", "ended at a prompt, nothing written",
                                         "0x2"),
         [logged("provision", "if-blank", 2, "ended at a prompt, nothing written", None, None)]),
        ("inspect.nsh 22222222", "0x0", verdict("inspect", "22222222", "ok", "0x0"),
         [logged("inspect", "if-serial", 0, "ok", "22222222", None)]),
        ("inspect.nsh 22222222", "0x0", verdict("inspect", "22222222", "ok", "0x0"),
         [logged("inspect", "if-serial", 0, "ok", "22222222", None)]),
        ("inspect.nsh 99999999", "0x15", verdict("inspect", "99999999", "guard refused: GPP1 "
                                                 "holds another record", "0x15"),
         [logged("inspect", "if-serial", 21, "guard refused: GPP1 holds another record",
                 "22222222", None)]),
        # The block the first rework replaced goes back, then the one the first provisioning
        # replaced.
        ("Kestrel.efi --restore 22222222.bin --if-serial 22222222 --log provision.log", "0x0",
         SUCCESS.strip(), [logged("restore", "if-serial", 0, "ok", "22222222", "12345678")]),
        ("Kestrel.efi --restore 12345678.bin --log provision.log", "0x0", SUCCESS.strip(),
         [logged("restore", "none", 0, "ok", "12345678", "")]),
        ("inspect.nsh 12345678", "0x15", verdict("inspect", "12345678", "guard refused: GPP1 is "
                                                 "blank", "0x15"),
         [logged("inspect", "if-serial", 21, "guard refused: GPP1 is blank", "", None)]),
    ], kept={"12345678.bin": blank[:512], "22222222.bin": provisioned[:512],
             "22222222-2.bin": reworked[:512]},
        saved={"22222222.json": "22222222", "22222222-2.json": "22222222"},
        options=["--keys", r"1234 5678\r\e"])


def station_scanner():
    # A board provisioned and inspected with its values typed at the prompts, as a barcode
    # scanner types them.
    blank = gpp1(512, 64)
    return station("roomy", blank, [
        ("provision.nsh", "0x0", verdict("provision", "12345678", "ok", "0x0"),
         [logged("provision", "if-blank", 0, "ok", "", "12345678")]),
        ("inspect.nsh", "0x0", verdict("inspect", "12345678", "ok", "0x0"),
         [logged("inspect", "if-serial", 0, "ok", "12345678", None)]),
    ], with_block0(blank, 512, EXAMPLE), saved={"12345678.json": "12345678"},
        options=["--keys", r"12345678\r09876\r87654321\r12345678\r"])


def station_full_stick():
    return station("full", gpp1(512, 64), STICK_REFUSED)


def station_read_only_stick():
    return station("read-only", gpp1(512, 64), STICK_REFUSED)


def station_one_cluster():
    # The run's line takes the stick's last free cluster: the replaced block cannot be kept, so
    # nothing is written, and the line says so. (U-Boot's FAT reports every byte free and takes
    # the backup past its end: the tool's probe after it finds the volume full all the same.)
    return station("one-cluster", gpp1(512, 64), [
        ("provision.nsh 12345678 09876", "0x40",
         verdict("provision", "12345678", "backup failed, nothing written", "0x40"),
         [logged("provision", "if-blank", 64, "backup failed, nothing written", "", None)])])


def station_two_clusters():
    # Room for the run's line and the replaced block, and no more: the one run that provisions
    # the board is logged whole.
    blank = gpp1(512, 64)
    return station("two-clusters", blank, [
        ("provision.nsh 12345678 09876", "0x0", verdict("provision", "12345678", "ok", "0x0"),
         [logged("provision", "if-blank", 0, "ok", "", "12345678")])],
        with_block0(blank, 512, record("12345678", "09876")), kept={"12345678.bin": blank[:512]})


def station_write_protected():
    return station("roomy", PATTERNED, [
        ("provision.nsh rework 12345678 87654321 11111", "0x8",
         verdict("rework", "87654321", "write-protected", "0x8"),
         [logged("rework", "if-serial", 8, "write-protected", None, None)]),
    ], options=["--write-protect"])


def station_no_gpp1():
    return station("roomy", None, [
        ("provision.nsh 12345678 09876", "0x7",
         verdict("provision", "12345678", "GPP1 not found", "0x7"),
         [logged("provision", "if-blank", 7, "GPP1 not found", None, None)]),
    ])


def station_no_tool():
    # Another Kestrel.efi on the shell's path (the harness volume's) is never run instead.
    return station("roomy", gpp1(512, 64), [
        ("provision.nsh 12345678 09876", "0xE",
         "   FAIL: there is no Kestrel.efi in FS1: (status 0xE)", [])], tool=False)


def station_faults(fault, status, reason, line):
    blank = gpp1(512, 64)
    return station("roomy", blank, [("provision.nsh 12345678 09876", status,
                                     verdict("provision", "12345678", reason, status), [line])],
                   options=["--fault", fault])


def station_eio_read():
    return station_faults("eio-read", "0x41", "device error, nothing written",
                          logged("provision", "if-blank", 65, "device error, nothing written",
                                 None, None))


def station_eio_write():
    return station_faults("eio-write", "0x42", "write failed, GPP1 unchanged",
                          logged("provision", "if-blank", 66, "write failed, GPP1 unchanged", "",
                                 ""))


def station_eio_flush():
    # The same line once more passes without writing (U-Boot's flush never reaches the disk).
    blank = gpp1(512, 64)
    held = "already holds this record"
    done = [logged("provision", "if-blank", 0, held, "12345678", None)]
    first = (("0x0", verdict("provision", "12345678", "ok", "0x0"),
              [logged("provision", "if-blank", 0, "ok", "", "12345678")])
             if session.FIRMWARE == "uboot" else
             ("0x43", verdict("provision", "12345678", "written, unconfirmed by the device",
                              "0x43"),
              [logged("provision", "if-blank", 67, "written, unconfirmed by the device", "",
                      "12345678")]))
    return station("roomy", blank, [("provision.nsh 12345678 09876",) + first,
                                    ("provision.nsh 12345678 09876", "0x0",
                                     verdict("provision", "12345678", held, "0x0"), done)],
                   with_block0(blank, 512, record("12345678", "09876")),
                   options=["--fault", "eio-flush"])


# --- Without any shell: the firmware's boot manager starts the tool ------------------------
# Each step one boot of the tool: from a stick's default boot image with its kestrel.args, or
# from a boot entry whose optional data is the command line, the simulated board's driver loaded
# from the stick by a Driver#### entry; under enforced Secure Boot the signed images. Judged by
# the console from the tool's first line to its outcome line, the status that line names, GPP1's
# image and the log lines on the stick.

BOOTED = " --wait 0 --then off"
BOOTED_WRITE = "-w -p 12345678 -m 09876 --if-blank --log provision.log" + BOOTED
READING = "- Reading GPP1 data...\n"


def ended(status, reason):
    return f"Kestrel.efi ended with status {status}: {reason}.\n"


def booted(kind, steps, logs, final, options=(), env=None, image=None):
    def check(result):
        lines = [json.loads(text) for text in
                 result.stick_files.get("provision.log", b"").decode("ascii").splitlines()]
        actual = [(j["operation"], j["guard"], j["status"], j["reason"]) for j in lines]
        return [] if actual == logs else [f"log lines {actual}, not {logs}"]
    r = row(gpp1(512, 64) if image is None else image, steps, final,
            ["--boot-manager", kind] + list(options), check=(check, None))
    r["stick"], r["env"] = ("roomy", [], ("provision.log",), False), env
    return r


def boot_stick():
    # A write, a guard's refusal and a run without arguments (no kestrel.args: the image returns
    # all ones and says nothing, and the boot manager goes on).
    blank = gpp1(512, 64)
    return booted("stick", [
        (BOOTED_WRITE, BANNER + READING + "".join(WRITE_STEPS) + SUCCESS + ended("0x0", "ok"),
         "0x0"),
        (BOOTED_WRITE.replace("12345678", "22222222"), BANNER + READING + "ERROR: GPP1 holds the "
         "record of Pylon Serial #12345678, not a blank record!\n" +
         ended("0x15", "guard refused: GPP1 is not blank"), "0x15"),
        ("", "", "firmware: FFFFFFFF"),
    ], [("write", "if-blank", 0, "ok"), ("write", "if-blank", 21,
                                         "guard refused: GPP1 is not blank")],
        with_block0(blank, 512, record("12345678", "09876")), ["--secure-boot"])


def boot_entry():
    blank = gpp1(512, 64)
    done = record("12345678", "09876")
    return booted("entry", [
        (BOOTED_WRITE, BANNER + READING + "".join(WRITE_STEPS) + SUCCESS + ended("0x0", "ok"),
         "0x0"),
        ("-r --if-serial 12345678 --log provision.log" + BOOTED,
         BANNER + read_ok(done) + ended("0x0", "ok"), "0x0"),
    ], [("write", "if-blank", 0, "ok"), ("read", "if-serial", 0, "ok")],
        with_block0(blank, 512, done), ["--secure-boot"])


STATION_STICK = "--wait 0 --then off --provision"


def booted_lines(steps, logs, final, options, image):
    """A boot-manager session judged by lines: each step (tool arguments, status, lines its
    console must hold in this order) and the log lines and images afterwards."""
    r = booted("stick", None, logs, final, options, image=image)
    log_check = r["check"][0]

    def check(result):
        failures = log_check(result)
        for (command, status, lines), (_, out, got) in zip(steps, result.entries):
            at = 0
            for line in lines:
                at = out.find(line + "\n", at)
                if at < 0:
                    failures.append(f"{command}: no line {line!r} (in order) in\n{out}")
                    break
            if got != status:
                failures.append(f"{command}: status {got}, not {status}")
        return failures
    r["check"] = (check, [c for c, _, _ in steps])
    return r


def boot_line():
    # Three boards in a row from one stick whose kestrel.args is the same for every board, each
    # boot's values typed at the console (the third refused, then Esc); a new backup and a new
    # log line each.
    blank = gpp1(512, 64)
    refused = "ended at a prompt, nothing written"
    return booted_lines([
        (STATION_STICK, "0x0", ["Pylon serial: 11111111", "MM: 09876",
                                "Sandrel serial (Enter for none): ", WRITE_STEPS[2].strip(),
                                verdict("provision", "11111111", "ok", "0x0"),
                                ended("0x0", "ok").strip()]),
        (STATION_STICK, "0x0", ["Sandrel serial (Enter for none): 33333333",
                                "- Saving GPP1 block 0 to 22222222.bin...",
                                verdict("provision", "22222222", "ok", "0x0")]),
        (STATION_STICK, "0x2", ["Pylon serial: 3333 3333",
                                'ERROR: Pylon Serial # "3333 3333" holds a space!',
                                "ERROR: Esc at the prompt: nothing was done!",
                                verdict("provision", "", refused, "0x2"),
                                ended("0x2", refused).strip()]),
    ], [("provision", "if-blank", 0, "ok"), ("provision", "if-blank", 0, "ok"),
        ("provision", "if-blank", 2, refused)],
        [with_block0(blank, 512, record("11111111", "09876")),
         with_block0(blank, 512, record("22222222", "09876", carrier="33333333")), blank],
        ["--secure-boot", "--keys", r"11111111\r09876\r\r", "--keys",
         r"22222222\r09876\r33333333\r", "--keys", r"3333 3333\r\e"], [blank] * 3)


def boot_returns():
    # A refused run that returns to the boot manager (no --then) tells it the start succeeded:
    # the boot manager shows its menu and never starts the stick a second time.
    return booted_lines([("--wait 0 --provision 12345678 -h", "0x2", [
        "ERROR: MM # \"-h\" starts with '-': a job's values are never options, which come "
        "before the job!", verdict("provision", "12345678", "bad arguments", "0x2"),
        ended("0x2", "bad arguments").strip()])], [("provision", "if-blank", 2, "bad arguments")],
        "same", ["--secure-boot"], None)


def boot_args_files(build, work):
    # Sticks whose kestrel.args the stick maker wrote (the words must reach the tool as given:
    # the log shows the guard's serial as it arrived) or the tool must refuse aloud: two lines of
    # words, a NUL, bytes that are not text, more than 4096 bytes. Each refusal is one ERROR line
    # and the outcome line, logged where the first line names a log.
    tricky = 'A "B^ C  d'
    made = os.path.join(work, "made.img")
    subprocess.run([os.path.join(build, "host", "kestrel"), "--make-stick", "--efi",
                    os.path.join(build, "Kestrel.efi"), made, "--", "-r", "--log", "made.log",
                    "--if-serial", tricky, "--wait", "0", "--then", "off"],
                   check=True, capture_output=True)
    files = {"made": mtools("mtype", "-i", made, "::/EFI/BOOT/kestrel.args").stdout,
             "two-lines": b"-r --log two.log --wait 0 --then off\r\n-c\r\n",
             "nul": b"-r --wait 0\0-c\r\n", "not-text": b"-r \xc0\xaf\r\n",
             "too-long": b"-r" + b" " * 5000 + b"\r\n"}
    for name, data in files.items():
        with open(os.path.join(work, name), "wb") as f:
            f.write(data)
    refused = ended("0x2", "arguments file refused, nothing written").strip()
    steps = [("made", "0x15", [f"ERROR: GPP1 holds a blank record, not the record of Pylon "
                               f"Serial #{tricky}!", ended("0x15", "guard refused: GPP1 is "
                                                          "blank").strip()])]
    steps += [(name, "0x2", ["ERROR: \\EFI\\BOOT\\kestrel.args " + why, refused])
              for name, why in (("two-lines", "holds more than one line of words: it must hold "
                                 "one command line!"),
                                ("nul", "holds a NUL: it is no command line!"),
                                ("not-text", "is not UTF-8 or UCS-2 text of printable characters: "
                                 "it is no command line!"),
                                ("too-long", "holds more than 4096 bytes: it is no command line!"))]
    options = ["--secure-boot"] + [a for n in files for a in ("--args-file", os.path.join(work, n))]
    r = booted_lines(steps, [], "same", options, None)
    log_check = r["check"][0]

    def check(result):
        lines = {name: [json.loads(t) for t in result.stick_files.get(name, b"").decode()
                        .splitlines()] for name in ("made.log", "two.log")}
        got = [(n, j["operation"], j["guard_serial"], j["status"], j["reason"])
               for n, js in lines.items() for j in js]
        want = [("made.log", "read", tricky, 21, "guard refused: GPP1 is blank"),
                ("two.log", "read", None, 2, "arguments file refused, nothing written")]
        return log_check(result) + ([] if got == want else [f"log lines {got}, not {want}"])
    r["check"] = (check, r["check"][1])
    r["stick"] = ("roomy", [], ("provision.log", "made.log", "two.log"), False)
    return r


def boot_unsigned(build, work):
    # The tool unsigned, the board's driver and the launcher signed: the firmware refuses the
    # stick's boot image, and GPP1 stays as it was.
    signed = session.environment(build)["KESTREL_SIGNED_DIR"]
    for name in ("SimBoard.efi", "Launcher.efi"):
        shutil.copyfile(os.path.join(signed, name), os.path.join(work, name))
    shutil.copyfile(os.path.join(build, "Kestrel.efi"), os.path.join(work, "Kestrel.efi"))
    return booted("stick", [(BOOTED_WRITE, "", "firmware: Access Denied")], [], "same",
                  ["--secure-boot"], {"KESTREL_SIGNED_DIR": work})


def uboot_bootefi():
    # U-Boot's bootefi hands its bootargs over as the load options; it cannot power off.
    blank = gpp1(512, 64)
    line = "-w -p 12345678 -m 09876 --log provision.log --wait 0 --then reset"
    return booted("bootefi", [
        (line, BANNER + READING + "".join(WRITE_STEPS) + SUCCESS + ended("0x0", "ok"), "0x0"),
    ], [("write", "none", 0, "ok")], with_block0(blank, 512, record("12345678", "09876")),
        ["--firmware", "uboot"])


# --- A machine that is not a Tarn board -------------------------------------------------------

def foreign_cmos(build, _work):
    # QEMU has nothing of the platform's vendor on its bus and no valid debug word in CMOS bytes
    # 0x40-0x43: the tool runs to its end and leaves the bytes as it found them.
    def check(result):
        cmos = [re.findall(r"^fixture: cmos 0x40-0x43: (.*)$", out, re.M)
                for _, out, _ in result.entries]
        bytes_of = [[int(v, 16) for v in found[0].split()] if found else None for found in cmos]
        word = int.from_bytes(bytes(bytes_of[0] or [0x80, 0, 0, 0]), "little")
        failures = [f"status {status}: {out}" for _, out, status in result.entries
                    if status != "0x0"]
        if any(SUCCESS not in result.entries[i][1] for i in (1, 4)):
            failures.append("the tool did not run to its end")
        if (word & 0xC0000000) == 0x80000000 and (word & 0x3FFFFFFF) < 0x400:
            failures.append(f"OVMF's CMOS holds a valid debug word {bytes_of[0]}")
        if bytes_of[2] != bytes_of[0] or bytes_of[3] != [0x12, 0x34, 0x56, 0x78] or \
                bytes_of[5] != bytes_of[3]:
            failures.append(f"CMOS bytes before and after the runs: {bytes_of}")
        return failures
    return row(gpp1(512, 4), None, shell=True,
               files=[os.path.join(build, "Fixture.efi")], check=(check, [
                   "Fixture.efi --cmos", "Kestrel.efi -r", "Fixture.efi --cmos",
                   "Fixture.efi --cmos=12345678", "Kestrel.efi -r", "Fixture.efi --cmos"]))


# --- Without the shell: Launcher.efi starts the tool, under OVMF only ------------------------
# What each argument source hands the tool differs; what the tool does with it may not: the
# texts, statuses and image are those of a run through the shell. A step gives the launcher's
# mode, the command, and its output, status and "=== protocols" line, each a text or a pattern
# that the runner's must match in full.

ANY = re.compile("(?s).*")
LAUNCH_START = gpp1(512, 64, bytes(512), fill=b"\xa5")  # a blank block 0, the rest patterned
SHELL_REFUSED = "LoadImage 0x0, StartImage 0x800000000000001A Security Violation"


def closed(mode):
    return re.compile(re.escape(mode) + r" closed \(\d+ closes\)")


def round_trip(before, mode):
    """Through MODE from a record BEFORE: read, write, read, two refusals, clear, read, write all
    six fields, read; each run closes every protocol the launcher installed."""
    steps = [("-r", BANNER + read_ok(before), "0x0"),
             (WRITE_EXAMPLE, BANNER + write_ok(EXAMPLE), "0x0"),
             ("-r", BANNER + read_ok(EXAMPLE), "0x0")]
    steps += [r for r in REFUSALS if r[0] in ("-w -p 1 -m 2 --sandral 789", '-w -p 1 -m ""')]
    steps += [("-c", BANNER + CLEARING + SUCCESS, "0x0"),
              ("-r", BANNER + read_ok(BLANK_RECORD), "0x0"),
              (WRITE_ALL_SIX, BANNER + write_ok(ALL_SIX), "0x0"),
              ("-r", BANNER + read_ok(ALL_SIX), "0x0")]
    return [(mode, "Kestrel.efi " + args, out, status, closed(mode))
            for args, out, status in steps]


def launched(steps, files, options=()):
    def check(result):
        failures = []
        for (_, command, *expected), (_, output, status), protocols in zip(
                steps, result.entries, result.protocols):
            for what, want, got in zip(("output", "status", "protocols"), expected,
                                       (output, status, protocols)):
                if not isinstance(want, re.Pattern):
                    failures += session.differs(f"{command}: {what}", want, got)
                elif not want.fullmatch(got):
                    failures.append(f"{command}: {what} {got!r}, not {want.pattern!r}")
        return failures
    modes = ",".join(mode for mode, *_ in steps)
    return row(LAUNCH_START, None, with_block0(LAUNCH_START, 512, ALL_SIX),
               ["--firmware", "ovmf", "--launcher", modes] + list(options), shell=True,
               files=files, check=(check, [command for _, command, *_ in steps]))


def efi11_shell(build, _work):
    # The EFI 1.1 shell's argument source: the environment-2 shell environment on the tool's
    # image handle, then only on another handle among decoys; then the close check's own test,
    # an image that leaves the parameters protocol open and one that closes nothing.
    return launched(round_trip(BLANK_RECORD, "efi11") + round_trip(ALL_SIX, "efi11-search") + [
        ("shell2", "Fixture.efi --leak", ANY, ANY, "shell2 left open: 1"),
        ("shell2", "Fixture.efi", ANY, ANY, "shell2 never closed")],
        [os.path.join(build, "Fixture.efi")])


def refused_images(build, work):
    """unsigned.efi, otherkey.efi (signed with a key made here, not in db) and tampered.efi (the
    test-signed tool with one byte of its code changed)."""
    unsigned = os.path.join(build, "Kestrel.efi")
    signed = os.path.join(session.environment(build)["KESTREL_SIGNED_DIR"], "Kestrel.efi")
    made = {name: os.path.join(work, name) for name in
            ("unsigned.efi", "otherkey.efi", "tampered.efi")}
    shutil.copyfile(unsigned, made["unsigned.efi"])
    key, cert = os.path.join(work, "other.key"), os.path.join(work, "other.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", "/CN=Not a key of this board/", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    subprocess.run(["sbsign", "--key", key, "--cert", cert, "--output", made["otherkey.efi"],
                    unsigned], check=True, capture_output=True)
    with open(signed, "rb") as f:
        data = bytearray(f.read())
    # The code, the image's first section, starts where the headers end (SizeOfHeaders).
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    data[struct.unpack_from("<I", data, pe + 24 + 60)[0] + 0x40] ^= 0x01
    with open(made["tampered.efi"], "wb") as f:
        f.write(data)
    return list(made.values())


def secure_boot(build, work):
    # Secure Boot enforced with Debian's test keys: the tool signed with the test key; the
    # firmware's own shell, which loads, reads SecureBoot = 1 and refuses to run; the tool
    # unsigned, signed with another key and signed with one byte changed, each refused by
    # LoadImage and never run, GPP1 unchanged; the tool once more.
    images = refused_images(build, work)
    return launched(round_trip(BLANK_RECORD, "shell2") + [
        ("shell2", "builtin-shell", re.compile(r"(?s).*\[GetVariable SecureBoot: 0x0, value 1\].*"),
         re.compile(re.escape(SHELL_REFUSED) + ".*"), ANY)] + [
        ("shell2", os.path.basename(path) + " -c", "", "LoadImage 0x800000000000000F Access Denied",
         "shell2 not started") for path in images] + [
        ("shell2", "Kestrel.efi -r", BANNER + read_ok(ALL_SIX), "0x0", closed("shell2"))],
        images, ["--secure-boot"])


TABLE = {maker.__name__: maker for maker in (
    blank_512, write_protected, block_4096, refusals, record_jobs, fault_lying, fault_eio_write,
    fault_eio_read, fault_eio_flush, fault_eio_reread, station_line, station_full_stick,
    station_read_only_stick, station_one_cluster, station_two_clusters, station_scanner,
    station_write_protected, station_no_gpp1,
    station_no_tool, station_eio_read, station_eio_write, station_eio_flush, foreign_cmos,
    efi11_shell, secure_boot, boot_stick, boot_entry, boot_unsigned, uboot_bootefi, boot_line,
    boot_returns, boot_args_files)}
# Rows made from the build's files.
WITH_BUILD = (foreign_cmos, efi11_shell, secure_boot, boot_unsigned, boot_args_files)


def run_row(name, build):
    maker = TABLE[name]
    with tempfile.TemporaryDirectory(prefix="kestrel-row-") as work:
        r = maker(build, work) if maker in WITH_BUILD else maker()
        check, commands = r["check"] or (None, None)
        steps = None if r["steps"] is None else [(c if r["shell"] else tool(c), out, status)
                                                 for c, out, status in r["steps"]]
        stick = r.get("stick")
        if stick is not None:  # the tool on the stick is the build's
            efi = [session.environment(build)["KESTREL_EFI"]] if stick[3] else []
            stick = (stick[0], efi + stick[1], stick[2])
        env = session.environment(build, **r["env"]) if r.get("env") else None
        result = session.run(build, commands or [c for c, _, _ in r["steps"]], r["image"],
                             r["options"], r["files"], r["shell"], env=env, stick=stick)
    failures = session.judge(result, steps, r["final"])
    if check and not failures:
        headings = [heading for heading, _, _ in result.entries]
        wanted = commands if r["shell"] else [tool(c) for c in commands or ()]
        failures = (check(result) if steps is not None or headings == wanted
                    else [f"transcript:\n{result.text}"])
    return failures


def main(argv):
    if len(argv) != 3 or argv[2] not in TABLE:
        sys.exit(__doc__ + "\nSessions: " + ", ".join(TABLE))
    failures = run_row(argv[2], os.path.abspath(argv[1]))
    print("".join(failure + "\n" for failure in failures) + ("FAILED" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
