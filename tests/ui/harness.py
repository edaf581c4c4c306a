#!/usr/bin/python3
"""Runs the real setup.exe under Wine on a private X server and looks at it from outside.

A UI scenario is a plain unittest module beside this file. Its test classes derive from
LauncherTestCase: each class gets its own X server and Wine prefix (a copy of a pre-booted template),
and each test a fresh launcher started from a fresh medium, with its window already up:

    import harness
    from harness import Id

    class CancelButton(harness.LauncherTestCase):
        def test_click_ends_the_launcher(self):
            self.session.click(Id.CMD_CANCEL)
            self.assertLauncherEnds()

        def test_escape_ends_the_launcher(self):
            self.session.type_keys("Escape")        # real X key strokes, pointer over the window
            self.assertLauncherEnds()

What a test can use (see the docstrings below for the details):
  self.session   Session: state(), click(id), focus(id), type_keys(...), send_keys(...), screenshot(),
                 pixel(...), mouse_move/mouse_click(...), launch(...), make_medium(...), wine(...),
                 drive_c, windows_path(...)
  self.launcher  Launcher: running(), wait_exit(), end()
  self.medium    Medium: path (the folder), file(...) to look at what the launcher left there
  self.state     WindowState right after the window came up: window, control(id), focus_id, tooltips
  Layout boxes   LAYOUT[name] are twip boxes; self.box(name) / self.point(name, fx, fy) turn them into
                 screen pixels at the session's resolution.
  Notes panel    self.click_picture_button(), self.wait_panel(visible), self.picture_button_colour()
  Class knobs    dpi = 120, code_page_936 = True (private zh_CN.UTF-8 locale), launch_on_setup = False,
                 unix_locale = "C.UTF-8" (Wine's locale when not code_page_936),
                 medium_options = {...} (arguments of Session.make_medium).

Command line (used by the scripts and by ctest):
  harness.py prepare                 boot the template prefix and build the private locale
  harness.py run-windows-tests EXE   run a Windows test program under Wine (code page 936), pass its
                                     exit code on (77 = not built, a skip)
  harness.py make-medium DEST        lay out the sample medium in DEST
  harness.py demo                    lay out build/medium, run the launcher from it, save a screenshot
  harness.py demo-pathcheck          run pathcheck.exe, press Command1, save a screenshot

Settings from the environment: UI_WINDOWS_BUILD (the x86-64 build, default build/win64),
UI_WORK_DIR (template, locale, scratch; default build/ui-work), XVFB_DISPLAYS (display numbers to try,
e.g. "44-49"; default 100-163), UI_KEEP=1 (keep scratch folders).
"""

from __future__ import annotations

import argparse
import contextlib
import ctypes
import fcntl
import io
import json
import math
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from dataclasses import dataclass
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parents[2]
SAMPLE_MEDIUM = REPO_ROOT / "tools" / "sample_medium"
WINDOW_CAPTION = "* #"
# The path-check program's window; its message box has the application's title.
PATHCHECK_CAPTION = "Form1"
PATHCHECK_TITLE = "pathcheck"
SCREEN_SIZE = (1024, 768)


def _path_setting(name: str, default: Path) -> Path:
    value = os.environ.get(name)
    return Path(value).resolve() if value else default


WINDOWS_BUILD = _path_setting("UI_WINDOWS_BUILD", REPO_ROOT / "build" / "win64")
WORK_DIR = _path_setting("UI_WORK_DIR", REPO_ROOT / "build" / "ui-work")
KEEP_SCRATCH = os.environ.get("UI_KEEP") == "1"


class Id:
    """Control IDs of the setup window's child windows: the row numbers of its layout table."""

    TEXT2 = 2
    PICTURE1 = 3
    COMMAND1 = 4
    COMMAND4 = 9
    CMD_CANCEL = 10
    CMD_CONTINUE = 11
    LST_GROUPS = 12
    TXT_GROUP = 13
    DIR95_GROUPS = 14


@dataclass(frozen=True)
class TwipBox:
    """Left, top, width, height in twips, relative to the container's client area."""

    left: float
    top: float
    width: float
    height: float
    in_title_strip: bool = False


# The boxes of the setup window's design that tests look at, straight from its layout table.
LAYOUT = {
    "Text2": TwipBox(1560, 600, 5790, 2616),
    "Picture1": TwipBox(0, 0, 7575, 435),
    "Command1": TwipBox(7110, 90, 315, 270, in_title_strip=True),
    "Label2": TwipBox(576, 120, 2940, 252, in_title_strip=True),
    "Image2": TwipBox(90, 30, 345, 330, in_title_strip=True),
    "Command4": TwipBox(360, 4320, 675, 645),
    "cmdCancel": TwipBox(4740, 4710, 1140, 345),
    "cmdContinue": TwipBox(3000, 4680, 1140, 345),
    "Label5": TwipBox(1950, 2160, 4635, 435),
    "Label13": TwipBox(3660, 3360, 3120, 225),
    "Label6": TwipBox(1500, 3360, 2175, 225),
    "Label4": TwipBox(1965, 1650, 4755, 495),
    "Label3": TwipBox(1980, 1140, 4770, 435),
    "Label12": TwipBox(3750, 690, 1065, 225),
    "Label15": TwipBox(1950, 2670, 4230, 210),
    "Image3": TwipBox(1410, 3600, 6150, 1635),
    "Image1": TwipBox(0, 450, 1395, 4785),
}
CLIENT_TWIPS = (7575, 5265)


