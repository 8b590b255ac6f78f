#!/usr/bin/env bash
# The kestrel executable around the tool: closed and failing standard streams, runs stopped at a
# system call, the lock between processes, and the installed files. (What the tool and the front
# end say and leave on image files is checked in process by front_end_test's ImageRun suite.)
# Usage: cli_test.sh KESTREL SOURCE-DIR BUILD-DIR
# shellcheck source=host/tests/checks.sh
source "$(dirname "$0")/checks.sh"
BUILD=$3

# --- Standard streams -----------------------------------------------------------------------------
# Whatever descriptors the caller closed, the medium never becomes one of them: block 0 holds
# exactly the asked record and nothing else of the image changes.
pattern=$WORK/pattern.img
head -c 4096 /dev/zero | tr '\0' '\245' >"$pattern"
cp "$pattern" "$WORK/ref.img"
"$KESTREL" --image "$WORK/ref.img" -w -p AAAA -m BBBB >/dev/null 2>&1
closing=('<&- >/dev/null 2>&1' '>&- 2>/dev/null' '2>&- >/dev/null')
for closed in 0 1 2; do
  cp "$pattern" "$WORK/c.img"
  eval "\"\$KESTREL\" --image \"\$WORK/c.img\" --json --debug -w -p AAAA -m BBBB" \
    "${closing[$closed]}"
  check "write with descriptor $closed closed" 0 "$?"
  ok "descriptor $closed closed: the image holds exactly the record" \
    cmp -s "$WORK/c.img" "$WORK/ref.img"
done
cp "$pattern" "$WORK/c.img"
"$KESTREL" --image "$WORK/c.img" --backup "$WORK/nodir/x" -w -p 1 -m 2 >&- 2>&-
check "refused backup with stdout and stderr closed" 64 "$?"
ok "refused backup left the image alone" cmp -s "$WORK/c.img" "$pattern"

# Output that cannot be written is said on the stream that still works, with the outcome.
cp "$pattern" "$WORK/c.img"
"$KESTREL" --image "$WORK/c.img" -w -p AAAA -m BBBB >/dev/full 2>"$WORK/err"
check "stdout full: status" 74 "$?"
check "stdout full: report" "kestrel: the record was written and verified, but standard output \
failed: No space left on device" "$(err)"
ok "stdout full: the record was written" cmp -s "$WORK/c.img" "$WORK/ref.img"
python3 -c '
import os, subprocess, sys
r, w = os.pipe()
os.close(r)
p = subprocess.run(sys.argv[1:], stdout=w, stderr=subprocess.PIPE)
print(p.returncode, p.stderr.decode().strip())' "$KESTREL" --image "$WORK/c.img" -r >"$WORK/out"
check "closed pipe" "74 kestrel: the tool succeeded and wrote nothing, but standard output \
failed: Broken pipe" "$(out)"

# A FIFO is no image, and looking at it must not wait for a writer.
mkfifo "$WORK/fifo"
timeout 10 "$KESTREL" --image "$WORK/fifo" -r >"$WORK/out" 2>"$WORK/err"
check "FIFO as image" 2 "$?"
check "FIFO refusal" "kestrel: image $WORK/fifo is not a regular file" "$(err)"

# --- Runs stopped at a system call (strace's fault injection) ------------------------------------
if ! command -v strace >/dev/null || ! strace -o /dev/null true 2>/dev/null; then
  echo "note: strace cannot trace here; the killed-backup and signal cases are not run"
