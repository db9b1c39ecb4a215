#!/usr/bin/env python3
"""Process-level tests of limits and alerts: our monitor over a sysfs-like
tree with the drivers' limits, node_exporter reading the same tree as the
oracle, and a fleet of two agents scraped by a real Prometheus with the
shipped rules, whose alerts a real Alertmanager sends to a webhook here.

Usage: limits_process_test.py linux AGENT MONITOR
       limits_process_test.py windows AGENT.exe MONITOR.exe   (under wine)
Prints "N passed, N failed" at the end; exits non-zero when any failed.
"""
import ctypes
import fcntl
import http.server
import json
import os
import re
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import process_support as kv  # noqa: E402 - the command line and shared helpers

TESTS = []
NODE_EXPORTER = "/usr/bin/prometheus-node-exporter"
ALERTMANAGER = "/usr/bin/prometheus-alertmanager"
RULES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging",
                     "prometheus", "kelvane.rules.yml")

# One chip with the limits and flags drivers give, and the bogus ones they
# are known to give: an NVMe drive's "high" of 65261.8 degrees, a fan whose
# min of 0 means "unset".
CHIPS = {
    1: ("coretemp", False, {"temp1_input": "45000\n", "temp1_max": "80000\n",
                            "temp1_crit": "95000\n", "temp1_crit_hyst": "90000\n",
                            "temp1_crit_alarm": "0\n"}),
    2: ("nvme", False, {"temp1_input": "38850\n", "temp1_max": "65261850\n",
                        "temp1_crit": "84850\n", "temp1_min": "-273150\n"}),
    3: ("it87", True, {"fan1_input": "1200\n", "fan1_min": "0\n", "fan2_input": "900\n",
                       "fan2_min": "300\n", "fan2_alarm": "0\n", "in0_input": "1192\n",
                       "in0_min": "1100\n", "in0_max": "1300\n"}),
}


def test(function):
    TESTS.append(function)
    return function


def metrics(text):
    """{(name, frozenset(labels)): value} of a Prometheus text answer."""
    found = {}
    for line in text.splitlines():
        m = re.match(r'^([a-z_:]+)(?:\{(.*)\})? (\S+)$', line)
        if m:
            labels = frozenset(re.findall(r'(\w+)="((?:[^"\\]|\\.)*)"', m.group(2) or ""))
            found[(m.group(1), labels)] = float(m.group(3))
    return found


def agent_with_tree(chips, limits="", prefix=()):
    """An agent whose monitor reads `chips`, with `limits` in its settings file;
    returns (base folder, chip folders, Folder, port)."""
    base = tempfile.mkdtemp(prefix="kvlimits-")
    root, folders = kv.hwmon_tree(base, chips)
    f = kv.Folder(monitor_config=f"StartupHide=false\r\nHwmonRoot={root}\r\n", source="hwmon")
    f.prefix = list(prefix)
    port = kv.free_port()
    f.run("-setport", str(port))
    rc, out = f.run("-tested")
    kv.check(f.read("KelvaneHTTPAgent.ini") is not None, f"no settings file: {rc} {out}")
    f.write("KelvaneHTTPAgent.ini", f.read("KelvaneHTTPAgent.ini") + limits)
    f.agent_process = f.start("-d")
    return base, folders, f, port


# A machine of its own for an agent and its monitor: its own network (so its
# own single-instance marker and loopback) and its own /dev/shm (its own block).
# Only /dev/shm is made private (a chroot's root is no mount point whose
# propagation could be changed), so the new block never shows outside.
OWN_MACHINE = ["unshare", "--net", "--mount", "--propagation", "unchanged", "--", "sh", "-c",
               "mount --make-private /dev/shm && mount -t tmpfs -o mode=1777 tmpfs /dev/shm"
               ' && exec "$0" "$@"']
CLONE_NEWNET = 0x40000000
SIOCSIFFLAGS = 0x8914
IFF_UP_LOOPBACK_RUNNING = 0x1 | 0x8 | 0x40
LIBC = ctypes.CDLL(None, use_errno=True)


