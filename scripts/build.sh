#!/usr/bin/env bash
# Builds the shipped files into dist/: TsDLMUpdater.exe, UsageUtil.dll (and
# the proxy manager DLL with its header), plus the Windows tests and fixtures.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
cd "$TSDLM_ROOT"
if [ -z "${TSDLM_MINGW_DEPS:-}" ] || [ ! -f "${TSDLM_MINGW_DEPS}/.complete" ]; then
  bash scripts/setup.sh
  source scripts/env.sh
fi
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "${TSDLM_JOBS:-2}"
echo "build: shipped files in $TSDLM_ROOT/dist:"
ls -l dist/
