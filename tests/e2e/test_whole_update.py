"""A whole update by the real updater under Wine: the running download
manager asked to quit, the progress dialog as the user sees it, and the
installer run. The download manager is fake_dlm.exe started as
"...\\Tessarin Shared\\...\\TsDLMgr.exe"; the dialog is read from outside by
window_probe.exe."""

import os
import subprocess
import time
from pathlib import Path

import pytest

import harness
from scenarios import (BAD_SIGNATURE, CAPTION, INSTALLED, INSTALLED_DLM, INSTALLER_URL_PATH,
                       NO_INSTALLER, NOT_HIGHER, NOT_INSTALLED, OFFERED_VERSION, QUIT_DLM,
                       RUN_TIMEOUT, RUNNING_DLM, error_session, event_names, file_version,
                       read_log, read_record)

MESSAGE = ("Please wait a moment while Download Manager finishes updating. Your "
           "download will automatically start when the update completes.")
NO_DLM_WINDOW = b"[ERROR] Failed to get running DLM handle!\r\n"
PBS_MARQUEE = 0x08
SCREENSHOT_DIR = Path(os.environ.get("TSDLM_SCREENSHOT_DIR")
                      or harness.REPO / "build" / "screenshots")

# The fifteen interface languages: Linux locale, language id, caption (text
# 112) and status during the download (text 104 at 42 %).
LANGUAGES = [
    ("en_US", 1033, CAPTION, "Downloading ... 42.00%"),
    ("de_DE", 1031, "Tessarin Download Manager wird aktualisiert",
     "Wird heruntergeladen... 42.00%"),
    ("fr_FR", 1036, None, None), ("it_IT", 1040, None, None),
    ("es_ES", 3082, None, None), ("pt_BR", 1046, None, None),
    ("pt_PT", 2070, None, None), ("cs_CZ", 1029, None, None),
    ("hu_HU", 1038, None, None), ("pl_PL", 1045, None, None),
    ("ru_RU", 1049, None, None), ("ja_JP", 1041, None, None),
    ("ko_KR", 1042, None, None), ("zh_CN", 2052, None, None),
    ("zh_TW", 1028, None, None),
]


@pytest.fixture(scope="session")
def locales(tmp_path_factory):
    """Compiled Linux locales for Wine's interface language (LOCPATH)."""
    folder = tmp_path_factory.mktemp("locales")
    for locale, *_ in LANGUAGES:
        subprocess.run(["localedef", "-i", locale, "-f", "UTF-8",
                        str(folder / f"{locale}.UTF-8")], capture_output=True)
        if not (folder / f"{locale}.UTF-8").exists():
            raise harness.HarnessError(f"localedef {locale} failed")
    return folder


def downloading(text):
    return lambda state: state.get("status") == text


def press(prefix, window, key):
    """Activates `window` and sends it `key`."""
    harness.xdotool(prefix.display, "windowactivate", "--sync", window, capture_output=True,
                    timeout=10)
    harness.xdotool(prefix.display, "key", "--window", window, key, check=True, timeout=10)


# --- The endings -----------------------------------------------------------------

def test_installed_after_the_download_manager_quits(update):
    """The download manager has other windows first; only its main window is
    asked, the update is installed and a second check finds nothing newer."""
    update.offer()
    update.installs_for_real()
    dlm = update.start_dlm(others=3)
    assert file_version(update.prefix.unix_path(INSTALLED_DLM)) == "6.1.32.0"

    result = update.run(installer_exit=0)

    e = update.entries
    assert read_log(update.prefix) == e.installed(after_manifest=[QUIT_DLM])
    assert event_names(update.prefix) == INSTALLED
    assert update.dlm_requests() == [
        "quit_request window=Tessarin Download Manager wparam=0 lparam=0 reply=1"]
    dlm.popen.wait(20)  # it exits after answering
    assert result.windows_seen
    assert file_version(update.prefix.unix_path(INSTALLED_DLM)) == OFFERED_VERSION

    update.prefix.temp_log_path.unlink()
    update.prefix.shared_log_path.unlink()
    second = update.run()

    assert read_log(update.prefix) == e.manifest_start()[:2] + [
        e.line(f"Compare Version: {OFFERED_VERSION} To: {OFFERED_VERSION}"), NOT_HIGHER]
    assert event_names(update.prefix)[2:] == error_session("installed version is up-to-date")
    assert second.windows_seen == []


def test_arguments_of_a_launcher_change_nothing(update):
    """Arguments that do not start with /check (a launcher's own) run the
    whole update exactly as none do."""
    update.offer()

    result = update.run(args=["/silent", "foo"])

    assert read_log(update.prefix) == update.entries.installed()
    assert event_names(update.prefix) == INSTALLED
    assert read_record(update.prefix)["arguments"] == "-quiet"
    assert result.windows_seen


