"""The clients people use today against one running server: raw sessions through FEAT, EPSV,
EPRT, MLSD and MLST, Python's FTP_TLS (AUTH TLS), lftp with its default settings and curl, over
IPv4 and IPv6 loopback. A test module mixes `ModernClients` into a class that starts its server
once and sets the attributes named in the class text."""

import ftplib
import io
import os
import re
import shutil
import socket
import ssl
import subprocess

from harness import RawClient

FACTS = "type*;size*;modify*;perm*;unix.mode*;unix.owner*;unix.group*;"
FEAT_TAIL = ["211- AUTH TLS", "211- EPSV", "211- EPRT", "211- MDTM", "211- SIZE",
             "211- REST STREAM", "211- MLST " + FACTS, "211- UTF8", "211- TVFS",
             "211 FEAT command successful."]
FEAT_WITH_TLS = ["211-Extensions supported", "211-  AUTH SSL", "211-  PBSZ", "211-  PROT",
                 *FEAT_TAIL]
MODIFY = r"modify=\d{14};"


def ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


def client_context():
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    ctx.check_hostname = False
    ctx.verify_mode = ssl.CERT_NONE
    return ctx


def payload(size, seed=13):
    return bytes((i * seed + i // 251) & 0xFF for i in range(size))


def epsv_port(reply):
    m = re.fullmatch(r"229 Entering Extended Passive Mode \(\|\|\|(\d+)\|\)\.", reply)
    assert m, reply
    return int(m.group(1))


class ModernClients:
    """Needs: `port` (plain port on 127.0.0.1 and, with `ipv6`, on ::1), `implicit_port` or None,
    `user`, `password`, `served` (the directory the user logs in to), `owner`, `group` (what
    listings show for a file the user uploaded), `ipv6` (whether ::1 is served)."""

    def raw(self, host="127.0.0.1"):
        client = RawClient(self.port, host=host, timeout=20)
        self.addCleanup(client.close)
        while True:
            if client.line()[:4] == "220 ":
                return client

    def lines(self, client, command):
        client.send(command + "\r\n")
        return client.reply()

    def log_in(self, client):
        self.assertEqual(client.cmd(f"USER {self.user}"),
                         f"331 Password required for {self.user}.")
        client.send(f"PASS {self.password}\r\n")
        self.assertEqual(client.reply()[-1], f"230 User {self.user} logged in.")

    def put(self, name, data):
        with open(os.path.join(self.served, name), "wb") as f:
            f.write(data)

    def get(self, name):
        with open(os.path.join(self.served, name), "rb") as f:
            return f.read()

    def data_listing(self, client, command, connect):
        """Runs a listing `command` whose data connection `connect()` opens after the command
        (passive) or accepts (active); the data as text and the final reply."""
        client.send(command + "\r\n")
        data = connect()
        with data:
            chunks = []
            while True:
                chunk = data.recv(65536)
                if not chunk:
                    break
                chunks.append(chunk)
        self.assertTrue(client.reply()[-1].startswith("150 "))
        return b"".join(chunks).decode(), client.reply()[-1]

    def passive(self, client, host="127.0.0.1"):
        port = epsv_port(client.cmd("EPSV"))
        return lambda: socket.create_connection((host, port), timeout=20)

    def active(self, client, host, family):
        listener = socket.socket(family)
        self.addCleanup(listener.close)
        listener.bind((host, 0))
        listener.listen(1)
        listener.settimeout(20)
        number = 1 if family == socket.AF_INET else 2
        port = listener.getsockname()[1]
        self.assertEqual(client.cmd(f"EPRT |{number}|{host}|{port}|"),
                         "200 EPRT command successful.")
        return lambda: listener.accept()[0]

    def entry_facts(self, name, size, directory=False):
        kind = "type=dir;" if directory else f"type=file;size={size};"
        perm = "elcmdfp" if directory else "rawdf"
        return (re.escape(kind) + MODIFY + re.escape(
            f"perm={perm};unix.mode={self.expected_mode(name, directory)};"
            f"unix.owner={self.owner};unix.group={self.group};"))

    # The walks.

    def test_control_session_over_ipv4(self):
        c = self.raw()
        # Before login: FEAT, OPTS and nothing else new.
        self.assertEqual(self.lines(c, "FEAT"), FEAT_WITH_TLS)
        self.assertEqual(c.cmd("OPTS UTF8 ON"), "200 UTF8 set to on")
        self.assertEqual(c.cmd("EPSV"), "530 Please login with USER and PASS.")
        self.log_in(c)
        # What the user makes is the user's, in the listings of both kinds.
        self.assertTrue(c.cmd("MKD sub").startswith("257 "))
        port = epsv_port(c.cmd("EPSV"))
        c.send("STOR facts.txt\r\n")
        with socket.create_connection(("127.0.0.1", port), timeout=20) as data:
            self.assertTrue(c.reply()[-1].startswith("150 "))
            data.sendall(b"12345")
        self.assertTrue(c.reply()[-1].startswith("226 "))
        for command, reply in [
            ("SYST", "215 UNIX Type: L8"),
            ("STRU F", "200 STRU F ok."),
            ("EPSV 2", "522 Network protocol not supported, use (1)."),
            ("EPSV 7", "522 Network protocol not supported, use (1)."),
            ("EPRT |3|1.2.3.4|5000|", "522 Network protocol not supported, use (1,2)."),
            ("EPRT |1|::1|5000|", "500 Invalid EPRT command."),
            ("EPRT |1|127.0.0.1|80|", "500 Invalid EPRT command."),
            ("EPRT |2|::1|1024|", "500 Invalid EPRT command."),
            ("EPRT |1|127.0.0.1|0|", "500 Invalid EPRT command."),
            ("EPRT |1|127.0.0.1|70000|", "500 Invalid EPRT command."),
            ("EPRT", "500 'EPRT': Invalid number of parameters."),
            ("MLST nothing.here", "550 nothing.here: No such file or directory."),
            ("MLSD facts.txt", "501 facts.txt: Not a directory."),
            ("MLSD nothing.here", "550 nothing.here: No such file or directory."),
        ]:
            self.assertEqual(c.cmd(command), reply, command)

        # MLST on the control connection, with every fact, then with the ones chosen.
        lines = self.lines(c, "MLST facts.txt")
        self.assertEqual(lines[0], "250-Listing facts.txt")
        self.assertRegex(lines[1], "^ " + self.entry_facts("facts.txt", 5) + " facts.txt$")
        self.assertEqual(lines[2:], ["250 End"])
        self.assertEqual(c.cmd("OPTS MLST Type;size;bogus;"), "200 MLST OPTS type;size;")
        self.assertEqual(self.lines(c, "MLST facts.txt"),
                         ["250-Listing facts.txt", " type=file;size=5; facts.txt", "250 End"])
        self.assertIn("211- MLST type*;size*;modify;perm;unix.mode;unix.owner;unix.group;",
                      self.lines(c, "FEAT"))
        self.assertEqual(c.cmd("OPTS MLST " + FACTS.replace("*", "")),
                         "200 MLST OPTS " + FACTS.replace("*", ""))

        # MLSD passive (EPSV) and active (EPRT).
        text, final = self.data_listing(c, "MLSD", self.passive(c))
        self.assertTrue(final.startswith("226 "), final)
        rows = {line.split("; ", 1)[1]: line for line in text.split("\r\n") if line}
        self.assertRegex(rows["facts.txt"], "^" + self.entry_facts("facts.txt", 5) + " facts.txt$")
        self.assertRegex(rows["sub"], "^" + self.entry_facts("sub", 0, directory=True) + " sub$")
        text, final = self.data_listing(c, "LIST",
                                        self.active(c, "127.0.0.1", socket.AF_INET))
        self.assertIn("facts.txt", text)
        self.assertTrue(final.startswith("226 "), final)

        # EPSV ALL: from now on only EPSV sets up data connections.
        self.assertEqual(c.cmd("EPSV ALL"), "200 EPSV ALL command successful.")
        for command in ("PASV", "PORT 127,0,0,1,200,10", "EPRT |1|127.0.0.1|51210|"):
            verb = command.split()[0]
            self.assertEqual(c.cmd(command), f"503 {verb} not allowed after EPSV ALL.")
        self.assertEqual(c.cmd("TYPE I"), "200 Type is set to I.")
        text, final = self.data_listing(c, "RETR facts.txt", self.passive(c))
        self.assertEqual(text, "12345")
        self.assertTrue(final.startswith("226 "), final)

    def test_ftplib_auth_tls(self):
        big = payload(300000)
        self.put("tls.bin", big)
        ftp = ftplib.FTP_TLS(context=client_context(), timeout=30)
        self.addCleanup(ftp.close)
        ftp.connect("127.0.0.1", self.port)
        self.assertEqual(ftp.auth(), "234 Security data exchange complete.")
        ftp.login(self.user, self.password)
        # Data stays clear until PROT P.
        self.assertIn("tls.bin", ftp.nlst())
        ftp.prot_p()
        got = io.BytesIO()
        ftp.retrbinary("RETR tls.bin", got.write)
        self.assertEqual(got.getvalue(), big)
        up = payload(54321, seed=3)
        ftp.storbinary("STOR tls-up.bin", io.BytesIO(up))
        self.assertEqual(self.get("tls-up.bin"), up)
        facts = dict(ftp.mlsd())
        self.assertEqual(facts["tls-up.bin"]["type"], "file")
        self.assertEqual(facts["tls-up.bin"]["size"], str(len(up)))
        self.assertEqual(facts["tls-up.bin"]["unix.owner"], self.owner)
        self.assertEqual(facts["tls-up.bin"]["unix.group"], self.group)
        self.assertRegex(facts["tls-up.bin"]["modify"], r"^\d{14}$")
        self.assertEqual(set(facts["tls-up.bin"]),
                         {"type", "size", "modify", "perm", "unix.mode", "unix.owner",
                          "unix.group"})
        ftp.quit()

    def lftp(self, url, commands, *settings):
        if not shutil.which("lftp"):
            self.skipTest("lftp is missing")
        home = os.path.join(self.served, "..", "lftp-home")
        os.makedirs(home, exist_ok=True)
        env = dict(os.environ, HOME=home, LFTP_HOME=home)
        script = "; ".join(["set ssl:verify-certificate no", "set net:max-retries 1",
                            "set net:timeout 20", *settings, "debug 5",
                            f"open -u {self.user},{self.password} {url}", *commands])
        r = subprocess.run(["lftp", "-c", script], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, cwd=self.served, env=env, timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr.decode(errors="replace")[-3000:])
        return r.stdout.decode(errors="replace"), r.stderr.decode(errors="replace")

    def test_lftp_with_default_settings_negotiates_tls(self):
        self.put("lf.bin", payload(150000, seed=5))
        out_path = os.path.join(self.served, "..", "lf-got.bin")
        out, debug = self.lftp(f"ftp://127.0.0.1:{self.port}",
                               [f"get lf.bin -o {out_path}", "cls -1"])
        with open(out_path, "rb") as f:
            self.assertEqual(f.read(), payload(150000, seed=5))
        self.assertIn("lf.bin", out)
        sent = [line for line in debug.splitlines() if line.startswith("--->")]
        auth = [i for i, line in enumerate(sent) if line.startswith("---> AUTH TLS")]
        password = [i for i, line in enumerate(sent) if line.startswith("---> PASS")]
        self.assertTrue(auth and password, debug[-3000:])
        self.assertLess(auth[0], password[0])
        self.assertIn("<--- 234 ", debug)

    def curl(self, *args):
        if not shutil.which("curl"):
            self.skipTest("curl is missing")
        r = subprocess.run(["curl", "-sS", "-k", "--max-time", "60", "-u",
                            f"{self.user}:{self.password}", *args],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=90)
        self.assertEqual(r.returncode, 0, r.stderr.decode(errors="replace"))
        return r.stdout

    def test_curl_ssl_reqd_and_implicit_tls(self):
        data = payload(200000, seed=7)
        self.put("c.bin", data)
        self.assertEqual(self.curl("--ssl-reqd", f"ftp://127.0.0.1:{self.port}/c.bin"), data)
        if self.implicit_port:
            self.assertEqual(self.curl(f"ftps://127.0.0.1:{self.implicit_port}/c.bin"), data)

    def test_ipv6_loopback(self):
        if not self.ipv6:
            self.skipTest("this host has no IPv6 loopback")
        self.put("six.txt", b"over six\n")
        c = self.raw("::1")
        self.log_in(c)
        self.assertEqual(c.cmd("PASV"), "522 Network protocol not supported, use EPSV.")
        self.assertEqual(c.cmd("EPSV 1"), "522 Network protocol not supported, use (2).")
        text, final = self.data_listing(c, "MLSD", self.passive(c, "::1"))
        self.assertIn("; six.txt\r\n", text)
        self.assertTrue(final.startswith("226 "), final)
        text, final = self.data_listing(c, "RETR six.txt",
                                        self.active(c, "::1", socket.AF_INET6))
        self.assertEqual(text, "over six\r\n")

        # curl: EPSV, then EPRT (active), both ways.
        data = payload(120000, seed=17)
        self.put("six.bin", data)
        url = f"ftp://[::1]:{self.port}/"
        self.assertEqual(self.curl("-g", url + "six.bin"), data)
        self.assertEqual(self.curl("-g", "--ftp-port", "::1", url + "six.bin"), data)
        src = os.path.join(self.served, "..", "six-src.bin")
        with open(src, "wb") as f:
            f.write(data[:7777])
        self.curl("-g", "--ftp-port", "::1", "-T", src, url + "six-up.bin")
        self.assertEqual(self.get("six-up.bin"), data[:7777])

        # lftp: passive and active.
        for mode in ("on", "off"):
            target = os.path.join(self.served, "..", f"six-lftp-{mode}.bin")
            out, debug = self.lftp(f"ftp://[::1]:{self.port}", [f"get six.bin -o {target}"],
                                   f"set ftp:passive-mode {mode}")
            with open(target, "rb") as f:
                self.assertEqual(f.read(), data)
            self.assertIn("---> EPSV" if mode == "on" else "---> EPRT |2|", debug)
