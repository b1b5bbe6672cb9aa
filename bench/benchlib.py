"""What the benchmark and the soak share: a Wine environment (made by the test harness, or one
already up), programs started in it, the probe, xdotool, /proc readings and the voice log.

Python 3 standard library only, like the harness it builds on."""

from __future__ import annotations

import contextlib
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "harness"))

import quenlet_harness as qh  # noqa: E402

poll = qh.poll
windows_path = qh.windows_path

WM_CLOSE = 0x0010
WM_SETTINGCHANGE = 0x001A
WM_SYSCOMMAND = 0x0112
SC_MINIMIZE = 0xF020
SC_RESTORE = 0xF120
TDM_CLICK_BUTTON = 0x0466
IDYES = 6
BM_CLICK = 0x00F5

CLOCK_TICK = os.sysconf("SC_CLK_TCK")
PAGE = os.sysconf("SC_PAGE_SIZE")


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def cpu_seconds(pid):
    """utime + stime of the whole process (all its threads), in seconds."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICK


def thread_cpu_ns(pid):
    """{tid: (thread name, nanoseconds on a CPU)} from each thread's schedstat: the scheduler's
    own account, finer than the 10 ms ticks of utime and stime."""
    out = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                ns = int(f.read().split()[0])
            with open(f"/proc/{pid}/task/{tid}/comm") as f:
                name = f.read().strip()
        except OSError:
            continue  # the thread ended meanwhile
        out[int(tid)] = (name, ns)
    return out


def cpu_ns(pid):
    return sum(ns for _, ns in thread_cpu_ns(pid).values())


def status_kib(pid, name="VmRSS"):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(name + ":"):
                return int(line.split()[1])
    raise KeyError(name)


def rss_by_mapping(pid):
    """KiB of resident memory per mapped file (basename), anonymous memory as "[anon]"."""
    out = {}
    name = None
    with open(f"/proc/{pid}/smaps") as f:
        for line in f:
            parts = line.split()
            if not parts:
                continue
            if "-" in parts[0] and len(parts) >= 5 and ":" in parts[3]:
                path = " ".join(parts[5:]) if len(parts) > 5 else ""
                name = os.path.basename(path) if path.startswith("/") else (path or "[anon]")
            elif parts[0] == "Rss:" and name is not None:
                out[name] = out.get(name, 0) + int(parts[1])
    return out


def median(values):
    s = sorted(values)
    n = len(s)
    if not n:
        return float("nan")
    return s[n // 2] if n % 2 else (s[n // 2 - 1] + s[n // 2]) / 2


def quartiles(values):
    """(Q1, Q3) by the median of each half."""
    s = sorted(values)
    half = len(s) // 2
    return median(s[:half] or s), median(s[-half:] or s)


class Environment:
    """A Wine environment to run in: an existing one (`state` holding env.json) is used as it is;
    otherwise a fresh one is made in `state` and ended on exit."""

    def __init__(self, build_dir, state=None):
        self.build_dir = os.path.abspath(build_dir)
        self.state = os.path.abspath(state or os.path.join(self.build_dir, "bench-state"))
        self.owned = False
        self.data = None
        self._probe = None
        self._procs = []

    def __enter__(self):
        if os.path.isfile(os.path.join(self.state, "env.json")) and self._alive(qh.load_state(self.state)):
            self.data = qh.load_state(self.state)
        else:
            voice = os.path.join(self.build_dir, "tools", "voice", "QuenletVoice.dll")
            if not os.path.isfile(voice):
                raise SystemExit(f"{voice} is not built")
            self.data = qh.env_up(self.state, voice_dll=voice)
            self.owned = True
        self.work = os.path.join(self.state, "work", f"bench-{os.getpid()}")
        os.makedirs(self.work, exist_ok=True)
        return self

    def __exit__(self, *exc):
        if self._probe is not None:
            with contextlib.suppress(Exception):
                self._probe.close()
        for p in self._procs:
            self.end(p)
        if self.owned:
            qh.env_down(self.state, quiet=True)

    @staticmethod
    def _alive(data):
        return all(qh.pid_alive(p["pid"], p.get("start")) for p in data.get("procs", []))

    @property
    def display(self):
        return self.data["display"]

    def env(self, extra=None):
        return qh.wine_environment(self.data, extra)

    def exe(self, name):
        """A built exe of the build tree by file name (Quenlet.exe, probe.exe)."""
        for root, _, files in os.walk(self.build_dir):
            if name in files and "bench-state" not in root and "e2e-state" not in root:
                return os.path.join(root, name)
        raise SystemExit(f"{name} is not built in {self.build_dir}")

    @property
    def probe(self):
        if self._probe is None or not self._probe.alive:
            self._probe = qh.Probe(self.exe("probe.exe"), self.env(), log_path=os.path.join(self.work, "probe.log"))
        return self._probe

    def install(self, exe, folder):
        """Copies exe into a folder of its own (so set.ini and logs are its own); returns the copy."""
        os.makedirs(folder, exist_ok=True)
        target = os.path.join(folder, os.path.basename(exe))
        shutil.copy2(exe, target)
        return target

    def start(self, exe, extra=None, log_path=None, args=()):
        """`wine EXE` in the exe's folder. Wine's launcher script execs the loader, so the Popen's
        pid is the Windows program's own Unix process."""
        log = open(log_path or os.path.join(self.work, os.path.basename(exe) + ".log"), "ab")
        try:
            p = subprocess.Popen(["wine", windows_path(exe), *args], env=self.env(extra), cwd=os.path.dirname(exe),
                                 stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                 start_new_session=True)
        finally:
            log.close()
        qh._REGISTRY.add(p)
        self._procs.append(p)
        return p

    def end(self, popen, deadline=15.0):
        """Waits for popen to end, killing it by pid if it does not within the deadline."""
        try:
            popen.wait(timeout=deadline)
        except subprocess.TimeoutExpired:
            with contextlib.suppress(qh.HarnessError):
                qh.kill_pid(popen.pid, grace=1.0)
            with contextlib.suppress(Exception):
                popen.wait(timeout=5)
        qh._REGISTRY.discard(popen)
        if popen in self._procs:
            self._procs.remove(popen)
        return popen.returncode

    def winpid(self, exe, deadline=30.0):
        want = windows_path(exe).lower()
        return poll(lambda: next((p["pid"] for p in self.probe.procs() if p["path"].lower() == want), None),
                    deadline, message=f"{os.path.basename(exe)} in the process list")

    def window(self, winpid, cls, deadline=15.0, visible=True):
        def find():
            for w in self.probe.windows(winpid):
                if w["class"] == cls and (w["visible"] or not visible):
                    return w
            return None
        return poll(find, deadline, message=f"a {cls} window of pid {winpid}")

    def xdotool(self, *args, check=True):
        r = subprocess.run(["xdotool", *map(str, args)], env=self.env(), stdin=subprocess.DEVNULL,
                           capture_output=True, text=True, timeout=30)
        if check and r.returncode not in (0, 1):
            raise qh.HarnessError(f"xdotool {args} failed: {r.stderr.strip()}")
        return r

    def visible_x_windows(self, title_regex, size=None):
        """X windows mapped with a title matching the regex; with size (w, h), only those of that
        size. One xdotool run either way."""
        if size is None:
            return self.xdotool("search", "--onlyvisible", "--name", title_regex, check=False).stdout.split()
        # The clock's application window carries the same title, mapped at 1x1: told apart by size.
        out = self.xdotool("search", "--onlyvisible", "--name", title_regex, "getwindowgeometry", "%@",
                           check=False).stdout
        want = f"{size[0]}x{size[1]}"
        found = re.findall(r"Window (\d+)\s+Position: \S+ \(screen: \d+\)\s+Geometry: (\d+x\d+)", out)
        return [xid for xid, geometry in found if geometry == want]

    def drag(self, sx, sy, tx, ty):
        """The harness's drag: press, a 10 px move, the move, release, paced 0.1 s apart (input
        pacing for the X server; without it the press is lost)."""
        self.xdotool("mousemove", sx, sy, "mousedown", 1, "sleep", "0.1", "mousemove", sx + 10, sy + 10, "sleep",
                     "0.1", "mousemove", tx, ty, "sleep", "0.1", "mouseup", 1)

    def x_window_iconic(self, title_regex="^Quenlet$"):
        """Whether the window manager shows a window of that title as iconic (WM_STATE)."""
        for xid in self.xdotool("search", "--name", title_regex, check=False).stdout.split():
            state = subprocess.run(["xprop", "-id", xid, "WM_STATE"], env=self.env(), capture_output=True,
                                   text=True, timeout=30).stdout
            if "Iconic" in state:
                return True
        return False


read_voice_log = qh.read_voice_log


def speak_texts(entries):
    """The texts handed to Speak, in order, with their invoke times."""
    return [(e["t"], e["args"][0]) for e in entries
            if e.get("ev") == "invoke" and e.get("name") == "Speak" and e.get("args")]
