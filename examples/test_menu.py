"""An example firmware test: open the Counter page and check it.

    python3 -m pytest examples/test_menu.py --vesk3-sim     # the simulated hand controller
    python3 -m pytest examples/test_menu.py                 # the attached one
"""

from pathlib import Path

import numpy as np

HERE = Path(__file__).parent
HEADING = (0, 30, 240, 60)  # below the title bar's clock, above the number
NUMBER_ROWS = slice(120, 190)


def test_counter_page_opens_and_counts(vesk3_device):
    dev = vesk3_device
    dev.press("down", "enter")  # "Counter" is the second item of the main menu
    dev.expect(HERE / "counter.png", region=HEADING, timeout=3)
    first = dev.screenshot()[NUMBER_ROWS]
    assert any(not np.array_equal(frame[NUMBER_ROWS], first)
               for _, frame in dev.frames(seconds=2))
    dev.press("esc")
