#!/usr/bin/env python3
"""The front panel end to end, driven from outside as a person would.

Starts its own Xvfb on a free display, runs the simulated program (the test
build that also writes the simulated device's screen to a file), and drives
the window with xdotool and xclip:

  the Connect button becomes enabled by itself; Tab takes the focus to it,
  where Enter leaves the panel as it is and Space connects; the mirror in a
  window screenshot equals the device's screen pixel for pixel; Down and Enter
  change it, Alt+Up does not reach the device; Esc while connected leaves the
  window open; Screenshot puts a PNG of the view's size on the clipboard that
  equals the mirror; a click on Disconnect and then Esc close the program.

Every wait is for something observable (a window, pixels, a file, a process
ending), each with a timeout. Usage: panel_e2e.py PROGRAM [INSTALL-SCRIPT]
"""

import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

WIDTH, HEIGHT = 240, 320
TITLE = "Tessaro_App for Vesk-3 (proto / final) v0.10"
TITLE_PATTERN = "^" + "".join("\\" + c if c in "()./" else c for c in TITLE) + "$"  # xdotool takes a regex
TOOLS = ["Xvfb", "xdotool", "xclip", "import", "convert"]

# Window geometry at 96 DPI (dialog units: x * 6 / 4, y * 16 / 8).
VIEW = (9, 60, 253, 412)           # the display view in the window
MIRROR = (VIEW[0] + 6, VIEW[1] + 46)  # the 240 x 320 image in the window
CONNECT = (9, 14, 118, 36)         # the Connect button
STATUS = (138, 14, 123, 36)        # the status text
SCREENSHOT = (276, 230, 85, 32)    # the Screenshot button
TITLE_BAR_ROWS = 30                # the device's title bar (its clock ticks)

TIMEOUT = 30.0


class Failure(Exception):
    pass


def log(text):
    print(f"[e2e] {text}", flush=True)


