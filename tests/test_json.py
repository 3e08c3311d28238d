"""--json: one object per run, with the error code the README's error table gives each line."""
import base64
import os
import re
import signal
import tempfile
from collections import namedtuple

import pytest

import fixture as fx

Row = namedtuple('Row', 'key patterns code')
VERSION = re.search(r'project\(bf2ctl VERSION (\S+)', open(f'{fx.TESTS}/../CMakeLists.txt').read())[1]


def readme_rows():
    """The error table: each row's first message, its messages as patterns, its code."""
    text = open(f'{fx.TESTS}/../README.md').read()
    rows = []
    for line in text[text.index('| Error | Code | When |'):].split('\n\n')[0].splitlines()[2:]:
        error, code = re.fullmatch(r'\| (.*) \| `([a-z-]+)` \| .* \|', line).groups()
        messages = re.findall('`([^`]+)`', error)
        rows.append(Row(messages[0], [re.compile(re.sub(
            r'\\\.\\\.\\\.|\b(NAME|ADDRESS|FILE|REASON|KEY|CAUSE|MESSAGE|HOST|MAP|MOD|ENTRY|STATE|B?DIR|OTHER|[CDFNPTXY])\b', '.+',
            re.escape(m))) for m in messages], code))
    return rows


# Rows no run here can produce.
EXEMPT = {
    'Failed to get random numbers: REASON',  # the kernel's random source and crypt(3) do not fail on demand
    'Undefined error',  # needs the address space cut mid-run: test_remote's memory test does it, in text mode
}
ROWS = readme_rows()
assert EXEMPT <= {r.key for r in ROWS}, 'an exempted row left the README'


@pytest.fixture(scope='module')
def odd(account):
    """The account on an sshd whose commands fail (port 2222), that opens no session (2223), takes no password
    (2224) or forwards no port (2227); a peer that is no SSH server (2225), one that stays silent (2226).  By port.  In the
    sshd's folder: an RSA key, a known_hosts file that revokes the host key, whose fingerprint is offered."""
    a, ports = fx.address(13), (2222, 2223, 2224, 2227)
    sshd = fx.Sshd(f'{a}:2222', extra='MaxStartups 200\n' + ''.join(f'ListenAddress {a}:{p}\n' for p in ports[1:]) +
                   ''.join(f'Match LocalPort {p}\n  {o}\n' for p, o in zip(ports, (
                       'ForceCommand echo broken >&2', 'MaxSessions 0', 'PasswordAuthentication no',
                       'AllowTcpForwarding no'))))
    fx.sh(f"ssh-keygen -q -t rsa -N '' -f {sshd.dir}/rsa")
    open(f'{sshd.dir}/kh', 'w').write(f'@revoked * {fx.public_key(f"{sshd.dir}/host_ecdsa.pub")}\n')
    peers = [fx.Listener(a, 2225, b'HTTP/1.1 400 Bad Request\r\n\r\n'), fx.Listener(a, 2226, None)]
    yield {p: fx.Host(sshd, account, f'{a}:{p}') for p in range(2222, 2228)}
    for p in (sshd, *peers):
        p.stop()


def rename_case(g):  # a file of root's in sticky /tmp: the account may not replace it
    with tempfile.NamedTemporaryFile(dir='/tmp') as f:
        return g('host').json('--copy-file', f'--from={fx.TESTS}/standin.py', f'--to={f.name}'), re.compile(
            rf"Failed to copy content: mv: cannot move '/tmp/\.bf2ctl-upload\.\w{{6}}/file' to '{f.name}': "
            'Operation not permitted')


def busy_case(g):
    h = g('host')
    holder = fx.hold_lock(h, cfg := h.mkdir(f'{h.home}/busy'))
    result = h.json('--stop', f'--cfg-dir={cfg}')
    holder.kill()
    return result, fx.BUSY


