"""The real updater under Wine against servers, proxies, files and folders
that fail: for each fault the log entries in order, the one analytics
session, what the server (and proxy) saw, what is left in the working
folder, that the installed download manager is untouched unless a verified
installer ran, and that the updater ends with 0 in time."""

import time

import pytest

import proxy_helpers
from loopback import free_port
from scenarios import (BAD_SIGNATURE, INSTALLED, INSTALLER_URL_PATH, MANIFEST_URL_PATH,
                       NO_INSTALLER, NO_MANIFEST, NOT_HIGHER, OFFERED_VERSION, PROXY_HOST,
                       QUIT_DLM, RUN_TIMEOUT, SERVER_NAME, TestProxy, UpdateCheck,
                       curl_error, error_session, event_names, log_messages, manifest,
                       read_record, run_answering)

NO_FILE_VERSION = (b"[ERROR] ERROR: Util::getDownloadedVersion(): Failed to get the "
                   b"file version!")

TIME_BOUND = 60  # seconds from start to exit, for every case
LOG = "TsDLMUpdater.log"
MANIFEST = "update.xml"
INSTALLER = "TessarinDownloadManagerSetup.exe"


class FaultCheck(UpdateCheck):
    def proxied(self, proxy_address):
        """The update server under a name only the proxy knows, and the
        user's settings pointing at `proxy_address`."""
        self.host = SERVER_NAME
        self.offer()
        proxy_helpers.set_user_settings(self.prefix, proxy_helpers.PROXY,
                                        proxy=proxy_address)

    proxy = None
    script = None
    dead = ()

    def working_files(self):
        folder = self.prefix.working_dir
        if not folder.is_dir():
            return None
        return sorted(p.name for p in folder.iterdir() if not p.name.endswith(".record.txt"))


# --- The faults ------------------------------------------------------------------

def manifest_rule(**rule):
    return lambda c: c.server.set_rule(MANIFEST_URL_PATH, **rule)


def manifest_body(body):
    return manifest_rule(body=body)


def installer_rule(**rule):
    return lambda c: c.server.set_rule(INSTALLER_URL_PATH, **rule)


def installer_kind(kind):
    return lambda c: c.server.add_file(INSTALLER_URL_PATH, c.signed_installer(kind).read_bytes())


def refused(c):
    c.settings(url=f"http://127.0.0.1:{free_port()}{MANIFEST_URL_PATH}")


def working_folder_is_a_file(c):
    c.prefix.working_dir.write_bytes(b"not a folder")


def log_folder_is_a_file(c):
    folder = c.prefix.shared_log_path.parent
    folder.parent.mkdir(parents=True, exist_ok=True)
    folder.write_bytes(b"not a folder")


def through_proxy(**options):
    def setup(c):
        proxy = TestProxy(hosts={SERVER_NAME: "127.0.0.1"}, **options)
        c.proxy = proxy.start()
        c.proxied(proxy.address)
    return setup


def proxy_unreachable(c):
    c.proxied(f"127.0.0.1:{free_port()}")


def dripping_script(c):
    """The user's configuration script comes from a server that drips a byte
    a second and never ends it: it counts as no script."""
    c.script = proxy_helpers.ScriptServer(proxy_helpers.pac_script("PROXY 127.0.0.1:9"),
                                          drip=True).__enter__()
    proxy_helpers.set_user_settings(c.prefix, proxy_helpers.SCRIPT, script=c.script.url)


DEAD_PROXIES = 20


def dead_proxies(c):
    """A fixed list of twenty proxies that take the connection and never
    answer (a list, not a configuration script: Wine returns only the first
    entry of a script's answer)."""
    c.dead = [TestProxy(silent=True).start() for _ in range(DEAD_PROXIES)]
    c.proxied(";".join(p.address for p in c.dead))


def installer_locked(c):
    """A complete installer from an earlier run, held open without sharing
    by another process (a virus scanner, say) for the whole run."""
    c.place_installer(c.signed_installer("tessarin").read_bytes())
    c.prefix.start_background(c.fixture_exe("sleeper.exe"), r"C:\locker\sleeper.exe",
                              [str(TIME_BOUND * 2), "{ready}", c.entries.installer])


