#!/usr/bin/env python3
# Stands in for the game server, as its start.sh runs it:
#   standin.py [--ignore-quit] [--lifetime S] [--die MESSAGE] ARGS...
# with the game's ARGS, "+config FILE" among them.  It binds the UDP ports of
# sv.serverPort and sv.gameSpyPort from FILE and logs its arguments, the ports
# bound, every console line and why it ended to standin.log in the
# configuration directory (FILE's grandparent).
import os
import signal
import socket
import sys
import time


def main():
    args = sys.argv[1:]
    ignore_quit = False
    end = float('inf')
    while args[0].startswith('--'):
        flag = args.pop(0)
        if flag == '--ignore-quit':
            ignore_quit = True
        elif flag == '--die':  # cannot start: says why on its error output
            sys.exit(args.pop(0))
        else:  # --lifetime S
            end = time.monotonic() + float(args.pop(0))
    config = args[args.index('+config') + 1]

    log = open(os.path.join(os.path.dirname(os.path.dirname(config)), 'standin.log'), 'a',
               buffering=1)
    log.write('args ' + ' '.join(args) + '\n')

    def on_term(signum, frame):
        log.write('exit signal %d\n' % signum)
        os._exit(0)
    signal.signal(signal.SIGTERM, on_term)

    settings = {w[0]: w[-1] for w in map(str.split, open(config, errors='replace')) if len(w) > 1}
    ports = (settings['sv.serverPort'], settings['sv.gameSpyPort'])
    sockets = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in ports]
    for s, port in zip(sockets, ports):
        s.bind(('0.0.0.0', int(port)))
    log.write('bound %s %s\n' % ports)
    print('standin up', file=sys.stderr, flush=True)

    # The console pipe's first writer ends at once; later writers (the stop
    # script) come through the same pipe, so end of input is not the end:
    # keep reading, like the game's console does.
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
                return 0
    log.write('exit lifetime\n')
    return 0


if __name__ == '__main__':
    sys.exit(main())
