"""The main server's login: passwords from the passwd file, every refusal of the login policy with
its text and its login.log line, what a login sets up, the idle and session limits, and edits of
the account files while the server runs."""

import os
import re
import socket
import threading
import time

from harness import RawClient
from orvex_support import OrvexCase, user_file

# Stored form of "0123456789abcdef" for the user alice.
ALICE_HASH = "657CCE369CC3A16DB90293B9D1D2E665"
ALICE_PASSWORD = "0123456789abcdef"
LOG_LINE = re.compile(r"^\w{3} \w{3} \d{2} \d{2}:\d{2}:\d{2} \d{4} \[(\d+) *\] (.*)$")
FAILED_DELAY = 2.5  # the server waits 3 s; allow for clock granularity


class LoginCase(OrvexCase):
    next_uid = 200

    def add_user(self, name, password="pw", gid=100, home="./site/", stored=None, **fields):
        """A passwd line and a user file; `stored` puts a hash in the line as it is."""
        uid = LoginCase.next_uid
        LoginCase.next_uid += 1
        passwd = self.site.read("etc/passwd")
        self.site.write("etc/passwd",
                        passwd + f"{name};{stored or ''};{uid};{gid};01-01-25;{home}\n")
        if stored is None and password is not None:
            self.site.set_password(name, password)
        self.site.write(f"ftp-data/users/{name}", user_file(**fields))

    def add_group(self, name, logins, gid):
        group = self.site.read("etc/group")
        self.site.write("etc/group", group + f"{name};{name};{gid};{logins}\n")

    def attempt(self, user, password="pw", client=None):
        """USER and PASS on a fresh connection: the PASS reply's lines and how long it took."""
        client = client or self.connect()
        if not hasattr(client, "greeted"):
            client.reply()
            client.greeted = True
        self.assertEqual(client.cmd(f"USER {user}"), f"331 Password required for {user}.")
        started = time.monotonic()
        client.send(f"PASS {password}\r\n")
        lines = client.reply()
        return lines, time.monotonic() - started, client

    def logged_in(self, user, password="pw"):
        lines, _, client = self.attempt(user, password)
        self.assertTrue(lines[-1].startswith("230 "), lines)
        return client

    def refused(self, user, text, password="pw", delayed=False):
        lines, took, client = self.attempt(user, password)
        self.assertEqual(lines[-1], "530 " + text)
        if delayed:
            self.assertGreaterEqual(took, FAILED_DELAY)
        else:
            self.assertLess(took, FAILED_DELAY)
        # A refused login leaves the connection logged out.
        self.assertEqual(client.cmd("NOOP"), "530 Please login with USER and PASS.")
        return lines

    def login_log(self):
        path = self.site.path("ftp-data/logs/login.log")
        if not os.path.exists(path):
            return []
        out = []
        with open(path, errors="replace") as f:
            for line in f.read().splitlines():
                m = LOG_LINE.match(line)
                self.assertIsNotNone(m, line)
                self.assertLessEqual(abs(int(m.group(1)) - time.time()), 120)
                out.append(m.group(2))
        return out

    def program_messages(self):
        return self.server.messages()


