"""The web page in headless Chromium against the headless simulated program, and its server
against clients that try to exhaust it: one scenario, as a person at the bench and a hostile
network would meet it."""

import json
import os
import re
import shutil
import socket
import ssl
import subprocess
import tempfile
import threading
import time
import urllib.error
import urllib.request
import xml.etree.ElementTree as ET
from http.client import HTTPSConnection

import pytest

from conftest import BINARY, start_server

CHROMEDRIVER = "/usr/bin/chromedriver"


def browser():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        pytest.skip("python3-selenium is not installed")
    if not shutil.which("chromium") or not os.path.exists(CHROMEDRIVER):
        pytest.skip("chromium and chromium-driver are not installed")
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--disable-gpu", "--no-first-run", "--disable-extensions",
                     "--ignore-certificate-errors"):
        options.add_argument(argument)
    if os.geteuid() == 0:
        options.add_argument("--no-sandbox")
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def ask(scpi, line):
    scpi.sendall((line + "\n").encode())
    answer = b""
    while not answer.endswith(b"\n"):
        chunk = scpi.recv(65536)
        assert chunk, "the protocol server closed the connection"
        answer += chunk
    return answer.decode().strip()


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    pytest.fail("not within %s s: %s" % (seconds, what))


# Read in one script: the page replaces its elements at every update.
def card_text(driver, name):
    return driver.execute_script(
        "const c = [...document.querySelectorAll('article.channel')]"
        ".find(c => c.dataset.channel === arguments[0]); return c ? c.innerText : '';", name)


def text(driver, element_id):
    return driver.execute_script("return document.getElementById(arguments[0]).innerText;",
                                 element_id)


def http(port, method="GET", path="/", data=None, headers={}, tls=None, host="127.0.0.1"):
    scheme = "https" if tls else "http"
    request = urllib.request.Request("%s://%s:%d%s" % (scheme, host, port, path), data=data,
                                     method=method, headers=headers)
    try:
        with urllib.request.urlopen(request, timeout=10, context=tls) as answer:
            return answer.status, dict(answer.headers), answer.read()
    except urllib.error.HTTPError as e:
        return e.code, dict(e.headers), e.read()


def loopback_ipv6():
    try:
        with socket.socket(socket.AF_INET6) as probe:
            probe.bind(("::1", 0))
        return True
    except OSError:
        return False


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        return int(re.search(r"VmRSS:\s+(\d+)", status.read()).group(1))


