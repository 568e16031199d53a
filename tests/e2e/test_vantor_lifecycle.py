"""vantor's start-up lines, a port it cannot take, and stopping by signal with clients still
connected."""

import signal
import socket
import time
import unittest

from harness import RawClient
from vantor_support import VantorCase, run_vantor


class LifecycleTest(VantorCase):
    def test_start_up_lines(self):
        s = self.start()
        self.assertEqual(s.messages()[:3], [
            'Use "vantor -h" for help.  Exit using "Ctrl-C".',
            f"Starting server on 127.0.0.1:{s.port}...",
            f"Listening for FTP connections on port {s.port}.",
        ])

    def test_port_in_use(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen(1)
            port = taken.getsockname()[1]
            r = run_vantor([f"-p{port}", "-b127.0.0.1"], self.tmp, timeout=30)
        self.assertEqual(r.returncode, 1)
        msgs = [l.split(";", 1)[1] for l in r.stdout.splitlines()]
        self.assertEqual(msgs[-2:], [f"Starting server on 127.0.0.1:{port}...",
                                     "ERROR: Unable to start the server (sd = -1): "
                                     "Address already in use."])

    def test_implicit_port_in_use_only_warns(self):
        with socket.socket() as taken:
            taken.bind(("0.0.0.0", 0))
            taken.listen(1)
            port = taken.getsockname()[1]
            s = self.start(f"-i{port}", "-e")
            s.wait_for(f"WARNING: unable to listen for SSL connections on port {port}.")
            c = RawClient(s.port, timeout=20)
            self.addCleanup(c.close)
            self.assertEqual(c.reply(), ["220 Connected to Vantor"])

    def test_signals_stop_the_server_and_its_sessions(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(sig=sig):
                s = self.start()
                idle = RawClient(s.port, timeout=30)
                self.addCleanup(idle.close)
                idle.reply()
                idle.cmd("USER anonymous")
                self.assertTrue(idle.cmd("PASS x").startswith("230"))
                started = time.monotonic()
                self.assertEqual(s.stop(sig), 0)
                self.assertLess(time.monotonic() - started, 25)
                msgs = s.messages()
                gone = [i for i, m in enumerate(msgs) if m.endswith("anonymous disconnected.")]
                self.assertEqual(len(gone), 1, msgs)
                self.assertLess(gone[0], msgs.index("Server shutting down."))
                self.assertIn(f"Server stopped on port {s.port}", msgs)
                self.assertEqual(msgs[-1], "Server shutting down.")
                # The session's connection was closed by the server.
                idle.sock.settimeout(10)
                self.assertEqual(idle.sock.recv(100), b"")

    def test_sighup_without_a_user_file_keeps_the_user(self):
        s = self.start("-Ukeep", "-Pk")
        mark = len(s.lines)
        s.send_signal(signal.SIGHUP)
        s.wait_for("Done refreshing server", start=mark)
        c = RawClient(s.port, timeout=20)
        self.addCleanup(c.close)
        c.reply()
        c.cmd("USER keep")
        self.assertEqual(c.cmd("PASS k"), "230 User keep logged in.")


if __name__ == "__main__":
    unittest.main()