else
  # SIGKILL on entry to each system call of the backup and of the write: afterwards the backup is
  # absent or holds the whole of the old block 0, and never stands in the next run's way half-made.
  head -c 512 "$pattern" >"$WORK/old-block0"
  for step in pwrite64:when=1 fsync:when=1 link,linkat:when=1 fsync:when=2 pwrite64:when=2 \
    fsync:when=3; do
    cp "$pattern" "$WORK/k.img"
    rm -f "$WORK/kill/"* 2>/dev/null
    mkdir -p "$WORK/kill"
    # (LeakSanitizer cannot run under ptrace.)
    (ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e "trace=${step%%:*}" \
      -e "inject=${step%%:*}:signal=KILL:${step#*:}" \
      "$KESTREL" --image "$WORK/k.img" --backup "$WORK/kill/b.bin" -w -p AAAA -m BBBB
      echo $? >"$WORK/killed") >/dev/null 2>&1
    check "killed at $step" 137 "$(cat "$WORK/killed")"
    check "killed at $step: nothing hidden left" "" "$(ls -A "$WORK/kill" | grep '^\.')"
    if [ -e "$WORK/kill/b.bin" ]; then
      ok "killed at $step: the backup is whole" cmp -s "$WORK/kill/b.bin" "$WORK/old-block0"
    else
      cp "$pattern" "$WORK/k.img"
      run --image "$WORK/k.img" --backup "$WORK/kill/b.bin" -w -p AAAA -m BBBB
      check "killed at $step: the next run makes its backup" "0 whole" \
        "$status $(cmp -s "$WORK/kill/b.bin" "$WORK/old-block0" && echo whole)"
    fi
  done

  # A signal delivered on entry to a system call: before the write (the lock) the run ends at
  # once with nothing written; from the write to the read-back it is held, the outcome is
  # printed, and the run then ends with 128 + the signal's number.
  while read -r syscall sig code outcome op; do
    cp "$pattern" "$WORK/s.img"
    rm -f "$WORK/s.log"
    name="SIG$sig at $syscall during $op"
    # shellcheck disable=SC2086
    ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e "trace=$syscall" \
      -e "inject=$syscall:signal=$sig:when=1" \
      "$KESTREL" --image "$WORK/s.img" $op >"$WORK/out" 2>"$WORK/err"
    check "$name: status" "$code" "$?"
    if [ "$outcome" = nothing ]; then
      check "$name: one line" "kestrel: SIG$sig ended the run; nothing was written" "$(err)"
      ok "$name: image unchanged" cmp -s "$WORK/s.img" "$pattern"
    else
      check "$name: outcome on stdout" "Operation successful!" "$(tail -n 1 "$WORK/out")"
      check "$name: said why it ended" "kestrel: SIG$sig arrived after the write began; the \
record was $outcome and verified, and the run ends here" "$(err)"
    fi
    [ "$outcome" = written ] &&
      ok "$name: the record is there" cmp -s "$WORK/s.img" "$WORK/ref.img"
    # The run's line gives the exit status and the signal.
    [ -e "$WORK/s.log" ] && check "$name: its log line" "$code SIG$sig" "$(python3 -c '
import json, sys
line = json.loads(open(sys.argv[1]).read().splitlines()[-1])
print(line["status"], "SIG" + line["reason"].split("SIG")[1].split()[0].rstrip(":,"))' "$WORK/s.log")"
  done <<EOF
flock INT 130 nothing -w -p AAAA -m BBBB
flock TERM 143 nothing -r
pwrite64 HUP 129 written -w -p AAAA -m BBBB
fsync TERM 143 written -w -p AAAA -m BBBB
fsync INT 130 written -w -p AAAA -m BBBB
fsync QUIT 131 cleared -c
flock TERM 143 nothing -w -p AAAA -m BBBB --log $WORK/s.log
pwrite64 TERM 143 written -w -p AAAA -m BBBB --log $WORK/s.log
EOF

  # EIO from each system call of the log's and the medium's I/O in turn: the run's exit status is
  # what its line says (or the line is the reservation's null), and a 0 comes with the record.
  for syscall in pwrite64 pread64 fsync; do
    for when in 1 2 3 4 5 6 7 8; do
      cp "$pattern" "$WORK/e.img"
      printf '{}\n' >"$WORK/e.log"
      ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e "trace=$syscall" \
        -e "inject=$syscall:error=EIO:when=$when" \
        "$KESTREL" --image "$WORK/e.img" -w -p AAAA -m BBBB --log "$WORK/e.log" >/dev/null 2>&1
      code=$?
      # (The first reads are the dynamic loader's: a program that could not start.)
      [ "$code" = 127 ] && continue
      said=$(tail -n +2 "$WORK/e.log" | python3 -c '
import json, sys
lines = [json.loads(t) for t in sys.stdin.read().splitlines()]
print("none" if not lines else lines[-1]["status"] if lines[-1]["status"] is not None else "null")')
      check "EIO at $syscall #$when: the line says the exit status" ok \
        "$(case $said in "$code" | null) echo ok ;; none) [ "$code" = 75 ] && echo ok ;; *) echo "line $said, exit $code" ;; esac)"
      [ "$code" = 0 ] && ok "EIO at $syscall #$when: 0 with the record" cmp -s "$WORK/e.img" "$WORK/ref.img"
    done
  done
  # A read that fails is never taken for the block: a read shows the record, or fails (0x41).
  "$KESTREL" --image "$WORK/ref.img" --json -r >"$WORK/clean.json" 2>/dev/null
  for when in 3 4 5 6 7 8; do
    ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e trace=pread64 \
      -e "inject=pread64:error=EIO:when=$when" \
      "$KESTREL" --image "$WORK/ref.img" --json -r >"$WORK/e.json" 2>/dev/null
    code=$?
    check "EIO at read #$when of a read: the record or 65" ok "$(case $code in
      0) cmp -s "$WORK/e.json" "$WORK/clean.json" && echo ok ;; 65 | 127) echo ok ;; *) echo $code ;; esac)"
  done
