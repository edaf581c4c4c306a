"""The path-check program pathcheck.exe under Wine: its window Form1 as the window system sees it, and
Command1, whose click shows in a message box where the DAO library is expected (Wine's Windows
directory is always C:\\windows)."""

import time
import unittest

import harness
from harness import LauncherTestCase, ProbeError, Rect, WindowState, twips_to_pixels

FORM1 = harness.pathcheck_facts()
PATHCHECK_CAPTION = FORM1["caption"]
PATHCHECK_TITLE = FORM1["title"]  # the message box's
PICTURE1 = harness.pathcheck_control("Picture1")["id"]
COMMAND1 = harness.pathcheck_control("Command1")["id"]
IDOK = 1
CLIENT_TWIPS = tuple(FORM1["client_twips"])
# Left, top, width, height in twips, relative to the client area.
BOXES = {control["id"]: tuple(control["box"]) for control in FORM1["controls"]}
EXPECTED_MESSAGE = "C:\\windows\\system32\\Dao350.dll"

WS_POPUP = 0x80000000
WS_CAPTION = 0x00C00000
WS_SYSMENU = 0x00080000
WS_THICKFRAME = 0x00040000
WS_MINIMIZEBOX = 0x00020000
WS_MAXIMIZEBOX = 0x00010000
WS_TABSTOP = 0x00010000
WS_EX_TOPMOST = 0x00000008
WS_EX_TOOLWINDOW = 0x00000080
WS_EX_CLIENTEDGE = 0x00000200
BS_TYPEMASK = 0x0000000F
BS_PUSHBUTTON = 0x0
BS_DEFPUSHBUTTON = 0x1
SS_TYPEMASK = 0x0000001F
SS_ICON = 0x3


class PathCheckTestCase(LauncherTestCase):
    """Every test starts a fresh pathcheck.exe; self.state is Form1 as it first showed."""

    launch_on_setup = False

    def setUp(self) -> None:
        super().setUp()
        self.session.launch_pathcheck()
        self.state = self.form()

    def form(self) -> WindowState:
        return WindowState(self.session.probe("--caption", PATHCHECK_CAPTION, "state"))

    def message_box(self, timeout: float = 10) -> WindowState:
        """The message box, once it shows (within timeout seconds at the road's pace)."""
        timeout = self.session.road.seconds(timeout)
        milliseconds = str(int(timeout * 1000))
        return WindowState(self.session.probe("--caption", PATHCHECK_TITLE, "--timeout-ms", milliseconds, "wait",
                                              timeout=timeout + 30))

    def message_box_shows(self) -> bool:
        data = self.session.probe("--caption", PATHCHECK_TITLE, "state", check=False)
        return data is not None and data["window"]["visible"]

    def assertMessageBoxCloses(self) -> None:
        self.eventually(lambda: not self.message_box_shows(), 10, "the message box stays open")

    def expected_rect(self, control_id: int, state: WindowState | None = None) -> Rect:
        """A control's twip box on the screen, each edge rounded to the nearest pixel."""
        state = state or self.state
        left, top, width, height = BOXES[control_id]
        x, y = state.client.left, state.client.top
        return Rect(x + twips_to_pixels(left, state.dpi), y + twips_to_pixels(top, state.dpi),
                    x + twips_to_pixels(left + width, state.dpi), y + twips_to_pixels(top + height, state.dpi))

    def type_over(self, rect: Rect, *keys: str) -> None:
        """Real X key strokes; with no window manager they reach the window under the pointer."""
        self.session.mouse_move(rect.left + 4, rect.bottom - 4)
        for key in keys:
            self.session.xdotool("key", key)
            time.sleep(0.15)

    def type_over_form(self, *keys: str) -> None:
        # The bottom left corner of the client area is bare: no control lies under the pointer there.
        self.type_over(self.state.client, *keys)