def wait_for(what, probe, timeout=TIMEOUT, interval=0.05):
    """Polls probe() until it returns something true; returns that."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out waiting for {what}")
        time.sleep(interval)


def ensure_tools(installer):
    missing = [t for t in TOOLS if shutil.which(t) is None]
    if missing and installer:
        log(f"installing what is missing: {' '.join(missing)}")
        subprocess.run(["bash", installer], check=True)
        missing = [t for t in TOOLS if shutil.which(t) is None]
    if missing:
        raise Failure(f"missing tools: {' '.join(missing)}")


def free_display():
    for n in range(90, 400):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            return n
    raise Failure("no free X display number")


class Session:
    def __init__(self, program):
        self.program = program
        self.workdir = tempfile.mkdtemp(prefix="tessaro-e2e-")
        self.screen_file = os.path.join(self.workdir, "device-screen.rgb565")
        self.xvfb = None
        self.app = None
        self.env = None
        self.window = None

    # --- processes ------------------------------------------------------
    def start(self):
        n = free_display()
        self.xvfb = subprocess.Popen(
            ["Xvfb", f":{n}", "-screen", "0", "1024x768x24", "-dpi", "96", "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for("Xvfb", lambda: os.path.exists(f"/tmp/.X11-unix/X{n}") or self.xvfb.poll() is not None)
        if self.xvfb.poll() is not None:
            raise Failure("Xvfb did not start")
        self.env = dict(os.environ, DISPLAY=f":{n}", QT_QPA_PLATFORM="xcb",
                        XDG_RUNTIME_DIR=self.workdir)
        for name in ("QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_STYLE_OVERRIDE"):
            self.env.pop(name, None)
        if self.env.get("ASAN_OPTIONS"):
            # libxkbcommon-x11 strndup()s counted names that are not terminated, valid C
            # that trips strict_string_checks inside the X keyboard set-up.
            self.env["ASAN_OPTIONS"] += ":strict_string_checks=0"
        wait_for("the X server to answer", lambda: self.run(["xdotool", "getdisplaygeometry"],
                                                           check=False).returncode == 0)
        self.app_log = open(os.path.join(self.workdir, "app.log"), "w")
        self.app = subprocess.Popen([self.program, self.screen_file], env=self.env,
                                    cwd=self.workdir, stdout=self.app_log, stderr=subprocess.STDOUT)
        self.window = wait_for("the window", self.find_window)
        log(f"window {self.window} on :{n}")

    def stop(self):
        for proc in (self.app, self.xvfb):
            if proc is not None and proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()
        shutil.rmtree(self.workdir, ignore_errors=True)

    def run(self, args, check=True, capture=True):
        return subprocess.run(args, env=self.env, check=check,
                              stdout=subprocess.PIPE if capture else None,
                              stderr=subprocess.PIPE if capture else None)

    def alive(self):
        return self.app.poll() is None

    def find_window(self):
        if not self.alive():
            raise Failure(f"the program ended early ({self.app.returncode})")
        out = self.run(["xdotool", "search", "--onlyvisible", "--name", TITLE_PATTERN], check=False)
        ids = out.stdout.split()
        return ids[0].decode() if ids else None

    # --- the user's hands -------------------------------------------------
    def click(self, rect):
        x, y = rect[0] + rect[2] // 2, rect[1] + rect[3] // 2
        self.run(["xdotool", "mousemove", "--window", self.window, str(x), str(y), "click", "1"])

    def key(self, name):
        self.focus()
        self.run(["xdotool", "key", name])

    def focus(self):
        def focused():
            self.run(["xdotool", "windowfocus", self.window], check=False)
            out = self.run(["xdotool", "getwindowfocus"], check=False).stdout.strip().decode()
            return out == self.window
        wait_for("the window to have the keyboard", focused)

    # --- the user's eyes --------------------------------------------------
    def capture(self):
        """The window's pixels: (width, height, rgb bytes)."""
        out = self.run(["import", "-window", self.window, "-depth", "8", "ppm:-"]).stdout
        return parse_ppm(out)

    def region(self, image, rect):
        w, _, rgb = image
        x0, y0, rw, rh = rect
        rows = [rgb[((y0 + y) * w + x0) * 3:((y0 + y) * w + x0 + rw) * 3] for y in range(rh)]
        return b"".join(rows)

    def device_screen(self):
        """The device's own screen as the window should show it (rgb bytes)."""
        try:
            with open(self.screen_file, "rb") as f:
                raw = f.read()
        except FileNotFoundError:
            return None
        if len(raw) != WIDTH * HEIGHT * 2:
            return None
        out = bytearray()
        for (c,) in struct.iter_unpack("<H", raw):
            out += bytes(((c >> 11) << 3, ((c >> 5) & 0x3F) << 2, (c & 0x1F) << 3))
        return bytes(out)

    def mirror(self, image=None):
        return self.region(image or self.capture(), (MIRROR[0], MIRROR[1], WIDTH, HEIGHT))

    def mirror_matches_device(self):
        """The device screen once the mirror equals it pixel for pixel, else None."""
        device = self.device_screen()
        if device is not None and self.mirror() == device:
            return device
        return None


def parse_ppm(data):
    # P6 <w> <h> <max>\n<rgb...>
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise Failure("unexpected screenshot format")
    w, h = int(fields[1]), int(fields[2])
    return w, h, data[pos + 1:pos + 1 + w * h * 3]


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        raise Failure("the clipboard does not hold a PNG")
    return struct.unpack(">II", data[16:24])


def has_dark_pixels(pixels, limit=0x50):
    return any(max(pixels[i:i + 3]) < limit for i in range(0, len(pixels), 3))


def body(screen):
    """The device screen below its title bar, whose clock ticks every second."""
    return screen[TITLE_BAR_ROWS * WIDTH * 3:]


