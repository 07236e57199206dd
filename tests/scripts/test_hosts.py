"""No file of the project names a host to reach: the machine's own configuration says where
packages come from, so a mirror or a proxy keeps working. What may stand in a file is a schema's
or a namespace's identifier, which nothing fetches, and addresses under .example."""

import os
import re
import subprocess
import unittest

ROOT = os.path.realpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
# Identifiers, never fetched: XML namespaces, manifest schemas, CycloneDX's schema identifiers.
IDENTIFIERS = ("http://www.w3.org/2000/svg", "http://schemas.microsoft.com/SMI/",
               "urn:schemas-microsoft-com:", "http://cyclonedx.org/schema/")
SCHEME_END, AT = "://", "@"
URL = re.compile(r"\b[a-z][a-z0-9+.-]*://[^\s\"'<>()`\\]+", re.IGNORECASE)
MAIL = re.compile(r"\b[\w.+-]+@((?:[a-z0-9-]+\.)+[a-z]{2,})\b", re.IGNORECASE)


def hosts_named(text):
    """(what, host) of each address in the text that is neither an identifier nor .example."""
    found = []
    for match in URL.finditer(text):
        url = match[0].rstrip(".,;:")
        host = re.sub(r"^[^/]*://([^/:?#]*).*$", r"\1", url).lower()
        if url.startswith(IDENTIFIERS) or host.endswith(".example") or not host:
            continue
        found.append((url, host))
    for match in MAIL.finditer(text):
        if not match[1].lower().endswith(".example"):
            found.append((match[0], match[1].lower()))
    return found


def project_files():
    listed = subprocess.run(["git", "-C", ROOT, "ls-files", "--cached", "--others",
                             "--exclude-standard", "-z"], capture_output=True, check=True)
    return [name for name in listed.stdout.decode().split("\0") if name]


class NoHosts(unittest.TestCase):
    def test_finds_what_it_must(self):
        rows = [
            # Written apart, so that this file names no host itself.
            (f"URIs: http{SCHEME_END}archive.invalid/debian", ["archive.invalid"]),
            (f"mirror at https{SCHEME_END}Mirror.Archive.invalid/debian/.",
             ["mirror.archive.invalid"]),
            (f"write to help{AT}tolvanex.com", ["tolvanex.com"]),
            ("TOLVANEX_SIGN_URL=https://tolvanex.example/", []),
            ("support@tolvanex.example", []),
            ('xmlns="http://www.w3.org/2000/svg"', []),
            ('"$schema": "http://cyclonedx.org/schema/bom-1.6.schema.json"', []),
            ("a program named Tolvanex.com", []),
        ]
        for text, hosts in rows:
            with self.subTest(text=text):
                self.assertEqual([host for _, host in hosts_named(text)], hosts)

    def test_no_file_of_the_project_names_a_host(self):
        files = project_files()
        self.assertIn("README.md", files)
        for name in files:
            path = os.path.join(ROOT, name)
            if not os.path.isfile(path):
                continue  # removed, not yet committed
            with open(path, "rb") as file:
                data = file.read()
            if b"\0" in data:
                continue  # pictures, icons
            with self.subTest(file=name):
                self.assertEqual(hosts_named(data.decode("utf-8", "replace")), [])


if __name__ == "__main__":
    unittest.main()
