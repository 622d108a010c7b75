#!/usr/bin/env bash
# Runs every end-to-end scenario of tests/wine/scenarios under Wine, each
# also on a simulated machine, and prints the summary line
#   wine: <n> scenarios, <n> checks passed, <n> failed, <n> accepted differences
# followed by the accepted differences.  A line of accepted-differences.txt
# that matched nothing although scenarios it names ran is "stale" and fails
# the run.
#   run.sh [SCENARIO-FUNCTION...]   only these (default: all)
# Environment: SOURCE_DIR, BINARY_DIR (the host build: varsetup, winsim),
# WINDOWS_DIR32 / WINDOWS_DIR64 (the Windows build: VARSETUP.EXE, tools/;
# by default build/windows under 32-bit Wine, build/wine64 under wine64),
# KEEP_WINE_WORK=1
# keeps the work folder, WINE_FORCE_64=1 uses wine64 even where 32-bit
# programs run, SIM_ONLY=1 runs only the winsim half of
# each scenario and checks the expectations there (to try the scenarios on a
# machine where Wine cannot run; it proves nothing about Wine).
# Exit: 0 all passed, 1 a check failed or Wine is installed but cannot
# run, 77 Wine is not installed.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

SCENARIO_LIST=()
WINSIM_ONLY=()
SKIPPED=()
for f in "$HERE_WINE"/scenarios/*.sh; do . "$f"; done
[ $# -gt 0 ] && SCENARIO_LIST=("$@")

if [ -n "${SIM_ONLY:-}" ]; then
  log "wine: SIM_ONLY: the Wine half of every scenario is left out"
  WINDOWS_DIR=${WINDOWS_DIR32:-$SOURCE_DIR/build/windows}
else
  status=0
  wine_status || status=$?
  case $status in
    0) echo "$PLATFORM_NOTE" ;;
    1) echo "wine: skipped: $WINE_REASON"; exit 77 ;;
    *) echo "wine: FAILED: $WINE_REASON"; exit 1 ;;  # installed, so it must run
  esac
fi

missing=()
for f in "$WINDOWS_DIR/VARSETUP.EXE" "$WINDOWS_DIR/tools/watcher.exe" \
         "$WINDOWS_DIR/tools/winedump.exe" "$WINDOWS_DIR/tools/dummyapp.exe" \
         "$BINARY_DIR/varsetup" "$BINARY_DIR/winsim"; do
  [ -n "${SIM_ONLY:-}" ] && [[ $f == "$WINDOWS_DIR"/tools/* ]] && continue
  [ -e "$f" ] || missing+=("$f")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "wine: missing build outputs (cmake --build --preset host, and --preset windows or --preset wine64): ${missing[*]}"
  exit 1
fi
# The exe judged must be the one the picked Wine runs; the summary names it.
EXE_NOTE=
if ! wine_exe_note; then
  echo "wine: FAILED: $WINE_REASON"
  exit 1
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/wine-e2e.XXXXXX")
cleanup() {
  [ -n "${PREFIX:-}" ] && [ -d "$PREFIX" ] && stop_server "$PREFIX"
  [ -n "${TEMPLATE:-}" ] && [ -d "$TEMPLATE" ] && stop_server "$TEMPLATE"
  stop_xvfb
  if [ -n "${KEEP_WINE_WORK:-}" ]; then log "wine: work kept in $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

start=$SECONDS
start_xvfb
make_template
ACCEPTED_RECORD=$WORK/accepted-use.txt
for scenario in "${SCENARIO_LIST[@]}"; do
  "$scenario" || check "scenario ran to its end" false
done
check_stale_accepted

echo "wine: $SCENARIOS scenarios, $CHECKS_PASSED checks passed, $CHECKS_FAILED failed, ${#ACCEPTED_SEEN[@]} accepted differences ($EXE_NOTE)"
for line in "${ACCEPTED_SEEN[@]}"; do echo "  accepted: $line"; done
for line in "${STALE_SEEN[@]}"; do echo "  stale: $line"; done
for line in "${WINSIM_ONLY[@]}"; do echo "  winsim-only: $line"; done
for line in "${SKIPPED[@]}"; do echo "  skipped: $line"; done
for line in "${FAILURES[@]}"; do echo "  failed: $line"; done
log "wine: $((SECONDS - start)) s"
[ "$CHECKS_FAILED" = 0 ]
