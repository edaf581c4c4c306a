"""What every part of the UI harness shares: where things are, the settings from the environment, and
how helper processes are run."""

from __future__ import annotations

import contextlib
import ctypes
import fcntl
import os
import signal
import subprocess
import tempfile
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parents[2]
SAMPLE_MEDIUM = REPO_ROOT / "tools" / "sample_medium"


def path_setting(name: str, default: Path) -> Path:
    value = os.environ.get(name)
    return Path(value).resolve() if value else default


WINDOWS_BUILD = path_setting("UI_WINDOWS_BUILD", REPO_ROOT / "build" / "win64")
WORK_DIR = path_setting("UI_WORK_DIR", REPO_ROOT / "build" / "ui-work")
KEEP_SCRATCH = os.environ.get("UI_KEEP") == "1"


@contextlib.contextmanager
def locked(name: str):
    """Serialises preparations between test processes that run at the same time."""
    WORK_DIR.mkdir(parents=True, exist_ok=True)
    with open(WORK_DIR / f"{name}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def run_captured(command: list[str], env: dict, timeout: float, check: bool = False, cwd=None):
    """subprocess.run with the output captured in files, not pipes: the first Windows program of a prefix
    starts Wine's background processes, which inherit its output handles and would keep a pipe open long
    after the program itself ended."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.run(command, env=env, stdout=out, stderr=err, timeout=timeout, cwd=cwd)
        out.seek(0)
        err.seek(0)
        result = subprocess.CompletedProcess(command, process.returncode, out.read(), err.read())
    if check:
        result.check_returncode()
    return result


def end_with_this_process() -> None:
    """For helper processes (X server, Windows programs): the kernel ends them should the test process
    die without cleaning up, so that no X server or program outlives an interrupted run."""
    pr_set_pdeathsig = 1
    with contextlib.suppress(OSError, AttributeError):
        ctypes.CDLL(None, use_errno=True).prctl(pr_set_pdeathsig, signal.SIGKILL)
