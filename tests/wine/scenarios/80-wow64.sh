# The 32-bit program on 64-bit Windows: the i686 VARSETUP.EXE in a win64
# prefix, where it runs under WOW64, compared with winsim's 64-bit Windows 10
# machine.  The prefix has SysWOW64\drivers (as Windows has it), a 64-bit
# WNASPI32.DLL in the native System32 and a 32-bit one in SysWOW64.  The
# harness tools are the 64-bit ones (build/wine64): the dump then reads the
# native System32 and registry, and the dummy application is a 64-bit
# KORVIX.EXE.  This needs 32-bit and 64-bit Wine and both Windows builds;
# where the kernel cannot run 32-bit programs the scenarios are skipped and
# say why.  (User-mode emulation is no way round that: under qemu-i386 the
# 32-bit loader runs a program in an existing win64 prefix, but making the
# prefix's 32-bit half needs the kernel to start 32-bit loaders by itself.)

WOW64_TOOLS=${WINDOWS_DIR64:-$SOURCE_DIR/build/wine64}/tools
WOW64_PROGRAM_DIR=${WINDOWS_DIR32:-$SOURCE_DIR/build/windows}
WOW64_TEMPLATE=

# Prints why the scenarios cannot run here; false when they can.
wow64_unavailable() {
  [ -n "${SIM_ONLY:-}" ] && return 1
  if [ "$WINE_MODE" != 32 ]; then
    echo "32-bit Wine is not used here (${WINE_FORCE_64:+WINE_FORCE_64 is set}${WINE_FORCE_64:-32-bit programs cannot run on this kernel}), and WOW64 runs the i686 program with 32-bit Wine"
    return 0
  fi
  [ -x "${WINE_LIBDIR:-/usr/lib/wine}/wine64" ] || { echo "wine64 is not installed (a win64 prefix needs it)"; return 0; }
  local f
  for f in "$WOW64_PROGRAM_DIR/VARSETUP.EXE" "$WOW64_TOOLS/winedump.exe" \
           "$WOW64_TOOLS/watcher.exe" "$WOW64_TOOLS/dummyapp.exe"; do
    [ -e "$f" ] || { echo "missing $f (cmake --build --preset windows and --preset wine64)"; return 0; }
  done
  return 1
}

make_wow64_template() {
  WOW64_TEMPLATE=$WORK/template-wow64
  if [ -n "${SIM_ONLY:-}" ]; then
    cp -a "$TEMPLATE" "$WOW64_TEMPLATE"
    return 0
  fi
  log "wine: making the win64 template prefix"
  in_prefix "$WOW64_TEMPLATE" "$WINE_BIN" wineboot -i >"$WORK/template-wow64.log" 2>&1 || {
    log "wineboot -i (win64) failed"; tail -5 "$WORK/template-wow64.log" >&2; return 1; }
  in_prefix "$WOW64_TEMPLATE" "$WINE_BIN" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  mkdir -p "$WOW64_TEMPLATE/drive_c/windows/system" "$WOW64_TEMPLATE/drive_c/windows/syswow64/drivers" \
           "$WOW64_TEMPLATE/drive_c/harness"
  cp "$WOW64_TOOLS/watcher.exe" "$WOW64_TOOLS/winedump.exe" "$WOW64_TOOLS/dummyapp.exe" \
     "$WOW64_TEMPLATE/drive_c/harness/"
  cp "$DUMPSCOPE" "$WOW64_TEMPLATE/drive_c/harness/dumpscope.txt"
  # Wine's placeholder files of its built-in ASPI DLLs go: each scenario
  # puts its own in both system folders, on both machines.
  find "$WOW64_TEMPLATE/drive_c/windows" -maxdepth 2 \( -iname wnaspi32.dll -o -iname winaspi.dll \) -delete
  wait_server "$WOW64_TEMPLATE"
}

# The loaders of a win64 prefix.  The 32-bit loader starts the i686 program
# and hands 64-bit programs on to wine64 itself.  But a 32-bit regedit
# writes HKLM\Software into Wow6432Node, where the 64-bit parts of Wine
# never read the drive types (HKLM\Software\Wine\Drives): the scenario's
# registry values go through the 64-bit loader's regedit, and a new
# session reads them (run_setup restarts the server after the import).
wow64_loaders() {
  local libdir=${WINE_LIBDIR:-/usr/lib/wine}
  WINE_ARCH=win64 WINE_BIN=$libdir/wine REGEDIT_LOADER=$libdir/wine64
  unset WINELOADER
}

