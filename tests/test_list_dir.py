"""--list-dir: a directory's entries, each name exact whatever its bytes, links reported and never followed."""
import base64
import os

import fixture as fx


def test_entries_come_sorted_bytewise_with_odd_names_links_and_modes_exact(host):
    d = host.mkdir(f'{host.home}/ls')
    entries = {b'a': ('file', 0o644), b'b': ('file', 0o640), b'B': ('dir', 0o2750), b'a\nb': ('file', 0o644), b'\xff': ('file', 0o600),
               b'007': ('file', 0o4755), b'link': ('link', 0o777), b'fifo': ('other', 0o600), b'-n': ('file', 0o644)}
    for name, (kind, mode) in entries.items():
        path = os.fsencode(d) + b'/' + name
        if kind == 'dir':
            os.mkdir(path)
        elif kind == 'link':
            os.symlink('/etc/passwd', path)
        elif kind == 'other':
            os.mkfifo(path)
        else:
            open(path, 'wb').write(name)
        if kind != 'link':
            os.chmod(path, mode)
            os.utime(path, (0, 1700000000 + len(name)))
    want = []
    for name in sorted(entries):
        st = os.lstat(os.fsencode(d) + b'/' + name)
        kind, mode = entries[name]
        key, value = (('name', name.decode()) if name != b'\xff' else ('name_base64', base64.b64encode(name).decode()))
        want.append({key: value, 'type': kind, 'size': st.st_size, 'mtime': int(st.st_mtime), 'mode': f'{mode:04o}'})
    assert host.json('--list-dir', f'--dir={d}/') == ({'ok': True, 'entries': want, 'truncated': False}, 0)
    shown = lambda e: e.get('name', '\\xff').replace('\n', '\\x0a')  # noqa: E731
    assert host.run('--list-dir', f'--dir={d}') == (''.join(
        f"{e['type']} {e['size']} {e['mtime']} {e['mode']} {shown(e)}\n" for e in want), '', 0)
    # The directory itself may be a link; the link inside is still not followed.
    os.symlink(d, f'{host.home}/ls-link')
    assert host.json('--list-dir', f'--dir={host.home}/ls-link')[0]['entries'] == want


def test_a_directory_of_more_than_10000_entries_gives_the_first_10000_by_name(host):
    d = host.mkdir(f'{host.home}/many')
    for i in range(10001):
        os.close(os.open(f'{d}/{i:05}', os.O_CREAT | os.O_WRONLY, 0o644))
    obj, status = host.json('--list-dir', f'--dir={d}')
    assert (status, obj['truncated'], len(obj['entries'])) == (0, True, 10000)
    assert [e['name'] for e in obj['entries'][::9999]] == ['00000', '09999']
    out, err, status = host.run('--list-dir', f'--dir={d}')
    assert (out.splitlines()[-2:], err, status) == ([f'file 0 {int(os.stat(d + "/09999").st_mtime)} 0644 09999',
                                                     'truncated'], '', 0)


def test_an_empty_directory_lists_nothing(host):
    assert host.json('--list-dir', f'--dir={host.mkdir(host.home + "/empty")}') == (
        {'ok': True, 'entries': [], 'truncated': False}, 0)


def test_a_missing_unreadable_or_other_path_fails_with_step_list(host):
    os.chown(closed := host.mkdir(f'{host.home}/closed'), 0, 0)
    os.chmod(closed, 0o700)
    os.symlink('/none', f'{host.mkdir(host.home + "/d")}/dangling')
    for path, message in [('/none', 'No such directory: /none'), (f'{host.home}/d/dangling', 'No such directory: '
                          f'{host.home}/d/dangling'), ('/etc/passwd', 'Not a directory: /etc/passwd'),
                          (closed, f'Unable to list {closed}: Permission denied')]:
        assert host.json('--list-dir', f'--dir={path}') == (
            {'ok': False, 'error': 'remote', 'message': message, 'step': 'list'}, 1), path
