#!/usr/bin/python3
"""The benchmark's figures, verdicts and pictures, from the runs Bench.exe and scripts/bench record.

    analysis.py report RUNS.jsonl --docs DIR [--readme README.md]
    analysis.py compare OLD.jsonl NEW.jsonl

`report` writes DIR/benchmarks.md (every table), the pictures DIR/bench-*.png and, given a README,
the goal table between its markers; it prints the goal table. `compare` says, case by case,
whether the build of NEW got faster or slower than that of OLD.

Every interval is a 95 % bootstrap interval from scipy.stats.bootstrap (percentile method): runs
of one round are resampled together, so that what slowed a whole round slows both sides of a
ratio; series from different rounds are resampled each on its own. A goal is met when the whole
interval meets it, not met when none of it does, and undecided otherwise.
"""

import argparse
import json
import math
import os
import re
import sys
from dataclasses import dataclass

import numpy as np
from scipy import stats

FORMAT = 1
RESAMPLES = 4000
# A fixed seed: the same runs always give the same intervals.
SEED = 20261210
CONFIDENCE = 0.95
# A difference between two recorded runs counts when the Mann-Whitney U test gives less than this.
ALPHA = 0.05

KEY_PRESS_GOAL = 1.05
PAUSE_LOW_MS, PAUSE_HIGH_MS = 1000.0, 1050.0
PROCESSOR_GOAL_MS = 5.0
SLOW_RUNS_SHOWN = 8

README_BEGIN = "<!-- bench: goals, written by bench/analysis.py -->"
README_END = "<!-- bench: end of goals -->"

# The fields every run record has, and the times each case's runs must have (None allowed where
# the system did not tell a part).
RUN_FIELDS = {"machine": str, "build": str, "case": str, "program": str, "round": int}
CASE_TIMES = {
    "cold": ("ms",),
    "running": ("ms",),
    "start call": ("ms",),
    "setup": ("ms",),
    "processor time": ("cpu_ms",),
}
OPTIONAL_TIMES = ("cpu_ms", "pause_ms", "going_ms", "setup_ms", "coming_up_ms", "probe_call_ms",
                  "probe_start_ms", "probe_end_ms")


class DataError(Exception):
    """A runs file that cannot be trusted for a figure: malformed, truncated or incomplete."""


@dataclass
class Runs:
    path: str
    header: dict
    runs: list
    crowds: list
    files: list
    kit: dict
    end: dict

    def of(self, case, program, extra=None):
        """The runs of a program in a case, by round, those that ended with status 0 only."""
        return {
            run["round"]: run
            for run in self.runs
            if run["case"] == case and run["program"] == program and run.get("exit", 0) == 0
            and (extra is None or run.get("extra", 0) == extra)
        }

    def failed(self, case):
        return sum(1 for run in self.runs if run["case"] == case and run.get("exit", 0) != 0)

    def extras(self):
        return sorted({run.get("extra", 0) for run in self.runs if run["case"] == "running"})


def _number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)


def load(path):
    """Reads a runs file, or raises DataError saying where and what is wrong with it."""
    try:
        with open(path, encoding="utf-8") as file:
            text = file.read()
    except (OSError, UnicodeDecodeError) as error:
        raise DataError(f"{path}: cannot be read: {error}") from None
    if not text.strip():
        raise DataError(f"{path}: empty, no runs recorded")
    if not text.endswith("\n"):
        raise DataError(f"{path}: the last line is cut off (the file is truncated)")
    records = []
    for number, line in enumerate(text.splitlines(), start=1):
        try:
            record = json.loads(line)
        except json.JSONDecodeError as error:
            raise DataError(f"{path}, line {number}: not a JSON record ({error.msg})") from None
        if not isinstance(record, dict) or not isinstance(record.get("record"), str):
            raise DataError(f"{path}, line {number}: a record names its kind in \"record\"")
        records.append((number, record))

    first = records[0][1]
    if first["record"] != "benchmark":
        raise DataError(f"{path}, line 1: not a benchmark's runs (no header record)")
    if first.get("format") != FORMAT:
        raise DataError(f"{path}, line 1: format {first.get('format')!r}, this analysis reads "
                        f"format {FORMAT}")
    last_number, last = records[-1]
    if last["record"] != "end":
        raise DataError(f"{path}: no end record after line {last_number}: the run was cut short "
                        "(the file is truncated)")

    runs, crowds, files, kit = [], [], [], {}
    first_at = {}  # (case, program, extra, round): the line that recorded it
    for number, record in records[1:-1]:
        kind = record["record"]
        where = f"{path}, line {number}"
        if kind == "run":
            for field, kind_of in RUN_FIELDS.items():
                if not isinstance(record.get(field), kind_of) or isinstance(record[field], bool):
                    raise DataError(f"{where}: field {field!r} missing or not a "
                                    f"{kind_of.__name__}")
            if record["case"] not in CASE_TIMES:
                raise DataError(f"{where}: unknown case {record['case']!r}")
            if record["round"] < 1:
                raise DataError(f"{where}: round {record['round']}, rounds count from 1")
            for field in CASE_TIMES[record["case"]]:
                if not _number(record.get(field)) or record[field] < 0:
                    raise DataError(f"{where}: {field!r} missing or not a time")
            for field in OPTIONAL_TIMES:
                if field in record and record[field] is not None and not _number(record[field]):
                    raise DataError(f"{where}: {field!r} is not a time")
            # Runs are looked up by their round (Runs.of): a second record of one would hide the
            # first.
            key = (record["case"], record["program"], record.get("extra", 0), record["round"])
            if key in first_at:
                raise DataError(f"{where}: round {record['round']} of {record['program']} in "
                                f"case {record['case']!r} recorded again (first at line "
                                f"{first_at[key]})")
            first_at[key] = number
            runs.append(record)
        elif kind == "crowd":
            if not all(isinstance(record.get(f), int) for f in ("extra", "listed")):
                raise DataError(f"{where}: a crowd record needs 'extra' and 'listed'")
            crowds.append(record)
        elif kind == "file":
            files.append(record)
        elif kind == "processor time kit":
            kit = record
        else:
            raise DataError(f"{where}: unknown record {kind!r}")
    if last.get("runs") != len(runs):
        raise DataError(f"{path}: the end record counts {last.get('runs')!r} runs, the file holds "
                        f"{len(runs)}: runs are missing or left over")
    if not runs:
        raise DataError(f"{path}: no runs recorded")
    return Runs(path, first, runs, crowds, files, kit, last)


