"""One orvex per test module for the SITE command tests: a fixture site with accounts, groups and
configuration written before the start, and helpers to talk SITE and read the site's files."""

import os
import re
import shutil
import socket
import tempfile
import time
import unittest

from harness import RawClient
from orvex_support import OrvexSite, eventually, user_file

ADMIN_PASSWORD = "Adm1nPass"
EVENT_LINE = re.compile(r"^\w{3} \w{3} \d{2} \d{2}:\d{2}:\d{2} \d{4} \[(\d+) *\] (.*)$")
NO_ACCESS = "550 You do not have access to this command."


def event_log(case, site, name):
    """The lines of an event log after the time stamp: user name and message."""
    path = site.path(f"ftp-data/logs/{name}")
    if not os.path.exists(path):
        return []
    out = []
    with open(path, errors="replace") as f:
        for line in f.read().splitlines():
            m = EVENT_LINE.match(line)
            case.assertIsNotNone(m, line)
            case.assertLessEqual(abs(int(m.group(1)) - time.time()), 300)
            out.append(m.group(2))
    return out


class SiteAdminCase(unittest.TestCase):
    """`users` maps a name to the fields of its user file (see `user_file`) plus "password" and
    "gid"; `groups` lists (name, description, id, logins); `conf` adds configuration keys."""

    users = {}
    groups = ()
    conf = {}
    next_uid = 300

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvex-e2e-")
        try:
            cls.site = OrvexSite(cls.tmp)
            cls.site.set_password("orvex", ADMIN_PASSWORD)
            for name, fields in cls.users.items():
                cls.add_user(name, **fields)
            group = cls.site.read("etc/group")
            for name, description, gid, logins in cls.groups:
                group += f"{name};{description};{gid};{logins}\n"
            cls.site.write("etc/group", group)
            # After the root path, which a "./" home is relative to.
            cls.site.set_conf(default_homedir="./site/", **cls.conf)
            cls.prepare()
            cls.server = cls.site.start()
            cls.port = cls.server.ready()
        except BaseException:
            shutil.rmtree(cls.tmp, ignore_errors=True)
            raise

    @classmethod
    def tearDownClass(cls):
        cls.server.kill()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def restart_after_sigkill(cls):
        """Kills the server at once, without any chance to write, and starts it again."""
        cls.server.kill()
        cls.server = cls.site.start()
        cls.port = cls.server.ready()

    @classmethod
    def prepare(cls):
        """Runs before the start: scripts, programs and extra files."""

    @classmethod
    def add_user(cls, name, password="pw", gid=100, home="./site/", **fields):
        uid = SiteAdminCase.next_uid
        SiteAdminCase.next_uid += 1
        passwd = cls.site.read("etc/passwd")
        cls.site.write("etc/passwd", passwd + f"{name};;{uid};{gid};01-01-25;{home}\n")
        cls.site.set_password(name, password)
        cls.site.write(f"ftp-data/users/{name}", user_file(**fields))

    # Talking to the server.

    def connect(self):
        client = RawClient(self.port, timeout=20)
        self.addCleanup(client.close)
        client.reply()
        return client

    def login(self, user="orvex", password=None):
        client = self.connect()
        self.assertEqual(client.cmd(f"USER {user}"), f"331 Password required for {user}.")
        client.send(f"PASS {password or (ADMIN_PASSWORD if user == 'orvex' else 'pw')}\r\n")
        self.assertEqual(client.reply()[-1], f"230 User {user} logged in.")
        return client

    def login_reply(self, user, password):
        """The final line of a login attempt on a fresh connection."""
        client = self.connect()
        client.cmd(f"USER {user}")
        client.send(f"PASS {password}\r\n")
        return client.reply()[-1]

    def ask(self, client, command):
        """Every line up to the first final line: script output may come first."""
        client.send(command + "\r\n")
        lines = [client.line()]
        while not (len(lines[-1]) > 3 and lines[-1][:3].isdigit() and lines[-1][3] == " "):
            lines.append(client.line())
        return lines

    def final(self, client, command):
        return self.ask(client, command)[-1]

    def help_lines(self, name):
        """What SendHelp sends for help/<name>."""
        with open(self.site.path(f"ftp-data/help/{name}")) as f:
            lines = ["200- " + line for line in f.read().splitlines()]
        return lines + ["200 Command Successful."]

    def ended(self, client, timeout=10):
        """Whether the server closes `client` within `timeout` seconds."""
        client.sock.settimeout(timeout)
        try:
            while client.sock.recv(4096):
                pass
            return True
        except socket.timeout:
            return False
        except OSError:
            return True

    def eventually(self, check, timeout=12, step=0.25):
        return eventually(check, timeout, step)

    # The site's files.

    def event_log(self, name="sysop.log"):
        return event_log(self, self.site, name)

    def sysop_mark(self):
        return len(self.event_log())

    def sysop_since(self, mark):
        return self.event_log()[mark:]

    def user_field(self, name, keyword):
        """The value of the first `keyword` line of a user file, or None."""
        for line in self.site.read(f"ftp-data/users/{name}").splitlines():
            words = line.split(" ", 1)
            if words[0] == keyword:
                return words[1] if len(words) > 1 else ""
        return None

    def user_ips(self, name):
        return [line[3:] for line in self.site.read(f"ftp-data/users/{name}").splitlines()
                if line.startswith("IP ")]

    def passwd_entry(self, name):
        """The fields of `name`'s passwd line, or None."""
        for line in self.site.read("etc/passwd").splitlines():
            fields = line.split(";")
            if not line.startswith("#") and fields[0].lower() == name.lower():
                return fields
        return None

    def group_entry(self, name):
        for line in self.site.read("etc/group").splitlines():
            fields = line.split(";")
            if not line.startswith("#") and fields[0].lower() == name.lower():
                return fields
        return None

    def access_log(self):
        logs = self.site.path("ftp-data/logs")
        text = ""
        for name in sorted(os.listdir(logs)):
            if name.endswith("_access.log"):
                with open(os.path.join(logs, name), errors="replace") as f:
                    text += f.read()
        return text
