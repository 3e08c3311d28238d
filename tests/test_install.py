"""install and its checks: the script runs with the host's own wget, unzip, tar and sh."""
import hashlib
import os
import signal
import urllib.request

import pytest

import fixture as fx

INSTALLED = ['download.log', 'download_ok.ret', 'extract.log', 'extract_ok.ret',
             'install.log', 'install.sh', 'install_ok.ret',
             'download_ok.ret:0', 'extract_ok.ret:0', 'install_ok.ret:0']
FAILED_INSTALL = ['bf2', 'download.log', 'download_ok.ret', 'extract.log',
                  'extract_ok.ret', 'install.log', 'install.sh', 'install_err.ret',
                  'download_ok.ret:0', 'extract_ok.ret:0', 'install_err.ret:1']


@pytest.fixture
def base(host, request):
    path = host.mkdir(f'{host.home}/{request.node.name[:40]}')
    yield path
    fx.sh(f'rm -rf {fx.q(path)}')


def tree(dir):
    return fx.sh(f'cd {fx.q(dir)}/bf2 && find . | LC_ALL=C sort && '
                 'stat -c %a bf2_lnxded.* fixinstall.sh start.sh').stdout.split()


def test_each_archive_kind_installs_and_install_returns_at_once(host, fake_tools, packages, base):
    # All at once: install only starts the script.  The .tar.gz download is held.  The Makeself
    # one goes into a directory with a blank and a quote, under a URL with a blank and pattern
    # characters.  The zip's mktemp prints no final newline: nothing else may be cut.
    fake_tools.tool('mktemp', 'T=`/usr/bin/mktemp "$@"` || exit; printf %s "$T"')
    run = 'server.run?x=*[ab] &y=?'
    kinds = [(host, 'server.tar.bz2', f'{base}/bz2'), (host, 'hold/server.tar.gz', f'{base}/gz'),
             (fake_tools, 'server.zip', f'{base}/zip'), (host, run, f"{base}/it's a run dir")]
    # No URL (it may hold a token) shows in a command line of the host but
    # bf2ctl's own, nor can others read the files that hold it.
    with fx.CommandLines() as seen:
        temps = [fx.install(login, packages.url(path), dir) for login, path, dir in kinds]
        assert fx.wait_until(lambda: 'server.tar.gz' in packages.held, 30)
        assert install_status(host, temps[1]) == ('downloading\nbytes: 0\n', '', 0)
        packages.released.add('server.tar.gz')
        for temp, (_, _, dir) in zip(temps, kinds):
            assert fx.final_state(temp) == INSTALLED
            assert install_status(host, temp) == ('ok\n', '', 0)
            assert tree(dir) == fx.INSTALLED_TREE + ['750'] * 4  # the Makeself header's command did not run
            assert host.run('--check-install', f'--dir={dir}/bf2') == ('ok\n', '', 0)
    lines = [line for line in seen.lines if not line.startswith(fx.BF2CTL + '\0')]
    assert 'wget\0-O\0bf2_server\0-a\0download.log\0-i\0-\0' in lines  # the watch saw it
    assert [line for line in lines if packages.url('') in line] == []
    assert {os.stat(f'{t}/{f}').st_mode & 0o77 for t in temps
            for f in ('install.sh', 'download.log')} == {0}
    assert f'"GET /{run.replace(" ", "%20")} HTTP/1.1" 200' in packages.requests
    # check-install wants both start.sh and mods/bf2/init.con, as regular files.
    for i, name in ((0, 'start.sh'), (2, 'mods/bf2/init.con'), (3, 'mods/bf2/init.con')):
        os.remove(f'{kinds[i][2]}/bf2/{name}')
        i < 3 and os.mkdir(f'{kinds[i][2]}/bf2/{name}')
    for i in (0, 2, 3):
        assert host.run('--check-install', f'--dir={kinds[i][2]}/bf2') == ('failed\n', '', 0)
    # A second installation is an update: the old tree, with the customer's file, stays whole
    # as bf2.previous (the one before it goes); a failed update leaves bf2 as it was.
    d = kinds[1][2]
    fx.sh(f'echo mine > {d}/bf2/mods/bf2/custom.con && mkdir {d}/bf2.previous && chown -R {host.login} {d}')
    assert fx.final_state(fx.install(host, packages.url('server.zip'), d)) == INSTALLED
    assert tree(d) == fx.INSTALLED_TREE + ['750'] * 4 and open(f'{d}/bf2.previous/mods/bf2/custom.con').read() == 'mine\n'
    fx.sh(f'echo mine > {d}/bf2/mine')
    assert fx.final_state(fx.install(host, packages.url('nostatic.tar.gz'), d)) == FAILED_INSTALL
    assert open(f'{d}/bf2/mine').read() == 'mine\n' and os.path.exists(f'{d}/bf2.previous/mods/bf2/custom.con')


