"""Remote aliases against a scripted server that shows the faults real servers rarely do: odd
greetings, refused logins, dropped connections, late and multi-line replies, resets, transfers
that never end, state left on pooled connections, and PORT and PASV addresses out of range."""

import os
import re
import socket
import ssl
import threading
import time

from harness import RawClient
from orvex_support import user_file
from remote_support import (RemoteCase, ScriptedServer, alias_line, eventually, make_cert,
                            passive)

UNABLE = "451 Unable to access directory"


def once_then(first, later):
    """A reply that is `first` on the first call and `later` after that."""
    calls = []

    def reply(server, conn, arg):
        calls.append(arg)
        return first if len(calls) == 1 else later
    return reply


def slow(seconds, text):
    def reply(server, conn, arg):
        time.sleep(seconds)
        return text
    return reply


def late_final(seconds, text):
    """150 now and `text` on the same connection `seconds` later."""
    def reply(server, conn, arg):
        def later():
            time.sleep(seconds)
            try:
                conn.sendall((text + "\r\n").encode())
            except OSError:
                pass
        threading.Thread(target=later, daemon=True).start()
        return "150 opening"
    return reply


def pasv_then_reset(server, conn, arg):
    def later():
        time.sleep(0.2)
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\0\0\0\0\0\0\0")
        conn.close()
    threading.Thread(target=later, daemon=True).start()
    return "227 Entering Passive Mode (127,0,0,1,4,1)"


def endless_greeting(server, conn, arg):
    """A multi-line greeting that never ends."""
    while True:
        conn.sendall(("220-" + "x" * 60 + "\r\n").encode() * 512)


def dribbled_greeting(server, conn, arg):
    """A greeting line every second, for longer than any reply may take."""
    for _ in range(30):
        conn.sendall(b"220-wait\r\n")
        time.sleep(1)
    return "220 ready"


def endless_line(server, conn, arg):
    """A greeting line that never reaches its line feed."""
    conn.sendall(b"220 ")
    while True:
        conn.sendall(b"A" * 65536)


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def reset_after_login(server, conn, arg):
    conn.sendall(b"230 in\r\n")
    time.sleep(0.05)
    return "RESET"


