#!/usr/bin/env bash
# Builds everything (the Linux build over winsim, VARSETUP.EXE, and the same
# sources as a 64-bit exe for wine64) and runs every test.  Installs missing
# build dependencies first.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host
cmake --preset windows >/dev/null
cmake --build --preset windows
# The 64-bit build of the same sources, for the Wine tests where the kernel
# cannot run 32-bit programs.
cmake --preset wine64 >/dev/null && cmake --build --preset wine64
ctest --preset host
