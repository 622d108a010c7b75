# A second run before the restart (the user starts setup again), then one
# restart: the queued replacements are carried out once, the live files are
# the payload, the backups the files that were there before the first run,
# and the realtime device made by the first run is updated by the second,
# not made again.

second_run() {  # NAME VERSION FAMILY
  scenario_begin "$1" "$2"
  with_payload v2
  local old=$SDIR/old-aspi.dll
  printf 'previous ASPI DLL\r\n' >"$old"
  local live=WINASPI.DLL payload=WINASPI.9x
  [ "$3" = nt ] && live=WNASPI32.DLL payload=WNASPI32.NT
  put_file "C:\\WINDOWS\\SYSTEM32\\$live" "$old"
  run_setup
  expect_exit 0
  expect_device before
  run_setup
  expect_exit 0
  expect_device before
  expect_no_dump before '^key HKLM\\(SYSTEM\\CurrentControlSet\\)?Enum\\ROOT\\REALTIME\\0*1$'
  restart
  expect_file after "C:\\WINDOWS\\SYSTEM32\\$live" "$SOURCE_DIR/samples/payload/v2/$payload"
  expect_file after "C:\\WINDOWS\\SYSTEM32\\${live%.*}.OLD" "$old"
  expect_file after 'C:\WINDOWS\SYSTEM32\PULSARIO.DLL' "$SOURCE_DIR/samples/payload/v2/PULSARIO.DLL"
  expect_device after
  scenario_end
}

scenario_second_run_win98() { second_run second-run-win98 win98 9x; }
scenario_second_run_win2k() { second_run second-run-win2k win2k nt; }
SCENARIO_LIST+=(scenario_second_run_win98 scenario_second_run_win2k)
