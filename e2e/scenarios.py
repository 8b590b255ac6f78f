#!/usr/bin/env python3
"""End-to-end sessions: Kestrel.efi on the simulated board, each session one boot.

Usage: scenarios.py BUILD_DIR SESSION   (SESSION: one of the names in SESSIONS, or "all")

The firmware is OVMF, or U-Boot with KESTREL_FIRMWARE=uboot; the expected texts are the same.
Each session starts from a known GPP1 image, runs a batch of commands through e2e/kestrel-qemu and
compares the whole transcript and the final image bytes with what the tool must produce. The
expected texts are the tool's messages written out here line by line; the expected records are
laid out here from the record format, with zlib's CRC-32 (the same IEEE 802.3 CRC the firmware
computes).
"""

import difflib
import os
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.realpath(__file__))
RUNNER = os.path.join(HERE, "kestrel-qemu")

# Block I/O handles under the runner: its FAT volume (PCI 3), the GPP1 disk (PCI 5), and the
# simulated card's eight partitions.
BLOCK_IO_HANDLES = 10

# --- The record ---------------------------------------------------------------------------

ABSENT_ID = 0xFFFFFFFF


def text16(text):
    return text.encode("latin-1")[:16].ljust(16, b" ")


def record(serial, mm, carrier=None, board=ABSENT_ID, fab=ABSENT_ID, bom=ABSENT_ID):
    """The 176-byte board record the tool writes for these option values."""
    image = bytearray(176)
    image[0:8] = b"$Eeprom$"
    struct.pack_into("<IIIII", image, 8, 0x00020001, 32, 176, 0, 0)
    image[32:40] = b"$BrdInfo"
    struct.pack_into("<II", image, 40, 1, 144)
    image[48:64] = text16("Vexor$")
    image[64:80] = text16("Pylon$")
    image[80:96] = text16(serial)
    struct.pack_into("<III", image, 96, board, fab, bom)
    image[128:144] = text16(mm)
    image[144:160] = text16("$" if carrier is None else carrier)
    struct.pack_into("<I", image, 20, zlib.crc32(bytes(image)))
    return bytes(image)


BLANK_RECORD = bytes(176)
EXAMPLE = record("12345678", "09876", carrier="87654321")
ALL_SIX = record("PYL-0042", "MM-77", carrier="SAN-9", board=0x1A, fab=0x2, bom=0xFF)
CAPITALS = record("AbC123", "Mm-9")

# --- The tool's console texts -------------------------------------------------------------

BANNER = ("Kestrel for Tarnm - Version #1.01.00\n"
          "Board record tool for Tarn boards, eMMC GPP1 block 0; first released 2017.\n"
          "\n")
SUCCESS = "Operation successful!\n"
HELP = (" Kestrel.efi is a tool to manipulate the data in eMMC GPP1 partition.\n"
        "\n"
        " Switches:\n"
        " -b [--board]    ID                Programs the Pylon Board ID\n"
        " -c [--clear]                      Clears the GPP1 data\n"
        " -f [--fab]      ID                Programs the Pylon Fab ID\n"
        " -h [--help]                       Prints this\n"
        " -p [--pylon]    Serial #          Programs the Pylon serial #\n"
        " -m [--mm]       MM #              Programs the Pylon MM #\n"
        " -o [--bom]      ID                Programs the Pylon BOM ID\n"
        " -r [--read]                       Prints out the data in GPP1\n"
        " -s [--sandrel]  Serial #          Programs the Sandrel Serial #\n"
        " -w [--write]    -p # -m # [-s #]  Programs the data into the GPP1\n"
        "                                   -p & -m are required.\n"
        "                                   -b, -f, -o, -s are optional.\n"
        "\n"
        " Examples:\n"
        "  Kestrel.efi -w -p 12345678 -s 87654321 -m 09876\n"
        "  - Writes the Pylon Serial #12345678, Sandrel Serial #87654321,\n"
        "  - and MM #09876 to GPP1.\n"
        "  Kestrel.efi -r\n"
        "  - Dumps the GPP1 info to the screen in human readable form.\n"
        # The options with a long form only, after the fixed lines.
        "\n"
        " More switches:\n"
        " --edit          [-p #] [-m #] ... Changes only the fields given\n"
        "                                   -b, -f, -m, -o, -p, -s as with -w.\n"
        " --no-sandrel                      With --edit: removes the Sandrel Serial #\n"
        " --if-blank                        -w, --edit, -c only over a blank GPP1\n"
        " --if-serial     Serial #          -w, --edit, -c only over this Pylon #\n"
        " --dry-run                         Shows what would be written; writes nothing\n"
        " --backup        File              Saves block 0 to a new File before a change\n"
        " --restore       File              Writes a block saved by --backup back\n"
        " --log           File              Appends one JSON line about the run to File\n"
        "\n"
        "  Kestrel.efi -w -p 12345678 -m 09876 --if-blank\n"
        "  - Provisions a board whose GPP1 is blank, and no other.\n"
        "  Kestrel.efi --edit -s 11223344 --if-serial 12345678\n"
        "  - Changes only the Sandrel Serial # of board 12345678.\n"
        "  Kestrel.efi -w -p 12345678 -m 09876 --backup old.bin --log run.log\n"
        "  - Keeps the replaced block in old.bin and logs the run in run.log.\n"
        "  Kestrel.efi --restore old.bin\n"
        "  - Puts the saved block back.\n")
