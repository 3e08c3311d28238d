"""The life of a game server: the stand-in (standin.py) in the test account's directories."""
import os
import re
import signal
import socket
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import fixture as fx

KEYS = ['serverName', 'maxPlayers', 'internet', 'bandwidthChoke', 'maxConnectionType', 'serverIP',
        'serverPort', 'gameSpyPort', 'timeLimit', 'scoreLimit', 'roundsPerMap', 'svPunkBuster',
        'password']


def hold_port(port, kind=socket.SOCK_DGRAM, host='0.0.0.0', family=socket.AF_INET):
    s = socket.socket(family, kind)
    s.bind((host, port))
    kind == socket.SOCK_STREAM and s.listen()
    return s


def settings_file(*values):
    return ''.join(f'\nsv.{k} {v}\n' for k, v in zip(KEYS, values))


def test_start_restart_stop(server):
    s = server()
    os.mkfifo(f'{s.cfg}/srderr.log')  # left there: the server's error output must not wait on it
    assert s.start(spy_lan_port='00') == fx.OK  # "00" is checked like any port
    assert fx.wait_until(s.running), s.log()
    assert s.settings() == settings_file('"My \'best\' server"', 16, 1, 100, 200, '127.0.0.1', s.port,
                                         s.port + 1, 30, 250, 3, 1, '"se cret"')
    # The settings hold a password: 0600 whatever the account's umask (022: the log is 0644),
    # also when the file was found readable by others.
    modes = lambda: [os.stat(f'{s.cfg}/{f}').st_mode & 0o777 for f in ('settings/serversettings.con',
                                                                        'srderr.log')]
    assert modes() == [0o600, 0o644]
    os.chmod(f'{s.cfg}/settings/serversettings.con', 0o644)
    first = fx.read_pid(f'{s.cfg}/server.pid')
    r = s.host.run('--status', f'--cfg-dir={s.cfg}//')  # any spelling
    m = re.fullmatch(rf'running\npid: {first}\nuptime: ([0-9]+)\nmemory-kb: ([0-9]+)\nprocess-state: [RS]\n', r.out)
    assert m and r[1:] == ('', 0) and 2 <= int(m[1]) <= 30 and int(m[2]) > 1000, r
    assert s.host.run('--console', f'--cfg-dir={s.cfg}', "--line=say 'hello' $HOME") == fx.OK
    assert fx.wait_until(lambda: s.log().endswith("console say 'hello' $HOME\n"), 5), s.log()
    # No flags, an empty password, no remote admin and no rcon, whose port is held: a new server.
    with hold_port(s.port + 3):
        assert s.start(name='Two', max_players=8, server_internet=None, srv_bandwidth=1,
                       cl_bandwidth=2, ip='10.0.0.1', spy_lan_port=0, game_time=5, score_lim=6,
                       round_num=7, punk_buster=None, srv_passwd=True, remote_admin_passwd=None,
                       rcon_username=None, rcon_password=None, rcon_port=None, no_remote_admin=True,
                       no_rcon=True) == fx.OK
    assert fx.wait_until(lambda: s.running() and fx.read_pid(f'{s.cfg}/server.pid') != first), s.log()
    assert s.settings() == settings_file('"Two"', 8, 0, 1, 2, '10.0.0.1', s.port, s.port + 1, 5, 6, 7, 0, '""')
    assert modes() == [0o600, 0o644]
    assert [open(f'{s.cfg}/srderr.log{k}').read() for k in ('', '.1')] == ['standin up\n'] * 2  # kept at the start
    assert s.stop() == fx.OK
    assert s.log() == s.log_head() + "console say 'hello' $HOME\n" + 'console quit\nexit quit\n' + \
        s.log_head() + 'console quit\nexit quit\n'
    assert s.status() == ('stopped\n', '', 0)
    assert fx.wait_until(s.stopped, 5)


