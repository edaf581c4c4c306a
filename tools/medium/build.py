"""Where a medium's programs come from: the commit, its date, and the release build made from it, one
build of a folder at a time. Every program started from here gets an environment without the signing
secrets."""

from __future__ import annotations

import contextlib
import fcntl
import os
import re
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parents[2]
# 2000-01-01 00:00:00 UTC: the dates of a medium made outside a git checkout.
FALLBACK_SOURCE_DATE_EPOCH = 946684800
SECRET_VARIABLES = ("SIGNING_PASSWORD", "SIGNING_PIN")
# The image's application identifier names the version and the commit; a medium made from a working tree
# with changes says so there, and check-medium never calls it the same as a commit's.
APPLICATION_ID = re.compile(r"TARVIN SETUP MEDIUM (?P<version>\S+), COMMIT (?P<commit>[0-9A-F]{40}|NONE)"
                            r"(?P<uncommitted> WITH UNCOMMITTED CHANGES)?")
UNCOMMITTED_MARK = " WITH UNCOMMITTED CHANGES"
# The version record's own version when none is given (the programs' resources say so too).
DEFAULT_VERSION = "1.00"
VERSION = re.compile(r"(0|[1-9][0-9]{0,4})\.(0|[1-9][0-9]{0,4})\.(0|[1-9][0-9]{0,4})")


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

    def application_id(self, allow_changes: bool, version: str | None = None) -> str:
        commit = (self.commit or "NONE").upper()
        mark = UNCOMMITTED_MARK if allow_changes and self.changes else ""
        return f"TARVIN SETUP MEDIUM {version or DEFAULT_VERSION}, COMMIT {commit}{mark}"


@dataclass(frozen=True)
class Origin:
    """What an image's application identifier says of where it came from."""

    commit: str | None
    version: str | None  # None for the default record
    uncommitted: bool


def parse_application_id(application_id: str) -> Origin:
    match = APPLICATION_ID.fullmatch(application_id)
    if not match:
        return Origin(None, None, False)
    commit = None if match["commit"] == "NONE" else match["commit"].lower()
    version = None if match["version"] == DEFAULT_VERSION else match["version"]
    return Origin(commit, version, bool(match["uncommitted"]))


def check_version(version: str) -> None:
    if not VERSION.fullmatch(version) or any(int(part) > 65535 for part in version.split(".")):
        raise BuildError(f"the version must be X.Y.Z, each a number up to 65535 (got '{version}')")


def tagged_version(commit: str | None, repo: Path = REPO_ROOT) -> str | None:
    """The version of a tag vX.Y.Z (or X.Y.Z) on the commit itself, if there is exactly one."""
    if commit is None:
        return None
    tags = git("tag", "--points-at", commit, repo=repo).stdout.split()
    versions = sorted({tag.removeprefix("v") for tag in tags if VERSION.fullmatch(tag.removeprefix("v"))})
    return versions[0] if len(versions) == 1 else None


def source(repo: Path = REPO_ROOT) -> Source:
    head = git("rev-parse", "--verify", "--quiet", "HEAD^{commit}", repo=repo)
    if head.returncode != 0:
        commit, changes, date = None, (), FALLBACK_SOURCE_DATE_EPOCH
    else:
        commit = head.stdout.strip()
        status = git("status", "--porcelain=v1", "-z", "--untracked-files=all", repo=repo)
        if status.returncode != 0:
            raise BuildError(f"git status failed in {repo}: {status.stderr.strip()}")
        changes = _changed_paths(status.stdout)
        date = int(git("log", "-1", "--format=%ct", commit, repo=repo).stdout.strip())
    override = os.environ.get("SOURCE_DATE_EPOCH")
    if override:
        if not override.isdigit():
            raise BuildError(f"SOURCE_DATE_EPOCH must be a number of seconds (got '{override}')")
        date = int(override)
    return Source(commit, changes, date)


def _changed_paths(status: str) -> tuple[str, ...]:
    """The paths that `git status --porcelain=v1 -z` names: each entry is "XY PATH", and a rename or a copy
    is followed by its origin as a field of its own, with no status before it."""
    fields = iter(status.split("\0"))
    paths = []
    for entry in fields:
        if len(entry) > 3:
            paths.append(entry[3:])
            if "R" in entry[:2] or "C" in entry[:2]:
                paths.append(next(fields, ""))
    return tuple(path for path in paths if path)


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


def build_release(folder: Path, log: Path, version: str | None = None, verbose: bool = False,
                  payload_list: Path | None = None) -> Path:
    """The release (win32 preset) setup.exe of REPO_ROOT with the given version record and payload list,
    built in folder (the caller holds its build_lock); build output goes to log, and with verbose to
    standard error too. Without a list the program carries none, whatever an earlier build of the folder
    left in its cache; with one, it is src/listed/setup.exe and the folder's src/setup.exe carries none."""
    env = clean_environment()
    jobs = os.environ.get("JOBS") or str(os.cpu_count() or 1)
    with open(log, "a") as output:
        steps = [["cmake", "--preset", "win32", "-B", str(folder), f"-DMEDIUM_VERSION={version or ''}",
                  f"-DMEDIUM_PAYLOAD_LIST={payload_list or ''}"],
                 ["cmake", "--build", str(folder), "-j", jobs]]
        for step in steps:
            output.write(f"$ {' '.join(step)}\n")
            output.flush()
            result = subprocess.run(step, cwd=REPO_ROOT, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            output.write(result.stdout.decode(errors="replace"))
            if verbose:
                sys.stderr.write(result.stdout.decode(errors="replace"))
            if result.returncode:
                raise BuildError(f"building the release setup.exe in {folder} failed (see {log})")
    # With a list, the program is linked beside the plain one, which stays without a list for whatever
    # else runs the folder's setup.exe.
    program = folder / "src" / ("listed/setup.exe" if payload_list else "setup.exe")
    if not program.is_file():
        raise BuildError(f"the build left no {program}")
    return program
