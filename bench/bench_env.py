"""Shared set-up of the Wine benchmarks: where the mingw bench build and the
dist folder are, and the end-to-end harness and test servers on sys.path.
Import it before `harness`, `proxy_helpers` or the servers."""

import os
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
# The build the Wine here runs (bench/common.sh exports it via scripts/env.sh).
WIN_BUILD = os.environ.get("TSDLM_WIN_BUILD", "i686")
MINGW_BUILD = Path(os.environ.get("MINGW_BUILD") or REPO / "build" / f"bench-mingw-{WIN_BUILD}")
os.environ.setdefault("TSDLM_DIST", os.environ.get("DIST_DIR") or str(MINGW_BUILD / "dist"))
os.environ.setdefault("TSDLM_FIXTURES", str(MINGW_BUILD / "tests" / "fixtures"))
sys.path.insert(0, str(REPO / "tests" / "e2e"))
sys.path.insert(0, str(REPO / "tests" / "servers"))
