"""Every run ends: at its bound, on a signal, against an account that makes
its own files hang, and its remote work ends with it."""
import glob
import os
import signal
import subprocess
import threading
import time

import pytest

import fixture as fx
from test_server import Server, cmdline


def processes(login):
    """The account's live processes, pid to command line."""
    uid = int(fx.sh(f'id -u {login}').stdout)
    found = {}
    for pid in filter(str.isdigit, os.listdir('/proc')):
        try:
            if os.stat(f'/proc/{pid}').st_uid == uid and open(f'/proc/{pid}/stat').read().split(') ')[1][0] != 'Z':
                found[pid] = cmdline(pid)
        except (OSError, IndexError):
            pass
    return found


@pytest.fixture
def server(host, request):
    s = Server(host, request.node.name[5:20], 8)
    yield s
    s.cleanup()


def swap_pipe_and_file(path, stop):
    while not stop.is_set():
        for make in (os.mkfifo, lambda p: open(p, 'w').write('x\n')):
            try:
                os.remove(path)
            except OSError:
                pass
            make(path)
            time.sleep(0.001)


@pytest.mark.parametrize('plant, args, results', [
    ('rc', ['--status'], {('Timed out after 3 s\n', '', 1)}),
    ('sparse pid', ['--status'], {('stopped\n', '', 0)}),
    ('swapped log', ['--log'], {('x\n', '', 0), ('', '', 0), ('Timed out after 3 s\n', '', 1)})])
def test_a_hostile_account_cannot_hold_a_run_past_its_bound(server, host, plant, args, results):
    before, stop = set(processes(host.login)), threading.Event()
    if plant == 'rc':
        os.makedirs(f'{host.home}/.ssh', exist_ok=True)
        with open(f'{host.home}/.ssh/rc', 'w') as f:
            f.write('sleep 30\n')
    elif plant == 'sparse pid':
        with open(f'{server.cfg}/server.pid', 'w') as f:
            f.truncate(1 << 40)
    else:
        threading.Thread(target=swap_pipe_and_file, args=(f'{server.cfg}/srderr.log', stop)).start()
    try:
        for _ in range(3 if plant == 'swapped log' else 1):
            began = time.monotonic()
            r = server.host.run(*args, f'--cfg-dir={server.cfg}', '--timeout=3', timeout=20)
            assert r in results or r == (f'Not a regular file: {server.cfg}/srderr.log\n', '', 1)
            assert time.monotonic() - began < 8
    finally:
        stop.set()
        fx.sh(f'rm -f {host.home}/.ssh/rc')
    # What the runs started ends with them; the account's own rc stays, and
    # sshd's process of the connection with it.
    left = lambda: {p: c for p, c in processes(host.login).items() if p not in before and not
                    (c.startswith('sshd:') or '.ssh/rc' in c or c == 'sleep\x0030\x00')}
    assert fx.wait_until(lambda: not left(), 5), left()


def test_a_signal_ends_the_run_and_its_remote_work(host, tmp_path):
    remote = host.mkdir(f'{host.home}/interrupted')
    fx.sh(f'head -c 300000000 /dev/zero > {tmp_path}/big && echo old > {remote}/f')
    before = set(processes(host.login))
    for args, started in [
            (['--copy-file', f'--from={tmp_path}/big', f'--to={remote}/f'],
             lambda: glob.glob(f'{remote}/.bf2ctl-upload.*/file')),
            (['--exec', '--cmd=sleep 60'],
             lambda: any(c == 'sleep\x0060\x00' for c in processes(host.login).values()))]:
        run = subprocess.Popen([fx.BF2CTL, f'--address={host.address}', f'--login={host.login}', *args],
                               env={'BF2_PASSWD': host.account.password}, stdout=subprocess.PIPE)
        assert fx.wait_until(started, 30)
        run.send_signal(signal.SIGTERM)
        assert run.communicate(timeout=15) == (b'Interrupted by signal TERM\n', None)
        assert run.returncode == 1
    assert os.listdir(remote) == ['f'] and open(f'{remote}/f').read() == 'old\n'
    assert fx.wait_until(lambda: set(processes(host.login)) <= before, 5), processes(host.login)


def test_no_program_of_the_accounts_path_runs_in_a_run(server, host):
    """The account puts programs of its own first in PATH: a run's scripts
    still run the system's."""
    evil = host.mkdir(f'{host.home}/evil')
    for tool in ('sh', 'awk', 'dd', 'cat', 'rm', 'mkdir', 'sleep', 'nohup', 'tr', 'id'):
        with open(f'{evil}/{tool}', 'w') as f:
            f.write(f'#!/bin/sh\necho "$0" >>{evil}/ran\nPATH=/usr/bin:/bin exec {tool} "$@"\n')
        os.chmod(f'{evil}/{tool}', 0o755)
    with open(f'{host.home}/.pam_environment', 'w') as f:
        f.write(f'PATH={evil}:/usr/bin:/bin\n')
    try:
        # exec's command is the caller's, with the account's PATH; its
        # watchdog is bf2ctl's.
        assert host.run('--exec', '--cmd=echo $PATH; /bin/sleep 1') == (f'{evil}:/usr/bin:/bin\n\n0\n', '', 0)
        assert server.start() == ('', '', 0)
        assert host.run('--status', f'--cfg-dir={server.cfg}').out.startswith('running\n')
        assert server.stop() == ('', '', 0)
    finally:
        os.remove(f'{host.home}/.pam_environment')
    assert not os.path.exists(f'{evil}/ran'), open(f'{evil}/ran').read()
