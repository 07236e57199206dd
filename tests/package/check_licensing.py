#!/usr/bin/env python3
"""Checks the notices and the bill of materials a release carries against what the linker takes
into the programs: a release folder is made from the build as scripts/release makes dist/
(scripts/package-dist), and the programs are linked afresh beside it with a map of their own.
The bill of materials is validated against CycloneDX's published JSON schemas, as the CycloneDX
project's own library ships them (tests/package/node_modules, installed by scripts/bootstrap),
with Debian's python3-jsonschema.

Usage: check_licensing.py --bin DIR --source DIR [--dist DIR] [unittest options]
  --dist: also check a folder scripts/release wrote (dist/): its hashes, sums and schema.
"""

import argparse
import copy
import hashlib
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

import jsonschema
import license_expression
from debian import copyright as dep5

ARGS = None
PROGRAMS = ["Setup.exe", "Tolvakey.exe"]
NOTICES, SBOM = "THIRD-PARTY-NOTICES.txt", "bom.cdx.json"
SCHEMAS = os.path.join("tests", "package", "node_modules", "@cyclonedx", "cyclonedx-library",
                       "res", "schema")
MEMBER = re.compile(r"^(\S+\.a)\(([^)]+)\)")


def build_dir():
    return os.path.realpath(os.path.join(ARGS.bin, os.pardir))


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def inputs_in_map(path):
    """{library(member) or object: (archive or object path, member or None)} of every library
    member and system object file the link took in, read from the map here, apart from the
    script under test."""
    build = os.path.realpath(build_dir())
    taken = {}
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    section = text.split("Archive member included to satisfy reference by file (symbol)", 1)[1]
    section = section.split("Discarded input sections", 1)[0]
    for line in section.splitlines():
        match = MEMBER.match(line)
        if match and not os.path.realpath(os.path.join(build, match[1])).startswith(build + "/"):
            taken[f"{os.path.basename(match[1])}({match[2]})"] = (
                os.path.join(build, match[1]), match[2])
    for line in text.splitlines():
        if line.startswith("LOAD /") and line.endswith(".o"):
            taken[os.path.basename(line[5:])] = (line[5:], None)
    return taken


def members_in_map(path):
    return set(inputs_in_map(path))


def compile_unit(path, member):
    """The source file the object names in its first DWARF compile unit, as objdump shows it
    (a leading "./" dropped), or None where it carries no debug information."""
    objdump = Licensing.cache["CMAKE_OBJDUMP:FILEPATH"]
    if member is None:
        text = run([objdump, "--dwarf=info", "--dwarf-depth=1", path]).stdout
    else:
        folder = tempfile.mkdtemp(dir=Licensing.work)
        run(["ar", "x", "--output", folder, path, member])  # this member alone
        text = run([objdump, "--dwarf=info", "--dwarf-depth=1",
                    os.path.join(folder, member)]).stdout
    found = re.search(r"DW_AT_name\s*:(?: \(.*?\):)? (\S+)", text)
    return os.path.normpath(found[1]) if found else None


def notices_members(text):
    """{program: {library(member)}} as the notices list them under "What X contains"."""
    found, program = {}, None
    for line in text.splitlines():
        heading = re.match(r"^What (\S+) contains$", line)
        if heading:
            program = heading[1]
            found[program] = set()
        elif line == "Licences":
            program = None
        elif program and line.startswith("      "):
            found[program].add(line.strip())
    return found


def notices_parts(text):
    """{(package, source): licence name} as "What X contains" lists them, for every program."""
    found, package = {}, None
    for line in text.split("\nLicences\n", 1)[0].splitlines():
        heading = re.match(r"^(\S+) \S+:$", line)
        part = re.match(r"^  (\S+)  \[(.+)\]$", line)
        if heading:
            package = heading[1]
        elif part and package:
            found[(package, part[1])] = part[2]
    return found


def notices_licences(text):
    """{source: (licence name, text)} of the blocks under "Licences", each of which names the
    sources it covers, then "License: NAME", then the licence's text."""
    found = {}
    for block in text.split("\nLicences\n", 1)[1].split("-" * 78 + "\n")[1:]:
        head, _, body = block.partition("\nLicense: ")
        name, _, words = body.partition("\n")
        sources = " ".join(head.split("\n(from ", 1)[0].split()).split(", ")
        for source in sources:
            found[source] = (name, words)
    return found


