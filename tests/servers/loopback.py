"""The part the local test servers share: a threaded server on 127.0.0.1
that runs in the background of the calling process until stopped, the
request handler's common ground and the request log."""

import copy
import signal
import socket
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def free_port():
    """A port on 127.0.0.1 that nothing listens on (at the moment asked)."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class ServerState:
    """What the handler threads share: a lock, the request log and the
    signal that the server stops (which long-running handlers watch)."""

    def __init__(self):
        self.lock = threading.Lock()
        self.log = []
        self.stopping = threading.Event()

    def record(self, entry):
        with self.lock:
            self.log.append(dict(entry, time=time.time()))

    def requests(self):
        with self.lock:
            return copy.deepcopy(self.log)

    def clear_requests(self):
        with self.lock:
            self.log.clear()


class QuietHandler(BaseHTTPRequestHandler):
    """HTTP/1.1 without console output; GET, HEAD and POST all go to
    _handle(); writes that fail end the connection quietly."""

    protocol_version = "HTTP/1.1"
    sys_version = ""

    def log_message(self, format, *args):  # noqa: A002  (base class name)
        pass

    def do_GET(self):  # noqa: N802 (the library's names)
        self._handle()

    do_HEAD = do_POST = do_GET

    def _write(self, data):
        try:
            self.wfile.write(data)
            self.wfile.flush()
            return True
        except OSError:
            self.close_connection = True
            return False

    def _reply(self, status, body, content_type="text/plain", headers=()):
        """A whole answer: `headers` ((name, value) pairs) first, the body
        left out for HEAD."""
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if content_type:
            self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self._write(body)


class QuietServer(ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False


class LoopbackServer:
    """start() and stop() around a server made by _make_server(address): by
    default a QuietServer with the subclass's Handler, sharing self.state (a
    ServerState)."""

    Handler = None

    def __init__(self, state, port=0):
        self.state = state
        self._port = port
        self._server = None
        self._thread = None

    def _make_server(self, address):
        server = QuietServer(address, self.Handler)
        server.state = self.state
        return server

    def start(self):
        self._server = self._make_server(("127.0.0.1", self._port))
        self._thread = threading.Thread(target=self._server.serve_forever,
                                        kwargs={"poll_interval": 0.1}, daemon=True)
        self._thread.start()
        return self

    def stop(self):
        if self._server is None:
            return
        self.state.stopping.set()
        self._server.shutdown()
        self._server.server_close()
        self._thread.join()
        self._server = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    @property
    def port(self):
        return self._server.server_address[1]

    @property
    def requests(self):
        """Every request so far, oldest first (dicts; each server says
        which keys)."""
        return self.state.requests()

    def clear_requests(self):
        self.state.clear_requests()


def serve_until_signalled(server, announce):
    """Runs a started server until SIGINT or SIGTERM, then stops it (the
    servers' command-line mode). announce() tells the caller the server is
    up (prints its port); it runs once the signals are caught, so a caller
    may stop the server as soon as it has read the port."""
    done = threading.Event()
    for signum in (signal.SIGINT, signal.SIGTERM):
        signal.signal(signum, lambda *_: done.set())
    announce()
    done.wait()
    server.stop()