INVALID = "ERROR: Invalid CLI option(s)!\n"
WRITE_PROTECTED = "ERROR: eMMC GPP1 is still write protected!\n"
CORRUPTED = "ERROR: GPP1 data is corrupted! CRC32 fails.\n"
WRITE_STEPS = ("- Creating binary image...\n", "- Writing binary image...\n",
               "- Verifying binary image...\n")
CLEARING = "- Clearing GPP1 data...\n"


def unknown(index, word):
    return f'Unknown! - Argv[{index}]: "{word}"\n'


def field_text(field):
    """A record text as the display shows it: the characters before the first '$'."""
    end = field.find(b"$")
    text = field if end < 0 else field[:end]
    return text.split(b"\0")[0].decode("latin-1")


def display(image):
    label = field_text(image[64:80])
    board, fab, bom = struct.unpack_from("<III", image, 96)
    return (f"{label:>16} Serial   #{field_text(image[80:96])}\n"
            f"{label:>16} Board ID  {board:08X}\n"
            f"{label:>16} Fab ID    {fab:08X}\n"
            f"{label:>16} BOM ID    {bom:08X}\n"
            f"{label:>16} MM       #{field_text(image[128:144])}\n"
            f"{'Sandrel':>16} Serial   #{field_text(image[144:160])}\n")


def hex_dump(image):
    rule = "+----------------------------------------------------+------------------+\n"
    separator = " +----" + rule
    lines = ["      " + rule,
             "      | x0 x1 x2 x3  x4 x5 x6 x7  x8 x9 xA xB  xC xD xE xF |      String      |\n",
             separator]
    for row in range(11):
        if row and row % 4 == 0:
            lines.append(separator)
        chunk = image[row * 16:row * 16 + 16]
        groups = ["".join(f"{b:02X} " for b in chunk[g:g + 4]) for g in range(0, 16, 4)]
        ascii_column = "".join(chr(b) if 0x20 <= b <= 0x7E else "." for b in chunk)
        lines.append(f" | {row:X}x | " + " ".join(groups) + f"| {ascii_column} |\n")
    lines.append(separator)
    return "".join(lines)


def search():
    """The debug lines of one search for GPP1: the simulated card's partitions 0 to 4."""
    return ("- GetBlockIo()...\n"
            f"GetBlockIo(#460) - BlockIo handle count is: {BLOCK_IO_HANDLES}\n" +
            "".join(f"Get eMMC Partition number is: {n}\n" for n in range(5)))


def read_ok(image, debug=False):
    return (search() if debug else "") + display(image) + (hex_dump(image) if debug else "") \
        + SUCCESS


def write_ok(image, debug=False):
    if not debug:
        return "".join(WRITE_STEPS) + SUCCESS
    return (WRITE_STEPS[0] + hex_dump(image) + WRITE_STEPS[1] + search() +
            "- Copying data...\n- Writing data...\n" + WRITE_STEPS[2] + search() + SUCCESS)


# --- Sessions -----------------------------------------------------------------------------

def gpp1(block_size, blocks, block0=b"", fill=b"\0"):
    """An image of `blocks` blocks filled with `fill`, block 0 starting with `block0`."""
    image = bytearray(fill * (block_size * blocks))
    image[:len(block0)] = block0
    return bytes(image)


