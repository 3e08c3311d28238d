#!/usr/bin/python3
"""A TCP proxy that holds every chunk DELAY seconds in each direction: a
round trip of 2 * DELAY on loopback, where the window, not the CPU, sets
the pace of a transfer.

    bench/delay_proxy.py LISTEN_ADDRESS TARGET_ADDRESS PORT [DELAY]

runs until killed; bench/roundtrips.py imports start_proxy."""
import asyncio
import sys
import threading
import time

DELAY = 0.05


async def pipe(reader, writer, delay):
    """Forwards what reader gets to writer, each chunk delay after it came."""
    queue = asyncio.Queue()

    async def send():
        while True:
            due, data = await queue.get()
            await asyncio.sleep(max(0, due - time.monotonic()))
            if not data:
                writer.close()
                return
            writer.write(data)
            await writer.drain()
    sender = asyncio.ensure_future(send())
    while True:
        data = await reader.read(65536)
        queue.put_nowait((time.monotonic() + delay, data))
        if not data:
            break
    await sender


async def serve(listen, target, port, delay):
    async def handle(reader, writer):
        up_reader, up_writer = await asyncio.open_connection(target, port)
        await asyncio.gather(pipe(reader, up_writer, delay), pipe(up_reader, writer, delay),
                             return_exceptions=True)
    server = await asyncio.start_server(handle, listen, port)
    await server.serve_forever()


def start_proxy(listen, target, port, delay=DELAY):
    """Serves in a thread of this process."""
    threading.Thread(target=lambda: asyncio.run(serve(listen, target, port, delay)), daemon=True).start()
    time.sleep(0.5)


if __name__ == '__main__':
    asyncio.run(serve(sys.argv[1], sys.argv[2], int(sys.argv[3]),
                      float(sys.argv[4]) if len(sys.argv) > 4 else DELAY))