class ScriptedFaults(RemoteCase):
    users = {"bob": {"uid": 301}, "dave": {"uid": 302}, "link": {"uid": 303, "flags": "R"}}

    @classmethod
    def prepare(cls):
        key, cert = make_cert(cls.tmp)
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(cert, key)
        servers = {
            "greet421": {"GREETING": "421 busy, but go on"},
            "userno": {"USER": "530 no such user"},
            "authno": {"AUTH": "500 no TLS here"},
            "drop": {"SIZE": once_then("CLOSE", "213 42")},
            "dropall": {"SIZE": "CLOSE"},
            "slow": {"SIZE": slow(8, "213 late"), "MDTM": "213 20240101000000"},
            "multi": {"STAT": ["213-Status follows:", " 12 files", "123 files",
                               "    indented", "213 End of status"]},
            "reset": {"PASS": reset_after_login},
            "state": {"PASV": "227 Entering Passive Mode (127,0,0,1,4,1)", "RETR": "550 no",
                      "REST": "350 restarting", "RNFR": "350 ready", "RNTO": "250 renamed"},
            "list": {"LIST": "550 no", "NLST": "550 no"},
            "port": {"PORT": "200 PORT ok", "PASV": "227 Entering Passive Mode (127,0,0,1,300,1)"},
            "leftover": {"PORT": "200 PORT ok", "PASV": "227 Entering Passive Mode (127,0,0,1,4,1)"},
            "abort": {"RETR": "150 opening", "ABOR": ["426 aborted", "226 abor ok"]},
            "kick": {"RETR": late_final(5, "226 late")},
            "hang": {"RETR": "150 opening"},
            "endless": {"GREETING": endless_greeting},
            "dribble": {"GREETING": dribbled_greeting},
            "longline": {"GREETING": endless_line},
        }
        cls.scripted = {}
        for name, script in servers.items():
            cls.scripted[name] = ScriptedServer(script)
            cls.peers.append(cls.scripted[name])
        cls.scripted["resettls"] = ScriptedServer({"PASS": reset_after_login}, tls=tls)
        cls.scripted["pasvreset"] = ScriptedServer({"PASV": pasv_then_reset, "RETR": "550 no", "PROT": "200 ok"},
                                                   tls=tls)
        cls.peers += [cls.scripted["resettls"], cls.scripted["pasvreset"]]
        # A peer whose PASV names another host: the user file must not go there.
        cls.elsewhere = socket.socket()
        cls.elsewhere.bind(("127.0.0.2", 0))
        cls.elsewhere.listen(4)
        cls.elsewhere.settimeout(0.5)
        port = cls.elsewhere.getsockname()[1]
        cls.scripted["evilpeer"] = ScriptedServer({
            "PASV": f"227 Entering Passive Mode (127,0,0,2,{port >> 8},{port & 255})",
            "SITE": "152 No information found for user 'bob' (ABCDEFGHIJKLMNOP)."})
        cls.peers.append(cls.scripted["evilpeer"])
        lines = []
        for name, server in cls.scripted.items():
            encmode = 2 if name in ("authno", "resettls", "pasvreset") else 0
            kind = ("D", 1) if name == "evilpeer" else ("G", 0)
            for directory in ([name, name + "2"] if name == "hang" else [name]):
                os.makedirs(cls.site.path(f"site/{directory}"), exist_ok=True)
                lines.append(alias_line(cls.site_dir(directory), "127.0.0.1", server.port,
                                        encmode=encmode, server_type=kind[0], share=kind[1]))
        cls.write_aliases(lines)

    def inside(self, name, user="orvex"):
        client = self.raw() if user == "orvex" else self.raw(user, "pw")
        self.assertTrue(client.cmd(f"CWD /{name}").startswith("250"), name)
        return client

    def test_logins_that_fail(self):
        c = self.raw()
        # A 421 greeting is still followed by USER; the login then works.
        self.assertEqual(c.cmd("CWD /greet421"), "250 cwd ok")
        self.assertEqual(self.scripted["greet421"].lines_for("USER")[0][1], "USER anonymous")
        for name in ("userno", "authno"):
            self.assertEqual(c.cmd(f"CWD /{name}"), UNABLE)
        self.assertEqual(self.scripted["authno"].lines_for("USER"), [])

    def test_dropped_connections_and_late_replies(self):
        c = self.raw()
        self.assertEqual(c.cmd("CWD /drop"), "250 cwd ok")
        # Closed before answering: sent again once, on a new connection.
        self.assertEqual(c.cmd("SIZE f"), "213 42")
        sizes = self.scripted["drop"].lines_for("SIZE")
        self.assertEqual(len(sizes), 2)
        self.assertNotEqual(sizes[0][0], sizes[1][0])
        self.assertEqual(c.cmd("CWD /dropall"), "250 cwd ok")
        self.assertEqual(c.cmd("SIZE f"), "530 ERROR: unable to run SIZE command.")
        self.assertEqual(len(self.scripted["dropall"].lines_for("SIZE")), 2)
        # A reply after 5 s is given up, and never taken for the answer to the next command.
        self.assertEqual(c.cmd("CWD /slow"), "250 cwd ok")
        start = time.monotonic()
        self.assertEqual(c.cmd("SIZE f"), "530 ERROR: unable to run SIZE command.")
        self.assertLess(time.monotonic() - start, 7.5)
        self.assertEqual(c.cmd("MDTM f"), "213 20240101000000")
        time.sleep(3.5)  # the late reply has come by now, to a connection that is gone
        self.assertEqual(c.cmd("MDTM f"), "213 20240101000000")

    def test_multi_line_replies_keep_the_remote_code(self):
        c = self.inside("multi")
        c.send("STAT f\r\n")
        self.assertEqual(c.reply(), ["213-Status follows:", "213- 12 files", "213-123 files",
                                     "213-indented", "213 End of status"])

    def test_reset_servers_do_not_end_the_server(self):
        c = self.raw()
        for name in ("reset", "resettls"):
            reply = c.cmd(f"CWD /{name}")
            self.assertIn(reply, (UNABLE, "530 ERROR: unable to set CWD."), name)
        self.assertEqual(c.cmd("NOOP"), "200 NOOP command successful.")
        # A held TLS connection reset under its holder: the next command writes into it.
        c = self.inside("pasvreset")
        self.assertTrue(c.cmd("PASV").startswith("227"))
        time.sleep(0.6)
        self.assertEqual(c.cmd("RETR f"), "550 no")
        self.assertIsNone(self.server.proc.poll())

    def test_state_stays_with_its_session(self):
        server = self.scripted["state"]
        a, b = self.inside("state"), self.inside("state")
        self.assertEqual(a.cmd("TYPE I"), "200 type set")
        self.assertEqual(b.cmd("TYPE A"), "200 type set")
        # A's PASV, REST and RNFR stay on A's connection until A's command uses them...
        self.assertTrue(a.cmd("PASV").startswith("227"))
        self.assertEqual(a.cmd("REST 100"), "350 restarting")
        self.assertTrue(b.cmd("PASV").startswith("227"))
        self.assertEqual(b.cmd("RNFR x"), "350 ready")
        self.assertEqual(a.cmd("RETR f"), "550 no")
        self.assertEqual(b.cmd("RNTO y"), "250 renamed")

        def conn_of(verb, arg=None):
            return [n for n, line in server.lines_for(verb) if arg is None or arg in line]
        pasv_a, pasv_b = conn_of("PASV")
        self.assertNotEqual(pasv_a, pasv_b)
        self.assertEqual(conn_of("REST"), [pasv_a])
        self.assertEqual(conn_of("RETR"), [pasv_a])
        self.assertEqual(conn_of("RNFR") + conn_of("RNTO"), [pasv_b, pasv_b])
        # ...and a connection that got another session's TYPE gets the own one back first.
        types = [(n, line) for n, line in server.received if line.startswith("TYPE")]
        self.assertIn((pasv_a, "TYPE I"), types)
        retr = server.received.index((pasv_a, "RETR /f"))
        before = [line for n, line in server.received[:retr] if n == pasv_a and "TYPE" in line]
        self.assertEqual(before[-1], "TYPE I")

    def test_port_and_pasv_addresses(self):
        bob = self.inside("port", "bob")
        for arg in ("127,0,0,2,200,10", "127,0,0,1,0,21", "127,0,0,1,256,1", "1,2,3",
                    "0,0,0,0,200,10", "127,0,0,1,0,0"):
            self.assertEqual(bob.cmd(f"PORT {arg}"), "500 Invalid PORT command.", arg)
        self.assertEqual(bob.cmd("PORT 127,0,0,1,200,10"), "200 PORT ok")
        self.assertEqual([line for _, line in self.scripted["port"].lines_for("PORT")],
                         ["PORT 127,0,0,1,200,10"])
        # A passive address the client could not reach is never passed on.
        self.assertEqual(bob.cmd("PASV"), "530 ERROR: unable to run PASV command.")

    def test_data_ports_left_behind_between_tree_and_alias(self):
        with open(self.site.path("site/local.txt"), "wb") as f:
            f.write(b"local bytes")
        c = self.raw()
        # A local passive listener closes once PASV went to the alias...
        reply = c.cmd("PASV")
        self.assertTrue(reply.startswith("227 "), reply)
        fields = reply[reply.index("(") + 1:reply.index(")")].split(",")
        local_port = int(fields[4]) * 256 + int(fields[5])
        self.assertEqual(c.cmd("CWD /leftover"), "250 cwd ok")
        self.assertEqual(c.cmd("PASV"), "227 Entering Passive Mode (127,0,0,1,4,1)")
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", local_port), timeout=5).close()
        # ...and a local PORT is not used again after PORT went there.
        listener = socket.socket()
        self.addCleanup(listener.close)
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        port = listener.getsockname()[1]
        self.assertEqual(c.cmd("CWD /"), "250 CWD command successful.")
        self.assertEqual(c.cmd(f"PORT 127,0,0,1,{port >> 8},{port & 255}"),
                         "200 PORT command successful.")
        self.assertEqual(c.cmd("CWD /leftover"), "250 cwd ok")
        self.assertEqual(c.cmd("PORT 127,0,0,1,200,10"), "200 PORT ok")
        self.assertEqual(c.cmd("CWD /"), "250 CWD command successful.")
        self.assertEqual(c.cmd("RETR local.txt"), "425 Can't open data connection")
        listener.settimeout(0.5)
        with self.assertRaises(socket.timeout):
            listener.accept()

    def test_forwarding_announcements_replace_each_other(self):
        c = self.raw()
        chain = ",".join(f"host{i}" for i in range(40))
        self.assertEqual(c.cmd(f"SITE REMOTE VIA {chain}"), "200 Command successful.")
        self.assertEqual(c.cmd("CWD /leftover"), UNABLE)
        # A shorter chain later on the same connection lets the session forward again.
        self.assertEqual(c.cmd("SITE REMOTE VIA host0"), "200 Command successful.")
        self.assertEqual(c.cmd("CWD /leftover"), "250 cwd ok")
        self.assertTrue(self.scripted["leftover"].lines_for("SITE")[-1][1].startswith(
            "SITE REMOTE VIA host0,"))

    def test_listings_name_the_remote_directory(self):
        server = self.scripted["list"]
        c = self.inside("list")
        self.assertEqual(c.cmd("CWD sub"), "250 cwd ok")
        self.assertEqual(c.cmd("LIST -la"), "550 no")
        self.assertEqual(c.cmd("NLST"), "550 no")
        self.assertEqual(c.cmd("LIST -l other"), "550 no")
        lines = [line for _, line in server.received if line.split()[0] in ("CWD", "LIST", "NLST")]
        self.assertEqual(lines[-5:], ["CWD /sub/", "LIST -la", "CWD /sub/", "NLST",
                                      "LIST -l /sub/other"])

    def test_client_abort_and_hang_up_end_the_wait(self):
        c = self.inside("abort")
        c.send("RETR f\r\n")
        self.assertEqual(c.reply(), ["150 opening"])
        c.send("ABOR\r\n")
        self.assertEqual(c.reply(), ["426 aborted"])
        self.assertEqual(c.reply(), ["226 abor ok"])
        self.assertEqual(c.cmd("NOOP"), "200 ok")

        hang = self.scripted["hang"]
        c = self.inside("hang")
        closed = hang.closed
        c.send("RETR f\r\n")
        self.assertEqual(c.reply(), ["150 opening"])
        c.close()
        self.assertTrue(eventually(lambda: hang.closed > closed, timeout=10))

    def test_aborted_transfer_never_shifts_replies(self):
        dave = self.inside("kick", "dave")
        dave.send("RETR f\r\n")
        self.assertEqual(dave.reply(), ["150 opening"])
        op = self.raw()
        op.send("SITE DELUSER dave\r\n")
        self.assertEqual(op.reply()[-1], "200 User (dave) deleted.")
        self.assertEqual(dave.reply(), ["426 Transfer aborted."])
        time.sleep(5)  # the server's late 226 has come by now
        self.assertEqual(op.cmd("CWD /kick"), "250 cwd ok")
        self.assertEqual(op.cmd("NOOP"), "200 ok")
        self.assertEqual(op.cmd("NOOP"), "200 ok")

    def test_disconnect_under_a_holder(self):
        bob = self.inside("hang2", "bob")
        bob.send("RETR f\r\n")
        self.assertEqual(bob.reply(), ["150 opening"])
        op = self.raw()
        self.assertEqual(op.cmd("SITE REMOTE DISCONNECT /hang2"),
                         "200 Killed 1 connection (/hang2/).")
        # New connections take the freed descriptor numbers at once.
        others = [self.inside("greet421") for _ in range(3)]
        self.assertEqual(bob.reply(),
                         ["530 ERROR: unable to receive the data connection response."])
        self.assertEqual(bob.cmd("NOOP"), "200 ok")
        for o in others:
            self.assertEqual(o.cmd("NOOP"), "200 ok")

    def test_hostile_replies_are_bounded(self):
        c = self.raw()
        pid = self.server.proc.pid
        before = rss_kb(pid)
        for name in ("endless", "dribble", "longline"):
            start = time.monotonic()
            self.assertEqual(c.cmd(f"CWD /{name}"), UNABLE, name)
            self.assertLess(time.monotonic() - start, 20, name)
            # The connection is dropped, not left to its sender.
            self.assertTrue(eventually(lambda: self.scripted[name].closed >= 1, timeout=15), name)
        self.assertLess(rss_kb(pid) - before, 64 << 10)
        self.assertEqual(c.cmd("CWD /greet421"), "250 cwd ok")

    def test_a_hostile_peer(self):
        # Entering a sharing alias whose PASV names another host: nothing is sent anywhere.
        bob = self.raw("bob", "pw")
        self.assertEqual(bob.cmd("CWD /evilpeer"), UNABLE)
        self.assertEqual(self.scripted["evilpeer"].lines_for("SITE"), [])
        with self.assertRaises(socket.timeout):
            self.elsewhere.accept()[0].close()
        # A peer logs in only the users whose home it is, and none of them as an operator.
        link = self.raw("link", "pw")
        for line in ("SITE REMOTE LOGIN evil 0 1.2.3.4 21", "SITE REMOTE UPDATE bob 0 1.2.3.4 21"):
            self.assertEqual(link.cmd(line), "503 1.2.3.4: Invalid home IP.", line)
        name = "evil$127.0.0.1$21"
        data = passive(link)
        link.send("SITE REMOTE LOGIN evil 0 127.0.0.1 21\r\n")
        first = link.reply()[-1]
        self.assertRegex(first, rf"^152 No information found for user '{re.escape(name)}' "
                                r"\([A-Y]{16}\)\.$")
        password = first[-18:-2]
        self.assertEqual(link.reply()[-1][:3], "150")
        data.sendall(user_file(flags="17R4", ips=("*",)).encode())
        data.close()
        self.assertEqual(link.reply()[-1][:3], "226")
        evil = RawClient(self.port, timeout=30)
        self.addCleanup(evil.close)
        evil.reply()
        evil.cmd(f"USER {name}")
        evil.send(f"PASS {password}\r\n")
        self.assertEqual(evil.reply()[-1], "230 User evil logged in.")
        flags = [line for line in self.site.read(f"ftp-data/users/{name}").splitlines()
                 if line.startswith("FLAGS")]
        self.assertEqual(flags, ["FLAGS 4"])
        self.assertEqual(evil.cmd("SITE CHPASS orvex x"),
                         "550 You do not have access to this command.")
        # The temporary password reached no log.
        logs = self.site.path("ftp-data/logs")
        for log in os.listdir(logs):
            with open(os.path.join(logs, log), errors="replace") as f:
                self.assertNotIn(password, f.read(), log)
