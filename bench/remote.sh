#!/usr/bin/env bash
# Upload and download throughput, exec latency and the peak memory of
# copy-file and fetch-file, as ratios to OpenSSH's scp and ssh measured in
# the same run against the same host: at a 100 ms round trip through
# bench/delay_proxy.py with TCP windows of 3 MiB (an untuned host) and
# 16 MiB (one tuned for long links), and on loopback, where bf2ctl is also
# measured with BF2_BENCH_ONE_CHANNEL=1 (one channel, the default window).
# About 27 minutes (measured on a 2-core machine shared with other work).
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"

remote_dir="$BF2_HOME/bench"
mkdir -p "$remote_dir" && chown "$BF2_LOGIN" "$remote_dir"

runs=5
# Median, and the spread of the runs: min-max.
summary() { sort -g "$1" | awk '{a[NR]=$1} END {printf "%7.3f s (%.3f-%.3f)", (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2), a[1], a[NR]}'; }
ratio() { echo "$(median <"$1") / $(median <"$2")" | bc -l | xargs printf '%.2f'; }

# ours [one] ARGS: bf2ctl, with BF2_BENCH_ONE_CHANNEL=1 given "one".
ours() {
  if [ "$1" = one ]; then shift; seconds env BF2_BENCH_ONE_CHANNEL=1 "$@"
  else seconds env -u BF2_BENCH_ONE_CHANNEL "$@"; fi
}
scp_() { seconds sshpass -p "$BF2_PASSWD" scp -q "${ssh_opts[@]}" "$@"; }

# transfer HOST SIZE_MIB LABEL [one]: copy-file, scp -O and scp (SFTP)
# uploads, fetch-file, scp -O and SFTP downloads, interleaved, each to a new
# file (bf2ctl renames a whole file over its target, and a tool that wrote
# over an existing one would skip the allocation); with "one", bf2ctl with
# BF2_BENCH_ONE_CHANNEL=1 as well.
transfer() {
  local host=$1 mib=$2 label=$3 one=${4:-} t
  local tools=(up up1 up_sftp up_legacy down down1 down_sftp down_legacy)
  head -c $((mib << 20)) /dev/urandom >"$work/big"
  cp "$work/big" "$remote_dir/src" && chown "$BF2_LOGIN" "$remote_dir/src"
  for t in "${tools[@]}"; do : >"$work/t_$t"; done
  local b=("$bf2ctl" --address="$host:$BF2_HOST_PORT" --login="$BF2_LOGIN")
  local up=(--copy-file --from="$work/big" --to="$remote_dir/got")
  local down=(--fetch-file --max-size=$((2 << 30)) --from="$remote_dir/src" --to="$work/got")
  for _ in $(seq $runs); do
    rm -f "$remote_dir/got"; sync
    ours "${b[@]}" "${up[@]}" >>"$work/t_up"
    cmp "$work/big" "$remote_dir/got"
    if [ -n "$one" ]; then
      rm -f "$remote_dir/got"; sync
      ours one "${b[@]}" "${up[@]}" >>"$work/t_up1"
    fi
    rm -f "$remote_dir/got"; sync
    scp_ "$work/big" "$BF2_LOGIN@$host:$remote_dir/got" >>"$work/t_up_sftp"
    rm -f "$remote_dir/got"; sync
    scp_ -O "$work/big" "$BF2_LOGIN@$host:$remote_dir/got" >>"$work/t_up_legacy"
    rm -f "$remote_dir/got" "$work/got"; sync
    ours "${b[@]}" "${down[@]}" >>"$work/t_down"
    cmp "$work/big" "$work/got"
    if [ -n "$one" ]; then
      rm -f "$work/got"; sync
      ours one "${b[@]}" "${down[@]}" >>"$work/t_down1"
    fi
    rm -f "$work/got"; sync
    scp_ "$BF2_LOGIN@$host:$remote_dir/src" "$work/got" >>"$work/t_down_sftp"
    rm -f "$work/got"; sync
    scp_ -O "$BF2_LOGIN@$host:$remote_dir/src" "$work/got" >>"$work/t_down_legacy"
  done
  rm -f "$remote_dir/got" "$remote_dir/src" "$work/got" "$work/big"
  echo "== $mib MiB $label (median of $runs, interleaved; min-max)"
  echo "copy-file:        $(summary "$work/t_up")   fetch-file:   $(summary "$work/t_down")"
  if [ -n "$one" ]; then
    echo "  one channel:    $(summary "$work/t_up1")   2 MiB window: $(summary "$work/t_down1")"
  fi
  echo "scp -O:           $(summary "$work/t_up_legacy")   scp -O:       $(summary "$work/t_down_legacy")"
  echo "scp (SFTP):       $(summary "$work/t_up_sftp")   SFTP:         $(summary "$work/t_down_sftp")"
  echo "throughput ratio copy-file/scp -O: $(ratio "$work/t_up_legacy" "$work/t_up")," \
    "/SFTP: $(ratio "$work/t_up_sftp" "$work/t_up");" \
    "fetch-file/scp -O: $(ratio "$work/t_down_legacy" "$work/t_down")," \
    "/SFTP: $(ratio "$work/t_down_sftp" "$work/t_down")"
  if [ -n "$one" ]; then
    echo "against one channel: copy-file $(ratio "$work/t_up1" "$work/t_up")," \
      "fetch-file $(ratio "$work/t_down1" "$work/t_down") (target >= 0.95)"
  fi
}

