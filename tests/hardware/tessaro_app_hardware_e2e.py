#!/usr/bin/env python3
"""Tessaro_App end to end on the libftdi1 backend and an emulated FT230X.

Runs under vesk3_ft230x_emulator, so Tessaro_App (started here with the
emulator's preload environment) reaches the emulated bridge through the real
libftdi1 and libusb. Starts its own Xvfb and drives the window as a person
would, plugging and unplugging the bridge through the emulator's control
socket:

  no bridge: Connect stays disabled; the bridge is plugged in: the presence
  poll finds it and Connect becomes enabled; a click connects and the mirror
  equals the device's screen; Down reaches the device as a button press and
  release and the mirror follows; push ESC pulses CBUS1 high and low again;
  the bridge is unplugged: the refresh fails with a box and a diagnostic line
  on standard error, Connect is disabled again; plugged back in: found again;
  Esc closes the program.

Every wait is for something observable, each with a timeout.
Usage: tessaro_app_hardware_e2e.py TESSARO_APP PANEL_E2E_DIR
"""

import os
import random
import socket
import subprocess
import sys

sys.path.insert(0, sys.argv[2] if len(sys.argv) > 2 else os.path.dirname(__file__))
from panel_e2e import (CONNECT, HEIGHT, MIRROR, TIMEOUT, WIDTH, Failure,  # noqa: E402
                       body, has_dark_pixels, log, parse_ppm, wait_for)

WINDOW_TITLE = "^Tessaro_App for Vesk-3 "  # a regular expression: the title's parentheses stay out
PUSH_ESC = (276, 14, 81, 26)  # the push ESC button at 96 DPI
BOX_TITLE = "^Tessaro_App$"   # failure boxes carry the application title
KEY_DOWN = 5                  # button code of Down; +128 for its release
RELEASE = 128


class Control:
    """The emulator's control socket: one line out, one line back."""

    def __init__(self):
        path = os.environ.get("VESK3_EMULATOR_SOCKET")
        if not path:
            raise Failure("not running under vesk3_ft230x_emulator")
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.file = self.sock.makefile("rwb")

    def __call__(self, line):
        self.file.write(line.encode() + b"\n")
        self.file.flush()
        answer = self.file.readline().decode().rstrip("\n")
        if not answer.startswith("ok"):
            raise Failure(f"emulator: {line!r} -> {answer!r}")
        return answer[3:]


