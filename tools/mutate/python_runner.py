"""The Python runner: the tests loaded and set up once, the covering cases traced once per module, and
each mutant executed in a forked process in place of its module's code, judged by the cases that reach
it."""

from __future__ import annotations

import ast
import functools
import importlib
import io
import json
import os
import signal
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

import python_imports
import python_reach
from mutant import Mutant
from selection import REPO_ROOT, Language, MutateError, mutants_of
from tally import KILLED, NOT_VIABLE, SURVIVED, Outcome, Report


def module_name(path: str) -> str:
    return path.rsplit("/", 1)[-1][:-3]


def install_mutant(name: str, source: str, filename: str, watched: list) -> None:
    """Replaces the code of the loaded module name by source, and rebinds names that other watched
    modules imported from it (`from name import x`) to the new objects."""
    module = sys.modules[name]
    originals = dict(vars(module))
    kept = {key: value for key, value in originals.items()
            if key in ("__name__", "__file__", "__loader__", "__spec__", "__package__", "__builtins__",
                       "__path__", "__cached__")}
    vars(module).clear()
    vars(module).update(kept)
    exec(compile(source, filename, "exec"), vars(module))  # noqa: S102 - our own module's mutant
    for other in watched:
        if other is module or not getattr(other, "__file__", None):
            continue
        # Only what the other module imported from this one: a name of its own that holds an equal small
        # int or string is the same object, and must keep its value.
        for bound, key in _names_imported(other.__file__, name):
            if key in originals and key in vars(module) and getattr(other, bound, None) is originals[key]:
                setattr(other, bound, vars(module)[key])


@functools.cache
def _names_imported(path: str, source_module: str) -> tuple[tuple[str, str], ...]:
    """(the name bound, the name in source_module) for each `from source_module import name [as bound]` in
    the Python file at path."""
    try:
        tree = ast.parse(Path(path).read_text(encoding="utf-8"))
    except (OSError, SyntaxError, ValueError):
        return ()
    return tuple((alias.asname or alias.name, alias.name) for node in ast.walk(tree)
                 if isinstance(node, ast.ImportFrom) and node.module == source_module and node.level == 0
                 for alias in node.names if alias.name != "*")


def _fork_quiet() -> int:
    """Forks; in the child, returns 0 with the standard streams on /dev/null, in a process group of its own."""
    pid = os.fork()
    if pid == 0:
        os.setpgid(0, 0)
        devnull = os.open(os.devnull, os.O_RDWR)
        os.dup2(devnull, 0), os.dup2(devnull, 1), os.dup2(devnull, 2)
    return pid


def _cases(test_modules: list) -> list[unittest.TestCase]:
    """The test modules' cases, their module fixtures left out: the parent ran each setUpModule once
    before forking, and a child that ran tearDownModule would remove what the next children read."""
    for module in test_modules:
        module.setUpModule = module.tearDownModule = None
    return python_reach.flatten(unittest.TestSuite(unittest.defaultTestLoader.loadTestsFromModule(module)
                                                   for module in test_modules))


def run_suite_in_child(test_modules: list, mutant: Mutant | None, source: str | None, filename: str,
                       watched: list, chosen: list[str] | None = None) -> int:
    """Forks; the child installs the mutant and runs the chosen cases of the test modules (their ids,
    fastest first), or all of them when None, and stops at the first failure. Returns the child's pid."""
    pid = _fork_quiet()
    if pid:
        return pid
    status = 3
    try:
        if mutant is not None:
            install_mutant(module_name(mutant.path), source, filename, watched)
        cases = _cases(test_modules)
        if chosen is not None:
            cases = python_reach.ordered(cases, chosen)
        result = unittest.TextTestRunner(stream=io.StringIO(), failfast=True, verbosity=0).run(
            unittest.TestSuite(cases))
        status = 0 if result.wasSuccessful() else 1
    except BaseException:  # noqa: B902 - the mutant broke loading: killed
        status = 2
    finally:
        os._exit(status)