def test_each_start_failure_on_its_real_cause(server):
    s = server()
    home = s.host.home
    assert s.start(cfg_dir=f'{home}/no such') == (
        f"Copy stop script failed: dd: failed to open '{home}/no such/stop.sh': No such file or "
        'directory\n', '', 1)
    os.rmdir(f'{s.cfg}/settings')
    settings = f'{s.cfg}/settings/serversettings.con'
    assert s.start() == (f"Set option 'sv.serverName' failed in {settings}: sh: 1: cannot create "
                         f'{settings}: Directory nonexistent\n', '', 1)
    s.host.mkdir(f'{s.cfg}/settings')
    # One more port held each time, from the last checked to the first (one of them by TCP).
    held = []
    for offset in (3, 1, 2, 0):
        held.append(hold_port(s.port + offset, socket.SOCK_STREAM if offset == 2 else socket.SOCK_DGRAM))
        assert s.start() == (f'Port {s.port + offset} using already other proces\n', '', 1)
    for h in held:
        h.close()
    os.mkdir(f'{s.cfg}/start.sh')
    assert s.start() == (f'Copy start script failed: dd: failed to open "{s.cfg}/start.sh": '
                         'File exists\n', '', 1)


@pytest.mark.parametrize('host_address, family, kind', [
    (a, f, k) for a, f in (('127.0.0.1', socket.AF_INET), ('0.0.0.0', socket.AF_INET),
                           ('127.171.205.239', socket.AF_INET), ('::1', socket.AF_INET6),
                           ('::', socket.AF_INET6))
    for k in (socket.SOCK_STREAM, socket.SOCK_DGRAM)])
def test_a_port_held_on_any_address_is_in_use(server, host_address, family, kind):
    s = server()
    with hold_port(s.port, kind, host_address, family):
        for given in (str(s.port), '00' + str(s.port)):
            assert s.start(port=given) == (f'Port {given} using already other proces\n', '', 1)


NASTY = 'a/b & c\\d \'e\' $HOME * %s \\n\\c\\0101 `id` ~!'  # a double quote is refused


def test_settings_are_rewritten_in_place_or_appended_and_never_lost(server, fake_tools):
    s = server()
    file = f'{s.cfg}/settings/serversettings.con'
    s.put('settings/serversettings.con', 'rem sv.password "x"\nsv.password "a"\n'
          '\t  sv.password\t"b\xff" trailing \xe9\nsv.passwordX "keep"\nsvXpassword 7\n\nsv.maxPlayers\n# end')
    os.symlink(f'{s.srv}/start.sh', file + '.pre')  # planted where the backup goes: not written through
    start_sh = open(f'{s.srv}/start.sh', 'rb').read()
    assert s.start(srv_dir=s.srv + '/none', srv_passwd=NASTY, name=NASTY) == ('Test on exec server failed\n', '', 1)
    # "." in a key matches any character (svX); a key without a value is no setting of it.
    assert open(file, encoding='latin-1').read() == (
        f'rem sv.password "x"\nsv.password "{NASTY}"\n\t  sv.password\t"{NASTY}"\n'
        f'sv.passwordX "keep"\nsvXpassword "{NASTY}"\n\nsv.maxPlayers\n# end'
        + settings_file(f'"{NASTY}"', 16, 1, 100, 200, '127.0.0.1', s.port, s.port + 1, 30, 250, 3, 1))
    assert not os.path.exists(file + '.pre') and open(f'{s.srv}/start.sh', 'rb').read() == start_sh
    # The awk given a value fails after its redirection emptied the file: the backup goes back first.
    s.put('settings/serversettings.con', '# mine\nsv.maxPlayers 32\n')
    fake_tools.tool('awk', '[ -z "$BF2_VALUE" ] || { echo "awk: broken" >&2; exit 2; }; exec /usr/bin/awk "$@"')
    assert fake_tools.run(*s.options(srv_dir=s.srv + '/none')) == ('Test on exec server failed\n', '', 1)
    assert s.settings().startswith('# mine\nsv.maxPlayers 32\n\nsv.serverName "My \'best\' server"\n')
    assert s.settings().count('\nsv.maxPlayers 16\n') == 1
    assert os.stat(f'{s.cfg}/settings/serversettings.con.pre').st_mode & 0o777 == 0o600  # the backup left


def deaf(host, word):
    """A process of the account, deaf to the terminate signal, with word in its command line."""
    return fx.as_user(host.login, ['/usr/bin/python3', '-c', 'import signal, time; '
                                   'signal.signal(15, signal.SIG_IGN); time.sleep(120)', word])


