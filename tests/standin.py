#!/usr/bin/env python3
# The stand-in game server: standin.py [--ignore-quit] [--lifetime S] [--die MESSAGE] ARGS...
# binds the UDP ports of ARGS' "+config FILE", logs what it does to standin.log beside FILE's folder.
import os
import signal
import socket
import sys
import time

args, ignore_quit, end = sys.argv[1:], False, float('inf')
while args[0].startswith('--'):
    flag = args.pop(0)
    if flag == '--die':  # cannot start: says why on its error output, byte for byte
        sys.stderr.buffer.write(os.fsencode(args.pop(0)) + b'\n')
        sys.exit(1)
    ignore_quit = ignore_quit or flag == '--ignore-quit'
    end = time.monotonic() + float(args.pop(0)) if flag == '--lifetime' else end
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
