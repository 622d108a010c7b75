#!/bin/bash
# The preview's reports, one case a row: a machine made with winsim new and
# winsim set (and a file moved by hand where no option does it), a run of
# varsetup, and the lines its text report must hold.  Every JSON report of
# the table must parse, carry its format and say the same Not done lines.
# CTest sets BINARY_DIR.
set -u
bin=$(cd "${BINARY_DIR:?}" && pwd)
work=$(mktemp -d /tmp/preview-reports-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
app='C:\Program Files\Korvix-Studio'
sjis=$(printf '\x83\x5c\x83\x74\x83\x67')  # "ソフト" in Shift-JIS: its first character ends in 0x5C

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# case NAME TEMPLATE PREPARATION EXPECTED... : PREPARATION runs in the
# machine's directory m ($bin/winsim and $bin/varsetup at hand); ARGS holds
# varsetup's arguments after the machine.
run_case() {
  local name=$1 template=$2 prep=$3
  shift 3
  local m="$work/$name"
  "$bin/winsim" new "$m" --template "$template" --payload v2 --disc D >/dev/null || { fail "$name: new"; return; }
  ARGS=("$app" korvix)
  (cd "$work" && m="$m" eval "$prep") >"$work/$name.prep" 2>&1 || { fail "$name: preparation"; cat "$work/$name.prep"; return; }
  [ -f "$work/$name.args" ] && mapfile -t ARGS <"$work/$name.args"
  cp -r "$m" "$m.j"
  "$bin/varsetup" --machine "$m" -- "${ARGS[@]}" >"$work/$name.txt" 2>&1
  "$bin/varsetup" --machine "$m.j" --report json -- "${ARGS[@]}" >"$work/$name.json" 2>&1
  for want in "$@"; do
    grep -qF -- "$want" "$work/$name.txt" || { fail "$name: report lacks: $want"; cat "$work/$name.txt"; }
  done
  python3 - "$work/$name.json" "$work/$name.txt" <<'PY' || fail "$name: JSON report"
import json, sys
report = json.load(open(sys.argv[1], encoding="utf-8"))
assert report["format"] == {"name": "winsim-changes", "version": 2}, report["format"]
text = open(sys.argv[2], encoding="utf-8").read()
section = text.split("Not done\n")[1].split("Exit code")[0] if "Not done\n" in text else ""
lines = [l[2:] for l in section.splitlines()]
assert lines == ["%s: %s" % (n["step"], n["reason"]) for n in report["notDone"]], (lines, report["notDone"])
PY
}
args() { printf '%s\n' "$@" >"$work/$name.args"; }

name=clean run_case clean win98 ''
grep -q "^Not done" "$work/clean.txt" && fail "clean: a Not done section on a complete run"

name=missing run_case missing win98 'rm "$m/drives/c/VARSETUP/APIX.9x" "$m/drives/c/VARSETUP/FTD2XX.SYS"' \
  'ASPI layer, APIX.9x: missing component file C:\VARSETUP\APIX.9x' \
  'USB packages, FTD2XX.SYS: missing component file C:\VARSETUP\FTD2XX.SYS'
name=nodisc run_case nodisc win98 '"$bin/winsim" set "$m" --no-disc D' \
  'disc extras, KORVIXOEM.DLL: no disc in any CD-ROM drive (D:)' \
  'disc extras, korvix-en.pdf: no disc in any CD-ROM drive (D:)'
name=noargs run_case noargs winxp 'args' \
  'disc extras: not asked for: no application folder on the command line (argument 1)'
name=noapp run_case noapp winxp 'args "C:\Nowhere" k' \
  'disc extras, KORVIXOEM.DLL: application folder C:\Nowhere absent'
name=aspi run_case aspi winxp 'echo old >"$m/drives/c/WINDOWS/system32/drivers/ASPI32.SYS"' \
  'ASPI layer: already installed: C:\WINDOWS\system32\Drivers\ASPI32.SYS exists'
name=running run_case running win10-64 '"$bin/winsim" set "$m" --running-64 "$app\\KORVIX.EXE"' \
  'every step: the application is running (its message box was shown); nothing was changed'
name=wow64 run_case wow64 win10-64 '' \
  'realtime audio kernel, device node: not installed: SetupDiCallClassInstaller(DIF_REGISTERDEVICE) failed: refused to a 32-bit program on 64-bit Windows (error 0xE0000235)' \
  'running-application guard: image not read of process 4 System, 104 Registry, 388 smss.exe' \
  'replace C:\Windows\SysWOW64\WNASPI32.OLD <- C:\Windows\SysWOW64\WNASPI32.DLL (live file, 67 bytes) [pending]' \
  'replace C:\Windows\SysWOW64\Drivers\ASPI32.OLD <- C:\Windows\SysWOW64\Drivers\ASPI32.SYS (no file there now) [pending]' \
  'replace C:\Windows\SysWOW64\WNASPI32.DLL <- C:\Windows\SysWOW64\WNASPI32.NT (staged, 73 bytes) [pending]'
name=folder run_case folder winxp '"$bin/winsim" set "$m" --folder "C:\WINDOWS\system32\PULSARIO.EX"' \
  'realtime audio kernel, PULSARIO.EXE: a folder stands at C:\WINDOWS\system32\PULSARIO.EX'
name=inuse run_case inuse winxp 'echo x >"$m/drives/c/WINDOWS/system32/FTD2XX.DLL" && "$bin/winsim" set "$m" --in-use "C:\WINDOWS\system32\FTD2XX.DLL"' \
  'USB packages, FTD2XX.DLL: C:\WINDOWS\system32\FTD2XX.DLL is in use'
name=registry run_case registry winxp 'sed -i "s/^\[registry-denied\]\r\?$/&\nHKLM\\\\SYSTEM\\\\CurrentControlSet\\\\Services\\\\Aspi32/" "$m/machine.ini"' \
  'registry: key HKLM\SYSTEM\CurrentControlSet\Services\Aspi32 not opened for writing: access denied (error 5); its values were not written'
name=profile run_case profile win98 '"$bin/winsim" set "$m" --read-only "C:\WINDOWS\SYSTEM.INI"' \
  'System.ini [VCache] MinFileCache: write refused: access denied (error 5); the run ended there and skipped its remaining steps'
name=sjis run_case sjis winxp-ja 'args "C:\Program Files\\'"$sjis"'" k' \
  'disc extras, KORVIXOEM.DLL: application folder C:\Program Files\ソフト absent'

# Two identical previews give identical reports, the error box's address
# included.
"$bin/winsim" new "$work/again" --template win98 --payload v2 --disc D >/dev/null
"$bin/winsim" set "$work/again" --read-only 'C:\WINDOWS\SYSTEM.INI' >/dev/null
"$bin/varsetup" --machine "$work/again" -- "$app" korvix >"$work/again.txt"
cmp -s "$work/profile.txt" "$work/again.txt" || { fail "two identical previews differ"; diff "$work/profile.txt" "$work/again.txt"; }

# A second 9x run finds its lines pending and leaves them, except one that
# another program's later line (added by hand) would take away again: that
# line goes after it, and the report shows it as it moved.
printf 'C:\\WINDOWS\\SYSTEM\\WINASPI.BAK=C:\\WINDOWS\\SYSTEM\\WINASPI.DLL\r\n' >>"$work/clean/drives/c/WINDOWS/Wininit.ini"
"$bin/varsetup" --machine "$work/clean" -- "$app" korvix >"$work/second.txt"
grep -qF 'WININIT.INI - C:\WINDOWS\SYSTEM\WINASPI.DLL=C:\WINDOWS\SYSTEM\WINASPI.9x' "$work/second.txt" &&
  grep -qF 'WININIT.INI + C:\WINDOWS\SYSTEM\WINASPI.DLL=C:\WINDOWS\SYSTEM\WINASPI.9x' "$work/second.txt" ||
  { fail "second run: WININIT.INI lines not shown"; cat "$work/second.txt"; }

# The restart's moves that did nothing: a staged file gone, a read-only target.
rm "$work/clean/drives/c/WINDOWS/SYSTEM/PULSARIO.EX"
echo old >"$work/clean/drives/c/WINDOWS/SYSTEM/PULSARIO.DLL"
"$bin/winsim" set "$work/clean" --read-only 'C:\WINDOWS\SYSTEM\PULSARIO.DLL' >/dev/null
"$bin/winsim" restart "$work/clean" --report text >"$work/restart.txt"
for want in 'C:\WINDOWS\SYSTEM\PULSARIO.EXE <- C:\WINDOWS\SYSTEM\PULSARIO.EX [WININIT.INI]: source missing' \
            'C:\WINDOWS\SYSTEM\PULSARIO.DLL <- C:\WINDOWS\SYSTEM\PULSARIO.DL [WININIT.INI]: target read-only'; do
  grep -qF -- "$want" "$work/restart.txt" || { fail "restart report lacks: $want"; cat "$work/restart.txt"; }
done

[ "$failures" = 0 ] && echo "preview reports: all cases passed"
exit $((failures > 0))
