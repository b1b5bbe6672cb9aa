"""Handling the borderless clock window with the real Quenlet.exe: dragging the panel, the help
note in both of its forms, and the keyboard."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from clock_window import CLOCK_SIZE, ClockTestCase  # noqa: E402

IDYES = 6
TDM_CLICK_BUTTON = 0x0466
TDM_ENABLE_BUTTON = 0x046F
HELP_NOTE = "Made by Tolbrin.\r热键ALT+A 可以发声。"
THEME_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager"

# Points in window coordinates: on the panel above every label, and inside each label's box.
PANEL = (120, 14)
TIME_DIGITS = (60, 55)   # lbl1
WEEKDAY = (40, 101)      # lbl3
DATE = (40, 120)         # lbl2
HOT_KEY_CAPTION = (90, 150)  # lbl4


class Dragging(ClockTestCase):
    def drag_panel(self, left, top, dx, dy):
        """Drags the panel of a clock at (left, top) from PANEL by (dx, dy); returns where the
        clock should end up. The drag helper moves 10 px first; from that first move on the window
        keeps the pointer at the same spot of the panel."""
        sx, sy = left + PANEL[0], top + PANEL[1]
        self.drag(sx, sy, sx + 10 + dx, sy + 10 + dy)
        return left + dx, top + dy

    def test_a_drag_on_the_panel_moves_the_clock_with_the_pointer_and_the_next_start_opens_there(self):
        clock, form = self.open_clock(ini="[set]\ntop=100\nleft=200\n")
        left, top = self.drag_panel(200, 100, 150, 80)
        rect = self.wait_until_at(clock, left, top)
        self.assertEqual([rect[2] - rect[0], rect[3] - rect[1]], list(CLOCK_SIZE), "the drag changed the size")
        self.probe.click(self.buttons(form)["btn3"]["hwnd"])
        self.assertEqual(clock.wait(), 0)
        self.assertEqual(self.ini_values(clock), {"top": str(top), "left": str(left)})

        again, form = self.open_clock(folder=clock.folder)
        self.assertEqual(form["rect"][:2], [left, top])

    def test_presses_on_the_labels_or_with_the_right_button_do_not_move_the_clock(self):
        clock, form = self.open_clock(ini="[set]\ntop=100\nleft=200\n")
        cases = [("time digits", TIME_DIGITS, 1), ("weekday", WEEKDAY, 1), ("date", DATE, 1),
                 ("hot-key caption", HOT_KEY_CAPTION, 1), ("panel, right button", PANEL, 3)]
        step = 30
        for name, (x, y), button in cases:
            with self.subTest(press=name):
                left, top = self.form(clock)["rect"][:2]
                self.drag(left + x, top + y, left + x + 150, top + y + 80, button=button)
                # A real drag afterwards, whose travel alone must show: it also makes sure the
                # press above has been handled before the position is judged.
                expected = self.drag_panel(left, top, step, step)
                self.wait_until_at(clock, *expected, message=f"the clock moved by the panel drag alone, to {expected}")
                step = -step


class HelpNote(ClockTestCase):
    def assert_help_note(self, clock, form, note):
        self.assertEqual(note["owner"], form["hwnd"])
        self.assertIn(HELP_NOTE, [s["text"] for s in note["statics"]])
        self.assertEqual([(b["text"], b["focused"]) for b in note["buttons"]], [("&Yes", True)])
        # Modal: the clock takes no input while the note is open.
        self.assertFalse(self.form(clock)["enabled"])
        # Centred on the (only) monitor.
        left, top, right, bottom = note["rect"]
        screen_w, screen_h = self.probe.screen()["size"]
        self.assertLessEqual(abs((left + right) - screen_w), 2, note["rect"])
        self.assertLessEqual(abs((top + bottom) - screen_h), 2, note["rect"])

    def close_with_enter(self, clock, form):
        self.probe.keys("return")
        self.wait_for_no_dialog(clock)
        self.poll(lambda: self.form(clock)["enabled"], message="the clock to take input again")

    def test_with_visual_styles_on_it_is_a_task_dialog_and_enter_closes_it(self):
        clock, form = self.open_clock()
        btn2 = self.buttons(form)["btn2"]
        left, top, right, bottom = btn2["rect"]
        self.click_at((left + right) // 2, (top + bottom) // 2)
        note = self.wait_for_dialog(clock, "Information")
        self.assert_help_note(clock, form, note)
        self.close_with_enter(clock, form)
        self.assertEqual(self.focused_button(form), "btn2", "the focus did not come back to the help button")

        # Only a task dialog answers its own messages: it presses its button itself.
        self.probe.click(btn2["hwnd"])
        note = self.wait_for_dialog(clock, "Information")
        self.probe.send(note["hwnd"], TDM_CLICK_BUTTON, IDYES)
        self.wait_for_no_dialog(clock)
        self.assertTrue(clock.alive)

    def test_with_visual_styles_off_it_is_a_classic_dialog_and_enter_closes_it(self):
        before = self.reg_query(THEME_KEY, "ThemeActive")
        if before is None:
            self.addCleanup(self.reg_delete, THEME_KEY, "ThemeActive")
        else:
            self.addCleanup(self.reg_add, THEME_KEY, "ThemeActive", before)
        # Read by a process when it starts: set before the clock starts.
        self.reg_add(THEME_KEY, "ThemeActive", "0")
        clock, form = self.open_clock()
        self.probe.click(self.buttons(form)["btn2"]["hwnd"])
        note = self.wait_for_dialog(clock, "Information")
        self.assert_help_note(clock, form, note)
        # A task dialog would disable its button at this message; the classic one ignores it.
        self.probe.send(note["hwnd"], TDM_ENABLE_BUTTON, IDYES, 0)
        self.assertEqual([b["enabled"] for b in self.wait_for_dialog(clock, "Information")["buttons"]], [True])
        self.close_with_enter(clock, form)

    def test_while_it_is_open_the_time_goes_on_and_alt_a_speaks(self):
        with self.faked_clock("2013-02-21 09:05:45"):
            clock, form = self.open_clock()
            self.probe.click(self.buttons(form)["btn2"]["hwnd"])
            self.wait_for_dialog(clock, "Information")

            def spoken():
                return [e["text"] for e in self.read_voice_log(clock) if e["ev"] == "speak_start"]

            self.probe.keys("alt+a")
            first = self.poll(spoken, message="Alt+A to speak while the note is open")
            self.assertEqual(first[0], "Now is 9:5")

            # The label only changes on a tick of the clock's timer: a time read after 9:06 shows
            # the ticks are served while the note's own message loop runs.
            def after_the_minute():
                self.probe.keys("alt+a")
                return "Now is 9:6" in spoken()

            self.poll(after_the_minute, deadline=40, interval=1.0, message="Alt+A to speak the next minute")
            self.assertEqual(len(self.visible_dialogs(clock)), 1, "the note closed meanwhile")
            self.close_with_enter(clock, form)


class Keyboard(ClockTestCase):
    def test_tab_and_arrows_walk_the_buttons_enter_opens_the_note_and_space_closes(self):
        clock, form = self.open_clock(ini="[set]\ntop=40\nleft=50\n")
        # Keys go to the foreground window, as from a keyboard.
        self.poll(lambda: self.probe.foreground()["hwnd"] == form["hwnd"], message="the clock in the foreground")
        self.poll(lambda: self.focused_button(form) == "btn1", message="the focus on the speak button")
        walk = [("tab", "btn2"), ("tab", "btn3"), ("tab", "btn1"), ("shift+tab", "btn3"), ("right", "btn1"),
                ("down", "btn2"), ("left", "btn1"), ("up", "btn3"), ("shift+tab", "btn2")]
        for key, expected in walk:
            self.probe.keys(key)
            self.poll(lambda: self.focused_button(form) == expected,
                      message=f"{key} to move the focus to {expected} (it is on {self.focused_button(form)})")

        self.probe.keys("return")
        self.wait_for_dialog(clock, "Information")
        self.probe.keys("return")
        self.wait_for_no_dialog(clock)
        self.poll(lambda: self.focused_button(form) == "btn2", message="the focus back on the help button")

        self.probe.keys("tab")
        self.poll(lambda: self.focused_button(form) == "btn3", message="the focus on the close button")
        self.probe.keys("space")
        self.assertEqual(clock.wait(), 0)
        self.assertEqual(self.ini_lines(clock), ["[set]", "top=40", "left=50"])


if __name__ == "__main__":
    import unittest
    unittest.main()
