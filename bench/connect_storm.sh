#!/usr/bin/env bash
# Runs started all at once against an sshd with OpenSSH's default
# MaxStartups (10:30:100), which drops unauthenticated connections past ten:
# prints, for 20, 50 and 100 runs at once, how many succeeded and the wall
# time until the last one ended.
BF2_FIXTURE_ARGS=--default-max-startups
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"

for n in 20 50 100; do
  pids=()
  t0=$(date +%s.%N)
  for i in $(seq "$n"); do
    "$bf2ctl" --address="$BF2_HOST" --login="$BF2_LOGIN" --exec --cmd=true >"$work/out.$i" &
    pids+=($!)
  done
  ok=0
  for pid in "${pids[@]}"; do
    if wait "$pid"; then ok=$((ok + 1)); fi
  done
  t1=$(date +%s.%N)
  failures=$(cat "$work"/out.* | grep -v -x -e '' -e 0 | sort | uniq -c | tr -s ' ' || true)
  printf '%3d at once: %3d succeeded, wall time %5.2f s%s\n' "$n" "$ok" "$(echo "$t1 - $t0" | bc -l)" \
    "${failures:+; failures:$failures}"
  rm -f "$work"/out.*
done
