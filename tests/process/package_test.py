#!/usr/bin/env python3
"""Package tests: the Debian package and the Windows installer that
scripts/package.sh builds into dist/ install, serve and go cleanly.

Usage: package_test.py [deb|windows]...   (both when none is named)
The Debian part installs into this machine, so it runs only where
FRESH_DEBIAN=1 (the CI's brand-new Debian) and as root; elsewhere it prints a
skip line. The Windows part runs the installer under wine in a temporary
prefix. Prints "N passed, N failed, N skipped"; exits non-zero on a failure.
"""
import glob
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from process_support import read_until_closed  # noqa: E402 - the one socket reader

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DIST = os.path.join(ROOT, "dist")
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"  # Debian keeps it outside the PATH
OPT = "/opt/kelvanehttpagent"
UNIT = "/etc/systemd/system/KelvaneHTTPAgent.service"
APPID = "/var/lib/KelvaneHTTPAgent/registry/HKCR/AppID/{4788CB3F-3891-41EB-9B0B-429356E2765D}"


class Skip(Exception):
    pass


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def get(port, target, timeout=30):
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(f"GET {target} HTTP/1.1\r\nHost: localhost\r\n\r\n".encode())
        data = read_until_closed(s)
    head, _, body = data.partition(b"\r\n\r\n")
    return head.split(b"\r\n")[0].decode(), body.decode("utf-8", "replace")


