"""The test case base of the UI scenarios: every test class gets a Session of its own (X server and Wine
prefix), every test a fresh launcher whose window is up, and the geometry, waits and assertions that the
scenarios share."""

from __future__ import annotations

import contextlib
import sys
import time
import unittest
from pathlib import Path

from common import ROAD, Road
from facts import LAYOUT, Id, twips_to_pixels
from launcher import Rect, Session, WindowState


class LauncherTestCase(unittest.TestCase):
    """A test class with its own session; every test starts with a fresh launcher whose window is up."""

    dpi = 96
    code_page_936 = False
    unix_locale: str | None = None
    launch_on_setup = True
    medium_options: dict = {}
    road: Road = ROAD
    session: Session

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls.session = Session(dpi=cls.dpi, code_page_936=cls.code_page_936, unix_locale=cls.unix_locale,
                              road=cls.road).start()
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
            folder = self.session.road.work_dir / "failures"
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
        """The launcher is still there settle seconds later (at the road's pace), with its window."""
        self.settle(settle)
        self.assertTrue(self.session.launcher.running(), "setup.exe ended")
        self.assertTrue(self.session.window_exists(), "the setup window is gone")

    def assertFocusBecomes(self, control_id: int, timeout: float = 5) -> None:
        """The focus reaches the control within timeout seconds (keys take a moment on a busy machine)."""
        seen = []

        def focused():
            seen.append(self.session.state().focus_id)
            return seen[-1] == control_id

        self.eventually(focused, timeout, f"the focus stays on {seen[-1:]}, not on control {control_id}")

    def settle(self, seconds: float) -> None:
        """Waits as long as what would have happened by then takes, at the road's pace."""
        time.sleep(self.session.road.seconds(seconds))

    def eventually(self, condition, timeout: float = 5, message: str = "condition not met", interval: float = 0.1):
        """Polls condition() until it returns something true; fails after timeout seconds (at the road's
        pace: the i686 road's emulated Wine takes longer for everything)."""
        deadline = time.monotonic() + self.session.road.seconds(timeout)
        while True:
            value = condition()
            if value:
                return value
            if time.monotonic() > deadline:
                self.fail(message)
            time.sleep(interval)