def test_stop_kills_what_the_pid_files_describe_and_nothing_else(server, host):
    s = server()
    # Planted: a pipe at a pid file is not waited on, a link not followed; both go.
    os.mkfifo(f'{s.cfg}/server.pid')
    os.symlink(f'{s.srv}/start.sh', f'{s.cfg}/start.pid')
    assert s.stop() == fx.OK
    assert s.stopped(('settings', 'stop.sh'))

    def stop_with(server_pid, start_pid):
        s.put('server.pid', server_pid)
        s.put('start.pid', start_pid)
        assert s.stop() == fx.OK
        assert s.stopped(('settings', 'stop.sh'))
    # Other processes of the account: one the terminate signal ends, one of a neighbouring directory.
    stranger, neighbour = fx.as_user(host.login, ['sleep', '60']), deaf(host, s.cfg + '2/start.sh')
    stop_with(stranger.pid, neighbour.pid)
    assert stranger.poll() is None and neighbour.poll() is None
    stranger.kill(), neighbour.kill()
    # Ours, deaf to the terminate signal, behind a full console pipe nobody reads.
    srv, start = deaf(host, s.cfg + '/settings/serversettings.con'), deaf(host, s.cfg + '/start.sh')
    os.mkfifo(pipe := f'{s.cfg}/server-stdin')
    fx.sh(f'chown {host.login} {fx.q(pipe)}')
    fd = os.open(pipe, os.O_RDWR | os.O_NONBLOCK)
    assert 0 < os.write(fd, b'x' * (1 << 20)) < 1 << 20
    stop_with(srv.pid, start.pid)
    assert srv.wait(5) == -9 and start.wait(5) == -9
    os.close(fd)
    # Another account's, handed the pid and given the file on purpose: not
    # the server, to status, console and stop alike.
    other = fx.Account(f'bf2o{fx.net()}')
    p = fx.as_user(other.name, ['/usr/bin/python3', '-c', 'import time; time.sleep(60)',
                                f'{s.cfg}/settings/serversettings.con'])
    s.put('server.pid', p.pid)
    assert s.status() == ('stopped\n', '', 0)
    assert host.run('--console', f'--cfg-dir={s.cfg}', '--line=x') == ('Server is not running\n', '', 1)
    assert s.stop() == fx.OK and p.poll() is None
    other.remove()


# Killed in the launcher's chmod, before it ignores the terminal's hang-up, the run's lock soon
# goes; killed in a slow nohup, after that, the server is launched all the same.  Meanwhile the
# start's lock says starting; a lock whose keeper is gone (killed with it) says nothing.
@pytest.mark.parametrize('tool, left, after', [
    ('chmod', ['settings', 'start.sh', 'stop.sh'], 'stopped'),
    ('nohup', ['settings', 'srderr.log', 'standin.log', 'start.sh', 'stop.sh'], 'running')])
def test_a_start_killed_while_it_launches(server, fake_tools, tool, left, after):
    s = server()
    fake_tools.tool(tool, f'sleep 3; exec /bin/{tool} "$@"')
    run = fake_tools.start(*s.options())
    assert fx.wait_until(lambda: [p for p in fx.processes_with(f'/usr/local/bin/{tool}')
                                  if f'{s.cfg}/start.sh' in fx.cmdline(p)], 30)
    assert s.host.json('--status', f'--cfg-dir={s.cfg}') == ({'ok': True, 'state': 'starting'}, 0)
    run.kill(), run.wait()
    assert tool == 'chmod' or fx.wait_until(s.running), s.log()
    assert fx.wait_until(lambda: s.status().out.startswith(after + '\n'), 10), s.status()
    fx.plant_lock(s.cfg, s.host.account, run.pid)
    s.put('.bf2ctl.lock/kind', 'start\n')
    assert s.status().out.startswith(after + '\n')
    assert s.stop() == fx.OK
    assert fx.wait_until(lambda: s.stopped(left), 5)