# Both sides: the win64 prefix and winsim's win10-64 machine, named as Wine
# names the folders.
wow64_begin() {  # NAME
  WOW64_SAVED=("$WINE_ARCH" "$WINE_BIN" "$WINDOWS_DIR" "$TEMPLATE" "${WINELOADER:-}")
  wow64_loaders
  WINDOWS_DIR=$WOW64_PROGRAM_DIR
  [ -n "$WOW64_TEMPLATE" ] || make_wow64_template
  TEMPLATE=$WOW64_TEMPLATE
  scenario_begin "$1" win10-64
  prefix_reg 'HKCU\Software\Wine' Version REG_SZ win10
  local c=$MACHINE/drives/c d
  d=$(host_path "$c" 'Windows\SysWOW64')
  [ "$(basename "$d")" = syswow64 ] || mv "$d" "$(dirname "$d")/syswow64"
  mkdir -p "$(dirname "$d")/syswow64/drivers"
  printf '64-bit ASPI DLL\r\n' >"$SDIR/aspi64.dll"
  printf '32-bit ASPI DLL\r\n' >"$SDIR/aspi32.dll"
  put_file 'C:\windows\system32\WNASPI32.DLL' "$SDIR/aspi64.dll"
  put_file 'C:\windows\syswow64\WNASPI32.DLL' "$SDIR/aspi32.dll"
}

wow64_end() {
  scenario_end
  WINE_ARCH=${WOW64_SAVED[0]} WINE_BIN=${WOW64_SAVED[1]} WINDOWS_DIR=${WOW64_SAVED[2]}
  TEMPLATE=${WOW64_SAVED[3]} REGEDIT_LOADER=
  [ -n "${WOW64_SAVED[4]}" ] && export WINELOADER=${WOW64_SAVED[4]}
  return 0
}

# Both arguments and the restart: the native ASPI DLL untouched, the 32-bit
# one replaced (and kept as .OLD) and the new engine live in SysWOW64,
# nothing staged left, no box, exit code 0.
scenario_wow64_clean_install_win10() {
  local why
  if why=$(wow64_unavailable); then SKIPPED+=("wow64-clean-install-win10: $why"); return 0; fi
  wow64_begin wow64-clean-install-win10
  with_payload v2
  with_disc E
  put_dir 'C:\KORVIX'
  run_setup 'C:\KORVIX' korvix
  expect_exit 0
  expect_boxes 0
  restart
  local v2=$SOURCE_DIR/samples/payload/v2
  expect_file after 'C:\windows\system32\WNASPI32.DLL' "$SDIR/aspi64.dll"
  expect_file after 'C:\windows\syswow64\WNASPI32.DLL' "$v2/WNASPI32.NT"
  expect_file after 'C:\windows\syswow64\WNASPI32.OLD' "$SDIR/aspi32.dll"
  expect_file after 'C:\windows\syswow64\DRIVERS\ASPI32.SYS' "$v2/ASPI32.NT"
  expect_file after 'C:\windows\syswow64\PULSARIO.DLL' "$v2/PULSARIO.DLL"
  expect_file after 'C:\windows\syswow64\PULSARIO.EXE' "$v2/PULSARIO.EXE"
  expect_no_dump after '^file .* C:\\(windows|Windows|WINDOWS)\\.*\.(DL|EX|NT)$'
  expect_no_dump after '[Ss][Yy][Ss][Tt][Ee][Mm]32\\PULSARIO'
  wow64_end
}

# A 64-bit KORVIX.EXE running: the one box, exit code 0, nothing changed.
scenario_wow64_app_running_win10() {
  local why
  if why=$(wow64_unavailable); then SKIPPED+=("wow64-app-running-win10: $why"); return 0; fi
  wow64_begin wow64-app-running-win10
  put_reg 'HKCU\Software\Varentel\Engine' Window 'left'
  start_app KORVIX.EXE
  sed -i 's/^\(0x[0-9A-F]*=C:\\harness\\KORVIX\.EXE\)\r\?$/\1|64/' "$MACHINE/machine.ini"
  run_setup 'C:\KORVIX' Manual
  expect_exit 0
  expect_boxes 1
  expect_dump before '^journal messagebox .*caption="Varentel Installation" text="Please close Korvix-Studio, restart your machine and run setup again !"$'
  expect_dump before '^key HKCU\\Software\\Varentel\\Engine$'
  expect_no_dump before 'PULSARIO'
  wow64_end
}

SCENARIO_LIST+=(scenario_wow64_clean_install_win10 scenario_wow64_app_running_win10)
