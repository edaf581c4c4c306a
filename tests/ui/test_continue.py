"""The end of the launcher's life, with real X input: "确认" hands over to the second-stage installer
and ends the launcher; "取消", Esc and "><" end it with nothing started. The media carry the tests'
recording installer, which writes each start (its path, command line and current directory) to a record
file outside the medium."""

import unittest

import harness
from harness import Id
from test_bad_notes import single_line

COMPONENT_NAMES = harness.component_names()
COMPONENTS = tuple(name.lower() for name in COMPONENT_NAMES)


class HandOverCase(harness.LauncherTestCase):
    code_page_936 = True
    launch_on_setup = False

    def setUp(self):
        super().setUp()
        self.record = self.record_installer_starts()
        # The launcher starts in a folder of its own, which the installer must inherit.
        self.start_folder = self.session.drive_c / "start here"
        self.start_folder.mkdir(exist_ok=True)

    def launch(self, **medium_options) -> None:
        self.medium = self.session.make_medium(**medium_options)
        self.launcher = self.session.launch(self.medium, cwd=self.start_folder)
        self.state = self.session.state()

    def enable_confirm(self) -> None:
        """A real click on the picture button; it reads the notes and enables "确认"."""
        self.session.mouse_click(*self.state.control(Id.COMMAND4).rect.centre)

        def enabled():
            state = self.session.state()
            return state if state.control(Id.CMD_CONTINUE).enabled else None

        self.state = self.eventually(enabled, timeout=10, message="the picture button did not enable 确认")

    def starts(self) -> list[harness.InstallerStart]:
        return harness.installer_starts(self.record)

    def assertEndsWithin(self, seconds: float) -> None:
        self.assertIsNotNone(self.launcher.wait_exit(seconds), f"setup.exe still runs {seconds} s later")
        self.assertFalse(self.session.window_exists(), "the setup window outlived its process")

    def assertInstallerStartedOnce(self) -> None:
        self.eventually(self.starts, timeout=15, message="the installer did not start")
        self.settle(0.5)  # a second start would have been recorded by now
        starts = self.starts()
        self.assertEqual(len(starts), 1, starts)
        installer = self.medium.windows_dir + "vorncopy\\tarvinxp.exe"
        self.assertEqual(starts[0].program, installer)
        self.assertEqual(starts[0].command_line, f'"{installer}"', "the path alone, quoted, with no arguments")
        self.assertEqual(starts[0].current_directory, "C:\\start here")

    def assertNothingStartedOrCopied(self) -> None:
        self.settle(0.5)
        self.assertEqual(self.starts(), [])
        system32 = self.session.drive_c / "windows" / "system32"
        self.assertEqual([p.name for p in system32.iterdir() if p.name.lower() in COMPONENTS], [])


class Confirm(HandOverCase):
    def test_click_starts_the_installer_once_and_ends_within_two_seconds(self):
        self.launch()
        self.enable_confirm()
        self.session.mouse_click(*self.state.control(Id.CMD_CONTINUE).rect.centre)
        self.assertEndsWithin(2)
        self.assertInstallerStartedOnce()

    def test_enter_in_the_notes_panel_presses_confirm(self):
        self.launch()
        self.enable_confirm()
        self.session.mouse_click(*self.state.control(Id.TEXT2).rect.centre)
        self.assertFocusBecomes(Id.TEXT2)
        self.session.type_keys("Return")
        self.assertEndsWithin(2)
        self.assertInstallerStartedOnce()

    def test_medium_in_a_folder_with_a_blank_never_runs_the_decoy_beside_it(self):
        # Started from the unquoted path, Windows would try C:\My.exe first.
        decoy = self.session.drive_c / "My.exe"
        decoy.write_bytes(harness.sample_installer_exe().read_bytes())
        self.addCleanup(decoy.unlink)
        self.launch(on_drive_c="My Setup")
        self.enable_confirm()
        self.session.mouse_click(*self.state.control(Id.CMD_CONTINUE).rect.centre)
        self.assertEndsWithin(2)
        self.assertInstallerStartedOnce()

    def test_medium_in_a_folder_with_chinese_characters(self):
        self.launch(on_drive_c="安装 光盘")
        self.enable_confirm()
        self.session.mouse_click(*self.state.control(Id.CMD_CONTINUE).rect.centre)
        self.assertEndsWithin(2)
        self.assertInstallerStartedOnce()


