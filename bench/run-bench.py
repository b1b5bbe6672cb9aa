#!/usr/bin/env python3
"""Measures Quenlet.exe against a bare Win32 window (bench/bare.cpp) in one Wine environment and
prints the figures side by side. A script that prints numbers, not a test: it fails only when
it cannot measure.

    bench/run-bench.py [--build DIR] [--starts 10] [--hotkeys 20] [--idle 60] [--state DIR]
                       [--steps 5] [--start-profile N] [--phases N] [--size-profile]

--build: the MinGW build tree holding Quenlet.exe, probe.exe and QuenletVoice.dll (default
build-bench). --state: an environment already up (tests/harness/env.py up); otherwise one is
made for the run (in BUILD/bench-state) and ended after it.

Where a goal is missed, the run says why: the clock's resident memory by mapping against the
bare window's, its idle CPU per second, and bench/steps.exe, the bare window plus one piece of
what the clock does at a time (common controls 6, OLE, the voice object, the layered window,
the fonts), measured the same way (--steps N starts of each; 0 leaves it out).
--start-profile N: N starts of each with Wine's +loaddll trace, stamped. --phases N: N starts of
each built with its start-up trace points (ui/StartTrace.h; the clock in BUILD/bench/traced): when
each phase of the start is passed. --size-profile: relinks the exe unstripped with a map and
prints what takes its space.
"""

from __future__ import annotations

import argparse
import contextlib
import glob
import os
import re
import shlex
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import benchlib as bl  # noqa: E402

BARE_TITLE = "QuenletBare"
CLOCK_TITLE = "Quenlet"
# Same toolchain and flags as the clock (CMakeLists.txt, app/CMakeLists.txt).
BARE_FLAGS = ["-std=c++20", "-Os", "-DNDEBUG", "-DUNICODE", "-D_UNICODE", "-DNOMINMAX", "-DWIN32_LEAN_AND_MEAN",
              "-ffunction-sections", "-fdata-sections", "-municode", "-mwindows", "-static", "-static-libgcc",
              "-static-libstdc++", "-Wl,--dynamicbase", "-Wl,--high-entropy-va", "-Wl,--nxcompat",
              "-Wl,--gc-sections", "-s"]
# DLLs that ship with Windows (System32); anything else imported would have to be shipped.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "comctl32.dll", "ole32.dll",
               "oleaut32.dll", "msvcrt.dll", "shell32.dll", "uxtheme.dll", "shlwapi.dll", "comdlg32.dll",
               "imm32.dll", "version.dll", "dwmapi.dll", "ntdll.dll", "ucrtbase.dll", "ws2_32.dll"}

WINDOW = (274, 178)  # every program measured shows one window of this size
IDLE_SETTLE = 5.0  # seconds between the windows showing and the idle span

GOALS = {
    "start": "clock median <= 1.2 x bare median",
    "cpu": "clock <= 1.1 x bare",
    "rss": "clock <= bare + 2 MiB",
    "hotkey": "median < 20 ms",
    "size": "<= 300 KiB, system DLLs only",
}


def cache_value(build, name):
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    raise SystemExit(f"{name} not in {build}/CMakeCache.txt")


def cxx_compiler(build):
    """The C++ compiler the build tree uses (its toolchain file sets it, so it is not cached)."""
    for found in glob.glob(os.path.join(build, "CMakeFiles", "*", "CMakeCXXCompiler.cmake")):
        with open(found) as f:
            m = re.search(r'set\(CMAKE_CXX_COMPILER "([^"]+)"\)', f.read())
        if m:
            return m.group(1)
    raise SystemExit(f"no C++ compiler recorded in {build}")


def build_bare(build, traced=False):
    cxx = cxx_compiler(build)
    out_dir = os.path.join(build, "bench")
    os.makedirs(out_dir, exist_ok=True)
    out = os.path.join(out_dir, "bare-traced.exe" if traced else "bare.exe")
    trace = ["-DQUENLET_START_TRACE"] if traced else []
    subprocess.run([cxx, *BARE_FLAGS, *trace, os.path.join(bl.HERE, "bare.cpp"), "-o", out], check=True)
    return out


