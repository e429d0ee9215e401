#!/usr/bin/env python3
"""50 steps of press plus expect in one vesk3 session, against 50 vesk3ctl calls.

Both on the simulated hand controller in real time at line speed. Each
vesk3ctl call is `vesk3ctl --sim expect REF` alone (a fresh device and link
every time: wake-up, handshake, whole frame), half of a step, so the ratio is
a lower bound. Prints one JSON line.

Usage: bench/python_steps.py BUILD_DIR [STEPS]
"""

import json
import os
import subprocess
import sys
import tempfile
import time

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build"
STEPS = int(sys.argv[2]) if len(sys.argv) > 2 else 50
sys.path.insert(0, os.path.join(BUILD, "python"))

import vesk3  # noqa: E402

BELOW_TITLE = (0, 30, 240, 290)


def session_steps(references):
    start = time.monotonic()
    with vesk3.Device(sim=True) as dev:
        for step in range(STEPS):
            dev.press("down", gap=0)
            dev.expect(references[step % len(references)], region=BELOW_TITLE, timeout=3)
    return time.monotonic() - start


def main():
    with vesk3.Device(sim=True) as dev:
        references = []
        for _ in range(5):
            dev.press("down")
            references.append(dev.screenshot())
    with tempfile.TemporaryDirectory() as tmp:
        menu = os.path.join(tmp, "menu.png")
        with vesk3.Device(sim=True) as dev:
            dev.save_screenshot(menu)
        in_session = session_steps(references)
        ctl = os.path.join(BUILD, "ctl", "vesk3ctl")
        start = time.monotonic()
        for _ in range(STEPS):
            subprocess.run([ctl, "--sim", "-q", "expect", menu, "--region", "0,30,240,290",
                            "--timeout", "3"], check=True)
        calls = time.monotonic() - start
    print(json.dumps({"steps": STEPS, "session_s": round(in_session, 3),
                      "vesk3ctl_s": round(calls, 3), "ratio": round(calls / in_session, 1)}))


if __name__ == "__main__":
    main()
