"""scripts/mutate: mutation testing of the portable C++ logic and of the Python tools.

Each mutant is one small change of one file (a comparison turned, a condition negated, a statement
dropped, a constant off by one). It is killed when the tests that cover the file fail on it, and survives
when they pass. A C++ mutant that does not build is not viable and counts apart. The working tree is
never changed: C++ mutants are built in a scratch copy of the checkout under build/mutate, and Python
mutants are executed in a forked process in place of the module's code."""

from __future__ import annotations

import argparse
import fnmatch
import importlib
import io
import json
import os
import queue
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import tomllib
import unittest
from collections import Counter
from dataclasses import dataclass, field
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import cpp_mutants  # noqa: E402
import py_mutants  # noqa: E402
import python_imports  # noqa: E402
import python_reach  # noqa: E402
from mutant import Mutant  # noqa: E402

REPO_ROOT = Path(__file__).resolve().parents[2]
CONFIG = Path(__file__).resolve().parent / "mutate.toml"
KILLED, SURVIVED, NOT_VIABLE = "killed", "survived", "not viable"


class MutateError(Exception):
    pass


@dataclass
class Language:
    name: str
    folders: list[str]
    include: list[str]
    exclude: list[str]
    settings: dict = field(default_factory=dict)

    def owns(self, path: str) -> bool:
        name = path.rsplit("/", 1)[-1]
        return (any(path.startswith(folder.rstrip("/") + "/") for folder in self.folders)
                and any(fnmatch.fnmatch(name, pattern) for pattern in self.include)
                and not any(fnmatch.fnmatch(name, pattern) for pattern in self.exclude))

    def folder_of(self, path: str) -> str:
        return next(folder for folder in self.folders if path.startswith(folder.rstrip("/") + "/"))


def load_config(path: Path = CONFIG) -> dict[str, Language]:
    with open(path, "rb") as file:
        raw = tomllib.load(file)
    languages = {}
    for name in ("cpp", "python"):
        section = dict(raw.get(name, {}))
        languages[name] = Language(name, section.pop("folders", []), section.pop("include", []),
                                   section.pop("exclude", []), section)
    return languages


def git(*arguments: str, root: Path = REPO_ROOT) -> str:
    done = subprocess.run(["git", "-C", str(root), *arguments], capture_output=True, text=True)
    if done.returncode != 0:
        raise MutateError(f"git {' '.join(arguments)}: {done.stderr.strip()}")
    return done.stdout


def checkout_files(root: Path = REPO_ROOT) -> list[str]:
    """The files of the working tree as a commit of it would hold them: tracked and untracked ones, not
    ignored ones, not deleted ones."""
    names = git("ls-files", "-z", "--cached", "--others", "--exclude-standard", root=root).split("\0")
    return sorted(name for name in set(names) if name and (root / name).is_file())


def changed_files(base: str, root: Path = REPO_ROOT) -> list[str]:
    """The files the branch changed since it left base, committed or not (renamed ones under their new
    name, deleted ones left out), and new untracked ones."""
    merge_base = git("merge-base", base, "HEAD", root=root).strip()
    names = set(git("diff", "-z", "--name-only", "--diff-filter=d", merge_base, root=root).split("\0"))
    names |= set(git("ls-files", "-z", "--others", "--exclude-standard", root=root).split("\0"))
    return sorted(name for name in names if name)


def select_files(languages: dict[str, Language], files: list[str], named: list[str],
                 changed: list[str] | None) -> dict[str, list[str]]:
    """The files to mutate, per language: those of the configured folders, narrowed to the named files
    and folders and to the changed files when given."""
    wanted = {}
    for name, language in languages.items():
        chosen = [path for path in files if language.owns(path)]
        if named:
            # In the order named: the first files named are judged first.
            prefixes = [entry.rstrip("/") for entry in named]
            ranks = {path: next((rank for rank, prefix in enumerate(prefixes)
                                 if path == prefix or path.startswith(prefix + "/")), None) for path in chosen}
            chosen = sorted((path for path in chosen if ranks[path] is not None), key=lambda path: ranks[path])
        if changed is not None:
            chosen = [path for path in chosen if path in set(changed)]
        wanted[name] = chosen
    return wanted


