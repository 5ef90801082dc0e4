#!/usr/bin/env python3
"""The download benchmark, run by bench/run inside a private network namespace
in which only loopback is up (it refuses to run anywhere else).

For each case (payload size, number of aria2c seeders) it runs RUNS pairs of
downloads, Corvane and aria2c in alternating order, and measures for each:

- data complete: seconds from the .torrent being in the downloader's hands
  (aria2c: its start; Corvane: the folder picker answered) until every file
  is at full size with all its blocks on disk, then checked byte for byte
  against the source. The files are polled every few milliseconds from
  outside; the moment stamped is the poll that saw them whole, and only a
  byte-for-byte check that passes counts it;
- first data: seconds until the first block reached a file (the wait for a
  tracker reply and the seeder's answer, before any transfer);
- process: wall seconds from start to exit, user + system CPU seconds and
  peak RSS of the downloader's own process (GNU time).

An aria2c seeder answers new connections only on a one-second beat. Before
each run the beat of the first seeder is learned with a handshake of our own,
and the run starts at a set phase of it: the same for both runs of a round,
spread evenly over the beat from round to round, so that each pair compares
like with like and the rounds together show what the beat does.

Corvane runs as shipped: the real executable under Xvfb with openbox,
fetching its configuration text and the .torrent from demo/server.py; the
folder picker is answered with xdotool as a user would type it, and the
window's Close button is clicked once the data is complete and checked.

    bench.py ROOT BUILD CACHE WORK RUNS RUNS_4G CASES
"""
import hashlib
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

HTTP_PORT = 8047
TRACKER_IP = "10.77.0.1"
SEEDER_IPS = ["10.77.0.2", "10.77.0.3", "10.77.0.4", "10.77.0.5"]
PICKER_TITLE = "Select the directory you would like to save the file to"
CLOSE_BUTTON = (594, 14)  # centre of the window's Close button, in the window
GIB = 1 << 30

procs = []  # helpers started here, stopped at the end


def log(msg):
    print("bench: " + msg, file=sys.stderr, flush=True)


def start(cmd, logfile, **kw):
    p = subprocess.Popen(cmd, stdout=open(logfile, "ab"), stderr=subprocess.STDOUT, **kw)
    procs.append(p)
    return p


def stop(p, grace=5.0):
    if p.poll() is None:
        p.terminate()
        try:
            p.wait(grace)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
    if p in procs:
        procs.remove(p)