# ---- figures ------------------------------------------------------------------------------------

@dataclass
class Interval:
    estimate: float
    low: float
    high: float

    def holds(self, value):
        return self.low <= value <= self.high


def bootstrap(samples, statistic, paired):
    """The statistic of the samples with its bootstrap interval; an interval of NaN where there
    are too few runs to resample."""
    samples = tuple(np.asarray(sample, dtype=float) for sample in samples)
    estimate = float(statistic(*samples, axis=-1))
    if any(len(sample) < 2 for sample in samples):
        return Interval(estimate, math.nan, math.nan)
    result = stats.bootstrap(samples, statistic, paired=paired, vectorized=True,
                             n_resamples=RESAMPLES, confidence_level=CONFIDENCE,
                             method="percentile", random_state=np.random.default_rng(SEED))
    return Interval(estimate, float(result.confidence_interval.low),
                    float(result.confidence_interval.high))


def ratio_of_medians(over, under, axis=-1):
    return np.median(over, axis=axis) / np.median(under, axis=axis)


def difference_of_medians(minuend, subtrahend, axis=-1):
    return np.median(minuend, axis=axis) - np.median(subtrahend, axis=axis)


def at_most(interval, goal):
    """A goal of "at most": met when the whole interval meets it, not met when none of it does."""
    if math.isnan(interval.low) or math.isnan(interval.high):
        return "undecided"
    if interval.high <= goal:
        return "met"
    return "not met" if interval.low > goal else "undecided"


def within_every(values, low, high):
    """A goal every run must meet: undecided without runs."""
    if len(values) == 0:
        return "undecided"
    return "met" if all(low <= value <= high for value in values) else "not met"


def rounds_of(data, case, programs, extra=None, field="ms"):
    """The programs' times in the rounds where each of them has one: one array per program."""
    series = [data.of(case, program, extra) for program in programs]
    common = sorted(set.intersection(*(
        {round_ for round_, run in runs.items() if run.get(field) is not None}
        for runs in series)))
    return [np.array([runs[round_][field] for round_ in common], dtype=float) for runs in series]


def summary(values):
    values = np.asarray(values, dtype=float)
    if len(values) == 0:
        return None
    p10, median, p90 = np.percentile(values, [10, 50, 90])
    return {"runs": len(values), "median": median, "p10": p10, "p90": p90,
            "min": values.min(), "max": values.max()}


def key_press_ratio(data, extra=0):
    tolvakey, floor = rounds_of(data, "running", ("Tolvakey", "floor"), extra)
    return bootstrap((tolvakey, floor), ratio_of_medians, paired=True)


def growth_per_process(data, extra, program, less):
    """(program less `less`, round by round) grown from no extra processes to `extra`, over
    `extra`: the medians' difference over the number of processes. Those of other rounds are
    resampled apart."""
    crowded = np.subtract(*rounds_of(data, "running", (program, less), extra))
    calm = np.subtract(*rounds_of(data, "running", (program, less), 0))

    def per_process(more, none, axis=-1):
        return (np.median(more, axis=axis) - np.median(none, axis=axis)) / extra

    return bootstrap((crowded, calm), per_process, paired=False)


