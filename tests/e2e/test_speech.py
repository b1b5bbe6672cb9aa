"""The spoken announcement and the Alt+A hot key, seen from outside: the real Quenlet.exe under
Wine, with the recording voice (or the espeak-ng voice) registered over SAPI.SpVoice. What a user
would hear is read from the voice's log (and the espeak voice's WAVs); what a user would see, from
the windows and message boxes the probe finds."""

import datetime
import os
import re
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))

import quenlet_harness as qh  # noqa: E402

WM_NULL = 0x0000
WM_CLOSE = 0x0010
WM_HOTKEY = 0x0312
MOD_ALT, MOD_CONTROL, MOD_SHIFT, MOD_NOREPEAT = 0x1, 0x2, 0x4, 0x4000
VK_A = 0x41
SS_TYPEMASK, SS_ICON = 0x1F, 0x3
MESSAGE_TEXT_ID = 0xFFFF

WEEKDAYS = ("Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday")
MONTHS = ("January", "February", "March", "April", "May", "June", "July", "August", "September", "October",
          "November", "December")
DAY_WORDS = {1: "First", 2: "Second", 3: "Third"}

SPEAK_MS = "300"


def sentences_at(t):
    """The two sentences for a local time: hour and minute without leading zeros, ISO weekday
    name, ordinal day ("21th" included)."""
    day = DAY_WORDS.get(t.day, f"{t.day}th")
    return (f"Now is {t.hour}:{t.minute}",
            f"  Today is {WEEKDAYS[t.isoweekday() - 1]}  {day},{MONTHS[t.month - 1]},{t.year}")


def sentences_between(before, after):
    """The first and the second sentences that may be heard between two readings of Wine's local
    clock as the probe gives them ("2026-12-11 09:05:33"). The labels follow the clock at the
    next tick, half a second later, so the moment just before `before` counts too."""
    start, end = (datetime.datetime.strptime(t, "%Y-%m-%d %H:%M:%S") for t in (before, after))
    moments = (start - datetime.timedelta(seconds=1), start, end)
    return {sentences_at(t)[0] for t in moments}, {sentences_at(t)[1] for t in moments}


def lparam(modifiers, key):
    return (key << 16) | modifiers


