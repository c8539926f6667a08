"""Steady state of the monitor at the bus's real pace with seven days of
history in the plot, and the time from process start to the window shown.
Run through bench/steady_state.sh."""

import argparse
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

import benchlib as B


def steady(build, root, name, prefill_days, seconds, warmup):
    """One run: the window (plot shown, recording, server with a client at
    interval 1) on the simulator at --speed 1; CPU and RSS over `seconds`."""
    run_dir = os.path.join(root, name)
    os.makedirs(run_dir)
    link = os.path.join(run_dir, "tty")
    port = B.free_port()
    sim = B.Sim(build, ["--speed", "1", "--seed", "99"], link=link)
    args = ["--port", link, "--record"]
    if prefill_days:
        args += ["--prefill-days", str(prefill_days)]
    spawned = B.now()
    monitor = B.Monitor(build, os.path.join(run_dir, "monitor"), args, ini=B.default_ini(link, port, "1"))
    ready_s = monitor.ready["_at"] - spawned
    reader = B.LineReader(port)
    time.sleep(warmup)
    stats0 = monitor.stats()
    cpu0 = monitor.cpu()
    t0 = B.now()
    lines0 = reader.count()
    rss = []
    while B.now() - t0 < seconds:
        rss.append(monitor.rss())
        time.sleep(1.0)
    cpu1 = monitor.cpu()
    t1 = B.now()
    stats1 = monitor.stats()
    lines1 = reader.count()
    load = os.getloadavg()
    reader.close()
    monitor.quit()
    sim.stop()
    frames = int(stats1["fc3e_good"]) - int(stats0["fc3e_good"])
    span = t1 - t0
    return {
        "history_days": prefill_days,
        "points_per_graph": int(stats1["points"]),
        "start_to_ready_s": round(ready_s, 2),
        "seconds": round(span, 1),
        "cpu_seconds": round(cpu1 - cpu0, 3),
        "cpu_share_of_one_core": round((cpu1 - cpu0) / span, 4),
        "cpu_ms_per_data_frame": round((cpu1 - cpu0) * 1000 / max(1, frames), 2),
        "data_frames": frames,
        "value_lines": lines1 - lines0,
        "rss_kb_first": rss[0],
        "rss_kb_last": rss[-1],
        "rss_kb_max": max(rss),
        "load_average_1min_at_end": round(load[0], 2),
    }


