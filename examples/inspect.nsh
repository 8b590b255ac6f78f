@echo -off
#
# inspect.nsh - save the board record of one Tarn board to a file named after its serial number.
#
#   inspect.nsh SERIAL
#
# Kestrel.efi -r reads the record and saves it itself (--log) as one JSON line appended to
# SERIAL.json in the current folder: the record's texts, IDs and CRC as stored (a record that
# fails its CRC included, with "crc_matches":false), which any PC reads off the stick. Kestrel.efi
# puts its line in the file before it reads GPP1 and reads it back; a stick that cannot take it
# (full or read-only) ends the run with status 0x4B and the script says that nothing was saved.
# It runs the Kestrel.efi of its own stick (the current folder), never another copy on the
# shell's path. SERIAL is the one on the board's
# label: the shell cannot take it out of the record itself.
#
# Exit status: 0 when the record was read, its CRC holds and it was saved; 0x2 for a missing or
# extra argument; 0xE when there is no Kestrel.efi in the current folder; otherwise Kestrel.efi's
# own status (0x7 no GPP1, 0xA the record fails its CRC but was saved, 0x41 GPP1 cannot be read,
# 0x4B nothing saved, ...).
#
# Needs a UEFI Shell 2.0 or later with the scripting commands of support level 3.

# x%1 == x rather than "%1" == "": a value given in quotes keeps them, and would break the test.
if x%1 == x then
  goto usage
endif
if not x%2 == x then
  goto usage
endif

if not exist Kestrel.efi then
  echo "FAIL: there is no Kestrel.efi in %cwd%"
  exit /b 0xE
endif
"%cwd%\Kestrel.efi" --debug -r --log "%1.json"
set KI_STATUS %lasterror%
if /i "%KI_STATUS%" == "0x0" then
  echo "Record of board %1 saved to %1.json"
  exit /b 0
endif
if /i "%KI_STATUS%" == "0x4B" then
  echo "FAIL: the record of board %1 was NOT saved: the stick cannot take %1.json"
  exit /b %KI_STATUS%
endif
echo "FAIL: reading the record of board %1 gave status %KI_STATUS%; the run is saved in %1.json"
exit /b %KI_STATUS%

:usage
echo "usage: inspect.nsh SERIAL"
exit /b 2
