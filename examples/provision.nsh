@echo -off
#
# provision.nsh - program the board record of one Tarn board and check it, on the factory line.
#
#   provision.nsh SERIAL MM [CARRIER]
#
# SERIAL is the Pylon module's serial number, MM its MM number, CARRIER the serial number of the
# Sandrel carrier board it sits on (left out: the record marks it absent). Copy this script to
# the root of a FAT stick beside Kestrel.efi, boot the board to the UEFI shell, change to the
# stick (for example fs0:) and run it there.
#
# The script writes the record (Kestrel.efi -w, which reads the block back and compares it),
# reads it back and checks its CRC (Kestrel.efi -r), appends one line for the board to
# provision.log in the current folder and ends with a PASS or FAIL banner. The log line holds the
# values, the status of each Kestrel.efi run ("none" for a run that did not happen) and the result:
#
#   serial=12345678 mm=09876 carrier=87654321 write=0x0 read=0x0 PASS
#   serial=12345678 mm=09876 carrier=none write=0x8 read=none FAIL write-protected
#
# A command line without SERIAL and MM touches no board and leaves no log line.
#
# The log line is written before the banner on purpose. A shell that cannot append to
# provision.log (a full or read-only stick) stops the script with "Unable to redirect file."
# and no banner at all, and the caller's %lasterror% is then that of the last Kestrel.efi run,
# which the shell keeps through echo, set, if and goto: never 0 for a board that failed.
#
# Exit status (%lasterror% in a calling script), the status of the Kestrel.efi run that failed:
#   0    PASS
#   0x2  bad arguments: SERIAL or MM missing, too many arguments, or a value Kestrel.efi refuses
#   0x7  no GPP1: the eMMC's general purpose partition 1 was not found or could not be opened
#   0x8  write-protected: the platform reports GPP1 write-protected; nothing was written
#   0x1B verify failed: the block read back after the write differs from what was written
#   0xA  verify failed: the record read back fails its CRC
#   any other: Kestrel.efi's own status (0x9 out of memory, a device error, ...)
#
# Needs a UEFI Shell 2.0 or later with the scripting commands of support level 3 (if/else,
# goto, set, echo, exit /b, >>a), as built into the platform firmware.

# Variables left over from an earlier run in the same shell must not leak into this one.
set KP_WRITE none
set KP_READ none
set KP_STATUS 0x2
set KP_REASON "bad arguments"
set KP_CARRIER none

if "%1" == "" then
  goto usage
endif
if "%2" == "" then
  goto usage
endif
if not "%4" == "" then
  goto usage
endif

if "%3" == "" then
  Kestrel.efi -w -p "%1" -m "%2"
else
  Kestrel.efi -w -p "%1" -m "%2" -s "%3"
endif
# Taken at once: every later command, set included, replaces %lasterror%.
set KP_WRITE %lasterror%
if not "%3" == "" then
  set KP_CARRIER "%3"
endif
if /i not "%KP_WRITE%" == "0x0" then
  set KP_STATUS %KP_WRITE%
  goto failed
endif

Kestrel.efi -r
set KP_READ %lasterror%
if /i not "%KP_READ%" == "0x0" then
  set KP_STATUS %KP_READ%
  goto failed
endif

echo "serial=%1 mm=%2 carrier=%KP_CARRIER% write=%KP_WRITE% read=%KP_READ% PASS" >>a provision.log
echo " "
echo "  ================================================================="
echo "   PPPPPP      AAA      SSSSSS    SSSSSS"
echo "   PP   PP    AA AA    SS        SS"
echo "   PPPPPP    AA   AA    SSSSS     SSSSS"
echo "   PP        AAAAAAA        SS        SS"
echo "   PP        AA   AA   SSSSSS    SSSSSS"
echo " "
echo "   PASS: board %1 provisioned (MM %2, carrier %KP_CARRIER%)"
echo "  ================================================================="
exit /b 0

:usage
echo "usage: provision.nsh SERIAL MM [CARRIER]"
goto banner

:failed
if /i "%KP_STATUS%" == "0x2" then
  set KP_REASON "bad arguments"
else
  if /i "%KP_STATUS%" == "0x7" then
    set KP_REASON "no GPP1"
  else
    if /i "%KP_STATUS%" == "0x8" then
      set KP_REASON write-protected
    else
      if /i "%KP_STATUS%" == "0x1B" then
        set KP_REASON "verify failed"
      else
        if /i "%KP_STATUS%" == "0xA" then
          set KP_REASON "verify failed"
        else
          set KP_REASON "Kestrel.efi status %KP_STATUS%"
        endif
      endif
    endif
  endif
endif
echo "serial=%1 mm=%2 carrier=%KP_CARRIER% write=%KP_WRITE% read=%KP_READ% FAIL %KP_REASON%" >>a provision.log

:banner
echo " "
echo "  ================================================================="
echo "   FFFFFFF     AAA     IIII   LL"
echo "   FF         AA AA     II    LL"
echo "   FFFFF     AA   AA    II    LL"
echo "   FF        AAAAAAA    II    LL"
echo "   FF        AA   AA   IIII   LLLLLLL"
echo " "
echo "   FAIL: %KP_REASON% (status %KP_STATUS%)"
echo "  ================================================================="
exit /b %KP_STATUS%
