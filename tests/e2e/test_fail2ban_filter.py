"""The fail2ban filter in dist/ against the access log the server really writes: it matches every
refused password (with the client's address, whatever user name was typed) and nothing the server
writes for other commands."""

import configparser
import ftplib
import glob
import os
import re
import shutil
import tempfile
import threading
import time
import unittest

from harness import RawClient
from orvex_support import DIST, OrvexSite

FILTER = os.path.join(DIST, "fail2ban", "filter.d", "orvex.conf")
# What fail2ban puts in place of <HOST> for an address or a name.
HOST = r"(?:::f{4,6}:)?(?P<host>[\w\-.^_:]*\w)"
PASSWORD = "Adm1nPass"
HOSTILE_USER = "x;PASS;;530;User x cannot login"


def load_filter():
    conf = configparser.ConfigParser(interpolation=configparser.BasicInterpolation())
    conf.read(FILTER)
    failregex = re.compile(conf.get("Definition", "failregex").replace("<HOST>", HOST))
    ignore = conf.get("Definition", "ignoreregex").strip()
    return failregex, ignore, conf.get("Init", "datepattern")


class Fail2banFilter(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvex-e2e-")
        cls.site = OrvexSite(cls.tmp)
        cls.site.set_password("orvex", PASSWORD)
        cls.site.set_conf(default_homedir="./site/")
        cls.server = cls.site.start()
        cls.port = cls.server.ready()

    @classmethod
    def tearDownClass(cls):
        cls.server.kill()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def refused(self, user_verb, user, pass_verb, password):
        client = RawClient(self.port, timeout=20)
        try:
            client.reply()
            client.cmd(f"{user_verb} {user}")
            client.send(f"{pass_verb} {password}\r\n")
            # USER takes its first word as the name.
            name = user.split()[0]
            self.assertEqual(client.reply()[-1], f"530 User {name} cannot login.")
        finally:
            client.close()

    def walk_commands(self):
        """A logged-in session through the usual commands, with their failures."""
        before = RawClient(self.port, timeout=20)
        before.reply()
        self.assertEqual(before.cmd("LIST"), "530 Please login with USER and PASS.")
        before.close()
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", self.port, timeout=20)
        ftp.login("orvex", PASSWORD)
        ftp.pwd()
        ftp.mkd("made")
        ftp.cwd("made")
        ftp.nlst()
        ftp.cwd("/")
        ftp.rmd("made")
        for command in ("SYST", "STAT", "NOOP", "TYPE I", "SIZE nothing", "RETR nothing",
                        "DELE nothing", "SITE HELP", "XYZZY"):
            try:
                ftp.sendcmd(command)
            except ftplib.Error:
                pass
        ftp.quit()

    def test_refused_passwords_and_nothing_else(self):
        attempts = [("USER", "orvex", "PASS", "wrong"), ("USER", "nobody", "PASS", "x"),
                    ("user", "orvex", "pass", "wrong;530"), ("USER", HOSTILE_USER, "PASS", "x")]
        # Each refusal waits 3 s in its own session: side by side they wait once.
        threads = [threading.Thread(target=self.refused, args=a) for a in attempts]
        for t in threads:
            t.start()
        self.walk_commands()
        for t in threads:
            t.join()
        self.assertEqual(self.server.stop(), 0)  # the access log is written out at the stop

        lines = []
        for path in glob.glob(self.site.path("ftp-data/logs/*_access.log")):
            with open(path, errors="replace") as f:
                lines += f.read().splitlines()
        failregex, ignore, datepattern = load_filter()
        self.assertEqual(ignore, "")
        date_format = datepattern.lstrip("^")
        matched = []
        verbs = set()
        for line in lines:
            date, rest = line.split(";", 1)
            time.strptime(date, date_format)  # the filter's date pattern reads every line
            # fail2ban matches the line without its date; the filter works either way.
            found = failregex.search(";" + rest)
            self.assertEqual(bool(found), bool(failregex.search(line)), line)
            if found:
                matched.append((found.group("host"), line.split(";")[5:7]))
            else:
                verbs.add(line.split(";")[6].upper())
        self.assertEqual(sorted(matched), sorted([
            ("127.0.0.1", ["orvex", "PASS"]), ("127.0.0.1", ["nobody", "PASS"]),
            ("127.0.0.1", ["orvex", "pass"]),
            ("127.0.0.1", [HOSTILE_USER.split(" ")[0].replace(";", "\\x3b"), "PASS"])]), lines)
        # The hostile name (up to its first space) is written escaped, so it counts once and moves no address.
        self.assertTrue({"CONNECT", "DISCONNECT", "USER", "PASS", "LIST", "PWD", "MKD", "CWD", "RMD", "SYST", "STAT", "NOOP", "TYPE", "SIZE", "RETR", "DELE",
                         "SITE", "XYZZY", "QUIT"} <= verbs, verbs)


if __name__ == "__main__":
    unittest.main()
