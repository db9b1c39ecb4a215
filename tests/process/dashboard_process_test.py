#!/usr/bin/env python3
"""Process-level tests of the history and the dashboard: our monitor over a
sysfs-like tree whose values the test changes, the agent's history answer,
and the dashboard page in a real headless Chromium.

Usage: dashboard_process_test.py linux AGENT MONITOR
       dashboard_process_test.py windows AGENT.exe MONITOR.exe   (under wine)
KV_SCREENSHOT=PATH keeps the browser test's screenshot there; KV_SCREENSHOTS=DIR
keeps the limits test's, one per width (dashboard-limits-390.png, ...).
Prints "N passed, N failed" at the end; exits non-zero when any failed.
"""
import json
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import process_support as kv  # noqa: E402 - the command line and shared helpers

WINDOWS = kv.WINDOWS
TESTS = []
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


def test(function):
    TESTS.append(function)
    return function


def hwmon_chip(base, files):
    """One chip whose files the test rewrites."""
    chip = os.path.join(base, "class", "hwmon", "hwmon0")
    os.makedirs(chip)
    for name, text in {"name": "coretemp\n", **files}.items():
        write(os.path.join(chip, name), text)
    return os.path.dirname(chip), chip


def write(path, text):
    with open(path + ".new", "w") as out:
        out.write(text)
    os.replace(path + ".new", path)  # the monitor never reads half a file


def agent_over(base, files, settings=""):
    root, chip = hwmon_chip(base, files)
    f = kv.Folder(monitor_config=f"StartupHide=false\r\nHwmonRoot={root}\r\n", source="hwmon")
    port = kv.free_port()
    process = kv.serving(f, port, settings=settings)
    return f, port, chip, process


def history(port, since=None):
    target = "/?format=history" + (f"&since={since}" if since is not None else "")
    status, headers, body = kv.http(port, target)
    kv.check(status == "HTTP/1.1 200 OK" and
             "Content-Type: application/json; charset=utf-8" in headers, headers)
    return json.loads(body)


