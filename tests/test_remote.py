"""The SSH layer and what is built right on it: exec, host checks, copy-file."""
import glob
import hashlib
import os
import re
import resource
import signal
import subprocess
import time
import uuid

import pytest

import fixture as fx


def test_each_session_failure_is_reported_on_its_real_cause(host):
    # Nothing listening and no password method are test_network's and test_driver's.
    def check_host(address, password=host.account.password):
        return fx.Host(host.sshd, host.account, address).run('--check-host', password=password)
    listener = fx.Listener(fx.address(3), fx.PORT, b'HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n')
    assert check_host('no-such-host.invalid') == ('Failed to get network host entry\n', '', 1)
    assert check_host(fx.address(3, fx.PORT)) == ('Failure establishing SSH session\n', '', 1)
    assert check_host(host.address, 'wrong password') == ('Authentication failed\n', '', 1)
    listener.stop()


@pytest.mark.parametrize('form', ['line', 'file'])
@pytest.mark.parametrize('cmd, printed', [
    ('printf abc', 'abc\n0\n'),
    ("printf 'abc\\n'; exit 3", 'abc\n\n3\n'),
    ('true', '\n0\n'),
    ('exit 255', '\n255\n'),
    ('echo out; echo err >&2; exit 2', 'out\nerr\n\n2\n'),
    ('echo 5 >&2', '5\n\n0\n'),  # standard error is never searched for a status
    ("printf 'a\\000b\\n'", 'a\0b\n\n0\n'),
    # The shell that prints the status is killed after a line of the status's form.
    ("printf '\\n5\\n'; kill -9 $$", '\n5\n\n-1\n'),
    # Any last line: a comment, a here-document (quotes in it unbalanced), a continued line.
    ('echo hi # note', 'hi\n\n0\n'),
    ('echo hi\n# note', 'hi\n\n0\n'),
    ('cat <<E\nx', 'x\n0\n'),  # an open here-document ends with the text, as in dash
    ('echo a \\', 'a \\\n\n0\n'),  # a backslash ending the text stays one
    (')', 'sh: 1: eval: Syntax error: ")" unexpected\n\n2\n'),  # dash's own complaint, naming eval
    ("cat <<'E'; exit 4\nit's \"odd\nE", 'it\'s "odd\n\n4\n'),
    ('cat <<E\n$((6 * 7))\nE\n', '42\n\n0\n'),
    ('echo a \\\n', 'a\n\n0\n'),
    ("printf '%s|' \"a'b\" '\udcff\x01~\t'\n\n\n", "a'b|\udcff\x01~\t|\n0\n"),
])
def test_exec_prints_output_and_status_exactly(host, tmp_path, form, cmd, printed):
    (tmp_path / 'cmd').write_bytes(os.fsencode(cmd))  # a command file runs as the line does
    assert host.run('--exec', f'--cmd={cmd}' if form == 'line' else f'--cmd-file={tmp_path}/cmd') == (printed, '', 0)


def test_exec_streams_output_of_any_size_in_bounded_memory(host):
    # 4 GiB of output under a 256 MiB address space, counted as it comes.
    # The sanitizer build needs terabytes of address space: there the
    # allocator's cap stands in for the limit.
    asan = b'__asan_init' in open(fx.BF2CTL, 'rb').read()
    p = host.start('--exec', '--cmd=head -c 4G /dev/zero; echo err >&2',
                   env={'ASAN_OPTIONS': 'max_allocation_size_mb=16'},
                   preexec_fn=None if asan else lambda: resource.setrlimit(resource.RLIMIT_AS, (256 << 20,) * 2))
    count, last = 0, b''
    while chunk := p.stdout.read(1 << 20):
        count, last = count + len(chunk), (last + chunk)[-16:]
    assert (count, last, p.stderr.read(), p.wait()) == ((4 << 30) + 7, b'\0\0\0\0\0\0\0\0\0err\n\n0\n', b'', 0)


