"""Reaching the host: addresses, bounds, vanished peers, drops, host keys."""
import socket
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import fixture as fx

A7, SIX = fx.address(7), 31000 + fx.net()
HI, NO_ANSWER = fx.HI, 'Failure establishing SSH session: no answer in 2 s\n'


@pytest.fixture(scope='module')
def peers():
    """sshd on 7:2222 (7:2223 offers no passwords) and on [::1]; peers that never finish:
    silent (8), silent after a banner (9), full accept queue (11)."""
    four = fx.Sshd(A7 + ':2222', extra=f'MaxStartups 200\nListenAddress {A7}:2223\n'
                   'Match LocalPort 2223\n  PasswordAuthentication no\n')
    six = fx.Sshd(f'[::1]:{SIX}')
    silent = fx.Listener(fx.address(8), fx.PORT, None)
    banner = fx.Listener(fx.address(9), fx.PORT, b'SSH-2.0-OpenSSH_9.2\r\n', hold=True)
    full = socket.create_server((fx.address(11), fx.PORT), backlog=0)
    filler = socket.create_connection((fx.address(11), fx.PORT))
    yield
    for closing in (four.stop, six.stop, silent.stop, banner.stop, full.close, filler.close):
        closing()


P = pytest.param


@pytest.mark.parametrize('address, bound, cmd, printed, status', [
    P(f'{A7}:2222', 30, 'echo hi', HI, 0, id='host and port'),
    P(f'[{A7}]:2222', 30, 'echo hi', HI, 0, id='bracketed host and port'),
    P(f'[::1]:{SIX}', 30, 'echo hi', HI, 0, id='IPv6 and port'),
    P(f'{A7}:2223', 30, 'echo hi', f'Unable to connect to {A7}:2223{fx.NO_PASSWORD_METHOD}', 1,
      id='address quoted as given'),
    P(fx.address(8, fx.PORT), 2, 'echo hi', NO_ANSWER, 1, id='silent peer'),
    P(fx.address(9, fx.PORT), 2, 'echo hi', NO_ANSWER, 1, id='silent after the banner'),
    P(fx.address(11, fx.PORT), 2, 'echo hi', 'Failed to connect: no answer in 2 s\n', 1,
      id='no TCP answer'),
    P(f'{A7}:2222', 1, 'sleep 2; echo hi', HI, 0, id='the bound ends with the login'),
])
def test_address_forms_and_the_connection_bound(account, peers, address, bound, cmd, printed, status):
    assert fx.run([f'--address={address}', f'--login={account.name}', f'--connect-timeout={bound}',
                   '--exec', f'--cmd={cmd}'], account.password) == (printed, '', status)


def test_fingerprint_and_pinned_host_key_send_no_password_to_the_wrong_host(host):
    offered, other = host.sshd.offered, fx.fingerprint(f'{host.sshd.dir}/host_ed25519.pub')
    seen = len(host.sshd.log())
    assert host.run('--fingerprint') == (offered + '\n', '', 0)
    assert fx.run([f'--address={host.address}', '--fingerprint'], None) == (offered + '\n', '', 0)  # no login
    assert host.run(f'--host-key={other}', '--exec', '--cmd=echo hi') == (
        f'Host key mismatch: expected {other}, got {offered}\n', '', 1)
    assert 'password' not in host.sshd.log()[seen:]
    assert host.run(f'--host-key={offered}', '--exec', '--cmd=echo hi') == (HI, '', 0)


def test_runs_dropped_past_max_startups_are_tried_again(account):
    # OpenSSH's default limit on connections not yet logged in.
    crowded = fx.Host(fx.Sshd(fx.address(10, fx.PORT), extra='MaxStartups 10:30:100\n'), account)
    with ThreadPoolExecutor(50) as pool:
        results = list(pool.map(lambda _: crowded.run('--exec', '--cmd=echo hi'), range(50)))
    assert results == [(HI, '', 0)] * 50
    assert 'past MaxStartups' in crowded.sshd.log()  # some were dropped indeed
    crowded.sshd.stop()


def test_a_vanished_peer_ends_the_run_while_a_silent_command_goes_on(host, account):
    ns = fx.Netns()  # the far host's sshd runs in a network namespace
    try:
        far = fx.Host(fx.Sshd(f'{ns.address}:{fx.PORT}', netns=ns.name), account)
        with ThreadPoolExecutor(2) as pool:
            # Silent for longer than a dead peer takes to be given up.
            silent = pool.submit(host.run, '--exec', '--cmd=sleep 75; echo done', timeout=150)
            lost = pool.submit(far.run, '--exec', '--cmd=printf partial; sleep 300', timeout=150)
            assert fx.wait_until(lambda: far.sshd.sessions() == 1, 20)
            time.sleep(2)  # nothing in flight: only keepalive probes can find the peer gone
            ns.down()
            # exec's output so far is out already: the line follows on its own.
            assert lost.result() == ('partial\nConnection lost: Connection timed out\n', '', 1)
            assert silent.result() == ('done\n\n0\n', '', 0)
        far.sshd.stop()
    finally:
        ns.remove()
