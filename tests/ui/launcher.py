"""The launcher under test: the built programs, the media it runs from, the running launcher and the
Session that starts it in a private X server and Wine prefix, looks at its window through the probe
(tests/ui/probe) and drives it with real X input."""

from __future__ import annotations

import contextlib
import io
import json
import re
import shutil
import subprocess
import time
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path

from common import ROAD, SAMPLE_MEDIUM, Road, run_captured
from facts import component_names, medium_facts, pathcheck_facts, twips_to_pixels
from wine import WineSession
from xserver import SCREEN_SIZE, XServer


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


def _program_in(build: Path, name: str, likely_places: tuple[str, ...]) -> Path:
    for place in likely_places:
        candidate = build / place / name
        if candidate.is_file():
            return candidate
    found = sorted(p for p in build.rglob(name) if "CMakeFiles" not in p.parts)
    if found:
        return found[0]
    raise FileNotFoundError(f"{name} is not built in {build} (build its preset first)")


def built_program(name: str, *likely_places: str, road: Road = ROAD) -> Path:
    """A test program of the road's build, at one of its likely places or anywhere in that build tree."""
    return _program_in(road.tools_build, name, likely_places)


def setup_exe(road: Road = ROAD) -> Path:
    return _program_in(road.program_build, "setup.exe", ("src",))


def pathcheck_exe(road: Road = ROAD) -> Path:
    return _program_in(road.program_build, "pathcheck.exe", ("src/pathcheck",))


def probe_exe(road: Road = ROAD) -> Path:
    return built_program("uiprobe.exe", "tests/ui/probe", road=road)


def sample_installer_exe(road: Road = ROAD) -> Path:
    """The tests' second-stage installer: it records each start (see InstallerStart) and exits."""
    return built_program("tarvinxp_record.exe", "tools", "tools/sample_installer", road=road)


def demo_installer_exe(road: Road = ROAD) -> Path:
    """The demonstration medium's second-stage installer, which shows a window."""
    return built_program("tarvinxp.exe", "tools", "tools/sample_installer", road=road)


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


def sample_notes_bytes() -> bytes:
    """The sample installation notes as a medium carries them: code page 936, CR LF line ends."""
    text = (SAMPLE_MEDIUM / "voabc.utf8.txt").read_text(encoding="utf-8")
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("gbk")


_NO_NOTES = object()


def _unix_relative(windows_relative: str) -> str:
    return windows_relative.replace("\\", "/")


def lay_out_medium(
    folder: Path,
    notes: bytes | None | object = _NO_NOTES,
    with_installer: bool = True,
    with_components: bool = True,
    extra_files: dict[str, bytes] | None = None,
    installer: Path | None = None,
    program: Path | None = None,
    road: Road = ROAD,
) -> Path:
    """An installation medium in folder: setup.exe, voabc.txt and the payload folder vorncopy.

    notes: the bytes of voabc.txt (default: the sample notes in GBK; None: no voabc.txt at all).
    with_installer / with_components: whether vorncopy holds tarvinxp.exe / the two component files.
    extra_files: more files, by path relative to the medium ("vorncopy/x.txt": b"...").
    installer: the program to carry as tarvinxp.exe (default: the tests' recording one).
    program: the setup.exe to carry (default: the road's build).
    road: whose setup.exe and installer the medium carries.
    """
    names = medium_facts()
    installer_path = folder / _unix_relative(names["installer"])
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copy2(program or setup_exe(road), folder / "setup.exe")
    if notes is _NO_NOTES:
        notes = sample_notes_bytes()
    if notes is not None:
        (folder / names["notes"]).write_bytes(notes)
    installer_path.parent.mkdir(exist_ok=True)
    if with_components:
        for component in names["components"]:
            source = _unix_relative(component["source"])
            shutil.copy2(SAMPLE_MEDIUM / source, folder / source)
    if with_installer:
        shutil.copy2(installer or sample_installer_exe(road), installer_path)
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


# The program under test logs Wine's errors: a start that shows no window says why in the test's output.
LAUNCH_WINEDEBUG = "-all,err+all"
# The exit status of a wine command that did not get to run the probe (uiprobe's own are 0, 2, 3, 4).
PROBE_NEVER_RAN = 1


class Launcher:
    """One running setup.exe. Its process is the Wine process itself, so its exit code is the program's.
    log: what Wine wrote while it ran (its errors)."""

    def __init__(self, session: "Session", process: subprocess.Popen, medium: Medium | None, log: Path):
        self.session = session
        self.process = process
        self.medium = medium
        self.log = log

    def log_tail(self, lines: int = 30) -> str:
        try:
            return "\n".join(self.log.read_text(errors="replace").splitlines()[-lines:])
        except OSError:
            return ""

    def why_no_window(self, program: str) -> str:
        """What a test reports when the program's window did not show: whether it still runs, and its log."""
        state = "still runs" if self.running() else f"ended with exit code {self.process.returncode}"
        return f"{program} {state} without showing its window; Wine's log of it:\n{self.log_tail() or '(empty)'}"

    def running(self) -> bool:
        return self.process.poll() is None

    def wait_exit(self, timeout: float = 10) -> int | None:
        """The exit code, or None when the launcher is still running after timeout seconds (at the
        road's pace)."""
        try:
            return self.process.wait(timeout=self.session.road.seconds(timeout))
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


