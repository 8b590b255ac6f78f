#!/usr/bin/env python3
"""End-to-end sessions without the shell: Launcher.efi boots and starts the tool itself.

Usage: launcher_sessions.py BUILD_DIR SESSION   (SESSION: efi11_shell, secure_boot or "all")

Each session runs one list of the tool's commands (read, write, a refusal, clear, read back, ...)
through the UEFI shell as the shell home always does (Shell 2.0), and through the launcher, and
compares command by command: the same console text and status, and the same GPP1 image at the end.
What each path hands the tool differs; what the tool does with it may not.

- efi11_shell: under OVMF, the launcher gives the tool the EFI 1.1 shell's argument source, once
  with the environment-2 shell environment on the image handle and once only on other handles
  among decoys (two boots in all). The tool must close every protocol it opened; the same boot
  shows that the launcher's check catches an image that does not (Fixture.efi --leak).
- secure_boot: under OVMF with Secure Boot enforced (Debian's test keys), the tool signed with the
  test key through the Shell 2.0 argument source; then the firmware's own shell, which refuses to
  run there; then the tool unsigned, signed with another key, and signed with one byte changed,
  each refused by LoadImage and never run, with GPP1 unchanged (two boots).
"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.realpath(__file__))
sys.path.insert(0, HERE)
import session  # noqa: E402

COMMANDS = [
    "-r",
    "-w -p 12345678 -s 87654321 -m 09876",
    "-r",
    "-w -p 1 -m 2 --sandral 789",
    '-w -p 1 -m ""',
    "-c",
    "-r",
    "-w -p PYL-0042 -m MM-77 -s SAN-9 -b 1A -f 0x2 -o 00ff",
    "-r",
]
# What the shell's run must show before the other paths are compared with it.
SHELL_STATUSES = ["0x0", "0x0", "0x0", "0x2", "0x2", "0x0", "0x0", "0x0", "0x0"]


# A blank block 0, the rest of GPP1 patterned so that a stray write shows.
START_IMAGE = session.gpp1(512, 64, bytes(512), fill=b"\xa5")
FINAL_IMAGE = session.with_block0(START_IMAGE, 512, session.ALL_SIX)


def environment(build):
    return session.environment(build, KESTREL_FIRMWARE="ovmf")  # the launcher's home is OVMF


def shell_run(build, failures, passes=1):
    """The Shell 2.0 path: the shell home, one boot, COMMANDS `passes` times over. Returns
    (entries, image) or (None, None)."""
    result = session.run(build, COMMANDS * passes, START_IMAGE, env=environment(build))
    failures += ["shell home: " + f for f in session.judge(result, final=FINAL_IMAGE)]
    if result.statuses != SHELL_STATUSES * passes:
        failures.append(f"shell home: statuses {result.statuses}, expected "
                        f"{SHELL_STATUSES * passes}")
    return (result.entries, result.image) if result.returncode == 0 else (None, None)


def launcher_run(build, name, options, commands, failures):
    """One boot of the launcher home: ([(heading, output, status, protocols)], image), or
    (None, None)."""
    result = session.run(build, commands, START_IMAGE, options, env=environment(build))
    entries = [(h, o) + s.partition("\t")[::2] for h, o, s in result.entries]
    if result.returncode != 0 or len(entries) != len(commands):
        failures.append(f"{name}: {len(entries)} results for {len(commands)} commands; "
                        f"{result.stderr}")
        return None, None
    return entries, result.image


def compare(name, shell_entries, entries, failures, expect_mode):
    """The launcher's runs of COMMANDS against the shell's, entry by entry."""
    for (heading, output, status), (l_heading, l_output, l_status, protocols) in zip(
            shell_entries, entries):
        if (l_heading, l_output, l_status) != (heading, output, status):
            failures.append(f"{name}: {l_heading}, status {l_status}, differs from the shell's "
                            f"{heading}, status {status}:\n--- shell\n{output}--- {name}\n"
                            f"{l_output}")
        if not re.fullmatch(re.escape(expect_mode) + r" closed \(\d+ closes\)", protocols):
            failures.append(f"{name}: {heading}: protocols: {protocols}")


def session_efi11_shell(build):
    """Two boots: the shell runs COMMANDS twice; the launcher runs them once with the environment
    on the image handle and once with it only on other handles, then the close check's own
    test: an image that leaves the parameters protocol open, and one that closes nothing."""
    failures = []
    shell_entries, shell_image = shell_run(build, failures, passes=2)
    if shell_entries is None:
        return failures
    count = len(COMMANDS)
    fixture = os.path.join(build, "Fixture.efi")
    commands = ["Kestrel.efi " + c for c in COMMANDS] * 2 + ["Fixture.efi --leak",
                                                             "Fixture.efi"]
    modes = ",".join(["efi11"] * count + ["efi11-search"] * count + ["shell2"] * 2)
    entries, image = launcher_run(build, "efi11", ["--shell", "--file", fixture, "--launcher",
                                                   modes], commands, failures)
    if entries is None:
        return failures
    compare("efi11", shell_entries[:count], entries[:count], failures, "efi11")
    compare("efi11-search", shell_entries[count:], entries[count:2 * count], failures,
            "efi11-search")
    if image != shell_image:
        failures.append("efi11: the final GPP1 image differs from the shell's")
    notes = [protocols for _, _, _, protocols in entries[2 * count:]]
    if notes != ["shell2 left open: 1", "shell2 never closed"]:
        failures.append(f"close check: {notes}, expected a leak and no close found")
    return failures


# --- Secure Boot ----------------------------------------------------------------------------

REFUSED = "LoadImage 0x800000000000000F Access Denied"
SHELL_REFUSED = "LoadImage 0x0, StartImage 0x800000000000001A Security Violation"


def text_section_offset(path):
    """File offset of the first byte of the image's .text section (PE32+ section table)."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], \
        struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional_size
    for i in range(sections):
        entry = table + 40 * i
        if data[entry:entry + 8].rstrip(b"\0") == b".text":
            return struct.unpack_from("<I", data, entry + 20)[0]
    raise RuntimeError(f"{path}: no .text section")


