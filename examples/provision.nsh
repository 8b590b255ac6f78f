@echo -off
#
# provision.nsh - program the board record of one Tarn board and check it, on the factory line.
#
#   provision.nsh SERIAL MM [CARRIER [BOARD FAB BOM]]
#   provision.nsh rework OLD-SERIAL SERIAL MM [CARRIER [BOARD FAB BOM]]
#
# SERIAL is the Pylon module's serial number, MM its MM number, CARRIER the serial number of the
# Sandrel carrier board it sits on ("none", or left out: the record marks it absent), BOARD, FAB
# and BOM its IDs in hexadecimal (all three, or none: an ID not given is stored as FFFFFFFF).
# Copy this script to the root of the station's FAT stick beside Kestrel.efi, boot the board to
# the UEFI shell, change to the stick (for example fs0:) and run it there.
#
# A new board is provisioned only over a blank GPP1 (Kestrel.efi --if-blank): a board that holds a
# record already is refused (status 0x15) and left as it is. Changing the record of a board that
# was provisioned before is a rework, asked for explicitly with the serial the board must hold now
# (Kestrel.efi --if-serial OLD-SERIAL); any other board is refused in the same way.
#
# Kestrel.efi itself keeps the files a station relies on, in the current folder of the stick:
#   SERIAL.bin     the whole GPP1 block 0 that the write replaced, as it was (--backup); put it
#                  back with "Kestrel.efi --restore SERIAL.bin". An existing SERIAL.bin is never
#                  overwritten: a second run for the same serial is refused (status 0x2) until
#                  the first one's file is moved away, so the block first replaced is never lost.
#   provision.log  one line per Kestrel.efi run (--log), JSON: the operation, the guard
#                  ("if-blank" for a new board, "if-serial" for a rework), the values asked, the
#                  record before and after, the status and the reason ("ok", "guard refused: GPP1
#                  is not blank", "GPP1 not found", "written, verify failed", ...). Kestrel.efi
#                  opens the log before it touches the board and reads its line back afterwards;
#                  a stick that is full or read-only ends the run with status 0x4A and the line
#                  "... not logged", so a board is never passed without its line.
#
# The script runs Kestrel.efi -w (which writes, reads the block back and compares it), then
# Kestrel.efi -r (which checks the CRC), and ends with a PASS or FAIL banner. Every value is
# handed over in quotes: a value that holds a space reaches Kestrel.efi as two words, which it
# refuses (status 0x2, logged), and nothing can stop the script itself.
#
# Exit status (%lasterror% in a calling script), the status of the Kestrel.efi run that failed:
#   0     PASS
#   0x2   bad arguments: SERIAL or MM missing, a value Kestrel.efi refuses, or SERIAL.bin exists
#   0x7   no GPP1: the eMMC's general purpose partition 1 was not found or could not be used
#   0x8   write-protected: the platform reports GPP1 write-protected; nothing was written
#   0x15  wrong board: GPP1 is not blank (new board) or not OLD-SERIAL's (rework); nothing written
#   0x1B  verify failed: the block read back after the write differs from what was written
#   0xA   verify failed: the record read back fails its CRC
#   0x4A  not logged: the stick could not take the log line (full or read-only)
#   any other: Kestrel.efi's own status (0x9 out of memory, a device error, ...)
#
# Needs a UEFI Shell 2.0 or later with the scripting commands of support level 3 (if/else,
# goto, set, shift, echo, exit /b), as built into the platform firmware.

# Variables left over from an earlier run in the same shell must not leak into this one.
set KP_STATUS 0x2
set KP_REASON "bad arguments"
set KP_JOB new
# The guard, without its dashes: set takes a word that starts with one for a flag of its own.
set KP_GUARD if-blank

# x%1 == x rather than "%1" == "": a value given in quotes keeps them, and would break the test.
if /i x%1 == xrework then
  if x%2 == x then
    goto usage
  endif
  set KP_JOB rework
  set KP_GUARD "if-serial %2"
  shift
  shift
endif
if x%1 == x then
  goto usage
endif
if x%2 == x then
  goto usage
endif
if not x%7 == x then
  goto usage
endif
if not x%4 == x then
  if x%6 == x then
    goto usage
  endif
endif

if /i x%3 == x then
  if x%4 == x then
    Kestrel.efi -w -p "%1" -m "%2" --%KP_GUARD% --backup "%1.bin" --log provision.log
  else
    Kestrel.efi -w -p "%1" -m "%2" -b "%4" -f "%5" -o "%6" --%KP_GUARD% --backup "%1.bin" --log provision.log
  endif
else
  if /i x%3 == xnone then
    if x%4 == x then
      Kestrel.efi -w -p "%1" -m "%2" --%KP_GUARD% --backup "%1.bin" --log provision.log
    else
      Kestrel.efi -w -p "%1" -m "%2" -b "%4" -f "%5" -o "%6" --%KP_GUARD% --backup "%1.bin" --log provision.log
    endif
  else
    if x%4 == x then
      Kestrel.efi -w -p "%1" -m "%2" -s "%3" --%KP_GUARD% --backup "%1.bin" --log provision.log
    else
      Kestrel.efi -w -p "%1" -m "%2" -s "%3" -b "%4" -f "%5" -o "%6" --%KP_GUARD% --backup "%1.bin" --log provision.log
    endif
  endif
endif
# Taken at once: every later command, set included, replaces %lasterror%.
set KP_STATUS %lasterror%
if /i not "%KP_STATUS%" == "0x0" then
  goto failed
endif

Kestrel.efi -r --log provision.log
set KP_STATUS %lasterror%
if /i not "%KP_STATUS%" == "0x0" then
  goto failed
endif

echo " "
echo "  ================================================================="
echo "   PPPPPP      AAA      SSSSSS    SSSSSS"
echo "   PP   PP    AA AA    SS        SS"
echo "   PPPPPP    AA   AA    SSSSS     SSSSS"
echo "   PP        AAAAAAA        SS        SS"
echo "   PP        AA   AA   SSSSSS    SSSSSS"
echo " "
echo "   PASS: %KP_JOB% board %1 provisioned and logged (MM %2)"
echo "  ================================================================="
exit /b 0

:usage
echo "usage: provision.nsh [rework OLD-SERIAL] SERIAL MM [CARRIER|none [BOARD FAB BOM]]"
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
      if /i "%KP_STATUS%" == "0x15" then
        set KP_REASON "wrong board for a %KP_JOB% board, nothing written"
      else
        if /i "%KP_STATUS%" == "0x1B" then
          set KP_REASON "verify failed"
        else
          if /i "%KP_STATUS%" == "0xA" then
            set KP_REASON "verify failed"
          else
            if /i "%KP_STATUS%" == "0x4A" then
              set KP_REASON "NOT LOGGED: the stick cannot take the log line"
            else
              set KP_REASON "Kestrel.efi status %KP_STATUS%"
            endif
          endif
        endif
      endif
    endif
  endif
endif

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
