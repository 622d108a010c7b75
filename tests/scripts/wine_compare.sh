#!/usr/bin/env bash
# The differential comparison of the Wine tests (tests/wine/compare_dumps.py)
# on hand-made dumps: scope, case and flags normalisation, accepted and
# unlisted differences.  Needs no Wine.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
compare=$here/../wine/compare_dumps.py
t=$(mktemp -d); trap 'rm -rf "$t"' EXIT
fails=0 passes=0
expect() {  # DESCRIPTION EXPECTED-RC GREP-PATTERN-OR-EMPTY ARGS...
  local what=$1 want=$2 pattern=$3; shift 3
  local out rc
  out=$(python3 "$compare" "$@" 2>&1); rc=$?
  if [ "$rc" != "$want" ] || { [ -n "$pattern" ] && ! grep -Eq -- "$pattern" <<<"$out"; }; then
    echo "FAIL: $what (rc $rc, want $want)"; echo "$out" | sed 's/^/    /'
    fails=$((fails + 1))
  else
    passes=$((passes + 1))
  fi
}

cat >"$t/scope" <<'S'
tree C:\KORVIX
files %SYSDIR%\DRIVERS\*.SYS
key HKCU\Software\Varentel
profile %WINDIR%\SYSTEM.INI
pending
S
cat >"$t/sim" <<'D'
winsim-dump 1
[files]
dir  attr=0x00000010 C:\KORVIX
file attr=0x00000020 size=3 fnv=0000000000000001 C:\KORVIX\A.DLL
file attr=0x00000020 size=3 fnv=0000000000000002 C:\WINDOWS\SYSTEM32\DRIVERS\P.SYS
file attr=0x00000020 size=3 fnv=0000000000000003 C:\WINDOWS\SYSTEM32\OTHER.DLL
[registry]
key HKCU\Software\Varentel
key HKCU\Software\Varentel\Keep
value HKCU\Software\Varentel\Keep\\"Value" REG_SZ "stays"
key HKLM\SOFTWARE\Other
[profiles]
profile SYSTEM.INI | [VCache]
profile SYSTEM.INI | MinFileCache=20480
[pending]
move \??\C:\WINDOWS\A.DL_ -> !\??\C:\WINDOWS\A.DLL
[devices]
[journal]
journal messagebox flags=0x00000000 caption="Varentel Installation" text="x"
journal exit 0
D
# The same state as Wine shows it: other case, other flags, files and keys
# outside the scope.
cat >"$t/wine" <<'D'
winsim-dump 1
[files]
dir  attr=0x00000010 C:\korvix
file attr=0x00000020 size=3 fnv=0000000000000001 C:\korvix\a.dll
file attr=0x00000020 size=3 fnv=0000000000000002 C:\windows\system32\drivers\p.sys
file attr=0x00000020 size=9 fnv=0000000000000009 C:\windows\system32\drivers\null.vxd
[registry]
key HKCU\Software\Varentel
key HKCU\Software\Varentel\Keep
value HKCU\Software\Varentel\Keep\\"Value" REG_SZ "stays"
key HKLM\Software\Wine
[profiles]
profile SYSTEM.INI | [VCache]
profile SYSTEM.INI | MinFileCache=20480
[pending]
move \??\C:\windows\a.dl_ -> !\??\C:\windows\a.dll
[devices]
[journal]
journal messagebox flags=? caption="Varentel Installation" text="x"
journal exit 0
D
: >"$t/none"
expect "equal in scope" 0 "" "$t/scope" "$t/sim" "$t/wine" "$t/none" s before

sed 's/size=3 fnv=0000000000000002/size=4 fnv=0000000000000004/' "$t/wine" >"$t/wine2"
expect "a changed driver is unlisted" 1 '^unlisted: s before \[files\] \+ file .*P\.SYS$' \
  "$t/scope" "$t/sim" "$t/wine2" "$t/none" s before

echo 's* | before | P\.SYS$ | driver differs for a reason' >"$t/acc"
expect "listed difference accepted" 0 '^accepted: .*\(driver differs for a reason\)$' \
  "$t/scope" "$t/sim" "$t/wine2" "$t/acc" s before
expect "rule of another phase does not apply" 1 "unlisted" \
  "$t/scope" "$t/sim" "$t/wine2" "$t/acc" s after

grep -v 'exit 0' "$t/wine" >"$t/wine3"
expect "journal difference found" 1 '\[journal\] - journal exit 0' \
  "$t/scope" "$t/sim" "$t/wine3" "$t/none" s before

# Profile lines keep their order: a swapped pair is a difference.
awk '/MinFileCache/{m=$0; next} {print} /\[VCache\]/ && !d {d=1}' "$t/wine" \
  | sed 's/^profile SYSTEM.INI | \[VCache\]$/profile SYSTEM.INI | MinFileCache=20480\nprofile SYSTEM.INI | [VCache]/' >"$t/wine4"
expect "profile order matters" 1 '\[profiles\]' "$t/scope" "$t/sim" "$t/wine4" "$t/none" s before

echo 'bad line without fields' >"$t/badacc"
expect "malformed accepted file is an error" 2 "expected SCENARIO" \
  "$t/scope" "$t/sim" "$t/wine" "$t/badacc" s before

# A line for one Wine platform applies only there.
echo '[win64] s* | before | P\.SYS$ | only wine64 shows this' >"$t/acc64"
expect "a win64 line accepts under wine64" 0 "accepted" \
  "$t/scope" "$t/sim" "$t/wine2" "$t/acc64" s before --platform win64
expect "a win64 line does not apply under 32-bit Wine" 1 "unlisted" \
  "$t/scope" "$t/sim" "$t/wine2" "$t/acc64" s before --platform win32
echo '[i386] * | * | x | y' >"$t/badplat"
expect "an unknown platform is an error" 2 "platform \[i386\]" \
  "$t/scope" "$t/sim" "$t/wine" "$t/badplat" s before

# Stale lines: one that matched nothing where its scenarios ran fails the
# run; one whose scenario or platform did not run is not judged.
cat >"$t/accrun" <<'A'
s* | before | P\.SYS$ | used
s* | after | P\.SYS$ | phase ran, nothing matched
other | * | P\.SYS$ | scenario never ran
[win64] * | * | P\.SYS$ | platform never ran
A
rec=$t/record
expect "recording run, before" 0 "" "$t/scope" "$t/sim" "$t/wine2" "$t/accrun" s before \
  --platform win32 --record "$rec"
expect "recording run, after" 0 "" "$t/scope" "$t/sim" "$t/wine" "$t/accrun" s after \
  --platform win32 --record "$rec"
expect "the unmatched line is stale" 1 "^stale: .*accrun:2 matched nothing in 1 comparisons \(s after\)" \
  --stale "$t/accrun" "$rec"
out=$(python3 "$compare" --stale "$t/accrun" "$rec" 2>&1)
if [ "$(grep -c '^stale:' <<<"$out")" = 1 ]; then passes=$((passes + 1)); else
  echo "FAIL: only line 2 is stale"; echo "$out" | sed 's/^/    /'; fails=$((fails + 1)); fi
head -1 "$t/accrun" >"$t/accused"
expect "no stale line" 0 "" --stale "$t/accused" "$rec"

echo "wine_compare: $passes passed, $fails failed"
[ "$fails" = 0 ]
