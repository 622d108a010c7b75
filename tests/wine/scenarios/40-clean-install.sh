# A clean installation with the sample payload beside VARSETUP.EXE, both
# command-line arguments and the distribution disc in drive E:, then the
# restart: the live files are the new payload, the backups hold what was
# there before (a previous ASPI DLL planted on the machine), the OEM module
# and the manuals sit in the application folder.

clean_install() {  # NAME VERSION FAMILY
  scenario_begin "$1" "$2"
  with_payload v2
  with_disc E
  put_dir 'C:\KORVIX'
  local old=$SDIR/old-wnaspi32.dll
  printf 'previous ASPI DLL\r\n' >"$old"
  local device
  if [ "$3" = 9x ]; then
    put_file 'C:\WINDOWS\SYSTEM32\WINASPI.DLL' "$old"
  else
    put_file 'C:\WINDOWS\SYSTEM32\WNASPI32.DLL' "$old"
  fi
  run_setup 'C:\KORVIX' korvix
  expect_exit 0
  expect_boxes 0
  expect_dump before '^file .* C:\\KORVIX\\KORVIXOEM\.DLL$'
  expect_dump before '^file .* C:\\KORVIX\\korvix-de\.pdf$'
  expect_dump before '^file .* C:\\KORVIX\\korvix-en\.pdf$'
  expect_dump before '^device '
  restart
  local new_fnv old_fnv
  if [ "$3" = 9x ]; then
    new_fnv=$(sim_fnv "$SOURCE_DIR/samples/payload/v2/WINASPI.9x")
    expect_dump after "^file .*fnv=$new_fnv C:\\\\WINDOWS\\\\SYSTEM32\\\\WINASPI\\.DLL$"
    old_fnv=$(sim_fnv "$old")
    expect_dump after "^file .*fnv=$old_fnv C:\\\\WINDOWS\\\\SYSTEM32\\\\WINASPI\\.OLD$"
    expect_dump after '^file .* C:\\WINDOWS\\SYSTEM32\\IOSUBSYS\\APIX\.VXD$'
  else
    new_fnv=$(sim_fnv "$SOURCE_DIR/samples/payload/v2/WNASPI32.NT")
    expect_dump after "^file .*fnv=$new_fnv C:\\\\WINDOWS\\\\SYSTEM32\\\\WNASPI32\\.DLL$"
    old_fnv=$(sim_fnv "$old")
    expect_dump after "^file .*fnv=$old_fnv C:\\\\WINDOWS\\\\SYSTEM32\\\\WNASPI32\\.OLD$"
    expect_dump after '^file .* C:\\WINDOWS\\SYSTEM32\\DRIVERS\\ASPI32\.SYS$'
  fi
  scenario_end
}

scenario_clean_install_win98() { clean_install clean-install-win98 win98 9x; }
scenario_clean_install_winxp() { clean_install clean-install-winxp winxp nt; }
SCENARIO_LIST+=(scenario_clean_install_win98 scenario_clean_install_winxp)
