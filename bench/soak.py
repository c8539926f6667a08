"""The soak: the monitor's window on the simulator with faults, fast, for a
bounded time, with the forwarding server serving a client and a recording
running. Run through bench/soak.sh."""

import argparse
import json
import os
import signal
import sys
import tempfile
import time

import benchlib as B


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--build", required=True)
    ap.add_argument("--minutes", type=float, default=3.0)
    ap.add_argument("--speed", type=float, default=50.0)
    ap.add_argument("--interval", default="0", help='Server/Interval: "0" (every data frame) or "1"')
    ap.add_argument("--seed", type=int, default=20250703)
    ap.add_argument("--json", help="also write the figures to this file")
    ap.add_argument("--keep", action="store_true", help="keep the run directory")
    a = ap.parse_args()

    build = B.Build(a.build)
    run_dir = tempfile.mkdtemp(prefix="taral-soak.")
    port = B.free_port()
    link = os.path.join(run_dir, "tty")
    pty = B.PtyPair(link)
    duration = a.minutes * 60.0
    failures = []

    print(f"soak: {a.minutes:g} min, simulator --speed {a.speed:g} --faults --seed {a.seed}, "
          f"Server/Interval={a.interval}, run directory {run_dir}", flush=True)
    monitor = B.Monitor(build, os.path.join(run_dir, "monitor"), ["--port", link, "--record"],
                        ini=B.default_ini(link, port, a.interval))
    # The port is opened during construction; an open from the closed state
    # arms the 3 s retry, which opens it once more. The simulator starts only
    # when the port has settled, so every byte it sends reaches the window.
    settled = B.wait_until(lambda: (lambda s: s["port_open"] == "1" and s["retry_armed"] == "0")(monitor.stats()),
                           10, step=0.25)
    if not settled:
        failures.append("port did not settle open within 10 s")
    reader = B.LineReader(port)
    monitor.wait_for("client", 10)

    values_path = os.path.join(run_dir, "values.txt")
    sim = B.Sim(build, ["--speed", str(a.speed), "--faults", "--seed", str(a.seed), "--values", values_path],
                stdout_fd=pty.master)
    t0 = B.now()
    cpu0 = monitor.cpu()
    samples = []  # (seconds into the soak, RSS kB, CPU s)
    rss = {}
    marks = {"start": 5.0, "middle": duration / 2, "end": duration}
    while True:
        elapsed = B.now() - t0
        samples.append((round(elapsed, 1), monitor.rss(), monitor.cpu()))
        for name, at in marks.items():
            if name not in rss and elapsed >= min(at, duration):
                rss[name] = samples[-1][1]
        if elapsed >= duration or not monitor.alive():
            break
        time.sleep(min(1.0, max(0.0, duration - elapsed)))
    report = sim.stop(signal.SIGTERM)
    t1 = B.now()
    if not monitor.alive():
        failures.append("monitor died during the soak: " + monitor.stderr_tail())
        print("\n".join(failures))
        return 1

    # Everything the simulator wrote is read and counted before the figures
    # are taken.
    B.wait_until(lambda: pty.unread() == 0, 30)
    final = B.wait_stable(lambda: B.counters(monitor.stats()), settle=1.0)
    cpu1 = monitor.cpu()
    lines = B.wait_stable(reader.count, settle=1.0)
    end_stats = monitor.quit()
    reader.close()
    pty.close()

    sent = {k: v for k, v in report.items() if k.endswith("_good") or k.endswith("_bad")}
    counts_equal = sent == final
    if not counts_equal:
        failures.append(f"counts differ: sent {sent} counted {final}")

    with open(values_path, "rb") as f:
        expected_lines = [line.rstrip(b"\n") for line in f]
    received = reader.lines
    same_lines = received == expected_lines if a.interval == "0" else None
    traffic_s = t1 - t0
    if a.interval == "0":
        if not same_lines:
            first_diff = next((i for i, (x, y) in enumerate(zip(received, expected_lines)) if x != y),
                              min(len(received), len(expected_lines)))
            failures.append(f"value lines: received {len(received)}, simulator sent {len(expected_lines)} "
                            f"good data frames; first difference at line {first_diff}")
    else:
        interval = float(a.interval)
        bound = traffic_s / interval + 1
        if len(received) > bound or len(received) < 0.9 * traffic_s / interval:
            failures.append(f"value lines: {len(received)} for {traffic_s:.0f} s at interval {a.interval}")

    csv_path = os.path.join(monitor.dir, "test_1.CSV")
    with open(csv_path, "rb") as f:
        csv_lines = f.read().split(b"\n")
    if csv_lines and csv_lines[-1] == b"":
        csv_lines.pop()
    header, rows = csv_lines[0], csv_lines[1:]
    row_times = [r.split(b";", 1)[0] for r in rows]
    duplicates = len(row_times) - len(set(row_times))
    bad_rows = sum(1 for r in rows if r.count(b";") != 11)
    # One display step per second at most: rows <= seconds of traffic + 1,
    # and with a frame every 1/speed s the steps come about once a second.
    row_bound = int(traffic_s) + 1
    rows_ok = duplicates == 0 and bad_rows == 0 and 0.95 * traffic_s <= len(rows) <= row_bound
    if not rows_ok:
        failures.append(f"CSV rows: {len(rows)} for {traffic_s:.1f} s of traffic "
                        f"(at most {row_bound}), {duplicates} rows share a second, {bad_rows} malformed")

    cpu_used = cpu1 - cpu0
    data_frames = final.get("fc3e_good", 0) + final.get("fc3e_bad", 0)
    good_frames = final.get("fc3e_good", 0)
    growth = (rss["end"] - rss["middle"]) / rss["middle"]
    if growth > 0.10:
        failures.append(f"RSS at end {B.fmt_kb(rss['end'])} is {growth:.1%} above the middle {B.fmt_kb(rss['middle'])}")

    figures = {
        "machine": B.machine(),
        "minutes": a.minutes,
        "speed": a.speed,
        "seed": a.seed,
        "interval": a.interval,
        "traffic_seconds": round(traffic_s, 1),
        "sent": sent,
        "counted": final,
        "counts_equal": counts_equal,
        "sim_report": report,
        "value_lines_received": len(received),
        "value_lines_expected": len(expected_lines),
        "value_lines_identical": same_lines,
        "csv_rows": len(rows),
        "csv_row_bound": row_bound,
        "csv_duplicate_seconds": duplicates,
        "csv_header_ok": header.startswith(b"Zeit;TSA (\xb0C);"),
        "cpu_seconds": round(cpu_used, 2),
        "cpu_share_of_one_core": round(cpu_used / traffic_s, 4),
        "cpu_ms_per_data_frame": round(cpu_used * 1000 / max(1, good_frames), 3),
        "data_frames_per_second": round(good_frames / traffic_s, 1),
        "rss_kb": rss,
        "rss_end_vs_middle": round(growth, 4),
        "rss_max_kb": max(s[1] for s in samples),
        "stats_at_exit": end_stats["_line"] if end_stats else None,
        "failures": failures,
    }

    print(f"machine: nproc={figures['machine']['nproc']} cpu={figures['machine']['cpu']}")
    print(f"traffic: {traffic_s:.1f} s, {good_frames} good data frames ({figures['data_frames_per_second']}/s)")
    print("frames  kind  sent good/bad    counted good/bad")
    for kind in ("fc3e", "fc1f", "2302", "fd05"):
        print(f"        {kind}  {sent.get(kind + '_good')}/{sent.get(kind + '_bad')}"
              f"    {final.get(kind + '_good')}/{final.get(kind + '_bad')}")
    print(f"        equal: {'yes' if counts_equal else 'NO'}  (simulator: cut={report.get('cut')} "
          f"noise={report.get('noise')} bytes={report.get('bytes')})")
    print(f"value lines: received {len(received)}, expected {len(expected_lines)}"
          + (f", identical to the simulator's values: {'yes' if same_lines else 'NO'}" if same_lines is not None else ""))
    print(f"CSV rows: {len(rows)} (at most {row_bound} for {traffic_s:.1f} s), rows sharing a second: {duplicates}")
    print(f"CPU: {cpu_used:.2f} s over {traffic_s:.1f} s = {cpu_used / traffic_s:.1%} of one core, "
          f"{figures['cpu_ms_per_data_frame']} ms per data frame")
    print(f"RSS: start {B.fmt_kb(rss['start'])}, middle {B.fmt_kb(rss['middle'])}, end {B.fmt_kb(rss['end'])} "
          f"(end vs middle {growth:+.1%}, max {B.fmt_kb(figures['rss_max_kb'])})")
    if a.json:
        with open(a.json, "w") as f:
            json.dump(figures, f, indent=1)
    if not a.keep:
        import shutil
        shutil.rmtree(run_dir, ignore_errors=True)
    if failures:
        print("FAILED:\n  " + "\n  ".join(failures))
        return 1
    print("soak passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
