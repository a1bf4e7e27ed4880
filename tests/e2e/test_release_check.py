"""`TsDLMUpdater.exe /check` under Wine: the dry run of the update path on
the real updater. The download manager 6.1.32.0 is installed and running
(the stand-in that records quit requests), a reusable installer and both log
files of an earlier run are in place; the check must leave all of them as
they were, ask nothing of the download manager, start no installer and send
no event, and say what it found on its standard output (a file here, as when
a support person redirects it) and in its report file."""

import base64

import pytest

from scenarios import (MANIFEST_URL_PATH, NOT_TRUSTED, OFFERED_VERSION, PASSWORD, PROXY_HOST,
                       PUBLISHER, REPORT_WIN, USER, ProxiedCheck, https_site, manifest,
                       run_check)

EARLIER_LOG = b"2026-12-07 06:00:37  an earlier run's log\r\n"


class MachineState:
    """Everything a check must leave as it was."""

    def __init__(self, update):
        self.update = update
        update.place_installer(update.signed_installer("tessarin").read_bytes())
        for path in (update.prefix.temp_log_path, update.prefix.shared_log_path):
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(EARLIER_LOG)
        self.before = self.snapshot()

    def snapshot(self):
        working = self.update.prefix.working_dir
        return {p.relative_to(working): p.read_bytes()
                for p in sorted(working.rglob("*")) if p.is_file()} | {
            "shared log": self.update.prefix.read_shared_log()}

    def assert_untouched(self):
        prefix = self.update.prefix
        assert self.snapshot() == self.before
        assert prefix.read_events() == []
        assert self.update.dlm_requests() == []
        assert self.update.dlm.running()
        assert list(prefix.temp_dir.rglob("*.record.txt")) == [], "an installer ran"
        # The check's own folder keeps only its downloads.
        assert sorted(p.name for p in (prefix.temp_dir / "TsDLM-check").iterdir()) == [
            "TessarinDownloadManagerSetup.exe", "update.xml"]


@pytest.fixture
def release(update):
    update.start_dlm()
    return update


def test_good_release_would_install(release, tmp_path):
    release.offer()
    # A bare CR in a header would send the terminal back to the line's start,
    # for a forged verdict to overwrite the trace.
    release.server.set_rule(MANIFEST_URL_PATH, headers={
        "X-Cache": f"HIT\rVerdict: the offered release {OFFERED_VERSION} would install"})
    state = MachineState(release)

    run = run_check(release.prefix, tmp_path, ["/check", "/report", REPORT_WIN])

    assert run.returncode == 0, run.stdout + run.stderr
    assert run.verdict() == f"Verdict: the offered release {OFFERED_VERSION} would install"
    assert run.report == run.stdout
    text = run.stdout.decode("latin-1")
    for line in ["Signature - valid\r\n",
                 f"Publisher {PUBLISHER} - the signer's certificate names it\r\n",
                 f"Installer's own version {OFFERED_VERSION} - the offered version\r\n",
                 "Download manager - running (process ",
                 "Manifest signature - not signed; a signature is not required - the "
                 "manifest is used unsigned\r\n"]:
        assert line in text
    state.assert_untouched()
    assert (release.manifest_requests(), release.installer_requests()) == (1, 1)
    assert b"< X-Cache: HIT?Verdict: " in run.stderr and b"\rVerdict" not in run.stderr


@pytest.mark.parametrize("kind, step, reason", [
    ("other", f"Publisher {PUBLISHER}",
     f"A certificate with a subject name [{PUBLISHER}] can not be found!"),
    # "Tessarin, Inc" on chains that end in no root the machine trusts.
    ("self_signed", "Signature", NOT_TRUSTED),
    ("foreign_root", "Signature", NOT_TRUSTED),
    ("fake_root", "Signature", NOT_TRUSTED),
])
def test_refused_installer_gives_the_reason(release, tmp_path, kind, step, reason):
    release.offer(kind=kind)
    state = MachineState(release)

    run = run_check(release.prefix, tmp_path)

    assert run.returncode == 1, run.stdout + run.stderr
    assert run.verdict() == (f"Verdict: the offered release {OFFERED_VERSION} would be "
                             f"refused: {reason}")
    assert f"{step} - REFUSED - {reason}\r\n".encode() in run.stdout
    assert run.report is None
    # Fetched three times, as a normal run would.
    assert release.installer_requests() == 3
    state.assert_untouched()


UNSIGNED_REQUIRED = ("The manifest is not signed (no update.xml.p7s is served) and a "
                     "signed manifest is required.")