def running_case(g):  # a process of the account working in the installed tree
    h = g('host')
    d = h.mkdir(f'{h.home}/inst')
    os.makedirs(f'{d}/bf2')
    worker = fx.working_in(h, f'{d}/bf2')
    result = h.json('--install', '--url=u', f'--dir={d}')
    worker.kill()
    return result, f'Server running from {d}/bf2: stop it first'


def installing_case(g):  # a fresh install lock without its pid yet
    h = g('host')
    h.mkdir(f'{(d := h.mkdir(f"{h.home}/lock"))}/.bf2_install.lock')
    return h.json('--install', '--url=u', f'--dir={d}'), f'Install already running in {d}'


def start_case(change, message):  # a start of a fresh server once change(s) ran; it gives the options to change
    return lambda g: (s := g('server')(), s.host.json(*s.options(**(change(s) or {}))),
                      message.format(s=s, set=f'{s.cfg}/settings/serversettings.con'))[1:]


def tree_case(g):  # a server of another configuration runs from the tree with the console closed
    s, t = g('server')(), g('server')()
    s.start(rcon_username=None, rcon_password=None, rcon_port=None, no_rcon=True)
    return t.host.json(*t.options(srv_dir=s.srv)), (
        f"Server tree {s.srv} runs another configuration's server with other console settings")


def deaf_case(g):  # a server stopped by SIGSTOP: it runs, but reads no line (one longer than the pipe holds)
    s = g('server')()
    s.start()
    os.kill(fx.read_pid(f'{s.cfg}/server.pid'), signal.SIGSTOP)
    return s.host.json('--console', f'--cfg-dir={s.cfg}', '--line=' + 'x' * 70000), f'Server does not read its console: {s.cfg}/server-stdin'


def params_case(g):  # a restart of a configuration whose parameters name no server directory
    h = g('host')
    h.mkdir(cfg := f'{h.home}/params')
    open(f'{cfg}/start.params', 'w').write('ports=1\n')
    return h.json('--restart', f'--cfg-dir={cfg}'), f'Malformed start parameters in {cfg}/start.params: srv-dir'


def query_case(packets, message, **kw):  # --query of a fx.responder(packets, **kw); {p} in message: its port
    def case(g):
        with fx.responder(packets, **kw) as port:
            return fx.query(port, json=True), message.format(p=port)
    return case


def console_case(flags, message, via=None, port=3, **kw):  # --players to a fresh server's console; {p}: its port
    return lambda g: (s := fx.console_server(g('server'), flags), s.rcon(
        '--players', json=True, via=via and g('odd')[via], port=port, **kw), message.format(p=s.port + port))[1:]


def backup_case(change, message):  # --restore of a fresh backup of {d} once change(host, d) ran
    def case(g):
        h = g('host')
        d = h.mkdir(f'{h.home}/bc/d')
        fx.sh(f'chown {h.login}: {h.home}/bc')
        name = h.json('--backup', f'--dir={d}', f'--backup-dir={h.home}/bk')[0]['name']
        keep = change(h, d)
        result = h.json('--restore', f'--dir={d}', f'--backup-dir={h.home}/bk', f'--archive={name}')
        keep and keep.kill()
        os.chmod(f'{h.home}/bc', 0o755)
        return result, message.format(d=d)
    return case


