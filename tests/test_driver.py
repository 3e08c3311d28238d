"""The command line as the control panel sees it.  Nothing listens at HOST's
address, so a connection attempt would show as "Failed to connect"."""
import pytest

import fixture as fx

HOST = [f'--address={fx.address(4, fx.PORT)}', '--login=nobody']
START = ['--start', '--srv-dir=/s', '--cfg-dir=/c', '--name=n', '--max-players=1',
         '--srv-bandwidth=1', '--cl-bandwidth=1', '--ip=1.2.3.4', '--port=1', '--spy-lan-port=2',
         '--spy-port=3', '--game-time=1', '--score-lim=1', '--round-num=1', '--srv-passwd',
         '--remote-admin-passwd=a', '--rcon-username=u', '--rcon-password=p', '--rcon-port=4']
ABS = 'Directry/file must be set absolute pathname'


def without(args, name, value=None):
    """args without --name, then with --name=value unless value is None."""
    return [a for a in args if a.split('=')[0] != '--' + name] + (
        [f'--{name}={value}'] if value is not None else [])


def start_chain():
    """One more start option missing or empty at each step, from the table's end: the earliest is reported."""
    args, rows = START, []
    for i, name in enumerate(['rcon-port', 'rcon-password', 'rcon-username', 'remote-admin-passwd',
                              'srv-passwd', 'round-num', 'spy-port', 'port', 'ip', 'max-players',
                              'name', 'cfg-dir', 'srv-dir']):
        args = without(args, name, None if i % 2 == 0 else '')
        rows.append((HOST + args, 'pw', f"{'Incorrect' if i % 2 else 'Requires'} long option '--{name}'"))
    return rows


@pytest.mark.parametrize('args', [[], ['--help'], ['-h'], ['--help', '--bogus'], ['-hv'],
                                  ['word', '--', '-1', '--a.b']])  # plain words are no options
def test_help_and_no_command_succeed_silently(args):
    assert fx.run(HOST + args, 'pw') == ('', '', 0)
    assert fx.run(HOST + args, '') == ('', '', 0)  # an empty password is a password


