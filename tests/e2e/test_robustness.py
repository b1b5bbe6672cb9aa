"""The clock as a careful guest: it writes nothing but set.ini, and a damaged set.ini neither
crashes it nor stops it from starting where the reading rules put it."""

import hashlib
import os
import random
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))

import quenlet_harness as qh  # noqa: E402

WM_CLOSE = 0x0010
NOTEPAD = "C:\\windows\\system32\\notepad.exe"
MIB = 1024 * 1024


def is_clock(w):
    return w["class"] == "TForm1"


def snapshot(root):
    """Every file and folder under root: relative path -> ("dir",) or ("file", size, sha1)."""
    out = {}
    for folder, dirs, files in os.walk(root):
        for d in dirs:
            out[os.path.relpath(os.path.join(folder, d), root)] = ("dir",)
        for name in files:
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, root)
            try:
                with open(path, "rb") as f:
                    digest = hashlib.sha1(f.read()).hexdigest()
                out[rel] = ("file", os.path.getsize(path), digest)
            except OSError:  # a socket, a dangling link: present, unreadable
                out[rel] = ("other",)
    return out


def changes(before, after):
    """Paths added, removed or changed between two snapshots, each with what happened."""
    out = {}
    for path in before.keys() | after.keys():
        if path not in before:
            out[path] = "new"
        elif path not in after:
            out[path] = "removed"
        elif before[path] != after[path]:
            out[path] = "changed"
    return out


def read_profile(path):
    """The [set] section of a settings file as the profile functions read it: the encoding
    from the byte-order mark (UTF-16 LE, UTF-8, else the ANSI code page), the first section of
    that name, keys matched regardless of case. Returns {key in lower case: raw value}."""
    with open(path, "rb") as f:
        raw = f.read()
    if raw.startswith(b"\xff\xfe"):
        text = raw[2:].decode("utf-16-le")
    elif raw.startswith(b"\xef\xbb\xbf"):
        text = raw[3:].decode("utf-8")
    else:
        text = raw.decode("cp1252", errors="replace")
    section, found = None, None
    for line in text.replace("\r\n", "\n").split("\n"):
        stripped = line.strip(" \t")
        if stripped.startswith("["):
            if found is not None:
                break  # only the first [set] counts
            section = stripped[1:stripped.rfind("]")].strip().lower() if "]" in stripped else None
            if section == "set":
                found = {}
        elif found is not None and "=" in stripped:
            key, value = stripped.split("=", 1)
            found.setdefault(key.strip().lower(), value.strip())
    return found or {}


def garbage():
    # Seeded, so a failure can be repeated; no byte-order mark at its start.
    data = bytearray(random.Random(20240611).randbytes(64 * 1024))
    data[0:3] = b"\x01\x02\x03"
    return bytes(data)


def utf16(text, bom):
    return (b"\xff\xfe" if bom else b"") + text.replace("\n", "\r\n").encode("utf-16-le")


def ansi(text):
    return text.replace("\n", "\r\n").encode("cp1252")


# name, file content, (left, top) expected, why
SETTINGS_CASES = [
    ("binary garbage", garbage(), (0, 0),
     "no [set] section: both keys missing read as 0"),
    ("a 10 MB line before the section", b"x" * (10 * MIB) + ansi("\n[set]\ntop=70\nleft=90\n"), (90, 70),
     "the profile functions read any line length: the section after it is found"),
    ("a 10 MB value", ansi("[set]\ntop=") + b"7" * (10 * MIB) + ansi("\nleft=90\n"), (90, 0),
     "the read takes 2047 characters of it (a buffer of 2048): out of range, so 0"),
    ("UTF-16 LE with byte-order mark", utf16("[set]\ntop=40\nleft=60\n", bom=True), (60, 40),
     "the profile functions read a file that starts with FF FE as UTF-16"),
    ("UTF-16 LE without byte-order mark", utf16("[set]\ntop=40\nleft=60\n", bom=False), (0, 0),
     "without the mark the file is read as ANSI: the NULs between the letters hide the section"),
    ("section repeated", ansi("[set]\ntop=10\n[set]\ntop=20\nleft=25\n"), (0, 10),
     "Wine's lookup stops at the first [set]: top from it; left, only in the second, reads as 0"),
    ("keys in other cases", ansi("[set]\nTOP=30\nLeft=50\n"), (50, 30),
     "profile lookups ignore the case of key names"),
    ("section name in other case", ansi("[SET]\ntop=35\nleft=55\n"), (55, 35),
     "and of section names"),
]