def test_the_page_shows_the_board_live_and_no_client_exhausts_its_server():
    driver = browser()
    # --listen localhost: both loopback addresses, where the machine has IPv6.
    ipv6 = loopback_ipv6()
    server = start_server("--http", "0", *(("--listen", "localhost") if ipv6 else ()))
    try:
        # After the protocol's lines (VXI-11's among them).
        said = []
        for _ in range(10):
            said.append(server.process.stderr.readline().strip())
            page = re.match(r"web page on http://127\.0\.0\.1:(\d+)/$", said[-1])
            if page:
                break
        web = int(page.group(1))
        scpi = socket.create_connection(("127.0.0.1", server.port), timeout=10)
        if ipv6:
            assert "listening on [::1]:%d" % server.port in said, said
            assert server.process.stderr.readline().strip() == "web page on http://[::1]:%d/" % web
            with socket.create_connection(("::1", server.port), timeout=10) as other:
                assert ask(other, "*IDN?").startswith("TQ2604X-EVAL,TQ2604X,SIMULATED,")
            assert http(web, path="/api/state", host="[::1]")[0] == 200

        # Identity and the four channels.
        driver.set_window_size(1280, 900)
        driver.get("http://127.0.0.1:%d/" % web)
        wait_for(lambda: driver.execute_script(
            "return document.querySelectorAll('article.channel').length") == 4, 5,
                 "four channels shown")
        wait_for(lambda: "SIMULATED" in text(driver, "identity"), 5,
                 "the serial shown")
        identity = text(driver, "identity")
        for fact in ("TQ2604X-EVAL", "TQ2604X", "TCPIP::127.0.0.1::%d::SOCKET" % server.port):
            assert fact in identity

        # A raw client's change shows within one second, with its unit.
        assert ask(scpi, "SOUR2:VOLT 5;*OPC?") == "1"
        started = time.monotonic()
        wait_for(lambda: "5.000 V" in card_text(driver, "DAC B"), 1.0, "DAC B at 5.000 V")
        assert time.monotonic() - started < 1.0

        # A list run's progress moves, and the channel says who drives it.
        scpi.sendall(b"SOUR1:LIST:VOLT " + ",".join(["1", "2"] * 20).encode() +
                     b";:LIST:DWEL 0.1;INIT\n")
        first = wait_for(lambda: re.search(r"(\d+) of 40", text(driver, "activities")), 3, "the run's progress shown")
        wait_for(lambda: (lambda m: m and int(m.group(1)) > int(first.group(1)))(
            re.search(r"(\d+) of 40", text(driver, "activities"))), 3,
            "the run's progress moving")
        assert "started by a remote client" in card_text(driver, "DAC A")
        assert ask(scpi, "ABOR;*OPC?") == "1"

        # The remote lock's holder is shown, and gone once it is given back.
        assert ask(scpi, "SYST:LOCK:REQ?") == "1"
        wait_for(lambda: "held by client at 127.0.0.1:" in text(driver, "board"), 2,
                 "the lock's holder shown")
        scpi.sendall(b"SYST:LOCK:REL\n")
        wait_for(lambda: "held by" not in text(driver, "board"), 2, "the lock shown free")

        # A power loss is shown among the outcomes.
        assert ask(scpi, "BENC:POW:CYCL;*OPC?") == "1"
        wait_for(lambda: "power" in text(driver, "outcomes"), 2,
                 "the power loss shown")

        # Nothing overflows on a phone or a desktop; pictures kept for a person to look at.
        pictures = os.environ.get("TQ_WEB_SCREENSHOTS")
        for width in (360, 1280):
            driver.set_window_size(width, 900)
            time.sleep(0.7)
            overflow = driver.execute_script(
                "return document.documentElement.scrollWidth - "
                "document.documentElement.clientWidth")
            assert overflow <= 0, "%d px wide: %d px overflow" % (width, overflow)
            if pictures:
                driver.save_screenshot(os.path.join(pictures, "page-%d.png" % width))

        # The documents hold what the page shows.
        status, headers, body = http(web, path="/api/state")
        state = json.loads(body)
        assert headers["Content-Type"] == "application/json"
        assert "'unsafe-inline'" not in headers["Content-Security-Policy"]
        assert headers["X-Frame-Options"] == "DENY"
        assert state["identity"]["serial"] == "SIMULATED"
        assert [c["name"] for c in state["channels"]] == ["DAC A", "DAC B", "DAC C", "DAC D"]
        assert any(o["kind"] == "power" for o in state["outcomes"])
        assert "%.3f V" % state["channels"][0]["volts"] in card_text(driver, "DAC A")
        status, _, body = http(web, path="/lxi/identification")
        lxi = ET.fromstring(body)
        ns = {"lxi": "http://www.lxistandard.org/InstrumentIdentification/1.0"}
        assert lxi.find("lxi:SerialNumber", ns).text == "SIMULATED"
        assert lxi.find("lxi:Model", ns).text == "TQ2604X"
        assert "TCPIP::127.0.0.1::%d::SOCKET" % server.port in [
            a.text for a in lxi.findall(".//lxi:InstrumentAddressString", ns)]

        # Read-only, and nothing but the page's own paths; no sign-in without a password.
        for method, path, body, refused in [
                ("POST", "/api/state", b"x", 405), ("PUT", "/", None, 405),
                ("POST", "/api/change", b'{"action": "safe"}', 403),
                ("POST", "/api/signin", b'{"password": ""}', 403),
                *(("GET", path, None, 404) for path in
                  ("/etc/passwd", "/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/web/"))]:
            assert http(web, method, path, body)[0] == refused, (method, path)
        assert json.loads(http(web, path="/api/session")[2])["signIn"] is False
        assert not driver.find_element("id", "changes").is_displayed()
        before = resident_kib(server.process.pid)

        # A 10 MB request is cut off long before its end.
        big = socket.create_connection(("127.0.0.1", web), timeout=10)
        big.sendall(b"GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 10000000\r\n\r\n")
        sent = 0
        try:
            while sent < 10_000_000:
                sent += big.send(b"x" * 65536)
        except OSError:
            pass
        assert sent < 10_000_000, "the server read a 10 MB request"
        big.close()

        # Malformed requests get no answer but a closed connection, or a refusal.
        for garbage in (b"\x00\xff\r\n\r\n", b"GET\r\n\r\n", b"GET / HTTP/9\r\n" + b"A: b\r\n" * 5000,
                        b"BREW /pot HTTP/1.1\r\n\r\n"):
            bad = socket.create_connection(("127.0.0.1", web), timeout=10)
            try:
                bad.sendall(garbage)
                bad.shutdown(socket.SHUT_WR)
                bad.recv(4096)
            except OSError:
                pass
            bad.close()

        # 500 connections held open: the server keeps a bounded number, the protocol is served.
        held = []
        for _ in range(500):
            try:
                held.append(socket.create_connection(("127.0.0.1", web), timeout=5))
            except OSError:
                break
        assert ask(scpi, "*IDN?").startswith("TQ2604X-EVAL,TQ2604X,SIMULATED,")
        for s in held:
            s.close()

        # 2,000 page loads.
        time.sleep(0.3)
        for i in range(2000):
            status, _, body = http(web, path="/" if i % 2 else "/api/state")
            assert status == 200
        assert ask(scpi, "SOUR2:VOLT 2.5;VOLT?") == "2.5"
        grown = resident_kib(server.process.pid) - before
        # A sanitizer build's allocator pads and quarantines every block: the bound means
        # something in the normal build only, where it is checked.
        if os.environ.get("TQ_SANITIZED") != "1":
            assert grown < 20_000, "the program grew by %d KiB" % grown
        scpi.close()
        assert server.stop() == 0
        signed_in_changes_over_https(driver)
    finally:
        driver.quit()
        server.stop()


