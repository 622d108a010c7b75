# The harness for end-to-end runs of VARSETUP.EXE under Wine, and for the
# differential runs of the same scenario on a simulated machine.
#
# Sourced by tests/scripts/wine_e2e.sh.  A scenario is a bash function
# (tests/wine/scenarios/*.sh) that calls the steps below:
#
#   scenario_begin NAME VERSION     fresh prefix (copy of the template) with the
#                                   Windows version set; fresh winsim machine
#   with_cdrom LETTER               a CD-ROM drive (empty folder) on both sides
#   put_file 'C:\PATH' HOSTFILE     a file in place on both sides
#   start_app KORVIX.EXE            the dummy application running (Wine only)
#   run_setup [ARG...]              VARSETUP.EXE under Wine (boxes recorded and
#                                   closed by the watcher), then the winsim run;
#                                   dumps before the restart on both sides
#   restart                         wineboot -r and winsim restart; dumps after
#   expect_exit N | expect_boxes N | expect_dump PHASE GREP-PATTERN
#   expect_no_dump PHASE PATTERN | expect_same PHASE
#   scenario_end                    differential check, clean-up
#
# Every wine command runs under `timeout`; the Xvfb and wineservers started
# here are stopped by pid / prefix, nothing else is touched.

WINE_TIMEOUT=${WINE_TIMEOUT:-90}
HERE_WINE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SOURCE_DIR=${SOURCE_DIR:-$(cd "$HERE_WINE/../.." && pwd)}
BINARY_DIR=${BINARY_DIR:-$SOURCE_DIR/build/host}
DUMPSCOPE=$HERE_WINE/dumpscope.txt
ACCEPTED=$HERE_WINE/accepted-differences.txt
ACCEPTED_RECORD=${ACCEPTED_RECORD:-/dev/null}  # run.sh keeps the records of a whole run

# Where the product lives inside the prefix and on the simulated machine.
SETUP_DIR_WIN='C:\VARSETUP'
SETUP_DIR_UNIX=drive_c/VARSETUP

CHECKS_PASSED=0
CHECKS_FAILED=0
SCENARIOS=0
ACCEPTED_SEEN=()   # "scenario: line  (reason)"
STALE_SEEN=()      # accepted differences that no longer happen
FAILURES=()

log() { printf '%s\n' "$*" >&2; }

check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then
    CHECKS_PASSED=$((CHECKS_PASSED + 1))
  else
    CHECKS_FAILED=$((CHECKS_FAILED + 1))
    FAILURES+=("$SCENARIO: $what")
    log "FAIL [$SCENARIO] $what"
  fi
}

# ---- whether Wine can run here ----

