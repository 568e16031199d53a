"""Two orvex servers on loopback that share their users through type D aliases pointing at each
other: A on 127.0.0.2, B on 127.0.0.3, each with site_ip set, so that each sees the other's
connections come from the address it knows it by."""

import ftplib
import io
import os
import re
import shutil
import socket
import struct
import sys
import tempfile
import threading
import time
import unittest

from harness import RawClient
from orvex_support import OrvexSite, eventually, free_port, user_file
from remote_support import ScriptedServer

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "server", "accounts"))
import cipher_model  # noqa: E402

PASSWORD = "Adm1nPass"
LINK = "linkpw"
A_IP, B_IP = "127.0.0.2", "127.0.0.3"
DATA = os.urandom(64 << 10)
PASV = re.compile(r"\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)")


def loopback_aliases_work():
    try:
        with socket.socket() as s:
            s.bind((B_IP, 0))
        return True
    except OSError:
        return False


def make_site(tmp, ip, users):
    site = OrvexSite(tempfile.mkdtemp(prefix="orvex-" + ip + "-", dir=tmp))
    port = free_port()
    site.set_conf(server_port=str(port), bind_ip=ip, site_ip=ip, default_homedir="./site/")
    site.set_password("orvex", PASSWORD)
    for uid, (name, password, fields) in enumerate(users, start=300):
        site.write("etc/passwd", site.read("etc/passwd") + f"{name};;{uid};100;01-01-25;./site/\n")
        site.set_password(name, password)
        site.write(f"ftp-data/users/{name}", user_file(**fields))
    return site, port


def login(ip, port, user, password, source=None):
    c = RawClient(port, host=ip, timeout=30, source=source)
    c.reply()
    c.cmd(f"USER {user}")
    c.send(f"PASS {password}\r\n")
    return c, c.reply()


