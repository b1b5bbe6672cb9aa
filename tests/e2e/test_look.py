"""The clock's look, end to end: the real exe under Wine, judged by what a user would see on the
root window (openbox + xcompmgr over a solid grey 128), by the window system's own view of the
window, by the cursor the X server shows and by the hint window.

The expected values are the window layout as the clock's description gives it; the texts are
compared pixel for pixel with the same texts drawn by the probe in the same prefix, so a box
glyph, a wrong font or a misplaced label shows as a different mask."""

import collections
import datetime
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))

import quenlet_harness as qh  # noqa: E402

GREY = qh.GREY
ALPHA = 200
KEY = 16746512                    # #1088FF, the window colour and its transparent key
PANEL_RGB = (17, 136, 255)        # #1188FF, one red step off the key
BLACK = (0, 0, 0)
WHITE = (255, 255, 255)

# Where the clock is put (set.ini), well inside the screen and over the grey root.
LEFT, TOP = 400, 300
INI = f"[set]\ntop={TOP}\nleft={LEFT}\n"

# The window layout at 96 pixels per inch: (left, top, width, height), client-relative.
CLIENT = (274, 178)
SHP1 = (8, 8, 258, 161)
CORNER = 20                       # half the 40 x 40 corner ellipse (161 div 4 = 40)
BUTTONS = {"btn1": (185, 33, 67, 57), "btn2": (190, 105, 62, 25), "btn3": (190, 136, 62, 24)}
CAPTIONS = {"btn1": "", "btn2": "帮助", "btn3": "关闭"}
LABEL_POS = {"lbl1": (30, 22), "lbl3": (30, 96), "lbl2": (30, 115), "lbl4": (65, 144)}
WINDOW_FONT, TIME_FONT, TEXT_HEIGHT = -11, -56, 13
HOTKEY_CAPTION = "Alt+A 语音报时"

WEEKDAYS = ["Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"]
MONTHS = ["January", "February", "March", "April", "May", "June", "July", "August", "September",
          "October", "November", "December"]

WS_POPUP, WS_CAPTION, WS_THICKFRAME = 0x80000000, 0x00C00000, 0x00040000
BS_TYPEMASK = 0xF
PUSH_TYPES = {0x0: "BS_PUSHBUTTON", 0x1: "BS_DEFPUSHBUTTON"}
COMMAND_LINK_TYPES = {0xE: "BS_COMMANDLINK", 0xF: "BS_DEFCOMMANDLINK"}
TTM_GETTOOLCOUNT, TTM_GETDELAYTIME = 0x040D, 0x0415
TTDT_AUTOPOP, TTDT_INITIAL = 2, 3
NOTEPAD = "C:\\windows\\system32\\notepad.exe"
DESKTOP_KEY = "HKCU\\Control Panel\\Desktop"
APP_KEY = "HKCU\\Software\\Wine\\AppDefaults\\Quenlet.exe"


def mul_div_round(value, numerator, denominator):
    """value * numerator / denominator rounded half away from zero (Win32 MulDiv)."""
    q, r = divmod(abs(value) * numerator, denominator)
    q += 1 if 2 * r >= denominator else 0
    return -q if value < 0 else q


def blend(colour, under=GREY):
    """What the compositor shows for a window pixel of `colour` at alpha 200 over `under`."""
    return tuple(round((ALPHA * c + (255 - ALPHA) * u) / 255) for c, u in zip(colour, under))


def near(p, q, tol=2):
    return all(abs(a - b) <= tol for a, b in zip(p, q))


def ink(shot, rect, is_ink):
    """The ink in rect (screen coordinates, right and bottom excluded): its bounding box and the
    rows of its mask, as the probe's textink gives them; (None, []) when there is none."""
    found = {(x, y) for x, y, p in shot.pixels(*rect) if is_ink(p)}
    if not found:
        return None, []
    x0, y0 = min(x for x, _ in found), min(y for _, y in found)
    x1, y1 = max(x for x, _ in found) + 1, max(y for _, y in found) + 1
    rows = ["".join("#" if (x, y) in found else "." for x in range(x0, x1)) for y in range(y0, y1)]
    return (x0, y0, x1, y1), rows


