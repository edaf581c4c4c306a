"""What a screen reader finds: every control that can take the focus has a name that the system's
accessibility layer (oleacc, asked from another process as a screen reader asks) reports, taken from the
texts the sighted user sees there. The picture button, which shows no caption, speaks its tool tip."""

import unittest

from harness import Id, LauncherTestCase

ROLE_SYSTEM_TEXT = 42
STATE_SYSTEM_INVISIBLE = 0x8000

# The names the texts of the window give: the buttons' captions, the title that the title strip shows,
# the heading of the notes that the notes panel covers, and what the directory list lists.
EXPECTED_NAMES = {
    Id.CMD_CANCEL: "取消",
    Id.CMD_CONTINUE: "确认",
    Id.COMMAND1: "><",
    Id.PICTURE1: "岫川安装提示",
    Id.TEXT2: "安装须知",
    Id.DIR95_GROUPS: "文件夹",
}


def tool_tip_words(text: str) -> str:
    """The words of a tool tip, without the blanks and quotation marks around them."""
    return text.strip(' "')


class AccessibleNames(LauncherTestCase):
    def names(self) -> dict[int, dict]:
        answer = self.session.probe("names")
        self.assertTrue(answer["oleacc"], "the probe found no oleacc in the system folder")
        # The hidden name labels share one identifier outside the rows'; the rows' windows are unique.
        return {c["id"]: c for c in answer["controls"] if 0 < c["id"] <= 37}

    def focus_moved_from(self, before: int | None) -> int | None:
        now = self.session.state().focus_id
        return now if now != before else None

    def test_picture_button_speaks_the_words_of_its_tool_tip(self):
        tips = [tool["text"] for tool in self.state.tools() if tool["control_id"] == Id.COMMAND4]
        self.assertEqual(len(tips), 1, tips)
        name = self.names()[Id.COMMAND4]["name"]
        self.assertEqual(name, tool_tip_words(tips[0]))
        self.assertEqual(name, "按下我知道的更多...")

    def test_controls_are_named_by_the_texts_shown_for_them(self):
        names = self.names()
        for control_id, expected in EXPECTED_NAMES.items():
            with self.subTest(control_id=control_id):
                self.assertEqual(names[control_id]["name"], expected)

    def test_names_tell_the_controls_apart(self):
        names = [c["name"] for c in self.names().values() if c["visible"] and c["tabstop"]]
        self.assertEqual(len(names), len(set(names)), names)

    def test_every_stop_of_the_tab_cycle_has_a_name(self):
        # Walk the cycle for real, from "取消" back to it, and ask for the focused control's name at each stop.
        visited = []
        focus = self.state.focus_id
        for _ in range(8):
            visited.append(focus)
            self.session.type_keys("Tab")
            focus = self.eventually(lambda before=focus: self.focus_moved_from(before),
                                    message=f"Tab left the focus on {focus}")
            if focus == visited[0]:
                break
        self.assertEqual(focus, visited[0], f"the cycle did not come back: {visited}")
        names = self.names()
        for control_id in visited:
            with self.subTest(control_id=control_id):
                self.assertTrue(names[control_id]["name"], f"control {control_id} has no name")
        self.assertIn(Id.COMMAND4, visited)
        self.assertIn(Id.DIR95_GROUPS, visited)

    def test_names_change_nothing_that_shows(self):
        # The name rides in the window text only where the control does not show it, and the labels that
        # name the panel and the list stay hidden.
        self.assertEqual(self.state.control(Id.TEXT2).text, "")
        self.assertEqual(self.state.control(Id.CMD_CANCEL).text, "取消")
        answer = self.session.probe("names")
        labels = [c for c in answer["controls"] if c["class"].lower() == "static"]
        self.assertEqual(sorted(c["name"] for c in labels), sorted([EXPECTED_NAMES[Id.TEXT2],
                                                                    EXPECTED_NAMES[Id.DIR95_GROUPS]]))
        self.assertFalse(any(c["visible"] or c["tabstop"] for c in labels), labels)


class NotesPanelName(LauncherTestCase):
    def test_shown_panel_keeps_its_name_and_its_text(self):
        self.session.click(Id.COMMAND4)
        self.eventually(lambda: self.session.state().control(Id.TEXT2).visible, message="the panel does not show")
        answer = {c["id"]: c for c in self.session.probe("names")["controls"]}
        panel = answer[Id.TEXT2]
        self.assertEqual(panel["name"], EXPECTED_NAMES[Id.TEXT2])
        self.assertEqual(panel["role"], ROLE_SYSTEM_TEXT)
        self.assertFalse(panel["state"] & STATE_SYSTEM_INVISIBLE)
        # The notes are its text (its value to a screen reader), not its name.
        self.assertNotEqual(self.session.state().control(Id.TEXT2).text, "")
        # Confirm is enabled now and keeps its name.
        self.assertTrue(answer[Id.CMD_CONTINUE]["enabled"])
        self.assertEqual(answer[Id.CMD_CONTINUE]["name"], EXPECTED_NAMES[Id.CMD_CONTINUE])


if __name__ == "__main__":
    unittest.main()
