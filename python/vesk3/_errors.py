"""The exceptions of the vesk3 package."""

from __future__ import annotations

from typing import Optional


class Vesk3Error(Exception):
    """A device, link or notification failure.

    ``code`` is the result code (1 "Can not open device", 9 a link failure,
    13 the device powered off, ...), ``text`` the line vesk3ctl prints for it
    ("Error (1): Can not open device"), ``detail`` the link's own diagnostic
    line ("" when it has none) and ``hint`` plain words on what to do, or "".
    """

    def __init__(self, code: int, text: str, detail: str = "", hint: str = "") -> None:
        self.code = code
        self.text = text
        self.detail = detail
        self.hint = hint
        message = text
        if detail:
            message += f" ({detail})"
        if hint:
            message += f"; {hint}"
        super().__init__(message)


class ScreenMismatch(AssertionError):
    """``Device.expect`` timed out before the screen matched.

    ``differing`` is the number of differing pixels in the last frame (-1 when
    no frame arrived), ``screen`` that frame and ``diff`` the diff image (the
    screen dimmed, differing pixels red, a partial region's border yellow), each
    a 320 x 240 x 3 uint8 array, or None when no frame arrived.
    """

    def __init__(self, differing: int, screen: Optional[object], diff: Optional[object],
                 timeout: float) -> None:
        self.differing = differing
        self.screen = screen
        self.diff = diff
        self.timeout = timeout
        if differing < 0:
            message = f"no frame arrived within {timeout:g} s"
        else:
            message = f"{differing} pixels differ after {timeout:g} s"
        super().__init__(message)