# 0: usable; 1: not installed; 2: installed but cannot start; the reason
# goes to WINE_REASON.  Picks the platform on the way (WINE_MODE, WINE_BIN,
# WINE_ARCH, WINE_EXE_MACHINE, WINDOWS_DIR): 32-bit Wine with the i686 build
# (build/windows, or WINDOWS_DIR32) in win32 prefixes where the kernel runs
# 32-bit programs, otherwise wine64 with the 64-bit build of the same sources
# (build/wine64, or WINDOWS_DIR64) in win64 prefixes.  A 64-bit program in a
# win64 prefix sees system32 and HKLM\Software unredirected, as the 32-bit
# program does in a win32 prefix.  WINE_LIBDIR and LD_LINUX32 say where the
# loaders are (the self-test of the pick points them at stand-ins).
WINE_MODE=
WINE_BIN=
WINE_ARCH=
WINE_EXE_MACHINE=
wine_status() {
  local missing=() libdir=${WINE_LIBDIR:-/usr/lib/wine} ld32=${LD_LINUX32:-/lib/ld-linux.so.2}
  for tool in wineserver Xvfb; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  [ -x "$libdir/wine" ] || [ -x "$libdir/wine64" ] || command -v wine >/dev/null 2>&1 ||
    missing+=(wine)
  if [ ${#missing[@]} -gt 0 ]; then
    WINE_REASON="not installed: ${missing[*]} (scripts/install-deps.sh installs them)"
    return 1
  fi
  local out wine32=$libdir/wine wine64=$libdir/wine64
  [ -x "$wine32" ] || wine32=$(command -v wine || true)
  if [ -z "${WINE_FORCE_64:-}" ] && [ -n "$wine32" ] &&
     out=$(WINEDEBUG=-all timeout 60 "$wine32" --version 2>&1); then
    WINE_MODE=32 WINE_BIN=$wine32 WINE_ARCH=win32 WINE_EXE_MACHINE=i386
    WINDOWS_DIR=${WINDOWS_DIR32:-$SOURCE_DIR/build/windows}
    PLATFORM_NOTE="wine: the i686 build (build/windows, the shipped VARSETUP.EXE) under 32-bit Wine in win32 prefixes"
    return 0
  fi
  local why32=${out:-wine32 not used}
  [ -n "${WINE_FORCE_64:-}" ] && why32="WINE_FORCE_64 is set"
  # The clearer reason: the kernel refuses the 32-bit loader itself.
  if [ -e "$ld32" ] && ! out=$("$ld32" --version 2>&1 </dev/null); then
    why32="32-bit loader: ${out##*: }"
  fi
  if [ -x "$wine64" ] && out=$(WINEDEBUG=-all timeout 60 "$wine64" --version 2>&1); then
    WINE_MODE=64 WINE_BIN=$wine64 WINE_ARCH=win64 WINE_EXE_MACHINE=x86-64
    export WINELOADER=$wine64
    WINDOWS_DIR=${WINDOWS_DIR64:-$SOURCE_DIR/build/wine64}
    PLATFORM_NOTE="wine: the 64-bit build of the same sources (build/wine64), not the shipped i686 exe, under wine64 in win64 prefixes; 32-bit Wine not used: $(printf '%s' "$why32" | tail -1)"
    return 0
  fi
  WINE_REASON="wine is installed but cannot start: 32-bit: $(printf '%s' "$why32" | tail -1); 64-bit: $(printf '%s' "${out:-wine64 not installed}" | tail -1)"
  return 2
}

# The PE machine of FILE: i386, x86-64, or "not a PE file".
pe_machine() {
  local file=$1 lfanew sig machine
  lfanew=$(od -An -tu4 -j60 -N4 "$file" 2>/dev/null | tr -d ' ')
  [ "$(od -An -c -N2 "$file" 2>/dev/null | tr -d ' ')" = MZ ] && [ -n "$lfanew" ] ||
    { echo "not a PE file"; return; }
  sig=$(od -An -tx1 -j"$lfanew" -N4 "$file" | tr -d ' \n')
  machine=$(od -An -tx2 -j$((lfanew + 4)) -N2 "$file" | tr -d ' \n')
  [ "$sig" = 50450000 ] || { echo "not a PE file"; return; }
  case $machine in
    014c) echo i386 ;;
    8664) echo x86-64 ;;
    *) echo "machine 0x$machine" ;;
  esac
}

# "VARSETUP.EXE, <machine>, <size> bytes" for the exe in WINDOWS_DIR; fails,
# with the reason in WINE_REASON, when it is missing or of another machine
# than the picked Wine runs.
wine_exe_note() {
  local exe=$WINDOWS_DIR/VARSETUP.EXE machine
  if [ ! -f "$exe" ]; then
    WINE_REASON="$exe is missing"
    return 1
  fi
  machine=$(pe_machine "$exe")
  EXE_NOTE="VARSETUP.EXE, $machine, $(stat -c %s "$exe") bytes"
  if [ -n "$WINE_EXE_MACHINE" ] && [ "$machine" != "$WINE_EXE_MACHINE" ]; then
    WINE_REASON="$exe is $machine; the picked Wine runs $WINE_EXE_MACHINE programs"
    return 1
  fi
}

# ---- Xvfb ----

XVFB_PID=
start_xvfb() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    local i
    for i in $(seq 1 50); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$XVFB_PID" 2>/dev/null; wait "$XVFB_PID" 2>/dev/null; XVFB_PID=
  done
  log "cannot start Xvfb"
  return 1
}

stop_xvfb() {
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=
  fi
}

# ---- prefixes ----

# Runs a wine command in prefix $1 under a timeout (DLL_OVERRIDES, if a
# scenario sets it, is added to Wine's DLL load order).  With SIM_ONLY set (a
# machine where Wine cannot run) the Wine half of every step is left out and
# the expectations are checked on the simulated machine instead.
in_prefix() {
  [ -n "${SIM_ONLY:-}" ] && return 0
  local prefix=$1; shift
  WINEPREFIX=$prefix WINEARCH=$WINE_ARCH WINEDEBUG=${WINEDEBUG:--all} \
    WINEDLLOVERRIDES="mscoree,mshtml=${DLL_OVERRIDES:+;$DLL_OVERRIDES}" timeout "$WINE_TIMEOUT" "$@"
}

