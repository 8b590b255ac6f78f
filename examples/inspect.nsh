@echo -off
#
# inspect.nsh - save the board record of one Tarn board to a file named after its serial number.
#
#   inspect.nsh SERIAL                 (or without SERIAL: it is asked for)
#
# The shell's front door to Kestrel.efi's station job Kestrel.efi --inspect: the record of board
# SERIAL, and only SERIAL's (another board or a blank one is refused with status 0x15), shown and
# saved as one JSON object in SERIAL.json in the current folder (a taken name is never
# overwritten: SERIAL-2.json, ...), the run logged in provision.log, a PASS or FAIL banner; the
# script's status is Kestrel.efi's. It runs the Kestrel.efi of the current folder and no other
# copy.
#
# Needs a UEFI Shell 2.0 or later (support level 3: if, exit /b).

if not exist Kestrel.efi then
  echo "   FAIL: there is no Kestrel.efi in %cwd% (status 0xE)"
  exit /b 0xE
endif
"%cwd%\Kestrel.efi" --from-script --inspect "%1" "%2" "%3" "%4" "%5" "%6" "%7" "%8" "%9"
exit /b %lasterror%