def own_growth_per_process(data, extra, program):
    crowded = rounds_of(data, "running", (program,), extra)[0]
    calm = rounds_of(data, "running", (program,), 0)[0]

    def per_process(more, none, axis=-1):
        return (np.median(more, axis=axis) - np.median(none, axis=axis)) / extra

    return bootstrap((crowded, calm), per_process, paired=False)


def setup_parts(data):
    return [run for _, run in sorted(data.of("setup", "Setup").items())
            if run.get("pause_ms") is not None]


@dataclass
class Goal:
    what: str
    figure: str
    interval: str
    verdict: str


def goals(data):
    """The four goals, each with its figure, interval and verdict."""
    result = []
    ratio = key_press_ratio(data)
    result.append(Goal(f"Key press, Tolvanex running: Tolvakey / floor, ratio of medians "
                       f"(at most {KEY_PRESS_GOAL:.2f})", f"{ratio.estimate:.3f}",
                       span(ratio, 3), at_most(ratio, KEY_PRESS_GOAL)))

    parts = [run["setup_ms"] for run in setup_parts(data) if run.get("setup_ms") is not None]
    within = sum(PAUSE_LOW_MS <= value <= PAUSE_HIGH_MS for value in parts)
    result.append(Goal("Setup's own part of the pause, msttss22L.exe's end to Install.exe's "
                       "creation (1.000–1.050 s in every run)",
                       f"{within} of {len(parts)} runs within" if parts else "not split",
                       f"{min(parts) / 1000:.3f}–{max(parts) / 1000:.3f} s (all runs)"
                       if parts else "–",
                       within_every(parts, PAUSE_LOW_MS, PAUSE_HIGH_MS)))

    setup, floor = rounds_of(data, "processor time", ("Setup", "floor"), field="cpu_ms")
    extra_cpu = bootstrap((setup, floor), difference_of_medians, paired=True)
    result.append(Goal(f"Processor time: Setup less the floor program, difference of medians "
                       f"(at most {PROCESSOR_GOAL_MS:.0f} ms)", f"{extra_cpu.estimate:.1f} ms",
                       span(extra_cpu, 1, " ms"), at_most(extra_cpu, PROCESSOR_GOAL_MS)))

    crowds = [extra for extra in data.extras() if extra > 0]
    if crowds:
        largest = max(crowds)
        walk = growth_per_process(data, largest, "Tolvakey", "floor")
        result.append(Goal(f"Process list: Tolvakey's cost per running process over the floor "
                           f"program's, at {largest} extra processes (at most 0 ms)",
                           f"{walk.estimate:+.3f} ms", span(walk, 3, " ms"), at_most(walk, 0.0)))
    else:
        result.append(Goal("Process list: Tolvakey's cost per running process over the floor's",
                           "no crowd recorded", "–", "undecided"))
    return result


def span(interval, decimals, unit=""):
    if math.isnan(interval.low):
        return "too few runs"
    low, high = tidy(interval.low, decimals), tidy(interval.high, decimals)
    # "-0.013–-0.002" reads badly; with a minus sign on either end the two are joined by words.
    return f"{low}{' to ' if '-' in low + high else '–'}{high}{unit}"


def tidy(value, decimals):
    """A number to so many decimals, with no minus sign on one that rounds to nothing."""
    text = f"{value:.{decimals}f}"
    return text[1:] if re.fullmatch(r"-0\.?0*", text) else text


# ---- the report ---------------------------------------------------------------------------------

def timed_note(data):
    if data.header.get("emulated_32bit"):
        return ("NOTE: every figure is of the 64-bit twin of the programs, built from the same "
                "sources, because this machine runs 32-bit programs only emulated or not at all; "
                "the shipped 32-bit programs may behave differently.")
    return ""


def short_build(data):
    return "64-bit twin, NOT the shipped 32-bit programs" if data.header.get(
        "emulated_32bit") else "the shipped 32-bit programs"


def conditions(data):
    header = data.header
    quick = " A quick run (few rounds): too few to judge by." if header.get(
        "rounds") == "quick" else ""
    load = ""
    if "load_average" in header:
        load = (f" Load average (1, 5, 15 minutes) {header['load_average']} at the start, "
                f"{data.end.get('load_average', '?')} at the end.")
    return (f"Recorded {header.get('started', '?')} on {header.get('machine', '?')}. Timed: "
            f"{header.get('timed', '?')}; build: {data.runs[0]['build']}. Conditions: "
            f"{header.get('conditions', 'not stated')}.{load}{quick}")