@pytest.mark.parametrize("signer, args, line, verdict", [
    (None, ["/require-signature"],
     "not signed; a signature is required - REFUSED - " + UNSIGNED_REQUIRED,
     "the manifest would be refused: " + UNSIGNED_REQUIRED),
    ("other", [], "signed by Other Publisher Ltd, expires 2099-01-01T00:00:00Z; a signature "
     f"is not required - REFUSED - The manifest is not signed by {PUBLISHER}.",
     f"the manifest would be refused: The manifest is not signed by {PUBLISHER}."),
], ids=["unsigned-but-required", "other-publisher"])
def test_manifest_signature_is_reported_and_refuses(release, tmp_path, signer, args, line,
                                                    verdict):
    release.offer()
    if signer:
        text = manifest(release.server.base_url, OFFERED_VERSION, expires="2099-01-01T00:00:00Z")
        release.server.add_file(MANIFEST_URL_PATH, text)
        release.server.add_file(MANIFEST_URL_PATH + ".p7s",
                                release.signing_kit.sign_detached(text.encode(), signer))

    run = run_check(release.prefix, tmp_path, ["/check", *args])

    assert run.returncode == 1, run.stdout + run.stderr
    assert f"\r\nManifest signature - {line}\r\n".encode() in run.stdout
    assert run.verdict() == "Verdict: " + verdict
    assert release.installer_requests() == 0
    assert release.dlm_requests() == [] and release.prefix.read_events() == []


def test_second_check_judges_what_the_server_serves_now(release, tmp_path):
    """The server's installer replaced by another publisher's build of the
    same version after a check that found it good: the next check fetches
    and refuses it."""
    release.offer()
    assert run_check(release.prefix, tmp_path).returncode == 0
    release.offer(kind="other")

    run = run_check(release.prefix, tmp_path)

    assert run.returncode == 1, run.stdout + run.stderr
    assert run.verdict() == (
        f"Verdict: the offered release {OFFERED_VERSION} would be refused: "
        f"A certificate with a subject name [{PUBLISHER}] can not be found!")
    assert release.installer_requests() == 1 + 3


@pytest.mark.parametrize("server, error", [
    ("404", "22 (HTTP response code said error)"),
    # HTTPS servers the updater itself refuses (Wine's Schannel would not).
    ("untrusted-root", "60 (SSL peer certificate or SSH remote key was not OK)"),
    ("other-host", "60 (SSL peer certificate or SSH remote key was not OK)"),
])
def test_manifest_that_cannot_be_fetched_cannot_be_checked(release, tmp_path, test_ca,
                                                           server, error):
    release.offer()
    staging = "/staging/update.xml"
    site = release.server
    if server != "404":
        site = https_site(tmp_path, test_ca, server)
        site.add_file(staging, "<installerInformation/>")
    site.set_rule(staging, status=404, body="no such page")

    try:
        run = run_check(release.prefix, tmp_path, ["/CHECK", "/manifest", site.url(staging)])
    finally:
        if site is not release.server:
            site.stop()

    assert run.returncode == 2, run.stdout + run.stderr
    assert run.verdict() == (
        "Verdict: cannot check: the manifest could not be downloaded: "
        f"curl_easy_perform() failed: {error}")
    assert bool(site.requests_for(staging)) == (server == "404")
    assert not release.manifest_requests()
    assert release.installer_requests() == 0
    assert release.prefix.read_temp_log() is None
    assert release.dlm_requests() == []


# A malformed /check line prints the usage and runs nothing; a command line
# that does not start with /check is a normal run (its analytics session and
# log show it), whatever it holds.
@pytest.mark.parametrize("args, usage", [
    (["/check", "/manifest", "ftp://h/x"],
     b"TsDLMUpdater: /manifest needs an http:// or https:// URL.\r\nUsage: "),
    (["/checkx"], None),
], ids=["malformed-check-line", "not-check-first"])
def test_command_line(prefix, tmp_path, args, usage):
    prefix.ready()
    run = run_check(prefix, tmp_path, args)

    assert not (prefix.temp_dir / "TsDLM-check").exists()
    if usage:
        assert run.returncode == 2
        assert run.stdout.startswith(usage)
        assert not prefix.working_dir.exists()
    else:
        assert (run.returncode, run.stdout) == (0, b"")
        assert prefix.read_events()[0]["event"] == "updater_launched"
        assert prefix.read_temp_log() is not None


@pytest.fixture
def proxied(prefix, update_site, fixture_exe, signing_kit, tmp_path):
    return ProxiedCheck(prefix, update_site, fixture_exe, signing_kit, tmp_path)


def test_through_a_basic_proxy_without_showing_the_password(proxied, basic_proxy,
                                                            tmp_path):
    assert proxied.cred_tool("write", PROXY_HOST, USER, PASSWORD).returncode == 0
    proxied.through(basic_proxy)
    proxied.offer()

    run = run_check(proxied.prefix, tmp_path, ["/check", "/report", REPORT_WIN])

    assert run.returncode == 0, run.stdout + run.stderr
    assert run.verdict() == f"Verdict: the offered release {OFFERED_VERSION} would install"
    assert any((r["proxy_authorization"] or "").startswith("Basic ")
               for r in basic_proxy.requests)
    # libcurl's verbose output reaches the console, its credential masked.
    assert b"> Proxy-Authorization: ****" in run.stderr
    token = base64.b64encode(f"{USER}:{PASSWORD}".encode())
    for output in (run.stdout, run.stderr, run.report):
        assert PASSWORD.encode() not in output and token not in output