class SharedUsers(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not loopback_aliases_work():
            raise unittest.SkipTest("127.0.0.3 cannot be bound here")
        cls.tmp = tempfile.mkdtemp(prefix="orvex-shared-")
        cls.servers = []
        try:
            link = ("link", LINK, {"flags": "R"})
            cls.a, cls.pa = make_site(cls.tmp, A_IP, [
                link, ("bob", "bobpw", {"credits": 1000, "ratio": 3, "tagline": "first"}),
                ("dave", "davepw", {"group": "crew"}), ("erin", "erinpw", {})])
            cls.b, cls.pb = make_site(cls.tmp, B_IP, [link])
            cls.b.make_keys()
            os.makedirs(cls.b.path("site/pub"), exist_ok=True)
            with open(cls.b.path("site/pub/b.bin"), "wb") as f:
                f.write(DATA)
            cls.b.write("ftp-data/misc/welcome.msg", "Welcome to B.\n")
            # Users from A may upload into B's /pub.
            pub = cls.b.path("site/pub").replace("/", "\\") + "\\"
            cls.b.write("fs/orvex.fs", f"{pub};1;rwxrwxrwx;0;100;;0;0\n")
            for site in (cls.a, cls.b):
                proc = site.start()
                cls.servers.append(proc)
                proc.ready()
            cls.aproc, cls.bproc = cls.servers
            cls.add_alias(A_IP, cls.pa, "remoteb", B_IP, cls.pb, "/pub")
            cls.add_alias(B_IP, cls.pb, "homea", A_IP, cls.pa, "/")
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for proc in cls.servers:
            proc.kill()
        if getattr(cls, "peer", None):
            cls.peer.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def add_alias(cls, ip, port, name, to_ip, to_port, remote):
        c, r = login(ip, port, "orvex", PASSWORD)
        assert r[-1] == "230 User orvex logged in.", r
        assert c.cmd(f"SITE REMOTE ADDALIAS {{{name}}} {to_ip} {to_port} link {LINK} {remote}") \
            == "200 Alias successfully added."
        for field, value in (("server_type", "D"), ("share_users", "1")):
            c.send(f"SITE REMOTE CHANGE {{{name}}} {field} {value}\r\n")
            assert c.reply()[-1] == "200 Done"
        c.close()

    def admin(self, on_b=False):
        c, r = login(B_IP if on_b else A_IP, self.pb if on_b else self.pa, "orvex", PASSWORD)
        self.addCleanup(c.close)
        self.assertEqual(r[-1], "230 User orvex logged in.")
        return c

    def link(self, on_b=True):
        # A peer's messages come from the peer, which speaks for its own users only.
        c, r = login(B_IP if on_b else A_IP, self.pb if on_b else self.pa, "link", LINK,
                     source=A_IP if on_b else B_IP)
        self.addCleanup(c.close)
        self.assertEqual(r[-1], "230 User link logged in.")
        return c

    def lines(self, client, command):
        client.send(command + "\r\n")
        return client.reply()

    def user_file(self, site, name):
        path = site.path(f"ftp-data/users/{name}")
        return site.read(f"ftp-data/users/{name}") if os.path.exists(path) else ""

    def field(self, site, name, key):
        for line in self.user_file(site, name).splitlines():
            if line.startswith(key + " "):
                return line.split()[1:]
        return None

    def ftp(self, user, password, ip=A_IP):
        # Data connections to B come from A's address too, as B's foreign-address check asks.
        f = ftplib.FTP(source_address=(A_IP, 0), timeout=30)
        f.connect(ip, self.pa if ip == A_IP else self.pb)
        f.login(user, password)
        # The data connections of an alias of this kind go to B itself.
        f.trust_server_pasv_ipv4_address = True
        self.addCleanup(f.close)
        return f

    def test_1_a_user_works_on_b_through_the_alias(self):
        bob_b = f"bob${A_IP}${self.pa}"
        f = self.ftp("bob", "bobpw")
        self.assertTrue(f.cwd("/remoteb").startswith("250"))
        self.assertEqual(f.pwd(), "/remoteb/")
        # B holds a copy of bob's account under the shared name, and a one-time password entry.
        self.assertIn("TAGLINE first", self.user_file(self.b, bob_b))
        self.assertIn(bob_b + ";", self.b.read("etc/remote.passwd"))
        self.assertIn("b.bin", f.nlst())
        got = io.BytesIO()
        f.retrbinary("RETR b.bin", got.write)
        self.assertEqual(got.getvalue(), DATA)
        f.storbinary("STOR up.bin", io.BytesIO(DATA[:32 << 10]))
        self.assertEqual(os.path.getsize(self.b.path("site/pub/up.bin")), 32 << 10)
        # A charges and credits its own user: 1000 - 64 + 32 * 3 KB.
        self.eventually(lambda: self.field(self.a, "bob", "CREDITS") == ["1032"])
        self.assertEqual(self.field(self.a, "bob", "ALLDN")[:2], ["1", "64"])
        self.assertEqual(self.field(self.a, "bob", "ALLUP")[:2], ["1", "32"])

        # On B bob is a user from another server ("R").
        b = self.admin(on_b=True)
        swho = self.lines(b, "SITE SWHO")
        self.assertTrue(any(re.search(r"\| R \| " + re.escape(bob_b), l) for l in swho), swho)

        # A change made on A reaches B's copy while bob works there.
        a = self.admin()
        self.assertEqual(self.lines(a, "SITE CHANGE bob TAGLINE changed")[-1][:3], "200")
        self.eventually(lambda: "TAGLINE changed" in self.user_file(self.b, bob_b))
        f.quit()

    def test_2_numbered_refusals(self):
        c = self.link()
        pa = self.pa
        for line, reply in (
                ("SITE REMOTE LOGIN ../x 1 1.2.3.4 21", "501 ../x: Invalid username."),
                ("SITE REMOTE LOGIN bob 1x 1.2.3.4 21", "502 1x: Invalid timestamp."),
                ("SITE REMOTE LOGIN bob 1 ../../etc 21", "503 ../../etc: Invalid home IP."),
                (f"SITE REMOTE LOGIN bob 1 {A_IP} 65536", "504 65536: Invalid home port."),
                ("SITE REMOTE UPDATE b/c 0 1.2.3.4 21", "501 b/c: Invalid username."),
                ("SITE REMOTE UPDATE bob -1 1.2.3.4 21", "502 -1: Invalid timestamp."),
                ("SITE REMOTE UPDATE bob 0 a..b 21", "503 a..b: Invalid home IP."),
                ("SITE REMOTE UPDATE bob 0 local x", "504 x: Invalid home port."),
                ("SITE REMOTE UPDATE bob 0 local 21",
                 "505 User 'bob' is not logged in as a shared user."),
                (f"SITE REMOTE UPDATE nobody 0 {A_IP} 21",
                 f"506 User 'nobody${A_IP}$21' does not exist."),
                ("SITE REMOTE SHAREDLOGIN 1x 1.2.3.4 21", "501 1x: Invalid username."),
                ("SITE REMOTE SHAREDLOGIN link host 21", "502 host: Invalid home IP."),
                ("SITE REMOTE SHAREDLOGIN link 1.2.3.4 -5", "503 -5: Invalid home port."),
                ("SITE REMOTE SHAREDLOGIN nobody 1.2.3.4 21", "504 User 'nobody' does not exist."),
                ("SITE REMOTE SHAREDLOGIN link 1.2.3.4 21",
                 "505 Unable to connect to alias for 1.2.3.4:21 "
                 "(alias entry must have identical IP)."),
                ("SITE REMOTE SHAREDQUIT link 1.2.3.4 21", "501 Quit failed."),
                (f"SITE REMOTE UPDATE carl 0 {A_IP} {pa}",
                 f"506 User 'carl${A_IP}${pa}' does not exist.")):
            self.assertEqual(c.cmd(line), reply, line)
        self.assertEqual(self.lines(c, "SITE REMOTE LOGIN bob 1")[-1], "200 Command Successful.")
        # Only accounts with the remote flag may send these.
        a = self.admin(on_b=True)
        self.assertEqual(a.cmd("SITE REMOTE LOGIN bob 1 1.2.3.4 21"),
                         "550 You do not have access to this command.")
        # Nothing of the refused names reached the users folder.
        self.assertFalse([n for n in os.listdir(self.b.path("ftp-data/users")) if ".." in n])

    def test_3_one_attempt_passwords(self):
        c = self.link()
        name = f"bob${A_IP}${self.pa}"
        ts = int(os.path.getmtime(self.b.path(f"ftp-data/users/{name}")))
        # The copy is current: no transfer, a password at once.
        first = c.cmd(f"SITE REMOTE LOGIN bob {ts} {A_IP} {self.pa}")
        m = re.fullmatch(r"200 User '(.+)' is valid \(([A-Y]{16})\)\.", first)
        self.assertTrue(m, first)
        self.assertEqual(m.group(1), name)
        second = c.cmd(f"SITE REMOTE LOGIN bob {ts} {A_IP} {self.pa}")
        self.assertNotEqual(second, first)  # never the same within one second
        password = second[-18:-2]
        u, r = login(B_IP, self.pb, name, "WRONGPASSWORDXYZ")
        u.close()
        self.assertEqual(r[-1], f"530 User {name} cannot login.")
        # The wrong attempt used the password up.
        u, r = login(B_IP, self.pb, name, password)
        u.close()
        self.assertEqual(r[-1], f"530 User {name} cannot login.")
        third = c.cmd(f"SITE REMOTE LOGIN bob {ts} {A_IP} {self.pa}")[-18:-2]
        u, r = login(B_IP, self.pb, name, third)
        self.assertEqual(r[-1], "230 User bob logged in.")
        u.close()
        u, r = login(B_IP, self.pb, name, third)
        u.close()
        self.assertEqual(r[-1], f"530 User {name} cannot login.")
        # A password not used within 30 seconds is worth nothing.
        late = c.cmd(f"SITE REMOTE LOGIN bob {ts} {A_IP} {self.pa}")[-18:-2]
        time.sleep(31)
        u, r = login(B_IP, self.pb, name, late)
        u.close()
        self.assertEqual(r[-1], f"530 User {name} cannot login.")

    def test_4_unknown_user_fetched_from_home(self):
        dave_b = f"dave${A_IP}${self.pa}"
        u, r = login(B_IP, self.pb, "dave", "davepw")
        self.addCleanup(u.close)
        self.assertEqual(r[-1], "230 User dave logged in.")
        self.assertIn("230- Welcome to B.", r)
        self.assertIn("GROUP crew", self.user_file(self.b, dave_b))
        # B's record of the login travels back to A's own file (UPDATE LOCAL, which A accepts
        # only from the address B named in SHAREDLOGIN).
        self.eventually(lambda: self.field(self.a, "dave", "TIME")[0] == "1")
        self.assertIn("crew;", self.b.read("etc/group"))
        b = self.admin(on_b=True)
        swho = self.lines(b, "SITE SWHO")
        self.assertTrue(any(re.search(r"\| S \| " + re.escape(dave_b), l) for l in swho), swho)
        # A knows where its user is.
        a = self.admin()
        shared = self.lines(a, "SITE REMOTE SHAREDCONNECTIONS")
        row = [l for l in shared if "dave" in l]
        self.assertEqual(len(row), 1, shared)
        self.assertRegex(row[0], r"\| dave +\| /remoteb/ +\| 127\.0\.0\.3 +\| %d +\|" % self.pb)
        self.assertEqual(shared[-1], "200 Command successful.")
        # A wrong password of a name B does not know is refused like any.
        w, r = login(B_IP, self.pb, "erin", "nope")
        w.close()
        self.assertEqual(r[-1], f"530 User erin${A_IP}${self.pa} cannot login.")

        # A change on A reaches B's copy through UPDATE.
        self.assertEqual(self.lines(a, "SITE CHANGE dave TAGLINE moved")[-1][:3], "200")
        self.eventually(lambda: "TAGLINE moved" in self.user_file(self.b, dave_b))

        # Leaving B removes the entry on A.
        self.assertEqual(u.cmd("QUIT")[:3], "221")
        self.eventually(lambda: not [l for l in self.lines(a, "SITE REMOTE SHAREDCONNECTIONS")
                                if "dave" in l])

    def test_5_home_that_cannot_be_updated_kicks(self):
        erin_b = f"erin${A_IP}${self.pa}"
        u, r = login(B_IP, self.pb, "erin", "erinpw")
        self.addCleanup(u.close)
        self.assertEqual(r[-1], "230 User erin logged in.")
        a = self.admin()
        # A forgets erin and can no longer reach B, so B's SHAREDLOGIN again fails too.
        la = self.link(on_b=False)
        self.assertEqual(la.cmd(f"SITE REMOTE SHAREDQUIT erin {B_IP} {self.pb}"),
                         "200 Quit successful.")
        a.send("SITE REMOTE CHANGE {remoteb} password wrongpw\r\n")
        self.assertEqual(a.reply()[-1], "200 Done")
        try:
            b = self.admin(on_b=True)
            self.assertEqual(self.lines(b, f"SITE CHANGE {erin_b} TAGLINE lost")[-1][:3], "200")
            self.bproc.wait_for(
                re.escape(f"Unable to update information for shared user '{erin_b}' on alias '")
                + r"\S*/homea/" + re.escape(f"' ({erin_b} kicked)."), timeout=30)
            self.eventually(lambda: self._closed(u))
        finally:
            a.send(f"SITE REMOTE CHANGE {{remoteb}} password {LINK}\r\n")
            a.reply()

    def eventually(self, check):
        self.assertTrue(eventually(check, timeout=30), check)

    def _closed(self, client):
        client.sock.settimeout(1)
        try:
            client.send("NOOP\r\n")
            while True:
                client.line()
        except socket.timeout:
            return False
        except (ConnectionError, OSError):
            return True

    def test_6_broken_user_files_leave_the_old_one(self):
        name = f"bob${A_IP}${self.pa}"
        before = self.user_file(self.b, name)
        self.assertIn("USER ", before)
        c = self.link()
        for payload, reset in ((b"no user file here\n", False), (b"USER half\nGENERAL", True)):
            m = PASV.search(c.cmd("PASV"))
            port = int(m.group(5)) * 256 + int(m.group(6))
            self.assertEqual(c.cmd(f"SITE REMOTE UPDATE bob 0 {A_IP} {self.pa}"),
                             f"150 Information for user '{name}' is defunct.")
            d = socket.create_connection((B_IP, port), timeout=10, source_address=(A_IP, 0))
            self.assertEqual(c.reply()[-1][:3], "150")
            d.sendall(payload)
            if reset:
                d.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            d.close()
            self.assertIn(c.reply()[-1][:3], ("426", "451"))
            self.assertEqual(self.user_file(self.b, name), before)
        self.assertFalse([n for n in os.listdir(self.b.path("ftp-data/users"))
                          if n.startswith(".received")])

    def test_7_a_slow_home_never_stalls_other_sessions(self):
        release = threading.Event()
        quits = []

        def site(server, conn, arg):
            words = arg.split()
            if words[0].upper() == "USERDATA":
                text = user_file(tagline="scripted").splitlines()
                return ["200- " + line for line in text] + [
                    "200 Command successful (%s)." % cipher_model.encrypt_to_hex(
                        *cipher_model.stored(b"zed", b"zedpw"))]
            verb = words[1].upper()
            if verb == "SHAREDQUIT":
                quits.append(arg)
                release.wait(30)
                return "200 Quit successful."
            return {"SHAREDLOGIN": "200 Login successful.",
                    "UPDATE": "200 User is up to date."}.get(verb, "500 no")

        type(self).peer = ScriptedServer({"SITE": site,
                                          "PASV": "227 Entering Passive Mode (127,0,0,1,0,9)"})
        self.add_alias(B_IP, self.pb, "slow", "127.0.0.1", self.peer.port, "/")
        u, r = login(B_IP, self.pb, "zed", "zedpw")
        self.assertEqual(r[-1], "230 User zed logged in.")
        b = self.admin(on_b=True)
        self.assertEqual(u.cmd("QUIT")[:3], "221")
        u.close()
        try:
            self.eventually(lambda: quits)
            # The home server has not answered SHAREDQUIT yet: the alias table stays usable.
            self.assertEqual(self.lines(b, "SITE REMOTE ALIASES")[-1], "200 Command successful.")
            # Answered before the server gave up waiting and asked again.
            self.assertEqual(len(quits), 1)
        finally:
            release.set()
        self.assertEqual(quits[0].split()[2:], [f"zed$127.0.0.1${self.peer.port}", B_IP,
                                                str(self.pb)])

    def test_8_alias_file_writes_keep_it_whole(self):
        path = "etc/remote.aliases"
        # A hand edit left the last line without its line feed.
        before = self.a.read(path).rstrip("\n")
        self.a.write(path, before)
        a = self.admin()
        self.assertEqual(a.cmd("SITE REMOTE ADDALIAS {extra} 127.0.0.9 21 u p"),
                         "200 Alias successfully added.")
        text = self.a.read(path)
        self.assertTrue(text.startswith(before + "\n"), text)
        self.assertRegex(text.splitlines()[-1], r"extra\\;127\.0\.0\.9;21;u;")
        # A change replaces the file through a new one: a reader never sees it half written.
        inode = os.stat(self.a.path(path)).st_ino
        a.send("SITE REMOTE CHANGE {extra} timeout 5\r\n")
        self.assertEqual(a.reply()[-1], "200 Done")
        self.assertNotEqual(os.stat(self.a.path(path)).st_ino, inode)
        self.assertTrue(self.a.read(path).endswith(";0;5\n"))
        self.assertEqual(a.cmd("SITE REMOTE DELALIAS extra"), "200 Alias successfully deleted.")

    def test_9_user_files_travel_under_tls(self):
        bob_b = f"bob${A_IP}${self.pa}"
        a = self.admin()
        line = f"SITE REMOTE ADDALIAS {{secureb}} {B_IP} {self.pb} link {LINK} /pub"
        self.assertEqual(a.cmd(line), "200 Alias successfully added.")
        for field, value in (("server_type", "D"), ("share_users", "1"), ("encmode", "2")):
            a.send(f"SITE REMOTE CHANGE {{secureb}} {field} {value}\r\n")
            self.assertEqual(a.reply()[-1], "200 Done")
        # Copies are compared by their times in seconds: the change must fall in a later one
        # than B's last write of its copy.
        time.sleep(1.1)
        self.assertEqual(self.lines(a, "SITE CHANGE bob TAGLINE viatls")[-1][:3], "200")
        f = self.ftp("bob", "bobpw")
        self.assertTrue(f.cwd("/secureb").startswith("250"))
        # The changed file went over an encrypted data connection (PROT E).
        self.assertIn("TAGLINE viatls", self.user_file(self.b, bob_b))
        self.assertIn("b.bin", f.nlst())
        pools = self.lines(a, "SITE REMOTE CONNECTIONS")
        self.assertTrue([l for l in pools if re.search(r"\d+S \| .*/secureb", l)], pools)
        f.quit()
        self.assertEqual(a.cmd("SITE REMOTE DELALIAS secureb"), "200 Alias successfully deleted.")


if __name__ == "__main__":
    unittest.main()
