"""The runner's shell-less home: Launcher.efi as the boot image instead of the UEFI shell.

  e2e/kestrel-qemu --launcher MODE [--secure-boot] {--gpp1 IMAGE [...] | --no-gpp1}
                   [--fault KIND] [--file PATH]... [--shell] -- 'ARGS' ...

MODE is how the launcher hands the tool its arguments: efi11 (the EFI 1.1 shell interface and an
environment-2 shell environment on the tool's image handle), efi11-search (the environment-2
one only on another handle, between decoys of the original form, one of them on the image
handle, so that the tool must search), or shell2
(the Shell 2.0 parameters protocol). With --shell each COMMAND is 'NAME ARGS': NAME is an image
on the volume (Kestrel.efi, or a --file) and the heading reads "=== NAME ARGS"; the COMMAND
builtin-shell loads and starts the firmware's own UEFI Shell from its firmware volume and reports
"=== status LoadImage S, StartImage S, calls by the shell's code: N" (N: the calls it made on
its image handle, so 0 when its code never ran), its console text and the variables it read
("[GetVariable NAME: S, value V]").

--secure-boot boots Debian's enforcing OVMF (OVMF_CODE_4M.secboot.fd with the test keys of
OVMF_VARS_4M.snakeoil.fd, q35 with SMM and a secure flash); the launcher, the board driver and
the tool must then be signed with the test key (KESTREL_SIGNED_DIR, default
build/host/e2e-signed, which the build fills). MODE defaults to shell2 there.

The output is the shell home's (=== heading, the tool's console text, === status S), with one
more line per command: "=== protocols MODE closed (N closes)" when the tool closed every
protocol the launcher installed (checked with OpenProtocolInformation), or what it left open.
OVMF only (--firmware uboot, or KESTREL_FIRMWARE=uboot, is refused). A command whose image the
firmware refused to load reads "=== status LoadImage 0x8...F Access
Denied" and "=== protocols MODE not started".
"""

import importlib.machinery
import importlib.util
import os
import shutil
import sys

HERE = os.path.dirname(os.path.realpath(__file__))
MODES = ("efi11", "efi11-search", "shell2")
BUILTIN_SHELL = "builtin-shell"
SECURE_CODE = "/usr/share/OVMF/OVMF_CODE_4M.secboot.fd"
SECURE_VARS = "/usr/share/OVMF/OVMF_VARS_4M.snakeoil.fd"


def runner_module():
    """e2e/kestrel-qemu as a module (the file has no .py suffix)."""
    path = os.path.join(HERE, "kestrel-qemu")
    loader = importlib.machinery.SourceFileLoader("kestrel_qemu", path)
    runner_spec = importlib.util.spec_from_loader("kestrel_qemu", loader)
    module = importlib.util.module_from_spec(runner_spec)
    loader.exec_module(module)
    return module


def wants_launcher(argv):
    """Whether a command line asks for this home: --launcher or --secure-boot before '--'."""
    options = argv[:argv.index("--")] if "--" in argv else argv
    return any(a in ("--secure-boot", "--launcher") or a.startswith("--launcher=")
               for a in options)


def split_options(argv, kq):
    """Takes --launcher MODE and --secure-boot out of argv; the rest is the shell home's."""
    mode, secure, rest = None, False, []
    i = 0
    while i < len(argv):
        arg = argv[i]
        if arg == "--":
            rest += argv[i:]
            break
        if arg == "--secure-boot":
            secure = True
        elif arg == "--launcher" or arg.startswith("--launcher="):
            if "=" in arg:
                mode = arg.partition("=")[2]
            else:
                i += 1
                mode = argv[i] if i < len(argv) else None
            if mode not in MODES:
                raise kq.usage_error(f"--launcher {mode!r}: the mode must be one of "
                                     + ", ".join(MODES))
        else:
            rest.append(arg)
        i += 1
    if mode is None:
        mode = "shell2"
    return mode, secure, rest