def test_failures_stop_at_their_stage(host, packages, base):
    t_unknown = fx.install(host, packages.url('unknown.bin'), f'{base}/u')
    t_missing = fx.install(host, packages.url('no-such.tar.gz'), f'{base}/m')
    t_option = fx.install(host, '--version', f'{base}/o')
    t_nostatic = fx.install(host, packages.url('nostatic.tar.gz'), f'{base}/nostatic')

    assert fx.final_state(t_unknown) == ['bf2_server', 'download.log', 'download_ok.ret',
                                      'extract.log', 'extract_err.ret', 'install.sh',
                                      'download_ok.ret:0', 'extract_err.ret:-1']
    assert install_status(host, t_unknown) == (
        'failed\nstage: extract\nstatus: -1\nlog: Unknown archive type\n', '', 0)
    # wget's own status: a server error answer, a host it cannot resolve ("--version" is no option).
    for temp, status in ((t_missing, 8), (t_option, 4)):
        assert fx.final_state(temp) == ['bf2_server', 'download.log', 'download_err.ret',
                                     'install.sh', f'download_err.ret:{status}']
    # Its directory gone, the script stops before it cleans up or downloads.
    os.rename(t_missing, f'{base}/gone')
    fx.sh(f'echo mine > {base}/keep.log')
    assert fx.sh(f'cd {base} && sh gone/install.sh', check=False).returncode == 1
    assert open(f'{base}/keep.log').read() == 'mine\n' and not os.path.exists(f'{base}/bf2_server')
    assert fx.final_state(t_nostatic) == FAILED_INSTALL  # the chmod names a file the package lacks


def test_path_errors_come_once_connected_and_before_remote_work(host, base):
    assert host.run('--install-status', f'--dir={base}') == (
        f'Not an install directory (no install.sh): {base}\n', '', 1)
    sessions = host.sshd.sessions()
    for args in (['--install', '--url=u', '--dir=relative'], ['--check-install', '--dir=bf2']):
        assert host.run(*args) == ('Directry/file must be set absolute pathname\n', '', 1)
    assert host.sshd.sessions() == sessions
    assert host.run('--install', '--url=u', '--dir=/proc/bf2') == (
        "Make temporary directory in '/proc/bf2' failed: mktemp: failed to create directory via "
        "template ‘/proc/bf2/.bf2_install_XXXXXX’: No such file or directory\n", '', 1)


def test_the_script_runs_on_a_noexec_mount_or_the_install_fails(host, fake_tools, packages, base):
    url = packages.url('server.tar.gz')
    fx.sh(f'mount -t tmpfs -o noexec,size=16m tmpfs {base} && chown {host.login} {base}')
    try:
        # It runs and reports what the mount then stops: the package's own fixinstall.sh.
        assert fx.final_state(fx.install(host, url, base))[-3:] == [
            'download_ok.ret:0', 'extract_ok.ret:0', 'install_err.ret:126']
    finally:
        fx.sh(f'umount {base}')
    fake_tools.tool('sh', 'case $1 in */install.sh) exit 0 ;; esac; exec /bin/sh "$@"')
    assert fake_tools.run('--install', f'--url={url}', f'--dir={base}') == (
        'Run install script failed: the install script ended without a trace\n', '', 1)
    fake_tools.tool('dd', "echo 'dd: error writing: No space left on device' >&2; exit 1")
    assert fake_tools.run('--install', f'--url={url}', f'--dir={base}') == (
        'Copy install script failed: dd: error writing: No space left on device\n', '', 1)


