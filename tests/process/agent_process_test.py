#!/usr/bin/env python3
"""Process-level tests: the real agent and stand-in monitor executables, in a
temporary folder of their own, over real loopback sockets.

Usage: agent_process_test.py linux AGENT MONITOR
       agent_process_test.py windows AGENT.exe MONITOR.exe   (runs them under wine)
Prints "N passed, N failed" at the end; exits non-zero when any failed.
KV_PROCESS_ONLY=TEXT runs only the tests whose names contain TEXT.
"""
import json
import math
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
from process_support import (  # noqa: E402 - shared with the other suites
    Folder, PROMETHEUS, PROMETHEUS_TYPE, Prometheus, Skip, WINDOWS, WINE, check,
    free_port, http, hwmon_tree, main, promtool_accepts, refused, run_to_file, serving, stop,
    wait_port)

TESTS = []


def test(function):
    TESTS.append(function)
    return function


@test
def switches_store_settings_and_end_with_their_codes():
    f = Folder()
    try:
        cases = [
            (["-setport", "8080"], 0, "8080", None),
            # Beyond 1-65535: nothing stored (never its low 16 bits), as for 0.
            (["-setport", "70000"], 0, "8080", None),
            (["-setport", "99999"], 0, "8080", None),
            (["-setport", "0"], 0, "8080", None),
            (["-setport", "abc"], 0, "8080", None),
            (["-tested"], 0, "8080", "1"),
            (["-setport", "9001", "-tested"], 0, "9001", "1"),
            (["-service:now"], 1, "9001", "1"),
        ]
        for args, code, port, can_launch in cases:
            rc, out = f.run(*args)
            check(rc == code, f"{args}: exit {rc}, expected {code}")
            s = f.settings()
            check(s.get("Port") == port, f"{args}: Port {s.get('Port')}, expected {port}")
            if can_launch is not None:
                check(s.get("CanLaunch") == can_launch, f"{args}: CanLaunch {s.get('CanLaunch')}")
            if not WINDOWS and args != ["-service:now"]:
                check("ExitAtEnd" in out, f"{args}: no ExitAtEnd in {out!r}")
            if not WINDOWS and args in (["-setport", "70000"], ["-setport", "99999"]):
                check(f"port {args[1]} is not between 1 and 65535: nothing changed" in out, out)
    finally:
        f.close()


@test
def desktop_run_serves_logs_and_ends_cleanly():
    f = Folder()
    try:
        port = free_port()
        process = serving(f, port)
        status, _, body = http(port, "/?format=simple")
        check(status == "HTTP/1.1 200 OK", status)
        check("TEMPERATURES:" in body, body)
        if not WINDOWS:
            rc, out = stop(process)
            check(rc == 0, f"exit {rc}")
            lines = [l for l in out.splitlines() if l]
            check(lines == ["Didn't find our AppID in registry - continuing",
                            "CKelvaneHTTPAgentModule::Run", "HasKey d",
                            "Exiting after CAtlServiceModuleT::Run"], repr(lines))
            check(f.read("browser.log") is None, "-d opened a browser")
    finally:
        f.close()


@test
def relaunch_alone_serves_like_a_plain_start():
    f = Folder()
    try:
        port = free_port()
        process = serving(f, port, "-relaunch")
        status, _, body = http(port, "/?format=json")
        check(status == "HTTP/1.1 200 OK" and len(json.loads(body)["temperatures"]) == 5, body)
        if not WINDOWS:
            rc, out = stop(process)
            check(rc == 0 and "HasKey relaunch" in out and "ExitAtEnd" not in out, out)
    finally:
        f.close()


