# DLLs planted under the names of the system libraries the installer loads
# (SETUPAPI.DLL and NewDev.dll for the device installation, PSAPI.DLL for
# the process walk) beside VARSETUP.EXE, which is also the current directory
# of the run: the installer loads each from the system directory only.  Each planted copy is
# tools/planted.dll, whose DllMain leaves C:\PLANTED-<name>.txt when any
# process loads it; no marker may appear, and the run is otherwise the
# normal one (exit 0, no box, the realtime device installed).  On winsim the
# same files lie in the program folder and the dumps must agree as usual.
#
# Wine loads its own built-in copy of a library it ships whatever file the
# path names, so a planted psapi.dll would never run under Wine's default
# load order and the check would prove nothing.  The scenario lets native
# files of these names load first, as Windows loads any file it finds (on
# XP none of them is a KnownDLL); the placeholder files in system32 still
# load the built-in libraries (observed with WINEDEBUG=+loaddll on Wine 8).

PLANTED_NAMES=(NewDev.dll PSAPI.DLL SETUPAPI.DLL)

# The markers the planted copies left in the prefix (none on winsim).
planted_markers() {
  [ -n "${SIM_ONLY:-}" ] && return 0
  find "$PREFIX/drive_c" -maxdepth 1 -iname 'PLANTED-*.txt' -printf '%f\n' 2>/dev/null
}

planted_dlls() {  # NAME VERSION
  DLL_OVERRIDES="psapi,newdev,setupapi=n,b"
  scenario_begin "$1" "$2"
  with_payload v2
  local name
  for name in "${PLANTED_NAMES[@]}"; do
    put_file "$SETUP_DIR_WIN\\$name" "$WINDOWS_DIR/tools/planted.dll"
  done
  run_setup
  expect_exit 0
  expect_boxes 0
  expect_device before
  for name in "${PLANTED_NAMES[@]}"; do
    expect_file before "$SETUP_DIR_WIN\\$name" "$WINDOWS_DIR/tools/planted.dll"
  done
  local markers; markers=$(planted_markers)
  check "no planted DLL was loaded (markers: ${markers//$'\n'/ })" test -z "$markers"
  # The control: the same copies, loaded by their full paths under the same
  # load order, do leave their markers, so the check above sees a load when
  # there is one.
  if [ -z "${SIM_ONLY:-}" ]; then
    for name in "${PLANTED_NAMES[@]}"; do
      in_prefix "$PREFIX" "$WINE_BIN" rundll32 "$SETUP_DIR_WIN\\$name,Nothing" >>"$SDIR/control.log" 2>&1 || true
    done
    markers=$(planted_markers | sort | tr '\n' ' ')
    check "control: the planted copies leave their markers when loaded (got: $markers)" \
      test "$markers" = "PLANTED-NewDev.txt PLANTED-PSAPI.txt PLANTED-SETUPAPI.txt "
    rm -f "$PREFIX"/drive_c/PLANTED-*.txt
  fi
  scenario_end
  DLL_OVERRIDES=
}

scenario_planted_dlls_winxp() { planted_dlls planted-dlls-winxp winxp; }
SCENARIO_LIST+=(scenario_planted_dlls_winxp)
