#!/usr/bin/env python3
"""Tests of extract_shell.py: Debian's OVMF image, and volumes built here to its layout."""

import lzma
import os
import struct
import sys
import unittest
import uuid

HERE = os.path.dirname(os.path.realpath(__file__))
sys.path.insert(0, HERE)
import extract_shell  # noqa: E402
from extract_shell import (ExtractError, LZMA_SECTION, SECTION_FV_IMAGE,  # noqa: E402
                           SECTION_GUID_DEFINED, SECTION_PE32, SHELL_FILE, extract)


def pe32_plus(subsystem=10, machine=0x8664, size=0x200):
    """A PE32+ header as the checks read it: MZ, e_lfanew, PE signature, machine, magic,
    subsystem."""
    image = bytearray(size)
    image[:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, 0x80)
    image[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<H", image, 0x84, machine)
    struct.pack_into("<H", image, 0x98, 0x20B)
    struct.pack_into("<H", image, 0x98 + 68, subsystem)
    return bytes(image)


def section(kind, body):
    data = (4 + len(body)).to_bytes(3, "little") + bytes([kind]) + body
    return data + bytes(-len(data) % 4)


def lzma_section(inner):
    packed = lzma.compress(inner, format=lzma.FORMAT_ALONE)
    header_size = 4 + 20
    body = LZMA_SECTION.bytes_le + struct.pack("<HH", header_size, 1) + packed
    return section(SECTION_GUID_DEFINED, body)


def ffs_file(name, body, file_type=0x07):
    size = 24 + len(body)
    header = name.bytes_le + b"\0\0" + bytes([file_type, 0]) + size.to_bytes(3, "little") + b"\xf8"
    data = header + body
    return data + bytes(-len(data) % 8)


def volume(files, length=None):
    body = b"".join(files)
    header_length = 72  # header and a two-entry block map
    length = length or header_length + len(body) + 64
    header = bytearray(header_length)
    header[16:32] = uuid.uuid4().bytes_le
    struct.pack_into("<Q", header, 32, length)
    header[40:44] = b"_FVH"
    struct.pack_into("<HHHBB", header, 48, header_length, 0, 0, 0, 2)
    data = bytes(header) + body
    return data + b"\xff" * (length - len(data))


def flash(inner_files):
    """OVMF's shape: a flash image whose main volume holds one file with an LZMA section around a
    volume-image section, the DXE volume inside it."""
    dxe = section(SECTION_FV_IMAGE, volume(inner_files))
    main = volume([ffs_file(uuid.uuid4(), lzma_section(dxe), 0x0B)])
    return main + bytes(-len(main) % 0x1000) + volume([ffs_file(uuid.uuid4(), b"sec")], 0x1000)


class Extractor(unittest.TestCase):
    def test_debian_ovmf_gives_the_uefi_shell(self):
        with open(extract_shell.DEFAULT_FIRMWARE, "rb") as f:
            shell = extract(f.read())
        self.assertGreater(len(shell), 256 * 1024)
        self.assertTrue("Shell".encode("utf-16-le") in shell, "no UCS-2 text naming the shell")

    def test_made_up_images_give_their_shell_or_a_named_fault(self):
        shell = pe32_plus()
        shell_file = ffs_file(SHELL_FILE, section(SECTION_PE32, shell))
        good = flash([shell_file])
        damaged = bytearray(good)  # a damaged LZMA stream in the main volume's file
        at = damaged.find(LZMA_SECTION.bytes_le) + 40
        damaged[at:at + 32] = b"\x5a" * 32
        oversized = bytearray(volume([shell_file]))  # a file running past its volume
        oversized[72 + 20:72 + 23] = (0x7FFFFF).to_bytes(3, "little")
        other = uuid.UUID("11111111-2222-3333-4444-555555555555")
        # name: the image, and the shell it gives (None: an ExtractError)
        cases = {
            "nested volume behind LZMA, other files passed over": (flash([
                ffs_file(other, section(SECTION_PE32, pe32_plus(11))),
                ffs_file(SHELL_FILE, section(0x15, "Shell".encode("utf-16-le"))
                         + section(SECTION_PE32, shell))]), shell),
            "no shell file": (flash([ffs_file(uuid.uuid4(), b"")]), None),
            "shell without PE32": (flash([ffs_file(SHELL_FILE, section(0x19, b"raw"))]), None),
            "not an EFI application": (flash([ffs_file(SHELL_FILE, section(
                SECTION_PE32, pe32_plus(subsystem=3)))]), None),
            "volume longer than the image": (good[:100], None),
            "damaged LZMA stream": (bytes(damaged), None),
            "file past its volume": (bytes(oversized), None),
        }
        for name, (image, expected) in cases.items():
            with self.subTest(name):
                if expected is not None:
                    self.assertEqual(extract(image), expected)
                else:
                    self.assertRaises(ExtractError, extract, image)


if __name__ == "__main__":
    unittest.main(verbosity=2)
