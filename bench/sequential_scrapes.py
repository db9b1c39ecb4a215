#!/usr/bin/env python3
"""Scrapes http://127.0.0.1:PORT PATH COUNT times, one after the other, each
on a new connection as Prometheus makes them at every interval, and prints
one line: "count=N p50=MICROSECONDS p99=MICROSECONDS bytes=LAST_SIZE".
A scrape that does not answer 200 ends the run with an error."""
import socket
import sys
import time


def scrape(port, path):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n".encode())
        chunks = []
        while chunk := s.recv(65536):
            chunks.append(chunk)
    answer = b"".join(chunks)
    if not answer.startswith(b"HTTP/1.1 200"):
        sys.exit(f"{path}: {answer[:80]!r}")
    return len(answer)


def main():
    port, path, count = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
    times, size = [], 0
    for _ in range(count):
        begun = time.perf_counter_ns()
        size = scrape(port, path)
        times.append((time.perf_counter_ns() - begun) // 1000)
    times.sort()
    print(f"count={count} p50={times[len(times) // 2]} p99={times[len(times) * 99 // 100]} bytes={size}")


if __name__ == "__main__":
    main()
