"""Running the real Windows programs under Wine for the end-to-end tests.

A Wine prefix template is made once per Wine version and recipe and kept in
the cache folder outside the clone; every test works on a fresh copy of it.
Everything here uses the standard library only.
"""

import contextlib
import fcntl
import hashlib
import json
import os
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time
from dataclasses import dataclass
from pathlib import Path, PureWindowsPath

REPO = Path(__file__).resolve().parents[2]
CACHE_DIR = Path(os.environ.get("TSDLM_CACHE_DIR") or "/var/cache/tsdlm")


def _wine_selection():
    """Which Wine runs here and which build goes with it, as scripts/env.sh
    picks them (the i686 build under 32-bit Wine where the machine runs
    32-bit code, the x86_64 build under 64-bit Wine where it does not), and
    the folder whose wine, wineboot and wineserver run that Wine."""
    names = ("TSDLM_WINE_ARCH", "TSDLM_WIN_BUILD", "TSDLM_WINE_BIN", "TSDLM_WINE_WHY")
    if not all(os.environ.get(name) for name in names):
        script = (f'source "{REPO}/scripts/env.sh" >&2 && '
                  + " && ".join(f'printf "%s\\n" "${name}"' for name in names))
        values = subprocess.run(["bash", "-c", script], capture_output=True, text=True,
                                check=True, env={**os.environ}).stdout.splitlines()
        os.environ.update(zip(names, values))
    return tuple(os.environ[name] for name in names)


WINE_ARCH, WIN_BUILD, WINE_BIN, WINE_WHY = _wine_selection()
_BUILD_DIR = REPO / "build" / ("mingw-x86_64" if WIN_BUILD == "x86_64" else "mingw")
DIST_DIR = Path(os.environ.get("TSDLM_DIST")
                or (REPO / "dist" / "x86_64" if WIN_BUILD == "x86_64" else REPO / "dist"))
FIXTURES_DIR = Path(os.environ.get("TSDLM_FIXTURES") or _BUILD_DIR / "tests" / "fixtures")

UPDATER_EXE = "TsDLMUpdater.exe"
ANALYTICS_DLL = "UsageUtil.dll"
DIALOG_CAPTION = "Tessarin Download Manager update in progress"

# Where the updater lives on a customer's machine: "Program Files" on 32-bit
# Windows; "Program Files (x86)" on 64-bit Windows, which a 64-bit prefix is
# (it defines ProgramFiles(x86), and the updater looks there).
PROGRAM_FILES = r"C:\Program Files (x86)" if WINE_ARCH == "win64" else r"C:\Program Files"
INSTALL_FOLDER = (PROGRAM_FILES + r"\Common Files\Tessarin Shared"
                  r"\Tessarin Download Manager")
INSTALLED_UPDATER = INSTALL_FOLDER + "\\" + UPDATER_EXE

# Internet Settings connection record: version 0x46, counter, flags 1 (direct
# connection, so no test ever starts WPAD), three empty strings (proxy list,
# bypass list, configuration script URL), then 32 zero bytes.
_DIRECT_CONNECTION = (
    (0x46).to_bytes(4, "little") + (1).to_bytes(4, "little") +
    (1).to_bytes(4, "little") + bytes(12) + bytes(32))

# Bump the version or change a step and a new template is made.
_TEMPLATE_RECIPE = json.dumps({
    "version": 1,
    "boot": "wineboot -i; wineserver -w",
    "registry": [[
        r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
        r"\Connections", "DefaultConnectionSettings", "REG_BINARY",
        _DIRECT_CONNECTION.hex()]],
}, sort_keys=True)

# Variables taken over from the caller's environment; everything else (the
# proxy variables above all: Wine turns http_proxy into WinHTTP's default
# proxy) stays out.
_PASSED_VARIABLES = ("PATH", "HOME", "USER", "LOGNAME", "LANG", "TZ")

# Wine's messages off, but for the diagnostics that say why a program could
# not create a window (no display driver, no desktop): an environment fault.
WINEDEBUG = "-all,err+winediag"
NO_WINDOW_DRIVER = b"Application tried to create a window, but no driver could be loaded"

