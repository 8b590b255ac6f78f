#!/usr/bin/env python3
"""Writes the starting corpora of the fuzz targets into corpus/<target>/ (see each target's
header comment for its input layout). Inputs that the fuzzers later found interesting, and every
crash turned regression, are added beside these by hand."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
PLATFORM_INFO_GUID = struct.pack("<IHH8B", 0x1E2ACC41, 0xE26A, 0x483D,
                                 0xAF, 0xC7, 0xA0, 0x56, 0xC3, 0x4E, 0x08, 0x7B)


def args(*words):
    return b"\0".join(w.encode() for w in words)


def tool():
    cases = {
        "help": (1, ["-h"]),
        "read": (1, ["-r"]),
        "read_debug_prior": (5, ["--debug", "-r"]),
        "write_example": (1, ["-w", "-p", "12345678", "-s", "87654321", "-m", "09876"]),
        "write_all": (1, ["--WRITE", "--pylon", "PY-0001", "--mm", "Mm42", "--sandrel", "SD7",
                          "--board", "0x1b", "--fab", "C", "--bom", "123456789"]),
        "write_debug_4k": (9, ["-w", "--debug", "-p", "1", "-m", "2"]),
        "write_protected": (2, ["-w", "-p", "1", "-m", "2"]),
        "write_no_hob": (0, ["-w", "-p", "1", "-m", "2"]),
        "clear": (5, ["-c"]),
        "clear_protected": (6, ["--clear"]),
        "write_and_read": (1, ["-w", "-r", "-p", "1", "-m", "2"]),
        "write_missing_values": (1, ["-w", "-p", "-m"]),
        "write_missing_optional": (1, ["-w", "-p", "1", "-m", "2", "-s", "-b", "-f", "-o"]),
        "bad_id": (1, ["-w", "-p", "1", "-m", "2", "-b", "0xZZ"]),
        "overflow_id": (1, ["-w", "-p", "1", "-m", "2", "-f", "11112222333344445"]),
        "long_serial": (1, ["-w", "-p", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", "-m", "x" * 300]),
        "unknown": (1, ["-q", "--Read", "stray"]),
        "nothing": (1, []),
        "null_entry": (1, ["-r", "\x02", "-h"]),
        "read_shell11": (17, ["-r"]),
        "write_shell11_prior": (21, ["-w", "-p", "12345678", "-m", "09876", "--debug"]),
        "help_beside": (1, ["-h", "-w", "-p", "1", "-m", "2"]),
        "job_provision": (33, ["--log", "p.log", "--provision", "12345678", "09876", "none",
                               "1A", "2", "3"]),
        "job_rework_prior": (37, ["--rework", "PRIOR", "12345678", "09876"]),
        "job_inspect_prior": (53, ["--inspect", "PRIOR"]),
        "job_script": (33, ["--from-script", "--provision", "rework", "PRIOR", "1", "2", "", "",
                            "", "", ""]),
        "job_typed": (97, ["--provision", "12 34\r1234\r-m\r5\r\r"]),
        "job_typed_escape": (97, ["--inspect", "1234\x1b"]),
    }
    seeds = {name: bytes([setup]) + args(*words) for name, (setup, words) in cases.items()}
    # A value with characters beyond 8 bits (escape 0x01, low, high).
    seeds["wide_value"] = b"\x01" + args("-w", "-p") + b"\0A\x01\x34\x12B\0" + args("-m", "2")
    return seeds


def fmt(mode, size, slots, fmt_bytes, texts):
    out = bytes([mode]) + struct.pack("<H", size) + bytes([len(slots)])
    for kind, value in slots:
        out += bytes([kind]) + struct.pack("<Q", value & 0xFFFFFFFFFFFFFFFF)
    return out + fmt_bytes + b"\0" + b"\0".join(texts)


def format_():
    INT, NARROW, WIDE, GUID, TIME, PTR = range(6)
    cases = {
        "display_line": (3, 321, [(NARROW, 0), (NARROW, 1)], b"%16a Serial   #%a\n", [b"Pylon", b"12345678        "]),
        "id": (0, 17, [(INT, 0x1B)], b"%08x", []),
        "record_text": (0, 17, [(WIDE, 0)], b"%-16s", [b"ABCDEFGHIJKLMNOPQRST"]),
        "signature": (0, 9, [(NARROW, 0)], b"%-8a", [b"$Eeprom$"]),
        "dump_row": (3, 321, [(INT, 1), (INT, 3)], b" | %0*xx | ", []),
        "status": (3, 321, [(INT, 0x800000000000000E), (INT, 6), (INT, 0x8000000000000022)], b"%r %r %r\n", []),
        "numbers": (1, 200, [(INT, -42), (INT, -1), (INT, 1234567), (INT, 1 << 63)], b"%5d|%-5d|%05d|%+d|% d|%u|%lu|%,d|%ld", []),
        "hex": (0, 100, [(INT, 0x123456789), (INT, 0x123456789), (INT, 10), (PTR, 0x1000)], b"%x %lx %4X %p %,x", []),
        "guid_time": (1, 100, [(GUID, 0), (TIME, 1), (GUID, 1 << 63), (TIME, 1 << 63)], b"%g %t %g %t", [bytes(range(10, 26)), b"\xe1\x07\x07\x04\x0d\x05\x00\x00"]),
        "strings": (2, 64, [(NARROW, 0), (INT, 2), (NARROW, 0), (INT, 5), (WIDE, 0), (NARROW, 1 << 63)], b"%.3a|%.*a|%*s|%-8.5a|%a", [b"abcdef"]),
        "chars": (0, 32, [(INT, 0), (INT, 0x41)], b"%c%5c%%%i%q%", []),
        "line_ends": (3, 64, [], b"a\nb\n\rc\r\nd\re%\n", []),
        "tiny_buffer": (0, 4, [(NARROW, 0)], b"%a", [b"abcdef"]),
        "one_char_buffer": (1, 1, [(NARROW, 0)], b"%a", [b"abcdef"]),
        "zero_buffer": (0, 0, [(NARROW, 0)], b"%a", [b"abcdef"]),
        "huge_star": (0, 64, [(INT, 1 << 62), (INT, -5), (NARROW, 0)], b"%*d|%.*a", [b"x"]),
        "wrong_kinds": (1, 64, [(INT, 0x1234), (WIDE, 0), (NARROW, 0)], b"%a %a %s %g %t", [b"abc"]),
        "missing_args": (0, 64, [], b"%a %s %d %g %t %r %*d", []),
        "wide_chars": (3, 64, [(WIDE, 0)], b"%s \x01\x00\x01", [b"A\x01\x34\x12B"]),
        "unterminated_directive": (0, 32, [], b"abc%-08.", []),
    }
    return {name: fmt(*case) for name, case in cases.items()}


def record():
    r = bytearray(176)
    r[0:8] = b"$Eeprom$"
    struct.pack_into("<IIII", r, 8, 0x00020001, 32, 176, 0)
    r[32:40] = b"$BrdInfo"
    struct.pack_into("<II", r, 40, 1, 144)
    r[48:64] = b"Vexor$".ljust(16)
    r[64:80] = b"Pylon$".ljust(16)
    r[80:96] = b"12345678".ljust(16)
    struct.pack_into("<III", r, 96, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF)
    r[128:144] = b"09876".ljust(16)
    r[144:160] = b"$".ljust(16)
    struct.pack_into("<I", r, 20, zlib.crc32(bytes(r)))
    return bytes(r)


def read():
    def inp(flags, block, contents, code=0, flip=0):
        return bytes([flags, code]) + struct.pack("<HI", flip, block) + contents
    good = record()
    bad = bytearray(good); bad[100] ^= 1
    long_len = bytearray(good); struct.pack_into("<I", long_len, 16, 177)
    short_len = bytearray(good); struct.pack_into("<I", short_len, 16, 40)
    return {
        "blank": inp(0, 512, b""),
        "blank_debug": inp(1, 512, b""),
        "valid": inp(0, 512, good),
        "valid_debug_4k": inp(1, 4096, good + b"\x3c" * 100),
        "corrupt": inp(0, 512, bytes(bad)),
        "long_length": inp(0, 512, bytes(long_len)),
        "short_length_fixed": inp(3, 512, bytes(short_len)),
        "junk_fixed": inp(3, 512, bytes(range(256)) * 2),
        "block_176": inp(0, 176, good),
        "block_175": inp(0, 175, good),
        "block_0": inp(0, 0, b""),
        "block_huge": inp(0, 0x80000000, good),
        "block_lie_100k": inp(0, 100000, good),
        "read_fails": inp(4, 512, good, code=7),
        "read_fails_code0": inp(4, 512, good, code=0),
        "flip_in_record": inp(8, 512, good, flip=8 * 50 + 2),
        "flip_in_tail": inp(8, 512, good, flip=8 * 300),
        "no_dollar_fixed": inp(3, 512, record()[:64] + b"ABCDEFGHIJKLMNOP" + b" " * 96),
    }


def hob(htype, body):
    body = bytes(body)
    return struct.pack("<HHI", htype, 8 + len(body), 0) + body


def hobs():
    info = lambda flag, extra=b"": hob(4, PLATFORM_INFO_GUID + bytes(89) + bytes([flag]) + bytes(6) + extra)
    end = hob(0xFFFF, b"")
    firmware = hob(1, bytes(48)) + hob(2, bytes(40)) + hob(3, bytes(40))
    other_guid = hob(4, bytes(range(16)) + b"\xff" * 96)
    short_info = struct.pack("<HHI", 4, 100, 0) + PLATFORM_INFO_GUID + bytes(76)
    return {
        "empty_end": end,
        "firmware_no_info": firmware + end,
        "info_writable": firmware + other_guid + info(0) + end,
        "info_protected": firmware + info(1) + end,
        "info_ff": info(0xFF) + end,
        "two_infos_first_wins": info(0) + info(1) + end,
        "other_guid_flag_set": other_guid + end,
        "info_too_short": short_info + end,
        "zero_length": struct.pack("<HHI", 2, 0, 0) + info(1) + end,
        "odd_length": struct.pack("<HHI", 2, 9, 0) + bytes(1) + info(1) + end,
        "guid_block_shorter_than_name": struct.pack("<HHI", 4, 16, 0) + bytes(8) + info(1) + end,
        "no_end": firmware + info(0),
        "long_jump": struct.pack("<HHI", 3, 0xFFF8, 0) + bytes(64),
    }


def node(t, s, payload):
    return struct.pack("<BBH", t, s, 4 + len(payload)) + bytes(payload)


def paths():
    acpi = node(2, 1, struct.pack("<II", 0x0A0341D0, 0))
    pci = lambda dev, fn=0: node(1, 1, bytes([fn, dev]))
    emmc = node(3, 29, b"\0")
    end = node(0x7F, 0xFF, b"")
    return {
        "gpp1_normal": bytes([4]) + acpi + pci(28) + emmc + end,
        "gpp1_other_device": bytes([4]) + acpi + pci(5) + end,
        "gpp1_pci_later": bytes([4]) + acpi + pci(3) + pci(28) + end,
        "gpp1_no_pci": bytes([4]) + acpi + emmc + end,
        "user_area_device28": bytes([0]) + acpi + pci(28) + end,
        "end_instance": bytes([4]) + acpi + node(0x7F, 0x01, b"") + pci(28) + end,
        "short_pci": bytes([4]) + acpi + struct.pack("<BBH", 1, 1, 5) + b"\x00" + end,
        "zero_length": bytes([4]) + struct.pack("<BBH", 2, 1, 0) + pci(28) + end,
        "length_below_header": bytes([4]) + struct.pack("<BBH", 2, 1, 3) + pci(28) + end,
        "long_jump": bytes([4]) + struct.pack("<BBH", 4, 1, 0xFFFF) + pci(28),
        "no_end": bytes([4]) + acpi + acpi,
        "gpp4": bytes([7]) + acpi + pci(28) + end,
    }


def hex_ids():
    cases = ["1A", "0x1a", "00ff", "123456789", "-5", "0x", "x5", "00x5", " 1A", "  ", "",
             "1A ", "0x 5", "FFFFFFFFFFFFFFFF", "10000000000000000", "0000000000000000000001",
             "1g", "0X0", "-0x10", "1\t2", "\t1", " 0x1 2", "ABCDEF", "abcdef0123456789"]
    seeds = {"case%02d" % i: c.encode() for i, c in enumerate(cases)}
    seeds["wide_digit"] = b"1\x01\x10\xff2"
    return seeds


for target, seeds in [("tool", tool()), ("format", format_()), ("read", read()), ("hob", hobs()),
                      ("device_path", paths()), ("parse_hex", hex_ids())]:
    os.makedirs(os.path.join(HERE, "corpus", target), exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(HERE, "corpus", target, name), "wb") as f:
            f.write(data)
