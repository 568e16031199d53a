"""The control connection after login: exact replies of the simple verbs, the dispatcher's
corner cases, line splitting, the transfer rule and connection teardown."""

import os
import re
import signal
import socket
import time
import unittest

from harness import RawClient
from session_support import (GREETING, ServerCase, expect_reply, message_lines,
                             passive_connect)

HELP = [
    "214-The following commands are recognized (* =>'s unimplemented).",
    "214-  ABOR   *ACCT   *ALLO    APPE ",
    "214-  CDUP    CWD     DELE    FEAT ",
    "214-  HELP    LIST    MDTM    MKD  ",
    "214-  MODE    NLST    NOOP   *OPTS ",
    "214-  PASS    PASV    PORT    PWD  ",
    "214-  QUIT   *REIN    REST    RETR ",
    "214-  RMD     RNFR    RNTO    SITE ",
    "214-  SIZE   *SMNT    STAT    STOR ",
    "214-  STOU    SYST    TYPE    USER ",
    "214 HELP command successful.",
]


def read_all(sock):
    body = b""
    while True:
        chunk = sock.recv(65536)
        if not chunk:
            return body
        body += chunk


class SimpleVerbTest(ServerCase):
    def setUp(self):
        super().setUp()
        self.c = self.login()

    def lines(self, command):
        self.c.send(command + "\r\n")
        return self.c.reply()

    def test_fixed_replies(self):
        cases = {
            "NOOP": "200 NOOP command successful.",
            "ALLO 1000": "202 ALLO command ignored.",
            "ACCT x": "502 ACCT command not implemented.",
            "OPTS UTF8 ON": "200 UTF8 set to on",
            "OPTS UTF8 OFF": "502 OPTS command not implemented.",
            "OPTS MODE Z": "502 OPTS command not implemented.",
            "STRU F": "200 STRU F ok.",
            "STRU R": "504 Unimplemented STRU type.",
            "STRU": "500 'STRU': Invalid number of parameters.",
            "REIN": "504 'REIN': command not implemented.",
            "SMNT /x": "504 'SMNT': command not implemented.",
            "SITE": "504 'SITE': command not implemented.",
            "site who": "504 'SITE': command not implemented.",
            "SYST": "215 UNIX Type: L8",
            "syst": "215 UNIX Type: L8",
        }
        for command, reply in cases.items():
            self.assertEqual(self.lines(command), [reply], command)

    def test_feat_and_help(self):
        # No key files here: neither AUTH is offered.
        self.assertEqual(self.lines("FEAT"), [
            "211-Extensions supported", " PBSZ", " PROT", " EPSV", " EPRT", " MDTM", " MFMT",
            " SIZE", " REST STREAM",
            " MLST type*;size*;modify*;perm*;unix.mode*;unix.owner*;unix.group*;", " UTF8",
            " TVFS", "211 FEAT command successful."])
        self.assertEqual(self.lines("HELP"), HELP)
        self.assertEqual(self.lines("help retr stor"), HELP)
        # Every line but the first is padded to the same width.
        self.assertEqual({len(line) - 4 for line in HELP[1:-1]}, {31})

    def test_type(self):
        for command, reply in [
            ("TYPE I", "200 Type is set to I."),
            ("TYPE X", "200 Type is set to I."),
            ("TYPE a", "200 Type is set to A."),
            ("TYPE L 8", "200 Type is set to I."),
            ("TYPE E", "504 Type E not implemented."),
            ("TYPE", "200 Type is set to I."),
            ("type A N", "200 Type is set to A."),
            ("TYPE e", "504 Type E not implemented."),
            ("TYPE AA", "200 Type is set to A."),
        ]:
            self.assertEqual(self.c.cmd(command), reply, command)

    def test_mode(self):
        for command, reply in [
            ("MODE S", "200 MODE S ok."),
            ("mode s", "200 MODE S ok."),
            ("MODE B", "502 Unimplemented MODE type."),
            ("MODE C", "500 'MODE C': command not understood."),
            ("MODE", "500 'MODE': Invalid number of parameters."),
        ]:
            self.assertEqual(self.c.cmd(command), reply, command)

    def test_not_understood(self):
        for command, reply in [
            ("FOO bar", "500 'FOO bar': command not understood"),
            ("FOO", "500 'FOO ': command not understood"),
            ("FOO  a\tb", "500 'FOO a b': command not understood"),
            ("HOST example.org", "500 'HOST example.org': command not understood"),
            ("CCC", "500 'CCC ': command not understood"),
            ("   ", "500 command not understood"),
            ("\t", "500 command not understood"),
            # A known first letter with an unknown verb is not searched for ABOR.
            ("XABOR", "500 'XABOR ': command not understood"),
            ("CWDX /", "500 'CWDX /': command not understood"),
            ("QUITTING", "500 'QUITTING ': command not understood"),
        ]:
            self.assertEqual(self.c.cmd(command), reply, repr(command))
        self.assertEqual(self.c.cmd("NOOP"), "200 NOOP command successful.")

    def test_long_reply_text_is_cut(self):
        reply = self.c.cmd("FOO " + "b" * 600)
        self.assertTrue(reply.startswith("500 'FOO bbbb"), reply)
        self.assertLessEqual(len(reply) - 4, 255)