def enter_network_of(pid):
    """The calling thread (only it) joins that process's network."""
    with open(f"/proc/{pid}/ns/net") as network:
        if LIBC.setns(network.fileno(), CLONE_NEWNET) != 0:
            raise OSError(ctypes.get_errno(), "setns")


class Machine:
    """An agent on a machine of its own, reached through a port on this
    machine's loopback that carries each connection into the agent's network."""

    def __init__(self, chips, limits):
        self.base, self.folders, self.folder, self.inner = agent_with_tree(chips, limits,
                                                                           OWN_MACHINE)
        self.pid = self.folder.agent_process.pid
        for _ in range(100):  # until unshare has made the network
            if os.readlink(f"/proc/{self.pid}/ns/net") != os.readlink("/proc/self/ns/net"):
                break
            time.sleep(0.05)
        self.in_network(self.loopback_up)
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()
        for _ in range(150):
            try:
                if kv.http(self.port, "/?format=simple", timeout=5)[0].endswith("200 OK"):
                    return
            except OSError:
                pass
            time.sleep(0.2)
        raise AssertionError("the machine's agent never answered")

    def in_network(self, work):
        thread = threading.Thread(target=lambda: (enter_network_of(self.pid), work()))
        thread.start()
        thread.join(timeout=30)

    @staticmethod
    def loopback_up():
        with socket.socket() as s:  # a new network's loopback starts down
            fcntl.ioctl(s, SIOCSIFFLAGS, struct.pack("16sh22x", b"lo", IFF_UP_LOOPBACK_RUNNING))

    def accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return  # closed
            threading.Thread(target=self.carry, args=(client,), daemon=True).start()

    def carry(self, client):
        enter_network_of(self.pid)
        try:
            agent = socket.create_connection(("127.0.0.1", self.inner), timeout=10)
        except OSError:
            client.close()
            return
        with client, agent:
            ends = {client: agent, agent: client}
            while True:  # until either side closes, or 30 s of silence
                ready, _, _ = select.select(list(ends), [], [], 30)
                data = ready[0].recv(65536) if ready else b""
                if not data:
                    return
                ends[ready[0]].sendall(data)

    def close(self):
        self.listener.close()
        self.folder.close()
        shutil.rmtree(self.base, ignore_errors=True)


