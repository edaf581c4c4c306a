"""The payload check of a setup.exe that carries a payload list (see listed_setup.py for where that
program comes from): a genuine medium is used exactly as always; one changed byte in the notes, in a
component on the C:\\WINNT road or in the installer is refused where the file is used, with the message
box naming the file, nothing copied and no installer started. The same holds where CryptoAPI has no
SHA-256, as before Windows XP SP3 (the list's SHA-1 vouches then); where it has no hash at all, the box
says that this Windows cannot check the medium, and nothing is used."""

import unittest

import harness
from common import SAMPLE_MEDIUM
from facts import facts
from harness import Id
from listed_setup import carried_list, genuine_payload, listed_setup_exe, payload_list

COMPONENT_NAMES = harness.component_names()
# The launcher's boxes are found by their title, the title strip's words (the window's caption is "* #").
BOX = ("--caption", harness.message_box_title())
OLDER = b"an older component already in place"


def flip_one_byte(path) -> None:
    data = bytearray(path.read_bytes())
    data[len(data) // 2] ^= 0x01
    path.write_bytes(bytes(data))


# What Windows before XP SP3 lacks: the enhanced provider with SHA-256 (its name, the name of its prototype,
# which XP SP3 has, and its provider type), deleted from the prefix as its CryptoAPI then behaves so.
AES_PROVIDER_KEYS = [r"HKLM\Software\Microsoft\Cryptography\Defaults\Provider\Microsoft Enhanced RSA and AES"
                     r" Cryptographic Provider" + suffix for suffix in ("", " (Prototype)")] + [
    r"HKLM\Software\Microsoft\Cryptography\Defaults\Provider Types\Type 024"]


class PayloadCheckCase(harness.LauncherTestCase):
    code_page_936 = True
    launch_on_setup = False

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls.program = listed_setup_exe(cls.road)
        if not cls.program.is_file():
            raise AssertionError(f"no setup.exe with a payload list at {cls.program} "
                                 "(tests/ui/listed_setup.py build makes it)")
        # The program must vouch for exactly the medium these tests lay out, or "genuine" means nothing.
        if carried_list(cls.program) != payload_list(genuine_payload(cls.road)):
            raise AssertionError(f"{cls.program} does not carry the list of the tests' genuine payload")

    def setUp(self):
        super().setUp()
        self.record = self.record_installer_starts()
        self.winnt_system32 = self.session.winnt_system32_holding(lambda name: OLDER)

    def launch(self, changed: str | None = None) -> None:
        """The genuine medium with the listed program, one byte of the file changed (a path below the
        medium) if asked; the running launcher sees C:\\WINNT as its Windows directory."""
        self.medium = self.session.make_medium(program=self.program)
        if changed:
            flip_one_byte(self.medium.file(changed))
        self.launcher = self.session.launch(self.medium)
        self.state = self.session.state()
        self.session.report_windows_directory_as_winnt()

    def deployed(self) -> dict[str, bytes]:
        return {name: (self.winnt_system32 / name).read_bytes() for name in COMPONENT_NAMES}

    def starts(self) -> list[harness.InstallerStart]:
        return harness.installer_starts(self.record)

    def confirm_enabled(self) -> bool:
        return self.session.state().control(Id.CMD_CONTINUE).enabled

    def message_box(self) -> dict:
        box = self.session.probe(*BOX, "--timeout-ms", str(int(self.session.road.seconds(15) * 1000)), "message-box",
                                 timeout=self.session.road.seconds(60))
        return box

    def assertRefusalNames(self, relative_path: str) -> None:
        box = self.message_box()
        self.assertEqual(box["texts"], [harness.refusal_message(relative_path)])
        self.assertEqual(box["caption"], harness.message_box_title())
        self.assertEqual(box["owner_caption"], harness.window_caption(), "the setup window owns the box")
        self.assertEqual(box["owner_class"], facts()["setup"]["class"])
        self.assertEqual(len(box["buttons"]), 1, box["buttons"])

    def dismiss_message_box(self) -> None:
        self.session.probe(*BOX, "message-box", "ok")
        self.eventually(lambda: self.session.probe(*BOX, "--timeout-ms", "0", "message-box", check=False) is None,
                        timeout=10, message="the message box stayed")

    def assertNothingMoreIsUsed(self) -> None:
        """Hide and show again, and a click posted to "确认": nothing copied, nothing started."""
        for visible in (False, True):
            self.click_picture_button()
            self.wait_panel(visible=visible)
        self.session.click(Id.CMD_CONTINUE, post=True)
        self.assertLauncherRuns(settle=1)
        self.assertFalse(self.confirm_enabled())
        self.assertEqual(self.deployed(), {name: OLDER for name in COMPONENT_NAMES})
        self.assertEqual(self.starts(), [])

    def assertGenuineMediumIsUsedAsAlways(self) -> None:
        self.launch()
        self.click_picture_button()
        panel = self.wait_panel(visible=True).control(Id.TEXT2)
        self.assertIn("岫川演示版本 安装说明", panel.text)
        self.eventually(self.confirm_enabled, message="确认 stayed disabled")
        expected = {name: (SAMPLE_MEDIUM / "vorncopy" / name).read_bytes() for name in COMPONENT_NAMES}
        self.eventually(lambda: self.deployed() == expected, message="the components were not deployed")
        self.assertIsNone(self.session.probe(*BOX, "--timeout-ms", "0", "message-box", check=False))
        self.session.mouse_click(*self.state.control(Id.CMD_CONTINUE).rect.centre)
        self.assertLauncherEnds(5)
        self.eventually(self.starts, timeout=15, message="the installer did not start")
        self.assertEqual([start.program for start in self.starts()],
                         [self.medium.windows_dir + "vorncopy\\tarvinxp.exe"])

    def assertChangedNotesAreRefused(self, screenshot: str) -> None:
        self.launch(changed="voabc.txt")
        self.click_picture_button()
        self.assertRefusalNames("voabc.txt")
        self.session.screenshot(self.session.road.work_dir / f"{screenshot}-{self.session.road.name}.png")
        self.assertEqual(self.session.state().control(Id.TEXT2).text, "")
        self.assertFalse(self.confirm_enabled())
        self.dismiss_message_box()
        self.assertNothingMoreIsUsed()
        self.session.mouse_click(*self.state.control(Id.CMD_CANCEL).rect.centre)
        self.assertLauncherEnds(5)


class PayloadCheck(PayloadCheckCase):
    def test_a_genuine_medium_is_used_as_always(self):
        self.assertGenuineMediumIsUsedAsAlways()

    def test_changed_notes_are_not_shown_and_nothing_is_copied(self):
        self.assertChangedNotesAreRefused("payload-refusal")

    def test_a_changed_component_deploys_neither_on_the_winnt_road(self):
        self.launch(changed="vorncopy/Dao350.dll")
        self.click_picture_button()
        self.assertRefusalNames("vorncopy\\Dao350.dll")
        # The genuine notes went in before the components were checked; "确认" is disabled again.
        self.assertIn("岫川演示版本 安装说明", self.session.state().control(Id.TEXT2).text)
        self.assertFalse(self.confirm_enabled())
        self.assertEqual(self.deployed(), {name: OLDER for name in COMPONENT_NAMES})
        self.dismiss_message_box()
        self.assertNothingMoreIsUsed()

    def test_a_dll_planted_beside_the_genuine_installer_starts_nothing(self):
        # version.dll: what a genuine installer loaded from its own folder in a black-box run. Wine's
        # user32 imports it at start, so under Wine no program would take the file: the box and the
        # installer that never starts are what this run can see.
        markers = self.session.folder / "planted-markers"
        markers.mkdir()
        self.set_environment(PLANTED_DLL_MARKERS=self.session.windows_path(markers))
        self.medium = self.session.make_medium(program=self.program)
        planted = harness.built_program("planted_dll.dll", "tools/planted_dll").read_bytes()
        self.medium.file("vorncopy/version.dll").write_bytes(planted)
        self.launcher = self.session.launch(self.medium)
        self.state = self.session.state()
        self.click_picture_button()
        self.eventually(self.confirm_enabled, message="确认 stayed disabled")
        self.session.mouse_click(*self.state.control(Id.CMD_CONTINUE).rect.centre)
        box = self.message_box()
        self.assertEqual(len(box["texts"]), 1, box["texts"])
        self.assertIn("vorncopy\\version.dll", box["texts"][0])
        self.assertNotEqual(box["texts"], [harness.refusal_message("vorncopy\\version.dll")], "nothing is damaged")
        self.assertEqual(box["caption"], harness.message_box_title())
        self.assertEqual(box["owner_caption"], harness.window_caption())
        self.session.screenshot(self.session.road.work_dir / f"planted-dll-refusal-{self.session.road.name}.png")
        self.dismiss_message_box()
        self.assertIsNotNone(self.launcher.wait_exit(self.session.road.seconds(5)), "setup.exe still runs")
        self.settle(1)
        self.assertEqual(self.starts(), [])
        self.assertEqual(sorted(markers.iterdir()), [])

    def test_a_changed_installer_is_not_started_and_the_launcher_ends(self):
        self.launch(changed="vorncopy/tarvinxp.exe")
        self.click_picture_button()
        self.eventually(self.confirm_enabled, message="确认 stayed disabled")
        self.session.mouse_click(*self.state.control(Id.CMD_CONTINUE).rect.centre)
        self.assertRefusalNames("vorncopy\\tarvinxp.exe")
        self.assertEqual(self.starts(), [])
        self.dismiss_message_box()
        self.assertIsNotNone(self.launcher.wait_exit(self.session.road.seconds(5)), "setup.exe still runs")
        self.settle(1)
        self.assertEqual(self.starts(), [])


class WithoutSha256(PayloadCheckCase):
    """CryptoAPI as Windows XP before SP3 has it: SHA-1 alone."""

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        for key in AES_PROVIDER_KEYS:
            cls.session.run_wine("reg", "delete", key, "/f")

    def test_a_genuine_medium_is_used_as_always(self):
        self.assertGenuineMediumIsUsedAsAlways()

    def test_changed_notes_are_still_refused(self):
        self.assertChangedNotesAreRefused("payload-refusal-sha1")


class WithoutAnyHash(PayloadCheckCase):
    """No CryptoAPI provider at all: the platform, not the medium, is what cannot be trusted to check."""

    def test_the_user_is_told_this_windows_cannot_check_and_nothing_is_used(self):
        self.set_environment(WINEDLLOVERRIDES=self.session.env["WINEDLLOVERRIDES"] + ";rsaenh=d")
        self.launch()
        self.click_picture_button()
        box = self.message_box()
        self.assertEqual(box["texts"], [harness.refusal_message("", "cannot_hash")])
        self.assertNotIn("voabc.txt", box["texts"][0])
        self.session.screenshot(self.session.road.work_dir / f"payload-cannot-check-{self.session.road.name}.png")
        self.assertEqual(self.session.state().control(Id.TEXT2).text, "")
        self.dismiss_message_box()
        self.assertNothingMoreIsUsed()


if __name__ == "__main__":
    unittest.main()
