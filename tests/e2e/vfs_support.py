"""One orvex per test module on a fixture site: users with ratios, credits and limits, directory
and file records, and clients (raw control connections and ftplib) logged in as them."""

import ftplib
import io
import os
import re
import shutil
import tempfile
import unittest

from harness import RawClient
from orvex_support import OrvexSite, eventually

PASSWORD = "Secret12"
STATS = ("ALLUP", "ALLDN", "WKUP", "WKDN", "DAYUP", "DAYDN", "MONTHUP", "MONTHDN")


def user_file(ratio=3, credits=0, flags="", group="users", general="0 0 0 0",
              logins="0 0 -1 -1", stats=(0, 0, 0), last_login=0):
    lines = ["USER test account", f"GENERAL {general}", "PERMISSIONS lvcpstduoamnrwx",
             f"LOGINS {logins}", "TIMEFRAME 0 0", f"FLAGS {flags}", f"RATIO {ratio}",
             f"CREDITS {credits}", "TAGLINE none", "DIR"]
    lines += [f"{key} {stats[0]} {stats[1]} {stats[2]}" for key in STATS]
    lines += [f"TIME 0 {last_login} 0 0", "NUKE 0 0 0", "SLOTS 0 0", "USET 0",
              f"GROUP {group}", "IP *"]
    return "\n".join(lines) + "\n"


class VfsCase(unittest.TestCase):
    """Subclasses fill `build(site)` with their fixtures; the server runs for the whole class."""

    conf = {}

    @classmethod
    def build(cls, site):
        pass

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvex-e2e-")
        try:
            cls.site = OrvexSite(cls.tmp)
            cls.site.set_password("orvex", PASSWORD)
            if cls.conf:
                cls.site.set_conf(**cls.conf)
            cls.build(cls.site)
            cls.start_server()
        except BaseException:
            shutil.rmtree(cls.tmp, ignore_errors=True)
            raise

    @classmethod
    def start_server(cls):
        cls.server = cls.site.start()
        cls.port = cls.server.ready()

    @classmethod
    def tearDownClass(cls):
        cls.server.kill()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    # Fixtures.
    @classmethod
    def add_user(cls, name, uid, gid=100, set_password=True, **fields):
        site = cls.site
        site.write("etc/passwd", site.read("etc/passwd") + f"{name};;{uid};{gid};01-01-25;./site/\n")
        if set_password:
            site.set_password(name, PASSWORD)
        site.write(f"ftp-data/users/{name}", user_file(**fields))

    @classmethod
    def site_dir(cls, rel=""):
        return os.path.join(cls.site.path("site"), rel)

    @classmethod
    def make(cls, rel, data=None):
        """A directory (rel ends in "/") or a file under the served site."""
        path = cls.site_dir(rel)
        os.makedirs(os.path.dirname(path) if data is not None else path, exist_ok=True)
        if data is not None:
            with open(path, "wb") as f:
                f.write(data)
        return path

    @classmethod
    def records(cls, dirs, files=None):
        """orvex.fs lines ("rel;id;mode;uid;gid;ratio;dupe;mirror") and file lists by id."""
        lines = [f"{cls.site_dir(d.split(';', 1)[0])};{d.split(';', 1)[1]}" for d in dirs]
        cls.site.write("fs/orvex.fs", "\n".join(lines) + "\n")
        for dir_id, entries in (files or {}).items():
            cls.site.write(f"fs/{dir_id}.fs", "\n".join(entries) + "\n")

    # State on disk.
    def user_field(self, name, key):
        for line in self.site.read(f"ftp-data/users/{name}").splitlines():
            words = line.split()
            if words and words[0] == key:
                return [int(w) for w in words[1:]] if key != "FLAGS" else words[1:]
        return None

    def credits(self, name):
        return self.user_field(name, "CREDITS")[0]

    def eventually(self, check, timeout=15, step=0.2):
        return eventually(check, timeout, step)

    # Clients.
    def raw(self, user="orvex"):
        client = RawClient(self.port, timeout=15)
        self.addCleanup(client.close)
        client.reply()
        self.assertEqual(client.cmd(f"USER {user}"), f"331 Password required for {user}.")
        client.send(f"PASS {PASSWORD}\r\n")
        self.assertEqual(client.reply()[-1], f"230 User {user} logged in.")
        return client

    def ftp(self, user="orvex"):
        f = ftplib.FTP()
        f.connect("127.0.0.1", self.port, timeout=20)
        f.login(user, PASSWORD)
        self.addCleanup(f.close)
        return f

    def refused(self, call, *args):
        """The reply text of an ftplib call that must fail."""
        with self.assertRaises(ftplib.Error) as ctx:
            call(*args)
        return str(ctx.exception)

    @staticmethod
    def upload(f, name, size=0, data=None, cmd="STOR"):
        return f.storbinary(f"{cmd} {name}", io.BytesIO(data if data is not None else b"u" * size))

    @staticmethod
    def download(f, name, rest=None):
        out = io.BytesIO()
        reply = f.retrbinary(f"RETR {name}", out.write, rest=rest)
        return reply, out.getvalue()

    @staticmethod
    def listing(f, path=""):
        lines = []
        f.retrlines(f"LIST {path}".strip(), lines.append)
        return {line.split()[-1]: line for line in lines}


LIST_LINE = re.compile(r"^([d-])(\S{9}) +(\d+) (\S+) +(\S+) +(\d+) ")


def owner_columns(line):
    """(type+mode, owner, group, size) of a listing line."""
    m = LIST_LINE.match(line)
    return (m.group(1) + m.group(2), m.group(4), m.group(5), int(m.group(6))) if m else None
