"""vantor's users: the command-line user, the user file, interactive creation and reloads."""

import ftplib
import os
import pty
import select
import signal
import subprocess
import sys
import time
import unittest

from harness import RawClient, binary
from vantor_support import VantorCase, run_vantor

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server",
                                "accounts"))
import cipher_model  # noqa: E402


def stored(user, password):
    w = password.encode()[:16]
    return cipher_model.encrypt_to_hex(w, user.encode(), w, 16)


class UsersCase(VantorCase):
    def login(self, server, user, password):
        """The reply to PASS, and the client (logged in or not)."""
        c = RawClient(server.port, timeout=20)
        self.addCleanup(c.close)
        self.assertEqual(c.reply(), ["220 Connected to Vantor"])
        c.cmd("USER " + user)
        return c.cmd("PASS " + password), c

    def assertLogsIn(self, server, user, password, stored_as=None):
        reply, c = self.login(server, user, password)
        self.assertEqual(reply, f"230 User {stored_as or user} logged in.")
        return c

    def assertRefused(self, server, user, password):
        reply, _ = self.login(server, user, password)
        self.assertTrue(reply.startswith("530 "), reply)

    def write(self, name, text):
        path = os.path.join(self.tmp, name)
        with open(path, "w") as f:
            f.write(text)
        return path


class CommandLineUserTest(UsersCase):
    def test_user_and_password(self):
        s = self.start("-Uguest", "-Pabc")
        self.assertLogsIn(s, "guest", "abc")
        self.assertLogsIn(s, "GUEST", "abc", stored_as="guest")  # the stored spelling counts
        self.assertRefused(s, "guest", "abd")
        self.assertRefused(s, "anonymous", "abc")

    def test_password_before_user_is_keyed_with_anonymous(self):
        s = self.start("-Pabc", "-Uguest")
        self.assertRefused(s, "guest", "abc")

    def test_default_anonymous_takes_any_password_in_the_start_directory(self):
        with open(os.path.join(self.tmp, "here.txt"), "w") as f:
            f.write("x")
        s = self.start()
        for password in ("", "whatever"):
            c = self.assertLogsIn(s, "anonymous", password)
        f = ftplib.FTP()
        f.connect("127.0.0.1", s.port, timeout=20)
        self.addCleanup(f.close)
        f.login("anonymous", "me@example.com")
        self.assertIn("here.txt", f.nlst())
        self.assertRefused(s, "someone", "x")
        c.close()

    def test_home_and_permissions(self):
        home = os.path.join(self.tmp, "home")
        os.mkdir(home)
        with open(os.path.join(home, "in-home.txt"), "w") as f:
            f.write("data")
        s = self.start("-Ubob", "-Pbobpw", "-H" + home, "-Rld")
        f = ftplib.FTP()
        f.connect("127.0.0.1", s.port, timeout=20)
        self.addCleanup(f.close)
        f.login("bob", "bobpw")
        self.assertEqual(f.nlst(), ["in-home.txt"])
        with self.assertRaises(ftplib.error_perm):
            f.mkd("new")  # no 'm'
        with self.assertRaises(ftplib.error_perm):
            f.pwd()  # no 'p'
        self.assertFalse(os.path.exists(os.path.join(home, "new")))

    def test_missing_home_warns_and_keeps_the_start_directory(self):
        s = self.start("-H" + os.path.join(self.tmp, "nowhere"))
        missing = os.path.join(self.tmp, "nowhere")
        self.assertIn(f'WARNING: invalid home directory "{missing}".', s.messages())
        self.assertLogsIn(s, "anonymous", "x")


class UserFileTest(UsersCase):
    def user_file(self):
        alice_home = os.path.join(self.tmp, "alice")
        carl_home = os.path.join(self.tmp, "carl")
        os.mkdir(alice_home)
        os.mkdir(carl_home)
        missing = os.path.join(self.tmp, "missing")
        text = (
            "# users of the test\n"
            f"alice;;;{stored('alice', 'wonder')};;{alice_home};lvcpd   # reads only\n"
            "\n"
            f"ghost;{stored('ghost', 'boo')};{missing};lvcpstduoamn\n"
            f"carl\t{stored('carl', 'c4rl')}\t{carl_home}\tlvcpstduoamn\r\n"
            "short;line;only\n"
            f"ALICE;{stored('ALICE', 'other')};{carl_home};lvcpstduoamn\n"
            "#bob;x;/;l\n"
        )
        return self.write("users.cfg", text), missing

    def test_loading(self):
        path, missing = self.user_file()
        s = self.start("-f" + path, "-Ubob", "-Pbob")
        msgs = s.messages()
        self.assertIn(f"2 user(s) were loaded from the file {path}.", msgs)
        home = missing.replace("/", "\\") + "\\"
        self.assertIn(f'WARNING: invalid home directory "{home}" for user ghost.', s.lines)
        c = self.assertLogsIn(s, "alice", "wonder")
        self.assertTrue(c.cmd("MKD x").startswith("5"))  # no 'm' for alice
        self.assertLogsIn(s, "carl", "c4rl")
        self.assertRefused(s, "ALICE", "other")  # the first spelling of a name wins
        self.assertRefused(s, "ghost", "boo")
        self.assertRefused(s, "bob", "bob")  # -U is ignored with -f
        self.assertRefused(s, "anonymous", "x")

    def test_missing_file_loads_nobody(self):
        path = os.path.join(self.tmp, "none.cfg")
        s = self.start("-f" + path)
        self.assertIn(f'WARNING: unable to open file "{path}" for reading.', s.messages())
        self.assertIn(f"0 user(s) were loaded from the file {path}.", s.messages())
        self.assertRefused(s, "anonymous", "x")

    def test_default_file_name(self):
        home = os.path.join(self.tmp, "d")
        os.mkdir(home)
        self.write("vantor.cfg", f"dora;{stored('dora', 'explorer')};{home};l\n")
        s = self.start("-f")
        self.assertIn("1 user(s) were loaded from the file vantor.cfg.", s.messages())
        self.assertLogsIn(s, "dora", "explorer")

    def test_sighup_reloads_the_file(self):
        home = os.path.join(self.tmp, "h")
        os.mkdir(home)
        path = self.write("u.cfg", f"alice;{stored('alice', 'one')};{home};l\n")
        s = self.start("-f" + path)
        self.assertLogsIn(s, "alice", "one")
        self.write("u.cfg", f"dave;{stored('dave', 'two')};{home};l\n"
                            f"erin;{stored('erin', 'three')};{home};l\n")
        mark = len(s.lines)
        s.send_signal(signal.SIGHUP)
        s.wait_for("Done refreshing server", start=mark)
        self.assertIn("SIGHUP caught: refreshing server", s.messages()[mark:])
        self.assertIn(f"2 user(s) were loaded from the file {path}.", s.messages()[mark:])
        self.assertLogsIn(s, "dave", "two")
        self.assertRefused(s, "alice", "one")
        self.assertEqual(s.stop(), 0)
        self.assertIn("Server shutting down.", s.messages())


