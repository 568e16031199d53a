"""Hostile clients against both servers: symbolic links out of the root, bounced and stolen data
connections, passwords and forged fields in the logs, password guessing and connection floods."""

import glob
import os
import select
import shutil
import socket
import ssl
import tempfile
import time
import unittest

from harness import BaseSiteServer, RawClient
from orvex_support import OrvexSite
from transfer_support import active_listener, connect_data, final_code, pasv, recv_all
from vantor_support import Vantor

DENIED = "550 {}: Permission denied."


def make_links(root, outside):
    """A link to the host's root, one to a directory and one to a file outside, one inside."""
    os.makedirs(outside, exist_ok=True)
    with open(os.path.join(outside, "secret"), "w") as f:
        f.write("outside\n")
    os.makedirs(os.path.join(root, "pub"), exist_ok=True)
    with open(os.path.join(root, "pub", "f.txt"), "w") as f:
        f.write("inside\n")
    os.symlink("/", os.path.join(root, "rootlink"))
    os.symlink(outside, os.path.join(root, "outlink"))
    os.symlink(os.path.join(outside, "secret"), os.path.join(root, "filelink"))
    os.symlink("pub", os.path.join(root, "inlink"))


def walk_links(test, c, outside):
    """Every verb that takes a path, through links that leave the root and one that does not."""
    for cmd, path in [("RETR", "rootlink/etc/hostname"), ("RETR", "filelink"),
                      ("RETR", "outlink/secret"), ("LIST", "rootlink/etc"),
                      ("NLST", "outlink"), ("MDTM", "outlink/secret"), ("DELE", "outlink/secret"),
                      ("STOR", "outlink/new"), ("MKD", "outlink/newdir"),
                      ("RNFR", "outlink/secret"), ("RMD", "rootlink/tmp"),
                      ("STAT", "rootlink/etc")]:
        test.assertEqual(c.cmd(f"{cmd} {path}"), DENIED.format(path), cmd)
    test.assertEqual(c.cmd("CWD rootlink/etc"), DENIED.format("rootlink/etc/"))
    test.assertEqual(c.cmd("CWD outlink"), DENIED.format("outlink/"))
    test.assertEqual(c.cmd("SIZE outlink/secret"), "550 ERROR: unable to set file path.")
    test.assertEqual(c.cmd("RNFR pub/f.txt"), "350 File exists, ready for destination name.")
    test.assertEqual(c.cmd("RNTO outlink/moved"), DENIED.format("outlink/moved"))
    test.assertEqual(sorted(os.listdir(outside)), ["secret"])
    # A link that stays inside keeps working.
    test.assertEqual(c.cmd("SIZE inlink/f.txt"), "213 7")
    d = connect_data(pasv(c))
    c.send("RETR inlink/f.txt\r\n")
    test.assertEqual(final_code(c), "150")
    test.assertEqual(recv_all(d), b"inside\r\n")
    test.assertEqual(final_code(c), "226")


def wait_for_lines(path_glob, wanted, timeout=15):
    """The lines of the files matching `path_glob` once each text in `wanted` is in one."""
    deadline = time.monotonic() + timeout
    while True:
        lines = []
        for path in glob.glob(path_glob):
            with open(path, "rb") as f:
                lines += f.read().decode("latin-1").splitlines()
        if all(any(w in l for l in lines) for w in wanted) or time.monotonic() > deadline:
            return lines
        time.sleep(0.3)


