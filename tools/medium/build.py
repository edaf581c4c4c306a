"""Where a medium's programs come from: the commit, its date, and the release build made from it, one
build of a folder at a time. Every program started from here gets an environment without the signing
secrets."""

from __future__ import annotations

import contextlib
import fcntl
import os
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parents[2]
# 2000-01-01 00:00:00 UTC: the dates of a medium made outside a git checkout.
FALLBACK_SOURCE_DATE_EPOCH = 946684800
SECRET_VARIABLES = ("SIGNING_PASSWORD", "SIGNING_PIN")
# The image's application identifier names the commit; a medium made from a working tree with changes
# says so there, and check-medium never calls it the same as a commit's.
APPLICATION_PREFIX = "TARVIN SETUP MEDIUM, COMMIT "
UNCOMMITTED_MARK = " WITH UNCOMMITTED CHANGES"


class BuildError(Exception):
    pass


def clean_environment(**extra: str) -> dict[str, str]:
    """The environment for every program but osslsigncode: no signing secret reaches a compiler, cmake,
    ninja or xorriso."""
    env = {name: value for name, value in os.environ.items() if name not in SECRET_VARIABLES}
    env.update(extra)
    return env


def git(*args: str, repo: Path = REPO_ROOT) -> subprocess.CompletedProcess:
    return subprocess.run(["git", "-C", str(repo), *args], capture_output=True, text=True, env=clean_environment())


@dataclass(frozen=True)
class Source:
    commit: str | None  # None outside a git checkout
    changes: tuple[str, ...]  # what the working tree changes or adds, as git status names it
    date: int  # SOURCE_DATE_EPOCH

    def application_id(self, allow_changes: bool) -> str:
        commit = (self.commit or "NONE").upper()
        return APPLICATION_PREFIX + commit + (UNCOMMITTED_MARK if allow_changes and self.changes else "")


def parse_application_id(application_id: str) -> tuple[str | None, bool]:
    """The commit an image names, and whether it was made with uncommitted changes."""
    if not application_id.startswith(APPLICATION_PREFIX):
        return None, False
    rest = application_id[len(APPLICATION_PREFIX):]
    uncommitted = rest.endswith(UNCOMMITTED_MARK)
    commit = rest[: -len(UNCOMMITTED_MARK)] if uncommitted else rest
    return (commit.lower() if commit != "NONE" else None), uncommitted


def source(repo: Path = REPO_ROOT) -> Source:
    head = git("rev-parse", "--verify", "--quiet", "HEAD^{commit}", repo=repo)
    if head.returncode != 0:
        commit, changes, date = None, (), FALLBACK_SOURCE_DATE_EPOCH
    else:
        commit = head.stdout.strip()
        status = git("status", "--porcelain=v1", "-z", "--untracked-files=all", repo=repo)
        if status.returncode != 0:
            raise BuildError(f"git status failed in {repo}: {status.stderr.strip()}")
        changes = tuple(item[3:] for item in status.stdout.split("\0") if len(item) > 3)
        date = int(git("log", "-1", "--format=%ct", commit, repo=repo).stdout.strip())
    override = os.environ.get("SOURCE_DATE_EPOCH")
    if override:
        if not override.isdigit():
            raise BuildError(f"SOURCE_DATE_EPOCH must be a number of seconds (got '{override}')")
        date = int(override)
    return Source(commit, changes, date)


@contextlib.contextmanager
def build_lock(folder: Path):
    """One build of a folder at a time: make-medium, check-medium and scripts/test take the same lock
    (folder.lock beside the folder) while they build it."""
    folder.parent.mkdir(parents=True, exist_ok=True)
    with open(f"{folder}.lock", "a") as lock:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            print(f"==> Waiting for another build of {folder} to finish", file=sys.stderr, flush=True)
            fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def build_release(folder: Path, log: Path, jobs: str | None = None) -> Path:
    """The release (win32 preset) setup.exe of REPO_ROOT, built in folder (the caller holds its
    build_lock); build output goes to log."""
    env = clean_environment()
    with open(log, "a") as output:
        steps = []
        if not (folder / "CMakeCache.txt").is_file():
            steps.append(["cmake", "--preset", "win32", "-B", str(folder)])
        steps.append(["cmake", "--build", str(folder), "-j", jobs or str(os.cpu_count() or 1)])
        for step in steps:
            output.write(f"$ {' '.join(step)}\n")
            output.flush()
            if subprocess.run(step, cwd=REPO_ROOT, env=env, stdout=output, stderr=subprocess.STDOUT).returncode:
                raise BuildError(f"building the release setup.exe in {folder} failed (see {log})")
    program = folder / "src" / "setup.exe"
    if not program.is_file():
        raise BuildError(f"the build left no {program}")
    return program