def installer_sized(size_change=0, **rule):
    """The manifest names the installer's size (plus `size_change`: a size
    that lies); the installer is served under `rule`."""
    def setup(c):
        c.entries.size = len(c.signed_installer("tessarin").read_bytes())
        c.server.add_file(MANIFEST_URL_PATH, manifest(c.server.base_url, OFFERED_VERSION,
                                                      size=c.entries.size + size_change))
        c.server.set_rule(INSTALLER_URL_PATH, **rule)
    return setup


def partial_left(c):
    c.place_installer(c.signed_installer("tessarin").read_bytes()[:4096])


MANIFEST_LIMIT = 1 << 20


def big_manifest(c, size):
    """A valid manifest of `size` bytes: a comment fills it up before its end."""
    text = manifest(c.server.base_url, OFFERED_VERSION)
    cut = text.rindex("</installerInformation>")
    filler = size - len(text) - len("<!---->")
    return (text[:cut] + "<!--" + "x" * filler + "-->" + text[cut:]).encode()


ENTITIES = """<?xml version="1.0"?>
<!DOCTYPE lolz [<!ENTITY a "aaaaaaaaaa">
<!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;"><!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">
<!ENTITY d "&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;"><!ENTITY e "&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;">
<!ENTITY f "&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;"><!ENTITY g "&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;">
<!ENTITY h "&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;"><!ENTITY i "&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;">]>
<installerInformation><version>&i;</version></installerInformation>
"""

# --- What the updater logs ---------------------------------------------------------

def manifest_failed(*first):
    return lambda e: list(first) + [NO_MANIFEST]


def up_to_date(offered):
    return lambda e: e.manifest_start(offered) + [NOT_HIGHER]


def installer_failed(code, text):
    return lambda e: (e.manifest_start() + e.fresh_download()[:2] +
                      [curl_error(code, text), NO_INSTALLER])


def installed(old_file=None):
    return lambda e: e.installed(
        None if old_file is None else old_file(e) + [e.download_complete(e.installer)])


def rejected_three_times(check_lines, old_file_lines):
    return lambda e: e.refused_three_times(check_lines(e) + [BAD_SIGNATURE], old_file_lines(e))


def checked_again(check_lines):
    return lambda e: [e.downloaded_version(OFFERED_VERSION)] + check_lines(e)


def error_code(code):
    return lambda e: [f"[ERROR] Error is: {code}.\r\n".encode()]


not_our_publisher = rejected_three_times(
    lambda e: e.other_publisher(), checked_again(lambda e: e.other_publisher(e.installer)))


# --- The matrix ---------------------------------------------------------------------

BEFORE_MANIFEST = [LOG, MANIFEST]
AFTER_INSTALLER = [INSTALLER, LOG, MANIFEST]
# An installer download that failed leaves nothing of it.
INSTALLER_REMOVED = [LOG, MANIFEST]
# A manifest that came is followed by the request for its signature (none here).
SIGNED_FETCHED = ["manifest", "signature"]
FETCHED_ONCE = SIGNED_FETCHED + ["installer"]
FETCHED_THRICE = SIGNED_FETCHED + ["installer"] * 3


NO_MANIFEST_EVENT = error_session("download update.xml failed")
NO_INSTALLER_EVENT = error_session("download installer failed")
UP_TO_DATE_EVENT = error_session("installed version is up-to-date")
HTTP_ERROR = "HTTP response code said error"
WRITE_FAILED = "Failed writing received data to disk/application"
NO_PROXY = b"tsrnGetProxyInfo return: 2 with silent=0 schema=0\r\n"
# The outcomes most faults share: (analytics session, server requests,
# working folder files, installer ran).
MANIFEST_FAILED = (NO_MANIFEST_EVENT, ["manifest"], BEFORE_MANIFEST, False)
UP_TO_DATE = (UP_TO_DATE_EVENT, SIGNED_FETCHED, BEFORE_MANIFEST, False)
INSTALLER_FAILED = (NO_INSTALLER_EVENT, FETCHED_ONCE, INSTALLER_REMOVED, False)
REFUSED_THRICE = (NO_INSTALLER_EVENT, FETCHED_THRICE, AFTER_INSTALLER, False)
INSTALLED_ONCE = (INSTALLED, FETCHED_ONCE, AFTER_INSTALLER, True)

