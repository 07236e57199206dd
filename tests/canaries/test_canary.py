"""A host test that always fails, run the way the host's Python tests are (unittest discover):
scripts/test expects CTest to report it failed, and fails itself should it pass."""

import unittest


class Canary(unittest.TestCase):
    def test_fails_where_the_host_tests_run(self):
        self.fail("the canary fails on purpose")
