"""HTTPS endpoints under certificate checks: a copy of the program built with https:// endpoints
against a TLS front that relays each connection, decrypted, to the local service.

No proxy stands in between. The endpoints' host name is known only to an /etc/hosts that is
bind-mounted in the pass's own mount namespace, and the test's CA is trusted only there, put
ahead of the system's CAs by a bind mount over the bundle file. RALTO_BINARY names the program
and RALTO_CA_BUNDLE the bundle file its TLS library reads (Debian's libcurl's by default).
"""

import os
import select
import shlex
import shutil
import socket
import socketserver
import ssl
import subprocess
import tempfile
import threading
import unittest
import urllib.parse
from pathlib import Path

from service import header_of, params_of
from test_faults import FaultCase
from test_update_pass import (CHECK_FILE, DEMO, FAKETIME_LIB, IP_FILE, IP_QUERY_URL,
                              REQUEST_LOG, RESULT_FILE, SERVICE_IP, UPDATE_BASE, accepted_box)

CA_BUNDLE = os.environ.get("RALTO_CA_BUNDLE", "/etc/ssl/certs/ca-certificates.crt")
# Both endpoints are served by the one front, at the IP-query URL's host and port.
ENDPOINT = urllib.parse.urlsplit(IP_QUERY_URL)
NAME, PORT = ENDPOINT.hostname, ENDPOINT.port or 443


class Relay(socketserver.BaseRequestHandler):
    """One connection: the TLS handshake, then bytes both ways until a side closes."""

    def handle(self):
        self.server.connections += 1
        self.request.settimeout(30)
        try:
            with self.server.context.wrap_socket(self.request, server_side=True) as tls, \
                 socket.create_connection(("127.0.0.1", self.server.service_port), 30) as plain:
                other = {tls: plain, plain: tls}
                while True:
                    # Bytes already decrypted are not seen by select.
                    ready = [tls] if tls.pending() else select.select([tls, plain], [], [], 30)[0]
                    if not ready:
                        return
                    for source in ready:
                        data = source.recv(65536)
                        if not data:
                            return
                        other[source].sendall(data)
        except OSError:
            pass  # a handshake the client refused, or a side gone


class TlsFront(socketserver.ThreadingTCPServer):
    """127.0.0.1:PORT with one certificate chain; counts the connections it accepted."""
    allow_reuse_address = True
    daemon_threads = True

    def __init__(self, chain, key, service_port, version=None, dh=None):
        super().__init__(("127.0.0.1", PORT), Relay)
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.set_ciphers("DEFAULT:@SECLEVEL=0")  # weak keys too: the program judges
        self.context.load_cert_chain(chain, key)
        if version:
            self.context.minimum_version = self.context.maximum_version = version
        if dh:  # a finite-field Diffie-Hellman exchange with these parameters, nothing else
            self.context.load_dh_params(dh)
            self.context.set_ciphers("DHE-RSA-AES128-GCM-SHA256:@SECLEVEL=0")
            self.context.maximum_version = ssl.TLSVersion.TLSv1_2
        self.service_port = service_port
        self.connections = 0

    def __enter__(self):
        threading.Thread(target=self.serve_forever, kwargs={"poll_interval": 0.05},
                         daemon=True).start()
        return self

    def __exit__(self, *exc):
        self.shutdown()
        self.server_close()