class PathCheckWindow(PathCheckTestCase):
    """Form1 at 96 dpi: a 4620 x 2985 twip client area is 308 x 199 pixels."""

    dpi = 96

    def test_is_a_sizable_window_with_title_bar_and_task_bar_button(self):
        window = self.state.window
        self.assertEqual(window["caption"], "Form1")
        style = window["style"]
        for name, bits in [("title bar", WS_CAPTION), ("control menu", WS_SYSMENU), ("sizing border", WS_THICKFRAME),
                           ("minimize box", WS_MINIMIZEBOX), ("maximize box", WS_MAXIMIZEBOX)]:
            with self.subTest(name):
                self.assertEqual(style & bits, bits, f"no {name} (style {style:#x})")
        self.assertFalse(style & WS_POPUP, f"style {style:#x}")
        self.assertFalse(window["exstyle"] & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW), f"exstyle {window['exstyle']:#x}")
        self.assertTrue(window["visible"])
        self.assertEqual(window["owner"], 0)
        self.assertTrue(window["taskbar_button"])

    def test_client_area_has_the_design_size(self):
        self.assertEqual(self.state.dpi, self.dpi, "the prefix does not have the resolution this test wants")
        expected = tuple(twips_to_pixels(twips, self.dpi) for twips in CLIENT_TWIPS)
        self.assertEqual((self.state.client.width, self.state.client.height), expected)
        # The frame lies around the client area, not inside it.
        rect, client = self.state.rect, self.state.client
        self.assertTrue(rect.left < client.left and rect.top < client.top, f"{rect} around {client}")
        self.assertTrue(rect.right > client.right and rect.bottom > client.bottom, f"{rect} around {client}")

    def test_is_centred_on_the_screen(self):
        screen_width, screen_height = self.state.screen
        rect = self.state.rect
        self.assertLessEqual(abs((rect.left + rect.right) - screen_width), 1, f"{rect} on {screen_width} pixels")
        self.assertLessEqual(abs((rect.top + rect.bottom) - screen_height), 1, f"{rect} on {screen_height} pixels")

    def test_controls_sit_in_their_twip_boxes(self):
        self.assertEqual(sorted(c.id for c in self.state.controls), [PICTURE1, COMMAND1])
        for control_id in (PICTURE1, COMMAND1):
            control = self.state.control(control_id)
            with self.subTest(control=control_id):
                self.assertEqual(control.rect, self.expected_rect(control_id))
                self.assertTrue(control.visible and control.enabled)
                self.assertTrue(control.style & WS_TABSTOP, f"style {control.style:#x}")

    def test_picture1_is_an_empty_box_with_a_sunken_edge_in_the_button_face_colour(self):
        picture = self.state.control(PICTURE1)
        self.assertTrue(picture.exstyle & WS_EX_CLIENTEDGE, f"exstyle {picture.exstyle:#x}")
        self.assertEqual(picture.text, "")
        # Inside the edge it shows the same colour as the bare client area beside it.
        screen = self.session.screenshot()
        inside = picture.rect.inset(6)
        face = screen.getpixel((self.state.client.left + 3, self.state.client.top + 3))
        colours = {screen.getpixel((x, y)) for x in range(inside.left, inside.right, 7)
                   for y in range(inside.top, inside.bottom, 7)}
        self.assertEqual(colours, {face})

    def test_command1_is_a_push_button_with_the_focus(self):
        button = self.state.control(COMMAND1)
        self.assertEqual(button.cls.lower(), "button")
        self.assertEqual(button.text, "Command1")
        self.assertIn(button.style & BS_TYPEMASK, (BS_PUSHBUTTON, BS_DEFPUSHBUTTON), f"style {button.style:#x}")
        self.assertEqual(self.state.focus_id, COMMAND1)
        self.assertTrue(self.state.window["foreground"])

    def test_tab_moves_the_focus_between_the_two_controls(self):
        self.type_over_form("Tab")
        self.assertFocusBecomes(PICTURE1)
        self.type_over_form("Tab")
        self.assertFocusBecomes(COMMAND1)
        self.type_over_form("shift+Tab")
        self.assertFocusBecomes(PICTURE1)

    def assertFocusBecomes(self, control_id: int, timeout: float = 5) -> None:
        seen = []

        def focused():
            seen.append(self.form().focus_id)
            return seen[-1] == control_id

        self.eventually(focused, timeout, f"the focus stays on {seen[-1:]}, not on control {control_id}")


