"""What a screenshot shows at start. Every point and area comes from the twip boxes and lines of the
window's design, at the screen's resolution, so the same checks hold from 96 to 192 dpi, and in a Western
locale as in the Chinese one."""

import time
import unittest

from harness import ROADS, LauncherTestCase, Rect, Session, twips_to_pixels

NAVY = (0, 0, 128)
WHITE = (255, 255, 255)
TEAL = (0, 128, 128)
PALE_BLUE = (217, 226, 244)
BLUE_GREY = (160, 184, 201)
DARK_RED = (192, 0, 0)
PANEL = (241, 243, 233)
# How far the two builds' screens may differ: a few grey pixels at the edges of glyphs, each a few levels.
GLYPH_EDGE_PIXELS = 8
GLYPH_EDGE_LEVELS = 24


def luminance(rgb) -> float:
    red, green, blue = rgb
    return 0.299 * red + 0.587 * green + 0.114 * blue


class ScreenAtStart(LauncherTestCase):
    dpi = 96

    def setUp(self):
        super().setUp()
        # The pointer off the window: no hover look, no tool tip.
        self.session.mouse_move(0, 0)
        self.shot = self.session.screenshot()

    def pixels(self, rect: Rect) -> list[tuple[int, int, int]]:
        image = self.shot.crop((rect.left, rect.top, rect.right, rect.bottom))
        return list(image.getdata())

    def share_of(self, rect: Rect, colour) -> float:
        pixels = self.pixels(rect)
        return sum(1 for p in pixels if p == colour) / len(pixels)

    def px(self, twips: float) -> int:
        return twips_to_pixels(twips, self.state.dpi)

    def client_rect_twips(self, left, top, right, bottom) -> Rect:
        """A rectangle of the client area given in twips, on the screen."""
        x1, y1 = self.twip_point(left, top)
        x2, y2 = self.twip_point(right, bottom)
        return Rect(x1, y1, x2, y2)

    def test_title_strip_is_navy(self):
        # Right of the title text, left of the "><" button: nothing but the strip's background.
        self.assertGreater(self.share_of(self.client_rect_twips(3700, 30, 6900, 400), NAVY), 0.99)

    def test_background_is_white(self):
        # Between the left picture and the notes, and right of the notes.
        for area in (self.client_rect_twips(1420, 600, 1900, 3300), self.client_rect_twips(6800, 600, 7450, 3300)):
            with self.subTest(area=area):
                self.assertGreater(self.share_of(area, WHITE), 0.99)

    def test_bottom_edge_is_the_teal_line(self):
        # Line5 runs at 5250 twips, 3 pixels wide, past both sides: the window's last row is teal all along.
        line_y = self.state.client.top + self.px(5250)
        self.assertLessEqual(abs(line_y - (self.state.client.bottom - 1)), 2, "the design's line is not at the edge")
        row = Rect(self.state.client.left, self.state.client.bottom - 1, self.state.client.right,
                   self.state.client.bottom)
        self.assertGreater(self.share_of(row, TEAL), 0.95)

    def test_right_edge_is_the_pale_blue_line(self):
        # Line6 at 7560 twips, 2 pixels wide, from under the title strip down to the bottom picture.
        x = min(self.state.client.left + self.px(7560), self.state.client.right - 1)
        column = Rect(x, self.twip_point(0, 600)[1], x + 1, self.twip_point(0, 3500)[1])
        self.assertGreater(self.share_of(column, PALE_BLUE), 0.95)

    def test_picture_button_shows_its_colour(self):
        button = self.box("Command4").inset(self.px(60))
        self.assertGreater(self.share_of(button, BLUE_GREY), 0.3)

    def test_both_pictures_are_drawn(self):
        # Photographs and line drawings have many colours; an empty box has one or two.
        left_strip = self.box("Image1").inset(self.px(60))
        left_strip = Rect(left_strip.left, left_strip.top, left_strip.right, self.box("Command4").top - 2)
        bottom = self.box("Image3")
        bottom_above_buttons = Rect(bottom.left + 2, bottom.top + 2, bottom.right - 4, self.box("cmdContinue").top - 4)
        for name, area in (("left picture", left_strip), ("bottom picture", bottom_above_buttons)):
            with self.subTest(name):
                colours = set(self.pixels(area))
                self.assertGreater(len(colours), 40, f"{name}: only {len(colours)} colours in {area}")
                self.assertLess(self.share_of(area, WHITE), 0.9, f"{name}: mostly white")

    def test_notes_are_written_in_dark_text(self):
        for name in ("Label3", "Label4", "Label5", "Label15", "Label6", "Label13"):
            with self.subTest(name):
                pixels = self.pixels(self.box(name))
                # Small anti-aliased glyphs are grey more than black: count every clearly darkened pixel.
                ink = [p for p in pixels if luminance(p) < 160]
                self.assertGreater(len(ink), max(30, len(pixels) // 50), f"{name}: {len(ink)} pixels of ink")

    def test_heading_is_dark_red(self):
        reddish = [p for p in self.pixels(self.box("Label12")) if p[0] > 120 and p[1] < 80 and p[2] < 80]
        self.assertGreater(len(reddish), 20)

    def test_title_is_white_on_navy(self):
        title = self.pixels(self.box("Label2"))
        light = [p for p in title if luminance(p) > 200]
        self.assertGreater(len(light), 20)

    def test_text_panel_does_not_show(self):
        # Hidden: its pale green-grey background appears nowhere in its box.
        self.assertLess(self.share_of(self.box("Text2"), PANEL), 0.01)


class ScreenAtStartAt120Dpi(ScreenAtStart):
    dpi = 120


class ScreenAtStartAt144Dpi(ScreenAtStart):
    dpi = 144


class ScreenAtStartAt192Dpi(ScreenAtStart):
    dpi = 192


class ScreenAtStartInAWesternLocale(ScreenAtStart):
    """The texts are held as Unicode, so a system whose ANSI code page is Western (1252) shows them as well."""

    unix_locale = "C.UTF-8"

    def test_runs_with_the_western_code_page(self):
        self.assertEqual(self.state.ansi_code_page, 1252)


class SameScreenAsTheX8664Build(LauncherTestCase):
    """On the i686 road: the release setup.exe draws its first screen as the x86-64 build, whose screens
    every other scenario checks, draws it, pixel for pixel but for the shading of a glyph edge or two
    (both run in this test, one after the other)."""

    code_page_936 = True

    @classmethod
    def setUpClass(cls) -> None:
        if cls.road is ROADS["x86_64"]:
            raise unittest.SkipTest("compares another build's screen with the x86-64 build's")
        super().setUpClass()

    def settled_window(self, session: Session, window: Rect):
        """The window's pixels once two screenshots in a row agree: the pictures come after the window."""
        previous = None
        deadline = time.monotonic() + session.road.seconds(10)
        while True:
            shot = session.screenshot().crop((window.left, window.top, window.right, window.bottom)).convert("RGB")
            if previous is not None and shot.tobytes() == previous.tobytes() or time.monotonic() > deadline:
                return shot
            previous = shot
            time.sleep(session.road.seconds(0.25))

    def test_window_is_drawn_pixel_for_pixel_alike(self):
        actual = self.settled_window(self.session, self.state.rect)
        with Session(code_page_936=self.code_page_936, road=ROADS["x86_64"]) as reference:
            reference.mouse_move(0, 0)
            reference.launch()
            expected_rect = reference.state().rect
            expected = self.settled_window(reference, expected_rect)
        self.assertEqual(self.state.rect, expected_rect)
        width = actual.width
        differing = [((i % width, i // width), a, e)
                     for i, (a, e) in enumerate(zip(actual.getdata(), expected.getdata())) if a != e]
        # The text goes through the i386 Wine's own glyph rasteriser, whose floating point rounds a little
        # differently: a pixel at a glyph's anti-aliased edge may come out a few grey levels apart (at
        # 96 dpi one pixel of a Chinese label, 208 against 199). Nothing else may differ.
        shaded_edges = [(xy, a, e) for xy, a, e in differing
                        if len(set(a)) == 1 and len(set(e)) == 1 and abs(a[0] - e[0]) <= GLYPH_EDGE_LEVELS]
        if len(differing) > len(shaded_edges) or len(shaded_edges) > GLYPH_EDGE_PIXELS:
            folder = self.session.road.work_dir / "failures"
            folder.mkdir(parents=True, exist_ok=True)
            actual.save(folder / f"{self.id()}.{self.road.name}.png")
            expected.save(folder / f"{self.id()}.x86_64.png")
            self.fail(f"{len(differing)} pixels differ, first {differing[:5]} (both screens saved in {folder})")


if __name__ == "__main__":
    unittest.main()