class AbortTest(ServerCase):
    def test_abor_forms(self):
        c = self.login()
        self.assertEqual(c.cmd("ABOR"), "225 ABOR command successful.")
        self.assertEqual(c.cmd("abor"), "225 ABOR command successful.")
        # Telnet interrupt process and data mark in front of the verb.
        c.send(b"\xff\xf4\xff\xf2ABOR\r\n")
        self.assertEqual(c.reply(), ["225 ABOR command successful."])
        # The data mark sent as urgent data, as clients do, arrives in line.
        c.sock.sendall(b"\xff\xf4\xff")
        c.sock.send(b"\xf2", socket.MSG_OOB)
        c.sock.sendall(b"ABOR\r\n")
        self.assertEqual(c.reply(), ["225 ABOR command successful."])
        self.assertEqual(c.cmd("#abor"), "225 ABOR command successful.")
        self.assertEqual(c.cmd("NOOP"), "200 NOOP command successful.")


class LineSplitTest(ServerCase):
    def test_over_long_lines_are_refused_whole(self):
        c = self.login()
        # 1023 characters before the CR LF make one command.
        c.send("NOOP" + " " * 1019 + "\r\n")
        self.assertEqual(c.reply(), ["200 NOOP command successful."])
        # Anything longer is answered once; its tail never runs as a command of its own.
        for line in ("NOOP" + " " * 1019 + "FOO bar", "SIZE " + "x" * 1018 + "MKD smuggled",
                     "Z" * 1500, "PASS " + "s" * 2000):
            c.send(line + "\r\n")
            self.assertEqual(c.reply(), ["500 Command line too long."], line[:8])
            self.assertEqual(c.cmd("NOOP"), "200 NOOP command successful.")
        # The tail may arrive in pieces, after a pause.
        c.send("MDTM " + "y" * 1100)
        time.sleep(0.5)
        c.send("y" * 3000 + "DELE x\r\nPWD\r\n")
        self.assertEqual(c.reply(), ["500 Command line too long."])
        self.assertEqual(c.reply(), ['257 "/" is current directory.'])
        self.assertEqual(os.listdir(self.root), [])
        c.cmd("QUIT")
        self.stop_server()
        cut = [(len(r[6]), r[7]) for r in self.access_fields() if r[8] == "500"]
        self.assertEqual(cut, [(4, ""), (4, ""), (1023, ""), (4, ""), (4, "")])

    def test_embedded_nul_cuts_the_line(self):
        c = self.login()
        c.send(b"NOOP\x00FOO\r\n")
        self.assertEqual(c.reply(), ["200 NOOP command successful."])
        self.assertEqual(c.cmd("NOOP"), "200 NOOP command successful.")


class DirectoryVerbCaseTest(ServerCase):
    def test_lower_case_x_verbs_and_cdup(self):
        os.mkdir(os.path.join(self.root, "sub"))
        c = self.login()
        self.assertEqual(c.cmd("xcwd sub"), "250 CWD command successful.")
        self.assertEqual(c.cmd("pwd"), '257 "/sub/" is current directory.')
        self.assertEqual(c.cmd("cdup"), "250 CWD command successful.")
        self.assertEqual(c.cmd("xpwd"), '257 "/" is current directory.')
        self.assertEqual(c.cmd("XCWD sub"), "250 CWD command successful.")
        self.assertEqual(c.cmd("xcup"), "250 CWD command successful.")
        self.assertEqual(c.cmd("PWD"), '257 "/" is current directory.')


