"""The package installed with apt on a booted Debian 12 (systemd-nspawn -b, a private network)
and run by its timer and by the cron example against the local service, a unit inside; then
upgraded and purged. Real root only. The root file system is cached under ~/.cache/ralto/boot per package list."""

import fcntl
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from test_package import ROOT, build_package  # noqa: E402

PACKAGES = "systemd,systemd-sysv,dbus,cron,python3,ca-certificates,libcurl4,procps,libnss-systemd"
CACHE = Path(os.environ.get("RALTO_CACHE_DIR", Path.home() / ".cache/ralto")) / "boot"
HIERARCHIES = [h for h in map(Path, ("/sys/fs/cgroup/systemd", "/sys/fs/cgroup/unified"))
               if h.is_dir()]
NSPAWN_RUN = Path("/run/systemd/nspawn")
PASSWORD = "Pa$HOME w%41rd&x=1 \\#;`id`"
TIMER, CRON = "timer.ralto.test", "cron.ralto.test"
TIMER_STATE, CRON_STATE = f"var/lib/private/ralto-update/{TIMER}", f"var/lib/ralto-update/{CRON}"
DYNAMIC_UIDS = range(61184, 65520)
ENV = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "LANG": "C.UTF-8"}
FILES = {  # written into the root file system before it boots
    "etc/hosts": "127.0.0.1 localhost dyndns.ralto.test\n",
    "etc/systemd/system/dyndns-service.service":
        "[Service]\nExecStart=/usr/bin/python3 /usr/local/bin/dyndns-service --port 8245 "
        "--log /var/log/dyndns-requests.log\n[Install]\nWantedBy=multi-user.target\n",
    # The first tick a second after the timer starts, not at the next fifth minute.
    "etc/systemd/system/ralto-update@.timer.d/soon.conf": "[Timer]\nOnActiveSec=1\nAccuracySec=1s\n",
}


def until(condition, seconds, what):
    """Polls condition until it gives a true value (an OSError counts as not yet)."""
    deadline = time.monotonic() + seconds
    while True:
        try:
            if value := condition():
                return value
        except OSError:
            pass
        if time.monotonic() > deadline:
            raise AssertionError(f"not within {seconds} s: {what}")
        time.sleep(0.5)


def root_tarball():
    CACHE.mkdir(parents=True, exist_ok=True)
    tarball = CACHE / f"root-{hashlib.sha256(PACKAGES.encode()).hexdigest()[:16]}.tar"
    with open(CACHE / "lock", "w") as lock:
        until(lambda: fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB) or True, 900, "the lock")
        if not tarball.exists():
            for old in CACHE.glob("root-*"):
                old.unlink()
            subprocess.run(["mmdebstrap", "--quiet", "--variant=minbase", f"--include={PACKAGES}",
                            "bookworm", str(CACHE / "root-partial.tar")], check=True, timeout=900)
            (CACHE / "root-partial.tar").rename(tarball)
    return tarball