def clock_texts(local_time):
    """The time, weekday and date texts for the probe's "YYYY-MM-DD HH:MM:SS"."""
    day = datetime.datetime.strptime(local_time, "%Y-%m-%d %H:%M:%S")
    ordinal = {1: "First", 2: "Second", 3: "Third"}.get(day.day, f"{day.day}th")
    return (f"{day.hour}:{day.minute}", WEEKDAYS[day.isoweekday() - 1],
            f"{ordinal},{MONTHS[day.month - 1]},{day.year}")


class LookCase(qh.QuenletTestCase):
    """Starting the clock where it can be seen, and looking at it."""

    def start_clock_window(self, **kw):
        clock = self.start_clock(ini=INI, **kw)
        form = self.wait_for_window(clock, lambda w: w["class"] == "TForm1")
        form = self.wait_for_window(clock, lambda w: w["hwnd"] == form["hwnd"] and w["rect"][:2] == [LEFT, TOP],
                                    deadline=5)
        children = self.probe.children(form["hwnd"])
        buttons = {}
        for name, caption in CAPTIONS.items():
            found = [c for c in children if c["class"] == "Button" and c["text"] == caption]
            self.assertEqual(len(found), 1, f"{name} ({caption!r}) among {children}")
            buttons[name] = found[0]
        return clock, form, buttons

    def park_pointer(self):
        # Top left of the screen: off the clock and off any window a test puts under it.
        self.mousemove(2, 2)

    def steady_shot(self, name, panel_point, buttons):
        """A screenshot of the finished window (something drawn at panel_point, the caption of
        btn3, which is painted last, on its face), taken within one minute of the clock's time
        so that the texts it shows are known; returns (shot, local time)."""
        btn3 = tuple(buttons["btn3"]["rect"])
        btn3_area = (btn3[2] - btn3[0]) * (btn3[3] - btn3[1])

        def take():
            before = self.probe.call("ping")["local_time"]
            shot = self.screenshot(name)
            after = self.probe.call("ping")["local_time"]
            # A button not painted yet is a black box under Wine: ink alone does not say the
            # caption is there, its light face must be there too.
            ready = (shot.pixel(*panel_point) != GREY and shot.count(lambda p: sum(p) < 300, btn3) > 0
                     and shot.count(lambda p: sum(p) >= 300, btn3) > btn3_area // 2)
            return (shot, after) if before[:16] == after[:16] and ready else None
        return self.poll(take, deadline=15, interval=0.2, message=f"a finished picture of the clock ({name})")

    def assert_mask(self, shot, rect, is_ink, reference, origin, what):
        """The ink in rect is exactly the probe's drawing of the same text, placed at origin."""
        box, rows = ink(shot, rect, is_ink)
        self.assertIsNotNone(box, f"{what}: no ink at all in {rect} of {shot.path}")
        self.assertEqual(rows, reference["mask"], f"{what}: the pixels differ from {reference['text']!r} "
                                                  f"in {reference['face']} {reference['height']} ({shot.path})")
        if origin is not None:
            want = [origin[0] + reference["box"][0], origin[1] + reference["box"][1]]
            self.assertEqual([box[0] - LEFT, box[1] - TOP], want, f"{what}: ink placed elsewhere ({shot.path})")
        return box

    def assert_picture_in(self, shot, rect):
        # The speech bubble's two red exclamation marks: found nowhere else in the window.
        red = lambda p: p[0] > 180 and p[1] < 90 and p[2] < 90  # noqa: E731
        inside = shot.count(red, tuple(rect))
        self.assertGreaterEqual(inside, 20, f"no picture in the button at {rect} ({shot.path})")
        self.assertEqual(shot.count(red, (LEFT, TOP, LEFT + CLIENT[0], TOP + CLIENT[1])), inside,
                         f"the picture spills out of the button at {rect} ({shot.path})")

    def key_exists(self, key):
        return subprocess.run(["wine", "reg", "query", key], env=self.wine_env(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60).returncode == 0

    def set_registry_value(self, key, value, data, kind):
        """Sets key\\value for this test; the old value (or its absence, or the key's) comes back
        when the test ends, also when it fails."""
        key_existed = self.key_exists(key)
        old = self.reg_query(key, value)

        def restore():
            if old is not None:
                self.reg_add(key, value, int(old, 16) if kind == "REG_DWORD" else old, kind)
            elif key_existed:
                self.reg_delete(key, value)
            else:
                self.reg_delete(key)
            self.assertEqual(self.reg_query(key, value), old, f"{key}\\{value} was not put back")
            self.assertEqual(self.key_exists(key), key_existed, f"{key} was not put back")
        self.addCleanup(restore)
        self.reg_add(key, value, data, kind)


class DefaultLookTest(LookCase):
    """One clock at 96 pixels per inch over the grey root, looked at in every respect."""

    def test_window_panel_texts_and_buttons(self):
        clock, form, buttons = self.start_clock_window()
        self.park_pointer()
        shot, local_time = self.steady_shot("default.png", (LEFT + 150, TOP + 12), buttons)

        with self.subTest("window and its layered attributes"):
            self.assertEqual(form["title"], "Quenlet")
            x0, y0, x1, y1 = form["rect"]
            self.assertEqual((x1 - x0, y1 - y0), CLIENT, "window size")
            self.assertEqual(tuple(form["client"]), CLIENT, "client size")
            self.assertTrue(form["style"] & WS_POPUP, f"style {form['style']:#x}")
            self.assertFalse(form["style"] & (WS_CAPTION | WS_THICKFRAME), f"style {form['style']:#x} has a frame")
            self.assertEqual(form["layered"], {"key": KEY, "key_rgb": [16, 136, 255], "alpha": ALPHA, "flags": 3})

        left, top = LEFT + SHP1[0], TOP + SHP1[1]
        right, bottom = left + SHP1[2], top + SHP1[3]          # exclusive
        with self.subTest("margins show the background"):
            wrong = [(x - LEFT, y - TOP, p) for x, y, p in shot.pixels(LEFT, TOP, LEFT + CLIENT[0], TOP + CLIENT[1])
                     if not (left <= x < right and top <= y < bottom) and p != GREY]
            self.assertEqual(wrong[:10], [], f"{len(wrong)} margin pixels are not the background ({shot.path})")

        with self.subTest("rounded corners"):
            # Each corner's square of the panel, and the centre of its quarter circle.
            squares = [(left, top, left + CORNER, top + CORNER), (right - CORNER, top, right - CORNER, top + CORNER),
                       (left, bottom - CORNER, left + CORNER, bottom - CORNER),
                       (right - CORNER, bottom - CORNER, right - CORNER, bottom - CORNER)]
            outside, holes = [], []
            for sx, sy, cx, cy in squares:
                for x, y, p in shot.pixels(sx, sy, sx + CORNER, sy + CORNER):
                    d = ((x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2) ** 0.5
                    if d > CORNER + 1.5 and p != GREY:
                        outside.append((x - LEFT, y - TOP))
                    if d < CORNER - 1.5 and p == GREY:
                        holes.append((x - LEFT, y - TOP))
            self.assertEqual(outside[:10], [], f"{len(outside)} pixels outside the corners are drawn ({shot.path})")
            self.assertEqual(holes[:10], [], f"{len(holes)} pixels inside the corners are holes ({shot.path})")

        with self.subTest("black outline, blended"):
            edges = ([(x, top) for x in range(left + CORNER, right - CORNER)] +
                     [(x, bottom - 1) for x in range(left + CORNER, right - CORNER)] +
                     [(left, y) for y in range(top + CORNER, bottom - CORNER)] +
                     [(right - 1, y) for y in range(top + CORNER, bottom - CORNER)])
            wrong = [(x - LEFT, y - TOP, shot.pixel(x, y)) for x, y in edges if not near(shot.pixel(x, y), blend(BLACK))]
            self.assertEqual(wrong[:10], [], f"outline pixels are not {blend(BLACK)} ({shot.path})")
            inner = [(x - LEFT, y - TOP, shot.pixel(x, y)) for x, y in
                     ((left + 1, TOP + 88), (right - 2, TOP + 88), (LEFT + 137, top + 1), (LEFT + 137, bottom - 2))]
            for x, y, p in inner:
                self.assertTrue(near(p, blend(PANEL_RGB)), f"({x}, {y}) just inside the outline is {p}")

        with self.subTest("panel fill is #1188FF at 200/255"):
            for x, y in ((150, 12), (20, 80), (120, 100), (175, 150), (160, 90), (255, 100)):
                p = shot.pixel(LEFT + x, TOP + y)
                self.assertTrue(near(p, blend(PANEL_RGB)), f"panel pixel ({x}, {y}) is {p}, not {blend(PANEL_RGB)}")
            holes = [(x - LEFT, y - TOP) for x, y, p in
                     shot.pixels(left + 1, top + CORNER, right - 1, bottom - CORNER) if p == GREY]
            holes += [(x - LEFT, y - TOP) for x, y, p in
                      shot.pixels(left + CORNER, top + 1, right - CORNER, bottom - 1) if p == GREY]
            self.assertEqual(holes[:10], [], f"{len(holes)} holes in the panel ({shot.path})")

        with self.subTest("everything visible is drawn at 200/255"):
            # Over grey 128 a 200/255 blend of any colour lies between the blends of black and white.
            low, high = blend(BLACK), blend(WHITE)
            wrong = [(x - LEFT, y - TOP, p) for x, y, p in shot.pixels(LEFT, TOP, LEFT + CLIENT[0], TOP + CLIENT[1])
                     if any(c < lo - 2 or c > hi + 2 for c, lo, hi in zip(p, low, high))]
            self.assertEqual(wrong[:10], [], f"{len(wrong)} pixels are not blended at {ALPHA}/255 ({shot.path})")

        time_text, weekday, date = clock_texts(local_time)
        labels = [("lbl1", time_text, TIME_FONT), ("lbl3", weekday, WINDOW_FONT), ("lbl2", date, WINDOW_FONT),
                  ("lbl4", HOTKEY_CAPTION, WINDOW_FONT)]
        text_ink = lambda p: not near(p, blend(PANEL_RGB), 6)  # noqa: E731
        for name, text, height in labels:
            with self.subTest("label text at its place", label=name, text=text):
                ref = self.probe.textink(height, "Tahoma", text)
                x, y = LABEL_POS[name]
                w, h = ref["extent"]
                rect = (LEFT + x - 3, TOP + y - 3, LEFT + min(x + w + 3, BUTTONS["btn1"][0]), TOP + y + h + 3)
                box = self.assert_mask(shot, rect, text_ink, ref, (x, y), name)
                if name == "lbl1":
                    # Placed at (30, 22) above; the empty label was 18 pixels wide.
                    self.assertGreater(box[2] - LEFT, x + 18, "the time did not widen its label to the right")
                # Large text is smoothed: its edges are mixed with the panel, its body is solid.
                colours = collections.Counter(p for _, _, p in shot.pixels(*box) if text_ink(p))
                self.assertTrue(near(colours.most_common(1)[0][0], blend(BLACK)),
                                f"{name}: text not in the window-text colour at 200/255: {colours.most_common(3)}")

        for name in ("btn2", "btn3"):
            caption = CAPTIONS[name]
            with self.subTest("button caption drawn as glyphs", button=name, caption=caption):
                check = self.probe.glyphcheck(caption)
                self.assertTrue(check["rendered"], f"{caption} is drawn as boxes in this prefix: {check['chars']}")
                ref = self.probe.textink(WINDOW_FONT, "Tahoma", caption)
                boxes = self.probe.textink(WINDOW_FONT, "Tahoma", "\u0378" * len(caption))
                self.assertNotEqual(boxes["mask"], ref["mask"], "boxes and glyphs cannot be told apart")
                x0, y0, x1, y1 = buttons[name]["rect"]
                # Dark pixels on the light face: the caption, nothing else.
                self.assert_mask(shot, (x0 + 2, y0 + 2, x1 - 2, y1 - 2), lambda p: sum(p) < 300, ref, None, name)

        with self.subTest("buttons: places, sizes and kinds"):
            for name, (x, y, w, h) in BUTTONS.items():
                self.assertEqual(buttons[name]["rect"], [LEFT + x, TOP + y, LEFT + x + w, TOP + y + h], name)
                self.assertTrue(buttons[name]["visible"], name)
            kind = buttons["btn1"]["style"] & BS_TYPEMASK
            self.assertIn(kind, COMMAND_LINK_TYPES, f"btn1 is not a command link: style {buttons['btn1']['style']:#x}")
            for name in ("btn2", "btn3"):
                self.assertIn(buttons[name]["style"] & BS_TYPEMASK, PUSH_TYPES, name)
        with self.subTest("speak button shows the megaphone picture"):
            self.assert_picture_in(shot, buttons["btn1"]["rect"])


class PointerTest(LookCase):
    """What the pointer meets: the move arrow, the arrow, and the window beneath the margins."""

    def test_cursor_and_margins_with_a_window_beneath(self):
        notepad = self.start_wine([NOTEPAD])
        pad = self.wait_for_window(notepad, lambda w: w["class"] == "Notepad")
        edit = [c for c in self.probe.children(pad["hwnd"]) if c["class"] == "Edit"][0]
        ex0, ey0, ex1, ey1 = edit["rect"]
        self.assertTrue(ex0 < LEFT and ey0 < TOP and ex1 > LEFT + CLIENT[0] and ey1 > TOP + CLIENT[1],
                        f"notepad's text area {edit['rect']} does not lie under the whole clock")
        clock, form, _ = self.start_clock_window()
        self.poll(lambda: self.probe.foreground()["hwnd"] == form["hwnd"], deadline=10,
                  message="the clock to be the foreground window")

        # In an order where each point's cursor differs from the one before it.
        points = [
            ("panel", (150, 12), "IDC_SIZEALL"),
            ("left margin", (3, 88), "IDC_IBEAM"),
            ("lbl1", (45, 50), "IDC_SIZEALL"),
            ("btn1", (218, 61), "IDC_ARROW"),
            ("lbl3", (35, 102), "IDC_SIZEALL"),
            ("top margin", (137, 3), "IDC_IBEAM"),
            ("lbl2", (35, 121), "IDC_SIZEALL"),
            ("btn2", (221, 117), "IDC_ARROW"),
            ("lbl4", (70, 150), "IDC_SIZEALL"),
            ("outside the top left corner", (10, 10), "IDC_IBEAM"),
            ("panel near the bottom", (20, 160), "IDC_SIZEALL"),
            ("btn3", (221, 148), "IDC_ARROW"),
            ("bottom margin", (137, 173), "IDC_IBEAM"),
            ("panel at the right", (260, 100), "IDC_SIZEALL"),
            ("outside the bottom right corner", (263, 166), "IDC_IBEAM"),
        ]
        for where, (x, y), idc in points:
            with self.subTest(where=where, idc=idc):
                self.wait_for_cursor(LEFT + x, TOP + y, idc)

        with self.subTest("a press in the margin reaches the window beneath"):
            self.assertEqual(self.probe.foreground()["hwnd"], form["hwnd"], "the clock lost the foreground early")
            self.click_at(LEFT + 3, TOP + 88)
            self.poll(lambda: self.probe.foreground()["hwnd"] == pad["hwnd"], deadline=10,
                      message="notepad to take the press in the clock's margin")


class HintTest(LookCase):
    def test_only_the_speak_button_has_a_hint(self):
        clock, form, buttons = self.start_clock_window()
        pid = self.winpid(clock)
        shown = lambda: [t for t in self.probe.tooltips() if t["pid"] == pid]  # noqa: E731

        def centre(name):
            x0, y0, x1, y1 = buttons[name]["rect"]
            return (x0 + x1) // 2, (y0 + y1) // 2

        x, y = centre("btn1")
        self.mousemove(x, y)
        tips = self.poll(shown, deadline=10, message="the hint of btn1")
        self.assertEqual([t["text"] for t in tips], ["发声"])
        tx0, ty0, tx1, ty1 = tips[0]["rect"]
        self.assertTrue(abs(tx0 - x) < 64 and abs(ty0 - y) < 64, f"hint at {tips[0]['rect']}, pointer at {(x, y)}")

        tip = tips[0]["hwnd"]
        self.assertEqual(self.probe.send(tip, TTM_GETTOOLCOUNT)["result"], 1, "tools in the hint window")
        initial = self.probe.send(tip, TTM_GETDELAYTIME, TTDT_INITIAL)["result"]
        self.assertEqual((initial, self.probe.send(tip, TTM_GETDELAYTIME, TTDT_AUTOPOP)["result"]), (500, 2500),
                         "shown after 500 ms, hidden after 2500 ms")

        for name, where in (("btn2", centre("btn2")), ("btn3", centre("btn3")),
                            ("lbl4", (LEFT + 70, TOP + 150)), ("panel", (LEFT + 150, TOP + 12))):
            with self.subTest("no hint", where=name):
                self.mousemove(*where)
                self.poll(lambda: not shown(), deadline=5, message=f"the hint to go on {name}")
                # Absence can only be watched over a span: three times the delay a hint takes.
                end = time.monotonic() + 3 * initial / 1000
                while time.monotonic() < end:
                    self.assertEqual(shown(), [], f"a hint showed on {name}")
                    time.sleep(0.05)  # the gap between two looks, as in poll()


class ScreenDensityTest(LookCase):
    def test_layout_follows_the_height_of_zero_at_120_dpi(self):
        self.set_registry_value(DESKTOP_KEY, "LogPixels", 120, "REG_DWORD")
        # Wine reads the density when a process starts: the probe starts only now.
        probe = self.probe
        self.assertEqual(probe.screen()["dpi"], 120, "the prefix does not report 120 pixels per inch")
        font = mul_div_round(WINDOW_FONT, 120, 96)
        self.assertEqual(font, -14)
        zero = probe.fontcheck(font, "Tahoma")["zero"][1]
        self.assertNotEqual(zero, TEXT_HEIGHT, "nothing would be rescaled")
        scale = lambda v: mul_div_round(v, zero, TEXT_HEIGHT)  # noqa: E731

        def scaled(x, y, w, h):
            return scale(x), scale(y), scale(x + w), scale(y + h)   # each edge on its own

        clock, form, buttons = self.start_clock_window()
        with self.subTest("window size"):
            size = (scale(CLIENT[0]), scale(CLIENT[1]))
            x0, y0, x1, y1 = form["rect"]
            self.assertEqual((x1 - x0, y1 - y0), size)
            self.assertEqual(tuple(form["client"]), size)
        with self.subTest("buttons"):
            for name, rect in BUTTONS.items():
                l, t, r, b = scaled(*rect)
                self.assertEqual(buttons[name]["rect"], [LEFT + l, TOP + t, LEFT + r, TOP + b], name)

        self.park_pointer()
        l, t, r, b = scaled(*SHP1)
        pl, pt, pr, pb = LEFT + l, TOP + t, LEFT + r, TOP + b
        shot, local_time = self.steady_shot("dpi120.png", (LEFT + 150, pt + 4), buttons)
        with self.subTest("panel and margins"):
            for x, y in ((pl, TOP + 100), (pr - 1, TOP + 100), (LEFT + 150, pt), (LEFT + 150, pb - 1)):
                self.assertTrue(near(shot.pixel(x, y), blend(BLACK)), f"outline at ({x - LEFT}, {y - TOP})")
            for x, y in ((pl - 1, TOP + 100), (pr, TOP + 100), (LEFT + 150, pt - 1), (LEFT + 150, pb)):
                self.assertEqual(shot.pixel(x, y), GREY, f"margin at ({x - LEFT}, {y - TOP})")
        time_text = clock_texts(local_time)[0]
        text_ink = lambda p: not near(p, blend(PANEL_RGB), 6)  # noqa: E731
        for name, text, height in (("lbl1", time_text, mul_div_round(TIME_FONT, zero, TEXT_HEIGHT)),
                                   ("lbl4", HOTKEY_CAPTION, font)):
            with self.subTest("label", label=name, font=height):
                ref = self.probe.textink(height, "Tahoma", text)
                x, y = (scale(v) for v in LABEL_POS[name])
                w, h = ref["extent"]
                rect = (LEFT + x - 3, TOP + y - 3, LEFT + min(x + w + 3, scale(BUTTONS["btn1"][0])), TOP + y + h + 3)
                self.assert_mask(shot, rect, text_ink, ref, (x, y), name)


class OldWindowsTest(LookCase):
    def test_speak_button_is_a_push_button_with_the_picture_before_windows_6(self):
        self.set_registry_value(APP_KEY, "Version", "winxp", "REG_SZ")
        clock, form, buttons = self.start_clock_window()
        btn1 = buttons["btn1"]
        self.assertIn(btn1["style"] & BS_TYPEMASK, PUSH_TYPES, f"btn1 style {btn1['style']:#x}")
        x, y, w, h = BUTTONS["btn1"]
        self.assertEqual(btn1["rect"], [LEFT + x, TOP + y, LEFT + x + w, TOP + y + h], "the layout's size")
        self.park_pointer()
        shot, _ = self.steady_shot("winxp.png", (LEFT + 150, TOP + 12), buttons)
        self.assert_picture_in(shot, btn1["rect"])


if __name__ == "__main__":
    unittest.main()
