#!/usr/bin/env python3
"""Process-level tests of the readings' names: our monitor's chip names over
a sysfs-like tree, the user's [Labels], and every answer that shows them,
checked by the clients people use (promtool and a real Prometheus).

Usage: names_process_test.py linux AGENT MONITOR
       names_process_test.py windows AGENT.exe MONITOR.exe   (under wine)
Prints "N passed, N failed" at the end; exits non-zero when any failed.
"""
import json
import os
import shutil
import socket
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import process_support as kv  # noqa: E402 - the command line and shared helpers

WINDOWS = kv.WINDOWS
TESTS = []


def test(function):
    TESTS.append(function)
    return function


def linked_tree(base):
    """Three chips linked to their devices as the kernel links them."""
    root = os.path.join(base, "class", "hwmon")
    os.makedirs(root)
    chips = [
        (4, "platform/coretemp.0", "coretemp",
         {"temp1_input": "45000\n", "temp1_label": "Package id 0\n", "temp2_input": "43000\n",
          "temp2_label": "Core 0\n"}),
        (0, "pci0000:00/0000:01:00.0/nvme/nvme0", "nvme",
         {"temp1_input": "35850\n", "temp1_label": "Composite\n"}),
        (2, "platform/nct6775.656", "nct6775",
         {"temp1_input": "30000\n", "fan1_input": "912\n", "in0_input": "1032\n",
          "in0_label": "Vcore\n"}),
    ]
    for number, device, name, files in chips:
        chip = os.path.join(root, f"hwmon{number}")
        os.makedirs(chip)
        target = os.path.join(base, "sys", "devices", device)
        os.makedirs(target)
        os.symlink(target, os.path.join(chip, "device"))
        for file, text in {"name": name + "\n", **files}.items():
            with open(os.path.join(chip, file), "w") as out:
                out.write(text)
    return root


def named_agent(base, labels):
    root = linked_tree(base)
    f = kv.Folder(monitor_config=f"StartupHide=false\r\nHwmonRoot={root}\r\n", source="hwmon")
    port = kv.free_port()
    kv.serving(f, port, settings=f"[Labels]\r\n{labels}")
    return f, port


@test
def three_chips_are_named_in_every_answer():
    if WINDOWS:
        raise kv.Skip("Linux only (our monitor names chips there)")
    base = tempfile.mkdtemp(prefix="kvnames-")
    f, port = named_agent(base, "Fan1=Rear fan\r\n")
    try:
        status, headers, body = kv.http(port, "/?format=sensors")
        kv.check(status == "HTTP/1.1 200 OK" and
                 "Content-Type: application/json; charset=utf-8" in headers, headers)
        print(body)
        sensors = json.loads(body)["sensors"]
        by_id = {s["id"]: s for s in sensors}
        kv.check([s["id"] for s in sensors] == ["temperature1", "temperature2", "temperature3",
                                                 "temperature4", "fan1", "voltage1"], body)
        kv.check(by_id["temperature1"] == {
            "id": "temperature1", "kind": "temperature", "index": 1, "name": "nvme Composite",
            "value": 35.85, "min": 35.85, "max": 35.85, "unit": "celsius", "chip": "nvme_nvme0",
            "chip_name": "nvme",
            "input": "temp1", "label": "Composite"}, by_id["temperature1"])
        kv.check(by_id["temperature2"]["name"] == "coretemp Package id 0" and
                 by_id["temperature2"]["chip"] == "platform_coretemp_0", body)
        kv.check(by_id["temperature4"]["name"] == "nct6775 temp1" and
                 "label" not in by_id["temperature4"], body)
        kv.check(by_id["fan1"]["name"] == "Rear fan" and by_id["fan1"]["value"] == 912, body)
        kv.check(by_id["voltage1"]["value"] == 1.03 and by_id["voltage1"]["unit"] == "volts", body)
        prom = kv.http(port, "/?format=prometheus")[2]
        info = [line for line in prom.splitlines() if line.startswith("kelvane_sensor_info")]
        print("\n".join(info))
        kv.check(len(info) == 6 and info[0] ==
                 'kelvane_sensor_info{kind="temperature",sensor="1",name="nvme Composite",'
                 'chip="nvme_nvme0",chip_name="nvme",input="temp1",label="Composite"} 1', prom)
        kv.check('kelvane_temperature_celsius{sensor="1"} 35.85\n' in prom, prom)
        kv.promtool_accepts(prom)
        page = kv.http(port, "/")[2]
        rows = [row for row in page.split("<tr>") if row.startswith("<td>Temperature") or
                row.startswith("<td>Fan") or row.startswith("<td>Voltage")]
        print("\n".join("<tr>" + row for row in rows))
        kv.check("<td>Temperature 2 (coretemp Package id 0)</td><td>:</td><td>45 C</td></tr>"
                 in page and "<td>Fan 1 (Rear fan)</td><td>:</td><td>912 RPM</td>" in page, page)
        # The other formats keep their exact shape.
        kv.check(kv.http(port, "/?format=simple")[2].endswith(
            "TEMPERATURES:36|45|43|30|\r\nFANS:912|\r\nVOLTAGES:1.03|\r\n"), "simple changed")
    finally:
        f.close()
        shutil.rmtree(base, ignore_errors=True)


