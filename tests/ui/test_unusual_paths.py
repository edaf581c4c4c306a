"""The launcher's whole road from a medium whose folder path is longer than the classic 260-character
limit, and from one whose name holds characters outside the ANSI code page (936 here): the notes
panel, the deployment into the system32 folder of a C:\\WINNT Windows directory (tools/ntinject, as
in test_picture_button) and the hand-over to the installer."""

import unittest

import harness
from harness import Id

NOTES_TEXT = "安装须知\r\n第二行"
NOTES_PANEL = "\r\n安装须知\r\n第二行"
COMPONENT_NAMES = harness.component_names()

# Hangul, Devanagari and a character outside the Basic Multilingual Plane: none is in code page 936.
FOREIGN_FOLDER = "설치 디스크 स्थापना \U0001F4BF"


class UnusualMediumPaths(harness.LauncherTestCase):
    code_page_936 = True
    launch_on_setup = False

    def setUp(self):
        super().setUp()
        self.record = self.record_installer_starts()
        self.winnt_system32 = self.session.winnt_system32_holding(lambda name: b"an older " + name.encode())

    def medium_in(self, folders: list[str]) -> harness.Medium:
        """A medium laid out in a folder chain of drive C:, with components unique to this medium."""
        relative = "\\".join(folders)
        folder = self.session.drive_c.joinpath(*folders)
        components = {f"vorncopy/{name}": f"{name} from {folders[-1]}".encode() for name in COMPONENT_NAMES}
        harness.lay_out_medium(folder, notes=NOTES_TEXT.encode("gbk"), extra_files=components)
        return harness.Medium(folder, f"C:\\{relative}\\")

    def run_whole_road(self, medium: harness.Medium) -> None:
        self.medium = medium
        self.launcher = self.session.launch(medium)
        self.session.report_windows_directory_as_winnt()

        self.session.click(Id.COMMAND4)
        state = self.eventually(lambda: (s := self.session.state()).control(Id.TEXT2).visible and s, timeout=10,
                                message="the notes panel did not show")
        self.assertEqual(state.control(Id.TEXT2).text, NOTES_PANEL)
        self.assertTrue(state.control(Id.CMD_CONTINUE).enabled)
        for name in COMPONENT_NAMES:
            expected = medium.file(f"vorncopy/{name}").read_bytes()
            self.eventually(lambda: (self.winnt_system32 / name).read_bytes() == expected, timeout=10,
                            message=f"{name} was not deployed from {medium.windows_dir}")

        self.session.click(Id.CMD_CONTINUE, post=True)
        self.assertIsNotNone(self.launcher.wait_exit(10), "setup.exe did not end")
        installer = medium.windows_dir + "vorncopy\\tarvinxp.exe"
        if len(installer) >= 260 and not self.session.road.starts_programs_past_max_path:
            self.skipTest("the hand-over: this road's Wine starts no program deeper than MAX_PATH (common.Road)")
        starts = self.eventually(lambda: harness.installer_starts(self.record), timeout=15,
                                 message="the installer did not start")
        self.assertEqual([start.command_line for start in starts], [f'"{installer}"'])
        if len(installer) < 260:
            self.assertEqual(starts[0].program, installer)
        # Deeper than that, the launcher names the program by its short 8.3 form: the same file.

    def test_medium_deeper_than_the_classic_path_limit(self):
        folders = ["installation media"] + [f"level {k} of a deeply nested download folder" for k in range(6)]
        medium = self.medium_in(folders)
        self.assertGreater(len(medium.windows_dir + "vorncopy\\tarvinxp.exe"), 300)
        self.run_whole_road(medium)

    def test_medium_named_outside_the_ansi_code_page(self):
        self.run_whole_road(self.medium_in([FOREIGN_FOLDER]))

    def test_long_medium_path_with_characters_outside_the_ansi_code_page(self):
        medium = self.medium_in([FOREIGN_FOLDER] + [f"{FOREIGN_FOLDER} {k}" for k in range(14)])
        self.assertGreater(len(medium.windows_dir + "vorncopy\\tarvinxp.exe"), 300)
        self.run_whole_road(medium)


if __name__ == "__main__":
    unittest.main()