@test
def second_instance_opens_the_browser_and_leaves():
    if WINDOWS:
        raise Skip("Linux only")
    f = Folder()
    try:
        port = free_port()
        first = serving(f, port)
        env = dict(f.env, DISPLAY=":0")
        rc, out = f.run(env=env)
        check(rc == 0, f"exit {rc}")
        check("Shutdown because event exists" in out and "bShutdown at end" in out, out)
        check(out.index("Open browser") < out.index("bShutdown at end"), out)
        check((f.read("browser.log") or "").strip() == f"http://localhost:{port}", f.read("browser.log"))
        stop(first)
        # Without a graphical session (show command 0) no browser opens.
        os.remove(f.browser_log)
        second = f.start()
        check(wait_port(port), "no server")
        stop(second)
        check(f.read("browser.log") is None, "browser opened without a display")
    finally:
        f.close()


@test
def every_format_every_path_and_json_and_xml_parse():
    f = Folder()
    try:
        port = free_port()
        serving(f, port)
        _, headers, page = http(port, "/")
        check(page.startswith("<html><head><style>") and "Temperature Data" in page, page[:200])
        check("Content-Type: text/html" in headers, headers)
        _, _, favicon = http(port, "/favicon.ico")
        check(favicon.split("Temperature 1")[0] == page.split("Temperature 1")[0], "paths differ")
        for value in ["json", "JSON", "Json"]:
            _, headers, body = http(port, f"/?format={value}")
            data = json.loads(body)
            check(len(data["temperatures"]) == 5, body)
            check("Content-Type: text/plain" in headers, headers)
        _, _, body = http(port, "/any/path?format=XML")
        root = ElementTree.fromstring(body.encode())
        check(len(root.find("temperatures")) == 5, body)
        _, _, body = http(port, "/?format=simple")
        check(body.startswith("COMMENT:") and "VOLTAGES:" in body, body)
    finally:
        f.close()


@test
def settings_form_and_port_values():
    f = Folder()
    try:
        port = free_port()
        serving(f, port)
        _, _, body = http(port, "/", "POST", "port=8080&canlaunch=on")
        check(f.settings() == {"Port": "8080", "CanLaunch": "1"}, f.settings())
        check("Temperature Data" in body and "value=\"8080\"" in body, body[-600:])
        _, _, body = http(port, "/?format=json", "POST", "port=8080")
        check(f.settings()["CanLaunch"] == "0", f.settings())
        check("Indicate Kelvane has been tested" in json.loads(body)["error"], body)
        # Beyond 0-65535 a value would be stored as another number: nothing
        # changes, the flag included.
        for text, expected, flag in [("abc", "8167", "1"), ("9000", "9000", "1"),
                                     ("65536", "9000", "1"), ("70000", "9000", "1"),
                                     ("-1", "9000", "1"), ("0", "8167", "1"),
                                     ("99999999999", "8167", "1"), ("65535", "65535", "0")]:
            http(port, f"/?port={text}&canlaunch={flag}")
            check(f.settings()["Port"] == expected, f"{text}: {f.settings()}")
        http(port, "/?port=&canlaunch=1")
        check(f.settings() == {"Port": "65535", "CanLaunch": "0"}, f.settings())
    finally:
        f.close()


@test
def monitor_problems_become_error_texts():
    f = Folder(monitor=False)
    try:
        port = free_port()
        serving(f, port)
        expected = "ERROR: " + os.path.join(f.path, "kelvane") + " not found."
        if WINDOWS:
            expected = None
        for fmt in ["simple", "xml", "json", "html"]:
            _, _, body = http(port, f"/?format={fmt}")
            if fmt == "json":
                text = json.loads(body)["error"]
            elif fmt == "xml":
                text = ElementTree.fromstring(body.encode()).find("error").text
            else:
                text = body
            check("not found." in text and "ERROR: " in text, body)
            if expected:
                check(expected in text, f"{fmt}: {text!r}")
    finally:
        f.close()
    for config, message in [("Version=2\r\n", "This appears to be an unsupported version of Kelvane"),
                            ("Temps=0\r\n", "Temperature data not yet available -- refresh the page to try again")]:
        f = Folder(monitor_config=config)
        try:
            port = free_port()
            serving(f, port)
            _, _, body = http(port, "/?format=json")
            check(json.loads(body).get("error") == message, body)
        finally:
            f.close()


