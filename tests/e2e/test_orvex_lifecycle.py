"""orvex while it runs: the reload loop picking up edits, passive ports from the configured
range, TLS from the site's key files, and the orderly stop, in console and service mode."""

import os
import re
import socket
import ssl
import time
import unittest

from harness import RawClient, TempDirTestCase
from orvex_support import GREETING, OrvexCase, OrvexSite, free_port, free_port_run


class Reload(OrvexCase):
    def greeting(self):
        client = self.connect()
        lines = client.reply()
        client.close()
        return lines

    def test_configuration_edits_take_effect_within_a_pass(self):
        self.serve()
        self.assertEqual(self.greeting(), GREETING)
        self.site.set_conf(login_prompt="Hello[:space:]there[:hash:]1 # a comment")
        self.assertTrue(self.eventually(lambda: self.greeting()[-1] == "220 Hello there#1"),
                        self.greeting())
        # A removed key is back at its default.
        self.site.set_conf(login_prompt=None)
        self.assertTrue(self.eventually(lambda: self.greeting()[-1] == "220 login"),
                        self.greeting())

    def test_a_broken_configuration_keeps_the_one_in_force(self):
        self.serve()
        self.site.set_conf(rootpath=None, login_prompt="Broken")
        self.server.wait_for(r"ERROR: no rootpath specified\.")
        self.assertEqual(self.greeting(), GREETING)
        self.login()

    def test_new_accounts_log_in_without_a_restart(self):
        self.serve()
        self.site.write("ftp-data/users/carol", self.site.read("ftp-data/users/default.user"))
        passwd = self.site.read("etc/passwd")
        self.site.write("etc/passwd", passwd + "carol;;150;100;01-01-25;./site/\n")
        self.site.set_password("carol", "CarolPw1")
        time.sleep(0.1)

        def carol_logs_in():
            c = self.connect()
            c.reply()
            c.cmd("USER carol")
            c.send("PASS CarolPw1\r\n")
            ok = c.reply()[-1] == "230 User carol logged in."
            c.close()
            return ok
        self.assertTrue(self.eventually(carol_logs_in, timeout=15))
        client = self.login("carol", "CarolPw1")
        self.assertEqual(client.cmd("PWD"), '257 "/" is current directory.')

    def test_stored_hash_logs_in_and_a_wrong_password_does_not(self):
        self.serve()
        self.assertIn("orvex;", self.site.read("etc/passwd"))
        stored = [l for l in self.site.read("etc/passwd").splitlines() if l.startswith("orvex;")]
        self.assertRegex(stored[0].split(";")[1], r"^[0-9A-F]{32}$")
        client = self.connect()
        client.reply()
        client.cmd("USER orvex")
        self.assertEqual(client.cmd("PASS wrong"), "530 User orvex cannot login.")
        self.login()


class PassivePorts(OrvexCase):
    def pasv_port(self, client):
        reply = client.cmd("PASV")
        m = re.match(r"227 Entering Passive Mode \((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)\.", reply)
        return (int(m.group(5)) * 256 + int(m.group(6))) if m else reply

    def test_range_is_used_from_the_top_and_runs_out(self):
        low = free_port_run(3)
        self.site.set_conf(pasv_port_range=f"{low} {low + 2}")
        self.serve()
        clients = [self.login() for _ in range(4)]
        got = [self.pasv_port(c) for c in clients[:3]]
        self.assertEqual(got, [low + 2, low + 1, low])
        self.assertEqual(clients[3].cmd("PASV"), "500 Unable to bind to a port.")
        # A session that leaves gives its port back.
        clients[1].cmd("QUIT")
        clients[1].close()
        self.assertTrue(self.eventually(lambda: self.pasv_port(clients[3]) == low + 1, timeout=8))


