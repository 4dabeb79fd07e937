#!/usr/bin/env python3
"""Measures zu next to a bare SDL window (zu_baseline) under a private X server
and a private JACK server.

Each run starts the baseline, then zu, one after the other, and measures for
both: frame work (median, 99th percentile) while idle, CPU use while idle,
resident memory, time from exec to the first presented frame. For zu alone:
trigger latency (XTest press of r until the Control Change reaches the MIDI
peer), follow latency (the peer turns the paired CH dial until a trigger
sends on the new channel) and pad latency (the peer sends 127 on a controller
paired with the value button until zu's Control Change arrives; then 0, whose
re-press comes a frame after the release), its CPU with the JACK server killed after
3000 presses of r, and the time from the server's return until a press of r reaches
a new peer. The baseline opens the same two
MIDI clients as zu. Figures are summed up over the runs as
minimum / median / maximum, printed as a table and written to --out.

Exit status 0 when every step of every run worked; targets are reported, not
enforced.
"""

import argparse
import ctypes
import os
import platform
import queue
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

JACK_PERIOD_MS = 256 / 48000 * 1000
POINTER_SPOT = (4, 60)  # an empty spot in the window, left of the value caption
CH_DIAL_CENTRE = (22, 19)
VALUE_BUTTON_CENTRE = (43, 248)
FOLLOW_CC = 20
PAD_CC = 21
SDL_KEYDOWN = 0x300
MAPPINGS = {}  # resident kB per mapping of the last run: {"zu": {...}, "baseline": {...}}


def now_us():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000


def die_with_parent():
    # A benchmark killed by a timeout must not leave its servers behind.
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class Failure(Exception):
    pass


def percentile(values, p):
    """Nearest-rank percentile."""
    s = sorted(values)
    k = max(0, min(len(s) - 1, int(-(-p * len(s) // 100)) - 1))
    return s[k]


# --- X server and XTest -------------------------------------------------------


class XDisplay:
    """A client connection for XTest input."""

    def __init__(self, name):
        x11 = ctypes.CDLL("libX11.so.6")
        xtst = ctypes.CDLL("libXtst.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XStringToKeysym.restype = ctypes.c_ulong
        x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
        x11.XKeysymToKeycode.restype = ctypes.c_ubyte
        x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        x11.XSetInputFocus.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                       ctypes.c_ulong]
        xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                           ctypes.c_ulong]
        xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                              ctypes.c_int, ctypes.c_ulong]
        xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                              ctypes.c_ulong]
        self.x11, self.xtst = x11, xtst
        self.dpy = x11.XOpenDisplay(name.encode())
        if not self.dpy:
            raise Failure("cannot open display " + name)

    def keycode(self, key):
        return self.x11.XKeysymToKeycode(self.dpy, self.x11.XStringToKeysym(key.encode()))

    def tap(self, key):
        """Press and release; returns the time just before the press."""
        code = self.keycode(key)
        t = now_us()
        self.xtst.XTestFakeKeyEvent(self.dpy, code, 1, 0)
        self.xtst.XTestFakeKeyEvent(self.dpy, code, 0, 0)
        self.x11.XSync(self.dpy, 0)
        return t

    def focus_follows_pointer(self):
        # Without a window manager a closed window can leave the focus on nothing;
        # hand it back to whatever is under the pointer.
        self.x11.XSetInputFocus(self.dpy, 1, 2, 0)  # PointerRoot, RevertToPointerRoot
        self.x11.XSync(self.dpy, 0)

    def move(self, x, y):
        self.xtst.XTestFakeMotionEvent(self.dpy, -1, x, y, 0)
        self.x11.XSync(self.dpy, 0)

    def click(self, button=1):
        self.xtst.XTestFakeButtonEvent(self.dpy, button, 1, 0)
        self.xtst.XTestFakeButtonEvent(self.dpy, button, 0, 0)
        self.x11.XSync(self.dpy, 0)

    def close(self):
        if self.dpy:
            self.x11.XCloseDisplay(self.dpy)
            self.dpy = None


def stop_process(p, timeout=5.0):
    """SIGTERM, then SIGKILL after timeout; returns True when it ended on SIGTERM."""
    if p is None or p.poll() is not None:
        return True
    p.send_signal(signal.SIGTERM)
    try:
        p.wait(timeout)
        return True
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait(5)
        return False


class Servers:
    """A private Xvfb and a private JACK server (dummy backend)."""

    def __init__(self, tmp):
        self.tmp = tmp
        self.xvfb = None
        self.jackd = None
        self.display = None
        self.jack_name = "zubench%d" % os.getpid()

    def client_env(self):
        env = dict(os.environ)
        env.update(DISPLAY=self.display, SDL_VIDEODRIVER="x11",
                   JACK_DEFAULT_SERVER=self.jack_name, JACK_NO_START_SERVER="1")
        env.pop("ZU_FRAME_LOG", None)
        return env

    def start_x(self):
        # The same private X server the tests use: Xvfb picks a free display itself
        # and writes its number once it takes connections.
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "xvfb.sh")
        log = open(os.path.join(self.tmp, "xvfb.log"), "w")
        p = subprocess.Popen(["bash", script], stdout=subprocess.PIPE, stderr=log, text=True,
                             preexec_fn=die_with_parent)
        lines = queue.Queue()
        threading.Thread(target=lambda: lines.put(p.stdout.readline()), daemon=True).start()
        try:
            number = lines.get(timeout=30).strip()
        except queue.Empty:
            number = ""
        if not number.isdigit():
            stop_process(p)
            raise Failure("Xvfb did not start (see %s/xvfb.log)" % self.tmp)
        self.xvfb, self.display = p, ":" + number

    def _jack_env(self):
        env = dict(os.environ)
        env.update(JACK_DEFAULT_SERVER=self.jack_name, JACK_NO_START_SERVER="1",
                   JACK_NO_AUDIO_RESERVATION="1")
        return env

    def _run_jackd(self):
        log = open(os.path.join(self.tmp, "jackd.log"), "a")
        # Synchronous: an asynchronous non-realtime server drops the MIDI of a client
        # that joined late, as zu's output and the peer do once the server is back.
        p = subprocess.Popen(["jackd", "--no-realtime", "-S", "-n", self.jack_name, "-d", "dummy",
                              "-r", "48000", "-p", "256"], env=self._jack_env(), stdout=log,
                             stderr=log, stdin=subprocess.DEVNULL, preexec_fn=die_with_parent)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and p.poll() is None:
            r = subprocess.run(["jack_lsp"], env=self._jack_env(), stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=10)
            if r.returncode == 0:
                return p
            time.sleep(0.05)
        stop_process(p)
        raise Failure("jackd did not start (see %s/jackd.log)" % self.tmp)

    def start_jack(self):
        self.jackd = self._run_jackd()

    def stop(self):
        if self.jackd is not None:
            if not stop_process(self.jackd):
                # A killed server keeps its registry entry: start it again and stop it cleanly.
                try:
                    stop_process(self._run_jackd())
                except Failure:
                    pass
            self.jackd = None
        if self.xvfb is not None:
            stop_process(self.xvfb)
            self.xvfb = None


