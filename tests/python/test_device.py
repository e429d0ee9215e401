"""vesk3.Device against the simulated hand controller, in real time."""

import signal
import time

import numpy as np
import pytest

import vesk3

BELOW_TITLE = (0, 30, 240, 290)  # the title bar carries a running clock
UP, RELEASE = 4, 128


@pytest.fixture(scope="module")
def dev():
    with vesk3.Device(sim=True) as device:
        yield device


def test_info_is_the_device_info_report(dev):
    assert dev.info() == vesk3.DeviceInfo("VK30A1B2", "APP", 0x0103, 0x0201, 0x3A5C1F0042,
                                          "VK3-HC-00417-A2C")


def test_screenshot_is_the_device_screen_and_saves_enlarged(dev, tmp_path):
    shot = dev.screenshot()
    assert shot.shape == (320, 240, 3) and shot.dtype == np.uint8
    assert np.array_equal(shot[30:], dev._session.sim_screen()[30:])
    dev.save_screenshot(tmp_path / "x2.png", scale=2)
    assert dev.expect(tmp_path / "x2.png", region=BELOW_TITLE, timeout=2) < 1.0


def test_press_and_hold_send_the_events_and_releases(dev):
    before = len(dev._session.sim_button_events())
    dev.press("up", hold=0.6)
    events = dev._session.sim_button_events()[before:]
    assert events == [UP] * 5 + [UP + RELEASE]  # press, repeats at 500..599 ms, release


def test_interrupt_during_hold_releases_the_key(dev):
    before = len(dev._session.sim_button_events())
    old = signal.signal(signal.SIGALRM, signal.default_int_handler)
    signal.setitimer(signal.ITIMER_REAL, 0.3)
    started = time.monotonic()
    try:
        with pytest.raises(KeyboardInterrupt):
            dev.press("up", hold=5)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
    assert time.monotonic() - started < 2
    assert dev._session.sim_button_events()[before:] == [UP, UP + RELEASE]
    dev.info()  # the session goes on


@pytest.mark.parametrize("delta, tolerance, matches", [(0, 0, True), (3, 3, True), (3, 2, False)])
def test_expect_tolerance(dev, delta, tolerance, matches):
    reference = np.clip(dev.screenshot().astype(int) + delta, 0, 255).astype(np.uint8)
    if matches:
        assert dev.expect(reference, region=BELOW_TITLE, tolerance=tolerance, timeout=2) < 1.0
    else:
        with pytest.raises(vesk3.ScreenMismatch):
            dev.expect(reference, region=BELOW_TITLE, tolerance=tolerance, timeout=0.3)


def test_expect_timeout_carries_count_and_diff(dev):
    reference = dev.screenshot().copy()
    reference[100:110, 100:110] = (1, 2, 3)
    with pytest.raises(vesk3.ScreenMismatch) as caught:
        dev.expect(reference, region=BELOW_TITLE, timeout=0.3)
    assert caught.value.differing == 100
    assert tuple(caught.value.diff[105, 105]) == (255, 0, 0)


@pytest.mark.parametrize("kwargs", [{"region": (0, 0, 241, 320)}, {"tolerance": 256}])
def test_expect_refuses_bad_arguments(dev, kwargs):
    with pytest.raises(ValueError):
        dev.expect(dev.screenshot(), **kwargs)


def test_expect_refuses_wrong_size_and_missing_file(dev, tmp_path):
    with pytest.raises(ValueError):
        dev.expect(np.zeros((100, 100, 3), np.uint8))
    with pytest.raises(OSError):
        dev.expect(tmp_path / "missing.png")


def test_frames_at_the_mirror_period(dev):
    stamps = [t for t, image in dev.frames(count=4)]
    assert len(stamps) == 4
    assert all(b - a >= 0.07 for a, b in zip(stamps, stamps[1:]))
    assert [t for t, _ in dev.frames(seconds=0.3)][-1] >= 0.3


def test_record_folder_and_video(dev, tmp_path):
    frames = dev.record(tmp_path / "rec", 0.4)
    lines = (tmp_path / "rec" / "frames.csv").read_text().splitlines()
    assert frames >= 4 and len(lines) == frames + 1
    assert dev.record(tmp_path / "rec.mkv", 0.3) >= 3
    (tmp_path / "plain").write_text("")
    with pytest.raises(ValueError):
        dev.record(tmp_path / "plain", 0.3)


def test_unknown_key_and_second_device(dev):
    with pytest.raises(ValueError):
        dev.press("space")
    with pytest.raises(RuntimeError, match="already open"):
        vesk3.Device(sim=True).open()


def test_one_session_across_many_steps(dev):
    dev.press("esc")
    pages = []
    for _ in range(5):
        dev.press("down")
        pages.append(dev.screenshot())
    for step in range(10):
        dev.press("down")
        dev.expect(pages[step % 5], region=BELOW_TITLE, timeout=2)
