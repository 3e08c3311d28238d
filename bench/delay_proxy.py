#!/usr/bin/python3
"""A TCP proxy that holds every chunk DELAY seconds in each direction and at
most HELD bytes per direction: a link of round trip 2 * DELAY on loopback,
where the windows, not the CPU, set the pace of a transfer.

A proxy that holds data DELAY seconds with at most HELD bytes moves
HELD / DELAY, so a link whose TCP window is W at a round trip of 2 * DELAY
is emulated with HELD = W / 2 (W per round trip).  It stops reading while
HELD bytes wait and reads and writes through small socket buffers, so the
sender's TCP meets the bound as a full window instead of the proxy queueing
whatever comes, which would hide TCP's own window.

    bench/delay_proxy.py LISTEN_ADDRESS TARGET_ADDRESS PORT [DELAY [HELD]]

runs until killed;

    bench/delay_proxy.py --check LISTEN_ADDRESS TARGET_ADDRESS PORT DELAY HELD

streams plain TCP through such a proxy into a sink on TARGET_ADDRESS:PORT
and prints what it moved per round trip (DELAY 0: the proxy's own ceiling).
bench/roundtrips.py imports start_proxy."""
import asyncio
import collections
import socket
import subprocess
import sys
import threading
import time

DELAY = 0.05
# An untuned Debian host's TCP window, about 3 MiB.
HELD = 3 << 19
# Each socket's buffers, which the kernel doubles: small beside any HELD.
SOCKET_BUFFER = 256 << 10
CHUNK = 256 << 10


def small_buffers(sock):
    for option in (socket.SO_RCVBUF, socket.SO_SNDBUF):
        sock.setsockopt(socket.SOL_SOCKET, option, SOCKET_BUFFER)
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    sock.setblocking(False)


async def pipe(src, dst, delay, held):
    """Forwards what src gets to dst, each chunk delay after it came, with
    at most held bytes taken from src and not yet handed to dst."""
    loop = asyncio.get_running_loop()
    queue, waiting, room = collections.deque(), asyncio.Event(), asyncio.Event()
    queued = 0

    async def send():
        nonlocal queued
        while True:
            while not queue:
                waiting.clear()
                await waiting.wait()
            due, data = queue.popleft()
            await asyncio.sleep(max(0, due - time.monotonic()))
            if not data:
                dst.shutdown(socket.SHUT_WR)
                return
            await loop.sock_sendall(dst, data)
            queued -= len(data)
            room.set()
    sender = asyncio.ensure_future(send())
    while True:
        while queued >= held:
            room.clear()
            await room.wait()
        data = await loop.sock_recv(src, min(CHUNK, held - queued))
        queued += len(data)
        queue.append((time.monotonic() + delay, data))
        waiting.set()
        if not data:
            break
    await sender


async def serve(listen, target, port, delay, held):
    loop = asyncio.get_running_loop()
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    small_buffers(server)  # taken over by every accepted socket
    server.bind((listen, port))
    server.listen(64)

    async def handle(client):
        up = socket.socket()
        small_buffers(up)
        try:
            await loop.sock_connect(up, (target, port))
            await asyncio.gather(pipe(client, up, delay, held), pipe(up, client, delay, held),
                                 return_exceptions=True)
        finally:
            client.close()
            up.close()
    tasks = set()
    while True:
        client, _ = await loop.sock_accept(server)
        small_buffers(client)
        tasks.add(task := asyncio.ensure_future(handle(client)))
        task.add_done_callback(tasks.discard)


def start_proxy(listen, target, port, delay=DELAY, held=HELD):
    """Serves in a thread of this process."""
    threading.Thread(target=lambda: asyncio.run(serve(listen, target, port, delay, held)),
                     daemon=True).start()
    time.sleep(0.5)


def check(listen, target, port, delay, held, seconds=4.0):
    """Streams through a proxy of its own for seconds after a second's
    start; prints the bytes moved per round trip beside the bound's 2 * held."""
    sink = socket.create_server((target, port))
    proxy = subprocess.Popen([sys.executable, __file__, listen, target, str(port), str(delay), str(held)])
    got, marks = [0], []

    def drain():
        conn, _ = sink.accept()
        buffer = bytearray(1 << 20)
        while n := conn.recv_into(buffer):
            got[0] += n
    reader = threading.Thread(target=drain, daemon=True)
    reader.start()
    try:
        for _ in range(50):
            time.sleep(0.1)
            try:
                out = socket.create_connection((listen, port))
                break
            except ConnectionRefusedError:
                pass
        block, end = bytes(1 << 20), time.monotonic() + 1 + seconds
        threading.Timer(1, lambda: marks.append((time.monotonic(), got[0]))).start()
        while time.monotonic() < end:
            out.sendall(block)
        marks.append((time.monotonic(), got[0]))
        out.close()
    finally:
        proxy.kill()
        proxy.wait()
    (t0, b0), (t1, b1) = marks
    rate = (b1 - b0) / (t1 - t0)
    if delay:
        print(f'plain TCP through the proxy, {2000 * delay:.0f} ms round trip, W = {2 * held / 2**20:g} MiB: '
              f'{rate * 2 * delay / 2**20:.2f} MiB per round trip ({rate / 1e6:.1f} MB/s)')
    else:
        print(f'the proxy\'s own ceiling (no delay, {held / 2**20:g} MiB held): {rate / 1e6:.0f} MB/s')


if __name__ == '__main__':
    if sys.argv[1] == '--check':
        check(sys.argv[2], sys.argv[3], int(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6]))
    else:
        asyncio.run(serve(sys.argv[1], sys.argv[2], int(sys.argv[3]),
                          float(sys.argv[4]) if len(sys.argv) > 4 else DELAY,
                          int(sys.argv[5]) if len(sys.argv) > 5 else HELD))
