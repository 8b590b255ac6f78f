#!/usr/bin/env python3
"""Takes the UEFI Shell application out of an OVMF firmware image.

Usage: extract_shell.py [FIRMWARE] OUTPUT   (FIRMWARE: default /usr/share/OVMF/OVMF_CODE_4M.fd)

U-Boot implements UEFI itself but brings no UEFI shell, and Debian packages no shell as a file of
its own; OVMF carries one inside its firmware. The firmware image is a series of firmware volumes
("_FVH"); the main one holds a file whose GUID-defined section is LZMA-compressed, and the
decompressed data is a further volume of DXE files. The shell is the file
7C04A583-9E3E-4F1C-AD65-E05268D0B4D1; its PE32 section is an ordinary PE32+ EFI application that
runs on any UEFI firmware. This walks volumes, files and sections (recursing into compressed and
volume-image sections), writes out that PE32 section, and checks it is a PE32+ x86-64 image.

Exit status 0 when OUTPUT was written; 1 with a message otherwise.
"""

import lzma
import os
import struct
import sys
import uuid

DEFAULT_FIRMWARE = "/usr/share/OVMF/OVMF_CODE_4M.fd"
SHELL_FILE = uuid.UUID("7C04A583-9E3E-4F1C-AD65-E05268D0B4D1")
LZMA_SECTION = uuid.UUID("EE4E5898-3914-4259-9D6E-DC7BD79403CF")

FV_SIGNATURE = b"_FVH"
FV_HEADER_MIN = 56          # up to the block map
# OVMF's files and sections are far below 16 MiB, so they never use the large-size headers;
# one that did would fail the size checks below.
FFS_HEADER = 24
FFS_TYPE_PAD = 0xF0
SECTION_HEADER = 4
SECTION_GUID_DEFINED = 0x02
SECTION_PE32 = 0x10
SECTION_FV_IMAGE = 0x17


class ExtractError(Exception):
    pass


def align(value, boundary):
    return (value + boundary - 1) & ~(boundary - 1)


def volume_files(data, base):
    """(name, body) of each file in the firmware volume at data[base:]."""
    if base + FV_HEADER_MIN > len(data) or data[base + 40:base + 44] != FV_SIGNATURE:
        raise ExtractError(f"no firmware volume header at offset {base:#x}")
    length, = struct.unpack_from("<Q", data, base + 32)
    header_length, _, ext_offset = struct.unpack_from("<HHH", data, base + 48)
    if length < header_length or base + length > len(data) or header_length < FV_HEADER_MIN:
        raise ExtractError(f"firmware volume at {base:#x} claims {length:#x} bytes, "
                           f"beyond the {len(data):#x} available")
    end = base + length
    offset = base + header_length
    if ext_offset:
        if base + ext_offset + 20 > end:
            raise ExtractError(f"firmware volume at {base:#x}: extended header out of bounds")
        ext_size, = struct.unpack_from("<I", data, base + ext_offset + 16)
        offset = base + ext_offset + ext_size
    offset = align(offset, 8)
    while offset + FFS_HEADER <= end:
        header = data[offset:offset + FFS_HEADER]
        if header == b"\xff" * FFS_HEADER:
            break  # free space to the end of the volume
        name = uuid.UUID(bytes_le=bytes(header[:16]))
        size = int.from_bytes(header[20:23], "little")
        if size < FFS_HEADER or offset + size > end:
            raise ExtractError(f"file {name} at {offset:#x} has a bad size {size:#x}")
        if header[18] != FFS_TYPE_PAD:
            yield name, data[offset + FFS_HEADER:offset + size]
        offset = align(offset + size, 8)