# id: (fault, log entries, *outcome). A redirect hop counts as "hop".
CASES = {
    "connection-refused": (
        refused, manifest_failed(curl_error(7, "Couldn't connect to server")),
        NO_MANIFEST_EVENT, [], BEFORE_MANIFEST, False),
    "manifest-dropped-midway": (
        manifest_rule(drop_after=200),
        manifest_failed(curl_error(18, "Transferred a partial file")), *MANIFEST_FAILED),
    "manifest-headers-only": (
        manifest_rule(drop_after=0),
        manifest_failed(curl_error(18, "Transferred a partial file")), *MANIFEST_FAILED),
    "manifest-empty": (manifest_body(""), manifest_failed(), *MANIFEST_FAILED),
    "manifest-malformed": (
        manifest_body("<installerInformation><version>6.1.33.0</vers"), up_to_date(""),
        *UP_TO_DATE),
    "manifest-entities-not-expanded": (
        manifest_body(ENTITIES), up_to_date("&i;"), *UP_TO_DATE),
    "manifest-three-part-version": (
        lambda c: manifest_body(manifest(c.server.base_url, "6.1.33"))(c),
        up_to_date("6.1.33"), *UP_TO_DATE),
    # The manifest is limited to 1 MiB: just under it installs; past it the
    # transfer stops at once with an announced length, and as soon as the
    # limit is passed without one (1.5 GB, streamed), leaving at most 1 MiB.
    "manifest-just-under-1-MiB": (
        lambda c: manifest_body(big_manifest(c, MANIFEST_LIMIT - 100))(c),
        installed(), *INSTALLED_ONCE),
    "manifest-2-MiB": (
        lambda c: manifest_body(big_manifest(c, 2 * MANIFEST_LIMIT))(c),
        manifest_failed(curl_error(63, "Maximum file size exceeded")), *MANIFEST_FAILED),
    "manifest-1.5-GB-streamed": (
        manifest_rule(body_size=1536 << 20, length="chunked"),
        manifest_failed(curl_error(23, WRITE_FAILED)), *MANIFEST_FAILED),
    "redirect-loop": (
        manifest_rule(redirects=10),
        manifest_failed(curl_error(47, "Number of redirects hit maximum amount")),
        NO_MANIFEST_EVENT, ["manifest"] + ["hop"] * 5, BEFORE_MANIFEST, False),
    "installer-dropped-midway": (
        installer_rule(drop_after=20000), installer_failed(18, "Transferred a partial file"),
        *INSTALLER_FAILED),
    "installer-404": (
        installer_rule(status=404), installer_failed(22, HTTP_ERROR), *INSTALLER_FAILED),
    "installer-500": (
        installer_rule(status=500), installer_failed(22, HTTP_ERROR), *INSTALLER_FAILED),
    # The manifest names the installer's size: a body past it ends the
    # transfer at once, and one of any other size is refused unread.
    "installer-streamed-without-end": (
        installer_sized(body_size=1 << 40, length="none", rate=4 << 20),
        installer_failed(23, WRITE_FAILED), *INSTALLER_FAILED),
    "installer-one-byte-past-its-size": (
        lambda c: installer_sized(length="none", body=c.signed_installer(
            "tessarin").read_bytes() + b"x")(c),
        installer_failed(23, WRITE_FAILED), *INSTALLER_FAILED),
    "manifest-names-a-larger-size": (
        installer_sized(size_change=1),
        lambda e: (e.manifest_start() + e.fresh_download()[:2] + [e.line(
            f"[ERROR] The download's size {e.size} is not the size the manifest "
            f"names ({e.size + 1}).")] + [NO_INSTALLER]), *INSTALLER_FAILED),
    "installer-is-an-html-page": (
        installer_rule(body="<html><body>Sign in</body></html>"),
        rejected_three_times(error_code("0x800b0003"),
                             lambda e: [NO_FILE_VERSION, e.downloaded_version("")]),
        *REFUSED_THRICE),
    "installer-unsigned": (
        installer_kind("unsigned"),
        rejected_three_times(lambda e: [e.not_signed()],
                             checked_again(lambda e: [e.not_signed(e.installer)])),
        *REFUSED_THRICE),
    "installer-modified-after-signing": (
        installer_kind("modified"),
        rejected_three_times(error_code("0x80096010"), checked_again(error_code("0x80096010"))),
        *REFUSED_THRICE),
    "installer-of-another-publisher": (
        installer_kind("other"), not_our_publisher, *REFUSED_THRICE),
    "installer-with-our-certificate-in-its-bag": (
        installer_kind("bag_attack"), not_our_publisher, *REFUSED_THRICE),
    "partial-installer-left-by-an-earlier-run": (
        partial_left, installed(lambda e: [NO_FILE_VERSION, e.downloaded_version("")]),
        *INSTALLED_ONCE),
    # The file can be neither read nor replaced: one attempt, nothing fetched.
    "installer-locked-by-another-process": (
        installer_locked,
        lambda e: e.manifest_start() + [NO_FILE_VERSION, e.downloaded_version(""),
                                        NO_INSTALLER],
        NO_INSTALLER_EVENT, SIGNED_FETCHED, AFTER_INSTALLER, False),
    "log-folder-is-a-file": (log_folder_is_a_file, installed(), *INSTALLED_ONCE),
    # The shared log alone tells why: nothing is fetched.
    "working-folder-is-a-file": (
        working_folder_is_a_file, manifest_failed(), NO_MANIFEST_EVENT, [], None, False),
    "proxy-unreachable": (
        proxy_unreachable, manifest_failed(NO_PROXY), NO_MANIFEST_EVENT, [], [LOG], False),
    # Each dead proxy holds the probe for WinHTTP's 5 s limits; the eighth
    # is the last one tried, well within the lookup's 60 s.
    "proxy-list-of-twenty-dead-proxies": (
        dead_proxies, manifest_failed(NO_PROXY), NO_MANIFEST_EVENT, [], [LOG], False),
    # Each of the two lookups gives the script 15 s, then goes on without it.
    "proxy-script-dripping-without-end": (dripping_script, installed(), *INSTALLED_ONCE),
    "proxy-answers-502": (
        through_proxy(status=502), manifest_failed(curl_error(22, HTTP_ERROR)),
        NO_MANIFEST_EVENT, [], BEFORE_MANIFEST, False),
}


