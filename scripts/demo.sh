#!/usr/bin/env bash
# The main job: one run of TsDLMUpdater.exe under Wine in a fresh prefix,
# then both log files and the run's analytics events.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
cd "$TSDLM_ROOT"

bash scripts/build.sh >/dev/null
DEMO="$TSDLM_ROOT/build/demo"
export WINEPREFIX
WINEPREFIX=$(scripts/wine-prefix.sh "$DEMO/prefix")
trap 'wineserver -k 2>/dev/null || true' EXIT

DRIVE="$WINEPREFIX/drive_c"
USER_DIR=$(find "$DRIVE/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n 1)

echo "demo: running TsDLMUpdater.exe in $WINEPREFIX"
start=$(date +%s.%N)
set +e
if [ -n "${DISPLAY:-}" ]; then
  wine "$TSDLM_ROOT/dist/TsDLMUpdater.exe" </dev/null >/dev/null 2>&1
else
  xvfb-run -a wine "$TSDLM_ROOT/dist/TsDLMUpdater.exe" </dev/null >/dev/null 2>&1
fi
rc=$?
set -e
end=$(date +%s.%N)
awk -v rc="$rc" -v s="$start" -v e="$end" 'BEGIN { printf "demo: exit code %d after %.2f s\n", rc, e - s }'

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
