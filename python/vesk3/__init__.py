"""vesk3: the Vesk-3 hand controller from Python.

One session held open across the steps of a test: screenshots as numpy
arrays, key presses, the hardware Esc key, waiting for the screen to match a
reference, the mirror's frames and recordings. ``vesk3.pytest_plugin`` gives
pytest the ``vesk3_device`` fixture (``--vesk3-sim``, ``--vesk3-serial``).
"""

from ._device import DISPLAY_SHAPE, KEY_NAMES, MIRROR_PERIOD, Device, DeviceInfo
from ._errors import ScreenMismatch, Vesk3Error

__all__ = [
    "DISPLAY_SHAPE",
    "KEY_NAMES",
    "MIRROR_PERIOD",
    "Device",
    "DeviceInfo",
    "ScreenMismatch",
    "Vesk3Error",
]
