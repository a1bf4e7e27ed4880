#!/usr/bin/env bash
# The main job: a real update check by TsDLMUpdater.exe under Wine in a fresh
# prefix. The download manager 6.1.32.0 is installed at its fixed place, and
# update.ini beside it points at a local update server that offers 6.1.33.0
# with a Tessarin-signed stand-in installer, its manifest made by
# tools/tsdlm-manifest. The updater downloads the manifest and the installer,
# checks the signature and runs the installer, which "installs" by copying a
# 6.1.33.0 executable over the installed one. The download manager runs (a
# stand-in window that accepts the quit request) and the installer comes
# slowly enough to see the dialog at work.
# Then: both log files, the analytics events, the requests the server saw,
# the installed version before and after and a screenshot taken mid-download.
# Before the update it shows the report of "TsDLMUpdater.exe /check".
#
# Runs the shipped i686 build under 32-bit Wine where this machine runs
# 32-bit code, and the x86_64 build of the same sources under 64-bit Wine
# where it does not (scripts/wine-select.sh; TSDLM_WINE_ARCH=win32|win64
# forces one). Uses dist/ (dist/x86_64/) and build/mingw(-x86_64)/tests/
# fixtures after building them; set TSDLM_DIST and TSDLM_FIXTURES to use
# another build as it is.
#
# --proxy: the same update through the local test proxy, which demands Basic
# authentication; the user's proxy settings point at it and the proxy's
# credential is stored beforehand, so no dialog shows. The proxy's request
# log is shown at the end.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
cd "$TSDLM_ROOT"
PROXY=0
case " $* " in *" --proxy "*) PROXY=1 ;; esac

if [ "$TSDLM_WIN_BUILD" = x86_64 ]; then
  BUILD_DIR="$TSDLM_ROOT/build/mingw-x86_64"
  DEFAULT_DIST="$TSDLM_ROOT/dist/x86_64"
else
  BUILD_DIR="$TSDLM_ROOT/build/mingw"
  DEFAULT_DIST="$TSDLM_ROOT/dist"
fi
# Tools first (scripts/setup.sh, through the build), then the display: the
# download manager and the dialog need one; without one the demo runs on an
# X server of its own.
if [ -z "${TSDLM_DEMO_STARTED:-}" ]; then echo "demo: $(tsdlm_wine_label)"; fi
export TSDLM_DEMO_STARTED=1
if [ -z "${DISPLAY:-}" ]; then
  if [ -z "${TSDLM_DIST:-}" ]; then
    mkdir -p "$TSDLM_ROOT/build"
    echo "demo: building (the first run also installs the tools and builds the libraries; a few minutes)"
    TSDLM_ARCHS="$TSDLM_WIN_BUILD" bash scripts/build.sh >"$TSDLM_ROOT/build/demo-build.log" 2>&1 || {
      tail -n 40 "$TSDLM_ROOT/build/demo-build.log" >&2
      echo "demo: the build failed; its log is $TSDLM_ROOT/build/demo-build.log" >&2
      exit 1
    }
    rm -f "$TSDLM_ROOT/build/demo-build.log"
    export TSDLM_DEMO_BUILT=1
  else
    bash scripts/setup.sh >/dev/null
  fi
  exec scripts/with-display.sh bash scripts/demo.sh "$@"
fi
if [ -z "${TSDLM_DIST:-}" ] && [ -z "${TSDLM_DEMO_BUILT:-}" ]; then
  TSDLM_ARCHS="$TSDLM_WIN_BUILD" bash scripts/build.sh >/dev/null
fi
DIST="${TSDLM_DIST:-$DEFAULT_DIST}"
FIXTURES="${TSDLM_FIXTURES:-$BUILD_DIR/tests/fixtures}"
for file in "$DIST/TsDLMUpdater.exe" "$DIST/UsageUtil.dll" \
            "$FIXTURES/version_6_1_32_0.exe" "$FIXTURES/fake_installer.exe" \
            "$FIXTURES/fake_dlm.exe" "$FIXTURES/desktop_ready.exe" \
            "$FIXTURES/add_root.exe"; do
  [ -f "$file" ] || { echo "demo: $file is missing; build first" >&2; exit 1; }
done