class FootprintTest(qh.QuenletTestCase):
    """What a run leaves in the exe's folder and the prefix's user folders."""

    def users_folder(self):
        return os.path.join(self.prefix, "drive_c", "users")

    def run_and_close(self, proc, window_class):
        win = self.wait_for_window(proc, lambda w: w["class"] == window_class)
        self.probe.post(win["hwnd"], WM_CLOSE)
        self.assertEqual(proc.wait(deadline=15), 0)

    def test_a_run_writes_nothing_but_set_ini(self):
        self.probe  # started first: its own churn is in both runs
        # What Wine itself changes when a trivial program runs and is closed the same way.
        users_before = snapshot(self.users_folder())
        self.run_and_close(self.start_wine([NOTEPAD]), "Notepad")
        wine_churn = changes(users_before, snapshot(self.users_folder()))

        folder = os.path.join(self.work_dir, "clock")
        os.makedirs(folder)
        voice_log = os.path.join(self.work_dir, "voice.jsonl")  # the test voice's, kept outside
        qh.shutil.copy2(self.clock_exe(), os.path.join(folder, "Quenlet.exe"))
        folder_before = snapshot(folder)
        users_before = snapshot(self.users_folder())
        clock = self.start_clock(folder=folder, env={"QUENLET_VOICE_LOG": qh.windows_path(voice_log),
                                                     "QUENLET_VOICE_SPEAK_MS": "50"})
        clock.voice_log = voice_log
        form = self.wait_for_window(clock, is_clock)
        # Speak once (Alt+A from another application), so the run covers the voice too.
        self.probe.focuskeys("alt+a")
        self.poll(lambda: sum(1 for e in self.read_voice_log(clock) if e.get("ev") == "speak_end") >= 2,
                  message="both sentences spoken")
        self.probe.post(form["hwnd"], WM_CLOSE)
        self.assertEqual(clock.wait(deadline=15), 0)

        self.assertEqual(changes(folder_before, snapshot(folder)), {"set.ini": "new"})
        users = changes(users_before, snapshot(self.users_folder()))
        self.assertEqual({p: what for p, what in users.items() if p not in wine_churn}, {},
                         f"changed in drive_c/users beyond Wine's own churn {sorted(wine_churn)}")


class DamagedSettingsTest(qh.QuenletTestCase):
    def test_a_damaged_settings_file_starts_the_clock_where_the_rules_put_it(self):
        for name, content, (left, top), why in SETTINGS_CASES:
            with self.subTest(case=name, why=why):
                folder = os.path.join(self.work_dir, re.sub(r"\W+", "-", name))
                os.makedirs(folder)
                ini = os.path.join(folder, "set.ini")
                with open(ini, "wb") as f:
                    f.write(content)
                clock = self.start_clock(folder=folder)
                form = self.wait_for_window(clock, is_clock, deadline=30)
                self.assertEqual(form["rect"][:2], [left, top])
                pid = self.winpid(clock)
                self.assertEqual([d["title"] for d in self.probe.dialogs(pid)], [], "an error box showed")

                self.probe.post(form["hwnd"], WM_CLOSE)
                self.assertEqual(clock.wait(deadline=30), 0, "the close did not end the program")
                written = read_profile(ini)
                self.assertEqual((written.get("top"), written.get("left")), (str(top), str(left)),
                                 "the close did not write the position as plain decimals")


if __name__ == "__main__":
    qh.unittest.main()
