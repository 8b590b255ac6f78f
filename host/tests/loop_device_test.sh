#!/usr/bin/env bash
# kestrel --device on real block devices: loop devices over files, with 512- and 4096-byte
# logical blocks, the kernel's read-only state as the write protection, and the same bytes on
# the medium as an image run leaves. A loop device is not GPP1: it is refused, whole disk or
# partition, unless --force; a hand-written sysfs tree (KESTREL_TEST_ROOT, a test hook) makes the
# kernel's word name one mmcblk0gp0 on PCI device 28 for the accepting path.
# Skipped (77) where no loop device can be set up.
# Usage: loop_device_test.sh KESTREL SOURCE-DIR BUILD-DIR
# shellcheck source=host/tests/checks.sh
source "$(dirname "$0")/checks.sh"
loops=()
at_exit() { # detaches exactly the devices this script set up
  for dev in "${loops[@]}"; do
    blockdev --setrw "$dev" 2>/dev/null
    losetup -d "$dev" 2>/dev/null
  done
}

for need in losetup blockdev; do command -v $need >/dev/null || skip "$need is not installed"; done
[ "$(id -u)" -eq 0 ] || skip "setting up a loop device needs root"

# attach FILE BLOCK-SIZE: prints the loop device; the caller records it in loops for at_exit.
attach() { losetup --find --show --sector-size "$2" "$1" 2>"$WORK/losetup.err"; }
hex() { od -An -tx1 | tr -d ' \n'; } # stdin as one line of hex digits

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
  old_block0=$(head -c "$bs" "$file" | hex)
  check "$bs: logical block size" "$bs" "$(blockdev --getss "$dev")"

  # The same write on the device and on an image of the same block size.
  runs 0 --device "$dev" --force --backup "$WORK/old-$bs.bin" "${write_args[@]}"
  check "$bs: --force warns" \
    "kestrel: warning: $dev is not eMMC GPP1 (the kernel calls it ${dev#/dev/}); used as GPP1 \
because of --force" \
    "$(err)"
  cp "$WORK/out" "$WORK/device-write.out"
  "$KESTREL" --image "$WORK/image-$bs.img" --block-size "$bs" "${write_args[@]}" \
    >"$WORK/image-write.out"
  # (but for the device run's line about its backup)
  ok "$bs: device and image runs print the same" cmp -s \
    <(grep -v '^- Saving GPP1 block 0 to ' "$WORK/device-write.out") "$WORK/image-write.out"
  ok "$bs: the backing file holds what the image run wrote" cmp -s "$file" "$WORK/image-$bs.img"
  check "$bs: backup is the old block 0" "$old_block0" "$(hex <"$WORK/old-$bs.bin")"
  check "$bs: blocks after 0 untouched" 0 "$(tail -c +$((bs + 1)) "$file" | tr -d '\125' | wc -c)"
  check "$bs: rest of block 0 zero" 0 "$(head -c "$bs" "$file" | tail -c +177 | tr -d '\0' | wc -c)"

  runs 0 --device "$dev" --force -r
  says '           Pylon BOM ID    0000003C'
  run --device "$dev" --force --json -r
  ok "$bs: json read" grep -q '"bom_id":60,.*"crc_matches":true}$' "$WORK/out"
  # The block kept by the write goes back, byte for byte.
  run --device "$dev" --force --restore "$WORK/old-$bs.bin"
  check "$bs: restore of the backup" "0 $old_block0" "$status $(head -c "$bs" "$file" | hex)"
  "$KESTREL" --device "$dev" --force "${write_args[@]}" >/dev/null 2>&1

  # The kernel's read-only state is the write protection.
  blockdev --setro "$dev"
  cp "$file" "$WORK/before"
  runs 8 --device "$dev" --force "${write_args[@]}"
  says 'ERROR: eMMC GPP1 is still write protected!'
  runs 8 --device "$dev" --force -c
  runs 0 --device "$dev" --force -r
  ok "$bs: read-only device unchanged" cmp -s "$file" "$WORK/before"
  blockdev --setrw "$dev"

  runs 0 --device "$dev" --force -c
  check "$bs: cleared block 0" 0 "$(head -c "$bs" "$file" | tr -d '\0' | wc -c)"

done