@dataclass
class Outcome:
    mutant: Mutant
    verdict: str
    detail: str = ""


class Report:
    """Prints each verdict as it comes and keeps the tally per folder."""

    def __init__(self, out=sys.stdout, quiet_killed: bool = False):
        self.out = out
        self.quiet_killed = quiet_killed
        self.tally: dict[str, Counter] = {}
        self.survivors: list[Mutant] = []
        self.lock = threading.Lock()

    def add(self, folder: str, outcome: Outcome) -> None:
        with self.lock:
            self.tally.setdefault(folder, Counter())[outcome.verdict] += 1
            if outcome.verdict == SURVIVED:
                self.survivors.append(outcome.mutant)
            if outcome.verdict == KILLED and self.quiet_killed:
                return
            detail = f" ({outcome.detail})" if outcome.detail else ""
            print(f"{outcome.verdict:<10} {outcome.mutant}{detail}", file=self.out, flush=True)

    def summary(self) -> list[str]:
        lines = []
        for folder, counts in sorted(self.tally.items()):
            viable = counts[KILLED] + counts[SURVIVED]
            score = f"{100 * counts[KILLED] / viable:.1f}%" if viable else "-"
            lines.append(f"{folder}: {counts[KILLED]} killed of {viable} viable ({score}), "
                         f"{counts[SURVIVED]} survived, {counts[NOT_VIABLE]} not viable")
        return lines


# Only the mutants whose line as printed ("file:line: mutant") holds one of these texts, when any is given.
MATCHES: list[str] = []


def mutants_of(language: str, root: Path, path: str) -> list[Mutant]:
    source = (root / path).read_text(encoding="utf-8")
    generator = cpp_mutants if language == "cpp" else py_mutants
    found = generator.mutants(source, path)
    if MATCHES:
        found = [mutant for mutant in found if any(text in str(mutant) for text in MATCHES)]
    return found


# --- C++: a scratch copy of the checkout per worker, one incremental build per mutant ------------------


class CppWorkspace:
    """A scratch copy of the checkout, configured once; sources are synced by content, so ninja rebuilds
    only what differs from the last build."""

    def __init__(self, root: Path, scratch: Path, language: Language, log: Path):
        self.root, self.scratch, self.language, self.log = root, scratch, language, log
        self.build = scratch / "build"

    def sync(self, files: list[str]) -> None:
        self.scratch.mkdir(parents=True, exist_ok=True)
        for name in files:
            if name.startswith("build/"):
                continue
            data = (self.root / name).read_bytes()
            target = self.scratch / name
            if not target.is_file() or target.read_bytes() != data:
                target.parent.mkdir(parents=True, exist_ok=True)
                target.write_bytes(data)

    def run(self, command: list[str]) -> subprocess.CompletedProcess:
        with open(self.log, "ab") as log:
            return run_child(command, stdout=log, stderr=subprocess.STDOUT)

    def configure(self) -> None:
        options = self.language.settings.get("configure", [])
        stamp = self.scratch / "configure-options"
        if (self.build / "build.ninja").is_file() and stamp.is_file() and stamp.read_text() == repr(options):
            return
        done = self.run(["cmake", "-S", str(self.scratch), "-B", str(self.build), *options])
        if done.returncode != 0:
            raise MutateError(f"configuring the scratch build failed: see {self.log}")
        stamp.write_text(repr(options))

    def compile(self) -> bool:
        return self.run(["ninja", "-C", str(self.build), "-j1", self.language.settings["target"]]).returncode == 0

    def test(self, timeout: float) -> str:
        command = list(self.language.settings["test"])
        command[0] = str(self.build / command[0])
        try:
            done = run_child(command, timeout, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=self.build)
        except OSError as error:
            raise MutateError(f"cannot run the tests: {error}") from error
        if done is None:
            return "timeout"
        return "passed" if done.returncode == 0 else "failed"


# Every child runs in a process group of its own (a test's own children die with it at a timeout); an
# interrupted run ends the groups still running.
_children: set[subprocess.Popen] = set()
_children_lock = threading.Lock()


