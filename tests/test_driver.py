"""The command line as the control panel sees it: fixture.USAGE_ERRORS, and runs that get as far as connecting."""
import os
import re
import time

import pytest

import fixture as fx


@pytest.mark.parametrize('args', [[], ['--help'], ['-h'], ['--help', '--bogus'], ['-hv'],
                                  ['word', '--', '-1', '--a.b']])  # plain words are no options
def test_help_and_no_command_succeed_silently(args):
    assert fx.run(fx.HOST + args, 'pw') == ('', '', 0)
    assert fx.run(fx.HOST + args, '') == ('', '', 0)  # an empty password is a password


SETTINGS = {'serverName': 'name', 'maxPlayers': 'max-players', 'bandwidthChoke': 'srv-bandwidth', 'serverIP': 'ip',
            'maxConnectionType': 'cl-bandwidth', 'timeLimit': 'game-time', 'scoreLimit': 'score-lim',
            'roundsPerMap': 'round-num', 'password': 'srv-passwd'}
ABOUT = {'Incorrect address': 'address', 'URL': 'url', 'Install directory': 'dir', 'Console line': 'line',
         'Rcon line': 'line', 'Message': 'line', 'Rcon password': 'rcon-password', 'Rcon port': 'rcon-port',
         'Mod name': 'mod', 'Map list': 'maps', 'Directory': 'dir', 'Backup directory': 'backup-dir'}


def about(args, line):
    """The option JSON names for a line: the one it names, a setting's, a bad port's or relative directory's."""
    if m := re.fullmatch(r"(?:Requires|Incorrect) long option '--(.+)'|Unknown option '--?(.+)'", line):
        return m[1] or m[2]
    if m := re.match(r"(?:Setting|Set option) 'sv\.(\w+)'", line):
        return SETTINGS[m[1]]
    if m := re.fullmatch(r"Port '(.*)' is not a number from 0 to 65535", line):
        return next(a[2:a.index('=')] for a in args if a.endswith('=' + m[1]))
    if line == fx.ABS:
        return next(a[2:a.index('=')] for a in args if re.match(r'--[a-z-]*dir=[^/]', a))
    return next((o for prefix, o in ABOUT.items() if line.startswith(prefix)), None)


@pytest.mark.parametrize('args, password, line', fx.USAGE_ERRORS)
def test_errors_come_before_any_connection(args, password, line):
    assert fx.run(args, password) == (line + '\n', '', 1)
    obj = fx.run_json(args, password)[0]
    assert obj.get('option') == (about(args, line) if obj['error'] == 'usage' else None), obj


# What each secret's source gives: the option wins, then the file (empty is set), then the environment.
NO_RCON_PW = fx.without(fx.START, 'rcon-password')
SECRETS_CASES = [
    ('BF2_PASSWD=\n', 0o600, ['--check-host'], {}, 'Failed to connect'),
    ('# BF2_PASSWD=x\n\n \n', 0o600, ['--check-host'], {}, 'Password is not set'),
    (f'BF2_PASSWD={"x" * 65524}\n', 0o600, ['--check-host'], {}, 'Failed to connect'),  # 64 KiB
    ('BF2_RCON_PASSWORD= p\nBF2_PASSWD=\n', 0o400, NO_RCON_PW, {'BF2_RCON_PASSWORD': 'a=b'},
     'Rcon password begins or ends with a blank'),
    ('BF2_RCON_PASSWORD=p\nBF2_RCON_PASSWORD=\nBF2_PASSWD=\n', 0o600, NO_RCON_PW, {}, 'Rcon password is empty'),
    ('BF2_PASSWD=\n', 0o600, NO_RCON_PW, {'BF2_RCON_PASSWORD': 'a=b'}, 'Rcon password holds an equals sign'),
    ('BF2_RCON_PASSWORD= p\nBF2_PASSWD=\n', 0o600, fx.START, {}, 'Failed to connect'),
    # Refused, with no value shown.
    *[(text, mode, ['--check-host'], {'BF2_PASSWD': 'pw'}, line) for text, mode, line in [
        ('BF2_PASSWD=x\n', 0o640, 'Secrets file {f} is readable by group or others'),
        ('BF2_PASSWD=x\n', 0o604, 'Secrets file {f} is readable by group or others'),
        ('BF2_PASSWD=x\n# x\nBF2_PASSWDS=x\n', 0o600, 'Unknown secret BF2_PASSWDS in {f}'),
        ('BF2_PASSWD=x\n\nBF2_PASSWD\n', 0o600, 'Secrets file {f} line 3 is malformed'),
        *[(f'BF2_PASSWD=x{c}y\n', 0o600, 'Secrets file {f} line 1 is malformed') for c in '\r\0'],
        ('my secret=x\n', 0o600, 'Secrets file {f} line 1 is malformed'),
        (f'BF2_PASSWD={"x" * 65525}\n', 0o600, 'Secrets file {f} is larger than 64 KiB')]]]


@pytest.mark.parametrize('text, mode, args, env, line', SECRETS_CASES)
def test_secrets_come_from_the_option_then_the_secrets_file_then_the_environment(text, mode, args, env, line,
                                                                                  tmp_path):
    (f := tmp_path / 's').write_text(text)
    f.chmod(mode)
    assert fx.run(fx.HOST + args + [f'--secrets-file={f}'], None, env=env) == (line.format(f=f) + '\n', '', 1)


def test_a_secrets_fifo_is_read_to_its_writers_end():
    os.mkfifo(f := f'/tmp/bf2ctl-secrets-{fx.net()}')
    try:
        # No writer yet, then a writer that is there before the run and writes late, or never.
        for w in [None, os.O_RDWR]:
            w = w and os.open(f, w)
            assert fx.run(fx.HOST + ['--timeout=1', '--check-host', f'--secrets-file={f}'], None) == (
                'Timed out after 1 s\n', '', 1)
        # A key read from it blocks where no wait sees the bound: the alarm ends the run with its line.
        assert fx.run_json(fx.HOST + ['--timeout=1', '--check-host', f'--identity={f}'], None) == (
            {'ok': False, 'error': 'timeout', 'message': 'Timed out after 1 s', 'phase': 'run'}, 1)
        os.close(w)
        p = fx.start(fx.HOST + ['--check-host', f'--secrets-file={f}'], None)
        time.sleep(0.5)  # the writer opens after the run did, and writes later still
        w = os.open(f, os.O_WRONLY | os.O_NONBLOCK)
        time.sleep(0.5)
        os.write(w, b'BF2_PASSWD=\n'), os.close(w)
        assert fx.finish(p) == ('Failed to connect\n', '', 1)
    finally:
        os.unlink(f)


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
