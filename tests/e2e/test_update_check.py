"""The update check and the installer download of the real updater under
Wine: the download manager 6.1.32.0 installed at its fixed place, update.ini
pointing at the local update server, and a signed stand-in installer on
offer. Each test checks the log entries in order, the analytics events, the
requests the server saw and what the installer was started with."""

import re

import pytest

from scenarios import (BAD_SIGNATURE, FOUND, INSTALLED, INSTALLED_VERSION, MANIFEST_URL_PATH,
                       NO_MANIFEST, NOT_HIGHER, NOT_INSTALLED, OFFERED_VERSION, PUBLISHER,
                       UpdateCheck, curl_error, error_session, event_names, https_site,
                       manifest, read_log, read_record, sha256, staged_folders)


@pytest.fixture
def check(prefix, update_site, fixture_exe, signing_kit, tmp_path):
    return UpdateCheck(prefix, update_site, fixture_exe, signing_kit, tmp_path)


# --- Tests ---------------------------------------------------------------------

def test_newer_version_is_downloaded_checked_and_installed(check):
    check.offer()
    # DLLs planted in the working folder ahead of time must not end up
    # beside the installer.
    planted = ["version.dll", "msi.dll"]
    for name in planted:
        check.prefix.install_file(check.fixture_exe("no_version.exe"),
                                  check.entries.working_win + "\\" + name)
    # A stale copy's folder name given to a link to one of the user's folders
    # (no reparse attribute under Wine): the sweep deletes nothing through it.
    victim = check.prefix.temp_dir / "victim"
    victim.mkdir()
    (victim / "keep.txt").write_bytes(b"keep")
    link = "install-" + "0" * 32
    (check.prefix.working_dir / link).symlink_to(victim)

    result = check.run(installer_exit=0)

    e = check.entries
    assert read_log(check.prefix) == e.installed()
    assert event_names(check.prefix) == INSTALLED
    assert (check.manifest_requests(), check.installer_requests()) == (1, 1)
    # The manifest, its signature (none here: 404) and the installer.
    assert len(check.server.requests) == 3
    record = read_record(check.prefix)
    assert record is not None, "the installer never ran"
    assert record["arguments"] == "-quiet"
    # A copy ran, from a new folder of its own, which was its working folder
    # and held nothing else; the folder is gone after the run, the download
    # stays for reuse.
    folder = record["working_folder"]
    assert re.fullmatch(re.escape(e.working_win) + r"\\install-[0-9a-f]{32}", folder,
                        re.IGNORECASE), folder
    assert record["program"].lower() == (folder + r"\TessarinDownloadManagerSetup.exe").lower()
    assert record["beside"] == ""
    assert staged_folders(check.prefix) == [link]
    assert (victim / "keep.txt").read_bytes() == b"keep"
    assert all((check.prefix.working_dir / name).is_file() for name in planted)
    assert check.prefix.unix_path(e.installer).is_file()
    assert result.windows_seen, "the progress dialog was never shown"


def _download_refused(e):
    return [e.downloaded_version(OFFERED_VERSION)] + e.other_publisher(e.installer)


