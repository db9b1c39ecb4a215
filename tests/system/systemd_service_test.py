#!/usr/bin/env python3
"""The Linux service under a real systemd: a minimal Debian booted with
systemd-nspawn (its own network, so nothing it serves is seen outside),
our .deb installed in it, and the unit driven with systemctl.

Usage (as root, from anywhere): systemd_service_test.py [DEB]
Without DEB it builds one with scripts/package.sh --deb. It installs what it
uses itself (debootstrap, systemd-container) and keeps the minimal root in
$KV_SYSTEMD_ROOT (default /var/tmp/kv-systemd-root) for later runs; every run
boots it with a throw-away overlay, so the kept root never changes.
Prints "N passed, N failed" at the end; exits non-zero when any failed.
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BASE = os.environ.get("KV_SYSTEMD_ROOT", "/var/tmp/kv-systemd-root")
OPT = "/opt/kelvanehttpagent"
UNIT = "KelvaneHTTPAgent.service"
PORT = 18167


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def host(*command, timeout=1800, check_rc=True):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          timeout=timeout, stdin=subprocess.DEVNULL)
    if check_rc and done.returncode != 0:
        raise Failure(f"{' '.join(command)}: exit {done.returncode}\n{done.stdout[-3000:]}")
    return done


def install_tools():
    missing = [p for p in ("debootstrap", "systemd-container", "procps")
               if subprocess.run(["dpkg-query", "-W", "-f=${Status}", p], capture_output=True,
                                 text=True).stdout.find("install ok installed") < 0]
    if missing:
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(["apt-get", "update", "-qq"], check=True, env=env)
        subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends", *missing],
                       check=True, env=env, stdout=subprocess.DEVNULL)


def minimal_root():
    """A minimal Debian with systemd, built once and kept."""
    if os.path.exists(os.path.join(BASE, "lib/systemd/systemd")):
        return
    suite = host("sh", "-c", ". /etc/os-release && echo $VERSION_CODENAME").stdout.strip()
    mirror = host("sh", "-c", "sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources "
                  "2>/dev/null | head -n1").stdout.strip() or "http://deb.debian.org/debian"
    shutil.rmtree(BASE + ".new", ignore_errors=True)
    print(f"building a minimal {suite} root with systemd in {BASE} (once)", flush=True)
    host("debootstrap", "--variant=minbase", "--include=systemd,systemd-sysv,dbus", suite,
         BASE + ".new", mirror)
    os.rename(BASE + ".new", BASE)


def build_deb():
    if len(sys.argv) > 1:
        return os.path.abspath(sys.argv[1])
    host("bash", os.path.join(ROOT, "scripts", "package.sh"), "--deb")
    found = glob.glob(os.path.join(ROOT, "dist", "kelvanehttpagent_*_amd64.deb"))
    check(len(found) == 1, f"expected one .deb, found {found}")
    return found[0]


def dependency_debs(deb):
    """The .deb files of the package's dependencies that the minimal root
    lacks, fetched on the host (the container has no network): what
    `apt-get install ./package.deb` would fetch before installing it."""
    fields = host("dpkg-deb", "-f", deb, "Depends").stdout
    wanted = [part.split()[0].split(":")[0] for part in fields.replace("|", ",").split(",")
              if part.strip()]
    admin = os.path.join(BASE, "var", "lib", "dpkg")
    missing = [name for name in sorted(set(wanted))
               if "install ok installed" not in subprocess.run(
                   ["dpkg-query", f"--admindir={admin}", "-W", "-f=${Status}", name],
                   capture_output=True, text=True).stdout]
    folder = tempfile.mkdtemp(prefix="kvdeps-")
    if missing:
        subprocess.run(["apt-get", "download", "-qq", "-o", "APT::Sandbox::User=root", *missing],
                       cwd=folder, check=True)
    return folder


class Container:
    """The booted minimal root; commands run inside with nsenter."""

    def __init__(self, deb, deps_dir):
        self.deb_dir = os.path.dirname(deb)
        self.deb = "/mnt/deb/" + os.path.basename(deb)
        self.process = subprocess.Popen(
            ["systemd-nspawn", "--quiet", "--boot", "--register=no", "--keep-unit",
             "--volatile=overlay", "--private-network", "--machine=kvtest",
             f"--bind-ro={self.deb_dir}:/mnt/deb", f"--bind-ro={deps_dir}:/mnt/deps",
             "-D", BASE],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        self.leader = None
        try:
            self.wait_for_boot()
        except BaseException:
            self.close()  # a container that did not boot is stopped all the same
            raise

    def wait_for_boot(self):
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline and self.leader is None:
            self.leader = self.find_init(str(self.process.pid), 3)
            time.sleep(0.1)
        check(self.leader is not None, "the container's systemd never started")
        # Until systemd's own socket is up, systemctl cannot even ask.
        state = None
        deadline = time.monotonic() + 180
        while time.monotonic() < deadline:
            state = self.run("systemctl is-system-running --wait", timeout=180, check_rc=False)
            if state.stdout.strip() in ("running", "degraded"):
                break
            time.sleep(0.2)
        check(state.stdout.strip() in ("running", "degraded"), f"boot: {state.stdout}")

    @staticmethod
    def find_init(pid, depth):
        """The container's systemd among nspawn's descendants."""
        children = subprocess.run(["pgrep", "-P", pid], capture_output=True, text=True).stdout.split()
        for child in children:
            try:
                if os.readlink(f"/proc/{child}/exe").endswith("/systemd"):
                    return child
            except OSError:
                continue
            if depth > 1 and (found := Container.find_init(child, depth - 1)):
                return found
        return None

    def run(self, script, timeout=120, check_rc=True):
        # Bytes decoded here: text mode would turn the answers' CR LF into LF.
        done = subprocess.run(["nsenter", "-t", self.leader, "-a", "--", "/bin/bash", "-c", script],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout, stdin=subprocess.DEVNULL)
        done.stdout = done.stdout.decode("utf-8", "replace")
        if check_rc and done.returncode != 0:
            raise Failure(f"in the container: {script}: exit {done.returncode}\n{done.stdout}")
        return done

    def http(self, target, method="GET", body="", port=PORT):
        """One request from inside (bash's /dev/tcp: the minimal root has no client)."""
        request = f"{method} {target} HTTP/1.1\\r\\nHost: 127.0.0.1:{port}\\r\\n"
        if method == "POST":
            request += ("Content-Type: application/x-www-form-urlencoded\\r\\n"
                        f"Content-Length: {len(body)}\\r\\n")
        request += "\\r\\n" + body
        done = self.run(f"exec 3<>/dev/tcp/127.0.0.1/{port} && printf '{request}' >&3 && "
                        "timeout 30 cat <&3", check_rc=False)
        return done.stdout

    def show(self, *properties):
        text = self.run(f"systemctl show {UNIT} " + " ".join(f"-p {p}" for p in properties)).stdout
        return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)

    def wait(self, condition, seconds=60):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if condition():
                return True
            time.sleep(0.2)
        return False

    def monitors(self):
        script = "for p in /proc/[0-9]*; do readlink $p/exe; done 2>/dev/null | grep -c '/kelvane$'"
        return int(self.run(script, check_rc=False).stdout.strip() or 0)

    def close(self):
        if self.leader is not None:
            self.run("systemctl poweroff --no-block", check_rc=False)
        try:
            self.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, 9)
            self.process.wait(timeout=30)


