"""Backups on the account (--backup, --list-backups, --restore): whole archives or none, restores that lose
nothing, and archives and names a tenant crafts."""
import calendar
import glob
import hashlib
import io
import os
import re
import subprocess
import tarfile
import time

import pytest

import fixture as fx

q = fx.q


def tree(top):
    """Every entry under top: its type and mode, and a file's bytes or a link's target."""
    found = {}
    for root, dirs, files in os.walk(top):
        for name in dirs + files:
            path = os.path.join(root, name)
            st = os.lstat(path)
            body = (os.readlink(path) if os.path.islink(path) else
                    open(path, 'rb').read() if os.path.isfile(path) else None)
            found[os.path.relpath(path, top)] = (st.st_mode, body)
    return found


def make(host, top, files):
    """A fresh directory of the account's holding files (path: text), each mode 0640."""
    host.mkdir(top)
    for path, text in files.items():
        os.makedirs(os.path.dirname(f'{top}/{path}'), exist_ok=True)
        with open(f'{top}/{path}', 'w') as f:
            f.write(text)
        os.chmod(f'{top}/{path}', 0o640)
    fx.sh(f'chown -R {host.login}: {q(top)}')
    return top


def backup(host, dir, bdir, *more, **kw):
    return host.run('--backup', f'--dir={dir}', f'--backup-dir={bdir}', *more, **kw)


def restore(host, dir, bdir, name, **kw):
    return host.run('--restore', f'--dir={dir}', f'--backup-dir={bdir}', f'--archive={name}', **kw)


def made(r, base, warnings=0):
    """The name a successful backup printed, once its lines and files agree."""
    m = re.fullmatch(rf'backup: ({re.escape(base)}-\d{{8}}T\d{{6}}Z(?:-\d+)?\.tar\.gz)\nsize: (\d+)\n'
                     rf'sha256: ([0-9a-f]{{64}})\nwarnings: (\d+)\n', r.out)
    assert m and (r.err, r.status) == ('', 0) and int(m[4]) >= warnings and (warnings or m[4] == '0'), r
    return m[1]


def test_a_running_servers_configuration_backs_up_without_its_run_files_and_restores_exactly(server, host):
    s = server()
    assert s.start() == fx.OK and s.running()
    bdir = f'{host.home}/backups of mine'
    name = made(backup(s.host, s.cfg, bdir), os.path.basename(s.cfg))
    archive = f'{bdir}/{name}'
    body = open(archive, 'rb').read()
    sums = open(archive + '.sha256').read()
    assert sums == f'{hashlib.sha256(body).hexdigest()}  {name}\ndir: {s.cfg}\n'
    assert [oct(os.stat(p).st_mode & 0o777) for p in (bdir, archive, archive + '.sha256')] == ['0o700', '0o600', '0o600']
    members = tarfile.open(archive).getnames()
    assert './settings/serversettings.con' in members and './start.sh' in members
    assert not {'./server-stdin', './server.pid', './server.start', './start.pid', './.bf2ctl.lock'} & set(members)
    assert host.run('--list-backups', f'--backup-dir={bdir}') == (
        f'backup: {name} size: {len(body)} sha256: {sums[:64]} dir: {s.cfg}\n', '', 0)
    stamp = re.search(r'-(\d{8}T\d{6}Z)\.', name)[1]
    assert host.json('--list-backups', f'--backup-dir={bdir}') == ({'ok': True, 'backups': [
        {'name': name, 'size': len(body), 'sha256': sums[:64], 'dir': s.cfg,
         'time': calendar.timegm(time.strptime(stamp, '%Y%m%dT%H%M%SZ'))}]}, 0)
    # While the server runs its directory stays as it is.
    before = tree(s.cfg)
    assert restore(host, s.cfg, bdir, name) == (f'A process works in {s.cfg}: stop it first\n', '', 1)
    assert tree(s.cfg) == before
    assert s.stop() == fx.OK
    saved = {p: v for p, v in tree(s.cfg).items() if p in members or './' + p in members}
    fx.sh(f'echo new >{q(s.cfg)}/added && echo changed >{q(s.cfg)}/start.sh && chmod 600 {q(s.cfg)}/stop.sh')
    assert restore(host, s.cfg, bdir, name) == fx.OK
    assert {p: v for p, v in tree(s.cfg).items() if p not in ('srderr.log', 'standin.log')} == {
        p: v for p, v in saved.items() if p not in ('srderr.log', 'standin.log')}
    assert open(f'{s.cfg}.before-restore/added').read() == 'new\n' and not os.path.exists(f'{s.cfg}/added')
    assert s.start() == fx.OK and s.stop() == fx.OK
    fx.sh(f'rm -rf {q(bdir)} {q(s.cfg)}.before-restore')


