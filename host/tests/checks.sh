# The shell cases' checks (sourced after KESTREL and WORK are set): each counted, each failure
# one "FAIL:" line, and `summary` last, which gives the script's status.
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
run() { # run ARGS...: kestrel with ARGS; sets status, and WORK/out and WORK/err
  "$KESTREL" "$@" >"$WORK/out" 2>"$WORK/err"
  status=$?
}
summary() {
  echo "$((checks - failures)) passed, $failures failed"
  [ "$failures" -eq 0 ]
}
