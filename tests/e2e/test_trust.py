"""The installer trust checks with Wine's real trust provider, on files
signed at test time: which status and publisher answer each kind gets, and the
exact log entries."""

import re

import pytest

import harness
from scenarios import NOT_TRUSTED

SUBJECT = "Tessarin, Inc"
TIMESTAMP = rb"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  "


@pytest.fixture(scope="module")
def trust_prefix(wine_template, signing_kit, tmp_path_factory):
    """One prefix for the module, trusting the test code-signing root: the
    runs here share nothing but the log, which is removed before each run."""
    with harness.fresh_prefix(wine_template, tmp_path_factory.mktemp("trust"),
                              roots=[signing_kit.root_der]) as prefix:
        yield prefix


@pytest.fixture(scope="module")
def signed(signing_kit, fixture_exe, tmp_path_factory):
    """signed(kind) -> host path of fake_installer.exe made into that kind."""
    folder = tmp_path_factory.mktemp("signed")
    made = {}

    def make(kind):
        if kind not in made:
            made[kind] = signing_kit.sign(fixture_exe("fake_installer.exe"), kind,
                                          folder / f"{kind}.exe")
        return made[kind]
    return make


def check(prefix, fixture_exe, source, subject, mode="checked"):
    """Places `source` where the updater keeps its installer, runs the checks
    on it; returns (installer path, stdout line, log bytes or None)."""
    installer = prefix.temp_win + r"\TsDLM\TessarinDownloadManagerSetup.exe"
    prefix.install_file(source, installer)
    for log in (prefix.temp_log_path, prefix.shared_log_path):
        if log.exists():
            log.unlink()
    result = prefix.run(fixture_exe("trust_check.exe"), [installer, subject, mode],
                        timeout=60)
    assert result.returncode == 0, result.stderr.decode(errors="replace")
    temp_log = prefix.read_temp_log()
    assert prefix.read_shared_log() == temp_log
    return installer, result.stdout.decode().strip(), temp_log


def assert_entries(log, entries):
    """The log is exactly these entries, each after its timestamp."""
    assert log is not None, "no log written"
    pattern = b"".join(TIMESTAMP + re.escape(entry) for entry in entries)
    assert re.fullmatch(pattern, log, re.DOTALL), log


def signed_entry(path):
    return f'The file "{path}" is signed.\r\n'.encode()


def found_entry(subject):
    return f"A certificate with a subject name [{subject}] has been found!\r\n".encode()


def not_found_entry(subject):
    return (f"[ERROR] A certificate with a subject name [{subject}] can not be "
            f"found!\r\n").encode()


REFUSED_CHAIN = f"[ERROR] {NOT_TRUSTED}\r\n".encode()


def signed_but_not_ours(path):
    """A valid signature whose signer is not Tessarin, Inc."""
    return [signed_entry(path), not_found_entry(SUBJECT)]


@pytest.mark.parametrize("kind, subject, status, publisher, entries", [
    ("unsigned", SUBJECT, "0x800b0100", "-", lambda p: [
        f'[ERROR] The file "{p}" is not signed. Error is: 0x800b0100.\r\n'.encode()]),
    ("modified", SUBJECT, "0x80096010", "-", lambda p: [
        b"[ERROR] Error is: 0x80096010.\r\n"]),
    ("tessarin", SUBJECT, "0x00000000", "1", lambda p: [
        signed_entry(p), found_entry(SUBJECT)]),
    ("tessarin", "TESSARIN, INC", "0x00000000", "1", lambda p: [
        signed_entry(p), found_entry("TESSARIN, INC")]),
    ("other", SUBJECT, "0x00000000", "0", signed_but_not_ours),
    # Signed by "Mallory Software"; only its issuing CA carries the name.
    ("intermediate", SUBJECT, "0x00000000", "0", signed_but_not_ours),
    # Signed by another publisher with a copy of our certificate added.
    ("bag_attack", SUBJECT, "0x00000000", "0", signed_but_not_ours),
    # A forged twin of the signer's certificate named "Tessarin, Inc." in
    # the signature, after or before the real one: Wine's provider takes
    # the later as the signer and accepts the signature. The twin as signer
    # fails the chain check (its root is not installed); the real one as
    # signer, the second certificate with its issuer and serial number.
    ("twin", SUBJECT, "0x800b0004", "-", lambda p: [REFUSED_CHAIN]),
    ("twin_first", SUBJECT, "0x00000000", "0", signed_but_not_ours),
    # Validly issued, but not our name: "Tessarin, Incubator Ltd", and
    # "Tessarin" and "Inc" in two attributes.
    ("lookalike", SUBJECT, "0x00000000", "0", signed_but_not_ours),
    ("split", SUBJECT, "0x00000000", "0", signed_but_not_ours),
    # "Tessarin, Inc" on a chain that ends in no root the machine trusts:
    # Wine's provider says 0; the updater's own chain check does not.
    ("self_signed", SUBJECT, "0x800b0004", "-", lambda p: [REFUSED_CHAIN]),
    ("foreign_root", SUBJECT, "0x800b0004", "-", lambda p: [REFUSED_CHAIN]),
    ("fake_root", SUBJECT, "0x800b0004", "-", lambda p: [REFUSED_CHAIN]),
    # Issued under the trusted root, but by a certificate that is no CA.
    ("non_ca_issuer", SUBJECT, "0x800b0004", "-", lambda p: [REFUSED_CHAIN]),
    # Issued under the trusted root for TLS servers only, not for code.
    ("tls_signer", SUBJECT, "0x800b0004", "-", lambda p: [REFUSED_CHAIN]),
], ids=["unsigned", "modified", "tessarin", "letter-case", "other-publisher",
        "intermediate", "bag-attack", "twin-after-signer", "twin-first", "look-alike",
        "split-name", "self-signed", "untrusted-root", "root-named-like-ours",
        "issuer-not-a-ca", "tls-certificate"])
def test_checks_as_the_updater_makes_them(trust_prefix, fixture_exe, signed, kind,
                                          subject, status, publisher, entries):
    path, line, log = check(trust_prefix, fixture_exe, signed(kind), subject)
    assert line == f"status={status} publisher={publisher}"
    assert_entries(log, entries(path))


# The publisher check alone: the subject looked for, whether it is found and
# its entry.
@pytest.mark.parametrize("kind, subject, publisher, entry", [
    # Positive controls for the refusals above: the real signer of each file
    # is found, so the refusal is about whose certificate it is.
    ("bag_attack", "Other Publisher Ltd", "1", found_entry),
    ("intermediate", "mallory software", "1", found_entry),
    ("lookalike", "TESSARIN, INCUBATOR LTD", "1", found_entry),
    ("intermediate", "Tessarin, Inc Intermediate", "0", not_found_entry),
    # No embedded signature: refused with no entry (the fixture starts the
    # log as a run does).
    ("unsigned", SUBJECT, "0", None),
], ids=["bag-attack-signer", "intermediate-signer", "look-alike-signer",
        "intermediate-name-is-not-the-signer", "no-embedded-signature"])
def test_publisher_alone(trust_prefix, fixture_exe, signed, kind, subject, publisher, entry):
    _, line, log = check(trust_prefix, fixture_exe, signed(kind), subject, "publisher")
    assert line == f"status=- publisher={publisher}"
    if entry:
        assert_entries(log, [entry(subject)])
    else:
        assert not log