# How the download manager refuses: its start options (None: a process with
# the right path and no window at all), the extra log line, whether it got
# the request.
@pytest.mark.parametrize("options, extra_lines, requests", [
    ({"disabled": 1}, [], []),
    ({"reply": 0, "exit": 0}, [],
     ["quit_request window=Tessarin Download Manager wparam=0 lparam=0 reply=0"]),
    ({"others": 2, "reply": 0, "exit": 0}, [],
     ["quit_request window=Tessarin Download Manager wparam=0 lparam=0 reply=0"]),
    (None, [NO_DLM_WINDOW], []),
], ids=["window-disabled", "reply-0", "reply-0-several-windows", "no-window"])
def test_download_manager_refuses(update, options, extra_lines, requests):
    update.offer()
    if options is None:
        dlm = update.start_dlm("sleeper.exe")
    else:
        dlm = update.start_dlm(**options)

    result = update.run()

    assert read_log(update.prefix) == update.entries.manifest_start() + extra_lines
    assert event_names(update.prefix) == error_session("failed to exit download manager")
    assert update.dlm_requests() == requests
    assert dlm.running(), "the updater must never end the download manager"
    assert result.windows_seen == []
    assert update.installer_requests() == 0


def test_installer_exiting_3(update):
    update.offer()

    result = update.run(installer_exit=3)

    assert read_log(update.prefix) == update.entries.installed() + [NOT_INSTALLED]
    assert event_names(update.prefix) == error_session("install failed")
    assert read_record(update.prefix)["arguments"] == "-quiet"
    assert result.windows_seen


@pytest.mark.parametrize("kind", ["other", "self_signed", "foreign_root", "fake_root"])
def test_refused_installer_three_times(update, kind):
    """Signed by another publisher, or as "Tessarin, Inc" on a chain that
    ends in no root the machine trusts (which Wine's provider accepts), each
    time; the download manager had quit before."""
    update.offer(kind=kind)
    dlm = update.start_dlm()

    result = update.run()

    e = update.entries

    def refused(path):
        return e.other_publisher(path) if kind == "other" else [e.not_trusted()]
    # The checked copy is refused; the reuse test then looks at the download.
    assert read_log(update.prefix) == e.refused_three_times(
        refused(e.staged) + [BAD_SIGNATURE],
        [e.downloaded_version(OFFERED_VERSION)] + refused(e.installer),
        after_manifest=[QUIT_DLM]) + [update.started_again()]
    assert event_names(update.prefix) == error_session("download installer failed")
    assert update.installer_requests() == 3
    assert read_record(update.prefix) is None
    assert result.windows_seen
    # Asked to quit, it did; the refused installer leaves it running again.
    assert len(update.dlm_requests()) == 1
    assert update.dlm_back(dlm)


# It agrees to quit, then takes its time to end (it saves its lists) and
# allows one instance; the installer download fails at once. It is started
# again once it has gone, or, past the bound, left as it is.
@pytest.mark.parametrize("closing, given_back", [(3000, True), (60000, False)],
                         ids=["gone-after-3s", "still-closing-at-the-bound"])
def test_download_manager_given_back_once_it_has_gone(update, closing, given_back):
    update.offer()
    update.server.set_rule(INSTALLER_URL_PATH, status=404)
    update.env["TSDLM_FAKE_DLM_SINGLE"] = "1"
    dlm = update.start_dlm(closing=closing)

    result = update.run()

    last = update.started_again() if given_back else update.entries.line(
        f"[ERROR] The DLM is still running after 20 s, not starting it again: "
        f"{RUNNING_DLM}")
    assert read_log(update.prefix)[-2:] == [NO_INSTALLER, last]
    if given_back:
        assert update.dlm_back(dlm)
    else:
        assert result.wall_time >= 20 and dlm.running()


def test_installer_windows_will_not_start(update):
    """Signed by Tessarin, the offered version, and a DLL: every check passes,
    the shell shows its error box, and after OK the download manager that
    quit runs again."""
    update.offer(exe="installer_dll.dll")
    dlm = update.start_dlm()

    process = update.launch()
    box = update.prefix.wait_for_window("^Error$", timeout=RUN_TIMEOUT)[0]
    press(update.prefix, box, "Return")
    assert process.wait(RUN_TIMEOUT) == 0

    assert read_log(update.prefix) == update.entries.installed(after_manifest=[QUIT_DLM]) + [
        NOT_INSTALLED, update.started_again()]
    assert event_names(update.prefix) == error_session("install failed")
    assert update.dlm_back(dlm)


def test_reused_installer_reports_no_progress(update):
    """Status text 103 and an empty bar until the installing state."""
    update.offer()
    update.run(installer_exit=1)
    update.server.clear_requests()
    update.env["TSDLM_FAKE_INSTALLER_SLEEP_MS"] = "6000"

    process = update.launch()
    update.prefix.wait_for_window(CAPTION)
    states = []
    while process.poll() is None:
        state = update.probe()
        if state.get("visible"):
            states.append(state)
        if state.get("marquee"):
            break
    assert process.wait(RUN_TIMEOUT) == 0

    assert update.installer_requests() == 0
    assert states and states[-1]["status"] == "Installing...", states
    assert all(s["status"] == "Initializing ..." for s in states if not s["marquee"])
    assert all(s["position"] == 0 for s in states), states


# --- The dialog ---------------------------------------------------------------------

