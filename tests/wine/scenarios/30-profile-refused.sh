# A SYSTEM.INI entry the system refuses: the run stops with the error box
# ("Application Error") and exit code 1, nothing after the cache tuning.
# Wine run as root ignores read-only files, so the refusal is made with a
# folder named SYSTEM.INI (WritePrivateProfileStringA fails with 5 on it).

scenario_profile_refused_win98() {
  scenario_begin profile-refused-win98 win98
  put_reg 'HKCU\Software\Varentel\Engine' Window 'left'
  put_dir 'C:\WINDOWS\SYSTEM.INI'
  run_setup
  expect_exit 1
  expect_boxes 1
  expect_dump before '^journal messagebox .*caption="Application Error" text=".*Unable to write to System\.ini'
  # The run stopped before the settings reset.
  expect_dump before '^key HKCU\\Software\\Varentel\\Engine$'
  scenario_end
}
SCENARIO_LIST+=(scenario_profile_refused_win98)

WINSIM_ONLY+=("read-only SYSTEM.INI on 9x: Wine run as root does not enforce read-only files (the folder scenario above covers the refusal)")
