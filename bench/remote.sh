#!/usr/bin/env bash
# Upload and download throughput, exec latency and upload memory of bf2ctl,
# as ratios to OpenSSH's scp and ssh measured in the same run against the
# same host.
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"

b() { "$bf2ctl" --address="$BF2_HOST" --login="$BF2_LOGIN" "$@"; }
remote_dir="$BF2_HOME/bench"
mkdir -p "$remote_dir" && chown "$BF2_LOGIN" "$remote_dir"

runs=5
# Median, and the spread of the runs: min-max.
summary() { sort -g "$1" | awk '{a[NR]=$1} END {printf "%.3f s (%.3f-%.3f)", (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2), a[1], a[NR]}'; }
ratio() { echo "$(median <"$1") / $(median <"$2")" | bc -l | xargs printf '%.2f'; }

# Every upload makes a new file: bf2ctl renames a whole upload over its
# target, and an scp that overwrote in place would skip the allocation.
# upload HOST SIZE_MIB LABEL: copy-file, scp -O and scp (SFTP), interleaved.
upload() {
  local host=$1 mib=$2 label=$3 tool
  head -c $((mib << 20)) /dev/urandom >"$work/big"
  for tool in ours scp legacy; do : >"$work/t_$tool"; done
  for _ in $(seq $runs); do
    rm -f "$remote_dir/ours" "$remote_dir/scp"; sync
    seconds "$bf2ctl" --address="$host:$BF2_HOST_PORT" --login="$BF2_LOGIN" --copy-file \
      --from="$work/big" --to="$remote_dir/ours" >>"$work/t_ours"
    seconds sshpass -p "$BF2_PASSWD" scp -q "${ssh_opts[@]}" "$work/big" \
      "$BF2_LOGIN@$host:$remote_dir/scp" >>"$work/t_scp"
    rm -f "$remote_dir/scp"; sync
    seconds sshpass -p "$BF2_PASSWD" scp -O -q "${ssh_opts[@]}" "$work/big" \
      "$BF2_LOGIN@$host:$remote_dir/scp" >>"$work/t_legacy"
  done
  cmp "$work/big" "$remote_dir/ours"
  echo "== copy-file of $mib MiB $label (median of $runs, interleaved; min-max)"
  echo "bf2ctl copy-file: $(summary "$work/t_ours")"
  echo "scp (SFTP):       $(summary "$work/t_scp")"
  echo "scp -O:           $(summary "$work/t_legacy")"
  echo "throughput ratio bf2ctl/scp -O: $(ratio "$work/t_legacy" "$work/t_ours")" \
    "(target >= 1.10; >= 1.0 at 100 ms)   bf2ctl/scp: $(ratio "$work/t_scp" "$work/t_ours") (target >= 1.0)"
}
upload "$BF2_HOST_IP" 256 "on loopback"
upload "$BF2_HOST_IP" 1024 "on loopback"
# The same host through a proxy that holds every chunk 50 ms each way.
delayed=${BF2_HOST_IP%.*}.2
/usr/bin/python3 "$top/bench/delay_proxy.py" "$delayed" "$BF2_HOST_IP" "$BF2_HOST_PORT" &
proxy=$!
sleep 1
upload "$delayed" 64 "at a 100 ms round trip"
kill "$proxy"

# Each download makes a new local file too, as fetch-file's rename does.
head -c $((256 << 20)) /dev/urandom >"$work/big"
cp "$work/big" "$remote_dir/ours" && chown "$BF2_LOGIN" "$remote_dir/ours"
: >"$work/d_ours"; : >"$work/d_scp"
for _ in $(seq $runs); do
  rm -f "$work/ours" "$work/scp"; sync
  seconds "$bf2ctl" --address="$BF2_HOST" --login="$BF2_LOGIN" --fetch-file \
    --from="$remote_dir/ours" --to="$work/ours" >>"$work/d_ours"
  seconds sshpass -p "$BF2_PASSWD" scp -O -q "${ssh_opts[@]}" \
    "$BF2_LOGIN@$BF2_HOST_IP:$remote_dir/ours" "$work/scp" >>"$work/d_scp"
done
cmp "$work/big" "$work/ours"
echo "== fetch-file of 256 MiB to a new file (median of $runs, interleaved; min-max)"
echo "bf2ctl fetch-file: $(summary "$work/d_ours")   scp -O: $(summary "$work/d_scp")"
echo "throughput ratio bf2ctl/scp -O: $(ratio "$work/d_scp" "$work/d_ours") (target >= 1.0)"
rm -f "$work/ours" "$work/scp" "$work/big"

echo "== exec --cmd=true (median of 15, interleaved)"
: >"$work/e_ours"; : >"$work/e_ssh"
for _ in $(seq 15); do
  seconds b --exec --cmd=true >>"$work/e_ours"
  seconds sshpass -p "$BF2_PASSWD" ssh "${ssh_opts[@]}" "$BF2_LOGIN@$BF2_HOST_IP" true >>"$work/e_ssh"
done
ours=$(median <"$work/e_ours"); ssh=$(median <"$work/e_ssh")
printf 'bf2ctl exec: %.3f s   ssh: %.3f s   ratio: %.2f (target <= 1.1)\n' \
  "$ours" "$ssh" "$(echo "$ours / $ssh" | bc -l)"

echo "== peak resident memory of copy-file and fetch-file"
for size in 16 1024; do
  head -c $((size << 20)) /dev/zero >"$work/f$size"
  /usr/bin/time -f '%M' -o "$work/rss$size" \
    "$bf2ctl" --address="$BF2_HOST" --login="$BF2_LOGIN" --copy-file \
    --from="$work/f$size" --to="$remote_dir/f$size"
  /usr/bin/time -f '%M' -o "$work/fetch$size" \
    "$bf2ctl" --address="$BF2_HOST" --login="$BF2_LOGIN" --fetch-file \
    --from="$remote_dir/f$size" --to="$work/g$size"
  printf '%5d MiB file: %6d KiB, fetched back: %6d KiB\n' "$size" "$(cat "$work/rss$size")" \
    "$(cat "$work/fetch$size")"
  rm -f "$work/f$size" "$work/g$size" "$remote_dir/f$size"
done
rm -rf "$remote_dir"
