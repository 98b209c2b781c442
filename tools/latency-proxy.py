#!/usr/bin/env python3
"""A TCP relay on 127.0.0.1 that delays everything by a fixed time each way, as a
distant server would be. An end closed with data unread (a reset) is passed on as a
reset; an orderly close as an orderly close. Data from the server that reaches a client
after the client has closed (its system would answer with a reset) is passed on as a
reset too, and counted: a line "unread N" in LOG for each time.

    latency-proxy.py LISTEN_PORT TARGET_PORT DELAY_MS [LOG]
"""
import socket
import struct
import sys
import threading
import time
from collections import deque

RESET = object()
CLOSED = object()


def reset(sock):
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        sock.close()
    except OSError:
        pass


class Pipe:
    """One direction: what `source` sends reaches `target` `delay` seconds later."""

    def __init__(self, source, target, delay, source_closed, target_closed, log):
        self.source, self.target, self.delay = source, target, delay
        self.source_closed, self.target_closed, self.log = source_closed, target_closed, log
        self.queue = deque()
        self.ready = threading.Condition()

    def start(self):
        threading.Thread(target=self.read, daemon=True).start()
        threading.Thread(target=self.write, daemon=True).start()

    def put(self, item):
        with self.ready:
            self.queue.append((time.monotonic() + self.delay, item))
            self.ready.notify()

    def read(self):
        while True:
            try:
                data = self.source.recv(65536)
            except ConnectionResetError:
                data = RESET
            except OSError:
                data = b""
            if data is RESET or not data:
                self.source_closed.set()
                self.put(CLOSED if data is not RESET else RESET)
                return
            self.put(data)

    def write(self):
        while True:
            with self.ready:
                while not self.queue:
                    self.ready.wait()
                due, item = self.queue.popleft()
            time.sleep(max(0.0, due - time.monotonic()))
            try:
                if item is RESET:
                    reset(self.target)
                    return
                if item is CLOSED:
                    self.target.shutdown(socket.SHUT_WR)
                    return
                if self.target_closed.is_set():
                    self.log(f"unread {len(item)}")
                    reset(self.source)
                    return
                self.target.sendall(item)
            except OSError:
                # The far end refused what was sent (it closed, and its system answered
                # with a reset): so does this relay towards the sender.
                reset(self.source)
                return


def main():
    listen_port, target_port, delay_ms = (int(arg) for arg in sys.argv[1:4])
    log_file = open(sys.argv[4], "a", buffering=1) if len(sys.argv) > 4 else sys.stderr
    lock = threading.Lock()

    def log(line):
        with lock:
            print(line, file=log_file)

    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", listen_port))
    server.listen(16)
    while True:
        client, _ = server.accept()
        try:
            upstream = socket.create_connection(("127.0.0.1", target_port))
        except OSError:
            client.close()
            continue
        for sock in (client, upstream):
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        client_closed, upstream_closed = threading.Event(), threading.Event()
        Pipe(client, upstream, delay_ms / 1000, client_closed, upstream_closed, log).start()
        Pipe(upstream, client, delay_ms / 1000, upstream_closed, client_closed, log).start()


if __name__ == "__main__":
    main()
