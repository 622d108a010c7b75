# The application running (each of its two names): one box, exit code 0,
# nothing changed (not even the cache tuning or the settings reset).

application_running() {  # NAME VERSION IMAGE
  scenario_begin "$1" "$2"
  put_reg 'HKCU\Software\Varentel\Engine' Window 'left'
  start_app "$3"
  run_setup 'C:\KORVIX' Manual
  expect_exit 0
  expect_boxes 1
  expect_dump before '^journal messagebox .*caption="Varentel Installation" text="Please close Korvix-Studio, restart your machine and run setup again !"$'
  expect_dump before '^key HKCU\\Software\\Varentel\\Engine$'
  expect_no_dump before 'FileCache'
  scenario_end
}

scenario_app_running_winxp() { application_running app-running-winxp winxp KORVIX.EXE; }
scenario_app_running_win98() { application_running app-running-win98 win98 KORVIXTAVERN.EXE; }
SCENARIO_LIST+=(scenario_app_running_winxp scenario_app_running_win98)
