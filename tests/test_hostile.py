"""The account as a hostile tenant: planted files, root, double clicks, secrets."""
import os
import secrets
import subprocess
import threading

import pytest

import fixture as fx
from test_server import OK, ROOT, Server, as_account, cmdline, processes_with

LIB = f'{fx.TESTS}/../commands/sh/lib.sh'


@pytest.fixture
def server(host, request):
    s = Server(host, request.node.name[5:20], 9)
    s.put('../victim', 'precious\n')  # a file of the account's no run may write
    yield s
    s.cleanup()
    os.remove(f'{host.home}/victim')


def test_root_may_check_but_not_write_into_the_account(root, server, packages):
    victim = f'{server.host.home}/victim'
    os.symlink(victim, f'{server.cfg}/stop.sh')
    for args in (['--stop', f'--cfg-dir={server.cfg}'], server.options(),
                 ['--install', f'--url={packages.url("server.tar.gz")}', f'--dir={server.cfg}'],
                 ['--copy-file', f'--from={fx.TESTS}/standin.py', f'--to={server.cfg}/stop.sh']):
        assert root.run(*args) == ROOT, args
    assert open(victim).read() == 'precious\n'
    assert sorted(os.listdir(server.cfg)) == ['settings', 'stop.sh']
    assert root.run('--check-on-root') == ('root\n', '', 0)
    assert root.run('--exec', '--cmd=id -u') == ('0\n\n0\n', '', 0)


# The account's own error log may well be a link; a pipe there is planted.
@pytest.mark.parametrize('name, kind', [
    (name, kind) for name in ('stop.sh', 'start.sh', 'settings/serversettings.con.pre',
                              'server.pid', 'start.pid', 'srderr.log')
    for kind in ('symlink', 'fifo') if (name, kind) != ('srderr.log', 'symlink')])
def test_planted_files_are_neither_followed_nor_waited_on(server, name, kind):
    victim = f'{server.host.home}/victim'
    os.symlink(victim, f'{server.cfg}/{name}') if kind == 'symlink' else os.mkfifo(f'{server.cfg}/{name}')
    server.put('settings/serversettings.con', 'sv.serverName "x"\n')  # a key there: a backup is made
    assert server.start() == OK
    assert fx.wait_until(server.running), server.log()
    assert server.stop() == OK
    assert fx.wait_until(server.stopped, 5)
    assert open(victim).read() == 'precious\n'


def test_a_pipe_planted_the_moment_the_name_is_free_cannot_hold_stop(server, host):
    planter = as_account(host, ['/usr/bin/python3', '-c', 'import os, sys\nwhile True:\n try: os.mkfifo('
                                'sys.argv[1])\n except OSError: pass', f'{server.cfg}/stop.sh'])
    for _ in range(5):  # the run fails, with one line, or wins the race
        assert server.stop(timeout=20) in (OK, (
            f'Copy stop script failed: dd: failed to open "{server.cfg}/stop.sh": File exists\n', '', 1))
    planter.kill()


def test_a_console_pipe_nobody_reads_cannot_hold_stop(server, host):
    pipe = f'{server.cfg}/server-stdin'
    os.mkfifo(pipe)
    fx.sh(f'chown {host.login} {fx.q(pipe)}')
    reader = as_account(host, ['/bin/sh', '-c', f'exec sleep 60 <{fx.q(pipe)}'])
    fd = os.open(pipe, os.O_RDWR | os.O_NONBLOCK)
    assert 0 < os.write(fd, b'x' * (1 << 20)) < 1 << 20  # full
    server.put('server.pid', reader.pid)
    assert server.stop() == OK  # the quit is lost, the wait ends, nothing of ours to kill
    os.close(fd)
    reader.kill()


def test_two_starts_at_once_leave_one_server_and_every_line(server):
    lines = ''.join(f'rem customer line {i}\n' for i in range(30))
    for _ in range(2):
        server.put('settings/serversettings.con', lines)
        results = []
        runs = [threading.Thread(target=lambda: results.append(server.start())) for _ in range(2)]
        for t in runs:
            t.start()
        for t in runs:
            t.join()
        assert results == [OK, OK]
        assert fx.wait_until(server.running), server.log()
        assert server.settings().startswith(lines)
        assert server.log().count('bound') - server.log().count('exit') == 1
        assert server.stop() == OK
        assert fx.wait_until(server.stopped, 5)