def click(driver, element_id):
    driver.find_element("id", element_id).click()


def message_after(driver, act, expected, seconds=3):
    driver.execute_script("document.getElementById('message').textContent = '';")
    act()
    return wait_for(lambda: expected in text(driver, "message") and text(driver, "message"),
                    seconds, "the page says %r, not %r" % (expected, text(driver, "message")))


def submit(driver, element_id, value, expected):
    """Types `value` into the field and submits its form; what the page says then."""
    field = driver.find_element("id", element_id)
    field.clear()
    field.send_keys(value)
    return message_after(driver, lambda: driver.find_element("id", element_id).submit(), expected)


def warned_beyond_loopback(password, folder):
    """Beyond loopback without HTTPS the program warns that the password travels unencrypted, naming
    the address; in a network namespace of its own, so no other computer reaches it."""
    if subprocess.run(["unshare", "--net", "true"], capture_output=True).returncode != 0:
        return  # this machine cannot make a network namespace (not root)
    program = subprocess.Popen(["unshare", "--net", BINARY, "--headless", "--simulate", "--http",
                                "0", "--listen", "0.0.0.0", "--no-advertise",
                                "--http-password-file", password],
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, text=True,
                               env=dict(os.environ, XDG_CONFIG_HOME=folder))
    said = []
    try:
        for _ in range(20):
            said.append(program.stderr.readline())
            if not said[-1] or "warning" in said[-1]:
                break
    finally:
        program.kill()
        program.wait(timeout=10)
    assert len(said) >= 2, said
    assert re.match(r"web page on http://0\.0\.0\.0:\d+/$", said[-2].strip()), said
    assert "password travels unencrypted" in said[-1] and "listens on 0.0.0.0)" in said[-1], said