def with_block0(image, block_size, content):
    """The image after the tool wrote `content` as block 0: the rest of the block zero."""
    return content + bytes(block_size - len(content)) + image[block_size:]


CORRUPT_EXAMPLE = bytearray(EXAMPLE)
CORRUPT_EXAMPLE[20] ^= 0x01  # one bit of the stored CRC
CORRUPT_EXAMPLE = bytes(CORRUPT_EXAMPLE)


def session_blank_512():
    image = gpp1(512, 2048)
    steps = [
        ("-h", BANNER + HELP + SUCCESS, "0x0"),
        ("-r", BANNER + read_ok(BLANK_RECORD), "0x0"),
        ("-w -p 12345678 -s 87654321 -m 09876", BANNER + write_ok(EXAMPLE), "0x0"),
        ("-r", BANNER + read_ok(EXAMPLE), "0x0"),
        ("--debug -r", BANNER + read_ok(EXAMPLE, debug=True), "0x0"),
        ("-c", BANNER + CLEARING + SUCCESS, "0x0"),
        ("-r", BANNER + read_ok(BLANK_RECORD), "0x0"),
        ("-x -r", unknown(1, "-x") + BANNER + read_ok(BLANK_RECORD), "0x0"),
        ("--frob", unknown(1, "--frob") + BANNER + INVALID, "0x2"),
        ("", BANNER + INVALID, "0x2"),
        ("--WRITE --Pylon AbC123 -M Mm-9", BANNER + write_ok(CAPITALS), "0x0"),
        ("--READ", BANNER + read_ok(CAPITALS), "0x0"),
        ("-w -p PYL-0042 -m MM-77 -s SAN-9 -b 1A -f 0x2 -o 00ff",
         BANNER + write_ok(ALL_SIX), "0x0"),
        ("-r", BANNER + read_ok(ALL_SIX), "0x0"),
    ]
    return [], image, steps, with_block0(image, 512, ALL_SIX)


def session_write_protected():
    # A written record with the rest of the partition patterned: nothing may change.
    image = gpp1(512, 64, EXAMPLE, fill=b"\xa5")
    steps = [
        ("-w -p 1 -m 2", BANNER + WRITE_PROTECTED, "0x8"),
        ("-c", BANNER + WRITE_PROTECTED, "0x8"),
        ("--debug -c", BANNER + WRITE_PROTECTED, "0x8"),
        ("-r", BANNER + read_ok(EXAMPLE), "0x0"),
    ]
    return ["--write-protect"], image, steps, image


def session_block_4096():
    # 4096-byte blocks holding a record whose CRC is off by one bit, the rest patterned.
    image = gpp1(4096, 4, CORRUPT_EXAMPLE, fill=b"\xa5")
    repaired = record("12345678", "09876", board=0x7)
    steps = [
        ("-r", BANNER + CORRUPTED, "0xA"),
        # The bytes as stored, so that the record can be seen before anything overwrites it.
        ("--debug -r", BANNER + search() + CORRUPTED + hex_dump(CORRUPT_EXAMPLE), "0xA"),
        ("--debug -w -p 12345678 -m 09876 -b 7", BANNER + write_ok(repaired, debug=True), "0x0"),
        ("-r", BANNER + read_ok(repaired), "0x0"),
    ]
    return ["--block-size", "4096"], image, steps, with_block0(image, 4096, repaired)