@test
def a_real_prometheus_joins_the_names():
    if WINDOWS:
        raise kv.Skip("Linux only")
    if not os.path.exists(kv.PROMETHEUS):
        raise kv.Skip("prometheus missing (scripts/install-deps.sh installs it)")
    base = tempfile.mkdtemp(prefix="kvnames-")
    f, port = named_agent(base, "Temperature4=Board\r\n")
    try:
        join = ('kelvane_temperature_celsius * on(sensor) group_left(name) '
                'kelvane_sensor_info{kind="temperature"}')
        expected = {"1": "nvme Composite", "2": "coretemp Package id 0", "3": "coretemp Core 0",
                    "4": "Board"}
        got = {}
        with kv.Prometheus(f"    static_configs:\n      - targets: ['127.0.0.1:{port}']\n") as prometheus:
            deadline = time.monotonic() + 120
            while time.monotonic() < deadline and got != expected:
                try:
                    got = {r["metric"]["sensor"]: r["metric"].get("name")
                           for r in prometheus.query(join)}
                except (OSError, ValueError, KeyError):
                    pass
                time.sleep(0.5)
        kv.check(got == expected, f"joined names {got}")
    finally:
        f.close()
        shutil.rmtree(base, ignore_errors=True)


@test
def labels_in_utf8_and_in_the_ansi_code_page():
    f = kv.Folder()
    try:
        port = kv.free_port()
        f.run("-setport", str(port))
        f.run("-tested")
        with open(os.path.join(f.path, "KelvaneHTTPAgent.ini"), "ab") as out:
            out.write(b"[Labels]\r\nTemperature1=Geh\xc3\xa4use\r\nTemperature2=Geh\xe4use\r\n"
                      b"Fan3=<&\"\\,{0}\r\n")
        f.start("-d")
        kv.check(kv.wait_port(port, 60), "never listened")
        sensors = {s["id"]: s for s in json.loads(kv.http(port, "/?format=sensors")[2])["sensors"]}
        kv.check(sensors["temperature1"]["name"] == "Gehäuse", sensors["temperature1"])
        # Windows reads bytes that are not UTF-8 in its ANSI code page; Linux
        # text is UTF-8 always, and an invalid byte is U+FFFD.
        second = "Gehäuse" if WINDOWS else "Geh\ufffduse"
        kv.check(sensors["temperature2"]["name"] == second, sensors["temperature2"])
        kv.check(sensors["fan3"]["name"] == '<&"\\,{0}', sensors["fan3"])
        with socket.create_connection(("127.0.0.1", port), timeout=30) as s:
            s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n\r\n")
            page = kv.read_until_closed(s)
        narrow = b"Geh\xe4use" if WINDOWS else b"Geh\xc3\xa4use"
        kv.check(b"<td>Temperature 1 (" + narrow + b")</td>" in page, page[-1500:])
        kv.check(b"<td>Fan 3 (&lt;&amp;&quot;\\,{0})</td>" in page, page[-1500:])
        kv.check(b"<td>Fan 2</td>" in page, "an unnamed row changed")
    finally:
        f.close()


if __name__ == "__main__":
    sys.exit(kv.main(TESTS))
