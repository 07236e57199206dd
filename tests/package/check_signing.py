#!/usr/bin/env python3
"""Checks scripts/sign on copies of the built programs, with throwaway certificates made by
openssl: signed files verify and carry their descriptions, a changed byte breaks them, removing
the signature gives back the unsigned build, and every bad input ends with one clear line and
leaves no program behind.

Usage: check_signing.py --bin DIR --source DIR [unittest options]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None
PROGRAMS = ["Setup.exe", "Tolvakey.exe"]
DESCRIPTIONS = {"Setup.exe": "Tolvanex Setup", "Tolvakey.exe": "Tolvakey"}
PASSWORD = "correct horse"
URL = "https://tolvanex.example/"

CA_CONFIG = """\
[ca]
default_ca = throwaway
[throwaway]
database = {dir}/index.txt
new_certs_dir = {dir}
serial = {dir}/serial
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
[codeSigning]
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
[serverAuth]
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
"""


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, **kwargs)


def make_certificate(folder, name, usage, start, end):
    """A self-signed certificate with the given extended key usage and validity, as NAME.pem,
    and with its key as NAME.pfx (password PASSWORD). `openssl ca` is the one OpenSSL 3.0 command
    that sets both ends of the validity, so an expired certificate can be made."""
    ca = os.path.join(folder, name + "-ca")
    os.mkdir(ca)
    open(os.path.join(ca, "index.txt"), "w").close()
    with open(os.path.join(ca, "serial"), "w") as f:
        f.write("1000\n")
    config = os.path.join(ca, "openssl.cnf")
    with open(config, "w") as f:
        f.write(CA_CONFIG.format(dir=ca))
    key, request = os.path.join(ca, "key.pem"), os.path.join(ca, "request.pem")
    pem, pfx = os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".pfx")
    for command in (
            ["openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
             "-out", request, "-subj", f"/CN=Throwaway {name}"],
            ["openssl", "ca", "-batch", "-config", config, "-selfsign", "-keyfile", key,
             "-in", request, "-out", pem, "-notext", "-extensions", usage,
             "-startdate", start, "-enddate", end],
            ["openssl", "pkcs12", "-export", "-inkey", key, "-in", pem, "-out", pfx,
             "-passout", "pass:" + PASSWORD]):
        result = run(command)
        if result.returncode != 0:
            raise RuntimeError(" ".join(command) + "\n" + result.stderr)
    return pem, pfx


class Signing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="tolvanex-signing-")
        cls.addClassCleanup(shutil.rmtree, cls.work)
        cls.pem, cls.pfx = make_certificate(cls.work, "good", "codeSigning",
                                            "20200101000000Z", "20991231000000Z")
        _, cls.server_pfx = make_certificate(cls.work, "server", "serverAuth",
                                             "20200101000000Z", "20991231000000Z")
        _, cls.expired_pfx = make_certificate(cls.work, "expired", "codeSigning",
                                              "20200101000000Z", "20210101000000Z")
        cls.not_pkcs12 = cls.pem
        cls.keyless_pfx = os.path.join(cls.work, "keyless.pfx")
        subprocess.run(["openssl", "pkcs12", "-export", "-nokeys", "-in", cls.pem,
                        "-out", cls.keyless_pfx, "-passout", "pass:" + PASSWORD],
                       check=True, capture_output=True)

    def unsigned(self, name):
        with open(os.path.join(ARGS.bin, name), "rb") as f:
            return f.read()

    def release_folder(self):
        """A fresh folder holding the built programs, as scripts/release leaves dist/."""
        folder = tempfile.mkdtemp(prefix="dist-", dir=self.work)
        for name in PROGRAMS:
            shutil.copy2(os.path.join(ARGS.bin, name), folder)
        return folder

    def sign(self, folder, **variables):
        env = {k: v for k, v in os.environ.items() if not k.startswith("TOLVANEX_SIGN_")}
        env.update({k: v for k, v in variables.items() if v is not None})
        return run([os.path.join(ARGS.source, "scripts", "sign"), folder], env=env)

    def signed_folder(self):
        folder = self.release_folder()
        result = self.sign(folder, TOLVANEX_SIGN_PFX=self.pfx, TOLVANEX_SIGN_PASSWORD=PASSWORD,
                           TOLVANEX_SIGN_URL=URL)
        self.assertEqual(result.returncode, 0, result.stderr)
        return folder

    def verify(self, path):
        return run(["osslsigncode", "verify", "-CAfile", self.pem, "-in", path])

    def assert_sums_check(self, folder):
        with open(os.path.join(folder, "SHA256SUMS")) as f:
            self.assertEqual(sorted(line.split()[1] for line in f), PROGRAMS)
        result = run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=folder)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_without_variables_the_build_is_left_as_it_is(self):
        folder = self.release_folder()
        result = self.sign(folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        for name in PROGRAMS:
            with self.subTest(name), open(os.path.join(folder, name), "rb") as f:
                self.assertTrue(f.read() == self.unsigned(name), f"{name} changed")
        self.assert_sums_check(folder)

    def test_signed_programs_verify_and_carry_their_descriptions(self):
        folder = self.signed_folder()
        for name in PROGRAMS:
            with self.subTest(name):
                result = self.verify(os.path.join(folder, name))
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertIn("Signature verification: ok", result.stdout)
                self.assertIn(f"Text description: {DESCRIPTIONS[name]}\n", result.stdout)
                self.assertIn(f"URL description: {URL}\n", result.stdout)
                self.assertIn("Message digest algorithm  : SHA256", result.stdout)
        self.assert_sums_check(folder)
        # Every package check holds for the signed files too, and sees the signature.
        check = run([sys.executable, os.path.join(ARGS.source, "tests", "package",
                                                  "check_package.py"),
                     "--bin", folder, "--source", ARGS.source, "--signed"])
        self.assertEqual(check.returncode, 0, check.stderr)

    def test_one_changed_byte_fails_verification(self):
        folder = self.signed_folder()
        for name in PROGRAMS:
            with self.subTest(name):
                path = os.path.join(folder, name)
                with open(path, "r+b") as f:
                    # Inside the code, far from the checksum and the signature.
                    f.seek(0x1000)
                    byte = f.read(1)
                    f.seek(0x1000)
                    f.write(bytes([byte[0] ^ 0x01]))
                result = self.verify(path)
                self.assertNotEqual(result.returncode, 0, result.stdout)
                self.assertIn("MISMATCH", result.stdout)

    def test_signature_removed_gives_the_unsigned_build(self):
        folder = self.signed_folder()
        for name in PROGRAMS:
            with self.subTest(name):
                stripped = os.path.join(folder, name + ".stripped")
                result = run(["osslsigncode", "remove-signature", "-in",
                              os.path.join(folder, name), "-out", stripped])
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                with open(stripped, "rb") as f:
                    self.assertTrue(f.read() == self.unsigned(name), f"{name} differs")

    def test_bad_input_ends_with_one_clear_line_and_no_program_left(self):
        missing = os.path.join(self.work, "no-such.pfx")
        cases = [
            # what, variables, the words the error must hold
            ("missing file", dict(TOLVANEX_SIGN_PFX=missing, TOLVANEX_SIGN_PASSWORD=PASSWORD),
             f"{missing} does not exist"),
            ("unreadable file (a folder)",
             dict(TOLVANEX_SIGN_PFX=self.work, TOLVANEX_SIGN_PASSWORD=PASSWORD),
             "cannot be read"),
            ("not a PKCS#12 file",
             dict(TOLVANEX_SIGN_PFX=self.not_pkcs12, TOLVANEX_SIGN_PASSWORD=PASSWORD),
             "is not a PKCS#12 file"),
            ("wrong password", dict(TOLVANEX_SIGN_PFX=self.pfx, TOLVANEX_SIGN_PASSWORD="wrong"),
             "wrong password"),
            ("empty password for a file with one",
             dict(TOLVANEX_SIGN_PFX=self.pfx, TOLVANEX_SIGN_PASSWORD=""), "wrong password"),
            ("certificate without its key",
             dict(TOLVANEX_SIGN_PFX=self.keyless_pfx, TOLVANEX_SIGN_PASSWORD=PASSWORD),
             "holds no certificate with its key"),
            ("password not set", dict(TOLVANEX_SIGN_PFX=self.pfx),
             "TOLVANEX_SIGN_PASSWORD is not set"),
            ("address without certificate", dict(TOLVANEX_SIGN_URL=URL),
             "TOLVANEX_SIGN_PFX is not set"),
            ("server certificate",
             dict(TOLVANEX_SIGN_PFX=self.server_pfx, TOLVANEX_SIGN_PASSWORD=PASSWORD),
             "is not for code signing"),
            ("expired certificate",
             dict(TOLVANEX_SIGN_PFX=self.expired_pfx, TOLVANEX_SIGN_PASSWORD=PASSWORD),
             "expired on Jan  1 00:00:00 2021 GMT"),
        ]
        for what, variables, words in cases:
            with self.subTest(what):
                folder = self.release_folder()
                result = self.sign(folder, **variables)
                self.assertEqual(result.returncode, 1, result.stdout)
                lines = result.stderr.splitlines()
                self.assertEqual(len(lines), 1, result.stderr)
                self.assertTrue(lines[0].startswith("sign: error: "), lines[0])
                self.assertIn(words, lines[0])
                self.assertEqual(os.listdir(folder), [], "nothing to mistake for a signed file")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--source", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
