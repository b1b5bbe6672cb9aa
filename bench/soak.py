#!/usr/bin/env python3
"""Soak: the real Quenlet.exe under Wine with the recording voice, driven for a while by a seeded
random mix of what a user does, sampled every minute. A script, not a test; exit code 0 when
every check held, 1 when one did not.

    bench/soak.py [--minutes 20] [--seed 1] [--build DIR] [--state DIR] [--speak-ms 100]

Actions: Alt+A from another application (the probe's SendInput), a click on the speak button,
the help note opened and closed (its "&Yes" button, or Enter), a drag of the panel, minimise and
restore through the application window, and a settings broadcast. The close button is never
pressed. Each action is finished (announcement spoken, note closed, window moved or back)
before the next begins.

Every minute: RSS (VmRSS of the Wine process) and GetGuiResources, which Wine 8 answers with 0,
so it is printed but cannot show a leak there. At the end: no error box ever showed, every
announcement was spoken whole and in order, and RSS did not grow beyond noise: the last sample
may exceed the median of the first three by at most --rss-noise MiB (default 3).
"""

from __future__ import annotations

import argparse
import os
import random
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import benchlib as bl  # noqa: E402

HELP, CLOSE = "帮助", "关闭"
PANEL = (120, 14)  # a point of the panel above every label, in window coordinates
SCREEN = (1280, 1024)
CLOCK_SIZE = (274, 178)
ACTIONS = {  # name: weight
    "hotkey": 4, "speak_click": 3, "help": 2, "drag": 3, "minimise_restore": 2, "setting_change": 2,
}


