#!/usr/bin/python3
"""A local HTTP proxy for the tests and the demo (standard library only).

It listens on 127.0.0.1, forwards plain-HTTP requests given with an absolute
URI (HEAD included) and tunnels CONNECT requests (https targets). It records
every request it gets: method, target and Proxy-Authorization header.

Modes (the `auth` argument):
    None         an open proxy
    "basic"      407 with a Basic challenge; accepts user/password
    "digest"     407 with a Digest challenge (MD5, qop=auth); checks the
                 response with user/password as RFC 7616 computes it
    "ntlm"       407 offering NTLM and Negotiate. An NTLM type-1 message gets
                 a type-2 challenge on the same connection; a type-3 message
                 is accepted when its user name is `user` (the password is
                 not checked: that needs MD4, which hashlib may lack)
    "negotiate"  407 offering Negotiate only; every answer is refused
    "unknown"    407 offering only schemes no client knows (Bearer and a
                 made-up one); every answer is refused
`hosts` maps target host names to the addresses the proxy connects to
instead (Wine's WinHTTP does not send requests for loopback targets through a
proxy, so the end-to-end tests name the update server "updates.tsdlm.test").
`reject=True` demands credentials (Basic unless `auth` says otherwise) and
refuses every answer. `status=N` answers every proxied request with N.
`silent=True` records each request and never answers it (the connection
stays open until the proxy stops), as a dead proxy behind a live port.
`open_head=True` lets HEAD requests through without credentials, as an
impostor that answers a proxy probe's HEAD with 200 and asks only later.

In-process (pytest):

    proxy = TestProxy(auth="basic", user="u", password="p").start()
    ...; proxy.requests; proxy.stop()

As a program (prints the port on the first line of stdout):

    python3 tests/servers/test_proxy.py [--auth basic] [--user U]
        [--password P] [--reject] [--status N] [--silent] [--open-head]
        [--host NAME=ADDRESS] [--port N]

The request log is also served as JSON to a request for /__proxy/requests
sent to the proxy itself (an origin-form path, not a proxied URL).
"""

import argparse
import base64
import hashlib
import json
import os
import select
import socket
import struct
import sys
import urllib.parse
import urllib.request
from http.client import HTTPConnection

from loopback import LoopbackServer, QuietHandler, ServerState, serve_until_signalled

REALM = "tsdlm-test-proxy"
AUTH_MODES = (None, "basic", "digest", "ntlm", "negotiate", "unknown")
HOP_BY_HOP = {"connection", "keep-alive", "proxy-authenticate", "proxy-authorization",
              "proxy-connection", "te", "trailer", "transfer-encoding", "upgrade"}
NTLMSSP = b"NTLMSSP\0"


def ntlm_challenge_message():
    """A minimal NTLM type-2 message: Unicode, NTLM, a fixed server challenge,
    an empty target name and target info."""
    flags = 0x00000001 | 0x00000200 | 0x00008000 | 0x00800000  # unicode ntlm always-sign target-info
    return (NTLMSSP + struct.pack("<I", 2) + struct.pack("<HHI", 0, 0, 48) +
            struct.pack("<I", flags) + b"\x01\x23\x45\x67\x89\xab\xcd\xef" + bytes(8) +
            struct.pack("<HHI", 0, 0, 48))


def ntlm_message_type(data):
    if len(data) < 12 or not data.startswith(NTLMSSP):
        return None
    return struct.unpack_from("<I", data, 8)[0]


def ntlm_user_name(data):
    """The user name of a type-3 message (UTF-16LE when it says Unicode)."""
    if len(data) < 64:
        return None
    length, _, offset = struct.unpack_from("<HHI", data, 36)
    flags = struct.unpack_from("<I", data, 60)[0]
    raw = data[offset:offset + length]
    return raw.decode("utf-16-le" if flags & 1 else "latin-1", errors="replace")


def _md5(text):
    return hashlib.md5(text.encode()).hexdigest()


def parse_digest(value):
    """The parameters of a Digest answer as a dict."""
    params = {}
    for item in urllib.request.parse_http_list(value):
        key, _, val = item.partition("=")
        params[key.strip().lower()] = val.strip().strip('"')
    return params


