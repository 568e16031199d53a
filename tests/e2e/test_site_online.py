"""The operator commands against a running orvex with live sessions: WHO and SWHO with an idle
session, a download and an upload; STATE of a user with a TLS and a clear session; KICK and
KILL, which end sessions through their own threads while the server goes on serving; and the
informational commands TIME, UPTIME, VERS, SEEN, RULES and WELCOME."""

import calendar
import os
import re
import socket
import ssl
import struct
import threading
import time

from site_admin_support import NO_ACCESS, SiteAdminCase
from test_site_messages import file_lines

PASV = re.compile(r"227 Entering Passive Mode \((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)\.")
DATE = r"\w{3} \w{3} \d{2} \d{2}:\d{2}:\d{2} \d{4}"
IDLE = r"IDLE for \d+m \d+s"
# Slow enough that a transfer is still running while the reports look at it.
DOWN_LIMIT, UP_LIMIT = 200000, 100000


class Transfer:
    """A download or upload on a passive data connection, moving data in a thread until stopped
    or until the server ends it."""

    def __init__(self, client, command, upload):
        m = PASV.match(client.cmd("PASV"))
        client.send(command + "\r\n")
        self.data = socket.create_connection(
            ("127.0.0.1", int(m.group(5)) * 256 + int(m.group(6))), timeout=20)
        self.opened = client.line()
        self.stop = threading.Event()
        self.moved = 0
        self.thread = threading.Thread(target=self._run, args=(upload,), daemon=True)
        self.thread.start()

    def _run(self, upload):
        try:
            while not self.stop.is_set():
                moved = self.data.send(b"u" * 16384) if upload else len(self.data.recv(65536))
                if not moved:
                    break
                self.moved += moved
        except OSError:
            pass

    def finish(self):
        """Ends the data connection at once (a reset), whatever is still buffered."""
        self.stop.set()
        self.data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        try:
            self.data.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.thread.join(20)
        self.data.close()


