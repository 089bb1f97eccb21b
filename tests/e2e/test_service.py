"""Self-test of tools/dyndns-service: its answers, the proxy form, the fault modes and the log.

The end-to-end tests of the updater trust this service to tell them what the program
sent and to break connections exactly as asked, so these cases check it from the
outside, over real sockets on 127.0.0.1.
"""

import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import time
import unittest

from service import Service, header_of, params_of

UPDATE = "/nic/update?hostname={host}&myip={ip}&user={user}&pass={pw}"


def raw_exchange(port, request, timeout=5):
    """Send request bytes, read until the service closes: (bytes read, error or None)."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as sock:
        sock.sendall(request)
        received = b""
        try:
            while True:
                chunk = sock.recv(65536)
                if not chunk:
                    return received, None
                received += chunk
        except OSError as err:
            return received, err


def get_request(target, host="ip.example.net", extra=""):
    return (f"GET {target} HTTP/1.1\r\nHost: {host}\r\n{extra}Connection: close\r\n\r\n"
            ).encode("latin-1")


class ServiceCase(unittest.TestCase):
    service_options = {}

    def setUp(self):
        self.svc = Service(**self.service_options).start()
        self.addCleanup(self.svc.stop)

    def update(self, host="demo.example.net", ip="198.51.100.1", user="demo",
               pw="demo-pass"):
        status, body = self.svc.get(UPDATE.format(host=host, ip=ip, user=user, pw=pw))
        self.assertEqual(status, 200)
        return body.decode()


class DyndnsAnswers(ServiceCase):
    service_options = {"accounts": ["demo:demo-pass:demo.example.net,second.example.net",
                                    "plus:p+ss word&x:plus.example.net"]}

    def test_ip_query_answers_the_configured_address_with_a_line_feed(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.svc.port, timeout=5)
        connection.request("GET", "/ipCheck.php")
        response = connection.getresponse()
        self.assertEqual(response.read(), b"203.0.113.7\n")
        self.assertEqual(response.getheader("Content-Type"), "text/plain")
        self.assertEqual(response.getheader("Content-Length"), "12")
        self.svc.set_ip("192.0.2.44")
        connection.request("GET", "/ipCheck.php")  # same connection: keep-alive
        self.assertEqual(connection.getresponse().read(), b"192.0.2.44\n")
        connection.close()

    def test_update_sequence_good_nochg_good(self):
        self.assertEqual(self.update(ip="198.51.100.1"), "good 198.51.100.1")
        self.assertEqual(self.update(ip="198.51.100.1"), "nochg 198.51.100.1")
        self.assertEqual(self.update(host="DEMO.example.net", ip="198.51.100.2"),
                         "good 198.51.100.2")
        self.assertEqual(self.svc.state()["hosts"]["demo.example.net"], "198.51.100.2")

    def test_refusals(self):
        self.assertEqual(self.update(pw="wrong"), "badauth")
        self.assertEqual(self.update(user="nobody"), "badauth")
        self.assertEqual(self.svc.get("/nic/update?hostname=demo.example.net")[1], b"badauth")
        self.assertEqual(self.update(host="other.example.net"), "nohost")
        self.assertEqual(self.update(host=""), "notfqdn")
        self.assertIsNone(self.svc.state()["hosts"]["demo.example.net"])

    def test_query_decoding_keeps_plus_and_takes_percent_escapes(self):
        # The client sends a space as %20 and '+' as %2B; a bare '+' is a plus, not a space.
        target = "/nic/update?hostname=plus.example.net&myip=1.2.3.4&user=plus&pass=p+ss%20word"
        self.assertEqual(self.svc.get(target)[1], b"badauth")  # '&x' is missing
        target += "&x"
        self.assertEqual(self.svc.get(target)[1], b"badauth")  # a bare '&' splits the query
        target = ("/nic/update?hostname=plus.example.net&myip=1.2.3.4&user=plus"
                  "&pass=p%2Bss%20word%26x")
        self.assertEqual(self.svc.get(target)[1], b"good 1.2.3.4")
        target = target.replace("1.2.3.4", "1.2.3.5").replace("%2B", "+")
        self.assertEqual(self.svc.get(target)[1], b"good 1.2.3.5")

    def test_basic_auth_multiple_hosts_and_default_address(self):
        import base64
        token = base64.b64encode(b"demo:demo-pass").decode()
        status, body = self.svc.get("/nic/update?hostname=demo.example.net,second.example.net",
                                    headers={"Authorization": f"Basic {token}"})
        self.assertEqual(body, b"good 203.0.113.7\ngood 203.0.113.7")
        status, body = self.svc.get(
            "/nic/update?hostname=demo.example.net,nothere.example.net&myip=203.0.113.7",
            headers={"Authorization": f"Basic {token}"})
        self.assertEqual(body, b"nochg 203.0.113.7\nnohost")


class ProxyForm(ServiceCase):
    def test_absolute_form_is_routed_by_path_whatever_the_host(self):
        data, err = raw_exchange(self.svc.port, get_request("http://ip.example.net/ipCheck.php"))
        self.assertIsNone(err)
        self.assertTrue(data.startswith(b"HTTP/1.1 200 "), data)
        self.assertTrue(data.endswith(b"\r\n\r\n203.0.113.7\n"), data)
        target = "http://update.example.org:8245" + UPDATE.format(
            host="demo.example.net", ip="192.0.2.9", user="demo", pw="demo-pass")
        data, _ = raw_exchange(self.svc.port, get_request(target, "update.example.org"))
        self.assertTrue(data.endswith(b"\r\n\r\ngood 192.0.2.9"), data)

    @unittest.skipUnless(shutil.which("curl"), "curl is not installed")
    def test_curl_through_the_proxy_follows_a_redirect(self):
        self.svc.fault("redirect", path="/ipCheck.php", count=1)
        result = subprocess.run(
            ["curl", "-sS", "-L", "--max-time", "5", "-x", self.svc.url,
             "http://ip.example.net/ipCheck.php"],
            capture_output=True, env={"PATH": os.environ["PATH"]}, timeout=10)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, b"203.0.113.7\n")
        targets = [r["target"] for r in self.svc.requests()]
        self.assertEqual(targets, ["http://ip.example.net/ipCheck.php",
                                   "http://ip.example.net/_hop/ipCheck.php"])


class FaultModes(ServiceCase):
    def test_status_with_body_for_the_next_request_of_one_path_only(self):
        self.svc.fault("status", path="/ipCheck.php", status=404, body="<h1>gone</h1>", count=1)
        self.assertEqual(self.update(), "good 198.51.100.1")  # other paths untouched
        self.assertEqual(self.svc.get("/ipCheck.php"), (404, b"<h1>gone</h1>"))
        self.assertEqual(self.svc.get("/ipCheck.php"), (200, b"203.0.113.7\n"))
        self.svc.fault("status")  # every path, until cleared: 500 and a status line
        self.assertEqual(self.svc.get("/nic/update?x"), (500, b"500 Internal Server Error\n"))
        self.assertEqual(self.svc.get("/ipCheck.php")[0], 500)
        self.svc.reset()
        self.assertEqual(self.svc.get("/ipCheck.php")[0], 200)

    def test_failed_update_changes_nothing(self):
        self.svc.fault("status", path="/nic/update", status=503, count=1)
        self.assertEqual(self.svc.get(UPDATE.format(host="demo.example.net", ip="1.1.1.1",
                                                    user="demo", pw="demo-pass"))[0], 503)
        self.assertIsNone(self.svc.state()["hosts"]["demo.example.net"])

    def test_redirect_one_hop_and_endless_loop(self):
        self.svc.fault("redirect", path="/ipCheck.php")
        data, _ = raw_exchange(self.svc.port, get_request("/ipCheck.php?a=1"))
        self.assertIn(b"HTTP/1.1 302 ", data)
        self.assertIn(b"\r\nLocation: /_hop/ipCheck.php?a=1\r\n", data)
        self.assertEqual(self.svc.get("/_hop/ipCheck.php?a=1"), (200, b"203.0.113.7\n"))
        self.svc.fault("loop", path="/ipCheck.php", status=301, count=3)
        for _ in range(3):
            data, _ = raw_exchange(self.svc.port, get_request("http://h.example/ipCheck.php"))
            self.assertIn(b"HTTP/1.1 301 ", data)
            self.assertIn(b"\r\nLocation: /ipCheck.php\r\n", data)
        self.assertEqual(self.svc.get("/ipCheck.php")[0], 200)

    def test_connection_reset_before_during_and_after_the_headers(self):
        for at, expected_prefix in (("start", b""), ("headers", b"HTTP/1.1 200 "),
                                    ("body", b"HTTP/1.1 200 ")):
            with self.subTest(at=at):
                self.svc.fault("reset", at=at, path="/ipCheck.php", count=1)
                data, err = raw_exchange(self.svc.port, get_request("/ipCheck.php"))
                self.assertIsInstance(err, ConnectionResetError)
                self.assertTrue(data.startswith(expected_prefix), data)
                if at != "start":
                    self.assertIn(b"Content-Length: 12\r\n", data)
                body = data.partition(b"\r\n\r\n")[2]
                self.assertEqual(body, b"203.0." if at == "body" else b"")

    def test_drop_and_response_modes(self):
        self.svc.fault("drop", count=1)
        self.assertEqual(raw_exchange(self.svc.port, get_request("/ipCheck.php")), (b"", None))
        self.svc.fault("response", data=b"garbage\r\n\r\n", count=1)
        self.assertEqual(raw_exchange(self.svc.port, get_request("/ipCheck.php")),
                         (b"garbage\r\n\r\n", None))

    def test_stall_blocks_only_its_own_client(self):
        self.svc.fault("stall", path="/ipCheck.php", count=1)
        self.svc.fault("stall", after="headers", path="/nic/update", count=1)
        silent = socket.create_connection(("127.0.0.1", self.svc.port), timeout=0.5)
        headers_only = socket.create_connection(("127.0.0.1", self.svc.port), timeout=0.5)
        self.addCleanup(silent.close)
        self.addCleanup(headers_only.close)
        silent.sendall(get_request("/ipCheck.php"))
        headers_only.sendall(get_request("/nic/update?hostname=demo.example.net&user=demo"
                                         "&pass=demo-pass&myip=1.2.3.4"))
        with self.assertRaises(socket.timeout):
            silent.recv(100)
        head = headers_only.recv(1000)
        self.assertTrue(head.startswith(b"HTTP/1.1 200 ") and head.endswith(b"\r\n\r\n"), head)
        self.assertIn(b"Content-Length: 12\r\n", head)  # "good 1.2.3.4" is never sent
        with self.assertRaises(socket.timeout):
            headers_only.recv(100)
        self.assertEqual(self.svc.get("/ipCheck.php", timeout=2), (200, b"203.0.113.7\n"))
        silent.close()
        headers_only.close()

    def test_big_body_is_streamed_with_its_length(self):
        self.svc.fault("big", mb=12, path="/ipCheck.php", count=1)
        connection = http.client.HTTPConnection("127.0.0.1", self.svc.port, timeout=10)
        connection.request("GET", "/ipCheck.php")
        response = connection.getresponse()
        self.assertEqual(response.getheader("Content-Length"), str(12 * 1024 * 1024))
        first = response.read(20)
        total = len(first)
        while chunk := response.read(1 << 20):
            total += len(chunk)
        self.assertEqual(first, b"203.0.113.7\nxxxxxxxx")
        self.assertEqual(total, 12 * 1024 * 1024)
        connection.close()
        # One long first line: no prefix, a digit as fill.
        self.svc.fault("big", bytes=1000, prefix=b"", fill=b"12", count=1)
        self.assertEqual(self.svc.get("/ipCheck.php"), (200, b"12" * 500))

    def test_slow_body_is_trickled_whole(self):
        self.svc.fault("slow", chunk=2, interval=0.05, path="/ipCheck.php", count=1)
        started = time.monotonic()
        self.assertEqual(self.svc.get("/ipCheck.php"), (200, b"203.0.113.7\n"))
        self.assertGreaterEqual(time.monotonic() - started, 5 * 0.05)

    def test_raw_body_and_broken_length_byte_for_byte(self):
        awkward = b"\xef\xbb\xbf1.2.3.4\x00\xff\xfe\r5.6.7.8\r"
        self.svc.fault("raw", body=awkward, count=1)
        self.assertEqual(self.svc.get("/ipCheck.php"), (200, awkward))
        self.svc.fault("raw", body=b"1.2.3.4\n", length="none", count=1)
        data, err = raw_exchange(self.svc.port, get_request("/ipCheck.php"))
        self.assertIsNone(err)
        self.assertNotIn(b"Content-Length", data)
        self.assertTrue(data.endswith(b"\r\nConnection: close\r\n\r\n1.2.3.4\n"), data)
        self.svc.fault("raw", body=b"1.2.3.4\n", length=100, count=1)
        with self.assertRaises(http.client.IncompleteRead):
            self.svc.get("/ipCheck.php")

    def test_control_refuses_mistakes_and_takes_json(self):
        with self.assertRaises(ValueError):
            self.svc.fault("explode")
        with self.assertRaises(ValueError):
            self.svc.fault("status", stauts=404)  # a typo is refused, not ignored
        connection = http.client.HTTPConnection("127.0.0.1", self.svc.port, timeout=5)
        connection.request("POST", "/_control", body=json.dumps(
            {"mode": "raw", "body_hex": "00ff0a", "path": "/ipCheck.php", "count": 1}))
        rules = json.loads(connection.getresponse().read())["rules"]
        self.assertEqual([(r["mode"], r["path"], r["remaining"]) for r in rules],
                         [("raw", "/ipCheck.php", 1)])
        connection.close()
        self.assertEqual(self.svc.get("/ipCheck.php"), (200, b"\x00\xff\n"))


class CommandLine(ServiceCase):
    service_options = {"ip": "192.0.2.1", "accounts": ["u:p:a.example.net"],
                       "addresses": {"a.example.net": "192.0.2.1"},
                       "faults": ["mode=status&status=404&path=/ipCheck.php&count=1"]}

    def test_options_set_the_start_state_and_reset_returns_to_it(self):
        self.assertEqual(self.svc.get("/ipCheck.php")[0], 404)
        self.assertEqual(self.svc.get("/ipCheck.php"), (200, b"192.0.2.1\n"))
        self.assertEqual(self.update("a.example.net", "192.0.2.1", "u", "p"), "nochg 192.0.2.1")
        self.assertEqual(self.update("a.example.net", "192.0.2.2", "u", "p"), "good 192.0.2.2")
        self.assertEqual(self.update(), "badauth")  # the demo account is not there
        self.svc.set_ip("192.0.2.3")
        self.svc.reset()
        state = self.svc.state()
        self.assertEqual((state["ip"], state["hosts"]), ("192.0.2.1", {"a.example.net": "192.0.2.1"}))

    def test_sigterm_ends_the_service_while_a_client_stalls(self):
        self.svc.fault("stall")
        stalled = socket.create_connection(("127.0.0.1", self.svc.port))
        self.addCleanup(stalled.close)
        stalled.sendall(get_request("/ipCheck.php"))
        self.svc.wait_for_requests(1)
        process = self.svc.process
        process.send_signal(signal.SIGTERM)
        self.assertEqual(process.wait(5), 0)


class RequestLog(ServiceCase):
    def test_one_json_line_per_request_written_before_the_answer(self):
        self.svc.control(ip="192.0.2.5")  # control requests are not logged
        target = ("http://update.example.org/nic/update?hostname=demo.example.net"
                  "&myip=1.2.3.4&user=demo&pass=a+b%20c%C3%A4")
        request = (f"GET {target} HTTP/1.1\r\nHost: update.example.org\r\nX-One: 1\r\n"
                   "Accept: */*\r\nConnection: close\r\n\r\n").encode()
        raw_exchange(self.svc.port, request)
        self.svc.get("//ipCheck.php")
        records = self.svc.requests()  # no waiting: each line is flushed before answering
        self.assertEqual(len(records), 2)
        update, ip = records
        self.assertEqual(update["method"], "GET")
        self.assertEqual(update["target"], target)
        self.assertEqual(update["version"], "HTTP/1.1")
        self.assertEqual(update["path"], "/nic/update")
        self.assertEqual(update["query"], target.partition("?")[2])
        self.assertEqual(params_of(update)["pass"], "a+b cä")
        self.assertEqual([k for k, _ in update["params"]], ["hostname", "myip", "user", "pass"])
        self.assertEqual(update["headers"][:3], [["Host", "update.example.org"], ["X-One", "1"],
                                                 ["Accept", "*/*"]])
        self.assertEqual(header_of(update, "x-one"), "1")
        self.assertTrue(update["client"].startswith("127.0.0.1:"))
        self.assertEqual((update["fault"], update["status"]), (None, 200))
        self.assertEqual((ip["target"], ip["path"]), ("//ipCheck.php", "//ipCheck.php"))
        self.assertEqual(ip["status"], 404)
        self.assertEqual([r["seq"] for r in records], [1, 2])


if __name__ == "__main__":
    unittest.main()
