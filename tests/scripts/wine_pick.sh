#!/usr/bin/env bash
# The Wine harness's platform pick (tests/wine/lib.sh), with stand-in loaders
# that answer as a machine whose kernel runs 32-bit programs, as one that runs
# only 64-bit programs, and as one where no Wine starts; the exe check that
# refuses to judge an exe of the other machine; and the loaders the WOW64
# scenarios use.  Needs no Wine, and never runs the machine's own.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export SOURCE_DIR=${SOURCE_DIR:-$(cd "$here/../.." && pwd)}
t=$(mktemp -d); trap 'rm -rf "$t"' EXIT
fails=0 passes=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

# Stand-ins: a loader that starts prints a version, one that cannot exits
# as the kernel's refusal does.
stub() {  # PATH works|refuses
  if [ "$2" = works ]; then
    printf '#!/bin/sh\necho wine-8.0\n' >"$1"
  else
    printf '#!/bin/sh\necho "%s: cannot execute binary file: Exec format error" >&2\nexit 126\n' "$1" >"$1"
  fi
  chmod +x "$1"
}
# The stand-in PATH holds the stubs and the few tools the pick runs, and
# nothing else: the machine's own Wine must never answer for a stand-in.
mkdir -p "$t/bin"
for tool in wineserver Xvfb; do stub "$t/bin/$tool" works; done
for tool in dirname timeout tail cp rm cat tr grep; do ln -s "$(command -v "$tool")" "$t/bin/$tool"; done

# One pick in a fresh shell, as run.sh makes it, with nothing of the pick
# inherited; prints "status mode arch machine windows_dir loader".
pick() {  # WINE32 WINE64 LD32 [VAR=VALUE...]
  local dir=$t/lib-$1-$2-$3
  mkdir -p "$dir"
  [ "$1" = none ] || stub "$dir/wine" "$1"
  [ "$2" = none ] || stub "$dir/wine64" "$2"
  stub "$dir/ld-linux.so.2" "$3"
  shift 3
  env -u WINDOWS_DIR -u WINELOADER PATH="$t/bin" WINE_LIBDIR="$dir" \
    LD_LINUX32="$dir/ld-linux.so.2" "$@" "$BASH" -c '
    set -u
    . "$SOURCE_DIR/tests/wine/lib.sh"
    status=0; wine_status || status=$?
    echo "$status ${WINE_MODE:--} ${WINE_ARCH:--} ${WINE_EXE_MACHINE:--} ${WINDOWS_DIR:-unset} ${WINELOADER:--}"'
}

expect_pick() {  # DESCRIPTION EXPECTED WINE32 WINE64 LD32 [VAR=VALUE...]
  local what=$1 want=$2 got
  shift 2
  got=$(pick "$@" 2>&1)
  if [ "$got" = "$want" ]; then passes=$((passes + 1)); else fail "$what: got '$got', want '$want'"; fi
}

b=$SOURCE_DIR/build
expect_pick "kernel runs 32-bit programs: the i686 build under 32-bit Wine" \
  "0 32 win32 i386 $b/windows -" works works works
expect_pick "kernel runs 64-bit programs only: the 64-bit build under wine64" \
  "0 64 win64 x86-64 $b/wine64 $t/lib-refuses-works-refuses/wine64" refuses works refuses
expect_pick "WINE_FORCE_64 on a 32-bit capable kernel" \
  "0 64 win64 x86-64 $b/wine64 $t/lib-works-works-works/wine64" works works works WINE_FORCE_64=1
expect_pick "the build folders can be chosen per branch" \
  "0 32 win32 i386 /x32 -" works works works WINDOWS_DIR32=/x32 WINDOWS_DIR64=/x64
expect_pick "no Wine starts: installed but unusable is a failure" \
  "2 - - - unset -" refuses refuses refuses
expect_pick "wine64 only, and it starts" \
  "0 64 win64 x86-64 $b/wine64 $t/lib-none-works-refuses/wine64" none works refuses
# A wine found on PATH (a Wine installed elsewhere) stands in for the
# 32-bit loader; the only one the pick can find here is the stand-in.
mkdir -p "$t/onpath"; stub "$t/onpath/wine" works
expect_pick "no 32-bit loader in the library folder, a wine on PATH that starts" \
  "0 32 win32 i386 $b/windows -" none works refuses PATH="$t/onpath:$t/bin"