# --- the measured programs ----------------------------------------------------


class Peer:
    """zu_midi_peer: its input is zu's output port 0, its second output zu's input port 1."""

    def __init__(self, path, env):
        self.p = subprocess.Popen([path], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True, bufsize=1,
                                  preexec_fn=die_with_parent)
        self.lines = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        try:
            first = self.lines.get(timeout=10)
        except queue.Empty:
            first = None
        if first != "ready":
            self.close()
            raise Failure("MIDI peer did not start: %r %s" % (first, self.p.stderr.read()))

    def _read(self):
        for line in self.p.stdout:
            self.lines.put(line.strip())
        self.lines.put(None)

    def drain(self):
        while True:
            try:
                self.lines.get_nowait()
            except queue.Empty:
                return

    def wait_message(self, accept, timeout):
        """Next received message for which accept(bytes) holds: (time us, bytes) or None."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                return None
            if line is None:
                return None
            words = line.split()
            if len(words) >= 2 and words[0] == "recv":
                data = [int(w) for w in words[2:]]
                if accept(data):
                    return int(words[1]), data

    def send(self, port, data):
        self.p.stdin.write("send%d %s\n" % (port, " ".join(str(b) for b in data)))
        self.p.stdin.flush()

    def close(self):
        if self.p.poll() is None:
            try:
                self.p.stdin.write("quit\n")
                self.p.stdin.flush()
                self.p.wait(5)
            except (BrokenPipeError, subprocess.TimeoutExpired):
                pass
        stop_process(self.p)


def read_frames(path):
    """[(top us, end us, work us)] from a frame log."""
    return read_log(path)[0]


def read_log(path):
    """Frames [(top us, end us, work us, painted or None)] and the events zu logged
    [(kind, us, [numbers])]: "event" with the SDL type, "midi" with the pair."""
    frames, events = [], []
    try:
        with open(path) as f:
            for line in f:
                parts = line.split()
                if not line.endswith("\n") or not parts:
                    continue
                if parts[0] in ("event", "midi"):
                    events.append((parts[0], int(parts[1]), [int(p) for p in parts[2:]]))
                elif len(parts) in (2, 3):
                    end, work = int(parts[0]), int(parts[1])
                    painted = int(parts[2]) if len(parts) == 3 else None
                    frames.append((end - work, end, work, painted))
    except FileNotFoundError:
        pass
    return frames, events


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        rest = f.read().rsplit(")", 1)[1].split()
    return int(rest[11]) + int(rest[12])  # utime + stime, all threads


def cpu_pct_since(pid, t0, c0):
    """% of one core that pid used since (now_us() t0, cpu_ticks() c0)."""
    return (cpu_ticks(pid) - c0) * 100 / os.sysconf("SC_CLK_TCK") / ((now_us() - t0) / 1e6)


def thread_run_ns(pid):
    """{tid: (kind, on-CPU ns from schedstat)}; kind is main, gl (Mesa's rasteriser) or other."""
    out = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                ns = int(f.read().split()[0])
            with open("/proc/%d/task/%s/comm" % (pid, tid)) as f:
                comm = f.read().strip()
        except (OSError, ValueError, IndexError):
            continue  # ended meanwhile
        kind = "main" if int(tid) == pid else "gl" if comm.startswith("llvmpipe") else "other"
        out[tid] = (kind, ns)
    return out


def memory_mb(pid):
    """VmRSS and its shared-memory part (RssShmem), in MB."""
    fields = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key] = value.split()
    if "VmRSS" not in fields:
        raise Failure("no VmRSS for %d" % pid)
    return int(fields["VmRSS"][0]) / 1024, int(fields.get("RssShmem", ["0"])[0]) / 1024


