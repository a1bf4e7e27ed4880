"""The real updater under Wine, from start to exit, with no download manager
installed: the single ending it can reach, the log files, the analytics
events and the single-instance rule."""

import calendar
import os
import re
import time

import pytest

import harness

NO_INSTALLED_VERSION = b"[ERROR] Cannot get installed version.\r\n"
ENTRY = re.compile(rb"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)  (.*?\r\n)", re.S)
EVENT_KEYS = ["session", "time", "product", "event", "key", "value", "attributes"]
ATTRIBUTES = {"app_name": "TsDLMUpdater", "app_version": "6.1.32.0"}
PRODUCT = "Tessarin Download Manager"

# A run with nothing to do ends well within this; a blocked one sooner still.
RUN_TIMEOUT = 60


def log_entries(data):
    """[(timestamp text, message bytes)] of a whole log; fails on stray bytes."""
    entries, position = [], 0
    for match in ENTRY.finditer(data):
        assert match.start() == position, f"stray bytes in log: {data!r}"
        entries.append((match.group(1).decode(), match.group(2)))
        position = match.end()
    assert position == len(data), f"stray bytes in log: {data!r}"
    return entries


def assert_between(seconds, start, end, what):
    # Timestamps have whole seconds: allow the one the run started in.
    assert int(start) - 1 <= seconds <= end + 1, f"{what} outside the run"


def assert_single_error_run(prefix, start, end):
    """Both logs hold exactly the one error entry, stamped in local time."""
    temp_log, shared_log = prefix.read_temp_log(), prefix.read_shared_log()
    assert temp_log is not None, "temporary log missing"
    assert temp_log == shared_log
    [(stamp, message)] = log_entries(temp_log)
    assert message == NO_INSTALLED_VERSION
    local = time.mktime(time.strptime(stamp, "%Y-%m-%d %H:%M:%S"))
    assert_between(local, start, end, "log timestamp")


def assert_error_session(events, start, end):
    """One session: launched, the error, exit, each complete and in order."""
    assert [(e["event"], e["key"], e["value"]) for e in events] == [
        ("updater_launched", "", ""),
        ("error_occurred", "error_string", "get installed version failed"),
        ("updater_exit", "", ""),
    ]
    sessions = {e["session"] for e in events}
    assert len(sessions) == 1
    assert re.fullmatch(r"[0-9a-fA-F]{32}", sessions.pop())
    for event in events:
        assert list(event) == EVENT_KEYS
        assert event["product"] == PRODUCT
        assert event["attributes"] == ATTRIBUTES
        assert list(event["attributes"]) == list(ATTRIBUTES)
        assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", event["time"])
        utc = calendar.timegm(time.strptime(event["time"], "%Y-%m-%dT%H:%M:%SZ"))
        assert_between(utc, start, end, "event time")


def run(prefix, **kwargs):
    start = time.time()
    result = prefix.run_updater(timeout=RUN_TIMEOUT, **kwargs)
    return result, start, time.time()


def assert_error_run(prefix, **kwargs):
    """A run that ends, unseen, with the one error in the logs and its
    analytics session."""
    result, start, end = run(prefix, **kwargs)
    assert result.returncode == 0, result.stderr
    assert result.windows_seen == [], "the dialog was shown"
    assert_single_error_run(prefix, start, end)
    assert_error_session(prefix.read_events(), start, end)


# From dist the updater's path has no "tessarin shared"; from the installed
# place it does, so it would stop itself if it did not leave its own process
# out of the search.
@pytest.mark.parametrize("place", [None, harness.INSTALLED_UPDATER],
                         ids=["from-dist", "from-installed-folder"])
def test_no_download_manager_installed(prefix, place):
    assert_error_run(prefix, windows_path=place)


def test_each_run_truncates_the_logs_and_appends_events(prefix):
    for path in (prefix.temp_log_path, prefix.shared_log_path):
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(b"junk from an earlier run\r\n" * 100)

    sessions = []
    for _ in range(2):
        result, start, end = run(prefix)
        assert result.returncode == 0, result.stderr
        assert_single_error_run(prefix, start, end)
        events = prefix.read_events()
        assert_error_session(events[len(sessions) * 3:], start, end)
        sessions.append(events[-1]["session"])
    assert len(prefix.read_events()) == 6
    assert sessions[0] != sessions[1]


