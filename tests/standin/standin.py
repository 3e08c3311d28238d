#!/usr/bin/env python3
# Stands in for the game server in the tests, as its start.sh runs it:
#   standin.py [--ignore-quit] [--ignore-term] [--lifetime S] ARGS...
# ARGS are the game's own ("+config FILE", "+mapList FILE").  It binds the
# UDP ports of sv.serverPort and sv.gameSpyPort from FILE and logs to
# standin.log in the configuration directory (FILE's grandparent): its
# arguments, the ports bound, every console line, and why it ended.
import os
import signal
import socket
import sys
import time


def main():
    args = sys.argv[1:]
    ignore_quit = ignore_term = False
    lifetime = None
    while args and args[0].startswith('--'):
        opt = args.pop(0)
        if opt == '--ignore-quit':
            ignore_quit = True
        elif opt == '--ignore-term':
            ignore_term = True
        elif opt == '--lifetime':
            lifetime = float(args.pop(0))
        else:
            sys.exit('standin: unknown option ' + opt)
    config = args[args.index('+config') + 1]
    args[args.index('+mapList') + 1]  # required, like the game's

    log = open(os.path.join(os.path.dirname(os.path.dirname(config)), 'standin.log'), 'a',
               buffering=1)
    log.write('args ' + ' '.join(args) + '\n')

    def on_term(signum, frame):
        if ignore_term:
            log.write('ignored signal %d\n' % signum)
            return
        log.write('exit signal %d\n' % signum)
        os._exit(0)
    signal.signal(signal.SIGTERM, on_term)

    settings = {}
    with open(config, 'rb') as f:
        for line in f:
            words = line.split(None, 1)
            if len(words) == 2:
                settings[words[0].decode()] = words[1].strip().decode()
    sockets = []
    for key in ('sv.serverPort', 'sv.gameSpyPort'):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind(('0.0.0.0', int(settings[key])))
        sockets.append(s)
    log.write('bound %s %s\n' % (settings['sv.serverPort'], settings['sv.gameSpyPort']))
    sys.stderr.write('standin up\n')
    sys.stderr.flush()

    # The console pipe's first writer ends at once; later writers (the stop
    # script) come through the same pipe, so end of input is not the end:
    # keep reading, like the game's console does.
    os.set_blocking(0, False)
    pending = b''
    started = time.monotonic()
    while True:
        if lifetime is not None and time.monotonic() - started >= lifetime:
            log.write('exit lifetime\n')
            return 0
        try:
            chunk = os.read(0, 4096)
        except BlockingIOError:
            chunk = b''
        if not chunk:
            time.sleep(0.05)
            continue
        pending += chunk
        while b'\n' in pending:
            line, pending = pending.split(b'\n', 1)
            log.write('console ' + line.decode(errors='replace') + '\n')
            if line == b'quit':
                if ignore_quit:
                    log.write('ignored quit\n')
                else:
                    log.write('exit quit\n')
                    return 0


if __name__ == '__main__':
    sys.exit(main())
