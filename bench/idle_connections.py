#!/usr/bin/env python3
"""Connection floods against a server over loopback.

Default mode: opens many idle connections, times one normal request while
they are open, closes them, and reports the server's RSS before, during and
after.
  idle_connections.py PORT PID PATH [COUNT]

Flood mode: IDLE idle connections, then SLOW slow clients that send their
request one byte every 5 s (and start over when the server closes them),
while a normal client requests PATH every 50 ms. Reports, for each flood,
the server's threads and RSS during it and 40 s after it, and the normal
client's p50/p99 and failures during it. PIDS are the server's processes
(nginx: master and workers), summed.
  idle_connections.py flood PORT PATH IDLE SLOW SECONDS PID [PID...]
The idle connections are held by helper processes of at most 9,000 each
(idle_connections.py hold PORT COUNT), so that no process of the benchmark
needs more descriptors than a restricted machine allows.
"""
import os
import resource
import selectors
import socket
import struct
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "process"))
import process_support as kv  # noqa: E402 - the one socket reader


def status_field(pid, name):
    """One numeric field of /proc/PID/status (VmRSS in KiB, Threads), or -1."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(name + ":"):
                return int(line.split()[1])
    return -1


def total(pids, name):
    return sum(status_field(pid, name) for pid in pids)


def timed_request(port, path):
    start = time.monotonic()
    s = socket.create_connection(("127.0.0.1", port), timeout=30)
    s.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n".encode())
    data = kv.read_until_closed(s)
    s.close()
    return time.monotonic() - start, data.split(b"\r\n", 1)[0].decode()


def idle_mode(argv):
    port, pid, path = int(argv[0]), int(argv[1]), argv[2]
    count = int(argv[3]) if len(argv) > 3 else 1000
    timed_request(port, path)
    before = status_field(pid, 'VmRSS')
    idle = [socket.create_connection(("127.0.0.1", port), timeout=30) for _ in range(count)]
    time.sleep(1.0)
    elapsed, status = timed_request(port, path)
    time.sleep(4.0)
    later, later_status = timed_request(port, path)
    during = status_field(pid, 'VmRSS')
    threads_during = status_field(pid, 'Threads')
    for s in idle:
        s.close()
    time.sleep(12.0)  # the read waits end, their connections close
    after = status_field(pid, 'VmRSS')
    print(f"idle={count} request_seconds={elapsed:.3f} then={later:.3f} status='{status}' "
          f"'{later_status}' rss_kib_before={before} during={during} after={after} "
          f"threads_during={threads_during} after={status_field(pid, 'Threads')}")


def abort(s):
    """Closes with a reset: no TIME_WAIT left to use up the loopback's ports."""
    try:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        s.close()
    except OSError:
        pass


class NormalClient(threading.Thread):
    """Requests PATH every 50 ms, recording each latency or failure."""

    def __init__(self, port, path):
        super().__init__(daemon=True)
        self.port, self.path = port, path
        self.latencies, self.failures = [], 0
        self.running = True

    def run(self):
        while self.running:
            try:
                elapsed, status = timed_request(self.port, self.path)
                if " 200 " in status:
                    self.latencies.append(elapsed)
                else:
                    self.failures += 1
            except OSError:
                self.failures += 1
            time.sleep(0.05)

    def stop(self):
        self.running = False
        self.join(timeout=60)
        ordered = sorted(self.latencies) or [float("nan")]
        pick = lambda q: ordered[min(len(ordered) - 1, int(q * len(ordered)))]  # noqa: E731
        return (f"requests={len(self.latencies)} failed={self.failures} "
                f"p50_ms={1000 * pick(0.50):.1f} p99_ms={1000 * pick(0.99):.1f}")


class PeakWatcher(threading.Thread):
    """The highest thread count and RSS of PIDS, sampled every 250 ms."""

    def __init__(self, pids):
        super().__init__(daemon=True)
        self.pids, self.threads, self.rss, self.running = pids, 0, 0, True
        self.start()

    def run(self):
        while self.running:
            self.threads = max(self.threads, total(self.pids, "Threads"))
            self.rss = max(self.rss, total(self.pids, "VmRSS"))
            time.sleep(0.25)

    def stop(self):
        self.running = False
        self.join()
        return f"peak threads={self.threads} peak rss_kib={self.rss}"


