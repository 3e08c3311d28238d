# shellcheck shell=sh
# --restart, before start_checks.sh: under the lock, the parameters of the
# configuration's last start from $CFGDIR/start.params, which that start
# wrote: a line NAME=VALUE each, the server directory's backslashes and line
# breaks escaped (\\, \n).  The file is the account's, so it is data alone:
# each known NAME sets its own variable, any other line is passed over, and
# a value its name may not hold fails the restart before anything changes.
# The server directory (as the file holds it) and the mod are printed first,
# for the messages of the steps after.
lock start || fail busy
[ -e "$CFGDIR/start.params" ] || [ -L "$CFGDIR/start.params" ] || fail never
if [ ! -f "$CFGDIR/start.params" ] || [ -L "$CFGDIR/start.params" ]; then
	fail params not a regular file
fi
SRV='' PORTS='' RESTART_ON_CRASH='' MOD='' MAPLIST=''
while IFS= read -r line; do
	case $line in
	srv-dir=*) SRV=${line#*=} ;;
	ports=*) PORTS=${line#*=} ;;
	restart-on-crash=*) RESTART_ON_CRASH=${line#*=} ;;
	mod=*) MOD=${line#*=} ;;
	maps=*) MAPLIST=${line#*=} ;;
	esac
done <<EOF
$(dd if="$CFGDIR/start.params" bs=65536 count=1 iflag=nonblock status=none 2>/dev/null)
EOF
case $SRV in /*) ;; *) fail params srv-dir ;; esac
case $PORTS in '' | *[!0-9' ']*) fail params ports ;; esac
case $RESTART_ON_CRASH in '' | yes) ;; *) fail params restart-on-crash ;; esac
case $MOD in *[!a-z0-9_-]*) fail params mod ;; esac
case $MAPLIST in *[!a-z0-9_:,]*) fail params maps ;; esac
printf 'srv-dir=%s\nmod=%s\n' "$SRV" "$MOD"
SRVDIR=$(BF2_TEXT=$SRV LC_ALL=C awk 'BEGIN {
	t = ENVIRON["BF2_TEXT"]
	while ((i = index(t, "\\")) > 0) {
		c = substr(t, i + 1, 1)
		out = out substr(t, 1, i - 1) (c == "n" ? "\n" : c == "\\" ? "\\" : "\\" c)
		t = substr(t, i + 2)
	}
	printf "%s.", out t
}')
SRVDIR=${SRVDIR%.}
# shellcheck disable=SC2034 # read by start_checks.sh
LEVELS=$SRVDIR/mods/${MOD:-bf2}/levels
# shellcheck disable=SC2034 # read by start_checks.sh
MAPS=$(printf '%s' "$MAPLIST" | tr ',:' '\n ' | sed 's/^/mapList.append /')
RCON=$(dd if="$CFGDIR/settings/adminsettings.con" bs=65536 count=1 iflag=nonblock status=none 2>/dev/null && echo .)
RCON=${RCON%.}
