#!/usr/bin/env bash
# Backup and restore of a 1 GiB server tree with bf2ctl against a plain tar
# over ssh on the same host: wall time (median of 3 interleaved runs,
# min-max) and the ratio, bf2ctl's and ssh's own peak resident memory, and
# the account's largest process and total resident memory on the host while
# each ran.  The tree is in the page cache for every run.
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"

runs=3
bench="$BF2_HOME/bench"
dir="$bench/server" bdir="$bench/backups" new="$bench/unpacked"
uid=$(id -u "$BF2_LOGIN")

# The tree, 1.2 GiB of archives once and the restores' copies: refuse to
# start rather than fill a disk that others share.
need_kib=$((4 << 20))
for fs in "$BF2_HOME" "$work"; do
  free_kib=$(df --output=avail -k "$fs" | tail -1)
  if [ "$free_kib" -lt "$need_kib" ]; then
    printf '*** NOT ENOUGH DISK SPACE: %s has %d MiB free, the benchmark needs %d MiB ***\n' \
      "$fs" $((free_kib >> 10)) $((need_kib >> 10)) >&2
    exit 1
  fi
done
cleanup() { rm -rf "$bench"; stop_fixture; }
trap cleanup EXIT

# A game server's tree: level and mod archives, binaries, sounds and
# textures (incompressible, 3/4 of the bytes) beside scripts, settings and
# logs (text, 1/4), about 5000 files in nested folders.  Seeded, so that
# every run of the benchmark compresses the same bytes.
make_tree() {
  /usr/bin/python3 - "$1" <<'EOF'
import os, random, sys
root, MiB = sys.argv[1], 1 << 20
rng = random.Random(32)
maps = [f'map_{i:02d}' for i in range(24)]
binary_dirs = (['bin/amd-64', 'mods/bf2', 'mods/bf2/demos', 'mods/xpack']
               + [f'mods/bf2/levels/{m}/{s}' for m in maps for s in ('', 'textures', 'sounds', 'textures/terrain')])
text_dirs = (['settings', 'logs', 'admin/standard_admin', 'python/bf2', 'python/bf2/stats',
              'python/game/gamemodes', 'python/game/logs'] + [f'mods/bf2/levels/{m}/info' for m in maps])
words = ('player team score kit vehicle flag control point server map round ticket spawn admin kick ban '
         'chat squad commander weapon damage kill death sv game mod level config True False None self').split()


def line():
    kind = rng.random()
    w = rng.choices(words, k=rng.randint(2, 7))
    if kind < 0.4:
        return f'{"    " * rng.randint(0, 3)}{w[0]}_{w[1]} = {"_".join(w[2:]) or w[0]}({rng.randint(0, 9999)})\n'
    if kind < 0.7:
        return f'{w[0]}.{w[1]} "{" ".join(w[2:])}" {rng.randint(0, 65535)}\n'
    return (f'[2024-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d} {rng.randint(0, 23):02d}:'
            f'{rng.randint(0, 59):02d}:{rng.randint(0, 59):02d}] {" ".join(w)} id={rng.randint(0, 1 << 20)}\n')


pool = [line() for _ in range(40000)]


def sizes(count, low, high, total=None):
    """count sizes spread evenly on a log scale; scaled to add up to total when given."""
    s = [int(low * (high / low) ** rng.random()) for _ in range(count)]
    if total is not None:
        have = sum(s)
        s = [max(1, x * total // have) for x in s]
        s[0] += total - sum(s)
    return s


def write(dirs, exts, size, make):
    d = os.path.join(root, rng.choice(dirs))
    os.makedirs(d, exist_ok=True)
    path = os.path.join(d, f'f{rng.randrange(1 << 30):08x}.{rng.choice(exts)}')
    with open(path, 'wb') as f:
        while size > 0:
            chunk = make(min(size, MiB))
            f.write(chunk)
            size -= len(chunk)


def text(n):
    out, have = [], 0
    while have < n:
        lines = rng.choices(pool, k=64)
        out.extend(lines)
        have += sum(map(len, lines))
    return ''.join(out).encode()[:n]


small_random = sizes(2000, 1 << 10, 64 << 10)
small_text = sizes(3000, 512, 64 << 10)
for n in small_random + sizes(200, 256 << 10, 48 * MiB, 768 * MiB - sum(small_random)):
    write(binary_dirs, ('zip', 'dds', 'ogg', 'so', 'bin', 'dif'), n, rng.randbytes)
for n in small_text + sizes(12, 4 * MiB, 40 * MiB, 256 * MiB - sum(small_text)):
    write(text_dirs, ('py', 'con', 'txt', 'log', 'desc'), n, text)
EOF
}

# The account's processes on the host, sampled every 100 ms until SIGTERM:
# prints the largest VmHWM (KiB) with its program's name, and the largest
# sum of VmRSS over the account's processes at one moment.  Its own
# process, so that $! is the one to stop, and without the fixture's hold.
sampler() {
  exec /usr/bin/python3 - "$uid" 9>&- <<'EOF'
import os, signal, sys, time
uid, stop = int(sys.argv[1]), []
signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
hwm, who, total = 0, '-', 0
while not stop:
    now = 0
    for pid in filter(str.isdigit, os.listdir('/proc')):
        try:
            if os.stat(f'/proc/{pid}').st_uid != uid:
                continue
            with open(f'/proc/{pid}/status') as f:
                status = dict(l.split(':', 1) for l in f if ':' in l)
        except OSError:  # ended meanwhile
            continue
        if 'VmHWM' not in status:  # a zombie
            continue
        now += int(status['VmRSS'].split()[0])
        if int(status['VmHWM'].split()[0]) > hwm:
            hwm, who = int(status['VmHWM'].split()[0]), status['Name'].strip()
    total = max(total, now)
    time.sleep(0.1)
print(hwm, who, total)
EOF
}

# measure LABEL CMD...: runs CMD with its standard output in $work/out;
# appends its wall seconds to $work/LABEL.time, its own peak RSS (KiB, the
# largest of it and the children it waited for) to LABEL.rss and the
# host-side figures to LABEL.host.  A failure ends the benchmark.
measure() {
  local label=$1 watch
  shift
  sync
  sampler >"$work/sample" &
  watch=$!
  if ! /usr/bin/time -f '%e %M' -o "$work/usage" "$@" >"$work/out"; then
    kill "$watch"
    wait "$watch" || true
    echo "*** $label failed: $(head -c 500 "$work/out")" >&2
    exit 1
  fi
  kill "$watch"
  wait "$watch"
  read -r secs kib <"$work/usage"
  echo "$secs" >>"$work/$label.time"
  echo "$kib" >>"$work/$label.rss"
  cat "$work/sample" >>"$work/$label.host"
}

b=("$bf2ctl" --address="$BF2_HOST" --login="$BF2_LOGIN")
on_host=(sshpass -p "$BF2_PASSWD" ssh "${ssh_opts[@]}" "$BF2_LOGIN@$BF2_HOST_IP")

# Median, and the spread of the runs: min-max.
summary() { sort -g "$1" | awk '{a[NR]=$1} END {printf "%7.2f s (%.2f-%.2f)", (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2), a[1], a[NR]}'; }
ratio() { echo "$(median <"$1") / $(median <"$2")" | bc -l | xargs printf '%.2f'; }
# The most memory of any run: local peak RSS, then the host's largest process and total.
memory() {
  printf 'local %6.1f MiB   host: largest %6.1f MiB (%s), total %6.1f MiB' \
    "$(sort -g "$work/$1.rss" | tail -1 | awk '{print $1 / 1024}')" \
    "$(sort -g "$work/$1.host" | tail -1 | awk '{print $1 / 1024}')" \
    "$(sort -g "$work/$1.host" | tail -1 | awk '{print $2}')" \
    "$(sort -g -k3 "$work/$1.host" | tail -1 | awk '{print $3 / 1024}')"
}

mkdir -p "$bench"
echo "making the tree ..." >&2
make_tree "$dir"
chown -R "$BF2_LOGIN:" "$bench"
files=$(find "$dir" -type f | wc -l)
mib=$(find "$dir" -type f -printf "%s\n" | awk "{s += \$1} END {print int(s / 1048576)}")

for _ in $(seq $runs); do
  # bf2ctl makes it as the account's: so must it be for tar.
  rm -rf "$bdir" && mkdir -m 700 "$bdir" && chown "$BF2_LOGIN:" "$bdir"
  measure b_ours "${b[@]}" --backup --dir="$dir" --backup-dir="$bdir"
  archive=$(sed -n 's/^backup: //p' "$work/out")
  measure b_ssh "${on_host[@]}" tar czf "$bdir/x.tar.gz" -C "$dir" .
done
size=$(stat -c %s "$bdir/$archive")
ssh_size=$(stat -c %s "$bdir/x.tar.gz")
rm -f "$bdir/x.tar.gz"

for _ in $(seq $runs); do
  rm -rf "$dir.before-restore" "$new"
  measure r_ours "${b[@]}" --restore --dir="$dir" --backup-dir="$bdir" --archive="$archive"
  measure r_ssh "${on_host[@]}" "mkdir $new && tar xzpf $bdir/$archive -C $new"
done
# Both restores hold what the tree held.
diff -r "$dir" "$dir.before-restore"
diff -r "$dir" "$new"
rm -rf "$dir.before-restore" "$new"

# What bf2ctl does beyond tar, one run each on the host, to tell where a
# difference comes from: the backup syncs the archive and hashes it; the
# restore hashes it and lists it (a second gunzip) before unpacking.
on_host_secs() { seconds "${on_host[@]}" "$@" | xargs printf '%.2f s'; }
login=$(on_host_secs true)
sha=$(on_host_secs sha256sum "$bdir/$archive")
list=$(on_host_secs tar -tvzPf "$bdir/$archive" --quoting-style=c --numeric-owner)
cp "$bdir/$archive" "$bdir/copy" && chown "$BF2_LOGIN:" "$bdir/copy"
flush=$(on_host_secs sync "$bdir/copy")
rm -f "$bdir/copy"

echo "== backup of a $mib MiB tree in $files files, 75% random, 25% text (median of $runs, interleaved; min-max)"
echo "bf2ctl --backup: $(summary "$work/b_ours.time")   archive $((size >> 20)) MiB"
echo "ssh tar czf:     $(summary "$work/b_ssh.time")   archive $((ssh_size >> 20)) MiB"
echo "time ratio bf2ctl/ssh: $(ratio "$work/b_ours.time" "$work/b_ssh.time")"
echo "== restore of that backup into a new directory"
echo "bf2ctl --restore: $(summary "$work/r_ours.time")"
echo "ssh tar xzpf:     $(summary "$work/r_ssh.time")"
echo "time ratio bf2ctl/ssh: $(ratio "$work/r_ours.time" "$work/r_ssh.time")"
echo "== steps on the host alone, one run each, with an ssh login of $login"
echo "sha256sum of the archive: $sha   listing it (tar -tvz): $list   sync of a fresh copy: $flush"
echo "== peak resident memory (largest of the runs)"
echo "backup  bf2ctl: $(memory b_ours)"
echo "backup  ssh:    $(memory b_ssh)"
echo "restore bf2ctl: $(memory r_ours)"
echo "restore ssh:    $(memory r_ssh)"
