"""Proxy discovery through TsrnProxyManager.dll under Wine: the user's
settings, a configuration script, the WinHTTP default, and the proxy
manager's debugger output.

Automatic detection never looks beyond this machine: the template prefix has
it off, and the tests that turn it on also switch WPAD off by the
environment variable."""

import re

import pytest

import harness
import proxy_helpers as ph
from test_proxy import TestProxy

HTTPS_URL = "https://updates.example.com/update.xml"
HTTP_URL = "http://updates.example.com/update.xml"
CLEARED = {"server": None, "serverPort": None, "user": None, "password": None,
           "authScheme": 0, "released": True}


@pytest.fixture
def proxy_prefix(tmp_path):
    """A fresh copy of the template prefix (direct connection, automatic
    detection off), no display needed."""
    with harness.fresh_prefix(harness.ensure_template(), tmp_path) as prefix:
        yield prefix


def found(run, server, port):
    """Discovery made (server, port) the first candidate. Nothing answers
    there, so its probe fails and so does the lookup."""
    discovered = [m for m in run.messages("[DEBUG]")
                  if m.startswith("Discovered proxy server information")]
    assert discovered[:1] == [
        f"Discovered proxy server information [server={server} port={port}]"]
    assert run.answer == {"status": 2, **CLEARED}


def test_no_configuration_answers_1_with_nothing_allocated(proxy_prefix):
    run = ph.run_client(proxy_prefix, HTTPS_URL, debug_switch="TRUE")
    assert run.answer == {"status": 1, **CLEARED}
    infos = run.messages("[INFO]")
    assert infos[-3:] == [
        "Unable to detect proxy information from default proxy configuration",
        "No proxy server configuration detected.",
        "PMStatus:1"]


@pytest.mark.parametrize("url, server, port", [
    (HTTPS_URL, "127.0.0.2", "3129"),
    (HTTP_URL, "127.0.0.1", "3128"),
    ("ftp://files.example.com/a", "ftp.proxy", "21"),
], ids=["https", "http", "ftp"])
def test_fixed_per_scheme_list(proxy_prefix, url, server, port):
    ph.set_user_settings(proxy_prefix, ph.PROXY,
                         proxy="http=127.0.0.1:3128;https=127.0.0.2:3129;ftp=ftp.proxy",
                         bypass="<local>")
    found(ph.run_client(proxy_prefix, url, debug_switch="TRUE"), server, port)


def test_fixed_list_without_the_targets_scheme_fails(proxy_prefix):
    ph.set_user_settings(proxy_prefix, ph.PROXY, proxy="http=127.0.0.1:3128")
    run = ph.run_client(proxy_prefix, HTTPS_URL, debug_switch="true")
    assert run.answer == {"status": 2, **CLEARED}
    assert run.messages("[INFO]")[-1] == "PMStatus:2"


# The script's answer (whether its server drips it without end), the proxy
# found, and a line the lookup logs on the way (a DIRECT answer, and a script
# that has not arrived in time, fall through to the fixed list).
@pytest.mark.parametrize("answer, drip, server, port, level, line", [
    ("PROXY 127.0.0.1:8888", False, "127.0.0.1", "8888", "[DEBUG]",
     "Proxy server list:127.0.0.1:8888"),
    ("DIRECT", False, "fixed.example", "8080", "[INFO]",
     "Unable to automatically detect proxy information using PAC URL"),
    ("PROXY 127.0.0.1:8888", True, "fixed.example", "8080", "[ERROR]",
     "No answer from PAC URL within 15 seconds; going on without a configuration script"),
], ids=["script-gives-the-proxy", "direct-falls-through-to-the-fixed-list",
        "script-dripping-without-end"])
def test_configuration_script(proxy_prefix, answer, drip, server, port, level, line):
    with ph.ScriptServer(ph.pac_script(answer), drip=drip) as script:
        ph.set_user_settings(proxy_prefix, ph.SCRIPT | ph.PROXY,
                             proxy="fixed.example:8080", script=script.url)
        run = ph.run_client(proxy_prefix, HTTPS_URL, debug_switch="True")
    assert script.requests >= 1
    found(run, server, port)
    assert line in run.messages(level)


@pytest.mark.parametrize("switch", ["FALSE", "false", "False"])
def test_wpad_switched_off_by_the_environment(proxy_prefix, switch):
    ph.set_user_settings(proxy_prefix, ph.AUTO_DETECT | ph.PROXY,
                         proxy="fixed.example:8080")
    run = ph.run_client(proxy_prefix, HTTPS_URL, debug_switch="TRUE",
                        wpad_switch=switch)
    found(run, "fixed.example", "8080")
    assert "AutoDetect:1" in run.messages("[DEBUG]")
    infos = run.messages("[INFO]")
    assert "WDAP proxy check is disabled, skipping WPAD based proxy discovery." in infos
    assert not any(m.startswith("Discovering WDAP") for m in infos)
    assert "Performing 'AutoDetectProxyInfo' ..." not in infos


