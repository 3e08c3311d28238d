"""Real hosts for the end-to-end tests, the demo and the benchmarks, and the one way they start bf2ctl
(start, finish, run).  Every server it starts ends with the process that started it, however that ends."""
import contextlib
import ctypes
import functools
import grp
import http.server
import json
import os
import pwd
import re
import resource
import select
import shlex
import signal
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import time
from collections import namedtuple

TESTS = os.path.dirname(os.path.abspath(__file__))
BF2CTL = os.environ.get('BF2CTL', os.path.join(TESTS, '..', 'build', 'bf2ctl'))
PASSWORD = "se cret'pw"  # a blank and a quote, so that quoting matters
# Fixture servers listen here, never on 22: the machine's own sshd may hold
# port 22 of every address, and a person's access through it must stay.
PORT = 2222
Result = namedtuple('Result', 'out err status')
q = shlex.quote


def net():
    """This process's block 127.0.N.0/24: one per build tree and pytest-xdist worker."""
    worker = os.environ.get('PYTEST_XDIST_WORKER', 'gw0')
    return int(os.environ.get('BF2_TEST_NET', '50')) + int(worker[2:])


def address(host, port=None):
    return f'127.0.{net()}.{host}' + (f':{port}' if port else '')


def fail(what):
    raise RuntimeError('FIXTURE FAILURE: ' + what)


def sh(script, input=None, check=True, timeout=120):
    """/bin/sh -c script; with check, a failure is a fixture failure."""
    p = subprocess.run(['/bin/sh', '-c', script], input=input, capture_output=True, text=True,
                       errors='surrogateescape', timeout=timeout)
    if check and p.returncode != 0:
        fail(f'{script!r} ended with {p.returncode}: {p.stderr}')
    return p


def daemon(argv):
    return subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL,
                            preexec_fn=lambda: ctypes.CDLL(None).prctl(1, signal.SIGTERM))


def wait_until(done, seconds=10, step=0.02):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and not done():
        time.sleep(step)
    return done()


def file_size_limit(size):
    """A preexec_fn: no file the run writes may pass size bytes, and the signal for it is ignored."""
    return lambda: (signal.signal(signal.SIGXFSZ, signal.SIG_IGN),
                    resource.setrlimit(resource.RLIMIT_FSIZE, (size,) * 2))


def cmdline(pid):
    try:
        return open(f'/proc/{pid}/cmdline', errors='replace').read()
    except OSError:
        return ''


def read_pid(path):
    try:
        return int(open(path).read())
    except (OSError, ValueError):
        return -1


def processes_with(text):
    return [pid for pid in os.listdir('/proc') if pid.isdigit() and text in cmdline(pid)]


def processes_of(login):
    """The processes whose real user is login's.  Unlike a look for one command line, which a run can
    pass between two of its commands, none left means none of the account's can start again."""
    uid = str(pwd.getpwnam(login).pw_uid)

    def real_uid(pid):
        try:
            return next(line.split()[1] for line in open(f'/proc/{pid}/status') if line.startswith('Uid:'))
        except OSError:
            return None
    return [pid for pid in os.listdir('/proc') if pid.isdigit() and real_uid(pid) == uid]


def shows_banner(host, port):
    """Whether an SSH server answers on host:port, through whatever stands between."""
    try:
        with socket.create_connection((host, port), 1) as s:
            s.settimeout(2)
            return s.recv(4) == b'SSH-'
    except OSError:
        return False


def setpriv(user):
    """The command that runs its arguments as user (a name or a uid) and the group of that number or name."""
    return ['setpriv', f'--reuid={user}', f'--regid={user}', '--clear-groups']


def as_user(user, argv, cwd=None):
    """argv as user, once it runs: Popen returns only after the exec, so no wrapper's command line can be
    caught in its place, however loaded the machine."""
    group = user if isinstance(user, int) else grp.getgrnam(user).gr_gid
    return subprocess.Popen(argv, cwd=cwd, user=user, group=group, extra_groups=[],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)


def sleeper(user, *args, exe='/usr/bin/python3', cwd=None):
    """A process of user running exe (python) for 30 s, args on its command line."""
    return as_user(user, [exe, '-c', 'import time; time.sleep(30)', *args], cwd)


