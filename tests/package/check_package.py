#!/usr/bin/env python3
"""Checks the shipped 32-bit programs as files: format, subsystem, imports, version information,
icons, manifests, the Authenticode signature, and that building again from the same sources gives
the same bytes. The files are read with pefile (Debian's python3-pefile), a maintained PE parser.

Usage: check_package.py --bin DIR --source DIR [--signed] [unittest options]
  --signed: the programs in DIR must carry a signature (scripts/sign); without it, none.
"""

import argparse
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

import pefile

ARGS = None

# Windows' own DLLs: nothing else may be needed at run time.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll"}

RT_ICON = pefile.RESOURCE_TYPE["RT_ICON"]
RT_GROUP_ICON = pefile.RESOURCE_TYPE["RT_GROUP_ICON"]
RT_MANIFEST = pefile.RESOURCE_TYPE["RT_MANIFEST"]
SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0200, 0x0002

EXPECTED_STRINGS = {
    "Setup.exe": {"FileVersion": "1.00", "ProductVersion": "1.00", "ProductName": "Setup",
                  "InternalName": "SETUP", "OriginalFilename": "SETUP.EXE"},
    "Tolvakey.exe": {"FileVersion": "1.00", "ProductVersion": "1.00", "ProductName": "Tolvakey",
                     "InternalName": "Tolvakey", "OriginalFilename": "Tolvakey.exe"},
}
EXECUTION_LEVEL = {"Setup.exe": "requireAdministrator", "Tolvakey.exe": "asInvoker"}
PROGRAMS = sorted(EXPECTED_STRINGS)


def resources(pe):
    """{(type, id): [bytes, ...]} for every resource with numeric type and id."""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for ident in kind.directory.entries:
            for language in ident.directory.entries:
                leaf = language.data.struct
                found.setdefault((kind.id, ident.id), []).append(
                    pe.get_data(leaf.OffsetToData, leaf.Size))
    return found