class TransferRuleTest(ServerCase):
    def setUp(self):
        super().setUp()
        # Large enough to fill the socket buffers of a data connection nobody reads.
        with open(os.path.join(self.root, "big.bin"), "wb") as f:
            f.write(os.urandom(1 << 20) * 48)
        with open(os.path.join(self.root, "small.txt"), "w") as f:
            f.write("hello\n")

    def start_stalled_download(self, c):
        c.cmd("TYPE I")
        data = passive_connect(c)
        self.addCleanup(data.close)
        c.send("RETR big.bin\r\n")
        self.assertTrue(c.reply()[-1].startswith("150"))
        return data

    def test_second_transfer_refused_while_one_runs(self):
        c = self.login()
        data = self.start_stalled_download(c)
        for line in ("RETR small.txt", "retr small.txt", "STOR x", "stou x", "APPE x"):
            self.assertEqual(c.cmd(line), "550 Only 1 transfer per control connection is allowed.",
                             line)
        self.assertEqual(c.cmd("NOOP"), "200 NOOP command successful.")
        # Listings are not limited.
        listing = passive_connect(c)
        c.send("LIST\r\n")
        expect_reply(c, "150")
        body = read_all(listing)
        listing.close()
        expect_reply(c, "226")
        self.assertIn(b"small.txt", body)
        self.assertFalse(os.path.exists(os.path.join(self.root, "x")))

        # The stopped download ends with its statistics line as a failure, before ABOR's own
        # reply (lftp reads them in that order); then a new one may start.
        c.send("ABOR\r\n")
        self.assertEqual(c.reply()[-1][:4], "426 ")
        self.assertEqual(c.reply(), ["225 ABOR command successful."])
        data.close()
        c.cmd("TYPE A")
        d2 = passive_connect(c)
        self.addCleanup(d2.close)
        c.send("RETR small.txt\r\n")
        self.assertTrue(c.reply()[-1].startswith("150"))
        self.assertEqual(read_all(d2), b"hello\r\n")
        expect_reply(c, "226")

    def test_client_vanishing_mid_transfer(self):
        c = self.login()
        data = self.start_stalled_download(c)
        # Control and data connection drop without a word; the server cleans up on its own.
        c.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        c.close()
        data.close()
        deadline = time.monotonic() + 20
        while not any(m.startswith("Connection closed") and "bob disconnected" in m
                      for m in message_lines(self.program_log())):
            self.assertLess(time.monotonic(), deadline, self.program_log())
            time.sleep(0.2)
        # Descriptor numbers are reused at once; the next session must work normally.
        d = self.login("carol")
        self.assertEqual(d.cmd("NOOP"), "200 NOOP command successful.")
        self.assertEqual(d.cmd("QUIT"), "221 Exit.")

    def test_quit_during_transfer(self):
        c = self.login()
        data = self.start_stalled_download(c)
        start = time.monotonic()
        c.send("QUIT\r\n")
        data.close()
        seen = expect_reply(c, "221", timeout=20)
        self.assertLess(time.monotonic() - start, 10, seen)
        self.assertEqual(c.buf, b"")
        self.assertEqual(c.sock.recv(10), b"")


class ConnectionLifeTest(ServerCase):
    # A hundred clients from one address, all before their login.
    server_args = ("--max-pending", "200:1000")

    def test_burst_of_clients_all_greeted(self):
        clients = []
        for _ in range(100):
            clients.append(socket.create_connection(("127.0.0.1", self.server.port), timeout=20))
        try:
            for s in clients:
                buf = b""
                while b"\n" not in buf:
                    chunk = s.recv(256)
                    self.assertTrue(chunk, "closed before the greeting")
                    buf += chunk
                self.assertEqual(buf.decode().rstrip("\r\n"), GREETING)
            for s in clients:
                s.sendall(b"QUIT\r\n")
            for s in clients:
                self.assertTrue(s.recv(256).startswith(b"221 Exit."))
        finally:
            for s in clients:
                s.close()

    def test_dropped_connection_is_logged(self):
        c = self.login()
        c.close()
        deadline = time.monotonic() + 10
        # Leaving without QUIT is the client's choice, not an error of the connection.
        while "Client closed the connection (bob disconnected)." not in message_lines(
                self.program_log()):
            self.assertLess(time.monotonic(), deadline, self.program_log())
            time.sleep(0.2)
        self.assertFalse([l for l in self.program_log() if "Error connecting" in l])
        self.assertEqual(self.login("carol").cmd("NOOP"), "200 NOOP command successful.")

    def test_lone_line_feed_is_an_empty_command(self):
        c = self.login()
        for empty in (b"\n", b"\r\n"):
            c.send(empty)
            self.assertEqual(c.reply(), ["500 command not understood"])
        self.assertEqual(c.cmd("NOOP"), "200 NOOP command successful.")

    def test_stop_signal_ends_sessions(self):
        c = self.login()
        idle = RawClient(self.server.port)
        self.addCleanup(idle.close)
        self.assertEqual(idle.reply(), [GREETING])
        # A client that stopped in the middle of a command line must not hold its session.
        half = self.login("ann")
        half.send("NO")
        time.sleep(0.3)
        start = time.monotonic()
        self.assertEqual(self.server.stop(signal.SIGINT), 0)
        self.assertLess(time.monotonic() - start, 12)
        for client in (c, half):
            client.sock.settimeout(5)
            self.assertEqual(client.sock.recv(10), b"")
        for user in ("bob", "ann"):
            self.assertTrue(
                any(re.fullmatch(rf"Connection closed \(\d+\), {user} disconnected\.", m)
                    for m in message_lines(self.program_log())), user)


if __name__ == "__main__":
    unittest.main()