def readings_served(c):
    answer = c.http("/?format=simple")
    return "TEMPERATURES:40|\r\n" in answer


def test_install_start_and_serve(c):
    c.run("if ls /mnt/deps/*.deb >/dev/null 2>&1; then dpkg -i /mnt/deps/*.deb; fi")
    c.run(f"dpkg -i {c.deb}")
    c.run(f"test -f /etc/systemd/system/{UNIT}")
    c.run("mkdir -p /srv/hwmon/hwmon0 && echo fixture > /srv/hwmon/hwmon0/name && "
          "echo 40000 > /srv/hwmon/hwmon0/temp1_input")
    c.run(f"printf 'Source=hwmon\\nHwmonRoot=/srv/hwmon\\nStartupHide=false\\n' > "
          f"{OPT}/kelvaneparams.cfg")
    # The README's steps: the switches, with the registration dropped meanwhile.
    c.run(f"cd {OPT} && ./KelvaneHTTPAgent -UnregServer && "
          f"./KelvaneHTTPAgent -setport {PORT} -tested && ./KelvaneHTTPAgent -i")
    settings = c.run(f"cat {OPT}/KelvaneHTTPAgent.ini").stdout
    check(f"Port={PORT}" in settings and "CanLaunch=1" in settings, settings)
    c.run(f"systemctl start {UNIT}")
    check(c.run(f"systemctl is-active {UNIT}", check_rc=False).stdout.strip() == "active",
          "not active")
    check(c.wait(lambda: readings_served(c)), f"no readings: {c.http('/?format=simple')}")
    # The monitor's configuration beside it was edited from inside the sandbox.
    check("StartupHide=true" in c.run(f"cat {OPT}/kelvaneparams.cfg").stdout, "config not edited")