def start(args, password=PASSWORD, env={}, via=(), **popen):
    """bf2ctl in the background, run by via (a command and its arguments) if given; its input empty,
    its outputs pipes unless popen says otherwise.  password None leaves BF2_PASSWD unset."""
    env = {k: v for k, v in os.environ.items() if k != 'BF2_PASSWD'} | env
    if password is not None:
        env['BF2_PASSWD'] = password
    return subprocess.Popen([*via, BF2CTL, *args], env=env, **{
        'stdin': subprocess.DEVNULL, 'stdout': subprocess.PIPE, 'stderr': subprocess.PIPE, **popen})


def finish(p, timeout=120):
    """A started bf2ctl's result.  A hung run fails with its stack."""
    try:
        out, err = p.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        stack = sh(f'gdb -p {p.pid} -batch -ex "thread apply all bt"', check=False).stdout
        p.kill(), p.wait()
        raise AssertionError(f'{p.args} still ran after {timeout} s:\n{stack}')
    return Result(*(b if b is None else b.decode(errors='surrogateescape') for b in (out, err)), p.returncode)


def run(args, password=PASSWORD, timeout=120, **kw):
    return finish(start(args, password, **kw), timeout)


def run_json(args, password=PASSWORD, **kw):
    """bf2ctl --json: its object and exit status, once it is one UTF-8 line of the promised shape."""
    r = run([*args, '--json'], password, **kw)
    assert r.out.endswith('}\n') and r.out.count('\n') == 1 and r.err == '', r
    obj = json.loads(r.out.encode())
    if obj['ok'] is False:  # a usage error names its option when it is about one
        extra = {'remote': {'step'}, 'timeout': {'phase'}, 'usage': {'option'} & obj.keys()}
        assert obj.keys() == {'ok', 'error', 'message', *extra.get(obj['error'], ())}, r
    assert r.status == (0 if obj['ok'] is True else 255 if obj['message'] == 'Undefined error' else 1), r
    return obj, r.status


class Account:
    """A local account; superuser: a second name for uid 0, so that root's own is never touched."""

    def __init__(self, name, password=PASSWORD, superuser=False):
        self.name, self.password, self.superuser = name, password, superuser
        self.home = '/home/' + name
        self.remove()
        # -l: an alias of uid 0 must not reset root's login records.
        sh(f'useradd -m -s /bin/sh {"-l -o -u 0 -g 0 " if superuser else ""}{name}')
        sh('/usr/sbin/chpasswd', input=f'{name}:{password}\n')

    def remove(self):
        if not self.superuser:  # pkill -u of a uid-0 alias would hit every root process
            sh(f'pkill -KILL -u {self.name}', check=False)
        sh(f'id {self.name} >/dev/null 2>&1 && userdel -f -r {self.name} >/dev/null 2>&1; true')


