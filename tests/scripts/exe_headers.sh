#!/bin/bash
# Checks the Windows build as a file: a PE32 i386 GUI program that Windows
# 95 and NT 4.0 load, at most 64 KB, importing only from KERNEL32, USER32
# and ADVAPI32, and from them only functions that Windows 95 and NT 4.0
# export (win32-imports.txt beside this script names the first systems of
# each).  The optional libraries (SetupAPI, NewDev.dll, PSAPI) and the
# Toolhelp functions are looked up at run time and must never be imported:
# a missing import stops the program from loading at all, and an imported
# DLL is searched for beside the program first.  Its code, linked library
# code included, uses no instruction beyond the i386 and i387 (Windows 95
# runs on a 386DX, NT 4.0 on a 486).  Its application manifest and version
# resource are read back (pe_image.py beside this script).
# Prints the size, the imports per DLL, the instructions beyond the i386
# found, the manifest's points and the version.
# Exit 77 (skipped) when the exe has not been built.
set -u
SOURCE_DIR=${SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
EXE=${VARSETUP_EXE:-$SOURCE_DIR/build/windows/VARSETUP.EXE}
OBJDUMP=${OBJDUMP:-i686-w64-mingw32-objdump}
IMPORT_LIST=${IMPORT_LIST:-$SOURCE_DIR/tests/scripts/win32-imports.txt}
MAX_BYTES=65536

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

size=$(stat -c %s "$EXE")
[ "$size" -le "$MAX_BYTES" ] || fail "$size bytes, more than $MAX_BYTES"

allowed=" KERNEL32.DLL ADVAPI32.DLL USER32.DLL "
dlls=$(awk '/DLL Name:/ { print toupper($3) }' <<<"$headers")
[ -n "$dlls" ] || fail "no import table found"
for dll in $dlls; do
  case "$dll" in
    SETUPAPI.DLL|NEWDEV.DLL|PSAPI.DLL) fail "imports from $dll, which must be loaded at run time from the system directory" ;;
    *) case "$allowed" in *" $dll "*) ;; *) fail "imports from $dll" ;; esac ;;
  esac
done

# Imported names: the lines of the import tables (vma, hint, name), as
# "DLL function" with the DLL's base name in capitals.
imports=$(awk '/DLL Name:/ { dll = toupper($3); sub(/\.DLL$/, "", dll) }
               /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { print dll, $3 }' <<<"$headers")
[ -n "$imports" ] || fail "no imported functions found"
# PSAPI's functions also come as K32-prefixed kernel32 imports, which the
# older systems lack just the same.
for name in SetupDiGetClassDevsA SetupDiCreateDeviceInfoList SetupDiCallClassInstaller \
            UpdateDriverForPlugAndPlayDevicesA EnumProcesses EnumProcessModules \
            GetModuleFileNameExA CreateToolhelp32Snapshot Process32First Process32Next \
            IsWow64Process GetSystemWow64DirectoryA QueryFullProcessImageNameA; do
  hit=$(grep -E -- " (K32)?$name\$" <<<"$imports" | head -1)
  [ -z "$hit" ] || fail "imports $hit"
done
[ -f "$IMPORT_LIST" ] || fail "$IMPORT_LIST missing"

# Each import against the list: unknown, or first in a system after
# Windows 95 or NT 4.0, fails.
while read -r dll name; do
  entry=$(awk -v dll="$dll" -v name="$name" '$1 == dll && $2 == name { print $3, $4; exit }' \
          "$IMPORT_LIST" 2>/dev/null)
  if [ -z "$entry" ]; then
    fail "imports $dll $name, which $(basename "$IMPORT_LIST") does not list"
    continue
  fi
  read -r first9x firstNT <<<"$entry"
  case "$first9x" in 95) ;; *) fail "imports $dll $name, first in 9x family: $first9x" ;; esac
  case "$firstNT" in 3.1|3.5|3.51|4.0) ;; *) fail "imports $dll $name, first in NT family: $firstNT" ;; esac
done <<<"$imports"

# The code of .text (up to the constructor lists the linker puts after it),
# disassembled whole: an instruction of a later CPU raises an invalid-opcode
# fault on the machines the oldest systems ran on.  Beyond the i386 and
# i387: the 486's bswap, cmpxchg, xadd, invd, wbinvd, invlpg; the
# Pentium's cpuid, rdtsc, rdmsr, wrmsr, rdpmc, cmpxchg8b; the Pentium Pro's
# cmov, fcmov, fcomi, fucomi, ud2 and long nops; sysenter and syscall;
# every instruction on MMX, SSE or AVX registers; and bytes that are no
# instruction at all.
beyond_i386='^(cmov|fcmov|fcomi|fucomi|bswap|cmpxchg|xadd|invd|wbinvd|invlpg|cpuid|rdtsc|rdmsr|wrmsr|rdpmc|'
beyond_i386+='ud2|nopw|nopl|sysenter|sysexit|syscall|sysret|emms|femms|fxsave|fxrstor|fisttp|[lms]fence|'
beyond_i386+='clflush|prefetch|movnti|pause|endbr|popcnt|lzcnt|tzcnt|crc32|movbe|\(bad\))|%[xyz]?mm[0-9]'
if range=$(python3 "$(dirname "$0")/pe_image.py" code "$EXE"); then
  read -r start stop <<<"$range"
  code=$("$OBJDUMP" -d --no-show-raw-insn --start-address="$start" --stop-address="$stop" "$EXE" |
         awk -F'\t' 'NF >= 2 && $1 ~ /^ *[0-9a-f]+:$/ {
                        sub(/^(lock|rep[a-z]*|data16|addr16) +/, "", $2); print $1 "\t" $2 }')
  total=$(wc -l <<<"$code")
  offending=$(awk -F'\t' -v re="$beyond_i386" '$2 ~ re' <<<"$code")
  beyond=$(grep -c . <<<"$offending")
  echo "instructions beyond the i386 and i387: $beyond of $total"
  [ "$beyond" -eq 0 ] || { fail "$beyond instructions beyond the i386 and i387, among them:"
                           head -20 <<<"$offending"; }
  [ "$total" -gt 1000 ] || fail "only $total instructions disassembled"
else
  fail "cannot find the code of .text: $range"
fi

# The manifest and the version resource, against the version of the build.
version=$(awk -F= '/^CMAKE_PROJECT_VERSION:/ { print $2 }' "$(dirname "$EXE")/CMakeCache.txt" 2>/dev/null)
resources=$(python3 "$(dirname "$0")/pe_image.py" resources "$EXE" $version) ||
  fail "manifest or version resource"
echo "$resources"

echo "$(basename "$EXE"): $size bytes (at most $MAX_BYTES)"
for dll in $dlls; do
  base=${dll%.DLL}
  echo "  $dll: $(awk -v dll="$base" '$1 == dll { printf "%s ", $2 }' <<<"$imports")"
done
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "ok"