def twips_to_pixels(twips: float, dpi: int = 96) -> int:
    """Nearest pixel at a logical resolution (15 twips per pixel at 96 dpi), halves away from zero as the
    window's own conversion rounds them (4710 twips at 120 dpi are 392.5, drawn at 393)."""
    pixels = twips * dpi / 1440
    return int(math.floor(abs(pixels) + 0.5)) * (1 if pixels >= 0 else -1)


@dataclass(frozen=True)
class Rect:
    left: int
    top: int
    right: int
    bottom: int

    @classmethod
    def of(cls, values) -> "Rect":
        return cls(*values)

    @property
    def width(self) -> int:
        return self.right - self.left

    @property
    def height(self) -> int:
        return self.bottom - self.top

    @property
    def centre(self) -> tuple[int, int]:
        return ((self.left + self.right) // 2, (self.top + self.bottom) // 2)

    def contains(self, x: int, y: int) -> bool:
        return self.left <= x < self.right and self.top <= y < self.bottom

    def intersects(self, other: "Rect") -> bool:
        return (
            self.left < other.right and other.left < self.right and self.top < other.bottom and other.top < self.bottom
        )

    def inset(self, dx: int, dy: int | None = None) -> "Rect":
        dy = dx if dy is None else dy
        return Rect(self.left + dx, self.top + dy, self.right - dx, self.bottom - dy)

    def offset(self, dx: int, dy: int) -> "Rect":
        return Rect(self.left + dx, self.top + dy, self.right + dx, self.bottom + dy)


class Control:
    """One child window as the probe saw it."""

    def __init__(self, data: dict):
        self.data = data
        self.id: int = data["id"]
        self.parent_id: int = data["parent_id"]
        self.cls: str = data["class"]
        self.rect = Rect.of(data["rect"])
        self.visible: bool = data["visible"]
        self.enabled: bool = data["enabled"]
        self.style: int = data["style"]
        self.exstyle: int = data["exstyle"]
        self.text: str = data["text"]
        self.items: list[dict] | None = data.get("items")

    def __repr__(self) -> str:
        return f"Control(id={self.id}, class={self.cls}, rect={self.rect}, visible={self.visible})"


class WindowState:
    """A snapshot of the setup window taken by the probe (see tests/ui/probe/uiprobe.cpp for the fields)."""

    def __init__(self, data: dict):
        self.data = data
        self.window: dict = data["window"]
        self.rect = Rect.of(self.window["rect"])
        self.client = Rect.of(self.window["client"])
        self.controls = [Control(c) for c in data["controls"]]
        self.focus: dict | None = data["focus"]
        self.tooltips: list[dict] = data["tooltips"]
        self.dpi: int = data["screen"]["dpi"]
        self.screen = (data["screen"]["width"], data["screen"]["height"])
        self.ansi_code_page: int = data["ansi_code_page"]

    @property
    def focus_id(self) -> int | None:
        """Control ID of the focused window; 0 for the setup window itself, None for no focus."""
        return None if self.focus is None else self.focus["id"]

    def control(self, control_id: int) -> Control:
        matches = [c for c in self.controls if c.id == control_id]
        if not matches:
            raise KeyError(f"no child window with control ID {control_id}")
        return matches[0]

    def shows_on_screen(self, control_id: int) -> bool:
        """Visible and at least partly inside the window, so that a user can see some of it."""
        control = self.control(control_id)
        return control.visible and control.rect.intersects(self.client)

    def tools(self) -> list[dict]:
        """Every tool of every tool tip window of the process."""
        return [tool for tip in self.tooltips for tool in tip.get("tools", [])]


# --- Finding the built programs ----------------------------------------------------------------------


def built_program(name: str, *likely_places: str) -> Path:
    """A program of the x86-64 build, at one of its likely places or anywhere in that build tree."""
    for place in likely_places:
        candidate = WINDOWS_BUILD / place / name
        if candidate.is_file():
            return candidate
    found = sorted(p for p in WINDOWS_BUILD.rglob(name) if "CMakeFiles" not in p.parts)
    if found:
        return found[0]
    raise FileNotFoundError(f"{name} is not built in {WINDOWS_BUILD} (build the win64 preset first)")


def setup_exe() -> Path:
    return built_program("setup.exe", "src")


def pathcheck_exe() -> Path:
    return built_program("pathcheck.exe", "src/pathcheck")


def probe_exe() -> Path:
    return built_program("uiprobe.exe", "tests/ui/probe")


def sample_installer_exe() -> Path:
    """The tests' second-stage installer: it records each start (see InstallerStart) and exits."""
    return built_program("tarvinxp_record.exe", "tools", "tools/sample_installer")


def demo_installer_exe() -> Path:
    """The demonstration medium's second-stage installer, which shows a window."""
    return built_program("tarvinxp.exe", "tools", "tools/sample_installer")


@dataclass
class InstallerStart:
    """One start of the tests' installer, as it recorded it."""

    pid: int
    program: str  # its own full path
    command_line: str
    current_directory: str


def installer_starts(record: Path) -> list[InstallerStart]:
    """The starts in a record file of the tests' installer (none when there is no file)."""
    if not record.exists():
        return []
    starts = []
    for line in record.read_text(encoding="utf-8").splitlines():
        pid, program, command_line, current_directory = line.split("\t")
        starts.append(InstallerStart(int(pid), program, command_line, current_directory))
    return starts


# --- Shared preparations: the template prefix and the private locale ------------------------------


@contextlib.contextmanager
def _locked(name: str):
    """Serialises preparations between test processes that run at the same time."""
    WORK_DIR.mkdir(parents=True, exist_ok=True)
    with open(WORK_DIR / f"{name}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


BASE_WINE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=d"}


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


def _wine_version() -> str:
    return subprocess.run(["wine", "--version"], capture_output=True, text=True, env=_clean_env()).stdout.strip()


def _clean_env(extra: dict | None = None) -> dict:
    env = {k: v for k, v in os.environ.items() if not k.startswith("WINE") and k not in ("DISPLAY", "LOCPATH")}
    env.update(BASE_WINE_ENV)
    env.update(extra or {})
    return env


# Raised whenever what template_prefix() sets up changes, so that older templates are booted anew.
TEMPLATE_REVISION = 2


def template_prefix() -> Path:
    """A booted Wine prefix that sessions copy; booted once (about 15 s) and kept under the work folder."""
    template = WORK_DIR / "wine-template"
    marker = template / ".template-ready"
    version = f"{_wine_version()} template {TEMPLATE_REVISION}"
    with _locked("wine-template"):
        if marker.is_file() and marker.read_text() == version:
            return template
        shutil.rmtree(template, ignore_errors=True)
        env = _clean_env({"WINEPREFIX": str(template)})
        run_captured(["wine", "wineboot", "-i"], env=env, check=True, timeout=300)
        # A crashing program must not leave a dialog on the screen that hides what the test looks at.
        run_captured(
            ["wine", "reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD",
             "/d", "0", "/f"],
            env=env, check=True, timeout=120,
        )
        _replace_window_fonts(env, template)
        subprocess.run(["wineserver", "-w"], env=env, check=True, timeout=120)
        marker.write_text(version)
        return template


# The window names "宋体" and "黑体". Left to itself Wine maps both to WenQuanYi Zen Hei, whose 12 px
# bitmap strike loses strokes at 9 pt; a Song (Ming) face and an outline Hei face look like the real ones.
FONT_REPLACEMENTS = {
    "宋体": "AR PL UMing CN",
    "SimSun": "AR PL UMing CN",
    "黑体": "WenQuanYi Micro Hei",
    "SimHei": "WenQuanYi Micro Hei",
}


def _replace_window_fonts(env: dict, prefix: Path) -> None:
    lines = ["Windows Registry Editor Version 5.00", "", r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]"]
    lines += [f'"{face}"="{replacement}"' for face, replacement in FONT_REPLACEMENTS.items()]
    reg_file = prefix / "drive_c" / "font-replacements.reg"
    # regedit reads UTF-16 LE with a byte order mark, so the Chinese face names survive any Unix locale.
    reg_file.write_bytes(("\r\n".join(lines) + "\r\n").encode("utf-16"))
    run_captured(["wine", "regedit", "/S", r"C:\font-replacements.reg"], env=env, check=True, timeout=120)
    reg_file.unlink()


def zh_locale_dir() -> Path:
    """A private zh_CN.UTF-8 locale (LOCPATH), so that Wine runs with ANSI code page 936 (GBK)."""
    locale_root = WORK_DIR / "locale"
    with _locked("locale"):
        if not (locale_root / "zh_CN.UTF-8" / "LC_CTYPE").is_file():
            locale_root.mkdir(parents=True, exist_ok=True)
            subprocess.run(
                ["localedef", "-i", "zh_CN", "-f", "UTF-8", str(locale_root / "zh_CN.UTF-8")],
                check=True, capture_output=True, timeout=300,
            )
    return locale_root


def zh_locale_env() -> dict:
    return {"LOCPATH": str(zh_locale_dir()), "LANG": "zh_CN.UTF-8", "LC_ALL": "zh_CN.UTF-8"}


# Wine's own DLLs are never written to: share them with the template instead of copying 700 MB.
_SHARED_SUFFIXES = {".dll", ".exe", ".drv", ".sys", ".ocx", ".cpl", ".acm", ".ax", ".tlb", ".ds", ".msstyles"}


def _link_or_copy(source: str, destination: str) -> str:
    if Path(source).suffix.lower() in _SHARED_SUFFIXES and "drive_c" in Path(source).parts:
        try:
            os.link(source, destination)
            return destination
        except OSError:
            pass
    return shutil.copy2(source, destination)


def clone_prefix(destination: Path) -> None:
    shutil.copytree(template_prefix(), destination, symlinks=True, copy_function=_link_or_copy)


def _end_with_this_process() -> None:
    """For helper processes (X server, Windows programs): the kernel ends them should the test process
    die without cleaning up, so that no X server or program outlives an interrupted run."""
    pr_set_pdeathsig = 1
    with contextlib.suppress(OSError, AttributeError):
        ctypes.CDLL(None, use_errno=True).prctl(pr_set_pdeathsig, signal.SIGKILL)


# --- The private X server --------------------------------------------------------------------------


def _display_candidates() -> list[int]:
    ranges = os.environ.get("XVFB_DISPLAYS", "100-163")
    numbers: list[int] = []
    for part in ranges.split(","):
        first, _, last = part.strip().partition("-")
        numbers.extend(range(int(first), int(last or first) + 1))
    return numbers


class XServer:
    """An Xvfb of its own, on the first free display number of XVFB_DISPLAYS."""

    def __init__(self, size: tuple[int, int] = SCREEN_SIZE):
        self.size = size
        self.process: subprocess.Popen | None = None
        self.display = ""

    def start(self) -> "XServer":
        for number in _display_candidates():
            if Path(f"/tmp/.X{number}-lock").exists() or Path(f"/tmp/.X11-unix/X{number}").exists():
                continue
            process = subprocess.Popen(
                ["Xvfb", f":{number}", "-screen", "0", f"{self.size[0]}x{self.size[1]}x24", "-nolisten", "tcp",
                 "-noreset"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=_end_with_this_process,
            )
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and process.poll() is None:
                # Another run may have taken the number at the same moment: the display is ours only
                # when the lock file names our server.
                if self._lock_holder(number) == process.pid and subprocess.run(
                    ["xdpyinfo", "-display", f":{number}"], capture_output=True
                ).returncode == 0:
                    self.process, self.display = process, f":{number}"
                    return self
                time.sleep(0.05)
            if process.poll() is None:
                process.kill()
                process.wait()
        raise RuntimeError("no free X display among XVFB_DISPLAYS")

    @staticmethod
    def _lock_holder(number: int) -> int | None:
        try:
            return int(Path(f"/tmp/.X{number}-lock").read_text().strip())
        except (OSError, ValueError):
            return None

    def stop(self) -> None:
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None


# --- Media, launchers and sessions -----------------------------------------------------------------


def sample_notes_bytes() -> bytes:
    """The sample installation notes as a medium carries them: code page 936, CR LF line ends."""
    text = (SAMPLE_MEDIUM / "voabc.utf8.txt").read_text(encoding="utf-8")
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("gbk")


_NO_NOTES = object()


def lay_out_medium(
    folder: Path,
    notes: bytes | None | object = _NO_NOTES,
    with_installer: bool = True,
    with_components: bool = True,
    extra_files: dict[str, bytes] | None = None,
    installer: Path | None = None,
) -> Path:
    """An installation medium in folder: setup.exe, voabc.txt and the payload folder vorncopy.

    notes: the bytes of voabc.txt (default: the sample notes in GBK; None: no voabc.txt at all).
    with_installer / with_components: whether vorncopy holds tarvinxp.exe / the two component files.
    extra_files: more files, by path relative to the medium ("vorncopy/x.txt": b"...").
    installer: the program to carry as tarvinxp.exe (default: the tests' recording one).
    """
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copy2(setup_exe(), folder / "setup.exe")
    if notes is _NO_NOTES:
        notes = sample_notes_bytes()
    if notes is not None:
        (folder / "voabc.txt").write_bytes(notes)
    payload = folder / "vorncopy"
    payload.mkdir(exist_ok=True)
    if with_components:
        for component in ("Dao350.dll", "msjter35.dll"):
            shutil.copy2(SAMPLE_MEDIUM / "vorncopy" / component, payload / component)
    if with_installer:
        shutil.copy2(installer or sample_installer_exe(), payload / "tarvinxp.exe")
    for relative, content in (extra_files or {}).items():
        target = folder / relative
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(content)
    return folder


@dataclass
class Medium:
    path: Path  # the folder on this machine
    windows_dir: str  # the same folder as the launcher sees it, e.g. "D:\\"

    def file(self, relative: str) -> Path:
        return self.path / relative


class Launcher:
    """One running setup.exe. Its process is the Wine process itself, so its exit code is the program's."""

    def __init__(self, session: "Session", process: subprocess.Popen, medium: Medium):
        self.session = session
        self.process = process
        self.medium = medium

    def running(self) -> bool:
        return self.process.poll() is None

    def wait_exit(self, timeout: float = 10) -> int | None:
        """The exit code, or None when the launcher is still running after timeout seconds."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def end(self) -> None:
        """Ends the launcher if it still runs and waits until its window is gone."""
        if self.running():
            self.process.kill()
            self.process.wait()
        self.session.probe("wait-gone", check=False)


class ProbeError(RuntimeError):
    pass


class Session:
    """A private X server and Wine prefix, and everything that drives the launcher inside them.

    dpi: the screen's logical resolution (the prefix's LogPixels); code_page_936: run every Windows
    program with a private zh_CN.UTF-8 locale, so that the ANSI code page is 936 (GBK); unix_locale:
    otherwise, the LANG and LC_ALL to run Wine with (e.g. "C.UTF-8", code page 1252), instead of the
    caller's.
    display: an X display to use instead of a private X server; prefix: a lasting Wine prefix to use
    (made from the template when missing) instead of a scratch copy. Tests leave both alone.
    Use it as a context manager, or call start() and close().
    """

    def __init__(self, dpi: int = 96, code_page_936: bool = False, screen: tuple[int, int] = SCREEN_SIZE,
                 display: str | None = None, prefix: Path | None = None, unix_locale: str | None = None):
        self.dpi = dpi
        self.code_page_936 = code_page_936
        self.unix_locale = unix_locale
        self.xserver = None if display else XServer(screen)
        self.display = display
        self.lasting_prefix = prefix
        self.folder: Path | None = None
        self.prefix: Path | None = None
        self.env: dict = {}
        self._media = 0
        self.launcher: Launcher | None = None
        self._shown_state: WindowState | None = None  # the window as it first showed; it never moves

    # Life cycle

    def start(self) -> "Session":
        WORK_DIR.mkdir(parents=True, exist_ok=True)
        self.folder = Path(tempfile.mkdtemp(prefix="session-", dir=WORK_DIR))
        # Whoever cleans up after killed runs leaves the folder of a living session alone.
        (self.folder / "owner.pid").write_text(f"{os.getpid()}\n")
        try:
            if self.lasting_prefix:
                self.prefix = self.lasting_prefix
                if not (self.prefix / "system.reg").is_file():
                    shutil.rmtree(self.prefix, ignore_errors=True)
                    clone_prefix(self.prefix)
            else:
                self.prefix = self.folder / "prefix"
                clone_prefix(self.prefix)
            if self.xserver:
                self.display = self.xserver.start().display
            self.env = _clean_env({"WINEPREFIX": str(self.prefix), "DISPLAY": self.display})
            if self.code_page_936:
                self.env.update(zh_locale_env())
            elif self.unix_locale:
                self.env.update({"LANG": self.unix_locale, "LC_ALL": self.unix_locale})
            if self.dpi != 96:
                self._set_dpi(self.dpi)
            self._start_wineserver()
        except BaseException:
            self.close()
            raise
        return self

    def close(self, leave_running: bool = False) -> None:
        """Ends the launcher, Wine and the X server, and removes the scratch folder. leave_running: only
        remove the scratch folder (for a launcher on the user's display, in a lasting prefix)."""
        if leave_running:
            if self.folder and not KEEP_SCRATCH:
                shutil.rmtree(self.folder, ignore_errors=True)
            return
        if self.launcher:
            with contextlib.suppress(Exception):
                self.launcher.end()
        if self.prefix and self.prefix.exists():
            subprocess.run(["wineserver", "-k"], env=self.env or _clean_env({"WINEPREFIX": str(self.prefix)}),
                           capture_output=True, timeout=60)
            with contextlib.suppress(subprocess.TimeoutExpired):
                subprocess.run(["wineserver", "-w"], env=_clean_env({"WINEPREFIX": str(self.prefix)}), timeout=30)
        if self.xserver:
            self.xserver.stop()
        if self.folder and not KEEP_SCRATCH:
            shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self) -> "Session":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.close()

    def _set_dpi(self, dpi: int) -> None:
        # Wine 8 reads HKCU\Control Panel\Desktop\LogPixels first and falls back to the hardware profile's
        # value; both are set so that either reading sees the same resolution. Programs read it at start.
        for key in (r"HKCU\Control Panel\Desktop",
                    r"HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts"):
            self.run_wine("reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
        self._stop_wineserver()  # which writes the registry out

    def _start_wineserver(self) -> None:
        # Debian's wineserver ends the moment the last program does (-p0); a program started just then
        # would meet a server on its way out. This one stays up until the session ends it.
        run_captured(["wineserver", "-p"], env=self.env, timeout=60)

    def _stop_wineserver(self) -> None:
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=60)
        with contextlib.suppress(subprocess.TimeoutExpired):
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=30)

    def restart_wine(self) -> None:
        """Ends every Windows process of the prefix (an installer the launcher started, for instance)."""
        self._stop_wineserver()
        self._start_wineserver()

    # Wine

    def wine(self, *args: str, detached: bool = False, **popen_args) -> subprocess.Popen:
        """Starts a Windows program (a Windows or a Unix path) in this session's prefix and display.
        detached: the program may outlive this process (else it ends with it)."""
        popen_args.setdefault("stdout", subprocess.DEVNULL)
        popen_args.setdefault("stderr", subprocess.DEVNULL)
        if detached:
            popen_args["start_new_session"] = True
        else:
            popen_args["preexec_fn"] = _end_with_this_process
        return subprocess.Popen(["wine", *args], env=self.env, **popen_args)

    def run_wine(self, *args: str, timeout: float = 120, check: bool = True) -> subprocess.CompletedProcess:
        return run_captured(["wine", *args], env=self.env, timeout=timeout, check=check)

    @property
    def drive_c(self) -> Path:
        return self.prefix / "drive_c"

    def windows_path(self, path: Path) -> str:
        """A path of this machine as Windows programs in the prefix see it (drive Z: is the root)."""
        return "Z:" + str(Path(path).resolve()).replace("/", "\\")

    # Media and the launcher

    def make_medium(self, drive: str | None = "D", on_drive_c: str | None = None, **layout) -> Medium:
        """A fresh medium (see lay_out_medium for the layout arguments).

        drive: the letter the medium is mounted as, like a disc (the launcher then runs as D:\\setup.exe
        and its base directory is D:\\); None runs it from a folder on drive Z:.
        on_drive_c: instead, a folder of drive C: to lay it out in ("My Setup" runs C:\\My Setup\\setup.exe).
        """
        self._media += 1
        if on_drive_c is not None:
            folder = self.drive_c / on_drive_c
            lay_out_medium(folder, **layout)
            return Medium(folder, "C:\\" + on_drive_c.replace("/", "\\") + "\\")
        folder = self.folder / f"medium-{self._media}"
        lay_out_medium(folder, **layout)
        if drive is None:
            return Medium(folder, self.windows_path(folder) + "\\")
        link = self.prefix / "dosdevices" / f"{drive.lower()}:"
        if link.is_symlink() or link.exists():
            link.unlink()
        link.symlink_to(folder)
        return Medium(folder, f"{drive.upper()}:\\")

    def launch(self, medium: Medium | None = None, wait: bool = True, detached: bool = False,
               cwd: Path | None = None) -> Launcher:
        """Starts setup.exe from the medium (a new sample medium if none) and, by default, waits until
        its window shows. detached: the launcher may outlive this process. cwd: the folder it starts in
        (default: the medium's)."""
        if self.launcher and self.launcher.running():
            self.launcher.end()
        self._shown_state = None
        medium = medium or self.make_medium()
        log = open(self.folder / f"launcher-{self._media}.log", "wb")
        process = self.wine(medium.windows_dir + "setup.exe", cwd=cwd or medium.path, stdout=log, stderr=log,
                            detached=detached)
        log.close()
        self.launcher = Launcher(self, process, medium)
        if wait:
            self.wait_window()
        return self.launcher

    def launch_pathcheck(self, detached: bool = False) -> Launcher:
        """Starts pathcheck.exe from the build (it needs no medium) and waits until its window Form1
        shows; probe("--caption", PATHCHECK_CAPTION, ...) looks at it. Ends whatever was launched before.
        detached: the program may outlive this process."""
        if self.launcher and self.launcher.running():
            self.launcher.end()
        self._shown_state = None
        log = open(self.folder / "pathcheck.log", "wb")
        process = self.wine(str(pathcheck_exe()), cwd=self.folder, stdout=log, stderr=log, detached=detached)
        log.close()
        self.launcher = Launcher(self, process, None)
        try:
            self.probe("--caption", PATHCHECK_CAPTION, "--timeout-ms", "30000", "wait", timeout=60)
        except ProbeError:
            if not self.launcher.running():
                raise ProbeError(f"pathcheck.exe ended with exit code {process.returncode} "
                                 "before its window showed") from None
            raise
        return self.launcher

    # The probe

    def probe(self, *args: str, check: bool = True, timeout: float = 60) -> dict | None:
        """Runs uiprobe with arguments; returns its JSON answer (None when it printed none).
        With check, a failing probe raises ProbeError."""
        result = run_captured(["wine", str(probe_exe()), *args], env=self.env, timeout=timeout)
        if check and result.returncode != 0:
            raise ProbeError(f"uiprobe {' '.join(args)} failed ({result.returncode}): "
                             f"{result.stderr.decode(errors='replace').strip()} "
                             f"{result.stdout.decode(errors='replace').strip()}")
        output = result.stdout.decode("utf-8")
        return json.loads(output) if output.strip() else None

    def state(self) -> WindowState:
        """The setup window as it is now (ProbeError when there is none)."""
        return WindowState(self.probe("state"))

    def wait_window(self, timeout: float = 30) -> WindowState:
        """Waits until the setup window is visible and returns its state."""
        try:
            state = WindowState(self.probe("--timeout-ms", str(int(timeout * 1000)), "wait", timeout=timeout + 30))
            self._shown_state = state
            return state
        except ProbeError:
            if self.launcher and not self.launcher.running():
                raise ProbeError(f"setup.exe ended with exit code {self.launcher.process.returncode} "
                                 "before its window showed") from None
            raise

    def window_exists(self) -> bool:
        return self.probe("state", check=False) is not None

    def click(self, control_id: int, post: bool = False) -> None:
        """BM_CLICK on a child window, as a UI-automation tool does; returns when the click is handled
        (or the launcher ended). post: post it instead, for a click that would not return."""
        self.probe(*(["--post"] if post else []), "click", str(control_id))

    def focus(self, control_id: int) -> None:
        """Puts the keyboard focus on a child window."""
        self.probe("focus", str(control_id))

    def send_keys(self, *keys: str) -> None:
        """Key strokes through SendInput inside Wine ("tab", "shift+tab", "return", "escape", "space").
        They reach the foreground window wherever the X pointer is."""
        self.probe("keys", *keys)

    # Real X input

    def xdotool(self, *args: str) -> None:
        subprocess.run(["xdotool", *args], env=self.env, check=True, capture_output=True, timeout=30)

    def report_windows_directory_as_winnt(self) -> None:
        """Makes the running launcher see C:\\WINNT as its Windows directory. Wine always reports
        C:\\windows, so ntinject loads ntpatch.dll into the launcher, which redirects the launcher's own
        import of GetWindowsDirectoryA; the program itself has no switch for this."""
        injector = built_program("ntinject.exe", "tools/ntinject")
        patch = built_program("ntpatch.dll", "tools/ntinject")
        result = run_captured(["wine", str(injector), self.windows_path(patch)], env=self.env, timeout=60)
        if result.returncode != 0:
            raise RuntimeError(f"ntinject failed: {result.stderr.decode(errors='replace')}")

    def visible_windows(self) -> list[str]:
        """The names of the windows mapped on the X screen: every visible top-level window of every
        Windows program, message boxes included."""
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", ""], env=self.env,
                               capture_output=True, text=True, timeout=30)
        root = subprocess.run(["xwininfo", "-root", "-int"], env=self.env, capture_output=True, text=True,
                              check=True, timeout=30)
        root_id = re.search(r"Window id: (\d+)", root.stdout).group(1)
        names = []
        for window in found.stdout.split():
            if window == root_id:
                continue
            name = subprocess.run(["xdotool", "getwindowname", window], env=self.env, capture_output=True,
                                  text=True, timeout=30)
            names.append(name.stdout.strip())
        return names

    def mouse_move(self, x: int, y: int) -> None:
        # Not "--sync": it waits for a motion event, and there is none when the pointer is already there.
        self.xdotool("mousemove", str(x), str(y))
        time.sleep(0.05)

    def mouse_click(self, x: int, y: int, button: int = 1) -> None:
        """A real click at a screen position."""
        self.mouse_move(x, y)
        self.xdotool("click", str(button))

    def point_at_window(self, state: WindowState | None = None) -> None:
        """Puts the pointer over a plain white part of the setup window, where it shows no tool tip:
        with no window manager, X sends key strokes to the window under the pointer."""
        state = state or self._shown_state or self.state()
        x = state.client.left + twips_to_pixels(6900, state.dpi)
        y = state.client.top + twips_to_pixels(3050, state.dpi)
        self.mouse_move(x, y)

    def type_keys(self, *keys: str, pause: float = 0.15) -> None:
        """Real X key strokes in xdotool's names ("Tab", "shift+Tab", "Return", "Escape"), typed with
        the pointer over the setup window; pause seconds after each, so the window can react."""
        self.point_at_window()
        for key in keys:
            self.xdotool("key", key)
            time.sleep(pause)

    # The screen

    def screenshot(self, path: Path | None = None):
        """The whole screen as a PIL image (saved to path too, when given)."""
        from PIL import Image

        data = subprocess.run(["import", "-window", "root", "png:-"], env=self.env, check=True,
                              capture_output=True, timeout=60).stdout
        image = Image.open(io.BytesIO(data)).convert("RGB")
        if path:
            image.save(path)
        return image

    def pixel(self, x: int, y: int) -> tuple[int, int, int]:
        return self.screenshot().getpixel((x, y))


