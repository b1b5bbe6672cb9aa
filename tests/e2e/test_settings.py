"""The settings file set.ini with the real Quenlet.exe, each test with a copy of the exe in a folder
of its own: where the clock opens, what every way of closing writes, and what it does when the
file cannot be written."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from clock_window import CLOCK_SIZE, SC_MINIMIZE, WM_CLOSE, WM_SYSCOMMAND, ClockTestCase  # noqa: E402


class WhereTheClockOpens(ClockTestCase):
    def test_a_first_start_opens_at_the_origin_and_its_close_makes_the_file_top_then_left(self):
        clock, form = self.open_clock()
        self.assertIsNone(self.ini_lines(clock), "the start made set.ini")
        self.assertEqual(form["rect"], [0, 0, *CLOCK_SIZE])
        # Moved so that top and left differ and their order in the file shows.
        self.drag(120, 14, 120 + 40, 14 + 70)
        self.wait_until_at(clock, 30, 60)
        self.probe.click(self.buttons(form)["btn3"]["hwnd"])
        self.assertEqual(clock.wait(), 0)
        self.assertEqual(self.ini_lines(clock), ["[set]", "top=60", "left=30"])

    def test_hand_written_values_give_the_positions_they_stand_for(self):
        # (top, left as written) -> (top, left the clock opens at). The close writes them back
        # in plain decimal. Started minimised: placed by the clock alone (see open_clock_unmapped).
        cases = [
            (("0x64", "-$32"), (100, -50)),
            (("100px", "$C8"), (0, 200)),
            (("0X64", "x64"), (100, 100)),
            ((" ", "FFFFFFFF"), (0, 0)),
            ((None, "300"), (0, 300)),
        ]
        for (top_text, left_text), (top, left) in cases:
            with self.subTest(top=top_text, left=left_text):
                ini = "[set]\n" + (f"top={top_text}\n" if top_text is not None else "") + f"left={left_text}\n"
                clock, form = self.open_clock_unmapped(ini=ini)
                self.assertEqual(form["rect"][:2], [left, top])
                self.probe.post(form["hwnd"], WM_CLOSE)
                self.assertEqual(clock.wait(), 0)
                self.assertEqual(self.ini_values(clock), {"top": str(top), "left": str(left)})

    def test_a_position_on_no_monitor_is_brought_onto_the_screen_and_a_partly_visible_one_kept(self):
        # Started minimised: openbox would put a window wholly on the screen itself, doing the
        # clock's work for it (see open_clock_unmapped).
        work_left, work_top, work_right, work_bottom = self.probe.screen()["work_area"]
        width, height = CLOCK_SIZE
        cases = [
            # Wholly off the screen: moved onto the nearest monitor's work area, at its edge.
            ((5000, 5000), (work_right - width, work_bottom - height)),
            ((-5000, 300), (work_left, 300)),
            ((300, -2147483648), (300, work_top)),
            # Partly on the screen: kept as stored, off-screen coordinates and all.
            ((-100, -50), (-100, -50)),
            ((work_right - 1, 100), (work_right - 1, 100)),
        ]
        for (left, top), expected in cases:
            with self.subTest(left=left, top=top):
                clock, form = self.open_clock_unmapped(ini=f"[set]\ntop={top}\nleft={left}\n")
                self.assertEqual(form["rect"], [*expected, expected[0] + width, expected[1] + height])
                self.probe.post(form["hwnd"], WM_CLOSE)
                self.assertEqual(clock.wait(), 0)
                # The close stores where the clock really stood, negative values with a "-".
                self.assertEqual(self.ini_values(clock), {"top": str(expected[1]), "left": str(expected[0])})


class WhatACloseWrites(ClockTestCase):
    def close_by(self, how, clock, form):
        if how == "close button":
            self.probe.click(self.buttons(form)["btn3"]["hwnd"])
        elif how == "WM_CLOSE to the clock window":
            self.probe.post(form["hwnd"], WM_CLOSE)
        elif how == "WM_CLOSE to the application window":
            self.probe.post(self.app_window(clock)["hwnd"], WM_CLOSE)
        elif how == "minimised from the taskbar, then closed there":
            app = self.app_window(clock)
            self.probe.post(app["hwnd"], WM_SYSCOMMAND, SC_MINIMIZE)
            self.poll(lambda: not self.form(clock)["visible"], message="the clock to hide")
            self.probe.post(app["hwnd"], WM_CLOSE)
        else:
            raise ValueError(how)

    def test_every_close_request_writes_where_the_clock_stands(self):
        for how in ("close button", "WM_CLOSE to the clock window", "WM_CLOSE to the application window",
                    "minimised from the taskbar, then closed there"):
            with self.subTest(how=how):
                clock, form = self.open_clock(ini="[set]\ntop=123\nleft=321\n")
                # Edited while the clock runs: only a write at the close brings the position back.
                self.overwrite_ini(clock, "[set]\ntop=1\nleft=2\n")
                self.close_by(how, clock, form)
                self.assertEqual(clock.wait(), 0)
                self.assertEqual(self.ini_lines(clock), ["[set]", "top=123", "left=321"])

    def test_the_end_of_the_session_ends_the_clock_without_writing(self):
        clock, form = self.open_clock(ini="[set]\ntop=123\nleft=321\n")
        edited = "[set]\ntop=1\nleft=2\n"
        self.overwrite_ini(clock, edited)
        # Log-off as Wine makes it: WM_QUERYENDSESSION, WM_ENDSESSION, then the processes end.
        subprocess.run(["wineboot", "--end-session"], env=self.wine_env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60, check=True)
        self.assertEqual(clock.wait(deadline=15), 0)
        self.assertEqual(self.ini_lines(clock), ["[set]", "top=1", "left=2"])

    def test_an_unwritable_set_ini_is_reported_once_and_the_clock_still_ends(self):
        folder = os.path.join(self.work_dir, "unwritable")
        # Root ignores file modes; a folder in set.ini's place makes every write fail.
        os.makedirs(os.path.join(folder, "set.ini"))
        clock, form = self.open_clock(folder=folder)
        self.assertEqual(form["rect"][:2], [0, 0], "an unreadable set.ini reads as 0, 0")
        self.probe.click(self.buttons(form)["btn3"]["hwnd"])

        box = self.wait_for_dialog(clock, "Quenlet")
        self.assertEqual([s["text"] for s in box["statics"] if s["id"] == 65535],
                         [f"Unable to write to {self.windows_path(folder)}\\/set.ini."])
        self.assertEqual([b["text"] for b in box["buttons"]], ["OK"])
        self.assertEqual(len(self.visible_dialogs(clock)), 1)
        self.probe.click(box["buttons"][0]["hwnd"])
        # A second report would hold the process open.
        self.assertEqual(clock.wait(deadline=15), 0)
        self.assertTrue(os.path.isdir(self.ini_path(folder)))

    def test_an_exe_deeper_than_260_characters_keeps_its_set_ini_in_its_own_folder(self):
        folder = self.work_dir
        while len(self.windows_path(folder)) <= 300:
            folder = os.path.join(folder, "a-folder-name-long-enough-to-make-a-deep-path")
        clock, form = self.open_clock(folder=folder, ini="[set]\ntop=100\nleft=200\n")
        # Read from beside the exe: the whole path was taken, not the first 260 characters.
        self.assertEqual(form["rect"][:2], [200, 100])
        self.overwrite_ini(clock, "[set]\ntop=1\nleft=2\n")
        self.probe.post(form["hwnd"], WM_CLOSE)
        self.assertEqual(clock.wait(deadline=15), 0)
        self.assertEqual(self.ini_lines(clock), ["[set]", "top=100", "left=200"])


if __name__ == "__main__":
    import unittest
    unittest.main()