@test
def ten_requests_while_the_monitor_starts():
    f = Folder(monitor_config="StartDelayMs=1500\r\n")
    try:
        port = free_port()
        serving(f, port)
        results = []

        def ask():
            try:
                results.append(json.loads(http(port, "/?format=json", timeout=60)[2]))
            except Exception as error:  # noqa: BLE001 - reported below
                results.append(error)

        threads = [threading.Thread(target=ask) for _ in range(10)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=90)
        check(len(results) == 10, f"{len(results)} answers")
        check(all(isinstance(r, dict) and len(r.get("temperatures", [])) == 5 for r in results),
              repr(results[:2]))
    finally:
        f.close()


HWMON_CHIPS = {
    10: ("nct6775", False, {"fan1_input": "1260\n", "in0_input": "1192\n", "temp5_input": "oops\n"}),
    2: ("coretemp", False, {"temp1_input": "45000\n", "temp10_input": "52000\n",
                            "temp2_input": "47000\n", "temp1_label": "Package id 0\n"}),
    3: ("it87", True, {"temp1_input": "-5000\n", "fan2_input": "980\n", "in1_input": "3312\n",
                       "temp2_input": ""}),
}


@test
def monitor_publishes_the_kernels_sensors():
    base = tempfile.mkdtemp(prefix="kvhwmon-")
    try:
        root, folders = hwmon_tree(base, HWMON_CHIPS)
        f = Folder(monitor_config=f"StartupHide=false\r\nHwmonRoot={root}\r\n", source="hwmon")
        try:
            port = free_port()
            serving(f, port)
            _, _, simple = http(port, "/?format=simple")
            if WINDOWS:  # no kernel sensors there: the stand-in simulates
                check("TEMPERATURES:" in simple and simple.count("|") == 12, simple)
                return
            check(simple.endswith("TEMPERATURES:45|47|52|-5|\r\nFANS:980|1260|\r\n"
                                  "VOLTAGES:3.31|1.19|\r\n"), simple)
            print(simple.replace("\r\n", "\n"), end="")
            data = json.loads(http(port, "/?format=json")[2])
            check(data == {"comment": data["comment"], "temperatures": [45, 47, 52, -5],
                           "fans": [10, 13], "voltages": [3.31, 1.19]}, data)
            root_xml = ElementTree.fromstring(http(port, "/?format=xml")[2].encode())
            check([t.text for t in root_xml.find("temperatures")] == ["45", "47", "52", "-5"] and
                  [v.text for v in root_xml.find("voltages")] == ["3.31", "1.19"], "xml")
            with open(os.path.join(folders[2], "temp1_input"), "w") as out:
                out.write("61000\n")
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline:
                if json.loads(http(port, "/?format=json")[2])["temperatures"][0] == 61:
                    break
                time.sleep(0.2)
            else:
                raise AssertionError("the changed temp1_input never showed")
        finally:
            f.close()
        empty = os.path.join(base, "empty")
        os.makedirs(empty)
        for source, expected in [("auto", None), ("hwmon", "Temperature data not yet available -- "
                                                           "refresh the page to try again")]:
            f = Folder(monitor_config=f"HwmonRoot={empty}\r\n", source=source)
            try:
                port = free_port()
                serving(f, port)
                data = json.loads(http(port, "/?format=json")[2])
                if expected is None or WINDOWS:
                    check("error" not in data and len(data["temperatures"]) == 5, f"{source}: {data}")
                else:
                    check(data.get("error") == expected, f"{source}: {data}")
            finally:
                f.close()
    finally:
        shutil.rmtree(base, ignore_errors=True)


def prometheus_number(value):
    """The shortest text that reads back as the same double, as the agent writes it."""
    return str(int(value)) if float(value).is_integer() else repr(value)


