"""The window at 96, 120, 144 and 192 dpi: every element keeps its place relative to the others (nothing
overlaps that does not at 96 dpi, nothing is cut off that shows whole at 96 dpi), the pictures are
scaled once, by the launcher, from their design size to their boxes (no second stretch by the system,
which a window that is not DPI-aware would get), and text is drawn at the screen's resolution. Each
class prints what it measured."""

import sys
import unittest
from itertools import combinations

from PIL import Image, ImageChops, ImageStat

import harness
from harness import LAYOUT, Id, LauncherTestCase, Rect, twips_to_pixels

RESOURCES = harness.REPO_ROOT / "src" / "resources"

# What the user sees at start: the child windows, and the painted labels and pictures.
CHILD_WINDOWS = {Id.PICTURE1: "Picture1", Id.COMMAND1: "Command1", Id.COMMAND4: "Command4",
                 Id.CMD_CANCEL: "cmdCancel", Id.CMD_CONTINUE: "cmdContinue"}
PAINTED = ["Label2", "Image2", "Label12", "Label3", "Label4", "Label5", "Label15", "Label6", "Label13",
           "Image3", "Image1"]
PICTURES = {"Image1": "left.jpg", "Image3": "bottom.jpg"}


def design_box(name: str, dpi: int) -> Rect:
    """A layout box in client pixels (the title strip starts at the client's top left corner)."""
    box = LAYOUT[name]
    return Rect(twips_to_pixels(box.left, dpi), twips_to_pixels(box.top, dpi),
                twips_to_pixels(box.left + box.width, dpi), twips_to_pixels(box.top + box.height, dpi))


def overlapping_pairs(boxes: dict[str, Rect]) -> set[tuple[str, str]]:
    return {(a, b) for a, b in combinations(sorted(boxes), 2) if boxes[a].intersects(boxes[b])}


def mean_difference(a: Image.Image, b: Image.Image) -> float:
    return sum(ImageStat.Stat(ImageChops.difference(a, b)).mean) / 3


def report(text: str) -> None:
    print(text, file=sys.stderr)


class ScreenScaling(LauncherTestCase):
    dpi = 96

    def setUp(self):
        super().setUp()
        self.session.mouse_move(0, 0)
        self.shot = self.session.screenshot()
        self.assertEqual(self.state.dpi, self.dpi, "the prefix does not have the resolution this test wants")

    def on_screen(self, rect: Rect) -> Rect:
        return rect.offset(self.state.client.left, self.state.client.top)

    def boxes_now(self) -> dict[str, Rect]:
        """The real child windows as the window system has them, and the painted rows from the design."""
        client = self.state.client
        boxes = {name: self.state.control(control_id).rect.offset(-client.left, -client.top)
                 for control_id, name in CHILD_WINDOWS.items()}
        boxes.update({name: design_box(name, self.dpi) for name in PAINTED})
        return boxes

    def test_nothing_overlaps_that_does_not_at_96_dpi(self):
        at_96 = {name: design_box(name, 96) for name in [*CHILD_WINDOWS.values(), *PAINTED]}
        now = self.boxes_now()
        new_pairs = overlapping_pairs(now) - overlapping_pairs(at_96)
        report(f"\n{self.dpi} dpi: {len(overlapping_pairs(now))} overlapping pairs "
               f"({len(overlapping_pairs(at_96))} at 96 dpi), new: {sorted(new_pairs) or 'none'}")
        self.assertFalse(new_pairs)

    def test_nothing_is_cut_off_that_shows_whole_at_96_dpi(self):
        window_96 = Rect(0, 0, 505, 351)
        client = self.state.client
        window_now = Rect(0, 0, client.width, client.height)
        for name, box in self.boxes_now().items():
            if not (box.left >= 0 and box.top >= 0 and design_box(name, 96).right <= window_96.right
                    and design_box(name, 96).bottom <= window_96.bottom):
                continue
            with self.subTest(name):
                # One pixel of rounding at the right or bottom edge (757.5 pixels wide at 144 dpi).
                self.assertLessEqual(box.right, window_now.right + 1, f"{name} {box} in {window_now}")
                self.assertLessEqual(box.bottom, window_now.bottom + 1, f"{name} {box} in {window_now}")

    def test_pictures_are_scaled_once_to_their_boxes(self):
        for name, file in PICTURES.items():
            with self.subTest(name):
                box = self.on_screen(design_box(name, self.dpi))
                shown = self.shot.crop((box.left, box.top, box.right, box.bottom))
                source = Image.open(RESOURCES / file).convert("RGB")
                # The area that no button covers: the upper part of each picture.
                share = 0.35 if name == "Image3" else 0.75
                region = (2, 2, box.width - 4, int(box.height * share))
                once = source.resize((box.width, box.height), Image.BOX)
                small = design_box(name, 96)
                at_96 = source.resize((small.width, small.height), Image.BOX)
                stretched = [at_96.resize((box.width, box.height), method)
                             for method in (Image.NEAREST, Image.BILINEAR)]
                scaled_once = mean_difference(shown.crop(region), once.crop(region))
                scaled_twice = min(mean_difference(shown.crop(region), s.crop(region)) for s in stretched)
                report(f"\n{self.dpi} dpi {name} {box.width}x{box.height}: differs from the source scaled once "
                       f"by {scaled_once:.2f}, from a 96 dpi picture stretched by {scaled_twice:.2f} (0-255)")
                # JPEG decoders differ by a level or two. A second stretch blurs every edge of the line
                # drawing; the photograph's soft light hardly shows it.
                self.assertLess(scaled_once, 3.0)
                if self.dpi > 96 and name == "Image3":
                    self.assertLess(scaled_once, 0.7 * scaled_twice)

    def test_text_is_drawn_at_the_screen_resolution(self):
        # The heading is 10.5 pt: its glyphs are about 14 pixels high at 96 dpi and grow with the resolution.
        # A 96 dpi rendering stretched by the system would be as high, but in 2 x 2 blocks at 192 dpi; so
        # also count rows of ink that merely repeat the row above.
        box = self.on_screen(design_box("Label3", self.dpi))
        area = self.shot.crop((box.left, box.top, box.right, box.bottom)).convert("L")
        rows = [tuple(area.crop((0, y, area.width, y + 1)).getdata()) for y in range(area.height)]
        ink_rows = [y for y, row in enumerate(rows) if min(row) < 128]
        self.assertTrue(ink_rows, "no text in the notes")
        repeated = sum(1 for y in ink_rows if y > 0 and rows[y] == rows[y - 1])
        first_line = [y for y in ink_rows if y < ink_rows[0] + self.dpi * 12 / 72]
        height = max(first_line) - min(first_line) + 1
        report(f"\n{self.dpi} dpi: first line of notes {height} px high, {repeated} of {len(ink_rows)} ink rows "
               "repeat the row above")
        self.assertGreaterEqual(height, 9 * self.dpi / 96)
        self.assertLess(repeated, len(ink_rows) / 4)


class ScreenScalingAt120Dpi(ScreenScaling):
    dpi = 120


class ScreenScalingAt144Dpi(ScreenScaling):
    dpi = 144


class ScreenScalingAt192Dpi(ScreenScaling):
    dpi = 192


if __name__ == "__main__":
    unittest.main()
