"""The game's console through the SSH connection (--rcon, --players, --say), against the stand-in's listener."""
import pytest

import fixture as fx

PLAYERS = [{'id': 1, 'name': 'Zoë', 'address': '10.0.0.1:1001', 'keyhash': '0123456789abcdef0123456789ABCDEF'},
           {'id': 2, 'name': 'a - b is remote ip: c', 'address': '10.0.0.2:1002', 'keyhash': 'f' * 32},
           {'id': 12, 'name': '007', 'address': '10.0.0.3:1003', 'keyhash': ''}]
MAPS = '0: strike_at_karkand gpm_cq 16\n'


def test_commands_replies_players_and_messages_reach_the_servers_console(server):
    s = fx.console_server(server, launcher=True)  # the listener a process the server started
    assert s.rcon('--rcon', '--line=mapList.list') == (MAPS, '', 0)
    assert s.rcon('--rcon', '--line=mapList.list', json=True) == ({'ok': True, 'reply': MAPS}, 0)
    assert s.rcon('--rcon', '--line=admin.runNextLevel') == fx.OK
    assert s.rcon('--players') == (''.join(f"player: {p['name']} id: {p['id']} address: {p['address']} keyhash: "
                                           f"{p['keyhash']}\n" for p in PLAYERS), '', 0)
    assert s.rcon('--players', json=True) == ({'ok': True, 'players': PLAYERS}, 0)
    # The line from the environment; the password option wins over the environment's.  Neither shows in a command
    # line of the host's: the watch sees the run's watchdog.
    with fx.CommandLines() as seen:
        assert s.rcon('--say', '--line=gg all') == s.rcon('--rcon', '--rcon-password=rcon pw', password='wrong',
                                                         env={'BF2_CONSOLE_LINE': 'x'}) == fx.OK
    assert [line for line in seen.lines if 'bf2ctl-watchdog' in line] and [
        line for line in seen.lines if ('rcon pw' in line or 'sayAll' in line) and fx.BF2CTL not in line] == []
    assert s.rcon('--rcon', '--line=x', password='rcon pw ', json=True) == (
        {'ok': False, 'error': 'rcon-auth', 'message': 'Rcon login failed'}, 1)
    assert s.log().endswith('\n'.join(['rcon login ok\nrcon exec mapList.list'] * 2 + [
        'rcon login ok\nrcon exec admin.runNextLevel'] + ['rcon login ok\nrcon exec admin.listPlayers'] * 2 + [
        'rcon login ok\nrcon exec game.sayAll "gg all"', 'rcon login ok\nrcon exec x', 'rcon login failed\n']))
    assert fx.run(fx.HOST + ['--rcon', '--cfg-dir=/c', '--rcon-password=p'], 'pw', env={'BF2_CONSOLE_LINE': ''}) == (
        'Rcon line is empty\n', '', 1)


@pytest.mark.parametrize('flags, args, line', [
    ('--rcon-mute', ['--timeout=3'], 'Timed out after 3 s'),
    ('--rcon-cut', [], 'Rcon connection closed before the reply ended'),
    ('--rcon-flood', [], 'Rcon reply exceeds 1 MiB')], ids=['never greets', 'closes mid-reply', 'sends 2 MiB'])
def test_a_console_that_misbehaves_ends_the_run_with_its_line(server, flags, args, line):
    s = fx.console_server(server, flags)
    assert s.rcon('--rcon', '--line=mapList.list', *args, timeout=20) == (line + '\n', '', 1)


def test_only_the_servers_own_listener_is_asked_by_its_own_account(server, root):
    s = server()  # a process of its server holds port + 5 on 127.0.0.2, the neighbour's 127.0.0.1 is no way in
    with open(f'{s.srv}/start.sh', 'w') as f:
        f.write(f'#!/bin/sh\n/usr/bin/python3 -c \'import socket, time; l = socket.create_server(("127.0.0.2", {s.port + 5}'
                f')); time.sleep(60)\' &\nexec /usr/bin/python3 "${{0%/*}}/standin.py" "$@"\n')
    assert s.start() == fx.OK and s.console_up()
    assert s.rcon('--players', via=root) == ("Not for root: log in as the game server's account\n", '', 1)
    # A neighbour's listener: it would end on its first connection.
    neighbour = fx.as_user(65534, ['/usr/bin/python3', '-c', 'import socket; socket.create_server(('
                                   f'"127.0.0.1", {s.port + 5})).accept()'])
    try:
        assert fx.wait_until(lambda: all(f'{a}:{s.port + 5:04X} 00000000:0000 0A' in open('/proc/net/tcp').read()
                                         for a in ('0100007F', '0200007F')))
        assert s.rcon('--players', port=5) == (f'No rcon listener of the server on port {s.port + 5}\n', '', 1)
        assert neighbour.poll() is None and 'rcon login' not in s.log()
        assert s.stop() == fx.OK
        assert s.rcon('--players') == ('Server is not running\n', '', 1)
    finally:
        neighbour.kill()
