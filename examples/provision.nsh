@echo -off
#
# provision.nsh - provision one Tarn board on the factory line, or rework one.
#
#   provision.nsh SERIAL MM [CARRIER|none [BOARD FAB BOM]]
#   provision.nsh rework OLD-SERIAL SERIAL MM [CARRIER|none [BOARD FAB BOM]]
#   provision.nsh                      (the values are asked for, as a scanner types them)
#
# The shell's front door to Kestrel.efi's station job (Kestrel.efi --provision / --rework): the
# script hands every one of its nine positions over as it is, in quotes, and decides nothing
# itself. Kestrel.efi checks the values, refuses a board that is not blank (new board) or not
# OLD-SERIAL's (rework) with status 0x15, keeps the replaced block in SERIAL.bin, writes the
# record, reads the whole block back and compares it, puts one line in provision.log and ends
# with a PASS or FAIL banner; the script's status is Kestrel.efi's (docs/using.md: the status table).
# Copy it to the root of the station's FAT stick beside Kestrel.efi, change to the stick (for
# example fs0:) and run it there: it runs the Kestrel.efi of the current folder and no other copy.
#
# Needs a UEFI Shell 2.0 or later (support level 3: if, exit /b).

if not exist Kestrel.efi then
  echo "   FAIL: there is no Kestrel.efi in %cwd% (status 0xE)"
  exit /b 0xE
endif
"%cwd%\Kestrel.efi" --from-script --provision "%1" "%2" "%3" "%4" "%5" "%6" "%7" "%8" "%9"
exit /b %lasterror%
