"""The Debian package of the release preset: built, listed, unpacked, run once against the
local service, linted, and its systemd units verified; and when the static libcurl the lean and
Windows builds link is built again. Run inside a loopback-only namespace.
"""

import os
import re
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from service import Service  # noqa: E402

# The release preset in a folder of its own, whatever build-release/ was configured with: the
# package of endpoints under a test name, which the local service answers through http_proxy
# here and under that name in the booted container (test_boot.py).
BUILD = ROOT / "build-package"
ENDPOINTS = ("-DRALTO_IP_QUERY_URL=http://dyndns.ralto.test:8245/ipCheck.php",
             "-DRALTO_UPDATE_BASE=dyndns.ralto.test:8245/nic/update")
CONTENTS = {
    "./usr/bin/ralto-update": "-rwxr-xr-x",
    "./usr/lib/systemd/system/ralto-update@.service": "-rw-r--r--",
    "./usr/lib/systemd/system/ralto-update@.timer": "-rw-r--r--",
    "./usr/share/doc/ralto-update/README.md": "-rw-r--r--",
    "./usr/share/doc/ralto-update/changelog.Debian.gz": "-rw-r--r--",
    "./usr/share/doc/ralto-update/copyright": "-rw-r--r--",
    "./usr/share/doc/ralto-update/docs/BEHAVIOUR.md": "-rw-r--r--",
    "./usr/share/doc/ralto-update/examples/host.conf": "-rw-r--r--",
    "./usr/share/doc/ralto-update/examples/ralto-update.cron": "-rw-r--r--",
    "./usr/share/lintian/overrides/ralto-update": "-rw-r--r--",
    "./usr/share/man/man1/ralto-update.1.gz": "-rw-r--r--",
}


def run(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def build_package():
    """Builds the package afresh; returns its path."""
    for old in BUILD.glob("*.deb"):
        old.unlink()
    for step in (["cmake", "--preset", "release", "-B", str(BUILD), *ENDPOINTS],
                 ["cmake", "--build", str(BUILD), "-j", str(os.cpu_count()),
                  "--target", "package"]):
        built = run(*step, cwd=ROOT)
        if built.returncode != 0:
            raise RuntimeError(built.stdout + built.stderr)
    (deb,) = BUILD.glob("ralto-update_*.deb")
    return deb


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.deb = build_package()
        cls.temp = tempfile.TemporaryDirectory(prefix="ralto-package-")
        cls.tree = Path(cls.temp.name) / "tree"
        subprocess.run(["dpkg-deb", "-x", str(cls.deb), str(cls.tree)], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.temp.cleanup()

    def field(self, name):
        return run("dpkg-deb", "-f", str(self.deb), name).stdout.strip()

    def test_contents_modes_owners_and_versions(self):
        listing = run("dpkg-deb", "--contents", str(self.deb)).stdout.splitlines()
        files = {}
        for line in listing:
            mode, owner, _, _, _, path = line.split()
            self.assertEqual(owner, "root/root", path)
            if not mode.startswith("d"):
                files[path] = mode
        self.assertEqual(files, CONTENTS)
        version = self.field("Version")
        upstream = version.rsplit("-", 1)[0]
        man = run("zcat", str(self.tree / "usr/share/man/man1/ralto-update.1.gz")).stdout
        self.assertIn(f'"ralto-update {upstream}"', man.splitlines()[0])
        changelog = run("zcat", str(self.tree / "usr/share/doc/ralto-update/changelog.Debian.gz"))
        self.assertTrue(changelog.stdout.startswith(f"ralto-update ({version}) "))
        # What dpkg-shlibdeps finds (libc6's version is the build's), libcurl4 once and raised.
        depends = self.field("Depends").split(", ")
        self.assertEqual([entry.split()[0] for entry in depends], ["libc6", "libcurl4"])
        self.assertEqual(depends[1], "libcurl4 (>= 7.85.0)")
        described = run("file", str(self.tree / "usr/bin/ralto-update")).stdout
        self.assertEqual(described.rstrip().rsplit(", ", 1)[-1], "stripped")

    def test_unpacked_program_runs_a_pass(self):
        with Service() as svc, tempfile.TemporaryDirectory() as folder:
            env = dict(os.environ, **svc.proxy_env())
            ran = run(str(self.tree / "usr/bin/ralto-update"),
                      "demo.example.net", "demo", "demo-pass", "verbose", cwd=folder, env=env)
            self.assertEqual((ran.returncode, ran.stderr), (0, "Alles Gut:\ngood 203.0.113.7\n\n"))
            self.assertEqual([r["path"] for r in svc.requests()], ["/ipCheck.php", "/nic/update"])

    def test_lintian_finds_no_error_or_warning(self):
        linted = run("lintian", "--allow-root", "--fail-on", "error,warning", str(self.deb))
        self.assertEqual(linted.returncode, 0, linted.stdout + linted.stderr)

    def test_units_run_the_installed_program_with_the_example_variables_and_verify(self):
        units = self.tree / "usr/lib/systemd/system"
        service = (units / "ralto-update@.service").read_text()
        exec_start = re.search(r"^ExecStart=.*", service, re.MULTILINE).group()
        self.assertTrue(exec_start.startswith("ExecStart=/usr/bin/ralto-update "), exec_start)
        example = (self.tree / "usr/share/doc/ralto-update/examples/host.conf").read_text()
        self.assertEqual(re.findall(r"\$\{(\w+)\}", exec_start),
                         re.findall(r"^(\w+)=", example, re.MULTILINE))
        copy = Path(self.temp.name) / "units"
        copy.mkdir()
        (copy / "ralto-update@.service").write_text(
            service.replace("ExecStart=/usr/bin/", f"ExecStart={self.tree}/usr/bin/"))
        (copy / "ralto-update@.timer").write_text((units / "ralto-update@.timer").read_text())
        # verify reports what it ignores (an unknown setting, a bad value) but still succeeds.
        verified = run("systemd-analyze", "verify", "--man=no",
                       str(copy / "ralto-update@example.service"),
                       str(copy / "ralto-update@example.timer"))
        self.assertEqual((verified.returncode, verified.stdout + verified.stderr), (0, ""))


class LibcurlRebuild(unittest.TestCase):
    def test_a_newer_source_or_a_changed_option_gives_a_new_stamp(self):
        # curl_build with the apt index's answer and the build itself stubbed, against a stamp
        # of 1.0 and the options as they are: kept while the index offers 1.0 or nothing, built
        # again once it offers a newer source, or once the shared set changes.
        script = ('. scripts/lib/setup.sh && . scripts/lib/curl-source.sh && '
                  'curl_source_index_version() { echo "$index"; } && quietly() { echo build; } && '
                  'curl_build_stamp 1.0 TLS "${curl_http_only_options[@]}" -x >"$0/build.stamp" && '
                  'for index in 1.0 ""; do curl_build test "$0" TLS -x && echo kept; done && '
                  'index=1.1 && curl_build test "$0" TLS -x && index=1.0 && '
                  'curl_http_only_options+=(-y) && curl_build test "$0" TLS -x')
        with tempfile.TemporaryDirectory() as prefix:
            ran = run("bash", "-c", script, prefix, cwd=ROOT).stdout
        self.assertEqual(ran.splitlines(),
                         ["kept", "kept", "test: building libcurl 1.1 (TLS) once", "build",
                          "test: building libcurl 1.0 (TLS) once", "build"])

if __name__ == "__main__":
    unittest.main()
