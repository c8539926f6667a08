"""Fault drills of the whole monitor: the bus adapter vanishing and coming
back, hostile and careless TCP clients, an unwritable program directory and
a settings file full of junk. Run through bench/drills.sh."""

import argparse
import json
import os
import random
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

import benchlib as B

SPEED = 50.0
SEED = 4242


class Run:
    """One monitor (the real window through soak_monitor) on a simulator at
    --link, with the forwarding server on a free loopback port."""

    def __init__(self, build, root, name, interval="0", speed=SPEED, sim_user=None, monitor_user=None,
                 monitor_args=(), ini=True):
        self.build = build
        self.dir = os.path.join(root, name)
        os.makedirs(self.dir)
        self.link = os.path.join(self.dir, "tty")
        self.port = B.free_port()
        self.speed = speed
        self.sim_user = sim_user
        self.sim = self.start_sim()
        ini_values = B.default_ini(self.link, self.port, interval) if ini else None
        self.monitor = B.Monitor(build, os.path.join(self.dir, "monitor"), ["--port", self.link, *monitor_args],
                                 ini=ini_values, user=monitor_user)

    def start_sim(self):
        return B.Sim(self.build, ["--speed", str(self.speed), "--faults", "--seed", str(SEED)],
                     link=self.link, user=self.sim_user)

    def settle(self, timeout=10):
        """Waits until the port is open and no retry is pending."""
        return B.wait_until(lambda: (lambda s: s["port_open"] == "1" and s["retry_armed"] == "0")(
            self.monitor.stats()), timeout, step=0.25)

    def good(self):
        return int(self.monitor.stats()["fc3e_good"])

    def close(self):
        final = self.monitor.quit()
        self.sim.stop()
        return final


def result(name, passed, figures, notes=""):
    return {"drill": name, "passed": bool(passed), "figures": figures, "notes": notes}


# --- 1. the simulator killed and restarted ten times -------------------------------


def drill_reopen(build, root):
    run = Run(build, root, "reopen")
    run.settle()
    reader = B.LineReader(run.port)
    B.wait_until(lambda: reader.count() > 0, 10)
    cycles = []
    # Gaps spread over two retry periods, two of them just past a retry
    # attempt (the slowest case: the next attempt is almost 3 s away).
    gaps = [0.5, 1.2, 2.0, 2.6, 3.1, 3.7, 4.4, 5.2, 6.1, 6.6]
    for i, gap in enumerate(gaps):
        sig = signal.SIGTERM if i % 2 == 0 else signal.SIGKILL
        cpu_before = run.monitor.cpu()
        killed = B.now()
        run.sim.stop(sig)
        time.sleep(max(0.0, killed + gap - B.now()))
        gap_cpu = run.monitor.cpu() - cpu_before
        gap_s = B.now() - killed
        restarted = B.now()
        run.sim = run.start_sim()
        B.wait_until(lambda: reader.first_after(restarted) is not None, 10, step=0.01)
        first_line = reader.first_after(restarted)
        opened = [float(B.parse_fields(line)["t"]) / 1000.0
                  for at, line in run.monitor.events("port", restarted) if line.endswith("open=1")]
        opened = [t for t in opened if t >= restarted]
        errors = [line for at, line in run.monitor.events("port-error", killed) if at < restarted]
        cycle = {
            "cycle": i + 1,
            "signal": "TERM" if sig == signal.SIGTERM else "KILL",
            "gap_s": round(gap_s, 2),
            "monitor_cpu_during_gap_s": round(gap_cpu, 3),
            "port_errors_during_gap": len(errors),
            "reopen_s": round(opened[0] - restarted, 3) if opened else None,
            "first_value_line_s": round(first_line - restarted, 3) if first_line else None,
        }
        cycles.append(cycle)
        print(f"  reopen cycle {i + 1}: SIG{cycle['signal']}, gap {cycle['gap_s']} s "
              f"(monitor CPU {cycle['monitor_cpu_during_gap_s']} s), port open after {cycle['reopen_s']} s, "
              f"first value line after {cycle['first_value_line_s']} s", flush=True)
        time.sleep(1.5)
    good_before_end = run.good()
    time.sleep(1)
    still_counting = run.good() > good_before_end
    reader.close()
    run.close()
    firsts = [c["first_value_line_s"] for c in cycles]
    passed = all(f is not None and f <= 3.5 for f in firsts) and still_counting
    gap_cpu = sum(c["monitor_cpu_during_gap_s"] for c in cycles)
    gap_time = sum(c["gap_s"] for c in cycles)
    figures = {
        "cycles": cycles,
        "first_value_line_max_s": max((f for f in firsts if f is not None), default=None),
        "first_value_line_missing": sum(1 for f in firsts if f is None),
        "reopen_max_s": max((c["reopen_s"] for c in cycles if c["reopen_s"] is not None), default=None),
        "monitor_cpu_during_gaps_s": round(gap_cpu, 3),
        "gaps_total_s": round(gap_time, 1),
        "monitor_cpu_share_during_gaps": round(gap_cpu / gap_time, 4),
        "counting_after_last_restart": still_counting,
    }
    return result("reopen", passed, figures, "goal: first value line within 3.5 s of every restart")