fi

# --- Runs at once -------------------------------------------------------------------------------
# Ten writers on one image follow each other under the lock (see race in checks.sh).
race=$WORK/race.img
head -c 4096 /dev/zero >"$race"
race "$race" --image "$race"
runs 0 --image "$race" -r

# Eight writers on eight images and eight readers of them, all sharing one log: every run's line
# is there, whole, one object, and gives its run's exit status.
shared=$WORK/shared.log
for n in 0 1 2 3 4 5 6 7; do
  head -c 4096 /dev/zero >"$WORK/share$n.img"
  ("$KESTREL" --image "$WORK/share$n.img" -w -p "SER$n" -m 1 --log "$shared" >/dev/null 2>&1
    echo "w SER$n $?" >"$WORK/share.w$n") &
  ("$KESTREL" --image "$WORK/share$n.img" -r --log "$shared" >/dev/null 2>&1
    echo "r - $?" >"$WORK/share.r$n") &
done
wait
check "a shared log: every run's line, whole, with its status" "$(cat "$WORK"/share.* | sort)" \
  "$(python3 -c '
import json, sys
for text in open(sys.argv[1]).read().splitlines():
    line = json.loads(text)
    print(line["operation"][0], line["asked"].get("pylon", "-"), line["status"])' "$shared" | sort)"

# A log marked append-only still takes each run's line (after the line the run reserved); a
# backup may have a name as long as the folder allows.
long=$WORK/$(printf 'b%.0s' $(seq 251)).bin
cp "$pattern" "$WORK/a.img"
printf '{}\n' >"$WORK/append.log"
if chattr +a "$WORK/append.log" 2>/dev/null; then
  run --image "$WORK/a.img" --backup "$long" -w -p AAAA -m BBBB --log "$WORK/append.log"
  check "append-only log, 255-byte backup name" "0 0" \
    "$status $(tail -n 1 "$WORK/append.log" | python3 -c 'import json,sys; print(json.load(sys.stdin)["status"])')"
  chattr -a "$WORK/append.log"
  ok "the 255-byte backup is the old block 0" cmp -s "$long" "$WORK/old-block0"
else
  echo "note: this file system has no append-only files; that case is not run"
fi

# Another holder of the lock: a run waits for it, and gives up after a few seconds.
for hold in 1 8; do
  rm -f "$WORK/held"
  flock -x "$race" -c "touch '$WORK/held'; sleep $hold" &
  holder=$!
  while [ ! -e "$WORK/held" ]; do sleep 0.05; done
  run --image "$race" -r --log "$WORK/busy.log"
  if [ "$hold" = 1 ]; then
    check "a lock held for a second: the read waits for it" 0 "$status"
  else
    check "a lock held too long" \
      "7 kestrel: GPP1 is in use by another process; nothing was read or written" "$status $(err)"
    check "a lock held too long: its log line" "7 GPP1 in use by another process, nothing written" \
      "$(tail -n 1 "$WORK/busy.log" | python3 -c '
import json, sys
line = json.load(sys.stdin)
print(line["status"], line["reason"])')"
  fi
  wait "$holder"
done

# --- Names another user can reach ----------------------------------------------------------------
# A sticky folder any user may write to: a log that is another user's symlink is refused (2) and
# its target untouched; the run's own link is followed; a name swapped for a link while the run
# waits for the log's lock never reaches the run; a taken backup name, whatever it is, is passed
# over unopened; a reader's lock on the log ends the run before GPP1 is touched.
mkdir -m 1777 "$WORK/shared"
S=$WORK/shared
printf 'secret\n' >"$S/victim"
victim() { cat "$S/victim"; }
line_status() { tail -n 1 "$1" | python3 -c 'import json,sys; print(json.load(sys.stdin)["status"])'; }
cp "$pattern" "$WORK/h.img"
if [ "$(id -u)" = 0 ] && id nobody >/dev/null 2>&1; then
  ln -s victim "$S/planted.log" && chown -h nobody "$S/planted.log"
  run --image "$WORK/h.img" -w -p AAAA -m BBBB --log "$S/planted.log"
  check "another user's link as the log: refused" "2 secret" "$status $(victim)"
  ok "another user's link as the log: GPP1 untouched" cmp -s "$WORK/h.img" "$pattern"
else
  echo "note: not root, or no user nobody: another user's link is not made"
fi
ln -s victim "$S/mine.log"
runs 0 --image "$WORK/h.img" -w -p AAAA -m BBBB --log "$S/mine.log"
check "the run's own link as the log: followed" "0" "$(line_status "$S/victim")"
printf '{}\n' >"$S/run.log"
( flock -s 9; touch "$WORK/held"; sleep 1; mv "$S/run.log" "$S/moved.log"; ln -s victim "$S/run.log"
  sleep 0.5 ) 9<"$S/run.log" &
