"""Self-tests of the local update server: each behaviour the end-to-end tests
rely on, checked quickly with the standard HTTP clients."""

import http.client
import json
import socket
import ssl
import subprocess
import sys
import time
import urllib.error
import urllib.request

import pytest

import harness
import update_server
from update_server import header

SERVER_SCRIPT = harness.REPO / "tests" / "servers" / "update_server.py"


def get(server, path, method="GET", timeout=5, headers=None):
    """(response, body bytes or the exception the body read raised)."""
    connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=timeout)
    connection.request(method, path, headers=headers or {})
    response = connection.getresponse()
    try:
        body = response.read()
    except (http.client.IncompleteRead, socket.timeout) as error:
        body = error
    connection.close()
    return response, body


@pytest.fixture
def server(update_site):
    update_site.add_file("/utility/dlm/prod/Installer/update.xml", "<xml/>")
    return update_site


def test_serves_files_and_records_requests(server):
    response, body = get(server, "/utility/dlm/prod/Installer/update.xml?x=1",
                         headers={"X-Probe": "one"})
    assert (response.status, body) == (200, b"<xml/>")
    assert response.getheader("Content-Length") == "6"
    response, body = get(server, "/utility/dlm/prod/Installer/update.xml", "HEAD")
    assert (response.status, body, response.getheader("Content-Length")) == (200, b"", "6")
    assert get(server, "/missing.exe")[0].status == 404
    assert get(server, "/../../etc/passwd")[0].status == 404

    log = server.requests
    assert [(r["method"], r["path"]) for r in log] == [
        ("GET", "/utility/dlm/prod/Installer/update.xml?x=1"),
        ("HEAD", "/utility/dlm/prod/Installer/update.xml"),
        ("GET", "/missing.exe"),
        ("GET", "/../../etc/passwd"),
    ]
    assert header(log[0], "x-probe") == "one"
    assert len(server.requests_for("/utility/dlm/prod/Installer/update.xml")) == 2


@pytest.mark.parametrize("hops", [1, 5, 6])
def test_redirect_chain_has_the_given_number_of_hops(server, hops):
    server.set_rule("/utility/dlm/prod/Installer/update.xml", redirects=hops)
    path, statuses = "/utility/dlm/prod/Installer/update.xml", []
    for _ in range(hops + 1):
        response, body = get(server, path)
        statuses.append(response.status)
        if response.status != 302:
            break
        path = response.getheader("Location")
    assert statuses == [302] * hops + [200]
    assert body == b"<xml/>"
    assert len(server.requests) == hops + 1


def test_redirect_to_another_place(server):
    server.add_file("/final.bin", b"final")
    server.set_rule("/start", redirects=2, redirect_to="/final.bin", redirect_status=301)
    with urllib.request.urlopen(server.url("/start"), timeout=5) as response:
        assert response.read() == b"final"
    assert [r["path"] for r in server.requests][-1] == "/final.bin"
    assert len(server.requests) == 3


def test_error_status_with_body_and_empty_body(server):
    server.set_rule("/gone.xml", status=404, body="<html>gone</html>")
    server.set_rule("/empty.xml", body="")
    response, body = get(server, "/gone.xml")
    assert (response.status, body) == (404, b"<html>gone</html>")
    response, body = get(server, "/empty.xml")
    assert (response.status, body, response.getheader("Content-Length")) == (200, b"", "0")


@pytest.mark.parametrize("mode, framing", [
    ("none", None),
    ("chunked", "chunked"),
], ids=["until-close", "chunked"])
def test_body_without_content_length(server, mode, framing):
    server.set_rule("/big.bin", body_size=200000, length=mode)
    response, body = get(server, "/big.bin")
    assert response.getheader("Content-Length") is None
    assert response.getheader("Transfer-Encoding") == framing
    assert body == update_server.generated_body(200000)


# A body sent at a rate, or held for a while after its first bytes, comes
# whole and no sooner than the rule says.
@pytest.mark.parametrize("rule, at_least", [
    ({"body_size": 3000, "rate": 10000}, 0.25),
    ({"body_size": 1000, "stall_after": 10, "stall_seconds": 0.3}, 0.3),
], ids=["rate-limit", "stall-for-a-while-then-the-rest"])
def test_slowed_body(server, rule, at_least):
    server.set_rule("/slow.bin", **rule)
    start = time.monotonic()
    response, body = get(server, "/slow.bin")
    assert body == update_server.generated_body(rule["body_size"])
    assert time.monotonic() - start >= at_least