def test_memory_running_out_is_an_undefined_error_with_status_255(fake_tools):
    # The most a run keeps is a script's first 4 MiB of output (here uname's
    # for check-host).  Once the command runs, the address space is limited
    # to a little above what the run has.  The sanitizer build needs
    # terabytes of it: there the allocator's cap stands in for the limit.
    fake_tools.tool('uname', 'sleep 1; head -c 10000000 /dev/zero')
    asan = b'__asan_init' in open(fx.BF2CTL, 'rb').read()
    p = fake_tools.start('--check-host', env={'ASAN_OPTIONS': 'max_allocation_size_mb=1'})
    if not asan:
        assert fx.wait_until(lambda: fx.sh(f'pgrep -u {fake_tools.login} -f /usr/local/bin/uname', check=False).returncode == 0)
        size = next(int(line.split()[1]) for line in open(f'/proc/{p.pid}/status') if line.startswith('VmSize'))
        resource.prlimit(p.pid, resource.RLIMIT_AS, (((size + 512) << 10),) * 2)
    out, err = p.communicate(timeout=60)
    if asan:
        assert out == b'' and b'allocation-size-too-big' in err and p.returncode != 0, (out, err)
    else:
        assert (out, err, p.returncode) == (b'Undefined error\n', b'', 255)


def test_exec_moves_input_and_output_of_any_size_whole_and_never_stalls(host):
    # Far above the ~32 KB that one libssh2 write takes.
    big = ''.join('\n' if i % 71 == 0 else 'x' for i in range(100000))
    assert host.run('--exec', '--cmd=cat', f'--input={big}').out == big + '\n0\n'
    # Reading one stream to its end first would deadlock once the other fills the 2 MB window.
    r = host.run('--exec', "--cmd=head -c 3000000 /dev/zero | tr '\\000' e >&2;"
                 " head -c 3000000 /dev/zero | tr '\\000' o", timeout=60)
    assert r.out == 'o' * 3000000 + 'e' * 3000000 + '\n0\n'


def test_exec_keeps_on_disk_at_most_max_output_bytes_of_each_stream_it_holds(host):
    # The account's ~/.ssh/rc floods standard error ahead of every command;
    # a temporary file longer than the default cap could not be written.
    flood, cap = (64 << 20) + 3, 1000000
    os.makedirs(f'{host.home}/.ssh', exist_ok=True)
    open(rc := f'{host.home}/.ssh/rc', 'w').write(f"head -c {flood} /dev/zero | tr '\\000' e >&2\n")
    limit = fx.file_size_limit((64 << 20) + 4096)
    cmd = f"--cmd=head -c {cap + 5} /dev/zero | tr '\\000' o; printf x >&2"
    try:
        # Text mode passes the output on whole and keeps the start of the error text.
        assert host.run('--exec', f'--max-output={cap}', cmd, preexec_fn=limit) == (
            'o' * (cap + 5) + 'e' * cap + '\n0\n', '', 0)
        assert host.json('--exec', f'--max-output={cap}', cmd, preexec_fn=limit) == (
            {'ok': True, 'status': 0, 'stdout': 'o' * cap, 'stderr': 'e' * cap, 'stdout_dropped': 5,
             'stderr_dropped': flood + 1 - cap}, 0)
        obj, _ = host.json('--exec', cmd, preexec_fn=limit)
        assert (obj['stdout'], obj['stderr'], obj['stderr_dropped']) == ('o' * (cap + 5), 'e' * (64 << 20), 4)
    finally:
        os.remove(rc)


def test_exec_takes_command_and_input_from_files_of_any_size(host, tmp_path):
    # A command beyond the 128 KiB of a command line, whose last line breaks end a here-document;
    # input of any bytes and no final newline.
    (tmp_path / 'in').write_bytes(data := os.urandom(5 << 20) + b'z')
    (tmp_path / 'cmd').write_text('v=' + 'x' * (200 << 10) + '\nprintf "%s " ${#v}; md5sum; cat <<E\n\'q"\n\n')
    cmd, input = f'--cmd-file={tmp_path}/cmd', f'--input-file={tmp_path}/in'
    os.mkfifo(fifo := tmp_path / 'fifo')
    md5 = lambda b: hashlib.md5(b).hexdigest() + '  -\n\'q"\n\n\n0\n'  # noqa: E731
    line = r'--cmd=md5sum; printf "\047q\042\n\n"'
    for args, printed in [([cmd, input], '204800 ' + md5(data)), ([line, input], md5(data)),
                          ([cmd, '--input=ab'], '204800 ' + md5(b'ab')), ([cmd], '204800 ' + md5(b'')),
                          ([cmd, f'--input-file={fifo}'], '204800 ' + md5(b''))]:  # no writer: nothing to wait for
        assert host.run('--exec', *args, timeout=60) == (printed, '', 0)