def images(kq, secure):
    """Launcher, board driver and tool: signed copies under Secure Boot."""
    tool, driver = kq.find_inputs()
    build = os.path.dirname(os.path.abspath(tool))
    launcher = os.environ.get("KESTREL_LAUNCHER", os.path.join(build, "Launcher.efi"))
    if secure:
        signed = os.environ.get("KESTREL_SIGNED_DIR", os.path.join(build, "e2e-signed"))
        tool, driver, launcher = (os.path.join(signed, os.path.basename(p))
                                  for p in (tool, driver, launcher))
        for path in (SECURE_CODE, SECURE_VARS):
            if not os.path.isfile(path):
                raise kq.Failure(f"Secure Boot firmware {path} not found: run scripts/install-deps")
    for path in (tool, driver, launcher):
        if not os.path.isfile(path):
            raise kq.Failure(f"{path} not found: build it (make build; the signed copies need "
                             "sbsigntool)")
    return tool, driver, launcher


def launch_script(modes, commands, load_board, shell):
    lines = ["load SimBoard.efi"] if load_board else []
    for mode, command in zip(modes, commands):
        if shell and command == BUILTIN_SHELL:
            lines.append(BUILTIN_SHELL)
        else:
            lines.append(f"{mode} {command}" if shell else f"{mode} Kestrel.efi {command}")
    return b"\xff\xfe" + ("\r\n".join(lines) + "\r\n").encode("utf-16-le", "surrogatepass")


def secure_command(command, work):
    """The shell home's QEMU command turned into an enforcing Secure Boot machine: the SMM-only
    firmware build, its own copy of the test-key variable store, SMM and a flash that only SMM
    may write (else the firmware stops at start)."""
    shutil.copyfile(SECURE_VARS, os.path.join(work, "vars.fd"))
    out = []
    for arg in command:
        if arg == "q35":
            arg = "q35,smm=on"
        elif arg.startswith("if=pflash") and "readonly=on" in arg:
            arg = "if=pflash,format=raw,readonly=on,file=" + SECURE_CODE.replace(",", ",,")
        out.append(arg)
    return out + ["-global", "driver=cfi.pflash01,property=secure,value=on"]


def run(argv, kq=None, modes=None):
    """Boots once; returns [(heading, output, status, protocols)]. Raises the runner's Failure
    (kq: the runner module whose Failure the caller catches). modes, one per command, overrides
    --launcher command by command, so that one boot can try several argument sources."""
    kq = kq or runner_module()
    mode, secure, rest = split_options(argv, kq)
    settings = kq.parse_arguments(rest)
    if settings.firmware != "ovmf":
        raise kq.usage_error("--launcher and --secure-boot run under OVMF only")
    modes = modes or [mode] * len(settings.commands)
    if len(modes) != len(settings.commands) or any(m not in MODES for m in modes):
        raise kq.usage_error(f"one mode of {', '.join(MODES)} per command")
    tool, driver, launcher = images(kq, secure)
    if shutil.which("mmd") is None:
        raise kq.Failure("mmd not found: run scripts/install-deps")
    # No startup.nsh: a firmware that skipped the launcher and fell back to its shell would run
    # nothing.
    script = launch_script(modes, settings.commands, not settings.no_gpp1, settings.shell)
    files = [("EFI/BOOT/BOOTX64.EFI", launcher), ("launch.txt", script), ("SimBoard.efi", driver),
             ("Kestrel.efi", tool)]
    return kq.run_session(settings, lambda work: files, "osp",
                          secure_command if secure else None)


def transcript(entries):
    """The shell home's transcript of ENTRIES with each command's protocols line, as UTF-8."""
    return "".join(heading + output + f"=== status {status}\n=== protocols {protocols}\n"
                   for heading, output, status, protocols in entries).encode("utf-8",
                                                                             "surrogatepass")


def main(argv, kq):
    """The runner's entry for this home: prints the transcript like the shell home."""
    sys.stdout.buffer.write(transcript(run(argv, kq)))
    sys.stdout.flush()
