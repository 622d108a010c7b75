# The Windows INF folder and the drivers folder missing: each file that
# cannot be copied there gets its box, in the order the installers run
# (realtime kernel, USB audio INF, USB controller package), and the run
# goes on to its end.

scenario_missing_inf_win98() {
  scenario_begin missing-inf-win98 win98
  with_payload v1
  remove_dir 'C:\WINDOWS\INF'
  run_setup
  expect_exit 0
  expect_boxes_in_order \
    'Unable to copy \"PULSARIO.INF\" to Systemdirectory!' \
    'Unable to copy \"MAYA51USB.INF\" to INF!' \
    'Unable to copy \"CX_USB.INF\" to INF!' \
    'Unable to copy \"FTD2XX.SYS\" to Drivers directory!'
  scenario_end
}

scenario_missing_folders_winxp() {
  scenario_begin missing-folders-winxp winxp
  with_payload v1
  remove_dir 'C:\WINDOWS\INF'
  remove_dir 'C:\WINDOWS\SYSTEM32\DRIVERS'
  run_setup
  expect_exit 0
  expect_boxes_in_order \
    'Unable to copy \"PULSARIO.SYS\" to Systemdirectory!' \
    'Unable to copy \"MAYA51USB.INF\" to INF!' \
    'Unable to copy \"CX_USB.INF\" to INF!' \
    'Unable to copy \"FTD2XX.SYS\" to Drivers directory!'
  scenario_end
}
SCENARIO_LIST+=(scenario_missing_inf_win98 scenario_missing_folders_winxp)
