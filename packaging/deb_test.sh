#!/usr/bin/env bash
# The Debian package as `make deb` builds it: its file list and control fields, the packaged
# kestrel on an image (the same record bytes as the tested build's), the same bytes from a second
# packaging run of the same tree, and lintian.
# Usage: deb_test.sh SOURCE-DIR BUILD-DIR TESTED-KESTREL     (exit 77: a tool is missing)
set -uo pipefail
SOURCE=$1
BUILD=$2
TESTED=$3
for tool in dpkg-deb dpkg-shlibdeps lintian; do
  command -v "$tool" >/dev/null ||
    { echo "SKIP: $tool is not installed (scripts/install-deps)"; exit 77; }
done
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"; }

# Its own build tree inside the test's, so `make test` never touches a developer's build/deb.
OUT=$BUILD/package-test
# A make of its own: not the jobserver of a `make test` that may have started ctest.
if ! env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -s -C "$SOURCE" deb BUILD="$OUT" \
  >"$WORK/make.log" 2>&1; then
  tail -n 30 "$WORK/make.log"
  echo "FAIL: make deb"
  exit 1
fi
version=$(sed -n 's/.*KESTREL_VERSION_TEXT "\([0-9.]*\)".*/\1/p' "$SOURCE/app/version.h")
deb=$OUT/kestrel_${version}_amd64.deb
[ -f "$deb" ] || { echo "FAIL: make deb left no $deb"; ls "$OUT"; exit 1; }

# --- Contents and control fields --------------------------------------------------------------
dpkg-deb -x "$deb" "$WORK/root"
expected="./usr/sbin/kestrel
./usr/sbin/kestrel-stick
./usr/share/bash-completion/completions/kestrel
./usr/share/doc/kestrel/README.md
./usr/share/doc/kestrel/changelog.gz
./usr/share/doc/kestrel/copyright
./usr/share/doc/kestrel/docs/building.md
./usr/share/doc/kestrel/docs/code-shape.md
./usr/share/doc/kestrel/docs/factory-line.md
./usr/share/doc/kestrel/docs/firmware.md
./usr/share/doc/kestrel/docs/kept-on-purpose.md
./usr/share/doc/kestrel/docs/linux.md
./usr/share/doc/kestrel/docs/reliability.md
./usr/share/doc/kestrel/docs/using.md
./usr/share/kestrel/Kestrel.efi
./usr/share/kestrel/inspect.nsh
./usr/share/kestrel/provision.nsh
./usr/share/man/man8/kestrel-stick.8.gz
./usr/share/man/man8/kestrel.8.gz"
check "file list" "$expected" "$(cd "$WORK/root" && find . -type f | sort)"
check "owners" "root/root" "$(dpkg-deb -c "$deb" | awk '{print $2}' | sort -u)"
field() { dpkg-deb -f "$deb" "$1"; }
check "Package" kestrel "$(field Package)"
check "Version" "$version" "$(field Version)"
check "Architecture" amd64 "$(field Architecture)"
[[ $(field Depends) == *"libc6 (>= "*"libstdc++6"* ]] || fail "Depends: $(field Depends)"
cmp -s "$SOURCE/examples/provision.nsh" "$WORK/root/usr/share/kestrel/provision.nsh" ||
  fail "provision.nsh differs from examples/"
check "Kestrel.efi is a PE image" MZ "$(head -c 2 "$WORK/root/usr/share/kestrel/Kestrel.efi")"
gzip -t "$WORK/root/usr/share/man/man8/kestrel.8.gz" || fail "man page is not gzip"

# --- The packaged front end ---------------------------------------------------------------------
kestrel=$WORK/root/usr/sbin/kestrel
truncate -s 64K "$WORK/packaged.img" "$WORK/tested.img"
args=(-w -p 12345678 -s 87654321 -m 09876 -b 1A)
"$kestrel" --image "$WORK/packaged.img" "${args[@]}" >"$WORK/out" 2>&1
check "packaged kestrel write status" 0 "$?"
"$TESTED" --image "$WORK/tested.img" "${args[@]}" >/dev/null 2>&1
cmp -s "$WORK/packaged.img" "$WORK/tested.img" ||
  fail "the packaged kestrel wrote other bytes than the tested build"
"$kestrel" --image "$WORK/packaged.img" -r >"$WORK/out" 2>&1
check "packaged kestrel read status" 0 "$?"
grep -q "Serial   #12345678" "$WORK/out" || fail "read shows no serial: $(cat "$WORK/out")"

# --- Same tree, same bytes ----------------------------------------------------------------------
cp "$deb" "$WORK/first.deb"
cmake -DBUILD_DIR="$OUT/deb" -DSOURCE_DIR="$SOURCE" -DOUTPUT_DIR="$OUT" \
  -P "$SOURCE/cmake/package.cmake" >/dev/null || fail "second packaging run"
cmp -s "$WORK/first.deb" "$deb" || fail "a second packaging run of the same tree gave other bytes"

# --- lintian ------------------------------------------------------------------------------------
if ! lintian --fail-on error,warning "$deb" >"$WORK/lintian" 2>&1; then
  fail "lintian reports errors or warnings"
fi
grep -v "^running with root privileges" "$WORK/lintian"

[ "$failures" -eq 0 ] && echo "package checks passed"
[ "$failures" -eq 0 ]