# Installers a client must never run, each fetched three times and refused:
# the served file, the entries of one refusal of the checked copy, what the
# reuse test logs of the file left by the attempt before, and the manifest's
# pin (from the served file's SHA-256 and the test's files; None: no pin).
@pytest.mark.parametrize("kind, exe, refusal, left_behind, pin", [
    # Not signed at all: the file left behind is checked (and found
    # unsigned) before it is deleted and fetched again.
    ("unsigned", "fake_installer.exe", lambda e: [e.not_signed()],
     lambda e: [e.downloaded_version(OFFERED_VERSION), e.not_signed(e.installer)], None),
    # Signed by another publisher, with a forged twin of the signer's
    # certificate named "Tessarin, Inc." in the signature, in both orders
    # (Wine takes the later as the signer: the twin after the signer fails
    # the chain check, its root being no trusted one); a look-alike
    # publisher; "Tessarin" and "Inc" in two attributes.
    ("twin", "fake_installer.exe", lambda e: [e.not_trusted()],
     lambda e: [e.downloaded_version(OFFERED_VERSION), e.not_trusted()], None),
    *[(kind, "fake_installer.exe", lambda e: e.other_publisher(), _download_refused, None)
      for kind in ("twin_first", "lookalike", "split")],
    # Genuine, but older than the version the manifest offers.
    ("tessarin", "fake_installer_6_1_31_0.exe",
     lambda e: e.signed() + [e.line(f"[ERROR] The installer's version 6.1.31.0 is not "
                                    f"the offered version {OFFERED_VERSION}.")],
     lambda e: [e.downloaded_version("6.1.31.0")], None),
    # Genuine and of the offered version, but not the bytes the manifest
    # pins: another Tessarin-signed file, or a pin one digit short. A file
    # left on disk that misses the pin is fetched again, not reused.
    *[("tessarin", "fake_installer.exe", None,
       lambda e: [e.downloaded_version(OFFERED_VERSION)] + e.signed(e.installer), pin)
      for pin in (lambda check, served: sha256(
                      check.signed_installer("tessarin", "installer_dll.dll")),
                  lambda check, served: served[:63])],
], ids=["unsigned", "twin-after-signer", "twin-first", "look-alike-publisher",
        "name-split-in-two", "older-genuine", "pinned-to-another-genuine-file",
        "malformed-pin"])
def test_unsigned_forged_or_stale_installer_is_refused_three_times(
        check, kind, exe, refusal, left_behind, pin):
    served = sha256(check.signed_installer(kind, exe))
    pinned = pin and pin(check, served)
    check.offer(kind=kind, exe=exe, sha256=pinned)

    result = check.run()

    e = check.entries
    if pin:
        refusal = lambda e: e.signed() + [e.line(
            f"[ERROR] The installer's SHA-256 {served} is not the one the manifest "
            f"names ({pinned}).")]
    failed_check = refusal(e) + ([BAD_SIGNATURE] if kind != "tessarin" else [])
    assert read_log(check.prefix) == e.refused_three_times(failed_check, left_behind(e))
    assert event_names(check.prefix) == error_session("download installer failed")
    assert check.installer_requests() == 3
    assert read_record(check.prefix) is None, "a refused installer was run"
    assert staged_folders(check.prefix) == []
    assert result.windows_seen, "the progress dialog was never shown"


def test_second_run_reuses_the_installer_on_disk(check):
    """With the manifest pinning the installer (in upper case): the reused
    file and its copy both match."""
    check.offer(sha256=sha256(check.signed_installer("tessarin")).upper())
    check.run(installer_exit=1)
    e = check.entries
    assert read_log(check.prefix)[-2:] == [e.line(e.staged), NOT_INSTALLED]
    assert event_names(check.prefix) == error_session("install failed")
    assert check.installer_requests() == 1
    check.server.clear_requests()
    (check.prefix.working_dir / check.prefix.INSTALLER_RECORD_NAME).unlink()

    check.run(installer_exit=0)

    assert read_log(check.prefix) == e.installed(
        [e.downloaded_version(OFFERED_VERSION)] + e.signed(e.installer) +
        [b"INFO: HttpDownloader::getInstaller(): The right installer has been "
         b"downloaded completely. Do not download it again!\r\n"])
    assert (check.manifest_requests(), check.installer_requests()) == (1, 0)
    assert event_names(check.prefix)[3:] == INSTALLED
    assert read_record(check.prefix)["arguments"] == "-quiet"


