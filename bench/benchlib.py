"""Shared pieces of the soak, the fault drills and the steady-state run.

Everything runs on this machine only: the monitor's window (through the
soak_monitor helper or the real taralbus), the controller simulator on a
pseudo-terminal, and TCP clients on the loopback address.
"""

import atexit
import fcntl
import os
import platform
import queue
import re
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import termios
import threading
import time
import tty

CLK_TCK = os.sysconf("SC_CLK_TCK")

# Every process started here, so none outlives the script (atexit below).
_started = []


def _end_started():
    for proc in _started:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


atexit.register(_end_started)
PAGE_KB = os.sysconf("SC_PAGE_SIZE") // 1024


def now():
    return time.monotonic()


class Build:
    """Where the programs are: <build>/app/taralbus, <build>/tools/taralbus-sim,
    <build>/bench/soak_monitor."""

    def __init__(self, build_dir):
        self.dir = os.path.abspath(build_dir)
        self.taralbus = os.path.join(self.dir, "app", "taralbus")
        self.sim = os.path.join(self.dir, "tools", "taralbus-sim")
        self.helper = os.path.join(self.dir, "bench", "soak_monitor")
        for path in (self.taralbus, self.sim, self.helper):
            if not os.access(path, os.X_OK):
                raise SystemExit(f"missing {path}: build first (scripts/build.sh)")


