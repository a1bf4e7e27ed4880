"""The proxy manager and the updater under Wine behind Debian's squid (the
squid module): one table of cases, each counting the 407 answers in squid's
access log and checking that no output of the run holds a password.

What Wine lets us prove here: the probe with plain-http targets (Wine's
WinHTTP ignores a 407 to CONNECT) and Basic or NTLM (it never answers
Digest, so the Digest rows prove the bound on a proxy that accepts nothing);
the transfer through CONNECT is proven natively (http_downloader_proxy_test)."""

import base64
from dataclasses import dataclass

import pytest

import harness
import proxy_helpers
from scenarios import (HOSTS, INSTALLED, MANIFEST_URL_PATH, NO_MANIFEST, PASSWORD, PROXY_HOST,
                       SILENT, TYPED, USER, ProxiedCheck, event_names, read_log,
                       run_answering)
from squid import Squid

WRONG = "0ld-pa55"
REJECTED = (f"Proxy server {PROXY_HOST}:{{port}} rejected the credentials of user "
            f"{USER}.\r\n").encode()


@dataclass
class Case:
    id: str
    config: str          # squid.CONFIGS
    stored: str = None   # the stored entry's password
    comment: str = None  # the stored entry's comment
    silent: bool = False
    dialog: list = None  # keys for the dialog, if one shows
    dll: bool = False    # ask the DLL through the client fixture instead
    tls: bool = False    # the update server on HTTPS (its port is not 443)
    installs: bool = True
    recorded: str = ""   # the entry's comment afterwards
    # 407 answers in squid's access log: each transfer's challenge (Wine's
    # WinHTTP repeats a Basic request once without credentials, NTLM takes a
    # 407 per handshake; an update has three transfers: the manifest, its
    # signature and the installer), and with a proxy that accepts nothing the
    # bound: 10 at most over the run.
    rejections: int = 0


CASES = [
    Case("basic-stored", "basic", stored=PASSWORD, rejections=9),
    Case("ntlm-stored", "ntlm", stored=PASSWORD, recorded="TsrnProxyAuthScheme=NTLM",
         rejections=15),
    Case("basic-entry-raised-to-ntlm", "basic+ntlm", stored=PASSWORD,
         comment="TsrnProxyAuthScheme=Basic", recorded="TsrnProxyAuthScheme=NTLM",
         rejections=15),
    Case("basic-wrong-stored-dialog-cancelled", "basic", stored=WRONG, dialog=["key:Escape"],
         installs=False, rejections=3),
    Case("digest-wrong-stored-dialog-cancelled", "digest", stored=WRONG,
         dialog=["key:Escape"], installs=False, rejections=2),
    Case("basic-wrong-stored-silent", "basic", stored=WRONG, silent=True, installs=False,
         rejections=3),
    Case("digest-wrong-stored-silent", "digest", stored=WRONG, silent=True, installs=False,
         rejections=2),
    Case("basic-typed", "basic", dialog=TYPED, recorded="TsrnProxyAuthScheme=Basic",
         rejections=9),
    Case("dll-answer-basic+ntlm", "basic+ntlm", stored=PASSWORD, dll=True, rejections=3),
    Case("open-proxy-https-port", "none", tls=True, rejections=0),
]


def stored_entry(check):
    tool = check.fixture_exe("credential_tool.exe")
    result = check.prefix.run(tool, ["load", PROXY_HOST], timeout=60)
    return harness.printed_json(result.stdout, result.stderr)


@pytest.mark.parametrize("case", CASES, ids=[c.id for c in CASES])
def test_behind_squid(case, prefix, update_site, update_site_tls, fixture_exe, signing_kit,
                      tmp_path):
    server = update_site_tls if case.tls else update_site
    check = ProxiedCheck(prefix, server, fixture_exe, signing_kit, tmp_path)
    with Squid(tmp_path, case.config, USER, PASSWORD, HOSTS) as squid:
        check.through(squid)
        check.offer()
        if case.silent:
            check.settings(extra=SILENT)
        if case.stored:
            assert check.cred_tool("write", PROXY_HOST, USER, case.stored,
                                   *([case.comment] if case.comment else [])).returncode == 0
        if case.dll:
            run = proxy_helpers.run_client(prefix, check.url(MANIFEST_URL_PATH),
                                           debug_switch="TRUE")
            assert run.answer == {"status": 0, "server": PROXY_HOST,
                                  "serverPort": str(squid.port), "user": USER,
                                  "password": PASSWORD, "authScheme": 4, "released": True}
            outputs = run.debug_lines + [run.result.stderr]
        else:
            # Answered with `case.dialog` if it shows.
            result, shown = run_answering(check, case.dialog or [], timeout=80)
            assert shown == [bool(case.dialog and (case.dialog == TYPED or case.stored))]
            log = prefix.read_temp_log() or b""
            # libcurl's trace is on standard error in every run.
            outputs = [result.stdout, result.stderr, log]
            installed = event_names(prefix) == INSTALLED
            assert installed == case.installs, read_log(prefix)
            if not case.installs:
                assert read_log(prefix)[-1] == NO_MANIFEST
            if case.stored == WRONG and case.config == "basic":
                assert log.count(REJECTED.replace(b"{port}", str(squid.port).encode())) == 1
            if case.installs and case.config != "none":
                entry = stored_entry(check)
                assert (entry["user"], entry["password"], entry["comment"]) == (
                    USER, PASSWORD, case.recorded)
        rejections = squid.count(407)
        access = squid.access_log()
    # Neither password, nor a Basic header's token (libcurl's own trace).
    secrets = [s.encode() for s in (PASSWORD, WRONG)]
    secrets += [base64.b64encode(f"{USER}:{s}".encode()) for s in (PASSWORD, WRONG)]
    for text in outputs:
        text = text if isinstance(text, bytes) else text.encode("utf-8")
        assert not [s for s in secrets if s in text]
    assert rejections == case.rejections, access
