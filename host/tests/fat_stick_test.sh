#!/usr/bin/env bash
# A service engineer's FAT stick, mounted with Debian's fusefat (a file system without link(),
# and, like every FUSE one, without renameat2's RENAME_NOREPLACE): backups made whole and put
# back byte for byte, failures that name the backup and leave nothing behind, and one parsable
# run-log line per run, on a roomy, a full and a read-only stick.
# Usage: fat_stick_test.sh KESTREL SOURCE-DIR BUILD-DIR
# shellcheck source=host/tests/checks.sh
source "$(dirname "$0")/checks.sh"
BUILD=$3
MNT=$WORK/mnt
at_exit() { mountpoint -q "$MNT" 2>/dev/null && fusermount -u "$MNT"; }

# This test needs FUSE: a machine without it fails here and says why, rather than passing quietly.
for need in fusefat fusermount mkfs.fat python3; do
  command -v "$need" >/dev/null ||
    { echo "FAIL: $need is not installed (scripts/install-deps)"; exit 1; }
done
[ -c /dev/fuse ] && [ -w /dev/fuse ] || {
  echo "FAIL: /dev/fuse is missing or not writable here, so a FAT stick cannot be mounted"
  exit 1
}

# mount_stick KIND: a fresh 1 MB FAT stick, roomy, full (a filler takes all but a few bytes) or
# mounted read-only; or a plain folder of the machine's own file system.
mount_stick() {
  mountpoint -q "$MNT" 2>/dev/null && fusermount -u "$MNT"
  rm -rf "$WORK/stick.img" "$MNT"
  mkdir -p "$MNT"
  if [ "$1" = folder ]; then
    printf '{}\n' >"$MNT/run.log"
    return 0
  fi
  truncate -s 1M "$WORK/stick.img"
  mkfs.fat "$WORK/stick.img" >/dev/null
  local mode=rw+
  [ "$1" = readonly ] && mode=ro
  fusefat -o "$mode" "$WORK/stick.img" "$MNT" >/dev/null 2>&1 ||
    { fail "fusefat cannot mount"; return 1; }
  [ "$1" = readonly ] || printf '{}\n' >"$MNT/run.log"
  if [ "$1" = full ]; then
    head -c $((2 * 1024 * 1024)) /dev/zero >"$MNT/filler" 2>/dev/null
    printf '{}\n' >>"$MNT/run.log" 2>/dev/null
  fi
  return 0
}

img=$WORK/gpp1.img
truncate -s 64K "$img"
"$KESTREL" --image "$img" -w -p 11111111 -m 09876 -s 55555555 >/dev/null
cp "$img" "$WORK/provisioned.img"
head -c 512 "$img" >"$WORK/block0"

# The log's lines are checked on a FAT stick and on a plain folder.
# Each row: stick | kestrel's tool arguments (old.bin and run.log on the stick) | status |
# old.bin afterwards (block0: the old block 0, none: absent) | image afterwards (same: as before,
# written: as a plain write leaves it) | reason in the run log (- when the run is not logged).
cp "$img" "$WORK/written.img"
"$KESTREL" --image "$WORK/written.img" -w -p 22222222 -m 1 >/dev/null
while IFS='|' read -r stick args want_status want_backup want_image want_reason; do
  cp "$WORK/provisioned.img" "$img"
  mount_stick "$stick" || continue
  eval "set -- $args"
  "$KESTREL" --image "$img" "$@" >"$WORK/out" 2>"$WORK/err"
  status=$?
  name="$stick: $args"
  check "$name: status" "$want_status" "$status"
  case $want_backup in
  block0) cmp -s "$MNT/old.bin" "$WORK/block0" || fail "$name: old.bin is not the old block 0" ;;
  none) [ ! -e "$MNT/old.bin" ] || fail "$name: a backup was left" ;;
  esac
  check "$name: no temporary left" "" "$(ls -A "$MNT" | grep '^\.' )"
  case $want_image in
  same) cmp -s "$img" "$WORK/provisioned.img" || fail "$name: the image changed" ;;
  written) cmp -s "$img" "$WORK/written.img" || fail "$name: the image is not the record asked" ;;
  esac
  if [ "$want_status" != 0 ] && [ "$want_status" != 21 ] && [ "$want_reason" = - ]; then
    grep -q "old.bin\|run.log" "$WORK/out" || fail "$name: the failure does not name the file"
    grep -q "gpp1.img" "$WORK/out" "$WORK/err" && fail "$name: the failure names the medium"
  fi
  if [ "$want_reason" != - ]; then
    # The earlier line, then one line for this run, with the record before and after.
    reason=$(tail -n 1 "$MNT/run.log" | python3 -c '
import json, sys
line = json.loads(sys.stdin.read())
print(line["status"], line["reason"], (line["before"] or {}).get("module_serial", "-").strip(),
      (line["after"] or {}).get("module_serial", "-").strip())')
    check "$name: log line" "$want_reason" "$reason"
  fi
done <<'ROWS'
roomy|--backup "$MNT/old.bin" -w -p 22222222 -m 1|0|block0|written|-
roomy|--backup "$MNT/old.bin" -w -p 22222222 -m 1 --if-blank|21|none|same|-
roomy|--log "$MNT/run.log" -w -p 22222222 -m 1|0|none|written|0 ok 11111111 22222222
folder|--backup "$MNT/old.bin" --log "$MNT/run.log" -w -p 22222222 -m 1 --if-serial 11111111|0|block0|written|0 ok 11111111 22222222
folder|--backup "$MNT/old.bin" --log "$MNT/run.log" -w -p 22222222 -m 1 --if-blank|21|none|same|21 guard refused: GPP1 is not blank 11111111 -
folder|--log "$MNT/run.log" -r|0|none|same|0 ok 11111111 -
folder|--log "$MNT/run.log" -w -p "1 2" -m ""|2|none|same|2 bad arguments - -
full|--backup "$MNT/old.bin" -w -p 22222222 -m 1|64|none|same|-
full|--log "$MNT/run.log" -w -p 22222222 -m 1|75|none|same|-
readonly|--backup "$MNT/old.bin" -w -p 22222222 -m 1|64|none|same|-
readonly|--log "$MNT/run.log" -w -p 22222222 -m 1|75|none|same|-
ROWS

# A backup made on the stick and put back: GPP1 byte for byte as it was.
cp "$WORK/provisioned.img" "$img"
mount_stick roomy
"$KESTREL" --image "$img" --backup "$MNT/old.bin" -c >/dev/null
check "clear with backup" 0 "$?"
"$KESTREL" --image "$img" --restore "$MNT/old.bin" >"$WORK/out"
check "restore from the stick" 0 "$?"
cmp -s "$img" "$WORK/provisioned.img" || fail "restore did not give the image back byte for byte"
grep -q "Pylon Serial   #11111111" "$WORK/out" || fail "restore does not show the record"

# The stick maker on a mounted FAT stick: the image and the arguments file in \EFI\BOOT, whole.
mount_stick roomy
"$KESTREL" --make-stick --efi "$BUILD/Kestrel.efi" "$MNT" -- --wait 0 --then off --provision >/dev/null
check "a stick laid out on FAT" "0 --wait 0 --then off --provision" \
  "$? $(tr -d '\r' <"$MNT/EFI/BOOT/kestrel.args")"
cmp -s "$MNT/EFI/BOOT/BOOTX64.EFI" "$BUILD/Kestrel.efi" || fail "the stick's boot image is not the tool"
check "a stick laid out on FAT: no temporary left" "" "$(ls -A "$MNT/EFI/BOOT" | grep '^\.')"

summary