def mapping_kb(pid):
    """Resident kB per mapped file (anonymous mappings and the heap by their label)."""
    out = {}
    name = None
    with open("/proc/%d/smaps" % pid) as f:
        for line in f:
            first = line.split(None, 1)[0]
            if "-" in first and not first.endswith(":"):
                parts = line.split()
                name = parts[5] if len(parts) > 5 else "[anonymous]"
            elif first == "Rss:":
                out[name] = out.get(name, 0) + int(line.split()[1])
    return out


def find_window(env, title):
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        r = subprocess.run(["xdotool", "search", "--name", "^%s$" % title], env=env,
                           capture_output=True, text=True, timeout=5)
        ids = r.stdout.split()
        if ids:
            g = subprocess.run(["xdotool", "getwindowgeometry", "--shell", ids[0]], env=env,
                               capture_output=True, text=True, timeout=5).stdout
            geo = dict(l.split("=", 1) for l in g.split())
            return int(geo["X"]), int(geo["Y"])
        time.sleep(0.05)
    raise Failure("window %r not found" % title)


class Program:
    """One run of zu or the baseline with its frame log."""

    def __init__(self, label, path, cwd, env, tmp):
        self.label = label
        self.log = os.path.join(tmp, "%s-frames.log" % label)
        self.out = os.path.join(tmp, "%s-stdout.log" % label)
        env = dict(env, ZU_FRAME_LOG=self.log)
        with open(self.out, "w") as out:
            self.t_exec = now_us()
            self.p = subprocess.Popen([path], cwd=cwd, env=env, stdout=out,
                                      stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                      preexec_fn=die_with_parent)

    def first_frame(self, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            frames = read_frames(self.log)
            if frames:
                return frames[0][1]
            if self.p.poll() is not None:
                break
            time.sleep(0.002)
        raise Failure("%s presented no frame; it printed: %s" % (self.label, self.output()))

    def output(self):
        with open(self.out) as f:
            return f.read()

    def wait_exit(self, timeout):
        try:
            return self.p.wait(timeout)
        except subprocess.TimeoutExpired:
            stop_process(self.p)
            raise Failure("%s did not quit within %g s" % (self.label, timeout))


def measure_idle(prog, idle_s, settle_s):
    """Start-up, CPU, memory and frame work while nothing happens."""
    first = prog.first_frame()
    r = {"startup_ms": (first - prog.t_exec) / 1000}
    time.sleep(settle_s)
    t0, c0, th0 = now_us(), cpu_ticks(prog.p.pid), thread_run_ns(prog.p.pid)
    time.sleep(idle_s)
    t1, c1, th1 = now_us(), cpu_ticks(prog.p.pid), thread_run_ns(prog.p.pid)
    r["cpu_pct"] = (c1 - c0) * 100 / os.sysconf("SC_CLK_TCK") / ((t1 - t0) / 1e6)
    # The scheduler's run time has nanosecond resolution, the ticks above 10 ms.
    for kind in ("main", "gl", "other"):
        ns = sum(t - th0.get(tid, (k, 0))[1] for tid, (k, t) in th1.items() if k == kind)
        r["cpu_%s_pct" % kind] = ns / 1e3 / (t1 - t0) * 100
    r["cpu_run_pct"] = sum(r["cpu_%s_pct" % k] for k in ("main", "gl", "other"))
    r["rss_mb"], r["shmem_mb"] = memory_mb(prog.p.pid)
    prog.mappings = mapping_kb(prog.p.pid)
    idle = [f for f in read_frames(prog.log) if t0 <= f[1] <= t1]
    work = [f[2] / 1000 for f in idle]
    if not work:
        raise Failure("%s logged no frame while idle" % prog.label)
    r["frames"] = len(work)
    r["fps"] = len(work) / ((t1 - t0) / 1e6)
    # A log without the painted column comes from a build that painted every frame.
    r["painted_fps"] = sum(1 if f[3] is None else f[3] for f in idle) / ((t1 - t0) / 1e6)
    r["work_median_ms"] = statistics.median(work)
    r["work_p99_ms"] = percentile(work, 99)
    r["work_max_ms"] = max(work)
    return r


def frame_of(frames, t):
    """Index of the last frame whose top is at or before t."""
    idx = None
    for i, (top, end, work, painted) in enumerate(frames):
        if top <= t:
            idx = i
        else:
            break
    return idx


def measure_triggers(x, peer, prog, origin, taps, rng):
    x.focus_follows_pointer()
    x.move(origin[0] + POINTER_SPOT[0], origin[1] + POINTER_SPOT[1])  # focus follows the pointer
    time.sleep(0.2)
    peer.drain()
    presses = []
    lost = 0
    for _ in range(taps):
        t = x.tap("r")
        got = peer.wait_message(lambda b: len(b) == 3 and b[0] & 0xF0 == 0xB0, 1.0)
        if got is None:
            lost += 1  # a JACK server without real-time scheduling can drop a cycle
            if lost > max(2, taps // 10):
                raise Failure("%d presses of r sent no Control Change within 1 s" % lost)
        else:
            presses.append((t, got[0]))
        time.sleep(rng.uniform(0.02, 0.09))  # presses land anywhere in the frame
    time.sleep(0.2)
    frames, events = read_log(prog.log)
    keys = [e[1] for e in events if e[0] == "event" and e[2] == [SDL_KEYDOWN]]
    lat, wait, handle, work, over = [], [], [], [], []
    for t, recv in presses:
        i = frame_of(frames, recv)
        if i is None or i == 0:
            raise Failure("no frame found for a press")
        # When zu took the key: its own log line, or (a build without one) the top
        # of the frame that sent.
        taken = next((k for k in keys if t <= k <= recv), frames[i][0])
        lat.append((recv - t) / 1000)
        wait.append((taken - t) / 1000)
        handle.append((recv - taken) / 1000)
        work.append(frames[i][2] / 1000)
        bound = 60 + (frames[i - 1][2] + frames[i][2]) / 1000 + JACK_PERIOD_MS
        over.append(lat[-1] > bound)
    return {"trig_median_ms": statistics.median(lat), "trig_max_ms": max(lat),
            "trig_wait_median_ms": statistics.median(wait), "trig_wait_max_ms": max(wait),
            "trig_handle_median_ms": statistics.median(handle),
            "trig_handle_max_ms": max(handle), "trig_work_median_ms": statistics.median(work),
            "trig_work_max_ms": max(work), "trig_over_bound": sum(over), "trig_lost": lost}


def measure_follow(x, peer, origin, samples, rng):
    spot = (origin[0] + POINTER_SPOT[0], origin[1] + POINTER_SPOT[1])
    x.tap("m")  # learn mode
    time.sleep(0.3)
    # The press is read at the pointer's position when zu takes it, so the pointer
    # stays on the dial until a frame has gone by.
    for centre, cc in ((CH_DIAL_CENTRE, FOLLOW_CC), (VALUE_BUTTON_CENTRE, PAD_CC)):
        x.move(origin[0] + centre[0], origin[1] + centre[1])
        time.sleep(0.15)
        x.click()
        time.sleep(0.15)
        x.move(*spot)
        peer.send(1, [176, cc, 0])  # pairs the control selected last with cc
        time.sleep(0.3)
    x.tap("m")  # follow mode
    time.sleep(0.3)
    lat = []
    lost = 0
    for i in range(samples):
        channel = i % 15 + 1
        got = None
        while got is None:
            peer.drain()
            t = now_us()
            peer.send(1, [176, FOLLOW_CC, channel])
            deadline = time.monotonic() + 1.0
            while got is None and time.monotonic() < deadline:
                x.tap("r")
                got = peer.wait_message(lambda b: len(b) == 3 and b[0] == 176 + channel, 0.005)
            if got is None:
                lost += 1  # sent again; see measure_triggers
                if lost > max(2, samples // 5):
                    raise Failure("the CH dial did not follow controller %d to %d"
                                  % (FOLLOW_CC, channel))
        lat.append((got[0] - t) / 1000)
        time.sleep(rng.uniform(0.1, 0.2))
    return {"follow_median_ms": statistics.median(lat), "follow_max_ms": max(lat),
            "follow_lost": lost}


def measure_pad(peer, samples, rng):
    """A pad on the value button (paired by measure_follow): 127 presses and sends at
    once; the 0 releases, and the re-press that sends again comes a frame later."""
    def control_change(b):
        return len(b) == 3 and b[0] & 0xF0 == 0xB0
    press, repress = [], []
    lost = 0
    for _ in range(samples):
        for value, out in ((127, press), (0, repress)):
            peer.drain()
            t = now_us()
            peer.send(1, [176, PAD_CC, value])
            got = peer.wait_message(control_change, 1.0)
            if got is None:
                lost += 1  # see measure_triggers
                if lost > max(2, samples // 5):
                    raise Failure("the pad on controller %d triggered nothing" % PAD_CC)
            else:
                out.append((got[0] - t) / 1000)
            time.sleep(rng.uniform(0.15, 0.25))  # held, then let go; the release follows
    if not press or not repress:
        raise Failure("no pad latency measured")
    return {"pad_median_ms": statistics.median(press), "pad_max_ms": max(press),
            "repress_median_ms": statistics.median(repress), "repress_max_ms": max(repress),
            "pad_lost": lost}


def measure_flood(peer, prog, seconds):
    """1,000 Control Changes a second for the CH dial (paired by measure_follow) in
    follow mode, each a new value: zu's CPU meanwhile, % of one core."""
    start, t0, c0 = time.monotonic(), now_us(), cpu_ticks(prog.p.pid)
    sent = 0
    while time.monotonic() - start < seconds:
        while sent < (time.monotonic() - start) * 1000:
            peer.send(1, [176, FOLLOW_CC, sent % 16])
            sent += 1
        time.sleep(0.002)
    return {"flood_cpu_pct": cpu_pct_since(prog.p.pid, t0, c0)}


def wait_output(prog, text, timeout):
    deadline = time.monotonic() + timeout
    while text not in prog.output():
        if time.monotonic() > deadline or prog.p.poll() is not None:
            raise Failure("zu never printed %r; it printed: %s" % (text, prog.output()))
        time.sleep(0.01)


def measure_loss(args, servers, x, prog, origin, peer):
    """The JACK server killed: zu's CPU after 3000 triggers with it gone; then the
    server and a peer back, and the time from the server's return to the first
    Control Change a press of r brings the new peer. Returns (figures, new peer)."""
    servers.jackd.kill()
    servers.jackd.wait(5)
    peer.close()
    wait_output(prog, "zu lost its MIDI service", 5)
    x.focus_follows_pointer()
    x.move(origin[0] + POINTER_SPOT[0], origin[1] + POINTER_SPOT[1])
    for _ in range(3000):
        x.tap("r")
    time.sleep(1.0)  # the presses handled
    t0, c0 = now_us(), cpu_ticks(prog.p.pid)
    time.sleep(args.idle / 2)
    cpu = cpu_pct_since(prog.p.pid, t0, c0)
    servers.start_jack()
    back = now_us()
    peer = Peer(args.peer, servers.client_env())
    got = None
    deadline = time.monotonic() + 10
    while got is None and time.monotonic() < deadline:
        x.tap("r")
        got = peer.wait_message(lambda b: len(b) == 3 and b[0] & 0xF0 == 0xB0, 0.01)
    if got is None:
        raise Failure("zu sent nothing within 10 s of its JACK server's return")
    wait_output(prog, "zu is connected to its MIDI service again", 5)
    return {"gone_cpu_pct": cpu, "reconnect_ms": (got[0] - back) / 1000}, peer


def run_baseline(args, servers, x, tmp, run):
    env = servers.client_env()
    peer = Peer(args.peer, env)  # the ports its two MIDI clients open, as zu's do
    prog = Program("baseline-%d" % run, args.baseline, os.path.dirname(args.baseline), env, tmp)
    try:
        r = measure_idle(prog, args.idle, args.settle)
        MAPPINGS["baseline"] = prog.mappings
        origin = find_window(env, "zu-baseline")
        x.focus_follows_pointer()
        x.move(origin[0] + POINTER_SPOT[0], origin[1] + POINTER_SPOT[1])
        time.sleep(0.1)
        x.tap("q")
        status = prog.wait_exit(5)
        if status != 0:
            raise Failure("the baseline exited with status %d" % status)
        return r
    finally:
        stop_process(prog.p)
        peer.close()


def run_zu(args, servers, x, tmp, run, rng):
    env = servers.client_env()
    peer = Peer(args.peer, env)
    prog = None
    try:
        prog = Program("zu-%d" % run, args.zu, os.path.dirname(args.zu), env, tmp)
        r = measure_idle(prog, args.idle, args.settle)
        MAPPINGS["zu"] = prog.mappings
        for complaint in ("Could not open MIDI out port", "No ports available!",
                          "MIDI is not available"):
            if complaint in prog.output():
                raise Failure("zu has no MIDI: %s" % prog.output().strip())
        origin = find_window(env, "zu")
        r.update(measure_triggers(x, peer, prog, origin, args.taps, rng))
        r.update(measure_follow(x, peer, origin, args.follow, rng))
        r.update(measure_pad(peer, args.pad, rng))
        r.update(measure_flood(peer, prog, args.idle / 2))
        gone, peer = measure_loss(args, servers, x, prog, origin, peer)
        r.update(gone)
        x.move(origin[0] + POINTER_SPOT[0], origin[1] + POINTER_SPOT[1])
        x.tap("q")
        status = prog.wait_exit(5)
        if status != 0:
            raise Failure("zu exited with status %d" % status)
        return r
    finally:
        if prog:
            stop_process(prog.p)
        peer.close()


def call_costs(args, servers, x, tmp):
    """Idle runs with the call-cost library preloaded: {label: [report lines]}."""
    found = {}
    for label, path, title in (("baseline", args.baseline, "zu-baseline"), ("zu", args.zu, "zu")):
        env = servers.client_env()
        peer = Peer(args.peer, env)
        prog = Program("costs-" + label, path, os.path.dirname(path),
                       dict(env, LD_PRELOAD=args.call_costs), tmp)
        try:
            prog.first_frame()
            time.sleep(args.idle)
            origin = find_window(env, title)
            x.focus_follows_pointer()
            # A move within the window paints a frame, which an idle zu would not.
            x.move(origin[0] + POINTER_SPOT[0] + 5, origin[1] + POINTER_SPOT[1] + 5)
            x.move(origin[0] + POINTER_SPOT[0], origin[1] + POINTER_SPOT[1])
            time.sleep(0.1)
            x.tap("q")
            if prog.wait_exit(5) != 0:
                raise Failure("%s with the call-cost library did not exit cleanly" % label)
            found[label] = [l[len("callcost: "):] for l in prog.output().splitlines()
                            if l.startswith("callcost: ")]
            if not found[label]:
                raise Failure("the call-cost library reported nothing for " + label)
        finally:
            stop_process(prog.p)
            if peer:
                peer.close()
    return found


# --- report -------------------------------------------------------------------


def spread(values, fmt):
    if not values:
        return "-"
    vals = [fmt % v for v in (min(values), statistics.median(values), max(values))]
    return " / ".join(vals)


def report(args, base, zu, load_before, load_after, costs):
    def col(runs, key):
        return [r[key] for r in runs]

    def ratio(key):
        return [z[key] / b[key] if b[key] > 0 else float("inf") for z, b in zip(zu, base)]
    cpu_ratio = ratio("cpu_pct")
    rss_diff = [z["rss_mb"] - b["rss_mb"] for z, b in zip(zu, base)]
    own_diff = [(z["rss_mb"] - z["shmem_mb"]) - (b["rss_mb"] - b["shmem_mb"])
                for z, b in zip(zu, base)]
    worst_work = max(col(zu, "work_max_ms"))

    def threads(runs):
        return " / ".join("%.2f" % statistics.median(col(runs, "cpu_%s_pct" % k))
                          for k in ("main", "gl", "other"))

    def verdict(ok):
        return "met" if ok else "**missed**"

    rows = [
        ("frame work, median (ms)", spread(col(base, "work_median_ms"), "%.2f"),
         spread(col(zu, "work_median_ms"), "%.2f"), "<= 2",
         verdict(max(col(zu, "work_median_ms")) <= 2)),
        ("frame work, 99th percentile (ms)", spread(col(base, "work_p99_ms"), "%.2f"),
         spread(col(zu, "work_p99_ms"), "%.2f"), "<= 5",
         verdict(max(col(zu, "work_p99_ms")) <= 5)),
        ("frames per second while idle (counted, painted or not)", spread(col(base, "fps"), "%.1f"),
         spread(col(zu, "fps"), "%.1f"), "about 16", verdict(min(col(zu, "fps")) >= 14)),
        ("- of them painted, per second", spread(col(base, "painted_fps"), "%.1f"),
         spread(col(zu, "painted_fps"), "%.1f"), "", ""),
        ("idle CPU, %% of one core over %g s" % args.idle, spread(col(base, "cpu_pct"), "%.2f"),
         spread(col(zu, "cpu_pct"), "%.2f"), "", ""),
        ("idle CPU, zu / baseline", "", spread(cpu_ratio, "%.2fx"), "<= 1.5x",
         verdict(max(cpu_ratio) <= 1.5)),
        ("- the same from the threads' run time (schedstat, ns), %",
         spread(col(base, "cpu_run_pct"), "%.2f"), spread(col(zu, "cpu_run_pct"), "%.2f"), "", ""),
        ("- its zu / baseline", "", spread(ratio("cpu_run_pct"), "%.2fx"), "", ""),
        ("- main thread / Mesa's rasteriser threads / others, medians (%)",
         threads(base), threads(zu), "", ""),
        ("CPU in follow mode with 1,000 Control Changes a second, % of one core", "",
         spread(col(zu, "flood_cpu_pct"), "%.1f"), "< 15",
         verdict(max(col(zu, "flood_cpu_pct")) < 15)),
        ("CPU with the JACK server gone, after 3000 presses of r, % of one core", "",
         spread(col(zu, "gone_cpu_pct"), "%.2f"), "near idle",
         verdict(max(col(zu, "gone_cpu_pct")) <= 2 * max(max(col(zu, "cpu_pct")), 1))),
        ("the JACK server back: until r reaches a new peer (ms)", "",
         spread(col(zu, "reconnect_ms"), "%.0f"), "<= 2000",
         verdict(max(col(zu, "reconnect_ms")) <= 2000)),
        ("resident memory (MB)", spread(col(base, "rss_mb"), "%.1f"),
         spread(col(zu, "rss_mb"), "%.1f"), "", ""),
        ("resident memory, zu - baseline (MB)", "", spread(rss_diff, "%.1f"), "<= 15",
         verdict(max(rss_diff) <= 15)),
        ("- of it shared memory (RssShmem, MB)", spread(col(base, "shmem_mb"), "%.1f"),
         spread(col(zu, "shmem_mb"), "%.1f"), "", ""),
        ("- zu - baseline without shared memory (MB)", "", spread(own_diff, "%.1f"), "", ""),
        ("exec to first frame (ms)", spread(col(base, "startup_ms"), "%.0f"),
         spread(col(zu, "startup_ms"), "%.0f"), "<= 300",
         verdict(max(col(zu, "startup_ms")) <= 300)),
        ("trigger latency, median of %d presses (ms)" % args.taps, "",
         spread(col(zu, "trig_median_ms"), "%.1f"), "", ""),
        ("trigger latency, max (ms)", "", spread(col(zu, "trig_max_ms"), "%.1f"),
         "<= 60 + frame work + %.1f" % JACK_PERIOD_MS,
         verdict(sum(col(zu, "trig_over_bound")) == 0)),
        ("trigger latency, median ; max (ms)", "",
         "%s ; %s" % (spread(col(zu, "trig_median_ms"), "%.1f"),
                      spread(col(zu, "trig_max_ms"), "%.1f")), "<= 8 ; <= 20",
         verdict(max(col(zu, "trig_median_ms")) <= 8 and max(col(zu, "trig_max_ms")) <= 20)),
        ("- from the press until zu took the key, median / max (ms)", "",
         "%s ; %s" % (spread(col(zu, "trig_wait_median_ms"), "%.1f"),
                      spread(col(zu, "trig_wait_max_ms"), "%.1f")), "", ""),
        ("- from taking it to the message arriving (zu + JACK), median / max (ms)", "",
         "%s ; %s" % (spread(col(zu, "trig_handle_median_ms"), "%.2f"),
                      spread(col(zu, "trig_handle_max_ms"), "%.2f")), "", ""),
        ("- work of the frame that handled the press, median / max (ms)", "",
         "%s ; %s" % (spread(col(zu, "trig_work_median_ms"), "%.2f"),
                      spread(col(zu, "trig_work_max_ms"), "%.2f")), "", ""),
        ("follow latency, median of %d (ms)" % args.follow, "",
         spread(col(zu, "follow_median_ms"), "%.1f"), "", ""),
        ("follow latency, max (ms)", "", spread(col(zu, "follow_max_ms"), "%.1f"), "", ""),
        ("pad latency (the press), median of %d ; max (ms)" % args.pad, "",
         "%s ; %s" % (spread(col(zu, "pad_median_ms"), "%.1f"),
                      spread(col(zu, "pad_max_ms"), "%.1f")), "<= 16 ; <= 30",
         verdict(max(col(zu, "pad_median_ms")) <= 16 and max(col(zu, "pad_max_ms")) <= 30)),
        ("pad: the re-press after its 0, median ; max (ms)", "",
         "%s ; %s" % (spread(col(zu, "repress_median_ms"), "%.1f"),
                      spread(col(zu, "repress_max_ms"), "%.1f")), "", ""),
    ]
    head = ["figure", "baseline (min / median / max)", "zu (min / median / max)", "target",
            "result"]
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    lines += ["| " + " | ".join(r) + " |" for r in rows]
    cpu = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(l.split(":", 1)[1].strip() for l in f if l.startswith("model name"))
    except (OSError, StopIteration):
        pass
    text = [
        "# zu benchmark",
        "",
        "%s; zu: %s; %d runs; %g s idle; %d presses of r; %d follow samples; %d pad taps; "
        "%s, %d cores, %s; load average %s before, %s after." % (
            time.strftime("%Y-%m-%d %H:%M"), args.zu, len(zu), args.idle, args.taps, args.follow,
            args.pad,
            platform.system(), os.cpu_count(), cpu, load_before, load_after),
        "",
    ] + lines + [
        "",
        "Frame work is the time from the top of a frame to the end of its follow step and "
        "present (if it painted), over the idle window. The trigger latency bound of each press is "
        "60 ms plus the work of the frame it waited behind and of the frame that handled "
        "it plus one JACK period (%.2f ms); %d of %d presses went over it. The longest "
        "single frame work seen in zu was %.2f ms." % (
            JACK_PERIOD_MS, sum(col(zu, "trig_over_bound")),
            args.taps * len(zu) - sum(col(zu, "trig_lost")), worst_work),
        "",
        "Messages that never arrived (the private JACK server runs without real-time "
        "scheduling and may drop a cycle when the machine is busy): %d of %d presses, "
        "%d controller messages to follow, %d pad messages." % (
            sum(col(zu, "trig_lost")), args.taps * len(zu), sum(col(zu, "follow_lost")),
            sum(col(zu, "pad_lost"))),
        "",
    ]
    zu_map, base_map = MAPPINGS.get("zu", {}), MAPPINGS.get("baseline", {})
    names = set(zu_map) | set(base_map)
    diffs = sorted(((zu_map.get(k, 0) - base_map.get(k, 0), k) for k in names), reverse=True)
    text += ["Where zu's resident memory exceeds the baseline's, by mapping (last run, MB):", "",
             "```"] + ["%8.1f  %s" % (d / 1024, k) for d, k in diffs if abs(d) >= 256] + ["```", ""]
    for label, lines in costs.items():
        text += ["Main-thread CPU inside each SDL call while idle, per frame (%s):" % label, "",
                 "```"] + lines + ["```", ""]
    return "\n".join(text)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--zu", required=True)
    ap.add_argument("--baseline", required=True)
    ap.add_argument("--peer", required=True)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--idle", type=float, default=10.0, help="seconds of idle measurement")
    ap.add_argument("--settle", type=float, default=0.5,
                    help="seconds between the first frame and the idle measurement")
    ap.add_argument("--taps", type=int, default=50)
    ap.add_argument("--follow", type=int, default=10)
    ap.add_argument("--pad", type=int, default=20, help="pad taps (each a press and a release)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--out", help="markdown file for the results")
    ap.add_argument("--call-costs", metavar="LIB",
                    help="also break the idle frame down by SDL call with this preload library")
    ap.add_argument("--keep", action="store_true", help="keep the logs")
    args = ap.parse_args()
    for tool in ("Xvfb", "jackd", "jack_lsp", "xdotool"):
        if not shutil.which(tool):
            print("bench: %s is missing (scripts/install-deps.sh test installs it)" % tool)
            return 2
    args.zu, args.baseline, args.peer = map(os.path.abspath, (args.zu, args.baseline, args.peer))
    if args.call_costs:
        args.call_costs = os.path.abspath(args.call_costs)
    needed = [args.zu, args.baseline, args.peer] + ([args.call_costs] if args.call_costs else [])
    for path in needed:
        if not os.path.exists(path):
            print("bench: %s is not built" % path)
            return 2

    def on_signal(sig, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, on_signal)

    rng = random.Random(args.seed)
    tmp = tempfile.mkdtemp(prefix="zu-bench-")
    servers = Servers(tmp)
    x = None
    base, zu = [], []
    status = 0
    try:
        with open("/proc/loadavg") as f:
            load_before = " ".join(f.read().split()[:3])
        servers.start_x()
        servers.start_jack()
        x = XDisplay(servers.display)
        for run in range(1, args.runs + 1):
            base.append(run_baseline(args, servers, x, tmp, run))
            zu.append(run_zu(args, servers, x, tmp, run, rng))
            print("run %d: baseline %s" % (run, fmt_run(base[-1])), flush=True)
            print("run %d: zu %s" % (run, fmt_run(zu[-1])), flush=True)
        with open("/proc/loadavg") as f:
            load_after = " ".join(f.read().split()[:3])
        costs = call_costs(args, servers, x, tmp) if args.call_costs else {}
        text = report(args, base, zu, load_before, load_after, costs)
        print(text)
        if args.out:
            os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
            with open(args.out, "w") as f:
                f.write(text)
            print("written to %s" % args.out)
    except Failure as e:
        print("bench: FAILED: %s (logs in %s)" % (e, tmp))
        args.keep = True
        status = 1
    except KeyboardInterrupt:
        print("bench: interrupted")
        status = 1
    finally:
        if x:
            x.close()
        servers.stop()
        if not args.keep:
            shutil.rmtree(tmp, ignore_errors=True)
    return status


def fmt_run(r):
    return " ".join("%s=%.2f" % (k, v) for k, v in sorted(r.items()))


if __name__ == "__main__":
    sys.exit(main())