@pytest.mark.parametrize('uname, printed', [
    ("echo 'Linux box 6.1.0 #1 SMP x86_64 GNU/Linux'", 'suitable\n'),
    ("echo 'Linux box 2.6.32 i686 GNU/Linux'", 'suitable\n'),
    ("echo 'Linux pi 6.1.0 aarch64 GNU/Linux'", 'unsuitable\nuname: Linux pi 6.1.0 aarch64 GNU/Linux\n'),
    ("echo 'FreeBSD bsd 13.2-RELEASE i686'", 'unsuitable\nuname: FreeBSD bsd 13.2-RELEASE i686\n'),
    ("echo 'uname: not found' >&2; exit 127", 'unsuitable\nuname: \n'),
    (r"printf 'Linux\nsuitable\033[2J\n'", 'unsuitable\nuname: Linux\\x0asuitable\\x1b[2J\n'),  # one line, escaped
    ("echo 'Linux box x86_64'; exit 1", 'unsuitable\nuname: Linux box x86_64\n'),
])
def test_check_host_follows_uname(fake_tools, uname, printed):
    fake_tools.tool('uname', uname)
    assert fake_tools.run('--check-host') == (printed, '', 0)


@pytest.mark.parametrize('id, expected', [
    ('echo 0', ('root\n', '', 0)), ('printf 0', ('root\n', '', 0)), ("printf '0\\r\\n'", ('not root\n', '', 0)),
    ('echo 1000', ('not root\n', '', 0)),
    ("echo 'id: cannot find name' >&2; exit 1", ("Execute 'id' failed: id: cannot find name\n", '', 1)),
    # An error text is kept to its first 64 KiB.
    ("head -c 100000 /dev/zero | tr '\\000' e >&2; exit 1", ("Execute 'id' failed: " + 'e' * 65536 + '\n', '', 1))])
def test_check_on_root_is_only_an_exact_zero(fake_tools, id, expected):
    fake_tools.tool('id', id)
    assert fake_tools.run('--check-on-root') == expected


@pytest.fixture
def uploads(host, tmp_path):  # remote, local; the remote one the test's own: workers share the account
    remote = host.mkdir(f'{host.home}/uploads-{uuid.uuid4().hex[:8]}')
    yield remote, str(tmp_path)
    fx.sh(f'rm -rf {remote}')


RANGED = 32 << 20  # from this size up, a copy-file sends 4 byte ranges, one to a channel


def sessions(sshd):
    return open(f'{sshd.dir}/sshd.log').read().count('Starting session:')


@pytest.mark.parametrize('size, channels', [(0, 1), (1, 1), (2001, 1), (RANGED - 1, 1), (RANGED, 4),
                                            (RANGED + 1, 4), (64 << 20, 4), (64 << 20, 2), (RANGED, 1)])
def test_copy_file_sends_files_of_every_size_whole(host, uploads, size, channels):
    # Over as many channels as the server grants (MaxSessions), at least one.
    remote, local = uploads
    src, to = f'{local}/src', f"{remote}/file with 'quote'"
    fx.sh(f'head -c {size} /dev/urandom > {src} && chmod 755 {src}')
    sshd = fx.Sshd(fx.address(15, fx.PORT), extra=f'MaxSessions {channels}\n')
    try:
        assert fx.Host(sshd, host.account).run('--copy-file', f'--from={src}', f'--to={to}', timeout=300) == fx.OK
        assert sessions(sshd) == channels
    finally:
        sshd.stop()
    assert open(src, 'rb').read() == open(to, 'rb').read()
    assert oct(os.stat(to).st_mode & 0o7777) == '0o640'
    assert os.listdir(remote) == [os.path.basename(to)]  # no upload directory left


