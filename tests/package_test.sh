#!/bin/sh
# Builds the Debian package of a build tree and runs its binary and manual page from a scratch root.
set -eu
scratch=$(mktemp -d /tmp/bf2pkg.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { cat "$scratch/log" 2>/dev/null; echo "package: $*" >&2; exit 1; }
cd "$1"

# No package leaves without a maintainer: the packager names one.
! cpack -G DEB -B "$scratch/none" >"$scratch/log" 2>&1 || fail "made without a maintainer"
grep -q 'No package maintainer' "$scratch/log" || fail "no reason given"
maintainer='Test Packager <packager@test.invalid>'
cpack -G DEB -B "$scratch/out" -D CPACK_PACKAGE_CONTACT="$maintainer" >"$scratch/log" 2>&1 || fail "cpack"
deb=$(ls "$scratch"/out/*.deb)
[ "$(dpkg-deb -f "$deb" Maintainer)" = "$maintainer" ] || fail "Maintainer"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libssh2-1 libcrypt1 libstdc++6 libc6; do
  echo "$depends" | grep -q "$lib" || fail "Depends lacks $lib: $depends"
done
apt-get install -s "$deb" >"$scratch/log" 2>&1 || fail "dependencies cannot be met"

dpkg -x "$deb" "$scratch/root"
out=$("$scratch/root/usr/bin/bf2ctl" --address=localhost --login=nobody 2>&1) || true
[ "$out" = "Password is not set" ] || fail "installed binary: '$out'"
MANWIDTH=80 man -l "$scratch/root/usr/share/man/man1/bf2ctl.1.gz" 2>"$scratch/log" |
  grep -q 'bf2ctl - manage a Battlefield 2' || fail "manual page"
[ ! -s "$scratch/log" ] || fail "manual page: $(cat "$scratch/log")"
echo "package: $(basename "$deb") ok; Depends: $depends"
