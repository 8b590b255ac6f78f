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
#                  back with "Kestrel.efi --restore SERIAL.bin". A taken name is never overwritten:
#                  a second run for the same serial (a retry, a corrected MM) keeps its block in
#                  SERIAL-2.bin, SERIAL-3.bin, ... so the block first replaced is never lost.
#   provision.log  one line per Kestrel.efi run (--log), JSON: the operation, the guard
#                  ("if-blank" for a new board, "if-serial" for a rework), the values asked, the
#                  backup kept, the record before and after, the status and the reason ("ok",
#                  "guard refused: GPP1 is not blank", "write failed, GPP1 unchanged", ...).
#                  Kestrel.efi puts its line in the log before it touches the board and its
#                  outcome in that line afterwards, so a stick that cannot take it stops the run
#                  before the board is written, and one that fills up meanwhile still takes it.
#
# The script runs the Kestrel.efi of its own stick (the current folder; another copy the shell
# could find on its path is never run), writes the record (Kestrel.efi -w, which reads the block
# back and compares it), and ends with a proof: Kestrel.efi -r --if-serial SERIAL reads the record
# back, checks its CRC and refuses any record but SERIAL's. Only then does it say PASS: a value
# that turns the write into something else (-h, -c) cannot pass. Every value is handed over in
# quotes: a value that holds a space reaches Kestrel.efi as two words, which it refuses (status
# 0x2, logged). The shell itself takes ^ (it escapes the next character), " and % from a value
# before the script sees it: a station's pass is the status 0 and the PASS line in provision.log
# with the serial asked, not the banner alone.
#
# Exit status (%lasterror% in a calling script): the status of the Kestrel.efi run that failed.
#   0     PASS: the record written, verified, read back as SERIAL's with a good CRC, and logged
#   0x2   bad arguments: SERIAL or MM missing, or a value Kestrel.efi refuses; nothing written
#   0x7   no GPP1: the eMMC's general purpose partition 1 was not found; nothing written
#   0x8   write-protected: the platform reports GPP1 write-protected; nothing written
#   0x9   out of memory; nothing written
#   0xA   the record read back fails its CRC
#   0xE   there is no Kestrel.efi in the current folder; nothing run
#   0x15  wrong board: GPP1 is not blank (new board) or not OLD-SERIAL's (rework), nothing
#         written; or, at the proof, GPP1 does not hold SERIAL's record
#   0x1B  verify failed: the block read back after the write differs from what was written
#   0x40  the stick cannot keep the replaced block (SERIAL.bin); nothing written
#   0x41  GPP1 cannot be read; nothing written
#   0x42  the write failed; GPP1 is unchanged
#   0x43  written, but the device did not confirm it: run the same line again (it passes
#         without writing when the record is there)
#   0x44  the write failed and what GPP1 holds is unknown: read it (Kestrel.efi -r)
#   0x4B  NOT LOGGED: the stick cannot take the log line; nothing written
#   0x4C  written but NOT LOGGED: the stick could not take the outcome
#   any other: Kestrel.efi's own status
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

# The tool of this stick, by its full name (quoted: the folder may hold a space); the shell's
# path search would otherwise find another copy first, on another volume.
if not exist Kestrel.efi then
  set KP_STATUS 0xE
  set KP_REASON "there is no Kestrel.efi in %cwd%"
  goto banner
endif
set KP_TOOL "%cwd%\Kestrel.efi"
set KP_STEP write

if /i x%3 == x then
  if x%4 == x then
    "%KP_TOOL%" -w -p "%1" -m "%2" --%KP_GUARD% --backup "%1.bin" --log provision.log
  else
    "%KP_TOOL%" -w -p "%1" -m "%2" -b "%4" -f "%5" -o "%6" --%KP_GUARD% --backup "%1.bin" --log provision.log
  endif
else
  if /i x%3 == xnone then
    if x%4 == x then
      "%KP_TOOL%" -w -p "%1" -m "%2" --%KP_GUARD% --backup "%1.bin" --log provision.log
    else
      "%KP_TOOL%" -w -p "%1" -m "%2" -b "%4" -f "%5" -o "%6" --%KP_GUARD% --backup "%1.bin" --log provision.log
    endif
  else
    if x%4 == x then
      "%KP_TOOL%" -w -p "%1" -m "%2" -s "%3" --%KP_GUARD% --backup "%1.bin" --log provision.log
    else
      "%KP_TOOL%" -w -p "%1" -m "%2" -s "%3" -b "%4" -f "%5" -o "%6" --%KP_GUARD% --backup "%1.bin" --log provision.log
    endif
  endif
endif
# Taken at once: every later command, set included, replaces %lasterror%.
set KP_STATUS %lasterror%
if /i not "%KP_STATUS%" == "0x0" then
  goto failed
endif

# The proof: the record on the board is SERIAL's, and it passes its CRC check.
set KP_STEP proof
"%KP_TOOL%" -r --if-serial "%1" --log provision.log
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

# One reason a status, as the header lists them.
:failed
set KP_REASON "Kestrel.efi status %KP_STATUS%"
if /i "%KP_STATUS%" == "0x2" then
  set KP_REASON "bad arguments, nothing written"
endif
if /i "%KP_STATUS%" == "0x7" then
  set KP_REASON "no GPP1, nothing written"
endif
if /i "%KP_STATUS%" == "0x8" then
  set KP_REASON "write-protected, nothing written"
endif
if /i "%KP_STATUS%" == "0x9" then
  set KP_REASON "out of memory, nothing written"
endif
if /i "%KP_STATUS%" == "0xA" then
  set KP_REASON "the record read back fails its CRC"
endif
if /i "%KP_STATUS%" == "0x15" then
  set KP_REASON "wrong board for a %KP_JOB% board, nothing written"
  if /i "%KP_STEP%" == "proof" then
    set KP_REASON "GPP1 does not hold the record of %1"
  endif
endif
if /i "%KP_STATUS%" == "0x1B" then
  set KP_REASON "verify failed: the block read back differs"
endif
if /i "%KP_STATUS%" == "0x40" then
  set KP_REASON "the stick cannot keep the replaced block, nothing written"
endif
if /i "%KP_STATUS%" == "0x41" then
  set KP_REASON "GPP1 cannot be read, nothing written"
endif
if /i "%KP_STATUS%" == "0x42" then
  set KP_REASON "write failed, GPP1 unchanged"
endif
if /i "%KP_STATUS%" == "0x43" then
  set KP_REASON "written but unconfirmed: run the same line again"
endif
if /i "%KP_STATUS%" == "0x44" then
  set KP_REASON "write failed, GPP1 unknown: read it"
endif
if /i "%KP_STATUS%" == "0x4B" then
  set KP_REASON "NOT LOGGED, nothing written: the stick cannot take the log line"
endif
if /i "%KP_STATUS%" == "0x4C" then
  set KP_REASON "written but NOT LOGGED: the stick cannot take the log line"
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