@test
def driver_limits_agree_with_node_exporter_and_bogus_ones_are_dropped():
    if kv.WINDOWS:
        raise kv.Skip("Linux only: Windows limits come from [Limits] alone")
    if not os.path.exists(NODE_EXPORTER):
        raise kv.Skip("prometheus-node-exporter missing (scripts/install-deps.sh installs it)")
    base, _, f, port = agent_with_tree(CHIPS)
    kv.check(kv.wait_port(port), "the agent never listened")
    exporter = None
    try:
        web = kv.free_port()
        exporter = subprocess.Popen(
            [NODE_EXPORTER, "--collector.disable-defaults", "--collector.hwmon",
             f"--path.sysfs={base}", f"--web.listen-address=127.0.0.1:{web}"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        kv.check(kv.wait_port(web), "node_exporter never listened")
        with urllib.request.urlopen(f"http://127.0.0.1:{web}/metrics", timeout=30) as answer:
            oracle = metrics(answer.read().decode())
        kv.http(port, "/?format=prometheus")
        ours = metrics(kv.http(port, "/?format=prometheus")[2])
        info = {(dict(k[1])["kind"], dict(k[1])["sensor"]): dict(k[1])
                for k in ours if k[0] == "kelvane_sensor_info"}
        pairs = [("temperature", "high_warning_celsius", "temp", "max_celsius"),
                 ("temperature", "low_warning_celsius", "temp", "min_celsius"),
                 ("temperature", "high_critical_celsius", "temp", "crit_celsius"),
                 ("fan", "low_warning_rpm", "fan", "min_rpm"),
                 ("voltage", "low_warning_volts", "in", "min_volts"),
                 ("voltage", "high_warning_volts", "in", "max_volts")]
        compared = dropped = 0
        for kind, our_suffix, their_kind, their_suffix in pairs:
            for (name, labels), value in oracle.items():
                if name != f"node_hwmon_{their_kind}_{their_suffix}":
                    continue
                labels = dict(labels)
                # node_exporter names a chip by its folder, "hwmon<N>_device".
                chip = CHIPS[int(re.match(r"hwmon(\d+)", labels["chip"]).group(1))][0]
                sensor = [n for (k, n), i in info.items()
                          if k == kind and i.get("chip_name") == chip and
                          i.get("input") == labels["sensor"]]
                kv.check(len(sensor) == 1, (name, labels, info))
                mine = ours.get((f"kelvane_{kind}_{our_suffix}",
                                 frozenset({("sensor", sensor[0])})))
                if mine is None:
                    dropped += 1
                    print(f"dropped: {name}{labels} = {value}")
                    kv.check(value > 150 or value <= 0, (name, labels, value))
                else:
                    compared += 1
                    kv.check(abs(mine - value) < 1e-6, (name, labels, mine, value))
        print(f"{compared} limits agree with node_exporter, {dropped} bogus ones dropped")
        kv.check(compared >= 6 and dropped >= 3, (compared, dropped))
        trace = kv.stop(f.agent_process)[1]
        notes = [line for line in trace.splitlines() if "not used" in line]
        print("\n".join(notes))  # each once, though asked twice
        kv.check(len(notes) == 3 and "65261.8 is outside" in notes[0], trace)
    finally:
        if exporter is not None:
            exporter.terminate()
            exporter.wait(timeout=30)
        f.close()
        shutil.rmtree(base, ignore_errors=True)


@test
def your_limits_give_states_and_leave_the_specified_formats_alone():
    """[Limits] on every target (on Windows the only source of limits)."""
    f = kv.Folder(monitor_config="StartupHide=false\r\nDrift=0\r\n")
    try:
        port = kv.free_port()
        process = kv.serving(f, port)
        before = {form: kv.http(port, f"/?format={form}")[2] for form in ("simple", "xml", "json")}
        f.write("KelvaneHTTPAgent.ini", f.read("KelvaneHTTPAgent.ini") +
                "[Limits]\r\nTemperature1=warning 30, critical 40\r\nFan1=warning 5000\r\n"
                "Temperature2=critical 900\r\nVoltage1=warning banana\r\n")
        sensors = {s["id"]: s for s in
                   json.loads(kv.http(port, "/?format=sensors")[2])["sensors"]}
        kv.check(sensors["temperature1"]["value"] > 40, sensors["temperature1"])
        kv.check(sensors["temperature1"]["state"] == "critical" and
                 sensors["temperature1"]["limits"] == {"high_warning": 30, "high_critical": 40} and
                 sensors["fan1"]["state"] == "warning" and "limits" not in sensors["temperature2"],
                 sensors)
        body = kv.http(port, "/?format=prometheus")[2]
        kv.promtool_accepts(body)
        kv.check('kelvane_fan_low_warning_rpm{sensor="1"} 5000\n' in body and
                 'kelvane_sensor_state{kind="temperature",sensor="1"} 2\n' in body, body)
        for form, text in before.items():
            kv.check(kv.http(port, f"/?format={form}")[2] == text, f"{form} changed")
        if not kv.WINDOWS:  # wine keeps no standard output of ours
            trace = kv.stop(process)[1]
            kv.check(trace.count("Voltage1=warning banana") == 1 and
                     trace.count("limit 900 is outside") == 1, trace)
    finally:
        f.close()


class Webhook(http.server.BaseHTTPRequestHandler):
    """Alertmanager's notifications, kept in order with their arrival time."""
    received = []

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        Webhook.received.append((time.monotonic(), json.loads(body)))
        self.send_response(200)
        self.end_headers()

    def log_message(self, *_):
        pass


def shortened_rules(folder):
    """The shipped rules with their for: durations cut to a few seconds, so
    that the test ends in bounded time (the rules themselves are the same)."""
    with open(RULES) as source:
        text = re.sub(r"for: \d+[smh]", "for: 2s", source.read())
    path = os.path.join(folder, "kelvane.rules.yml")
    with open(path, "w") as out:
        out.write(text)
    return path


@test
def a_fleet_alerts_through_a_real_alertmanager_and_resolves():
    if kv.WINDOWS:
        raise kv.Skip("Linux only")
    for tool in (kv.PROMETHEUS, ALERTMANAGER):
        if not os.path.exists(tool):
            raise kv.Skip(f"{tool} missing (scripts/install-deps.sh installs it)")
    if os.geteuid() != 0:
        raise kv.Skip("two machines in one need namespaces: root only")
    chip = {1: ("coretemp", False, {"temp1_input": "45000\n", "temp1_max": "80000\n",
                                    "temp1_crit": "95000\n"})}
    fleet = []
    work = tempfile.mkdtemp(prefix="kvfleet-")
    hook = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Webhook)
    threading.Thread(target=hook.serve_forever, daemon=True).start()
    manager = None
    try:
        for _ in range(2):
            fleet.append(Machine(chip, "[Labels]\r\nTemperature1=CPU package\r\n"))
        am_port = kv.free_port()
        with open(os.path.join(work, "alertmanager.yml"), "w") as out:
            out.write("route:\n  receiver: test\n  group_by: [alertname, instance]\n"
                      "  group_wait: 1s\n  group_interval: 1s\n  repeat_interval: 1h\n"
                      "receivers:\n  - name: test\n    webhook_configs:\n"
                      f"      - url: http://127.0.0.1:{hook.server_port}/\n"
                      "        send_resolved: true\n")
        manager = subprocess.Popen(
            [ALERTMANAGER, f"--config.file={work}/alertmanager.yml",
             f"--storage.path={work}/am", f"--web.listen-address=127.0.0.1:{am_port}",
             "--cluster.listen-address="],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        kv.check(kv.wait_port(am_port), "alertmanager never listened")
        targets = ", ".join(f"'127.0.0.1:{machine.port}'" for machine in fleet)
        job = (f"    static_configs:\n      - targets: [{targets}]\n"
               f"rule_files: ['{shortened_rules(work)}']\n"
               f"alerting:\n  alertmanagers:\n    - static_configs:\n"
               f"        - targets: ['127.0.0.1:{am_port}']\n")
        with kv.Prometheus(job) as prometheus:
            for _ in range(120):  # both scraped, so that the quiet one counts
                try:
                    if len(prometheus.query("kelvane_up == 1")) == 2:
                        break
                except OSError:
                    pass  # not listening yet
                time.sleep(0.5)
            kv.check(len(prometheus.query("kelvane_up == 1")) == 2, "not both scraped")
            started = time.monotonic()
            hot_port = fleet[0].port
            with open(os.path.join(fleet[0].folders[1], "temp1_input"), "w") as out:
                out.write("99000\n")
            print(f"{time.monotonic() - started:5.1f} s  raised 127.0.0.1:{hot_port} to 99 C")
            fired = wait_for_alert("firing", "KelvaneReadingCritical", 180)
            labels = fired["labels"]
            print(f"{time.monotonic() - started:5.1f} s  fired at the webhook: {labels}")
            kv.check(labels["instance"] == f"127.0.0.1:{hot_port}" and
                     labels.get("name") == "CPU package", labels)
            with open(os.path.join(fleet[0].folders[1], "temp1_input"), "w") as out:
                out.write("45000\n")
            print(f"{time.monotonic() - started:5.1f} s  lowered it to 45 C")
            resolved = wait_for_alert("resolved", "KelvaneReadingCritical", 180)
            print(f"{time.monotonic() - started:5.1f} s  resolved at the webhook")
            kv.check(resolved["labels"]["instance"] == labels["instance"], resolved)
            others = [a for _, n in Webhook.received for a in n["alerts"]
                      if a["labels"].get("instance") != labels["instance"]]
            kv.check(others == [], others)
    finally:
        hook.shutdown()
        if manager is not None:
            manager.terminate()
            manager.wait(timeout=30)
        for machine in fleet:
            machine.close()
        shutil.rmtree(work, ignore_errors=True)


def wait_for_alert(status, name, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        for _, notice in list(Webhook.received):
            for alert in notice["alerts"]:
                if alert["status"] == status and alert["labels"].get("alertname") == name:
                    return alert
        time.sleep(0.5)
    raise AssertionError(f"no {status} {name} within {seconds} s: {Webhook.received}")


if __name__ == "__main__":
    sys.exit(kv.main(TESTS))