def test_a_server_that_cannot_start_fails_the_start_with_its_reason(server, fake_tools):
    s = server("--die 'no licence for this port'")
    assert s.start() == ('Start server failed: no licence for this port\n', '', 1)
    assert fx.wait_until(lambda: s.stopped(('settings', 'srderr.log', 'start.sh', 'stop.sh')), 5)
    # Its reason cannot forge lines: escape, VT, FF, U+2028, U+0085, bad UTF-8.
    fx.install_standin(s.srv, s.host.login,
                       r'''--die "$(printf 'ok\033[2J\013ok\014ok\342\200\250ok\302\205ok\377 \\')"''')
    assert s.start() == (r'Start server failed: ok\x1b[2J\x0bok\x0cok\xe2\x80\xa8ok\xc2\x85ok\xff \\'
                         '\n', '', 1)
    fx.install_standin(s.srv, s.host.login, '--lifetime 1')  # it starts, and soon ends
    assert s.start() == ('Start server failed: lifetime over\n', '', 1)
    assert fx.wait_until(s.stopped, 5)  # its start script took the run files with it
    assert s.log() == s.log_head() + 'exit lifetime\n'
    with open(f'{s.srv}/start.sh', 'w') as f:  # a reason line of 20 MB: its first 64 KiB
        f.write("#!/bin/sh\nhead -c 20000000 /dev/zero | tr '\\000' r >&2\n")
    assert s.start() == ('Start server failed: ' + 'r' * 65536 + '\n', '', 1)
    fx.install_standin(s.srv, s.host.login, '')  # now a server that starts, under a deaf nohup
    fake_tools.tool('nohup', 'exit 0')
    assert fake_tools.run(*s.options()) == ('Start server failed: Process dead\n', '', 1)
    fake_tools.tool('nohup', 'exec sleep 60')
    assert fake_tools.run(*s.options()) == ('Start server failed: Timeout end\n', '', 1)


def test_refused_starts_leave_the_running_server_alone_and_one_deaf_to_quit_is_killed(server):
    s = server('--ignore-quit')
    assert s.start() == fx.OK
    pid, settings = fx.read_pid(f'{s.cfg}/server.pid'), s.settings()
    file = f'{s.cfg}/settings/serversettings.con'
    assert s.start(round_num='3\n4') == (
        f"Set option 'sv.roundsPerMap' failed in {file}: value holds a line break\n", '', 1)
    assert s.start(rcon_port='http') == ("Port 'http' is not a number from 0 to 65535\n", '', 1)
    os.symlink(s.srv, f'{s.host.home}/same')
    assert s.start(cfg_dir=f'{s.host.home}/same/') == (
        'Configuration directory must not be the server directory\n', '', 1)
    # Inside the server's tree, which updates move away: made or not yet, by any spelling.
    os.mkdir(f'{s.srv}/cfg')
    inside = {'ok': False, 'error': 'remote', 'step': 'same-dir',
              'message': 'Configuration directory must not be inside the server directory'}
    for cfg in (f'{s.srv}/cfg', f'{s.srv}/new/cfg', f'{s.host.home}/same/cfg', f'{s.host.home}/same/new'):
        assert s.host.json(*s.options(cfg_dir=cfg)) == (inside, 1), cfg
    assert os.listdir(f'{s.srv}/cfg') == [] and not os.path.exists(f'{s.srv}/new')
    os.remove(f'{s.host.home}/same')
    assert s.running() and fx.read_pid(f'{s.cfg}/server.pid') == pid and s.settings() == settings
    assert 'standin.py' in open(f'{s.srv}/start.sh').read()
    stop = s.host.start('--stop', f'--cfg-dir={s.cfg}/')  # another spelling of it
    assert fx.wait_until(lambda: s.status() == ('stopping\n', '', 0)), s.status()
    assert fx.finish(stop) == fx.OK
    assert fx.wait_until(s.stopped, 5)
    assert s.log().endswith(s.log_head() + 'console quit\nignored quit\nconsole \nexit signal 15\n')