class Table:
    def __init__(self, caption):
        self.lines = ["", caption, "", "| | runs | median | p10–p90 | min–max |",
                      "|---|--:|--:|--:|--:|"]

    def timing(self, what, values, scale=1.0, decimals=1, unit=" ms"):
        figures = summary(values)
        if figures is None:
            self.lines.append(f"| {what} | 0 | – | – | – |")
            return
        f = {key: value * scale for key, value in figures.items() if key != "runs"}
        self.lines.append(
            f"| {what} | {figures['runs']} | {tidy(f['median'], decimals)}{unit} | "
            f"{tidy(f['p10'], decimals)}–{tidy(f['p90'], decimals)}{unit} | "
            f"{tidy(f['min'], decimals)}–{tidy(f['max'], decimals)}{unit} |")

    def figure(self, what, interval, decimals, unit="", verdict=""):
        text = f"{tidy(interval.estimate, decimals)}{unit} (95 %: {span(interval, decimals, unit)})"
        self.lines.append(f"| {what} | | {text}{': ' + verdict if verdict else ''} | | |")

    def text(self, what, text):
        self.lines.append(f"| {what} | | {text} | | |")


def full_tables(data):
    out = ["# Benchmark figures", "",
           "Written by `bench/analysis.py` from the runs in "
           "[benchmarks.jsonl](benchmarks.jsonl) (`scripts/bench`); do not edit by hand.", "",
           conditions(data)]
    if timed_note(data):
        out += ["", f"**{timed_note(data)}**"]
    out += ["", "Intervals are 95 % bootstrap intervals (`scipy.stats.bootstrap`, "
            f"percentile method, {RESAMPLES} resamplings; a round's runs are resampled together). "
            "A goal is met when the whole interval meets it, not met when none of it does, "
            "undecided otherwise."]

    tolvakey, floor = rounds_of(data, "cold", ("Tolvakey", "floor"))
    table = Table("Key press, Tolvanex not running: Tolvakey starts `Tolvanex.exe /h` (a "
                  "stand-in), which is ended after each run")
    table.timing("Tolvakey.exe 3 1, starting Tolvanex", tolvakey)
    table.timing("FloorProgram.exe, interleaved", floor)
    table.timing("Tolvakey / floor, each run over the floor's run in its round", tolvakey / floor,
                 decimals=2, unit="")
    table.figure("ratio of medians, Tolvakey / floor",
                 bootstrap((tolvakey, floor), ratio_of_medians, paired=True), 2)
    cold = data.of("cold", "Tolvakey")
    after = sum(bool(run.get("tolvanex_after_end")) for run in cold.values())
    table.text("runs in which Tolvanex wrote its first line after Tolvakey had ended",
               f"{after} of {len(cold)}")
    table.timing("the CreateProcessW call alone that starts the stand-in, timed here",
                 rounds_of(data, "start call", ("CreateProcessW",))[0])
    out += table.lines

    programs = ("Tolvakey", "floor", "empty", "floor --no-walk")
    names = {"Tolvakey": "Tolvakey.exe 3 1", "floor": "FloorProgram.exe",
             "empty": "EmptyProgram.exe", "floor --no-walk": "FloorProgram.exe --no-walk"}
    listed = {crowd["extra"]: crowd["listed"] for crowd in data.crowds}
    table = Table("Key press, Tolvanex running, and the process list: `Tolvakey.exe 3 1` in rounds "
                  "with FloorProgram.exe, EmptyProgram.exe and `FloorProgram.exe --no-walk` (the "
                  "floor without the process list), first with no extra processes, then beside "
                  "copies of a sleeping stand-in. Per extra process: (one program less another of "
                  "the same round), its median grown since no extra processes, over the number of "
                  "extra processes")
    for extra in data.extras():
        where = ", no extra processes" if extra == 0 else f", {extra} extra"
        if extra in listed:
            where += f" ({listed[extra]} in the list)"
        series = rounds_of(data, "running", programs, extra)
        for program, values in zip(programs, series):
            table.timing(names[program] + where, values)
        ratio = bootstrap(series[:2], ratio_of_medians, paired=True)
        if extra == 0:
            table.figure(f"ratio of medians, Tolvakey / floor (goal ≤ {KEY_PRESS_GOAL:.2f})",
                         ratio, 3, verdict=at_most(ratio, KEY_PRESS_GOAL))
        else:
            table.figure("ratio of medians, Tolvakey / floor" + where, ratio, 3)
            for what, program, less in (
                    ("Tolvakey less EmptyProgram.exe", "Tolvakey", "empty"),
                    ("FloorProgram.exe less EmptyProgram.exe", "floor", "empty"),
                    ("the walk alone: FloorProgram.exe less --no-walk", "floor", "floor --no-walk"),
                    ("Tolvakey less FloorProgram.exe (goal ≤ 0)", "Tolvakey", "floor")):
                growth = growth_per_process(data, extra, program, less)
                table.figure(f"per extra process: {what}", growth, 3, " ms",
                             at_most(growth, 0.0) if less == "floor" else "")
            table.figure("per extra process: EmptyProgram.exe's own growth",
                         own_growth_per_process(data, extra, "empty"), 3, " ms")
    if data.failed("running"):
        table.lines.append(f"\n{data.failed('running')} runs did not end with status 0 and are "
                           "left out.")
    out += table.lines

    parts = setup_parts(data)
    split = [run for run in parts if run.get("setup_ms") is not None]
    table = Table("Setup: msttss22L.exe (a stand-in) runs 200 ms; the pause is Install.exe's first "
                  "line less msttss22L.exe's last line, from the stand-ins' logs; its parts are "
                  "split where the system records msttss22L.exe's end and Install.exe's creation "
                  "(GetProcessTimes, on handles opened by Bench.exe while they run)")
    seconds = {"scale": 0.001, "decimals": 3, "unit": " s"}
    pauses = [run["pause_ms"] for run in parts]
    table.timing("pause, msttss22L.exe's last line to Install.exe's first", pauses, **seconds)
    table.timing("msttss22L.exe going: its last line to the end of its process",
                 [run["going_ms"] for run in split], **seconds)
    setup_ms = [run["setup_ms"] for run in split]
    table.timing("Setup: msttss22L.exe's end to Install.exe's creation (goal 1.000–1.050 s in "
                 "every run)", setup_ms, **seconds)
    within = sum(PAUSE_LOW_MS <= value <= PAUSE_HIGH_MS for value in setup_ms)
    table.text("runs with Setup's part within 1.000–1.050 s",
               f"{within} of {len(setup_ms)}: "
               f"{within_every(setup_ms, PAUSE_LOW_MS, PAUSE_HIGH_MS)}")
    table.timing("Install.exe coming up: its creation to its first line",
                 [run["coming_up_ms"] for run in split], **seconds)
    probed = [run for run in split if run.get("probe_call_ms") is not None]
    table.timing("a probe stand-in started by Bench.exe after each run: its CreateProcessW call "
                 "to its creation", [run["probe_call_ms"] for run in probed], **seconds)
    table.timing("Setup's part less the probe's CreateProcessW-to-creation, run by run",
                 [run["setup_ms"] - run["probe_call_ms"] for run in probed], **seconds)
    table.timing("the probe coming up: CreateProcessW to its first line",
                 [run["probe_start_ms"] for run in parts], **seconds)
    table.timing("the probe going: its last line to the end of its process as seen here",
                 [run["probe_end_ms"] for run in parts], **seconds)
    if data.failed("setup") or len(parts) < len(data.of("setup", "Setup")):
        table.lines.append(f"\n{data.failed('setup')} Setup runs did not end with status 0; "
                           f"{len(data.of('setup', 'Setup')) - len(parts)} left no pause to "
                           "measure.")
    out += table.lines

    out += ["", f"Setup's {min(SLOW_RUNS_SHOWN, len(parts))} slowest runs, part by part (seconds; "
            "the pause is the sum of the three parts after it; the probe ran right after the run)",
            "", "| run | pause | msttss22L.exe going | Setup | Install.exe coming up | probe: "
            "CreateProcessW to creation | probe coming up | probe going |",
            "|--:|--:|--:|--:|--:|--:|--:|--:|"]
    for run in sorted(parts, key=lambda run: -run["pause_ms"])[:SLOW_RUNS_SHOWN]:
        cells = [run.get(field) for field in ("pause_ms", "going_ms", "setup_ms", "coming_up_ms",
                                               "probe_call_ms", "probe_start_ms", "probe_end_ms")]
        out.append(f"| {run['round']} | " + " | ".join(
            "–" if cell is None else f"{cell / 1000:.3f}" for cell in cells) + " |")

    setup, empty, floor = rounds_of(data, "processor time", ("Setup", "empty", "floor"),
                                    field="cpu_ms")
    kit = data.kit
    started = (f"; Install.exe started in {kit['install_started']} of {kit['setup_runs']} Setup "
               "runs" if kit else "")
    table = Table("Processor time, user + system, of the whole Wine process as Linux counts it "
                  f"(Setup with the prerequisite running 200 ms{started}); Wine answers "
                  "GetProcessTimes for other processes with nothing usable")
    table.timing("Setup.exe", setup, decimals=0)
    table.timing("EmptyProgram.exe", empty, decimals=0)
    table.timing("FloorProgram.exe (user32 and the clipboard)", floor, decimals=0)
    over_floor = bootstrap((setup, floor), difference_of_medians, paired=True)
    table.figure(f"Setup less FloorProgram, difference of medians (goal ≤ "
                 f"{PROCESSOR_GOAL_MS:.0f} ms)", over_floor, 1, " ms",
                 at_most(over_floor, PROCESSOR_GOAL_MS))
    table.figure("Setup less EmptyProgram, difference of medians",
                 bootstrap((setup, empty), difference_of_medians, paired=True), 1, " ms")
    out += table.lines

    if data.files:
        out += ["", "Program files", "", "| file | built for | bytes |", "|---|---|--:|"]
        for record in data.files:
            out.append(f"| {record.get('file')} | {record.get('built_for')} | "
                       f"{record.get('bytes', '')} |")
    return "\n".join(out) + "\n"


