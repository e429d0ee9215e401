"""pytest plugin for firmware tests on the Vesk-3 hand controller.

Enabled by the package's pytest11 entry point, or with ``-p vesk3.pytest_plugin``.

- ``vesk3_device``: one open :class:`vesk3.Device` for the whole test run
  (one session across every test; the device keeps its state between them).
  ``--vesk3-sim`` runs against the simulated hand controller, ``--vesk3-serial``
  chooses a hand controller by its bridge's serial number.
- When a test that uses it fails, the screen is saved as
  ``vesk3-failures/<test>.png`` beside the report (the ``--junitxml`` file's
  folder, or the root folder of the run) and its path is printed.
"""

from __future__ import annotations

import os
import re
from pathlib import Path
from typing import Iterator, List, Optional

import pytest

from ._device import Device
from ._errors import Vesk3Error

FAILURES_FOLDER = "vesk3-failures"
_SAVED_KEY = pytest.StashKey[List[str]]()
_DEVICE_KEY = pytest.StashKey[Optional[Device]]()


def pytest_addoption(parser: pytest.Parser) -> None:
    group = parser.getgroup("vesk3", "Vesk-3 hand controller")
    group.addoption("--vesk3-sim", action="store_true", default=False,
                    help="run vesk3_device against the simulated hand controller")
    group.addoption("--vesk3-serial", default=None, metavar="SERIAL",
                    help="the hand controller to use, by its bridge's serial number")


def pytest_configure(config: pytest.Config) -> None:
    config.stash[_SAVED_KEY] = []
    config.stash[_DEVICE_KEY] = None


@pytest.fixture(scope="session")
def vesk3_device(pytestconfig: pytest.Config) -> Iterator[Device]:
    """The hand controller, open for the whole run."""
    device = Device(serial=pytestconfig.getoption("vesk3_serial"),
                    sim=pytestconfig.getoption("vesk3_sim"))
    with device:
        pytestconfig.stash[_DEVICE_KEY] = device
        try:
            yield device
        finally:
            pytestconfig.stash[_DEVICE_KEY] = None


def failure_folder(config: pytest.Config) -> Path:
    """Where failure screenshots go: beside the JUnit report, or in the run's root folder."""
    xml = config.getoption("xmlpath", default=None)
    base = Path(xml).resolve().parent if xml else Path(config.rootpath)
    return base / FAILURES_FOLDER


def screenshot_name(nodeid: str) -> str:
    """A file name for a test: its node id with every unsafe run of characters as one '_'."""
    return re.sub(r"[^A-Za-z0-9_.-]+", "_", nodeid).strip("_") + ".png"


def _failure_screen(device: Device):
    """The screen now, or the last one the session saw when the device does not answer."""
    if device.is_open:
        try:
            return device.screenshot()
        except (Vesk3Error, RuntimeError):
            pass
    return device.last_screen


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item: pytest.Item, call: pytest.CallInfo):
    outcome = yield
    report = outcome.get_result()
    if not report.failed or "vesk3_device" not in getattr(item, "fixturenames", ()):
        return
    device = item.config.stash.get(_DEVICE_KEY, None)
    if device is None:
        return
    screen = _failure_screen(device)
    if screen is None:
        return
    folder = failure_folder(item.config)
    folder.mkdir(parents=True, exist_ok=True)
    path = folder / screenshot_name(item.nodeid)
    from . import _vesk3

    _vesk3.write_png(os.fspath(path), screen, 1)
    report.sections.append(("vesk3", f"screenshot of the device: {path}"))
    item.config.stash[_SAVED_KEY].append(str(path))


def pytest_terminal_summary(terminalreporter, exitstatus: int, config: pytest.Config) -> None:
    saved = config.stash.get(_SAVED_KEY, [])
    if not saved:
        return
    terminalreporter.section("vesk3 failure screenshots")
    for path in saved:
        terminalreporter.write_line(path)
