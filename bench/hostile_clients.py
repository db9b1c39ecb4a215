#!/usr/bin/env python3
"""What hostile clients cost the agent and its other clients, figure by
figure, against the real agent over loopback (Linux, our monitor).

Usage: hostile_clients.py linux AGENT MONITOR [FIGURE...]
FIGURE is one of: trickle, drain, passwords, costs, history, handshakes
(all of them without one). Run it against two builds to compare them.

  trickle     a normal HTTPS client's latency (median, worst) while four
              clients send one byte per TLS record; the agent's cores used
  drain       descriptors held after 300 clients that read their answer and
              keep their side open (MaxConnections=20); a normal client's
              latency at an open-file limit of 256
  passwords   another user's first login while 40 clients send wrong
              passwords (cost 10); the agent's threads and cores
  costs       median times of a wrong password for alice (cost 12, listed
              first), bob (cost 5, listed last) and unknown users
  history     the largest history answer and the agent's peak memory over
              8 concurrent requests, History=86400 with 96 readings
  handshakes  the agent's memory with 4,000 half-finished handshakes
"""
import os
import resource
import socket
import ssl
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "process"))
import process_support as kv  # noqa: E402 - the agent's folder and requests
from idle_connections import status_field  # noqa: E402 - /proc/PID/status

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def https_get(port, ca, target="/?format=json"):
    context = ssl.create_default_context(cafile=ca)
    started = time.monotonic()
    with socket.create_connection(("127.0.0.1", port), timeout=60) as raw:
        with context.wrap_socket(raw, server_hostname="localhost") as s:
            s.sendall(f"GET {target} HTTP/1.1\r\nHost: localhost\r\n\r\n".encode())
            data = kv.read_until_closed(s)
    return time.monotonic() - started, data.split(b"\r\n", 1)[0].decode()


def ms(seconds):
    return f"{seconds * 1000:.1f} ms"


def one_byte_records(port, ca, stop, sent):
    """Sends a request head of short header lines one byte per TLS record,
    3,500 records a second,
    until `stop` or the request limit, in a process of its own."""
    count, started = 0, time.monotonic()
    try:
        context = ssl.create_default_context(cafile=ca)
        with socket.create_connection(("127.0.0.1", port), timeout=60) as raw:
            with context.wrap_socket(raw, server_hostname="localhost") as s:
                s.sendall(b"GET / HTTP/1.1\r\n")
                line = b"X-A: b\r\n"  # header lines that never end the head
                while not stop.is_set() and count < 65000:
                    s.sendall(line[count % len(line):][:1])
                    count += 1
                    if count % 35 == 0:
                        time.sleep(max(0.0, started + count / 3500 - time.monotonic()))
    except OSError:
        pass
    with sent.get_lock():
        sent.value += count


def trickle():
    import multiprocessing
    f, sections = kv.secure_folder(users=False)
    stop, sent = multiprocessing.Event(), multiprocessing.Value("i", 0)
    ca = os.path.join(f.path, "ca.pem")
    senders = []
    try:
        port = kv.free_port()
        process = kv.serving(f, port, settings=sections)
        alone = [https_get(port, ca)[0] for _ in range(10)]
        senders = [multiprocessing.Process(target=one_byte_records, args=(port, ca, stop, sent))
                   for _ in range(4)]
        for p in senders:
            p.start()
        time.sleep(10)  # the heads are long by now, and grow to the limit
        cpu, wall = cpu_seconds(process.pid), time.monotonic()
        times, failed = [], 0
        for _ in range(20):
            took, status = https_get(port, ca)
            times.append(took)
            failed += status != "HTTP/1.1 200 OK"
            time.sleep(0.2)
        cores = (cpu_seconds(process.pid) - cpu) / (time.monotonic() - wall)
        seconds = time.monotonic() - wall + 10
        stop.set()
        for p in senders:
            p.join(timeout=60)
        print(f"trickle: alone median {ms(statistics.median(alone))}; with four one-byte-record "
              f"clients median {ms(statistics.median(times))}, worst {ms(max(times))}, "
              f"{failed} failed; agent {cores:.2f} cores; {sent.value / seconds:.0f} records "
              f"a second sent")
    finally:
        stop.set()
        for p in senders:
            p.join(timeout=60)
        f.close()


