#!/bin/bash
# Checks the headers and the import table of the Windows build: a PE32 i386
# GUI program that Windows 95 and NT 4.0 load, importing only system DLLs
# that every supported system has.  The optional libraries (NewDev.dll, PSAPI)
# and the Toolhelp functions are looked up at run time and must never be
# imported: a missing import stops the program from loading at all.
# Exit 77 (skipped) when the exe has not been built.
set -u
SOURCE_DIR=${SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
EXE=${VARSETUP_EXE:-$SOURCE_DIR/build/windows/VARSETUP.EXE}
OBJDUMP=${OBJDUMP:-i686-w64-mingw32-objdump}

if [ ! -f "$EXE" ]; then
  echo "skip: $EXE not built (cmake --preset windows && cmake --build --preset windows)"
  exit 77
fi
if ! command -v "$OBJDUMP" >/dev/null; then
  echo "FAIL: $OBJDUMP not found"
  exit 1
fi
headers=$("$OBJDUMP" -p "$EXE") || { echo "FAIL: $OBJDUMP cannot read $EXE"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
field() { awk -v name="$1" '$1 == name { print $2; exit }' <<<"$headers"; }

grep -q 'file format pei-i386' <<<"$headers" || fail "not an i386 PE image"
[ "$(field Magic)" = 010b ] || fail "optional header magic $(field Magic), want 010b (PE32)"
[ "$(field Subsystem)" = 00000002 ] || fail "subsystem $(field Subsystem), want 2 (Windows GUI)"
for part in Subsystem OSystem; do
  major=$(field "Major${part}Version")
  minor=$(field "Minor${part}Version")
  [ "$major.$minor" = 4.0 ] || fail "${part} version $major.$minor, want 4.0"
done

allowed=" KERNEL32.dll ADVAPI32.dll USER32.dll SETUPAPI.dll msvcrt.dll "
dlls=$(awk '/DLL Name:/ { print $3 }' <<<"$headers")
[ -n "$dlls" ] || fail "no import table found"
for dll in $dlls; do
  case "$allowed" in
    *" $dll "*) ;;
    *) fail "imports from $dll" ;;
  esac
done

# Imported names: the lines of the import tables (vma, hint, name).
imports=$(awk '/DLL Name:/ { dll = $3 } /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { print dll, $3 }' <<<"$headers")
[ -n "$imports" ] || fail "no imported functions found"
# PSAPI's functions also come as K32-prefixed kernel32 imports, which the
# older systems lack just the same.
for name in UpdateDriverForPlugAndPlayDevicesA EnumProcesses EnumProcessModules \
            GetModuleFileNameExA CreateToolhelp32Snapshot Process32First Process32Next \
            IsWow64Process GetSystemWow64DirectoryA QueryFullProcessImageNameA; do
  hit=$(grep -E -- " (K32)?$name\$" <<<"$imports" | head -1)
  [ -z "$hit" ] || fail "imports $hit"
done

echo "VARSETUP.EXE: $(stat -c %s "$EXE") bytes, imports: $(tr '\n' ' ' <<<"$dlls")"
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "ok"