tiny_files = fx.file_size_limit(1000)
# By the longest prefix of a row's first message: (who, args, message), {h} in them the one who runs it (a
# fixture, a port of odd, None: nothing listens), or a function of getfixturevalue giving the run and message.
CASES = {
    'Secrets file': (None, ['--secrets-file=/etc/passwd', '--check-host'],
                     'Secrets file /etc/passwd is readable by group or others'),
    'Unable to read the secrets': (None, ['--secrets-file=/x', '--check-host'],
                                   'Unable to read the secrets file /x: No such file or directory'),
    'No directory': (None, ['--known-hosts=/x/kh', '--fingerprint'], 'No directory for the known hosts file /x/kh'),
    'Unable to read the known': (None, ['--known-hosts=/', '--fingerprint'],
                                 'Unable to read the known hosts file /: Is a directory'),
    'Unable to read the key': (None, ['--identity=/x', '--fingerprint'],
                               'Unable to read the key /x: No such file or directory'),
    'Failed to get network': lambda g: (fx.run_json(['--address=no-such-host.invalid', '--login=x', '--fingerprint']),
                                        'Failed to get network host entry'),
    'Failed to connect': (None, ['--fingerprint'], 'Failed to connect'),
    'Failure establishing': (2225, ['--fingerprint'], 'Failure establishing SSH session'),
    'Failed to connect: no answer': (2226, ['--connect-timeout=1', '--fingerprint'],
                                     'Failure establishing SSH session: no answer in 1 s'),
    'Timed out': ('host', ['--timeout=1', '--exec', '--cmd=sleep 9'], 'Timed out after 1 s'),
    'Interrupted': lambda g: (g('host').json('--exec', '--cmd=sleep 9', via=[
        'timeout', '--preserve-status', '-s', 'TERM', '2']), 'Interrupted by signal TERM'),
    'Host key mismatch': (2222, ['--host-key=SHA256:' + 'A' * 43, '--fingerprint'],
                          f'Host key mismatch: expected SHA256:{"A" * 43}, got {{h.sshd.offered}}'),
    'Host key revoked': (2222, ['--known-hosts={h.sshd.dir}/kh', '--fingerprint'],
                         'Host key revoked: {h.sshd.offered}'),
    'Unable to connect to': (2224, ['--check-host'], 'Unable to connect to {h.address}' + fx.NO_PASSWORD_METHOD[:-1]),
    'Authentication failed': lambda g: (g('host').json('--check-host', password='wrong'), 'Authentication failed'),
    'Authentication failed: the server may': (2224, ['--identity={h.sshd.dir}/rsa', '--check-host'], (
        "Authentication failed: the server may refuse the RSA key's SHA-1 signature (ssh-rsa); use an ed25519 or "
        'ecdsa key')),
    # Its sshd process gone, the connection ends from the server's side.
    'Connection lost': ('host', ['--exec', '--cmd=kill -9 $PPID; sleep 9'], 'Connection lost: closed by the server'),
    'Unable to open a session': (2223, ['--check-host'], 'Unable to open a session'),
    'Unable to create a temporary': lambda g: (g('host').json('--exec', '--cmd=head -c 5000 /dev/zero',
                                                             preexec_fn=tiny_files),
                                               'Unable to keep the output: File too large'),
    'Unable to define': (None, ['--copy-file', '--from=/x', '--to=/x'], 'Unable to define file size'),
    'Unable to open the scp': ('host', ['--copy-file', f'--from={fx.TESTS}/standin.py', '--to={h.home}'],
                               'Unable to open the scp channel: {h.home}: Is a directory'),
    'Failed to copy content': rename_case,
    'Local directory': ('host', ['--fetch-file', '--from=/x', '--to=/x/y'], 'Local directory missing or not writable: /x'),
    'Failed to write into the local': lambda g: (g('host').json(
        '--fetch-file', '--from=/etc/services', '--to=/tmp/x', preexec_fn=tiny_files), 'Failed to write into the local file '
        '/tmp/x: File too large'),
    'No such remote': ('host', ['--fetch-file', '--from=/x', '--to=/tmp/x'], 'No such remote file: /x'),
    'Remote file': ('host', ['--fetch-file', '--from=/etc/services', '--to=/tmp/x', '--max-size=9'],
                    'Remote file /etc/services is larger than 9 bytes'),
    "Execute 'id'": (2222, ['--check-on-root'], "Execute 'id' failed: broken"),
    'Unknown system': lambda g: (g('fake_tools').tool('uname', 'echo Plan9'), g('fake_tools').json('--create-user'),
                                 'Unknown system: Plan9')[1:],
    'Not for root': ('root', ['--log', '--cfg-dir=/x'], "Not for root: log in as the game server's account"),
    'Make temporary': ('host', ['--install', '--url=u', '--dir=/proc/x'], "Make temporary directory in '/proc/x' "
                       'failed: mktemp: failed to create directory via template ‘/proc/x/.bf2_install_XXXXXX’: '
                       'No such file or directory'),
    'BF2 files check': (2222, ['--check-install', '--dir=/x'], 'BF2 files check failed: broken'),
    'Copy stop script': ('host', ['--stop', '--cfg-dir=/x'],
                         "Copy stop script failed: dd: failed to open '/x/stop.sh': No such file or directory"),
    'Configuration directory busy': busy_case,
    'Server running from': running_case,
    'Install already running': installing_case,
    'Configuration directory must not': start_case(lambda s: {'cfg_dir': s.srv},
                                                   'Configuration directory must not be the server directory'),
    'Set option': start_case(lambda s: os.rmdir(f'{s.cfg}/settings'),
                             "Set option 'sv.serverName' failed in {set}: sh: 1: cannot create {set}: "
                             'Directory nonexistent'),
    "Set option 'KEY' failed in FILE: value": None,  # a usage error's
    'Mod NAME': start_case(lambda s: {'mod': 'xpack'}, 'Mod xpack is not installed in {s.srv}'),
    'Server tree': tree_case,
    'Set rcon': start_case(lambda s: (s.put('settings/serversettings.con', ''), os.chmod(f'{s.cfg}/settings', 0o555))[2:],
                           'Set rcon settings failed in {s.cfg}/settings/adminsettings.con: mktemp: failed to create '
                           'file via template ‘{s.cfg}/settings/.bf2ctl.XXXXXX’: Permission denied'),
    'Set map list': start_case(lambda s: (os.makedirs(f'{s.srv}/mods/bf2/levels/x'), os.makedirs(  # root's
        f'{s.cfg}/settings/maplist.con/f'), {'maps': 'x:gpm_cq:16'})[-1], 'Set map list failed in {s.cfg}/settings/'
        'maplist.con: rm: cannot remove "{s.cfg}/settings/maplist.con/f": Permission denied'),
    'Test on exec': start_case(lambda s: {'srv_dir': s.srv + '/none'}, 'Test on exec server failed'),
    'Port P using': start_case(lambda s: {'port': fx.PORT}, f'Port {fx.PORT} using already other proces'),  # sshd's
    'Copy start script': start_case(lambda s: os.mkdir(f'{s.cfg}/start.sh'),
                                    'Copy start script failed: dd: failed to open "{s.cfg}/start.sh": File exists'),
    'Server is not running': ('host', ['--console', '--cfg-dir=/x', '--line=x'], 'Server is not running'),
    'Server does not read': deaf_case,
    'Server was never': ('host', ['--restart', '--cfg-dir=/x'], 'Server was never started in /x'),
    'Malformed start': params_case,
    'No rcon listener': console_case('', 'No rcon listener of the server on port {p}', port=5),
    'Rcon login failed': console_case('', 'Rcon login failed', password='x'),
    'The host refuses': console_case('', 'The host refuses forwarding to port {p}: administratively prohibited', 2227),
    'Rcon connection closed': console_case('--rcon-cut', 'Rcon connection closed before the reply ended'),
    'No such directory': ('host', ['--list-dir', '--dir=/none'], 'No such directory: /none'),
    'No install in': ('host', ['--install-cancel', '--dir=/tmp'], 'No install in /tmp'),
    'Not an install': ('host', ['--install-status', '--dir={h.home}'],
                       'Not an install directory (no install.sh): {h.home}'),
    'Not a regular file': lambda g: (g('host').mkdir(f"{g('host').home}/log/srderr.log"), g('host').json(
        '--log', f"--cfg-dir={g('host').home}/log"), f"Not a regular file: {g('host').home}/log/srderr.log")[1:],
    'No answer to the query': query_case(None, 'No answer to the query on UDP port {p} in 3 s'),
    'No answer to the query on UDP port N in 3 s;': query_case(  # refused from another address, which is named
        lambda sid: [b'\0' + sid + b'x'], f'No answer to the query on UDP port {{p}} in 3 s; replies came '
        f'from {fx.address(18)}: query the address the game server serves', reply_from=fx.address(18)),
    'Malformed query reply': query_case(lambda sid: [b'x'], 'Malformed query reply: truncated packet (1 bytes)'),
    'Failed to send the query': lambda g: (fx.run_json(['--address=255.255.255.255', '--query'], None),
                                           'Failed to send the query: Permission denied'),
    'Directory holds': (None, ['--backup', '--dir=/x\n', '--backup-dir=/b'], 'Directory holds a line break'),
    'Backup directory must not': (None, ['--backup', '--dir=/x', '--backup-dir=/x/b'],
                                  'Backup directory must not be inside /x'),
    'remote:Backup directory must not': ('host', ['--backup', '--dir={h.home}/..', '--backup-dir={h.home}/b'],
                                         'Backup directory must not be inside {h.home}/..'),
    'Directory must not': (None, ['--restore', '--dir=/', '--backup-dir=/b', '--archive=x'], 'Directory must not be /'),
    'Backup directory BDIR': ('host', ['--list-backups', '--backup-dir=/proc/self/cwd'],
                              'Backup directory /proc/self/cwd is a symbolic link'),
    'Backup of DIR': ('host', ['--backup', '--dir=/none', '--backup-dir=/tmp'], 'Backup of /none failed: /none: no such '
                      'directory'),
    'A process works': backup_case(lambda h, d: fx.working_in(h, d), 'A process works in {d}: stop it first'),
    'No backup NAME': ('host', ['--restore', '--dir=/x', '--backup-dir=/tmp', '--archive=x'], 'No backup x in /tmp'),
    'Restore of DIR': backup_case(lambda h, d: os.chmod(os.path.dirname(d), 0o555), 'Restore of {d} failed: '
                                  "cannot create directory ‘{d}.restoring’: Permission denied"),
    'Remote script failed': (2222, ['--status', '--cfg-dir=/x'], 'Remote script failed with status -1: broken'),
}