class SpeechTestCase(qh.QuenletTestCase):
    """Starting the clock, finding its speak button, and reading what its voice was given."""

    def start(self, env=None, speak_ms=SPEAK_MS, folder=None):
        """Starts a clock; returns (process, its Form1 window, its btn1 child)."""
        settings = {"QUENLET_VOICE_SPEAK_MS": speak_ms}
        settings.update(env or {})
        clock = self.start_clock(env=settings, folder=folder)
        form = self.wait_for_window(clock, lambda w: w["class"] == "TForm1")
        return clock, form, self.speak_button(form)

    def speak_button(self, form):
        # btn1 is the one button without a caption (it shows a picture); the others are 帮助 and 关闭.
        buttons = [c for c in self.probe.children(form["hwnd"]) if c["class"] == "Button" and not c["text"]]
        self.assertEqual(len(buttons), 1, f"caption-less buttons of Form1: {buttons}")
        return buttons[0]

    def wine_now(self):
        return self.probe.call("ping")["local_time"]

    def events(self, clock, ev, name=None):
        return [e for e in self.read_voice_log(clock) if e["ev"] == ev and (name is None or e.get("name") == name)]

    def wait_spoken(self, clock, count, deadline=15.0):
        """Waits until `count` sentences have ended; returns the speak_end lines."""
        return self.poll(lambda: (lambda ends: ends if len(ends) >= count else None)(self.events(clock, "speak_end")),
                         deadline=deadline, message=f"{count} sentences spoken")

    def announce(self, clock, trigger):
        """Runs trigger(), waits for both sentences and checks them against Wine's clock."""
        before = self.wine_now()
        trigger()
        self.wait_spoken(clock, 2)
        after = self.wine_now()
        self.check_one_announcement(clock, (before, after))

    def check_one_announcement(self, clock, times):
        """Exactly one announcement: "Now is H:M" spoken whole, only then "  Today is ..."."""
        log = self.read_voice_log(clock)
        firsts, seconds = sentences_between(*times)
        speaks = [e for e in log if e["ev"] == "invoke" and e["name"] == "Speak"]
        self.assertEqual(len(speaks), 2, f"Speak calls: {[s['args'] for s in speaks]}")
        s1, s2 = speaks[0]["args"][0], speaks[1]["args"][0]
        self.assertIn(s1, firsts)
        self.assertIn(s2, seconds)
        self.assertEqual([s["args"][1] for s in speaks], [1, 1], "Speak flags: asynchronous, nothing else")
        waits = [e for e in log if e["ev"] == "invoke" and e["name"] == "WaitUntilDone"]
        self.assertEqual([w["args"] for w in waits], [[-1]])
        self.assertTrue(speaks[0]["t"] < waits[0]["t"] < speaks[1]["t"])
        ends = [e for e in log if e["ev"] == "speak_end"]
        self.assertEqual([(e["text"], e["done"]) for e in ends], [(s1, True), (s2, True)])
        # Sentence 2 was handed over only once sentence 1 had been spoken.
        self.assertLess(ends[0]["t"], speaks[1]["t"])

    # -- message boxes -------------------------------------------------------------------------
    def boxes(self, clock):
        return [d for d in self.probe.dialogs(self.winpid(clock)) if d["visible"]]

    def wait_box(self, clock, deadline=10.0):
        boxes = self.poll(lambda: self.boxes(clock), deadline=deadline, message="an error box")
        self.assertEqual(len(boxes), 1, f"boxes: {[self.box_text(b) for b in boxes]}")
        return boxes[0]

    @staticmethod
    def box_text(box):
        texts = [s["text"] for s in box["statics"] if s["id"] == MESSAGE_TEXT_ID]
        return texts[0] if texts else None

    def check_error_box(self, box, text):
        """An error report: captioned Quenlet, the text, the error icon, one OK button."""
        self.assertEqual(box["title"], "Quenlet")
        self.assertEqual(self.box_text(box), text)
        self.assertTrue(any(s["style"] & SS_TYPEMASK == SS_ICON and s["visible"] for s in box["statics"]),
                        "no icon in the box")
        self.assertEqual([b["text"] for b in box["buttons"] if b["visible"]], ["OK"])

    def dismiss(self, clock, box):
        ok = [b for b in box["buttons"] if b["visible"] and b["id"] == 1]
        self.probe.click(ok[0]["hwnd"])
        self.poll(lambda: all(d["hwnd"] != box["hwnd"] for d in self.boxes(clock)), deadline=10,
                  message="the box to go")

    # -- keys ----------------------------------------------------------------------------------
    def press(self, keys):
        """SendInput of `keys` ("alt+a") while a window of the probe (another program) has the
        focus; returns the key messages that window got."""
        answer = self.probe.focuskeys(keys)
        self.assertTrue(answer["delivered"], answer)
        return answer["received"]

    def assert_a_reached_the_focus(self, received, why):
        # A hot key eats the key press it matches; a key nobody holds reaches the focused window.
        self.assertTrue({"sysdown:65", "down:65"} & set(received), f"{why}: {received}")

    def assert_a_was_taken(self, received, why):
        self.assertFalse({"sysdown:65", "down:65"} & set(received), f"{why}: {received}")


