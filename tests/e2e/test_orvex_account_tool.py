"""Accounts from the shell while the server runs: orvex-passwd's add and password modes, many runs
of it at the same moment, hand edits of a user file made under its lock while the user logs in,
and the temporary files that killed writers left behind."""

import fcntl
import os
import re
import shutil
import subprocess
import tempfile
import threading
import unittest

from harness import RawClient, binary
from orvex_support import OrvexSite

ADMIN_PASSWORD = "Adm1nPass"


def ended_pid():
    """A process id that no process has now."""
    child = subprocess.Popen(["true"])
    child.wait()
    return child.pid


class AccountTool(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvex-e2e-")
        cls.site = OrvexSite(cls.tmp)
        cls.site.set_password("orvex", ADMIN_PASSWORD)
        # After rootpath, which the site's copy of the configuration moved to the end.
        cls.site.set_conf(default_homedir="./site/")
        dead = ended_pid()
        cls.stale = [f"etc/.passwd.{dead}.0", f"ftp-data/users/.orvex.{dead}.7"]
        cls.kept = [f"etc/.group.{os.getppid()}.1", "etc/.passwd.lock", f"etc/passwd.{dead}.0"]
        for rel in cls.stale + cls.kept:
            with open(cls.site.path(rel), "w") as f:
                f.write("GENERAL 0 0 0 0\n")
        cls.server = cls.site.start()
        cls.port = cls.server.ready()

    @classmethod
    def tearDownClass(cls):
        cls.server.kill()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def tool(self, *args, stdin=None):
        return subprocess.run([binary("orvex-passwd"), *args], input=stdin, capture_output=True,
                              text=True, timeout=60)

    def add(self, user, password, *options):
        r = self.tool("-a", *options, self.site.root, user, password)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout

    def login(self, user, password):
        """The last line of the PASS reply; a logged-in session is ended with QUIT, so that what
        the login records is on disk when this returns."""
        client = RawClient(self.port, timeout=20)
        try:
            client.reply()
            self.assertEqual(client.cmd(f"USER {user}"), f"331 Password required for {user}.")
            client.send(f"PASS {password}\r\n")
            last = client.reply()[-1]
            if last.startswith("230"):
                self.assertTrue(client.cmd("QUIT").startswith("221"))
            return last
        finally:
            client.close()

    def user_field(self, user, key):
        for line in self.site.read(f"ftp-data/users/{user}").splitlines():
            if line.startswith(key + " "):
                return line[len(key) + 1:]
        return None

    def test_added_accounts_log_in_at_once(self):
        self.assertEqual(self.add("bob", "Secret1"), "User bob added.\n")
        self.assertEqual(self.login("bob", "Secret1"), "230 User bob logged in.")
        self.assertEqual(self.user_field("bob", "GROUP"), "users")
        self.assertEqual(self.user_field("bob", "CREDITS"), "15360")  # from default.user

        # Into a group, its name in any case, the password on standard input.
        r = self.tool("-a", "-g", "SiteOps", self.site.root, "carol", stdin="Secret2\n")
        self.assertEqual((r.returncode, r.stdout), (0, "User carol added to siteops.\n"), r.stderr)
        self.assertEqual(self.login("carol", "Secret2"), "230 User carol logged in.")
        self.assertEqual(self.user_field("carol", "GROUP"), "siteops")
        carol = [line for line in self.site.read("etc/passwd").splitlines()
                 if line.startswith("carol;")]
        self.assertEqual(len(carol), 1)
        self.assertEqual(carol[0].split(";")[3:], ["101", carol[0].split(";")[4], "./site/"])

        refused = [
            (("-a", "ROOT", "bob", "x"), 1, "user 'bob' already exists"),
            (("-a", "ROOT", "BOB", "x"), 1, "user 'BOB' already exists"),
            (("-a", "ROOT", "orvex", "x"), 1, "user 'orvex' already exists"),
            (("-a", "ROOT", "9lives", "x"), 1, "'9lives' is no valid user name"),
            (("-a", "ROOT", "a" * 17, "x"), 1, "is no valid user name"),
            (("-a", "ROOT", "../dan", "x"), 1, "is no valid user name"),
            (("-a", "-g", "nogroup", "ROOT", "dan", "x"), 1, "no group 'nogroup' in "),
            (("-a", "ROOT", "dan", "x" * 17), 2, "a password has at most 16 characters"),
            (("-a", "ROOT", "dan", ""), 1, "a new account needs a password"),
            (("-g", "users", "ROOT", "dan", "x"), 2, "usage:"),
            (("-a", "ROOT"), 2, "usage:"),
            (("ROOT", "nobody", "x"), 1, "no account 'nobody' in "),
        ]
        users_before = sorted(os.listdir(self.site.path("ftp-data/users")))
        passwd_before = self.site.read("etc/passwd")
        for args, code, message in refused:
            with self.subTest(args=args):
                r = self.tool(*[self.site.root if a == "ROOT" else a for a in args])
                self.assertEqual(r.returncode, code, r.stderr)
                self.assertIn(message, r.stderr)
                self.assertEqual(r.stdout, "")
        self.assertEqual(sorted(os.listdir(self.site.path("ftp-data/users"))), users_before)
        self.assertEqual(self.site.read("etc/passwd"), passwd_before)

        # A configuration that names another root is not trusted with the files, nor one without
        # a home for new accounts.
        copy = os.path.join(self.tmp, "copy")
        shutil.copytree(self.site.path("etc"), os.path.join(copy, "etc"))
        r = self.tool("-a", copy, "dan", "x")
        self.assertEqual(r.returncode, 1)
        self.assertIn(f"names the root {self.site.root}/, not {copy}/", r.stderr)
        other = OrvexSite(os.path.join(self.tmp, "other"))
        r = self.tool("-a", other.root, "dan", "x")
        self.assertEqual(r.returncode, 1)
        self.assertIn("gives no existing default_homedir for new accounts", r.stderr)

        # The password mode on the running server.
        r = self.tool(self.site.root, "bob", "Changed3")
        self.assertEqual((r.returncode, r.stdout), (0, "Password of bob changed.\n"), r.stderr)
        self.assertEqual(self.login("bob", "Changed3"), "230 User bob logged in.")

    def test_runs_at_the_same_moment_keep_every_change(self):
        existing = [f"old{i}" for i in range(6)]
        for name in existing:
            self.add(name, "first")
        for round_ in range(2):
            added = [f"new{round_}x{i}" for i in range(6)]
            runs = [subprocess.Popen([binary("orvex-passwd"), "-a", self.site.root, name, "pw"],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                    for name in added]
            runs += [subprocess.Popen([binary("orvex-passwd"), self.site.root, name,
                                       f"second{round_}"],
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                     for name in existing]
            for run in runs:
                _, err = run.communicate(timeout=60)
                self.assertEqual(run.returncode, 0, err)
            names = [line.split(";")[0] for line in self.site.read("etc/passwd").splitlines()
                     if not line.startswith("#")]
            for name in added + existing:
                self.assertEqual(names.count(name), 1, names)
            for name in added:
                self.assertEqual(self.login(name, "pw"), f"230 User {name} logged in.")
            for name in existing:
                self.assertEqual(self.login(name, f"second{round_}"),
                                 f"230 User {name} logged in.")

    def test_hand_edits_under_the_lock_survive_logins(self):
        self.add("eve", "evepw")
        path = self.site.path("ftp-data/users/eve")
        lock = self.site.path("ftp-data/users/.eve.lock")
        logins = 15
        failures = []

        def log_in_repeatedly():
            for _ in range(logins):
                reply = self.login("eve", "evepw")
                if reply != "230 User eve logged in.":
                    failures.append(reply)

        worker = threading.Thread(target=log_in_repeatedly)
        worker.start()
        edits = 0
        while worker.is_alive() or edits < 5:
            edits += 1
            # What an operator's `flock .eve.lock -c 'sed -i ... eve'` does: read and write the
            # file in place while holding the lock.
            with open(lock) as held:
                fcntl.flock(held, fcntl.LOCK_EX)
                with open(path, "r+") as f:
                    text = re.sub(r"(?m)^TAGLINE .*$", f"TAGLINE edit {edits}", f.read())
                    f.seek(0)
                    f.write(text)
                    f.truncate()
        worker.join()
        self.assertEqual(failures, [])
        self.assertEqual(self.user_field("eve", "TAGLINE"), f"edit {edits}")
        self.assertEqual(self.user_field("eve", "TIME").split()[0], str(logins))

    def test_stale_temporary_files_were_removed_at_start_up(self):
        for rel in self.stale:
            self.assertFalse(os.path.exists(self.site.path(rel)), rel)
        for rel in self.kept:
            self.assertTrue(os.path.exists(self.site.path(rel)), rel)
        removed = [m for m in self.server.messages() if m.startswith("Removed ")]
        self.assertEqual(len(removed), 2, removed)
        for line, folder in zip(removed, ("etc", "users")):
            self.assertRegex(line, rf"^Removed 1 unfinished temporary file\(s\) in '.*{folder}.'\.$")


if __name__ == "__main__":
    unittest.main()