def request_kinds(server):
    names = {MANIFEST_URL_PATH: "manifest", MANIFEST_URL_PATH + ".p7s": "signature",
             INSTALLER_URL_PATH: "installer"}
    return [names.get(r["path"], "hop" if r["path"].startswith("/__hop/") else r["path"])
            for r in server.requests]


@pytest.fixture
def check(prefix, update_site, fixture_exe, signing_kit, tmp_path):
    made = FaultCheck(prefix, update_site, fixture_exe, signing_kit, tmp_path)
    yield made
    if made.proxy:
        made.proxy.stop()
    if made.script:
        made.script.__exit__()
    for proxy in made.dead:
        proxy.stop()


@pytest.mark.parametrize("case", list(CASES))
def test_fault(check, case):
    fault, entries, session, requests, files, installer_ran = CASES[case]
    check.offer()
    fault(check)

    result = check.run()

    assert result.wall_time < TIME_BOUND
    temp_log = check.prefix.read_temp_log()
    if case == "log-folder-is-a-file":
        assert check.prefix.shared_log_path.parent.is_file()
    elif case == "working-folder-is-a-file":
        assert check.prefix.working_dir.read_bytes() == b"not a folder"
        temp_log = check.prefix.read_shared_log()
    else:
        assert check.prefix.read_shared_log() == temp_log
    assert log_messages(temp_log) == entries(check.entries)
    assert event_names(check.prefix) == session
    manifest_file = check.prefix.working_dir / MANIFEST
    if manifest_file.is_file():
        assert manifest_file.stat().st_size <= MANIFEST_LIMIT
    assert request_kinds(check.server) == requests
    assert check.working_files() == files
    assert (read_record(check.prefix) is not None) == installer_ran
    if installer_ran:
        assert (check.prefix.unix_path(check.entries.installer).read_bytes() ==
                check.signed_installer("tessarin").read_bytes())
    assert check.installed_dlm_untouched()
    if check.proxy:
        # The probe asks for the manifest, then the transfer goes through the
        # proxy and is answered 502.
        url = check.url(MANIFEST_URL_PATH)
        assert [(r["method"], r["target"]) for r in check.proxy.requests] == [
            ("HEAD", url), ("GET", url)]
    if check.dead:
        # One probe each for the first eight, in list order, none for the rest.
        assert [len(p.requests) for p in check.dead] == [1] * 8 + [0] * (DEAD_PROXIES - 8)


