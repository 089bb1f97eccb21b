"""The IP query's host as 127.0.0.1 and ::1 in the pass's own /etc/hosts, past the proxy."""
import os
import urllib.parse

from service import Service
from test_faults import FaultCase
from test_update_pass import (BINARY, CHECK_FILE, DEMO, IP_QUERY_URL, OLD_ENOUGH, SERVICE_IP,
                              UNCHANGED_BOX, accepted_box, birth_time, implausible_box)

IPV6, BOTH = os.environ["RALTO_IPV6_BINARY"], os.environ["RALTO_BOTH_BINARY"]
HOST, V6, DUAL = urllib.parse.urlsplit(IP_QUERY_URL), "2001:db8::7", ("127.0.0.1", "::1")


class DualStack(FaultCase):
    @classmethod
    def setUpClass(cls):
        # At the query's own port, where a caller over IPv6 is answered V6.
        cls.service = Service(extra_args=["--port", str(HOST.port or 80), "--ip6", V6]).start()
        cls.addClassCleanup(cls.service.stop)

    def pass_of(self, binary, addresses=DUAL, now=None):
        lines = " ".join(f"'{address} {HOST.hostname}'" for address in addresses)
        setup = (f'export no_proxy={HOST.hostname} && printf "%s\\n" {lines} >"$W.hosts" && '
                 'mount --bind "$W.hosts" /etc/hosts && rm "$W.hosts" || exit 97')
        return self.run_in_namespace(setup, [*DEMO, "verbose"], binary=binary, now=now)

    def test_each_copy_keeps_to_its_own_family(self):
        # The default copy three times: libcurl left to choose asks a dual-stack name over IPv6.
        for binary, sent in [(BINARY, SERVICE_IP)] * 3 + [(IPV6, V6), (BOTH, f"{SERVICE_IP},{V6}")]:
            with self.subTest(binary=binary):
                self.fresh()
                self.assertEqual(self.pass_of(binary), accepted_box(f"good {sent}"))  # myip=sent
                self.assertEqual(self.read(CHECK_FILE), f"{sent}\n".encode())
        now = birth_time(self.folder / CHECK_FILE) + OLD_ENOUGH
        self.assertEqual(self.pass_of(BOTH, now=now), UNCHANGED_BOX)  # and nothing sent
        # A name without IPv6 ends the pass unchecked; an answer of the other family is implausible.
        for binary, addresses, answer, shown in [
                (BOTH, DUAL[:1], V6, ""), (IPV6, DUAL, SERVICE_IP, implausible_box(SERVICE_IP)),
                (BOTH, DUAL, V6, implausible_box(f"{V6},{V6}"))]:
            with self.subTest(binary=binary, answer=answer):
                self.fresh()
                self.answer_ip_query(f"{answer}\n".encode())
                self.assertEqual(self.pass_of(binary, addresses), shown)
                self.assertEqual(self.updates(), [])
