# shellcheck shell=bash
# Sourced by the benchmarks: the fixture host and timing helpers.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/fixture.sh
. "$top/scripts/fixture.sh" time sshpass bc

# shellcheck disable=SC2034 # for the benchmarks that source this
ssh_opts=(-o Port="$BF2_HOST_PORT" -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null
          -o LogLevel=ERROR -o PreferredAuthentications=password -o PubkeyAuthentication=no)

# Seconds taken by a command, with nanosecond clock resolution.
seconds() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
