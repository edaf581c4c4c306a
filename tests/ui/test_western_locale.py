"""Chinese texts show whatever the system's ANSI code page: the launcher holds them as Unicode. The same
window started with a Western locale (code page 1252) and with the Chinese one (936) on screens of the
same size draws every label alike."""

import sys
import unittest

from PIL import ImageChops

import harness
from harness import LauncherTestCase

LABELS = ["Label2", "Label12", "Label3", "Label4", "Label5", "Label15", "Label6", "Label13"]


class WesternLocaleLooksLikeChinese(LauncherTestCase):
    unix_locale = "C.UTF-8"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.chinese = harness.Session(code_page_936=True).start()
        cls.addClassCleanup(cls.chinese.close)

    def setUp(self):
        super().setUp()
        self.chinese.mouse_move(0, 0)
        self.chinese.launch()
        self.addCleanup(self.chinese.launcher.end)
        self.chinese_state = self.chinese.state()
        self.session.mouse_move(0, 0)

    def test_code_pages_differ(self):
        self.assertEqual(self.state.ansi_code_page, 1252)
        self.assertEqual(self.chinese_state.ansi_code_page, 936)

    def test_labels_draw_the_same_glyphs(self):
        self.assertEqual(self.state.client, self.chinese_state.client)
        western, chinese = self.session.screenshot(), self.chinese.screenshot()
        for name in LABELS:
            with self.subTest(name):
                box = self.box(name)
                area = (box.left, box.top, box.right, box.bottom)
                western_area, chinese_area = western.crop(area), chinese.crop(area)
                # Text is whatever stands out from the label's background (dark notes, the white title).
                grey = list(western_area.convert("L").getdata())
                background = max(set(grey), key=grey.count)
                ink = sum(1 for p in grey if abs(p - background) > 60)
                differing = sum(1 for p in ImageChops.difference(western_area, chinese_area).convert("L").getdata()
                                if p > 24)
                print(f"\n{name}: {ink} pixels of text, {differing} differ between the locales",
                      file=sys.stderr)
                self.assertGreater(ink, 20, f"{name} shows no text")
                self.assertLessEqual(differing, box.width * box.height // 100)

    def test_window_caption_and_buttons_read_the_same(self):
        self.assertEqual(self.state.window["caption"], self.chinese_state.window["caption"])
        for control in self.state.controls:
            if 0 < control.id <= 37:
                with self.subTest(control.id):
                    self.assertEqual(control.text, self.chinese_state.control(control.id).text)


if __name__ == "__main__":
    unittest.main()
