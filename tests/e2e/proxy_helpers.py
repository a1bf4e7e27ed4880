"""Helpers of the proxy discovery tests: the user's connection settings and
the WinHTTP default in a test prefix, a local configuration-script server,
and running the proxy client fixture under the debug-output capture."""

import json
import re
from pathlib import Path

import harness
from loopback import LoopbackServer, QuietHandler, ServerState

PROXY_DLL = "TsrnProxyManager.dll"

INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
WINHTTP_SETTINGS = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"

# Flags of the connection record.
DIRECT = 1
PROXY = 2
SCRIPT = 4
AUTO_DETECT = 8


def _counted(text):
    data = text.encode("ascii")
    return len(data).to_bytes(4, "little") + data


def connection_settings(flags, proxy="", bypass="", script=""):
    """The binary DefaultConnectionSettings record that WinHTTP reads for the
    user's Internet Explorer settings."""
    return ((0x46).to_bytes(4, "little") + (2).to_bytes(4, "little") +
            flags.to_bytes(4, "little") + _counted(proxy) + _counted(bypass) +
            _counted(script) + bytes(32))


def set_user_settings(prefix, flags, proxy="", bypass="", script=""):
    prefix.wine("reg", "add", INTERNET_SETTINGS, "/v", "DefaultConnectionSettings",
                "/t", "REG_BINARY", "/d",
                connection_settings(flags, proxy, bypass, script).hex(), "/f")


def set_winhttp_default(prefix, proxy, bypass=""):
    """The machine's WinHTTP default, a named proxy: its binary
    WinHttpSettings record."""
    record = ((0x18).to_bytes(4, "little") + (0).to_bytes(4, "little") +
              PROXY.to_bytes(4, "little") + _counted(proxy) + _counted(bypass))
    prefix.wine("reg", "add", WINHTTP_SETTINGS, "/v", "WinHttpSettings",
                "/t", "REG_BINARY", "/d", record.hex(), "/f")


class _ScriptHandler(QuietHandler):
    def _handle(self):
        outer = self.server.outer
        outer.state.record({"path": self.path})
        self.send_response(200)
        self.send_header("Content-Type", "application/x-ns-proxy-autoconfig")
        self.send_header("Content-Length", str(1 << 20 if outer.drip else len(outer.script)))
        self.end_headers()
        self._write(outer.script)
        while outer.drip and not outer.state.stopping.wait(1):
            if not self._write(b" "):
                break


class ScriptServer(LoopbackServer):
    """Serves one proxy configuration script on 127.0.0.1 and counts the
    requests for it. With `drip`, it announces a megabyte and sends one blank
    a second until it stops, as a server no per-read time-out ends."""

    Handler = _ScriptHandler

    def __init__(self, script, drip=False):
        super().__init__(ServerState())
        self.script = script.encode("ascii")
        self.drip = drip

    def _make_server(self, address):
        server = super()._make_server(address)
        server.outer = self
        return server

    @property
    def requests(self):
        return len(self.state.requests())

    @property
    def url(self):
        return f"http://127.0.0.1:{self.port}/proxy.pac"


def pac_script(answer):
    return 'function FindProxyForURL(url, host) { return "%s"; }\n' % answer


def windows_path(host_path):
    return "Z:" + str(Path(host_path).resolve()).replace("/", "\\")


class ClientRun:
    """What one run of the proxy client printed."""

    def __init__(self, result):
        self.result = result
        text = result.stdout.decode("utf-8", errors="replace")
        self.answer = None
        self.debug_lines = []
        for line in text.splitlines():
            if line.startswith("{"):
                self.answer = json.loads(line)
            elif line.startswith(("ODSA ", "ODSW ")):
                self.debug_lines.append(_unescape(line[5:]))

    def messages(self, tag=None):
        """The messages of the proxy manager's lines, optionally of one tag."""
        prefix = "Tessarin   TsrnProxyManager   "
        found = []
        for line in self.debug_lines:
            assert line.startswith(prefix) and line.endswith("\n"), repr(line)
            line_tag, _, message = line[len(prefix):-1].partition("   ")
            if tag is None or line_tag == tag:
                found.append(message)
        return found


def _unescape(text):
    """The capture's escapes undone: \\n, \\r, and \\ before anything else."""
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r"}.get(m[1], m[1]), text,
                  flags=re.S)


def run_client(prefix, url, debug_switch=None, wpad_switch=None, args=(),
               timeout=60):
    """Asks TsrnProxyManager.dll for `url` through the client fixture, run
    under the debug-output capture. The switches are environment variables of
    the run; None leaves them unset."""
    dll = harness.require_file(harness.DIST_DIR / PROXY_DLL, PROXY_DLL)
    client = harness.require_file(harness.FIXTURES_DIR / "proxy_client.exe",
                                  "fixture proxy_client.exe")
    capture = harness.require_file(harness.FIXTURES_DIR / "debug_capture.exe",
                                   "fixture debug_capture.exe")
    extra = {name: value for name, value in (("TSRN_ENABLE_DEBUG_STRING", debug_switch),
                                             ("TSRN_TSRN_WPAD_PROXY_CHECK", wpad_switch))
             if value is not None}
    result = prefix.run(capture, [windows_path(client), windows_path(dll), url, *args],
                        timeout=timeout, extra_env=extra)
    run = ClientRun(result)
    assert run.answer is not None, result.stdout + result.stderr
    return run
