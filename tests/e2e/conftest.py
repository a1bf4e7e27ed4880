"""Fixtures of the end-to-end tests: Wine prefixes, a display, fixture programs
and the local update server.

Each worker has its own X server, up before its first test. Each test's
prefix is readied before the test touches it (harness.WinePrefix.ready: a
persistent wineserver and a desktop that lets programs create windows).
A machine that cannot provide either is reported as an environment fault
(harness.EnvironmentFault), an error naming the cause, counted apart."""

import sys

import pytest

import harness

sys.path.insert(0, str(harness.REPO / "tests" / "servers"))

import update_server  # noqa: E402  (needs the path above)
import signing  # noqa: E402
import scenarios  # noqa: E402


@pytest.fixture(scope="session")
def wine_template():
    """The cached template prefix (made on first use)."""
    return harness.ensure_template()


@pytest.fixture(scope="session", autouse=True)
def xserver():
    """This worker's private X server, started before its first test."""
    server = harness.Xvfb()
    server.start()
    yield server
    server.stop()


@pytest.fixture
def xdisplay(xserver):
    """The worker's display, checked to be still there."""
    if not xserver.alive():
        raise harness.EnvironmentFault(
            f"the X server of display {xserver.display} has exited "
            f"({xserver.process.returncode if xserver.process else 'never started'})")
    return xserver.display


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
def prefix(wine_template, xdisplay, dist, signing_kit, test_ca, tmp_path):
    """A fresh prefix for one test, readied (harness.fresh_prefix). The test
    code-signing root and the test CA of the HTTPS servers are in its
    machine Root store."""
    with harness.fresh_prefix(wine_template, tmp_path, xdisplay,
                              (signing_kit.root_der, test_ca.ca_der)) as wine_prefix:
        wine_prefix.ready()
        yield wine_prefix


@pytest.fixture(scope="session")
def test_ca(tmp_path_factory):
    """A test CA and a server certificate for 127.0.0.1 and localhost."""
    return update_server.make_test_ca(tmp_path_factory.mktemp("test-ca"))


def _serving(root, tls=None):
    root.mkdir()
    with update_server.UpdateServer(root, tls=tls) as server:
        yield server


@pytest.fixture
def update_site(tmp_path):
    """A plain-HTTP update server on 127.0.0.1 serving tmp_path/site."""
    yield from _serving(tmp_path / "site")


@pytest.fixture
def update_site_tls(tmp_path, test_ca):
    """The same over HTTPS with the test CA's server certificate."""
    yield from _serving(tmp_path / "site-tls", test_ca)


@pytest.fixture(scope="session")
def signing_kit(tmp_path_factory):
    """The test code-signing PKI of signing.py, made once per session:
    signing_kit.sign(exe, "tessarin", out) and the other kinds there."""
    return signing.SigningKit(tmp_path_factory.mktemp("signing")).make()


@pytest.fixture
def update(prefix, update_site, fixture_exe, signing_kit, tmp_path):
    """The download manager installed, the dialog probe ready, nothing
    offered yet (scenarios.WholeUpdate)."""
    return scenarios.WholeUpdate(prefix, update_site, fixture_exe, signing_kit, tmp_path)


@pytest.fixture
def basic_proxy():
    """The test proxy demanding Basic credentials (scenarios.USER, PASSWORD)
    and resolving the update server's test name."""
    with scenarios.TestProxy(auth="basic", user=scenarios.USER,
                             password=scenarios.PASSWORD, hosts=scenarios.HOSTS) as proxy:
        yield proxy


# --- Reporting environment faults -------------------------------------------

@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """A test stopped by an environment fault is reported as an error
    (never a pass, never a failure of the code), whatever phase raised it."""
    outcome = yield
    report = outcome.get_result()
    if call.excinfo is not None and call.excinfo.errisinstance(harness.EnvironmentFault):
        report.outcome = "failed"
        report.when = "setup"  # shown among the errors
        report.environment_fault = str(call.excinfo.value)


def pytest_terminal_summary(terminalreporter):
    faults = [r for r in terminalreporter.stats.get("error", [])
              if getattr(r, "environment_fault", None)]
    if faults:
        terminalreporter.section("environment faults")
        for report in faults:
            terminalreporter.line(f"{report.nodeid}: {report.environment_fault}")
        terminalreporter.line(f"{len(faults)} environment fault(s): not a result of "
                              f"the code under test; fix the machine and run again")
