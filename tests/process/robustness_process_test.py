#!/usr/bin/env python3
"""Process-level tests of what a hostile client, a planted file, a dead
monitor or a stuck sensor may do to the real agent and monitor, and of a
stop under load.

Usage: robustness_process_test.py linux AGENT MONITOR
       robustness_process_test.py windows AGENT.exe MONITOR.exe   (under wine)
Prints "N passed, N failed" at the end; exits non-zero when any failed.
KV_PROCESS_ONLY=TEXT runs only the tests whose names contain TEXT.
"""
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import process_support as kv  # noqa: E402 - the command line and shared helpers

WINDOWS = kv.WINDOWS
BLOCK = "/dev/shm/KVSharedMemory_ORB"
TESTS = []


def test(function):
    TESTS.append(function)
    return function


def linux_only():
    if WINDOWS:
        raise kv.Skip("Linux only")


def monitor_pids(folder):
    done = subprocess.run(["pgrep", "-f", os.path.join(folder.path, "kelvane")],
                          capture_output=True, text=True)
    return set(done.stdout.split())


def wait_until(condition, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return False


@test
def fifty_stops_under_load_end_cleanly():
    linux_only()
    f = kv.Folder()
    try:
        port = kv.free_port()
        f.run("-setport", str(port))
        f.run("-tested")
        for round_number in range(50):
            process = f.start("-d")
            kv.check(kv.wait_port(port), f"round {round_number}: never listened")
            stop = threading.Event()

            def load():
                while not stop.is_set():
                    try:
                        kv.http(port, "/?format=json", timeout=10)
                    except OSError:
                        pass

            clients = [threading.Thread(target=load) for _ in range(6)]
            for c in clients:
                c.start()
            time.sleep(0.2)
            rc, out = kv.stop(process)
            stop.set()
            for c in clients:
                c.join(timeout=30)
            kv.check(rc == 0, f"round {round_number}: exit {rc}\n{out}")
            kv.check("Sanitizer" not in out and "runtime error" not in out,
                     f"round {round_number}:\n{out}")
            kv.check(wait_until(lambda: kv.refused(port), 30), "the port stayed open")
    finally:
        f.close()


@test
def a_rebound_host_cannot_change_the_settings():
    f = kv.Folder()
    try:
        port = kv.free_port()
        kv.serving(f, port, settings="SettingsFrom=local\r\nAllowedHosts=dash.example\r\n")
        before = f.read("KelvaneHTTPAgent.ini")
        status, _, _ = kv.http(port, "/", "POST", "port=9000&canlaunch=on",
                               host=f"evil.example:{port}",
                               headers=[f"Origin: http://evil.example:{port}"])
        kv.check(status == "HTTP/1.1 403 Forbidden", status)
        kv.check(f.read("KelvaneHTTPAgent.ini") == before, "a rebound page changed the settings")
        names = ["127.0.0.1", "localhost", socket.gethostname(), "dash.example"]
        for number, name in enumerate(names):
            new_port = str(9001 + number)
            status, _, _ = kv.http(port, "/", "POST", f"port={new_port}&canlaunch=on",
                                   host=f"{name}:{port}", headers=[f"Origin: http://{name}:{port}"])
            kv.check(status == "HTTP/1.1 200 OK" and f.settings()["Port"] == new_port,
                     f"the page's own form via {name}: {status}")
    finally:
        f.close()


@test
def untrusted_blocks_give_an_error_text_and_the_monitor_refuses_a_foreign_one():
    linux_only()
    elsewhere = tempfile.mkdtemp(prefix="kvshm-")
    target = os.path.join(elsewhere, "block")
    with open(target, "wb") as out:
        out.write(bytes(402))
    plants = {
        "a FIFO": lambda: os.mkfifo(BLOCK),
        "a symbolic link": lambda: os.symlink(target, BLOCK),
        "a directory": lambda: os.mkdir(BLOCK),
        "a 10-byte file": lambda: open(BLOCK, "wb").write(bytes(10)),
        "a world-writable file": lambda: (open(BLOCK, "wb").write(bytes(402)),
                                          os.chmod(BLOCK, 0o666)),
        "another user's file": lambda: (open(BLOCK, "wb").write(bytes(402)),
                                        os.chown(BLOCK, 65534, 65534)),
    }
    f = kv.Folder(monitor_config="StartupHide=false\r\n")
    try:
        port = kv.free_port()
        kv.serving(f, port)
        for name, plant in plants.items():
            remove_block()
            plant()
            started = time.monotonic()
            body = json.loads(kv.http(port, "/?format=json", timeout=30)[2])
            took = time.monotonic() - started
            kv.check(body.get("error", "").startswith("ERROR: Failed to connect to Kelvane shared "
                                                      "memory."), f"{name}: {body}")
            print(f"  {name}: answered in {took:.2f} s: {body.get('error', 'readings')}")
        # The monitor itself refuses the foreign block, and says why.
        remove_block()
        plants["another user's file"]()
        done = subprocess.run([os.path.join(f.path, "kelvane")], capture_output=True, text=True,
                              timeout=60)
        kv.check(done.returncode == 1 and "belongs to another user (uid 65534)" in done.stderr,
                 f"{done.returncode} {done.stderr!r}")
        kv.check(os.stat(BLOCK).st_uid == 65534, "the foreign block was touched")
    finally:
        remove_block()
        f.close()
        shutil.rmtree(elsewhere, ignore_errors=True)


def remove_block():
    if os.path.lexists(BLOCK):
        if os.path.isdir(BLOCK) and not os.path.islink(BLOCK):
            os.rmdir(BLOCK)
        else:
            os.remove(BLOCK)


@test
def a_killed_monitor_is_started_again_not_served_frozen():
    linux_only()
    f = kv.Folder(monitor_config="StartupHide=false\r\n")
    try:
        port = kv.free_port()
        kv.serving(f, port)
        kv.check("temperatures" in json.loads(kv.http(port, "/?format=json")[2]), "no readings")
        first = monitor_pids(f)
        kv.check(len(first) == 1, f"monitors {first}")
        os.kill(int(next(iter(first))), signal.SIGKILL)
        kv.check(wait_until(lambda: not monitor_pids(f) & first), "the monitor did not die")
        kv.check(os.path.exists(BLOCK), "the killed monitor's block is gone (nothing to prove)")
        body = json.loads(kv.http(port, "/?format=json", timeout=60)[2])
        kv.check("temperatures" in body, body)
        second = monitor_pids(f)
        kv.check(len(second) == 1 and not second & first, f"not started again: {first} {second}")
        os.kill(int(next(iter(second))), signal.SIGKILL)
        kv.check(wait_until(lambda: not monitor_pids(f)), "the monitor did not die")
        f.write("KelvaneHTTPAgent.ini", f"[Settings]\r\nPort={port}\r\nCanLaunch=0\r\n")
        body = kv.http(port, "/?format=prometheus")[2]
        kv.check("kelvane_up 0\n" in body and "Indicate Kelvane has been tested" in body, body)
        kv.check(not monitor_pids(f), "a monitor was started without the tested flag")
    finally:
        f.close()


@test
def a_stalled_sensor_input_does_not_hold_up_the_others():
    linux_only()
    base = tempfile.mkdtemp(prefix="kvhwmon-")
    try:
        root, folders = kv.hwmon_tree(base, {
            0: ("coretemp", False, {"temp1_input": "40000\n"}),
            1: ("stuck", False, {}),
        })
        os.mkfifo(os.path.join(folders[1], "temp1_input"))
        f = kv.Folder(monitor_config=f"StartupHide=false\r\nHwmonRoot={root}\r\n", source="hwmon")
        try:
            port = kv.free_port()
            kv.serving(f, port)
            kv.check(json.loads(kv.http(port, "/?format=json")[2])["temperatures"] == [40], "first")
            with open(os.path.join(folders[0], "temp1_input"), "w") as out:
                out.write("95000\n")
            changed = time.monotonic()
            kv.check(wait_until(lambda: json.loads(kv.http(port, "/?format=json")[2])
                                ["temperatures"] == [95], 60), "the change never showed")
            print(f"  the change showed after {time.monotonic() - changed:.1f} s")
        finally:
            f.close()
    finally:
        shutil.rmtree(base, ignore_errors=True)


@test
def xml_and_json_are_utf8_under_a_german_windows():
    if not WINDOWS:
        raise kv.Skip("Windows only (Linux's ANSI text is UTF-8 already)")
    f = kv.Folder(monitor=False)
    try:
        folder = os.path.join(f.path, "Überwachung")
        os.mkdir(folder)
        f.agent = os.path.join(folder, "KelvaneHTTPAgent.exe")
        shutil.copy(kv.AGENT_SRC, f.agent)
        f.env["LANG"] = f.env["LC_ALL"] = "de_DE.UTF-8"
        port = kv.free_port()
        f.run("-setport", str(port))
        f.run("-tested")
        f.start("-d")
        kv.check(kv.wait_port(port, 60), "never listened")
        # A byte that is not UTF-8 reads back as U+FFFD, never as the letter.
        error = ElementTree.fromstring(kv.http(port, "/?format=xml")[2].encode()).find("error").text
        kv.check("Überwachung" in error, error)
        text = json.loads(kv.http(port, "/?format=json")[2])["error"]
        kv.check("Überwachung" in text and text == error, text)
    finally:
        f.close()


@test
def a_flood_of_settings_actions_starts_one_elevated_relaunch():
    linux_only()
    if os.geteuid() != 0:
        raise kv.Skip("needs root to run the agent as another user")
    f = kv.Folder(monitor=False)
    try:
        port = kv.free_port()
        f.run("-setport", str(port))
        out = os.path.join(f.path, "out")
        os.mkdir(out)
        os.chmod(out, 0o777)
        os.chmod(f.path, 0o755)
        log = os.path.join(out, "pkexec.log")
        pkexec = os.path.join(f.path, "bin", "pkexec")
        with open(pkexec, "w") as script:
            script.write(f"#!/bin/sh\necho \"$@\" >> '{log}'\nsleep 3\n")
        os.chmod(pkexec, 0o755)
        # As another user the settings file and its folder cannot be written.
        process = subprocess.Popen(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                    f.agent, "-d"], cwd=f.path, env=f.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        f.processes.append(process)
        kv.check(kv.wait_port(port), "never listened")
        for i in range(20):
            kv.http(port, "/", "POST", f"port={9000 + i}&canlaunch=on")
        kv.check(wait_until(lambda: os.path.exists(log), 30), "no relaunch started")
        time.sleep(1)
        with open(log) as lines:
            started = lines.read().splitlines()
        kv.check(len(started) == 1 and started[0].endswith("-relaunch -tested -setport 9000"),
                 repr(started))
        # Once it has ended, the next action may start one again.
        def second_started():
            kv.http(port, "/", "POST", "port=9100&canlaunch=on")
            with open(log) as lines:
                return len(lines.read().splitlines()) == 2
        kv.check(wait_until(second_started, 60), "no relaunch after the first ended")
    finally:
        f.close()


def hold_port(port):
    """A listening socket on every IPv4 address: the port is taken."""
    taken = socket.socket()
    taken.bind(("0.0.0.0", port))
    taken.listen(1)
    return taken


@test
def a_taken_port_ends_the_agent_with_the_reason():
    f = kv.Folder()
    try:
        port = kv.free_port()
        f.run("-setport", str(port))
        with hold_port(port):
            rc, out = f.run("-d", timeout=120)
        kv.check(rc == 3, f"exit {rc}: {out}")
        kv.check(f"KelvaneHTTPAgent: port {port} is already in use: not listening" in out, out)
    finally:
        f.close()


@test
def install_without_a_service_manager_leaves_no_service_entry():
    linux_only()
    f = kv.Folder()
    try:
        f.env["KVHTTP_SYSTEMD_DIR"] = os.path.join(f.path, "no-systemd-here")
        rc, out = f.run("-i")
        kv.check(rc == 0 and "Could not open Service Manager" in out, f"{rc} {out}")
        appid = os.path.join(f.path, "registry", "HKCR", "AppID",
                             "{4788CB3F-3891-41EB-9B0B-429356E2765D}")
        kv.check(not os.path.exists(os.path.join(appid, "LocalService")), "LocalService left")
        rc, _ = f.run("-setport", "9000")
        kv.check(rc == 0 and f.settings().get("Port") == "9000", f"-setport refused: {rc}")
    finally:
        f.close()


@test
def a_windows_service_that_cannot_listen_reports_why():
    if not WINDOWS:
        raise kv.Skip("Windows only (systemd: tests/system)")
    f = kv.Folder()
    keepalive = None
    try:
        port = kv.free_port()
        f.run("-setport", str(port))
        rc, _ = f.run("-i")
        kv.check(rc == 0, f"-i: {rc}")
        keepalive = subprocess.Popen([kv.WINE, "cmd.exe", "/c", "ping -n 120 127.0.0.1 >nul"],
                                     env=f.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with hold_port(port):
            kv.run_to_file([kv.WINE, "net.exe", "start", "KelvaneHTTPAgent"], f.path, f.env, 120)
            query = ""
            for _ in range(100):
                _, query = kv.run_to_file([kv.WINE, "sc.exe", "query", "KelvaneHTTPAgent"], f.path,
                                          f.env, 120)
                if "STOPPED" in query:
                    break
                time.sleep(0.2)
        # ERROR_SERVICE_SPECIFIC_ERROR, with the agent's own code for "not listening".
        kv.check("STOPPED" in query and "WIN32_EXIT_CODE    : 1066" in query and
                 "SERVICE_EXIT_CODE  : 3 " in query, query)
        f.run("-UnregServer")
    finally:
        if keepalive is not None:
            keepalive.kill()
            keepalive.wait(timeout=10)
        f.close()


def thread_count(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("Threads:"):
                return int(line.split()[1])
    return -1


@test
def a_thousand_idle_connections_and_slow_clients_do_not_stop_the_answers():
    f = kv.Folder()
    idle, slow = [], []
    try:
        port = kv.free_port()
        process = kv.serving(f, port)
        kv.check(kv.http(port, "/?format=json")[0] == "HTTP/1.1 200 OK", "first answer")
        threads_before = None if WINDOWS else thread_count(process.pid)
        for _ in range(1000):
            idle.append(socket.create_connection(("127.0.0.1", port), timeout=30))
        for _ in range(50):
            slow.append(socket.create_connection(("127.0.0.1", port), timeout=30))
        request = b"GET /?format=json HTTP/1.1\r\nHost: x\r\n\r\n"
        for byte in range(6):  # the slow clients trickle while others are answered
            for s in slow:
                s.sendall(request[byte:byte + 1])
            status, _, body = kv.http(port, "/?format=json")
            kv.check(status == "HTTP/1.1 200 OK" and "temperatures" in body, (byte, status))
        if threads_before is not None:
            threads = thread_count(process.pid)
            print(f"threads: {threads_before} before, {threads} with 1050 waiting connections")
            kv.check(threads <= threads_before + 4, (threads_before, threads))
        for s in slow:
            s.sendall(request[6:])
        for s in slow:
            answer = kv.read_until_closed(s)
            kv.check(answer.startswith(b"HTTP/1.1 200 OK"), answer[:40])
    finally:
        for s in idle + slow:
            s.close()
        f.close()


@test
def clients_that_keep_their_side_open_hold_no_descriptor_each():
    linux_only()
    f = kv.Folder()
    kept = []
    try:
        port = kv.free_port()
        process = kv.serving(f, port, settings="MaxConnections=20\r\n")
        kv.check(kv.http(port, "/?format=json")[0] == "HTTP/1.1 200 OK", "first answer")
        before = len(os.listdir(f"/proc/{process.pid}/fd"))
        for _ in range(300):  # each reads its whole answer and then stays
            s = socket.create_connection(("127.0.0.1", port), timeout=30)
            s.sendall(b"GET /?format=json HTTP/1.1\r\nHost: x\r\n\r\n")
            kv.check(kv.read_until_closed(s).startswith(b"HTTP/1.1 200 OK"), "answered")
            kept.append(s)
        held = len(os.listdir(f"/proc/{process.pid}/fd"))
        print(f"descriptors: {before} before, {held} with 300 clients keeping their side open")
        # At most 64 wait for their peers; the last client's may still be on
        # its way to them, since its end of stream is sent before the hand-over.
        kv.check(held <= before + 2 * 32 + 1, (before, held))
        kv.check(kv.http(port, "/?format=json")[0] == "HTTP/1.1 200 OK", "answer after")
    finally:
        for s in kept:
            s.close()
        f.close()


if __name__ == "__main__":
    sys.exit(kv.main(TESTS))
