#!/usr/bin/env python3
"""A check that always fails, run the way the release checks are (tests/package): scripts/test
expects CTest to report it failed, and fails itself should it pass. Takes their arguments."""

import sys
import unittest


class Canary(unittest.TestCase):
    def test_fails_where_the_checks_run(self):
        self.fail("the canary fails on purpose")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
