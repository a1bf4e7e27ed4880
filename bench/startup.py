#!/usr/bin/python3
"""A run that finds no update, timed from start to exit, against a trivial
GUI program started the same way.

The updater is installed in a fresh copy of the end-to-end tests' template
prefix as on a customer's machine (download manager 6.1.32.0 beside it),
with update.ini pointing at a loopback update server whose manifest offers
6.1.32.0 as well, so each run ends with "not higher". A background process
keeps the wineserver up, as in the end-to-end tests, and both programs run
under an Xvfb display. bench/imports_only.exe (the trivial program with the
updater's system DLL imports) shows what the imports alone cost. The order
of the programs rotates from round to round; each time is the wall clock of
`wine PROGRAM` until it exits. The server's answer time is curl's time_total
for the manifest.

Usage: bench/startup.py [--rounds N] [--trace FILE [--channels C]]
Environment: DIST_DIR (TsDLMUpdater.exe, UsageUtil.dll), MINGW_BUILD (the
build with -DTSDLM_BENCH=ON: bench/trivial.exe, bench/imports_only.exe and
the test fixtures),
BENCH_DIR (scratch folder). bench/timings.sh builds and runs it.
--trace FILE: one more updater run with WINEDEBUG=+timestamp,+loaddll (or
the channels given), its debug output written to FILE.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import time
from pathlib import Path

from bench_env import MINGW_BUILD

import harness  # noqa: E402
import update_server  # noqa: E402

MANIFEST_PATH = "/utility/dlm/prod/Installer/update.xml"
INSTALLED_VERSION = "6.1.32.0"
NOT_HIGHER = b"Server version is Not higher than installed version, return now\r\n"
TRIVIAL = harness.INSTALL_FOLDER + r"\trivial.exe"
IMPORTS_ONLY = harness.INSTALL_FOLDER + r"\imports_only.exe"


def manifest(base_url, version):
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<installerInformation>
  <version>{version}</version>
  <downloadLocationList>
    <downloadLocation><url>{base_url}/utility/dlm/prod/Installer/files/</url></downloadLocation>
  </downloadLocationList>
  <platformFileList>
    <win><platform>windows</platform><filename>TessarinDownloadManagerSetup.exe</filename></win>
  </platformFileList>
</installerInformation>
"""


def timed(prefix, program, extra_env=None):
    """Wall clock of `wine program` to its exit, and its exit code."""
    start = time.monotonic()
    result = prefix.wine(program, timeout=120, check=False, extra_env=extra_env)
    return time.monotonic() - start, result


def server_answer(url):
    """curl's time_total for one GET of the manifest, in seconds."""
    out = subprocess.run(["curl", "-sS", "--noproxy", "*", "-o", "/dev/null",
                          "-w", "%{time_total}", url],
                         capture_output=True, text=True, check=True).stdout
    return float(out)


def summary(name, values):
    return (f"{name:<22} median {statistics.median(values) * 1000:8.1f} ms"
            f"  min {min(values) * 1000:8.1f}  max {max(values) * 1000:8.1f}"
            f"  (n={len(values)})")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=21)
    parser.add_argument("--trace")
    parser.add_argument("--channels", default="+timestamp,+loaddll")
    args = parser.parse_args()

    scratch = Path(os.environ.get("BENCH_DIR") or "/tmp/tsdlm-bench")
    root = scratch / "startup-prefix"
    site = scratch / "startup-site"
    for folder in (root, site):
        shutil.rmtree(folder, ignore_errors=True)
    site.mkdir(parents=True)
    trivial = harness.require_file(MINGW_BUILD / "bench" / "trivial.exe", "trivial.exe")
    imports_only = harness.require_file(MINGW_BUILD / "bench" / "imports_only.exe",
                                        "imports_only.exe")
    fixtures = harness.FIXTURES_DIR

    display = harness.Xvfb()
    server = update_server.UpdateServer(site)
    prefix = None
    try:
        prefix = harness.WinePrefix(
            harness.copy_template(harness.ensure_template(), root), display.start())
        server.start()
        updater = prefix.install_updater()
        prefix.install_file(fixtures / "version_6_1_32_0.exe",
                            harness.INSTALL_FOLDER + r"\TSRN.DLM.exe")
        prefix.install_file(trivial, TRIVIAL)
        prefix.install_file(imports_only, IMPORTS_ONLY)
        server.add_file(MANIFEST_PATH, manifest(server.base_url, INSTALLED_VERSION))
        prefix.unix_path(harness.INSTALL_FOLDER + r"\update.ini").write_bytes(
            f"[Update]\r\nurl={server.url(MANIFEST_PATH)}\r\ncheck_for_updates=1\r\n"
            .encode("latin-1"))
        prefix.start_background(fixtures / "sleeper.exe", r"C:\bench\sleeper.exe",
                                args=["3600", "{ready}"])

        def run_updater():
            seconds, result = timed(prefix, updater)
            log = prefix.read_temp_log() or b""
            if result.returncode != 0 or not log.endswith(NOT_HIGHER):
                raise harness.HarnessError(
                    f"updater run did not end with 'not higher' ({result.returncode}): "
                    f"{log[-300:]!r}")
            return seconds

        def returning(program):
            def run():
                seconds, result = timed(prefix, program)
                if result.returncode != 0:
                    raise harness.HarnessError(f"{program}: {result.returncode}")
                return seconds
            return run

        programs = (("trivial", returning(TRIVIAL)), ("imports", returning(IMPORTS_ONLY)),
                    ("updater", run_updater))
        # Warm-up: the first runs load the programs into the page cache.
        for _ in range(2):
            for _, run in programs:
                run()
        times = {name: [] for name, _ in programs}
        for round_number in range(args.rounds):
            shift = round_number % len(programs)
            for name, run in programs[shift:] + programs[:shift]:
                times[name].append(run())
        manifest_requests = len(server.requests_for(MANIFEST_PATH))
        answers = [server_answer(server.url(MANIFEST_PATH)) for _ in range(args.rounds)]

        trivial_ms = statistics.median(times["trivial"])
        updater_ms = statistics.median(times["updater"])
        answer_ms = statistics.median(answers)
        budget = 1.5 * trivial_ms + answer_ms
        print(summary("trivial.exe", times["trivial"]))
        print(summary("imports_only.exe", times["imports"]))
        print(summary("TsDLMUpdater.exe", times["updater"]))
        print(summary("server answer (curl)", answers))
        print(f"budget 1.5 * trivial + answer = {budget * 1000:.1f} ms; "
              f"updater / budget = {updater_ms / budget:.2f} "
              f"({'met' if updater_ms <= budget else 'missed'})")
        print(f"updater - trivial = {(updater_ms - trivial_ms) * 1000:.1f} ms")
        print(f"manifest requests by the updater runs: {manifest_requests}")

        if args.trace:
            seconds, result = timed(prefix, updater,
                                    {"WINEDEBUG": args.channels})
            Path(args.trace).write_bytes(result.stderr)
            print(f"trace ({seconds * 1000:.0f} ms run): {args.trace}")
    finally:
        server.stop()
        if prefix is not None:
            prefix.kill()
        display.stop()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
