"""The hand controller as a Python object: one session held open across steps."""

from __future__ import annotations

import logging
import os
from dataclasses import dataclass
from typing import Iterator, Optional, Tuple, Union

import numpy as np

from . import _vesk3
from ._errors import ScreenMismatch

_log = logging.getLogger("vesk3")

KEY_NAMES: Tuple[str, ...] = tuple(_vesk3.KEY_NAMES.split())
MIRROR_PERIOD = _vesk3.MIRROR_PERIOD_MS / 1000.0
DISPLAY_SHAPE = (_vesk3.DISPLAY_HEIGHT, _vesk3.DISPLAY_WIDTH, 3)
_DEFAULT_GAP = 0.1

Reference = Union[str, "os.PathLike[str]", np.ndarray]


@dataclass(frozen=True)
class DeviceInfo:
    """The Device Info items: the bridge's serial number, the mode ("APP" or
    "BOOT"), the two protocol versions, the chip id and the unique id."""

    serial: str
    mode: str
    protocol_version_1: int
    protocol_version_2: int
    chip_id: int
    unique_id: str


def _milliseconds(seconds: float, what: str) -> int:
    if seconds < 0:
        raise ValueError(f"{what} is a time in seconds, not negative")
    return int(round(seconds * 1000))


class Device:
    """One Vesk-3 hand controller, opened as a context manager::

        with vesk3.Device(sim=True) as dev:
            dev.press("down", "enter")
            dev.expect("counter.png", region=(0, 40, 240, 280))

    Opening wakes the device (the first time) and hands it the handshake;
    leaving the ``with`` block closes the link. ``serial`` chooses one hand
    controller by its bridge's serial number (None: the first); ``sim=True``
    runs against the simulated hand controller in real time at line speed.

    There is one link per process: a second open Device raises RuntimeError.
    Device failures raise :class:`vesk3.Vesk3Error`. A busy device and a
    system change are waited out as vesk3ctl does (noted on the "vesk3"
    logger); "powered off" raises. Every blocking exchange releases the GIL.
    Ctrl+C (or any exception a signal handler raises) is seen between
    exchanges: a key still held is released first, then it propagates.
    """

    def __init__(self, serial: Optional[str] = None, sim: bool = False) -> None:
        self._serial = serial
        self._sim = sim
        self._session: Optional[_vesk3.Session] = None
        self.last_screen: Optional[np.ndarray] = None
        """The last screen this session saw (screenshot, expect, frames), or None."""

    # -- opening and closing -------------------------------------------------

    def open(self) -> "Device":
        """Opens the bridge and the session (wake-up, handshake)."""
        if self._session is not None:
            return self
        session = _vesk3.Session(self._serial, self._sim)
        self._session = session
        try:
            self._call(session.connect)
        except BaseException:
            self.close()
            raise
        return self

    def close(self) -> None:
        """Closes the link; the Device can be opened again."""
        session, self._session = self._session, None
        if session is not None:
            session.close()

    @property
    def is_open(self) -> bool:
        return self._session is not None

    def __enter__(self) -> "Device":
        return self.open()

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass

    def _live(self) -> "_vesk3.Session":
        if self._session is None:
            raise RuntimeError("the device is not open (use it in a with block, or call open())")
        return self._session

    def _call(self, method, *args):
        session = self._session
        try:
            return method(*args)
        finally:
            if session is not None:
                for note in session.take_notes():
                    _log.warning("%s", note)

    # -- what the device is --------------------------------------------------

    def info(self) -> DeviceInfo:
        """The Device Info items of the window (serial, mode, versions, chip id, unique id)."""
        return DeviceInfo(*self._call(self._live().info))

    # -- the screen ----------------------------------------------------------

    def screenshot(self) -> np.ndarray:
        """The whole screen now, as a 320 x 240 x 3 uint8 array (rows, columns, RGB),
        widened from RGB565 as the window widens it."""
        image = self._call(self._live().screenshot)
        self.last_screen = image
        return image

    def save_screenshot(self, path: Union[str, "os.PathLike[str]"], scale: int = 1) -> np.ndarray:
        """Writes the screen as a PNG, each pixel a scale x scale block (1 .. 16);
        returns the screen at device size."""
        image = self.screenshot()
        _vesk3.write_png(os.fspath(path), image, scale)
        return image

    def expect(self, reference: Reference, timeout: float = 5.0,
               region: Optional[Tuple[int, int, int, int]] = None, tolerance: int = 0) -> float:
        """Mirrors the screen at the window's 76 ms period until it matches the reference.

        ``reference`` is a PNG path (device size or a whole multiple, as
        ``screenshot --scale N`` writes it) or an array of height x width x 3
        uint8. ``region`` is ``(x, y, w, h)`` in device pixels (None: all of it);
        ``tolerance`` is allowed per colour channel (0 .. 255).

        Returns the seconds from the first refresh to the matching one. On
        timeout raises :class:`vesk3.ScreenMismatch` with the number of
        differing pixels, the last screen and the diff image.
        """
        if isinstance(reference, np.ndarray):
            image = reference
        else:
            image = _vesk3.read_png(os.fspath(reference))
        if region is not None:
            region = tuple(int(v) for v in region)
        matched, ms, differing, screen, diff = self._call(
            self._live().expect, image, region, int(tolerance), float(timeout))
        if screen is not None:
            self.last_screen = screen
        if not matched:
            raise ScreenMismatch(differing, screen, diff, timeout)
        return ms / 1000.0

    def frames(self, seconds: Optional[float] = None,
               count: Optional[int] = None) -> Iterator[Tuple[float, np.ndarray]]:
        """Yields ``(timestamp, array)`` for each refresh that changed the screen, asked
        for at the window's 76 ms period; the timestamp is seconds since the
        first refresh. Stops after ``count`` frames or once ``seconds`` have
        passed (None: no limit)."""
        session = self._live()
        limit_ms = 0 if seconds is None else max(1, _milliseconds(seconds, "seconds"))
        self._call(session.start_frames)
        produced = 0
        while count is None or produced < count:
            frame = self._call(session.next_frame, limit_ms)
            if frame is None:
                return
            ms, image = frame
            self.last_screen = image
            produced += 1
            yield ms / 1000.0, image
            if limit_ms and ms >= limit_ms:
                return

    def record(self, path: Union[str, "os.PathLike[str]"], seconds: float) -> int:
        """Records the mirror as ``vesk3ctl record`` does: ``*.mkv`` lossless FFV1,
        ``*.mp4`` H.264, anything else a folder of numbered PNGs with frames.csv,
        every frame with the real time it arrived. Returns the number of frames.
        The file is completed whatever ends the recording."""
        return self._call(self._live().record, os.fspath(path), float(seconds))

    # -- keys ----------------------------------------------------------------

    def press(self, *keys: str, hold: Optional[float] = None, gap: float = _DEFAULT_GAP) -> None:
        """Presses the keys in order ("esc" "enter" "up" "down" "left" "right"),
        ``gap`` seconds apart. With ``hold`` each key stays down that many seconds,
        repeating as a held PC key does (after 500 ms, every 33 ms). Returns
        once every key is up."""
        if not keys:
            raise ValueError("press needs at least one key: " + " ".join(KEY_NAMES))
        codes = []
        for key in keys:
            code = _vesk3.key_code(key) if isinstance(key, str) else -1
            if code < 0:
                raise ValueError(f"unknown key {key!r}: the keys are " + " ".join(KEY_NAMES))
            codes.append(code)
        hold_ms = 0 if hold is None else _milliseconds(hold, "hold")
        self._call(self._live().press, codes, hold_ms, _milliseconds(gap, "gap"))

    def push_esc(self) -> None:
        """Pulses the bridge's CBUS1 line for 200 ms: the device's hardware Esc key.
        Works also when the device does not answer (it switches a switched-off
        device on)."""
        self._call(self._live().push_esc)
