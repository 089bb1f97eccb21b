"""The Debian package on a booted system: a Debian 12 container (systemd-nspawn -b, a private
network with only its own loopback) gets the package of test_package.py with apt, then runs
it from the shipped timer and from the cron example against the local service, a unit inside
at dyndns.ralto.test. Real root only. The root file system is built once with mmdebstrap and
kept under ~/.cache/ralto/boot, anew when its package list changes. The container runs in
cgroups and a mount namespace of its own; all of it is gone when the module ends, failed or not.
"""

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
HIERARCHIES = [h for h in (Path("/sys/fs/cgroup/systemd"), Path("/sys/fs/cgroup/unified"))
               if h.is_dir()]
NSPAWN_RUN = Path("/run/systemd/nspawn")
PASSWORD = "Pa$HOME w%41rd&x=1 \\#;`id`"
TIMER, CRON = "timer.ralto.test", "cron.ralto.test"
TIMER_STATE, CRON_STATE = f"var/lib/private/ralto-update/{TIMER}", f"var/lib/ralto-update/{CRON}"
DYNAMIC_UIDS = range(61184, 65520)
ENV = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "LANG": "C.UTF-8",
       "DEBIAN_FRONTEND": "noninteractive"}
FILES = {  # written into the root file system before it boots
    "etc/systemd/system/dyndns-service.service":
        "[Service]\nExecStart=/usr/bin/python3 /usr/local/bin/dyndns-service --port 8245 "
        "--log /var/log/dyndns-requests.log\n",
    "etc/systemd/system/multi-user.target.wants/dyndns-service.service":
        "/etc/systemd/system/dyndns-service.service",  # a link
    # The first tick a second after the timer starts, not at the next fifth minute.
    "etc/systemd/system/ralto-update@.timer.d/soon.conf": "[Timer]\nOnActiveSec=1\nAccuracySec=1s\n",
}


def reason_to_skip():
    if os.geteuid() != 0:
        return "not root"
    if Path("/proc/self/uid_map").read_text().split() != ["0", "0", "4294967295"]:
        return "root of a user namespace, not real root"
    return None


def until(condition, seconds, what):
    """Polls condition (a function) until it gives a true value, which is returned."""
    deadline = time.monotonic() + seconds
    while not (value := condition()):
        if time.monotonic() > deadline:
            raise AssertionError(f"not within {seconds} s: {what}")
        time.sleep(0.5)
    return value


def take(lock):
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        return True
    except BlockingIOError:
        return False


def root_tarball():
    """The root file system's tarball, built when its package list has none yet."""
    CACHE.mkdir(parents=True, exist_ok=True)
    tarball = CACHE / f"root-{hashlib.sha256(PACKAGES.encode()).hexdigest()[:16]}.tar"
    with open(CACHE / "lock", "w") as lock:
        until(lambda: take(lock), 900, "the lock of the cached root file system")
        if not tarball.exists():
            for old in CACHE.glob("root-*"):
                old.unlink()
            partial = CACHE / "root-partial.tar"
            subprocess.run(["mmdebstrap", "--quiet", "--variant=minbase",
                            f"--include={PACKAGES}", "bookworm", str(partial)],
                           check=True, timeout=900)
            partial.rename(tarball)
    return tarball


class Container:
    """systemd-nspawn -b on a root file system, its processes in cgroups of their own (else
    nspawn puts its payload and supervisor at the root of the host's hierarchies)."""

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
        for procs in self.cgroups[0].rglob("cgroup.procs"):
            for pid in procs.read_text().split():
                status = Path(f"/proc/{pid}/status")
                try:
                    if re.search(r"^NSpid:\t\d+\t1$", status.read_text(), re.MULTILINE):
                        return int(pid)
                except OSError:
                    pass
        return None

    def run(self, *command, user=None, input=None, timeout=60):
        """The command run inside (as user if given); its output is text."""
        if user:
            command = ("runuser", "-u", user, "--", *command)
        return subprocess.run(["nsenter", "-t", str(self.pid), "-a", *command], env=ENV,
                              input=input, capture_output=True, text=True, errors="replace",
                              timeout=timeout)

    def sh(self, script, input=None, timeout=60):
        done = self.run("sh", "-ec", script, input=input, timeout=timeout)
        assert done.returncode == 0, f"{script}\n{done.stdout}{done.stderr}"
        return done.stdout

    def halt(self, reboot=False):
        """Ends the container (its own shutdown first, if it still answers)."""
        if self.nspawn and self.nspawn.poll() is None:
            try:
                self.run("systemctl", "reboot" if reboot else "poweroff", timeout=20)
                self.nspawn.wait(timeout=60)
            except (subprocess.TimeoutExpired, OSError):
                pass
        for _ in range(100):
            pids = [p for c in self.cgroups for f in c.rglob("cgroup.procs")
                    for p in f.read_text().split()]
            if not pids:
                break
            subprocess.run(["kill", "-KILL", *pids], capture_output=True)
            time.sleep(0.1)
        if self.nspawn:
            self.nspawn.wait(timeout=10)
            self.log.close()

    def remove(self):
        self.halt()
        for cgroup in self.cgroups:
            if cgroup.exists():
                for folder in sorted((p for p in cgroup.rglob("*") if p.is_dir()),
                                     key=lambda p: -len(p.parts)) + [cgroup]:
                    folder.rmdir()
        if self.made_run_folder and NSPAWN_RUN.exists():
            NSPAWN_RUN.rmdir()


