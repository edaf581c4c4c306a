"""Which test cases reach which lines of the mutated modules, and which cases a Python mutant needs.

The covering test cases run once, unmutated, under a line tracer that records only the lines of the
watched files, case by case. A mutant inside a function body can change nothing for a case that never
reached its lines: the case runs exactly as unmutated until the mutated code runs. A mutant of code that
runs at import (module level, class bodies, a `def` line, its decorators and default values, and what
the module's own execution calls) is judged by every covering case."""

from __future__ import annotations

import ast
import os
import sys
import threading
import time
import unittest
from collections.abc import Callable
from dataclasses import dataclass, field

from mutant import Mutant

# Seconds added to every mutant's time limit, against the noise of a busy machine.
GRACE = 5.0


def flatten(suite: unittest.TestSuite) -> list[unittest.TestCase]:
    """The test cases of a suite, in the order it runs them."""
    cases = []
    for test in suite:
        if isinstance(test, unittest.TestSuite):
            cases.extend(flatten(test))
        else:
            cases.append(test)
    return cases


@dataclass
class CaseTrace:
    seconds: float
    lines: set[tuple[str, int]] = field(default_factory=set)  # (watched file, line)


@dataclass
class Trace:
    """One unmutated run of the covering cases: per case id, its time and the lines it reached."""
    cases: dict[str, CaseTrace]
    fixtures: float  # the time spent outside the cases (class and module fixtures)
    seconds: float  # the whole run's time, tracing included
    passed: bool
    # The lines reached while the judged modules were executed again, as each mutant's run does: code
    # that their module level calls is import-time code too.
    imported: set[tuple[str, int]] = field(default_factory=set)

    def judges(self, path: str, lines: set[int] | None) -> list[str] | None:
        """The cases that judge a mutant needing lines of path (see Reach): None for every case."""
        if lines is None or any((path, line) in self.imported for line in lines):
            return None
        return self.reaching(path, lines)

    def reaching(self, path: str, lines: set[int]) -> list[str]:
        """The ids of the cases that reached one of lines of path, fastest first."""
        found = [case for case, trace in self.cases.items()
                 if any((path, line) in trace.lines for line in lines)]
        return sorted(found, key=lambda case: self.cases[case].seconds)

    def timed_by(self, untraced: Trace) -> None:
        """Takes the times of an untraced run: the tracer slows some cases down many times more than
        others, and a time limit scaled from its times would let a mutant that hangs run for hours."""
        for case, trace in self.cases.items():
            trace.seconds = untraced.cases[case].seconds if case in untraced.cases else trace.seconds
        self.fixtures = untraced.fixtures

    def time_limit(self, cases: list[str] | None) -> float:
        """Ten times what the chosen cases (all when None) and every fixture took unmutated, plus GRACE:
        a mutant that loops for ever ends, one that is merely slower does not."""
        chosen = self.cases if cases is None else cases
        return 10 * (sum(self.cases[case].seconds for case in chosen) + self.fixtures) + GRACE

    def to_json(self) -> dict:
        return {"passed": self.passed, "fixtures": self.fixtures, "seconds": self.seconds,
                "imported": sorted(self.imported),
                "cases": {case: {"seconds": trace.seconds, "lines": sorted(trace.lines)}
                          for case, trace in self.cases.items()}}

    @staticmethod
    def from_json(data: dict) -> Trace:
        return Trace({case: CaseTrace(trace["seconds"], {(path, line) for path, line in trace["lines"]})
                      for case, trace in data["cases"].items()}, data["fixtures"], data["seconds"], data["passed"],
                     {(path, line) for path, line in data["imported"]})


