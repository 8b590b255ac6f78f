"""One end-to-end session, run and judged the same way for every kind of session.

run(build, commands, ...) boots e2e/kestrel-qemu once over a GPP1 image and returns a Result:
the transcript as (heading, output, status) entries, the image afterwards and the files asked
for from a station stick. judge(result, steps, final) compares it with the expected steps
(command, output, status) and image and returns the failures. The tool's texts that the unit
suites check too (banner, help, refusals) come from tests/data/expected_texts.txt; records and
their display are laid out here from the record format, with zlib's CRC-32 (the IEEE 802.3 CRC
the firmware computes).
"""

import difflib
import os
import re
import struct
import subprocess
import tempfile
import zlib

HERE = os.path.dirname(os.path.realpath(__file__))
RUNNER = os.path.join(HERE, "kestrel-qemu")
FIRMWARE = os.environ.get("KESTREL_FIRMWARE", "ovmf")


def load_texts(path=os.path.join(HERE, "..", "tests", "data", "expected_texts.txt")):
    """(banner, help, [(args, output, status)]) from the shared table; see its header."""
    with open(path, encoding="utf-8") as f:
        text = re.sub(r"\\x([0-9A-Fa-f]{2})", lambda m: chr(int(m.group(1), 16)), f.read())
    sections = re.findall(r"^=== (.*)\n((?:(?!=== ).*\n)*)", text, re.M)
    banner = dict(sections)["banner"]
    refusals = [(name.split(" ", 2)[2], re.sub(r"^BANNER\n", lambda _: banner, body, flags=re.M),
                 f"0x{int(name.split()[1]):X}")
                for name, body in sections if name.startswith("refusal ")]
    return banner, dict(sections)["help"], refusals


BANNER, HELP, REFUSALS = load_texts()
SUCCESS = "Operation successful!\n"
INVALID = "ERROR: Invalid CLI option(s)!\n"
WRITE_PROTECTED = "ERROR: eMMC GPP1 is still write protected!\n"
CORRUPTED = "ERROR: GPP1 data is corrupted! CRC32 fails.\n"
WRITE_STEPS = ("- Creating binary image...\n", "- Writing binary image...\n",
               "- Verifying binary image...\n")
CLEARING = "- Clearing GPP1 data...\n"
# Block I/O handles under the runner: its FAT volume, the GPP1 disk and the card's 8 partitions.
BLOCK_IO_HANDLES = 10

# --- Records and how the tool shows them ----------------------------------------------------

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
WRITE_EXAMPLE = "-w -p 12345678 -s 87654321 -m 09876"
WRITE_ALL_SIX = "-w -p PYL-0042 -m MM-77 -s SAN-9 -b 1A -f 0x2 -o 00ff"


def unknown(index, word):
    return f'Unknown! - Argv[{index}]: "{word}"\n'


def field_text(field):
    """A record text as the display shows it: the characters before the first '$'."""
    end = field.find(b"$")
    return (field if end < 0 else field[:end]).split(b"\0")[0].decode("latin-1")


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
    return "".join(lines) + separator


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


def gpp1(block_size, blocks, block0=b"", fill=b"\0"):
    """An image of `blocks` blocks filled with `fill`, block 0 starting with `block0`."""
    image = bytearray(fill * (block_size * blocks))
    image[:len(block0)] = block0
    return bytes(image)


def with_block0(image, block_size, content):
    """The image after the tool wrote `content` as block 0: the rest of the block zero."""
    return content + bytes(block_size - len(content)) + image[block_size:]


# --- Running and judging --------------------------------------------------------------------

class Result:
    def __init__(self, returncode, stderr, text, image):
        self.returncode, self.stderr, self.text, self.image = returncode, stderr, text, image
        found = re.findall(r"^=== (.*)\n((?:(?!=== ).*\n)*?)=== status (.*)\n"
                           r"(?:=== protocols (.*)\n)?", text, re.M)
        self.entries = [entry[:3] for entry in found]
        # A launcher's "=== protocols" line after each status ("" where there is none).
        self.protocols = [entry[3] for entry in found]


def environment(build, **extra):
    env = dict(os.environ)
    env.setdefault("KESTREL_EFI", os.path.join(build, "Kestrel.efi"))
    env.setdefault("KESTREL_BOARD_DRIVER", os.path.join(build, "SimBoard.efi"))
    env.setdefault("KESTREL_SIGNED_DIR", os.path.join(build, "e2e-signed"))
    env.update(extra)
    return env


def runner(argv, env):
    """The runner itself with ARGV: its CompletedProcess (stdout and stderr as bytes)."""
    return subprocess.run([RUNNER] + list(argv), capture_output=True, env=env, timeout=900)