def simulated_exposition(temps=5, fans=3, volts=4):
    """What the agent answers for the simulated block at its first values (Drift=0)."""
    rails = [120, 330, 500, 1200]
    families = [
        ("kelvane_temperature_celsius", "Temperature, degrees Celsius.",
         [int(4200 + 300 * i + 250 * math.sin(i)) / 100 for i in range(min(temps, 32))]),
        ("kelvane_fan_rpm", "Fan speed, revolutions per minute.",
         [int(1200 + 150 * i + 80 * math.sin(i)) for i in range(min(fans, 32))]),
        ("kelvane_voltage_volts", "Voltage, volts.",
         [int(rails[i % 4] + 2 * math.sin(i)) / 100 for i in range(min(volts, 32))]),
    ]
    body = ("# HELP kelvane_up 1 when the monitor's readings were read, else 0.\n"
            "# TYPE kelvane_up gauge\nkelvane_up 1\n")
    for name, help_text, values in families:
        if values:
            body += f"# HELP {name} {help_text}\n# TYPE {name} gauge\n"
            body += "".join(f'{name}{{sensor="{n}"}} {prometheus_number(v)}\n'
                            for n, v in enumerate(values, 1))
    return body


@test
def prometheus_format_exact_and_accepted_by_promtool():
    f = Folder(monitor_config="StartupHide=false\r\nDrift=0\r\n")
    try:
        port = free_port()
        serving(f, port)
        for target, method in [("/?format=prometheus", "GET"), ("/metrics?format=PROMETHEUS", "GET"),
                               ("/x?format=Prometheus", "POST")]:
            status, headers, body = http(port, target, method, "" if method == "POST" else None)
            check(status == "HTTP/1.1 200 OK", status)
            check(f"Content-Type: {PROMETHEUS_TYPE}" in headers, headers)
            check(body == simulated_exposition(), f"{target}: {body!r}")
        _, headers, _ = http(port, "/?format=json")
        check("Content-Type: text/plain" in headers, headers)
        if WINDOWS:
            return
        promtool_accepts(body)
        # A settings action answers in the format asked for, after applying it.
        _, _, body = http(port, "/?format=prometheus&port=8080")
        check(f.settings()["Port"] == "8080" and "kelvane_up 0\n" in body and
              "Indicate Kelvane has been tested" in body, body)
        promtool_accepts(body)
    finally:
        f.close()
    if WINDOWS:
        return
    cases = [
        (dict(monitor=False), True, "not found."),
        (dict(monitor_config="Version=2\r\n"), True, "unsupported version"),
        (dict(monitor_config="Temps=0\r\n"), True, "not yet available"),
        (dict(monitor_config="Temps=40\r\nDrift=0\r\n"), True, None),
        (dict(), False, "Indicate Kelvane has been tested"),
    ]
    for options, tested, error in cases:
        f = Folder(**options)
        try:
            port = free_port()
            if tested:
                serving(f, port)
            else:
                f.run("-setport", str(port))
                f.start("-d")
                check(wait_port(port), "no server")
            body = http(port, "/?format=prometheus", timeout=60)[2]
            if error is None:
                check(body == simulated_exposition(temps=40), body)
            else:
                check("kelvane_up 0\n" in body and error in body, f"{options}: {body!r}")
            promtool_accepts(body)
        finally:
            f.close()
    # A block too small to map: the attach itself fails.
    f = Folder()
    try:
        port = free_port()
        serving(f, port)
        with open("/dev/shm/KVSharedMemory_ORB", "wb") as block:
            block.write(b"\0" * 10)
        body = http(port, "/?format=prometheus")[2]
        check("Failed to connect to Kelvane shared memory." in body, body)
        promtool_accepts(body)
    finally:
        if os.path.exists("/dev/shm/KVSharedMemory_ORB"):
            os.remove("/dev/shm/KVSharedMemory_ORB")
        f.close()


