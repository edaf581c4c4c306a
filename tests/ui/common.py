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
from dataclasses import dataclass
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parents[2]
SAMPLE_MEDIUM = REPO_ROOT / "tools" / "sample_medium"


def path_setting(name: str, default: Path) -> Path:
    value = os.environ.get(name)
    return Path(value).resolve() if value else default


WINDOWS_BUILD = path_setting("UI_WINDOWS_BUILD", REPO_ROOT / "build" / "win64")
WORK_DIR = path_setting("UI_WORK_DIR", REPO_ROOT / "build" / "ui-work")
KEEP_SCRATCH = os.environ.get("UI_KEEP") == "1"


@dataclass(frozen=True)
class Road:
    """Which build of the programs the tests run, and under which Wine.

    program_build: where setup.exe and pathcheck.exe come from; tools_build: the probe, the injector, the
    planted DLL, the tests' installer and the Windows-side tests; work_dir: template prefix, locale and
    scratch; wine_bin: the folder whose wine and wineserver run them (None: the host's); time_scale: every
    timeout and wait of the harness, as a multiple of the x86-64 road's; starts_programs_past_max_path:
    whether this Wine starts a program whose full path is longer than MAX_PATH. Wine 8's CreateProcess
    takes the new process's image path from a MAX_PATH buffer that GetLongPathNameW leaves unwritten when
    the long form does not fit: what it finds there is chance, the right path on the x86-64 road, another
    one on the i686 road, whatever name (8.3 or not) the program was given."""

    name: str
    program_build: Path
    tools_build: Path
    work_dir: Path
    wine_bin: Path | None
    time_scale: float
    starts_programs_past_max_path: bool

    def seconds(self, seconds: float) -> float:
        return seconds * self.time_scale


# x86_64: the x86-64 build under the host's 64-bit Wine. i686: the release programs of the win32 preset,
# byte for byte those of the medium, with the win32-tests preset's test programs, under the Wine of the
# i386 root folder that scripts/i386_road.sh prepares (prepare_i386_wine); where qemu emulates that Wine,
# starts, paints and key strokes are about four times as slow, and the waits allow for it.
ROADS = {
    "x86_64": Road("x86_64", WINDOWS_BUILD, WINDOWS_BUILD, WORK_DIR, None, 1, True),
    "i686": Road("i686", path_setting("RELEASE_BUILD_DIR", REPO_ROOT / "build" / "win32"),
                 path_setting("UI_I686_TOOLS_BUILD", REPO_ROOT / "build" / "win32-tests"),
                 path_setting("UI_I686_WORK_DIR", REPO_ROOT / "build" / "ui-work-i386"),
                 REPO_ROOT / "build" / "wine-i386" / "bin", 4, False),
}
ROAD = ROADS[os.environ.get("UI_ROAD", "x86_64")]


@contextlib.contextmanager
def locked(name: str, road: Road = ROAD):
    """Serialises preparations between test processes that run at the same time."""
    road.work_dir.mkdir(parents=True, exist_ok=True)
    with open(road.work_dir / f"{name}.lock", "w") as lock:
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