# What an earlier run left on disk, the version offered now, and what the
# check of the old file logs before it is deleted and fetched again.
@pytest.mark.parametrize("left, offered, old_file_entries", [
    ("older", OFFERED_VERSION,
     lambda e: [e.downloaded_version("6.1.31.0")]),
    # Same value, different text: only the exact text is reused.
    ("tessarin", "6.1.33.00",
     lambda e: [e.downloaded_version(OFFERED_VERSION)]),
    ("modified", OFFERED_VERSION,
     lambda e: [e.downloaded_version(OFFERED_VERSION),
                b"[ERROR] Error is: 0x80096010.\r\n"]),
    ("other", OFFERED_VERSION, _download_refused),
    ("truncated", OFFERED_VERSION,
     lambda e: [b"[ERROR] ERROR: Util::getDownloadedVersion(): Failed to get the "
                b"file version!", e.downloaded_version("")]),
], ids=["older-left", "offer-in-other-form", "altered-file", "other-publisher",
        "partial-file"])
def test_unusable_installer_on_disk_is_fetched_again(check, left, offered,
                                                     old_file_entries):
    check.offer(version=offered)
    if left == "truncated":
        old = check.signed_installer("tessarin").read_bytes()[:4096]
    elif left == "older":
        old = check.signed_installer("tessarin", "fake_installer_6_1_31_0.exe").read_bytes()
    else:
        old = check.signed_installer(left).read_bytes()
    check.place_installer(old)

    check.run()

    e = check.entries
    assert read_log(check.prefix) == (
        e.manifest_start(offered) + old_file_entries(e) +
        [e.download_complete(e.installer)] + e.signed() + e.install())
    assert check.installer_requests() == 1
    assert (check.prefix.unix_path(e.installer).read_bytes() ==
            check.signed_installer("tessarin").read_bytes())
    assert event_names(check.prefix) == INSTALLED


@pytest.mark.parametrize("settings", [
    "[Update]\r\nurl={url}\r\ncheck_for_updates=0\r\n",
    "[Update]\r\nurl={url}\r\ncheck_for_updates=true\r\n",
    "[Update]\r\nurl={url}\r\n",
], ids=["zero", "word-true", "key-missing"])
def test_update_checks_switched_off(check, settings):
    check.offer()
    check.settings(settings.format(url=check.server.url(MANIFEST_URL_PATH)))

    result = check.run()

    assert read_log(check.prefix) == [NO_MANIFEST]
    assert event_names(check.prefix) == error_session("download update.xml failed")
    assert check.server.requests == []
    assert sorted(p.name for p in check.prefix.working_dir.iterdir()) == [
        "TsDLMUpdater.log"]
    assert result.windows_seen == []


@pytest.mark.parametrize("offered", ["6.1.32.0", "6.1.31.9", "6.1.032.0", "5.9.99.99"])
def test_offered_version_not_newer(check, offered):
    check.offer(version=offered)

    result = check.run()

    assert read_log(check.prefix) == check.entries.manifest_start(offered) + [NOT_HIGHER]
    assert event_names(check.prefix) == error_session("installed version is up-to-date")
    assert (check.manifest_requests(), check.installer_requests()) == (1, 0)
    assert result.windows_seen == []
    assert not check.prefix.unix_path(check.entries.installer).exists()


@pytest.mark.parametrize("status, code, text", [
    (404, 22, "HTTP response code said error"),
    (500, 22, "HTTP response code said error"),
], ids=["404", "500"])
def test_manifest_error_status(check, status, code, text):
    check.offer()
    check.server.set_rule(MANIFEST_URL_PATH, status=status,
                          body="<html><body>no such page</body></html>")

    result = check.run()

    assert read_log(check.prefix) == [curl_error(code, text), NO_MANIFEST]
    assert event_names(check.prefix) == error_session("download update.xml failed")
    assert (check.manifest_requests(), check.installer_requests()) == (1, 0)
    assert result.windows_seen == []