def test_status_console_and_log_go_by_the_run_files_alone(server, host):
    s = server()
    console = ['--console', f'--cfg-dir={s.cfg}']
    assert host.run(*console, '--line=say hi') == ('Server is not running\n', '', 1)
    # A pid file naming another process of the account, a pipe in its place.
    stranger = deaf(host, 'unrelated')
    s.put('server.pid', stranger.pid)
    assert s.status() == ('stopped\n', '', 0)
    os.remove(f'{s.cfg}/server.pid')
    os.mkfifo(f'{s.cfg}/server.pid')
    assert s.status() == ('stopped\n', '', 0)
    stranger.kill()
    # A configuration process that does not read its console pipe, stopped, its command name with
    # blanks, parentheses and a line break: running, in the state T.
    os.remove(f'{s.cfg}/server.pid')
    os.symlink('/usr/bin/python3', exe := f'{s.cfg}/S) R\n) Z 1 (')
    deafened = fx.as_user(host.login, [exe, '-c', 'import time; time.sleep(60)', f'{s.cfg}/settings/serversettings.con'])
    os.kill(deafened.pid, signal.SIGSTOP)
    os.mkfifo(f'{s.cfg}/server-stdin')
    fx.sh(f'chown {host.login} {fx.q(s.cfg)}/server-stdin')
    s.put('server.pid', deafened.pid)
    assert re.fullmatch(rf'running\npid: {deafened.pid}\nuptime: [0-2]\nmemory-kb: [0-9]+\nprocess-state: T\n',
                        s.status().out), s.status()
    assert host.run(*console, '--line=say hi', timeout=30) == (
        f'Server does not read its console: {s.cfg}/server-stdin\n', '', 1)
    deafened.kill()
    # The end of the server's error output, read only from a regular file.
    log = ['--log', f'--cfg-dir={s.cfg}']
    assert host.run(*log) == fx.OK  # nothing yet
    with open(f'{s.cfg}/srderr.log', 'wb') as f:
        f.write(b''.join(b'line %d \xff\n' % i for i in range(60)) + b'no end')
    tail = ''.join(f'line {i} \udcff\n' for i in range(11, 60)) + 'no end'
    assert host.run(*log) == (tail, '', 0)
    assert host.run(*log, '--lines=1') == ('no end', '', 0)
    # At most the last MiB, read without going through the rest: a sparse
    # terabyte takes no longer.
    os.truncate(f'{s.cfg}/srderr.log', 1 << 40)
    assert host.run(*log, '--lines=1', timeout=30) == ('\0' * (1 << 20), '', 0)
    os.remove(f'{s.cfg}/srderr.log')
    os.mkfifo(f'{s.cfg}/srderr.log')
    assert host.run(*log, timeout=30) == (f'Not a regular file: {s.cfg}/srderr.log\n', '', 1)


def test_status_tells_a_crash_from_a_stop_and_starts_keep_five_logs(server):
    s = server()
    crash = r'crashed\n{}\nended: (\d+)\nlast-error: standin up\n'
    for k, (signal, end) in enumerate([('KILL', 'signal: KILL'), ('TERM', 'exit: 0'), (None, None),
                                       (None, None), (None, None), ('KILL', 'signal: KILL')], 1):
        assert s.start() == fx.OK
        assert fx.wait_until(s.running), s.log()
        open(f'{s.cfg}/srderr.log', 'a').write(f'run {k}\nstandin up\n')
        if signal:  # the stand-in ends with status 0 on TERM
            fx.sh(f'kill -{signal} {fx.read_pid(f"{s.cfg}/server.pid")}')
            assert fx.wait_until(lambda: s.status().out.startswith('crashed')), s.status()
            m = re.fullmatch(crash.format(end), s.status().out)
            assert m and abs(int(m[1]) - time.time()) < 10, s.status()
    assert s.host.json('--status', f'--cfg-dir={s.cfg}') == (
        {'ok': True, 'state': 'crashed', 'signal': 'KILL', 'ended_at': int(m[1]), 'last_error': 'standin up'}, 0)
    # The record stays until a stop; a stop is no crash.
    assert s.stop() == fx.OK and s.status() == ('stopped\n', '', 0)
    assert s.start() == fx.OK and s.stop() == fx.OK and s.status() == ('stopped\n', '', 0)
    # Seven starts: the five runs before the last one keep their logs, the newest as .1.
    logs = [s.host.run('--log', f'--cfg-dir={s.cfg}', f'--previous={k}', '--lines=2').out for k in range(1, 6)]
    assert logs == [f'run {k}\nstandin up\n' for k in (6, 5, 4, 3, 2)]
    assert not os.path.exists(f'{s.cfg}/srderr.log.6')