@test
def a_real_prometheus_scrapes_the_agent():
    if WINDOWS:
        raise Skip("Linux only")
    if not os.path.exists(PROMETHEUS):
        raise Skip("prometheus missing (scripts/install-deps.sh installs it)")
    f = Folder(monitor_config="StartupHide=false\r\nDrift=0\r\n")
    try:
        port = free_port()
        serving(f, port)
        with Prometheus(f"    static_configs:\n      - targets: ['127.0.0.1:{port}']\n") as prometheus:
            expected = {str(n): f"{int(4200 + 300 * i + 250 * math.sin(i)) / 100:g}"
                        for n, i in zip(range(1, 6), range(5))}
            got, up = {}, []
            deadline = time.monotonic() + 120
            while time.monotonic() < deadline:
                try:
                    got = {r["metric"]["sensor"]: r["value"][1]
                           for r in prometheus.query('kelvane_temperature_celsius{job="kelvane"}')}
                    up = [r["value"][1] for r in prometheus.query('up{job="kelvane"}')]
                except (OSError, ValueError, KeyError):
                    pass
                if got == expected and up == ["1"]:
                    break
                time.sleep(0.5)
            check(got == expected and up == ["1"], f"series {got}, expected {expected}; up {up}")
    finally:
        f.close()


@test
def bind_limits_where_the_agent_listens():
    f = Folder()
    try:
        port = free_port()
        serving(f, port, settings="Bind=127.0.0.1\r\n")
        check(http(port)[0] == "HTTP/1.1 200 OK", "127.0.0.1 not answered")
        check(refused(port, "127.0.0.2"), "Bind=127.0.0.1 answered on 127.0.0.2")
    finally:
        f.close()
    f = Folder()
    try:
        port = free_port()
        serving(f, port, settings="Bind=::\r\n")
        check(http(port, "/?format=json", address="::1")[0] == "HTTP/1.1 200 OK", "::1 not answered")
        check(http(port, "/?format=json")[0] == "HTTP/1.1 200 OK", "127.0.0.1 not answered on ::")
    finally:
        f.close()
    f = Folder()
    try:
        port = free_port()
        f.run("-setport", str(port))
        f.write("KelvaneHTTPAgent.ini", f.read("KelvaneHTTPAgent.ini") + "Bind=localhost\r\n")
        process = f.start("-d")
        if not WINDOWS:
            # Once the agent has said why it does not listen, nothing may listen.
            lines = []
            reader = threading.Thread(target=lambda: lines.extend(iter(process.stdout.readline, "")))
            reader.daemon = True
            reader.start()
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline and not any("not listening" in l for l in lines):
                time.sleep(0.1)
            check(any(l.startswith("KelvaneHTTPAgent: Bind=localhost is not an IP address: not listening")
                      for l in lines), repr(lines))
        # Nothing listening is a failure, not a quiet success: the agent ends.
        check(process.wait(timeout=60) == 3, f"exit {process.returncode}")
        check(refused(port) and refused(port, "127.0.0.2"), "an invalid Bind listened")
    finally:
        f.close()


@test
def settings_from_and_the_cross_site_guard():
    f = Folder()
    try:
        port = free_port()
        serving(f, port, settings="SettingsFrom=127.0.0.1\r\n")
        before = f.read("KelvaneHTTPAgent.ini")
        own = [f"Origin: http://localhost:{port}"]
        host = f"localhost:{port}"
        forbidden = ["HTTP/1.1 403 Forbidden", "Cache-Control: max-age=0", "Connection: close",
                     "Pragma: no-cache", "Content-Type: text/plain", "Content-Length: 24"]
        for name, request in [
                ("another client", dict(method="POST", body="port=9000&canlaunch=0", source="127.0.0.2",
                                        headers=own, host=host)),
                ("a GET action", dict(target="/?port=9000&canlaunch=0", host=host)),
                ("a foreign Origin", dict(method="POST", body="port=9000", host=host,
                                          headers=["Origin: http://evil.example"])),
                ("a foreign Referer", dict(method="POST", body="port=9000", host=host,
                                           headers=["Referer: http://evil.example/x"]))]:
            status, headers, body = http(port, **request)
            check([status] + headers == forbidden and body == "HTTP/1.1 403 Forbidden\r\n",
                  f"{name}: {status} {headers} {body!r}")
            check(f.read("KelvaneHTTPAgent.ini") == before, f"{name} changed the settings")
        status, _, body = http(port, "/?format=json", source="127.0.0.2")
        check(status == "HTTP/1.1 200 OK" and "temperatures" in body, "reading refused")
        status, _, body = http(port, "/", "POST", "port=9000&canlaunch=on", headers=own, host=host)
        check(status == "HTTP/1.1 200 OK" and f.settings()["Port"] == "9000", f"own page: {status}")
    finally:
        f.close()
    f = Folder()
    try:
        port = free_port()
        serving(f, port, settings="SettingsFrom=none\r\n")
        status, _, _ = http(port, "/", "POST", "port=9000", host=f"localhost:{port}",
                            headers=[f"Origin: http://localhost:{port}"])
        check(status == "HTTP/1.1 403 Forbidden" and f.settings()["Port"] == str(port), status)
    finally:
        f.close()


