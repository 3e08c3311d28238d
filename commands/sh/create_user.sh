# shellcheck shell=sh
# Finds the first free name among bf2, bf, battlefield, battlefield2, then
# bf2_N for each N of $NUMBERS (bf2ctl's random order), and makes the
# account with the crypt hash $HASH as its password; prints the name.  The
# hash reaches the system on standard input only: every user of the host
# can read a command line.

# A home left at useradd's default place by a deleted account takes the
# name too: the new account would get its files and keys.
HOMES=$(useradd -D 2>/dev/null | sed -n 's/^HOME=//p')
HOMES=${HOMES:-/home}
SYSTEM=

# The group is asked only when the user is free; the system once, when first
# needed.  The cheap home test goes first: it needs no process.
taken() {
	{ [ -e "$HOMES/$1" ] || [ -L "$HOMES/$1" ] || id "$1" >/dev/null 2>&1; } && return 0
	[ -n "$SYSTEM" ] || SYSTEM=$(uname -s 2>/dev/null)
	case $SYSTEM in
	Linux) groupmod "$1" >/dev/null 2>&1 ;; # no change asked: only looks it up
	FreeBSD) pw groupshow "$1" >/dev/null 2>&1 ;;
	*) fail "system $SYSTEM" ;;
	esac
}

TRIED=0
# shellcheck disable=SC2086 # NUMBERS is digits and blanks: split, nothing to glob
for NAME in bf2 bf battlefield battlefield2 $NUMBERS; do
	case $NAME in
	[0-9]*) NAME=bf2_$NAME TRIED=$((TRIED + 1)) ;;
	esac
	taken "$NAME" || break
	NAME=
done
[ -n "$NAME" ] || fail "full $TRIED"

# A warning (a home or mail spool that already existed) is a failure too:
# the account would not be the fresh one the caller is told of.
add_user() {
	case $SYSTEM in
	FreeBSD) printf '%s\n' "$HASH" | pw useradd "$NAME" -c "Zelto's BF2 module" -m -M 700 -H 0 ;;
	*) useradd -c "Zelto's BF2 module" -m "$NAME" ;;
	esac
}
if ! ERR=$(add_user 2>&1 >/dev/null) || [ -n "$ERR" ]; then
	printf '%s\n' "$ERR" >&2
	fail "useradd $NAME"
fi
# An account whose home others may read, or whose printed password does not
# work, is no result: it goes, so that the name is free again.  useradd
# makes the home by the host's umask (0755 on Debian); pw was told 700.
undo() {
	userdel -r "$NAME" >/dev/null 2>&1
	printf '%s\n' "$ERR" >&2
	fail "$1 $NAME"
}
if [ "$SYSTEM" = Linux ]; then
	ERR=$(chmod 700 -- "$(getent passwd "$NAME" | cut -d: -f6)" 2>&1) || undo chmod
	ERR=$(printf '%s:%s\n' "$NAME" "$HASH" | chpasswd -e 2>&1 >/dev/null) || undo chpasswd
fi
printf '%s' "$NAME"