def goal_table(data):
    lines = ["| goal | figure | 95 % interval | verdict |", "|---|--:|--:|---|"]
    for goal in goals(data):
        lines.append(f"| {goal.what} | {goal.figure} | {goal.interval} | **{goal.verdict}** |")
    return lines


def readme_section(data, docs_link):
    lines = [README_BEGIN, "", conditions(data)]
    if timed_note(data):
        lines += ["", f"**{timed_note(data)}**"]
    lines += [""] + goal_table(data) + [
        "",
        f"![A key press, run by run]({docs_link}/bench-key-press.png)",
        "",
        f"![The process list's growth]({docs_link}/bench-process-list.png)",
        "",
        f"![Setup's pause, run by run, in its parts]({docs_link}/bench-setup-pause.png)",
        "",
        f"Every table: [{docs_link}/benchmarks.md]({docs_link}/benchmarks.md); the runs behind "
        f"them: [{docs_link}/benchmarks.jsonl]({docs_link}/benchmarks.jsonl).",
        "", README_END]
    return "\n".join(lines)


def update_readme(readme, section):
    with open(readme, encoding="utf-8") as file:
        text = file.read()
    pattern = re.compile(re.escape(README_BEGIN) + ".*?" + re.escape(README_END), re.S)
    if not pattern.search(text):
        raise DataError(f"{readme}: no benchmark section between {README_BEGIN!r} and "
                        f"{README_END!r}")
    with open(readme, "w", encoding="utf-8") as file:
        file.write(pattern.sub(lambda _: section, text))