class _Handler(QuietHandler):
    server_version = "TsDLMTestProxy/1"

    def do_CONNECT(self):  # noqa: N802
        state = self.server.state
        state.record(self)
        if not self._admitted():
            return
        host, _, port = self.path.rpartition(":")
        host = host.strip("[]")
        try:
            upstream = socket.create_connection((state.hosts.get(host, host), int(port)),
                                                timeout=10)
        except (OSError, ValueError):
            self._reply(502, b"cannot reach the target\n")
            return
        self.send_response(200, "Connection established")
        self.end_headers()
        self.wfile.flush()
        self._pipe(self.connection, upstream)
        self.close_connection = True

    # --- Authentication ------------------------------------------------------

    def _admitted(self):
        """True when the request may go on; otherwise the answer is sent."""
        state = self.server.state
        if state.status is not None:
            self._reply(state.status, f"status {state.status}\n".encode())
            return False
        if state.auth is None or (state.open_head and self.command == "HEAD"):
            return True
        answer = self.headers.get("Proxy-Authorization")
        scheme, _, token = (answer or "").partition(" ")
        scheme = scheme.lower()
        if state.auth == "ntlm" and scheme == "ntlm":
            try:
                message = base64.b64decode(token.strip())
            except ValueError:
                message = b""
            kind = ntlm_message_type(message)
            if kind == 1:
                self._challenge(["NTLM " + base64.b64encode(ntlm_challenge_message()).decode()])
                return False
            if kind == 3 and not state.reject and ntlm_user_name(message) == state.user:
                return True
        elif state.auth == "basic" and scheme == "basic" and not state.reject:
            try:
                given = base64.b64decode(token.strip()).decode("utf-8")
            except (ValueError, UnicodeDecodeError):
                given = None
            if given == f"{state.user}:{state.password}":
                return True
        elif state.auth == "digest" and scheme == "digest" and not state.reject:
            if self._digest_ok(parse_digest(token)):
                return True
        self._challenge(state.challenges())
        return False

    def _digest_ok(self, params):
        state = self.server.state
        if params.get("username") != state.user or params.get("nonce") != state.nonce:
            return False
        ha1 = _md5(f"{state.user}:{REALM}:{state.password}")
        ha2 = _md5(f"{self.command}:{params.get('uri', '')}")
        if params.get("qop"):
            expected = _md5(f"{ha1}:{state.nonce}:{params.get('nc')}:"
                            f"{params.get('cnonce')}:{params['qop']}:{ha2}")
        else:
            expected = _md5(f"{ha1}:{state.nonce}:{ha2}")
        return params.get("response") == expected

    def _challenge(self, challenges):
        self._reply(407, b"proxy authentication required\n",
                    headers=[("Proxy-Authenticate", value) for value in challenges])

    # --- Forwarding ----------------------------------------------------------

    def _handle(self):
        state = self.server.state
        target = urllib.parse.urlsplit(self.path)
        if not target.scheme:
            if target.path == "/__proxy/requests":
                self._reply(200, json.dumps(state.requests()).encode(), "application/json")
            else:
                self._reply(400, b"a proxy takes absolute URIs\n")
            return
        state.record(self)
        if state.silent:
            state.stopping.wait()
            self.close_connection = True
            return
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else None
        if not self._admitted():
            return
        if target.scheme != "http":
            self._reply(400, b"only http targets are forwarded; use CONNECT\n")
            return
        headers = {k: v for k, v in self.headers.items() if k.lower() not in HOP_BY_HOP}
        path = target.path or "/"
        if target.query:
            path += "?" + target.query
        try:
            host = state.hosts.get(target.hostname, target.hostname)
            upstream = HTTPConnection(host, target.port or 80, timeout=60)
            upstream.request(self.command, path, body=body, headers=headers)
            response = upstream.getresponse()
            data = response.read()
            upstream.close()
        except OSError:
            self._reply(502, b"cannot reach the target\n")
            return
        # send_response adds its own Server and Date; a HEAD answer keeps the
        # target's Content-Length, since it has no body to measure.
        self.send_response(response.status, response.reason)
        skipped = HOP_BY_HOP | {"server", "date", "content-length"}
        for name, value in response.getheaders():
            if name.lower() not in skipped:
                self.send_header(name, value)
        length = response.getheader("Content-Length") if self.command == "HEAD" else None
        self.send_header("Content-Length", length or str(len(data)))
        self.end_headers()
        if self.command != "HEAD":
            self._write(data)

    def _pipe(self, client, upstream):
        stopping = self.server.state.stopping
        sockets = [client, upstream]
        try:
            while not stopping.is_set():
                readable, _, failed = select.select(sockets, [], sockets, 0.2)
                if failed:
                    break
                for source in readable:
                    data = source.recv(65536)
                    if not data:
                        return
                    (upstream if source is client else client).sendall(data)
        except OSError:
            pass
        finally:
            upstream.close()


class _State(ServerState):
    def __init__(self, auth, user, password, reject, status, hosts, silent=False,
                 open_head=False):
        super().__init__()
        if auth not in AUTH_MODES:
            raise ValueError(f"auth must be one of {AUTH_MODES}")
        self.auth = auth or ("basic" if reject else None)
        self.user = user
        self.password = password
        self.reject = reject
        self.status = status
        self.silent = silent
        self.open_head = open_head
        self.hosts = dict(hosts or {})
        self.nonce = base64.b64encode(os.urandom(12)).decode()

    def challenges(self):
        return {"basic": [f'Basic realm="{REALM}"'],
                "digest": [f'Digest realm="{REALM}", nonce="{self.nonce}", qop="auth", '
                           'algorithm=MD5'],
                "ntlm": ["NTLM", "Negotiate"],
                "unknown": [f'Bearer realm="{REALM}"', "X-Tessarin-Token"]}.get(
                    self.auth, ["Negotiate"])

    def record(self, handler):
        super().record({"method": handler.command, "target": handler.path,
                        "proxy_authorization": handler.headers.get("Proxy-Authorization")})


class TestProxy(LoopbackServer):
    """The proxy for in-process use: start(), stop() and the request log
    (dicts of method, target, proxy_authorization, time)."""

    __test__ = False  # not a pytest class
    Handler = _Handler

    def __init__(self, auth=None, user="", password="", reject=False, status=None,
                 hosts=None, port=0, silent=False, open_head=False):
        super().__init__(_State(auth, user, password, reject, status, hosts, silent,
                                open_head), port)

    @property
    def address(self):
        """host:port as a proxy list names it."""
        return f"127.0.0.1:{self.port}"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--auth", choices=[m for m in AUTH_MODES if m])
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--reject", action="store_true")
    parser.add_argument("--status", type=int)
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--open-head", action="store_true")
    parser.add_argument("--host", action="append", default=[], metavar="NAME=ADDRESS",
                        help="connect to ADDRESS for target host NAME")
    parser.add_argument("--port", type=int, default=0, help="port (0: any free one)")
    options = parser.parse_args(argv)

    hosts = dict(item.split("=", 1) for item in options.host)
    proxy = TestProxy(options.auth, options.user, options.password, options.reject,
                      options.status, hosts, options.port, options.silent,
                      options.open_head).start()
    serve_until_signalled(proxy, lambda: print(proxy.port, flush=True))
    return 0


if __name__ == "__main__":
    sys.exit(main())
