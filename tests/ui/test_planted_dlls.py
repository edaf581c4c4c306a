"""No planted DLL is ever loaded. The medium's folder holds a marker DLL (tools/planted_dll) under the
names of system DLLs; each copy that gets loaded leaves a marker file. The launcher runs its whole road
(window shown, notes panel shown and hidden, "确认") and no marker may appear.

Inside a Wine prefix, Wine prefers its own builtin DLLs to a file in the program's folder. The names
that Windows would look for in the application folder therefore get Windows' order (native first, then
builtin: "name=n,b"), so that an unprotected program really takes the planted file. A control run of a
window program that does not restrict its DLL search, from the same folder with the same settings,
proves that the planted files are live.
"""

import shutil
import unittest

import harness
from harness import Id

# Not known DLLs on every Windows the launcher runs on, so Windows looks for them in the application
# folder first: the shell, theming, image decoding, input and accessibility DLLs that user32, ole32,
# oleaut32 and shell32 load on demand, and every DLL the launcher itself loads at run time (comctl32
# for the tool tip).
SEARCHED_NAMES = (
    "bcrypt", "comctl32", "cryptbase", "cryptsp", "d2d1", "dbghelp", "dwmapi", "dwrite", "gdiplus", "msctf", "msimg32", "oleacc", "profapi", "propsys", "riched20", "secur32", "setupapi", "sspicli",
    "textinputframework", "uiautomationcore", "userenv", "uxtheme", "windowscodecs", "winmm", "winspool.drv",
    "wintrust", "wtsapi32",
)  # fmt: skip

# Planted as well, but left in Wine's default order (builtin first):
# - known DLLs (and what they import), which Windows never takes from the application folder, and
#   which Wine's builtin user32, ole32 and shell32 import at process start, before any line of the
#   program runs: in Windows' order a planted file there would stop every program, protected or not;
# - imm32.dll: a known DLL since Windows 7, and XP's user32 loads it by full path; Wine's user32
#   imports it at process start;
# - version.dll: Windows' user32 does not import it, but Wine's does, at process start, so the name
#   cannot be tested at run time under Wine (the import-table check covers the launcher's side).
DEFAULT_ORDER_NAMES = (
    "kernel32", "user32", "gdi32", "advapi32", "ole32", "oleaut32", "shell32", "msvcrt", "rpcrt4", "combase",
    "sechost", "shlwapi", "imm32", "version",
)  # fmt: skip
# Not planted: shcore.dll, a known DLL since Windows 8.1 that Wine's shlwapi imports at process start;
# Wine takes a copy from the application folder for it even in its default order, so no program could
# start beside one.


def dll_file_name(name: str) -> str:
    return name if "." in name else name + ".dll"


def planted_files() -> dict[str, bytes]:
    marker_dll = harness.built_program("planted_dll.dll", "tools/planted_dll").read_bytes()
    return {dll_file_name(name): marker_dll for name in SEARCHED_NAMES + DEFAULT_ORDER_NAMES}


def windows_search_order() -> str:
    """WINEDLLOVERRIDES with the names Windows searches in the application folder set native first."""
    names = ",".join(name for name in SEARCHED_NAMES)
    return f"{harness.BASE_WINE_ENV['WINEDLLOVERRIDES']};{names}=n,b"


class PlantedDlls(harness.LauncherTestCase):
    code_page_936 = True
    launch_on_setup = False

    def setUp(self):
        super().setUp()
        self.markers = self.session.folder / f"{self.id()}.markers"
        self.markers.mkdir()
        self.record = self.record_installer_starts()
        self.set_environment(WINEDLLOVERRIDES=windows_search_order(),
                             PLANTED_DLL_MARKERS=self.session.windows_path(self.markers))

    def loaded_markers(self) -> dict[str, str]:
        """Planted file name -> the program that loaded it."""
        return {
            marker.name.removesuffix(".loaded"): marker.read_bytes().decode("utf-16-le")
            for marker in sorted(self.markers.glob("*.loaded"))
        }

    def test_the_planted_files_are_live_for_an_unprotected_program(self):
        # The control: without it, a Wine that ignored the overrides would let the next test pass blindly.
        folder = self.session.folder / "unprotected"
        folder.mkdir()
        for name, content in planted_files().items():
            (folder / name).write_bytes(content)
        shutil.copy2(harness.built_program("minimal_window.exe", "tools/minimal_window"), folder)
        program = self.session.wine(self.session.windows_path(folder / "minimal_window.exe"), cwd=folder)
        try:
            self.eventually(self.loaded_markers, timeout=20, message="no planted DLL was loaded at all")
        finally:
            program.kill()
            program.wait()
        self.assertTrue(set(self.loaded_markers()) <= {dll_file_name(n) for n in SEARCHED_NAMES})

    def test_the_launcher_loads_none_on_its_whole_road(self):
        self.medium = self.session.make_medium(extra_files=planted_files())
        self.launcher = self.session.launch(self.medium)
        self.state = self.session.state()

        self.session.click(Id.COMMAND4)
        self.eventually(lambda: self.session.state().control(Id.TEXT2).visible, timeout=10,
                        message="the notes panel did not show")
        self.assertTrue(self.session.state().control(Id.CMD_CONTINUE).enabled)
        self.session.click(Id.COMMAND4)
        self.eventually(lambda: not self.session.state().control(Id.TEXT2).visible, timeout=10,
                        message="the notes panel did not hide")
        self.session.click(Id.CMD_CONTINUE, post=True)
        self.assertIsNotNone(self.launcher.wait_exit(10), "setup.exe did not end")
        self.eventually(lambda: harness.installer_starts(self.record), timeout=15,
                        message="the installer did not start")

        self.assertEqual(self.loaded_markers(), {})


if __name__ == "__main__":
    unittest.main()