def test_keep_prunes_only_the_oldest_of_the_same_directory_and_exclude_is_anchored(host):
    top = f'{host.home}/keep'
    make(host, top, {'a/logs/x': '1', 'a/x/logs/y': '2', 'a/big.bin': '3', 'a/sub/big.bin': '4',
                     'b/a/f': '5'})
    bdir = host.mkdir(f'{top}/bk')
    fx.sh(f'echo mine >{q(bdir)}/notes.txt && chown {host.login}: {q(bdir)}/notes.txt')
    other = made(backup(host, f'{top}/b/a', bdir), 'a')  # another directory of the same base name
    names = [made(backup(host, f'{top}/a', bdir, '--keep=2', '--exclude=logs/*,/big.bin'), 'a')
             for _ in range(5)]
    assert sorted(os.listdir(bdir)) == sorted(['notes.txt', other, other + '.sha256'] +
                                              [n + s for n in names[-2:] for s in ('', '.sha256')])
    assert sorted(tarfile.open(f'{bdir}/{names[-1]}').getnames()) == [
        '.', './logs', './sub', './sub/big.bin', './x', './x/logs', './x/logs/y']
    listed = host.json('--list-backups', f'--backup-dir={bdir}')[0]['backups']
    assert [b['name'] for b in listed] == sorted(names[-2:] + [other], key=lambda n: (
        re.search(r'\d{8}T\d{6}Z', n)[0], int(re.search(r'Z(?:-(\d+))?\.tar', n)[1] or 1)), reverse=True)
    os.unlink(f'{bdir}/{other}.sha256')
    assert [b for b in host.json('--list-backups', f'--backup-dir={bdir}')[0]['backups']
            if b['name'] == other][0] | {'time': 0} == {'name': other, 'size': os.path.getsize(f'{bdir}/{other}'),
                                                       'sha256': '', 'dir': '', 'time': 0}
    assert restore(host, f'{top}/b/a', bdir, other) == (f'Backup {other} has no checksum file\n', '', 1)
    assert host.run('--list-backups', f'--backup-dir={top}/none') == fx.OK
    # Countless files of the account's: the 1000 newest.
    fx.sh(f'cd {q(bdir)} && for y in $(seq 1000 2000); do : >a-${{y}}0101T000000Z.tar.gz; done && chown {host.login}: *')
    newest = [b['name'] for b in host.json('--list-backups', f'--backup-dir={bdir}')[0]['backups']]
    assert len(newest) == 1000 and 'a-20000101T000000Z.tar.gz' in newest and 'a-10000101T000000Z.tar.gz' not in newest
    # A backup taken while the clock ran ahead sorts after the new one, which stays all the same.
    fx.sh(f'cd {q(bdir)} && for s in "" .sha256; do cp -p {names[-1]}$s a-20990101T000000Z.tar.gz$s; done')
    latest = made(backup(host, f'{top}/a', bdir, '--keep=1'), 'a')
    assert os.path.exists(f'{bdir}/{latest}') and not os.path.exists(f'{bdir}/{names[-1]}')
    fx.sh(f'rm -rf {q(top)}')


@pytest.mark.parametrize('args, line', [
    (['--keep=0'], "Incorrect long option '--keep'"),
    (['--keep=1001'], "Incorrect long option '--keep'"),
    (['--exclude=a,,b'], "Incorrect long option '--exclude'"),
    (['--dir=/x/c', '--backup-dir=/x/./c//b/'], 'Backup directory must not be inside /x/c'),
    (['--dir=/x/c\n', '--backup-dir=/b'], 'Directory holds a line break'),
    (['--dir=x', '--backup-dir=/b'], 'Directry/file must be set absolute pathname'),
], ids=['keep 0', 'keep 1001', 'empty glob', 'inside as the paths show', 'line break', 'relative'])
def test_values_are_refused_before_connecting(args, line):
    args = args if any(a.startswith('--dir') for a in args) else ['--dir=/x/c', '--backup-dir=/b', *args]
    assert fx.run(['--address=127.0.0.1:9', '--login=u', '--backup', *args]) == (line + '\n', '', 1)


