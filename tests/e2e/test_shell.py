"""The program's shell as a user meets it: the windows a start makes, the ways to close it, and
minimising and restoring through the application window that carries the taskbar button."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))

import quenlet_harness as qh  # noqa: E402

WM_CLOSE = 0x0010
WM_SYSCOMMAND = 0x0112
SC_MINIMIZE = 0xF020
SC_RESTORE = 0xF120
WS_POPUP = 0x80000000
WS_CAPTION = 0x00C00000
WS_SYSMENU = 0x00080000
WS_MINIMIZEBOX = 0x00020000
WS_EX_LAYERED = 0x00080000

# Windows a program gets from the system without asking; they carry no taskbar button.
SYSTEM_CLASSES = {"IME", "tooltips_class32", "TPUtilWindow"}


def is_clock(w):
    return w["class"] == "TForm1"


class ShellTest(qh.QuenletTestCase):
    def windows_of(self, clock):
        return [w for w in self.probe.windows(self.winpid(clock)) if w["class"] not in SYSTEM_CLASSES]

    def x_window_iconic(self):
        found = qh.subprocess.run(["xdotool", "search", "--name", "^Quenlet$"], env=self.wine_env(),
                                  capture_output=True, text=True).stdout.split()
        for xid in found:
            state = qh.subprocess.run(["xprop", "-id", xid, "WM_STATE"], env=self.wine_env(),
                                      capture_output=True, text=True).stdout
            if "Iconic" in state:
                return True
        return False

    def start_and_find(self, **kw):
        clock = self.start_clock(**kw)
        form = self.wait_for_window(clock, is_clock)
        windows = self.windows_of(clock)
        app = [w for w in windows if w["class"] == "TApplication"]
        self.assertEqual(len(app), 1, windows)
        return clock, form, app[0]

    def test_a_start_shows_the_application_window_owning_the_topmost_clock(self):
        clock, form, app = self.start_and_find()
        windows = self.windows_of(clock)
        self.assertEqual(sorted(w["class"] for w in windows), ["TApplication", "TForm1"], windows)

        # The application window: the taskbar button's owner, never seen itself.
        self.assertEqual(app["title"], "Quenlet")
        self.assertTrue(app["visible"], "no taskbar button while the clock shows")
        self.assertEqual(app["owner"], 0)
        left, top, right, bottom = app["rect"]
        self.assertEqual((right - left, bottom - top), (0, 0))
        screen = self.probe.screen()["size"]
        self.assertEqual((left, top), (screen[0] // 2, screen[1] // 2))
        for bit in (WS_POPUP, WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX):
            self.assertEqual(app["style"] & bit, bit, hex(app["style"]))

        # The clock window: owned by it (so no taskbar button of its own), topmost, shown.
        self.assertEqual(form["title"], "Quenlet")
        self.assertEqual(form["owner"], app["hwnd"])
        self.assertTrue(form["topmost"])
        self.assertTrue(form["exstyle"] & WS_EX_LAYERED)
        self.assertEqual(form["client"], [274, 178])

    def test_every_close_request_ends_the_program_with_exit_code_0(self):
        for target in ("clock window", "application window"):
            with self.subTest(target=target):
                clock, form, app = self.start_and_find()
                hwnd = form["hwnd"] if target == "clock window" else app["hwnd"]
                self.probe.post(hwnd, WM_CLOSE)
                self.assertEqual(clock.wait(deadline=15), 0)
                # The close wrote the position: the close steps ran.
                self.assertTrue(os.path.isfile(os.path.join(clock.folder, "set.ini")))

    def test_minimising_from_the_taskbar_hides_the_clock_and_restoring_brings_it_back(self):
        clock, form, app = self.start_and_find()
        before = form["rect"]
        self.probe.post(app["hwnd"], WM_SYSCOMMAND, SC_MINIMIZE)
        pid = self.winpid(clock)

        def state():
            ws = {w["class"]: w for w in self.probe.windows(pid)}
            return ws["TForm1"], ws["TApplication"]

        self.poll(lambda: not state()[0]["visible"] and state()[1]["iconic"], message="the clock hidden, the application minimised")
        # HACK: Wine + openbox: the window manager confirms the minimise asynchronously, and a
        # confirmation that arrives after the restore minimises again. Wait for it as a user's
        # pause would.
        self.poll(self.x_window_iconic, message="the window manager to show the application minimised")
        self.probe.post(app["hwnd"], WM_SYSCOMMAND, SC_RESTORE)
        restored = self.poll(lambda: state()[0]["visible"] and state()[0], message="the clock shown again")
        self.assertEqual(restored["rect"], before, "the clock came back somewhere else")
        self.assertFalse(state()[1]["iconic"])

    def test_a_minimised_start_shows_no_clock_until_restored(self):
        # As a shortcut set to "Minimized" starts it: SW_SHOWMINNOACTIVE in the start-up info.
        folder = os.path.join(self.work_dir, "minimised")
        os.makedirs(folder)
        exe = os.path.join(folder, "Quenlet.exe")
        qh.shutil.copy2(self.clock_exe(), exe)
        clock = qh.WineProcess(qh.subprocess.Popen(["true"]), exe, folder=folder)
        self.addCleanup(clock.kill)
        pid = self.probe.call(f"launch 7 {qh.windows_path(exe)}")["pid"]

        def windows():
            return {w["class"]: w for w in self.probe.windows(pid)}

        app = self.poll(lambda: windows().get("TApplication", {}).get("iconic") and windows()["TApplication"],
                        deadline=15, message="the application window minimised")
        self.assertIn("TForm1", windows())
        self.assertFalse(windows()["TForm1"]["visible"], "a minimised start showed the clock")
        self.probe.post(app["hwnd"], WM_SYSCOMMAND, SC_RESTORE)
        self.poll(lambda: windows()["TForm1"]["visible"], message="the clock shown after the restore")
        self.probe.post(app["hwnd"], WM_CLOSE)
        ended = self.probe.call(f"exitcode {pid} 15000")
        self.assertTrue(ended["ended"])
        self.assertEqual(ended["code"], 0)

if __name__ == "__main__":
    qh.unittest.main()
