"""Login states of the control connection: what is refused before login, USER and PASS, the
failed-login delay, and the log lines of a session."""

import re
import threading
import time
import unittest

from session_support import DATE, ServerCase, message_lines, silent_for

PLEASE_LOGIN = "530 Please login with USER and PASS."


class BeforeLoginTest(ServerCase):
    def test_only_login_verbs_are_served(self):
        c = self.connect()
        for line in ("NOOP", "noop", "LIST", "CWD /", "FOO bar", "~", "RETR x"):
            self.assertEqual(c.cmd(line), PLEASE_LOGIN, line)
        start = time.monotonic()
        # Without an accepted USER a PASS is an ordinary verb: no delay, no login.
        self.assertEqual(c.cmd("PASS anything"), PLEASE_LOGIN)
        self.assertLess(time.monotonic() - start, 2)
        self.assertEqual(c.cmd("   "), "500 command not understood")
        self.assertEqual(c.cmd("NOOP"), PLEASE_LOGIN)

    def test_idle_client_is_not_answered_and_stays_connected(self):
        c = self.connect()
        # Several internal ticks pass; none of them may reach the client or end the session.
        self.assertTrue(silent_for(c, 3.5))
        self.assertEqual(c.cmd("NOOP"), PLEASE_LOGIN)
        self.login(client=c)
        self.assertTrue(silent_for(c, 2.5))
        self.assertEqual(c.cmd("NOOP"), "200 NOOP command successful.")

    def test_quit_before_login_closes(self):
        c = self.connect()
        self.assertEqual(c.cmd("quit"), "221 Exit.")
        self.assertEqual(c.sock.recv(10), b"")


class UserPassTest(ServerCase):
    def test_any_name_and_password_log_in(self):
        c = self.login("bob", "whatever")
        self.assertEqual(c.cmd("NOOP"), "200 NOOP command successful.")
        d = self.connect()
        self.assertEqual(d.cmd("user carol"), "331 Password required for carol.")
        self.assertEqual(d.cmd("pass"), "230 User carol logged in.")

    def test_user_without_name_accepts_nobody(self):
        c = self.connect()
        self.assertEqual(c.cmd("USER"), "500 'USER': Invalid number of parameters.")
        self.assertEqual(c.cmd("PASS x"), PLEASE_LOGIN)

    def test_user_after_login_logs_out(self):
        c = self.login("bob")
        self.assertEqual(c.cmd("USER carol"), "331 Password required for carol.")
        self.assertEqual(c.cmd("NOOP"), PLEASE_LOGIN)
        self.assertEqual(c.cmd("PASS y"), "230 User carol logged in.")
        self.assertEqual(c.cmd("SYST"), "215 UNIX Type: L8")

    def test_long_user_name_is_cut(self):
        c = self.connect()
        reply = c.cmd("USER " + "u" * 300)
        self.assertTrue(reply.startswith("331 Password required for uuu"), reply)
        self.assertLessEqual(len(reply) - 4, 255)
        c.cmd("QUIT")
        self.stop_server()
        users = {row[5] for row in self.access_fields() if row[6] == "USER"}
        self.assertEqual(users, {"u" * 255})

    def test_quit_after_login(self):
        c = self.login()
        self.assertEqual(c.cmd("QUIT"), "221 Exit.")
        self.assertEqual(c.sock.recv(10), b"")