def keep_open(port, count, times=None):
    """`count` clients that read their answer and keep their side open, one
    after another; `times` gets how long each waited for its answer."""
    kept = []
    for _ in range(count):
        started = time.monotonic()
        s = socket.create_connection(("127.0.0.1", port), timeout=30)
        s.sendall(b"GET /?format=json HTTP/1.1\r\nHost: x\r\n\r\n")
        for _ in range(1000):
            if not s.recv(65536):
                break
        if times is not None:
            times.append(time.monotonic() - started)
        kept.append(s)
    return kept


def drain():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(4096, hard), hard))
    f = kv.Folder()
    kept = []
    try:
        port = kv.free_port()
        process = kv.serving(f, port, settings="MaxConnections=20\r\n")
        kv.http(port, "/?format=json")
        kept = keep_open(port, 300)
        held = len(os.listdir(f"/proc/{process.pid}/fd"))
        print(f"drain: {held} descriptors held after 300 clients keep their side open "
              f"(MaxConnections=20)")
    finally:
        for s in kept:
            s.close()
        f.close()
    f = kv.Folder()
    kept = []
    try:
        port = kv.free_port()
        command = f.command  # the agent starts with an open-file limit of 256
        f.command = lambda *args: ["prlimit", "--nofile=256:256", "--"] + command(*args)
        process = kv.serving(f, port)
        kv.http(port, "/?format=json")
        times = []
        kept = keep_open(port, 300, times)
        print(f"drain: at an open-file limit of 256, 300 clients in turn waited median "
              f"{ms(statistics.median(times))}, worst {ms(max(times))} for their answer")
    finally:
        for s in kept:
            s.close()
        f.close()


def users_folder(lines):
    f = kv.Folder()
    kv.copy_test_certificates(f)
    return f, "[Users]\r\n" + "".join(line + "\r\n" for line in lines)


def basic(user, password):
    import base64
    return "Authorization: Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()


def passwords():
    alice = subprocess.run(["htpasswd", "-nbBC", "10", "alice", "right"], capture_output=True,
                           text=True, check=True).stdout.strip().replace(":", "=", 1)
    bob = subprocess.run(["htpasswd", "-nbBC", "10", "bob", "right"], capture_output=True,
                         text=True, check=True).stdout.strip().replace(":", "=", 1)
    carol = alice.replace("alice=", "carol=", 1)
    f, sections = users_folder([alice, bob, carol])
    stop, attempts = threading.Event(), []
    try:
        port = kv.free_port()
        process = kv.serving(f, port, settings=sections)

        def guess():
            count = 0
            while not stop.is_set() and count < 100000:
                kv.http(port, "/?format=json", headers=[basic("alice", f"guess{count}")])
                count += 1
            attempts.append(count)

        def curl_time(*args):
            out = subprocess.run(["curl", "-s", "-o", "/dev/null", *args, "-w",
                                  "%{http_code} %{time_total}",
                                  f"http://127.0.0.1:{port}/?format=json"],
                                 capture_output=True, text=True, timeout=60).stdout.split()
            return out[0], float(out[1])

        curl_time("-u", "alice:right")  # the first readings start the monitor
        print(f"passwords: quiet, the first login of a second user "
              f"{ms(curl_time('-u', 'carol:right')[1])}")
        threads = [threading.Thread(target=guess) for _ in range(40)]
        for t in threads:
            t.start()
        time.sleep(3)
        cpu, wall = cpu_seconds(process.pid), time.monotonic()
        # From a process of its own: the guessers hold this one's interpreter.
        status, login = curl_time("-u", "bob:right")
        time.sleep(max(0.0, 3 - (time.monotonic() - wall)))
        cores = (cpu_seconds(process.pid) - cpu) / (time.monotonic() - wall)
        threads_now = status_field(process.pid, "Threads")
        stop.set()
        for t in threads:
            t.join(timeout=60)
        elapsed = time.monotonic() - wall + 3
        print(f"passwords: bob's first login {ms(login)} ({status}) while 40 clients guess; "
              f"agent {threads_now} threads, {cores:.2f} cores; "
              f"{sum(attempts) / elapsed:.0f} guesses a second answered")
    finally:
        stop.set()
        f.close()


