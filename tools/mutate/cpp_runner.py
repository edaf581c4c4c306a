"""The C++ runner: a scratch copy of the checkout per worker, one incremental build and one run of the
native unit tests per mutant."""

from __future__ import annotations

import os
import queue
import signal
import subprocess
import threading
import time
from pathlib import Path

from selection import REPO_ROOT, Language, MutateError, mutants_of
from tally import KILLED, NOT_VIABLE, SURVIVED, Outcome, Report


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
