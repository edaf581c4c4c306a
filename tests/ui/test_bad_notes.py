"""Notes files that no medium should carry, and still the launcher neither crashes nor hangs on them: an
empty file, 16 MB of ordinary lines, more lines than the panel takes, nothing but CR bytes, random bytes,
a double-byte character cut off by a line end or by the end of the file, and single lines of 128 KB and
1 MB. Each file is shown with the picture button; the launcher must still be there afterwards, show what
the line rules give, enable "确认" once the file has been read to its end (and only then), and end with
Esc."""

import random
import time
import unittest

import harness
from harness import Id

WHITE = (255, 255, 255)
SENTENCE = "安装分三部分: 1,从属文件安装; 2,数据库引擎安装; 3,系统文件安装。Setup copies Dao350.dll. "


def ordinary_lines(size: int) -> bytes:
    """GBK lines of about 70 bytes with CR LF ends, size bytes or a little more."""
    lines = []
    total = 0
    while total < size:
        line = f"{len(lines):8d} {SENTENCE}".encode("gbk") + b"\r\n"
        lines.append(line)
        total += len(line)
    return b"".join(lines)


def single_line(size: int) -> bytes:
    """One GBK line of about size bytes without a line end, cut after a whole character."""
    text = SENTENCE.encode("gbk")
    return (text * (size // len(text) + 1))[:size].decode("gbk", errors="ignore").encode("gbk")


def panel_of(notes: str) -> str:
    """The panel's text for notes without lone CRs: every line preceded by CR LF."""
    lines = notes.split("\r\n")
    if lines and lines[-1] == "":
        lines.pop()
    return "".join("\r\n" + line for line in lines)


class BadNotes(harness.LauncherTestCase):
    code_page_936 = True
    launch_on_setup = False

    def launch_with(self, notes: bytes) -> None:
        self.medium = self.session.make_medium(notes=notes, with_installer=False)
        self.launcher = self.session.launch(self.medium)
        self.state = self.session.state()

    def show_notes(self, timeout: float = 120) -> harness.WindowState:
        """Clicks the picture button and returns the window's state once the click has been handled."""
        self.session.probe("--timeout-ms", str(int(timeout * 1000)), "click", str(Id.COMMAND4),
                           timeout=timeout + 30)
        self.assertTrue(self.launcher.running(), "setup.exe ended while it read the notes")
        state = self.session.state()
        self.assertTrue(state.control(Id.TEXT2).visible)
        return state

    def wait_whole_text(self, expected: str, timeout: float = 120) -> harness.WindowState:
        """Waits until the panel holds as much text as expected and returns the window's state then."""

        def whole_text_in():
            state = self.session.state()
            return state if len(state.control(Id.TEXT2).text) >= len(expected) else None

        return self.eventually(whole_text_in, timeout=timeout, interval=0.5,
                               message="the panel never held the whole text")

    def assertNotesRead(self, state: harness.WindowState) -> None:
        self.assertTrue(state.control(Id.CMD_CONTINUE).enabled, "the file was read to its end: 确认 is enabled")

    def assertEscapeEnds(self) -> None:
        self.session.type_keys("Escape")
        self.assertLauncherEnds()

    def test_empty_file_shows_nothing_and_still_enables_confirm(self):
        self.launch_with(b"")
        state = self.show_notes()
        self.assertEqual(state.control(Id.TEXT2).text, "")
        self.assertNotesRead(state)
        self.assertEqual(self.picture_button_colour(), WHITE)
        self.assertEscapeEnds()

    def test_sixteen_megabytes_of_ordinary_lines_arrive_whole(self):
        notes = ordinary_lines(16 * 1024 * 1024)
        self.launch_with(notes)
        state = self.show_notes(timeout=300)
        text = state.control(Id.TEXT2).text
        expected = panel_of(notes.decode("gbk"))
        self.assertEqual(len(text), len(expected))
        self.assertTrue(text == expected, "the panel's text differs from the file's lines")
        self.assertNotesRead(state)
        self.assertEscapeEnds()

    def test_notes_beyond_the_bound_show_their_head_and_leave_confirm_disabled(self):
        # A 32-bit launcher that took such a file whole ran out of address space and died.
        bound = harness.medium_facts()["notes_bound"]
        notes = ordinary_lines(bound + 64 * 1024)
        self.launch_with(notes)
        # Some 18 million characters go into the panel in one piece: minutes on the emulated 32-bit road.
        text = self.show_notes(timeout=self.session.road.seconds(240)).control(Id.TEXT2).text
        head = notes[:bound]
        expected = panel_of(head[:head.rindex(b"\r\n") + 2].decode("gbk"))
        self.assertEqual(len(text), len(expected))
        self.assertTrue(text == expected, "the panel's text differs from the lines within the bound")
        self.assertFalse(self.session.state().control(Id.CMD_CONTINUE).enabled, "确认 stays disabled")
        self.assertTrue(self.launcher.running())
        self.assertEscapeEnds()

    def test_only_carriage_returns_make_empty_lines(self):
        self.launch_with(b"\r" * 5000)
        state = self.show_notes()
        self.assertEqual(state.control(Id.TEXT2).text, "\r\n" * 5000)
        self.assertNotesRead(state)
        self.assertEscapeEnds()

    def test_random_bytes_keep_their_line_count_and_no_nul(self):
        data = random.Random(936).randbytes(256 * 1024)
        self.assertFalse(data.startswith((b"\xef\xbb\xbf", b"\xff\xfe")), "the data must stay ANSI")
        self.launch_with(data)
        state = self.show_notes()
        text = state.control(Id.TEXT2).text
        tail = data.rsplit(b"\r", 1)[-1]
        lines = data.count(b"\r") + (1 if tail not in (b"", b"\n") else 0)
        self.assertEqual(text.count("\r"), lines)
        self.assertEqual(text.count("\r\n"), lines)
        self.assertNotIn("\0", text)
        self.assertNotesRead(state)
        self.assertEscapeEnds()

    def test_cut_double_byte_characters_lose_no_line(self):
        # A lead byte right before a line end, and one more as the file's last byte.
        notes = "第一行".encode("gbk") + b"\xb0\r\n" + "第二行".encode("gbk") + b"\r\n" + "末行".encode("gbk") + b"\xc8"
        self.launch_with(notes)
        state = self.show_notes()
        text = state.control(Id.TEXT2).text
        lines = text.split("\r\n")
        self.assertEqual(len(lines), 4, repr(text))
        self.assertEqual(lines[0], "")
        self.assertTrue(lines[1].startswith("第一行"), repr(text))
        self.assertEqual(lines[2], "第二行")
        self.assertTrue(lines[3].startswith("末行"), repr(text))
        self.assertLessEqual(len(lines[1]), len("第一行") + 1)
        self.assertNotesRead(state)
        self.assertEscapeEnds()

    def test_long_single_line_arrives_whole(self):
        notes = single_line(128 * 1024)
        expected = "\r\n" + notes.decode("gbk")
        self.launch_with(notes)
        self.show_notes()
        # A long line goes into the panel in slices, between which the launcher answers its input, so
        # the click's message returns before the last slice is in.
        state = self.wait_whole_text(expected)
        self.assertTrue(state.control(Id.TEXT2).text == expected, "the panel's text differs from the file's line")
        self.assertNotesRead(state)
        self.assertEscapeEnds()

    def test_clicks_while_a_long_line_fills_the_panel_wait_their_turn(self):
        # Show, then hide and show again while the first show still fills the panel: the later clicks
        # run after it, one by one, so the text is there exactly once and the panel shows at the end.
        notes = single_line(256 * 1024)
        expected = "\r\n" + notes.decode("gbk")
        self.launch_with(notes)
        self.click_picture_button()
        self.wait_panel(visible=True, timeout=30)
        for _ in range(2):
            time.sleep(0.7)  # apart enough not to make a double click
            self.click_picture_button()

        def whole_text_shown() -> bool:
            panel = self.session.state().control(Id.TEXT2)
            return panel.visible and len(panel.text) >= len(expected)

        def settled() -> bool:
            # Twice, a moment apart: the first show's last moment looks the same as the end.
            if not whole_text_shown():
                return False
            time.sleep(1.5)
            return whole_text_shown()

        self.eventually(settled, timeout=120, interval=0.5, message="the panel never held the whole text")
        self.assertTrue(self.launcher.running())
        state = self.session.state()
        self.assertTrue(state.control(Id.TEXT2).visible)
        self.assertTrue(state.control(Id.TEXT2).text == expected, "the panel's text is not the file's line once")
        self.assertNotesRead(state)


class NotesOfOneLongLine(harness.LauncherTestCase):
    """A file of a single 1 MB line keeps the text control busy for a long time; meanwhile the launcher
    still ends at once with Esc or "取消"."""

    code_page_936 = True
    medium_options = {"notes": single_line(1024 * 1024), "with_installer": False}

    def start_showing(self) -> None:
        self.click_picture_button()
        self.wait_panel(visible=True, timeout=30)
        self.assertTrue(self.launcher.running())

    def test_escape_ends_the_launcher_while_the_panel_fills(self):
        self.start_showing()
        self.session.type_keys("Escape")
        self.assertLauncherEnds(timeout=10)

    def test_cancel_ends_the_launcher_while_the_panel_fills(self):
        self.start_showing()
        self.session.mouse_click(*self.point("cmdCancel"))
        self.assertLauncherEnds(timeout=10)


if __name__ == "__main__":
    unittest.main()
