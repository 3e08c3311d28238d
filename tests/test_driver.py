"""The command line as the control panel sees it: one line on standard
output, nothing on standard error, and the exit status.  Nothing connects
here: the address is one where nothing listens, so a connection attempt
would show as "Failed to connect"."""
import pytest

import fixture as fx

DEAD = fx.address(4)


def run(*args, password='pw'):
    return fx.run([f'--address={DEAD}', '--login=nobody', *args], password)


@pytest.mark.parametrize('args, password, line', [
    ([], 'pw', "Requires long option '--address'"),
    ([], None, "Requires long option '--address'"),
    (['--login=x'], 'pw', "Requires long option '--address'"),
    (['--address=h'], 'pw', "Requires long option '--login'"),
    (['--address=', '--login=x'], 'pw', "Incorrect long option '--address'"),
    (['--address=h', '--login'], 'pw', "Incorrect long option '--login'"),
    ([f'--address={DEAD}', '--login=x', '--help'], None, 'Password is not set'),
    ([f'--address={DEAD}', '--login=x'], None, 'Password is not set'),
])
def test_connection_parameters_are_required_in_order(args, password, line):
    assert fx.run(args, password) == (line + '\n', '', 1)


@pytest.mark.parametrize('args', [
    [], ['--help'], ['-h'], ['--help', '--bogus'], ['-hv'],
    ['word', '--', '-1', '--a.b'],  # plain words are no options
])
def test_help_and_no_command_succeed_silently(args):
    assert run(*args) == ('', '', 0)
    assert run(*args, password='') == ('', '', 0)  # an empty password is a password


@pytest.mark.parametrize('args, line', [
    (['--strat'], "Unknown option '--strat'"),
    (['--exec=1'], "Unknown option '--exec'"),  # a command given a value is no command
    (['-v'], "Unknown option '-v'"),
    (['--zzz', '-x'], "Unknown option '-x'"),
    (['--beta', '--alpha'], "Unknown option '--alpha'"),
    # Only the first command in table order runs; it rejects the others.
    (['--stop', '--check-host'], "Unknown option '--stop'"),
    (['--check-host', '--help'], "Unknown option '--help'"),
    (['--check-host', '--exec', '--cmd=true'], "Unknown option '--check-host'"),
])
def test_unknown_options_and_extra_commands_are_reported(args, line):
    assert run(*args) == (line + '\n', '', 1)


START = ['--start', '--srv-dir=/s', '--cfg-dir=/c', '--name=n', '--max-players=1',
         '--srv-bandwidth=1', '--cl-bandwidth=1', '--ip=1.2.3.4', '--port=1', '--spy-lan-port=2',
         '--spy-port=3', '--game-time=1', '--score-lim=1', '--round-num=1', '--srv-passwd',
         '--remote-admin-passwd=a', '--rcon-username=u', '--rcon-password=p', '--rcon-port=4']


def without(args, name, value=None):
    """args without --name, then with --name=value unless value is None."""
    kept = [a for a in args if a != '--' + name and not a.startswith(f'--{name}=')]
    return kept + ([f'--{name}={value}'] if value is not None else [])


def start_chain():
    """One more start option wrong at each step, from the end of the table
    on, alternately missing and empty: the earliest is reported."""
    args, rows = START, []
    for i, name in enumerate(['rcon-port', 'rcon-password', 'rcon-username', 'remote-admin-passwd',
                              'srv-passwd', 'round-num', 'spy-port', 'port', 'ip', 'max-players',
                              'name', 'cfg-dir', 'srv-dir']):
        missing = i % 2 == 0
        args = without(args, name, None if missing else '')
        rows.append((args, f"{'Requires' if missing else 'Incorrect'} long option '--{name}'"))
    return rows


ABS = 'Directry/file must be set absolute pathname'


@pytest.mark.parametrize('args, line', [
    (['--exec'], "Requires long option '--cmd'"),
    (['--exec', '--cmd='], "Incorrect long option '--cmd'"),
    (['--exec', '--cmd=true', '--input='], "Unknown option '--input'"),
    (['--copy-file', '--to=/x'], "Requires long option '--from'"),
    (['--copy-file', '--from=/x'], "Requires long option '--to'"),
    (['--install'], "Requires long option '--url'"),
    (['--install', '--dir=relative'], "Requires long option '--url'"),
    (['--install', '--url=u'], "Requires long option '--dir'"),
    (['--install', '--url=', '--dir=/tmp'], "Incorrect long option '--url'"),
    (['--install', '--url=u', '--dir=/tmp', '--bogus'], "Unknown option '--bogus'"),
    (['--check-install'], "Requires long option '--dir'"),
    (['--stop'], "Requires long option '--cfg-dir'"),
    (['--stop', '--cfg-dir=c'], ABS),
    (without(START, 'punk-buster', '1'), "Unknown option '--punk-buster'"),  # a flag with a value
    (without(START, 'colour', 'red'), "Unknown option '--colour'"),
    (without(START, 'srv-dir', 'd'), ABS),
    (without(START, 'cfg-dir', 'd'), ABS),
    *start_chain(),
    *[([command, '--extra'], "Unknown option '--extra'")
      for command in ('--check-host', '--check-on-root', '--create-user')],
])
def test_option_errors_come_before_any_connection(args, line):
    assert run(*args) == (line + '\n', '', 1)


@pytest.mark.parametrize('args', [
    ['--check-host'], ['--check-on-root'], ['--create-user'], ['--exec', '--cmd=true'],
    ['--install', '--url=u', '--dir=relative'],  # install checks its path once connected
])
def test_commands_connect_once_their_options_are_read(args):
    assert run(*args) == ('Failed to connect\n', '', 1)