@pytest.mark.parametrize('change', ['shrinks', 'grows'])
def test_copy_file_sends_the_size_the_file_had_when_it_began(host, uploads, change):
    remote, local = uploads
    size = 300000000
    fx.sh(f'head -c {size} /dev/zero > {local}/src && echo old > {remote}/f')
    p = host.start('--copy-file', f'--from={local}/src', f'--to={remote}/f')
    assert fx.wait_until(lambda: any(os.path.getsize(f) > 1000000 for f in glob.glob(f'{remote}/.bf2ctl-upload.*/file')))
    if change == 'shrinks':
        os.truncate(f'{local}/src', 1000)
        assert fx.finish(p, 60) == (f'Failed to read from the file {local}/src\n', '', 1)
        assert open(f'{remote}/f').read() == 'old\n'
    else:
        open(f'{local}/src', 'ab').write(b'x' * 1000)
        assert fx.finish(p, 60) == fx.OK
        assert os.path.getsize(f'{remote}/f') == size and open(f'{remote}/f', 'rb').read().count(b'x') == 0


def test_copy_file_renames_only_once_every_range_is_whole(host, uploads):
    # The first range is whole and the last stalls, then dies: the target stays.
    remote, local = uploads
    fx.sh(f'head -c {64 << 20} /dev/urandom > {local}/src && echo old > {remote}/f')
    p = host.start('--copy-file', f'--from={local}/src', f'--to={remote}/f')
    writer = lambda offset: fx.processes_with(f'seek={offset}\0')  # noqa: E731
    assert fx.wait_until(lambda: writer(48 << 20), 60)
    last = int(writer(48 << 20)[0])
    os.kill(last, signal.SIGSTOP)
    assert fx.wait_until(lambda: not writer(0), 60)
    os.kill(last, signal.SIGKILL)
    assert fx.finish(p, 60) == ('Failed to copy content: Killed\n', '', 1)
    assert open(f'{remote}/f').read() == 'old\n' and os.listdir(remote) == ['f']


# copy-file: 512 new keys in 2 s, or 25 s when each waited on the kernel's
# timer.  fetch-file: 32 new keys while its window is open.
@pytest.mark.parametrize('command, rekey, seconds', [('--copy-file', '64K', 12), ('--fetch-file', '1M', 30)])
def test_transfers_go_on_at_once_after_each_new_key(host, uploads, command, rekey, seconds):
    remote, local = uploads
    src, dst = (f'{local}/src', f'{remote}/f')[::1 if command == '--copy-file' else -1]
    sshd = fx.Sshd(fx.address(14, fx.PORT), extra=f'RekeyLimit {rekey}\n')
    try:
        fx.sh(f'head -c {32 << 20} /dev/urandom > {src}')
        # libssh2 1.10 leaks the server's key blob at each: no leak check.
        r = fx.Host(sshd, host.account).run(command, f'--timeout={seconds}', f'--from={src}', f'--to={dst}',
                                            env={'ASAN_OPTIONS': 'detect_leaks=0'})
        assert r == ('', '', 0)
        assert open(dst, 'rb').read() == open(src, 'rb').read()
    finally:
        sshd.stop()


def test_copy_file_uploads_beside_a_target_whose_directory_ends_in_a_line_break(host, uploads):
    remote, local = uploads
    fx.sh(f"mkdir '{remote}/d\n' && chown {host.login} '{remote}/d\n' && echo new > {local}/src")
    assert host.run('--copy-file', f'--from={local}/src', f'--to={remote}/d\n/f') == ('', '', 0)
    assert open(f'{remote}/d\n/f').read() == 'new\n' and os.listdir(remote) == ['d\n']