def test_restart_on_crash_gives_up_after_three_and_never_follows_a_stop(server):
    s, dying = server(), server("--die 'no licence'")
    status = lambda x=s: x.host.run('--status', f'--cfg-dir={x.cfg}').out  # noqa: E731
    pid = lambda: fx.read_pid(f'{s.cfg}/server.pid')  # noqa: E731
    assert s.start(restart_on_crash=True) == fx.OK and fx.wait_until(s.running)
    assert re.fullmatch(r'running\n(.+\n){4}restarts: 0\n', status())
    for n in (1, 2, 3):
        old = pid()
        fx.sh(f'kill -9 {old}')
        if n < 3:
            assert fx.wait_until(lambda: status() == f'restarting\nrestarts: {n - 1}\n', 5), status()
            assert fx.wait_until(lambda: s.running() and pid() != old, 20), status()
            assert status().endswith(f'restarts: {n}\n')
    assert fx.wait_until(lambda: re.fullmatch(
        r'crashed\nsignal: KILL\nended: \d+\nlast-error: standin up\nrestarts: 2\ngave-up: yes\n', status()), 5)
    assert s.host.json('--status', f'--cfg-dir={s.cfg}')[0] | {'ended_at': 0} == {
        'ok': True, 'state': 'crashed', 'signal': 'KILL', 'ended_at': 0, 'last_error': 'standin up', 'restarts': 2,
        'gave_up': True}
    assert s.start(restart_on_crash=True) == fx.OK and fx.wait_until(s.running)
    fx.sh(f'kill -9 {pid()}')
    assert fx.wait_until(lambda: status().startswith('restarting'), 5)
    assert s.stop() == fx.OK and s.stopped()  # no mark of the run is left
    # Dying during its own start fails the start, as without the flag.
    assert dying.start(restart_on_crash=True) == ('Start server failed: no licence\n', '', 1)
    time.sleep(12)  # past the pause
    assert (status(), status(dying)) == ('stopped\n', 'crashed\nexit: 1\nended: ' + status(dying)[23:])
    assert not s.running() and s.host.json('--status', f'--cfg-dir={dying.cfg}')[0]['exit_status'] == 1


def test_a_crashed_server_waits_for_an_install_into_its_directory(server, host):
    s = server()
    srv, lock, temp = f'{s.srv}/bf2', f'{s.srv}/.bf2_install.lock', f'{s.srv}/.bf2_install_hand'
    fx.install_standin(srv, host.login)
    assert s.start(srv_dir=srv, restart_on_crash=True) == fx.OK and fx.wait_until(s.running)
    # The lock of an install into the server's directory, as --install leaves it.
    os.mkdir(temp), os.mkdir(lock)
    open(f'{temp}/install.sh', 'w').write('sleep 60\n')
    script = fx.as_user(host.login, ['sh', f'{temp}/install.sh'])
    fx.sh(f'echo {fx.q(temp)} >{fx.q(lock)}/temp && echo {script.pid} >{fx.q(lock)}/pid')
    fx.sh(f'kill -9 {fx.read_pid(f"{s.cfg}/server.pid")}')
    time.sleep(15)  # past the pause
    assert s.status() == ('restarting\nrestarts: 0\n', '', 0)
    script.kill(), script.wait()
    assert fx.wait_until(s.running, 15) and s.status().out.endswith('restarts: 1\n')


def test_starts_and_a_stop_racing_a_restart_leave_one_server_or_none(server):
    s = server()
    assert s.start(restart_on_crash=True) == fx.OK and fx.wait_until(s.running)
    fx.sh(f'kill -9 {fx.read_pid(f"{s.cfg}/server.pid")}')
    assert fx.wait_until(lambda: os.path.exists(f'{s.cfg}/server.restarting'), 5)
    time.sleep(9)  # the restart falls due among the runs
    with ThreadPoolExecutor(3) as pool:
        runs = [pool.submit(s.start, restart_on_crash=True) for _ in range(2)] + [pool.submit(s.stop)]
        assert all(r.result()[2] in (0, 1) for r in runs)
    time.sleep(12)  # past any pause still to come
    games = [p for p in fx.processes_with(f'{s.cfg}/settings/serversettings.con') if 'standin.py' in fx.cmdline(p)]
    assert len(games) <= 1 and (s.running() or not games), games


