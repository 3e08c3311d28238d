#!/bin/sh
# Builds the Debian package of a build tree, checks what it declares and
# holds, unpacks it into a scratch root and runs the binary and the manual
# page from there.
set -eu
build=$1
scratch=$(mktemp -d /tmp/bf2pkg.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package: $*" >&2; exit 1; }

# No package leaves without a maintainer: the packager names one.
maintainer='Test Packager <packager@test.invalid>'
(cd "$build" && cpack -G DEB -B "$scratch/none" >"$scratch/cpack.log" 2>&1) &&
  fail "cpack made a package without a maintainer"
grep -q 'No package maintainer' "$scratch/cpack.log" || { cat "$scratch/cpack.log"; fail "no reason given"; }
(cd "$build" && cpack -G DEB -B "$scratch/out" -D CPACK_PACKAGE_CONTACT="$maintainer" \
  >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack failed"; }
deb=$(ls "$scratch"/out/*.deb)
[ "$(dpkg-deb -f "$deb" Maintainer)" = "$maintainer" ] || fail "Maintainer: $(dpkg-deb -f "$deb" Maintainer)"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libssh2-1 libcrypt1 libstdc++6 libc6; do
  echo "$depends" | grep -q "$lib" || fail "Depends lacks $lib: $depends"
done
# Every declared dependency can be met on this system.
apt-get install -s "$deb" >"$scratch/simulate.log" 2>&1 ||
  { cat "$scratch/simulate.log"; fail "dependencies cannot be met"; }

dpkg -x "$deb" "$scratch/root"
bin="$scratch/root/usr/bin/bf2ctl"
[ -x "$bin" ] || fail "no /usr/bin/bf2ctl in the package"
out=$(BF2_PASSWD=x "$bin" --address=localhost --login=nobody --help 2>&1) && status=0 || status=$?
[ "$status" = 0 ] && [ -z "$out" ] || fail "installed binary: status $status, output '$out'"
out=$("$bin" --address=localhost --login=nobody 2>&1) && status=0 || status=$?
[ "$status" = 1 ] && [ "$out" = "Password is not set" ] || fail "installed binary without password: '$out'"

page="$scratch/root/usr/share/man/man1/bf2ctl.1.gz"
[ -f "$page" ] || fail "no manual page in the package"
MANWIDTH=80 man -l "$page" 2>"$scratch/man.err" | grep -q 'bf2ctl - manage a Battlefield 2' ||
  fail "manual page does not render"
[ ! -s "$scratch/man.err" ] || { cat "$scratch/man.err"; fail "manual page warnings"; }
echo "package: $(basename "$deb") ok; Depends: $depends"
