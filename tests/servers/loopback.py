"""The part the local test servers share: a threaded server on 127.0.0.1
that runs in the background of the calling process until stopped."""

import signal
import threading


class LoopbackServer:
    """start() and stop() around a server made by _make_server(address).

    Subclasses set self.state (with a `stopping` event that long-running
    handlers watch) and implement _make_server."""

    def __init__(self, state, port=0):
        self.state = state
        self._port = port
        self._server = None
        self._thread = None

    def _make_server(self, address):
        raise NotImplementedError

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