def test_the_unit_rates_at_most_2_5(c):
    report = c.run(f"systemd-analyze security --offline=true /etc/systemd/system/{UNIT} "
                   "--no-pager 2>&1", check_rc=False).stdout
    marker = "Overall exposure level for " + UNIT + ": "
    check(marker in report, report[-1500:])
    score = float(report.split(marker, 1)[1].split()[0])
    exposed = [line for line in report.splitlines() if line.startswith("✗")]
    print(f"  exposure {score}; still exposed:\n    " + "\n    ".join(exposed))
    check(score <= 2.5, f"exposure {score}")


def test_form_and_log_under_the_service(c):
    answer = c.http("/", "POST", "port=18168&canlaunch=on")
    check(" 200 OK" in answer, answer[:200])
    check("Port=18168" in c.run(f"cat {OPT}/KelvaneHTTPAgent.ini").stdout, "settings not written")
    # A monitor that cannot be started is logged in the log file beside the agent.
    c.run(f"systemctl stop {UNIT} && chmod 644 {OPT}/kelvane && "
          f"printf '[Settings]\\nPort={PORT}\\nCanLaunch=1\\n' > {OPT}/KelvaneHTTPAgent.ini && "
          f"systemctl start {UNIT}")
    c.http("/?format=json")
    log = c.run(f"cat {OPT}/KelvaneHTTPAgent_Log.txt", check_rc=False).stdout
    check(f"Failed to start {OPT}/kelvane" in log, f"log: {log!r}")
    c.run(f"chmod 755 {OPT}/kelvane")
    check(c.wait(lambda: readings_served(c)), "no readings after the monitor came back")


def test_stop_is_clean_and_takes_the_monitor(c):
    check(c.monitors() == 1, f"{c.monitors()} monitors before the stop")
    c.run(f"systemctl stop {UNIT}")
    state = c.show("Result", "ExecMainStatus", "ActiveState")
    check(state == {"Result": "success", "ExecMainStatus": "0", "ActiveState": "inactive"},
          f"after stop: {state}")
    journal = c.run(f"journalctl -u {UNIT} --no-pager -n 20", check_rc=False).stdout
    check("Deactivated successfully" in journal and "Sanitizer" not in journal, journal)
    check(c.monitors() == 0, "the monitor outlived the service")


def test_killed_agent_is_restarted(c):
    c.run(f"systemctl start {UNIT}")
    check(c.wait(lambda: readings_served(c)), "not serving")
    c.run(f"systemctl kill --signal=KILL --kill-whom=main {UNIT}")
    check(c.wait(lambda: c.show("NRestarts")["NRestarts"] == "1"), "not restarted")
    check(c.wait(lambda: readings_served(c)), "not serving after the restart")


