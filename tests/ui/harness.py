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

The harness is these modules; a scenario imports what it needs from this one:
  facts.py               what the tests know of the programs, from the programs' own sources: control
                         IDs (Id.CMD_CANCEL), layout boxes (LAYOUT["Text2"]), captions, file names
  common.py              places, settings, helper processes
  wine.py                the Wine prefix: the template, the private zh_CN locale, WineSession
  xserver.py             the private X server
  launcher.py            the launcher under test: built programs, media, Launcher, Session, the probe
  launcher_test_case.py  LauncherTestCase: a session per class, a fresh launcher per test, assertions

What a test can use (see the docstrings for the details):
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
                 medium_options = {...} (arguments of Session.make_medium), road = ROADS["x86_64"]
                 (a build other than the one UI_ROAD picks).

Command line (used by the scripts and by ctest):
  harness.py prepare                 boot the template prefix and build the private locale
  harness.py run-windows-tests EXE   run a Windows test program under Wine (code page 936), pass its
                                     exit code on (77 = not built, a skip)
  harness.py make-medium DEST        lay out the sample medium in DEST
  harness.py demo [--from DIR|ISO]   lay out build/medium (the sample, or a vendor's payload folder or image),
                                     run the launcher from it, save a screenshot
  harness.py demo-pathcheck          run pathcheck.exe, press Command1, save a screenshot

Settings from the environment: UI_ROAD (which build runs under which Wine: "x86_64", the default, or
"i686", the release programs under the i386 Wine of build/wine-i386; see common.Road; that road reads
RELEASE_BUILD_DIR, UI_I686_TOOLS_BUILD and UI_I686_WORK_DIR, default build/win32, build/win32-tests and
build/ui-work-i386), UI_WINDOWS_BUILD (the x86-64 build, default build/win64),
UI_FACTS_PROGRAM (the native ui_facts, default build/native/tests/ui/ui_facts),
UI_WORK_DIR (template, locale, scratch; default build/ui-work), XVFB_DISPLAYS (display numbers to try,
e.g. "44-49"; default 100-163), UI_KEEP=1 (keep scratch folders).
"""

from __future__ import annotations

import argparse
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

from common import REPO_ROOT, ROAD, ROADS, SAMPLE_MEDIUM, Road
from facts import (LAYOUT, Id, TwipBox, component_names, pathcheck_control, medium_facts, pathcheck_facts,
                   message_box_title, refusal_message, twips_to_pixels, window_caption)
from launcher import (Control, InstallerStart, Launcher, Medium, ProbeError, Rect, Session, WindowState,
                      built_program, demo_installer_exe, installer_starts, lay_out_medium, pathcheck_exe,
                      probe_exe, sample_installer_exe, sample_notes_bytes, setup_exe)
from launcher_test_case import LauncherTestCase
from wine import BASE_WINE_ENV, template_prefix, zh_locale_dir
from xserver import SCREEN_SIZE

# What scenarios, benchmarks and scripts take from the harness.
__all__ = [
    "BASE_WINE_ENV", "LAYOUT", "REPO_ROOT", "ROAD", "ROADS", "SAMPLE_MEDIUM", "SCREEN_SIZE", "Control", "Id",
    "InstallerStart", "Launcher", "LauncherTestCase", "Medium", "ProbeError", "Rect", "Road", "Session", "TwipBox",
    "WindowState", "built_program", "component_names", "demo_installer_exe", "pathcheck_control", "installer_starts",
    "lay_out_medium", "medium_facts", "pathcheck_exe", "pathcheck_facts", "probe_exe", "sample_installer_exe",
    "message_box_title", "refusal_message", "sample_notes_bytes", "setup_exe", "twips_to_pixels", "window_caption",
]

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
            return process.wait(timeout=ROAD.seconds(args.timeout))
        except subprocess.TimeoutExpired:
            process.kill()
            print(f"{program.name} did not finish within {ROAD.seconds(args.timeout)} s", file=sys.stderr)
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
    session = Session(display=display, prefix=ROAD.work_dir / "demo-prefix" if display else None).start()
    try:
        show(session, bool(display))
        session.screenshot(screenshot)
    finally:
        session.close(leave_running=bool(display))
    if display:
        print(f"{program_name} runs on {display} (Wine prefix {session.prefix}); {ending}.")
    print(f"screenshot: {screenshot}")
    return 0


def _lay_out_vendor_medium(source: Path, folder: Path) -> None:
    """A vendor's own medium in folder, as the user will see it: the payload folder's voabc.txt and vorncopy
    (as make-medium takes them), or an image's files as Windows reads them (its Joliet names), with this
    build's setup.exe in place of the medium's."""
    sys.path.insert(0, str(REPO_ROOT / "tools" / "medium"))
    import iso9660
    import payload

    if source.is_dir():
        found = payload.find_payload(source)
        shutil.copy2(found.notes, folder / found.notes.name)
        shutil.copytree(found.components, folder / found.components.name)
    else:
        iso9660.read_image(source).extract(iso9660.JOLIET, folder, leave_out=(payload.LAUNCHER,))
    shutil.copy2(setup_exe(), folder / payload.LAUNCHER)


def _command_demo(args: argparse.Namespace) -> int:
    medium_folder = Path(args.medium)
    if args.source and Path(args.source).resolve().is_relative_to(medium_folder.resolve()):
        print(f"error: {args.source} lies in {medium_folder}, which the demonstration lays out afresh", file=sys.stderr)
        return 1
    shutil.rmtree(medium_folder, ignore_errors=True)
    if args.source:
        medium_folder.mkdir(parents=True)
        try:
            _lay_out_vendor_medium(Path(args.source), medium_folder)
        except Exception as error:  # the payload checks' and the image reader's own words
            print(f"error: {args.source}: {error}", file=sys.stderr)
            return 1
    else:
        lay_out_medium(medium_folder, installer=demo_installer_exe())

    def show(session: Session, on_users_display: bool) -> None:
        medium = Medium(medium_folder, session.windows_path(medium_folder) + "\\")
        session.launch(medium, detached=on_users_display)
        # A vendor's medium on a private X server: the picture button is pressed once, so that the
        # screenshot shows the vendor's notes as the launcher reads them.
        if args.source and not on_users_display:
            session.click(Id.COMMAND4)
        time.sleep(1)  # the pictures are decoded once the window shows

    return _run_demo("The launcher", "end it with its 取消 button", Path(args.screenshot), show)


def _command_demo_pathcheck(args: argparse.Namespace) -> int:
    def show(session: Session, on_users_display: bool) -> None:
        session.launch_pathcheck(detached=on_users_display)
        # On a private X server Command1 is pressed once, so that the screenshot shows the message box.
        if not on_users_display:
            window = pathcheck_facts()
            session.probe("--caption", window["caption"], "--post", "click", str(pathcheck_control("Command1")["id"]))
            session.probe("--caption", window["title"], "wait")

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
    demo.add_argument("--from", dest="source", help="a payload folder or a medium's image to show instead of the sample")
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