def test_stall_holds_the_body_after_k_bytes(server):
    server.set_rule("/stall.bin", body_size=1000, stall_after=100)
    connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=0.5)
    connection.request("GET", "/stall.bin")
    response = connection.getresponse()
    assert response.getheader("Content-Length") == "1000"
    assert response.read(100) == bytes(range(100))
    with pytest.raises(socket.timeout):
        response.read(1)
    connection.close()


@pytest.mark.parametrize("mode", ["content-length", "chunked"])
def test_dropped_connection_mid_body(server, mode):
    server.set_rule("/drop.bin", body_size=5000, drop_after=1234, length=mode)
    response, body = get(server, "/drop.bin")
    assert isinstance(body, http.client.IncompleteRead)
    assert len(body.partial) == 1234
    if mode == "content-length":
        assert response.getheader("Content-Length") == "5000"


def test_https_with_the_test_ca(update_site_tls, test_ca):
    update_site_tls.add_file("/x.xml", "<tls/>")
    trusting = ssl.create_default_context(cafile=str(test_ca.ca_cert))
    with urllib.request.urlopen(update_site_tls.url("/x.xml"), context=trusting,
                                timeout=5) as response:
        assert response.read() == b"<tls/>"
    # A client that does not know the CA refuses the server.
    with pytest.raises(urllib.error.URLError) as refused:
        urllib.request.urlopen(update_site_tls.url("/x.xml"),
                               context=ssl.create_default_context(), timeout=5)
    assert isinstance(refused.value.reason, ssl.SSLCertVerificationError)
    assert test_ca.ca_der.read_bytes()[:1] == b"\x30"  # DER sequence
    assert [r["path"] for r in update_site_tls.requests] == ["/x.xml"]


def control(server, method, what, payload=None):
    data = json.dumps(payload).encode() if payload is not None else None
    request = urllib.request.Request(server.url("/__control/" + what), data=data,
                                     method=method)
    try:
        with urllib.request.urlopen(request, timeout=5) as response:
            return response.status, json.loads(response.read())
    except urllib.error.HTTPError as error:
        return error.code, json.loads(error.read())


def test_control_interface(server):
    assert control(server, "POST", "rules", {"/a": {"status": 500, "body": "boom"}})[0] == 200
    assert control(server, "POST", "rules", {"/b": {"colour": "red"}})[0] == 400
    assert control(server, "POST", "rules", {"/c": {"length": "sometimes"}})[0] == 400
    assert control(server, "GET", "rules")[1] == {"/a": {"status": 500, "body": "boom"}}
    assert get(server, "/a")[0].status == 500
    status, log = control(server, "GET", "requests")
    assert [(r["method"], r["path"]) for r in log] == [("GET", "/a")]
    assert control(server, "DELETE", "requests")[0] == 200
    assert control(server, "DELETE", "rules")[0] == 200
    assert get(server, "/a")[0].status == 404
    assert [r["path"] for r in server.requests] == ["/a"]


def test_runs_as_a_program(tmp_path):
    (tmp_path / "update.xml").write_text("<script/>")
    process = subprocess.Popen([sys.executable, str(SERVER_SCRIPT), "--root", str(tmp_path)],
                               stdout=subprocess.PIPE, text=True)
    try:
        port = int(process.stdout.readline())
        url = f"http://127.0.0.1:{port}/update.xml"
        with urllib.request.urlopen(url, timeout=5) as response:
            assert response.read() == b"<script/>"
    finally:
        process.terminate()
        assert process.wait(10) == 0


def test_sequence_answers_requests_in_turn(server):
    server.set_rule("/setup.exe", sequence=[
        {"body": "first"},
        {"status": 503, "body": "busy", "redirects": 2},
        {"body": b"last"},
    ])
    answers = []
    for _ in range(4):
        try:
            with urllib.request.urlopen(server.url("/setup.exe"), timeout=5) as response:
                answers.append((response.status, response.read()))
        except urllib.error.HTTPError as error:
            answers.append((error.code, error.read()))
    assert answers == [(200, b"first"), (503, b"busy"), (200, b"last"), (200, b"last")]
    assert len(server.requests) == 6  # the second answer came after two hops
    with pytest.raises(ValueError):
        server.set_rule("/x", sequence=[{"sequence": [{}]}])