@test
def allow_origin_and_the_exact_headers_without_the_keys():
    f = Folder(monitor_config="StartupHide=false\r\nDrift=0\r\n")
    try:
        port = free_port()
        serving(f, port)
        status, headers, body = http(port, "/?format=json")
        check([status] + headers == ["HTTP/1.1 200 OK", "Cache-Control: max-age=0", "Connection: close",
                                     "Pragma: no-cache", "Content-Type: text/plain",
                                     f"Content-Length: {len(body.encode())}"], headers)
        status, headers, _ = http(port, "/", "PUT")
        check([status] + headers[:3] == ["HTTP/1.1 501 Not Implemented", "Cache-Control: max-age=0",
                                         "Connection: close", "Pragma: no-cache"] and len(headers) == 5,
              headers)
    finally:
        f.close()
    f = Folder()
    try:
        port = free_port()
        serving(f, port, settings="AllowOrigin=*\r\n")
        for target, method, expected in [("/?format=json", "GET", "HTTP/1.1 200 OK"),
                                         ("/?format=prometheus", "GET", "HTTP/1.1 200 OK"),
                                         ("/", "PUT", "HTTP/1.1 501 Not Implemented"),
                                         ("/%zz", "GET", "HTTP/1.1 400 Bad Request")]:
            status, headers, _ = http(port, target, method)
            check(status == expected and headers[-1] == "Access-Control-Allow-Origin: *" and
                  headers.count("Access-Control-Allow-Origin: *") == 1, f"{target}: {status} {headers}")
    finally:
        f.close()


@test
def registration_switches_and_word_test():
    if WINDOWS:
        raise Skip("Linux only")
    f = Folder()
    try:
        unit = os.path.join(f.path, "KelvaneHTTPAgent.service")
        appid = os.path.join(f.path, "registry", "HKCR", "AppID",
                             "{4788CB3F-3891-41EB-9B0B-429356E2765D}")
        rc, _ = f.run("-UnregServer")
        check(rc == 0x80070002 & 0xFF, f"UnregServer without registration: {rc}")
        rc, _ = f.run("-u", "-i")
        check(rc == 0 and os.path.exists(unit), f"-u -i: {rc}")
        check(open(os.path.join(appid, "LocalService")).read() == "KelvaneHTTPAgent", "no LocalService")
        check(f'ExecStart="{f.agent}"' in open(unit).read(), open(unit).read())
        rc, _ = f.run("-u", "-i")
        check(rc == 1063 & 0xFF, f"registered: {rc}")
        rc, _ = f.run("-d")
        check(rc == 1063 & 0xFF, f"desktop start while registered: {rc}")
        for word in ["-RegServer", "-regserver", "/REGSERVER"]:
            rc, _ = f.run(word)
            check(rc == 0, f"{word}: {rc}")
            check(not os.path.exists(unit), f"{word} left the service")
            check(not os.path.exists(os.path.join(appid, "LocalService")), f"{word} kept LocalService")
            check(open(os.path.join(appid, "@")).read() == "KelvaneHTTPAgent", "no default value")
        rc, out = f.run("-RegServer:1")
        check(rc == 0 and "HasKey i" in out and os.path.exists(unit), f"-RegServer:1: {rc} {out}")
        rc, _ = f.run("-UnregServer")
        check(rc == 0 and not os.path.exists(unit) and not os.path.exists(appid), f"UnregServer: {rc}")
        port = free_port()
        f.run("-setport", str(port))
        process = f.start("-RegServerX", "-d")
        check(wait_port(port), "-RegServerX did not run the agent")
        stop(process)
    finally:
        f.close()


