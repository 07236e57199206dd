"""scripts/bom's reading of machine-readable copyright files, on a fixture with the mixed forms
Debian writes: "and", "or" and "with" together, names SPDX does not know, DEP-5's escapes."""

import importlib.machinery
import importlib.util
import os
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
LOADER = importlib.machinery.SourceFileLoader("bom", os.path.join(HERE, "..", "..", "scripts",
                                                                  "bom"))
bom = importlib.util.module_from_spec(importlib.util.spec_from_loader("bom", LOADER))
LOADER.exec_module(bom)


class CopyrightFixture(unittest.TestCase):
    def setUp(self):
        self.copyright = bom.CopyrightFile("fixture", os.path.join(HERE, "fixtures", "copyright"))

    def test_each_source_gets_its_paragraphs_licence_as_an_spdx_expression(self):
        rows = [
            # source, SPDX expression, words its text must hold
            ("lib/plain.c", "ZPL-2.1", ["The default terms."]),
            ("mixed/a.c", "GPL-2.0-or-later OR (BSD-3-Clause AND ISC)",
             ["The GPL's grant.", "The BSD terms.", "The ISC terms."]),
            ("font/a.c", "GPL-2.0-or-later WITH Font-exception-2.0",
             ["with the font exception"]),
            ("own/a.c", "LicenseRef-public-domain AND MIT", ["No copyright.", "The MIT terms."]),
            # "\*" names a star itself, not any text.
            ("literal/*star.c", "ISC", ["The ISC terms."]),
            ("literal/xstar.c", "ZPL-2.1", ["The default terms."]),
        ]
        for source, expression, words in rows:
            with self.subTest(source=source):
                licence = self.copyright.licence(source)
                self.assertEqual(licence.expression, expression)
                for text in words:
                    self.assertIn(text, licence.text)

    def test_an_expression_that_does_not_parse_stops_naming_its_package(self):
        with self.assertRaises(bom.Unmapped) as stopped:
            self.copyright.licence("broken/a.c")
        self.assertIn("fixture", str(stopped.exception))
        self.assertIn("GPL-2+ or or ISC", str(stopped.exception))

    def test_package_urls_in_their_canonical_form(self):
        rows = [("g++-mingw-w64-i686-win32", "12.2.0-14+deb12u1", "amd64",
                 "pkg:deb/debian/g%2B%2B-mingw-w64-i686-win32@12.2.0-14+deb12u1?arch=amd64"),
                ("mingw-w64-i686-dev", "1:10.0.0-3", "all",
                 "pkg:deb/debian/mingw-w64-i686-dev@1:10.0.0-3?arch=all")]
        for package, version, arch, expected in rows:
            with self.subTest(package=package):
                self.assertEqual(bom.purl(package, version, arch), expected)


if __name__ == "__main__":
    unittest.main()
