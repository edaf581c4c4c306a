"""The picture button Command4, clicked with real X input: the notes panel, the confirm button, the
button's own colour, and the components that must not be deployed where the Windows directory has no
"NT" in its path (under Wine it is C:\\windows)."""

import unittest

import harness
from harness import Id

# Chinese notes in code page 936 with every kind of line end: CR LF, a lone CR, a lone LF inside a line,
# an empty line and a last line without a terminator.
NOTES_TEXT = "安装须知\r\n第一行：确认\r第二行\n仍是第二行\r\n\r\n最后一行没有结束符"
NOTES_PANEL = "\r\n安装须知\r\n第一行：确认\r\n第二行\n仍是第二行\r\n\r\n最后一行没有结束符"
NOTES_GBK = NOTES_TEXT.encode("gbk")

COMPONENT_NAMES = harness.component_names()
COMPONENTS = tuple(name.lower() for name in COMPONENT_NAMES)
PICTURE_BUTTON_BLUE_GREY = (160, 184, 201)
WHITE = (255, 255, 255)


class PictureButtonCase(harness.LauncherTestCase):
    code_page_936 = True

    def components_in_windows_system_folder(self) -> list[str]:
        system32 = self.session.drive_c / "windows" / "system32"
        return sorted(p.name for p in system32.iterdir() if p.name.lower() in COMPONENTS)


class NotesPanel(PictureButtonCase):
    medium_options = {"notes": NOTES_GBK}

    def test_click_shows_the_notes_exactly_and_enables_confirm(self):
        self.assertEqual(self.state.ansi_code_page, 936)
        self.assertFalse(self.state.control(Id.CMD_CONTINUE).enabled)
        self.click_picture_button()
        state = self.wait_panel(visible=True)
        self.assertEqual(state.control(Id.TEXT2).text, NOTES_PANEL)
        self.assertTrue(state.control(Id.CMD_CONTINUE).enabled)
        self.assertTrue(state.control(Id.CMD_CONTINUE).visible)
        self.assertEqual(state.focus_id, Id.COMMAND4, "the clicked picture button keeps the focus")

    def test_picture_button_turns_white(self):
        self.assertEqual(self.picture_button_colour(), PICTURE_BUTTON_BLUE_GREY)
        self.click_picture_button()
        self.wait_panel(visible=True)
        self.assertEqual(self.picture_button_colour(), WHITE)

    def test_second_click_hides_and_third_reloads_from_the_start(self):
        self.click_picture_button()
        self.wait_panel(visible=True)
        self.medium.file("voabc.txt").write_bytes("新的说明\r\n第二版".encode("gbk"))
        self.click_picture_button()
        state = self.wait_panel(visible=False)
        self.assertEqual(state.control(Id.TEXT2).text, NOTES_PANEL, "hiding leaves the text as it is")
        self.assertTrue(state.control(Id.CMD_CONTINUE).enabled)
        self.click_picture_button()
        state = self.wait_panel(visible=True)
        self.assertEqual(state.control(Id.TEXT2).text, "\r\n新的说明\r\n第二版")

    def test_enter_right_after_the_enabling_click_hides_the_panel_again(self):
        self.click_picture_button()
        self.wait_panel(visible=True)
        self.session.type_keys("Return")
        self.wait_panel(visible=False)
        self.assertLauncherRuns(settle=0.5)

    def test_no_component_lands_in_a_windows_directory_without_nt(self):
        for _ in range(3):  # show, hide, show: every click reaches the deployment
            self.click_picture_button()
        self.wait_panel(visible=True)
        self.assertEqual(self.components_in_windows_system_folder(), [])


class KeysOnceConfirmIsEnabled(PictureButtonCase):
    """The keyboard after the notes have been read: "确认" takes Enter and joins the Tab cycle, and the
    notes panel, once clicked into, hands Tab and Esc on like every other control."""

    medium_options = {"notes": NOTES_GBK}

    def setUp(self):
        super().setUp()
        self.click_picture_button()
        self.wait_panel(visible=True)

    def installer_was_started(self) -> bool:
        return self.medium.file("vorncopy/started.txt").exists()

    def click_into_panel(self) -> None:
        self.session.mouse_click(*self.state.control(Id.TEXT2).rect.centre)
        self.assertFocusBecomes(Id.TEXT2)

    def test_tab_from_the_panel_moves_on_to_confirm(self):
        self.click_into_panel()
        self.session.type_keys("Tab")
        self.assertFocusBecomes(Id.CMD_CONTINUE)

    def test_escape_from_the_panel_ends_the_launcher_without_the_installer(self):
        self.click_into_panel()
        self.session.type_keys("Escape")
        self.assertLauncherEnds()
        self.assertFalse(self.installer_was_started())

    def test_confirm_joins_the_tab_cycle(self):
        self.session.focus(Id.COMMAND1)
        self.assertFocusBecomes(Id.COMMAND1)
        self.session.type_keys("Tab")
        self.assertFocusBecomes(Id.CMD_CONTINUE)
        self.session.type_keys("Tab")
        self.assertFocusBecomes(Id.CMD_CANCEL)

    def test_enter_away_from_the_command_buttons_presses_confirm(self):
        self.session.focus(Id.DIR95_GROUPS)
        self.assertFocusBecomes(Id.DIR95_GROUPS)
        self.session.type_keys("Return")
        self.assertLauncherEnds()
        self.eventually(self.installer_was_started, timeout=15, message="the installer did not start")