class Sshd:
    """sshd on listen ('ADDRESS:PORT' or '[::1]:PORT'); no RSA host key: libssh2 1.10 cannot use it."""
    live = []

    def __init__(self, listen, extra='', netns=None, local_bin=None):
        self.listen, self.dir = listen, tempfile.mkdtemp(prefix='bf2sshd.')
        d = self.dir
        sh(f'ssh-keygen -q -t ed25519 -N "" -f {d}/host_ed25519 && '
           f'ssh-keygen -q -t ecdsa -N "" -f {d}/host_ecdsa && mkdir -p /run/sshd')
        with open(f'{d}/sshd_config', 'w') as f:
            f.write(f'ListenAddress {listen}\nHostKey {d}/host_ed25519\nHostKey {d}/host_ecdsa\n'
                    f'PidFile {d}/sshd.pid\nUsePAM yes\nPasswordAuthentication yes\n'
                    'KbdInteractiveAuthentication no\nPubkeyAuthentication yes\n'
                    'PermitRootLogin yes\nStrictModes no\nUseDNS no\nLogLevel VERBOSE\n'
                    'Subsystem sftp internal-sftp\nSetEnv LANG=C.UTF-8\n' + extra
                    + ''.join(f'{k} 200\n' for k in ('MaxStartups', 'MaxSessions') if k not in extra))
        # local_bin: a folder that its sessions see as /usr/local/bin, first
        # in the system's PATH, in a mount namespace of its own.
        self.proc = daemon((['ip', 'netns', 'exec', netns] if netns else []) +
                           (['unshare', '-m', '--propagation', 'private', '/bin/sh', '-c',
                             'mount --bind "$0" /usr/local/bin && exec "$@"', local_bin] if local_bin else []) +
                           ['/usr/sbin/sshd', '-D', '-f', f'{d}/sshd_config', '-E', f'{d}/sshd.log'])
        host, port = listen.rsplit(':', 1)
        self.host, self.port = host.strip('[]'), int(port)
        self.offered = fingerprint(f'{d}/host_ecdsa.pub')  # libssh2 1.10 takes ECDSA over ed25519
        if not wait_until(self._banner, 10, 0.05):
            fail(f'sshd on {listen} shows no banner: {self.log()}')
        Sshd.live.append(self)

    def _banner(self):
        if self.proc.poll() is not None:
            fail(f'sshd on {self.listen} exited at start-up: {self.log()}')
        return shows_banner(self.host, self.port)

    def log(self):
        path = f'{self.dir}/sshd.log'
        return open(path, errors='replace').read() if os.path.exists(path) else ''

    def sessions(self):
        return self.log().count('Starting session:')

    def stop(self):
        Sshd.live.remove(self)
        self.proc.terminate()
        self.proc.wait()
        sh(f'rm -rf {self.dir}')


class Listener:
    """Sends reply to each connection, then closes it, unless reply is None or hold."""

    def __init__(self, host, port, reply, hold=False):
        self.sock = socket.create_server((host, port))
        self.reply, self.hold, self.held = reply, hold, []
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                client, _ = self.sock.accept()
            except OSError:
                return
            if self.reply is not None:
                client.sendall(self.reply)
            self.held.append(client) if self.reply is None or self.hold else client.close()

    def stop(self):
        for s in [self.sock, *self.held]:
            s.close()


class Netns:
    """A network namespace on a veth pair (one left by a failed run goes first).  down() makes
    a peer there vanish silently: no FIN, no reset, no failed ARP (the MAC is pinned here)."""

    def __init__(self):
        self.name, self.address = f'bf2ns{net()}', f'10.{net()}.77.2'
        self.remove()
        n, h, p, mac = self.name, self.name + 'h', self.name + 'p', f'02:b2:{net():02x}:00:00:02'
        sh(f'ip netns add {n} && ip link add {h} type veth peer name {p} address {mac} netns {n}'
           f' && ip addr add 10.{net()}.77.1/30 dev {h} && ip link set {h} up'
           f' && ip -n {n} addr add {self.address}/30 dev {p} && ip -n {n} link set {p} up'
           f' && ip neigh replace {self.address} lladdr {mac} dev {h} nud permanent')

    def down(self):
        sh(f'ip -n {self.name} link set {self.name}p down')

    def remove(self):  # the veth pair goes with the namespace
        sh(f'ip netns del {self.name} 2>/dev/null; ip link del {self.name}h 2>/dev/null; true')


def watch_execs():
    """Prints as JSON every program's command line until standard input closes, and how many it
    missed.  At real-time priority and in a process of its own (no other thread holds the
    interpreter), it reads all but a few in a hundred before they end, even on a loaded machine."""
    os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(10))
    s = socket.socket(socket.AF_NETLINK, socket.SOCK_DGRAM, 11)  # NETLINK_CONNECTOR
    s.setsockopt(socket.SOL_SOCKET, 33, 8 << 20)  # SO_RCVBUFFORCE
    s.bind((0, 1))  # CN_IDX_PROC
    listen = struct.pack('=IIIIHHI', 1, 1, 0, 0, 4, 0, 1)  # cn_msg: PROC_CN_MCAST_LISTEN
    s.send(struct.pack('=IHHII', 16 + len(listen), 3, 0, 0, 0) + listen)
    print('ready', flush=True)
    lines, execs, missed = set(), 0, 0
    poll = select.poll()
    poll.register(s, select.POLLIN)
    poll.register(sys.stdin, select.POLLIN)
    while s.fileno() in [fd for fd, _ in poll.poll()]:
        try:
            event = s.recv(65536)
        except OSError:  # ENOBUFS: events were dropped
            missed += 1
            continue
        # nlmsghdr (16 bytes), cn_msg (20), proc_event: what, cpu, time, then pid, tgid
        if struct.unpack_from('=I', event, 36)[0] == 2:  # PROC_EVENT_EXEC
            execs += 1
            try:
                fd = os.open(f'/proc/{struct.unpack_from("=I", event, 56)[0]}/cmdline', os.O_RDONLY)
                line = os.read(fd, 1 << 20)
                os.close(fd)
            except OSError:
                line = b''
            if line:
                lines.add(line.decode('latin-1'))
            else:
                missed += 1
    json.dump({'lines': sorted(lines), 'execs': execs, 'missed': missed}, sys.stdout)


