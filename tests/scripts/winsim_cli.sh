#!/bin/bash
# The winsim machine tools' command line: exit codes, and bad input that
# changes nothing.  CTest sets SOURCE_DIR and BINARY_DIR.
set -u
tool="${BINARY_DIR:?}/winsim"
[ -x "$tool" ] || { echo "missing $tool"; exit 1; }
work=$(mktemp -d /tmp/winsim-cli-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0

# expect CODE DESCRIPTION -- COMMAND...
expect() {
  local code=$1 what=$2
  shift 3
  "$@" >"$work/out" 2>"$work/err"
  local got=$?
  if [ "$got" != "$code" ]; then
    echo "FAIL: $what: exit $got, expected $code"; cat "$work/err"
    failures=$((failures + 1))
  fi
}
# A fingerprint of a directory tree: names and contents.
tree() { (cd "$1" && find . -print0 | sort -z | xargs -0 -r sha1sum 2>/dev/null; find . | sort); }
check() { [ "$1" = "$2" ] || { echo "FAIL: $3"; failures=$((failures + 1)); }; }

expect 0 "help" -- "$tool" --help
for command in new restart dump diff; do
  grep -q "winsim $command " "$work/out" || { echo "FAIL: help lacks $command"; failures=$((failures + 1)); }
done
expect 2 "no command" -- "$tool"
expect 2 "unknown command" -- "$tool" frobnicate
expect 2 "new without --template" -- "$tool" new "$work/m"
expect 2 "new with unknown template" -- "$tool" new "$work/m" --template no-such-template
[ ! -e "$work/m" ] || { echo "FAIL: unknown template created $work/m"; failures=$((failures + 1)); }
grep -q "unknown template" "$work/err" || { echo "FAIL: unclear error: $(cat "$work/err")"; failures=$((failures + 1)); }

expect 0 "new" -- "$tool" new "$work/m" --template win98
before=$(tree "$work/m")
expect 2 "new into a machine" -- "$tool" new "$work/m" --template winxp
check "$before" "$(tree "$work/m")" "new changed an existing machine"
mkdir "$work/other" && echo keep >"$work/other/file"
expect 2 "new into a non-empty folder" -- "$tool" new "$work/other" --template winxp
check "keep" "$(cat "$work/other/file")" "new touched a non-empty folder"
[ "$(ls "$work/other")" = file ] || { echo "FAIL: new left files in a non-empty folder"; failures=$((failures + 1)); }

expect 2 "dump with unknown option" -- "$tool" dump "$work/m" --verbose
expect 2 "dump with two machines" -- "$tool" dump "$work/m" "$work/m"
expect 2 "dump of a missing machine" -- "$tool" dump "$work/missing"
expect 0 "dump" -- "$tool" dump "$work/m" -o "$work/dump.txt"
head -1 "$work/dump.txt" | grep -qx "winsim-dump 1" || { echo "FAIL: dump header"; failures=$((failures + 1)); }
expect 0 "dump to the output" -- "$tool" dump "$work/m"
cmp -s "$work/out" "$work/dump.txt" || { echo "FAIL: dump -o and the output differ"; failures=$((failures + 1)); }
expect 0 "diff machine and its dump" -- "$tool" diff "$work/m" "$work/dump.txt"
check "" "$(cat "$work/out")" "diff of equal states printed something"

# A malformed machine: nothing reads or writes it.
cp -r "$work/m" "$work/bad"
echo "[nonsense]" >>"$work/bad/machine.ini"
before=$(tree "$work/bad")
expect 2 "restart of a malformed machine" -- "$tool" restart "$work/bad"
grep -q "machine.ini:" "$work/err" || { echo "FAIL: error does not name the file"; failures=$((failures + 1)); }
expect 2 "dump of a malformed machine" -- "$tool" dump "$work/bad"
expect 2 "diff with a malformed machine" -- "$tool" diff "$work/bad" "$work/m"
check "$before" "$(tree "$work/bad")" "a malformed machine was changed"
printf 'winsim-dump 1\n[files]\n' >"$work/short.txt"
expect 2 "diff with a truncated dump" -- "$tool" diff "$work/short.txt" "$work/m"
grep -q "short.txt:3:" "$work/err" || { echo "FAIL: dump error lacks file:line"; failures=$((failures + 1)); }

# A state that differs, and the restart.
expect 0 "restart" -- "$tool" restart "$work/m"
grep -qx restart "$work/m/journal.txt" || { echo "FAIL: restart not journalled"; failures=$((failures + 1)); }
expect 1 "diff after the restart" -- "$tool" diff "$work/dump.txt" "$work/m"
grep -qx "+ journal restart" "$work/out" || { echo "FAIL: diff lacks the journal line"; cat "$work/out"; failures=$((failures + 1)); }

[ "$failures" = 0 ] && echo "winsim command line: all checks passed"
exit $((failures > 0))