def refused_images(build, work):
    """unsigned.efi, otherkey.efi (signed with a key made here, not in db) and tampered.efi (the
    test-signed tool with one byte of its code changed)."""
    unsigned = os.path.join(build, "Kestrel.efi")
    signed = os.path.join(environment(build)["KESTREL_SIGNED_DIR"], "Kestrel.efi")
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
    data[text_section_offset(signed) + 0x40] ^= 0x01
    with open(made["tampered.efi"], "wb") as f:
        f.write(data)
    return list(made.values())


def session_secure_boot(build):
    failures = []
    with tempfile.TemporaryDirectory(prefix="kestrel-secure-") as work:
        extra = refused_images(build, work)
        shell_entries, shell_image = shell_run(build, failures)
        if shell_entries is None:
            return failures
        names = [os.path.basename(path) for path in extra]
        commands = (["Kestrel.efi " + c for c in COMMANDS] + ["builtin-shell"] +
                    [name + " -c" for name in names] + ["Kestrel.efi -r"])
        options = ["--secure-boot", "--shell"] + [o for path in extra for o in ("--file", path)]
        entries, image = launcher_run(build, "secure-boot", options, commands, failures)
        if entries is None:
            return failures
        count = len(COMMANDS)
        compare("secure-boot", shell_entries, entries[:count], failures, "shell2")
        _, output, status, _ = entries[count]
        if not status.startswith(SHELL_REFUSED) or \
                "[GetVariable SecureBoot: 0x0, value 1]" not in output:
            failures.append(f"the firmware's shell under Secure Boot: {status}\n{output}")
        for name, (heading, output, status, protocols) in zip(names, entries[count + 1:]):
            if status != REFUSED or output or protocols != "shell2 not started":
                failures.append(f"{name}: not refused by LoadImage: {status}, {protocols}\n"
                                f"{output}")
        compare("secure-boot (after the refusals)", shell_entries[-1:], entries[-1:], failures,
                "shell2")
        if image != shell_image:
            failures.append("secure-boot: the final GPP1 image differs from the shell's")
    return failures


SESSIONS = {
    "efi11_shell": session_efi11_shell,
    "secure_boot": session_secure_boot,
}


if __name__ == "__main__":
    sys.exit(session.main(sys.argv, SESSIONS, __doc__))