def wait_for(condition, what, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError(f"never happened: {what}")


def series(doc, sensor_id):
    return next((s for s in doc["sensors"] if s["id"] == sensor_id), None)


@test
def history_carries_the_monitors_values_in_order():
    if WINDOWS:
        raise kv.Skip("Linux only (our monitor reads the tree there)")
    base = tempfile.mkdtemp(prefix="kvhist-")
    f, port, chip, _ = agent_over(base, {"temp1_input": "40000\n", "fan1_input": "900\n"},
                                  settings="[Labels]\r\nTemperature1=CPU\r\n")
    try:
        wait_for(lambda: history(port)["up"], "a first sample with readings")
        # Known values, each held until the history has sampled it.
        for value in (41000, 55500, 38000):
            write(os.path.join(chip, "temp1_input"), f"{value}\n")
            wait_for(lambda: (series(history(port), "temperature1") or {"values": [None]})
                     ["values"][-1] == value / 1000, f"{value} sampled")
        doc = history(port)
        print(json.dumps(doc)[:400])
        times = doc["timestamps"]
        temp = series(doc, "temperature1")
        kv.check(doc["history"] == 3600 and doc["interval"] == 1000 and doc["error"] is None, doc)
        kv.check(all(b > a for a, b in zip(times, times[1:])), times)
        kv.check(abs(times[-1] - time.time() * 1000) < 10_000, "timestamps are Unix milliseconds")
        kv.check(len(temp["values"]) == len(times), temp)
        kv.check(temp["name"] == "CPU" and temp["unit"] == "celsius", temp)
        # The changes in the order they were made, each value once or more.
        seen = [v for i, v in enumerate(temp["values"]) if v is not None and
                (i == 0 or temp["values"][i - 1] != v)]
        kv.check(seen[-3:] == [41, 55.5, 38], seen)
        kv.check(temp["min"] == 38 and temp["max"] == 55.5, temp)
        kv.check(series(doc, "fan1")["values"][-1] == 900, doc)
        # since= gives only later samples: the newest one gives none.
        kv.check(history(port, times[-1])["timestamps"] == [] or
                 history(port, times[-1])["timestamps"][0] > times[-1], "since newest")
        later = history(port, times[-3])
        kv.check(later["timestamps"][:2] == times[-2:], later["timestamps"])
        kv.check(history(port, "nonsense")["timestamps"][:len(times)] == times, "malformed since")
        sensors = json.loads(kv.http(port, "/?format=sensors")[2])["sensors"]
        cpu = sensors[0]
        kv.check(cpu["min"] == 38 and cpu["max"] == 55.5 and cpu["value"] == 38, cpu)
        # The monitor stops: a gap of nulls, with the reason, never zeros.
        # (The request that sees it starts the monitor again, as any does.)
        subprocess_pkill(f.path)
        gap = wait_for(lambda: (lambda d: d if not d["up"] else None)(history(port, times[-1])),
                       "a gap after the monitor stopped")
        values = series(gap, "temperature1")["values"]
        kv.check(gap["error"].startswith("ERROR:") and values[-1] is None and 0 not in values,
                 gap)
    finally:
        f.close()
        shutil.rmtree(base, ignore_errors=True)


@test
def a_full_day_of_history_comes_in_bounded_pages():
    f = kv.Folder()
    try:
        port = kv.free_port()
        kv.serving(f, port, "-testfillhistory", settings="History=86400\r\n")
        first = wait_for(lambda: (lambda d: d if d.get("more") else None)(history(port)),
                         "a filled history")
        since, samples, pages, largest = None, 0, 0, 0
        for pages in range(1, 2000):  # a day of even 96 readings is 192 pages
            status, _, body = kv.http(port, "/?format=history" +
                                      (f"&since={since}" if since is not None else ""))
            kv.check(status == "HTTP/1.1 200 OK", status)
            largest = max(largest, len(body))
            doc = json.loads(body)
            samples += len(doc["timestamps"])
            since = doc["timestamps"][-1]
            if not doc.get("more"):
                break
        print(f"{pages} pages of {len(first['sensors'])} readings, {samples} samples, "
              f"the largest answer {largest} bytes")
        kv.check(samples >= 86400 and largest <= 512 * 1024, (samples, largest))
    finally:
        f.close()


def subprocess_pkill(folder):
    """Ends the monitor started from `folder` and waits until it is gone."""
    import subprocess
    pattern = os.path.join(folder, "kelvane")
    subprocess.run(["pkill", "-f", pattern], check=False)
    wait_for(lambda: subprocess.run(["pgrep", "-f", pattern], capture_output=True).returncode,
             "the monitor ended")


@test
def history_off_starts_no_sampler_and_says_so():
    f = kv.Folder()
    try:
        port = kv.free_port()
        kv.serving(f, port, settings="History=0\r\n")
        doc = history(port)
        kv.check(doc == {"up": False, "error": "History is off (History=0 in the settings file)",
                         "history": 0, "interval": 1000, "timestamps": [], "sensors": []}, doc)
        sensors = json.loads(kv.http(port, "/?format=sensors")[2])
        kv.check(sensors["up"] and all("min" not in s for s in sensors["sensors"]), sensors)
        kv.check("History=0" in kv.http(port, "/?format=dashboard")[2], "dashboard says why")
    finally:
        f.close()


@test
def dashboard_and_history_are_served_on_every_target():
    f = kv.Folder()
    try:
        port = kv.free_port()
        kv.serving(f, port)
        status, headers, page = kv.http(port, "/any/path?format=DASHBOARD")
        kv.check(status == "HTTP/1.1 200 OK" and
                 "Content-Type: text/html; charset=utf-8" in headers and
                 any(h.startswith("Content-Security-Policy: default-src 'none';")
                     for h in headers), headers)
        kv.check(page.startswith("<!DOCTYPE html>") and "var uPlot=" in page and
                 "http://" not in page.replace("http://www.w3.org/2000/svg", ""), "self-contained")
        doc = wait_for(lambda: (lambda d: d if d["up"] and d["sensors"] else None)(history(port)),
                       "readings in the history", seconds=60)
        kv.check(len(doc["sensors"]) == 12 and doc["sensors"][0]["id"] == "temperature1", doc)
        for s in doc["sensors"]:
            kv.check(len(s["values"]) == len(doc["timestamps"]) and
                     s["min"] <= s["max"], s)
        # The specified answers keep their shapes.
        kv.check(kv.http(port, "/?format=simple")[2].startswith("COMMENT:"), "simple")
    finally:
        f.close()


def need_browser():
    """Skips a browser test where it cannot run."""
    if WINDOWS:
        raise kv.Skip("the browser test drives the Linux agent")
    try:
        import selenium  # noqa: F401
    except ImportError:
        raise kv.Skip("python3-selenium missing (scripts/install-deps.sh installs it)")
    if not os.path.exists(CHROMIUM) or not os.path.exists(CHROMEDRIVER):
        raise kv.Skip("chromium missing (scripts/install-deps.sh installs it)")


def browser(port, user_data):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--window-size=1100,1300",
                     f"--user-data-dir={user_data}"]:
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


