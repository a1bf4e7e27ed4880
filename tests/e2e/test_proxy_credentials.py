"""The proxy manager's credential dialog and credential store under Wine, through
the credential_tool fixture: the store entry as another process reads it, and
the dialog answered or cancelled on the X display."""

import json
import os
import subprocess
import time

# Wine's credential dialog has no caption of ours: it names the target.
DIALOG_CAPTION = "Connect to proxy1"


def tool(fixture_exe):
    return fixture_exe("credential_tool.exe")


def run_tool(prefix, fixture_exe, *args):
    result = prefix.run(tool(fixture_exe), list(args), timeout=60)
    lines = [line for line in result.stdout.decode("utf-8").splitlines()
             if line.startswith("{")]
    assert lines, result.stdout + result.stderr
    return json.loads(lines[-1])


def xdotool(prefix, *args):
    subprocess.run(["xdotool", *args], check=True, timeout=30,
                   env={"DISPLAY": prefix.display,
                        "PATH": os.environ.get("PATH", "/usr/bin:/bin")})


def answer_dialog(prefix, fixture_exe, keys):
    """Starts the dialog for proxy1, sends `keys` (xdotool argument lists) to
    it and returns what the tool printed."""
    process = prefix.start(tool(fixture_exe), ["dialog", "proxy1"])
    try:
        window = prefix.wait_for_window(DIALOG_CAPTION, timeout=60)[0]
        xdotool(prefix, "windowfocus", "--sync", window)
        time.sleep(0.5)  # keys sent before the edit box has the focus are lost
        for key_args in keys:
            xdotool(prefix, *key_args)
            time.sleep(0.2)
        _, stdout, stderr = process.wait(timeout=60)
    finally:
        process.kill()
    lines = [line for line in stdout.decode("utf-8").splitlines()
             if line.startswith("{")]
    assert lines, stdout + stderr
    return json.loads(lines[-1])


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
    answer = answer_dialog(prefix, fixture_exe, [
        ["type", "--delay", "60", "proxy1\\user1"],
        ["key", "Tab"],
        ["type", "--delay", "60", "s3cret"],
        ["key", "Return"],
    ])
    assert answer == {"status": 0, "user": "user1", "password": "s3cret"}
    # The dialog itself saves nothing.
    assert run_tool(prefix, fixture_exe, "load", "proxy1")["found"] == 0


def test_dialog_cancelled(prefix, fixture_exe):
    answer = answer_dialog(prefix, fixture_exe, [["key", "Escape"]])
    assert answer == {"status": 5, "user": "", "password": ""}