class SiteOnline(SiteAdminCase):
    users = {
        "op": {"flags": "1"}, "watcher": {"flags": "E"}, "kicker": {"flags": "D"},
        "plain": {"tagline": "just-looking-around-here"},  # longer than its column
        "dl": {"general": f"0 0 {DOWN_LIMIT} 0", "group": "crew", "ratio": 1,
               "credits": 100000},
        "ul": {"general": f"0 0 0 {UP_LIMIT}", "flags": "1", "tagline": "sharing"},
        "twin": {}, "kickme": {}, "w1": {}, "w2": {}, "idler": {},
    }
    groups = (("crew", "The crew", 150, 0),)

    @classmethod
    def prepare(cls):
        cls.site.make_keys()
        os.makedirs(cls.site.path("site/pub"), exist_ok=True)
        with open(cls.site.path("site/big.bin"), "wb") as f:
            f.truncate(64 << 20)

    def who(self, client):
        return self.ask(client, "SITE WHO")

    def swho_numbers(self, client):
        """Connection number by user name, from SITE SWHO (several for one user: the last)."""
        numbers = {}
        for line in self.ask(client, "SITE SWHO"):
            m = re.match(r"^200- \| (\d+) +\| (\S+) +\|", line)
            if m:
                numbers.setdefault(m.group(2), []).append(int(m.group(1)))
        return numbers

    def test_who_swho_and_state(self):
        o = self.login("op")
        p = self.login("plain")
        dl = self.login("dl")
        ul = self.login("ul")
        self.assertEqual(dl.cmd("TYPE I"), "200 Type is set to I.")
        down = Transfer(dl, "RETR big.bin", upload=False)
        up = Transfer(ul, "STOR upload.bin", upload=True)
        self.assertTrue(down.opened.startswith("150 Opening BINARY mode data connection for big.bin"))
        self.assertTrue(up.opened.startswith("150 "), up.opened)

        def rates():
            lines = self.who(o)
            rows = {line.split("|")[1].strip(): line for line in lines if line.count("|") == 5}
            found = [re.search(r"(DL|UL): \S+ +at +(\d+\.\d)K/s", rows.get(u, ""))
                     for u in ("dl", "ul")]
            if all(f and float(f.group(2)) > 0 for f in found):
                return lines, [float(f.group(2)) for f in found]
            return None

        lines, (down_rate, up_rate) = self.eventually(rates, timeout=15)
        self.assertEqual(lines[:4], [
            "200-  Users Logged Onto Orvex",
            "200- .------------------------------------------------------------------------.",
            "200- | User        Tagline           Group       Action                       |",
            "200- |-----------+-----------------+-----------+------------------------------|"])
        rows = [line for line in lines if line.count("|") == 5]
        patterns = {
            "op": rf"^200- \| op        \| none            \| users     \| {IDLE} +\|$",
            "plain": rf"^200- \| plain     \| just-looking-ar \| users     \| {IDLE} +\|$",
            "dl": r"^200- \| dl        \| none            \| crew      \| "
                  r"DL: big\.bin     at +\d+\.\dK/s \|$",
            "ul": r"^200- \| ul        \| sharing         \| users     \| "
                  r"UL: upload\.bin  at +\d+\.\dK/s \|$",
        }
        for row in rows:
            name = row.split("|")[1].strip()
            if name in patterns:
                self.assertRegex(row, patterns.pop(name))
        self.assertEqual(patterns, {})
        self.assertLess(down_rate, DOWN_LIMIT / 1024 * 2)
        self.assertLess(up_rate, UP_LIMIT / 1024 * 2)
        totals = re.match(r"^200- \| Total upload speed: +(\d+\.\d\d)K/s \| "
                          r"Total download speed: +(\d+\.\d\d)K/s \|$", lines[-5])
        self.assertAlmostEqual(float(totals.group(1)), up_rate, delta=0.051)
        self.assertAlmostEqual(float(totals.group(2)), down_rate, delta=0.051)
        self.assertEqual(lines[-3:], [
            "200- | %2u of  50 User(s) Currently Online                                     |"
            % len(rows),
            "200- `------------------------------------------------------------------------'",
            "200 Command successful."])

        swho = self.ask(o, "SITE SWHO")
        self.assertEqual(swho[:3], [
            "200- .------------------------------------------------------------------------.",
            "200- | PiD    User         IP                            Online     Idle      |",
            "200- |------+------------+------------------------------+----------+----------|"])
        duration = r"\d+m \d+s"
        local = swho[3:-4]
        for row in local:
            self.assertRegex(row, rf"^200- \| \d+ +\| \w+ +\| 127\.0\.0\.1 {{20}}\| "
                                  rf"{duration} *\| {duration} *\|$")
        self.assertTrue({"op", "plain", "dl", "ul"} <= {row.split("|")[2].strip() for row in local})
        self.assertEqual(swho[-4:], [
            "200- |------+---+---------------------------------------+----------+----------|",
            "200- `------------------------------------------------------------------------'",
            "200- ", "200 Command successful."])

        # STATE of a user with a TLS session in passive mode and a clear one in active mode.
        ctx = ssl._create_unverified_context()
        secure = self.connect()
        self.assertEqual(secure.cmd("AUTH SSL"), "234 Security data exchange complete.")
        secure.sock = ctx.wrap_socket(secure.sock)
        secure.cmd("USER twin")
        secure.send("PASS pw\r\n")
        self.assertEqual(secure.reply()[-1], "230 User twin logged in.")
        self.assertEqual(secure.cmd("PBSZ 0"), "200 Command ok.  PBSZ=0")
        self.assertEqual(secure.cmd("PROT P")[:3], "200")
        self.assertEqual(secure.cmd("CWD pub")[:3], "250")
        self.assertTrue(secure.cmd("PASV").startswith("227 "))
        clear = self.login("twin")
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        self.addCleanup(listener.close)
        port = listener.getsockname()[1]
        self.assertEqual(clear.cmd(f"PORT 127,0,0,1,{port >> 8},{port & 255}"),
                         "200 PORT command successful.")
        numbers = self.swho_numbers(o)["twin"]
        state = self.ask(o, "SITE STATE TWIN")
        self.assertEqual(state[:2], ["200-  Current State for twin", "200- " + "-" * 74])
        self.assertEqual(state[-1], "200 Command Successful.")
        sessions = [(secure, "/pub/", "Yes", "Yes", "Passive", "PASV"),
                    (clear, "/", "No", "No", "Active", f"PORT 127,0,0,1,{port >> 8},{port & 255}")]
        body = state[2:-1]
        self.assertEqual(len(body), 2 * 14)
        for (client, cwd, tls, data, mode, last), number, block in zip(
                sessions, sorted(numbers), (body[:14], body[14:])):
            stamp = r"\w{3} \w{3} \d{2} \d{4} \d{2}:\d{2}:\d{2} \S+"
            expected = [
                rf"200- Connection for UserID {number}",
                rf"200-     Current Directory\.\.\.: {re.escape(cwd)}",
                rf"200-     Client IP\.+: 127\.0\.0\.1:{client.sock.getsockname()[1]}",
                r"200-     Client Name\.+: \S*",
                rf"200-     Time Last Active\.+: {stamp}",
                r"200-     Num Listing Threads\.: 0", r"200-     Num Data Threads\.+: 0",
                rf"200-     Using SSL\.+: {tls}", rf"200-     Encrypting Data\.+: {data}",
                rf"200-     Transfer Mode \.+: {mode}", rf"200-     Login Time\.+: {stamp}",
                rf"200-     Last Command\.+: {re.escape(last)}",
                r"200-     Last Xfer Command\.\.\.: ",
                r"200-     Current Xfer Rate\.\.\.: 0 \(bytes/sec\)"]
            for line, pattern in zip(block, expected):
                self.assertRegex(line, "^" + pattern + "$")
        self.assertEqual(self.ask(o, "SITE STATE ghost"), ["501 User 'ghost' does not exist."])
        self.assertEqual(self.ask(o, "SITE STATE idler"), ["502 User 'idler' is not currently online."])
        self.assertEqual(self.ask(o, "SITE STATE"), self.help_lines("site.state"))
        self.assertEqual(self.ask(p, "SITE STATE twin"), [NO_ACCESS])
        self.assertEqual(self.ask(p, "SITE SWHO"), [NO_ACCESS])

        # KILL of the connection in the download: its client sees the end, the rest go on.
        up.finish()
        self.assertEqual(ul.reply()[-1][:4], "426 ")
        downloads = self.user_field("dl", "ALLDN")
        self.assertEqual(self.user_field("dl", "CREDITS"), str(100000 - 65536))
        target = self.swho_numbers(o)["dl"][0]
        w = self.login("watcher")
        mark = self.sysop_mark()
        self.assertEqual(self.ask(w, f"SITE KILL {target}"), [f"200 PID {target} (dl) killed."])
        self.assertTrue(self.ended(dl, timeout=10))
        down.thread.join(10)
        self.assertLess(down.moved, 64 << 20)
        down.finish()
        self.assertEqual(self.sysop_since(mark), [f"watcher: killed PID {target} (dl)"])
        self.assertEqual(self.ask(w, f"SITE KILL {target}"), [f"501 {target}: Invalid PiD."])
        for bad in ("abc", "0", "-1"):
            self.assertEqual(self.ask(w, f"SITE KILL {bad}"), [f"501 {bad}: Invalid PiD."])
        self.assertEqual(self.ask(w, "SITE KILL"), self.help_lines("site.kill"))
        self.assertEqual(self.ask(p, f"SITE KILL {target}"), [NO_ACCESS])
        self.assertEqual(p.cmd("NOOP"), "200 NOOP command successful.")
        self.login("dl")
        # An aborted download is no download: what went out is paid for, the rest comes back.
        self.assertEqual(self.user_field("dl", "ALLDN"), downloads)
        credits = int(self.user_field("dl", "CREDITS"))
        self.assertGreaterEqual(credits, 100000 - 65536)
        self.assertLessEqual(credits, 100000 - down.moved // 1024)
        self.assertEqual(len(self.swho_numbers(o)["dl"]), 1)

    def test_kick(self):
        k = self.login("kicker")
        self.assertEqual(self.ask(k, "SITE KICK"), self.help_lines("site.kick"))
        self.assertEqual(self.ask(k, "SITE KICK nobody"), ["502 nobody: No such user."])
        self.assertEqual(self.ask(k, "SITE KICK idler"), ["501 User idler is not connected."])
        # Online only on the caller's own connection.
        self.assertEqual(self.ask(k, "SITE KICK KICKER"), ["501 User kicker is not connected."])
        self.assertEqual(self.ask(k, "SITE KICK zz*"), ["200 Kicked 0 users."])
        victims = [self.login("kickme"), self.login("kickme")]
        mark = self.sysop_mark()
        self.assertEqual(self.ask(k, "SITE KICK Kickme"), ["200 Killed 2 connections."])
        for client in victims:
            self.assertTrue(self.ended(client))
        crowd = [self.login("w1"), self.login("w2"), self.login("w2")]
        self.assertEqual(self.ask(k, "SITE KICK w*"), ["200 Kicked 2 users."])
        for client in crowd:
            self.assertTrue(self.ended(client))
        self.assertEqual(self.sysop_since(mark), [
            "kicker: kicked user 'kickme'", "kicker: kicked user 'w1'", "kicker: kicked user 'w2'"])
        # A session ends before its client sees the end: the next login is alone.
        one = self.login("w1")
        self.assertEqual(self.ask(k, "SITE KICK w1"), ["200 Killed 1 connection."])
        self.assertTrue(self.ended(one))
        self.assertEqual(self.ask(self.login("plain"), "SITE KICK w1"), [NO_ACCESS])
        # The server goes on serving.
        self.assertEqual(self.login("kickme").cmd("NOOP"), "200 NOOP command successful.")

    def test_informational_commands(self):
        c = self.login("plain")
        started = time.time()
        lines = self.ask(c, "SITE TIME")
        frame = "200- +------------------------------------------------------------+"
        self.assertEqual([lines[0], lines[5], lines[6]], [frame, frame, "200 Command Successful."])
        m = re.match(rf"^200- \| Current time: ({DATE}) +\(GMT\) +\|$", lines[1])
        gmt = calendar.timegm(time.strptime(m.group(1), "%a %b %d %H:%M:%S %Y"))
        self.assertLessEqual(abs(gmt - started), 5)
        m = re.match(rf"^200- \| Local time  : ({DATE}) +\|$", lines[2])
        self.assertLessEqual(abs(time.mktime(time.strptime(m.group(1), "%a %b %d %H:%M:%S %Y"))
                                 - started), 5)
        self.assertRegex(lines[3], rf"^200- \| Logged on at: {DATE} +\|$")
        self.assertRegex(lines[4], r"^200- \| Time Online : 0m \d+s +\|$")
        self.assertEqual(len(lines[1]), len(frame))

        uptime = self.ask(c, "SITE UPTIME")
        self.assertRegex(uptime[0], r"^200- Server started: \w+, \w+ \d{2}, \d{4}, "
                                    r"\d{2}:\d{2}:\d{2} [AP]M \S+$")
        self.assertRegex(uptime[1], r"^200 Total Uptime: \d+m \d+s$")
        self.assertEqual(self.ask(c, "SITE VERS"),
                         ["200 Orvex 1.0.5_beta (1.0.8) LINUX - written by Ardwyn."])

        self.assertEqual(self.ask(c, "SITE SEEN"), self.help_lines("site.seen"))
        self.assertEqual(self.ask(c, "SITE SEEN ghost"), ["501 User 'ghost' does not exist."])
        last = int(self.site.read("ftp-data/users/plain").split("\nTIME ")[1].split()[1])
        self.assertEqual(self.ask(c, "SITE SEEN PLAIN"), [
            "200 I last saw PLAIN on " + time.strftime("%a %b %d %H:%M:%S %Y", time.localtime(last))])
        # Never logged in: 1970, not now.
        self.assertEqual(self.ask(c, "SITE SEEN idler"), [
            "200 I last saw idler on " + time.strftime("%a %b %d %H:%M:%S %Y", time.localtime(0))])

        for command, name in (("RULES", "site.rules"), ("WELCOME", "welcome.msg")):
            text = self.site.read(f"ftp-data/misc/{name}")
            self.assertEqual(self.ask(c, "SITE " + command),
                             file_lines(text) + ["200 Command Successful."])
        rules = self.site.path("ftp-data/misc/site.rules")
        os.rename(rules, rules + ".away")
        try:
            self.assertEqual(self.ask(c, "SITE RULES"), ["200 Command Successful."])
        finally:
            os.rename(rules + ".away", rules)
