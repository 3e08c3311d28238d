"""Trusting the host and being trusted by it: known_hosts files as OpenSSH keeps them, key logins."""
import fcntl
import os
import shutil
import subprocess
import tempfile
from concurrent.futures import ThreadPoolExecutor

import pytest

import fixture as fx

HI, P = fx.HI, pytest.param


@pytest.fixture
def kh(tmp_path):
    return str(tmp_path / 'known_hosts')


def hi(host, kh, *more, address=None, password=fx.PASSWORD):
    return fx.run([f'--address={address or host.address}', f'--login={host.login}', f'--known-hosts={kh}',
                   *more, '--exec', '--cmd=echo hi'], password)


def openssh(host, kh, *options):
    """OpenSSH's client logging in with the password and kh as its only known_hosts file."""
    return subprocess.run(['sshpass', '-e', 'ssh', '-p', str(host.sshd.port), '-o', f'UserKnownHostsFile={kh}',
                           '-o', 'GlobalKnownHostsFile=/dev/null', '-o', 'PreferredAuthentications=password',
                           *options, f'{host.login}@{host.sshd.host}', 'echo hi'],
                          env=os.environ | {'SSHPASS': host.account.password}, capture_output=True,
                          text=True, timeout=30)


def test_a_new_host_is_recorded_hashed_once_where_openssh_finds_it(host, kh):
    assert hi(host, kh) == (HI, '', 0)
    text = open(kh).read()
    assert os.stat(kh).st_mode & 0o777 == 0o600
    assert text.startswith('|1|') and text.count('\n') == 1
    assert text.endswith(fx.public_key(f'{host.sshd.dir}/host_ecdsa.pub') + '\n')
    assert hi(host, kh) == (HI, '', 0) and open(kh).read() == text
    assert f'[{host.sshd.host}]:{host.sshd.port}' in fx.sh(f'ssh-keygen -F "[{host.sshd.host}]:2222" -f {kh}').stdout
    assert openssh(host, kh, '-o', 'StrictHostKeyChecking=yes').stdout == 'hi\n'


@pytest.mark.parametrize('hashed', ['yes', 'no'])
def test_a_file_openssh_wrote_is_read_and_its_key_type_asked_for(host, kh, hashed):
    # libssh2 asks for ECDSA first: only the preference for the recorded
    # ed25519 key keeps this host from looking changed.
    assert openssh(host, kh, '-o', 'StrictHostKeyChecking=accept-new', '-o', f'HashKnownHosts={hashed}',
                   '-o', 'HostKeyAlgorithms=ssh-ed25519').stdout == 'hi\n'
    text = open(kh).read()
    assert hi(host, kh) == (HI, '', 0) and open(kh).read() == text


def test_a_changed_or_revoked_key_stops_the_run_before_the_password(host, kh, tmp_path):
    d = host.sshd.dir
    ecdsa, ed25519 = fx.public_key(f'{d}/host_ecdsa.pub'), fx.public_key(f'{d}/host_ed25519.pub')
    name = f'[{host.sshd.host}]:2222'
    fx.sh(f'ssh-keygen -q -t ecdsa -N "" -f {tmp_path}/other && ssh-keygen -q -t rsa -N "" -f {tmp_path}/rsa')
    other, rsa = fx.public_key(f'{tmp_path}/other.pub'), fx.public_key(f'{tmp_path}/rsa.pub')
    offered = host.sshd.offered
    changed = f'Host key mismatch: expected {fx.fingerprint(f"{tmp_path}/other.pub")}, got {offered}\n'
    cases = [
        (f'{name} {rsa}\n{name} {other}\n', changed),  # the recorded key of the offered type
        (f'{name} {rsa}\n', f'Host key mismatch: expected {fx.fingerprint(f"{tmp_path}/rsa.pub")}, got {offered}\n'),
        (f'{name} {ecdsa}\n@revoked * {ecdsa}\n', f'Host key revoked: {offered}\n'),
        (f'# comment\n\n@cert-authority {name} {other}\nnot a line\nelse,!{name},{name} {other}\n'
         f'else,[{host.sshd.host}]:22?? {ecdsa}', HI),
        (f'  [127.0.*]:2222 {ed25519} comment\n', HI),
    ]
    for text, printed in cases:
        open(kh, 'w').write(text)
        seen = len(host.sshd.log())
        assert hi(host, kh) == (printed, '', 0 if printed == HI else 1), text
        assert open(kh).read() == text
        assert printed == HI or 'password' not in host.sshd.log()[seen:]


def test_the_pinned_key_and_the_file_must_both_hold(host, kh):
    other, offered = fx.fingerprint(f'{host.sshd.dir}/host_ed25519.pub'), host.sshd.offered
    assert hi(host, kh, f'--host-key={other}') == (f'Host key mismatch: expected {other}, got {offered}\n', '', 1)
    assert not os.path.exists(kh)
    assert hi(host, kh, f'--host-key={offered}') == (HI, '', 0)