def test_restart_starts_the_last_start_again_and_reads_its_parameters_as_data(server):
    s = server()
    restart = lambda: s.host.run('--restart', f'--cfg-dir={s.cfg}')  # noqa: E731
    assert s.start(restart_on_crash=True) == fx.OK and fx.wait_until(s.running)
    params = f'{s.cfg}/start.params'
    assert os.stat(params).st_mode & 0o777 == 0o600 and open(params).read() == (
        f'srv-dir={s.srv}\nports={s.port} {s.port + 2} {s.port + 1} {s.port + 3} \nrestart-on-crash=yes\nmod=\nmaps=\n'
        'ip=127.0.0.1\n')
    first, script = fx.read_pid(f'{s.cfg}/server.pid'), open(f'{s.cfg}/start.sh').read()
    with open(f'{s.cfg}/new', 'w') as f:  # the account's own start script: made anew
        f.write('#!/bin/sh\nexit 1\n')
    os.replace(f'{s.cfg}/new', f'{s.cfg}/start.sh')
    assert restart() == fx.OK and fx.wait_until(s.running) and fx.read_pid(f'{s.cfg}/server.pid') != first
    assert s.status().out.endswith('restarts: 0\n') and open(f'{s.cfg}/start.sh').read() == script
    with hold_port(s.port + 2):
        assert restart() == (f'Port {s.port + 2} using already other proces\n', '', 1)
    # The file is the account's: no value runs, sets another variable or leaves its line.
    weird = s.host.mkdir(f'{s.host.home}/w\\n\\x\ny') or f'{s.host.home}/w\\n\\x\ny'
    os.makedirs(f'{weird}/mods/xpack')
    coded, pwned = weird.replace('\\', '\\\\').replace('\n', '\\n'), f'{s.host.home}/pwned'
    s.host.mkdir(inst := f'{s.host.home}/i')
    os.mkdir(f'{inst}/bf2'), os.mkdir(f'{inst}/.bf2_install.lock')  # an install into it, as it begins
    malformed = f'Malformed start parameters in {s.cfg}/start.params: '
    for text, line in [
            ('ports=1\n', malformed + 'srv-dir'),
            (f'srv-dir=$(touch {pwned})\nports=1\n', malformed + 'srv-dir'),
            (f'srv-dir={s.srv}\nports=1 $(touch {pwned})\n', malformed + 'ports'),
            (f'srv-dir={s.srv}\nports=1\nrestart-on-crash=yes;touch {pwned}\n', malformed + 'restart-on-crash'),
            (f'srv-dir={s.srv}\nports=1\nmod=../..\n', malformed + 'mod'),
            (f'srv-dir={s.srv}\nports=1\nmaps=a;b\n', malformed + 'maps'),
            (None, malformed + 'not a regular file'),
            (f'srv-dir={coded}\nports=1\nmod=bf2\n', f'Mod bf2 is not installed in {s.host.home}/w\\\\n\\\\x; y'),
            (f'srv-dir={coded}\nports=1\nmod=xpack\n', 'Test on exec server failed'),
            (f'srv-dir={inst}/bf2\nports=1\n', f'Install already running in {inst}'),
            (f'PATH=/tmp\nIFS=/\nCFGDIR=/\nsrv-dir=/x/$(touch {pwned})`touch {pwned}`\nports=*\n', malformed + 'ports'),
            (f'PATH=/tmp\nIFS=/\nCFGDIR=/\nsrv-dir=/x/$(touch {pwned})`touch {pwned}`\nports=1\n',
             'Test on exec server failed')]:
        os.remove(params)
        os.mkfifo(params) if text is None else s.put('start.params', text)
        assert restart() == (line + '\n', '', 1), text
    assert not os.path.exists(pwned) and not s.running()