@test
def service_under_systemd_notify():
    if WINDOWS:
        raise Skip("Linux only")
    f = Folder()
    try:
        port = free_port()
        f.run("-setport", str(port))
        f.run("-tested")
        rc, _ = f.run("-Service")
        check(rc == 0, f"-Service: {rc}")
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        address = os.path.join(f.path, "notify.sock")
        listener.bind(address)
        listener.settimeout(30)
        env = dict(f.env, NOTIFY_SOCKET=address)
        process = f.start(env=env)
        messages = []
        while not any("READY=1" in m for m in messages):
            messages.append(listener.recv(4096).decode())
        check(wait_port(port), "the service never listened")
        status, _, body = http(port, "/?format=simple")
        check(status == "HTTP/1.1 200 OK" and "TEMPERATURES:" in body, body)
        process.send_signal(signal.SIGTERM)
        while not any("STOPPING=1" in m for m in messages):
            messages.append(listener.recv(4096).decode())
        rc = process.wait(timeout=20)
        check(rc == 0, f"service exit {rc}")
        while True:
            try:
                listener.settimeout(2)
                messages.append(listener.recv(4096).decode())
            except socket.timeout:
                break
        check(messages[-1] == "STATUS=SERVICE_STOPPED", repr(messages))
        listener.close()
    finally:
        f.close()


@test
def windows_service_installs_starts_stops_and_goes():
    if not WINDOWS:
        raise Skip("Windows only")
    f = Folder()
    keepalive = None
    try:
        port = free_port()
        f.run("-setport", str(port))
        f.run("-tested")
        rc, _ = f.run("-i")
        check(rc == 0, f"-i: {rc}")
        def wine(*args):
            rc, out = run_to_file([WINE, *args], f.path, f.env, 120)
            return subprocess.CompletedProcess(args, rc, out, "")
        # Wine's sc.exe has no "qc": read the service's configuration instead.
        config = wine("reg.exe", "query",
                      r"HKLM\System\CurrentControlSet\Services\KelvaneHTTPAgent").stdout
        check("Start    REG_DWORD    0x3" in config and "RPCSS" in config, config)
        check('ImagePath    REG_SZ    "' in config and 'KelvaneHTTPAgent.exe"' in config, config)
        rc, _ = f.run("-d")
        check(rc == 1063 & 0xFF, f"desktop start while registered: {rc}")
        # Wine ends its services when no ordinary process is left in the prefix.
        keepalive = subprocess.Popen([WINE, "cmd.exe", "/c", "ping -n 120 127.0.0.1 >nul"],
                                     env=f.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        started = wine("net.exe", "start", "KelvaneHTTPAgent")
        check(started.returncode == 0, started.stdout + started.stderr)
        check(wait_port(port, 60), "the service never listened")
        status, _, body = http(port, "/?format=simple")
        check("TEMPERATURES:" in body, body)
        check("RUNNING" in wine("sc.exe", "query", "KelvaneHTTPAgent").stdout, "not RUNNING")
        stopped = wine("net.exe", "stop", "KelvaneHTTPAgent")
        check(stopped.returncode == 0, stopped.stdout + stopped.stderr)
        rc, _ = f.run("-UnregServer")
        check(rc == 0, f"-UnregServer: {rc}")
        query = wine("reg.exe", "query", r"HKCR\AppID\{4788CB3F-3891-41EB-9B0B-429356E2765D}")
        check(query.returncode != 0, query.stdout)
        gone = wine("sc.exe", "query", "KelvaneHTTPAgent").stdout
        check("RUNNING" not in gone and "STOPPED" not in gone, gone)
    finally:
        if keepalive is not None:
            keepalive.kill()
            keepalive.wait(timeout=10)
        f.close()


if __name__ == "__main__":
    sys.exit(main(TESTS))