# --- unittest support ------------------------------------------------------------------------------


class LauncherTestCase(unittest.TestCase):
    """A test class with its own session; every test starts with a fresh launcher whose window is up."""

    dpi = 96
    code_page_936 = False
    unix_locale: str | None = None
    launch_on_setup = True
    medium_options: dict = {}
    session: Session

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls.session = Session(dpi=cls.dpi, code_page_936=cls.code_page_936, unix_locale=cls.unix_locale).start()
        cls.addClassCleanup(cls.session.close)

    def setUp(self) -> None:
        super().setUp()
        self.launcher = None
        # Whatever the last test left under the pointer (a hover, a tool tip) is not this test's business.
        self.session.mouse_move(0, 0)
        if self.launch_on_setup:
            self.medium = self.session.make_medium(**self.medium_options)
            self.launcher = self.session.launch(self.medium)
            self.state = self.session.state()
        self.addCleanup(self._end_launcher)

    def set_environment(self, **settings: str) -> None:
        """Environment variables for the Windows programs that this test starts; the session's own
        come back when the test ends."""
        for key in settings:
            self.addCleanup(self._restore_environment, key, self.session.env.get(key))
        self.session.env.update(settings)

    def _restore_environment(self, key: str, value: str | None) -> None:
        if value is None:
            self.session.env.pop(key, None)
        else:
            self.session.env[key] = value

    def record_installer_starts(self) -> Path:
        """Has the tests' installer record its starts in a file of this test's own, outside any medium;
        read it with installer_starts()."""
        record = self.session.folder / f"{self.id()}.starts.txt"
        self.set_environment(TARVINXP_RECORD=self.session.windows_path(record))
        return record

    def _end_launcher(self) -> None:
        if self._failed():
            self._save_failure_screenshot()
        if self.session.launcher:
            self.session.launcher.end()

    def _failed(self) -> bool:
        outcome = getattr(self, "_outcome", None)
        result = getattr(outcome, "result", None)
        if result is None:
            return False
        # A failing subtest is recorded under its own object, which names its test case.
        return any(getattr(test, "test_case", test) is self for test, _ in [*result.failures, *result.errors])

    def _save_failure_screenshot(self) -> None:
        with contextlib.suppress(Exception):
            folder = WORK_DIR / "failures"
            folder.mkdir(parents=True, exist_ok=True)
            path = folder / f"{self.id()}.png"
            self.session.screenshot(path)
            print(f"\nscreenshot of the failure: {path}", file=sys.stderr)

    # Geometry at the session's resolution

    def box(self, name: str, state: WindowState | None = None) -> Rect:
        """A layout box on the screen, in pixels."""
        state = state or self.state
        box = LAYOUT[name]
        dpi = state.dpi
        origin_x, origin_y = state.client.left, state.client.top  # the title strip starts at the client's top
        left = origin_x + twips_to_pixels(box.left, dpi)
        top = origin_y + twips_to_pixels(box.top, dpi)
        return Rect(left, top, left + twips_to_pixels(box.width, dpi), top + twips_to_pixels(box.height, dpi))

    def point(self, name: str, fx: float = 0.5, fy: float = 0.5, state: WindowState | None = None) -> tuple[int, int]:
        """A point inside a layout box: fx and fy are fractions of its width and height."""
        rect = self.box(name, state)
        return (rect.left + int(rect.width * fx), rect.top + int(rect.height * fy))

    def twip_point(self, x_twips: float, y_twips: float, state: WindowState | None = None) -> tuple[int, int]:
        """A point of the client area given in twips, on the screen."""
        state = state or self.state
        return (state.client.left + twips_to_pixels(x_twips, state.dpi),
                state.client.top + twips_to_pixels(y_twips, state.dpi))

    # The picture button and the notes panel

    def click_picture_button(self) -> None:
        """A real mouse click on the picture button Command4 (it returns before the click is handled)."""
        self.session.mouse_click(*self.state.control(Id.COMMAND4).rect.centre)

    def wait_panel(self, visible: bool, timeout: float = 10) -> WindowState:
        """Waits until the notes panel Text2 is shown (or hidden) and returns the window's state then."""

        def panel_state():
            state = self.session.state()
            return state if state.control(Id.TEXT2).visible == visible else None

        return self.eventually(panel_state, timeout=timeout,
                               message=f"Text2 never became {'visible' if visible else 'hidden'}")

    def picture_button_colour(self) -> tuple[int, int, int]:
        """A pixel of Command4's face between its border and its icon, with the pointer out of the way."""
        self.session.point_at_window()
        rect = self.state.control(Id.COMMAND4).rect
        return self.session.pixel(rect.left + 4, rect.top + rect.height // 2)

    # Assertions about the launcher's life

    def assertLauncherEnds(self, timeout: float = 10) -> None:
        code = self.session.launcher.wait_exit(timeout)
        self.assertIsNotNone(code, f"setup.exe still runs {timeout} s later")
        self.assertFalse(self.session.window_exists(), "the setup window outlived its process")

    def assertLauncherRuns(self, settle: float = 1.0) -> None:
        """The launcher is still there settle seconds later, with its window."""
        time.sleep(settle)
        self.assertTrue(self.session.launcher.running(), "setup.exe ended")
        self.assertTrue(self.session.window_exists(), "the setup window is gone")

    def assertFocusBecomes(self, control_id: int, timeout: float = 5) -> None:
        """The focus reaches the control within timeout seconds (keys take a moment on a busy machine)."""
        seen = []

        def focused():
            seen.append(self.session.state().focus_id)
            return seen[-1] == control_id

        self.eventually(focused, timeout, f"the focus stays on {seen[-1:]}, not on control {control_id}")

    def eventually(self, condition, timeout: float = 5, message: str = "condition not met", interval: float = 0.1):
        """Polls condition() until it returns something true; fails after timeout seconds."""
        deadline = time.monotonic() + timeout
        while True:
            value = condition()
            if value:
                return value
            if time.monotonic() > deadline:
                self.fail(message)
            time.sleep(interval)


# --- Command line -----------------------------------------------------------------------------------


SKIP_EXIT_CODE = 77


def _command_prepare(_: argparse.Namespace) -> int:
    template_prefix()
    zh_locale_dir()
    return 0


def _command_run_windows_tests(args: argparse.Namespace) -> int:
    program = Path(args.program)
    if not program.is_file():
        print(f"{program} is not built: no Windows-side tests yet", file=sys.stderr)
        return SKIP_EXIT_CODE
    with Session(code_page_936=True) as session:
        process = session.wine(str(program), *args.arguments, stdout=None, stderr=None, cwd=program.parent)
        try:
            return process.wait(timeout=args.timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            print(f"{program.name} did not finish within {args.timeout} s", file=sys.stderr)
            return 1


def _command_make_medium(args: argparse.Namespace) -> int:
    destination = Path(args.destination)
    shutil.rmtree(destination, ignore_errors=True)
    lay_out_medium(destination, installer=demo_installer_exe())
    print(destination)
    return 0


def _run_demo(program_name: str, ending: str, screenshot: Path, show) -> int:
    """Runs show(session, on_users_display) in a demonstration session and saves a screenshot. On the
    user's own screen the program stays up, in a lasting prefix of its own; on a private X server it
    ends with the server."""
    display = os.environ.get("DISPLAY")
    session = Session(display=display, prefix=WORK_DIR / "demo-prefix" if display else None).start()
    try:
        show(session, bool(display))
        session.screenshot(screenshot)
    finally:
        session.close(leave_running=bool(display))
    if display:
        print(f"{program_name} runs on {display} (Wine prefix {session.prefix}); {ending}.")
    print(f"screenshot: {screenshot}")
    return 0


def _command_demo(args: argparse.Namespace) -> int:
    medium_folder = Path(args.medium)
    shutil.rmtree(medium_folder, ignore_errors=True)
    lay_out_medium(medium_folder, installer=demo_installer_exe())

    def show(session: Session, on_users_display: bool) -> None:
        medium = Medium(medium_folder, session.windows_path(medium_folder) + "\\")
        session.launch(medium, detached=on_users_display)
        time.sleep(1)  # the pictures are decoded once the window shows

    return _run_demo("The launcher", "end it with its 取消 button", Path(args.screenshot), show)


def _command_demo_pathcheck(args: argparse.Namespace) -> int:
    def show(session: Session, on_users_display: bool) -> None:
        session.launch_pathcheck(detached=on_users_display)
        # On a private X server Command1 is pressed once, so that the screenshot shows the message box.
        if not on_users_display:
            session.probe("--caption", PATHCHECK_CAPTION, "--post", "click", "102")
            session.probe("--caption", PATHCHECK_TITLE, "wait")

    return _run_demo("pathcheck.exe", "close its window to end it", Path(args.screenshot), show)


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    commands.add_parser("prepare").set_defaults(run=_command_prepare)
    windows_tests = commands.add_parser("run-windows-tests")
    windows_tests.add_argument("program")
    windows_tests.add_argument("--timeout", type=float, default=300)
    windows_tests.add_argument("arguments", nargs=argparse.REMAINDER)
    windows_tests.set_defaults(run=_command_run_windows_tests)
    medium = commands.add_parser("make-medium")
    medium.add_argument("destination")
    medium.set_defaults(run=_command_make_medium)
    demo = commands.add_parser("demo")
    demo.add_argument("--medium", default=str(REPO_ROOT / "build" / "medium"))
    demo.add_argument("--screenshot", default=str(REPO_ROOT / "build" / "demo-screenshot.png"))
    demo.set_defaults(run=_command_demo)
    demo_pathcheck = commands.add_parser("demo-pathcheck")
    demo_pathcheck.add_argument("--screenshot", default=str(REPO_ROOT / "build" / "demo-pathcheck.png"))
    demo_pathcheck.set_defaults(run=_command_demo_pathcheck)
    args = parser.parse_args(argv)
    return args.run(args)


# A test run that ctest ends for taking too long gets SIGTERM: leave through SystemExit, so that the
# sessions' clean-ups still run.
if threading.current_thread() is threading.main_thread() and signal.getsignal(signal.SIGTERM) == signal.SIG_DFL:
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
