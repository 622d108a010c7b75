#!/usr/bin/env bash
# Builds everything (the Linux build over winsim and VARSETUP.EXE) and runs
# every test.  Installs missing build dependencies first.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset host
