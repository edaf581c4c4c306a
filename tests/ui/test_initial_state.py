"""What the user finds when the setup window first shows: which controls can be seen and used, the
hidden ones, the ones parked outside the window, and where the focus is."""

import unittest

from harness import Id, LauncherTestCase

WS_VSCROLL = 0x00200000
WS_TABSTOP = 0x00010000
ES_MULTILINE = 0x0004


class InitialState(LauncherTestCase):
    def test_confirm_is_greyed_out_and_cancel_usable(self):
        confirm = self.state.control(Id.CMD_CONTINUE)
        cancel = self.state.control(Id.CMD_CANCEL)
        self.assertEqual((confirm.text, cancel.text), ("确认", "取消"))
        self.assertTrue(self.state.shows_on_screen(Id.CMD_CONTINUE))
        self.assertFalse(confirm.enabled)
        self.assertTrue(self.state.shows_on_screen(Id.CMD_CANCEL))
        self.assertTrue(cancel.enabled)

    def test_title_strip_buttons_show(self):
        close_button = self.state.control(Id.COMMAND1)
        self.assertEqual(close_button.text, "><")
        self.assertEqual(close_button.parent_id, Id.PICTURE1, "the \"><\" button belongs to the title strip")
        for control_id in (Id.PICTURE1, Id.COMMAND1, Id.COMMAND4):
            with self.subTest(control_id=control_id):
                self.assertTrue(self.state.shows_on_screen(control_id))
                self.assertTrue(self.state.control(control_id).enabled)

    def test_focus_starts_on_cancel(self):
        self.assertEqual(self.state.focus_id, Id.CMD_CANCEL)

    def test_text_panel_exists_hidden(self):
        panel = self.state.control(Id.TEXT2)
        self.assertFalse(panel.visible)
        self.assertFalse(self.state.shows_on_screen(Id.TEXT2))
        self.assertEqual(panel.cls.lower(), "edit")
        self.assertTrue(panel.style & ES_MULTILINE, "the text panel is not multi-line")
        self.assertTrue(panel.style & WS_VSCROLL, "the text panel has no vertical scroll bar")
        self.assertFalse(panel.style & WS_TABSTOP, "Tab could reach the text panel")
        self.assertEqual(panel.text, "")

    def test_hidden_group_controls_keep_their_contents(self):
        group_list = self.state.control(Id.LST_GROUPS)
        group_name = self.state.control(Id.TXT_GROUP)
        self.assertFalse(group_list.visible)
        self.assertFalse(group_name.visible)
        self.assertEqual(group_list.items, [{"text": "lstGroups", "data": 0}])
        self.assertEqual(group_name.text, "*")

    def test_directory_list_is_live_but_below_the_window(self):
        directory_list = self.state.control(Id.DIR95_GROUPS)
        self.assertTrue(directory_list.visible)
        self.assertTrue(directory_list.enabled)
        self.assertTrue(directory_list.style & WS_TABSTOP)
        self.assertGreaterEqual(directory_list.rect.top, self.state.client.bottom)
        self.assertFalse(self.state.shows_on_screen(Id.DIR95_GROUPS))
        # A real directory list: it lists the folders of the current directory, the medium's vorncopy.
        self.assertIn("[vorncopy]", [item["text"].lower() for item in directory_list.items or []])

    def test_only_the_designed_controls_show(self):
        # Everything else is hidden or parked outside the client area, where nobody sees it.
        designed = {Id.PICTURE1, Id.COMMAND1, Id.COMMAND4, Id.CMD_CANCEL, Id.CMD_CONTINUE}
        showing = {c.id for c in self.state.controls if self.state.shows_on_screen(c.id)}
        self.assertEqual(showing, designed)

    def test_picture_button_has_its_tool_tip(self):
        tips = [tool["text"] for tool in self.state.tools() if tool["control_id"] == Id.COMMAND4]
        self.assertEqual(tips, [' "按下我知道的更多..." '])
        self.assertFalse(any(tip["visible"] for tip in self.state.tooltips), "a tool tip shows without a hover")

    def test_tool_tip_shows_when_the_pointer_rests_on_the_picture_button(self):
        self.session.mouse_move(*self.point("Command4"))

        def shown_tip():
            return [tip for tip in self.session.state().tooltips if tip["visible"]]

        tips = self.eventually(shown_tip, timeout=10, message="no tool tip shows over the picture button")
        self.assertEqual(tips[0]["text"], ' "按下我知道的更多..." ')


if __name__ == "__main__":
    unittest.main()