# Counts the pixels of a card's chart drawn in a colour of the page (its
# series' colour unless told).
SERIES_PIXELS = """
const card = document.querySelector('.card[data-id="' + arguments[0] + '"]');
const canvas = card && card.querySelector('canvas');
if (!canvas) return 0;
const probe = document.createElement('div');
probe.style.color = getComputedStyle(document.documentElement)
    .getPropertyValue(arguments[1] || '--temperature');
document.body.append(probe);
const [r, g, b] = getComputedStyle(probe).color.match(/\\d+/g).map(Number);
probe.remove();
const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
let count = 0;
for (let i = 0; i < data.length; i += 4) {
  if (data[i + 3] > 200 && Math.abs(data[i] - r) + Math.abs(data[i + 1] - g) +
      Math.abs(data[i + 2] - b) < 40) count++;
}
return count;
"""


@test
def dashboard_in_a_real_browser():
    need_browser()
    base = tempfile.mkdtemp(prefix="kvdash-")
    f, port, chip, process = agent_over(
        base, {"temp1_input": "47000\n", "temp2_input": "52250\n", "fan1_input": "1180\n",
               "in0_input": "1210\n"}, settings="[Labels]\r\nTemperature1=CPU <b>&\r\n")
    driver = None
    try:
        wait_for(lambda: len(history(port)["timestamps"]) >= 3, "three samples")
        driver = browser(port, os.path.join(base, "chromium"))
        driver.get(f"http://127.0.0.1:{port}/?format=dashboard")
        sensors = json.loads(kv.http(port, "/?format=sensors")[2])["sensors"]
        cards = lambda: driver.execute_script(  # noqa: E731
            "return Array.from(document.querySelectorAll('.card')).map(c => [c.dataset.id,"
            " c.querySelector('.name').textContent, c.querySelector('.now').textContent])")
        wait_for(lambda: len(cards()) == len(sensors), "a card per reading")
        shown = {card[0]: card for card in cards()}
        for sensor in sensors:
            kv.check(float(shown[sensor["id"]][2]) == sensor["value"], (sensor, shown))
        kv.check(shown["temperature1"][1] == "CPU <b>&", shown)  # a name is text, not markup
        kv.check(wait_for(lambda: driver.execute_script(SERIES_PIXELS, "temperature1") > 20,
                          "the chart's line drawn"), "chart")
        # A change made at the monitor's source shows in the page.
        started = time.monotonic()
        write(os.path.join(chip, "temp1_input"), "63500\n")
        wait_for(lambda: shown_value(driver, "temperature1") == "63.5", "the new value shown")
        print(f"a changed value showed after {time.monotonic() - started:.1f} s")
        driver.find_element("css selector", '.range button[data-range="300"]').click()
        screenshot = os.environ.get("KV_SCREENSHOT") or os.path.join(base, "dashboard.png")
        driver.save_screenshot(screenshot)
        print(f"screenshot: {screenshot}")
        # The agent goes away and comes back.
        kv.stop(process)
        wait_for(lambda: driver.execute_script(
            "return !document.getElementById('unreachable').hidden"), "the unreachable notice")
        notice = driver.find_element("id", "unreachable").text
        kv.check("unreachable" in notice, notice)
        f.start("-d")
        kv.check(kv.wait_port(port, 60), "the agent listens again")
        wait_for(lambda: driver.execute_script(
            "return document.getElementById('unreachable').hidden"), "the notice cleared")
        check_requests_and_errors(driver, port)
    finally:
        if driver is not None:
            driver.quit()
        f.close()
        shutil.rmtree(base, ignore_errors=True)


