"""What the end-to-end tests share: the installed download manager and the
update on offer, reading the updater's logs and analytics, the prefix set-ups
(UpdateCheck, WholeUpdate with the running download manager and the dialog
probe, ProxiedCheck behind the test proxy), the credential dialog's answer and
the /check run. Test modules import this, never each other."""

import hashlib
import json
import re
import struct
import subprocess
import threading
import time
from dataclasses import dataclass
from pathlib import Path

import harness
import update_server
import proxy_helpers
from test_proxy import TestProxy  # noqa: F401 (tests/servers, put on the path by conftest)

INSTALLED_DLM = harness.INSTALL_FOLDER + r"\TSRN.DLM.exe"
SETTINGS_FILE = harness.INSTALL_FOLDER + r"\update.ini"
MANIFEST_URL_PATH = "/utility/dlm/prod/Installer/update.xml"
FILES_URL_PATH = "/utility/dlm/prod/Installer/files/"
INSTALLER_NAME = "TessarinDownloadManagerSetup-6.1.33.0.exe"
INSTALLER_URL_PATH = FILES_URL_PATH + INSTALLER_NAME
INSTALLED_VERSION = "6.1.32.0"
OFFERED_VERSION = "6.1.33.0"  # the stand-in installer's own file version
PUBLISHER = "Tessarin, Inc"
FOUND = f"A certificate with a subject name [{PUBLISHER}] has been found!"

TIMESTAMP = re.compile(rb"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  ")
# The folder a copy of the installer is checked and started in: a new name
# each time. Logs show it as STAGED_FOLDER.
STAGED_NAME = re.compile(rb"\\TsDLM\\install-[0-9a-f]{32}\\")
STAGED_FOLDER = "install-*"
RUN_TIMEOUT = 90
NO_MANIFEST = b"[ERROR] Cannot download update.xml, return now\r\n"
NOT_HIGHER = b"Server version is Not higher than installed version, return now\r\n"
NO_INSTALLER = b"[ERROR] Failed to download Installer, return now\r\n"
NOT_INSTALLED = b"[ERROR] Failed to install, return now\r\n"
BAD_SIGNATURE = b"[ERROR] Signature is not valid.\r\n"
RETRY = b"Retrying...\r\n"
# The analytics session of a run that installed.
INSTALLED = [("updater_launched", ""), ("updater_exit", "")]


# --- Reading the results -----------------------------------------------------

def log_messages(data):
    """The log's entries without their timestamps. An entry ends where the
    next timestamp starts, so an entry written without a line end shows up
    as a message without CR LF."""
    assert data is not None, "no log written"
    starts = list(TIMESTAMP.finditer(data))
    assert starts and starts[0].start() == 0, f"log does not start with an entry: {data!r}"
    ends = [match.start() for match in starts[1:]] + [len(data)]
    staged = b"\\TsDLM\\" + STAGED_FOLDER.encode() + b"\\"
    return [STAGED_NAME.sub(lambda _: staged, data[match.end():end])
            for match, end in zip(starts, ends)]


def read_log(prefix):
    """Both logs are the same; returns the messages of the temporary one."""
    temp_log = prefix.read_temp_log()
    assert temp_log == prefix.read_shared_log()
    return log_messages(temp_log)


def event_names(prefix):
    return [(e["event"], e["value"]) for e in prefix.read_events()]


# The refusal of a signature whose chain ends in no root the machine trusts.
NOT_TRUSTED = "The signature is present, but not trusted. Error is: 0x800b0004."


def curl_error(code, text):
    return f"[ERROR] curl_easy_perform() failed: {code} ({text})\r\n".encode()


def error_session(text):
    return [("updater_launched", ""), ("error_occurred", text), ("updater_exit", "")]


def staged_folders(prefix):
    """Installer folders left in the working folder."""
    return sorted(p.name for p in prefix.working_dir.glob("install-*"))


def read_record(prefix):
    """The stand-in installer's record of its start, or None if it never ran."""
    path = prefix.working_dir / "TessarinDownloadManagerSetup.exe.record.txt"
    if not path.exists():
        return None
    lines = path.read_bytes().decode("utf-8").split("\r\n")
    return dict(line.split("=", 1) for line in lines if line)


# --- Expected entries ----------------------------------------------------------

