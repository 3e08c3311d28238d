#!/usr/bin/python3
"""Brings up a throw-away SSH host for the demo and the benchmarks with the
tests' fixture module: a real sshd on a loopback address, a real account
and, with --game-package, an HTTP server handing out a game package whose
start.sh runs the tests' stand-in game server.  Prints the host's
parameters as sh assignments, then keeps it up until standard input closes.

    scripts/fixture_host.py [--game-package] [--default-max-startups]"""
import os
import signal
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests'))
import fixture as fx  # noqa: E402


def serve(game_package, default_max_startups=False):
    """The demo's and the benchmarks' host, up until standard input closes.
    default_max_startups: OpenSSH's own limit on unauthenticated connections."""
    account = fx.Account(f'bf2t{fx.net()}')
    sshd = fx.Sshd(fx.address(1, fx.PORT), extra='MaxStartups 10:30:100\n' if default_max_startups else '')
    # BF2_HOST as bf2ctl's --address takes it; the IP and port apart for ssh and scp.
    values = {'BF2_HOST': sshd.listen, 'BF2_HOST_IP': sshd.host, 'BF2_HOST_PORT': str(sshd.port),
              'BF2_LOGIN': account.name, 'BF2_PASSWD': account.password,
              'BF2_HOME': account.home}
    if game_package:
        root = tempfile.mkdtemp(prefix='bf2www.')
        os.chmod(root, 0o755)
        fx.make_tree(f'{root}/tree')
        fx.install_standin(f'{root}/tree/bf2', '')
        fx.sh(f'cd {root} && tar -czf bf2-server.tar.gz -C tree bf2 && rm -rf tree')
        values['BF2_PACKAGE_URL'] = fx.PackageServer(fx.address(6), root).url('bf2-server.tar.gz')
    for name, value in values.items():
        print(f'{name}={fx.q(value)}')
    print('BF2_FIXTURE_READY=1', flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        sys.stdin.read()
    finally:
        sshd.stop()
        account.remove()


if __name__ == '__main__':
    serve('--game-package' in sys.argv[1:], '--default-max-startups' in sys.argv[1:])