# Each card's state badge, and whether anything in it pokes out to the right.
CARD_LAYOUT = """
return Array.from(document.querySelectorAll('.card')).map(card => {
  const right = card.getBoundingClientRect().right;
  const over = Array.from(card.querySelectorAll('*'))
      .some(e => e.getBoundingClientRect().right > right + 0.5);
  return [card.dataset.id, card.querySelector('.state').textContent, over];
});
"""


@test
def limits_and_states_show_at_phone_and_desktop_widths():
    need_browser()
    base = tempfile.mkdtemp(prefix="kvdash-")
    f, port, _, _ = agent_over(
        base, {"temp1_input": "85000\n", "temp1_max": "80000\n", "temp1_crit": "95000\n",
               "temp2_input": "99000\n", "temp2_max": "80000\n", "temp2_crit": "95000\n",
               "fan1_input": "1180\n", "fan1_min": "300\n", "in0_input": "1210\n",
               "in0_min": "1100\n", "in0_max": "1300\n"},
        settings="[Labels]\r\nTemperature1=CPU package\r\nTemperature2=GPU\r\n")
    driver = None
    try:
        wait_for(lambda: len(history(port)["timestamps"]) >= 3, "three samples")
        driver = browser(port, os.path.join(base, "chromium"))
        for width in (1280, 390):
            driver.set_window_size(width, 1500)
            driver.get(f"http://127.0.0.1:{port}/?format=dashboard")
            wait_for(lambda: driver.execute_script(SERIES_PIXELS, "temperature1", "--warning") > 20,
                     "the warning limit drawn as a line")
            summary = driver.find_element("id", "summary").text
            kv.check(summary == "1 critical, 1 warning: GPU, CPU package", summary)
            kv.check(driver.title.startswith("(1 critical, 1 warning) "), driver.title)
            cards = {card[0]: card for card in driver.execute_script(CARD_LAYOUT)}
            kv.check(cards["temperature1"][1] == "\u26a0 warning" and
                     cards["temperature2"][1] == "\u2716 critical" and
                     cards["fan1"][1] == "\u2713 ok", cards)
            kv.check(not any(card[2] for card in cards.values()), f"{width} px: {cards}")
            kv.check(driver.execute_script(
                "return document.documentElement.scrollWidth <= innerWidth"), f"{width} px wide")
            folder = os.environ.get("KV_SCREENSHOTS") or base
            driver.save_screenshot(os.path.join(folder, f"dashboard-limits-{width}.png"))
        errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
        kv.check(not errors, errors)
    finally:
        if driver is not None:
            driver.quit()
        f.close()
        shutil.rmtree(base, ignore_errors=True)


def shown_value(driver, sensor_id):
    return driver.execute_script(
        "const c = document.querySelector('.card[data-id=\"' + arguments[0] + '\"]');"
        "return c && c.querySelector('.now').textContent;", sensor_id)


def check_requests_and_errors(driver, port):
    """Every request the page made went to the agent; no script failed."""
    origin = f"http://127.0.0.1:{port}/"
    urls = set()
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.requestWillBeSent":
            urls.add(message["params"]["request"]["url"])
    # The browser's own pages (chrome://) and inline data are no other host.
    urls = {url for url in urls if url.split(":", 1)[0] not in ("chrome", "devtools", "about", "data")}
    print(f"{len(urls)} distinct URLs requested by the page")
    kv.check(urls and all(url.startswith(origin) for url in urls), sorted(urls)[:10])
    kv.check(any("since=" in url for url in urls), "polls with since=")
    # While the agent was away its requests failed (logged by the network);
    # a script error would come from the page's code.
    errors = [e for e in driver.get_log("browser")
              if e["level"] == "SEVERE" and e.get("source") != "network"]
    kv.check(not errors, errors)


if __name__ == "__main__":
    sys.exit(kv.main(TESTS))