class Entries:
    """The texts this updater logs, with the prefix's real paths filled in."""

    def __init__(self, prefix):
        working = prefix.temp_win + r"\TsDLM"
        self.working_win = working
        self.manifest = working + r"\update.xml"
        self.installer = working + r"\TessarinDownloadManagerSetup.exe"
        # The checked and started copy.
        self.staged = working + "\\" + STAGED_FOLDER + r"\TessarinDownloadManagerSetup.exe"

    @staticmethod
    def line(text):
        return text.encode("latin-1") + b"\r\n"

    def download_complete(self, path):
        return self.line(f"Download complete: {path}")

    def manifest_start(self, offered=OFFERED_VERSION):
        return [self.download_complete(self.manifest),
                b"Successfully downloaded update.xml\r\n",
                self.line(f"Compare Version: {offered} To: {INSTALLED_VERSION}")]

    @staticmethod
    def downloaded_version(version):
        return Entries.line(f"INFO: HttpDownloader::getInstaller(): Downloaded version: {version}")

    def signed(self, path=None):
        """The checks passed, on the staged copy unless another path is given
        (the reuse test checks the downloaded file itself)."""
        return [self.line(f'The file "{path or self.staged}" is signed.'), self.line(FOUND)]

    def not_signed(self, path=None):
        return self.line(f'[ERROR] The file "{path or self.staged}" is not signed. '
                         f'Error is: 0x800b0100.')

    def other_publisher(self, path=None):
        """Signed, but not by us: the staged copy, or the file at `path`."""
        return [self.line(f'The file "{path or self.staged}" is signed.'),
                self.line(f"[ERROR] A certificate with a subject name [{PUBLISHER}] "
                          f"can not be found!")]

    def not_trusted(self):
        return self.line("[ERROR] " + NOT_TRUSTED)

    def fresh_download(self):
        """getInstaller with no installer on disk."""
        return [b"INFO: Installer not downloaded!", self.downloaded_version(""),
                self.download_complete(self.installer)]

    def install(self):
        return [b"Successfully downloaded Installer, install it now\r\n",
                self.line(self.staged)]

    def installed(self, start=None, after_manifest=()):
        """The whole run of an installed update; `start` replaces the fresh
        download's entries."""
        return (self.manifest_start() + list(after_manifest) +
                (self.fresh_download() if start is None else start) + self.signed() +
                self.install())

    def installed_signed_manifest(self, expires):
        """installed(), with the manifest's signature valid until `expires`."""
        run = self.installed()
        return run[:2] + [self.download_complete(self.manifest + ".p7s"), self.line(FOUND),
                          self.line(f"The manifest is signed by {PUBLISHER} and valid until "
                                    f"{expires}.")] + run[2:]

    def refused_three_times(self, failed_check, old_file, after_manifest=()):
        """Fetched and refused (`failed_check`); then twice the file left is
        looked at (`old_file`), fetched again and refused."""
        again = old_file + [self.download_complete(self.installer)] + failed_check
        return (self.manifest_start() + list(after_manifest) + self.fresh_download() +
                failed_check + [RETRY] + again + [RETRY] + again + [NO_INSTALLER])


# --- Setting up a prefix and a server -------------------------------------------

def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def manifest(base_url, version, sha256=None, size=None, expires=None):
    """An update.xml offering `version`, with another platform listed first;
    the windows entry pins `sha256` and names `size` when they are given, and
    the manifest expires at `expires` (YYYY-MM-DDTHH:MM:SSZ) when that is
    given."""
    pin = "" if sha256 is None else f"<sha256>{sha256}</sha256>"
    pin += "" if size is None else f"<size>{size}</size>"
    expiry = "" if expires is None else f"\n  <expires>{expires}</expires>"
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<installerInformation>
  <version>{version}</version>{expiry}
  <downloadOptions>
    <downloadLowSpeedLimit>1024</downloadLowSpeedLimit>
    <downloadLowSpeedTime>900</downloadLowSpeedTime>
    <downloadTime>18000</downloadTime>
  </downloadOptions>
  <downloadLocationList>
    <downloadLocation><url>{base_url}{FILES_URL_PATH}</url></downloadLocation>
  </downloadLocationList>
  <platformFileList>
    <mac><platform>mac</platform><filename>TessarinDownloadManager.dmg</filename></mac>
    <win><platform>windows</platform><filename>{INSTALLER_NAME}</filename>{pin}</win>
  </platformFileList>
