#!/usr/bin/python3
"""How long a crashed server is away with --restart-on-crash: from kill -9 of
the game server to the restarted one answering --query, median of RUNS
crashes (each on a fresh start, so the loop guard never stops it).

    bench/restart.py [RUNS]        (as root; BF2CTL picks the binary)"""
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests'))
import fixture as fx  # noqa: E402


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    account = fx.Account(f'bf2t{fx.net()}')
    host = fx.Host(fx.Sshd(fx.address(1, fx.PORT)), account)
    s = fx.Server(host, 'restart', 0)
    answers = lambda: fx.query(s.port + 1).status == 0  # noqa: E731
    times = []
    try:
        for _ in range(runs):
            assert s.start(restart_on_crash=True).status == 0 and fx.wait_until(answers, 10)
            crashed = time.monotonic()
            fx.sh(f'kill -9 {fx.read_pid(f"{s.cfg}/server.pid")}')
            assert fx.wait_until(lambda: not answers(), 10)
            assert fx.wait_until(answers, 30, 0.05)
            times.append(time.monotonic() - crashed)
        print(f'crash to answering query: median {statistics.median(times):.2f} s of {times}')
    finally:
        s.stop()
        host.sshd.stop()
        account.remove()


if __name__ == '__main__':
    main()