class CheckedPasswordTest(ServerCase):
    server_args = ("--account", "alice:rightpass1234567",
                   "--account", "homeless:pw:/nonexistent/orvex-home")

    def test_wrong_password_waits_without_blocking_others(self):
        a = self.connect()
        self.assertEqual(a.cmd("USER alice"), "331 Password required for alice.")
        start = time.monotonic()
        a.send("PASS wrong\r\n")
        # A second client is served in full while the first one waits.
        b = self.login("alice", "rightpass1234567")
        self.assertEqual(b.cmd("NOOP"), "200 NOOP command successful.")
        self.assertLess(time.monotonic() - start, 2.0)
        self.assertEqual(a.reply(), ["530 User alice cannot login."])
        self.assertGreater(time.monotonic() - start, 2.7)
        # The failure cleared the accepted user: a second PASS is refused at once.
        start = time.monotonic()
        self.assertEqual(a.cmd("PASS rightpass1234567"), PLEASE_LOGIN)
        self.assertLess(time.monotonic() - start, 2.0)

    def test_many_failed_logins_wait_in_parallel(self):
        clients = [self.connect() for _ in range(5)]
        for c in clients:
            c.cmd("USER alice")
        start = time.monotonic()
        for c in clients:
            c.send("PASS nope\r\n")
        results = []

        def read(c):
            results.append(c.reply())

        threads = [threading.Thread(target=read, args=(c,)) for c in clients]
        for t in threads:
            t.start()
        for t in threads:
            t.join(20)
        self.assertEqual(results, [["530 User alice cannot login."]] * 5)
        self.assertLess(time.monotonic() - start, 8)

    def test_password_keeps_sixteen_characters(self):
        self.login("alice", "rightpass1234567-ignored")
        c = self.connect()
        c.cmd("USER alice")
        self.assertEqual(c.cmd("PASS rightpass123456"), "530 User alice cannot login.")

    def test_unknown_user_is_asked_for_a_password_then_refused(self):
        c = self.connect()
        self.assertEqual(c.cmd("USER nobody"), "331 Password required for nobody.")
        start = time.monotonic()
        self.assertEqual(c.cmd("PASS rightpass1234567"), "530 User nobody cannot login.")
        self.assertGreater(time.monotonic() - start, 2.7)

    def test_missing_home_refuses_login(self):
        c = self.connect()
        c.cmd("USER homeless")
        c.send("PASS pw\r\n")
        self.assertEqual(c.reply(), ["530-User homeless has an invalid home directory.",
                                     "530 User homeless cannot login."])
        self.assertEqual(c.cmd("NOOP"), PLEASE_LOGIN)
        c.cmd("QUIT")
        self.stop_server()
        self.assertTrue(any(re.fullmatch(
            r"User homeless has an invalid home directory \(.*nonexistent.orvex-home.*\)\.", m)
            for m in message_lines(self.program_log())), self.program_log())

    def test_failed_pass_after_login_logs_out(self):
        c = self.login("alice", "rightpass1234567")
        self.assertEqual(c.cmd("PASS bad"), "530 User alice cannot login.")
        self.assertEqual(c.cmd("NOOP"), PLEASE_LOGIN)


class SessionLogTest(ServerCase):
    def test_access_and_program_log_lines(self):
        c = self.connect()
        client_port = str(c.sock.getsockname()[1])
        server_port = str(self.server.port)
        c.cmd("USER bob")
        c.cmd("PASS topsecret")
        c.cmd("TYPE I")
        c.cmd("QUIT")
        self.assertEqual(c.sock.recv(10), b"")
        self.stop_server()

        rows = [r for r in self.access_fields() if r[4] == client_port]
        for r in rows:
            self.assertRegex(r[0], "^" + DATE + "$")
            self.assertEqual(r[1:5], ["127.0.0.1", server_port, "127.0.0.1", client_port])
        self.assertEqual([r[5:] for r in rows], [
            ["", "CONNECT", "", "", ""],
            ["bob", "USER", "bob", "331", "Password required for bob."],
            ["bob", "PASS", "", "230", "User bob logged in."],
            ["bob", "TYPE", "I", "200", "Type is set to I."],
            ["bob", "QUIT", "", "221", "Exit."],
            ["bob", "DISCONNECT", "", "", ""],
        ])
        self.assertNotIn("topsecret", "\n".join(self.access_log()))

        messages = message_lines(self.program_log())
        established = [m for m in messages if m.startswith("Connection established")]
        self.assertEqual(len(established), 1, messages)
        m = re.fullmatch(r"Connection established from 127\.0\.0\.1:(\d+) -> (\S*) \((\d+)\)\.",
                         established[0])
        self.assertIsNotNone(m, established[0])
        self.assertEqual(m.group(1), client_port)
        self.assertIn(f"Connection closed ({m.group(3)}), bob disconnected.", messages)


if __name__ == "__main__":
    unittest.main()
