#!/usr/bin/python3
"""How long tsrnGetProxyInfo takes under Wine, timed in-process by
bench/proxy_lookup_win.c, in a fresh copy of the end-to-end tests' template
prefix (automatic detection off):

  none  no proxy configured (a direct connection): the answer is 1
  pac   a configuration script served from 127.0.0.1 that names an open
        loopback proxy; the proxy manager fetches and runs the script, then
        probes the proxy with a HEAD request: the answer is 0

Each case runs ROUNDS processes; each process loads the DLL and makes CALLS
calls. Reported: the median of the first call in a process (what the
downloader pays: it asks once per run), of the later calls, and of the DLL
load.

Usage: bench/proxy_lookup.py [--rounds N] [--calls N]
Environment: DIST_DIR (TsrnProxyManager.dll), MINGW_BUILD (the build with
-DTSDLM_BENCH=ON: bench/proxy_lookup_win.exe), BENCH_DIR (scratch folder).
bench/timings.sh builds and runs it.
"""

import argparse
import os
import shutil
import statistics
import urllib.parse
from pathlib import Path

from bench_env import MINGW_BUILD

import harness  # noqa: E402
import proxy_helpers as ph  # noqa: E402
from test_proxy import TestProxy  # noqa: E402

TARGET_HOST = "updates.tsdlm.test"  # only the test proxy resolves it


def lookups(prefix, program, dll, url, rounds, calls):
    """[(load_ms, [(status, ms), ...]), ...], one per process."""
    runs = []
    for _ in range(rounds):
        result = prefix.wine(ph.windows_path(program), ph.windows_path(dll), url,
                             str(calls), timeout=120)
        fields = result.stdout.decode().split()
        runs.append((float(fields[0]),
                     [(int(s), float(ms)) for s, ms in (f.split(":") for f in fields[1:])]))
    return runs


def report(name, runs):
    first = [calls[0][1] for _, calls in runs]
    later = [ms for _, calls in runs for _, ms in calls[1:]]
    loads = [load for load, _ in runs]
    statuses = sorted({status for _, calls in runs for status, _ in calls})
    line = (f"{name:<5} status {','.join(map(str, statuses))}: first call median "
            f"{statistics.median(first):7.2f} ms (min {min(first):.2f}, "
            f"max {max(first):.2f}, n={len(first)})")
    if later:
        line += f"; later calls median {statistics.median(later):.2f} ms (n={len(later)})"
    line += f"; DLL load median {statistics.median(loads):.2f} ms"
    print(line)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--calls", type=int, default=3)
    args = parser.parse_args()

    scratch = Path(os.environ.get("BENCH_DIR") or "/tmp/tsdlm-bench")
    root = scratch / "proxy-prefix"
    shutil.rmtree(root, ignore_errors=True)
    program = harness.require_file(MINGW_BUILD / "bench" / "proxy_lookup_win.exe",
                                   "proxy_lookup_win.exe")
    dll = harness.require_file(harness.DIST_DIR / ph.PROXY_DLL, ph.PROXY_DLL)
    prefix = harness.WinePrefix(harness.copy_template(harness.ensure_template(), root))
    try:
        # Keeps the wineserver up between the runs, as a running desktop does.
        prefix.start_background(harness.FIXTURES_DIR / "sleeper.exe", r"C:\bench\sleeper.exe",
                                args=["3600", "{ready}"])
        url = f"https://{TARGET_HOST}/update.xml"
        lookups(prefix, program, dll, url, 2, 1)  # warm-up
        report("none", lookups(prefix, program, dll, url, args.rounds, args.calls))

        with TestProxy(hosts={TARGET_HOST: "127.0.0.1"}) as proxy, \
                ph.ScriptServer(ph.pac_script(f"PROXY {proxy.address}")) as script:
            ph.set_user_settings(prefix, ph.SCRIPT, script=script.url)
            # The probe's HEAD goes through the proxy to the script server.
            url = f"http://{TARGET_HOST}:{urllib.parse.urlsplit(script.url).port}/update.xml"
            lookups(prefix, program, dll, url, 2, 1)
            report("pac", lookups(prefix, program, dll, url, args.rounds, args.calls))
            print(f"script requests: {script.requests}, proxied requests: "
                  f"{len(proxy.requests)}")
    finally:
        prefix.kill()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