@pytest.mark.parametrize('size', [0, 1, (2 << 20) + 1, (8 << 20) + 1, 64 << 20])  # the windows
def test_fetch_file_brings_files_of_every_size_whole(host, uploads, size):
    # Up to --max-size, into a name of the most bytes a name may have.
    remote, local = uploads
    src, name = f"{remote}/file with 'quote'", 'g' * 255
    fx.sh(f'head -c {size} /dev/urandom > {fx.q(src)} && echo old > {local}/{name} && chmod 644 {local}/{name}')
    assert host.run('--fetch-file', f'--from={src}', f'--to={local}/{name}', f'--max-size={size or 1}',
                    timeout=300) == ('', '', 0)
    digest = lambda p: hashlib.sha256(open(p, 'rb').read()).digest()  # noqa: E731
    assert digest(src) == digest(f'{local}/{name}') and oct(os.stat(f'{local}/{name}').st_mode & 0o7777) == '0o600'
    assert os.listdir(local) == [name]  # no temporary file left


@pytest.mark.parametrize('who, source, target, line', [
    ('host', 'fifo', 'got', 'Not a regular remote file: {r}/fifo'),
    ('host', '/dev/zero', 'got', 'Not a regular remote file: /dev/zero'),
    ('host', 'none', 'got', 'No such remote file: {r}/none'),
    ('host', 'secret', 'got', "Unable to open the remote file {r}/secret: dd: failed to open '{r}/secret': Permission denied"),
    ('host', 'src', 'got --max-size=3', 'Remote file {r}/src is larger than 3 bytes'),
    ('host', 'src', 'no/got', 'Local directory missing or not writable: {l}/no'),
    ('host', 'src', '../got', 'Directry/file must be set absolute pathname'),
    ('root', 'src', 'got', "Not for root: log in as the game server's account")])
def test_fetch_file_refuses_quickly_and_keeps_the_old_file(request, uploads, who, source, target, line):
    remote, local = uploads
    os.mkfifo(f'{remote}/fifo'), fx.sh(f'echo new > {remote}/src && echo old > {local}/got')
    fx.sh(f'install -m 0 /dev/null {remote}/secret')
    target, *more = target.split()
    to = target if target.startswith('.') else f'{local}/{target}'
    r = request.getfixturevalue(who).run('--fetch-file', f'--from={os.path.join(remote, source)}', f'--to={to}',
                                          *more, timeout=20)
    assert r == (line.format(r=remote, l=local) + '\n', '', 1) and os.listdir(local) == ['got']
    assert open(f'{local}/got').read() == 'old\n'


@pytest.mark.parametrize('how, out, temps', [(signal.SIGTERM, b'Interrupted by signal TERM\n', 0),
                                              (signal.SIGKILL, b'', 1), ('stall', b'Timed out after 4 s\n', 0)])
def test_fetch_file_ended_midway_keeps_the_old_file(host, uploads, how, out, temps):
    remote, local = uploads
    fx.sh(f'head -c 300000000 /dev/zero > {remote}/big && echo old > {local}/got')
    p = host.start('--fetch-file', f'--from={remote}/big', f'--to={local}/got', *['--timeout=4'][:how == 'stall'])
    temp = lambda: [os.path.getsize(f) for f in glob.glob(f'{local}/.got.bf2ctl-*')]  # noqa: E731
    assert fx.wait_until(lambda: any(n > 1000000 for n in temp()), 60)
    # A stalled sender: the remote scp stopped.
    fx.sh(f'pkill -STOP -u {host.login} -x scp') if how == 'stall' else p.send_signal(how)
    assert p.communicate(timeout=10)[0] == out and len(temp()) == temps
    fx.sh(f'pkill -KILL -u {host.login} -x scp', check=False)
    assert open(f'{local}/got').read() == 'old\n'


