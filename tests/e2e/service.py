"""Start, steer and stop tools/dyndns-service from end-to-end tests.

    with Service() as svc:                      # port 0: the service picks one
        env = dict(os.environ, **svc.proxy_env())
        svc.fault("status", path="/nic/update", status=500, count=1)
        ... run the program with env ...
        updates = svc.requests(path="/nic/update")

The control requests go straight to 127.0.0.1 with http.client, never through a proxy
from the environment.
"""

import ctypes
import http.client
import json
import os
import select
import signal
import subprocess
import sys
import tempfile
import time
import urllib.parse
from pathlib import Path

DEFAULT_SERVICE = Path(__file__).resolve().parents[2] / "tools" / "dyndns-service"


def end_with_parent():
    """In the service's process before it starts: it is killed when the test that started it
    ends, even one killed on a time-out, so that no run leaves a service behind."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def service_path():
    return Path(os.environ.get("RALTO_SERVICE") or DEFAULT_SERVICE)


def encode_params(params):
    """A control query; bytes values are percent-encoded byte for byte."""
    parts = []
    for key, value in params.items():
        if value is None:
            continue
        if isinstance(value, bool):
            value = "1" if value else "0"
        if isinstance(value, str):
            value = value.encode("utf-8")
        elif not isinstance(value, bytes):
            value = str(value).encode()
        parts.append(urllib.parse.quote(key, safe="") + "=" + urllib.parse.quote(value, safe=""))
    return "&".join(parts)


class Service:
    """One running dyndns-service with its own request log in a temporary folder."""

    def __init__(self, *, ip=None, accounts=(), addresses=None, faults=(), extra_args=(),
                 log_path=None):
        self.args = []
        if ip is not None:
            self.args += ["--ip", ip]
        for account in accounts:
            self.args += ["--account", account]
        for host, address in (addresses or {}).items():
            self.args += ["--address", f"{host}={address}"]
        for fault in faults:
            self.args += ["--fault", fault if isinstance(fault, str) else encode_params(fault)]
        self.args += list(extra_args)
        self._tempdir = None
        self.log_path = Path(log_path) if log_path else None
        self.process = None
        self.port = None

    # -- life cycle ----------------------------------------------------------------------

    def start(self, timeout=10):
        if self.log_path is None:
            self._tempdir = tempfile.TemporaryDirectory(prefix="dyndns-service-")
            self.log_path = Path(self._tempdir.name) / "requests.jsonl"
        command = [sys.executable, str(service_path()), "--port", "0",
                   "--log", str(self.log_path), *self.args]
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True,
                                        preexec_fn=end_with_parent)
        ready, _, _ = select.select([self.process.stdout], [], [], timeout)
        line = self.process.stdout.readline() if ready else ""
        if not line.strip().isdigit():
            self.process.kill()
            self.process.wait()
            raise RuntimeError(f"dyndns-service did not report its port (got {line!r})")
        self.port = int(line)
        return self

    def stop(self, timeout=5, keep_log=False):
        """SIGTERM, then SIGKILL if it does not end in time; returns the exit code.

        The log in the temporary folder goes with it unless keep_log is true.
        """
        if self.process is None:
            return None
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        code = self.process.returncode
        self.process = None
        if self._tempdir is not None and not keep_log:
            self._tempdir.cleanup()
            self._tempdir = None
            self.log_path = None
        return code

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # -- addresses -----------------------------------------------------------------------

    @property
    def url(self):
        return f"http://127.0.0.1:{self.port}"

    def proxy_env(self):
        """Environment entries that send every plain-HTTP URL of libcurl here."""
        return {"http_proxy": self.url, "HTTP_PROXY": self.url, "no_proxy": "", "NO_PROXY": ""}

    # -- control -------------------------------------------------------------------------

    def control(self, **params):
        """One GET /_control; returns the state as a dict, raises on a refused request."""
        query = encode_params(params)
        status, body = self.get("/_control" + ("?" + query if query else ""))
        document = json.loads(body)
        if status != 200:
            raise ValueError(document.get("error", body))
        return document

    def state(self):
        return self.control()

    def reset(self):
        return self.control(reset=1)

    def set_ip(self, ip):
        return self.control(ip=ip)

    def set_address(self, host, address):
        return self.control(host=host, address=address or "")

    def fault(self, mode, *, path=None, count=None, **params):
        """Add a fault rule; bytes values (body=b"\\0") are sent byte for byte."""
        return self.control(mode=mode, path=path, count=count, **params)

    def get(self, target, headers=None, timeout=10):
        """A plain request straight to the service: (status, body bytes)."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            connection.request("GET", target, headers=headers or {})
            response = connection.getresponse()
            return response.status, response.read()
        finally:
            connection.close()

    # -- request log ---------------------------------------------------------------------

    def requests(self, path=None, since=0):
        """The logged requests (dicts), optionally only those for one path or after a mark."""
        if self.log_path is None or not self.log_path.exists():
            return []
        records = []
        with open(self.log_path, encoding="ascii") as log:
            for line in log:
                if line.endswith("\n"):
                    records.append(json.loads(line))
        records = records[since:]
        if path is not None:
            records = [r for r in records if r["path"] == path]
        return records

    def mark(self):
        """A position in the log; requests(since=mark) gives what came after it."""
        return len(self.requests())

    def wait_for_requests(self, count, path=None, since=0, timeout=5):
        deadline = time.monotonic() + timeout
        while True:
            records = self.requests(path=path, since=since)
            if len(records) >= count or time.monotonic() >= deadline:
                return records
            time.sleep(0.02)


def params_of(record):
    """The decoded query of a logged request as a dict (the first value of each key)."""
    values = {}
    for key, value in record["params"]:
        values.setdefault(key, value)
    return values


def header_of(record, name):
    """A header of a logged request (case-insensitive), or None."""
    for key, value in record["headers"]:
        if key.lower() == name.lower():
            return value
    return None