# ---- pictures -----------------------------------------------------------------------------------

def pictures(data, docs):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import MaxNLocator

    subtitle = f"{short_build(data)}; {data.header.get('machine', '').split(';')[0]}"
    if data.header.get("rounds") == "quick":
        subtitle += "; QUICK RUN"
    colours = {"Tolvakey": "tab:blue", "floor": "tab:orange", "empty": "tab:grey",
               "floor --no-walk": "tab:green"}
    labels = {"Tolvakey": "Tolvakey.exe 3 1", "floor": "floor program",
              "empty": "empty program", "floor --no-walk": "floor program, no walk"}
    written = []

    def save(figure, name):
        path = os.path.join(docs, name)
        # No software version in the file: the same runs give the same bytes.
        figure.savefig(path, dpi=100, metadata={"Software": None})
        plt.close(figure)
        written.append(path)

    # A key press, run by run, with Tolvanex running.
    figure, (runs_axis, ratio_axis) = plt.subplots(
        1, 2, figsize=(11, 4.2), gridspec_kw={"width_ratios": [3, 2]}, layout="constrained")
    programs = ("Tolvakey", "floor", "empty")
    series = data.of("running", "Tolvakey", 0), data.of("running", "floor", 0), data.of(
        "running", "empty", 0)
    for program, runs in zip(programs, series):
        rounds = sorted(runs)
        values = [runs[r]["ms"] for r in rounds]
        runs_axis.plot(rounds, values, "o-", color=colours[program], label=labels[program],
                       markersize=4, linewidth=1)
        runs_axis.axhline(np.median(values), color=colours[program], linestyle=":", linewidth=1)
    runs_axis.set(xlabel="round", ylabel="CreateProcess to end of process (ms)",
                  title="Key press, Tolvanex running, run by run (dotted: medians)")
    runs_axis.set_ylim(bottom=0)
    runs_axis.legend(loc="lower right")
    tolvakey, floor = rounds_of(data, "running", ("Tolvakey", "floor"), 0)
    ratio = key_press_ratio(data)
    ratio_axis.plot(range(1, len(tolvakey) + 1), tolvakey / floor, "o", color=colours["Tolvakey"],
                    markersize=4, label="each round: Tolvakey / floor")
    if not math.isnan(ratio.low):
        ratio_axis.axhspan(ratio.low, ratio.high, color=colours["Tolvakey"], alpha=0.2,
                           label=f"ratio of medians {ratio.estimate:.3f}, 95 % interval")
    ratio_axis.axhline(KEY_PRESS_GOAL, color="tab:red", linestyle="--",
                       label=f"goal: at most {KEY_PRESS_GOAL:.2f}")
    ratio_axis.axhline(1.0, color="black", linewidth=0.5)
    ratio_axis.set(xlabel="round", ylabel="Tolvakey / floor",
                   title=f"Verdict: {at_most(ratio, KEY_PRESS_GOAL)}")
    ratio_axis.legend(loc="upper right", fontsize="small")
    for axis in (runs_axis, ratio_axis):
        axis.xaxis.set_major_locator(MaxNLocator(integer=True))
    figure.suptitle(subtitle, fontsize="small")
    save(figure, "bench-key-press.png")

    # The process list's growth: medians with their intervals against the processes running.
    figure, axis = plt.subplots(figsize=(9, 4.8), layout="constrained")
    listed = {crowd["extra"]: crowd["listed"] for crowd in data.crowds}
    for program in ("Tolvakey", "floor", "empty", "floor --no-walk"):
        xs, medians, lows, highs = [], [], [], []
        for extra in data.extras():
            values = rounds_of(data, "running", (program,), extra)[0]
            if len(values) == 0:
                continue
            median = bootstrap((values,), np.median, paired=False)
            xs.append(listed.get(extra, extra))
            medians.append(median.estimate)
            lows.append(median.estimate - (median.low if not math.isnan(median.low)
                                           else median.estimate))
            highs.append((median.high if not math.isnan(median.high) else median.estimate)
                         - median.estimate)
        axis.errorbar(xs, medians, yerr=[lows, highs], fmt="o-", capsize=4,
                      color=colours[program], label=labels[program], markersize=4)
    axis.set(xlabel="processes running (in the process list)",
             ylabel="median, CreateProcess to end of process (ms)",
             title="The process list's growth (bars: 95 % intervals of the medians)")
    axis.set_ylim(bottom=0)
    axis.legend(loc="upper left")
    figure.suptitle(subtitle, fontsize="small")
    save(figure, "bench-process-list.png")

    # Setup's pause, run by run, in its parts.
    parts = [run for run in setup_parts(data) if run.get("setup_ms") is not None]
    figure, (own_axis, pause_axis) = plt.subplots(
        2, 1, figsize=(10, 6.4), sharex=True, gridspec_kw={"height_ratios": [2, 3]},
        layout="constrained")
    rounds = [run["round"] for run in parts]
    own = [run["setup_ms"] / 1000 for run in parts]
    own_axis.axhspan(PAUSE_LOW_MS / 1000, PAUSE_HIGH_MS / 1000, color="tab:green", alpha=0.15,
                     label="goal: 1.000–1.050 s in every run")
    own_axis.plot(rounds, own, "o", color="tab:blue", markersize=4,
                  label="Setup: msttss22L.exe's end to Install.exe's creation")
    own_axis.set(ylabel="seconds", title="Setup's own part: "
                 f"{within_every([v * 1000 for v in own], PAUSE_LOW_MS, PAUSE_HIGH_MS)}")
    low = min(own + [PAUSE_LOW_MS / 1000]) - 0.01
    high = max(own + [PAUSE_HIGH_MS / 1000]) + 0.01
    own_axis.set_ylim(low, high)
    own_axis.legend(loc="upper right", fontsize="small")
    bottom = np.zeros(len(parts))
    for field, label, colour in (
            ("going_ms", "msttss22L.exe going (last line to end)", "tab:grey"),
            ("setup_ms", "Setup (its end to Install.exe's creation)", "tab:blue"),
            ("coming_up_ms", "Install.exe coming up (creation to first line)", "tab:orange")):
        heights = np.array([run[field] / 1000 for run in parts])
        pause_axis.bar(rounds, heights, bottom=bottom, color=colour, label=label)
        bottom += heights
    pause_axis.axhline(PAUSE_HIGH_MS / 1000, color="tab:red", linestyle="--", linewidth=1,
                       label="1.050 s")
    pause_axis.set(xlabel="Setup run", ylabel="seconds",
                   title="The whole pause, msttss22L.exe's last line to Install.exe's first")
    pause_axis.set_ylim(0, max(bottom.max() if len(parts) else 0, PAUSE_HIGH_MS / 1000) * 1.45)
    pause_axis.legend(loc="upper center", ncol=2, fontsize="small")
    pause_axis.xaxis.set_major_locator(MaxNLocator(integer=True))
    figure.suptitle(subtitle, fontsize="small")
    save(figure, "bench-setup-pause.png")
    return written