def trace_in_child(test_modules: list, files: dict[str, str], judged: dict[str, Path],
                   watched: list) -> tuple[python_reach.Trace, float]:
    """Executes the judged modules (name -> file) again and runs every case of the test modules, unmutated,
    in a forked child under the line tracer, and reads back which lines each reached; then once more
    without the tracer, in another child, for the cases' times. Returns the trace and the untraced run's
    time. Raises MutateError when a case fails."""

    def load() -> None:
        for name, path in judged.items():
            install_mutant(name, path.read_text(encoding="utf-8"), str(path), watched)

    runs = []
    for tracing in (True, False):
        with tempfile.TemporaryDirectory(prefix="mutate-trace-") as folder:
            output = Path(folder) / "trace.json"
            pid = _fork_quiet()
            if pid == 0:
                status = 3
                try:
                    trace = python_reach.trace_cases(unittest.TestSuite(_cases(test_modules)), files, load, tracing)
                    output.write_text(json.dumps(trace.to_json()), encoding="utf-8")
                    status = 0
                finally:
                    os._exit(status)
            try:
                # Only against a run that hangs: tracing slows the cases down many times on a busy machine.
                result = wait_child(pid, time.monotonic() + 3600)
            except BaseException:  # noqa: B902 - an interrupted run ends this one too
                os.killpg(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
                raise
            if result == "timeout":
                raise MutateError("the unmutated tests ran longer than an hour")
            if result != "passed" or not output.is_file():
                raise MutateError("the unmutated tests could not be run")
            runs.append(python_reach.Trace.from_json(json.loads(output.read_text(encoding="utf-8"))))
        if not runs[-1].passed:
            raise MutateError("the tests fail on the unmutated modules")
    traced, untraced = runs
    traced.timed_by(untraced)
    return traced, untraced.seconds


def wait_child(pid: int, deadline: float) -> str:
    while True:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return "passed" if os.waitstatus_to_exitcode(status) == 0 else "failed"
        if time.monotonic() > deadline:
            try:
                os.killpg(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            os.waitpid(pid, 0)
            return "timeout"
        time.sleep(0.005)


def run_python(language: Language, files: list[str], report: Report, jobs: int, stop: threading.Event,
               root: Path = REPO_ROOT) -> None:
    test_paths = []
    for test in language.settings.get("tests", []):
        if (root / test).is_file():
            test_paths.append(root / test)
        else:
            print(f"{test} is missing: its cases judge no mutant", flush=True)
    module_paths = {module_name(path): root / path for path in files}
    all_modules = {path.stem: path for folder in language.folders for path in (root / folder).glob("*.py")}
    coverage = python_imports.covering_tests(test_paths, all_modules)
    for folder in {str(path.parent) for path in test_paths} | {str(root / folder) for folder in language.folders}:
        if folder not in sys.path:
            sys.path.insert(0, folder)
    os.environ["PYTHONDONTWRITEBYTECODE"] = "1"
    sys.dont_write_bytecode = True
    loaded = {}
    for test in test_paths:
        if not any(test.stem in coverage.get(name, ()) for name in module_paths):
            continue
        print(f"Setting up {test.relative_to(root)}", flush=True)
        os.chdir(test.parent)
        module = importlib.import_module(test.stem)
        if hasattr(module, "setUpModule"):
            module.setUpModule()
        loaded[test.stem] = module
    watched = [module for module in sys.modules.values()
               if getattr(module, "__file__", None)
               and Path(module.__file__).resolve().parent in {path.parent.resolve() for path in
                                                             [*all_modules.values(), *test_paths]}]
    files_watched = {os.path.realpath(path): path.relative_to(root).as_posix() for path in all_modules.values()}
    traces: dict[tuple[str, ...], python_reach.Trace] = {}
    try:
        for path in files:
            name = module_name(path)
            tests = [loaded[test] for test in sorted(coverage.get(name, ())) if test in loaded]
            folder = language.folder_of(path)
            mutants = mutants_of("python", root, path)
            if not tests or name not in sys.modules:
                print(f"no test covers {path}: its {len(mutants)} mutants survive", flush=True)
                for mutant in mutants:
                    report.add(folder, Outcome(mutant, SURVIVED, "no test covers the file"))
                continue
            started = time.monotonic()
            key = tuple(module.__name__ for module in tests)
            if key not in traces:
                try:
                    judged = {module_name(other): module_paths[module_name(other)] for other in files
                              if module_name(other) in sys.modules
                              and coverage.get(module_name(other)) == coverage[name]}
                    traces[key], untraced = trace_in_child(tests, files_watched, judged, watched)
                except MutateError as error:
                    raise MutateError(f"{error}: the tests of {path}") from None
                trace = traces[key]
                print(f"{path}: the unmutated run of {len(trace.cases)} cases ({', '.join(key)}) took "
                      f"{trace.seconds:.1f} s with tracing, {untraced:.1f} s without", flush=True)
            trace = traces[key]
            original = (root / path).read_text(encoding="utf-8")
            reach = python_reach.Reach(original)
            running: list[tuple[int, float, Mutant]] = []
            pending = list(mutants)
            while (pending or running) and not stop.is_set():
                while pending and len(running) < jobs:
                    mutant = pending.pop(0)
                    source = mutant.apply(original)
                    try:
                        compile(source, str(module_paths[name]), "exec")
                    except SyntaxError:
                        report.add(folder, Outcome(mutant, NOT_VIABLE))
                        continue
                    lines = reach.lines(mutant, original)
                    chosen = trace.judges(path, lines)
                    if chosen == []:
                        report.add(folder, Outcome(mutant, SURVIVED, "no test reaches the line"))
                        continue
                    pid = run_suite_in_child(tests, mutant, source, str(module_paths[name]), watched, chosen)
                    running.append((pid, time.monotonic() + trace.time_limit(chosen), mutant))
                for entry in list(running):
                    pid, deadline, mutant = entry
                    done, status = os.waitpid(pid, os.WNOHANG)
                    if done:
                        verdict = SURVIVED if os.waitstatus_to_exitcode(status) == 0 else KILLED
                        report.add(folder, Outcome(mutant, verdict))
                        running.remove(entry)
                    elif time.monotonic() > deadline:
                        result = wait_child(pid, 0)
                        report.add(folder, Outcome(mutant, KILLED, "timeout" if result == "timeout" else ""))
                        running.remove(entry)
                time.sleep(0.005)
            elapsed = time.monotonic() - started
            print(f"{path}: {len(mutants)} mutants in {int(elapsed // 60)} min {elapsed % 60:.1f} s", flush=True)
    finally:
        for entry in locals().get("running", []):
            try:
                os.killpg(entry[0], signal.SIGKILL)
                os.waitpid(entry[0], 0)
            except (ProcessLookupError, ChildProcessError):
                pass
        for module in loaded.values():
            if hasattr(module, "tearDownModule"):
                module.tearDownModule()
        os.chdir(root)
