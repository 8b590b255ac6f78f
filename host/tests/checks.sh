# The shell cases' common start and checks, sourced by each with its arguments (KESTREL SOURCE-DIR
# BUILD-DIR): a scratch folder WORK, removed at exit after the case's own at_exit; each check
# counted, each failure one "FAIL:" line, and `summary` last, which gives the script's status.
set -uo pipefail
KESTREL=$1
WORK=$(mktemp -d)
at_exit() { :; }
trap 'at_exit; rm -rf "$WORK"' EXIT
failures=0
checks=0
skip() { # exit 77: the case cannot run here, and says why
  echo "SKIPPED: $*"
  exit 77
}
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
run() { # run ARGS...: kestrel with ARGS; sets status, and WORK/out and WORK/err
  "$KESTREL" "$@" >"$WORK/out" 2>"$WORK/err"
  status=$?
}
out() { cat "$WORK/out"; }
err() { cat "$WORK/err"; }
runs() { # runs STATUS ARGS...: run, and check that it ends with STATUS
  local want=$1
  shift
  run "$@"
  check "kestrel $*: status" "$want" "$status"
}
says() { # says LINE: stdout has LINE, whole
  ok "stdout has [$1]" grep -qxF -- "$1" "$WORK/out"
}
# race FILE MEDIUM-OPTIONS...: ten writers at once on one medium, whose block 0 FILE holds: each
# exits 0, or 7 when it waited too long for the lock; none finds another's record in its
# read-back (27), and the record left is one of the successful runs'.
race() {
  local file=$1 n code left winners=" "
  shift
  for n in 0 1 2 3 4 5 6 7 8 9; do
    ("$KESTREL" "$@" -w -p "SER$n" -m 09876 >/dev/null 2>&1
      echo $? >"$WORK/race.$n") &
  done
  wait
  for n in 0 1 2 3 4 5 6 7 8 9; do
    code=$(cat "$WORK/race.$n")
    check "concurrent writer $n on $* exits 0 or 7" "0 or 7" \
      "$(case $code in 0 | 7) echo "0 or 7" ;; *) echo "$code" ;; esac)"
    [ "$code" = 0 ] && winners+="SER$n "
  done
  left=$(head -c 96 "$file" | tail -c 16 | tr -d ' ')
  ok "after the race on $*: the record ($left) is a successful run's ($winners)" \
    [ "${winners/ $left /}" != "$winners" ]
}
summary() {
  echo "$((checks - failures)) passed, $failures failed"
  [ "$failures" -eq 0 ]
}