class Passwords(LoginCase):
    def setUp(self):
        super().setUp()
        self.add_user("alice", stored=ALICE_HASH)
        self.add_user("anyone", password=None, gid=99)
        self.add_user("casey", "Case5ensitive")
        self.serve()

    def test_stored_hash_from_the_passwd_line(self):
        lines, took, _ = self.attempt("alice", ALICE_PASSWORD)
        self.assertEqual(lines, ["230- Welcome to the Orvex FTP site.",
                                 "230- Type SITE HELP for the site commands.",
                                 "230 User alice logged in."])
        self.assertLess(took, FAILED_DELAY)
        # Only the first 16 typed characters count.
        self.logged_in("alice", ALICE_PASSWORD + "-and-more")
        self.refused("alice", "User alice cannot login.", ALICE_PASSWORD[:15], delayed=True)
        self.assertEqual(self.login_log(), ["alice:  (127.0.0.1): Login failure."])

    def test_passwords_are_case_sensitive_names_are_not(self):
        self.refused("casey", "User casey cannot login.", "case5ensitive", delayed=True)
        lines, _, _ = self.attempt("CASEY", "Case5ensitive")
        self.assertEqual(lines[-1], "230 User casey logged in.")  # the stored spelling

    def test_group_99_takes_any_password(self):
        self.logged_in("anyone", "whatever")
        self.logged_in("anyone", "")
        lines, _, _ = self.attempt("anyone", "x")
        self.assertEqual(lines[-1], "230 User anyone logged in.")

    def test_pass_without_argument(self):
        client = self.connect()
        client.reply()
        client.cmd("USER alice")
        started = time.monotonic()
        self.assertEqual(client.cmd("PASS"), "530 User alice cannot login.")
        self.assertGreaterEqual(time.monotonic() - started, FAILED_DELAY)

class Refusals(LoginCase):
    def setUp(self):
        super().setUp()
        self.add_user("bob")
        self.add_user("remote", ips=("10.*", "192.168.1.1"))
        self.add_user("nomask", ips=())
        self.add_user("gone", flags="6")
        self.add_user("ghost", home="./nosuch/")
        self.add_user("homeless", home="")
        # A valid user file outside the users folder.
        self.site.write("ftp-data/evil", user_file())
        self.serve()

    def test_unknown_user_waits_and_is_logged(self):
        self.refused("nobody", "User nobody cannot login.", delayed=True)
        self.assertEqual(self.login_log(), ["nobody:  (127.0.0.1): Unknown user."])

    def test_names_are_never_paths(self):
        names = ("../evil", "a/../../evil", "bob/")
        for name in names:
            self.refused(name, f"User {name} cannot login.", delayed=True)
        self.assertEqual(self.login_log(), [f"{n}:  (127.0.0.1): Unknown user." for n in names])

    def test_bad_host(self):
        # The right password from an address no mask matches: told so at once.
        self.refused("remote", '"127.0.0.1" is not valid for the account specified.')
        self.refused("nomask", '"127.0.0.1" is not valid for the account specified.')
        # A wrong one gets the plain delayed failure.
        self.refused("remote", "User remote cannot login.", password="bad", delayed=True)
        self.assertEqual(self.login_log(), ["remote:  (127.0.0.1): Bad host.",
                                            "nomask:  (127.0.0.1): Bad host.",
                                            "remote:  (127.0.0.1): Login failure."])

    def test_deleted(self):
        self.refused("gone", "You have been deleted.")
        self.assertEqual(self.login_log(), ["gone:  (127.0.0.1): Deleted."])

    def test_invalid_home_directory(self):
        lines = self.refused("ghost", "User ghost cannot login.", delayed=True)
        self.assertEqual(lines[0], "530-User ghost has an invalid home directory.")
        self.assertTrue(any(re.search(r"User ghost has an invalid home directory \(.*nosuch", m)
                            for m in self.program_messages()))
        self.assertEqual(self.login_log(), ["ghost:  (127.0.0.1): Login failure."])

    def test_an_empty_home_is_no_home(self):
        # Not the root of the host's disk.
        lines = self.refused("homeless", "User homeless cannot login.", delayed=True)
        self.assertEqual(lines[0], "530-User homeless has an invalid home directory.")
        self.assertEqual(self.login_log(), ["homeless:  (127.0.0.1): Login failure."])

    def test_retry_after_a_refusal(self):
        lines, _, client = self.attempt("bob", "wrong")
        self.assertEqual(lines[-1], "530 User bob cannot login.")
        # PASS again needs a new USER.
        self.assertEqual(client.cmd("PASS pw"), "530 Please login with USER and PASS.")
        lines, _, _ = self.attempt("bob", "pw", client=client)
        self.assertEqual(lines[-1], "230 User bob logged in.")


