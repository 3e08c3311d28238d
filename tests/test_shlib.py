"""The remote scripts' function library (commands/sh/ours.sh, lib.sh) in a local dash, as the account."""
import itertools
import os
import subprocess
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import fixture as fx

SH = os.path.normpath(os.path.join(fx.TESTS, '..', 'commands', 'sh'))
PRELUDE = f'. {SH}/ours.sh; . {SH}/lib.sh; CFGDIR=$1; '
# A holder writes its entry and its exit to $2, so that overlaps show.
HOLD = 'lock || exit 3; echo "in $$" >>"$2"; sleep 0.02; echo "out $$" >>"$2"; unlock'


@pytest.fixture
def cfg(account):
    d = tempfile.mkdtemp(prefix='bf2lock.')
    fx.sh(f'chown {account.name}: {d} && chmod 755 {d}')
    yield d
    fx.sh(f'chmod -R u+rwX {d}; rm -rf {d}')


@pytest.fixture
def dash(account):
    """dash -c PRELUDE + script CFGDIR LOG as the test account (or root), started."""
    def start(script, cfg, log='/dev/null', env=None, root=False):
        return subprocess.Popen(
            fx.setpriv(account.name)[root * 4:] + ['dash', '-c', PRELUDE + script, 'dash', cfg, log],
            env={'PATH': '/usr/bin:/bin', **(env or {})}, stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    return start


def overlaps(log):
    """Most holders in at once, from the entries and exits in log."""
    return max(itertools.accumulate({'in': 1, 'out': -1}.get(w, 0) for w in open(log).read().split()))


def dead_pid():
    p = subprocess.Popen(['true'])
    p.wait()
    return p.pid


@pytest.mark.parametrize('plant, rounds', [
    pytest.param(lambda lock, account: fx.plant_lock(os.path.dirname(lock), account, dead_pid()), 50,
                 id="dead keeper's lock"),
    pytest.param(lambda lock, _: open(lock, 'w').close(), 5, id='file'),
    pytest.param(lambda lock, _: os.mkfifo(lock), 5, id='pipe'),
    pytest.param(lambda lock, _: os.symlink('/tmp', lock), 5, id='symlink to a directory')])
def test_contenders_never_hold_the_lock_together(dash, cfg, account, plant, rounds):
    def contend(d):  # three at once, rounds times, in each of four directories at once
        os.mkdir(d)
        fx.sh(f'chown {account.name}: {d}')
        for _ in range(rounds):
            plant(f'{d}/.bf2ctl.lock', account)
            runs = [dash(HOLD, d, f'{d}.log') for _ in range(3)]
            assert [r.wait(60) for r in runs] == [0, 0, 0]
            assert not os.path.exists(f'{d}/.bf2ctl.lock')
        return open(f'{d}.log').read().count('in'), overlaps(f'{d}.log')
    with ThreadPoolExecutor(4) as pool:
        assert list(pool.map(contend, [f'{cfg}/{i}' for i in range(4)])) == [(3 * rounds, 1)] * 4


def test_a_stale_lock_the_account_made_unremovable_is_taken(dash, cfg, account):
    fx.plant_lock(cfg, account, dead_pid())
    os.makedirs(f'{cfg}/.bf2ctl.lock/stuck/deep')
    fx.sh(f'chown -R {account.name}: {cfg}/.bf2ctl.lock && chmod 555 {cfg}/.bf2ctl.lock/stuck')
    began = time.monotonic()
    assert dash('lock && echo held; unlock', cfg).communicate(timeout=45)[0] == 'held\n'
    assert time.monotonic() - began < 41


def test_a_live_run_holds_the_lock_to_the_bound_and_a_killed_one_lets_go_within_5_s(dash, cfg):
    holder = dash('lock && echo held && sleep 60', cfg)
    assert holder.stdout.readline() == 'held\n'
    began = time.monotonic()
    assert dash('LOCK_WAIT=2; lock', cfg).wait(10) == 1
    assert 1 <= time.monotonic() - began < 3.5
    holder.kill(), holder.wait()  # reaped, as sshd reaps a run's shell
    began = time.monotonic()
    assert dash('LOCK_WAIT=6; lock && unlock', cfg).wait(10) == 0
    assert time.monotonic() - began < 5


def test_the_next_script_of_the_same_run_takes_the_lock_over(dash, cfg):
    same, other = {'SSH_CONNECTION': '10.0.0.1 5000 10.0.0.2 22'}, {'SSH_CONNECTION': '10.0.0.3 6 7 22'}
    for pause in (0, 2):  # at once, and once its keeper is close to letting go
        assert dash('lock', cfg, env=same).wait(5) == 0  # ends holding the lock
        assert dash('adopt', cfg, env=other).wait(5) == 1
        time.sleep(pause)
        waiter = dash('LOCK_WAIT=20; lock && echo second; unlock', cfg)
        held = dash('adopt && sleep 3.5 && echo first; unlock', cfg, env=same)
        assert held.communicate(10)[0] == 'first\n' and waiter.communicate(20)[0] == 'second\n'
    assert dash('lock', cfg, env=same).wait(5) == 0
    # Past its grace (3 s; its ticks are slower on a loaded machine) the lock goes with its run.
    assert fx.wait_until(lambda: not os.path.exists(f'{cfg}/.bf2ctl.lock'), 15)
    assert dash('adopt', cfg, env=same).wait(5) == 1


@pytest.mark.parametrize('spelling, uid, result', [
    ('{f}', 0, 0), ('{d}//settings.con', 0, 0), ('{d}/./settings.con', 0, 0),
    ('{d}/../{b}/settings.con', 0, 0), ('{link}/settings.con', 0, 0), ('{d}/other.con', 0, 1),
    ('{d}/settings.co', 0, 1), ('{f}', 65534, 1)])  # 0: the account's; nobody's is not ours
def test_a_process_is_ours_by_its_uid_and_any_spelling_of_its_file(dash, cfg, account, spelling,
                                                                   uid, result):
    f = f'{cfg}/settings.con'
    open(f, 'w').close()
    os.symlink(cfg, f'{cfg}/link')
    word = spelling.format(f=f, d=cfg, b=os.path.basename(cfg), link=f'{cfg}/link')
    server = fx.sleeper(uid or account.name, '+config', word)
    try:
        assert dash(f'ours {server.pid} "$1/settings.con"', cfg).wait(5) == result
    finally:
        server.kill(), server.wait()


def test_a_linked_file_counts_by_its_text_alone_and_root_asks_for_the_directorys_owner(dash, cfg, account):
    f = f'{cfg}/settings.con'
    open(f, 'w').close()
    os.symlink(f, f'{cfg}/linked.con')  # the account's link to a file a process of root's names
    target, link, roots = ps = [fx.sleeper(who, '+config', word) for who, word in
                                ((account.name, f), (account.name, f'{cfg}/linked.con'), ('root', f))]
    try:
        for p, named, root, result in ((target, 'linked.con', False, 1), (link, 'linked.con', False, 0),
                                       (target, 'settings.con', True, 0), (roots, 'settings.con', True, 1)):
            assert dash(f'ours {p.pid} "$1/{named}"', cfg, root=root).wait(5) == result, (p.args, named, root)
    finally:
        [(p.kill(), p.wait()) for p in ps]


def test_a_recorded_start_time_must_be_the_processes(dash, cfg, account):
    os.symlink('/usr/bin/python3', f'{cfg}/a) 1 (b')  # a name of blanks and parentheses
    server = fx.sleeper(account.name, f'{cfg}/f', exe=f'{cfg}/a) 1 (b')
    start = open(f'/proc/{server.pid}/stat').read().rsplit(') ', 1)[1].split()[19]
    try:
        for recorded, result in ((None, 0), (start, 0), (str(int(start) + 1), 1), ('', 1)):
            recorded is None or open(f'{cfg}/start', 'w').write(recorded)
            assert dash(f'ours {server.pid} "$1/f" "$1/start"', cfg).wait(5) == result, recorded
    finally:
        server.kill(), server.wait()


def test_no_pid_is_ours_but_a_live_one_in_digits(dash, cfg):
    for pid in ('', '-1', '1 2', f'{os.getpid()}x', str(dead_pid())):
        assert dash(f'ours "$2" "{fx.BF2CTL}"', cfg, pid).wait(5) == 1, pid


@pytest.mark.parametrize('tree, other', [('a\n', 'a'), ('b[1]', 'b1'), ('c*', 'cx')])
def test_a_tree_is_in_use_by_a_process_of_the_account_working_in_it_and_no_other(dash, cfg, account,
                                                                                tree, other):
    """A line break ends the tree's name, a pattern in it would match the other's.  Asked through a
    link above it, by its physical path; asked as a link itself, it is none."""
    for name in (tree, other):
        os.makedirs(f'{cfg}/{name}/sub')
    os.symlink(cfg, f'{cfg}/up')
    os.symlink(f'{cfg}/{tree}', f'{cfg}/link')
    found = []
    for name in (other, tree):
        p = fx.sleeper(account.name, cwd=f'{cfg}/{name}/sub')
        found += [dash('tree_in_use "$2"', cfg, d).wait(5) for d in (f'{cfg}/up/{tree}', f'{cfg}/link')]
        p.kill(), p.wait()
    assert found == [1, 1, 0, 1]


@pytest.mark.parametrize('plant', [
    pytest.param(lambda p, victim: os.symlink(victim, p), id='symlink'),
    pytest.param(lambda p, victim: os.mkfifo(p), id='pipe')])
def test_write_new_replaces_what_is_planted_without_following_it(dash, cfg, account, plant):
    victim = f'{cfg}/victim'
    fx.sh(f'echo precious >{victim} && chown {account.name}: {victim}')  # a link followed would reach it
    plant(f'{cfg}/new', victim)
    assert dash('echo fresh | write_new "$1/new"', cfg).wait(5) == 0
    assert open(f'{cfg}/new').read() == 'fresh\n' and open(victim).read() == 'precious\n'


def test_the_exec_command_reader_runs_only_a_whole_command_and_leaves_its_input_whole():
    """sh/read_command.sh: a command cut short (its connection lost) never runs, however it ends."""
    cmd = b'echo ran; cat\n\n'
    reader = f'bf2ctl_command={len(cmd)}\n' + open(f'{SH}/read_command.sh').read()
    for sent, out in [(cmd + b'x\nin\nput', b'ran\nin\nput'), (cmd + b'x', b''), (cmd[:9], b'')]:
        assert subprocess.run(['dash', '-c', reader], input=sent, capture_output=True).stdout == out, sent
