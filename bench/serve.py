#!/usr/bin/env python3
"""Static file server for the download benchmark.

Serves the files of one folder over loopback with os.sendfile, so that the
server costs next to nothing next to the client being measured. Prints the
port it listens on, then serves until killed.
"""
import http.server
import os
import socketserver
import sys


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."

    def do_GET(self):
        name = os.path.basename(self.path.split("?", 1)[0])
        path = os.path.join(self.root, name)
        if not name or not os.path.isfile(path):
            self.send_error(404)
            return
        size = os.path.getsize(path)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        self.wfile.flush()
        with open(path, "rb") as f:
            offset = 0
            out = self.connection.fileno()
            while offset < size:
                sent = os.sendfile(out, f.fileno(), offset, size - offset)
                if sent == 0:
                    break
                offset += sent

    def log_message(self, fmt, *args):
        pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    Handler.root = sys.argv[1]
    server = Server(("127.0.0.1", int(sys.argv[2]) if len(sys.argv) > 2 else 0),
                    Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
