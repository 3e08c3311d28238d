"""The account as a hostile tenant: planted files, root, double clicks, secrets."""
import os
import secrets
import subprocess
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import fixture as fx
ROOT = ("Not for root: log in as the game server's account\n", '', 1)


@pytest.fixture
def server(host, request):
    s = fx.Server(host, request.node.name[5:20], 9)
    s.put('../victim', 'precious\n')  # a file of the account's no run may write
    yield s
    s.cleanup()
    os.remove(f'{host.home}/victim')


def test_root_may_check_but_not_write_into_the_account(root, server, packages):
    victim = f'{server.host.home}/victim'
    os.symlink(victim, f'{server.cfg}/stop.sh')
    for args in (['--stop', f'--cfg-dir={server.cfg}'], server.options(),
                 ['--install', f'--url={packages.url("server.tar.gz")}', f'--dir={server.cfg}'],
                 ['--copy-file', f'--from={fx.TESTS}/standin.py', f'--to={server.cfg}/stop.sh'],
                 ['--console', f'--cfg-dir={server.cfg}', '--line=say root'],
                 # These print the account's files, which a symlink could make any file.
                 ['--log', f'--cfg-dir={server.cfg}'], ['--install-status', f'--dir={server.cfg}']):
        assert root.run(*args) == ROOT, args
    assert open(victim).read() == 'precious\n'
    assert sorted(os.listdir(server.cfg)) == ['settings', 'stop.sh']
    assert root.run('--check-on-root') == ('root\n', '', 0)
    assert root.run('--exec', '--cmd=id -u') == ('0\n\n0\n', '', 0)
    # Status may run as root: a crash record linked to a file of root's shows nothing of it.
    secret = f'/root/bf2-root-only-{fx.net()}'
    with open(os.open(secret, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), 'w') as f:
        f.write('exit: 7\nshadow\n')
    os.symlink(secret, f'{server.cfg}/server.crash')
    try:
        assert root.run('--status', f'--cfg-dir={server.cfg}') == ('crashed\nexit: 7\n', '', 0)
    finally:
        os.remove(secret)
    # A record of the account's own making: a status too long for a number is no field, each key counts once.
    os.remove(f'{server.cfg}/server.crash')
    server.put('server.crash', f'exit: {"9" * 20}\nlast-error: one\nlast-error: two\n')
    assert root.run('--status', f'--cfg-dir={server.cfg}') == (f'crashed\nexit: {"9" * 20}\nlast-error: one\n', '', 0)
    assert root.json('--status', f'--cfg-dir={server.cfg}') == ({'ok': True, 'state': 'crashed', 'last_error': 'one'}, 0)


def test_root_status_reports_the_accounts_server_and_no_process_of_roots(root, server):
    """The account links a run file to a file a process of root's names and puts its pid in the pid file."""
    roots, status = fx.sleeper('root', '/etc/passwd'), ['--status', f'--cfg-dir={server.cfg}']
    server.put('server.restarting', '')
    try:
        for pid_file, named in (('server.pid', 'settings/serversettings.con'), ('start.pid', 'start.sh')):
            os.symlink('/etc/passwd', f'{server.cfg}/{named}')
            server.put(pid_file, roots.pid)
            assert root.run(*status) == ('stopped\n', '', 0), named
            os.remove(f'{server.cfg}/{pid_file}'), os.remove(f'{server.cfg}/{named}')
    finally:
        roots.kill(), roots.wait()
    os.remove(f'{server.cfg}/server.restarting')
    assert server.start(restart_on_crash=True) == fx.OK and fx.wait_until(server.running), server.log()
    assert root.run(*status).out.startswith(f'running\npid: {fx.read_pid(f"{server.cfg}/server.pid")}\n')
    fx.sh(f'kill -9 {fx.read_pid(f"{server.cfg}/server.pid")}')
    assert fx.wait_until(lambda: root.run(*status) == ('restarting\nrestarts: 0\n', '', 0), 5)
    assert server.stop() == fx.OK


