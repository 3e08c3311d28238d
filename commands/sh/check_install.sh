# shellcheck shell=sh
# Whether $DIR holds an installed server: its launcher and its game module's
# init file, as regular files (a directory at either name is none).
if [ -f "$DIR/start.sh" ] && [ -f "$DIR/mods/bf2/init.con" ]; then
	echo ok
else
	echo failed
fi