def driver_case(row):
    """The first of fixture.USAGE_ERRORS that is one of row's: a run that fails before connecting."""
    for args, password, line in fx.USAGE_ERRORS:
        if any(p.fullmatch(line) for p in row.patterns):
            return lambda g: (fx.run_json(args, password), line)


@pytest.mark.parametrize('row', [r for r in ROWS if r.key not in EXEMPT], ids=lambda r: r.key[:50])
def test_each_error_line_of_the_readme_comes_with_its_code(row, request):
    g = request.getfixturevalue
    # A key "CODE:MESSAGE" picks one of the rows that share a message.
    key = max((k for k in CASES if row.key.startswith(k) or f'{row.code}:{row.key}'.startswith(k)), key=len,
              default=None)
    case = CASES.get(key) or driver_case(row)
    assert case, f'no case produces the README row {row.key!r}'
    if callable(case):
        (obj, status), message = case(g)
    else:  # who, args, message
        h = g('odd')[case[0]] if isinstance(case[0], int) else g(case[0]) if case[0] else None
        args, message = [a.format(h=h) for a in case[1]], case[2].format(h=h)
        obj, status = h.json(*args) if h else fx.run_json(fx.HOST + args)
    assert (obj['error'], status) == (row.code, 1), obj
    assert message.fullmatch(obj['message']) if isinstance(message, re.Pattern) else obj['message'] == message
    assert any(p.fullmatch(obj['message']) for p in row.patterns), obj
    assert obj.get('phase') == next((p for text, p in ((': no answer in', 'connect'), ('No answer', 'query'),
                                                       ('Timed out', 'run')) if text in obj['message']), None), obj