def run_child(command: list[str], timeout: float | None = None, **options) -> subprocess.CompletedProcess | None:
    """Runs command; None when it outlived timeout (it was killed then)."""
    process = subprocess.Popen(command, start_new_session=True, **options)
    with _children_lock:
        _children.add(process)
    try:
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            return None
        return subprocess.CompletedProcess(command, process.returncode)
    finally:
        with _children_lock:
            _children.discard(process)


def end_children() -> None:
    with _children_lock:
        for process in _children:
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass


def run_cpp(language: Language, files: list[str], all_files: list[str], report: Report, jobs: int,
            scratch_root: Path, stop: threading.Event, root: Path = REPO_ROOT) -> None:
    scratch_root.mkdir(parents=True, exist_ok=True)
    workspaces = [CppWorkspace(root, scratch_root / f"cpp-{index}", language, scratch_root / f"cpp-{index}.log")
                  for index in range(jobs)]
    for workspace in workspaces:
        workspace.log.write_bytes(b"")
        workspace.sync(all_files)
        workspace.configure()
    # The unmutated build must pass, and tells how long the tests take.
    timeouts = []
    for workspace in workspaces:
        print(f"Building the scratch copy {workspace.scratch} (log: {workspace.log})", flush=True)
        if not workspace.compile():
            raise MutateError(f"the unmutated sources do not build: see {workspace.log}")
        started = time.monotonic()
        if workspace.test(600) != "passed":
            raise MutateError(f"the tests fail on the unmutated sources: run {workspace.build}/"
                              f"{language.settings['test'][0]}")
        timeouts.append(10 * (time.monotonic() - started) + 5)
    timeout = max(timeouts)
    work: queue.Queue[str] = queue.Queue()
    # Sources before headers: a header's mutant rebuilds every file that includes it, tests too.
    for path in sorted(files, key=lambda path: path.endswith(".h")):
        work.put(path)
    errors: list[BaseException] = []

    def worker(workspace: CppWorkspace) -> None:
        try:
            while not stop.is_set():
                try:
                    path = work.get_nowait()
                except queue.Empty:
                    return
                original = (root / path).read_text(encoding="utf-8")
                target = workspace.scratch / path
                try:
                    for mutant in mutants_of("cpp", root, path):
                        if stop.is_set():
                            return
                        target.write_text(mutant.apply(original), encoding="utf-8")
                        if not workspace.compile():
                            report.add(language.folder_of(path), Outcome(mutant, NOT_VIABLE))
                            continue
                        result = workspace.test(timeout)
                        verdict = SURVIVED if result == "passed" else KILLED
                        report.add(language.folder_of(path),
                                   Outcome(mutant, verdict, "timeout" if result == "timeout" else ""))
                finally:
                    target.write_text(original, encoding="utf-8")
        except BaseException as error:  # noqa: B902 - handed to the main thread
            errors.append(error)
            stop.set()

    threads = [threading.Thread(target=worker, args=(workspace,), daemon=True) for workspace in workspaces]
    for thread in threads:
        thread.start()
    try:
        for thread in threads:
            while thread.is_alive():
                thread.join(0.2)
    except KeyboardInterrupt:
        stop.set()
        end_children()
        for thread in threads:
            thread.join()
        raise
    if errors:
        raise errors[0]


# --- Python: tests loaded once, each mutant executed in a forked process --------------------------------


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
        if other is module:
            continue
        for key, value in list(vars(other).items()):
            if key in originals and value is originals[key] and key in vars(module) and not key.startswith("__"):
                setattr(other, key, vars(module)[key])


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


def trace_in_child(test_modules: list, files: dict[str, str]) -> python_reach.Trace:
    """Runs every case of the test modules unmutated, in a forked child under the line tracer, and reads
    back which case reached which lines of files. Raises MutateError when a case fails."""
    with tempfile.TemporaryDirectory(prefix="mutate-trace-") as folder:
        output = Path(folder) / "trace.json"
        pid = _fork_quiet()
        if pid == 0:
            status = 3
            try:
                trace = python_reach.trace_cases(unittest.TestSuite(_cases(test_modules)), files)
                output.write_text(json.dumps(trace.to_json()), encoding="utf-8")
                status = 0
            finally:
                os._exit(status)
        result = wait_child(pid, time.monotonic() + 600)
        if result == "timeout":
            raise MutateError("the unmutated tests ran longer than 600 s under the tracer")
        if result != "passed" or not output.is_file():
            raise MutateError("the unmutated tests could not be run under the tracer")
        trace = python_reach.Trace.from_json(json.loads(output.read_text(encoding="utf-8")))
    if not trace.passed:
        raise MutateError("the tests fail on the unmutated modules")
    return trace


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
            key = tuple(module.__name__ for module in tests)
            if key not in traces:
                try:
                    traces[key] = trace_in_child(tests, files_watched)
                except MutateError as error:
                    raise MutateError(f"{error}: the tests of {path}") from None
                trace = traces[key]
                print(f"{path}: the unmutated run of {len(trace.cases)} cases "
                      f"({', '.join(key)}) took {trace.seconds:.1f} s with tracing", flush=True)
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
                    chosen = None if lines is None else trace.reaching(path, lines)
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