# Stops the wineserver of prefix $1 (and the programs still running in it).
stop_server() {
  [ -n "${SIM_ONLY:-}" ] && return 0
  WINEPREFIX=$1 timeout 30 wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX=$1 timeout 30 wineserver -w >/dev/null 2>&1 || true
}

# Starts a persistent server for prefix $1: it stays up between the run and
# the dump (a new server would carry out WININIT.INI and the pending moves).
server_start() {
  [ -n "${SIM_ONLY:-}" ] && return 0
  WINEPREFIX=$1 WINEARCH=$WINE_ARCH timeout 30 wineserver -p >/dev/null 2>&1 || true
}

# Waits until the programs of prefix $1 have ended and its server is gone,
# so the files of the prefix (system.reg, user.reg) are written.
wait_server() {
  WINEPREFIX=$1 timeout "$WINE_TIMEOUT" wineserver -w >/dev/null 2>&1 || stop_server "$1"
}

make_template() {
  TEMPLATE=$WORK/template
  if [ -n "${SIM_ONLY:-}" ]; then
    mkdir -p "$TEMPLATE/drive_c/windows" "$TEMPLATE/drive_c/harness"
    printf '[386Enh]\r\nwoafont=dosapp.fon\r\n' >"$TEMPLATE/drive_c/windows/system.ini"
    return 0
  fi
  log "wine: making the template prefix"
  in_prefix "$TEMPLATE" "$WINE_BIN" wineboot -i >"$WORK/template.log" 2>&1 || {
    log "wineboot -i failed"; tail -5 "$WORK/template.log" >&2; return 1; }
  # No 2 s wait after each message box under a window-manager-less Xvfb.
  in_prefix "$TEMPLATE" "$WINE_BIN" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  # A new prefix holds Wine's placeholder files of its built-in ASPI DLLs;
  # the installer takes WNASPI32.DLL as an ASPI layer already there and
  # leaves its own alone.  The simulated machines start without one, so the
  # prefixes do too (the built-in DLLs still load without the files).
  find "$TEMPLATE/drive_c/windows" -maxdepth 2 \( -iname wnaspi32.dll -o -iname winaspi.dll \) -delete
  # Windows keeps a 16-bit SYSTEM folder beside SYSTEM32 on NT as well (the
  # simulated machines have it); a 64-bit prefix has none.
  mkdir -p "$TEMPLATE/drive_c/windows/system"
  # The machines judged in win64 prefixes here are 32-bit Windows, which has
  # no 32-bit view.  Where the kernel runs 32-bit programs, wineboot leaves
  # the 32-bit view's Run key in a new win64 prefix (empty, before any
  # program ran); where it cannot, the key is never made.  Removed, so both
  # kernels start from the machine that is modelled.
  if [ "$WINE_ARCH" = win64 ]; then
    in_prefix "$TEMPLATE" "$WINE_BIN" reg delete \
      'HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Run' /f >/dev/null 2>&1 || true
  fi
  # The tools the harness runs inside each prefix.
  mkdir -p "$TEMPLATE/drive_c/harness"
  cp "$WINDOWS_DIR/tools/watcher.exe" "$WINDOWS_DIR/tools/winedump.exe" \
     "$WINDOWS_DIR/tools/dummyapp.exe" "$TEMPLATE/drive_c/harness/"
  cp "$DUMPSCOPE" "$TEMPLATE/drive_c/harness/dumpscope.txt"
  wait_server "$TEMPLATE"
}

# ---- scenario steps ----

scenario_begin() {  # NAME VERSION
  SCENARIO=$1
  VERSION=$2
  SCENARIOS=$((SCENARIOS + 1))
  SDIR=$WORK/$SCENARIO
  PREFIX=$SDIR/prefix
  MACHINE=$SDIR/machine
  APP_PIDS=()
  EXIT_WINE=
  EXIT_SIM=
  mkdir -p "$SDIR"
  log "wine: scenario $SCENARIO ($VERSION)"
  cp -a "$TEMPLATE" "$PREFIX"
  : >"$SDIR/journal.txt"
  NEED_SERVER_RESTART=
  server_start "$PREFIX"
  prefix_reg 'HKCU\Software\Wine' Version REG_SZ "$VERSION"
  mkdir -p "$PREFIX/$SETUP_DIR_UNIX"
  cp "$WINDOWS_DIR/VARSETUP.EXE" "$PREFIX/$SETUP_DIR_UNIX/"
  sim_begin "$VERSION"
  mirror_sim_registry
}

