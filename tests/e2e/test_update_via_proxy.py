"""The real updater under Wine with the user's proxy settings pointing at the
local test proxy: the whole update through an open proxy and through a Basic
proxy (credentials stored beforehand, or given in the credential dialog),
and the proxy step's failure entries (silent mode, a cancelled dialog, no
URL)."""

import pytest

from scenarios import (HOSTS, INSTALLED, INSTALLER_URL_PATH, MANIFEST_URL_PATH, NO_MANIFEST,
                       PASSWORD, PROXY_HOST, SILENT, TYPED, USER, ProxiedCheck, TestProxy,
                       event_names, read_log, read_record, run_answering)


@pytest.fixture
def check(prefix, update_site, fixture_exe, signing_kit, tmp_path):
    return ProxiedCheck(prefix, update_site, fixture_exe, signing_kit, tmp_path)


def fetched(proxy, check):
    """The GET targets the proxy was asked for, in order, each once (libcurl
    asks first without credentials to learn the schemes)."""
    return list(dict.fromkeys(r["target"] for r in proxy.requests
                              if r["method"] == "GET"))


def whole_update(check):
    # The manifest, its signature (none served here) and the installer.
    return [check.url(MANIFEST_URL_PATH), check.url(MANIFEST_URL_PATH + ".p7s"),
            check.url(INSTALLER_URL_PATH)]


def assert_installed(check):
    assert event_names(check.prefix) == INSTALLED
    assert read_record(check.prefix)["arguments"] == "-quiet"


@pytest.mark.parametrize("configured", [True, False], ids=["open-proxy", "no-proxy"])
def test_whole_update_through_an_open_proxy_or_direct(check, configured):
    with TestProxy(hosts=HOSTS) as proxy:
        if configured:
            check.through(proxy)
        else:
            check.host = "127.0.0.1"  # no proxy would know the test name
        check.offer()
        check.run()
        if configured:
            assert fetched(proxy, check) == whole_update(check)
        else:
            assert proxy.requests == []
    assert_installed(check)
    assert (check.manifest_requests(), check.installer_requests()) == (1, 1)


@pytest.mark.parametrize("comment", [None, "TsrnProxyAuthScheme=Basic"],
                         ids=["no-scheme-recorded", "saved-for-basic"])
def test_basic_proxy_with_a_stored_credential(check, basic_proxy, comment):
    written = [PROXY_HOST, USER, PASSWORD] + ([comment] if comment else [])
    assert check.cred_tool("write", *written).returncode == 0
    check.through(basic_proxy)
    check.offer()

    check.run()

    assert_installed(check)
    assert fetched(basic_proxy, check) == whole_update(check)
    answered = {r["target"]: r["proxy_authorization"] for r in basic_proxy.requests
                if r["method"] == "GET"}
    assert all((value or "").startswith("Basic ") for value in answered.values())
    assert (check.manifest_requests(), check.installer_requests()) == (1, 1)
    assert check.stored() == f"{USER}\t{PASSWORD}"


# Silent mode and a proxy that wants Basic. With nothing stored the proxy
# needs credentials the run may not ask for (status 6). A password saved for
# NTLM is never sent to it in Basic: the proxy is not used at all (status 2),
# and no dialog would be shown for it either.
@pytest.mark.parametrize("saved_for, proxy_step_line", [
    (None, b"Tsrn proxy manager setup is in silent mode "),
    ("NTLM", b"tsrnGetProxyInfo return: 2 with silent=1 schema=0\r\n"),
], ids=["nothing-stored", "password-saved-for-ntlm"])
def test_silent_mode_without_a_usable_credential(check, basic_proxy, saved_for,
                                                 proxy_step_line):
    if saved_for:
        assert check.cred_tool("write", PROXY_HOST, USER, PASSWORD,
                               f"TsrnProxyAuthScheme={saved_for}").returncode == 0
    check.through(basic_proxy)
    check.offer()
    check.settings(extra=SILENT)

    check.run()

    # Silent mode's entry has no line end: the flow's entry follows on it.
    assert read_log(check.prefix) == [proxy_step_line, NO_MANIFEST]
    assert basic_proxy.requests, "the probe never reached the proxy"
    assert [r["proxy_authorization"] for r in basic_proxy.requests] == [
        None] * len(basic_proxy.requests)
    assert fetched(basic_proxy, check) == []
    assert check.server.requests == []
    assert check.stored() == (f"{USER}\t{PASSWORD}" if saved_for else None)


def test_impostor_open_to_the_probe_never_gets_the_ntlm_password(check):
    """A password saved for NTLM; an impostor at the proxy's address lets the
    probe's HEAD through unasked, then asks the transfer for Basic. No 407
    asked the probe for the password, so it is not handed to the transfer:
    the impostor never sees it, and the manifest is not fetched."""
    assert check.cred_tool("write", PROXY_HOST, USER, PASSWORD,
                           "TsrnProxyAuthScheme=NTLM").returncode == 0
    with TestProxy(auth="basic", user=USER, password=PASSWORD, hosts=HOSTS,
                   open_head=True) as impostor:
        check.through(impostor)
        check.offer()

        check.run()

        seen = impostor.requests
    assert any(r["method"] == "HEAD" for r in seen), "the probe never reached the proxy"
    assert fetched(impostor, check) == [check.url(MANIFEST_URL_PATH)]
    assert [r["proxy_authorization"] for r in seen] == [None] * len(seen)
    assert read_log(check.prefix)[-1] == NO_MANIFEST
    assert check.stored() == f"{USER}\t{PASSWORD}"


def test_credential_dialog_answered_then_remembered(check, basic_proxy):
    check.through(basic_proxy)
    check.offer()

    assert run_answering(check, TYPED)[1] == [True], "the credential dialog never showed"

    assert_installed(check)
    assert fetched(basic_proxy, check) == whole_update(check)
    assert check.stored() == f"{USER}\t{PASSWORD}"

    # A second run finds the entry: no dialog (it would block the run).
    check.prefix.unix_path(check.entries.installer).unlink()
    basic_proxy.clear_requests()
    check.run()
    assert fetched(basic_proxy, check) == whole_update(check)


def test_credential_dialog_cancelled(check, basic_proxy):
    check.through(basic_proxy)
    check.offer()

    assert run_answering(check, ["key:Escape"])[1] == [True], "the dialog never showed"

    assert read_log(check.prefix) == [
        b"tsrnGetProxyInfo return: 5 with silent=0 schema=0\r\n", NO_MANIFEST]
    assert fetched(basic_proxy, check) == []
    assert check.stored() is None


def test_settings_without_url(check, basic_proxy):
    check.through(basic_proxy)
    check.offer()
    check.settings("[Update]\r\ncheck_for_updates=1\r\n")

    check.run()

    assert read_log(check.prefix) == [
        b"tsrnGetProxyInfo return: 4 with silent=0 schema=0\r\n", NO_MANIFEST]
    assert basic_proxy.requests == []
    assert check.server.requests == []
