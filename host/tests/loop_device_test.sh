#!/usr/bin/env bash
# kestrel --device on real block devices: loop devices over files, with 512- and 4096-byte
# logical blocks, the kernel's read-only state as the write protection, and the same bytes on
# the medium as an image run leaves. Skipped (77) where no loop device can be set up.
# Usage: loop_device_test.sh KESTREL SOURCE-DIR BUILD-DIR
set -uo pipefail
KESTREL=$1
WORK=$(mktemp -d)
loops=()
cleanup() {
  for dev in "${loops[@]}"; do
    blockdev --setrw "$dev" 2>/dev/null
    losetup -d "$dev" 2>/dev/null
  done
  rm -rf "$WORK"
}
trap cleanup EXIT
failures=0
checks=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {
  checks=$((checks + 1))
  [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"
}
ok() {
  local what=$1
  shift
  checks=$((checks + 1))
  "$@" || fail "$what"
}
run() {
  "$KESTREL" "$@" >"$WORK/out" 2>"$WORK/err"
  status=$?
}
skip() {
  echo "SKIPPED: $*"
  exit 77
}

if ! command -v losetup >/dev/null || ! command -v blockdev >/dev/null; then
  skip "losetup/blockdev not installed"
fi
if [ "$(id -u)" -ne 0 ]; then
  skip "setting up a loop device needs root"
fi

# attach FILE BLOCK-SIZE: prints the loop device; the caller records it for the clean-up, which
# detaches exactly the devices this script set up.
attach() { losetup --find --show --sector-size "$2" "$1" 2>"$WORK/losetup.err"; }

write_args=(-w -p 12345678 -s 87654321 -m 09876 -b 1A -f 2 -o 3C)

for bs in 512 4096; do
  file=$WORK/backing-$bs.img
  head -c $((bs * 8)) /dev/zero | tr '\0' '\125' >"$file"
  cp "$file" "$WORK/image-$bs.img"
  if ! dev=$(attach "$file" "$bs"); then
    [ "$bs" = 512 ] && skip "no loop device could be set up: $(cat "$WORK/losetup.err")"
    echo "note: no loop device with $bs-byte sectors: $(cat "$WORK/losetup.err")"
    continue
  fi
  loops+=("$dev")
  old_block0=$(head -c "$bs" "$file" | od -An -tx1 | tr -d ' \n')
  check "$bs: logical block size" "$bs" "$(blockdev --getss "$dev")"

  # The same write on the device and on an image of the same block size.
  run --device "$dev" --backup "$WORK/old-$bs.bin" "${write_args[@]}"
  check "$bs: device write status" 0 "$status"
  check "$bs: device write stderr" "" "$(cat "$WORK/err")"
  cp "$WORK/out" "$WORK/device-write.out"
  "$KESTREL" --image "$WORK/image-$bs.img" --block-size "$bs" "${write_args[@]}" >"$WORK/image-write.out"
  # (but for the device run's line about its backup)
  ok "$bs: device and image runs print the same" cmp -s \
    <(grep -v '^- Saving GPP1 block 0 to ' "$WORK/device-write.out") "$WORK/image-write.out"
  ok "$bs: the backing file holds what the image run wrote" cmp -s "$file" "$WORK/image-$bs.img"
  check "$bs: backup is the old block 0" "$old_block0" "$(od -An -tx1 "$WORK/old-$bs.bin" | tr -d ' \n')"
  check "$bs: blocks after 0 untouched" 0 "$(tail -c +$((bs + 1)) "$file" | tr -d '\125' | wc -c)"
  check "$bs: rest of block 0 zero" 0 "$(head -c "$bs" "$file" | tail -c +177 | tr -d '\0' | wc -c)"

  run --device "$dev" -r
  check "$bs: device read status" 0 "$status"
  ok "$bs: device read shows the record" grep -qx '           Pylon BOM ID    0000003C' "$WORK/out"
  run --device "$dev" --json -r
  ok "$bs: json read" grep -q '"bom_id":60,.*"crc_matches":true}$' "$WORK/out"

  # The kernel's read-only state is the write protection.
  blockdev --setro "$dev"
  cp "$file" "$WORK/before"
  run --device "$dev" "${write_args[@]}"
  check "$bs: write on a read-only device" 8 "$status"
  ok "$bs: refusal line" grep -qx 'ERROR: eMMC GPP1 is still write protected!' "$WORK/out"
  run --device "$dev" -c
  check "$bs: clear on a read-only device" 8 "$status"
  run --device "$dev" -r
  check "$bs: read on a read-only device" 0 "$status"
  ok "$bs: read-only device unchanged" cmp -s "$file" "$WORK/before"
  blockdev --setrw "$dev"

  run --device "$dev" -c
  check "$bs: clear" 0 "$status"
  check "$bs: cleared block 0" 0 "$(head -c "$bs" "$file" | tr -d '\0' | wc -c)"

  run --device "$dev" --block-size "$bs" -r
  check "$bs: --block-size with --device" 2 "$status"
done

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
