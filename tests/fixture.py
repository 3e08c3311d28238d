"""Real hosts for the end-to-end tests, the demo and the benchmarks.  Every
process it starts ends with the process that started it, however that ends."""
import ctypes
import functools
import http.server
import json
import os
import resource
import select
import shlex
import signal
import socket
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


def run(args, password=PASSWORD, timeout=120, input=None, env={}, preexec_fn=None, via=()):
    """bf2ctl; password None leaves BF2_PASSWD unset.  A hung run fails with its stack."""
    env = {k: v for k, v in os.environ.items() if k != 'BF2_PASSWD'} | env
    if password is not None:
        env['BF2_PASSWD'] = password
    p = subprocess.Popen([*via, BF2CTL, *args], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, preexec_fn=preexec_fn)
    try:
        out, err = p.communicate(input, timeout)
    except subprocess.TimeoutExpired:
        stack = sh(f'gdb -p {p.pid} -batch -ex "thread apply all bt"', check=False).stdout
        p.kill(), p.wait()
        raise AssertionError(f'bf2ctl {args} still ran after {timeout} s:\n{stack}')
    return Result(out.decode(errors='surrogateescape'), err.decode(errors='surrogateescape'),
                  p.returncode)


def run_json(args, password=PASSWORD, **kw):
    """bf2ctl --json: its object and exit status, once it is one UTF-8 line of the promised shape."""
    r = run([*args, '--json'], password, **kw)
    assert r.out.endswith('}\n') and r.out.count('\n') == 1 and r.err == '', r
    obj = json.loads(r.out.encode())
    if obj['ok'] is False:
        assert obj.keys() == {'ok', 'error', 'message', *(['step'] if obj['error'] == 'remote' else [])}, r
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
                    'MaxSessions 200\nSubsystem sftp internal-sftp\nSetEnv LANG=C.UTF-8\n'
                    + (extra if 'MaxStartups' in extra else extra + 'MaxStartups 200\n'))
        # local_bin: a folder that its sessions see as /usr/local/bin, first
        # in the system's PATH, in a mount namespace of its own.
        self.proc = daemon((['ip', 'netns', 'exec', netns] if netns else []) +
                           (['unshare', '-m', '--propagation', 'private', '/bin/sh', '-c',
                             'mount --bind "$0" /usr/local/bin && exec "$@"', local_bin] if local_bin else []) +
                           ['/usr/sbin/sshd', '-D', '-f', f'{d}/sshd_config', '-E', f'{d}/sshd.log'])
        host, port = listen.rsplit(':', 1)
        self.host, self.port = host.strip('[]'), int(port)
        if not wait_until(self._banner, 10, 0.05):
            fail(f'sshd on {listen} shows no banner: {self.log()}')
        Sshd.live.append(self)

    def _banner(self):
        if self.proc.poll() is not None:
            fail(f'sshd on {self.listen} exited at start-up: {self.log()}')
        try:
            with socket.create_connection((self.host, self.port), 1) as s:
                return s.recv(4) == b'SSH-'
        except OSError:
            return False

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

    def run(self, *args, **kw):
        return run([f'--address={self.address}', f'--login={self.login}', *args], self.account.password, **kw)

    def json(self, *args, password=None, **kw):
        return run_json([f'--address={self.address}', f'--login={self.login}', *args],
                        password or self.account.password, **kw)

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