def scenario(s):
    # The presence poll finds the device: Connect is enabled (black text) and
    # the status reads "device available".
    wait_for("Connect to become enabled",
             lambda: has_dark_pixels(s.region(s.capture(), CONNECT)))
    available_status = wait_for("the status text",
                                lambda: (lambda r: r if has_dark_pixels(r) else None)(
                                    s.region(s.capture(), STATUS)))
    log("Connect enabled by itself")
    black = s.mirror()
    if any(black):
        raise Failure("the mirror is not black before the first connection")

    # From Screenshot (a click gives it the focus) Tab passes push ESC and
    # Device Info to Connect. Enter there is no click: had it connected, the
    # Space after it would disconnect again and the mirror would stay black.
    s.click(SCREENSHOT)
    for _ in range(3):
        s.key("Tab")
    s.key("Return")
    s.key("space")
    menu = wait_for("the mirror to equal the device screen", s.mirror_matches_device)
    if not any(menu):
        raise Failure("the device screen is black")
    if s.region(s.capture(), STATUS) == available_status:
        raise Failure("the panel is not connected")
    log("Enter on Connect did nothing, Space connected: the mirror equals the device screen")

    s.key("Down")
    selected = wait_for("Down to move the device's menu",
                        lambda: (lambda d: d if d and body(d) != body(menu) else None)(
                            s.mirror_matches_device()))
    # Alt+Up is the window's: had it reached the device, Enter would open the
    # item above and Esc would not come back to this selection.
    s.key("alt+Up")
    s.key("Return")
    wait_for("Enter to open the item",
                      lambda: (lambda d: d if d and body(d) != body(selected) else None)(
                          s.mirror_matches_device()))
    log("Down and Enter reached the device and the mirror followed")

    s.key("Escape")
    wait_for("Esc to take the device back to its menu",
             lambda: (lambda d: d if d and body(d) == body(selected) else None)(
                 s.mirror_matches_device()))
    if not s.alive() or s.find_window() != s.window:
        raise Failure("Esc while connected closed the window")
    log("Esc while connected went to the device; the window stays open; Alt+Up had not")

    # Screenshot: the clipboard's PNG is the whole view, the same as the window shows.
    for attempt in range(5):
        before = s.region(s.capture(), VIEW)
        # an empty text takes the clipboard; xclip stays behind as its owner
        subprocess.run(["xclip", "-selection", "clipboard", "-i", "/dev/null"], env=s.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        s.click(SCREENSHOT)
        png = wait_for("an image on the clipboard", lambda: (lambda r: r.stdout if r.returncode == 0
                                                             and r.stdout[:4] == b"\x89PNG" else None)(
            s.run(["xclip", "-selection", "clipboard", "-t", "image/png", "-o"], check=False)))
        after = s.region(s.capture(), VIEW)
        if png_size(png) != (VIEW[2], VIEW[3]):
            raise Failure(f"clipboard image is {png_size(png)}, not the view's size")
        converted = subprocess.run(["convert", "png:-", "-depth", "8", "ppm:-"], input=png,
                                   stdout=subprocess.PIPE, check=True).stdout
        clip = parse_ppm(converted)[2]
        if clip in (before, after):
            break
        log(f"clipboard image and window differ (the device clock ticked?), attempt {attempt + 1}")
    else:
        raise Failure("the clipboard image never equalled the mirror")
    log("Screenshot put the view's image on the clipboard as PNG")

    s.click(CONNECT)  # Disconnect
    wait_for("the panel to show the device available again",
             lambda: s.region(s.capture(), STATUS) == available_status)
    log("disconnected")
    s.key("Escape")
    try:
        code = s.app.wait(TIMEOUT)
    except subprocess.TimeoutExpired:
        raise Failure("Esc after Disconnect did not end the program")
    if code != 0:
        raise Failure(f"the program ended with {code}")
    log("Esc after Disconnect closed the window and ended the program")


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    ensure_tools(sys.argv[2] if len(sys.argv) > 2 else None)

    def stopped(signum, _frame):
        raise Failure(f"stopped by signal {signum}")
    signal.signal(signal.SIGTERM, stopped)
    s = Session(os.path.abspath(sys.argv[1]))
    try:
        s.start()
        scenario(s)
    except Failure as failure:
        log(f"FAILED: {failure}")
        try:
            with open(os.path.join(s.workdir, "app.log")) as f:
                sys.stdout.write(f.read())
        except OSError:
            pass
        return 1
    finally:
        s.stop()
    log("PASSED")
    return 0


if __name__ == "__main__":
    sys.exit(main())