class Session:
    def __init__(self, program, workdir):
        self.program = program
        self.workdir = workdir
        self.control = Control()
        self.bridge = None
        # Only the program under test runs on the emulated USB; the X tools do not.
        self.plain_env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        self.xvfb = self.app = self.window = None

    def start(self):
        # A display number of our own, away from the low numbers other sessions
        # on the machine use; another number if an Xvfb took it first.
        for attempt in range(20):
            n = random.randrange(200, 1000)
            if os.path.exists(f"/tmp/.X{n}-lock"):
                continue
            self.xvfb = subprocess.Popen(
                ["Xvfb", f":{n}", "-screen", "0", "1024x768x24", "-dpi", "96", "-nolisten", "tcp"],
                env=self.plain_env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            wait_for("Xvfb", lambda: os.path.exists(f"/tmp/.X11-unix/X{n}") or self.xvfb.poll() is not None)
            if self.xvfb.poll() is None:
                break
        else:
            raise Failure("Xvfb did not start")
        display = {"DISPLAY": f":{n}", "QT_QPA_PLATFORM": "xcb", "XDG_RUNTIME_DIR": self.workdir}
        self.plain_env.update(display)
        for name in ("QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_STYLE_OVERRIDE"):
            self.plain_env.pop(name, None)
        app_env = dict(os.environ, **display)
        if app_env.get("ASAN_OPTIONS"):
            # libxkbcommon-x11 strndup()s counted names that are not terminated, which is
            # valid C but trips strict_string_checks inside the X keyboard set-up.
            app_env["ASAN_OPTIONS"] += ":strict_string_checks=0"
        for name in ("QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_STYLE_OVERRIDE"):
            app_env.pop(name, None)
        wait_for("the X server to answer",
                 lambda: self.run(["xdotool", "getdisplaygeometry"], check=False).returncode == 0)
        self.app_log_path = os.path.join(self.workdir, "app.log")
        self.app_log = open(self.app_log_path, "w")
        self.app = subprocess.Popen([self.program], env=app_env, cwd=self.workdir,
                                    stdout=self.app_log, stderr=subprocess.STDOUT)
        self.window = wait_for("the window", lambda: self.find(WINDOW_TITLE))
        log(f"window {self.window} on :{n}")

    def stop(self):
        for proc in (self.app, self.xvfb):
            if proc is not None and proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()

    def run(self, args, check=True):
        return subprocess.run(args, env=self.plain_env, check=check,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def find(self, name):
        if self.app.poll() is not None:
            raise Failure(f"the program ended early ({self.app.returncode})")
        ids = self.run(["xdotool", "search", "--onlyvisible", "--name", name], check=False).stdout.split()
        return ids[0].decode() if ids else None

    def click(self, rect):
        x, y = rect[0] + rect[2] // 2, rect[1] + rect[3] // 2
        self.run(["xdotool", "mousemove", "--window", self.window, str(x), str(y), "click", "1"])

    def key(self, name, window=None):
        window = window or self.window

        def focused():
            self.run(["xdotool", "windowfocus", window], check=False)
            return self.run(["xdotool", "getwindowfocus"], check=False).stdout.strip().decode() == window
        wait_for("the keyboard focus", focused)
        self.run(["xdotool", "key", name])

    def capture(self):
        return parse_ppm(self.run(["import", "-window", self.window, "-depth", "8", "ppm:-"]).stdout)

    def region(self, rect):
        w, _, rgb = self.capture()
        x0, y0, rw, rh = rect
        return b"".join(rgb[((y0 + y) * w + x0) * 3:((y0 + y) * w + x0 + rw) * 3] for y in range(rh))

    def enabled(self, rect):
        return has_dark_pixels(self.region(rect))

    def device(self, words):
        return self.control(f"device {self.bridge} {words}")

    def device_screen(self):
        raw = bytes.fromhex(self.device("screen"))
        out = bytearray()
        for i in range(0, len(raw), 2):
            c = raw[i] | raw[i + 1] << 8
            out += bytes(((c >> 11) << 3, ((c >> 5) & 0x3F) << 2, (c & 0x1F) << 3))
        return bytes(out)

    def mirror_matches_device(self):
        device = self.device_screen()
        return device if self.region((MIRROR[0], MIRROR[1], WIDTH, HEIGHT)) == device else None

    def log_text(self):
        self.app_log.flush()
        with open(self.app_log_path) as f:
            return f.read()


def scenario(s):
    wait_for("the first presence polls", lambda: s.region(CONNECT) is not None)
    if s.enabled(CONNECT):
        raise Failure("Connect is enabled without a bridge")

    s.bridge = int(s.control("add vesk3 0403 6015 VK3A0001 sysfs Vesk-3 HandController"))
    s.control(f"plug {s.bridge}")
    wait_for("the presence poll to find the bridge", lambda: s.enabled(CONNECT))
    log("plugged in: found by the presence poll")

    s.click(CONNECT)
    menu = wait_for("the mirror to equal the device screen", s.mirror_matches_device)
    if not any(menu):
        raise Failure("the device screen is black")
    if s.device("awake") != "1":
        raise Failure("the device was not woken")
    log("connected: the device is awake and the mirror equals its screen")

    s.key("Down")
    wait_for("Down to reach the device as press and release",
             lambda: f" {KEY_DOWN} {KEY_DOWN + RELEASE}" in " " + s.device("buttons"))
    wait_for("the mirror to follow the device's menu",
             lambda: (lambda d: d if d and body(d) != body(menu) else None)(s.mirror_matches_device()))
    log("Down reached the device and the mirror followed")

    wait_for("push ESC to be enabled", lambda: s.enabled(PUSH_ESC))
    s.click(PUSH_ESC)
    wait_for("CBUS1 to go high and low again", lambda: s.device("cbus").endswith("2 0"))
    log("push ESC pulsed CBUS1")

    s.control(f"unplug {s.bridge}")
    box = wait_for("the failure box", lambda: s.find(BOX_TITLE))
    s.key("Return", box)
    wait_for("the box to close", lambda: s.find(BOX_TITLE) is None)
    wait_for("Connect to be disabled again", lambda: not s.enabled(CONNECT))
    if "failed" not in s.log_text():
        raise Failure("no diagnostic line on standard error for the failed link")
    log("unplugged: a box, a diagnostic line, and no device")

    s.control(f"plug {s.bridge}")
    wait_for("the presence poll to find the bridge again", lambda: s.enabled(CONNECT))
    log("plugged in again: found again")

    s.key("Escape")
    try:
        code = s.app.wait(TIMEOUT)
    except subprocess.TimeoutExpired:
        raise Failure("Esc did not end the program")
    if code != 0:
        raise Failure(f"the program ended with {code}")
    log("Esc closed the program")


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    import tempfile
    workdir = tempfile.mkdtemp(prefix="tessaro-hw-e2e-")
    s = Session(os.path.abspath(sys.argv[1]), workdir)
    try:
        s.start()
        scenario(s)
    except Failure as failure:
        log(f"FAILED: {failure}")
        if s.app is not None:
            sys.stdout.write(s.log_text())
        return 1
    finally:
        s.stop()
    log("PASSED")
    return 0


if __name__ == "__main__":
    sys.exit(main())
