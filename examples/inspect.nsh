@echo -off
#
# inspect.nsh - save the board record of one Tarn board to a file named after its serial number.
#
#   inspect.nsh SERIAL
#
# Reads the record with Kestrel.efi --debug -r (the six fields and a hex dump of the 176 bytes)
# into SERIAL.txt in the current folder, as plain ASCII that any PC reads off the stick; an
# existing SERIAL.txt is replaced. SERIAL is the one on the board's label: the shell cannot take
# it out of the record itself. The file is written whatever the outcome, so a record that fails
# its CRC leaves the error in it.
#
# Exit status: 0 when the record was read and its CRC holds; 0x2 for a missing or extra argument;
# otherwise Kestrel.efi's own status (0x7 no GPP1, 0xA the record fails its CRC, ...).
#
# Needs a UEFI Shell 2.0 or later with the scripting commands of support level 3.

if "%1" == "" then
  goto usage
endif
if not "%2" == "" then
  goto usage
endif

Kestrel.efi --debug -r >a "%1.txt"
set KI_STATUS %lasterror%
if /i "%KI_STATUS%" == "0x0" then
  echo "Record of board %1 saved to %1.txt"
  exit /b 0
endif
echo "FAIL: reading the record of board %1 gave status %KI_STATUS%; see %1.txt"
exit /b %KI_STATUS%

:usage
echo "usage: inspect.nsh SERIAL"
exit /b 2
