"""Mirrors over two vantor peers: the SITE REMOTE mirror commands and the mirror file, downloads
spread by weight (also with curl's commands between PASV and RETR), the local tree as a mirror,
the fall back to the default mirror, uploads refused, SITE DIRMIRROR with an id of the mirror
table, and modification times set through aliases."""

import calendar
import ftplib
import io
import os
import re
import subprocess

from orvex_support import free_port
from remote_support import (PASSWORD, RawClient, RemoteCase, ScriptedServer, download, passive,
                            read_all)
from vantor_support import Vantor

ROW = re.compile(r"200- \| +(\d+)([* ]) \| (\S+) +\| (\d+) +\( *([\d.]+)%\) \|$")
LOCAL_DIRS = {"mir": 1, "loc": 2, "fb": 7, "dm": 0}


class Mirrors(RemoteCase):
    @classmethod
    def prepare(cls):
        cls.homes = []
        for name in ("one", "two"):
            home = os.path.join(cls.tmp, f"home-{name}")
            for d in LOCAL_DIRS:
                os.makedirs(os.path.join(home, d))
                with open(os.path.join(home, d, "which.txt"), "w") as f:
                    f.write(name)
                # As long as the local one: curl holds the download to the size SIZE gave.
                with open(os.path.join(home, d, "same.txt"), "w") as f:
                    f.write(name.ljust(5, "."))
            vantor = Vantor(["-Uu", "-Pp", f"-H{home}", "-Rlvcpstduoamnrwx", "-L0"], cls.tmp,
                            quiet=True)
            cls.peers.append(vantor)
            cls.homes.append((home, vantor.port))
        # A server whose FEAT lists no MFMT.
        cls.scripted = ScriptedServer()
        cls.peers.append(cls.scripted)
        # Directories of the site with their mirror ids, as the filesystem file keeps them.
        records = cls.site.read("fs/orvex.fs")
        for number, (d, mirror) in enumerate(LOCAL_DIRS.items(), start=2):
            os.makedirs(cls.site.path(f"site/{d}"))
            for name in ("which.txt", "same.txt"):
                with open(cls.site.path(f"site/{d}/{name}"), "w") as f:
                    f.write("local")
            records += f"{cls.site_dir(d)};{number};rwxrwxrwx;0;100;;0;{mirror}\n"
        cls.site.write("fs/orvex.fs", records)

    @classmethod
    def started(cls):
        c = cls.admin()
        for name, (_, port) in zip(("m1", "m2"), cls.homes):
            assert c.cmd(f"SITE REMOTE ADDALIAS {{{name}}} 127.0.0.1 {port} u p /") == \
                "200 Alias successfully added."
        assert c.cmd(f"SITE REMOTE ADDALIAS {{plain}} 127.0.0.1 {cls.scripted.port} u p /") == \
            "200 Alias successfully added."
        # Nothing listens there: every forward to it fails.
        assert c.cmd(f"SITE REMOTE ADDALIAS {{dead}} 127.0.0.1 {free_port()} u p /") == \
            "200 Alias successfully added."
        c.close()

    @classmethod
    def admin(cls):
        c = RawClient(cls.port, timeout=30)
        c.reply()
        c.cmd("USER orvex")
        c.send(f"PASS {PASSWORD}\r\n")
        assert c.reply()[-1] == "230 User orvex logged in."
        return c

    def mirrors(self, c):
        """SITE REMOTE MIRRORS as rows (id, default, directory, weight, percent) and the total."""
        lines = self.site_cmd(c, "SITE REMOTE MIRRORS")
        self.assertEqual(lines[-1], "200 Command successful.")
        rows = [(int(m[1]), m[2] == "*", m[3], int(m[4]), m[5])
                for m in map(ROW.match, lines) if m]
        total = int(re.search(r"\| (\d+) Total mirror entries", lines[-3]).group(1))
        return rows, total

    def fetch(self, c, name="which.txt"):
        """PASV and RETR on a raw client: what came."""
        data = passive(c)
        c.send(f"RETR {name}\r\n")
        first = c.reply()[-1]
        self.assertEqual(first[:4], "150 ", first)
        got = read_all(data).decode()
        data.close()
        self.assertEqual(c.reply()[-1][:4], "226 ")
        return got

    def test_commands(self):
        c = self.raw()
        self.assertEqual(self.mirrors(c), ([], 0))
        d = self.site_dir
        for line, reply in (
                ("ADDMIRROR 0 3 /m1", "200 Mirror successfully added."),
                ("ADDMIRROR 1 1 m2", "200 Mirror successfully added."),
                ("ADDMIRROR 1 5 /M2", "504 Alias already exists for mirrorid = 1."),
                ("ADDMIRROR x 1 /m2", "501 x: Invalid MirrorID (must be a number >= 0)."),
                ("ADDMIRROR 1 0 /m2", "502 0: Invalid Weight (must be a number > 0)."),
                ("ADDMIRROR 1 1 /nothere", "503 /nothere: Invalid Alias."),
                ("ADDMIRROR 0 1 local", "200 Mirror successfully added."),
                ("ADDMIRROR 2 1 /dead", "200 Mirror successfully added."),
                ("ADDMIRROR 0 2 /m2", "200 Mirror successfully added."),
                ("DEFMIRROR 0 /m1", "501 0: Invalid MirrorID (must be a number > 0)."),
                ("DEFMIRROR 1 /dead", "502 Invalid mirror."),
                ("DEFMIRROR 1 /m2", "200 Default mirror successfully set."),
                ("DELMIRROR 3 /m1", "502 Invalid mirror."),
                ("DELMIRROR 3 /m2", "200 Mirror successfully deleted."),
                ("DELMIRROR 3 /m2", "502 Invalid mirror."),
                ("DEFMIRROR 3 /m2", "502 Invalid mirror.")):
            self.assertEqual(c.cmd("SITE REMOTE " + line), reply, line)
        # The id went with the group's last entry.
        self.assertEqual(c.cmd("SITE DIRMIRROR 3 dm"), "501 Invalid mirror ID.")
        rows, total = self.mirrors(c)
        self.assertEqual(rows, [(1, False, "/m1/", 3, "75.0"), (1, True, "/m2/", 1, "25.0"),
                                (2, True, "LOCAL", 1, "50.0"), (2, False, "/dead/", 1, "50.0")])
        self.assertEqual(total, 2)
        self.assertEqual(self.site.read("etc/remote.mirrors"),
                         "# MirrorID;Alias;Weight;DefMirror\n#\n"
                         f"1;{d('m1')};3;0\n1;{d('m2')};1;1\n2;_LOCAL_;1;1\n2;{d('dead')};1;0\n")
        self.assertEqual(c.cmd("SITE REMOTE DEFMIRROR 1 /m1"),
                         "200 Default mirror successfully set.")
        # Too few arguments: the help file; HELP knows the new commands.
        lines = self.site_cmd(c, "SITE REMOTE ADDMIRROR 1 1")
        self.assertIn("Usage: SITE REMOTE ADDMIRROR", lines[0])
        self.assertIn("MIRRORS", "\n".join(self.site_cmd(c, "SITE REMOTE HELP")))

    def test_dirmirror_takes_ids_of_the_table(self):
        c = self.raw()
        self.assertEqual(c.cmd("SITE DIRMIRROR dm"),
                         "200 dm: Directory is using none/default mirror ID.")
        self.site.write("etc/remote.mirrors",
                        self.site.read("etc/remote.mirrors") + f"21;{self.site_dir('m2')};1\n")
        self.assertEqual(c.cmd("SITE DIRMIRROR 22 dm"), "501 Invalid mirror ID.")
        self.assertEqual(c.cmd("SITE DIRMIRROR 21 dm"),
                         "200 dm: Directory mirror ID changed to 21.")
        self.assertEqual(c.cmd("SITE DIRMIRROR dm"), "200 dm: Directory is using mirror ID 21.")
        c.cmd("CWD /dm")
        self.assertEqual(self.fetch(c), "two")

    def test_transfers(self):
        d = self.site_dir
        # Groups of their own, written by hand: the store reads the file again when it changed.
        self.site.write("etc/remote.mirrors", "# hand edit\n"
                        f"1;{d('m1')};3;1\n1;{d('m2')};1;0\n2;_LOCAL_;1;1\n2;{d('dead')};1;0\n"
                        # Weight 0 is never chosen by weight: only the fall back reaches m2.
                        f"7;{d('dead')};1;0\n7;{d('m2')};0;1\n")
        c = self.raw()
        self.assertEqual(c.cmd("CWD /mir"), "250 CWD command successful.")
        counts = {"one": 0, "two": 0}
        for _ in range(400):
            counts[self.fetch(c)] += 1
        self.assertGreater(counts["one"], 260, counts)
        self.assertLess(counts["one"], 340, counts)
        # A listing goes to the chosen mirror too, an upload to none of them.
        data = passive(c)
        c.send("NLST\r\n")
        self.assertEqual(c.reply()[-1][:4], "150 ")
        self.assertEqual(sorted(read_all(data).decode().split()), ["same.txt", "which.txt"])
        data.close()
        self.assertEqual(c.reply()[-1][:4], "226 ")
        data = passive(c)
        self.assertEqual(c.cmd("STOR new.txt"),
                         "501 Unable to upload to the specified directory.")
        data.close()
        self.assertFalse(os.path.exists(self.site.path("site/mir/new.txt")))
        for home, _ in self.homes:
            self.assertFalse(os.path.exists(os.path.join(home, "mir", "new.txt")))
        # The local tree serves: by weight, or as the default after /dead failed.
        c.cmd("CWD /loc")
        self.assertEqual({self.fetch(c) for _ in range(6)}, {"local"})
        # The weighted target fails; the default mirror serves.
        c.cmd("CWD /fb")
        self.assertEqual(self.fetch(c), "two")
        # A resumed download: REST comes between PASV and RETR and goes to the same mirror.
        f = self.ftp()
        f.cwd("/mir")
        rest = []
        f.retrbinary("RETR which.txt", rest.append, rest=1)
        self.assertIn(b"".join(rest), (b"ne", b"wo"))
        # PORT in a mirrored directory: the mirror connects to the client.
        f.set_pasv(False)
        self.assertIn(download(f, "which.txt")[1], (b"one", b"two"))
        with self.assertRaises(ftplib.error_perm) as refused:
            f.storbinary("STOR up.txt", io.BytesIO(b"x"))
        self.assertEqual(str(refused.exception),
                         "501 Unable to upload to the specified directory.")
        # curl sends TYPE I and SIZE between PASV and RETR: the connection that took the PASV
        # waits for the RETR.
        got = {self.curl(f"ftp://127.0.0.1:{self.port}/mir/same.txt") for _ in range(12)}
        self.assertLessEqual(got, {b"one..", b"two.."})

    def test_times_inside_aliases(self):
        c = self.raw()
        one = os.path.join(self.homes[0][0], "dm", "which.txt")
        for command, reply in (
                ("MFMT 20200102030405 /m1/dm/which.txt",
                 "213 Modify=20200102030405; /dm/which.txt"),
                ("MDTM 20210102030405 /m1/dm/which.txt",
                 "213 Modify=20210102030405; /dm/which.txt"),
                ("MDTM /m1/dm/which.txt", "213 20210102030405"),
                ("MFMT 20200102030405 /plain/x.txt",
                 "502 Modification times cannot be set in this directory."),
                ("MDTM 20200102030405 /plain/x.txt",
                 "502 Modification times cannot be set in this directory.")):
            self.assertEqual(c.cmd(command), reply, command)
        self.assertEqual(os.stat(one).st_mtime, calendar.timegm((2021, 1, 2, 3, 4, 5)))
        self.assertEqual(self.scripted.lines_for("MFMT"), [])
        self.assertEqual(self.scripted.lines_for("MDTM"), [])

    def curl(self, url):
        r = subprocess.run(["curl", "-sS", "--max-time", "30", "-u", f"orvex:{PASSWORD}", url],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr.decode(errors="replace"))
        return r.stdout
