"""Every run ends: at its bound, on a signal, against an account that makes
its own files hang, and its remote work ends with it."""
import glob
import os
import resource
import signal
import threading
import time

import pytest

import fixture as fx


def processes(login):
    """The account's live processes: their command lines, blank-separated."""
    ps = fx.sh(f'ps -u {login} -o stat=,args=', check=False).stdout.splitlines()
    return {line[line.index(' '):].strip() for line in ps if not line.startswith('Z')}


def swap_pipe_and_file(path, stop):
    while not stop.is_set():
        for make in (os.mkfifo, lambda p: open(p, 'w').write('x\n')):
            os.path.lexists(path) and os.remove(path)
            make(path)


# Each ends in time with one line: a sleeping ~/.ssh/rc, a sparse terabyte
# pid file read as a pid, a log swapped between a pipe and a file.
@pytest.mark.parametrize('plant, args, results', [
    ('rc', ['--status'], {('Timed out after 3 s\n', '', 1)}),
    ('rc', ['--json', '--status'], {('{"ok":false,"error":"timeout","message":"Timed out after 3 s","phase":"run"}\n', '', 1)}),
    ('sparse pid', ['--status'], {('stopped\n', '', 0)}),
    ('swapped log', ['--log'], {('x\n', '', 0), ('', '', 0), ('Timed out after 3 s\n', '', 1)})])
def test_a_hostile_account_cannot_hold_a_run_past_its_bound(server, host, plant, args, results):
    s, before, stop = server(), processes(host.login), threading.Event()
    if plant == 'rc':
        os.makedirs(f'{host.home}/.ssh', exist_ok=True)
        open(f'{host.home}/.ssh/rc', 'w').write('sleep 30\n')
    elif plant == 'sparse pid':
        open(f'{s.cfg}/server.pid', 'w').truncate(1 << 40)
    else:
        threading.Thread(target=swap_pipe_and_file, args=(f'{s.cfg}/srderr.log', stop)).start()
        results.add((f'Not a regular file: {s.cfg}/srderr.log\n', '', 1))
    try:
        for _ in range(3 if plant == 'swapped log' else 1):
            began = time.monotonic()
            assert s.host.run(*args, f'--cfg-dir={s.cfg}', '--timeout=3', timeout=20) in results
            assert time.monotonic() - began < 8
    finally:
        stop.set()
        fx.sh(f'rm -f {host.home}/.ssh/rc')
    # What the runs started ends with them; the account's rc stays, and
    # sshd's process of the connection with it.
    left = lambda: {c for c in processes(host.login) - before if not  # noqa: E731
                    (c.startswith('sshd:') or '.ssh/rc' in c or c == 'sleep 30')}
    assert fx.wait_until(lambda: not left(), 5), left()


# The system's scp, first in the scripts' PATH, gone bad: it speaks no SCP
# and stalls, stalls mid-file, announces a size that is none, fails before
# it starts, refuses, or fails midway.  Each run ends at its bound (a fetch's
# 30 s until the file is announced) or at once with its line, costs little
# CPU, and leaves no temporary file.
X, STALL = 'printf X; exec sleep 60', "printf 'C0644 100 f\\n12345'; exec sleep 60"
TERM = ['timeout', '--preserve-status', '-s', 'TERM', '2']


@pytest.mark.parametrize('scp, args, via, line, seconds', [
    (X, ['--timeout=3'], [], 'Timed out after 3 s', 3), (X, [], [], 'Timed out after 30 s', 30),
    (X, [], TERM, 'Interrupted by signal TERM', 2), (STALL, ['--timeout=3'], [], 'Timed out after 3 s', 3),
    (STALL, [], TERM, 'Interrupted by signal TERM', 2),
    *[(f"printf 'C0644 {size} f\\n'; exec sleep 60", [], [], 'Failed to copy content: bad file size from the '
       'remote scp', 0) for size in ('-5', '1x', '9' * 19)],
    ("echo 'scp: broken' >&2; exit 1", [], [], 'Unable to open the scp channel: scp: broken', 0),
    ("printf '\\001scp: refused\\n'", [], [], 'Unable to open the scp channel: scp: refused', 0),
    ("printf 'C0644 2 f\\nab\\002scp: lost\\n'", [], [], 'Failed to copy content: scp: lost', 0)])
def test_a_hostile_scp_ends_a_fetch_in_time_with_its_line(fake_tools, tmp_path, scp, args, via, line, seconds):
    fake_tools.tool('scp', scp)
    began, cpu = time.monotonic(), sum(resource.getrusage(resource.RUSAGE_CHILDREN)[:2])
    r = fake_tools.run('--fetch-file', '--from=/etc/services', f'--to={tmp_path}/got', *args, via=via, timeout=60)
    assert r == (line + '\n', '', 1) and os.listdir(tmp_path) == []
    assert seconds <= time.monotonic() - began < seconds + 2.5
    assert sum(resource.getrusage(resource.RUSAGE_CHILDREN)[:2]) - cpu < 1


