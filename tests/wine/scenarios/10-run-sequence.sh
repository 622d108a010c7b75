# The run sequence on both families: [VCache] on 9x only, the per-user
# engine settings deleted with their subkeys, exit code 0, no box.
# (Each scenario file adds its functions to SCENARIO_LIST; the runner calls
# them in order.  A scenario winsim can hold but Wine cannot is listed in
# WINSIM_ONLY with its reason.)

run_sequence() {  # NAME VERSION FAMILY
  scenario_begin "$1" "$2"
  put_reg 'HKCU\Software\Varentel\Engine' Window 'left'
  put_reg 'HKCU\Software\Varentel\Engine\Recent' File1 'C:\SONGS\A.SNG'
  put_reg 'HKCU\Software\Varentel\Keep' Value 'stays'
  run_setup
  expect_exit 0
  expect_boxes 0
  if [ "$3" = 9x ]; then
    expect_dump before '^profile SYSTEM\.INI \| MinFileCache=20480$'
    expect_dump before '^profile SYSTEM\.INI \| MaxFileCache=20480$'
    expect_dump before '^profile SYSTEM\.INI \| \[VCache\]$'
  else
    expect_no_dump before 'FileCache'
  fi
  expect_no_dump before '^key HKCU\\Software\\Varentel\\Engine'
  expect_dump before '^key HKCU\\Software\\Varentel\\Keep$'
  restart
  expect_no_dump after '^key HKCU\\Software\\Varentel\\Engine'
  scenario_end
}

scenario_run_sequence_win98() { run_sequence run-sequence-win98 win98 9x; }
scenario_run_sequence_winxp() { run_sequence run-sequence-winxp winxp nt; }
SCENARIO_LIST+=(scenario_run_sequence_win98 scenario_run_sequence_winxp)