def test_a_process_name_cannot_turn_a_root_runs_watchdog_on_a_neighbour(root, host):
    """A root exec runs a process of the account named "a\\n<a neighbour's pid> (" and ends by its bound."""
    neighbour = subprocess.Popen(['sleep', '60'])
    named = (f'setpriv --reuid={host.login} --regid={host.login} --clear-groups /usr/bin/python3 -c "import ctypes,'
             f' sys, time; ctypes.CDLL(None).prctl(15, sys.argv[1].encode()); time.sleep(60)" "$(printf \'a\\n%s (\''
             f' {neighbour.pid})" & echo $!; sleep 1; cat /proc/$!/comm; sleep 30')
    out = root.run('--exec', f'--cmd={named}', '--timeout=3', timeout=20).out
    tenant = int(out.split()[0])
    assert out == f'{tenant}\na\n{neighbour.pid} (\nTimed out after 3 s\n'
    try:
        assert fx.wait_until(lambda: not os.path.exists(f'/proc/{tenant}'), 10)
        time.sleep(1.5)  # past the watchdog's last signal
        assert neighbour.poll() is None
    finally:
        fx.sh(f'kill -9 {tenant} {neighbour.pid} 2>/dev/null; true'), neighbour.wait()


def test_a_pipe_planted_the_moment_the_name_is_free_cannot_hold_stop(server, host):
    planter = fx.as_user(host.login, ['/usr/bin/python3', '-c', 'import os, sys\nwhile True:\n try: os.mkfifo('
                                      'sys.argv[1])\n except OSError: pass', f'{server.cfg}/stop.sh'])
    for _ in range(5):  # the run fails, with one line, or wins the race
        assert server.stop(timeout=20) in (fx.OK, (
            f'Copy stop script failed: dd: failed to open "{server.cfg}/stop.sh": File exists\n', '', 1))
    planter.kill()


def test_two_starts_at_once_leave_one_server_and_every_line(server):
    lines = ''.join(f'rem customer line {i}\n' for i in range(30))
    for _ in range(2):
        server.put('settings/serversettings.con', lines)
        with ThreadPoolExecutor(2) as pool:
            assert list(pool.map(lambda _: server.start(), range(2))) == [fx.OK, fx.OK]
        assert fx.wait_until(server.running), server.log()
        assert server.settings().startswith(lines)
        assert server.log().count('bound') - server.log().count('exit') == 1
        assert server.stop() == fx.OK
        assert fx.wait_until(server.stopped, 5)


def test_a_lock_is_taken_over_from_a_killed_run_and_waited_for_40_s_otherwise(server, host):
    # No owner yet (its run was killed at once), a live process that is no keeper.
    for owner in (None, fx.as_user(host.login, ['sleep', '100']).pid):
        fx.plant_lock(server.cfg, host.account, owner)
        assert server.stop() == fx.OK
    holder = fx.hold_lock(host, server.cfg)
    assert server.stop() == (fx.BUSY + '\n', '', 1)
    holder.kill()


