"""The setup window's frame as the window system sees it: no caption or border, topmost, no task bar
button, the size of its twip design at the screen's resolution, centred on a 1024 x 768 screen."""

import os
import subprocess
import unittest

import harness
from harness import Id, LauncherTestCase

WS_POPUP = 0x80000000
WS_CAPTION = 0x00C00000  # title bar (WS_BORDER | WS_DLGFRAME)
WS_BORDER = 0x00800000
WS_DLGFRAME = 0x00400000
WS_SYSMENU = 0x00080000
WS_THICKFRAME = 0x00040000
WS_MINIMIZEBOX = 0x00020000
WS_MAXIMIZEBOX = 0x00010000
WS_EX_TOPMOST = 0x00000008
WS_EX_APPWINDOW = 0x00040000
WS_EX_FRAME_STYLES = 0x00000001 | 0x00000200 | 0x00020000  # dialog modal frame, client edge, static edge


class WindowFrame(LauncherTestCase):
    """At 96 dpi (15 twips per pixel) the 7575 x 5265 twip window is 505 x 351 pixels."""

    dpi = 96
    # The load step's sizes: the twips divided by the whole number of twips per pixel, truncated.
    expected_size = (505, 351)

    def test_has_no_caption_frame_or_system_menu(self):
        style = self.state.window["style"]
        self.assertTrue(style & WS_POPUP, f"style {style:#x}")
        for name, bits in [("caption", WS_CAPTION), ("border", WS_BORDER), ("dialog frame", WS_DLGFRAME),
                           ("system menu", WS_SYSMENU), ("sizing border", WS_THICKFRAME),
                           ("minimize box", WS_MINIMIZEBOX), ("maximize box", WS_MAXIMIZEBOX)]:
            self.assertFalse(style & bits, f"the window has a {name} (style {style:#x})")
        self.assertFalse(self.state.window["exstyle"] & WS_EX_FRAME_STYLES)
        # With no frame at all, the client area is the whole window.
        self.assertEqual(self.state.client, self.state.rect)

    def test_display_admits_only_clients_with_its_cookie(self):
        # The sockets of /tmp/.X11-unix are open to every local user: only the session's authority file
        # lets a client watch or drive the window.
        without_cookie = {**self.session.env, "XAUTHORITY": os.devnull}
        result = subprocess.run(["xdpyinfo"], env=without_cookie, capture_output=True, timeout=30)
        self.assertNotEqual(result.returncode, 0, "a client without the cookie reached the test display")

    def test_is_topmost(self):
        self.assertTrue(self.state.window["exstyle"] & WS_EX_TOPMOST)
        self.assertTrue(self.state.window["topmost"])

    def test_has_no_task_bar_button(self):
        window = self.state.window
        self.assertTrue(window["visible"])
        self.assertFalse(window["exstyle"] & WS_EX_APPWINDOW)
        self.assertFalse(window["taskbar_button"],
                         f"owner {window['owner']:#x}, exstyle {window['exstyle']:#x}: a task bar button")
        if window["owner"]:
            self.assertFalse(window["owner_visible"], "the owner window shows (and so would its button)")

    def test_caption_names_the_window_for_tools(self):
        self.assertEqual(self.state.window["caption"], harness.window_caption())

    def test_size_follows_the_twip_design(self):
        self.assertEqual(self.state.dpi, self.dpi, "the prefix does not have the resolution this test wants")
        self.assertEqual((self.state.rect.width, self.state.rect.height), self.expected_size)

    def test_is_centred_on_the_screen(self):
        screen_width, screen_height = self.state.screen
        self.assertEqual((screen_width, screen_height), harness.SCREEN_SIZE)
        rect = self.state.rect
        # The centred position is a whole pixel: half a pixel either way is still centred.
        self.assertLessEqual(abs((rect.left + rect.right) - screen_width), 1, f"{rect} on {screen_width} pixels")
        self.assertLessEqual(abs((rect.top + rect.bottom) - screen_height), 1, f"{rect} on {screen_height} pixels")

    def test_title_strip_spans_the_top_at_full_width(self):
        strip = self.state.control(Id.PICTURE1)
        client = self.state.client
        self.assertEqual((strip.rect.left, strip.rect.top, strip.rect.right), (client.left, client.top, client.right))
        self.assertAlmostEqual(strip.rect.height, harness.twips_to_pixels(435, self.state.dpi), delta=1)

    def test_buttons_sit_in_their_twip_boxes(self):
        for name, control_id in [("Command4", Id.COMMAND4), ("cmdCancel", Id.CMD_CANCEL),
                                 ("cmdContinue", Id.CMD_CONTINUE), ("Command1", Id.COMMAND1)]:
            with self.subTest(name):
                actual = self.state.control(control_id).rect
                expected = self.box(name)
                for edge in ("left", "top", "right", "bottom"):
                    self.assertAlmostEqual(getattr(actual, edge), getattr(expected, edge), delta=1,
                                           msg=f"{name}: {actual} instead of {expected}")


class WindowFrameAt120Dpi(WindowFrame):
    """At 120 dpi (12 twips per pixel) the whole window grows to 631 x 438."""

    dpi = 120
    expected_size = (631, 438)


class WindowFrameAt144Dpi(WindowFrame):
    """At 144 dpi (10 twips per pixel): 757 x 526, still inside a 1024 x 768 screen."""

    dpi = 144
    expected_size = (757, 526)


class WindowFrameAt192Dpi(WindowFrame):
    """At 192 dpi (7.5 twips per pixel) the design is exactly 1010 x 702, still inside a 1024 x 768 screen;
    the load step's divisions by the nearest whole factor, 8, must not shrink it to 946 x 658."""

    dpi = 192
    expected_size = (1010, 702)


if __name__ == "__main__":
    unittest.main()
