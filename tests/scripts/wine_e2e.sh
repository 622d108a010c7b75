#!/usr/bin/env bash
# VARSETUP.EXE end to end under Wine, each scenario compared with the same
# run on a simulated machine (tests/wine/).  Exit 77 (skipped) only when Wine
# is not installed; installed but unable to run is a failure.  The output is
# kept in $BINARY_DIR/wine_e2e.txt, for test.sh to show the summary.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export SOURCE_DIR=${SOURCE_DIR:-$(cd "$here/../.." && pwd)}
export BINARY_DIR=${BINARY_DIR:-$SOURCE_DIR/build/host}
status=0
bash "$SOURCE_DIR/tests/wine/run.sh" "$@" 2>&1 | tee "$BINARY_DIR/wine_e2e.txt" || status=${PIPESTATUS[0]}
exit "$status"