class _Recorder(unittest.TestResult):
    """Runs under the tracer and files each reached line under the case running. Lines reached between
    two cases (a class's set-up or tear-down) go to both: running either runs that fixture too."""

    def __init__(self, files: dict[str, str]):
        super().__init__()
        self.files = files  # a code object's file name as loaded -> its watched path
        self.known: dict[str, str | None] = {}
        self.cases: dict[str, CaseTrace] = {}
        self.reached: set[tuple[str, int]] = set()
        self.previous: CaseTrace | None = None
        self.started = self.stopped = time.monotonic()
        self.fixtures = 0.0

    def watched(self, filename: str) -> str | None:
        if filename not in self.known:
            self.known[filename] = self.files.get(os.path.realpath(filename))
        return self.known[filename]

    def tracer(self, frame, event, arg):
        path = self.watched(frame.f_code.co_filename) if event == "call" else None
        if path is None:
            return None

        def local(frame, event, arg):
            if event == "line":
                self.reached.add((path, frame.f_lineno))
            return local

        return local

    def startTest(self, test):
        super().startTest(test)
        now = time.monotonic()
        self.fixtures += now - self.stopped
        between = self.reached
        if self.previous is not None:
            self.previous.lines |= between
        self.reached = set(between)
        self.started = now

    def stopTest(self, test):
        self.stopped = time.monotonic()
        case = CaseTrace(self.stopped - self.started, self.reached)
        self.cases[test.id()] = case
        self.previous, self.reached = case, set()
        super().stopTest(test)

    def finish(self) -> None:
        if self.previous is not None:
            self.previous.lines |= self.reached
        self.fixtures += time.monotonic() - self.stopped


def trace_cases(suite: unittest.TestSuite, files: dict[str, str], load: Callable[[], object],
                tracing: bool = True) -> Trace:
    """Calls load (which executes the judged modules again), then runs suite, with the line tracer on in
    this thread and in the threads they start. files maps the real paths of the watched files to the
    names they are recorded under. Without tracing, only the times are recorded."""
    recorder = _Recorder(files)
    started = time.monotonic()
    if tracing:
        threading.settrace(recorder.tracer)
        sys.settrace(recorder.tracer)
    try:
        load()
        imported, recorder.reached = recorder.reached, set()
        recorder.stopped = time.monotonic()
        suite.run(recorder)
    finally:
        sys.settrace(None)
        threading.settrace(None)
    recorder.finish()
    return Trace(recorder.cases, recorder.fixtures, time.monotonic() - started, recorder.wasSuccessful(), imported)


def ordered(cases: list[unittest.TestCase], chosen: list[str]) -> list[unittest.TestCase]:
    """The chosen cases (ids, fastest first), those of one test class kept together at the place of its
    fastest one, so that each class is set up once."""
    by_id = {case.id(): case for case in cases}
    found = [by_id[case_id] for case_id in chosen if case_id in by_id]
    rank: dict[type, int] = {}
    for index, case in enumerate(found):
        rank.setdefault(type(case), index)
    return sorted(found, key=lambda case: (rank[type(case)], found.index(case)))


class Reach:
    """Which lines of one source a mutant needs a case to have reached, or None when it is import-time
    code that every covering case judges."""

    def __init__(self, source: str):
        tree = ast.parse(source)
        lines = source.splitlines(keepends=True)
        starts = [0]
        for line in lines:
            starts.append(starts[-1] + len(line))

        def offset(line: int, column: int) -> int:
            text = lines[line - 1] if line <= len(lines) else ""
            return starts[line - 1] + len(text.encode()[:column].decode(errors="replace"))

        self.bodies: list[tuple[int, int]] = []  # character spans of function bodies
        self.statements: list[tuple[int, int, int]] = []  # character spans of statements and their first line
        for node in ast.walk(tree):
            if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
                first, last = node.body[0], node.body[-1]
                self.bodies.append((offset(first.lineno, first.col_offset),
                                    offset(last.end_lineno, last.end_col_offset)))
            if isinstance(node, ast.stmt):
                self.statements.append((offset(node.lineno, node.col_offset),
                                        offset(node.end_lineno, node.end_col_offset), node.lineno))

    def lines(self, mutant: Mutant, source: str) -> set[int] | None:
        if not any(start <= mutant.start and mutant.end <= end for start, end in self.bodies):
            return None
        last = mutant.line + source.count("\n", mutant.start, mutant.end)
        needed = set(range(mutant.line, last + 1))
        # The first line of the innermost statement holding the mutant: every executed statement reports
        # it, where a constant folded into another line would not report its own.
        holding = [(end - start, line) for start, end, line in self.statements
                   if start <= mutant.start and mutant.end <= end]
        if holding:
            needed.add(min(holding)[1])
        return needed