class PathCheckWindowAt120Dpi(PathCheckWindow):
    """At 120 dpi the client area is 385 x 249 pixels and the boxes' edges round to the nearest pixel."""

    dpi = 120


class Command1Click(PathCheckTestCase):
    def assertShowsThePath(self, box: WindowState) -> None:
        form = self.form()
        self.assertEqual(box.window["class"], "#32770")
        self.assertEqual(box.window["caption"], PATHCHECK_TITLE)
        # Modal to Form1: owned by it, and Form1 takes no input meanwhile.
        self.assertEqual(box.window["owner"], form.window["hwnd"])
        self.assertFalse(form.window["enabled"], "Form1 still takes input under the message box")
        texts = [c.text for c in box.controls if c.visible and c.cls.lower() == "static" and c.text]
        self.assertEqual(texts, [EXPECTED_MESSAGE])
        buttons = [(c.id, c.text) for c in box.controls if c.visible and c.cls.lower() == "button"]
        self.assertEqual(buttons, [(IDOK, "OK")])
        # No icon: where the box keeps a place for one, nothing is drawn but the text that may reach into it.
        screen = self.session.screenshot()
        icons = [c for c in box.controls if c.visible and c.cls.lower() == "static" and c.style & SS_TYPEMASK == SS_ICON]
        others = [c.rect for c in box.controls if c.visible and c not in icons]
        for icon in icons:
            colours = {screen.getpixel((x, y)) for x in range(icon.rect.left, icon.rect.right)
                       for y in range(icon.rect.top, icon.rect.bottom)
                       if not any(rect.contains(x, y) for rect in others)}
            self.assertLessEqual(len(colours), 1, f"something is drawn in the icon's place {icon.rect}")

    def click_ok(self, box: WindowState) -> None:
        self.session.mouse_click(*box.control(IDOK).rect.centre)
        self.assertMessageBoxCloses()

    def test_real_clicks_show_the_path_each_time_and_change_nothing_else(self):
        before = self.state
        for attempt in (1, 2):
            with self.subTest(click=attempt):
                self.session.mouse_click(*before.control(COMMAND1).rect.centre)
                box = self.message_box()
                self.assertShowsThePath(box)
                self.click_ok(box)
                after = self.form()
                self.assertTrue(after.window["enabled"])
                self.assertEqual(after.rect, before.rect)
                self.assertEqual(after.window["caption"], before.window["caption"])
                self.assertEqual([(c.id, c.rect, c.text, c.visible, c.enabled) for c in after.controls],
                                 [(c.id, c.rect, c.text, c.visible, c.enabled) for c in before.controls])
                self.eventually(lambda: self.form().focus_id == COMMAND1, 5, "the focus does not return to Command1")

    def test_space_and_enter_press_the_focused_button(self):
        self.type_over_form("space")
        box = self.message_box()
        self.assertShowsThePath(box)
        self.type_over(box.rect, "Return")  # OK is the box's default button
        self.assertMessageBoxCloses()
        self.eventually(lambda: self.form().focus_id == COMMAND1, 5, "the focus does not return to Command1")
        self.type_over_form("Return")
        box = self.message_box()
        self.assertShowsThePath(box)
        self.type_over(box.rect, "Escape")
        self.assertMessageBoxCloses()

    def test_enter_does_nothing_while_picture1_has_the_focus(self):
        self.type_over_form("Tab")
        self.eventually(lambda: self.form().focus_id == PICTURE1, 5, "Tab does not reach Picture1")
        self.type_over_form("Return")
        with self.assertRaises(ProbeError):
            self.message_box(timeout=1.5)
        self.assertTrue(self.form().window["enabled"])


if __name__ == "__main__":
    unittest.main()