# Not installed at all: status 1, which run.sh turns into a skip.
mkdir -p "$t/bare"; ln -s "$(command -v dirname)" "$t/bare/dirname"
got=$(env PATH="$t/bare" WINE_LIBDIR="$t/empty" /bin/bash -c \
  '. "$SOURCE_DIR/tests/wine/lib.sh"; wine_status; echo "$? $WINE_REASON"' 2>&1)
case $got in "1 not installed: wineserver Xvfb wine"*) passes=$((passes + 1)) ;;
  *) fail "nothing installed: got '$got'" ;; esac

# The exe check: the machine read from the PE header must be the one the
# picked Wine runs, and the note names file, machine and size.
pe() {  # FILE MACHINE-BYTES (two bytes, little-endian, as printf escapes)
  { printf 'MZ'; head -c 58 /dev/zero; printf '\x40\x00\x00\x00'; printf 'PE\0\0'; printf "$2"
    head -c 100 /dev/zero; } >"$1"
}
mkdir -p "$t/exe32" "$t/exe64" "$t/junk"
pe "$t/exe32/VARSETUP.EXE" '\x4c\x01'
pe "$t/exe64/VARSETUP.EXE" '\x64\x86'
head -c 300 /dev/zero >"$t/junk/VARSETUP.EXE"
note() {  # DIR MACHINE
  bash -c '. "$SOURCE_DIR/tests/wine/lib.sh"; WINDOWS_DIR=$1 WINE_EXE_MACHINE=$2
    if wine_exe_note; then echo "ok $EXE_NOTE"; else echo "refused $WINE_REASON"; fi' _ "$1" "$2"
}
expect_note() {  # DESCRIPTION EXPECTED DIR MACHINE
  local got; got=$(note "$3" "$4")
  if [ "$got" = "$2" ]; then passes=$((passes + 1)); else fail "$1: got '$got', want '$2'"; fi
}
expect_note "i386 exe for 32-bit Wine" "ok VARSETUP.EXE, i386, 170 bytes" "$t/exe32" i386
expect_note "x86-64 exe for wine64" "ok VARSETUP.EXE, x86-64, 170 bytes" "$t/exe64" x86-64
expect_note "x86-64 exe where 32-bit Wine was picked" \
  "refused $t/exe64/VARSETUP.EXE is x86-64; the picked Wine runs i386 programs" "$t/exe64" i386
expect_note "not a PE file" \
  "refused $t/junk/VARSETUP.EXE is not a PE file; the picked Wine runs x86-64 programs" "$t/junk" x86-64
expect_note "missing exe" "refused $t/none/VARSETUP.EXE is missing" "$t/none" i386

# The WOW64 scenarios' loaders, with stand-ins that log how they are called:
# the program under the 32-bit loader, the drive types imported by the
# 64-bit loader's regedit (a 32-bit regedit would put them in Wow6432Node).
w=$t/wow64; mkdir -p "$w/sdir" "$w/prefix/drive_c/harness"
for loader in wine wine64; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$loader" "$w/calls" >"$w/$loader"; chmod +x "$w/$loader"
done
got=$(env -u WINELOADER PATH="$t/bin" WINE_LIBDIR="$w" "$BASH" -c '
  . "$SOURCE_DIR/tests/wine/lib.sh"; . "$SOURCE_DIR/tests/wine/scenarios/80-wow64.sh"
  WINE_BIN=$WINE_LIBDIR/wine64 WINE_ARCH=win32 SDIR=$1 PREFIX=$2
  wow64_loaders
  prefix_reg "HKLM\Software\Wine\Drives" e: REG_SZ cdrom
  flush_prefix_reg
  echo "$WINE_ARCH ${WINE_BIN##*/} ${WINELOADER:--}"; cat "$WINE_LIBDIR/calls"
  tr -d "\r" <"$2/drive_c/harness/prefix.reg" | grep -A1 Drives' _ "$w/sdir" "$w/prefix" 2>&1)
want='win64 wine -
wine64 regedit /S C:\harness\prefix.reg
[HKEY_LOCAL_MACHINE\Software\Wine\Drives]
"e:"="cdrom"'
if [ "$got" = "$want" ]; then passes=$((passes + 1)); else fail "WOW64 loaders: got '$got', want '$want'"; fi

echo "wine pick: $passes passed, $fails failed"
[ "$fails" = 0 ]