DEMO="$TSDLM_ROOT/build/demo"
export WINEPREFIX
WINEPREFIX=$(scripts/wine-prefix.sh "$DEMO/prefix")
SERVER_PID=""
PROXY_PID=""
cleanup() {
  if [ -n "$SERVER_PID" ]; then kill "$SERVER_PID" 2>/dev/null || true; fi
  if [ -n "$PROXY_PID" ]; then kill "$PROXY_PID" 2>/dev/null || true; fi
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
# Wine's helper processes and its desktop up before the first program, with
# the server kept until the end.
bash scripts/wine-ready.sh "$FIXTURES/desktop_ready.exe"

DRIVE="$WINEPREFIX/drive_c"
USER_DIR=$(find "$DRIVE/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n 1)

# The download manager's installation: under "Program Files" on 32-bit
# Windows, under "Program Files (x86)" on 64-bit Windows, where the updater
# looks.
PROGRAM_FILES='Program Files'
[ "$TSDLM_WINE_ARCH" = win64 ] && PROGRAM_FILES='Program Files (x86)'
INSTALL_WIN="C:\\$PROGRAM_FILES\\Common Files\\Tessarin Shared\\Tessarin Download Manager"
INSTALL_DIR="$DRIVE/$PROGRAM_FILES/Common Files/Tessarin Shared/Tessarin Download Manager"
mkdir -p "$INSTALL_DIR"
cp "$DIST/TsDLMUpdater.exe" "$DIST/UsageUtil.dll" "$INSTALL_DIR/"
cp "$FIXTURES/version_6_1_32_0.exe" "$INSTALL_DIR/TSRN.DLM.exe"
# What the stand-in installer copies over TSRN.DLM.exe: itself, version 6.1.33.0.
mkdir -p "$DRIVE/TsDLMDemo"
cp "$FIXTURES/fake_installer.exe" "$DRIVE/TsDLMDemo/TSRN.DLM-6.1.33.0.exe"

# The update site: the manifest and the signed installer.
SITE="$DEMO/site"
rm -rf "$SITE"
FILES="$SITE/utility/dlm/prod/Installer/files"
mkdir -p "$FILES"
"$TSDLM_PYTHON" tests/e2e/signing.py tessarin "$FIXTURES/fake_installer.exe" \
  "$FILES/TessarinDownloadManagerSetup-6.1.33.0.exe" --dir "$DEMO/signing-kit"
# The machine trusts the test root that made the signer, as Windows trusts a
# real code-signing CA: the updater refuses a chain that ends anywhere else.
cp "$DEMO/signing-kit/root.der" "$DRIVE/TsDLMDemo/root.der"
wine "$FIXTURES/add_root.exe" 'C:\TsDLMDemo\root.der' </dev/null >"$DEMO/add_root.out" 2>&1 || true
grep -q '^ok' "$DEMO/add_root.out" ||
  { echo "demo: the test root could not be added to the machine's Root store" >&2; exit 1; }

# port_of PID BASE WHAT: the port a test server started as PID prints first
# on BASE.out (its errors go to BASE.err); fails the demo if it never does.
port_of() {
  local pid=$1 base=$2 what=$3 port="" _
  for _ in $(seq 100); do
    port=$(head -n 1 "$base.out")
    [ -n "$port" ] && { echo "$port"; return 0; }
    kill -0 "$pid" 2>/dev/null || { cat "$base.err" >&2; exit 1; }
    sleep 0.1
  done
  echo "demo: $what did not start" >&2
  exit 1
}

"$TSDLM_PYTHON" tests/servers/update_server.py --root "$SITE" >"$DEMO/server.out" \
  2>"$DEMO/server.err" &
SERVER_PID=$!
PORT=$(port_of "$SERVER_PID" "$DEMO/server" "the update server")
BASE="http://127.0.0.1:$PORT"
SERVER_BASE="$BASE"
if [ "$PROXY" -eq 1 ]; then
  [ -f "$FIXTURES/cred_tool.exe" ] || { echo "demo: cred_tool.exe is missing; build first" >&2; exit 1; }
  # Wine's WinHTTP sends nothing for a loopback target through a proxy, so the
  # update server goes by a name that only the proxy resolves.
  "$TSDLM_PYTHON" tests/servers/test_proxy.py --auth basic --user demo \
    --password demo-secret --host updates.tsdlm.test=127.0.0.1 \
    >"$DEMO/proxy.out" 2>"$DEMO/proxy.err" &
  PROXY_PID=$!
  PROXY_PORT=$(port_of "$PROXY_PID" "$DEMO/proxy" "the test proxy")
  BASE="http://updates.tsdlm.test:$PORT"
  # The user's proxy settings (flags 2: a named proxy) and the stored credential.
  SETTINGS=$("$TSDLM_PYTHON" -c 'import sys; sys.path.insert(0, "tests/e2e"); import proxy_helpers as p; print(p.connection_settings(p.PROXY, sys.argv[1]).hex())' "127.0.0.1:$PROXY_PORT")
  wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections' \
    /v DefaultConnectionSettings /t REG_BINARY /d "$SETTINGS" /f >/dev/null 2>&1
  wine "$FIXTURES/cred_tool.exe" write 127.0.0.1 demo demo-secret </dev/null >/dev/null 2>&1
  echo "demo: test proxy on 127.0.0.1:$PROXY_PORT (Basic, user demo), credential stored for 127.0.0.1"
fi
# The manifest, made as the release team makes it: the tool checks the
# installer's version, signature and publisher first.
tools/tsdlm-manifest "$FILES/TessarinDownloadManagerSetup-6.1.33.0.exe" \
  --base-url "$BASE/utility/dlm/prod/Installer/files/" \
  --ca "$DEMO/signing-kit/root.pem" -o "$SITE/utility/dlm/prod/Installer/update.xml" \
  | sed 's/^/demo: /'
printf '[Update]\r\nurl=%s/utility/dlm/prod/Installer/update.xml\r\ncheck_for_updates=1\r\n' \
  "$BASE" >"$INSTALL_DIR/update.ini"

# The file version of a Windows executable, from its VS_FIXEDFILEINFO.
file_version() {
  "$TSDLM_PYTHON" - "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))
if at < 0:
    print("(no version)")
else:
    ms, ls = struct.unpack_from("<II", data, at + 8)
    print(f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}")
EOF
}

echo "demo: update server on $BASE serving $SITE"
echo "demo: installed TSRN.DLM.exe version before: $(file_version "$INSTALL_DIR/TSRN.DLM.exe")"
# The download manager is running: fake_dlm.exe as TsDLMgr.exe, with a window
# titled "Tessarin Download Manager" that accepts the quit request.
cp "$FIXTURES/fake_dlm.exe" "$INSTALL_DIR/TsDLMgr.exe"
rm -f "$DRIVE/TsDLMDemo/dlm-ready.txt" "$DRIVE/TsDLMDemo/dlm-record.txt"
wine "$INSTALL_WIN\\TsDLMgr.exe" 'C:\TsDLMDemo\dlm-ready.txt' \
  'record=C:\TsDLMDemo\dlm-record.txt' </dev/null >/dev/null 2>&1 &
for _ in $(seq 300); do
  [ -f "$DRIVE/TsDLMDemo/dlm-ready.txt" ] && break
  sleep 0.1
done
[ -f "$DRIVE/TsDLMDemo/dlm-ready.txt" ] || { echo "demo: the download manager did not start" >&2; exit 1; }
echo "demo: download manager running: $INSTALL_WIN\\TsDLMgr.exe"
# First what support would run: the release check, a dry run of the same
# update that leaves the download manager, the installer and the logs alone.
echo "demo: running $INSTALL_WIN\\TsDLMUpdater.exe /check"
set +e
wine "$INSTALL_WIN\\TsDLMUpdater.exe" /check </dev/null >"$DEMO/check.out" 2>"$DEMO/check.err"
check_rc=$?
set -e
echo "---- /check report (exit code $check_rc)"
sed 's/\r$//' "$DEMO/check.out"
echo "----"
# The installer comes slowly (about 3 s), so the dialog can be seen at work.
SIZE=$(stat -c %s "$FILES/TessarinDownloadManagerSetup-6.1.33.0.exe")
"$TSDLM_PYTHON" - "$SERVER_BASE/__control/rules" "$SIZE" <<'EOF'
import json, sys, urllib.request
rule = {"/utility/dlm/prod/Installer/files/TessarinDownloadManagerSetup-6.1.33.0.exe":
        {"rate": max(1, int(sys.argv[2]) // 3)}}
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
opener.open(urllib.request.Request(sys.argv[1], json.dumps(rule).encode(), method="POST"),
            timeout=10)
EOF
echo "demo: running $INSTALL_WIN\\TsDLMUpdater.exe in $WINEPREFIX"
export TSDLM_FAKE_INSTALLER_COPY_FROM='C:\TsDLMDemo\TSRN.DLM-6.1.33.0.exe'
# The stand-in installer records how it was started here: its own folder
# is removed once it has run.
export TSDLM_FAKE_INSTALLER_RECORD='C:\TsDLMDemo\installer-record.txt'
rm -f "$DRIVE/TsDLMDemo/installer-record.txt"
export TSDLM_FAKE_INSTALLER_COPY_TO="$INSTALL_WIN\\TSRN.DLM.exe"
start=$(date +%s.%N)
set +e
wine "$INSTALL_WIN\\TsDLMUpdater.exe" </dev/null >/dev/null 2>&1 &
UPDATER_PID=$!
SCREENSHOT="$DEMO/mid-download.png"
rm -f "$SCREENSHOT"
WINDOW=$(timeout 30 xdotool search --sync --onlyvisible --name \
  'Tessarin Download Manager update in progress' 2>/dev/null | head -n 1)
if [ -n "$WINDOW" ]; then
  sleep 1.5
  /usr/bin/import -window "$WINDOW" "$SCREENSHOT" 2>/dev/null
fi
wait "$UPDATER_PID"
rc=$?
set -e
end=$(date +%s.%N)
awk -v rc="$rc" -v s="$start" -v e="$end" 'BEGIN { printf "demo: exit code %d after %.2f s\n", rc, e - s }'
echo "demo: installed TSRN.DLM.exe version after: $(file_version "$INSTALL_DIR/TSRN.DLM.exe")"
if [ -s "$SCREENSHOT" ]; then
  echo "demo: screenshot of the dialog mid-download: $SCREENSHOT"
else
  echo "demo: no screenshot of the dialog was taken"
fi

show() {
  echo
  echo "---- $1"
  if [ -f "$2" ]; then sed 's/\r$//' "$2"; else echo "(missing)"; fi
}
show "log in the working folder (C:\\users\\...\\Temp\\TsDLM\\TsDLMUpdater.log)" \
  "$USER_DIR/Temp/TsDLM/TsDLMUpdater.log"
show "log under Public Documents (C:\\users\\Public\\Documents\\Tessarin\\TsDLM\\TsDLMUpdater.log)" \
  "$DRIVE/users/Public/Documents/Tessarin/TsDLM/TsDLMUpdater.log"
show "analytics events ((LocalAppData)\\Tessarin\\UsageUtil\\events.jsonl)" \
  "$USER_DIR/AppData/Local/Tessarin/UsageUtil/events.jsonl"
show "what the download manager received (its record file)" \
  "$DRIVE/TsDLMDemo/dlm-record.txt"
show "how the installer was started (its record file)" \
  "$DRIVE/TsDLMDemo/installer-record.txt"
echo
echo "---- requests the update server saw (GET /__control/requests; the first two are /check's)"
"$TSDLM_PYTHON" - "$SERVER_BASE/__control/requests" <<'EOF'
import json, sys, urllib.request
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
for request in json.load(opener.open(sys.argv[1], timeout=10)):
    headers = ", ".join(f"{name}: {value}" for name, value in request["headers"])
    print(f'{request["method"]} {request["path"]}  [{headers}]')
EOF
if [ "$PROXY" -eq 1 ]; then
  echo
  echo "---- requests the test proxy saw (GET /__proxy/requests)"
  "$TSDLM_PYTHON" - "http://127.0.0.1:$PROXY_PORT/__proxy/requests" <<'EOF'
import json, sys, urllib.request
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
for request in json.load(opener.open(sys.argv[1], timeout=10)):
    print(f'{request["method"]} {request["target"]}  '
          f'[Proxy-Authorization: {request["proxy_authorization"]}]')
EOF
fi
