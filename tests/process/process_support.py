#!/usr/bin/env python3
"""What the process suites share: the command line (TARGET AGENT MONITOR),
a temporary folder holding the executables, requests over fresh loopback
connections, waiting for a port, a real Prometheus, and the runner that
prints "N passed, N failed". Imported by the suites and the benchmarks; it
runs no test itself.
"""
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import traceback
import urllib.parse
import urllib.request

# The suites' command line, TARGET AGENT MONITOR; empty for a script that
# only borrows helpers (the package test).
TARGET, AGENT_SRC, MONITOR_SRC = (sys.argv[1:] + ["", "", ""])[:3]
WINDOWS = TARGET == "windows"
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"  # Debian keeps it outside the PATH
EXE = ".exe" if WINDOWS else ""


class Skip(Exception):
    pass


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def http(port, target="/", method="GET", body=None, timeout=30, source=None, headers=(),
         address="127.0.0.1", host="localhost"):
    """One request over a fresh connection; returns (status line, headers, body).
    `source` binds the client to that local address first; `headers` are extra
    header lines."""
    request = f"{method} {target} HTTP/1.1\r\nHost: {host}\r\n"
    request += "".join(f"{line}\r\n" for line in headers)
    if body is not None:
        request += f"Content-Type: application/x-www-form-urlencoded\r\nContent-Length: {len(body)}\r\n"
    request += "\r\n" + (body or "")
    family = socket.AF_INET6 if ":" in address else socket.AF_INET
    with socket.socket(family, socket.SOCK_STREAM) as s:
        s.settimeout(timeout)
        if source is not None:
            s.bind((source, 0))
        s.connect((address, port))
        s.sendall(request.encode())
        data = read_until_closed(s)
    head, _, payload = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    return lines[0], lines[1:], payload.decode("utf-8", "replace")


def read_until_closed(sock):
    """Everything the peer sends until it closes its side (or the socket's
    time-out passes)."""
    data = b""
    for _ in range(100000):  # ends: each pass takes bytes, or the stream ends
        chunk = sock.recv(65536)
        if not chunk:
            break
        data += chunk
    return data


def run_to_file(command, cwd, env, timeout):
    """Runs a command with its output in a file, not a pipe: a process that a
    wine command starts on the side (the service manager) may keep a pipe
    open long after the command itself has ended."""
    with tempfile.TemporaryFile(mode="w+") as out:
        done = subprocess.run(command, cwd=cwd, env=env, stdout=out, stderr=subprocess.STDOUT,
                              stdin=subprocess.DEVNULL, timeout=timeout)
        out.seek(0)
        return done.returncode, out.read()