class MissingNotes(PictureButtonCase):
    medium_options = {"notes": None}

    def test_panel_stays_empty_and_confirm_disabled_until_a_later_click_reads_the_file(self):
        self.click_picture_button()
        state = self.wait_panel(visible=True)
        self.assertEqual(state.control(Id.TEXT2).text, "")
        self.assertFalse(state.control(Id.CMD_CONTINUE).enabled)
        self.assertEqual(self.picture_button_colour(), PICTURE_BUTTON_BLUE_GREY)

        self.click_picture_button()
        state = self.wait_panel(visible=False)
        self.assertFalse(state.control(Id.CMD_CONTINUE).enabled)
        self.assertEqual(self.components_in_windows_system_folder(), [])

        self.medium.file("voabc.txt").write_bytes(NOTES_GBK)
        self.click_picture_button()
        state = self.wait_panel(visible=True)
        self.assertEqual(state.control(Id.TEXT2).text, NOTES_PANEL)
        self.assertTrue(state.control(Id.CMD_CONTINUE).enabled)


class WindowsNtRoad(PictureButtonCase):
    """The launcher as it runs where the Windows directory is C:\\WINNT (Wine's is C:\\windows: each test
    redirects the running launcher's query, see Session.report_windows_directory_as_winnt)."""

    medium_options = {"notes": NOTES_GBK}

    def setUp(self):
        super().setUp()
        self.winnt_system32 = self.session.winnt_system32_holding(
            lambda name: b"an older and longer " + name.encode() + b" already in place")
        self.session.report_windows_directory_as_winnt()

    def put_components_on_medium(self, version: str) -> dict[str, bytes]:
        contents = {name: f"{name} {version}".encode() for name in COMPONENT_NAMES}
        for name, content in contents.items():
            self.medium.file(f"vorncopy/{name}").write_bytes(content)
        return contents

    def deployed(self) -> dict[str, bytes]:
        return {name: (self.winnt_system32 / name).read_bytes() for name in COMPONENT_NAMES}

    def test_every_click_copies_both_components_over_what_is_there(self):
        for click, visible in enumerate((True, False, True), start=1):
            expected = self.put_components_on_medium(f"version {click}")
            self.click_picture_button()
            self.wait_panel(visible=visible)
            self.eventually(lambda: self.deployed() == expected, message=f"click {click} did not deploy {expected}")
        self.assertEqual(self.session.state().control(Id.TEXT2).text, NOTES_PANEL)
        self.assertEqual(self.components_in_windows_system_folder(), [])

    def test_missing_notes_stop_the_first_click_before_the_copies(self):
        older = self.deployed()
        self.medium.file("voabc.txt").unlink()
        expected = self.put_components_on_medium("new")
        self.click_picture_button()
        self.wait_panel(visible=True)
        self.assertLauncherRuns(settle=0.5)
        self.assertEqual(self.deployed(), older)
        self.click_picture_button()  # hides, then deploys
        self.wait_panel(visible=False)
        self.eventually(lambda: self.deployed() == expected, message="the hide click did not deploy")
        self.assertFalse(self.session.state().control(Id.CMD_CONTINUE).enabled)

    def test_missing_second_component_keeps_the_first_copy(self):
        self.medium.file("vorncopy/msjter35.dll").unlink()
        self.medium.file("vorncopy/Dao350.dll").write_bytes(b"dao only")
        older_jet = (self.winnt_system32 / "msjter35.dll").read_bytes()
        self.click_picture_button()
        self.wait_panel(visible=True)
        self.eventually(lambda: (self.winnt_system32 / "Dao350.dll").read_bytes() == b"dao only")
        self.assertLauncherRuns(settle=0.5)
        self.assertEqual((self.winnt_system32 / "msjter35.dll").read_bytes(), older_jet)


if __name__ == "__main__":
    unittest.main()