class CommandLines:
    """The command line of every program started on the machine while it is
    open (watch_execs), arguments separated by NUL."""

    def __enter__(self):
        self.watch = subprocess.Popen(
            ['/usr/bin/python3', '-c', f'import sys; sys.path.insert(0, {TESTS!r}); '
             'import fixture; fixture.watch_execs()'], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        if self.watch.stdout.readline() != b'ready\n':
            self.watch.kill()
            fail("the exec watch did not start: it needs root and the kernel's process connector,"
                 ' which only the initial network namespace has')
        return self

    def __exit__(self, *_):
        out = json.loads(self.watch.communicate(timeout=30)[0])
        self.lines = set(out['lines'])
        # A few programs in a hundred may end unread on a loaded machine (up to
        # 7 seen with four installs at once); a watch that fell behind misses
        # many, and a value on a command line shows in several.
        assert out['missed'] <= out['execs'] / 10, f"{out['missed']} of {out['execs']} programs went unread"


class Host:
    """An sshd and the account that logs in to it."""

    def __init__(self, sshd, account, address=None):
        self.sshd, self.account = sshd, account
        self.address = address or sshd.listen
        self.login, self.home = account.name, account.home

    def args(self, args):
        return [f'--address={self.address}', f'--login={self.login}', *args]

    def start(self, *args, password=None, **kw):
        return start(self.args(args), password or self.account.password, **kw)

    def run(self, *args, password=None, timeout=120, **kw):
        return finish(self.start(*args, password=password, **kw), timeout)

    def json(self, *args, password=None, **kw):
        return run_json(self.args(args), password or self.account.password, **kw)

    def mkdir(self, path):  # a fresh one of the account's
        sh(f'rm -rf {q(path)} && mkdir -p {q(path)} && chown -R {self.login}: {q(path)}')
        return path


# Mode 644 throughout, so that only the install's chmod makes files runnable.
INSTALLED_TREE = ['.', './bf2_lnxded.dynamic', './bf2_lnxded.static', './fixinstall.sh',
                  './fixinstall.trace', './mods', './mods/bf2', './mods/bf2/init.con', './start.sh']


def make_tree(dir, omit=None):
    os.makedirs(f'{dir}/bf2/mods/bf2')
    for name, text in {'start.sh': '#!/bin/sh\necho started\n', 'bf2_lnxded.static': 'static\n',
                       'bf2_lnxded.dynamic': 'dynamic\n', 'mods/bf2/init.con': 'init\n',
                       'fixinstall.sh': '#!/bin/sh\necho ran > fixinstall.trace\n'}.items():
        if name != omit:
            with open(f'{dir}/bf2/{name}', 'w') as f:
                f.write(text)
    sh(f'chmod -R u=rwX,go=rX {q(dir)}/bf2')


def make_packages(root):
    """The four archive kinds (a Makeself header's command must not run), a text, a tree short of a file."""
    make_tree(f'{root}/full')
    make_tree(f'{root}/nostatic', omit='bf2_lnxded.static')
    sh(f'cd {root} && tar -cjf server.tar.bz2 -C full bf2 && tar -czf server.tar.gz -C full bf2'
       ' && tar -czf nostatic.tar.gz -C nostatic bf2 && (cd full && zip -qr ../server.zip bf2)'
       " && makeself --nox11 full/bf2 server.run 'bf2 server' touch makeself_script_ran >/dev/null"
       " && printf 'not an archive\\n' > unknown.bin && rm -rf full nostatic")


class PackageServer:
    """HTTP on host:8080; /hold/NAME answers once NAME (with its query: a hold of its own) is in
    released (while held, it is in held)."""

    def __init__(self, host, root):
        self.host, self.requests, self.held, self.released = host, [], set(), set()
        server = self

        class Handler(http.server.SimpleHTTPRequestHandler):
            def do_GET(self):
                if self.path.startswith('/hold/'):
                    self.path = self.path[5:]
                    name = self.path[1:]
                    server.held.add(name)
                    wait_until(lambda: name in server.released, 60, 0.05)
                super().do_GET()

            def log_request(self, code='-', size='-'):
                server.requests.append(f'"{self.requestline}" {code}')

        self.httpd = http.server.ThreadingHTTPServer((host, 8080),
                                                     functools.partial(Handler, directory=root))
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def url(self, path):
        return f'http://{self.host}:8080/{path}'

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def install_standin(srv_dir, owner, flags=''):
    """srv_dir/start.sh execs the stand-in, so that the game server's pid is its own."""
    os.makedirs(srv_dir, exist_ok=True)
    sh(f'install -m 644 {TESTS}/standin.py {q(srv_dir)}/standin.py')
    with open(f'{srv_dir}/start.sh', 'w') as f:
        f.write(f'#!/bin/sh\nexec /usr/bin/python3 "${{0%/*}}/standin.py" {flags} "$@"\n')
    sh(f'chmod 755 {q(srv_dir)}/start.sh' + (f' && chown -R {owner}: {q(srv_dir)}' if owner else ''))


OK = ('', '', 0)


class Server:
    """Server and configuration directories named with a blank and a quote; ports per worker and slot."""

    def __init__(self, host, name, slot, flags=''):
        self.host = host
        self.srv, self.cfg = f"{host.home}/srv {name}'s", f"{host.home}/cfg {name}'s"
        self.port = 10000 + 100 * net() + 10 * slot
        self.bound = f'bound {self.port} {self.port + 1}\n'
        host.mkdir(self.cfg)
        host.mkdir(self.cfg + '/settings')
        sh(f'rm -rf {q(self.srv)}')
        install_standin(self.srv, host.login, flags)

    def options(self, **changes):
        """Every option in table order; changes replace values (None drops one)."""
        p = self.port
        opts = {'srv-dir': self.srv, 'cfg-dir': self.cfg, 'name': "My 'best' server",
                'max-players': '16', 'server-internet': True, 'srv-bandwidth': '100',
                'cl-bandwidth': '200', 'ip': '127.0.0.1', 'port': str(p), 'spy-lan-port': str(p + 2),
                'spy-port': str(p + 1), 'game-time': '30', 'score-lim': '250', 'round-num': '3',
                'punk-buster': True, 'srv-passwd': 'se cret', 'remote-admin-passwd': 'admin pw',
                'rcon-username': 'rcon user', 'rcon-password': 'rcon pw', 'rcon-port': str(p + 3)}
        opts.update({k.replace('_', '-'): v for k, v in changes.items()})
        return ['--start'] + [f'--{k}' if v is True else f'--{k}={v}'
                              for k, v in opts.items() if v is not None]

    def start(self, **changes):
        return self.host.run(*self.options(**changes))

    def stop(self, **kw):
        return self.host.run('--stop', f'--cfg-dir={self.cfg}', **kw)

    def log(self):
        return open(f'{self.cfg}/standin.log').read() if os.path.exists(f'{self.cfg}/standin.log') else ''

    def log_head(self):
        return (f'args +statusMonitor 1 +config {self.cfg}/settings/serversettings.con '
                f'+mapList {self.cfg}/settings/maplist.con\n{self.bound}')

    def running(self):
        """Pid files naming processes stop recognises, a console pipe, ports bound."""
        c = self.cfg
        return (cmdline(read_pid(f'{c}/start.pid')) == f'/bin/sh\0{c}/start.sh\0'
                and f'\0{c}/settings/serversettings.con\0' in cmdline(read_pid(f'{c}/server.pid'))
                and stat.S_ISFIFO(os.lstat(f'{c}/server-stdin').st_mode) and self.log().endswith(self.bound))

    def stopped(self, files=('settings', 'srderr.log', 'standin.log', 'start.sh', 'stop.sh')):
        """No process, no run file; the records of how runs ended and their kept logs aside."""
        kept = re.compile(r'server\.crash|srderr\.log\.[1-5]|start\.params')
        return not processes_with(self.cfg + '/') and sorted(
            f for f in os.listdir(self.cfg) if not kept.fullmatch(f)) == sorted(files)

    def settings(self):
        return open(f'{self.cfg}/settings/serversettings.con').read()

    def status(self):
        return self.host.run('--status', f'--cfg-dir={self.cfg}')

    def put(self, name, text):
        with open(f'{self.cfg}/{name}', 'w', encoding='latin-1') as f:
            f.write(str(text))
        sh(f'chown {self.host.login} {q(self.cfg)}/{name}')

    def rcon(self, *args, json=False, password='rcon pw', env={}, port=3, via=None, **kw):
        """A console command (--rcon, --players, --say) for this server's console on port + port, through via or
        its host."""
        return getattr(via or self.host, 'json' if json else 'run')(*args, f'--cfg-dir={self.cfg}', f'--rcon-port='
                                                                    f'{self.port + port}', env={
            'BF2_RCON_PASSWORD': password, **env}, **kw)

    def console_up(self):
        """Whether the console listens on the port the fixture's start gives it."""
        return wait_until(lambda: f':{self.port + 3:04X} 00000000:0000 0A' in open('/proc/net/tcp').read())

    def cleanup(self):
        for pid in processes_with(self.cfg):
            os.kill(int(pid), 9)
        sh(f'rm -rf {q(self.srv)} {q(self.cfg)}')


def console_server(make, flags='', launcher=False):
    """A started fx.Server of make's (the server fixture) whose console listens; launcher: its start.sh runs the
    stand-in as a child instead of becoming it."""
    s = make(flags)
    launcher and sh(f"sed -i 's/^exec //' {q(s.srv)}/start.sh")
    assert (r := s.start()) == OK, r
    assert s.console_up(), s.log()
    return s


def install(host, url, dir, *more, env={}):
    """Starts an install (url None: from the environment); the temporary directory it printed inside dir."""
    r = host.run('--install', *([f'--url={url}'] if url else []), f'--dir={dir}', *more, env=env)
    m = re.fullmatch(r"temp dir: '(.*)'\n", r.out, re.S)
    assert m and (r.err, r.status) == ('', 0), r
    assert re.fullmatch(re.escape(dir) + r'/\.bf2_install_\w{6}', m[1], re.S), r
    return m[1]


def final_state(temp):
    """Once the script ends: the files in temp, then the status files' and install log's NAME:LINE."""
    ended = ('install_ok.ret', 'download_err.ret', 'verify_err.ret', 'extract_err.ret', 'install_err.ret')
    assert wait_until(lambda: any(os.path.getsize(f'{temp}/{f}') for f in ended
                                  if os.path.exists(f'{temp}/{f}')), 60, 0.1)
    return sh(f"cd {q(temp)} && ls -A | LC_ALL=C sort; grep -s '' *.ret install.log", check=False).stdout.splitlines()


def working_in(host, dir):
    """A process of the account whose working directory is dir."""
    p = as_user(host.login, ['sh', '-c', f'cd {q(dir)} && exec sleep 60'])
    assert wait_until(lambda: os.readlink(f'/proc/{p.pid}/cwd') == dir), dir
    return p


LIB = f'{TESTS}/../commands/sh/lib.sh'
BUSY = 'Configuration directory busy: another start or stop of it still runs after 40 s'


def plant_lock(cfg, account, owner):
    """A lock as a run leaves it; owner None: killed before it named its keeper."""
    os.mkdir(lock := f'{cfg}/.bf2ctl.lock')
    owner is None or sh(f'echo {owner} >{q(lock)}/owner')
    sh(f'chown -R {account.name}: {q(lock)}')


def hold_lock(host, cfg):
    """A process of the account holding cfg's lock, as a start or stop that does not end."""
    p = as_user(host.login, ['/bin/sh', '-c', f'. {q(LIB)}; CFGDIR=$1; lock; sleep 100', 'sh', cfg])
    assert wait_until(lambda: os.path.exists(f'{cfg}/.bf2ctl.lock/owner'))
    return p


def query(port, json=False):  # the address's own port is SSH's, not the query's
    return (run_json if json else run)(['--address=127.0.0.1:22', '--query', f'--port={port}'], None)


@contextlib.contextmanager
def responder(packets=None, reply_from='127.0.0.1'):
    """A UDP port on 127.0.0.1 that answers each query with packets(its session id) from that port of
    reply_from, or never."""
    s, out = (socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(2))
    s.bind(('127.0.0.1', 0))
    out = s if reply_from == '127.0.0.1' else (out.bind((reply_from, s.getsockname()[1])), out)[1]

    def serve():
        with contextlib.suppress(OSError):
            while packets:
                request, peer = s.recvfrom(2048)
                for p in packets(request[3:7]):
                    out.sendto(p, peer)
    threading.Thread(target=serve, daemon=True).start()
    yield s.getsockname()[1]
    s.close(), out.close()


def pipe_with(text):
    """A pipe's reading end, text in it and its writing end closed: /dev/fd/N of a run it is passed to."""
    r, w = os.pipe()
    os.write(w, text.encode()), os.close(w)
    return r


def fingerprint(path):
    return sh(f'ssh-keygen -lf {path}').stdout.split()[1]


def public_key(path):
    return ' '.join(open(path).read().split()[:2])


HI = 'hi\n\n0\n'
NO_PASSWORD_METHOD = ('. The server does not support password authentication method. You should ask '
                      'your game hosting account provider to enable password authentication method.\n')
PRINTED = re.compile(r'login: "([^"\n]*)"\npassword: "([0-9A-Za-z]{10})"\n')


def created(r):
    """create-user's login and password, once it printed them."""
    assert (m := PRINTED.fullmatch(r.out)) and (r.err, r.status) == ('', 0), r
    return m[1], m[2]


# The command line as the control panel sees it.  Nothing listens at HOST's
# address, so a connection attempt would show as "Failed to connect".
HOST = [f'--address={address(4, PORT)}', '--login=nobody']
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


# Each run fails with its line before it connects.
USAGE_ERRORS = [
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
        *[(args, f"Requires long option '--{name}'") for args, name in [
            (['--exec'], 'cmd'), (['--copy-file', '--to=/x'], 'from'), (['--copy-file', '--from=/x'], 'to'),
            (['--install', '--dir=relative'], 'url'), (['--install', '--url=u'], 'dir'), (['--check-install'], 'dir'),
            (['--stop'], 'cfg-dir'), (['--console', '--cfg-dir=/c'], 'line')]],
        *[(args, f"Incorrect long option '--{name}'") for args, name in [
            (['--exec', '--cmd='], 'cmd'), (['--exec', '--cmd-file='], 'cmd-file'),
            (['--install', '--url=', '--dir=/tmp'], 'url'), (['--log', '--cfg-dir=/c', '--previous=6'], 'previous'),
            (without(START, 'mod', ''), 'mod'), (without(START, 'maps', ''), 'maps')]],
        *[(args, ABS) for args in (['--install-status', '--dir=t'], ['--stop', '--cfg-dir=c'],
                                   ['--status', '--cfg-dir=c'], ['--players', '--cfg-dir=c', '--rcon-password=p'],
                                   without(START, 'srv-dir', 'd'),
                                   without(START, 'cfg-dir', 'd'))],
        (['--exec', '--cmd=true', '--input='], "Unknown option '--input'"),
        (['--exec', '--cmd=true', '--cmd-file=/c'], "Conflicting long options '--cmd' and '--cmd-file'"),
        (['--exec', '--cmd-file=', '--input=i', '--input-file=/i'],
         "Conflicting long options '--input' and '--input-file'"),
        (['--exec', '--cmd-file=/nowhere'], 'Unable to read /nowhere: No such file or directory'),
        (['--exec', '--cmd=true', '--input-file=/'], 'Unable to read /: Is a directory'),
        (['--exec', '--cmd-file=/proc/self/cmdline'], 'Command file holds a NUL byte'),
        (['--install', '--url=u', '--dir=/tmp', '--bogus'], "Unknown option '--bogus'"),
        (['--install', '--url=u\nv', '--dir=/t\rx'], 'URL holds a line break'),
        (['--install', '--url=u', '--dir=/t\rx'], 'Install directory holds a line break'),
        (['--console', '--cfg-dir=/c', '--line=a\nb'], 'Console line holds a line break'),
        *[([command, '--cfg-dir=/c', *more], line) for command, more, line in [
            ('--rcon', ['--rcon-password=p'], "Requires long option '--line'"),
            ('--players', [], "Requires long option '--rcon-password'"),
            *[('--players', [f'--rcon-port={p}'], "Incorrect long option '--rcon-port'") for p in ('0', '65536', 'x')],
            *[('--rcon', [f'--line={v}', '--rcon-password=p'], line) for v, line in [
                ('a\tb', 'Rcon line holds a line break or control character'), ('\x7f', 'Rcon line holds a line '
                 'break or control character'), ('x' * 121, 'Rcon line is longer than 120 bytes')]],
            *[('--say', [f'--line={v}', '--rcon-password=p'], line) for v, line in [
                ('say "hi"', 'Message holds a double quote'), ('a\x1b', 'Message holds a control character'),
                ('é' * 51, 'Message is longer than 100 bytes')]]]],
        *[(['--log', '--cfg-dir=/c', f'--lines={n}'], "Incorrect long option '--lines'")
          for n in ('0', '10001', 'x', '-1', '')],
        *[(['--exec', '--cmd=true', f'--max-output{v}'], "Incorrect long option '--max-output'")
          for v in ('', '=', '=0', '=-1', '=+1', '=1k', f'={2**62 + 1}', f'={2**64 + 10}')],  # 10 if it wrapped
        *[(['--fetch-file', '--from=/r', '--to=/l', f'--max-size{n}'], "Incorrect long option '--max-size'")
          for n in ('', '=', '=0', f'={(1 << 62) + 1}', '=' + '9' * 20, '=1k', '=-1')],
        (without(START, 'punk-buster', '1'), "Unknown option '--punk-buster'"),  # a flag with a value
        (without(START, 'colour', 'red'), "Unknown option '--colour'"),
        (without(START, 'max-players', '1\r'),
         "Set option 'sv.maxPlayers' failed in /c/settings/serversettings.con: value holds a line break"),
        # A value must not end itself in the settings file and begin another setting.
        *[(without(START, o, v), f"Setting 'sv.{key}' {why}") for o, v, key, why in [
            ('name', 'x" sv.password "', 'serverName', 'holds a double quote'),
            ('srv-passwd', '"', 'password', 'holds a double quote'),
            ('srv-passwd', 'é' * 513, 'password', 'is longer than 1024 bytes'),
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
        # The console's settings as the game reads them back, the mod and the map list: after the
        # settings, before the ports.
        *[(without(without(START, o, v), 'spy-lan-port', 'x'), line) for o, v, line in [
            *[('rcon-password', v, f'Rcon password {why}') for v, why in [
                ('a=b\nc', 'holds an equals sign'), ('a\rb', 'holds a line break'), ('p ', 'begins or ends with a blank')]],
            ('rcon-port', '00', 'Rcon port must not be 0 when the console is on'),
            ('mod', 'Xpack', "Mod name must be lower-case letters, digits, '-' or '_'"),
            ('maps', 'a:gpm_cq:16,a:cq:16', "Map list entry 'a:cq:16' must be MAP:MODE:SIZE"),
            ('maps', ','.join(['a:gpm_cq:16'] * 257), 'Map list holds more than 256 entries')]],
        (without(without(START, 'rcon-password', '='), 'round-num', 'x'), "Setting 'sv.roundsPerMap' must be a whole number"),
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
]
