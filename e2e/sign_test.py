#!/usr/bin/env python3
"""`make sign`: a signed copy of Kestrel.efi that sbverify accepts, and clear refusals.

Usage: sign_test.py BUILD_DIR   (the build folder, BUILD/host; make is run with BUILD=BUILD)

A key and certificate are made here with openssl, standing in for a board maker's db key.
"""

import hashlib
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


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
        check(digest(image) == before, "Kestrel.efi itself is unchanged (what install ships)")
        unsigned = subprocess.run(["sbverify", "--cert", cert, image], capture_output=True)
        check(unsigned.returncode != 0, "Kestrel.efi stays unsigned")
        if os.path.exists(signed):
            os.remove(signed)
    print(f"{results.count(True)} passed, {results.count(False)} failed")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
