"""Checks of the harness itself, where a fault would let other tests pass
without looking: the window watcher, the template's settings, time-outs."""

import subprocess
import time

import pytest

import harness


def test_window_watcher_sees_a_visible_window(prefix):
    """The positive control for every "the dialog never showed" assertion."""
    notepad = subprocess.Popen(["wine", "notepad"], env=prefix.env(),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        with harness.WindowWatcher(prefix.display, "Notepad") as watcher:
            deadline = time.monotonic() + 30
            while not watcher.seen and time.monotonic() < deadline:
                time.sleep(0.1)
        assert watcher.seen and not watcher.errors
        assert prefix.wait_for_window("Notepad", timeout=5)
    finally:
        notepad.kill()
        notepad.wait()


def test_watcher_reports_a_display_it_cannot_open():
    _, error = harness.find_visible_windows(":999", "anything")
    assert error


def test_prefix_on_a_display_that_is_gone_is_an_environment_fault(wine_template, tmp_path):
    """A machine that cannot show windows must stop a test as an environment
    fault, not let the updater's windowless ending pass for a result."""
    with harness.fresh_prefix(wine_template, tmp_path, ":999") as prefix:
        with pytest.raises(harness.EnvironmentFault, match="display :999 does not answer"):
            prefix.ready()


def test_template_turns_automatic_proxy_detection_off(prefix):
    result = prefix.wine("reg", "query",
                         r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
                         r"\Connections", "/v", "DefaultConnectionSettings")
    data = result.stdout.decode(errors="replace").split("REG_BINARY")[1].split()[0]
    record = bytes.fromhex(data)
    assert int.from_bytes(record[0:4], "little") == 0x46
    assert int.from_bytes(record[8:12], "little") == 1  # direct, no auto-detect
    assert record[12:24] == bytes(12)  # no proxy, bypass list or script URL


def test_run_that_outlives_its_timeout_fails_loudly(prefix, fixture_exe):
    prefix.install_file(fixture_exe("sleeper.exe"), r"C:\Temp\sleeper.exe")
    start = time.monotonic()
    with pytest.raises(harness.HarnessError, match="still running"):
        prefix.run(r"C:\Temp\sleeper.exe", ["30"], timeout=3)
    assert time.monotonic() - start < 15


def test_wine_runs_without_address_randomization(prefix, fixture_exe):
    """Debian's 64-bit Wine loader reserves none of Windows' fixed addresses
    before the C library starts; with the heap placed at random, about one
    start in some thousands ended at once with exit code 1 and no output (its
    heap over the shared user data page). Every program the harness starts,
    and all they start, runs with randomization off."""
    sleeper = prefix.start_background(fixture_exe("sleeper.exe"), r"C:\Temp\sleeper.exe",
                                      ["30", "{ready}"])
    personality = int(open(f"/proc/{sleeper.popen.pid}/personality").read(), 16)
    assert personality & 0x0040000  # ADDR_NO_RANDOMIZE


def test_missing_build_output_fails_loudly(tmp_path):
    with pytest.raises(harness.HarnessError, match="not found at .*TsDLMUpdater.exe"):
        harness.require_file(tmp_path / "TsDLMUpdater.exe", "TsDLMUpdater.exe")


def test_paths_inside_the_prefix(prefix):
    assert prefix.unix_path(r"C:\users\Public\Documents") == prefix.public_documents
    assert prefix.temp_dir.is_dir()
    assert prefix.local_app_data.is_dir()
    assert prefix.public_documents.is_dir()
    with pytest.raises(harness.HarnessError):
        prefix.unix_path(r"Z:\work")
