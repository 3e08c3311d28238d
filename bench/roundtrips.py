#!/usr/bin/python3
"""Round trips of start, restart, stop, exec, a small copy-file and list-dir: each command's time directly and
through a proxy that holds every chunk 50 ms in each direction (a 100 ms
round trip), the extra round trips that makes, and the channel sessions the
command opened (the sshd log's "Starting session:" lines).

    bench/roundtrips.py [RUNS]        (as root; BF2CTL picks the binary)

Medians of RUNS (default 5) interleaved runs."""
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests'))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fixture as fx  # noqa: E402
from delay_proxy import DELAY, start_proxy  # noqa: E402


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    account = fx.Account(f'bf2t{fx.net()}')
    sshd = fx.Sshd(fx.address(1, fx.PORT))
    start_proxy(fx.address(2), fx.address(1), fx.PORT)
    home = account.home
    srv, cfg = f'{home}/srv', f'{home}/cfg'
    fx.install_standin(srv, account.name)
    fx.sh(f'mkdir -p {cfg}/settings && chown -R {account.name}: {cfg}')
    p = 20000 + 10 * fx.net()
    start = ['--start', f'--srv-dir={srv}', f'--cfg-dir={cfg}', '--name=Bench', '--max-players=16',
             '--srv-bandwidth=1', '--cl-bandwidth=1', '--ip=127.0.0.1', f'--port={p}',
             f'--spy-lan-port={p + 2}', f'--spy-port={p + 1}', '--game-time=1', '--score-lim=1',
             '--round-num=1', '--srv-passwd=x', '--no-remote-admin', '--no-rcon']
    commands = {'start': start, 'restart': ['--restart', f'--cfg-dir={cfg}'], 'stop': ['--stop', f'--cfg-dir={cfg}'],
                'exec true': ['--exec', '--cmd=true'],
                'copy-file': ['--copy-file', f'--from={fx.TESTS}/fixture.py', f'--to={home}/copied'],
                'list-dir': ['--list-dir', f'--dir={home}']}
    times = {(name, via): [] for name in commands for via in ('direct', 'delayed')}
    sessions = {}
    try:
        # Each start finds the server stopped, each restart and stop finds it running.
        for _ in range(runs):
            for via, address in (('direct', sshd.listen), ('delayed', fx.address(2, fx.PORT))):
                for name, args in commands.items():
                    before = sshd.sessions()
                    t0 = time.monotonic()
                    r = fx.run([f'--address={address}', f'--login={account.name}', *args])
                    times[name, via].append(time.monotonic() - t0)
                    sessions[name] = sshd.sessions() - before
                    if r.status != 0:
                        sys.exit(f'{name} via {via} failed: {r}')
        print(f'{"command":10} {"direct":>8} {"100 ms RTT":>11} {"extra RTTs":>11} {"sessions":>9}')
        for name in commands:
            direct = statistics.median(times[name, 'direct'])
            delayed = statistics.median(times[name, 'delayed'])
            print(f'{name:10} {direct:7.2f}s {delayed:10.2f}s {(delayed - direct) / (2 * DELAY):11.1f}'
                  f' {sessions[name]:9d}')
    finally:
        fx.run([f'--address={sshd.listen}', f'--login={account.name}', '--stop', f'--cfg-dir={cfg}'])
        sshd.stop()
        account.remove()


if __name__ == '__main__':
    main()