class Tls(OrvexCase):
    def test_keys_from_the_site_serve_auth_ssl_and_the_implicit_port(self):
        self.site.make_keys()
        ssl_port = free_port()
        self.site.set_conf(server_sslport=str(ssl_port))
        self.serve()
        self.server.wait_for(rf"Listening for implicit SSL connections on port {ssl_port}\.")
        ctx = ssl._create_unverified_context()

        client = self.connect()
        client.reply()
        self.assertEqual(client.cmd("AUTH SSL"), "234 Security data exchange complete.")
        client.sock = ctx.wrap_socket(client.sock)
        self.assertEqual(client.cmd("USER orvex"), "331 Password required for orvex.")
        client.send(f"PASS {self.admin_password}\r\n")
        self.assertEqual(client.reply()[-1], "230 User orvex logged in.")

        raw = socket.create_connection(("127.0.0.1", ssl_port), timeout=10)
        implicit = RawClient.__new__(RawClient)
        implicit.sock, implicit.buf = ctx.wrap_socket(raw), b""
        self.addCleanup(implicit.close)
        self.assertEqual(implicit.reply(), GREETING)
        self.login(client=implicit, greeted=True)
        self.assertEqual(implicit.cmd("PWD"), '257 "/" is current directory.')


class Stop(OrvexCase):
    def test_sigterm_ends_the_server_in_time_with_clients_connected(self):
        self.serve()
        idle = [self.login() for _ in range(3)]
        half = self.connect()
        half.reply()
        half.cmd("USER orvex")
        started = time.monotonic()
        self.assertEqual(self.server.stop(timeout=20), 0)
        self.assertLess(time.monotonic() - started, 15)
        m = self.server.messages()
        order = [f"Server stopped on port {self.port}", "Synchronizing the Orvex filesystem.",
                 "Done synchronizing the Orvex filesystem.", "Server shutting down."]
        self.assertEqual([m.index(x) for x in order], sorted(m.index(x) for x in order))
        for c in idle + [half]:
            c.sock.settimeout(5)
            with self.assertRaises((ConnectionError, OSError)):
                while True:
                    c.line()


class ServiceMode(TempDirTestCase):
    def setUp(self):
        super().setUp()
        self.site = OrvexSite(self.tmp)
        self.notify_path = os.path.join(self.tmp, "notify")
        self.notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.addCleanup(self.notify.close)
        self.notify.bind(self.notify_path)
        self.notify.settimeout(20)

    def start(self):
        env = dict(os.environ, NOTIFY_SOCKET=self.notify_path)
        server = self.site.start(args=(), env=env)
        self.addCleanup(server.kill)
        return server

    def next_notification(self):
        return self.notify.recv(4096).decode()

    def test_ready_stopping_and_stopped_are_notified(self):
        server = self.start()
        self.assertEqual(self.next_notification(), "READY=1\nSTATUS=Running")
        port = server.ready()
        client = RawClient(port)
        self.addCleanup(client.close)
        self.assertEqual(client.reply(), GREETING)
        self.assertNotIn('Using debug mode.  Exit using "Ctrl-C".', server.lines)
        server.proc.send_signal(15)
        self.assertEqual(self.next_notification(), "STOPPING=1\nSTATUS=Stopping")
        self.assertEqual(self.next_notification(), "STATUS=Stopped")
        self.assertEqual(server.wait(20), 0)
        self.assertIn("Server shutting down.", server.messages())

    def test_a_stop_as_soon_as_ready_is_orderly(self):
        server = self.start()
        self.assertEqual(self.next_notification(), "READY=1\nSTATUS=Running")
        server.proc.send_signal(15)
        self.assertEqual(server.wait(20), 0)
        self.assertIn("Synchronizing the Orvex filesystem.", server.messages())
        self.assertIn("Server shutting down.", server.messages())

    def test_failed_start_up_exits_non_zero(self):
        self.site.remove("etc/group")
        server = self.start()
        self.assertEqual(self.next_notification(), "READY=1\nSTATUS=Running")
        self.assertEqual(self.next_notification(), "STATUS=Stopped (error 1)\nEXIT_STATUS=1")
        self.assertEqual(server.wait(20), 1)
        self.assertIn("ERROR: unable to load the group file.", server.messages())
        self.assertNotIn("Press any key to continue...", server.messages())


if __name__ == "__main__":
    unittest.main()