def test_files_that_cannot_serve_fail_before_connecting(host, tmp_path):
    seen = len(host.sshd.log())
    assert hi(host, f'{tmp_path}/none/kh') == (f'No directory for the known hosts file {tmp_path}/none/kh\n', '', 1)
    assert hi(host, str(tmp_path)) == (f'Unable to read the known hosts file {tmp_path}: Is a directory\n', '', 1)
    assert 'Connection from' not in host.sshd.log()[seen:]


@pytest.fixture(scope='module')
def fifty(account):
    addresses = [fx.address(100 + i) for i in range(50)]
    # sshd listens on 16 sockets at most.
    sshds = [fx.Sshd(f'{addresses[i]}:2222', extra=''.join(f'ListenAddress {a}:2222\n' for a in addresses[i + 1:i + 10]))
             for i in range(0, 50, 10)]
    yield fx.Host(sshds[0], account), addresses
    for sshd in sshds:
        sshd.stop()


@pytest.mark.parametrize('hosts', [1, 50])
def test_runs_together_record_each_new_host_exactly_once(fifty, kh, hosts):
    host, addresses = fifty
    with ThreadPoolExecutor(50) as pool:
        runs = list(pool.map(lambda i: hi(host, kh, address=f'{addresses[i % hosts]}:2222'), range(50)))
    assert runs == [(HI, '', 0)] * 50
    lines = open(kh).read().splitlines()
    assert len(lines) == hosts and all(line.startswith('|1|') for line in lines)
    for a in addresses[:hosts]:
        assert fx.sh(f'ssh-keygen -F "[{a}]:2222" -f {kh}').stdout.count('\n|1|') == 1


@pytest.fixture(scope='module')
def keyed(account):
    """An sshd that takes keys only; ed25519, ecdsa (locked) and rsa keys are the account's."""
    d = tempfile.mkdtemp(prefix='bf2keys.')  # sshd reads authorized_keys as the account
    os.chmod(d, 0o755)
    for name, kind, phrase in [('ed25519', 'ed25519', ''), ('ecdsa', 'ecdsa', 'pass phrase'), ('rsa', 'rsa', ''),
                               ('stranger', 'ed25519', '')]:
        fx.sh(f'ssh-keygen -q -t {kind} -N {fx.q(phrase)} -f {d}/{name}')
    fx.sh(f'cat {d}/ed25519.pub {d}/ecdsa.pub {d}/rsa.pub > {d}/authorized_keys && chmod 644 {d}/*')
    sshd = fx.Sshd(fx.address(12, fx.PORT), extra=f'AuthorizedKeysFile {d}/authorized_keys\nMatch all\n  PasswordAuthentication no\n')
    yield fx.Host(sshd, account), d
    sshd.stop()
    shutil.rmtree(d)


REFUSED = 'Authentication failed\n'


@pytest.mark.parametrize('key, phrase, password, printed', [
    P('ed25519', None, None, HI, id='ed25519 key, no password needed'),
    P('ecdsa', 'pass phrase', None, HI, id='locked ecdsa key with its passphrase'),
    P('ecdsa', None, None, 'Unable to read the key {}: it is locked and BF2_KEY_PASSPHRASE is not set\n',
      id='locked key without a passphrase'),
    P('ecdsa', 'wrong', None, 'Unable to read the key {}: wrong passphrase or a key libssh2 cannot use\n',
      id='wrong passphrase'),
    P('missing', None, None, 'Unable to read the key {}: No such file or directory\n', id='missing key'),
    P('ed25519.pub', None, None, "Unable to read the key {}: not a private key in OpenSSH's or PEM format\n",
      id='a public key given'),
    P('stranger', None, None, REFUSED, id='key not authorized'),
    P('stranger', None, fx.PASSWORD, REFUSED, id='key not authorized, passwords not taken'),
    P('rsa', None, None, 'Authentication failed: the server may refuse the RSA key\'s SHA-1 signature (ssh-rsa);'
      ' use an ed25519 or ecdsa key\n', id='RSA key signed with SHA-1'),
])
def test_key_logins(keyed, key, phrase, password, printed):
    host, d = keyed
    env = {'BF2_KEY_PASSPHRASE': phrase} if phrase else {}
    result = fx.run(host.args([f'--identity={d}/{key}', '--exec', '--cmd=echo hi']), password, env=env)
    assert result == (printed.format(f'{d}/{key}'), '', 0 if printed == HI else 1)


def test_a_refused_key_leaves_the_password_to_try(host, keyed):
    stranger = f'{keyed[1]}/stranger'
    seen = len(host.sshd.log())
    assert host.run(f'--identity={stranger}', '--exec', '--cmd=echo hi') == (HI, '', 0)
    log = host.sshd.log()[seen:]
    assert -1 < log.find('Failed publickey for') < log.find('Accepted password for')
    assert fx.run(host.args([f'--identity={stranger}', '--exec', '--cmd=echo hi']), None) == (REFUSED, '', 1)


def test_a_lock_held_for_ever_ends_with_the_connection_bound(host, kh):
    with open(kh, 'w') as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        assert hi(host, kh, '--connect-timeout=2') == (
            f'Unable to lock the known hosts file {kh}: held by another process\n', '', 1)
    assert open(kh).read() == ''
