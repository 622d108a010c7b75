#!/usr/bin/env bash
# Times a full installer run on a simulated machine with a realistic payload
# (tens of MB of component files and manuals) beside cp of the same bytes.
#   scripts/benchmark.sh [TEMPLATE]      (default winxp)
# Ends with: benchmark: full run <s> s, cp <s> s, ratio <x>
set -euo pipefail
cd "$(dirname "$0")/.."
template=${1:-winxp}
runs=${BENCH_RUNS:-3}
[ -x build/host/varsetup ] || { cmake --preset host >/dev/null && cmake --build --preset host >/dev/null; }

work=$(mktemp -d /tmp/varsetup-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

# Component sizes in KiB: drivers and DLLs of a few MB, manuals of ~10 MB.
declare -A sizes=(
  [PULSARIO.VXD]=900 [PULSBR16.DLL]=300 [PULSARIO.INF]=8 [PULSARIO.SYS]=1200
  [PULSARIO.DLL]=6000 [PULSARIO.EXE]=9000
  [WNASPI32.9x]=400 [WINASPI.9x]=200 [ASPIENUM.9x]=150 [APIX.9x]=200
  [ASPI32.NT]=500 [WNASPI32.NT]=400 [WINASPI.NT]=200 [WOWPOST.NT]=150
  [MAYA51USB.INF]=16 [CX_USB.INF]=16 [FTD2XX.DLL]=1500 [FTD2XXUN.EXE]=700 [FTD2XX.SYS]=900
)
disc_sizes=("OEM/KORVIXOEM.DLL:3000" "DATA/DOC/korvix-de.pdf:12000" "DATA/DOC/korvix-en.pdf:11000")

make_machine() {
  local m=$1
  build/host/winsim new "$m" --template "$template" --payload v2 --disc D >/dev/null
  for f in "${!sizes[@]}"; do
    [ -e "$m/drives/c/VARSETUP/$f" ] || continue
    head -c $((sizes[$f] * 1024)) /dev/urandom > "$m/drives/c/VARSETUP/$f"
  done
  for entry in "${disc_sizes[@]}"; do
    head -c $((${entry#*:} * 1024)) /dev/urandom > "$m/drives/d/${entry%%:*}"
  done
}

# The component files a run on this machine's family copies.
family_files() {
  if grep -q '^platform=1' "$1/machine.ini"; then
    echo PULSARIO.VXD PULSBR16.DLL pulsario.inf PULSARIO.DLL PULSARIO.EXE \
      WNASPI32.9x WINASPI.9x ASPIENUM.9x APIX.9x
  else
    echo PULSARIO.SYS PULSARIO.DLL PULSARIO.EXE ASPI32.NT WNASPI32.NT WINASPI.NT WOWPOST.NT
  fi
  echo MAYA51USB.INF CX_USB.INF FTD2XX.DLL FTD2XXUN.EXE FTD2XX.SYS
}

now() { date +%s.%N; }
best_run=""
best_cp=""
for i in $(seq "$runs"); do
  m=$work/m$i
  make_machine "$m"
  sync
  t0=$(now)
  build/host/varsetup --quiet --machine "$m" 'C:\Program Files\Korvix-Studio' korvix
  t1=$(now)
  # cp of the same bytes: every source the run copied, into one directory.
  out=$work/cp$i
  mkdir -p "$out"
  sync
  t2=$(now)
  (cd "$m/drives/c/VARSETUP" && cp $(family_files "$m") "$out"/)
  cp "$m/drives/d/OEM/KORVIXOEM.DLL" "$m"/drives/d/DATA/DOC/*.pdf "$out"/
  t3=$(now)
  run=$(echo "$t1 - $t0" | bc -l)
  copy=$(echo "$t3 - $t2" | bc -l)
  if [ -z "$best_run" ] || [ "$(echo "$run < $best_run" | bc -l)" = 1 ]; then best_run=$run; fi
  if [ -z "$best_cp" ] || [ "$(echo "$copy < $best_cp" | bc -l)" = 1 ]; then best_cp=$copy; fi
done
bytes=$(du -sb "$work/cp1" | cut -f1)
printf 'payload: %d bytes on %s, best of %d runs\n' "$bytes" "$template" "$runs"
printf 'benchmark: full run %.3f s, cp %.3f s, ratio %.2f\n' "$best_run" "$best_cp" "$(echo "$best_run / $best_cp" | bc -l)"
