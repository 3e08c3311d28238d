# shellcheck shell=sh
# What the host is, for --check-host: the system's uname, not one the
# account's PATH would find first.
uname -a
