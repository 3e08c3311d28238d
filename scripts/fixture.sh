# shellcheck shell=bash
# Sourced by the demo and the benchmarks: builds the tool, then brings up a
# throw-away SSH host (a real sshd on a loopback address with a real
# account) with scripts/fixture_host.py until the sourcing script exits.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/deps.sh
. "$top/scripts/deps.sh"
ensure_packages "$@"

build="$top/build"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target bf2ctl >/dev/null
# shellcheck disable=SC2034 # for the scripts that source this
bf2ctl="$build/bf2ctl"

work=$(mktemp -d /tmp/bf2work.XXXXXX)
mkfifo "$work/hold"
# shellcheck disable=SC2086 # the arguments, split into words
BF2_TEST_NET=${BF2_TEST_NET:-233} /usr/bin/python3 "$top/scripts/fixture_host.py" ${BF2_FIXTURE_ARGS:-} \
  <"$work/hold" >"$work/env" &
fixture_pid=$!
exec 9>"$work/hold"   # the host stays up while this end is open
for _ in $(seq 300); do
  grep -q BF2_FIXTURE_READY "$work/env" 2>/dev/null && break
  kill -0 "$fixture_pid" 2>/dev/null || { echo "the fixture host failed to start" >&2; exit 1; }
  sleep 0.1
done
# shellcheck disable=SC1091 # the host's variables, written at run time
. "$work/env"
export BF2_PASSWD

stop_fixture() {
  exec 9>&-
  wait "$fixture_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap stop_fixture EXIT