# --- 2. a client that connects and never reads ----------------------------


def kernel_send_queue(port):
    """Bytes queued in the kernel on the server side of connections to port."""
    out = subprocess.run(["ss", "-tnH", f"sport = :{port}"], capture_output=True, text=True).stdout
    return sum(int(line.split()[2]) for line in out.splitlines() if len(line.split()) > 2)


def drill_stalled_client(build, root, speed=400.0):
    # At --speed 400 the monitor sends about 40 kB of value lines a second,
    # so the queues fill within a minute; the drop comes after the same
    # number of bytes at any pace.
    run = Run(build, root, "stalled", speed=speed)
    run.settle()
    client = socket.socket()
    client.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    connected = B.now()
    client.connect(("127.0.0.1", run.port))
    run.monitor.wait_for("client", 10)
    good0 = run.good()
    latencies = []
    kernel_queued = 0
    dropped = None
    while B.now() - connected < 150:
        stats = run.monitor.stats()
        latencies.append(stats["_latency"])
        drops = [float(B.parse_fields(line)["t"]) / 1000.0
                 for _, line in run.monitor.events("client", connected) if line.endswith("connected=0")]
        if drops:
            dropped = drops[0]
            break
        kernel_queued = max(kernel_queued, kernel_send_queue(run.port))
        time.sleep(1.0)
    good_at_drop = run.good()
    time.sleep(2)
    good_after = run.good()
    # What the client finds when it finally reads: the queued lines, then the end.
    client.settimeout(2)
    received = 0
    ending = "still open"
    deadline = B.now() + 30
    try:
        while B.now() < deadline:
            data = client.recv(65536)
            if not data:
                ending = "closed (FIN after the queued bytes)"
                break
            received += len(data)
    except ConnectionResetError:
        ending = "reset"
    except socket.timeout:
        ending = "no more bytes, not closed"
    client.close()
    fresh = B.LineReader(run.port)
    served_again = B.wait_until(lambda: fresh.count() >= 3, 10)
    fresh.close()
    rss = run.monitor.rss()
    lines_per_s = (good_at_drop - good0) / (dropped - connected) if dropped else None
    run.close()
    figures = {
        "speed": speed,
        "seconds_to_drop": round(dropped - connected, 1) if dropped else None,
        "kernel_send_queue_max_bytes": kernel_queued,
        "bytes_the_client_found_queued": received,
        "connection_end_seen_by_client": ending,
        "data_frames_counted_while_stalled": good_at_drop - good0,
        "data_frames_counted_in_2s_after_drop": good_after - good_at_drop,
        "stats_latency_max_s": round(max(latencies), 3),
        "new_client_served_after_drop": served_again,
        "rss_kb_after": rss,
        "value_lines_per_s": round(lines_per_s, 1) if lines_per_s else None,
    }
    passed = (dropped is not None and good_at_drop > good0 and good_after > good_at_drop and served_again
              and max(latencies) < 1.0)
    return result("client never reads", passed, figures,
                  "the window keeps answering (stats latency) and counting; the client is dropped at the backlog bound")


