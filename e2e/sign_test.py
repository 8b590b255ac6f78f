#!/usr/bin/env python3
"""`make sign`: a signed copy of Kestrel.efi that sbverify accepts, and clear refusals; and the
image's .sbat section, which the signature covers.

Usage: sign_test.py BUILD_DIR   (the build folder, BUILD/host; make is run with BUILD=BUILD)

A key and certificate are made here with openssl, standing in for a board maker's db key.
"""

import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def sections(path):
    """(name, characteristics, data) of each section of the PE image at PATH."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    table = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]
    found = []
    for i in range(count):
        name, size, _, raw_size, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
        flags = struct.unpack_from("<I", data, table + 40 * i + 36)[0]
        found.append((name.rstrip(b"\0").decode(), flags, data[raw:raw + min(size, raw_size)]))
    return found


def make_sign(build, env=None, **variables):
    """`make sign` on the build folder; returns (status, stdout + stderr)."""
    argv = ["make", "-s", "--no-print-directory", "-C", ROOT, "sign",
            "BUILD=" + os.path.dirname(build), "HOST=" + build]
    argv += [f"{name}={value}" for name, value in variables.items()]
    result = subprocess.run(argv, capture_output=True, text=True, env=env,
                            stdin=subprocess.DEVNULL)
    return result.returncode, result.stdout + result.stderr


def main(argv):
    build = os.path.abspath(argv[1])
    image = os.path.join(build, "Kestrel.efi")
    signed = os.path.join(build, "Kestrel.signed.efi")
    results = []

    def check(condition, what, detail=""):
        results.append(condition)
        print(("ok: " if condition else "FAILED: ") + what + ("" if condition else "\n" + detail))

    before = digest(image)
    with tempfile.TemporaryDirectory(prefix="kestrel-sign-") as work:
        key, cert = os.path.join(work, "db.key"), os.path.join(work, "db.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                        "-subj", "/CN=Board maker db key for a test/", "-keyout", key,
                        "-out", cert], check=True, capture_output=True)
        if os.path.exists(signed):
            os.remove(signed)

        no_sbsign = dict(os.environ, SBSIGN=os.path.join(work, "no-such-dir", "sbsign"))
        missing = os.path.join(work, "missing.key")
        refusals = [  # what, make's variables, its environment, words the refusal must hold
            ("without KEY and CERT: refused, nothing signed", {}, None, ["no signing key", "KEY="]),
            ("a key file that is not there: named", dict(KEY=missing, CERT=cert), None,
             ["cannot read", "missing.key"]),
            ("a certificate given as the key", dict(KEY=cert, CERT=cert), None,
             ["not a PEM private key"]),
            ("without sbsign: says which package to install", dict(KEY=key, CERT=cert),
             no_sbsign, ["not found", "sbsigntool"])]
        for what, variables, env, words in refusals:
            status, text = make_sign(build, env, **variables)
            check(status != 0 and all(word in text for word in words)
                  and not os.path.exists(signed), what, text)

        status, text = make_sign(build, KEY=key, CERT=cert)
        check(status == 0 and os.path.exists(signed), "with a key: Kestrel.signed.efi written",
              text)
        if os.path.exists(signed):
            verify = subprocess.run(["sbverify", "--cert", cert, signed], capture_output=True,
                                    text=True)
            check(verify.returncode == 0, "sbverify accepts the signed copy with the certificate",
                  verify.stdout + verify.stderr)
            other = subprocess.run(["sbverify", "--cert", "/usr/share/ovmf/PkKek-1-snakeoil.pem",
                                    signed], capture_output=True, text=True)
            check(other.returncode != 0, "and refuses it with another certificate")
            # SBAT: the format's line and the tool's, at the banner's version, read-only data;
            # no section both writable and executable.
            sbat = [data for name, _, data in sections(signed) if name == ".sbat"]
            with open(os.path.join(ROOT, "app", "version.h")) as f:
                version = re.search(r'KESTREL_VERSION_TEXT "([0-9.]+)"', f.read()).group(1)
            lines = sbat[0].decode("ascii").splitlines() if sbat else []
            check(len(lines) == 2 and lines[0].startswith("sbat,1,SBAT Version,sbat,1,")
                  and lines[1].startswith(f"kestrel,1,Kestrel,kestrel,{version},"),
                  ".sbat holds the format's line and Kestrel's", repr(sbat))
            writable_code = [name for name, flags, _ in sections(signed)
                             if flags & 0x80000000 and flags & 0x20000000]
            check(not writable_code and all(flags & 0xE0000000 == 0x40000000
                                            for name, flags, _ in sections(signed)
                                            if name == ".sbat"),
                  "no section writable and executable; .sbat read-only", repr(writable_code))
        check(digest(image) == before, "Kestrel.efi itself is unchanged (what install ships)")
        unsigned = subprocess.run(["sbverify", "--cert", cert, image], capture_output=True)
        check(unsigned.returncode != 0, "Kestrel.efi stays unsigned")
        if os.path.exists(signed):
            os.remove(signed)
    print(f"{results.count(True)} passed, {results.count(False)} failed")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