def same(got, want):  # want: the value, of its type (True is no 1); a type; or a pattern for a string
    return (type(got) is want if isinstance(want, type) else bool(want.fullmatch(got)) if isinstance(want, re.Pattern)
            else type(got) is type(want) and got == want)


def test_each_command_gives_its_fields(host, root, fake_tools, packages, server, free_names):
    s = server()
    fx.make_tree(f'{s.cfg}/t')
    fake_tools.tool('uname', "echo 'Linux pi aarch64'")
    temp = re.compile(re.escape(s.cfg) + r'/\.bf2_install_\w{6}')
    for who, args, fields in [
            (host, ['--exec', '--cmd=echo o; echo e >&2; exit 3'], {'status': 3, 'stdout': 'o\n', 'stderr': 'e\n'}),
            (host, ['--exec', '--max-output=3', '--cmd=echo out; echo err >&2; kill -9 $$'],
             {'status': -1, 'stdout': 'out', 'stderr': 'err', 'stdout_dropped': 1, 'stderr_dropped': 1,
              'signal': 'KILL'}),
            (host, ['--copy-file', f'--from={fx.TESTS}/standin.py', f'--to={s.cfg}/copy'], {}),
            (host, ['--check-host'], {'suitable': True, 'uname': re.compile('Linux .* GNU/Linux')}),
            (fake_tools, ['--check-host'], {'suitable': False, 'uname': 'Linux pi aarch64'}),
            (host, ['--check-on-root'], {'root': False}),
            (root, ['--check-on-root'], {'root': True}),
            (root, ['--create-user'], {'login': 'bf2', 'password': re.compile('[0-9A-Za-z]{10}')}),
            (host, ['--check-install', f'--dir={s.cfg}/t/bf2'], {'installed': True}),
            (host, ['--check-install', f'--dir={s.cfg}/t'], {'installed': False}),
            (host, ['--install', f'--url={packages.url("unknown.bin")}', f'--dir={s.cfg}'], {'temp_dir': temp}),
            (host, s.options(), {}),
            (host, ['--restart', f'--cfg-dir={s.cfg}'], {}),
            (host, ['--status', f'--cfg-dir={s.cfg}'], {'state': 'running', 'pid': int, 'uptime_s': int,
                                                         'memory_kb': int, 'process_state': re.compile('[RS]')}),
            (host, ['--console', f'--cfg-dir={s.cfg}', '--line=say hi'], {}),
            (host, ['--log', f'--cfg-dir={s.cfg}'], {'text': 'standin up\n'}),
            (host, ['--stop', f'--cfg-dir={s.cfg}'], {}),
            (host, ['--status', f'--cfg-dir={s.cfg}'], {'state': 'stopped'}),
            (host, ['--backup', f'--dir={s.cfg}/t', f'--backup-dir={s.cfg}/b'], {
                'name': re.compile(r't-\d{8}T\d{6}Z\.tar\.gz'), 'size': int, 'sha256': re.compile('[0-9a-f]{64}'),
                'warnings': 0}),
            (host, ['--fingerprint'], {'fingerprint': re.compile('SHA256:[+/0-9A-Za-z]{43}')}),
            (host, ['--help'], {}),
            (host, ['--version'], {'version': VERSION})]:
        obj, _ = who.json(*args)
        assert obj.keys() == {'ok', *fields}, (args, obj)
        assert all(same(obj[k], v) for k, v in {'ok': True, **fields}.items()), (args, obj)
        if 'temp_dir' in obj:
            fx.final_state(obj['temp_dir'])
            assert host.json('--install-status', f'--dir={obj["temp_dir"]}') == (
                {'ok': True, 'state': 'failed', 'stage': 'extract', 'status': -1, 'log': ['Unknown archive type']}, 0)


