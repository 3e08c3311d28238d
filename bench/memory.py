#!/usr/bin/python3
"""Peak resident memory of bf2ctl (the child's ru_maxrss) and peak bytes of
its temporary files on the local disk against hostile remote files, each at
a small and a ten times larger size: --log of a sparse srderr.log,
--install-status of a failed install whose log is one huge line, --start of
a server that writes one huge line before it dies, --exec of a large output
and of a large input file, and of an account whose ~/.ssh/rc floods
standard error.  Bounded memory and disk show as the same figure at both
sizes.  Then --fetch-file of a sparse remote file, which costs the account
nothing: peak memory and the most bytes it held on the local disk, with the
default --max-size (refused) and with a raised one at two sizes.

    bench/memory.py        (as root; BF2CTL picks the binary)"""
import os
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests'))
import fixture as fx  # noqa: E402

MB = 1 << 20


def temp_bytes(pid):
    """The bytes of the deleted (temporary) files pid holds open now."""
    total = 0
    for fd in os.listdir(f'/proc/{pid}/fd'):
        try:
            if os.readlink(f'/proc/{pid}/fd/{fd}').endswith(' (deleted)'):
                total += os.stat(f'/proc/{pid}/fd/{fd}').st_size
        except OSError:  # closed meanwhile
            pass
    return total