# --- A download manager that does not answer -------------------------------------

# How the download manager takes its time: the wait ends only once its
# window has been hung (not looking at its messages) for 30 s on end.
@pytest.mark.parametrize("options, at_least", [
    ({"delay": 8000}, 8),   # hung for a few seconds while handling it
    ({"ask": 38000}, 38),   # asks its user for longer than the hung limit
], ids=["hung-8s", "asking-its-user-38s"])
def test_download_manager_slow_to_answer_is_waited_for(update, options, at_least):
    """The update goes on once the download manager answers, however late,
    as long as it is not hung for 30 s."""
    update.offer()
    update.start_dlm(**options)

    started = time.monotonic()
    result = update.run(timeout=RUN_TIMEOUT + at_least)

    assert time.monotonic() - started > at_least
    assert log_messages(update.prefix.read_temp_log()) == update.entries.installed(
        after_manifest=[QUIT_DLM])
    assert event_names(update.prefix) == INSTALLED
    assert read_record(update.prefix)["arguments"] == "-quiet"
    assert result.windows_seen


HUNG_LIMIT = 30


# A download manager that stops looking at its messages: before it is asked
# (the request is then never queued) or while it handles the request.
@pytest.mark.parametrize("options, asked", [
    ({"hang": 1}, 0),
    ({"delay": 600000, "exit": 0}, 1),
], ids=["hung-before-the-request", "hung-while-handling-it"])
def test_hung_download_manager_counts_as_a_refusal(update, options, asked):
    """A hung window does not keep the updater (and every later run) waiting:
    30 s after the window is seen hung the run ends as a refusal, unseen,
    and the download manager is left as it is."""
    update.offer()
    dlm = update.start_dlm(**options)

    result = update.run()

    assert HUNG_LIMIT <= result.wall_time < HUNG_LIMIT + 25
    assert log_messages(update.prefix.read_temp_log()) == update.entries.manifest_start()
    assert event_names(update.prefix) == error_session("failed to exit download manager")
    assert len(update.dlm_requests()) == asked
    assert result.windows_seen == []
    assert dlm.running(), "the updater must never end the download manager"
    assert update.installer_requests() == 0
    assert read_record(update.prefix) is None
    assert update.installed_dlm_untouched()


# --- A proxy demanding schemes nobody knows ----------------------------------------

def test_proxy_with_unknown_schemes_asks_until_the_user_gives_up(check):
    """No credentials can satisfy the proxy, so the dialog comes back after
    each answer (up to three); cancelling it ends the check. Nothing is
    stored."""
    check.offer()
    through_proxy(auth="unknown")(check)

    result, answered = run_answering(
        check, ["type:ann", "key:Tab", "type:pw", "key:Return"], ["key:Escape"])

    assert answered == [True, True]
    assert result.wall_time < TIME_BOUND
    # The answer counts as rejected (no scheme could carry it): the second
    # dialog is in its "incorrect password" state.
    assert log_messages(check.prefix.read_temp_log()) == [
        f"Proxy server {PROXY_HOST}:{check.proxy.port} rejected the credentials of "
        f"user ann.\r\n".encode(),
        b"tsrnGetProxyInfo return: 5 with silent=0 schema=0\r\n", NO_MANIFEST]
    assert event_names(check.prefix) == NO_MANIFEST_EVENT
    assert check.server.requests == []
    # Asked, asked again with nothing to offer, then left.
    assert [(r["method"], r["proxy_authorization"]) for r in check.proxy.requests] == [
        ("HEAD", None), ("HEAD", None)]
    stored = check.prefix.run(check.fixture_exe("cred_tool.exe"), ["read", PROXY_HOST],
                              timeout=30)
    assert stored.returncode != 0