# --- 3. a client flooding without line ends --------------------------------


def drill_flood(build, root, seconds=15.0):
    run = Run(build, root, "flood")
    run.settle()
    reader = B.LineReader(run.port)
    B.wait_until(lambda: reader.count() > 0, 10)
    time.sleep(1.0)
    rss_before = run.monitor.rss()
    good0 = run.good()
    lines0 = reader.count()
    sent = [0]
    stop = threading.Event()

    def flood():
        chunk = b"x" * 65536
        while not stop.is_set():
            try:
                sent[0] += reader.sock.send(chunk)
            except OSError:
                break

    flooder = threading.Thread(target=flood, daemon=True)
    started = B.now()
    flooder.start()
    rss_samples = []
    cpu0 = run.monitor.cpu()
    while B.now() - started < seconds:
        rss_samples.append(run.monitor.rss())
        time.sleep(0.5)
    stop.set()
    flooder.join(5)
    flood_s = B.now() - started
    flood_cpu = run.monitor.cpu() - cpu0
    good1 = run.good()
    lines1 = reader.count()
    # The overlong line ends at the next "\n"; the command after it counts.
    reader.send(b"\n!exit\n")
    closed = B.wait_until(lambda: reader.closed_at is not None, 10)
    rss_after = run.monitor.rss()
    reader.close()
    run.close()
    growth = max(rss_samples) - rss_before
    figures = {
        "flood_seconds": round(flood_s, 1),
        "bytes_flooded": sent[0],
        "flood_mib_per_s": round(sent[0] / flood_s / 2**20, 1),
        "rss_kb_before": rss_before,
        "rss_kb_max_during": max(rss_samples),
        "rss_kb_after": rss_after,
        "rss_growth_kb": growth,
        "monitor_cpu_share_during_flood": round(flood_cpu / flood_s, 3),
        "data_frames_counted_during_flood": good1 - good0,
        "value_lines_received_during_flood": lines1 - lines0,
        "exit_command_honoured_after_flood": closed,
    }
    passed = growth < 10 * 1024 and good1 > good0 and closed
    return result("flooding client", passed, figures, "bounded: RSS growth under 10 MiB whatever the flood's size")


# --- 4. a hundred connect/disconnect cycles --------------------------------


def drill_cycles(build, root, n=100):
    run = Run(build, root, "cycles")
    run.settle()
    time.sleep(0.5)
    fds_before = B.fd_count(run.monitor.pid)
    rss_before = run.monitor.rss()
    t0 = B.now()
    kinds = {"close at once": 0, "read a line, close": 0, "!exit": 0, "reset": 0}
    got_line = 0
    exit_honoured = 0
    for i in range(n):
        s = socket.socket()
        s.connect(("127.0.0.1", run.port))
        mode = i % 4
        if mode == 0:
            kinds["close at once"] += 1
            s.close()
        elif mode == 1:
            kinds["read a line, close"] += 1
            s.settimeout(3)
            data = b""
            try:
                while not B.LINE.search(data):
                    chunk = s.recv(4096)
                    if not chunk:
                        break
                    data += chunk
            except socket.timeout:
                pass
            if B.LINE.search(data):
                got_line += 1
            s.close()
        elif mode == 2:
            kinds["!exit"] += 1
            s.settimeout(3)
            s.sendall(b"!exit\n")
            try:
                while s.recv(65536):
                    pass
                exit_honoured += 1
            except (socket.timeout, ConnectionResetError):
                pass
            s.close()
        else:
            kinds["reset"] += 1
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            s.close()
    cycles_s = B.now() - t0
    time.sleep(1.0)
    fds_after = B.fd_count(run.monitor.pid)
    rss_after = run.monitor.rss()
    good0 = run.good()
    accepted = sum(1 for _, line in run.monitor.events("client", t0) if line.endswith("connected=1"))
    final = B.LineReader(run.port)
    served = B.wait_until(lambda: final.count() >= 3, 10)
    final.close()
    time.sleep(0.5)
    fds_end = B.fd_count(run.monitor.pid)
    counting = run.good() > good0
    run.close()
    figures = {
        "cycles": n,
        "kinds": kinds,
        "seconds": round(cycles_s, 1),
        "clients_accepted": accepted,
        "first_line_read": got_line,
        "exit_honoured": exit_honoured,
        "fds_before": fds_before,
        "fds_after_cycles": fds_after,
        "fds_after_last_client": fds_end,
        "rss_kb_before": rss_before,
        "rss_kb_after": rss_after,
        "client_served_afterwards": served,
        "still_counting": counting,
    }
    passed = (fds_after == fds_before and fds_end == fds_before and exit_honoured == kinds["!exit"]
              and got_line == kinds["read a line, close"] and served and counting)
    return result("connect/disconnect x100", passed, figures, "no descriptor left behind, every !exit honoured")