def mtools(*argv):
    return subprocess.run(list(argv), stdin=subprocess.DEVNULL, capture_output=True)


def make_stick(path, files, state):
    """A station stick: a FAT image holding FILES; a full one has no byte left, a one-cluster
    or two-clusters one that many free clusters."""
    mtools("mkfs.fat", "-C", path, "2048")
    for source in files:
        mtools("mcopy", "-i", path, source, "::/")
    clusters = {"full": 0, "one-cluster": 1, "two-clusters": 2}
    if state in clusters:
        listing = mtools("mdir", "-i", path, "::/").stdout.decode()
        free = int(listing.split("bytes free")[0].split("\n")[-1].replace(" ", ""))
        if clusters[state]:
            info = mtools("minfo", "-i", path, "::").stdout.decode()
            sectors = int(re.search(r"cluster size: (\d+) sectors", info).group(1))
            free -= clusters[state] * sectors * int(re.search(r"sector size: (\d+) bytes",
                                                              info).group(1))
        with open(path + ".filler", "wb") as f:
            f.write(bytes(free))
        mtools("mcopy", "-i", path, path + ".filler", "::/filler")


def fetch_files(volume, names):
    """Those of the files NAMES that the FAT image VOLUME holds, by name."""
    fetched = {name: mtools("mcopy", "-i", volume, "::/" + name, "-") for name in names}
    return {name: done.stdout for name, done in fetched.items() if done.returncode == 0}


def run(build, commands, image=None, options=(), files=(), shell=False, env=None, stick=None):
    """One boot: IMAGE as GPP1 (None: no GPP1; a list: one a boot), the runner's OPTIONS, FILES put
    on the volume,
    COMMANDS. STICK (state: roomy, full or read-only; files put on it; names read back into the
    result's stick_files) attaches a station stick where the commands run."""
    with tempfile.TemporaryDirectory(prefix="kestrel-session-") as work:
        stick_path = os.path.join(work, "stick.img")
        argv = list(options) + [a for name in files for a in ("--file", name)]
        argv += ["--shell"] if shell else []
        if stick is not None:
            state, on_stick, _ = stick
            make_stick(stick_path, on_stick, state)
            argv += ["--stick", stick_path]
            argv += ["--stick-read-only"] if state == "read-only" else []
        # A list of images: one board a boot, as a station's line of boards.
        images = image if isinstance(image, list) else None if image is None else [image]
        paths = [os.path.join(work, f"gpp1-{n}.img") for n in range(len(images or []))]
        if image is None:
            argv.append("--no-gpp1")
        for board, board_path in zip(images or [], paths):
            with open(board_path, "wb") as f:
                f.write(board)
            argv += ["--gpp1", board_path]
        done = runner(argv + ["--"] + list(commands), env or environment(build))
        left = []
        for board_path in paths:
            with open(board_path, "rb") as f:
                left.append(f.read())
        left = left if isinstance(image, list) else left[0] if left else None
        result = Result(done.returncode, done.stderr.decode("utf-8", "replace"),
                        done.stdout.decode("utf-8", "replace"), left)
        result.stick_files = fetch_files(stick_path, stick[2]) if stick else {}
    return result


def differs(what, expected, actual):
    if actual == expected:
        return []
    if isinstance(expected, bytes):
        first = next((i for i, (a, b) in enumerate(zip(actual, expected)) if a != b),
                     min(len(actual), len(expected)))
        return [f"{what} differs: {len(actual)} bytes, expected {len(expected)}; "
                f"first difference at byte {first}"]
    diff = difflib.unified_diff(expected.splitlines(True), actual.splitlines(True),
                                "expected", "actual")
    return [f"{what} differs:\n" + "".join(diff)]


def judge(result, steps=None, final=None):
    """Failures of RESULT against the expected STEPS (heading, output, status) and image."""
    if result.returncode != 0:
        return [f"runner status {result.returncode}: {result.stderr}"]
    expected = "".join(f"=== {heading}\n{out}=== status {status}\n" for heading, out, status
                       in steps or ())
    failures = differs("transcript", expected, result.text) if steps is not None else []
    if isinstance(final, list):
        return failures + [f for n, (want, got) in enumerate(zip(final, result.image))
                           for f in differs(f"GPP1 image of board {n + 1}", want, got)]
    return failures + (differs("GPP1 image", final, result.image) if final is not None else [])


def tool(args):
    """The runner's heading for a run of the tool with ARGS."""
    return "Kestrel.efi" + (" " + args if args else "")

