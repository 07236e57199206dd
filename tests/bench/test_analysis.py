"""The benchmark's analysis (bench/analysis.py) on a small recorded fixture, without Wine.

fixture.jsonl holds runs in the format Bench.exe and scripts/bench write, with figures chosen so
that the answers are known: Tolvakey is 1.02 times the floor in every round with Tolvanex
running (to within 0.4 %), Setup's own part of the pause is out of its goal in one run of five,
Setup uses 3 ms more processor time than the floor, and Tolvakey grows less per process than the
floor.
"""

import contextlib
import io
import json
import math
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "bench"))

import analysis  # noqa: E402

FIXTURE = os.path.join(HERE, "fixture.jsonl")


def fixture_text():
    with open(FIXTURE, encoding="utf-8") as file:
        return file.read()


class VerdictRules(unittest.TestCase):
    def test_at_most(self):
        rows = [
            # low, high, goal, verdict
            (0.98, 1.04, 1.05, "met"),
            (1.00, 1.05, 1.05, "met"),  # the interval's edge on the goal still meets it
            (1.04, 1.06, 1.05, "undecided"),
            (1.05, 1.06, 1.05, "undecided"),  # only its lower edge on the goal
            (1.051, 1.10, 1.05, "not met"),
            (-0.3, -0.1, 0.0, "met"),
            (math.nan, math.nan, 1.05, "undecided"),  # too few runs for an interval
        ]
        for low, high, goal, verdict in rows:
            with self.subTest(low=low, high=high, goal=goal):
                interval = analysis.Interval((low + high) / 2, low, high)
                self.assertEqual(analysis.at_most(interval, goal), verdict)

    def test_within_every_run(self):
        rows = [
            ([1000.0, 1050.0, 1020.0], "met"),
            ([999.9, 1010.0], "not met"),
            ([1010.0, 1050.1], "not met"),
            ([], "undecided"),
        ]
        for values, verdict in rows:
            with self.subTest(values=values):
                self.assertEqual(analysis.within_every(values, 1000.0, 1050.0), verdict)


