"""Debian's squid as a test proxy: one instance per test on 127.0.0.1, with
its own configuration, pid file, logs and password files in the test's
temporary folder, started as `squid -N` and stopped by its pid. Never the
system's service: that one listens on 3128 and is neither started nor used.

`python3 squid.py serve FOLDER CONFIG USER PASSWORD` runs one for the native
tests: it prints the port, and stops squid when it is ended with SIGTERM.
Run as `python3 squid.py ntlm-helper USER`, this module is the
NTLM authenticator of the NTLM configurations: Debian 12's ntlm_fake_auth
writes a challenge whose target-name offset Samba's ntlm_auth (which Wine's
NTLM uses) rejects. Ours writes a well-formed one and accepts the named user
(it does not check the password: the probe's bounds are proven with Basic
and Digest, where squid checks it)."""

import base64
import os
import shutil
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from loopback import free_port, serve_until_signalled
from test_proxy import ntlm_user_name

SQUID = "/usr/sbin/squid"
HELPERS = Path("/usr/lib/squid")
# The configurations: which schemes the proxy offers.
CONFIGS = ("none", "basic", "ntlm", "basic+ntlm", "digest")


def _reachable_by_squid(folder):
    """Squid started by root runs as the user 'proxy': it must reach and
    write its folder inside the test's private temporary tree."""
    if os.geteuid() != 0:
        return
    shutil.chown(folder, "proxy", "proxy")
    for parent in Path(folder).parents:
        if parent == Path(tempfile.gettempdir()) or parent == Path("/"):
            break
        mode = parent.stat().st_mode
        parent.chmod(mode | stat.S_IXOTH)


class Squid:
    """squid on 127.0.0.1:<port> offering `config`'s schemes to `user` /
    `password`, resolving `hosts` ({name: address}) from its own hosts file."""

    def __init__(self, folder, config, user, password, hosts):
        assert config in CONFIGS, config
        self.folder = Path(folder) / "squid"
        self.folder.mkdir()
        self.config = config
        self.user, self.password = user, password
        self.port = free_port()
        # Names squid's shared-memory segments; unique per instance.
        self.service = f"tsdlm{os.getpid()}p{self.port}"
        self.process = None
        (self.folder / "hosts").write_text(
            "".join(f"{address} {name}\n" for name, address in hosts.items()))
        (self.folder / "squid.conf").write_text(self._configuration())

    @property
    def address(self):
        return f"127.0.0.1:{self.port}"

    def _configuration(self):
        d = self.folder
        lines = [
            f"http_port 127.0.0.1:{self.port}",
            f"pid_filename {d}/squid.pid",
            f"access_log stdio:{d}/access.log squid",
            f"cache_log {d}/cache.log",
            "cache_store_log none",
            "cache deny all",
            f"coredump_dir {d}",
            f"hosts_file {d}/hosts",
            "dns_nameservers 127.0.0.1",
            "shutdown_lifetime 0 seconds",
            "pinger_enable off",
        ]
        schemes = self.config.split("+")
        if "ntlm" in schemes:
            # Debian's own Python: squid's user cannot run one under /root.
            lines += [f"auth_param ntlm program /usr/bin/python3 {Path(__file__).resolve()} "
                      f"ntlm-helper {self.user}",
                      "auth_param ntlm children 2"]
        if "basic" in schemes:
            subprocess.run(["htpasswd", "-b", "-c", str(d / "passwd"), self.user,
                            self.password], check=True, capture_output=True)
            lines += [f"auth_param basic program {HELPERS}/basic_ncsa_auth {d}/passwd",
                      "auth_param basic realm tsdlm"]
        if "digest" in schemes:
            (d / "digest").write_text(f"{self.user}:{self.password}\n")
            lines += [f"auth_param digest program {HELPERS}/digest_file_auth {d}/digest",
                      "auth_param digest realm tsdlm"]
        if self.config == "none":
            lines += ["http_access allow all"]
        else:
            lines += ["acl known proxy_auth REQUIRED", "http_access allow known",
                      "http_access deny all"]
        return "\n".join(lines) + "\n"

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        _reachable_by_squid(self.folder)
        with open(self.folder / "squid.out", "wb") as out:
            self.process = subprocess.Popen(
                [SQUID, "-N", "-n", self.service, "-f", str(self.folder / "squid.conf")],
                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        while self.process.poll() is None and time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return self
            except OSError:
                time.sleep(0.1)
        self.stop()
        raise RuntimeError(f"squid did not start: {self._read('cache.log')[-2000:]}")

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=15)
        for segment in Path("/dev/shm").glob(f"{self.service}-*"):
            segment.unlink(missing_ok=True)

    def _read(self, name):
        path = self.folder / name
        return path.read_text(errors="replace") if path.exists() else ""

    def access_log(self):
        """(status, method, url, user) of each request squid logged."""
        return [(int(f[3].rpartition("/")[2] or 0), f[5], f[6], f[7])
                for f in map(str.split, self._read("access.log").splitlines())]

    def count(self, status):
        return sum(entry[0] == status for entry in self.access_log())


# --- The NTLM authenticator (squid's stateful helper protocol) ---------------

NTLM_FLAGS = (0x00000001 | 0x00000004 | 0x00000200 | 0x00008000 | 0x00010000 |
              0x00080000 | 0x00800000 | 0x20000000 | 0x80000000)


def ntlm_challenge(domain="TSDLM"):
    """A type 2 message: target name and target information after a 48-byte
    header, each at the offset its security buffer names."""
    name = domain.encode("utf-16-le")
    info = (struct.pack("<HH", 2, len(name)) + name +  # MsvAvNbDomainName
            struct.pack("<HH", 1, len(name)) + name +  # MsvAvNbComputerName
            struct.pack("<HH", 0, 0))                  # MsvAvEOL
    header = 48
    return (b"NTLMSSP\0" + struct.pack("<I", 2) +
            struct.pack("<HHI", len(name), len(name), header) +
            struct.pack("<I", NTLM_FLAGS) + os.urandom(8) + bytes(8) +
            struct.pack("<HHI", len(info), len(info), header + len(name)) + name + info)


def ntlm_helper(user):
    for line in sys.stdin:
        kind, _, blob = line.strip().partition(" ")
        if kind == "YR":
            answer = "TT " + base64.b64encode(ntlm_challenge()).decode()
        elif kind == "KK":
            got = ntlm_user_name(base64.b64decode(blob or ""))
            answer = f"AF {got}" if got is not None and got.lower() == user.lower() \
                else "NA wrong user"
        else:
            answer = "BH unknown request"
        sys.stdout.write(answer + "\n")
        sys.stdout.flush()


def serve(folder, config, user, password):
    """For the native tests (unit/script_server.h): prints the port, runs
    until SIGTERM, then stops squid."""
    squid = Squid(folder, config, user, password, {}).start()
    serve_until_signalled(squid, lambda: print(squid.port, flush=True))


if __name__ == "__main__" and sys.argv[1:2] == ["ntlm-helper"]:
    ntlm_helper(sys.argv[2])
elif __name__ == "__main__" and sys.argv[1:2] == ["serve"]:
    serve(*sys.argv[2:6])