def test_fetch_file_opens_a_wide_window_on_a_long_link(host, uploads):
    # At a 100 ms round trip the window starts at 8 MiB, not libssh2's 2:
    # with bf2ctl held still, the remote scp has read that far beyond what
    # bf2ctl wrote, but for what was read since the last top-up (an eighth).
    # The server asks for new keys every MiB meanwhile.
    remote, local = uploads
    fx.sh(f'head -c {64 << 20} /dev/urandom > {remote}/big')
    sshd = fx.Sshd(fx.address(17, fx.PORT), extra='RekeyLimit 1M\n')
    proxy = subprocess.Popen(['/usr/bin/python3', f'{os.path.dirname(__file__)}/../bench/delay_proxy.py',
                              fx.address(16), fx.address(17), str(fx.PORT), '0.05', str(16 << 19)])
    try:
        assert fx.wait_until(lambda: fx.shows_banner(fx.address(16), fx.PORT), 10)
        # libssh2 1.10 leaks the server's key blob at each new key: no leak check.
        p = fx.Host(sshd, host.account, fx.address(16, fx.PORT)).start(
            '--fetch-file', f'--from={remote}/big', f'--to={local}/got', env={'ASAN_OPTIONS': 'detect_leaks=0'})
        temp = lambda: glob.glob(f'{local}/.got.bf2ctl-*')  # noqa: E731
        assert fx.wait_until(lambda: temp() and os.path.getsize(temp()[0]) > 1 << 20, 60)
        p.send_signal(signal.SIGSTOP)
        scp = [f'/proc/{pid}/io' for pid in fx.processes_with('scp\0-f\0/dev/fd/3')
               if os.stat(f'/proc/{pid}').st_uid == os.stat(host.home).st_uid]
        read, last = lambda: int(open(scp[0]).read().split()[1]), -1  # noqa: E731
        while (now := read()) != last:
            last = time.sleep(1) or now
        assert last - os.path.getsize(temp()[0]) >= 6 << 20
        p.send_signal(signal.SIGCONT)
        assert fx.finish(p, 120) == fx.OK and open(f'{local}/got', 'rb').read() == open(f'{remote}/big', 'rb').read()
    finally:
        proxy.kill(), proxy.wait(), sshd.stop()


@pytest.mark.parametrize('source', ['none', '.', 'fifo', '/dev/zero', '/dev/null'])
def test_copy_file_refuses_a_source_that_is_no_regular_file(host, uploads, source):
    remote, local = uploads
    os.mkfifo(f'{local}/fifo')
    path = os.path.join(local, source)
    fx.sh(f'echo old > {remote}/target')
    line = 'Unable to define file size' if source == 'none' else f'Not a regular file: {path}'
    assert host.run('--copy-file', f'--from={path}', f'--to={remote}/target') == (line + '\n', '', 1)
    assert open(f'{remote}/target').read() == 'old\n'


def test_copy_file_replaces_what_is_planted_at_the_target_without_following_it(host, uploads):
    remote, local = uploads
    fx.sh(f'echo new > {local}/src && echo victim > {local}/victim && chmod 666 {local}/victim')
    os.symlink(f'{local}/victim', f'{remote}/link')
    os.symlink(host.mkdir(f'{remote}/dir'), f'{remote}/dirlink')
    os.mkfifo(f'{remote}/fifo')
    for name in ('link', 'dirlink', 'fifo'):
        assert host.run('--copy-file', f'--from={local}/src', f'--to={remote}/{name}',
                        timeout=30) == ('', '', 0)
        assert open(f'{remote}/{name}').read() == 'new\n' and not os.path.islink(f'{remote}/{name}')
    assert open(f'{local}/victim').read() == 'victim\n' and os.listdir(f'{remote}/dir') == []
    # A real directory is no file to replace.
    assert host.run('--copy-file', f'--from={local}/src', f'--to={remote}/dir') == (
        f'Unable to open the scp channel: {remote}/dir: Is a directory\n', '', 1)
    assert sorted(os.listdir(remote)) == ['dir', 'dirlink', 'fifo', 'link']  # no upload directory left