def test_the_manual_gives_each_command_the_readme_json_fields():
    """Field names and the values listed with them, by command: the README's table and the manual's JSON section."""
    readme = open(f'{fx.TESTS}/../README.md').read()
    want = {}
    for line in readme[readme.index('| Command | Fields besides'):].split('\n\n')[0].splitlines()[2:]:
        commands, fields = re.fullmatch(r'\| (.*?) \| (.*) \|', line).groups()
        want |= {c: set(re.findall('`([a-z][a-z0-9_]*)`', fields)) for c in re.findall('`--([a-z-]+)`', commands)}
    manual, got, command = open(f'{fx.TESTS}/../doc/bf2ctl.1').read(), {}, None
    for line in manual[manual.index('Fields by command:'):].split('\n.PP')[0].splitlines():
        if m := re.match(r'\.(?:BR?|RB \S+) (\S+)', line):
            word = m[1].replace('\\-', '-')
            command = word[2:] if word[2:] in want and word.startswith('--') else command
            got.setdefault(command, set()).update(re.findall('^[a-z][a-z0-9_]*$', word))
    assert got == {c: f for c, f in want.items() if f}


def test_text_that_is_not_utf8_comes_as_the_base64_of_its_bytes(host, server, tmp_path):
    s = server()
    open(f'{s.cfg}/srderr.log', 'wb').write(b'x\xe9\n')
    assert host.json('--log', f'--cfg-dir={s.cfg}') == ({'ok': True, 'text_base64': 'eOkK'}, 0)  # b'x\xe9\n'
    obj, _ = host.json('--install', '--url=u', f'--dir={s.cfg}/\udcff')
    assert re.fullmatch(re.escape(os.fsencode(s.cfg)) + rb'/\xff/\.bf2_install_\w{6}',
                        base64.b64decode(obj['temp_dir_base64'])) and 'temp_dir' not in obj, obj
    # Text mode escapes it, as all text of the account's.
    r = host.run('--install', '--url=u', f'--dir={s.cfg}/\udcff\x1b')
    assert re.fullmatch(re.escape(f"temp dir: '{s.cfg}") + r"/\\xff\\x1b/\.bf2_install_\w{6}'\n", r.out), r
    # Read in 96 KiB chunks: characters of 2, 3 and 4 bytes and escaped ones straddle their ends.
    for data, field in ((('a"é\\€\n😀\x01' * 400000).encode(), 'stdout'), (os.urandom(3 << 20), 'stdout_base64')):
        open(f'{tmp_path}/in', 'wb').write(data)
        obj, _ = host.json('--exec', "--cmd=cat; printf '\\377' >&2", f'--input-file={tmp_path}/in', timeout=60)
        assert obj.keys() == {'ok', 'status', field, 'stderr_base64'} and obj['stderr_base64'] == '/w==', obj.keys()
        assert (obj[field].encode() if field == 'stdout' else base64.b64decode(obj[field])) == data


def test_help_and_version_need_no_host():
    for args in (['--help'], ['-h'], ['--address=h', '--help']):
        r = fx.run(args, None)
        assert r.out.startswith('Usage: ') and r[1:] == ('', 0), r
        assert r.out.endswith('man bf2ctl, or man ./doc/bf2ctl.1 in the source tree.\n') and os.path.isfile(
            f'{fx.TESTS}/../doc/bf2ctl.1')
    for args, password in (([], None), (fx.HOST, 'pw')):
        assert fx.run(args + ['--version'], password) == (f'bf2ctl {VERSION}\n', '', 0)
        assert fx.run_json(args + ['--version'], password) == ({'ok': True, 'version': VERSION}, 0)
    assert fx.run(fx.HOST + ['--json=1', '--check-host'], 'pw') == ("Unknown option '--json'\n", '', 1)
