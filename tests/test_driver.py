"""The command line as the control panel sees it: fixture.USAGE_ERRORS, and runs that get as far as connecting."""
import pytest

import fixture as fx


@pytest.mark.parametrize('args', [[], ['--help'], ['-h'], ['--help', '--bogus'], ['-hv'],
                                  ['word', '--', '-1', '--a.b']])  # plain words are no options
def test_help_and_no_command_succeed_silently(args):
    assert fx.run(fx.HOST + args, 'pw') == ('', '', 0)
    assert fx.run(fx.HOST + args, '') == ('', '', 0)  # an empty password is a password


@pytest.mark.parametrize('args, password, line', fx.USAGE_ERRORS)
def test_errors_come_before_any_connection(args, password, line):
    assert fx.run(args, password) == (line + '\n', '', 1)


@pytest.mark.parametrize('args', [['--check-host'], ['--check-on-root'], ['--create-user'],
    ['--exec', '--cmd=true', f'--max-output={2**62}'], ['--fingerprint'], ['--log', '--cfg-dir=/c', '--lines=10000'],
    ['--fetch-file', '--from=/r', '--to=/tmp/l', f'--max-size={1 << 62}'],
    ['--install', '--url=u', '--dir=relative'],  # install checks its path once connected
    ['--rcon', '--cfg-dir=/c', '--line=' + 'x' * 120, '--rcon-password=p', '--rcon-port=65535'],
    ['--say', '--cfg-dir=/c', '--line=' + 'é' * 50, '--rcon-password=p'],
    fx.without(fx.without(fx.START, 'max-players', '2147483647'), 'game-time', '00'),
    ['--connect-timeout=86400', '--timeout=86400', f'--host-key=SHA256:{"A" * 43}', '--fingerprint']])
def test_commands_connect_once_their_options_are_read(args):
    assert fx.run(fx.HOST + args, 'pw') == ('Failed to connect\n', '', 1)
