"""The keyboard, typed for real through the X server with the pointer over the window: the Tab cycle,
Esc and Enter, and the mouse on the buttons that end the launcher."""

import time
import unittest

from harness import Id, LauncherTestCase

# From "取消" on, as the tab order gives it among the controls that can take the focus at start.
TAB_CYCLE = [Id.CMD_CANCEL, Id.DIR95_GROUPS, Id.COMMAND4, Id.PICTURE1, Id.COMMAND1, Id.CMD_CANCEL]


class TabOrder(LauncherTestCase):
    def setUp(self):
        super().setUp()
        self.focus = self.state.focus_id

    def focus_after(self, key: str) -> int | None:
        """Where the focus goes with one key stroke (it must go somewhere else)."""
        before = self.focus
        self.session.type_keys(key)
        self.focus = self.eventually(lambda: self.moved_from(before), message=f"{key} left the focus on {before}")
        return self.focus

    def moved_from(self, before):
        now = self.session.state().focus_id
        return now if now != before else None

    def test_tab_runs_the_cycle_forwards(self):
        self.assertEqual(self.state.focus_id, TAB_CYCLE[0])
        reached = [self.focus_after("Tab") for _ in TAB_CYCLE[1:]]
        self.assertEqual(reached, TAB_CYCLE[1:])

    def test_shift_tab_runs_it_backwards(self):
        backwards = list(reversed(TAB_CYCLE))
        reached = [self.focus_after("shift+Tab") for _ in backwards[1:]]
        self.assertEqual(reached, backwards[1:])

    def test_tab_never_reaches_the_hidden_or_disabled_controls(self):
        reached = {self.focus_after("Tab") for _ in range(2 * len(TAB_CYCLE))}
        self.assertFalse(reached & {Id.CMD_CONTINUE, Id.TEXT2, Id.LST_GROUPS, Id.TXT_GROUP}, reached)

    def test_keys_off_the_window_do_not_reach_it(self):
        # The check of the harness itself: with no window manager, X sends keys to the window under the
        # pointer, so a test that forgot to point at the window would type into nothing.
        self.session.mouse_move(0, 0)
        self.session.xdotool("key", "Tab")
        time.sleep(0.5)  # time enough for a key that did arrive to move the focus
        self.assertEqual(self.session.state().focus_id, Id.CMD_CANCEL)


class EndingKeys(LauncherTestCase):
    def installer_was_started(self) -> bool:
        return self.medium.file("vorncopy/started.txt").exists()

    def test_escape_ends_the_launcher(self):
        self.session.type_keys("Escape")
        self.assertLauncherEnds()
        self.assertFalse(self.installer_was_started())

    def test_enter_on_cancel_ends_the_launcher(self):
        self.assertEqual(self.state.focus_id, Id.CMD_CANCEL)
        self.session.type_keys("Return")
        self.assertLauncherEnds()
        self.assertFalse(self.installer_was_started())

    def test_escape_works_wherever_the_focus_is(self):
        self.session.type_keys("Tab", "Tab")
        self.assertFocusBecomes(Id.COMMAND4)
        self.session.type_keys("Escape")
        self.assertLauncherEnds()

    def test_enter_on_the_picture_button_does_not_end_the_launcher(self):
        self.session.type_keys("Tab", "Tab")
        self.assertFocusBecomes(Id.COMMAND4)
        self.session.type_keys("Return")
        self.assertLauncherRuns()
        self.assertEqual(self.session.state().focus_id, Id.COMMAND4)

    def test_enter_never_presses_the_disabled_confirm_button(self):
        # On the directory list, no command button has the focus: Enter would go to "确认", were it enabled.
        self.session.type_keys("Tab")
        self.assertFocusBecomes(Id.DIR95_GROUPS)
        self.session.type_keys("Return")
        self.assertLauncherRuns()
        self.assertFalse(self.installer_was_started())
        self.assertFalse(self.session.state().control(Id.CMD_CONTINUE).enabled)


class EndingClicks(LauncherTestCase):
    def test_mouse_on_cancel_ends_the_launcher(self):
        self.session.mouse_click(*self.point("cmdCancel"))
        self.assertLauncherEnds()
        self.assertFalse(self.medium.file("vorncopy/started.txt").exists())

    def test_mouse_on_the_title_strip_button_ends_the_launcher(self):
        self.session.mouse_click(*self.point("Command1"))
        self.assertLauncherEnds()
        self.assertFalse(self.medium.file("vorncopy/started.txt").exists())

    def test_mouse_on_the_disabled_confirm_button_does_nothing(self):
        self.session.mouse_click(*self.point("cmdContinue"))
        self.assertLauncherRuns()
        self.assertFalse(self.medium.file("vorncopy/started.txt").exists())


if __name__ == "__main__":
    unittest.main()