class InstallerThatCannotStart(HandOverCase):
    """Whatever stands where the installer should be, the launcher ends without a word."""

    def confirm_and_expect_a_silent_end(self) -> None:
        self.enable_confirm()
        self.session.mouse_click(*self.state.control(Id.CMD_CONTINUE).rect.centre)
        self.assertEndsWithin(2)
        self.settle(1)  # an error box would have shown by now
        self.assertEqual(self.session.visible_windows(), [])
        self.assertEqual(self.starts(), [])

    def test_missing_installer(self):
        self.launch(with_installer=False)
        self.confirm_and_expect_a_silent_end()

    def test_installer_that_is_no_program(self):
        self.launch(with_installer=False, extra_files={"vorncopy/tarvinxp.exe": b"no program at all\r\n" * 64})
        self.confirm_and_expect_a_silent_end()

    def test_folder_named_like_the_installer(self):
        self.launch(with_installer=False)
        self.medium.file("vorncopy/tarvinxp.exe").mkdir()
        self.confirm_and_expect_a_silent_end()


class EndingWithoutTheInstaller(HandOverCase):
    """With "确认" enabled and the installer in place, the other ways out start and copy nothing."""

    def test_cancel_escape_and_the_title_strip_button(self):
        enders = {
            "取消": lambda: self.session.mouse_click(*self.state.control(Id.CMD_CANCEL).rect.centre),
            "Esc": lambda: self.session.type_keys("Escape"),
            "><": lambda: self.session.mouse_click(*self.point("Command1")),
        }
        for name, end in enders.items():
            with self.subTest(name):
                self.launch()
                self.enable_confirm()
                end()
                self.assertEndsWithin(2)
                self.assertNothingStartedOrCopied()


class ConfirmWhileTheNotesFill(HandOverCase):
    """"确认" pressed, enabled, while a picture button click still fills the panel with a long line takes
    its turn: the click finishes with its copies (the running launcher sees C:\\WINNT as its Windows
    directory), then the installer starts and the launcher ends. A click posted to "确认" while it is
    disabled is ignored, then and later."""

    def test_a_press_during_the_fill_starts_the_installer_once_the_click_has_finished(self):
        system32 = self.session.winnt_system32_holding(lambda name: b"older " + name.encode())
        self.launch()
        self.session.report_windows_directory_as_winnt()
        self.session.click(Id.CMD_CONTINUE)  # disabled: nothing, not even later
        self.enable_confirm()  # the short sample notes
        self.click_picture_button()
        self.wait_panel(visible=False)

        # The next show reads one long line, and the medium now carries newer components.
        notes = single_line(1024 * 1024)
        self.medium.file("voabc.txt").write_bytes(notes)
        newer = {name: f"{name} from the click that was filling".encode() for name in COMPONENT_NAMES}
        for name, content in newer.items():
            self.medium.file(f"vorncopy/{name}").write_bytes(content)
        self.click_picture_button()
        panel = self.wait_panel(visible=True, timeout=30).control(Id.TEXT2)
        self.assertLess(len(panel.text), len(notes.decode("gbk")), "the panel filled before 确认 could be pressed")
        self.session.mouse_click(*self.state.control(Id.CMD_CONTINUE).rect.centre)

        self.eventually(self.starts, timeout=180, message="the press during the fill started no installer")
        self.assertInstallerStartedOnce()
        self.assertEqual({name: (system32 / name).read_bytes() for name in COMPONENT_NAMES}, newer,
                         "the installer started before the click that was filling had finished its copies")
        self.assertEndsWithin(5)


class DemonstrationInstaller(harness.LauncherTestCase):
    """The demonstration medium's installer, which the launcher hands over to in scripts/demo."""

    launch_on_setup = False

    def test_it_shows_that_the_second_stage_has_started(self):
        program = self.session.wine(str(harness.demo_installer_exe()))
        self.addCleanup(program.kill)
        self.eventually(lambda: "tarvin 第二阶段安装程序 (示例)" in self.session.visible_windows(), timeout=20,
                        message=f"no installer window among {self.session.visible_windows()}")


if __name__ == "__main__":
    unittest.main()
