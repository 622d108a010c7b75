#!/usr/bin/env bash
# VARSETUP.EXE end to end under Wine, each scenario compared with the same
# run on a simulated machine (tests/wine/).  Exit 77 (skipped) only when Wine
# is not available.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export SOURCE_DIR=${SOURCE_DIR:-$(cd "$here/../.." && pwd)}
export BINARY_DIR=${BINARY_DIR:-$SOURCE_DIR/build/host}
export WINDOWS_DIR=${WINDOWS_DIR:-$(dirname "$BINARY_DIR")/windows}
exec bash "$SOURCE_DIR/tests/wine/run.sh" "$@"
