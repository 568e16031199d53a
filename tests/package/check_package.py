"""The Debian package: made from the programs already built, lintian finds no error in it, and
as root it installs, serves its first site from the installed layout, keeps that site when
installed again, and leaves nothing behind when purged."""
import ftplib
import os
import pwd
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

SOURCE = os.environ["ORVEX_SOURCE_DIR"]
BUILD = os.environ["ORVEX_BUILD_DIR"]
APT_LOCK = ["-o", "DPkg::Lock::Timeout=300"]
LEFT_BEHIND = ["/etc/orvex", "/var/lib/orvex", "/var/log/orvex", "/usr/share/orvex",
               "/usr/sbin/orvex", "/usr/sbin/vantor", "/etc/fail2ban/filter.d/orvex.conf"]


def run(*argv, timeout=600):
    return subprocess.run(argv, capture_output=True, text=True, timeout=timeout)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def installed(package):
    return "install ok installed" in run("dpkg-query", "-W", "-f=${Status}", package).stdout


def set_key(conf, key, value):
    with open(conf, encoding="utf-8") as f:
        lines = [l for l in f.read().splitlines() if not l.lstrip("#").startswith(key + " ")]
    with open(conf, "w", encoding="utf-8") as f:
        f.write("\n".join(lines + ["%s %s" % (key, value)]) + "\n")


@unittest.skipUnless(shutil.which("dpkg-buildpackage") and shutil.which("lintian"),
                     "debhelper or lintian is not installed (scripts/install-deps)")
class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.mkdtemp(prefix="orvex-deb-")
        made = run(os.path.join(SOURCE, "scripts", "make-deb"), BUILD, cls.out)
        assert made.returncode == 0, made.stderr
        cls.deb = made.stdout.split()[-1]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.out, ignore_errors=True)

    def test_lintian_finds_no_error(self):
        lint = run("lintian", "--fail-on", "error", self.deb)
        self.assertEqual(lint.returncode, 0, lint.stdout + lint.stderr)
        contents = run("dpkg-deb", "-c", self.deb).stdout
        for path in ["./usr/sbin/orvex", "./usr/sbin/vantor", "./usr/sbin/orvex-passwd",
                     "./usr/sbin/orvex-keys", "./etc/orvex/orvex.conf",
                     "./usr/share/orvex/help/site.nuke", "./usr/share/man/man5/orvex.conf.5.gz",
                     "./etc/fail2ban/filter.d/orvex.conf", "/systemd/system/orvex.service"]:
            self.assertIn(path, contents)
        conffiles = run("dpkg-deb", "-I", self.deb, "conffiles").stdout.split()
        self.assertEqual(sorted(conffiles), ["/etc/fail2ban/filter.d/orvex.conf",
                                             "/etc/orvex/cert.conf", "/etc/orvex/orvex.conf"])

    def test_install_serve_and_purge(self):
        if os.geteuid() != 0:
            self.skipTest("installing the package needs root")
        if installed("orvex"):
            self.skipTest("orvex is installed on this machine already; not touching it")
        try:
            self.install()
            self.check_first_site()
            with open("/etc/orvex/initial-password", encoding="utf-8") as f:
                first = f.read()
            self.serve_and_log_in(first.split()[1])
            self.install()  # again: the site stays as it is
            with open("/etc/orvex/initial-password", encoding="utf-8") as f:
                self.assertEqual(f.read(), first)
        finally:
            purge = run("apt-get", "purge", "-y", *APT_LOCK, "orvex")
        self.assertEqual(purge.returncode, 0, purge.stderr)
        self.assertEqual([p for p in LEFT_BEHIND if os.path.lexists(p)], [])
        self.assertRaises(KeyError, pwd.getpwnam, "orvex")

    def install(self):
        got = run("apt-get", "install", "-y", "--reinstall", *APT_LOCK, self.deb)
        self.assertEqual(got.returncode, 0, got.stdout + got.stderr)

    def check_first_site(self):
        st = os.stat("/etc/orvex/initial-password")
        self.assertEqual((st.st_uid, st.st_mode & 0o777), (0, 0o600))
        self.assertEqual(os.readlink("/var/lib/orvex/etc"), "/etc/orvex")
        self.assertTrue(os.path.isfile("/var/lib/orvex/keys/cert.pem"))
        self.assertEqual(pwd.getpwuid(os.stat("/var/lib/orvex/fs").st_uid).pw_name, "orvex")

    def serve_and_log_in(self, password):
        port = free_port()
        conf = "/etc/orvex/orvex.conf"
        set_key(conf, "server_port", port)
        set_key(conf, "server_sslport", 0)
        set_key(conf, "bind_ip", "127.0.0.1")
        server = subprocess.Popen(["runuser", "-u", "orvex", "--", "/usr/sbin/orvex", "-d"],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, start_new_session=True)
        try:
            deadline = time.monotonic() + 60
            while True:
                try:
                    ftp = ftplib.FTP()
                    ftp.connect("127.0.0.1", port, timeout=10)
                    break
                except OSError:
                    self.assertIsNone(server.poll(), "orvex -d ended")
                    self.assertLess(time.monotonic(), deadline, "orvex -d never listened")
                    time.sleep(0.2)
            self.assertTrue(ftp.login("orvex", password).startswith("230"))
            self.assertIn("Usage: SITE NUKE", ftp.sendcmd("SITE HELP NUKE"))
            ftp.mkd("uploads")
            self.assertIn("uploads", ftp.nlst())
            ftp.quit()
        finally:
            os.killpg(server.pid, signal.SIGTERM)
            server.communicate(timeout=60)
        self.assertIn("orvex.log", os.listdir("/var/log/orvex"))


if __name__ == "__main__":
    unittest.main()
