"""create-user against real accounts of this machine, through a uid-0 login of the run's own."""
import os
import re

import pytest

import fixture as fx

HASH = r'\$6\$[./0-9A-Za-z]{16}\$[./0-9A-Za-z]{86}'
pytestmark = pytest.mark.usefixtures('free_names')


def test_a_free_host_gives_a_working_bf2_account_in_one_session_with_no_hash_in_sight(root):
    sessions = root.sshd.sessions()
    with fx.CommandLines() as seen:
        login, password = fx.created(root.run('--create-user'))
    assert login == 'bf2' and root.sshd.sessions() == sessions + 1
    shown = fx.sh('getent passwd bf2 | cut -d: -f5,6; stat -c %F:%U:%a /home/bf2; getent shadow bf2').stdout
    assert (m := re.fullmatch(f"Zelto's BF2 module:/home/bf2\ndirectory:bf2:700\nbf2:({HASH}):.*\n", shown))
    assert any(c.startswith('useradd\0') for c in seen.lines)  # the watch saw the account made
    assert not [c for c in seen.lines if m[1] in c]
    assert fx.run([f'--address={root.address}', f'--login={login}', '--exec', '--cmd=id -un; pwd'], password) == (
        'bf2\n/home/bf2\n\n0\n', '', 0)


def test_taken_names_are_skipped_then_a_numbered_name_is_taken(root):
    # A dangling symlink at the home, a home left by a deleted account, a group without its user.
    fx.sh('ln -s /nowhere /home/bf2 && mkdir /home/bf && groupadd battlefield')
    assert fx.created(root.run('--create-user'))[0] == 'battlefield2'
    login = fx.created(root.run('--create-user'))[0]  # now a user takes the last fixed name
    assert re.fullmatch(r'bf2_[1-9][0-9]{3}', login)
    # Both accounts are there, each hash with a salt of its own.
    assert len(set(fx.sh(f'getent shadow battlefield2 {login} | cut -d$ -f3').stdout.split())) == 2


# As root, where useradd works: no failure leaves an account, not even one with a dead password.
@pytest.mark.parametrize('tool, printed', [
    (('uname', 'echo Plan9'), 'Unknown system: Plan9'),
    (('useradd', "echo 'useradd: warning: the home directory already exists.' >&2"),
     "Create system user 'bf2' failed: useradd: warning: the home directory already exists."),
    (('chmod', "echo 'chmod: Operation not permitted' >&2; exit 1"),
     "Make home of system user 'bf2' private failed: chmod: Operation not permitted"),
    (('chpasswd', "echo 'chpasswd: (line 1, user bf2) password not changed' >&2; exit 1"),
     "Set password of system user 'bf2' failed: chpasswd: (line 1, user bf2) password not changed"),
    (('useradd', 'mkdir -p ~/t && cd ~/t && seq -f bf2_%g 1000 9999 | xargs touch bf2 bf'
                 ' battlefield battlefield2 && echo HOME=$PWD'),
     'No free user name: bf2, bf, battlefield, battlefield2 and 9000 tried names bf2_NNNN are taken'),
])
def test_each_failure_is_one_line_and_leaves_no_account(fake_tools, root, tool, printed):
    fake_tools.tool(*tool)
    assert fx.Host(fake_tools.sshd, root.account).run('--create-user') == (printed + '\n', '', 1)
    assert fx.sh('getent passwd bf2; ls -d /home/bf2', check=False).stdout == ''


def test_freebsd_asks_groups_with_pw_and_gives_it_the_hash_on_standard_input(fake_tools):
    fake_tools.tool('uname', 'echo FreeBSD')  # pw logs its arguments and its input
    fake_tools.tool('pw', 'printf "%s\\n" "$@" >>pw.log; [ $1 != useradd ] || cat >>pw.log;'
                    ' [ "$*" != "groupshow bf" ]')
    assert fx.created(fake_tools.run('--create-user'))[0] == 'bf'
    *calls, hash = open(log := f'{fake_tools.home}/pw.log').read().splitlines()
    os.remove(log)
    assert calls == ['groupshow', 'bf2', 'groupshow', 'bf', 'useradd', 'bf', '-c',
                     "Zelto's BF2 module", '-m', '-M', '700', '-H', '0']
    assert re.fullmatch(HASH, hash)
