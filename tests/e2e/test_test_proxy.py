"""Self-tests of the local test proxy, with the curl tool as the client: each
mode the end-to-end and native download tests rely on."""

import json
import subprocess
import sys

import pytest

import harness
from test_proxy import TestProxy

PROXY_SCRIPT = harness.REPO / "tests" / "servers" / "test_proxy.py"


def curl(proxy, url, *args):
    """(HTTP code of the last answer, body) of one curl run through `proxy`."""
    result = subprocess.run(
        ["curl", "-s", "-k", "--noproxy", "", "-x", f"http://{proxy.address}",
         "-o", "-", "-w", "\n%{http_code}", *args, url],
        capture_output=True, timeout=30, env={"PATH": "/usr/bin:/bin"})
    body, _, code = result.stdout.rpartition(b"\n")
    return int(code or 0), body


@pytest.fixture
def site(update_site):
    update_site.add_file("/file.txt", "hello through the proxy")
    return update_site


# name: mode, credentials the client gives, expected status, scheme of the
# last answer
CASES = {
    "open": ({}, [], 200, None),
    "basic": ({"auth": "basic"}, ["--proxy-basic", "-U", "ann:secret"], 200, "Basic"),
    "basic-wrong-password": ({"auth": "basic"}, ["--proxy-basic", "-U", "ann:wrong"], 407, "Basic"),
    "basic-no-credentials": ({"auth": "basic"}, [], 407, None),
    "digest": ({"auth": "digest"}, ["--proxy-digest", "-U", "ann:secret"], 200, "Digest"),
    "digest-wrong-password": ({"auth": "digest"}, ["--proxy-digest", "-U", "ann:wrong"], 407, "Digest"),
    "ntlm": ({"auth": "ntlm"}, ["--proxy-ntlm", "-U", "ann:secret"], 200, "NTLM"),
    "ntlm-other-user": ({"auth": "ntlm"}, ["--proxy-ntlm", "-U", "bob:secret"], 407, "NTLM"),
    "negotiate": ({"auth": "negotiate"}, ["--proxy-anyauth", "-U", "ann:secret"], 407, None),
    "basic-rejecting": ({"auth": "basic", "reject": True}, ["--proxy-basic", "-U", "ann:secret"], 407, "Basic"),
    "answers-502": ({"status": 502}, [], 502, None),
    "basic-open-head": ({"auth": "basic", "open_head": True}, [], 407, None),
}


@pytest.mark.parametrize("mode,args,status,scheme", CASES.values(), ids=list(CASES))
def test_modes(site, mode, args, status, scheme):
    with TestProxy(user="ann", password="secret", **mode) as proxy:
        code, body = curl(proxy, site.url("/file.txt"), *args)
        assert code == status
        if status == 200:
            assert body == b"hello through the proxy"
            assert len(site.requests_for("/file.txt")) == 1
        else:
            assert site.requests_for("/file.txt") == []
        last = proxy.requests[-1]
        assert last["method"] == "GET"
        assert last["target"] == site.url("/file.txt")
        given = last["proxy_authorization"]
        assert (given.split(" ")[0] if given else None) == scheme


def test_head_is_forwarded_and_hop_headers_stay_behind(site):
    with TestProxy(auth="basic", user="ann", password="secret") as proxy:
        code, body = curl(proxy, site.url("/file.txt"), "-I", "-U", "ann:secret")
    assert code == 200
    assert b"Content-Length: 23" in body
    forwarded = site.requests_for("/file.txt")
    assert [r["method"] for r in forwarded] == ["HEAD"]
    assert all(name.lower() != "proxy-authorization" for name, _ in forwarded[0]["headers"])


def test_host_names_are_mapped(site):
    url = site.url("/file.txt").replace("127.0.0.1", "updates.tsdlm.test")
    with TestProxy(hosts={"updates.tsdlm.test": "127.0.0.1"}) as proxy:
        assert curl(proxy, url) == (200, b"hello through the proxy")
        assert proxy.requests[-1]["target"] == url


def test_connect_tunnels_to_an_https_target(update_site_tls):
    update_site_tls.add_file("/file.txt", "secret over tls")
    with TestProxy(auth="basic", user="ann", password="secret") as proxy:
        code, body = curl(proxy, update_site_tls.url("/file.txt"), "-U", "ann:secret")
        records = proxy.requests
    assert (code, body) == (200, b"secret over tls")
    assert records[-1]["method"] == "CONNECT"
    assert records[-1]["target"] == f"127.0.0.1:{update_site_tls.port}"
    assert records[-1]["proxy_authorization"].startswith("Basic ")


def test_script_mode_prints_the_port_and_serves_its_log(site):
    process = subprocess.Popen([sys.executable, str(PROXY_SCRIPT), "--auth", "basic",
                                "--user", "ann", "--password", "secret"],
                               stdout=subprocess.PIPE)
    try:
        port = int(process.stdout.readline())

        class Address:
            address = f"127.0.0.1:{port}"
        assert curl(Address, site.url("/file.txt"), "-U", "ann:secret")[0] == 200
        log = subprocess.run(["curl", "-s", "--noproxy", "*",
                              f"http://127.0.0.1:{port}/__proxy/requests"],
                             capture_output=True, timeout=10, check=True).stdout
        targets = [r["target"] for r in json.loads(log)]
        assert targets == [site.url("/file.txt")]
    finally:
        process.terminate()
        process.wait(timeout=10)
