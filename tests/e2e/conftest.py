"""Fixtures of the end-to-end tests: Wine prefixes, a display, fixture programs
and the local update server."""

import os
import shutil
import sys
from pathlib import Path

import pytest

import harness

sys.path.insert(0, str(harness.REPO / "tests" / "servers"))

import update_server  # noqa: E402  (needs the path above)
import signing  # noqa: E402


@pytest.fixture(scope="session")
def wine_template():
    """The cached template prefix (made on first use)."""
    return harness.ensure_template()


@pytest.fixture(scope="session")
def xdisplay():
    """A private X display for the whole session."""
    server = harness.Xvfb()
    display = server.start()
    yield display
    server.stop()


@pytest.fixture(scope="session")
def dist():
    """The shipped files under test; missing files fail every test using them."""
    harness.require_file(harness.DIST_DIR / harness.UPDATER_EXE, harness.UPDATER_EXE)
    harness.require_file(harness.DIST_DIR / harness.ANALYTICS_DLL, harness.ANALYTICS_DLL)
    return harness.DIST_DIR


@pytest.fixture(scope="session")
def fixture_exe():
    """fixture_exe("sleeper.exe") -> host path of a built fixture program."""
    def find(name):
        return harness.require_file(harness.FIXTURES_DIR / name, f"fixture {name}")
    return find


@pytest.fixture
def prefix(wine_template, xdisplay, dist, tmp_path):
    """A fresh copy of the template prefix for one test, removed afterwards
    (kept when TSDLM_KEEP_PREFIX is set, for looking into a failure)."""
    root = harness.copy_template(wine_template, tmp_path / "prefix")
    wine_prefix = harness.WinePrefix(root, display=xdisplay)
    yield wine_prefix
    wine_prefix.kill()
    if not os.environ.get("TSDLM_KEEP_PREFIX"):
        shutil.rmtree(root, ignore_errors=True)


@pytest.fixture(scope="session")
def test_ca(tmp_path_factory):
    """A test CA and a server certificate for 127.0.0.1 and localhost."""
    return update_server.make_test_ca(tmp_path_factory.mktemp("test-ca"))


@pytest.fixture
def update_site(tmp_path):
    """A plain-HTTP update server on 127.0.0.1 serving tmp_path/site."""
    root = tmp_path / "site"
    root.mkdir()
    server = update_server.UpdateServer(root)
    server.start()
    yield server
    server.stop()


@pytest.fixture
def update_site_tls(tmp_path, test_ca):
    """The same over HTTPS with the test CA's server certificate."""
    root = tmp_path / "site-tls"
    root.mkdir()
    server = update_server.UpdateServer(root, tls=test_ca)
    server.start()
    yield server
    server.stop()


@pytest.fixture(scope="session")
def signing_kit(tmp_path_factory):
    """The test code-signing PKI of signing.py, made once per session:
    signing_kit.sign(exe, "tessarin", out) and the other kinds there."""
    return signing.SigningKit(tmp_path_factory.mktemp("signing")).make()