def build_traced_clock(build):
    """Quenlet.exe with its start-up trace points built in, in a tree of its own beside `build`,
    with the same toolchain and build type."""
    out_dir = os.path.join(build, "bench", "traced")
    toolchain = cache_value(build, "CMAKE_TOOLCHAIN_FILE")
    subprocess.run(["cmake", "-S", bl.SOURCE_DIR, "-B", out_dir, f"-DCMAKE_TOOLCHAIN_FILE={toolchain}",
                    f"-DCMAKE_BUILD_TYPE={cache_value(build, 'CMAKE_BUILD_TYPE')}", "-DBUILD_TESTING=OFF",
                    "-DQUENLET_START_TRACE=ON"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", out_dir, "--target", "Quenlet", "-j2"], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(out_dir, "app", "Quenlet.exe")


def build_steps(build):
    """bench/steps.cpp with the clock's manifest as its resource 1, as the clock has it."""
    cxx = cxx_compiler(build)
    windres = re.sub(r"g\+\+(-posix|-win32)?$", "windres", cxx)
    out_dir = os.path.join(build, "bench")
    os.makedirs(out_dir, exist_ok=True)
    rc, res = os.path.join(out_dir, "steps.rc"), os.path.join(out_dir, "steps.res.o")
    manifest = os.path.join(bl.SOURCE_DIR, "app", "layout", "Quenlet.manifest")
    with open(rc, "w") as f:
        f.write(f'1 24 "{manifest}"\n')  # CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST
    subprocess.run([windres, rc, "-O", "coff", "-o", res], check=True)
    out = os.path.join(out_dir, "steps.exe")
    subprocess.run([cxx, *BARE_FLAGS, os.path.join(bl.HERE, "steps.cpp"), res, "-luuid", "-o", out], check=True)
    return out


def imports(build, exe):
    objdump = cache_value(build, "CMAKE_OBJDUMP")
    text = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, check=True).stdout
    return [m.group(1) for m in re.finditer(r"DLL Name: (\S+)", text)]


# ---------------------------------------------------------------------------------------------
# Start to visible window


def time_to_visible(env, exe, title, extra, args=()):
    """Seconds from the launch of `wine EXE` to xdotool seeing a mapped 274x178 window of that
    exact title, looking every 10 ms; then closes the program and waits for its end."""
    regex = f"^{title}$"
    if env.visible_x_windows(regex, WINDOW):
        raise SystemExit(f"a window titled {title} is already visible")
    launched_us = time.time_ns() // 1000
    started = time.monotonic()
    proc = env.start(exe, extra, args=args)
    next_look = started
    while True:
        if env.visible_x_windows(regex, WINDOW):
            took = time.monotonic() - started
            break
        if proc.poll() is not None:
            raise SystemExit(f"{exe} ended with {proc.returncode} before showing a window")
        if time.monotonic() - started > 30:
            raise SystemExit(f"{exe} showed no window in 30 s")
        next_look += 0.010
        # The gap between two looks, not synchronisation.
        time.sleep(max(0.0, next_look - time.monotonic()))
    close_program(env, exe, proc, title)
    return took, launched_us


def close_program(env, exe, proc, title, wait_gone=True):
    """WM_CLOSE to the program's window (the clock's is class TForm1; the others' class is
    their title), then waits for its end and for its window to go."""
    cls = "TForm1" if title == CLOCK_TITLE else title
    pid = env.winpid(exe)
    win = env.window(pid, cls)
    env.probe.post(win["hwnd"], bl.WM_CLOSE)
    rc = env.end(proc)
    if rc != 0:
        raise SystemExit(f"{exe} ended with {rc} after WM_CLOSE")
    if wait_gone:
        bl.poll(lambda: not env.visible_x_windows(f"^{title}$", WINDOW),
                deadline=10, interval=0.01, message="the window to go")


def measure_starts(env, bare, clock, count, clock_env, voice_log):
    """Start-to-visible times of both; for the clock also the time from the launch to the
    voice object's creation (the voice logs it with the wall clock: where the start goes)."""
    times = {"bare": [], "clock": [], "clock_to_voice": []}
    runs = [("bare", bare, BARE_TITLE, None), ("clock", clock, CLOCK_TITLE, clock_env)]
    # One unmeasured start of each: the first start of an exe loads its pages from disk.
    for _, exe, title, extra in runs:
        time_to_visible(env, exe, title, extra)
    for i in range(count):
        # Alternating the order spreads any drift in the machine's load over both.
        for name, exe, title, extra in (runs if i % 2 == 0 else runs[::-1]):
            took, launched_us = time_to_visible(env, exe, title, extra)
            times[name].append(took)
            if name == "clock":
                created = [e["t"] for e in bl.read_voice_log(voice_log)
                           if e.get("ev") == "create" and e["t"] >= launched_us]
                if created:
                    times["clock_to_voice"].append((created[0] - launched_us) / 1e6)
    return times


# ---------------------------------------------------------------------------------------------
# Idle CPU and memory


def measure_idle(env, bare, bare2, clock, seconds, clock_env, perf_dir=None):
    """The programs run side by side for `seconds`, from IDLE_SETTLE after their windows show;
    CPU time used in that span and the RSS at its end. A second bare window (another copy) is
    the noise control: what two identical programs differ by. Returns the figures and the
    clock's process (kept running for the hot-key measurement). With perf_dir, `perf record`
    samples the bare window and the clock through the span (files bare.perf and clock.perf)."""
    procs = {"bare": env.start(bare), "bare2": env.start(bare2), "clock": env.start(clock, clock_env)}
    for name, title, count in (("bare", BARE_TITLE, 2), ("clock", CLOCK_TITLE, 1)):
        bl.poll(lambda: len(env.visible_x_windows(f"^{title}$", WINDOW)) == count, deadline=30, interval=0.05,
                message=f"{name}'s window")
    # Settling before the span: the first paints and timer ticks belong to the start.
    time.sleep(IDLE_SETTLE)
    server = server_pid(env)
    before = {n: bl.cpu_seconds(p.pid) for n, p in procs.items()}
    threads_before = {n: bl.thread_cpu_ns(p.pid) for n, p in procs.items()}
    server_before = bl.cpu_seconds(server) if server else None
    began = time.monotonic()
    recorders = [subprocess.Popen(["perf", "record", "-q", "-e", "cpu-clock", "-F", str(PERF_HZ), "-o",
                                   os.path.join(perf_dir, f"{n}.perf"), "-p", str(procs[n].pid), "--", "sleep",
                                   str(seconds)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                 for n in ("bare", "clock")] if perf_dir else []
    # The span, read once a second (the reading is the measurement, not a wait for anything):
    # per-second CPU shows a steady tick cost apart from the once-a-minute repaint of the time.
    per_second = {n: [] for n in procs}
    last = {n: bl.cpu_ns(p.pid) for n, p in procs.items()}
    while time.monotonic() - began < seconds:
        time.sleep(max(0.0, min(1.0, seconds - (time.monotonic() - began))))
        for n, p in procs.items():
            now = bl.cpu_ns(p.pid)
            per_second[n].append(now - last[n])
            last[n] = now
    span = time.monotonic() - began
    for r in recorders:
        r.wait()
    out = {}
    for n, p in procs.items():
        threads = bl.thread_cpu_ns(p.pid)
        # Per thread, so that it shows which thread is busy (a thread that ended is left out).
        per_thread = {tid: (name, ns - threads_before[n].get(tid, (name, 0))[1]) for tid, (name, ns) in threads.items()}
        out[n] = {"cpu": bl.cpu_seconds(p.pid) - before[n], "cpu_ns": sum(ns for _, ns in per_thread.values()),
                  "threads": per_thread, "rss": bl.status_kib(p.pid, "VmRSS"),
                  "hwm": bl.status_kib(p.pid, "VmHWM"), "maps": bl.rss_by_mapping(p.pid)}
    for n in procs:
        out[n]["per_second"] = per_second[n]
    out["span"] = span
    out["server_cpu"] = bl.cpu_seconds(server) - server_before if server else None
    close_program(env, bare2, procs["bare2"], BARE_TITLE, wait_gone=False)
    close_program(env, bare, procs["bare"], BARE_TITLE)
    return out, procs["clock"]


PERF_HZ = 5000  # one sample per 0.2 ms of CPU


def print_idle_profile(perf_dir):
    """Where the idle CPU goes, from the perf samples of the span: per half second (one timer
    tick), how many samples, and which libraries and modules took them. A tick whose samples
    stand far above the rest is the once-a-minute repaint of the time."""
    print(f"\nIdle profile (perf, {PERF_HZ} samples a second of CPU, so one sample is {1000 / PERF_HZ:.1f} ms):")
    for name in ("bare", "clock"):
        data = os.path.join(perf_dir, f"{name}.perf")
        script = subprocess.run(["perf", "script", "-i", data, "-F", "time,ip,dso", "-G"], capture_output=True, text=True)
        if script.returncode != 0 or not script.stdout.strip():
            print(f"  {name}: no samples ({script.stderr.strip()[:200]})")
            continue
        ticks, by_dso = {}, {}
        for line in script.stdout.splitlines():
            m = re.match(r"\s*([0-9.]+):\s+\S+\s+\((.*)\)", line)  # "time: ip (dso)"
            if not m:
                continue
            tick = int(float(m.group(1)) * 2)
            ticks[tick] = ticks.get(tick, 0) + 1
            dso = os.path.basename(m.group(2)) if m.group(2).startswith("/") else m.group(2)
            if re.fullmatch(r"perf-\d+\.map", dso):
                dso = "the exe's own code"  # perf does not know the mapping of a Windows exe's image
            by_dso[dso] = by_dso.get(dso, 0) + 1
        counts = sorted(ticks.values())
        total = sum(counts)
        typical = bl.median(counts)
        peaks = [c for c in counts if c > 4 * typical + 4]
        print(f"  {name}: {total} samples in {len(counts)} busy half seconds; median {typical:g} a half second "
              f"({typical * 1000 / PERF_HZ:.1f} ms), mean without peaks {(total - sum(peaks)) / max(1, len(counts) - len(peaks)):.2f}; "
              f"peaks {peaks or 'none'}")
        top = sorted(by_dso.items(), key=lambda kv: -kv[1])[:10]
        print("    by module: " + ", ".join(f"{d} {c}" for d, c in top))


def server_pid(env):
    for p in env.data.get("procs", []):
        if p["name"].startswith("wineserver") and bl.qh.pid_alive(p["pid"], p.get("start")):
            return p["pid"]
    return None


# ---------------------------------------------------------------------------------------------
# Hot key to Speak


def measure_hotkey(env, clock_exe, proc, log, count):
    """Alt+A through SendInput from the probe (its own window in the foreground) to the voice's
    "invoke Speak", both stamped with GetSystemTimePreciseAsFileTime."""
    env.window(env.winpid(clock_exe), "TForm1")
    out = []
    for _ in range(count + 1):
        seen = len(bl.read_voice_log(log))
        answer = env.probe.focuskeys("alt+a")
        sent = answer["sent_us"]

        def spoken():
            new = bl.read_voice_log(log)[seen:]
            speaks = [e for e in new if e.get("ev") == "invoke" and e.get("name") == "Speak"]
            ends = [e for e in new if e.get("ev") == "speak_end"]
            return speaks[0] if len(speaks) >= 2 and len(ends) >= 2 else None

        first = bl.poll(spoken, deadline=10, interval=0.02, message="both sentences of one Alt+A")
        out.append((first["t"] - sent) / 1000.0)
    if proc.poll() is not None:
        raise SystemExit("the clock ended during the hot-key measurement")
    return out[1:]  # the first press warms the focus window's class and the voice's paths


# ---------------------------------------------------------------------------------------------
# Start-up profile


LOADDLL = re.compile(r'^(\d+\.\d+):[0-9a-f]+:trace:loaddll:\S+ Loaded L"(?:[^"]*\\\\)?([^"\\]+)"')


def start_profile(env, runs, count):
    """Each program started `count` times with Wine's +loaddll trace, stamped: the median time
    after the exe was mapped at which each DLL was loaded (the desktop process is already up:
    the probe keeps it)."""
    print("\nStart-up profile: ms after the exe is mapped at which each DLL loads (median of "
          f"{count} starts; Wine's +loaddll,+timestamp)")
    for name, exe, title, extra in runs:
        offsets = {}
        for i in range(count):
            log = os.path.join(env.work, f"loaddll-{name}-{i}.log")
            trace = dict(extra or {}, WINEDEBUG="-all,+timestamp,+loaddll")
            if env.visible_x_windows(f"^{title}$", WINDOW):
                raise SystemExit(f"a window titled {title} is already visible")
            proc = env.start(exe, trace, log_path=log)
            bl.poll(lambda: env.visible_x_windows(f"^{title}$", WINDOW), deadline=30, interval=0.01,
                    message=f"{name}'s window")
            close_program(env, exe, proc, title)
            with open(log, errors="replace") as f:
                loads = [(float(m.group(1)), m.group(2).lower()) for m in map(LOADDLL.match, f) if m]
            t0 = loads[0][0]
            seen = set()
            for t, dll in loads:
                if dll not in seen:  # a DLL of the process itself, not of a helper it starts
                    seen.add(dll)
                    offsets.setdefault(dll, []).append((t - t0) * 1000)
        order = sorted(offsets, key=lambda d: bl.median(offsets[d]))
        print(f"  {name}: " + ", ".join(f"{d} {bl.median(offsets[d]):.0f}" for d in order))


def measure_phases(env, runs, count):
    """Starts of the traced builds, alternating: for each trace point the median time after the
    launch at which it was passed (the first time; painting repeats), then the window seen."""
    print(f"\nStart-up phases: ms after the launch (median of {count} starts of the traced builds; "
          "in brackets the step from the phase before)")
    found = {name: {} for name, *_ in runs}
    for name, exe, title, extra in runs:
        time_to_visible(env, exe, title, extra)  # unmeasured: pages from disk
    for i in range(count):
        for name, exe, title, extra in (runs if i % 2 == 0 else runs[::-1]):
            trace = os.path.join(os.path.dirname(exe), "start-trace.txt")
            with contextlib.suppress(FileNotFoundError):
                os.remove(trace)
            took, launched_us = time_to_visible(env, exe, title, dict(extra or {}, QUENLET_START_TRACE=bl.windows_path(trace)))
            seen = {}
            with open(trace) as f:
                for line in f:
                    stamp, phase = line.rstrip("\n").split(" ", 1)
                    seen.setdefault(phase, (int(stamp) - launched_us) / 1000)
            seen["window seen (X)"] = took * 1000
            for phase, ms in seen.items():
                found[name].setdefault(phase, []).append(ms)
    for name, phases in found.items():
        order = sorted(phases, key=lambda p: bl.median(phases[p]))
        last = 0.0
        cells = []
        for phase in order:
            at = bl.median(phases[phase])
            cells.append(f"{phase} {at:.0f} (+{at - last:.0f})")
            last = at
        print(f"  {name}: " + ", ".join(cells))


# ---------------------------------------------------------------------------------------------
# What each piece of the clock's start costs


STEPS_TITLE = "QuenletSteps"
STEPS = ["none", "comctl6", "ole", "voice", "layered", "text", "all"]
STEPS_SPAN = 20.0  # seconds of idle CPU measured per piece


def measure_steps(env, steps_exe, count, voice_env, settle):
    """bench/steps.exe with one piece at a time (and all): start-to-visible median of `count`
    starts, then one more run left for `settle` seconds for its RSS."""
    def extra(step):
        return voice_env if step in ("voice", "all") else None

    time_to_visible(env, steps_exe, STEPS_TITLE, voice_env, args=["all"])  # unmeasured: pages from disk
    out = {step: {"start": []} for step in STEPS}
    for _ in range(count):
        # Round robin, so that a change in the machine's load falls on every piece alike.
        for step in STEPS:
            out[step]["start"].append(time_to_visible(env, steps_exe, STEPS_TITLE, extra(step), args=[step])[0])
    for step in STEPS:
        proc = env.start(steps_exe, extra(step), args=[step])
        bl.poll(lambda: env.visible_x_windows(f"^{STEPS_TITLE}$", WINDOW), deadline=30, interval=0.05,
                message=f"steps {step}'s window")
        # Waiting out the settling span, then the measured span (the spans are the measurement).
        time.sleep(IDLE_SETTLE)
        cpu = bl.cpu_ns(proc.pid)
        time.sleep(settle)
        out[step].update(cpu=bl.cpu_ns(proc.pid) - cpu, rss=bl.status_kib(proc.pid, "VmRSS"),
                         maps=bl.rss_by_mapping(proc.pid))
        close_program(env, steps_exe, proc, STEPS_TITLE)
    return out


def print_steps(steps, settle):
    base = steps["none"]
    print(f"\nWhat each piece costs: bench/steps.exe (bare window + manifest) with one piece; start median of "
          f"{len(base['start'])} (round robin); CPU (schedstat) per minute idle, from {settle:.0f} s; RSS after it")
    print(f"  {'piece':<10}{'start ms':>10}{'vs none':>10}{'CPU ms/min':>12}{'RSS MiB':>10}{'vs none':>10}"
          "  largest RSS differences (KiB)")
    for step, r in steps.items():
        start, rss = bl.median(r["start"]) * 1000, r["rss"] / 1024
        diff = {k: r["maps"].get(k, 0) - base["maps"].get(k, 0) for k in set(r["maps"]) | set(base["maps"])}
        top = ", ".join(f"{k} {d:+d}" for k, d in sorted(diff.items(), key=lambda kv: -abs(kv[1]))[:5] if d)
        print(f"  {step:<10}{start:>10.0f}{start - bl.median(base['start']) * 1000:>+10.0f}"
              f"{r['cpu'] / 1e6 * 60 / settle:>12.1f}{rss:>10.1f}{rss - base['rss'] / 1024:>+10.1f}  {top}")


# ---------------------------------------------------------------------------------------------
# Size profile


def size_profile(build, top=20):
    """Relinks Quenlet.exe unstripped with a map (same objects and libraries) and prints the
    largest symbols and the largest contributors by archive member."""
    app = os.path.join(build, "app")
    with open(os.path.join(app, "CMakeFiles", "Quenlet.dir", "link.txt")) as f:
        link = f.read().strip().splitlines()[-1]
    argv = [a for a in shlex.split(link) if a != "-s"]
    i = argv.index("-o")
    unstripped = os.path.join(build, "bench", "Quenlet-unstripped.exe")
    mapfile = os.path.join(build, "bench", "Quenlet.map")
    argv[i + 1] = unstripped
    argv = [a for a in argv if not a.startswith("-Wl,--out-implib")]
    argv.append(f"-Wl,-Map={mapfile}")
    subprocess.run(argv, cwd=app, check=True)
    nm = cache_value(build, "CMAKE_NM")
    syms = subprocess.run([nm, "--size-sort", "-r", "-S", "-C", unstripped], capture_output=True, text=True,
                          check=True).stdout.splitlines()
    print(f"\nLargest symbols of the unstripped exe ({os.path.getsize(unstripped) // 1024} KiB unstripped, "
          f"map in {mapfile}):")
    shown = 0
    for line in syms:
        parts = line.split(None, 3)
        # Code and data only: no debug entries, no whole-section symbols.
        if len(parts) == 4 and parts[2] not in "Nn" and not parts[3].startswith("."):
            print(f"  {int(parts[1], 16):7d}  {parts[2]}  {parts[3][:100]}")
            shown += 1
            if shown == top:
                break
    # Per input file: sum the sizes of the sections the map assigns to each archive member.
    sizes = {}
    section = re.compile(r"^ (\.\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S+)$")
    pending = None
    with open(mapfile, errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            m = section.match(line)
            if m and m.group(1) is None and pending:
                m = re.match(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S+)$", line)
                sec = pending
            elif m:
                sec = m.group(1)
            else:
                pending = line.strip() if re.match(r"^ \.\S+$", line) else None
                continue
            pending = None
            size, origin = int(m.group(m.lastindex - 1), 16), m.group(m.lastindex)
            if sec.startswith((".debug", ".stab", ".comment")):
                continue
            lib = re.sub(r"\(.*\)$", "", os.path.basename(origin))
            sizes[lib] = sizes.get(lib, 0) + size
    print("\nLinked bytes by library / object (code, data, resources; no debug info):")
    for lib, size in sorted(sizes.items(), key=lambda kv: -kv[1])[:top]:
        print(f"  {size:8d}  {lib}")


# ---------------------------------------------------------------------------------------------


def fmt_ms(values):
    q1, q3 = bl.quartiles(values)
    return (f"{bl.median(values) * 1000:7.1f} ms (min {min(values) * 1000:.1f}, IQR {q1 * 1000:.1f}-{q3 * 1000:.1f}, "
            f"max {max(values) * 1000:.1f}; n={len(values)})")


def verdict(ok):
    return "met" if ok else "MISSED"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(bl.SOURCE_DIR, "build-bench"))
    parser.add_argument("--state")
    parser.add_argument("--starts", type=int, default=10)
    parser.add_argument("--hotkeys", type=int, default=20)
    parser.add_argument("--idle", type=float, default=60.0, help="seconds of idle measurement")
    parser.add_argument("--size-profile", action="store_true", help="what takes the exe's space")
    parser.add_argument("--steps", type=int, default=5, metavar="N",
                        help="starts of each piece of bench/steps.exe (0: leave the pieces out)")
    parser.add_argument("--start-profile", type=int, default=0, metavar="N",
                        help="also N starts of each with Wine's DLL-load trace")
    parser.add_argument("--idle-profile", action="store_true",
                        help="also sample the idle span with perf: where the idle CPU goes")
    parser.add_argument("--phases", type=int, default=0, metavar="N",
                        help="also N starts of each built with its start-up trace points")
    args = parser.parse_args()
    build = os.path.abspath(args.build)

    bare_built = build_bare(build)
    steps_built = build_steps(build) if args.steps else None
    traced_built = (build_bare(build, traced=True), build_traced_clock(build)) if args.phases else None
    load_before = bl.load_average()
    with bl.Environment(build, args.state) as env:
        clock_built = env.exe("Quenlet.exe")
        bare = env.install(bare_built, os.path.join(env.work, "bare"))
        clock = env.install(clock_built, os.path.join(env.work, "clock"))
        voice_log = os.path.join(env.work, "clock", "voice.jsonl")
        # Short sentences so that 20 presses take seconds; the voice is created at every start.
        clock_env = {"QUENLET_VOICE_LOG": bl.windows_path(voice_log), "QUENLET_VOICE_SPEAK_MS": "20"}
        env.probe  # started before the timings, so its own start is not measured

        print(f"load average before: {load_before}", flush=True)
        starts = measure_starts(env, bare, clock, args.starts, clock_env, voice_log)
        print(f"starts done; load average {bl.load_average()}", flush=True)
        bare2 = env.install(bare_built, os.path.join(env.work, "bare2"))
        perf_dir = None
        if args.idle_profile:
            if shutil.which("perf") is None:
                print("--idle-profile: perf is not installed (Debian: linux-perf); no idle profile", flush=True)
            else:
                perf_dir = os.path.join(build, "bench", "perf")
                os.makedirs(perf_dir, exist_ok=True)
        idle, clock_proc = measure_idle(env, bare, bare2, clock, args.idle, clock_env, perf_dir)
        print(f"idle done; load average {bl.load_average()}", flush=True)
        hot = measure_hotkey(env, clock, clock_proc, voice_log, args.hotkeys)
        close_program(env, clock, clock_proc, CLOCK_TITLE)
        load_after = bl.load_average()
        steps = None
        if args.steps:
            steps_exe = env.install(steps_built, os.path.join(env.work, "steps"))
            steps_env = {"QUENLET_VOICE_LOG": bl.windows_path(os.path.join(env.work, "steps", "voice.jsonl"))}
            steps = measure_steps(env, steps_exe, args.steps, steps_env, settle=STEPS_SPAN)
        if args.start_profile:
            start_profile(env, [("bare", bare, BARE_TITLE, None), ("clock", clock, CLOCK_TITLE, clock_env)],
                          args.start_profile)
        if args.phases:
            traced_bare = env.install(traced_built[0], os.path.join(env.work, "bare-traced"))
            traced_clock = env.install(traced_built[1], os.path.join(env.work, "clock-traced"))
            measure_phases(env, [("bare", traced_bare, BARE_TITLE, None), ("clock", traced_clock, CLOCK_TITLE, clock_env)],
                           args.phases)

    sizes = {n: os.path.getsize(p) for n, p in (("bare", bare_built), ("clock", clock_built))}
    dlls = {n: imports(build, p) for n, p in (("bare", bare_built), ("clock", clock_built))}
    foreign = [d for d in dlls["clock"] if d.lower() not in SYSTEM_DLLS]

    sb, sc = bl.median(starts["bare"]), bl.median(starts["clock"])
    cb, cc = idle["bare"]["cpu"], idle["clock"]["cpu"]
    nb, nc = idle["bare"]["cpu_ns"], idle["clock"]["cpu_ns"]
    rb, rc = idle["bare"]["rss"], idle["clock"]["rss"]
    hk = bl.median(hot)

    span = idle["span"]
    hwm_b, hwm_c = idle["bare"]["hwm"] / 1024, idle["clock"]["hwm"] / 1024
    rows = [
        ("start to visible (warm)", fmt_ms(starts["bare"]), fmt_ms(starts["clock"]),
         f"{sc / sb:.2f}x bare: {verdict(sc <= 1.2 * sb)} ({GOALS['start']})"),
        ("  of which to voice made", "-", fmt_ms(starts["clock_to_voice"]) if starts["clock_to_voice"] else "-",
         "launch to the voice object's creation (first creation step)"),
        ("CPU in idle span", f"{cb * 1000:.0f} ms in {span:.0f} s (schedstat {nb / 1e6:.1f} ms)",
         f"{cc * 1000:.0f} ms in {span:.0f} s (schedstat {nc / 1e6:.1f} ms)",
         f"{nc / nb:.2f}x bare by schedstat, {(cc / cb if cb else float('nan')):.2f}x by utime+stime: "
         f"{verdict(nc <= 1.1 * nb)} ({GOALS['cpu']})"),
        ("RSS after idle span", f"{rb / 1024:.1f} MiB (peak {hwm_b:.1f})", f"{rc / 1024:.1f} MiB (peak {hwm_c:.1f})",
         f"+{(rc - rb) / 1024:.1f} MiB: {verdict(rc - rb <= 2048)} ({GOALS['rss']})"),
        ("Alt+A to invoke Speak", "-", f"{hk:.1f} ms (min {min(hot):.1f}, max {max(hot):.1f}; n={len(hot)})",
         f"{verdict(hk < 20)} ({GOALS['hotkey']})"),
        ("exe size", f"{sizes['bare'] / 1024:.1f} KiB", f"{sizes['clock'] / 1024:.1f} KiB",
         f"{verdict(sizes['clock'] <= 300 * 1024 and not foreign)} ({GOALS['size']})"),
        ("imports", ", ".join(dlls["bare"]), ", ".join(dlls["clock"]),
         f"not system: {', '.join(foreign)}" if foreign else "all system DLLs"),
    ]
    print()
    print(f"Quenlet vs a bare window under Wine; load average {load_before} before, {load_after} after")
    widths = [max(len(r[i]) for r in rows + [("measure", "bare window", "Quenlet", "goal")]) + 2 for i in range(3)]
    for r in [("measure", "bare window", "Quenlet", "goal")] + rows:
        print("".join(c.ljust(w) for c, w in zip(r[:3], widths)) + r[3])
    if idle["server_cpu"] is not None:
        print(f"(wineserver, shared by both and the idle probe: {idle['server_cpu']:.2f} s CPU in the idle span)")

    print(f"\nIdle CPU (schedstat, ms in the span) of a second bare window beside them, the noise control: "
          f"{idle['bare2']['cpu_ns'] / 1e6:.1f} (utime+stime {idle['bare2']['cpu'] * 1000:.0f}); "
          f"RSS {idle['bare2']['rss'] / 1024:.1f} MiB")
    for n in ("bare", "bare2", "clock"):
        busy = sorted(((tid, ns) for tid, (_, ns) in idle[n]["threads"].items() if ns > 0), key=lambda t: -t[1])
        secs = sorted(idle[n]["per_second"])
        print(f"  {n}: threads that ran " + ", ".join(f"{tid} {ns / 1e6:.1f}" for tid, ns in busy)
              + f" (of {len(idle[n]['threads'])}); per second: median {bl.median(secs) / 1e6:.2f} ms, "
              f"busiest three {', '.join(f'{v / 1e6:.1f}' for v in secs[-3:][::-1])} ms")

    # Where the clock's extra resident memory lies: the largest differences per mapping.
    diff = {k: idle["clock"]["maps"].get(k, 0) - idle["bare"]["maps"].get(k, 0)
            for k in set(idle["clock"]["maps"]) | set(idle["bare"]["maps"])}
    print("\nResident KiB by mapping, largest differences (clock - bare):")
    for k, d in sorted(diff.items(), key=lambda kv: -abs(kv[1]))[:15]:
        print(f"  {d:+7d}  {k}  (clock {idle['clock']['maps'].get(k, 0)}, bare {idle['bare']['maps'].get(k, 0)})")

    if perf_dir:
        print_idle_profile(perf_dir)
    if steps:
        print_steps(steps, settle=STEPS_SPAN)
    if args.size_profile:
        size_profile(build)
    return 0


if __name__ == "__main__":
    sys.exit(main())
