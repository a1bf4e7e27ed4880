"""A whole update by the real updater under Wine: the running download
manager asked to quit, the progress dialog as the user sees it, and the
installer run. The download manager is fake_dlm.exe started as
"...\\Tessarin Shared\\...\\TsDLMgr.exe"; the dialog is read from outside by
window_probe.exe."""

import json
import os
import struct
import subprocess
import time
from pathlib import Path

import pytest

import harness
from test_update_check import (INSTALLED_DLM, INSTALLER_URL_PATH, OFFERED_VERSION,
                               RUN_TIMEOUT, UpdateCheck, error_session, event_names,
                               read_log, read_record)

RUNNING_DLM = harness.INSTALL_FOLDER + r"\TsDLMgr.exe"
CAPTION = harness.DIALOG_CAPTION
MESSAGE = ("Please wait a moment while Download Manager finishes updating. Your "
           "download will automatically start when the update completes.")
QUIT_DLM = b"Successfully quit the DLM\r\n"
DLM_CAPTION = "Tessarin Download Manager"
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


def file_version(path):
    """The file version words of an executable's VS_FIXEDFILEINFO."""
    data = Path(path).read_bytes()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


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


class WholeUpdate(UpdateCheck):
    """UpdateCheck plus the running download manager and the dialog probe."""

    def __init__(self, prefix, server, fixture_exe, signing_kit, folder):
        super().__init__(prefix, server, fixture_exe, signing_kit, folder)
        self.dlm_record_win = prefix.temp_win + r"\dlm-record.txt"
        self.dlm = None
        self.env = {}
        # Keeps the prefix's Wine session up for the whole test. Whichever
        # program starts a session passes its output pipes on to Wine's
        # service processes, and a probe whose pipes stay open would never
        # be seen to end.
        prefix.start_background(fixture_exe("sleeper.exe"), r"C:\keeper\sleeper.exe",
                                ["600", "{ready}"])

    def start_dlm(self, program="fake_dlm.exe", **options):
        args = ["60", "{ready}"] if program == "sleeper.exe" else ["{ready}"]
        if program == "fake_dlm.exe":
            args.append(f"record={self.dlm_record_win}")
            args += [f"{name}={value}" for name, value in options.items()]
        self.dlm = self.prefix.start_background(self.fixture_exe(program), RUNNING_DLM,
                                                args)
        return self.dlm

    def dlm_requests(self):
        path = self.prefix.unix_path(self.dlm_record_win)
        if not path.exists():
            return []
        return [line for line in path.read_text("utf-8").splitlines() if line]

    def installs_for_real(self):
        """The installer copies itself (version 6.1.33.0) over the installed
        download manager."""
        self.env.update(TSDLM_FAKE_INSTALLER_COPY_FROM=self.entries.installer,
                        TSDLM_FAKE_INSTALLER_COPY_TO=INSTALLED_DLM)

    def run(self, installer_exit=0, timeout=RUN_TIMEOUT, args=()):
        self.env["TSDLM_FAKE_INSTALLER_EXIT"] = str(installer_exit)
        result = self.prefix.run_updater(timeout=timeout,
                                         windows_path=harness.INSTALLED_UPDATER,
                                         args=args, extra_env=self.env)
        assert result.returncode == 0, result.stderr.decode(errors="replace")[-3000:]
        return result

    def launch(self):
        """Starts the updater without waiting for it."""
        self.prefix.install_updater()
        # The probe's first start in a prefix is slow; not while watching.
        self.probe()
        return subprocess.Popen(["wine", harness.INSTALLED_UPDATER],
                                env=self.prefix.env(self.env), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def probe(self, caption=CAPTION, close=False):
        args = [caption] + (["close"] if close else [])
        result = self.prefix.run(self.fixture_exe("window_probe.exe"), args, timeout=30,
                                 extra_env=self.env)
        return json.loads(result.stdout.decode("utf-8"))

    def wait_for(self, condition, what, process=None, timeout=40, caption=CAPTION):
        """Probes the dialog until condition(state) holds; returns that state."""
        deadline = time.monotonic() + timeout
        seen = []
        while time.monotonic() < deadline:
            state = self.probe(caption)
            seen.append(state)
            if condition(state):
                return state
            if process is not None and process.poll() is not None:
                break
            time.sleep(0.05)
        raise AssertionError(f"never saw {what}; last states: {seen[-3:]}")

    def started_again(self):
        """The log entry of a download manager given back."""
        return self.entries.line(f"Started the DLM again: {RUNNING_DLM}")

    def dlm_back(self, asked):
        """Whether a download manager runs again once the one `asked` has
        ended: its main window is there."""
        asked.popen.wait(20)
        return self.probe(DLM_CAPTION).get("found") is True

    def installer_size(self):
        return len(self.signed_installer("tessarin").read_bytes())

    def stall_installer_at(self, percent, seconds):
        """The installer's body stops after the first byte that makes the
        downloader report `percent`, for `seconds` (or until the end)."""
        size = self.installer_size()
        stall_after = -(-size * percent // 100)  # rounded up
        assert stall_after * 100 // size == percent
        rule = {"stall_after": stall_after}
        if seconds:
            rule["stall_seconds"] = seconds
        self.server.set_rule(INSTALLER_URL_PATH, **rule)


@pytest.fixture
def update(prefix, update_site, fixture_exe, signing_kit, tmp_path):
    return WholeUpdate(prefix, update_site, fixture_exe, signing_kit, tmp_path)


def downloading(text):
    return lambda state: state.get("status") == text


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
    assert read_log(update.prefix) == (
        e.manifest_start() + [QUIT_DLM] + e.fresh_download() + e.signed() + e.install())
    assert event_names(update.prefix) == [("updater_launched", ""), ("updater_exit", "")]
    assert update.dlm_requests() == [
        "quit_request window=Tessarin Download Manager wparam=0 lparam=0 reply=1"]
    dlm.popen.wait(20)  # it exits after answering
    assert result.windows_seen
    assert file_version(update.prefix.unix_path(INSTALLED_DLM)) == OFFERED_VERSION

    update.prefix.temp_log_path.unlink()
    update.prefix.shared_log_path.unlink()
    second = update.run()

    assert read_log(update.prefix) == e.manifest_start()[:2] + [
        e.line(f"Compare Version: {OFFERED_VERSION} To: {OFFERED_VERSION}"),
        b"Server version is Not higher than installed version, return now\r\n"]
    assert event_names(update.prefix)[2:] == error_session("installed version is up-to-date")
    assert second.windows_seen == []


def test_arguments_of_a_launcher_change_nothing(update):
    """Arguments that do not start with /check (a launcher's own) run the
    whole update exactly as none do."""
    update.offer()

    result = update.run(args=["/silent", "foo"])

    e = update.entries
    assert read_log(update.prefix) == (
        e.manifest_start() + e.fresh_download() + e.signed() + e.install())
    assert event_names(update.prefix) == [("updater_launched", ""), ("updater_exit", "")]
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

    e = update.entries
    assert read_log(update.prefix) == (
        e.manifest_start() + e.fresh_download() + e.signed() + e.install() +
        [b"[ERROR] Failed to install, return now\r\n"])
    assert event_names(update.prefix) == error_session("install failed")
    assert read_record(update.prefix)["arguments"] == "-quiet"
    assert result.windows_seen


def test_installer_of_another_publisher_three_times(update):
    """Signature good, publisher wrong, each time; the download manager had
    quit before."""
    update.offer(kind="other")
    dlm = update.start_dlm()

    result = update.run()

    e = update.entries
    def refused(path):
        return [e.line(f'The file "{path}" is signed.'),
                e.line("[ERROR] A certificate with a subject name [Tessarin, Inc] "
                       "can not be found!")]
    # The checked copy is refused; the reuse test then looks at the download.
    other = refused(e.staged) + [b"[ERROR] Signature is not valid.\r\n"]
    again = [e.downloaded_version(OFFERED_VERSION)] + refused(e.installer) + [
        e.download_complete(e.installer)] + other
    assert read_log(update.prefix) == (
        e.manifest_start() + [QUIT_DLM] + e.fresh_download() + other +
        [b"Retrying...\r\n"] + again + [b"Retrying...\r\n"] + again +
        [b"[ERROR] Failed to download Installer, return now\r\n", update.started_again()])
    assert event_names(update.prefix) == error_session("download installer failed")
    assert update.installer_requests() == 3
    assert read_record(update.prefix) is None
    assert result.windows_seen
    # Asked to quit, it did; the refused installer leaves it running again.
    assert len(update.dlm_requests()) == 1
    assert update.dlm_back(dlm)


def test_installer_windows_will_not_start(update):
    """Signed by Tessarin, the offered version, and a DLL: every check passes,
    the shell shows its error box, and after OK the download manager that
    quit runs again."""
    update.offer(exe="installer_dll.dll")
    dlm = update.start_dlm()

    process = update.launch()
    box = update.prefix.wait_for_window("^Error$", timeout=RUN_TIMEOUT)[0]
    display = {"DISPLAY": update.prefix.display, "PATH": os.environ.get("PATH", "")}
    subprocess.run(["xdotool", "windowactivate", "--sync", box], env=display,
                   capture_output=True, timeout=10)
    subprocess.run(["xdotool", "key", "--window", box, "Return"], env=display,
                   check=True, timeout=10)
    assert process.wait(RUN_TIMEOUT) == 0

    e = update.entries
    assert read_log(update.prefix) == (
        e.manifest_start() + [QUIT_DLM] + e.fresh_download() + e.signed() + e.install() +
        [b"[ERROR] Failed to install, return now\r\n", update.started_again()])
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
    assert event_names(update.prefix) == [("updater_launched", ""), ("updater_exit", "")]


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
    window = update.prefix.wait_for_window(CAPTION)[0]
    display = {"DISPLAY": update.prefix.display, "PATH": os.environ.get("PATH", "")}
    subprocess.run(["xdotool", "windowactivate", "--sync", window], env=display,
                   capture_output=True, timeout=10)
    subprocess.run(["xdotool", "key", "--window", window, "Escape"], env=display,
                   check=True, timeout=10)
    time.sleep(1)
    still = update.probe()
    assert still["visible"] and still["status"] == "Downloading ... 10.00%"
    assert process.poll() is None

    update.probe(close=True)
    started = time.monotonic()
    assert process.wait(15) == 0
    assert time.monotonic() - started < 5
    assert event_names(update.prefix) == [("updater_launched", ""), ("updater_exit", "")]
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
    display = {"DISPLAY": update.prefix.display, "PATH": os.environ.get("PATH", "")}
    for locale, language, *_ in LANGUAGES:
        update.env.update(LOCPATH=str(locales), LC_ALL=f"{locale}.UTF-8")
        process = update.launch()
        deadline = time.monotonic() + 40
        window = None
        while window is None and time.monotonic() < deadline:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--class",
                                    "TsDLMUpdater.exe"], env=display,
                                   capture_output=True, text=True).stdout.split()
            window = found[0] if found else None
            time.sleep(0.2)
        assert window, f"no dialog for {locale}"
        time.sleep(1.5)
        out = SCREENSHOT_DIR / f"dialog-{language}-{locale}.png"
        subprocess.run(["/usr/bin/import", "-window", window, str(out)], env=display,
                       check=True, timeout=30)
        caption = subprocess.run(["xdotool", "getwindowname", window], env=display,
                                 capture_output=True, text=True).stdout.strip()
        update.probe(caption=caption, close=True)
        assert process.wait(15) == 0
        assert out.stat().st_size > 0
