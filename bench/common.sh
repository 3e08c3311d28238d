# Sourced by the benchmarks: builds the tool and brings up a fixture SSH
# host (a real sshd on a loopback address, a real account) for the run.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$top/scripts/deps.sh"
ensure_packages time sshpass bc

build="$top/build"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target bf2ctl bf2_fixture_hosts >/dev/null
bf2ctl="$build/bf2ctl"

work=$(mktemp -d /tmp/bf2bench.XXXXXX)
mkfifo "$work/hold"
BF2_TEST_NET=${BF2_TEST_NET:-233} "$build/tests/bf2_fixture_hosts" <"$work/hold" >"$work/env" &
fixture_pid=$!
exec 9>"$work/hold"   # the fixture stays up while this end is open
for _ in $(seq 100); do grep -q BF2_HOME "$work/env" 2>/dev/null && break; sleep 0.1; done
. "$work/env"
export BF2_PASSWD

cleanup() {
  exec 9>&-
  wait "$fixture_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

ssh_opts=(-o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR
          -o PreferredAuthentications=password -o PubkeyAuthentication=no)

# Seconds taken by a command, with nanosecond clock resolution.
seconds() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
