#!/usr/bin/env python3
"""Opens many idle connections to a server, times one normal request while
they are open, closes them, and reports the server's RSS before, during and
after. Usage: idle_connections.py PORT PID PATH [COUNT]"""
import socket
import sys
import time


def status_field(pid, name):
    """One numeric field of /proc/PID/status (VmRSS in KiB, Threads), or -1."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(name + ":"):
                return int(line.split()[1])
    return -1


def timed_request(port, path):
    start = time.monotonic()
    s = socket.create_connection(("127.0.0.1", port), timeout=30)
    s.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
    data = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        data += chunk
    s.close()
    return time.monotonic() - start, data.split(b"\r\n", 1)[0].decode()


def main():
    port, pid, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    count = int(sys.argv[4]) if len(sys.argv) > 4 else 1000
    timed_request(port, path)
    before = status_field(pid, 'VmRSS')
    idle = [socket.create_connection(("127.0.0.1", port), timeout=30) for _ in range(count)]
    time.sleep(1.0)
    elapsed, status = timed_request(port, path)
    # Linux hands a connection that sends nothing to the server only after
    # waiting a second or two for its first bytes; by now every idle one has
    # a worker waiting on it.
    time.sleep(4.0)
    later, later_status = timed_request(port, path)
    during = status_field(pid, 'VmRSS')
    threads_during = status_field(pid, 'Threads')
    for s in idle:
        s.close()
    time.sleep(12.0)  # the workers' read waits end, their connections close
    after = status_field(pid, 'VmRSS')
    print(f"idle={count} request_seconds={elapsed:.3f} then={later:.3f} status='{status}' "
          f"'{later_status}' rss_kib_before={before} during={during} after={after} "
          f"threads_during={threads_during} after={status_field(pid, 'Threads')}")


if __name__ == "__main__":
    main()
