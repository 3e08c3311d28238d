#!/usr/bin/env bash
# Many short exec runs in parallel against the fixture host, to catch rare
# stalls: prints how many runs took over 1.5 s and how many hit a 30 s cap.
#   bench/exec_stress.sh [RUNS_PER_WORKER] [WORKERS]
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
runs=${1:-400}
workers=${2:-3}

worker() {
  local t0 t1 status
  for _ in $(seq "$runs"); do
    t0=$(date +%s%N)
    status=0
    timeout 30 "$bf2ctl" --address="$BF2_HOST" --login="$BF2_LOGIN" --exec \
      --cmd="id 'bf2'" >/dev/null || status=$?
    t1=$(date +%s%N)
    echo "$(((t1 - t0) / 1000000)) $status"
  done
}
for w in $(seq "$workers"); do worker >"$work/times.$w" & done
wait
cat "$work"/times.* | awk '{ n++; if ($1 > 1500) slow++; if ($2 == 124) hung++; if ($1 > max) max = $1 }
  END { printf "%d runs: %d over 1.5 s, %d hung (30 s cap), slowest %d ms\n", n, slow, hung, max }'