class Limits(LoginCase):
    def setUp(self):
        super().setUp()
        self.add_user("bob")
        self.add_user("carol")
        self.add_user("dave")
        self.add_user("exempt", flags="4")
        self.add_user("op", flags="1")
        self.add_user("single", general="0 1 0 0")
        self.add_user("pair", logins="0 2 -1 -1")
        self.add_group("crew", 2, 300)
        self.add_user("crew1", group="crew")
        self.add_user("crew2", group="CREW")
        self.add_user("crew3", group="crew")
        self.add_user("crewop", group="crew", flags="1")

    def test_site_full_with_extra_places(self):
        self.site.set_conf(max_users="1 4")
        self.serve()
        self.logged_in("bob")
        self.refused("carol", "The site is full, try again later.")
        for _ in range(2):
            self.logged_in("exempt")
            self.logged_in("op")
        self.refused("op", "The site is full, try again later.")
        self.refused("exempt", "The site is full, try again later.")
        self.assertEqual(self.login_log(), [])

    def test_missing_max_users_refuses_everybody(self):
        self.site.set_conf(max_users=None)
        self.serve()
        self.refused("op", "The site is full, try again later.")

    def test_shutdown_levels(self):
        self.site.set_conf(shutdown="1")
        self.serve()
        self.logged_in("op")
        self.refused("exempt", "The server has been shut down, try again later.")
        self.refused("bob", "The server has been shut down, try again later.")
        self.site.set_conf(shutdown="2")
        self.assertTrue(self.eventually(
            lambda: self.attempt("op")[0][-1] ==
            "530 The server has been shut down, try again later.", timeout=10))
        self.assertEqual(self.login_log(), [])

    def test_max_logins(self):
        self.serve()
        first = self.logged_in("single")
        self.refused("single", "Sorry, your account is restricted to 1 simultaneous logins.")
        self.assertTrue(first.cmd("QUIT").startswith("221"))
        self.assertTrue(self.eventually(lambda: self.attempt("single")[0][-1].startswith("230")))

    def test_logins_per_address(self):
        self.serve()
        self.logged_in("pair")
        self.logged_in("pair")
        self.refused("pair",
                     "Sorry, your max number of connections from this IP (2) has been reached.")

    def test_group_logins(self):
        self.serve()
        self.logged_in("crew1")
        self.logged_in("crew2")  # the group name is matched without regard to case
        self.refused("crew3", "Sorry, your group is restricted to 2 simultaneous logins.")
        self.logged_in("crewop")  # a siteop is not held by the group's limit
        self.logged_in("bob")

    def test_logins_at_once_never_exceed_the_limit(self):
        self.add_user("twice", general="0 2 0 0")
        self.serve()
        clients = []
        for _ in range(6):
            c = self.connect()
            c.reply()
            self.assertEqual(c.cmd("USER twice"), "331 Password required for twice.")
            clients.append(c)
        for c in clients:
            c.send("PASS pw\r\n")
        finals = [c.reply()[-1] for c in clients]
        self.assertEqual(finals.count("230 User twice logged in."), 2, finals)
        self.assertEqual(finals.count(
            "530 Sorry, your account is restricted to 2 simultaneous logins."), 4, finals)


def tz_for_local_time(hh, mm, ss):
    """A TZ value under which the local time is now hh:mm:ss, and its offset east in seconds."""
    utc = int(time.time()) % 86400
    east = (hh * 3600 + mm * 60 + ss - utc) % 86400
    if east > 12 * 3600:
        east -= 86400
    west = -east
    sign = "+" if west >= 0 else "-"
    a = abs(west)
    return f"ORV{sign}{a // 3600:02d}:{a // 60 % 60:02d}:{a % 60:02d}", east


