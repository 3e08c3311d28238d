#!/usr/bin/python3
"""What an option costs a run: exec --cmd=true plain, with --json, with a
known_hosts file that records the host (one line, and the host last among
10,000 hashed entries), and with --host-key, against one local sshd.

    bench/option_cost.py [RUNS]        (as root; BF2CTL picks the binary)

Medians of RUNS (default 15) interleaved runs, and their ratio to the plain run."""
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests'))
import fixture as fx  # noqa: E402


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 15
    account = fx.Account(f'bf2t{fx.net()}')
    sshd = fx.Sshd(fx.address(1, fx.PORT))
    host = fx.Host(sshd, account)
    d = tempfile.mkdtemp(prefix='bf2kh.')
    try:
        one, many = f'{d}/one', f'{d}/many'
        assert host.run(f'--known-hosts={one}', '--exec', '--cmd=true').status == 0
        # 10,000 other hosts before it, hashed as OpenSSH hashes them.
        text = open(one).read()
        key = text.split(' ', 1)[1].strip()
        fx.sh(f'for i in $(seq 10000); do echo "h$i {key}"; done > {many} && '
              f'ssh-keygen -q -H -f {many} >/dev/null && cat {one} >> {many} && rm -f {many}.old')
        fingerprint = host.run('--fingerprint').out.strip()
        cases = {'plain': [], 'json': ['--json'], 'known_hosts, 1 line': [f'--known-hosts={one}'],
                 'known_hosts, 10001 lines': [f'--known-hosts={many}'], 'host-key': [f'--host-key={fingerprint}']}
        times = {name: [] for name in cases}
        for _ in range(runs):
            for name, options in cases.items():
                began = time.monotonic()
                assert host.run(*options, '--exec', '--cmd=true').status == 0
                times[name].append(time.monotonic() - began)
        assert open(one).read() == text
        plain = statistics.median(times['plain'])
        for name, taken in times.items():
            median = statistics.median(taken)
            print(f'{name:26} {median * 1000:7.1f} ms  x{median / plain:.3f}')
    finally:
        sshd.stop()
        account.remove()
        fx.sh(f'rm -rf {d}')


if __name__ == '__main__':
    main()
