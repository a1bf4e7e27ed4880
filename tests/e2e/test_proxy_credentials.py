"""The proxy manager's credential dialog and credential store under Wine, through
the credential_tool fixture: the store entry as another process reads it, and
the dialog answered or cancelled on the X display."""

import scenarios
from harness import printed_json

# Wine's credential dialog has no caption of ours: it names the target.
DIALOG_CAPTION = "Connect to proxy1"


def tool(fixture_exe):
    return fixture_exe("credential_tool.exe")


def run_tool(prefix, fixture_exe, *args):
    result = prefix.run(tool(fixture_exe), list(args), timeout=60)
    return printed_json(result.stdout, result.stderr)


def answer_dialog(prefix, fixture_exe, keys):
    """Starts the dialog for proxy1, sends `keys` (scenarios.answer_dialog's)
    to it and returns what the tool printed."""
    process = prefix.start(tool(fixture_exe), ["dialog", "proxy1"])
    try:
        assert scenarios.answer_dialog(prefix.display, keys, title=DIALOG_CAPTION)
        _, stdout, stderr = process.wait(timeout=60)
    finally:
        process.kill()
    return printed_json(stdout, stderr)


def test_stored_entry_is_read_back_by_another_process(prefix, fixture_exe):
    # Saved for NTLM (4): the scheme rides in the comment; target, type
    # (generic, 1) and persistence (local machine, 2) stay as other readers
    # of the store expect them.
    stored = run_tool(prefix, fixture_exe, "store", "proxy1", "proxy1\\user1",
                      "pa55word", "4")
    assert stored["stored"] == 1
    loaded = run_tool(prefix, fixture_exe, "load", "proxy1")
    assert loaded == {"found": 1, "user": "proxy1\\user1", "password": "pa55word",
                      "scheme": 4, "secretBytes": 16, "persist": 2, "type": 1,
                      "comment": "TsrnProxyAuthScheme=NTLM"}
    other = run_tool(prefix, fixture_exe, "load", "proxy2")
    assert other == {"found": 0, "user": "(unchanged)", "password": "(unchanged)",
                     "scheme": 0}
    refused = run_tool(prefix, fixture_exe, "store", "proxy3", "", "pw")
    assert refused["stored"] == 0
    assert run_tool(prefix, fixture_exe, "load", "proxy3")["found"] == 0


def test_dialog_answer_drops_the_proxy_as_domain(prefix, fixture_exe):
    answer = answer_dialog(prefix, fixture_exe,
                           ["type:proxy1\\user1", "key:Tab", "type:s3cret", "key:Return"])
    assert answer == {"status": 0, "user": "user1", "password": "s3cret"}
    # The dialog itself saves nothing.
    assert run_tool(prefix, fixture_exe, "load", "proxy1")["found"] == 0


def test_dialog_cancelled(prefix, fixture_exe):
    answer = answer_dialog(prefix, fixture_exe, ["key:Escape"])
    assert answer == {"status": 5, "user": "", "password": ""}