def test_no_value_reaches_a_command_line(server):
    """No program started during a start, a console line and a stop shows a value in its command
    line: neither a remote command (sshd's shell runs it as its argument) nor one of its programs,
    nor bf2ctl, given the passwords and the line in its environment or a secrets file on a pipe, which
    wins (the name, given as an option, shows there only)."""
    name, *passwords = ('v-' + secrets.token_hex(4) for _ in range(5))
    server.put('settings/serversettings.con', 'sv.password "old"\n')  # rewritten; the name appended
    env = {'BF2_SRV_PASSWD': 'decoy', 'BF2_REMOTE_ADMIN_PASSWD': passwords[1], 'BF2_RCON_PASSWORD': 'decoy'}

    def start(text, **kw):
        r = fx.pipe_with(f'BF2_PASSWD={fx.PASSWORD}\n' + text)
        args = server.options(srv_passwd=None, remote_admin_passwd=None, rcon_password=None, **kw)
        return fx.run(server.host.args(args + [f'--secrets-file=/dev/fd/{r}']), None, env=env, pass_fds=[r])
    with fx.CommandLines() as seen:
        assert start(f'BF2_SRV_PASSWD={passwords[0]}\nBF2_RCON_PASSWORD={passwords[2]}\n', name=name) == fx.OK
        assert fx.wait_until(server.running), server.log()
        assert server.host.run('--console', f'--cfg-dir={server.cfg}', env={'BF2_CONSOLE_LINE': passwords[3]}) == fx.OK
        assert fx.wait_until(lambda: server.log().endswith(f'console {passwords[3]}\n'), 5), server.log()
        assert server.stop() == fx.OK
    assert f'sv.password "{passwords[0]}"' in server.settings() and name in server.settings()
    rcon = f'port={server.port + 3}\npassword={passwords[2]}\n'
    assert [open(f).read() for f in (f'{server.cfg}/settings/adminsettings.con',
                                     f'{server.srv}/admin/default.cfg')] == [rcon] * 2
    lines = [line for line in seen.lines if not line.startswith(fx.BF2CTL + '\0')]
    # The watch saw the run's programs: the rewrite's awk, the console settings' renames, the game server.
    assert any('ENVIRON["BF2_VALUE"]' in line for line in lines)
    assert {'adminsettings.con', 'admin/default.cfg'} <= {line.split('\0')[3][-17:].lstrip('/') for line in lines
                                                           if line.startswith('mv\0-fT\0')}
    assert any(f'\0+config\0{server.cfg}/settings/serversettings.con\0' in line for line in lines)
    assert [line for line in lines if name in line] == []
    assert [line for line in seen.lines for p in passwords if p in line] == []
    # An empty secret is set: a public server.
    assert start('BF2_SRV_PASSWD=\n', srv_dir='/none') == ('Test on exec server failed\n', '', 1)
    assert 'sv.password ""' in server.settings()


def test_no_secret_reaches_a_command_line(root, host, packages, free_names, tmp_path):
    """Nor does exec's command or input from files, an install URL's token from the environment,
    create-user's new password or a login password."""
    tenant = fx.Host(host.sshd, fx.Account(f'bf2s{fx.net()}', 'pw-' + secrets.token_hex(4)))
    cmd, input, token = (f'{n}-{secrets.token_hex(4)}' for n in ('cmd', 'input', 'token'))
    (tmp_path / 'cmd').write_text(f'echo {cmd}; cat')
    (tmp_path / 'input').write_text(input)
    try:
        with fx.CommandLines() as seen:
            assert tenant.run('--exec', f'--cmd-file={tmp_path}/cmd', f'--input-file={tmp_path}/input') == (
                f'{cmd}\n{input}\n0\n', '', 0)
            url = packages.url(f'server.tar.gz?{token}')
            assert 'install_ok.ret:0' in fx.final_state(fx.install(tenant, None, tenant.home, env={'BF2_INSTALL_URL': url}))
            assert f'"GET /server.tar.gz?{token} HTTP/1.1" 200' in packages.requests
            password = fx.created(root.run('--create-user'))[1]
    finally:
        tenant.account.remove()
    assert [line for line in seen.lines for s in (cmd, input, token, password, tenant.account.password,
                                                  root.account.password) if s in line] == []
    # The watch saw the runs' programs: exec's reader, the install's tar, the new account's useradd.
    assert all(any(p in line for line in seen.lines) for p in ('/bin/dd\0', 'tar\0', 'useradd\0'))


def test_the_password_cannot_be_read_out_of_the_process(host):
    p = host.start('--exec', '--cmd=sleep 2', via=fx.setpriv(host.login))
    # Not dumpable: while it runs, its memory and environment belong to root,
    # not to the user who started it.
    assert fx.wait_until(lambda: fx.cmdline(p.pid).startswith(fx.BF2CTL + '\0')
                         and os.stat(f'/proc/{p.pid}/environ').st_uid == 0, 1.5)
    assert p.wait() == 0