class TimeFrame(LoginCase):
    def setUp(self):
        super().setUp()
        self.add_user("worker", timeframe="9 17")

    def serve_at(self, hh, mm, ss):
        tz, east = tz_for_local_time(hh, mm, ss)
        env = dict(os.environ, TZ=tz)
        self.serve(env=env)
        return east

    def test_one_minute_before_the_end(self):
        self.serve_at(16, 59, 40)
        self.logged_in("worker")

    def test_at_the_end_hour(self):
        east = self.serve_at(17, 0, 5)
        minutes = int(east / 60)  # whole minutes east, truncated like the server does

        def gmt(hour):
            m = (hour * 60 - minutes) % 1440
            return f"{m // 60:02d}:{m % 60:02d}"

        self.refused("worker", "You can only log in between 09:00 and 17:00 "
                     f"({gmt(9)} - {gmt(17)} GMT).")
        self.assertEqual(self.login_log(), [])


class AfterLogin(LoginCase):
    def setUp(self):
        super().setUp()
        os.makedirs(self.site.path("site/pub/incoming"))
        self.add_user("bob", start_dir="pub/incoming")
        self.add_user("lost", start_dir="no/such/dir")
        self.add_user("mailer")

    def test_welcome_and_inbox(self):
        self.site.write("ftp-data/msgs/mailer", "\nFrom: bob\nhello\n")
        self.site.write("ftp-data/misc/welcome.msg",
                        "// hidden\nFirst line\n\n//also hidden\n  indented\n")
        self.serve()
        lines, _, _ = self.attempt("mailer")
        inbox = "230- You have messages in INBOX. Type SITE MSG READ to read them."
        self.assertEqual(lines, ["230- First line", "230- ", "230-   indented", inbox,
                                 "230 User mailer logged in."])
        lines, _, _ = self.attempt("bob")
        self.assertEqual(lines, ["230- First line", "230- ", "230-   indented",
                                 "230 User bob logged in."])

    def test_start_up_directory(self):
        self.serve()
        client = self.logged_in("bob")
        self.assertEqual(client.cmd("PWD"), '257 "/pub/incoming/" is current directory.')
        self.assertEqual(client.cmd("CDUP")[:3], "250")
        self.assertEqual(client.cmd("PWD"), '257 "/pub/" is current directory.')
        client = self.logged_in("lost")
        self.assertEqual(client.cmd("PWD"), '257 "/" is current directory.')

class SessionLimits(LoginCase):
    def read_until_closed(self, client, timeout):
        """Every reply line until the server closes the connection."""
        client.sock.settimeout(timeout)
        lines = []
        try:
            while True:
                lines.append(client.line())
        except (ConnectionError, socket.timeout, OSError):
            pass
        return lines

    def test_idle_limit(self):
        self.add_user("idler", idle=3)
        self.add_user("busy", idle=0)
        self.serve()
        idle = self.logged_in("idler")
        busy = self.logged_in("busy")
        started = time.monotonic()
        lines = self.read_until_closed(idle, 15)
        took = time.monotonic() - started
        self.assertEqual(lines, ["550 Connection timed out."])
        self.assertGreaterEqual(took, 2.5)
        self.assertLess(took, 12)
        # A user without an idle limit is still there, and the registry let the other one go.
        self.assertEqual(busy.cmd("NOOP")[:3], "200")
        self.logged_in("idler").cmd("QUIT")

    def test_a_running_transfer_is_not_idle(self):
        self.add_user("loader", idle=3)
        with open(self.site.path("site/big.bin"), "wb") as f:
            f.write(os.urandom(1 << 20) * 48)
        self.serve()
        client = self.logged_in("loader")
        self.assertEqual(client.cmd("TYPE I")[:3], "200")
        reply = client.cmd("PASV")
        nums = [int(n) for n in re.search(r"\((\d+(?:,\d+){5})\)", reply).group(1).split(",")]
        data = socket.create_connection((".".join(map(str, nums[:4])), nums[4] * 256 + nums[5]),
                                        timeout=30)
        self.addCleanup(data.close)
        data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
        client.send("RETR big.bin\r\n")
        self.assertEqual(client.line()[:3], "150")
        time.sleep(8)  # the transfer is stuck on the full socket, the control line silent
        received = 0
        while True:
            chunk = data.recv(1 << 16)
            if not chunk:
                break
            received += len(chunk)
        self.assertEqual(received, 48 << 20)
        self.assertEqual(client.line()[:3], "226")
        started = time.monotonic()
        self.assertEqual(self.read_until_closed(client, 15), ["550 Connection timed out."])
        self.assertGreaterEqual(time.monotonic() - started, 2.5)

    def test_session_time_limit(self):
        self.add_user("visitor", time_line="0 0 1 0")  # one minute
        self.serve()
        client = self.logged_in("visitor")
        started = time.monotonic()
        ended = None
        # Busy all along: only the session time can end it.
        while time.monotonic() - started < 80:
            try:
                reply = client.cmd("NOOP")
            except (ConnectionError, OSError):
                ended = time.monotonic() - started
                break
            if reply == "550 Connection timed out.":
                ended = time.monotonic() - started
                break
            self.assertEqual(reply[:3], "200")
            time.sleep(2.5)
        self.assertIsNotNone(ended)
        self.assertGreaterEqual(ended, 55)
        self.assertLess(ended, 75)