</installerInformation>
"""


class UpdateCheck:
    """One prefix with the download manager installed and one update server."""

    host = "127.0.0.1"  # the update server's name in the URLs the updater gets

    def __init__(self, prefix, server, fixture_exe, signing_kit, folder):
        self.prefix = prefix
        self.server = server
        self.fixture_exe = fixture_exe
        self.signing_kit = signing_kit
        self.folder = folder
        self.entries = Entries(prefix)
        self.env = {}  # the updater's extra environment
        prefix.install_file(fixture_exe("version_6_1_32_0.exe"), INSTALLED_DLM)

    def url(self, path):
        return f"{self.server.scheme}://{self.host}:{self.server.port}{path}"

    def settings(self, text=None, extra="", url=None):
        """Writes update.ini: `text`, or the manifest's URL (this server's
        unless `url` is given), checks on, and the `extra` lines."""
        if text is None:
            text = (f"[Update]\r\nurl={url or self.url(MANIFEST_URL_PATH)}\r\n"
                    f"check_for_updates=1\r\n{extra}")
        self.prefix.unix_path(SETTINGS_FILE).write_bytes(text.encode("latin-1"))

    def signed_installer(self, kind, exe="fake_installer.exe"):
        out = self.folder / f"installer-{kind}-{exe}"
        if not out.exists():
            self.signing_kit.sign(self.fixture_exe(exe), kind, out)
        return out

    def offer(self, version=OFFERED_VERSION, kind="tessarin", exe="fake_installer.exe",
              sha256=None, size=None):
        """Publishes the manifest (pinning `sha256` and naming `size` when
        given) and the installer; writes update.ini."""
        self.server.add_file(MANIFEST_URL_PATH, manifest(self.url(""), version, sha256, size))
        self.server.add_file(INSTALLER_URL_PATH,
                             self.signed_installer(kind, exe).read_bytes())
        self.settings()

    def place_installer(self, data):
        """Leaves a file where an earlier run keeps its installer."""
        path = self.prefix.unix_path(self.entries.installer)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)

    def run(self, installer_exit=0, timeout=RUN_TIMEOUT, args=()):
        self.env["TSDLM_FAKE_INSTALLER_EXIT"] = str(installer_exit)
        result = self.prefix.run_updater(timeout=timeout,
                                         windows_path=harness.INSTALLED_UPDATER,
                                         args=args, extra_env=self.env)
        assert result.returncode == 0, result.stderr.decode(errors="replace")[-3000:]
        return result

    # Downloads only: behind a proxy the probe's HEAD reaches the server too.
    def manifest_requests(self):
        return sum(r["method"] == "GET" for r in self.server.requests_for(MANIFEST_URL_PATH))

    def installer_requests(self):
        return sum(r["method"] == "GET" for r in self.server.requests_for(INSTALLER_URL_PATH))

    def installed_dlm_untouched(self):
        return (self.prefix.unix_path(INSTALLED_DLM).read_bytes() ==
                self.fixture_exe("version_6_1_32_0.exe").read_bytes())


# --- The whole update: the running download manager and the dialog ---------------

RUNNING_DLM = harness.INSTALL_FOLDER + r"\TsDLMgr.exe"
CAPTION = harness.DIALOG_CAPTION
QUIT_DLM = b"Successfully quit the DLM\r\n"
DLM_CAPTION = "Tessarin Download Manager"


def file_version(path):
    """The file version words of an executable's VS_FIXEDFILEINFO."""
    data = Path(path).read_bytes()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