def install_status(host, temp):
    return host.run('--install-status', f'--dir={temp}')


@pytest.mark.parametrize('files, running, printed', [  # running: as the account, or as nobody
    ({}, True, 'downloading\nbytes: 5\n'),
    ({'download.log': 'Length: 0 [text/html]\nLength: 5 (5B) [application/x-gzip]\nLength: 1' + '0' * 18 + '\n'},
     True, 'downloading\nbytes: 5\ntotal: 5\n'),  # the last length wget logged; no number past 18 digits
    ({}, 65534, 'interrupted\n'),
    ({'download_ok.ret': '0\n'}, True, 'extracting\n'),
    ({'download_ok.ret': '0\n', 'extract_ok.ret': '0\n'}, True, 'installing\n'),
    ({'download_ok.ret': '0\n'}, False, 'interrupted\n'),
    ({'download_err.ret': '8\n', 'download.log': ''.join(f'l{i}\n' for i in range(12))}, False,
     'failed\nstage: download\nstatus: 8\n' + ''.join(f'log: l{i}\n' for i in range(2, 12))),
    ({'extract_err.ret': '2\n'}, False, 'failed\nstage: extract\nstatus: 2\n'),  # no log at all
    ({'cancelled.ret': 'cancelled\n', 'download_err.ret': '9\n'}, False, 'cancelled\n'),
    # A token in the URL never reaches the panel; blank lines at the log's end are no lines.
    ({'download_err.ret': '8\n', 'download.log': '--2026-12-08 07:00:00--  http://u:*password*@h/p.tgz?token=x\n'
      'Location: /q?sig=1 [following]\n\n \n'}, False, 'failed\nstage: download\nstatus: 8\n'
     'log: --2026-12-08 07:00:00--  http://…@h/p.tgz?…\nlog: Location: /q?… [following]\n'),
    ({'install_err.ret': '1\x1b[2J\n', 'install.log': 'a\x0bok\r\x0cok\u2028ok\x85ok\udcff \\\n'},
     False,
     'failed\nstage: install\nstatus: 1\\x1b[2J\nlog: a\\x0bok\\x0d\\x0cok\\xe2\\x80\\xa8ok\\xc2\\x85ok\\xff \\\\\n'),
    # Each log line is cut to 4 KiB.
    ({'install_err.ret': '1\n', 'install.log': 'x' * 100000 + '\nlast'}, False,
     'failed\nstage: install\nstatus: 1\nlog: ' + 'x' * 4096 + '\nlog: last\n'),
])
def test_install_status_reads_the_status_files_and_the_running_script(host, base, files, running,
                                                                      printed):
    temp = f'{base}/.bf2_install_hand'
    os.mkdir(temp)
    for name, text in {'install.sh': 'sleep 30\n', 'bf2_server': 'bytes', **files}.items():
        with open(f'{temp}/{name}', 'w', errors='surrogateescape') as f:
            f.write(text)
    script = running and fx.as_user(host.login if running is True else running, ['sh', f'{temp}/install.sh'])
    assert install_status(host, temp) == (printed, '', 0)
    script and script.kill()