class Session(WineSession):
    """A private X server and Wine prefix (see WineSession), and everything that drives the launcher
    inside them.

    display: an X display to use instead of a private X server; prefix: a lasting Wine prefix to use
    (made from the template when missing) instead of a scratch copy. Tests leave both alone.
    Use it as a context manager, or call start() and close().
    """

    def __init__(self, dpi: int = 96, code_page_936: bool = False, screen: tuple[int, int] = SCREEN_SIZE,
                 display: str | None = None, prefix: Path | None = None, unix_locale: str | None = None,
                 road: Road = ROAD):
        super().__init__(dpi=dpi, code_page_936=code_page_936, prefix=prefix, unix_locale=unix_locale, road=road)
        self.xserver = None if display else XServer(screen)
        self.display = display
        self._media = 0
        self.launcher: Launcher | None = None
        self._shown_state: WindowState | None = None  # the window as it first showed; it never moves

    # Life cycle

    def start(self) -> "Session":
        self._make_folder()
        try:
            if self.xserver:
                self.display = self.xserver.start(self.folder).display
            self._open_prefix(self.xserver.env if self.xserver else {"DISPLAY": self.display})
        except BaseException:
            self.close()
            raise
        return self

    def close(self, leave_running: bool = False) -> None:
        """Ends the launcher, Wine and the X server, and removes the scratch folder. leave_running: only
        remove the scratch folder (for a launcher on the user's display, in a lasting prefix)."""
        if not leave_running:
            if self.launcher:
                with contextlib.suppress(Exception):
                    self.launcher.end()
            self._close_prefix()
            if self.xserver:
                self.xserver.stop()
        self._remove_folder()

    def __enter__(self) -> "Session":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.close()

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
            lay_out_medium(folder, road=self.road, **layout)
            return Medium(folder, "C:\\" + on_drive_c.replace("/", "\\") + "\\")
        folder = self.folder / f"medium-{self._media}"
        lay_out_medium(folder, road=self.road, **layout)
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
        log = self.folder / f"launcher-{self._media}.log"
        with open(log, "wb") as output:
            process = self.wine(medium.windows_dir + "setup.exe", cwd=cwd or medium.path, stdout=output,
                                stderr=output, detached=detached, env={**self.env, "WINEDEBUG": LAUNCH_WINEDEBUG})
        self.launcher = Launcher(self, process, medium, log)
        if wait:
            self.wait_window()
        return self.launcher

    def launch_pathcheck(self, detached: bool = False) -> Launcher:
        """Starts pathcheck.exe from the build (it needs no medium) and waits until its window Form1
        shows; probe("--caption", pathcheck_facts()["caption"], ...) looks at it. Ends whatever was launched before.
        detached: the program may outlive this process."""
        if self.launcher and self.launcher.running():
            self.launcher.end()
        self._shown_state = None
        log = self.folder / "pathcheck.log"
        with open(log, "wb") as output:
            process = self.wine(str(pathcheck_exe(self.road)), cwd=self.folder, stdout=output, stderr=output,
                                detached=detached, env={**self.env, "WINEDEBUG": LAUNCH_WINEDEBUG})
        self.launcher = Launcher(self, process, None, log)
        wait = self.road.seconds(30)
        try:
            self.probe("--caption", pathcheck_facts()["caption"], "--timeout-ms", str(int(wait * 1000)), "wait",
                       timeout=wait + 30)
        except ProbeError as error:
            raise ProbeError(f"{error}\n{self.launcher.why_no_window('pathcheck.exe')}") from None
        return self.launcher

    # The probe

    def probe(self, *args: str, check: bool = True, timeout: float | None = None) -> dict | None:
        """Runs uiprobe with arguments; returns its JSON answer (None when it printed none).
        With check, a failing probe raises ProbeError. timeout: how long the probe may take (default:
        a minute at the road's pace)."""
        command = ["wine", str(probe_exe(self.road)), *args]
        result = run_captured(command, env=self.env, timeout=timeout or self.road.seconds(60))
        if result.returncode == PROBE_NEVER_RAN and not result.stdout.strip() and not result.stderr.strip():
            # uiprobe never exits with 1 (its statuses are 0, 2, 3 and 4): a silent 1 is Wine failing to start
            # it, seen once under heavy load. Its question was never asked, so it is asked once more.
            result = run_captured(command, env=self.env, timeout=timeout or self.road.seconds(60))
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
        """Waits until the setup window is visible (timeout seconds at the road's pace) and returns its
        state."""
        timeout = self.road.seconds(timeout)
        try:
            state = WindowState(self.probe("--timeout-ms", str(int(timeout * 1000)), "wait", timeout=timeout + 30))
            self._shown_state = state
            return state
        except ProbeError as error:
            if not self.launcher:
                raise
            raise ProbeError(f"{error}\n{self.launcher.why_no_window('setup.exe')}") from None

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

    def winnt_system32_holding(self, older: Callable[[str], bytes]) -> Path:
        """C:\\WINNT\\system32, made if need be, holding each component as older(name) gives it: what a
        deployment on the C:\\WINNT road must replace (see report_windows_directory_as_winnt)."""
        system32 = self.drive_c / "WINNT" / "system32"
        system32.mkdir(parents=True, exist_ok=True)
        for name in component_names():
            (system32 / name).write_bytes(older(name))
        return system32

    def report_windows_directory_as_winnt(self) -> None:
        """Makes the running launcher see C:\\WINNT as its Windows directory. Wine always reports
        C:\\windows, so ntinject loads ntpatch.dll into the launcher, which redirects the launcher's own
        import of GetWindowsDirectoryA; the program itself has no switch for this."""
        injector = built_program("ntinject.exe", "tools/ntinject", road=self.road)
        patch = built_program("ntpatch.dll", "tools/ntinject", road=self.road)
        result = run_captured(["wine", str(injector), self.windows_path(patch)], env=self.env,
                              timeout=self.road.seconds(60))
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
        the pointer over the setup window; pause seconds (at the road's pace) after each, so the window
        can react."""
        self.point_at_window()
        for key in keys:
            self.xdotool("key", key)
            time.sleep(self.road.seconds(pause))

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