# The same host through a proxy that holds every chunk 50 ms each way and
# at most W/2 bytes per direction; first a plain TCP stream through such a
# proxy, and the proxy's own ceiling.
net=${BF2_HOST_IP%.*}
delayed=$net.2
proxy=
stop_proxy() { [ -z "$proxy" ] || { kill "$proxy"; wait "$proxy" 2>/dev/null || true; proxy=; }; }
trap 'stop_proxy; stop_fixture' EXIT
echo "== the link"
/usr/bin/python3 "$top/bench/delay_proxy.py" --check "$net.4" "$net.3" 2300 0 $((16 << 19))
for w in 3 16; do
  /usr/bin/python3 "$top/bench/delay_proxy.py" --check "$net.4" "$net.3" 2300 0.05 $((w << 19))
done
for w in 3 16; do
  /usr/bin/python3 "$top/bench/delay_proxy.py" "$delayed" "$BF2_HOST_IP" "$BF2_HOST_PORT" 0.05 $((w << 19)) &
  proxy=$!
  sleep 1
  transfer "$delayed" 256 "at a 100 ms round trip, TCP window $w MiB (targets: copy-file, fetch-file >= 1.4 at 3 MiB; >= 2.5 and >= 3 at 16 MiB)"
  stop_proxy
done
transfer "$BF2_HOST_IP" 256 "on loopback" one
transfer "$BF2_HOST_IP" 1024 "on loopback" one

echo "== exec --cmd=true (median of 15, interleaved)"
: >"$work/e_ours"; : >"$work/e_ssh"
for _ in $(seq 15); do
  seconds "$bf2ctl" --address="$BF2_HOST" --login="$BF2_LOGIN" --exec --cmd=true >>"$work/e_ours"
  seconds sshpass -p "$BF2_PASSWD" ssh "${ssh_opts[@]}" "$BF2_LOGIN@$BF2_HOST_IP" true >>"$work/e_ssh"
done
e_ours=$(median <"$work/e_ours"); e_ssh=$(median <"$work/e_ssh")
printf 'bf2ctl exec: %.3f s   ssh: %.3f s   ratio: %.2f (target <= 1.1)\n' \
  "$e_ours" "$e_ssh" "$(echo "$e_ours / $e_ssh" | bc -l)"

echo "== peak resident memory of copy-file and fetch-file (target <= 64 MiB, within 10% across sizes)"
for size in 16 1024; do
  head -c $((size << 20)) /dev/urandom >"$work/f$size"
  /usr/bin/time -f '%M' -o "$work/rss$size" \
    "$bf2ctl" --address="$BF2_HOST" --login="$BF2_LOGIN" --copy-file \
    --from="$work/f$size" --to="$remote_dir/f$size"
  /usr/bin/time -f '%M' -o "$work/fetch$size" \
    "$bf2ctl" --address="$BF2_HOST" --login="$BF2_LOGIN" --fetch-file \
    --from="$remote_dir/f$size" --to="$work/g$size"
  printf '%5d MiB file: copy-file %6d KiB, fetch-file %6d KiB\n' "$size" "$(cat "$work/rss$size")" \
    "$(cat "$work/fetch$size")"
  rm -f "$work/f$size" "$work/g$size" "$remote_dir/f$size"
done
rm -rf "$remote_dir"