class AnnouncementTest(SpeechTestCase):
    def test_a_click_on_the_speak_button_announces_time_then_date(self):
        clock, form, btn1 = self.start()
        self.announce(clock, lambda: self.probe.click(btn1["hwnd"]))
        # Volume was written once at start-up, at 100, as a property write.
        volumes = self.events(clock, "invoke", "Volume")
        self.assertEqual([(v["args"], v["named"]) for v in volumes], [([100], [-3])])

    def test_a_mouse_click_on_the_speak_button_announces_time_then_date(self):
        clock, form, btn1 = self.start()
        left, top, right, bottom = btn1["rect"]
        self.announce(clock, lambda: self.click_at((left + right) // 2, (top + bottom) // 2))

    def test_alt_a_in_another_program_announces_time_then_date(self):
        clock, form, btn1 = self.start()
        received = []
        self.announce(clock, lambda: received.extend(self.press("alt+a")))
        self.assert_a_was_taken(received, "Alt+A reached the focused program")

    def test_alt_a_works_while_the_help_note_is_open(self):
        clock, form, btn1 = self.start()
        help_button = [c for c in self.probe.children(form["hwnd"]) if c["text"] == "帮助"][0]
        self.probe.click(help_button["hwnd"])
        note = self.poll(lambda: self.boxes(clock), message="the help note")
        self.announce(clock, lambda: self.press("alt+a"))
        self.assertIn(note[0]["hwnd"], [d["hwnd"] for d in self.boxes(clock)], "the help note went away")

    def test_the_window_is_frozen_while_the_time_is_spoken_not_while_the_date_is(self):
        clock, form, btn1 = self.start(speak_ms="1000")
        self.probe.click(btn1["hwnd"])
        first = self.poll(lambda: self.events(clock, "speak_start"), message="sentence 1 to start")[0]
        self.assertTrue(first["text"].startswith("Now is "), first)
        frozen = self.probe.send(form["hwnd"], WM_NULL, timeout_ms=250)
        asked_until = time.time()
        self.assertTrue(frozen["timed_out"], "Form1 answered while sentence 1 was being spoken")
        end1 = self.wait_spoken(clock, 1)[0]
        self.assertGreater(end1["t"] / 1e6, asked_until, "the look was not made while sentence 1 was spoken")

        self.poll(lambda: len(self.events(clock, "speak_start")) >= 2, message="sentence 2 to start")
        free = self.probe.send(form["hwnd"], WM_NULL, timeout_ms=250)
        answered_at = time.time()
        self.assertFalse(free["timed_out"], "Form1 did not answer while sentence 2 was being spoken")
        end2 = self.wait_spoken(clock, 2)[1]
        self.assertTrue(end2["text"].startswith("  Today is "), end2)
        self.assertGreater(end2["t"] / 1e6, answered_at, "sentence 2 had ended before Form1 answered")

    def test_two_quick_clicks_give_both_announcements_whole_and_in_order(self):
        clock, form, btn1 = self.start()
        before = self.wine_now()
        self.probe.click(btn1["hwnd"])
        self.probe.click(btn1["hwnd"])
        self.wait_spoken(clock, 4)
        after = self.wine_now()
        firsts, seconds = sentences_between(before, after)
        starts = self.events(clock, "speak_start")
        ends = self.events(clock, "speak_end")
        self.assertEqual(len(starts), 4, [s["text"] for s in starts])
        for i, (s, e) in enumerate(zip(starts, ends)):
            self.assertIn(s["text"], firsts if i % 2 == 0 else seconds, f"sentence {i + 1}")
            self.assertEqual((e["text"], e["done"]), (s["text"], True), f"sentence {i + 1} cut off or mixed")
            if i:
                self.assertGreaterEqual(s["t"], ends[i - 1]["t"], f"sentence {i + 1} overlapped the one before")
        self.assertEqual(len(self.events(clock, "invoke", "Speak")), 4)

    def test_alt_a_during_the_wait_is_served_once_the_first_announcement_returns(self):
        clock, form, btn1 = self.start(speak_ms="1200")
        self.probe.click(btn1["hwnd"])
        self.poll(lambda: self.events(clock, "speak_start"), message="sentence 1 to start")
        received = self.press("alt+a")
        self.assert_a_was_taken(received, "Alt+A reached the focused program")
        self.assertEqual(len(self.events(clock, "speak_end")), 0, "the key came too late to test anything")
        ends = self.wait_spoken(clock, 4)
        texts = [e["text"] for e in ends]
        self.assertEqual([t.startswith("Now is ") for t in texts], [True, False, True, False], texts)
        self.assertEqual([t.startswith("  Today is ") for t in texts], [False, True, False, True], texts)
        self.assertTrue(all(e["done"] for e in ends), ends)
        speaks = self.events(clock, "invoke", "Speak")
        self.assertEqual(len(speaks), 4)
        # Handed over in the order heard: the hot key waited in the queue until the click's
        # announcement had returned.
        self.assertEqual([s["args"][0] for s in speaks], texts)

    def test_closing_while_the_date_is_spoken_drops_the_voice_without_waiting(self):
        clock, form, btn1 = self.start(speak_ms="1500")
        self.probe.click(btn1["hwnd"])
        self.poll(lambda: len(self.events(clock, "speak_start")) >= 2, message="sentence 2 to start")
        self.probe.post(form["hwnd"], WM_CLOSE)
        self.assertEqual(clock.wait(deadline=15), 0)
        log = self.read_voice_log(clock)
        second_speak = [i for i, e in enumerate(log) if e["ev"] == "invoke" and e["name"] == "Speak"][1]
        after = [e["ev"] for e in log[second_speak:] if e["tid"] == log[second_speak]["tid"]]
        # Nothing more is asked of the voice (no wait, no purge); its last reference is dropped.
        self.assertEqual([ev for ev in after if ev in ("getids", "invoke")], ["invoke"])
        releases = [e for e in log if e["ev"] == "release"]
        self.assertEqual(releases[-1]["refs"], 0)
        self.assertEqual(len([e for e in log if e["ev"] == "destroy"]), 1, "the voice object was never freed")

    def test_only_exactly_alt_with_a_starts_an_announcement(self):
        clock, form, btn1 = self.start()
        self.assert_a_reached_the_focus(self.press("alt+shift+a"), "Alt+Shift+A was taken as the hot key")
        # Hot-key messages posted straight to Form1: only exactly Alt with A counts, whatever the
        # identifier; the last one is the only one that should speak.
        posted = [(7, lparam(MOD_ALT | MOD_SHIFT, VK_A)), (7, lparam(MOD_ALT | MOD_NOREPEAT, VK_A)),
                  (7, lparam(MOD_CONTROL, VK_A)), (7, lparam(MOD_ALT, 0x42)), (0x1234, lparam(MOD_ALT, VK_A))]
        before = self.wine_now()
        for wparam, lp in posted:
            self.probe.post(form["hwnd"], WM_HOTKEY, wparam, lp)
        self.wait_spoken(clock, 2)
        self.check_one_announcement(clock, (before, self.wine_now()))


class FakedClockTest(SpeechTestCase):
    DAYS = (
        ("2013-02-21 09:05:00", "Now is 9:5", "  Today is Thursday  21th,February,2013"),
        ("2014-01-01 00:00:00", "Now is 0:0", "  Today is Wednesday  First,January,2014"),
        ("2013-12-31 23:59:00", "Now is 23:59", "  Today is Tuesday  31th,December,2013"),
    )

    def test_the_sentences_say_the_faked_date_and_time(self):
        for when, first, second in self.DAYS:
            with self.subTest(when=when), self.faked_clock(when):
                # A folder (and so a voice log) of its own for each day.
                clock, form, btn1 = self.start(folder=os.path.join(self.work_dir, when[:10]))
                self.probe.click(btn1["hwnd"])
                ends = self.wait_spoken(clock, 2, deadline=30)
                self.assertEqual([(e["text"], e["done"]) for e in ends], [(first, True), (second, True)])


class VoiceFailureTest(SpeechTestCase):
    def test_without_a_voice_one_box_at_start_then_invalid_variant_and_no_hot_key(self):
        clock = self.start_clock(env={"QUENLET_VOICE_FAIL_CREATE": "80004005"})
        box = self.wait_box(clock, deadline=15)
        self.assertEqual(box["title"], "Quenlet")
        text = self.box_text(box)
        self.assertTrue(text.endswith(', ProgID: "SAPI.SpVoice"'), text)
        self.assertGreater(len(text), len(', ProgID: "SAPI.SpVoice"'), "no description before the ProgID")
        self.assertNotIn("\r", text)
        self.check_error_box(box, text)
        forms = [w for w in self.probe.windows(self.winpid(clock)) if w["class"] == "TForm1"]
        self.assertFalse(any(w["visible"] for w in forms), "Form1 showed before the box was dismissed")
        self.dismiss(clock, box)

        form = self.wait_for_window(clock, lambda w: w["class"] == "TForm1")
        self.assertFalse(form["topmost"], "the steps after the failed voice step ran")
        self.assertEqual(self.boxes(clock), [], "a second box at start-up")
        created = self.events(clock, "create")
        self.assertEqual([(c["obj"], c["hr"]) for c in created], [(None, "0x80004005")])

        btn1 = self.speak_button(form)
        # Every click fails the same way; so does a hot-key message that reaches the window
        # (the key itself was never registered).
        triggers = (("click", lambda: self.probe.click(btn1["hwnd"])),
                    ("click again", lambda: self.probe.click(btn1["hwnd"])),
                    ("WM_HOTKEY", lambda: self.probe.post(form["hwnd"], WM_HOTKEY, 0, lparam(MOD_ALT, VK_A))))
        for name, trigger in triggers:
            with self.subTest(trigger=name):
                trigger()
                box = self.wait_box(clock)
                self.check_error_box(box, "Invalid variant operation.")
                self.dismiss(clock, box)
        self.assert_a_reached_the_focus(self.press("alt+a"), "Alt+A is registered although the voice step failed")
        self.assertEqual(self.boxes(clock), [])
        self.assertTrue(self.wait_for_window(clock, lambda w: w["class"] == "TForm1"), "the clock went away")
        self.assertEqual([e["ev"] for e in self.read_voice_log(clock)], ["create"])

    def test_a_failing_volume_write_skips_the_later_steps_but_the_voice_speaks(self):
        clock = self.start_clock(env={"QUENLET_VOICE_SPEAK_MS": SPEAK_MS,
                                      "QUENLET_VOICE_FAIL": "Volume=desc:Volume is locked by policy."})
        box = self.wait_box(clock, deadline=15)
        self.check_error_box(box, "Volume is locked by policy.")
        self.dismiss(clock, box)
        form = self.wait_for_window(clock, lambda w: w["class"] == "TForm1")
        self.assertFalse(form["topmost"], "the steps after the failed voice step ran")
        self.assert_a_reached_the_focus(self.press("alt+a"), "Alt+A is registered although the voice step failed")
        # The clock step was skipped too: until tmr1's first tick the labels show their layout
        # captions, and an announcement reads whatever they show. After one announcement the
        # tick has long been due, and it is served while the window waits for input.
        btn1 = self.speak_button(form)
        before = self.wine_now()
        self.probe.click(btn1["hwnd"])
        self.wait_spoken(clock, 2)
        self.probe.click(btn1["hwnd"])
        self.wait_spoken(clock, 4)
        after = self.wine_now()
        texts = [e["args"][0] for e in self.events(clock, "invoke", "Speak")]
        firsts, seconds = sentences_between(before, after)
        on_time = {(first, second) for first in firsts for second in seconds}
        self.assertIn(tuple(texts[:2]), on_time | {("Now is ", "  Today is lbl3  lbl2")})
        self.assertIn(tuple(texts[2:]), on_time)
        self.assertTrue(all(e["done"] for e in self.events(clock, "speak_end")))

    def test_a_failing_call_is_reported_and_ends_the_announcement(self):
        cases = (
            # (failure injected, box text, members called before the failure stopped it)
            ("Speak=desc:The speech engine is busy...", "The speech engine is busy.", ["Speak"]),
            ("Speak=desc:Audio device lost!  \t", "Audio device lost!", ["Speak"]),
            ("WaitUntilDone=hr:80041234", "OLE error 80041234.", ["Speak", "WaitUntilDone"]),
        )
        for fail, shown, called in cases:
            with self.subTest(fail=fail):
                clock, form, btn1 = self.start(env={"QUENLET_VOICE_FAIL": fail})
                self.probe.click(btn1["hwnd"])
                box = self.wait_box(clock)
                self.check_error_box(box, shown)
                # The box shows once btn1Click has left: everything it did is in the log by now.
                log = self.read_voice_log(clock)
                self.assertEqual([e["name"] for e in log if e["ev"] == "invoke" and e["name"] != "Volume"], called)
                speaks = [e for e in log if e["ev"] == "invoke" and e["name"] == "Speak"]
                self.assertTrue(speaks[0]["args"][0].startswith("Now is "))
                self.dismiss(clock, box)
                self.assertTrue(self.wait_for_window(clock, lambda w: w["class"] == "TForm1"))
                clock.kill()


class SecondCopyTest(SpeechTestCase):
    def test_only_the_first_copy_answers_alt_a_and_the_second_never_takes_it_over(self):
        first, first_form, _ = self.start()
        second, second_form, second_btn1 = self.start()
        received = []
        self.announce(first, lambda: received.extend(self.press("alt+a")))
        self.assert_a_was_taken(received, "Alt+A reached the focused program")
        # The second copy's button still works, and that is all it has said.
        self.announce(second, lambda: self.probe.click(second_btn1["hwnd"]))
        self.assertEqual(len(self.events(first, "invoke", "Speak")), 2)

        self.probe.post(first_form["hwnd"], WM_CLOSE)
        self.assertEqual(first.wait(deadline=15), 0)
        self.assert_a_reached_the_focus(self.press("alt+a"), "Alt+A is still registered after the first copy closed")
        self.assertEqual(len(self.events(second, "invoke", "Speak")), 2)


class EspeakVoiceTest(SpeechTestCase):
    def test_both_sentences_become_audio_of_plausible_length(self):
        wav_dir = os.path.join(self.work_dir, "wav")
        os.makedirs(wav_dir)
        clock, form, btn1 = self.start(env={"QUENLET_VOICE_MODE": "espeak",
                                            "QUENLET_VOICE_WAV_DIR": qh.windows_path(wav_dir)})
        before = self.wine_now()
        self.probe.click(btn1["hwnd"])
        ends = self.wait_spoken(clock, 2, deadline=30)
        after = self.wine_now()
        self.check_one_announcement(clock, (before, after))
        self.assertFalse([e["error"] for e in ends if "error" in e])
        wavs = sorted(os.path.join(wav_dir, f) for f in os.listdir(wav_dir) if f.endswith(".wav"))
        self.assertEqual(len(wavs), 2, wavs)
        seconds = [float(subprocess.run(["soxi", "-D", w], check=True, stdout=subprocess.PIPE,
                                        timeout=30).stdout) for w in wavs]
        print(f"\nespeak-ng WAVs: {ends[0]['text']!r} {seconds[0]:.2f} s, {ends[1]['text']!r} {seconds[1]:.2f} s")
        # espeak-ng's default rate is about 175 words a minute: some 3 words, then some 6.
        self.assertTrue(0.6 <= seconds[0] <= 4.0, seconds)
        self.assertTrue(1.5 <= seconds[1] <= 8.0, seconds)
        self.assertGreater(seconds[1], seconds[0])
        for wav, length, end in zip(wavs, seconds, ends):
            self.assertAlmostEqual(float(end["seconds"]), length, delta=0.05)
            stat = subprocess.run(["sox", wav, "-n", "stat"], stderr=subprocess.PIPE, timeout=30).stderr.decode()
            rms = float(re.search(r"RMS\s+amplitude:\s+([0-9.]+)", stat).group(1))
            self.assertGreater(rms, 0.01, f"{wav} is silent")
        # With no sound card the voice waits out each sentence's audio: the window was held for
        # the time the first sentence takes to say.
        start1 = self.events(clock, "speak_start")[0]
        self.assertGreaterEqual((ends[0]["t"] - start1["t"]) / 1e6, seconds[0] - 0.05)


if __name__ == "__main__":
    unittest.main()