# Another user's link at the shared log's name, a second name of one of this
# user's documents there, or a link in place of its folder aimed at an empty
# folder of the user's (Wine's symbolic links carry no reparse attribute: the
# final path shows where they lead). Nothing is written through any of them.
@pytest.mark.parametrize("linked", ["log", "second-name", "folder"])
def test_shared_log_behind_a_link_is_not_written(prefix, linked):
    documents = prefix.unix_path(prefix.profile_win) / "Documents"
    (documents / "empty").mkdir(parents=True, exist_ok=True)
    victim = documents / "letter.txt"
    victim.write_bytes(b"the user's own document\r\n")
    prefix.shared_log_path.parent.parent.mkdir(parents=True, exist_ok=True)
    if linked == "folder":
        prefix.shared_log_path.parent.symlink_to(documents / "empty")
    else:
        prefix.shared_log_path.parent.mkdir()
        link = os.link if linked == "second-name" else os.symlink
        link(victim, prefix.shared_log_path)

    result, _, _ = run(prefix)

    assert result.returncode == 0, result.stderr
    assert victim.read_bytes() == b"the user's own document\r\n"
    assert list((documents / "empty").iterdir()) == []
    [(_, refusal), (_, message)] = log_entries(prefix.read_temp_log())
    assert refusal.startswith(b"[ERROR] The shared log C:\\users\\Public\\Documents"
                              b"\\Tessarin\\TsDLM\\TsDLMUpdater.log is a link (final path ")
    assert refusal.endswith(b" names); it is not written.\r\n")
    assert message == NO_INSTALLED_VERSION


BLOCKER_SECONDS = 120


@pytest.mark.parametrize("blocker", [
    harness.INSTALLED_UPDATER,
    r"C:\Program Files\Common Files\TESSARIN SHARED\Tessarin Download Manager"
    r"\TSDLMUPDATER.EXE",
    r"C:\Program Files (x86)\Tessarin Shared\Old\TsDLMUpdater.exe",
], ids=["installed", "upper-case", "other-tessarin-shared-folder"])
@pytest.mark.parametrize("place", [None, r"C:\Temp\Elsewhere\TsDLMUpdater.exe"],
                         ids=["from-dist", "from-elsewhere"])
def test_running_installed_updater_blocks_a_new_one(prefix, fixture_exe, blocker, place):
    sleeper = prefix.start_background(fixture_exe("sleeper.exe"), blocker,
                                      [BLOCKER_SECONDS, "{ready}"])

    result = prefix.run_updater(timeout=RUN_TIMEOUT, windows_path=place)

    assert result.returncode == 0, result.stderr
    assert result.wall_time < 15, "a blocked updater should end at once"
    assert result.windows_seen == []
    assert prefix.read_temp_log() is None
    assert prefix.read_shared_log() is None
    assert prefix.read_events() == []
    assert sleeper.running(), "the blocking process ended before the check"

    # The control: the same run with the blocker gone logs and tracks as
    # usual, so the blocked run differs from it only by the rule under test
    # (and not, say, by a dialog that could not be created).
    sleeper.stop()
    assert_error_run(prefix, windows_path=place)


@pytest.mark.parametrize("other", [
    r"C:\Program Files\Common Files\Other Vendor\TsDLMUpdater.exe",
    harness.INSTALL_FOLDER + r"\TsDLMUpdater2.exe",
    harness.INSTALL_FOLDER + r"\TSRN.DLM.exe",
], ids=["same-name-other-folder", "other-name", "download-manager"])
def test_other_processes_do_not_block(prefix, fixture_exe, other):
    sleeper = prefix.start_background(fixture_exe("sleeper.exe"), other,
                                      [BLOCKER_SECONDS, "{ready}"])

    assert_error_run(prefix)
    assert sleeper.running()
