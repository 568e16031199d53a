"""Today's clients against one running server: a raw session through FEAT, EPSV, EPRT, MLSD and
MLST over each address family, then ftplib's FTP_TLS (AUTH TLS), lftp as it comes, and curl.
A module mixes `ModernClients` into a class that starts its server once and sets `port`, `user`,
`password`, `served` (the user's directory), `owner`, `group`, `modes` (of a new file and a new
directory) and `ipv6` (whether ::1 is served too)."""

import calendar
import ftplib
import io
import os
import re
import shutil
import socket
import ssl
import subprocess

from harness import FTP_TLS, RawClient

# RFC 2389's form, which tnftp reads: a feature line begins with one space and has no code.
FEAT = ["211-Extensions supported", " AUTH SSL", " PBSZ", " PROT", " AUTH TLS", " EPSV", " EPRT",
        " MDTM", " MFMT", " SIZE", " REST STREAM",
        " MLST type*;size*;modify*;perm*;unix.mode*;unix.owner*;unix.group*;", " UTF8", " TVFS",
        "211 FEAT command successful."]


def ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


class ModernClients:
    def ask(self, c, command):
        c.send(command + "\r\n")
        return c.reply()

    def data(self, c, command, host, active=False, upload=None):
        """`command` over a connection set up by EPSV or (active) EPRT: what came, final reply."""
        if active:
            listener = socket.create_server((host, 0), family=socket.AF_INET6 if ":" in host
                                            else socket.AF_INET)
            self.addCleanup(listener.close)
            listener.settimeout(20)
            port = listener.getsockname()[1]
            self.assertEqual(c.cmd(f"EPRT |{2 if ':' in host else 1}|{host}|{port}|"),
                             "200 EPRT command successful.")
        else:
            port = int(re.fullmatch(r"229 Entering Extended Passive Mode \(\|\|\|(\d+)\|\)\.",
                                    c.cmd("EPSV")).group(1))
        c.send(command + "\r\n")
        with listener.accept()[0] if active else socket.create_connection((host, port), 20) as d:
            if upload is not None:
                d.sendall(upload)
                d.shutdown(socket.SHUT_WR)
            got = b"".join(iter(lambda: d.recv(65536), b""))
        self.assertRegex(c.reply()[-1], "^150 ")
        return got.decode(), c.reply()[-1]

    def facts(self, name, size=None):
        kind, perm = ("type=dir;", "elcmdfp") if size is None else (f"type=file;size={size};",
                                                                    "rawdf")
        return (f"{re.escape(kind)}modify=\\d{{14}};perm={perm};unix.mode="
                f"{self.modes[size is None]};unix.owner={self.owner};unix.group={self.group}; "
                f"{re.escape(name)}$")

    def test_control_sessions(self):
        for host in ("127.0.0.1", "::1") if self.ipv6 else ("127.0.0.1",):
            own, other = ("2", "1") if ":" in host else ("1", "2")
            name = f"f{own}.txt"
            c = RawClient(self.port, host=host, timeout=20)
            self.addCleanup(c.close)
            c.reply()
            self.assertEqual(self.ask(c, "FEAT"), FEAT)
            self.assertEqual(c.cmd("OPTS UTF8 ON"), "200 UTF8 set to on")
            self.assertEqual(c.cmd("EPSV"), "530 Please login with USER and PASS.")
            c.cmd(f"USER {self.user}")
            self.assertEqual(self.ask(c, f"PASS {self.password}")[-1],
                             f"230 User {self.user} logged in.")
            checks = [
                ("SYST", "215 UNIX Type: L8"),
                (f"EPSV {other}", f"522 Network protocol not supported, use ({own})."),
                ("EPRT |3|1.2.3.4|5000|", "522 Network protocol not supported, use (1,2)."),
                (f"EPRT |{own}|{host}|1024|", "500 Invalid EPRT command."),
                ("MLST nothing", "550 nothing: No such file or directory."),
            ]
            if own == "2":
                checks += [("PASV", "522 Network protocol not supported, use EPSV."),
                           ("EPRT |1|::1|5000|", "500 Invalid EPRT command.")]
            for command, reply in checks:
                self.assertEqual(c.cmd(command), reply, command)
            # What the user makes is the user's, in both listings.
            self.assertRegex(c.cmd(f"MKD d{own}"), "^257 ")
            self.assertRegex(self.data(c, f"STOR {name}", host, upload=b"12345")[1], "^226 ")
            self.assertEqual(c.cmd(f"MLSD {name}"), f"501 {name}: Not a directory.")
            lines = self.ask(c, f"MLST {name}")
            self.assertEqual([lines[0], lines[2]], [f"250-Listing {name}", "250 End"])
            self.assertRegex(lines[1], "^ " + self.facts(name, 5))
            listing = self.data(c, "MLSD", host, active=True)[0]
            self.assertRegex(listing, "(?m)^" + self.facts(name, 5).replace("$", "\r$"))
            self.assertRegex(listing, "(?m)^" + self.facts(f"d{own}").replace("$", "\r$"))
            self.assertEqual(c.cmd("OPTS MLST Size;bogus;type"), "200 MLST OPTS size;type;")
            self.assertEqual(self.ask(c, f"MLST {name}")[1], f" type=file;size=5; {name}")
            self.assertIn(" MLST type*;size*;modify;perm;unix.mode;unix.owner;unix.group;",
                          self.ask(c, "FEAT"))
            # After EPSV ALL only EPSV sets up data connections.
            self.assertEqual(c.cmd("EPSV ALL"), "200 EPSV ALL command successful.")
            for verb in ("PASV", "PORT 127,0,0,1,200,10", f"EPRT |{own}|{host}|51210|"):
                self.assertEqual(c.cmd(verb), f"503 {verb.split()[0]} not allowed after EPSV ALL.")
            self.assertEqual(self.data(c, f"RETR {name}", host)[0], "12345")

    def client_home(self):
        home = os.path.join(self.served, "..", "client-home")
        os.makedirs(home, exist_ok=True)
        return home

    def run_client(self, *argv, ok=True):
        if not shutil.which(argv[0]):
            self.skipTest(f"{argv[0]} is missing")
        home = self.client_home()
        r = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120,
                           cwd=home, env=dict(os.environ, HOME=home, LFTP_HOME=home))
        self.assertEqual(r.returncode == 0, ok, r.stderr.decode(errors="replace")[-3000:])
        return r.stdout, r.stderr.decode(errors="replace")

    def lftp(self, host, *commands, ok=True, retries=1):
        return self.run_client("lftp", "-c", "; ".join([
            "set ssl:verify-certificate no", f"set net:max-retries {retries}",
            "set net:reconnect-interval-base 1", "debug 5",
            f"open -u {self.user},{self.password} ftp://{host}:{self.port}", *commands]),
            ok=ok)[1]

    def session(self):
        c = RawClient(self.port, timeout=20)
        self.addCleanup(c.close)
        c.reply()
        c.cmd(f"USER {self.user}")
        self.assertEqual(self.ask(c, f"PASS {self.password}")[-1],
                         f"230 User {self.user} logged in.")
        return c

    def test_modification_times(self):
        when = calendar.timegm((2020, 1, 2, 3, 4, 5))
        with open(os.path.join(self.served, "times.txt"), "w") as f:
            f.write("t")
        outside = os.path.join(self.served, "..", "outside.txt")
        with open(outside, "w") as f:
            f.write("o")
        os.utime(outside, (1000000000, 1000000000))
        os.symlink(outside, os.path.join(self.served, "out.txt"))
        c = self.session()
        for command, reply in (
                # rclone's MFMT, then ncftp's MDTM with the time first.
                ("MFMT 20200102030405 times.txt", "213 Modify=20200102030405; times.txt"),
                ("MDTM times.txt", "213 20200102030405"),
                ("MDTM 20261210024135 times.txt", "213 Modify=20261210024135; times.txt"),
                ("MDTM times.txt", "213 20261210024135"),
                # Not the exact shape of a time: a file name as it always was.
                ("MDTM 2026121002413 times.txt",
                 "550 2026121002413 times.txt: No such file or directory."),
                ("MFMT 20261310000000 times.txt", "501 '20261310000000': Invalid time value."),
                ("MFMT 20200102030405", "500 'MFMT': Invalid number of parameters."),
                ("MFMT 20200102030405 none.txt", "550 none.txt: No such file or directory."),
                ("MFMT 20200102030405 /", "550 /: not a plain file."),
                ("MFMT 20200102030405.5 /times.txt", "213 Modify=20200102030405; /times.txt")):
            self.assertEqual(c.cmd(command), reply, command)
        self.assertEqual(os.stat(os.path.join(self.served, "times.txt")).st_mtime, when)
        # A link out of the root leads nowhere.
        self.assertRegex(c.cmd("MFMT 20200102030405 out.txt"), "^550 ")
        self.assertEqual(os.stat(outside).st_mtime, 1000000000)
        # lftp's mirror sets the times of what it uploads.
        tree = os.path.join(self.client_home(), "tree")
        os.makedirs(tree, exist_ok=True)
        for name in ("a.txt", "b.txt"):
            with open(os.path.join(tree, name), "w") as f:
                f.write(name)
            os.utime(os.path.join(tree, name), (when, when))
        self.assertIn("---> MFMT 20200102030405 ", self.lftp("127.0.0.1", "mirror -R tree tree"))
        for name in ("a.txt", "b.txt"):
            self.assertEqual(os.stat(os.path.join(self.served, "tree", name)).st_mtime, when)

    def curl(self, *args):
        return self.run_client("curl", "-sS", "-k", "-g", "--max-time", "60", "-u",
                               f"{self.user}:{self.password}", *args)[0]

    def test_real_clients(self):
        data = bytes((i * 13 + i // 251) & 0xFF for i in range(200000))
        with open(os.path.join(self.served, "c.bin"), "wb") as f:
            f.write(data)
        ftp = FTP_TLS(context=ssl._create_unverified_context(), timeout=30)
        self.addCleanup(ftp.close)
        ftp.connect("127.0.0.1", self.port)
        ftp.login(self.user, self.password)  # AUTH TLS first
        self.assertIn("c.bin", ftp.nlst())  # data in clear until PROT P
        ftp.prot_p()
        got = io.BytesIO()
        ftp.retrbinary("RETR c.bin", got.write)
        self.assertEqual(got.getvalue(), data)
        ftp.storbinary("STOR up.bin", io.BytesIO(data[:4321]))
        up = dict(ftp.mlsd())["up.bin"]
        self.assertEqual([up["type"], up["size"], up["unix.owner"], up["unix.group"]],
                         ["file", "4321", self.owner, self.group])
        ftp.quit()
        # lftp as it comes sends AUTH TLS, seen in the FEAT reply, before the password.
        sent = [line for line in self.lftp("127.0.0.1", "cls -1").splitlines()
                if line.startswith("---> ")]
        self.assertLess(sent.index("---> AUTH TLS"),
                        [i for i, s in enumerate(sent) if s.startswith("---> PASS")][0])
        self.assertEqual(self.curl("--ssl-reqd", f"ftp://127.0.0.1:{self.port}/c.bin"), data)
        if not self.ipv6:
            return
        # IPv6 with curl and lftp, passive (EPSV) and active (EPRT).
        url = f"ftp://[::1]:{self.port}/c.bin"
        self.assertEqual(self.curl(url), data)
        self.assertEqual(self.curl("--ftp-port", "::1", url), data)
        for mode, verb in (("on", "---> EPSV"), ("off", "---> EPRT |2|")):
            target = os.path.join(self.served, f"l-{mode}.bin")
            self.assertIn(verb, self.lftp("[::1]", f"set ftp:passive-mode {mode}",
                                          f"get c.bin -o {target}"))
            with open(target, "rb") as f:
                self.assertEqual(f.read(), data)