# The last words of the GCC Runtime Library Exception 3.1, as the FSF publishes it.
GCC_EXCEPTION_HEADING = "GCC RUNTIME LIBRARY EXCEPTION"
GCC_EXCEPTION_LAST_WORDS = "copyleft requirements of the license of GCC."


def licence_texts(package, name):
    """The texts the package's copyright file gives for the licence: those a reader of the notices
    must find, word for word."""
    path = f"/usr/share/doc/{package}/copyright"
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if not text.startswith("Format:"):
        # GCC's own layout: the grant of the GPL, and the exception in full.
        grant = re.search(r"^GCC is free software;.*?\n\n", text, re.MULTILINE | re.DOTALL)
        flowing = words(text)
        start = flowing.index(GCC_EXCEPTION_HEADING)
        end = flowing.index(GCC_EXCEPTION_LAST_WORDS, start) + len(GCC_EXCEPTION_LAST_WORDS)
        return [grant[0], flowing[start:end]]
    parsed = dep5.Copyright(text.splitlines(keepends=True), strict=False)
    paragraphs = list(parsed.all_license_paragraphs()) + list(parsed.all_files_paragraphs())
    texts = [p.license.text for p in paragraphs
             if p.license is not None and p.license.synopsis == name and p.license.text.strip()]
    return texts[:1]


def words(text):
    return " ".join(text.split())


def sbom_members(bom):
    """{program: {library(member)}} as the bill of materials links them to each program."""
    parts = {}
    for component in bom["components"]:
        for part in component.get("components", []):
            parts[part["bom-ref"]] = part
    found = {}
    for dependency in bom["dependencies"]:
        program = dependency["ref"].split(":", 1)[1]
        found[program] = {prop["value"] for ref in dependency["dependsOn"]
                          for prop in parts[ref].get("properties", [])
                          if prop["name"] == f"tolvanex:linked-into:{program}"}
    return found


def validator():
    folder = os.path.join(ARGS.source, SCHEMAS)
    store = {}
    for name in os.listdir(folder):
        if name.endswith(".schema.json"):
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                schema = json.load(f)
            store["http://cyclonedx.org/schema/" + name] = schema
            store[schema.get("$id", name)] = schema
    schema = store["http://cyclonedx.org/schema/bom-1.6.SNAPSHOT.schema.json"]
    resolver = jsonschema.RefResolver.from_schema(schema, store=store)
    return jsonschema.Draft7Validator(schema, resolver=resolver,
                                      format_checker=jsonschema.FormatChecker())


class Checks:
    """What both the folder made here and a dist/ given are checked for."""

    def read(self, folder):
        with open(os.path.join(folder, NOTICES), encoding="utf-8") as f:
            notices = f.read()
        with open(os.path.join(folder, SBOM), encoding="utf-8") as f:
            return notices, json.load(f)

    def assert_valid(self, bom):
        errors = [f"{'/'.join(map(str, e.absolute_path))}: {e.message}"
                  for e in self.validator.iter_errors(bom)]
        self.assertEqual(errors, [])
        # The schema takes any text as an expression: each must parse, and name only what SPDX
        # knows or a LicenseRef- of the notices.
        spdx = license_expression.get_spdx_licensing()
        for expression in re.findall(r'"expression": "([^"]+)"', json.dumps(bom)):
            with self.subTest(expression=expression):
                unknown = spdx.unknown_license_keys(spdx.parse(expression))
                self.assertEqual([k for k in unknown if not k.startswith("LicenseRef-")], [])
        # Every package URL reads back, with the reference parser, as the package it names.
        urls = [(c["purl"], c["name"], c["version"])
                for c in bom["components"] + bom["metadata"]["tools"]["components"]
                if "purl" in c]
        read = subprocess.run(
            ["node", "-e", "const {PackageURL} = require('packageurl-js');"
             "for (const url of JSON.parse(process.argv[1])) {"
             "  const p = PackageURL.fromString(url);"
             "  console.log(JSON.stringify([p.toString(), p.type, p.namespace, p.name, p.version]));"
             "}", json.dumps([url for url, _, _ in urls])],
            cwd=os.path.join(ARGS.source, "tests", "package"), capture_output=True, text=True)
        self.assertEqual(read.returncode, 0, read.stderr)
        for (url, name, version), line in zip(urls, read.stdout.splitlines(), strict=True):
            with self.subTest(purl=url):
                self.assertEqual(json.loads(line), [url, "deb", "debian", name, version])

    def check_licence_texts(self, folder):
        """Each licence a part is listed under has its full text, from its package's copyright
        file, in the block of the notices that names that part."""
        notices, _ = self.read(folder)
        parts, blocks = notices_parts(notices), notices_licences(notices)
        self.assertTrue(parts)
        for (package, source), name in sorted(parts.items()):
            with self.subTest(package=package, source=source):
                self.assertIn(source, blocks)
                block_name, block_text = blocks[source]
                self.assertEqual(block_name, name)
                expected = licence_texts(package, name)
                self.assertTrue(expected, f"{name}: no text in {package}'s copyright file")
                for text in expected:
                    self.assertIn(words(text), words(block_text))

    def check_folder(self, folder, expect_programs_of=None):
        _, bom = self.read(folder)
        hashes = {c["name"]: c["hashes"][0]["content"] for c in bom["components"]
                  if "hashes" in c}
        self.assertEqual(sorted(hashes), sorted(PROGRAMS + [NOTICES]))
        for name, digest in hashes.items():
            self.assertEqual(digest, sha256(os.path.join(folder, name)), name)
            if expect_programs_of and name in PROGRAMS:
                self.assertEqual(digest, sha256(os.path.join(expect_programs_of, name)), name)
        with open(os.path.join(folder, "SHA256SUMS")) as f:
            self.assertEqual(sorted(line.split()[1] for line in f),
                             sorted(PROGRAMS + [NOTICES, SBOM]))
        result = run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=folder)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)


