#!/usr/bin/env python3
"""CPU time of the whole Tessaro_App_sim program in a real X server (Xvfb).

Starts the program, lets its window poll for the device, then presses Connect
and, once the mirror shows the device's screen (no longer black), lets it mirror. Reads the CPU
time of the program and of the X server from /proc/<pid>/stat over each phase
and prints one JSON line per figure for bench/report.py. The simulated device
runs inside the program, so the program's share is host and device together
(vesk3_mirror_cpu shows the device's part apart).

Usage: bench/program_cpu.py PROGRAM [SECONDS]
"""
import json
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
import panel_e2e  # noqa: E402  the window driver of the end-to-end test

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime + stime


def measure(session, seconds):
    pids = (session.app.pid, session.xvfb.pid)
    before = [cpu_seconds(p) for p in pids]
    start = time.monotonic()
    time.sleep(seconds)
    wall = time.monotonic() - start
    return [100 * (cpu_seconds(p) - b) / wall for p, b in zip(pids, before)]


def main():
    program = os.path.abspath(sys.argv[1])
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60
    command = f"`bench/program_cpu.py Tessaro_App_sim {seconds:.0f}`"
    session = panel_e2e.Session(program)
    try:
        session.start()
        panel_e2e.wait_for("Connect to become enabled", lambda: panel_e2e.has_dark_pixels(
            session.region(session.capture(), panel_e2e.CONNECT)))
        idle_app, idle_x = measure(session, seconds / 2)
        session.click(panel_e2e.CONNECT)
        # The mirror is black until the first frame arrives.
        panel_e2e.wait_for("the mirror to show the device", lambda: any(session.mirror()))
        app, x = measure(session, seconds)
    finally:
        session.stop()
    rows = [
        ("Whole program, window polling (not connected)", idle_app, 0.5, idle_x),
        ("Whole program mirroring the device's own screen (host + simulated device)", app, 2.0, x),
    ]
    for measure_name, share, target, xshare in rows:
        print(json.dumps({
            "measure": measure_name,
            "figure": f"{share:.2f} % of a core (X server apart: {xshare:.2f} %)",
            "target": f"≤ {target} % (host side)",
            "met": "yes" if share <= target else "**no**",
            "command": command,
        }, ensure_ascii=False))


if __name__ == "__main__":
    sys.exit(main())
