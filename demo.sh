#!/usr/bin/env bash
# The main job: runs the installer on a bundled Windows 98, Windows XP and
# 64-bit Windows 10 machine (simulated), as the application's setup would
# start it, and shows what it changed and what it did not do; then restarts
# each machine and shows what the restart completed.  Installs the build dependencies and builds the Linux tools
# first.  The machines are left in build/demo/ for a closer look.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh --no-wine >/dev/null
cmake --preset host >/dev/null
cmake --build --preset host >/dev/null

app='C:\Program Files\Korvix-Studio'
manuals=korvix
rm -rf build/demo
mkdir -p build/demo
status=0
for template in ${DEMO_TEMPLATES:-win98 winxp win10-64}; do
  machine=build/demo/$template
  build/host/winsim new "$machine" --template "$template" --payload v2 --disc D >/dev/null
  echo "=================================================================="
  echo "$template: VARSETUP.EXE \"$app\" $manuals"
  echo "=================================================================="
  code=0
  build/host/varsetup --machine "$machine" "$app" "$manuals" || code=$?
  [ "$code" -eq 0 ] || status=1
  echo
  echo "---- $template: what the restart completed"
  build/host/winsim restart "$machine" --report text
  echo
done
echo "machines left in build/demo/ (build/host/winsim dump build/demo/<name>)"
exit $status