def signed_in_changes_over_https(driver):
    from selenium.webdriver.support.ui import Select
    folder = tempfile.mkdtemp()
    password = os.path.join(folder, "password")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1,IP:::1",
                    "-keyout", os.path.join(folder, "key.pem"),
                    "-out", os.path.join(folder, "cert.pem")], check=True, capture_output=True)
    subprocess.run(["openssl", "genpkey", "-algorithm", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-out", os.path.join(folder, "other.pem")],
                   check=True, capture_output=True)

    # A password file others can read, a short password, or a key that does not belong to the
    # certificate ends the program with status 2, naming the cause.
    for content, mode, arguments, said in [
            ("twelve chars\n", 0o644, ["--http-password-file", password],
             ["can be read by others"]),
            ("eleven char\n", 0o600, ["--http-password-file", password], ["has 11 characters"]),
            ("correct horse battery\n", 0o600,
             ["--http-certificate", os.path.join(folder, "cert.pem"), "--http-key",
              os.path.join(folder, "other.pem")],
             ["other.pem does not belong to the certificate in", "cert.pem"])]:
        with open(password, "w") as f:
            f.write(content)
        os.chmod(password, mode)
        run = subprocess.run([BINARY, "--headless", "--simulate", "--http", "0", *arguments],
                             capture_output=True, text=True, timeout=30,
                             env=dict(os.environ, XDG_CONFIG_HOME=folder))
        assert run.returncode == 2 and all(text in run.stderr for text in said), \
            (said, run.stderr)
    warned_beyond_loopback(password, folder)
    tls = ssl.create_default_context(cafile=os.path.join(folder, "cert.pem"))
    # HTTPS on every address the page listens on: both loopback addresses, where there is IPv6.
    ipv6 = loopback_ipv6()
    server = start_server("--http", "0", "--http-password-file", password, "--idle-timeout", "5",
                          "--http-certificate", os.path.join(folder, "cert.pem"),
                          "--http-key", os.path.join(folder, "key.pem"),
                          *(("--listen", "localhost") if ipv6 else ()))
    try:
        page = wait_for(lambda: re.match(r"web page on https://127\.0\.0\.1:(\d+)/$",
                                         server.process.stderr.readline().strip()), 10,
                        "the page served over HTTPS")
        web = int(page.group(1))
        if ipv6:
            assert server.process.stderr.readline().strip() == \
                "web page on https://[::1]:%d/" % web
            assert http(web, path="/api/session", tls=tls, host="[::1]")[0] == 200
        json_type = {"Content-Type": "application/json"}

        # A session left unused: checked once the idle time has passed.
        status, headers, body = http(web, "POST", "/api/signin",
                                     b'{"password": "correct horse battery"}', json_type, tls)
        assert status == 200
        idle = {"Cookie": headers["Set-Cookie"].split(";")[0], "X-TQ-Token": json.loads(body)["token"]}
        idle_since = time.monotonic()

        # Over HTTPS; a wrong password refused, the right one signs in with a strict cookie.
        driver.get("https://127.0.0.1:%d/" % web)
        wait_for(lambda: driver.find_element("id", "signin").is_displayed(), 5, "the sign-in form")
        submit(driver, "password", "wrong horse battery", "Wrong password")
        submit(driver, "password", "correct horse battery", "Signed in")
        assert not driver.find_element("id", "signin").is_displayed()
        cookie = driver.get_cookie("tq_session")
        assert cookie["httpOnly"] and cookie["secure"] and cookie["sameSite"] == "Strict", cookie

        # DAC C set from the page: the bench reads it; beyond a limit, the program's refusal. The
        # bench connects only now: a protocol client silent for --idle-timeout is closed too, and
        # the sign-in above may take that long on a loaded machine.
        scpi = socket.create_connection(("127.0.0.1", server.port), timeout=10)
        Select(driver.find_element("id", "channel")).select_by_visible_text("DAC C")
        submit(driver, "volts", "2.5", "DAC C set to 2.5 V")
        assert abs(float(ask(scpi, "BENC:VOLT3?")) - 2.5) < 0.01
        assert ask(scpi, "SOUR3:VOLT:LIM:HIGH 4;*OPC?") == "1"
        refusal = submit(driver, "volts", "6", "Refused: -")
        assert "limit" in refusal.lower(), refusal

        # Setup slot 3 opened from the page.
        assert ask(scpi, "SOUR4:VOLT 1;*SAV 3;SOUR4:VOLT 0;*OPC?") == "1"
        submit(driver, "slot", "3", "Setup slot 3 opened")
        assert abs(float(ask(scpi, "SOUR4:VOLT?")) - 1) < 0.001

        # A run stopped, then Safe State, from the page.
        scpi.sendall(b"SOUR1:LIST:VOLT " + ",".join(["1", "2"] * 50).encode() +
                     b";:LIST:DWEL 0.1;INIT\n")
        wait_for(lambda: "of 100" in text(driver, "activities"), 3, "the run shown")
        message_after(driver, lambda: click(driver, "abort"), "Run stopped")
        wait_for(lambda: text(driver, "activities") == "nothing", 2, "the run stopped")
        message_after(driver, lambda: click(driver, "safe"), "Safe State started")
        assert [abs(float(v)) < 0.001 for v in ask(scpi, "SOUR3:VOLT?;:SOUR4:VOLT?").split(";")] \
            == [True, True]

        # The token is needed, and only from this site; none after sign-out or the idle time.
        session = {"Cookie": "tq_session=" + cookie["value"]}
        token = json.loads(http(web, path="/api/session", headers=session, tls=tls)[2])["token"]
        safe = b'{"action": "safe"}'
        signed = dict(session, **{"X-TQ-Token": token})
        for headers, expected in [(session, 403),
                                  (dict(signed, Origin="https://evil.example"), 403),
                                  (signed, 200)]:
            assert http(web, "POST", "/api/change", safe, headers, tls)[0] == expected, headers
        message_after(driver, lambda: click(driver, "signout"), "Signed out")
        assert http(web, "POST", "/api/change", safe, signed, tls)[0] == 403
        time.sleep(max(0, 5.5 - (time.monotonic() - idle_since)))
        assert http(web, "POST", "/api/change", safe, idle, tls)[0] == 403

        # Wrong passwords from many addresses at once: those beyond the checks in hand refused at
        # once, the protocol answering meanwhile, and the right password still signs in.
        tries = [HTTPSConnection("127.0.0.1", web, timeout=10, context=tls,
                                 source_address=("127.0.0.%d" % (10 + i), 0)) for i in range(12)]
        for connection in tries:
            connection.connect()
        answers = {}

        def answer(connection):
            status = connection.getresponse().status
            answers[connection] = (status, time.monotonic())

        for connection in tries:
            connection.request("POST", "/api/signin", b'{"password": "guess guess guess"}',
                               json_type)
        readers = [threading.Thread(target=answer, args=(c,)) for c in tries]
        for reader in readers:
            reader.start()
        assert ask(scpi, "*IDN?").startswith("TQ2604X-EVAL,")
        idn = time.monotonic()
        for reader in readers:
            reader.join(30)
        statuses = [status for status, _ in answers.values()]
        assert sorted(set(statuses)) == [403, 503] and len(statuses) == len(tries), statuses
        assert idn < max(when for _, when in answers.values()), "the protocol waited for them"
        for _ in range(10):
            status, headers, _ = http(web, "POST", "/api/signin",
                                      b'{"password": "correct horse battery"}', json_type, tls)
            if status != 503:
                break
            time.sleep(int(headers["Retry-After"]))
        assert status == 200

        # Repeated wrong passwords are slowed: then even the right one waits.
        for _ in range(3):
            assert http(web, "POST", "/api/signin", b'{"password": "guess guess guess"}',
                        json_type, tls)[0] == 403
        status, headers, _ = http(web, "POST", "/api/signin",
                                  b'{"password": "correct horse battery"}', json_type, tls)
        assert status == 429 and int(headers["Retry-After"]) >= 1
        scpi.close()
    finally:
        assert server.stop() == 0
        shutil.rmtree(folder, ignore_errors=True)
