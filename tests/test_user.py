"""create-user against real accounts of this machine, made through a uid-0
login of the test run's own.  The candidate names belong to the whole
machine: every account and group under them is removed before and after
each test, and runs of other workers and build trees wait their turn."""
import fcntl
import os
import re

import pytest

import fixture as fx

# Only the exact candidate names and bf2_ with four digits; never an account
# of uid 0.
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
PRINTED = re.compile(r'login: "([^"\n]*)"\npassword: "([0-9A-Za-z]{10})"\n')


@pytest.fixture(autouse=True)
def free_names():
    with open('/tmp/bf2-create-user-test.lock', 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        fx.sh(REMOVE_CANDIDATES)
        yield
        fx.sh(REMOVE_CANDIDATES)


def created(r):
    m = PRINTED.fullmatch(r.out)
    assert m and (r.err, r.status) == ('', 0), r
    return m[1], m[2]


def test_a_free_host_gives_a_working_bf2_account(root):
    login, password = created(root.run('--create-user'))
    assert login == 'bf2'
    assert fx.sh('getent passwd bf2 | cut -d: -f5,6; stat -c %F:%U /home/bf2').stdout == \
        "Zelto's BF2 module:/home/bf2\ndirectory:bf2\n"
    assert re.fullmatch(r'\$6\$[./0-9A-Za-z]{16}\$[./0-9A-Za-z]{86}\n',
                        fx.sh('getent shadow bf2 | cut -d: -f2').stdout)
    # A real login with the printed password.
    r = fx.run([f'--address={root.address}', f'--login={login}', '--exec', '--cmd=id -un; pwd'],
               password)
    assert r == ('bf2\n/home/bf2\n\n0\n', '', 0)


def test_taken_names_are_skipped_then_a_numbered_name_is_taken(root):
    # A home left by a deleted account (its files and key are not handed on),
    # and a group without its user.
    fx.sh('mkdir -p /home/bf2/.ssh && echo "ssh-ed25519 AAAA old" > /home/bf2/.ssh/authorized_keys'
          ' && groupadd bf')
    assert created(root.run('--create-user'))[0] == 'battlefield'
    assert fx.sh('stat -c %U /home/bf2/.ssh/authorized_keys').stdout == 'root\n'
    fx.sh(REMOVE_CANDIDATES)
    fx.sh('for n in bf2 bf battlefield battlefield2; do useradd -M $n || exit; done')
    login = created(root.run('--create-user'))[0]
    assert re.fullmatch(r'bf2_[1-9][0-9]{3}', login)
    assert fx.sh(f'id -un {login}').stdout == login + '\n'


def test_a_login_that_may_not_add_users_gets_useradds_error(host):
    # An ordinary login has no /usr/sbin in its PATH.
    assert host.run('--create-user') == (
        "Create system user 'bf2' failed: sh: 1: useradd: not found\n", '', 1)


def test_freebsd_groups_are_asked_with_pw_and_other_systems_are_refused(fake_tools):
    fake_tools.tool('uname', 'echo Plan9')
    assert fake_tools.run('--create-user') == ('Unknown system: Plan9\n', '', 1)
    log = f'{fake_tools.home}/pw.log'
    fake_tools.tool('uname', 'echo FreeBSD')
    fake_tools.tool('pw', f'printf \'%s\\n\' "$@" >>{log}; [ "$2" = bf2 ]')
    fake_tools.tool('useradd', 'true')
    assert created(fake_tools.run('--create-user'))[0] == 'bf'
    assert open(log).read() == 'groupshow\nbf2\ngroupshow\nbf\n'
    os.remove(log)


def test_a_warning_of_useradd_is_a_failure(fake_tools):
    fake_tools.tool('useradd', "echo 'useradd: warning: the home directory already exists.' >&2")
    assert fake_tools.run('--create-user') == (
        "Create system user 'bf2' failed: useradd: warning: the home directory already exists.\n", '', 1)