def peak(args, password):
    """Runs bf2ctl with its output thrown away; its status, peak RSS (KiB)
    and the peak bytes of its temporary files, watched every 10 ms."""
    p = fx.start(args, password, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    disk, done = [0], threading.Event()

    def watch():
        while not done.wait(0.01):
            try:
                disk[0] = max(disk[0], temp_bytes(p.pid))
            except OSError:  # gone
                pass
    watcher = threading.Thread(target=watch)
    watcher.start()
    _, status, usage = os.wait4(p.pid, 0)
    done.set()
    watcher.join()
    p.returncode = os.waitstatus_to_exitcode(status)
    return p.returncode, usage.ru_maxrss, disk[0]


def disk_bytes(folder):
    """What the files in folder take on the disk."""
    return sum(os.stat(e.path).st_blocks * 512 for e in os.scandir(folder) if e.is_file(follow_symlinks=False))


def fetch_peaks(base, password, remote, size, max_size):
    """--fetch-file of a sparse remote file of size bytes: status, peak RSS and the most bytes on the
    local disk while it ran (sampled every 10 ms) or after."""
    fx.sh(f'rm -f {remote} && truncate -s {size} {remote}')
    with tempfile.TemporaryDirectory() as local:
        most, done = [0], threading.Event()

        def sample():
            while not done.wait(0.01):
                try:
                    most[0] = max(most[0], disk_bytes(local))
                except FileNotFoundError:  # the temporary file renamed meanwhile
                    pass
        sampler = threading.Thread(target=sample)
        sampler.start()
        status, kib, _ = peak(base + ['--fetch-file', f'--from={remote}', f'--to={local}/got',
                                       *([f'--max-size={max_size}'] if max_size else [])], password)
        done.set()
        sampler.join()
        return status, kib, max(most[0], disk_bytes(local))


def main():
    account = fx.Account(f'bf2t{fx.net()}')
    sshd = fx.Sshd(fx.address(1, fx.PORT))
    home, login = account.home, account.name
    srv, cfg, temp = f'{home}/srv', f'{home}/cfg', f'{home}/.bf2_install_bench'
    base = [f'--address={sshd.listen}', f'--login={login}']
    p = 20000 + 10 * fx.net()
    start = ['--start', f'--srv-dir={srv}', f'--cfg-dir={cfg}', '--name=Bench', '--max-players=16',
             '--srv-bandwidth=1', '--cl-bandwidth=1', '--ip=127.0.0.1', f'--port={p}',
             f'--spy-lan-port={p + 2}', f'--spy-port={p + 1}', '--game-time=1', '--score-lim=1',
             '--round-num=1', '--srv-passwd=x', '--no-remote-admin', '--no-rcon']

    def log(size):
        fx.sh(f'rm -f {cfg}/srderr.log && truncate -s {size} {cfg}/srderr.log')
        return ['--log', f'--cfg-dir={cfg}', '--lines=1']

    def install_status(size):
        fx.sh(f"head -c {size} /dev/zero | tr '\\000' x > {temp}/install.log")
        return ['--install-status', f'--dir={temp}']

    def start_dying(size):
        with open(f'{srv}/start.sh', 'w') as f:
            f.write(f"#!/bin/sh\nhead -c {size} /dev/zero | tr '\\000' r >&2\n")
        fx.sh(f'rm -f {cfg}/srderr.log')
        return start

    def exec_output(size):
        return ['--exec', f'--cmd=head -c {size} /dev/zero']

    def exec_json(size):  # held in a file, then streamed into the object
        return ['--json'] + exec_output(size)

    def exec_rc_flood(size):  # the account's ~/.ssh/rc writes size bytes to standard error
        os.makedirs(f'{home}/.ssh', exist_ok=True)
        open(f'{home}/.ssh/rc', 'w').write(f"head -c {size} /dev/zero | tr '\\000' e >&2\n")
        return ['--exec', '--cmd=true']

    def exec_rc_flood_json(size):
        return ['--json'] + exec_rc_flood(size)

    def exec_input(size):
        fx.sh(f'rm -f {temp}/input && truncate -s {size} {temp}/input')
        return ['--exec', '--cmd=cat >/dev/null', f'--input-file={temp}/input']

    cases = [('--log, sparse srderr.log', log, 100 * MB, 1024 * MB, 0),
             ('--install-status, 1-line log', install_status, 30 * MB, 300 * MB, 0),
             ('--start, dying line', start_dying, 2 * MB, 20 * MB, 1),
             ('--exec, output', exec_output, 100 * MB, 1024 * MB, 0),
             ('--exec --json, output', exec_json, 100 * MB, 1024 * MB, 0),
             ('--exec, input file', exec_input, 100 * MB, 1024 * MB, 0),
             ('--exec, ~/.ssh/rc flood', exec_rc_flood, 40 * MB, 400 * MB, 0),
             ('--exec --json, ~/.ssh/rc flood', exec_rc_flood_json, 40 * MB, 400 * MB, 0)]
    try:
        fx.install_standin(srv, login)
        fx.sh(f'mkdir -p {cfg}/settings {temp} && touch {temp}/install.sh && echo 1 > {temp}/install_err.ret'
              f' && chown -R {login}: {cfg} {temp}')
        print(f'{"command":32} {"small":>9} {"peak RSS":>10} {"disk":>9} {"large":>9} {"peak RSS":>10} {"disk":>9}')
        for name, make, small, large, expected in cases:
            figures = []
            for size in (small, large):
                status, kib, disk = peak(base + make(size), account.password)
                # A run that ended otherwise than it should is marked with its status.
                mark = '' if status == expected else f' (status {status})'
                figures.append(f'{size // MB:7d}MB {kib / 1024:8.1f}MB {disk / MB:7.1f}MB{mark}')
            print(f'{name:32} {figures[0]} {figures[1]}')
        print(f'\n{"--fetch-file, sparse remote file":40} {"size":>9} {"status":>6} {"peak RSS":>10} {"local disk":>11}')
        for max_size, size, expected in ((None, (1 << 30) + 1, 1), (4 << 30, (1 << 30) + 1, 0),
                                         (4 << 30, 3 << 30, 0)):
            status, kib, on_disk = fetch_peaks(base, account.password, f'{temp}/sparse', size, max_size)
            mark = '' if status == expected else ' (unexpected)'
            label = f'--max-size={max_size}' if max_size else 'default --max-size (1073741824)'
            print(f'{label:40} {size / MB:7.0f}MB {status:6d} {kib / 1024:8.1f}MB {on_disk / MB:9.1f}MB{mark}')
    finally:
        sshd.stop()
        account.remove()


if __name__ == '__main__':
    main()