def machine():
    model = ""
    try:
        out = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
        for line in out.splitlines():
            if line.startswith("Model name:"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    mem_kb = 0
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                mem_kb = int(line.split()[1])
    return {
        "nproc": os.cpu_count(),
        "cpu": model,
        "memory_gib": round(mem_kb / 1024 / 1024, 1),
        "kernel": platform.release(),
    }


# --- the process's own figures -------------------------------------------


def cpu_seconds(pid):
    """User plus system CPU time of a process, in seconds."""
    with open(f"/proc/{pid}/stat") as f:
        data = f.read()
    fields = data[data.rindex(")") + 2:].split()
    # fields[0] is the state (field 3); utime and stime are fields 14 and 15.
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def fd_count(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# --- the monitor -----------------------------------------------------------


def write_ini(path, values):
    """values: {"Section/Key": "text"}; written as the monitor's INI file."""
    sections = {}
    for key, value in values.items():
        section, name = key.split("/", 1)
        sections.setdefault(section, []).append((name, value))
    with open(path, "w", encoding="latin-1") as f:
        for section, items in sections.items():
            f.write(f"[{section}]\n")
            for name, value in items:
                f.write(f"{name}={value}\n")
            f.write("\n")


def default_ini(port_path, server_port, interval="0", active=True):
    return {
        "System/COMPort": port_path,
        "View/Plot": "true",
        "View/Log": "true",
        "Server/Activ": "true" if active else "false",
        "Server/IP": "127.0.0.1",
        "Server/Port": str(server_port),
        "Server/Interval": interval,
        "Window/PosX": "0",
        "Window/PosY": "0",
        "Window/Width": "700",
        "Window/Height": "400",
    }


def parse_fields(text):
    """'a=1 b=x' -> {'a': '1', 'b': 'x'} (values without blanks)."""
    return dict(m.groups() for m in re.finditer(r'(\w+)=("[^"]*"|\S*)', text))


class Monitor:
    """The soak_monitor helper (the real MainWindow) in a directory of its own.

    Lines it prints are collected with their arrival time; commands go to its
    standard input."""

    def __init__(self, build, workdir, args, ini=None, env=None, user=None, copy=True):
        self.dir = workdir
        self.exe = os.path.join(workdir, "soak_monitor")
        if copy:
            os.makedirs(workdir, exist_ok=True)
            shutil.copy2(build.helper, self.exe)
        if ini is not None:
            if isinstance(ini, dict):
                write_ini(os.path.join(workdir, "taralbus.ini"), ini)
            else:
                with open(os.path.join(workdir, "taralbus.ini"), "wb") as f:
                    f.write(ini)
        self.lines = queue.Queue()
        self.history = []
        self.lock = threading.Lock()
        full_env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        full_env.setdefault("XDG_RUNTIME_DIR", tempfile.gettempdir())
        if env:
            full_env.update(env)
        cmd = [self.exe] + list(args)
        if user:
            cmd = ["setpriv", f"--reuid={user}", f"--regid={user_group(user)}", "--clear-groups", "--"] + cmd
        self.stderr_path = os.path.join(tempfile.gettempdir(), f"soak_monitor.{os.getpid()}.{id(self)}.err")
        self.stderr_file = open(self.stderr_path, "w+")
        self.started = now()
        self.proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=self.stderr_file, env=full_env, cwd="/",
                                     text=True, bufsize=1)
        _started.append(self.proc)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.ready = self.wait_for("ready", 30)
        self.pid = int(self.ready["pid"])

    def _read(self):
        for line in self.proc.stdout:
            line = line.rstrip("\n")
            item = (now(), line)
            with self.lock:
                self.history.append(item)
            self.lines.put(item)
        self.lines.put((now(), None))

    def alive(self):
        return self.proc.poll() is None

    def wait_for(self, prefix, timeout, after=None):
        """The next line starting with prefix (and, with after, printed after
        that monotonic time): its fields, with '_at' the arrival time."""
        deadline = now() + timeout
        while True:
            left = deadline - now()
            if left <= 0:
                raise TimeoutError(f"no '{prefix}' line within {timeout} s")
            try:
                at, line = self.lines.get(timeout=left)
            except queue.Empty:
                continue
            if line is None:
                raise RuntimeError(f"monitor ended (rc={self.proc.wait()}) before '{prefix}'; "
                                   f"stderr: {self.stderr_tail()}")
            if line.startswith(prefix + " ") and (after is None or at >= after):
                fields = parse_fields(line[len(prefix) + 1:])
                fields["_at"] = at
                fields["_line"] = line
                return fields

    def events(self, prefix, since=0.0):
        with self.lock:
            return [(at, line) for at, line in self.history if line.startswith(prefix + " ") and at >= since]

    def command(self, text):
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()

    def stats(self, timeout=30):
        sent = now()
        self.command("stats")
        fields = self.wait_for("stats", timeout, after=sent)
        fields["_latency"] = fields["_at"] - sent
        return fields

    def panel(self, timeout=30):
        sent = now()
        self.command("panel")
        return self.wait_for("panel", timeout, after=sent)

    def cpu(self):
        return cpu_seconds(self.pid)

    def rss(self):
        return rss_kb(self.pid)

    def quit(self, timeout=30):
        """Quits through the window (settings written); returns the final stats."""
        final = None
        if self.alive():
            try:
                self.command("quit")
                final = self.wait_for("stats", timeout)
            except (BrokenPipeError, RuntimeError, TimeoutError):
                pass
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.stderr_file.close()
        return final

    def stderr_tail(self, n=400):
        try:
            with open(self.stderr_path) as f:
                return f.read()[-n:]
        except OSError:
            return ""


def user_group(user):
    import grp
    import pwd
    return grp.getgrgid(pwd.getpwnam(user).pw_gid).gr_name


def counters(stats):
    return {k: int(v) for k, v in stats.items() if k.endswith("_good") or k.endswith("_bad")}


# --- the simulator ---------------------------------------------------------

KINDS = {"FC3E": "fc3e", "FC1F": "fc1f", "2302": "2302", "FD05": "fd05"}


def parse_sim_report(text):
    report = {}
    for line in text.splitlines():
        m = re.match(r"sent (\w+) good=(\d+) bad=(\d+)", line)
        if m:
            key = KINDS.get(m.group(1), m.group(1).lower())
            report[f"{key}_good"] = int(m.group(2))
            report[f"{key}_bad"] = int(m.group(3))
            continue
        m = re.match(r"(\w[\w-]*)=(\d+)$", line.strip())
        if m:
            report[m.group(1)] = int(m.group(2))
    return report


class Sim:
    """taralbus-sim, either on its own pty at --link or writing into a given fd."""

    def __init__(self, build, args, link=None, stdout_fd=None, user=None):
        cmd = [build.sim] + list(args)
        if link:
            cmd += ["--link", link]
        else:
            cmd += ["--stdout"]
        if user:
            cmd = ["setpriv", f"--reuid={user}", f"--regid={user_group(user)}", "--clear-groups", "--"] + cmd
        self.err = tempfile.TemporaryFile(mode="w+")
        self.started = now()
        self.proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL,
                                     stdout=stdout_fd if stdout_fd is not None else subprocess.PIPE,
                                     stderr=self.err)
        _started.append(self.proc)
        self.link = link
        if link:
            # Waits for "device:" and "link:" so the link exists.
            self.device = self.proc.stdout.readline().decode().split(":", 1)[1].strip()
            self.proc.stdout.readline()

    def stop(self, sig=signal.SIGTERM, timeout=30):
        """Ends the simulator; returns its report (empty after SIGKILL)."""
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.err.seek(0)
        text = self.err.read()
        self.err.close()
        if self.proc.stdout:
            self.proc.stdout.close()
        return parse_sim_report(text)


