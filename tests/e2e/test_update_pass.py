"""The built ralto-update against the local service: one pass per case in a fresh folder.

Both fixed endpoints reach the service through http_proxy. The program has no display, so
each box arrives on standard error as "title\\ntext\\n\\n"; a case compares the whole of it.
"""

import base64
import os
import re
import shutil
import subprocess
import tempfile
import unittest
from datetime import datetime, timezone
from pathlib import Path

from service import Service, header_of, params_of

BINARY = os.environ["RALTO_BINARY"]
UPDATE_BASE = os.environ.get("RALTO_UPDATE_BASE", "update.example.net/nic/update")
IP_QUERY_URL = os.environ.get("RALTO_IP_QUERY_URL", "http://ip.example.net/ipCheck.php")
FAKETIME_LIB = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
# The ARM build's Debian architecture when its program runs under qemu (tests/arm), else None.
EMULATED = os.environ.get("RALTO_EMULATED")

CHECK_FILE, IP_FILE, REQUEST_LOG, RESULT_FILE, HOLD_FILE = (
    "raltoIP.chk", "raltoIP.log", "raltoUp.log", "ralto.log", "raltoHold.chk")
SERVICE_IP = "203.0.113.7"
OLD_IP = "198.51.100.1"
DEMO = ["demo.example.net", "demo", "demo-pass"]
OLD_ENOUGH = 3600
DAY = 86400


def box(title, text):
    return f"{title}\n{text}\n\n"


USAGE_BOX = box("Parameterfehler:", "Error! Parameter wie folgt angeben: host user pw silent")
INTERVAL_BOX = box("Fehler in ip-Abfrage-Intervall:",
                   "Intervall kleiner 30 Minuten!\nProgramm wird beendet.")
UNCHANGED_BOX = box("Ip-Abfrage:", "IP-Adresse unverändert!\nProgramm wird beendet.")
UNREADABLE_ANSWER_BOX = box("Fehler:", "Kann Ergebnisdatei nicht lesen")


def unwritable_box(name):
    return box("Fehler:", f"Kann Datei nicht schreiben: {name}")


def implausible_box(line):
    return box("Fehler in ip-Abfrage:", line)


def accepted_box(answer):
    return box("Alles Gut:", answer)


def server_box(answer):
    return box("Meldung vom UpdateServer:", answer)


def basic(user, password):
    return "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()


def sanitizer_runtime():
    """The ASan runtime the binary links, which must come before libfaketime when preloaded."""
    listing = subprocess.run(["ldd", BINARY], capture_output=True, text=True).stdout
    match = re.search(r"libasan\.so\S* => (\S+)", listing)
    return match.group(1) if match else None


PRELOAD = ":".join(filter(None, [sanitizer_runtime(), FAKETIME_LIB]))


def birth_time(path):
    """Whole seconds, as the program reads a file's creation date: its birth, or its last
    status change where the file system records no birth."""
    birth, change = subprocess.run(["stat", "-c", "%W %Z", str(path)], capture_output=True,
                                   text=True, check=True).stdout.split()
    return int(birth) or int(change)


def faketime_env(moment):
    """The clock starts at moment (UTC seconds) and runs on; file times stay real."""
    stamp = datetime.fromtimestamp(moment, timezone.utc).strftime("%Y-%m-%d %H:%M:%S")
    return {"LD_PRELOAD": PRELOAD, "FAKETIME": "@" + stamp, "NO_FAKE_STAT": "1"}