class Edits(LoginCase):
    def setUp(self):
        super().setUp()
        self.add_user("bob", "first")
        self.add_group("crew", 0, 300)
        self.add_user("crew1", group="crew")
        self.add_user("crew2", group="crew")
        self.serve()

    def test_passwd_edit(self):
        self.logged_in("bob", "first")
        self.site.set_password("bob", "second")
        started = time.monotonic()
        self.logged_in("bob", "second")
        self.assertLess(time.monotonic() - started, 3.5)
        self.refused("bob", "User bob cannot login.", password="first", delayed=True)
        # A line removed by hand.
        passwd = self.site.read("etc/passwd")
        self.site.write("etc/passwd", "".join(
            line + "\n" for line in passwd.splitlines() if not line.startswith("bob;")))
        self.refused("bob", "User bob cannot login.", password="second", delayed=True)

    def test_group_edit(self):
        self.logged_in("crew1")
        self.site.write("etc/group",
                        self.site.read("etc/group").replace("crew;crew;300;0", "crew;crew;300;1"))
        started = time.monotonic()
        self.assertTrue(self.eventually(
            lambda: self.attempt("crew2")[0][-1] ==
            "530 Sorry, your group is restricted to 1 simultaneous logins.", timeout=6))
        self.assertLess(time.monotonic() - started, 6)

    def test_user_file_edit(self):
        # NOOP: the login's own rewrite of the user file is done once it is answered.
        self.assertEqual(self.logged_in("bob", "first").cmd("NOOP")[:3], "200")
        text = self.site.read("ftp-data/users/bob")
        self.site.write("ftp-data/users/bob", text.replace("FLAGS \n", "FLAGS 6\n"))
        started = time.monotonic()
        self.refused("bob", "You have been deleted.", password="first")
        self.assertLess(time.monotonic() - started, 3.5)
        self.site.write("ftp-data/users/bob", text.replace("IP *\n", "IP 10.1.1.1\n"))
        self.refused("bob", '"127.0.0.1" is not valid for the account specified.',
                     password="first")

    def test_a_login_is_counted_in_the_user_file(self):
        def counts():
            m = re.search(r"^TIME (\d+) (\d+) ", self.site.read("ftp-data/users/bob"), re.M)
            return int(m.group(1)), int(m.group(2))
        self.assertEqual(counts(), (0, 0))
        clients = []
        threads = [threading.Thread(target=lambda: clients.append(self.logged_in("bob", "first")))
                   for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(30)
        self.assertTrue(self.eventually(lambda: counts()[0] == 4, timeout=6), counts())
        self.assertLessEqual(abs(counts()[1] - time.time()), 60)