class WholeUpdate(UpdateCheck):
    """UpdateCheck plus the running download manager and the dialog probe."""

    def __init__(self, prefix, server, fixture_exe, signing_kit, folder):
        super().__init__(prefix, server, fixture_exe, signing_kit, folder)
        self.dlm_record_win = prefix.temp_win + r"\dlm-record.txt"
        self.dlm = None
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

    def stall_installer_at(self, percent, seconds):
        """The installer's body stops after the first byte that makes the
        downloader report `percent`, for `seconds` (or until the end)."""
        size = len(self.signed_installer("tessarin").read_bytes())
        stall_after = -(-size * percent // 100)  # rounded up
        assert stall_after * 100 // size == percent
        rule = {"stall_after": stall_after}
        if seconds:
            rule["stall_seconds"] = seconds
        self.server.set_rule(INSTALLER_URL_PATH, **rule)


# --- Behind the test proxy ----------------------------------------------------------

PROXY_HOST = "127.0.0.1"
USER, PASSWORD = "ann", "s3cret"
# The credential dialog is the system's own; Wine names it after the target.
DIALOG_TITLE = PROXY_HOST
SILENT = "[Proxy]\r\nsuppress_login_dialog=1\r\n"  # update.ini's silent mode
# Wine's WinHTTP sends nothing for a loopback target through a proxy (the
# probe then never meets the proxy), so the update server goes by a name that
# only the test proxy resolves.
SERVER_NAME = "updates.tsdlm.test"
HOSTS = {SERVER_NAME: "127.0.0.1"}


class ProxiedCheck(UpdateCheck):
    host = SERVER_NAME

    def through(self, proxy):
        """Points the user's proxy settings at `proxy` (None: none at all)."""
        if proxy is not None:
            proxy_helpers.set_user_settings(self.prefix, proxy_helpers.PROXY,
                                            proxy=proxy.address)

    def cred_tool(self, *args):
        tool = self.fixture_exe("cred_tool.exe")
        return self.prefix.run(tool, list(args), timeout=30)

    def stored(self):
        result = self.cred_tool("read", PROXY_HOST)
        return result.stdout.decode().rstrip("\r\n") if result.returncode == 0 else None


def answer_dialog(display, keys, timeout=60, stop=None, title=DIALOG_TITLE):
    """Waits for the credential dialog and sends it `keys` (xdotool words);
    gives up when `stop` (a threading.Event) is set."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and not (stop and stop.is_set()):
        windows, _ = harness.find_visible_windows(display, title)
        if windows:
            harness.xdotool(display, "windowfocus", "--sync", windows[0], capture_output=True,
                            timeout=10)
            time.sleep(1.0)  # keys sent before the dialog takes input are lost
            for key in keys:
                kind, _, text = key.partition(":")
                if kind == "type":
                    harness.xdotool(display, "type", "--delay", "60", text, timeout=30)
                else:
                    harness.xdotool(display, "key", text, timeout=10)
                time.sleep(0.2)
            return True
        time.sleep(0.2)
    return False


TYPED = [f"type:{USER}", "key:Tab", f"type:{PASSWORD}", "key:Return"]


def run_answering(check, *answers, timeout=60):
    """Runs the updater while the user answers the credential dialog with
    each of `answers` (lists of keys) in turn: the run's result, and for each
    answer whether its dialog showed."""
    answered, stop = [], threading.Event()

    def user():
        for keys in answers:
            if answered:
                time.sleep(2)  # the answer before is sent and refused; the dialog is back
            answered.append(answer_dialog(check.prefix.display, keys, timeout, stop))

    thread = threading.Thread(target=user, daemon=True)
    thread.start()
    try:
        result = check.run()
    finally:
        stop.set()
        thread.join(timeout=10)
    return result, answered


# --- The release check -------------------------------------------------------------

REPORT_WIN = r"C:\check-report.txt"


@dataclass
class CheckRun:
    """What one /check run left: its exit code, standard output and error
    (each sent to a file, never a pipe) and the report file."""
    returncode: int
    stdout: bytes
    stderr: bytes
    report: bytes | None

    def verdict(self):
        return self.stdout.decode("latin-1").splitlines()[-1]


def run_check(prefix, folder, args=("/check",), extra_env=None):
    """Runs the installed updater with `args` and waits for it."""
    program = prefix.install_updater()
    report = prefix.unix_path(REPORT_WIN)
    out, err = folder / "check.stdout", folder / "check.stderr"
    with open(out, "wb") as stdout, open(err, "wb") as stderr:
        result = subprocess.run(["wine", program, *args], env=prefix.env(extra_env),
                                stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                                timeout=RUN_TIMEOUT)
    return CheckRun(result.returncode, out.read_bytes(), err.read_bytes(),
                    report.read_bytes() if report.exists() else None)


def https_site(tmp_path, test_ca, certificate):
    """A started HTTPS update server with a certificate that is "trusted" (the
    test CA's, whose root every prefix trusts), from an "untrusted-root" (a
    CA of the same name with another key, trusted nowhere), or for an
    "other-host" (issued by the trusted CA for other.example only), or
    "ip-as-dns-name" (issued by the trusted CA with 127.0.0.1 as a DNS name,
    which never names an IP address URL)."""
    root = tmp_path / f"site-{certificate}"
    root.mkdir()
    names = {"other-host": "DNS:other.example", "ip-as-dns-name": "DNS:127.0.0.1"}
    tls = test_ca
    if certificate == "untrusted-root":
        tls = update_server.make_test_ca(tmp_path / "impostor-ca")
    elif certificate in names:
        tls = update_server.server_certificate(test_ca, tmp_path / certificate, names[certificate])
    return update_server.UpdateServer(root, tls=tls).start()
