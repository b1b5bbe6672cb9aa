"""Checks the test environment itself: the display, the prefix's fonts, the probe, and the
harness's process handling. If these fail, no other end-to-end result means anything."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))

import quenlet_harness as qh  # noqa: E402

WM_CLOSE = 0x0010
NOTEPAD = "C:\\windows\\system32\\notepad.exe"


class DisplayTest(qh.QuenletTestCase):
    def test_openbox_manages_the_display(self):
        self.assertEqual(qh.window_manager_name(self.display), "Openbox")

    def test_a_compositor_runs(self):
        self.assertTrue(qh.compositor_running(self.display), "xcompmgr has not taken the screen over")

    def test_root_background_is_grey_128(self):
        shot = self.screenshot("root.png")
        self.assertEqual((shot.width, shot.height), (1280, 1024))
        for x, y in ((0, 0), (1279, 0), (640, 10), (5, 1000)):
            self.assertEqual(shot.pixel(x, y), qh.GREY, f"pixel ({x}, {y}) in {shot.path}")

    def test_standard_cursors_are_told_apart_on_the_x_side(self):
        # Inside Wine another process's cursor cannot be named; the X cursor can.
        for idc in sorted(set(qh.X_CURSORS.values())):
            with self.subTest(idc=idc):
                shown = self.probe.showcursor(idc)
                self.assertTrue(shown["shown"], shown)
                self.poll(lambda: self.x_cursor()["idc"] == idc, deadline=5,
                          message=f"the X server to show {idc} (now {self.x_cursor()})")

    def test_probe_sees_the_same_screen(self):
        screen = self.probe.screen()
        self.assertEqual(screen["size"], [1280, 1024])
        self.assertEqual(screen["monitors"], 1)


class PrefixTest(qh.QuenletTestCase):
    def test_tahoma_is_the_real_tahoma(self):
        font = self.probe.fontcheck(-11, "Tahoma")
        self.assertEqual(font["face"], "Tahoma")
        # The family inside the font file, which a silent substitution (DejaVu Sans) would show.
        self.assertEqual(font["family"], "Tahoma")
        self.assertEqual(font["zero"], [6, 13], "the digit 0 at -11 px")

    def test_chinese_captions_render_through_the_font_link(self):
        for text in ("帮助", "关闭", "发声", "语音报时"):
            with self.subTest(text=text):
                check = self.probe.glyphcheck(text)
                self.assertEqual(check["text"], text, "the text came back changed")
                self.assertTrue(check["rendered"], f"{text} drawn as boxes or blanks: {check['chars']}")
                for ch in check["chars"]:
                    self.assertFalse(ch["in_primary"], "Tahoma itself has no CJK: the link must draw it")

    def test_an_unassigned_character_is_detected_as_a_box(self):
        # The check above would be worthless if boxes could not be told apart.
        check = self.probe.glyphcheck("\u0378")
        self.assertEqual(check["boxes"], 1)
        self.assertFalse(check["rendered"])

    def test_time_separator_is_the_default(self):
        self.assertEqual(self.probe.timeformat()["stime"], ":")

    def test_faked_clock_reaches_programs_and_leaves_the_prefix_alone(self):
        clsid_before = self.reg_query("HKCR\\SAPI.SpVoice\\CLSID")
        with self.faked_clock("2013-02-21 09:05:00"):
            self.assertTrue(self.probe.call("ping")["local_time"].startswith("2013-02-21 09:0"))
        self.assertFalse(self.probe.call("ping")["local_time"].startswith("2013-"))
        # A faked clock once made Wine update the prefix, which undid the voice registration.
        self.assertEqual(self.reg_query("HKCR\\SAPI.SpVoice\\CLSID"), clsid_before)

    def test_voice_is_registered_when_built(self):
        if not self.env_data.get("voice_dll"):
            self.skipTest("no voice DLL given to env up")
        clsid = self.reg_query("HKCR\\SAPI.SpVoice\\CLSID")
        self.assertTrue(clsid, "SAPI.SpVoice has no CLSID")
        server = self.reg_query(f"HKCR\\CLSID\\{clsid}\\InprocServer32")
        self.assertIsNotNone(server)
        self.assertIn("quenletvoice", server.lower())


class ProbeTest(qh.QuenletTestCase):
    def test_notepad_is_listed_closed_and_ends(self):
        notepad = self.start_wine([NOTEPAD])
        winpid = self.winpid(notepad)
        window = self.wait_for_window(notepad, lambda w: w["class"] == "Notepad")
        self.assertEqual(window["pid"], winpid)
        self.assertTrue(window["title"].endswith("Notepad"), window["title"])
        self.assertFalse(window["topmost"])
        self.assertIsNone(window["layered"])
        self.assertIn(window["hwnd"], [w["hwnd"] for w in self.probe.windows()])
        self.probe.post(window["hwnd"], WM_CLOSE)
        self.assertEqual(notepad.wait(deadline=10), 0)
        self.poll(lambda: all(w["hwnd"] != window["hwnd"] for w in self.probe.windows()), deadline=5,
                  message="notepad's window to go")

    def test_focus_window_gets_the_keys(self):
        answer = self.probe.focuskeys("shift+a")
        self.assertTrue(answer["delivered"], answer)
        self.assertEqual(answer["foreground"], answer["focus_hwnd"])
        # VK_SHIFT 16 and "A" 65 down, the character "A", then the releases in reverse order.
        self.assertEqual(answer["received"], ["down:16", "down:65", "char:65", "up:65", "up:16"])

    def test_answers_carry_unicode_both_ways(self):
        self.assertEqual(self.probe.glyphcheck("Alt+A 语音报时")["text"], "Alt+A 语音报时")

    def test_unknown_command_is_an_error_not_a_crash(self):
        reply = self.probe.call("no-such-command", check=False)
        self.assertFalse(reply["ok"])
        self.assertIn("unknown command", reply["error"])
        self.assertTrue(self.probe.call("ping")["ok"])

    def test_probe_from_the_command_line(self):
        # The one-shot form and the `env.py run` wrapper used by Windows unit tests.
        rc = subprocess.run([sys.executable, os.path.join(qh.HERE, "env.py"), "run", "--state", self.state_dir,
                             "--", "wine", os.environ["QUENLET_PROBE"], "timeformat"],
                            stdout=subprocess.PIPE, timeout=60)
        self.assertEqual(rc.returncode, 0)
        self.assertIn(b'"stime":":"', rc.stdout)


if __name__ == "__main__":
    unittest.main()
