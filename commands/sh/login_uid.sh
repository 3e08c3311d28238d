# shellcheck shell=sh
# The logged-in account's uid, for --check-on-root, asked of the system's id.
id -u