def wait_port(port, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            time.sleep(0.2)
    return False


def run(command, env=None, timeout=600):
    """Output goes to a file: a program started on the side may hold a pipe."""
    with tempfile.TemporaryFile(mode="w+") as out:
        done = subprocess.run(command, env=env, stdout=out, stderr=subprocess.STDOUT,
                              stdin=subprocess.DEVNULL, timeout=timeout)
        out.seek(0)
        return done.returncode, out.read()


def only(pattern):
    found = glob.glob(os.path.join(DIST, pattern))
    if len(found) != 1:
        raise AssertionError(f"expected one {pattern} in {DIST}, found {found}")
    return found[0]


def deb_installs_serves_and_goes():
    if os.environ.get("FRESH_DEBIAN") != "1" or os.geteuid() != 0:
        raise Skip("installs into the machine: only in the CI's fresh Debian (FRESH_DEBIAN=1, root)")
    deb = only("kelvanehttpagent_*_amd64.deb")
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    # Where there is no systemd at all, the package still installs, and says
    # that the service was not registered.
    units = os.path.dirname(UNIT)
    hidden = units + ".kvtest"
    if os.path.isdir(units):
        os.rename(units, hidden)
    try:
        rc, out = run(["apt-get", "install", "-y", "-q", deb], env=env)
        check(rc == 0 and "no systemd here: the service was not registered" in out, out)
        check(not os.path.exists(os.path.join(APPID, "LocalService")), "LocalService without a unit")
        rc, out = run(["apt-get", "purge", "-y", "-q", "kelvanehttpagent"], env=env)
        check(rc == 0, out)
    finally:
        shutil.rmtree(units, ignore_errors=True)
        if os.path.isdir(hidden):
            os.rename(hidden, units)
    rc, out = run(["apt-get", "install", "-y", "-q", deb], env=env)
    check(rc == 0, out)
    agent = os.path.join(OPT, "KelvaneHTTPAgent")
    check(os.access(agent, os.X_OK) and os.access(os.path.join(OPT, "kelvane"), os.X_OK), "files")
    check(os.path.exists(UNIT) and f'ExecStart="{agent}"' in open(UNIT).read(), "unit file")
    check(os.path.exists("/usr/share/kelvanehttpagent/prometheus/kelvane.rules.yml"), "rules")
    check(open(os.path.join(APPID, "LocalService")).read() == "KelvaneHTTPAgent", "entries")
    # Once registered, every start takes the service path, so the port goes
    # into the settings file by hand, as a user would put it there.
    port = free_port()
    with open(os.path.join(OPT, "KelvaneHTTPAgent.ini"), "w") as settings:
        settings.write(f"[Settings]\nPort={port}\n")
    # As systemd starts it: the service path.
    service = subprocess.Popen([agent], env=dict(env, INVOCATION_ID="package-test"),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        check(wait_port(port), "the installed service never listened")
        status, body = get(port, "/?format=json")
        check(status == "HTTP/1.1 200 OK" and "comment" in json.loads(body), body)
    finally:
        service.terminate()
        service.wait(timeout=30)
    rc, out = run(["apt-get", "remove", "-y", "-q", "kelvanehttpagent"], env=env)
    check(rc == 0, out)
    check(not os.path.exists(UNIT) and not os.path.exists(APPID), "remove left the service")
    check(os.path.exists(os.path.join(OPT, "KelvaneHTTPAgent.ini")), "remove took the settings")
    rc, out = run(["apt-get", "purge", "-y", "-q", "kelvanehttpagent"], env=env)
    check(rc == 0, out)
    check(not os.path.exists(OPT), f"purge left {os.listdir(OPT) if os.path.exists(OPT) else ''}")


def windows_installer_installs_serves_and_goes():
    setup = only("KelvaneHTTPAgent-*-setup.exe")
    prefix = tempfile.mkdtemp(prefix="kvwine-setup-")
    folder = tempfile.mkdtemp(prefix="kvinst-")
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    env.pop("DISPLAY", None)
    keepalive = None

    def wine(*args):
        return run([WINE, *args], env=env, timeout=300)

    try:
        target = "Z:" + folder.replace("/", "\\")
        rc, out = wine(setup, "/S", f"/D={target}")
        check(rc == 0, f"setup: {rc} {out}")
        installed = os.path.join(folder, "KelvaneHTTPAgent.exe")
        check(os.path.exists(installed), f"nothing installed: {os.listdir(folder)}")
        rc, config = wine("reg.exe", "query", r"HKLM\System\CurrentControlSet\Services\KelvaneHTTPAgent")
        check(rc == 0 and "KelvaneHTTPAgent.exe" in config, f"no service: {config}")
        rc, entry = wine("reg.exe", "query",
                         r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KelvaneHTTPAgent")
        check(rc == 0 and "DisplayVersion" in entry, f"no installed-programs entry: {entry}")
        # Once registered, every start takes the service path: the port goes
        # into the settings file by hand.
        port = free_port()
        with open(os.path.join(folder, "KelvaneHTTPAgent.ini"), "w", newline="") as settings:
            settings.write(f"[Settings]\r\nPort={port}\r\n")
        # Wine ends its services when no ordinary process is left in the prefix.
        keepalive = subprocess.Popen([WINE, "cmd.exe", "/c", "ping -n 300 127.0.0.1 >nul"], env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        rc, out = wine("net.exe", "start", "KelvaneHTTPAgent")
        check(rc == 0, f"net start: {out}")
        check(wait_port(port), "the installed service never listened")
        status, body = get(port, "/?format=json")
        check(status == "HTTP/1.1 200 OK" and "comment" in json.loads(body), body)
        uninstaller = os.path.join(folder, "uninstall-KelvaneHTTPAgent.exe")
        check(os.path.exists(uninstaller), "no uninstaller")
        check(os.path.exists(os.path.join(folder, "mbedTLS-LICENSE.txt")), "no mbedTLS licence")
        # _?= runs the uninstaller in place, so that the call waits for it.
        rc, out = wine(uninstaller, "/S", f"_?={target}")
        check(rc == 0, f"uninstall: {rc} {out}")
        left = [name for name in os.listdir(folder) if name != "uninstall-KelvaneHTTPAgent.exe"]
        check(not left, f"uninstall left {left}")
        rc, gone = wine("sc.exe", "query", "KelvaneHTTPAgent")
        check("RUNNING" not in gone and "STOPPED" not in gone, f"service still there: {gone}")
        rc, _ = wine("reg.exe", "query", r"HKCR\AppID\{4788CB3F-3891-41EB-9B0B-429356E2765D}")
        check(rc != 0, "registration entries left")
        rc, _ = wine("reg.exe", "query",
                     r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KelvaneHTTPAgent")
        check(rc != 0, "installed-programs entry left")
    finally:
        if keepalive is not None:
            keepalive.kill()
            keepalive.wait(timeout=30)
        subprocess.run([WINESERVER, "-k"], env=env, check=False)
        shutil.rmtree(prefix, ignore_errors=True)
        shutil.rmtree(folder, ignore_errors=True)


TESTS = {"deb": deb_installs_serves_and_goes, "windows": windows_installer_installs_serves_and_goes}


def main():
    chosen = sys.argv[1:] or list(TESTS)
    passed = failed = skipped = 0
    for name in chosen:
        function = TESTS[name]
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


if __name__ == "__main__":
    sys.exit(main())