def report(arguments):
    data = load(arguments.runs)
    os.makedirs(arguments.docs, exist_ok=True)
    tables = full_tables(data)
    section = readme_section(data, os.path.relpath(
        arguments.docs, os.path.dirname(os.path.abspath(arguments.readme)))
        if arguments.readme else arguments.docs)
    written = pictures(data, arguments.docs)
    path = os.path.join(arguments.docs, "benchmarks.md")
    with open(path, "w", encoding="utf-8") as file:
        file.write(tables)
    written.append(path)
    if arguments.readme:
        update_readme(arguments.readme, section)
        written.append(arguments.readme)
    print(conditions(data))
    if timed_note(data):
        print(timed_note(data))
    print()
    print("\n".join(goal_table(data)))
    print()
    print("Written: " + ", ".join(written))


# ---- comparing two recorded runs ----------------------------------------------------------------

def comparable_series(data):
    """Every series a change could make faster or slower, by name: a program's times in a case,
    and the per-round ratio of Tolvakey to the floor (which takes out what slowed a whole round)."""
    series = {}
    tolvakey, floor = rounds_of(data, "cold", ("Tolvakey", "floor"))
    series["key press, Tolvanex not running: Tolvakey (ms)"] = tolvakey
    series["key press, Tolvanex not running: floor (ms)"] = floor
    series["key press, Tolvanex not running: Tolvakey / floor, per round"] = tolvakey / floor
    for extra in data.extras():
        where = "Tolvanex running" if extra == 0 else f"{extra} extra processes"
        values = rounds_of(data, "running", ("Tolvakey", "floor", "empty", "floor --no-walk"),
                           extra)
        for program, times in zip(("Tolvakey", "floor", "empty", "floor --no-walk"), values):
            series[f"key press, {where}: {program} (ms)"] = times
        series[f"key press, {where}: Tolvakey / floor, per round"] = values[0] / values[1]
    parts = setup_parts(data)
    series["Setup: the pause (ms)"] = np.array([run["pause_ms"] for run in parts])
    series["Setup: its own part (ms)"] = np.array(
        [run["setup_ms"] for run in parts if run.get("setup_ms") is not None])
    for program in ("Setup", "empty", "floor"):
        series[f"processor time: {program} (ms)"] = rounds_of(
            data, "processor time", (program,), field="cpu_ms")[0]
    return series