class PtyPair:
    """A pseudo-terminal made here: the simulator writes to the master, the
    monitor opens the slave through a symlink. The slave is also held open
    here, so its input queue can be watched and no hang-up reaches the
    monitor when the simulator ends."""

    def __init__(self, link):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.path = os.ttyname(self.slave)
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(self.path, link)
        self.link = link

    def unread(self):
        buf = fcntl.ioctl(self.slave, termios.FIONREAD, struct.pack("i", 0))
        return struct.unpack("i", buf)[0]

    def close(self):
        os.close(self.master)
        os.close(self.slave)
        if os.path.lexists(self.link):
            os.unlink(self.link)


# --- TCP clients -----------------------------------------------------------


LINE = re.compile(rb"TSA:.*?;ErrorCode:\d+;", re.S)


class LineReader:
    """A forwarding client that reads everything: value lines are split at
    "TSA:" (they have no line end), each kept with its arrival time."""

    def __init__(self, port, host="127.0.0.1", rcvbuf=None, connect_timeout=10):
        self.sock = socket.socket()
        if rcvbuf:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        deadline = now() + connect_timeout
        while True:
            try:
                self.sock.connect((host, port))
                break
            except ConnectionRefusedError:
                if now() > deadline:
                    raise
                time.sleep(0.05)
                self.sock.close()
                self.sock = socket.socket()
        self.lines = []
        self.times = []
        self.bytes = 0
        self.garbage = 0
        self.closed_at = None
        self.error = None
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        buf = b""
        try:
            while True:
                data = self.sock.recv(65536)
                if not data:
                    break
                t = now()
                self.bytes += len(data)
                buf += data
                with self.lock:
                    while True:
                        m = LINE.match(buf)
                        if not m:
                            break
                        self.lines.append(m.group(0))
                        self.times.append(t)
                        buf = buf[m.end():]
                    if buf and not b"TSA:".startswith(buf[:4]):
                        self.garbage += 1
        except OSError as e:
            self.error = e
        self.closed_at = now()

    def count(self):
        with self.lock:
            return len(self.lines)

    def first_after(self, t):
        with self.lock:
            for at in self.times:
                if at >= t:
                    return at
        return None

    def send(self, data):
        self.sock.sendall(data)

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()
        self.thread.join(5)


def wait_until(predicate, timeout, step=0.05):
    deadline = now() + timeout
    while now() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def wait_stable(get, settle=1.0, timeout=30):
    """Polls get() until it returns the same value for `settle` seconds."""
    deadline = now() + timeout
    last = get()
    since = now()
    while now() < deadline:
        time.sleep(0.2)
        value = get()
        if value != last:
            last = value
            since = now()
        elif now() - since >= settle:
            return value
    return last


def fmt_kb(kb):
    return f"{kb / 1024:.1f} MiB"