def test_none_under_a_running_server_and_the_digest_checked(host, packages, base):
    d, url = host.mkdir(f'{base}/d'), packages.url('server.tar.bz2')
    again = lambda *more: host.run('--install', f'--url={url}', f'--dir={d}', *more)  # noqa: E731
    fx.make_tree(d)
    fx.sh(f'chown -R {host.login} {d}')
    # A game server working in the tree: refused before anything is downloaded.
    game = fx.working_in(host, f'{d}/bf2/mods')
    requests = len(packages.requests)
    assert again() == (f'Server running from {d}/bf2: stop it first\n', '', 1)
    game.kill()
    assert len(packages.requests) == requests
    # The digest, of any case, is checked before the package is unpacked.
    digest = hashlib.sha256(urllib.request.urlopen(url).read()).hexdigest()
    bad = fx.install(host, url, d, '--sha256=' + '0' * 64)
    assert fx.final_state(bad)[-2:] == ['download_ok.ret:0', 'verify_err.ret:1'] and 'bf2_server' in os.listdir(bad)
    assert install_status(host, bad) == (f'failed\nstage: verify\nstatus: 1\nlog: expected sha256 {"0" * 64}\n'
                                         f'log: got sha256 {digest}\n', '', 0)
    good = fx.install(host, url, d, f'--sha256={digest.upper()}')
    assert fx.final_state(good) == sorted(INSTALLED[:7] + ['verify_ok.ret']) + INSTALLED[7:] + ['verify_ok.ret:0']
    assert again('--sha256=abc') == ("Incorrect long option '--sha256'\n", '', 1)


def test_one_install_at_a_time_and_no_tree_moves_under_a_process_nor_starts(server, host, fake_tools, packages, base):
    # Each directory's install held at its download.  What works in its tree when the swap comes (a
    # working directory, a program, an open file; in bf2 or in bf2.previous, which the swap removes)
    # fails it at that stage, nothing moved; another install, or a start from the tree, is refused while it runs,
    # which lets go of its lock before it tells its outcome, however slowly the lock goes.
    hold = 'server.zip?swap'
    work = {'cwd': ('bf2', lambda t: ['sh', '-c', f'cd {fx.q(t)}/mods && exec sleep 60']),
            'exe': ('bf2.previous', lambda t: [f'{t}/sleep', '60']),
            'fd': ('bf2', lambda t: ['/usr/bin/python3', '-c', 'import sys, time; f = open(sys.argv[1]); '
                                     'time.sleep(60)', f'{t}/start.sh']),
            'start': (None, None)}
    dirs = {how: f'{base}/{how} [1]' for how in work}
    for d in dirs.values():
        fx.make_tree(d)
        fx.sh(f'cp -a {fx.q(d)}/bf2 {fx.q(d)}/bf2.previous && cp /bin/sleep {fx.q(d)}/bf2.previous && '
              f'chown -R {host.login} {fx.q(d)}')
    fake_tools.tool('rm', 'case "$*" in *.bf2_install.lock*) sleep 2 ;; esac; exec /bin/rm "$@"')
    temps = {how: fx.install(fake_tools, packages.url('hold/' + hold), d) for how, d in dirs.items()}
    assert fx.wait_until(lambda: hold in packages.held, 30)
    busy = (f'Install already running in {dirs["start"]}\n', '', 1)
    assert host.run('--install', '--url=u', f'--dir={dirs["start"]}') == busy
    assert server().start(srv_dir=f'{dirs["start"]}/bf2') == busy
    inodes = lambda d: [os.stat(f'{d}/{t}').st_ino for t in ('bf2', 'bf2.previous')]  # noqa: E731
    before = {how: inodes(d) for how, d in dirs.items()}
    workers = {how: fx.as_user(host.login, argv(f'{dirs[how]}/{t}')) for how, (t, argv) in work.items() if t}
    for how, w in workers.items():
        links = f'readlink /proc/{w.pid}/cwd /proc/{w.pid}/exe /proc/{w.pid}/fd/*'
        assert fx.wait_until(lambda: f'{dirs[how]}/{work[how][0]}/' in fx.sh(links, check=False).stdout)
    packages.released.add(hold)
    for how, (t, _) in work.items():
        if t:
            log = f'install.log:Server running from {dirs[how]}/{t}'
            assert fx.final_state(temps[how]) == FAILED_INSTALL + [log]
            assert inodes(dirs[how]) == before[how]
    assert fx.final_state(temps['start']) == INSTALLED and not os.path.exists(f'{dirs["start"]}/.bf2_install.lock')
    assert inodes(dirs['start'])[1] == before['start'][0]
    assert install_status(host, temps['exe']) == (
        f'failed\nstage: install\nstatus: 1\nlog: Server running from {dirs["exe"]}/bf2.previous\n', '', 0)
    for w in workers.values():
        w.kill()