class Container:
    """systemd-nspawn -b on a root file system, in cgroups of its own: else nspawn puts its
    payload and supervisor at the root of the host's hierarchies."""

    def __init__(self, root):
        self.root, self.nspawn = root, None
        self.cgroups = [h / f"ralto-boot-{os.getpid()}" for h in HIERARCHIES]
        self.made_run_folder = not NSPAWN_RUN.exists()

    def boot(self):
        for cgroup in self.cgroups:
            cgroup.mkdir(exist_ok=True)
        launch = ('for c; do echo $$ > "$c/cgroup.procs" || exit 1; done\n'
                  f"mkdir -p {NSPAWN_RUN} && exec unshare --mount --propagation private sh -c "
                  f"'mount -t tmpfs tmpfs {NSPAWN_RUN} && exec systemd-nspawn -q -b -D {self.root}"
                  " --register=no --keep-unit --private-network --console=passive'")
        self.log = open(self.root.parent / "nspawn.log", "ab")
        self.nspawn = subprocess.Popen(["sh", "-c", launch, "sh", *map(str, self.cgroups)],
                                       stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log)
        self.pid = until(self.init_pid, 60, "the container's systemd")
        until(lambda: self.run("systemctl", "is-system-running", "--wait", timeout=120)
              .stdout.strip() in ("running", "degraded"), 120, "the container's boot")

    def init_pid(self):
        assert self.nspawn.poll() is None, (self.root.parent / "nspawn.log").read_text()
        return next((int(p) for p in self.pids() if re.search(
            r"^NSpid:\t\d+\t1$", Path(f"/proc/{p}/status").read_text(), re.MULTILINE)), None)

    def pids(self):
        return [p for c in self.cgroups for f in c.rglob("cgroup.procs")
                for p in f.read_text().split()]

    def run(self, *command, user=None, input=None, timeout=60):
        """The command run inside (as user if given); its output is text."""
        command = ("runuser", "-u", user, "--", *command) if user else command
        return subprocess.run(["nsenter", "-t", str(self.pid), "-a", *command], env=ENV,
                              input=input, capture_output=True, text=True, errors="replace",
                              timeout=timeout)

    def sh(self, script, input=None):
        done = self.run("sh", "-ec", script, input=input)
        assert done.returncode == 0, f"{script}\n{done.stdout}{done.stderr}"
        return done.stdout

    def halt(self, how="poweroff"):
        """Its own shutdown first, if it still answers; then whatever is left is killed."""
        if self.nspawn and self.nspawn.poll() is None:
            try:
                self.run("systemctl", how, timeout=20)
                self.nspawn.wait(timeout=60)
            except subprocess.TimeoutExpired:
                pass
        for _ in range(100):  # at most 10 s
            if pids := self.pids():
                subprocess.run(["kill", "-KILL", *pids], capture_output=True)
                time.sleep(0.1)
        if self.nspawn:
            self.nspawn.wait(timeout=10)
            self.log.close()

    def remove(self):
        self.halt()
        for cgroup in filter(Path.exists, self.cgroups):  # the deepest folders first
            for folder in sorted([p for p in cgroup.rglob("*") if p.is_dir()], reverse=True):
                folder.rmdir()
            cgroup.rmdir()
        if self.made_run_folder and NSPAWN_RUN.exists():
            NSPAWN_RUN.rmdir()


class BootedPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if os.geteuid() or Path("/proc/self/uid_map").read_text().split() != ["0", "0", "4294967295"]:
            raise unittest.SkipTest("not real root: booting a container needs it")
        deb, tarball = build_package(), root_tarball()
        root = cls.root = Path(tempfile.mkdtemp(prefix="ralto-boot-")) / "root"
        cls.addClassCleanup(shutil.rmtree, root.parent, True)
        root.mkdir()
        subprocess.run(["tar", "-xf", str(tarball), "-C", str(root)], check=True, timeout=300)
        shutil.copy(deb, root / "root/ralto-update.deb")
        shutil.copy(ROOT / "tools/dyndns-service", root / "usr/local/bin/dyndns-service")
        for path, text in FILES.items():
            (root / path).parent.mkdir(parents=True, exist_ok=True)
            (root / path).write_text(text)
        cls.container = Container(root)
        cls.addClassCleanup(cls.container.remove)
        cls.container.boot()

    def passwords_sent(self, host=None):
        log = (self.root / "var/log/dyndns-requests.log").read_text().splitlines()
        params = [dict(json.loads(line)["params"]) for line in log]
        return [p["pass"] for p in params if host in (None, p.get("hostname"))]

    def journal(self, *options):
        """Every field of the journal, read as a member of adm."""
        read = self.container.run("journalctl", "-o", "export", *options, user="reader")
        self.assertEqual(read.returncode, 0, read.stderr)
        return read.stdout

    def assert_private(self, folder, uids):
        """The folder 0700 and its files 0600, all of one owner among uids, who is returned."""
        found = {(e.stat().st_uid, e.stat().st_mode & 0o7777)
                 for e in [self.root / folder, *(self.root / folder).iterdir()]}
        uid = min(found)[0]
        self.assertEqual((found, uid in uids), ({(uid, 0o600), (uid, 0o700)}, True))
        return uid

    def assert_timer_pass(self):
        def ended():
            shown = self.container.sh(f"systemctl show ralto-update@{TIMER} -p Result,"
                                      "ExecMainStatus,ExecMainExitTimestampMonotonic")
            return "Monotonic=0\n" not in shown and sorted(shown.splitlines())
        self.assertEqual(until(ended, 60, "a pass of the timer")[1:],
                         ["ExecMainStatus=0", "Result=success"])

    def test_the_readme_recipes_on_a_booted_system(self):
        c, unit = self.container, f"ralto-update@{TIMER}.service"
        examples = self.root / "usr/share/doc/ralto-update/examples"

        def control(**keys):
            return c.run("python3", "-c", "import sys, urllib.request; urllib.request.urlopen("
                         "'http://127.0.0.1:8245/_control', sys.argv[1].encode())",
                         json.dumps(keys))

        def host_file(host):
            text = (examples / "host.conf").read_text()
            for name, value in (("HOST", host), ("USER_NAME", "myuser"),
                                ("PASSWORD", PASSWORD), ("MODE", "verbose")):
                text = re.sub(rf"^{name}=.*$", f"{name}='{value}'", text, flags=re.MULTILINE)
            return text

        def install():
            c.sh("DEBIAN_FRONTEND=noninteractive apt-get install -y -q /root/ralto-update.deb")
            self.assertEqual(c.sh("systemctl list-units --all --no-legend 'ralto-update*'\n"
                                  "find /etc/systemd /etc/cron.d -type l -name 'ralto-update*'\n"
                                  "systemctl enable -q --now dyndns-service"), "")
            until(lambda: control(account=f"myuser:{PASSWORD}:{TIMER},{CRON}").returncode == 0,
                  30, "the local service")

        def cron_host():
            # Before the timer first runs: the cron recipe's user must not capture it.
            c.sh("useradd --system --no-create-home --shell /usr/sbin/nologin ralto-update\n"
                 f"install -d -o ralto-update -g ralto-update -m 700 /{CRON_STATE}\n"
                 "install -d -g ralto-update -m 750 /etc/ralto-update-cron\n"
                 f"install -g ralto-update -m 640 /dev/stdin /etc/ralto-update-cron/{CRON}.conf\n"
                 "useradd --no-create-home --groups adm reader", input=host_file(CRON))
            self.cron_uid = (self.root / CRON_STATE).stat().st_uid
            line = (examples / "ralto-update.cron").read_text().replace("myhost.example.org", CRON)
            (self.root / "etc/cron.d/ralto-update").write_text(line.replace("*/5 ", "* "))

        def timer_passes():
            c.sh(f"install -d -m 700 /etc/ralto-update\n"
                 f"install -m 600 /dev/stdin /etc/ralto-update/{TIMER}.conf\n"
                 f"systemctl enable -q --now ralto-update@{TIMER}.timer", input=host_file(TIMER))
            self.assert_timer_pass()
            self.assertEqual(c.sh(f"systemctl show -p TimeoutStartUSec {unit}"),
                             "TimeoutStartUSec=11min\n")
            self.assertEqual(self.passwords_sent(TIMER), [PASSWORD])
            self.assertNotEqual(self.assert_private(TIMER_STATE, DYNAMIC_UIDS), self.cron_uid)
            c.sh(f"systemctl start {unit}")
            self.assertEqual(self.passwords_sent(TIMER), [PASSWORD])
            self.assertIn("Intervall kleiner 30 Minuten!", self.journal("-u", unit))

        def cron_pass():
            until(lambda: (self.root / CRON_STATE / "raltoIP.chk").exists(), 90, "a cron pass")
            self.assertEqual(self.passwords_sent(CRON), [PASSWORD])
            self.assert_private(CRON_STATE, [self.cron_uid])

        def stalled_cron_pass():
            check = self.root / CRON_STATE / "raltoIP.chk"
            control(mode="stall", path="/ipCheck.php", count=1)
            check.rename(check.with_name("aside"))
            until(lambda: "stall" in (self.root / "var/log/dyndns-requests.log").read_text(), 90,
                  "a cron pass held on the IP query")
            lines = until(lambda: {p: Path(f"/proc/{p}/cmdline").read_bytes() for p in c.pids()},
                          10, "the command lines")
            self.assertEqual([line for line in lines.values() if b"w%41rd" in line], [])
            (held,) = [p for p, line in lines.items() if line.startswith(b"timeout\x0011m\0sh\0")]
            os.kill(int(held), 15)
            until(lambda: not Path(f"/proc/{held}").exists(), 30, "the pass's end")
            check.with_name("aside").rename(check)

        def journal():
            everything = self.journal()
            self.assertIn(f"CMD (cd /{CRON_STATE}", everything)
            self.assertIn("MESSAGE=Alles Gut:", self.journal("-u", unit))
            for secret in (PASSWORD, "w%41rd"):
                self.assertNotIn(secret, everything)

        def upgrade_and_purge():
            c.sh("dpkg-deb -R /root/ralto-update.deb /root/next && cd /root/next\n"
                 "sed -i 's/^Version: .*/&+1/' DEBIAN/control\n"
                 "sed -i 's/^Description=.*/Description=Upgraded/' usr/lib/systemd/system/*.timer\n"
                 "dpkg-deb -b . /root/next.deb >/dev/null && dpkg -i /root/next.deb")
            timer = f"ralto-update@{TIMER}.timer"
            self.assertEqual(c.sh(f"systemctl is-enabled {timer} && systemctl is-active {timer}"
                                  f" && systemctl show -P Description {timer}"),
                             "enabled\nactive\nUpgraded\n")
            (self.root / TIMER_STATE / "raltoIP.chk").unlink()  # the next pass asks, and is held
            control(mode="stall", path="/ipCheck.php", count=1)
            c.sh(f"systemctl start --no-block {unit} && mkdir /etc/ralto-update/old.conf")
            until(lambda: "stall" in (self.root / "var/log/dyndns-requests.log").read_text(), 60,
                  "a timer pass held on the IP query")  # the log began anew at the reboot
            c.sh("rm /etc/cron.d/ralto-update && apt-get purge -y -q ralto-update")
            self.assertEqual(c.sh("systemctl list-units --all --no-legend 'ralto-update*'\n"
                                  "find /etc/systemd -type l -name 'ralto-update*'\n"
                                  "pgrep -f ^/usr/bin/ralto-update || true"), "")
            self.assertEqual([p.name for p in (self.root / "var/lib/ralto-update").iterdir()],
                             [CRON])
            self.assertFalse(any((self.root / p).exists() for p in (
                "var/lib/private/ralto-update", f"var/lib/systemd/timers/stamp-{timer}")))
            self.assertEqual(os.listdir(self.root / "etc/ralto-update"), ["old.conf"])

        def reboot():
            c.halt("reboot")
            c.boot()
            self.assertEqual(c.sh(f"systemctl is-active ralto-update@{TIMER}.timer"), "active\n")
            self.assert_timer_pass()
            self.assertIn("Intervall kleiner 30 Minuten!", self.journal("-b", "-u", unit))
            self.assertEqual(self.passwords_sent(), [])

        for name, check in [
                ("apt installs, enabling and starting nothing", install),
                ("a cron host with a user, a folder and a host file of its own", cron_host),
                ("the timer's pass exits 0 as a dynamic user, sends one update with the password "
                 "intact, leaves 0600 files in a 0700 folder; the next start sends nothing",
                 timer_passes),
                ("a cron pass: one update, the password intact, the files its user's", cron_pass),
                ("a cron pass held on a stalled server: 11 minutes' limit, no password in the "
                 "command line of any process", stalled_cron_pass),
                ("boxes and cron's commands in the journal, the password in no field (read as "
                 "a member of adm)", journal),
                ("after a reboot the timer is active and its state is found", reboot),
                ("an upgrade keeps the timer enabled and running, its units read; purge during a "
                 "pass leaves no unit (failed neither), state, stamp, host file or pass, and the "
                 "cron folder and a folder under a host file's name", upgrade_and_purge)]:
            with self.subTest(name):
                check()


if __name__ == "__main__":
    unittest.main()