# --- Not GPP1: a whole disk with a partition table, and one of its partitions ---------------------
disk=$WORK/disk.img
truncate -s 16M "$disk"
python3 - "$disk" <<'EOF'
import struct, sys
# An MBR with a FAT partition at 1 MiB and a Linux one at 5 MiB, 4 MiB each.
with open(sys.argv[1], "r+b") as f:
    mbr = bytearray(512)
    for i, (start, count, kind) in enumerate([(2048, 8192, 0x0C), (10240, 8192, 0x83)]):
        mbr[446 + 16 * i:462 + 16 * i] = struct.pack("<B3sB3sII", 0, b"\xff" * 3, kind,
                                                     b"\xff" * 3, start, count)
    mbr[510:] = b"\x55\xaa"
    f.write(mbr)
    f.seek(2048 * 512)
    f.write(b"\xeb\x3c\x90MSDOS5.0" + bytes(499) + b"\x55\xaa")
EOF
if dev=$(losetup --find --show --partscan "$disk" 2>"$WORK/losetup.err"); then
  loops+=("$dev")
  # Kernels without a partition-table parser: the partitions added from user space.
  [ -b "${dev}p1" ] || partx --add "$dev" 2>/dev/null
  cp "$disk" "$WORK/disk-before"
  for target in "$dev" "${dev}p1"; do
    [ -b "$target" ] || { fail "$target: no partition device"; continue; }
    for op in -r -c "-w -p 12345678 -m 09876" "--json -r" "--backup $WORK/b.bin -c"; do
      # shellcheck disable=SC2086
      runs 7 --device "$target" $op
      check "$target $op: says what the kernel calls it" \
        "kestrel: $target is not eMMC GPP1 (the kernel calls it ${target#/dev/}); nothing was \
read or written" \
        "$(err)"
      check "$target $op: stdout" "" "$(out)"
    done
  done
  ok "refused disk and partition: nothing changed" cmp -s "$disk" "$WORK/disk-before"
  ok "refused with --backup: no backup made" [ ! -e "$WORK/b.bin" ]
fi

# --- GPP1 as the kernel names it, through a hand-written sysfs ----------------------------------
# The loop device's own device number leads into a sysfs tree that describes an eMMC card; the
# rule runs on it unchanged (its other paths are front_end_test's BlockDeviceIdentity rows). Each
# row: the device's path under sys/devices, and the status of a write through --device and of a
# read through the default search.
gpp=$WORK/gpp.img
head -c 4096 /dev/zero >"$gpp"
if dev=$(attach "$gpp" 512); then
  loops+=("$dev")
  root=$WORK/root
  number=$(($(stat -c '0x%t' "$dev"))):$(($(stat -c '0x%T' "$dev")))
  card=mmc_host/mmc0/mmc0:0001/block
  while read -r path write read; do
    rm -rf "$root"
    mkdir -p "$root/dev" "$root/sys/dev/block" "$root/sys/devices/$path"
    echo 0 >"$root/sys/devices/$path/ro"
    ln -s "../../devices/$path" "$root/sys/dev/block/$number"
    ln -s "$dev" "$root/dev/mmcblk0gp0"
    name=${path##*/}
    KESTREL_TEST_ROOT=$root run --device "$dev" -w -p "P$write" -m 09876
    check "$path: write" "$write" "$status"
    if [ "$write" = 0 ]; then
      check "$path: no warning" "" "$(err)"
      check "$path: written" "P0" "$(head -c 82 "$gpp" | tail -c 2)"
    else
      ok "$path: refusal names $name" \
        grep -q "^kestrel: $dev is not eMMC GPP1 (the kernel calls it $name" "$WORK/err"
    fi
    KESTREL_TEST_ROOT=$root run -r
    check "$path: default search" "$read" "$status"
    [ "$read" = 7 ] && ok "$path: default search skips it" \
      grep -q "^kestrel: skipped $root/dev/mmcblk0gp0: not eMMC GPP1" "$WORK/err"
    head -c 512 /dev/zero | dd of="$gpp" conv=notrunc status=none
  done <<EOF
pci0000:00/0000:00:1c.0/$card/mmcblk0gp0 0 0
pci0000:00/0000:00:14.0/0000:01:1c.0/$card/mmcblk0gp0 7 7
EOF
fi

# --- Runs at once on one device -----------------------------------------------------------------
if [ -n "${dev:-}" ]; then
  race "$gpp" --device "$dev" --force
fi

summary
