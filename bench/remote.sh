#!/usr/bin/env bash
# Upload and download throughput, exec latency and upload memory of bf2ctl,
# as ratios to OpenSSH's scp and ssh measured in the same run against the
# same host.
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"

b() { "$bf2ctl" --address="$BF2_HOST" --login="$BF2_LOGIN" "$@"; }
remote_dir="$BF2_HOME/bench"
mkdir -p "$remote_dir" && chown "$BF2_LOGIN" "$remote_dir"

# Every upload makes a new file: bf2ctl renames a whole upload over its
# target, and an scp that overwrote in place would skip the allocation.
echo "== copy-file of 256 MiB to a new file (median of 3, interleaved)"
head -c $((256 << 20)) /dev/urandom >"$work/big"
: >"$work/t_ours"; : >"$work/t_scp"; : >"$work/t_scp_legacy"
for _ in 1 2 3; do
  rm -f "$remote_dir/ours" "$remote_dir/scp"; sync
  seconds b --copy-file --from="$work/big" --to="$remote_dir/ours" >>"$work/t_ours"
  seconds sshpass -p "$BF2_PASSWD" scp -q "${ssh_opts[@]}" "$work/big" \
    "$BF2_LOGIN@$BF2_HOST_IP:$remote_dir/scp" >>"$work/t_scp"
  rm -f "$remote_dir/scp"; sync
  seconds sshpass -p "$BF2_PASSWD" scp -O -q "${ssh_opts[@]}" "$work/big" \
    "$BF2_LOGIN@$BF2_HOST_IP:$remote_dir/scp" >>"$work/t_scp_legacy"
done
cmp "$work/big" "$remote_dir/ours"
ours=$(median <"$work/t_ours"); scp=$(median <"$work/t_scp"); legacy=$(median <"$work/t_scp_legacy")
printf 'bf2ctl copy-file: %6.1f MB/s\n' "$(echo "268.435456 / $ours" | bc -l)"
printf 'scp (sftp mode):  %6.1f MB/s\n' "$(echo "268.435456 / $scp" | bc -l)"
printf 'scp -O (legacy):  %6.1f MB/s\n' "$(echo "268.435456 / $legacy" | bc -l)"
printf 'throughput ratio bf2ctl/scp: %.2f (scp -O: %.2f; target >= 1)\n' \
  "$(echo "$scp / $ours" | bc -l)" "$(echo "$legacy / $ours" | bc -l)"

# Each download makes a new local file too, as fetch-file's rename does.
echo "== fetch-file of 256 MiB to a new file (median of 3, interleaved)"
: >"$work/d_ours"; : >"$work/d_scp"
for _ in 1 2 3; do
  rm -f "$work/ours" "$work/scp"; sync
  seconds b --fetch-file --from="$remote_dir/ours" --to="$work/ours" >>"$work/d_ours"
  seconds sshpass -p "$BF2_PASSWD" scp -O -q "${ssh_opts[@]}" \
    "$BF2_LOGIN@$BF2_HOST_IP:$remote_dir/ours" "$work/scp" >>"$work/d_scp"
done
cmp "$work/big" "$work/ours"
ours=$(median <"$work/d_ours"); legacy=$(median <"$work/d_scp")
printf 'bf2ctl fetch-file: %6.1f MB/s   scp -O: %6.1f MB/s   ratio bf2ctl/scp -O: %.2f\n' \
  "$(echo "268.435456 / $ours" | bc -l)" "$(echo "268.435456 / $legacy" | bc -l)" "$(echo "$legacy / $ours" | bc -l)"
rm -f "$work/ours" "$work/scp"

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