def test_taken_port_fails_the_unit_with_the_reason(c):
    c.run(f"systemctl stop {UNIT}")
    c.run("systemd-run --unit=porthog systemd-socket-activate -l 18170 sleep 600")
    c.run(f"printf '[Settings]\\nPort=18170\\nCanLaunch=1\\n' > {OPT}/KelvaneHTTPAgent.ini")
    c.run(f"systemctl start {UNIT}", check_rc=False)
    check(c.wait(lambda: c.run(f"systemctl is-failed {UNIT}", check_rc=False).stdout.strip() ==
                 "failed"), f"not failed: {c.show('ActiveState', 'Result')}")
    state = c.show("ExecMainStatus", "NRestarts")
    check(state["ExecMainStatus"] == "3", f"exit status {state}")
    journal = c.run(f"journalctl -u {UNIT} --no-pager", check_rc=False).stdout
    check("port 18170 is already in use" in journal, journal[-2000:])
    c.run("systemctl stop porthog")
    c.run(f"systemctl reset-failed {UNIT} && "
          f"printf '[Settings]\\nPort={PORT}\\nCanLaunch=1\\n' > {OPT}/KelvaneHTTPAgent.ini")


def test_the_sandbox_holds(c):
    c.run(f"systemctl start {UNIT}")
    check(c.wait(lambda: readings_served(c)), "not serving")
    pid = c.show("MainPID")["MainPID"]
    inside = f"nsenter -t {pid} -m --"
    blocked = c.run(f"{inside} sh -c 'echo x > /etc/kv-sandbox' 2>&1", check_rc=False)
    check(blocked.returncode != 0 and "Read-only file system" in blocked.stdout, blocked.stdout)
    for path in ["/usr/kv-sandbox", "/var/lib/kv-sandbox", "/root/kv-sandbox"]:
        attempt = c.run(f"{inside} sh -c 'echo x > {path}' 2>&1", check_rc=False)
        check(attempt.returncode != 0, f"{path} was writable")
    c.run(f"{inside} sh -c 'echo x > {OPT}/kv-sandbox && rm {OPT}/kv-sandbox'")


def test_remove_and_purge_leave_nothing(c):
    c.run(f"systemctl enable {UNIT}")
    wants = f"/etc/systemd/system/multi-user.target.wants/{UNIT}"
    c.run(f"test -L {wants}")
    c.run("dpkg -r kelvanehttpagent")
    left = c.run(f"ls -d /etc/systemd/system/{UNIT} {wants} 2>/dev/null", check_rc=False).stdout
    check(left.strip() == "", f"remove left {left}")
    check(c.run(f"systemctl is-active {UNIT}", check_rc=False).stdout.strip() != "active",
          "still running")
    c.run("dpkg --purge kelvanehttpagent")
    left = c.run(f"ls -d {OPT} /var/lib/KelvaneHTTPAgent 2>/dev/null", check_rc=False).stdout
    check(left.strip() == "", f"purge left {left}")


TESTS = [test_install_start_and_serve, test_the_unit_rates_at_most_2_5,
         test_form_and_log_under_the_service,
         test_stop_is_clean_and_takes_the_monitor, test_killed_agent_is_restarted,
         test_taken_port_fails_the_unit_with_the_reason, test_the_sandbox_holds,
         test_remove_and_purge_leave_nothing]


def main():
    if os.geteuid() != 0:
        print("systemd_service_test: run as root")
        return 2
    started = time.monotonic()
    install_tools()
    minimal_root()
    deb = build_deb()
    deps_dir = dependency_debs(deb)
    print(f"set-up: {time.monotonic() - started:.1f} s", flush=True)
    passed = failed = 0
    container = None
    try:
        container = Container(deb, deps_dir)
        print(f"booted: {time.monotonic() - started:.1f} s", flush=True)
        for function in TESTS:
            step = time.monotonic()
            try:
                function(container)
                passed += 1
                print(f"[ OK ] {function.__name__} ({time.monotonic() - step:.1f} s)", flush=True)
            except Exception:  # noqa: BLE001 - every failure is reported
                failed += 1
                print(f"[FAIL] {function.__name__}", flush=True)
                traceback.print_exc()
    except Exception:  # noqa: BLE001 - a container that would not boot fails the run
        failed += 1
        traceback.print_exc()
    finally:
        if container is not None:
            container.close()
        shutil.rmtree(deps_dir, ignore_errors=True)
    print(f"run time: {time.monotonic() - started:.1f} s")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