# How long the warm-up waits for Wine's desktop before it reports the
# machine as unable to run window tests.
DESKTOP_TIMEOUT = 120


class HarnessError(AssertionError):
    """The harness could not do what a test asked of it."""


class EnvironmentFault(Exception):
    """The machine, not the code under test, failed (no X server, no Wine
    desktop): reported as an error that names the cause, never as a result
    of the code under test."""

    def __init__(self, cause):
        super().__init__(f"environment fault: {cause}")


def printed_json(stdout, stderr=b""):
    """The last JSON object a fixture program printed on a line of its own."""
    lines = [line for line in stdout.decode("utf-8").splitlines() if line.startswith("{")]
    assert lines, stdout + stderr
    return json.loads(lines[-1])


def require_file(path, what):
    """Fails loudly when a built file is missing: a run must never skip it."""
    path = Path(path)
    if not path.is_file():
        raise HarnessError(
            f"{what} not found at {path}. Build it first (mingw preset) or "
            f"point TSDLM_DIST / TSDLM_FIXTURES at the build output.")
    return path


def wine_environment(wineprefix, display=None, extra=None):
    env = {name: os.environ[name] for name in _PASSED_VARIABLES if name in os.environ}
    # wine, wineboot and wineserver are the chosen Wine's, never Debian's
    # /usr/bin/wine, which takes the 32-bit loader whenever wine32 is there.
    env["PATH"] = WINE_BIN + ":" + env.get("PATH", "/usr/local/bin:/usr/bin:/bin")
    env.update(WINEPREFIX=str(wineprefix), WINEDEBUG=WINEDEBUG, WINEARCH=WINE_ARCH)
    if display:
        env["DISPLAY"] = display
    if extra:
        env.update(extra)
    return env


def _wine_version():
    return subprocess.run([WINE_BIN + "/wine", "--version"], capture_output=True,
                          text=True, check=True).stdout.strip()


def template_key():
    version = _wine_version() + "-" + WINE_ARCH
    digest = hashlib.sha256((version + "\n" + _TEMPLATE_RECIPE).encode()).hexdigest()
    safe_version = "".join(c if c.isalnum() or c in ".-" else "_" for c in version)
    return f"{safe_version}-{digest[:12]}"


class WineProcess:
    """A Wine program started with its output going to files.

    Never to a pipe: the first program in a prefix starts Wine's helper
    processes (services, winedevice, the desktop), which inherit its standard
    output and error; a reader of a pipe would see end-of-file only when they
    end, long after the program itself (seen as 18 to 60 s stalls)."""

    def __init__(self, command, env):
        self.command = [str(c) for c in command]
        self._out = tempfile.TemporaryFile()
        self._err = tempfile.TemporaryFile()
        self.popen = subprocess.Popen(self.command, env=env, stdin=subprocess.DEVNULL,
                                      stdout=self._out, stderr=self._err)

    def poll(self):
        return self.popen.poll()

    def _read(self, file):
        file.seek(0)
        return file.read()

    def wait(self, timeout):
        """(exit code, stdout, stderr) once the program has ended. Raises
        HarnessError, with the end of its stderr, when it outlives `timeout`."""
        try:
            self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise HarnessError(
                f"{self.command[1] if len(self.command) > 1 else self.command[0]} "
                f"still running after {timeout} s; stderr: "
                f"{self._read(self._err).decode(errors='replace')[-2000:]}") from None
        stdout, stderr = self._read(self._out), self._read(self._err)
        self._out.close()
        self._err.close()
        return self.popen.returncode, stdout, stderr

    def kill(self):
        if self.popen.poll() is None:
            self.popen.kill()
        self.popen.wait()


def _checked(command, env, timeout, what):
    returncode, stdout, stderr = WineProcess(command, env).wait(timeout)
    if returncode != 0:
        raise HarnessError(f"{what} failed ({returncode}): "
                           f"{stderr.decode(errors='replace')}")
    return stdout