def open_idle(port, count):
    sockets = []
    for _ in range(count):
        try:
            sockets.append(socket.create_connection(("127.0.0.1", port), timeout=30))
        except OSError as error:
            print(f"  opened {len(sockets)} of {count}: {error}")
            break
    return sockets


HELD_PER_PROCESS = 9000


def hold_mode(argv):
    """Opens COUNT idle connections, says how many, holds them until told."""
    port, count = int(argv[0]), int(argv[1])
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    held = open_idle(port, count)
    print(len(held), flush=True)
    sys.stdin.readline()
    for s in held:
        abort(s)


def open_idle_in_helpers(port, count):
    helpers, opened = [], 0
    while opened < count:
        n = min(HELD_PER_PROCESS, count - opened)
        helpers.append(subprocess.Popen([sys.executable, __file__, "hold", str(port), str(n)],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True))
        opened += n
    held = sum(int(helper.stdout.readline() or 0) for helper in helpers)
    return helpers, held


def close_helpers(helpers):
    for helper in helpers:
        helper.stdin.write("\n")
        helper.stdin.flush()
    for helper in helpers:
        helper.wait(timeout=120)


def slow_flood(port, count, seconds):
    """COUNT clients, one byte every 5 s each; a closed one starts over."""
    request = b"GET / HTTP/1.1\r\nHost: x\r\nUser-Agent: slow\r\n\r\n"
    selector = selectors.DefaultSelector()
    clients = {}  # socket -> bytes sent

    def connect():
        s = socket.create_connection(("127.0.0.1", port), timeout=30)
        s.setblocking(False)
        selector.register(s, selectors.EVENT_READ)
        clients[s] = 0

    for _ in range(count):
        connect()
    restarted = 0
    deadline = time.monotonic() + seconds
    next_byte = time.monotonic()
    while time.monotonic() < deadline:
        if time.monotonic() >= next_byte:
            for s in list(clients):
                try:
                    s.send(request[clients[s] % len(request):][:1])
                    clients[s] += 1
                except OSError:
                    pass
            next_byte += 5.0
        for key, _ in selector.select(timeout=0.2):
            s = key.fileobj
            try:
                data = s.recv(4096)
            except OSError:
                data = b""
            if not data:  # the server closed it: start over, as an attacker would
                selector.unregister(s)
                del clients[s]
                abort(s)
                connect()
                restarted += 1
    for s in list(clients):
        selector.unregister(s)
        abort(s)
    return restarted


def flood_mode(argv):
    port, path = int(argv[0]), argv[1]
    idle_count, slow_count, seconds = int(argv[2]), int(argv[3]), int(argv[4])
    pids = [int(p) for p in argv[5:]]
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    print(f"  at rest: threads={total(pids, 'Threads')} rss_kib={total(pids, 'VmRSS')}")

    peak = PeakWatcher(pids)
    helpers, held = open_idle_in_helpers(port, idle_count)
    time.sleep(2)  # the last of them handed over (Linux defers silent ones)
    client = NormalClient(port, path)  # measured while the flood is held
    client.start()
    time.sleep(seconds)
    print(f"  {held} idle connections: threads={total(pids, 'Threads')} "
          f"rss_kib={total(pids, 'VmRSS')} {peak.stop()} normal client: {client.stop()}")
    close_helpers(helpers)
    time.sleep(40)
    print(f"  40 s after: threads={total(pids, 'Threads')} rss_kib={total(pids, 'VmRSS')}")

    result = {}
    peak = PeakWatcher(pids)
    flood = threading.Thread(target=lambda: result.update(
        restarted=slow_flood(port, slow_count, seconds + 12)))
    flood.start()
    time.sleep(2)
    client = NormalClient(port, path)
    client.start()
    time.sleep(seconds)
    during = f"threads={total(pids, 'Threads')} rss_kib={total(pids, 'VmRSS')} {peak.stop()}"
    stats = client.stop()
    flood.join()
    print(f"  {slow_count} slow clients: {during} normal client: {stats} "
          f"(slow clients closed by the server and restarted: {result.get('restarted')})")
    time.sleep(40)
    print(f"  40 s after: threads={total(pids, 'Threads')} rss_kib={total(pids, 'VmRSS')}")


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "flood":
        flood_mode(sys.argv[2:])
    elif len(sys.argv) > 1 and sys.argv[1] == "hold":
        hold_mode(sys.argv[2:])
    else:
        idle_mode(sys.argv[1:])