class PassCase(unittest.TestCase):
    """One service per class; each case (and each sub-case) gets a fresh folder."""

    @classmethod
    def setUpClass(cls):
        cls.service = Service().start()
        # Stopped however the class ends, a subclass's failed set-up included.
        cls.addClassCleanup(cls.service.stop)

    def setUp(self):
        self.fresh()

    def fresh(self):
        """A new working folder and a service back at its start state."""
        self.service.reset()
        self.folder = Path(tempfile.mkdtemp(prefix="ralto-e2e-"))
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.mark = self.service.mark()

    def program_env(self, now=None):
        """The program's whole environment: the proxy at the service, a fixed zone, the
        sanitizers' options, and the clock started at now (UTC seconds) when given."""
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "TZ": "UTC",
               "LANG": "C.UTF-8", **self.service.proxy_env()}
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        if now is not None:
            env.update(faketime_env(now))
        return env

    def run_pass(self, *args, age=None, now=None):
        """Runs the program once; returns its boxes. age: seconds since the check file's
        birth that the clock shows; now: the clock's start as UTC seconds."""
        if age is not None:
            now = birth_time(self.folder / CHECK_FILE) + age
        result = subprocess.run([BINARY, *args], cwd=self.folder, env=self.program_env(now),
                                capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
        return self.boxes(result.stderr.decode("utf-8"))

    def boxes(self, stderr):
        """stderr less the program's own lines (kept in self.reported), which are no boxes."""
        self.reported = [line for line in stderr.splitlines() if line.startswith("ralto-update: ")]
        return "".join(line for line in stderr.splitlines(True) if line[:-1] not in self.reported)

    def assert_reported(self, pattern, mode):
        """The last verbose run said why in one line, never the password; a silent one, and any
        run on Windows, nothing."""
        said = mode != "silent" and not os.environ.get("RALTO_UNDER_WINE")
        self.assertEqual([bool(re.fullmatch("ralto-update: " + pattern, line)) and DEMO[2] not in
                          line for line in self.reported], [True] * said)

    # -- the folder and the service's log ----------------------------------------------

    def write(self, name, data):
        (self.folder / name).write_bytes(data)

    def read(self, name):
        path = self.folder / name
        return path.read_bytes() if path.exists() else None

    def files(self):
        return sorted(p.name for p in self.folder.iterdir())

    def sent(self, path=None):
        return self.service.requests(path=path, since=self.mark)

    def updates(self):
        return self.sent("/nic/update")

    def answer_ip_query(self, body, status=None):
        if status is None:
            self.service.fault("raw", path="/ipCheck.php", body=body)
        else:
            self.service.fault("status", path="/ipCheck.php", status=status, body=body)

    def answer_update(self, body, status=None):
        if status is None:
            self.service.fault("raw", path="/nic/update", body=body)
        else:
            self.service.fault("status", path="/nic/update", status=status, body=body)

    def with_old_check_file(self, data=(OLD_IP + "\n").encode()):
        self.write(CHECK_FILE, data)


class Arguments(PassCase):
    def test_any_count_but_four_shows_usage_in_every_mode(self):
        for args in ([], ["h", "u", "p"], ["h", "u", "silent"], ["h", "u", "p", "silent", "x"],
                     ["h", "u", "p", "x", "silent"], ["silent"]):
            with self.subTest(args=args):
                self.fresh()
                self.assertEqual(self.run_pass(*args), USAGE_BOX)
                self.assertEqual(self.sent(), [])
                self.assertEqual(self.files(), [])

    def test_only_the_exact_word_silent_suppresses_boxes(self):
        for mode in ["Silent", "SILENT", "silent ", " silent", "silentx"]:
            with self.subTest(mode=mode):
                self.fresh()
                self.assertEqual(self.run_pass(*DEMO, mode), accepted_box(f"good {SERVICE_IP}"))
                self.assertEqual(self.read(RESULT_FILE), f"good {SERVICE_IP}".encode())
                self.assertIsNotNone(self.read(REQUEST_LOG))


class RateLimit(PassCase):
    def test_fresh_check_file_stops_the_run_before_any_request(self):
        for mode, expected in [("verbose", INTERVAL_BOX), ("silent", "")]:
            with self.subTest(mode=mode):
                self.fresh()
                self.with_old_check_file()
                self.assertEqual(self.run_pass(*DEMO, mode), expected)
                self.assertEqual(self.sent(), [])
                self.assertEqual(self.files(), [CHECK_FILE])
                self.assertEqual(self.read(CHECK_FILE), f"{OLD_IP}\n".encode())

    def test_age_boundary_and_a_creation_date_in_the_future(self):
        # The check file holds the service's address, so a run that goes on ends unchanged
        # after the IP query alone.
        # One from the future counts as old enough, as after a clock set back; 25 days refresh.
        refreshed = accepted_box(f"good {SERVICE_IP}")
        for age, expected in [(1799, INTERVAL_BOX), (1800, UNCHANGED_BOX), (-1, UNCHANGED_BOX),
                              (-86400, UNCHANGED_BOX), (10 * 86400, UNCHANGED_BOX),
                              (25 * DAY - 1, UNCHANGED_BOX), (25 * DAY, refreshed),
                              (-26 * DAY, UNCHANGED_BOX)]:
            with self.subTest(age=age):
                self.fresh()
                self.with_old_check_file(f"{SERVICE_IP}\n".encode())
                self.assertEqual(self.run_pass(*DEMO, "verbose", age=age), expected)
                queries = len(self.sent("/ipCheck.php"))
                self.assertEqual(queries, 0 if expected == INTERVAL_BOX else 1)
                self.assertEqual(len(self.updates()), int(expected == refreshed))

    def test_a_clock_set_back_a_day_after_an_update_blocks_nothing(self):
        self.assertEqual(self.run_pass(*DEMO, "silent"), "")
        self.service.set_ip(OLD_IP)
        self.assertEqual(self.run_pass(*DEMO, "verbose", age=-86400),
                         accepted_box(f"good {OLD_IP}"))
        self.assertEqual(len(self.updates()), 2)
        self.service.set_ip(SERVICE_IP)
        self.service.fault("raw", path="/nic/update", body=b"911\n", count=1)
        for age in (OLD_ENOUGH, -86400):  # a 911, then its hold-off a day ahead: no hold
            self.run_pass(*DEMO, "silent", age=age)
        self.assertEqual(len(self.updates()), 4)

    @unittest.skipIf(EMULATED == "armhf", "Debian 12's libfaketime for armhf has a 32-bit clock")
    def test_a_clock_past_2038_never_blocks_the_run(self):
        # The date is invalid then; the age it would give is meaningless.
        self.with_old_check_file(f"{SERVICE_IP}\n".encode())
        after_2038 = int(datetime(2038, 6, 1, tzinfo=timezone.utc).timestamp())
        self.assertEqual(self.run_pass(*DEMO, "verbose", now=after_2038), UNCHANGED_BOX)
        self.assertEqual(len(self.sent("/ipCheck.php")), 1)

    def test_a_check_file_past_4_gib_and_an_ip_file_dated_past_2038(self):
        # A 32-bit build without 64-bit offsets and times could open neither (EOVERFLOW).
        self.with_old_check_file(f"{SERVICE_IP}\n".encode())
        os.truncate(self.folder / CHECK_FILE, 5 << 30)
        self.write(IP_FILE, b"old\n")
        os.utime(self.folder / IP_FILE, (2208988800, 2208988800))  # 2040-01-01
        self.assertEqual(self.run_pass(*DEMO, "verbose", age=OLD_ENOUGH), UNCHANGED_BOX)
        self.assertEqual(self.read(IP_FILE), f"{SERVICE_IP}\n".encode())

    def test_without_check_file_the_last_address_is_empty(self):
        # An empty IP answer then equals it: unchanged, nothing sent, nothing accepted.
        for mode, expected in [("verbose", UNCHANGED_BOX), ("silent", "")]:
            with self.subTest(mode=mode):
                self.fresh()
                self.service.set_ip("")
                self.assertEqual(self.run_pass(*DEMO, mode), expected)
                self.assertEqual(self.updates(), [])
                self.assertEqual(self.files(), [IP_FILE])


class IpAnswer(PassCase):
    def test_line_end_and_further_lines_do_not_change_the_address(self):
        for body in [b"%s\r\n", b"%s\r", b"%s\n", b"%s", b"%s\r\nsecond\r\n", b"%s\nx\ny\n",
                     b"%s\rnext"]:
            body = body.replace(b"%s", SERVICE_IP.encode())
            for mode, expected in [("verbose", UNCHANGED_BOX), ("silent", "")]:
                with self.subTest(body=body, mode=mode):
                    self.fresh()
                    self.with_old_check_file(f"{SERVICE_IP}\r\n".encode())
                    self.answer_ip_query(body)
                    self.assertEqual(self.run_pass(*DEMO, mode, age=OLD_ENOUGH), expected)
                    self.assertEqual(self.updates(), [])
                    self.assertEqual(self.read(CHECK_FILE), f"{SERVICE_IP}\r\n".encode())

    def test_the_whole_answer_is_kept_and_only_its_first_line_compared(self):
        answer = f"{SERVICE_IP}\r\nserved by node 4\r\n".encode()
        self.answer_ip_query(answer)
        self.assertEqual(self.run_pass(*DEMO, "silent"), "")
        self.assertEqual(params_of(self.updates()[0])["myip"], SERVICE_IP)
        self.assertEqual(self.read(CHECK_FILE), answer)

        self.service.reset()
        self.answer_ip_query(f"{SERVICE_IP}\nserved by node 7\n".encode())
        self.assertEqual(self.run_pass(*DEMO, "verbose", age=OLD_ENOUGH), UNCHANGED_BOX)
        self.assertEqual(len(self.updates()), 1)

    def test_implausible_first_line_is_shown_and_nothing_accepted(self):
        cases = [(b"0.1.2.3\n", "0.1.2.3"), (b"abc\n", "abc"), (b" 1.2.3.4\n", " 1.2.3.4"),
                 (b"+1.2.3.4\n", "+1.2.3.4"), (b"-1.2.3.4\n", "-1.2.3.4"),
                 (b"<html>\r\n<body>1.2.3.4</body>", "<html>"), (b"2001:db8::7\n", "2001:db8::7"),
                 (b"\xef\xbb\xbf1.2.3.4\n", "\ufeff1.2.3.4"), (b"$1F\n", "$1F")]
        for body, line in cases:
            for mode, expected in [("verbose", implausible_box(line)), ("silent", "")]:
                with self.subTest(body=body, mode=mode):
                    self.fresh()
                    self.answer_ip_query(body)
                    self.assertEqual(self.run_pass(*DEMO, mode), expected)
                    self.assertEqual(self.updates(), [])
                    self.assertEqual(self.files(), [IP_FILE])

    def test_empty_answer_against_a_known_address_is_implausible(self):
        self.with_old_check_file()
        self.answer_ip_query(b"\n")
        self.assertEqual(self.run_pass(*DEMO, "verbose", age=OLD_ENOUGH), implausible_box(""))
        self.assertEqual(self.updates(), [])
        self.assertEqual(self.read(CHECK_FILE), f"{OLD_IP}\n".encode())

    def test_an_error_status_is_a_failed_query(self):
        # An error page that begins with a digit would pass for an address.
        for status in (400, 404, 500, 429):
            for mode in ("verbose", "silent"):
                with self.subTest(status=status, mode=mode):
                    self.fresh()
                    self.with_old_check_file()
                    self.answer_ip_query(f"{status} Error\n".encode(), status=status)
                    self.assertEqual(self.run_pass(*DEMO, mode, age=OLD_ENOUGH), "")
                    self.assert_reported(f"the IP query failed: HTTP status {status}", mode)
                    self.assertEqual(self.files(), [CHECK_FILE])
                    self.assertEqual(self.read(CHECK_FILE), (OLD_IP + "\n").encode())
                    self.assertEqual(self.updates(), [])


class UpdateAnswer(PassCase):
    ANSWERS = [  # body, first line, accepted
        (b"good 203.0.113.7\n", "good 203.0.113.7", True),
        (b"nochg 203.0.113.7", "nochg 203.0.113.7", True),
        (b"status: good\r\n", "status: good", True),
        (b"xxnochgxx\n", "xxnochgxx", True),
        (b"nochg 911\n", "nochg 911", True),  # 911 counts only at the start
        (b"\xef\xbb\xbfgood\n", "\ufeffgood", True),
        (b"GOOD\n", "GOOD", False),
        (b"NoChg 203.0.113.7\n", "NoChg 203.0.113.7", False),
        (b"badauth\n", "badauth", False),
        (b"\n", "", False),
        (b"", "", False),
    ]

    def test_answers_are_judged_by_their_first_line_in_both_modes(self):
        for body, line, accepted in self.ANSWERS:
            for mode in ("verbose", "silent"):
                with self.subTest(body=body, mode=mode):
                    self.fresh()
                    self.answer_update(body)
                    shown = self.run_pass(*DEMO, mode)
                    if mode == "silent":
                        self.assertEqual(shown, "")
                    else:
                        self.assertEqual(shown, (accepted_box if accepted else server_box)(line))
                    silent_success = mode == "silent" and accepted
                    self.assertEqual(self.read(RESULT_FILE), None if silent_success else body)
                    # Each of these answers records the address, a refusal included.
                    self.assertEqual(self.read(CHECK_FILE), f"{SERVICE_IP}\n".encode())

    def test_the_providers_try_again_holds_the_next_update_off_for_the_half_hour(self):
        # 429 and 5xx say it by status; they show no box and leave no answer file.
        for body, line, status in [(b"911\ngood\n", "911", None), (b"dnserr\n", "dnserr", None),
                                   (b"\xef\xbb\xbf911 good\n", "\ufeff911 good", None),
                                   ("\ufeffdnserr\n".encode("utf-16-be"), None, None),
                                   ("\ufeff911\n".encode("utf-16-le"), None, None),
                                   (b"slow down\n", "", 429), (b"busy\n", "", 503)]:
            for mode in ("verbose", "silent"):
                with self.subTest(body=body, mode=mode):
                    self.fresh()
                    self.answer_update(body, status)
                    shown = self.run_pass(*DEMO, mode)
                    if line is not None:  # UTF-16 is read as UTF-8: no text to expect
                        self.assertEqual(shown, "" if mode == "silent" or status
                                         else server_box(line))
                    self.assertEqual(self.read(RESULT_FILE), None if status else body)
                    self.assertIsNone(self.read(CHECK_FILE))
                    # The dropped record is gone now, not only after the next run's clearing.
                    self.assertEqual([name for name in self.files() if ".tmp-" in name], [])
                    self.service.control(clear=1)
                    held = birth_time(self.folder / HOLD_FILE)
                    self.assertEqual(self.run_pass(*DEMO, mode, now=held + 600),
                                     "" if mode == "silent" else INTERVAL_BOX)
                    self.run_pass(*DEMO, mode, now=held + 1860)
                    self.assertEqual(len(self.updates()), 2)

    def test_error_status_bodies_are_judged_by_their_words(self):
        for status, body, expected in [
                (404, b"good 203.0.113.7\n", accepted_box("good 203.0.113.7")),
                (401, b"badauth\n", server_box("badauth"))]:
            with self.subTest(status=status):
                self.fresh()
                self.answer_update(body, status=status)
                self.assertEqual(self.run_pass(*DEMO, "verbose"), expected)
                self.assertEqual(self.read(CHECK_FILE), f"{SERVICE_IP}\n".encode())

    def test_an_update_the_provider_never_processed_is_sent_again(self):
        for status in (407, 408, 429, 500, 503):
            with self.subTest(status=status):
                self.fresh()
                self.with_old_check_file()
                self.answer_update(b"good but not really\n", status=status)
                self.assertEqual(self.run_pass(*DEMO, "verbose", age=OLD_ENOUGH), "")
                self.assert_reported(f"the update failed: HTTP status {status}", "verbose")
                self.assertEqual(self.read(CHECK_FILE), (OLD_IP + "\n").encode())
                self.assertIsNone(self.read(RESULT_FILE))
                self.service.control(clear=1)
                self.assertEqual(self.run_pass(*DEMO, "verbose", age=OLD_ENOUGH),
                                 accepted_box(f"good {SERVICE_IP}"))
                self.assertEqual(len(self.updates()), 2)

    def test_a_refusal_stands_until_the_check_file_goes_or_the_account_changes(self):
        wrong = ["demo.example.net", "demo", "wrong", "verbose"]
        for deleted, fixed in ((True, wrong), (False, [*DEMO, "verbose"])):
            with self.subTest(deleted=deleted):
                self.fresh()
                self.assertEqual(self.run_pass(*wrong), server_box("badauth"))
                self.service.set_ip(OLD_IP)  # a new address: the refusal still stands
                later = birth_time(self.folder / CHECK_FILE) + OLD_ENOUGH
                self.assertEqual(self.run_pass(*wrong, now=later), server_box("badauth"))
                self.assertEqual(len(self.updates()), 1)
                if deleted:
                    (self.folder / CHECK_FILE).unlink()
                self.run_pass(*fixed, now=later)
                self.assertEqual(len(self.updates()), 2)
                self.assertEqual(HOLD_FILE in self.files(), deleted)  # badauth again, or gone

    def test_control_characters_never_reach_the_terminal(self):
        self.answer_update(b"bad\x1b]0;owned\x07\tx\xc2\x9b31m\x7f\r\n")
        self.assertEqual(self.run_pass(*DEMO, "verbose"), server_box("bad?]0;owned??x?31m?"))
        self.fresh()
        self.answer_ip_query(b"\x1b[2J1.2.3.4\n")
        self.assertEqual(self.run_pass(*DEMO, "verbose"), implausible_box("?[2J1.2.3.4"))


class FailedTransfers(PassCase):
    def test_failed_ip_query_ends_the_run_quietly(self):
        for fault in [{"mode": "drop"}, {"mode": "reset", "at": "start"},
                      {"mode": "reset", "at": "body"}, {"mode": "raw", "length": 100}]:
            for mode in ("verbose", "silent"):
                with self.subTest(fault=fault, mode=mode):
                    self.fresh()
                    self.service.fault(path="/ipCheck.php", **fault)
                    self.assertEqual(self.run_pass(*DEMO, mode), "")
                    self.assert_reported(r"the IP query failed: libcurl error \d+ \(.+\)", mode)
                    self.assertEqual(self.files(), [])
                    self.assertEqual(self.updates(), [])

    def test_failed_update_is_sent_again_by_the_next_run(self):
        for checked, mode in [(None, "verbose"), (None, "silent"),
                              (f"{OLD_IP}\n".encode(), "verbose")]:
            with self.subTest(check_file=checked, mode=mode):
                self.fresh()
                if checked is not None:
                    self.with_old_check_file(checked)
                self.service.fault("drop", path="/nic/update", count=1)
                age = OLD_ENOUGH if checked is not None else None
                self.assertEqual(self.run_pass(*DEMO, mode, age=age), "")
                self.assert_reported(r"the update failed: libcurl error 52 \(.+\)", mode)
                self.assertEqual(self.read(CHECK_FILE), checked)
                self.assertIsNone(self.read(RESULT_FILE))

                # The service is back; the next run, past the interval, sends the update.
                expected = "" if mode == "silent" else accepted_box(f"good {SERVICE_IP}")
                self.assertEqual(self.run_pass(*DEMO, mode, age=age), expected)
                self.assertEqual(len(self.updates()), 2)
                self.assertEqual(self.read(CHECK_FILE), f"{SERVICE_IP}\n".encode())


class UpdateRequest(PassCase):
    def logged_url(self):
        return self.read(REQUEST_LOG).decode("utf-8")

    def test_values_without_separators_give_the_plain_url(self):
        host, user, pw = "a.example.org,b.example.org", "u", "Pa$$w0rd!@:;/,~'()*"
        self.run_pass(host, user, pw, "verbose")
        url = (f"{UPDATE_BASE}?hostname={host}&myip={SERVICE_IP}&user={user}&pass={pw}")
        self.assertEqual(self.logged_url(), url)
        self.assertEqual(self.updates()[0]["target"], "http://" + url)
        self.assertEqual(self.sent("/ipCheck.php")[0]["target"], IP_QUERY_URL)
        # The update names its client and carries the account; the IP query does neither.
        heads = [[header_of(r, n) for n in ("User-Agent", "Authorization")]
                 for r in (self.updates()[0], self.sent("/ipCheck.php")[0])]
        self.assertEqual(heads, [["ralto-update/" + os.environ["RALTO_VERSION"], basic(user, pw)],
                                 [None, None]])

    def test_credentials_never_follow_a_redirect_to_another_host(self):
        self.service.fault("redirect", path="/nic/update",
                           location="http://elsewhere.example.org/_hop/nic/update")
        self.run_pass(*DEMO, "silent")
        self.assertEqual([header_of(r, "Authorization") for r in self.sent()[1:]],
                         [basic(DEMO[1], DEMO[2]), None])

    def test_separators_inside_values_reach_the_server_as_data(self):
        cases = [  # host, user, password, the query as sent
            ("h.example.org", "u", "p w&x+ä#",
             "hostname=h.example.org&myip=203.0.113.7&user=u&pass=p%20w%26x%2B%C3%A4%23"),
            ("bücher.example#x", "a=b:c", "%41|<>",
             "hostname=b%C3%BCcher.example%23x&myip=203.0.113.7&user=a%3Db:c"
             "&pass=%2541%7C%3C%3E"),
        ]
        for host, user, pw, query in cases:
            with self.subTest(pw=pw):
                self.fresh()
                self.run_pass(host, user, pw, "verbose")
                url = f"{UPDATE_BASE}?{query}"
                self.assertEqual(self.logged_url(), url)
                record = self.updates()[0]
                self.assertEqual(record["target"], "http://" + url)
                self.assertEqual(params_of(record),
                                 {"hostname": host, "myip": SERVICE_IP, "user": user, "pass": pw})
                # Basic authentication cannot carry a user name with ':' (UTF-8 otherwise).
                self.assertEqual(header_of(record, "Authorization"),
                                 None if ":" in user else basic(user, pw))

    def test_the_reported_address_cannot_add_keys(self):
        self.answer_ip_query(b"1.2.3.4&user=other&pass=x#\n")
        self.run_pass(*DEMO, "verbose")
        self.assertEqual(self.updates()[0]["query"],
                         "hostname=demo.example.net&myip=1.2.3.4%26user%3Dother%26pass%3Dx%23"
                         "&user=demo&pass=demo-pass")

    def test_request_log_holds_the_url_exactly_and_only_for_the_owner(self):
        self.run_pass(*DEMO, "verbose")
        url = (f"{UPDATE_BASE}?hostname=demo.example.net&myip={SERVICE_IP}"
               "&user=demo&pass=demo-pass")
        self.assertEqual(self.read(REQUEST_LOG), url.encode("ascii"))
        mode = (self.folder / REQUEST_LOG).stat().st_mode & 0o777
        if os.environ.get("RALTO_UNDER_WINE"):
            # Windows keeps the owner-only access list; Wine shows it as owner bits and the
            # group's as the umask leaves them, never others'.
            self.assertEqual(mode & 0o707, 0o600)
        else:
            self.assertEqual(mode, 0o600)

    def test_silent_runs_leave_the_request_log_alone(self):
        for earlier in (None, b"earlier run\r\n"):
            with self.subTest(earlier=earlier):
                self.fresh()
                if earlier is not None:
                    self.write(REQUEST_LOG, earlier)
                self.assertEqual(self.run_pass(*DEMO, "silent"), "")
                self.assertEqual(len(self.updates()), 1)
                self.assertEqual(self.read(REQUEST_LOG), earlier)


if __name__ == "__main__":
    unittest.main()