def sections(data):
    """(type, body) of each section in data; LZMA sections are opened and their sections
    given in their place. Volume-image sections are given as they are."""
    offset = 0
    while offset + SECTION_HEADER <= len(data):
        size = int.from_bytes(data[offset:offset + 3], "little")
        kind = data[offset + 3]
        if size < SECTION_HEADER or offset + size > len(data):
            raise ExtractError(f"section at {offset:#x} has a bad size {size:#x}")
        body = data[offset + SECTION_HEADER:offset + size]
        if kind == SECTION_GUID_DEFINED:
            data_offset = struct.unpack_from("<H", body, 16)[0] if len(body) >= 20 else 0
            if not SECTION_HEADER + 20 <= data_offset <= size:
                raise ExtractError(f"GUID-defined section at {offset:#x}: bad data offset")
            if uuid.UUID(bytes_le=bytes(body[:16])) == LZMA_SECTION:
                try:
                    # The LZMA "alone" format: 5 property bytes and a 64-bit size, then the stream.
                    inner = lzma.decompress(bytes(data[offset + data_offset:offset + size]),
                                            format=lzma.FORMAT_ALONE)
                except lzma.LZMAError as error:
                    raise ExtractError(f"LZMA section does not decompress: {error}")
                yield from sections(inner)
            # Other GUID-defined sections (signed or checksummed ones) are passed over.
        else:
            yield kind, body
        offset = align(offset + size, 4)


def all_files(data, base):
    """(name, body) of every file in the volume at data[base:] and in the volumes nested in its
    files' sections, depth first."""
    for name, body in volume_files(data, base):
        yield name, body
        for kind, section in sections(body):
            if kind == SECTION_FV_IMAGE:
                yield from all_files(section, 0)


def find_shell(data, base):
    """The PE32 section of the shell file in the volume at data[base:] (or nested), or None."""
    for name, body in all_files(data, base):
        if name == SHELL_FILE:
            for kind, section in sections(body):
                if kind == SECTION_PE32:
                    return bytes(section)
            raise ExtractError(f"file {SHELL_FILE} holds no PE32 section")
    return None


def check_pe32_plus(image):
    """Raises unless image is a PE32+ x86-64 EFI application."""
    if len(image) < 0x40 or image[:2] != b"MZ":
        raise ExtractError("the shell's PE32 section does not start with an MZ header")
    pe, = struct.unpack_from("<I", image, 0x3C)
    if pe + 24 + 70 > len(image) or image[pe:pe + 4] != b"PE\0\0":
        raise ExtractError("the shell's PE32 section has no PE header")
    machine, = struct.unpack_from("<H", image, pe + 4)
    magic, = struct.unpack_from("<H", image, pe + 24)
    subsystem, = struct.unpack_from("<H", image, pe + 24 + 68)
    if machine != 0x8664 or magic != 0x20B or subsystem != 10:
        raise ExtractError(f"the shell is not a PE32+ x86-64 EFI application (machine "
                           f"{machine:#x}, magic {magic:#x}, subsystem {subsystem})")


def extract(firmware):
    """The shell application's bytes from a whole firmware image."""
    offset = 0
    while True:
        at = firmware.find(FV_SIGNATURE, offset)
        if at < 0:
            break
        base = at - 40
        offset = at + 1
        # Volumes sit on 4 KiB boundaries in a flash image; a "_FVH" elsewhere is data.
        if base < 0 or base % 0x1000:
            continue
        found = find_shell(firmware, base)
        if found is not None:
            check_pe32_plus(found)
            return found
    raise ExtractError(f"no file {SHELL_FILE} with a PE32 section in the firmware")


def main(argv):
    if len(argv) not in (2, 3) or argv[1] in ("-h", "--help"):
        print(__doc__.strip(), file=sys.stderr if len(argv) not in (2, 3) else sys.stdout)
        return 0 if len(argv) == 2 else 2
    firmware_path = argv[1] if len(argv) == 3 else DEFAULT_FIRMWARE
    output = argv[-1]
    try:
        with open(firmware_path, "rb") as f:
            shell = extract(f.read())
    except (OSError, ExtractError) as error:
        print(f"extract_shell: {firmware_path}: {error}", file=sys.stderr)
        return 1
    temporary = output + ".part"
    with open(temporary, "wb") as f:
        f.write(shell)
    os.replace(temporary, output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