def test_dialog_from_hidden_to_installing(update):
    update.offer()
    update.server.set_rule("/utility/dlm/prod/Installer/update.xml",
                           stall_after=20, stall_seconds=4)
    update.stall_installer_at(42, seconds=4)
    update.env["TSDLM_FAKE_INSTALLER_SLEEP_MS"] = "4000"

    process = update.launch()
    hidden = update.wait_for(lambda s: s["found"], "the dialog created", process)
    assert hidden["visible"] is False
    assert (hidden["status"], hidden["message"]) == ("", "")

    at42 = update.wait_for(downloading("Downloading ... 42.00%"), "42 %", process)
    assert at42["visible"] and at42["caption"] == CAPTION
    assert at42["message"] == MESSAGE
    assert (at42["position"], at42["low"], at42["high"]) == (42, 0, 100)
    assert not at42["marquee"]

    installing = update.wait_for(lambda s: s["marquee"], "the marquee", process)
    assert installing["status"] == "Installing..."
    assert installing["progress_style"] & PBS_MARQUEE
    # The last report was 100: the bar ended full and the range is 0..100.
    assert (installing["position"], installing["low"], installing["high"]) == (100, 0, 100)
    assert process.wait(RUN_TIMEOUT) == 0
    assert event_names(update.prefix) == INSTALLED


def test_dialog_states_before_the_size_is_known_and_at_the_end(update):
    """0.00 % with an empty bar while no body has come, then 100.00 % with a
    full bar (caught while the installer's checks run)."""
    update.offer()
    update.stall_installer_at(0, seconds=4)
    update.env["TSDLM_FAKE_INSTALLER_SLEEP_MS"] = "3000"

    process = update.launch()
    at0 = update.wait_for(downloading("Downloading ... 0.00%"), "0 %", process)
    assert (at0["position"], at0["low"], at0["high"]) == (0, 0, 100)
    last = update.wait_for(lambda s: s["marquee"] or s["status"] ==
                           "Downloading ... 100.00%", "the end of the download", process)
    if not last["marquee"]:
        assert (last["position"], last["low"], last["high"]) == (100, 0, 100)
    assert process.wait(RUN_TIMEOUT) == 0


def test_closing_during_download_ends_at_once_and_escape_does_nothing(update):
    update.offer()
    update.stall_installer_at(10, seconds=None)  # until the server stops
    dlm = update.start_dlm()

    process = update.launch()
    update.wait_for(downloading("Downloading ... 10.00%"), "10 %", process)
    press(update.prefix, update.prefix.wait_for_window(CAPTION)[0], "Escape")
    time.sleep(1)
    still = update.probe()
    assert still["visible"] and still["status"] == "Downloading ... 10.00%"
    assert process.poll() is None

    update.probe(close=True)
    started = time.monotonic()
    assert process.wait(15) == 0
    assert time.monotonic() - started < 5
    assert event_names(update.prefix) == INSTALLED
    # The flow never reached an ending: nothing after the download began but
    # the download manager, which had quit, given back.
    assert read_log(update.prefix)[-2:] == [update.entries.downloaded_version(""),
                                           update.started_again()]
    assert update.dlm_back(dlm)


@pytest.mark.parametrize("locale, language, caption, status",
                         [row for row in LANGUAGES if row[2]],
                         ids=[row[0] for row in LANGUAGES if row[2]])
def test_interface_language(update, locales, locale, language, caption, status):
    update.offer()
    update.stall_installer_at(42, seconds=None)
    update.env.update(LOCPATH=str(locales), LC_ALL=f"{locale}.UTF-8")

    process = update.launch()
    state = update.wait_for(downloading(status), status, process, caption=caption)
    assert state["caption"] == caption
    update.probe(caption=caption, close=True)
    assert process.wait(15) == 0


def test_screenshots_of_every_language(update, locales):
    """PNGs of the dialog at 42 % in build/screenshots/, one per language,
    for looking at: every text must fit its control."""
    update.offer()
    update.stall_installer_at(42, seconds=None)
    SCREENSHOT_DIR.mkdir(parents=True, exist_ok=True)
    display = update.prefix.display
    for locale, language, *_ in LANGUAGES:
        update.env.update(LOCPATH=str(locales), LC_ALL=f"{locale}.UTF-8")
        process = update.launch()
        deadline = time.monotonic() + 40
        window = None
        while window is None and time.monotonic() < deadline:
            found = harness.xdotool(display, "search", "--onlyvisible", "--class",
                                    "TsDLMUpdater.exe", capture_output=True,
                                    text=True).stdout.split()
            window = found[0] if found else None
            time.sleep(0.2)
        assert window, f"no dialog for {locale}"
        time.sleep(1.5)
        out = SCREENSHOT_DIR / f"dialog-{language}-{locale}.png"
        subprocess.run(["/usr/bin/import", "-window", window, str(out)],
                       env=harness.display_env(display), check=True, timeout=30)
        caption = harness.xdotool(display, "getwindowname", window, capture_output=True,
                                  text=True).stdout.strip()
        update.probe(caption=caption, close=True)
        assert process.wait(15) == 0
        assert out.stat().st_size > 0