def make_certificate(folder, name, subject, *, ca=None, authority=False, days=2, back_days=0,
                     key="ec", digest="sha256"):
    """name.key and name.pem in folder: a P-256 key and a certificate for subject (a CA's with
    authority), signed by ca (a name made earlier) or by itself; back_days moves its validity
    into the past; key (openssl's -newkey) and digest replace P-256 and SHA-256."""
    extensions = (["basicConstraints=critical,CA:TRUE"] if authority else
                  [f"subjectAltName=DNS:{subject}", "basicConstraints=CA:FALSE"])
    command = ["openssl", "req", "-x509", "-newkey", key, "-nodes", "-keyout", f"{name}.key",
               "-out", f"{name}.pem", "-days", str(days), "-subj", f"/CN={subject}", f"-{digest}",
               *(["-pkeyopt", "ec_paramgen_curve:P-256"] if key == "ec" else [])]
    for extension in extensions:
        command += ["-addext", extension]
    if ca is not None:
        command += ["-CA", f"{ca}.pem", "-CAkey", f"{ca}.key"]
    env = dict(os.environ)
    if back_days:
        # libfaketime preloaded by hand: the faketime wrapper's semaphore sometimes collides.
        env.update(LD_PRELOAD=FAKETIME_LIB, FAKETIME=f"-{back_days}d")
    subprocess.run(command, cwd=folder, env=env, capture_output=True, check=True)


