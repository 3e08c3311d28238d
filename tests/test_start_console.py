"""What a start gives the game beyond its settings: the console's settings, a mod and a map list."""
import os
import re
import stat

import fixture as fx


def content(path):  # a regular file's text and mode, never through a link
    return stat.S_ISREG((st := os.lstat(path)).st_mode) and (open(path).read(), st.st_mode & 0o777)


def test_every_launch_puts_the_console_settings_in_the_tree_replacing_what_stands_there(server):
    s = server()
    admin, maplist, default = (f'{s.cfg}/settings/adminsettings.con', f'{s.cfg}/settings/maplist.con',
                               f'{s.srv}/admin/default.cfg')
    os.makedirs(f'{s.srv}/mods/xpack/levels/a_map'), os.makedirs(f'{s.srv}/mods/xpack/levels/b')
    s.put('outside', 'keep\n')
    os.symlink(f'{s.cfg}/outside', admin), os.symlink(f'{s.cfg}/outside', maplist)
    rcon = (f'port={s.port + 3}\npassword=rcon pw\n', 0o600)
    assert s.start(restart_on_crash=True, mod='xpack', maps='a_map:gpm_cq:64,b:gpm_ctf:16') == fx.OK
    assert fx.wait_until(s.running), s.log()
    assert [content(admin), content(default), content(maplist)] == [
        rcon, rcon, ('mapList.append a_map gpm_cq 64\nmapList.append b gpm_ctf 16\n', 0o600)]
    assert os.stat(f'{s.srv}/admin').st_mode & 0o777 == 0o700 and content(f'{s.cfg}/outside') == ('keep\n', 0o644)
    assert s.log().startswith(args := s.log_head().split('\n')[0] + ' +modPath mods/xpack\n'), s.log()
    # An update of the tree leaves another file, then a pipe, at the name: the relaunch puts them right.
    for plant in (lambda: open(default, 'w').write('port=4711\npassword=\n'), lambda: (os.remove(default),
                                                                                       os.mkfifo(default))):
        plant()
        pid = fx.read_pid(f'{s.cfg}/server.pid')
        fx.sh(f'kill -9 {pid}')
        assert fx.wait_until(lambda: s.running() and fx.read_pid(f'{s.cfg}/server.pid') != pid, 20), s.status()
        assert content(default) == rcon and s.log().endswith(args + s.bound), s.log()
    assert s.console_up() and s.rcon('--rcon', '--line=mapList.list') == ('0: strike_at_karkand gpm_cq 16\n', '', 0)
    # Closed: off the default port; a directory of the account's at each name goes.
    for path in (admin, default):
        os.remove(path), os.makedirs(f'{path}/sub'), fx.sh(f'chown -R {s.host.login} {fx.q(path)}')
    assert s.start(rcon_username=None, rcon_password=None, rcon_port=None, no_rcon=True) == fx.OK
    assert [content(admin), content(default)] == [('port=0\npassword=\n', 0o600)] * 2
    assert fx.wait_until(s.running) and s.log().endswith(s.log_head()), s.log()  # the map list stays as it was
    # The game listens all the same, on a port the kernel picked, and lets nobody in.
    pid = fx.read_pid(f'{s.cfg}/server.pid')
    assert fx.wait_until(lambda: f'pid={pid},' in fx.sh('ss -Hltnp').stdout)
    port = int(re.search(rf':(\d+) .*pid={pid},', fx.sh('ss -Hltnp').stdout)[1])
    assert port != 4711 and s.rcon('--rcon', '--line=x', port=port - s.port) == ('Rcon login failed\n', '', 1)
    assert content(maplist)[0].startswith('mapList.append a_map') and s.stop() == fx.OK


def test_a_tree_runs_servers_of_other_configurations_only_with_the_same_console(server):
    s, t = server(), server()
    closed = dict(rcon_username=None, rcon_password=None, rcon_port=None, no_rcon=True)
    assert s.start(**closed) == t.start(srv_dir=s.srv, **closed) == fx.OK
    assert fx.wait_until(s.running) and fx.wait_until(t.running)
    assert t.stop() == fx.OK and (settings := t.settings())
    # Nothing changes, this start's own files included; a restart of the running one goes on.
    assert t.host.json(*t.options(srv_dir=s.srv, name='other')) == ({'ok': False, 'error': 'server-running', 'message':
        f"Server tree {s.srv} runs another configuration's server with other console settings"}, 1)
    assert t.settings() == settings and open(f'{t.cfg}/settings/adminsettings.con').read() == 'port=0\npassword=\n'
    assert open(f'{s.srv}/admin/default.cfg').read() == 'port=0\npassword=\n' and s.running()
    assert s.start() == fx.OK and fx.wait_until(s.running)


def test_a_missing_mod_or_map_refuses_the_start_unchanged_and_an_unwritable_admin_dir_fails_the_launch(server):
    s = server()
    os.makedirs(f'{s.srv}/mods/bf2/levels/kubra')
    assert s.start(maps='kubra:gpm_cq:16') == fx.OK and fx.wait_until(s.running)
    assert s.host.run(*s.options(rcon_password=None), env={'BF2_RCON_PASSWORD': ''}) == (
        'Rcon password is empty\n', '', 1)
    pid, settings = fx.read_pid(f'{s.cfg}/server.pid'), s.settings()
    for changes, step, message in [
            ({'mod': 'xpack'}, 'mod', f'Mod xpack is not installed in {s.srv}'),
            ({'maps': 'kubra:gpm_cq:16,oman:gpm_cq:32'}, 'maps', f'Map oman is not installed in {s.srv}/mods/bf2/levels')]:
        assert s.host.json(*s.options(**changes)) == ({'ok': False, 'error': 'remote', 'step': step,
                                                       'message': message}, 1)
        assert fx.read_pid(f'{s.cfg}/server.pid') == pid and s.settings() == settings
        assert open(f'{s.cfg}/settings/maplist.con').read() == 'mapList.append kubra gpm_cq 16\n'
    # The start script cannot write into the tree's admin/: the start fails with its reason.
    os.chmod(f'{s.srv}/admin', 0o500)
    assert s.host.json(*s.options()) == ({'ok': False, 'error': 'remote', 'step': 'rcon-config', 'message': (
        f'Set rcon settings failed in {s.srv}/admin/default.cfg: mktemp: failed to create file via template '
        '‘admin/.bf2ctl.XXXXXX’: Permission denied')}, 1)