def compare_series(old, new):
    """New against old: the ratio of medians with its interval (the runs of each resampled on
    their own), the Mann-Whitney U test's p, and the verdict that test gives."""
    ratio = bootstrap((new, old), ratio_of_medians, paired=False)
    if len(old) < 2 or len(new) < 2:
        return ratio, math.nan, "too few runs"
    p = float(stats.mannwhitneyu(new, old, alternative="two-sided").pvalue)
    if p >= ALPHA:
        verdict = "no difference shown"
    else:
        verdict = "slower" if np.median(new) > np.median(old) else "faster"
    return ratio, p, verdict


def compare_runs(old, new):
    """Rows of (series, old median, new median, ratio interval, p, verdict), new's order."""
    old_series, new_series = comparable_series(old), comparable_series(new)
    rows = []
    for name, new_values in new_series.items():
        old_values = old_series.get(name)
        if old_values is None:
            rows.append((name, None, new_values, None, math.nan, "only in new"))
        elif len(old_values) == 0 or len(new_values) == 0:
            rows.append((name, old_values, new_values, None, math.nan, "no runs"))
        else:
            ratio, p, verdict = compare_series(old_values, new_values)
            rows.append((name, old_values, new_values, ratio, p, verdict))
    rows += [(name, values, None, None, math.nan, "only in old")
             for name, values in old_series.items() if name not in new_series]
    return rows


def compare(arguments):
    old, new = load(arguments.old), load(arguments.new)
    print(f"old: {arguments.old}: {old.runs[0]['build']}; recorded {old.header.get('started')}")
    print(f"new: {arguments.new}: {new.runs[0]['build']}; recorded {new.header.get('started')}")
    if old.header.get("machine") != new.header.get("machine"):
        print("WARNING: the two were recorded on different machines or under different Wine "
              "settings; a difference may be the machine's.")
    if old.header.get("emulated_32bit") != new.header.get("emulated_32bit"):
        print("WARNING: one timed the 32-bit programs, the other the 64-bit twin.")
    print()
    print(f"Verdicts rest on the Mann-Whitney U test (scipy.stats.mannwhitneyu, two-sided, "
          f"p < {ALPHA}); the ratio of medians new / old comes with its 95 % bootstrap interval "
          "(the runs of each file resampled on their own). For the ratios to the floor, higher "
          "is slower.")
    print()
    print("| case | old median | new median | new / old (95 %) | U test p | verdict |")
    print("|---|--:|--:|--:|--:|---|")

    def median(values):
        return "–" if values is None or len(values) == 0 else f"{np.median(values):.3f}"

    rows = compare_runs(old, new)
    for name, old_values, new_values, ratio, p, verdict in rows:
        interval = "" if ratio is None else f"{ratio.estimate:.3f} ({span(ratio, 3)})"
        print(f"| {name} | {median(old_values)} | {median(new_values)} | {interval} | "
              f"{'–' if math.isnan(p) else f'{p:.3g}'} | {verdict} |")
    changed = sum(row[5] in ("slower", "faster") for row in rows)
    print()
    print(f"{changed} of {len(rows)} series changed.")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    reporting = commands.add_parser("report", help="figures, tables and pictures of a run")
    reporting.add_argument("runs")
    reporting.add_argument("--docs", required=True, help="folder for the tables and pictures")
    reporting.add_argument("--readme", help="a README whose goal table to rewrite")
    comparing = commands.add_parser("compare", help="new run against old, case by case")
    comparing.add_argument("old")
    comparing.add_argument("new")
    arguments = parser.parse_args(argv)
    try:
        (report if arguments.command == "report" else compare)(arguments)
    except DataError as error:
        print(f"analysis: {error}", file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