class Certificates(FaultCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.keys = tempfile.TemporaryDirectory(prefix="ralto-tls-")
        folder = Path(cls.keys.name)
        try:
            make_certificate(folder, "ca", "ralto test CA", authority=True)
            make_certificate(folder, "trusted", NAME, ca="ca")
            make_certificate(folder, "self-signed", NAME)
            make_certificate(folder, "expired", NAME, ca="ca", days=30, back_days=60)
            make_certificate(folder, "wrong-name", "other." + NAME, ca="ca")
            make_certificate(folder, "sha1-signed", NAME, ca="ca", digest="sha1")
            make_certificate(folder, "rsa-1024", NAME, ca="ca", key="rsa:1024")
            make_certificate(folder, "rsa-2048", NAME, ca="ca", key="rsa:2048")
            for bits in (1024, 2048):
                subprocess.run(["openssl", "dhparam", "-dsaparam", "-out", f"dh{bits}.pem",
                                str(bits)], cwd=folder, capture_output=True, check=True)
        except BaseException:
            # tearDownClass is not called after a failed setUpClass: the service goes here.
            cls.tearDownClass()
            raise
        (folder / "hosts").write_text(f"127.0.0.1 {NAME}\n")
        (folder / "legacy.cnf").write_text("openssl_conf=c\n[c]\nssl_conf=s\n[s]\n"
                                           "system_default=d\n[d]\nCipherString=ALL:@SECLEVEL=0\n")
        system = Path(CA_BUNDLE).read_bytes() if Path(CA_BUNDLE).exists() else b""
        (folder / "bundle.pem").write_bytes((folder / "ca.pem").read_bytes() + system)
        cls.setup = (f"mount --bind {shlex.quote(str(folder / 'hosts'))} /etc/hosts && "
                     f"mount --bind {shlex.quote(str(folder / 'bundle.pem'))} "
                     f"{shlex.quote(CA_BUNDLE)} || exit 97")

    @classmethod
    def tearDownClass(cls):
        cls.keys.cleanup()
        super().tearDownClass()

    def program_env(self, now=None):
        proxy = self.service.proxy_env()
        return {k: v for k, v in super().program_env(now).items() if k not in proxy}

    def pass_behind(self, certificate, version=None, dh=None):
        """One verbose pass against the front showing certificate; its boxes and the number
        of connections the front accepted; with version it offers that alone, to a lax OpenSSL;
        with dh (dh1024, dh2048) only a Diffie-Hellman exchange over those parameters."""
        folder = Path(self.keys.name)
        legacy = f"\nexport OPENSSL_CONF={shlex.quote(str(folder / 'legacy.cnf'))}"
        with TlsFront(folder / f"{certificate}.pem", folder / f"{certificate}.key",
                      self.service.port, version, dh and folder / f"{dh}.pem") as front:
            shown = self.run_in_namespace(self.setup + legacy * bool(version), [*DEMO, "verbose"])
        return shown, front.connections

    def test_a_trusted_certificate_carries_the_whole_pass(self):
        shown, _ = self.pass_behind("trusted")
        self.assertEqual(shown, accepted_box(f"good {SERVICE_IP}"))
        self.assert_files([CHECK_FILE, IP_FILE, REQUEST_LOG, RESULT_FILE])
        self.assertEqual(self.read(REQUEST_LOG).decode(), f"{UPDATE_BASE}?hostname={DEMO[0]}"
                         f"&myip={SERVICE_IP}&user={DEMO[1]}&pass={DEMO[2]}")
        # Origin-form targets: the requests came through the front, not through a proxy.
        query, update = self.sent()
        self.assertEqual(query["target"], "/ipCheck.php")
        self.assertEqual(header_of(update, "Host"), f"{NAME}:{PORT}")
        self.assertEqual(params_of(update), {"hostname": DEMO[0], "myip": SERVICE_IP,
                                             "user": DEMO[1], "pass": DEMO[2]})
        for dh in (None, "dh2048"):  # an RSA key of 2048 bits, and a 2048-bit key exchange
            with self.subTest(dh=dh):
                self.fresh()
                self.assertEqual(self.pass_behind("rsa-2048", dh=dh)[0],
                                 accepted_box(f"good {SERVICE_IP}"))

    def test_an_untrusted_certificate_or_an_old_tls_fails_the_transfer(self):
        bad = ["self-signed", "expired", "wrong-name", "sha1-signed", "rsa-1024"]
        weak = [("trusted", ssl.TLSVersion.TLSv1, None), ("trusted", ssl.TLSVersion.TLSv1_1, None),
                ("rsa-2048", None, "dh1024")]  # old TLS, a 1024-bit key exchange
        for certificate, version, dh in [*((name, None, None) for name in bad), *weak]:
            with self.subTest(certificate=certificate, version=version, dh=dh):
                self.fresh()
                shown, connections = self.pass_behind(certificate, version, dh)
                self.assertEqual(shown, "")
                # The front was reached: the certificate, not the name, stopped the pass.
                self.assertGreaterEqual(connections, 1)
                self.assert_files([])
                self.assertEqual(self.sent(), [])

    if os.environ.get("RALTO_STATIC_PROGRAM"):  # the static copies of a lean build
        def test_a_static_program_needs_no_c_library(self):
            # Each runs chrooted into the case's folder, which holds it (run by qemu's static
            # build for an ARM copy), hosts naming the service, the CA bundle, an empty
            # resolv.conf and an nsswitch.conf naming a module it lacks and no hosts file.
            keys, qemu = self.keys.name, shutil.which(os.environ.get("RALTO_QEMU_STATIC", "-"))
            proxy = [f"http_proxy=http://{NAME}:{self.service.port}"]  # for the plain copy
            for program, env in [(os.environ["RALTO_STATIC_PROGRAM"], proxy),
                                 (os.environ["RALTO_STATIC_HTTPS_PROGRAM"], [])]:
                self.fresh()
                setup = (f'cd "$W" && mkdir -p etc/ssl/certs && cp {keys}/hosts etc/ && cp '
                         f'{keys}/bundle.pem etc/ssl/certs/ca-certificates.crt && :>etc/resolv.conf'
                         f' && echo "hosts: resolve dns" >etc/nsswitch.conf && cp '
                         f'{shlex.join(files := [p for p in (qemu, program) if p])} . || exit 97')
                run = ["/" + Path(file).name for file in files]
                with TlsFront(f"{keys}/trusted.pem", f"{keys}/trusted.key", self.service.port):
                    shown = self.run_in_namespace(setup, [*env, "chroot", ".", *run, *DEMO,
                                                          "verbose"], binary="env")
                self.assertEqual(shown, accepted_box(f"good {SERVICE_IP}"), program)

    def test_a_redirect_from_https_to_http_is_refused(self):
        # The plain service itself listens where the redirect points.
        self.service.fault("redirect", path="/nic/update", status=301,
                           location=f"http://127.0.0.1:{self.service.port}/_hop/nic/update")
        shown, _ = self.pass_behind("trusted")
        self.assertEqual(shown, "")
        self.assertEqual([r["path"] for r in self.sent()], ["/ipCheck.php", "/nic/update"])
        self.assert_files([IP_FILE, REQUEST_LOG])


if __name__ == "__main__":
    unittest.main()