class Soak:
    def __init__(self, env, args):
        self.env = env
        self.args = args
        self.rng = random.Random(args.seed)
        self.problems = []
        self.counts = {name: 0 for name in ACTIONS}
        self.announcements = 0  # speak actions performed
        self.drag_misses = []  # (pixels off, wanted, got)
        self.samples = []  # (minute, rss KiB, guiresources answer)
        folder = os.path.join(env.work, "soak")
        self.exe = env.install(env.exe("Quenlet.exe"), folder)
        self.voice_log = os.path.join(folder, "voice.jsonl")
        self.proc = env.start(self.exe, {"QUENLET_VOICE_LOG": bl.windows_path(self.voice_log),
                                         "QUENLET_VOICE_SPEAK_MS": str(args.speak_ms)})
        self.winpid = env.winpid(self.exe)
        self.form = env.window(self.winpid, "TForm1", deadline=30)
        self.app = env.window(self.winpid, "TApplication", visible=False)
        self.buttons = {}
        for child in env.probe.children(self.form["hwnd"]):
            name = {"": "btn1", HELP: "btn2", CLOSE: "btn3"}.get(child["text"]) if child["class"] == "Button" else None
            if name:
                self.buttons[name] = child["hwnd"]
        if sorted(self.buttons) != ["btn1", "btn2", "btn3"]:
            raise SystemExit(f"the clock's buttons were not found: {self.buttons}")

    # -- observing ---------------------------------------------------------------------------------
    def windows(self):
        return {w["class"]: w for w in self.env.probe.windows(self.winpid)}

    def problem(self, text):
        self.problems.append(f"[{self.elapsed():6.1f} s] {text}")
        print(f"PROBLEM: {self.problems[-1]}", flush=True)

    def elapsed(self):
        return time.monotonic() - self.started

    def error_boxes(self):
        return [d for d in self.env.probe.dialogs(self.winpid) if d["title"] == "Quenlet"]

    def dismiss_error_boxes(self):
        for box in self.error_boxes():
            texts = [s["text"] for s in box["statics"]]
            self.problem(f"error box: {texts}")
            for b in box["buttons"]:
                self.env.probe.click(b["hwnd"])

    def sample(self, minute):
        rss = bl.status_kib(self.proc.pid, "VmRSS")
        gui = self.env.probe.guiresources(self.winpid)
        self.samples.append((minute, rss, gui))
        print(f"minute {minute:5.1f}: RSS {rss / 1024:7.2f} MiB, working set "
              f"{(gui.get('working_set') or 0) / 1024 / 1024:7.2f} MiB, GDI {gui['gdi']}, USER {gui['user']}, "
              f"handles {gui['handles']}; actions {sum(self.counts.values())} {self.counts}; "
              f"load {bl.load_average()}", flush=True)

    # -- actions -----------------------------------------------------------------------------------
    def spoken_count(self):
        """Announcements completed: second sentences whose speaking ended whole."""
        return sum(1 for e in bl.read_voice_log(self.voice_log)
                   if e.get("ev") == "speak_end" and e.get("text", "").startswith("  Today is") and e.get("done"))

    def expect_announcement(self, how, action):
        before = self.spoken_count()
        action()
        self.announcements += 1
        try:
            bl.poll(lambda: self.spoken_count() > before, deadline=15, interval=0.05,
                    message=f"the announcement after {how}")
        except AssertionError as e:
            self.problem(str(e))

    def hotkey(self):
        self.expect_announcement("Alt+A", lambda: self.env.probe.focuskeys("alt+a"))

    def speak_click(self):
        self.expect_announcement("a click on btn1", lambda: self.env.probe.click(self.buttons["btn1"]))

    def help(self):
        self.env.probe.click(self.buttons["btn2"])

        def note():
            found = [d for d in self.env.probe.dialogs(self.winpid) if d["title"] == "Information" and d["visible"]]
            return found[0] if found else None

        try:
            shown = bl.poll(note, deadline=10, message="the help note")
        except AssertionError as e:
            self.problem(str(e))
            return
        yes = [b for b in shown["buttons"] if b["text"] == "&Yes"]
        if self.rng.random() < 0.5 and yes:
            self.env.probe.click(yes[0]["hwnd"])
        else:
            self.env.probe.keys("return")
        try:
            bl.poll(lambda: not any(d["title"] == "Information" for d in self.env.probe.dialogs(self.winpid)),
                    deadline=10, message="the help note to close")
            bl.poll(lambda: self.windows()["TForm1"]["enabled"], deadline=10, message="the clock to take input again")
        except AssertionError as e:
            self.problem(str(e))
            # Closed another way so the soak can go on; the problem stays recorded.
            for d in self.env.probe.dialogs(self.winpid):
                if d["title"] == "Information":
                    self.env.probe.post(d["hwnd"], bl.TDM_CLICK_BUTTON, bl.IDYES, 0)

    def drag(self):
        left, top = self.windows()["TForm1"]["rect"][:2]
        new_left = self.rng.randrange(0, SCREEN[0] - CLOCK_SIZE[0])
        new_top = self.rng.randrange(0, SCREEN[1] - CLOCK_SIZE[1] - 120)  # clear of the probe's focus window
        sx, sy = left + PANEL[0], top + PANEL[1]
        # The drag moves 10 px first; from then on the panel keeps the pointer at the same spot.
        self.env.drag(sx, sy, new_left + PANEL[0] + 10, new_top + PANEL[1] + 10)
        try:
            bl.poll(lambda: self.windows()["TForm1"]["rect"][:2] == [new_left, new_top],
                    deadline=5, message=f"the clock dragged to ({new_left}, {new_top})")
        except AssertionError:
            # Noted, not failed: the move is the window manager's, and now and then (4 of 426
            # drags in a 25-minute run) it lands a few pixels off the pointer's travel. The drag
            # tests check the landing; the soak checks that nothing breaks.
            at = self.windows()["TForm1"]["rect"][:2]
            self.drag_misses.append((abs(at[0] - new_left) + abs(at[1] - new_top), (new_left, new_top), at))

    def minimise_restore(self):
        before = self.windows()["TForm1"]["rect"]
        app = self.app["hwnd"]
        self.env.probe.post(app, bl.WM_SYSCOMMAND, bl.SC_MINIMIZE)
        try:
            bl.poll(lambda: not self.windows()["TForm1"]["visible"] and self.windows()["TApplication"]["iconic"],
                    deadline=10, message="the clock hidden and the application minimised")
            # HACK: Wine + openbox: the window manager confirms the minimise later, and a
            # confirmation arriving after the restore would minimise again: wait for it first.
            bl.poll(self.env.x_window_iconic, deadline=10, message="the window manager to show it iconic")
        except AssertionError as e:
            self.problem(str(e))
        self.env.probe.post(app, bl.WM_SYSCOMMAND, bl.SC_RESTORE)
        try:
            bl.poll(lambda: self.windows()["TForm1"]["visible"], deadline=10, message="the clock shown again")
            after = self.windows()["TForm1"]["rect"]
            if after != before:
                self.problem(f"restored at {after}, was at {before}")
        except AssertionError as e:
            self.problem(str(e))

    def setting_change(self):
        # Sent, not posted: Wine 8 refuses to post WM_SETTINGCHANGE (error 1159,
        # ERROR_MESSAGE_SYNC_ONLY), as its lParam may point to text. Broadcasts are sent too.
        answer = self.env.probe.send(self.app["hwnd"], bl.WM_SETTINGCHANGE, 0, 0, timeout_ms=5000)
        if answer.get("timed_out"):
            self.problem("the application window did not take the settings broadcast")
        # Still answering: a message sent through its queue comes back.
        answer = self.env.probe.send(self.form["hwnd"], 0, 0, 0, timeout_ms=5000)  # WM_NULL
        if answer.get("timed_out"):
            self.problem("the clock did not answer after a settings broadcast")

    # -- the run -----------------------------------------------------------------------------------
    def run(self):
        self.started = time.monotonic()
        end = self.started + self.args.minutes * 60
        names, weights = zip(*ACTIONS.items())
        self.sample(0.0)
        next_sample = self.started + 60
        failures_in_a_row = 0
        while time.monotonic() < end:
            name = self.rng.choices(names, weights)[0]
            self.counts[name] += 1
            try:
                getattr(self, name)()
                self.dismiss_error_boxes()
                failures_in_a_row = 0
            except (bl.qh.HarnessError, AssertionError, KeyError, IndexError) as e:
                self.problem(f"{name}: {type(e).__name__}: {e}")
                failures_in_a_row += 1
                if failures_in_a_row >= 5:
                    self.problem("five actions in a row failed: the soak stops")
                    return
            if self.proc.poll() is not None:
                self.problem(f"the clock ended with {self.proc.returncode}")
                return
            if time.monotonic() >= next_sample:
                self.sample(round((time.monotonic() - self.started) / 60, 1))
                next_sample += 60
            # A user's pause between two actions (pacing, not synchronisation).
            time.sleep(self.rng.uniform(0.0, 0.5))
        self.sample(round((time.monotonic() - self.started) / 60, 1))

    def finish(self):
        """Closes the clock and runs the end checks; returns True when all held."""
        if self.proc.poll() is None:
            self.dismiss_error_boxes()
            self.env.probe.post(self.form["hwnd"], bl.WM_CLOSE)
            rc = self.env.end(self.proc, deadline=15)
            if rc != 0:
                self.problem(f"the close ended the clock with {rc}")
        self.check_voice_log()
        self.check_rss()
        print(f"\n{sum(self.counts.values())} actions in {self.elapsed() / 60:.1f} min (seed {self.args.seed}): "
              f"{self.counts}; {self.announcements} announcements asked for")
        if self.drag_misses:
            worst = max(self.drag_misses)
            print(f"drags that landed elsewhere than aimed: {len(self.drag_misses)} of {self.counts['drag']}; "
                  f"worst {worst[0]} px off (aimed {worst[1]}, got {worst[2]})")
        if self.problems:
            print(f"FAILED: {len(self.problems)} problem(s):")
            for p in self.problems:
                print(f"  {p}")
            return False
        print("OK: no error box, no lost or broken announcement, "
              + ("no RSS growth beyond noise" if self.rss_judged else "RSS growth not judged (too few samples)"))
        return True

    def check_voice_log(self):
        log = bl.read_voice_log(self.voice_log)
        speaks = [text for _, text in bl.speak_texts(log)]
        firsts = [i for i, t in enumerate(speaks) if t.startswith("Now is ")]
        if len(firsts) != self.announcements:
            self.problem(f"{self.announcements} announcements asked for, {len(firsts)} started")
        for i in firsts:
            if i + 1 >= len(speaks) or not speaks[i + 1].startswith("  Today is "):
                self.problem(f"announcement {speaks[i]!r} not followed by its date: {speaks[i + 1:i + 2]}")
        if len(speaks) != 2 * len(firsts):
            self.problem(f"{len(speaks)} sentences handed over for {len(firsts)} announcements")
        ends = [e for e in log if e.get("ev") == "speak_end"]
        cut = [e["text"] for e in ends if not e.get("done")]
        if cut:
            self.problem(f"sentences cut short: {cut[:5]}")
        if len(ends) != len(speaks):
            self.problem(f"{len(speaks)} sentences handed over, {len(ends)} finished")
        print(f"voice log: {len(firsts)} announcements, {len(speaks)} sentences, {len(ends)} finished, "
              f"{len(cut)} cut short")

    def check_rss(self):
        rss = [s[1] for s in self.samples]
        self.rss_judged = len(rss) >= 4
        if not self.rss_judged:
            print(f"RSS: only {len(rss)} samples; growth not judged (run for 4 minutes or more)")
            return
        base = bl.median(rss[:3])
        growth = (rss[-1] - base) / 1024
        print(f"RSS: first three {[round(r / 1024, 2) for r in rss[:3]]} MiB (median {base / 1024:.2f}), last "
              f"{rss[-1] / 1024:.2f} MiB, peak {max(rss) / 1024:.2f} MiB; growth {growth:+.2f} MiB "
              f"(noise allowed {self.args.rss_noise} MiB)")
        gui = self.samples[-1][2]
        print(f"GetGuiResources: GDI {gui['gdi']}, USER {gui['user']}, handles {gui['handles']} "
              "(Wine 8 answers 0 for all three: no leak can be seen there)")
        if growth > self.args.rss_noise:
            self.problem(f"RSS grew by {growth:.2f} MiB")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--minutes", type=float, default=20.0)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--build", default=os.path.join(bl.SOURCE_DIR, "build-bench"))
    parser.add_argument("--state", help="an environment already up (env.py up); else one is made")
    parser.add_argument("--speak-ms", type=int, default=100, help="how long the recording voice takes a sentence")
    parser.add_argument("--rss-noise", type=float, default=3.0, help="MiB of RSS growth taken as noise")
    args = parser.parse_args()
    state = args.state or os.path.join(os.path.abspath(args.build), "soak-state")
    print(f"soak: {args.minutes} min, seed {args.seed}, load average {bl.load_average()}", flush=True)
    with bl.Environment(args.build, state) as env:
        soak = Soak(env, args)
        try:
            soak.run()
        finally:
            ok = soak.finish()
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
