#!/bin/bash
# The tools' command-line errors, one a row: the exit code and the words of
# the message that say what is wrong.  Nothing of an erroneous call may run
# the installer: the machine stays as it was.  CTest sets BINARY_DIR.
set -u
bin=$(cd "${BINARY_DIR:?}" && pwd)
work=$(mktemp -d /tmp/command-line-errors-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
m="$work/m"
"$bin/winsim" new "$m" --template winxp --payload v2 >/dev/null || { echo "FAIL: winsim new"; exit 1; }
(cd "$m" && find . -type f -print0 | sort -z | xargs -0 sha1sum) >"$work/before"
printf '[system]\nplatform=2\nversion=5.1\n\n[drives]\nC=fixed\n' >"$work/noprogram.ini"
mkdir "$work/bad" && printf '[system]\nplatform=2\nversion=6.1\nwindows=C:\\W\nsystem=C:\\W\\S\nprogram=C:\\P.EXE\n[drives]\nC=fixed\n[processes]\n8=C:\\X.EXE|64\n' >"$work/bad/machine.ini"

# CODE | MESSAGE (a fixed string of stderr) | COMMAND (words split at blanks, eval'd)
while IFS='|' read -r code message command; do
  [ -z "$code" ] && continue
  eval "set -- $command"
  "$@" >"$work/out" 2>"$work/err"
  got=$?
  if [ "$got" != "$code" ] || ! grep -qF -- "$message" "$work/err"; then
    echo "FAIL: $command: exit $got (expected $code), stderr:"; cat "$work/err"
    failures=$((failures + 1))
  fi
done <<EOF_TABLE
2|too many arguments: 3 given, the installer takes ARG1 and ARG2; the first extra one is 'c'|"$bin/varsetup" --machine "$m" a b c
2|--command-line gives the whole command line: no ARG1 or ARG2 with it (got a)|"$bin/varsetup" --machine "$m" --command-line '"C:\\x" y' a
2|unknown option -q (an ARG1 or ARG2 that starts with '-' goes after --)|"$bin/varsetup" --machine "$m" -q
2|unknown option --verbose|"$bin/varsetup" --machine "$m" --verbose
2|--machine DIR is required|"$bin/varsetup" a
2|--report takes text or json|"$bin/varsetup" --machine "$m" --report xml
2|--machine needs a value|"$bin/varsetup" --machine
2|machine.ini:10: process 8: a 64-bit process needs bits=64|"$bin/varsetup" --machine "$work/bad"
2|unknown template 'win3' (|"$bin/winsim" new "$work/n" --template win3
2|known: nt40, win10, win10-64|"$bin/winsim" new "$work/n" --template win3
2|--disc: $work holds the machine or lies inside it|"$bin/winsim" new "$work/n" --template win95 --disc "$work"
2|--payload: $work/n/drives holds the machine or lies inside it|"$bin/winsim" new "$work/n" --template win95 --payload "$work/n/drives"
2|--payload: $work/none is not a folder|"$bin/winsim" new "$work/n" --template win98 --payload "$work/none"
2|set: give at least one of the options|"$bin/winsim" set "$m"
2|--running-64: the machine is not a 64-bit Windows|"$bin/winsim" set "$m" --running-64 'C:\\K.EXE'
2|--no-disc: C is not a CD-ROM drive of the machine|"$bin/winsim" set "$m" --no-disc C
2|--read-only: C:\\NONE.TXT is not a file of the machine|"$bin/winsim" set "$m" --read-only 'C:\\NONE.TXT'
2|dump takes DIR, and 'extra' is one argument too many|"$bin/winsim" dump "$m" extra
2|diff takes A B (1 given)|"$bin/winsim" diff "$m"
2|set: unknown option --colour|"$bin/winsim" set "$m" --colour blue
EOF_TABLE

# The errors above left the machine alone.
(cd "$m" && find . -type f -print0 | sort -z | xargs -0 sha1sum) >"$work/after"
cmp -s "$work/before" "$work/after" || { echo "FAIL: an erroneous call changed the machine"; failures=$((failures + 1)); }
# An argument that starts with '-' is the installer's after --.
"$bin/varsetup" --machine "$m" --quiet -- -q >/dev/null 2>&1
[ $? = 0 ] || { echo "FAIL: varsetup -- -q did not run"; failures=$((failures + 1)); }
grep -q 'exit 0' "$m/journal.txt" || { echo "FAIL: the run after -- left no exit code"; failures=$((failures + 1)); }
"$bin/winsim" new "$work/fresh" --template winxp --payload v2 >/dev/null
cp "$work/noprogram.ini" "$work/fresh/machine.ini"
"$bin/varsetup" --machine "$work/fresh" 2>&1 | grep -q 'machine.ini:1: \[system\] needs version' ||
  { echo "FAIL: a machine.ini without program is not named at [system]"; failures=$((failures + 1)); }

[ "$failures" = 0 ] && echo "command-line errors: all rows passed"
exit $((failures > 0))