def test_a_cancel_ends_a_held_download_and_only_a_running_install(host, packages, base):
    d = host.mkdir(f'{base}/d')
    temp = fx.install(host, packages.url('hold/server.tar.gz?cancel'), d)
    assert fx.wait_until(lambda: 'server.tar.gz?cancel' in packages.held, 30)
    assert host.json('--install-cancel', f'--dir={temp}') == ({'ok': True}, 0)
    # Nothing of the install runs on, its lock is free, and nothing was swapped in.
    assert fx.wait_until(lambda: not fx.sh(f'readlink /proc/[0-9]*/cwd | grep -F {temp}', check=False).stdout, 10)
    assert install_status(host, temp) == ('cancelled\n', '', 0) and not os.path.exists(f'{d}/bf2')
    assert not os.path.exists(f'{d}/.bf2_install.lock')
    packages.released.add('server.tar.gz?cancel')
    refused = lambda why: ({'ok': False, 'error': 'remote', 'message': why, 'step': 'cancel'}, 1)  # noqa: E731
    assert host.json('--install-cancel', f'--dir={temp}') == refused(f'Install in {temp} already ended: cancelled')
    assert host.json('--install-cancel', f'--dir={d}') == refused(f'No install in {d}')
    # A script swapping its tree in holds its claim; a neighbour's process naming the script is no install.
    os.makedirs(f'{(hand := f"{base}/.bf2_install_hand")}/fate')
    for name in ('install.sh', 'download_ok.ret', 'extract_ok.ret'):
        open(f'{hand}/{name}', 'w').write('sleep 30\n' if name == 'install.sh' else '0\n')
    fx.sh(f'chown -R {host.login} {hand}')
    script = fx.as_user(host.login, ['sh', f'{hand}/install.sh'])
    other = fx.as_user(65534, ['/usr/bin/python3', '-c', 'import time; time.sleep(30)', f'{hand}/install.sh'])
    assert fx.wait_until(lambda: install_status(host, hand).out == 'installing\n')
    assert host.json('--install-cancel', f'--dir={hand}') == refused(
        f'Install in {hand} is swapping the tree in: it cannot be cancelled')
    # A cancel that died after its claim, the script left stopped, is carried on by the next.
    fx.sh(f'mkdir {hand}/fate/cancel && chown {host.login} {hand}/fate/cancel')
    script.send_signal(signal.SIGSTOP)
    assert host.json('--install-cancel', f'--dir={hand}') == ({'ok': True}, 0)
    assert script.wait(10) == -signal.SIGKILL and install_status(host, hand).out == 'cancelled\n'
    assert other.poll() is None
    other.kill()


def test_an_install_removes_ended_installs_but_the_three_newest_and_any_in_use(host, packages, base):
    d = host.mkdir(f'{base}/d')
    old = [f'{d}/.bf2_install_old{i:03}' for i in range(6)] + [f'{base}/outside']
    for i, t in enumerate(old):
        os.makedirs(f'{t}/bf2')
        open(f'{t}/install.sh', 'w').close()
        os.utime(f'{t}/install.sh', (0, 1700000000 + i % 6))
    os.symlink(old[6], f'{d}/.bf2_install_link00')  # a link is no install: neither it nor its target goes
    fx.sh(f'chown -R {host.login} {base}')
    # A neighbour's in a directory shared with others (sticky) is not the account's to remove, even where it could.
    nb = f'{d}/.bf2_install_nobody'
    fx.sh(f'chmod 1777 {d} && mkdir -m 777 {nb} && touch -d @0 {nb}/install.sh && chown -R 65534 {nb}')
    worker = fx.working_in(host, f'{old[1]}/bf2')
    fx.final_state(new := fx.install(host, packages.url('unknown.bin'), d))
    worker.kill()
    assert sorted(os.listdir(d)) == sorted(os.path.basename(t) for t in [*old[1:2], *old[3:6], new, nb, '.bf2_install_link00'])
    assert os.path.exists(f'{nb}/install.sh') and os.path.exists(f'{old[6]}/install.sh')
