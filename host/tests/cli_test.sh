#!/usr/bin/env bash
# The kestrel executable as a script sees it: stdout, stderr and exit statuses of whole
# invocations on image files, the front-end errors, and the installed files.
# Usage: cli_test.sh KESTREL SOURCE-DIR BUILD-DIR
set -uo pipefail
KESTREL=$1
BUILD=$3
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
checks=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { # check DESCRIPTION EXPECTED ACTUAL
  checks=$((checks + 1))
  [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"
}
ok() { # ok DESCRIPTION COMMAND...: the command succeeds
  local what=$1
  shift
  checks=$((checks + 1))
  "$@" || fail "$what"
}
# run ARGS...: sets status, out (file), err (file)
run() {
  "$KESTREL" "$@" >"$WORK/out" 2>"$WORK/err"
  status=$?
}

img=$WORK/gpp1.img
head -c 4096 /dev/zero | tr '\0' '\356' >"$img"

# --- The tool through the front end ------------------------------------------------------------
run --image "$img" -w -p 12345678 -s 87654321 -m 09876 -b 1A
check "write status" 0 "$status"
check "write stderr" "" "$(cat "$WORK/err")"
check "write ends in success" "Operation successful!" "$(tail -n 1 "$WORK/out")"
check "no carriage returns" 0 "$(tr -cd '\r' <"$WORK/out" | wc -c)"
check "record signature" '$Eeprom$' "$(head -c 8 "$img")"
check "rest of block 0 zero" 0 "$(tail -c +177 "$img" | head -c 336 | tr -d '\0' | wc -c)"
check "blocks after 0 untouched" 0 "$(tail -c 3584 "$img" | tr -d '\356' | wc -c)"

run --image "$img" -r
check "read status" 0 "$status"
ok "read shows the board ID" grep -qx '           Pylon Board ID  0000001A' "$WORK/out"

run --image "$img" -x -r
check "unknown tool option still reads" 0 "$status"
ok "tool reports unknown option" grep -q '^Unknown! - Argv\[1\]: "-x"$' "$WORK/out"

run --image "$img"
check "no tool option" 2 "$status"
ok "tool reports no option" grep -qx 'ERROR: Invalid CLI option(s)!' "$WORK/out"

run --image "$img" -w -p 1
check "write without MM" 2 "$status"

cp "$img" "$WORK/before"
run --image "$img" --write-protect -c
check "protected clear" 8 "$status"
ok "protected clear changed the image" cmp -s "$img" "$WORK/before"

run --image "$img" --json -r
check "json status" 0 "$status"
check "json is one line" 1 "$(wc -l <"$WORK/out")"
ok "json object: $(cat "$WORK/out")" grep -q '^{"module_serial":"12345678        ",.*"board_id":26,"board_id_text":"0000001A",.*"crc_matches":true}$' \
  "$WORK/out"
ok "json run's console on stderr" grep -q 'Operation successful!' "$WORK/err"

run --image "$img" --backup "$WORK/old.bin" -c
check "clear with backup" 0 "$status"
ok "backup holds the old block 0" cmp -s <(head -c 512 "$WORK/before") "$WORK/old.bin"
check "cleared block 0" 0 "$(head -c 512 "$img" | tr -d '\0' | wc -c)"

run --image "$img" -- -h
check "help after --" 0 "$status"
ok "help text" grep -q 'Kestrel.efi is a tool to manipulate' "$WORK/out"

# --- Front-end errors: one line on stderr, status 2, nothing written or printed ----------------
head -c 1000 /dev/zero >"$WORK/odd.img"
cp "$img" "$WORK/before"
: >"$WORK/exists.bin"
while IFS= read -r line; do
  eval "set -- $line"
  run "$@"
  check "front-end error status: $line" 2 "$status"
  check "front-end error stdout: $line" "" "$(cat "$WORK/out")"
  check "front-end error is one line: $line" 1 "$(wc -l <"$WORK/err")"
  ok "front-end error names the program: $line" grep -q '^kestrel: ' "$WORK/err"
done <<EOF
--image "$WORK/missing.img" -w -p 1 -m 2
--image "$WORK/odd.img" -w -p 1 -m 2
--image "$img" --block-size 3000 -c
--image "$img" --frobnicate -c
--image "$img" --device /dev/null -c
--device "$img" -c
--device "$WORK/missing" -r
--image "$img" --backup "$WORK/exists.bin" -c
-c --image "$img"
--image
EOF
ok "a front-end error changed the image" cmp -s "$img" "$WORK/before"
check "odd image untouched" 1000 "$(stat -c %s "$WORK/odd.img")"

# --- No GPP1 at all ---------------------------------------------------------------------------
if ls /dev/mmcblk*gp0 >/dev/null 2>&1; then
  echo "note: this machine has an eMMC GPP1; the no-GPP1 case is not run"
else
  run -r
  check "no GPP1 status" 7 "$status"
  ok "no GPP1 message" grep -qx 'ERROR: Failed to find partition!' "$WORK/out"
fi

# --- Installation -------------------------------------------------------------------------------
if cmake --install "$BUILD" --prefix "$WORK/prefix" >/dev/null; then
  ok "installed executable" [ -x "$WORK/prefix/bin/kestrel" ]
  ok "installed man page" [ -f "$WORK/prefix/share/man/man8/kestrel.8" ]
  if command -v groff >/dev/null; then
    warnings=$(groff -t -man -ww -z "$WORK/prefix/share/man/man8/kestrel.8" 2>&1)
    check "man page renders cleanly" "" "$warnings"
  fi
else
  checks=$((checks + 1))
  fail "cmake --install"
fi

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