def wait_until(pred, timeout, step=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if pred():
            return True
        time.sleep(step)
    return pred()


def port_open(ip, port):
    try:
        with socket.create_connection((ip, port), timeout=0.5):
            return True
    except OSError:
        return False


def private_network():
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    out = subprocess.run(["ip", "-o", "link", "show", "up"], capture_output=True, text=True, check=True).stdout
    others = [l.split(": ")[1] for l in out.splitlines() if l.split(": ")[1] != "lo"]
    if others:
        sys.exit("bench: not in a private network namespace (up: %s)" % ", ".join(others))
    for ip in [TRACKER_IP] + SEEDER_IPS:
        subprocess.run(["ip", "addr", "add", ip + "/32", "dev", "lo"], check=True)


# ---------------------------------------------------------------- limits

def machine_limits(work, source_files):
    """SHA-1 per core, a 1 GiB copy with fsync, loopback TCP: what the machine
    allows at most, measured in this run."""
    res = {}
    buf = os.urandom(64 << 20)
    h = hashlib.sha1()
    t = time.perf_counter()
    for _ in range(8):
        h.update(buf)
    res["sha1_gbs"] = 8 * len(buf) / (time.perf_counter() - t) / 1e9

    # Copy 1 GiB of the (cached) payload into one file next to the downloads.
    dst = os.path.join(work, "copy-test")
    left = GIB
    t = time.perf_counter()
    fd = os.open(dst, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    for src in source_files:
        with open(src, "rb") as f:
            while left > 0:
                chunk = f.read(min(4 << 20, left))
                if not chunk:
                    break
                os.write(fd, chunk)
                left -= len(chunk)
    os.fsync(fd)
    os.close(fd)
    res["copy_fsync_s"] = (time.perf_counter() - t) * GIB / (GIB - left)
    os.unlink(dst)

    # 1 GiB through one loopback TCP connection.
    srv = socket.socket()
    srv.bind(("127.0.0.1", 0))
    srv.listen(1)
    port = srv.getsockname()[1]
    got = [0]

    def receive():
        c, _ = srv.accept()
        mv = memoryview(bytearray(4 << 20))
        while True:
            n = c.recv_into(mv)
            if not n:
                break
            got[0] += n
        c.close()

    th = threading.Thread(target=receive)
    th.start()
    s = socket.create_connection(("127.0.0.1", port))
    data = memoryview(buf)[: 4 << 20]
    t = time.perf_counter()
    for _ in range(GIB // len(data)):
        s.sendall(data)
    s.close()
    th.join()
    res["tcp_s_per_gib"] = (time.perf_counter() - t) * GIB / got[0]
    srv.close()
    del buf, data
    return res


# ---------------------------------------------------------------- display

class Display:
    def __init__(self, work):
        n = 500 + os.getpid() % 300
        while os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
            n += 1
        self.name = ":%d" % n
        self.env = dict(os.environ, DISPLAY=self.name)
        self.xvfb = start(["Xvfb", self.name, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                          os.path.join(work, "xvfb.log"))
        if not wait_until(lambda: "1024 768" in self.xdo("getdisplaygeometry"), 15):
            sys.exit("bench: Xvfb did not start")
        self.wm = start(["openbox"], os.path.join(work, "openbox.log"), env=self.env)
        if not wait_until(lambda: self.xdo("get_num_desktops").strip().isdigit(), 15):
            sys.exit("bench: openbox did not start")

    def xdo(self, *args):
        r = subprocess.run(["xdotool"] + list(args), env=self.env, capture_output=True, text=True)
        return r.stdout

    def find(self, title_regex):
        out = self.xdo("search", "--onlyvisible", "--name", title_regex).split()
        return out[0] if out else ""

    def origin(self, window):
        out = self.xdo("getwindowgeometry", "--shell", window)
        vals = dict(l.split("=", 1) for l in out.splitlines() if "=" in l)
        return int(vals.get("X", -1)), int(vals.get("Y", -1))


# ---------------------------------------------------------------- payload

class Payload:
    def __init__(self, cache, torrent):
        self.cache = cache
        self.torrent = os.path.join(cache, torrent)
        self.torrent_name = torrent
        self.data = os.path.join(cache, "data")
        (self.top,) = os.listdir(self.data)
        self.files = []  # (relative path, size)
        for d, _, names in os.walk(os.path.join(self.data, self.top)):
            for n in sorted(names):
                full = os.path.join(d, n)
                self.files.append((os.path.relpath(full, self.data), os.path.getsize(full)))
        self.bytes = sum(s for _, s in self.files)
        with open(os.path.join(cache, "infohash")) as f:
            self.infohash = f.read().strip()


class Watcher:
    """Polls a download folder for the payload's files and checks them byte
    for byte once they look whole; 1 MiB chunks found equal are not read again."""
    CHUNK = 1 << 20

    def __init__(self, payload, dest):
        self.p = payload
        self.dest = dest
        self.verified = set()
        self.first_data = None

    def look(self):
        """True when every file has its full size and all its blocks."""
        whole = True
        for rel, size in self.p.files:
            try:
                st = os.stat(os.path.join(self.dest, rel))
            except FileNotFoundError:
                whole = False
                continue
            if st.st_blocks and self.first_data is None:
                self.first_data = time.monotonic()
            if st.st_size != size or st.st_blocks * 512 < size - size % 4096:
                whole = False
        return whole

    def check(self):
        for rel, size in self.p.files:
            try:
                with open(os.path.join(self.p.data, rel), "rb") as a, open(os.path.join(self.dest, rel), "rb") as b:
                    for i in range((size + self.CHUNK - 1) // self.CHUNK):
                        if (rel, i) in self.verified:
                            continue
                        a.seek(i * self.CHUNK)
                        b.seek(i * self.CHUNK)
                        if a.read(self.CHUNK) != b.read(self.CHUNK):
                            return False
                        self.verified.add((rel, i))
            except FileNotFoundError:
                return False
        return True


# ---------------------------------------------------------------- the beat

def learn_beat(ip, port, infohash):
    """The phase (seconds into the monotonic clock's second) at which an
    aria2c seeder answers new connections: it answers a handshake only on a
    one-second beat, which swings a download's start by up to ~0.9 s."""
    with socket.create_connection((ip, port), timeout=5) as s:
        s.sendall(bytes([19]) + b"BitTorrent protocol" + bytes(8) + bytes.fromhex(infohash) +
                  b"-BE0000-" + os.urandom(12))
        got = b""
        while len(got) < 68:
            chunk = s.recv(68 - len(got))
            if not chunk:
                return None
            got += chunk
        return time.monotonic() % 1.0


def wait_for_phase(beat, phase):
    """Sleeps until `phase` seconds after the seeder's beat."""
    if beat is not None:
        time.sleep(((beat + phase) - time.monotonic()) % 1.0)


# ---------------------------------------------------------------- one run

class Run:
    """One downloader process: started, watched until its data is complete
    (or it exits, or time runs out), then ended."""

    def __init__(self, cmd, logfile, env=None, cwd=None):
        # GNU time measures the process: a child of this (larger) Python
        # process would count the parent's memory in its own peak RSS, as the
        # kernel carries the high-water mark across exec.
        self.timefile = logfile + ".time"
        self.t_start = time.monotonic()
        self.proc = subprocess.Popen(["/usr/bin/time", "-f", "%e %U %S %M", "-o", self.timefile] + cmd,
                                     stdout=open(logfile, "wb"), stderr=subprocess.STDOUT,
                                     env=env, cwd=cwd, start_new_session=True)
        self.rusage = None
        self.status = None
        self.t_exit = None

    def reap(self, block=False):
        if self.t_exit is not None:
            return True
        pid, status, _ = os.wait4(self.proc.pid, 0 if block else os.WNOHANG)
        if pid == 0:
            return False
        self.t_exit = time.monotonic()
        self.status = status
        self.proc.returncode = os.waitstatus_to_exitcode(status)
        try:
            with open(self.timefile) as f:
                _, user, sys_, rss = f.read().split()[-4:]
            self.rusage = (float(user), float(sys_), int(rss))
        except (OSError, ValueError):
            pass
        return True

    def kill(self):
        try:
            os.killpg(self.proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass

    def watch(self, watcher, t0, timeout):
        """Seconds from t0 to data complete, or None."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            exited = self.reap()
            t = time.monotonic()
            if watcher.look():
                if watcher.check():
                    return t - t0
                time.sleep(0.05)
            elif exited:
                return None
            else:
                time.sleep(0.005)
        return None

    def wait_exit(self, timeout):
        if not wait_until(self.reap, timeout, 0.01):
            self.kill()
            self.reap(block=True)
            return False
        return True


def run_aria2c(payload, dest, work, timeout, at_phase):
    cmd = ["aria2c", "--enable-dht=false", "--enable-dht6=false", "--bt-enable-lpd=false",
           "--enable-peer-exchange=false", "--seed-time=0", "--summary-interval=0",
           "--console-log-level=warn", "--file-allocation=none", "--disable-ipv6=true",
           "--listen-port=7000", "--dht-file-path=" + os.path.join(work, "aria2c-dht.dat"),
           "--dir=" + dest, payload.torrent]
    w = Watcher(payload, dest)
    at_phase()
    run = Run(cmd, dest + ".log")
    done = run.watch(w, run.t_start, timeout)
    ok = run.wait_exit(30) and run.proc.returncode == 0
    return result(run, w, run.t_start, done, ok)


def run_corvane(payload, dest, work, timeout, build, display, at_phase):
    rundir = os.path.join(work, "corvane-run")
    os.makedirs(rundir, mode=0o700, exist_ok=True)
    env = dict(display.env, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=rundir)
    w = Watcher(payload, dest)
    run = Run([os.path.join(build, "bin", "Corvane")], dest + ".log", env=env, cwd=rundir)
    info = {}
    picker = ""
    if wait_until(lambda: run.reap() or bool(display.find("^%s$" % PICKER_TITLE)), 30, 0.02):
        picker = display.find("^%s$" % PICKER_TITLE)
    if not picker:
        run.kill()
        run.reap(block=True)
        return result(run, w, run.t_start, None, False, note="no folder picker")
    info["picker_shown_s"] = time.monotonic() - run.t_start
    display.xdo("windowactivate", "--sync", picker)
    display.xdo("windowfocus", "--sync", picker)
    display.xdo("type", "--delay", "5", dest)
    at_phase()
    display.xdo("key", "Return")
    t0 = time.monotonic()  # the .torrent is in hand and the folder chosen
    info["picker_answered_s"] = t0 - run.t_start
    done = run.watch(w, t0, timeout)
    # Close, as a user would, once the data is complete and checked. Should
    # the engine not yet count the torrent as complete, the question that
    # follows is answered with its default (Yes).
    main = display.find("^Morlaine Corvane$")
    t_close = time.monotonic()
    if main:
        x, y = display.origin(main)
        display.xdo("mousemove", str(x + CLOSE_BUTTON[0]), str(y + CLOSE_BUTTON[1]), "click", "1")
    if not wait_until(run.reap, 3, 0.01):
        info["close_question"] = True
        display.xdo("key", "Return")
    ok = run.wait_exit(30) and run.proc.returncode == 0
    info["stop_s"] = run.t_exit - t_close
    return result(run, w, t0, done, ok, **info)


def corvane_idle(payload, work, build, display):
    """Corvane up to its folder picker, which is then cancelled: the cost of
    the window, the fetches and the picker without a download."""
    rundir = os.path.join(work, "corvane-run")
    os.makedirs(rundir, mode=0o700, exist_ok=True)
    env = dict(display.env, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=rundir)
    run = Run([os.path.join(build, "bin", "Corvane")], os.path.join(work, "corvane-idle.log"), env=env, cwd=rundir)
    picker = ""
    if wait_until(lambda: run.reap() or bool(display.find("^%s$" % PICKER_TITLE)), 30, 0.02):
        picker = display.find("^%s$" % PICKER_TITLE)
    if picker:
        display.xdo("windowactivate", "--sync", picker)
        display.xdo("key", "Escape")
    ok = run.wait_exit(30) and bool(picker)
    return dict(ok=ok, cpu_s=sum(run.rusage[:2]), rss_mib=run.rusage[2] / 1024) if ok and run.rusage else dict(ok=False)


def result(run, watcher, t0, done, ok, note="", **extra):
    r = dict(extra)
    r["ok"] = bool(ok and done is not None)
    if note:
        r["note"] = note
    r["data_s"] = done
    r["first_data_s"] = watcher.first_data - t0 if watcher.first_data else None
    r["wall_s"] = run.t_exit - run.t_start if run.t_exit else None
    if run.rusage:
        r["user_s"], r["sys_s"], rss = run.rusage
        r["cpu_s"] = r["user_s"] + r["sys_s"]
        r["rss_mib"] = rss / 1024
    return r


# ---------------------------------------------------------------- swarm

def start_seeder(payload, ip, port, work):
    p = start(["aria2c", "--interface=" + ip, "--enable-dht=false", "--enable-dht6=false",
               "--bt-enable-lpd=false", "--enable-peer-exchange=false", "--seed-ratio=0.0",
               "--check-integrity=true", "--listen-port=%d" % port, "--file-allocation=none",
               "--disable-ipv6=true", "--summary-interval=0", "--console-log-level=warn",
               "--dir=" + payload.data, "--dht-file-path=" + os.path.join(work, "dht-%s.dat" % ip),
               "--bt-max-peers=0", payload.torrent], os.path.join(work, "seeder-%s.log" % ip))
    return p


def start_server(payload, work):
    cfg = os.path.join(work, "dncgi-%s.txt" % payload.torrent_name)
    base = "http://127.0.0.1:%d/" % HTTP_PORT
    with open(cfg, "w") as f:
        f.write("7|%s|||%s%s" % (base, base, payload.torrent_name))  # no web seed
    p = start(["python3", os.path.join(ROOT, "demo", "server.py"), "--port", str(HTTP_PORT),
               "--config-file", cfg, "--torrent", payload.torrent, "--seed-dir", payload.data],
              os.path.join(work, "server.log"))
    if not wait_until(lambda: port_open("127.0.0.1", HTTP_PORT), 10):
        sys.exit("bench: the stand-in server did not start")
    return p


def run_case(case, payload, runs, work, build, display, timeout):
    seeders = []
    for i in range(case["seeders"]):
        seeders.append(start_seeder(payload, SEEDER_IPS[i], 6991 + i, work))
    log("%s: %d seeder(s) check their files ..." % (case["name"], case["seeders"]))
    for i, s in enumerate(seeders):
        if not wait_until(lambda: port_open(SEEDER_IPS[i], 6991 + i), 300, 0.1):
            sys.exit("bench: seeder %d did not start" % i)
    server = start_server(payload, work)
    rows = []
    for r in range(runs):
        order = ["corvane", "aria2c"] if r % 2 == 0 else ["aria2c", "corvane"]
        for tool in order:
            dest = os.path.join(work, "%s-%s-%d" % (case["name"], tool, r + 1))
            os.makedirs(dest)
            # Both runs of a round start at the same phase of the (first)
            # seeder's beat; the rounds spread evenly over the beat.
            phase = (r + 0.5) / runs
            at_phase = lambda: wait_for_phase(learn_beat(SEEDER_IPS[0], 6991, payload.infohash), phase)
            if tool == "corvane":
                res = run_corvane(payload, dest, work, timeout, build, display, at_phase)
            else:
                res = run_aria2c(payload, dest, work, timeout, at_phase)
            res.update(tool=tool, round=r + 1, case=case["name"], phase=phase)
            rows.append(res)
            log("%s round %d %-7s %s" % (case["name"], r + 1, tool, brief(res)))
            shutil.rmtree(dest, ignore_errors=True)
    stop(server)
    for s in seeders:
        stop(s)
    return rows


def brief(r):
    if not r["ok"]:
        return "FAILED %s" % r.get("note", "")
    return "data %.2fs (first data %.2fs) wall %.2fs cpu %.2fs rss %.1f MiB" % (
        r["data_s"], r["first_data_s"] or -1, r["wall_s"], r["cpu_s"], r["rss_mib"])


CASES = {
    "1g-1": dict(name="1g-1", payload="1g", seeders=1, title="1 GiB, one seeder"),
    "4g-1": dict(name="4g-1", payload="4g", seeders=1, title="4 GiB, one seeder"),
    "1g-4": dict(name="1g-4", payload="1g", seeders=4, title="1 GiB, four seeders"),
}
TORRENTS = {"1g": "bench.torrent", "4g": "bench4.torrent"}


def main():
    global ROOT
    ROOT, build, cache, work, runs, cases = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]), sys.argv[7].split()
    runs4 = int(sys.argv[6])
    private_network()
    payloads = {k: Payload(os.path.join(cache, k), TORRENTS[k]) for k in {CASES[c]["payload"] for c in cases}}
    tracker_dir = os.path.join(work, "tracker")
    os.makedirs(tracker_dir)
    with open(os.path.join(tracker_dir, "whitelist"), "w") as f:
        f.write("".join(p.infohash + "\n" for p in payloads.values()))
    try:
        # opentracker refuses to run as root, which the namespace makes us.
        start(["unshare", "--user", "opentracker", "-i", TRACKER_IP, "-p", "6969", "-P", "6969",
               "-d", tracker_dir, "-w", "whitelist"], os.path.join(work, "opentracker.log"))
        if not wait_until(lambda: port_open(TRACKER_IP, 6969), 10):
            sys.exit("bench: opentracker did not start")
        any_payload = next(iter(payloads.values()))
        limits = machine_limits(work, [os.path.join(any_payload.data, rel) for rel, _ in any_payload.files])
        log("limits: %s" % json.dumps({k: round(v, 2) for k, v in limits.items()}))
        display = Display(work)
        server = start_server(any_payload, work)
        idle = corvane_idle(any_payload, work, build, display)
        stop(server)
        log("Corvane without a download: %s" % json.dumps(idle))
        rows = []
        load = [os.getloadavg()[0]]
        for c in cases:
            p = payloads[CASES[c]["payload"]]
            rows += run_case(CASES[c], p, runs4 if CASES[c]["payload"] == "4g" else runs, work, build, display, timeout=300)
        load.append(os.getloadavg()[0])
        out = dict(limits=limits, idle=idle, load=load, cores=os.cpu_count(), runs=rows, cases=[dict(CASES[c], bytes=payloads[CASES[c]["payload"]].bytes,
                                                         files=len(payloads[CASES[c]["payload"]].files))
                                                    for c in cases])
        with open(os.path.join(work, "results.json"), "w") as f:
            json.dump(out, f, indent=1)
    finally:
        for p in reversed(list(procs)):
            stop(p)


if __name__ == "__main__":
    main()