@pytest.mark.parametrize("scheme, entries", [
    ("http", lambda e: [curl_error(1, "Unsupported protocol"), NO_MANIFEST]),
    # Control: the same redirect staying on HTTPS is followed.
    ("https", lambda e: e.manifest_start(INSTALLED_VERSION) + [NOT_HIGHER]),
], ids=["to-http-refused", "to-https-followed"])
def test_https_manifest_redirect(check, update_site_tls, scheme, entries):
    """What was asked for over HTTPS never continues over plain HTTP."""
    target = check.server if scheme == "http" else update_site_tls
    target.add_file("/moved/update.xml", manifest(target.base_url, INSTALLED_VERSION))
    update_site_tls.set_rule(MANIFEST_URL_PATH, redirects=1,
                             redirect_to=target.url("/moved/update.xml"))
    check.settings(url=update_site_tls.url(MANIFEST_URL_PATH))

    check.run()

    assert read_log(check.prefix) == entries(check.entries)
    assert check.server.requests_for("/moved/update.xml") == []


# --- The HTTPS server's certificate, checked by the updater itself ----------------

PEER_REFUSED = curl_error(60, "SSL peer certificate or SSH remote key was not OK")


@pytest.mark.parametrize("certificate", ["trusted", "untrusted-root", "other-host",
                                         "ip-as-dns-name", "redirect-to-untrusted-root"])
def test_https_server_certificate(prefix, fixture_exe, signing_kit, test_ca, tmp_path,
                                  certificate):
    """Wine's Schannel accepts any server certificate; the updater does not:
    the manifest is never asked for, also not from the new host a trusted
    server redirects to. The genuine installer from a trusted server still
    installs."""
    redirect = certificate.startswith("redirect-to-")
    server = https_site(tmp_path, test_ca, certificate.removeprefix("redirect-to-"))
    first = https_site(tmp_path, test_ca, "trusted") if redirect else server
    try:
        check = UpdateCheck(prefix, server, fixture_exe, signing_kit, tmp_path)
        check.offer()
        if redirect:
            first.set_rule(MANIFEST_URL_PATH, redirects=1,
                           redirect_to=server.url(MANIFEST_URL_PATH))
            check.settings(url=first.url(MANIFEST_URL_PATH))

        check.run()

        e = check.entries
        if certificate == "trusted":
            assert read_log(prefix) == e.installed()
            assert (check.manifest_requests(), check.installer_requests()) == (1, 1)
            assert read_record(prefix) is not None
        else:
            assert read_log(prefix) == [PEER_REFUSED, NO_MANIFEST]
            assert event_names(prefix) == error_session("download update.xml failed")
            assert server.requests == []
    finally:
        server.stop()
        first.stop()


# --- The manifest's signature and expiry ------------------------------------------

FRESH, STALE = "2099-01-01T00:00:00Z", "2020-01-01T00:00:00Z"
REFUSED_MANIFEST = b"[ERROR] Cannot use update.xml, return now\r\n"
NOT_PUBLISHER = [f"[ERROR] A certificate with a subject name [{PUBLISHER}] can not be found!",
                 f"[ERROR] The manifest is not signed by {PUBLISHER}."]
NO_EXPIRY = ("[ERROR] The signed manifest names no valid expiry (one expires element, "
             "YYYY-MM-DDTHH:MM:SSZ).")
NOT_VERIFIED = ["[ERROR] The manifest's signature does not verify over update.xml "
                "(error 0x80091007)."]


def publish_signed(check, version=OFFERED_VERSION, expires=FRESH, signer="tessarin",
                   chain=(), change=None, signed_text=None, attached=False):
    """Publishes a manifest with its signature (of `signed_text` when given,
    else of the manifest itself, changed afterwards by `change`; carrying
    what it signs with `attached`)."""
    text = manifest(check.server.base_url, version, expires=expires)
    signature = check.signing_kit.sign_detached(
        (signed_text or text).encode(), signer, chain, attached)
    check.offer(version)
    check.server.add_file(MANIFEST_URL_PATH, change(text) if change else text)
    check.server.add_file(MANIFEST_URL_PATH + ".p7s", signature)