class VantorSecurity(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvex-e2e-")
        cls.root = os.path.join(cls.tmp, "root")
        cls.outside = os.path.join(cls.tmp, "outside")
        cls.logs = os.path.join(cls.tmp, "logs")
        os.makedirs(cls.logs)
        make_links(cls.root, cls.outside)
        cls.server = Vantor(["-Ubob", "-Psecret", f"-H{cls.root}", f"-L4:{cls.logs}"], cls.tmp,
                            quiet=True)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def connect(self, source=None):
        c = RawClient(self.server.port, timeout=20)
        if source:
            c.sock.close()
            c.sock = socket.create_connection(("127.0.0.1", self.server.port), timeout=20,
                                              source_address=(source, 0))
        self.addCleanup(c.close)
        self.assertEqual(c.reply(), ["220 Connected to Vantor"])
        return c

    def login(self):
        c = self.connect()
        c.cmd("USER bob")
        self.assertEqual(c.cmd("PASS secret"), "230 User bob logged in.")
        return c

    def test_links_never_lead_out_of_the_root(self):
        walk_links(self, self.login(), self.outside)

    def test_data_connections_stay_with_the_client(self):
        c = self.login()
        for arg in ("0,0,0,0,200,1", "127,0,0,1,0,0", "127,0,0,1,0,21", "127,0,0,1,4,0"):
            self.assertEqual(c.cmd(f"PORT {arg}"), "500 Invalid PORT command.", arg)
        self.assertEqual(c.cmd("PORT 127,0,0,1,4,1"), "200 PORT command successful.")
        # A third host is never contacted, and nobody else may pick up a passive transfer.
        ls = active_listener(c, host="127.0.0.2")
        self.assertEqual(c.cmd("RETR pub/f.txt"), "426 Can't open data connection")
        self.assertEqual(select.select([ls], [], [], 1.0)[0], [])
        ls.close()
        d = connect_data(pasv(c), source="127.0.0.2")
        self.assertEqual(c.cmd("RETR pub/f.txt"), "426 Can't open data connection")
        d.close()

    def test_logs_hold_no_password_and_no_forged_field(self):
        c = self.connect()
        self.assertEqual(c.cmd("PASS BeforeUser1"), "530 Please login with USER and PASS.")
        c.cmd("USER bob")
        self.assertEqual(c.cmd("PASS wrong"), "530 User bob cannot login.")
        self.assertEqual(c.cmd("PASS AfterFailure2"), "530 Please login with USER and PASS.")
        c.cmd("USER a;10.9.8.7;2221;10.9.8.7;1234;root")
        c.send(b"\x16\x03\x01\x02\xa5\x01\xff;\xfe\r\n")
        c.reply()
        c.cmd("QUIT")
        lines = wait_for_lines(os.path.join(self.logs, "*_access.log"),
                               ["a\\x3b10.9.8.7", "\\x16\\x03\\x01"])
        self.assertTrue(any("a\\x3b10.9.8.7\\x3b2221" in l for l in lines), lines)
        self.assertTrue(any("\\x16\\x03\\x01\\x02\\xa5\\x01\\xff\\x3b\\xfe" in l
                            for l in lines), lines)
        for line in lines:
            self.assertEqual(line.count(";"), 9, line)
            self.assertTrue(all(" " <= ch <= "~" for ch in line), line)
            self.assertNotIn("BeforeUser1", line)
            self.assertNotIn("AfterFailure2", line)
            self.assertNotIn("wrong", line)

    def test_three_failed_logins_end_the_connection(self):
        c = self.connect()
        for attempt in range(3):
            c.cmd("USER bob")
            self.assertEqual(c.cmd(f"PASS guess{attempt}"), "530 User bob cannot login.")
        self.assertEqual(c.reply(), ["421 Too many failed logins, closing control connection."])
        self.assertEqual(c.sock.recv(10), b"")

    def test_connections_waiting_to_log_in_are_capped_per_address(self):
        waiting = [self.connect() for _ in range(32)]
        late = socket.create_connection(("127.0.0.1", self.server.port), timeout=20)
        self.assertEqual(late.recv(100), b"421 Too many connections from your address.\r\n")
        late.close()
        # Another address still gets in, and a login gives its place back.
        other = self.connect(source="127.0.0.2")
        other.cmd("USER bob")
        waiting[0].cmd("USER bob")
        self.assertEqual(waiting[0].cmd("PASS secret"), "230 User bob logged in.")
        deadline = time.monotonic() + 10
        while True:
            s = socket.create_connection(("127.0.0.1", self.server.port), timeout=20)
            greeting = s.recv(100)
            s.close()
            if greeting.startswith(b"220 ") or time.monotonic() > deadline:
                break
            time.sleep(0.2)
        self.assertTrue(greeting.startswith(b"220 "), greeting)
        for c in waiting[1:] + [other]:
            c.close()


class OrvexSecurity(unittest.TestCase):
    """The shipped site: FXP and service ports refused, links out of its root refused."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvex-e2e-")
        cls.site = OrvexSite(cls.tmp)
        cls.site.set_password("orvex", "Adm1nPass")
        cls.outside = os.path.join(cls.tmp, "outside")
        make_links(cls.site.path("site"), cls.outside)
        cls.server = cls.site.start()
        cls.port = cls.server.ready()

    @classmethod
    def tearDownClass(cls):
        cls.server.kill()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def connect(self):
        c = RawClient(self.port, timeout=20)
        self.addCleanup(c.close)
        c.reply()
        return c

    def login(self):
        c = self.connect()
        c.cmd("USER orvex")
        c.send("PASS Adm1nPass\r\n")
        self.assertEqual(c.reply()[-1], "230 User orvex logged in.")
        return c

    def test_links_and_foreign_data_connections(self):
        c = self.login()
        walk_links(self, c, self.outside)
        d = connect_data(pasv(c), source="127.0.0.2")
        self.assertEqual(c.cmd("RETR pub/f.txt"), "426 Can't open data connection")
        d.close()

    def test_service_ports_only_when_the_site_allows_them(self):
        c = self.login()
        self.assertEqual(c.cmd("PORT 127,0,0,1,3,232"), "500 Invalid PORT command.")
        self.site.set_conf(allow_service_ports="1")
        deadline = time.monotonic() + 15
        while c.cmd("PORT 127,0,0,1,3,232") != "200 PORT command successful.":
            self.assertLess(time.monotonic(), deadline, "the new setting was never read")
            time.sleep(0.5)
        self.assertEqual(c.cmd("PORT 127,0,0,1,0,0"), "500 Invalid PORT command.")
        self.site.set_conf(allow_service_ports="0")

    def test_three_failed_logins_end_the_connection(self):
        c = self.connect()
        for attempt in range(3):
            c.cmd("USER orvex")
            c.send(f"PASS guess{attempt}\r\n")
            self.assertEqual(c.reply()[-1], "530 User orvex cannot login.")
        self.assertEqual(c.reply(), ["421 Too many failed logins, closing control connection."])


class LoginDeadlineAndTotalCap(unittest.TestCase):
    """The engine's limits, made small: two waiting connections per address, three in all."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvex-e2e-")
        cls.server = BaseSiteServer(cls.tmp, extra=["--max-pending", "2:3", "--login-timeout", "3"])

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def greeting(self, source):
        s = socket.create_connection(("127.0.0.1", self.server.port), timeout=20,
                                     source_address=(source, 0))
        self.addCleanup(s.close)
        return s, s.recv(100).decode()

    def test_caps_and_the_deadline(self):
        start = time.monotonic()
        waiting = []
        for source, text in (("127.0.0.1", "220 "), ("127.0.0.1", "220 "),
                             ("127.0.0.1", "421 Too many connections from your address.\r\n"),
                             ("127.0.0.2", "220 "), ("127.0.0.3", "421 Too many connections.\r\n")):
            s, got = self.greeting(source)
            self.assertTrue(got.startswith(text), (source, got))
            if text == "220 ":
                waiting.append(s)
        # Nobody logs in: each waiting connection is closed at its deadline.
        for s in waiting:
            s.settimeout(10)
            self.assertEqual(s.recv(100), b"421 Login timed out, closing control connection.\r\n")
            self.assertEqual(s.recv(100), b"")
        self.assertGreater(time.monotonic() - start, 2.5)
        # Their places are free again, and a logged-in session has no deadline.
        c = RawClient(self.server.port)
        self.addCleanup(c.close)
        self.assertTrue(c.reply()[-1].startswith("220 "))
        c.cmd("USER bob")
        self.assertEqual(c.cmd("PASS x"), "230 User bob logged in.")
        time.sleep(4)
        self.assertEqual(c.cmd("NOOP"), "200 NOOP command successful.")


if __name__ == "__main__":
    unittest.main()