def wait_port(port, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            time.sleep(0.1)
    return False


class Folder:
    """A temporary folder holding the agent (and, unless told, the monitor).
    `prefix` goes before the agent's command line (a namespace, say)."""

    prefix = []

    def __init__(self, monitor=True, monitor_config="StartupHide=false\r\n", source="simulated"):
        # A block left by a monitor that was killed outright stays on Linux.
        if not WINDOWS and os.path.exists("/dev/shm/KVSharedMemory_ORB"):
            os.remove("/dev/shm/KVSharedMemory_ORB")
        self.path = tempfile.mkdtemp(prefix="kvproc-")
        self.agent = os.path.join(self.path, "KelvaneHTTPAgent" + EXE)
        shutil.copy(AGENT_SRC, self.agent)
        if monitor:
            shutil.copy(MONITOR_SRC, os.path.join(self.path, "kelvane" + EXE))
            # Simulated readings unless told, whatever sensors this machine has.
            self.write("kelvaneparams.cfg", f"Source={source}\r\n{monitor_config}")
        self.env = dict(os.environ)
        self.env["KVHTTP_REGISTRY_ROOT"] = os.path.join(self.path, "registry")
        self.env["KVHTTP_SYSTEMD_DIR"] = self.path
        self.env.pop("DISPLAY", None)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.env.pop("NOTIFY_SOCKET", None)
        self.env.pop("INVOCATION_ID", None)
        bin_dir = os.path.join(self.path, "bin")
        os.mkdir(bin_dir)
        self.browser_log = os.path.join(self.path, "browser.log")
        with open(os.path.join(bin_dir, "xdg-open"), "w") as f:
            f.write(f"#!/bin/sh\necho \"$@\" >> '{self.browser_log}'\n")
        os.chmod(os.path.join(bin_dir, "xdg-open"), 0o755)
        self.env["PATH"] = bin_dir + ":" + self.env.get("PATH", "")
        if WINDOWS:
            self.env["WINEDEBUG"] = "-all"
        self.processes = []

    def write(self, name, text):
        with open(os.path.join(self.path, name), "w", newline="") as f:
            f.write(text)

    def read(self, name):
        try:
            with open(os.path.join(self.path, name), newline="") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def command(self, *args):
        return ([WINE] if WINDOWS else []) + self.prefix + [self.agent, *args]

    def run(self, *args, timeout=60, env=None):
        return run_to_file(self.command(*args), self.path, env or self.env, timeout)

    def start(self, *args, env=None):
        process = subprocess.Popen(self.command(*args), cwd=self.path, env=env or self.env,
                                   stdout=subprocess.PIPE if not WINDOWS else subprocess.DEVNULL,
                                   stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, text=True)
        self.processes.append(process)
        return process

    def settings(self):
        text = self.read("KelvaneHTTPAgent.ini") or ""
        values = {}
        for line in text.splitlines():
            if "=" in line:
                key, value = line.split("=", 1)
                values[key.strip()] = value.strip()
        return values

    def close(self):
        for process in self.processes:
            if process.poll() is None:
                process.send_signal(signal.SIGINT if not WINDOWS else signal.SIGKILL)
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait(timeout=10)
        # The monitor this folder's agent started must be gone (and its block
        # with it) before the next test looks for one.
        pattern = os.path.join(self.path, "kelvane")
        if WINDOWS:
            # Everything this folder started runs in the test's wine prefix.
            subprocess.run([WINESERVER, "-k"], check=False, env=self.env)
        subprocess.run(["pkill", "-f", pattern], check=False)
        for _ in range(100):
            if subprocess.run(["pgrep", "-f", pattern], capture_output=True).returncode != 0:
                break
            time.sleep(0.1)
        shutil.rmtree(self.path, ignore_errors=True)


def stop(process, sig=signal.SIGINT):
    process.send_signal(sig)
    out, _ = process.communicate(timeout=20)
    return process.returncode, out


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def serving(folder, port, *extra, settings=""):
    """Stores the port, marks the monitor tested, adds `settings` lines to the
    [Settings] section, starts the agent with -d."""
    folder.run("-setport", str(port))
    folder.run("-tested")
    if settings:
        folder.write("KelvaneHTTPAgent.ini", folder.read("KelvaneHTTPAgent.ini") + settings)
    process = folder.start("-d", *extra)
    check(wait_port(port), f"agent never listened on {port}")
    return process


def hwmon_tree(base, chips):
    """A sysfs-like tree: chips under devices/, linked from class/hwmon as the
    kernel does. chips: {number: (name, in_device, {file: text})}. Returns the
    class folder and each chip's attribute folder."""
    root = os.path.join(base, "class", "hwmon")
    os.makedirs(root)
    folders = {}
    for number, (name, in_device, files) in chips.items():
        real = os.path.join(base, "devices", "platform", f"{name}.{number}", "hwmon", f"hwmon{number}")
        os.makedirs(os.path.join(real, "device"))
        os.symlink(os.path.relpath(real, root), os.path.join(root, f"hwmon{number}"))
        folder = os.path.join(real, "device") if in_device else real
        with open(os.path.join(folder, "name"), "w") as f:
            f.write(name + "\n")
        for file, text in files.items():
            with open(os.path.join(folder, file), "w") as f:
                f.write(text)
        folders[number] = folder
    return root, folders


PROMTOOL = "/usr/bin/promtool"
PROMETHEUS = "/usr/bin/prometheus"
PROMETHEUS_TYPE = "text/plain; version=0.0.4; charset=utf-8"


def promtool_accepts(body):
    if not os.path.exists(PROMTOOL):
        raise Skip("promtool missing (scripts/install-deps.sh installs it)")
    done = subprocess.run([PROMTOOL, "check", "metrics"], input=body.encode(), capture_output=True,
                          timeout=60)
    check(done.returncode == 0 and not done.stdout and not done.stderr,
          f"promtool: {done.returncode} {done.stdout!r} {done.stderr!r} for {body!r}")


class Prometheus:
    """A real Prometheus scraping the agent's exposition every second as job
    "kelvane", with `job` (YAML lines of the job, static_configs included)
    added; its storage in a temporary folder. Stops and removes it all on
    close (a context manager)."""

    def __init__(self, job):
        self.storage = tempfile.mkdtemp(prefix="kvprom-")
        config = os.path.join(self.storage, "prometheus.yml")
        with open(config, "w") as out:
            out.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                      "scrape_configs:\n  - job_name: kelvane\n    metrics_path: /\n"
                      "    params: {format: [prometheus]}\n" + job)
        self.web = free_port()
        self.process = subprocess.Popen(
            [PROMETHEUS, f"--config.file={config}",
             f"--storage.tsdb.path={os.path.join(self.storage, 'data')}",
             f"--web.listen-address=127.0.0.1:{self.web}"],
            cwd=self.storage, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def query(self, expression):
        url = f"http://127.0.0.1:{self.web}/api/v1/query?query={urllib.parse.quote(expression)}"
        with urllib.request.urlopen(url, timeout=10) as answer:
            return json.loads(answer.read())["data"]["result"]

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(timeout=10)
        shutil.rmtree(self.storage, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


# The TLS tests' certificates (tests/tls/data) and users.
DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tls", "data")
CHALLENGE = 'WWW-Authenticate: Basic realm="KelvaneHTTPAgent", charset="UTF-8"'
ALICE, ALICE_PASSWORD = "alice", "wonder land"
BOB, BOB_PASSWORD = "bob", "Grüße, 世界!"


def htpasswd_line(user, password):
    """A [Users] line as htpasswd -nbBC prints it (name:hash made name=hash)."""
    out = subprocess.run(["htpasswd", "-nbBC", "5", user, password], capture_output=True,
                         check=True).stdout.decode("utf-8")
    return out.strip().replace(":", "=", 1)


def copy_test_certificates(f):
    """The test certificates and keys, beside the agent."""
    for name in os.listdir(DATA):
        if name.endswith((".pem", ".key")):
            shutil.copy(os.path.join(DATA, name), os.path.join(f.path, name))


def secure_folder(client_ca=False, users=True, cert="server", extra_tls=""):
    """A folder with the test certificates beside the agent (relative paths)
    and the [TLS] and [Users] sections to add to its settings."""
    f = Folder()
    copy_test_certificates(f)
    sections = ""
    if cert is not None:
        sections += f"[TLS]\r\nCertFile={cert}.pem\r\nKeyFile={cert}.key\r\n{extra_tls}"
        if client_ca:
            sections += "ClientCAFile=ca.pem\r\n"
    if users:
        sections += "[Users]\r\n; made by htpasswd\r\n" + htpasswd_line(ALICE, ALICE_PASSWORD) + "\r\n"
        sections += htpasswd_line(BOB, BOB_PASSWORD) + "\r\n"
    return f, sections


def refused(port, address="127.0.0.1", source=None):
    """True when nothing accepts a connection to address:port."""
    family = socket.AF_INET6 if ":" in address else socket.AF_INET
    with socket.socket(family, socket.SOCK_STREAM) as s:
        s.settimeout(10)
        if source is not None:
            s.bind((source, 0))
        try:
            s.connect((address, port))
            return False
        except ConnectionRefusedError:
            return True


def main(tests):
    only = os.environ.get("KV_PROCESS_ONLY")
    passed = failed = skipped = 0
    for function in tests:
        if only and only not in function.__name__:
            continue
        started = time.monotonic()
        try:
            function()
            passed += 1
            print(f"[ OK ] {function.__name__} ({time.monotonic() - started:.1f} s)", flush=True)
        except Skip as reason:
            skipped += 1
            print(f"[SKIP] {function.__name__}: {reason}", flush=True)
        except Exception:  # noqa: BLE001 - every failure is reported
            failed += 1
            print(f"[FAIL] {function.__name__}", flush=True)
            traceback.print_exc()
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0