# id -> (publish, update.ini's extra line, the lines after the download)
SIGNED = {
    "other-publisher": (lambda c: publish_signed(c, signer="other"), "", NOT_PUBLISHER),
    "bytes-changed": (lambda c: publish_signed(c, change=lambda t: t.replace("6.1", "6.2")),
                      "", NOT_VERIFIED),
    "signature-of-another-manifest": (
        lambda c: publish_signed(c, signed_text=manifest(c.server.base_url, "6.1.32.0",
                                                         expires=FRESH)), "", NOT_VERIFIED),
    "expired": (lambda c: publish_signed(c, expires=STALE), "",
                [FOUND, f"[ERROR] The manifest expired at {STALE}."]),
    "root-not-trusted": (lambda c: publish_signed(c, signer="foreign_signer",
                                                  chain=("foreign_root",)), "",
                         ["[ERROR] The manifest's signer certificate is not trusted for "
                          "code signing."]),
    # A mirror's attacks: a signature too big to be one (the transfer stops
    # at 64 KiB), two expiries, a time zone the updater would misread.
    "huge-signature": (lambda c: (c.offer(), c.server.add_file(MANIFEST_URL_PATH + ".p7s",
                                                              b"0" * (64 * 1024 + 1))), "",
                       [curl_error(63, "Maximum file size exceeded").decode().rstrip(),
                        "[ERROR] The manifest's signature (update.xml.p7s) could not be "
                        "downloaded."]),
    "signature-carrying-another-manifest": (
        lambda c: publish_signed(c, attached=True, signed_text=manifest(
            c.server.base_url, "6.1.32.0", expires=FRESH)), "",
        ["[ERROR] The manifest's signature is not a detached signature (it carries content "
         "of its own)."]),
    "two-expiries": (lambda c: publish_signed(c, expires=f"{FRESH}</expires><expires>{STALE}"),
                     "", [FOUND, NO_EXPIRY]),
    "expiry-with-offset": (lambda c: publish_signed(c, expires="2020-01-01T00:00:00+99:00"),
                           "", [FOUND, NO_EXPIRY]),
    "missing-when-required": (lambda c: c.offer(), "require_signed_manifest=1\r\n",
                              ["[ERROR] The manifest is not signed (no update.xml.p7s is "
                               "served) and a signed manifest is required."]),
}


@pytest.mark.parametrize("case", SIGNED, ids=list(SIGNED))
def test_manifest_refused_for_its_signature(check, case):
    publish, setting, lines = SIGNED[case]
    publish(check)
    check.settings(extra=setting)

    result = check.run()

    e = check.entries
    signature = [] if case in ("missing-when-required", "huge-signature") else [
        e.download_complete(e.manifest + ".p7s")]
    assert read_log(check.prefix) == (e.manifest_start()[:2] + signature +
                                      [e.line(line) for line in lines] + [REFUSED_MANIFEST])
    assert event_names(check.prefix) == error_session("update.xml refused")
    assert (check.manifest_requests(), check.installer_requests()) == (1, 0)
    assert result.windows_seen == []


def test_signed_manifest_installs_and_a_replay_holds_only_until_it_expires(check):
    publish_signed(check)
    check.settings(extra="require_signed_manifest=1\r\n")
    e = check.entries

    check.run(installer_exit=0)

    assert read_log(check.prefix) == e.installed_signed_manifest(FRESH)

    # The mirror replays an older signed manifest: up to date while it lasts.
    for expires, ending in ((FRESH, [NOT_HIGHER]),
                            (STALE, [e.line(f"[ERROR] The manifest expired at {STALE}."),
                                     REFUSED_MANIFEST])):
        publish_signed(check, version=INSTALLED_VERSION, expires=expires)
        check.run()
        log = read_log(check.prefix)
        assert log[-len(ending):] == ending
        assert check.installer_requests() == 1
