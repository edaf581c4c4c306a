"""scripts/mutate: mutation testing of the portable C++ logic and of the Python tools.

Each mutant is one small change of one file (a comparison turned, a condition negated, a statement
dropped, a constant off by one). It is killed when the tests that cover the file fail on it, and survives
when they pass. A C++ mutant that does not build is not viable and counts apart. The working tree is
never changed: C++ mutants are built in a scratch copy of the checkout under build/mutate, and Python
mutants are executed in a forked process in place of the module's code."""

from __future__ import annotations

import argparse
import signal
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import selection  # noqa: E402
from cpp_runner import end_children, run_cpp  # noqa: E402
from python_runner import run_python  # noqa: E402
from selection import (REPO_ROOT, MutateError, changed_files, checkout_files, load_config, mutants_of,  # noqa: E402
                       select_files)
from tally import Report  # noqa: E402


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
    selection.MATCHES[:] = arguments.match
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
