"""The pytest plugin, loaded by its entry point in a pytest run of its own."""

import subprocess
import sys


def test_failing_test_leaves_its_screenshot(tmp_path):
    (tmp_path / "test_fw.py").write_text(
        "def test_passes(vesk3_device):\n"
        "    assert vesk3_device.info().mode == 'APP'\n"
        "def test_fails(vesk3_device):\n"
        "    assert False\n")
    run = subprocess.run([sys.executable, "-m", "pytest", "-p", "no:cacheprovider", "--vesk3-sim",
                          str(tmp_path)], cwd=tmp_path, capture_output=True, text=True)
    assert run.returncode == 1, run.stdout + run.stderr
    saved = tmp_path / "vesk3-failures" / "test_fw.py_test_fails.png"
    assert saved.is_file() and str(saved) in run.stdout
    assert not (tmp_path / "vesk3-failures" / "test_fw.py_test_passes.png").exists()