def test_files_that_go_while_tar_reads_are_warnings_and_a_full_disk_leaves_older_backups(host):
    top = make(host, f'{host.home}/vanish', {f'd/sub{i}/f{j}': 'x' * 1000 for i in range(20) for j in range(400)})
    bdir = f'{host.home}/vanish bk'
    # tar held still once it runs, the files go.
    p = host.start('--backup', f'--dir={top}/d', f'--backup-dir={bdir}')
    tar = lambda: [int(pid) for pid in fx.processes_with(f'{top}/d') if fx.cmdline(pid).startswith('tar')]
    assert fx.wait_until(lambda: glob.glob(f'{bdir}/.bf2ctl-backup.*/archive'), 60, 0.001) and fx.wait_until(tar, 5, 0)
    [os.kill(pid, 19) for pid in tar()]
    fx.sh(f'rm -rf {q(top)}/d/sub*')
    [os.kill(pid, 18) for pid in tar()]
    name = made(fx.finish(p), 'd', warnings=1)
    assert tarfile.open(f'{bdir}/{name}').getnames()[0] == '.'
    # A backup directory on a file system of 1 MiB: the old backup stays, no partial file is left.
    fx.sh(f'rm -rf {q(bdir)} && mkdir {q(bdir)} && mount -t tmpfs -o size=1m,mode=700 tmpfs {q(bdir)} && '
          f'chown {host.login}: {q(bdir)} && head -c 3000000 /dev/urandom >{q(top)}/d/random && '
          f'echo small >{q(top)}/e && chown {host.login}: {q(top)}/d/random {q(top)}/e')
    try:
        old = made(backup(host, top, bdir, '--exclude=d'), 'vanish')
        assert backup(host, top, bdir) == (f'Backup of {top} failed: No space left on device\n', '', 1)
        assert sorted(os.listdir(bdir)) == [old, old + '.sha256']
    finally:
        fx.sh(f'umount {q(bdir)}; rm -rf {q(top)} {q(bdir)}')


def crafted(path, members):
    """A gzip tar archive of members (name, kind, target) and its .sha256, as a backup's."""
    with tarfile.open(path, 'w:gz') as t:
        for name, kind, target in members:
            info = tarfile.TarInfo(name)
            info.type, info.linkname = kind, target
            t.addfile(info, io.BytesIO(b'') if kind == tarfile.REGTYPE else None)
    body = open(path, 'rb').read()
    open(path + '.sha256', 'w').write(f'{hashlib.sha256(body).hexdigest()}  {os.path.basename(path)}\n')


F, L, H = tarfile.REGTYPE, tarfile.SYMTYPE, tarfile.LNKTYPE


@pytest.mark.parametrize('members', [
    [('./ok', F, ''), ('../x', F, '')],
    [('/tmp/x', F, '')],
    [('./a/../../x', F, '')],
    [('./l', L, '/tmp')],
    [('./a/l', L, '../../x')],
    [('./a', L, 'b'), ('./b', L, 'a/..')],
    [('./up', L, '.'), ('./d', F, ''), ('./up/../x', F, '')],
    [('./d', L, 'sub'), ('./d/x', F, '')],
    [('./h', H, '../x')],
    [('./d/l', L, '..'), ('./a', H, './d/l')],
], ids=['dot-dot member', 'absolute member', 'climbing member', 'absolute link', 'link climbing out',
        'dot-dot after a link', 'member through dot-dot', 'member under a link', 'hard link out',
        'hard link to a link that climbs from its place'])
def test_archives_that_reach_outside_are_refused_before_anything_is_written(host, members):
    top = make(host, f'{host.home}/crafted', {'d/keep': 'k'})
    bdir = host.mkdir(f'{top}/bk')
    crafted(f'{bdir}/d-20260101T000000Z.tar.gz', members)
    fx.sh(f'chown -R {host.login}: {q(bdir)}')
    before = tree(top)
    assert restore(host, f'{top}/d', bdir, 'd-20260101T000000Z.tar.gz') == (
        f'Backup d-20260101T000000Z.tar.gz holds a path outside {top}/d\n', '', 1)
    assert tree(top) == before and not os.path.exists('/tmp/x')