def _build_template(target):
    env = wine_environment(target)
    # No Mono or Gecko installer prompts while booting.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    _checked(["wineboot", "-i"], env, 300, "wineboot")
    _checked(["wineserver", "-w"], env, 300, "wineserver -w")
    env.pop("WINEDLLOVERRIDES")
    for key, name, kind, data in json.loads(_TEMPLATE_RECIPE)["registry"]:
        _checked(["wine", "reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f"],
                 env, 120, f"reg add {name}")
    # The registry reaches the files only when the server ends.
    _checked(["wineserver", "-w"], env, 300, "wineserver -w")


def ensure_template():
    """Returns the template prefix, making it first if needed.

    Safe against concurrent runs: one lock per cache folder, and the prefix is
    built under a temporary name and renamed into place when complete."""
    CACHE_DIR.mkdir(parents=True, exist_ok=True)
    target = CACHE_DIR / f"wine-template-{template_key()}"
    if target.is_dir():
        return target
    with open(CACHE_DIR / "wine-template.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if target.is_dir():
            return target
        # Left by a run that was killed while building; nobody else builds
        # while this lock is held.
        for stale in CACHE_DIR.glob("wine-template-*.tmp-*"):
            shutil.rmtree(stale, ignore_errors=True)
        staging = Path(tempfile.mkdtemp(prefix=target.name + ".tmp-", dir=CACHE_DIR))
        try:
            _build_template(staging)
            os.rename(staging, target)
        except BaseException:
            subprocess.run(["wineserver", "-k"], env=wine_environment(staging),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            shutil.rmtree(staging, ignore_errors=True)
            raise
    return target


class Xvfb:
    """An X server on a free display number, for programs that make windows."""

    def __init__(self):
        self.process = None
        self.display = None

    def start(self, timeout=20):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
             "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + timeout
        with os.fdopen(read_end, "rb") as pipe:
            # Xvfb writes the number and a line feed once it accepts clients.
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip().isdigit():
            self.stop()
            raise HarnessError("Xvfb did not start")
        self.display = ":" + number.strip().decode()
        return self.display

    def alive(self):
        return self.process is not None and self.process.poll() is None

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None


@dataclass
class RunResult:
    returncode: int
    stdout: bytes
    stderr: bytes
    wall_time: float
    # Every visible window the watcher saw with the watched title; None when
    # nothing was watched (no display), so that "== []" cannot pass unseen.
    windows_seen: list = None


def display_env(display):
    return {"DISPLAY": display or "", "PATH": os.environ.get("PATH", "/usr/bin:/bin")}


def xdotool(display, *args, **options):
    """Runs xdotool on `display`; `options` go to subprocess.run."""
    return subprocess.run(["xdotool", *args], env=display_env(display), **options)


def find_visible_windows(display, title):
    """(ids of the visible windows titled `title`, error text or "")."""
    found = xdotool(display, "search", "--onlyvisible", "--name", title,
                    capture_output=True, text=True)
    # xdotool exits with 1 both for "none found" and for a display it cannot
    # open, so tell them apart by what it says. A window that goes away while
    # xdotool looks at it gives a BadWindow error: harmless, not a failure.
    error = found.stderr.strip()
    fatal = "Can't open display" in error or "Failed creating new xdo" in error
    return found.stdout.split(), error if fatal else ""


class WindowWatcher:
    """Polls the display for visible windows with a given title."""

    def __init__(self, display, title, interval=0.05):
        self.display = display
        self.title = title
        self.interval = interval
        self.seen = []
        self.errors = []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._poll, daemon=True)

    # A busy X server now and then refuses one connection; only a display
    # that keeps refusing (or never answered at all) is an error.
    MAX_CONSECUTIVE_FAILURES = 5

    def _poll(self):
        failures_in_a_row = 0
        answered = False
        last_error = ""
        while not self._stop.is_set():
            windows, error = find_visible_windows(self.display, self.title)
            if error:
                failures_in_a_row += 1
                last_error = error
                if failures_in_a_row >= self.MAX_CONSECUTIVE_FAILURES:
                    self.errors.append(error)
            else:
                failures_in_a_row = 0
                answered = True
            self.seen.extend(windows)
            self._stop.wait(self.interval)
        if not answered and last_error and not self.errors:
            self.errors.append(last_error)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()


class BackgroundProcess:
    """A Windows program left running while a test goes on."""

    def __init__(self, popen, windows_path):
        self.popen = popen
        self.windows_path = windows_path

    def running(self):
        return self.popen.poll() is None

    def stop(self):
        if self.popen.poll() is None:
            self.popen.send_signal(signal.SIGKILL)
        self.popen.wait()


class WinePrefix:
    """A private Wine prefix (a copy of the template) and what lives in it."""

    def __init__(self, root, display=None):
        self.root = Path(root)
        self.display = display
        self.drive_c = self.root / "drive_c"
        users = [p.name for p in (self.drive_c / "users").iterdir()
                 if p.is_dir() and p.name not in ("Public", "Default")]
        if len(users) != 1:
            raise HarnessError(f"expected one user profile in the prefix, found {users}")
        self.user = users[0]
        self._temp_win = self._registry_temp() or rf"C:\users\{self.user}\Temp"
        self._background = []
        self._ready = False

    def _registry_temp(self):
        """TEMP from the user's environment in the registry, as Wine sets it."""
        try:
            text = (self.root / "user.reg").read_text(encoding="utf-8", errors="replace")
        except OSError:
            return None
        in_environment = False
        for line in text.splitlines():
            if line.startswith("["):
                in_environment = line.startswith("[Environment]")
            elif in_environment and line.startswith('"TEMP"="'):
                return line[len('"TEMP"="'):-1].replace("\\\\", "\\")
        return None

    # --- Paths -------------------------------------------------------------

    def unix_path(self, windows_path):
        """The host path of a C:\\ path inside the prefix."""
        path = PureWindowsPath(windows_path)
        if path.drive.upper() != "C:":
            raise HarnessError(f"not a C: path: {windows_path}")
        return self.drive_c.joinpath(*path.parts[1:])

    @property
    def profile_win(self):
        return rf"C:\users\{self.user}"

    @property
    def temp_win(self):
        """The temporary folder (what GetTempPathW gives, without the final \\)."""
        return self._temp_win

    @property
    def temp_dir(self):
        return self.unix_path(self.temp_win)

    @property
    def public_documents(self):
        return self.unix_path(r"C:\users\Public\Documents")

    @property
    def local_app_data(self):
        return self.unix_path(self.profile_win + r"\AppData\Local")

    @property
    def working_dir(self):
        """The updater's working folder, (temporary folder)\\TsDLM."""
        return self.temp_dir / "TsDLM"

    @property
    def temp_log_path(self):
        return self.working_dir / "TsDLMUpdater.log"

    @property
    def shared_log_path(self):
        return self.public_documents / "Tessarin" / "TsDLM" / "TsDLMUpdater.log"

    @property
    def events_path(self):
        return self.local_app_data / "Tessarin" / "UsageUtil" / "events.jsonl"

    # --- Readers -----------------------------------------------------------

    @staticmethod
    def _read(path):
        return path.read_bytes() if path.exists() else None

    def read_temp_log(self):
        """Bytes of the temporary log, or None when it does not exist."""
        return self._read(self.temp_log_path)

    def read_shared_log(self):
        """Bytes of the shared log, or None when it does not exist."""
        return self._read(self.shared_log_path)

    def read_events(self):
        """The analytics events in store order, one dict per line."""
        data = self._read(self.events_path)
        if data is None:
            return []
        if data and not data.endswith(b"\n"):
            raise HarnessError("event store does not end with a line feed")
        return [json.loads(line) for line in data.decode("utf-8").split("\n") if line]

    # --- Files -------------------------------------------------------------

    def install_file(self, source, windows_path):
        """Copies a host file to a C:\\ path in the prefix, making its folders."""
        target = self.unix_path(windows_path)
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(source, target)
        return target

    def install_updater(self, windows_path=INSTALLED_UPDATER, exe=None):
        """Copies the updater (and the analytics library beside it) into the
        prefix; returns the Windows path to run."""
        exe = require_file(exe or DIST_DIR / UPDATER_EXE, "TsDLMUpdater.exe")
        dll = require_file(exe.parent / ANALYTICS_DLL, ANALYTICS_DLL)
        self.install_file(exe, windows_path)
        self.install_file(dll, str(PureWindowsPath(windows_path).parent / ANALYTICS_DLL))
        return windows_path

    # --- Processes ---------------------------------------------------------

    # Where the stand-in installer records its start: the working folder,
    # which outlives the installer's own folder (removed after the run).
    INSTALLER_RECORD_NAME = "TessarinDownloadManagerSetup.exe.record.txt"

    def env(self, extra=None):
        record = {"TSDLM_FAKE_INSTALLER_RECORD":
                  self.temp_win + "\\TsDLM\\" + self.INSTALLER_RECORD_NAME}
        return wine_environment(self.root, self.display, {**record, **(extra or {})})

    def ready(self):
        """Readies the prefix once, before its first program: a persistent
        wineserver with Wine's helper processes up and, with a display, a
        desktop that lets programs create windows (scripts/wine-ready.sh).
        Raises EnvironmentFault, naming the cause, when the machine cannot."""
        if self._ready:
            return
        self._ready = True
        exe = require_file(FIXTURES_DIR / "desktop_ready.exe", "fixture desktop_ready.exe")
        result = subprocess.run(
            ["bash", str(REPO / "scripts" / "wine-ready.sh"), str(exe), str(DESKTOP_TIMEOUT)],
            env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE, timeout=DESKTOP_TIMEOUT + 120)
        message = result.stderr.decode(errors="replace").strip()
        if result.returncode == 3:
            raise EnvironmentFault(message.removeprefix("environment fault: "))
        if result.returncode != 0:
            raise HarnessError(f"wine-ready.sh failed ({result.returncode}): {message}")

    def start(self, program, args=(), extra_env=None):
        """Starts `wine program args...` with its output going to files;
        .wait(timeout) gives (exit code, stdout, stderr)."""
        self.ready()
        return WineProcess(["wine", str(program), *args], self.env(extra_env))

    def _finished(self, program, returncode, stderr):
        """A windowed prefix whose program found no display driver has an
        environment fault, whatever the program then did."""
        if self.display and NO_WINDOW_DRIVER in stderr:
            raise EnvironmentFault(
                f"{program} could not create windows on display {self.display} "
                f"(exit {returncode}): " + " ".join(
                    line for line in stderr.decode(errors="replace").splitlines()
                    if "winediag" in line)[-1000:])

    def wine(self, *args, timeout=120, check=True, extra_env=None):
        """Runs `wine args...` (for example `reg add ...`) and waits:
        a RunResult."""
        result = self.run(args[0], args[1:], timeout, extra_env=extra_env)
        if check and result.returncode != 0:
            raise HarnessError(f"wine {' '.join(args)} failed ({result.returncode}): "
                               f"{result.stderr.decode(errors='replace')}")
        return result

    def run(self, program, args=(), timeout=60, watch_title=None, extra_env=None):
        """Runs a Windows program (a C:\\ path in the prefix or a host path)
        and waits for it. Raises HarnessError when it outlives the timeout.

        Its output goes to files, read once it has ended: a program it
        started and left running (the download manager the updater gives
        back) keeps Wine's standard output and error, and a pipe would not
        end before that program does."""
        watcher = None
        if watch_title and self.display:
            watcher = WindowWatcher(self.display, watch_title)
        self.ready()
        start = time.monotonic()
        process = self.start(program, args, extra_env)
        with watcher or contextlib.nullcontext():
            returncode, stdout, stderr = process.wait(timeout)
        wall_time = time.monotonic() - start
        self._finished(program, returncode, stderr)
        if watcher and watcher.errors:
            raise EnvironmentFault(f"the X server on display {self.display} stopped "
                                   f"answering: {watcher.errors[0]}")
        return RunResult(returncode, stdout, stderr, wall_time,
                         list(watcher.seen) if watcher else None)

    def run_updater(self, timeout=60, exe=None, windows_path=None, args=(),
                    extra_env=None):
        """Runs the updater: dist's (or `exe`) where it lies, or, with
        `windows_path`, a copy placed there first. Watches for the dialog."""
        if windows_path:
            program = self.install_updater(windows_path, exe)
        else:
            program = require_file(exe or DIST_DIR / UPDATER_EXE, UPDATER_EXE)
            require_file(Path(program).parent / ANALYTICS_DLL, ANALYTICS_DLL)
        return self.run(program, args, timeout, watch_title=DIALOG_CAPTION,
                        extra_env=extra_env)

    def start_background(self, exe, windows_path, args=(), ready_timeout=30):
        """Copies `exe` to `windows_path` and starts it without waiting.

        The sleeper fixture takes a file to create once it runs as its
        second argument; give it as `{ready}` in `args` to wait for that."""
        self.install_file(require_file(exe, Path(exe).name), windows_path)
        self.ready()
        ready_win = rf"{self.temp_win}\ready-{len(self._background)}.flag"
        ready = self.unix_path(ready_win)
        args = [ready_win if a == "{ready}" else str(a) for a in args]
        popen = subprocess.Popen(["wine", windows_path, *args], env=self.env(),
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        process = BackgroundProcess(popen, windows_path)
        self._background.append(process)
        if ready_win in args:
            deadline = time.monotonic() + ready_timeout
            while not ready.exists():
                if popen.poll() is not None:
                    raise HarnessError(f"{windows_path} ended early ({popen.returncode})")
                if time.monotonic() > deadline:
                    raise HarnessError(f"{windows_path} not ready after {ready_timeout} s")
                time.sleep(0.05)
        return process

    def wait_for_window(self, title, timeout=30):
        """Waits until a visible window on the prefix's display has this
        title; returns its ids."""
        deadline = time.monotonic() + timeout
        while True:
            windows, error = find_visible_windows(self.display, title)
            if error:
                raise HarnessError(f"xdotool: {error}")
            if windows:
                return windows
            if time.monotonic() > deadline:
                raise HarnessError(f"no visible window '{title}' after {timeout} s")
            time.sleep(0.1)

    def kill(self):
        """Ends every process of this prefix, its server included."""
        for process in self._background:
            process.stop()
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL, timeout=60)
        subprocess.run(["wineserver", "-k"], env=self.env(), **quiet)
        # Let the server go before the caller removes the files.
        subprocess.run(["wineserver", "-w"], env=self.env(), **quiet)
        self._ready = False


def trust_root(prefix_root, der):
    """Adds the DER certificate to the machine's trusted Root store of a prefix
    that is not running: a registry key named after its SHA-1 whose Blob
    holds the certificate as a serialized store element (property 32, the
    encoded certificate)."""
    der = Path(der).read_bytes()
    blob = struct.pack("<III", 32, 1, len(der)) + der
    data = ",".join(f"{b:02x}" for b in blob)
    key = ("Software\\\\Microsoft\\\\SystemCertificates\\\\Root\\\\Certificates\\\\"
           + hashlib.sha1(der).hexdigest().upper())
    with open(Path(prefix_root) / "system.reg", "a", encoding="utf-8") as registry:
        registry.write(f"\n[{key}] 1700000000\n\"Blob\"=hex:{data}\n")


@contextlib.contextmanager
def fresh_prefix(template, folder, display=None, roots=()):
    """A copy of the template in folder/prefix whose machine Root store
    trusts the DER certificates `roots`. Afterwards its processes are ended
    and its files removed (kept when TSDLM_KEEP_PREFIX is set, for looking
    into a failure)."""
    root = Path(folder) / "prefix"
    subprocess.run(["cp", "-a", str(template), str(root)], check=True)  # links, modes kept
    for der in roots:
        trust_root(root, der)
    prefix = WinePrefix(root, display)
    try:
        yield prefix
    finally:
        prefix.kill()
        if not os.environ.get("TSDLM_KEEP_PREFIX"):
            shutil.rmtree(root, ignore_errors=True)
