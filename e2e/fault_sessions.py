#!/usr/bin/env python3
"""Device faults end to end: the GPP1 disk fails under the firmware's own disk driver.

Usage: fault_sessions.py BUILD_DIR SESSION [--show]   (SESSION: a name in SESSIONS, or "all")

Each session is one boot of e2e/kestrel-qemu with --fault: QEMU's null-co driver as a device that
acknowledges writes and keeps nothing, or its blkdebug driver failing every read, write or flush
with EIO. The simulated board forwards GPP1's transfers and flushes to that disk, so the tool
meets the fault as it would meet a failing eMMC. Like scenarios.py, each session compares the
whole transcript and the image bytes. The firmware comes from KESTREL_FIRMWARE (ovmf or uboot);
where the two differ (U-Boot never passes a flush on to the disk) the expected text says so.

--show prints the runner's transcript of the session instead of comparing it: the starting point
when the tool's messages change and the expected texts below must follow.
"""

import os
import sys

HERE = os.path.dirname(os.path.realpath(__file__))
sys.path.insert(0, HERE)
import scenarios  # noqa: E402
from scenarios import (ALL_SIX, BANNER, BLANK_RECORD, CLEARING, EXAMPLE, WRITE_STEPS,  # noqa: E402
                       gpp1, read_ok, with_block0, write_ok)

FIRMWARE = os.environ.get("KESTREL_FIRMWARE", "ovmf")

# What the firmware's disk drivers report for a failed transfer: EFI_DEVICE_ERROR.
DEVICE_ERROR = "0x7"

# The tool's lines for a failed transfer, in one place: the failed transfer, the device's own
# status (EFI_DEVICE_ERROR's name), then what the operation could not do. A failed flush is a
# failed write.
DEVICE_STATUS = "GPP1 device status: Device Error\n"
READ_FAILED = "ERROR: Failed to read GPP1!\n" + DEVICE_STATUS + "ERROR: Failed to read eMMC GPP1!\n"
WRITE_FAILED = "ERROR: Failed to write GPP1!\n" + DEVICE_STATUS
WRITE_DATA_FAILED = WRITE_FAILED + "ERROR: Failed to write binary data!\n"
VERIFY_DIFFERS = "ERROR: Failed to verify GPP1!\nERROR: Failed to verify binary data!\n"
VERIFY_UNREADABLE = READ_FAILED + "ERROR: Failed to verify binary data!\n"
WRITE_ALL_SIX = "-w -p PYL-0042 -m MM-77 -s SAN-9 -b 1A -f 0x2 -o 00ff"
WRITE_EXAMPLE = "-w -p 12345678 -s 87654321 -m 09876"


def written(output):
    """A write that reached "Writing binary image..." and then `output`."""
    return BANNER + WRITE_STEPS[0] + WRITE_STEPS[1] + output


def verified(output):
    return BANNER + "".join(WRITE_STEPS) + output


def session_lying():
    # Writes are acknowledged and dropped, reads give zeros: the record reads blank, a write is
    # caught by its verify. A clear leaves what a clear must leave (zeros), so it passes. The
    # image only gives the disk its size; null-co never touches it.
    image = gpp1(512, 2048)
    steps = [
        ("-r", BANNER + read_ok(BLANK_RECORD), "0x0"),
        (WRITE_EXAMPLE, verified(VERIFY_DIFFERS), "0x1B"),
        ("-r", BANNER + read_ok(BLANK_RECORD), "0x0"),
        ("-c", BANNER + CLEARING + "Operation successful!\n", "0x0"),
    ]
    return ["--fault", "lying"], image, steps, image


def session_eio_write():
    # A provisioned board whose writes all fail: the record stays readable and unchanged.
    image = gpp1(512, 64, EXAMPLE, fill=b"\xa5")
    steps = [
        ("-r", BANNER + read_ok(EXAMPLE), "0x0"),
        (WRITE_ALL_SIX, written(WRITE_DATA_FAILED), DEVICE_ERROR),
        ("-c", BANNER + CLEARING + WRITE_DATA_FAILED, DEVICE_ERROR),
        ("-r", BANNER + read_ok(EXAMPLE), "0x0"),
    ]
    return ["--fault", "eio-write"], image, steps, image


def session_eio_read():
    # Every read fails: a read reports it; a write is made and its verify read fails, so the
    # image holds the new record although the tool could not confirm it.
    image = gpp1(512, 64, EXAMPLE, fill=b"\xa5")
    steps = [
        ("-r", BANNER + READ_FAILED, DEVICE_ERROR),
        ("--debug -r", BANNER + scenarios.search() + READ_FAILED, DEVICE_ERROR),
        (WRITE_ALL_SIX, verified(VERIFY_UNREADABLE), DEVICE_ERROR),
    ]
    return ["--fault", "eio-read"], image, steps, with_block0(image, 512, ALL_SIX)


def session_eio_flush():
    # Every flush fails. OVMF's virtio driver passes the tool's flush to the disk; U-Boot's Block
    # I/O treats a flush as done (its writes go straight to the device), so there it succeeds.
    # Either way the block was written.
    image = gpp1(512, 64, EXAMPLE, fill=b"\xa5")
    if FIRMWARE == "uboot":
        steps = [
            (WRITE_ALL_SIX, BANNER + write_ok(ALL_SIX), "0x0"),
            ("-r", BANNER + read_ok(ALL_SIX), "0x0"),
        ]
    else:
        steps = [
            (WRITE_ALL_SIX, written(WRITE_DATA_FAILED), DEVICE_ERROR),
            ("-r", BANNER + read_ok(ALL_SIX), "0x0"),
        ]
    return ["--fault", "eio-flush"], image, steps, with_block0(image, 512, ALL_SIX)


SESSIONS = {
    "lying": session_lying,
    "eio_write": session_eio_write,
    "eio_read": session_eio_read,
    "eio_flush": session_eio_flush,
}


def run_session(name, build):
    return scenarios.run_session(name, build, SESSIONS)


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[3] == "--show" and sys.argv[2] in SESSIONS:
        scenarios.run_session(sys.argv[2], os.path.abspath(sys.argv[1]), SESSIONS, show=True)
        sys.exit(0)
    sys.exit(scenarios.main(sys.argv, SESSIONS, run_session, __doc__))