def test_a_signal_ends_the_run_and_its_remote_work(host, tmp_path):
    remote = host.mkdir(f'{host.home}/interrupted')
    fx.sh(f'head -c 300000000 /dev/zero > {tmp_path}/big && echo old > {remote}/f')
    before, line = processes(host.login), 'Interrupted by signal TERM\n'
    for args, started, printed in [
            (['--copy-file', f'--from={tmp_path}/big', f'--to={remote}/f'],
             lambda: glob.glob(f'{remote}/.bf2ctl-upload.*/file'), line),
            (['--exec', '--cmd=sleep 60'], lambda: 'sleep 60' in processes(host.login), line),
            (['--json', '--exec', '--cmd=sleep 61'], lambda: 'sleep 61' in processes(host.login),
             '{"ok":false,"error":"interrupted","message":"Interrupted by signal TERM"}\n')]:
        run = host.start(*args)
        assert fx.wait_until(started, 30), fx.finish(run, 15)  # how the run ended, or its stack
        run.send_signal(signal.SIGTERM)
        assert fx.finish(run, 15) == (printed, '', 1)
    assert os.listdir(remote) == ['f'] and open(f'{remote}/f').read() == 'old\n'
    assert fx.wait_until(lambda: processes(host.login) <= before, 5), processes(host.login)


def test_no_program_of_the_accounts_path_runs_in_a_run(server, host):
    """The account puts programs of its own first in PATH: a run's scripts
    still run the system's."""
    s, evil = server(), host.mkdir(f'{host.home}/evil')
    for tool in ('sh', 'awk', 'dd', 'cat', 'rm', 'mkdir', 'sleep', 'nohup', 'tr', 'id', 'scp', 'uname'):
        open(f'{evil}/{tool}', 'w').write(f'#!/bin/sh\necho "$0" >>{evil}/ran\nPATH=/usr/bin:/bin exec {tool} "$@"\n')
        os.chmod(f'{evil}/{tool}', 0o755)
    open(f'{host.home}/.pam_environment', 'w').write(f'PATH={evil}:/usr/bin:/bin\n')
    try:
        # exec's command is the caller's, with the account's PATH; its
        # watchdog is bf2ctl's.
        assert host.run('--exec', '--cmd=echo $PATH; /bin/sleep 1') == (f'{evil}:/usr/bin:/bin\n\n0\n', '', 0)
        assert s.start() == ('', '', 0)
        assert s.status()[0].startswith('running\n')
        assert s.stop() == ('', '', 0)
        assert host.run('--fetch-file', '--from=/etc/services', f'--to={evil}/got') == ('', '', 0)
        assert open(f'{evil}/got').read() == open('/etc/services').read()
        assert (host.run('--check-host').out, host.run('--check-on-root').out) == ('suitable\n', 'not root\n')
    finally:
        os.remove(f'{host.home}/.pam_environment')
    assert not os.path.exists(f'{evil}/ran'), open(f'{evil}/ran').read()


@pytest.mark.parametrize('json, printed', [
    (['--json'], b'{"ok":true,"status":0,"stdout":"","stderr":"' + b'e' * 1000000 + b'"}\n'),
    ([], b'e' * 1000000 + b'\n0\n')], ids=['json', 'text'])  # text: the error text and status
def test_a_result_once_begun_comes_whole_past_the_bound_and_a_signal(host, json, printed):
    # The caller takes the first byte within the 3 s bound, a SIGTERM comes,
    # and it reads nothing more for 9 s: past the alarm of the bound (6 s)
    # and of the signal (8 s).
    with host.start('--exec', '--timeout=3', *json, "--cmd=head -c 1000000 /dev/zero | tr '\\000' e >&2") as run:
        first = run.stdout.read(1)
        run.send_signal(signal.SIGTERM)
        time.sleep(9)
        assert (first + run.stdout.read(), run.wait(5)) == (printed, 0)


def test_a_caller_that_stops_reading_the_result_ends_the_run_in_30_s(host):
    # The pipe stays open and unread until the with ends.
    with host.start('--exec', '--json', "--cmd=head -c 1000000 /dev/zero | tr '\\000' e >&2") as run:
        began = time.monotonic()
        assert run.wait(40) == 1 and 30 <= time.monotonic() - began < 35
        out = run.stdout.read()  # what the pipe took, and nothing after it
    assert out.startswith(b'{"ok":true,"status":0,"stdout":"","stderr":"e') and out.strip(b'e').endswith(b'"stderr":"')


def test_a_caller_that_stops_reading_streamed_output_cannot_hold_the_run(host):
    # The pipe fills with output while the command runs; the bound's own line cannot go out.
    with host.start('--exec', '--timeout=3', '--cmd=head -c 1000000 /dev/zero; sleep 30') as run:
        assert run.wait(15) == 1


def test_a_flood_of_error_text_past_the_bound_still_gives_one_json_object(host):
    # The account's ~/.ssh/rc writes 450 MB to standard error.  Whether the bound
    # ends the run first or not, the temporary files stay within the default cap.
    os.makedirs(f'{host.home}/.ssh', exist_ok=True)
    open(rc := f'{host.home}/.ssh/rc', 'w').write("head -c 450000000 /dev/zero | tr '\\000' e >&2\n")
    limit = fx.file_size_limit((64 << 20) + 4096)
    try:
        obj, _ = host.json('--timeout=3', '--exec', '--cmd=true', preexec_fn=limit)
    finally:
        os.remove(rc)
    assert obj == {'ok': False, 'error': 'timeout', 'message': 'Timed out after 3 s', 'phase': 'run'} or (
        obj.get('stderr_dropped'), len(obj.get('stderr', ''))) == (450000000 - (64 << 20), 64 << 20), obj.keys()
