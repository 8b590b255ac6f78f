#!/usr/bin/env bash
# The same sessions through kestrel --image and through Kestrel.efi on the simulated board under
# QEMU and OVMF (e2e/kestrel-qemu): identical console output, identical statuses and identical
# GPP1 images afterwards. Skipped (77) where the runner, the UEFI images, QEMU or OVMF are missing.
# Usage: qemu_equivalence_test.sh KESTREL SOURCE-DIR BUILD-DIR
set -uo pipefail
KESTREL=$1
SRC=$2
BUILD=$3
RUNNER=$SRC/e2e/kestrel-qemu
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

skip() {
  echo "SKIPPED: $*"
  exit 77
}
[ -x "$RUNNER" ] || skip "the end-to-end runner e2e/kestrel-qemu is not in this tree"
[ -f "$BUILD/Kestrel.efi" ] || skip "Kestrel.efi was not built in $BUILD"
[ -f "$BUILD/SimBoard.efi" ] || skip "the simulated-board driver SimBoard.efi was not built in $BUILD"
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed"
[ -f /usr/share/OVMF/OVMF_CODE_4M.fd ] || skip "OVMF is not installed"
export KESTREL_EFI=$BUILD/Kestrel.efi KESTREL_BOARD_DRIVER=$BUILD/SimBoard.efi

# Statuses as decimal numbers: the shell shows %lasterror% in hexadecimal (0x0, 0xA).
normalize() { # normalize FILE: the transcript with status lines in decimal
  while IFS= read -r line; do
    if [[ $line =~ ^===\ status\ 0[xX]([0-9A-Fa-f]+)$ ]]; then
      echo "=== status $((16#${BASH_REMATCH[1]}))"
    else
      printf '%s\n' "$line"
    fi
  done <"$1"
}

# kestrel_session IMAGE FRONT-END-OPTIONS -- ARGS...: the runner's transcript format, from kestrel.
kestrel_session() {
  local image=$1 front=()
  shift
  while [ "$1" != "--" ]; do
    front+=("$1")
    shift
  done
  shift
  local args
  for args in "$@"; do
    if [ -z "$args" ]; then echo "=== Kestrel.efi"; else echo "=== Kestrel.efi $args"; fi
    # shellcheck disable=SC2086 # ARGS is a command line: split into words as the shell does
    "$KESTREL" --image "$image" "${front[@]}" -- $args
    echo "=== status $?"
  done
}

failures=0
checks=0
# session NAME BLOCK-SIZE WRITE-PROTECT ARGS...: one boot under QEMU, the same under kestrel.
session() {
  local name=$1 bs=$2 wp=$3
  shift 3
  local qemu_opts=(--block-size "$bs") host_opts=(--block-size "$bs")
  if [ "$wp" = 1 ]; then
    qemu_opts+=(--write-protect)
    host_opts+=(--write-protect)
  fi
  if ! "$RUNNER" --gpp1 "$WORK/qemu.img" "${qemu_opts[@]}" -- "$@" >"$WORK/$name.qemu.raw" \
    2>"$WORK/$name.qemu.err"; then
    echo "FAIL: $name: the QEMU run failed:"
    cat "$WORK/$name.qemu.err"
    failures=$((failures + 1))
    return
  fi
  normalize "$WORK/$name.qemu.raw" >"$WORK/$name.qemu"
  kestrel_session "$WORK/host.img" "${host_opts[@]}" -- "$@" >"$WORK/$name.host" 2>"$WORK/$name.host.err"
  checks=$((checks + 2))
  if ! diff -u "$WORK/$name.qemu" "$WORK/$name.host"; then
    echo "FAIL: $name: console output or statuses differ (- QEMU, + kestrel)"
    failures=$((failures + 1))
  fi
  if ! cmp "$WORK/qemu.img" "$WORK/host.img"; then
    echo "FAIL: $name: the GPP1 images differ"
    failures=$((failures + 1))
  fi
  [ -s "$WORK/$name.host.err" ] && echo "note: $name: kestrel's stderr: $(cat "$WORK/$name.host.err")"
  echo "$name: $(grep -c '^=== Kestrel.efi' "$WORK/$name.host") commands compared"
}

# A GPP1 full of a pattern that is no valid record, so the first read fails its CRC check.
new_images() {
  head -c $(($1 * 8)) /dev/zero | tr '\0' '\132' >"$WORK/qemu.img"
  cp "$WORK/qemu.img" "$WORK/host.img"
}

new_images 512
session writable-512 512 0 \
  "-r" \
  "-w -p 12345678 -s 87654321 -m 09876 -b 1A -f 0x2 -o 3c" \
  "-r" \
  "-r --debug" \
  "-W -P ABCDEFGHIJKLMNOPQRSTU -M mm-1 --DEBUG" \
  "-x --read" \
  "-w -r" \
  "-w -p 1 -m 2 -b -f" \
  "" \
  "-c" \
  "-r" \
  "-w -p 12345678 -m 09876"
session protected-512 512 1 \
  "-w -p 99999999 -m 11111" \
  "-c" \
  "-c --debug" \
  "-r"

# Refused writes and clears, on a write-protected board whose block 0 is a torn clear: length and
# CRC zero with one byte left, which is no record.
new_images 512
printf '\0%.0s' $(seq 100) | cat - <(printf 'Z') <(head -c 411 /dev/zero) <(tail -c +513 "$WORK/qemu.img") \
  >"$WORK/torn.img"
cp "$WORK/torn.img" "$WORK/qemu.img"
cp "$WORK/torn.img" "$WORK/host.img"
session refusals-512 512 1 \
  "-r" \
  "-x -r" \
  "-w -p 1 -m 2 --sandral 789" \
  "-c --frob" \
  '-w -p AB$CD -m 2' \
  "-w -p 1 -m 2 -s caf€" \
  "-w -p 1 -m 2 -o 0x" \
  "-w -p 1 -m 2 -f 10000000000000000"
checks=$((checks + 1))
cmp -s "$WORK/qemu.img" "$WORK/torn.img" || {
  echo "FAIL: a refusal changed GPP1"
  failures=$((failures + 1))
}

new_images 4096
session writable-4096 4096 0 \
  "-w -p 4096 -m 4k --debug" \
  "-r" \
  "-c --debug"

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