def test_damaged_missing_and_planted_backups_are_refused_and_links_never_followed(host, root):
    top = make(host, f'{host.home}/damaged', {'d/keep': 'k', 'elsewhere/victim': 'v'})
    bdir = f'{top}/bk'
    name = made(backup(host, f'{top}/d', bdir), 'd')
    with open(f'{bdir}/{name}', 'r+b') as f:
        f.seek(100), f.write(b'X')
    fx.sh(f'ln -s {q(top)}/elsewhere {q(top)}/bk-link && chown -h {host.login}: {q(top)}/bk-link')
    # A neighbour's archive in a BDIR others may write to poses as the newest backup of DIR.
    crafted(f'{bdir}/d-20990101T000000Z.tar.gz', [('./start.sh', F, '')])
    fx.sh(f'cd {q(bdir)} && echo dir: {q(top)}/d >>d-20990101T000000Z.tar.gz.sha256 && chown 65534 d-2099* && chmod 1777 .')
    for dir, archive, bd, line in [
        ('d', 'd-20990101T000000Z.tar.gz', bdir, f'No backup d-20990101T000000Z.tar.gz in {bdir}'),
        ('d', name, bdir, f'Backup {name} is damaged: checksum mismatch'),
        ('d', '../d/keep', bdir, f'No backup ../d/keep in {bdir}'),
        ('d', 'keep.tar.gz', bdir, f'No backup keep.tar.gz in {bdir}'),
        ('d', name, f'{top}/bk-link', f'Backup directory {top}/bk-link is a symbolic link'),
        # Its backups would move into DIR.before-restore: by the paths, and by the host's.
        ('elsewhere', name, f'{top}/elsewhere/./b', f'Backup directory must not be inside {top}/elsewhere'),
        ('elsewhere', name, f'{top}/bk-link/b', f'Backup directory must not be inside {top}/elsewhere'),
    ]:
        assert restore(host, f'{top}/{dir}', bd, archive) == (line + '\n', '', 1)
    assert backup(host, f'{top}/d', f'{top}/bk-link') == (
        f'Backup directory {top}/bk-link is a symbolic link\n', '', 1)
    # A backup directory inside by a link only the host sees; a root login.
    assert backup(host, f'{top}/bk-link', f'{top}/elsewhere/b') == (
        f'Backup directory must not be inside {top}/bk-link\n', '', 1)
    assert root.run('--list-backups', f'--backup-dir={bdir}').out.startswith('Not for root: ')
    assert [b['name'] for b in host.json('--list-backups', f'--backup-dir={bdir}')[0]['backups']] == [name]
    # Links planted at the names the next backups would take are passed over, never written through.
    stamp = time.time()
    for t in range(int(stamp), int(stamp) + 6):
        for suffix in ('', '-2'):
            stem = f'{bdir}/d-{time.strftime("%Y%m%dT%H%M%SZ", time.gmtime(t))}{suffix}.tar.gz'
            fx.sh(f'ln -s {q(top)}/elsewhere/victim {q(stem)}.sha256 && ln -s {q(top)}/elsewhere/victim {q(stem)}')
    assert made(backup(host, f'{top}/d', bdir), 'd').endswith('-3.tar.gz')
    assert open(f'{top}/elsewhere/victim').read() == 'v'
    fx.sh(f'rm -rf {q(top)}')


def test_a_restore_killed_midway_leaves_the_directory_and_the_next_run_finishes_or_cleans_up(host, server):
    top = make(host, f'{host.home}/killed', {'d/keep': 'k'})
    fx.sh(f'head -c 60000000 /dev/urandom >{q(top)}/d/big && chown {host.login}: {q(top)}/d/big')
    bdir = f'{top}/bk'
    name = made(backup(host, f'{top}/d', bdir), 'd')
    whole = tree(f'{top}/d')
    fx.sh(f'rm {q(top)}/d/big')
    before = tree(f'{top}/d')
    # Killed once it unpacks: the watchdog ends what it left, and DIR is never half of either.
    p = host.start('--restore', f'--dir={top}/d', f'--backup-dir={bdir}', f'--archive={name}')
    assert fx.wait_until(lambda: os.path.exists(f'{top}/d.restoring'), 60, 0.001)
    p.kill(), p.wait()
    assert fx.wait_until(lambda: not fx.processes_of(host.login), 30)
    assert tree(f'{top}/d') in (before, whole)
    # What a run killed outright leaves: a part unpacked, or a whole one DIR was never swapped with.
    fx.sh(f'rm -rf {q(top)}/d.* && mkdir -p {q(top)}/d.restoring/x {q(top)}/d.restored/y && chmod 500 {q(top)}/d.restored'
          f' && chown -R {host.login}: {q(top)}')
    assert restore(host, f'{top}/d', bdir, name) == fx.OK and tree(f'{top}/d') == whole
    assert sorted(os.listdir(top)) == ['bk', 'd', 'd.before-restore']
    # Killed between the two renames: no DIR, the whole unpacking beside it.  A backup or a start finishes.
    s = server()
    for dir, run in [(f'{top}/d', lambda: backup(host, f'{top}/d', bdir)), (s.cfg, s.start)]:
        fx.sh(f'mv {q(dir)} {q(dir)}.restored')
        assert run()[2] == 0 and os.path.isdir(dir) and not os.path.exists(dir + '.restored')
    assert s.stop() == fx.OK
    fx.sh(f'rm -rf {q(top)}')
