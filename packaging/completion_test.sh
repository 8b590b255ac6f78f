#!/usr/bin/env bash
# Bash completion of kestrel as installed: bash-completion finds it on demand under the install
# prefix, and it offers what the front end accepts at each position.
# Usage: completion_test.sh BUILD-DIR      (exit 77: bash-completion is not installed)
set -uo pipefail
BUILD=$1
BASH_COMPLETION=/usr/share/bash-completion/bash_completion
[ -f "$BASH_COMPLETION" ] || { echo "SKIP: bash-completion is not installed"; exit 77; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$BUILD" --prefix "$WORK/prefix" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }

# bash-completion's on-demand loader looks in share/bash-completion/completions under each
# folder of XDG_DATA_DIRS: that is how an installed completion is found.
export XDG_DATA_DIRS=$WORK/prefix/share
# shellcheck disable=SC1090
source "$BASH_COMPLETION"
__load_completion kestrel ||
  fail "bash-completion does not find the installed completion"
[[ $(complete -p kestrel 2>/dev/null) == *"-F _kestrel kestrel" ]] ||
  fail "kestrel is not bound to _kestrel"

# complete LINE: the candidates for the last word of LINE (a trailing space: a new, empty word).
complete_line() {
  read -r -a COMP_WORDS <<<"$1"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$1
  COMP_POINT=${#1}
  COMPREPLY=()
  _kestrel kestrel "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
  [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}
expect() { # expect LINE CANDIDATES
  local got
  got=$(complete_line "$1")
  [ "$got" = "$2" ] || fail "'$1': expected [$2], got [$got]"
}

mkdir "$WORK/files" "$WORK/files/sub"
touch "$WORK/files/gpp1.img" "$WORK/files/gpp1.bak"
cd "$WORK/files" || exit 1

# Front-end options first; each only once, and one medium.
expect "kestrel --im" "--image "
tool="--backup --board --bom --clear --debug --dry-run --edit --fab --from-script --help --if-blank \
--if-serial --inspect --log --mm --no-sandrel --provision --pylon --read --restore --rework \
--sandrel --then --wait --write"
expect "kestrel --image gpp1.img --" "-- --backup --block-size --board --bom --clear --debug \
--dry-run --edit --fab --from-script --help --if-blank --if-serial --inspect --json --log --mm \
--no-sandrel --provision --pylon --read --restore --rework --sandrel --then --wait --write \
--write-protect "
expect "kestrel --device /dev/x --i" "--if-blank --if-serial --inspect "
expect "kestrel --device /dev/x --f" "--fab --force --from-script "
expect "kestrel --force --i" "--if-blank --if-serial --inspect "
expect "kestrel --json --j" ""
# Once the tool's command line has begun, only its options.
expect "kestrel --image gpp1.img -r --" "$tool "
expect "kestrel -- --wr" "--write "
expect "kestrel --image gpp1.img -r --log=gpp1.b" "gpp1.bak "
expect "kestrel -r --then r" "reset return "
# After a station job's name every word is a value: nothing is offered.
expect "kestrel --log x --provision 1234 --" ""
# Option values: files, block sizes, block devices, and nothing for free text.
expect "kestrel --image gpp1." "gpp1.bak gpp1.img "
expect "kestrel --backup s" "sub "
expect "kestrel --image gpp1.img -c --log s" "sub "
expect "kestrel --image gpp1.img --restore gpp1.b" "gpp1.bak "
expect "kestrel --block-size 40" "4096 "
expect "kestrel --image gpp1.img -W -P " ""
expect "kestrel --device $WORK/files/" "$WORK/files/sub/ "
block=$(find /dev -maxdepth 1 -type b 2>/dev/null | sort | head -n 1)
if [ -n "$block" ]; then
  [[ " $(complete_line "kestrel --device ${block%?}") " == *" $block "* ]] ||
    fail "block device $block not offered for --device"
else
  echo "note: no block device under /dev here; that case is not run"
fi

[ "$failures" -eq 0 ] && echo "completion checks passed"
[ "$failures" -eq 0 ]
