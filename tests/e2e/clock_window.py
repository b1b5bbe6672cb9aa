"""What the settings and interaction tests share: finding the clock's windows and buttons from
outside, closing it the ways a user can, and reading set.ini as it lies on disk."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))

import quenlet_harness as qh  # noqa: E402

WM_CLOSE = 0x0010
WM_SYSCOMMAND = 0x0112
SC_MINIMIZE = 0xF020
SW_SHOWMINNOACTIVE = 7

# The clock's size at 96 dpi with the real Tahoma.
CLOCK_SIZE = (274, 178)
HELP = "帮助"
CLOSE = "关闭"


class LaunchedClock:
    """A clock the probe started (so that it gets a show request of the test's choosing); its
    end is waited for through the probe."""

    def __init__(self, test, exe, folder, winpid):
        self.test, self.exe_path, self.folder, self.pid = test, exe, folder, winpid
        # Ended by its exe's path in cleanup, as the harness ends the clocks it starts.
        self._process = qh.WineProcess(qh.subprocess.Popen(["true"]), exe, folder=folder)
        test.addCleanup(self._process.kill)

    def winpid_from(self, probe, deadline=30.0):
        return self.pid

    def _exit(self, ms):
        answer = self.test.probe.call(f"exitcode {self.pid} {ms}", deadline=ms / 1000 + 30)
        return answer["code"] if answer["ended"] else None

    @property
    def alive(self):
        return self._exit(0) is None

    def wait(self, deadline=10.0):
        code = self._exit(int(deadline * 1000))
        if code is None:
            raise AssertionError(f"the clock (Windows pid {self.pid}) still running after {deadline:.1f} s")
        return code


class ClockTestCase(qh.QuenletTestCase):
    def launch_clock(self, show, ini=None):
        """Like start_clock, but started by the probe with the show request `show`."""
        folder = os.path.join(self.work_dir, f"launched-{len(os.listdir(self.work_dir)) + 1}")
        os.makedirs(folder)
        exe = os.path.join(folder, "Quenlet.exe")
        qh.shutil.copy2(self.clock_exe(), exe)
        if ini is not None:
            with open(os.path.join(folder, "set.ini"), "wb") as f:
                f.write(ini.replace("\n", "\r\n").encode("cp1252"))
        pid = self.probe.call(f"launch {show} {qh.windows_path(exe)}")["pid"]
        return LaunchedClock(self, exe, folder, pid)

    def open_clock(self, **kw):
        """Starts the clock (start_clock's arguments) and waits for its window; returns
        (clock, window dict)."""
        clock = self.start_clock(**kw)
        return clock, self.wait_for_window(clock, lambda w: w["class"] == "TForm1")

    def open_clock_unmapped(self, **kw):
        """Starts the clock minimised, so its window is placed by the clock alone and never by
        the window manager; waits until the start is through. Returns (clock, window dict).

        HACK: Wine hands an owned pop-up to the X window manager as a dialog, and openbox puts a
        dialog wholly on the screen when it first maps it (sometimes a moment later), so a clock
        meant to stand partly off the screen can be pushed on. Windows has no such step."""
        clock = self.launch_clock(SW_SHOWMINNOACTIVE, **kw)

        # The minimise comes after the window's creation steps; the clock window is looked at
        # afresh afterwards, since one listing reads the windows one after the other.
        self.poll(lambda: self.windows_by_class(clock).get("TApplication", {}).get("iconic"), deadline=15,
                  message="a minimised start to finish")
        form = self.form(clock)
        self.assertFalse(form["visible"], "a minimised start showed the clock")
        return clock, form

    def windows_by_class(self, clock):
        return {w["class"]: w for w in self.probe.windows(self.winpid(clock))}

    def form(self, clock):
        return self.windows_by_class(clock)["TForm1"]

    def app_window(self, clock):
        return self.windows_by_class(clock)["TApplication"]

    def buttons(self, form):
        """btn1, btn2, btn3 by what they show: the speak button has no caption."""
        found = {}
        for child in self.probe.children(form["hwnd"]):
            if child["class"] == "Button":
                name = {"": "btn1", HELP: "btn2", CLOSE: "btn3"}.get(child["text"])
                if name:
                    found[name] = child
        self.assertEqual(sorted(found), ["btn1", "btn2", "btn3"], "the clock's buttons")
        return found

    def focused_button(self, form):
        names = [name for name, b in self.buttons(form).items() if b["focused"]]
        return names[0] if names else None

    def wait_until_at(self, clock, left, top, message=None):
        """Waits until the clock window's top-left corner is (left, top); returns its rect."""
        def there():
            rect = self.form(clock)["rect"]
            return rect[:2] == [left, top] and rect
        return self.poll(there, deadline=10, message=message or f"the clock at ({left}, {top}); "
                         f"it is at {self.form(clock)['rect'][:2]}")

    def visible_dialogs(self, clock):
        return [d for d in self.probe.dialogs(self.winpid(clock)) if d["visible"]]

    def wait_for_dialog(self, clock, title):
        def shown():
            found = [d for d in self.visible_dialogs(clock) if d["title"] == title]
            return found[0] if found else None
        return self.poll(shown, deadline=10, message=f"a dialog titled {title!r}")

    def wait_for_no_dialog(self, clock):
        self.poll(lambda: not self.probe.dialogs(self.winpid(clock)), deadline=10, message="the dialog to go")

    # -- set.ini ----------------------------------------------------------------------------------
    @staticmethod
    def ini_path(clock_or_folder):
        folder = getattr(clock_or_folder, "folder", clock_or_folder)
        return os.path.join(folder, "set.ini")

    def ini_lines(self, clock_or_folder):
        """The lines of set.ini without line ends and blank lines; None when there is no file."""
        try:
            with open(self.ini_path(clock_or_folder), "rb") as f:
                text = f.read().decode("cp1252")
        except FileNotFoundError:
            return None
        return [line for line in text.splitlines() if line.strip()]

    def ini_values(self, clock_or_folder):
        """The keys of section [set] as text."""
        values, section = {}, None
        for line in self.ini_lines(clock_or_folder) or []:
            if line.startswith("["):
                section = line.strip("[]").lower()
            elif section == "set" and "=" in line:
                key, _, value = line.partition("=")
                values[key.strip().lower()] = value.strip()
        return values

    def overwrite_ini(self, clock, text):
        """Edits set.ini behind the running clock's back (ANSI, CRLF)."""
        with open(self.ini_path(clock), "wb") as f:
            f.write(text.replace("\n", "\r\n").encode("cp1252"))