class Xvfb:
    def __init__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                     pass_fds=(w,), stderr=subprocess.DEVNULL)
        os.close(w)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(r, 16)
            if not chunk:
                break
            number += chunk
        os.close(r)
        self.display = ":" + number.decode().strip()

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def startup_x11(build, root, runs):
    """Real taralbus on Xvfb: from spawning the process to the X server's
    MapNotify of its window, seen by xev on the root window."""
    xvfb = Xvfb()
    env = dict(os.environ, DISPLAY=xvfb.display)
    env.pop("QT_QPA_PLATFORM", None)
    link = os.path.join(root, "startup-tty")
    sim = B.Sim(build, ["--speed", "1"], link=link)
    xev = subprocess.Popen(["xev", "-root", "-event", "substructure"], stdout=subprocess.PIPE, text=True, env=env)
    time.sleep(0.5)
    times = []
    for i in range(runs):
        app_dir = os.path.join(root, f"startup{i}")
        os.makedirs(app_dir)
        shutil.copy2(build.taralbus, app_dir)
        B.write_ini(os.path.join(app_dir, "taralbus.ini"), B.default_ini(link, B.free_port(), "10", active=False))
        t0 = B.now()
        proc = subprocess.Popen([os.path.join(app_dir, "taralbus"), "--port", link], env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        mapped = None
        for line in xev.stdout:
            if line.startswith("MapNotify"):
                mapped = B.now()
                break
        times.append(mapped - t0)
        time.sleep(0.5)
        proc.terminate()
        proc.wait()
        # Wait until the window is gone, so the next MapNotify is the next run's.
        for line in xev.stdout:
            if line.startswith("DestroyNotify") or line.startswith("UnmapNotify"):
                break
        time.sleep(0.3)
    xev.terminate()
    xev.wait()
    sim.stop()
    xvfb.stop()
    return times


def startup_offscreen(build, root, runs):
    """The window through soak_monitor, offscreen: from spawning the process to
    the first expose event of its window."""
    link = os.path.join(root, "startup-off-tty")
    sim = B.Sim(build, ["--speed", "1"], link=link)
    times = []
    for i in range(runs):
        t0 = B.now()
        monitor = B.Monitor(build, os.path.join(root, f"offscreen{i}"), ["--port", link],
                            ini=B.default_ini(link, B.free_port(), "10", active=False))
        exposed = monitor.wait_for("exposed", 10)
        times.append(float(exposed["t"]) / 1000.0 - t0)
        monitor.quit()
    sim.stop()
    return times


def summary(times):
    return {
        "runs": len(times),
        "first_s": round(times[0], 3),
        "median_s": round(statistics.median(times), 3),
        "max_s": round(max(times), 3),
        "min_s": round(min(times), 3),
    }


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--build", required=True)
    ap.add_argument("--seconds", type=float, default=60.0)
    ap.add_argument("--warmup", type=float, default=10.0)
    ap.add_argument("--days", type=float, default=7.0)
    ap.add_argument("--runs", type=int, default=11, help="start-up runs of each kind")
    ap.add_argument("--skip-baseline", action="store_true", help="no run with an empty plot")
    ap.add_argument("--json")
    ap.add_argument("--keep", action="store_true")
    a = ap.parse_args()
    build = B.Build(a.build)
    root = tempfile.mkdtemp(prefix="taral-steady.")
    failures = []
    figures = {"machine": B.machine()}
    print(f"steady state in {root}; machine {figures['machine']}", flush=True)

    figures["steady_7_days"] = s = steady(build, root, "history", a.days, a.seconds, a.warmup)
    print(f"steady state, {a.days:g} days of history ({s['points_per_graph']} points a graph): "
          f"{s['cpu_share_of_one_core']:.2%} of one core ({s['cpu_ms_per_data_frame']} ms a data frame), "
          f"RSS {B.fmt_kb(s['rss_kb_first'])} .. {B.fmt_kb(s['rss_kb_max'])}", flush=True)
    if s["cpu_share_of_one_core"] >= 0.02:
        failures.append(f"steady state CPU {s['cpu_share_of_one_core']:.2%} of one core (goal: under 2%)")
    if s["rss_kb_max"] >= 200 * 1024:
        failures.append(f"steady state RSS {B.fmt_kb(s['rss_kb_max'])} (goal: under 200 MB)")
    if not a.skip_baseline:
        figures["steady_empty_plot"] = e = steady(build, root, "empty", 0, a.seconds, a.warmup)
        print(f"steady state, empty plot: {e['cpu_share_of_one_core']:.2%} of one core "
              f"({e['cpu_ms_per_data_frame']} ms a data frame), RSS {B.fmt_kb(e['rss_kb_max'])}", flush=True)

    x11 = startup_x11(build, root, a.runs)
    figures["startup_taralbus_xvfb_mapnotify"] = summary(x11)
    print(f"start to window mapped (taralbus, Xvfb, MapNotify): {figures['startup_taralbus_xvfb_mapnotify']}",
          flush=True)
    off = startup_offscreen(build, root, a.runs)
    figures["startup_window_offscreen_expose"] = summary(off)
    print(f"start to window exposed (soak_monitor, offscreen, expose event): "
          f"{figures['startup_window_offscreen_expose']}", flush=True)
    if max(x11) >= 0.5:
        failures.append(f"start to window {max(x11):.3f} s at worst (goal: under 0.5 s)")

    figures["failures"] = failures
    if a.json:
        with open(a.json, "w") as f:
            json.dump(figures, f, indent=1)
    if not a.keep:
        shutil.rmtree(root, ignore_errors=True)
    if failures:
        print("MISSED:\n  " + "\n  ".join(failures))
        return 1
    print("steady state and start-up within their goals")
    return 0


if __name__ == "__main__":
    sys.exit(main())
