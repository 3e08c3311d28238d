# shellcheck shell=sh
# --stop: run_stop (sh/run_stop.sh), then the lock goes.
run_stop stop
unlock