def test_a_lock_is_taken_over_from_a_killed_run_and_waited_for_40_s_otherwise(server, host):
    def plant(owner):
        os.mkdir(f'{server.cfg}/.bf2ctl.lock')
        fx.sh(f'chown {host.login} {fx.q(server.cfg)}/.bf2ctl.lock')
        owner and server.put('.bf2ctl.lock/owner', owner)
    plant(None)  # no owner: its run was killed in its first moment
    assert server.stop() == OK
    plant(999999999)  # its keeper is gone
    assert server.stop() == OK
    plant(as_account(host, ['sleep', '100']).pid)  # a live process, but no keeper of a lock
    assert server.stop() == OK
    holder = as_account(host, ['/bin/sh', '-c', f'. {fx.q(LIB)}; CFGDIR=$1; lock; sleep 100', 'sh',
                               server.cfg])
    assert fx.wait_until(lambda: os.path.exists(f'{server.cfg}/.bf2ctl.lock/owner'))
    assert server.stop() == (
        'Configuration directory busy: another start or stop of it still runs after 40 s\n', '', 1)
    holder.kill()


def test_a_start_killed_while_it_launches_lets_the_next_stop_in(server, fake_tools):
    """The run's remote shell dies with its terminal; its lock goes soon after."""
    fake_tools.tool('chmod', 'sleep 3; exec /bin/chmod "$@"')
    run = subprocess.Popen([fx.BF2CTL, f'--address={fake_tools.address}', f'--login={fake_tools.login}',
                            *server.options()], env={'BF2_PASSWD': fx.PASSWORD})
    launching = lambda: [p for p in processes_with(f'{server.cfg}/start.sh') if 'chmod' in cmdline(p)]
    assert fx.wait_until(launching, 30)
    run.kill(), run.wait()
    assert server.stop() == OK


def test_no_value_reaches_a_command_line(fake_tools, server):
    """While a start and a stop run, no process of the host shows a value in
    its command line (bf2ctl's own, the panel's call, aside), nor does any
    remote command line: values reach the settings through script input and
    the environment only."""
    secret, name = 'pw-' + secrets.token_hex(4), 'name-' + secrets.token_hex(4)
    server.put('settings/serversettings.con', 'sv.password "old"\n')  # rewritten; the name appended
    logged = os.path.getsize(fake_tools.commands)
    with fx.CommandLines() as seen:
        assert fake_tools.run(*server.options(srv_passwd=secret, name=name)) == OK
        assert fx.wait_until(server.running), server.log()
        assert fake_tools.run('--stop', f'--cfg-dir={server.cfg}') == OK
    assert secret in server.settings() and name in server.settings()
    lines = [line for line in seen.lines if not line.startswith(fx.BF2CTL + '\0')]
    # The watch saw the run's programs: the rewrite's awk and the game server.
    assert any('ENVIRON["BF2_VALUE"]' in line for line in lines)
    assert any(f'\0+config\0{server.cfg}/settings/serversettings.con\0' in line for line in lines)
    # About 750 programs start meanwhile; one in thousands ends unread, a
    # watch that fell behind would miss many.
    assert seen.missed <= seen.execs / 100, f'{seen.missed} of {seen.execs} programs went unread'
    assert [line for line in lines if secret in line or name in line] == []
    remote = open(fake_tools.commands, 'rb').read()[logged:].decode(errors='replace')
    assert 'nohup' in remote and secret not in remote and name not in remote  # the launcher came


def test_the_password_cannot_be_read_out_of_the_process(host):
    p = as_account(host, ['env', f'BF2_PASSWD={host.account.password}', fx.BF2CTL,
                          f'--address={host.address}', f'--login={host.login}', '--exec', '--cmd=sleep 2'])
    # Not dumpable: while it runs, its memory and environment belong to root,
    # not to the user who started it.
    assert fx.wait_until(lambda: os.stat(f'/proc/{p.pid}/environ').st_uid == 0, 1.5)
    assert p.wait() == 0
