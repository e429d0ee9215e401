#!/usr/bin/env python3
"""Capture from the window end to end, driven from outside as a person would.

In its own Xvfb (the same session as panel_e2e.py): connect; right-click the
display view, choose "Save screenshot…", type a path in the save dialog, and
the PNG equals the mirror pixel for pixel; Ctrl+R, a path, the mirror visibly
refreshing, Ctrl+R again, and FFmpeg's libraries read back a video of more
than one frame at rising times; the zoom window from the menu shows the
mirror enlarged twice. With --zoom-shot PATH it also switches the refresh
readout on and writes a picture of the zoom window there.

Every wait is for something observable, each with a timeout.
Usage: capture_e2e.py PROGRAM VIDEO-FRAMES [INSTALL-SCRIPT] [--zoom-shot PATH]
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import panel_e2e as e2e  # noqa: E402
from panel_e2e import Failure, log, wait_for  # noqa: E402

ZOOM_TITLE = "^Vesk-3 display$"
SAVE_TITLE = "^Save screenshot$"
RECORD_TITLE = "^Record the display$"
RECORDING_END = " \u2014 recording"
ZOOM_FACTOR = 2  # the zoom window opens at twice the device's size


def view_point(s):
    x, y, w, h = e2e.VIEW
    return x + w // 2, y + h // 2


def window_named(s, pattern):
    out = s.run(["xdotool", "search", "--onlyvisible", "--name", pattern], check=False)
    ids = out.stdout.split()
    return ids[-1].decode() if ids else None


def title(s):
    return s.run(["xdotool", "getwindowname", s.window]).stdout.decode().rstrip("\n")


def png_pixels(path):
    converted = subprocess.run(["convert", path, "-depth", "8", "ppm:-"],
                               stdout=subprocess.PIPE, check=True).stdout
    return e2e.parse_ppm(converted)


def type_path(s, dialog, path):
    """Types a path into the save dialog's name field (it has the focus) and accepts it."""
    def focused():
        s.run(["xdotool", "windowfocus", dialog], check=False)
        return s.run(["xdotool", "getwindowfocus"], check=False).stdout.strip().decode() == dialog
    wait_for("the save dialog to have the keyboard", focused)
    s.run(["xdotool", "key", "ctrl+a"])
    s.run(["xdotool", "type", "--delay", "5", path])
    s.run(["xdotool", "key", "Return"])


def visible_windows(s):
    out = s.run(["xdotool", "search", "--onlyvisible", "--classname", "."], check=False)
    return set(out.stdout.split())


def open_menu_item(s, downs, window=None, point=None):
    """Right-clicks the view (or a point of another window) and takes the
    menu's item after `downs` Downs."""
    before = visible_windows(s)
    x, y = point or view_point(s)
    s.run(["xdotool", "mousemove", "--window", window or s.window, str(x), str(y), "click", "3"])
    wait_for("the context menu", lambda: visible_windows(s) - before)
    s.run(["xdotool", "key"] + ["Down"] * downs + ["Return"])


def save_screenshot(s):
    for attempt in range(5):
        path = os.path.join(s.workdir, f"shot-{attempt}.png")
        before = s.mirror()
        open_menu_item(s, 1)  # Save screenshot…
        dialog = wait_for("the save dialog", lambda: window_named(s, SAVE_TITLE))
        type_path(s, dialog, path)
        wait_for("the saved file", lambda: os.path.exists(path) and os.path.getsize(path) > 0)
        wait_for("the save dialog to close", lambda: window_named(s, SAVE_TITLE) is None)
        after = s.mirror()
        w, h, saved = png_pixels(path)
        if (w, h) != (e2e.WIDTH, e2e.HEIGHT):
            raise Failure(f"the screenshot is {w} x {h}, not the device's size")
        if saved in (before, after):
            log("Save screenshot wrote the mirror pixel for pixel")
            return
        log(f"saved image and mirror differ (the device clock ticked?), attempt {attempt + 1}")
    raise Failure("the saved screenshot never equalled the mirror")


def record(s, frames_tool):
    path = os.path.join(s.workdir, "session.mkv")
    s.key("ctrl+r")
    dialog = wait_for("the recording dialog", lambda: window_named(s, RECORD_TITLE))
    type_path(s, dialog, path)
    wait_for("the title to say it records", lambda: title(s).endswith(RECORDING_END))
    # The device's clock ticks once a second: a changed mirror means refreshes went by.
    first = s.mirror()
    wait_for("the mirror to refresh with a new screen", lambda: s.mirror() != first)
    s.key("ctrl+r")
    wait_for("the title to drop the recording mark", lambda: not title(s).endswith(RECORDING_END))
    out = subprocess.run([frames_tool, path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if out.returncode != 0:
        raise Failure(f"the video does not read back: {out.stderr.decode().strip()}")
    words = out.stdout.decode().split()
    count = int(words[1])
    pts = [int(p) for p in words[3].split(",")] if count else []
    if count < 2 or pts != sorted(pts) or len(set(pts)) != len(pts):
        raise Failure(f"the video has {count} frames at {pts[:10]}")
    log(f"Ctrl+R recorded {count} frames over {pts[-1]} ms")


def zoom(s, shot):
    open_menu_item(s, 4)  # Zoom window (the separator is skipped)
    window = wait_for("the zoom window", lambda: window_named(s, ZOOM_TITLE))
    w0, h0 = e2e.WIDTH * ZOOM_FACTOR, e2e.HEIGHT * ZOOM_FACTOR

    def enlarged_mirror():
        out = s.run(["import", "-window", window, "-depth", "8", "ppm:-"], check=False)
        if out.returncode != 0:
            return None
        w, h, rgb = e2e.parse_ppm(out.stdout)
        if (w, h) != (w0, h0):
            return None
        # every second pixel of every second row is the device's pixel
        small = bytearray()
        for y in range(0, h, ZOOM_FACTOR):
            row = rgb[y * w * 3:(y + 1) * w * 3]
            for x in range(0, w, ZOOM_FACTOR):
                small += row[x * 3:x * 3 + 3]
        if bytes(small) not in (s.mirror(), s.device_screen()):
            return None
        return out.stdout
    wait_for("the zoom window to show the mirror enlarged", enlarged_mirror)
    log("the zoom window shows the mirror enlarged twice")
    if shot:
        # The picture shows the readout too: on, it is in the title and in the corner.
        open_menu_item(s, 5, window, (w0 // 2, h0 // 2))  # Show refresh rate, from the zoom window
        wait_for("the readout in the title", lambda: "refreshes/s" in title(s))
        wait_for("the readout in the zoom window", lambda: enlarged_mirror() is None)
        s.run(["import", "-window", window, shot])
        log(f"zoom window picture: {shot}")


def scenario(s, frames_tool, shot):
    wait_for("Connect to become enabled",
             lambda: e2e.has_dark_pixels(s.region(s.capture(), e2e.CONNECT)))
    s.click(e2e.CONNECT)
    wait_for("the mirror to equal the device screen", s.mirror_matches_device)
    log("connected")
    save_screenshot(s)
    record(s, frames_tool)
    zoom(s, shot)


def main():
    args = sys.argv[1:]
    shot = None
    if "--zoom-shot" in args:
        i = args.index("--zoom-shot")
        shot = os.path.abspath(args[i + 1])
        del args[i:i + 2]
    if len(args) < 2:
        print(__doc__)
        return 2
    e2e.ensure_tools(args[2] if len(args) > 2 else None)
    s = e2e.Session(os.path.abspath(args[0]))
    try:
        s.start()
        scenario(s, os.path.abspath(args[1]), shot)
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