# --- 5. an unwritable program directory ------------------------------------


def drill_unwritable(build, root, user="nobody"):
    base = os.path.join(root, "unwritable")
    os.makedirs(base)
    os.chmod(root, 0o755)
    os.chmod(base, 0o755)
    sim_dir = os.path.join(base, "sim")
    os.makedirs(sim_dir)
    shutil.chown(sim_dir, user=user)
    link = os.path.join(sim_dir, "tty")
    sim = B.Sim(build, ["--speed", str(SPEED), "--faults", "--seed", str(SEED)], link=link, user=user)
    app_dir = os.path.join(base, "monitor")
    os.makedirs(app_dir)
    shutil.copy2(build.helper, os.path.join(app_dir, "soak_monitor"))
    os.chmod(app_dir, 0o555)
    env = {"HOME": "/nonexistent", "XDG_RUNTIME_DIR": sim_dir}
    monitor = B.Monitor(build, app_dir, ["--port", link], env=env, user=user, copy=False)
    at_start = monitor.panel()
    monitor.command("record")  # the "Start" button
    after_record = monitor.panel()
    monitor.command("debug")  # the "Debug Output" box
    after_debug = monitor.panel()
    B.wait_until(lambda: int(monitor.stats()["fc3e_good"]) > 0, 10)
    time.sleep(2)
    stats = monitor.stats()
    later = monitor.panel()
    final = monitor.quit()
    rc = monitor.proc.returncode
    sim.stop()
    files = sorted(os.listdir(app_dir))
    # The real program in a read-only directory of its own, as the same user.
    real_dir = os.path.join(base, "taralbus")
    os.makedirs(real_dir)
    shutil.copy2(build.taralbus, real_dir)
    os.chmod(real_dir, 0o555)
    sim = B.Sim(build, ["--speed", str(SPEED), "--faults", "--seed", str(SEED)], link=link, user=user)
    proc = subprocess.Popen(["setpriv", f"--reuid={user}", f"--regid={B.user_group(user)}", "--clear-groups", "--",
                             os.path.join(real_dir, "taralbus"), "--port", link],
                            env=dict(os.environ, QT_QPA_PLATFORM="offscreen", **env),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd="/")
    time.sleep(3)
    real_alive = proc.poll() is None
    if real_alive:
        proc.send_signal(signal.SIGTERM)
    proc.wait(10)
    sim.stop()
    stderr = open(monitor.stderr_path).read()
    os.chmod(app_dir, 0o755)
    # The program has no message of its own for the settings file; any
    # mention of it in the window at start or on stderr would count.
    ini_words = ("ini", "einstellung", "setting")
    ini_visible = any(w in (at_start.get("data", "") + at_start.get("status", "")).lower() for w in ini_words) or \
        "taralbus.ini" in stderr
    csv_visible = "Error opening file" in after_record.get("data", "") or "Error opening file" in after_record.get("status", "")
    dump_visible = "Error opening file" in after_debug.get("data", "")
    figures = {
        "user": user,
        "csv": {"panel": after_record.get("data"), "status_bar": after_record.get("status"),
                "start_enabled": after_record.get("start_enabled"), "visible": csv_visible,
                "status_bar_later": later.get("status")},
        "dump": {"panel": after_debug.get("data"), "debug_box_checked": after_debug.get("debug"),
                 "visible": dump_visible},
        "ini": {"written": "taralbus.ini" in files,
                "panel_at_start": at_start.get("data"), "status_bar_at_start": at_start.get("status"),
                "visible": ini_visible,
                "stderr": stderr.strip()[-300:]},
        "files_in_program_directory": files,
        "data_frames_counted": int(stats["fc3e_good"]),
        "exit_code": rc,
        "taralbus_alive_after_3s": real_alive,
        "taralbus_exit": proc.returncode,
        "final_stats": final["_line"] if final else None,
    }
    crashed = rc is None or rc < 0 or rc > 1 or not real_alive or proc.returncode != -signal.SIGTERM
    passed = csv_visible and dump_visible and ini_visible and not crashed and figures["data_frames_counted"] > 0
    notes = "CSV, dump and INI must each fail visibly (window or stderr); nothing may crash"
    return result("unwritable program directory", passed, figures, notes)