# The registry values the machine template holds inside the dump's scope
# (for example the application's own settings) are written into the prefix
# too, so both sides start from the same state.
mirror_sim_registry() {
  "$WINSIM" dump "$MACHINE" -o "$SDIR/sim-initial.txt" >>"$SDIR/sim.log" 2>&1 || return 1
  local key name type data
  while IFS=$'\t' read -r key name type data; do
    prefix_reg "$key" "$name" "$type" "$data"
  done < <(python3 "$HERE_WINE/compare_dumps.py" --scoped-values "$DUMPSCOPE" "$SDIR/sim-initial.txt")
}

# Registry values for the prefix are gathered in one REGEDIT4 file and
# imported by a single regedit run before the next program of the scenario
# starts: one Wine process instead of one per value.
prefix_reg() {  # KEY NAME TYPE DATA  (NAME empty: the default value)
  local key=$1 name=$2 type=$3 data=$4 root=HKEY_LOCAL_MACHINE
  case $key in HKCU\\*) root=HKEY_CURRENT_USER ;; esac
  local file=$SDIR/prefix.reg
  [ -s "$file" ] || printf 'REGEDIT4\r\n' >"$file"
  local n=@ v
  [ -n "$name" ] && n="\"$(reg_escape "$name")\""
  case $type in
    REG_DWORD) v=$(printf 'dword:%08x' "$data") ;;
    *) v="\"$(reg_escape "$data")\"" ;;
  esac
  printf '\r\n[%s\\%s]\r\n%s=%s\r\n' "$root" "${key#*\\}" "$n" "$v" >>"$file"
}
reg_escape() { local t=${1//\\/\\\\}; printf '%s' "${t//\"/\\\"}"; }

# The loader whose regedit imports them: WINE_BIN, except where a scenario
# names another (REGEDIT_LOADER: the WOW64 scenarios name the 64-bit one).
REGEDIT_LOADER=
flush_prefix_reg() {
  [ -s "$SDIR/prefix.reg" ] || return 0
  cp "$SDIR/prefix.reg" "$PREFIX/drive_c/harness/prefix.reg"
  in_prefix "$PREFIX" "${REGEDIT_LOADER:-$WINE_BIN}" regedit /S 'C:\harness\prefix.reg' >/dev/null 2>&1 ||
    log "regedit could not import the scenario's registry values"
  rm -f "$SDIR/prefix.reg"
}

# A CD-ROM drive: a folder behind dosdevices/<letter>: with the drive type
# "cdrom" in Wine's drive configuration; read at the next server start.
with_cdrom() {  # LETTER
  local l; l=$(printf '%s' "$1" | tr 'A-Z' 'a-z')
  mkdir -p "$SDIR/cd-$l" "$PREFIX/dosdevices"
  ln -sfn "$SDIR/cd-$l" "$PREFIX/dosdevices/$l:"
  prefix_reg 'HKLM\Software\Wine\Drives' "$l:" REG_SZ cdrom
  NEED_SERVER_RESTART=1  # the drive configuration is read at server start
  sim_cdrom "$l"
}

# The host path of a Windows path below BASE, matching existing names
# without case (C:\WINDOWS is drive_c/windows in a prefix).
host_path() {  # BASE 'RELATIVE\PATH'
  local dir=$1 part found
  local IFS='\'
  for part in $2; do
    [ -n "$part" ] || continue
    found=$(find "$dir" -mindepth 1 -maxdepth 1 -iname "$part" 2>/dev/null | head -1)
    dir=${found:-$dir/$part}
  done
  printf '%s\n' "$dir"
}

drive_base() {  # 'X:\...' -> the host folder of drive X on the Wine side
  local drive; drive=$(printf '%s' "${1:0:1}" | tr 'A-Z' 'a-z')
  if [ "$drive" = c ]; then echo "$PREFIX/drive_c"; else echo "$SDIR/cd-$drive"; fi
}
sim_base() {
  echo "$MACHINE/drives/$(printf '%s' "${1:0:1}" | tr 'A-Z' 'a-z')"
}

# put_file 'C:\PATH\NAME' HOSTFILE  (or 'E:\...' for a CD-ROM set up above)
put_file() {
  local win=$1 src=$2 target
  for target in "$(host_path "$(drive_base "$win")" "${win:3}")" \
                "$(host_path "$(sim_base "$win")" "${win:3}")"; do
    mkdir -p "$(dirname "$target")"
    cp "$src" "$target"
  done
}

# put_dir 'C:\PATH': a folder on both sides, in place of a file of that name.
put_dir() {
  local target
  for target in "$(host_path "$(drive_base "$1")" "${1:3}")" \
                "$(host_path "$(sim_base "$1")" "${1:3}")"; do
    rm -f "$target"
    mkdir -p "$target"
  done
}

# with_payload VERSION: the component files of samples/payload (shared and
# VERSION's own) beside VARSETUP.EXE on both sides, as `winsim new
# --payload` puts them.
with_payload() {
  local f
  for f in "$SOURCE_DIR"/samples/payload/* "$SOURCE_DIR/samples/payload/$1"/*; do
    [ -f "$f" ] && put_file "$SETUP_DIR_WIN\\$(basename "$f")" "$f"
  done
  return 0
}

# with_disc LETTER: a CD-ROM drive holding the sample distribution disc.
with_disc() {
  with_cdrom "$1"
  local f rel
  while IFS= read -r f; do
    rel=${f#"$SOURCE_DIR"/samples/disc/}
    put_file "$1:\\${rel//\//\\}" "$f"
  done < <(find "$SOURCE_DIR/samples/disc" -type f)
}

# remove_dir 'C:\PATH': the folder taken away on both sides.
remove_dir() {
  local target
  for target in "$(host_path "$(drive_base "$1")" "${1:3}")" \
                "$(host_path "$(sim_base "$1")" "${1:3}")"; do
    rm -rf "$target"
  done
}

# put_reg 'HKCU\Key\Path' NAME TEXT: a REG_SZ value (and its keys) on both sides.
put_reg() {
  local key=$1 name=$2 data=$3
  prefix_reg "$key" "$name" REG_SZ "$data"
  local hive=HKLM root=HKEY_LOCAL_MACHINE
  case $key in HKCU\\*) hive=HKCU; root=HKEY_CURRENT_USER ;; esac
  local file=$MACHINE/registry/$hive.reg
  [ -s "$file" ] || printf 'REGEDIT4\n' >"$file"
  local quoted=${data//\\/\\\\}; quoted=${quoted//\"/\\\"}  # REGEDIT4 escapes
  printf '\n[%s\\%s]\n"%s"="%s"\n' "$root" "${key#*\\}" "$name" "$quoted" >>"$file"
}

# Starts the dummy application under the name $1 and waits until it runs.
start_app() {  # IMAGE-NAME
  local name=$1
  sim_app "$name"
  [ -n "${SIM_ONLY:-}" ] && return 0
  cp "$PREFIX/drive_c/harness/dummyapp.exe" "$PREFIX/drive_c/harness/$name"
  rm -f "$PREFIX/drive_c/harness/$name.ready"
  in_prefix "$PREFIX" "$WINE_BIN" "C:\\harness\\$name" "C:\\harness\\$name.ready" 'C:\harness\app.stop' 120 \
    >"$SDIR/app.log" 2>&1 &
  APP_PIDS+=($!)
  local i
  for i in $(seq 1 300); do
    [ -e "$PREFIX/drive_c/harness/$name.ready" ] && return 0
    sleep 0.1
  done
  log "the dummy application $name did not start"
  return 1
}

stop_apps() {
  [ -d "$PREFIX/drive_c/harness" ] && : >"$PREFIX/drive_c/harness/app.stop"
  local pid
  for pid in "${APP_PIDS[@]}"; do
    timeout 30 tail --pid="$pid" -f /dev/null 2>/dev/null || kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  APP_PIDS=()
  rm -f "$PREFIX/drive_c/harness/app.stop"
}

# The dump of the prefix, taken inside it while its server runs.
# Its journal is the scenario's: every box of every run and each exit code,
# as winsim's journal keeps them.
wine_dump() {  # OUTFILE
  [ -n "${SIM_ONLY:-}" ] && return 0
  local out=$1
  cp "$SDIR/journal.txt" "$PREFIX/drive_c/harness/journal.txt"
  in_prefix "$PREFIX" "$WINE_BIN" 'C:\harness\winedump.exe' 'C:\harness\dump.txt' \
    'C:\harness\dumpscope.txt' 'C:\harness\journal.txt' >"$SDIR/winedump.log" 2>&1 || {
    log "winedump failed"; cat "$SDIR/winedump.log" >&2; return 1; }
  cp "$PREFIX/drive_c/harness/dump.txt" "$out"
}

run_setup() {  # [ARG...]  (Windows command-line arguments)
  local h=$PREFIX/drive_c/harness
  flush_prefix_reg
  if [ -n "$NEED_SERVER_RESTART" ]; then
    stop_server "$PREFIX"
    server_start "$PREFIX"
    NEED_SERVER_RESTART=
  fi
  rm -f "$h/watch.stop" "$h/boxes.txt"
  if [ -n "${SIM_ONLY:-}" ]; then
    sim_run "$@"
    EXIT_WINE=$EXIT_SIM
    grep '^messagebox ' "$MACHINE/journal.txt" >"$SDIR/journal.txt" 2>/dev/null || true
    return 0
  fi
  in_prefix "$PREFIX" "$WINE_BIN" 'C:\harness\watcher.exe' 'C:\harness\boxes.txt' 'C:\harness\watch.stop' 120 \
    >"$SDIR/watcher.log" 2>&1 &
  local watcher=$!
  local i
  for i in $(seq 1 300); do [ -e "$h/boxes.txt" ] && break; sleep 0.1; done
  set +e
  (cd "$PREFIX/$SETUP_DIR_UNIX" && in_prefix "$PREFIX" "$WINE_BIN" "$SETUP_DIR_WIN\\VARSETUP.EXE" "$@") \
    >"$SDIR/run.log" 2>&1
  EXIT_WINE=$?
  set -e
  : >"$h/watch.stop"
  wait "$watcher" 2>/dev/null
  cat "$h/boxes.txt" >>"$SDIR/journal.txt" 2>/dev/null
  echo "exit $EXIT_WINE" >>"$SDIR/journal.txt"
  # Before the restart, with the run's server still up: a new server would
  # carry out WININIT.INI and the pending moves.
  wine_dump "$SDIR/wine-before.txt"
  sim_run "$@"
}

restart() {
  stop_apps
  # The run's server ends; the next session carries out WININIT.INI and the
  # delayed moves, as a restart does, and wineboot -r runs its start-up.
  echo restart >>"$SDIR/journal.txt"  # as winsim's journal records it
  if [ -n "${SIM_ONLY:-}" ]; then sim_restart; return 0; fi
  stop_server "$PREFIX"
  server_start "$PREFIX"
  in_prefix "$PREFIX" "$WINE_BIN" wineboot -r >"$SDIR/restart.log" 2>&1 || log "wineboot -r failed"
  wine_dump "$SDIR/wine-after.txt"
  sim_restart
}

scenario_end() {
  stop_apps
  stop_server "$PREFIX"
  sim_compare
  [ -n "${KEEP_WINE_WORK:-}" ] || rm -rf "$PREFIX"
}

# ---- expectations (checked on the Wine side) ----

expect_exit() { check "exit code $1 (got $EXIT_WINE)" test "$EXIT_WINE" = "$1"; }

expect_boxes() {  # N  (boxes of all runs so far)
  local n; n=$(grep -c '^messagebox ' "$SDIR/journal.txt" 2>/dev/null || true)
  check "$1 message box(es) (got ${n:-0})" test "${n:-0}" = "$1"
}

dump_file() {  # PHASE: before | after
  if [ -n "${SIM_ONLY:-}" ]; then echo "$SDIR/sim-$1.txt"; else echo "$SDIR/wine-$1.txt"; fi
}

expect_dump() {  # PHASE PATTERN  (grep -E on the dump)
  check "$1 dump has /$2/" grep -Eq -- "$2" "$(dump_file "$1")"
}
expect_no_dump() {
  check "$1 dump lacks /$2/" bash -c '! grep -Eq -- "$1" "$2"' _ "$2" "$(dump_file "$1")"
}

# ---- the same scenario on a simulated machine ----

WINSIM=${WINSIM:-$BINARY_DIR/winsim}
VARSETUP_SIM=${VARSETUP_SIM:-$BINARY_DIR/varsetup}
SIM_NEXT_PID=4096

# Sets a key of machine.ini's [system] section.
sim_ini_set() {  # KEY VALUE
  python3 - "$MACHINE/machine.ini" "$1" "$2" <<'PY'
import sys, re
path, key, value = sys.argv[1:]
text = open(path, encoding="latin-1").read()
text, n = re.subn(rf"(?m)^{key}=.*$", lambda m: f"{key}={value}", text)
if n == 0:
    text = text.replace("[system]\n", f"[system]\n{key}={value}\n", 1)
open(path, "w", encoding="latin-1").write(text)
PY
}

# Appends a line to a section of machine.ini.
sim_ini_add() {  # SECTION LINE
  python3 - "$MACHINE/machine.ini" "$1" "$2" <<'PY'
import sys
path, section, line = sys.argv[1:]
text = open(path, encoding="latin-1").read()
head = f"[{section}]\n"
if head not in text:
    text = text.rstrip("\n") + f"\n\n{head}"
text = text.replace(head, head + line + "\n", 1)
open(path, "w", encoding="latin-1").write(text)
PY
}

# The machine of the same Windows version, set up as the prefix is: system
# directory C:\WINDOWS\SYSTEM32 (what Wine reports in every mode), the
# program in C:\VARSETUP, the prefix's SYSTEM.INI.
sim_begin() {  # VERSION
  "$WINSIM" new "$MACHINE" --template "$1" >"$SDIR/sim.log" 2>&1 || {
    log "winsim new failed"; cat "$SDIR/sim.log" >&2; return 1; }
  local c=$MACHINE/drives/c
  local d  # the template's own letter case where a folder exists already
  for d in 'WINDOWS\SYSTEM32\DRIVERS' 'WINDOWS\INF' 'WINDOWS\SYSTEM' 'VARSETUP'; do
    mkdir -p "$(host_path "$c" "$d")"
  done
  # Wine names both directories in lower case (C:\windows\system32); the
  # names are written into WININIT.INI and the pending moves as reported.
  sim_move_system_dir 'C:\windows\system32'
  sim_ini_set windows 'C:\windows'
  sim_ini_set program 'C:\VARSETUP\VARSETUP.EXE'
  local ini
  ini=$(find "$c" -maxdepth 2 -iname system.ini -ipath '*windows*' | head -1)
  [ -n "$ini" ] || ini=$c/WINDOWS/SYSTEM.INI
  cp "$TEMPLATE/drive_c/windows/system.ini" "$ini"
  cp "$WINDOWS_DIR/VARSETUP.EXE" "$c/VARSETUP/VARSETUP.EXE"
}

# Makes DIR the machine's system directory, as Wine reports C:\windows\system32
# in every version mode: the system DLLs of the template's system directory
# (on 9x C:\WINDOWS\SYSTEM) are copied there and the [libraries] entries,
# which say what each system DLL exports, follow them.  Without that a 9x
# machine would find no Toolhelp in the KERNEL32.DLL of its system directory.
sim_move_system_dir() {  # 'C:\WINDOWS\SYSTEM32'
  local old
  old=$(sed -n 's/^system=//p' "$MACHINE/machine.ini" | tr -d '\r' | head -1)
  sim_ini_set system "$1"
  [ "${old^^}" = "${1^^}" ] && return 0
  local from to f
  from=$(host_path "$MACHINE/drives/c" "${old:3}")
  to=$(host_path "$MACHINE/drives/c" "${1:3}")
  for f in "$from"/*; do
    case ${f^^} in *.DLL) [ -f "$f" ] && cp -n "$f" "$to/" ;; esac
  done
  python3 - "$MACHINE/machine.ini" "$old" "$1" <<'PY'
import sys, re
path, old, new = sys.argv[1:]
text = open(path, encoding="latin-1").read()
out, section = [], ""
for line in text.split("\n"):
    m = re.match(r"\[(.*)\]", line)
    if m:
        section = m.group(1).lower()
    elif section == "libraries" and line.upper().startswith(old.upper() + "\\"):
        line = new + line[len(old):]
    out.append(line)
open(path, "w", encoding="latin-1").write("\n".join(out))
PY
}

sim_cdrom() {  # letter
  local u; u=$(printf '%s' "$1" | tr 'a-z' 'A-Z')
  mkdir -p "$MACHINE/drives/$1"
  python3 - "$MACHINE/machine.ini" "$u" <<'PY'
import sys, re
path, letter = sys.argv[1:]
text = open(path, encoding="latin-1").read()
text, n = re.subn(rf"(?m)^{letter}=.*$", f"{letter}=cdrom", text)
if n == 0:
    text = text.replace("[drives]\n", f"[drives]\n{letter}=cdrom\n", 1)
open(path, "w", encoding="latin-1").write(text)
PY
}

sim_app() {  # IMAGE-NAME
  sim_ini_add processes "$(printf '0x%08X' "$SIM_NEXT_PID")=C:\\harness\\$1"
  SIM_NEXT_PID=$((SIM_NEXT_PID + 4))
}

sim_run() {  # ARGS
  set +e
  "$VARSETUP_SIM" --machine "$MACHINE" --quiet "$@" >>"$SDIR/sim.log" 2>&1
  EXIT_SIM=$?
  set -e
  "$WINSIM" dump "$MACHINE" -o "$SDIR/sim-before.txt" >>"$SDIR/sim.log" 2>&1
}

sim_restart() {
  "$WINSIM" restart "$MACHINE" >>"$SDIR/sim.log" 2>&1 || log "winsim restart failed"
  "$WINSIM" dump "$MACHINE" -o "$SDIR/sim-after.txt" >>"$SDIR/sim.log" 2>&1
}

# One check per phase: the dumps agree except for accepted differences.
sim_compare() {
  [ -n "${SIM_ONLY:-}" ] && return 0
  check "same exit code on winsim ($EXIT_SIM) and Wine ($EXIT_WINE)" test "$EXIT_SIM" = "$EXIT_WINE"
  local phase out rc
  for phase in before after; do
    [ -e "$SDIR/wine-$phase.txt" ] && [ -e "$SDIR/sim-$phase.txt" ] || continue
    set +e
    out=$(python3 "$HERE_WINE/compare_dumps.py" "$DUMPSCOPE" "$SDIR/sim-$phase.txt" \
          "$SDIR/wine-$phase.txt" "$ACCEPTED" "$SCENARIO" "$phase" \
          --platform "$WINE_ARCH" --record "$ACCEPTED_RECORD")
    rc=$?
    set -e
    while IFS= read -r line; do
      case $line in
        accepted:*) ACCEPTED_SEEN+=("${line#accepted: }") ;;
        unlisted:*) log "$line" ;;
      esac
    done <<<"$out"
    check "winsim and Wine agree $phase the restart" test "$rc" = 0
  done
}

# After the last scenario: a line of the accepted differences that matched
# nothing although comparisons it applies to ran is stale, and fails the run
# (as a todo_wine that starts passing): Wine or winsim changed, and the line
# would hide the difference if it came back in another form.
check_stale_accepted() {
  [ -e "$ACCEPTED_RECORD" ] || return 0
  local out rc
  set +e
  out=$(python3 "$HERE_WINE/compare_dumps.py" --stale "$ACCEPTED" "$ACCEPTED_RECORD" 2>&1)
  rc=$?
  set -e
  while IFS= read -r line; do
    [ -n "$line" ] && STALE_SEEN+=("${line#stale: }")
  done <<<"$out"
  SCENARIO=accepted-differences
  check "every accepted difference still happens" test "$rc" = 0
}

# The FNV-1a 64 hash of a host file, as the dumps print it.
sim_fnv() {
  python3 - "$1" <<'PY'
import sys
h = 0xcbf29ce484222325
for b in open(sys.argv[1], "rb").read():
    h = ((h ^ b) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
print(f"{h:016x}")
PY
}

# expect_file PHASE 'C:\PATH' [HOSTFILE]: the dump lists the file (names
# compared without case, as Windows does), with HOSTFILE's bytes if given.
expect_file() {
  local want=${3:+$(sim_fnv "$3")}
  check "$1 dump has file $2${3:+ = $(basename "$3")}" python3 - "$(dump_file "$1")" "$2" "$want" <<'PY'
import sys
dump, path, fnv = sys.argv[1:]
for line in open(dump, encoding="latin-1"):
    parts = line.rstrip("\n").split(" ")
    if parts[0] == "file" and line.rstrip("\n").upper().endswith(" " + path.upper()):
        if not fnv or f"fnv={fnv}" in line:
            sys.exit(0)
sys.exit(1)
PY
}

# The realtime device's keys: HKLM\Enum\Root\REALTIME on 9x (written by the
# installer), HKLM\SYSTEM\CurrentControlSet\Enum\ROOT\REALTIME on NT (made by
# SetupAPI).
expect_device() {  # PHASE
  check "$1 dump has the realtime device" \
    grep -Eiq '^key HKLM\\(SYSTEM\\CurrentControlSet\\)?Enum\\ROOT\\REALTIME\\' "$(dump_file "$1")"
}

# expect_boxes_in_order TEXT...: the boxes of the runs so far are exactly
# these texts (as the journal quotes them), in this order.
expect_boxes_in_order() {
  local got want
  got=$(sed -n 's/^messagebox .*text="\(.*\)"$/\1/p' "$SDIR/journal.txt")
  want=$(printf '%s\n' "$@")
  check "boxes in order: $(printf '%s | ' "$@")(got: ${got//$'\n'/ | })" test "$got" = "$want"
}
