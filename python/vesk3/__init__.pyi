import os
from dataclasses import dataclass
from typing import Iterator, Optional, Tuple, Union

import numpy as np

KEY_NAMES: Tuple[str, ...]
MIRROR_PERIOD: float
DISPLAY_SHAPE: Tuple[int, int, int]

Reference = Union[str, os.PathLike[str], np.ndarray]

class Vesk3Error(Exception):
    code: int
    text: str
    detail: str
    hint: str
    def __init__(self, code: int, text: str, detail: str = ..., hint: str = ...) -> None: ...

class ScreenMismatch(AssertionError):
    differing: int
    screen: Optional[np.ndarray]
    diff: Optional[np.ndarray]
    timeout: float

@dataclass(frozen=True)
class DeviceInfo:
    serial: str
    mode: str
    protocol_version_1: int
    protocol_version_2: int
    chip_id: int
    unique_id: str

class Device:
    last_screen: Optional[np.ndarray]
    def __init__(self, serial: Optional[str] = None, sim: bool = False) -> None: ...
    def open(self) -> Device: ...
    def close(self) -> None: ...
    @property
    def is_open(self) -> bool: ...
    def __enter__(self) -> Device: ...
    def __exit__(self, *exc: object) -> None: ...
    def info(self) -> DeviceInfo: ...
    def screenshot(self) -> np.ndarray: ...
    def save_screenshot(self, path: Union[str, os.PathLike[str]], scale: int = 1) -> np.ndarray: ...
    def expect(
        self,
        reference: Reference,
        timeout: float = 5.0,
        region: Optional[Tuple[int, int, int, int]] = None,
        tolerance: int = 0,
    ) -> float: ...
    def frames(
        self, seconds: Optional[float] = None, count: Optional[int] = None
    ) -> Iterator[Tuple[float, np.ndarray]]: ...
    def record(self, path: Union[str, os.PathLike[str]], seconds: float) -> int: ...
    def press(self, *keys: str, hold: Optional[float] = None, gap: float = 0.1) -> None: ...
    def push_esc(self) -> None: ...
