#!/usr/bin/env python3
"""vesk3ctl end to end on the libftdi1 backend and an emulated FT230X.

Runs under vesk3_ft230x_emulator, so vesk3ctl (started here with the
emulator's preload environment) reaches the emulated bridge through the real
libftdi1 and libusb:

  no bridge: info fails with exit 2 and the result's text; the bridge is
  plugged in: list names it a Vesk-3, info --json reports it, screenshot equals
  the device's screen pixel for pixel, press reaches the device as exactly a
  press and a release, push-esc pulses CBUS1 high and low again; while another
  vesk3ctl holds the bridge, a second one fails with exit 2 and says that the
  bridge is held by another program; SIGTERM ends the first with 143.

Every wait is for something observable, each with a timeout.
Usage: vesk3ctl_hardware_e2e.py VESK3CTL PANEL_E2E_DIR
"""

import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, sys.argv[2] if len(sys.argv) > 2 else os.path.dirname(__file__))
from panel_e2e import TIMEOUT, Failure, log, parse_ppm, wait_for  # noqa: E402

SERIAL = "VK3A0001"
KEY_DOWN = 5     # button code of Down; +128 for its release
RELEASE = 128
ESC_PULSE = "2 0"  # CBUS1 driven high, then low again


class Control:
    """The emulator's control socket: one line out, one line back."""

    def __init__(self):
        import socket
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
        # Only vesk3ctl runs on the emulated USB; the image tools do not.
        self.plain_env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}

    def ctl(self, *args, expect=0):
        done = subprocess.run([self.program, *args], cwd=self.workdir, timeout=TIMEOUT,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if done.returncode != expect:
            raise Failure(f"vesk3ctl {' '.join(args)}: exit {done.returncode}, not {expect}\n"
                          f"{done.stdout}{done.stderr}")
        return done

    def device(self, words):
        return self.control(f"device {self.bridge} {words}")

    def device_screen(self):
        raw = bytes.fromhex(self.device("screen"))
        out = bytearray()
        for i in range(0, len(raw), 2):
            c = raw[i] | raw[i + 1] << 8
            out += bytes(((c >> 11) << 3, ((c >> 5) & 0x3F) << 2, (c & 0x1F) << 3))
        return bytes(out)

    def png_pixels(self, path):
        ppm = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], env=self.plain_env,
                             check=True, stdout=subprocess.PIPE).stdout
        return parse_ppm(ppm)


def scenario(s):
    failed = s.ctl("info", expect=2)
    if "vesk3ctl: Error (1): Can not open device" not in failed.stderr:
        raise Failure(f"no result text without a bridge: {failed.stderr!r}")
    log("no bridge: exit 2 with the result's text")

    s.bridge = int(s.control(f"add vesk3 0403 6015 {SERIAL} sysfs Vesk-3 HandController"))
    s.control(f"plug {s.bridge}")
    listed = wait_for("list to show the bridge", lambda: SERIAL in s.ctl("list").stdout and s.ctl("list"))
    if f"{SERIAL}\tVesk-3 HandController\tVesk-3" not in listed.stdout:
        raise Failure(f"list: {listed.stdout!r}")
    log("list names the bridge a Vesk-3")

    info = json.loads(s.ctl("info", "--json").stdout)
    if info["serial"] != SERIAL or info["mode"] != "APP" or s.device("awake") != "1":
        raise Failure(f"info: {info}")
    log("info --json reports the device")

    shot = os.path.join(s.workdir, "shot.png")

    def screenshot_equals_device():
        # The device's uptime clock may tick between the two: then once more.
        s.ctl("screenshot", shot)
        width, height, pixels = s.png_pixels(shot)
        if (width, height) != (240, 320):
            raise Failure(f"the screenshot is {width} x {height}")
        return pixels if pixels == s.device_screen() else None
    pixels = wait_for("the screenshot to equal the device screen", screenshot_equals_device)
    if not any(pixels):
        raise Failure("the device screen is black")
    log("screenshot equals the device screen pixel for pixel")

    before = s.device("buttons")
    s.ctl("press", "down")
    after = s.device("buttons")
    if after != f"{before} {KEY_DOWN} {KEY_DOWN + RELEASE}".strip():
        raise Failure(f"press down: the device saw {after!r} after {before!r}")
    s.ctl("screenshot", shot)
    if s.png_pixels(shot)[2] == pixels:
        raise Failure("the screen did not follow Down")
    log("press reached the device as one press and one release")

    s.ctl("push-esc")
    if not s.device("cbus").endswith(ESC_PULSE):
        raise Failure(f"push-esc: CBUS {s.device('cbus')!r}")
    log("push-esc pulsed CBUS1")

    holder = subprocess.Popen([s.program, "watch", "--seconds", "20"], cwd=s.workdir,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        wait_for("the first vesk3ctl to mirror", lambda: holder.stdout.readline())
        second = s.ctl("info", expect=2)
        if "the bridge is held by another program" not in second.stderr:
            raise Failure(f"a held bridge is not named as such: {second.stderr!r}")
        log("while another vesk3ctl holds the bridge: exit 2, and the error says so")
    finally:
        holder.terminate()
        code = holder.wait(TIMEOUT)
    if code != 143:
        raise Failure(f"SIGTERM ended watch with {code}, not 143")
    log("SIGTERM ended watch with 143")


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    workdir = tempfile.mkdtemp(prefix="vesk3ctl-hw-e2e-")
    s = Session(os.path.abspath(sys.argv[1]), workdir)
    try:
        scenario(s)
    except Failure as failure:
        log(f"FAILED: {failure}")
        return 1
    log("PASSED")
    return 0


if __name__ == "__main__":
    sys.exit(main())