while [ ! -e "$WORK/held" ]; do sleep 0.05; done
run --image "$WORK/h.img" -w -p AAAA -m BBBB --log "$S/run.log"
wait
check "a log swapped for a link while the run waits: the run keeps its file" "0 0 1" \
  "$status $(line_status "$S/moved.log") $(grep -c Kestrel "$S/victim")"
mkfifo "$S/b.bin"; mkdir "$S/b-2.bin"; ln -s nowhere "$S/b-3.bin"
head -c 512 "$WORK/h.img" >"$WORK/h.block0"
runs 0 --image "$WORK/h.img" --backup "$S/b.bin" -w -p CCCC -m DDDD
ok "taken backup names passed over: the block is kept in b-4.bin" cmp -s "$S/b-4.bin" \
  "$WORK/h.block0"
ok "taken backup names left as they were" [ -p "$S/b.bin" -a -d "$S/b-2.bin" -a -L "$S/b-3.bin" ]
printf '{}\n' >"$S/read.log"
cp "$WORK/h.img" "$WORK/h2.img"
( flock -s 9; touch "$WORK/held2"; sleep 7 ) 9<"$S/read.log" &
while [ ! -e "$WORK/held2" ]; do sleep 0.05; done
run --image "$WORK/h.img" -w -p EEEE -m FFFF --log "$S/read.log"
wait
check "a reader holding the log's lock: 75 before GPP1 is touched" "75 {}" \
  "$status $(cat "$S/read.log")"
ok "a reader holding the log's lock: GPP1 untouched" cmp -s "$WORK/h.img" "$WORK/h2.img"

# --- Installation -------------------------------------------------------------------------------
if cmake --install "$BUILD" --prefix "$WORK/prefix" >/dev/null; then
  ok "installed executable" [ -x "$WORK/prefix/bin/kestrel" ]
  ok "installed man page" [ -f "$WORK/prefix/share/man/man8/kestrel.8" ]
  if command -v groff >/dev/null; then
    warnings=$(groff -t -man -ww -z "$WORK/prefix/share/man/man8/"kestrel*.8 2>&1)
    check "man pages render cleanly" "" "$warnings"
  fi
  # The service stick, from the installed short name: the tool's words as the tool splits them
  # again, into a new image file and into one that exists; words or media the stick maker refuses
  # leave nothing written (a folder that is not on FAT, an image that is no EFI application, a
  # word the file cannot carry or the tool does not take).
  stick=$WORK/prefix/bin/kestrel-stick
  args() { mtype -i "$1" ::/EFI/BOOT/kestrel.args | tr -d '\r'; }
  "$stick" "$WORK/stick.img" -- -w -p 'A B' -m '1"2^3' --then off >/dev/null
  check "kestrel-stick: a new image" '-w -p "A B" -m "1^"2^^3" --then off' "$(args "$WORK/stick.img")"
  mcopy -i "$WORK/stick.img" ::/EFI/BOOT/BOOTX64.EFI "$WORK/booted.efi"
  ok "kestrel-stick: the installed image" cmp -s "$WORK/booted.efi" "$BUILD/Kestrel.efi"
  "$stick" --size 2 "$WORK/stick.img" -- -r >/dev/null
  check "kestrel-stick: an image that exists" "-r" "$(args "$WORK/stick.img")"
  cp "$WORK/stick.img" "$WORK/stick.before"
  refused=($'a\tb\001' $'09876\n' $'0987\r6' $'\302\205' $'\360\237\230\200' --frob
    "$(head -c 5000 /dev/zero | tr '\0' x)")
  for words in "${refused[@]}"; do
    "$stick" "$WORK/stick.img" -- -w -p 1 -m "$words" 2>"$WORK/err"
    check "kestrel-stick refuses ${words:0:20}: one line, status 2" "2 1" "$? $(wc -l <"$WORK/err")"
  done
  "$stick" "$WORK" -- -r 2>/dev/null
  check "kestrel-stick: a folder not on FAT" 2 "$?"
  "$stick" --efi /etc/passwd "$WORK/new.img" -- -r 2>/dev/null
  check "kestrel-stick: --efi that is no EFI application" "2 absent" "$? $([ -e "$WORK/new.img" ] || echo absent)"
  ok "kestrel-stick: a refused stick is as it was" cmp -s "$WORK/stick.img" "$WORK/stick.before"
  check "kestrel-stick: nothing half made beside it" "" "$(ls "$WORK" | grep kestrel-)"
else
  ok "cmake --install" false
fi

summary