def host_file(example, values):
    """The shipped host.conf with these values put in, single-quoted."""
    for name, value in values.items():
        example = re.sub(rf"^{name}=.*$", f"{name}='{value}'", example, flags=re.MULTILINE)
    return example


class BootedPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if reason := reason_to_skip():
            raise unittest.SkipTest(reason)
        deb, tarball = build_package(), root_tarball()
        cls.temp = Path(tempfile.mkdtemp(prefix="ralto-boot-"))
        cls.addClassCleanup(shutil.rmtree, cls.temp, True)
        root = cls.root = cls.temp / "root"
        root.mkdir()
        subprocess.run(["tar", "-xf", str(tarball), "-C", str(root)], check=True, timeout=300)
        shutil.copy(deb, root / "root/ralto-update.deb")
        shutil.copy(ROOT / "tools/dyndns-service", root / "usr/local/bin/dyndns-service")
        with open(root / "etc/hosts", "a") as hosts:
            hosts.write("127.0.0.1 dyndns.ralto.test\n")
        for path, text in FILES.items():
            (root / path).parent.mkdir(parents=True, exist_ok=True)
            if text.startswith("/"):
                (root / path).symlink_to(text)
            else:
                (root / path).write_text(text)
        cls.container = Container(root)
        cls.addClassCleanup(cls.container.remove)
        cls.container.boot()

    def requests(self, host=None):
        log = (self.root / "var/log/dyndns-requests.log").read_text().splitlines()
        params = [dict(json.loads(line)["params"]) for line in log]
        return [p for p in params if host is None or p.get("hostname") == host]

    def journal(self, *options):
        """Every field of the journal, read as a member of adm."""
        read = self.container.run("journalctl", "-o", "export", "--no-pager", *options,
                                  user="reader")
        self.assertEqual(read.returncode, 0, read.stderr)
        return read.stdout

    def owners_and_modes(self, folder):
        """{(uid, mode)} of the folder and of every file in it."""
        return {(e.stat().st_uid, e.stat().st_mode & 0o7777)
                for e in [self.root / folder, *(self.root / folder).iterdir()]}

    def finished(self, unit):
        """The unit's last run, once it has ended."""
        shown = self.container.sh(f"systemctl show -p Result,ExecMainStatus,"
                                  f"ExecMainExitTimestampMonotonic {unit}")
        fields = dict(line.split("=", 1) for line in shown.splitlines())
        return fields if fields["ExecMainExitTimestampMonotonic"] != "0" else None

    def test_the_readme_recipes_on_a_booted_system(self):
        c, unit = self.container, f"ralto-update@{TIMER}.service"
        examples = self.root / "usr/share/doc/ralto-update/examples"
        account = {"USER_NAME": "myuser", "PASSWORD": PASSWORD, "MODE": "verbose"}
        cron_uid = []

        def install():
            c.sh("apt-get install -y -q /root/ralto-update.deb")
            self.assertEqual(c.sh("systemctl list-units --all --no-legend 'ralto-update*'\n"
                                  "find /etc/systemd /etc/cron.d -type l -name 'ralto-update*'"), "")
            until(lambda: c.run("python3", "-c", "import sys, urllib.request; urllib.request."
                                "urlopen('http://127.0.0.1:8245/_control', sys.argv[1].encode())",
                                json.dumps({"account": f"myuser:{PASSWORD}:{TIMER},{CRON}"})
                                ).returncode == 0, 30, "the local service")

        def cron_host():
            # Before the timer first runs: the user of the cron recipe must not capture it.
            c.sh("useradd --system --no-create-home --shell /usr/sbin/nologin ralto-update\n"
                 f"install -d -o ralto-update -g ralto-update -m 700 /{CRON_STATE}\n"
                 "install -d -g ralto-update -m 750 /etc/ralto-update-cron\n"
                 f"install -g ralto-update -m 640 /dev/stdin /etc/ralto-update-cron/{CRON}.conf\n"
                 "useradd --no-create-home --groups adm reader",
                 input=host_file((examples / "host.conf").read_text(), {"HOST": CRON, **account}))
            cron_uid.append((self.root / CRON_STATE).stat().st_uid)
            line = (examples / "ralto-update.cron").read_text().replace("myhost.example.org", CRON)
            (self.root / "etc/cron.d/ralto-update").write_text(line.replace("*/5 ", "* "))

        def timer_pass():
            c.sh(f"install -d -m 700 /etc/ralto-update\n"
                 f"install -m 600 /dev/stdin /etc/ralto-update/{TIMER}.conf\n"
                 f"systemctl enable --now ralto-update@{TIMER}.timer",
                 input=host_file((examples / "host.conf").read_text(), {"HOST": TIMER, **account}))
            ran = until(lambda: self.finished(unit), 60, "the timer's first pass")
            self.assertEqual((ran["Result"], ran["ExecMainStatus"]), ("success", "0"))
            self.assertEqual([p["pass"] for p in self.requests(TIMER)], [PASSWORD])
            ((uid, _), _) = sorted(self.owners_and_modes(TIMER_STATE), key=lambda e: e[1])
            self.assertIn(uid, DYNAMIC_UIDS)
            self.assertNotEqual(uid, cron_uid[0])
            self.assertEqual(self.owners_and_modes(TIMER_STATE), {(uid, 0o600), (uid, 0o700)})
            self.assertEqual(len(list((self.root / TIMER_STATE).iterdir())), 4)

        def next_start_sends_nothing():
            c.sh(f"systemctl start {unit}")
            self.assertEqual(len(self.requests(TIMER)), 1)
            self.assertIn("Intervall kleiner 30 Minuten!", self.journal("-u", unit))

        def cron_pass():
            until(lambda: (self.root / CRON_STATE / "raltoIP.chk").exists(), 90, "a cron pass")
            self.assertEqual([p["pass"] for p in self.requests(CRON)], [PASSWORD])
            self.assertEqual(self.owners_and_modes(CRON_STATE),
                             {(cron_uid[0], 0o600), (cron_uid[0], 0o700)})

        def journal_without_password():
            everything = self.journal()
            self.assertIn(f"CMD (cd /{CRON_STATE}", everything)
            self.assertIn("MESSAGE=Alles Gut:", self.journal("-u", unit))
            for secret in (PASSWORD, "w%41rd"):
                self.assertNotIn(secret, everything)

        def reboot_keeps_timer_and_state():
            c.halt(reboot=True)
            c.boot()
            self.assertEqual(c.sh(f"systemctl is-active ralto-update@{TIMER}.timer"), "active\n")
            ran = until(lambda: self.finished(unit), 60, "the timer's pass after the reboot")
            self.assertEqual((ran["Result"], ran["ExecMainStatus"]), ("success", "0"))
            self.assertIn("Intervall kleiner 30 Minuten!", self.journal("-b", "-u", unit))
            self.assertEqual(self.requests(), [])

        for name, check in [
                ("apt installs, enabling and starting nothing", install),
                ("a cron host: a user, a folder and a host file of its own", cron_host),
                ("a timer pass: exit 0, a dynamic user, one update, the password intact, "
                 "the files 0600 in the 0700 state folder", timer_pass),
                ("the next start sends nothing", next_start_sends_nothing),
                ("a cron pass: one update, the password intact, the files its user's", cron_pass),
                ("boxes and cron's lines in the journal, the password in no field (read as a "
                 "member of adm)", journal_without_password),
                ("after a reboot the timer is active and finds its state",
                 reboot_keeps_timer_and_state)]:
            with self.subTest(name):
                check()


if __name__ == "__main__":
    unittest.main()
