#!/usr/bin/env python3
# The stand-in game server: standin.py [--ignore-quit] [--lifetime S] [--die MESSAGE] [--query-split BYTES]
# [--query-reorder] [--rcon-mute|--rcon-cut|--rcon-flood] ARGS... binds the UDP ports of ARGS' "+config FILE", logs
# what it does to standin.log beside FILE's folder, and answers queries on the gameSpyPort in packets of about BYTES
# (1400), the last first if asked.  Its console listens on TCP as admin/default.cfg says; asked to, it never greets,
# closes in the middle of a reply to exec, or answers exec with 2 MiB.
import contextlib
import hashlib
import os
import random
import signal
import socket
import struct
import sys
import threading
import time

args, ignore_quit, end, split, reorder, rcon = sys.argv[1:], False, float('inf'), 1400, False, ''
PLAYERS = [[b'Zo\xc3\xab', b'12', b'35', b'1'], [b'bad\nname\xff', b'-3', b'0', b'2'], [b'007', b'7', b'120', b'2']]
while args[0].startswith('--'):
    flag = args.pop(0)
    if flag == '--die':  # cannot start: says why on its error output, byte for byte
        sys.stderr.buffer.write(os.fsencode(args.pop(0)) + b'\n')
        sys.exit(1)
    ignore_quit = ignore_quit or flag == '--ignore-quit'
    end = time.monotonic() + float(args.pop(0)) if flag == '--lifetime' else end
    split = int(args.pop(0)) if flag == '--query-split' else split
    reorder = reorder or flag == '--query-reorder'
    rcon = flag if flag.startswith('--rcon-') else rcon
config = args[args.index('+config') + 1]
log = open(os.path.join(os.path.dirname(os.path.dirname(config)), 'standin.log'), 'a', buffering=1)
log.write('args ' + ' '.join(args) + '\n')
signal.signal(signal.SIGTERM, lambda signum, _: (log.write(f'exit signal {signum}\n'), os._exit(0)))
settings = {w[0]: w[-1] for w in map(str.split, open(config, errors='replace')) if len(w) > 1}
ports = (settings['sv.serverPort'], settings['sv.gameSpyPort'])
sockets = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in ports]
for s, port in zip(sockets, ports):
    s.bind(('0.0.0.0', int(port)))
log.write('bound %s %s\n' % ports)
name = next((w.split(' ', 1)[1].strip().strip('"') for w in open(config, errors='replace')
             if w.startswith('sv.serverName ')), '').encode()


def reply(session):
    """The game's split reply: each packet's sections start with their number; a cut field starts again in
    the next packet with its name and the index of its next value."""
    keys = [b'hostname', name, b'mapname', b'Strike at Karkand', b'gametype', b'gpm_cq', b'numplayers',
            str(len(PLAYERS)).encode(), b'maxplayers', settings['sv.maxPlayers'].encode()]
    bodies, body = [], b'\0' + b''.join(k + b'\0' for k in keys) + b'\0\1'
    for f, field in enumerate((b'player_', b'score_', b'ping_', b'team_')):
        body += field + b'\0\0'
        for i, p in enumerate(PLAYERS):
            if len(body) + len(p[f]) > split:
                bodies, body = bodies + [body], b'\1' + field + b'\0' + bytes([i])
            body += p[f] + b'\0'
        body += b'\0'
    bodies.append(body + b'\0\2team_t\0\0MEC\0US\0\0\0')
    last = len(bodies) - 1
    packets = [b'\0' + session + b'splitnum\0' + bytes([n | (n == last) << 7]) + b for n, b in enumerate(bodies)]
    return packets[::-1] if reorder else packets


def answer(s):
    while True:
        request, peer = s.recvfrom(2048)
        if len(request) == 11 and request.startswith(b'\xfe\xfd\0'):
            for packet in reply(request[3:7]):
                s.sendto(packet, peer)


threading.Thread(target=answer, args=(sockets[1],), daemon=True).start()
LIST = (b'Id:  1 - Zo\xc3\xab is remote ip: 10.0.0.1:1001 -> CD-key hash: 0123456789abcdef0123456789ABCDEF\n'
        b'Id:  2 - a - b is remote ip: c is remote ip: 10.0.0.2:1002 -> \n  CD-key hash: ' + b'f' * 32 + b'\n'
        b'Id: 12 - 007 is remote ip: 10.0.0.3:1003 -> \n')


def console(conn, seed, password):
    """The game's console protocol on one connection: each line beginning with \\x02 gets its reply and \\x04."""
    conn.sendall(b'### Battlefield 2 default RCON/admin ready.\n### Digest seed: ' + seed + b'\n\n')
    data, authenticated = b'', False
    while len(data) <= 128 and (got := conn.recv(1024)):
        data += got
        while b'\n' in data:
            line, data = data.split(b'\n', 1)
            marked, line = line.startswith(b'\2'), line.removeprefix(b'\2')
            answer = b''
            if line.startswith(b'login '):
                authenticated = password != b'' and line[6:] == hashlib.md5(seed + password).hexdigest().encode()
                log.write(f'rcon login {"ok" if authenticated else "failed"}\n')
                answer = b'Authentication successful, rcon ready.\n' if authenticated else b'Authentication failed.\n'
            elif not authenticated:
                answer = b"error: not authenticated: you can only invoke 'login'\n"
            elif line.startswith(b'exec '):
                log.write(f'rcon {line.decode(errors="replace")}\n')
                answer = {b'exec admin.listPlayers': LIST, b'exec mapList.list': b'0: strike_at_karkand gpm_cq 16\n'
                          }.get(line, b'') if not rcon else b'x' * (2 << 20) if rcon == '--rcon-flood' else b'half'
                if rcon == '--rcon-cut':
                    return conn.sendall(answer)
            conn.sendall(answer + b'\4' * marked)


def listen():
    """The console: port and password from admin/default.cfg in the working directory, as the game reads them.
    Without the file the game's default 4711; a failed bind is logged only when the file asked for the port."""
    try:
        lines = open('admin/default.cfg', 'rb').read().splitlines()
    except OSError:
        lines = None
    cfg = {p[0].strip(): p[1].strip() for p in (line.split(b'=') for line in lines or []) if len(p) == 2}
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        server.bind(('0.0.0.0', int(cfg.get(b'port', 4711))))
    except (OSError, ValueError) as e:
        return lines is None or log.write(f'rcon bind failed: {e}\n')
    server.listen()
    while True:
        conn = server.accept()[0]
        # Closed by a reset: a close of its own must leave no TIME_WAIT on the port, which a start counts as taken.
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
        seed = ''.join(random.choices('abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ', k=16)).encode()
        threading.Thread(target=serve, args=(conn, seed, cfg.get(b'password', b'')), daemon=True).start()


def serve(conn, seed, password):
    with conn, contextlib.suppress(OSError):
        conn.recv(1) if rcon == '--rcon-mute' else console(conn, seed, password)


threading.Thread(target=listen, daemon=True).start()
print('standin up', file=sys.stderr, flush=True)
# The console pipe's first writer ends at once and later ones (stop, console)
# come through the same pipe: end of input is not the end, as in the game.
while time.monotonic() < end:
    line = sys.stdin.buffer.readline()
    if not line:
        time.sleep(0.05)
        continue
    line = line.rstrip(b'\n').decode(errors='replace')
    log.write('console ' + line + '\n')
    if line == 'quit':
        log.write('ignored quit\n' if ignore_quit else 'exit quit\n')
        if not ignore_quit:
            sys.exit(0)
log.write('exit lifetime\n')
sys.exit('lifetime over')
