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
  if [ "$3" = 9x ]; then
    put_file 'C:\WINDOWS\SYSTEM32\WINASPI.DLL' "$old"
  else
    put_file 'C:\WINDOWS\SYSTEM32\WNASPI32.DLL' "$old"
  fi
  [ "$3" = 9x ] && put_dir 'C:\WINDOWS\SYSTEM32\IOSUBSYS'
  run_setup 'C:\KORVIX' korvix
  expect_exit 0
  if [ "$3" = 9x ]; then
    # Wine reports C:\windows\system32 as the system directory in 9x mode
    # too, and the 9x driver folder is that name with "32" appended.
    expect_boxes 1
    expect_dump before '^journal messagebox .*text="Unable to copy \\"FTD2XX\.SYS\\" to Drivers directory!"$'
  else
    expect_boxes 0
  fi
  expect_file before 'C:\KORVIX\KORVIXOEM.DLL' "$SOURCE_DIR/samples/disc/OEM/KORVIXOEM.DLL"
  expect_file before 'C:\KORVIX\korvix-de.pdf' "$SOURCE_DIR/samples/disc/DATA/DOC/korvix-de.pdf"
  expect_file before 'C:\KORVIX\korvix-en.pdf' "$SOURCE_DIR/samples/disc/DATA/DOC/korvix-en.pdf"
  expect_device before
  restart
  local v2=$SOURCE_DIR/samples/payload/v2
  if [ "$3" = 9x ]; then
    expect_file after 'C:\WINDOWS\SYSTEM32\WINASPI.DLL' "$v2/WINASPI.9x"
    expect_file after 'C:\WINDOWS\SYSTEM32\WINASPI.OLD' "$old"
    expect_file after 'C:\WINDOWS\SYSTEM32\WNASPI32.DLL' "$v2/WNASPI32.9x"
    expect_file after 'C:\WINDOWS\SYSTEM32\IOSUBSYS\APIX.VXD' "$v2/APIX.9x"
    expect_file after 'C:\WINDOWS\SYSTEM32\PULSARIO.DLL' "$v2/PULSARIO.DLL"
  else
    expect_file after 'C:\WINDOWS\SYSTEM32\WNASPI32.DLL' "$v2/WNASPI32.NT"
    expect_file after 'C:\WINDOWS\SYSTEM32\WNASPI32.OLD' "$old"
    expect_file after 'C:\WINDOWS\SYSTEM32\DRIVERS\ASPI32.SYS' "$v2/ASPI32.NT"
    expect_file after 'C:\WINDOWS\SYSTEM\WINASPI.DLL' "$v2/WINASPI.NT"
    expect_file after 'C:\WINDOWS\SYSTEM32\PULSARIO.EXE' "$v2/PULSARIO.EXE"
  fi
  scenario_end
}

scenario_clean_install_win98() { clean_install clean-install-win98 win98 9x; }
scenario_clean_install_winxp() { clean_install clean-install-winxp winxp nt; }
SCENARIO_LIST+=(scenario_clean_install_win98 scenario_clean_install_winxp)

# The other versions of each family.  NT 4.0 is left out: Wine provides
# NewDev.dll and PSAPI.DLL in its nt40 mode, which NT 4.0 never had, so its
# device installation and process walk cannot be compared with the simulated
# NT 4.0 machine.
scenario_clean_install_win95() { clean_install clean-install-win95 win95 9x; }
scenario_clean_install_winme() { clean_install clean-install-winme winme 9x; }
scenario_clean_install_win2k() { clean_install clean-install-win2k win2k nt; }
scenario_clean_install_win10() { clean_install clean-install-win10 win10 nt; }
SCENARIO_LIST+=(scenario_clean_install_win95 scenario_clean_install_winme
                scenario_clean_install_win2k scenario_clean_install_win10)
