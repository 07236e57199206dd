#!/usr/bin/env python3
"""Checks the shipped 32-bit programs as files: format, subsystem, imports, version information,
icons, manifests, and that building again from the same sources gives the same bytes.

Usage: check_package.py --bin DIR --source DIR [unittest options]
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

ARGS = None

# Windows' own DLLs: nothing else may be needed at run time.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll"}

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24

EXPECTED_STRINGS = {
    "Setup.exe": {"FileVersion": "1.00", "ProductVersion": "1.00", "ProductName": "Setup",
                  "InternalName": "SETUP", "OriginalFilename": "SETUP.EXE"},
    "Tolvakey.exe": {"FileVersion": "1.00", "ProductVersion": "1.00", "ProductName": "Tolvakey",
                     "InternalName": "Tolvakey", "OriginalFilename": "Tolvakey.exe"},
}
EXECUTION_LEVEL = {"Setup.exe": "requireAdministrator", "Tolvakey.exe": "asInvoker"}
PROGRAMS = sorted(EXPECTED_STRINGS)


class PeFile:
    """The parts of a PE file the checks read."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        data = self.data
        if data[:2] != b"MZ":
            raise ValueError(f"{path}: no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE signature")
        (self.machine, sections, self.timestamp, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i)
                            for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", data,
                                                                     table + 40 * i)
            self.sections.append((name.rstrip(b"\0"), vaddr, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for _, vaddr, size, rawptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + rawptr
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imported_dlls(self):
        rva, _ = self.directories[1]
        dlls = []
        at = self.offset(rva)
        while True:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, at)
            if lookup == 0 and name == 0 and first == 0:
                return dlls
            dlls.append(self.c_string(name))
            at += 20

    def resources(self):
        """{(type, id): [bytes, ...]} for every resource with numeric type and id."""
        rva, _ = self.directories[2]
        base = self.offset(rva)
        found = {}

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield name, target

        for kind, kind_dir in entries(0):
            for ident, ident_dir in entries(kind_dir & 0x7FFFFFFF):
                for _, leaf in entries(ident_dir & 0x7FFFFFFF):
                    data_rva, size, _, _ = struct.unpack_from("<IIII", self.data, base + leaf)
                    start = self.offset(data_rva)
                    found.setdefault((kind, ident), []).append(self.data[start:start + size])
        return found


def read_version_info(blob):
    """The fixed versions and the strings of a VS_VERSIONINFO block."""

    def node(at):
        length, value_length, kind = struct.unpack_from("<HHH", blob, at)
        key_start = at + 6
        key_end = key_start
        while blob[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = blob[key_start:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_size = value_length * 2 if kind == 1 else value_length
        value = blob[value_at:value_at + value_size]
        children_at = (value_at + value_size + 3) & ~3
        return key, value, kind, at + length, children_at

    def children(start, end):
        at = start
        while at < end:
            key, value, kind, next_at, children_at = node(at)
            yield key, value, kind, children_at, next_at
            at = (next_at + 3) & ~3

    key, fixed, _, end, children_at = node(0)
    assert key == "VS_VERSION_INFO", key
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    assert signature == 0xFEEF04BD, hex(signature)

    def four(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    strings, translations = {}, []
    for key, value, _, sub_at, sub_end in children(children_at, end):
        if key == "StringFileInfo":
            for table, _, _, entry_at, entry_end in children(sub_at, sub_end):
                for name, text, _, _, _ in children(entry_at, entry_end):
                    strings[(table, name)] = text.decode("utf-16-le").rstrip("\0")
        elif key == "VarFileInfo":
            for _, var, _, _, _ in children(sub_at, sub_end):
                translations += list(struct.unpack_from(f"<{len(var) // 2}H", var))
    return four(file_ms, file_ls), four(product_ms, product_ls), strings, translations


class ProgramFiles(unittest.TestCase):
    def program(self, name):
        return PeFile(os.path.join(ARGS.bin, name))

    def test_format(self):
        for name in PROGRAMS:
            with self.subTest(name):
                pe = self.program(name)
                self.assertEqual(pe.machine, 0x14C, "i386")
                self.assertEqual(pe.magic, 0x10B, "PE32")
                self.assertEqual(pe.subsystem, 2, "Windows GUI")
                self.assertEqual(pe.timestamp, 0, "no build time inside")

    def test_imports_only_system_dlls(self):
        for name in PROGRAMS:
            with self.subTest(name):
                dlls = {dll.lower() for dll in self.program(name).imported_dlls()}
                self.assertIn("kernel32.dll", dlls)
                self.assertLessEqual(dlls, SYSTEM_DLLS)

    def test_dll_search_restricted_at_start(self):
        # Looked up by name at run time, so the name must be in the file.
        for name in PROGRAMS:
            with self.subTest(name):
                self.assertIn(b"SetDefaultDllDirectories\0", self.program(name).data)

    def test_version_information(self):
        for name in PROGRAMS:
            with self.subTest(name):
                blobs = self.program(name).resources()[(RT_VERSION, 1)]
                self.assertEqual(len(blobs), 1)
                file_version, product_version, strings, translations = read_version_info(blobs[0])
                self.assertEqual(file_version, (1, 0, 0, 0))
                self.assertEqual(product_version, (1, 0, 0, 0))
                self.assertEqual(translations, [0x409, 1200])
                table = {key: value for (block, key), value in strings.items()
                         if block.upper() == "040904B0"}
                for key, value in EXPECTED_STRINGS[name].items():
                    self.assertEqual(table.get(key), value, key)
                self.assertTrue(table.get("CompanyName"))

    def test_icon_sizes(self):
        for name in PROGRAMS:
            with self.subTest(name):
                found = self.program(name).resources()
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
                    self.assertEqual(len(found[(RT_ICON, ident)][0]), size)
                self.assertEqual(sizes, {(16, 16), (32, 32), (48, 48)})

    def test_manifest(self):
        ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3"}
        for name in PROGRAMS:
            with self.subTest(name):
                text = self.program(name).resources()[(RT_MANIFEST, 1)][0]
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

    def test_built_again_the_same(self):
        """A second build from the same sources, in another folder, gives the same bytes."""
        with tempfile.TemporaryDirectory(prefix="tolvanex-again-") as again:
            # With the vendor's settings of this build, which may differ from the defaults.
            configure = ["cmake", "-S", ARGS.source, "-B", again, "--preset", "release"]
            with open(os.path.join(ARGS.bin, os.pardir, "CMakeCache.txt"), encoding="utf-8") as cache:
                for line in cache:
                    if line.startswith("TOLVANEX_") and ":" in line.split("=", 1)[0]:
                        configure.append("-D" + line.rstrip("\n"))
            subprocess.run(configure, check=True, stdout=subprocess.DEVNULL)
            subprocess.run(["cmake", "--build", again, "-j", str(os.cpu_count() or 2)],
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
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