def test_winhttp_default_configuration(proxy_prefix):
    ph.set_winhttp_default(proxy_prefix, "default.proxy:3128", bypass="*.local")
    run = ph.run_client(proxy_prefix, HTTPS_URL, debug_switch="TRUE")
    found(run, "default.proxy", "3128")
    assert run.messages("[DEBUG]")[:2] == ["Bypass proxy list:*.local",
                                           "Proxy server list:default.proxy:3128"]


@pytest.mark.parametrize("switch", [None, "", "1", "yes", "on"],
                         ids=["unset", "empty", "1", "yes", "on"])
def test_no_debug_lines_unless_the_switch_says_true(proxy_prefix, switch):
    run = ph.run_client(proxy_prefix, HTTPS_URL, debug_switch=switch)
    assert run.answer["status"] == 1
    assert run.debug_lines == []


@pytest.mark.parametrize("switch", ["true", "TRUE", "tRuE"])
def test_debug_lines_in_the_line_format(proxy_prefix, switch):
    run = ph.run_client(proxy_prefix, HTTPS_URL, debug_switch=switch)
    assert run.debug_lines[0] == (
        "Tessarin   TsrnProxyManager   [INFO]   Performing 'GetProxyInfo' API ...\n")
    assert run.debug_lines[1] == (
        "Tessarin   TsrnProxyManager   [INFO]   Input URL:" + HTTPS_URL + "\n")


def test_request_details_and_summary_lines(proxy_prefix):
    # The first candidate does not answer; the second is an open test proxy.
    with TestProxy() as proxy:
        port = proxy.port
        ph.set_user_settings(proxy_prefix, ph.PROXY,
                             proxy=f"127.0.0.1:9;127.0.0.1:{port}")
        run = ph.run_client(proxy_prefix, HTTP_URL, debug_switch="TRUE",
                            args=["someone", "hidden-secret"])
        proxied = [(r["method"], r["target"].split("/", 3)[3])
                   for r in proxy.requests]
    # No 407 asked for the caller's credentials: they do not come back.
    assert run.answer == {"status": 0, "server": "127.0.0.1",
                          "serverPort": str(port), "user": "", "password": "",
                          "authScheme": 0, "released": True}
    assert not any("hidden-secret" in line for line in run.debug_lines)
    infos = run.messages("[INFO]")
    assert "Input user:someone" in infos
    assert "Input password:****" in infos
    assert infos[-2:] == [
        "PMStatus:0",
        f"Output: [server=127.0.0.1 serverPort={port} user= "
        "password=**** authScheme=0]"]
    assert [m for m in run.messages("[DEBUG]") if m.startswith("Discovered")] == [
        "Discovered proxy server information [server=127.0.0.1 port=9]",
        f"Discovered proxy server information [server=127.0.0.1 port={port}]"]
    # An open proxy lets the first request by: the caller's credentials are
    # never needed.
    assert proxied == [("HEAD", "update.xml")]


def test_empty_url_is_invalid_input(proxy_prefix):
    run = ph.run_client(proxy_prefix, "", debug_switch="TRUE")
    assert run.answer == {"status": 4, **CLEARED}
    assert run.messages() == [
        "Performing 'GetProxyInfo' API ...",
        "Input data 'UserData.url' is NULL or empty!",
        "PMStatus:4"]


def test_failing_windows_call_is_named_with_code_and_text(proxy_prefix):
    # A script URL on a local port where nothing listens.
    ph.set_user_settings(proxy_prefix, ph.SCRIPT | ph.PROXY,
                         proxy="fixed.example:8080",
                         script="http://127.0.0.1:9/none.pac")
    run = ph.run_client(proxy_prefix, HTTPS_URL, debug_switch="TRUE")
    found(run, "fixed.example", "8080")
    errors = [m for m in run.messages("[ERROR]")
              if m.startswith("WinHttpGetProxyForUrl() API failed.")]
    assert len(errors) == 1, run.debug_lines
    match = re.fullmatch(r"WinHttpGetProxyForUrl\(\) API failed\. Error:(\d+) "
                         r"Description:(.*)", errors[0], re.S)
    assert match and 12000 <= int(match.group(1)) < 13000, errors[0]