@pytest.mark.parametrize('args, password, line', [
    ([], None, "Requires long option '--address'"),
    (['--login=x'], 'pw', "Requires long option '--address'"),
    (['--address=h'], 'pw', "Requires long option '--login'"),
    (['--address=', '--login=x'], 'pw', "Incorrect long option '--address'"),
    (['--address=h', '--login'], 'pw', "Incorrect long option '--login'"),
    (['--address=[::1', '--login=x', '--help'], 'pw', "Incorrect address '[::1': no closing bracket"),
    (['--address=h:x'], 'pw', "Incorrect address 'h:x': the port must be a number from 1 to 65535"),
    (HOST + ['--check-host'], None, 'Password is not set'),
    *[(HOST + args, 'pw', line) for args, line in [
        (['--strat'], "Unknown option '--strat'"),
        (['--exec=1'], "Unknown option '--exec'"),  # a command given a value is no command
        (['-v'], "Unknown option '-v'"),
        # Only the first command in table order runs; it rejects the others.
        (['--stop', '--check-host'], "Unknown option '--stop'"),
        (['--check-host', '--help'], "Unknown option '--help'"),
        (['--check-host', '--exec', '--cmd=true'], "Unknown option '--check-host'"),
        (['--exec'], "Requires long option '--cmd'"),
        (['--exec', '--cmd='], "Incorrect long option '--cmd'"),
        (['--exec', '--cmd=true', '--input='], "Unknown option '--input'"),
        (['--exec', '--cmd=true', '--cmd-file=/c'], "Conflicting long options '--cmd' and '--cmd-file'"),
        (['--exec', '--cmd-file=', '--input=i', '--input-file=/i'],
         "Conflicting long options '--input' and '--input-file'"),
        (['--exec', '--cmd-file='], "Incorrect long option '--cmd-file'"),
        (['--exec', '--cmd-file=/nowhere'], 'Unable to read /nowhere: No such file or directory'),
        (['--exec', '--cmd=true', '--input-file=/'], 'Unable to read /: Is a directory'),
        (['--exec', '--cmd-file=/proc/self/cmdline'], 'Command file holds a NUL byte'),
        (['--copy-file', '--to=/x'], "Requires long option '--from'"),
        (['--copy-file', '--from=/x'], "Requires long option '--to'"),
        (['--install', '--dir=relative'], "Requires long option '--url'"),
        (['--install', '--url=u'], "Requires long option '--dir'"),
        (['--install', '--url=', '--dir=/tmp'], "Incorrect long option '--url'"),
        (['--install', '--url=u', '--dir=/tmp', '--bogus'], "Unknown option '--bogus'"),
        (['--install', '--url=u\nv', '--dir=/t\rx'], 'URL holds a line break'),
        (['--install', '--url=u', '--dir=/t\rx'], 'Install directory holds a line break'),
        (['--check-install'], "Requires long option '--dir'"),
        (['--install-status', '--dir=t'], ABS),
        (['--stop'], "Requires long option '--cfg-dir'"),
        (['--stop', '--cfg-dir=c'], ABS),
        (['--status', '--cfg-dir=c'], ABS),
        (['--console', '--cfg-dir=/c'], "Requires long option '--line'"),
        (['--console', '--cfg-dir=/c', '--line=a\nb'], 'Console line holds a line break'),
        *[(['--log', '--cfg-dir=/c', f'--lines={n}'], "Incorrect long option '--lines'")
          for n in ('0', '10001', 'x', '-1', '')],
        *[(['--exec', '--cmd=true', f'--max-output{v}'], "Incorrect long option '--max-output'")
          for v in ('', '=', '=0', '=-1', '=+1', '=1k', f'={2**62 + 1}', f'={2**64 + 10}')],  # 10 if it wrapped
        (['--log', '--cfg-dir=/c', '--previous=6'], "Incorrect long option '--previous'"),
        *[(['--fetch-file', '--from=/r', '--to=/l', f'--max-size{n}'], "Incorrect long option '--max-size'")
          for n in ('', '=', '=0', f'={(1 << 62) + 1}', '=' + '9' * 20, '=1k', '=-1')],
        (without(START, 'punk-buster', '1'), "Unknown option '--punk-buster'"),  # a flag with a value
        (without(START, 'colour', 'red'), "Unknown option '--colour'"),
        (without(START, 'srv-dir', 'd'), ABS),
        (without(START, 'cfg-dir', 'd'), ABS),
        (without(START, 'max-players', '1\r'),
         "Set option 'sv.maxPlayers' failed in /c/settings/serversettings.con: value holds a line break"),
        # A value must not end itself in the settings file and begin another setting.
        *[(without(START, o, v), f"Setting 'sv.{key}' {why}") for o, v, key, why in [
            ('name', 'x" sv.password "', 'serverName', 'holds a double quote'),
            ('srv-passwd', '"', 'password', 'holds a double quote'),
            *[(o, v, key, 'must be a whole number') for o, v, key in [
                ('max-players', '16 sv.internet 1', 'maxPlayers'), ('game-time', '1.5', 'timeLimit'),
                ('srv-bandwidth', '-1', 'bandwidthChoke'), ('cl-bandwidth', '+1', 'maxConnectionType'),
                ('score-lim', '2147483648', 'scoreLimit'), ('round-num', ' 1', 'roundsPerMap')]],
            *[('ip', v, 'serverIP', 'holds a blank or quote') for v in ('1 2', '1\t2', "1'", '"1')]]],
        # Settings in table order, before the ports.
        (without(without(START, 'name', 'a"'), 'max-players', 'x'),
         "Setting 'sv.serverName' holds a double quote"),
        (without(without(START, 'port', 'x'), 'round-num', 'x'),
         "Setting 'sv.roundsPerMap' must be a whole number"),
        *[(without(START, 'spy-lan-port', p), f"Port '{p}' is not a number from 0 to 65535")
          for p in ('65536', '+80', ' 80', '80x', '-0')],
        *[([command, '--extra'], "Unknown option '--extra'")
          for command in ('--check-host', '--check-on-root', '--create-user', '--fingerprint')],
        *[([f'--{name}{v}', '--help'], f"Incorrect long option '--{name}'")
          for name in ('connect-timeout', 'timeout')
          for v in ('', '=', '=0', '=-5', '=+5', '=1.5', '=x', '=86401', '=' + '9' * 20)],
        *[([f'--host-key={v}', '--help'], "Incorrect long option '--host-key'")
          for v in ('', 'SHA256:' + 'A' * 42, 'SHA256:' + 'A' * 44, 'sha256:' + 'A' * 43,
                    'SHA256:' + 'A' * 42 + '-')]]],
    *start_chain(),
])
def test_errors_come_before_any_connection(args, password, line):
    assert fx.run(args, password) == (line + '\n', '', 1)


@pytest.mark.parametrize('args', [['--check-host'], ['--check-on-root'], ['--create-user'],
    ['--exec', '--cmd=true', f'--max-output={2**62}'], ['--fingerprint'], ['--log', '--cfg-dir=/c', '--lines=10000'],
    ['--fetch-file', '--from=/r', '--to=/tmp/l', f'--max-size={1 << 62}'],
    ['--install', '--url=u', '--dir=relative'],  # install checks its path once connected
    without(without(START, 'max-players', '2147483647'), 'game-time', '00'),
    ['--connect-timeout=86400', '--timeout=86400', f'--host-key=SHA256:{"A" * 43}', '--fingerprint']])
def test_commands_connect_once_their_options_are_read(args):
    assert fx.run(HOST + args, 'pw') == ('Failed to connect\n', '', 1)
