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
rm -f build/host/fault_sweep/figures.txt build/host/crash_sweep/figures.txt build/host/wine_e2e.txt
ctest --preset host
# Every platform call of a full run failed once, per machine template; and
# every run ended after each of its calls, then started again.
cat build/host/fault_sweep/figures.txt build/host/crash_sweep/figures.txt
# The shipped exe as a file: instructions beyond the i386, its version, its size.
bash tests/scripts/exe_headers.sh | grep -E '^(instructions beyond|version:|VARSETUP\.EXE:)' || true
# The end-to-end runs under Wine: the platform used, the summary line and the
# accepted differences.
grep -E '^wine: |^  (accepted|winsim-only|skipped): ' build/host/wine_e2e.txt || true
# The unit suite again under AddressSanitizer and UBSan; the fault and crash
# sweeps, which repeat the same code paths thousands of times, and the script tests
# (exe headers, Wine), which test the Windows builds, are left to the host run.
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize -E 'FaultSweep|CrashSweep|^script[.]'
# Each libFuzzer harness for a short while (fuzz/run.sh SECONDS runs longer).
fuzz/run.sh "${FUZZ_SECONDS:-10}"
