#!/usr/bin/env bash
# Runs each fuzz target for a set time, one after the other on one core, from a working copy of
# its checked-in corpus; prints each target's executions and whether it found anything.
# Usage: run_fuzzers.sh <fuzz build directory> <seconds per target> [target...]
# A finding is kept in <build>/artifacts/<target>/; once fixed, it belongs in
# tests/fuzz/corpus/<target>/ so the replay in `make test` keeps it fixed.
set -uo pipefail

build=$1
seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
# By default every target with a corpus, which is every target.
[ ${#targets[@]} -eq 0 ] && mapfile -t targets < <(ls "$here/corpus")

failed=0
summary=()
for t in "${targets[@]}"; do
  exe=$(find "$build" -name "${t}_fuzz" -type f -perm -u+x | head -1)
  [ -n "$exe" ] || { echo "ERROR: no fuzz target ${t}_fuzz under $build" >&2; exit 1; }
  work=$build/corpus/$t artifacts=$build/artifacts/$t log=$build/logs/$t.log
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  cp -n "$here/corpus/$t/"* "$work/" 2>/dev/null
  dict=()
  [ -f "$here/$t.dict" ] && dict=(-dict="$here/$t.dict")
  echo "== $t: ${seconds}s"
  "$exe" "$work" "${dict[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$artifacts/" >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  result="no finding"
  [ $rc -eq 0 ] || { result="FINDING (exit $rc, see $log and $artifacts)"; failed=1; }
  summary+=("$(printf '%-12s %10s runs  %5s edges  %s' "$t" "${runs:-?}" "${cov:-?}" "$result")")
done

echo
printf '%-12s %15s  %11s  %s\n' target executions coverage result
printf '%s\n' "${summary[@]}"
exit $failed