class Licensing(Checks, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # In the build tree: objects there are the project's own, as the extra one below is.
        cls.work = tempfile.mkdtemp(prefix="licensing-check-", dir=build_dir())
        cls.addClassCleanup(shutil.rmtree, cls.work, ignore_errors=True)
        cls.release = cls.package(build_dir(), "release")
        with open(os.path.join(build_dir(), "CMakeCache.txt"), encoding="utf-8") as cache:
            cls.cache = dict(line.rstrip("\n").split("=", 1) for line in cache
                             if "=" in line and not line.startswith(("#", "//")))
        with open(os.path.join(build_dir(), "CMakeFiles", "Setup.dir", "link.txt")) as f:
            cls.compiler = f.read().strip().splitlines()[-1].split()[0]
        cls.fresh = {name: cls.link(name, "fresh") for name in PROGRAMS}
        cls.validator = validator()

    @classmethod
    def package(cls, build, name):
        folder = os.path.join(cls.work, name)
        env = {k: v for k, v in os.environ.items() if not k.startswith("TOLVANEX_SIGN_")}
        result = run([os.path.join(ARGS.source, "scripts", "package-dist"), build, folder],
                     env=env)
        if result.returncode != 0:
            raise AssertionError(f"package-dist failed: {result.stderr}")
        return folder

    @classmethod
    def link(cls, program, name, extra=(), with_map=True):
        """Links the program again as the build did, with its own map (or none) and extra
        inputs: (map, executable)."""
        stem = program[:-4]
        with open(os.path.join(build_dir(), "CMakeFiles", f"{stem}.dir", "link.txt")) as f:
            command = shlex.split(f.read().strip().splitlines()[-1])
        folder = os.path.join(cls.work, name)
        os.makedirs(folder, exist_ok=True)
        out, map_path = os.path.join(folder, program), os.path.join(folder, stem + ".map")
        command = [arg for arg in command if not arg.startswith("-Wl,-Map=")]
        at = command.index("-o")
        command[at + 1] = out
        command = [arg.replace(f"lib{stem}.dll.a", os.path.join(folder, f"lib{stem}.dll.a"))
                   for arg in command]
        command[at:at] = list(extra) + ([f"-Wl,-Map={map_path}"] if with_map else [])
        result = run(command, cwd=build_dir())
        if result.returncode != 0:
            raise AssertionError(f"linking {program} again failed: {result.stderr}")
        return map_path, out

    def test_every_licence_has_its_full_text(self):
        self.check_licence_texts(self.release)

    def test_notices_and_bill_of_materials_name_what_a_fresh_link_takes_in(self):
        notices, bom = self.read(self.release)
        listed, recorded = notices_members(notices), sbom_members(bom)
        for program in PROGRAMS:
            with self.subTest(program):
                linked = members_in_map(self.fresh[program][0])
                self.assertGreater(len(linked), 50)
                self.assertEqual(listed.get(program), linked, "notices")
                self.assertEqual(recorded.get(program), linked, "bill of materials")

    def test_each_recorded_source_is_the_one_its_object_names(self):
        _, bom = self.read(self.release)
        recorded = {prop["value"]: part["name"] for component in bom["components"]
                    for part in component.get("components", [])
                    for prop in part.get("properties", [])}
        inputs = {}
        for program in PROGRAMS:
            inputs.update(inputs_in_map(self.fresh[program][0]))
        self.assertEqual(sorted(recorded), sorted(inputs))
        named = 0
        for described, (path, member) in sorted(inputs.items()):
            unit = compile_unit(path, member)
            if unit is not None:
                named += 1
                with self.subTest(described):
                    self.assertEqual(recorded[described], unit)
        self.assertGreater(named, 20)  # the MinGW-w64 objects carry their compile unit

    def test_the_map_changes_no_byte_of_the_programs(self):
        for program in PROGRAMS:
            with self.subTest(program):
                _, plain = self.link(program, "no-map", with_map=False)
                with open(plain, "rb") as without, \
                        open(os.path.join(ARGS.bin, program), "rb") as built, \
                        open(self.fresh[program][1], "rb") as fresh:
                    shipped = built.read()
                    self.assertTrue(without.read() == shipped, "differs without the map")
                    self.assertTrue(fresh.read() == shipped, "the fresh link differs")

    def test_a_member_added_to_the_link_shows_up_in_both(self):
        # One more library member, under a licence of its own (BSD, from stdio/strtok_r.c).
        source = os.path.join(self.work, "extra.cpp")
        with open(source, "w") as f:
            f.write('extern "C" char* strtok_r(char*, const char*, char**);\n'
                    "void* keep = reinterpret_cast<void*>(&strtok_r);\n")
        extra = os.path.join(self.work, "extra.o")
        compiled = run([self.compiler, "-c", source, "-o", extra])
        self.assertEqual(compiled.returncode, 0, compiled.stderr)
        map_path, program = self.link("Setup.exe", "added", [extra, "-Wl,--undefined=_keep"])
        member = "libmingwex.a(lib32_libmingwex_a-strtok_r.o)"
        self.assertIn(member, members_in_map(map_path))
        folder = os.path.dirname(program)
        shutil.copy2(os.path.join(ARGS.bin, "Tolvakey.exe"), folder)
        result = run([os.path.join(ARGS.source, "scripts", "bom"), "--build", build_dir(),
                      "--map", f"Setup.exe={map_path}",
                      "--map", f"Tolvakey.exe={self.fresh['Tolvakey.exe'][0]}",
                      "--notices", os.path.join(folder, NOTICES),
                      "--sbom", os.path.join(folder, SBOM), "--programs", folder])
        self.assertEqual(result.returncode, 0, result.stderr)
        before_notices, before_bom = self.read(self.release)
        notices, bom = self.read(folder)
        self.assertNotIn(member, before_notices)
        self.assertIn(member, notices_members(notices)["Setup.exe"])
        self.assertNotIn(member, notices_members(notices)["Tolvakey.exe"])
        self.assertIn(member, sbom_members(bom)["Setup.exe"])
        # Its licence, in the words of the copyright file, and its identifier.
        self.assertNotIn("The Regents of the University of California", before_notices)
        self.assertIn("Redistributions in binary form must reproduce the above copyright",
                      notices.split("mingw-w64-crt/stdio/strtok_r.c", 2)[-1])
        self.assertIn("BSD-3-Clause", json.dumps(bom))
        self.assert_valid(bom)

    def test_a_member_without_a_licence_stops_with_one_line_naming_it(self):
        compiler = self.compiler
        mingwex = run([compiler, "-print-file-name=libmingwex.a"]).stdout.strip()
        libstdcxx = run([compiler, "-print-file-name=libstdc++.a"]).stdout.strip()
        rows = [
            # Under no row of sources.tsv.
            (f"{mingwex}(lib32_libmingwex_a-no_such_member.o)",
             "libmingwex.a(lib32_libmingwex_a-no_such_member.o)"),
            # Its source is known, but the package's copyright file gives it no licence.
            (f"{libstdcxx}(cp-demangle.o)", "libstdc++.a(cp-demangle.o)"),
            # No Debian package owns the library.
            ("/nonexistent/libother.a(other.o)", "libother.a(other.o)"),
        ]
        for line, named in rows:
            with self.subTest(named):
                folder = tempfile.mkdtemp(dir=self.work)
                map_path = os.path.join(folder, "Setup.map")
                with open(map_path, "w") as f:
                    f.write("Archive member included to satisfy reference by file (symbol)\n\n"
                            f"{line}\n                              x.o (f)\n\n"
                            "Discarded input sections\n")
                outputs = [os.path.join(folder, NOTICES), os.path.join(folder, SBOM)]
                result = run([os.path.join(ARGS.source, "scripts", "bom"),
                              "--build", build_dir(), "--map", f"Setup.exe={map_path}",
                              "--map", f"Tolvakey.exe={self.fresh['Tolvakey.exe'][0]}",
                              "--notices", outputs[0], "--sbom", outputs[1],
                              "--programs", ARGS.bin])
                self.assertEqual(result.returncode, 1)
                self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
                self.assertIn(named, result.stderr)
                self.assertFalse(any(os.path.exists(path) for path in outputs))

    def test_bill_of_materials_is_valid_cyclonedx(self):
        _, bom = self.read(self.release)
        self.assert_valid(bom)
        self.assertEqual((bom["bomFormat"], bom["specVersion"]), ("CycloneDX", "1.6"))
        # The validator does reject what the format does not allow.
        broken = copy.deepcopy(bom)
        broken["components"][0]["hashes"][0]["alg"] = "SHA256"
        self.assertTrue(list(self.validator.iter_errors(broken)))

    def test_bill_of_materials_names_packages_toolchain_and_revision(self):
        _, bom = self.read(self.release)
        libraries = {c["name"]: c for c in bom["components"] if c["type"] == "library"}
        for package, component in libraries.items():
            with self.subTest(package):
                version = run(["dpkg-query", "-W", "-f=${Version}", package]).stdout
                self.assertEqual(component["version"], version)
                self.assertTrue(component["licenses"][0]["expression"])
        self.assertIn("mingw-w64-i686-dev", libraries)
        tools = {c["name"] for c in bom["metadata"]["tools"]["components"]}
        compiler = os.path.realpath(self.compiler)
        owner = run(["dpkg", "-S", compiler]).stdout.split(":")[0]
        self.assertIn(owner, tools)
        properties = {p["name"]: p["value"]
                      for p in bom["metadata"]["component"]["properties"]}
        head = run(["git", "-C", ARGS.source, "rev-parse", "HEAD"]).stdout.strip()
        self.assertEqual(properties["tolvanex:source-revision"], head)
        dirty = run(["git", "-C", ARGS.source, "status", "--porcelain",
                     "--untracked-files=no"]).stdout.strip()
        self.assertEqual(properties["tolvanex:source-tree"],
                         "uncommitted changes" if dirty else "clean")

    def test_hashes_are_those_of_the_files(self):
        self.check_folder(self.release, expect_programs_of=ARGS.bin)

    def test_the_same_every_time(self):
        again = self.package(build_dir(), "again")
        for name in (NOTICES, SBOM, "SHA256SUMS"):
            with self.subTest(name):
                with open(os.path.join(self.release, name), "rb") as first, \
                        open(os.path.join(again, name), "rb") as second:
                    text = first.read()
                    self.assertTrue(text == second.read(), f"{name} differs")
                # Nothing of the machine that built it.
                self.assertNotIn(os.path.realpath(build_dir()).encode(), text)
                self.assertNotIn(self.work.encode(), text)


if "--dist" in sys.argv:
    class ReleaseFolder(Checks, unittest.TestCase):
        """The folder scripts/release wrote, when asked for by --dist."""

        @classmethod
        def setUpClass(cls):
            cls.validator = validator()

        def test_dist_as_scripts_release_left_it(self):
            self.check_folder(ARGS.dist)
            self.check_licence_texts(ARGS.dist)
            _, bom = self.read(ARGS.dist)
            self.assert_valid(bom)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--dist")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