def costs():
    def line(user, cost):
        return subprocess.run(["htpasswd", "-nbBC", str(cost), user, "right"], capture_output=True,
                              text=True, check=True).stdout.strip().replace(":", "=", 1)

    f, sections = users_folder([line("alice", 12), line("bob", 5)])
    try:
        port = kv.free_port()
        kv.serving(f, port, settings=sections)
        source = iter(range(2, 250))  # a client address each, so that none is throttled
        medians = {}
        for user in ("alice", "bob", "nosuchuser", "root", "admin"):
            times = []
            for _ in range(7):
                started = time.monotonic()
                status = kv.http(port, "/?format=json", headers=[basic(user, "wrong")],
                                 source=f"127.0.0.{next(source)}")[0]
                times.append(time.monotonic() - started)
                kv.check(status.startswith("HTTP/1.1 401"), status)
            medians[user] = statistics.median(times)
        print("costs: wrong password, median: " +
              ", ".join(f"{user} {ms(t)}" for user, t in medians.items()))
    finally:
        f.close()


def history():
    base = tempfile.mkdtemp(prefix="kvbench-")
    chip = os.path.join(base, "class", "hwmon", "hwmon0")
    os.makedirs(chip)
    files = {"name": "nct6775\n"}
    for i in range(1, 33):
        files[f"temp{i}_input"] = f"{30000 + i * 123}\n"
        files[f"fan{i}_input"] = f"{1000 + i * 7}\n"
        files[f"in{i}_input"] = f"{1000 + i * 11}\n"
    for name, text in files.items():
        with open(os.path.join(chip, name), "w") as out:
            out.write(text)
    f = kv.Folder(monitor_config=f"StartupHide=false\r\nHwmonRoot={base}/class/hwmon\r\n",
                  source="hwmon")
    try:
        port = kv.free_port()
        process = kv.serving(f, port, "-testfillhistory", settings="History=86400\r\n")
        for _ in range(300):
            status, _, body = kv.http(port, "/?format=history&since=0")
            if '"more":true' in body or len(body) > 1_000_000:
                break
            time.sleep(0.2)
        before = status_field(process.pid, "VmRSS")
        sizes = []

        def ask():
            sizes.append(len(kv.http(port, "/?format=history", timeout=120)[2]))

        threads = [threading.Thread(target=ask) for _ in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=120)
        peak = status_field(process.pid, "VmHWM")
        print(f"history: {len(sizes)} answers, the largest "
              f"{max(sizes) / 1e6:.2f} MB; agent RSS {before / 1024:.1f} MB before, "
              f"peak {peak / 1024:.1f} MB")
    finally:
        f.close()
        subprocess.run(["rm", "-rf", base])


def handshakes():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(8192, hard), hard))
    f, sections = kv.secure_folder(users=False)
    held = []
    try:
        port = kv.free_port()
        process = kv.serving(f, port, settings=sections)
        https_get(port, os.path.join(f.path, "ca.pem"))
        before = status_field(process.pid, "VmRSS")
        hello = bytes([0x16, 0x03, 0x01, 0x02, 0x00, 0x01, 0x00, 0x01, 0xfc, 0x03, 0x03, 0, 0, 0])
        for _ in range(4000):
            s = socket.create_connection(("127.0.0.1", port), timeout=30)
            s.sendall(hello)
            held.append(s)
        time.sleep(3)
        during = status_field(process.pid, "VmRSS")
        print(f"handshakes: agent RSS {before / 1024:.1f} MB, with 4,000 half-finished "
              f"handshakes {during / 1024:.1f} MB ({(during - before) / 4000:.1f} KB each)")
    finally:
        for s in held:
            s.close()
        f.close()


FIGURES = {"trickle": trickle, "drain": drain, "passwords": passwords, "costs": costs,
           "history": history, "handshakes": handshakes}

if __name__ == "__main__":
    for name in sys.argv[4:] or FIGURES:
        FIGURES[name]()
