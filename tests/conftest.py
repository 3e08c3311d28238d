import fcntl
import os
import secrets
import shutil
import tempfile

import pytest

import fixture as fx

if os.geteuid() != 0:
    raise SystemExit('the end-to-end tests must run as root: they start sshd and add accounts')
for tool in ('/usr/sbin/sshd', '/usr/sbin/useradd', '/usr/bin/makeself', '/usr/bin/wget', fx.BF2CTL):
    if not os.access(tool, os.X_OK):
        raise SystemExit(f'missing prerequisite {tool}: run scripts/test, which installs and builds')


@pytest.fixture(scope='session')
def account():
    yield (a := fx.Account(f'bf2t{fx.net()}'))
    a.remove()


@pytest.fixture(scope='session')
def host(account):
    yield fx.Host(sshd := fx.Sshd(fx.address(1, fx.PORT)), account)
    sshd.stop()


@pytest.fixture(scope='session')
def root(host):
    """A second name for uid 0, with a password drawn per run, on the test host."""
    yield fx.Host(host.sshd, a := fx.Account(f'bf2su{fx.net()}', secrets.token_hex(8) + " '", True))
    a.remove()


@pytest.fixture(scope='session')
def fake_host(account):
    """The account on an sshd whose sessions find fake tools first in PATH, as
    /usr/local/bin: tool(name, script) makes one."""
    bin = tempfile.mkdtemp(prefix='bf2bin.')
    os.chmod(bin, 0o755)
    sshd = fx.Sshd(fx.address(5, fx.PORT), local_bin=bin)
    h = fx.Host(sshd, account)
    h.bin = bin
    h.tool = lambda name, script: fx.sh(f'printf "#!/bin/sh\\n%s\\n" {fx.q(script)} >{bin}/{name}'
                                        f' && chmod 755 {bin}/{name}')
    yield h
    sshd.stop()
    shutil.rmtree(bin)


@pytest.fixture
def fake_tools(fake_host):
    yield fake_host
    fx.sh(f'rm -f {fake_host.bin}/*')


@pytest.fixture(scope='session')
def packages():
    root = tempfile.mkdtemp(prefix='bf2www.')
    os.chmod(root, 0o755)
    fx.make_packages(root)
    yield (server := fx.PackageServer(fx.address(6), root))
    server.stop()
    shutil.rmtree(root)


@pytest.fixture
def server(host, request):
    """server(flags) makes an fx.Server of the test account's, with the stand-in given flags."""
    made = []
    yield lambda flags='': made.append(fx.Server(host, request.node.name[5:25] + str(len(made)),
                                                 len(made), flags)) or made[-1]
    for s in made:
        s.cleanup()


REMOVE_CANDIDATES = r'''
names() { getent "$1" | sed -n 's/^\(bf2\|bf\|battlefield2\?\|bf2_[0-9]\{4\}\):.*/\1/p'; }
for name in $(names passwd); do
    uid=$(id -u "$name") || exit
    [ "$uid" != 0 ] || { echo "refusing to remove $name: uid 0" >&2; exit 1; }
    pkill -KILL -U "$uid"; userdel -f -r "$name" >/dev/null 2>&1
done
for group in $(names group); do groupdel "$group" || exit; done
rm -rf /home/bf2 /home/bf /home/battlefield /home/battlefield2
test -z "$(names passwd)$(names group)"
'''


@pytest.fixture
def free_names():
    """None of the names create-user tries is taken, for one test of all workers at a time."""
    with open('/tmp/bf2-create-user-test.lock', 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        fx.sh(REMOVE_CANDIDATES)
        yield
        fx.sh(REMOVE_CANDIDATES)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """A failed test shows the end of every live sshd's log."""
    report = (yield).get_result()
    if report.failed:
        for sshd in fx.Sshd.live:
            tail = '\n'.join(sshd.log().splitlines()[-60:])
            report.sections.append((f'sshd log of {sshd.listen}', tail))