class AddUserTest(UsersCase):
    def test_add_through_a_pipe_then_log_in(self):
        home = os.path.join(self.tmp, "carol")
        os.mkdir(home)
        path = os.path.join(self.tmp, "users.cfg")
        r = run_vantor(["-a" + path], self.tmp,
                       stdin_text=f"carol\nsecret\nsecret\n{home}\nlr\n")
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertNotIn("secret", r.stdout)
        self.assertIn("Enter the user's login: Enter the user's password: \n"
                      "Retype the user's password: \n", r.stdout)
        self.assertIn("Enter the user's permissions [lvcpstduoamn]: \n> \n", r.stdout)
        self.assertIn("User carol was successfully added.", r.stdout)
        self.assertNotIn("Listening", r.stdout)  # the server was not started
        with open(path) as f:
            self.assertEqual(f.read(), f"carol;{stored('carol', 'secret')};{home};lr\n")

        # A second user with the defaults, from CR LF input.
        r = run_vantor(["-a" + path], self.tmp, stdin_text="dan\r\npw\r\npw\r\n\r\n\r\n")
        self.assertEqual(r.returncode, 0, r.stdout)
        with open(path) as f:
            lines = f.read().splitlines()
        self.assertEqual(lines[1], f"dan;{stored('dan', 'pw')};{os.path.realpath(self.tmp)}/;lvcpstduoamn")

        with open(os.path.join(home, "f.txt"), "w") as f:
            f.write("carol's")
        s = self.start("-f" + path)
        self.assertIn(f"2 user(s) were loaded from the file {path}.", s.messages())
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", s.port, timeout=20)
        self.addCleanup(ftp.close)
        ftp.login("carol", "secret")
        got = []
        ftp.retrlines("RETR f.txt", got.append)
        self.assertEqual(got, ["carol's"])
        self.assertLogsIn(s, "dan", "pw")

    def test_password_is_not_echoed_on_a_terminal(self):
        master, slave = pty.openpty()
        path = os.path.join(self.tmp, "tty.cfg")
        proc = subprocess.Popen([binary("vantor"), "-a" + path], cwd=self.tmp, stdin=slave,
                                stdout=slave, stderr=slave, close_fds=True)
        os.close(slave)
        self.addCleanup(os.close, master)
        seen = b""

        def until(text):
            nonlocal seen
            deadline = time.monotonic() + 20
            while text.encode() not in seen:
                self.assertGreater(deadline - time.monotonic(), 0, seen)
                r, _, _ = select.select([master], [], [], 1)
                if r:
                    try:
                        seen += os.read(master, 4096)
                    except OSError:
                        break

        for prompt, answer in (("login: ", "terry"), ("password: ", "hush1"),
                               ("Retype the user's password: ", "hush1"), ("> ", ""),
                               ("permissions [lvcpstduoamn]: \r\n> ", "lv")):
            until(prompt)
            os.write(master, answer.encode() + b"\n")
        until("successfully added.")
        self.assertEqual(proc.wait(20), 0)
        self.assertIn(b"terry", seen)  # the terminal echoes the other answers
        self.assertNotIn(b"hush", seen)
        with open(path) as f:
            self.assertEqual(f.read().split(";")[1], stored("terry", "hush1"))

    def test_mismatch_and_end_of_input_write_nothing(self):
        path = os.path.join(self.tmp, "users.cfg")
        r = run_vantor(["-a" + path], self.tmp, stdin_text="eve\none\ntwo\n/\n\n")
        self.assertEqual(r.returncode, 1)
        self.assertIn("Passwords do not match.\n", r.stdout)
        for partial in ("", "\n\n\n", "eve\nsame\n"):
            with self.subTest(partial=partial):
                r = run_vantor(["-a" + path], self.tmp, stdin_text=partial, timeout=20)
                self.assertNotEqual(r.returncode, 0)
        self.assertFalse(os.path.exists(path))

    def test_unwritable_file_warns_and_starts_the_server(self):
        path = os.path.join(self.tmp, "no-such-dir", "users.cfg")
        s = self.start("-a" + path, "-Ufrank", "-Pf", stdin_text="gina\npw\npw\n\n\n")
        self.assertIn(f"WARNING: unable to write to file {path}.", "\n".join(s.lines))
        self.assertLogsIn(s, "frank", "f")


if __name__ == "__main__":
    unittest.main()