def version_info(pe):
    """The fixed file and product versions, the strings by table, and the translations."""
    fixed = pe.VS_FIXEDFILEINFO[0]

    def four(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    strings, translations = {}, []
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            for key, value in table.entries.items():
                strings[(table.LangID.decode(), key.decode())] = value.decode()
        for var in getattr(info, "Var", []):
            for value in var.entry.values():
                translations += [int(number, 16) for number in value.split()]
    return (four(fixed.FileVersionMS, fixed.FileVersionLS),
            four(fixed.ProductVersionMS, fixed.ProductVersionLS), strings, translations)


class ProgramFiles(unittest.TestCase):
    def program(self, name):
        with open(os.path.join(ARGS.bin, name), "rb") as f:
            return pefile.PE(data=f.read())

    def test_format(self):
        for name in PROGRAMS:
            with self.subTest(name):
                pe = self.program(name)
                self.assertEqual(pe.FILE_HEADER.Machine,
                                 pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"])
                self.assertEqual(pe.OPTIONAL_HEADER.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE)
                self.assertEqual(pe.OPTIONAL_HEADER.Subsystem,
                                 pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])
                self.assertEqual(pe.FILE_HEADER.TimeDateStamp, 0, "no build time inside")
                # Signing tools rewrite the checksum; a stale one is rejected by some checks.
                self.assertTrue(pe.verify_checksum(), "PE checksum")

    def test_imports_only_system_dlls(self):
        for name in PROGRAMS:
            with self.subTest(name):
                dlls = {entry.dll.decode().lower()
                        for entry in self.program(name).DIRECTORY_ENTRY_IMPORT}
                self.assertIn("kernel32.dll", dlls)
                self.assertLessEqual(dlls, SYSTEM_DLLS)

    def test_dll_search_restricted_at_start(self):
        # Looked up by name at run time, so the name must be in the file.
        for name in PROGRAMS:
            with self.subTest(name):
                self.assertIn(b"SetDefaultDllDirectories\0", self.program(name).__data__)

    def test_version_information(self):
        for name in PROGRAMS:
            with self.subTest(name):
                pe = self.program(name)
                self.assertEqual(len(pe.VS_FIXEDFILEINFO), 1)
                file_version, product_version, strings, translations = version_info(pe)
                self.assertEqual(file_version, (1, 0, 0, 0))
                self.assertEqual(product_version, (1, 0, 0, 0))
                self.assertEqual(translations, [0x409, 1200])
                table = {key: value for (block, key), value in strings.items()
                         if block.upper() == "040904B0"}
                for key, value in EXPECTED_STRINGS[name].items():
                    self.assertEqual(table.get(key), value, key)
                self.assertTrue(table.get("CompanyName"))
                # The project's own licence, as LICENSE states its copyright.
                with open(os.path.join(ARGS.source, "LICENSE"), encoding="utf-8") as f:
                    licence = f.read().splitlines()
                self.assertEqual(licence[0], "MIT License")
                self.assertEqual(table.get("LegalCopyright"),
                                 next(line for line in licence if line.startswith("Copyright")))

    def test_icon_sizes(self):
        for name in PROGRAMS:
            with self.subTest(name):
                found = resources(self.program(name))
                groups = sorted(ident for kind, ident in found if kind == RT_GROUP_ICON)
                self.assertEqual(groups[:1], [1], "the application icon has the lowest id")
                group = found[(RT_GROUP_ICON, 1)][0]
                _, kind, count = struct.unpack_from("<HHH", group)
                self.assertEqual(kind, 1)
                sizes = set()
                for i in range(count):
                    width, height, _, _, _, _, size, ident = struct.unpack_from(
                        "<BBBBHHIH", group, 6 + 14 * i)
                    sizes.add((width, height))
                    image = found[(RT_ICON, ident)][0]
                    self.assertEqual(len(image), size)
                    # A Windows bitmap (not PNG), 32 bits a pixel: alpha, read by every version.
                    header_size, _, _, _, bit_count = struct.unpack_from("<IiiHH", image)
                    self.assertEqual((header_size, bit_count), (40, 32), (width, height))
                self.assertEqual(sizes, {(16, 16), (32, 32), (48, 48)})

    def test_manifest(self):
        ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3"}
        for name in PROGRAMS:
            with self.subTest(name):
                text = resources(self.program(name))[(RT_MANIFEST, 1)][0]
                root = ElementTree.fromstring(text)
                level = root.find(".//v3:requestedExecutionLevel", ns)
                self.assertEqual(level.get("level"), EXECUTION_LEVEL[name])
                self.assertEqual(root.find("v1:assemblyIdentity", ns).get("processorArchitecture"),
                                 "x86")
                controls = [a.get("name") for a in root.iterfind(".//v1:dependentAssembly/"
                                                                  "v1:assemblyIdentity", ns)]
                self.assertIn("Microsoft.Windows.Common-Controls", controls)
                self.assertGreaterEqual(len(root.findall(".//{*}supportedOS")), 4)
                # System awareness before Windows 10 1607, per-monitor v2 after: the first
                # per-monitor awareness leaves message boxes unscaled on a second monitor.
                self.assertEqual(root.find(".//{*}dpiAware").text, "true")
                self.assertEqual(root.find(".//{*}dpiAwareness").text, "PerMonitorV2, System")
                self.assertEqual(root.find(".//{*}longPathAware").text, "true")
                # A UTF-8 process code page would change the clipboard's 8-bit text.
                self.assertIsNone(root.find(".//{*}activeCodePage"))
                pinned = {f.get("name").lower(): f.get("loadFrom")
                          for f in root.iterfind("v1:file", ns)}
                if name == "Setup.exe":
                    self.assertEqual(pinned.get("version.dll"), "%SystemRoot%\\system32\\")

    def test_signature(self):
        """Signed: one PKCS#7 certificate entry at the end of the file. Unsigned: none."""
        for name in PROGRAMS:
            with self.subTest(name):
                pe = self.program(name)
                directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY]
                if not ARGS.signed:
                    self.assertEqual((directory.VirtualAddress, directory.Size), (0, 0))
                    continue
                # The directory's address is a file offset: the signature is not loaded.
                at, size = directory.VirtualAddress, directory.Size
                self.assertGreater(size, 8)
                self.assertEqual(at + size, len(pe.__data__), "the signature ends the file")
                length, revision, kind = struct.unpack_from("<IHH", pe.__data__, at)
                self.assertLessEqual(length, size)
                self.assertEqual((revision, kind),
                                 (WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA))

    def test_built_again_the_same(self):
        """A second build from the same sources, in another folder, gives the same bytes."""
        if ARGS.signed:
            self.skipTest("signed files differ from a build by their signature")
        with tempfile.TemporaryDirectory(prefix="tolvanex-again-") as again:
            # With the vendor's settings of this build, which may differ from the defaults.
            configure = ["cmake", "-S", ARGS.source, "-B", again, "--preset", "release"]
            with open(os.path.join(ARGS.bin, os.pardir, "CMakeCache.txt"), encoding="utf-8") as cache:
                for line in cache:
                    if line.startswith("TOLVANEX_") and ":" in line.split("=", 1)[0]:
                        configure.append("-D" + line.rstrip("\n"))
            subprocess.run(configure, check=True, stdout=subprocess.DEVNULL)
            subprocess.run(["cmake", "--build", again, "-j", str(os.cpu_count() or 2),
                            "--target", "Setup", "Tolvakey"],
                           check=True, stdout=subprocess.DEVNULL)
            for name in PROGRAMS:
                with self.subTest(name):
                    with open(os.path.join(ARGS.bin, name), "rb") as first, \
                            open(os.path.join(again, "bin", name), "rb") as second:
                        self.assertTrue(first.read() == second.read(), f"{name} differs")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--signed", action="store_true")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