def test_copy_file_failures_leave_the_old_target(host, uploads):
    remote, local = uploads
    fx.sh(f'head -c 100000 /dev/zero > {local}/src && head -c {RANGED} /dev/zero > {local}/big')
    for src in ('src', 'big'):
        assert host.run('--copy-file', f'--from={local}/{src}', f'--to={remote}/no/dir/f') == (
            'Unable to open the scp channel: mktemp: failed to create directory via template '
            f'‘{remote}/no/dir/.bf2ctl-upload.XXXXXX’: No such file or directory\n', '', 1)
    # A full disk: the remote side's own complaint, whichever range meets
    # it, and the target as it was.
    full = host.mkdir(f'{remote}/full')
    fx.sh(f'mount -t tmpfs -o size=64k tmpfs {full} && chown {host.login} {full} && echo old > {full}/f')
    try:
        for src, said in ((f'{local}/big', "dd: error writing '{}'"), (f'{local}/src', 'scp: {}')):
            r = host.run('--copy-file', f'--from={src}', f'--to={full}/f')
            assert re.fullmatch('Failed to copy content: ' + said.format(f'{full}/.bf2ctl-upload.\\w{{6}}/file')
                                + ': No space left on device\n', r.out) and r[1:] == ('', 1), r
            assert os.listdir(full) == ['f'] and open(f'{full}/f').read() == 'old\n'
    finally:
        fx.sh(f'umount {full}')
    # A target the account may not replace (someone else's, in a sticky
    # directory): the rename fails and the upload goes with it.
    sticky = host.mkdir(f'{remote}/sticky')
    fx.sh(f'chown root {sticky} && chmod 1777 {sticky} && echo old > {sticky}/f')
    r = host.run('--copy-file', f'--from={local}/src', f'--to={sticky}/f')
    assert re.fullmatch(f"Failed to copy content: mv: cannot move '{sticky}/.bf2ctl-upload.\\w{{6}}/file' "
                        f"to '{sticky}/f': Operation not permitted\n", r.out) and r[1:] == ('', 1), r
    assert os.listdir(sticky) == ['f'] and open(f'{sticky}/f').read() == 'old\n'
    # Killed midway: the target is the old file whole.  Its upload directory
    # stays while it is young, and goes with the next copy-file into the
    # directory once nothing in it changed for 10 minutes and no process
    # of the account's names it.  A live upload (stopped midway, as old) stays.
    fx.sh(f'head -c 300000000 /dev/zero > {local}/big && echo old > {remote}/f')
    dirs = lambda: set(glob.glob(f'{remote}/.bf2ctl-upload.*'))  # noqa: E731

    def upload(name):
        before = dirs()
        p = host.start('--copy-file', f'--from={local}/big', f'--to={remote}/{name}')
        assert fx.wait_until(lambda: any(os.path.getsize(f) > 1000000 for f in
                                         glob.glob(f'{remote}/.bf2ctl-upload.*/file') if f[:-5] not in before), 60)
        return p, (dirs() - before).pop()
    killed, leftover = upload('f')
    # Its remote side killed outright, the shells first, so nothing cleans up.
    writers = fx.sh(f'pgrep -u {host.login} -f {leftover[-6:]}').stdout.split()
    shells = [open(f'/proc/{pid}/stat').read().rsplit(')', 1)[1].split()[1] for pid in writers]
    fx.sh(f'kill -KILL {" ".join(shells + writers)}', check=False)  # a shell's end may take its dd
    killed.kill(), killed.wait()
    assert open(f'{remote}/f').read() == 'old\n'
    live, live_dir = upload('g')
    os.kill(live.pid, signal.SIGSTOP)
    assert fx.wait_until(lambda: fx.sh(f'pgrep -u {host.login} -f {leftover[-6:]}', check=False).returncode)
    copy_small = ['--copy-file', f'--from={local}/src', f'--to={remote}/h']
    assert host.run(*copy_small) == ('', '', 0) and dirs() == {leftover, live_dir}
    named = host.mkdir(f'{remote}/.bf2ctl-upload.xYz123')
    neighbour = fx.sleeper(65534, f'{named}/file')  # another account's process names it
    for path in (leftover, f'{leftover}/file', live_dir, f'{live_dir}/file', named):
        os.utime(path, (time.time() - 660,) * 2)
    assert host.run(*copy_small) == ('', '', 0) and dirs() == {live_dir}
    neighbour.kill(), neighbour.wait()
    os.kill(live.pid, signal.SIGCONT)
    assert live.wait(60) == 0 and os.path.getsize(f'{remote}/g') == 300000000 and dirs() == set()