# --- 6. a settings file full of junk ---------------------------------------


def junk_inis(link):
    rng = random.Random(7)
    yield "wrong types", (
        "[System]\nCOMPort=\n[View]\nPlot=maybe\nLog=2\n[Server]\nActiv=yes please\nIP=not.an.address\n"
        "Port=-70000\nInterval=abc\n[Window]\nPosX=99999999999999999999\nPosY=-2147483649\nWidth=-5\nHeight=1e9\n"
    ).encode()
    yield "extreme numbers", (
        f"[System]\nCOMPort={'A' * 10000}\n[View]\nPlot=false\nLog=false\n[Server]\nActiv=true\nIP=::1\n"
        "Port=65536000\nInterval=-2147483648\n[Window]\nPosX=-2147483648\nPosY=2147483647\n"
        "Width=-2147483648\nHeight=0\n"
    ).encode()
    yield "huge window size", b"[Window]\nWidth=2147483647\nHeight=2147483647\n"
    yield "typed values", (
        "[System]\nCOMPort=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x5QRect)\n[View]\nPlot=@ByteArray(\\xff\\xfe)\n"
        "Log=@Rect(1 2 3 4)\n[Server]\nActiv=@Size(10 20)\nIP=@Point(1 2)\nPort=@Variant(garbage\nInterval=@@@\n"
        "[Window]\nPosX=@Variant(\\0\\0\\0\\x2\\xff\\xff\\xff\\xff)\nPosY=\"unterminated\nWidth=\\\nHeight=%41%42\n"
    ).encode()
    structure = ["[System", "COMPort", "==", "[View]]", "Plot=true=false", "[Window]", "Width=" + "9" * 100000,
                 "[Window]", "Height=1", "[Window]", "Height=2", "[\\x00]", ";comment", "#comment", "[Server]",
                 "Port=5001,5002", "IP=\"127.0.0.1\"", "Interval=1 2 3"]
    yield "broken structure", ("\n".join(structure) + "\n").encode()
    yield "random bytes", bytes(rng.getrandbits(8) for _ in range(65536))
    yield "empty", b""


