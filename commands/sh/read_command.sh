# shellcheck shell=sh
# exec's command read off its standard input, so that no command line shows
# it: bf2ctl sends its bytes, an x (the command substitution then keeps the
# command's trailing line breaks) and a line break that only a whole command
# is followed by, so a command cut short by a lost connection never runs.
# dd asks for no more than the rest of its block and read takes one byte at
# a time: what follows is the command's input, untouched.  The command's
# length comes in bf2ctl_command; the command runs in this shell, as a
# command line of its own would, and finds no variable of ours.
# shellcheck disable=SC2154 # set by bf2ctl ahead of this
bf2ctl_command=$(/bin/dd bs=$((bf2ctl_command + 1)) count=1 iflag=fullblock status=none &&
	IFS= read -r bf2ctl_command) || exit
eval "unset bf2ctl_command;${bf2ctl_command%x}"