def parse_arguments(argv: list[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="scripts/mutate",
        description="Mutation testing of the portable C++ logic and the Python tools (see tools/mutate/mutate.toml).")
    parser.add_argument("paths", nargs="*", help="files or folders to mutate (default: all configured ones)")
    parser.add_argument("--changed", nargs="?", const="main", metavar="BASE",
                        help="only the files the branch changed since it left BASE (default: main); "
                             "write --changed=BASE before paths")
    parser.add_argument("--jobs", "-j", type=int, default=1, help="mutants judged at once (default 1)")
    parser.add_argument("--list", action="store_true", help="list the mutants, run nothing")
    parser.add_argument("--match", action="append", default=[], metavar="TEXT",
                        help="only the mutants whose printed line (file:line: mutant) holds TEXT (repeatable): "
                             "judge the survivors of an earlier run again")
    parser.add_argument("--language", choices=("cpp", "python"), action="append",
                        help="only C++ or only Python (default: both)")
    parser.add_argument("--quiet-killed", action="store_true", help="print survivors and the tally only")
    parser.add_argument("--scratch", type=Path, default=REPO_ROOT / "build" / "mutate",
                        help="the scratch folder for the C++ builds (default: build/mutate)")
    arguments = parser.parse_args(argv)
    if arguments.jobs < 1:
        parser.error("--jobs must be 1 or more")
    return arguments


def _interrupt(signal_number, frame):
    raise KeyboardInterrupt


def main(argv: list[str] | None = None) -> int:
    signal.signal(signal.SIGTERM, _interrupt)
    arguments = parse_arguments(sys.argv[1:] if argv is None else argv)
    started = time.monotonic()
    languages = load_config()
    MATCHES[:] = arguments.match
    report = Report(quiet_killed=arguments.quiet_killed)
    stop = threading.Event()
    files = checkout_files()
    named = []
    for entry in arguments.paths:
        path = Path(entry).resolve()
        try:
            named.append(path.relative_to(REPO_ROOT).as_posix())
        except ValueError:
            print(f"scripts/mutate: {entry} is outside the checkout", file=sys.stderr)
            return 2
    try:
        changed = changed_files(arguments.changed) if arguments.changed else None
        selected = select_files(languages, files, named, changed)
        chosen = arguments.language or ["cpp", "python"]
        if arguments.list:
            for name in chosen:
                for path in selected[name]:
                    for mutant in mutants_of(name, REPO_ROOT, path):
                        print(mutant)
            return 0
        for name in chosen:
            if not selected[name]:
                continue
            print(f"{name}: {len(selected[name])} file(s): {' '.join(selected[name])}", flush=True)
            if name == "cpp":
                run_cpp(languages[name], selected[name], files, report, arguments.jobs, arguments.scratch.resolve(), stop)
            else:
                run_python(languages[name], selected[name], report, arguments.jobs, stop)
    except MutateError as error:
        print(f"scripts/mutate: {error}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        stop.set()
        end_children()
        print("scripts/mutate: interrupted; the tally so far:", file=sys.stderr)
        for line in report.summary():
            print(line, file=sys.stderr)
        return 130
    print()
    if report.survivors:
        print("Survivors:")
        for mutant in report.survivors:
            print(f"  {mutant}")
    for line in report.summary() or ["no file to mutate"]:
        print(line)
    elapsed = time.monotonic() - started
    print(f"running time: {int(elapsed // 60)} min {elapsed % 60:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