def drill_junk_ini(build, root):
    base = os.path.join(root, "junk")
    os.makedirs(base)
    link = os.path.join(base, "tty")
    sim = B.Sim(build, ["--speed", str(SPEED), "--faults", "--seed", str(SEED)], link=link)
    cases = []
    for i, (name, ini) in enumerate(junk_inis(link)):
        case = {"case": name}
        # The window through the helper: shown, counting, closes cleanly.
        monitor = None
        try:
            monitor = B.Monitor(build, os.path.join(base, f"helper{i}"), ["--port", link], ini=ini)
            exposed = monitor.wait_for("exposed", 10)
            case["exposed_after_s"] = round(exposed["_at"] - monitor.started, 3)
            time.sleep(2)
            stats = monitor.stats()
            panel = monitor.panel()
            case["visible"] = panel.get("visible") == "1"
            case["geometry"] = panel.get("geometry")
            case["port_open"] = stats["port_open"] == "1"
            case["data_frames_counted"] = int(stats["fc3e_good"])
            monitor.quit()
            with open(os.path.join(monitor.dir, "taralbus.ini"), "rb") as f:
                case["ini_after"] = f.read()[:400].decode("latin-1")
        except (TimeoutError, RuntimeError, OSError) as e:
            case["error"] = f"{type(e).__name__}: {str(e)[:200]}"
        if monitor is not None:
            try:
                monitor.proc.wait(10)
            except subprocess.TimeoutExpired:
                monitor.proc.kill()
                monitor.proc.wait()
            case["helper_exit_code"] = monitor.proc.returncode
        # The real program: up for 3 s without crashing.
        app_dir = os.path.join(base, f"taralbus{i}")
        os.makedirs(app_dir)
        shutil.copy2(build.taralbus, app_dir)
        with open(os.path.join(app_dir, "taralbus.ini"), "wb") as f:
            f.write(ini)
        proc = subprocess.Popen([os.path.join(app_dir, "taralbus"), "--port", link],
                                env=dict(os.environ, QT_QPA_PLATFORM="offscreen"),
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        time.sleep(3)
        case["taralbus_alive_after_3s"] = proc.poll() is None
        if proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
        proc.wait(10)
        case["taralbus_exit"] = proc.returncode
        case["passed"] = (case.get("visible") and case.get("helper_exit_code") == 0
                          and case["taralbus_alive_after_3s"] and case["taralbus_exit"] == -signal.SIGTERM)
        cases.append(case)
        print(f"  junk INI '{name}': shown={case.get('visible')} geometry={case.get('geometry')} "
              f"counted={case.get('data_frames_counted')} helper rc={case.get('helper_exit_code')} "
              f"taralbus alive={case['taralbus_alive_after_3s']} exit={case['taralbus_exit']} "
              f"{case.get('error', '')}", flush=True)
    sim.stop()
    passed = all(c["passed"] for c in cases)
    return result("junk INI", passed, {"cases": cases}, "starts, shows the window, no crash")


DRILLS = {
    "reopen": drill_reopen,
    "stalled": drill_stalled_client,
    "flood": drill_flood,
    "cycles": drill_cycles,
    "unwritable": drill_unwritable,
    "junk": drill_junk_ini,
}


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--build", required=True)
    ap.add_argument("--only", action="append", choices=sorted(DRILLS), help="run only these drills")
    ap.add_argument("--json", help="also write the figures to this file")
    ap.add_argument("--keep", action="store_true")
    a = ap.parse_args()
    build = B.Build(a.build)
    root = tempfile.mkdtemp(prefix="taral-drills.")
    print(f"drills in {root}; machine {B.machine()}", flush=True)
    results = []
    for name in (a.only or list(DRILLS)):
        if name == "unwritable" and os.geteuid() != 0:
            results.append(result("unwritable program directory", False, {},
                                  "needs root to run the monitor as another user"))
            continue
        print(f"drill {name} ...", flush=True)
        try:
            r = DRILLS[name](build, root)
        except Exception as e:  # a drill that breaks down is a failed drill
            r = result(name, False, {"error": f"{type(e).__name__}: {e}"})
            B._end_started()
        results.append(r)
        print(f"drill {name}: {'passed' if r['passed'] else 'FAILED'}", flush=True)
        print("  " + json.dumps(r["figures"], default=str)[:3000], flush=True)
    if a.json:
        with open(a.json, "w") as f:
            json.dump({"machine": B.machine(), "results": results}, f, indent=1, default=str)
    if not a.keep:
        shutil.rmtree(root, ignore_errors=True)
    failed = [r["drill"] for r in results if not r["passed"]]
    print(("FAILED: " + ", ".join(failed)) if failed else "all drills passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
