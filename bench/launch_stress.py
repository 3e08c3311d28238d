#!/usr/bin/python3
"""Many starts and stops in a row against one configuration, to catch rare
lost launches (a server killed by the terminal's hang-up, a start reported
done for a server that is gone): prints how many starts left no running
server and how many stops left a process behind.

    bench/launch_stress.py [ROUNDS]        (as root; BF2CTL picks the binary)"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests'))
import fixture as fx  # noqa: E402


def cmdline(pid):
    try:
        with open(f'/proc/{pid}/cmdline', 'rb') as f:
            return f.read()
    except OSError:
        return b''


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 50
    account = fx.Account(f'bf2t{fx.net()}')
    host = fx.Host(fx.Sshd(fx.address(1, fx.PORT)), account)
    srv, cfg = f'{account.home}/srv', f'{account.home}/cfg'
    fx.install_standin(srv, account.name)
    host.mkdir(cfg)
    host.mkdir(cfg + '/settings')
    # Port 0: the kernel picks, so no start waits for the last one's ports.
    start = ['--start', f'--srv-dir={srv}', f'--cfg-dir={cfg}', '--name=Stress', '--max-players=1',
             '--srv-bandwidth=1', '--cl-bandwidth=1', '--ip=127.0.0.1', '--port=0',
             '--spy-lan-port=0', '--spy-port=0', '--game-time=1', '--score-lim=1', '--round-num=1',
             '--srv-passwd=', '--no-remote-admin', '--no-rcon']
    lost = left = failed = 0
    t0 = time.monotonic()
    try:
        for _ in range(rounds):
            failed += host.run(*start).status != 0
            time.sleep(1)  # a lost launch dies within moments of the terminal closing
            lost += host.run('--status', f'--cfg-dir={cfg}').out == 'stopped\n'
            failed += host.run('--stop', f'--cfg-dir={cfg}').status != 0
            left += any(f'{cfg}/'.encode() in cmdline(pid) for pid in os.listdir('/proc'))
        print(f'{rounds} rounds in {time.monotonic() - t0:.0f} s: {failed} failed runs, '
              f'{lost} starts left no server, {left} stops left a process')
    finally:
        host.sshd.stop()
        account.remove()


if __name__ == '__main__':
    main()
