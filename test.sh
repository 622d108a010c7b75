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
rm -f build/host/fault_sweep/figures.txt
ctest --preset host
# Every platform call of a full run failed once, per machine template.
cat build/host/fault_sweep/figures.txt
# The unit suite again under AddressSanitizer and UBSan; the fault sweep,
# which repeats the same code paths some 1300 times, is left to the host run.
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize -E FaultSweep
# Each libFuzzer harness for a short while (fuzz/run.sh SECONDS runs longer).
fuzz/run.sh "${FUZZ_SECONDS:-10}"