class FiguresOfTheFixture(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = analysis.load(FIXTURE)

    def test_the_interval_holds_the_known_ratio(self):
        ratio = analysis.key_press_ratio(self.data)
        self.assertTrue(ratio.holds(1.02), ratio)
        # Rounds resampled together: each round's wobble is 0.4 % at most, so is the interval's.
        self.assertLess(ratio.high - ratio.low, 0.02, ratio)

    def test_the_goals_verdicts(self):
        verdicts = [goal.verdict for goal in analysis.goals(self.data)]
        self.assertEqual(verdicts, ["met", "not met", "met", "met"])

    def test_setup_part_counts_only_split_runs(self):
        setup_goal = analysis.goals(self.data)[1]
        self.assertEqual(setup_goal.figure, "4 of 5 runs within")
        self.assertEqual(len(analysis.setup_parts(self.data)), 6)

    def test_processor_time_difference(self):
        goal = analysis.goals(self.data)[2]
        self.assertEqual(goal.figure, "3.0 ms")

    def test_report_writes_tables_pictures_and_readme_goals(self):
        with tempfile.TemporaryDirectory() as folder:
            readme = os.path.join(folder, "README.md")
            with open(readme, "w", encoding="utf-8") as file:
                file.write(f"before\n{analysis.README_BEGIN}\nold\n{analysis.README_END}\nafter\n")
            docs = os.path.join(folder, "docs")
            with contextlib.redirect_stdout(io.StringIO()):
                status = analysis.main(["report", FIXTURE, "--docs", docs, "--readme", readme])
            self.assertEqual(status, 0)
            for name in ("benchmarks.md", "bench-key-press.png", "bench-process-list.png",
                         "bench-setup-pause.png"):
                with self.subTest(file=name):
                    self.assertGreater(os.path.getsize(os.path.join(docs, name)), 0)
            with open(readme, encoding="utf-8") as file:
                text = file.read()
            self.assertTrue(text.startswith("before\n") and text.endswith("after\n"))
            self.assertNotIn("\nold\n", text)
            self.assertIn("| **not met** |", text)
            self.assertIn("](docs/bench-key-press.png)", text)


def without_line(text, predicate):
    return "".join(line for line in text.splitlines(keepends=True) if not predicate(line))


def end_count_off(text):
    lines = text.splitlines(keepends=True)
    end = json.loads(lines[-1])
    end["runs"] += 1
    return "".join(lines[:-1]) + json.dumps(end) + "\n"


class BrokenFiles(unittest.TestCase):
    """A runs file that is malformed or truncated gives a clear error, never a figure."""

    rows = [
        # what, the fixture changed, words the error must hold
        ("empty file", lambda text: "", "empty"),
        ("cut off mid-line", lambda text: text[:-30], "truncated"),
        ("cut off after a whole line", lambda text: text[:text.rindex('{"record": "file"')],
         "cut short"),
        ("a run left out", lambda text: without_line(text, lambda line: '"round": 3' in line
                                                     and '"case": "running"' in line
                                                     and '"Tolvakey"' in line),
         "runs are missing"),
        ("end record counting wrong", end_count_off, "runs are missing"),
        ("no header", lambda text: text[text.index("\n") + 1:], "no header"),
        ("another format", lambda text: text.replace('"format": 1', '"format": 2', 1), "format"),
        ("not JSON", lambda text: text.replace('{"record": "crowd"', '{"record" "crowd"', 1),
         "not a JSON record"),
        ("a time as text", lambda text: text.replace('"ms": 41.0,', '"ms": "fast",', 1),
         "'ms' missing or not a time"),
        ("a negative time", lambda text: text.replace('"ms": 41.0,', '"ms": -41.0,', 1),
         "'ms' missing or not a time"),
        ("round missing", lambda text: text.replace('"round": 1, "extra": 0, "place": 1', '"extra": 0, "place": 1', 1),
         "'round' missing"),
        ("unknown case", lambda text: text.replace('"case": "cold"', '"case": "col"', 1),
         "unknown case"),
        ("a round recorded twice",
         lambda text: text.replace('"case": "cold", "program": "floor", "round": 2,',
                                   '"case": "cold", "program": "floor", "round": 1,', 1),
         "recorded again (first at line"),
    ]

    def test_each_gives_an_error_with_its_place(self):
        with tempfile.TemporaryDirectory() as folder:
            for what, change, words in self.rows:
                with self.subTest(what):
                    path = os.path.join(folder, "runs.jsonl")
                    broken = change(fixture_text())
                    self.assertNotEqual(broken, fixture_text(), "the row changes nothing")
                    with open(path, "w", encoding="utf-8") as file:
                        file.write(broken)
                    with self.assertRaises(analysis.DataError) as caught:
                        analysis.load(path)
                    self.assertIn(words, str(caught.exception))
                    self.assertIn(path, str(caught.exception))

    def test_the_command_fails_and_writes_nothing(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "runs.jsonl")
            with open(path, "w", encoding="utf-8") as file:
                file.write(fixture_text()[:-30])
            docs = os.path.join(folder, "docs")
            errors, output = io.StringIO(), io.StringIO()
            with contextlib.redirect_stderr(errors), contextlib.redirect_stdout(output):
                status = analysis.main(["report", path, "--docs", docs])
            self.assertEqual(status, 2)
            self.assertIn("truncated", errors.getvalue())
            self.assertEqual(output.getvalue(), "")
            self.assertFalse(os.path.exists(docs))


class Comparing(unittest.TestCase):
    def test_a_slower_tolvakey_shows_and_the_rest_does_not(self):
        old = analysis.load(FIXTURE)
        new = analysis.load(FIXTURE)
        for run in new.runs:
            if run["program"] == "Tolvakey":
                run["ms"] *= 1.25
        rows = {row[0]: row for row in analysis.compare_runs(old, new)}
        rows_expected = [
            ("key press, Tolvanex running: Tolvakey (ms)", "slower"),
            ("key press, Tolvanex running: Tolvakey / floor, per round", "slower"),
            ("key press, Tolvanex not running: Tolvakey (ms)", "slower"),
            ("key press, Tolvanex running: floor (ms)", "no difference shown"),
            ("Setup: its own part (ms)", "no difference shown"),
        ]
        for name, verdict in rows_expected:
            with self.subTest(name):
                self.assertEqual(rows[name][5], verdict)
        ratio = rows["key press, Tolvanex running: Tolvakey (ms)"][3]
        self.assertTrue(ratio.holds(1.25), ratio)

    def test_a_faster_setup_shows(self):
        old = analysis.load(FIXTURE)
        new = analysis.load(FIXTURE)
        for run in new.runs:
            if run["case"] == "setup" and run.get("setup_ms") is not None:
                run["setup_ms"] -= 60.0
        rows = {row[0]: row for row in analysis.compare_runs(old, new)}
        self.assertEqual(rows["Setup: its own part (ms)"][5], "faster")


if __name__ == "__main__":
    unittest.main()