def session_refusals():
    # A torn clear: length and CRC zero, one byte left over. Then every write or clear whose record
    # would not be what was asked; none of them may touch the image.
    torn = bytearray(176)
    torn[100] = 0x5A
    image = gpp1(512, 16, bytes(torn), fill=b"\x3c")
    not_stored = "can hold only printable ASCII characters other than '$'!\n"
    steps = [
        ("-r", BANNER + CORRUPTED, "0xA"),
        ("-x -r", unknown(1, "-x") + BANNER + CORRUPTED, "0xA"),
        ("-w -p 1 -m 2 --sandral 789",
         unknown(6, "--sandral") + unknown(7, "789") + BANNER +
         'ERROR: Unknown argument Argv[6] "--sandral": GPP1 is not written!\n', "0x2"),
        ("-c --frob", unknown(2, "--frob") + BANNER +
         'ERROR: Unknown argument Argv[2] "--frob": GPP1 is not cleared!\n', "0x2"),
        ("-w -p AB$CD -m 2", BANNER + 'ERROR: Pylon Serial # "AB$CD" ' + not_stored, "0x2"),
        ('-w -p 1 -m ""', BANNER + "ERROR: MM # is empty!\n", "0x2"),
        ("-w -p 1 -m 2 -s caf\u20ac", BANNER + 'ERROR: Sandrel Serial # "caf\u20ac" ' + not_stored,
         "0x2"),
        ('-w -p 1 -m 2 -b "1A 2B"',
         BANNER + 'ERROR: Board ID "1A 2B" is not a hexadecimal number of at most 64 bits!\n', "0x2"),
        ("-w -p 1 -m 2 -o 0x",
         BANNER + 'ERROR: BOM ID "0x" is not a hexadecimal number of at most 64 bits!\n', "0x2"),
        ("-w -p 1 -m 2 -f 10000000000000000",
         BANNER + 'ERROR: Fab ID "10000000000000000" is not a hexadecimal number of at most 64 '
         'bits!\n', "0x2"),
        ("-w -p 1 -m 2 -o 123456789",
         BANNER + 'ERROR: BOM ID "123456789" does not fit the record\'s 32 bits!\n', "0x2"),
        ("-w -p ABCDEFGHIJKLMNOPQ -m 2",
         BANNER + 'ERROR: Pylon Serial # "ABCDEFGHIJKLMNOPQ" is longer than 16 characters!\n',
         "0x2"),
    ]
    # Write-protected: a refusal after the platform's report would show as 0x8.
    return ["--write-protect"], image, steps, image


SESSIONS = {
    "blank_512": session_blank_512,
    "refusals": session_refusals,
    "write_protected": session_write_protected,
    "block_4096": session_block_4096,
}


def transcript(steps):
    return "".join("=== Kestrel.efi" + (" " + args if args else "") + "\n" + output +
                   f"=== status {status}\n" for args, output, status in steps)


def run_session(name, build, sessions=None, show=False):
    """The named session's failures; with show, the runner's own output instead, unjudged."""
    options, image, steps, final = (SESSIONS if sessions is None else sessions)[name]()
    environment = dict(os.environ)
    environment.setdefault("KESTREL_EFI", os.path.join(build, "Kestrel.efi"))
    environment.setdefault("KESTREL_BOARD_DRIVER", os.path.join(build, "SimBoard.efi"))
    with tempfile.TemporaryDirectory(prefix=f"kestrel-{name}-") as work:
        path = os.path.join(work, "gpp1.img")
        with open(path, "wb") as f:
            f.write(image)
        result = subprocess.run([RUNNER, "--gpp1", path] + options + ["--"] +
                                [args for args, _, _ in steps],
                                capture_output=not show, env=environment, timeout=900)
        if show:
            return []
        with open(path, "rb") as f:
            left = f.read()
    failures = []
    if result.returncode != 0:
        failures.append(f"runner status {result.returncode}: "
                        + result.stderr.decode("utf-8", "replace"))
    expected = transcript(steps)
    actual = result.stdout.decode("utf-8", "replace")
    if actual != expected:
        diff = difflib.unified_diff(expected.splitlines(True), actual.splitlines(True),
                                    "expected", "actual")
        failures.append("transcript differs:\n" + "".join(diff))
    if left != final:
        first = next((i for i in range(min(len(left), len(final))) if left[i] != final[i]),
                     min(len(left), len(final)))
        failures.append(f"GPP1 image differs: {len(left)} bytes, expected {len(final)}; "
                        f"first difference at byte {first}")
    return failures


def main(argv, sessions=None, run=None, usage=__doc__):
    """Runs the named session (or all) of `sessions` with `run(name, build)`; prints a summary."""
    sessions = SESSIONS if sessions is None else sessions
    run = run_session if run is None else run
    if len(argv) != 3 or (argv[2] != "all" and argv[2] not in sessions):
        sys.exit(usage + "\nSessions: " + ", ".join(sessions))
    build = os.path.abspath(argv[1])
    names = list(sessions) if argv[2] == "all" else [argv[2]]
    failed = 0
    for name in names:
        failures = run(name, build)
        print(f"{name}: " + ("passed" if not failures else "FAILED"))
        for failure in failures:
            print(failure)
        failed += bool(failures)
    print(f"{len(names) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
